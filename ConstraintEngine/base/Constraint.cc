#include "ConstraintEngine/base/Constraint.hh"

#include <exception>
#include <functional>
#include <sstream>

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

const LabelStr& Constraint::entityTypeName() {
  static const LabelStr sl_type("Constraint");
  return sl_type;
}

Constraint::Constraint(const LabelStr& name, const LabelStr& propagatorName,
                       const ConstraintEngineId& constraintEngine,
                       const std::vector<ConstrainedVariableId>& variables)
    : m_id(), m_name(name), m_constraintEngine(constraintEngine), m_variables(variables),
      m_deactivationRefCount(0), m_violated(false), m_detached(true), m_hasRestricted(false) {
  // Everything is checked before the constraint registers anywhere.
  checkError(constraintEngine.isValid(),
             "Constraint '" << name.toString() << "' needs a valid constraint engine");
  m_propagator = constraintEngine->getPropagatorByName(propagatorName);
  checkError(m_propagator.isValid(), "No propagator named '" << propagatorName.toString()
                                                             << "' for constraint '"
                                                             << name.toString() << "'");
  checkError(!variables.empty(), "Constraint '" << name.toString() << "' needs at least one variable");
  for (size_t i = 0; i < variables.size(); ++i) {
    checkError(variables[i].isValid(), "Variable " << i << " of the scope of constraint '"
                                                   << name.toString() << "' is not valid");
    checkError(variables[i]->getConstraintEngine() == constraintEngine,
               "Variable " << variables[i]->toString() << " of constraint '" << name.toString()
                           << "' belongs to another constraint engine");
  }

  // Written before the constraint registers: a failing debug stream must leave nothing behind.
  debugMsg("Constraint:Constraint", "Created " << toString());
  m_id = ConstraintId(this);
  m_detached = false;
  try {
    m_constraintEngine->add(m_id);
    m_propagator->addConstraint(m_id);
    for (size_t i = 0; i < m_variables.size(); ++i)
      m_variables[i]->addConstraint(m_id, static_cast<int>(i));
  } catch (...) {
    // The refusal that got here is the one to report; detach finishes in any case.
    try {
      detach();
    } catch (...) {
    }
    m_id.remove();
    throw;
  }
}

Constraint::~Constraint() {
  DebugMessage::Teardown quiet;
  try {
    detach();
  } catch (...) {
    // Nothing may leave a destructor; detach has left every registration all the same.
  }
  if (m_id.isValid())
    m_id.remove();
}

void Constraint::handleDiscard() { detach(); }

void Constraint::detach() {
  if (m_detached)
    return;
  m_detached = true;
  // Every registration is withdrawn even when a listener throws on the way: a constraint left
  // in the engine or the propagator after it is gone would be read there later. The first
  // failure is raised once all is done.
  std::exception_ptr failure;
  auto attempt = [&failure](const std::function<void()>& step) {
    try {
      step();
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  };
  {
    // Raised, it would stop the discard that follows the detach: the constraint would outlive its
    // registrations. It is reported at the end of the run instead.
    DebugMessage::Teardown recordOnly;
    debugMsg("Constraint:detach", "Removing " << m_name.toString() << "(" << getKey() << ")");
  }
  for (size_t i = 0; i < m_variables.size(); ++i)
    if (m_variables[i].isValid())
      attempt([&]() { m_variables[i]->removeConstraint(m_id, static_cast<int>(i)); });
  if (m_propagator.isValid())
    attempt([&]() { m_propagator->removeConstraint(m_id); });
  if (m_constraintEngine.isValid()) {
    m_constraintEngine->remove(m_id);
    const bool restricted = m_hasRestricted;
    if (restricted || m_constraintEngine->provenInconsistent())
      attempt([&]() { m_constraintEngine->relaxAfter(*this, restricted); });
  }
  if (failure)
    std::rethrow_exception(failure);
}

int Constraint::getIndex(const ConstrainedVariableId& var) const {
  for (size_t i = 0; i < m_variables.size(); ++i)
    if (m_variables[i] == var)
      return static_cast<int>(i);
  return -1;
}

void Constraint::deactivate() {
  ++m_deactivationRefCount;
  if (m_deactivationRefCount == 1) {
    debugMsg("Constraint:deactivate", "Deactivating " << m_name.toString() << "(" << getKey() << ")");
    handleDeactivate();
    m_propagator->handleConstraintDeactivated(m_id);
    const bool restricted = m_hasRestricted;
    if (restricted || m_constraintEngine->provenInconsistent())
      m_constraintEngine->relaxAfter(*this, restricted);
  }
  notifyActivityChanged();
}

void Constraint::undoDeactivation() {
  checkError(m_deactivationRefCount > 0,
             "Constraint " << toString() << " is active: nothing to undo");
  // The owners of the variables may hold deactivations of their own (merging).
  for (size_t i = 0; i < m_variables.size(); ++i)
    if (m_variables[i].isValid())
      m_variables[i]->handleUndoDeactivation(m_id);
  --m_deactivationRefCount;
  if (m_deactivationRefCount == 0) {
    debugMsg("Constraint:undoDeactivation", "Activating " << m_name.toString() << "(" << getKey() << ")");
    handleActivate();
    m_propagator->handleConstraintActivated(m_id);
  }
  notifyActivityChanged();
}

void Constraint::notifyActivityChanged() {
  const std::vector<ConstrainedVariableId> scope = m_variables;
  for (const ConstrainedVariableId& var : scope)
    if (var.isValid())
      var->handleConstraintActivityChanged(m_id);
}

bool Constraint::canIgnore(const ConstrainedVariableId&, int, const DomainListener::ChangeType&) {
  return false;
}

void Constraint::execute() {
  ConstraintEngine& ce = *m_constraintEngine;
  Constraint* previous = ce.m_activeConstraint;
  ce.m_activeConstraint = this;
  ++ce.m_work;
  try {
    handleExecute();
  } catch (...) {
    ce.m_activeConstraint = previous;
    throw;
  }
  ce.m_activeConstraint = previous;
}

void Constraint::setSource(const ConstraintId& sourceConstraint) { check_error(sourceConstraint.isValid()); }

void Constraint::notifyViolated() {
  if (m_violated)
    return;
  m_violated = true;
  m_constraintEngine->markViolated(m_id, true);
}

void Constraint::notifyNoLongerViolated() {
  if (!m_violated)
    return;
  m_violated = false;
  m_constraintEngine->markViolated(m_id, false);
}

double Constraint::getViolation() const { return m_violated ? 1.0 : 0.0; }

std::string Constraint::getViolationExpl() const {
  return m_violated ? m_name.toString() + " is violated" : std::string();
}

std::string Constraint::toString() const {
  std::ostringstream os;
  os << m_name.toString() << "(" << getKey() << ")[";
  for (size_t i = 0; i < m_variables.size(); ++i) {
    if (i > 0)
      os << ", ";
    if (m_variables[i].isValid())
      os << m_variables[i]->toString();
    else
      os << "?";
  }
  os << "]";
  return os.str();
}

ApList<ApEntityKey> Constraint::getVariables() const {
  ApList<ApEntityKey> result;
  for (const ConstrainedVariableId& var : m_variables)
    if (var.isValid())
      result.push_back(var->getKey());
  return result;
}

AbstractDomain& Constraint::getCurrentDomain(const ConstrainedVariableId& var) {
  checkError(isVariableOf(var), "Variable " << (var.isValid() ? var->toString() : std::string("?"))
                                            << " is not in the scope of " << toString());
  return var->getCurrentDomain();
}

} // namespace KORVAN
