#include "Resource/component/VEXL/NativeFactories.hh"

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/StateDomain.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Resource/component/VEXL/VexlResource.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <vector>

namespace KORVAN {

namespace {

std::vector<double> argumentValues(const std::vector<const AbstractDomain*>& arguments) {
  std::vector<double> values;
  for (const AbstractDomain* argument : arguments) {
    checkError(argument != nullptr && argument->isSingleton(),
               "A resource constructor argument must be a single value.");
    values.push_back(argument->getSingletonValue());
  }
  return values;
}

// Each class accepts a fixed set of argument counts, whatever its signature; a refusal names them.
void checkArgCount(bool accepted, const char* refusal, size_t count, const char* counts) {
  if (!accepted)
    checkError(ALWAYS_FAILS, refusal << count << " (it takes " << counts << ")");
}

void logCreated(const LabelStr& className, const LabelStr& objectName, const LabelStr& objectType) {
  debugMsg("XMLInterpreter:NativeObjectFactory", "Created Native " << className.toString() << ":"
           << objectName.toString() << " type:" << objectType.toString());
}

// "Resource" and "Reservoir" take the same parameters: 0, 3, 5 or 7 of them.
template <class T>
ObjectId makeLevelResource(const char* refusal, const LabelStr& factoryClass, const PlanDatabaseId& planDb,
                           const LabelStr& objectType, const LabelStr& objectName,
                           const std::vector<const AbstractDomain*>& arguments) {
  std::vector<double> v = argumentValues(arguments);
  checkArgCount(v.size() == 0 || v.size() == 3 || v.size() == 5 || v.size() == 7, refusal, v.size(),
                "0, 3, 5 or 7");
  T* object = new T(planDb, objectType, objectName, true);
  Id<T> instance(object->getId());
  if (v.size() == 0)
    instance->constructor();
  else if (v.size() == 3)
    instance->constructor(v[0], v[1], v[2]);
  else if (v.size() == 5)
    instance->constructor(v[0], v[1], v[2], v[3], v[4]);
  else
    instance->constructor(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
  instance->handleDefaults(false);
  logCreated(factoryClass, objectName, objectType);
  return instance->getId();
}

}

// The count is checked before the object exists, so that a bad count leaves
// no half-built object in the plan database.

ResourceObjectFactory::ResourceObjectFactory(const LabelStr& signature)
  : NativeObjectFactory("Resource", signature) {}

ResourceObjectFactory::~ResourceObjectFactory() {}

ObjectId ResourceObjectFactory::makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                              const LabelStr& objectName,
                                              const std::vector<const AbstractDomain*>& arguments) const {
  return makeLevelResource<VEXL::VexlResource>("Unexpected number of args in Resource constructor:", m_className, planDb,
                                               objectType, objectName, arguments);
}

ReservoirObjectFactory::ReservoirObjectFactory(const LabelStr& signature)
  : NativeObjectFactory("Reservoir", signature) {}

ReservoirObjectFactory::~ReservoirObjectFactory() {}

ObjectId ReservoirObjectFactory::makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                               const LabelStr& objectName,
                                               const std::vector<const AbstractDomain*>& arguments) const {
  return makeLevelResource<VEXL::VexlReservoir>("Unexpected number of args in Reservoir constructor:", m_className, planDb,
                                                objectType, objectName, arguments);
}

ReusableObjectFactory::ReusableObjectFactory(const LabelStr& signature)
  : NativeObjectFactory("Reusable", signature) {}

ReusableObjectFactory::~ReusableObjectFactory() {}

ObjectId ReusableObjectFactory::makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                              const LabelStr& objectName,
                                              const std::vector<const AbstractDomain*>& arguments) const {
  std::vector<double> v = argumentValues(arguments);
  checkArgCount(v.size() == 0 || v.size() == 2 || v.size() == 3 || v.size() == 4,
                "Unexpected number of args in Reusable constructor:", v.size(), "0, 2, 3 or 4");
  VEXL::VexlReusable* object = new VEXL::VexlReusable(planDb, objectType, objectName, true);
  Id<VEXL::VexlReusable> instance(object->getId());
  if (v.size() == 0)
    instance->constructor();
  else if (v.size() == 2)
    instance->constructor(v[0], v[1]);
  else if (v.size() == 3)
    instance->constructor(v[0], v[1], v[2]);
  else
    instance->constructor(v[0], v[1], v[2], v[3]);
  instance->handleDefaults(false);
  logCreated(m_className, objectName, objectType);
  return instance->getId();
}

UnaryObjectFactory::UnaryObjectFactory(const LabelStr& signature) : NativeObjectFactory("Unary", signature) {}

UnaryObjectFactory::~UnaryObjectFactory() {}

ObjectId UnaryObjectFactory::makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType,
                                           const LabelStr& objectName,
                                           const std::vector<const AbstractDomain*>& arguments) const {
  std::vector<double> v = argumentValues(arguments);
  checkArgCount(v.size() == 0 || v.size() == 1, "Unexpected number of args in Unary constructor:", v.size(), "0 or 1");
  VEXL::VexlUnary* object = new VEXL::VexlUnary(planDb, objectType, objectName, true);
  Id<VEXL::VexlUnary> instance(object->getId());
  if (v.size() == 0)
    instance->constructor();
  else
    instance->constructor(v[0]);
  instance->handleDefaults(false);
  logCreated(m_className, objectName, objectType);
  return instance->getId();
}

namespace {

// A constructor that a failed debug line left half-way would leave what it had made so far
// unreachable: the failure is recorded for the end of the run instead of raised in it.
template <class Make>
auto constructed(const Make& make) -> decltype(make()) {
  DebugMessage::Teardown recordOnly;
  return make();
}

// An active resource token on a single resource joins its profile at once, with whatever
// windows it has: made inactive, prepared, and only then activated (its state restricted
// to ACTIVE, as its constructor would have done) and closed, it joins within its windows.
template <class T>
TokenId makePrepared(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable, bool isFact,
                     const std::function<void(const TokenId&)>& prepare) {
  T* token = constructed([&]() { return new T(planDb, name, rejectable, isFact, false, false); });
  TokenId id = token->getId();
  prepare(id);
  // Specified first, so the relation to the resource hears of it; then the base
  // domain its constructor would have restricted.
  id->activateInternal();
  StateDomain activeOnly(LabelStr("States"));
  activeOnly.insert(Token::ACTIVE.getKey());
  id->getState()->restrictBaseDomain(activeOnly);
  token->close();
  return id;
}

// Its tokens join their resource's profile when the resource propagates, not on activation.
template <>
TokenId makePrepared<VEXL::VexlResource::change>(const PlanDatabaseId& planDb, const LabelStr& name,
                                                 bool rejectable, bool isFact,
                                                 const std::function<void(const TokenId&)>& prepare) {
  VEXL::VexlResource::change* token =
      constructed([&]() { return new VEXL::VexlResource::change(planDb, name, rejectable, isFact, false); });
  TokenId id = token->getId();
  prepare(id);
  token->close();
  return id;
}

}

#define KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(ClassName, TokenClass, Text)                          \
  ClassName::ClassName(const LabelStr& predicateName) : NativeTokenFactory(predicateName) {}       \
  ClassName::~ClassName() {}                                                                       \
  TokenId ClassName::createInstance(const PlanDatabaseId& planDb, const LabelStr& name,            \
                                    bool rejectable, bool isFact) const {                          \
    debugMsg("XMLInterpreter:NativeObjectFactory", Text);                                          \
    TokenClass* token = constructed([&]() { return new TokenClass(planDb, name, rejectable, isFact, true); }); \
    return token->getId();                                                                         \
  }                                                                                                \
  TokenId ClassName::createInstance(const TokenId& master, const LabelStr& name,                   \
                                    const LabelStr& relation) const {                              \
    debugMsg("XMLInterpreter:NativeObjectFactory", Text);                                          \
    TokenClass* token = constructed([&]() { return new TokenClass(master, name, relation, true); });    \
    return token->getId();                                                                         \
  }                                                                                                \
  TokenId ClassName::createPrepared(const PlanDatabaseId& planDb, const LabelStr& name,            \
                                    bool rejectable, bool isFact,                                  \
                                    const std::function<void(const TokenId&)>& prepare) const {    \
    debugMsg("XMLInterpreter:NativeObjectFactory", Text);                                          \
    return makePrepared<TokenClass>(planDb, name, rejectable, isFact, prepare);                    \
  }

KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(ResourceChangeTokenFactory, VEXL::VexlResource::change,
                                     "Created Native Resource.change")
KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(ReusableUsesTokenFactory, VEXL::VexlReusable::uses,
                                     "Created Native Reusable.uses")
KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(ReservoirProduceTokenFactory, VEXL::VexlReservoir::produce,
                                     "Created Native Reservoir.produce")
KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(ReservoirConsumeTokenFactory, VEXL::VexlReservoir::consume,
                                     "Created Native Reservoir.consume")
KORVAN_DEFINE_RESOURCE_TOKEN_FACTORY(UnaryUseTokenFactory, VEXL::VexlUnary::use, "Created Native Unary.Use")

}
