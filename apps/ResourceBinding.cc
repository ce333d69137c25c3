// Links the resource module into korvan-run: the host initialises
// ModuleResource with its engine, and prints each resource's limits and level
// envelope (one line per instant) after the plan.

#include <algorithm>
#include <cmath>
#include <limits>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <utility>

#include "PlanDatabase/base/Object.hh"
#include "Resource/ModuleResource.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "Resource/base/ApResource.hh"
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
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "apps/KorvanRun.hh"
#include "apps/PlanCheck.hh"

namespace KORVAN {
namespace HOST {

namespace {

// A level or a total that a limit's report summed from finite quantities may pass the horizon
// and is still a number: `summed` prints only the horizon itself as infinite.
std::string level(double value, const Rounding& rounding = Rounding(), bool summed = false) {
  if (summed ? value == g_infiniteTimeAsDouble() : value >= g_infiniteTimeAsDouble())
    return "+inf";
  if (summed ? value == -g_infiniteTimeAsDouble() : value <= -g_infiniteTimeAsDouble())
    return "-inf";
  // A sum of decimals that cancels leaves a rounding error, not a level: 0.1 + 0.2 - 0.3.
  return toString(sameAtLimitPrecision(value, 0.0, rounding) ? 0.0 : value);
}

// A side of a level envelope read raw: a finite sum past the horizon is still a number, and only
// a side that no bound holds is infinite.
std::string side(double value, const Rounding& rounding = Rounding()) {
  if (std::isinf(value))
    return value > 0 ? "+inf" : "-inf";
  return toString(sameAtLimitPrecision(value, 0.0, rounding) ? 0.0 : value);
}

std::string time(TimePoint t) {
  if (t >= g_infiniteTime())
    return "+inf";
  if (t <= -g_infiniteTime())
    return "-inf";
  return std::to_string(t);
}

// From when a quantity without a bound reaches each side of a resource's level: the sums take
// such a quantity as the horizon, which a finite term pulls back inside it, so from the earliest
// time of such a lowering change on the level has no lower bound, and from a raising one's no
// upper bound.
struct UnboundedSides {
  double lowerFrom = std::numeric_limits<double>::infinity();
  double upperFrom = std::numeric_limits<double>::infinity();

  void add(double earliest, bool lowers) {
    double& from = lowers ? lowerFrom : upperFrom;
    from = std::min(from, earliest);
  }
  IntervalDomain at(TimePoint t, double lb, double ub) const {
    const double horizon = g_infiniteTimeAsDouble();
    return IntervalDomain(t >= lowerFrom ? -horizon : lb, t >= upperFrom ? horizon : ub);
  }
  // An initial level the model left without a bound: a sum from it that stays at the horizon or
  // past it is that unbounded level.
  bool initialAbove = false, initialBelow = false;
  void initial(double lb, double ub) {
    initialAbove = ub >= g_infiniteTimeAsDouble();
    initialBelow = lb <= -g_infiniteTimeAsDouble();
  }
  // The same sides as printed, from the raw sums: a finite sum past the horizon stays a number.
  double shown(double value) const {
    const double inf = std::numeric_limits<double>::infinity();
    if (initialAbove && value >= g_infiniteTimeAsDouble())
      return inf;
    return initialBelow && value <= -g_infiniteTimeAsDouble() ? -inf : value;
  }
  double lower(TimePoint t, double lb) const { return t >= lowerFrom ? -std::numeric_limits<double>::infinity() : shown(lb); }
  double upper(TimePoint t, double ub) const { return t >= upperFrom ? std::numeric_limits<double>::infinity() : shown(ub); }
};

// The instant-based resource's change tokens, each counted as read.
std::vector<TransactionId> changesOf(KORVAN::Resource& resource) {
  std::vector<TransactionId> changes;
  for (const TokenId& token : resource.tokens())
    if (TransactionId::convertable(token) && token->isActive())
      changes.push_back(TransactionId(token));
  transactionsRead() += changes.size();
  return changes;
}

UnboundedSides unboundedSides(const std::vector<TransactionId>& changes, double initial) {
  const double horizon = g_infiniteTimeAsDouble();
  UnboundedSides sides;
  sides.initial(initial, initial);
  for (const TransactionId& change : changes) {
    if (change->getMin() <= -horizon)
      sides.add(change->getEarliest(), true);
    if (change->getMax() >= horizon)
      sides.add(change->getEarliest(), false);
  }
  return sides;
}

// The level envelope of the instant-based resource at `t`, with the sides that a quantity
// without a bound reaches unbounded.
IntervalDomain levelAt(KORVAN::Resource& resource, int t, const UnboundedSides& sides) {
  IntervalDomain bounds;
  resource.getLevelAt(t, bounds);
  return sides.at(t, bounds.getLowerBound(), bounds.getUpperBound());
}

// The instant's envelope as printed, read once the resource brought it up to date (`levelAt`).
std::pair<double, double> printedLevel(const InstantId& instant, const UnboundedSides& sides) {
  return std::make_pair(sides.lower(instant->getTime(), instant->getLowerMin()),
                        sides.upper(instant->getTime(), instant->getUpperMax()));
}

// The instant-based resource reports through its own instants.
void printInstantEnvelope(std::ostream& out, KORVAN::Resource& resource) {
  out << "    limits [" << level(resource.getLimitMin()) << " " << level(resource.getLimitMax()) << "]"
      << std::endl;
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  if (instants.empty())
    out << "    level: no instants" << std::endl;
  const UnboundedSides sides = unboundedSides(changesOf(resource), resource.getInitialCapacity());
  for (const InstantId& instant : instants) {
    levelAt(resource, instant->getTime(), sides);
    const std::pair<double, double> printed = printedLevel(instant, sides);
    out << "    level at " << time(instant->getTime()) << " [" << side(printed.first, instant->getRounding())
        << " " << side(printed.second, instant->getRounding()) << "]" << std::endl;
  }
}

UnboundedSides unboundedSides(const MIRT::Resource& resource);

void printEnvelope(std::ostream& out, const ObjectId& object) {
  ApResource* resource = ApResource::asApResource(static_cast<Object*>(object));
  KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(static_cast<Object*>(object));
  if (resource == nullptr && instantBased == nullptr)
    return;
  // A resource takes its limits when it is closed: before, they are not numbers at all.
  if (!object->isClosed()) {
    out << "    never closed: no limits and no levels (a resource takes its limits when it is closed)"
        << std::endl;
    return;
  }
  try {
    if (instantBased != nullptr) {
      printInstantEnvelope(out, *instantBased);
      return;
    }
    std::unique_ptr<ApResourceProfile> limits(resource->getLimits());
    out << "    limits [" << level(limits->getLowerBound(-g_infiniteTime())) << " "
        << level(limits->getUpperBound(-g_infiniteTime())) << "]" << std::endl;
    std::unique_ptr<ApResourceProfile> levels(resource->getLevels());
    // Read after the levels: getting them recomputes the profile, and its detector measures anew.
    Rounding rounding;
    MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(static_cast<Object*>(object));
    if (profiled != nullptr)
      rounding = MIRT::FVDetector::roundingOf(profiled->getProfile());
    const ApList<TimePoint>& times = levels->getTimes();
    if (times.size() == 0)
      out << "    level: no instants" << std::endl;
    if (profiled != nullptr) {
      // The profile's instants come in the order of the envelope's times, with the sums unclamped.
      const UnboundedSides sides = unboundedSides(*profiled);
      for (MIRT::ProfileIterator it(profiled->getProfile(), -g_infiniteTime(), g_infiniteTime()); !it.done();
           it.next()) {
        const MIRT::InstantId inst = it.getInstant();
        const TimePoint t = inst->getTime();
        out << "    level at " << time(t) << " [" << side(sides.lower(t, inst->getLowerLevel()), rounding) << " "
            << side(sides.upper(t, inst->getUpperLevel()), rounding) << "]" << std::endl;
      }
      return;
    }
    for (int i = 0; i < times.size(); i++) {
      TimePoint t = times.get(i);
      out << "    level at " << time(t) << " [" << level(levels->getLowerBound(t), rounding) << " "
          << level(levels->getUpperBound(t), rounding) << "]" << std::endl;
    }
  } catch (const Error& e) {
    // An uninitialised resource (say, one left open) has no envelope to print.
    out << "    level: unavailable (" << (e.getMsg().empty() ? e.getCondition() : e.getMsg()) << ")"
        << std::endl;
  }
}

bool isResource(const ObjectId& object) {
  Object* obj = static_cast<Object*>(object);
  return dynamic_cast<MIRT::Resource*>(obj) != nullptr || dynamic_cast<KORVAN::Resource*>(obj) != nullptr;
}

std::string outside(const std::string& what, double lb, double ub, double min, double max) {
  return what + " [" + level(lb) + " " + level(ub) + "] outside [" + level(min) + " " + level(max) + "]";
}

// A level outside its limits, its sides read raw.
std::string levelOutside(const std::string& what, double lb, double ub, double min, double max) {
  return what + " [" + side(lb) + " " + side(ub) + "] outside [" + level(min) + " " + level(max) + "]";
}

std::string tokenList(const std::vector<TokenId>& tokens, const TokenNamer& nameOf) {
  // In the order the model made them, not in the order of their addresses.
  std::map<int, TokenId> ordered;
  for (const TokenId& token : tokens)
    if (token.isValid())
      ordered[token->getKey()] = token;
  std::string names;
  for (const auto& entry : ordered)
    names += (names.empty() ? "" : ", ") + nameOf(entry.second);
  return names.empty() ? std::string() : " (tokens there: " + names + ")";
}

// Every transaction of the profile, counted as read: each starts at the instant of its earliest
// time and ends at that of its latest. The checks and printers gather them once per resource,
// never once per instant.
std::set<MIRT::TransactionId> transactionsOf(const MIRT::Resource& resource) {
  std::set<MIRT::TransactionId> transactions;
  for (MIRT::ProfileIterator it(resource.getProfile(), -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const MIRT::InstantId inst = it.getInstant();
    for (const std::set<MIRT::TransactionId>* filed : {&inst->getStartingTransactions(), &inst->getEndingTransactions()}) {
      transactions.insert(filed->begin(), filed->end());
      transactionsRead() += filed->size();
    }
  }
  return transactions;
}

UnboundedSides unboundedSides(const MIRT::Resource& resource) {
  const double horizon = g_infiniteTimeAsDouble();
  UnboundedSides sides;
  sides.initial(resource.getInitCapacityLb(), resource.getInitCapacityUb());
  for (const MIRT::TransactionId& transaction : transactionsOf(resource)) {
    const AbstractDomain& when = transaction->time()->lastDomain();
    const AbstractDomain& quantity = transaction->quantity()->lastDomain();
    if (!when.isEmpty() && !quantity.isEmpty() && quantity.getUpperBound() >= horizon)
      sides.add(when.getLowerBound(), transaction->isConsumer());
  }
  return sides;
}

// What a transaction adds to its token's level on the side of a broken limit (below it with
// `tooLow`), and from when: a token's least level there (below a limit) or its most (above it),
// so a use given back by then for sure counts for nothing. A use gives back what it took, so its
// give-back is counted at the same bound as its take, though a ranged quantity bounds the two
// apart. False for a transaction of no token or without values.
struct LevelChange {
  TokenId token;
  double from, change;
};

bool levelChange(const MIRT::TransactionId& transaction, bool tooLow, LevelChange& result) {
  const EntityId& parent = transaction->time()->parent();
  if (!parent.isValid() || !TokenId::convertable(parent))
    return false;
  const AbstractDomain& when = transaction->time()->lastDomain();
  // The quantity the resource emptied to report the violation counts as modelled.
  const AbstractDomain& quantity = transaction->quantity()->lastDomain().isEmpty()
                                       ? transaction->quantity()->baseDomain()
                                       : transaction->quantity()->lastDomain();
  if (when.isEmpty() || quantity.isEmpty())
    return false;
  const bool lowers = transaction->isConsumer();
  // A change toward the broken limit counts once it may have come, one away from it once it surely has.
  result.token = TokenId(parent);
  result.from = tooLow == lowers ? when.getLowerBound() : when.getUpperBound();
  result.change = lowers ? -quantity.getUpperBound() : quantity.getUpperBound();
  return true;
}

// The tokens that may hold the level outside a limit, instant after instant in time order: those
// whose own changes may count there on the side of the broken limit (a use that may be under way,
// a reservoir's consumption that may have come by then), whoever the envelope's bound rests on.
// Each change counts from its time on, so one pass over the changes sorted by it serves every
// instant.
class LevelTokens {
public:
  LevelTokens(const MIRT::Resource& resource, bool tooLow) : m_tooLow(tooLow) {
    LevelChange change;
    for (const MIRT::TransactionId& transaction : transactionsOf(resource))
      if (levelChange(transaction, tooLow, change))
        m_changes.push_back(change);
    std::sort(m_changes.begin(), m_changes.end(),
              [](const LevelChange& a, const LevelChange& b) { return a.from < b.from; });
  }
  // Asked at times that never go back.
  std::vector<TokenId> at(TimePoint time) {
    check_error(time >= m_last, "The tokens holding a level are asked in time order.");
    m_last = time;
    for (; m_next < m_changes.size() && m_changes[m_next].from <= time; m_next++) {
      const LevelChange& change = m_changes[m_next];
      double& net = m_net[change.token];
      net += change.change;
      if (m_tooLow ? net < 0 : net > 0)
        m_holding.insert(change.token);
      else
        m_holding.erase(change.token);
    }
    return std::vector<TokenId>(m_holding.begin(), m_holding.end());
  }

private:
  const bool m_tooLow;
  std::vector<LevelChange> m_changes;
  std::size_t m_next = 0;
  TimePoint m_last = -g_infiniteTime() - 1;
  std::map<TokenId, double> m_net;
  std::set<TokenId> m_holding;
};

std::vector<TokenId> levelTokens(const MIRT::Resource& resource, TimePoint time, bool tooLow) {
  if (!resource.getProfile().isValid())
    return std::vector<TokenId>();
  return LevelTokens(resource, tooLow).at(time);
}

// The same for the instant-based resource, whose change tokens count from their time on; an
// envelope outside both limits is held there by the tokens of either side.
class ChangeTokens {
public:
  explicit ChangeTokens(const std::vector<TransactionId>& changes) {
    for (const TransactionId& change : changes) {
      if (change->getMin() < 0)
        m_lowering.push_back(std::make_pair(change->getEarliest(), TokenId(change)));
      if (change->getMax() > 0)
        m_raising.push_back(std::make_pair(change->getEarliest(), TokenId(change)));
    }
    std::sort(m_lowering.begin(), m_lowering.end());
    std::sort(m_raising.begin(), m_raising.end());
  }
  std::vector<TokenId> at(TimePoint time, bool tooLow, bool tooHigh) const {
    std::vector<TokenId> tokens;
    for (const auto* side : {tooLow ? &m_lowering : nullptr, tooHigh ? &m_raising : nullptr})
      for (std::size_t i = 0; side != nullptr && i < side->size() && (*side)[i].first <= time; i++)
        tokens.push_back((*side)[i].second);
    return tokens;
  }

private:
  std::vector<std::pair<TimePoint, TokenId>> m_lowering, m_raising;
};

std::vector<TokenId> levelTokens(KORVAN::Resource& resource, TimePoint time, bool tooLow, bool tooHigh) {
  return ChangeTokens(changesOf(resource)).at(time, tooLow, tooHigh);
}

// The profile's envelope holds every completion of the plan: when it is inside the limits at
// every instant, so is every schedule the plan allows.
void checkProfile(MIRT::Resource& resource, std::vector<std::string>& problems) {
  const std::string name = resource.getName().toString();
  const MIRT::ProfileId& profile = resource.getProfile();
  if (!profile.isValid())
    return;
  const double horizon = g_infiniteTimeAsDouble();
  const UnboundedSides sides = unboundedSides(resource);
  // Gathered at the first instant outside a limit, then kept up with the instants.
  std::unique_ptr<LevelTokens> lowering, raising;
  for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const MIRT::InstantId inst = it.getInstant();
    const std::string at = name + ": at " + time(inst->getTime()) + " ";
    const Rounding rounding = MIRT::roundingAt(inst);
    const IntervalDomain bounds = sides.at(inst->getTime(), inst->getLowerLevel(), inst->getUpperLevel());
    const bool low = belowLimit(bounds.getLowerBound(), resource.getLowerLimit(), rounding);
    const bool high = aboveLimit(bounds.getUpperBound(), resource.getUpperLimit(), rounding);
    if (low || high) {
      if (lowering == nullptr) {
        lowering.reset(new LevelTokens(resource, true));
        raising.reset(new LevelTokens(resource, false));
      }
      // Outside both limits, the tokens of either side hold it there; both sweeps keep up.
      std::vector<TokenId> tokens = lowering->at(inst->getTime());
      const std::vector<TokenId> up = raising->at(inst->getTime());
      if (!low)
        tokens = up;
      else if (high)
        tokens.insert(tokens.end(), up.begin(), up.end());
      problems.push_back(levelOutside(at + "level", sides.lower(inst->getTime(), inst->getLowerLevel()),
                                      sides.upper(inst->getTime(), inst->getUpperLevel()), resource.getLowerLimit(),
                                      resource.getUpperLimit()) +
                         tokenList(tokens, tokenName));
    }
    // A limit at the horizon is none, though a sum over a quantity without a bound reaches it.
    auto over = [&](double value, double limit) { return limit < horizon && aboveLimit(value, limit, rounding); };
    if (over(inst->getMaxInstantProduction(), resource.getMaxInstProduction()))
      problems.push_back(outside(at + "production", inst->getMinInstantProduction(),
                                 inst->getMaxInstantProduction(), 0, resource.getMaxInstProduction()));
    if (over(inst->getMaxInstantConsumption(), resource.getMaxInstConsumption()))
      problems.push_back(outside(at + "consumption", inst->getMinInstantConsumption(),
                                 inst->getMaxInstantConsumption(), 0, resource.getMaxInstConsumption()));
    if (over(inst->getMaxCumulativeProduction(), resource.getMaxProduction()))
      problems.push_back(outside(at + "total production", inst->getMinCumulativeProduction(),
                                 inst->getMaxCumulativeProduction(), 0, resource.getMaxProduction()));
    if (over(inst->getMaxCumulativeConsumption(), resource.getMaxConsumption()))
      problems.push_back(outside(at + "total consumption", inst->getMinCumulativeConsumption(),
                                 inst->getMaxCumulativeConsumption(), 0, resource.getMaxConsumption()));
  }
}

void checkInstants(KORVAN::Resource& resource, std::vector<std::string>& problems) {
  const std::string name = resource.getName().toString();
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  const std::vector<TransactionId> changes = changesOf(resource);
  const UnboundedSides sides = unboundedSides(changes, resource.getInitialCapacity());
  const ChangeTokens holding(changes);
  for (const InstantId& instant : instants) {
    const IntervalDomain bounds = levelAt(resource, instant->getTime(), sides);
    const bool low = belowLimit(bounds.getLowerBound(), resource.getLimitMin(), instant->getRounding());
    const bool high = aboveLimit(bounds.getUpperBound(), resource.getLimitMax(), instant->getRounding());
    const std::pair<double, double> printed = printedLevel(instant, sides);
    if (low || high)
      problems.push_back(levelOutside(name + ": at " + time(instant->getTime()) + " level", printed.first,
                                      printed.second, resource.getLimitMin(), resource.getLimitMax()) +
                         tokenList(holding.at(instant->getTime(), low, high), tokenName));
  }
  // The resource's own totals count each quantity at its least: every quantity the plan still
  // allows must keep them, and each change its rate.
  std::set<TransactionId> txs;
  resource.getTransactions(txs, -g_infiniteTime(), g_infiniteTime(), false);
  double produced[2] = {0, 0}, consumed[2] = {0, 0};
  for (const TransactionId& tx : txs) {
    const double qmin = tx->getMin(), qmax = tx->getMax();
    produced[0] += std::max(0.0, qmin);
    produced[1] += std::max(0.0, qmax);
    consumed[0] += std::min(0.0, qmax);
    consumed[1] += std::min(0.0, qmin);
    const double rateMin = resource.getConsumptionRateMax(tx->getEarliest());
    const double rateMax = resource.getProductionRateMax(tx->getEarliest());
    if (belowLimit(qmin, rateMin, resource.getRounding()) || aboveLimit(qmax, rateMax, resource.getRounding()))
      problems.push_back(outside(name + ": at " + time(tx->getEarliest()) + " change", qmin, qmax, rateMin, rateMax));
  }
  // A limit at the horizon is none, though a sum over a quantity without a bound reaches it.
  const double horizon = g_infiniteTimeAsDouble();
  if (resource.getProductionMax() < horizon && aboveLimit(produced[1], resource.getProductionMax(), resource.getRounding()))
    problems.push_back(outside(name + ": total production", produced[0], produced[1], 0, resource.getProductionMax()));
  if (resource.getConsumptionMax() > -horizon && belowLimit(consumed[1], resource.getConsumptionMax(), resource.getRounding()))
    problems.push_back(outside(name + ": total consumption", consumed[1], consumed[0], resource.getConsumptionMax(), 0));
}

void checkResources(const PlanDatabaseId& db, std::vector<std::string>& problems) {
  for (const auto& entry : db->getObjects()) {
    Object* object = static_cast<Object*>(entry.second);
    if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(object))
      checkProfile(*profiled, problems);
    else if (KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(object))
      checkInstants(*instantBased, problems);
  }
  // A token reaches a resource's levels only once its object is decided.
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    std::list<double> values;
    token->getObject()->lastDomain().getValues(values);
    bool onResource = false;
    for (double value : values)
      onResource = onResource || isResource(ObjectId(value));
    if (onResource && values.size() != 1)
      problems.push_back("token " + tokenName(token) + ": on " + std::to_string(values.size()) +
                         " objects, not exactly one");
  }
}

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

// A profile-based resource empties a transaction's quantity to report a violation; it recorded
// what it found just before. A level is held outside its limits by the tokens in use there, not
// only by those whose changes fall on the instant.
std::string explainViolation(const MIRT::Resource& resource, const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const MIRT::Resource::ReportedViolation& v = resource.getReportedViolation();
  const bool level = v.problem == P::LevelTooLow || v.problem == P::LevelTooHigh;
  return violationText(resource, v.time, v.problem, v.limit, v.lowerValue, v.upperValue,
                       level ? levelTokens(resource, v.time, v.problem == P::LevelTooLow) : v.tokens, nameOf);
}

// A use or a change that alone breaks a limit of a profile-based resource in every schedule.
std::string refuteTransactions(const MIRT::Resource& resource, const TokenNamer& nameOf) {
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
  for (const MIRT::TransactionId& transaction : transactionsOf(resource)) {
    const EntityId& parent = transaction->time()->parent();
    const AbstractDomain& quantity = transaction->quantity()->lastDomain();
    if (!parent.isValid() || !TokenId::convertable(parent) || quantity.isEmpty())
      continue;
    const TokenId token(parent);
    const double least = quantity.getLowerBound();
    const bool consumer = transaction->isConsumer();
    const std::string who = name + ": " + nameOf(token);
    std::string why;
    // A reusable gets back what a use takes only when it ends: while it lasts, the level is the
    // capacity less the use at most.
    if (reusable && consumer && belowLimit(resource.getInitCapacityUb() - least, resource.getLowerLimit()))
      why = who + " uses " + level(least) + ", more than the capacity " + level(resource.getInitCapacityUb()) +
            " allows: while it is under way the level is at most " + level(resource.getInitCapacityUb() - least) +
            " in every schedule, below its lower limit " + level(resource.getLowerLimit());
    for (const Bound& bound : bounds)
      if (why.empty() && consumer == bound.consumer && aboveLimit(least, bound.limit))
        why = who + (consumer ? " consumes " : " produces ") + level(least) + bound.at + ", more than its " +
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
};

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
    }
  }
  return byResource;
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
                           levelTokens(resource, t, true), nameOf);
    if (!undecided.mayLower && aboveLimit(lower, resource.getUpperLimit(), rounding))
      return violationText(resource, t, P::LevelTooHigh, resource.getUpperLimit(), lower, upper,
                           levelTokens(resource, t, false), nameOf);
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
      if (aboveLimit(side.least, side.limit, rounding))
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
  const UnboundedSides sides = unboundedSides(changesOf(resource), resource.getInitialCapacity());
  for (const InstantId& instant : instants) {
    const IntervalDomain bounds = levelAt(resource, instant->getTime(), sides);
    const std::pair<double, double> printed = printedLevel(instant, sides);
    const std::string at = name + ": at " + time(instant->getTime()) + " ";
    if (!undecided.mayRaise && belowLimit(bounds.getUpperBound(), resource.getLimitMin(), instant->getRounding()))
      return at + "the level is at most " + side(printed.second) +
             " in every schedule, below its lower limit " + level(resource.getLimitMin()) +
             tokenList(levelTokens(resource, instant->getTime(), true, false), nameOf);
    if (!undecided.mayLower && aboveLimit(bounds.getLowerBound(), resource.getLimitMax(), instant->getRounding()))
      return at + "the level is at least " + side(printed.first) +
             " in every schedule, above its upper limit " + level(resource.getLimitMax()) +
             tokenList(levelTokens(resource, instant->getTime(), false, true), nameOf);
  }
  return std::string();
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
        why = refuteTransactions(*profiled, nameOf);
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

// Every schedule the plan still allows breaks a limit where the plan as it stands is refuted. A
// token still on several candidate objects may or may not count on a resource, so nothing is
// claimed before the objects are decided.
bool lostPlan(const PlanDatabaseId& db) {
  for (const auto& entry : db->getTokens())
    if (entry.second->isActive() && !entry.second->getObject()->lastDomain().isSingleton())
      return false;
  return !refute(db, [](const TokenId& token) { return token->toString(); }).empty();
}

// A resource never closed has no limits: no schedule can settle it.
void checkClosed(const PlanDatabaseId& db, std::vector<std::string>& problems) {
  for (const auto& entry : db->getObjects()) {
    MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(static_cast<Object*>(entry.second));
    if (profiled != nullptr && !profiled->getProfile().isValid())
      problems.push_back(profiled->getName().toString() +
                         ": never closed: it has no limits (a resource takes its limits when it is closed)");
  }
}

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
    const UnboundedSides sides = unboundedSides(changesOf(resource), resource.getInitialCapacity());
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

// Orderings resolve a flaw only where the envelope is exact enough for them to cover every
// schedule: a timetable counts a give-back before its take, and a ranged quantity of a use is
// bounded apart in its take and its give-back.
std::string choiceGap(const PlanDatabaseId& db) {
  for (const auto& entry : db->getObjects()) {
    MIRT::Reusable* reusable = dynamic_cast<MIRT::Reusable*>(static_cast<Object*>(entry.second));
    if (reusable == nullptr || !reusable->getProfile().isValid())
      continue;
    const MIRT::ProfileId& profile = reusable->getProfile();
    const bool timetable = dynamic_cast<MIRT::TimetableProfile*>(static_cast<MIRT::Profile*>(profile)) != nullptr;
    for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
      if (timetable)
        return reusable->getName().toString() + " uses a timetable profile";
      for (const MIRT::TransactionId& transaction : it.getInstant()->getStartingTransactions())
        if (!transaction->quantity()->lastDomain().isSingleton())
          return reusable->getName().toString() + " has a use of ranged quantity";
    }
  }
  return std::string();
}

struct ResourceBinding {
  ResourceBinding() {
    registerModule([]() -> Module* { return new ModuleResource(); });
    // The flawed instants go first: their handler orders the transactions that make the flaw,
    // which a token-level ordering of the same resource may not reach. Repairing the earliest
    // flaw first proves tiny models without a plan in tens of steps where the most flawed
    // instant first can take a thousand.
    registerDefaultFlawManagers("<FlawManager component='MIRTThreatManager' order='earliest'>\n"
                                "<FlawHandler component='MIRTThreatHandler'/></FlawManager>\n");
    for (const char* name : {"ResourceObjectRelation", "ResourceTransactionRelation", "ProfileVariableListener"})
      registerBookkeepingConstraint(name);
    registerPlanChecker(checkResources);
    registerEmptyingExplainer(explainEmptying);
    registerChoiceGap(choiceGap);
    registerRefutation(refute);
    registerUnjudgedChecker(checkClosed);
    registerDeadEnd(lostPlan);
    for (const char* type : {"Resource", "Reservoir", "Reusable", "Unary"})
      registerObjectPrinter(type, printEnvelope);
  }
};

const ResourceBinding sl_binding;

}

}
}
