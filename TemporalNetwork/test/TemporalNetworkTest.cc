#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "TemporalNetwork/TemporalNetwork.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

using namespace KORVAN;
typedef TemporalNetwork::Time Time;

namespace {

const Time INF = g_infiniteTime();

// Floyd-Warshall over the edges that the test itself recorded.
struct Reference {
  struct E {
    int from, to;
    Time lb, ub;
  };
  std::map<int, E> edges;  // by edge index
  std::vector<int> nodes;  // live time points

  bool solve(int cap, std::vector<std::vector<Time>>& d) const {
    const Time big = Time(1) << 50;
    d.assign(cap, std::vector<Time>(cap, big));
    for (int n : nodes)
      d[n][n] = 0;
    for (const auto& entry : edges) {
      const E& e = entry.second;
      if (e.ub < INF)
        d[e.from][e.to] = std::min(d[e.from][e.to], e.ub);
      if (e.lb > -INF)
        d[e.to][e.from] = std::min(d[e.to][e.from], -e.lb);
    }
    for (int k : nodes)
      for (int i : nodes)
        if (d[i][k] < big)
          for (int j : nodes)
            if (d[k][j] < big && d[i][k] + d[k][j] < d[i][j])
              d[i][j] = d[i][k] + d[k][j];
    for (int n : nodes)
      if (d[n][n] < 0)
        return false;
    for (auto& row : d)
      for (Time& v : row)
        v = std::max(-INF, std::min(INF, v));
    return true;
  }
};

// Checks consistency, every bound and every pairwise distance against the reference.
void compare(TemporalNetwork& tn, const Reference& ref, std::vector<std::vector<Time>>& d) {
  bool consistent = ref.solve(tn.getNodeCapacity(), d);
  ASSERT_EQ(consistent, tn.isConsistent());
  if (!consistent)
    return;
  const int origin = TemporalNetwork::getOrigin();
  for (int a : ref.nodes) {
    Time lb, ub;
    tn.getBounds(a, lb, ub);
    ASSERT_EQ(d[origin][a], ub) << "node " << a;
    ASSERT_EQ(-d[a][origin], lb) << "node " << a;
    for (int b : ref.nodes) {
      tn.getDistance(a, b, lb, ub);
      ASSERT_EQ(d[a][b], ub) << a << " -> " << b;
      ASSERT_EQ(-d[b][a], lb) << a << " -> " << b;
    }
  }
}

} // namespace

TEST(TemporalNetwork, WorkedExample) {
  TemporalNetwork tn;
  const int o = TemporalNetwork::getOrigin();
  int a = tn.addTimepoint(), b = tn.addTimepoint(), c = tn.addTimepoint();
  tn.addEdge(o, a, 0, 100);
  tn.addEdge(a, b, 10, 20);
  tn.addEdge(b, c, 5, INF);
  Time lb, ub;
  tn.getBounds(c, lb, ub);
  EXPECT_EQ(15, lb);
  EXPECT_EQ(INF, ub);
  tn.getDistance(a, c, lb, ub);
  EXPECT_EQ(15, lb);
  EXPECT_EQ(INF, ub);
  // Bounding c from above tightens a and b through the chain.
  int cap = tn.addEdge(o, c, -INF, 50);
  EXPECT_EQ((std::vector<int>{a, b, c}), tn.takeChangedNodes());
  tn.getBounds(a, lb, ub);
  EXPECT_EQ(0, lb);
  EXPECT_EQ(35, ub);
  tn.getDistance(c, a, lb, ub);
  EXPECT_EQ(-50, lb);
  EXPECT_EQ(-15, ub);
  // Exact distance is tighter than a difference of bounds: b - a is [10, 20], not [-25, 45].
  tn.getDistance(a, b, lb, ub);
  EXPECT_EQ(10, lb);
  EXPECT_EQ(20, ub);

  // A deadline before the chain can finish closes a negative cycle; removing it recovers.
  int deadline = tn.addEdge(o, c, 0, 10);
  EXPECT_FALSE(tn.isConsistent());
  try {
    tn.getBounds(a, lb, ub);
    FAIL() << "bounds of an inconsistent network";
  } catch (const Error& e) {
    EXPECT_EQ("isConsistent()", e.getCondition());
    EXPECT_EQ("The temporal network is inconsistent.", e.getMsg());
    EXPECT_EQ("TemporalNetwork/TemporalNetwork", e.getFile());
  }
  tn.removeEdge(deadline);
  EXPECT_TRUE(tn.isConsistent());
  tn.getBounds(c, lb, ub);
  EXPECT_EQ(15, lb);
  EXPECT_EQ(50, ub);

  // Loosening the cap frees c again; the chain keeps its lower bounds.
  tn.setEdgeBounds(cap, -INF, INF);
  tn.getBounds(a, lb, ub);
  EXPECT_EQ(0, lb);
  EXPECT_EQ(100, ub);
  tn.getBounds(c, lb, ub);
  EXPECT_EQ(INF, ub);

  // An edge with lb > ub is a negative cycle on its own; so is a negative self loop.
  int bad = tn.addEdge(a, b, 15, 14);
  EXPECT_FALSE(tn.isConsistent());
  tn.setEdgeBounds(bad, 14, 15);
  EXPECT_TRUE(tn.isConsistent());
  int loop = tn.addEdge(b, b, 1, 2);
  EXPECT_FALSE(tn.isConsistent());
  tn.removeEdge(loop);
  EXPECT_TRUE(tn.isConsistent());
  tn.getDistance(a, b, lb, ub);
  EXPECT_EQ(14, lb);
  EXPECT_EQ(15, ub);

  // Removing a time point removes its edges.
  std::size_t edges = tn.getEdgeCount();
  tn.removeTimepoint(b);
  EXPECT_EQ(edges - 3, tn.getEdgeCount());  // a->b, b->c and the [14, 15] edge
  EXPECT_FALSE(tn.isTimepoint(b));
  tn.getBounds(c, lb, ub);
  EXPECT_EQ(-INF, lb);
}

TEST(TemporalNetwork, Errors) {
  TemporalNetwork tn;
  Time lb, ub;
  try {
    tn.getBounds(7, lb, ub);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ("isTimepoint(node)", e.getCondition());
    EXPECT_EQ("No time point 7 in the temporal network.", e.getMsg());
  }
  try {
    tn.removeEdge(0);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ("No edge 0 in the temporal network.", e.getMsg());
  }
  try {
    tn.removeTimepoint(TemporalNetwork::getOrigin());
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ("The origin of a temporal network cannot be removed.", e.getMsg());
  }
  int a = tn.addTimepoint();
  tn.removeTimepoint(a);
  EXPECT_THROW(tn.addEdge(TemporalNetwork::getOrigin(), a, 0, 1), Error);
}

// Random networks: additions, tightenings, loosenings and removals, each compared with
// Floyd-Warshall, including the set of points reported as changed.
TEST(TemporalNetwork, RandomAgainstFloydWarshall) {
  std::mt19937 rng(12345);
  std::vector<std::vector<Time>> d, before;
  int inconsistentSeen = 0, recoveredSeen = 0;
  for (int round = 0; round < 40; ++round) {
    TemporalNetwork tn;
    Reference ref;
    ref.nodes.push_back(TemporalNetwork::getOrigin());
    const int n = 4 + (int)(rng() % 14);
    for (int i = 0; i < n; ++i)
      ref.nodes.push_back(tn.addTimepoint());
    auto pick = [&]() { return ref.nodes[rng() % ref.nodes.size()]; };
    auto randomBounds = [&](Time& lb, Time& ub) {
      Time a = (Time)(rng() % 200) - 60, w = (Time)(rng() % 80);
      lb = rng() % 7 == 0 ? -INF : a;
      ub = rng() % 7 == 0 ? INF : a + w;
      if (rng() % 25 == 0)
        std::swap(lb, ub);  // occasionally an empty edge
    };
    for (int step = 0; step < 60; ++step) {
      bool wasConsistent = tn.isConsistent();
      if (wasConsistent) {
        ASSERT_TRUE(ref.solve(tn.getNodeCapacity(), before));
      }
      tn.takeChangedNodes();
      unsigned op = rng() % 10;
      if (op < 5 || ref.edges.empty()) {
        int a = pick(), b = pick();
        Time lb, ub;
        randomBounds(lb, ub);
        int e = tn.addEdge(a, b, lb, ub);
        ref.edges[e] = Reference::E{a, b, lb, ub};
      } else if (op < 8) {
        auto it = ref.edges.begin();
        std::advance(it, rng() % ref.edges.size());
        Time lb, ub;
        if (rng() % 2) {
          randomBounds(lb, ub);
        } else {  // a tightening of the present bounds
          lb = it->second.lb == -INF ? 0 : it->second.lb + (Time)(rng() % 5);
          ub = it->second.ub == INF ? 50 : it->second.ub - (Time)(rng() % 5);
        }
        tn.setEdgeBounds(it->first, lb, ub);
        it->second.lb = lb;
        it->second.ub = ub;
      } else if (op < 9 || ref.nodes.size() < 3) {
        auto it = ref.edges.begin();
        std::advance(it, rng() % ref.edges.size());
        tn.removeEdge(it->first);
        ref.edges.erase(it);
      } else {
        int victim = ref.nodes[1 + rng() % (ref.nodes.size() - 1)];
        tn.removeTimepoint(victim);
        ref.nodes.erase(std::find(ref.nodes.begin(), ref.nodes.end(), victim));
        for (auto it = ref.edges.begin(); it != ref.edges.end();)
          it = (it->second.from == victim || it->second.to == victim) ? ref.edges.erase(it) : ++it;
        int fresh = tn.addTimepoint();
        ref.nodes.push_back(fresh);
        wasConsistent = false;  // the reused index makes "changed" ill-defined here
      }
      ASSERT_EQ(ref.edges.size(), tn.getEdgeCount());
      compare(tn, ref, d);
      if (!tn.isConsistent())
        ++inconsistentSeen;
      else if (!wasConsistent)
        ++recoveredSeen;
      if (wasConsistent && tn.isConsistent()) {
        const int o = TemporalNetwork::getOrigin();
        std::vector<int> expected;
        for (int x : ref.nodes)
          if (x != o && (before[o][x] != d[o][x] || before[x][o] != d[x][o]))
            expected.push_back(x);
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(expected, tn.takeChangedNodes());
      }
    }
  }
  // The random walk must have exercised both inconsistency and recovery.
  EXPECT_GT(inconsistentSeen, 10);
  EXPECT_GT(recoveredSeen, 3);
}

// Larger network: all pairs through the row cache, asked in a scattered order.
TEST(TemporalNetwork, ScatteredQueriesOnLargerNetwork) {
  std::mt19937 rng(7);
  TemporalNetwork tn;
  Reference ref;
  const int o = TemporalNetwork::getOrigin();
  ref.nodes.push_back(o);
  std::vector<Time> schedule(1, 0);
  for (int i = 0; i < 80; ++i) {
    int x = tn.addTimepoint();
    ref.nodes.push_back(x);
    schedule.push_back(rng() % 1000);
    int e = tn.addEdge(o, x, 0, 1000);
    ref.edges[e] = Reference::E{o, x, 0, 1000};
  }
  // Precedences that the hidden schedule satisfies keep the network consistent.
  for (int k = 0; k < 200; ++k) {
    int a = 1 + rng() % 80, b = 1 + rng() % 80;
    Time gap = schedule[b] - schedule[a];
    Time lb = gap - (Time)(rng() % 50), ub = gap + (Time)(rng() % 50);
    int e = tn.addEdge(a, b, lb, ub);
    ref.edges[e] = Reference::E{a, b, lb, ub};
  }
  std::vector<std::vector<Time>> d;
  ASSERT_TRUE(ref.solve(tn.getNodeCapacity(), d));
  std::vector<std::pair<int, int>> pairs;
  for (int a : ref.nodes)
    for (int b : ref.nodes)
      pairs.push_back({a, b});
  std::shuffle(pairs.begin(), pairs.end(), rng);
  for (auto& p : pairs) {
    Time lb, ub;
    tn.getDistance(p.first, p.second, lb, ub);
    ASSERT_EQ(d[p.first][p.second], ub);
    ASSERT_EQ(-d[p.second][p.first], lb);
  }
}
