#ifndef KORVAN_CE_VARIABLE_HH
#define KORVAN_CE_VARIABLE_HH

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

/// A constrained variable whose two domains are of one concrete domain class: the base domain
/// and the derived domain, separate copies of the domain given at construction. Only the derived
/// copy reports its changes to the engine.
template <class DomainType>
class Variable : public ConstrainedVariable {
public:
  Variable(const ConstraintEngineId& constraintEngine, const AbstractDomain& baseDomain,
           bool internal = false, bool canBeSpecified = true, const LabelStr& name = NO_NAME(),
           const EntityId& parent = EntityId::noId(), int index = NO_INDEX);
  virtual ~Variable();

  const AbstractDomain& baseDomain() const override;
  const AbstractDomain& lastDomain() const override;
  const AbstractDomain& derivedDomain() override;

  /// The derived domain brought up to date, or the shared empty domain of this class when the
  /// variable is proven inconsistent.
  const DomainType& getDerivedDomain();
  const DomainType& getBaseDomain() const { return *m_baseDomain; }
  const DomainType& getLastDomain() const { return *m_derivedDomain; }

protected:
  AbstractDomain& internal_baseDomain() override { return *m_baseDomain; }
  void handleRestrictBaseDomain(const AbstractDomain& newBaseDomain) override;

  DomainType* m_baseDomain;
  DomainType* m_derivedDomain;

private:
  Variable(const Variable&);
  AbstractDomain& getCurrentDomain() override;
};

template <class DomainType>
Variable<DomainType>::Variable(const ConstraintEngineId& constraintEngine,
                               const AbstractDomain& baseDomain, bool internal, bool canBeSpecified,
                               const LabelStr& name, const EntityId& parent, int index)
    : ConstrainedVariable(constraintEngine, internal, canBeSpecified, name, parent, index),
      m_baseDomain(0), m_derivedDomain(0) {
  // Written before the domains are made: a failed line leaves nothing of this variable behind.
  debugMsg("Variable:Variable", "Base Domain = " << baseDomain.toString());
  debugMsg("Variable:Variable", "Name " << name.getKey());
  condDebugMsg(baseDomain.isSingleton(), "Variable:Variable",
               "Base domain singleton; " << baseDomain.getSingletonValue());
  m_baseDomain = static_cast<DomainType*>(baseDomain.copy());
  m_derivedDomain = static_cast<DomainType*>(baseDomain.copy());
  m_derivedDomain->setListener(getDomainListener());
}

template <class DomainType>
Variable<DomainType>::~Variable() {
  DebugMessage::Teardown quiet;
  // Constraints and listeners may still read this variable while it leaves the engine.
  detachFromEngine();
  if (m_baseDomain != 0)
    delete m_baseDomain;
  if (m_derivedDomain != 0)
    delete m_derivedDomain;
}

template <class DomainType>
const AbstractDomain& Variable<DomainType>::baseDomain() const {
  check_error(validate());
  return *m_baseDomain;
}

template <class DomainType>
const AbstractDomain& Variable<DomainType>::lastDomain() const {
  check_error(validate());
  return *m_derivedDomain;
}

template <class DomainType>
const AbstractDomain& Variable<DomainType>::derivedDomain() {
  check_error(validate());
  return getDerivedDomain();
}

template <class DomainType>
const DomainType& Variable<DomainType>::getDerivedDomain() {
  if (!getConstraintEngine()->isPropagating() && pending())
    update();
  if (provenInconsistent()) {
    static bool sl_initialized = false;
    static DomainType* sl_emptyDomain = 0;
    if (!sl_initialized) {
      sl_emptyDomain = static_cast<DomainType*>(m_derivedDomain->copy());
      if (sl_emptyDomain->isOpen())
        sl_emptyDomain->close();
      sl_emptyDomain->empty();
      sl_initialized = true;
    }
    return *sl_emptyDomain;
  }
  return *m_derivedDomain;
}

template <class DomainType>
AbstractDomain& Variable<DomainType>::getCurrentDomain() {
  check_error(validate());
  return *m_derivedDomain;
}

template <class DomainType>
void Variable<DomainType>::handleRestrictBaseDomain(const AbstractDomain& newBaseDomain) {
  check_error(validate());
  if (newBaseDomain.isClosed() && m_baseDomain->isOpen())
    m_baseDomain->close();
  if (!m_baseDomain->intersect(newBaseDomain))
    return;
  m_derivedDomain->intersect(*m_baseDomain);
  if (m_baseDomain->isClosed() && m_baseDomain->isSingleton() && !isSpecified())
    internalSpecify(m_baseDomain->getSingletonValue());
}

} // namespace KORVAN

#endif
