#ifndef KORVAN_MIRT_PROFILE_HH
#define KORVAN_MIRT_PROFILE_HH

#include "Utils/base/Factory.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"
#include "Utils/base/Utils.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/DomainListener.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_LevelContribution.hh"
#include "Resource/base/MIRT_Transaction.hh"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace KORVAN {

class PlanDatabase;
class ConstraintEngine;
class IntervalDomain;

namespace MIRT {

class Resource;
class FVDetector;
class Profile;
class ProfileIterator;
class ProfilePropagator;
typedef Id<Profile> ProfileId;
typedef Id<ProfileIterator> ProfileIteratorId;

// What t adds to the levels and totals with its quantity bounds as they are now.
inline LevelContribution contributionOf(const TransactionId& t) {
  const AbstractDomain& q = t->quantity()->lastDomain();
  return LevelContribution{q.getLowerBound(), q.getUpperBound(), t->isConsumer()};
}

// The level profile of one resource: an instant at every time where some
// transaction's time domain begins or ends, kept in step with the
// transactions' variables through listeners, and level bounds recomputed
// lazily over the instants that changed by the concrete algorithm, with the
// resource's detector judging each recomputed instant.
class Profile : public FactoryObj {
public:
  Profile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb, double initLevelUb);
  virtual ~Profile();

  virtual void addTransaction(TransactionId t);
  virtual void removeTransaction(TransactionId t);
  // Brings the levels up to date, then writes the bounds in effect at time.
  virtual void getLevel(int time, IntervalDomain& dest);
  virtual bool isValid();
  virtual void getTransactionsToOrder(const InstantId& inst, std::vector<TransactionId>& results);

  Id<Profile>& getId() { return m_id; }
  // Every transaction the profile holds, in handle order.
  const std::set<TransactionId>& getTransactions() const { return m_transactions; }
  // The times of the instants whose levels, totals or counts changed, that are new or that are
  // gone, and the transactions added, given another quantity or removed (whose handles are only
  // to be compared), since the last call: a check that read the whole profile once reads again
  // only these. For one reader.
  void takeChanged(std::vector<int>& times, std::vector<TransactionId>& transactions);
  // The instant at `time`; noId when there is none.
  InstantId instantAt(int time) const;
  // Whether the transactions that have not moved since they were filed keep their filing at a
  // new instant and are passed over by a search for one narrowed onto an instant, unread; off,
  // every domain is read, for tests that compare the two. The time domains new instants read,
  // over the whole process, for tests that count a fix's work.
  static bool& filingsCopied();
  static unsigned long long& domainsFilled();
  // Whether a new instant shares the vector of a neighbour that holds what it holds, rather than
  // copying it; off, every new instant copies, for tests that compare the two.
  static bool& filingsShared();
  void recompute();
  const Id<Resource>& getResource() const;

  // Constraint on one variable of one transaction that reports every domain
  // change to the profile and restricts nothing.
  class VariableListener : public Constraint {
  public:
    VariableListener(const Id<ConstraintEngine>& constraintEngine, Id<Profile> profile,
                     TransactionId trans, const std::vector<Id<ConstrainedVariable>>& scope,
                     bool isQuantity);
    virtual ~VariableListener();

    static const LabelStr& CONSTRAINT_NAME();
    static const LabelStr& PROPAGATOR_NAME();

    Id<Profile> getProfile() const { return m_profile; }
    // From now on hears nothing and tells nobody.
    void detach();

  private:
    void handleExecute() override;
    bool canIgnore(const Id<ConstrainedVariable>& variable, int argIndex,
                   const DomainListener::ChangeType& changeType) override;

    Id<Profile> m_profile;
    TransactionId m_trans;
    bool m_isQuantity;
  };

  // Hears of constraints added to or removed from a transaction's time
  // variable and passes on the temporal ones.
  class ConstraintAdditionListener : public ConstrainedVariableListener {
  public:
    ConstraintAdditionListener(const Id<ConstrainedVariable>& var, TransactionId tid, Id<Profile> profile);
    virtual ~ConstraintAdditionListener();

    void notifyDiscard() override;
    void notifyConstraintAdded(const Id<Constraint>& constr, int argIndex) override;
    void notifyConstraintRemoved(const Id<Constraint>& constr, int argIndex) override;

    const Id<ConstrainedVariable>& getWatchedVariable() const { return m_var; }
    void detach() { m_profile = Id<Profile>::noId(); }

  private:
    Id<Profile> m_profile;
    TransactionId m_tid;
    Id<ConstrainedVariable> m_var;
  };

  // The first of the two reports of a temporal constraint. The constraint's
  // key is kept so that a later constraint at the same address is not taken
  // for this one.
  class ConstraintMessage {
  public:
    ConstraintMessage(Id<ConstrainedVariable> _var, int _index, bool _addition, int _constraintKey = 0)
      : var(_var), index(_index), addition(_addition), constraintKey(_constraintKey) {}
    ConstraintMessage(const ConstraintMessage& other)
      : var(other.var), index(other.index), addition(other.addition), constraintKey(other.constraintKey) {}
    ConstraintMessage& operator=(const ConstraintMessage& other) = default;

    Id<ConstrainedVariable> var;
    int index;
    bool addition;
    int constraintKey;
  };

protected:
  friend class ProfileIterator;
  friend class ProfilePropagator;
  friend class FVDetector;

  bool needsRecompute() const { return m_needsRecompute; }
  std::string toString() const;

  std::map<int, InstantId>::iterator getGreatestInstant(int time);
  std::map<int, InstantId>::iterator getLeastInstant(int time);
  // An instant's transactions in the order of getTransactions(), without building that set.
  static const std::vector<TransactionId>& heldAt(const InstantId& inst) { return inst->heldInOrder(); }

  void handleRecompute();

  virtual void postHandleRecompute() {}
  // Called before levels are read or recomputed: a profile whose levels
  // depend on more than its own transactions' variables looks for changes
  // there and asks for a recomputation through noteChange.
  virtual void noteOutsideChanges() {}
  void noteChange() {
    ++m_changeCount;
    m_needsRecompute = true;
  }
  virtual void initRecompute(InstantId inst) = 0;
  virtual void initRecompute() = 0;
  virtual void recomputeLevels(InstantId prev, InstantId inst) = 0;

  // Every caller has raised the change count and set the recompute flag
  // first. The base versions make the next recomputation cover the whole
  // profile.
  virtual void handleTransactionAdded(TransactionId e);
  virtual void handleTransactionRemoved(TransactionId e);
  virtual void handleTransactionTimeChanged(TransactionId e, const DomainListener::ChangeType& change);
  virtual void handleTransactionQuantityChanged(TransactionId e, const DomainListener::ChangeType& change);
  virtual void handleTemporalConstraintAdded(TransactionId predecessor, int preArgIndex,
                                             TransactionId successor, int sucArgIndex);
  virtual void handleTemporalConstraintRemoved(TransactionId predecessor, int preArgIndex,
                                               TransactionId successor, int sucArgIndex);

  // The production and consumption totals of one instant, in the order of
  // Instant::update, carried on from the instant before it: instantaneous
  // totals from the transactions held there, cumulative ones adding what
  // ended earlier. For the profile kinds whose levels come from elsewhere.
  struct Totals {
    double minInstConsumption, maxInstConsumption, minInstProduction, maxInstProduction;
    double minCumulativeConsumption, maxCumulativeConsumption, minCumulativeProduction, maxCumulativeProduction;
    double minPrevConsumption, maxPrevConsumption, minPrevProduction, maxPrevProduction;
    // How many consumptions and productions the maximum totals were summed from (Instant::setChangeCounts).
    std::size_t prevConsumptions, prevProductions, consumptions, productions;
  };
  Totals computeTotals(const InstantId& inst);
  // Writes the level bounds and totals of inst.
  void updateWithTotals(const InstantId& inst, double lowerLevel, double upperLevel);

  void transactionTimeChanged(TransactionId e, const DomainListener::ChangeType& change);
  void transactionQuantityChanged(TransactionId e, const DomainListener::ChangeType& change);
  void handleTransactionVariableDeletion(const TransactionId& t);
  void temporalConstraintAdded(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex);
  void temporalConstraintRemoved(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex);

  // Read-only views for the profile kinds.
  unsigned int getChangeCount() const { return m_changeCount; }
  const Id<FVDetector>& getDetector() const { return m_detector; }
  const std::map<Id<Constraint>, ConstraintMessage>& getPendingConstraintMessages() const {
    return m_constraintsForNotification;
  }

private:
  friend class Instant;

  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // An instant's levels, totals or counts changed.
  void noteRewritten(int time) { m_rewritten.insert(time); }

  void handleConstraintMessage(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex, bool addition);
  // Makes sure instants exist at both bounds of t's time domain; an
  // instant already there files t anew.
  void addInstantsForBounds(TransactionId t);
  void addInstant(const int time);
  // Step of addInstant: inst, which does not hold trans, holds it if trans's time domain spans it.
  void addIfSpanning(Instant* inst, const TransactionId& trans);
  // The same for every transaction filed as overlapping at before, the instant just before inst;
  // after is the instant just after it, if any.
  void fillFrom(Instant* inst, const Instant& before, const Instant* after);
  // Its step for one transaction, read from its time domain (or, emptied, the window it was filed in).
  void fillByDomain(Instant* inst, const TransactionId& trans);
  // Whether trans's time domain (or, emptied, the window it was filed in) spans time, and its
  // filing there.
  bool spanningFiling(const TransactionId& trans, int time, unsigned char& filing) const;
  // fillFrom by sharing the vector of from (before or after), when every one it holds is under
  // way at inst but those filed as leaving from's time (ending at before, starting at after)
  // and those listed in unrefiled, whose domains decide. False, and inst untouched, otherwise.
  bool shareHeld(Instant* inst, const Instant& from, const Instant& before, unsigned char leaves,
                 const std::vector<TransactionId>& unrefiled);
  // Adds to out, sorted, every transaction whose time domain may have moved since it was filed:
  // the one being refiled, those whose variables have yet to tell the profile of a change and
  // those whose last change moved no instant. False where it cannot tell.
  bool listUnrefiled(std::vector<TransactionId>& out) const;
  // Whether t was last filed with a bound at time. Until the profile hears a change of t, the
  // instants there must stay: t's refiling looks for it from them.
  bool filedWithBoundAt(const TransactionId& t, int time) const;
  // The lines of each transaction inst took, in the order of its set (one filed by the window
  // of an emptied domain has no line of the instant); reads only.
  void listFilled(const Instant& inst) const;
  void writeSpanning(const Instant& inst, const TransactionId& trans) const;
  // The instant work of a time change: e moves between instants, and the
  // times of the instants that no longer serve go to emptyInstants.
  void handleRestriction(TransactionId e, int startTime, int endTime, std::vector<int>& emptyInstants);
  void handleRelaxation(TransactionId e, int startTime, int endTime, std::vector<int>& emptyInstants);
  void deleteEmptyInstants(const std::vector<int>& emptyInstants);
  // After a change that may end a violation without relaxing a domain: the
  // resource gives back the domain it emptied, if any.
  void judgeAgain();
  void retireInstant(std::map<int, InstantId>::iterator pos);
  // Deletes every instant without telling anybody: the profile is going.
  void dropAllInstants();
  // Replaces the recompute interval with one over the whole profile.
  void installWholeInterval();
  // Forgets pending reports first made from the given time variable.
  void purgeConstraintMessages(const Id<ConstrainedVariable>& var);

  Id<Profile> m_id;
  unsigned int m_changeCount;
  bool m_needsRecompute;
  unsigned int m_constraintKeyLb;
  bool m_recomputing;
  // The transaction whose time change is being handled: a new instant
  // within its domain holds it too.
  TransactionId m_refiling;
  class Refiling {
  public:
    Refiling(TransactionId& slot, const TransactionId& t) : m_slot(slot) { m_slot = t; }
    ~Refiling() { m_slot = TransactionId::noId(); }
  private:
    TransactionId& m_slot;
  };

protected:
  // Infinite on a side the model left without a bound.
  const double m_initLevelLb;
  const double m_initLevelUb;
  Id<PlanDatabase> m_planDatabase;

private:
  Id<FVDetector> m_detector;
  std::set<TransactionId> m_transactions;
  std::multimap<TransactionId, Id<Constraint>> m_variableListeners;
  std::map<TransactionId, Id<ConstrainedVariableListener>> m_otherListeners;
  std::map<Id<ConstrainedVariable>, TransactionId> m_transactionsByTime;
  // The window each transaction is filed in, while it is filed anywhere.
  std::map<TransactionId, std::pair<int, int>> m_filed;
  // Those whose bounds moved by a change that refiled nothing, until they are refiled.
  std::set<TransactionId> m_unrefiled;
  // Two transactions on one time variable: which of them a variable's change moved is not told.
  bool m_sharedTimes = false;
  std::map<Id<Constraint>, ConstraintMessage> m_constraintsForNotification;
  // What changed since the last takeChanged().
  std::set<int> m_rewritten;
  std::set<TransactionId> m_requantified;

protected:
  std::map<int, InstantId> m_instants;
  Id<ProfileIterator> m_recomputeInterval;
};

// Forward cursor over the instants of one profile whose times lie in a
// closed window, in ascending time. Stale, and refusing to work, once the
// profile's change count has moved.
class ProfileIterator {
public:
  ProfileIterator(Id<Profile> prof, int startTime, int endTime);
  ~ProfileIterator();

  bool done() const;
  int getTime() const;
  InstantId getInstant() const;
  bool next();
  Id<ProfileIterator> getId() { return m_id; }
  bool isStale() const;
  int getStartTime() const { return m_startTime; }
  int getEndTime() const { return m_endTime; }
  // Bring the profile's levels up to date before reading.
  double getLowerBound() const;
  double getUpperBound() const;

private:
  friend class Profile;

  // For a walk that has checked the iterator once and ends on any change of
  // the profile: no check per step.
  const InstantId& currentUnchecked() const { return m_start->second; }
  void advanceUnchecked() { ++m_start; }

  ProfileIterator(const ProfileIterator&) = delete;
  ProfileIterator& operator=(const ProfileIterator&) = delete;

  int timeAt(std::map<int, InstantId>::const_iterator pos, int atEnd) const;
  // The constructor's work, after the handle exists.
  void init(int startTime, int endTime);

  Id<ProfileIterator> m_id;
  Id<Profile> m_profile;
  unsigned int m_changeCount;
  int m_startTime;
  int m_endTime;
  std::map<int, InstantId>::const_iterator m_start;
  std::map<int, InstantId>::const_iterator m_end;
  std::map<int, InstantId>::const_iterator m_realEnd;
};

// What a resource hands "ProfileFactoryMgr" to make its profile. Copies, so
// the record may outlive the handles it was built from.
class ProfileArgs : public FactoryArgs {
public:
  ProfileArgs(Id<PlanDatabase> db, Id<FVDetector> detector, double initCapacityLb, double initCapacityUb)
    : m_db(db), m_detector(detector), m_initCapacityLb(initCapacityLb), m_initCapacityUb(initCapacityUb) {}
  virtual ~ProfileArgs() {}

  const Id<PlanDatabase> m_db;
  const Id<FVDetector> m_detector;
  const double m_initCapacityLb;
  const double m_initCapacityUb;
};

template <class T>
class ProfileFactory : public Factory {
public:
  ProfileFactory(const LabelStr& name) : Factory(name) {}
  virtual ~ProfileFactory() {}

  // The caller owns the new profile.
  Id<FactoryObj> createInstance(const FactoryArgs& fa) override {
    const ProfileArgs& args = static_cast<const ProfileArgs&>(fa);
    Id<PlanDatabase> db = args.m_db;
    Id<FVDetector> detector = args.m_detector;
    T* profile = new T(db, detector, args.m_initCapacityLb, args.m_initCapacityUb);
    return Id<FactoryObj>(profile->getId());
  }
};

}
}

#endif
