#ifndef KORVAN_TN_TEST_FLOYD_WARSHALL_HH
#define KORVAN_TN_TEST_FLOYD_WARSHALL_HH

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Utils/base/Utils.hh"

namespace KORVAN_TEST {

typedef std::int64_t Time;
typedef std::vector<std::vector<Time>> Distances;

/// lb <= to - from <= ub; plus or minus g_infiniteTime() leaves a side open.
struct RefEdge {
  int from, to;
  Time lb, ub;
};

/// Reference all-pairs shortest distances over the live points `nodes` (indices below `cap`),
/// clamped to plus or minus g_infiniteTime(); false on a negative cycle.
inline bool floydWarshall(int cap, const std::vector<int>& nodes, const std::vector<RefEdge>& edges, Distances& d) {
  const Time inf = KORVAN::g_infiniteTime(), big = Time(1) << 50;
  d.assign(cap, std::vector<Time>(cap, big));
  for (int n : nodes)
    d[n][n] = 0;
  for (const RefEdge& e : edges) {
    if (e.ub < inf)
      d[e.from][e.to] = std::min(d[e.from][e.to], e.ub);
    if (e.lb > -inf)
      d[e.to][e.from] = std::min(d[e.to][e.from], -e.lb);
  }
  for (int k : nodes) {
    for (int i : nodes)
      if (d[i][k] < big)
        for (int j : nodes)
          if (d[k][j] < big)
            d[i][j] = std::min(d[i][j], d[i][k] + d[k][j]);
    // Stop at the first negative cycle, before its sums can run away.
    for (int n : nodes)
      if (d[n][n] < 0)
        return false;
  }
  for (auto& row : d)
    for (Time& v : row)
      v = std::max(-inf, std::min(inf, v));
  return true;
}

} // namespace KORVAN_TEST

#endif
