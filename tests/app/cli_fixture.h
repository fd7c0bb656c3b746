#pragma once
// A fresh home folder per command-line test, and a way to run commands in it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/commands.h"

namespace pelorix::test {

struct TRun {
  int status;
  std::string out, err;
};

class TCliFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorix-cli-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }
  // `pelorix --home HOME args...`
  TRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--home", home_.string()});
    std::ostringstream out, err;
    const int status = RunCommandLine(args, out, err);
    return {status, out.str(), err.str()};
  }

  std::filesystem::path home_;
};

}  // namespace pelorix::test
