#include "text/home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace pelorix {
namespace {
namespace fs = std::filesystem;

class HomeFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("pelorix-home-" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(HomeFolder, OrderOfChoice) {
  ::setenv("PELORIX_HOME", "/from/env", 1);
  ::setenv("XDG_DATA_HOME", "/xdg", 1);
  EXPECT_EQ(ResolveHomeFolder(std::string("/cli")), fs::path("/cli"));
  EXPECT_EQ(ResolveHomeFolder(std::nullopt), fs::path("/from/env"));
  ::unsetenv("PELORIX_HOME");
  EXPECT_EQ(ResolveHomeFolder(std::nullopt), fs::path("/xdg/pelorix"));
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(ResolveHomeFolder(std::nullopt), fs::path("/home/u/.local/share/pelorix"));
}

TEST_F(HomeFolder, CreatedPrivate) {
  fs::path home = root_ / "a" / "pelorix";
  ASSERT_TRUE(EnsureFolder(home));
  struct stat st {};
  ASSERT_EQ(::stat(home.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(EnsureFolder(home));  // second time: already there
  std::ofstream(root_ / "file") << "x";
  std::string error;
  EXPECT_FALSE(EnsureFolder(root_ / "file" / "sub", &error));
  EXPECT_FALSE(error.empty());
}

TEST_F(HomeFolder, FindsNamesWithoutRegardToCase) {
  std::ofstream(root_ / "IPuser.DAT") << "x";
  auto found = FindFileNoCase(root_, "ipuser.dat");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->filename(), "IPuser.DAT");
  EXPECT_FALSE(FindFileNoCase(root_, "ip.dat"));
  EXPECT_FALSE(FindFileNoCase(root_ / "missing", "x"));
  // An exact match wins over a case variant.
  std::ofstream(root_ / "ipuser.dat") << "y";
  EXPECT_EQ(FindFileNoCase(root_, "ipuser.dat")->filename(), "ipuser.dat");
}

}  // namespace
}  // namespace pelorix
