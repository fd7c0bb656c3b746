#include "gui/gui_main.h"

#include <iostream>

namespace pelorix::gui {

// Placeholder until the main window lands.
int RunWindow(const std::filesystem::path&, const std::vector<std::string>&) {
  std::cerr << "pelorix: the window is not available in this build; see pelorix --help\n";
  return 1;
}

}  // namespace pelorix::gui
