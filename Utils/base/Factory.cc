#include "Utils/base/Factory.hh"

#include "Utils/base/Error.hh"

namespace KORVAN {

Factory::Factory(const LabelStr& name) : m_id(this), m_name(name) {}

Factory::~Factory() { m_id.remove(); }

FactoryMgr::FactoryMgr() {}

FactoryMgr::~FactoryMgr() {
  for (auto& entry : m_factories)
    delete entry.second;
}

void FactoryMgr::registerFactory(Factory* factory) {
  check_error(factory != nullptr, "Cannot register a null factory.");
  checkError(m_factories.find(factory->getName()) == m_factories.end(),
             "A factory named '" << factory->getName().toString() << "' is already registered.");
  try {
    m_factories[factory->getName()] = factory;
  } catch (...) {
    // Handed over is owned: one there was no memory to file goes with the failure.
    delete factory;
    throw;
  }
}

Factory* FactoryMgr::getFactory(const LabelStr& name) const {
  auto it = m_factories.find(name);
  return it == m_factories.end() ? nullptr : it->second;
}

Id<FactoryObj> FactoryMgr::createInstance(const LabelStr& name, const FactoryArgs& args) {
  Factory* factory = getFactory(name);
  checkError(factory != nullptr, "No factory registered under the name '" << name.toString() << "'.");
  return factory->createInstance(args);
}

} // namespace KORVAN
