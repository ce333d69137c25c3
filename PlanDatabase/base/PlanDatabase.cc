#include "PlanDatabase/base/PlanDatabase.hh"

#include <algorithm>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/TemporalAdvice.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {

const std::string& PlanDatabase::COMPONENT_NAME() {
  static const std::string sl_name("PlanDatabase");
  return sl_name;
}

const LabelStr& PlanDatabase::PROPAGATOR_NAME() {
  static const LabelStr sl_name("PlanDatabase");
  return sl_name;
}

PlanDatabase::PlanDatabase(const ConstraintEngineId& constraintEngine, const SchemaId& schema,
                           const EngineId& engine)
    : m_id(this), m_constraintEngine(constraintEngine), m_schema(schema), m_engine(engine),
      m_closed(false), m_deleting(false), m_tokenObjects(nullptr) {
  try {
    checkError(constraintEngine.isValid(), "The plan database needs a valid constraint engine.");
    checkError(schema.isValid(), "The plan database needs a valid schema.");
    if (constraintEngine->getPropagatorByName(PROPAGATOR_NAME()).isNoId())
      new DefaultPropagator(PROPAGATOR_NAME(), constraintEngine);
    // Tokens relate their time variables through the temporal network.
    initTemporalConstraints(constraintEngine);
    m_temporalAdvisor = (new TemporalAdvisor(constraintEngine))->getId();
    m_client = (new DbClient(m_id))->getId();
  } catch (...) {
    delete (TemporalAdvisor*)m_temporalAdvisor;
    m_id.remove();
    throw;
  }
}

PlanDatabase::~PlanDatabase() {
  DebugMessage::Teardown quiet;
  m_deleting = true;
  purge();
  delete (DbClient*)m_client;
  delete (TemporalAdvisor*)m_temporalAdvisor;
  m_id.remove();
}

const EngineId& PlanDatabase::getEngine() const {
  checkError(m_engine.isValid(), "The plan database is not attached to an engine.");
  return m_engine;
}

void PlanDatabase::purge() {
  bool wasDeleting = m_deleting;
  m_deleting = true;
  if (!m_tokens.empty())
    for (const auto& entry : m_objects)
      if (entry.second.isValid())
        entry.second->handlePurge();
  // Masters take their slaves along.
  while (!m_tokens.empty()) {
    int key = m_tokens.begin()->first;
    TokenId token = m_tokens.begin()->second;
    for (const auto& entry : m_tokens)
      if (entry.second.isValid() && entry.second->getMasterToken().isNoId()) {
        key = entry.first;
        token = entry.second;
        break;
      }
    if (token.isValid())
      token->discard();
    // A token whose deletion failed half-way is already marked discarded and discarding it
    // again does nothing: drop it from the tables so that the purge still ends.
    if (m_tokens.count(key) != 0 && m_tokens[key] == token) {
      debugMsg("PlanDatabase:purge", "Dropping a token left half-deleted: key " << key);
      m_tokens.erase(key);
    }
  }
  // Newest first, so that components go before the objects they belong to.
  while (!m_objects.empty()) {
    auto last = std::prev(m_objects.end());
    int key = last->first;
    ObjectId object = last->second;
    if (object.isValid())
      object->discard();
    if (m_objects.count(key) != 0 && m_objects[key] == object) {
      debugMsg("PlanDatabase:purge", "Dropping an object left half-deleted: key " << key);
      m_objects.erase(key);
    }
  }
  m_deleting = wasDeleting;
}

ObjectId PlanDatabase::getObject(const LabelStr& name) const {
  auto it = m_objectsByName.find(name.getKey());
  return it == m_objectsByName.end() ? ObjectId::noId() : it->second;
}

TokenId PlanDatabase::getToken(int key) const {
  auto it = m_tokens.find(key);
  return it == m_tokens.end() ? TokenId::noId() : it->second;
}

void PlanDatabase::close() {
  checkError(!m_closed, "The plan database is already closed.");
  m_closed = true;
  std::vector<TokenId> tokens;
  for (const auto& entry : m_tokens)
    tokens.push_back(entry.second);
  for (const TokenId& token : tokens)
    if (token.isValid() && token->getObject()->lastDomain().isOpen())
      token->getObject()->close();
  debugMsg("PlanDatabase:close", "Closed with " << m_objects.size() << " objects and "
                                                << m_tokens.size() << " tokens");
}

void PlanDatabase::registerObject(const ObjectId& object) {
  checkError(!m_closed, "Cannot create object '" << object->getName().toString()
                                                 << "': the plan database is closed.");
  checkError(getObject(object->getName()).isNoId(),
             "An object named '" << object->getName().toString() << "' already exists.");
  m_objects.emplace(object->getKey(), object);
  m_objectsByName.emplace(object->getName().getKey(), object);
  for (const LabelStr& type : m_schema->getAllObjectTypes(object->getType()))
    m_objectsByType.emplace(type.getKey(), object);
  // Tokens made earlier may go on the new object too.
  std::vector<TokenId> tokens;
  for (const auto& entry : m_tokens)
    tokens.push_back(entry.second);
  for (const TokenId& token : tokens)
    if (token.isValid() && token->getObject()->lastDomain().isOpen() &&
        m_schema->isA(object->getType(), token->getBaseObjectType()))
      token->getObject()->insert((double)object);
}

void PlanDatabase::unregisterObject(const ObjectId& object) {
  m_objects.erase(object->getKey());
  auto byName = m_objectsByName.find(object->getName().getKey());
  if (byName != m_objectsByName.end() && byName->second == object)
    m_objectsByName.erase(byName);
  for (auto it = m_objectsByType.begin(); it != m_objectsByType.end();) {
    if (it->second == object)
      it = m_objectsByType.erase(it);
    else
      ++it;
  }
  if (m_deleting)
    return;
  // A deleted object is no longer a place for any token.
  std::vector<TokenId> tokens;
  for (const auto& entry : m_tokens)
    tokens.push_back(entry.second);
  for (const TokenId& token : tokens)
    if (token.isValid() && token->getObject()->baseDomain().isMember((double)object))
      token->getObject()->remove((double)object);
}

void PlanDatabase::registerToken(const TokenId& token) { m_tokens.emplace_hint(m_tokens.end(), token->getKey(), token); }

void PlanDatabase::unregisterToken(const TokenId& token) { m_tokens.erase(token->getKey()); }

void PlanDatabase::purgeTokenFromObjects(const TokenId& token) {
  for (const auto& entry : m_objects)
    entry.second->purgeToken(token);
}

ObjectDomain PlanDatabase::makeObjectDomain(const LabelStr& objectType,
                                            const LabelStr& objectName) const {
  if (objectName != Token::noObject()) {
    ObjectId object = getObject(objectName);
    checkError(object.isValid(), "No object named '" << objectName.toString() << "'.");
    checkError(m_schema->isA(object->getType(), objectType),
               "Object '" << objectName.toString() << "' of type '"
                          << object->getType().toString() << "' is not a "
                          << objectType.toString() << ".");
    ++objectsOffered();
    return ObjectDomain(object, objectType);
  }
  if (m_tokenObjects != nullptr && m_tokenObjects->m_objectType == objectType) {
    objectsOffered() += m_tokenObjects->m_objects.size();
    return ObjectDomain(m_tokenObjects->m_objects, true, objectType);
  }
  std::list<double> values;
  for (auto it = m_objectsByType.lower_bound(objectType.getKey());
       it != m_objectsByType.end() && it->first == objectType.getKey(); ++it)
    values.push_back((double)it->second);
  objectsOffered() += values.size();
  return ObjectDomain(values, m_closed, objectType);
}

unsigned long long& PlanDatabase::objectsOffered() {
  static unsigned long long sl_offered = 0;
  return sl_offered;
}

PlanDatabase::TokenObjects::TokenObjects(const PlanDatabaseId& db, const LabelStr& objectType,
                                         const std::list<double>& objects)
    : m_db(db), m_objectType(objectType), m_objects(objects), m_outer(db->m_tokenObjects) {
  db->m_tokenObjects = this;
}

PlanDatabase::TokenObjects::~TokenObjects() {
  if (m_db.isValid())
    m_db->m_tokenObjects = m_outer;
}

bool TemporalAdvisor::canPrecede(const TokenId& first, const TokenId& second) {
  check_error(first.isValid());
  check_error(second.isValid());
  return canPrecede(ConstrainedVariableId(first->end()), ConstrainedVariableId(second->start()));
}

bool canPrecede(const PlanDatabaseId& planDatabase, const TokenId& predecessor,
                const TokenId& successor) {
  return planDatabase->getTemporalAdvisor()->canPrecede(predecessor, successor);
}

namespace {

/// The token that owns the variable, or null.
Token* parentToken(const ConstrainedVariableId& var) {
  const EntityId& parent = var->parent();
  return parent.isValid() ? dynamic_cast<Token*>((Entity*)parent) : nullptr;
}

} // namespace

void PlanDatabase::refreshMergeCopy(const ConstraintId& original) {
  if (!original.isValid())
    return;
  // Where the constraint should act now, and how many merges hold it inactive.
  std::vector<ConstrainedVariableId> scope = original->getScope();
  std::vector<Token*> mergedTokens;
  bool standard = false;
  for (ConstrainedVariableId& var : scope) {
    Token* token = parentToken(var);
    if (token == nullptr)
      continue;
    const ConstraintSet& own = token->getStandardConstraints();
    standard = standard || own.find(original) != own.end();
    if (!token->isMerged())
      continue;
    if (std::find(mergedTokens.begin(), mergedTokens.end(), token) == mergedTokens.end())
      mergedTokens.push_back(token);
    var = token->getActiveToken()->getVariables()[var->getIndex()];
  }
  // A token's own constraints are repeated by the active token; constraints not made through a
  // factory cannot be copied, and those inactive for other reasons stay so.
  const bool wanted = !mergedTokens.empty() && !standard &&
                      m_constraintEngine->getCESchema()->isConstraintType(original->getName()) &&
                      original->deactivationCount() == mergedTokens.size();
  std::map<int, std::pair<ConstraintId, int>>::iterator it = m_mergeCopies.find(original->getKey());
  if (it != m_mergeCopies.end()) {
    const ConstraintId& copy = it->second.first;
    if (wanted && copy.isValid() && copy->getScope() == scope)
      return;
    dropMergeCopy(original);
  }
  if (!wanted)
    return;
  ConstraintId copy = m_constraintEngine->createConstraint(original->getName(), scope);
  copy->setSource(original);
  m_mergeCopies[original->getKey()] = std::make_pair(copy, copy->getKey());
  m_mergeOriginals[copy->getKey()] = original->getKey();
  debugMsg("PlanDatabase:refreshMergeCopy", "Copied " << original->toString() << " as " << copy->toString());
}

void PlanDatabase::dropMergeCopy(const ConstraintId& original) {
  std::map<int, std::pair<ConstraintId, int>>::iterator it = m_mergeCopies.find(original->getKey());
  if (it == m_mergeCopies.end())
    return;
  const ConstraintId copy = it->second.first;
  m_mergeOriginals.erase(it->second.second);
  m_mergeCopies.erase(it);
  if (copy.isValid())
    copy->discard();
}

unsigned int PlanDatabase::mergeHolds(const ConstraintId& constraint) const {
  std::vector<Token*> holders;
  for (const ConstrainedVariableId& var : constraint->getScope()) {
    Token* token = parentToken(var);
    if (token == nullptr || !token->isMerged() ||
        std::find(holders.begin(), holders.end(), token) != holders.end())
      continue;
    const std::vector<ConstraintId>& held = token->m_deactivatedByMerge;
    if (std::find(held.begin(), held.end(), constraint) != held.end())
      holders.push_back(token);
  }
  return (unsigned int)holders.size();
}

bool PlanDatabase::isMergeCopy(const ConstraintId& constraint) const {
  return m_mergeOriginals.find(constraint->getKey()) != m_mergeOriginals.end();
}

} // namespace KORVAN
