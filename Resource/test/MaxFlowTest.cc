// Flow graph and push-relabel maximum flow: worked networks, the graph's
// switching rules, and random networks, fresh and resumed after change
// sequences, against Edmonds-Karp.

#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_MaxFlow.hh"
#include "Resource/test/ReferenceFlow.hh"
#include "Resource/test/ResourceTestSupport.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;
using KORVAN::MIRT::Reference::ReferenceFlow;
using KORVAN::MIRT::Reference::edmondsKarp;

namespace {

// Transactions that only name nodes.
struct Names {
  explicit Names(int n) {
    for (int i = 0; i < n; ++i)
      owned.emplace_back(new Transaction(Id<ConstrainedVariable>(), Id<ConstrainedVariable>(), false));
    // Key order of the graph is address order: index the names that way.
    std::sort(owned.begin(), owned.end(),
              [](const std::unique_ptr<Transaction>& a, const std::unique_ptr<Transaction>& b) {
                return a->getId() < b->getId();
              });
  }
  TransactionId operator[](int i) const { return owned[i]->getId(); }
  std::vector<std::unique_ptr<Transaction>> owned;
};

// Edge with its zero-capacity reverse, unless the reverse exists already.
void arc(Graph& g, const Names& n, int u, int v, double cap) {
  g.createEdge(n[u], n[v], cap, true);
  if (g.getEdge(g.getNode(n[v]), g.getNode(n[u])) == 0)
    g.createEdge(n[v], n[u], 0.0, true);
}

double flowValue(const MaximumFlowAlgorithm& mf, Node* source) {
  double value = 0.0;
  for (EdgeOutIterator it(*source, true); it.ok(); ++it)
    value += mf.getFlow(*it);
  return value;
}

// Nodes reachable from s over enabled edges the algorithm leaves residual
// capacity on. Every maximum flow leaves the same set: the source side of the
// minimum cut nearest the source.
std::set<Node*> residualReach(const MaximumFlowAlgorithm& mf, Node* s) {
  std::set<Node*> seen;
  seen.insert(s);
  std::vector<Node*> stack(1, s);
  while (!stack.empty()) {
    Node* u = stack.back();
    stack.pop_back();
    for (EdgeOutIterator it(*u, true); it.ok(); ++it)
      if (mf.getResidual(*it) > 0.0 && seen.insert((*it)->getTarget()).second)
        stack.push_back((*it)->getTarget());
  }
  return seen;
}

}

// Shared with the flow profile's tests.
ReferenceFlow KORVAN::MIRT::Reference::edmondsKarp(const Graph& g, Node* s, Node* t) {
  std::vector<Node*> nodes;
  for (NodeMap::const_iterator it = g.getNodes().begin(); it != g.getNodes().end(); ++it)
    if (it->second->isEnabled())
      nodes.push_back(it->second);
  const size_t n = nodes.size();
  auto index = [&](Node* x) { return size_t(std::find(nodes.begin(), nodes.end(), x) - nodes.begin()); };
  std::vector<std::vector<double>> cap(n, std::vector<double>(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (Edge* e : nodes[i]->getOutEdges())
      if (e->isEnabled())
        cap[i][index(e->getTarget())] += e->getCapacity();
  const size_t si = index(s), ti = index(t);
  ReferenceFlow result = {0.0, {}};
  for (;;) {
    std::vector<int> parent(n, -1);
    parent[si] = (int) si;
    std::deque<size_t> queue(1, si);
    while (!queue.empty() && parent[ti] < 0) {
      size_t u = queue.front();
      queue.pop_front();
      for (size_t v = 0; v < n; ++v)
        if (parent[v] < 0 && cap[u][v] > 0) {
          parent[v] = (int) u;
          queue.push_back(v);
        }
    }
    if (parent[ti] < 0) {
      // The search ran dry, so it visited everything reachable.
      for (size_t v = 0; v < n; ++v)
        if (parent[v] >= 0)
          result.reach.insert(nodes[v]);
      return result;
    }
    double bottleneck = std::numeric_limits<double>::max();
    for (size_t v = ti; v != si; v = parent[v])
      bottleneck = std::min(bottleneck, cap[parent[v]][v]);
    for (size_t v = ti; v != si; v = parent[v]) {
      cap[parent[v]][v] -= bottleneck;
      cap[v][parent[v]] += bottleneck;
    }
    result.value += bottleneck;
  }
}

namespace {

// Capacity, antisymmetry and conservation of the flow the algorithm holds.
void expectValidFlow(const Graph& g, const MaximumFlowAlgorithm& mf, Node* s, Node* t) {
  for (NodeMap::const_iterator it = g.getNodes().begin(); it != g.getNodes().end(); ++it) {
    Node* node = it->second;
    if (!node->isEnabled())
      continue;
    double net = 0.0;
    for (EdgeOutIterator e(*node, true); e.ok(); ++e) {
      EXPECT_LE(mf.getFlow(*e), (*e)->getCapacity());
      Edge* reverse = g.getEdge((*e)->getTarget(), node);
      ASSERT_NE(reverse, nullptr);
      EXPECT_EQ(mf.getFlow(*e), -mf.getFlow(reverse));
      net += mf.getFlow(*e);
    }
    if (node != s && node != t) {
      EXPECT_EQ(0.0, net) << "conservation at " << *node;
    }
  }
}

// Value and residual reachable set against Edmonds-Karp, and a valid flow;
// context says how to reproduce a failure.
void expectMaximum(const Graph& g, const MaximumFlowAlgorithm& mf, Node* s, Node* t,
                   const std::string& context) {
  const ReferenceFlow ref = edmondsKarp(g, s, t);
  ASSERT_EQ(ref.value, flowValue(mf, s)) << context;
  ASSERT_TRUE(ref.reach == residualReach(mf, s)) << "reachable sets differ\n" << context;
  expectValidFlow(g, mf, s, t);
  ASSERT_FALSE(::testing::Test::HasFailure()) << context;
}

std::string capacityText(double cap) {
  return cap == Edge::getMaxCapacity() ? std::string("max") : std::to_string(cap);
}

int roundsFromEnvironment(int fallback) {
  const char* v = std::getenv("KORVAN_FLOW_ROUNDS");
  return v != 0 ? std::atoi(v) : fallback;
}

}

TEST(FlowGraph, EdgesNodesAndSwitching) {
  Names n(3);
  Graph g;
  // Reuse: a disabled edge stays disabled when re-created with enabled false.
  Edge* ab = g.createEdge(n[0], n[1], 4.0, false);
  EXPECT_FALSE(ab->isEnabled());
  EXPECT_EQ(ab, g.createEdge(n[0], n[1], 7.0, false));
  EXPECT_FALSE(ab->isEnabled());
  EXPECT_EQ(7.0, ab->getCapacity());
  EXPECT_EQ(ab, g.createEdge(n[0], n[1], 2.0, true));
  EXPECT_TRUE(ab->isEnabled());
  EXPECT_EQ(2.0, ab->getCapacity());
  EXPECT_EQ(ab, g.getEdge(g.getNode(n[0]), g.getNode(n[1])));
  EXPECT_EQ(nullptr, g.getEdge(g.getNode(n[1]), g.getNode(n[0])));

  // createNode overwrites the state; createEdge re-enables both ends.
  g.createNode(n[1], false);
  EXPECT_FALSE(ab->isEnabled());  // its target is off
  Edge* ba = g.createEdge(n[1], n[0], 3.0, true);
  EXPECT_TRUE(g.getNode(n[1])->isEnabled());
  EXPECT_TRUE(ab->isEnabled());

  // Disabling the graph keeps the flag of the edge towards the earlier key.
  g.setDisabled();
  g.createNode(n[0], true);
  g.createNode(n[1], true);
  EXPECT_FALSE(ab->isEnabled());
  EXPECT_TRUE(ba->isEnabled());

  // Filtered iterators over a disabled node: no in-edge, enabled out-edges.
  g.createNode(n[1], false);
  EXPECT_FALSE(EdgeInIterator(*g.getNode(n[1]), true).ok());
  EXPECT_TRUE(EdgeInIterator(*g.getNode(n[1]), false).ok());
  EdgeOutIterator out(*g.getNode(n[1]), true);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(ba, *out);
  ++out;
  EXPECT_FALSE(out.ok());
  EXPECT_EQ(nullptr, *out);

  // Removal unlinks the node's edges from its neighbours.
  g.createEdge(n[2], n[0], 1.0, true);
  g.removeNode(n[1]);
  EXPECT_EQ(nullptr, g.getNode(n[1]));
  EXPECT_EQ(1u, g.getNode(n[0])->getInEdges().size());
  EXPECT_TRUE(g.getNode(n[0])->getOutEdges().empty());
  g.removeNode(n[1]);
  EXPECT_EQ(2u, g.getNodes().size());
}

TEST(FlowGraph, Checks) {
  Names n(2);
  Graph g;
  Node* a = g.createNode(n[0], true);
  Node* b = g.createNode(n[1], true);
  Edge* max = g.createEdge(n[0], n[1], Edge::getMaxCapacity(), true);
  EXPECT_EQ(std::numeric_limits<double>::max(), max->getCapacity());

  Error e = failure([&] { new Edge(b, a, std::numeric_limits<double>::infinity(), true); });
  EXPECT_EQ("capacity <= getMaxCapacity()", e.getCondition());
  EXPECT_EQ("Edge constructor invoked with capacity 'inf' larger than maximum capacity '1.79769e+308'",
            e.getMsg());
  EXPECT_TRUE(b->getOutEdges().empty());
  e = failure([&] { g.getEdge(0, b); });
  EXPECT_EQ("0 != source", e.getCondition());
  EXPECT_EQ("Null not allowed as input for source", e.getMsg());
  e = failure([&] { Edge::getIdentity(a, 0); });
  EXPECT_EQ("0 != target", e.getCondition());
  e = failure([&] { a->addOutEdge(0); });
  EXPECT_EQ("Null not allowed as input for edge", e.getMsg());
  Names other(1);
  Graph elsewhere;
  Node* stray = elsewhere.createNode(other[0], true);
  e = failure([&] { MaximumFlowAlgorithm mf(&g, a, stray); });
  EXPECT_EQ("g->getNode( sink->getIdentity() ) != 0", e.getCondition());
  EXPECT_EQ("Sink is not part of the graph", e.getMsg());

  // An enabled edge without an enabled opposite stops a run from scratch.
  MaximumFlowAlgorithm mf(&g, a, b);
  e = failure([&] { mf.execute(true); });
  EXPECT_EQ(0u, e.getMsg().find("No (enabled) reverse edge for edge '["));
  g.createNode(n[1], false);
  e = failure([&] { mf.execute(true); });
  EXPECT_NE(std::string::npos, e.getMsg().find("Sink '["));
  EXPECT_NE(std::string::npos, e.getMsg().find("' is not enabled."));
}

// Nodes found by number, and what removed nodes and edges leave for the
// next ones made: a node made from a spare is one just made, and edges come
// in creation order whatever memory they take.
// The vector of nodes the runs walk against the map it stands for.
::testing::AssertionResult inKeyOrder(const Graph& g) {
  std::vector<Node*> mapped;
  for (const auto& entry : g.getNodes())
    mapped.push_back(entry.second);
  if (mapped == g.nodesInOrder())
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << g.nodesInOrder().size() << " nodes listed for " << mapped.size()
                                       << ", or out of the map's order";
}

TEST(FlowGraph, NumberedNodesAndSpares) {
  Names n(5);
  Graph g;
  Node* a = g.createNode(n[0], true, 3);
  EXPECT_EQ(a, g.nodeAt(3));
  EXPECT_EQ(nullptr, g.nodeAt(0));
  EXPECT_EQ(nullptr, g.nodeAt(-1));
  EXPECT_EQ(nullptr, g.nodeAt(99));
  // A node made by handle gets its number when one is given.
  Node* b = g.createNode(n[1], true);
  EXPECT_EQ(nullptr, g.nodeAt(1));
  EXPECT_EQ(b, g.createNode(n[1], false, 1));
  EXPECT_EQ(b, g.nodeAt(1));
  EXPECT_FALSE(b->isEnabled());
  Error e = failure([&] { g.createNode(n[2], true, 3); });
  EXPECT_EQ("A number names another transaction's node", e.getMsg());
  // link enables both ends, as createEdge by handles does.
  Edge* ab = g.link(a, b, 2.0, true);
  EXPECT_TRUE(b->isEnabled());
  EXPECT_TRUE(ab->isEnabled());
  g.link(b, a, 0.0, true);
  Node* c = g.createNode(n[2], true, 0);
  g.link(c, a, 1.0, true);
  g.link(a, c, 0.0, true);

  EXPECT_TRUE(inKeyOrder(g));
  // Removal frees the number and keeps the memory.
  g.removeNode(n[0]);
  EXPECT_TRUE(inKeyOrder(g));
  EXPECT_EQ(nullptr, g.nodeAt(3));
  EXPECT_EQ(1u, g.spareNodes());
  EXPECT_EQ(4u, g.spareEdges());
  EXPECT_TRUE(b->getOutEdges().empty() && b->getInEdges().empty());
  Node* d = g.createNode(n[3], true, 3);
  EXPECT_TRUE(inKeyOrder(g));
  EXPECT_EQ(0u, g.spareNodes());
  EXPECT_EQ(d, g.nodeAt(3));
  EXPECT_EQ(n[3], d->getIdentity());
  EXPECT_TRUE(d->getOutEdges().empty() && d->getInEdges().empty());
  EXPECT_EQ(-1, d->getVisit());
  EXPECT_EQ(-1, d->getIndex());
  EXPECT_EQ(-1, d->getSlot());
  EXPECT_FALSE(d->mayHoldFlow());
  Edge* db = g.link(d, b, 5.0, true);
  Edge* bd = g.link(b, d, 0.0, false);
  EXPECT_EQ(2u, g.spareEdges());
  EXPECT_EQ(db, bd->getPartner());
  EXPECT_EQ(0.0, MaximumFlowAlgorithm(&g, d, b).getFlow(db));
  EXPECT_FALSE(bd->isFlagged());
  EXPECT_EQ(5.0, db->getCapacity());
  ASSERT_EQ(1u, d->getOutEdges().size());
  EXPECT_EQ(db, d->getOutEdges()[0]);

  // Everything but two kept nodes goes; those two are as if just made.
  Node* s = g.createNode(n[4], true);
  g.link(s, c, 1.0, true);
  g.link(c, s, 0.0, true);
  s->setVisit(7);
  s->setSlot(2);
  EXPECT_FALSE(g.keepOnly(b, d));  // joined directly: nothing changes
  EXPECT_EQ(4u, g.getNodes().size());
  EXPECT_TRUE(inKeyOrder(g));
  EXPECT_TRUE(g.keepOnly(s, b));
  EXPECT_TRUE(inKeyOrder(g));
  EXPECT_EQ(2u, g.getNodes().size());
  EXPECT_EQ(s, g.getNode(n[4]));
  EXPECT_EQ(b, g.getNode(n[1]));
  EXPECT_EQ(nullptr, g.getNode(n[2]));
  EXPECT_EQ(nullptr, g.nodeAt(0));
  EXPECT_EQ(nullptr, g.nodeAt(3));
  EXPECT_TRUE(s->getOutEdges().empty() && s->getInEdges().empty());
  EXPECT_EQ(-1, s->getVisit());
  EXPECT_EQ(-1, s->getSlot());
  EXPECT_TRUE(b->isEnabled());
  EXPECT_EQ(2u, g.getCacheMarks().touched().size());
  EXPECT_EQ(2u, g.spareNodes());
  g.trimSpare(1, 3);
  EXPECT_EQ(1u, g.spareNodes());
  EXPECT_EQ(3u, g.spareEdges());
}

// Finding an edge and pairing a new one through whichever list at the two
// ends is shorter, against plain scans of the source's out-list and of the
// target's: with hub nodes of long lists, and duplicate and opposite edges
// made outside the graph, the same edge and the same partner each time.
TEST(FlowGraph, EdgeLookupsFromEitherEndAgreeWithOutListScans) {
  std::mt19937 rng(60607u);
  for (int round = 0; round < 300; ++round) {
    const int size = 3 + (int) (rng() % 8);
    Names n(size);
    Graph g;
    std::vector<Node*> nodes;
    for (int i = 0; i < size; ++i)
      nodes.push_back(g.createNode(n[i], true));
    const std::string context = "round " + std::to_string(round);
    for (int step = 0; step < 40; ++step) {
      // Nodes 0 and 1 are hubs, as a network's terminals are.
      const int u = rng() % 3 == 0 ? (int) (rng() % 2) : (int) (rng() % size);
      const int v = rng() % 3 == 0 ? (int) (rng() % 2) : (int) (rng() % size);
      if (u == v)
        continue;
      Edge* expectedPartner = 0;
      for (Edge* e : nodes[v]->getOutEdges())
        if (e->getTarget() == nodes[u] && e->getPartner() == 0) {
          expectedPartner = e;
          break;
        }
      Edge* existing = 0;
      for (Edge* e : nodes[u]->getOutEdges())
        if (e->getTarget() == nodes[v]) {
          existing = e;
          break;
        }
      if (rng() % 4 == 0) {
        Edge* made = new Edge(nodes[u], nodes[v], 1.0, true);
        ASSERT_EQ(expectedPartner, made->getPartner()) << context;
      }
      else {
        Edge* made = g.createEdge(n[u], n[v], 1.0, true);
        ASSERT_EQ(existing != 0 ? existing : made, made) << context;
        if (existing == 0) {
          ASSERT_EQ(expectedPartner, made->getPartner()) << context;
        }
      }
      for (int a = 0; a < size; ++a)
        for (int b = 0; b < size; ++b) {
          Edge* first = 0;
          for (Edge* e : nodes[a]->getOutEdges())
            if (e->getTarget() == nodes[b]) {
              first = e;
              break;
            }
          ASSERT_EQ(first, g.getEdge(nodes[a], nodes[b])) << context;
        }
    }
  }
}

TEST(MaximumFlow, WorkedNetwork) {
  // The textbook network: s=0, t=5, maximum flow 23; the random networks below check the rest.
  Names n(6);
  Graph g;
  const int arcs[][3] = {{0, 1, 16}, {0, 2, 13}, {1, 3, 12}, {2, 1, 4}, {2, 4, 14},
                         {3, 2, 9},  {3, 5, 20}, {4, 3, 7},  {4, 5, 4}};
  for (const auto& a : arcs)
    arc(g, n, a[0], a[1], a[2]);
  Node* s = g.getNode(n[0]);
  MaximumFlowAlgorithm mf(&g, s, g.getNode(n[5]));
  mf.execute(true);
  EXPECT_EQ(23.0, flowValue(mf, s));
  // A disabled node is out of the network: its edges are not initialised.
  g.getNode(n[4])->setDisabled();
  mf.execute(true);
  EXPECT_EQ(0.0, mf.getFlow(g.getEdge(g.getNode(n[2]), g.getNode(n[4]))));
}

TEST(MaximumFlow, PushFlowBackReroutes) {
  // s -> a -> n -> t and a -> b -> t: taking n out sends a's flow through b.
  Names x(5);
  enum { S, A, N, B, T };
  Graph g;
  arc(g, x, S, A, 5);
  arc(g, x, A, N, 5);
  arc(g, x, N, T, 5);
  arc(g, x, A, B, 3);
  arc(g, x, B, T, 10);
  Node* s = g.getNode(x[S]);
  Node* n = g.getNode(x[N]);
  MaximumFlowAlgorithm mf(&g, s, g.getNode(x[T]));
  mf.execute(true);
  EXPECT_EQ(5.0, flowValue(mf, s));
  Edge* an = g.getEdge(g.getNode(x[A]), n);
  const double before = mf.getFlow(an);
  EXPECT_GT(before, 0.0);
  mf.pushFlowBack(n);
  EXPECT_EQ(0.0, mf.getFlow(an));
  EXPECT_EQ(0.0, mf.getFlow(g.getEdge(n, g.getNode(x[A]))));
  n->setDisabled();
  mf.execute(false);
  // Only b's 3 get through now; the rest went back to the source.
  EXPECT_EQ(3.0, flowValue(mf, s));
  EXPECT_EQ(3.0, mf.getFlow(g.getEdge(g.getNode(x[A]), g.getNode(x[B]))));
}

TEST(MaximumFlow, RandomNetworksAgainstEdmondsKarp) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 3000; ++round) {
    const int size = 2 + (int) (rng() % 9);
    Names n(size);
    Graph g;
    for (int i = 0; i < size; ++i)
      g.createNode(n[i], true);
    const int s = (int) (rng() % size);
    int t = (int) (rng() % size);
    if (t == s)
      t = (s + 1) % size;
    for (int u = 0; u < size; ++u)
      for (int v = 0; v < size; ++v) {
        if (u == v || rng() % 3 != 0)
          continue;
        // Mostly small integers, with the odd fractional capacity and, as
        // between ordered transactions, unbounded edges away from the source.
        double cap = (double) (rng() % 10);
        if (u != s && rng() % 10 == 0)
          cap = Edge::getMaxCapacity();
        else if (rng() % 7 == 0) {
          cap += 0.25 * (double) (rng() % 4);
        }
        arc(g, n, u, v, cap);
      }
    for (int i = 0; i < size; ++i)
      if (i != s && i != t && rng() % 6 == 0)
        g.getNode(n[i])->setDisabled();
    Node* source = g.getNode(n[s]);
    Node* sink = g.getNode(n[t]);
    MaximumFlowAlgorithm mf(&g, source, sink);
    mf.execute(true);
    expectMaximum(g, mf, source, sink, "round " + std::to_string(round));
    if (::testing::Test::HasFailure())
      return;
    mf.execute(false);
    expectMaximum(g, mf, source, sink, "resumed, round " + std::to_string(round));
    if (::testing::Test::HasFailure())
      return;
  }
}

// The maximum flow resumed after each of a random sequence of changes (as
// the flow profiles make them: transactions switched off or deleted, flow
// handed back, orderings added, capacities changed) against Edmonds-Karp on
// the changed network: same value, same residual reachable set, and a valid
// flow. KORVAN_FLOW_ROUNDS sets the number of networks.
TEST(MaximumFlow, ResumedAgainstReference) {
  const int rounds = roundsFromEnvironment(1500);
  for (int round = firstSeed() - 1; round < firstSeed() - 1 + rounds; ++round) {
    std::mt19937 rng(7919u * (unsigned) round + 17u);
    const int size = 3 + (int) (rng() % 10);
    Names n(size);
    Graph g;
    std::vector<std::string> steps;
    auto randomCapacity = [&](bool fromSource) {
      if (!fromSource && rng() % 8 == 0)
        return Edge::getMaxCapacity();
      return (double) (rng() % 9) + (rng() % 5 == 0 ? 0.5 : 0.0);
    };
    for (int i = 0; i < size; ++i)
      g.createNode(n[i], true);
    const int s = 0, t = 1;
    auto addArc = [&](int u, int v) {
      const double cap = randomCapacity(u == s);
      arc(g, n, u, v, cap);
      steps.push_back("arc " + std::to_string(u) + "->" + std::to_string(v) + " cap " + capacityText(cap));
    };
    for (int u = 0; u < size; ++u)
      for (int v = 0; v < size; ++v)
        if (u != v && v != s && u != t && rng() % 3 == 0)
          addArc(u, v);
    Node* source = g.getNode(n[s]);
    Node* sink = g.getNode(n[t]);
    MaximumFlowAlgorithm mf(&g, source, sink);
    auto story = [&]() {
      std::string text = "round " + std::to_string(round) + ", source 0, sink 1:\n";
      for (const std::string& step : steps)
        text += "  " + step + "\n";
      return text;
    };
    auto compare = [&](bool resume) {
      mf.execute(!resume);
      expectMaximum(g, mf, source, sink, story());
    };
    compare(false);
    if (::testing::Test::HasFailure())
      return;
    std::vector<bool> removed(size, false);
    for (int change = 0; change < 6; ++change) {
      const int x = 2 + (int) (rng() % (size - 2));
      Node* node = removed[x] ? 0 : g.getNode(n[x]);
      switch (rng() % 6) {
      case 0:
        if (node != 0 && node->isEnabled()) {
          // As when a transaction ends: its inflow handed back, then off.
          mf.pushFlowBack(node);
          node->setDisabled();
          steps.push_back("flow into " + std::to_string(x) + " handed back, node off");
        }
        break;
      case 1:
        if (node != 0) {
          node->setEnabled();
          steps.push_back("node " + std::to_string(x) + " on");
        }
        break;
      case 2:
        if (node != 0) {
          g.removeNode(n[x]);
          removed[x] = true;
          steps.push_back("node " + std::to_string(x) + " deleted");
        }
        break;
      case 3: {
        const int y = (int) (rng() % size);
        if (node != 0 && y != x && !removed[y] && y != t)
          addArc(y == s ? s : x, y == s ? x : y);
        break;
      }
      case 4:
        if (node != 0 && !node->getOutEdges().empty()) {
          Edge* e = node->getOutEdges()[rng() % node->getOutEdges().size()];
          const double cap = e->getCapacity() == 0.0 ? 0.0 : randomCapacity(false);
          e->setCapacity(cap);
          steps.push_back("edge " + std::to_string(x) + "-> out " + capacityText(cap));
        }
        break;
      default:
        if (node != 0 && node->isEnabled() && !node->getInEdges().empty()) {
          Edge* e = node->getInEdges()[rng() % node->getInEdges().size()];
          if (e->getSource() == source && e->getCapacity() != 0.0) {
            e->setCapacity(randomCapacity(true));
            steps.push_back("source edge into " + std::to_string(x) + " cap " + capacityText(e->getCapacity()));
          }
        }
        break;
      }
      compare(true);
      if (::testing::Test::HasFailure())
        return;
    }
  }
}

// One algorithm kept over a random sequence of changes (edges and nodes
// switched off and on, nodes deleted, arcs added, flow handed back) and of
// runs, resumed or from scratch and often back to back over an unchanged
// network: every run is a maximum flow, and a run from scratch leaves no flow
// outside the part of the network it ran over. KORVAN_FLOW_ROUNDS sets the
// number of networks.
TEST(MaximumFlow, KeptOverChangesAndRepeatedRuns) {
  const int rounds = roundsFromEnvironment(1500);
  for (int round = firstSeed() - 1; round < firstSeed() - 1 + rounds; ++round) {
    std::mt19937 rng(104729u * (unsigned) round + 3u);
    const int size = 3 + (int) (rng() % 9);
    Names n(size);
    Graph g;
    for (int i = 0; i < size; ++i)
      g.createNode(n[i], true);
    const int s = 0, t = 1;
    for (int u = 0; u < size; ++u)
      for (int v = 0; v < size; ++v)
        if (u != v && v != s && u != t && rng() % 3 == 0)
          arc(g, n, u, v, (u != s && rng() % 8 == 0) ? Edge::getMaxCapacity() : (double) (rng() % 9));
    Node* source = g.getNode(n[s]);
    Node* sink = g.getNode(n[t]);
    MaximumFlowAlgorithm mf(&g, source, sink);
    std::vector<bool> removed(size, false);
    std::string story = "round " + std::to_string(round) + ":";
    for (int step = 0; step < 14; ++step) {
      const int x = 2 + (int) (rng() % (size - 2));
      Node* node = removed[x] ? 0 : g.getNode(n[x]);
      const unsigned what = rng() % 9;
      if (what < 3) {
        const bool reset = what == 0;
        mf.execute(reset);
        story += reset ? " scratch" : " resume";
        expectMaximum(g, mf, source, sink, story);
        if (::testing::Test::HasFailure())
          return;
        if (reset)
          for (NodeMap::const_iterator it = g.getNodes().begin(); it != g.getNodes().end(); ++it)
            for (Edge* e : it->second->getOutEdges())
              if (!it->second->isEnabled() || !e->isEnabled()) {
                ASSERT_EQ(0.0, mf.getFlow(e)) << *e << " after " << story;
              }
        continue;
      }
      if (node == 0)
        continue;
      switch (what) {
      case 3:
        if (node->isEnabled()) {
          mf.pushFlowBack(node);
          node->setDisabled();
          story += " off(" + std::to_string(x) + ")";
        }
        break;
      case 4:
        node->setEnabled();
        story += " on(" + std::to_string(x) + ")";
        break;
      case 5:
        g.removeNode(n[x]);
        removed[x] = true;
        story += " delete(" + std::to_string(x) + ")";
        break;
      case 6:
      case 7:
        if (!node->getOutEdges().empty()) {
          // An edge and its partner together, as a withdrawn ordering.
          Edge* e = node->getOutEdges()[rng() % node->getOutEdges().size()];
          const bool on = what == 6;
          if (on)
            e->setEnabled();
          else
            e->setDisabled();
          if (e->getPartner() != 0) {
            if (on)
              e->getPartner()->setEnabled();
            else
              e->getPartner()->setDisabled();
          }
          story += std::string(on ? " edge on(" : " edge off(") + std::to_string(x) + ")";
        }
        break;
      default: {
        const int y = 1 + (int) (rng() % (size - 1));
        if (y != x && !removed[y]) {
          arc(g, n, x, y, (double) (rng() % 9));
          // Made again, the ordering comes back both ways.
          g.getEdge(g.getNode(n[y]), node)->setEnabled();
          story += " arc(" + std::to_string(x) + "," + std::to_string(y) + ")";
        }
        break;
      }
      }
    }
  }
}

// One algorithm kept over random changes, whose resumed runs mend the arrays
// of the last run where the graph changed, against a twin graph given the
// same changes and a new algorithm for every run, which builds its arrays
// afresh: the same flow on every edge after every run, and a maximum one.
// KORVAN_FLOW_ROUNDS sets the number of networks.
TEST(MaximumFlow, MendedArraysAgreeWithFreshOnes) {
  const int rounds = roundsFromEnvironment(1500);
  for (int round = firstSeed() - 1; round < firstSeed() - 1 + rounds; ++round) {
    std::mt19937 rng(15485863u * (unsigned) round + 5u);
    const int size = 4 + (int) (rng() % 12);
    Names n(size);
    Graph kept, twin;
    Graph* graphs[2] = {&kept, &twin};
    auto node = [&](Graph& g, int i) { return g.getNode(n[i]); };
    for (Graph* g : graphs)
      for (int i = 0; i < size; ++i)
        g->createNode(n[i], true);
    std::vector<std::pair<std::pair<int, int>, double>> arcs;
    for (int u = 0; u < size; ++u)
      for (int v = 2; v < size; ++v)
        if (u != v && u != 1 && rng() % 3 == 0)
          arcs.push_back({{u, v}, (u != 0 && rng() % 6 == 0) ? Edge::getMaxCapacity() : (double) (rng() % 9)});
    for (int v = 2; v < size; ++v)
      if (rng() % 2 == 0)
        arcs.push_back({{v, 1}, (double) (rng() % 9)});
    for (Graph* g : graphs)
      for (const auto& a : arcs)
        arc(*g, n, a.first.first, a.first.second, a.second);
    MaximumFlowAlgorithm mf(&kept, node(kept, 0), node(kept, 1));
    std::vector<bool> removed(size, false);
    std::string story = "round " + std::to_string(round) + ":";
    for (int step = 0; step < 24; ++step) {
      const int x = 2 + (int) (rng() % (size - 2));
      const unsigned what = rng() % 10;
      if (what < 3) {
        const bool reset = what == 0;
        story += reset ? " scratch" : " resume";
        ASSERT_TRUE(inKeyOrder(kept)) << story;
        mf.execute(reset);
        MaximumFlowAlgorithm fresh(&twin, node(twin, 0), node(twin, 1));
        fresh.execute(reset);
        for (int i = 0; i < size; ++i) {
          if (removed[i])
            continue;
          const EdgeList& a = node(kept, i)->getOutEdges();
          const EdgeList& b = node(twin, i)->getOutEdges();
          ASSERT_EQ(a.size(), b.size()) << story;
          for (std::size_t k = 0; k < a.size(); ++k)
            ASSERT_EQ(mf.getFlow(a[k]), fresh.getFlow(b[k])) << *a[k] << " after" << story;
        }
        expectMaximum(kept, mf, node(kept, 0), node(kept, 1), story);
        if (::testing::Test::HasFailure())
          return;
        continue;
      }
      if (removed[x])
        continue;
      const unsigned pick = (unsigned) rng();
      const double cap = (double) (rng() % 9);
      const int y = 1 + (int) (rng() % (size - 1));
      for (int side = 0; side < 2; ++side) {
        Graph& g = *graphs[side];
        Node* at = node(g, x);
        switch (what) {
        case 3:
          if (at->isEnabled()) {
            if (side == 0)
              mf.pushFlowBack(at);
            else
              MaximumFlowAlgorithm(&twin, node(twin, 0), node(twin, 1)).pushFlowBack(at);
            // Flow handed back, at times with the node left on.
            if (pick % 2 == 0)
              at->setDisabled();
          }
          break;
        case 4:
          at->setEnabled();
          break;
        case 5:
          g.removeNode(n[x]);
          break;
        case 6:
        case 7:
          if (!at->getOutEdges().empty()) {
            // With its partner, as a withdrawn ordering.
            Edge* e = at->getOutEdges()[pick % at->getOutEdges().size()];
            for (Edge* f : {e, e->getPartner()})
              if (f != 0) {
                if (what == 6)
                  f->setEnabled();
                else
                  f->setDisabled();
              }
          }
          break;
        case 8:
          if (!at->getOutEdges().empty()) {
            Edge* e = at->getOutEdges()[pick % at->getOutEdges().size()];
            if (e->getCapacity() != 0.0)
              e->setCapacity(cap);
          }
          break;
        default:
          if (y != x && !removed[y]) {
            arc(g, n, x, y, cap);
            g.getEdge(node(g, y), at)->setEnabled();
          }
          break;
        }
      }
      if (what == 5)
        removed[x] = true;
      story += " " + std::to_string(what) + "(" + std::to_string(x) + "," + std::to_string(y) + ")";
    }
  }
}

// The graph's record of touched nodes through random switches, capacity
// changes and deletions: it lists exactly the live nodes that report
// themselves touched, each once, and forgets them when cleared.
TEST(FlowGraph, ChangeRecordListsTheTouchedNodes) {
  std::mt19937 rng(4241u);
  for (int round = 0; round < 200; ++round) {
    const int size = 3 + (int) (rng() % 10);
    Names n(size);
    Graph g;
    for (int i = 0; i < size; ++i)
      g.createNode(n[i], true);
    for (int u = 0; u < size; ++u)
      for (int v = 0; v < size; ++v)
        if (u != v && rng() % 3 == 0 && g.getEdge(g.getNode(n[u]), g.getNode(n[v])) == 0)
          arc(g, n, u, v, 1.0);
    std::vector<bool> removed(size, false);
    const std::string context = "round " + std::to_string(round);
    for (int step = 0; step < 12; ++step) {
      const int x = (int) (rng() % size);
      if (removed[x])
        continue;
      Node* node = g.getNode(n[x]);
      const unsigned long before = g.getChanges();
      switch (rng() % 4) {
      case 0:
        node->setDisabled();
        node->setEnabled();
        // Every neighbour's arcs to it came and went.
        for (Edge* e : node->getOutEdges())
          EXPECT_TRUE(e->getTarget()->isTouched()) << context;
        for (Edge* e : node->getInEdges())
          EXPECT_TRUE(e->getSource()->isTouched()) << context;
        break;
      case 1:
        if (!node->getOutEdges().empty()) {
          Edge* e = node->getOutEdges()[0];
          e->setCapacity(e->getCapacity() + 1.0);
          EXPECT_LT(before, g.getChanges()) << context;
          EXPECT_TRUE(e->getSource()->isTouched() && e->getTarget()->isTouched()) << context;
        }
        break;
      case 2:
        g.removeNode(n[x]);
        removed[x] = true;
        break;
      default: {
        // Cleared by whoever builds from the graph.
        g.getCacheMarks().clearTouched();
        break;
      }
      }
      const std::vector<Node*>& touched = g.getCacheMarks().touched();
      std::set<Node*> listed(touched.begin(), touched.end());
      ASSERT_EQ(listed.size(), touched.size()) << context;
      for (NodeMap::const_iterator it = g.getNodes().begin(); it != g.getNodes().end(); ++it)
        ASSERT_EQ(it->second->isTouched(), listed.count(it->second) == 1) << context;
      ASSERT_EQ(listed.size(), (std::size_t) std::count_if(g.getNodes().begin(), g.getNodes().end(),
                                                           [](const NodeMap::value_type& v) { return v.second->isTouched(); }))
        << context;
    }
  }
}
