// korvan-run when memory runs out at any allocation of a run: one line naming the element or the
// stage, exit status 2, and the reserve given back for the way out. Memory is refused by a
// replacement of the global allocation functions, which runs under the sanitisers where an
// address-space limit cannot: from the chosen allocation on, the heap gives only what the run
// hands back, as a full one does. A second run follows in the same process, as in a program that
// runs several: the failed one must have left nothing that stops it.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <new>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "Utils/base/IdTable.hh"
#include "apps/KorvanRun.hh"

namespace {

unsigned long sl_failAt = 0; // the allocation that finds the heap full; 0: none
unsigned long sl_made = 0;   // allocations counted since the count was started
bool sl_counting = false;
bool sl_full = false;
size_t sl_given = 0;          // bytes handed back since the heap was full
bool sl_reserveTaken = false; // an allocation of the reserve's size was made while counting
unsigned long sl_reserveAt = 0; // the allocation that took the reserve
// The size of the reserve run() takes.
const size_t sl_reserve = 4 << 20;

void* allocate(size_t size) {
  for (;;) {
    bool refused = false;
    if (sl_counting && ++sl_made == sl_failAt)
      sl_full = true;
    if (sl_full) {
      refused = size > sl_given;
      if (!refused)
        sl_given -= size;
    }
    if (!refused)
      if (void* p = std::malloc(size == 0 ? 1 : size)) {
        if (sl_counting && size == sl_reserve && !sl_reserveTaken) {
          sl_reserveTaken = true;
          sl_reserveAt = sl_made;
        }
        return p;
      }
    const std::new_handler handler = std::get_new_handler();
    if (handler == nullptr)
      throw std::bad_alloc();
    handler();
  }
}

void release(void* p) {
  if (p != nullptr && sl_full)
    sl_given += malloc_usable_size(p);
  std::free(p);
}

} // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, size_t) noexcept { release(p); }
void operator delete[](void* p, size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace {

struct Ending {
  int status;
  std::string err;
  unsigned long allocations;
  unsigned long reserveAt; // the allocation that took the reserve
  long handlesLeft;        // handles the run left registered
  int again;               // the status of a second run in the process after it; -1: none ran
  bool returned;           // the run came back from run(), not through the termination line
  bool leaked;             // a run that left no handle left memory unreachable (sanitised builds)
};

// One run of the model, in a child as the program runs (with its termination line), whose
// allocation number `failAt` (0: none) finds the heap full. A failure that leaves run() by an
// exception once the reserve is taken is an exit status of 4; the new-handler left armed, 3.
Ending runFailingAt(const std::string& model, unsigned long failAt, bool again = false) {
  const std::string errPath = model + ".err", countPath = model + ".count";
  const pid_t child = fork();
  if (child == 0) {
    const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFile < 0 || dup2(errFile, 2) < 0)
      _exit(100);
    KORVAN::HOST::endOnMemoryTermination();
    const std::new_handler before = std::get_new_handler();
    const std::vector<std::string> args{model};
    std::ostringstream out;
    const long handles = (long)KORVAN::IdTable::size();
    sl_failAt = failAt;
    sl_counting = true;
    int status = 4;
    try {
      status = KORVAN::HOST::run(args, out, std::cerr);
    } catch (const std::bad_alloc&) {
      if (!sl_reserveTaken)
        std::terminate();
    }
    sl_counting = sl_full = false;
    const long left = (long)KORVAN::IdTable::size() - handles;
    int leaks = 0;
#if defined(__SANITIZE_ADDRESS__)
    // A run that left no handle left nothing at all: what it made is unreachable if not freed.
    if (again && left == 0)
      leaks = __lsan_do_recoverable_leak_check();
#endif
    std::ostringstream out2, err2;
    const int second = again ? KORVAN::HOST::run(args, out2, err2) : -1;
    if (second > 0)
      std::cerr << "second run: " << err2.str();
    std::ofstream(countPath.c_str()) << sl_made << " " << sl_reserveAt << " " << left << " " << second << " " << leaks;
    std::cerr.flush();
    _exit(std::get_new_handler() != before ? 3 : status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::ifstream in(errPath.c_str()), count(countPath.c_str());
  std::stringstream text;
  text << in.rdbuf();
  unsigned long allocations = 0, reserveAt = 0;
  long left = 0;
  int second = -1, leaks = 0;
  const bool returned = static_cast<bool>(count >> allocations >> reserveAt >> left >> second >> leaks);
  std::remove(errPath.c_str());
  std::remove(countPath.c_str());
  return Ending{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text.str(), allocations,
                reserveAt, left, second, returned, leaks != 0};
}

} // namespace

// Across the whole run, from reading the options to writing the result: the handler frees the
// reserve at the first refusal, and what unwinds and reports lives on it. Refused before the
// reserve is taken, nothing is left to report with, and the program's termination line, which allocates
// nothing, says it.
TEST(MemoryReserve, RunsOutAnywhereAndSaysSoInOneLine) {
  const std::string path = ::testing::TempDir() + "korvan-reserve-" + std::to_string(getpid()) + ".xml";
  std::ofstream(path.c_str()) << "<vexl>\n  <new type=\"Reusable\" name=\"r\"><float value=\"1\"/><float value=\"0\"/>"
                                 "</new>\n  <close/>\n  <goal predicate=\"Reusable.uses\" name=\"a\" object=\"r\" "
                                 "start=\"0 10\" duration=\"3\" quantity=\"1\"/>\n  <goal predicate=\"Reusable.uses\" "
                                 "name=\"b\" object=\"r\" start=\"0 10\" duration=\"3\" quantity=\"1\"/>\n</vexl>\n";
  const Ending whole = runFailingAt(path, 0, true);
  ASSERT_EQ(0, whole.status) << whole.err;
  ASSERT_GT(whole.allocations, 1000ul);
  ASSERT_EQ(0, whole.again) << whole.err;
  const std::regex line("korvan-run: (" + std::regex_replace(path, std::regex("[.]"), "\\.") +
                        "(:[0-9]+: <[a-z]+>)?: )?memory ran out [a-z ]+\n");
  // A failed run leaves nothing registered (a failed start, or a teardown the reserve saw
  // through) or the whole engine, left for the exit once it was built: never part of one.
  const std::regex reading(".*:[0-9]+: <[a-z]+>: .*\n");
  std::vector<std::pair<unsigned long, Ending>> endings;
  auto check = [&](unsigned long at, bool again) {
    const Ending ending = runFailingAt(path, at, again);
    EXPECT_EQ(2, ending.status) << "allocation " << at << ": " << ending.err;
    EXPECT_TRUE(std::regex_match(ending.err, line)) << "allocation " << at << ": " << ending.err;
    // Before the reserve, only the termination line is left to say it; after it, run() returns
    // and the process goes on.
    if (at > whole.reserveAt) {
      EXPECT_TRUE(ending.returned) << "allocation " << at << ": " << ending.err;
      EXPECT_EQ(again ? 0 : -1, ending.again) << "allocation " << at << ": " << ending.err;
      EXPECT_FALSE(ending.leaked) << "allocation " << at << ": " << ending.err;
    }
    endings.emplace_back(at, ending);
  };
  // Every allocation of the first hundred (the reserve, options, the engine's start), then a
  // spread of 150 over the rest, then the last ten (the teardown); a second run after every
  // tenth of the first hundred and after the last ten (the handles left say the rest).
  // MEMORY_POINTS=from-to runs every point of a range instead, each with a second run (and,
  // sanitised, a leak check).
  unsigned long from = 0, to = 0;
  if (const char* points = std::getenv("MEMORY_POINTS"))
    std::sscanf(points, "%lu-%lu", &from, &to);
  if (to != 0) {
    for (unsigned long at = from; at <= std::min(to, whole.allocations); at++)
      check(at, true);
  } else {
    for (unsigned long at = 1; at <= whole.allocations; at += at < 100 ? 1 : whole.allocations / 150)
      check(at, at < 100 && at % 10 == 0);
    for (unsigned long at = whole.allocations - 9; at <= whole.allocations; at++)
      check(at, true);
    // Filing the goals on the resource makes and unmakes instants, and the reading's rollback
    // walks what a refusal left of them: every allocation there is tried, the span found by
    // the sampled points that name a goal (a count of allocations would move with the build).
    const std::regex goal(".*:[0-9]+: <goal>: .*\n");
    const unsigned long step = whole.allocations / 150;
    unsigned long first = 0, last = 0;
    for (const auto& entry : endings)
      if (std::regex_match(entry.second.err, goal)) {
        first = first == 0 ? entry.first : std::min(first, entry.first);
        last = std::max(last, entry.first);
      }
    ASSERT_GT(first, 0ul) << "no sampled refusal named a goal";
    first = first > step ? first - step : 1;
    last = std::min(last + step, whole.allocations);
    std::set<unsigned long> tried;
    for (const auto& entry : endings)
      tried.insert(entry.first);
    for (unsigned long at = first; at <= last; at++)
      if (tried.count(at) == 0)
        check(at, false);
  }
  long wholeEngine = 0;
  for (const auto& entry : endings)
    if (std::regex_match(entry.second.err, reading) && (wholeEngine == 0 || entry.second.handlesLeft < wholeEngine))
      wholeEngine = entry.second.handlesLeft;
  if (to == 0) {
    EXPECT_GT(wholeEngine, 0);
  }
  for (const auto& entry : endings) {
    if (entry.second.handlesLeft != 0) {
      EXPECT_GE(entry.second.handlesLeft, wholeEngine) << "allocation " << entry.first << ": " << entry.second.err;
    }
  }
  std::remove(path.c_str());
}
