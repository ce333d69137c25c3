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
#include "Resource/base/Transaction.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/PlanCheck.hh"
#include "Verdict/ResourceReport.hh"

namespace KORVAN {
namespace HOST {

namespace ResourceReport {

namespace {

// What a transaction adds to its token's level on the side of a broken limit (below it with
// `tooLow`), and from when: a token's least level there (below a limit) or its most (above it),
// so a use given back by then for sure counts for nothing. A use gives back what it took, so its
// give-back is counted at the same bound as its take, though a ranged quantity bounds the two
// apart. False for a transaction of no token or without values.
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

}

std::string level(double value, const Rounding& rounding, bool summed) {
  const double horizon = g_infiniteTimeAsDouble();
  if (std::isinf(value) || (summed ? std::fabs(value) == horizon : std::fabs(value) >= horizon))
    return value > 0 ? "+inf" : "-inf";
  // A sum of decimals that cancels leaves a rounding error, not a level: 0.1 + 0.2 - 0.3.
  return toString(sameAtLimitPrecision(value, 0.0, rounding) ? 0.0 : value);
}

std::string side(double value, const Rounding& rounding) {
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

std::vector<TransactionId> changesOf(KORVAN::Resource& resource) {
  std::vector<TransactionId> changes;
  for (const TokenId& token : resource.tokens())
    if (TransactionId::convertable(token) && token->isActive())
      changes.push_back(TransactionId(token));
  transactionsRead() += changes.size();
  return changes;
}

UnboundedSides unboundedSides(const std::vector<TransactionId>& changes) {
  const double horizon = g_infiniteTimeAsDouble();
  UnboundedSides sides;
  for (const TransactionId& change : changes) {
    if (change->getMin() <= -horizon)
      sides.add(change->getEarliest(), true);
    if (change->getMax() >= horizon)
      sides.add(change->getEarliest(), false);
  }
  return sides;
}

IntervalDomain levelAt(KORVAN::Resource& resource, int t, const UnboundedSides& sides) {
  IntervalDomain bounds;
  resource.getLevelAt(t, bounds);
  return sides.at(t, bounds.getLowerBound(), bounds.getUpperBound());
}

std::pair<double, double> printedLevel(const InstantId& instant, const UnboundedSides& sides) {
  return std::make_pair(sides.lower(instant->getTime(), instant->getLowerMin()),
                        sides.upper(instant->getTime(), instant->getUpperMax()));
}

std::string tokenNames(const std::vector<TokenId>& tokens, const TokenNamer& nameOf) {
  // In the order the model made them, not in the order of their addresses.
  std::map<int, TokenId> ordered;
  for (const TokenId& token : tokens)
    if (token.isValid())
      ordered[token->getKey()] = token;
  std::string names;
  for (const auto& entry : ordered)
    names += (names.empty() ? "" : ", ") + nameOf(entry.second);
  return names;
}

std::string tokenList(const std::vector<TokenId>& tokens, const TokenNamer& nameOf) {
  const std::string names = tokenNames(tokens, nameOf);
  return names.empty() ? std::string() : " (tokens there: " + names + ")";
}

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
  for (const MIRT::TransactionId& transaction : transactionsOf(resource)) {
    const AbstractDomain& when = transaction->time()->lastDomain();
    const AbstractDomain& quantity = transaction->quantity()->lastDomain();
    if (!when.isEmpty() && !quantity.isEmpty() && quantity.getUpperBound() >= horizon)
      sides.add(when.getLowerBound(), transaction->isConsumer());
  }
  return sides;
}

LevelTokens::LevelTokens(const MIRT::Resource& resource, bool tooLow) : m_tooLow(tooLow) {
  LevelChange change;
  for (const MIRT::TransactionId& transaction : transactionsOf(resource))
    if (levelChange(transaction, tooLow, change))
      m_changes.push_back(change);
  std::sort(m_changes.begin(), m_changes.end(),
            [](const LevelChange& a, const LevelChange& b) { return a.from < b.from; });
}

std::vector<TokenId> LevelTokens::at(TimePoint time) {
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

std::vector<TokenId> levelTokens(const MIRT::Resource& resource, TimePoint time, bool tooLow) {
  if (!resource.getProfile().isValid())
    return std::vector<TokenId>();
  return LevelTokens(resource, tooLow).at(time);
}
ChangeTokens::ChangeTokens(const std::vector<TransactionId>& changes) {
  for (const TransactionId& change : changes) {
    if (change->getMin() < 0)
      m_lowering.push_back(std::make_pair(change->getEarliest(), TokenId(change)));
    if (change->getMax() > 0)
      m_raising.push_back(std::make_pair(change->getEarliest(), TokenId(change)));
  }
  std::sort(m_lowering.begin(), m_lowering.end());
  std::sort(m_raising.begin(), m_raising.end());
}

std::vector<TokenId> ChangeTokens::at(TimePoint time, bool tooLow, bool tooHigh) const {
  std::vector<TokenId> tokens;
  for (const auto* side : {tooLow ? &m_lowering : nullptr, tooHigh ? &m_raising : nullptr})
    for (std::size_t i = 0; side != nullptr && i < side->size() && (*side)[i].first <= time; i++)
      tokens.push_back((*side)[i].second);
  return tokens;
}

std::vector<TokenId> levelTokens(KORVAN::Resource& resource, TimePoint time, bool tooLow, bool tooHigh) {
  return ChangeTokens(changesOf(resource)).at(time, tooLow, tooHigh);
}
}

namespace {

using namespace ResourceReport;

// The instant-based resource reports through its own instants.
void printInstantEnvelope(std::ostream& out, KORVAN::Resource& resource) {
  out << "    limits [" << level(resource.getLimitMin()) << " " << level(resource.getLimitMax()) << "]"
      << std::endl;
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  if (instants.empty())
    out << "    level: no instants" << std::endl;
  const UnboundedSides sides = unboundedSides(changesOf(resource));
  for (const InstantId& instant : instants) {
    levelAt(resource, instant->getTime(), sides);
    const std::pair<double, double> printed = printedLevel(instant, sides);
    out << "    level at " << time(instant->getTime()) << " [" << side(printed.first, instant->getRounding())
        << " " << side(printed.second, instant->getRounding()) << "]" << std::endl;
  }
}

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

// Uses that the temporal network keeps one after another never hold a reusable together: its
// level is its capacity less one use's quantity at most, whatever the schedule, however loose a
// timetable's envelope. Only where no rate or total has a limit, so that the level is all to keep.
bool oneUseAtATime(MIRT::Resource& resource) {
  const double horizon = g_infiniteTimeAsDouble();
  if (dynamic_cast<MIRT::Reusable*>(&resource) == nullptr || !resource.getProfile().isValid())
    return false;
  for (double limit : {resource.getMaxInstProduction(), resource.getMaxInstConsumption(), resource.getMaxProduction(),
                       resource.getMaxConsumption()})
    if (std::fabs(limit) < horizon)
      return false;
  if (resource.getInitCapacityLb() < resource.getLowerLimit() || resource.getInitCapacityUb() > resource.getUpperLimit())
    return false;
  std::vector<std::pair<double, MIRT::ReusableToken*>> uses;
  for (const TokenId& token : resource.tokens()) {
    MIRT::ReusableToken* use = dynamic_cast<MIRT::ReusableToken*>(static_cast<Token*>(token));
    if (use == nullptr || !token->isActive() || !token->getObject()->lastDomain().isSingleton())
      return false;
    const AbstractDomain& quantity = use->getQuantity()->lastDomain();
    const AbstractDomain& start = token->start()->lastDomain();
    if (quantity.isEmpty() || start.isEmpty() || !(std::fabs(quantity.getLowerBound()) < horizon) ||
        !(std::fabs(quantity.getUpperBound()) < horizon) ||
        resource.getInitCapacityLb() - quantity.getUpperBound() < resource.getLowerLimit() ||
        resource.getInitCapacityUb() - quantity.getLowerBound() > resource.getUpperLimit())
      return false;
    uses.push_back(std::make_pair(start.getLowerBound(), use));
  }
  // Every transaction is a take or a give-back of one of these uses.
  if (resource.getProfile()->getTransactions().size() != 2 * uses.size())
    return false;
  std::sort(uses.begin(), uses.end(), [](const std::pair<double, MIRT::ReusableToken*>& a,
                                         const std::pair<double, MIRT::ReusableToken*>& b) {
    return a.first != b.first ? a.first < b.first : a.second->getKey() < b.second->getKey();
  });
  // Each use ends before the next starts in every schedule: the order is total. The network is
  // asked directly, not through the advisor, whose debug lines would show in the run.
  const PropagatorId& propagator =
      resource.getPlanDatabase()->getConstraintEngine()->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME());
  TemporalPropagator* temporal =
      propagator.isNoId() ? nullptr : dynamic_cast<TemporalPropagator*>(static_cast<Propagator*>(propagator));
  if (temporal == nullptr && uses.size() > 1)
    return false;
  for (size_t i = 1; i < uses.size(); i++) {
    // A constraint between the two that keeps them in order answers without a search: in a
    // long chain a shortest-path row per pair of neighbours was most of the proof.
    temporal->sync();
    const int before = temporal->getTimepoint(uses[i - 1].second->end());
    const int after = temporal->getTimepoint(uses[i].second->start());
    if (before >= 0 && after >= 0 && temporal->getNetwork().isConsistent() &&
        temporal->getNetwork().getEdgeLowerBound(before, after) >= 0)
      continue;
    TemporalPropagator::Time lb = 0, ub = 0;
    if (!temporal->findDistance(uses[i - 1].second->end(), uses[i].second->start(), lb, ub) || lb < 0)
      return false;
  }
  return true;
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
  // A use gives back what it took, and no sooner: a reusable never holds more than it held at
  // first, though a timetable counts a give-back while its take may still come later.
  const double most = dynamic_cast<const MIRT::Reusable*>(&resource) != nullptr ? resource.getInitCapacityUb() : horizon;
  // Gathered at the first instant outside a limit, then kept up with the instants.
  std::unique_ptr<LevelTokens> lowering, raising;
  // Asked at the first level outside a limit: uses held one at a time break none.
  int serial = -1;
  for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const MIRT::InstantId inst = it.getInstant();
    const std::string at = name + ": at " + time(inst->getTime()) + " ";
    const Rounding rounding = MIRT::roundingAt(inst);
    const IntervalDomain bounds = sides.at(inst->getTime(), inst->getLowerLevel(), inst->getUpperLevel());
    const bool low = belowLimit(bounds.getLowerBound(), resource.getLowerLimit(), rounding);
    const bool high = aboveLimit(std::min(bounds.getUpperBound(), most), resource.getUpperLimit(), rounding);
    if ((low || high) && serial < 0)
      serial = oneUseAtATime(resource) ? 1 : 0;
    if ((low || high) && serial == 0) {
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
    auto over = [&](double value, double limit, bool consumer) {
      return limit < horizon && aboveLimit(value, limit, MIRT::FVDetector::sumRounding(inst, consumer));
    };
    if (over(inst->getMaxInstantProduction(), resource.getMaxInstProduction(), false))
      problems.push_back(outside(at + "production", inst->getMinInstantProduction(),
                                 inst->getMaxInstantProduction(), 0, resource.getMaxInstProduction()));
    if (over(inst->getMaxInstantConsumption(), resource.getMaxInstConsumption(), true))
      problems.push_back(outside(at + "consumption", inst->getMinInstantConsumption(),
                                 inst->getMaxInstantConsumption(), 0, resource.getMaxInstConsumption()));
    if (over(inst->getMaxCumulativeProduction(), resource.getMaxProduction(), false))
      problems.push_back(outside(at + "total production", inst->getMinCumulativeProduction(),
                                 inst->getMaxCumulativeProduction(), 0, resource.getMaxProduction()));
    if (over(inst->getMaxCumulativeConsumption(), resource.getMaxConsumption(), true))
      problems.push_back(outside(at + "total consumption", inst->getMinCumulativeConsumption(),
                                 inst->getMaxCumulativeConsumption(), 0, resource.getMaxConsumption()));
  }
}

void checkInstants(KORVAN::Resource& resource, std::vector<std::string>& problems) {
  const std::string name = resource.getName().toString();
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  const std::vector<TransactionId> changes = changesOf(resource);
  const UnboundedSides sides = unboundedSides(changes);
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
    // A rate bounds each change alone, as the relation to its resource judges it.
    if (belowLimit(qmin, rateMin) || aboveLimit(qmax, rateMax))
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

// A resource never closed has no limits: no schedule can settle it.
void checkClosed(const PlanDatabaseId& db, std::vector<std::string>& problems) {
  for (const auto& entry : db->getObjects()) {
    MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(static_cast<Object*>(entry.second));
    if (profiled != nullptr && !profiled->getProfile().isValid())
      problems.push_back(profiled->getName().toString() +
                         ": never closed: it has no limits (a resource takes its limits when it is closed)");
  }
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

// A reusable whose flaws are all above its capacity: a timetable or a ranged quantity counts a
// give-back while its take may still come later, and no schedule has such a level. Uses held one
// at a time break no limit, whatever flaws the envelope shows.
bool upperFlawsOnly(const ObjectId& object) {
  MIRT::Reusable* reusable = dynamic_cast<MIRT::Reusable*>(static_cast<Object*>(object));
  if (reusable == nullptr)
    return false;
  if (oneUseAtATime(*reusable))
    return true;
  std::vector<MIRT::InstantId> flawed;
  reusable->getFlawedInstants(flawed);
  return std::none_of(flawed.begin(), flawed.end(), [](const MIRT::InstantId& inst) { return inst->hasLowerLevelFlaw(); });
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
    registerEnvelopeJudged(upperFlawsOnly);
    registerRefutation(refute);
    registerRefutationBeforeSearch(refuteAlone);
    registerUnjudgedChecker(checkClosed);
    registerDeadEnd(lostPlan);
    registerOverload(unaryOverloaded, reusableOverloaded);
    for (const char* type : {"Resource", "Reservoir", "Reusable", "Unary"})
      registerObjectPrinter(type, printEnvelope);
  }
};

const ResourceBinding sl_binding;

}

}
}