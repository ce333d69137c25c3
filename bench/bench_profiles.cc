// Profile recomputation: timetable, flow and incremental flow profiles over
// the same transactions, each pass covering the whole profile, beside simple
// references measured in the same run: one Dinic maximum flow over the whole
// precedence network (for the incremental flow profile), and one Dinic
// maximum flow per instant over the transactions pending there (for the flow
// profile). Two workloads: scattered producers and consumers whose few
// precedences rarely meet at an instant (the flow envelope is the
// timetable's), and chains of uses of a reusable resource whose precedences
// tighten the flow envelope at most instants. The ratios are printed at the end. BM_LocalChangeChains
// times one local change and its propagation on the chains, at three sizes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "bench/BenchSupport.hh"

using namespace KORVAN;
using namespace KORVAN::MIRT;
using namespace KORVAN::BENCH;

namespace {

enum Workload { SCATTERED, CHAINS };

// SCATTERED: n producers and consumers with time windows of width 0..40 on a
// horizon of 2n (about ten pending at any time) and quantities [q, q+2], with
// n/10 random precedences that a hidden schedule satisfies.
// CHAINS: n/10 chains of five uses of one reusable resource, each use a
// consumer at its start and a producer of the same quantity q in 1..5 at its
// end; the start precedes the end and the end precedes the next use's start.
// A hidden schedule (durations 1..10, gaps 0..5, chains starting in [0, 2n))
// widened by 0..20 on either side gives the windows, so that a use's start and
// end, and an end and the next start, are usually pending together.
struct World {
  World(Workload kind, int n) {
    ce = new ConstraintEngine();
    schema = new Schema();
    db = new PlanDatabase(ce->getId(), schema->getId());
    new ProfilePropagator(LabelStr("MIRT_Resource"), ce->getId());
    std::mt19937 rng(12345);
    if (kind == SCATTERED)
      scatter(n, rng);
    else
      chain(n, rng);
    ce->propagate();
    // The windows as propagation left them, for the references.
    for (size_t i = 0; i < transactions.size(); ++i) {
      windows[i].lb = (int) transactions[i]->time()->lastDomain().getLowerBound();
      windows[i].ub = (int) transactions[i]->time()->lastDomain().getUpperBound();
    }
    extra = make(0, horizon, true, 1, 1);
  }
  void scatter(int n, std::mt19937& rng) {
    std::vector<int> schedule;
    for (int i = 0; i < n; ++i) {
      const int lb = (int) (rng() % (2 * n)), ub = lb + (int) (rng() % 41);
      const double q = (double) (1 + rng() % 5);
      schedule.push_back(lb + (ub - lb) / 2);
      const bool consumer = rng() % 2 == 0;
      windows.push_back(Window{lb, ub, consumer, q, q + 2});
      transactions.push_back(make(lb, ub, consumer, q, q + 2));
    }
    for (int k = 0; k < n / 10; ++k) {
      const int a = (int) (rng() % n), b = (int) (rng() % n);
      if (a != b && schedule[a] <= schedule[b])
        precede(a, b);
    }
    horizon = 2 * n;
  }
  void chain(int n, std::mt19937& rng) {
    horizon = 0;
    while ((int) transactions.size() + 10 <= n) {
      int t = (int) (rng() % (2 * n));
      const int first = (int) transactions.size();
      for (int use = 0; use < 5; ++use) {
        const double q = (double) (1 + rng() % 5);
        for (int end = 0; end < 2; ++end) {
          const int lb = std::max(0, t - (int) (rng() % 21)), ub = t + (int) (rng() % 21);
          horizon = std::max(horizon, ub);
          windows.push_back(Window{lb, ub, end == 0, q, q});
          transactions.push_back(make(lb, ub, end == 0, q, q));
          t += end == 0 ? 1 + (int) (rng() % 10) : (int) (rng() % 6);
        }
      }
      for (int i = first + 1; i < (int) transactions.size(); ++i)
        precede(i - 1, i);
    }
  }
  void precede(int a, int b) {
    ce->createConstraint(LabelStr("precedes"), {transactions[a]->time(), transactions[b]->time()});
    precedences.push_back(std::make_pair(a, b));
  }
  ~World() {
    for (Transaction* t : owned)
      delete t;
    delete db;
    delete ce;
    delete schema;
  }
  TransactionId make(int lb, int ub, bool consumer, double qlb, double qub) {
    ConstrainedVariable* time = new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub));
    ConstrainedVariable* quantity = new Variable<IntervalDomain>(ce->getId(), IntervalDomain(qlb, qub));
    owned.push_back(new Transaction(time->getId(), quantity->getId(), consumer));
    return owned.back()->getId();
  }
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  std::vector<Transaction*> owned;
  std::vector<TransactionId> transactions;
  std::vector<Window> windows;
  std::vector<std::pair<int, int>> precedences;
  TransactionId extra;
  int horizon;
};

std::map<std::pair<Workload, int>, std::unique_ptr<World>>& worlds() {
  static std::map<std::pair<Workload, int>, std::unique_ptr<World>> w;
  return w;
}

World& world(Workload kind, int n) {
  std::unique_ptr<World>& w = worlds()[std::make_pair(kind, n)];
  if (!w)
    w.reset(new World(kind, n));
  return *w;
}

// Each instant's levels, by time.
std::map<int, std::pair<double, double>> envelope(Profile& profile) {
  std::map<int, std::pair<double, double>> levels;
  for (ProfileIterator it(profile.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    levels[it.getInstant()->getTime()] = std::make_pair(it.getInstant()->getLowerLevel(), it.getInstant()->getUpperLevel());
  return levels;
}

// The instants at which the profile's envelope is strictly tighter than the
// timetable's over the same transactions; false if it is looser anywhere or
// its instants differ, which would be a fault of either.
bool tighterThanTimetable(Profile& profile, World& w, int& tighter) {
  NoDetector detector;
  TimetableProfile timetable(w.db->getId(), detector.getId(), 0.0, 0.0);
  for (TransactionId t : w.transactions)
    timetable.addTransaction(t);
  timetable.recompute();
  const std::map<int, std::pair<double, double>> mine = envelope(profile), reference = envelope(timetable);
  tighter = 0;
  if (mine.size() != reference.size())
    return false;
  const double eps = 1e-9;
  for (auto a = mine.begin(), b = reference.begin(); a != mine.end(); ++a, ++b) {
    if (a->first != b->first || a->second.first < b->second.first - eps || a->second.second > b->second.second + eps)
      return false;
    if (a->second.first > b->second.first + eps || a->second.second < b->second.second - eps)
      ++tighter;
  }
  return true;
}

// One iteration is one recomputation of the whole profile: a transaction
// starting at the first instant comes or goes before it (not timed). Counters: the
// instants, those where the envelope is strictly tighter than the timetable's,
// and the extreme levels of the envelope after the last pass.
template <class P>
void recomputeWhole(benchmark::State& state, Workload kind) {
  World& w = world(kind, (int) state.range(0));
  NoDetector detector;
  P profile(w.db->getId(), detector.getId(), 0.0, 0.0);
  for (TransactionId t : w.transactions)
    profile.addTransaction(t);
  profile.recompute();
  int tighter = 0;
  const bool flow = !std::is_same<P, TimetableProfile>::value;
  if (flow && !tighterThanTimetable(profile, w, tighter)) {
    state.SkipWithError("the envelope is looser than the timetable's or has other instants");
    return;
  }
  if (flow && kind == CHAINS && tighter == 0) {
    state.SkipWithError("the precedences tighten no instant: the workload does not measure what it should");
    return;
  }
  bool present = false;
  for (auto _ : state) {
    // The change itself is the profile core's work, not the recomputation's.
    state.PauseTiming();
    if (present)
      profile.removeTransaction(w.extra);
    else
      profile.addTransaction(w.extra);
    present = !present;
    state.ResumeTiming();
    profile.recompute();
  }
  if (present)
    profile.removeTransaction(w.extra);
  profile.recompute();
  double lowest = 0.0, highest = 0.0, sum = 0.0;
  int instants = 0;
  for (ProfileIterator it(profile.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    lowest = std::min(lowest, it.getInstant()->getLowerLevel());
    highest = std::max(highest, it.getInstant()->getUpperLevel());
    sum += it.getInstant()->getLowerLevel() + it.getInstant()->getUpperLevel();
    ++instants;
  }
  state.counters["instants"] = instants;
  state.counters["tighter"] = tighter;
  state.counters["lowest"] = lowest;
  state.counters["highest"] = highest;
  state.counters["levelSum"] = sum;
}

template <class P>
void BM_Recompute(benchmark::State& state) {
  recomputeWhole<P>(state, SCATTERED);
}

template <class P>
void BM_RecomputeChains(benchmark::State& state) {
  recomputeWhole<P>(state, CHAINS);
}

// One iteration is one step of a search over the chains: the use whose start window lies
// nearest the middle of the horizon is fixed to its earliest start, or freed again, and the
// constraint engine propagates, the profile's recomputation included. The change is local:
// the step should cost the same whatever the number of uses. Counter: the instants.
template <class P>
void BM_LocalChangeChains(benchmark::State& state) {
  World& w = world(CHAINS, (int) state.range(0));
  NoDetector detector;
  P profile(w.db->getId(), detector.getId(), 0.0, 0.0);
  for (TransactionId t : w.transactions)
    profile.addTransaction(t);
  w.ce->propagate();
  std::size_t middle = 0;
  for (std::size_t i = 0; i < w.windows.size(); ++i)
    if (w.windows[i].consumer &&
        std::abs(w.windows[i].lb - w.horizon / 2) < std::abs(w.windows[middle].lb - w.horizon / 2))
      middle = i;
  const ConstrainedVariableId time = w.transactions[middle]->time();
  bool fixed = false;
  for (auto _ : state) {
    if (fixed)
      time->reset();
    else
      time->specify(time->lastDomain().getLowerBound());
    fixed = !fixed;
    w.ce->propagate();
  }
  if (fixed) {
    time->reset();
    w.ce->propagate();
  }
  int instants = 0;
  for (ProfileIterator it(profile.getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    ++instants;
  state.counters["instants"] = instants;
}

// Dinic's maximum flow on adjacency arrays, the reference.
class Dinic {
public:
  explicit Dinic(int n) : m_first(n, -1), m_level(n), m_it(n) {}
  void arc(int u, int v, double cap, double back) {
    m_to.push_back(v);
    m_cap.push_back(cap);
    m_next.push_back(m_first[u]);
    m_first[u] = (int) m_to.size() - 1;
    m_to.push_back(u);
    m_cap.push_back(back);
    m_next.push_back(m_first[v]);
    m_first[v] = (int) m_to.size() - 1;
  }
  double run(int s, int t) {
    m_flow.assign(m_cap.size(), 0.0);
    double total = 0.0;
    while (bfs(s, t)) {
      m_it = m_first;
      while (double f = dfs(s, t, DBL_MAX))
        total += f;
    }
    return total;
  }

private:
  bool bfs(int s, int t) {
    std::fill(m_level.begin(), m_level.end(), -1);
    std::vector<int> queue(1, s);
    m_level[s] = 0;
    for (size_t q = 0; q < queue.size(); ++q)
      for (int a = m_first[queue[q]]; a >= 0; a = m_next[a])
        if (m_level[m_to[a]] < 0 && m_cap[a] - m_flow[a] > 0.0) {
          m_level[m_to[a]] = m_level[queue[q]] + 1;
          queue.push_back(m_to[a]);
        }
    return m_level[t] >= 0;
  }
  double dfs(int u, int t, double limit) {
    if (u == t)
      return limit;
    for (int& a = m_it[u]; a >= 0; a = m_next[a]) {
      const int v = m_to[a];
      const double residual = m_cap[a] - m_flow[a];
      if (residual <= 0.0 || m_level[v] != m_level[u] + 1)
        continue;
      if (double f = dfs(v, t, std::min(limit, residual))) {
        m_flow[a] += f;
        m_flow[a ^ 1] -= f;
        return f;
      }
    }
    return 0.0;
  }
  std::vector<int> m_first, m_level, m_it, m_to, m_next;
  std::vector<double> m_cap, m_flow;
};

// The lower-level network over the given transactions: consumers hang from
// the source with their largest quantity, producers towards the sink with
// their smallest, and a precedence a -> b lets flow go from b back to a.
double lowerLevelFlow(const World& w, const std::vector<int>& members, std::vector<int>& slot) {
  const int n = (int) members.size();
  Dinic dinic(n + 2);
  for (int i = 0; i < n; ++i) {
    const Window& s = w.windows[members[i]];
    slot[members[i]] = i;
    if (s.consumer)
      dinic.arc(n, i, s.qub, 0.0);
    else
      dinic.arc(i, n + 1, s.qlb, 0.0);
  }
  for (const std::pair<int, int>& p : w.precedences)
    if (slot[p.first] >= 0 && slot[p.second] >= 0)
      dinic.arc(slot[p.first], slot[p.second], 0.0, DBL_MAX);
  const double value = dinic.run(n, n + 1);
  for (int m : members)
    slot[m] = -1;
  return value;
}

void dinicWholeNetwork(benchmark::State& state, Workload kind) {
  const World& w = world(kind, (int) state.range(0));
  std::vector<int> all(w.windows.size()), slot(w.windows.size(), -1);
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = (int) i;
  double value = 0.0;
  for (auto _ : state)
    benchmark::DoNotOptimize(value = lowerLevelFlow(w, all, slot));
  state.counters["flow"] = value;
}

void dinicPerInstant(benchmark::State& state, Workload kind) {
  const World& w = world(kind, (int) state.range(0));
  std::vector<int> times, slot(w.windows.size(), -1);
  for (const Window& s : w.windows) {
    times.push_back(s.lb);
    times.push_back(s.ub);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  // Transactions by earliest time, and the pending set swept along.
  std::vector<int> byStart(w.windows.size());
  for (size_t i = 0; i < byStart.size(); ++i)
    byStart[i] = (int) i;
  std::sort(byStart.begin(), byStart.end(), [&](int a, int b) { return w.windows[a].lb < w.windows[b].lb; });
  double total = 0.0;
  for (auto _ : state) {
    total = 0.0;
    std::vector<int> pending;
    size_t next = 0;
    for (int T : times) {
      while (next < byStart.size() && w.windows[byStart[next]].lb <= T)
        pending.push_back(byStart[next++]);
      pending.erase(std::remove_if(pending.begin(), pending.end(), [&](int i) { return w.windows[i].ub <= T; }),
                    pending.end());
      total += lowerLevelFlow(w, pending, slot);
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["instants"] = (double) times.size();
  state.counters["flowSum"] = total;
}

void BM_DinicWholeNetwork(benchmark::State& state) { dinicWholeNetwork(state, SCATTERED); }
void BM_DinicPerInstant(benchmark::State& state) { dinicPerInstant(state, SCATTERED); }
void BM_DinicWholeNetworkChains(benchmark::State& state) { dinicWholeNetwork(state, CHAINS); }
void BM_DinicPerInstantChains(benchmark::State& state) { dinicPerInstant(state, CHAINS); }

}

BENCHMARK_TEMPLATE(BM_Recompute, TimetableProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Recompute, FlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Recompute, IncrementalFlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DinicWholeNetwork)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DinicPerInstant)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_RecomputeChains, TimetableProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_RecomputeChains, FlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_RecomputeChains, IncrementalFlowProfile)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DinicWholeNetworkChains)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LocalChangeChains, FlowProfile)->Arg(1000)->Arg(2000)->Arg(8000)->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_LocalChangeChains, IncrementalFlowProfile)->Arg(1000)->Arg(2000)->Arg(8000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DinicPerInstantChains)->Arg(50)->Arg(200)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatios of CPU time (one full recomputation against the reference, same run):\n");
  for (const char* n : {"1000", "10000"}) {
    reporter.ratio(std::string("IncrementalFlowProfile / one Dinic, n = ") + n,
                   std::string("BM_Recompute<IncrementalFlowProfile>/") + n, std::string("BM_DinicWholeNetwork/") + n);
    reporter.ratio(std::string("FlowProfile / one Dinic per instant, n = ") + n,
                   std::string("BM_Recompute<FlowProfile>/") + n, std::string("BM_DinicPerInstant/") + n);
  }
  std::printf("\nThe same on chains of reusable uses, where orderings tighten the envelope:\n");
  for (const char* n : {"50", "200", "1000", "10000"}) {
    reporter.ratio(std::string("IncrementalFlowProfile / one Dinic, n = ") + n,
                   std::string("BM_RecomputeChains<IncrementalFlowProfile>/") + n,
                   std::string("BM_DinicWholeNetworkChains/") + n);
    reporter.ratio(std::string("FlowProfile / one Dinic per instant, n = ") + n,
                   std::string("BM_RecomputeChains<FlowProfile>/") + n, std::string("BM_DinicPerInstantChains/") + n);
  }
  std::printf("\nA local change on chains of 4,000 uses (n = 8000) against 500 uses (n = 1000):\n");
  for (const char* profile : {"FlowProfile", "IncrementalFlowProfile"})
    reporter.ratio(profile, std::string("BM_LocalChangeChains<") + profile + ">/8000",
                   std::string("BM_LocalChangeChains<") + profile + ">/1000");
  worlds().clear();
  benchmark::Shutdown();
  return 0;
}
