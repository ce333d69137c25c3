// Taking a constraint network apart, as a plan database's purge does after a run: every
// constraint removed in turn, each asking for the relaxation of what it narrowed, then every
// variable. Measured against building and propagating the same network (the reference), in the
// same run; the ratio should not grow with the size of the network.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "BenchSupport.hh"

using namespace KORVAN;

namespace {

typedef Variable<IntervalIntDomain> IntVar;

// Start, duration and end of n activities, start + duration = end, chained by precedences as
// in a scheduling instance, the first start fixed: propagation narrows every variable.
struct Network {
  ConstraintEngine engine;
  std::vector<ConstrainedVariableId> vars;
  std::vector<ConstraintId> constraints;

  explicit Network(int n) {
    const ConstraintEngineId ce = engine.getId();
    initConstraintLibrary(ce);
    std::mt19937 rng(17);
    const double horizon = 20.0 * n;
    for (int i = 0; i < n; ++i) {
      ConstrainedVariableId start = (new IntVar(ce, IntervalIntDomain(0, horizon), false, true, "start"))->getId();
      const double d = 1 + rng() % 10;
      ConstrainedVariableId duration = (new IntVar(ce, IntervalIntDomain(d, d), false, true, "duration"))->getId();
      ConstrainedVariableId end = (new IntVar(ce, IntervalIntDomain(0, horizon), false, true, "end"))->getId();
      constraints.push_back(ce->createConstraint("addEq", {start, duration, end}));
      vars.insert(vars.end(), {start, duration, end});
    }
    for (int i = 1; i < n; ++i)
      for (int k = 0; k < 3; ++k) {
        const int before = static_cast<int>(rng() % i);
        constraints.push_back(ce->createConstraint("leq", {vars[3 * before + 2], vars[3 * i]}));
      }
    vars[0]->specify(0);
    engine.propagate();
  }

  void tearDown() {
    for (const ConstraintId& c : constraints)
      if (c.isValid())
        c->discard();
    for (const ConstrainedVariableId& v : vars)
      if (v.isValid())
        v->discard();
  }
};

void BM_BuildAndPropagate(benchmark::State& state) {
  for (auto _ : state) {
    Network* network = new Network(static_cast<int>(state.range(0)));
    state.PauseTiming();
    network->tearDown();
    delete network;
    state.ResumeTiming();
  }
}

void BM_TearDown(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    Network* network = new Network(static_cast<int>(state.range(0)));
    state.ResumeTiming();
    network->tearDown();
    delete network;
  }
}

BENCHMARK(BM_BuildAndPropagate)->Arg(100)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TearDown)->Arg(100)->Arg(500)->Arg(2000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  KORVAN::BENCH::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nTeardown against building and propagating the same network (CPU time, same run):\n");
  for (const char* n : {"100", "500", "2000"})
    reporter.ratio(std::string("teardown / build, n = ") + n, std::string("BM_TearDown/") + n,
                   std::string("BM_BuildAndPropagate/") + n);
  return 0;
}
