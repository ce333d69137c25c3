// The generic detector's rate and sum tests and the open-world and
// closed-world level judgements: strict comparisons, reports and marks.

#include "Resource/component/MIRT_ClosedWorldFVDetector.hh"
#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ResourceTestSupport.hh"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

// Logs what a detector reports instead of acting on it.
class LoggingReservoir : public TestReservoir {
public:
  LoggingReservoir(ResourceWorld& w)
    : TestReservoir(w.db->getId(), LabelStr("Reservoir"), LabelStr("R"), LabelStr("QuietFVDetector"),
                    LabelStr("TimetableProfile"), 5.0, 5.0, 0.0, 10.0, 5.0, 5.0, 20.0, 20.0) {}
  void notifyViolated(InstantId inst, ResourceProblem::Type problem) override {
    log.push_back("V" + std::to_string((int) problem) + "@" + std::to_string(inst->getTime()));
  }
  void notifyNoLongerViolated(InstantId inst) override { log.push_back("-V@" + std::to_string(inst->getTime())); }
  void notifyFlawed(InstantId inst) override { log.push_back("F@" + std::to_string(inst->getTime())); }
  void notifyNoLongerFlawed(InstantId inst) override { log.push_back("-F@" + std::to_string(inst->getTime())); }
  std::vector<std::string> take() {
    std::vector<std::string> result;
    result.swap(log);
    return result;
  }
  std::vector<std::string> log;
};

typedef std::vector<std::string> Log;

// An instant at time 10 to write values into.
struct Bench {
  explicit Bench(bool allowViolations) : w(allowViolations) {
    res = new LoggingReservoir(w);
    time = new Variable<IntervalIntDomain>(w.ce->getId(), IntervalIntDomain(10, 10));
    quantity = new Variable<IntervalDomain>(w.ce->getId(), IntervalDomain(1, 1));
    t = new Transaction(time->getId(), quantity->getId(), false);
    profile = new RecordingProfile(w.db->getId(), quiet.getId(), 0, 0);
    profile->addTransaction(t->getId());
    inst = profile->instants().begin()->second;
  }
  ~Bench() {
    delete profile;
    delete t;
    delete time;
    delete quantity;
  }
  // Levels (min, max of the lower, min, max of the upper), then the eight
  // instantaneous and cumulative totals, consumption first, minimum first.
  void set(double lo, double loMax, double upMin, double up, std::vector<double> totals = std::vector<double>(8, 0.0)) {
    inst->update(lo, loMax, upMin, up, totals[0], totals[1], totals[2], totals[3], totals[4], totals[5], totals[6],
                 totals[7], 0, 0, 0, 0);
  }
  ResourceWorld w;
  LoggingReservoir* res;
  RecordingDetector quiet;
  ConstrainedVariable* time;
  ConstrainedVariable* quantity;
  Transaction* t;
  RecordingProfile* profile;
  InstantId inst;
};

}

TEST(GenericFVDetector, ClosedWorldMarksAndReports) {
  Bench b(false);
  ClosedWorldFVDetector det(b.res->getId());
  // Limits: level [0, 10], 5 per instant, 20 in total.

  // Wholly below: violated and flawed, the magnitude measured from the lower level.
  b.set(-5, -5, -1, -1);
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V5@10", "F@10"}), b.res->take());
  EXPECT_TRUE(b.inst->isViolated() && b.inst->hasLowerLevelFlaw() && !b.inst->hasUpperLevelFlaw());
  EXPECT_EQ(5.0, b.inst->getLowerFlawMagnitude());

  // Upper level at the limit: a flaw only.
  b.set(-2, -2, 0, 0);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"-V@10", "F@10"}), b.res->take());
  EXPECT_FALSE(b.inst->isViolated());
  EXPECT_EQ(2.0, b.inst->getLowerFlawMagnitude());

  // Crossing both limits: both sides, one mark, no violation.
  b.set(-1, -1, 11, 12);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"F@10"}), b.res->take());
  EXPECT_TRUE(b.inst->hasLowerLevelFlaw() && b.inst->hasUpperLevelFlaw());
  EXPECT_EQ(1.0, b.inst->getLowerFlawMagnitude());
  EXPECT_EQ(2.0, b.inst->getUpperFlawMagnitude());
  b.set(10, 10, 12, 12);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"F@10"}), b.res->take());
  b.set(11, 11, 12, 12);
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V4@10", "F@10"}), b.res->take());

  // Exactly at the limits, and totals at theirs: nothing left to report but
  // the end of the earlier marks.
  b.set(0, 0, 10, 10, {5, 5, 5, 5, 20, 20, 20, 20});
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"-V@10", "-F@10"}), b.res->take());
  EXPECT_FALSE(b.inst->isFlawed() || b.inst->hasLowerLevelFlaw() || b.inst->hasUpperLevelFlaw());
  EXPECT_EQ(0.0, b.inst->getUpperFlawMagnitude());
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_TRUE(b.res->take().empty());

  // Rate and sum limits: flaws on the maxima set no level side; violations
  // on the minima, the first test in order deciding.
  b.set(0, 0, 10, 10, {0, 6, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"F@10"}), b.res->take());
  EXPECT_FALSE(b.inst->hasLowerLevelFlaw() || b.inst->hasUpperLevelFlaw());
  b.set(-3, -3, 10, 10, {6, 6, 6, 6, 0, 0, 0, 0});
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V1@10", "F@10"}), b.res->take());
  b.set(0, 0, 10, 10, {0, 0, 6, 6, 21, 21, 21, 21});
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V3@10", "F@10"}), b.res->take());
  b.set(0, 0, 10, 10, {0, 0, 6, 6, 0, 0, 21, 21});
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V2@10", "F@10"}), b.res->take());
  b.set(0, 0, 10, 10, {0, 0, 6, 6, 0, 0, 0, 0});
  EXPECT_TRUE(det.detect(b.inst));
  EXPECT_EQ(Log({"V0@10", "F@10"}), b.res->take());
}

TEST(GenericFVDetector, OpenWorldAllowsForWhatMayStillCome) {
  Bench b(true);
  OpenWorldFVDetector det(b.res->getId());
  // The inner bounds decide flaws: a low lower level alone is no flaw.
  b.set(-3, 0, 5, 5);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_TRUE(b.res->take().empty());
  b.set(-3, -1, 12, 14);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"F@10"}), b.res->take());
  EXPECT_EQ(1.0, b.inst->getLowerFlawMagnitude());
  EXPECT_EQ(2.0, b.inst->getUpperFlawMagnitude());

  // Below the lower limit, but 20 may still be produced: no violation.
  b.set(-5, -5, -5, -5);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"F@10"}), b.res->take());
  EXPECT_FALSE(b.inst->isViolated());
  // Once all 20 must have been produced nothing remains: violated, and with
  // violations allowed the walk goes on.
  b.set(-5, -5, -5, -5, {0, 0, 0, 0, 0, 0, 20, 20});
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"V5@10", "F@10"}), b.res->take());
  EXPECT_TRUE(b.inst->isViolated());
  // Above the upper limit by more than may still be consumed.
  b.set(31, 31, 31, 31);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"V4@10", "F@10"}), b.res->take());
  b.set(30, 30, 30, 30);
  EXPECT_FALSE(det.detect(b.inst));
  EXPECT_EQ(Log({"-V@10", "F@10"}), b.res->take());
}

TEST(GenericFVDetector, RegisteredAndDrivenByAFlowProfile) {
  ResourceWorld w;
  TestReservoir* res = w.reservoir("Tank", 5, 0, 10, "IncrementalFlowProfile", "ClosedWorldFVDetector");
  // 4 must be consumed before 3 is produced; either may come first for the flow profile.
  w.consumer("Tank", 10, 20, 4, 4);
  w.producer("Tank", 15, 25, 3, 3);
  ASSERT_TRUE(w.propagate());
  IntervalDomain level;
  res->getProfile()->getLevel(15, level);
  EXPECT_EQ(1.0, level.getLowerBound());
  EXPECT_EQ(8.0, level.getUpperBound());
  std::vector<InstantId> flawed;
  res->getFlawedInstants(flawed);
  EXPECT_TRUE(flawed.empty());
  // A second consumer of 2 makes a dip below 0 possible, not certain.
  w.consumer("Tank", 10, 20, 2, 2);
  ASSERT_TRUE(w.propagate());
  res->getFlawedInstants(flawed);
  EXPECT_FALSE(flawed.empty());
  for (InstantId inst : flawed) {
    EXPECT_TRUE(inst->hasLowerLevelFlaw());
    EXPECT_FALSE(inst->isViolated());
  }
}
