// Why no schedule of the plan keeps korvan-run's resources, and which limit a resource broke
// when it emptied a domain: the refutations and explanations its binding registers.

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>
#include <map>
#include <set>
#include <unordered_map>
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
#include "Verdict/ChangeWatch.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/PlanCheck.hh"
#include "Verdict/ResourceReport.hh"

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
    double most; // the most it may move the level by, either way
  };
  std::vector<Joining> tokens;
};

// Whether a token that may join can move the level at t: a use while it may be under way, a
// change once it may have come.
bool mayMoveAt(const Undecided::Joining& joining, TimePoint t) {
  const AbstractDomain& start = joining.token->start()->lastDomain();
  const AbstractDomain& end = joining.token->end()->lastDomain();
  const bool event = joining.token->start() == joining.token->end();
  return !start.isEmpty() && !end.isEmpty() && start.getLowerBound() <= t && (event || end.getUpperBound() > t);
}

// The tokens that hold a level at t, and those that may still join and move it that way there.
std::vector<TokenId> withJoining(std::vector<TokenId> tokens, const Undecided& undecided, TimePoint t, bool tooLow) {
  for (const Undecided::Joining& joining : undecided.tokens)
    if ((tooLow ? joining.lowers : joining.raises) && mayMoveAt(joining, t))
      tokens.push_back(joining.token);
  return tokens;
}

// The most that the tokens that may still join could bring a level at t back towards the limit
// it broke (up from below, down from above), and those tokens, added to `tokens`.
double joiningBack(const Undecided& undecided, TimePoint t, bool tooLow, std::vector<TokenId>& tokens) {
  double back = 0;
  for (const Undecided::Joining& joining : undecided.tokens)
    if ((tooLow ? joining.raises : joining.lowers) && mayMoveAt(joining, t)) {
      tokens.push_back(joining.token);
      back += joining.most;
    }
  return back;
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
    double most = std::numeric_limits<double>::infinity();
    auto largest = [](const ConstrainedVariableId& quantity) {
      const AbstractDomain& dom = quantity->lastDomain();
      return dom.isEmpty() ? 0.0 : std::max(std::fabs(dom.getLowerBound()), std::fabs(dom.getUpperBound()));
    };
    if (const MIRT::ReservoirToken* event = dynamic_cast<const MIRT::ReservoirToken*>(raw)) {
      moves.mayRaise = !event->isConsumer();
      moves.mayLower = event->isConsumer();
      most = largest(event->getQuantity());
    } else if (const MIRT::ReusableToken* use = dynamic_cast<const MIRT::ReusableToken*>(raw)) {
      // A use gives back no more than it took: it never raises the level.
      moves.mayLower = true;
      most = largest(use->getQuantity());
    } else if (const Transaction* change = dynamic_cast<const Transaction*>(raw)) {
      moves.mayRaise = change->getMax() > 0;
      moves.mayLower = change->getMin() < 0;
      most = std::max(std::fabs(change->getMin()), std::fabs(change->getMax()));
    } else {
      moves.mayRaise = moves.mayLower = true;
    }
    std::list<double> values;
    objects.getValues(values);
    for (double value : values) {
      Undecided& moved = byResource[ObjectId(value)->getKey()];
      moved.mayRaise = moved.mayRaise || moves.mayRaise;
      moved.mayLower = moved.mayLower || moves.mayLower;
      moved.tokens.push_back(Undecided::Joining{token, moves.mayRaise, moves.mayLower, most});
    }
  }
  return byResource;
}

// The tokens that may still join the object, gathered into `undecided`; none when no token may.
const Undecided* undecidedOn(const Object& object, std::map<int, Undecided>& undecided) {
  undecided = undecidedTokens(object.getPlanDatabase());
  const std::map<int, Undecided>::const_iterator on = undecided.find(object.getKey());
  return on == undecided.end() ? nullptr : &on->second;
}

// A profile-based resource empties a transaction's quantity to report a violation; it recorded
// what it found just before. A level is held outside its limits by the tokens in use there, not
// only by those whose changes fall on the instant. Its envelope counts the tokens on it alone:
// those that may still join could bring the level back, as far as the totals let them, so the
// bound stated counts them, and names them.
std::string explainViolation(const MIRT::Resource& resource, const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const MIRT::Resource::ReportedViolation& v = resource.getReportedViolation();
  if (v.problem != P::LevelTooLow && v.problem != P::LevelTooHigh)
    return violationText(resource, v.time, v.problem, v.limit, v.lowerValue, v.upperValue, v.tokens, nameOf);
  const bool tooLow = v.problem == P::LevelTooLow;
  std::vector<TokenId> tokens = levelTokens(resource, v.time, tooLow);
  double lower = v.lowerValue, upper = v.upperValue;
  std::map<int, Undecided> undecided;
  if (const Undecided* on = undecidedOn(resource, undecided)) {
    tokens = withJoining(tokens, *on, v.time, tooLow);
    const double back = std::min(joiningBack(*on, v.time, tooLow, tokens), std::fabs(v.allowedBack));
    (tooLow ? upper : lower) += tooLow ? back : -back;
  }
  return violationText(resource, v.time, v.problem, v.limit, lower, upper, tokens, nameOf);
}

// An instant of the envelope outside a limit in every schedule. The envelope counts only the
// tokens on the resource: a level is refuted only where none that may still join could bring it
// back. Rates and totals only grow with more tokens.
std::string refuteInstant(const MIRT::Resource& resource, const MIRT::InstantId& inst, const Undecided& undecided,
                          const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  deadEndReads()++;
  {
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

std::string refuteProfile(const MIRT::Resource& resource, const Undecided& undecided, const TokenNamer& nameOf) {
  for (MIRT::ProfileIterator it(resource.getProfile(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const std::string why = refuteInstant(resource, it.getInstant(), undecided, nameOf);
    if (!why.empty())
      return why;
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

namespace {
bool refutedInSearch(const PlanDatabaseId& db, const TokenNamer& nameOf, std::string& why);
}

// Why no schedule of the plan as it stands keeps the resources: the first resource the model
// made that one use, or its envelope, proves broken, in every completion of the plan, objects
// included.
std::string refute(const PlanDatabaseId& db, const TokenNamer& nameOf) {
  std::string kept;
  if (refutedInSearch(db, nameOf, kept))
    return kept;
  const std::map<int, Undecided> undecided = undecidedTokens(db);
  // By key: the order the model made them.
  for (const auto& entry : db->getObjects()) {
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

// The variables that the constraints "concurrent" and "eq" hold equal to `var`, directly or
// through others, by entity key; `seen` gathers them across calls.
void heldEqual(const ConstrainedVariableId& var, std::map<int, ConstrainedVariableId>& seen) {
  static const LabelStr sl_concurrent("concurrent"), sl_eq("eq");
  PlanCheck::reachThrough(var, [](const ConstraintId& constraint) {
    if (!constraint->isActive() || constraint->getScope().size() != 2)
      return false;
    return constraint->getName() == sl_concurrent || constraint->getName() == sl_eq;
  }, seen);
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
  for (const auto& entry : db->getObjects()) {
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
  for (const auto& entry : db->getObjects()) {
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

const TokenNamer sl_byToString = [](const TokenId& token) { return token->toString(); };

bool wholePlanLost(const PlanDatabaseId& db) {
  for (const auto& entry : db->getTokens())
    if (entry.second->isActive() && !entry.second->getObject()->lastDomain().isSingleton())
      return false;
  return !refute(db, sl_byToString).empty();
}

// What the dead-end check keeps while a schedule search runs: the active tokens still on several
// candidate objects and, per profile-based resource, the transactions and instants that alone
// refute it. A fix changes some instants and transactions and the objects of some tokens: only
// those are read again. A token neither active, merged nor rejected may still join a resource and
// move its level: then the whole plan is read every time, as it is outside a search.
class LostPlanMemory : public TokenChangeMemory {
public:
  explicit LostPlanMemory(const PlanDatabaseId& db)
      : TokenChangeMemory(db->getConstraintEngine()), m_objects(db->getObjects()) {
    for (const auto& entry : db->getTokens()) {
      const TokenId& token = entry.second;
      watch(token->getState(), token);
      watch(token->getObject(), token);
      m_whole = m_whole || !(token->isActive() || token->isMerged() || token->isRejected());
      if (token->isActive() && !token->getObject()->lastDomain().isSingleton())
        m_open.insert(token->getKey());
    }
  }

  /// Whether what is kept answers for the plan as it stands: every token is decided and active or
  /// out of the plan, so nothing may still join a resource. Brings it up to date.
  bool current() {
    for (const TokenId& token : takeMoved()) {
      if (token->isActive() && !token->getObject()->lastDomain().isSingleton())
        m_open.insert(token->getKey());
      else
        m_open.erase(token->getKey());
    }
    if (m_whole || !m_open.empty())
      return false;
    for (const auto& entry : m_objects)
      if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(static_cast<Object*>(entry.second)))
        if (profiled->getProfile().isValid())
          readAgain(*profiled, m_refuting[entry.first]);
    return true;
  }

  bool lost(const PlanDatabaseId& db) {
    if (!current())
      return m_whole ? wholePlanLost(db) : false;
    for (const auto& entry : m_objects)
      if (!why(entry.second, sl_byToString).empty())
        return true;
    return false;
  }

  /// What refute() says of the object, read from what is kept; current() first.
  std::string why(const ObjectId& object, const TokenNamer& nameOf) const {
    const std::map<int, Refuting>::const_iterator kept = m_refuting.find(object->getKey());
    if (kept != m_refuting.end()) {
      const Refuting& refuting = kept->second;
      const MIRT::Resource& profiled = *dynamic_cast<MIRT::Resource*>(static_cast<Object*>(object));
      if (!refuting.transactions.empty()) {
        std::set<MIRT::TransactionId> transactions;
        for (const auto& entry : refuting.transactions)
          transactions.insert(entry.first);
        return refuteTransactions(profiled, transactions, nameOf);
      }
      return refuting.times.empty()
                 ? std::string()
                 : refuteInstant(profiled, profiled.getProfile()->instantAt(*refuting.times.begin()), Undecided(), nameOf);
    }
    KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(static_cast<Object*>(object));
    return instantBased != nullptr && instantBased->isClosed() ? refuteInstants(*instantBased, Undecided(), nameOf)
                                                               : std::string();
  }

  const std::map<int, ObjectId>& objects() const { return m_objects; }

private:
  // Per resource: whether it was read in full, and what alone refutes it since.
  struct Refuting {
    bool read = false;
    std::map<MIRT::TransactionId, int> transactions;
    std::set<int> times;
  };

  // Each transaction and each instant refutes a resource alone, or does not.
  void readAgain(const MIRT::Resource& resource, Refuting& refuting) {
    const MIRT::ProfileId& profile = resource.getProfile();
    std::vector<int> times;
    std::vector<MIRT::TransactionId> transactions;
    profile->takeChanged(times, transactions);
    if (!refuting.read) {
      refuting.read = true;
      times.clear();
      transactions.clear();
      for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next())
        times.push_back(it.getInstant()->getTime());
      const std::set<MIRT::TransactionId> all = transactionsOf(resource);
      transactions.assign(all.begin(), all.end());
    } else
      transactionsRead() += transactions.size();
    for (const MIRT::TransactionId& transaction : transactions) {
      refuting.transactions.erase(transaction);
      if (profile->getTransactions().count(transaction) > 0 &&
          !refuteTransactions(resource, std::set<MIRT::TransactionId>{transaction}, sl_byToString).empty())
        refuting.transactions[transaction] = 0;
    }
    for (int time : times) {
      refuting.times.erase(time);
      const MIRT::InstantId instant = profile->instantAt(time);
      if (instant.isValid() && !refuteInstant(resource, instant, Undecided(), sl_byToString).empty())
        refuting.times.insert(time);
    }
  }

  void heardOf(const ConstrainedVariable& var, const TokenId& token) override {
    // A token that joins or leaves the plan may move any level.
    if (&var == (const ConstrainedVariable*) token->getState())
      m_whole = true;
  }

  bool m_whole = false;
  std::set<int> m_open; // active tokens on several candidates
  std::map<int, ObjectId> m_objects; // the order the model made them
  std::map<int, Refuting> m_refuting; // by resource key
};

const char sl_lostPlanKey = 0;

LostPlanMemory& lostPlanMemory(SearchScope& scope, const PlanDatabaseId& db) {
  return static_cast<LostPlanMemory&>(scope.memory(&sl_lostPlanKey, [&db]() { return new LostPlanMemory(db); }));
}

}

// Every schedule the plan still allows breaks a limit where the plan as it stands is refuted. A
// token still on several candidate objects may or may not count on a resource, so nothing is
// claimed before the objects are decided.
bool lostPlan(const PlanDatabaseId& db) {
  SearchScope* scope = SearchScope::of(db->getConstraintEngine());
  return scope != nullptr ? lostPlanMemory(*scope, db).lost(db) : wholePlanLost(db);
}

namespace {

// While a schedule search runs, a dead end's refutation reads what the dead-end check keeps.
bool refutedInSearch(const PlanDatabaseId& db, const TokenNamer& nameOf, std::string& why) {
  SearchScope* scope = SearchScope::of(db->getConstraintEngine());
  if (scope == nullptr)
    return false;
  LostPlanMemory& memory = lostPlanMemory(*scope, db);
  if (!memory.current())
    return false;
  why.clear();
  for (const auto& entry : memory.objects())
    if (!(why = memory.why(entry.second, nameOf)).empty())
      break;
  return true;
}

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
  typedef ResourceProblem P;
  const bool ofLevel = first->getType() == P::LevelTooLow || first->getType() == P::LevelTooHigh;
  // Changes that may still join move the level either way, as far as the totals let them: the
  // envelope printed and the tokens named count them.
  std::vector<TokenId> joining;
  std::map<int, Undecided> undecided;
  const Undecided* on = ofLevel ? undecidedOn(resource, undecided) : nullptr;
  if (!first->getInstant().isNoId()) {
    const InstantId& instant = first->getInstant();
    const std::vector<TransactionId> changes = changesOf(resource);
    const UnboundedSides sides = unboundedSides(changes);
    levelAt(resource, instant->getTime(), sides);
    std::pair<double, double> printed = printedLevel(instant, sides);
    if (on != nullptr) {
      double produced = 0, consumed = 0; // the least the changes on it take from each total
      for (const TransactionId& change : changes) {
        produced += std::max(0.0, change->getMin());
        consumed += std::min(0.0, change->getMax());
      }
      printed.first -= std::min(joiningBack(*on, instant->getTime(), false, joining),
                                std::fabs(remainingOf(resource.getConsumptionMax(), consumed)));
      printed.second += std::min(joiningBack(*on, instant->getTime(), true, joining),
                                 std::fabs(remainingOf(resource.getProductionMax(), produced)));
    }
    what += "at " + time(instant->getTime()) + " (level [" + side(printed.first) + " " + side(printed.second) +
            "], limits [" + level(resource.getLimitMin()) + " " +
            level(resource.getLimitMax()) + "]), ";
  }
  const TimePoint t = first->getInstant().isNoId() ? g_infiniteTime() : first->getInstant()->getTime();
  std::vector<TokenId> tokens;
  switch (first->getType()) {
  case P::LevelTooLow:
    what += "the level is below its lower limit in every schedule";
    tokens = levelTokens(resource, t, true, false);
    break;
  case P::LevelTooHigh:
    what += "the level is above its upper limit in every schedule";
    tokens = levelTokens(resource, t, false, true);
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
  if (on != nullptr) {
    tokens = withJoining(tokens, *on, t, first->getType() == P::LevelTooLow);
    tokens.insert(tokens.end(), joining.begin(), joining.end());
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
