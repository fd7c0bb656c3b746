#include "home.h"

#include <sys/stat.h>

#include <cstdlib>
#include <system_error>

#include "text/asciiutil.h"

namespace pelorix {
namespace fs = std::filesystem;

fs::path ResolveHomeFolder(const std::optional<std::string>& commandLineHome) {
  if (commandLineHome && !commandLineHome->empty())
    return fs::path(*commandLineHome);
  if (const char* env = std::getenv("PELORIX_HOME"); env && *env)
    return fs::path(env);
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return fs::path(xdg) / "pelorix";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".local" / "share" / "pelorix";
}

bool EnsureFolder(const fs::path& folder, std::string* error) {
  std::error_code ec;
  if (fs::is_directory(folder, ec))
    return true;
  // Parents may be shared folders; only the folder itself is made private.
  if (folder.has_parent_path())
    fs::create_directories(folder.parent_path(), ec);
  if (::mkdir(folder.c_str(), 0700) != 0 && !fs::is_directory(folder, ec)) {
    if (error)
      *error = "cannot create folder " + folder.string();
    return false;
  }
  return true;
}

std::optional<fs::path> FindFileNoCase(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec))
    return folder / name;
  fs::directory_iterator it(folder, ec);
  if (ec)
    return std::nullopt;
  for (const auto& entry : it) {
    if (ascii::EqualNoCase(entry.path().filename().string(), name))
      return entry.path();
  }
  return std::nullopt;
}

}  // namespace pelorix
