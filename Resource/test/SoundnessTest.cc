// Paths that searches take and that once corrupted reusable resources, which
// the profile oracle (reservoirs only) never walks: partial recomputation with
// violations allowed, totals judged by what must happen, and negative
// quantities.

#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/test/SoundnessSupport.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/DbClient.hh"

#include <gtest/gtest.h>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

const char* const PROFILES[] = {"TimetableProfile", "FlowProfile", "IncrementalFlowProfile"};

}

TEST(ProfileSoundness, violationMarksSurvivePartialRecomputation) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(true);
    TestReusable* u = w.reusable("U", 1, profile);
    TokenId a = w.uses("U", 10, 10, 2, 2);
    TokenId b = w.uses("U", 0, 3, 1, 1);
    ASSERT_TRUE(w.propagate());
    EXPECT_TRUE(ResourceWorld::instantAt(u->getProfile(), 10)->isViolated());
    EXPECT_GT(u->getRTRConstraint(a)->getViolation(), 0.0);
    w.db->getClient()->specify(b->start(), 2);
    ASSERT_TRUE(w.propagate());
    EXPECT_TRUE(ResourceWorld::instantAt(u->getProfile(), 10)->isViolated());
    EXPECT_GT(u->getRTRConstraint(a)->getViolation(), 0.0);
    EXPECT_EQ("", checkMarks(u));
  }
}

TEST(ProfileSoundness, reusableTotalsJudgedByWhatMustHappen) {
  const double inf = (double) g_infiniteTime();
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    // Capacity 10, at most 2 consumed at one instant.
    TestReusable* u = new TestReusable(w.db->getId(), LabelStr("Reusable"), LabelStr("U"),
                                       LabelStr("ReusableFVDetector"), LabelStr(profile), 10, 10, 0, 2, inf);
    TokenId a = w.uses("U", 0, 10, 5, 2);
    TokenId b = w.uses("U", 0, 10, 5, 2);
    EXPECT_TRUE(w.propagate());
    for (const InstantId& inst : ResourceWorld::instants(u->getProfile()))
      EXPECT_FALSE(inst->isViolated()) << inst->getTime();
    // Both fixed at 0: four consumed at once, which every profile sees.
    w.db->getClient()->specify(a->start(), 0);
    EXPECT_TRUE(w.propagate());
    w.db->getClient()->specify(b->start(), 0);
    EXPECT_FALSE(w.propagate());
    w.db->getClient()->reset(b->start());
    w.db->getClient()->specify(b->start(), 5);
    EXPECT_TRUE(w.propagate());
  }
  // Sums: 5 consumed in all at most. Every token starts by 10, so a third one
  // of 2 is too much in every completion.
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    new TestReusable(w.db->getId(), LabelStr("Reusable"), LabelStr("U"), LabelStr("ReusableFVDetector"),
                     LabelStr(profile), 10, 10, 0, inf, 5);
    w.uses("U", 0, 10, 1, 2);
    w.uses("U", 0, 10, 1, 2);
    EXPECT_TRUE(w.propagate());
    TokenId c = w.uses("U", 0, 10, 1, 2);
    EXPECT_FALSE(w.propagate());
    c->discard();
    EXPECT_TRUE(w.propagate());
  }
}

TEST(ProfileSoundness, negativeQuantitiesRefused) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld v(false);
    v.reusable("U", 5, profile);
    // A slave token takes its quantity domain untested.
    TokenId master = v.uses("U", 0, 5, 2, 1);
    Error e = failure([&]() {
      new ReusableToken(master, "any", "Reusable.uses", IntervalIntDomain(0, 5), IntervalIntDomain(),
                        IntervalIntDomain(2, 2), IntervalDomain(-2, 1), LabelStr("U"), true, true);
      v.propagate();
    });
    EXPECT_EQ("lb >= 0.0", e.getCondition());
    EXPECT_EQ("Transaction quantity must not be negative: its lower bound is -2.", e.getMsg());
  }
}
