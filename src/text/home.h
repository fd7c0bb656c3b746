#pragma once
// The home folder: where the program keeps everything that lived beside the
// executable on the original platform (registry.db, tmp/, modal/, setting/).

#include <filesystem>
#include <optional>
#include <string>

namespace pelorix {

// --home DIR, else $PELORIX_HOME, else $XDG_DATA_HOME/pelorix, else
// ~/.local/share/pelorix. Does not create anything.
std::filesystem::path ResolveHomeFolder(const std::optional<std::string>& commandLineHome);

// Creates the folder (and its parents) with mode 0700 when missing.
// Returns false with a message when it cannot be created.
bool EnsureFolder(const std::filesystem::path& folder, std::string* error = nullptr);

// Finds `name` inside `folder` comparing ASCII letters without regard to
// case; an exact match wins. Returns nothing when absent.
std::optional<std::filesystem::path> FindFileNoCase(const std::filesystem::path& folder,
                                                    const std::string& name);

}  // namespace pelorix
