#ifndef KORVAN_MIRT_TIMETABLEPROFILE_HH
#define KORVAN_MIRT_TIMETABLEPROFILE_HH

#include "Resource/base/MIRT_Profile.hh"

#include <map>
#include <vector>

namespace KORVAN {
namespace MIRT {

// Level bounds from each transaction's own time and quantity bounds, with no
// regard to orderings: for the lower level consumers happen as early and
// producers as late as they may, for the upper level the reverse. The only
// profile kind that also sums instantaneous and cumulative production and
// consumption, which the timetable detector judges. A pass sweeps the
// sorted time bounds, with running totals when the quantity upper bounds sum
// exactly in any order and otherwise adding those held at each instant in
// their set's order; odd time domains leave it to a walk over every
// transaction of every instant. All give the same values to the last bit.
class TimetableProfile : public Profile {
public:
  TimetableProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initCapacityLb,
                   double initCapacityUb);
  virtual ~TimetableProfile();

  void getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results) override;

  // False makes every pass walk (tests compare the two ways); the levels are the same.
  void setSweep(bool allowed) { m_sweepAllowed = allowed; }
  // The transactions read to prepare sweeps (quantity bounds and time bounds apart), over the
  // whole process, for tests that count a fix's work.
  static unsigned long long& transactionsPrepared();

private:
  void initRecompute(InstantId inst) override;
  void initRecompute() override;
  void recomputeLevels(InstantId prev, InstantId inst) override;

  // The instant's sums from every transaction it holds: always right, and
  // what a pass does when it cannot sweep.
  void walkInstant(const InstantId& inst);
  // One line of the per-instant debug listing.
  void listTransaction(const AbstractDomain& time, const AbstractDomain& quantity, bool consumer);
  // Reads every transaction's quantity bounds once (and its time bounds,
  // sorted, after transactions came, went or moved); false when the pass
  // cannot sweep (see the .cc for when).
  bool prepareSweep();
  // Whether the pass covers a window whose instants hold fewer transactions than the profile has.
  bool windowWalkCheaper() const;
  // The events of the pass from the members' time bounds; false when some
  // time domain is empty or odd.
  bool readTimes();
  void hold(std::size_t member);
  void release(std::size_t member);
  void sumHeld(double& consumption, double& production) const;
  void handleTransactionAdded(TransactionId t) override;
  void handleTransactionRemoved(TransactionId t) override;
  void handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& change) override;
  void handleTransactionQuantityChanged(TransactionId t, const DomainListener::ChangeType& change) override;
  void handleTemporalConstraintAdded(TransactionId predecessor, int preArgIndex, TransactionId successor,
                                     int sucArgIndex) override;
  void handleTemporalConstraintRemoved(TransactionId predecessor, int preArgIndex, TransactionId successor,
                                       int sucArgIndex) override;
  void postHandleRecompute() override;
  // The next pass goes over every instant.
  void wholeWindow();
  // Whether every level sum is exact in any order, so that a pass over a
  // window leaves the same values as a whole pass.
  bool levelsExact();
  // The instant's sums from the transactions that start or end there and
  // running totals of those held; false, with nothing changed, when the
  // instant's filing disagrees with the bounds read for the pass.
  bool sweepInstant(const InstantId& inst);
  void prefetchAhead() const;
  // The instant's events, from m_nextEvent up to last; false when they do
  // not match what the instant holds.
  bool readEvents(const InstantId& inst, std::size_t& last);
  void releaseEnded(std::size_t first, std::size_t last);
  // The three ways a transaction moves the running state: it may start at
  // the instant, it must have happened by it, or it ended at the one before.
  void mayStartHere(const LevelContribution& c);
  void mustHaveHappened(const LevelContribution& c, double& minCumulativeConsumption,
                        double& minCumulativeProduction);
  void carryEnded(const LevelContribution& c);
  // Gives the instant its values for the pass (and writes them to the debug stream).
  void publish(const InstantId& inst, double minInstantConsumption, double maxInstantConsumption,
               double minInstantProduction, double maxInstantProduction, double minCumulativeConsumption,
               double maxCumulativeConsumption, double minCumulativeProduction, double maxCumulativeProduction,
               std::size_t heldConsumptions, std::size_t heldProductions);

  // Running state of one walk: the levels after the instants visited so far
  // and the sums of the transactions that have ended.
  double m_lowerLevelMin;
  double m_lowerLevelMax;
  double m_upperLevelMin;
  double m_upperLevelMax;
  double m_minPrevConsumption;
  double m_maxPrevConsumption;
  double m_minPrevProduction;
  double m_maxPrevProduction;
  // How many consumptions and productions have ended.
  std::size_t m_prevConsumptions;
  std::size_t m_prevProductions;

  // Quantity bounds of what ends at the current instant, read in the walk over
  // its transactions and carried into the sums once the instant is updated.
  std::vector<LevelContribution> m_ending;

  // Per-pass state of a sweep, reused from pass to pass.
  struct Bounds {
    double qlb;
    double qub;
    bool consumer;
    bool singleton;
    LevelContribution contribution() const { return LevelContribution{qlb, qub, consumer}; }
  };
  std::vector<Bounds> m_bounds;  // one per member
  // The profile's transactions in its order, while m_membersKnown.
  std::vector<TransactionId> m_members;
  // Time key in the high half, then the transaction's index and whether it
  // starts (bit 0) and ends (bit 1) there: sorted, the pass's events in the
  // order the walk meets them.
  std::vector<unsigned long long> m_events;
  std::size_t m_nextEvent;
  bool m_sweepAllowed;
  bool m_sweeping;
  // Sums of the quantity upper bounds of the transactions held at the
  // current instant.
  double m_heldMaxConsumption;
  double m_heldMaxProduction;
  std::size_t m_heldCount;
  std::size_t m_heldConsumptions;
  // Whether the pass's quantity upper bounds sum exactly in any order. If
  // not, the held members are kept as bits (and the nonzero words of those
  // as bits) and summed in the members' order at each instant.
  bool m_exactSums;
  std::vector<unsigned long long> m_heldBits;
  std::vector<unsigned long long> m_heldWords;
  // Where each instant's map entry and object lie, by time, and how many
  // instants this pass has swept: read only as prefetch hints.
  std::vector<const void*> m_instantAddresses;
  std::size_t m_instantsSwept;
  // Members added or removed in place since the last pass.
  std::size_t m_memberEdits;
  bool m_membersKnown;
  // m_events and the time flags of m_bounds match every member's time domain.
  bool m_timesKnown;

  // A transaction's time moved from one window to another changes the
  // instants of both and none after: a level later takes it whole either
  // way. Each transaction's bounds as last filed (none while its domain is
  // empty or odd), and the times of the instants still to recompute.
  std::map<TransactionId, std::pair<int, int>> m_timeBounds;
  int m_windowLo;
  int m_windowHi;
  // Whether the level sums were exact at the last whole pass, while no
  // quantity came or changed since.
  bool m_exactLevels;
  bool m_exactLevelsKnown;
  // The time of the last instant the current pass has computed or started from.
  int m_lastWalked;
};

}
}

#endif
