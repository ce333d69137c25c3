#include "Resource/test/ModuleTestSupport.hh"

#include "ConstraintEngine/component/Constraints.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"

namespace KORVAN {
namespace MODULETEST {

ModuleWorld::ModuleWorld(bool withInterpreter, bool initializeModule)
  : ce(nullptr), schema(nullptr), db(nullptr), interpreter(nullptr), module(nullptr),
    m_initialized(false) {
  ce = new ConstraintEngine();
  engine.addComponent(ConstraintEngine::COMPONENT_NAME(), ce);
  initConstraintLibrary(ce->getId());
  initTemporalConstraints(ce->getId());
  schema = new Schema();
  engine.addComponent("Schema", schema);
  db = new PlanDatabase(ce->getId(), schema->getId(), engine.getId());
  engine.addComponent(PlanDatabase::COMPONENT_NAME(), db);
  SOLVERS::initSolverComponents(engine);
  if (withInterpreter) {
    interpreter = new VexlXmlInterpreter(db->getId());
    engine.addLanguageInterpreter(VexlXmlInterpreter::name(), interpreter);
  }
  module = new ModuleResource();
  if (initializeModule) {
    module->initialize(engine.getId());
    m_initialized = true;
  }
}

ModuleWorld::~ModuleWorld() {
  // Objects and tokens go while the module's factory managers still exist.
  db->purge();
  if (m_initialized)
    module->uninitialize(engine.getId());
  delete module;
}

std::string ModuleWorld::read(const std::string& transactions) {
  std::istringstream in("<vexl>" + transactions + "</vexl>");
  return interpreter->interpret(in, "test.xml");
}

}
}
