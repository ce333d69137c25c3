#include "Resource/component/Solvers/MIRT_SolverRegistration.hh"
#include "Resource/component/Solvers/MIRT_InstantMatching.hh"
#include "Resource/component/Solvers/MIRT_ThreatDecisionPoint.hh"
#include "Resource/component/Solvers/MIRT_ThreatManager.hh"
#include "Resource/component/Solvers/ResourceThreatDecisionPoint.hh"
#include "PlanDatabase/base/Token.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/FlawHandler.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace MIRT {

namespace {

template <class ComponentType>
void registerComponent(SOLVERS::ComponentFactoryMgr& factories, const char* name) {
  if (factories.getFactory(LabelStr(name)) == NULL)
    factories.registerFactory(new SOLVERS::ComponentFactory<ComponentType>(LabelStr(name)));
}

}

void registerResourceSolverComponents(const EngineId& engine) {
  check_error(engine.isValid(), "Registering the resource solver components needs a valid engine.");
  SOLVERS::ComponentFactoryMgr* factories =
    dynamic_cast<SOLVERS::ComponentFactoryMgr*>(engine->getComponent(SOLVERS::ComponentFactoryMgr::name()));
  check_error(factories != NULL, "The engine has no \"ComponentFactoryMgr\" for the resource solver components.");
  SOLVERS::MatchFinderMgr* finders =
    dynamic_cast<SOLVERS::MatchFinderMgr*>(engine->getComponent(SOLVERS::MatchFinderMgr::name()));
  check_error(finders != NULL, "The engine has no \"MatchFinderMgr\" for the instant match finder.");

  registerComponent<ThreatManager>(*factories, "MIRTThreatManager");
  registerComponent<SOLVERS::ConcreteFlawHandler<ThreatDecisionPoint>>(*factories, "MIRTThreatHandler");
  registerComponent<SOLVERS::ConcreteFlawHandler<SOLVERS::ResourceThreatDecisionPoint>>(*factories, "ResourceThreat");
  // The name first: the finder is handed over as soon as it is made.
  const LabelStr& instants = Instant::entityTypeName();
  finders->addMatchFinder(instants, (new SOLVERS::InstantMatchFinder())->getId());
}

}
}
