#ifndef KORVAN_PLANDATABASE_DEFS_HH
#define KORVAN_PLANDATABASE_DEFS_HH

#include <list>
#include <set>
#include <utility>
#include <vector>

#include "Utils/base/Entity.hh"
#include "Utils/base/Id.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {

class AbstractDomain;
class ConstrainedVariable;
class Constraint;
class ConstraintEngine;
class TemporalAdvisor;

class Schema;
class PlanDatabase;
class DbClient;
class Object;
class Token;
class EventToken;
class IntervalToken;
class ObjectFactory;
class TokenFactory;
class StateDomain;
class ObjectDomain;
class IntervalIntDomain;
template <class DomainType>
class TokenVariable;

typedef Id<Schema> SchemaId;
typedef Id<PlanDatabase> PlanDatabaseId;
typedef Id<DbClient> DbClientId;
typedef Id<Object> ObjectId;
typedef Id<Token> TokenId;
typedef Id<EventToken> EventTokenId;
typedef Id<IntervalToken> IntervalTokenId;
typedef Id<ObjectFactory> ObjectFactoryId;
typedef Id<TokenFactory> TokenFactoryId;
typedef Id<TemporalAdvisor> TemporalAdvisorId;

typedef Id<TokenVariable<StateDomain>> StateVarId;
typedef Id<TokenVariable<ObjectDomain>> ObjectVarId;
typedef Id<TokenVariable<IntervalIntDomain>> TempVarId;

/// Token sets ordered by entity key, so that iteration does not depend on heap addresses.
typedef std::set<TokenId, EntityComparator<TokenId>> TokenSet;

} // namespace KORVAN

#endif
