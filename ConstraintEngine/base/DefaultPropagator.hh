#ifndef KORVAN_CE_DEFAULTPROPAGATOR_HH
#define KORVAN_CE_DEFAULTPROPAGATOR_HH

#include <functional>

#include "ConstraintEngine/base/Propagator.hh"

namespace KORVAN {

/// Runs its constraints from an agenda ordered by entity key. A constraint enters the agenda
/// when it is added, activated, or notified (canIgnore false); a pass takes the first one off,
/// executes it if active, and repeats until the agenda is empty or the engine is proven
/// inconsistent. Then the rest of the agenda stays for a later pass unless the engine says that
/// propagation cannot continue.
class DefaultPropagator : public Propagator {
public:
  DefaultPropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
                    int priority = DEFAULT_PRIORITY);
  virtual ~DefaultPropagator();

  void execute() override;
  bool updateRequired() const override { return !m_agenda.empty(); }

  const ConstraintSet& getAgenda() const { return m_agenda; }

  /// Told of every constraint of this propagator that is added, activated or notified (false)
  /// and that is removed or deactivated (true): another propagator may mirror some of them.
  typedef std::function<void(const ConstraintId&, bool)> ConstraintWatcher;
  void setConstraintWatcher(const ConstraintWatcher& watcher) { m_watcher = watcher; }

protected:
  void handleConstraintAdded(const ConstraintId& constraint) override;
  void handleConstraintRemoved(const ConstraintId& constraint) override;
  void handleConstraintActivated(const ConstraintId& constraint) override;
  void handleConstraintDeactivated(const ConstraintId& constraint) override;
  void handleNotification(const ConstrainedVariableId& variable, int argIndex,
                          const ConstraintId& constraint,
                          const DomainListener::ChangeType& changeType) override;
  void execute(const ConstraintId& constraint) override { Propagator::execute(constraint); }

  ConstraintSet m_agenda;
  /// Key of the constraint being executed, 0 between executions.
  int m_activeConstraint;
  ConstraintWatcher m_watcher;
};

} // namespace KORVAN

#endif
