#ifndef KORVAN_PLANDATABASE_TOKENVARIABLE_HH
#define KORVAN_PLANDATABASE_TOKENVARIABLE_HH

#include <memory>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

/// A variable owned by a token. Beyond Variable<DomainType> it takes part in merging: when
/// tokens are merged onto an active token, the variables at the same index correspond; the
/// active token's variable keeps an integrated base domain (its base domain narrowed by the base
/// domains of the corresponding merged variables) and derives its domain from it, while a merged
/// token's variable cannot be specified and only carries inactive constraints.
template <class DomainType>
class TokenVariable : public Variable<DomainType> {
public:
  TokenVariable(const TokenId& parent, int index, const ConstraintEngineId& constraintEngine,
                const AbstractDomain& baseDomain, bool internal = false,
                bool canBeSpecified = true,
                const LabelStr& name = ConstrainedVariable::NO_NAME());
  virtual ~TokenVariable();

  void specify(double singletonValue) override;
  void reset() override;
  void relax() override;
  void insert(double value) override;
  void remove(double value) override;
  void close() override;

  void handleBase(const AbstractDomain& domain) override;
  void handleSpecified(double value) override;
  void handleReset() override;
  void handleRestrictBaseDomain(const AbstractDomain& domain) override;

  const TokenId& getParentToken() const { return m_parentToken; }
  /// The base domain narrowed by the merged tokens' corresponding base domains.
  const DomainType& getIntegratedBaseDomain() const { return *m_integratedBaseDomain; }
  bool isLocallySpecified() const { return m_isLocallySpecified; }

private:
  void handleConstraintAdded(const ConstraintId& constraint) override;
  void handleConstraintRemoved(const ConstraintId& constraint) override;
  void handleUndoDeactivation(const ConstraintId& constraint) override;
  void handleConstraintActivityChanged(const ConstraintId& constraint) override;

  /// Raises when narrowing the base domain by `domain` would leave the merged tokens and the
  /// token they are merged onto without a common value, or fix this merged variable to a value
  /// other than the one the active token's variable is specified to.
  void checkIntegration(const AbstractDomain& domain) const;

  void setSpecified(double singletonValue);
  void resetSpecified();
  /// Recomputes the integrated base domain; true when a merged counterpart is specified, so the
  /// integrated value must stay specified.
  bool computeBaseDomain();
  /// Whether var, standing at this variable's index in a token to be merged onto the parent,
  /// leaves this variable a value: its base domain meets the integrated one.
  bool isCompatible(const ConstrainedVariableId& var) const;

  DomainType* m_integratedBaseDomain;
  bool m_isLocallySpecified;
  double m_localSpecifiedValue;
  TokenId m_parentToken;
};

template <class DomainType>
TokenVariable<DomainType>::TokenVariable(const TokenId& parent, int index,
                                         const ConstraintEngineId& constraintEngine,
                                         const AbstractDomain& baseDomain, bool internal,
                                         bool canBeSpecified, const LabelStr& name)
    : Variable<DomainType>(constraintEngine, baseDomain, internal, canBeSpecified, name,
                           EntityId(parent), index),
      m_integratedBaseDomain(static_cast<DomainType*>(baseDomain.copy())),
      m_isLocallySpecified(false), m_localSpecifiedValue(0.0), m_parentToken(parent) {
  // A failed check ends construction: the third copy must not leak.
  if (!m_parentToken.isValid() || this->getIndex() < 0) {
    delete m_integratedBaseDomain;
    m_integratedBaseDomain = 0;
  }
  check_error(m_parentToken.isValid());
  check_error(this->getIndex() >= 0);
}

template <class DomainType>
TokenVariable<DomainType>::~TokenVariable() {
  if (m_integratedBaseDomain != 0)
    delete m_integratedBaseDomain;
}

template <class DomainType>
void TokenVariable<DomainType>::specify(double singletonValue) {
  check_error(this->canBeSpecified());
  setSpecified(singletonValue);
}

template <class DomainType>
void TokenVariable<DomainType>::reset() {
  check_error(this->canBeSpecified());
  resetSpecified();
}

template <class DomainType>
void TokenVariable<DomainType>::relax() {
  ConstrainedVariable::relax();
  this->m_derivedDomain->intersect(*m_integratedBaseDomain);
}

template <class DomainType>
void TokenVariable<DomainType>::insert(double value) {
  ConstrainedVariable::insert(value);
  m_integratedBaseDomain->insert(value);
}

template <class DomainType>
void TokenVariable<DomainType>::remove(double value) {
  ConstrainedVariable::remove(value);
  if (m_integratedBaseDomain->isMember(value))
    m_integratedBaseDomain->remove(value);
}

template <class DomainType>
void TokenVariable<DomainType>::close() {
  ConstrainedVariable::close();
  m_integratedBaseDomain->close();
}

template <class DomainType>
void TokenVariable<DomainType>::handleBase(const AbstractDomain& domain) {
  this->getConstraintEngine()->noteNotRelaxed();
  m_integratedBaseDomain->intersect(domain);
  this->m_derivedDomain->intersect(domain);
}

template <class DomainType>
void TokenVariable<DomainType>::handleSpecified(double value) {
  check_error(this->m_parentToken->isActive());
  checkError(this->lastDomain().isMember(value), value << " is not in " << this->toString());
  if (!this->isSpecified())
    ConstrainedVariable::specify(value);
}

template <class DomainType>
void TokenVariable<DomainType>::handleReset() {
  this->getConstraintEngine()->noteNotRelaxed();
  if (computeBaseDomain() || m_isLocallySpecified)
    return;
  if (this->isSpecified()) {
    ConstrainedVariable::reset(*m_integratedBaseDomain);
    return;
  }
  this->m_derivedDomain->relax(*this->m_baseDomain);
  this->m_derivedDomain->intersect(*m_integratedBaseDomain);
}

template <class DomainType>
void TokenVariable<DomainType>::handleRestrictBaseDomain(const AbstractDomain& domain) {
  const bool merging = this->getIndex() > 0 && m_parentToken.isValid() &&
                       (m_parentToken->isMerged() || !m_parentToken->getMergedTokens().empty());
  if (merging)
    checkIntegration(domain);
  const bool wasSpecified = this->isSpecified();
  Variable<DomainType>::handleRestrictBaseDomain(domain);
  if (m_integratedBaseDomain->isOpen() && domain.isClosed())
    m_integratedBaseDomain->close();
  m_integratedBaseDomain->intersect(domain);
  if (!merging || !m_parentToken->isMerged())
    return;
  // The active token integrates this base domain, and the value it fixes, at once.
  Id<TokenVariable<DomainType>> active(m_parentToken->getActiveToken()->getVariables()[this->getIndex()]);
  active->handleBase(*this->m_baseDomain);
  if (!wasSpecified && this->isSpecified() && !active->isSpecified())
    active->ConstrainedVariable::specify(this->getSpecifiedValue());
}

template <class DomainType>
void TokenVariable<DomainType>::checkIntegration(const AbstractDomain& domain) const {
  const int index = this->getIndex();
  const TokenId& activeToken = m_parentToken->isMerged() ? m_parentToken->getActiveToken() : m_parentToken;
  Id<TokenVariable<DomainType>> active(activeToken->getVariables()[index]);
  std::unique_ptr<AbstractDomain> mine(this->m_baseDomain->copy());
  if (mine->isOpen() && domain.isClosed())
    mine->close();
  mine->intersect(domain);
  std::unique_ptr<AbstractDomain> integrated(active == this->getId() ? mine->copy() : active->baseDomain().copy());
  bool leftEmpty = false;
  for (const TokenId& merged : activeToken->getMergedTokens()) {
    const ConstrainedVariableId& var = merged->getVariables()[index];
    const AbstractDomain& base = var == this->getId() ? *mine : var->baseDomain();
    integrated->intersect(base);
    leftEmpty = leftEmpty || (base.isClosed() && integrated->isEmpty());
  }
  checkError(!leftEmpty, "Cannot restrict " << this->toString() << " to " << domain.toString() << ": "
                         << activeToken->toString() << " and the tokens merged onto it would have no value in common.");
  // A base domain fixed already is not fixed again: restating it changes nothing and is not refused.
  if (m_parentToken->isMerged() && !this->isSpecified() && !this->m_baseDomain->isSingleton() && mine->isClosed() &&
      mine->isSingleton() && active->isSpecified())
    checkError(active->getSpecifiedValue() == mine->getSingletonValue(),
               "Cannot restrict " << this->toString() << " to " << domain.toString() << ": it would fix it to "
                                  << this->toString(mine->getSingletonValue()) << " where "
                                  << active->toString() << " is specified.");
}

template <class DomainType>
void TokenVariable<DomainType>::handleConstraintAdded(const ConstraintId& constraint) {
  check_error(!this->m_parentToken->isRejected());
  if (this->m_parentToken->isMerged()) {
    check_error(!constraint->isActive(), "Constraint should be inactive if it is on a merged token.");
    this->m_parentToken->handleAdditionOfInactiveConstraint(constraint);
  }
}

template <class DomainType>
void TokenVariable<DomainType>::handleConstraintRemoved(const ConstraintId& constraint) {
  if (this->m_parentToken->isMerged() && !constraint->isActive())
    this->m_parentToken->handleRemovalOfInactiveConstraint(constraint);
}

template <class DomainType>
void TokenVariable<DomainType>::handleUndoDeactivation(const ConstraintId& constraint) {
  if (this->m_parentToken->isMerged())
    this->m_parentToken->handleUndoDeactivation(constraint);
}

template <class DomainType>
void TokenVariable<DomainType>::handleConstraintActivityChanged(const ConstraintId& constraint) {
  if (this->m_parentToken->isMerged())
    this->m_parentToken->handleConstraintActivityChanged(constraint);
}

template <class DomainType>
void TokenVariable<DomainType>::setSpecified(double singletonValue) {
  this->getConstraintEngine()->noteNotRelaxed();
  check_error(this->m_parentToken.isValid());
  checkError(!this->m_parentToken->isMerged(), "Attempted to specify " << this->toString()
                                                   << " of merged token "
                                                   << this->m_parentToken->toString() << ". ");
  ConstrainedVariable::internalSpecify(singletonValue);
  m_isLocallySpecified = true;
  m_localSpecifiedValue = singletonValue;
}

template <class DomainType>
void TokenVariable<DomainType>::resetSpecified() {
  this->getConstraintEngine()->noteNotRelaxed();
  m_isLocallySpecified = false;
  if (!computeBaseDomain())
    ConstrainedVariable::reset(*m_integratedBaseDomain);
  if (this->m_parentToken->isMerged()) {
    check_error(this->m_parentToken->getActiveToken().isValid());
    this->m_parentToken->getActiveToken()->getVariables()[this->getIndex()]->handleReset();
  }
}

template <class DomainType>
bool TokenVariable<DomainType>::isCompatible(const ConstrainedVariableId& var) const {
  check_error(var.isValid());
  return m_integratedBaseDomain->intersects(var->baseDomain());
}

template <class DomainType>
bool TokenVariable<DomainType>::computeBaseDomain() {
  this->getConstraintEngine()->noteNotRelaxed();
  m_integratedBaseDomain->relax(*this->m_baseDomain);
  bool shouldBeSpecified = false;
  double specifiedValue = 0.0;
  const TokenSet& mergedTokens = m_parentToken->getMergedTokens();
  for (TokenSet::const_iterator it = mergedTokens.begin(); it != mergedTokens.end(); ++it) {
    TokenId mergedToken = *it;
    check_error(mergedToken->isMerged());
    check_error(mergedToken->getActiveToken() == this->m_parentToken);
    check_error(mergedToken->getVariables().size() == this->m_parentToken->getVariables().size());
    Id<TokenVariable<DomainType>> var(mergedToken->getVariables()[this->getIndex()]);
    m_integratedBaseDomain->intersect(var->baseDomain());
    checkError(var->baseDomain().isOpen() || !this->m_integratedBaseDomain->isEmpty(),
               var->toString() << " cannot merge.");
    // The value it is specified to, not its domain: a base restriction may have emptied that.
    if (var->isSpecified()) {
      if (var->lastDomain().isSingleton())
        checkError(!shouldBeSpecified || specifiedValue == var->lastDomain().getSingletonValue(), var->toString());
      else
        checkError(!shouldBeSpecified || specifiedValue == var->getSpecifiedValue(), var->toString());
      if (!shouldBeSpecified) {
        shouldBeSpecified = true;
        specifiedValue = var->getSpecifiedValue();
      }
    }
  }
  return shouldBeSpecified;
}

} // namespace KORVAN

#endif
