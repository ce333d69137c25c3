#ifndef KORVAN_MODULERESOURCE_HH
#define KORVAN_MODULERESOURCE_HH

#include "Utils/base/Module.hh"

namespace KORVAN {

// The resource module as the host sees it. `initialize` registers the
// module's constraint factory, propagators, schema types with their object
// and token factories, profile and detector factory managers, solver
// components, instant match finder and (when the engine reads "vexl-xml"
// models) the interpreter's native classes. Everything registered belongs to
// the component it was registered with; `uninitialize` takes back only the
// two factory managers that the module added to the engine.
class ModuleResource : public Module {
public:
  ModuleResource();
  virtual ~ModuleResource();

  void initialize() override;
  void uninitialize() override;
  void initialize(EngineId engine) override;
  void uninitialize(EngineId engine) override;
};

}

#endif
