// The generic detector's rate and sum tests and the open-world and
// closed-world level judgements: strict comparisons, reports and marks.

#include "Resource/component/MIRT_ClosedWorldFVDetector.hh"
#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/test/ProfileTestSupport.hh"
#include "Resource/test/ResourceTestSupport.hh"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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
const double NaN = std::numeric_limits<double>::quiet_NaN();

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
  // Values: the levels (min, max of the lower, min, max of the upper), then the eight
  // instantaneous and cumulative totals, consumption first, minimum first (zero when left out).
  // Marks: "V" violated, "L" / "U" the lower / upper flaw side, "-" off, "?" not checked; a
  // magnitude of NaN is not checked.
  struct Case {
    std::vector<double> values;
    bool stop;
    Log log;
    const char* marks;
    double lowerMagnitude, upperMagnitude;
  };
  void run(FVDetector& det, const std::vector<Case>& cases) {
    for (size_t i = 0; i < cases.size(); ++i) {
      const Case& c = cases[i];
      std::vector<double> v = c.values;
      v.resize(12, 0.0);
      inst->update(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], 0, 0, 0, 0);
      EXPECT_EQ(c.stop, det.detect(inst)) << "case " << i;
      EXPECT_EQ(c.log, res->take()) << "case " << i;
      const bool marks[] = {inst->isViolated(), inst->hasLowerLevelFlaw(), inst->hasUpperLevelFlaw()};
      for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(c.marks[k] == '?' || (c.marks[k] != '-') == marks[k]) << "case " << i << " mark " << k;
      EXPECT_TRUE(std::isnan(c.lowerMagnitude) || c.lowerMagnitude == inst->getLowerFlawMagnitude())
          << "case " << i << ": " << inst->getLowerFlawMagnitude();
      EXPECT_TRUE(std::isnan(c.upperMagnitude) || c.upperMagnitude == inst->getUpperFlawMagnitude())
          << "case " << i << ": " << inst->getUpperFlawMagnitude();
    }
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
  b.run(det, {
      // Wholly below: violated and flawed, the magnitude measured from the lower level.
      {{-5, -5, -1, -1}, true, {"V5@10", "F@10"}, "VL-", 5, NaN},
      // Upper level at the limit: a flaw only.
      {{-2, -2, 0, 0}, false, {"-V@10", "F@10"}, "-L-", 2, NaN},
      // Crossing both limits: both sides, one mark, no violation.
      {{-1, -1, 11, 12}, false, {"F@10"}, "-LU", 1, 2},
      {{10, 10, 12, 12}, false, {"F@10"}, "-??", NaN, NaN},
      {{11, 11, 12, 12}, true, {"V4@10", "F@10"}, "V??", NaN, NaN},
      // Exactly at the limits, and totals at theirs: nothing left to report but the end of the
      // earlier marks, and then nothing at all.
      {{0, 0, 10, 10, 5, 5, 5, 5, 20, 20, 20, 20}, false, {"-V@10", "-F@10"}, "---", NaN, 0},
      {{0, 0, 10, 10, 5, 5, 5, 5, 20, 20, 20, 20}, false, {}, "---", NaN, NaN},
      // Rate and sum limits: flaws on the maxima set no level side; violations on the minima,
      // the first test in order deciding.
      {{0, 0, 10, 10, 0, 6}, false, {"F@10"}, "---", NaN, NaN},
      {{-3, -3, 10, 10, 6, 6, 6, 6}, true, {"V1@10", "F@10"}, "V??", NaN, NaN},
      {{0, 0, 10, 10, 0, 0, 6, 6, 21, 21, 21, 21}, true, {"V3@10", "F@10"}, "V??", NaN, NaN},
      {{0, 0, 10, 10, 0, 0, 6, 6, 0, 0, 21, 21}, true, {"V2@10", "F@10"}, "V??", NaN, NaN},
      {{0, 0, 10, 10, 0, 0, 6, 6}, true, {"V0@10", "F@10"}, "V??", NaN, NaN}});
  EXPECT_TRUE(b.inst->isFlawed());
}

TEST(GenericFVDetector, OpenWorldAllowsForWhatMayStillCome) {
  Bench b(true);
  OpenWorldFVDetector det(b.res->getId());
  b.run(det, {
      // The inner bounds decide flaws: a low lower level alone is no flaw.
      {{-3, 0, 5, 5}, false, {}, "---", NaN, NaN},
      {{-3, -1, 12, 14}, false, {"F@10"}, "-LU", 1, 2},
      // Below the lower limit, but 20 may still be produced: no violation.
      {{-5, -5, -5, -5}, false, {"F@10"}, "-??", NaN, NaN},
      // Once all 20 must have been produced nothing remains: violated, and with violations
      // allowed the walk goes on.
      {{-5, -5, -5, -5, 0, 0, 0, 0, 0, 0, 20, 20}, false, {"V5@10", "F@10"}, "V??", NaN, NaN},
      // Above the upper limit by more than may still be consumed.
      {{31, 31, 31, 31}, false, {"V4@10", "F@10"}, "V??", NaN, NaN},
      {{30, 30, 30, 30}, false, {"-V@10", "F@10"}, "-??", NaN, NaN}});
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
