#ifndef KORVAN_CE_CONSTRAINEDVARIABLE_HH
#define KORVAN_CE_CONSTRAINEDVARIABLE_HH

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/DomainListener.hh"
#include "Utils/base/ApEntity.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// Watches one variable: told of each constraint added to or removed from it (with the variable's
/// position in the constraint's scope) and of the variable's discard. A listener may delete
/// itself, or other listeners of the same variable, from within any callback. Deleting a listener
/// detaches it; after notifyDiscard() the listener is detached and getVariable() is empty.
class ConstrainedVariableListener {
public:
  explicit ConstrainedVariableListener(const ConstrainedVariableId& var);
  virtual ~ConstrainedVariableListener();

  const ConstrainedVariableListenerId& getId() const { return m_id; }
  const ConstrainedVariableId& getVariable() const { return m_var; }

  virtual void notifyDiscard() {}
  virtual void notifyConstraintAdded(const ConstraintId& /*constr*/, int /*argIndex*/) {}
  virtual void notifyConstraintRemoved(const ConstraintId& /*constr*/, int /*argIndex*/) {}

private:
  friend class ConstrainedVariable;
  ConstrainedVariableListener(const ConstrainedVariableListener&) = delete;
  ConstrainedVariableListener& operator=(const ConstrainedVariableListener&) = delete;

  ConstrainedVariableListenerId m_id;
  ConstrainedVariableId m_var;
};

/// A variable of the constraint network: a base domain (the widest set of values it may take),
/// a derived domain (what propagation left of it, read through lastDomain() and derivedDomain()),
/// an optional specified value, and the constraints over it. Subclasses own the two domains
/// (Variable<DomainType>); the derived domain reports its changes to the constraint engine.
///
/// Life: built with `new`, it registers with its engine; `discard()` or `delete` tells its
/// listeners (notifyDiscard), discards every constraint still over it and unregisters it.
class ConstrainedVariable : public Entity, public virtual ApVariable {
public:
  /// One constraint over this variable and the variable's position in its scope.
  typedef std::pair<ConstraintId, int> ConstraintEntry;

  static const int NO_INDEX = -1;

  virtual ~ConstrainedVariable();

  const ConstrainedVariableId& getId() const { return m_id; }
  const ConstraintEngineId& getConstraintEngine() const { return m_constraintEngine; }

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }
  const std::string& getEntityType() const override { return entityType().toString(); }
  /// The name of a variable built without one.
  static const LabelStr& NO_NAME();

  const LabelStr& getName() const { return m_name; }
  /// The entity that owns the variable (a token or an object), or the empty handle.
  const EntityId& parent() const { return m_parent; }
  /// Position in the parent's variables, or NO_INDEX.
  int getIndex() const { return m_index; }
  bool isInternal() const { return m_internal; }
  bool canBeSpecified() const { return m_canBeSpecified; }
  bool canBeCompared(const EntityId&) const { return true; }

  // ---- domains ----
  /// The derived domain as it stands, without bringing it up to date.
  virtual const AbstractDomain& lastDomain() const = 0;
  /// The derived domain brought up to date (propagating when needed and allowed), or an empty
  /// domain of the right class when the variable is proven inconsistent.
  virtual const AbstractDomain& derivedDomain() = 0;
  virtual const AbstractDomain& baseDomain() const = 0;

  /// Narrows the base domain (and with it the derived domain).
  void restrictBaseDomain(const AbstractDomain& dom);

  // ---- specified values ----
  bool isSpecified() const { return m_specifiedFlag; }
  /// Requires isSpecified().
  double getSpecifiedValue() const;
  /// Requires canBeSpecified(); the value must be in the base domain. A value that propagation
  /// has already excluded empties the derived domain (the network becomes inconsistent).
  virtual void specify(double singletonValue);
  /// Drops the specified value and relaxes this variable and those connected to it through
  /// constraints back to their base domains; the next propagation narrows them again.
  virtual void reset();
  /// Relaxes the derived domain to the base domain (or the specified value) and relaxes the
  /// variables connected to it as reset() does; the specified value is kept.
  virtual void relax();
  /// Adds / removes a value of both domains (open enumerations only for insert).
  virtual void insert(double value);
  virtual void remove(double value);
  /// Closes / opens both domains.
  virtual void close();
  virtual void open();

  // ---- hooks for subclasses (default: nothing) ----
  virtual void handleBase(const AbstractDomain&) {}
  virtual void handleSpecified(double) {}
  virtual void handleReset() {}

  // ---- constraints ----
  /// The constraints over this variable, by entity key.
  void constraints(ConstraintSet& results) const;
  unsigned int constraintCount() const { return m_constraintCount; }
  /// The position of the variable in the constraint's scope, or -1.
  int getArgIndex(const ConstraintId& constraint) const;
  bool isConstrainedBy(const ConstraintId& constraint) const { return getArgIndex(constraint) >= 0; }

  // ---- listeners ----
  /// Listeners attach themselves when built; these are the engine-side operations.
  unsigned int listenerCount() const;

  // ---- consistency ----
  /// True when the derived domain is empty.
  bool provenInconsistent() const { return lastDomain().isEmpty(); }
  /// True while propagation has work pending anywhere in the engine.
  bool pending() const;
  /// Propagates (when the engine is not already propagating).
  void update();
  /// Sanity of the variable itself: both domains present, registered handle.
  bool validate() const { return m_id.isValid(); }

  // ---- text ----
  std::string toString() const override;
  std::string toLongString() const override;
  virtual std::string toString(double value) const { return lastDomain().toString(value); }

  // ---- client interface ----
  std::string getType() const override { return lastDomain().getTypeName().toString(); }
  bool isEnumerated() const override { return lastDomain().isEnumerated(); }
  bool isInterval() const override { return lastDomain().isInterval(); }
  bool isNull() const override { return lastDomain().isEmpty(); }
  bool isSingleton() const override { return lastDomain().isSingleton(); }
  double getSingletonValue() const override { return lastDomain().getSingletonValue(); }
  ApList<double> getValues() const override;
  ApList<ApEntityKey> getConstraints() const override;
  double getLowerBound() const override { return lastDomain().getLowerBound(); }
  double getUpperBound() const override { return lastDomain().getUpperBound(); }
  void specifyValue(double& value) override { specify(value); }
  double getViolation() const override;
  std::string getViolationExpl() const override;
  ApEntity* getParent() const override;

  /// The listener that the derived domain reports to; subclasses hand it to that domain.
  DomainListener* getDomainListener() { return &m_domainListener; }

protected:
  ConstrainedVariable(const ConstraintEngineId& constraintEngine, bool internal, bool canBeSpecified,
                      const LabelStr& name = NO_NAME(), const EntityId& parent = EntityId::noId(),
                      int index = NO_INDEX);

  /// Records the specified value and narrows the derived domain to the value.
  void internalSpecify(double value);
  /// Drops the specified value and sets the derived domain to dom (RESET), then relaxes the
  /// variables connected to this one.
  void reset(const AbstractDomain& dom);

  virtual AbstractDomain& internal_baseDomain() = 0;
  virtual void handleRestrictBaseDomain(const AbstractDomain& dom) = 0;
  virtual void handleConstraintAdded(const ConstraintId&) {}
  virtual void handleConstraintRemoved(const ConstraintId&) {}
  /// A constraint over the variable is about to lose one deactivation; raising refuses it.
  virtual void handleUndoDeactivation(const ConstraintId&) {}
  /// A constraint over the variable gained or lost a deactivation.
  virtual void handleConstraintActivityChanged(const ConstraintId&) {}

  void handleDiscard() override;
  /// Tells the listeners, discards the remaining constraints and unregisters from the engine.
  /// Runs once; the variable templates call it before freeing their domains.
  void detachFromEngine();

private:
  friend class Constraint;
  friend class ConstraintEngine;
  friend class ConstrainedVariableListener;
  friend class Propagator;

  /// The writable derived domain, for constraints and propagators.
  virtual AbstractDomain& getCurrentDomain() = 0;

  class ChangeListener : public DomainListener {
  public:
    explicit ChangeListener(ConstrainedVariable& var) : m_var(var) {}
    void notifyChange(const ChangeType& changeType) override;

  private:
    ConstrainedVariable& m_var;
  };

  void addConstraint(const ConstraintId& constraint, int argIndex);
  void removeConstraint(const ConstraintId& constraint, int argIndex);
  void addListener(ConstrainedVariableListener* listener);
  void removeListener(ConstrainedVariableListener* listener);
  /// Squeezes out the slots emptied while a walk over the lists was under way.
  void compact();

  /// Marks a walk over the lists; the outermost one compacts them when it ends.
  class WalkGuard {
  public:
    explicit WalkGuard(ConstrainedVariable& var) : m_var(var) { ++m_var.m_walkDepth; }
    ~WalkGuard() {
      if (--m_var.m_walkDepth == 0 && m_var.m_needsCompact)
        m_var.compact();
    }

  private:
    ConstrainedVariable& m_var;
  };
  /// Narrows nothing: the derived domain back to the base domain or the specified value.
  void relaxDerivedDomain();

  ConstrainedVariableId m_id;
  ConstraintEngineId m_constraintEngine;
  LabelStr m_name;
  EntityId m_parent;
  int m_index;
  bool m_internal;
  bool m_canBeSpecified;
  bool m_specifiedFlag;
  double m_specifiedValue;
  bool m_detached;
  bool m_deleting;

  // Lists walked while callbacks may change them: removals leave empty slots (compacted when
  // the outermost walk ends), additions append.
  std::vector<ConstraintEntry> m_constraints;
  unsigned int m_constraintCount;
  std::vector<ConstrainedVariableListener*> m_listeners;
  unsigned int m_walkDepth;
  bool m_needsCompact;

  // Engine bookkeeping.
  ChangeListener m_domainListener;
  unsigned int m_relaxMark;
  std::uint64_t m_relaxedEpoch;
  bool m_inEmptySet;
};

} // namespace KORVAN

#endif
