#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "apps/KorvanRun.hh"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
#if defined(__SANITIZE_ADDRESS__)
  // Under the address sanitizer the host is torn down in full, so that the leak check sees it.
  return KORVAN::HOST::run(args, std::cout, std::cerr);
#else
  // Everything the run built goes with the process: tearing a large plan down took longer than
  // reading it.
  KORVAN::HOST::leaveHostToExit(true);
  const int status = KORVAN::HOST::run(args, std::cout, std::cerr);
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
#endif
}
