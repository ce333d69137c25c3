// Why no schedule of the plan keeps korvan-run's resources, and which limit a resource broke
// when it emptied a domain: the refutations and explanations its binding registers.

#include <algorithm>
#include <cmath>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Resource/base/Instant.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_FVDetector.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/ResourceConstraint.hh"
#include "Resource/base/Transaction.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "apps/KorvanRun.hh"
#include "apps/ResourceReport.hh"

namespace KORVAN {
namespace HOST {

using namespace ResourceReport;

namespace {

// What breaks a limit of a profile-based resource at an instant in every schedule, in words.
std::string violationText(const MIRT::Resource& resource, TimePoint t, MIRT::ResourceProblem::Type problem,
                          double limit, double lowerValue, double upperValue, const std::vector<TokenId>& tokens,
                          const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const std::string at = resource.getName().toString() + ": at " + time(t) + " ";
  const std::string by = resource.getName().toString() + ": by " + time(t) + " ";
  std::string what;
  switch (problem) {
  case P::LevelTooLow:
    what = at + "the level is at most " + level(upperValue, Rounding(), true) + " in every schedule, below its lower limit " +
           level(limit);
    break;
  case P::LevelTooHigh:
    what = at + "the level is at least " + level(lowerValue, Rounding(), true) + " in every schedule, above its upper limit " +
           level(limit);
    break;
  case P::ProductionRateExceeded:
    what = at + "at least " + level(lowerValue, Rounding(), true) + " is produced in every schedule, more than its production rate "
           "limit " + level(limit);
    break;
  case P::ConsumptionRateExceeded:
    what = at + "at least " + level(lowerValue, Rounding(), true) + " is consumed in every schedule, more than its consumption "
           "rate limit " + level(limit);
    break;
  case P::ProductionSumExceeded:
    what = by + "at least " + level(lowerValue, Rounding(), true) + " is produced in total in every schedule, more than its "
           "production maximum " + level(limit);
    break;
  case P::ConsumptionSumExceeded:
    what = by + "at least " + level(lowerValue, Rounding(), true) + " is consumed in total in every schedule, more than its "
           "consumption maximum " + level(limit);
    break;
  default:
    what = resource.getName().toString() + ": a limit is broken at " + time(t);
  }
  return what + tokenList(tokens, nameOf);
}

// The tokens with a change on the problem's side: at the instant for a rate, by its time for a total.
std::vector<TokenId> sideTokens(const MIRT::Resource& resource, TimePoint t, bool consumers, bool byTime) {
  std::vector<TokenId> tokens;
  for (const MIRT::TransactionId& transaction : transactionsOf(resource)) {
    const EntityId& parent = transaction->time()->parent();
    const AbstractDomain& when = transaction->time()->lastDomain();
    if (transaction->isConsumer() != consumers || !parent.isValid() || !TokenId::convertable(parent) || when.isEmpty())
      continue;
    if (byTime ? when.getUpperBound() <= t : when.isSingleton() && when.getSingletonValue() == t)
      tokens.push_back(TokenId(parent));
  }
  return tokens;
}

std::vector<TokenId> levelTokensAndJoining(const MIRT::Resource& resource, TimePoint t, bool tooLow);

// A profile-based resource empties a transaction's quantity to report a violation; it recorded
// what it found just before. A level is held outside its limits by the tokens in use there, not
// only by those whose changes fall on the instant.
std::string explainViolation(const MIRT::Resource& resource, const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const MIRT::Resource::ReportedViolation& v = resource.getReportedViolation();
  const bool level = v.problem == P::LevelTooLow || v.problem == P::LevelTooHigh;
  return violationText(resource, v.time, v.problem, v.limit, v.lowerValue, v.upperValue,
                       level ? levelTokensAndJoining(resource, v.time, v.problem == P::LevelTooLow) : v.tokens, nameOf);
}

// A use or a change among transactions that alone breaks a limit of a profile-based resource in
// every schedule.
std::string refuteTransactions(const MIRT::Resource& resource, const std::set<MIRT::TransactionId>& transactions,
                               const TokenNamer& nameOf) {
  const std::string name = resource.getName().toString();
  const bool reusable = dynamic_cast<const MIRT::Reusable*>(&resource) != nullptr;
  // By token key, the first the model made, then its take before its give-back: both may break
  // a rate, and the transactions come in the order of their addresses.
  std::map<std::pair<int, bool>, std::string> found;
  // What one change alone may not exceed, at once or in total.
  struct Bound {
    bool consumer;
    double limit;
    const char* at;
    const char* what;
  };
  const Bound bounds[] = {{true, resource.getMaxInstConsumption(), " at once", "consumption rate limit"},
                          {false, resource.getMaxInstProduction(), " at once", "production rate limit"},
                          {true, resource.getMaxConsumption(), "", "consumption maximum"},
                          {false, resource.getMaxProduction(), "", "production maximum"}};
  for (const MIRT::TransactionId& transaction : transactions) {
    const EntityId& parent = transaction->time()->parent();
    const AbstractDomain& quantity = transaction->quantity()->lastDomain();
    if (!parent.isValid() || !TokenId::convertable(parent) || quantity.isEmpty())
      continue;
    const TokenId token(parent);
    const double least = quantity.getLowerBound();
    const bool consumer = transaction->isConsumer();
    // Named only when it breaks a limit: a schedule search asks this after every fix.
    auto who = [&]() { return name + ": " + nameOf(token); };
    std::string why;
    // A reusable gets back what a use takes only when it ends: while it lasts, the level is the
    // capacity less the use at most, summed as the profile sums it.
    Rounding summed = MIRT::FVDetector::levelRounding(resource);
    summed.add(least);
    const double left = remainingOf(resource.getInitCapacityUb(), least);
    if (reusable && consumer && belowLimit(left, resource.getLowerLimit(), summed))
      why = who() + " uses " + level(least) + ", more than the capacity " + level(resource.getInitCapacityUb()) +
            " allows: while it is under way the level is at most " + level(left) +
            " in every schedule, below its lower limit " + level(resource.getLowerLimit());
    for (const Bound& bound : bounds)
      if (why.empty() && consumer == bound.consumer && aboveLimit(least, bound.limit))
        why = who() + (consumer ? " consumes " : " produces ") + level(least) + bound.at + ", more than its " +
              bound.what + " " + level(bound.limit);
    if (!why.empty())
      found.insert(std::make_pair(std::make_pair(token->getKey(), !consumer), why));
  }
  return found.empty() ? std::string() : found.begin()->second;
}

// How the tokens not yet on a resource may still move its level: a token still inactive, or on
// several candidate objects, may or may not join each of them.
struct Undecided {
  bool mayRaise = false, mayLower = false;
  struct Joining {
    TokenId token;
    bool raises, lowers;
  };
  std::vector<Joining> tokens;
};

// The tokens that hold a level at t, and those that may still join and move it that way there: a
// use while it may be under way, a change once it may have come.
std::vector<TokenId> withJoining(std::vector<TokenId> tokens, const Undecided& undecided, TimePoint t, bool tooLow) {
  for (const Undecided::Joining& joining : undecided.tokens) {
    const AbstractDomain& start = joining.token->start()->lastDomain();
    const AbstractDomain& end = joining.token->end()->lastDomain();
    const bool event = joining.token->start() == joining.token->end();
    if ((tooLow ? joining.lowers : joining.raises) && !start.isEmpty() && !end.isEmpty() &&
        start.getLowerBound() <= t && (event || end.getUpperBound() > t))
      tokens.push_back(joining.token);
  }
  return tokens;
}

std::map<int, Undecided> undecidedTokens(const PlanDatabaseId& db) {
  std::map<int, Undecided> byResource;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (token->isMerged() || token->isRejected())
      continue;
    const AbstractDomain& objects = token->getObject()->lastDomain();
    if (objects.isEmpty() || (token->isActive() && objects.isSingleton()))
      continue;
    Token* raw = static_cast<Token*>(token);
    Undecided moves;
    if (const MIRT::ReservoirToken* event = dynamic_cast<const MIRT::ReservoirToken*>(raw)) {
      moves.mayRaise = !event->isConsumer();
      moves.mayLower = event->isConsumer();
    } else if (dynamic_cast<const MIRT::ReusableToken*>(raw) != nullptr) {
      // A use gives back no more than it took: it never raises the level.
      moves.mayLower = true;
    } else if (const Transaction* change = dynamic_cast<const Transaction*>(raw)) {
      moves.mayRaise = change->getMax() > 0;
      moves.mayLower = change->getMin() < 0;
    } else {
      moves.mayRaise = moves.mayLower = true;
    }
    std::list<double> values;
    objects.getValues(values);
    for (double value : values) {
      Undecided& moved = byResource[ObjectId(value)->getKey()];
      moved.mayRaise = moved.mayRaise || moves.mayRaise;
      moved.mayLower = moved.mayLower || moves.mayLower;
      moved.tokens.push_back(Undecided::Joining{token, moves.mayRaise, moves.mayLower});
    }
  }
  return byResource;
}

// The tokens on the object, and those that may still join it, that move its level that way at t.
std::vector<TokenId> withJoiningOn(const Object& object, const std::vector<TokenId>& tokens, TimePoint t, bool tooLow) {
  const std::map<int, Undecided> undecided = undecidedTokens(object.getPlanDatabase());
  const std::map<int, Undecided>::const_iterator on = undecided.find(object.getKey());
  return on == undecided.end() ? tokens : withJoining(tokens, on->second, t, tooLow);
}

std::vector<TokenId> levelTokensAndJoining(const MIRT::Resource& resource, TimePoint t, bool tooLow) {
  return withJoiningOn(resource, levelTokens(resource, t, tooLow), t, tooLow);
}

// An instant of the envelope outside a limit in every schedule. The envelope counts only the
// tokens on the resource: a level is refuted only where none that may still join could bring it
// back. Rates and totals only grow with more tokens.
std::string refuteProfile(const MIRT::Resource& resource, const Undecided& undecided, const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const MIRT::ProfileId& profile = resource.getProfile();
  for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const MIRT::InstantId inst = it.getInstant();
    const TimePoint t = inst->getTime();
    const double lower = inst->getLowerLevel(), upper = inst->getUpperLevel();
    const Rounding rounding = MIRT::roundingAt(inst);
    if (!undecided.mayRaise && belowLimit(upper, resource.getLowerLimit(), rounding))
      return violationText(resource, t, P::LevelTooLow, resource.getLowerLimit(), lower, upper,
                           withJoining(levelTokens(resource, t, true), undecided, t, true), nameOf);
    if (!undecided.mayLower && aboveLimit(lower, resource.getUpperLimit(), rounding))
      return violationText(resource, t, P::LevelTooHigh, resource.getUpperLimit(), lower, upper,
                           withJoining(levelTokens(resource, t, false), undecided, t, false), nameOf);
    // A change side's least amount against its limit: rates at the instant, totals by its time.
    const struct {
      double least, limit;
      P::Type problem;
      bool consumers, byTime;
    } sides[] = {
        {inst->getMinInstantProduction(), resource.getMaxInstProduction(), P::ProductionRateExceeded, false, false},
        {inst->getMinInstantConsumption(), resource.getMaxInstConsumption(), P::ConsumptionRateExceeded, true, false},
        {inst->getMinCumulativeProduction(), resource.getMaxProduction(), P::ProductionSumExceeded, false, true},
        {inst->getMinCumulativeConsumption(), resource.getMaxConsumption(), P::ConsumptionSumExceeded, true, true}};
    for (const auto& side : sides)
      if (aboveLimit(side.least, side.limit, MIRT::FVDetector::sumRounding(inst, side.consumers)))
        return violationText(resource, t, side.problem, side.limit, side.least, 0,
                             sideTokens(resource, t, side.consumers, side.byTime), nameOf);
  }
  return std::string();
}

// The instant-based resource's level outside a limit at an instant in every schedule.
std::string refuteInstants(KORVAN::Resource& resource, const Undecided& undecided, const TokenNamer& nameOf) {
  const std::string name = resource.getName().toString();
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  const UnboundedSides sides = unboundedSides(changesOf(resource));
  for (const InstantId& instant : instants) {
    const IntervalDomain bounds = levelAt(resource, instant->getTime(), sides);
    const std::pair<double, double> printed = printedLevel(instant, sides);
    const std::string at = name + ": at " + time(instant->getTime()) + " ";
    if (!undecided.mayRaise && belowLimit(bounds.getUpperBound(), resource.getLimitMin(), instant->getRounding()))
      return at + "the level is at most " + side(printed.second) +
             " in every schedule, below its lower limit " + level(resource.getLimitMin()) +
             tokenList(withJoining(levelTokens(resource, instant->getTime(), true, false), undecided, instant->getTime(), true),
                       nameOf);
    if (!undecided.mayLower && aboveLimit(bounds.getLowerBound(), resource.getLimitMax(), instant->getRounding()))
      return at + "the level is at least " + side(printed.first) +
             " in every schedule, above its upper limit " + level(resource.getLimitMax()) +
             tokenList(withJoining(levelTokens(resource, instant->getTime(), false, true), undecided, instant->getTime(),
                                   false),
                       nameOf);
  }
  return std::string();
}


}

// Why no schedule of the plan as it stands keeps the resources: the first resource the model
// made that one use, or its envelope, proves broken, in every completion of the plan, objects
// included.
std::string refute(const PlanDatabaseId& db, const TokenNamer& nameOf) {
  const std::map<int, Undecided> undecided = undecidedTokens(db);
  std::map<int, ObjectId> objects;
  for (const auto& entry : db->getObjects())
    objects[entry.second->getKey()] = entry.second;
  for (const auto& entry : objects) {
    Object* object = static_cast<Object*>(entry.second);
    std::string why;
    const std::map<int, Undecided>::const_iterator moved = undecided.find(entry.first);
    const Undecided joining = moved == undecided.end() ? Undecided() : moved->second;
    if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(object)) {
      if (profiled->getProfile().isValid()) {
        why = refuteTransactions(*profiled, transactionsOf(*profiled), nameOf);
        if (why.empty())
          why = refuteProfile(*profiled, joining, nameOf);
      }
    } else if (KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(object)) {
      if (instantBased->isClosed())
        why = refuteInstants(*instantBased, joining, nameOf);
    }
    if (!why.empty())
      return why;
  }
  return std::string();
}

namespace {

// The plan's objects by key: the order the model made them.
std::map<int, ObjectId> objectsInModelOrder(const PlanDatabaseId& db) {
  std::map<int, ObjectId> objects;
  for (const auto& entry : db->getObjects())
    objects[entry.second->getKey()] = entry.second;
  return objects;
}

// The variables that the constraints "concurrent" and "eq" hold equal to `var`, directly or
// through others, by entity key; `seen` gathers them across calls.
void heldEqual(const ConstrainedVariableId& var, std::map<int, ConstrainedVariableId>& seen) {
  static const LabelStr sl_concurrent("concurrent"), sl_eq("eq");
  std::vector<ConstrainedVariableId> open(1, var);
  seen[var->getKey()] = var;
  while (!open.empty()) {
    const ConstrainedVariableId next = open.back();
    open.pop_back();
    ConstraintSet constraints;
    next->constraints(constraints);
    for (const ConstraintId& constraint : constraints) {
      const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
      if (!constraint->isActive() || scope.size() != 2 ||
          (constraint->getName() != sl_concurrent && constraint->getName() != sl_eq))
        continue;
      for (const ConstrainedVariableId& other : scope)
        if (seen.insert(std::make_pair(other->getKey(), other)).second)
          open.push_back(other);
    }
  }
}

// Changes of one side that come at one instant in every schedule: their times are held equal by
// "concurrent" or "eq", or fixed at the same time.
struct Together {
  int first;     // the least token key among them, the order the model made them
  bool producer;
  std::vector<MIRT::TransactionId> changes;
};

std::vector<Together> changesTogether(const std::set<MIRT::TransactionId>& transactions) {
  // Each change's group: the least key among the variables its time is held equal to, or its
  // time where that is fixed (a negative number cannot be a key).
  std::map<int, int> groupOfVar;
  std::map<double, int> groupOfTime;
  std::map<std::pair<int, bool>, Together> groups;
  int fixedGroups = 0;
  for (const MIRT::TransactionId& transaction : transactions) {
    const EntityId& parent = transaction->time()->parent();
    if (!parent.isValid() || !TokenId::convertable(parent) || transaction->quantity()->lastDomain().isEmpty())
      continue;
    std::map<int, int>::const_iterator known = groupOfVar.find(transaction->time()->getKey());
    int group = 0;
    if (known != groupOfVar.end())
      group = known->second;
    else {
      std::map<int, ConstrainedVariableId> held;
      heldEqual(transaction->time(), held);
      group = held.begin()->first;
      for (const auto& entry : held)
        if (entry.second->lastDomain().isSingleton()) {
          auto fixed = groupOfTime.insert(std::make_pair(entry.second->lastDomain().getSingletonValue(), -1 - fixedGroups));
          fixedGroups += fixed.second ? 1 : 0;
          group = fixed.first->second;
          break;
        }
      for (const auto& entry : held)
        groupOfVar[entry.first] = group;
    }
    Together& together = groups[std::make_pair(group, !transaction->isConsumer())];
    const int key = TokenId(parent)->getKey();
    together.first = together.changes.empty() ? key : std::min(together.first, key);
    together.producer = !transaction->isConsumer();
    together.changes.push_back(transaction);
  }
  std::vector<Together> result;
  for (const auto& entry : groups)
    if (entry.second.changes.size() > 1)
      result.push_back(entry.second);
  std::sort(result.begin(), result.end(), [](const Together& a, const Together& b) {
    return a.first != b.first ? a.first < b.first : a.producer < b.producer;
  });
  return result;
}

}

// Changes of one side that come at one instant in every schedule of the plan as modelled and
// together break the rate limit of the first resource the model made that has such: each counts
// at its least, and only tokens active and on the resource alone are in its profile.
std::string refuteTogether(const PlanDatabaseId& db, const TokenNamer& nameOf) {
  for (const auto& entry : objectsInModelOrder(db)) {
    const MIRT::Resource* profiled = dynamic_cast<const MIRT::Resource*>(static_cast<Object*>(entry.second));
    if (profiled == nullptr || !profiled->getProfile().isValid())
      continue;
    for (const Together& together : changesTogether(profiled->getProfile()->getTransactions())) {
      const double limit = together.producer ? profiled->getMaxInstProduction() : profiled->getMaxInstConsumption();
      double least = 0;
      Rounding summed = Rounding::none();
      std::vector<TokenId> tokens;
      for (const MIRT::TransactionId& transaction : together.changes) {
        least += transaction->quantity()->lastDomain().getLowerBound();
        summed.add(transaction->quantity()->lastDomain().getLowerBound());
        tokens.push_back(TokenId(transaction->time()->parent()));
      }
      if (aboveLimit(least, limit, summed))
        return profiled->getName().toString() + ": " + tokenNames(tokens, nameOf) +
               (together.producer ? " produce " : " consume ") + level(least, Rounding(), true) +
               " at one instant in every schedule, more than its " +
               (together.producer ? "production" : "consumption") + " rate limit " + level(limit);
    }
  }
  return std::string();
}

// A use or change that alone breaks a limit of the first resource the model made that has one.
// Only a token that is active and on the resource alone has its transactions in the profile, so
// the proof holds in every completion of the plan.
std::string refuteAlone(const PlanDatabaseId& db, const TokenNamer& nameOf) {
  for (const auto& entry : objectsInModelOrder(db)) {
    const MIRT::Resource* profiled = dynamic_cast<const MIRT::Resource*>(static_cast<Object*>(entry.second));
    // Read from the profile's own set, not by a walk over its instants: a check that runs on
    // every model leaves the profile's debug lines and handle numbers as they were.
    const std::string why = profiled != nullptr && profiled->getProfile().isValid()
                                ? refuteTransactions(*profiled, profiled->getProfile()->getTransactions(), nameOf)
                                : std::string();
    if (!why.empty())
      return why;
  }
  const std::string overload = refuteOverload(db, nameOf);
  return overload.empty() ? refuteTogether(db, nameOf) : overload;
}

namespace {

// The uses of a unary that go one at a time in every completion of the plan, and what they take.
struct UnaryLoad {
  ObjectId resource;
  std::vector<TokenId> uses; // in the order the model made them
  double length = 0;         // their least durations summed
  double first = 0, last = 0; // their earliest start and latest end
  double least = 0;           // the least quantity among them
  Rounding rounding;          // what any level of the unary may be summed from
};

const MIRT::Reusable* unaryOf(const ObjectId& object) {
  static const LabelStr sl_unary("Unary");
  const MIRT::Reusable* reusable = dynamic_cast<const MIRT::Reusable*>(static_cast<Object*>(object));
  if (reusable == nullptr ||
      (dynamic_cast<const MIRT::UnaryTimeline*>(reusable) == nullptr && object->getType() != sl_unary))
    return nullptr;
  return reusable;
}

// A use counts only when it is active and on the unary alone (no decision takes it off), and
// takes at least all the unary can lend: then two of them at once break its lower limit. Tokens
// still on several candidates are left out, as they could only add to the load; their
// quantities still widen the rounding a level may be forgiven.
std::map<int, UnaryLoad> unaryLoads(const PlanDatabaseId& db) {
  std::map<int, UnaryLoad> loads; // by object key, the order the model made them
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    const MIRT::ReusableToken* use = dynamic_cast<const MIRT::ReusableToken*>(static_cast<Token*>(token));
    const AbstractDomain& objects = token->getObject()->lastDomain();
    if (use == nullptr || token->isMerged() || token->isRejected() || objects.isEmpty())
      continue;
    const AbstractDomain& quantity = use->getQuantity()->lastDomain();
    std::list<double> candidates;
    objects.getValues(candidates);
    for (double value : candidates) {
      const ObjectId resource(value);
      const MIRT::Reusable* reusable = unaryOf(resource);
      if (reusable == nullptr)
        continue;
      auto inserted = loads.insert(std::make_pair(resource->getKey(), UnaryLoad()));
      UnaryLoad& load = inserted.first->second;
      if (inserted.second) {
        load.resource = resource;
        load.rounding = MIRT::FVDetector::levelRounding(*reusable);
        load.first = g_infiniteTimeAsDouble();
        load.last = -g_infiniteTimeAsDouble();
        load.least = g_infiniteTimeAsDouble();
      }
      load.rounding.add(std::max(std::fabs(quantity.getLowerBound()), std::fabs(quantity.getUpperBound())));
      const double room = reusable->getInitCapacityUb() - reusable->getLowerLimit();
      if (!token->isActive() || !objects.isSingleton() || !(room > 0) || !(room < g_infiniteTimeAsDouble()) ||
          quantity.getLowerBound() < room)
        continue;
      load.uses.push_back(token);
      load.length += std::max(0.0, token->duration()->lastDomain().getLowerBound());
      load.first = std::min(load.first, token->start()->lastDomain().getLowerBound());
      load.last = std::max(load.last, token->end()->lastDomain().getUpperBound());
      load.least = std::min(load.least, quantity.getLowerBound());
    }
  }
  return loads;
}

// Uses that go one at a time last longer than the span that holds them all. Two of them at once
// must break the lower limit by more than rounding, or overlapping them is a schedule.
bool overloaded(const UnaryLoad& load) {
  if (load.uses.size() < 2)
    return false;
  const MIRT::Reusable& unary = *unaryOf(load.resource);
  const double span = load.last - load.first;
  return load.first > -g_infiniteTimeAsDouble() && load.last < g_infiniteTimeAsDouble() && load.length > span &&
         belowLimit(unary.getInitCapacityUb() - 2 * load.least, unary.getLowerLimit(), load.rounding);
}

}

// A unary's uses, each taking all it can lend, go one at a time: together they cannot last longer
// than the span from the earliest start to the latest end among them.
bool unaryOverloaded(const PlanDatabaseId& db) {
  for (const auto& entry : unaryLoads(db))
    if (overloaded(entry.second))
      return true;
  return false;
}

// The same of the plan as modelled, in words: the first unary the model made that its uses
// overload.
std::string refuteOverload(const PlanDatabaseId& db, const TokenNamer& nameOf) {
  for (const auto& entry : unaryLoads(db)) {
    const UnaryLoad& load = entry.second;
    if (!overloaded(load))
      continue;
    return load.resource->getName().toString() + ": " + tokenNames(load.uses, nameOf) + " go one at a time and last at least " +
           level(load.length) + " in all, more than the " + level(load.last - load.first) + " from " +
           time((TimePoint)load.first) + " to " + time((TimePoint)load.last) + " that holds them";
  }
  return std::string();
}

// Every schedule the plan still allows breaks a limit where the plan as it stands is refuted. A
// token still on several candidate objects may or may not count on a resource, so nothing is
// claimed before the objects are decided.
bool lostPlan(const PlanDatabaseId& db) {
  for (const auto& entry : db->getTokens())
    if (entry.second->isActive() && !entry.second->getObject()->lastDomain().isSingleton())
      return false;
  return !refute(db, [](const TokenId& token) { return token->toString(); }).empty();
}

namespace {

// The instant-based resource empties the object variable of one of its tokens.
// The instant-based resource's change tokens that may produce (or consume) by `time`, or at it.
std::vector<TokenId> changeTokens(KORVAN::Resource& resource, TimePoint time, bool consumers, bool atTime) {
  std::vector<TokenId> tokens;
  for (const TokenId& token : resource.tokens()) {
    if (!TransactionId::convertable(token) || !token->isActive())
      continue;
    const TransactionId change(token);
    if (change->getEarliest() <= time && (!atTime || change->getLatest() >= time) &&
        (consumers ? change->getMin() < 0 : change->getMax() > 0))
      tokens.push_back(token);
  }
  return tokens;
}

std::string explainInstantViolation(KORVAN::Resource& resource, const TokenNamer& nameOf) {
  std::list<ResourceViolationId> violations;
  resource.getResourceViolations(violations, -g_infiniteTime() - 1, g_infiniteTime());
  std::string what = resource.getName().toString() + ": ";
  if (violations.empty())
    return what + "a limit is broken";
  const ResourceViolationId& first = violations.front();
  if (first->getInstant().isNoId())
    what += "over the whole horizon, ";
  else {
    const InstantId& instant = first->getInstant();
    const UnboundedSides sides = unboundedSides(changesOf(resource));
    levelAt(resource, instant->getTime(), sides);
    const std::pair<double, double> printed = printedLevel(instant, sides);
    what += "at " + time(instant->getTime()) + " (level [" + side(printed.first) + " " + side(printed.second) +
            "], limits [" + level(resource.getLimitMin()) + " " +
            level(resource.getLimitMax()) + "]), ";
  }
  typedef ResourceProblem P;
  const TimePoint t = first->getInstant().isNoId() ? g_infiniteTime() : first->getInstant()->getTime();
  std::vector<TokenId> tokens;
  switch (first->getType()) {
  case P::LevelTooLow:
    what += "the level is below its lower limit in every schedule";
    tokens = withJoiningOn(resource, levelTokens(resource, t, true, false), t, true);
    break;
  case P::LevelTooHigh:
    what += "the level is above its upper limit in every schedule";
    tokens = withJoiningOn(resource, levelTokens(resource, t, false, true), t, false);
    break;
  case P::ProductionRateExceeded:
    what += "more is produced at once than its production rate limit";
    tokens = changeTokens(resource, t, false, true);
    break;
  case P::ConsumptionRateExceeded:
    what += "more is consumed at once than its consumption rate limit";
    tokens = changeTokens(resource, t, true, true);
    break;
  case P::ProductionSumExceeded:
    what += "more is produced in total than its production maximum " + level(std::fabs(resource.getProductionMax()));
    tokens = changeTokens(resource, t, false, false);
    break;
  case P::ConsumptionSumExceeded:
    what += "more is consumed in total than its consumption maximum " + level(std::fabs(resource.getConsumptionMax()));
    tokens = changeTokens(resource, t, true, false);
    break;
  default: what += "a limit is broken";
  }
  return what + tokenList(tokens, nameOf);
}

// Whether the variable's token is on that object alone.
bool isOn(const ConstrainedVariableId& var, const ObjectId& object) {
  const EntityId& parent = var->parent();
  if (!parent.isValid() || !TokenId::convertable(parent))
    return false;
  const AbstractDomain& objects = TokenId(parent)->getObject()->lastDomain();
  return objects.isSingleton() && ObjectId(objects.getSingletonValue()) == object;
}

// A change that the relation to its resources took every candidate from: its quantity breaks each
// candidate's rate limit at once.
std::string explainRateRefusal(const ConstraintId& relation, const TokenNamer& nameOf) {
  const ConstrainedVariableId& objectVar = relation->getScope()[ResourceConstraint::OBJECT];
  const AbstractDomain& quantity = relation->getScope()[ResourceConstraint::USAGE]->lastDomain();
  const EntityId& parent = objectVar->parent();
  if (quantity.isEmpty() || !parent.isValid() || !TokenId::convertable(parent))
    return std::string();
  const std::string who = nameOf(TokenId(parent));
  std::list<double> candidates;
  objectVar->baseDomain().getValues(candidates);
  std::map<int, std::string> reasons; // in the order the model made the resources
  for (double value : candidates) {
    KORVAN::Resource* resource = dynamic_cast<KORVAN::Resource*>(static_cast<Object*>(ObjectId(value)));
    if (resource == nullptr)
      continue;
    const std::string name = resource->getName().toString() + ": " + who;
    const double produces = resource->getProductionRateMax(-g_infiniteTime());
    const double consumes = resource->getConsumptionRateMax(-g_infiniteTime());
    if (aboveLimit(quantity.getLowerBound(), produces))
      reasons[resource->getKey()] = name + " produces " + level(quantity.getLowerBound()) +
                                    " at once, more than its production rate limit " + level(produces);
    else if (belowLimit(quantity.getUpperBound(), consumes))
      reasons[resource->getKey()] = name + " consumes " + level(-quantity.getUpperBound()) +
                                    " at once, more than its consumption rate limit " + level(-consumes);
  }
  std::string text;
  for (const auto& entry : reasons)
    text += (text.empty() ? "" : "; ") + entry.second;
  return text;
}

}

std::string explainEmptying(const PlanDatabaseId& db, const ConstraintEngine::Emptying& emptying,
                            const TokenNamer& nameOf) {
  const ConstrainedVariableId& var = emptying.variable;
  if (emptying.constraint.isValid() && emptying.constraint->getName() == ResourceConstraint::CONSTRAINT_NAME() &&
      var == emptying.constraint->getScope()[ResourceConstraint::OBJECT]) {
    const std::string refused = explainRateRefusal(emptying.constraint, nameOf);
    if (!refused.empty())
      return refused;
  }
  // Only the instant-based resources' own pass has its profiles up to date: asking another
  // time could rebuild one in the middle of propagation.
  const bool instantPass = emptying.propagator.isValid() &&
                           emptying.propagator->getName() == ResourceConstraint::PROPAGATOR_NAME();
  for (const auto& entry : db->getObjects()) {
    Object* object = static_cast<Object*>(entry.second);
    if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(object)) {
      // Another resource's record of an earlier report may name the same quantity: only the
      // resource the token is on now reports on it.
      if (profiled->getReportedViolation().emptied == var && isOn(var, entry.second))
        return explainViolation(*profiled, nameOf);
    } else if (KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(object)) {
      if (!instantPass)
        continue;
      const TokenSet& tokens = instantBased->tokens();
      bool reporter = false;
      for (const TokenId& token : tokens)
        reporter = reporter || ConstrainedVariableId(token->getObject()) == var;
      if (reporter && instantBased->isViolated())
        return explainInstantViolation(*instantBased, nameOf);
    }
  }
  return std::string();
}

}
}
