#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/Solvers/MIRT_SolverRegistration.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "Utils/base/Factory.hh"

namespace KORVAN {
namespace MIRT {

std::unique_ptr<TiXmlElement> xml(const std::string& text) {
  TiXmlDocument doc;
  doc.Parse(text.c_str());
  checkError(doc.RootElement() != NULL, "Bad test XML: " << text);
  return std::unique_ptr<TiXmlElement>(doc.RootElement()->Clone()->ToElement());
}

ResourceWorld::ResourceWorld(bool allowViolations, bool withSolvers) {
  ce = new ConstraintEngine();
  ce->setAllowViolations(allowViolations);
  // A host with a solver sets up the temporal network before the module.
  if (withSolvers)
    initTemporalConstraints(ce->getId());
  new ProfilePropagator(ResourceTokenRelation::PROPAGATOR_NAME(), ce->getId());
  schema = new Schema();
  schema->addObjectType("Reservoir");
  schema->addObjectType("Reusable");
  schema->addPredicate("Reservoir.produce");
  schema->addPredicate("Reservoir.consume");
  schema->addPredicate("Reusable.uses");
  schema->addObjectType("Crane", "Reusable");
  schema->addPredicate("Crane.uses");
  db = new PlanDatabase(ce->getId(), schema->getId(), engine.getId());
  registerProfilesAndDetectors(engine);
  getFVDetectorFactoryMgr(engine)->registerFactory(new FVDetectorFactory<QuietFVDetector>("QuietFVDetector"));
  if (withSolvers) {
    SOLVERS::initSolverComponents(engine);
    factories = dynamic_cast<SOLVERS::ComponentFactoryMgr*>(engine.getComponent(SOLVERS::ComponentFactoryMgr::name()));
    finders = dynamic_cast<SOLVERS::MatchFinderMgr*>(engine.getComponent(SOLVERS::MatchFinderMgr::name()));
    registerResourceSolverComponents(engine.getId());
  }
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
                                      const std::string& detector, const std::string& type) {
  const double inf = (double) g_infiniteTime();
  return new TestReusable(db->getId(), LabelStr(type), LabelStr(name), LabelStr(detector),
                          LabelStr(profile), capacity, capacity, 0.0, inf, inf);
}

namespace {
LabelStr objectName(const std::string& object) {
  return object.empty() ? Token::noObject() : LabelStr(object);
}
}

namespace {
template <class T>
TokenId reservoirToken(PlanDatabase* db, const char* predicate, const std::string& object, int lb, int ub,
                       double qlb, double qub) {
  T* tok = new T(db->getId(), predicate, false, false, IntervalIntDomain(lb, ub), objectName(object), false, true);
  tok->getQuantity()->restrictBaseDomain(IntervalDomain(qlb, qub));
  tok->close();
  return tok->getId();
}
}

TokenId ResourceWorld::consumer(const std::string& object, int lb, int ub, double qlb, double qub) {
  return reservoirToken<ConsumerToken>(db, "Reservoir.consume", object, lb, ub, qlb, qub);
}

TokenId ResourceWorld::producer(const std::string& object, int lb, int ub, double qlb, double qub) {
  return reservoirToken<ProducerToken>(db, "Reservoir.produce", object, lb, ub, qlb, qub);
}

TokenId ResourceWorld::uses(const std::string& object, int startLb, int startUb, int duration, double quantity) {
  ObjectId obj = db->getObject(LabelStr(object));
  const std::string predicate = obj.isValid() ? obj->getType().toString() + ".uses" : std::string("Reusable.uses");
  return (new ReusableToken(db->getId(), predicate, IntervalIntDomain(startLb, startUb),
                            IntervalIntDomain(), IntervalIntDomain(duration, duration),
                            IntervalDomain(quantity, quantity), objectName(object), true, true))->getId();
}

ConstraintId ResourceWorld::precedes(const ConstrainedVariableId& a, const ConstrainedVariableId& b) {
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(a);
  scope.push_back(b);
  return db->getClient()->createConstraint("precedes", scope);
}

InstantId ResourceWorld::flaw(TestReservoir* res, int time, bool lower, bool upper, double lowerMagnitude,
                              double upperMagnitude) {
  InstantId inst = instantAt(res->getProfile(), time);
  checkError(inst.isValid(), "No instant at " << time);
  inst->setFlawed(true);
  inst->setLower(lower);
  inst->setUpper(upper);
  if (lower)
    inst->setLowerMagnitude(lowerMagnitude);
  if (upper)
    inst->setUpperMagnitude(upperMagnitude);
  res->notifyFlawed(inst);
  return inst;
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
