#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "Utils/base/Factory.hh"

namespace KORVAN {
namespace MIRT {

Error failure(const std::function<void()>& f) {
  try {
    f();
  }
  catch (const Error& e) {
    return e;
  }
  return Error("", "", "", 0);
}

ResourceWorld::ResourceWorld(bool allowViolations) {
  ce = new ConstraintEngine();
  ce->setAllowViolations(allowViolations);
  new ProfilePropagator(ResourceTokenRelation::PROPAGATOR_NAME(), ce->getId());
  schema = new Schema();
  schema->addObjectType("Reservoir");
  schema->addObjectType("Reusable");
  schema->addPredicate("Reservoir.produce");
  schema->addPredicate("Reservoir.consume");
  schema->addPredicate("Reusable.uses");
  db = new PlanDatabase(ce->getId(), schema->getId(), engine.getId());
  registerProfilesAndDetectors(engine);
  getFVDetectorFactoryMgr(engine)->registerFactory(new FVDetectorFactory<QuietFVDetector>("QuietFVDetector"));
}

ResourceWorld::~ResourceWorld() {
  delete db;
  delete schema;
  delete ce;
}

TestReservoir* ResourceWorld::reservoir(const std::string& name, double initLevel, double lowerLimit,
                                        double upperLimit, const std::string& profile,
                                        const std::string& detector, double maxInst, double maxTotal) {
  return new TestReservoir(db->getId(), LabelStr("Reservoir"), LabelStr(name), LabelStr(detector),
                           LabelStr(profile), initLevel, initLevel, lowerLimit, upperLimit, maxInst, maxInst,
                           maxTotal, maxTotal);
}

TestReusable* ResourceWorld::reusable(const std::string& name, double capacity, const std::string& profile,
                                      const std::string& detector) {
  const double inf = (double) g_infiniteTime();
  return new TestReusable(db->getId(), LabelStr("Reusable"), LabelStr(name), LabelStr(detector),
                          LabelStr(profile), capacity, capacity, 0.0, inf, inf);
}

namespace {
LabelStr objectName(const std::string& object) {
  return object.empty() ? Token::noObject() : LabelStr(object);
}
}

TokenId ResourceWorld::consumer(const std::string& object, int lb, int ub, double qlb, double qub) {
  ConsumerToken* tok = new ConsumerToken(db->getId(), "Reservoir.consume", false, false, IntervalIntDomain(lb, ub),
                                         objectName(object), false, true);
  tok->getQuantity()->restrictBaseDomain(IntervalDomain(qlb, qub));
  tok->close();
  return tok->getId();
}

TokenId ResourceWorld::producer(const std::string& object, int lb, int ub, double qlb, double qub) {
  ProducerToken* tok = new ProducerToken(db->getId(), "Reservoir.produce", false, false, IntervalIntDomain(lb, ub),
                                         objectName(object), false, true);
  tok->getQuantity()->restrictBaseDomain(IntervalDomain(qlb, qub));
  tok->close();
  return tok->getId();
}

TokenId ResourceWorld::uses(const std::string& object, int startLb, int startUb, int duration, double quantity) {
  return (new ReusableToken(db->getId(), "Reusable.uses", IntervalIntDomain(startLb, startUb),
                            IntervalIntDomain(), IntervalIntDomain(duration, duration),
                            IntervalDomain(quantity, quantity), objectName(object), true, true))->getId();
}

ConstraintId ResourceWorld::precedes(const ConstrainedVariableId& a, const ConstrainedVariableId& b) {
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(a);
  scope.push_back(b);
  return db->getClient()->createConstraint("precedes", scope);
}

std::vector<InstantId> ResourceWorld::instants(const Id<Profile>& profile) {
  std::vector<InstantId> result;
  for (ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    result.push_back(it.getInstant());
  return result;
}

InstantId ResourceWorld::instantAt(const Id<Profile>& profile, int time) {
  for (ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    if (it.getTime() == time)
      return it.getInstant();
  return InstantId();
}

}
}
