#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

namespace TokenSupport {

const PlanDatabaseId& checkQuantityBaseDomain(const PlanDatabaseId& planDatabase,
                                              const IntervalDomain& quantityBaseDomain) {
  const double PLUS_INFINITY = g_infiniteTimeAsDouble();
  check_error(quantityBaseDomain.getLowerBound() >= 0 && quantityBaseDomain.getUpperBound() <= PLUS_INFINITY);
  return planDatabase;
}

void initResourceToken(Token& token, bool activate, const IntervalDomain& quantityBaseDomain,
                       ConstrainedVariableId& quantity) {
  if (activate) {
    StateDomain activeOnly(LabelStr("States"));
    activeOnly.insert(Token::ACTIVE.getKey());
    token.getState()->restrictBaseDomain(activeOnly);
  }
  const ConstraintEngineId& ce = token.getPlanDatabase()->getConstraintEngine();
  // Set before the constraint exists: it may hand the token over at once.
  quantity =
      (new TokenVariable<IntervalDomain>(token.getId(), (int) token.getVariables().size(), ce,
                                         quantityBaseDomain, false, true, "quantity"))->getId();
  token.appendVariable(quantity);
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(token.getState());
  scope.push_back(token.getObject());
  token.addStandardConstraint((new ResourceTokenRelation(ce, scope, token.getId()))->getId());
}

}

ReservoirToken::ReservoirToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                               const IntervalIntDomain& timeBaseDomain, const IntervalDomain& quantityBaseDomain,
                               bool isConsumer, bool closed, bool activate)
  : EventToken(TokenSupport::checkQuantityBaseDomain(planDatabase, quantityBaseDomain), predicateName, false, false,
               timeBaseDomain, Token::noObject(), false),
    m_quantity(), m_isConsumer(isConsumer), m_activate(false) {
  commonInit(closed, activate, quantityBaseDomain);
}

ReservoirToken::ReservoirToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                               bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                               bool isConsumer, bool closed, bool activate)
  : EventToken(planDatabase, predicateName, rejectable, isFact, timeBaseDomain, objectName, false),
    m_quantity(), m_isConsumer(isConsumer), m_activate(false) {
  commonInit(closed, activate, IntervalDomain(0.0, g_infiniteTimeAsDouble()));
}

ReservoirToken::ReservoirToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                               const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                               bool isConsumer, bool closed, bool activate)
  : EventToken(parent, relation, predicateName, timeBaseDomain, objectName, false),
    m_quantity(), m_isConsumer(isConsumer), m_activate(false) {
  commonInit(closed, activate, IntervalDomain(0.0, g_infiniteTimeAsDouble()));
}

ReservoirToken::~ReservoirToken() {}

void ReservoirToken::commonInit(bool closed, bool activate, const IntervalDomain& quantityBaseDomain) {
  m_activate = activate;
  TokenSupport::initResourceToken(*this, activate, quantityBaseDomain, m_quantity);
  if (closed)
    close();
}

void ReservoirToken::close() {
  Token::close();
  if (m_activate)
    activateInternal();
}

ProducerToken::ProducerToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                             bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                             bool closed, bool activate)
  : ReservoirToken(planDatabase, predicateName, rejectable, isFact, timeBaseDomain, objectName, false, closed,
                   activate) {}

ProducerToken::ProducerToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                             const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed,
                             bool activate)
  : ReservoirToken(parent, relation, predicateName, timeBaseDomain, objectName, false, closed, activate) {}

ProducerToken::~ProducerToken() {}

ConsumerToken::ConsumerToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                             bool isFact, const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName,
                             bool closed, bool activate)
  : ReservoirToken(planDatabase, predicateName, rejectable, isFact, timeBaseDomain, objectName, true, closed,
                   activate) {}

ConsumerToken::ConsumerToken(const TokenId& parent, const LabelStr& relation, const LabelStr& predicateName,
                             const IntervalIntDomain& timeBaseDomain, const LabelStr& objectName, bool closed,
                             bool activate)
  : ReservoirToken(parent, relation, predicateName, timeBaseDomain, objectName, true, closed, activate) {}

ConsumerToken::~ConsumerToken() {}

}
}
