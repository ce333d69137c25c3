#ifndef KORVAN_MIRT_FLOWPROFILE_HH
#define KORVAN_MIRT_FLOWPROFILE_HH

#include "Resource/base/MIRT_Profile.hh"
#include "Resource/component/MIRT_CacheMarks.hh"
#include "Resource/component/MIRT_FlowProfileGraph.hh"
#include "Resource/component/MIRT_OrderingCache.hh"
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
class DebugMessage;

namespace MIRT {

// Level bounds that take the temporal network's orderings into account: at
// each instant the transactions that must have happened are folded into the
// closed levels, and the pending ones are placed in a lower-level and an
// upper-level flow network whose maximum flows tell how far they can move the
// level.
class FlowProfile : public Profile, public TransactionOrdering {
public:
  FlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb, double initLevelUb);
  virtual ~FlowProfile();

  // The instant from which t counts in that level bound directly, as the last
  // recomputation left it.
  bool getEarliestLowerLevelInstant(const TransactionId& t, InstantId& i);
  bool getEarliestUpperLevelInstant(const TransactionId& t, InstantId& i);

  // The cached orderings asked again by the checks after the temporal network's changes, for
  // tests that count their work.
  static unsigned long long& orderingsAskedAgain();

protected:
  typedef MIRT::OrderingCache OrderingCache;

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

  // The steps of recomputeLevels: the instant's transactions and bounds
  // read into m_present; one that ends here moved into the closed levels;
  // the pending ones ordered with t read into m_ordered, and t's edges to
  // the nearest of them; the instant's levels from both networks.
  void readPresent(const InstantId& inst);
  void closeTransaction(const TransactionId& t, const InstantId& inst);
  void readOrdered(const TransactionId& t, std::size_t self, const InstantId& inst);
  void orderWithNearest(const TransactionId& t);
  void recordLevels(const InstantId& inst);
  void initializeGraphs();
  void enableTransaction(const TransactionId& t, const InstantId& inst);
  // t's dense number among the profile's transactions, by which both
  // networks find its node; given at first ask, free again on removal.
  int numberOf(const TransactionId& t);
  Order getOrdering(const TransactionId& t1, const TransactionId& t2);
  // getOrdering for transactions known to be live (taken from the profile's
  // instants), without the handle checks.
  Order lookupOrdering(const TransactionId& t1, const TransactionId& t2);
  // The same, for transactions of the given numbers (numberOf); a pair
  // answered before reads one byte here, in the caller's loop.
  Order lookupOrdering(const TransactionId& t1, const TransactionId& t2, int n1, int n2) {
    if (n1 < m_answersSide && n2 < m_answersSide) {
      const unsigned char answer = m_answers[(std::size_t) n1 * m_answersSide + n2];
      if (answer != 0)
        return (Order) (answer - 1);
    }
    return answerOrdering(t1, t2, n1, n2);
  }
  // lookupOrdering by numbers past a known answer: asks the caches, keeps the answer.
  Order answerOrdering(const TransactionId& t1, const TransactionId& t2, int n1, int n2);
  // What the temporal network says now, cache aside; survives, when given,
  // receives the Survival bits of the answer.
  Order computeOrdering(const TransactionId& t1, const TransactionId& t2, unsigned char* survives = 0);
  void handleOrderedAt(const TransactionId& t1, const TransactionId& t2);
  void handleOrderedAtOrBefore(const TransactionId& t1, const TransactionId& t2);
  // The two above, on the networks chosen.
  void orderedAt(const TransactionId& t1, const TransactionId& t2, bool lower, bool upper);
  void orderedAtOrBefore(const TransactionId& t1, const TransactionId& t2, bool lower, bool upper);

  // How `other` stands to t when getOrdering(t, other) answers order, in
  // FlowProfileGraph's relation bits.
  static unsigned char relationTo(Order order);
  // Of the transactions ordered with one being opened (m_ordered, with
  // m_orderedRelation), those a network needs an edge to; candidates, when
  // given, limits them to those marked. m_ordered must be sorted since it
  // was filled (sortOrdered).
  void selectNearest(FlowProfileGraph* graph, const TransactionId& t, const std::vector<char>* candidates,
                     std::vector<char>& needed);
  // Sorts m_ordered for the choices of both networks at once.
  void sortOrdered();

  // Book-keeping of the pass in progress (m_pass), so that a pass cut short
  // (by a violation, or by a change made while it ran) is finished by the
  // next one. The plain profile's passes resume where the cut one stopped;
  // the incremental profile passes `from`, the time its pass started at, and
  // its next pass restarts there, since it trusts every contribution record
  // before its start and the cut pass did not renew those it walked past.
  void startPass(int from = g_infiniteTime());
  void noteComputed(const InstantId& inst);

  // Contribution entries written by the pass in progress: a transaction
  // keeps the first instant at which the pass found it counting.
  void recordContribution(ContributionMap& contributions, std::set<TransactionId>& recorded,
                          const TransactionId& t, const InstantId& inst);
  void enablePending(const TransactionId& t, const InstantId& inst);
  // The instant's transactions (m_present) that do not end there, in the
  // instant's order, into m_pending; none enabled yet.
  void readPending(double T);
  void enablePendingOnce(std::size_t position, const InstantId& inst);
  void recordReached(const FlowProfileGraph& graph, ContributionMap& contributions,
                     std::set<TransactionId>& recorded, const InstantId& inst);

  // Each transaction's time bounds as the change handling last saw them: a
  // time change moves the levels wherever it was or now is, so the window
  // runs from the earlier bounds to the new ones. Erased on removal.
  std::unordered_map<TransactionId, std::pair<int, int>, TransactionIdHash> m_previousTimeBounds;
  TransactionId m_dummySourceTransaction;
  TransactionId m_dummySinkTransaction;
  FlowProfileGraph* m_lowerLevelGraph;
  FlowProfileGraph* m_upperLevelGraph;
  double m_lowerClosedLevel;
  double m_upperClosedLevel;
  // Whether the next pass recomputes that level bound: a level bound no
  // change could move (a consumer's quantity upper bound lowered moves only
  // the lower bound, for instance) keeps its network and the values its
  // instants hold. Set by the change handling, cleared when a pass finishes.
  bool m_recalculateLowerLevel;
  bool m_recalculateUpperLevel;
  // Two caches because lookups differ: m_orderings answers a pair from its
  // own entry or from its mirror's, while "strictly at" answers, rare, go to
  // m_orderedAt, asked for the pair as given and skipped while it is empty.
  // Both are checked together by noteOutsideChanges.
  OrderingCache m_orderings;
  OrderingCache m_orderedAt;
  ContributionMap m_lowerLevelContribution;
  ContributionMap m_upperLevelContribution;
  // Scratch of the plain flow profile's walk of one instant: its
  // transactions and their time bounds, read once (nothing in the walk
  // changes a domain), and those pending.
  std::vector<TransactionId> m_present;
  std::vector<std::pair<double, double>> m_presentBounds;
  std::vector<TransactionId> m_pending;
  std::vector<bool> m_pendingEnabled;
  // Scratch of the ordering edges of one transaction being opened: the
  // transactions ordered with it, each one's order as asked, and how it
  // stands to the one opened.
  std::vector<TransactionId> m_ordered;
  std::vector<int> m_orderedNumbers;
  std::vector<Order> m_orderedOrder;
  std::vector<unsigned char> m_orderedRelation;
  std::vector<unsigned char> m_relationScratch;
  std::vector<std::size_t> m_orderedByTime[2];
  // The time bounds of each of m_ordered, filled with it.
  std::vector<std::pair<double, double>> m_orderedBounds;
  std::vector<char> m_lowerNeeded;
  std::vector<char> m_upperNeeded;

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
    // pass no domain changes, so enabling one again changes nothing. By
    // number, those whose stamp is the pass's.
    std::vector<unsigned int> enabled;
    unsigned int enabledStamp;
  };
  PassState m_pass;

  // Null when the constraint engine has none.
  TemporalPropagator* temporalPropagator() const;
  // Replaces the recompute window by [start, end] merged with the pending one.
  // Returns the window set.
  std::pair<int, int> mergeWindow(int start, int end);

private:
  // The transaction's time bounds as ints; false for an emptied domain.
  static bool timeBounds(const TransactionId& t, int& lb, int& ub);
  // Fills a cache point's bounds the first time it is asked for in a sweep.
  static void readPoint(const TransactionId& t, OrderingCache::Point& point);
  TransactionId makePlaceholder();
  // Whether both times are points of a consistent temporal network, whose log shows every move of their bounds.
  bool networkHolds(const TransactionId& t1, const TransactionId& t2) const;
  void temporalConstraintChanged(const TransactionId& predecessor, const TransactionId& successor);
  void replaceWindow(int start, int end);
  bool getEarliestInstant(const ContributionMap& contributions, const TransactionId& t, InstantId& i) const;
  // What changed in the temporal network since the cached orderings were
  // last checked, and so what an entry must survive to stand; and the window
  // over which answers moved.
  struct OutsideChanges {
    OutsideChanges(TemporalPropagator* temporalNetwork, DebugMessage* distanceLinesMarker);
    // A pair whose answer moved changes the levels where both may be pending.
    void movedAt(int lb1, int ub1, int lb2, int ub2);
    // Whether t's time point is no longer in the network (asked once each).
    bool leftNetwork(const TransactionId& t);

    TemporalPropagator* temporal;
    DebugMessage* distanceLines;
    unsigned char needed;
    TightenedArcs arcs;
    // When only constraints through the origin changed, the distances between
    // two points stand unless the bounds of one of them moved
    // (TemporalNetwork::getInnerChanges): the variables of those points.
    bool boundsOnly;
    std::unordered_set<const ConstrainedVariable*> moved;
    std::vector<const ConstrainedVariable*> movedTimes;
    // Whether time points left the network: an entry read from it may then
    // stand on its bounds alone, which the moved points no longer follow.
    bool pointsLeft;
    // Whether every point whose bounds moved since the last check is known.
    bool movedKnown;
    // Whether only the entries near the moved points and the arcs are visited.
    bool nearArcs;
    int start;
    int end;
    std::map<const ConstrainedVariable*, bool> inNetwork;
    // While the distance lines are on, the pairs whose answers the arcs
    // showed moved: asked again for those lines only, in the order of the
    // pairs that are asked.
    std::vector<std::pair<const Transaction*, const Transaction*>> listed;
  };
  // Reads the network's counters and logs since the last check into changes
  // and marks them read; false when no entry needs a look.
  bool readOutsideChanges(OutsideChanges& changes);
  // Whether a cached entry stands, moved, or must be asked of the network.
  OrderingCache::Verdict checkCached(OutsideChanges& changes, const TransactionId& t1, const TransactionId& t2,
                                     Order cached, unsigned char& survives, OrderingCache::Points& points);
  void recheckCache(OrderingCache& cache, OutsideChanges& changes);
  // For each arc, the cache's transactions between which it may have made a
  // distance 0 or less (TightenedArcs::judge not STANDS), in two sets.
  static std::vector<OrderingCache::Join> arcJoins(TemporalPropagator& temporal, const OrderingCache& cache,
                                                   const TightenedArcs& arcs);

  AddressIndex m_numbers;
  std::vector<int> m_freeNumbers;
  // What lookupOrdering answered for each pair of numbers (1 + the order, 0
  // for none), so that a pair asked again, as at every instant both are
  // pending at, reads one byte instead of both caches. A cell stays as long
  // as the entries it was read from: a dropped entry clears its pair's two
  // cells, a freed number its row and column; no new entry changes an
  // answer once given (the caches are asked in a fixed order).
  std::vector<unsigned char> m_answers;
  int m_answersSide;
  void forgetAnswers(const TransactionId& t1, const TransactionId& t2);
  void forgetAnswers(int number);

  // What the cached orderings were last checked against, and whether a
  // change of a transaction (a relaxed time, a removal) may have moved them
  // whatever the network's counters say.
  CacheMarks::Orderings m_orderingMarks;
};

}
}

#endif
