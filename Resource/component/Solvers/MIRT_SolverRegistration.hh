#ifndef KORVAN_MIRT_SOLVERREGISTRATION_HH
#define KORVAN_MIRT_SOLVERREGISTRATION_HH

#include "Utils/base/Engine.hh"

namespace KORVAN {
namespace MIRT {

// Registers the module's solver components with the engine's
// "ComponentFactoryMgr" ("MIRTThreatManager", "MIRTThreatHandler",
// "ResourceThreat"; names already registered are left alone) and the instant
// match finder with its "MatchFinderMgr" under "MIRT_Instant". Both
// components must be in the engine.
void registerResourceSolverComponents(const EngineId& engine);

}
}

#endif
