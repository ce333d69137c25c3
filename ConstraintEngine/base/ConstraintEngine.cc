#include "ConstraintEngine/base/ConstraintEngine.hh"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

namespace {
/// Restores a flag or pointer when a scope ends, exceptions included.
template <class T>
class Restore {
public:
  Restore(T& ref, T value) : m_ref(ref), m_old(ref) { m_ref = value; }
  ~Restore() { m_ref = m_old; }

private:
  T& m_ref;
  T m_old;
};

void writeRelaxing(const ConstrainedVariable& var) {
  debugMsg("ConstraintEngine:relax", "Relaxing " << var.toString());
}

/// Whether relaxing the variable would leave its domain as it is.
bool relaxedAlready(const ConstrainedVariable& var) {
  const AbstractDomain& dom = var.lastDomain();
  if (var.isSpecified())
    return dom.isSingleton() && dom.getSingletonValue() == var.getSpecifiedValue();
  return !dom.isEmpty() && dom == var.baseDomain();
}
} // namespace

/// The walk that relaxes everything, beside a run that skips what is relaxed already: its queue
/// and its marks, kept apart from the engine's, so that its lines come out in its order.
struct ConstraintEngine::RelaxListing {
  std::vector<ConstrainedVariableId> order;
  std::unordered_map<int, size_t> at; ///< by variable key: place in order, its mark
  size_t next = 0;                    ///< in order
  size_t mirrored = 0;                ///< of the run's queue
};

const std::string& ConstraintEngine::COMPONENT_NAME() {
  static const std::string sl_name("ConstraintEngine");
  return sl_name;
}

ConstraintEngine::ConstraintEngine() : m_schema(), m_ownsSchema(true) {
  m_schema = (new CESchema())->getId();
  init();
}

ConstraintEngine::ConstraintEngine(const CESchemaId& schema) : m_schema(schema), m_ownsSchema(false) {
  check_error(schema.isValid(), "The constraint engine needs a valid schema");
  init();
}

void ConstraintEngine::init() {
  m_id = ConstraintEngineId(this);
  m_propagating = false;
  m_allowViolations = false;
  m_deleting = false;
  m_cycleCount = 0;
  m_changeCount = 0;
  m_activeConstraint = 0;
  m_activePropagator = 0;
  m_relaxing = false;
  m_relaxMark = 0;
  m_relaxEpoch = 1;
}

ConstraintEngine::~ConstraintEngine() {
  DebugMessage::Teardown quiet;
  m_deleting = true;
  // Whatever is left dies with the engine: constraints before the variables they are over.
  std::vector<ConstraintId> constraints(m_constraints.begin(), m_constraints.end());
  for (const ConstraintId& constraint : constraints)
    if (constraint.isValid())
      constraint->discard();
  std::vector<ConstrainedVariableId> variables(m_variables.begin(), m_variables.end());
  for (const ConstrainedVariableId& var : variables)
    if (var.isValid())
      var->discard();
  std::vector<PropagatorId> propagators(m_propagators);
  for (auto it = propagators.rbegin(); it != propagators.rend(); ++it)
    if (it->isValid())
      delete (Propagator*)(*it);
  m_propagators.clear();
  if (m_ownsSchema && m_schema.isValid())
    delete (CESchema*)m_schema;
  m_id.remove();
}

ConstraintId ConstraintEngine::createConstraint(const LabelStr& name,
                                                const std::vector<ConstrainedVariableId>& scope) {
  return m_schema->createConstraint(m_id, name, scope);
}

void ConstraintEngine::deleteConstraint(const ConstraintId& constraint) {
  check_error(constraint.isValid(), "Cannot delete an invalid constraint");
  constraint->discard();
}

const PropagatorId& ConstraintEngine::getPropagatorByName(const LabelStr& name) const {
  for (const PropagatorId& propagator : m_propagators)
    if (propagator->getName() == name)
      return propagator;
  return PropagatorId::noId();
}

bool ConstraintEngine::pending() const {
  for (const PropagatorId& propagator : m_propagators)
    if (propagator->updateRequired())
      return true;
  return false;
}

bool ConstraintEngine::propagate() {
  checkError(!m_propagating, "propagate() called while the constraint engine is propagating");
  if (provenInconsistent()) {
    debugMsg("ConstraintEngine:propagate", "Not propagating: proven inconsistent");
    return false;
  }
  Restore<bool> propagating(m_propagating, true);
  Restore<Propagator*> activePropagator(m_activePropagator, 0);
  m_work = 0;
  m_cut = false;
  m_nextCreepProof = std::max<unsigned long>(1, m_creepWork * (m_constraints.size() + 1));
  while (!provenInconsistent()) {
    Propagator* next = 0;
    for (const PropagatorId& propagator : m_propagators)
      if (propagator->updateRequired()) {
        next = propagator;
        break;
      }
    if (next == 0)
      break;
    if (creepProofDue()) {
      askCreepProver();
      continue;
    }
    if (overPropagationLimit()) {
      m_cut = true;
      debugMsg("ConstraintEngine:propagate", "Cut at the limit of " << m_workLimit);
      break;
    }
    ++m_work;
    ++m_cycleCount;
    debugMsg("ConstraintEngine:propagate", "Pass " << m_cycleCount << " of " << next->getName().toString());
    m_activePropagator = next;
    next->execute();
    m_activePropagator = 0;
  }
  debugMsg("ConstraintEngine:propagate", (provenInconsistent() ? "Inconsistent" : "Consistent"));
  return !provenInconsistent();
}

void ConstraintEngine::askCreepProver() {
  while (m_nextCreepProof <= m_work)
    m_nextCreepProof *= 2;
  const ConstrainedVariableId var = m_creepProver();
  debugMsg("ConstraintEngine:propagate", "Asked for a proof after " << m_work << " units of work: "
                                                                    << (var.isNoId() ? std::string("none")
                                                                                     : var->getName().toString()));
  if (!var.isNoId())
    var->getCurrentDomain().empty();
}

ConstrainedVariableSet ConstraintEngine::getEmptyVariables() const {
  ConstrainedVariableSet result;
  for (ConstrainedVariable* var : m_emptyVariables)
    result.insert(var->getId());
  return result;
}

double ConstraintEngine::getViolation() const {
  double violation = 0.0;
  for (const ConstraintId& constraint : m_violated)
    violation += constraint->getViolation();
  return violation;
}

// Keys grow with creation: a new entity belongs at the end of a set by key.
void ConstraintEngine::add(const ConstrainedVariableId& var) { m_variables.insert(m_variables.end(), var); }

void ConstraintEngine::remove(const ConstrainedVariableId& var) {
  if (var->m_inEmptySet) {
    m_emptyVariables.erase(std::find(m_emptyVariables.begin(), m_emptyVariables.end(), (ConstrainedVariable*)var));
    var->m_inEmptySet = false;
  }
  m_variables.erase(var);
}

void ConstraintEngine::add(const ConstraintId& constraint) { m_constraints.insert(m_constraints.end(), constraint); }

void ConstraintEngine::remove(const ConstraintId& constraint) {
  m_constraints.erase(constraint);
  if (constraint->isViolated())
    m_violated.erase(constraint);
  if (m_activeConstraint == (Constraint*)constraint)
    m_activeConstraint = 0;
}

void ConstraintEngine::add(const PropagatorId& propagator) {
  // Stable by priority: equal priorities keep their registration order.
  auto it = m_propagators.begin();
  while (it != m_propagators.end() && (*it)->getPriority() <= propagator->getPriority())
    ++it;
  m_propagators.insert(it, propagator);
}

void ConstraintEngine::remove(const PropagatorId& propagator) {
  if (m_deleting)
    return;
  auto it = std::find(m_propagators.begin(), m_propagators.end(), propagator);
  if (it != m_propagators.end())
    m_propagators.erase(it);
  if (m_activePropagator == (Propagator*)propagator)
    m_activePropagator = 0;
}

void ConstraintEngine::markViolated(const ConstraintId& constraint, bool violated) {
  if (violated)
    m_violated.insert(constraint);
  else
    m_violated.erase(constraint);
}

void ConstraintEngine::notifyChange(ConstrainedVariable& var, const DomainListener::ChangeType& changeType) {
  ++m_changeCount;
  if (changeType != DomainListener::RELAXED)
    noteNotRelaxed();
  const bool restriction = DomainListener::isRestriction(changeType);
  // Narrowed by a propagator pass outside any single constraint: its constraints on this
  // variable are the ones that may have contributed.
  Propagator* bulk = (restriction && m_activeConstraint == 0) ? m_activePropagator : 0;
  if (restriction && m_activeConstraint != 0)
    m_activeConstraint->m_hasRestricted = true;
  if (changeType == DomainListener::EMPTIED) {
    if (!var.m_inEmptySet) {
      const bool first = m_emptyVariables.empty();
      var.m_inEmptySet = true;
      m_emptyVariables.push_back(&var);
      if (first && m_emptyingListener)
        m_emptyingListener(Emptying{var.getId(), m_activeConstraint != 0 ? m_activeConstraint->getId() : ConstraintId(),
                                    m_activePropagator != 0 ? m_activePropagator->getId() : PropagatorId()});
      debugMsg("ConstraintEngine:notifyChange", "Emptied " << var.getName().toString() << "("
                                                           << var.getKey() << ")");
    }
  } else if (var.m_inEmptySet && !var.lastDomain().isEmpty()) {
    m_emptyVariables.erase(std::find(m_emptyVariables.begin(), m_emptyVariables.end(), &var));
    var.m_inEmptySet = false;
  }
  if (var.m_deleting)
    return;
  struct Notifying {
    std::vector<ConstrainedVariable*>& walks;
    Notifying(std::vector<ConstrainedVariable*>& w, ConstrainedVariable* v) : walks(w) { walks.push_back(v); }
    ~Notifying() { walks.pop_back(); }
  } notifying(m_notifying, &var);
  if (m_changeListener)
    m_changeListener(var);

  ConstrainedVariable::WalkGuard guard(var);
  const size_t count = var.m_constraints.size();
  for (size_t i = 0; i < count; ++i) {
    ConstrainedVariable::ConstraintEntry entry = var.m_constraints[i];
    if (entry.first.isNoId())
      continue;
    Constraint* constraint = entry.first;
    if (bulk != 0 && constraint->m_propagator == bulk->getId())
      constraint->m_hasRestricted = true;
    if (constraint->canIgnore(var.m_id, entry.second, changeType))
      continue;
    // canIgnore may have removed the constraint (its slot is then empty).
    if (var.m_constraints[i].first.isNoId())
      continue;
    constraint->m_propagator->handleNotification(var.m_id, entry.second, entry.first, changeType);
  }
}

void ConstraintEngine::enqueueForRelaxation(ConstrainedVariable& var) {
  if (var.m_deleting || var.m_relaxMark == m_relaxMark)
    return;
  var.m_relaxMark = m_relaxMark;
  m_relaxQueue.push_back(var.m_id);
}

void ConstraintEngine::relaxFrom(ConstrainedVariable& var) {
  if (m_deleting)
    return;
  const bool outermost = !m_relaxing;
  if (outermost)
    ++m_relaxMark;
  var.m_relaxMark = m_relaxMark;
  for (const ConstrainedVariable::ConstraintEntry& entry : var.m_constraints) {
    if (entry.first.isNoId())
      continue;
    for (const ConstrainedVariableId& other : entry.first->getScope())
      if (other.isValid())
        enqueueForRelaxation(*other);
  }
  if (outermost)
    runRelaxation();
}

void ConstraintEngine::relaxAfter(Constraint& constraint, bool scopeToo) {
  if (m_deleting)
    return;
  const bool outermost = !m_relaxing;
  if (outermost)
    ++m_relaxMark;
  if (scopeToo)
    for (const ConstrainedVariableId& var : constraint.getScope())
      if (var.isValid())
        enqueueForRelaxation(*var);
  if (outermost)
    runRelaxation();
}

void ConstraintEngine::runRelaxation() {
  Restore<bool> relaxing(m_relaxing, true);
  // A variable relaxed by an earlier run that nothing has undone since is where the full walk
  // would only repeat itself: it and all it reaches are relaxed already. Teardown removes one
  // constraint after another, each asking for the same component again.
  const bool skipRelaxed = !m_relaxEverything;
  // The per-variable line names what the full walk reaches: a listing walks what is skipped.
  static DebugMessage* const sl_relaxSites[] = {DebugMessage::addMsg(__FILE__, __LINE__, "ConstraintEngine:relax")};
  std::unique_ptr<RelaxListing> listing;
  if (skipRelaxed && DebugMessage::anyEnabled(sl_relaxSites))
    listing.reset(new RelaxListing());
  const std::uint64_t epoch = m_relaxEpoch;
  size_t next = 0;
  try {
    while (true) {
      // Emptiness may have any cause: relax it too, the next propagation re-derives it if due.
      if (!m_emptyVariables.empty()) {
        std::vector<ConstrainedVariable*> empties(m_emptyVariables);
        for (ConstrainedVariable* var : empties)
          enqueueForRelaxation(*var);
      }
      if (next >= m_relaxQueue.size())
        break;
      ConstrainedVariableId var = m_relaxQueue[next++];
      if (var.isValid()) {
        const bool skip = skipRelaxed && var->m_relaxedEpoch == m_relaxEpoch;
        if (listing)
          listRelaxation(*listing, var, skip);
        if (skip)
          continue;
        writeRelaxing(*var);
        var->relax();
      }
    }
    if (listing)
      listRelaxation(*listing, ConstrainedVariableId(), false);
  } catch (...) {
    m_relaxQueue.clear();
    throw;
  }
  // Only a run that nothing but relaxations happened in leaves its variables relaxed.
  if (epoch == m_relaxEpoch)
    for (const ConstrainedVariableId& var : m_relaxQueue)
      if (var.isValid())
        var->m_relaxedEpoch = epoch;
  m_relaxQueue.clear();
}

void ConstraintEngine::listRelaxation(RelaxListing& listing, const ConstrainedVariableId& reached, bool skipped) {
  // What the run queued since: the full walk queued it too, unless it got there first.
  for (; listing.mirrored < m_relaxQueue.size(); ++listing.mirrored) {
    const ConstrainedVariableId& var = m_relaxQueue[listing.mirrored];
    if (var.isValid() && !listing.at.emplace(var->getKey(), listing.order.size()).second)
      continue;
    listing.order.push_back(var);
  }
  if (!reached.isValid()) {
    // What the listed ones queue is listed in turn.
    while (listing.next < listing.order.size())
      listRelaxationOf(listing, listing.order[listing.next++]);
    return;
  }
  const std::unordered_map<int, size_t>::const_iterator found = listing.at.find(reached->getKey());
  check_error(found != listing.at.end(), "The relaxation listing lost a variable of the run.");
  const size_t end = found->second;
  while (listing.next < end)
    listRelaxationOf(listing, listing.order[listing.next++]);
  if (listing.next == end) {
    ++listing.next;
    // The run relaxes it itself, and writes its line.
    if (skipped)
      listRelaxationOf(listing, reached);
  }
}

void ConstraintEngine::listRelaxationOf(RelaxListing& listing, const ConstrainedVariableId& var) {
  // Relaxed again, one relaxed already changes nothing but its line and what it queues. One the
  // run queued is that when the run skips it; one the run never reaches, when its domain is at
  // what it relaxes to. Another is where the walks part: the run writes the lines of its own.
  if (!var.isValid())
    return;
  const bool stamped = var->m_relaxedEpoch == m_relaxEpoch;
  if (!(var->m_relaxMark == m_relaxMark ? stamped : stamped || relaxedAlready(*var)))
    return;
  writeRelaxing(*var);
  if (m_deleting)
    return;
  for (const ConstrainedVariable::ConstraintEntry& entry : var->m_constraints) {
    if (entry.first.isNoId())
      continue;
    for (const ConstrainedVariableId& other : entry.first->getScope())
      if (other.isValid() && !other->m_deleting && other->m_relaxMark != m_relaxMark &&
          listing.at.emplace(other->getKey(), listing.order.size()).second)
        listing.order.push_back(other);
  }
}

} // namespace KORVAN
