#include "Resource/ModuleResource.hh"

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/ResourceConstraint.hh"
#include "Resource/base/ResourcePropagator.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/Solvers/MIRT_SolverRegistration.hh"
#include "Resource/component/VEXL/NativeFactories.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/MatchingEngine.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Vexl/VexlXmlInterpreter.hh"

#include <string>
#include <vector>

namespace KORVAN {

namespace {

// The module cannot work without these: a clear error rather than a crash.
template <class ComponentType>
ComponentType* requireComponent(Engine& engine, const std::string& name) {
  ComponentType* component = dynamic_cast<ComponentType*>(engine.getComponent(name));
  checkError(component != nullptr, "The resource module needs the engine component \"" << name
             << "\" before it is initialised.");
  return component;
}

void addFloatMembers(Schema& schema, const LabelStr& type, const std::vector<const char*>& members) {
  for (const char* member : members)
    schema.addMember(type, LabelStr("float"), LabelStr(member));
}

template <class FactoryType>
void registerObjectFactories(Schema& schema, const std::vector<const char*>& signatures) {
  for (const char* signature : signatures)
    schema.registerObjectFactory((new FactoryType(LabelStr(signature)))->getId());
}

template <class FactoryType>
void addResourcePredicate(Schema& schema, const char* predicate, bool hasQuantity) {
  schema.addPredicate(LabelStr(predicate));
  if (hasQuantity)
    schema.addMember(LabelStr(predicate), LabelStr("float"), LabelStr("quantity"));
  schema.registerTokenFactory((new FactoryType(LabelStr(predicate)))->getId());
}

void registerSchema(Schema& schema) {
  const std::vector<const char*> levelMembers = {"initialCapacity", "levelLimitMin", "levelLimitMax",
                                                 "productionRateMax", "productionMax",
                                                 "consumptionRateMax", "consumptionMax"};

  schema.addObjectType(LabelStr("Resource"));
  addFloatMembers(schema, LabelStr("Resource"), levelMembers);
  registerObjectFactories<ResourceObjectFactory>(
      schema, {"Resource", "Resource:float:float:float", "Resource:float:float:float:float:float",
               "Resource:float:float:float:float:float:float:float"});
  addResourcePredicate<ResourceChangeTokenFactory>(schema, "Resource.change", true);

  schema.addObjectType(LabelStr("Reusable"));
  addFloatMembers(schema, LabelStr("Reusable"),
                  {"capacity", "levelLimitMin", "consumptionMax", "consumptionRateMax"});
  registerObjectFactories<ReusableObjectFactory>(
      schema, {"Reusable", "Reusable:float:float", "Reusable:float:float:float", "Reusable:float:float:float:float"});
  addResourcePredicate<ReusableUsesTokenFactory>(schema, "Reusable.uses", true);

  schema.addObjectType(LabelStr("Reservoir"));
  addFloatMembers(schema, LabelStr("Reservoir"), levelMembers);
  registerObjectFactories<ReservoirObjectFactory>(
      schema, {"Reservoir", "Reservoir:float:float:float", "Reservoir:float:float:float:float:float",
               "Reservoir:float:float:float:float:float:float:float"});
  addResourcePredicate<ReservoirProduceTokenFactory>(schema, "Reservoir.produce", true);
  addResourcePredicate<ReservoirConsumeTokenFactory>(schema, "Reservoir.consume", true);

  schema.addObjectType(LabelStr("Unary"));
  addFloatMembers(schema, LabelStr("Unary"), {"consumptionMax"});
  registerObjectFactories<UnaryObjectFactory>(schema, {"Unary", "Unary:float"});
  addResourcePredicate<UnaryUseTokenFactory>(schema, "Unary.use", false);
}

void registerNativeClasses(VexlXmlInterpreter& interpreter) {
  interpreter.addConstraintScope("ResourceTransactionRelation",
                                 "the object, time and quantity of one change token, in that order (t.object "
                                 "t.time t.quantity of a Resource.change)");
  std::vector<std::string> predicates;
  predicates.push_back("Resource.change");
  interpreter.addNativeClass("Resource", predicates);
  predicates.clear();
  predicates.push_back("Reusable.uses");
  // Only these two read a profile name; a reservoir always keeps its own profile.
  interpreter.addNativeClass("Reusable", predicates, {"profileType"});
  predicates.clear();
  predicates.push_back("Reservoir.produce");
  predicates.push_back("Reservoir.consume");
  interpreter.addNativeClass("Reservoir", predicates);
  predicates.clear();
  predicates.push_back("Unary.use");
  interpreter.addNativeClass("Unary", predicates, {"profileType"});
  predicates.clear();
}

}

ModuleResource::ModuleResource() : Module("Resource") {}

ModuleResource::~ModuleResource() {}

void ModuleResource::initialize() {}

void ModuleResource::uninitialize() {}

void ModuleResource::initialize(EngineId engineId) {
  checkError(engineId.isValid(), "The resource module needs a live engine.");
  Engine& engine = *engineId;
  ConstraintEngine* ce = requireComponent<ConstraintEngine>(engine, "ConstraintEngine");
  Schema* schema = requireComponent<Schema>(engine, "Schema");
  PlanDatabase* db = requireComponent<PlanDatabase>(engine, "PlanDatabase");
  requireComponent<SOLVERS::ComponentFactoryMgr>(engine, "ComponentFactoryMgr");
  requireComponent<SOLVERS::MatchFinderMgr>(engine, "MatchFinderMgr");

  registerResourceConstraintFactory(ce->getId());
  // The engine owns the propagators from their construction.
  new MIRT::ProfilePropagator(LabelStr("MIRT_Resource"), ce->getId());
  new ResourcePropagator(LabelStr("Resource"), ce->getId(), db->getId());

  registerSchema(*schema);

  MIRT::registerProfilesAndDetectors(engine);

  MIRT::registerResourceSolverComponents(engineId);

  VexlXmlInterpreter* interpreter =
      dynamic_cast<VexlXmlInterpreter*>(engine.getLanguageInterpreter("vexl-xml"));
  if (interpreter == nullptr)
    return;
  registerNativeClasses(*interpreter);
}

void ModuleResource::uninitialize(EngineId engineId) {
  checkError(engineId.isValid(), "The resource module needs a live engine.");
  MIRT::unregisterProfilesAndDetectors(*engineId);
}

}
