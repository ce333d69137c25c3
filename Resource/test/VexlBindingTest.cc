// The modelling-language binding: resource classes and their constructor
// overloads, closing into initialised resources, token classes, the native
// factories and models read through the interpreter.

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

}

TEST(VexlBinding, ConstructorOverloadsAndDefaults) {
  ModuleWorld world;
  const double M = -INF;
  typedef std::vector<double> V;
  // Resource members, as the reservoir's; its consumption limits are at most zero.
  EXPECT_EQ((V{0, M, INF, INF, INF, M, M}), parameterValues(make(world, "Resource", "i0", {})));
  EXPECT_EQ((V{5, 0, 10, INF, INF, M, M}),
            parameterValues(make(world, "Resource:float:float:float", "i3", {5, 0, 10})));
  // Five arguments leave the consumption rate unbounded, as three do.
  EXPECT_EQ((V{5, 0, 10, 3, 3, M, -4}),
            parameterValues(make(world, "Resource:float:float:float:float:float", "i5", {5, 0, 10, 3, -4})));
  EXPECT_EQ((V{1, 2, 3, 4, 5, -6, -7}),
            parameterValues(make(world, "Resource:float:float:float", "i7", {1, 2, 3, 4, 5, -6, -7})));

  // Reservoir members: initialCapacity, levelLimitMin, levelLimitMax,
  // productionRateMax, productionMax, consumptionRateMax, consumptionMax.
  EXPECT_EQ((V{0, M, INF, INF, INF, INF, INF}), parameterValues(make(world, "Reservoir", "r0", {})));
  EXPECT_EQ((V{5, 0, 10, INF, INF, INF, INF}),
            parameterValues(make(world, "Reservoir:float:float:float", "r3", {5, 0, 10})));
  EXPECT_EQ((V{5, 0, 10, 3, 3, INF, 4}),
            parameterValues(make(world, "Reservoir:float:float:float:float:float", "r5", {5, 0, 10, 3, 4})));
  // The count decides, not the factory's own signature.
  ObjectId r7 = make(world, "Reservoir:float:float:float", "r7", {1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ((V{1, 2, 3, 4, 5, 6, 7}), parameterValues(r7));
  EXPECT_EQ((std::vector<std::string>{"r7.initialCapacity", "r7.levelLimitMin", "r7.levelLimitMax",
                                      "r7.productionRateMax", "r7.productionMax", "r7.consumptionRateMax",
                                      "r7.consumptionMax"}),
            parameterNames(r7));
  VexlReservoir* reservoir = as<VexlReservoir>(r7);
  ASSERT_NE(nullptr, reservoir);
  EXPECT_EQ(r7->getVariables()[5], reservoir->consumptionRateMax);
  EXPECT_FALSE(r7->isClosed());
  EXPECT_FALSE(reservoir->isInitialized());

  // Reusable members: capacity, levelLimitMin, consumptionRateMax, consumptionMax.
  EXPECT_EQ((V{INF, M, INF, INF}), parameterValues(make(world, "Reusable", "u0", {})));
  EXPECT_EQ((V{3, 0, INF, INF}), parameterValues(make(world, "Reusable:float:float", "u2", {3, 0})));
  EXPECT_EQ((V{3, 0, 1, INF}), parameterValues(make(world, "Reusable:float:float:float", "u3", {3, 0, 1})));
  // Four arguments come in the schema's order: the maximum, then its rate.
  ObjectId u4 = make(world, "Reusable:float:float:float:float", "u4", {10, 0, 5, 2});
  EXPECT_EQ((V{10, 0, 2, 5}), parameterValues(u4));
  EXPECT_EQ(5.0, as<VexlReusable>(u4)->consumptionMax->lastDomain().getSingletonValue());
  EXPECT_EQ(2.0, as<VexlReusable>(u4)->consumptionRateMax->lastDomain().getSingletonValue());

  EXPECT_EQ((V{INF}), parameterValues(make(world, "Unary", "d0", {})));
  EXPECT_EQ((V{4}), parameterValues(make(world, "Unary:float", "d1", {4})));

  // Values keep their double precision: a limit of 0.7 must hold a quantity of 0.7.
  EXPECT_EQ((V{0.1, 0, 0.7, INF, INF, INF, INF}),
            parameterValues(make(world, "Reservoir:float:float:float", "precise", {0.1, 0, 0.7})));
}

TEST(VexlBinding, FactoriesRejectOtherArgumentCountsAndLeaveNoObject) {
  ModuleWorld world;
  struct Case {
    const char* signature;
    std::vector<double> args;
    const char* message;
  } cases[] = {
      {"Reusable:float:float", {1, 2, 3, 4, 5}, "Unexpected number of args in Reusable constructor:5"},
      {"Unary:float", {1, 2, 3}, "Unexpected number of args in Unary constructor:3"},
      {"Reservoir", {1, 2, 3, 4}, "Unexpected number of args in Reservoir constructor:4"},
      {"Reservoir", {1}, "Unexpected number of args in Reservoir constructor:1"},
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

  ObjectId battery = make(world, "Reservoir:float:float:float", "battery", {5, 0, 10});
  battery->close();
  VexlReservoir* reservoir = as<VexlReservoir>(battery);
  EXPECT_TRUE(battery->isClosed());
  ASSERT_TRUE(reservoir->isInitialized());
  EXPECT_EQ(5.0, reservoir->getInitCapacityLb());
  EXPECT_EQ(5.0, reservoir->getInitCapacityUb());
  EXPECT_EQ(0.0, reservoir->getLowerLimit());
  EXPECT_EQ(10.0, reservoir->getUpperLimit());
  EXPECT_EQ(INF, reservoir->getMaxInstProduction());
  EXPECT_EQ(INF, reservoir->getMaxConsumption());
  EXPECT_NE(nullptr, dynamic_cast<MIRT::TimetableFVDetector*>(static_cast<MIRT::FVDetector*>(reservoir->getDetector())));
  EXPECT_NE(nullptr,
            dynamic_cast<MIRT::IncrementalFlowProfile*>(static_cast<MIRT::Profile*>(reservoir->getProfile())));

  // Seven values land in init's order: both rates before both totals.
  ObjectId tank = make(world, "Reservoir:float:float:float:float:float:float:float", "tank", {1, 0, 9, 2, 6, 3, 7});
  tank->close();
  VexlReservoir* t = as<VexlReservoir>(tank);
  EXPECT_EQ(2.0, t->getMaxInstProduction());
  EXPECT_EQ(6.0, t->getMaxProduction());
  EXPECT_EQ(3.0, t->getMaxInstConsumption());
  EXPECT_EQ(7.0, t->getMaxConsumption());

  // The instant-based resource takes its seven values one to one; an
  // unbounded consumption rate becomes the consumption maximum.
  ObjectId store = make(world, "Resource:float:float:float:float:float", "store", {5, 0, 10, 3, -4});
  store->close();
  VEXL::VexlResource* instant = as<VEXL::VexlResource>(store);
  EXPECT_TRUE(store->isClosed());
  EXPECT_EQ(5.0, instant->getInitialCapacity());
  EXPECT_EQ(0.0, instant->getLimitMin());
  EXPECT_EQ(10.0, instant->getLimitMax());
  EXPECT_EQ(3.0, instant->getProductionMax());
  EXPECT_EQ(3.0, instant->getProductionRateMax(0));
  EXPECT_EQ(-4.0, instant->getConsumptionMax());
  EXPECT_EQ(-4.0, instant->getConsumptionRateMax(0));
  ObjectId bad = make(world, "Resource:float:float:float", "inverted", {5, 10, 0});
  EXPECT_EQ("m_limitMin <= m_limitMax", failure([&]() { bad->close(); }).getCondition());
  EXPECT_FALSE(bad->isClosed());
  bad->discard();

  // A reusable resource: upper limit and initial level are its capacity,
  // production limits its consumption limits; the unbounded rate becomes the total.
  ObjectId crew = make(world, "Reusable:float:float:float:float", "crew", {2, 0, 5, INF});
  crew->close();
  VexlReusable* reusable = as<VexlReusable>(crew);
  EXPECT_EQ(2.0, reusable->getInitCapacityLb());
  EXPECT_EQ(2.0, reusable->getUpperLimit());
  EXPECT_EQ(0.0, reusable->getLowerLimit());
  EXPECT_EQ(5.0, reusable->getMaxInstConsumption());
  EXPECT_EQ(5.0, reusable->getMaxInstProduction());
  EXPECT_EQ(5.0, reusable->getMaxProduction());
  EXPECT_NE(nullptr, dynamic_cast<MIRT::ReusableFVDetector*>(static_cast<MIRT::FVDetector*>(reusable->getDetector())));
  EXPECT_NE(nullptr,
            dynamic_cast<MIRT::IncrementalFlowProfile*>(static_cast<MIRT::Profile*>(reusable->getProfile())));

  // A unary resource has capacity one whatever its parameter.
  ObjectId drill = make(world, "Unary:float", "drill", {4});
  drill->addVariable(EnumeratedDomain(LabelStr("TimetableProfile").getKey(), LabelStr("string"), false),
                     LabelStr("profileType"));
  drill->close();
  VexlUnary* unary = as<VexlUnary>(drill);
  EXPECT_EQ(1.0, unary->getInitCapacityLb());
  EXPECT_EQ(1.0, unary->getInitCapacityUb());
  EXPECT_EQ(0.0, unary->getLowerLimit());
  EXPECT_EQ(1.0, unary->getUpperLimit());
  EXPECT_EQ(4.0, unary->getMaxInstConsumption());
  EXPECT_EQ(4.0, unary->getMaxInstProduction());
  EXPECT_NE(nullptr, dynamic_cast<MIRT::TimetableProfile*>(static_cast<MIRT::Profile*>(unary->getProfile())));

  // handleDefaults closes when asked.
  ObjectId spare = make(world, "Unary", "spare", {});
  spare->addVariable(EnumeratedDomain(LabelStr("TimetableProfile").getKey(), LabelStr("string"), false),
                     LabelStr("profileType"));
  as<VexlUnary>(spare)->handleDefaults(true);
  EXPECT_TRUE(spare->isClosed());
  EXPECT_EQ(INF, as<VexlUnary>(spare)->getMaxConsumption());
}

TEST(VexlBinding, CloseChecksParametersInOrder) {
  ModuleWorld world;
  const IntervalDomain one(1.0, 1.0, LabelStr("float"));

  // Too few parameters.
  VexlReservoir* few = new VexlReservoir(world.db->getId(), "Reservoir", "few", true);
  for (const char* name : {"initialCapacity", "levelLimitMin", "levelLimitMax", "productionRateMax",
                           "productionMax", "consumptionRateMax"})
    few->addVariable(one, LabelStr(name));
  Error e = failure([&]() { few->close(); });
  EXPECT_EQ("m_variables.size() >= ARG_COUNT", e.getCondition());
  EXPECT_EQ("Resource/component/VEXL/VexlResource", e.getFile());
  EXPECT_FALSE(few->isClosed());
  EXPECT_FALSE(few->isInitialized());

  // A parameter out of place: the first name check reports.
  VexlReservoir* swapped = new VexlReservoir(world.db->getId(), "Reservoir", "swapped", true);
  for (const char* name : {"levelLimitMin", "initialCapacity", "levelLimitMax", "productionRateMax",
                           "productionMax", "consumptionRateMax", "consumptionMax"})
    swapped->addVariable(one, LabelStr(name));
  e = failure([&]() { swapped->close(); });
  EXPECT_EQ("m_variables[IC]->getName().toString().find(PARAM_INITIAL_CAPACITY) != std::string::npos",
            e.getCondition());

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
  e = failure([&]() { bare->close(); });
  EXPECT_EQ("m_variables[LLMIN]->derivedDomain().isSingleton()", e.getCondition());
  EXPECT_FALSE(bare->isInitialized());

  VexlReusable* reusable = new VexlReusable(world.db->getId(), "Reusable", "crew", true);
  reusable->constructor(2, 0, 1);
  reusable->getVariables()[2]->restrictBaseDomain(IntervalDomain(1.0, 1.0));
  reusable->addVariable(EnumeratedDomain(LabelStr("BogusProfile").getKey(), LabelStr("string"), false),
                        LabelStr("profileType"));
  e = failure([&]() { reusable->close(); });
  EXPECT_EQ("isValidProfile(profileNameVar)", e.getCondition());
  ConstrainedVariableId profileType = reusable->getVariable(LabelStr("crew.profileType"));
  EXPECT_EQ("Invalid resource profile type:" + profileType->toString(), e.getMsg());
  EXPECT_FALSE(reusable->isInitialized());

  VexlUnary* unary = new VexlUnary(world.db->getId(), "Unary", "drill", true);
  unary->handleDefaults(false);
  e = failure([&]() { unary->close(); });
  EXPECT_EQ("m_variables[CMAX]->derivedDomain().isSingleton()", e.getCondition());
}

TEST(VexlBinding, ProfileSelection) {
  ModuleWorld world;
  ObjectId holder = make(world, "Unary", "holder", {});
  auto label = [&](const char* member, const char* text) {
    return holder->addVariable(EnumeratedDomain(LabelStr(text).getKey(), LabelStr("string"), false),
                               LabelStr(member));
  };
  EXPECT_TRUE(VEXL::isValidProfile(label("a", "FlowProfile")));
  EXPECT_TRUE(VEXL::isValidProfile(label("b", "IncrementalFlowProfile")));
  EXPECT_TRUE(VEXL::isValidProfile(label("c", "TimetableProfile")));
  EXPECT_FALSE(VEXL::isValidProfile(label("d", "timetableProfile")));
  EXPECT_FALSE(VEXL::isValidProfile(holder->addVariable(IntervalDomain(3.0, 3.0), LabelStr("e"))));
  std::list<double> two = {LabelStr("FlowProfile").getKey(), LabelStr("TimetableProfile").getKey()};
  EXPECT_FALSE(VEXL::isValidProfile(holder->addVariable(EnumeratedDomain(two, true, LabelStr("string"), false),
                                                        LabelStr("f"))));

  {
    DebugCapture capture("VexlReusable");
    make(world, "Reusable:float:float", "plain", {1, 0})->close();
    EXPECT_EQ("[VexlReusable]Using Profile : IncrementalFlowProfile\n", capture.text());
  }
  {
    DebugCapture capture("VexlUnary");
    ObjectId drill = make(world, "Unary", "drill", {});
    ConstrainedVariableId var = drill->addVariable(
        EnumeratedDomain(LabelStr("TimetableProfile").getKey(), LabelStr("string"), false), LabelStr("profileType"));
    drill->close();
    EXPECT_EQ("[VexlUnary]Using Profile : " + var->toString() + "\n[VexlUnary]Using Profile : TimetableProfile\n",
              capture.text());
  }
}

TEST(VexlBinding, TokenFactoriesMakeClosedBoundTokens) {
  ModuleWorld world;
  const SchemaId& schema = world.db->getSchema();
  auto create = [&](const char* predicate, bool rejectable, bool isFact) {
    return schema->getTokenFactory(LabelStr(predicate))->createInstance(world.db->getId(), LabelStr(predicate),
                                                                        rejectable, isFact);
  };

  TokenId change = create("Resource.change", false, false);
  VEXL::VexlResource::change* ch = dynamic_cast<VEXL::VexlResource::change*>(static_cast<Token*>(change));
  ASSERT_NE(nullptr, ch);
  EXPECT_TRUE(ch->isClosed());
  EXPECT_TRUE(ch->isActive());
  EXPECT_EQ(ch->getTime(), ch->time);
  EXPECT_EQ(ch->start(), ch->tStart);
  EXPECT_EQ(ch->getVariable(LabelStr("quantity")), ch->quantity);

  TokenId consume = create("Reservoir.consume", false, false);
  VexlReservoir::consume* c = dynamic_cast<VexlReservoir::consume*>(static_cast<Token*>(consume));
  ASSERT_NE(nullptr, c);
  EXPECT_TRUE(c->isClosed());
  EXPECT_TRUE(c->isActive());
  EXPECT_TRUE(c->isConsumer());
  EXPECT_EQ(c->getTime(), c->time);
  EXPECT_EQ(c->start(), c->tStart);
  EXPECT_EQ(c->end(), c->tEnd);
  EXPECT_EQ(c->getObject(), c->object);
  EXPECT_EQ(c->getState(), c->state);
  EXPECT_EQ(c->getVariable(LabelStr("quantity")), c->quantity);
  EXPECT_EQ(0.0, c->quantity->baseDomain().getLowerBound());
  EXPECT_EQ(INF, c->quantity->baseDomain().getUpperBound());

  TokenId produce = create("Reservoir.produce", true, false);
  VexlReservoir::produce* p = dynamic_cast<VexlReservoir::produce*>(static_cast<Token*>(produce));
  ASSERT_NE(nullptr, p);
  EXPECT_FALSE(p->isConsumer());
  EXPECT_TRUE(p->isRejectable());

  TokenId uses = create("Reusable.uses", false, true);
  VexlReusable::uses* u = dynamic_cast<VexlReusable::uses*>(static_cast<Token*>(uses));
  ASSERT_NE(nullptr, u);
  EXPECT_TRUE(u->isFact());
  EXPECT_TRUE(u->isActive());
  EXPECT_EQ(1.0, u->tDuration->baseDomain().getLowerBound());
  EXPECT_EQ(INF, u->tDuration->baseDomain().getUpperBound());
  EXPECT_EQ(u->getQuantity(), u->quantity);

  TokenId use;
  {
    DebugCapture capture("XMLInterpreter:NativeObjectFactory");
    use = create("Unary.use", true, false);
    EXPECT_EQ("[XMLInterpreter:NativeObjectFactory]Created Native Unary.Use\n", capture.text());
  }
  VexlUnary::use* un = dynamic_cast<VexlUnary::use*>(static_cast<Token*>(use));
  ASSERT_NE(nullptr, un);
  EXPECT_TRUE(un->isRejectable());
  EXPECT_TRUE(un->getQuantity()->baseDomain().isSingleton());
  EXPECT_EQ(1.0, un->getQuantity()->baseDomain().getSingletonValue());
  EXPECT_EQ(un->duration(), un->tDuration);

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
  EXPECT_TRUE(plain->isClosed());
  EXPECT_FALSE(plain->isActive());
  EXPECT_EQ(plain->end(), plain->tEnd);
  EXPECT_EQ(1.0, plain->getQuantity()->baseDomain().getSingletonValue());
}

TEST(VexlBinding, ModelsReadThroughTheInterpreter) {
  ModuleWorld world;
  std::string objects;
  {
    DebugCapture capture("XMLInterpreter:NativeObjectFactory");
    world.read("<new type='Reusable' name='crew'><float value='3'/><float value='0'/></new>"
               "<set object='crew' member='profileType' value='TimetableProfile'/>"
               "<new type='Unary' name='drill'/>"
               "<new type='Reservoir' name='battery'><float value='10'/><float value='0'/><float value='20'/></new>"
               "<new type='Resource' name='tank'><float value='5'/><float value='0'/><float value='10'/></new>"
               "<close/>");
    objects = capture.text();
  }
  EXPECT_NE(std::string::npos, objects.find("[XMLInterpreter:NativeObjectFactory]Created Native Reusable:crew type:Reusable\n"));
  EXPECT_NE(std::string::npos, objects.find("Created Native Unary:drill type:Unary\n"));
  EXPECT_NE(std::string::npos, objects.find("Created Native Reservoir:battery type:Reservoir\n"));

  world.read("<goal predicate='Reusable.uses' name='repair' object='crew' start='0' duration='5' quantity='1'/>"
             "<goal predicate='Reusable.uses' name='inspect' object='crew' start='3' duration='5' quantity='2'/>"
             "<goal predicate='Unary.use' name='bore' object='drill' start='0 30' duration='10'/>"
             "<goal predicate='Reservoir.consume' name='drive' object='battery' time='4' quantity='8'/>");
  ASSERT_TRUE(world.ce->propagate());
  ObjectId crew = world.db->getObject(LabelStr("crew"));
  ObjectId drill = world.db->getObject(LabelStr("drill"));
  ObjectId battery = world.db->getObject(LabelStr("battery"));
  EXPECT_EQ(2u, crew->tokens().size());
  EXPECT_EQ(1u, drill->tokens().size());
  EXPECT_EQ(1u, battery->tokens().size());
  EXPECT_TRUE(crew->hasToken(world.interpreter->getToken("inspect")));

  // Levels as the resources' envelopes report them: the crew of three lends 1
  // from 0 to 5 and 2 from 3 to 8.
  MIRT::Resource* resource = as<MIRT::Resource>(crew);
  std::unique_ptr<ApResourceProfile> levels(resource->getLevels());
  std::vector<int> times;
  for (int i = 0; i < levels->getTimes().size(); i++)
    times.push_back(levels->getTimes().get(i));
  EXPECT_EQ((std::vector<int>{0, 3, 5, 8}), times);
  const double expected[] = {2, 0, 1, 3};
  for (size_t i = 0; i < times.size(); i++) {
    EXPECT_EQ(expected[i], levels->getLowerBound(times[i])) << times[i];
    EXPECT_EQ(expected[i], levels->getUpperBound(times[i])) << times[i];
  }
  std::unique_ptr<ApResourceProfile> batteryLevels(as<MIRT::Resource>(battery)->getLevels());
  EXPECT_EQ(2.0, batteryLevels->getLowerBound(4));
  EXPECT_EQ(2.0, batteryLevels->getUpperBound(4));

  // An instant-based resource and its change tokens.
  world.read("<goal predicate='Resource.change' name='fill' object='tank' time='2' quantity='4'/>"
             "<goal predicate='Resource.change' name='draw' object='tank' time='6' quantity='-7'/>");
  ASSERT_TRUE(world.ce->propagate());
  VEXL::VexlResource* tank = as<VEXL::VexlResource>(world.db->getObject(LabelStr("tank")));
  EXPECT_EQ(2u, tank->tokens().size());
  IntervalDomain level;
  tank->getLevelAt(4, level);
  EXPECT_EQ(9.0, level.getLowerBound());
  EXPECT_EQ(9.0, level.getUpperBound());
  tank->getLevelAt(8, level);
  EXPECT_EQ(2.0, level.getUpperBound());

  // The interpreter's errors carry the binding's messages.
  Error e = failure([&]() { world.read("<new type='Unary' name='x'><float value='1'/><float value='2'/></new>"); });
  EXPECT_NE(std::string::npos, e.getMsg().find("unknown constructor signature")) << e.getMsg();
}

}
}
