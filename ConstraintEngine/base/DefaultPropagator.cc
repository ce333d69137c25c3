#include "ConstraintEngine/base/DefaultPropagator.hh"

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

DefaultPropagator::DefaultPropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
                                     int priority)
    : Propagator(name, constraintEngine, priority), m_activeConstraint(0) {}

DefaultPropagator::~DefaultPropagator() {}

void DefaultPropagator::execute() {
  check_error(!getConstraintEngine()->provenInconsistent());
  check_error(m_activeConstraint == 0);
  debugMsg("DefaultPropagator:execute", "Executing " << getName().toString() << " with "
                                                     << m_agenda.size() << " constraints");
  try {
    // Past the engine's limit the agenda waits for the next propagate(), and while its prover is
    // due, for the engine's next pass.
    while (!m_agenda.empty() && !getConstraintEngine()->provenInconsistent() &&
           !getConstraintEngine()->overPropagationLimit() && !getConstraintEngine()->creepProofDue()) {
      ConstraintId constraint = *m_agenda.begin();
      m_agenda.erase(m_agenda.begin());
      if (!constraint->isActive())
        continue;
      m_activeConstraint = constraint->getKey();
      execute(constraint);
    }
  } catch (...) {
    m_activeConstraint = 0;
    throw;
  }
  if (getConstraintEngine()->provenInconsistent() && !getConstraintEngine()->canContinuePropagation())
    m_agenda.clear();
  m_activeConstraint = 0;
}

void DefaultPropagator::handleConstraintAdded(const ConstraintId& constraint) {
  m_agenda.insert(constraint);
  if (m_watcher)
    m_watcher(constraint, false);
}

void DefaultPropagator::handleConstraintRemoved(const ConstraintId& constraint) {
  m_agenda.erase(constraint);
  if (m_watcher)
    m_watcher(constraint, true);
}

void DefaultPropagator::handleConstraintActivated(const ConstraintId& constraint) {
  m_agenda.insert(constraint);
  if (m_watcher)
    m_watcher(constraint, false);
}

void DefaultPropagator::handleConstraintDeactivated(const ConstraintId& constraint) {
  m_agenda.erase(constraint);
  if (m_watcher)
    m_watcher(constraint, true);
}

void DefaultPropagator::handleNotification(const ConstrainedVariableId&, int,
                                           const ConstraintId& constraint,
                                           const DomainListener::ChangeType&) {
  m_agenda.insert(constraint);
  if (m_watcher)
    m_watcher(constraint, false);
}

} // namespace KORVAN
