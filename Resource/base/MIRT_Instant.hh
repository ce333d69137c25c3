#ifndef KORVAN_MIRT_INSTANT_HH
#define KORVAN_MIRT_INSTANT_HH

#include "Utils/base/Entity.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"
#include "Resource/base/MIRT_Transaction.hh"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

class Profile;
class Resource;
class Instant;
typedef Id<Instant> InstantId;

// An instant's held transactions in handle order, which a new instant may share with the
// neighbour it was filled from (each keeping its own filings, and so its own gaps): the first
// of them to change the vector copies it. Reads are those of a const vector.
class HeldVector {
public:
  typedef std::vector<TransactionId> Vector;
  HeldVector() : m_vector(none()) {}
  const Vector& get() const { return *m_vector; }
  std::size_t size() const { return m_vector->size(); }
  bool empty() const { return m_vector->empty(); }
  std::size_t capacity() const { return m_vector->capacity(); }
  const TransactionId& operator[](std::size_t i) const { return (*m_vector)[i]; }
  const TransactionId& back() const { return m_vector->back(); }
  const TransactionId* data() const { return m_vector->data(); }
  Vector::const_iterator begin() const { return m_vector->begin(); }
  Vector::const_iterator end() const { return m_vector->end(); }
  // The vector to change, copied first where another instant shares it.
  Vector& own();
  void share(const HeldVector& other) { m_vector = other.m_vector; }
  void adopt(Vector&& v) { m_vector = std::make_shared<Vector>(std::move(v)); }
  bool isShared() const { return m_vector.use_count() > 1; }

private:
  static const std::shared_ptr<Vector>& none();
  std::shared_ptr<Vector> m_vector;
};

// One time of a profile at which some transaction may start or end: the
// transactions that may be in effect there, the level bounds the profile
// algorithm computed and the detector's marks. Owned by its profile.
class Instant : public Entity {
public:
  virtual ~Instant();

  InstantId getId() const { return m_id; }
  int getTime() const { return m_time; }
  const Id<Profile>& getProfile() const { return m_profile; }

  const std::set<TransactionId>& getTransactions() const;
  // The size of getTransactions(), without building it.
  std::size_t heldCount() const { return m_held.size() - m_gone; }
  const std::set<TransactionId>& getStartingTransactions() const { return m_startingTransactions; }
  const std::set<TransactionId>& getEndingTransactions() const { return m_endingTransactions; }
  const std::set<TransactionId>& getOverlappingTransactions() const;

  double getLowerLevel() const { return m_lowerLevel; }
  double getLowerLevelMax() const { return m_lowerLevelMax; }
  double getUpperLevelMin() const { return m_upperLevelMin; }
  double getUpperLevel() const { return m_upperLevel; }
  double getMaxInstantProduction() const { return m_maxInstProduction; }
  double getMinInstantProduction() const { return m_minInstProduction; }
  double getMaxInstantConsumption() const { return m_maxInstConsumption; }
  double getMinInstantConsumption() const { return m_minInstConsumption; }
  double getMaxCumulativeProduction() const { return m_maxCumulativeProduction; }
  double getMinCumulativeProduction() const { return m_minCumulativeProduction; }
  double getMaxCumulativeConsumption() const { return m_maxCumulativeConsumption; }
  double getMinCumulativeConsumption() const { return m_minCumulativeConsumption; }
  double getMaxPrevProduction() const { return m_maxPrevProduction; }
  double getMinPrevProduction() const { return m_minPrevProduction; }
  double getMaxPrevConsumption() const { return m_maxPrevConsumption; }
  double getMinPrevConsumption() const { return m_minPrevConsumption; }

  // Parameter order: levels, then consumption before production and minimum
  // before maximum (unlike the field order).
  void update(double lowerLevelMin, double lowerLevelMax, double upperLevelMin, double upperLevelMax,
              double minInstConsumption, double maxInstConsumption,
              double minInstProduction, double maxInstProduction,
              double minCumulativeConsumption, double maxCumulativeConsumption,
              double minCumulativeProduction, double maxCumulativeProduction,
              double minPrevConsumption, double maxPrevConsumption,
              double minPrevProduction, double maxPrevProduction);
  // How many consumptions and productions may have happened by this time (held here or ended
  // before), and how many of those ended before: the terms the cumulative maxima were summed
  // from, written by the profile algorithms beside the totals.
  std::size_t getChangesByThen(bool consumer) const { return m_changesByThen[consumer ? 0 : 1]; }
  std::size_t getPrevChanges(bool consumer) const { return m_prevChanges[consumer ? 0 : 1]; }
  void setChangeCounts(std::size_t prevConsumptions, std::size_t prevProductions, std::size_t consumptions,
                       std::size_t productions);

  bool isViolated() const { return m_violated; }
  void setViolated(bool violated) { m_violated = violated; }
  bool isFlawed() const { return m_flawed; }
  void setFlawed(bool flawed);
  bool hasUpperLevelFlaw() const { return m_upperFlaw; }
  bool hasLowerLevelFlaw() const { return m_lowerFlaw; }
  void setUpper(bool upperFlaw) { m_upperFlaw = upperFlaw; }
  void setLower(bool lowerFlaw) { m_lowerFlaw = lowerFlaw; }
  double getUpperFlawMagnitude() const { return m_upperFlawMagnitude; }
  double getLowerFlawMagnitude() const { return m_lowerFlawMagnitude; }
  void setUpperMagnitude(double m);
  void setLowerMagnitude(double m);

  std::string toString() const override;

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override;

  // The places that closing the gaps of removed transactions walked, over the whole process: for
  // tests that count a profile's upkeep.
  static unsigned long long& heldClosed();
  // The transactions put in instants' sets (getTransactions()), built or kept up, over the whole
  // process: for the same tests.
  static unsigned long long& setEntries();
  // The places of held vectors that placeOf compared, over the whole process: for the same tests.
  static unsigned long long& placesRead();
  // The instants placeOf looked in, over the whole process: for the same tests.
  static unsigned long long& placesSought();
  // The entries of held vectors copied from another instant's, by a new instant filled from its
  // neighbour or by one that changes a vector it shares, over the whole process: for the same tests.
  static unsigned long long& heldCopied();
  // The new instants that share the vector of a neighbour, over the whole process: for the same tests.
  static unsigned long long& heldShared();

private:
  friend class Profile;
  friend class Resource;

  Instant(int time, Id<Profile> profile);
  // Tells the profile that a value of this instant moved.
  void noteRewritten();
  Instant(const Instant&) = delete;
  Instant& operator=(const Instant&) = delete;

  // Holds t, filed by the bounds of its time domain now.
  void addTransaction(TransactionId t);
  // The line addTransaction writes for t; a profile that fills an instant another way lists it.
  void writeAddition(const TransactionId& t) const;
  // Files t anew by the bounds of its time domain now; t need not be held. at: t's place in the
  // held vector, when the caller has just found it (placeOf).
  void updateTransaction(TransactionId t, std::size_t at = NOWHERE);
  // Holds t, filed by the window [lb, ub] it was last filed in: for a
  // transaction whose time domain is empty and so has no bounds.
  void addTransactionWithin(TransactionId t, int lb, int ub);
  void removeTransaction(TransactionId t, std::size_t at = NOWHERE);
  // Where t is held in the vector of heldInOrder() with gaps, or NOWHERE, looked for outwards
  // from near: a transaction's place moves little from one instant to the next, and a search
  // from there reads a few lines of a vector that a search of the whole reads a dozen of.
  std::size_t placeOf(const TransactionId& t, std::size_t near) const;
  // Where t is held in the vector with gaps, else a gap it left there, else NOWHERE.
  std::size_t placeOrGap(const TransactionId& t) const;
  // Asks the processor for the lines placeOf(t, near) reads first, ahead of the call.
  void prefetchPlace(std::size_t near) const {
    if (near < m_held.size()) {
      __builtin_prefetch(m_held.data() + near);
      __builtin_prefetch(m_filing.data() + near);
    }
  }
  static constexpr std::size_t NOWHERE = ~std::size_t(0);
  // Whether a transaction held here starts or ends here by the current bounds
  // of its time domain, filed so or not yet refiled; one whose domain was
  // emptied counts as filed, and so does one filed starting or ending here
  // whose change the profile has yet to hear.
  bool containsStartOrEnd() const;
  bool marksHere(const std::set<TransactionId>& filed) const;
  // Whether one of these, held here as under way, starts or ends here by its domain now.
  bool narrowedHere(const std::vector<TransactionId>& unrefiled) const;
  // The filing itself, as starting here, ending here or overlapping.
  void fileTransaction(TransactionId t, bool starts, bool ends);
  // That of the one held at place i.
  void fileHeld(std::size_t i, unsigned char filing);
  // The held transactions in the order of the set, for the walks done at
  // every recomputation: stepping through a vector is far cheaper than
  // through the tree, and the same order keeps sums bit for bit.
  const std::vector<TransactionId>& heldInOrder() const {
    closeGaps();
    return m_held.get();
  }
  bool holds(const TransactionId& t) const;
  // Whether the i-th of heldInOrder() is among the starting, ending or
  // overlapping ones.
  bool startsFiled(std::size_t i) const { return (m_filing[i] & STARTS) != 0; }
  bool endsFiled(std::size_t i) const { return (m_filing[i] & ENDS) != 0; }
  bool overlapsFiled(std::size_t i) const { return (m_filing[i] & ENDS) == 0; }
  // Changes by one every time the transaction set changes, never twice to
  // the same value across instants: a record of the set taken with a stamp
  // is current while the stamp is.
  std::uint64_t heldStamp() const { return m_heldStamp; }

  // A filing: STARTS and ENDS bits, or NOT_FILED for one in no set.
  static constexpr unsigned char STARTS = 1;
  static constexpr unsigned char ENDS = 2;
  static constexpr unsigned char NOT_FILED = 0xFF;
  // The place of one removed, left in the vector until the next read.
  static constexpr unsigned char GONE = 0xFE;
  static unsigned char filingOf(bool starts, bool ends) {
    return (unsigned char) ((starts ? STARTS : 0) | (ends ? ENDS : 0));
  }
  // Moves t from the sets of one filing to those of another, touching only
  // the sets whose membership changes.
  void refile(const TransactionId& t, unsigned char from, unsigned char to);
  void hold(const TransactionId& t, unsigned char filing);
  void checkNotHeld(const TransactionId& t) const;
  void restamp();
  // Drops the places of those removed from the vector and the filings.
  void closeGaps() const;

  InstantId m_id;
  int m_time;
  Id<Profile> m_profile;
  double m_lowerLevel;
  double m_lowerLevelMax;
  double m_upperLevelMin;
  double m_upperLevel;
  double m_maxInstProduction;
  double m_maxInstConsumption;
  double m_minInstProduction;
  double m_minInstConsumption;
  double m_maxCumulativeProduction;
  double m_maxCumulativeConsumption;
  double m_minCumulativeProduction;
  double m_minCumulativeConsumption;
  double m_maxPrevProduction;
  double m_maxPrevConsumption;
  double m_minPrevProduction;
  double m_minPrevConsumption;
  std::size_t m_prevChanges[2] = {0, 0};
  std::size_t m_changesByThen[2] = {0, 0};
  double m_upperFlawMagnitude;
  double m_lowerFlawMagnitude;
  bool m_violated;
  bool m_flawed;
  bool m_upperFlaw;
  bool m_lowerFlaw;
  // Built at the first read and kept up from then on: most instants of a long chain of uses are
  // never read as a set, and a tree beside the vector doubled what each held one cost.
  mutable std::set<TransactionId> m_transactions;
  mutable bool m_transactionsKept;
  std::set<TransactionId> m_endingTransactions;
  std::set<TransactionId> m_startingTransactions;
  // Built from the filings when read: most held transactions overlap, and
  // keeping a tree of them up to date at every refiling cost more than the
  // rare reads.
  mutable std::set<TransactionId> m_overlappingTransactions;
  mutable bool m_overlappingStale;
  // Kept equal to m_transactions, element for element, with each one's filing beside it, but
  // for the places of those removed since the last read (filed GONE, m_gone of them): a
  // transaction narrowed away leaves many instants that hold thousands, and closing its place
  // at each made a chain of uses cubic. The filings are this instant's own; the vector of
  // transactions may be shared.
  mutable HeldVector m_held;
  mutable std::vector<unsigned char> m_filing;
  mutable std::size_t m_gone;
  // The filing of a transaction filed here without being held (a refiling
  // that precedes its addition).
  std::map<TransactionId, unsigned char> m_unheldFiling;
  std::uint64_t m_heldStamp;
};

}
}

#endif
