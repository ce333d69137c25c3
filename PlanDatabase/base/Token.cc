#include "PlanDatabase/base/Token.hh"

#include <memory>
#include <new>
#include <sstream>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {

/// Keeps a token's place on objects in step with its state and object variables. It never
/// runs: every change of either variable is handled in canIgnore, which always answers true.
class ObjectTokenRelation : public Constraint {
public:
  ObjectTokenRelation(const ConstraintEngineId& constraintEngine,
                      const std::vector<ConstrainedVariableId>& scope, const TokenId& token)
      : Constraint(CONSTRAINT_NAME(), PlanDatabase::PROPAGATOR_NAME(), constraintEngine, scope),
        m_token(token) {}

  static const LabelStr& CONSTRAINT_NAME() {
    static const LabelStr sl_name("ObjectTokenRelation");
    return sl_name;
  }

  bool canIgnore(const ConstrainedVariableId& /*variable*/, int /*argIndex*/,
                 const DomainListener::ChangeType& /*changeType*/) override {
    if (m_token.isValid() && !m_token->isDeleted())
      m_token->updateObjectAssignment();
    return true;
  }

private:
  void handleExecute() override {}

  TokenId m_token;
};

const LabelStr Token::ACTIVE("ACTIVE");
const LabelStr Token::MERGED("MERGED");
const LabelStr Token::REJECTED("REJECTED");
const LabelStr Token::INACTIVE("INACTIVE");

const LabelStr& Token::noObject() {
  static const LabelStr sl_noObject("noObject");
  return sl_noObject;
}

const LabelStr& Token::entityTypeName() {
  static const LabelStr sl_type("Token");
  return sl_type;
}

Token::Token(const PlanDatabaseId& planDatabase, const LabelStr& predicateName, bool rejectable,
             bool isFact, const LabelStr& objectName)
    : m_id(this), m_planDatabase(planDatabase), m_predicateName(predicateName),
      m_rejectable(rejectable), m_isFact(isFact), m_closed(false), m_deleted(false),
      m_cleanedUp(false), m_builtInCount(0) {
  try {
    checkError(planDatabase.isValid(), "Token " << predicateName.toString()
                                                << " needs a valid plan database.");
    commonInit(objectName);
  } catch (...) {
    cleanup();
    m_id.remove();
    throw;
  }
}

Token::Token(const TokenId& master, const LabelStr& relation, const LabelStr& predicateName,
             const LabelStr& objectName)
    : m_id(this), m_predicateName(predicateName), m_rejectable(false), m_isFact(false),
      m_closed(false), m_deleted(false), m_cleanedUp(false), m_master(master),
      m_relation(relation), m_builtInCount(0) {
  try {
    checkError(master.isValid(), "Slave token " << predicateName.toString()
                                                << " needs a valid master.");
    checkError(!master->isDeleted(), "Slave token " << predicateName.toString()
                                                    << " of a deleted master.");
    m_planDatabase = master->getPlanDatabase();
    commonInit(objectName);
    master->m_slaves.insert(m_id);
  } catch (...) {
    cleanup();
    m_id.remove();
    throw;
  }
}

void Token::commonInit(const LabelStr& objectName) {
  const SchemaId& schema = m_planDatabase->getSchema();
  checkError(schema->isPredicate(m_predicateName),
             "Undefined predicate '" << m_predicateName.toString() << "'.");
  m_objectType = schema->getObjectType(m_predicateName);
  const ConstraintEngineId& ce = m_planDatabase->getConstraintEngine();

  StateDomain states;
  states.insert(ACTIVE);
  states.insert(MERGED);
  if (m_rejectable)
    states.insert(REJECTED);
  ObjectDomain objects = m_planDatabase->makeObjectDomain(m_objectType, objectName);

  m_state = (new TokenVariable<StateDomain>(m_id, 0, ce, states, false, true, "state"))->getId();
  appendVariable(m_state);
  m_object = (new TokenVariable<ObjectDomain>(m_id, 1, ce, objects, false, true, "object"))->getId();
  appendVariable(m_object);
}

void Token::finishConstruction(const TempVarId& start, const TempVarId& end,
                               const TempVarId& duration, bool closed) {
  m_start = start;
  m_end = end;
  m_duration = duration;
  m_builtInCount = static_cast<unsigned int>(m_allVariables.size());
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(m_state);
  scope.push_back(m_object);
  addStandardConstraint(
      (new ObjectTokenRelation(m_planDatabase->getConstraintEngine(), scope, m_id))->getId());
  m_planDatabase->registerToken(m_id);
  updateObjectAssignment();
  debugMsg("Token:Token", "Created " << toString());
  if (closed)
    close();
}

Token::~Token() {
  DebugMessage::Teardown quiet;
  // Short of memory, what is left goes with the process: nothing may leave a destructor.
  try {
    cleanup();
  } catch (const std::bad_alloc&) {
  }
  m_id.remove();
}

void Token::handleDiscard() { cleanup(); }

void Token::cleanup() {
  if (m_cleanedUp)
    return;
  m_cleanedUp = true;
  m_deleted = true;
  debugMsg("Token:delete", "Deleting " << m_predicateName.toString() << "(" << getKey() << ")");

  // A slave cannot outlive its master. Taken by swaps, not copies: this runs while a failed
  // construction unwinds, where an allocation could end the process.
  TokenSet slaves;
  slaves.swap(m_slaves);
  for (const TokenId& slave : slaves)
    if (slave.isValid())
      slave->discard();
  if (m_master.isValid() && m_master->m_slaves.find(m_id) != m_master->m_slaves.end())
    m_master->m_slaves.erase(m_id);

  TokenSet merged = m_mergedTokens;
  for (const TokenId& token : merged)
    if (token.isValid() && token->isMerged())
      token->split();
  if (isMerged())
    split();

  if (!m_assignedObject.isNoId()) {
    ObjectId object = m_assignedObject;
    m_assignedObject = ObjectId::noId();
    if (object.isValid())
      object->remove(m_id);
  }
  if (m_planDatabase.isValid())
    m_planDatabase->purgeTokenFromObjects(m_id);

  ConstraintSet constraints;
  constraints.swap(m_standardConstraints);
  for (const ConstraintId& constraint : constraints)
    if (constraint.isValid())
      constraint->discard();

  // Discarding a variable also discards every other constraint still over it.
  for (auto it = m_allVariables.rbegin(); it != m_allVariables.rend(); ++it)
    if (it->isValid())
      (*it)->discard();
  m_allVariables.clear();

  if (m_planDatabase.isValid())
    m_planDatabase->unregisterToken(m_id);
}

ConstrainedVariableId Token::getVariable(const LabelStr& name) const {
  for (const ConstrainedVariableId& var : m_allVariables)
    if (var->getName() == name)
      return var;
  return ConstrainedVariableId::noId();
}

void Token::appendVariable(const ConstrainedVariableId& var) {
  check_error(var.isValid());
  checkError(var->getIndex() == static_cast<int>(m_allVariables.size()),
             "Variable " << var->toString() << " has index " << var->getIndex() << " but "
                         << toString() << " has " << m_allVariables.size() << " variables.");
  checkError(var->parent() == EntityId(m_id),
             "Variable " << var->toString() << " does not belong to " << toString() << ".");
  m_allVariables.push_back(var);
}

void Token::addStandardConstraint(const ConstraintId& constraint) {
  check_error(constraint.isValid());
  m_standardConstraints.insert(constraint);
}

void Token::close() {
  checkError(!m_closed, "Token " << toString() << " is already closed.");
  m_closed = true;
  debugMsg("Token:close", "Closed " << toString());
}

bool Token::isActive() const {
  const AbstractDomain& states = m_state->lastDomain();
  return states.isSingleton() && states.getSingletonValue() == ACTIVE.getKey();
}

bool Token::isRejected() const {
  const AbstractDomain& states = m_state->lastDomain();
  return states.isSingleton() && states.getSingletonValue() == REJECTED.getKey();
}

bool Token::isInactive() const { return !isActive() && !isMerged() && !isRejected(); }

void Token::activateInternal() {
  checkError(!m_deleted, "Cannot activate the deleted token " << toString() << ".");
  checkError(!isMerged() && !isRejected(),
             "Cannot activate " << toString() << ": it is " << getTokenState() << ".");
  if (isActive())
    return;
  m_state->specify(ACTIVE);
  debugMsg("Token:activate", "Activated " << toString());
}

void Token::deactivate() {
  checkError(isActive(), "Cannot deactivate " << toString() << ": it is not active.");
  // A state restricted to ACTIVE when the token was made: resetting it would leave it active without a word.
  checkError(m_state->baseDomain().isMember(MERGED.getKey()),
             "Cannot deactivate " << toString() << ": it was made active and cannot be anything else.");
  checkError(m_mergedTokens.empty(),
             "Cannot deactivate " << toString() << ": tokens are merged onto it.");
  m_state->reset();
}

void Token::reject() {
  checkError(m_rejectable, "Cannot reject " << toString() << ": it is not rejectable.");
  checkError(isInactive(), "Cannot reject " << toString() << ": it is " << getTokenState() << ".");
  m_state->specify(REJECTED);
}

void Token::cancel() {
  if (isMerged())
    split();
  else if (isActive())
    deactivate();
  else if (isRejected())
    m_state->reset();
  else
    checkError(ALWAYS_FAIL, "Cannot cancel " << toString() << ": it is inactive.");
}

void Token::merge(const TokenId& activeToken) {
  checkError(activeToken.isValid(), "Cannot merge " << toString() << " onto an invalid token.");
  checkError(activeToken != m_id, "Cannot merge " << toString() << " onto itself.");
  checkError(isInactive(), "Cannot merge " << toString() << ": it is " << getTokenState() << ".");
  checkError(activeToken->isActive(),
             "Cannot merge onto " << activeToken->toString() << ": it is not active.");
  checkError(activeToken->getPredicateName() == m_predicateName,
             "Cannot merge " << toString() << " onto " << activeToken->toString()
                             << ": their predicates differ.");
  checkError(activeToken->getVariables().size() == m_allVariables.size(),
             "Cannot merge " << toString() << " onto " << activeToken->toString()
                             << ": their numbers of variables differ.");
  // A base domain disjoint from what the active token already integrates could not be split off
  // again cleanly: refuse it before anything changes.
  for (unsigned int i = 1; i < m_allVariables.size(); ++i) {
    const AbstractDomain& mine = m_allVariables[i]->baseDomain();
    if (mine.isOpen())
      continue;
    std::unique_ptr<AbstractDomain> integrated(activeToken->m_allVariables[i]->baseDomain().copy());
    for (const TokenId& other : activeToken->m_mergedTokens)
      integrated->intersect(other->m_allVariables[i]->baseDomain());
    checkError(mine.intersects(*integrated), m_allVariables[i]->toString() << " cannot merge.");
  }
  m_state->specify(MERGED);

  // While merged, the token's constraints do not act here: each is deactivated once for this
  // merge, and those that can be copied act through a copy on the active token's variables.
  // Copies made for other merges are rebuilt from their originals, which are in the list too.
  ConstraintSet constraints;
  for (const ConstrainedVariableId& var : m_allVariables)
    var->constraints(constraints);
  std::vector<ConstraintId> originals;
  for (const ConstraintId& constraint : constraints)
    if (!m_planDatabase->isMergeCopy(constraint))
      originals.push_back(constraint);
  // A deactivation may discard copies made for other merges: the list holds no copy.
  for (const ConstraintId& constraint : originals) {
    constraint->deactivate();
    m_deactivatedByMerge.push_back(constraint);
    m_inactiveConstraints.push_back(constraint);
  }

  m_activeToken = activeToken;
  activeToken->m_mergedTokens.insert(m_id);
  // The state variable is left out: the merged token's state says MERGED, not ACTIVE.
  try {
    for (unsigned int i = 1; i < m_allVariables.size(); ++i) {
      const ConstrainedVariableId& mine = m_allVariables[i];
      const ConstrainedVariableId& theirs = activeToken->m_allVariables[i];
      theirs->handleBase(mine->baseDomain());
      if (mine->isSpecified())
        theirs->handleSpecified(mine->getSpecifiedValue());
    }
    for (const ConstraintId& constraint : originals)
      m_planDatabase->refreshMergeCopy(constraint);
  } catch (...) {
    // A merge that cannot be made leaves both tokens as they were.
    split();
    throw;
  }
  debugMsg("Token:merge", "Merged " << toString() << " onto " << activeToken->toString());
}

void Token::split() {
  checkError(isMerged(), "Cannot split " << toString() << ": it is not merged.");
  TokenId activeToken = m_activeToken;
  m_activeToken = TokenId::noId();
  activeToken->m_mergedTokens.erase(m_id);
  for (unsigned int i = 1; i < activeToken->m_allVariables.size(); ++i) {
    const ConstrainedVariableId& var = activeToken->m_allVariables[i];
    var->handleReset();
    var->relax();
  }
  m_state->reset();
  std::vector<ConstraintId> constraints;
  constraints.swap(m_deactivatedByMerge);
  m_inactiveConstraints.clear();
  for (const ConstraintId& constraint : constraints)
    if (constraint.isValid())
      constraint->undoDeactivation();
  // Their copies now follow the merges that remain, or go.
  for (const ConstraintId& constraint : constraints)
    m_planDatabase->refreshMergeCopy(constraint);
  debugMsg("Token:split", "Split " << toString() << " from " << activeToken->toString());
}

void Token::handleAdditionOfInactiveConstraint(const ConstraintId& constraint) {
  m_inactiveConstraints.push_back(constraint);
}

void Token::handleRemovalOfInactiveConstraint(const ConstraintId& constraint) {
  if (m_planDatabase.isValid())
    m_planDatabase->dropMergeCopy(constraint);
  for (auto it = m_inactiveConstraints.begin(); it != m_inactiveConstraints.end(); ++it)
    if (*it == constraint) {
      m_inactiveConstraints.erase(it);
      break;
    }
  for (auto it = m_deactivatedByMerge.begin(); it != m_deactivatedByMerge.end(); ++it)
    if (*it == constraint) {
      m_deactivatedByMerge.erase(it);
      break;
    }
}

void Token::handleUndoDeactivation(const ConstraintId& constraint) {
  if (!m_planDatabase.isValid())
    return;
  checkError(constraint->deactivationCount() > m_planDatabase->mergeHolds(constraint),
             "Cannot activate " << constraint->toString() << ": " << toString() << " is merged onto "
                                << m_activeToken->toString() << ".");
}

void Token::handleConstraintActivityChanged(const ConstraintId& constraint) {
  if (m_planDatabase.isValid())
    m_planDatabase->refreshMergeCopy(constraint);
}

void Token::updateObjectAssignment() {
  if (m_deleted || m_state.isNoId() || m_object.isNoId())
    return;
  // An emptied domain says the engine is inconsistent, not where the token is: leaving the object
  // now would discard the object's own constraints on the token mid-propagation, relax the engine
  // and let the same propagation empty the domain again. The place follows the domain once the
  // engine has relaxed it.
  if (m_state->lastDomain().isEmpty() || m_object->lastDomain().isEmpty())
    return;
  ObjectId target;
  if (isActive()) {
    const AbstractDomain& objects = m_object->lastDomain();
    if (objects.isSingleton())
      target = ObjectId(objects.getSingletonValue());
  }
  if (target == m_assignedObject)
    return;
  // Record the new place before telling the objects: they may change domains in turn.
  ObjectId previous = m_assignedObject;
  m_assignedObject = target;
  if (previous.isValid())
    previous->remove(m_id);
  if (target.isValid()) {
    try {
      target->add(m_id);
    } catch (...) {
      // Refused: the token is on no object, and deleting it must not try to take it off one.
      m_assignedObject = ObjectId::noId();
      throw;
    }
  }
}

std::string Token::toString() const {
  std::ostringstream os;
  os << m_predicateName.toString() << "(" << getKey() << ")";
  return os.str();
}

std::string Token::toLongString() const {
  std::ostringstream os;
  os << toString() << " " << getTokenState();
  for (const ConstrainedVariableId& var : m_allVariables)
    if (var.isValid())
      os << " " << var->getName().toString() << "=" << var->lastDomain().toString();
  return os.str();
}

std::string Token::getTokenState() const {
  if (isMerged())
    return MERGED.toString();
  if (isActive())
    return ACTIVE.toString();
  if (isRejected())
    return REJECTED.toString();
  return INACTIVE.toString();
}

namespace {
ApList<ApEntityKey> keysOf(const TokenSet& tokens) {
  ApList<ApEntityKey> keys;
  for (const TokenId& token : tokens)
    keys.push_back(token->getKey());
  return keys;
}
} // namespace

ApVariable* Token::getStart() const { return (ConstrainedVariable*)m_start; }
ApVariable* Token::getEnd() const { return (ConstrainedVariable*)m_end; }
ApVariable* Token::getDuration() const { return (ConstrainedVariable*)m_duration; }

ApObject* Token::getOwner() const {
  return m_assignedObject.isValid() ? (Object*)m_assignedObject : nullptr;
}

ApToken* Token::getMaster() const { return m_master.isValid() ? (Token*)m_master : nullptr; }

ApList<ApEntityKey> Token::getSlaves() const { return keysOf(m_slaves); }

ApToken* Token::getActive() const {
  return m_activeToken.isValid() ? (Token*)m_activeToken : nullptr;
}

ApList<ApEntityKey> Token::getMerged() const { return keysOf(m_mergedTokens); }

double Token::getViolation() const {
  double violation = 0.0;
  for (const ConstraintId& constraint : m_standardConstraints)
    violation += constraint->getViolation();
  return violation;
}

std::string Token::getViolationExpl() const {
  std::string explanation;
  for (const ConstraintId& constraint : m_standardConstraints)
    if (constraint->isViolated()) {
      if (!explanation.empty())
        explanation += "; ";
      explanation += constraint->getViolationExpl();
    }
  return explanation;
}

ApList<ApEntityKey> Token::getParameters() const {
  ApList<ApEntityKey> keys;
  for (unsigned int i = m_builtInCount; i < m_allVariables.size(); ++i)
    keys.push_back(m_allVariables[i]->getKey());
  return keys;
}

ApVariable* Token::getParameter(const std::string& name) const {
  ConstrainedVariableId var = getVariable(LabelStr(name));
  return var.isNoId() ? nullptr : (ConstrainedVariable*)var;
}

void Token::merge(ApToken* activeToken) {
  Token* token = dynamic_cast<Token*>(activeToken);
  checkError(token != nullptr, "Cannot merge " << toString() << " onto a foreign token.");
  merge(token->getId());
}

ApList<ApEntityKey> Token::getCompatibleTokens(unsigned int limit, bool /*useExactTest*/) {
  ApList<ApEntityKey> keys;
  unsigned int count = 0;
  for (const auto& entry : m_planDatabase->getTokens()) {
    if (count >= limit)
      break;
    const TokenId& candidate = entry.second;
    if (candidate == m_id || !candidate->isActive() ||
        candidate->getPredicateName() != m_predicateName ||
        candidate->getVariables().size() != m_allVariables.size())
      continue;
    bool compatible = true;
    for (unsigned int i = 1; i < m_allVariables.size() && compatible; ++i)
      compatible = m_allVariables[i]->lastDomain().intersects(
          candidate->getVariables()[i]->lastDomain());
    if (compatible) {
      keys.push_back(candidate->getKey());
      ++count;
    }
  }
  return keys;
}

} // namespace KORVAN
