// The module object: what uninitialize takes back, and initialisation without the engine or
// the components it needs. What initialize registers is used by every model the tests read.

#include <gtest/gtest.h>

#include <sstream>

#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/test/ModuleTestSupport.hh"

#include "Solvers/base/Component.hh"

namespace KORVAN {
namespace MODULETEST {

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

// A purge drops each resource's profile whole while its tokens are still there, some of them
// flawed and one violated (the network inconsistent): nothing of the plan stays in the engine,
// which propagates consistently again.
TEST(ModuleResource, PurgeLeavesNothingOfThePlan) {
  ModuleWorld world;
  const std::string model =
      "<vexl><new type=\"Reusable\" name=\"crew\"><float value=\"2\"/><float value=\"0\"/></new>"
      "<new type=\"Reservoir\" name=\"tank\"><float value=\"5\"/><float value=\"0\"/><float value=\"10\"/></new>"
      "<new type=\"Unary\" name=\"arm\"/><close/>"
      "<goal predicate=\"Reusable.uses\" name=\"a\" object=\"crew\" start=\"0 10\" duration=\"5\" quantity=\"2\"/>"
      "<goal predicate=\"Reusable.uses\" name=\"b\" object=\"crew\" start=\"0 10\" duration=\"5\" quantity=\"1\"/>"
      "<goal predicate=\"Unary.use\" name=\"c\" object=\"arm\" start=\"0 3\" duration=\"4\"/>"
      "<goal predicate=\"Unary.use\" name=\"d\" object=\"arm\" start=\"0 3\" duration=\"4\"/>"
      "<goal predicate=\"Reservoir.consume\" name=\"e\" object=\"tank\" time=\"0 20\" quantity=\"8\"/>"
      "<constraint name=\"precedes\" scope=\"a.end e.time\"/></vexl>";
  auto envelopes = [&]() {
    std::istringstream in(model);
    world.interpreter->interpret(in, "model.xml");
    std::ostringstream os;
    os << (world.ce->propagate() ? "consistent" : "inconsistent") << "\n";
    std::list<Id<MIRT::Resource>> resources;
    world.db->getObjectsByType(LabelStr("Object"), resources);
    for (const Id<MIRT::Resource>& resource : resources) {
      std::vector<MIRT::InstantId> flawed;
      resource->getFlawedInstants(flawed);
      os << resource->getName().toString() << " flawed " << flawed.size() << ":";
      for (MIRT::ProfileIterator it(resource->getProfile(), -1000, 1000); !it.done(); it.next())
        os << " " << it.getTime() << " [" << it.getLowerBound() << " " << it.getUpperBound() << "]";
      os << "\n";
    }
    return os.str();
  };
  const std::size_t variables = world.ce->getVariables().size();
  const std::string first = envelopes();
  EXPECT_EQ("inconsistent\n"
            "crew flawed 3: 0 [-1 2] 5 [-1 2] 10 [-1 2] 15 [2 2]\n"
            "tank flawed 0: 5 [-3 5] 20 [-3 -3]\n"
            "arm flawed 1: 0 [-1 1] 3 [-1 -1] 4 [0 0] 7 [0 0]\n",
            first);
  world.db->purge();
  EXPECT_TRUE(world.db->getObjects().empty());
  EXPECT_TRUE(world.ce->getConstraints().empty());
  EXPECT_EQ(variables, world.ce->getVariables().size());
  EXPECT_TRUE(world.ce->propagate());
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
