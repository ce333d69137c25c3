#ifndef KORVAN_MIRT_INCREMENTALFLOWPROFILE_HH
#define KORVAN_MIRT_INCREMENTALFLOWPROFILE_HH

#include "Resource/component/MIRT_FlowProfile.hh"

#include <cstdint>
#include <set>
#include <unordered_set>
#include <vector>

namespace KORVAN {
namespace MIRT {

// A flow profile that carries each instant's level bounds on to the next
// and changes them only by what the instant brings: transactions that start
// there are opened in the networks, and every transaction that the residual
// network can reach from the source then counts for good; transactions that
// end there are closed. A pass can start at any instant, from the stored
// bounds of the instant before it.
class IncrementalFlowProfile : public FlowProfile {
public:
  IncrementalFlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb,
                         double initLevelUb);
  virtual ~IncrementalFlowProfile();

  // Opens the instant's starting transactions whose time is not a single
  // value, with their ordering edges; true when it opened any.
  bool enableOrderings(const InstantId& inst);

  // The partners enableOrderings went through for its starting transactions,
  // over the whole process: for tests that count a profile's work per fix.
  static unsigned long long& partnersWalked();
  // The passes run as quiet moves, and the transactions the passes opened, closed or summed at
  // their instants, over the whole process: for tests that count a profile's work per fix.
  static unsigned long long& quietPasses();
  static unsigned long long& transactionsPassed();
  // Off, every pass is a whole one: for tests that compare the two.
  static bool& quietMovesAllowed();

protected:
  void initRecompute(InstantId inst) override;
  void initRecompute() override;
  void recomputeLevels(InstantId prev, InstantId inst) override;
  void noteOutsideChanges() override;
  void handleTransactionRemoved(TransactionId t) override;
  void handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& type) override;

private:
  void recomputeLevels(InstantId inst, double lowerLevel, double upperLevel);
  // Adds the edges that the ordering of (t1, t2) asks for to one network.
  void applyOrdering(FlowProfileGraph* graph, Order order, int n1, int n2);
  struct Partner {
    TransactionId transaction;
    int number;
    bool startsHere;
    // Open in that network when the instant's transactions started opening.
    bool lowerOpen;
    bool upperOpen;
    // Its time bounds as read.
    double lb;
    double ub;
  };
  // Fills m_partners with the transactions of inst that a transaction
  // starting at T may be ordered with, in the instant's order.
  void readPartners(const InstantId& inst, double T);
  // Closes an ending transaction in one level; true when it was still open.
  bool contract(FlowProfileGraph* graph, ContributionMap& contributions, const TransactionId& ended,
                const InstantId& inst, bool lower, double& level);

  // The ordering edges among the transactions a pass from a later instant
  // opens in one network at once.
  void orderAmong(FlowProfileGraph* graph, const std::set<TransactionId>& enabled);
  // Adds t's ordering edges to m_ordered, in each network whose partners
  // are marked, where that network needs them.
  void enableNearest(const TransactionId& t);

  // True when no edge of the temporal network joins t's point to another
  // point: a transaction starting at an instant is then ordered with none
  // of the instant's partners, whose bounds all reach past its start, and
  // its pairs need not be asked.
  bool orderedByBoundsAlone(TemporalPropagator* temporal, const TransactionId& t) const;

  // The transactions whose pairs a pass left unasked as ordered by bounds
  // alone, and the temporal network's inner changes when they were last
  // seen so: an edge to one of them may order pairs no cached answer holds.
  std::unordered_set<TransactionId, TransactionIdHash> m_unasked;
  std::uint64_t m_unaskedInnerChanges;

  // A time change of a transaction of quantity 0 that nothing orders, the only change since the
  // last pass finished: it has no node in either network and adds nothing to a level, so a pass
  // over its window opens and closes nobody. The levels stand where others start or end, and are
  // carried on from the instant before elsewhere; its own contribution entry moves, and the
  // counts of changes move by what its bounds did. Anything else since (the change count moved)
  // makes the pass a whole one.
  struct QuietMove {
    bool pending;
    TransactionId transaction;
    int oldLb, oldUb, newLb, newUb;
    unsigned int changeCount;
  };
  // Whether t adds nothing to a level and is ordered by its bounds alone, with no line of a pass
  // wanted: a pass would then treat it as a quiet move does.
  bool countsNothing(const TransactionId& t);
  // Whether the pass starting now is a quiet move's; clears the pending move.
  bool startQuietPass();
  void recomputeQuietly(const InstantId& inst, double lowerLevel, double upperLevel);
  // The totals of an instant where nothing but the quiet move's transaction starts or ends, read
  // from the next instant; false where they cannot be (then they are summed in full).
  bool carryTotals(const InstantId& inst, double lowerLevel, double upperLevel);
  QuietMove m_quiet;
  bool m_quietPass;

  std::vector<Partner> m_partners;
  std::vector<char> m_lowerCandidate;
  std::vector<char> m_upperCandidate;
  std::vector<TransactionId> m_enabledScratch;
  std::vector<int> m_enabledNumbers;
  std::vector<Order> m_pairOrders;
};

}
}

#endif
