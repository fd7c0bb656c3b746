#include "app/args.h"

#include <gtest/gtest.h>

namespace pelorix {
namespace {

TEST(ArgParser, OptionsSwitchesAndPositionals) {
  std::optional<std::string> account;
  bool yes = false;
  std::vector<std::string> rest;
  ArgParser({"--account", "u[h]", "--yes", "a", "--", "--b"})
      .Option("--account", &account)
      .Switch("--yes", &yes)
      .Positionals(&rest, 0, -1)
      .Parse();
  EXPECT_EQ(account, "u[h]");
  EXPECT_TRUE(yes);
  EXPECT_EQ(rest, (std::vector<std::string>{"a", "--b"}));

  std::optional<std::string> eq;
  ArgParser({"--account=x"}).Option("--account", &eq).Parse();
  EXPECT_EQ(eq, "x");
}

TEST(ArgParser, UnknownOrSurplusArgumentsNameTheCulprit) {
  bool yes = false;
  try {
    ArgParser({"--nope"}).Switch("--yes", &yes).Parse();
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--nope"), std::string::npos);
  }
  try {
    ArgParser({"extra"}).Parse();
    FAIL();
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("extra"), std::string::npos);
  }
  std::optional<std::string> v;
  EXPECT_THROW(ArgParser({"--account"}).Option("--account", &v).Parse(), UsageError);
  std::vector<std::string> p;
  EXPECT_THROW(ArgParser({}).Positionals(&p, 1, 1).Parse(), UsageError);
  EXPECT_THROW(ArgParser({"a", "b"}).Positionals(&p, 1, 1).Parse(), UsageError);
}

}  // namespace
}  // namespace pelorix
