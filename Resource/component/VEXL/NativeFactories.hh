#ifndef KORVAN_VEXL_NATIVEFACTORIES_HH
#define KORVAN_VEXL_NATIVEFACTORIES_HH

// Factories through which the model interpreter makes the module's resource
// objects (one instance per constructor signature; the number of arguments
// picks the `constructor` overload) and resource tokens (one per predicate,
// made closed).

#include "PlanDatabase/base/TokenFactory.hh"
#include "Vexl/InterpretedObjectFactory.hh"

namespace KORVAN {

class ResourceObjectFactory : public NativeObjectFactory {
public:
  ResourceObjectFactory(const LabelStr& signature);
  ~ResourceObjectFactory() override;

protected:
  ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
                         const std::vector<const AbstractDomain*>& arguments) const override;
};

class ReusableObjectFactory : public NativeObjectFactory {
public:
  ReusableObjectFactory(const LabelStr& signature);
  ~ReusableObjectFactory() override;

protected:
  ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
                         const std::vector<const AbstractDomain*>& arguments) const override;
};

class ReservoirObjectFactory : public NativeObjectFactory {
public:
  ReservoirObjectFactory(const LabelStr& signature);
  ~ReservoirObjectFactory() override;

protected:
  ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
                         const std::vector<const AbstractDomain*>& arguments) const override;
};

class UnaryObjectFactory : public NativeObjectFactory {
public:
  UnaryObjectFactory(const LabelStr& signature);
  ~UnaryObjectFactory() override;

protected:
  ObjectId makeNewObject(const PlanDatabaseId& planDb, const LabelStr& objectType, const LabelStr& objectName,
                         const std::vector<const AbstractDomain*>& arguments) const override;
};

#define KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(ClassName)                                          \
  class ClassName : public NativeTokenFactory {                                                   \
  public:                                                                                         \
    ClassName(const LabelStr& predicateName);                                                     \
    ~ClassName() override;                                                                        \
                                                                                                  \
  private:                                                                                        \
    TokenId createInstance(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable,   \
                           bool isFact) const override;                                           \
    TokenId createInstance(const TokenId& master, const LabelStr& name,                           \
                           const LabelStr& relation) const override;                              \
    TokenId createPrepared(const PlanDatabaseId& planDb, const LabelStr& name, bool rejectable,   \
                           bool isFact,                                                           \
                           const std::function<void(const TokenId&)>& prepare) const override;    \
  }

KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(ResourceChangeTokenFactory);
KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(ReusableUsesTokenFactory);
KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(ReservoirProduceTokenFactory);
KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(ReservoirConsumeTokenFactory);
KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY(UnaryUseTokenFactory);

#undef KORVAN_DECLARE_RESOURCE_TOKEN_FACTORY

}

#endif
