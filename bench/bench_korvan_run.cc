// One resource with many tokens, through the whole korvan-run path (read, propagate, one solver
// step, print, tear down): N uses of one Reusable against N events of one Reservoir, each over
// windows about 20 apart and 100 to 300 wide. The reservoir run is the reference; the ratio of
// the two, that of 10,000 events to 1,000 and, for each, the share of the run spent after the
// result line are printed at the end. The program itself runs as a child process (its CPU time is the measure); the same path
// in process (`HOST::run`, which tears its host down in full, as tests and sanitized builds do)
// shows what the teardown costs.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apps/KorvanRun.hh"
#include "bench/BenchSupport.hh"
#include "bench/LargeModel.hh"

using namespace KORVAN;

namespace {

typedef std::chrono::steady_clock Clock;

// What a model holds: reservoir events, uses of a Reusable of 10, or uses of a Reusable of 1,000
// that they never fill, on its timetable or on the default profile.
enum Kind { EVENTS, USES, ROOMY_TIMETABLE, ROOMY_DEFAULT };

// The model file for a kind and a size, written once per run.
const std::string& modelFile(Kind kind, unsigned int tokens) {
  static std::map<std::pair<Kind, unsigned int>, std::string> s_files;
  std::string& path = s_files[std::make_pair(kind, tokens)];
  if (!path.empty())
    return path;
  const bool reusable = kind != EVENTS;
  BENCH::ModelRandom rng(tokens);
  std::ostringstream os;
  os << "<vexl>\n";
  if (reusable)
    os << "  <new type=\"Reusable\" name=\"crew\"><float value=\"" << (kind == USES ? 10 : 1000)
       << "\"/><float value=\"0\"/></new>\n";
  else
    os << "  <new type=\"Reservoir\" name=\"tank\"><float value=\"0\"/><float value=\"-10000000\"/>"
       << "<float value=\"10000000\"/></new>\n";
  if (kind == ROOMY_TIMETABLE)
    os << "  <set object=\"crew\" member=\"profileType\" value=\"TimetableProfile\"/>\n";
  os << "  <close/>\n";
  for (unsigned int i = 0; i < tokens; ++i) {
    const unsigned int lb = 20 * i + rng.below(20);
    const unsigned int ub = lb + 100 + rng.below(200);
    const std::string window = "\"" + std::to_string(lb) + " " + std::to_string(ub) + "\"";
    if (reusable)
      os << "  <goal predicate=\"Reusable.uses\" name=\"u" << i << "\" object=\"crew\" start=" << window
         << " duration=\"" << 1 + rng.below(10) << "\" quantity=\"" << 1 + rng.below(3) << "\"/>\n";
    else
      os << "  <goal predicate=\"Reservoir." << (rng.below(2) == 0 ? "consume" : "produce") << "\" name=\"e" << i
         << "\" object=\"tank\" time=" << window << " quantity=\"" << 1 + rng.below(10) << "\"/>\n";
  }
  os << "</vexl>\n";
  static const char* const names[] = {"-events-", "-uses-", "-timetable-", "-roomy-"};
  path = "/tmp/korvan-bench-" + std::to_string(getpid()) + names[kind] + std::to_string(tokens) + ".xml";
  std::ofstream(path) << os.str();
  return path;
}

// Other shapes a user writes: changes of one instant-based Resource over the same windows as the
// reservoir events, and Unary uses in one wide window chained by "precedes", on each profile.
// Then a search: pairs of a change up and one down by "precedes" on a Resource of 0 to 10, whose
// envelope breaks the limits where pairs overlap, so that a schedule is fixed, one propagation
// per fix; the same pairs of Reservoir events are the reference.
// Then the shapes whose schedule is fixed token by token, where a fix must cost what it changes:
// uses of two candidate Reusables they never fill, Unary uses on two candidates, reservoir events
// on three; uses that may fill a Reusable of 10 on its timetable; events of nothing in [0 100]
// beside two that force the search to fix times; intervals chained by "leq" with an "addEq" every
// third link, and the same chain by "precedes" as its reference. Then many resources:
// reservoirs of 10 events each against one reservoir of as many events.
enum Shape { CHANGES, CHAINED_INCREMENTAL, CHAINED_FLOW, CHAINED_TIMETABLE, CHANGE_SEARCH, EVENT_SEARCH,
             FIX_REUSABLES, FIX_UNARIES, FIX_RESERVOIRS, FIX_TIMETABLE, FIX_FORCED, FIX_LEQ, FIX_PRECEDES,
             MANY_RESERVOIRS, ONE_RESERVOIR };

const std::string& shapeFile(Shape shape, unsigned int tokens) {
  static std::map<std::pair<int, unsigned int>, std::string> s_files;
  std::string& path = s_files[std::make_pair((int) shape, tokens)];
  if (!path.empty())
    return path;
  BENCH::ModelRandom rng(tokens);
  std::ostringstream os;
  os << "<vexl>\n";
  if (shape == CHANGES) {
    os << "  <new type=\"Resource\" name=\"tank\"><float value=\"0\"/><float value=\"-10000000\"/>"
       << "<float value=\"10000000\"/></new>\n  <close/>\n";
    for (unsigned int i = 0; i < tokens; ++i) {
      const unsigned int lb = 20 * i + rng.below(20);
      const unsigned int ub = lb + 100 + rng.below(200);
      os << "  <goal predicate=\"Resource.change\" name=\"c" << i << "\" object=\"tank\" time=\"" << lb << " " << ub
         << "\" quantity=\"" << (rng.below(2) == 0 ? "-" : "") << 1 + rng.below(10) << "\"/>\n";
    }
  }
  else if (shape == CHANGE_SEARCH || shape == EVENT_SEARCH) {
    const bool changes = shape == CHANGE_SEARCH;
    os << "  <new type=\"" << (changes ? "Resource" : "Reservoir") << "\" name=\"tank\"><float value=\"0\"/>"
       << "<float value=\"0\"/><float value=\"10\"/></new>\n  <close/>\n";
    const std::string predicate = changes ? "Resource.change" : "Reservoir.";
    for (unsigned int k = 0; 2 * k + 1 < tokens; ++k) {
      const unsigned int lb = 40 * k + rng.below(10), quantity = 1 + rng.below(5);
      os << "  <goal predicate=\"" << predicate << (changes ? "" : "produce") << "\" name=\"p" << k
         << "\" object=\"tank\" time=\"" << lb << " " << lb + 100 << "\" quantity=\"" << quantity << "\"/>\n"
         << "  <goal predicate=\"" << predicate << (changes ? "" : "consume") << "\" name=\"c" << k
         << "\" object=\"tank\" time=\"" << lb + 50 << " " << lb + 150 << "\" quantity=\"" << (changes ? "-" : "")
         << quantity << "\"/>\n  <constraint name=\"precedes\" scope=\"p" << k << ".time c" << k << ".time\"/>\n";
    }
  }
  else if (shape >= FIX_REUSABLES && shape <= FIX_FORCED) {
    static const char* const s_heads[] = {
        "<new type=\"Reusable\" name=\"r1\"><float value=\"1000\"/><float value=\"0\"/></new>\n"
        "  <new type=\"Reusable\" name=\"r2\"><float value=\"1000\"/><float value=\"0\"/></new>",
        "<new type=\"Unary\" name=\"r1\"/>\n  <new type=\"Unary\" name=\"r2\"/>",
        "<new type=\"Reservoir\" name=\"r1\"><float value=\"0\"/><float value=\"-10000000\"/><float value=\"10000000\"/></new>\n"
        "  <new type=\"Reservoir\" name=\"r2\"><float value=\"0\"/><float value=\"-10000000\"/><float value=\"10000000\"/></new>\n"
        "  <new type=\"Reservoir\" name=\"r3\"><float value=\"0\"/><float value=\"-10000000\"/><float value=\"10000000\"/></new>",
        "<new type=\"Reusable\" name=\"r1\"><float value=\"10\"/><float value=\"0\"/></new>\n"
        "  <set object=\"r1\" member=\"profileType\" value=\"TimetableProfile\"/>",
        "<new type=\"Reservoir\" name=\"r1\"><float value=\"0\"/><float value=\"0\"/><float value=\"10\"/></new>"};
    static const char* const s_objects[] = {"r1 r2", "r1 r2", "r1 r2 r3", "r1", "r1"};
    const int k = shape - FIX_REUSABLES;
    os << "  " << s_heads[k] << "\n  <close/>\n";
    if (shape == FIX_FORCED)
      os << "  <goal predicate=\"Reservoir.produce\" name=\"p\" object=\"r1\" time=\"0 100\" quantity=\"5\"/>\n"
         << "  <goal predicate=\"Reservoir.consume\" name=\"c\" object=\"r1\" time=\"0 100\" quantity=\"5\"/>\n";
    for (unsigned int i = 0; i < tokens; ++i) {
      const unsigned int lb = 20 * i + rng.below(20);
      const unsigned int ub = lb + 100 + rng.below(200);
      os << "  <goal name=\"t" << i << "\" object=\"" << s_objects[k] << "\" ";
      if (shape == FIX_REUSABLES || shape == FIX_TIMETABLE)
        os << "predicate=\"Reusable.uses\" start=\"" << lb << " " << ub << "\" duration=\"" << 1 + rng.below(10)
           << "\" quantity=\"" << 1 + rng.below(3) << "\"/>\n";
      else if (shape == FIX_UNARIES)
        os << "predicate=\"Unary.use\" start=\"" << lb << " " << ub << "\" duration=\"" << 1 + rng.below(10) << "\"/>\n";
      else
        os << "predicate=\"Reservoir." << (rng.below(2) == 0 ? "consume" : "produce") << "\" time=\""
           << (shape == FIX_FORCED ? 0 : lb) << " " << (shape == FIX_FORCED ? 100 : ub) << "\" quantity=\""
           << (shape == FIX_FORCED ? 0 : 1 + rng.below(10)) << "\"/>\n";
    }
  }
  else if (shape == FIX_LEQ || shape == FIX_PRECEDES) {
    os << "  <class name=\"Job\"><predicate name=\"run\" kind=\"interval\"/></class>\n  <new type=\"Job\" name=\"j\"/>\n"
       << "  <close/>\n";
    for (unsigned int i = 0; i < tokens; ++i) {
      os << "  <goal predicate=\"Job.run\" name=\"a" << i << "\" object=\"j\" start=\"0 " << 20 * tokens
         << "\" duration=\"10\"/>\n";
      if (i == 0)
        continue;
      if (shape == FIX_PRECEDES)
        os << "  <constraint name=\"precedes\" scope=\"a" << i - 1 << ".end a" << i << ".start\"/>\n";
      else if (i % 3 == 0)
        os << "  <constraint name=\"addEq\" scope=\"a" << i - 1 << ".end a" << i << ".duration a" << i << ".end\"/>\n";
      else
        os << "  <constraint name=\"leq\" scope=\"a" << i - 1 << ".end a" << i << ".start\"/>\n";
    }
  }
  else if (shape == MANY_RESERVOIRS || shape == ONE_RESERVOIR) {
    // tokens: the reservoirs of 10 events, or the events of one reservoir.
    const unsigned int reservoirs = shape == MANY_RESERVOIRS ? tokens : 1;
    const unsigned int events = shape == MANY_RESERVOIRS ? 10 : tokens;
    for (unsigned int k = 0; k < reservoirs; ++k)
      os << "  <new type=\"Reservoir\" name=\"tank" << k << "\"><float value=\"0\"/><float value=\"-10000000\"/>"
         << "<float value=\"10000000\"/></new>\n";
    os << "  <close/>\n";
    for (unsigned int k = 0; k < reservoirs; ++k)
      for (unsigned int i = 0; i < events; ++i) {
        const unsigned int lb = 20 * i + rng.below(20);
        os << "  <goal predicate=\"Reservoir." << (rng.below(2) == 0 ? "consume" : "produce") << "\" name=\"e" << k
           << "_" << i << "\" object=\"tank" << k << "\" time=\"" << lb << " " << lb + 100 + rng.below(200)
           << "\" quantity=\"" << 1 + rng.below(10) << "\"/>\n";
      }
  }
  else {
    static const char* const s_profiles[] = {"IncrementalFlowProfile", "FlowProfile", "TimetableProfile"};
    os << "  <new type=\"Unary\" name=\"press\"/>\n  <set object=\"press\" member=\"profileType\" value=\""
       << s_profiles[shape - CHAINED_INCREMENTAL] << "\"/>\n  <close/>\n";
    for (unsigned int i = 0; i < tokens; ++i)
      os << "  <goal predicate=\"Unary.use\" name=\"a" << i << "\" object=\"press\" start=\"0 100000\" duration=\"10\"/>\n";
    for (unsigned int i = 0; i + 1 < tokens; ++i)
      os << "  <constraint name=\"precedes\" scope=\"a" << i << ".end a" << i + 1 << ".start\"/>\n";
  }
  os << "</vexl>\n";
  path = "/tmp/korvan-bench-" + std::to_string(getpid()) + "-shape" + std::to_string((int) shape) + "-" +
         std::to_string(tokens) + ".xml";
  std::ofstream(path) << os.str();
  return path;
}

// Keeps the output and notes the moment the result line is written.
class ResultClock : public std::stringbuf {
public:
  Clock::time_point resultAt;
  bool seen = false;

protected:
  // Only what was written since the last flush is searched (with a margin for a line cut in
  // two): searching the whole output at every flush made the measure cost more than the run.
  int sync() override {
    if (seen)
      return 0;
    static const std::string marker = "Result: ";
    const std::size_t written = (std::size_t) (pptr() - pbase());
    const std::size_t from = m_searched > marker.size() ? m_searched - marker.size() : 0;
    if (std::search(pbase() + from, pptr(), marker.begin(), marker.end()) != pptr()) {
      seen = true;
      resultAt = Clock::now();
    }
    m_searched = written;
    return 0;
  }

private:
  std::size_t m_searched = 0;
};

void runKorvan(benchmark::State& state, Kind kind) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string& path = modelFile(kind, tokens);
  double after = 0.0, total = 0.0;
  for (auto _ : state) {
    ResultClock buffer;
    std::ostream out(&buffer);
    std::ostringstream err;
    const Clock::time_point start = Clock::now();
    const int status = HOST::run({"--max-steps", "1", path}, out, err);
    const Clock::time_point end = Clock::now();
    if (status == HOST::EXIT_BAD_INPUT || !buffer.seen) {
      state.SkipWithError(("korvan-run failed: " + err.str()).c_str());
      break;
    }
    after += std::chrono::duration<double>(end - buffer.resultAt).count();
    total += std::chrono::duration<double>(end - start).count();
  }
  state.counters["tokens"] = tokens;
  state.counters["afterResult"] = total > 0.0 ? after / total : 0.0;
}

double childCpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return (double) usage.ru_utime.tv_sec + 1e-6 * (double) usage.ru_utime.tv_usec +
         (double) usage.ru_stime.tv_sec + 1e-6 * (double) usage.ru_stime.tv_usec;
}

// The program as a user runs it; its output reaches the pipe line by line at each std::endl.
void runProgram(benchmark::State& state, Kind kind) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string command = std::string("exec ") + KORVAN_RUN + " --max-steps 1 " + modelFile(kind, tokens) +
                              " 2>/dev/null";
  double after = 0.0, total = 0.0;
  for (auto _ : state) {
    const double cpu = childCpuSeconds();
    const Clock::time_point start = Clock::now();
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) {
      state.SkipWithError("cannot start korvan-run");
      break;
    }
    char line[4096];
    bool seen = false;
    Clock::time_point resultAt = start;
    while (std::fgets(line, sizeof line, child) != nullptr)
      if (!seen && std::string(line).compare(0, 8, "Result: ") == 0) {
        seen = true;
        resultAt = Clock::now();
      }
    const int status = pclose(child);
    const Clock::time_point end = Clock::now();
    if (!seen || !WIFEXITED(status) || WEXITSTATUS(status) == HOST::EXIT_BAD_INPUT) {
      state.SkipWithError("korvan-run failed");
      break;
    }
    state.SetIterationTime(childCpuSeconds() - cpu);
    after += std::chrono::duration<double>(end - resultAt).count();
    total += std::chrono::duration<double>(end - start).count();
  }
  state.counters["tokens"] = tokens;
  state.counters["afterResult"] = total > 0.0 ? after / total : 0.0;
}

// Each shape's peak resident memory, by its size.
std::map<std::pair<int, unsigned int>, double>& peakMegabytes() {
  static std::map<std::pair<int, unsigned int>, double> s_peaks;
  return s_peaks;
}

// The machine's load average over the last minute when each shape's runs ended, by its size.
std::map<std::pair<int, unsigned int>, double>& loads() {
  static std::map<std::pair<int, unsigned int>, double> s_loads;
  return s_loads;
}

// The loads of two runs, printed beside their ratio.
void printLoads(int shape, unsigned int one, int otherShape, unsigned int other) {
  std::map<std::pair<int, unsigned int>, double>& at = loads();
  const auto first = at.find(std::make_pair(shape, one)), second = at.find(std::make_pair(otherShape, other));
  if (first != at.end() && second != at.end())
    std::printf("%-58s %4.1f / %4.1f\n", "  load average at their ends", first->second, second->second);
}

// The program on a shape, as a process of its own: its own CPU time and peak memory, not those
// of every child so far, nor the benchmark's size that a child forked from it starts with.
void runShape(benchmark::State& state, Shape shape) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string& path = shapeFile(shape, tokens);
  double peak = 0.0;
  for (auto _ : state) {
    int report[2];
    if (pipe(report) != 0) {
      state.SkipWithError("no pipe");
      break;
    }
    const pid_t child = fork();
    if (child == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      dup2(report[1], 3);
      // A search runs to its end: its propagations are the measure.
      if (shape == CHANGE_SEARCH || shape == EVENT_SEARCH)
        execl(KORVAN_PEAK_OF, KORVAN_PEAK_OF, KORVAN_RUN, path.c_str(), (char*) nullptr);
      else
        execl(KORVAN_PEAK_OF, KORVAN_PEAK_OF, KORVAN_RUN, "--max-steps", "1", path.c_str(), (char*) nullptr);
      _exit(127);
    }
    close(report[1]);
    char line[128] = {0};
    const ssize_t got = child < 0 ? -1 : read(report[0], line, sizeof line - 1);
    close(report[0]);
    int status = 0;
    long kilobytes = 0;
    double cpu = 0.0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == HOST::EXIT_BAD_INPUT || WEXITSTATUS(status) >= 127 || got <= 0 ||
        std::sscanf(line, "%ld %lf", &kilobytes, &cpu) != 2) {
      state.SkipWithError("korvan-run failed");
      break;
    }
    state.SetIterationTime(cpu);
    peak = std::max(peak, (double) kilobytes / 1024.0);
  }
  state.counters["tokens"] = shape == MANY_RESERVOIRS ? 10 * tokens : tokens;
  state.counters["peakMB"] = peak;
  peakMegabytes()[std::make_pair((int) shape, tokens)] = peak;
  double load = 0.0;
  if (getloadavg(&load, 1) == 1)
    loads()[std::make_pair((int) shape, tokens)] = load;
}

// The program's runs are timed by hand with the child's CPU time: their ratios take that.
class ProgramRatioReporter : public BENCH::RatioReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    BENCH::RatioReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred &&
          run.benchmark_name().find("manual_time") != std::string::npos)
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
};

void BM_KorvanRunReusableUses(benchmark::State& state) { runProgram(state, USES); }
void BM_KorvanRunReservoirEvents(benchmark::State& state) { runProgram(state, EVENTS); }
void BM_KorvanRunTimetableUses(benchmark::State& state) { runProgram(state, ROOMY_TIMETABLE); }
void BM_KorvanRunRoomyUses(benchmark::State& state) { runProgram(state, ROOMY_DEFAULT); }
void BM_InProcessReusableUses(benchmark::State& state) { runKorvan(state, USES); }
void BM_InProcessReservoirEvents(benchmark::State& state) { runKorvan(state, EVENTS); }

void BM_KorvanRunChanges(benchmark::State& state) { runShape(state, CHANGES); }
void BM_KorvanRunChainedUses(benchmark::State& state) { runShape(state, CHAINED_INCREMENTAL); }
void BM_KorvanRunChainedUsesFlow(benchmark::State& state) { runShape(state, CHAINED_FLOW); }
void BM_KorvanRunChainedUsesTimetable(benchmark::State& state) { runShape(state, CHAINED_TIMETABLE); }
void BM_KorvanRunChangeSearch(benchmark::State& state) { runShape(state, CHANGE_SEARCH); }
void BM_KorvanRunEventSearch(benchmark::State& state) { runShape(state, EVENT_SEARCH); }
void BM_FixCandidateReusables(benchmark::State& state) { runShape(state, FIX_REUSABLES); }
void BM_FixCandidateUnaries(benchmark::State& state) { runShape(state, FIX_UNARIES); }
void BM_FixCandidateReservoirs(benchmark::State& state) { runShape(state, FIX_RESERVOIRS); }
void BM_FixTimetableUses(benchmark::State& state) { runShape(state, FIX_TIMETABLE); }
void BM_FixForcedEvents(benchmark::State& state) { runShape(state, FIX_FORCED); }
void BM_FixLeqChain(benchmark::State& state) { runShape(state, FIX_LEQ); }
void BM_FixPrecedesChain(benchmark::State& state) { runShape(state, FIX_PRECEDES); }
void BM_KorvanRunManyReservoirs(benchmark::State& state) { runShape(state, MANY_RESERVOIRS); }
void BM_KorvanRunOneReservoir(benchmark::State& state) { runShape(state, ONE_RESERVOIR); }

BENCHMARK(BM_KorvanRunReservoirEvents)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunReusableUses)->Arg(1000)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunTimetableUses)->Arg(250)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunRoomyUses)->Arg(250)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InProcessReservoirEvents)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InProcessReusableUses)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunChanges)->Arg(10000)->Arg(100000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunChainedUses)->Arg(1000)->Arg(2000)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunChainedUsesFlow)->Arg(1000)->Arg(2000)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunChainedUsesTimetable)->Arg(1000)->Arg(2000)->UseManualTime()->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunChangeSearch)->Arg(800)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunEventSearch)->Arg(800)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
// Ten times the tokens within 15 times the CPU, three runs of each size.
#define FIX_SHAPE(name) BENCHMARK(name)->Arg(1000)->Arg(10000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond)
FIX_SHAPE(BM_FixCandidateReusables);
FIX_SHAPE(BM_FixCandidateUnaries);
FIX_SHAPE(BM_FixCandidateReservoirs);
FIX_SHAPE(BM_FixTimetableUses);
FIX_SHAPE(BM_FixForcedEvents);
FIX_SHAPE(BM_FixLeqChain);
FIX_SHAPE(BM_FixPrecedesChain);
BENCHMARK(BM_KorvanRunManyReservoirs)->Arg(3000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunOneReservoir)->Arg(30000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  ProgramRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // Ten times the events at most 15 times the cost: reading, checking and printing grow no faster
  // than n log n. Ten thousand uses at most 5 times as many events.
  reporter.ratio("korvan-run: reservoir events, 10,000 / 1,000", "BM_KorvanRunReservoirEvents/10000/manual_time",
                 "BM_KorvanRunReservoirEvents/1000/manual_time");
  reporter.ratio("in process: reservoir events, 10,000 / 1,000", "BM_InProcessReservoirEvents/10000",
                 "BM_InProcessReservoirEvents/1000");
  for (const char* size : {"1000", "10000"}) {
    reporter.ratio(std::string("korvan-run: uses of one Reusable / reservoir events, ") + size,
                   std::string("BM_KorvanRunReusableUses/") + size + "/manual_time",
                   std::string("BM_KorvanRunReservoirEvents/") + size + "/manual_time");
    reporter.ratio(std::string("in process: uses of one Reusable / reservoir events, ") + size,
                   std::string("BM_InProcessReusableUses/") + size, std::string("BM_InProcessReservoirEvents/") + size);
  }
  // Uses that never fill a Reusable: four times the uses on its timetable at most 8 times the cost,
  // and no schedule fixed where the default profile needs none.
  reporter.ratio("korvan-run: uses on a timetable, 1,000 / 250", "BM_KorvanRunTimetableUses/1000/manual_time",
                 "BM_KorvanRunTimetableUses/250/manual_time");
  reporter.ratio("korvan-run: uses on a timetable / on the default profile, 1,000",
                 "BM_KorvanRunTimetableUses/1000/manual_time", "BM_KorvanRunRoomyUses/1000/manual_time");
  // Ten times the changes at most 15 times the cost, and 10,000 changes at most twice 10,000
  // reservoir events; twice the chained uses at most 5 times the CPU and 4.5 times the memory.
  reporter.ratio("korvan-run: instant-based changes, 100,000 / 10,000", "BM_KorvanRunChanges/100000/iterations:3/manual_time",
                 "BM_KorvanRunChanges/10000/iterations:3/manual_time");
  reporter.ratio("korvan-run: instant-based changes / reservoir events, 10,000",
                 "BM_KorvanRunChanges/10000/iterations:3/manual_time", "BM_KorvanRunReservoirEvents/10000/manual_time");
  const char* const chained[] = {"BM_KorvanRunChainedUses", "BM_KorvanRunChainedUsesFlow",
                                 "BM_KorvanRunChainedUsesTimetable"};
  for (int shape = CHAINED_INCREMENTAL; shape <= CHAINED_TIMETABLE; ++shape) {
    const std::string name = chained[shape - CHAINED_INCREMENTAL];
    reporter.ratio("korvan-run: " + name + ", 2,000 / 1,000", name + "/2000/iterations:1/manual_time",
                   name + "/1000/iterations:1/manual_time");
    std::map<std::pair<int, unsigned int>, double>& peaks = peakMegabytes();
    const double once = peaks[std::make_pair(shape, 1000u)], twice = peaks[std::make_pair(shape, 2000u)];
    if (once > 0.0 && twice > 0.0)
      std::printf("%-58s %8.1fx\n", "  its peak memory, 2,000 / 1,000", twice / once);
    printLoads(shape, 2000, shape, 1000);
  }
  // A search on 800 changes, one propagation per fix, against the same search on reservoir events.
  reporter.ratio("korvan-run: search on 800 changes / on 800 reservoir events",
                 "BM_KorvanRunChangeSearch/800/iterations:1/manual_time", "BM_KorvanRunEventSearch/800/iterations:1/manual_time");
  // Shapes fixed token by token: ten times the tokens within 15 times the CPU; a chain by "leq"
  // costs what the same chain by "precedes" does. The machine's load beside each.
  const char* const fixed[] = {"BM_FixCandidateReusables", "BM_FixCandidateUnaries", "BM_FixCandidateReservoirs",
                               "BM_FixTimetableUses", "BM_FixForcedEvents", "BM_FixLeqChain", "BM_FixPrecedesChain"};
  for (const char* name : fixed) {
    const std::string shape = name;
    reporter.ratio("korvan-run: " + shape + ", 10,000 / 1,000", shape + "/10000/iterations:3/manual_time",
                   shape + "/1000/iterations:3/manual_time");
  }
  reporter.ratio("korvan-run: a chain by leq / by precedes, 10,000", "BM_FixLeqChain/10000/iterations:3/manual_time",
                 "BM_FixPrecedesChain/10000/iterations:3/manual_time");
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("%-58s %8.2f\n", "  load average (1 min) at the end", load[0]);
  // 3,000 reservoirs of 10 events at most twice one reservoir of 30,000: each token costs what it
  // touches, not the resources of its type. Mean CPU of three runs each.
  reporter.ratio("korvan-run: 3,000 reservoirs of 10 / one of 30,000 events",
                 "BM_KorvanRunManyReservoirs/3000/iterations:3/manual_time",
                 "BM_KorvanRunOneReservoir/30000/iterations:3/manual_time");
  printLoads(MANY_RESERVOIRS, 3000, ONE_RESERVOIR, 30000);
  benchmark::Shutdown();
  return 0;
}
