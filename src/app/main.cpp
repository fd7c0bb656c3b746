#include <iostream>
#include <string>
#include <vector>

#include "app/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return pelorix::RunCommandLine(args, std::cout, std::cerr);
}
