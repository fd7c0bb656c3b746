#pragma once
// The window front end: what `pelorix` without a command runs.

#include <filesystem>
#include <string>
#include <vector>

namespace pelorix::gui {

// Runs the program's window for a home folder until the user exits;
// args are the arguments after the options (the first may hold "auto").
// Returns the process exit status.
int RunWindow(const std::filesystem::path& home, const std::vector<std::string>& args);

}  // namespace pelorix::gui
