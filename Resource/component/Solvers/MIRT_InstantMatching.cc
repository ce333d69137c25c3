#include "Resource/component/Solvers/MIRT_InstantMatching.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

template <>
void MatchingEngine::getMatchesInternal<MIRT::InstantId>(const MIRT::InstantId& inst,
                                                         std::vector<MatchingRuleId>& results) {
  const Id<MIRT::Resource>& res = inst->getProfile()->getResource();
  debugMsg("MatchingEngine:getMatchesInternal",
           "Triggering matches for object types (" << res->getType().toString() << ")");
  const std::vector<LabelStr> types = res->getPlanDatabase()->getSchema()->getAllObjectTypes(res->getType());
  trigger(types, m_rulesByObjectType, results);
}

void InstantMatchFinder::getMatches(const MatchingEngineId& engine, const EntityId& entity,
                                    std::vector<MatchingRuleId>& results) {
  MIRT::InstantId inst(entity);
  engine->getMatches(inst, results);
}

}
}
