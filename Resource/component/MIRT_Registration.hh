#ifndef KORVAN_MIRT_REGISTRATION_HH
#define KORVAN_MIRT_REGISTRATION_HH

namespace KORVAN {

class Engine;
class FactoryMgr;

namespace MIRT {

// Adds the engine components "ProfileFactoryMgr" and "FVDetectorFactoryMgr"
// (each added before its factories are registered; an existing one is used as
// it is) and registers "TimetableProfile", "TimetableFVDetector" and
// "ReusableFVDetector" with them.
void registerProfilesAndDetectors(Engine& engine);

// Removes both managers from the engine and deletes them with their factories.
void unregisterProfilesAndDetectors(Engine& engine);

// The two managers, or null while they are not in the engine.
FactoryMgr* getProfileFactoryMgr(const Engine& engine);
FactoryMgr* getFVDetectorFactoryMgr(const Engine& engine);

}
}

#endif
