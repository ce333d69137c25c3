// Timetable profile built and recomputed from scratch over n transactions,
// against a plain sort-and-sweep over the same time windows computing the
// same level bounds at every distinct bound, in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "bench/BenchSupport.hh"

using namespace KORVAN;
using namespace KORVAN::MIRT;
using namespace KORVAN::BENCH;

namespace {

// n producers and consumers with windows of width 0..40 on a horizon of 2n;
// whole quantities, or a tenth more (which no sum of them holds exactly).
struct World {
  explicit World(int n, bool tenths = false) {
    ce = new ConstraintEngine();
    schema = new Schema();
    db = new PlanDatabase(ce->getId(), schema->getId());
    new ProfilePropagator(LabelStr("MIRT_Resource"), ce->getId());
    std::mt19937 rng(4242);
    for (int i = 0; i < n; ++i) {
      Window w;
      w.lb = (int) (rng() % (2 * n));
      w.ub = w.lb + (int) (rng() % 41);
      w.consumer = rng() % 2 == 0;
      w.qlb = (double) (1 + rng() % 5) + (tenths ? 0.1 : 0.0);
      w.qub = w.qlb + 2;
      windows.push_back(w);
      ConstrainedVariable* time = new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(w.lb, w.ub));
      ConstrainedVariable* quantity = new Variable<IntervalDomain>(ce->getId(), IntervalDomain(w.qlb, w.qub));
      owned.push_back(new Transaction(time->getId(), quantity->getId(), w.consumer));
    }
  }
  ~World() {
    for (Transaction* t : owned)
      delete t;
    delete db;
    delete ce;
    delete schema;
  }
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  std::vector<Transaction*> owned;
  std::vector<Window> windows;
};

void BM_TimetableFromScratch(benchmark::State& state) {
  World world((int) state.range(0));
  NoDetector detector;
  double sink = 0;
  for (auto _ : state) {
    std::unique_ptr<TimetableProfile> profile(new TimetableProfile(world.db->getId(), detector.getId(), 10, 10));
    for (Transaction* t : world.owned)
      profile->addTransaction(t->getId());
    IntervalDomain level;
    profile->getLevel(world.windows.front().lb, level);
    sink += level.getLowerBound();
  }
  benchmark::DoNotOptimize(sink);
  state.SetComplexityN(state.range(0));
}

// The profile kept; each iteration a quantity change makes the next level
// read recompute the whole profile.
void recompute(benchmark::State& state, bool inexact) {
  World world((int) state.range(0), inexact);
  NoDetector detector;
  TimetableProfile profile(world.db->getId(), detector.getId(), 10, 10);
  for (Transaction* t : world.owned)
    profile.addTransaction(t->getId());
  const ConstrainedVariableId quantity = world.owned.front()->quantity();
  double sink = 0;
  for (auto _ : state) {
    if (quantity->lastDomain().isSingleton())
      quantity->reset();
    else
      quantity->specify(quantity->lastDomain().getLowerBound());
    IntervalDomain level;
    profile.getLevel(world.windows.front().lb, level);
    sink += level.getLowerBound();
  }
  benchmark::DoNotOptimize(sink);
  state.SetComplexityN(state.range(0));
}

void BM_TimetableRecompute(benchmark::State& state) { recompute(state, false); }

// Quantities that do not sum exactly: the held transactions are added at each
// instant in their set's order.
void BM_TimetableRecomputeInexact(benchmark::State& state) { recompute(state, true); }

// The reference: sort the bounds, sweep once, carrying what may have started
// and what must have ended.
void BM_SortAndSweep(benchmark::State& state) {
  World world((int) state.range(0));
  double sink = 0;
  for (auto _ : state) {
    struct Event {
      int time;
      int kind;  // 0 start, 1 end
      const Window* w;
    };
    std::vector<Event> events;
    events.reserve(2 * world.windows.size());
    for (const Window& w : world.windows) {
      events.push_back(Event{w.lb, 0, &w});
      events.push_back(Event{w.ub, 1, &w});
    }
    std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.time < b.time; });
    double lower = 10, upper = 10;
    std::vector<std::pair<double, double>> levels;
    levels.reserve(events.size());
    for (size_t i = 0; i < events.size();) {
      const int time = events[i].time;
      for (; i < events.size() && events[i].time == time; ++i) {
        const Window& w = *events[i].w;
        if (events[i].kind == 0) {
          if (w.consumer)
            lower -= w.qub;
          else
            upper += w.qub;
        }
        else {
          if (w.consumer)
            upper -= w.qlb;
          else
            lower += w.qlb;
        }
      }
      levels.push_back(std::make_pair(lower, upper));
    }
    sink += levels.front().first;
  }
  benchmark::DoNotOptimize(sink);
  state.SetComplexityN(state.range(0));
}

}

BENCHMARK(BM_TimetableFromScratch)->Arg(256)->Arg(1000)->Arg(4096)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimetableRecompute)->Arg(256)->Arg(1000)->Arg(4096)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimetableRecomputeInexact)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SortAndSweep)->Arg(256)->Arg(1000)->Arg(4096)->Arg(10000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios of CPU time against the sort and sweep, same run:\n");
  for (const char* n : {"256", "1000", "4096", "10000"}) {
    reporter.ratio(std::string("recomputation, n = ") + n, std::string("BM_TimetableRecompute/") + n,
                   std::string("BM_SortAndSweep/") + n);
    reporter.ratio(std::string("recomputation, inexact quantities, n = ") + n,
                   std::string("BM_TimetableRecomputeInexact/") + n, std::string("BM_SortAndSweep/") + n);
    reporter.ratio(std::string("from scratch, n = ") + n, std::string("BM_TimetableFromScratch/") + n,
                   std::string("BM_SortAndSweep/") + n);
  }
  benchmark::Shutdown();
  return 0;
}
