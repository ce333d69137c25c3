#ifndef KORVAN_CE_CONSTRAINT_HH
#define KORVAN_CE_CONSTRAINT_HH

#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "ConstraintEngine/base/DomainListener.hh"
#include "Utils/base/ApEntity.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// A relation over a scope of variables, run by the propagator registered under its propagator
/// name. The constructor registers the constraint everywhere at once: with each scope variable
/// (whose listeners hear notifyConstraintAdded), with the propagator (handleConstraintAdded,
/// which for a DefaultPropagator schedules a first execution) and with the engine.
///
/// Because that happens inside this base constructor, a propagator's handleConstraintAdded sees
/// only the Constraint part: name, propagator, scope and key. It must not call the subclass.
///
/// End of life: `discard()` (or `delete`) detaches the constraint from its variables (telling
/// their listeners, notifyConstraintRemoved) and from its propagator at once, then relaxes the
/// variables it may have narrowed (see ConstraintEngine.hh).
class Constraint : public Entity, public virtual ApConstraint {
public:
  Constraint(const LabelStr& name, const LabelStr& propagatorName,
             const ConstraintEngineId& constraintEngine,
             const std::vector<ConstrainedVariableId>& variables);
  virtual ~Constraint();

  const ConstraintId& getId() const { return m_id; }
  const LabelStr& getName() const { return m_name; }
  const PropagatorId& getPropagator() const { return m_propagator; }
  const ConstraintEngineId& getConstraintEngine() const { return m_constraintEngine; }
  const std::vector<ConstrainedVariableId>& getScope() const { return m_variables; }
  /// The position of the variable in the scope, or -1.
  int getIndex(const ConstrainedVariableId& var) const;
  bool isVariableOf(const ConstrainedVariableId& var) const { return getIndex(var) >= 0; }

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }
  const std::string& getEntityType() const override { return entityType().toString(); }

  // ---- activation ----
  /// Active exactly when the deactivation count is zero; an inactive constraint is not executed.
  bool isActive() const override { return m_deactivationRefCount == 0; }
  unsigned int deactivationCount() const { return m_deactivationRefCount; }
  void deactivate() override;
  void undoDeactivation() override;

  /// Asked synchronously at every change of a scope variable's derived domain, with the
  /// variable, its position in the scope and the kind of change. Answering false schedules the
  /// constraint with its propagator; true leaves it alone. Default: false.
  virtual bool canIgnore(const ConstrainedVariableId& variable, int argIndex,
                         const DomainListener::ChangeType& changeType);

  /// Runs the constraint once (handleExecute), recording it as the cause of the changes made.
  void execute();

  /// Constraints made from another (merging, copying) may take over its state; the default
  /// copies nothing.
  virtual void setSource(const ConstraintId& sourceConstraint);

  // ---- violations ----
  /// Marks the constraint violated (getViolation() becomes positive) / withdraws the mark.
  void notifyViolated();
  void notifyNoLongerViolated();
  bool isViolated() const { return m_violated; }
  double getViolation() const override;
  std::string getViolationExpl() const override;

  std::string toString() const override;
  std::string toLongString() const override { return toString(); }
  ApList<ApEntityKey> getVariables() const override;

protected:
  /// The writable derived domain of a scope variable: what the constraint narrows.
  AbstractDomain& getCurrentDomain(const ConstrainedVariableId& var);

  virtual void handleExecute() = 0;
  virtual void handleActivate() {}
  virtual void handleDeactivate() {}

  void handleDiscard() override;

private:
  friend class ConstraintEngine;
  friend class Propagator;

  Constraint(const Constraint&) = delete;
  Constraint& operator=(const Constraint&) = delete;

  /// Leaves the variables, the propagator and the engine; runs once.
  void detach();
  /// Tells the scope's variables that the deactivation count moved.
  void notifyActivityChanged();

  ConstraintId m_id;
  LabelStr m_name;
  ConstraintEngineId m_constraintEngine;
  PropagatorId m_propagator;
  std::vector<ConstrainedVariableId> m_variables;
  unsigned int m_deactivationRefCount;
  bool m_violated;
  bool m_detached;
  /// Set once the constraint has narrowed a domain (or a pass of its propagator narrowed one of
  /// its variables): only then must its removal relax anything.
  bool m_hasRestricted;
};

} // namespace KORVAN

#endif
