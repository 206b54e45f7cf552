#include <iostream>

#include "pack/pack_cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return orvik::runPack(args, std::cout, std::cerr);
}
