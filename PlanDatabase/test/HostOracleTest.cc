// The whole host against a reference recomputed from scratch after every random step (tokens,
// time variables, "precedes", "concurrent", "temporalDistance" with shared distance variables,
// "eq", specify, reset, removal, orderings, activation, merge, split, deactivating relations and
// undoing that, narrowing base domains): the reference keeps only what was asked for and iterates
// Floyd-Warshall with the constraints' bounds rules to a fixed point.
//
// KORVAN_ORACLE_SEEDS / KORVAN_ORACLE_STEPS raise seeds and steps; KORVAN_ORACLE_SEED replays one
// seed, KORVAN_ORACLE_TRACE prints each step as it is taken.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/EventToken.hh"
#include "PlanDatabase/base/IntervalToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/test/World.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/test/FloydWarshall.hh"
#include "Utils/base/Error.hh"

using namespace KORVAN;
using KORVAN_TEST::Time;

namespace {

const Time INF = g_infiniteTime();
// Wide but finite: bounds propagation around a cycle that admits no value moves a bound by a few
// units per round, so an unbounded side would take millions of rounds to empty it.
const Time WIDE = 400;

Time clip(Time t) { return std::max(-INF, std::min(INF, t)); }

struct Bounds {
  Time lb, ub;
  bool empty() const { return lb > ub; }
  bool operator!=(const Bounds& o) const { return lb != o.lb || ub != o.ub; }
  // Narrows to [l, u]; true when it changed.
  bool meet(Time l, Time u) {
    const bool changed = l > lb || u < ub;
    lb = std::max(lb, l);
    ub = std::min(ub, u);
    return changed;
  }
};

enum Kind { PRECEDES, CONCURRENT, DISTANCE, EQ };

/// What the reference knows of the host: nothing but what was asked for.
struct Reference {
  struct Var {
    ConstrainedVariableId id;
    Bounds base;
    bool specified = false;
    Time value = 0;
    int token = -1;  // owning token, or -1 for a free variable
    int index = -1;  // position in the token's variables
  };
  struct Relation {
    ConstraintId id;
    Kind kind;
    std::vector<int> scope;  // variables (x, y) or (x, d, y)
    bool ordering = false;   // posted by Object::constrain between tokens (a, b)
    int a = -1, b = -1;
    int deactivated = 0;     // deactivations asked for by the test
  };
  struct Tok {
    TokenId id;
    bool event = false;
    std::vector<int> vars;  // variable numbers by token index (-1 for state and object)
    bool active = false;
    int mergedOnto = -1;
  };

  std::vector<Var> vars;
  std::vector<Relation> relations;  // live, posted by the test
  std::vector<Tok> tokens;

  /// The variable that carries v's constraints: the active token's counterpart while v's token is
  /// merged.
  int carrier(int v) const {
    const Var& var = vars[v];
    if (var.token < 0 || tokens[var.token].mergedOnto < 0)
      return v;
    return tokens[tokens[var.token].mergedOnto].vars[var.index];
  }

  /// The variables that one active token's variable integrates: c and those merged onto it.
  std::vector<int> group(int c) const {
    std::vector<int> members;
    for (int w = 0; w < (int)vars.size(); ++w)
      if (carrier(w) == c)
        members.push_back(w);
    return members;
  }

  /// Fixed point from scratch; false when no value is left for some variable. `points` gets the
  /// time points of the network and `d` its shortest distances (variable v is point v + 1).
  bool solve(std::vector<Bounds>& dom, std::vector<int>& point, KORVAN_TEST::Distances& d) const {
    const int n = (int)vars.size();
    dom.assign(n, Bounds());
    for (int v = 0; v < n; ++v) {
      dom[v] = vars[v].base;
      if (vars[v].specified)
        dom[v].meet(vars[v].value, vars[v].value);
    }
    // The active token's variables take the merged tokens' base domains and specified values.
    for (int v = 0; v < n; ++v) {
      const int c = carrier(v);
      if (c == v)
        continue;
      dom[c].meet(vars[v].base.lb, vars[v].base.ub);
      if (vars[v].specified)
        dom[c].meet(vars[v].value, vars[v].value);
    }
    // Live relations over the carriers: the posted ones and every token's duration relation.
    struct Rel {
      Kind kind;
      int x, d, y;
    };
    std::vector<Rel> rels;
    for (const Relation& r : relations)
      if (r.deactivated == 0)
        rels.push_back({r.kind, carrier(r.scope[0]), r.kind == DISTANCE ? carrier(r.scope[1]) : -1,
                        carrier(r.scope.back())});
    for (const Tok& t : tokens)
      if (!t.event)
        rels.push_back({DISTANCE, carrier(t.vars[2]), carrier(t.vars[4]), carrier(t.vars[3])});
    point.assign(n, 0);
    for (const Rel& r : rels)
      if (r.kind != EQ)
        point[r.x] = point[r.y] = 1;
    std::vector<int> nodes(1, 0);
    for (int v = 0; v < n; ++v)
      if (point[v])
        nodes.push_back(v + 1);
    while (true) {
      for (int v = 0; v < n; ++v)
        if (dom[v].empty())
          return false;
      bool changed = false;
      std::vector<KORVAN_TEST::RefEdge> edges;
      for (int v = 0; v < n; ++v)
        if (point[v])
          edges.push_back({0, v + 1, dom[v].lb, dom[v].ub});
      for (const Rel& r : rels)
        if (r.kind != EQ)
          edges.push_back({r.x + 1, r.y + 1, r.kind == DISTANCE ? dom[r.d].lb : 0,
                           r.kind == DISTANCE ? dom[r.d].ub : r.kind == PRECEDES ? INF : 0});
      if (!KORVAN_TEST::floydWarshall(n + 1, nodes, edges, d))
        return false;
      for (int v = 0; v < n; ++v)
        if (point[v])
          changed = dom[v].meet(-d[v + 1][0], d[0][v + 1]) || changed;
      for (const Rel& r : rels) {
        if (r.kind == DISTANCE) {
          const Bounds& x = dom[r.x];
          const Bounds& y = dom[r.y];
          const Time lb = (y.lb <= -INF || x.ub >= INF) ? -INF : clip(y.lb - x.ub);
          const Time ub = (y.ub >= INF || x.lb <= -INF) ? INF : clip(y.ub - x.lb);
          changed = dom[r.d].meet(lb, ub) || changed;
        } else if (r.kind == EQ) {
          const Bounds both = {std::max(dom[r.x].lb, dom[r.y].lb), std::min(dom[r.x].ub, dom[r.y].ub)};
          changed = dom[r.x].meet(both.lb, both.ub) || changed;
          changed = dom[r.y].meet(both.lb, both.ub) || changed;
        }
      }
      if (!changed)
        return true;  // every domain was checked non-empty at the top of this round
    }
  }
};

int envCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text == nullptr ? 0 : std::atoi(text);
  return value > 0 ? value : fallback;
}

/// One random run of the host against the reference. Returns the failure text, empty when none.
class Walk : public World {
public:
  explicit Walk(unsigned seed) : m_rng(seed), m_trace(std::getenv("KORVAN_ORACLE_TRACE") != nullptr) {
    schema->addObjectType("Timeline");
    schema->addPredicate("Timeline.busy");
    schema->addPredicate("Timeline.tick");
    m_object = (new Object(db->getId(), "Timeline", "line"))->getId();
    db->close();
  }

  ~Walk() override {
    delete db;
    db = nullptr;
    for (ConstrainedVariable* var : m_free)
      delete var;
  }

  std::string go(int steps) {
    for (int step = 0; step < steps; ++step) {
      std::string what;
      try {
        what = act();
      } catch (const Error& e) {
        return fail("unexpected error: " + e.getMsg() + " (" + e.getCondition() + ")");
      }
      if (what.empty())
        continue;
      m_log.push_back(what);
      if (!m_problem.empty())
        return fail(m_problem);
      // A run that hangs prints nothing at the end: KORVAN_ORACLE_TRACE shows each step at once.
      if (m_trace)
        std::cerr << m_log.size() - 1 << ": " << what << std::endl;
      const std::string problem = compare();
      if (!problem.empty())
        return fail(problem);
    }
    return std::string();
  }

  int consistentSteps = 0, inconsistentSteps = 0, merges = 0, refusals = 0;

private:
  std::string fail(const std::string& problem) {
    std::ostringstream os;
    os << problem << "\nsteps:\n";
    for (std::size_t i = 0; i < m_log.size(); ++i)
      os << "  " << i << ": " << m_log[i] << "\n";
    return os.str();
  }

  unsigned pick(unsigned n) { return (unsigned)(m_rng() % n); }
  bool chance(unsigned percent) { return pick(100) < percent; }

  Bounds randomBase() {
    if (chance(20))
      return {chance(50) ? -WIDE : (Time)pick(20), WIDE};
    const Time lb = (Time)pick(60) - 10;
    return {lb, lb + (Time)pick(80)};
  }

  std::string name(int v) const {
    const Reference::Var& var = m_ref.vars[v];
    return "v" + std::to_string(v) +
           (var.token < 0 ? "" : "(" + var.id->getName().toString() + " of token " + std::to_string(var.token) + ")");
  }

  static std::string text(const Bounds& b) { return "[" + std::to_string(b.lb) + ", " + std::to_string(b.ub) + "]"; }

  int addVar(const ConstrainedVariableId& id, const Bounds& base, int token, int index) {
    m_ref.vars.push_back({id, base, false, 0, token, index});
    return (int)m_ref.vars.size() - 1;
  }

  bool isMerged(int v) const {
    const int t = m_ref.vars[v].token;
    return t >= 0 && m_ref.tokens[t].mergedOnto >= 0;
  }

  /// A random one of 0 .. n-1 that satisfies the predicate, or -1.
  template <class P>
  int pickWhere(std::size_t n, P predicate) {
    std::vector<int> candidates;
    for (int i = 0; i < (int)n; ++i)
      if (predicate(i))
        candidates.push_back(i);
    return candidates.empty() ? -1 : candidates[pick(candidates.size())];
  }

  /// A variable whose constraints are live (not on a merged token), or -1.
  int liveVar() { return pickWhere(m_ref.vars.size(), [this](int v) { return !isMerged(v); }); }

  std::string newToken() {
    if (m_ref.tokens.size() >= 8)
      return std::string();
    Reference::Tok tok;
    tok.event = chance(30);
    const int t = (int)m_ref.tokens.size();
    std::ostringstream os;
    std::vector<Bounds> bases;  // of the token's variables from index 2 on
    if (tok.event) {
      const Bounds time = randomBase();
      tok.id = (new EventToken(db->getId(), "Timeline.tick", false, false, IntervalIntDomain(time.lb, time.ub),
                               Token::noObject(), true))
                   ->getId();
      bases = {time, {0, 0}};
      os << "event token " << t << " time " << text(time);
    } else {
      // A token alone always fits; the constraints posted later decide the rest.
      const Bounds start = randomBase();
      const Time dl = (Time)pick(15);
      const Bounds duration = {dl, chance(15) ? WIDE : dl + (Time)pick(20)};
      Bounds end = {start.lb + dl - (Time)pick(10), 2 * WIDE};
      if (start.ub < WIDE && duration.ub < WIDE && !chance(20))
        end.ub = start.ub + duration.ub + (Time)pick(20);
      tok.id = (new IntervalToken(db->getId(), "Timeline.busy", false, false, IntervalIntDomain(start.lb, start.ub),
                                  IntervalIntDomain(end.lb, end.ub), IntervalIntDomain(duration.lb, duration.ub),
                                  Token::noObject(), true))
                   ->getId();
      bases = {start, end, duration};
      os << "interval token " << t << " start " << text(start) << " end " << text(end) << " duration "
         << text(duration);
    }
    tok.vars = {-1, -1};
    for (int i = 2; i < (int)bases.size() + 2; ++i)
      tok.vars.push_back(addVar(tok.id->getVariables()[i], bases[i - 2], t, i));
    m_ref.tokens.push_back(tok);
    os << " (v" << tok.vars[2] << "..v" << tok.vars.back() << ")";
    return os.str();
  }

  std::string newVar() {
    if (m_free.size() >= 8)
      return std::string();
    const Bounds base = randomBase();
    m_free.push_back(new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(base.lb, base.ub)));
    const int v = addVar(m_free.back()->getId(), base, -1, -1);
    return "variable v" + std::to_string(v) + " " + text(base);
  }

  std::string post() {
    static const char* const names[] = {"precedes", "concurrent", "temporalDistance", "eq"};
    Reference::Relation r;
    r.kind = (Kind)pick(4);
    const int x = liveVar(), y = liveVar();
    if (x < 0 || x == y)
      return std::string();
    r.scope = {x, y};
    if (r.kind == DISTANCE) {
      int d = -1;
      if (chance(60)) {
        d = liveVar();
        if (d == x || d == y)
          return std::string();
      } else {
        const std::string made = newVar();
        if (made.empty())
          return std::string();
        m_log.push_back(made);
        d = (int)m_ref.vars.size() - 1;
      }
      r.scope = {x, d, y};
    }
    std::vector<ConstrainedVariableId> scope;
    std::string what = std::string(names[r.kind]) + "(";
    for (int v : r.scope) {
      what += (scope.empty() ? "" : ", ") + name(v);
      scope.push_back(m_ref.vars[v].id);
    }
    r.id = ce->createConstraint(names[r.kind], scope);
    m_ref.relations.push_back(r);
    return what + ")";
  }

  std::string order() {
    auto unmerged = [this](int t) { return m_ref.tokens[t].mergedOnto < 0; };
    const int a = pickWhere(m_ref.tokens.size(), unmerged), b = pickWhere(m_ref.tokens.size(), unmerged);
    if (a < 0 || a == b)
      return std::string();
    const TokenId& ta = m_ref.tokens[a].id;
    const TokenId& tb = m_ref.tokens[b].id;
    if (m_object->isConstrainedToPrecede(ta, tb))
      return std::string();
    m_object->constrain(ta, tb);
    Reference::Relation r;
    r.kind = PRECEDES;
    r.scope = {m_ref.tokens[a].vars[m_ref.tokens[a].event ? 2 : 3], m_ref.tokens[b].vars[2]};
    r.id = m_object->getPrecedenceConstraint(ta, tb);
    r.ordering = true;
    r.a = a;
    r.b = b;
    m_ref.relations.push_back(r);
    return "constrain token " + std::to_string(a) + " before token " + std::to_string(b);
  }

  std::string remove() {
    if (m_ref.relations.empty())
      return std::string();
    const std::size_t k = pick(m_ref.relations.size());
    const Reference::Relation r = m_ref.relations[k];
    m_ref.relations.erase(m_ref.relations.begin() + k);
    if (r.ordering) {
      m_object->free(m_ref.tokens[r.a].id, m_ref.tokens[r.b].id);
      return "free token " + std::to_string(r.a) + " before token " + std::to_string(r.b);
    }
    const std::string what = r.id->toString();
    r.id->discard();
    return "discard " + what;
  }

  std::string specify() {
    const int v = liveVar();
    if (v < 0)
      return std::string();
    Reference::Var& var = m_ref.vars[v];
    // Specified already, by the test or through a token merged onto this one.
    if (var.specified || var.id->isSpecified())
      return std::string();
    const Bounds& b = var.base;
    const Time lo = std::max<Time>(b.lb, -20), hi = std::min<Time>(b.ub, 120);
    if (lo > hi)
      return std::string();
    // Mostly a value that propagation left, sometimes one it excluded.
    Time value = lo + (Time)pick((unsigned)(hi - lo + 1));
    const AbstractDomain& now = var.id->lastDomain();
    if (chance(70) && !now.isEmpty()) {
      const Time l = std::max<Time>(lo, (Time)now.getLowerBound()), u = std::min<Time>(hi, (Time)now.getUpperBound());
      if (l <= u)
        value = l + (Time)pick((unsigned)(u - l + 1));
    }
    var.id->specify((double)value);
    var.specified = true;
    var.value = value;
    return "specify " + name(v) + " to " + std::to_string(value);
  }

  std::string reset() {
    const int v = pickWhere(m_ref.vars.size(), [this](int v) { return m_ref.vars[v].specified; });
    if (v < 0)
      return std::string();
    m_ref.vars[v].id->reset();
    m_ref.vars[v].specified = false;
    return "reset " + name(v);
  }

  std::string activate() {
    const int t = pickWhere(m_ref.tokens.size(),
                            [this](int t) { return !m_ref.tokens[t].active && m_ref.tokens[t].mergedOnto < 0; });
    if (t < 0)
      return std::string();
    m_ref.tokens[t].id->activateInternal();
    m_ref.tokens[t].active = true;
    return "activate token " + std::to_string(t);
  }

  std::string merge() {
    std::vector<std::pair<int, int>> candidates;
    for (int m = 0; m < (int)m_ref.tokens.size(); ++m) {
      const Reference::Tok& tm = m_ref.tokens[m];
      if (tm.active || tm.mergedOnto >= 0)
        continue;
      for (int a = 0; a < (int)m_ref.tokens.size(); ++a)
        if (m_ref.tokens[a].active && m_ref.tokens[a].event == tm.event)
          candidates.emplace_back(m, a);
    }
    if (candidates.empty())
      return std::string();
    const std::pair<int, int> c = candidates[pick(candidates.size())];
    const std::string what = "merge token " + std::to_string(c.first) + " onto token " + std::to_string(c.second);
    try {
      m_ref.tokens[c.first].id->merge(m_ref.tokens[c.second].id);
    } catch (const Error& e) {
      // Refused (a specified value the active token cannot take): nothing changed.
      return what + ", refused: " + e.getMsg();
    }
    m_ref.tokens[c.first].mergedOnto = c.second;
    ++merges;
    return what;
  }

  std::string split() {
    const int t = pickWhere(m_ref.tokens.size(), [this](int t) { return m_ref.tokens[t].mergedOnto >= 0; });
    if (t < 0)
      return std::string();
    m_ref.tokens[t].id->split();
    m_ref.tokens[t].mergedOnto = -1;
    return "split token " + std::to_string(t);
  }

  std::string deactivate() {
    const int t = pickWhere(m_ref.tokens.size(), [this](int t) {
      return m_ref.tokens[t].active && m_ref.tokens[t].id->getMergedTokens().empty();
    });
    if (t < 0)
      return std::string();
    m_ref.tokens[t].id->deactivate();
    m_ref.tokens[t].active = false;
    return "deactivate token " + std::to_string(t);
  }

  /// Deactivates a relation, mostly one over a merged token, or undoes a deactivation.
  std::string toggle() {
    auto onMerged = [this](int k) {
      for (int v : m_ref.relations[k].scope)
        if (isMerged(v))
          return true;
      return false;
    };
    auto deactivated = [this](int k) { return m_ref.relations[k].deactivated > 0; };
    int k = chance(50) ? pickWhere(m_ref.relations.size(), deactivated) : -1;
    if (k >= 0) {
      Reference::Relation& r = m_ref.relations[k];
      r.id->undoDeactivation();
      --r.deactivated;
      return "undo a deactivation of " + r.id->toString();
    }
    k = chance(70) ? pickWhere(m_ref.relations.size(), onMerged) : -1;
    if (k < 0)
      k = pickWhere(m_ref.relations.size(), [&](int k) { return m_ref.relations[k].deactivated < 2; });
    if (k < 0 || m_ref.relations[k].deactivated >= 2)
      return std::string();
    Reference::Relation& r = m_ref.relations[k];
    r.id->deactivate();
    ++r.deactivated;
    return "deactivate " + r.id->toString();
  }

  /// Narrows a token variable's base domain, mostly one that an active token integrates with
  /// merged tokens. The reference says whether the host must refuse it.
  std::string restrict() {
    auto grouped = [this](int v) { return m_ref.vars[v].token >= 0 && m_ref.group(m_ref.carrier(v)).size() > 1; };
    // Mostly a merged token's variable fixed to one value while its active token's is specified.
    auto fixable = [this](int v) { return isMerged(v) && m_ref.vars[m_ref.carrier(v)].id->isSpecified(); };
    int v = chance(40) ? pickWhere(m_ref.vars.size(), fixable) : -1;
    const bool fix = v >= 0;
    if (v < 0 && chance(75))
      v = pickWhere(m_ref.vars.size(), grouped);
    if (v < 0)
      v = pickWhere(m_ref.vars.size(), [this](int v) { return m_ref.vars[v].token >= 0; });
    if (v < 0)
      return std::string();
    Reference::Var& var = m_ref.vars[v];
    const Bounds old = var.base;
    const Time lo = std::max<Time>(old.lb, -40), hi = std::min<Time>(old.ub, 160);
    if (lo > hi)
      return std::string();
    // Within the variable's own base domain, so that only the integration can leave nothing.
    const Time l = lo + (Time)pick((unsigned)(hi - lo + 1)), u = fix || chance(25) ? l : l + (Time)pick(60);
    const Bounds narrowed = {l, std::min(old.ub, u)};
    // Refused when the integrated domain would be empty, or when a merged variable would be fixed
    // to a value other than the one its active token's variable is specified to.
    const int c = m_ref.carrier(v);
    const std::vector<int> members = m_ref.group(c);
    Bounds integrated = {-INF, INF};
    bool conflict = false;
    for (int w : members) {
      const Bounds& b = w == v ? narrowed : m_ref.vars[w].base;
      integrated.meet(b.lb, b.ub);
      conflict = conflict || (w != v && m_ref.vars[w].specified && v != c && old.lb != old.ub &&
                              narrowed.lb == narrowed.ub && !var.specified && m_ref.vars[w].value != narrowed.lb);
    }
    const bool refuse = members.size() > 1 && (integrated.empty() || conflict);
    const std::string what = "restrict the base domain of " + name(v) + " to " + text({l, u});
    try {
      var.id->restrictBaseDomain(IntervalIntDomain(l, u));
    } catch (const Error& e) {
      if (!refuse)
        throw;
      ++refusals;
      return what + ", refused: " + e.getMsg();
    }
    if (refuse)
      m_problem = what + ": accepted where it must be refused";
    var.base = narrowed;
    return what;
  }

  std::string act() {
    // An inconsistent host is mostly led back by relaxations, so both verdicts are visited.
    if (!m_consistent && chance(60))
      return chance(70) ? remove() : reset();
    const unsigned r = pick(100);
    if (r < 8 || m_ref.vars.size() < 4)
      return chance(60) ? newToken() : newVar();
    if (r < 40)
      return post();
    if (r < 47)
      return order();
    if (r < 62)
      return remove();
    if (r < 74)
      return specify();
    if (r < 84)
      return reset();
    if (r < 88)
      return activate();
    if (r < 92)
      return merge();
    if (r < 95)
      return split();
    if (r < 96)
      return deactivate();
    return chance(50) ? toggle() : restrict();
  }

  std::string compare() {
    std::vector<Bounds> expected;
    std::vector<int> points;
    KORVAN_TEST::Distances d;
    const bool consistent = m_ref.solve(expected, points, d);
    const bool actual = ce->propagate();
    m_consistent = actual;
    if (consistent != actual) {
      std::ostringstream os;
      os << "the host propagates " << (actual ? "consistent" : "inconsistent") << ", the reference finds it "
         << (consistent ? "consistent" : "inconsistent") << "; the host's domains:";
      for (int v = 0; v < (int)m_ref.vars.size(); ++v)
        os << " v" << v << "=" << m_ref.vars[v].id->lastDomain().toString();
      return os.str();
    }
    ++(consistent ? consistentSteps : inconsistentSteps);
    if (!consistent)
      return std::string();
    for (int v = 0; v < (int)m_ref.vars.size(); ++v) {
      const AbstractDomain& dom = m_ref.vars[v].id->lastDomain();
      const Bounds got = {(Time)dom.getLowerBound(), (Time)dom.getUpperBound()};
      if (got != expected[v])
        return name(v) + " is " + text(got) + ", the reference says " + text(expected[v]);
    }
    // The advisor's exact distances between time points come from the same network.
    std::vector<int> nodes;
    for (int v = 0; v < (int)points.size(); ++v)
      if (points[v])
        nodes.push_back(v);
    for (int i = 0; i < 3 && nodes.size() >= 2; ++i) {
      const int x = nodes[pick(nodes.size())], y = nodes[pick(nodes.size())];
      const IntervalIntDomain got =
          db->getTemporalAdvisor()->getTemporalDistanceDomain(m_ref.vars[x].id, m_ref.vars[y].id, true);
      const Bounds want = {-d[y + 1][x + 1], d[x + 1][y + 1]};
      if (Bounds{(Time)got.getLowerBound(), (Time)got.getUpperBound()} != want)
        return "the advisor puts " + name(y) + " - " + name(x) + " in " + got.toString() +
               ", the reference in " + text(want);
    }
    return std::string();
  }

  std::mt19937 m_rng;
  ObjectId m_object;
  Reference m_ref;
  std::vector<ConstrainedVariable*> m_free;
  std::vector<std::string> m_log;
  bool m_consistent = true;
  std::string m_problem;
  bool m_trace;
};

} // namespace

TEST(HostOracle, randomStepsMatchTheReference) {
  // KORVAN_ORACLE_SEED replays one seed.
  const int only = envCount("KORVAN_ORACLE_SEED", 0);
  const int seeds = only > 0 ? 1 : envCount("KORVAN_ORACLE_SEEDS", 24);
  const int steps = envCount("KORVAN_ORACLE_STEPS", 400);
  int consistent = 0, inconsistent = 0, merges = 0, refusals = 0;
  for (int seed = only > 0 ? only : 1; seed <= (only > 0 ? only : seeds); ++seed) {
    Walk run((unsigned)seed);
    const std::string failure = run.go(steps);
    if (!failure.empty())
      FAIL() << "seed " << seed << ": " << failure;
    consistent += run.consistentSteps;
    inconsistent += run.inconsistentSteps;
    merges += run.merges;
    refusals += run.refusals;
  }
  // The walk must visit both verdicts, merge tokens and be refused, or it proves little.
  if (only > 0)
    return;
  EXPECT_GT(consistent, seeds * steps / 8);
  EXPECT_GT(inconsistent, seeds * steps / 20);
  EXPECT_GT(merges, 0);
  EXPECT_GT(refusals, 0);
}
