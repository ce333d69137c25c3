#include "Resource/test/ThreatTestSupport.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/Solvers/MIRT_SolverRegistration.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "Utils/base/Factory.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

Error errorOf(const std::function<void()>& f) {
  try {
    f();
  }
  catch (const Error& e) {
    return e;
  }
  return Error("", "", "", 0);
}

std::unique_ptr<TiXmlElement> xml(const std::string& text) {
  TiXmlDocument doc;
  doc.Parse(text.c_str());
  checkError(doc.RootElement() != NULL, "Bad test XML: " << text);
  return std::unique_ptr<TiXmlElement>(doc.RootElement()->Clone()->ToElement());
}

ThreatWorld::ThreatWorld() {
  ce = new ConstraintEngine();
  initTemporalConstraints(ce->getId());
  new ProfilePropagator(ResourceTokenRelation::PROPAGATOR_NAME(), ce->getId());
  schema = new Schema();
  schema->addObjectType("Reservoir");
  schema->addObjectType("Reusable");
  schema->addObjectType("Crane", "Reusable");
  schema->addPredicate("Reservoir.produce");
  schema->addPredicate("Reservoir.consume");
  schema->addPredicate("Reusable.uses");
  schema->addPredicate("Crane.uses");
  db = new PlanDatabase(ce->getId(), schema->getId(), engine.getId());
  registerProfilesAndDetectors(engine);
  getFVDetectorFactoryMgr(engine)->registerFactory(new FVDetectorFactory<SilentFVDetector>("SilentFVDetector"));
  SOLVERS::initSolverComponents(engine);
  factories = dynamic_cast<SOLVERS::ComponentFactoryMgr*>(engine.getComponent(SOLVERS::ComponentFactoryMgr::name()));
  finders = dynamic_cast<SOLVERS::MatchFinderMgr*>(engine.getComponent(SOLVERS::MatchFinderMgr::name()));
  registerResourceSolverComponents(engine.getId());
}

ThreatWorld::~ThreatWorld() {
  delete db;
  delete schema;
  delete ce;
}

ThreatReservoir* ThreatWorld::reservoir(const std::string& name, double initLevel, double lowerLimit,
                                        double upperLimit, const std::string& profile,
                                        const std::string& detector) {
  const double inf = (double) g_infiniteTime();
  return new ThreatReservoir(db->getId(), LabelStr("Reservoir"), LabelStr(name), LabelStr(detector),
                             LabelStr(profile), initLevel, initLevel, lowerLimit, upperLimit, inf, inf, inf, inf);
}

ThreatReusable* ThreatWorld::reusable(const std::string& name, double capacity, const std::string& profile,
                                      const std::string& detector, const std::string& type) {
  const double inf = (double) g_infiniteTime();
  return new ThreatReusable(db->getId(), LabelStr(type), LabelStr(name), LabelStr(detector), LabelStr(profile),
                            capacity, capacity, 0.0, inf, inf);
}

TokenId ThreatWorld::consumer(const std::string& object, int lb, int ub, double quantity) {
  ConsumerToken* tok = new ConsumerToken(db->getId(), "Reservoir.consume", false, false, IntervalIntDomain(lb, ub),
                                         LabelStr(object), false, true);
  tok->getQuantity()->restrictBaseDomain(IntervalDomain(quantity, quantity));
  tok->close();
  return tok->getId();
}

TokenId ThreatWorld::producer(const std::string& object, int lb, int ub, double quantity) {
  ProducerToken* tok = new ProducerToken(db->getId(), "Reservoir.produce", false, false, IntervalIntDomain(lb, ub),
                                         LabelStr(object), false, true);
  tok->getQuantity()->restrictBaseDomain(IntervalDomain(quantity, quantity));
  tok->close();
  return tok->getId();
}

TokenId ThreatWorld::uses(const std::string& object, int startLb, int startUb, int duration, double quantity) {
  ObjectId obj = db->getObject(LabelStr(object));
  const std::string predicate = obj.isValid() ? obj->getType().toString() + ".uses" : std::string("Reusable.uses");
  return (new ReusableToken(db->getId(), predicate, IntervalIntDomain(startLb, startUb), IntervalIntDomain(),
                            IntervalIntDomain(duration, duration), IntervalDomain(quantity, quantity),
                            LabelStr(object), true, true))->getId();
}

InstantId ThreatWorld::flaw(ThreatReservoir* res, int time, bool lower, bool upper, double lowerMagnitude,
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

InstantId ThreatWorld::instantAt(const Id<Profile>& profile, int time) {
  for (ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
    if (it.getTime() == time)
      return it.getInstant();
  return InstantId();
}

}
}
