// Why the uses of a unary cannot all fit: together they last longer than the span that holds
// them, in every completion of the plan; and, kept up while a schedule search runs, whether a
// search's plan is so overloaded.

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
#include "ConstraintEngine/base/Constraint.hh"
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
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Verdict/ChangeWatch.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/PlanCheck.hh"
#include "Verdict/ResourceReport.hh"

namespace KORVAN {
namespace HOST {

using namespace ResourceReport;

namespace {

// The uses of a unary that go one at a time in every completion of the plan, and what they take.
struct UnaryLoad {
  ObjectId resource;
  std::vector<TokenId> uses; // in the order the model made them
  size_t count = 0;          // how many uses
  double length = 0;         // their least durations summed
  double first = 0, last = 0; // their earliest start and latest end
  double least = 0;           // the least quantity among them
  Rounding rounding;          // what any level of the unary may be summed from
};

// A unary, or with `anyReusable` any reusable: on each, the uses that take all it can lend go one
// at a time all the same.
const MIRT::Reusable* unaryOf(const ObjectId& object, bool anyReusable = false) {
  static const LabelStr sl_unary("Unary");
  const MIRT::Reusable* reusable = dynamic_cast<const MIRT::Reusable*>(static_cast<Object*>(object));
  if (reusable == nullptr || (!anyReusable && dynamic_cast<const MIRT::UnaryTimeline*>(reusable) == nullptr &&
                              object->getType() != sl_unary))
    return nullptr;
  return reusable;
}

// What a use adds to one unary it may be on: to the rounding a level may be forgiven, and, where
// it counts, as one of the uses that go one at a time.
struct UseTerm {
  bool rounds = false, counts = false;
  double magnitude = 0, length = 0, first = 0, last = 0, least = 0;
};

// A use's terms, unary by unary, in the order of its candidates; none for a use out of the plan.
std::vector<std::pair<ObjectId, UseTerm>> useTerms(const TokenId& token, const ConstrainedVariableId& quantityVar,
                                                   bool anyReusable = false) {
  std::vector<std::pair<ObjectId, UseTerm>> terms;
  const AbstractDomain& objects = token->getObject()->lastDomain();
  if (token->isMerged() || token->isRejected() || objects.isEmpty())
    return terms;
  usesRead()++;
  const AbstractDomain& quantity = quantityVar->lastDomain();
  std::list<double> candidates;
  objects.getValues(candidates);
  for (double value : candidates) {
    const ObjectId resource(value);
    const MIRT::Reusable* reusable = unaryOf(resource, anyReusable);
    if (reusable == nullptr)
      continue;
    UseTerm term;
    const double magnitude = std::max(std::fabs(quantity.getLowerBound()), std::fabs(quantity.getUpperBound()));
    term.rounds = std::isfinite(magnitude);
    term.magnitude = term.rounds ? magnitude : 0;
    const double room = reusable->getInitCapacityUb() - reusable->getLowerLimit();
    term.counts = token->isActive() && objects.isSingleton() && room > 0 && room < g_infiniteTimeAsDouble() &&
                  !(quantity.getLowerBound() < room);
    if (term.counts) {
      term.length = std::max(0.0, token->duration()->lastDomain().getLowerBound());
      term.first = token->start()->lastDomain().getLowerBound();
      term.last = token->end()->lastDomain().getUpperBound();
      term.least = quantity.getLowerBound();
    }
    terms.push_back(std::make_pair(resource, term));
  }
  return terms;
}

// An empty load of the unary, before any use is added.
UnaryLoad emptyLoad(const ObjectId& resource) {
  UnaryLoad load;
  load.resource = resource;
  load.rounding = MIRT::FVDetector::levelRounding(*unaryOf(resource, true));
  load.first = g_infiniteTimeAsDouble();
  load.last = -g_infiniteTimeAsDouble();
  load.least = g_infiniteTimeAsDouble();
  return load;
}

void addTerm(UnaryLoad& load, const TokenId& use, const UseTerm& term) {
  if (term.rounds)
    load.rounding.add(term.magnitude);
  if (!term.counts)
    return;
  load.uses.push_back(use);
  load.count++;
  load.length += term.length;
  load.first = std::min(load.first, term.first);
  load.last = std::max(load.last, term.last);
  load.least = std::min(load.least, term.least);
}

// A use counts only when it is active and on the unary alone (no decision takes it off), and
// takes at least all the unary can lend: then two of them at once break its lower limit. Tokens
// still on several candidates are left out, as they could only add to the load; their
// quantities still widen the rounding a level may be forgiven.
std::map<int, UnaryLoad> unaryLoads(const PlanDatabaseId& db, bool anyReusable = false) {
  std::map<int, UnaryLoad> loads; // by object key, the order the model made them
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    const MIRT::ReusableToken* use = dynamic_cast<const MIRT::ReusableToken*>(static_cast<Token*>(token));
    if (use == nullptr)
      continue;
    for (const auto& term : useTerms(token, use->getQuantity(), anyReusable)) {
      auto inserted = loads.insert(std::make_pair(term.first->getKey(), UnaryLoad()));
      if (inserted.second)
        inserted.first->second = emptyLoad(term.first);
      addTerm(inserted.first->second, token, term.second);
    }
  }
  return loads;
}

// Uses that go one at a time last longer than the span that holds them all. Two of them at once
// must break the lower limit by more than rounding, or overlapping them is a schedule.
bool overloaded(const UnaryLoad& load) {
  if (load.count < 2)
    return false;
  const MIRT::Reusable& unary = *unaryOf(load.resource, true);
  const double span = load.last - load.first;
  return load.first > -g_infiniteTimeAsDouble() && load.last < g_infiniteTimeAsDouble() && load.length > span &&
         belowLimit(unary.getInitCapacityUb() - 2 * load.least, unary.getLowerLimit(), load.rounding);
}


// The unaries' loads while a schedule search runs, kept up to date with the uses whose variables
// changed: what each use adds to each unary it may be on is taken back and added anew, so that a
// fix costs the uses it moved. The sums are exact while every term is a whole number well inside
// a double's precision; a unary with any other term is summed again in full, in the model's order.
class UnaryLoadMemory : public TokenChangeMemory {
public:
  UnaryLoadMemory(const PlanDatabaseId& db, bool anyReusable)
      : TokenChangeMemory(db->getConstraintEngine()), m_anyReusable(anyReusable) {
    for (const auto& entry : db->getTokens()) {
      const TokenId& token = entry.second;
      const MIRT::ReusableToken* use = dynamic_cast<const MIRT::ReusableToken*>(static_cast<Token*>(token));
      if (use == nullptr)
        continue;
      std::list<double> candidates;
      token->getObject()->baseDomain().getValues(candidates);
      bool onUnary = false;
      for (double value : candidates) {
        const ObjectId resource(value);
        if (unaryOf(resource, anyReusable) == nullptr)
          continue;
        onUnary = true;
        Sums& sums = m_unaries[resource->getKey()];
        if (sums.tokens.empty()) {
          sums.load = emptyLoad(resource);
          sums.exact = whole(sums.load.rounding.magnitude);
        }
        sums.tokens.push_back(token->getKey());
      }
      if (!onUnary)
        continue;
      Use& known = m_uses[token->getKey()];
      known.token = token;
      known.quantity = use->getQuantity();
      for (const ConstrainedVariableId& var : {ConstrainedVariableId(token->getObject()), ConstrainedVariableId(token->getState()),
                                               ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end()),
                                               ConstrainedVariableId(token->duration()), known.quantity})
        watch(var, token);
      markMoved(token);
    }
  }

  bool overloaded() {
    for (const TokenId& token : takeMoved()) {
      Use& use = m_uses[token->getKey()];
      for (const auto& term : use.terms)
        add(term.first->getKey(), term.second, -1);
      use.terms = useTerms(use.token, use.quantity, m_anyReusable);
      for (const auto& term : use.terms)
        add(term.first->getKey(), term.second, 1);
    }
    for (auto& entry : m_unaries) {
      Sums& sums = entry.second;
      UnaryLoad load = emptyLoad(sums.load.resource);
      if (sums.inexact > 0 || !sums.exact) {
        // Summed again in full, in the order unaryLoads() sums it.
        usesRead() += sums.tokens.size();
        for (int key : sums.tokens)
          for (const auto& term : m_uses[key].terms)
            if (term.first == load.resource)
              addTerm(load, m_uses[key].token, term.second);
      } else {
        load.count = sums.uses;
        load.length = sums.length;
        load.rounding.terms += sums.terms;
        load.rounding.magnitude += sums.magnitude;
        if (sums.uses > 0) {
          load.first = *sums.firsts.begin();
          load.last = *sums.lasts.rbegin();
          load.least = *sums.leasts.begin();
        }
      }
      if (HOST::overloaded(load))
        return true;
    }
    return false;
  }

private:
  struct Use {
    TokenId token;
    ConstrainedVariableId quantity;
    std::vector<std::pair<ObjectId, UseTerm>> terms;
  };
  // A unary's load as sums that a use's terms are taken from and added to again.
  struct Sums {
    UnaryLoad load; // its resource and the rounding it starts from
    bool exact = true;
    std::vector<int> tokens; // that may be on it, in the order the model made them
    size_t uses = 0, inexact = 0;
    double terms = 0, magnitude = 0, length = 0;
    std::multiset<double> firsts, lasts, leasts;
  };

  static bool whole(double value) { return std::fabs(value) < 1e12 && value == std::floor(value); }

  void add(int unary, const UseTerm& term, int sign) {
    Sums& sums = m_unaries[unary];
    if (!whole(term.magnitude) || !whole(term.length))
      sums.inexact += sign;
    if (term.rounds) {
      sums.terms += sign;
      sums.magnitude += sign * term.magnitude;
    }
    if (!term.counts)
      return;
    sums.uses += sign;
    sums.length += sign * term.length;
    for (auto kept : {std::make_pair(&sums.firsts, term.first), std::make_pair(&sums.lasts, term.last),
                      std::make_pair(&sums.leasts, term.least)}) {
      if (sign > 0)
        kept.first->insert(kept.second);
      else
        kept.first->erase(kept.first->find(kept.second));
    }
  }

  bool m_anyReusable;
  std::map<int, Sums> m_unaries; // by key: the order the model made them
  std::map<int, Use> m_uses;
};

// A use on one reusable alone, active: what it takes at the least, for how long at the least, and
// when it may start; it holds the reusable at least from its latest start to its earliest end.
struct Held {
  double quantity = 0, length = 0, earliest = 0, latest = 0, until = 0;
};

// Some use on a reusable fits nowhere: wherever it starts, what the others must hold while it
// lasts and what it takes break the lower limit. The spans where they would are swept in time,
// each pushing the use's start past its end, until the use fits before the next or its latest
// start is passed.
bool crowdedInTime(const MIRT::Reusable& reusable, const std::vector<Held>& uses, const Rounding& rounding) {
  const double capacity = reusable.getInitCapacityUb(), limit = reusable.getLowerLimit();
  for (size_t i = 0; i < uses.size(); i++) {
    if (!(uses[i].length > 0))
      continue;
    std::vector<std::pair<double, double>> changes; // when what the others hold changes, and by how much
    for (size_t j = 0; j < uses.size(); j++)
      if (j != i && uses[j].latest < uses[j].until) {
        changes.push_back(std::make_pair(uses[j].latest, uses[j].quantity));
        changes.push_back(std::make_pair(uses[j].until, -uses[j].quantity));
      }
    std::sort(changes.begin(), changes.end());
    double start = uses[i].earliest, held = 0;
    bool fits = false;
    for (size_t k = 0; k < changes.size() && !fits && start <= uses[i].latest;) {
      const double at = changes[k].first;
      // What the others hold stays the same from one change to the next.
      for (; k < changes.size() && changes[k].first == at; k++)
        held += changes[k].second;
      const double until = k < changes.size() ? changes[k].first : at;
      if (!belowLimit(capacity - held - uses[i].quantity, limit, rounding) || until <= start)
        continue;
      if (at >= start + uses[i].length)
        fits = true;
      else
        start = until;
    }
    if (!fits && start > uses[i].latest)
      return true;
  }
  return false;
}

// An active use on one reusable alone: the token, its reusable and its quantity.
struct UseAlone {
  TokenId token;
  ObjectId resource;
  ConstrainedVariableId quantity;
};

// The uses on one reusable alone, in the order of the tokens' keys; `loads` gets each reusable's
// rounding, summed from the most each of its uses may take.
std::vector<UseAlone> usesAlone(const PlanDatabaseId& db, std::map<int, UnaryLoad>& loads) {
  std::vector<UseAlone> uses;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    const MIRT::ReusableToken* use = dynamic_cast<const MIRT::ReusableToken*>(static_cast<Token*>(token));
    if (use == nullptr || !token->isActive() || token->isMerged() || !token->getObject()->lastDomain().isSingleton())
      continue;
    const ObjectId resource(token->getObject()->lastDomain().getSingletonValue());
    if (unaryOf(resource, true) == nullptr)
      continue;
    auto inserted = loads.insert(std::make_pair(resource->getKey(), UnaryLoad()));
    if (inserted.second)
      inserted.first->second = emptyLoad(resource);
    const AbstractDomain& quantity = use->getQuantity()->lastDomain();
    inserted.first->second.rounding.add(std::max(std::fabs(quantity.getLowerBound()), std::fabs(quantity.getUpperBound())));
    uses.push_back(UseAlone{token, resource, use->getQuantity()});
  }
  return uses;
}

// Whether some use on a reusable, on it alone, fits at no start among the parts that the others
// on it must hold. Only uses of bounded times that take something are read: the others can only
// add to what is held.
bool reusableCrowded(const PlanDatabaseId& db) {
  std::map<int, std::vector<Held>> held;
  std::map<int, UnaryLoad> loads;
  const double horizon = g_infiniteTimeAsDouble();
  for (const UseAlone& alone : usesAlone(db, loads)) {
    const TokenId& token = alone.token;
    const ObjectId& resource = alone.resource;
    const AbstractDomain& quantity = alone.quantity->lastDomain();
    Held h;
    h.quantity = quantity.getLowerBound();
    h.length = token->duration()->lastDomain().getLowerBound();
    h.earliest = token->start()->lastDomain().getLowerBound();
    h.latest = token->start()->lastDomain().getUpperBound();
    h.until = token->end()->lastDomain().getLowerBound();
    if (!(h.quantity > 0) || !(h.earliest > -horizon) || !(h.latest < horizon) || !(h.until > -horizon) ||
        !(h.until < horizon) || !(h.length >= 0) || !(h.length < horizon))
      continue;
    held[resource->getKey()].push_back(h);
  }
  for (const auto& entry : held)
    if (crowdedInTime(*unaryOf(loads[entry.first].resource, true), entry.second, loads[entry.first].rounding))
      return true;
  return false;
}

// Whether some uses on a reusable alone that each take all it can lend last longer together than
// a span that holds all their windows, for any span from one's earliest start to another's latest
// end: a use in a wide window (one open above, boxed) no longer hides the others' overload.
bool reusableOverloadedWithin(const PlanDatabaseId& db) {
  struct Window {
    double first, last, length;
  };
  std::map<int, std::vector<Window>> windows;
  std::map<int, double> least;
  std::map<int, UnaryLoad> loads;
  const double horizon = g_infiniteTimeAsDouble();
  for (const UseAlone& alone : usesAlone(db, loads)) {
    const MIRT::Reusable& reusable = *unaryOf(alone.resource, true);
    const double room = reusable.getInitCapacityUb() - reusable.getLowerLimit(), q = alone.quantity->lastDomain().getLowerBound();
    const Window w{alone.token->start()->lastDomain().getLowerBound(), alone.token->end()->lastDomain().getUpperBound(),
                   alone.token->duration()->lastDomain().getLowerBound()};
    if (!(room > 0) || !(room < horizon) || q < room || !(w.first > -horizon) || !(w.last < horizon) || !(w.length > 0))
      continue;
    windows[alone.resource->getKey()].push_back(w);
    auto known = least.insert(std::make_pair(alone.resource->getKey(), q));
    known.first->second = std::min(known.first->second, q);
  }
  for (auto& entry : windows) {
    const UnaryLoad& load = loads[entry.first];
    const MIRT::Reusable& reusable = *unaryOf(load.resource, true);
    std::vector<Window>& uses = entry.second;
    if (uses.size() < 2 ||
        !belowLimit(reusable.getInitCapacityUb() - 2 * least[entry.first], reusable.getLowerLimit(), load.rounding))
      continue;
    std::sort(uses.begin(), uses.end(), [](const Window& a, const Window& b) { return a.last < b.last; });
    for (const Window& from : uses) {
      double length = 0;
      for (const Window& w : uses)
        if (w.first >= from.first) {
          length += w.length;
          if (length > w.last - from.first)
            return true;
        }
    }
  }
  return false;
}

// Whether a use's times are held to another token's by a time constraint: only such uses can be
// held together beyond what their windows say.
bool timeLinked(const TokenId& token) {
  for (const ConstrainedVariableId& var : {ConstrainedVariableId(token->start()), ConstrainedVariableId(token->end())}) {
    ConstraintSet constraints;
    var->constraints(constraints);
    for (const ConstraintId& constraint : constraints)
      if (constraint->isActive() && constraint->getPropagator().isValid() &&
          constraint->getPropagator()->getName() == TemporalPropagator::PROPAGATOR_NAME())
        for (const ConstrainedVariableId& other : constraint->getScope())
          if (other->parent() != EntityId(token))
            return true;
  }
  return false;
}

// Whether two uses on one reusable, each on it alone, that the time constraints hold together
// (neither may end before the other starts) take more together than it can lend.
bool reusableHeldTogether(const PlanDatabaseId& db) {
  std::map<int, std::vector<std::pair<TokenId, double>>> linked; // by object: uses and their least quantities
  std::map<int, UnaryLoad> loads;
  for (const UseAlone& alone : usesAlone(db, loads)) {
    const double least = alone.quantity->lastDomain().getLowerBound();
    if (least > 0 && timeLinked(alone.token))
      linked[alone.resource->getKey()].push_back(std::make_pair(alone.token, least));
  }
  const TemporalAdvisorId& advisor = db->getTemporalAdvisor();
  for (const auto& entry : linked) {
    const UnaryLoad& load = loads[entry.first];
    const MIRT::Reusable& reusable = *unaryOf(load.resource, true);
    const std::vector<std::pair<TokenId, double>>& uses = entry.second;
    for (size_t i = 0; i < uses.size(); i++)
      for (size_t j = i + 1; j < uses.size(); j++)
        if (belowLimit(reusable.getInitCapacityUb() - uses[i].second - uses[j].second, reusable.getLowerLimit(),
                       load.rounding) &&
            !advisor->canPrecede(uses[i].first, uses[j].first) && !advisor->canPrecede(uses[j].first, uses[i].first))
          return true;
  }
  return false;
}

// Whether uses of a unary (or of any reusable) that each take all it can lend last longer
// together than the span that holds them; within a search, from what the search keeps.
bool overloadedIn(const PlanDatabaseId& db, bool anyReusable) {
  static const char sl_keys[2] = {0, 0};
  SearchScope* scope = SearchScope::of(db->getConstraintEngine());
  if (scope != nullptr)
    return static_cast<UnaryLoadMemory&>(scope->memory(&sl_keys[anyReusable ? 1 : 0], [&db, anyReusable]() {
             return new UnaryLoadMemory(db, anyReusable);
           })).overloaded();
  for (const auto& entry : unaryLoads(db, anyReusable))
    if (overloaded(entry.second))
      return true;
  return false;
}
}

// A unary's uses, each taking all it can lend, go one at a time: together they cannot last longer
// than the span from the earliest start to the latest end among them.
bool unaryOverloaded(const PlanDatabaseId& db) { return overloadedIn(db, false); }

// The same of every reusable: uses that each take all it can lend go one at a time whatever its
// capacity; each use needs a start clear of what the others on it must hold; and two held
// together must fit together.
bool reusableOverloaded(const PlanDatabaseId& db) {
  return overloadedIn(db, true) || reusableCrowded(db) || reusableOverloadedWithin(db) || reusableHeldTogether(db);
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

} // namespace HOST
} // namespace KORVAN
