// Links the resource module into korvan-run: the host initialises
// ModuleResource with its engine, and prints each resource's limits and level
// envelope (one line per instant) after the plan.

#include <cmath>
#include <list>
#include <map>
#include <memory>
#include <ostream>
#include <set>

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
#include "Resource/component/MIRT_Reusable.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "apps/KorvanRun.hh"

namespace KORVAN {
namespace HOST {

namespace {

std::string level(double value, const Rounding& rounding = Rounding()) {
  if (value >= g_infiniteTimeAsDouble())
    return "+inf";
  if (value <= -g_infiniteTimeAsDouble())
    return "-inf";
  // A sum of decimals that cancels leaves a rounding error, not a level: 0.1 + 0.2 - 0.3.
  return toString(sameAtLimitPrecision(value, 0.0, rounding) ? 0.0 : value);
}

std::string time(TimePoint t) {
  if (t >= g_infiniteTime())
    return "+inf";
  if (t <= -g_infiniteTime())
    return "-inf";
  return std::to_string(t);
}

// The instant-based resource reports through its own instants.
void printInstantEnvelope(std::ostream& out, KORVAN::Resource& resource) {
  out << "    limits [" << level(resource.getLimitMin()) << " " << level(resource.getLimitMax()) << "]"
      << std::endl;
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  if (instants.empty())
    out << "    level: no instants" << std::endl;
  for (const InstantId& instant : instants) {
    IntervalDomain bounds;
    resource.getLevelAt(instant->getTime(), bounds);
    out << "    level at " << time(instant->getTime()) << " [" << level(bounds.getLowerBound(), resource.getRounding())
        << " " << level(bounds.getUpperBound(), resource.getRounding()) << "]" << std::endl;
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
    if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(static_cast<Object*>(object)))
      rounding = MIRT::FVDetector::roundingOf(profiled->getProfile());
    const ApList<TimePoint>& times = levels->getTimes();
    if (times.size() == 0)
      out << "    level: no instants" << std::endl;
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

// The profile's envelope holds every completion of the plan: when it is inside the limits at
// every instant, so is every schedule the plan allows.
void checkProfile(MIRT::Resource& resource, std::vector<std::string>& problems) {
  const std::string name = resource.getName().toString();
  const MIRT::ProfileId& profile = resource.getProfile();
  if (!profile.isValid()) {
    problems.push_back(name + ": never closed: it has no limits (a resource takes its limits when it is closed)");
    return;
  }
  IntervalDomain bounds;
  profile->getLevel(-g_infiniteTime(), bounds);
  for (MIRT::ProfileIterator it(profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    const MIRT::InstantId inst = it.getInstant();
    const std::string at = name + ": at " + time(inst->getTime()) + " ";
    const Rounding rounding = MIRT::roundingAt(inst);
    if (belowLimit(inst->getLowerLevel(), resource.getLowerLimit(), rounding) ||
        aboveLimit(inst->getUpperLevel(), resource.getUpperLimit(), rounding))
      problems.push_back(outside(at + "level", inst->getLowerLevel(), inst->getUpperLevel(),
                                 resource.getLowerLimit(), resource.getUpperLimit()));
    if (aboveLimit(inst->getMaxInstantProduction(), resource.getMaxInstProduction(), rounding))
      problems.push_back(outside(at + "production", inst->getMinInstantProduction(),
                                 inst->getMaxInstantProduction(), 0, resource.getMaxInstProduction()));
    if (aboveLimit(inst->getMaxInstantConsumption(), resource.getMaxInstConsumption(), rounding))
      problems.push_back(outside(at + "consumption", inst->getMinInstantConsumption(),
                                 inst->getMaxInstantConsumption(), 0, resource.getMaxInstConsumption()));
    if (aboveLimit(inst->getMaxCumulativeProduction(), resource.getMaxProduction(), rounding))
      problems.push_back(outside(at + "total production", inst->getMinCumulativeProduction(),
                                 inst->getMaxCumulativeProduction(), 0, resource.getMaxProduction()));
    if (aboveLimit(inst->getMaxCumulativeConsumption(), resource.getMaxConsumption(), rounding))
      problems.push_back(outside(at + "total consumption", inst->getMinCumulativeConsumption(),
                                 inst->getMaxCumulativeConsumption(), 0, resource.getMaxConsumption()));
  }
}

void checkInstants(KORVAN::Resource& resource, std::vector<std::string>& problems) {
  const std::string name = resource.getName().toString();
  std::list<InstantId> instants;
  resource.getInstants(instants, -g_infiniteTime() - 1, g_infiniteTime());
  for (const InstantId& instant : instants) {
    IntervalDomain bounds;
    resource.getLevelAt(instant->getTime(), bounds);
    if (belowLimit(bounds.getLowerBound(), resource.getLimitMin(), resource.getRounding()) ||
        aboveLimit(bounds.getUpperBound(), resource.getLimitMax(), resource.getRounding()))
      problems.push_back(outside(name + ": at " + time(instant->getTime()) + " level", bounds.getLowerBound(),
                                 bounds.getUpperBound(), resource.getLimitMin(), resource.getLimitMax()));
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
  if (aboveLimit(produced[1], resource.getProductionMax(), resource.getRounding()))
    problems.push_back(outside(name + ": total production", produced[0], produced[1], 0, resource.getProductionMax()));
  if (belowLimit(consumed[1], resource.getConsumptionMax(), resource.getRounding()))
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
      problems.push_back("token " + token->toString() + ": on " + std::to_string(values.size()) +
                         " objects, not exactly one");
  }
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

// A profile-based resource empties a transaction's quantity to report a violation; it recorded
// what it found just before.
std::string explainViolation(const MIRT::Resource& resource, const TokenNamer& nameOf) {
  typedef MIRT::ResourceProblem P;
  const MIRT::Resource::ReportedViolation& v = resource.getReportedViolation();
  const std::string at = resource.getName().toString() + ": at " + time(v.time) + " ";
  const std::string by = resource.getName().toString() + ": by " + time(v.time) + " ";
  std::string what;
  switch (v.problem) {
  case P::LevelTooLow:
    what = at + "the level is at most " + level(v.upperValue) + " in every schedule, below its lower limit " +
           level(v.limit);
    break;
  case P::LevelTooHigh:
    what = at + "the level is at least " + level(v.lowerValue) + " in every schedule, above its upper limit " +
           level(v.limit);
    break;
  case P::ProductionRateExceeded:
    what = at + "at least " + level(v.lowerValue) + " is produced in every schedule, more than its production rate "
           "limit " + level(v.limit);
    break;
  case P::ConsumptionRateExceeded:
    what = at + "at least " + level(v.lowerValue) + " is consumed in every schedule, more than its consumption "
           "rate limit " + level(v.limit);
    break;
  case P::ProductionSumExceeded:
    what = by + "at least " + level(v.lowerValue) + " is produced in total in every schedule, more than its "
           "production maximum " + level(v.limit);
    break;
  case P::ConsumptionSumExceeded:
    what = by + "at least " + level(v.lowerValue) + " is consumed in total in every schedule, more than its "
           "consumption maximum " + level(v.limit);
    break;
  default:
    what = resource.getName().toString() + ": a limit is broken at " + time(v.time);
  }
  return what + tokenList(v.tokens, nameOf);
}

// The instant-based resource empties the object variable of one of its tokens.
std::string explainInstantViolation(KORVAN::Resource& resource) {
  std::list<ResourceViolationId> violations;
  resource.getResourceViolations(violations, -g_infiniteTime() - 1, g_infiniteTime());
  std::string what = resource.getName().toString() + ": ";
  if (violations.empty())
    return what + "a limit is broken";
  const ResourceViolationId& first = violations.front();
  if (first->getInstant().isNoId())
    what += "over the whole horizon, ";
  else {
    IntervalDomain bounds;
    resource.getLevelAt(first->getInstant()->getTime(), bounds);
    what += "at " + time(first->getInstant()->getTime()) + " (level [" + level(bounds.getLowerBound()) + " " +
            level(bounds.getUpperBound()) + "], limits [" + level(resource.getLimitMin()) + " " +
            level(resource.getLimitMax()) + "]), ";
  }
  typedef ResourceProblem P;
  switch (first->getType()) {
  case P::LevelTooLow: what += "the level is below its lower limit in every schedule"; break;
  case P::LevelTooHigh: what += "the level is above its upper limit in every schedule"; break;
  case P::ProductionRateExceeded: what += "more is produced at once than its production rate limit"; break;
  case P::ConsumptionRateExceeded: what += "more is consumed at once than its consumption rate limit"; break;
  case P::ProductionSumExceeded:
    what += "more is produced in total than its production maximum " + level(std::fabs(resource.getProductionMax()));
    break;
  case P::ConsumptionSumExceeded:
    what += "more is consumed in total than its consumption maximum " + level(std::fabs(resource.getConsumptionMax()));
    break;
  default: what += "a limit is broken";
  }
  return what;
}

std::string explainEmptying(const PlanDatabaseId& db, const ConstraintEngine::Emptying& emptying,
                            const TokenNamer& nameOf) {
  const ConstrainedVariableId& var = emptying.variable;
  // Only the instant-based resources' own pass has its profiles up to date: asking another
  // time could rebuild one in the middle of propagation.
  const bool instantPass = emptying.propagator.isValid() &&
                           emptying.propagator->getName() == ResourceConstraint::PROPAGATOR_NAME();
  for (const auto& entry : db->getObjects()) {
    Object* object = static_cast<Object*>(entry.second);
    if (MIRT::Resource* profiled = dynamic_cast<MIRT::Resource*>(object)) {
      if (profiled->getReportedViolation().emptied == var)
        return explainViolation(*profiled, nameOf);
    } else if (KORVAN::Resource* instantBased = dynamic_cast<KORVAN::Resource*>(object)) {
      if (!instantPass)
        continue;
      const TokenSet& tokens = instantBased->tokens();
      bool reporter = false;
      for (const TokenId& token : tokens)
        reporter = reporter || ConstrainedVariableId(token->getObject()) == var;
      if (reporter && instantBased->isViolated())
        return explainInstantViolation(*instantBased);
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
    for (const char* type : {"Resource", "Reservoir", "Reusable", "Unary"})
      registerObjectPrinter(type, printEnvelope);
  }
};

const ResourceBinding sl_binding;

}

}
}
