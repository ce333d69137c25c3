#include "PlanDatabase/base/IntervalToken.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/TokenVariable.hh"

namespace KORVAN {

IntervalToken::IntervalToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                             bool rejectable, bool isFact, const IntervalIntDomain& startBaseDomain,
                             const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain,
                             const LabelStr& objectName, bool closed)
    : Token(planDatabase, predicateName, rejectable, isFact, objectName) {
  commonInit(startBaseDomain, endBaseDomain, durationBaseDomain, closed);
}

IntervalToken::IntervalToken(const TokenId& master, const LabelStr& relation,
                             const LabelStr& predicateName, const IntervalIntDomain& startBaseDomain,
                             const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain,
                             const LabelStr& objectName, bool closed)
    : Token(master, relation, predicateName, objectName) {
  commonInit(startBaseDomain, endBaseDomain, durationBaseDomain, closed);
}

IntervalToken::~IntervalToken() {}

void IntervalToken::commonInit(const IntervalIntDomain& startBaseDomain,
                               const IntervalIntDomain& endBaseDomain,
                               const IntervalIntDomain& durationBaseDomain, bool closed) {
  const ConstraintEngineId& ce = getPlanDatabase()->getConstraintEngine();
  TempVarId start = (new TokenVariable<IntervalIntDomain>(getId(), m_allVariables.size(), ce,
                                                          startBaseDomain, false, true, "start"))
                        ->getId();
  appendVariable(start);
  TempVarId end = (new TokenVariable<IntervalIntDomain>(getId(), m_allVariables.size(), ce,
                                                        endBaseDomain, false, true, "end"))
                      ->getId();
  appendVariable(end);
  TempVarId duration = (new TokenVariable<IntervalIntDomain>(getId(), m_allVariables.size(), ce,
                                                             durationBaseDomain, false, true,
                                                             "duration"))
                           ->getId();
  appendVariable(duration);
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(start);
  scope.push_back(duration);
  scope.push_back(end);
  addStandardConstraint(ce->createConstraint(DURATION_RELATION(), scope));
  finishConstruction(start, end, duration, closed);
}

} // namespace KORVAN
