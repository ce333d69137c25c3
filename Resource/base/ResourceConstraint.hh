#ifndef KORVAN_RESOURCE_RESOURCECONSTRAINT_HH
#define KORVAN_RESOURCE_RESOURCECONSTRAINT_HH

// The rate-limit constraint "ResourceTransactionRelation" over a change
// token's (object, time, quantity): a candidate resource whose per-token
// limits cannot hold any quantity the token may still take is removed from
// the object variable, the quantity is narrowed to the hull of the remaining
// candidates' limits, and a single remaining candidate is marked dirty.

#include <vector>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

class ResourceConstraint : public Constraint {
public:
  static const int OBJECT = 0;
  static const int TIME = 1;
  static const int USAGE = 2;
  static const int ARG_COUNT = 3;

  // Scope: the variables named "object", "time" and "quantity", in that order.
  ResourceConstraint(const LabelStr& name, const LabelStr& propagatorName, const ConstraintEngineId& constraintEngine,
                     const std::vector<ConstrainedVariableId>& variables);
  virtual ~ResourceConstraint();

  // "ResourceTransactionRelation", and the propagator "Resource" that runs it.
  static const LabelStr& CONSTRAINT_NAME();
  static const LabelStr& PROPAGATOR_NAME();

protected:
  void handleExecute() override;

private:
  static const std::vector<ConstrainedVariableId>& checkScope(const std::vector<ConstrainedVariableId>& variables);
};

// Registers the constraint factory "ResourceTransactionRelation" (propagator
// "Resource", system defined) with the engine's schema.
void registerResourceConstraintFactory(const ConstraintEngineId& constraintEngine);

}

#endif
