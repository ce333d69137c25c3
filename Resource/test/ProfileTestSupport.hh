#ifndef KORVAN_RESOURCE_TEST_PROFILETESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_PROFILETESTSUPPORT_HH

// Recording doubles and a small engine fixture for the profile core tests.

#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_Transaction.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"

#include <climits>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace KORVAN {
namespace MIRT {

typedef std::vector<std::string> CallLog;

// Records the detector calls and every instant its profile deletes.
class RecordingDetector : public FVDetector {
public:
  explicit RecordingDetector(Id<Resource> res = Id<Resource>()) : FVDetector(res) {}
  void initialize() override;
  void initialize(InstantId inst) override;
  bool detect(InstantId inst) override;
  void notifyDeleted(InstantId inst) override;

  using FVDetector::allowViolations;
  using FVDetector::notifyOfViolation;
  using FVDetector::notifyNoLongerViolated;
  using FVDetector::notifyOfFlaw;
  using FVDetector::notifyNoLongerFlawed;

  CallLog* log = nullptr;
  int stopAt = INT_MIN;                     // detect answers true at this time
  std::function<void(InstantId)> onDetect;  // runs inside detect
  const std::map<int, InstantId>* instants = nullptr;
  struct Deletion { int key; int time; bool valid; bool stillMapped; };
  std::vector<Deletion> deletions;
};

// A profile kind that logs the walk and writes the instant's time as its
// level, so that level queries are easy to check.
class RecordingProfile : public Profile {
public:
  RecordingProfile(Id<PlanDatabase> db, Id<FVDetector> detector, double lb, double ub)
    : Profile(db, detector, lb, ub) {}

  void initRecompute() override { record("initRecompute()"); }
  void initRecompute(InstantId inst) override { record("initRecompute(" + std::to_string(inst->getTime()) + ")"); }
  void recomputeLevels(InstantId prev, InstantId inst) override;
  void postHandleRecompute() override { record("post"); }
  void handleTemporalConstraintAdded(TransactionId p, int pi, TransactionId s, int si) override;
  void handleTemporalConstraintRemoved(TransactionId p, int pi, TransactionId s, int si) override;
  void handleTransactionTimeChanged(TransactionId e, const DomainListener::ChangeType& change) override;

  const std::map<int, InstantId>& instants() const { return m_instants; }
  // For tests that break the profile from outside.
  std::map<int, InstantId>& instantTable() { return m_instants; }
  Id<ProfileIterator>& interval() { return m_recomputeInterval; }
  unsigned int changeCount() const { return getChangeCount(); }
  std::vector<int> times() const;

  using Profile::needsRecompute;
  using Profile::toString;
  using Profile::getLeastInstant;
  using Profile::getGreatestInstant;
  using Profile::transactionTimeChanged;
  using Profile::transactionQuantityChanged;
  using Profile::handleTransactionVariableDeletion;
  using Profile::temporalConstraintAdded;
  using Profile::temporalConstraintRemoved;
  using Profile::getPendingConstraintMessages;
  using Profile::getTransactions;

  CallLog* log = nullptr;
  std::map<TransactionId, std::string> names;
  std::vector<std::string> temporalCalls;
  std::vector<int> timeChanges;
  int recomputeCount = 0;

private:
  void record(const std::string& s);
  std::string name(const TransactionId& t) const;
};

// Narrows one variable's derived domain when executed; discarding it relaxes.
class NarrowConstraint : public Constraint {
public:
  NarrowConstraint(const LabelStr& propagator, const ConstraintEngineId& ce, const ConstrainedVariableId& var,
                   double lb, double ub);
  NarrowConstraint(const LabelStr& propagator, const ConstraintEngineId& ce,
                   const std::vector<ConstrainedVariableId>& scope);
private:
  void handleExecute() override;
  double m_lb, m_ub;
  bool m_narrows;
};

// The instant's time and its sixteen levels and totals, in getter order.
std::vector<double> valuesOf(const InstantId& i);

// An engine with a plan database, the profile propagator and a plain
// propagator "TestProp" for test constraints; transactions over fresh
// variables, deleted with the fixture.
class ProfileWorld {
public:
  ProfileWorld();
  ~ProfileWorld();

  TransactionId make(int lb, int ub, bool consumer = false, double qlb = 1, double qub = 1);
  // Takes t out of its profile (when given), then deletes it and its variables.
  void destroy(TransactionId t, RecordingProfile* profile = nullptr);
  Id<ConstrainedVariable> intVar(int lb, int ub);

  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  ProfilePropagator* propagator;
  std::vector<Transaction*> transactions;
  std::vector<ConstrainedVariable*> variables;
};

// A transaction changed at random, with the constraints narrowing its time.
struct NarrowedTransaction {
  TransactionId t;
  std::vector<Constraint*> narrowings;
};

// Changes k's time as op says, drawing from uniform(lo, hi): 0 to 2 narrow it
// within its current domain, 3 drops one of its narrowings (when it has one),
// 4 specifies or resets it. Returns what it did, or "" for any other op.
std::string changeTime(NarrowedTransaction& k, int op, const std::function<int(int, int)>& uniform,
                       ProfileWorld& world, const LabelStr& propagator);

}
}

#endif
