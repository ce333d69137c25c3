#include "Resource/base/ResourcePropagator.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/ResourceConstraint.hh"
#include "ConstraintEngine/base/AbstractDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {

ResourcePropagator::ResourcePropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
                                       const PlanDatabaseId& planDatabase)
  : DefaultPropagator(name, constraintEngine), m_planDb(planDatabase) {}

ResourcePropagator::~ResourcePropagator() {}

const LabelStr& ResourcePropagator::resourceString() {
  static const LabelStr sl_resourceString("Resource");
  return sl_resourceString;
}

bool ResourcePropagator::isEnabled() const {
  return m_planDb->getSchema()->isObjectType(resourceString());
}

std::list<ResourceId> ResourcePropagator::getDirtyResources() const {
  static const LabelStr sl_resourceString("Resource");
  std::list<ResourceId> resources;
  m_planDb->getObjectsByType(sl_resourceString, resources);
  std::list<ResourceId> dirty;
  for (std::list<ResourceId>::const_iterator it = resources.begin(); it != resources.end(); ++it)
    if ((*it)->isDirty())
      dirty.push_back(*it);
  return dirty;
}

bool ResourcePropagator::updateRequired() const {
  if (!isEnabled())
    return false;
  if (DefaultPropagator::updateRequired())
    return true;
  return !getDirtyResources().empty();
}

void ResourcePropagator::execute() {
  if (!getAgenda().empty())
    DefaultPropagator::execute();
  std::list<ResourceId> resources = getDirtyResources();
  for (std::list<ResourceId>::const_iterator it = resources.begin(); it != resources.end(); ++it) {
    ResourceId r = *it;
    if (!r->isViolated())
      continue;
    debugMsg("ResourcePropagator:execute", r->getName().toString() << " is violated");
    // Limits changed through the setters can make even a resource without
    // tokens violated: there is then no variable to report it through.
    checkError(!r->tokens().empty(),
               "Resource " << r->getName().toString() << " is violated but holds no token to report it through.");
    TokenId tx = *r->tokens().begin();
    check_error(tx.isValid());
    ConstrainedVariableId varToEmpty = tx->getObject();
    getCurrentDomain(varToEmpty).empty();
    return;
  }
}

void registerInstantResourceModel(const ConstraintEngineId& constraintEngine, const PlanDatabaseId& planDatabase) {
  registerResourceConstraintFactory(constraintEngine);
  new ResourcePropagator(ResourceConstraint::PROPAGATOR_NAME(), constraintEngine, planDatabase);
}

}
