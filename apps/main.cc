#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <unistd.h>

#include "apps/DebugLines.hh"
#include "apps/KorvanRun.hh"

namespace {

// Before any other initialiser of the program: one that runs out of memory must end with the
// program's own line, not an abort.
struct EndOnMemoryTermination {
  EndOnMemoryTermination() { KORVAN::HOST::endOnMemoryTermination(); }
} sl_endOnMemoryTermination __attribute__((init_priority(101)));

} // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::unique_ptr<KORVAN::HOST::DebugLines> lines(new KORVAN::HOST::DebugLines(std::cerr, std::cout, std::cerr));
  // An interrupted run is where the lines are wanted most.
  lines->writeOnSignals(STDERR_FILENO);
#if defined(__SANITIZE_ADDRESS__)
  // Under the address sanitizer the host is torn down in full, so that the leak check sees it.
  return KORVAN::HOST::run(args, std::cout, std::cerr);
#else
  // Everything the run built goes with the process: tearing a large plan down took longer than
  // reading it.
  KORVAN::HOST::leaveHostToExit(true);
  const int status = KORVAN::HOST::run(args, std::cout, std::cerr);
  lines.reset();
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
#endif
}
