#ifndef KORVAN_CE_CONSTRAINTENGINEDEFS_HH
#define KORVAN_CE_CONSTRAINTENGINEDEFS_HH

#include <set>
#include <vector>

#include "Utils/base/Entity.hh"
#include "Utils/base/Id.hh"

namespace KORVAN {

class AbstractDomain;
class ConstrainedVariable;
class ConstrainedVariableListener;
class Constraint;
class ConstraintEngine;
class ConstraintFactory;
class CESchema;
class Propagator;

typedef Id<Entity> EntityId;
typedef Id<ConstrainedVariable> ConstrainedVariableId;
typedef Id<ConstrainedVariableListener> ConstrainedVariableListenerId;
typedef Id<Constraint> ConstraintId;
typedef Id<ConstraintEngine> ConstraintEngineId;
typedef Id<ConstraintFactory> ConstraintFactoryId;
typedef Id<CESchema> CESchemaId;
typedef Id<Propagator> PropagatorId;

/// Sets ordered by entity key (stable from run to run, unlike handle order).
typedef std::set<ConstraintId, EntityComparator<ConstraintId>> ConstraintSet;
typedef std::set<ConstrainedVariableId, EntityComparator<ConstrainedVariableId>> ConstrainedVariableSet;

} // namespace KORVAN

#endif
