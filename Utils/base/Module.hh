#ifndef KORVAN_UTILS_MODULE_HH
#define KORVAN_UTILS_MODULE_HH

#include <string>

#include "Utils/base/Engine.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class Module;
typedef Id<Module> ModuleId;

/// Base of loadable modules: the host constructs one and calls initialize with its engine.
class Module {
public:
  Module(const std::string& name) : m_id(this), m_name(name) {}
  // Releases the handle, so that a later module can be built at the same address.
  virtual ~Module() {
    if (m_id.isValid())
      m_id.remove();
  }

  virtual void initialize() = 0;
  virtual void uninitialize() = 0;
  virtual void initialize(EngineId engine) = 0;
  virtual void uninitialize(EngineId engine) = 0;

  const ModuleId& getId() const { return m_id; }
  const std::string& getName() const { return m_name; }

protected:
  ModuleId m_id;
  std::string m_name;
};

} // namespace KORVAN

#endif
