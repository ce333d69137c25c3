#include <gtest/gtest.h>

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

TEST(TemporalPropagator, TokenChainAndAdvisor) {
  Fixture f;
  ASSERT_TRUE(f.ce->getPropagatorByName(LabelStr("Temporal")).isValid());
  // Two interval tokens, A then B, each with its duration relation.
  ConstrainedVariableId as = f.var(0, 100), ad = f.var(10, 20), ae = f.var(0, 100);
  ConstrainedVariableId bs = f.var(0, 100), bd = f.var(30, 40), be = f.var(0, 100);
  f.post("StartEndDurationRelation", {as, ad, ae});
  f.post("StartEndDurationRelation", {bs, bd, be});
  ConstraintId order = f.post("precedes", {ae, bs});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(as, 0, 60);
  EXPECT_BOUNDS(ae, 10, 70);
  EXPECT_BOUNDS(bs, 10, 70);
  EXPECT_BOUNDS(be, 40, 100);
  EXPECT_BOUNDS(ad, 10, 20);

  // Exact distances follow the paths; a difference of bounds is much looser.
  EXPECT_BOUNDS(f.distance(as, be), 40, 100);
  EXPECT_BOUNDS(f.distance(as, be, false), -20, 100);
  EXPECT_BOUNDS(f.distance(be, as), -100, -40);
  EXPECT_TRUE(f.advisor->canPrecede(ae, bs));
  EXPECT_FALSE(f.advisor->canPrecede(bs, as));
  EXPECT_FALSE(f.advisor->canPrecede(be, ae));

  // A deadline on B's end pulls every earlier time down.
  ConstrainedVariableId deadline = f.var(0, 55);
  f.post("concurrent", {be, deadline});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(be, 40, 55);
  EXPECT_BOUNDS(bs, 10, 25);
  EXPECT_BOUNDS(as, 0, 15);
  EXPECT_BOUNDS(bd, 30, 40);
  EXPECT_BOUNDS(f.distance(as, be), 40, 55);

  // Retracting the ordering lets A move again; the deadline still holds B.
  order->discard();
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(as, 0, 90);
  EXPECT_BOUNDS(bs, 0, 25);
  EXPECT_TRUE(f.advisor->canPrecede(bs, as));

  // Specifying and resetting a time variable.
  as->specify(50);
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(ae, 60, 70);
  as->reset();
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(ae, 10, 100);

  // Variables outside the network get the difference of their bounds, also with exact.
  ConstrainedVariableId p = f.var(5, 10), q = f.var(20, INF);
  EXPECT_BOUNDS(f.distance(p, q), 10, INF);
  EXPECT_BOUNDS(f.distance(q, q), 0, 0);
}

TEST(TemporalPropagator, NegativeCycleAndRecovery) {
  Fixture f;
  ConstrainedVariableId x = f.var(0, 100), y = f.var(0, 100), z = f.var(0, 100);
  ConstrainedVariableId gap = f.var(10, 20);
  f.post("temporalDistance", {x, gap, y});
  f.post("precedes", {y, z});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(z, 10, 100);
  // z before x closes the cycle x -> y -> z -> x of weight at most -10.
  ConstraintId loop = f.post("precedes", {z, x});
  EXPECT_FALSE(f.ce->propagate());
  EXPECT_TRUE(f.ce->provenInconsistent());
  loop->discard();
  EXPECT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(x, 0, 90);
  EXPECT_BOUNDS(y, 10, 100);
  EXPECT_BOUNDS(z, 10, 100);
  EXPECT_BOUNDS(gap, 10, 20);

  // Inconsistency through domains alone: a specified value beyond what the network allows.
  z->specify(5);
  EXPECT_FALSE(f.ce->propagate());
  z->reset();
  EXPECT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(z, 10, 100);

  // Deactivation takes the edge out until the constraint is active again.
  ConstraintId late = f.post("concurrent", {x, f.var(80, 80)});
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(y, 90, 100);
  late->deactivate();
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(y, 10, 100);
  late->undoDeactivation();
  ASSERT_TRUE(f.ce->propagate());
  EXPECT_BOUNDS(y, 90, 100);
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

// Random networks built through constraints, against Floyd-Warshall, while constraints are
// added and removed; inconsistent states must be reported and recovered from.
TEST(TemporalPropagator, RandomAgainstFloydWarshall) {
  std::mt19937 rng(2024);
  int inconsistent = 0, checked = 0;
  for (int round = 0; round < 25; ++round) {
    Fixture f;
    const int n = 5 + rng() % 8;
    std::vector<ConstrainedVariableId> times(1); // index 0 is the origin
    std::vector<int> nodes(1, 0);
    std::vector<RefEdge> domains;
    for (int i = 1; i <= n; ++i) {
      Time lb = (Time)(rng() % 100), ub = lb + (Time)(rng() % 150);
      if (rng() % 6 == 0)
        ub = INF;
      times.push_back(f.var(lb, ub));
      nodes.push_back(i);
      domains.push_back({0, i, lb, ub});
    }
    struct Posted {
      ConstraintId constraint;
      RefEdge edge;
      ConstrainedVariableId distance;
    };
    std::vector<Posted> posted;
    for (int step = 0; step < 30; ++step) {
      if (posted.size() < 3 || rng() % 3 != 0) {
        int a = 1 + rng() % n, b = 1 + rng() % n;
        unsigned kind = rng() % 3;
        Posted p;
        if (kind == 0) {
          p.constraint = f.post("precedes", {times[a], times[b]});
          p.edge = {a, b, 0, INF};
        } else if (kind == 1 && rng() % 3 == 0) {
          p.constraint = f.post("concurrent", {times[a], times[b]});
          p.edge = {a, b, 0, 0};
        } else {
          Time lb = (Time)(rng() % 60) - 20, ub = lb + (Time)(rng() % 40);
          p.distance = f.var(lb, ub);
          p.constraint = f.post("temporalDistance", {times[a], p.distance, times[b]});
          p.edge = {a, b, lb, ub};
        }
        posted.push_back(p);
      } else {
        std::size_t k = rng() % posted.size();
        posted[k].constraint->discard();
        posted.erase(posted.begin() + k);
      }
      std::vector<RefEdge> edges = domains;
      for (const Posted& p : posted)
        edges.push_back(p.edge);
      Distances d;
      const bool consistent = floydWarshall(n + 1, nodes, edges, d);
      ASSERT_EQ(consistent, f.ce->propagate()) << "round " << round << " step " << step;
      if (!consistent) {
        ++inconsistent;
        continue;
      }
      ++checked;
      for (int i = 1; i <= n; ++i) {
        ASSERT_BOUNDS(times[i], -d[i][0], d[0][i]) << "round " << round << " step " << step;
        for (int j = 1; j <= n; ++j)
          ASSERT_BOUNDS(f.distance(times[i], times[j]), -d[j][i], d[i][j]);
      }
      for (const Posted& p : posted) {
        if (p.distance.isNoId())
          continue;
        // The difference of the two points' bounds, within the distance's own domain.
        const Time xl = -d[p.edge.from][0], xu = d[0][p.edge.from];
        const Time yl = -d[p.edge.to][0], yu = d[0][p.edge.to];
        const Time lb = (yl <= -INF || xu >= INF) ? -INF : std::max(p.edge.lb, yl - xu);
        const Time ub = (yu >= INF || xl <= -INF) ? INF : std::min(p.edge.ub, yu - xl);
        ASSERT_BOUNDS(p.distance, std::max(lb, p.edge.lb), std::min(ub, p.edge.ub));
      }
    }
  }
  EXPECT_GT(inconsistent, 5);
  EXPECT_GT(checked, 100);
}

// A distance variable narrowed by the network reaches every other edge that uses it, and its own
// time point when it is one: propagation stops only at the fixed point of every constraint.
TEST(TemporalPropagator, SharedDistanceVariablesReachTheFixedPoint) {
  {
    // x + d = y and u + d = w, with w - u = 10 known only through u and w.
    Fixture f;
    ConstrainedVariableId x = f.var(0, 100), y = f.var(0, 100), u = f.var(0, 100), w = f.var(0, 100);
    ConstrainedVariableId d = f.var(-INF, INF);
    f.post("temporalDistance", {x, d, y});
    f.post("temporalDistance", {u, d, w});
    u->specify(0);
    w->specify(10);
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(d, 10, 10);
    EXPECT_BOUNDS(x, 0, 90);
    EXPECT_BOUNDS(y, 10, 100);
    EXPECT_BOUNDS(f.distance(x, y), 10, 10);
  }
  {
    // x + d = y and x + g = y with g in [0, 5] and d narrowed to 10 elsewhere.
    Fixture f;
    ConstrainedVariableId x = f.var(0, 100), y = f.var(0, 100), p = f.var(0, 0), q = f.var(10, 10);
    ConstrainedVariableId d = f.var(-INF, INF), g = f.var(0, 5);
    f.post("temporalDistance", {p, d, q});
    f.post("temporalDistance", {x, d, y});
    f.post("temporalDistance", {x, g, y});
    EXPECT_FALSE(f.ce->propagate());
  }
  {
    // precedes(d, z) with d in [30, 40] as the distance between a and b.
    Fixture f;
    ConstrainedVariableId a = f.var(0, 0), b = f.var(30, 40), d = f.var(0, 100), z = f.var(0, 100);
    f.post("temporalDistance", {a, d, b});
    f.post("precedes", {d, z});
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(d, 30, 40);
    EXPECT_BOUNDS(z, 30, 100);
    // ... and back: a time point narrowed by the network narrows the edges it gives bounds to.
    ConstrainedVariableId late = f.var(35, 35);
    f.post("concurrent", {late, d});
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(b, 35, 35);
  }
  {
    // Task t2 lasts as long as t1 (t1's duration as t2's distance): t1 lasts 10, t2 at most 5.
    Fixture f;
    ConstrainedVariableId s1 = f.var(0, 100), d1 = f.var(0, INF), e1 = f.var(0, 100);
    ConstrainedVariableId s2 = f.var(0, 100), d2 = f.var(0, 5), e2 = f.var(0, 100);
    f.post("StartEndDurationRelation", {s1, d1, e1});
    f.post("StartEndDurationRelation", {s2, d2, e2});
    f.post("temporalDistance", {s2, d1, e2});
    ASSERT_TRUE(f.ce->propagate());
    s1->specify(0);
    e1->specify(10);
    EXPECT_FALSE(f.ce->propagate());
    e1->reset();
    e1->specify(4);
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(d1, 4, 4);
    EXPECT_BOUNDS(f.distance(s2, e2), 4, 4);
  }
}

// After any relaxation every variable holds exactly what the remaining constraints and specified
// values imply, also where the network implied a specified value when it was given.
TEST(TemporalPropagator, RelaxationKeepsSpecifiedValues) {
  {
    // Two tasks of 2, the second starting at 8, the first before it; its start is then given as
    // the 6 the network already implied, and the ordering removed.
    Fixture f;
    ConstrainedVariableId s1 = f.var(6, 10), d1 = f.var(2, 2), e1 = f.var(0, 100);
    ConstrainedVariableId s2 = f.var(0, 10), d2 = f.var(2, 2), e2 = f.var(0, 100);
    f.post("StartEndDurationRelation", {s1, d1, e1});
    f.post("StartEndDurationRelation", {s2, d2, e2});
    ConstraintId order = f.post("precedes", {e1, s2});
    s2->specify(8);
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(s1, 6, 6);
    s1->specify(6);
    ASSERT_TRUE(f.ce->propagate());
    order->discard();
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(e1, 8, 8);
    EXPECT_BOUNDS(f.distance(s1, e1), 2, 2);
    EXPECT_BOUNDS(f.distance(e1, s2), 0, 0);
    // The advisor answers from the same network without a propagation in between.
    order = f.post("precedes", {e2, s1});
    order->discard();
    EXPECT_BOUNDS(f.distance(s1, s2), 2, 2);
  }
  {
    // a <= b, b given 4 in its window [3, 4]; an unrelated constraint goes; a = b then.
    Fixture f;
    ConstrainedVariableId a = f.var(0, 10), b = f.var(3, 4), p = f.var(0, 10), q = f.var(0, 10);
    f.post("precedes", {a, b});
    ConstraintId unrelated = f.post("precedes", {p, q});
    f.post("concurrent", {f.var(4, 10), a});
    b->specify(4);
    ASSERT_TRUE(f.ce->propagate());
    unrelated->discard();
    ASSERT_TRUE(f.ce->propagate());
    f.post("concurrent", {a, b});
    ASSERT_TRUE(f.ce->propagate());
    EXPECT_BOUNDS(a, 4, 4);
    EXPECT_BOUNDS(b, 4, 4);
  }
}
