#include "Verdict/PlanCheck.hh"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <unordered_map>
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/Solver.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Verdict/ChangeWatch.hh"
#include "Verdict/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

unsigned long long& transactionsRead() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned long long& usesRead() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned long long& deadEndReads() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned long long& crowdingReads() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

namespace PlanCheck {

std::string number(double value) { return toString(value == 0.0 ? 0.0 : value); }

std::string bounds(const AbstractDomain& domain) {
  if (domain.isEmpty())
    return "{}";
  std::ostringstream os;
  if (domain.isSingleton() && domain.isNumeric())
    os << number(domain.getSingletonValue());
  else if (domain.isNumeric())
    os << "[" << number(domain.getLowerBound()) << " " << number(domain.getUpperBound()) << "]";
  else
    os << domain.toString();
  return os.str();
}

std::string variableName(const ConstrainedVariableId& var) {
  // A token's variable goes by the token's name; an object's member already carries its object's.
  const std::string name = var->getName().toString();
  const EntityId& parent = var->parent();
  if (parent.isValid() && TokenId::convertable(parent))
    return tokenName(TokenId(parent)) + "." + name;
  return name;
}

bool isTime(const ConstrainedVariableId& var) {
  const EntityId& parent = var->parent();
  if (!parent.isValid() || !TokenId::convertable(parent))
    return false;
  const TokenId token(parent);
  return var == token->start() || var == token->end();
}

namespace {

/// Distance variables of the temporal network's relations (the middle of three) that the network
/// does not decide alone: one shared by two relations, or also a time point, is narrowed only to
/// the difference of its ends' bounds, and a contradiction between its uses goes unseen.
std::set<int> looseDistances(const ConstraintEngineId& ce) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  std::map<int, int> uses;
  std::set<int> points, loose;
  for (const ConstraintId& constraint : ce->getConstraints()) {
    if (!constraint->isActive() || constraint->getPropagator()->getName() != sl_temporal)
      continue;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    for (size_t i = 0; i < scope.size(); i++) {
      if (scope.size() == 3 && i == 1)
        uses[scope[i]->getKey()]++;
      else
        points.insert(scope[i]->getKey());
    }
  }
  for (const auto& entry : uses)
    if (entry.second > 1 || points.count(entry.first) > 0)
      loose.insert(entry.first);
  return loose;
}

/// Relations that bounds propagation decides exactly, or that only tie a token to its object or a
/// transaction to its resource: the temporal network's own (unless a distance is loose) and the
/// engine's bookkeeping.
bool propagatesExactly(const ConstraintId& constraint, const std::set<int>& loose) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  static const LabelStr sl_objectToken("ObjectTokenRelation");
  if (constraint->getName() == sl_objectToken || bookkeepingConstraints().count(constraint->getName().toString()) > 0)
    return true;
  if (constraint->getPropagator()->getName() != sl_temporal)
    return false;
  const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
  return scope.size() != 3 || loose.count(scope[1]->getKey()) == 0 || scope[1]->lastDomain().isSingleton();
}

/// Not yet one value: a number with room, or an enumeration (a bool, an object) of several.
bool isOpen(const ConstrainedVariableId& var) {
  const AbstractDomain& dom = var->lastDomain();
  return !dom.isEmpty() && !dom.isSingleton();
}

/// The active constraints that bounds propagation may not decide and that still reach an open
/// variable.
std::vector<ConstraintId> undecidedConstraints(const ConstraintEngineId& ce) {
  const std::set<int> loose = looseDistances(ce);
  std::vector<ConstraintId> undecided;
  for (const ConstraintId& constraint : ce->getConstraints()) {
    if (!constraint->isActive() || propagatesExactly(constraint, loose))
      continue;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    if (std::any_of(scope.begin(), scope.end(), isOpen))
      undecided.push_back(constraint);
  }
  return undecided;
}

/// What each variable of a token or an object is called in a problem line.
std::map<int, std::string> variableLabels(const PlanDatabaseId& db) {
  std::map<int, std::string> labels;
  for (const auto& entry : db->getTokens())
    for (const ConstrainedVariableId& var : entry.second->getVariables())
      labels[var->getKey()] = variableName(var);
  for (const auto& entry : db->getObjects())
    for (const ConstrainedVariableId& var : entry.second->getVariables())
      labels[var->getKey()] = entry.second->getName().toString() + ": " + var->getName().toString();
  return labels;
}

/// Whether a time point is reached only by relations that bound the difference of two times,
/// which a schedule keeps within the box: the temporal network's, over times and a distance that
/// is bounded on both sides (the box's reach counts it) or that nothing else reaches, and "eq",
/// "leq" and "neq" between two times. A sum of times ("addEq": doubling a time is one), a
/// resource's profile or a relation to another variable may need a time beyond the box.
bool onlyDifferences(const ConstrainedVariableId& point) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  static const std::set<std::string> sl_differences = {"eq", "leq", "lessThanEqual", "neq"};
  const double horizon = g_infiniteTimeAsDouble();
  auto ownDistance = [&](const ConstrainedVariableId& distance) {
    const AbstractDomain& dom = distance->lastDomain();
    if (dom.getLowerBound() > -horizon && dom.getUpperBound() < horizon)
      return true;
    ConstraintSet reaching;
    distance->constraints(reaching);
    return std::count_if(reaching.begin(), reaching.end(), [](const ConstraintId& c) { return c->isActive(); }) <= 1;
  };
  ConstraintSet constraints;
  point->constraints(constraints);
  for (const ConstraintId& constraint : constraints) {
    if (!constraint->isActive())
      continue;
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    if (constraint->getPropagator()->getName() == sl_temporal) {
      if (!isTime(scope.front()) || !isTime(scope.back()) || (scope.size() == 3 && !ownDistance(scope[1])))
        return false;
      continue;
    }
    if (sl_differences.count(constraint->getName().toString()) == 0 || scope.size() != 2 ||
        !isTime(scope[0]) || !isTime(scope[1]))
      return false;
  }
  return true;
}

/// Around a cycle that admits no times, a bound with no other side to meet creeps one lap per
/// pass up to the horizon. A schedule is looked for inside a box instead: the finite bounds of the
/// time points widened on each side by twice the durations and the finite distances of the
/// temporal relations, as far as any schedule of difference constraints needs to reach beyond
/// them; there the creep ends within a few laps. The box goes with this object.
class ScheduleBox {
public:
  ScheduleBox(const PlanDatabaseId& db, const std::vector<ConstraintId>& undecided) : m_ce(db->getConstraintEngine()) {
    static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
    const double horizon = g_infiniteTimeAsDouble();
    auto finite = [&](double bound) { return bound > -horizon && bound < horizon; };
    double lowest = horizon, highest = -horizon, reach = 1;
    std::vector<ConstrainedVariableId> points;
    std::set<int> listed;
    for (const auto& entry : db->getTokens()) {
      const TokenId& token = entry.second;
      if (!token->isActive())
        continue;
      for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())}) {
        if (listed.insert(time->getKey()).second)
          points.push_back(time);
        for (double bound : {time->lastDomain().getLowerBound(), time->lastDomain().getUpperBound()})
          if (finite(bound)) {
            lowest = std::min(lowest, bound);
            highest = std::max(highest, bound);
          }
      }
    }
    for (const ConstraintId& constraint : m_ce->getConstraints()) {
      if (!constraint->isActive() || constraint->getPropagator()->getName() != sl_temporal ||
          constraint->getScope().size() != 3)
        continue;
      const AbstractDomain& distance = constraint->getScope()[1]->lastDomain();
      double most = 0;
      for (double bound : {distance.getLowerBound(), distance.getUpperBound()})
        if (finite(bound))
          most = std::max(most, std::fabs(bound));
      reach += 2 * (most + 1);
    }
    // Room for every time point at an instant of its own: events a rate keeps apart need it.
    reach += static_cast<double>(points.size());
    if (lowest > highest)
      lowest = highest = 0;
    m_box = IntervalDomain(std::max(-horizon, lowest - reach), std::min(horizon, highest + reach));
    for (const ConstrainedVariableId& point : points) {
      const AbstractDomain& dom = point->lastDomain();
      if (dom.getLowerBound() >= m_box.getLowerBound() && dom.getUpperBound() <= m_box.getUpperBound())
        continue;
      m_cutsBeyond = m_cutsBeyond || !onlyDifferences(point);
      m_vars.push_back(new Variable<IntervalDomain>(m_ce, m_box));
      m_boxVars.insert(m_vars.back()->getKey());
      m_cut.push_back(point);
      m_constraints.push_back(m_ce->createConstraint(LabelStr("eq"), {point, m_vars.back()->getId()}));
    }
    // The propagator takes constraints in the order they were made: the undecided ones wait
    // while the box applies, or they would creep ahead of it.
    for (const ConstraintId& constraint : undecided)
      constraint->deactivate();
    m_consistent = m_ce->propagate();
    for (const ConstraintId& constraint : undecided)
      constraint->undoDeactivation();
    m_consistent = m_consistent && m_ce->propagate();
  }
  ~ScheduleBox() {
    for (const ConstraintId& constraint : m_constraints)
      m_ce->deleteConstraint(constraint);
    for (ConstrainedVariable* var : m_vars)
      delete var;
  }
  bool isConsistent() const { return m_consistent; }
  const IntervalDomain& getBox() const { return m_box; }
  /// Whether the box cut the window of a time that a schedule may need beyond it: then a search
  /// inside the box did not try every schedule.
  bool cutsBeyond() const { return m_cutsBeyond; }
  bool isBoxVariable(const ConstrainedVariableId& var) const { return m_boxVars.count(var->getKey()) > 0; }
  /// A schedule found in the box keeps the times the box alone held at one value: they would go
  /// back to their windows with it, and those windows may hold no schedule.
  void keepCutTimes() const {
    for (const ConstrainedVariableId& point : m_cut)
      if (!point->isSpecified() && point->canBeSpecified() && point->lastDomain().isSingleton())
        point->specify(point->lastDomain().getSingletonValue());
  }
  /// What a search that found nothing adds to its failure when the box cut a window.
  std::string cutNote() const {
    return m_cutsBeyond ? "; every time was tried in " + bounds(m_box) + " only" : std::string();
  }

private:
  ConstraintEngineId m_ce;
  IntervalDomain m_box;
  std::vector<ConstrainedVariable*> m_vars;
  std::set<int> m_boxVars; // the keys of m_vars
  std::vector<ConstrainedVariableId> m_cut; // the times whose windows the box cut
  std::vector<ConstraintId> m_constraints;
  bool m_consistent = true;
  bool m_cutsBeyond = false;
};


/// Whether every undecided constraint bounds the difference of two times as the temporal
/// network's relations do: "leq" between two times, or "addEq" from one time to another by a
/// distance of one value or that nothing else reaches. Bounds propagation decides these as it
/// decides those: every time at its earliest is then a schedule, the one the search finds.
bool differencesOfTimes(const std::vector<ConstraintId>& undecided) {
  static const std::set<std::string> sl_leq = {"leq", "lessThanEqual"};
  static const LabelStr sl_addEq("addEq");
  auto ownDistance = [](const ConstrainedVariableId& distance) {
    if (distance->lastDomain().isSingleton())
      return true;
    ConstraintSet reaching;
    distance->constraints(reaching);
    return !isTime(distance) && distance->listenerCount() == 0 &&
           std::count_if(reaching.begin(), reaching.end(), [](const ConstraintId& c) { return c->isActive(); }) == 1;
  };
  return std::all_of(undecided.begin(), undecided.end(), [&](const ConstraintId& constraint) {
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    if (scope.size() == 2)
      return sl_leq.count(constraint->getName().toString()) > 0 && isTime(scope[0]) && isTime(scope[1]);
    return scope.size() == 3 && constraint->getName() == sl_addEq && isTime(scope[0]) && isTime(scope[2]) &&
           ownDistance(scope[1]);
  });
}

/// The problem line of a box that leaves some time without a value.
std::string emptyInBox(const ConstraintEngineId& ce, const std::map<int, std::string>& labels, const IntervalDomain& box) {
  const ConstrainedVariableSet empty = ce->getEmptyVariables();
  std::map<int, std::string>::const_iterator label =
      empty.empty() ? labels.end() : labels.find((*empty.begin())->getKey());
  return (label == labels.end() ? std::string("a time") : label->second) + " has no value with every time in " +
         bounds(box) + ": no schedule found";
}

/// Bounds propagation does not decide a cycle through a generic constraint ("eq", "leq", ...), a
/// distance variable that two temporal relations share, or values of bools and objects that
/// "eq" and "neq" relate: bounds that look consistent may hold no schedule. When such a
/// constraint reaches an open variable, look for a schedule by fixing the time points, then the
/// other variables those constraints reach, and put everything back.
void checkSchedule(const PlanDatabaseId& db, std::vector<std::string>& problems) {
  const ConstraintEngineId& ce = db->getConstraintEngine();
  const std::vector<ConstraintId> undecided = undecidedConstraints(ce);
  if (undecided.empty())
    return;
  const std::map<int, std::string> labels = variableLabels(db);
  std::vector<ScheduleSearch::Entry> order;
  std::set<int> listed;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())})
      if (listed.insert(time->getKey()).second)
        order.push_back({time, variableName(time), 0, true});
  }
  for (const ConstraintId& constraint : undecided)
    for (const ConstrainedVariableId& var : constraint->getScope())
      if (isOpen(var) && listed.insert(var->getKey()).second) {
        std::map<int, std::string>::const_iterator label = labels.find(var->getKey());
        order.push_back({var, label == labels.end() ? var->getName().toString() : label->second, 1, false});
      }

  std::vector<std::pair<ConstrainedVariableId, std::unique_ptr<AbstractDomain>>> before;
  for (const ConstrainedVariableId& var : ce->getVariables())
    before.push_back(std::make_pair(var, std::unique_ptr<AbstractDomain>(var->lastDomain().copy())));
  bool found = false;
  {
    ScheduleBox box(db, undecided);
    if (!box.isConsistent())
      problems.push_back(emptyInBox(ce, labels, box.getBox()));
    else {
      ScheduleSearch search(ce, order, ScheduleSearch::budgetFor(order.size()), []() { return true; });
      found = (differencesOfTimes(undecided) && search.placeAtEarliest()) || search.run() == ScheduleSearch::FOUND;
      // The bounds around a schedule found are loose: the schedule itself is what the plan shows.
      if (found)
        search.keep();
      else
        problems.push_back(search.getFailure() + box.cutNote());
    }
  }
  const bool consistent = ce->propagate();
  checkError(consistent, "The plan became inconsistent after its schedule was checked.");
  if (found)
    return;
  // Relaxation is exact: the plan is what it was before the search.
  for (const auto& entry : before)
    checkError(entry.first->lastDomain() == *entry.second,
               "The schedule check changed " << entry.first->toString() << " from " << entry.second->toString());
}

} // namespace

namespace {
bool judgedByEnvelope(const ObjectId& object) {
  return std::any_of(envelopeJudged().begin(), envelopeJudged().end(),
                     [&object](const EnvelopeJudged& judged) { return judged(object); });
}
} // namespace

bool ordersJudgedByEnvelope(const PlanDatabaseId& db) {
  for (const auto& entry : db->getObjects())
    if (entry.second->hasTokensToOrder() && !judgedByEnvelope(entry.second))
      return false;
  // A token still on several objects is judged by none of them alone.
  for (const auto& entry : db->getTokens())
    if (entry.second->isActive() && !entry.second->getObject()->lastDomain().isSingleton())
      return false;
  return true;
}

/// What the plan breaks whatever values its open variables take: tokens that objects still ask to
/// order, times pushed to the horizon, then what the registered checkers find.
std::vector<std::string> planProblems(const PlanDatabaseId& db, bool byEnvelope) {
  std::vector<std::string> problems;
  for (const auto& entry : db->getObjects()) {
    const ObjectId& object = entry.second;
    if (!object->hasTokensToOrder() || (byEnvelope && judgedByEnvelope(object)))
      continue;
    std::vector<TokenId> tokens;
    object->getTokensToOrder(tokens);
    if (tokens.empty())
      continue;
    std::string keys;
    for (const TokenId& token : tokens)
      keys += " " + tokenName(token);
    problems.push_back(object->getName().toString() + ": tokens still to order:" + keys);
  }
  // Bounds propagation can push a time point that has no value to the horizon without emptying
  // it (a cycle through a generic constraint with an unbounded side): no plan has such a time.
  const double horizon = (double) g_infiniteTime();
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    if (!token->isActive())
      continue;
    for (const ConstrainedVariableId& time : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())}) {
      const AbstractDomain& dom = time->lastDomain();
      if (dom.isEmpty() || dom.getLowerBound() >= horizon || dom.getUpperBound() <= -horizon)
        problems.push_back(variableName(time) + " " + dom.toString() +
                           " has no time before the horizon");
    }
  }
  for (const PlanChecker& checker : planCheckers())
    checker(db, problems);
  return problems;
}

/// What the plan still breaks, and whether it holds a schedule.
std::vector<std::string> checkPlan(const PlanDatabaseId& db, bool byEnvelope) {
  std::vector<std::string> problems = planProblems(db, byEnvelope);
  if (problems.empty())
    checkSchedule(db, problems);
  for (const PlanChecker& checker : unjudgedCheckers())
    checker(db, problems);
  return problems;
}

/// Some flaws are beyond any ordering: a timetable counts a use's give-back while its take may
/// still come later, a ranged quantity is bounded apart in its take and its give-back, a rate or
/// total that only may be exceeded is no flaw of any detector. With every variable of the plan
/// fixed each envelope is exact, so a search over the values of the tokens' variables (objects,
/// times, then quantities and the rest), and of whatever the constraints reach, decides the plan:
/// a schedule found stays in the plan; a search that tried every value proves there is none.
std::string refutation(const PlanDatabaseId& db, const std::vector<Refutation>& from) {
  const TokenNamer namer = [](const TokenId& token) { return tokenName(token); };
  for (const Refutation& refute : from) {
    const std::string why = refute(db, namer);
    if (!why.empty())
      return why;
  }
  return std::string();
}

namespace {

/// How much the tokens already on an object take of a token's window: the time each of them
/// spends in it however it is placed, then, on a tie, how far their windows reach into it. The
/// token is tried first where the others take least, so that a load that one object cannot take
/// is spread before the times under it are searched. `others` are the tokens on the object that
/// may reach the window; all of them when null.
double crowding(const ConstrainedVariableId& var, double value, const std::vector<TokenId>* others = nullptr) {
  const EntityId& parent = var->parent();
  if (!parent.isValid() || !TokenId::convertable(parent))
    return 0;
  const TokenId token(parent);
  const double lo = token->start()->lastDomain().getLowerBound(), hi = token->end()->lastDomain().getUpperBound();
  auto within = [&](double from, double to) { return std::max(0.0, std::min(hi, to) - std::max(lo, from)); };
  double taken = 0, reach = 0;
  const TokenSet& on = ObjectId(value)->tokens();
  auto add = [&](const TokenId& other) {
    crowdingReads()++;
    if (other == token)
      return;
    const double earliest = other->start()->lastDomain().getLowerBound(), latest = other->end()->lastDomain().getUpperBound();
    const double length = other->duration()->lastDomain().getLowerBound();
    taken += std::min(within(earliest, earliest + length), within(latest - length, latest));
    reach += earliest <= hi && latest >= lo ? within(earliest, latest) + 1 : 0;
  };
  if (others == nullptr)
    std::for_each(on.begin(), on.end(), add);
  else
    for (const TokenId& other : *others)
      if (on.count(other) > 0)
        add(other);
  return taken + reach / (1 + 4 * (hi - lo + 1) * std::max<size_t>(1, on.size()));
}

/// While a schedule search ranks objects: per object, the tokens that may be on it by the windows
/// they had when the search began, so that a token's crowding reads only those that may reach its
/// window. A token whose window reaches beyond the one noted (none should: the search only narrows)
/// sends every question back to all the tokens on the object. The sums read are of whole times,
/// the same in any order.
class CrowdingIndex : public SearchMemory {
public:
  explicit CrowdingIndex(const PlanDatabaseId& db)
      : m_watch(db->getConstraintEngine(), [this](const ConstrainedVariable& var) { heard(var); }) {
    const double horizon = g_infiniteTimeAsDouble();
    for (const auto& entry : db->getTokens()) {
      const TokenId& token = entry.second;
      const double earliest = token->start()->lastDomain().getLowerBound(), latest = token->end()->lastDomain().getUpperBound();
      m_whole = m_whole || !(earliest > -horizon) || !(latest < horizon);
      m_noted[(const ConstrainedVariable*) token->start()] = std::make_pair(true, earliest);
      m_noted[(const ConstrainedVariable*) token->end()] = std::make_pair(false, latest);
      std::list<double> objects;
      token->getObject()->baseDomain().getValues(objects);
      for (double object : objects) {
        Candidates& candidates = m_candidates[ObjectId(object)->getKey()];
        candidates.byEarliest.push_back(std::make_pair(earliest, token));
        candidates.widest = std::max(candidates.widest, latest - earliest);
      }
    }
    for (auto& entry : m_candidates)
      std::sort(entry.second.byEarliest.begin(), entry.second.byEarliest.end(),
                [](const std::pair<double, TokenId>& a, const std::pair<double, TokenId>& b) { return a.first < b.first; });
  }

  double crowding(const ConstrainedVariableId& var, double value) {
    const std::map<int, Candidates>::const_iterator found = m_candidates.find(ObjectId(value)->getKey());
    const EntityId& parent = var->parent();
    if (m_whole || found == m_candidates.end() || !parent.isValid() || !TokenId::convertable(parent))
      return PlanCheck::crowding(var, value);
    const TokenId token(parent);
    const double lo = token->start()->lastDomain().getLowerBound(), hi = token->end()->lastDomain().getUpperBound();
    const std::vector<std::pair<double, TokenId>>& byEarliest = found->second.byEarliest;
    std::vector<TokenId> others;
    for (auto it = std::lower_bound(byEarliest.begin(), byEarliest.end(), lo - found->second.widest,
                                    [](const std::pair<double, TokenId>& a, double t) { return a.first < t; });
         it != byEarliest.end() && it->first <= hi; ++it)
      others.push_back(it->second);
    return PlanCheck::crowding(var, value, &others);
  }

private:
  struct Candidates {
    std::vector<std::pair<double, TokenId>> byEarliest; // by the earliest start noted
    double widest = 0;                                  // the widest window noted
  };

  void heard(const ConstrainedVariable& var) {
    const std::unordered_map<const ConstrainedVariable*, std::pair<bool, double>>::const_iterator noted = m_noted.find(&var);
    if (noted == m_noted.end() || var.lastDomain().isEmpty())
      return;
    if (noted->second.first ? var.lastDomain().getLowerBound() < noted->second.second
                            : var.lastDomain().getUpperBound() > noted->second.second)
      m_whole = true;
  }

  ChangeWatch m_watch;
  bool m_whole = false;
  std::map<int, Candidates> m_candidates; // by object key
  std::unordered_map<const ConstrainedVariable*, std::pair<bool, double>> m_noted; // a start's earliest, an end's latest
};

const char sl_crowdingKey = 0;

double crowdingInSearch(const PlanDatabaseId& db, const ConstrainedVariableId& var, double value) {
  SearchScope* scope = SearchScope::of(db->getConstraintEngine());
  if (scope == nullptr)
    return crowding(var, value);
  return static_cast<CrowdingIndex&>(scope->memory(&sl_crowdingKey, [&db]() { return new CrowdingIndex(db); }))
      .crowding(var, value);
}

bool objectsOpen(const std::vector<ScheduleSearch::Entry>& order) {
  return std::any_of(order.begin(), order.end(), [](const ScheduleSearch::Entry& entry) {
    return entry.rank == 0 && !entry.var->lastDomain().isSingleton();
  });
}

/// Uses packed tight on a resource whose envelope propagates little (a timetable) can spend a
/// halving search's whole budget on windows that hold nothing: once more, with a budget of its
/// own, times are placed serially, each at its earliest or past it. Only what it finds, or its
/// proof that nothing is there, replaces the first search's failure.
void placeSeriallyAfterHalving(ScheduleSearch& serial, FixedSchedule& fixed) {
  serial.placeSerially();
  const ScheduleSearch::Outcome outcome = serial.run();
  fixed.fixes += serial.getFixCount();
  if (outcome == ScheduleSearch::CUT)
    return;
  fixed.outcome = outcome;
  fixed.failure = serial.getFailure();
  fixed.budgetSpent = false;
}

} // namespace

FixedSchedule fixSchedule(const PlanDatabaseId& db, const std::function<void(const std::string&)>& refused, bool wider) {
  const ConstraintEngineId& ce = db->getConstraintEngine();
  const std::map<int, std::string> labels = variableLabels(db);
  std::vector<ScheduleSearch::Entry> order;
  std::set<int> listed;
  auto add = [&](const ConstrainedVariableId& var, int rank) {
    if (!isOpen(var) || !listed.insert(var->getKey()).second)
      return;
    std::map<int, std::string>::const_iterator label = labels.find(var->getKey());
    order.push_back({var, label == labels.end() ? var->getName().toString() : label->second, rank, rank == 1});
  };
  std::vector<TokenId> tokens;
  for (const auto& entry : db->getTokens())
    if (entry.second->isActive())
      tokens.push_back(entry.second);
  // Objects, then starts as they come in time (a serial schedule), then the rest.
  for (const TokenId& token : tokens)
    add(token->getObject(), 0);
  for (const TokenId& token : tokens)
    add(token->start(), 1);
  for (const TokenId& token : tokens)
    for (const ConstrainedVariableId& var : token->getVariables())
      if (var != token->getState())
        add(var, 2);

  FixedSchedule fixed;
  const std::vector<ConstraintId> undecided = undecidedConstraints(ce);
  {
    ScheduleBox box(db, undecided);
    if (!box.isConsistent()) {
      fixed.failure = emptyInBox(ce, labels, box.getBox());
    } else {
      for (const ConstraintId& constraint : ce->getConstraints())
        if (constraint->isActive())
          for (const ConstrainedVariableId& var : constraint->getScope())
            if (!box.isBoxVariable(var))
              add(var, 3);
      const std::function<bool()> accept = [&db, &refused]() {
        const std::vector<std::string> problems = planProblems(db);
        if (!problems.empty() && refused)
          refused(problems.front());
        return problems.empty();
      };
      const std::function<bool()> lost = [&db, &refused]() {
        const unsigned long long before = transactionsRead();
        bool given = false;
        for (const DeadEnd& deadEnd : deadEnds())
          if (deadEnd(db)) {
            // A plan given up at once is a dead end all the same: its refutation says why.
            const std::string why = refused ? refutation(db) : std::string();
            if (!why.empty())
              refused(why);
            given = true;
            break;
          }
        deadEndReads() += transactionsRead() - before;
        return given;
      };
      ScheduleSearch search(ce, order, ScheduleSearch::budgetFor(order.size()), accept, lost);
      search.rankObjects([&db](const ConstrainedVariableId& var, double value) { return crowdingInSearch(db, var, value); });
      search.skipWhileSharing([&db, wider]() {
        return std::any_of(overloads().begin(), overloads().end(),
                           [&db, wider](const Overload& o) { return wider && o.wider ? o.wider(db) : o.test(db); });
      });
      fixed.shared = objectsOpen(order);
      fixed.outcome = search.run();
      fixed.fixes = search.getFixCount();
      fixed.failure = search.getFailure();
      fixed.budgetSpent = search.isBudgetSpent();
      std::unique_ptr<ScheduleSearch> serial;
      if (fixed.outcome == ScheduleSearch::CUT && fixed.budgetSpent && !objectsOpen(order)) {
        serial.reset(new ScheduleSearch(ce, order, ScheduleSearch::budgetFor(order.size()), accept, lost));
        placeSeriallyAfterHalving(*serial, fixed);
      }
      if (fixed.outcome == ScheduleSearch::FOUND) {
        if (serial)
          serial->keep();
        else
          search.keep();
        box.keepCutTimes();
      }
      if (fixed.outcome == ScheduleSearch::NONE && box.cutsBeyond()) {
        fixed.outcome = ScheduleSearch::CUT;
        fixed.failure += box.cutNote();
      }
    }
  }
  // Without a schedule kept the plan is as the search found it, but this pass starts from its
  // base domains: a creep that reached the horizon before any proof was asked for may be proved
  // a cycle now.
  const bool consistent = ce->propagate();
  checkError(consistent || fixed.outcome != ScheduleSearch::FOUND,
             "The plan became inconsistent after its schedule was fixed.");
  if (!consistent) {
    fixed.outcome = ScheduleSearch::NONE;
    fixed.emptied = true;
  }
  return fixed;
}

void reachThrough(const ConstrainedVariableId& start, const std::function<bool(const ConstraintId&)>& follows,
                  std::map<int, ConstrainedVariableId>& reached, std::map<int, ConstraintId>* followed) {
  std::map<int, ConstraintId> own;
  std::map<int, ConstraintId>& found = followed != nullptr ? *followed : own;
  reached[start->getKey()] = start;
  std::vector<ConstrainedVariableId> open(1, start);
  while (!open.empty()) {
    const ConstrainedVariableId var = open.back();
    open.pop_back();
    ConstraintSet constraints;
    var->constraints(constraints);
    for (const ConstraintId& constraint : constraints) {
      if (found.count(constraint->getKey()) > 0 || !follows(constraint))
        continue;
      found[constraint->getKey()] = constraint;
      for (const ConstrainedVariableId& other : constraint->getScope())
        if (reached.insert(std::make_pair(other->getKey(), other)).second)
          open.push_back(other);
    }
  }
}

std::string timeConstraintsAround(const ConstrainedVariableId& time) {
  static const LabelStr sl_temporal = TemporalPropagator::PROPAGATOR_NAME();
  static const LabelStr sl_duration("StartEndDurationRelation"), sl_objectToken("ObjectTokenRelation");
  // Relations over numbers only (times, durations, distances), the bookkeeping aside.
  auto relatesTimes = [](const ConstraintId& constraint) {
    if (!constraint->isActive() || constraint->getName() == sl_objectToken ||
        bookkeepingConstraints().count(constraint->getName().toString()) > 0)
      return false;
    if (constraint->getPropagator()->getName() == sl_temporal)
      return true;
    for (const ConstrainedVariableId& var : constraint->getScope())
      if (!var->lastDomain().isNumeric() || var->lastDomain().isEnumerated())
        return false;
    return true;
  };
  std::map<int, ConstrainedVariableId> reached;
  std::map<int, ConstraintId> found;
  reachThrough(time, relatesTimes, reached, &found);
  std::vector<std::string> named;
  for (const auto& entry : found) {
    const ConstraintId& constraint = entry.second;
    if (constraint->getName() == sl_duration)
      continue;
    std::string scope, text;
    bool boxed = false;
    for (const ConstrainedVariableId& var : constraint->getScope()) {
      boxed = boxed || !var->parent().isValid();
      scope += (scope.empty() ? "" : ", ") + variableName(var);
      if (!var->parent().isValid())
        text = "every time in " + bounds(var->baseDomain());
    }
    if (!boxed)
      text = constraint->getName().toString() + "(" + scope + ")";
    if (std::find(named.begin(), named.end(), text) == named.end())
      named.push_back(text);
  }
  std::string text;
  const size_t shown = std::min<size_t>(named.size(), 8);
  for (size_t i = 0; i < shown; i++)
    text += (text.empty() ? "" : ", ") + named[i];
  if (named.size() > shown)
    text += " and " + std::to_string(named.size() - shown) + " more";
  return text;
}

} // namespace PlanCheck
} // namespace HOST
} // namespace KORVAN
