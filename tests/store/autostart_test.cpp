#include "store/autostart.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "temp_folder.h"

namespace pelorix {
namespace {

using testing::ReadBytes;
using testing::TempFolder;

TEST(Autostart, DesktopEntryIsWrittenAndRemoved) {
  TempFolder config;
  ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
  const auto entry = config.path() / "autostart" / "pelorix.desktop";
  EXPECT_EQ(AutostartEntryPath(), entry);

  ASSERT_TRUE(WriteAutostartEntry("/opt/pelorix/bin/pelorix"));
  std::string text = ReadBytes(entry);
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
  EXPECT_NE(text.find("\nExec=/opt/pelorix/bin/pelorix -auto\n"), std::string::npos);
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);

  // A path with blanks is quoted; backslashes are escaped twice.
  ASSERT_TRUE(WriteAutostartEntry("/opt/my apps/pe\\lorix"));
  EXPECT_NE(ReadBytes(entry).find("\nExec=\"/opt/my apps/pe\\\\\\\\lorix\" -auto\n"),
            std::string::npos);

  ASSERT_TRUE(DeleteAutostartEntry());
  EXPECT_FALSE(std::filesystem::exists(entry));
  EXPECT_TRUE(DeleteAutostartEntry());
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace pelorix
