#ifndef KORVAN_RESOURCE_TEST_INSTANTTESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_INSTANTTESTSUPPORT_HH

// A constraint engine and plan database with the instant-based model
// registered, and test access to the parts of instants, problems and
// resources that only the resource may use.

#include "Resource/base/Instant.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/ResourceConstraint.hh"
#include "Resource/base/ResourceProblem.hh"
#include "Resource/base/ResourcePropagator.hh"
#include "Resource/base/Transaction.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/test/TestHelpers.hh"

#include <string>
#include <vector>

namespace KORVAN {
namespace InstantTest {

class OpenInstant : public Instant {
public:
  explicit OpenInstant(int time) : Instant(time) {}
  ~OpenInstant() override {}
  using Instant::getId;
  using Instant::insert;
  using Instant::remove;
  using Instant::updateBounds;
  using Instant::addResourceViolation;
  using Instant::addResourceFlaw;
  using Instant::reset;
  using Instant::isValid;
};

class GlobalProblem : public ResourceProblem {
public:
  explicit GlobalProblem(Type type) : ResourceProblem(type) {}
};

class OpenResource : public Resource {
public:
  OpenResource(const PlanDatabaseId& db, const std::string& name, double initialCapacity, double limitMin,
               double limitMax, double productionRateMax, double productionMax, double consumptionRateMax,
               double consumptionMax)
    : Resource(db, LabelStr("Resource"), LabelStr(name), initialCapacity, limitMin, limitMax, productionRateMax,
               productionMax, consumptionRateMax, consumptionMax) {}
  OpenResource(const PlanDatabaseId& db, const std::string& name)
    : Resource(db, LabelStr("Resource"), LabelStr(name), true) {}
  using Resource::cleanup;
  using Resource::hasStartOrEndTransaction;
  using Resource::insert;
};

class InstantWorld {
public:
  // Without the object type "Resource" the propagator is switched off.
  explicit InstantWorld(bool withResourceType = true);
  ~InstantWorld();

  // Unbounded limits apart from those given.
  OpenResource* resource(const std::string& name, double initialCapacity, double limitMin = -1e6,
                         double limitMax = 1e6, double productionMax = 1e6, double consumptionMax = -1e6);
  // A closed, active change token on the named object ("" for any resource).
  Transaction* change(const std::string& object, int earliest, int latest, double qmin, double qmax);
  ResourceConstraint* rateLimit(const Transaction* tx) const;

  bool propagate() { return ce->propagate(); }
  PropagatorId propagator() const { return ce->getPropagatorByName("Resource"); }

  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
};

// "time:[lowerMin, lowerMax, upperMin, upperMax]" of every instant, in order.
std::vector<std::string> bounds(const Resource& resource);

// What inserting an invalid change raises on a resource whose limits are broken (the production
// rate above the total), then once they hold again: for the profile-based tables of checks,
// whose names clash with these.
std::vector<Error> invalidChangeInsertions();

}
}

#endif
