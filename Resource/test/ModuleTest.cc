// The module object: what initialize registers where, what uninitialize takes back.

#include <gtest/gtest.h>

#include "Resource/test/ModuleTestSupport.hh"

#include "ConstraintEngine/base/CESchema.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/ResourcePropagator.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/MatchingEngine.hh"
#include "Utils/base/Factory.hh"

namespace KORVAN {
namespace MODULETEST {

namespace {

std::vector<std::string> memberNames(const Schema& schema, const char* parent) {
  std::vector<std::string> names;
  for (const Schema::NameTypePair& member : schema.getMembers(LabelStr(parent))) {
    EXPECT_EQ("float", member.second.toString()) << parent << "." << member.first.toString();
    names.push_back(member.first.toString());
  }
  return names;
}

}

TEST(ModuleResource, InitializeRegistersTheModuleVocabularyAndComponents) {
  ModuleWorld world;
  EXPECT_EQ("Resource", world.module->getName());
  const Schema& schema = *world.schema;

  const std::vector<std::string> levelMembers = {"initialCapacity", "levelLimitMin", "levelLimitMax",
                                                 "productionRateMax", "productionMax",
                                                 "consumptionRateMax", "consumptionMax"};
  EXPECT_EQ(levelMembers, memberNames(schema, "Resource"));
  EXPECT_EQ(levelMembers, memberNames(schema, "Reservoir"));
  // Declared in registration order.
  std::vector<std::string> moduleTypes;
  for (const LabelStr& type : schema.getObjectTypes())
    if (type.toString() != "Object")
      moduleTypes.push_back(type.toString());
  EXPECT_EQ((std::vector<std::string>{"Resource", "Reusable", "Reservoir", "Unary"}), moduleTypes);
  EXPECT_EQ((std::vector<std::string>{"capacity", "levelLimitMin", "consumptionMax", "consumptionRateMax"}),
            memberNames(schema, "Reusable"));
  EXPECT_EQ(std::vector<std::string>{"consumptionMax"}, memberNames(schema, "Unary"));

  const char* signatures[] = {"Resource", "Resource:float:float:float", "Resource:float:float:float:float:float",
                              "Resource:float:float:float:float:float:float:float", "Reusable", "Reusable:float:float", "Reusable:float:float:float",
                              "Reusable:float:float:float:float", "Reservoir", "Reservoir:float:float:float",
                              "Reservoir:float:float:float:float:float",
                              "Reservoir:float:float:float:float:float:float:float", "Unary", "Unary:float"};
  for (const char* signature : signatures)
    EXPECT_TRUE(schema.hasObjectFactory(LabelStr(signature))) << signature;
  EXPECT_FALSE(schema.hasObjectFactory(LabelStr("Unary:float:float")));

  for (const char* predicate : {"Resource.change", "Reusable.uses", "Reservoir.produce", "Reservoir.consume"}) {
    EXPECT_TRUE(schema.hasTokenFactory(LabelStr(predicate))) << predicate;
    EXPECT_EQ(std::vector<std::string>{"quantity"}, memberNames(schema, predicate));
  }
  EXPECT_TRUE(schema.hasTokenFactory(LabelStr("Unary.use")));
  EXPECT_TRUE(memberNames(schema, "Unary.use").empty());
  EXPECT_EQ(LabelStr("Reservoir"), schema.getObjectType(LabelStr("Reservoir.consume")));

  // Both propagators belong to the constraint engine; the rate-limit constraint is made by name.
  EXPECT_NE(nullptr, dynamic_cast<MIRT::ProfilePropagator*>(
                         static_cast<Propagator*>(world.ce->getPropagatorByName(LabelStr("MIRT_Resource")))));
  EXPECT_NE(nullptr, dynamic_cast<ResourcePropagator*>(
                         static_cast<Propagator*>(world.ce->getPropagatorByName(LabelStr("Resource")))));
  EXPECT_TRUE(world.ce->getCESchema()->isConstraintType(LabelStr("ResourceTransactionRelation")));

  const std::vector<std::pair<const char*, std::vector<const char*>>> factories = {
      {"ProfileFactoryMgr", {"TimetableProfile", "FlowProfile", "IncrementalFlowProfile"}},
      {"FVDetectorFactoryMgr", {"TimetableFVDetector", "ReusableFVDetector", "OpenWorldFVDetector", "ClosedWorldFVDetector"}},
      {"ComponentFactoryMgr", {"MIRTThreatManager", "MIRTThreatHandler", "ResourceThreat"}}};
  for (const auto& mgr : factories) {
    FactoryMgr* manager = dynamic_cast<FactoryMgr*>(world.engine.getComponent(mgr.first));
    ASSERT_NE(nullptr, manager) << mgr.first;
    for (const char* name : mgr.second)
      EXPECT_NE(nullptr, manager->getFactory(LabelStr(name))) << name;
  }
  SOLVERS::MatchFinderMgr* finders =
      dynamic_cast<SOLVERS::MatchFinderMgr*>(world.engine.getComponent("MatchFinderMgr"));
  EXPECT_TRUE(finders->getMatchFinder(LabelStr("MIRT_Instant")).isValid());

  // Native classes: the interpreter will not let a model redeclare them.
  for (const char* cls : {"Resource", "Reservoir", "Reusable", "Unary"})
    EXPECT_TRUE(world.interpreter->isNativeClass(cls)) << cls;
  for (const char* predicate : {"Resource.change", "Reservoir.produce", "Reservoir.consume", "Reusable.uses",
                                "Unary.use"})
    EXPECT_TRUE(world.interpreter->isNativePredicate(predicate)) << predicate;
  EXPECT_FALSE(world.interpreter->isNativePredicate("Reusable.use"));
}

TEST(ModuleResource, UninitializeTakesBackOnlyTheFactoryManagers) {
  ModuleWorld world;
  world.module->uninitialize(world.engine.getId());
  EXPECT_EQ(nullptr, world.engine.getComponent("ProfileFactoryMgr"));
  EXPECT_EQ(nullptr, world.engine.getComponent("FVDetectorFactoryMgr"));
  EXPECT_TRUE(world.schema->isObjectType(LabelStr("Reservoir")));
  EXPECT_TRUE(world.schema->hasObjectFactory(LabelStr("Unary:float")));
  EXPECT_TRUE(world.ce->getPropagatorByName(LabelStr("MIRT_Resource")).isValid());
  EXPECT_TRUE(world.interpreter->isNativeClass("Reservoir"));
  // A second uninitialize finds nothing to take back.
  world.module->uninitialize(world.engine.getId());
  world.module->initialize();
  EXPECT_EQ(nullptr, world.engine.getComponent("ProfileFactoryMgr"));
}

TEST(ModuleResource, EngineWithoutInterpreterOrWithoutComponents) {
  {
    ModuleWorld world(false);
    EXPECT_TRUE(world.schema->isObjectType(LabelStr("Unary")));
    EXPECT_NE(nullptr, world.engine.getComponent("ProfileFactoryMgr"));
  }
  {
    // Without engine the two plain operations change nothing.
    ModuleWorld world(true, false);
    world.module->initialize();
    EXPECT_FALSE(world.schema->isObjectType(LabelStr("Reservoir")));
    EXPECT_EQ(nullptr, world.engine.getComponent("ProfileFactoryMgr"));
  }
  {
    // A required component missing is a clear error, not a crash.
    Engine engine;
    ModuleResource module;
    Error e = failure([&]() { module.initialize(engine.getId()); });
    EXPECT_EQ("The resource module needs the engine component \"ConstraintEngine\" before it is initialised.",
              e.getMsg());
    ModuleWorld world(true, false);
    delete world.engine.removeComponent("MatchFinderMgr");
    e = failure([&]() { world.module->initialize(world.engine.getId()); });
    EXPECT_EQ("The resource module needs the engine component \"MatchFinderMgr\" before it is initialised.",
              e.getMsg());
    EXPECT_FALSE(world.schema->isObjectType(LabelStr("Reservoir")));
  }
}

}
}
