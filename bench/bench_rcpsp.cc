// Solving public j30 scheduling instances end to end: the plan read through
// the "vexl-xml" interpreter with one reusable resource per renewable
// resource, then the host solver with the module's threat components,
// under each flow profile kind. Counters: solver steps, the makespan of the
// earliest-start schedule found, and the instance's known optimum.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "Resource/test/RcpspPlan.hh"
#include "Utils/base/Error.hh"

using namespace KORVAN;
using namespace KORVAN::RCPSP;

namespace {

const char* const INSTANCES[] = {"j301_1.sm", "j301_2.sm", "j301_3.sm", "j304_4.sm", "j3020_3.sm", "j3036_4.sm",
                                 "j3017_1.sm", "j3010_4.sm"};
const char* const PROFILES[] = {"FlowProfile", "IncrementalFlowProfile"};
const unsigned int MAX_STEPS = 2000;

std::string j30(const std::string& name) { return dataRoot() + "/psplib/j30/" + name; }

void BM_RcpspSolve(benchmark::State& state) {
  const std::string instance = INSTANCES[state.range(0)];
  const std::string profile = PROFILES[state.range(1)];
  state.SetLabel(instance + " " + profile);
  if (!fileExists(j30(instance)) || !fileExists(j30("optimum.csv"))) {
    state.SkipWithError(("no j30 data under " + dataRoot()).c_str());
    return;
  }
  const Problem problem = readSm(j30(instance));
  const int optimum = std::stoi(readOptima(j30("optimum.csv")).at(instance));
  const std::string configuration = Plan::solverConfiguration(MAX_STEPS);
  bool solved = false;
  int length = 0;
  unsigned int steps = 0;
  std::string fault;
  for (auto _ : state) {
    Plan plan(problem, profile);
    solved = plan.solve(configuration);
    steps = plan.solver().getStepCount();
    state.PauseTiming();
    if (solved && plan.propagate()) {
      const std::vector<int> starts = plan.earliestStarts();
      fault = checkSchedule(problem, starts);
      length = makespan(problem, starts);
    }
    state.ResumeTiming();
  }
  if (!solved || !fault.empty() || length < optimum) {
    state.SkipWithError(("not solved or wrong: " + fault).c_str());
    return;
  }
  state.counters["steps"] = steps;
  state.counters["makespan"] = length;
  state.counters["optimum"] = optimum;
}

void instanceArgs(benchmark::internal::Benchmark* b) {
  for (int i = 0; i < static_cast<int>(sizeof(INSTANCES) / sizeof(INSTANCES[0])); ++i)
    for (int p = 0; p < 2; ++p)
      b->Args({i, p});
}

}

BENCHMARK(BM_RcpspSolve)->Apply(instanceArgs)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
