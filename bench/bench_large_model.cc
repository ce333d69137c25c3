// Reading and propagating large models: the generated korvan-run model of
// 1,000 to 10,000 tokens (bench/LargeModel.hh) is read through "vexl-xml" into
// an engine with the resource module, then propagated once. The reference,
// in the same run, parses the same document with TinyXML into a plain list of
// its tokens and computes one sort-and-sweep envelope per resource. The
// ratios and the memory held by the read model are printed at the end.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tinyxml.h>
#include <vector>

#include "bench/BenchSupport.hh"
#include "Resource/test/ModuleTestSupport.hh"
#include "bench/LargeModel.hh"

using namespace KORVAN;

namespace {

const std::string& model(unsigned int tokens) {
  static std::map<unsigned int, std::string> s_models;
  std::string& text = s_models[tokens];
  if (text.empty())
    text = BENCH::makeLargeModel(tokens);
  return text;
}

double residentMegabytes() {
  long pages = 0, resident = 0;
  std::ifstream statm("/proc/self/statm");
  statm >> pages >> resident;
  return (double) resident * (double) sysconf(_SC_PAGESIZE) / (1024.0 * 1024.0);
}

double peakMegabytes() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (double) usage.ru_maxrss / 1024.0;
}

// One iteration: a fresh engine reads the model and propagates it. Building
// the engine and tearing it down are not timed.
void BM_ReadAndPropagate(benchmark::State& state) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string& text = model(tokens);
  double held = 0.0, read = 0.0;
  bool consistent = false;
  for (auto _ : state) {
    state.PauseTiming();
    const double before = residentMegabytes();
    std::unique_ptr<MODULETEST::ModuleWorld> world(new MODULETEST::ModuleWorld());
    std::istringstream in(text);
    state.ResumeTiming();
    world->interpreter->interpret(in, "large.xml");
    state.PauseTiming();
    read = residentMegabytes() - before;
    state.ResumeTiming();
    consistent = world->ce->propagate();
    state.PauseTiming();
    held = residentMegabytes() - before;
    world.reset();
    state.ResumeTiming();
  }
  state.counters["tokens"] = tokens;
  state.counters["consistent"] = consistent ? 1 : 0;
  state.counters["readMB"] = read;
  state.counters["heldMB"] = held;
  state.counters["peakMB"] = peakMegabytes();
}

struct PlainToken {
  std::string object;
  double lb, ub, duration, quantity;
  bool interval;
};

// The reference: the same document parsed into plain tokens, then for each
// resource one sort of its change events and one sweep that bounds the level
// (a change may have happened from the window's start, surely has by its end).
void BM_PlainReference(benchmark::State& state) {
  const unsigned int tokens = (unsigned int) state.range(0);
  const std::string& text = model(tokens);
  double checksum = 0.0;
  for (auto _ : state) {
    TiXmlDocument doc;
    doc.Parse(text.c_str());
    std::vector<PlainToken> plain;
    for (const TiXmlElement* e = doc.RootElement()->FirstChildElement(); e != nullptr;
         e = e->NextSiblingElement()) {
      if (std::string(e->Value()) != "goal")
        continue;
      PlainToken t;
      const std::string predicate = e->Attribute("predicate");
      t.object = e->Attribute("object");
      t.interval = e->Attribute("start") != nullptr;
      std::istringstream window(t.interval ? e->Attribute("start") : e->Attribute("time"));
      window >> t.lb >> t.ub;
      t.duration = t.interval ? std::atof(e->Attribute("duration")) : 0.0;
      const char* quantity = e->Attribute("quantity");
      t.quantity = quantity == nullptr ? 1.0 : std::atof(quantity);
      if (predicate == "Reservoir.consume")
        t.quantity = -t.quantity;
      plain.push_back(t);
    }
    // (time, lower-level change, upper-level change) per resource.
    std::map<std::string, std::vector<std::pair<double, std::pair<double, double>>>> events;
    for (const PlainToken& t : plain) {
      std::vector<std::pair<double, std::pair<double, double>>>& ev = events[t.object];
      if (t.interval) {
        ev.push_back({t.lb, {-t.quantity, 0.0}});
        ev.push_back({t.ub, {0.0, -t.quantity}});
        ev.push_back({t.lb + t.duration, {0.0, t.quantity}});
        ev.push_back({t.ub + t.duration, {t.quantity, 0.0}});
      }
      else if (t.quantity < 0) {
        ev.push_back({t.lb, {t.quantity, 0.0}});
        ev.push_back({t.ub, {0.0, t.quantity}});
      }
      else {
        ev.push_back({t.lb, {0.0, t.quantity}});
        ev.push_back({t.ub, {t.quantity, 0.0}});
      }
    }
    for (auto& entry : events) {
      std::sort(entry.second.begin(), entry.second.end());
      double lower = 0.0, upper = 0.0;
      for (const auto& e : entry.second) {
        lower += e.second.first;
        upper += e.second.second;
        checksum += upper - lower;
      }
    }
    benchmark::DoNotOptimize(checksum);
  }
  state.counters["tokens"] = tokens;
}

} // namespace

BENCHMARK(BM_PlainReference)->Arg(1000)->Arg(2500)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadAndPropagate)->Arg(1000)->Arg(2500)->Arg(5000)->Arg(10000)->Iterations(1)
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  KORVAN::BENCH::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios of CPU time (read and propagate against the plain reference, same run):\n");
  for (const char* n : {"1000", "2500", "5000", "10000"})
    reporter.ratio(std::string("read and propagate, tokens = ") + n,
                   std::string("BM_ReadAndPropagate/") + n + "/iterations:1",
                   std::string("BM_PlainReference/") + n);
  benchmark::Shutdown();
  return 0;
}
