#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <unistd.h>
#include <new>
#include <sstream>
#include <streambuf>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/IntervalToken.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Engine.hh"
#include "Vexl/InterpretedObjectFactory.hh"
#include "Vexl/VexlXmlInterpreter.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/PlanCheck.hh"

using namespace KORVAN;

namespace {

/// A timeline: every token on it needs ordering until it is ordered against each other token.
class Line : public Object {
public:
  Line(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name) : Object(db, type, name, true) {}
  void add(const TokenId& token) override {
    Object::add(token);
    notifyOrderingRequired(token);
  }
  void getTokensToOrder(std::vector<TokenId>& results) override {
    for (const TokenId& t : tokens()) {
      bool ordered = true;
      for (const TokenId& other : tokens())
        if (other != t && !isConstrainedToPrecede(t, other) && !isConstrainedToPrecede(other, t))
          ordered = false;
      if (!ordered)
        results.push_back(t);
    }
  }
  bool hasTokensToOrder() const override { return true; }
};

class LineFactory : public NativeObjectFactory {
public:
  LineFactory() : NativeObjectFactory("Line", LabelStr("Line")) {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name,
                         const std::vector<const AbstractDomain*>&) const override {
    return (new Line(db, type, name))->getId();
  }
};

class BusyFactory : public NativeTokenFactory {
public:
  BusyFactory() : NativeTokenFactory(LabelStr("Line.busy")) {}
  TokenId createInstance(const PlanDatabaseId& db, const LabelStr& name, bool rejectable,
                         bool isFact) const override {
    return active(new IntervalToken(db, name, rejectable, isFact));
  }
  TokenId createInstance(const TokenId& master, const LabelStr& name,
                         const LabelStr& relation) const override {
    return active(new IntervalToken(master, relation, name));
  }
  static TokenId active(IntervalToken* t) {
    t->activateInternal();
    return t->getId();
  }
};

/// Registers the timeline class as a module would.
class LineModule : public Module {
public:
  LineModule() : Module("Line") {}
  void initialize() override {}
  void uninitialize() override {}
  void initialize(EngineId engine) override {
    Schema* schema = dynamic_cast<Schema*>(engine->getComponent("Schema"));
    schema->addObjectType(LabelStr("Line"));
    schema->registerObjectFactory((new LineFactory())->getId());
    schema->addPredicate(LabelStr("Line.busy"));
    schema->registerTokenFactory((new BusyFactory())->getId());
    VexlXmlInterpreter* interpreter =
        dynamic_cast<VexlXmlInterpreter*>(engine->getLanguageInterpreter("vexl-xml"));
    interpreter->addNativeClass("Line", {"Line.busy"});
    uninitialized = false;
  }
  void uninitialize(EngineId) override { uninitialized = true; }
  static bool uninitialized;
};
bool LineModule::uninitialized = false;

std::string writeFile(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + "korvan-" + std::to_string(getpid()) + "-" + name;
  std::ofstream out(path.c_str());
  out << text;
  return path;
}

// Runs the host; expects its exit status and each fragment in its output (stderr for bad input).
void expectRun(int status, const std::vector<std::string>& args, const std::vector<std::string>& fragments) {
  std::ostringstream out, err;
  EXPECT_EQ(status, HOST::run(args, out, err)) << err.str();
  const std::string text = status == 2 ? err.str() : out.str();
  for (const std::string& fragment : fragments)
    EXPECT_NE(std::string::npos, text.find(fragment)) << fragment << " not in:\n" << text;
}

// Two tasks on one line, each with its start window.
std::string twoTasks(const std::string& startA, const std::string& startB, const std::string& extra = "") {
  return "<vexl><new type='Line' name='line'/><close/>"
         "<goal predicate='Line.busy' name='a' object='line' start='" + startA + "' duration='5'/>"
         "<goal predicate='Line.busy' name='b' object='line' start='" + startB + "' duration='5'/>" + extra + "</vexl>";
}

} // namespace

TEST(KorvanRun, ExitStatusesAndOutput) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new LineModule(); });
  HOST::registerObjectPrinter("Line", [](std::ostream& os, const ObjectId& object) {
    os << "    orderings " << object->getOrderings().size() << std::endl;
  });
  // Two tasks that fit one after the other: one ordering solves the model.
  const std::string goodModel = writeFile("fit.xml", twoTasks("0 10", "0 10"));
  expectRun(0, {goodModel}, {"Result: SOLVED", "decisions=1 backtracks=0", "  a Line.busy(", "    orderings 1"});
  EXPECT_TRUE(LineModule::uninitialized);
  // The second task is pinned where the first must be: no ordering fits.
  expectRun(1, {writeFile("clash.xml", twoTasks("0", "2"))}, {"Result: NO SOLUTION", "status=EXHAUSTED"});
  expectRun(1, {writeFile("bad-time.xml", twoTasks("0", "0", "<constraint name='precedes' scope='a.end b.start'/>"))},
            {"Result: INCONSISTENT"});
  // A step limit stops the search before it can finish.
  std::string config = writeFile("limit.xml", "<Solver maxSteps='1'><FlawManager component='ThreatManager'>"
                                              "<FlawHandler component='ThreatHandler'/></FlawManager></Solver>");
  expectRun(1, {"--solver", config, goodModel}, {"status=STEP_LIMIT"});

  // Bad input of every kind: exit status 2 with the error on standard error.
  struct Case {
    std::vector<std::string> args;
    const char* fragment;
  };
  const Case cases[] = {
      {{}, "no model given"},
      {{"--frob", goodModel}, "unknown option --frob"},
      {{"--max-steps", "x", goodModel}, "non-negative integer after --max-steps"},
      {{writeFile("broken.xml", "<vexl><new type='Line' name='l'></vexl>")},
       "broken.xml:1: <new>: the end tag </vexl> does not close <new>, the element open last (from line 1)"},
      {{writeFile("unknown.xml", "<vexl>\n<new type='Boat' name='b'/></vexl>")}, "unknown.xml:2: <new>: unknown type 'Boat'"},
      {{"--solver", writeFile("c1.xml", "<Solver><FlawManager component='Nope'/></Solver>"), goodModel},
       "No solver component registered as 'Nope'"},
      {{"--solver", writeFile("c3.xml", "<Solver"), goodModel},
       "c3.xml:1: <Solver>: the start tag is never closed (no '>' after it)"},
  };
  for (const Case& c : cases)
    expectRun(2, c.args, {c.fragment});
  HOST::clearRegistrations();
}

// Task t2 must last as long as t1 (t1's duration is t2's distance from start to end); t1 lasts
// exactly 10 by its start and end, t2 at most 5: there is no plan, whatever the solver tries.
TEST(KorvanRun, SharedDistanceVariableWithoutPlan) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new LineModule(); });
  auto model = [](const std::string& name, const std::string& t2Duration) {
    return writeFile(name, "<vexl><new type='Line' name='line'/><close/>"
                           "<goal predicate='Line.busy' name='t1' object='line' start='0' end='10'/>"
                           "<goal predicate='Line.busy' name='t2' object='line' duration='" + t2Duration + "'/>"
                           "<constraint name='temporalDistance' scope='t2.start t1.duration t2.end'/></vexl>");
  };
  expectRun(1, {model("shared-duration.xml", "0 5")}, {"Result: INCONSISTENT"});
  // With t2 allowed 10, the same model has a plan.
  expectRun(0, {model("shared-duration-fits.xml", "0 10")}, {"Result: SOLVED"});
  HOST::clearRegistrations();
}

namespace {

/// An object whose making runs out of memory.
class HogFactory : public NativeObjectFactory {
public:
  HogFactory() : NativeObjectFactory("Hog", LabelStr("Hog")) {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId&, const LabelStr&, const LabelStr&,
                         const std::vector<const AbstractDomain*>&) const override {
    throw std::bad_alloc();
  }
};

class HogModule : public LineModule {
public:
  void initialize(EngineId engine) override {
    LineModule::initialize(engine);
    Schema* schema = dynamic_cast<Schema*>(engine->getComponent("Schema"));
    schema->addObjectType(LabelStr("Hog"));
    schema->registerObjectFactory((new HogFactory())->getId());
  }
};

} // namespace

// Memory that runs out is named as such, with the line being read or the stage of the run; the
// rollback of the half-made transaction adds nothing.
TEST(KorvanRun, MemoryThatRunsOutIsSaidWithWhereItRanOut) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new HogModule(); });
  std::ostringstream out, err;
  const std::string model = writeFile("hog.xml", "<vexl>\n<new type='Line' name='line'/>\n<new type='Hog' name='h'/>\n</vexl>");
  EXPECT_EQ(2, HOST::run({model}, out, err));
  EXPECT_EQ("korvan-run: " + model + ":3: <new>: memory ran out while reading this element\n", err.str());
  // After the model is read: the stage of the run.
  HOST::registerPlanChecker([](const PlanDatabaseId&, std::vector<std::string>&) { throw std::bad_alloc(); });
  std::ostringstream out2, err2;
  EXPECT_EQ(2, HOST::run({writeFile("fit.xml", twoTasks("0 10", "0 10"))}, out2, err2));
  EXPECT_EQ("korvan-run: memory ran out after solving\n", err2.str());
  HOST::clearRegistrations();
}

// INCONSISTENT and NO SOLUTION say what emptied, by the model's names, and what emptied it.
TEST(KorvanRun, FailuresSayWhy) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new LineModule(); });
  // A generic constraint between times: the variable, and the constraint with its scope around the
  // cycle it closes with the windows.
  expectRun(1, {writeFile("eq.xml", twoTasks("0", "2", "<constraint name='eq' scope='a.start b.start'/>"))},
            {"Result: INCONSISTENT"});
  std::ostringstream out, err;
  HOST::run({writeFile("eq.xml", twoTasks("0", "2", "<constraint name='eq' scope='a.start b.start'/>"))}, out, err);
  const std::string text = out.str();
  EXPECT_TRUE(text.find("\nWhy: a.start has no time left: no times keep the cycle ") != std::string::npos ||
              text.find("\nWhy: b.start has no time left: no times keep the cycle ") != std::string::npos)
      << text;
  for (const char* part : {"eq(a.start, b.start)", "a.start = 0", "b.start = 2"})
    EXPECT_NE(std::string::npos, text.find(part)) << text;
  // On a variable that is no time: the constraint with its scope.
  expectRun(1, {writeFile("eq-duration.xml", twoTasks("0", "10", "<constraint name='eq' scope='a.duration b.start'/>"))},
            {"\nWhy: a.duration has no value left under the constraint eq(a.duration, b.start)\nResult: INCONSISTENT"});
  // The temporal network: a time, named by its token, and the cycle that leaves it none.
  expectRun(1, {writeFile("bad-time.xml", twoTasks("0", "0", "<constraint name='precedes' scope='a.end b.start'/>"))},
            {"has no time left: no times keep the cycle a.duration 5, a.start = 0, b.start = 0, "
             "precedes(a.end, b.start)\nResult: INCONSISTENT"});
  // A search with nothing to try: what the plan as it stands breaks (the resource tests count dead
  // ends by reason).
  expectRun(1, {writeFile("clash.xml", twoTasks("0", "2"))},
            {"\nWhy: line: tokens still to order: a b\nResult: NO SOLUTION\n"});
  HOST::clearRegistrations();
}

namespace {
// A stream buffer that takes nothing, as a full disk does.
struct FullBuffer : public std::streambuf {
  int overflow(int) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};
} // namespace

// Results that cannot be written are no success (`>/dev/full`): exit status 2, one line.
TEST(KorvanRun, StandardOutputThatCannotBeWrittenIsABadExit) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new LineModule(); });
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{writeFile("fit.xml", twoTasks("0 10", "0 10"))}, std::vector<std::string>{"--help"}}) {
    FullBuffer full;
    std::ostream out(&full);
    std::ostringstream err;
    EXPECT_EQ(2, HOST::run(args, out, err)) << args[0];
    EXPECT_EQ("korvan-run: cannot write the results to the standard output\n", err.str());
  }
  HOST::clearRegistrations();
}

namespace {

/// The start of the plan's one token, when it is one value; -1 otherwise.
double fixedStart(const PlanDatabaseId& db) {
  for (const auto& entry : db->getTokens())
    if (entry.second->start()->lastDomain().isSingleton())
      return entry.second->start()->lastDomain().getSingletonValue();
  return -1;
}

} // namespace

// A schedule search that gives plans up at once counts each under the proof that gave it up; one
// that proves no schedule but keeps no reason claims nothing it cannot name.
TEST(KorvanRun, SearchesSayWhatGaveEachPlanUp) {
  const std::string model = writeFile("one.xml", "<vexl><new type='Line' name='line'/><close/>"
                                                 "<goal predicate='Line.busy' name='a' object='line' start='0 3' "
                                                 "duration='5'/></vexl>");
  auto setUp = [](bool refutes) {
    HOST::clearRegistrations();
    HOST::registerModule([]() { return new LineModule(); });
    // No plan passes; a start fixed is given up at once, whose proof names it when there is one.
    HOST::registerPlanChecker([](const PlanDatabaseId&, std::vector<std::string>& problems) {
      problems.push_back("line: closed");
    });
    HOST::registerDeadEnd([](const PlanDatabaseId& db) { return fixedStart(db) >= 0; });
    if (refutes)
      HOST::registerRefutation([](const PlanDatabaseId& db, const HOST::TokenNamer& nameOf) {
        for (const auto& entry : db->getTokens())
          if (fixedStart(db) >= 0)
            return "line: " + nameOf(entry.second) + " starts at " + std::to_string((int)fixedStart(db)) +
                   ", when it is closed";
        return std::string();
      });
  };
  setUp(true);
  std::ostringstream out, err;
  EXPECT_EQ(1, HOST::run({model}, out, err)) << err.str();
  EXPECT_NE(std::string::npos, out.str().find("Why: every value tried failed (4 dead ends):\n"
                                              "  1 x line: a starts at 0, when it is closed\n"
                                              "  1 x line: a starts at 1, when it is closed\n"
                                              "  1 x line: a starts at 2, when it is closed\n"
                                              "  1 x line: a starts at 3, when it is closed\n"
                                              "Result: NO SOLUTION\n"))
      << out.str();
  // Without a proof to name, the same exhausted search decides nothing.
  setUp(false);
  std::ostringstream out2, err2;
  EXPECT_EQ(1, HOST::run({model}, out2, err2)) << err2.str();
  EXPECT_EQ(std::string::npos, out2.str().find("Why:")) << out2.str();
  EXPECT_NE(std::string::npos,
            out2.str().find("  no values of the plan's variables keep the model (4 fixes tried), but no dead end was "
                            "recorded to say why\nResult: FLAWS LEFT\n"))
      << out2.str();
  HOST::clearRegistrations();
}

// The Why: counts dead ends, not reasons, ranks the most frequent first (ties: the first met
// first) and names five: one start met first and given up once, three given up for one reason.
TEST(KorvanRun, WhyCountsDeadEndsRanksThemAndNamesFive) {
  auto setUp = []() {
    HOST::clearRegistrations();
    HOST::registerModule([]() { return new LineModule(); });
    HOST::registerPlanChecker([](const PlanDatabaseId&, std::vector<std::string>& problems) {
      problems.push_back("line: closed");
    });
    HOST::registerDeadEnd([](const PlanDatabaseId& db) { return fixedStart(db) >= 0; });
    HOST::registerRefutation([](const PlanDatabaseId& db, const HOST::TokenNamer&) {
      const int start = (int)fixedStart(db);
      if (start < 0)
        return std::string();
      return start >= 1 && start <= 3 ? std::string("line: closed from 1 to 3")
                                      : "line: closed at " + std::to_string(start);
    });
  };
  const std::pair<std::string, std::string> cases[] = {
      {"0 3", "Why: every value tried failed (4 dead ends):\n"
              "  3 x line: closed from 1 to 3\n"
              "  1 x line: closed at 0\n"
              "Result: NO SOLUTION\n"},
      {"0 8", "Why: every value tried failed (9 dead ends):\n"
              "  3 x line: closed from 1 to 3\n"
              "  1 x line: closed at 0\n"
              "  1 x line: closed at 4\n"
              "  1 x line: closed at 5\n"
              "  1 x line: closed at 6\n"
              "  and 2 other reasons\n"
              "Result: NO SOLUTION\n"},
      // One reason, but fixes were made: still counted, not told as the plan's one fault.
      {"1 3", "Why: every value tried failed (3 dead ends):\n"
              "  3 x line: closed from 1 to 3\n"
              "Result: NO SOLUTION\n"},
      // Six reasons: the sixth is still mentioned.
      {"0 7", "Why: every value tried failed (8 dead ends):\n"
              "  3 x line: closed from 1 to 3\n"
              "  1 x line: closed at 0\n"
              "  1 x line: closed at 4\n"
              "  1 x line: closed at 5\n"
              "  1 x line: closed at 6\n"
              "  and 1 other reason\n"
              "Result: NO SOLUTION\n"}};
  for (const auto& c : cases) {
    setUp();
    const std::string model = writeFile("starts.xml", "<vexl><new type='Line' name='line'/><close/>"
                                                      "<goal predicate='Line.busy' name='a' object='line' start='" +
                                                          c.first + "' duration='5'/></vexl>");
    std::ostringstream out, err;
    EXPECT_EQ(1, HOST::run({model}, out, err)) << err.str();
    EXPECT_NE(std::string::npos, out.str().find(c.second)) << out.str();
  }
  HOST::clearRegistrations();
}

namespace {

/// Listens to a variable as a profile listens to the quantities of the tokens on it.
class Hearing : public ConstrainedVariableListener {
public:
  explicit Hearing(const ConstrainedVariableId& var) : ConstrainedVariableListener(var) {}
};

/// A reading over an interval with an "amount" that no constraint reaches but a listener hears.
class Reading : public IntervalToken {
public:
  Reading(const PlanDatabaseId& db, const LabelStr& name, bool rejectable, bool isFact)
      : IntervalToken(db, name, rejectable, isFact, IntervalIntDomain(), IntervalIntDomain(),
                      IntervalIntDomain(0, g_infiniteTime()), Token::noObject(), false) {
    m_amount = (new TokenVariable<IntervalDomain>(getId(), (int)getVariables().size(), db->getConstraintEngine(),
                                                  IntervalDomain(0, 3), false, true, "amount"))
                   ->getId();
    appendVariable(m_amount);
    m_hearing.reset(new Hearing(m_amount));
    close();
    activateInternal();
  }
  const ConstrainedVariableId& amount() const { return m_amount; }

private:
  ConstrainedVariableId m_amount;
  std::unique_ptr<Hearing> m_hearing;
};

class ReadingFactory : public NativeTokenFactory {
public:
  ReadingFactory() : NativeTokenFactory(LabelStr("Meter.read")) {}
  TokenId createInstance(const PlanDatabaseId& db, const LabelStr& name, bool rejectable,
                         bool isFact) const override {
    return (new Reading(db, name, rejectable, isFact))->getId();
  }
  TokenId createInstance(const TokenId&, const LabelStr&, const LabelStr&) const override { return TokenId::noId(); }
};

class MeterFactory : public NativeObjectFactory {
public:
  MeterFactory() : NativeObjectFactory("Meter", LabelStr("Meter")) {}

protected:
  ObjectId makeNewObject(const PlanDatabaseId& db, const LabelStr& type, const LabelStr& name,
                         const std::vector<const AbstractDomain*>&) const override {
    return (new Object(db, type, name, true))->getId();
  }
};

class MeterModule : public LineModule {
public:
  void initialize(EngineId engine) override {
    LineModule::initialize(engine);
    Schema* schema = dynamic_cast<Schema*>(engine->getComponent("Schema"));
    schema->addObjectType(LabelStr("Meter"));
    schema->registerObjectFactory((new MeterFactory())->getId());
    schema->addPredicate(LabelStr("Meter.read"));
    schema->registerTokenFactory((new ReadingFactory())->getId());
    dynamic_cast<VexlXmlInterpreter*>(engine->getLanguageInterpreter("vexl-xml"))->addNativeClass("Meter", {"Meter.read"});
  }
};

/// The readings' amounts that are not `wanted` yet, as plan problems.
void amountsOtherThan(double wanted, const PlanDatabaseId& db, std::vector<std::string>& problems) {
  for (const auto& entry : db->getTokens()) {
    const Reading* reading = dynamic_cast<const Reading*>((Token*)entry.second);
    const AbstractDomain& amount = reading->amount()->lastDomain();
    if (!amount.isSingleton() || amount.getSingletonValue() != wanted)
      problems.push_back("meter: amount " + amount.toString());
  }
}

} // namespace

// The schedule search over the variables of readings: a variable a listener hears is searched
// like any other, whatever its least value; the order of the variables; the budget.
TEST(KorvanRun, ScheduleSearchOrderBudgetAndHeardVariables) {
  HOST::clearRegistrations();
  HOST::registerModule([]() { return new MeterModule(); });
  double wanted = 2;
  HOST::registerPlanChecker(
      [&wanted](const PlanDatabaseId& db, std::vector<std::string>& problems) { amountsOtherThan(wanted, db, problems); });
  auto search = [](const std::string& name, const std::string& readings, std::string& fixes) {
    std::ostringstream out, err, debug;
    DebugMessage::setStream(debug);
    HOST::run({"--debug", "ScheduleSearch:run", writeFile(name, "<vexl><new type='Meter' name='m'/><close/>" +
                                                                     readings + "</vexl>")},
              out, err);
    DebugMessage::setStream(std::cerr);
    fixes = debug.str();
    return out.str();
  };
  const std::string read = "<goal predicate='Meter.read' object='m' name=";
  std::string fixes;
  // Only amount 2 passes, found once the end, fixed after the amount, is fixed too: one value
  // standing for all of the amount's would leave no schedule, and prove it.
  std::string text = search("heard.xml", read + "'r' start='0 3' duration='1 6'/>", fixes);
  EXPECT_NE(std::string::npos, text.find("Schedule: every variable fixed (17 fixes tried)\n")) << text;
  EXPECT_NE(std::string::npos, text.find(" ACTIVE on m start 0 end 1 duration 1 amount 2\n")) << text;
  EXPECT_NE(std::string::npos, text.find("Result: SOLVED\n")) << text;
  // Starts the earliest first, then the fewest values (q's end before the amounts), ties in the
  // order of the tokens.
  text = search("order.xml", read + "'p' start='3 5' duration='2'/>" + read + "'q' start='0 4' duration='1 2'/>", fixes);
  EXPECT_EQ("[ScheduleSearch:run]fixing q.start at 0\n[ScheduleSearch:run]fixing p.start at 3\n"
            "[ScheduleSearch:run]fixing q.end at 1\n[ScheduleSearch:run]fixing p.amount at 0\n",
            fixes.substr(0, fixes.find("[ScheduleSearch:run]fixing q.amount"))) << text;
  // A hundred fixes a variable, 1,000 at the least: three readings of four open variables each.
  wanted = 5;
  text = search("budget.xml", read + "'a' start='0 9' duration='1 6'/>" + read + "'b' start='0 9' duration='1 6'/>" +
                                  read + "'c' start='0 9' duration='1 6'/>",
                fixes);
  EXPECT_NE(std::string::npos, text.find("no schedule found within 1200 fixes")) << text;
  HOST::clearRegistrations();
}

// The cycle prover reads a cycle as a sum of the decimals the model wrote, as a level meets a
// limit: p + q = r with p at least 0.1, q 0.2 and r at most 0.3 sums below zero around the cycle
// by rounding only, and proves nothing; r at most 0.299999999999999 is a digit written, and the
// cycle proves there are no values (bounds propagation forgives both).
TEST(KorvanRun, CycleProverForgivesRoundingNotDigits) {
  HOST::clearRegistrations();
  for (const char* most : {"0.3", "0.299999999999999"}) {
    std::string onCycle = "none asked";
    HOST::registerPlanChecker([&onCycle](const PlanDatabaseId& db, std::vector<std::string>&) {
      const ConstrainedVariableId var = HOST::PlanCheck::timeOnCycle(db->getConstraintEngine());
      onCycle = var.isNoId() ? "" : HOST::PlanCheck::variableName(var);
    });
    const std::string model =
        std::string("<vexl><class name='Sum'><predicate name='of' kind='event'><member name='p' type='float'/>"
                    "<member name='q' type='float'/><member name='r' type='float'/></predicate></class>"
                    "<new type='Sum' name='s'/><close/>"
                    "<goal predicate='Sum.of' name='t' object='s' time='0' p='0.1 1' q='0.2 1' r='0 ") +
        most + "'/><constraint name='addEq' scope='t.p t.q t.r'/></vexl>";
    expectRun(0, {writeFile("decimal-cycle.xml", model)}, {"Result: SOLVED"});
    if (std::string(most) == "0.3")
      EXPECT_EQ("", onCycle) << "r at most " << most;
    else
      EXPECT_NE("", onCycle) << "r at most " << most;
    HOST::clearRegistrations();
  }
}
