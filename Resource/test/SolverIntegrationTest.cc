#include "Resource/test/ResourceTestSupport.hh"
#include "Resource/component/Solvers/MIRT_InstantMatching.hh"
#include "Resource/component/Solvers/MIRT_SolverRegistration.hh"
#include "Resource/component/Solvers/MIRT_ThreatDecisionPoint.hh"
#include "Resource/component/Solvers/ResourceThreatDecisionPoint.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/FlawHandler.hh"
#include "Solvers/base/Solver.hh"

#include <gtest/gtest.h>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

typedef SOLVERS::ConcreteFlawHandler<ThreatDecisionPoint> Handler;

// No recorded flaw, and every instant's level bounds within [0, capacity].
void expectWithinLimits(Resource* res, double capacity) {
  std::vector<InstantId> flawed;
  res->getFlawedInstants(flawed);
  EXPECT_TRUE(flawed.empty());
  for (const InstantId& inst : ResourceWorld::instants(res->getProfile())) {
    EXPECT_FALSE(inst->isFlawed()) << inst->getTime();
    EXPECT_GE(inst->getLowerLevel(), 0.0) << inst->getTime();
    EXPECT_LE(inst->getUpperLevel(), capacity) << inst->getTime();
  }
}

}

TEST(ResourceSolver, registrationAndInstantMatching) {
  ResourceWorld w(false, true);
  registerResourceSolverComponents(w.engine.getId());  // again: harmless
  Engine bare;
  Error e = failure([&]() { registerResourceSolverComponents(bare.getId()); });
  EXPECT_EQ("The engine has no \"ComponentFactoryMgr\" for the resource solver components.", e.getMsg());

  // A crane is a reusable resource: its instants match the rules of both types, not a reservoir's.
  TestReusable* crane = w.reusable("C", 1, "TimetableProfile", "ReusableFVDetector", "Crane");
  TestReservoir* tank = w.reservoir("T", 5, 0, 10, "TimetableProfile", "QuietFVDetector");
  w.uses("C", 0, 10, 5, 1);
  w.consumer("T", 3, 3, 1, 1);
  ASSERT_TRUE(w.ce->propagate());
  InstantId craneInstant = ResourceWorld::instants(crane->getProfile()).front();
  InstantId tankInstant = ResourceWorld::instants(tank->getProfile()).front();

  std::vector<Handler*> rules = {new Handler(*xml("<H/>")), new Handler(*xml("<H class=\"Reusable\"/>")),
                                 new Handler(*xml("<H class=\"Crane\"/>")), new Handler(*xml("<H class=\"Reservoir\"/>"))};
  SOLVERS::MatchingEngine engine(w.finders);
  for (Handler* rule : rules)
    engine.addRule(rule->getRuleId());
  std::vector<SOLVERS::MatchingRuleId> results = {rules[3]->getRuleId()};
  engine.getMatches(EntityId(craneInstant), results);
  EXPECT_EQ(std::vector<SOLVERS::MatchingRuleId>({rules[0]->getRuleId(), rules[2]->getRuleId(), rules[1]->getRuleId()}),
            results);
  engine.getMatches(EntityId(tankInstant), results);
  EXPECT_EQ(std::vector<SOLVERS::MatchingRuleId>({rules[0]->getRuleId(), rules[3]->getRuleId()}), results);
  EXPECT_EQ(2u, engine.cycleCount());
  EXPECT_EQ(3u, engine.getApplicableRules(craneInstant).size());
  // The finder takes instants only.
  SOLVERS::InstantMatchFinder finder;
  TokenId tok = w.consumer("T", 4, 4, 1, 1);
  EXPECT_EQ("IdMgrInvalidItemPtrError", failure([&]() { finder.getMatches(engine.getId(), tok, results); }).getType());
  for (Handler* rule : rules) {
    engine.removeRule(rule->getRuleId());
    delete rule;
  }
}

// Verdicts and plans under every handler option are the verdict test's; here what a search leaves
// behind: reset after a solution, and exhaustion, retract every constraint they posted.
TEST(ResourceSolver, searchesLeaveNoConstraintBehind) {
  for (int window : {30, 10}) {
    SCOPED_TRACE(window);
    ResourceWorld w(false, true);
    TestReusable* res = w.reusable("Crane", 1, "FlowProfile");
    for (int i = 0; i < 3; ++i)
      w.uses("Crane", 0, window, 10, 1);
    ASSERT_TRUE(w.ce->propagate());
    const size_t constraints = w.ce->getConstraints().size();
    std::unique_ptr<TiXmlElement> config = xml(
      "<Solver name=\"test\" maxSteps=\"5000\"><FlawManager component=\"MIRTThreatManager\">"
      "<FlawHandler component=\"MIRTThreatHandler\" filter=\"both\"/></FlawManager></Solver>");
    SOLVERS::Solver solver(w.db->getId(), *w.factories, w.finders, *config);
    // Any two of three uses of 10 starting within [0, 10] can be ordered, never all three.
    EXPECT_EQ(window == 30, solver.solve());
    if (window == 30) {
      EXPECT_GE(solver.getDepth(), 2u);
      ASSERT_TRUE(w.ce->propagate());
      expectWithinLimits(res, 1);
      solver.reset();
    } else {
      EXPECT_EQ(SOLVERS::Solver::EXHAUSTED, solver.getStatus());
      EXPECT_GT(solver.getBacktrackCount(), 0u);
    }
    EXPECT_EQ(0u, solver.getDepth());
    EXPECT_EQ(constraints, w.ce->getConstraints().size());
    ASSERT_TRUE(w.ce->propagate());
    std::vector<InstantId> flawed;
    res->getFlawedInstants(flawed);
    EXPECT_FALSE(flawed.empty());
  }
}

TEST(ResourceSolver, infeasibleUnaryProvedWithoutRevisitingOrderings) {
  // Three uses of 10 within [0, 25]: no plan. Orderings that cannot move the flawed level are not
  // offered, and no set of orderings is searched twice, so the proof takes a handful of steps
  // under every filter (stacking every ordering in every sequence took tens of thousands).
  for (const std::string filter : {"none", "both"}) {
    SCOPED_TRACE(filter);
    ResourceWorld w(false, true);
    w.reusable("Press", 1, "IncrementalFlowProfile");
    for (int i = 0; i < 3; ++i)
      w.uses("Press", 0, 15, 10, 1);
    ASSERT_TRUE(w.ce->propagate());
    std::unique_ptr<TiXmlElement> config = xml(
      "<Solver name=\"test\" maxSteps=\"2000\"><FlawManager component=\"MIRTThreatManager\">"
      "<FlawHandler component=\"MIRTThreatHandler\" filter=\"" + filter + "\"/></FlawManager></Solver>");
    SOLVERS::Solver solver(w.db->getId(), *w.factories, w.finders, *config);
    EXPECT_FALSE(solver.solve());
    EXPECT_EQ(SOLVERS::Solver::EXHAUSTED, solver.getStatus());
    EXPECT_LE(solver.getStepCount(), 20u);
  }
}

TEST(ResourceSolver, handlerAttributesRefusedWhenTheConfigurationIsRead) {
  ResourceWorld w(false, true);
  const std::vector<std::pair<std::string, std::string>> cases = {
    {"filter=\"Both\"", "Unknown filter attribute 'Both'"},
    // Order and constraint words are echoed with those allowed; the decision point's own texts
    // for them are its test's.
    {"order=\"earliest\"", "Unknown order 'earliest' (an order word is leastImpact, or a comparator, earliest, latest, "
                          "longest, shortest, ascendingKey or descendingKey, with a side, Predecessor or Successor, as "
                          "in earliestPredecessor; words are parted by commas)"},
    {"order=\"earliestPredecessor,fooSuccessor\"", "Unknown order 'fooSuccessor' (an order word is leastImpact, or a "
                                                  "comparator, earliest, latest, longest, shortest, ascendingKey or "
                                                  "descendingKey, with a side, Predecessor or Successor, as in "
                                                  "earliestPredecessor; words are parted by commas)"},
    {"constraint=\"precedes\"", "Unknown constraint 'precedes' (constraint takes precedesOnly, precedesFirst, "
                               "concurrentOnly or concurrentFirst)"},
    {"iterate=\"pairfirst\"", "Expected 'pairFirst' or 'constraintFirst' for iterate attribute."}};
  for (const auto& c : cases) {
    std::unique_ptr<TiXmlElement> config = xml("<Solver><FlawManager component=\"MIRTThreatManager\">\n"
                                               "<FlawHandler component=\"MIRTThreatHandler\" " + c.first +
                                               "/></FlawManager></Solver>");
    Error e = failure([&]() { SOLVERS::Solver solver(w.db->getId(), *w.factories, w.finders, *config); });
    EXPECT_EQ("<FlawHandler> (line 2): " + c.second, e.getMsg()) << c.first;
  }
  std::unique_ptr<TiXmlElement> config = xml("<Solver><FlawManager component=\"MIRTThreatManager\" order=\"lower,\"/></Solver>");
  Error e = failure([&]() { SOLVERS::Solver solver(w.db->getId(), *w.factories, w.finders, *config); });
  EXPECT_EQ("<FlawManager> (line 1): Unknown decision order ''", e.getMsg());
}

TEST(ResourceSolver, lowerFlawExplainedByTheManagersFirstComparator) {
  ResourceWorld w(false, true);
  w.reusable("Crane", 1, "FlowProfile");
  w.uses("Crane", 3, 3, 3, 1);
  w.uses("Crane", 4, 6, 3, 1);
  ASSERT_TRUE(w.ce->propagate());
  std::unique_ptr<TiXmlElement> config = xml(
    "<Solver name=\"test\"><FlawManager component=\"MIRTThreatManager\">"
    "<FlawHandler component=\"MIRTThreatHandler\"/></FlawManager></Solver>");
  SOLVERS::Solver solver(w.db->getId(), *w.factories, w.finders, *config);
  ASSERT_TRUE(solver.step());
  ASSERT_EQ(1u, solver.getDepth());
  EXPECT_EQ("lowerLevelFlaw", solver.getDecisionStack().back()->getExplanation().toString());
  EXPECT_TRUE(solver.solve());
}

TEST(ResourceSolver, tokenOrderingDecisionPoint) {
  ResourceWorld w(false, true);
  TestReusable* res = w.reusable("Crane", 1, "FlowProfile");
  TokenId a = w.uses("Crane", 0, 30, 10, 1);
  w.uses("Crane", 0, 30, 10, 1);
  ASSERT_TRUE(w.ce->propagate());
  std::unique_ptr<TiXmlElement> config = xml("<H component=\"ResourceThreat\"/>");

  SOLVERS::ResourceThreatDecisionPoint dp(w.db->getClient(), a, *config, LabelStr("earliest"));
  dp.initialize();
  ASSERT_GE(dp.getChoiceCount(), 2u);
  ObjectId object;
  TokenId first, second;
  std::string lines;
  {
    DebugCapture debug("SolverDecisionPoint");
    dp.execute();
    dp.extractParts(0, object, first, second);
    EXPECT_TRUE(res->isConstrainedToPrecede(first, second));
    dp.undo();
    lines = debug.text();
  }
  EXPECT_FALSE(res->isConstrainedToPrecede(first, second));
  // The lines name the tokens by predicate and key.
  auto text = [](const TokenId& tok) {
    return tok->getPredicateName().toString() + "(" + std::to_string(tok->getKey()) + ")";
  };
  EXPECT_EQ("[SolverDecisionPoint:handleExecute]For " + text(a) + ", assigning " + text(first) + " to be before " +
                text(second) + ".\n[SolverDecisionPoint:handleUndo]Retracting ordering decision on " + text(a) + ".\n",
            lines);
  EXPECT_EQ(1u, dp.getIndex());
  dp.execute();
  ObjectId object2;
  TokenId first2, second2;
  dp.extractParts(1, object2, first2, second2);
  EXPECT_TRUE(res->isConstrainedToPrecede(first2, second2));
  dp.undo();

  // No choices: executing fails with the counts.
  w.reusable("Other", 1, "TimetableProfile");
  TokenId lone = w.uses("Other", 100, 100, 1, 1);
  SOLVERS::ResourceThreatDecisionPoint none(w.db->getClient(), lone, *config, LabelStr("earliest"));
  none.initialize();
  EXPECT_EQ("Tried to execute past available choices:0>=0", failure([&]() { none.handleExecute(); }).getMsg());
}
