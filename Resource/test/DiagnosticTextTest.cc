// What the module writes and refuses in words: the refusals a caller can meet, and the debug lines
// that tell the sides of a violation, the level judgements and copied orders apart.

#include "Resource/component/MIRT_OpenWorldFVDetector.hh"
#include "Resource/component/Solvers/MIRT_ChoiceOrder.hh"
#include "Resource/test/ResourceTestSupport.hh"
#include "PlanDatabase/base/TemporalAdvice.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"

#include <gtest/gtest.h>

#include <string>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

// A reservoir that may consume nothing: only what is already below its level can bring it down.
TestReservoir* noConsumption(ResourceWorld& w, const char* name, const char* profile, const char* detector) {
  return new TestReservoir(w.db->getId(), LabelStr("Reservoir"), LabelStr(name), LabelStr(detector), LabelStr(profile),
                           10, 10, 0, 15, 1000, 0, 1000, 0);
}

}

TEST(ResourceTokenRelation, scopeRefusalsNameWhatIsWrong) {
  ResourceWorld w;
  w.reservoir("R", 10, 0, 100);
  TokenId c = w.consumer("R", 0, 10, 1, 1);
  const std::string message = "Require both state and object variables, in that order.";

  Error e = failure([&]() { new ResourceTokenRelation(w.ce->getId(), {c->getState()}, c); });
  EXPECT_EQ("scope.size() == 2", e.getCondition());
  EXPECT_EQ(message, e.getMsg());
  e = failure([&]() { new ResourceTokenRelation(w.ce->getId(), {c->getObject(), c->getState()}, c); });
  EXPECT_EQ("scope[0] == tok->getState() && scope[1] == tok->getObject()", e.getCondition());
  EXPECT_EQ(message, e.getMsg());
  EXPECT_EQ("Resource/base/MIRT_ResourceTokenRelation", e.getFile());
  e = failure([&]() { new ResourceTokenRelation(w.ce->getId(), {c->getState(), c->getObject()}, TokenId()); });
  EXPECT_EQ("tok.isValid()", e.getCondition());
}

TEST(ResourceViolations, eachSideIsLoggedUnderItsOwnText) {
  ResourceWorld w(true);
  TestReservoir* r = w.reservoir("R", 10, 0, 100, "TimetableProfile", "QuietFVDetector");
  TokenId c = w.consumer("R", 0, 10, 1, 1);
  TokenId p = w.producer("R", 0, 10, 1, 1);
  InstantId i0 = ResourceWorld::instantAt(r->getProfile(), 0);
  i0->setViolated(true);
  const std::string consumerLine = "[Resource:notifyViolated]Marked constraint as violated : Token(" +
                                   std::to_string(c->getKey()) + ") Constraint ";
  const std::string producerLine = "[Resource:notifyViolated]Marked constraint as Violated : Token(" +
                                   std::to_string(p->getKey()) + ") Constraint ";

  struct Case {
    ResourceProblem::Type problem;
    bool consumerMarked, producerMarked;
  };
  for (const Case& k : {Case{ResourceProblem::LevelTooLow, true, false}, Case{ResourceProblem::LevelTooHigh, false, true},
                        Case{ResourceProblem::ConsumptionRateExceeded, true, false},
                        Case{ResourceProblem::ProductionSumExceeded, false, true},
                        Case{ResourceProblem::NoProblem, false, false}}) {
    std::string text;
    {
      DebugCapture debug("Resource:notifyViolated");
      r->notifyViolated(i0, k.problem);
      text = debug.text();
    }
    const std::string label = k.problem == ResourceProblem::NoProblem ? "NoProblem" : ResourceProblem::getString(k.problem);
    EXPECT_EQ(k.consumerMarked, text.find(consumerLine) != std::string::npos) << label << "\n" << text;
    EXPECT_EQ(k.producerMarked, text.find(producerLine) != std::string::npos) << label << "\n" << text;
    r->notifyNoLongerViolated(i0);
  }
}

// The timetable detector and the open-world detector explain a level that even all the
// consumption still allowed cannot bring under the upper limit.
TEST(LevelJudgements, upperLimitViolationsAreTraced) {
  ResourceWorld w(true);
  const std::string line = "Upper limit violation.  Limit: 15 Lower level: 16 Maxumum remaining consumption: 0\n";
  struct Case {
    const char* profile;
    const char* detector;
  };
  for (const Case& k : {Case{"TimetableProfile", "TimetableFVDetector"},
                        Case{"IncrementalFlowProfile", "OpenWorldFVDetector"}}) {
    const std::string name = std::string("R") + k.detector;
    TestReservoir* r = noConsumption(w, name.c_str(), k.profile, k.detector);
    TokenId p = w.producer(name, 3, 3, 6, 6);
    std::string text;
    {
      DebugCapture debug(std::string(k.detector) + ":detect");
      ASSERT_TRUE(w.propagate());
      text = debug.text();
    }
    EXPECT_NE(std::string::npos, text.find("[" + std::string(k.detector) + ":detect]" + line)) << text;
    EXPECT_GT(r->getRTRConstraint(p)->getViolation(), 0.0) << k.detector;
  }
}

TEST(ChoiceOrder, copiesAreReported) {
  ChoiceOrder order;
  order.addOrder(new SwitchComparator(new LatestTransactionComparator(), false));
  order.addOrder(new LeastImpactComparator());
  ChoiceOrder empty;
  std::string text;
  {
    DebugCapture debug("ThreatDecisionPoint:sort");
    ChoiceOrder copy(order);
    EXPECT_EQ(2u, copy.getComparators().size());
    ChoiceOrder emptyCopy(empty);
    EXPECT_TRUE(emptyCopy.getComparators().empty());
    text = debug.text();
  }
  EXPECT_EQ("[ThreatDecisionPoint:sort]Copied comparator latestSuccessor\n"
            "[ThreatDecisionPoint:sort]Copied comparator LeastImpactComparator\n"
            "[ThreatDecisionPoint:sort]Copied an empty choice order: the copy is empty too.\n",
            text);
}

TEST(TemporalAdvisor, answersForTokensByTheirEndAndStart) {
  ResourceWorld w;
  w.reusable("U", 10);
  TokenId a = w.uses("U", 0, 30, 10, 1);
  TokenId b = w.uses("U", 0, 30, 10, 1);
  TokenId late = w.uses("U", 40, 50, 10, 1);
  TokenId fixed = w.uses("U", 0, 0, 10, 1);
  TokenId overlapping = w.uses("U", 5, 5, 10, 1);
  ASSERT_TRUE(w.propagate());
  const TemporalAdvisorId& advisor = w.db->getTemporalAdvisor();
  // A token that starts after 40 cannot end before one that ends by 40 starts.
  EXPECT_TRUE(advisor->canPrecede(a, late));
  EXPECT_FALSE(advisor->canPrecede(late, a));
  // Over [0 10] and [5 15], neither ends before the other starts, though one starts first.
  EXPECT_FALSE(advisor->canPrecede(fixed, overlapping));
  EXPECT_FALSE(advisor->canPrecede(overlapping, fixed));
  EXPECT_TRUE(advisor->canPrecede(a, b) && advisor->canPrecede(b, a));
  ConstraintId order = w.precedes(a->end(), b->start());
  ASSERT_TRUE(w.propagate());
  EXPECT_TRUE(advisor->canPrecede(a, b));
  EXPECT_FALSE(advisor->canPrecede(b, a));
  // The plan database's answer is the advisor's.
  for (const TokenId& x : {a, b, late, fixed, overlapping})
    for (const TokenId& y : {a, b, late, fixed, overlapping})
      EXPECT_EQ(advisor->canPrecede(x, y), KORVAN::canPrecede(w.db->getId(), x, y));
  EXPECT_EQ("first.isValid()", failure([&]() { advisor->canPrecede(TokenId(), a); }).getCondition());
  EXPECT_EQ("second.isValid()", failure([&]() { advisor->canPrecede(a, TokenId()); }).getCondition());
  order->discard();
}
