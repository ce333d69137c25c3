#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/test/Bounds.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "TemporalNetwork/test/FloydWarshall.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;
using namespace KORVAN_TEST;

namespace {

const Time INF = g_infiniteTime();

struct Fixture {
  Fixture() : ce(new ConstraintEngine()), advisor(new TemporalAdvisor(ce->getId())) {
    initTemporalConstraints(ce->getId());
  }
  ~Fixture() {
    delete advisor;
    for (ConstrainedVariable* v : vars)
      delete v;
    delete ce;
  }
  ConstrainedVariableId var(Time lb, Time ub) {
    vars.push_back(new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub)));
    return vars.back()->getId();
  }
  ConstraintId post(const char* name, std::vector<ConstrainedVariableId> scope) {
    return ce->createConstraint(LabelStr(name), scope);
  }
  IntervalIntDomain distance(const ConstrainedVariableId& from, const ConstrainedVariableId& to, bool exact = true) {
    return advisor->getTemporalDistanceDomain(from, to, exact);
  }

  ConstraintEngine* ce;
  TemporalAdvisor* advisor;
  std::vector<ConstrainedVariable*> vars;
};

} // namespace

// Bounds and exact distances along the paths are the host oracle's; here what it never asks:
// a difference of bounds, and variables outside the network.
TEST(TemporalPropagator, AdvisorDistances) {
  Fixture f;
  ConstrainedVariableId as = f.var(0, 100), ad = f.var(10, 20), ae = f.var(0, 100);
  ConstrainedVariableId bs = f.var(0, 100), bd = f.var(30, 40), be = f.var(0, 100);
  f.post("StartEndDurationRelation", {as, ad, ae});
  f.post("StartEndDurationRelation", {bs, bd, be});
  f.post("precedes", {ae, bs});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(f.distance(as, be), 40, 100);
  EXPECT_BOUNDS(f.distance(as, be, false), -20, 100);
  EXPECT_BOUNDS(f.distance(be, as), -100, -40);
  EXPECT_TRUE(f.advisor->canPrecede(ae, bs));
  EXPECT_FALSE(f.advisor->canPrecede(bs, as));
  ConstrainedVariableId p = f.var(5, 10), q = f.var(20, INF);
  EXPECT_BOUNDS(f.distance(p, q), 10, INF);
  EXPECT_BOUNDS(f.distance(q, q), 0, 0);
}

TEST(TemporalPropagator, BadScopes) {
  Fixture f;
  ConstrainedVariableId x = f.var(0, 10);
  EXPECT_EQ("Constraint \"precedes\" takes 2 variables, not 1.", raised([&] { f.post("precedes", {x}); }).getMsg());
  f.vars.push_back(new Variable<IntervalDomain>(f.ce->getId(), IntervalDomain(0.5, 3.5)));
  ConstrainedVariableId real = f.vars.back()->getId();
  EXPECT_EQ("Variable 1 of constraint \"temporalDistance\" must have an integer interval domain, not " +
                real->lastDomain().toString() + ".",
            raised([&] { f.post("temporalDistance", {x, real, x}); }).getMsg());
  // Failed constructions leave nothing behind.
  EXPECT_TRUE(f.ce->getConstraints().empty());
  EXPECT_EQ(0u, x->constraintCount());
  EXPECT_TRUE(f.ce->propagate());
  EXPECT_EQ(0u, TemporalPropagatorId(f.ce->getPropagatorByName(LabelStr("Temporal")))->getNetwork().getEdgeCount());

  // A constraint of another class under "Temporal" runs on its own, as under a default
  // propagator, and its narrowing feeds the network.
  f.ce->getCESchema()->registerConstraintFactory(
      new ConcreteConstraintFactory<LessThanEqualConstraint>(LabelStr("tnLeq"), LabelStr("Temporal")));
  ConstrainedVariableId a = f.var(0, 100), b = f.var(0, 40), c = f.var(0, 100);
  f.post("tnLeq", {a, b});
  f.post("precedes", {c, a});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(a, 0, 40);
  EXPECT_BOUNDS(c, 0, 40);
}

// A negative cycle empties a domain; once the constraint that closed it goes, everything the
// engine relaxed is narrowed again to what the remaining network implies.
TEST(TemporalPropagator, RecoveryFromANegativeCycleNarrowsAgain) {
  Fixture f;
  ConstrainedVariableId x = f.var(0, 10), y = f.var(0, 10), z = f.var(0, 100), d = f.var(1, 10);
  ConstrainedVariableId e = f.var(-INF, INF);
  f.post("precedes", {x, y});
  f.post("precedes", {z, y});
  f.post("temporalDistance", {x, e, z});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(z, 0, 10);
  EXPECT_BOUNDS(e, -10, 10);
  ConstraintId cycle = f.post("temporalDistance", {y, d, x});  // x >= y + 1 with x <= y
  EXPECT_FALSE(f.ce->propagate());
  f.ce->deleteConstraint(cycle);
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(x, 0, 10);
  EXPECT_BOUNDS(y, 0, 10);
  EXPECT_BOUNDS(z, 0, 10);
  EXPECT_BOUNDS(e, -10, 10);
}

// The point of each variable, as the propagator looks it up, against its own table of the
// variable at each point, while precedences and distances come and go and variables die and
// others are made (at addresses the dead ones had).
// KORVAN_TP_LOOKUP_SEEDS sets the number of seeds.
TEST(TemporalPropagator, TimepointLookupsMatchThePointTable) {
  const char* seedsText = std::getenv("KORVAN_TP_LOOKUP_SEEDS");
  const int seeds = seedsText != nullptr && std::atoi(seedsText) > 0 ? std::atoi(seedsText) : 6;
  const char* firstText = std::getenv("KORVAN_FIRST_SEED");
  const int first = firstText != nullptr ? std::atoi(firstText) : 0;
  for (int seed = first; seed < first + seeds; ++seed) {
    std::mt19937 rng(500u + (unsigned)seed);
    ConstraintEngine* ce = new ConstraintEngine();
    initTemporalConstraints(ce->getId());
    TemporalPropagator* temporal =
        dynamic_cast<TemporalPropagator*>((Propagator*)ce->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME()));
    ASSERT_TRUE(temporal != nullptr);
    std::vector<ConstrainedVariableId> vars;
    std::vector<ConstraintId> posted;
    const int target = 300 + (int)(rng() % 3000);
    int nodeBound = 1;
    for (int step = 0; step < 60; ++step) {
      // Grow towards the target, then churn: deaths free addresses that new variables take.
      for (int k = 0; k < target / 20; ++k) {
        const unsigned op = rng() % 10;
        if (op < 3 || vars.size() < 2) {
          vars.push_back((new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(0, 1000)))->getId());
        } else if (op < 6) {
          ConstrainedVariableId a = vars[rng() % vars.size()], b = vars[rng() % vars.size()];
          if (a != b)
            posted.push_back(ce->createConstraint(LabelStr("precedes"), {a, b}));
        } else if (op < 7) {
          // A distance that is a time point elsewhere too: its entry outlives its point.
          ConstrainedVariableId a = vars[rng() % vars.size()], d = vars[rng() % vars.size()],
                                b = vars[rng() % vars.size()];
          if (a != b && a != d && b != d)
            posted.push_back(ce->createConstraint(LabelStr("temporalDistance"), {a, d, b}));
        } else if (op < 8 && !posted.empty()) {
          const std::size_t at = rng() % posted.size();
          if (posted[at].isValid())
            posted[at]->discard();
          posted[at] = posted.back();
          posted.pop_back();
        } else if ((int)vars.size() > target / 2) {
          const std::size_t at = rng() % vars.size();
          delete (ConstrainedVariable*)vars[at];
          vars[at] = vars.back();
          vars.pop_back();
        }
      }
      if (step % 3 == 0) {
        ASSERT_TRUE(ce->propagate()) << "seed " << seed;
      }
      std::map<const ConstrainedVariable*, int> pointOf;
      nodeBound = std::max(nodeBound, 2 * (int)vars.size() + 2);
      for (int node = 0; node < 4 * nodeBound; ++node) {
        const ConstrainedVariableId v = temporal->getTimepointVariable(node);
        if (v.isValid())
          pointOf[(const ConstrainedVariable*)v] = node;
      }
      for (const ConstrainedVariableId& v : vars) {
        auto it = pointOf.find((const ConstrainedVariable*)v);
        const int expected = it == pointOf.end() ? -1 : it->second;
        ASSERT_EQ(expected, temporal->getTimepoint(v)) << "seed " << seed << " step " << step;
        ASSERT_EQ(expected >= 0, temporal->isTimepoint(v)) << "seed " << seed << " step " << step;
      }
      for (int q = 0; q < 20; ++q) {
        ConstrainedVariableId a = vars[rng() % vars.size()], b = vars[rng() % vars.size()];
        Time lb, ub;
        const bool found = temporal->findDistance(a, b, lb, ub);  // installs what is pending first
        ASSERT_EQ(temporal->isTimepoint(a) && temporal->isTimepoint(b), found) << "seed " << seed << " step " << step;
      }
    }
    for (const ConstrainedVariableId& v : vars)
      delete (ConstrainedVariable*)v;
    delete ce;
  }
}

// "leq" and "addEq" between time points narrow them in one pass, yet to what the default
// propagator alone reaches: against an engine where every temporal constraint is one of those
// two, through activations, removals, specified values and constraints posted later, several
// of those at a time; and no distance reads them.
// KORVAN_TP_MIRROR_SEEDS sets the number of seeds.
TEST(TemporalPropagator, LeqAndAddEqReachTheDefaultFixedPoint) {
  {
    Fixture f;
    initConstraintLibrary(f.ce->getId());
    ConstrainedVariableId a = f.var(0, 10), b = f.var(0, 10), c = f.var(0, 10);
    f.post("precedes", {a, c});
    f.post("precedes", {b, c});
    f.post("leq", {a, b});
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(f.distance(a, b), -10, 10);
  }
  const char* seedsText = std::getenv("KORVAN_TP_MIRROR_SEEDS");
  const int seeds = seedsText != nullptr && std::atoi(seedsText) > 0 ? std::atoi(seedsText) : 1000;
  const char* firstText = std::getenv("KORVAN_FIRST_SEED");
  const int first = firstText != nullptr ? std::atoi(firstText) : 0;
  int consistent = 0, inconsistent = 0;
  for (int seed = first; seed < first + seeds; ++seed) {
    std::mt19937 rng(900u + (unsigned)seed);
    Fixture f, g;  // f as it runs, g with default constraints only
    initConstraintLibrary(f.ce->getId());
    initConstraintLibrary(g.ce->getId());
    const int n = 4 + (int)(rng() % 8);
    std::vector<ConstrainedVariableId> fv, gv;
    std::vector<bool> reals;
    for (int i = 0; i < n; ++i) {
      const bool distance = rng() % 4 == 0, real = distance && rng() % 3 == 0;
      reals.push_back(real);
      const Time lb = distance ? (Time)(rng() % 30) - 10 : (Time)(rng() % 40);
      const Time ub = lb + (Time)(rng() % 60);
      for (Fixture* x : {&f, &g}) {
        if (real) {
          x->vars.push_back(new Variable<IntervalDomain>(x->ce->getId(), IntervalDomain(lb + 0.5, ub)));
          (x == &f ? fv : gv).push_back(x->vars.back()->getId());
        } else
          (x == &f ? fv : gv).push_back(x->var(lb, ub));
      }
    }
    std::vector<std::pair<ConstraintId, ConstraintId>> posted;
    auto post = [&]() {
      const int kind = (int)(rng() % 4);
      const int a = (int)(rng() % n), b = (int)(rng() % n), d = (int)(rng() % n);
      if (a == b || a == d || b == d || reals[a] || reals[b] || (kind == 1 && reals[d]))
        return;  // times and the distance of "temporalDistance" are integers
      static const char* const s_run[] = {"precedes", "temporalDistance", "leq", "addEq"};
      static const char* const s_ref[] = {"leq", "addEq", "leq", "addEq"};
      const bool two = kind % 2 == 0;
      std::vector<ConstrainedVariableId> fs = two ? std::vector<ConstrainedVariableId>{fv[a], fv[b]}
                                                  : std::vector<ConstrainedVariableId>{fv[a], fv[d], fv[b]};
      std::vector<ConstrainedVariableId> gs = two ? std::vector<ConstrainedVariableId>{gv[a], gv[b]}
                                                  : std::vector<ConstrainedVariableId>{gv[a], gv[d], gv[b]};
      posted.push_back(std::make_pair(f.post(s_run[kind], fs), g.post(s_ref[kind], gs)));
    };
    const int count = 3 + (int)(rng() % (2 * n));
    for (int k = 0; k < count; ++k)
      post();
    for (int step = 0; step < 8; ++step) {
      const bool ran = f.ce->propagate(), ref = g.ce->propagate();
      ASSERT_EQ(ref, ran) << "seed " << seed << " step " << step;
      ++(ref ? consistent : inconsistent);
      if (ref) {
        for (int i = 0; i < n; ++i)
          ASSERT_EQ(gv[i]->lastDomain().toString(), fv[i]->lastDomain().toString())
              << "seed " << seed << " step " << step << " variable " << i;
      }
      // One change, or a few (constraints posted among removals and specified values) installed
      // and read together at the next propagation.
      for (int change = rng() % 3 == 0 ? 1 + (int)(rng() % 8) : 1; change > 0; --change) {
        const unsigned op = rng() % 5;
        if (op == 4) {
          post();
        } else if (op == 0 && !posted.empty()) {
          const std::size_t at = rng() % posted.size();
          posted[at].first->discard();
          posted[at].second->discard();
          posted[at] = posted.back();
          posted.pop_back();
        } else if (op == 1 && !posted.empty()) {
          const std::size_t at = rng() % posted.size();
          for (const ConstraintId& c : {posted[at].first, posted[at].second})
            if (c->isActive())
              c->deactivate();
            else
              c->undoDeactivation();
        } else {
          const int i = (int)(rng() % n);
          const double value = std::ceil(gv[i]->baseDomain().getLowerBound()) + (double)(rng() % 20);
          if (gv[i]->isSpecified())
            for (const ConstrainedVariableId& v : {fv[i], gv[i]})
              v->reset();
          else if (gv[i]->baseDomain().isMember(value))
            for (const ConstrainedVariableId& v : {fv[i], gv[i]})
              v->specify(value);
        }
      }
    }
  }
  // The draw reaches both outcomes.
  EXPECT_GT(consistent, seeds);
  EXPECT_GT(inconsistent, seeds / 10);
}

// A model's chain of tokens, start + 10 = end and each end before the next start, installed in
// one propagation in the order it was posted, forwards or backwards: every bound as the chain
// gives it, and the bounds' upkeep a few arcs per edge, not a walk along the chain already in
// for each edge (a thousand per edge at this length).
TEST(TemporalPropagator, AChainInstalledAtOnceSpreadsItsBoundsOnce) {
  const int n = 2000;
  const Time horizon = 100000;
  for (const bool backwards : {false, true}) {
    Fixture f;
    std::vector<ConstrainedVariableId> starts, ends;
    for (int i = 0; i < n; ++i) {
      starts.push_back(f.var(0, horizon));
      ends.push_back(f.var(0, horizon));
    }
    for (int k = 0; k < n; ++k) {
      const int i = backwards ? n - 1 - k : k;
      f.post("StartEndDurationRelation", {starts[i], f.var(10, 10), ends[i]});
      if (backwards ? i + 1 < n : i > 0)
        f.post("precedes", backwards ? std::vector<ConstrainedVariableId>{ends[i], starts[i + 1]}
                                     : std::vector<ConstrainedVariableId>{ends[i - 1], starts[i]});
    }
    const TemporalNetwork& network = TemporalPropagatorId(f.ce->getPropagatorByName(LabelStr("Temporal")))->getNetwork();
    const std::uint64_t scans = network.getBoundArcScans();
    ASSERT_TRUE(f.ce->propagate());
    for (int i : {0, 1, n / 2, n - 1}) {
      EXPECT_BOUNDS(starts[i], 10 * i, horizon - 10 * (n - i)) << "token " << i;
      EXPECT_BOUNDS(ends[i], 10 * (i + 1), horizon - 10 * (n - 1 - i)) << "token " << i;
    }
    const std::uint64_t edges = network.getEdgeCount();
    EXPECT_LE(network.getBoundArcScans() - scans, 12 * edges) << (backwards ? "backwards" : "forwards");
  }
}
