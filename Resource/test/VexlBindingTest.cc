// The modelling-language binding: resource classes and their constructor
// overloads, closing into initialised resources, token classes and the native
// factories. Whole models read through the interpreter are the end-to-end
// tests' (korvan-run on the shipped and generated models).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "Resource/test/ModuleTestSupport.hh"

#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Token.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_ReusableFVDetector.hh"
#include "Resource/component/MIRT_TimetableFVDetector.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Resource/component/VEXL/VexlResource.hh"
#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "Utils/base/Factory.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MODULETEST {

using VEXL::VexlReservoir;
using VEXL::VexlReusable;
using VEXL::VexlUnary;

namespace {

const double INF = g_infiniteTimeAsDouble();
const double NaN = std::numeric_limits<double>::quiet_NaN();

// Objects through the schema's factory for the signature, as the interpreter makes them.
ObjectId make(ModuleWorld& world, const std::string& signature, const std::string& name,
              const std::vector<double>& args) {
  std::vector<std::unique_ptr<IntervalDomain>> owned;
  std::vector<const AbstractDomain*> domains;
  for (double v : args) {
    owned.emplace_back(new IntervalDomain(v, v));
    domains.push_back(owned.back().get());
  }
  LabelStr type(signature.substr(0, signature.find(':')));
  return world.schema->getObjectFactory(LabelStr(signature))
      ->createInstance(world.db->getId(), type, LabelStr(name), domains);
}

// Each member variable's single value (NaN when not a singleton), in list order.
std::vector<double> parameterValues(const ObjectId& object) {
  std::vector<double> values;
  for (const ConstrainedVariableId& var : object->getVariables()) {
    const AbstractDomain& dom = var->lastDomain();
    values.push_back(dom.isSingleton() ? dom.getSingletonValue() : NaN);
  }
  return values;
}

std::vector<std::string> parameterNames(const ObjectId& object) {
  std::vector<std::string> names;
  for (const ConstrainedVariableId& var : object->getVariables())
    names.push_back(var->getName().toString());
  return names;
}

template <class T>
T* as(const ObjectId& object) {
  return dynamic_cast<T*>(static_cast<Object*>(object));
}

template <class T, class Base>
bool isA(const Id<Base>& id) {
  return dynamic_cast<T*>(static_cast<Base*>(id)) != nullptr;
}

// A profile-based resource's initial level, limits, then the production and consumption
// maxima: both rates before both totals.
std::vector<double> limitsOf(const ObjectId& object) {
  MIRT::Resource* r = as<MIRT::Resource>(object);
  return {r->getInitCapacityLb(), r->getInitCapacityUb(), r->getLowerLimit(),         r->getUpperLimit(),
          r->getMaxInstProduction(), r->getMaxInstConsumption(), r->getMaxProduction(), r->getMaxConsumption()};
}

// Adds the member naming the object's profile kind.
ConstrainedVariableId profileType(const ObjectId& object, const char* profile, const char* member = "profileType") {
  return object->addVariable(EnumeratedDomain(LabelStr(profile).getKey(), LabelStr("string"), false), LabelStr(member));
}

}

TEST(VexlBinding, ConstructorOverloadsAndDefaults) {
  ModuleWorld world;
  const double M = -INF;
  typedef std::vector<double> V;
  // Members in the schema's order. Resource and Reservoir: initialCapacity, levelLimitMin,
  // levelLimitMax, productionRateMax, productionMax, consumptionRateMax, consumptionMax (the
  // instant-based resource's consumption limits are at most zero). Reusable: capacity,
  // levelLimitMin, consumptionRateMax, consumptionMax. The argument count decides, not the
  // factory's own signature; five leave the consumption rate unbounded, as three do; a reusable's
  // four come as the maximum, then its rate; values keep their double precision (a limit of 0.7
  // must hold a quantity of 0.7).
  const struct { const char* signature; V args, expected; } cases[] = {
      {"Resource", {}, {0, M, INF, INF, INF, M, M}},
      {"Resource:float:float:float", {5, 0, 10}, {5, 0, 10, INF, INF, M, M}},
      {"Resource:float:float:float:float:float", {5, 0, 10, 3, -4}, {5, 0, 10, 3, 3, M, -4}},
      {"Resource:float:float:float", {1, 2, 3, 4, 5, -6, -7}, {1, 2, 3, 4, 5, -6, -7}},
      {"Reservoir", {}, {0, M, INF, INF, INF, INF, INF}},
      {"Reservoir:float:float:float", {5, 0, 10}, {5, 0, 10, INF, INF, INF, INF}},
      {"Reservoir:float:float:float:float:float", {5, 0, 10, 3, 4}, {5, 0, 10, 3, 3, INF, 4}},
      {"Reservoir:float:float:float", {0.1, 0, 0.7}, {0.1, 0, 0.7, INF, INF, INF, INF}},
      {"Reusable", {}, {INF, M, INF, INF}},
      {"Reusable:float:float", {3, 0}, {3, 0, INF, INF}},
      {"Reusable:float:float:float", {3, 0, 1}, {3, 0, 1, INF}},
      {"Reusable:float:float:float:float", {10, 0, 5, 2}, {10, 0, 2, 5}},
      {"Unary", {}, {INF}},
      {"Unary:float", {4}, {4}}};
  int n = 0;
  for (const auto& c : cases)
    EXPECT_EQ(c.expected, parameterValues(make(world, c.signature, "o" + std::to_string(n++), c.args))) << c.signature;

  ObjectId r7 = make(world, "Reservoir:float:float:float", "r7", {1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ((V{1, 2, 3, 4, 5, 6, 7}), parameterValues(r7));
  EXPECT_EQ((std::vector<std::string>{"r7.initialCapacity", "r7.levelLimitMin", "r7.levelLimitMax",
                                      "r7.productionRateMax", "r7.productionMax", "r7.consumptionRateMax",
                                      "r7.consumptionMax"}),
            parameterNames(r7));
  VexlReservoir* reservoir = as<VexlReservoir>(r7);
  ASSERT_NE(nullptr, reservoir);
  EXPECT_EQ(r7->getVariables()[5], reservoir->consumptionRateMax);
  EXPECT_FALSE(r7->isClosed() || reservoir->isInitialized());
  ObjectId u4 = make(world, "Reusable:float:float:float:float", "u4", {10, 0, 5, 2});
  EXPECT_EQ(5.0, as<VexlReusable>(u4)->consumptionMax->lastDomain().getSingletonValue());
  EXPECT_EQ(2.0, as<VexlReusable>(u4)->consumptionRateMax->lastDomain().getSingletonValue());
}

TEST(VexlBinding, FactoriesRejectOtherArgumentCountsAndLeaveNoObject) {
  ModuleWorld world;
  struct Case {
    const char* signature;
    std::vector<double> args;
    const char* message;
  } cases[] = {
      {"Reusable:float:float", {1, 2, 3, 4, 5}, "Unexpected number of args in Reusable constructor:5 (it takes 0, 2, 3 or 4)"},
      {"Unary:float", {1, 2, 3}, "Unexpected number of args in Unary constructor:3 (it takes 0 or 1)"},
      {"Reservoir", {1, 2, 3, 4}, "Unexpected number of args in Reservoir constructor:4 (it takes 0, 3, 5 or 7)"},
      {"Reservoir", {1}, "Unexpected number of args in Reservoir constructor:1 (it takes 0, 3, 5 or 7)"},
  };
  for (const Case& c : cases) {
    Error e = failure([&]() { make(world, c.signature, "bad", c.args); });
    EXPECT_EQ("ALWAYS_FAILS", e.getCondition()) << c.message;
    EXPECT_EQ(c.message, e.getMsg());
    EXPECT_TRUE(world.db->getObject(LabelStr("bad")).isNoId()) << c.message;
  }
  EXPECT_TRUE(world.db->getObjects().empty());
}

TEST(VexlBinding, ClosingInitialisesTheResource) {
  ModuleWorld world;
  typedef std::vector<double> V;
  ObjectId battery = make(world, "Reservoir:float:float:float", "battery", {5, 0, 10});
  battery->close();
  VexlReservoir* reservoir = as<VexlReservoir>(battery);
  ASSERT_TRUE(battery->isClosed() && reservoir->isInitialized());
  EXPECT_EQ((V{5, 5, 0, 10, INF, INF, INF, INF}), limitsOf(battery));
  EXPECT_TRUE(isA<MIRT::TimetableFVDetector>(reservoir->getDetector()));
  EXPECT_TRUE(isA<MIRT::IncrementalFlowProfile>(reservoir->getProfile()));
  // Seven values land in init's order: both rates before both totals.
  ObjectId tank = make(world, "Reservoir:float:float:float:float:float:float:float", "tank", {1, 0, 9, 2, 6, 3, 7});
  tank->close();
  EXPECT_EQ((V{1, 1, 0, 9, 2, 3, 6, 7}), limitsOf(tank));

  // The instant-based resource takes its seven values one to one; an
  // unbounded consumption rate becomes the consumption maximum.
  ObjectId store = make(world, "Resource:float:float:float:float:float", "store", {5, 0, 10, 3, -4});
  store->close();
  VEXL::VexlResource* instant = as<VEXL::VexlResource>(store);
  EXPECT_TRUE(store->isClosed());
  EXPECT_EQ((V{5, 0, 10, 3, 3, -4, -4}),
            (V{instant->getInitialCapacity(), instant->getLimitMin(), instant->getLimitMax(),
               instant->getProductionMax(), instant->getProductionRateMax(0), instant->getConsumptionMax(),
               instant->getConsumptionRateMax(0)}));
  ObjectId bad = make(world, "Resource:float:float:float", "inverted", {5, 10, 0});
  EXPECT_EQ("m_limitMin <= m_limitMax", failure([&]() { bad->close(); }).getCondition());
  EXPECT_FALSE(bad->isClosed());
  bad->discard();

  // A reusable resource: upper limit and initial level are its capacity,
  // production limits its consumption limits; the unbounded rate becomes the total.
  ObjectId crew = make(world, "Reusable:float:float:float:float", "crew", {2, 0, 5, INF});
  crew->close();
  EXPECT_EQ((V{2, 2, 0, 2, 5, 5, 5, 5}), limitsOf(crew));
  EXPECT_TRUE(isA<MIRT::ReusableFVDetector>(as<VexlReusable>(crew)->getDetector()));
  EXPECT_TRUE(isA<MIRT::IncrementalFlowProfile>(as<VexlReusable>(crew)->getProfile()));

  // A unary resource has capacity one whatever its parameter.
  ObjectId drill = make(world, "Unary:float", "drill", {4});
  profileType(drill, "TimetableProfile");
  drill->close();
  V unary = limitsOf(drill);
  unary.resize(6);
  EXPECT_EQ((V{1, 1, 0, 1, 4, 4}), unary);
  EXPECT_TRUE(isA<MIRT::TimetableProfile>(as<VexlUnary>(drill)->getProfile()));

  // handleDefaults closes when asked.
  ObjectId spare = make(world, "Unary", "spare", {});
  profileType(spare, "TimetableProfile");
  as<VexlUnary>(spare)->handleDefaults(true);
  EXPECT_TRUE(spare->isClosed());
  EXPECT_EQ(INF, as<VexlUnary>(spare)->getMaxConsumption());
}

TEST(VexlBinding, CloseChecksParametersInOrder) {
  ModuleWorld world;
  const IntervalDomain one(1.0, 1.0, LabelStr("float"));
  // A reservoir with singleton parameters of the given names, in that order, closed.
  auto closeWith = [&](const char* name, std::vector<const char*> params) {
    VexlReservoir* r = new VexlReservoir(world.db->getId(), "Reservoir", name, true);
    for (const char* param : params)
      r->addVariable(one, LabelStr(param));
    Error e = failure([&]() { r->close(); });
    EXPECT_FALSE(r->isClosed() || r->isInitialized()) << name;
    return e;
  };
  Error e = closeWith("few", {"initialCapacity", "levelLimitMin", "levelLimitMax", "productionRateMax",
                              "productionMax", "consumptionRateMax"});
  EXPECT_EQ("m_variables.size() >= ARG_COUNT", e.getCondition());
  EXPECT_EQ("Resource/component/VEXL/VexlResource", e.getFile());
  // A parameter out of place: the first name check reports.
  EXPECT_EQ("m_variables[IC]->getName().toString().find(PARAM_INITIAL_CAPACITY) != std::string::npos",
            closeWith("swapped", {"levelLimitMin", "initialCapacity", "levelLimitMax", "productionRateMax",
                                  "productionMax", "consumptionRateMax", "consumptionMax"})
                .getCondition());

  // Without arguments every parameter is a singleton: the object closes.
  ObjectId open = world.db->getClient()->createObject(LabelStr("Reservoir"), LabelStr("open"),
                                                      std::vector<const AbstractDomain*>());
  open->close();
  EXPECT_TRUE(as<VexlReservoir>(open)->isInitialized());

  // Defaults are unbounded: the first one the model did not narrow fails its singleton check.
  VexlReservoir* bare = new VexlReservoir(world.db->getId(), "Reservoir", "bare", true);
  bare->handleDefaults(false);
  EXPECT_EQ(7u, bare->getVariables().size());
  bare->getVariables()[0]->restrictBaseDomain(one);
  EXPECT_EQ("m_variables[LLMIN]->derivedDomain().isSingleton()", failure([&]() { bare->close(); }).getCondition());
  EXPECT_FALSE(bare->isInitialized());
  VexlUnary* unary = new VexlUnary(world.db->getId(), "Unary", "drill", true);
  unary->handleDefaults(false);
  EXPECT_EQ("m_variables[CMAX]->derivedDomain().isSingleton()", failure([&]() { unary->close(); }).getCondition());

  VexlReusable* reusable = new VexlReusable(world.db->getId(), "Reusable", "crew", true);
  reusable->constructor(2, 0, 1);
  reusable->getVariables()[2]->restrictBaseDomain(IntervalDomain(1.0, 1.0));
  profileType(reusable->getId(), "BogusProfile");
  e = failure([&]() { reusable->close(); });
  EXPECT_EQ("isValidProfile(profileNameVar)", e.getCondition());
  EXPECT_EQ("Invalid resource profile type:" + reusable->getVariable(LabelStr("crew.profileType"))->toString() +
                " (TimetableProfile, FlowProfile or IncrementalFlowProfile)",
            e.getMsg());
  EXPECT_FALSE(reusable->isInitialized());
}

TEST(VexlBinding, ProfileSelection) {
  ModuleWorld world;
  ObjectId holder = make(world, "Unary", "holder", {});
  EXPECT_TRUE(VEXL::isValidProfile(profileType(holder, "FlowProfile", "a")));
  EXPECT_TRUE(VEXL::isValidProfile(profileType(holder, "IncrementalFlowProfile", "b")));
  EXPECT_TRUE(VEXL::isValidProfile(profileType(holder, "TimetableProfile", "c")));
  EXPECT_FALSE(VEXL::isValidProfile(profileType(holder, "timetableProfile", "d")));
  EXPECT_FALSE(VEXL::isValidProfile(holder->addVariable(IntervalDomain(3.0, 3.0), LabelStr("e"))));
  std::list<double> two = {LabelStr("FlowProfile").getKey(), LabelStr("TimetableProfile").getKey()};
  EXPECT_FALSE(VEXL::isValidProfile(holder->addVariable(EnumeratedDomain(two, true, LabelStr("string"), false),
                                                        LabelStr("f"))));
  {
    DebugCapture capture("VexlReusable");
    make(world, "Reusable:float:float", "plain", {1, 0})->close();
    EXPECT_EQ("[VexlReusable]Using Profile : IncrementalFlowProfile\n", capture.text());
  }
  DebugCapture capture("VexlUnary");
  ObjectId drill = make(world, "Unary", "drill", {});
  ConstrainedVariableId var = profileType(drill, "TimetableProfile");
  drill->close();
  EXPECT_EQ("[VexlUnary]Using Profile : " + var->toString() + "\n[VexlUnary]Using Profile : TimetableProfile\n",
            capture.text());
}

TEST(VexlBinding, TokenFactoriesMakeClosedBoundTokens) {
  ModuleWorld world;
  const SchemaId& schema = world.db->getSchema();
  auto create = [&](const char* predicate, bool rejectable, bool isFact) {
    return schema->getTokenFactory(LabelStr(predicate))->createInstance(world.db->getId(), LabelStr(predicate),
                                                                        rejectable, isFact);
  };
  // Closed and active at once, each member handle bound to its variable.
  auto* ch = dynamic_cast<VEXL::VexlResource::change*>(static_cast<Token*>(create("Resource.change", false, false)));
  ASSERT_NE(nullptr, ch);
  EXPECT_TRUE(ch->isClosed() && ch->isActive());
  EXPECT_TRUE(ch->time == ch->getTime() && ch->tStart == ch->start() && ch->quantity == ch->getVariable("quantity"));
  auto* c = dynamic_cast<VexlReservoir::consume*>(static_cast<Token*>(create("Reservoir.consume", false, false)));
  ASSERT_NE(nullptr, c);
  EXPECT_TRUE(c->isClosed() && c->isActive() && c->isConsumer());
  EXPECT_TRUE(c->time == c->getTime() && c->tStart == c->start() && c->tEnd == c->end() &&
              c->object == c->getObject() && c->state == c->getState() && c->quantity == c->getVariable("quantity"));
  EXPECT_EQ(0.0, c->quantity->baseDomain().getLowerBound());
  EXPECT_EQ(INF, c->quantity->baseDomain().getUpperBound());
  auto* p = dynamic_cast<VexlReservoir::produce*>(static_cast<Token*>(create("Reservoir.produce", true, false)));
  ASSERT_NE(nullptr, p);
  EXPECT_TRUE(!p->isConsumer() && p->isRejectable());
  TokenId uses = create("Reusable.uses", false, true);
  auto* u = dynamic_cast<VexlReusable::uses*>(static_cast<Token*>(uses));
  ASSERT_NE(nullptr, u);
  EXPECT_TRUE(u->isFact() && u->isActive() && u->quantity == u->getQuantity());
  EXPECT_EQ(1.0, u->tDuration->baseDomain().getLowerBound());
  EXPECT_EQ(INF, u->tDuration->baseDomain().getUpperBound());
  TokenId use;
  {
    DebugCapture capture("XMLInterpreter:NativeObjectFactory");
    use = create("Unary.use", true, false);
    EXPECT_EQ("[XMLInterpreter:NativeObjectFactory]Created Native Unary.Use\n", capture.text());
  }
  auto* un = dynamic_cast<VexlUnary::use*>(static_cast<Token*>(use));
  ASSERT_NE(nullptr, un);
  EXPECT_TRUE(un->isRejectable() && un->tDuration == un->duration());
  EXPECT_TRUE(un->getQuantity()->baseDomain().isSingleton());
  EXPECT_EQ(1.0, un->getQuantity()->baseDomain().getSingletonValue());

  // A slave: the master, then the relation, reach the base.
  TokenId slave = schema->getTokenFactory(LabelStr("Reservoir.consume"))
                      ->createInstance(uses, LabelStr("Reservoir.consume"), LabelStr("before"));
  EXPECT_EQ(uses, slave->getMasterToken());
  EXPECT_EQ(LabelStr("before"), slave->getRelation());
  EXPECT_EQ(LabelStr("Reservoir.consume"), slave->getPredicateName());
  EXPECT_TRUE(slave->isClosed());

  // Opened tokens are bound and close later; the unary token is never made active.
  VexlReusable::uses* open = new VexlReusable::uses(world.db->getId(), LabelStr("Reusable.uses"));
  EXPECT_FALSE(open->isClosed());
  EXPECT_EQ(open->start(), open->tStart);
  open->close();
  EXPECT_TRUE(open->isActive());
  VEXL::VexlUnaryToken* plain = new VEXL::VexlUnaryToken(world.db->getId(), LabelStr("Unary.use"), false, false, true);
  EXPECT_TRUE(plain->isClosed() && !plain->isActive() && plain->tEnd == plain->end());
  EXPECT_EQ(1.0, plain->getQuantity()->baseDomain().getSingletonValue());
}

}
}
