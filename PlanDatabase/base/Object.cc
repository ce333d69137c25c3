#include "PlanDatabase/base/Object.hh"

#include <sstream>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/TemporalAdvice.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {

const LabelStr& Object::entityTypeName() {
  static const LabelStr sl_type("Object");
  return sl_type;
}

Object::Object(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
               bool open)
    : m_id(this), m_planDatabase(planDatabase), m_type(type), m_name(name), m_closed(false),
      m_cleanedUp(false) {
  commonInit(open);
}

Object::Object(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open)
    : m_id(this), m_type(type), m_name(localName), m_parent(parent), m_closed(false),
      m_cleanedUp(false) {
  if (parent.isValid()) {
    m_planDatabase = parent->getPlanDatabase();
    m_name = LabelStr(parent->getName().toString() + "." + localName.toString());
  }
  commonInit(open);
}

void Object::commonInit(bool open) {
  try {
    checkError(m_parent.isNoId() || m_parent.isValid(),
               "Object " << m_name.toString() << " has an invalid parent.");
    checkError(m_planDatabase.isValid(),
               "Object " << m_name.toString() << " needs a valid plan database.");
    checkError(m_planDatabase->getSchema()->isObjectType(m_type),
               "Undefined object type '" << m_type.toString() << "' for object '"
                                         << m_name.toString() << "'.");
    // Written before the object is registered: a failing debug stream must leave nothing behind.
    debugMsg("Object:Object", "Created " << m_type.toString() << " " << m_name.toString());
    m_planDatabase->registerObject(m_id);
  } catch (...) {
    m_cleanedUp = true;
    m_id.remove();
    throw;
  }
  if (m_parent.isValid())
    m_parent->m_components.push_back(m_id);
  if (!open)
    Object::close();
}

Object::~Object() {
  DebugMessage::Teardown quiet;
  cleanup();
  if (m_id.isValid())
    m_id.remove();
}

void Object::handleDiscard() { cleanup(); }

void Object::cleanup() {
  if (m_cleanedUp)
    return;
  m_cleanedUp = true;
  for (auto& entry : m_orderings)
    if (entry.second.constraint.isValid())
      entry.second.constraint->discard();
  m_orderings.clear();
  // Tokens still here lose their place; they must not tell this object when they move on.
  for (const TokenId& token : m_tokens)
    if (token.isValid())
      token->m_assignedObject = ObjectId::noId();
  m_tokens.clear();
  m_tokensToOrder.clear();
  for (auto it = m_variables.rbegin(); it != m_variables.rend(); ++it)
    if (it->isValid())
      (*it)->discard();
  m_variables.clear();
  if (m_parent.isValid())
    for (auto it = m_parent->m_components.begin(); it != m_parent->m_components.end(); ++it)
      if (*it == m_id) {
        m_parent->m_components.erase(it);
        break;
      }
  for (const ObjectId& component : m_components)
    if (component.isValid())
      component->m_parent = ObjectId::noId();
  m_components.clear();
  if (m_planDatabase.isValid())
    m_planDatabase->unregisterObject(m_id);
}

std::string Object::toString() const { return m_name.toString(); }

std::string Object::toLongString() const {
  std::ostringstream os;
  os << m_type.toString() << " " << m_name.toString() << " (" << m_tokens.size() << " tokens)";
  return os.str();
}

void Object::close() {
  checkError(!m_closed, "Object " << m_name.toString() << " is already closed.");
  m_closed = true;
}

bool Object::hasToken(const TokenId& token) const {
  return token.isValid() && m_tokens.find(token) != m_tokens.end();
}

void Object::add(const TokenId& token) {
  check_error(token.isValid());
  checkError(!hasToken(token), token->toString() << " is already on " << toString() << ".");
  m_tokens.insert(token);
  debugMsg("Object:add", "Added " << token->toString() << " to " << toString());
}

void Object::remove(const TokenId& token) {
  check_error(token.isValid());
  checkError(hasToken(token), token->toString() << " is not on " << toString() << ".");
  m_tokens.erase(token);
  m_tokensToOrder.erase(token);
  debugMsg("Object:remove", "Removed " << token->toString() << " from " << toString());
}

void Object::purgeToken(const TokenId& token) {
  for (auto it = m_orderings.begin(); it != m_orderings.end();) {
    auto current = it++;
    if (current->second.predecessor == token || current->second.successor == token)
      freeOrdering(current);
  }
  if (m_tokensToOrder.find(token) != m_tokensToOrder.end())
    m_tokensToOrder.erase(token);
  if (m_tokens.find(token) != m_tokens.end())
    m_tokens.erase(token);
}

ConstrainedVariableId Object::addVariable(const AbstractDomain& baseDomain,
                                          const LabelStr& memberName) {
  checkError(!m_closed, "Cannot add member '" << memberName.toString() << "' to "
                                              << m_name.toString() << ": the object is closed.");
  LabelStr fullName(m_name.toString() + "." + memberName.toString());
  checkError(getVariable(fullName).isNoId(),
             "Object " << m_name.toString() << " already has a member '"
                       << memberName.toString() << "'.");
  const ConstraintEngineId& ce = m_planDatabase->getConstraintEngine();
  int index = static_cast<int>(m_variables.size());
  ConstrainedVariable* var;
  if (dynamic_cast<const IntervalIntDomain*>(&baseDomain) != nullptr)
    var = new Variable<IntervalIntDomain>(ce, baseDomain, false, true, fullName, m_id, index);
  else if (dynamic_cast<const IntervalDomain*>(&baseDomain) != nullptr)
    var = new Variable<IntervalDomain>(ce, baseDomain, false, true, fullName, m_id, index);
  else {
    checkError(dynamic_cast<const EnumeratedDomain*>(&baseDomain) != nullptr,
               "Member '" << memberName.toString() << "' of " << m_name.toString()
                          << " has a domain of an unknown class.");
    var = new Variable<EnumeratedDomain>(ce, baseDomain, false, true, fullName, m_id, index);
  }
  m_variables.push_back(var->getId());
  return var->getId();
}

ConstrainedVariableId Object::getVariable(const LabelStr& fullName) const {
  for (const ConstrainedVariableId& var : m_variables)
    if (var->getName() == fullName)
      return var;
  return ConstrainedVariableId::noId();
}

void Object::constrain(const TokenId& predecessor, const TokenId& successor) {
  check_error(predecessor.isValid());
  check_error(successor.isValid());
  checkError(predecessor != successor,
             "Cannot order " << predecessor->toString() << " before itself.");
  checkError(!isConstrainedToPrecede(predecessor, successor),
             predecessor->toString() << " is already constrained to precede "
                                     << successor->toString() << " on " << toString() << ".");
  checkError(predecessor->getObject()->lastDomain().isMember((double)m_id),
             predecessor->toString() << " cannot be on " << toString() << ".");
  checkError(successor->getObject()->lastDomain().isMember((double)m_id),
             successor->toString() << " cannot be on " << toString() << ".");
  std::vector<ConstrainedVariableId> scope;
  scope.push_back(predecessor->end());
  scope.push_back(successor->start());
  Ordering ordering;
  ordering.predecessor = predecessor;
  ordering.successor = successor;
  ordering.constraint = m_planDatabase->getConstraintEngine()->createConstraint("precedes", scope);
  m_orderings[KeyPair(predecessor->getKey(), successor->getKey())] = ordering;
  debugMsg("Object:constrain", predecessor->toString() << " before " << successor->toString()
                                                       << " on " << toString());
}

void Object::free(const TokenId& predecessor, const TokenId& successor) {
  check_error(predecessor.isValid());
  check_error(successor.isValid());
  auto it = m_orderings.find(KeyPair(predecessor->getKey(), successor->getKey()));
  checkError(it != m_orderings.end(),
             predecessor->toString() << " is not constrained to precede " << successor->toString()
                                     << " on " << toString() << ".");
  freeOrdering(it);
  debugMsg("Object:free", predecessor->toString() << " no longer before "
                                                  << successor->toString() << " on " << toString());
}

void Object::freeOrdering(std::map<KeyPair, Ordering>::iterator it) {
  ConstraintId constraint = it->second.constraint;
  m_orderings.erase(it);
  if (constraint.isValid())
    constraint->discard();
}

bool Object::isConstrainedToPrecede(const TokenId& predecessor, const TokenId& successor) const {
  if (!predecessor.isValid() || !successor.isValid())
    return false;
  return m_orderings.find(KeyPair(predecessor->getKey(), successor->getKey())) != m_orderings.end();
}

ConstraintId Object::getPrecedenceConstraint(const TokenId& predecessor,
                                             const TokenId& successor) const {
  if (!predecessor.isValid() || !successor.isValid())
    return ConstraintId::noId();
  auto it = m_orderings.find(KeyPair(predecessor->getKey(), successor->getKey()));
  return it == m_orderings.end() ? ConstraintId::noId() : it->second.constraint;
}

std::vector<std::pair<TokenId, TokenId>> Object::getOrderings() const {
  std::vector<std::pair<TokenId, TokenId>> result;
  for (const auto& entry : m_orderings)
    result.emplace_back(entry.second.predecessor, entry.second.successor);
  return result;
}

void Object::notifyOrderingRequired(const TokenId& token) {
  // Called in the middle of a resource's update, which cannot be undone: a debug line lost here
  // is recorded and reported at the end of the run rather than raised.
  DebugMessage::Teardown quiet;
  check_error(token.isValid());
  m_tokensToOrder.insert(token);
  debugMsg("Object:notifyOrderingRequired", token->toString() << " on " << toString());
}

void Object::notifyOrderingNoLongerRequired(const TokenId& token) {
  // Called in the middle of a resource's update, which cannot be undone: a debug line lost here
  // is recorded and reported at the end of the run rather than raised.
  DebugMessage::Teardown quiet;
  check_error(token.isValid());
  if (m_tokensToOrder.find(token) != m_tokensToOrder.end())
    m_tokensToOrder.erase(token);
  debugMsg("Object:notifyOrderingNoLongerRequired", token->toString() << " on " << toString());
}

void Object::getOrderingChoices(const TokenId& token,
                                std::vector<std::pair<TokenId, TokenId>>& results,
                                unsigned int limit) {
  check_error(results.empty());
  check_error(token.isValid());
  check_error(limit > 0);
  for (const TokenId& other : m_tokens) {
    if (other == token)
      continue;
    if (results.size() < limit && !isConstrainedToPrecede(token, other) &&
        canPrecede(m_planDatabase, token, other))
      results.emplace_back(token, other);
    if (results.size() < limit && !isConstrainedToPrecede(other, token) &&
        canPrecede(m_planDatabase, other, token))
      results.emplace_back(other, token);
    if (results.size() >= limit)
      break;
  }
}

void Object::getTokensToOrder(std::vector<TokenId>& results) {
  check_error(results.empty());
  results.assign(m_tokensToOrder.begin(), m_tokensToOrder.end());
}

bool Object::hasTokensToOrder() const { return !m_tokensToOrder.empty(); }

ApList<ApEntityKey> Object::getMemberVariables() {
  ApList<ApEntityKey> keys;
  for (const ConstrainedVariableId& var : m_variables)
    keys.push_back(var->getKey());
  return keys;
}

ApVariable* Object::getMemberVariable(const std::string& name) {
  ConstrainedVariableId var = getVariable(LabelStr(name));
  if (var.isNoId())
    var = getVariable(LabelStr(m_name.toString() + "." + name));
  return var.isNoId() ? nullptr : (ConstrainedVariable*)var;
}

ApList<ApEntityKey> Object::getTokens() const {
  ApList<ApEntityKey> keys;
  for (const TokenId& token : m_tokens)
    keys.push_back(token->getKey());
  return keys;
}

void Object::addPrecedence(ApToken* predecessor, ApToken* successor) {
  Token* pred = dynamic_cast<Token*>(predecessor);
  Token* succ = dynamic_cast<Token*>(successor);
  checkError(pred != nullptr && succ != nullptr, "addPrecedence needs tokens of this database.");
  constrain(pred->getId(), succ->getId());
}

void Object::removePrecedence(ApToken* predecessor, ApToken* successor) {
  Token* pred = dynamic_cast<Token*>(predecessor);
  Token* succ = dynamic_cast<Token*>(successor);
  checkError(pred != nullptr && succ != nullptr, "removePrecedence needs tokens of this database.");
  free(pred->getId(), succ->getId());
}

} // namespace KORVAN
