#include "store/autostart.h"

#include <cstdlib>
#include <system_error>

#include "store/atomic_file.h"

namespace pelorix {
namespace fs = std::filesystem;

namespace {
// Quoting of the Exec key: inside double quotes, " ` $ and \ are escaped
// with a backslash; the value's own escaping then doubles every backslash.
std::string ExecArgument(const std::string& arg) {
  bool plain = !arg.empty() && arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`=%") == std::string::npos;
  std::string quoted;
  if (plain) {
    quoted = arg;
  } else {
    quoted = "\"";
    for (char c : arg) {
      if (c == '"' || c == '`' || c == '$' || c == '\\')
        quoted += '\\';
      quoted += c;
    }
    quoted += '"';
  }
  std::string value;
  for (char c : quoted) {
    if (c == '\\')
      value += '\\';
    value += c;
  }
  return value;
}
}  // namespace

fs::path AutostartEntryPath() {
  fs::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME");
      xdg && *xdg && fs::path(xdg).is_absolute()) {
    config = xdg;
  } else {
    const char* home = std::getenv("HOME");
    config = fs::path(home && *home ? home : ".") / ".config";
  }
  return config / "autostart" / "pelorix.desktop";
}

bool WriteAutostartEntry(const fs::path& program, std::string* error) {
  fs::path entry = AutostartEntryPath();
  std::error_code ec;
  fs::create_directories(entry.parent_path(), ec);
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Pelorix\n"
      "Exec=" +
      ExecArgument(fs::absolute(program, ec).string()) +
      " -auto\n"
      "X-GNOME-Autostart-enabled=true\n";
  return store::WriteFileAtomic(entry, text, error);
}

bool DeleteAutostartEntry(std::string* error) {
  std::error_code ec;
  fs::path entry = AutostartEntryPath();
  fs::remove(entry, ec);
  if (ec) {
    if (error)
      *error = "cannot remove " + entry.string() + ": " + ec.message();
    return false;
  }
  return true;
}

fs::path CurrentProgramPath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path("pelorix") : self;
}

}  // namespace pelorix
