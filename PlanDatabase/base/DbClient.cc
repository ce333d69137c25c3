#include "PlanDatabase/base/DbClient.hh"

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {

DbClient::DbClient(const PlanDatabaseId& planDatabase) : m_id(this), m_planDatabase(planDatabase) {}

DbClient::~DbClient() { m_id.remove(); }

ObjectId DbClient::createObject(const LabelStr& type, const LabelStr& name,
                                const std::vector<const AbstractDomain*>& arguments) {
  const SchemaId& schema = m_planDatabase->getSchema();
  checkError(schema->isObjectType(type), "Cannot create object '" << name.toString()
                                                                  << "': undefined object type '"
                                                                  << type.toString() << "'.");
  std::vector<LabelStr> argTypes;
  for (const AbstractDomain* argument : arguments) {
    checkError(argument != nullptr, "Cannot create object '" << name.toString()
                                                             << "': a null argument.");
    argTypes.push_back(argument->getTypeName());
  }
  ObjectFactoryId factory = schema->findObjectFactory(type, argTypes);
  ObjectId object;
  if (factory.isNoId()) {
    checkError(arguments.empty(), "Cannot create object '"
                                      << name.toString() << "': no constructor '"
                                      << Schema::makeSignature(type, argTypes).toString() << "'.");
    object = (new Object(m_planDatabase, type, name, true))->getId();
  } else {
    object = factory->createInstance(m_planDatabase, type, name, arguments);
    checkError(object.isValid(), "The factory '" << factory->getSignature().toString()
                                                 << "' made no object.");
  }
  debugMsg("DbClient:createObject", "Created " << type.toString() << " " << name.toString());
  return object;
}

void DbClient::close(const ObjectId& object) {
  check_error(object.isValid());
  object->close();
}

void DbClient::close() { m_planDatabase->close(); }

TokenId DbClient::createToken(const LabelStr& predicateName, bool rejectable, bool isFact) {
  const SchemaId& schema = m_planDatabase->getSchema();
  checkError(schema->isPredicate(predicateName),
             "Cannot create a token: undefined predicate '" << predicateName.toString() << "'.");
  TokenId token =
      schema->getTokenFactory(predicateName)->createInstance(m_planDatabase, predicateName,
                                                             rejectable, isFact);
  checkError(token.isValid(), "The token factory for '" << predicateName.toString()
                                                        << "' made no token.");
  return token;
}

TokenId DbClient::createToken(const LabelStr& predicateName, bool rejectable, bool isFact,
                               const std::function<void(const TokenId&)>& prepare) {
  const SchemaId& schema = m_planDatabase->getSchema();
  checkError(schema->isPredicate(predicateName),
             "Cannot create a token: undefined predicate '" << predicateName.toString() << "'.");
  TokenId token = schema->getTokenFactory(predicateName)
                      ->createPrepared(m_planDatabase, predicateName, rejectable, isFact, prepare);
  checkError(token.isValid(), "The token factory for '" << predicateName.toString()
                                                        << "' made no token.");
  return token;
}

TokenId DbClient::createSlaveToken(const TokenId& master, const LabelStr& predicateName,
                                   const LabelStr& relation) {
  check_error(master.isValid());
  const SchemaId& schema = m_planDatabase->getSchema();
  checkError(schema->isPredicate(predicateName),
             "Cannot create a token: undefined predicate '" << predicateName.toString() << "'.");
  TokenId token =
      schema->getTokenFactory(predicateName)->createInstance(master, predicateName, relation);
  checkError(token.isValid(), "The token factory for '" << predicateName.toString()
                                                        << "' made no token.");
  return token;
}

void DbClient::deleteToken(const TokenId& token) {
  check_error(token.isValid());
  token->discard();
}

void DbClient::activate(const TokenId& token) {
  check_error(token.isValid());
  token->activateInternal();
}

void DbClient::deactivate(const TokenId& token) {
  check_error(token.isValid());
  token->deactivate();
}

void DbClient::merge(const TokenId& token, const TokenId& activeToken) {
  check_error(token.isValid());
  token->merge(activeToken);
}

void DbClient::split(const TokenId& token) {
  check_error(token.isValid());
  token->split();
}

void DbClient::reject(const TokenId& token) {
  check_error(token.isValid());
  token->reject();
}

void DbClient::cancel(const TokenId& token) {
  check_error(token.isValid());
  token->cancel();
}

ConstraintId DbClient::createConstraint(const LabelStr& name,
                                        const std::vector<ConstrainedVariableId>& scope) {
  return m_planDatabase->getConstraintEngine()->createConstraint(name, scope);
}

void DbClient::deleteConstraint(const ConstraintId& constraint) {
  check_error(constraint.isValid());
  constraint->discard();
}

void DbClient::constrain(const ObjectId& object, const TokenId& predecessor,
                         const TokenId& successor) {
  check_error(object.isValid());
  object->constrain(predecessor, successor);
}

void DbClient::free(const ObjectId& object, const TokenId& predecessor, const TokenId& successor) {
  check_error(object.isValid());
  object->free(predecessor, successor);
}

void DbClient::specify(const ConstrainedVariableId& variable, double value) {
  check_error(variable.isValid());
  variable->specify(value);
}

void DbClient::reset(const ConstrainedVariableId& variable) {
  check_error(variable.isValid());
  variable->reset();
}

void DbClient::restrict(const ConstrainedVariableId& variable, const AbstractDomain& domain) {
  check_error(variable.isValid());
  variable->restrictBaseDomain(domain);
}

bool DbClient::propagate() { return m_planDatabase->getConstraintEngine()->propagate(); }

} // namespace KORVAN
