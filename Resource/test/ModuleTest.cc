// The module object: what uninitialize takes back, and initialisation without the engine or
// the components it needs. What initialize registers is used by every model the tests read.

#include <gtest/gtest.h>

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
