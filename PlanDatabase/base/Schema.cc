#include "PlanDatabase/base/Schema.hh"

#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {

Schema::Schema(const LabelStr& name) : m_id(this), m_name(name) {
  try {
    m_parents.emplace(rootObject().getKey(), rootObject());
    m_typeOrder.push_back(rootObject());
  } catch (...) {
    // No destructor runs for a schema never made: its handle must not outlive its memory.
    m_id.remove();
    throw;
  }
}

Schema::~Schema() {
  for (auto& entry : m_objectFactories)
    delete (ObjectFactory*)entry.second;
  for (auto& entry : m_tokenFactories)
    delete (TokenFactory*)entry.second;
  m_id.remove();
}

const LabelStr& Schema::rootObject() {
  static const LabelStr sl_root("Object");
  return sl_root;
}

void Schema::addObjectType(const LabelStr& type, const LabelStr& parent) {
  checkError(!isObjectType(type), "Object type '" << type.toString() << "' is already declared.");
  checkError(!isPredicate(type), "'" << type.toString() << "' is already declared as a predicate.");
  checkError(isObjectType(parent), "Parent type '" << parent.toString() << "' of object type '"
                                                   << type.toString() << "' is not declared.");
  m_parents.emplace(type.getKey(), parent);
  m_typeOrder.push_back(type);
  debugMsg("Schema:addObjectType", type.toString() << " extends " << parent.toString());
}

bool Schema::isObjectType(const LabelStr& type) const {
  return m_parents.find(type.getKey()) != m_parents.end();
}

bool Schema::hasParent(const LabelStr& type) const {
  checkError(isObjectType(type), "'" << type.toString() << "' is not an object type.");
  return type != rootObject();
}

const LabelStr& Schema::getParent(const LabelStr& type) const {
  checkError(hasParent(type), "Object type '" << type.toString() << "' has no parent.");
  return m_parents.find(type.getKey())->second;
}

bool Schema::isA(const LabelStr& type, const LabelStr& ancestor) const {
  checkError(isObjectType(type), "'" << type.toString() << "' is not an object type.");
  LabelStr current = type;
  for (;;) {
    if (current == ancestor)
      return true;
    if (current == rootObject())
      return false;
    current = m_parents.find(current.getKey())->second;
  }
}

std::vector<LabelStr> Schema::getAllObjectTypes(const LabelStr& type) const {
  checkError(isObjectType(type), "'" << type.toString() << "' is not an object type.");
  std::vector<LabelStr> result;
  LabelStr current = type;
  result.push_back(current);
  while (current != rootObject()) {
    current = m_parents.find(current.getKey())->second;
    result.push_back(current);
  }
  return result;
}

void Schema::addPredicate(const LabelStr& predicate) {
  const std::string& text = predicate.toString();
  std::string::size_type dot = text.rfind('.');
  checkError(dot != std::string::npos && dot > 0 && dot + 1 < text.size(),
             "Predicate '" << text << "' must be named 'ObjectType.name'.");
  LabelStr type(text.substr(0, dot));
  checkError(isObjectType(type), "Predicate '" << text << "' names the undeclared object type '"
                                               << type.toString() << "'.");
  checkError(!isPredicate(predicate), "Predicate '" << text << "' is already declared.");
  m_predicates.emplace(predicate.getKey(), type);
  m_predicateOrder.push_back(predicate);
}

bool Schema::isPredicate(const LabelStr& predicate) const {
  return m_predicates.find(predicate.getKey()) != m_predicates.end();
}

const LabelStr& Schema::getObjectType(const LabelStr& predicate) const {
  auto it = m_predicates.find(predicate.getKey());
  checkError(it != m_predicates.end(), "'" << predicate.toString() << "' is not a predicate.");
  return it->second;
}

std::vector<LabelStr> Schema::getPredicates(const LabelStr& type) const {
  checkError(isObjectType(type), "'" << type.toString() << "' is not an object type.");
  std::vector<LabelStr> result;
  for (const LabelStr& predicate : m_predicateOrder)
    if (m_predicates.find(predicate.getKey())->second == type)
      result.push_back(predicate);
  return result;
}

const std::vector<Schema::NameTypePair>* Schema::ownMembers(const LabelStr& parent) const {
  auto it = m_members.find(parent.getKey());
  return it == m_members.end() ? nullptr : &it->second;
}

void Schema::addMember(const LabelStr& parent, const LabelStr& type, const LabelStr& name) {
  checkError(isObjectType(parent) || isPredicate(parent),
             "Cannot add member '" << name.toString() << "' to '" << parent.toString()
                                   << "': neither an object type nor a predicate.");
  checkError(!hasMember(parent, name),
             "'" << parent.toString() << "' already has a member '" << name.toString() << "'.");
  m_members[parent.getKey()].emplace_back(name, type);
}

bool Schema::hasMember(const LabelStr& parent, const LabelStr& name) const {
  for (const NameTypePair& member : getMembers(parent))
    if (member.first == name)
      return true;
  return false;
}

const LabelStr& Schema::getMemberType(const LabelStr& parent, const LabelStr& name) const {
  if (isObjectType(parent)) {
    for (const LabelStr& type : getAllObjectTypes(parent))
      if (const std::vector<NameTypePair>* members = ownMembers(type))
        for (const NameTypePair& member : *members)
          if (member.first == name)
            return member.second;
  } else if (const std::vector<NameTypePair>* members = ownMembers(parent)) {
    for (const NameTypePair& member : *members)
      if (member.first == name)
        return member.second;
  }
  checkError(ALWAYS_FAIL,
             "'" << parent.toString() << "' has no member '" << name.toString() << "'.");
  return name; // not reached
}

std::vector<Schema::NameTypePair> Schema::getMembers(const LabelStr& parent) const {
  checkError(isObjectType(parent) || isPredicate(parent),
             "'" << parent.toString() << "' is neither an object type nor a predicate.");
  std::vector<NameTypePair> result;
  if (isObjectType(parent)) {
    std::vector<LabelStr> types = getAllObjectTypes(parent);
    for (auto it = types.rbegin(); it != types.rend(); ++it)
      if (const std::vector<NameTypePair>* members = ownMembers(*it))
        result.insert(result.end(), members->begin(), members->end());
  } else if (const std::vector<NameTypePair>* members = ownMembers(parent)) {
    result = *members;
  }
  return result;
}

LabelStr Schema::makeSignature(const LabelStr& type, const std::vector<LabelStr>& argTypes) {
  std::string signature = type.toString();
  for (const LabelStr& argType : argTypes)
    signature += ":" + argType.toString();
  return LabelStr(signature);
}

void Schema::registerObjectFactory(const ObjectFactoryId& factory) {
  check_error(factory.isValid());
  const LabelStr& signature = factory->getSignature();
  const std::string& text = signature.toString();
  LabelStr type(text.substr(0, text.find(':')));
  checkError(isObjectType(type), "Object factory '" << text << "' names the undeclared type '"
                                                    << type.toString() << "'.");
  checkError(!hasObjectFactory(signature),
             "An object factory is already registered for '" << text << "'.");
  try {
    m_objectFactories.emplace(signature.getKey(), factory);
  } catch (...) {
    // Handed over is owned: one there was no memory to file goes with the failure.
    delete (ObjectFactory*)factory;
    throw;
  }
}

bool Schema::hasObjectFactory(const LabelStr& signature) const {
  return m_objectFactories.find(signature.getKey()) != m_objectFactories.end();
}

const ObjectFactoryId& Schema::getObjectFactory(const LabelStr& signature) const {
  auto it = m_objectFactories.find(signature.getKey());
  checkError(it != m_objectFactories.end(),
             "No object factory is registered for '" << signature.toString() << "'.");
  return it->second;
}

ObjectFactoryId Schema::findObjectFactory(const LabelStr& type,
                                          const std::vector<LabelStr>& argTypes) const {
  for (const LabelStr& candidate : getAllObjectTypes(type)) {
    auto it = m_objectFactories.find(makeSignature(candidate, argTypes).getKey());
    if (it != m_objectFactories.end())
      return it->second;
  }
  return ObjectFactoryId::noId();
}

void Schema::registerTokenFactory(const TokenFactoryId& factory) {
  check_error(factory.isValid());
  const LabelStr& predicate = factory->getPredicateName();
  checkError(isPredicate(predicate), "Token factory for the undeclared predicate '"
                                         << predicate.toString() << "'.");
  checkError(!hasTokenFactory(predicate),
             "A token factory is already registered for '" << predicate.toString() << "'.");
  try {
    m_tokenFactories.emplace(predicate.getKey(), factory);
  } catch (...) {
    delete (TokenFactory*)factory;
    throw;
  }
}

bool Schema::hasTokenFactory(const LabelStr& predicate) const {
  return m_tokenFactories.find(predicate.getKey()) != m_tokenFactories.end();
}

const TokenFactoryId& Schema::getTokenFactory(const LabelStr& predicate) const {
  auto it = m_tokenFactories.find(predicate.getKey());
  checkError(it != m_tokenFactories.end(),
             "No token factory is registered for '" << predicate.toString() << "'.");
  return it->second;
}

} // namespace KORVAN
