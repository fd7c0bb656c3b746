#pragma once
// Start at log-on: the desktop entry that a freedesktop session starts,
// $XDG_CONFIG_HOME/autostart/pelorix.desktop (~/.config when unset).

#include <filesystem>
#include <string>

namespace pelorix {

std::filesystem::path AutostartEntryPath();
// Exec=<program> -auto, the program's path quoted when it needs to be.
bool WriteAutostartEntry(const std::filesystem::path& program, std::string* error = nullptr);
// Removing an entry that is not there succeeds.
bool DeleteAutostartEntry(std::string* error = nullptr);
// The running program's full path.
std::filesystem::path CurrentProgramPath();

}  // namespace pelorix
