#ifndef KORVAN_MIRT_FLOWPROFILE_HH
#define KORVAN_MIRT_FLOWPROFILE_HH

#include "Resource/base/MIRT_Profile.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_MaxFlow.hh"
#include "Resource/component/MIRT_Types.hh"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace KORVAN {

class TemporalPropagator;

namespace MIRT {

// For each transaction, the instant from which it counts in one level bound
// outside the flow network.
typedef std::unordered_map<TransactionId, InstantId, TransactionIdHash> ContributionMap;

// One of the two flow networks of a flow profile. Pending transactions hang
// from the source or towards the sink with a quantity bound as capacity, and
// orderings join them with edges of unbounded capacity; the residual left on
// the source's edges after a maximum flow is what the pending transactions can
// still move the level bound by.
//
//             consumer                         producer
//   lower     source -> t, quantity ub         t -> sink, quantity lb
//   upper     t -> sink, quantity lb           source -> t, quantity ub
class FlowProfileGraph {
public:
  FlowProfileGraph(const TransactionId& source, const TransactionId& sink, bool lowerLevel);
  ~FlowProfileGraph();

  bool isLowerLevel() const { return m_lowerLevel; }
  // Switches every transaction off, with all the edges between them; the
  // terminals stay on.
  void reset();
  // A transaction with a zero capacity here gets no node: it is recorded in
  // the contribution map at the instant instead.
  void enableTransaction(const TransactionId& t, const InstantId& instant, ContributionMap& contributions);
  // t1 and t2 at the same time / t1 at or before t2; nothing unless both have nodes.
  void enableAt(const TransactionId& t1, const TransactionId& t2);
  void enableAtOrBefore(const TransactionId& t1, const TransactionId& t2);
  bool isEnabled(const TransactionId& t) const;
  bool hasNode(const TransactionId& t) const;
  // Whether a residual-graph walk of this network has taken t out.
  bool wasTakenOut(const TransactionId& t) const { return m_takenOut.count(t) > 0; }
  void disable(const TransactionId& t);
  void removeTransaction(const TransactionId& t);
  void pushFlow(const TransactionId& t);
  void restoreFlow();
  double getResidualFromSource();
  // The transactions reachable from the source over edges with residual
  // capacity left by the last maximum flow, in depth-first out-list order:
  // the ones the level bound counts in full. Changes nothing.
  void getReachableResidualTransactions(std::vector<TransactionId>& reached) const;
  // Takes every transaction still reachable from the source in the residual
  // network out of it, records them at the instant and returns the sum of
  // their contributions to this level bound; 0.0 when nothing changed. The
  // nodes taken out are deleted, so that later runs only see the open part.
  double disableReachableResidualGraph(ContributionMap& contributions, const InstantId& instant);

  bool needsRecalculation() const { return m_recalculate; }
  const Graph& getGraph() const { return *m_graph; }

private:
  FlowProfileGraph(const FlowProfileGraph&) = delete;
  FlowProfileGraph& operator=(const FlowProfileGraph&) = delete;

  typedef std::unordered_map<Node*, bool, NodeHash> VisitedMap;

  bool onSourceSide(const TransactionId& t) const;
  void visitNeighbors(Node* node, double& level, VisitedMap& visited, ContributionMap& contributions,
                      const InstantId& instant);

  // Run the maximum flow again from the flow the edges hold, or from scratch.
  void runMaximumFlow();

  bool m_lowerLevel;
  bool m_recalculate;
  // The edges hold a maximum flow of an earlier state of this network.
  bool m_flowHeld;
  std::set<TransactionId> m_takenOut;
  MaximumFlowAlgorithm* m_maxflow;
  Graph* m_graph;
  Node* m_source;
  Node* m_sink;
};

// Level bounds that take the temporal network's orderings into account: at
// each instant the transactions that must have happened are folded into the
// closed levels, and the pending ones are placed in a lower-level and an
// upper-level flow network whose maximum flows tell how far they can move the
// level.
class FlowProfile : public Profile {
public:
  // The relation of a first transaction's time to a second one's that holds
  // in every solution.
  enum Order { AFTER_OR_AT = 0, BEFORE_OR_AT, NOT_ORDERED, STRICTLY_AT, UNKNOWN };

  FlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb, double initLevelUb);
  virtual ~FlowProfile();

  // The instant from which t counts in that level bound directly, as the last
  // recomputation left it.
  bool getEarliestLowerLevelInstant(const TransactionId& t, InstantId& i);
  bool getEarliestUpperLevelInstant(const TransactionId& t, InstantId& i);

protected:
  // Orders of pairs of transactions, keyed by the ordered pair: asked for
  // every pair pending together at every instant of every pass, so it is an
  // open-addressing table of addresses, with no handle checks. Entries never
  // outlive their transactions: removing one forgets its entries.
  class OrderingCache {
  public:
    typedef std::pair<TransactionId, TransactionId> Key;
    OrderingCache();
    // Null when the pair has no entry.
    const Order* find(const Transaction* first, const Transaction* second) const;
    // survives: which changes of the temporal network the order is known to
    // outlive (Survival bits).
    void put(const Key& key, Order order, unsigned char survives);
    void clear();
    // Drops every entry that names t.
    void forget(const Transaction* t);
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // Calls keep(first, second, order, survives) on every entry, which may
    // update survives, and drops those it answers false for.
    template <class Keep>
    void retain(Keep keep);

  private:
    struct Slot {
      Transaction* first;
      Transaction* second;
      Order order;
      unsigned char survives;
    };
    std::size_t home(const Transaction* first, const Transaction* second) const;
    void grow();
    Slot& place(Transaction* first, Transaction* second);

    std::vector<Slot> m_slots;
    std::size_t m_size;
  };

  void postHandleRecompute() override;
  void noteOutsideChanges() override;
  void initRecompute(InstantId inst) override;
  void initRecompute() override;
  void recomputeLevels(InstantId prev, InstantId inst) override;

  void handleTransactionAdded(TransactionId t) override;
  void handleTransactionRemoved(TransactionId t) override;
  void handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& type) override;
  void handleTransactionQuantityChanged(TransactionId t, const DomainListener::ChangeType& type) override;
  void handleTemporalConstraintAdded(TransactionId predecessor, int preArgIndex, TransactionId successor,
                                     int sucArgIndex) override;
  void handleTemporalConstraintRemoved(TransactionId predecessor, int preArgIndex, TransactionId successor,
                                       int sucArgIndex) override;

  void initializeGraphs();
  void enableTransaction(const TransactionId& t, const InstantId& inst);
  Order getOrdering(const TransactionId& t1, const TransactionId& t2);
  // getOrdering for transactions known to be live (taken from the profile's
  // instants), without the handle checks.
  Order lookupOrdering(const TransactionId& t1, const TransactionId& t2);
  // Which changes of the temporal network an order read from it outlives.
  // An exact distance interval only shrinks while nothing is loosened and
  // only grows while nothing is tightened: a "not ordered" (the interval
  // holds both signs) outlives loosenings, a "strictly at" ([0, 0]) and an
  // order with a gap (lower bound above 0, or upper below 0) outlive
  // tightenings, and an order at or before with no gap can turn into
  // "strictly at". Orders read otherwise (the token's own start and end, the
  // domains' bounds when a time is outside the network) are checked always.
  enum Survival { SURVIVES_NOTHING = 0, FROM_NETWORK = 1, SURVIVES_TIGHTENING = 2, SURVIVES_LOOSENING = 4 };
  // What the temporal network says now, cache aside; survives, when given,
  // receives the Survival bits of the answer.
  Order computeOrdering(const TransactionId& t1, const TransactionId& t2, unsigned char* survives = 0);
  void handleOrderedAt(const TransactionId& t1, const TransactionId& t2);
  void handleOrderedAtOrBefore(const TransactionId& t1, const TransactionId& t2);

  // Book-keeping of the pass in progress, so that a pass cut short (by a
  // violation, or by a change made while it ran) is finished by the next one.
  // A pass; one that restarts at `from` when it is cut short (the incremental
  // profile, whose next pass trusts every record before its start: those that
  // the cut pass walked past are not renewed).
  void startPass(int from = g_infiniteTime());
  void noteComputed(const InstantId& inst);

  // Contribution entries written by the pass in progress: a transaction
  // keeps the first instant at which the pass found it counting.
  void recordContribution(ContributionMap& contributions, std::set<TransactionId>& recorded,
                          const TransactionId& t, const InstantId& inst);
  void enablePending(const TransactionId& t, const InstantId& inst);
  // The instant's transactions that do not end there, in the instant's
  // order, into m_pending; none enabled yet.
  void readPending(const std::set<TransactionId>& transactions, double T);
  void enablePendingOnce(std::size_t position, const InstantId& inst);
  void recordReached(const FlowProfileGraph& graph, ContributionMap& contributions,
                     std::set<TransactionId>& recorded, const InstantId& inst);

  std::unordered_map<TransactionId, std::pair<int, int>, TransactionIdHash> m_previousTimeBounds;
  TransactionId m_dummySourceTransaction;
  TransactionId m_dummySinkTransaction;
  FlowProfileGraph* m_lowerLevelGraph;
  FlowProfileGraph* m_upperLevelGraph;
  double m_lowerClosedLevel;
  double m_upperClosedLevel;
  bool m_recalculateLowerLevel;
  bool m_recalculateUpperLevel;
  OrderingCache m_orderings;
  OrderingCache m_orderedAt;
  ContributionMap m_lowerLevelContribution;
  ContributionMap m_upperLevelContribution;
  // Scratch of the plain flow profile's walk of one instant.
  std::vector<TransactionId> m_pending;
  std::vector<bool> m_pendingEnabled;

  // Everything a pass keeps about itself. pendingEnd is the end of the
  // window the next pass will cover. While inPass: passEnd is the end of the
  // window the pass started with; instants are computed in increasing time,
  // so when computedAny every instant of the window up to lastComputed is
  // done and the pass is finished exactly when no instant lies in
  // (lastComputed, passEnd]. lowerRecorded and upperRecorded (kept by the
  // plain flow profile's passes only) hold the transactions whose entry in
  // that level's contribution map the pass has written, and whose entry it
  // leaves alone from then on. Outside a pass passEnd, computedAny and
  // lastComputed mean nothing.
  struct PassState {
    PassState();
    void start(int from);
    void computed(int time);
    // The time of the first instant of the pass's window it left
    // uncomputed; false when it finished, or computed nothing.
    bool stoppedBefore(const std::map<int, InstantId>& instants, int& resumeAt) const;

    bool inPass;
    int restartAt;
    int passEnd;
    int pendingEnd;
    bool computedAny;
    int lastComputed;
    std::set<TransactionId> lowerRecorded;
    std::set<TransactionId> upperRecorded;
    // The transactions the plain flow profile's pass has enabled: within a
    // pass no domain changes, so enabling one again changes nothing.
    std::unordered_set<TransactionId, TransactionIdHash> enabled;
  };
  PassState m_pass;

private:
  TransactionId makePlaceholder();
  // Null when the constraint engine has none.
  TemporalPropagator* temporalPropagator() const;
  // The arcs between time points tightened since the last check, with the
  // distances to the start and from the end of each, asked when first needed.
  struct TightenedArcs {
    // Two rows per arc: with more arcs, every entry is asked as before.
    static const std::size_t MOST = 4;
    struct Arc {
      int from;
      int to;
      std::int64_t weight;
      std::vector<std::int64_t> toFrom;  // d(x, from)
      std::vector<std::int64_t> fromTo;  // d(to, x)
    };
    TightenedArcs() : usable(false), ready(false) {}
    bool usable;
    bool ready;
    std::vector<Arc> arcs;
  };
  // Whether the cached answer for (t1, t2) stands after the tightenings of arcs.
  bool keepsAnswer(TemporalPropagator& temporal, TightenedArcs& arcs, const TransactionId& t1,
                   const TransactionId& t2, Order cached);
  // Replaces the recompute window by [start, end] merged with the pending one.
  void mergeWindow(int start, int end);
  void temporalConstraintChanged(const TransactionId& predecessor, const TransactionId& successor);
  void replaceWindow(int start, int end);
  bool getEarliestInstant(const ContributionMap& contributions, const TransactionId& t, InstantId& i) const;

  // Of the temporal network the cached orderings were checked against.
  std::uint64_t m_networkVersion;
  std::uint64_t m_networkLoosenings;
  std::uint64_t m_networkTightenings;
  std::uint64_t m_arcsMark;  // the network's tightened arc count then
  bool m_arcsMarked;
  // A change of a transaction (a relaxed time, a removal) may have moved
  // cached orderings whatever the network's counters say: the next check
  // asks every entry again.
  bool m_recheckOrderings;
};

template <class Keep>
void FlowProfile::OrderingCache::retain(Keep keep) {
  // In the order of the pairs' addresses, first transaction first: the
  // answers that keep asks the temporal network for then come one source
  // point after the other, as its row cache prefers.
  std::vector<Slot> entries;
  entries.reserve(m_size);
  for (std::size_t i = 0; i < m_slots.size(); ++i)
    if (m_slots[i].first != 0)
      entries.push_back(m_slots[i]);
  std::sort(entries.begin(), entries.end(), [](const Slot& x, const Slot& y) {
    return x.first != y.first ? std::less<const Transaction*>()(x.first, y.first)
                              : std::less<const Transaction*>()(x.second, y.second);
  });
  std::vector<Slot> kept;
  kept.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (keep(entries[i].first->getId(), entries[i].second->getId(), entries[i].order, entries[i].survives))
      kept.push_back(entries[i]);
  if (kept.size() == entries.size()) {
    for (std::size_t i = 0; i < kept.size(); ++i)
      place(kept[i].first, kept[i].second).survives = kept[i].survives;
    return;
  }
  // Open addressing with linear probing: rebuilding is the simple way to
  // leave no gap in a probe sequence.
  std::fill(m_slots.begin(), m_slots.end(), Slot{0, 0, UNKNOWN, SURVIVES_NOTHING});
  m_size = 0;
  for (std::size_t i = 0; i < kept.size(); ++i)
    place(kept[i].first, kept[i].second) = kept[i];
}

}
}

#endif
