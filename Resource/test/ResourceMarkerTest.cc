// The debug markers of the resources, their detectors, the solver's resource components and the
// modelling-language binding, each on a shipped model that reaches its site: enabled, a marker
// writes lines that start with "[" marker "]", and no marker changes what the program prints.

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "Utils/base/Debug.hh"
#include "apps/KorvanRun.hh"

using namespace KORVAN;

namespace {

const std::string SOURCE = KORVAN_SOURCE_DIR;

// The shipped workshop (one resource of each kind, solved by ordering flawed instants), and three
// uses of a unary that no plan fits, searched with the contributing filters (every ordering fails
// and is taken back).
const std::vector<std::string> WORKSHOP = {"--solver", SOURCE + "/examples/solver.xml", SOURCE + "/examples/workshop.xml"};
const std::vector<std::string> NO_PLAN = {"--solver", SOURCE + "/examples/solver-fast.xml",
                                          SOURCE + "/apps/test/models/three-uses.xml"};
const std::vector<std::string> TOKENS = {"--solver", SOURCE + "/examples/solver-tokens.xml",
                                         SOURCE + "/apps/test/models/three-fit.xml"};

struct Row {
  const char* marker;
  const std::vector<std::string>* run;
};

const Row ROWS[] = {
    {"Resource:init", &WORKSHOP},
    {"Resource:notifyFlawed", &WORKSHOP},
    {"Resource:notifyNoLongerFlawed", &WORKSHOP},
    {"Resource:notifyDeleted", &WORKSHOP},
    {"Resource:notifyViolated", &NO_PLAN},
    {"Resource:getFlawedInstants", &WORKSHOP},
    {"Resource:getOrderingChoices", &WORKSHOP},
    {"ResourceTokenRelation:canIgnore", &WORKSHOP},
    {"Reservoir:addToProfile", &WORKSHOP},
    {"Reusable:addToProfile", &WORKSHOP},
    {"TimetableFVDetector:TimetableFVDetector", &WORKSHOP},
    {"TimetableFVDetector:detect", &WORKSHOP},
    {"ReusableFVDetector:detect", &WORKSHOP},
    {"ThreatManager:betterThan", &WORKSHOP},
    {"ThreatIterator:ThreatIterator", &WORKSHOP},
    {"ThreatDecisionPoint:handleInitialize", &WORKSHOP},
    {"ThreatDecisionPoint:filter", &WORKSHOP},
    {"ThreatDecisionPoint:filter:successor", &NO_PLAN},
    {"ThreatDecisionPoint:filter:predecessorNot", &NO_PLAN},
    {"ThreatDecisionPoint:sort", &WORKSHOP},
    {"ThreatDecisionPoint:sort:latest", &WORKSHOP},
    {"SolverDecisionPoint:handleExecute", &WORKSHOP},
    {"SolverDecisionPoint:handleExecute", &TOKENS},
    {"SolverDecisionPoint:handleUndo", &NO_PLAN},
    {"MatchingEngine:getMatchesInternal", &WORKSHOP},
    {"Resource:markDirty", &WORKSHOP},
    {"Resource:add", &WORKSHOP},
    {"Resource:updateTransactionProfile", &WORKSHOP},
    {"Resource:getLevelAt", &WORKSHOP},
    {"Resource:getResourceViolations", &WORKSHOP},
    {"ResourceConstraint:handleExecute", &WORKSHOP},
    {"Instant:updateBounds", &WORKSHOP},
    {"VexlReusable", &WORKSHOP},
    {"VexlUnary", &WORKSHOP},
    {"XMLInterpreter:NativeObjectFactory", &WORKSHOP},
};

struct Outcome {
  int status;
  std::string out;
  std::string debug;
};

Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& markers) {
  std::ostringstream debug, out, err;
  DebugMessage::setStream(debug);
  for (const std::string& marker : markers)
    DebugMessage::enable(marker);
  Outcome o;
  o.status = HOST::run(args, out, err);
  for (const std::string& marker : markers)
    DebugMessage::disable(marker);
  DebugMessage::setStream(std::cerr);
  // Keys grow from run to run in one process, and times differ: neither is a result.
  static const std::regex keys("\\(\\d+\\)"), times("time=[^ ]*s ");
  o.out = std::regex_replace(std::regex_replace(out.str() + err.str(), keys, "(key)"), times, "time=? ");
  o.debug = debug.str();
  return o;
}

// Whether some line of the text starts with "[" marker "]".
bool writes(const std::string& text, const std::string& marker) {
  const std::string head = "[" + marker + "]";
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, head.size(), head) == 0)
      return true;
  return false;
}

}

TEST(ResourceMarkers, eachWritesUnderItsOwnMarkerAndChangesNothing) {
  for (const std::vector<std::string>* args : {&WORKSHOP, &NO_PLAN, &TOKENS}) {
    const Outcome quiet = run(*args, {});
    EXPECT_TRUE(quiet.debug.empty()) << quiet.debug.substr(0, 200);
    std::vector<std::string> all;
    for (const Row& row : ROWS) {
      if (row.run != args)
        continue;
      all.push_back(row.marker);
      const Outcome loud = run(*args, {row.marker});
      EXPECT_TRUE(writes(loud.debug, row.marker)) << row.marker << " on " << args->back();
      EXPECT_EQ(quiet.status, loud.status) << row.marker;
      EXPECT_EQ(quiet.out, loud.out) << row.marker;
    }
    // Every one of them at once.
    const Outcome loud = run(*args, all);
    EXPECT_EQ(quiet.status, loud.status);
    EXPECT_EQ(quiet.out, loud.out);
  }
}
