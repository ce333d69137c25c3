#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/component/MIRT_TimetableProfile.hh"

#include <gtest/gtest.h>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

TestReservoir* timetableReservoir(ResourceWorld& w, const char* name, double init, double lowerLimit,
                                  double upperLimit, double maxProduction, double maxConsumption) {
  return new TestReservoir(w.db->getId(), LabelStr("Reservoir"), LabelStr(name), LabelStr("TimetableFVDetector"),
                           LabelStr("TimetableProfile"), init, init, lowerLimit, upperLimit,
                           (double) g_infiniteTime(), (double) g_infiniteTime(), maxProduction, maxConsumption);
}

}

TEST(TimetableProfile, levelsOfWorkedExamples) {
  ResourceWorld w(true);

  // A consumer of 3 and a producer of 2 over overlapping windows, initial level 10.
  TestReservoir* r = timetableReservoir(w, "R", 10, 0, 100, 1000, 1000);
  w.consumer("R", 0, 10, 3, 3);
  w.producer("R", 5, 15, 2, 2);
  ASSERT_TRUE(w.propagate());
  Id<Profile> p = r->getProfile();
  ASSERT_EQ(4u, ResourceWorld::instants(p).size());
  //                        time  levels          inst cons/prod   cumulative      carried
  EXPECT_EQ((std::vector<double>{0, 7, 7, 10, 10, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0}),
            valuesOf(ResourceWorld::instantAt(p, 0)));
  EXPECT_EQ((std::vector<double>{5, 7, 7, 12, 12, 0, 3, 0, 2, 0, 3, 0, 2, 0, 0, 0, 0}),
            valuesOf(ResourceWorld::instantAt(p, 5)));
  EXPECT_EQ((std::vector<double>{10, 7, 7, 9, 9, 0, 3, 0, 2, 3, 3, 0, 2, 0, 0, 0, 0}),
            valuesOf(ResourceWorld::instantAt(p, 10)));
  EXPECT_EQ((std::vector<double>{15, 9, 9, 9, 9, 0, 0, 0, 2, 3, 3, 2, 2, 3, 3, 0, 0}),
            valuesOf(ResourceWorld::instantAt(p, 15)));

  // The envelope reads the same levels, and the initial level before the first instant.
  ApResourceProfile* levels = r->getLevels();
  ASSERT_EQ(4, levels->getTimes().size());
  EXPECT_EQ(0, levels->getTimes().get(0));
  EXPECT_EQ(15, levels->getTimes().get(3));
  EXPECT_EQ(7, levels->getLowerBound(7));
  EXPECT_EQ(12, levels->getUpperBound(7));
  EXPECT_EQ(9, levels->getLowerBound(100));
  delete levels;

  // The profile refuses a non-empty result vector.
  std::vector<TransactionId> results(1);
  Error e = failure([&]() { p->getTransactionsToOrder(ResourceWorld::instantAt(p, 0), results); });
  EXPECT_EQ("results.empty()", e.getCondition());
  EXPECT_EQ("Resource/component/MIRT_TimetableProfile", e.getFile());
}

TEST(TimetableFVDetector, violationsAtEqualityAndBeyond) {
  ResourceWorld w(true);

  // Initial capacity 10, lower limit 0, no production allowed: a consumer of exactly 10 leaves the
  // level at the limit, 12 breaks it whatever else happens.
  TestReservoir* atLimit = timetableReservoir(w, "AtLimit", 10, 0, 100, 0, 100);
  TokenId ten = w.consumer("AtLimit", 5, 5, 10, 10);
  TestReservoir* beyond = timetableReservoir(w, "Beyond", 10, 0, 100, 0, 100);
  TokenId twelve = w.consumer("Beyond", 5, 5, 12, 12);
  EXPECT_TRUE(w.propagate());
  EXPECT_FALSE(ResourceWorld::instantAt(atLimit->getProfile(), 5)->isViolated());
  EXPECT_EQ(0.0, atLimit->getRTRConstraint(ten)->getViolation());
  InstantId at5 = ResourceWorld::instantAt(beyond->getProfile(), 5);
  EXPECT_TRUE(at5->isViolated());
  EXPECT_EQ(-2, at5->getUpperLevel());
  EXPECT_GT(beyond->getRTRConstraint(twelve)->getViolation(), 0.0);
  EXPECT_EQ("LevelTooLow for resource Beyond at instant 5", beyond->getRTRConstraint(twelve)->getViolationExpl());

  // Cumulative consumption: equal to the maximum passes, beyond it is the first problem reported,
  // before the level.
  TestReservoir* sum = timetableReservoir(w, "Sum", 10, 0, 100, 1000, 12);
  TokenId a = w.consumer("Sum", 1, 1, 12, 12);
  EXPECT_TRUE(w.propagate());
  EXPECT_FALSE(ResourceWorld::instantAt(sum->getProfile(), 1)->isViolated());
  TokenId b = w.consumer("Sum", 2, 2, 1, 1);
  EXPECT_TRUE(w.propagate());
  EXPECT_EQ("ConsumptionSumExceeded for resource Sum at instant 2", sum->getRTRConstraint(b)->getViolationExpl());
  // The violation is the resource's at instant 2 only: the consumer at 1 is clean.
  EXPECT_EQ(0.0, sum->getRTRConstraint(a)->getViolation());

  // Too much production with a consumption limit beside it: a producer is marked, not a consumer.
  TestReservoir* high = timetableReservoir(w, "High", 10, 0, 15, 1000, 0);
  TokenId c = w.consumer("High", 3, 3, 0, 0);
  TokenId p = w.producer("High", 3, 3, 6, 6);
  EXPECT_TRUE(w.propagate());
  EXPECT_EQ("LevelTooHigh for resource High at instant 3", high->getRTRConstraint(p)->getViolationExpl());
  EXPECT_EQ(0.0, high->getRTRConstraint(c)->getViolation());

  // Once the offending token goes, the next recomputation clears the mark of the others.
  p->discard();
  EXPECT_TRUE(w.propagate());
  EXPECT_FALSE(ResourceWorld::instantAt(high->getProfile(), 3)->isViolated());
  b->discard();
  EXPECT_TRUE(w.propagate());
  EXPECT_EQ(0.0, sum->getRTRConstraint(a)->getViolation());
  EXPECT_TRUE(w.ce->getViolatedConstraints().size() == 1u);  // only "Beyond" is left
}

TEST(ReusableFVDetector, outcomesAndNotifications) {
  ResourceWorld w(true);
  // Limits [0, 10]; at most 5 at once and 8 in total, for consumption and production alike.
  TestReusable* u = new TestReusable(w.db->getId(), LabelStr("Reusable"), LabelStr("U"),
                                     LabelStr("ReusableFVDetector"), LabelStr("TimetableProfile"), 10, 10, 0, 5, 8);
  w.uses("U", 0, 0, 5, 1);
  ASSERT_TRUE(w.propagate());
  InstantId inst = ResourceWorld::instantAt(u->getProfile(), 0);
  FVDetector* detector = (FVDetector*) u->getDetector();
  // Sets the levels and the totals (minimum and maximum alike) that the detector reads, judges the instant, and checks the
  // answer, the reports and the marks: "V" violated, "F" flawed, "L" / "U" the lower / upper flaw
  // side, "-" off, "?" not checked; a magnitude of -1 is not checked.
  struct Case {
    double lower, upper, maxCumProd, maxInstCons;
    bool stop;
    std::vector<std::string> calls;
    const char* marks;
    double lowerMagnitude, upperMagnitude;
  };
  auto run = [&](const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      u->calls.clear();
      inst->update(c.lower, c.lower, c.upper, c.upper, c.maxInstCons, c.maxInstCons, 0, 0, 0, 0, c.maxCumProd,
                   c.maxCumProd, 0, 0, 0, 0);
      EXPECT_EQ(c.stop, detector->detect(inst)) << "case " << i;
      EXPECT_EQ(c.calls, u->calls) << "case " << i;
      const bool marks[] = {inst->isViolated(), inst->isFlawed(), inst->hasLowerLevelFlaw(), inst->hasUpperLevelFlaw()};
      for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(c.marks[k] == '?' || (c.marks[k] != '-') == marks[k]) << "case " << i << " mark " << k;
      EXPECT_TRUE(c.lowerMagnitude < 0 || c.lowerMagnitude == inst->getLowerFlawMagnitude()) << "case " << i;
      EXPECT_TRUE(c.upperMagnitude < 0 || c.upperMagnitude == inst->getUpperFlawMagnitude()) << "case " << i;
    }
  };
  run({// At the limits exactly: clean, and nobody is told.
       {0, 10, 8, 5, false, {}, "----", -1, -1},
       // Below the lower limit: a lower flaw of magnitude 2.
       {-2, 3, 0, 0, false, {"flawed(0)"}, "-FL-", 2, -1},
       // Both sides at once: one report, both magnitudes.
       {-1, 12, 0, 0, false, {"flawed(0)"}, "-FLU", 1, 2},
       // The upper side alone: reported again, the lower side cleared, no withdrawal in between.
       {0, 12, 0, 0, false, {"flawed(0)"}, "-F-U", -1, -1},
       // Production bounded by the consumption total: a violation, which withdraws the flaw
       // first so that no violated instant stays in the flaw record.
       {0, 12, 9, 0, false, {"noLongerFlawed(0)", "violated(0,ProductionSumExceeded)"}, "V---", -1, -1},
       {0, 12, 9, 0, false, {"violated(0,ProductionSumExceeded)"}, "V---", -1, -1},
       // Clean again: the violation is withdrawn.
       {0, 10, 0, 0, false, {"noLongerViolated(0)"}, "----", -1, -1},
       // The whole envelope below the lower limit is a violation, not a flaw; the first problem of
       // the list is the one reported.
       {-3, -1, 0, 6, false, {"violated(0,ConsumptionRateExceeded)"}, "V???", -1, -1},
       {-3, -1, 0, 0, false, {"violated(0,LevelTooLow)"}, "V-??", -1, -1}});
  EXPECT_FALSE(u->hasTokensToOrder());
  // Totals that only may exceed a limit are no violation: what must happen is judged.
  u->calls.clear();
  inst->update(0, 0, 10, 10, 0, 9, 0, 9, 0, 20, 0, 20, 0, 0, 0, 0);
  EXPECT_FALSE(detector->detect(inst));
  EXPECT_FALSE(inst->isViolated());
  EXPECT_EQ(std::vector<std::string>{"noLongerViolated(0)"}, u->calls);
  // Without violations allowed the walk stops there.
  w.ce->setAllowViolations(false);
  run({{11, 12, 0, 0, true, {"violated(0,LevelTooHigh)"}, "V???", -1, -1}});
}
