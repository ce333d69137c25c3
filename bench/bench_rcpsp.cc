// Solving public scheduling instances end to end: the plan read through the
// "vexl-xml" interpreter with one reusable resource per renewable resource,
// then the host solver with the module's threat components, under each flow
// profile kind. Counters: solver steps, the makespan of the earliest-start
// schedule found, and the instance's known optimum.
//
// BM_StepMedian times every solver step on a sample of each of j30, j60, j90
// and j120; the ratios of the larger sets' medians to j30's are printed at
// the end. BM_StepMedianGenerated does the same on generated instances of 30
// and 120 activities. With KORVAN_BENCH_SWEEP=1, BM_Sweep also solves 30
// instances drawn from each of j60, j90 and j120 with 10 s of CPU time each,
// counting the solved ones (about an hour).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
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

std::string psplib(const std::string& set, const std::string& name) {
  return dataRoot() + "/psplib/" + set + "/" + name;
}

void BM_RcpspSolve(benchmark::State& state) {
  const std::string instance = INSTANCES[state.range(0)];
  const std::string profile = PROFILES[state.range(1)];
  state.SetLabel(instance + " " + profile);
  if (!fileExists(psplib("j30", instance)) || !fileExists(psplib("j30", "optimum.csv"))) {
    state.SkipWithError(("no j30 data under " + dataRoot()).c_str());
    return;
  }
  const Problem problem = readSm(psplib("j30", instance));
  const int optimum = std::stoi(readOptima(psplib("j30", "optimum.csv")).at(instance));
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

const char* const SETS[] = {"j30", "j60", "j90", "j120"};

int groups(const std::string& set) { return set == "j120" ? 60 : 48; }

// The first instance present of 16 parameter groups spread over the set (the
// shared j90 and j120 sets lack a few).
std::vector<std::string> sample(const std::string& set) {
  std::vector<std::string> names;
  for (int i = 0; i < 16; ++i)
    for (int k = 1; k <= 10; ++k) {
      const std::string name = set + std::to_string(1 + i * groups(set) / 16) + "_" + std::to_string(k) + ".sm";
      if (fileExists(psplib(set, name))) {
        names.push_back(name);
        break;
      }
    }
  return names;
}

// Solves an instance step by step within a cap of CPU time; the schedule is
// checked outside the module. Prints one line per instance.
struct Outcome {
  bool solved = false;
  unsigned int steps = 0;
  int makespan = 0;
  std::vector<double> stepSeconds;
};

Outcome solveCapped(const std::string& set, const std::string& name, const std::string& profile, double seconds,
                    unsigned int maxSteps) {
  Outcome out;
  const Problem problem = readSm(psplib(set, name));
  Plan plan(problem, profile);
  try {
    out.solved = plan.solveTimed(Plan::solverConfiguration(maxSteps), seconds, out.stepSeconds);
  } catch (const Error&) {
    out.solved = false;
  }
  out.steps = plan.solver().getStepCount();
  if (out.solved && plan.propagate()) {
    const std::vector<int> starts = plan.earliestStarts();
    if (!checkSchedule(problem, starts).empty())
      out.solved = false;
    out.makespan = makespan(problem, starts);
  }
  std::printf("  %-12s %-24s %s steps %u makespan %d\n", name.c_str(), profile.c_str(),
              out.solved ? "solved " : "unsolved", out.steps, out.makespan);
  return out;
}

double median(std::vector<double> v) {
  if (v.empty())
    return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::map<std::string, double>& medians() {
  static std::map<std::string, double> m;
  return m;
}

// Median time of one solver step over the sample's first steps (20 at most
// per instance, and no more than 10 s of them), in milliseconds.
void BM_StepMedian(benchmark::State& state) {
  const std::string set = SETS[state.range(0)];
  const std::string profile = PROFILES[state.range(1)];
  state.SetLabel(set + " " + profile);
  if (sample(set).empty()) {
    state.SkipWithError(("no " + set + " data under " + dataRoot()).c_str());
    return;
  }
  std::vector<double> steps;
  unsigned int stepCount = 0;
  for (auto _ : state) {
    steps.clear();
    stepCount = 0;
    for (const std::string& name : sample(set)) {
      const Outcome out = solveCapped(set, name, profile, 10.0, 20);
      steps.insert(steps.end(), out.stepSeconds.begin(), out.stepSeconds.end());
      stepCount += out.steps;
    }
  }
  const double m = 1000.0 * median(steps);
  medians()[set + " " + profile] = m;
  state.counters["medianStepMs"] = m;
  state.counters["steps"] = stepCount;
}

// How many instances drawn at random (seeded, the same draw in every run) from
// a set are solved within 10 s of CPU each, and the median CPU time to the
// first schedule over all of them (an unsolved instance counts as 10 s).
void BM_Sweep(benchmark::State& state) {
  const std::string set = SETS[state.range(0)];
  const std::string profile = PROFILES[state.range(1)];
  state.SetLabel(set + " " + profile);
  std::vector<std::string> names;
  if (!fileExists(psplib(set, set + "1_1.sm"))) {
    state.SkipWithError(("no " + set + " data under " + dataRoot()).c_str());
    return;
  }
  std::mt19937 rng(20261207);
  while (names.size() < 30) {
    const std::string name = set + std::to_string(1 + (int) (rng() % groups(set))) + "_" +
                             std::to_string(1 + (int) (rng() % 10)) + ".sm";
    if (fileExists(psplib(set, name)) && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
  unsigned int solved = 0;
  std::vector<double> times;
  for (auto _ : state) {
    solved = 0;
    times.clear();
    for (const std::string& name : names) {
      const Outcome out = solveCapped(set, name, profile, 10.0, 3000);
      double total = 0.0;
      for (double t : out.stepSeconds)
        total += t;
      solved += out.solved ? 1 : 0;
      times.push_back(out.solved ? total : 10.0);
    }
  }
  state.counters["solved"] = solved;
  state.counters["of"] = (double) names.size();
  state.counters["medianFirstScheduleS"] = median(times);
}

// A generated instance of the single-mode sets' shape: a dummy start and end
// activity around n activities of duration 1..10, each with one to three
// successors among the later ones, four renewable resources, each activity
// asking 1..10 units of one or two of them, capacities from the largest
// demand to fourteen above it. Generated, not from the public sets.
Problem generated(int n, unsigned int seed) {
  std::mt19937 rng(seed);
  Problem problem;
  problem.name = "generated" + std::to_string(n) + "_" + std::to_string(seed);
  const int jobs = n + 2, resources = 4;
  problem.activities.assign(jobs, Activity{0, std::vector<int>(resources, 0)});
  std::vector<bool> hasPredecessor(jobs, false);
  problem.horizon = 0;
  for (int j = 1; j <= n; ++j) {
    Activity& a = problem.activities[j];
    a.duration = 1 + (int) (rng() % 10);
    problem.horizon += a.duration;
    const int uses = 1 + (int) (rng() % 2);
    for (int u = 0; u < uses; ++u)
      a.demands[rng() % resources] = 1 + (int) (rng() % 10);
    // Successors among the next few activities, so that chains stay long.
    const int successors = 1 + (int) (rng() % 3);
    for (int k = 0; k < successors && j < n; ++k) {
      const int to = j + 1 + (int) (rng() % std::min(10, n - j));
      bool known = false;
      for (const Lag& l : problem.lags)
        known = known || (l.from == j && l.to == to);
      if (!known) {
        problem.lags.push_back(Lag{j, to, 0, true});
        hasPredecessor[to] = true;
      }
    }
  }
  std::vector<bool> hasSuccessor(jobs, false);
  for (const Lag& l : problem.lags)
    hasSuccessor[l.from] = true;
  for (int j = 1; j <= n; ++j) {
    if (!hasPredecessor[j])
      problem.lags.push_back(Lag{0, j, 0, true});
    if (!hasSuccessor[j])
      problem.lags.push_back(Lag{j, n + 1, 0, true});
  }
  for (int r = 0; r < resources; ++r) {
    int largest = 1;
    for (const Activity& a : problem.activities)
      largest = std::max(largest, a.demands[r]);
    problem.capacities.push_back(largest + (int) (rng() % 15));
  }
  return problem;
}

// Median step time on eight generated instances of each size (20 steps at
// most and 10 s per instance); the ratio of the two sizes' medians is printed.
void BM_StepMedianGenerated(benchmark::State& state) {
  const int n = (int) state.range(0);
  const std::string profile = PROFILES[state.range(1)];
  state.SetLabel("generated " + std::to_string(n) + " " + profile);
  std::vector<double> steps;
  unsigned int stepCount = 0;
  for (auto _ : state) {
    steps.clear();
    stepCount = 0;
    for (unsigned int seed = 1; seed <= 8; ++seed) {
      const Problem problem = generated(n, seed);
      Plan plan(problem, profile);
      std::vector<double> times;
      bool solved = false;
      try {
        solved = plan.solveTimed(Plan::solverConfiguration(20), 10.0, times);
      } catch (const Error&) {
        solved = false;
      }
      steps.insert(steps.end(), times.begin(), times.end());
      stepCount += plan.solver().getStepCount();
      std::printf("  %-18s %-24s %s steps %u\n", problem.name.c_str(), profile.c_str(),
                  solved ? "solved " : "unsolved", plan.solver().getStepCount());
    }
  }
  const double m = 1000.0 * median(steps);
  medians()["generated" + std::to_string(n) + " " + profile] = m;
  state.counters["medianStepMs"] = m;
  state.counters["steps"] = stepCount;
}

}

BENCHMARK(BM_RcpspSolve)->Apply(instanceArgs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepMedian)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepMedianGenerated)->Args({30, 0})->Args({120, 0})->Args({30, 1})->Args({120, 1})->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
  const char* sweep = std::getenv("KORVAN_BENCH_SWEEP");
  if (sweep != 0 && std::string(sweep) == "1")
    benchmark::RegisterBenchmark("BM_Sweep", BM_Sweep)
        ->ArgsProduct({{1, 2, 3}, {0, 1}})
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nMedian solver step against the j30 sample's (same run):\n");
  for (const char* set : {"j60", "j90", "j120"})
    for (const char* profile : PROFILES) {
      const std::string p(profile), big = std::string(set) + " " + p;
      if (medians().count("j30 " + p) && medians().count(big) && medians()["j30 " + p] > 0.0)
        std::printf("  %-5s %-24s %.3f ms / %.3f ms = %.1fx\n", set, profile, medians()[big],
                    medians()["j30 " + p], medians()[big] / medians()["j30 " + p]);
    }
  std::printf("\nMedian solver step, generated 120-activity against generated 30-activity instances:\n");
  for (const char* profile : PROFILES) {
    const std::string p(profile);
    if (medians().count("generated30 " + p) && medians().count("generated120 " + p) &&
        medians()["generated30 " + p] > 0.0)
      std::printf("  %-24s %.3f ms / %.3f ms = %.1fx\n", profile, medians()["generated120 " + p],
                  medians()["generated30 " + p], medians()["generated120 " + p] / medians()["generated30 " + p]);
  }
  benchmark::Shutdown();
  return 0;
}
