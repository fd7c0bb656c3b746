#include <gtest/gtest.h>

#include <sstream>

#include "app/commands.h"
#include "pelorix_version.h"

namespace pelorix {
namespace {

struct Run {
  int status;
  std::string out, err;
};

Run Call(std::vector<std::string> argv) {
  std::ostringstream out, err;
  int status = RunCommandLine(argv, out, err);
  return {status, out.str(), err.str()};
}

TEST(CommandLine, VersionAndHelp) {
  auto r = Call({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("pelorix ") + PELORIX_VERSION + "\n");
  r = Call({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: pelorix"), std::string::npos);
}

TEST(CommandLine, UnknownOptionsAndCommandsAreUsageErrors) {
  auto r = Call({"--frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--frobnicate"), std::string::npos);
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one line
  r = Call({"frobnicate"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("frobnicate"), std::string::npos);
  r = Call({"--home"});
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace pelorix
