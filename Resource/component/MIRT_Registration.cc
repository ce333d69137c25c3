#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/MIRT_ClosedWorldFVDetector.hh"
#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/component/MIRT_ReusableFVDetector.hh"
#include "Resource/component/MIRT_TimetableFVDetector.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Factory.hh"

namespace KORVAN {
namespace MIRT {

namespace {
const char* const PROFILE_MGR = "ProfileFactoryMgr";
const char* const DETECTOR_MGR = "FVDetectorFactoryMgr";

FactoryMgr* findOrAdd(Engine& engine, const char* name) {
  EngineComponent* component = engine.getComponent(name);
  if (component == nullptr) {
    // The name first: the manager is the engine's as soon as it is made.
    const std::string key(name);
    FactoryMgr* mgr = new FactoryMgr();
    engine.addComponent(key, mgr);
    return mgr;
  }
  FactoryMgr* mgr = dynamic_cast<FactoryMgr*>(component);
  checkError(mgr != nullptr, "The engine component \"" << name << "\" is not a factory manager.");
  return mgr;
}

void release(Engine& engine, const char* name) {
  EngineComponent* component = engine.removeComponent(name);
  delete component;
}
}

void registerProfilesAndDetectors(Engine& engine) {
  FactoryMgr* profiles = findOrAdd(engine, PROFILE_MGR);
  profiles->registerFactory(new ProfileFactory<TimetableProfile>("TimetableProfile"));
  profiles->registerFactory(new ProfileFactory<FlowProfile>("FlowProfile"));
  profiles->registerFactory(new ProfileFactory<IncrementalFlowProfile>("IncrementalFlowProfile"));
  FactoryMgr* detectors = findOrAdd(engine, DETECTOR_MGR);
  detectors->registerFactory(new FVDetectorFactory<TimetableFVDetector>("TimetableFVDetector"));
  detectors->registerFactory(new FVDetectorFactory<ReusableFVDetector>("ReusableFVDetector"));
  detectors->registerFactory(new FVDetectorFactory<OpenWorldFVDetector>("OpenWorldFVDetector"));
  detectors->registerFactory(new FVDetectorFactory<ClosedWorldFVDetector>("ClosedWorldFVDetector"));
}

void unregisterProfilesAndDetectors(Engine& engine) {
  release(engine, PROFILE_MGR);
  release(engine, DETECTOR_MGR);
}

FactoryMgr* getProfileFactoryMgr(const Engine& engine) {
  return dynamic_cast<FactoryMgr*>(engine.getComponent(PROFILE_MGR));
}

FactoryMgr* getFVDetectorFactoryMgr(const Engine& engine) {
  return dynamic_cast<FactoryMgr*>(engine.getComponent(DETECTOR_MGR));
}

}
}
