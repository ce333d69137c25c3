#ifndef KORVAN_SOLVERS_SOLVERDEFS_HH
#define KORVAN_SOLVERS_SOLVERDEFS_HH

#include <vector>

#include "Utils/base/Id.hh"

class TiXmlElement;

namespace KORVAN {

class Entity;
typedef Id<Entity> EntityId;
class PlanDatabase;
typedef Id<PlanDatabase> PlanDatabaseId;
class DbClient;
typedef Id<DbClient> DbClientId;
class Object;
typedef Id<Object> ObjectId;
class Token;
typedef Id<Token> TokenId;
class ConstrainedVariable;
typedef Id<ConstrainedVariable> ConstrainedVariableId;
class Constraint;
typedef Id<Constraint> ConstraintId;
class Iterator;
typedef Id<Iterator> IteratorId;

namespace SOLVERS {

class Component;
typedef Id<Component> ComponentId;
class Context;
typedef Id<Context> ContextId;
class MatchingRule;
typedef Id<MatchingRule> MatchingRuleId;
class FlawHandler;
typedef Id<FlawHandler> FlawHandlerId;
class FlawManager;
typedef Id<FlawManager> FlawManagerId;
class FlawIterator;
typedef Id<FlawIterator> FlawIteratorId;
class DecisionPoint;
typedef Id<DecisionPoint> DecisionPointId;
class MatchingEngine;
typedef Id<MatchingEngine> MatchingEngineId;
class MatchFinder;
typedef Id<MatchFinder> MatchFinderId;
class Solver;
typedef Id<Solver> SolverId;

} // namespace SOLVERS
} // namespace KORVAN

#endif
