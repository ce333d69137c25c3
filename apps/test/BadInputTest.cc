// korvan-run on bad input, with the resource module linked in: each case ends at once in a
// verdict or in one refusal that names the file, the line and the element.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <unistd.h>

#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectFactory.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenFactory.hh"
#include "Resource/test/ModuleTestSupport.hh"
#include "Utils/base/Debug.hh"
#include "apps/KorvanRun.hh"

namespace {

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

std::string tempPath(const std::string& name) {
  return "/tmp/korvan-badinput-" + std::to_string(getpid()) + "-" + name;
}

Outcome runArgs(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  int status = KORVAN::HOST::run(args, out, err);
  return Outcome{status, out.str(), err.str()};
}

// Runs the model (and the configuration, when there is one) from files named model.xml and
// solver.xml; messages are given back with the directory taken out.
Outcome runModel(const std::string& model, const std::string& config = std::string()) {
  const std::string modelPath = tempPath("model.xml"), configPath = tempPath("solver.xml");
  std::ofstream(modelPath.c_str()) << model;
  std::vector<std::string> args;
  if (!config.empty()) {
    std::ofstream(configPath.c_str()) << config;
    args = {"--solver", configPath};
  }
  args.push_back(modelPath);
  Outcome outcome = runArgs(args);
  std::remove(modelPath.c_str());
  std::remove(configPath.c_str());
  for (const std::string& path : {modelPath, configPath}) {
    std::string name = path.substr(tempPath("").size());
    for (size_t at; (at = outcome.err.find(path)) != std::string::npos;)
      outcome.err.replace(at, path.size(), name);
  }
  return outcome;
}

std::string refusal(const Outcome& outcome) {
  EXPECT_EQ(2, outcome.status) << outcome.out << outcome.err;
  return outcome.err;
}

// <new> of an object of the type, with the arguments given.
std::string object(const std::string& type, const std::vector<int>& arguments, const std::string& name = "a") {
  std::string text = "<new type=\"" + type + "\" name=\"" + name + "\">";
  for (int value : arguments)
    text += "<float value=\"" + std::to_string(value) + "\"/>";
  return text + "</new>";
}

const std::string UNARY = object("Unary", {}), UNARY_B = object("Unary", {}, "b");
const std::string REUSABLE = object("Reusable", {2, 0}), RESERVOIR = object("Reservoir", {5, 0, 10}),
                  RESOURCE = object("Resource", {5, 0, 10});

std::string unaryUse(const std::string& name, const std::string& on, const std::string& start = "0 10") {
  return "<goal predicate=\"Unary.use\" name=\"" + name + "\" object=\"" + on + "\" start=\"" + start +
         "\" duration=\"5\"/>";
}

std::string model(const std::vector<std::string>& lines) {
  std::string text = "<vexl>\n";
  for (const std::string& line : lines)
    text += "  " + line + "\n";
  return text + "</vexl>\n";
}

} // namespace

// Once endless: the refused token stayed half-registered and the purge never ended.
TEST(BadInput, TokenOnAResourceNotClosedYetIsRefused) {
  const std::string expected = "korvan-run: model.xml:4: <goal>: resource a is not closed yet: tokens on a "
                               "resource come after it is closed (<close/>)\n";
  struct Case {
    std::string object, token;
  };
  const Case cases[] = {
      {UNARY, unaryUse("t", "a")},
      {REUSABLE, "<goal predicate=\"Reusable.uses\" name=\"t\" object=\"a\" start=\"0 10\" duration=\"5\" quantity=\"1\"/>"},
      {RESERVOIR, "<goal predicate=\"Reservoir.consume\" name=\"t\" object=\"a\" time=\"0 10\" quantity=\"3\"/>"},
      {RESOURCE, "<goal predicate=\"Resource.change\" name=\"t\" object=\"a\" time=\"0 10\" quantity=\"-3\"/>"},
  };
  for (const Case& c : cases) {
    // With a second resource (the endless case) and with the resource alone (once ignored).
    std::string other = c.object;
    other.replace(other.find("name=\"a\""), 8, "name=\"b\"");
    EXPECT_EQ(expected, refusal(runModel(model({c.object, other, c.token, "<close/>"})))) << c.token;
    EXPECT_EQ(expected, refusal(runModel(model({c.object, object("Unary", {}, "u"), c.token, "<close/>"}))));
    std::string alone = refusal(runModel(model({c.object, c.token, "<close/>"})));
    EXPECT_EQ(0u, alone.find("korvan-run: model.xml:3: <goal>: resource a is not closed yet")) << alone;
  }
}

// Once endless: eq and neq over the object variables of resource tokens emptied a domain, and
// the token was handed over again on every notification.
TEST(BadInput, EqualityOverResourceTokensObjectsIsInconsistentAtOnce) {
  for (const char* name : {"eq", "neq"}) {
    bool eq = std::string(name) == "eq";
    Outcome outcome = runModel(model({UNARY, UNARY_B, "<close/>", unaryUse("u", "a"), unaryUse("v", eq ? "b" : "a"),
                                      std::string("<constraint name=\"") + name + "\" scope=\"u.object v.object\"/>"}));
    EXPECT_EQ(1, outcome.status) << name << outcome.err;
    EXPECT_NE(std::string::npos, outcome.out.find("Result: INCONSISTENT")) << outcome.out;
  }
  // Satisfiable: both on a, and ordered by the solver.
  Outcome fine = runModel(model({UNARY, UNARY_B, "<close/>", unaryUse("u", "a"), unaryUse("v", "a b"),
                                 "<constraint name=\"eq\" scope=\"u.object v.object\"/>"}));
  EXPECT_NE(2, fine.status) << fine.err;
}

// Once silently ignored: tokens made while the plan database stayed open never reached tank.
TEST(BadInput, TokensWhileThePlanDatabaseIsOpenAreRefused) {
  EXPECT_EQ("korvan-run: model.xml:4: <goal>: the plan database is still open: tokens on resources come "
            "after <close/>\n",
            refusal(runModel(model({RESOURCE, "<close object=\"a\"/>",
                                    "<goal predicate=\"Resource.change\" name=\"t\" object=\"a\" time=\"0 10\" "
                                    "quantity=\"-30\"/>"}))));
  // The model's own classes keep their tokens before <close/>.
  Outcome own = runModel(model({"<class name=\"Rover\"><predicate name=\"drive\"/></class>",
                                "<new type=\"Rover\" name=\"r\"/>",
                                "<goal predicate=\"Rover.drive\" name=\"d\" object=\"r\" start=\"0 10\" duration=\"5\"/>",
                                "<close/>"}));
  EXPECT_EQ(0, own.status) << own.err;
}

// Once a stack overflow in the parser.
TEST(BadInput, OverDeepDocumentsAreRefusedBeforeParsing) {
  std::string deep;
  for (int i = 0; i < 40000; i++)
    deep += "<n>";
  for (int i = 0; i < 40000; i++)
    deep += "</n>";
  EXPECT_EQ("korvan-run: model.xml:2: <n>: elements nested deeper than 256 levels\n",
            refusal(runModel("<vexl>\n" + deep + "\n</vexl>\n")));
  EXPECT_EQ("korvan-run: solver.xml:1: <n>: elements nested deeper than 256 levels\n",
            refusal(runModel(model({UNARY, "<close/>"}), "<Solver>" + deep + "</Solver>")));
  // Markup inside comments, CDATA and attribute values opens nothing.
  std::string quiet = "<!-- " + deep + " --><vexl a=\"" + deep.substr(0, 3000) + "\"><![CDATA[" + deep + "]]>" +
                      UNARY + "<close/></vexl>";
  EXPECT_EQ(0, runModel(quiet).status);
}

namespace {
// A stream buffer that takes nothing, as a full disk does.
struct FullBuffer : public std::streambuf {
  int overflow(int) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};
} // namespace

// Once an abort: the debug write left exceptions on for the stream that the error went to.
TEST(BadInput, DebugOutputThatCannotBeWrittenIsReportedOnce) {
  FullBuffer full;
  std::ostream stream(&full);
  KORVAN::DebugMessage::setStream(stream);
  Outcome outcome = runArgs({"--debug", "Solver", "--debug", "Token", KORVAN_SOURCE_DIR "/examples/workshop.xml"});
  KORVAN::DebugMessage::disableAll();
  KORVAN::DebugMessage::setStream(std::cerr);
  EXPECT_EQ(2, outcome.status);
  EXPECT_EQ(0u, outcome.err.find("korvan-run: cannot write the debug output: ")) << outcome.err;
  EXPECT_EQ(1, std::count(outcome.err.begin(), outcome.err.end(), '\n')) << outcome.err;
  // The stream is as it was: no exceptions switched on, no error state left.
  EXPECT_EQ(std::ios_base::goodbit, stream.exceptions());
  EXPECT_TRUE(stream.good());
}

// Limits that no plan can keep, refused when the object is closed, in words and then the check.
TEST(BadInput, LimitsThatCannotHoldAreRefusedOnClosing) {
  struct Case {
    std::string object, message;
  };
  const Case cases[] = {
      {object("Reservoir", {5, 10, 0}, "r"),
       "r: the lower level limit 10 is above the upper level limit 0 (failed check 'levelLimitMin <= levelLimitMax')"},
      {object("Reservoir", {30, 0, 20}, "r"), "r: the initial level 30 lies outside the level limits [0 20]"},
      {object("Reservoir", {5, 0, 10, -1, 4}, "r"),
       "r: the production rate limit -1 is negative: no token could respect it (failed check 'productionRateMax >= 0')"},
      {object("Reusable", {-2, 0}, "r"),
       "r: the capacity -2 is negative: no token could respect it (failed check 'capacity >= 0')"},
      {object("Reusable", {2, 3}, "r"), "r: the lower level limit 3 is above the upper level limit 2"},
      {object("Reusable", {2, 0, -1}, "r"), "r: the consumption rate limit -1 is negative"},
      {object("Unary", {-3}, "r"), "r: the consumption maximum -3 is negative"},
      {object("Resource", {5, 10, 0}, "r"),
       "r: the lower level limit 10 is above the upper level limit 0 (failed check 'm_limitMin <= m_limitMax')"},
      {object("Resource", {-1, 0, 10}, "r"),
       "r: the initial level -1 is below the lower level limit 0 (failed check 'm_initialCapacity >= m_limitMin')"},
  };
  for (const Case& c : cases) {
    std::string err = refusal(runModel(model({c.object, "<close/>"})));
    EXPECT_EQ(0u, err.find("korvan-run: model.xml:3: <close>: cannot close 'r': " + c.message)) << err;
  }
  EXPECT_EQ(0u, refusal(runModel(model({object("Unary", {-3}, "r"), "<close object=\"r\"/>"})))
                    .find("korvan-run: model.xml:3: <close>: r: the consumption maximum -3 is negative"));
}

// A failed <close/> closes nothing: the transaction after it sees every object still open.
TEST(BadInput, AFailedCloseChangesNothing) {
  const std::string bad = object("Unary", {-1}, "bad");
  std::string text = model({UNARY, bad, "<close/>"});
  EXPECT_EQ(0u, refusal(runModel(text)).find("korvan-run: model.xml:4: <close>: cannot close 'bad': "));
  // Had a closed first, its parameter could no longer be set; it is open and fine once bad goes.
  std::string open = model({UNARY, bad, "<set object=\"a\" member=\"profileType\" value=\"TimetableProfile\"/>",
                            "<close object=\"a\"/>", "<close/>"});
  EXPECT_EQ(0u, refusal(runModel(open)).find("korvan-run: model.xml:6: <close>: cannot close 'bad': "));
}

// Every refusal names the file, the line and the element, in words.
TEST(BadInput, RefusalsSayWhereAndWhatInWords) {
  EXPECT_EQ(0u, refusal(runArgs({"/tmp"})).find("korvan-run: /tmp: cannot open the model file: it is a directory"));
  EXPECT_EQ("korvan-run: /nonexistent/model.xml: cannot open the model file: No such file or directory\n",
            refusal(runArgs({"/nonexistent/model.xml"})));
  EXPECT_EQ("korvan-run: model.xml:1: malformed XML: Error document empty.\n", refusal(runModel("")));
  EXPECT_EQ("korvan-run: model.xml:4: <goal>: 'start' must allow a finite time, got 'inf'\n",
            refusal(runModel(model({UNARY, "<close/>", unaryUse("t", "a", "inf")}))));
  std::string cast = refusal(runModel(model(
      {RESERVOIR, "<close/>", "<goal predicate=\"Reservoir.consume\" name=\"t\" object=\"a\" time=\"0 10\" quantity=\"3\"/>",
       "<constraint name=\"ResourceTransactionRelation\" scope=\"t.quantity t.object t.time\"/>"})));
  EXPECT_EQ(0u, cast.find("korvan-run: model.xml:5: <constraint>: constraint 'ResourceTransactionRelation' cannot "
                          "be posted over 't.quantity t.object t.time': "))
      << cast;
  EXPECT_EQ(std::string::npos, cast.find("Invalid cast")) << cast;
  std::string profile = refusal(runModel(model({UNARY, "<set object=\"a\" member=\"profileType\" value=\"Bogus\"/>",
                                                "<close/>"})));
  EXPECT_NE(std::string::npos, profile.find("(failed check 'isValidProfile(profileNameVar)')")) << profile;
  EXPECT_EQ("korvan-run: solver.xml:2: <Planner>: the root element must be <Solver>\n",
            refusal(runModel(model({UNARY, "<close/>"}), "\n<Planner/>")));
}

TEST(BadInput, HelpPrintsTheUsage) {
  Outcome help = runArgs({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_EQ(KORVAN::HOST::usage(), help.out);
  EXPECT_EQ("", help.err);
}

// Through the C++ interface, where no interpreter checks first: a token that an open resource
// refuses can be deleted, and the plan database can then be purged (once endless).
TEST(BadInput, ATokenRefusedByAnOpenResourceCanBeDeletedAndPurged) {
  using namespace KORVAN;
  MODULETEST::ModuleWorld world;
  Schema* schema = world.schema;
  PlanDatabase* db = world.db;
  std::vector<const AbstractDomain*> none;
  ObjectId a = schema->getObjectFactory(LabelStr("Unary"))
                   ->createInstance(db->getId(), LabelStr("Unary"), LabelStr("a"), none);
  schema->getObjectFactory(LabelStr("Unary"))->createInstance(db->getId(), LabelStr("Unary"), LabelStr("b"), none);
  TokenId token = schema->getTokenFactory(LabelStr("Unary.use"))
                      ->createInstance(db->getId(), LabelStr("Unary.use"), false, false);
  const std::string message = failure([&]() { db->getClient()->specify(token->getObject(), (double)a); }).getMsg();
  EXPECT_NE(std::string::npos, message.find("is not initialised")) << message;
  EXPECT_FALSE(a->hasToken(token));
  db->getClient()->deleteToken(token);
  EXPECT_TRUE(db->getTokens().empty());
  db->purge();
  EXPECT_TRUE(db->getObjects().empty());
}

// What emptied, by the model's names: the resource, the instant, the limit and the tokens; the
// record is the resource's own, not a guess from the envelope.
TEST(BadInput, InconsistentAndNoSolutionSayWhy) {
  auto uses = [](const std::string& name, const std::string& start) {
    return "<goal predicate=\"Reusable.uses\" name=\"" + name + "\" object=\"crew\" start=\"" + start +
           "\" duration=\"5\" quantity=\"2\"/>";
  };
  const std::string crew = object("Reusable", {2, 0}, "crew");
  Outcome overlap = runModel(model({crew, "<close/>", uses("repair", "0"), uses("inspect", "0")}));
  EXPECT_EQ(1, overlap.status);
  EXPECT_NE(std::string::npos,
            overlap.out.find("\nWhy: crew: at 0 the level is at most -2 in every schedule, below its lower limit 0 "
                             "(tokens there: repair, inspect)\nResult: INCONSISTENT\n"))
      << overlap.out;
  // A reservoir drained below its floor, and its consumption maximum.
  const std::string tank = object("Reservoir", {5, 0, 10, 10, 4}, "tank");
  auto consume = [](const std::string& name, const std::string& quantity) {
    return "<goal predicate=\"Reservoir.consume\" name=\"" + name + "\" object=\"tank\" time=\"3\" quantity=\"" +
           quantity + "\"/>";
  };
  Outcome drained = runModel(model({tank, "<close/>", consume("d", "3"), consume("e", "3")}));
  EXPECT_NE(std::string::npos,
            drained.out.find("\nWhy: tank: by 3 at least 6 is consumed in total in every schedule, more than its "
                             "consumption maximum 4 (tokens there: d, e)\n"))
      << drained.out;
  // The instant-based resource: its own violation, in words with its limit.
  Outcome fuel = runModel(model({object("Resource", {10, 0, 20, 5, -5}, "fuel"), "<close/>",
                                 "<goal predicate=\"Resource.change\" name=\"f1\" object=\"fuel\" time=\"0\" quantity=\"-4\"/>",
                                 "<goal predicate=\"Resource.change\" name=\"f2\" object=\"fuel\" time=\"0\" quantity=\"-4\"/>"}));
  EXPECT_NE(std::string::npos, fuel.out.find("\nWhy: fuel: over the whole horizon, more is consumed in total than its "
                                             "consumption maximum 5\nResult: INCONSISTENT\n"))
      << fuel.out;
  // NO SOLUTION: every dead end, counted by reason.
  Outcome three = runArgs({KORVAN_SOURCE_DIR "/apps/test/models/three-uses.xml"});
  EXPECT_EQ(1, three.status);
  for (const char* line : {"\nWhy: every choice failed (3 dead ends):\n",
                           "\n  1 x u: at 15 the level is at most -1 in every schedule, below its lower limit 0 "
                           "(tokens there: a, b)\n",
                           "\n  1 x u: at 15 the level is at most -1 in every schedule, below its lower limit 0 "
                           "(tokens there: b, c)\n"})
    EXPECT_NE(std::string::npos, three.out.find(line)) << line << three.out;
  // A resource never closed has no limits to print (once "limits [nan nan]").
  Outcome open = runModel(model({crew}));
  EXPECT_NE(std::string::npos,
            open.out.find("  crew (Reusable)\n    never closed: no limits and no levels (a resource takes its "
                          "limits when it is closed)\n"))
      << open.out;
  EXPECT_EQ(std::string::npos, open.out.find("nan")) << open.out;
}

// Input that the XML parser or the engine would misread is refused where the mistake is, in
// the model's terms.
TEST(BadInput, MisreadInputIsRefusedWhereTheMistakeIs) {
  struct Case {
    std::string model, expected;
  };
  const std::string utf16("\xff\xfe<\0v\0e\0x\0l\0/\0>\0", 16);
  const Case cases[] = {
      {utf16, "model.xml:1: the file is UTF-16 text: save it as UTF-8"},
      {std::string("<vexl>\n\x7f" "ELF\0\0\0", 12), "model.xml:2: not a text file: it holds a NUL byte"},
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE vexl [\n<!ELEMENT vexl ANY>\n]>\n" + model({UNARY, "<close/>"}),
       "model.xml:2: <!DOCTYPE>: internal declarations ([...]) are not read: remove them"},
      {model({UNARY, "<close/>", "<goal predicate=\"Unary.use\" name=\"t\" object=\"a\" start=\"0 10\" duration=\"2.5\"/>"}),
       "model.xml:4: <goal>: 'duration' takes whole numbers (times and durations are whole numbers), got 2.5"},
      {model({UNARY, "<close/>", unaryUse("t", "a", "0.5 10")}),
       "model.xml:4: <goal>: 'start' takes whole numbers (times and durations are whole numbers), got 0.5"},
      {model({UNARY, "<close/>", unaryUse("t", "a"), "<specify variable=\"t.start\" value=\"4.5\"/>"}),
       "model.xml:5: <specify>: 't.start' takes whole numbers (times and durations are whole numbers), got 4.5"},
      {model({UNARY, "<set object=\"a\" member=\"profileType\" value=\"FlowProfile\"/>",
              "<set object=\"a\" member=\"profileType\" value=\"TimetableProfile\"/>", "<close/>"}),
       "model.xml:4: <set>: member 'profileType' is already set to 'FlowProfile': a member is set once"},
      {model({UNARY, "<set object=\"a\" member=\"profileType\" value=\"FlowProfil\"/>", "<close/>"}),
       "model.xml:3: <set>: unknown profile 'FlowProfil' in a.profileType (TimetableProfile, FlowProfile or "
       "IncrementalFlowProfile) (failed check 'isValidProfile(profileNameVar)')"},
      {model({RESERVOIR, "<close/>",
              "<goal predicate=\"Reservoir.consume\" name=\"t\" object=\"a\" time=\"0 10\" quantity=\"3\"/>",
              "<constraint name=\"ResourceTransactionRelation\" scope=\"t.object t.time t.quantity\"/>"}),
       "model.xml:5: <constraint>: constraint 'ResourceTransactionRelation' cannot be posted over 't.object t.time "
       "t.quantity': the object variable may hold 'a' of type 'Reservoir': only an instant-based resource "
       "('Resource') takes this constraint"},
  };
  for (const Case& c : cases)
    EXPECT_EQ("korvan-run: " + c.expected + "\n", refusal(runModel(c.model)));
  EXPECT_EQ("korvan-run: solver.xml:1: the file is UTF-16 text: save it as UTF-8\n",
            refusal(runModel(model({UNARY, "<close/>"}), utf16)));
  // A window of one value already holds it: specifying it is no error, another value is.
  Outcome same = runModel(model({UNARY, "<close/>", unaryUse("t", "a", "3"), "<specify variable=\"t.start\" value=\"3\"/>"}));
  EXPECT_EQ(0, same.status) << same.err;
  EXPECT_EQ(0u, refusal(runModel(model({UNARY, "<close/>", unaryUse("t", "a", "3"),
                                        "<specify variable=\"t.start\" value=\"4\"/>"})))
                    .find("korvan-run: model.xml:5: <specify>: '4' is not in the domain int:[3, 3] of 't.start'"));
}
