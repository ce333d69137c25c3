#include <iostream>

#include "apps/KorvanRun.hh"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return KORVAN::HOST::run(args, std::cout, std::cerr);
}
