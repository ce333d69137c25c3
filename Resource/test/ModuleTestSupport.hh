#ifndef KORVAN_RESOURCE_TEST_MODULETESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_MODULETESTSUPPORT_HH

#include <string>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/ModuleResource.hh"
#include "Resource/test/TestHelpers.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Vexl/VexlXmlInterpreter.hh"

namespace KORVAN {
namespace MODULETEST {

// An engine as a host builds it (constraint engine, schema, plan database,
// solver factory and match finder managers, optionally the "vexl-xml"
// interpreter), with the resource module initialised on it.
class ModuleWorld {
public:
  explicit ModuleWorld(bool withInterpreter = true, bool initializeModule = true);
  ~ModuleWorld();

  Engine engine;
  ConstraintEngine* ce;
  Schema* schema;
  PlanDatabase* db;
  VexlXmlInterpreter* interpreter;
  ModuleResource* module;

  // Reads a model given as the children of <vexl>.
  std::string read(const std::string& transactions);

private:
  bool m_initialized;
};

}
}

#endif
