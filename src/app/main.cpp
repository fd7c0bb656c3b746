#include <iostream>
#include <string>
#include <vector>

#include "app/commands.h"
#ifdef PELORIX_WITH_GUI
#include "gui/gui_main.h"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  pelorix::WindowStart startWindow;
#ifdef PELORIX_WITH_GUI
  startWindow = pelorix::gui::RunWindow;
#endif
  return pelorix::RunCommandLine(args, std::cout, std::cerr, startWindow);
}
