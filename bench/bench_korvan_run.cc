// One resource with many tokens, through the whole korvan-run path (read, propagate, one solver
// step, print, tear down): N uses of one Reusable against N events of one Reservoir, each over
// windows about 20 apart and 100 to 300 wide. The reservoir run is the reference; the ratio of
// the two and, for each, the share of the run spent after the result line (the plan's teardown)
// are printed at the end.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <unistd.h>

#include "apps/KorvanRun.hh"
#include "bench/BenchSupport.hh"
#include "bench/LargeModel.hh"

using namespace KORVAN;

namespace {

typedef std::chrono::steady_clock Clock;

// The model file for a kind and a size, written once per run.
const std::string& modelFile(bool reusable, unsigned int tokens) {
  static std::map<std::pair<bool, unsigned int>, std::string> s_files;
  std::string& path = s_files[std::make_pair(reusable, tokens)];
  if (!path.empty())
    return path;
  BENCH::ModelRandom rng(tokens);
  std::ostringstream os;
  os << "<vexl>\n";
  if (reusable)
    os << "  <new type=\"Reusable\" name=\"crew\"><float value=\"10\"/><float value=\"0\"/></new>\n";
  else
    os << "  <new type=\"Reservoir\" name=\"tank\"><float value=\"0\"/><float value=\"-10000000\"/>"
       << "<float value=\"10000000\"/></new>\n";
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
  path = "/tmp/korvan-bench-" + std::to_string(getpid()) + (reusable ? "-uses-" : "-events-") +
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
  int sync() override {
    if (!seen && str().find("Result: ") != std::string::npos) {
      seen = true;
      resultAt = Clock::now();
    }
    return 0;
  }
};

void runKorvan(benchmark::State& state, bool reusable) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string& path = modelFile(reusable, tokens);
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

void BM_KorvanRunReusableUses(benchmark::State& state) { runKorvan(state, true); }
void BM_KorvanRunReservoirEvents(benchmark::State& state) { runKorvan(state, false); }

BENCHMARK(BM_KorvanRunReservoirEvents)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KorvanRunReusableUses)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  BENCH::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* size : {"1000", "10000"})
    reporter.ratio(std::string("uses of one Reusable / reservoir events, ") + size,
                   std::string("BM_KorvanRunReusableUses/") + size,
                   std::string("BM_KorvanRunReservoirEvents/") + size);
  benchmark::Shutdown();
  return 0;
}
