#include "ConstraintEngine/base/Propagator.hh"

#include <sstream>

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

const LabelStr& Propagator::entityTypeName() {
  static const LabelStr sl_type("Propagator");
  return sl_type;
}

Propagator::Propagator(const LabelStr& name, const ConstraintEngineId& constraintEngine, int priority)
    : m_id(), m_name(name), m_constraintEngine(constraintEngine), m_priority(priority) {
  checkError(constraintEngine.isValid(),
             "Propagator '" << name.toString() << "' needs a valid constraint engine");
  checkError(!constraintEngine->getPropagatorByName(name).isValid(),
             "A propagator named '" << name.toString() << "' is already registered");
  m_id = PropagatorId(this);
  try {
    m_constraintEngine->add(m_id);
  } catch (...) {
    // No destructor runs for a propagator never made: its handle must not outlive its memory.
    m_id.remove();
    throw;
  }
}

Propagator::~Propagator() {
  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
  m_id.remove();
}

std::string Propagator::toString() const {
  std::ostringstream os;
  os << "Propagator " << m_name.toString() << "(" << getKey() << ")";
  return os.str();
}

void Propagator::execute(const ConstraintId& constraint) { constraint->execute(); }

void Propagator::noteRestricted(const ConstraintId& constraint) { constraint->m_hasRestricted = true; }

AbstractDomain& Propagator::getCurrentDomain(const ConstrainedVariableId& var) {
  check_error(var.isValid(), "Cannot narrow the domain of an invalid variable");
  return var->getCurrentDomain();
}

void Propagator::addConstraint(const ConstraintId& constraint) {
  // Mostly a new constraint, whose key is the largest: the end is the place to try first.
  m_constraints.insert(m_constraints.end(), constraint);
  handleConstraintAdded(constraint);
}

void Propagator::removeConstraint(const ConstraintId& constraint) {
  if (m_constraints.erase(constraint) == 0)
    return;
  handleConstraintRemoved(constraint);
}

} // namespace KORVAN
