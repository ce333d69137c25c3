#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

namespace {
IntervalDomain anyQuantity() {
  return IntervalDomain(0.0, g_infiniteTimeAsDouble());
}
IntervalDomain unitQuantity() {
  return IntervalDomain(1.0, 1.0);
}
}

ReusableToken::ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain, const IntervalDomain& quantityBaseDomain,
                             const LabelStr& objectName, bool closed, bool activate)
  : IntervalToken(TokenSupport::checkQuantityBaseDomain(planDatabase, quantityBaseDomain), predicateName, false,
                  false, startBaseDomain, endBaseDomain, durationBaseDomain, objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, quantityBaseDomain);
}

ReusableToken::ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                             bool activate)
  : IntervalToken(planDatabase, predicateName, false, false, startBaseDomain, endBaseDomain, durationBaseDomain,
                  objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, anyQuantity());
}

ReusableToken::ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                             bool isFact, const IntervalIntDomain& startBaseDomain,
                             const IntervalIntDomain& endBaseDomain, const IntervalIntDomain& durationBaseDomain,
                             const IntervalDomain& quantityBaseDomain, const LabelStr& objectName, bool closed,
                             bool activate)
  : IntervalToken(TokenSupport::checkQuantityBaseDomain(planDatabase, quantityBaseDomain), predicateName, rejectable,
                  isFact, startBaseDomain, endBaseDomain, durationBaseDomain, objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, quantityBaseDomain);
}

ReusableToken::ReusableToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                             bool isFact, const IntervalIntDomain& startBaseDomain,
                             const IntervalIntDomain& endBaseDomain, const IntervalIntDomain& durationBaseDomain,
                             const LabelStr& objectName, bool closed, bool activate)
  : IntervalToken(planDatabase, predicateName, rejectable, isFact, startBaseDomain, endBaseDomain,
                  durationBaseDomain, objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, anyQuantity());
}

ReusableToken::ReusableToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain, const IntervalDomain& quantityBaseDomain,
                             const LabelStr& objectName, bool closed, bool activate)
  : IntervalToken(master, relation, predicateName, startBaseDomain, endBaseDomain, durationBaseDomain,
                  objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, quantityBaseDomain);
}

ReusableToken::ReusableToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                             const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                             const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                             bool activate)
  : IntervalToken(master, relation, predicateName, startBaseDomain, endBaseDomain, durationBaseDomain,
                  objectName, false),
    m_quantity(), m_activate(false) {
  commonInit(closed, activate, anyQuantity());
}

ReusableToken::~ReusableToken() {}

void ReusableToken::commonInit(bool closed, bool activate, const IntervalDomain& quantityBaseDomain) {
  m_activate = activate;
  TokenSupport::initResourceToken(*this, activate, quantityBaseDomain, m_quantity);
  if (closed)
    close();
}

void ReusableToken::close() {
  Token::close();
  if (m_activate)
    activateInternal();
}

UnaryToken::UnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName,
                       const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                       const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                       bool activate)
  : ReusableToken(planDatabase, predicateName, startBaseDomain, endBaseDomain, durationBaseDomain,
                  unitQuantity(), objectName, closed, activate) {}

UnaryToken::UnaryToken(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
                       bool isFact, const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                       const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                       bool activate)
  : ReusableToken(planDatabase, predicateName, rejectable, isFact, startBaseDomain, endBaseDomain,
                  durationBaseDomain, unitQuantity(), objectName, closed, activate) {}

UnaryToken::UnaryToken(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
                       const IntervalIntDomain& startBaseDomain, const IntervalIntDomain& endBaseDomain,
                       const IntervalIntDomain& durationBaseDomain, const LabelStr& objectName, bool closed,
                       bool activate)
  : ReusableToken(master, relation, predicateName, startBaseDomain, endBaseDomain, durationBaseDomain,
                  unitQuantity(), objectName, closed, activate) {}

UnaryToken::~UnaryToken() {}

}
}
