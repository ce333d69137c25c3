#ifndef KORVAN_CE_PROPAGATOR_HH
#define KORVAN_CE_PROPAGATOR_HH

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/DomainListener.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// Runs the constraints registered under its name. The constructor hands the propagator to the
/// engine, which owns it from then on (and deletes it with itself); the name must be new.
///
/// Priority: the engine polls its propagators in ascending priority (ties in registration
/// order) and, after each pass of one of them, starts again from the first, so cheap ones
/// (smaller numbers) reach their fixed point before expensive ones run.
class Propagator : public Entity {
public:
  static const int DEFAULT_PRIORITY = 100;

  Propagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
             int priority = DEFAULT_PRIORITY);
  virtual ~Propagator();

  const PropagatorId& getId() const { return m_id; }
  const LabelStr& getName() const { return m_name; }
  const ConstraintEngineId& getConstraintEngine() const { return m_constraintEngine; }
  int getPriority() const { return m_priority; }

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }
  std::string toString() const override;

  /// Every constraint registered with this propagator, by entity key.
  const ConstraintSet& getConstraints() const { return m_constraints; }

  /// One pass over the pending work.
  virtual void execute() = 0;
  /// True while the propagator has work; the engine polls it even when no variable changed.
  virtual bool updateRequired() const = 0;

  // ---- hooks called by the engine ----
  /// A constraint joined this propagator (called from the Constraint constructor).
  virtual void handleConstraintAdded(const ConstraintId&) {}
  /// A constraint leaves (discard or deletion); it is still valid during the call.
  virtual void handleConstraintRemoved(const ConstraintId&) {}
  virtual void handleConstraintActivated(const ConstraintId&) {}
  virtual void handleConstraintDeactivated(const ConstraintId&) {}
  /// A scope variable of `constraint` changed and the constraint's canIgnore answered false.
  virtual void handleNotification(const ConstrainedVariableId& /*variable*/, int /*argIndex*/,
                                  const ConstraintId& /*constraint*/,
                                  const DomainListener::ChangeType& /*changeType*/) {}
  virtual void handleVariableActivated(const ConstrainedVariableId&) {}
  virtual void handleVariableDeactivated(const ConstrainedVariableId&) {}

protected:
  /// Runs one constraint (its handleExecute).
  virtual void execute(const ConstraintId& constraint);
  /// The writable derived domain of a variable, for propagators that narrow domains directly.
  static AbstractDomain& getCurrentDomain(const ConstrainedVariableId& var);
  /// Marks a constraint of another propagator as having narrowed, for a pass that narrowed a
  /// variable on its behalf: its removal must then relax.
  static void noteRestricted(const ConstraintId& constraint);

private:
  friend class ConstraintEngine;
  friend class Constraint;

  Propagator(const Propagator&) = delete;
  Propagator& operator=(const Propagator&) = delete;

  void addConstraint(const ConstraintId& constraint);
  void removeConstraint(const ConstraintId& constraint);

  PropagatorId m_id;
  LabelStr m_name;
  ConstraintEngineId m_constraintEngine;
  int m_priority;
  ConstraintSet m_constraints;
};

} // namespace KORVAN

#endif
