// Relaxation that stops at variables an earlier run relaxed (and nothing touched since) against
// the full walk, which the engine keeps as a reference: the same random scripts of constraints
// added, removed and deactivated, variables relaxed, specified, reset, restricted and discarded,
// with and without propagation between, must leave every domain, the change count and every
// notification the same; with the per-variable debug line on, the run that stops writes the
// full walk's lines, in its order among the notifications.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/test/BoundConstraint.hh"
#include "Utils/base/Debug.hh"

using namespace KORVAN;

namespace {

typedef Variable<IntervalIntDomain> IntVar;
typedef std::vector<ConstrainedVariableId> Scope;

/// Logs every change it hears of; narrows nothing.
class Listening : public Constraint {
public:
  Listening(const ConstraintEngineId& ce, const Scope& scope, std::ostringstream& log)
      : Constraint("listening", "Default", ce, scope), m_log(log) {}
  bool canIgnore(const ConstrainedVariableId& var, int argIndex, const DomainListener::ChangeType& type) override {
    m_log << "n" << argIndex << ":" << type << "=" << var->lastDomain().toString() << " ";
    return true;
  }
  void handleExecute() override {}

private:
  std::ostringstream& m_log;
};

int envCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  const int value = text == nullptr ? 0 : std::atoi(text);
  return value > 0 ? value : fallback;
}

/// Writes the relaxation lines into a trace while it lives.
class RelaxLines {
public:
  explicit RelaxLines(std::ostream& trace) : m_old(&DebugMessage::getStream()) {
    DebugMessage::setStream(trace);
    DebugMessage::enable("ConstraintEngine:relax");
  }
  ~RelaxLines() {
    DebugMessage::disable("ConstraintEngine:relax");
    DebugMessage::setStream(*m_old);
  }

private:
  std::ostream* m_old;
};

/// One script from the seed, relaxing everything or not, its relaxation lines in the trace or
/// not; answers the state after every step (variables by name, not by key).
std::string runScript(unsigned seed, bool everything, bool lines) {
  std::mt19937 rng(seed);
  auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
  std::ostringstream trace;
  std::unique_ptr<RelaxLines> written(lines ? new RelaxLines(trace) : nullptr);
  ConstraintEngine engine;
  engine.setRelaxingEverything(everything);
  const ConstraintEngineId ce = engine.getId();
  initConstraintLibrary(ce);
  std::vector<ConstrainedVariableId> vars;
  const int n = 4 + static_cast<int>(rng() % 8);
  for (int i = 0; i < n; ++i) {
    const int lb = static_cast<int>(rng() % 40);
    vars.push_back(
        (new IntVar(ce, IntervalIntDomain(lb, lb + 10 + rng() % 60), false, true, "v" + std::to_string(i)))->getId());
  }
  std::vector<ConstraintId> constraints;
  std::vector<ConstraintId> deactivated;
  auto liveVar = [&]() -> ConstrainedVariableId {
    std::vector<ConstrainedVariableId> live;
    for (const ConstrainedVariableId& v : vars)
      if (v.isValid())
        live.push_back(v);
    return live.empty() ? ConstrainedVariableId() : live[pick(live.size())];
  };
  auto liveConstraint = [&]() -> ConstraintId {
    std::vector<ConstraintId> live;
    for (const ConstraintId& c : constraints)
      if (c.isValid())
        live.push_back(c);
    return live.empty() ? ConstraintId() : live[pick(live.size())];
  };
  const char* const binary[] = {"leq", "leq", "eq", "neq"};
  const int steps = 40 + static_cast<int>(rng() % 40);
  for (int step = 0; step < steps; ++step) {
    const unsigned op = rng() % 100;
    ConstrainedVariableId a = liveVar(), b = liveVar();
    if (a.isNoId())
      break;
    trace << step << " op" << op << " ";
    try {
      if (op < 25) {
        if (a != b)
          constraints.push_back(ce->createConstraint(binary[pick(4)], Scope{a, b}));
      } else if (op < 30) {
        ConstrainedVariableId c = liveVar();
        if (a != b && b != c && a != c)
          constraints.push_back(ce->createConstraint("addEq", Scope{a, b, c}));
      } else if (op < 36) {
        const double lb = a->baseDomain().getLowerBound() + rng() % 20;
        constraints.push_back((new Bound(ce, a, lb, lb + rng() % 30))->getId());
      } else if (op < 40) {
        constraints.push_back((new Listening(ce, a == b ? Scope{a} : Scope{a, b}, trace))->getId());
      } else if (op < 60) {
        // Runs of removals without propagation between are what teardown does.
        for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) {
          ConstraintId c = liveConstraint();
          if (c.isValid())
            c->discard();
        }
      } else if (op < 64) {
        ConstraintId c = liveConstraint();
        if (c.isValid() && c->isActive()) {
          c->deactivate();
          deactivated.push_back(c);
        }
      } else if (op < 68) {
        if (!deactivated.empty()) {
          const size_t at = pick(deactivated.size());
          ConstraintId c = deactivated[at];
          deactivated.erase(deactivated.begin() + at);
          if (c.isValid())
            c->undoDeactivation();
        }
      } else if (op < 72) {
        a->relax();
      } else if (op < 76) {
        const AbstractDomain& base = a->baseDomain();
        if (!a->isSpecified())
          a->specify(base.getLowerBound() + rng() % static_cast<unsigned>(base.getUpperBound() - base.getLowerBound() + 1));
      } else if (op < 80) {
        if (a->isSpecified())
          a->reset();
      } else if (op < 84) {
        const AbstractDomain& base = a->baseDomain();
        if (!a->isSpecified() && base.getUpperBound() - base.getLowerBound() > 2)
          a->restrictBaseDomain(IntervalIntDomain(base.getLowerBound() + 1, base.getUpperBound()));
      } else if (op < 87) {
        a->discard();
      } else {
        trace << (ce->propagate() ? "c " : "x ");
      }
    } catch (const std::exception& e) {
      trace << "error " << e.what();
    }
    trace << "| changes " << ce->getChangeCount();
    for (const ConstrainedVariableId& v : vars)
      trace << " " << (v.isValid() ? v->lastDomain().toString() : std::string("-"));
    trace << "\n";
  }
  // Teardown as a plan database does it: every constraint, then every variable.
  for (const ConstraintId& c : constraints)
    if (c.isValid())
      c->discard();
  trace << "end changes " << ce->getChangeCount() << "\n";
  written.reset();
  static const std::regex sl_key("(v[0-9]+)\\([0-9]+\\)");
  return std::regex_replace(trace.str(), sl_key, "$1");
}

} // namespace

TEST(Relaxation, StoppingAtRelaxedVariablesMatchesTheFullWalk) {
  const int seeds = envCount("KORVAN_RELAX_SEEDS", 300);
  const int first = envCount("KORVAN_FIRST_SEED", 1);
  for (int seed = first; seed < first + seeds; ++seed)
    ASSERT_EQ(runScript(static_cast<unsigned>(seed), true, false), runScript(static_cast<unsigned>(seed), false, false))
        << "seed " << seed;
}

// The line is on: the walk that stops must take the same path, and list what it skips.
TEST(Relaxation, LinesOnStopTooAndWriteTheFullWalksLines) {
  const int seeds = envCount("KORVAN_RELAX_SEEDS", 300);
  const int first = envCount("KORVAN_FIRST_SEED", 1);
  for (int seed = first; seed < first + seeds; ++seed)
    ASSERT_EQ(runScript(static_cast<unsigned>(seed), true, true), runScript(static_cast<unsigned>(seed), false, true))
        << "seed " << seed;
}

// A worked chain: removing the constraints of a chain one by one relaxes what the removed one
// reached, and the variables still bound by a kept constraint come back only on propagation.
TEST(Relaxation, ChainTornDownLinkByLink) {
  ConstraintEngine engine;
  const ConstraintEngineId ce = engine.getId();
  initConstraintLibrary(ce);
  std::vector<ConstrainedVariableId> v;
  for (int i = 0; i < 4; ++i)
    v.push_back((new IntVar(ce, IntervalIntDomain(0, 100), false, true, "v"))->getId());
  ConstraintId low = (new Bound(ce, v[0], 30, 100))->getId();
  ConstraintId high = (new Bound(ce, v[3], 0, 60))->getId();
  std::vector<ConstraintId> chain;
  for (int i = 0; i + 1 < 4; ++i)
    chain.push_back(ce->createConstraint("leq", Scope{v[i], v[i + 1]}));
  ASSERT_TRUE(ce->propagate());
  for (const ConstrainedVariableId& x : v)
    EXPECT_EQ(IntervalIntDomain(30, 60), x->lastDomain()) << x->toString();
  chain[1]->discard();
  // The whole component relaxes; the kept links restore it on propagation.
  for (const ConstrainedVariableId& x : v)
    EXPECT_EQ(IntervalIntDomain(0, 100), x->lastDomain()) << x->toString();
  chain[0]->discard();
  chain[2]->discard();
  for (const ConstrainedVariableId& x : v)
    EXPECT_EQ(IntervalIntDomain(0, 100), x->lastDomain()) << x->toString();
  ASSERT_TRUE(ce->propagate());
  EXPECT_EQ(IntervalIntDomain(30, 100), v[0]->lastDomain());
  EXPECT_EQ(IntervalIntDomain(0, 100), v[1]->lastDomain());
  EXPECT_EQ(IntervalIntDomain(0, 60), v[3]->lastDomain());
  // Narrowed again through a new link: its removal relaxes both ends and what bounds them.
  ConstraintId again = ce->createConstraint("leq", Scope{v[0], v[3]});
  ASSERT_TRUE(ce->propagate());
  EXPECT_EQ(IntervalIntDomain(30, 60), v[3]->lastDomain());
  again->discard();
  EXPECT_EQ(IntervalIntDomain(0, 100), v[3]->lastDomain());
  EXPECT_EQ(IntervalIntDomain(0, 100), v[0]->lastDomain());
  low->discard();
  high->discard();
}
