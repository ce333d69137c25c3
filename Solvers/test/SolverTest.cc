#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <memory>
#include <tinyxml.h>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/IntervalToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/RefutedSets.hh"
#include "Solvers/base/Solver.hh"
#include "Solvers/base/ThreatDecisionPoint.hh"
#include "Solvers/base/ThreatManager.hh"
#include "PlanDatabase/test/World.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/test/TestSupport.hh"

using namespace KORVAN;
using namespace KORVAN::SOLVERS;

namespace {

// The variables the toy flaw manager looks at, in the order it prefers them.
std::vector<ConstrainedVariableId> g_vars;
unsigned int g_restoreFailures = 0;
unsigned int g_undoCount = 0;

std::vector<std::pair<double, double>> snapshot() {
  std::vector<std::pair<double, double>> result;
  for (const ConstrainedVariableId& v : g_vars)
    result.push_back(std::make_pair(v->lastDomain().getLowerBound(), v->lastDomain().getUpperBound()));
  return result;
}

/// Assigns a variable its values in increasing order; after each undo it checks that
/// propagation brings every toy variable back to what it was before the assignment.
class ValueDecisionPoint : public DecisionPoint {
public:
  ValueDecisionPoint(const DbClientId& client, const ConstrainedVariableId& var,
                     const TiXmlElement& config, const LabelStr& explanation)
      : DecisionPoint(client, var->getKey(), explanation), m_var(var), m_index(0),
        m_descending(config.Attribute("descending") != nullptr) {}
  static bool test(const EntityId& e) { return ConstrainedVariableId::convertable(e); }
  static const std::vector<std::string>& configurationAttributes() {
    static const std::vector<std::string> sl_attributes = {"descending"};
    return sl_attributes;
  }
  bool hasNext() const override { return m_index < m_values.size(); }

protected:
  void handleInitialize() override {
    for (double v = m_var->lastDomain().getLowerBound(); v <= m_var->lastDomain().getUpperBound(); v++)
      m_values.push_back(v);
    if (m_descending)
      std::reverse(m_values.begin(), m_values.end());
  }
  void handleExecute() override {
    m_before = snapshot();
    m_client->specify(m_var, m_values[m_index]);
  }
  void handleUndo() override {
    m_client->reset(m_var);
    g_undoCount++;
    m_var->getConstraintEngine()->propagate();
    if (snapshot() != m_before)
      g_restoreFailures++;
    m_index++;
  }

private:
  ConstrainedVariableId m_var;
  std::vector<double> m_values;
  unsigned int m_index;
  std::vector<std::pair<double, double>> m_before;
  bool m_descending;
};

class VarIterator : public FlawIterator {
public:
  VarIterator(FlawManager& mgr) : FlawIterator(mgr), m_it(g_vars.begin()) { advance(); }

private:
  const EntityId nextCandidate() override {
    if (m_it == g_vars.end())
      return EntityId::noId();
    return EntityId(*m_it++);
  }
  std::vector<ConstrainedVariableId>::const_iterator m_it;
};

/// Flaws: toy variables that are not yet singletons; the older variable goes first.
class VarManager : public FlawManager {
public:
  VarManager(const TiXmlElement& e) : FlawManager(e) {}
  IteratorId createIterator() override { return (new VarIterator(*this))->getId(); }
  bool staticMatch(const EntityId& e) override { return !ConstrainedVariableId::convertable(e); }
  bool dynamicMatch(const EntityId& e) override {
    return staticMatch(e) || ConstrainedVariableId(e)->lastDomain().isSingleton();
  }
  bool betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation) override {
    if (a->getKey() < b->getKey()) {
      explanation = LabelStr("older");
      return true;
    }
    return false;
  }
};

const char* TOY_CONFIG =
    "<Solver name='toy'><FlawManager component='VarManager'>"
    "<FlawHandler component='ValueHandler'/></FlawManager></Solver>";
const char* THREAT_CONFIG =
    "<Solver><FlawManager component='ThreatManager'><FlawHandler component='ThreatHandler'/></FlawManager></Solver>";

struct Fixture : public ::testing::Test, public World {
  void SetUp() override {
    g_vars.clear();
    g_restoreFailures = 0;
    g_undoCount = 0;
    factories.reset(new ComponentFactoryMgr());
    registerHostComponents(*factories);
    factories->registerFactory(new ComponentFactory<VarManager>(LabelStr("VarManager")));
    factories->registerFactory(
        new ComponentFactory<ConcreteFlawHandler<ValueDecisionPoint>>(LabelStr("ValueHandler")));
    finders.reset(new MatchFinderMgr());
  }
  void TearDown() override {
    solvers.clear();
    g_vars.clear();
    for (Variable<IntervalIntDomain>* v : owned)
      delete v;
  }
  ConstrainedVariableId var(double lb, double ub, const char* name) {
    Variable<IntervalIntDomain>* v =
        new Variable<IntervalIntDomain>(ce->getId(), IntervalIntDomain(lb, ub), false, true, LabelStr(name));
    owned.push_back(v);
    return v->getId();
  }
  void post(const char* name, std::vector<ConstrainedVariableId> scope) { ce->createConstraint(LabelStr(name), scope); }
  // The root element of a configuration; the fixture keeps its document.
  const TiXmlElement& config(const char* text) {
    docs.emplace_back(new TiXmlDocument());
    docs.back()->Parse(text);
    EXPECT_FALSE(docs.back()->Error()) << docs.back()->ErrorDesc();
    return *docs.back()->RootElement();
  }
  Solver& solver(const char* text = TOY_CONFIG) {
    solvers.emplace_back(new Solver(db->getId(), *factories, finders.get(), config(text)));
    return *solvers.back();
  }
  // x in [0,1] must be 1 for p, q, r (pairwise different) to fit under x + 1.
  void buildPigeonholeUnderChoice() {
    ConstrainedVariableId x = var(0, 1, "x");
    ConstrainedVariableId one = var(1, 1, "one");
    ConstrainedVariableId cap = var(0, 10, "cap");
    ConstrainedVariableId p = var(0, 2, "p"), q = var(0, 2, "q"), r = var(0, 2, "r");
    post("addEq", {x, one, cap});
    for (const ConstrainedVariableId& v : {p, q, r})
      post("leq", {v, cap});
    post("neq", {p, q});
    post("neq", {q, r});
    post("neq", {p, r});
    g_vars = {x, p, q, r};
  }

  std::unique_ptr<ComponentFactoryMgr> factories;
  std::unique_ptr<MatchFinderMgr> finders;
  std::vector<Variable<IntervalIntDomain>*> owned;
  std::vector<std::unique_ptr<TiXmlDocument>> docs;
  std::vector<std::unique_ptr<Solver>> solvers;
};

} // namespace

TEST_F(Fixture, SolvesToyProblemWithBacktracking) {
  buildPigeonholeUnderChoice();
  Solver& solver = this->solver();
  EXPECT_TRUE(solver.solve());
  EXPECT_EQ(Solver::SOLVED, solver.getStatus());
  // x=0 leaves two values for three different variables: p=0 and p=1 both fail at once.
  EXPECT_EQ(2u, solver.getBacktrackCount());
  EXPECT_EQ(6u, solver.getDecisionCount()); // x0 p0 p1 x1 p0 q1
  EXPECT_EQ(3u, solver.getDepth());
  EXPECT_EQ(0u, g_restoreFailures);
  EXPECT_EQ(3u, g_undoCount);
  EXPECT_EQ((std::vector<std::pair<double, double>>{{1, 1}, {0, 0}, {1, 1}, {2, 2}}), snapshot());
  EXPECT_NE(std::string::npos, solver.printFigures().find("backtracks=2"));
  EXPECT_EQ(solver.getStepCount(), 7u); // six decisions, two failed propagations, one final check less
  // Undoing the whole search restores the base domains.
  solver.reset();
  ce->propagate();
  EXPECT_EQ(std::make_pair(0.0, 1.0), snapshot()[0]);
  EXPECT_EQ(0u, solver.getDepth());
}

TEST_F(Fixture, LimitsAndFailure) {
  buildPigeonholeUnderChoice();
  Solver& limited = solver("<Solver maxSteps='2'><FlawManager component='VarManager'>"
                            "<FlawHandler component='ValueHandler'/></FlawManager></Solver>");
  EXPECT_FALSE(limited.solve());
  EXPECT_EQ(Solver::STEP_LIMIT, limited.getStatus());
  EXPECT_EQ(2u, limited.getStepCount());
  limited.reset();
  Solver& shallow = solver();
  EXPECT_FALSE(shallow.solve(0, 1));
  EXPECT_EQ(Solver::DEPTH_LIMIT, shallow.getStatus());
  EXPECT_EQ(1u, shallow.getDepth());
  shallow.reset();
  // With the cap held at 1 the three variables have two values: the search says there is none.
  g_vars.erase(g_vars.begin());
  post("leq", {owned[2]->getId(), owned[1]->getId()});
  Solver& exhausted = solver();
  EXPECT_FALSE(exhausted.solve());
  EXPECT_EQ(Solver::EXHAUSTED, exhausted.getStatus());
  EXPECT_EQ(0u, exhausted.getDepth());
  EXPECT_EQ(0u, g_restoreFailures);
}

TEST_F(Fixture, ConfigurationErrors) {
  auto expectError = [&](const char* text, const std::string& fragment) {
    std::string msg = raised([&] { solver(text); }).getMsg();
    EXPECT_NE(std::string::npos, msg.find(fragment)) << text << ": " << msg;
  };
  expectError("<Solver><FlawManager component='Nope'/></Solver>",
              "No solver component registered as 'Nope'");
  expectError("<Solver><FlawManager/></Solver>", "has no 'component' attribute");
  expectError("<Solver><FlawManager component='ValueHandler'/></Solver>", "is not a flaw manager");
  expectError("<Solver><FlawManager component='VarManager'><H component='VarManager'/></FlawManager></Solver>",
              "is not a flaw handler");
  expectError("<Solver maxSteps='-3'/>", "non-negative integer (at most 2000000000) for 'maxSteps'");
  // A handler element that names no component would leave its flaws to nobody.
  expectError("<Solver><FlawManager component='VarManager'>\n<FlawHandler/></FlawManager></Solver>",
              "Element <FlawHandler> (line 2) has no 'component' attribute.");
  expectError("<Solver><FlawManager component='VarManager'><H component='ValueHandler' priority='x'/>"
              "</FlawManager></Solver>",
              "Expected a number for 'priority'");
  for (const char* priority : {"1e400", "1e-400", "infinity", "nan", "0x10"})
    expectError(("<Solver><FlawManager component='VarManager'><H component='ValueHandler' priority='" +
                 std::string(priority) + "'/></FlawManager></Solver>").c_str(),
                "Expected a number for 'priority'");
}

// The explanation handed to the decision point names the comparison that kept the flaw, also
// when the best flaw came first and only won its later contests.
TEST_F(Fixture, ExplanationNamesTheDecidingComparison) {
  ConstrainedVariableId old = var(0, 1, "old");
  ConstrainedVariableId young = var(0, 1, "young");
  for (const std::vector<ConstrainedVariableId>& order :
       {std::vector<ConstrainedVariableId>{old}, {old, young}, {young, old}}) {
    g_vars = order;
    Solver& s = solver();
    ASSERT_TRUE(s.step());
    EXPECT_EQ(old->getKey(), s.getDecisionStack().back()->getEntityKey());
    // Alone, the flaw won no contest.
    EXPECT_EQ(order.size() == 1 ? "" : "older", s.getDecisionStack().back()->getExplanation().toString());
    s.reset();
  }
}

// Which manager's flaw and which handler go first: the better handler priority, on a tie the
// earlier manager; inside one manager the better priority beats the manager's own preference.
// The first decision's value tells the handler that made it (descending starts at the top).
TEST_F(Fixture, FlawChoiceBetweenManagersAndHandlers) {
  ConstrainedVariableId old = var(0, 3, "old");
  ConstrainedVariableId young = var(0, 3, "young");
  g_vars = {old, young};
  const std::string up = "<FlawHandler component='ValueHandler'", down = up + " descending='1'";
  auto manager = [](const std::string& handlers) {
    return "<FlawManager component='VarManager'>" + handlers + "</FlawManager>";
  };
  struct Case {
    std::string managers;
    ConstrainedVariableId decided;
    double value;
  };
  const std::vector<Case> cases = {
      {manager(up + "/>") + manager(down + "/>"), old, 0},
      {manager(down + "/>") + manager(up + "/>"), old, 3},
      {manager(up + " priority='2'/>") + manager(down + " priority='1'/>"), old, 3},
      {manager(up + " priority='-1'/>") + manager(down + "/>"), old, 0},
      // The younger variable's own handler is better than the one both have.
      {manager(up + " priority='2'/>" + down + " variable='young' priority='1'/>"), young, 3},
      {manager(up + " priority='1'/>" + down + " variable='young' priority='2'/>"), old, 0},
      // inf after every number, -inf before; a subnormal number is no 0.
      {manager(up + " priority='inf'/>") + manager(down + " priority='1e308'/>"), old, 3},
      {manager(up + " priority='-1e308'/>") + manager(down + " priority='-inf'/>"), old, 3},
      {manager(up + " priority='5e-324'/>") + manager(down + " priority='0'/>"), old, 3},
      {manager(up + " priority='-4.9e-324'/>") + manager(down + " priority='0'/>"), old, 0},
  };
  // With every marker on, the look-up is repeated for its lines alone: the choice is the same.
  struct AllLines {
    explicit AllLines(std::ostream& sink) {
      DebugMessage::setStream(sink);
      DebugMessage::enable("*");
    }
    ~AllLines() {
      DebugMessage::disableAll();
      DebugMessage::setStream(std::cerr);
    }
  };
  for (const bool lines : {true, false}) {
    std::ostringstream sink;
    std::unique_ptr<AllLines> on(lines ? new AllLines(sink) : nullptr);
    for (const Case& c : cases) {
      const std::string text = "<Solver>" + c.managers + "</Solver>";
      SCOPED_TRACE(lines ? "every marker on" : "no marker on");
      Solver& s = solver(text.c_str());
      ASSERT_TRUE(s.step()) << text;
      EXPECT_EQ(c.decided->getKey(), s.getDecisionStack().back()->getEntityKey()) << text;
      EXPECT_EQ(c.value, c.decided->lastDomain().getSingletonValue()) << text;
      s.reset();
    }
  }
}

TEST_F(Fixture, MatchingRulesAndHandlerChoice) {
  schema->addObjectType(LabelStr("Vehicle"));
  schema->addObjectType(LabelStr("Rover"), LabelStr("Vehicle"));
  schema->addPredicate(LabelStr("Rover.drive"));
  new Object(db->getId(), LabelStr("Rover"), LabelStr("r1"));
  db->close();
  IntervalToken* token = new IntervalToken(db->getId(), LabelStr("Rover.drive"), false, false);
  FlawManagerId mgr = solver("<Solver><FlawManager component='ThreatManager'>"
                              "<FlawHandler component='ThreatHandler' class='Vehicle' priority='5'/>"
                              "<FlawHandler component='ThreatHandler' predicate='drive' class='Rover' priority='5'/>"
                              "<FlawHandler component='ThreatHandler' predicate='Rover.park'/>"
                              "<FlawHandler component='ValueHandler' priority='1'/></FlawManager></Solver>")
                           .getFlawManagers()
                           .front();
  const std::vector<FlawHandlerId>& handlers = mgr->getFlawHandlers();
  ASSERT_EQ(4u, handlers.size());
  // The unfiltered value handler has the best priority but cannot take a token; of the two
  // that match with equal priority the more specific wins; "Rover.park" does not match.
  EXPECT_EQ(handlers[1], mgr->getFlawHandler(token->getId()));
  EXPECT_EQ(2u, handlers[1]->staticFilterCount());
  // A variable is not the threat manager's, though the value handler could take it.
  EXPECT_FALSE(mgr->inScope(token->start()));
  EXPECT_EQ(handlers[3], mgr->getFlawHandler(token->start()));
  EXPECT_TRUE(mgr->scopeHandler(token->start()).isNoId());
  EXPECT_EQ(handlers[1], mgr->scopeHandler(token->getId()));
}

// The handler a flaw iterator found for each flaw it returns is the one the manager finds for it
// (the best flaw's handler is taken from there), and it answers for no other entity.
TEST_F(Fixture, IteratorsHandOverTheHandlerOfTheirFlaw) {
  FlawManagerId mgr = solver("<Solver><FlawManager component='VarManager'>"
                              "<FlawHandler component='ValueHandler' variable='young' priority='3'/>"
                              "<FlawHandler component='ValueHandler' priority='4'/></FlawManager></Solver>")
                           .getFlawManagers()
                           .front();
  ConstrainedVariableId old = var(1, 3, "old"), young = var(2, 5, "young"), fixed = var(4, 4, "fixed");
  g_vars = {old, fixed, young};
  IteratorId it = mgr->createIterator();
  const FlawIterator* flaws = dynamic_cast<FlawIterator*>((Iterator*)it);
  ASSERT_TRUE(flaws != nullptr);
  std::vector<EntityId> seen;
  while (!it->done()) {
    const EntityId flaw = it->next();
    seen.push_back(flaw);
    EXPECT_EQ(mgr->getFlawHandler(flaw), flaws->lastHandler(flaw)) << flaw->toString();
    EXPECT_TRUE(flaws->lastHandler(fixed).isNoId());
  }
  delete (Iterator*)it;
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(EntityId(old), seen[0]);
  EXPECT_EQ(EntityId(young), seen[1]);
  EXPECT_EQ(mgr->getFlawHandlers()[1], mgr->getFlawHandler(old));
  EXPECT_EQ(mgr->getFlawHandlers()[0], mgr->getFlawHandler(young));
  EntityId best;
  FlawHandlerId handler;
  LabelStr why("");
  ASSERT_TRUE(mgr->getBestFlaw(best, handler, why));
  EXPECT_EQ(EntityId(young), best);  // the better priority
  EXPECT_EQ(mgr->getFlawHandlers()[0], handler);
}

TEST_F(Fixture, ThreatDecisionPointOrdersTokens) {
  schema->addObjectType(LabelStr("Line"));
  schema->addPredicate(LabelStr("Line.busy"));
  Object* line = new Object(db->getId(), LabelStr("Line"), LabelStr("l1"));
  db->close();
  std::vector<TokenId> tokens;
  for (int i = 0; i < 3; i++) {
    IntervalToken* t = new IntervalToken(db->getId(), LabelStr("Line.busy"), false, false,
                                         IntervalIntDomain(0, 20), IntervalIntDomain(0, 30),
                                         IntervalIntDomain(5, 5));
    t->activateInternal();
    t->getObject()->specify((double)line->getId());
    tokens.push_back(t->getId());
  }
  ASSERT_TRUE(ce->propagate());
  ASSERT_EQ(3u, line->tokens().size());
  line->notifyOrderingRequired(tokens[1]);

  Solver& solver = this->solver(THREAT_CONFIG);
  EXPECT_TRUE(solver.step());
  ASSERT_EQ(1u, solver.getDepth());
  DecisionPointId dp = solver.getDecisionStack().back();
  ASSERT_TRUE(Id<ThreatDecisionPoint>::convertable(dp));
  Id<ThreatDecisionPoint> tdp(dp);
  EXPECT_EQ((unsigned int)tokens[1]->getKey(), tdp->getEntityKey());
  ASSERT_GT(tdp->getChoiceCount(), 1u);
  ObjectId obj;
  TokenId pred, succ;
  tdp->extractParts(0, obj, pred, succ);
  EXPECT_TRUE(line->isConstrainedToPrecede(pred, succ));
  EXPECT_TRUE(pred == tokens[1] || succ == tokens[1]);
  ASSERT_TRUE(ce->propagate());
  EXPECT_GE(succ->start()->lastDomain().getLowerBound(), 5.0);
  // Undo frees the pair and moves on; executing again takes the next pair.
  tdp->undo();
  EXPECT_FALSE(line->isConstrainedToPrecede(pred, succ));
  EXPECT_EQ(1u, tdp->getIndex());
  tdp->execute();
  tdp->extractParts(1, obj, pred, succ);
  EXPECT_TRUE(line->isConstrainedToPrecede(pred, succ));
  EXPECT_THROW(tdp->execute(), Error);
  solver.reset();
  EXPECT_TRUE(line->getOrderings().empty());
}

TEST_F(Fixture, EngineWithoutComponents) {
  Engine engine;
  const TiXmlElement& toy = config(TOY_CONFIG);
  std::string msg = raised([&] { Solver solver(engine, toy); }).getMsg();
  EXPECT_NE(std::string::npos, msg.find("\"PlanDatabase\"")) << msg;
  engine.addComponent("PlanDatabase", new PlanDatabase(ce->getId(), schema->getId()));
  EXPECT_THROW(Solver(engine, toy), Error); // no "ComponentFactoryMgr"
  initSolverComponents(engine);
  // The toy components are not registered with the engine's factory manager; the host's are.
  EXPECT_THROW(Solver(engine, toy), Error);
  Solver solver(engine, config(THREAT_CONFIG));
  EXPECT_TRUE(solver.solve());
  EXPECT_EQ(1u, solver.getStepCount());
}

// The refuted-set index against a scan of every filed set, on random sets over a few decisions
// (repeats included, as two decision points may post the same thing).
TEST(RefutedSets, AnswersAsAScanOfEverySet) {
  const int seeds = std::getenv("KORVAN_REFUTED_SEEDS") ? std::atoi(std::getenv("KORVAN_REFUTED_SEEDS")) : 300;
  for (int seed = 1; seed <= seeds; ++seed) {
    std::mt19937 rng(seed);
    RefutedSets index;
    std::set<std::vector<int>> filed;
    const int alphabet = 2 + (int)(rng() % 9);
    std::vector<int> numbers;
    for (int d = 0; d < alphabet; ++d)
      numbers.push_back(index.intern("d" + std::to_string(d)));
    ASSERT_EQ(numbers[alphabet / 2], index.intern("d" + std::to_string(alphabet / 2)));
    auto randomSet = [&](std::size_t most) {
      std::vector<int> set;
      const std::size_t size = rng() % (most + 1);
      for (std::size_t i = 0; i < size; ++i)
        set.push_back(numbers[rng() % (rng() % 4 == 0 ? 2 : alphabet)]);
      std::sort(set.begin(), set.end());
      return set;
    };
    std::string story;
    for (int step = 0; step < 60; ++step) {
      if (rng() % 3 == 0) {
        std::vector<int> set = randomSet(5);
        story += " add" + ::testing::PrintToString(set);
        ASSERT_EQ(!set.empty() && filed.insert(set).second, index.add(set)) << "seed " << seed << story;
        ASSERT_EQ(filed.size(), index.size());
        continue;
      }
      std::vector<int> state = randomSet(8);
      const int latest = state.empty() || rng() % 8 == 0 ? numbers[rng() % alphabet] : state[rng() % state.size()];
      bool expected = false;
      for (const std::vector<int>& set : filed)
        expected = expected || (std::binary_search(set.begin(), set.end(), latest) &&
                                std::includes(state.begin(), state.end(), set.begin(), set.end()));
      ASSERT_EQ(expected, index.holdsOneWith(state, latest))
          << "seed " << seed << story << " ask" << ::testing::PrintToString(state) << " with " << latest;
    }
  }
}
