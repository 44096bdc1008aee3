// SPDX-License-Identifier: MIT
#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return kalivor::runCli(args, std::cout, std::cerr);
}
