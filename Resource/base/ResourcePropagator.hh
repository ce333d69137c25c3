#ifndef KORVAN_RESOURCE_RESOURCEPROPAGATOR_HH
#define KORVAN_RESOURCE_RESOURCEPROPAGATOR_HH

// The propagator "Resource" of the instant-based model: it runs the rate-limit
// constraints, then rebuilds every dirty resource and turns the first violated
// one into an inconsistency by emptying the object variable of that
// resource's first token. Owned by the constraint engine once built.

#include <list>

#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

class Resource;

class ResourcePropagator : public DefaultPropagator {
public:
  ResourcePropagator(const LabelStr& name, const ConstraintEngineId& constraintEngine,
                     const PlanDatabaseId& planDatabase);
  virtual ~ResourcePropagator();

private:
  void execute() override;
  // Off while the schema has no object type "Resource".
  bool updateRequired() const override;

  static const LabelStr& resourceString();
  bool isEnabled() const;
  std::list<Id<Resource> > getDirtyResources() const;

  PlanDatabaseId m_planDb;
};

// Registers what the instant-based model needs with a constraint engine: the
// constraint factory "ResourceTransactionRelation" and the propagator
// "Resource" over the plan database.
void registerInstantResourceModel(const ConstraintEngineId& constraintEngine, const PlanDatabaseId& planDatabase);

}

#endif
