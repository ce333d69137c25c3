#include "PlanDatabase/base/EventToken.hh"

#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/TokenVariable.hh"

namespace KORVAN {

EventToken::EventToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                       bool rejectable, bool isFact, const IntervalIntDomain& timeBaseDomain,
                       const LabelStr& objectName, bool closed)
    : Token(planDatabase, predicateName, rejectable, isFact, objectName) {
  commonInit(timeBaseDomain, closed);
}

EventToken::EventToken(const TokenId& master, const LabelStr& relation,
                       const LabelStr& predicateName, const IntervalIntDomain& timeBaseDomain,
                       const LabelStr& objectName, bool closed)
    : Token(master, relation, predicateName, objectName) {
  commonInit(timeBaseDomain, closed);
}

EventToken::~EventToken() {}

void EventToken::commonInit(const IntervalIntDomain& timeBaseDomain, bool closed) {
  const ConstraintEngineId& ce = getPlanDatabase()->getConstraintEngine();
  TempVarId time = (new TokenVariable<IntervalIntDomain>(getId(), m_allVariables.size(), ce,
                                                         timeBaseDomain, false, true, "time"))
                       ->getId();
  appendVariable(time);
  TempVarId duration = (new TokenVariable<IntervalIntDomain>(getId(), m_allVariables.size(), ce,
                                                             IntervalIntDomain(0, 0), false, true,
                                                             "duration"))
                           ->getId();
  appendVariable(duration);
  finishConstruction(time, time, duration, closed);
}

} // namespace KORVAN
