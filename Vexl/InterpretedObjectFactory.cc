#include "Vexl/InterpretedObjectFactory.hh"

#include <memory>
#include <sstream>

#include "ConstraintEngine/base/BoolDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/EventToken.hh"
#include "PlanDatabase/base/IntervalToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

ExprConstructorSuperCall::ExprConstructorSuperCall(const LabelStr& superClassName,
                                                   const std::vector<unsigned int>& argIndexes)
    : m_superClassName(superClassName), m_argIndexes(argIndexes) {}

void ExprConstructorSuperCall::eval(const ObjectId& instance,
                                    const std::vector<const AbstractDomain*>& arguments) const {
  const SchemaId& schema = instance->getPlanDatabase()->getSchema();
  std::vector<const AbstractDomain*> superArgs;
  std::vector<LabelStr> argTypes;
  for (unsigned int index : m_argIndexes) {
    checkError(index < arguments.size(), "Super call of " << m_superClassName.toString()
                                                          << " uses argument " << index
                                                          << " of " << arguments.size());
    superArgs.push_back(arguments[index]);
    argTypes.push_back(arguments[index]->getTypeName());
  }
  LabelStr signature = Schema::makeSignature(m_superClassName, argTypes);
  if (!schema->hasObjectFactory(signature)) {
    checkError(superArgs.empty(), "No constructor '" << signature.toString() << "'.");
    return; // A parent without a constructor of its own has nothing to run.
  }
  const InterpretedObjectFactory* factory =
      dynamic_cast<const InterpretedObjectFactory*>((ObjectFactory*)schema->getObjectFactory(signature));
  checkError(factory != nullptr && !factory->canMakeNewObject(),
             "The constructor '" << signature.toString() << "' cannot be called as a super call.");
  factory->evalConstructorBody(instance, superArgs);
}

std::string ExprConstructorSuperCall::toString() const {
  return "super " + m_superClassName.toString();
}

ExprMemberAssignment::ExprMemberAssignment(const LabelStr& member, int argIndex,
                                           const AbstractDomain* constant)
    : m_member(member), m_argIndex(argIndex), m_constant(constant ? constant->copy() : nullptr) {
  checkError(argIndex >= 0 || m_constant != nullptr,
             "Assignment of " << member.toString() << " needs an argument or a value.");
}

ExprMemberAssignment::~ExprMemberAssignment() { delete m_constant; }

void ExprMemberAssignment::eval(const ObjectId& instance,
                                const std::vector<const AbstractDomain*>& arguments) const {
  const AbstractDomain* domain = m_constant;
  if (m_argIndex >= 0) {
    checkError(static_cast<unsigned int>(m_argIndex) < arguments.size(),
               "Assignment of " << m_member.toString() << " uses a missing argument.");
    domain = arguments[m_argIndex];
  }
  instance->addVariable(*domain, m_member);
}

std::string ExprMemberAssignment::toString() const { return m_member.toString() + " = ..."; }

InterpretedObjectFactory::InterpretedObjectFactory(
    const char* className, const LabelStr& signature,
    const std::vector<std::string>& constructorArgNames,
    const std::vector<std::string>& constructorArgTypes, ExprConstructorSuperCall* superCallExpr,
    const std::vector<Expr*>& constructorBody, bool canMakeNewObject)
    : ObjectFactory(signature), m_className(className), m_constructorArgNames(constructorArgNames),
      m_constructorArgTypes(constructorArgTypes), m_superCallExpr(superCallExpr),
      m_constructorBody(constructorBody), m_canMakeNewObject(canMakeNewObject) {}

InterpretedObjectFactory::~InterpretedObjectFactory() {
  delete m_superCallExpr;
  for (Expr* expr : m_constructorBody)
    delete expr;
}

ObjectId InterpretedObjectFactory::createInstance(
    const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
    const std::vector<const AbstractDomain*>& arguments) const {
  checkError(m_canMakeNewObject || arguments.size() == m_constructorArgTypes.size(),
             "Constructor '" << getSignature().toString() << "' takes "
                             << m_constructorArgTypes.size() << " argument(s), given "
                             << arguments.size());
  ObjectId instance = makeNewObject(planDb, objectType, objectName, arguments);
  checkError(instance.isValid(), "Constructor '" << getSignature().toString() << "' made no object.");
  evalConstructorBody(instance, arguments);
  return instance;
}

ObjectId InterpretedObjectFactory::makeNewObject(
    const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
    const std::vector<const AbstractDomain*>&) const {
  return (new Object(planDb, objectType, objectName, true))->getId();
}

void InterpretedObjectFactory::evalConstructorBody(
    const ObjectId& instance, const std::vector<const AbstractDomain*>& arguments) const {
  if (m_canMakeNewObject)
    return;
  if (m_superCallExpr != nullptr)
    m_superCallExpr->eval(instance, arguments);
  for (const Expr* expr : m_constructorBody)
    expr->eval(instance, arguments);
  // Members that the body left alone get their type's default domain.
  const SchemaId& schema = instance->getPlanDatabase()->getSchema();
  for (const Schema::NameTypePair& member : schema->getMembers(instance->getType())) {
    LabelStr fullName(instance->getName().toString() + "." + member.first.toString());
    if (instance->getVariable(fullName).isValid())
      continue;
    std::unique_ptr<AbstractDomain> domain(InterpretedTokenFactory::makeDefaultDomain(member.second));
    checkError(domain.get() != nullptr, "Member '" << member.first.toString() << "' of type '"
                                                   << member.second.toString()
                                                   << "' has no default value.");
    instance->addVariable(*domain, member.first);
  }
  debugMsg("InterpretedObjectFactory:evalConstructorBody",
           "Constructed " << instance->getName().toString() << " with " << getSignature().toString());
}

InterpretedTokenFactory::InterpretedTokenFactory(const LabelStr& predicateName, bool isEvent,
                                                 const std::vector<Member>& members)
    : TokenFactory(predicateName), m_isEvent(isEvent), m_members(members) {}

AbstractDomain* InterpretedTokenFactory::makeDefaultDomain(const LabelStr& type) {
  if (type == LabelStr("float"))
    return new IntervalDomain();
  if (type == LabelStr("int"))
    return new IntervalIntDomain();
  if (type == LabelStr("bool"))
    return new BoolDomain();
  return nullptr;
}

void InterpretedTokenFactory::completeToken(const TokenId& token) const {
  const ConstraintEngineId& ce = token->getPlanDatabase()->getConstraintEngine();
  for (const Member& member : m_members) {
    std::unique_ptr<AbstractDomain> domain(makeDefaultDomain(member.second));
    checkError(domain.get() != nullptr, "Parameter '" << member.first.toString() << "' of type '"
                                                      << member.second.toString()
                                                      << "' has no default value.");
    int index = static_cast<int>(token->getVariables().size());
    ConstrainedVariable* var;
    if (member.second == LabelStr("float"))
      var = new TokenVariable<IntervalDomain>(token, index, ce, *domain, false, true, member.first);
    else if (member.second == LabelStr("int"))
      var = new TokenVariable<IntervalIntDomain>(token, index, ce, *domain, false, true, member.first);
    else
      var = new TokenVariable<BoolDomain>(token, index, ce, *domain, false, true, member.first);
    token->appendVariable(var->getId());
  }
  token->close();
  token->activateInternal();
}

TokenId InterpretedTokenFactory::createInstance(const PlanDatabaseId& planDb, const LabelStr& name,
                                                bool rejectable, bool isFact) const {
  Token* token;
  if (m_isEvent)
    token = new EventToken(planDb, name, rejectable, isFact, IntervalIntDomain(), Token::noObject(), false);
  else
    token = new IntervalToken(planDb, name, rejectable, isFact, IntervalIntDomain(),
                              IntervalIntDomain(), IntervalIntDomain(0, g_infiniteTime()),
                              Token::noObject(), false);
  try {
    completeToken(token->getId());
  } catch (...) {
    token->discard();
    throw;
  }
  return token->getId();
}

TokenId InterpretedTokenFactory::createInstance(const TokenId& master, const LabelStr& name,
                                                const LabelStr& relation) const {
  Token* token;
  if (m_isEvent)
    token = new EventToken(master, relation, name, IntervalIntDomain(), Token::noObject(), false);
  else
    token = new IntervalToken(master, relation, name, IntervalIntDomain(), IntervalIntDomain(),
                              IntervalIntDomain(0, g_infiniteTime()), Token::noObject(), false);
  try {
    completeToken(token->getId());
  } catch (...) {
    token->discard();
    throw;
  }
  return token->getId();
}

} // namespace KORVAN
