#ifndef KORVAN_UTILS_FACTORY_HH
#define KORVAN_UTILS_FACTORY_HH

#include <map>

#include "Utils/base/Engine.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

/// Base of the argument bundles handed to a factory.
class FactoryArgs {
public:
  virtual ~FactoryArgs() {}
};

/// Base of the objects that factories make.
class FactoryObj {
public:
  virtual ~FactoryObj() {}
};

class Factory;
typedef Id<Factory> FactoryId;

/// Makes objects of one kind, registered under a name.
class Factory {
public:
  Factory(const LabelStr& name);
  virtual ~Factory();

  const LabelStr& getName() const { return m_name; }
  const FactoryId& getId() const { return m_id; }

  virtual Id<FactoryObj> createInstance(const FactoryArgs& args) = 0;

private:
  Factory(const Factory&) = delete;
  Factory& operator=(const Factory&) = delete;

  FactoryId m_id;
  LabelStr m_name;
};

/// Factories by name. An engine component; it owns its factories.
class FactoryMgr : public EngineComponent {
public:
  FactoryMgr();
  ~FactoryMgr() override;

  /// Takes ownership; the name must not be registered yet.
  void registerFactory(Factory* factory);
  /// The factory registered under the name, or null.
  Factory* getFactory(const LabelStr& name) const;
  /// Makes an object with the named factory; an unknown name is an error.
  Id<FactoryObj> createInstance(const LabelStr& name, const FactoryArgs& args);

private:
  std::map<double, Factory*> m_factories;
};

} // namespace KORVAN

#endif
