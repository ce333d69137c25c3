#include "ConstraintEngine/base/ConstrainedVariable.hh"

#include <sstream>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

// ---------------------------------------------------------------------------------------------
// ConstrainedVariableListener

ConstrainedVariableListener::ConstrainedVariableListener(const ConstrainedVariableId& var)
    : m_id(), m_var(var) {
  check_error(var.isValid(), "A variable listener needs a valid variable");
  m_id = ConstrainedVariableListenerId(this);
  try {
    var->addListener(this);
  } catch (...) {
    m_id.remove();
    throw;
  }
}

ConstrainedVariableListener::~ConstrainedVariableListener() {
  if (m_var.isValid())
    m_var->removeListener(this);
  m_id.remove();
}

// ---------------------------------------------------------------------------------------------
// ConstrainedVariable

const LabelStr& ConstrainedVariable::entityTypeName() {
  static const LabelStr sl_type("ConstrainedVariable");
  return sl_type;
}

const LabelStr& ConstrainedVariable::NO_NAME() {
  static const LabelStr sl_noName(g_noVarName());
  return sl_noName;
}

ConstrainedVariable::ConstrainedVariable(const ConstraintEngineId& constraintEngine, bool internal,
                                         bool canBeSpecified, const LabelStr& name,
                                         const EntityId& parent, int index)
    : m_id(), m_constraintEngine(constraintEngine), m_name(name), m_parent(parent), m_index(index),
      m_internal(internal), m_canBeSpecified(canBeSpecified), m_specifiedFlag(false),
      m_specifiedValue(0.0), m_detached(false), m_deleting(false), m_constraintCount(0),
      m_walkDepth(0), m_needsCompact(false), m_domainListener(*this), m_relaxMark(0),
      m_relaxedEpoch(0), m_inEmptySet(false) {
  checkError(constraintEngine.isValid(),
             "Variable '" << name.toString() << "' needs a valid constraint engine");
  m_id = ConstrainedVariableId(this);
  try {
    m_constraintEngine->add(m_id);
  } catch (...) {
    // No destructor runs for a variable never made: its handle must not outlive its memory.
    m_id.remove();
    throw;
  }
}

ConstrainedVariable::~ConstrainedVariable() {
  DebugMessage::Teardown quiet;
  detachFromEngine();
  m_id.remove();
}

void ConstrainedVariable::handleDiscard() { detachFromEngine(); }

void ConstrainedVariable::detachFromEngine() {
  if (m_detached)
    return;
  m_detached = true;
  m_deleting = true;
  debugMsg("ConstrainedVariable:detachFromEngine", "Removing " << m_name.toString() << "(" << getKey() << ")");

  // Listeners first: they may still read the variable, and may delete themselves.
  {
    WalkGuard guard(*this);
    for (size_t i = 0; i < m_listeners.size(); ++i) {
      ConstrainedVariableListener* listener = m_listeners[i];
      if (listener != 0)
        listener->notifyDiscard();
    }
  }
  for (ConstrainedVariableListener* listener : m_listeners)
    if (listener != 0)
      listener->m_var = ConstrainedVariableId::noId();
  m_listeners.clear();

  // A constraint cannot outlive a variable of its scope.
  std::vector<ConstraintId> remaining;
  for (const ConstraintEntry& entry : m_constraints)
    if (!entry.first.isNoId())
      remaining.push_back(entry.first);
  for (const ConstraintId& constraint : remaining)
    if (constraint.isValid())
      constraint->discard();
  m_constraints.clear();
  m_constraintCount = 0;

  if (m_constraintEngine.isValid())
    m_constraintEngine->remove(m_id);
}

double ConstrainedVariable::getSpecifiedValue() const {
  checkError(m_specifiedFlag, "Variable " << toString() << " is not specified");
  return m_specifiedValue;
}

void ConstrainedVariable::restrictBaseDomain(const AbstractDomain& dom) {
  m_constraintEngine->noteNotRelaxed();
  checkError(dom.isNumeric() == baseDomain().isNumeric() || dom.isEmpty(),
             "Cannot restrict the base domain of " << toString() << " with " << dom.toString());
  handleRestrictBaseDomain(dom);
}

void ConstrainedVariable::specify(double singletonValue) {
  checkError(canBeSpecified(), "Variable " << toString() << " cannot be specified");
  internalSpecify(singletonValue);
}

void ConstrainedVariable::internalSpecify(double value) {
  m_constraintEngine->noteNotRelaxed();
  checkError(baseDomain().isMember(value),
             baseDomain().toString(value) << " is not in the base domain of " << toString());
  checkError(!m_specifiedFlag || m_specifiedValue == value,
             "Variable " << toString() << " is already specified to "
                         << baseDomain().toString(m_specifiedValue) << "; reset it first");
  m_specifiedFlag = true;
  m_specifiedValue = value;
  debugMsg("ConstrainedVariable:specify", "Specifying " << toString() << " to " << value);
  getCurrentDomain().set(value);
}

void ConstrainedVariable::reset() { reset(baseDomain()); }

void ConstrainedVariable::reset(const AbstractDomain& dom) {
  m_constraintEngine->noteNotRelaxed();
  m_specifiedFlag = false;
  debugMsg("ConstrainedVariable:reset", "Resetting " << toString() << " to " << dom.toString());
  getCurrentDomain().reset(dom);
  m_constraintEngine->relaxFrom(*this);
}

void ConstrainedVariable::relaxDerivedDomain() {
  AbstractDomain& current = getCurrentDomain();
  if (m_specifiedFlag)
    current.relax(m_specifiedValue);
  else
    current.relax(baseDomain());
}

void ConstrainedVariable::relax() {
  relaxDerivedDomain();
  m_constraintEngine->relaxFrom(*this);
}

void ConstrainedVariable::insert(double value) {
  m_constraintEngine->noteNotRelaxed();
  internal_baseDomain().insert(value);
  getCurrentDomain().insert(value);
}

void ConstrainedVariable::remove(double value) {
  m_constraintEngine->noteNotRelaxed();
  internal_baseDomain().remove(value);
  getCurrentDomain().remove(value);
}

void ConstrainedVariable::close() {
  m_constraintEngine->noteNotRelaxed();
  internal_baseDomain().close();
  getCurrentDomain().close();
}

void ConstrainedVariable::open() {
  m_constraintEngine->noteNotRelaxed();
  internal_baseDomain().open();
  getCurrentDomain().open();
}

void ConstrainedVariable::constraints(ConstraintSet& results) const {
  for (const ConstraintEntry& entry : m_constraints)
    if (!entry.first.isNoId())
      results.insert(entry.first);
}

int ConstrainedVariable::getArgIndex(const ConstraintId& constraint) const {
  for (const ConstraintEntry& entry : m_constraints)
    if (entry.first == constraint)
      return entry.second;
  return -1;
}

unsigned int ConstrainedVariable::listenerCount() const {
  unsigned int count = 0;
  for (ConstrainedVariableListener* listener : m_listeners)
    if (listener != 0)
      ++count;
  return count;
}

bool ConstrainedVariable::pending() const { return m_constraintEngine->pending(); }

void ConstrainedVariable::update() {
  if (!m_constraintEngine->isPropagating())
    m_constraintEngine->propagate();
}

std::string ConstrainedVariable::toString() const {
  std::ostringstream os;
  os << m_name.toString() << "(" << getKey() << ")";
  if (m_id.isValid())
    os << "=" << lastDomain().toString();
  return os.str();
}

std::string ConstrainedVariable::toLongString() const {
  std::ostringstream os;
  os << toString();
  if (m_id.isValid())
    os << " base " << baseDomain().toString();
  if (m_specifiedFlag)
    os << " specified " << baseDomain().toString(m_specifiedValue);
  if (m_parent.isValid())
    os << " of " << m_parent->toString() << " at " << m_index;
  return os.str();
}

ApList<double> ConstrainedVariable::getValues() const {
  std::list<double> values;
  lastDomain().getValues(values);
  ApList<double> result;
  for (double v : values)
    result.push_back(v);
  return result;
}

ApList<ApEntityKey> ConstrainedVariable::getConstraints() const {
  ConstraintSet all;
  constraints(all);
  ApList<ApEntityKey> result;
  for (const ConstraintId& constraint : all)
    result.push_back(constraint->getKey());
  return result;
}

double ConstrainedVariable::getViolation() const {
  double violation = 0.0;
  for (const ConstraintEntry& entry : m_constraints)
    if (!entry.first.isNoId())
      violation += entry.first->getViolation();
  return violation;
}

std::string ConstrainedVariable::getViolationExpl() const {
  std::string expl;
  for (const ConstraintEntry& entry : m_constraints)
    if (!entry.first.isNoId() && entry.first->isViolated()) {
      if (!expl.empty())
        expl += "\n";
      expl += entry.first->getViolationExpl();
    }
  return expl;
}

ApEntity* ConstrainedVariable::getParent() const {
  if (!m_parent.isValid())
    return 0;
  return static_cast<Entity*>(m_parent);
}

void ConstrainedVariable::ChangeListener::notifyChange(const ChangeType& changeType) {
  m_var.m_constraintEngine->notifyChange(m_var, changeType);
}

void ConstrainedVariable::addConstraint(const ConstraintId& constraint, int argIndex) {
  m_constraintEngine->noteNotRelaxed();
  handleConstraintAdded(constraint);
  m_constraints.push_back(ConstraintEntry(constraint, argIndex));
  ++m_constraintCount;
  WalkGuard guard(*this);
  const size_t count = m_listeners.size();
  for (size_t i = 0; i < count; ++i) {
    ConstrainedVariableListener* listener = m_listeners[i];
    if (listener != 0)
      listener->notifyConstraintAdded(constraint, argIndex);
  }
}

void ConstrainedVariable::removeConstraint(const ConstraintId& constraint, int argIndex) {
  bool found = false;
  for (size_t i = 0; i < m_constraints.size(); ++i) {
    ConstraintEntry& entry = m_constraints[i];
    if (entry.first == constraint && entry.second == argIndex) {
      if (m_walkDepth > 0) {
        entry.first = ConstraintId::noId();
        m_needsCompact = true;
      } else
        m_constraints.erase(m_constraints.begin() + i);
      found = true;
      break;
    }
  }
  if (!found)
    return;
  --m_constraintCount;
  if (m_deleting)
    return;
  handleConstraintRemoved(constraint);
  WalkGuard guard(*this);
  const size_t count = m_listeners.size();
  for (size_t i = 0; i < count; ++i) {
    ConstrainedVariableListener* listener = m_listeners[i];
    if (listener != 0)
      listener->notifyConstraintRemoved(constraint, argIndex);
  }
}

void ConstrainedVariable::addListener(ConstrainedVariableListener* listener) {
  checkError(!m_deleting, "Cannot listen to variable " << m_name.toString() << " while it is discarded");
  m_listeners.push_back(listener);
}

void ConstrainedVariable::removeListener(ConstrainedVariableListener* listener) {
  for (size_t i = 0; i < m_listeners.size(); ++i)
    if (m_listeners[i] == listener) {
      if (m_walkDepth > 0) {
        m_listeners[i] = 0;
        m_needsCompact = true;
      } else
        m_listeners.erase(m_listeners.begin() + i);
      return;
    }
}

void ConstrainedVariable::compact() {
  std::vector<ConstraintEntry> constraints;
  constraints.reserve(m_constraintCount);
  for (const ConstraintEntry& entry : m_constraints)
    if (!entry.first.isNoId())
      constraints.push_back(entry);
  m_constraints.swap(constraints);
  std::vector<ConstrainedVariableListener*> listeners;
  for (ConstrainedVariableListener* listener : m_listeners)
    if (listener != 0)
      listeners.push_back(listener);
  m_listeners.swap(listeners);
  m_needsCompact = false;
}

} // namespace KORVAN
