// Change tokens, the rate-limit constraint, the resource propagator, deletion,
// and a randomised check of the level bounds.

#include "Resource/test/InstantTestSupport.hh"
#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstraintFactory.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "Utils/base/Utils.hh"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>

namespace KORVAN {
namespace InstantTest {
namespace {

std::string text(const Transaction* tx) {
  std::ostringstream os;
  tx->print(os);
  return os.str();
}

const AbstractDomain& quantity(const Transaction* tx) {
  return tx->getVariable("quantity")->lastDomain();
}

TEST(InstantChangeToken, constructionAndAccess) {
  InstantWorld w;
  OpenResource* r = w.resource("R", 0);
  Transaction* master = new Transaction(w.db->getId(), "Resource.change", true, false, IntervalIntDomain(0, 10),
                                        "R", true);
  EXPECT_TRUE(!master->isRejectable() && master->isClosed() && master->isActive());
  EXPECT_EQ(r->getId(), ObjectId(master->getResource()));
  // The rate limit is the resource propagator's.
  ASSERT_NE(nullptr, w.rateLimit(master));
  EXPECT_EQ(LabelStr("Resource"), w.rateLimit(master)->getPropagator()->getName());
  master->setEarliest(2);
  master->setLatest(8);
  master->setMin(-3);
  master->setMax(4);
  EXPECT_EQ("RESOURCE: R[-3, 4, 2, 8]", text(master));

  Transaction* open = new Transaction(w.db->getId(), "Resource.change", false, true, IntervalIntDomain(1, 1), "R",
                                      false);
  EXPECT_TRUE(!open->isClosed() && !open->isActive() && open->isFact());
  open->close();
  EXPECT_TRUE(open->isActive());
  Transaction* ranged = new Transaction(w.db->getId(), "Resource.change", IntervalIntDomain(0, 10), -3, 4, true);
  w.resource("S", 0);
  EXPECT_TRUE(ranged->isActive() && ranged->getResource().isNoId());
  EXPECT_EQ("RESOURCE: UNASSIGNED[-3, 4, 0, 10]", text(ranged));
  Transaction* slave = new Transaction(master->getId(), "before", "Resource.change", IntervalIntDomain(0, 5), "R",
                                       true);
  EXPECT_TRUE(slave->isClosed()) << "closed once";
  EXPECT_EQ(master->getId(), slave->getMasterToken());
  EXPECT_FALSE(r->isViolated());
  EXPECT_EQ(3u, r->tokens().size());
}

TEST(InstantRateLimit, narrowsCandidatesAndQuantity) {
  InstantWorld w;
  OpenResource* a = new OpenResource(w.db->getId(), "A", 0, -100, 100, 3, 3, -10, -10);
  OpenResource* b = new OpenResource(w.db->getId(), "B", 0, -100, 100, 8, 8, -2, -2);
  // Unbounded rates: judged by the totals, [-6, 7].
  OpenResource* c = w.resource("C", 0, -100, 100, 7, -6);
  w.db->close();

  Transaction* wide = w.change("", 0, 0, -20, 20);
  Transaction* fits = w.change("", 0, 0, 5, 7.5);
  fits->setMin(7.5);
  ASSERT_TRUE(w.propagate());
  EXPECT_EQ(3u, wide->getObject()->lastDomain().getSize());
  EXPECT_EQ(IntervalDomain(-10, 8), quantity(wide)) << "the hull of the candidates' whole limits";
  ASSERT_TRUE(fits->getObject()->lastDomain().isSingleton());
  EXPECT_EQ(b->getId(), ObjectId(fits->getResource()));
  EXPECT_EQ(IntervalDomain(7.5, 7.5), quantity(fits));
  EXPECT_TRUE(b->hasToken(fits->getId()));
  EXPECT_FALSE(a->isDirty() || b->isDirty() || c->isDirty()) << "the propagator rebuilt them";

  // A single candidate is marked dirty on every execution.
  w.rateLimit(fits)->execute();
  EXPECT_TRUE(b->isDirty());
  EXPECT_FALSE(a->isDirty());
  w.rateLimit(wide)->execute();
  EXPECT_FALSE(a->isDirty());
  ASSERT_TRUE(w.propagate());
  EXPECT_FALSE(b->isDirty());

  b->setConsumptionRateMax(1);
  EXPECT_EQ("oQtyMin <= 0", failure([&] { w.rateLimit(fits)->execute(); }).getCondition());
  b->setConsumptionRateMax(-2);
  b->setProductionRateMax(-1);
  EXPECT_EQ("oQtyMax >= 0", failure([&] { w.rateLimit(fits)->execute(); }).getCondition());
  b->setProductionRateMax(8);

  // Fits nobody: every candidate goes, the quantity is left as it was.
  Transaction* none = w.change("", 0, 0, 9, 20);
  EXPECT_FALSE(w.propagate());
  EXPECT_TRUE(none->getObject()->lastDomain().isEmpty());
  EXPECT_EQ(IntervalDomain(9, 20), quantity(none));
  none->discard();
  EXPECT_TRUE(w.propagate());
}

TEST(InstantRateLimit, openDomainsAndBadScopes) {
  InstantWorld w;
  OpenResource* r = w.resource("R", 0);
  Transaction* tx = w.change("", 0, 0, -1e7, 1e7);
  ASSERT_TRUE(w.propagate());
  EXPECT_FALSE(r->isDirty());
  w.rateLimit(tx)->execute();
  EXPECT_FALSE(r->isDirty()) << "an open object domain rules nothing out";
  EXPECT_EQ(IntervalDomain(-1e7, 1e7), quantity(tx));

  ConstraintEngineId ce = w.ce->getId();
  auto var = [&](const char* name) {
    return (new Variable<IntervalDomain>(ce, IntervalDomain(), false, true, name))->getId();
  };
  ConstrainedVariableId object = var("object"), time = var("time"), qty = var("quantity"), other = var("other");
  auto make = [&](std::vector<ConstrainedVariableId> scope) {
    return failure([&] { w.ce->createConstraint("ResourceTransactionRelation", scope); });
  };
  EXPECT_EQ("variables.size() == (unsigned int) ARG_COUNT", make({object, time}).getCondition());
  Error e = make({other, time, qty});
  EXPECT_EQ("variables[OBJECT]->getName() == LabelStr(\"object\")", e.getCondition());
  EXPECT_EQ(other->toString(), e.getMsg());
  EXPECT_EQ("variables[TIME]->baseDomain().isInterval() && variables[TIME]->getName() == LabelStr(\"time\")",
            make({object, other, qty}).getCondition());
  EXPECT_EQ("variables[USAGE]->baseDomain().isInterval() && variables[USAGE]->getName() == LabelStr(\"quantity\")",
            make({object, time, other}).getCondition());
  EXPECT_EQ("scope.size() >= 1", make({}).getCondition());
  EXPECT_TRUE(w.propagate()) << "failed constructions leave nothing behind";
}

TEST(InstantPropagator, rebuildsDirtyResourcesAndReportsTheFirstViolated) {
  InstantWorld w;
  // Nothing may be produced: the consumption certainly takes the level below 0.
  OpenResource* r1 = w.resource("R1", 0, 0, 10, 0, -100);
  OpenResource* r2 = w.resource("R2", 0);
  Transaction* t0 = w.change("R1", 0, 0, 0, 0);
  Transaction* t1 = w.change("R1", 5, 5, -3, -3);
  Transaction* t2 = w.change("R2", 1, 1, 1, 1);
  EXPECT_TRUE(w.propagator()->updateRequired());
  EXPECT_FALSE(w.propagate());
  EXPECT_TRUE(t0->getObject()->lastDomain().isEmpty()) << "the first token, though it takes no part";
  EXPECT_FALSE(t1->getObject()->lastDomain().isEmpty());
  EXPECT_FALSE(t2->getObject()->lastDomain().isEmpty());
  EXPECT_TRUE(r2->isDirty()) << "not examined after the first violated resource";
  EXPECT_TRUE(w.propagator()->updateRequired());

  // Once the violation is gone, every dirty resource is rebuilt.
  t1->discard();
  EXPECT_TRUE(w.propagate());
  EXPECT_FALSE(r1->isDirty());
  EXPECT_FALSE(r2->isDirty());
  EXPECT_FALSE(w.propagator()->updateRequired());
  EXPECT_EQ(std::set<TokenId>{t0->getId()}, std::set<TokenId>(r1->tokens().begin(), r1->tokens().end()))
      << "the emptied object came back with the relaxation";
}

TEST(InstantPropagator, offWithoutTheResourceType) {
  InstantWorld w(false);
  ConstraintEngineId ce = w.ce->getId();
  std::vector<ConstrainedVariableId> scope;
  for (const char* name : {"object", "time", "quantity"})
    scope.push_back((new Variable<IntervalDomain>(ce, IntervalDomain(), false, true, name))->getId());
  w.ce->createConstraint("ResourceTransactionRelation", scope);
  DefaultPropagator* p = dynamic_cast<DefaultPropagator*>((Propagator*) w.propagator());
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1u, p->getAgenda().size());
  EXPECT_FALSE(w.propagator()->updateRequired());
  EXPECT_TRUE(w.propagate());
  EXPECT_EQ(1u, p->getAgenda().size());
}

TEST(InstantResource, deletionLeavesNothingBehind) {
  unsigned int before = Entity::liveCount();
  {
    InstantWorld w;
    OpenResource* r = w.resource("R", 0, 0, 10);
    Transaction* a = w.change("R", 0, 10, 1, 3);
    w.change("R", 5, 5, 2, 2);
    w.change("R", 7, 12, -1, 0);
    ASSERT_TRUE(w.propagate());
    ASSERT_EQ(5u, r->getInstants().size());
    std::list<ResourceFlawId> flaws;
    r->getResourceFlaws(flaws, 0, 0);
    a->discard();
    EXPECT_TRUE(r->isDirty());
    EXPECT_EQ(5u, bounds(*r).size()) << "stale until the next query";
    EXPECT_FALSE(r->isFlawed());
    EXPECT_EQ((std::vector<std::string>{"5:[2, 2, 2, 2]", "7:[1, 2, 2, 2]", "12:[1, 2, 1, 2]"}), bounds(*r));
    w.change("R", 20, 30, 1, 1);
    w.resource("unused", 0)->isViolated();
  }
  EXPECT_EQ(before, Entity::liveCount());
}

// Random tokens against random completions of the plan: the level of each
// completion lies within the reported bounds, and with fixed tokens it is exact.
TEST(InstantResource, randomCompletionsStayWithinTheBounds) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 30; ++round) {
    InstantWorld w;
    const bool fixed = round % 3 == 0;
    const double initial = std::uniform_int_distribution<int>(-5, 5)(rng);
    OpenResource* r = w.resource("R", initial);
    struct Planned { int e, l; double qmin, qmax; int key; };
    std::vector<Planned> planned;
    int count = std::uniform_int_distribution<int>(1, 12)(rng);
    for (int i = 0; i < count; ++i) {
      int e = std::uniform_int_distribution<int>(0, 40)(rng);
      int l = fixed ? e : e + std::uniform_int_distribution<int>(0, 10)(rng);
      double qmin = std::uniform_int_distribution<int>(-5, 5)(rng);
      double qmax = fixed ? qmin : qmin + std::uniform_int_distribution<int>(0, 4)(rng);
      planned.push_back({e, l, qmin, qmax, w.change("R", e, l, qmin, qmax)->getKey()});
    }
    IntervalDomain probe;
    r->getLevelAt(0, probe);

    std::set<int> times;
    for (const Planned& s : planned) {
      times.insert(s.e);
      times.insert(s.l);
    }
    std::set<int> instantTimes;
    for (const auto& entry : r->getInstants()) {
      instantTimes.insert(entry.first);
      std::set<int> expected, held;
      for (const Planned& s : planned)
        if (s.e <= entry.first && entry.first <= s.l)
          expected.insert(s.key);
      for (const TransactionId& tx : entry.second->getTransactions())
        held.insert(tx->getKey());
      EXPECT_EQ(expected, held) << "instant " << entry.first;
    }
    EXPECT_EQ(times, instantTimes);

    for (int completion = 0; completion < 20; ++completion) {
      std::vector<std::pair<int, double>> chosen;
      for (const Planned& s : planned)
        chosen.push_back({std::uniform_int_distribution<int>(s.e, s.l)(rng),
                          std::uniform_real_distribution<double>(s.qmin, s.qmax)(rng)});
      for (int t = -1; t <= 52; ++t) {
        double level = initial;
        for (const auto& c : chosen)
          if (c.first <= t)
            level += c.second;
        IntervalDomain bounds;
        r->getLevelAt(t, bounds);
        if (fixed) {
          EXPECT_DOUBLE_EQ(level, bounds.getLowerBound()) << "round " << round << " time " << t;
          EXPECT_DOUBLE_EQ(level, bounds.getUpperBound()) << "round " << round << " time " << t;
        } else {
          EXPECT_LE(bounds.getLowerBound(), level + 1e-9) << "round " << round << " time " << t;
          EXPECT_GE(bounds.getUpperBound(), level - 1e-9) << "round " << round << " time " << t;
        }
      }
    }
  }
}

}
}
}
