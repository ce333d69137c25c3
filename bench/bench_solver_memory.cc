// The solver's memory of refuted decision sets: the indexed look-up against a scan of every set
// that holds the latest decision, replaying the same trace of a chronological search.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Solvers/base/RefutedSets.hh"

using namespace KORVAN::SOLVERS;

namespace {

struct Op {
  bool add;  // file the set, else ask whether the state holds a filed set with latest
  std::vector<int> set;
  int latest;
};

// A depth-first search that orders pairs of `tokens` items, each pair one of two ways (decision
// 2p or 2p + 1); a branch fails at random, more often the deeper it is, or at the bottom. Each
// choice asks the memory; each failed subtree is filed. Pruned choices are skipped, as the
// solver does, so the trace is the one the solver's memory would see.
std::vector<Op> searchTrace(int tokens, int steps, unsigned seed) {
  std::mt19937 rng(seed);
  const int pairs = tokens * (tokens - 1) / 2;
  RefutedSets memory;
  for (int d = 0; d < 2 * pairs; ++d)
    memory.intern(std::to_string(d));
  struct Level {
    int pair;
    int next;  // next way to try
    int taken; // decision in force, or -1
  };
  std::vector<Level> stack;
  std::vector<Op> trace;
  auto state = [&]() {
    std::vector<int> s;
    for (const Level& l : stack)
      if (l.taken >= 0)
        s.push_back(l.taken);
    std::sort(s.begin(), s.end());
    return s;
  };
  // Takes the next way of the top level not already refuted; false when it has none.
  auto executeNext = [&]() {
    Level& top = stack.back();
    while (top.next < 2) {
      top.taken = 2 * top.pair + top.next++;
      std::vector<int> s = state();
      trace.push_back(Op{false, s, top.taken});
      if (!memory.holdsOneWith(s, top.taken))
        return true;
      top.taken = -1;
    }
    return false;
  };
  auto backtrack = [&]() {
    while (!stack.empty()) {
      if (stack.back().taken >= 0) {
        std::vector<int> s = state();
        trace.push_back(Op{true, s, -1});
        memory.add(s);
        stack.back().taken = -1;
      }
      if (executeNext())
        return true;
      stack.pop_back();
    }
    return false;
  };
  for (int step = 0; step < steps; ++step) {
    const int depth = (int)stack.size();
    if (depth >= tokens + 3 || (int)(rng() % (12 * tokens)) < depth) {
      if (!backtrack())
        break;
      continue;
    }
    std::vector<char> used(pairs, 0);
    for (const Level& l : stack)
      used[l.pair] = 1;
    int pair = (int)(rng() % pairs);
    while (used[pair])
      pair = (pair + 1) % pairs;
    stack.push_back(Level{pair, 0, -1});
    if (!executeNext() && !backtrack())
      break;
  }
  return trace;
}

// The scan: every set filed under each of its decisions, each asked in turn.
class ScanMemory {
public:
  void add(const std::vector<int>& set) {
    std::pair<std::set<std::vector<int>>::iterator, bool> added = m_sets.insert(set);
    if (added.second)
      for (int d : set)
        m_with[d].push_back(&*added.first);
  }
  bool holdsOneWith(const std::vector<int>& state, int latest) const {
    std::map<int, std::vector<const std::vector<int>*>>::const_iterator it = m_with.find(latest);
    if (it == m_with.end())
      return false;
    for (const std::vector<int>* set : it->second)
      if (set->size() <= state.size() && std::includes(state.begin(), state.end(), set->begin(), set->end()))
        return true;
    return false;
  }

private:
  std::set<std::vector<int>> m_sets;
  std::map<int, std::vector<const std::vector<int>*>> m_with;
};

const std::vector<Op>& trace(int steps) {
  static std::map<int, std::vector<Op>> traces;
  std::vector<Op>& t = traces[steps];
  if (t.empty())
    t = searchTrace(9, steps, 11);
  return t;
}

template <class Memory>
long replay(Memory& memory, const std::vector<Op>& ops) {
  long hits = 0;
  for (const Op& op : ops) {
    if (op.add)
      memory.add(op.set);
    else
      hits += memory.holdsOneWith(op.set, op.latest);
  }
  return hits;
}

void BM_Refuted_Index(benchmark::State& state) {
  const std::vector<Op>& ops = trace((int)state.range(0));
  for (auto _ : state) {
    RefutedSets memory;
    for (int d = 0; d < 72; ++d)
      memory.intern(std::to_string(d));
    benchmark::DoNotOptimize(replay(memory, ops));
  }
  state.counters["ops"] = (double)ops.size();
}

void BM_Refuted_Scan(benchmark::State& state) {
  const std::vector<Op>& ops = trace((int)state.range(0));
  for (auto _ : state) {
    ScanMemory memory;
    benchmark::DoNotOptimize(replay(memory, ops));
  }
  state.counters["ops"] = (double)ops.size();
}

} // namespace

BENCHMARK(BM_Refuted_Index)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Refuted_Scan)->Arg(10000)->Arg(80000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
