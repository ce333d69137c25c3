#ifndef KORVAN_RESOURCE_RESOURCE_HH
#define KORVAN_RESOURCE_RESOURCE_HH

// The resource object of the instant-based model: a level that starts at an
// initial capacity and that change tokens (Transaction) raise or lower, seven
// limits, and a profile of instants rebuilt from the change tokens whenever a
// query finds the resource dirty. Adding or removing a token, narrowing a
// token's object onto the resource and new limits only mark it dirty.
//
// The change tokens are not stored here: they are the tokens on the object
// whose object variable is this resource alone.

#include <list>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/Object.hh"
#include "Resource/base/Instant.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/ResourceProblem.hh"
#include "Resource/base/Transaction.hh"

namespace KORVAN {

class Resource : public Object {
public:
  // Open constructions: the limits stay unset until init().
  Resource(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open);
  Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open);
  // A closed resource, initialised with the seven values.
  Resource(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, double initialCapacity,
           double limitMin, double limitMax, double productionRateMax, double productionMax,
           double consumptionRateMax, double consumptionMax);
  virtual ~Resource();

  // An unbounded rate (plus or minus the infinite time) is replaced by the
  // matching total. Marks dirty, then checks the limits.
  void init(double initialCapacity, double limitMin, double limitMax, double productionRateMax,
            double productionMax, double consumptionRateMax, double consumptionMax);

  // Neither mark dirty nor validate.
  void setProductionMax(double value) { m_productionMax = value; }
  void setProductionRateMax(double value) { m_productionRateMax = value; }
  void setConsumptionMax(double value) { m_consumptionMax = value; }
  void setConsumptionRateMax(double value) { m_consumptionRateMax = value; }
  // The value must be a singleton; does not mark dirty.
  void updateInitialState(const IntervalDomain& value);

  void markDirty();
  bool isDirty() const { return m_dirty; }

  void add(const TokenId& token) override;
  void remove(const TokenId& token) override;

  // The same at every time.
  double getProductionRateMax(int time) const;
  double getConsumptionRateMax(int time) const;

  double getInitialCapacity() const { return m_initialCapacity; }
  double getLimitMin() const { return m_limitMin; }
  double getLimitMax() const { return m_limitMax; }
  double getProductionMax() const { return m_productionMax; }
  double getConsumptionMax() const { return m_consumptionMax; }
  // What the levels and totals are summed from, as the profile was last rebuilt.
  const Rounding& getRounding() const { return m_rounding; }

  // The profile as it stands, without rebuilding.
  const std::map<int, InstantId>& getInstants() const { return m_instants; }
  // Propagates (the resource propagator rebuilds dirty resources), then lists
  // the instants in (lowerBound, upperBound].
  void getInstants(std::list<InstantId>& resultSet, int lowerBound, int upperBound);
  // The change tokens whose time may fall in [lowerBound, upperBound].
  void getTransactions(std::set<TransactionId>& resultSet, int lowerBound, int upperBound, bool propagate);

  // Every instant contributes; the bounds are ignored.
  void getResourceFlaws(std::list<ResourceFlawId>& results, int lowerBound, int upperBound);
  bool isFlawed();
  bool hasFlaws();
  // Global violations first, then those of the instants in time order.
  void getResourceViolations(std::list<ResourceViolationId>& results, int lowerBound, int upperBound);
  bool isViolated();

  // The level bounds at a time: the initial capacity before the first instant.
  void getLevelAt(int time, IntervalDomain& result);

  // The profile's text. The const toString() of the object stays its name:
  // the plan database's own messages must not rebuild the profile.
  void print(std::ostream& os);
  std::string toString();
  using Object::toString;

  bool isValid() const;
  // The instants that validity checks have looked at, over the whole process: for tests that
  // count what a rebuild costs.
  static unsigned long long& instantsChecked();

protected:
  void handleDiscard() override;

  void updateTransactionProfile();
  void resetProfile();
  void recomputeTotals();
  void addGlobalResourceViolation(ResourceProblem::Type type);
  void rebuildProfile();
  bool insert(const TransactionId& tx);
  std::map<int, InstantId>::iterator createInstant(int time, std::map<int, InstantId>::iterator hint);
  bool hasStartOrEndTransaction(const InstantId& instant) const;
  // Removing one token from the profile is not supported.
  void cleanup(const TransactionId& tx);

  virtual void computeTransactionProfile();
  virtual void computeRunningTotals(const InstantId& instant, const TransactionId& tx, double& runningLowerMin,
                                    double& runningLowerMax, double& runningUpperMin, double& runningUpperMax);
  static void updateInstantBounds(const InstantId& instant, double lowerMin, double lowerMax, double upperMin,
                                  double upperMax);
  bool applyConstraints(const InstantId& instant);

private:
  // The limits, and the handles of the instants from the one before startTime to the last at or
  // before endTime.
  bool isValidAround(int startTime, int endTime) const;
  bool isValidBetween(std::map<int, InstantId>::const_iterator from,
                      std::map<int, InstantId>::const_iterator to) const;
  // The change token of a token on this object; the empty handle when its
  // object variable does not name one object yet.
  TransactionId assignedTransaction(const TokenId& token) const;
  void commonInit();

  double m_initialCapacity;
  double m_limitMin;
  double m_limitMax;
  double m_productionRateMax;
  double m_productionMax;
  double m_consumptionRateMax;
  double m_consumptionMax;
  double m_totalUsedConsumption;
  double m_totalUsedProduction;
  bool m_dirty;
  Rounding m_rounding;
  std::map<int, InstantId> m_instants;
  std::set<ResourceViolationId> m_globalViolations;
};

typedef Id<Resource> ResourceId;

// The profile's text of the resource.
std::string toString(const ResourceId& resource);

}

#endif
