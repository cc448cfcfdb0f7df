// backvault-cli: the engine without a window.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return bv::cli::RunCli(args, {std::cout, std::cerr, std::cin});
}
