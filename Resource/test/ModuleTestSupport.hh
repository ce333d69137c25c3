#ifndef KORVAN_RESOURCE_TEST_MODULETESTSUPPORT_HH
#define KORVAN_RESOURCE_TEST_MODULETESTSUPPORT_HH

#include <functional>
#include <sstream>
#include <string>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/ModuleResource.hh"
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

// The error that f raises; an Error with empty fields when it raises none.
Error failure(const std::function<void()>& f);

// Captures the debug stream with the given markers enabled while alive.
class DebugCapture {
public:
  explicit DebugCapture(const std::string& pattern);
  ~DebugCapture();
  std::string text() const { return m_stream.str(); }

private:
  std::ostringstream m_stream;
  std::string m_pattern;
};

}
}

#endif
