// Flow profile networks and level computation: worked examples, the change
// handlers' windows, and a randomised comparison of the flow and incremental
// flow profiles with a brute-force envelope and with the timetable profile.

#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/test/TestHelpers.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ReferenceFlow.hh"
#include "Resource/test/ResourceTestSupport.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalNetwork.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

template <class Base>
class Exposed : public Base {
public:
  Exposed(Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub) : Base(db, detector, lb, ub) {}
  typedef typename Base::OrderingCache OrderingCache;
  using Base::getOrdering;
  using Base::computeOrdering;
  using Base::noteOutsideChanges;
  using Base::m_orderings;
  using Base::m_orderedAt;
  using Base::SURVIVES_NOTHING;
  using Base::m_recalculateLowerLevel;
  using Base::m_recalculateUpperLevel;
  using Base::m_recomputeInterval;
  using Base::numberOf;
  using Base::m_lowerLevelGraph;
  using Base::m_upperLevelGraph;
  const std::map<int, InstantId>& instants() const { return this->m_instants; }
  InstantId at(int time) const { return this->m_instants.find(time)->second; }
};
typedef Exposed<FlowProfile> TestFlowProfile;
typedef Exposed<IncrementalFlowProfile> TestIncrementalProfile;

ConstraintId precedes(ProfileWorld& w, TransactionId a, TransactionId b) {
  return w.ce->createConstraint(LabelStr("precedes"), {a->time(), b->time()});
}

std::unique_ptr<Profile> flowProfile(bool incremental, ProfileWorld& w, RecordingDetector& det, double lb, double ub) {
  if (incremental)
    return std::unique_ptr<Profile>(new TestIncrementalProfile(w.db->getId(), det.getId(), lb, ub));
  return std::unique_ptr<Profile>(new TestFlowProfile(w.db->getId(), det.getId(), lb, ub));
}

}

TEST(FlowProfileGraph, WorkedExampleAndZeroCapacities) {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId c = w.make(0, 10, true, 2, 5), p = w.make(0, 10, false, 3, 4);
  TransactionId free = w.make(0, 10, true, 0, 5);
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  w.ce->propagate();
  prof.addTransaction(c);
  prof.recompute();
  InstantId inst = prof.at(0);

  for (int atOrBefore = 0; atOrBefore < 2; ++atOrBefore) {
    FlowProfileGraph lower(src, snk, true), upper(src, snk, false);
    ContributionMap lc, uc;
    for (FlowProfileGraph* g : {&lower, &upper}) {
      ContributionMap& m = g == &lower ? lc : uc;
      g->enableTransaction(c, inst, m);
      g->enableTransaction(p, inst, m);
      g->enableTransaction(free, inst, m);
      if (atOrBefore)
        g->enableAtOrBefore(c, p);
      else
        g->enableAt(c, p);
    }
    EXPECT_EQ(atOrBefore ? 10.0 : 7.0, lower.getResidualFromSource());
    EXPECT_EQ(2.0, upper.getResidualFromSource());
    // The consumer with nothing at least in it never enters the upper network.
    EXPECT_TRUE(lower.isEnabled(free));
    EXPECT_FALSE(upper.hasNode(free));
    EXPECT_EQ(1u, uc.count(free));
    EXPECT_EQ(0u, lc.count(free));
    // No node, no ordering edge, no pending recalculation.
    EXPECT_FALSE(upper.needsRecalculation());
    upper.enableAt(free, c);
    EXPECT_FALSE(upper.needsRecalculation());
    EXPECT_EQ("0 != node", failure([&] { upper.disable(free); }).getCondition());

    // With nothing changed since the last run the walk does nothing; after a
    // change it takes out what the source still reaches: the free consumer
    // and c, and p too when c may be at p's time.
    EXPECT_EQ(0.0, lower.disableReachableResidualGraph(lc, inst));
    lower.enableTransaction(free, inst, lc);
    EXPECT_EQ(atOrBefore ? -10.0 : -7.0, lower.disableReachableResidualGraph(lc, inst));
    EXPECT_FALSE(lower.isEnabled(free));
    EXPECT_FALSE(lower.isEnabled(c));
    EXPECT_EQ(atOrBefore == 0, !lower.isEnabled(p));
    EXPECT_TRUE(lower.needsRecalculation());
    EXPECT_EQ(0.0, lower.getResidualFromSource());
    lower.reset();
    EXPECT_EQ(0.0, lower.getResidualFromSource());
    EXPECT_EQ(0.0, lower.disableReachableResidualGraph(lc, inst));
    EXPECT_TRUE(lower.wasTakenOut(c));
    EXPECT_EQ("0 != node", failure([&] { lower.disable(c); }).getCondition());
    if (atOrBefore) {  // p is still there, switched off by the reset
      EXPECT_EQ("node->isEnabled()", failure([&] { lower.disable(p); }).getCondition());
    }
  }
}

// A transaction switched off with flow still through it: the next read
// runs the flow of the network without it, but no walk becomes due, since
// whether the flow held runs through it depends on which maximum flow was
// found. Upper network of the worked example: source -> p (4), c -> sink (2),
// c and p at the same time; the flow of 2 runs through c.
TEST(FlowProfileGraph, BareSwitchOffRunsTheNextReadOnly) {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId c = w.make(0, 10, true, 2, 5), p = w.make(0, 10, false, 3, 4);
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  w.ce->propagate();
  prof.addTransaction(c);
  prof.recompute();
  InstantId inst = prof.at(0);
  for (int quiet = 0; quiet < 2; ++quiet) {
    // With the marker on, the same: its lines come from a run beside it.
    if (quiet == 0)
      DebugMessage::enable("MaximumFlowAlgorithm:execute");
    std::ostringstream discarded;
    DebugMessage::setStream(discarded);
    FlowProfileGraph upper(src, snk, false);
    ContributionMap uc;
    upper.enableTransaction(c, inst, uc);
    upper.enableTransaction(p, inst, uc);
    upper.enableAt(c, p);
    EXPECT_EQ(2.0, upper.getResidualFromSource());
    upper.disable(c);
    EXPECT_FALSE(upper.needsRecalculation());
    EXPECT_EQ(0.0, upper.disableReachableResidualGraph(uc, inst));
    EXPECT_TRUE(upper.isEnabled(p));
    EXPECT_EQ(4.0, upper.getResidualFromSource());
    std::vector<TransactionId> reached;
    upper.getReachableResidualTransactions(reached);
    EXPECT_EQ(std::vector<TransactionId>{p}, reached);
    DebugMessage::disableAll();
    DebugMessage::setStream(std::cerr);
  }
}

// Flow handed back (pushFlow) changes no node, edge or capacity, so the
// graph's change count stays, yet the flow held is no longer a maximum flow:
// the next run, whatever made it due, must complete it, as a network made
// anew would. Upper network of the example above: the flow of 2 runs
// source -> p -> c -> sink; with p's inflow handed back, 4 is left at the
// source until a run.
TEST(FlowProfileGraph, FlowHandedBackIsCompletedByTheNextRun) {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId c = w.make(0, 10, true, 2, 5), p = w.make(0, 10, false, 3, 4);
  TransactionId none = w.make(0, 10, true, 0, 0);
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  w.ce->propagate();
  prof.addTransaction(c);
  prof.recompute();
  const InstantId inst = prof.at(0);
  ContributionMap uc;
  // Calls that make the next read run without changing the graph.
  const std::vector<std::pair<std::string, std::function<void(FlowProfileGraph&)>>> dueBy = {
    {"the pair ordered again", [&](FlowProfileGraph& g) { g.enableAt(c, p); }},
    {"a transaction without a node removed", [&](FlowProfileGraph& g) { g.removeTransaction(none); }},
    {"p enabled again with its bound", [&](FlowProfileGraph& g) { g.enableTransaction(p, inst, uc); }},
  };
  for (const auto& due : dueBy) {
    FlowProfileGraph kept(src, snk, false), fresh(src, snk, false);
    for (FlowProfileGraph* g : {&kept, &fresh}) {
      g->enableTransaction(c, inst, uc);
      g->enableTransaction(p, inst, uc);
      g->enableAt(c, p);
    }
    EXPECT_EQ(2.0, kept.getResidualFromSource());
    const unsigned long changes = kept.getGraph().getChanges();
    kept.pushFlow(p);
    due.second(kept);
    EXPECT_EQ(changes, kept.getGraph().getChanges()) << due.first;
    ASSERT_TRUE(kept.needsRecalculation()) << due.first;
    EXPECT_EQ(fresh.getResidualFromSource(), kept.getResidualFromSource()) << due.first;
    EXPECT_EQ(2.0, kept.getResidualFromSource()) << due.first;
  }
}

// A chain p <= m <= c of a producer, a middle consumer and a consumer, with
// time bounds that say nothing of the chain: opening c needs an edge to m
// only; when m leaves, p must still be known to come before c.
TEST(FlowProfileGraph, NearestPartnerOfAChainAndItsBypass) {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId p = w.make(5, 30, false, 2, 2), m = w.make(0, 30, true, 1, 1), c = w.make(0, 10, true, 3, 3);
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  w.ce->propagate();
  prof.addTransaction(m);
  prof.recompute();
  const InstantId inst = prof.at(0);
  FlowProfileGraph lower(src, snk, true);
  ContributionMap contributions;
  for (TransactionId t : {p, m, c})
    lower.enableTransaction(t, inst, contributions);
  std::vector<char> needed;
  lower.selectNearest(m, {p}, {FlowProfileGraph::AT_OR_BEFORE}, needed);
  EXPECT_EQ(std::vector<char>({1}), needed);
  lower.enableAtOrBefore(p, m);
  lower.selectNearest(c, {p, m}, {FlowProfileGraph::AT_OR_BEFORE, FlowProfileGraph::AT_OR_BEFORE}, needed);
  EXPECT_EQ(std::vector<char>({0, 1}), needed);
  lower.enableAtOrBefore(m, c);
  // The consumers' 4 can reach the producer's 2 only: 2 left at the source.
  EXPECT_EQ(2.0, lower.getResidualFromSource());
  // Without m, c's 3 still reaches p through the edge the bypass adds.
  lower.bypass(m);
  lower.removeTransaction(m);
  EXPECT_EQ(1.0, lower.getResidualFromSource());
  // Both orders of a strictly simultaneous pair make each the other's
  // partner on both sides: one edge pair is enough.
  TransactionId q = w.make(0, 30, true, 1, 1);
  lower.enableTransaction(q, inst, contributions);
  lower.selectNearest(q, {c}, {FlowProfileGraph::AT_OR_BEFORE | FlowProfileGraph::AT_OR_AFTER}, needed);
  EXPECT_EQ(std::vector<char>({1}), needed);
  lower.enableAt(q, c);
  EXPECT_EQ(2.0, lower.getResidualFromSource());
  // A transaction without a node here needs no edge and gets none.
  TransactionId none = w.make(0, 30, false, 0, 4);
  lower.enableTransaction(none, inst, contributions);
  lower.selectNearest(none, {c}, {FlowProfileGraph::AT_OR_AFTER}, needed);
  EXPECT_EQ(std::vector<char>({0}), needed);
}

// An earlier pass ordered producer y before consumer x; in the next, x comes
// before m before y, and the bypass of m orders x before y over the edge pair
// the earlier pass left switched off. Its edge from x to y must come back
// empty: with its old unbounded capacity x's 3 would reach y's 2. Reset and
// started over, the network reads as one made anew for the pass.
TEST(FlowProfileGraph, BypassOverAnEarlierPassesOrderingReadsAsANewNetwork) {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  TransactionId x = w.make(0, 30, true, 3, 3), y = w.make(0, 30, false, 2, 2), m = w.make(0, 30, true, 1, 1);
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  w.ce->propagate();
  prof.addTransaction(m);
  prof.recompute();
  const InstantId inst = prof.at(0);
  auto pass = [&](FlowProfileGraph& g) {
    ContributionMap contributions;
    for (TransactionId t : {x, y, m})
      g.enableTransaction(t, inst, contributions);
    g.enableAtOrBefore(x, m);
    g.enableAtOrBefore(m, y);
    g.bypass(m);
    g.removeTransaction(m);
    return g.getResidualFromSource();
  };
  for (bool lowerLevel : {true, false})
    for (bool startOver : {false, true}) {
      FlowProfileGraph kept(src, snk, lowerLevel), fresh(src, snk, lowerLevel);
      ContributionMap contributions;
      kept.enableTransaction(x, inst, contributions);
      kept.enableTransaction(y, inst, contributions);
      kept.enableAtOrBefore(y, x);
      EXPECT_EQ(lowerLevel ? 1.0 : 2.0, kept.getResidualFromSource());
      if (startOver)
        ASSERT_TRUE(kept.startOver());
      else
        kept.reset();
      // Lower level: x's 3 has no producer before it. Upper: y's 2 all reach x.
      const double expected = lowerLevel ? 3.0 : 0.0;
      EXPECT_EQ(expected, pass(fresh)) << lowerLevel;
      EXPECT_EQ(expected, pass(kept)) << lowerLevel << " " << startOver;
    }
}

namespace {

// A flow profile with one instant, at 0, and the source and sink of flow
// graphs built over it by hand.
struct OneInstantWorld {
  ProfileWorld w;
  TransactionId src = w.make(0, 0), snk = w.make(0, 0);
  RecordingDetector det;
  TestFlowProfile prof{w.db->getId(), det.getId(), 0, 0};
  InstantId inst;
  OneInstantWorld() {
    TransactionId anchorT = w.make(0, 0);
    w.ce->propagate();
    prof.addTransaction(anchorT);
    prof.recompute();
    inst = prof.at(0);
  }
};

// A network and its twin driven by the same calls, over transactions `ts`
// whose pairwise relations are `relation` (n by n, upper triangle: 0 none, 1
// at the same time, 2 i at or before j, 3 j at or before i). With
// `twinListed` every call on the twin runs with the debug sites of its runs
// and walks on, whose listing must change nothing. A failed check names `seed`, what was checked and
// `trail`. Random choices are drawn from `uniform`; with `readInWalkOrder`
// reads expect the same reach in the same walk order, else the same set.
// With `keptTakesNearest` the kept network gets ordering edges to the
// nearest ordered partners only, and bypasses those that end, against a twin
// with an edge pair for every ordered pair.
struct TwinGraphs {
  FlowProfileGraph& kept;
  FlowProfileGraph& twin;
  ContributionMap& keptMap;
  ContributionMap& twinMap;
  const std::vector<TransactionId>& ts;
  const std::vector<int>& relation;
  std::vector<int>& state;  // 0 not opened, 1 open, 2 gone
  TransactionId src, snk;
  InstantId inst;
  int seed;
  std::ostringstream& trail;
  std::function<int(int, int)> uniform;
  bool twinListed;
  bool readInWalkOrder;
  bool keptTakesNearest = false;

  void both(const std::function<void(FlowProfileGraph&, ContributionMap&)>& f) {
    f(kept, keptMap);
    for (const char* sites : {"MaximumFlowAlgorithm", "FlowProfileGraph"})
      if (twinListed)
        DebugMessage::enable(sites);
    f(twin, twinMap);
    for (const char* sites : {"MaximumFlowAlgorithm", "FlowProfileGraph"})
      if (twinListed)
        DebugMessage::disable(sites);
  }

  // What the source reaches in the kept network, by an independent maximum
  // flow, and the residual it leaves on the source's edges.
  std::vector<TransactionId> referenceReach(double& residual) const {
    const Graph& graph = kept.getGraph();
    Node* s = graph.getNode(src);
    const Reference::ReferenceFlow ref = Reference::edmondsKarp(graph, s, graph.getNode(snk));
    residual = -ref.value;
    for (EdgeOutIterator it(*s, true); it.ok(); ++it)
      residual += (*it)->getCapacity();
    std::vector<TransactionId> reach;
    for (Node* node : ref.reach)
      if (node != s)
        reach.push_back(node->getIdentity());
    std::sort(reach.begin(), reach.end());
    return reach;
  }

  // The transactions open, other than t, with their relations to t (bits
  // of FlowProfileGraph::AT_OR_BEFORE and AT_OR_AFTER, for o as it stands to t).
  void partners(int t, std::vector<int>& of, std::vector<unsigned char>& bits) const {
    const int n = (int) ts.size();
    for (int o = 0; o < n; ++o) {
      if (o == t || state[o] != 1)
        continue;
      const int r = relation[std::min(o, t) * n + std::max(o, t)];
      if (r == 0)
        continue;
      of.push_back(o);
      bits.push_back(r == 1 ? 3 : (r == 2) == (t < o) ? FlowProfileGraph::AT_OR_AFTER : FlowProfileGraph::AT_OR_BEFORE);
    }
  }

  void open(int t) {
    const int n = (int) ts.size();
    both([&](FlowProfileGraph& g, ContributionMap& m) {
      g.enableTransaction(ts[t], inst, m);
      std::vector<int> of;
      std::vector<unsigned char> bits;
      partners(t, of, bits);
      std::vector<char> needed(of.size(), 1);
      if (keptTakesNearest && &g == &kept) {
        std::vector<TransactionId> others;
        for (int o : of)
          others.push_back(ts[o]);
        g.selectNearest(ts[t], others, bits, needed);
      }
      for (std::size_t k = 0; k < of.size(); ++k) {
        if (!needed[k])
          continue;
        const int o = of[k], i = std::min(o, t), j = std::max(o, t), r = relation[i * n + j];
        if (r == 1)
          g.enableAt(ts[t], ts[o]);
        else if (r == 2)
          g.enableAtOrBefore(ts[i], ts[j]);
        else
          g.enableAtOrBefore(ts[j], ts[i]);
      }
    });
    state[t] = 1;
  }

  // Both networks have the same transactions switched on and recorded.
  void agree(const std::string& what) {
    for (int i = 0; i < (int) ts.size(); ++i) {
      ASSERT_EQ(twin.isEnabled(ts[i]), kept.isEnabled(ts[i])) << "seed " << seed << " " << what << " t" << i
                                                              << trail.str();
      ASSERT_EQ(twinMap.count(ts[i]), keptMap.count(ts[i])) << "seed " << seed << " " << what << trail.str();
    }
  }

  // Opens up to three more of `opening` from `next` on, then walks the
  // networks or reads them; says whether it walked.
  bool expand(const std::vector<int>& opening, std::size_t& next) {
    const int opens = std::min<int>(uniform(1, 3), (int) (opening.size() - next));
    for (int k = 0; k < opens; ++k) {
      const int t = opening[next++];
      trail << " open t" << t;
      open(t);
    }
    const bool walks = uniform(0, 2) != 0;
    if (walks)
      walk("expansion walk");
    else
      read("expansion read");
    return walks;
  }

  // Ends some of the open transactions still switched on; if any ended,
  // walks the networks again or reads them as the expansion did.
  void contract(bool walks) {
    bool ended = false;
    for (int i = 0; i < (int) ts.size(); ++i) {
      if (state[i] != 1 || !kept.isEnabled(ts[i]) || uniform(0, 3) != 0)
        continue;
      const int how = uniform(0, 2);
      trail << " end t" << i << "/" << how;
      ended = true;
      end(i, how);
    }
    if (ended) {
      // The plain profile reads the changed network without restoring.
      if (uniform(0, 1) == 0)
        both([](FlowProfileGraph& g, ContributionMap&) { g.restoreFlow(); });
      if (walks)
        walk("contraction walk");
      else
        read("contraction read");
    }
  }

  // As the incremental profile closes a transaction (0), as the plain one
  // drops it (1), or only switched off (2).
  void end(int t, int how) {
    state[t] = 2;
    both([&](FlowProfileGraph& g, ContributionMap&) {
      if (how == 0)
        g.pushFlow(ts[t]);
      if (how != 1)
        g.disable(ts[t]);
      if (how != 2) {
        if (!keptTakesNearest || &g == &kept)
          g.bypass(ts[t]);
        g.removeTransaction(ts[t]);
      }
    });
  }

  void walk(const std::string& what) {
    // A walk is due after a change: it takes out what the source reaches.
    double expected = 0.0, residual;
    if (kept.needsRecalculation())
      for (const TransactionId& t : referenceReach(residual))
        expected += contributionOf(t).toBound(kept.isLowerLevel());
    double levels[2];
    both([&](FlowProfileGraph& g, ContributionMap& m) {
      levels[&g == &kept ? 0 : 1] = g.disableReachableResidualGraph(m, inst);
    });
    ASSERT_EQ(levels[1], levels[0]) << "seed " << seed << " " << what << trail.str();
    ASSERT_EQ(expected, levels[0]) << "seed " << seed << " " << what << trail.str();
  }

  void read(const std::string& what) {
    double residual[2];
    std::vector<TransactionId> reached[2];
    both([&](FlowProfileGraph& g, ContributionMap&) {
      const int k = &g == &kept ? 0 : 1;
      residual[k] = g.getResidualFromSource();
      g.getReachableResidualTransactions(reached[k]);
      if (!readInWalkOrder)
        std::sort(reached[k].begin(), reached[k].end());
    });
    ASSERT_EQ(residual[1], residual[0]) << "seed " << seed << " " << what << trail.str();
    ASSERT_TRUE(reached[1] == reached[0]) << "seed " << seed << " " << what << trail.str();
    // Both could hold the same stale flow: the network as it stands decides.
    double expected;
    const std::vector<TransactionId> reach = referenceReach(expected);
    std::sort(reached[0].begin(), reached[0].end());
    ASSERT_EQ(expected, residual[0]) << "seed " << seed << " " << what << trail.str();
    ASSERT_TRUE(reach == reached[0]) << "seed " << seed << " " << what << trail.str();
    // The listing's copy, run from scratch, reaches the same.
    std::vector<TransactionId> listed;
    twin.listReachable(listed);
    std::sort(listed.begin(), listed.end());
    ASSERT_TRUE(reach == listed) << "seed " << seed << " " << what << " listed" << trail.str();
  }
};

}

namespace {

// Seeds from `first` on, `count` of them, then those of `pinned` beyond them:
// draws that once caught a fault in the nearest-partner choice that the
// count run in CI missed.
std::vector<int> seedsAndPinned(int first, int count, std::initializer_list<int> pinned) {
  std::vector<int> seeds;
  for (int seed = first; seed < first + count; ++seed)
    seeds.push_back(seed);
  for (int seed : pinned)
    if (seed < first || seed >= first + count)
      seeds.push_back(seed);
  return seeds;
}

}

// A network given an ordering edge to each nearest ordered partner only
// against one given an edge pair for every ordered pair: the same maximum
// flows and residual walks on random preorders, as transactions open, end
// (also those in the middle of a chain) and are walked out. The time
// domains are drawn apart from the order, as they may be looser or tighter
// than what the temporal network implies. Driven as the kept networks below
// are; reads are also checked against an independent maximum flow.
TEST(FlowProfileGraph, NearestOrderingsAgreeWithEveryPair) {
  const int seeds = envInt("KORVAN_NEAREST_SEEDS", 150);
  for (int seed : seedsAndPinned(firstSeed(), seeds, {263})) {
    std::mt19937 rng((unsigned) seed * 7919u + 17u);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    OneInstantWorld one;
    ProfileWorld& w = one.w;
    const TransactionId src = one.src, snk = one.snk;
    const InstantId inst = one.inst;

    // Classes of transactions at the same time, ordered by a random DAG
    // over the classes, closed transitively.
    const int n = uniform(4, 18);
    // Half the seeds never walk, as the plain flow profile.
    const bool walks = seed % 2 == 0;
    const int classes = uniform(2, n);
    std::vector<int> cls(n);
    std::vector<TransactionId> ts;
    for (int i = 0; i < n; ++i) {
      cls[i] = uniform(0, classes - 1);
      const int lb = uniform(0, 20);
      const int qlb = uniform(0, 3);
      ts.push_back(w.make(lb, lb + uniform(0, 20), uniform(0, 1) == 1, qlb, qlb + uniform(0, 3)));
    }
    std::vector<std::vector<bool> > below(classes, std::vector<bool>(classes, false));
    const int density = uniform(10, 70);
    for (int a = 0; a < classes; ++a) {
      below[a][a] = true;
      for (int b = a + 1; b < classes; ++b)
        below[a][b] = uniform(0, 99) < density;
    }
    for (int k = 0; k < classes; ++k)
      for (int a = 0; a < classes; ++a)
        for (int b = 0; b < classes; ++b)
          if (below[a][k] && below[k][b])
            below[a][b] = true;
    // 0 none, 1 at the same time, 2 i at or before j, 3 j at or before i.
    std::vector<int> relation(n * n, 0);
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j) {
        const bool before = below[cls[i]][cls[j]], after = below[cls[j]][cls[i]];
        relation[i * n + j] = before && after ? 1 : before ? 2 : after ? 3 : 0;
      }

    const bool lowerLevel = uniform(0, 1) == 1;
    FlowProfileGraph every(src, snk, lowerLevel), nearest(src, snk, lowerLevel);
    ContributionMap everyMap, nearestMap;
    std::vector<int> state(n, 0);  // 0 not opened, 1 open, 2 gone, 3 ending at this instant
    std::ostringstream trail;
    TwinGraphs twins{nearest, every, nearestMap, everyMap, ts, relation, state, src, snk, inst, seed, trail, uniform,
                     false, false, true};
    std::vector<int> opening(n);
    for (int i = 0; i < n; ++i)
      opening[i] = i;
    std::shuffle(opening.begin(), opening.end(), rng);
    std::size_t next = 0;
    while (next < opening.size()) {
      // One instant: some transactions end there (not ordered with the ones
      // that open), some open, the network is walked, the ending ones close.
      std::vector<int> ending;
      for (int i = 0; i < n; ++i)
        if (state[i] == 1 && nearest.isEnabled(ts[i]) && uniform(0, 4) == 0)
          ending.push_back(i);
      for (int e : ending)
        state[e] = 3;
      const int opens = std::min<int>(uniform(1, 3), (int) (opening.size() - next));
      for (int k = 0; k < opens; ++k) {
        const int t = opening[next++];
        trail << " open t" << t;
        twins.open(t);
      }
      for (int e : ending)
        state[e] = 1;
      const bool walk = walks && uniform(0, 2) == 0;
      if (walk)
        twins.walk("expansion walk");
      else
        twins.read("expansion read");
      if (::testing::Test::HasFailure())
        return;
      if (walk)
        twins.agree("expansion walk");
      for (int e : ending) {
        if (!every.isEnabled(ts[e]))
          continue;
        trail << " end t" << e;
        twins.end(e, walk ? 0 : 1);
      }
      if (walk) {
        twins.both([](FlowProfileGraph& g, ContributionMap&) { g.restoreFlow(); });
        twins.walk("contraction walk");
        twins.agree("contraction walk");
      }
      double residual[2];
      twins.both([&](FlowProfileGraph& g, ContributionMap&) { residual[&g == &every] = g.getResidualFromSource(); });
      ASSERT_EQ(residual[1], residual[0]) << "seed " << seed << trail.str();
      twins.agree("after the instant");
      if (::testing::Test::HasFailure())
        return;
    }
  }
}

// The choice of nearest partners against a plain restatement of it: per
// side, candidates nearest first by time bounds then position; one already
// reached over ordering edges from a chosen one is passed over, and a chosen
// one that a later choice reaches is needed no more. Orderings without ties:
// a cycle of edges at the same time may keep a chosen one the walk no longer
// meets, which costs an edge but no level.
TEST(FlowProfileGraph, NearestChoiceMatchesAPlainRestatement) {
  const int seeds = envInt("KORVAN_NEAREST_SEEDS", 150);
  for (int seed : seedsAndPinned(1, seeds, {263})) {
    std::mt19937 rng((unsigned) seed * 104729u + 3u);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    OneInstantWorld one;
    ProfileWorld& w = one.w;
    const TransactionId src = one.src, snk = one.snk;
    const InstantId inst = one.inst;

    const int n = uniform(3, 16);
    std::vector<TransactionId> ts;
    std::vector<int> rank(n);
    for (int i = 0; i < n; ++i)
      rank[i] = i;
    std::shuffle(rank.begin(), rank.end(), rng);
    for (int i = 0; i < n; ++i) {
      // Few distinct bounds, so that ties fall back on positions.
      const int lb = uniform(0, 4);
      ts.push_back(w.make(lb, lb + uniform(0, 3), uniform(0, 1) == 1, 1, 1 + uniform(0, 2)));
    }
    FlowProfileGraph g(src, snk, uniform(0, 1) == 1);
    ContributionMap contributions;
    for (int i = 0; i < n; ++i)
      g.enableTransaction(ts[i], inst, contributions);
    // below[a][b]: an unbounded edge a -> b, so b is at or before a.
    std::vector<std::vector<bool> > below(n, std::vector<bool>(n, false));
    const int density = uniform(5, 50);
    for (int a = 0; a < n; ++a)
      for (int b = a + 1; b < n; ++b) {
        if (uniform(0, 99) >= density)
          continue;
        if (rank[a] < rank[b]) {
          g.enableAtOrBefore(ts[a], ts[b]);
          below[b][a] = true;
        }
        else {
          g.enableAtOrBefore(ts[b], ts[a]);
          below[a][b] = true;
        }
      }
    std::vector<bool> on(n, true);
    for (int i = 0; i < n; ++i)
      if (uniform(0, 5) == 0) {
        g.disable(ts[i]);
        on[i] = false;
      }
    // A transaction switched off needs no edge at all.
    const int t = uniform(0, n - 1);
    std::vector<TransactionId> others;
    std::vector<int> of;
    std::vector<unsigned char> relation;
    for (int i = 0; i < n; ++i)
      if (i != t && uniform(0, 4) != 0) {
        others.push_back(ts[i]);
        of.push_back(i);
        relation.push_back((unsigned char) uniform(0, 3));
      }
    std::vector<char> needed;
    g.selectNearest(ts[t], others, relation, needed);

    std::vector<char> expected(others.size(), 0);
    for (int side = 0; side < 2 && on[t]; ++side) {
      const double sign = side == 0 ? -1.0 : 1.0;
      std::vector<std::size_t> order;
      for (std::size_t k = 0; k < others.size(); ++k)
        if ((relation[k] & (side == 0 ? 1 : 2)) != 0 && on[of[k]])
          order.push_back(k);
      auto key = [&](std::size_t k) {
        const AbstractDomain& d = others[k]->time()->lastDomain();
        return std::make_tuple(sign * d.getLowerBound(), sign * d.getUpperBound(), k);
      };
      std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return key(x) < key(y); });
      // Reached from i over edges between enabled transactions, i itself left out.
      auto reach = [&](int i) {
        std::vector<bool> seen(n, false);
        std::vector<int> stack(1, i);
        while (!stack.empty()) {
          const int x = stack.back();
          stack.pop_back();
          for (int y = 0; y < n; ++y)
            if (on[y] && y != i && !seen[y] && (side == 0 ? below[x][y] : below[y][x])) {
              seen[y] = true;
              stack.push_back(y);
            }
        }
        return seen;
      };
      std::vector<bool> covered(n, false);
      std::vector<std::size_t> chosen;
      for (std::size_t k : order) {
        const int i = of[k];
        bool already = covered[i];
        for (std::size_t c : chosen)
          already = already || of[c] == i;
        if (already)
          continue;
        expected[k] = 1;
        const std::vector<bool> r = reach(i);
        for (std::size_t c : chosen)
          if (r[of[c]])
            expected[c] = 0;
        chosen.push_back(k);
        for (int y = 0; y < n; ++y)
          covered[y] = covered[y] || r[y];
      }
    }
    std::ostringstream what;
    what << "seed " << seed << " t" << t << " partners";
    for (std::size_t k = 0; k < others.size(); ++k)
      what << " t" << of[k] << "/" << (int) relation[k];
    for (int a = 0; a < n; ++a)
      for (int b = 0; b < n; ++b)
        if (below[a][b])
          what << " t" << a << ">t" << b;
    for (int i = 0; i < n; ++i)
      what << " t" << i << (on[i] ? "" : " off") << " " << ts[i]->time()->lastDomain().toString();
    ASSERT_EQ(std::vector<char>(expected), needed) << what.str();
  }
}

// A network kept over the changes of a pass, whose runs resume from the flow
// held or are left out while nothing changed, against an independent maximum
// flow found from scratch at each read and walk: the same levels from each
// walk, the same transactions reached, the same residual from the source.
// And against the same network with the debug sites of its runs and walks
// on, whose lines come from a run from scratch beside it: the same in walk
// order, since those lines must not change the path. Transactions open and end,
// flow is handed back, passes start over on the networks left by the last.
TEST(FlowProfileGraph, KeptFlowAgreesWithRunsFromScratch) {
  const int seeds = envInt("KORVAN_RESUME_SEEDS", 120);
  std::ostringstream discarded;
  DebugMessage::setStream(discarded);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng((unsigned) seed * 104729u + 11u);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    OneInstantWorld one;
    ProfileWorld& w = one.w;
    const TransactionId src = one.src, snk = one.snk;
    const InstantId inst = one.inst;

    const int n = uniform(4, 16);
    std::vector<TransactionId> ts;
    for (int i = 0; i < n; ++i) {
      const double qlb = 0.25 * uniform(0, 12);
      ts.push_back(w.make(0, 10, uniform(0, 1) == 1, qlb, qlb + 0.25 * uniform(0, 12)));
    }
    // 0 none, 1 at the same time, 2 i at or before j, 3 j at or before i.
    std::vector<int> relation(n * n, 0);
    const int density = uniform(10, 80);
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        if (uniform(0, 99) < density)
          relation[i * n + j] = uniform(1, 3);

    const bool lowerLevel = uniform(0, 1) == 1;
    FlowProfileGraph kept(src, snk, lowerLevel), fresh(src, snk, lowerLevel);
    ContributionMap keptMap, freshMap;
    std::vector<int> state(n, 0);
    std::ostringstream trail;
    TwinGraphs twins{kept, fresh, keptMap, freshMap, ts, relation, state, src, snk, inst, seed, trail, uniform, true,
                     true};
    std::vector<int> opening(n);
    for (int i = 0; i < n; ++i)
      opening[i] = i;
    std::shuffle(opening.begin(), opening.end(), rng);
    std::size_t next = 0;
    while (next < opening.size()) {
      if (uniform(0, 5) == 0) {
        // A new pass over the networks the last one left: what is still
        // open opens again.
        trail << " reset";
        twins.both([](FlowProfileGraph& g, ContributionMap&) { g.reset(); });
        for (int i = 0; i < n; ++i)
          if (state[i] == 1 && kept.hasNode(ts[i])) {
            state[i] = 0;
            twins.open(i);
          }
      }
      const bool walks = twins.expand(opening, next);
      if (::testing::Test::HasFailure())
        return;
      twins.agree("expansion");
      twins.contract(walks);
      if (::testing::Test::HasFailure())
        return;
      twins.agree("after the instant");
      twins.read("after the instant");
      if (::testing::Test::HasFailure())
        return;
    }
  }
  DebugMessage::disableAll();
  DebugMessage::setStream(std::cerr);
}

// A network emptied for the next pass against one made anew for it, over
// several passes: the same nodes, the same edges in the same list order with
// the same flags and capacities, the same residuals and walks (in walk
// order), the same records, as random transactions open with their
// orderings, are walked out, close, and leave for good between passes. The
// residuals and reach are also checked against an independent maximum flow,
// and the memory kept for reuse against its bound.
TEST(FlowProfileGraph, StartedOverNetworkBehavesAsANewOne) {
  const int seeds = envInt("KORVAN_STARTOVER_SEEDS", 80);
  std::ostringstream discarded;
  DebugMessage::setStream(discarded);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng((unsigned) seed * 7919u + 3u);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    OneInstantWorld one;
    const TransactionId src = one.src, snk = one.snk;
    const InstantId inst = one.inst;

    const int n = uniform(4, 14);
    std::vector<TransactionId> ts;
    std::map<TransactionId, std::string> names{{src, "s"}, {snk, "k"}};
    for (int i = 0; i < n; ++i) {
      const double qlb = 0.5 * uniform(0, 6);
      ts.push_back(one.w.make(0, 10, uniform(0, 1) == 1, qlb, qlb + 0.5 * uniform(0, 6)));
      names[ts.back()] = "t" + std::to_string(i);
    }
    // 0 none, 1 at the same time, 2 i at or before j, 3 j at or before i.
    std::vector<int> relation(n * n, 0);
    const int density = uniform(10, 80);
    for (int i = 0; i < n; ++i)
      for (int j = i + 1; j < n; ++j)
        if (uniform(0, 99) < density)
          relation[i * n + j] = uniform(1, 3);

    const bool lowerLevel = uniform(0, 1) == 1;
    FlowProfileGraph kept(src, snk, lowerLevel);
    std::vector<bool> inProfile(n, true);
    std::ostringstream trail;
    auto describe = [&](const FlowProfileGraph& g) {
      std::ostringstream os;
      for (const auto& entry : g.getGraph().getNodes()) {
        const Node* node = entry.second;
        os << names[entry.first] << (node->isEnabled() ? "+" : "-") << ":";
        for (const Edge* edge : node->getOutEdges())
          os << " " << names[edge->getTarget()->getIdentity()] << "/" << edge->getCapacity()
             << (edge->isFlagged() ? "+" : "-") << (edge->getPartner() != 0 ? "p" : "");
        os << " |";
        for (const Edge* edge : node->getInEdges())
          os << " " << names[edge->getSource()->getIdentity()];
        os << "\n";
      }
      return os.str();
    };
    const int passes = uniform(2, 5);
    for (int pass = 0; pass < passes; ++pass) {
      trail << " pass" << pass;
      ASSERT_TRUE(kept.startOver()) << "seed " << seed << trail.str();
      FlowProfileGraph fresh(src, snk, lowerLevel);
      ContributionMap keptMap, freshMap;
      auto same = [&](const std::string& what) {
        ASSERT_EQ(describe(fresh), describe(kept)) << "seed " << seed << " " << what << trail.str();
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(fresh.hasNode(ts[i]), kept.hasNode(ts[i])) << "seed " << seed << " " << what << trail.str();
          ASSERT_EQ(fresh.wasTakenOut(ts[i]), kept.wasTakenOut(ts[i])) << "seed " << seed << " " << what
                                                                       << trail.str();
          ASSERT_EQ(freshMap.count(ts[i]), keptMap.count(ts[i])) << "seed " << seed << " " << what << trail.str();
        }
        ASSERT_EQ(fresh.needsRecalculation(), kept.needsRecalculation()) << "seed " << seed << " " << what
                                                                         << trail.str();
      };
      same("start");
      std::vector<int> state(n, 0);
      TwinGraphs twins{kept, fresh, keptMap, freshMap, ts, relation, state, src, snk, inst, seed, trail, uniform, false,
                       true};
      std::vector<int> opening;
      for (int i = 0; i < n; ++i)
        if (inProfile[i] && uniform(0, 4) != 0)
          opening.push_back(i);
      std::shuffle(opening.begin(), opening.end(), rng);
      std::size_t next = 0;
      while (next < opening.size()) {
        const bool walks = twins.expand(opening, next);
        same("expansion");
        if (::testing::Test::HasFailure())
          return;
        twins.contract(walks);
        same("after the instant");
        twins.read("after the instant");
        if (::testing::Test::HasFailure())
          return;
      }
      // Between passes some leave the profile for good, open or not.
      std::size_t left = 0;
      for (int i = 0; i < n; ++i)
        if (inProfile[i] && uniform(0, 5) == 0) {
          trail << " gone t" << i;
          inProfile[i] = false;
          kept.removeTransaction(ts[i]);
        }
      for (int i = 0; i < n; ++i)
        left += inProfile[i] ? 1 : 0;
      kept.trimSpare(left);
      ASSERT_LE(kept.getGraph().spareNodes(), left) << "seed " << seed << trail.str();
      ASSERT_LE(kept.getGraph().spareEdges(), 8 * left) << "seed " << seed << trail.str();
    }
  }
  DebugMessage::setStream(std::cerr);
}

// Each transaction of a flow profile has a number, distinct and below the
// most transactions the profile held at once, and each network finds every
// node it has by that number, as transactions come and go between passes.
TEST(FlowProfile, TransactionNumbersStayDenseAndFindTheNodes) {
  for (int incremental = 0; incremental < 2; ++incremental) {
    std::mt19937 rng(977u + (unsigned) incremental);
    ProfileWorld w;
    RecordingDetector det;
    std::unique_ptr<Profile> owned = flowProfile(incremental == 1, w, det, 0, 4);
    auto numberOf = [&](const TransactionId& t) {
      return incremental == 1 ? ((TestIncrementalProfile&) *owned).numberOf(t)
                              : ((TestFlowProfile&) *owned).numberOf(t);
    };
    auto graphs = [&]() {
      if (incremental == 1) {
        TestIncrementalProfile& p = (TestIncrementalProfile&) *owned;
        return std::make_pair(p.m_lowerLevelGraph, p.m_upperLevelGraph);
      }
      TestFlowProfile& p = (TestFlowProfile&) *owned;
      return std::make_pair(p.m_lowerLevelGraph, p.m_upperLevelGraph);
    };
    std::vector<TransactionId> ts;
    std::size_t most = 0;
    for (int round = 0; round < 30; ++round) {
      const int adds = (int) (rng() % 4);
      for (int k = 0; k < adds; ++k) {
        const int lb = (int) (rng() % 10);
        ts.push_back(w.make(lb, lb + 1 + (int) (rng() % 8), rng() % 2 == 0, 1, 1 + (double) (rng() % 3)));
        owned->addTransaction(ts.back());
      }
      if (ts.size() > 2 && rng() % 2 == 0) {
        const std::size_t i = rng() % ts.size();
        owned->removeTransaction(ts[i]);
        w.destroy(ts[i]);
        ts.erase(ts.begin() + (long) i);
      }
      most = std::max(most, ts.size());
      ASSERT_TRUE(w.ce->propagate());
      owned->recompute();
      std::set<int> numbers;
      for (const TransactionId& t : ts) {
        const int number = numberOf(t);
        ASSERT_LE(0, number);
        ASSERT_GT((int) most, number) << "round " << round;
        ASSERT_TRUE(numbers.insert(number).second) << "round " << round;
      }
      for (const FlowProfileGraph* g : {graphs().first, graphs().second})
        for (const auto& entry : g->getGraph().getNodes()) {
          const Node* node = entry.second;
          if (node->getNumber() < 0)
            continue;
          ASSERT_EQ(node, g->getGraph().nodeAt(node->getNumber())) << "round " << round;
          ASSERT_EQ(numberOf(entry.first), node->getNumber()) << "round " << round;
        }
    }
  }
}

TEST(FlowProfile, LevelsOnWorkedExamples) {
  for (int incremental = 0; incremental < 2; ++incremental) {
    ProfileWorld w;
    RecordingDetector det;
    std::unique_ptr<Profile> owner = flowProfile(incremental, w, det, 10, 12);
    auto levels = [&](int time) {
      const InstantId i = ResourceWorld::instantAt(owner->getId(), time);
      return std::make_pair(i->getLowerLevel(), i->getUpperLevel());
    };
    // A producer of exactly 2 pending from 5, a consumer of exactly 3 from 10
    // that must come after it, a producer [2,5] fixed at 30 and a consumer
    // [2,5] over [30,40].
    TransactionId p = w.make(5, 20, false, 2, 2), c = w.make(10, 20, true, 3, 3);
    TransactionId fixed = w.make(30, 30, false, 2, 5), late = w.make(30, 40, true, 2, 5);
    ConstraintId order = precedes(w, p, c);
    for (TransactionId t : {p, c, fixed, late})
      owner->addTransaction(t);
    ASSERT_TRUE(w.ce->propagate());
    owner->recompute();
    // Time, levels, and the most that may have been consumed by then.
    const double expected[][4] = {{5, 10, 14, 0}, {10, 9, 14, 3}, {20, 9, 11, 3}, {30, 6, 16, 8}, {40, 6, 14, 8}};
    for (const auto& e : expected) {
      const InstantId i = ResourceWorld::instantAt(owner->getId(), (int) e[0]);
      EXPECT_EQ((std::vector<double>{e[1], e[2], e[1], e[3]}),
                (std::vector<double>{i->getLowerLevel(), i->getUpperLevel(), i->getLowerLevelMax(),
                                     i->getMaxCumulativeConsumption()}))
        << "incremental " << incremental << " at " << e[0];
    }
    // Without the ordering the consumer may come first.
    order->discard();
    ASSERT_TRUE(w.ce->propagate());
    owner->recompute();
    EXPECT_EQ(std::make_pair(7.0, 14.0), levels(10));
    // A restricted quantity later on moves every level after it, also those
    // past the transaction's own time.
    NarrowConstraint narrow(LabelStr("TestProp"), w.ce->getId(), fixed->quantity(), 4, 4);
    ASSERT_TRUE(w.ce->propagate());
    owner->recompute();
    EXPECT_EQ(std::make_pair(8.0, 15.0), levels(30));
    EXPECT_EQ(std::make_pair(8.0, 13.0), levels(40));
  }
}

TEST(FlowProfile, OrderingsWindowsAndFlags) {
  ProfileWorld w;
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
  TransactionId a = w.make(0, 10), b = w.make(0, 10), c = w.make(20, 30, true, 1, 4), d = w.make(5, 5);
  ConstraintId ab = precedes(w, a, b);
  ASSERT_TRUE(w.ce->propagate());
  EXPECT_EQ(FlowProfile::BEFORE_OR_AT, prof.getOrdering(a, b));
  EXPECT_EQ(FlowProfile::AFTER_OR_AT, prof.getOrdering(b, a));
  EXPECT_EQ(1u, prof.m_orderings.size());  // the mirror is not stored
  EXPECT_EQ(FlowProfile::NOT_ORDERED, prof.getOrdering(a, d));
  EXPECT_EQ(FlowProfile::BEFORE_OR_AT, prof.getOrdering(a, c));
  EXPECT_EQ("t1.isValid()", failure([&] { prof.getOrdering(TransactionId(), a); }).getCondition());

  // Additions open the window at the transaction's start up to the end of time.
  prof.addTransaction(c);
  prof.recompute();
  EXPECT_FALSE(prof.m_recomputeInterval.isValid());
  prof.addTransaction(a);
  EXPECT_TRUE(prof.m_recalculateLowerLevel && prof.m_recalculateUpperLevel);
  EXPECT_EQ(0, prof.m_recomputeInterval->getStartTime());
  EXPECT_EQ(30, prof.m_recomputeInterval->getEndTime());
  prof.recompute();
  EXPECT_FALSE(prof.m_recalculateLowerLevel || prof.m_recalculateUpperLevel);

  // A consumer's lowered quantity ceiling redoes the lower bound only, from
  // its start to the end.
  NarrowConstraint narrow(LabelStr("TestProp"), w.ce->getId(), c->quantity(), 1, 2);
  ASSERT_TRUE(w.ce->propagate());
  EXPECT_FALSE(prof.m_recalculateLowerLevel || prof.m_recalculateUpperLevel);  // already recomputed
  EXPECT_EQ(-1.0, prof.at(30)->getLowerLevel());
  EXPECT_EQ(0.0, prof.at(30)->getUpperLevel());

  // A cached answer that the network does not give (a and c are not at the
  // same time) is dropped at the next look at the network.
  prof.m_orderedAt.put(std::make_pair(a, c), FlowProfile::STRICTLY_AT, TestFlowProfile::SURVIVES_NOTHING);
  prof.addTransaction(b);
  ASSERT_TRUE(w.ce->propagate());
  precedes(w, b, c);
  ASSERT_TRUE(w.ce->propagate());
  EXPECT_TRUE(prof.m_orderedAt.empty());
  ab->discard();
  ASSERT_TRUE(w.ce->propagate());
  EXPECT_TRUE(prof.m_orderedAt.empty());

  // Removal forgets the transaction everywhere.
  prof.removeTransaction(c);
  InstantId out;
  EXPECT_FALSE(prof.getEarliestLowerLevelInstant(c, out));
  EXPECT_TRUE(out.isNoId());
  bool named = false;
  for (TestFlowProfile::OrderingCache* cache : {&prof.m_orderings, &prof.m_orderedAt})
    cache->retain([&](const TransactionId& x, const TransactionId& y, FlowProfile::Order, unsigned char&) {
      named = named || x == c || y == c;
      return true;
    });
  EXPECT_FALSE(named);
  prof.recompute();
}

namespace {

// The envelope by brute force at time T: transactions that must have
// happened count in full; of the pending ones, every set closed under the
// orderings the temporal network proves is tried.
void bruteForceLevels(ProfileWorld& w, const std::vector<TransactionId>& ts, int T, double initLb,
                      double initUb, double& lower, double& upper) {
  lower = initLb;
  upper = initUb;
  auto add = [](TransactionId t, double& lo, double& hi) {
    const AbstractDomain& q = t->quantity()->lastDomain();
    lo += t->isConsumer() ? -q.getUpperBound() : q.getLowerBound();
    hi += t->isConsumer() ? -q.getLowerBound() : q.getUpperBound();
  };
  std::vector<TransactionId> pending;
  for (TransactionId t : ts) {
    if (t->time()->lastDomain().getUpperBound() <= T)
      add(t, lower, upper);
    else if (t->time()->lastDomain().getLowerBound() <= T)
      pending.push_back(t);
  }
  const size_t n = pending.size();
  std::vector<unsigned> mustPrecede(n, 0);  // bit j set: pending[j] at or before pending[i]
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      if (i != j && w.db->getTemporalAdvisor()
                          ->getTemporalDistanceDomain(pending[j]->time(), pending[i]->time(), true)
                          .getLowerBound() >= 0)
        mustPrecede[i] |= 1u << j;
  double best = 0, worst = 0;
  for (unsigned s = 0; s < (1u << n); ++s) {
    bool closed = true;
    for (size_t i = 0; i < n; ++i)
      closed = closed && !((s >> i & 1) && (mustPrecede[i] & ~s));
    if (!closed)
      continue;
    double lo = 0, hi = 0;
    for (size_t i = 0; i < n; ++i)
      if (s >> i & 1)
        add(pending[i], lo, hi);
    best = std::min(best, lo);
    worst = std::max(worst, hi);
  }
  lower += best;
  upper += worst;
}

}

// Over random changes the flow profiles give the brute-force envelope and
// the timetable envelope contains it. Time windows narrowed and relaxed move
// transactions back and forth; a pass stopped by its detector must be
// finished by the next one. KORVAN_BRUTE_SEED and KORVAN_BRUTE_ROUNDS draw
// other or more plans for a soak.
TEST(FlowProfile, RandomChangesAgainstBruteForce) {
  const char* seedText = std::getenv("KORVAN_BRUTE_SEED");
  const char* roundsText = std::getenv("KORVAN_BRUTE_ROUNDS");
  std::mt19937 rng(seedText != nullptr ? (unsigned) std::atoi(seedText) : 7u);
  const int rounds = roundsText != nullptr && std::atoi(roundsText) > 0 ? std::atoi(roundsText) : 40;
  for (int round = 0; round < rounds; ++round) {
    ProfileWorld w;
    RecordingDetector d1, d2, d3;
    const double initLb = (double) (rng() % 5), initUb = initLb + (double) (rng() % 3);
    TestFlowProfile flow(w.db->getId(), d1.getId(), initLb, initUb);
    TestIncrementalProfile incremental(w.db->getId(), d2.getId(), initLb, initUb);
    TimetableProfile timetable(w.db->getId(), d3.getId(), initLb, initUb);
    std::vector<Profile*> profiles = {&flow, &incremental, &timetable};
    std::vector<TransactionId> ts;
    std::vector<std::pair<ConstraintId, std::pair<TransactionId, TransactionId>>> orders;
    std::vector<std::pair<NarrowConstraint*, TransactionId>> narrowings;

    auto addTransaction = [&](int lb) {
      const int ub = lb + (int) (rng() % 15);
      const double qlb = (double) (rng() % 4), qub = qlb + (double) (rng() % 4);
      TransactionId t = w.make(lb, ub, rng() % 2 == 0, qlb, qub);
      ts.push_back(t);
      for (Profile* p : profiles)
        p->addTransaction(t);
    };
    auto dropConstraintsOf = [&](TransactionId t) {
      for (size_t i = orders.size(); i-- > 0;)
        if (orders[i].second.first == t || orders[i].second.second == t) {
          orders[i].first->discard();
          orders.erase(orders.begin() + i);
        }
      for (size_t i = narrowings.size(); i-- > 0;)
        if (narrowings[i].second == t) {
          delete narrowings[i].first;
          narrowings.erase(narrowings.begin() + i);
        }
    };
    for (int i = 0; i < 6; ++i)
      addTransaction((int) (rng() % 30));
    ASSERT_TRUE(w.ce->propagate());
    for (int step = 0; step < 25; ++step) {
      const int changes = 1 + (int) (rng() % 3);
      int cut = INT_MIN;
      for (int k = 0; k < changes; ++k) {
        const int kind = (int) (rng() % 8);
        if (kind <= 1 && ts.size() >= 2) {
          TransactionId a = ts[rng() % ts.size()], b = ts[rng() % ts.size()];
          if (a == b)
            continue;
          ConstraintId c = precedes(w, a, b);
          if (!w.ce->propagate()) {
            c->discard();
            ASSERT_TRUE(w.ce->propagate());
            continue;
          }
          orders.push_back(std::make_pair(c, std::make_pair(a, b)));
        }
        else if (kind == 2 && !orders.empty()) {
          const size_t i = rng() % orders.size();
          orders[i].first->discard();
          orders.erase(orders.begin() + i);
        }
        else if (kind == 3 && !ts.empty()) {
          TransactionId t = ts[rng() % ts.size()];
          const IntervalDomain& q = (const IntervalDomain&) t->quantity()->lastDomain();
          const double lb = std::min(q.getUpperBound(), q.getLowerBound() + (double) (rng() % 2));
          const double ub = std::max(lb, q.getUpperBound() - (double) (rng() % 2));
          narrowings.push_back(std::make_pair(
            new NarrowConstraint(LabelStr("TestProp"), w.ce->getId(), t->quantity(), lb, ub), t));
        }
        else if (kind == 6 && !ts.empty()) {
          const TransactionId t = ts[rng() % ts.size()];
          const AbstractDomain& d = t->time()->lastDomain();
          const double lb = std::min(d.getUpperBound(), d.getLowerBound() + (double) (rng() % 4));
          const double ub = std::max(lb, d.getUpperBound() - (double) (rng() % 4));
          narrowings.push_back(
            std::make_pair(new NarrowConstraint(LabelStr("TestProp"), w.ce->getId(), t->time(), lb, ub), t));
          if (!w.ce->propagate()) {
            delete narrowings.back().first;
            narrowings.pop_back();
          }
        }
        else if (kind == 7 && !flow.instants().empty()) {
          auto it = flow.instants().begin();
          std::advance(it, (long) (rng() % flow.instants().size()));
          d1.stopAt = d2.stopAt = cut = it->first;
        }
        else if (kind == 4 && !narrowings.empty()) {
          const size_t i = rng() % narrowings.size();
          delete narrowings[i].first;
          narrowings.erase(narrowings.begin() + i);
        }
        else if (kind == 5 && ts.size() > 3 && rng() % 2 == 0) {
          const size_t i = rng() % ts.size();
          const TransactionId t = ts[i];
          dropConstraintsOf(t);
          ASSERT_TRUE(w.ce->propagate());
          for (Profile* p : profiles)
            p->removeTransaction(t);
          ts.erase(ts.begin() + i);
          w.destroy(t);
        }
        else
          addTransaction((int) (rng() % 30));
        ASSERT_TRUE(w.ce->propagate());
      }
      for (Profile* p : profiles)
        p->recompute();
      d1.stopAt = d2.stopAt = INT_MIN;
      if (cut != INT_MIN) {  // stale until a change after the cut
        addTransaction(cut + 1 + (int) (rng() % 10));
        ASSERT_TRUE(w.ce->propagate());
        for (Profile* p : profiles)
          p->recompute();
      }
      ASSERT_EQ(flow.instants().size(), incremental.instants().size());
      for (std::map<int, InstantId>::const_iterator it = flow.instants().begin(); it != flow.instants().end(); ++it) {
        const int T = it->first;
        double lower, upper;
        bruteForceLevels(w, ts, T, initLb, initUb, lower, upper);
        for (const InstantId& i : {it->second, incremental.at(T)})
          ASSERT_EQ(std::make_pair(lower, upper), std::make_pair(i->getLowerLevel(), i->getUpperLevel()))
            << (i == it->second ? "flow" : "incremental") << ", round " << round << " step " << step << " time " << T;
        IntervalDomain tt;
        timetable.getLevel(T, tt);
        ASSERT_LE(tt.getLowerBound(), lower) << "timetable, round " << round << " time " << T;
        ASSERT_GE(tt.getUpperBound(), upper) << "timetable, round " << round << " time " << T;
      }
    }
    for (TransactionId t : ts)
      dropConstraintsOf(t);
    w.ce->propagate();
  }
}

// A pass stopped by its detector is finished by the next one, even by a
// change past the stale stretch.
TEST(FlowProfile, CutPassIsFinishedByTheNextOne) {
  for (int incremental = 0; incremental < 2; ++incremental) {
    ProfileWorld w;
    RecordingDetector det;
    std::unique_ptr<Profile> prof = flowProfile(incremental, w, det, 0, 0);
    std::vector<TransactionId> ts = {w.make(0, 10, true, 1, 2), w.make(5, 20, false, 3, 3),
                                     w.make(15, 30, true, 2, 2), w.make(40, 50, false, 1, 4)};
    det.stopAt = 10;
    for (TransactionId t : ts)
      prof->addTransaction(t);
    prof->recompute();
    det.stopAt = INT_MIN;
    NarrowConstraint late(LabelStr("TestProp"), w.ce->getId(), ts[3]->quantity(), 2, 4);
    ASSERT_TRUE(w.ce->propagate());
    prof->recompute();
    for (ProfileIterator it(prof->getId(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
      double lower, upper;
      bruteForceLevels(w, ts, it.getTime(), 0, 0, lower, upper);
      EXPECT_EQ(std::make_pair(lower, upper),
                std::make_pair(it.getInstant()->getLowerLevel(), it.getInstant()->getUpperLevel()))
        << "at " << it.getTime() << " incremental " << incremental;
    }
  }
}

// The start and end of one token are ordered by the token alone, and a
// reusable resource's flow envelope never lets the release come first.
TEST(FlowProfile, TokenEndsAndReusableEnvelope) {
  ResourceWorld w;
  TestReusable* res = w.reusable("U", 5, "FlowProfile");
  w.uses("U", 0, 10, 5, 2);
  ASSERT_TRUE(w.propagate());
  ASSERT_EQ(2u, res->m_transactionsToTokens.size());
  TransactionId take, give;
  for (const auto& entry : res->m_transactionsToTokens)
    (entry.first->isConsumer() ? take : give) = entry.first;
  RecordingDetector det;
  TestFlowProfile prof(w.db->getId(), det.getId(), 5, 5);
  EXPECT_EQ(FlowProfile::BEFORE_OR_AT, prof.getOrdering(take, give));
  EXPECT_EQ(FlowProfile::AFTER_OR_AT, prof.getOrdering(give, take));
  // While both may be pending the level is 3 or 5, never 7.
  IntervalDomain level;
  res->getProfile()->getLevel(7, level);
  EXPECT_EQ(3.0, level.getLowerBound());
  EXPECT_EQ(5.0, level.getUpperBound());
  res->getProfile()->getLevel(15, level);
  EXPECT_EQ(5.0, level.getLowerBound());
  EXPECT_EQ(5.0, level.getUpperBound());
}

TEST(FlowProfile, BothProfilesRecordTheSameEarliestContributions) {
  for (int incremental = 0; incremental < 2; ++incremental) {
    SCOPED_TRACE(incremental ? "IncrementalFlowProfile" : "FlowProfile");
    ProfileWorld w;
    RecordingDetector det;
    std::unique_ptr<Profile> owner = flowProfile(incremental, w, det, 10, 12);
    FlowProfile& prof = dynamic_cast<FlowProfile&>(*owner);
    // z may consume nothing, so the upper network never carries it; p must
    // come before c; f is fixed at 30.
    TransactionId z = w.make(0, 30, true, 0, 4), p = w.make(5, 20, false, 2, 2), c = w.make(10, 20, true, 3, 3);
    TransactionId f = w.make(30, 30, false, 2, 5);
    ConstraintId order = precedes(w, p, c);
    for (TransactionId t : {z, p, c, f})
      owner->addTransaction(t);
    ASSERT_TRUE(w.ce->propagate());
    owner->recompute();
    auto earliest = [&](bool upper) {  // for z, p, c, f; -1 for none
      std::vector<int> times;
      for (TransactionId t : {z, p, c, f}) {
        InstantId i;
        const bool found = upper ? prof.getEarliestUpperLevelInstant(t, i) : prof.getEarliestLowerLevelInstant(t, i);
        times.push_back(found ? i->getTime() : -1);
      }
      return times;
    };
    // Lower bound: z counts in full from its start; c exceeds what p can
    // give it at 10, so both count from there; f when it happens.
    EXPECT_EQ((std::vector<int>{0, 10, 10, 30}), earliest(false));
    // Upper bound: z from its start (not from later starts while it is
    // pending), p as soon as it may happen, c only once it must have.
    EXPECT_EQ((std::vector<int>{0, 5, 20, 30}), earliest(true));
    // Unordered, p no longer has to feed c: it counts in the lower bound
    // only once it must have happened.
    order->discard();
    ASSERT_TRUE(w.ce->propagate());
    owner->recompute();
    EXPECT_EQ((std::vector<int>{0, 20, 10, 30}), earliest(false));
    EXPECT_EQ((std::vector<int>{0, 5, 20, 30}), earliest(true));
  }
}

// The ordering cache against an ordered map: random settings, look-ups
// (both directions), filtered sweeps and clears over a pool of transactions.
// Sweeps must visit the entries in the map's order. Every other seed first
// names more transactions than the table of orders by numbers takes, so that
// look-ups read the slots themselves. KORVAN_CACHE_SEEDS sets the number of
// seeds.
TEST(FlowProfile, OrderingCacheAgreesWithAnOrderedMap) {
  typedef TestFlowProfile::OrderingCache Cache;
  typedef std::pair<TransactionId, TransactionId> Key;
  ProfileWorld w;
  std::vector<TransactionId> pool, crowd;
  for (int i = 0; i < 60; ++i)
    pool.push_back(w.make(0, 10));
  for (int i = 0; i < 4100; ++i)
    crowd.push_back(w.make(0, 10));
  const int seeds = envInt("KORVAN_CACHE_SEEDS", 40);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    Cache cache;
    // Order and survival bits.
    std::map<Key, std::pair<FlowProfile::Order, unsigned char>> reference;
    std::ostringstream steps;
    bool failed = false;
    auto addCrowd = [&]() {
      if (seed % 2 == 0)
        return;
      for (const TransactionId& t : crowd) {
        cache.put(Key(t, t), FlowProfile::NOT_ORDERED, TransactionOrdering::FROM_NETWORK);
        reference[Key(t, t)] = std::make_pair(FlowProfile::NOT_ORDERED, TransactionOrdering::FROM_NETWORK);
      }
      steps << "a crowd of " << crowd.size() << "; ";
    };
    addCrowd();
    auto disagrees = [&](TransactionId a, TransactionId b) {
      const FlowProfile::Order* found = cache.find((Transaction*) a, (Transaction*) b);
      auto it = reference.find(Key(a, b));
      return (found == 0) != (it == reference.end()) || (found != 0 && *found != it->second.first);
    };
    for (int step = 0; step < 600 && !failed; ++step) {
      const TransactionId a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
      const int op = (int) (rng() % 100);
      if (op < 45) {
        const FlowProfile::Order order = (FlowProfile::Order) (rng() % 4);
        const unsigned char survives = (unsigned char) (rng() % 8);
        steps << "set(" << a << "," << b << ")=" << order << "/" << (int) survives << "; ";
        cache.put(Key(a, b), order, survives);
        reference[Key(a, b)] = std::make_pair(order, survives);
      }
      else if (op < 94) {
        steps << "find(" << a << "," << b << "); ";
        failed = disagrees(a, b);
      }
      else if (op < 99) {
        // Drop the entries whose order is the chosen one (none at times),
        // turning the survival bits of the others.
        const FlowProfile::Order dropped = (FlowProfile::Order) (rng() % 5);
        steps << "drop order " << dropped << "; ";
        std::vector<std::pair<Key, unsigned char>> visited;
        cache.retain([&](const TransactionId& x, const TransactionId& y, FlowProfile::Order order,
                         unsigned char& survives) {
          visited.push_back(std::make_pair(Key(x, y), survives));
          survives = (unsigned char) ((survives + 3) % 8);
          return order != dropped;
        });
        std::vector<std::pair<Key, unsigned char>> expected;
        for (auto it = reference.begin(); it != reference.end();) {
          expected.push_back(std::make_pair(it->first, it->second.second));
          it->second.second = (unsigned char) ((it->second.second + 3) % 8);
          if (it->second.first == dropped)
            reference.erase(it++);
          else
            ++it;
        }
        failed = visited != expected;
      }
      else {
        steps << "clear; ";
        cache.clear();
        reference.clear();
        addCrowd();
      }
      failed = failed || cache.size() != reference.size() || cache.empty() != reference.empty();
    }
    // Every entry left is found, and nothing else.
    for (size_t i = 0; i < pool.size() && !failed; ++i)
      for (size_t j = 0; j < pool.size() && !failed; ++j)
        failed = disagrees(pool[i], pool[j]);
    ASSERT_FALSE(failed) << "seed " << seed << ": " << steps.str();
  }
}

// The ordering cache's visits around moved times against an ordered map:
// each sweep over a random set of times must see exactly the entries naming a
// transaction at one of them (some transactions share a time) and those not
// read from the network, asking in the order of the pairs' addresses, while
// puts, verdicts that turn survival bits and forgets move entries between
// the lists. KORVAN_CACHE_SEEDS sets the number of seeds.
TEST(FlowProfile, OrderingCacheVisitsTheEntriesAroundMovedTimes) {
  typedef TestFlowProfile::OrderingCache Cache;
  typedef std::pair<TransactionId, TransactionId> Key;
  const unsigned char NETWORK = TransactionOrdering::FROM_NETWORK;
  ProfileWorld w;
  std::vector<TransactionId> pool;
  for (int i = 0; i < 24; ++i)
    pool.push_back(w.make(0, 10));
  std::vector<std::unique_ptr<Transaction>> sharing;
  for (int i = 0; i < 8; ++i) {
    sharing.emplace_back(new Transaction(pool[i]->time(), pool[i]->quantity(), false));
    pool.push_back(sharing.back()->getId());
  }
  const int seeds = envInt("KORVAN_CACHE_SEEDS", 40);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    Cache cache;
    std::map<Key, std::pair<FlowProfile::Order, unsigned char>> reference;
    std::ostringstream steps;
    std::string failure;
    for (int step = 0; step < 400 && failure.empty(); ++step) {
      const int op = (int) (rng() % 100);
      if (op < 60) {
        const TransactionId a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
        const FlowProfile::Order order = (FlowProfile::Order) (rng() % 4);
        const unsigned char survives = (unsigned char) (rng() % 16);
        steps << "set(" << a << "," << b << ")=" << order << "/" << (int) survives << "; ";
        cache.put(Key(a, b), order, survives);
        reference[Key(a, b)] = std::make_pair(order, survives);
      }
      else if (op < 68) {
        const TransactionId t = pool[rng() % pool.size()];
        steps << "forget " << t << "; ";
        cache.forget((Transaction*) t);
        for (auto it = reference.begin(); it != reference.end();)
          it = it->first.first == t || it->first.second == t ? reference.erase(it) : std::next(it);
      }
      else {
        std::vector<const ConstrainedVariable*> times;
        for (int k = (int) (rng() % 4); k > 0; --k)
          times.push_back((const ConstrainedVariable*) pool[rng() % pool.size()]->time());
        steps << "sweep " << times.size() << "; ";
        auto named = [&](TransactionId t) {
          return std::find(times.begin(), times.end(), (const ConstrainedVariable*) t->time()) != times.end();
        };
        std::set<Key> expected;
        for (const auto& entry : reference)
          if (named(entry.first.first) || named(entry.first.second) || !(entry.second.second & NETWORK))
            expected.insert(entry.first);
        std::set<Key> seen;
        std::vector<Key> asked;
        std::map<Key, bool> dropped;
        std::map<Key, unsigned char> turned;
        cache.retainAround(
          times,
          [&](const TransactionId& x, const TransactionId& y, FlowProfile::Order, unsigned char& survives) {
            if (!seen.insert(Key(x, y)).second)
              failure = "an entry seen twice";
            survives = (unsigned char) (survives ^ (rng() % 2 == 0 ? NETWORK : 0));
            turned[Key(x, y)] = survives;
            const unsigned int verdict = rng() % 3;
            if (verdict == 1)
              dropped[Key(x, y)] = true;
            return verdict == 0 ? Cache::STANDS : verdict == 1 ? Cache::MOVED : Cache::ASK;
          },
          [&](const TransactionId& x, const TransactionId& y, FlowProfile::Order, unsigned char& survives) {
            asked.push_back(Key(x, y));
            survives = (unsigned char) (survives ^ (rng() % 2 == 0 ? NETWORK : 0));
            turned[Key(x, y)] = survives;
            const bool kept = rng() % 4 != 0;
            if (!kept)
              dropped[Key(x, y)] = true;
            return kept;
          });
        if (seen != expected)
          failure = "visited " + std::to_string(seen.size()) + " entries, not the " +
            std::to_string(expected.size()) + " expected";
        if (!std::is_sorted(asked.begin(), asked.end(), [](const Key& x, const Key& y) {
              return std::less<const Transaction*>()((Transaction*) x.first, (Transaction*) y.first) ||
                (x.first == y.first && std::less<const Transaction*>()((Transaction*) x.second, (Transaction*) y.second));
            }))
          failure = "asked out of order";
        for (const auto& t : turned)
          reference[t.first].second = t.second;
        for (const auto& d : dropped)
          reference.erase(d.first);
      }
      if (cache.size() != reference.size())
        failure = "size " + std::to_string(cache.size()) + ", expected " + std::to_string(reference.size());
    }
    for (size_t i = 0; i < pool.size() && failure.empty(); ++i)
      for (size_t j = 0; j < pool.size() && failure.empty(); ++j) {
        const FlowProfile::Order* found = cache.find((Transaction*) pool[i], (Transaction*) pool[j]);
        auto it = reference.find(Key(pool[i], pool[j]));
        if ((found == 0) != (it == reference.end()) || (found != 0 && *found != it->second.first))
          failure = "the entries left differ";
      }
    ASSERT_EQ("", failure) << "seed " << seed << ": " << steps.str();
  }
}

// The per-transaction scratch a sweep hands its quick: within one sweep each
// transaction (the two of a pair, or the one of a pair with itself) has its
// own, unread at its first entry and as quick left it at its later ones;
// every sweep, whole or around times, starts unread again, whatever puts,
// drops and forgets came between.
TEST(FlowProfile, OrderingCachePointsAreOnePerTransactionAndSweep) {
  typedef TestFlowProfile::OrderingCache Cache;
  typedef std::pair<TransactionId, TransactionId> Key;
  ProfileWorld w;
  std::vector<TransactionId> pool;
  for (int i = 0; i < 12; ++i)
    pool.push_back(w.make(0, 10));
  const int seeds = envInt("KORVAN_CACHE_POINT_SEEDS", 8);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    Cache cache;
    std::string failure;
    int sweeps = 0;
    for (int step = 0; step < 200 && failure.empty(); ++step) {
      const int op = (int) (rng() % 10);
      if (op < 6) {
        const TransactionId a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
        cache.put(Key(a, b), (FlowProfile::Order) (rng() % 4), (unsigned char) (rng() % 16));
      }
      else if (op < 7)
        cache.forget((Transaction*) pool[rng() % pool.size()]);
      else {
        std::map<TransactionId, Cache::Point*> scratch;
        auto quick = [&](const TransactionId& x, const TransactionId& y, FlowProfile::Order, unsigned char&,
                         Cache::Points& points) {
          for (int side = 0; side < 2; ++side) {
            const TransactionId& t = side == 0 ? x : y;
            const int mine = (int) (std::find(pool.begin(), pool.end(), t) - pool.begin());
            auto seen = scratch.insert(std::make_pair(t, points.at[side]));
            if (seen.first->second != points.at[side])
              failure = "two scratches for one transaction";
            else if (points.at[side]->read != !seen.second || (!seen.second && points.at[side]->node != mine))
              failure = "a scratch not as the sweep left it";
            points.at[side]->read = true;
            points.at[side]->node = mine;
          }
          const unsigned int verdict = rng() % 8;
          return verdict == 0 ? Cache::MOVED : verdict == 1 ? Cache::ASK : Cache::STANDS;
        };
        auto keep = [&](const TransactionId&, const TransactionId&, FlowProfile::Order, unsigned char&) {
          return rng() % 2 == 0;
        };
        if (op < 9)
          cache.retain(quick, keep);
        else
          cache.retainAround({(const ConstrainedVariable*) pool[rng() % pool.size()]->time()}, quick, keep);
        sweeps += !scratch.empty();
        std::set<Cache::Point*> distinct;
        for (const auto& s : scratch)
          distinct.insert(s.second);
        if (distinct.size() != scratch.size())
          failure = "transactions sharing a scratch";
      }
    }
    ASSERT_EQ("", failure) << "seed " << seed;
    EXPECT_GT(sweeps, 10);
  }
}

// Sweeps around times and between two sets of transactions against an
// ordered map: each must see exactly the entries naming a transaction at one
// of the times, those not read from the network, and those with one
// transaction in each set of a join (marked by the numbers forEachMember
// gives, one per transaction named, below numbers()). KORVAN_CACHE_SEEDS sets
// the number of seeds.
TEST(FlowProfile, OrderingCacheVisitsTheEntriesJoiningTwoSets) {
  typedef TestFlowProfile::OrderingCache Cache;
  typedef std::pair<TransactionId, TransactionId> Key;
  const unsigned char NETWORK = TransactionOrdering::FROM_NETWORK;
  ProfileWorld w;
  std::vector<TransactionId> pool;
  for (int i = 0; i < 20; ++i)
    pool.push_back(w.make(0, 10));
  const int seeds = envInt("KORVAN_CACHE_SEEDS", 40);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    Cache cache;
    std::map<Key, unsigned char> reference;
    std::string failure;
    for (int step = 0; step < 300 && failure.empty(); ++step) {
      const int op = (int) (rng() % 100);
      if (op < 60) {
        const TransactionId a = pool[rng() % pool.size()], b = pool[rng() % pool.size()];
        const unsigned char survives = (unsigned char) (rng() % 16);
        cache.put(Key(a, b), (FlowProfile::Order) (rng() % 4), survives);
        reference[Key(a, b)] = survives;
        continue;
      }
      if (op < 66) {
        const TransactionId t = pool[rng() % pool.size()];
        cache.forget((Transaction*) t);
        for (auto it = reference.begin(); it != reference.end();)
          it = it->first.first == t || it->first.second == t ? reference.erase(it) : std::next(it);
        continue;
      }
      std::map<TransactionId, std::uint32_t> numbers;
      cache.forEachMember([&](const Transaction* t, std::uint32_t n) {
        if (n >= cache.numbers() || !numbers.insert(std::make_pair(((Transaction*) t)->getId(), n)).second)
          failure = "a number out of range or given twice";
      });
      std::set<TransactionId> named;
      for (const auto& entry : reference) {
        named.insert(entry.first.first);
        named.insert(entry.first.second);
      }
      std::set<TransactionId> members;
      std::set<std::uint32_t> distinct;
      for (const auto& n : numbers) {
        members.insert(n.first);
        distinct.insert(n.second);
      }
      if (named != members || distinct.size() != numbers.size())
        failure = "members other than the transactions named, or sharing a number";
      std::vector<const ConstrainedVariable*> times;
      for (int k = (int) (rng() % 3); k > 0; --k)
        times.push_back((const ConstrainedVariable*) pool[rng() % pool.size()]->time());
      std::vector<Cache::Join> joins(rng() % 3);
      for (Cache::Join& join : joins) {
        join.one.assign(cache.numbers(), 0);
        join.other.assign(cache.numbers(), 0);
        for (std::size_t n = 0; n < cache.numbers(); ++n) {
          join.one[n] = rng() % 4 == 0;
          join.other[n] = rng() % 3 == 0;
        }
      }
      auto in = [&](const std::vector<char>& marks, TransactionId t) {
        auto it = numbers.find(t);
        return it != numbers.end() && marks[it->second] != 0;
      };
      std::set<Key> expected;
      for (const auto& entry : reference) {
        const TransactionId a = entry.first.first, b = entry.first.second;
        bool wanted = !(entry.second & NETWORK) ||
          std::find(times.begin(), times.end(), (const ConstrainedVariable*) a->time()) != times.end() ||
          std::find(times.begin(), times.end(), (const ConstrainedVariable*) b->time()) != times.end();
        for (const Cache::Join& join : joins)
          wanted = wanted || (in(join.one, a) && in(join.other, b)) || (in(join.one, b) && in(join.other, a));
        if (wanted)
          expected.insert(entry.first);
      }
      std::set<Key> seen;
      cache.retainAround(
        times, joins,
        [&](const TransactionId& x, const TransactionId& y, FlowProfile::Order, unsigned char&) {
          if (!seen.insert(Key(x, y)).second)
            failure = "an entry seen twice";
          if (rng() % 5 != 0)
            return Cache::STANDS;
          reference.erase(Key(x, y));
          return Cache::MOVED;
        },
        [&](const TransactionId&, const TransactionId&, FlowProfile::Order, unsigned char&) { return true; });
      if (failure.empty() && seen != expected)
        failure = "visited " + std::to_string(seen.size()) + " entries, not the " + std::to_string(expected.size()) +
          " expected";
      if (cache.size() != reference.size())
        failure = "size " + std::to_string(cache.size()) + ", expected " + std::to_string(reference.size());
    }
    ASSERT_EQ("", failure) << "seed " << seed;
  }
}

// Look-ups read a small table by the transactions' numbers until there are
// too many transactions for it, and each transaction's row of partners then:
// against an ordered map, both ways of asking (one pair, a pair and its
// mirror) over a pool that grows past the table (of two largest sides), with
// sweeps that drop entries, forgets that free numbers for reuse and clears
// that start the table again; and rows from the first entry on over a pool of
// twelve, whose few cells are taken and freed again and again (probe runs
// that wrap around a row's end). KORVAN_CACHE_SEEDS sets the number of seeds
// (a tenth of them here).
TEST(FlowProfile, OrderingCacheLooksUpPastItsTable) {
  typedef TestFlowProfile::OrderingCache Cache;
  typedef std::pair<TransactionId, TransactionId> Key;
  ProfileWorld w;
  std::vector<TransactionId> pool;
  for (int i = 0; i < 640; ++i)
    pool.push_back(w.make(0, 10));
  const int seeds = std::max(1, envInt("KORVAN_CACHE_SEEDS", 40) / 10);
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed)
  for (std::pair<std::uint32_t, std::size_t> setting : {std::make_pair(64u, pool.size()),
                                                         std::make_pair(256u, pool.size()), std::make_pair(1u, (std::size_t) 12)}) {
    const std::uint32_t side = setting.first;
    std::mt19937 rng(seed);
    Cache cache(side);
    std::map<Key, FlowProfile::Order> reference;
    std::string failure;
    // Transactions drawn from the first `reach` of the pool, which grows.
    std::size_t reach = 8;
    auto draw = [&]() { return pool[rng() % reach]; };
    auto agrees = [&](TransactionId a, TransactionId b) {
      auto expect = [&](TransactionId x, TransactionId y, const FlowProfile::Order* found) {
        auto it = reference.find(Key(x, y));
        return (found == 0) == (it == reference.end()) && (found == 0 || *found == it->second);
      };
      const FlowProfile::Order *direct = 0, *mirror = 0;
      cache.findBoth((Transaction*) a, (Transaction*) b, direct, mirror);
      const bool both = expect(a, b, direct) && (direct != 0 ? mirror == 0 : expect(b, a, mirror));
      return both && expect(a, b, cache.find((Transaction*) a, (Transaction*) b));
    };
    std::size_t most = 0;  // transactions named at once
    std::pair<TransactionId, TransactionId> lastPut;
    for (int step = 0; step < 4000 && failure.empty(); ++step) {
      if (step % 50 == 0) {
        std::size_t members = 0;
        cache.forEachMember([&](const Transaction*, std::uint32_t) { ++members; });
        most = std::max(most, members);
      }
      const int op = (int) (rng() % 1000);
      if (op < 500) {
        TransactionId a = draw(), b = rng() % 8 == 0 ? a : draw();
        // A quarter the mirror of the last pair: a pair and its mirror held apart, and dropped apart.
        if (rng() % 4 == 0 && !reference.empty())
          std::tie(b, a) = lastPut;
        const FlowProfile::Order order = (FlowProfile::Order) (rng() % 5);
        cache.put(Key(a, b), order, (unsigned char) (rng() % 16));
        reference[Key(a, b)] = order;
        lastPut = std::make_pair(a, b);
        reach = std::min(setting.second, reach + 1);
      }
      else if (op < 960) {
        const TransactionId a = draw(), b = draw();
        if (!agrees(a, b))
          failure = "step " + std::to_string(step) + ": a look-up";
      }
      else if (op < 965) {
        const FlowProfile::Order dropped = (FlowProfile::Order) (rng() % 5);
        cache.retain([&](const TransactionId&, const TransactionId&, FlowProfile::Order order, unsigned char&) {
          return order != dropped;
        });
        for (auto it = reference.begin(); it != reference.end();)
          it = it->second == dropped ? reference.erase(it) : std::next(it);
      }
      else if (op < 985 || step < 2500) {
        const TransactionId t = draw();
        cache.forget((Transaction*) t);
        for (auto it = reference.begin(); it != reference.end();)
          it = it->first.first == t || it->first.second == t ? reference.erase(it) : std::next(it);
      }
      else {
        cache.clear();
        reference.clear();
      }
    }
    for (const auto& entry : reference)
      if (failure.empty() && (!agrees(entry.first.first, entry.first.second) ||
                              !agrees(entry.first.second, entry.first.first)))
        failure = "an entry left";
    ASSERT_EQ("", failure) << "seed " << seed << ", side " << side;
    // The pool outgrew the table's side.
    EXPECT_GT(most, side) << "seed " << seed;
  }
}

// Orderings that come and go through time points outside the profile reach
// no change handler: after every recompute each cached answer, and every
// answer asked through the cache, must still be what the network says.
// Equalities and fixed points make answers that move under tightening too;
// gaps of 1 to 4 make ones that do not. KORVAN_OUTSIDE_SEEDS sets the seeds.
TEST(FlowProfile, CachedOrderingsFollowOutsideChanges) {
  const int seeds = envInt("KORVAN_OUTSIDE_SEEDS", 64);
  int onlyLoosened = 0, onlyTightened = 0, strict = 0;
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    ProfileWorld w;
    RecordingDetector det;
    TestIncrementalProfile prof(w.db->getId(), det.getId(), 0, 0);
    std::vector<TransactionId> ts;
    for (int i = 0; i < 8; ++i) {
      const int lb = (int) (rng() % 20);
      ts.push_back(w.make(lb, lb + 5 + (int) (rng() % 20), rng() % 2 == 0, 1, 2));
      prof.addTransaction(ts.back());
    }
    std::vector<Id<ConstrainedVariable>> outside;
    for (int i = 0; i < 4; ++i)
      outside.push_back(w.intVar(0, 60));
    std::vector<ConstraintId> links;
    std::vector<size_t> fixed;
    std::ostringstream steps;
    ASSERT_TRUE(w.ce->propagate());
    prof.recompute();
    const TemporalNetwork& network =
      dynamic_cast<TemporalPropagator&>(
        *(Propagator*) w.ce->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME())).getNetwork();
    for (int step = 0; step < 40; ++step) {
      const std::uint64_t loosenings = network.getLoosenings(), tightenings = network.getTightenings();
      const int changes = 1 + (int) (rng() % 3);
      for (int c = 0; c < changes; ++c) {
        const unsigned int op = rng() % 10;
        if (op < 5 || links.empty()) {
          // t -> x, x -> t, t = x, or t and x 1 to 4 apart, with x outside the profile.
          const size_t t = rng() % ts.size(), x = rng() % outside.size();
          const unsigned int kind = rng() % 7;
          const bool before = kind % 2 == 0;
          const Id<ConstrainedVariable> from = before ? ts[t]->time() : outside[x];
          const Id<ConstrainedVariable> to = before ? outside[x] : ts[t]->time();
          steps << "link t" << t
                << (kind >= 5 ? (before ? " +gap-> x" : " <-gap+ x") : kind == 4 ? " = x" : before ? " -> x" : " <- x")
                << x << "; ";
          if (kind >= 5)
            links.push_back(w.ce->createConstraint(LabelStr("temporalDistance"), {from, w.intVar(1, 4), to}));
          else
            links.push_back(w.ce->createConstraint(LabelStr(kind < 4 ? "precedes" : "concurrent"), {from, to}));
        }
        else if (op < 8) {
          const size_t k = rng() % links.size();
          steps << "unlink " << k << "; ";
          links[k]->discard();
          links.erase(links.begin() + (long) k);
        }
        else if (op < 9 || fixed.empty()) {
          const size_t x = rng() % outside.size();
          if (outside[x]->isSpecified())
            continue;
          const double value = outside[x]->lastDomain().getLowerBound();
          steps << "fix x" << x << " at " << value << "; ";
          outside[x]->specify(value);
          fixed.push_back(x);
        }
        else {
          const size_t k = rng() % fixed.size();
          steps << "free x" << fixed[k] << "; ";
          outside[fixed[k]]->reset();
          fixed.erase(fixed.begin() + (long) k);
        }
        if (!w.ce->propagate()) {
          // Inconsistent: take everything back to consistency.
          steps << "(inconsistent, undone) ";
          while (!fixed.empty()) {
            outside[fixed.back()]->reset();
            fixed.pop_back();
          }
          while (!w.ce->propagate()) {
            ASSERT_FALSE(links.empty()) << "seed " << seed << ": " << steps.str();
            links.back()->discard();
            links.pop_back();
          }
        }
      }
      const bool loosened = network.getLoosenings() != loosenings, tightened = network.getTightenings() != tightenings;
      onlyLoosened += loosened && !tightened;
      onlyTightened += tightened && !loosened;
      prof.recompute();
      std::string wrong;
      for (TestIncrementalProfile::OrderingCache* cache : {&prof.m_orderings, &prof.m_orderedAt})
        cache->retain([&](const TransactionId& a, const TransactionId& b, FlowProfile::Order order, unsigned char&) {
          if (prof.computeOrdering(a, b) != order)
            wrong = "a cached entry";
          return true;
        });
      for (size_t i = 0; i < ts.size(); ++i)
        for (size_t j = 0; j < ts.size(); ++j)
          if (i != j) {
            const FlowProfile::Order order = prof.computeOrdering(ts[i], ts[j]);
            strict += order == FlowProfile::STRICTLY_AT;
            if (prof.getOrdering(ts[i], ts[j]) != order)
              wrong = "the answer for t" + std::to_string(i) + ", t" + std::to_string(j);
          }
      ASSERT_EQ("", wrong) << "seed " << seed << ", step " << step << ": " << steps.str();
    }
  }
  // Each kind of change seen alone, and pairs strictly at; a loosening is
  // mostly followed by tightenings, as relaxed domains are narrowed again.
  EXPECT_GT(onlyLoosened, 3);
  EXPECT_GT(onlyTightened, 10);
  EXPECT_GT(strict, 0);
}

// Two unordered transactions, then one ordered before the other through a
// point outside the profile: the arcs alone tell the cached "not ordered"
// moved. The check drops it whether the distance lines are on or off; on,
// it writes the pair's distance once, as asking it again would.
TEST(FlowProfile, MovedAnswerToldByTheArcsIsDroppedAndWrittenOnce) {
  for (int lines = 0; lines < 2; ++lines) {
    ProfileWorld w;
    RecordingDetector det;
    TestIncrementalProfile prof(w.db->getId(), det.getId(), 0, 0);
    const TransactionId a = w.make(0, 10, true, 1, 1), b = w.make(0, 10, false, 1, 1);
    // Both are points of the network from the start, so that the answer is read from it.
    const Id<ConstrainedVariable> x = w.intVar(0, 10), y = w.intVar(0, 10);
    w.ce->createConstraint(LabelStr("precedes"), {a->time(), x});
    w.ce->createConstraint(LabelStr("precedes"), {y, b->time()});
    prof.addTransaction(a);
    prof.addTransaction(b);
    ASSERT_TRUE(w.ce->propagate());
    prof.recompute();
    const Transaction* pa = (const Transaction*) a;
    const Transaction* pb = (const Transaction*) b;
    const FlowProfile::Order* ab = prof.m_orderings.find(pa, pb);
    const FlowProfile::Order* ba = prof.m_orderings.find(pb, pa);
    ASSERT_TRUE((ab != 0 ? *ab : *ba) == FlowProfile::NOT_ORDERED);
    w.ce->createConstraint(LabelStr("precedes"), {x, b->time()});
    std::ostringstream out;
    DebugMessage::setStream(out);
    if (lines)
      DebugMessage::enable("TemporalAdvisor:getTemporalDistanceDomain");
    prof.noteOutsideChanges();
    DebugMessage::disableAll();
    DebugMessage::setStream(std::cerr);
    EXPECT_TRUE(prof.m_orderings.find(pa, pb) == 0 && prof.m_orderings.find(pb, pa) == 0) << "lines " << lines;
    const std::string keys[2] = {" " + std::to_string(a->time()->getKey()) + " -> " +
                                   std::to_string(b->time()->getKey()) + " [0, 10]",
                                 " " + std::to_string(b->time()->getKey()) + " -> " +
                                   std::to_string(a->time()->getKey()) + " [-10, 0]"};
    const std::string expected =
      lines ? "[TemporalAdvisor:getTemporalDistanceDomain]" + keys[ab != 0 ? 0 : 1] + "\n" : "";
    EXPECT_EQ(expected, out.str());
  }
}

// Answers kept by the pair's numbers: after every recomputation, each pair
// asked by its numbers gets what the network says now, while orders among
// the profile's transactions come and go, and transactions leave and come
// back (a freed number is given again).
namespace {
class NumberedAnswers : public TestIncrementalProfile {
public:
  using TestIncrementalProfile::TestIncrementalProfile;
  using FlowProfile::lookupOrdering;
};
}

TEST(FlowProfile, AnswersByNumbersFollowTheNetwork) {
  const int seeds = envInt("KORVAN_ANSWER_SEEDS", 24);
  int asked = 0, ordered = 0, removed = 0;
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    ProfileWorld w;
    RecordingDetector det;
    NumberedAnswers prof(w.db->getId(), det.getId(), 0, 0);
    std::vector<TransactionId> ts, out;
    for (int i = 0; i < 7; ++i) {
      const int lb = (int) (rng() % 20);
      ts.push_back(w.make(lb, lb + 5 + (int) (rng() % 20), rng() % 2 == 0, 1, 2));
      prof.addTransaction(ts.back());
    }
    std::vector<ConstraintId> links;
    std::ostringstream steps;
    ASSERT_TRUE(w.ce->propagate());
    prof.recompute();
    for (int step = 0; step < 30; ++step) {
      const unsigned int op = rng() % 10;
      if (op < 5 || links.empty()) {
        const size_t a = rng() % ts.size(), b = rng() % ts.size();
        if (a == b)
          continue;
        steps << "t" << a << (op % 2 == 0 ? " -> t" : " = t") << b << "; ";
        links.push_back(w.ce->createConstraint(LabelStr(op % 2 == 0 ? "precedes" : "concurrent"),
                                               {ts[a]->time(), ts[b]->time()}));
      }
      else if (op < 8) {
        const size_t k = rng() % links.size();
        steps << "unlink " << k << "; ";
        links[k]->discard();
        links.erase(links.begin() + (long) k);
      }
      else if (op < 9 || out.empty()) {
        // Out of the profile with its links, so that its number is free.
        const size_t k = rng() % ts.size();
        steps << "remove t" << k << "; ";
        for (size_t l = links.size(); l-- > 0;) {
          const std::vector<ConstrainedVariableId>& scope = links[l]->getScope();
          if (std::find(scope.begin(), scope.end(), ts[k]->time()) != scope.end()) {
            links[l]->discard();
            links.erase(links.begin() + (long) l);
          }
        }
        prof.removeTransaction(ts[k]);
        out.push_back(ts[k]);
        ts.erase(ts.begin() + (long) k);
        ++removed;
      }
      else {
        // One that left comes back, or a new one takes the free number.
        const size_t k = rng() % out.size();
        const int lb = (int) (rng() % 20);
        const TransactionId t = rng() % 2 == 0 ? out[k] : w.make(lb, lb + 5 + (int) (rng() % 20), rng() % 2 == 0, 1, 2);
        if (t == out[k])
          out.erase(out.begin() + (long) k);
        steps << "add t" << ts.size() << "; ";
        prof.addTransaction(t);
        ts.push_back(t);
      }
      while (!w.ce->propagate()) {
        ASSERT_FALSE(links.empty()) << "seed " << seed << ": " << steps.str();
        steps << "(undone) ";
        links.back()->discard();
        links.pop_back();
      }
      prof.recompute();
      for (size_t i = 0; i < ts.size(); ++i)
        for (size_t j = 0; j < ts.size(); ++j) {
          if (i == j)
            continue;
          const FlowProfile::Order truth = prof.computeOrdering(ts[i], ts[j]);
          ++asked;
          ordered += truth != FlowProfile::NOT_ORDERED;
          ASSERT_EQ(truth, prof.lookupOrdering(ts[i], ts[j], prof.numberOf(ts[i]), prof.numberOf(ts[j])))
            << "seed " << seed << ", step " << step << ", t" << i << ", t" << j << ": " << steps.str();
        }
    }
  }
  EXPECT_GT(ordered, asked / 20);
  EXPECT_GT(removed, seeds);
}

// A token's own start and end are ordered by its duration, not asked of the network, and are
// looked at again only where a bound of theirs moved: while durations that may fall to 0 are
// fixed and freed, and the tokens' times are tied to points outside the profile, every cached
// order, and every one asked, is still the one computed now. KORVAN_OWN_ORDER_SEEDS sets the seeds.
TEST(FlowProfile, TokensOwnOrderFollowsItsDuration) {
  const int seeds = envInt("KORVAN_OWN_ORDER_SEEDS", 48);
  int filed = 0, fellToZero = 0, strict = 0;
  for (int seed = firstSeed(); seed < firstSeed() + seeds; ++seed) {
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    ResourceWorld w(false, true);
    TestReusable* res = w.reusable("U", 100, "FlowProfile");
    std::vector<TokenId> tokens;
    std::map<TokenId, int> index;
    for (int i = 0; i < 4; ++i) {
      const int lb = uniform(0, 20);
      tokens.push_back((new ReusableToken(w.db->getId(), "Reusable.uses", IntervalIntDomain(lb, lb + uniform(5, 20)),
                                          IntervalIntDomain(), IntervalIntDomain(uniform(0, 1), 3),
                                          IntervalDomain(1, 1), "U", true, true))->getId());
      index[tokens.back()] = i;
    }
    ASSERT_TRUE(w.propagate());
    // In the tokens' order, start first, not by address.
    std::vector<std::pair<int, TransactionId>> ts;
    for (const auto& entry : res->m_transactionsToTokens)
      ts.push_back(std::make_pair(2 * index[entry.second] + (entry.first->time() == entry.second->end() ? 1 : 0),
                                  entry.first));
    std::sort(ts.begin(), ts.end(), [](const std::pair<int, TransactionId>& a, const std::pair<int, TransactionId>& b) {
      return a.first < b.first;
    });
    RecordingDetector det;
    TestFlowProfile prof(w.db->getId(), det.getId(), 0, 0);
    for (const auto& t : ts)
      prof.addTransaction(t.second);
    std::vector<Variable<IntervalIntDomain>*> outside;
    for (int i = 0; i < 3; ++i)
      outside.push_back(new Variable<IntervalIntDomain>(w.ce->getId(), IntervalIntDomain(0, 60)));
    std::vector<ConstraintId> links;
    std::ostringstream steps;
    prof.recompute();
    for (int step = 0; step < 30; ++step) {
      const int op = uniform(0, 9);
      const TokenId token = tokens[(size_t) uniform(0, 3)];
      const ConstrainedVariableId duration = token->duration();
      const bool above = duration->lastDomain().getLowerBound() > 0;
      if (op < 4 && !duration->isSpecified()) {
        const int value = uniform((int) duration->lastDomain().getLowerBound(), (int) duration->lastDomain().getUpperBound());
        steps << "duration " << index[token] << " = " << value << "; ";
        duration->specify(value);
      }
      else if (op < 6) {
        steps << "free duration " << index[token] << "; ";
        if (duration->isSpecified())
          duration->reset();
      }
      else if (op < 8 || links.empty()) {
        const Id<ConstrainedVariable> time = uniform(0, 1) == 0 ? token->start() : token->end();
        const Id<ConstrainedVariable> x = outside[(size_t) uniform(0, 2)]->getId();
        const bool before = uniform(0, 1) == 0;
        steps << "link " << index[token] << (before ? " -> x" : " <- x") << "; ";
        links.push_back(w.ce->createConstraint(LabelStr("precedes"), {before ? time : x, before ? x : time}));
      }
      else {
        const size_t k = (size_t) uniform(0, (int) links.size() - 1);
        steps << "unlink " << k << "; ";
        links[k]->discard();
        links.erase(links.begin() + (long) k);
      }
      if (!w.propagate()) {
        steps << "(inconsistent, undone) ";
        for (const TokenId& t : tokens)
          if (t->duration()->isSpecified())
            t->duration()->reset();
        while (!w.propagate()) {
          ASSERT_FALSE(links.empty()) << "seed " << seed << ": " << steps.str();
          links.back()->discard();
          links.pop_back();
        }
      }
      fellToZero += above && duration->lastDomain().getLowerBound() <= 0;
      prof.recompute();
      std::string wrong;
      for (TestFlowProfile::OrderingCache* cache : {&prof.m_orderings, &prof.m_orderedAt})
        cache->retain([&](const TransactionId& a, const TransactionId& b, FlowProfile::Order order,
                          unsigned char& survives) {
          filed += a->time()->parent() == b->time()->parent() && (survives & FlowProfile::FROM_NETWORK) != 0;
          if (prof.computeOrdering(a, b) != order)
            wrong = "a cached entry";
          return true;
        });
      for (const auto& a : ts)
        for (const auto& b : ts)
          if (a.first != b.first) {
            const FlowProfile::Order order = prof.computeOrdering(a.second, b.second);
            strict += order == FlowProfile::STRICTLY_AT;
            if (prof.getOrdering(a.second, b.second) != order)
              wrong = "the answer for " + std::to_string(a.first) + ", " + std::to_string(b.first);
          }
      ASSERT_EQ("", wrong) << "seed " << seed << ", step " << step << ": " << steps.str();
    }
    for (const ConstraintId& link : links)
      link->discard();
    for (Variable<IntervalIntDomain>* x : outside)
      delete x;
  }
  // Own orders filed with the network's, durations that fell back to 0 under them, and tokens
  // that last no time at all.
  EXPECT_GT(filed, 100);
  EXPECT_GT(fellToZero, 10);
  EXPECT_GT(strict, 0);
}
