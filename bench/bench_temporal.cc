// Temporal network: building with incremental propagation, retraction, and exact all-pairs
// distances, against a plain Floyd-Warshall over the same constraints.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "TemporalNetwork/TemporalNetwork.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Utils.hh"

using namespace KORVAN;
typedef TemporalNetwork::Time Time;

namespace {

struct Constraint {
  int from, to;
  Time lb, ub;
};

// n time points with domains [0, 10n] and 2n random precedences (x_a <= x_b) that a hidden
// schedule satisfies, so the network stays consistent. Point 0 is the origin.
std::vector<Constraint> randomNetwork(int n, unsigned seed) {
  std::mt19937 rng(seed);
  const Time horizon = 10 * (Time)n;
  const Time inf = g_infiniteTime();
  std::vector<Time> schedule(n + 1, 0);
  std::vector<Constraint> result;
  for (int i = 1; i <= n; ++i) {
    schedule[i] = rng() % horizon;
    result.push_back({0, i, 0, horizon});
  }
  for (int k = 0; k < 2 * n; ++k) {
    int a = 1 + rng() % n, b = 1 + rng() % n;
    if (a == b)
      continue;
    if (schedule[a] > schedule[b])
      std::swap(a, b);
    result.push_back({a, b, 0, inf});
  }
  return result;
}

void build(TemporalNetwork& tn, int n, const std::vector<Constraint>& cs, std::vector<int>& edges) {
  for (int i = 0; i < n; ++i)
    tn.addTimepoint();
  edges.clear();
  for (const Constraint& c : cs)
    edges.push_back(tn.addEdge(c.from, c.to, c.lb, c.ub));
}

// Build and propagate: every edge is put in force incrementally and bounds are read.
void BM_TN_BuildPropagate(benchmark::State& state) {
  const int n = (int)state.range(0);
  std::vector<Constraint> cs = randomNetwork(n, 42);
  std::vector<int> edges;
  for (auto _ : state) {
    TemporalNetwork tn;
    build(tn, n, cs, edges);
    Time lb, ub, sum = 0;
    for (int i = 1; i <= n; ++i) {
      tn.getBounds(i, lb, ub);
      sum += lb + ub;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["edges"] = (double)cs.size();
}

// Retract one precedence and put it back, reading every bound after each step: the
// solver's undo pattern.
void BM_TN_RetractRestore(benchmark::State& state) {
  const int n = (int)state.range(0);
  std::vector<Constraint> cs = randomNetwork(n, 42);
  std::vector<int> edges;
  TemporalNetwork tn;
  build(tn, n, cs, edges);
  std::size_t k = n;  // first precedence
  for (auto _ : state) {
    const Constraint& c = cs[k];
    tn.removeEdge(edges[k]);
    Time lb, ub;
    tn.getBounds(c.to, lb, ub);
    edges[k] = tn.addEdge(c.from, c.to, c.lb, c.ub);
    tn.getBounds(c.to, lb, ub);
    benchmark::DoNotOptimize(lb);
    k = k + 1 < cs.size() ? k + 1 : n;
  }
}

// Build, propagate and ask the exact distance of every ordered pair of points.
void BM_TN_AllPairs(benchmark::State& state) {
  const int n = (int)state.range(0);
  std::vector<Constraint> cs = randomNetwork(n, 42);
  std::vector<int> edges;
  for (auto _ : state) {
    TemporalNetwork tn;
    build(tn, n, cs, edges);
    Time lb, ub, sum = 0;
    for (int a = 1; a <= n; ++a)
      for (int b = 1; b <= n; ++b) {
        tn.getDistance(a, b, lb, ub);
        sum += lb + ub;
      }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["pairs"] = (double)n * n;
}

// The same all-pairs answer from a dense Floyd-Warshall matrix.
void BM_FloydWarshall_AllPairs(benchmark::State& state) {
  const int n = (int)state.range(0);
  std::vector<Constraint> cs = randomNetwork(n, 42);
  const int size = n + 1;
  const Time big = Time(1) << 50;
  for (auto _ : state) {
    std::vector<Time> d((std::size_t)size * size, big);
    for (int i = 0; i < size; ++i)
      d[(std::size_t)i * size + i] = 0;
    for (const Constraint& c : cs) {
      if (c.ub < g_infiniteTime())
        d[(std::size_t)c.from * size + c.to] = std::min(d[(std::size_t)c.from * size + c.to], c.ub);
      d[(std::size_t)c.to * size + c.from] = std::min(d[(std::size_t)c.to * size + c.from], -c.lb);
    }
    for (int k = 0; k < size; ++k) {
      const Time* dk = &d[(std::size_t)k * size];
      for (int i = 0; i < size; ++i) {
        Time* di = &d[(std::size_t)i * size];
        const Time dik = di[k];
        if (dik >= big)
          continue;
        for (int j = 0; j < size; ++j)
          di[j] = std::min(di[j], dik + dk[j]);
      }
    }
    Time sum = 0;
    for (int a = 1; a <= n; ++a)
      for (int b = 1; b <= n; ++b)
        sum += d[(std::size_t)a * size + b] - d[(std::size_t)b * size + a];
    benchmark::DoNotOptimize(sum);
  }
  state.counters["pairs"] = (double)n * n;
}

// Tokens through the constraint engine: T interval tokens (start + duration = end) on a horizon,
// with T random precedences between them, as a plan database would post them.
struct TokenPlan {
  explicit TokenPlan(int tokens) : ce(new ConstraintEngine()) {
    initTemporalConstraints(ce->getId());
    std::mt19937 rng(7);
    const int horizon = 100 * tokens;
    std::vector<int> start(tokens);
    for (int i = 0; i < tokens; ++i) {
      start[i] = rng() % (horizon - 20);
      s.push_back(var(0, horizon));
      ConstrainedVariableId d = var(1, 20);
      e.push_back(var(0, horizon));
      ce->createConstraint(LabelStr("StartEndDurationRelation"), {s.back(), d, e.back()});
    }
    for (int k = 0; k < tokens; ++k) {
      int a = rng() % tokens, b = rng() % tokens;
      if (start[a] + 20 <= start[b])
        ce->createConstraint(LabelStr("precedes"), {e[a], s[b]});
    }
  }
  ~TokenPlan() {
    for (ConstrainedVariable* v : vars)
      delete v;
    delete ce;
  }
  ConstrainedVariableId var(int lb, int ub) {
    vars.push_back(new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub)));
    return vars.back()->getId();
  }
  ConstraintEngine* ce;
  std::vector<ConstrainedVariable*> vars;
  std::vector<ConstrainedVariableId> s, e;
};

void BM_TP_BuildPropagate(benchmark::State& state) {
  unsigned long passes = 0;
  for (auto _ : state) {
    TokenPlan plan((int)state.range(0));
    benchmark::DoNotOptimize(plan.ce->propagate());
    passes = plan.ce->getCycleCount();
  }
  // Propagation passes to the fixed point (a pass that narrows is followed by one that reads the
  // narrowing back).
  state.counters["passes"] = (double)passes;
}

// One solver step: post an ordering between two tokens, propagate, retract it, propagate.
void BM_TP_OrderAndUndo(benchmark::State& state) {
  const int tokens = (int)state.range(0);
  TokenPlan plan(tokens);
  plan.ce->propagate();
  const unsigned long before = plan.ce->getCycleCount();
  int k = 0;
  for (auto _ : state) {
    int a = k % tokens, b = (k * 7 + 3) % tokens;
    ++k;
    ConstraintId c = plan.ce->createConstraint(LabelStr("precedes"), {plan.e[a], plan.s[b]});
    plan.ce->propagate();
    c->discard();
    benchmark::DoNotOptimize(plan.ce->propagate());
  }
  state.counters["passes"] = (double)(plan.ce->getCycleCount() - before) / (double)std::max(k, 1);
}


// Distances asked pair by pair through the temporal advisor, as a resource asks whether two
// transactions are ordered, against the same pairs asked of the network by point number (the
// reference, timed in the same iterations): "vsNetwork" is what the look-ups of the variables'
// points and of the propagator add to each answer.
void BM_TP_AdvisorPairs(benchmark::State& state) {
  const int tokens = (int)state.range(0);
  TokenPlan plan(tokens);
  plan.ce->propagate();
  TemporalAdvisor advisor(plan.ce->getId());
  TemporalPropagator* temporal = dynamic_cast<TemporalPropagator*>(
      (Propagator*)plan.ce->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME()));
  std::mt19937 rng(5);
  std::vector<std::pair<ConstrainedVariableId, ConstrainedVariableId>> pairs;
  std::vector<std::pair<int, int>> nodes;
  for (int k = 0; k < 4096; ++k) {
    const ConstrainedVariableId a = plan.e[rng() % tokens], b = plan.s[rng() % tokens];
    pairs.push_back(std::make_pair(a, b));
    nodes.push_back(std::make_pair(temporal->getTimepoint(a), temporal->getTimepoint(b)));
  }
  // Asked directly, as the propagator asks it once it has found both points.
  TemporalNetwork& network = const_cast<TemporalNetwork&>(temporal->getNetwork());
  double advisorSeconds = 0, networkSeconds = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double sum = 0;
    for (const auto& p : pairs)
      sum += advisor.getTemporalDistanceDomain(p.first, p.second, true).getUpperBound();
    auto t1 = std::chrono::steady_clock::now();
    Time lb, ub;
    for (const auto& n : nodes) {
      network.getDistance(n.first, n.second, lb, ub);
      sum += (double)ub;
    }
    auto t2 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(sum);
    advisorSeconds += std::chrono::duration<double>(t1 - t0).count();
    networkSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["perPairNs"] = 1e9 * advisorSeconds / ((double)state.iterations() * (double)pairs.size());
  state.counters["vsNetwork"] = networkSeconds > 0 ? advisorSeconds / networkSeconds : 0;
}

// A creep: one point's lower bound rises by 12 each pass (its potential moves up, or the
// origin's down), beside k unrelated points bounded from the origin. Per pass the cost should not
// grow with k: compare k = 0 with k = 10,000 in one run.
void BM_TN_CreepPass(benchmark::State& state) {
  const int k = (int)state.range(0);
  const Time inf = g_infiniteTime();
  TemporalNetwork tn;
  for (int i = 0; i < k; ++i)
    tn.addEdge(TemporalNetwork::getOrigin(), tn.addTimepoint(), i, i + 1000000);
  const int start = tn.addTimepoint(), end = tn.addTimepoint();
  tn.addEdge(start, end, 12, 20);
  const int bound = tn.addEdge(TemporalNetwork::getOrigin(), start, 0, inf);
  Time lb = 0, low, high;
  for (auto _ : state) {
    lb += 12;
    if (lb > inf / 2) {
      state.PauseTiming();
      lb = 12;
      tn.setEdgeBounds(bound, 0, inf);
      tn.getBounds(start, low, high);
      state.ResumeTiming();
    }
    tn.setEdgeBounds(bound, lb, inf);
    tn.getBounds(start, low, high);
    benchmark::DoNotOptimize(low);
  }
}

// New points, each bounded from the origin at later and later times and ordered after the
// previous one (a model read token by token): each point should cost the same at any size.
void BM_TN_AddBoundedPoints(benchmark::State& state) {
  const int n = (int)state.range(0);
  const Time inf = g_infiniteTime();
  for (auto _ : state) {
    TemporalNetwork tn;
    int last = tn.addTimepoint();
    for (int i = 0; i < n; ++i) {
      const int x = tn.addTimepoint();
      tn.addEdge(TemporalNetwork::getOrigin(), x, 10 * (Time)i, 10 * (Time)i + 1000);
      if (i % 2)
        tn.addEdge(last, x, 0, inf);
      last = x;
    }
    Time lb, ub;
    tn.getBounds(last, lb, ub);
    benchmark::DoNotOptimize(lb);
  }
}

// A solver's step: post one precedence, then read the distance row of every point. With
// fresh = 1 an unrelated edge is dropped and put back before the reads, a loosening that makes
// every row a new search (the reference); with 0 the rows kept from the last reads are mended.
void BM_TN_RowsAfterPrecedence(benchmark::State& state) {
  const int n = (int)state.range(0);
  const bool fresh = state.range(1) != 0;
  const int posts = 20;
  std::vector<Constraint> cs = randomNetwork(n, 42);
  // Further precedences that the same hidden schedule satisfies (its first n draws).
  std::mt19937 rng(42);
  std::vector<Time> schedule(n + 1, 0);
  for (int i = 1; i <= n; ++i)
    schedule[i] = rng() % (10 * (Time)n);
  std::vector<Constraint> more;
  while ((int)more.size() < posts) {
    int a = 1 + rng() % n, b = 1 + rng() % n;
    if (schedule[a] > schedule[b])
      std::swap(a, b);
    if (a != b)
      more.push_back({a, b, 0, g_infiniteTime()});
  }
  std::vector<Time> from, to;
  std::vector<int> edges;
  double repaired = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TemporalNetwork tn;
    build(tn, n, cs, edges);
    const int spare = tn.addTimepoint();
    int dummy = tn.addEdge(TemporalNetwork::getOrigin(), spare, 0, 1);
    for (int x = 1; x <= n; ++x)
      tn.getDistancesOf(x, from, to);
    state.ResumeTiming();
    for (const Constraint& c : more) {
      tn.addEdge(c.from, c.to, c.lb, c.ub);
      if (fresh) {
        tn.removeEdge(dummy);
        dummy = tn.addEdge(TemporalNetwork::getOrigin(), spare, 0, 1);
      }
      for (int x = 1; x <= n; ++x)
        tn.getDistancesOf(x, from, to);
    }
    repaired = (double)tn.getRowRepairs() / (posts * n);
    benchmark::DoNotOptimize(from.data());
  }
  // Share of the rows read after a post that were mended rather than searched.
  state.counters["repaired"] = repaired;
}

} // namespace

BENCHMARK(BM_TN_RowsAfterPrecedence)->Args({100, 1})->Args({100, 0})->Args({500, 1})->Args({500, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TP_BuildPropagate)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TP_AdvisorPairs)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TP_OrderAndUndo)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TN_CreepPass)->Arg(0)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TN_AddBoundedPoints)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TN_BuildPropagate)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TN_RetractRestore)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TN_AllPairs)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);
// Floyd-Warshall at 5,000 points takes minutes per run; it stops at 1,000.
BENCHMARK(BM_FloydWarshall_AllPairs)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
