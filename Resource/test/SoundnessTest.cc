// Paths that searches take and that once corrupted profiles and resources:
// emptied time domains and their relaxation, removal and deletion while the
// engine is inconsistent, partial recomputation with violations allowed,
// orderings implied through time points outside the profile, totals judged
// by what must happen, and negative quantities.

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

ConstrainedVariableId timeOf(const TokenId& tok) {
  return Id<ReservoirToken>(tok)->getTime();
}

ConstrainedVariableId fixedPoint(ResourceWorld& w, int time) {
  return (new Variable<IntervalIntDomain>(w.ce->getId(), IntervalIntDomain(time, time)))->getId();
}

std::pair<double, double> levelAt(Resource* r, int time) {
  IntervalDomain d;
  r->getProfile()->getLevel(time, d);
  return std::make_pair(d.getLowerBound(), d.getUpperBound());
}

typedef std::pair<double, double> Level;

}

TEST(ProfileSoundness, emptiedDomainRelaxedToNonSuperset) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    TestReservoir* r = w.reservoir("R", 10, 0, 100, profile, "QuietFVDetector");
    TokenId c = w.consumer("R", 0, 30, 1, 1);
    ConstrainedVariableId x = fixedPoint(w, 10);
    ConstraintId prec = w.precedes(timeOf(c), x);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ("", checkFiling(r));
    // Specified outside its domain: emptied.
    w.db->getClient()->specify(timeOf(c), 20);
    EXPECT_FALSE(w.propagate());
    // Relaxed to [20 20], which holds nothing of [0 10].
    w.db->getClient()->deleteConstraint(prec);
    EXPECT_EQ("", checkFiling(r));
    EXPECT_EQ(std::vector<int>{20}, instantTimes(r));
    c->discard();
    EXPECT_TRUE(instantTimes(r).empty());
    w.consumer("R", 0, 5, 1, 1);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ("", checkFiling(r));
    EXPECT_EQ(Level(9, 10), levelAt(r, 0));
    EXPECT_EQ(Level(9, 9), levelAt(r, 5));
    x->discard();
  }
}

TEST(ProfileSoundness, emptiedDomainVariants) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    TestReservoir* r = w.reservoir("R", 10, 0, 100, profile, "QuietFVDetector");
    TokenId c = w.consumer("R", 0, 30, 1, 1);
    ConstrainedVariableId x = fixedPoint(w, 10);
    ConstraintId prec = w.precedes(timeOf(c), x);
    ASSERT_TRUE(w.propagate());
    // Emptied, then its base domain narrowed while empty, then relaxed.
    w.db->getClient()->specify(timeOf(c), 20);
    EXPECT_FALSE(w.propagate());
    timeOf(c)->restrictBaseDomain(IntervalIntDomain(15, 25));
    EXPECT_EQ("", checkFiling(r));
    w.db->getClient()->reset(timeOf(c));
    w.db->getClient()->deleteConstraint(prec);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ("", checkFiling(r));
    EXPECT_EQ((std::vector<int>{15, 25}), instantTimes(r));
    EXPECT_EQ(Level(9, 10), levelAt(r, 15));

    // A value specified while empty, inside the old domain: filed at that value alone.
    ConstrainedVariableId y = fixedPoint(w, 17);
    ConstraintId before = w.precedes(timeOf(c), y);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ((std::vector<int>{15, 17}), instantTimes(r));
    ConstraintId after = w.precedes(y, timeOf(c));
    ConstraintId tooLate = w.precedes(fixedPoint(w, 18), timeOf(c));
    EXPECT_FALSE(w.propagate());
    w.db->getClient()->specify(timeOf(c), 16);
    w.db->getClient()->deleteConstraint(tooLate);
    w.db->getClient()->deleteConstraint(after);
    EXPECT_EQ("", checkFiling(r));
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ(std::vector<int>{16}, instantTimes(r));
    EXPECT_EQ(Level(9, 9), levelAt(r, 16));
    EXPECT_EQ(Level(10, 10), levelAt(r, 15));
    (void) before;
  }
}

TEST(ProfileSoundness, transactionRemovedWhileInconsistent) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    TestReservoir* r = w.reservoir("R", 10, 0, 100, profile, "QuietFVDetector");
    TokenId a = w.consumer("R", 0, 0, 1, 1);
    TokenId b = w.consumer("R", 0, 20, 1, 1);
    ConstrainedVariableId d = fixedPoint(w, 5);
    std::vector<ConstrainedVariableId> scope{timeOf(a), d, timeOf(b)};
    w.db->getClient()->createConstraint("temporalDistance", scope);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ((std::vector<int>{0, 5}), instantTimes(r));
    w.precedes(timeOf(b), timeOf(a));
    EXPECT_FALSE(w.propagate());
    a->discard();
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ("", checkFiling(r));
    EXPECT_EQ((std::vector<int>{0, 20}), instantTimes(r));
    EXPECT_EQ(Level(9, 10), levelAt(r, 0));
    EXPECT_EQ(Level(9, 10), levelAt(r, 19));
    EXPECT_EQ(Level(9, 9), levelAt(r, 20));
  }
}

TEST(ProfileSoundness, resourceDeletedWhileInconsistent) {
  for (const char* profile : PROFILES) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    TestReservoir* r = w.reservoir("R", 10, 0, 100, profile, "QuietFVDetector");
    TokenId a = w.consumer("R", 0, 10, 1, 1);
    TokenId b = w.consumer("R", 0, 10, 1, 1);
    ConstraintId ab = w.precedes(timeOf(a), timeOf(b));
    ConstraintId ba = w.precedes(timeOf(b), fixedPoint(w, -1));
    EXPECT_FALSE(w.propagate());
    r->discard();
    // The tokens have lost their only object; once they go too, all is consistent again.
    w.db->getClient()->deleteConstraint(ba);
    a->discard();
    b->discard();
    EXPECT_TRUE(w.propagate());
    (void) ab;
  }
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

TEST(ProfileSoundness, orderingsThroughOutsidePointsFollowTheNetwork) {
  for (const char* profile : {"FlowProfile", "IncrementalFlowProfile"}) {
    SCOPED_TRACE(profile);
    ResourceWorld w(false);
    TestReservoir* r = w.reservoir("R", 10, 8, 100, profile, "ClosedWorldFVDetector");
    w.reservoir("Other", 0, 0, 100, profile, "QuietFVDetector");
    TokenId p = w.producer("R", 0, 10, 2, 2);
    TokenId c = w.consumer("R", 0, 10, 3, 3);
    TokenId z = w.producer("Other", 0, 10, 0, 0);
    w.precedes(timeOf(p), timeOf(z));
    ConstraintId zc = w.precedes(timeOf(z), timeOf(c));
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ(Level(9, 12), levelAt(r, 0));
    EXPECT_TRUE(r->m_flawedInstants.empty());
    // Loosened: the consumer may come first.
    w.db->getClient()->deleteConstraint(zc);
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ(Level(7, 12), levelAt(r, 0));
    EXPECT_EQ(1u, r->m_flawedInstants.count(0));
    // Tightened again, through the same outside point.
    w.precedes(timeOf(z), timeOf(c));
    ASSERT_TRUE(w.propagate());
    EXPECT_EQ(Level(9, 12), levelAt(r, 0));
    EXPECT_TRUE(r->m_flawedInstants.empty());
    // And a chain that touches no variable of R at all.
    ResourceWorld v(false);
    TestReservoir* s = v.reservoir("S", 10, 8, 100, profile, "ClosedWorldFVDetector");
    v.reservoir("Other", 0, 0, 100, profile, "QuietFVDetector");
    TokenId p2 = v.producer("S", 0, 10, 2, 2);
    TokenId c2 = v.consumer("S", 0, 10, 3, 3);
    TokenId z1 = v.producer("Other", 0, 10, 0, 0);
    TokenId z2 = v.producer("Other", 0, 10, 0, 0);
    v.precedes(timeOf(p2), timeOf(z1));
    v.precedes(timeOf(z2), timeOf(c2));
    ASSERT_TRUE(v.propagate());
    EXPECT_EQ(Level(7, 12), levelAt(s, 0));
    ConstraintId middle = v.precedes(timeOf(z1), timeOf(z2));
    ASSERT_TRUE(v.propagate());
    EXPECT_EQ(Level(9, 12), levelAt(s, 0));
    EXPECT_TRUE(s->m_flawedInstants.empty());
    v.db->getClient()->deleteConstraint(middle);
    ASSERT_TRUE(v.propagate());
    EXPECT_EQ(Level(7, 12), levelAt(s, 0));
    EXPECT_EQ(1u, s->m_flawedInstants.count(0));
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
