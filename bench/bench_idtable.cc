// The live-object table behind Id<T>: look-ups, churn (remove one, insert one)
// and fill/drain at 1e3, 1e5 and 1e6 live entries, against a plain
// std::unordered_map holding the same entries.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <unordered_map>
#include <vector>

#include "Utils/base/IdTable.hh"

using namespace KORVAN;

namespace {

const char* const sl_typeName = "BenchObject";

// Heap-like addresses: 16-byte aligned, clustered, in random order.
std::vector<unsigned long> addresses(std::size_t n, unsigned seed) {
  std::vector<unsigned long> result(n);
  for (std::size_t i = 0; i < n; ++i)
    result[i] = 0x55d4a0000000UL + 48UL * i;
  std::shuffle(result.begin(), result.end(), std::mt19937_64(seed));
  return result;
}

struct MapEntry {
  unsigned int key;
  const char* typeName;
};

struct StdMap {
  std::unordered_map<unsigned long, MapEntry> map;
  unsigned int next = 0;
  unsigned int insert(unsigned long a, const char* t) {
    auto r = map.emplace(a ^ 0xA5A5A5A5A5A5A5A5UL, MapEntry{0, t});
    if (!r.second)
      return 0;
    if (++next == 0)
      ++next;
    return r.first->second.key = next;
  }
  unsigned int getKey(unsigned long a) const {
    auto it = map.find(a ^ 0xA5A5A5A5A5A5A5A5UL);
    return it == map.end() ? 0 : it->second.key;
  }
  void remove(unsigned long a) { map.erase(a ^ 0xA5A5A5A5A5A5A5A5UL); }
};

struct Table {
  unsigned int insert(unsigned long a, const char* t) { return IdTable::insert(a, t); }
  unsigned int getKey(unsigned long a) const { return IdTable::getKey(a); }
  void remove(unsigned long a) { IdTable::remove(a); }
};

// Random look-ups, nine hits for one miss.
template <class T>
void BM_GetKey(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned long> live = addresses(n + n / 9 + 1, 1);
  T table;
  for (std::size_t i = 0; i < n; ++i)
    table.insert(live[i], sl_typeName);
  std::vector<unsigned long> queries(1 << 16);
  std::mt19937_64 rng(2);
  for (auto& q : queries)
    q = live[rng() % live.size()];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.getKey(queries[i]));
    i = (i + 1) & (queries.size() - 1);
  }
  for (std::size_t j = 0; j < n; ++j)
    table.remove(live[j]);
  state.SetItemsProcessed(state.iterations());
}

// Steady state: remove a random live entry, register a fresh address, look both up.
template <class T>
void BM_Churn(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned long> pool = addresses(2 * n, 3);
  T table;
  for (std::size_t i = 0; i < n; ++i)
    table.insert(pool[i], sl_typeName);
  std::vector<std::size_t> picks(1 << 16);
  std::mt19937_64 rng(4);
  for (auto& p : picks)
    p = rng() % n;
  std::size_t next = n, i = 0;
  for (auto _ : state) {
    std::size_t slot = picks[i];
    i = (i + 1) & (picks.size() - 1);
    table.remove(pool[slot]);
    benchmark::DoNotOptimize(table.getKey(pool[slot]));
    std::swap(pool[slot], pool[next]);
    benchmark::DoNotOptimize(table.insert(pool[slot], sl_typeName));
    benchmark::DoNotOptimize(table.getKey(pool[slot]));
    if (++next == pool.size())
      next = n;
  }
  for (std::size_t j = 0; j < n; ++j)
    table.remove(pool[j]);
  state.SetItemsProcessed(state.iterations());
}

// Register n addresses and unregister them all, in another random order.
template <class T>
void BM_FillDrain(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned long> in = addresses(n, 5), out = in;
  std::shuffle(out.begin(), out.end(), std::mt19937_64(6));
  T table;
  for (auto _ : state) {
    for (unsigned long a : in)
      benchmark::DoNotOptimize(table.insert(a, sl_typeName));
    for (unsigned long a : out)
      table.remove(a);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(n));
}

// How a handle checks itself, in random order among n live handles: by its key (what
// Id::isValid does) or by looking its address up (what it did before).
struct ByKey {
  static bool check(unsigned long a, unsigned int key) { return IdTable::isLive(a, key); }
};
struct ByAddress {
  static bool check(unsigned long a, unsigned int key) { return IdTable::getKey(a) == key; }
};

template <class C>
void BM_HandleCheck(benchmark::State& state) {
  struct Handle {
    unsigned long address;
    unsigned int key;
  };
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned long> live = addresses(n, 7);
  std::vector<Handle> handles(n);
  for (std::size_t i = 0; i < n; ++i) {
    handles[i].address = live[i];
    handles[i].key = IdTable::insert(live[i], sl_typeName);
  }
  std::vector<std::size_t> picks(1 << 16);
  std::mt19937_64 rng(8);
  for (auto& p : picks)
    p = rng() % n;
  std::size_t i = 0;
  for (auto _ : state) {
    const Handle& h = handles[picks[i]];
    benchmark::DoNotOptimize(C::check(h.address, h.key));
    i = (i + 1) & (picks.size() - 1);
  }
  for (std::size_t j = 0; j < n; ++j)
    IdTable::remove(live[j]);
  state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK_TEMPLATE(BM_HandleCheck, ByKey)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_HandleCheck, ByAddress)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_GetKey, Table)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_GetKey, StdMap)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_Churn, Table)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_Churn, StdMap)->Arg(1000)->Arg(100000)->Arg(1000000);
BENCHMARK_TEMPLATE(BM_FillDrain, Table)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_FillDrain, StdMap)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
