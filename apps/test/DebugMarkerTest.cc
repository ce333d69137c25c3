// Debug markers of the resource module and of the framework pieces it builds on, one row each,
// with a run that reaches the marker's sites: the shipped examples and the host's test models,
// read in process with the module linked in. Enabling a marker must write lines that carry
// exactly that marker; a class whose operation has both a "Class:op" and a "Class::op" marker
// never writes one line under both; and the results of a run are the same with every marker of
// the table on as with all of them off.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Utils/base/Debug.hh"
#include "apps/DebugLines.hh"
#include "apps/KorvanRun.hh"

using namespace KORVAN;

namespace {

// Small models for the sites the shipped ones do not reach: a token that may go on either of
// two resources and fits on neither, so that the search files it on each and takes it back
// (flow and timetable unaries, reservoirs); two uses that must start together; a choice order
// that ranks orderings by their impact.
const char* const EITHER_UNARY =
  "<vexl><new type='Unary' name='r1'/><new type='Unary' name='r2'/><close/>"
  "<goal predicate='Unary.use' name='a' object='r1' start='0 1' duration='4'/>"
  "<goal predicate='Unary.use' name='c' object='r2' start='0 1' duration='4'/>"
  "<goal predicate='Unary.use' name='b' object='r1 r2' start='0 1' duration='4'/></vexl>";
const char* const EITHER_TIMETABLE =
  "<vexl><new type='Unary' name='r1'/><set object='r1' member='profileType' value='TimetableProfile'/>"
  "<new type='Unary' name='r2'/><set object='r2' member='profileType' value='TimetableProfile'/><close/>"
  "<goal predicate='Unary.use' name='a' object='r1' start='0 1' duration='4'/>"
  "<goal predicate='Unary.use' name='c' object='r2' start='0 1' duration='4'/>"
  "<goal predicate='Unary.use' name='b' object='r1 r2' start='0 1' duration='4'/></vexl>";
const char* const EITHER_RESERVOIR =
  "<vexl><new type='Reservoir' name='t1'> <float value='0'/> <float value='0'/> <float value='10'/> </new>"
  "<new type='Reservoir' name='t2'> <float value='0'/> <float value='0'/> <float value='10'/> </new><close/>"
  "<goal predicate='Reservoir.produce' name='p' object='t1' time='5' quantity='4'/>"
  "<goal predicate='Reservoir.consume' name='c' object='t1' time='5' quantity='3'/>"
  "<goal predicate='Reservoir.consume' name='d' object='t1 t2' time='0 10' quantity='6'/></vexl>";
const char* const TOGETHER =
  "<vexl><new type='Reusable' name='crew'> <float value='3'/> <float value='0'/> </new>"
  "<set object='crew' member='profileType' value='FlowProfile'/><close/>"
  "<goal predicate='Reusable.uses' name='x' object='crew' start='0 10' duration='5' quantity='1'/>"
  "<goal predicate='Reusable.uses' name='y' object='crew' start='0 10' duration='5' quantity='2'/>"
  "<constraint name='concurrent' scope='x.start y.start'/></vexl>";
const char* const LEAST_IMPACT =
  "<Solver name='least' maxSteps='200'><FlawManager component='MIRTThreatManager' order='earliest'>"
  "<FlawHandler component='MIRTThreatHandler' order='leastImpact,earliestPredecessor'/></FlawManager></Solver>";

// A file the test writes, its text given; or, without text, a path in the source tree.
std::string file(const std::string& name, const char* text = nullptr) {
  if (text == nullptr)
    return std::string(KORVAN_SOURCE_DIR) + "/" + name;
  const std::string path = ::testing::TempDir() + "korvan-markers-" + std::to_string(getpid()) + "-" + name;
  std::ofstream out(path.c_str());
  out << text;
  return path;
}

// A run of the host, by its arguments.
struct HostRun {
  const char* name;
  std::vector<std::string> args;
};

const std::vector<HostRun>& runs() {
  static const std::vector<HostRun> sl_runs = {
    {"battery", {"--solver", file("examples/solver.xml"), file("examples/battery.xml")}},
    {"workshop", {"--solver", file("examples/solver.xml"), file("examples/workshop.xml")}},
    {"fits-after", {file("apps/test/models/fits-after.xml")}},
    // A search that has to undo orderings; the step limit keeps it short.
    {"three-uses", {"--max-steps", "4", file("apps/test/models/three-uses.xml")}},
    {"three-uses-least-impact",
     {"--max-steps", "4", "--solver", file("least-impact.xml", LEAST_IMPACT), file("apps/test/models/three-uses.xml")}},
    {"three-fit-fast", {"--solver", file("examples/solver-fast.xml"), file("apps/test/models/three-fit.xml")}},
    {"timetable-two", {file("apps/test/models/timetable-two.xml")}},
    {"either-unary", {file("either-unary.xml", EITHER_UNARY)}},
    {"either-timetable", {file("either-timetable.xml", EITHER_TIMETABLE)}},
    {"either-reservoir", {file("either-reservoir.xml", EITHER_RESERVOIR)}},
    {"together", {file("together.xml", TOGETHER)}},
  };
  return sl_runs;
}

struct Row {
  const char* marker;
  const char* run;
};

const std::vector<Row>& table() {
  static const std::vector<Row> sl_table = {
    // Instants and the profile core.
    {"Instant:addTransaction", "battery"},
    {"Instant:updateTransaction", "battery"},
    {"Instant:updateBounds", "workshop"},
    {"Profile:addInstant", "battery"},
    {"Profile:addTransaction", "battery"},
    {"Profile:removeTransaction", "either-unary"},
    {"Profile:handleTimeChanged", "battery"},
    {"Profile:handleTransactionRemoved", "either-timetable"},
    {"Profile:transactionQuantityChanged", "either-timetable"},
    {"Profile:getGreatestInstant", "battery"},
    {"Profile:getLeastInstant", "battery"},
    {"Profile:handleRecompute", "battery"},
    {"Profile:recompute", "battery"},
    {"Profile:recompute:prePrint", "battery"},
    {"Profile:recompute:postPrint", "battery"},
    {"Profile:VariableListener", "battery"},
    {"Profile:ConstraintAdditionListener", "battery"},
    {"Profile:~Profile", "battery"},
    {"ProfileIterator:ProfileIterator", "battery"},
    {"ProfileIterator:done", "battery"},
    {"ProfileIterator:isStale", "battery"},
    {"ProfileIterator:next", "battery"},
    {"ProfilePropagator:execute", "battery"},
    // Profile kinds.
    {"TimetableProfile:recompute", "timetable-two"},
    {"TimetableProfile:recomputeLevels", "timetable-two"},
    {"FlowProfile:enableTransaction", "battery"},
    {"FlowProfile:handleOrderedAt", "together"},
    {"FlowProfile:handleOrderedAtOrBefore", "battery"},
    {"FlowProfile:handleTemporalConstraintAdded", "battery"},
    {"FlowProfile:handleTemporalConstraintRemoved", "three-uses"},
    {"FlowProfile:handleTransactionAdded", "battery"},
    {"FlowProfile:handleTransactionRemoved", "either-unary"},
    {"FlowProfile:handleTransactionTimeChanged", "battery"},
    {"FlowProfile:handleTransactionQuantityChanged", "three-uses"},
    {"FlowProfile:initRecompute", "battery"},
    {"FlowProfile:recomputeLevels", "battery"},
    {"FlowProfile::recomputeLevels", "battery"},
    {"FlowProfileGraph:enableAt", "fits-after"},
    {"FlowProfileGraph:enableAtOrBefore", "battery"},
    {"FlowProfileGraph:enableTransaction", "battery"},
    {"FlowProfileGraph:disable", "battery"},
    {"FlowProfileGraph:removeTransaction", "battery"},
    {"FlowProfileGraph:pushFlow", "battery"},
    {"FlowProfileGraph:disableReachableResidualGraph", "battery"},
    {"FlowProfileGraph::visitNeighbors", "battery"},
    {"IncrementalFlowProfile:IncrementalFlowProfile", "battery"},
    {"IncrementalFlowProfile:enableOrderings", "battery"},
    {"IncrementalFlowProfile:recomputeLevels", "battery"},
    {"IncrementalFlowProfile::recomputeLevels", "battery"},
    {"IncrementalFlowProfile::initRecompute", "battery"},
    {"IncrementalFlowProfile::calculatedLevels", "battery"},
    // Detectors.
    {"TimetableFVDetector:TimetableFVDetector", "battery"},
    {"TimetableFVDetector:detect", "battery"},
    {"ReusableFVDetector:detect", "battery"},
    // Resources and their tokens.
    {"Resource:init", "battery"},
    {"Resource:getFlawedInstants", "battery"},
    {"Resource:getOrderingChoices", "battery"},
    {"Resource:notifyFlawed", "battery"},
    {"Resource:notifyNoLongerFlawed", "battery"},
    {"Resource:notifyViolated", "three-uses"},
    {"Resource:notifyDeleted", "workshop"},
    {"Resource:remove", "workshop"},
    {"Reservoir:addToProfile", "battery"},
    {"Reservoir:removeFromProfile", "either-reservoir"},
    {"Reusable:addToProfile", "battery"},
    {"Reusable:removeFromProfile", "either-unary"},
    {"ResourceTokenRelation:canIgnore", "battery"},
    // The instant-based resources.
    {"Resource:add", "workshop"},
    {"Resource:getLevelAt", "workshop"},
    {"Resource:getResourceViolations", "workshop"},
    {"Resource:markDirty", "workshop"},
    {"Resource:updateTransactionProfile", "workshop"},
    {"ResourceConstraint:handleExecute", "workshop"},
    // Solver integration.
    {"SolverDecisionPoint:handleExecute", "battery"},
    {"SolverDecisionPoint:handleUndo", "three-uses"},
    {"ThreatDecisionPoint:handleInitialize", "battery"},
    {"ThreatDecisionPoint:filter", "battery"},
    {"ThreatDecisionPoint:filter:successor", "three-fit-fast"},
    {"ThreatDecisionPoint:filter:predecessorNot", "three-fit-fast"},
    {"ThreatDecisionPoint:filter:leastImpact", "three-uses-least-impact"},
    {"ThreatDecisionPoint:sort", "battery"},
    {"ThreatDecisionPoint:sort:latest", "battery"},
    {"ThreatIterator:ThreatIterator", "battery"},
    {"ThreatManager:betterThan", "battery"},
    {"MatchingEngine:getMatchesInternal", "battery"},
    // Model binding and the framework pieces.
    {"VexlReusable", "battery"},
    {"VexlUnary", "battery"},
    {"XMLInterpreter:NativeObjectFactory", "battery"},
    {"Variable:Variable", "battery"},
    {"PlanDatabase:getObjectsByType", "workshop"},
  };
  return sl_table;
}

struct Outcome {
  int status;
  std::string out;
  std::string debug;
};

// Runs the host with exactly these markers enabled, the debug stream captured.
Outcome runWith(const HostRun& run, const std::vector<std::string>& markers) {
  const std::vector<std::string>& args = run.args;
  std::ostringstream out, err, debug;
  DebugMessage::disableAll();
  DebugMessage::setStream(debug);
  for (const std::string& marker : markers)
    DebugMessage::enable(marker);
  Outcome o;
  o.status = HOST::run(args, out, err);
  DebugMessage::disableAll();
  DebugMessage::setStream(std::cerr);
  o.out = out.str() + err.str();
  o.debug = debug.str();
  return o;
}

// The marker of each line that carries one, with the text after it.
std::vector<std::pair<std::string, std::string>> markedLines(const std::string& debug) {
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(debug);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] != '[')
      continue;
    const std::string::size_type close = line.find(']');
    if (close != std::string::npos)
      lines.emplace_back(line.substr(1, close - 1), line.substr(close + 1));
  }
  return lines;
}

std::vector<std::string> allMarkers() {
  std::vector<std::string> markers;
  for (const Row& row : table())
    markers.push_back(row.marker);
  return markers;
}

const HostRun& runNamed(const std::string& name) {
  for (const HostRun& run : runs())
    if (name == run.name)
      return run;
  ADD_FAILURE() << "no run " << name;
  return runs().front();
}


// One run per row: the marker alone enabled writes lines under that very marker, and only
// lines under it or under markers it is a prefix of ("Profile:recompute" enables
// "Profile:recompute:prePrint").
TEST(DebugMarkers, EachMarkerWritesUnderItsOwnName) {
  for (const Row& row : table()) {
    const Outcome o = runWith(runNamed(row.run), {row.marker});
    const std::string marker = row.marker;
    size_t own = 0;
    for (const auto& line : markedLines(o.debug)) {
      EXPECT_EQ(0u, line.first.find(marker)) << marker << " enabled, a line under [" << line.first << "]";
      own += line.first == marker;
    }
    EXPECT_GT(own, 0u) << "no line under [" << marker << "] in run " << row.run;
  }
}

// Objects in a domain, and so the values a search tries and the dead ends it lists, come in the
// order of their addresses, which moves with the heap from run to run (the length of an earlier
// run's time text is enough): a token's objects and the dead ends under "Why:" are compared as
// sets.
std::string inAddressFreeOrder(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  for (std::string& line : lines) {
    const std::string::size_type on = line.find(" on "), start = line.find(" start ");
    if (on == std::string::npos || start == std::string::npos || start < on)
      continue;
    std::istringstream names(line.substr(on + 4, start - on - 4));
    std::vector<std::string> sorted;
    for (std::string name; names >> name;)
      sorted.push_back(name);
    std::sort(sorted.begin(), sorted.end());
    std::string joined;
    for (const std::string& name : sorted)
      joined += (joined.empty() ? "" : " ") + name;
    line = line.substr(0, on + 4) + joined + line.substr(start);
  }
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].compare(0, 4, "Why:") == 0) {
      std::size_t end = i + 1;
      while (end < lines.size() && lines[end].compare(0, 2, "  ") == 0)
        ++end;
      std::sort(lines.begin() + (long) i + 1, lines.begin() + (long) end);
    }
  std::string result;
  for (const std::string& line : lines)
    result += line + "\n";
  return result;
}

// Token keys and the solver's time differ from run to run whatever the debug output.
std::string normalised(const std::string& text) {
  std::string result;
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (text[i] == '(' && i + 1 < text.size() && std::isdigit((unsigned char) text[i + 1])) {
      std::string::size_type j = i + 1;
      while (j < text.size() && std::isdigit((unsigned char) text[j]))
        ++j;
      if (j < text.size() && text[j] == ')') {
        result += "(#)";
        i = j;
        continue;
      }
    }
    if (text.compare(i, 5, "time=") == 0) {
      result += "time=#";
      i = text.find(' ', i) - 1;
      continue;
    }
    result += text[i];
  }
  return inAddressFreeOrder(result);
}

}

TEST(DebugMarkers, ResultsDoNotDependOnDebugOutput) {
  const std::vector<std::string> markers = allMarkers();
  for (const HostRun& run : runs()) {
    const Outcome quiet = runWith(run, {});
    const Outcome loud = runWith(run, markers);
    EXPECT_TRUE(quiet.debug.empty()) << run.name;
    EXPECT_FALSE(loud.debug.empty()) << run.name;
    EXPECT_EQ(quiet.status, loud.status) << run.name;
    EXPECT_EQ(normalised(quiet.out), normalised(loud.out)) << run.name;
  }
}

// "Class::op" and "Class:op" are different markers of different sites: with both enabled, no
// line is written under both.
TEST(DebugMarkers, OneAndTwoColonFormsNeverShareALine) {
  std::set<std::string> inTable;
  for (const Row& row : table())
    inTable.insert(row.marker);
  size_t pairs = 0;
  for (const Row& row : table()) {
    const std::string two = row.marker;
    const std::string::size_type at = two.find("::");
    if (at == std::string::npos)
      continue;
    const std::string one = two.substr(0, at) + two.substr(at + 1);
    if (!inTable.count(one))
      continue;
    ++pairs;
    const Outcome o = runWith(runNamed(row.run), {one, two});
    std::multiset<std::string> underOne, underTwo;
    for (const auto& line : markedLines(o.debug)) {
      if (line.first == one)
        underOne.insert(line.second);
      else if (line.first == two)
        underTwo.insert(line.second);
    }
    for (const std::string& text : underTwo)
      EXPECT_EQ(0u, underOne.count(text)) << "[" << one << "] and [" << two << "] both write " << text;
  }
  EXPECT_GT(pairs, 0u);
}

namespace {

// The kind of each line, in order: a debug line by its marker, a result or error line by its
// words (numbers, keys and addresses differ from process to process). Indented lines go: the
// lines of a token or an object, and those of a debug message that lists a set by address.
std::vector<std::string> lineKinds(const std::string& text) {
  std::vector<std::string> kinds;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string::size_type close = line.find(']');
    if (!line.empty() && line[0] == '[' && close != std::string::npos)
      kinds.push_back(line.substr(0, close + 1));
    else if (!line.empty() && !std::isspace(static_cast<unsigned char>(line[0]))) {
      std::string words;
      for (char c : line)
        if (!std::isdigit(static_cast<unsigned char>(c)))
          words += c;
        else if (words.empty() || words.back() != '#')
          words += '#';
      kinds.push_back(words.substr(0, 24));
    }
  }
  return kinds;
}

} // namespace

// The program holds its debug lines and writes them in large pieces; on one stream with the
// results and errors they still come where they were made, as in a run in process that writes
// all three to one stream: lines before the model line and between the results, a warning among
// them, and an error that ends a run after lines were written.
TEST(DebugMarkers, HeldLinesKeepTheirPlaceAmongResultsAndErrors) {
  const std::string late = file("late-error.xml", "<vexl>\n<new type='Unary' name='r'/>\n<close/>\n"
                                                  "<goal predicate='Unary.use' name='a' object='r' start='0 5' duration='2'/>\n"
                                                  "<goal predicate='Unary.use' name='b' object='r' start='0 5' duration='x'/>\n</vexl>\n");
  const std::string warned = file("warned.xml", "<Solver><FlawManager component='MIRTThreatManager'>"
                                                "<FlawHandler component='MIRTThreatHandler' predicate='Unknown.use'/>"
                                                "</FlawManager></Solver>");
  const std::vector<std::vector<std::string>> cases = {
      {"--debug", "Profile:", "--debug", "Solver", "--solver", file("examples/solver.xml"), file("examples/workshop.xml")},
      {"--debug", "Solver", "--debug", "Profile:recompute", file("apps/test/models/three-uses.xml")},
      {"--debug", "Solver", "--debug", "Profile:", "--solver", warned, file("apps/test/models/fits-after.xml")},
      {"--debug", "*", late}};
  for (const std::vector<std::string>& args : cases) {
    std::string command = KORVAN_RUN;
    for (const std::string& arg : args)
      command += " '" + arg + "'";
    FILE* child = popen((command + " 2>&1").c_str(), "r");
    ASSERT_NE(nullptr, child);
    std::string program;
    char piece[65536];
    for (size_t n; (n = fread(piece, 1, sizeof piece, child)) > 0;)
      program.append(piece, n);
    pclose(child);

    std::ostringstream shared;
    DebugMessage::setStream(shared);
#if !defined(__SANITIZE_ADDRESS__)
    // As the program does: its plan goes with the process, with no lines after its result.
    HOST::leaveHostToExit(true);
#endif
    HOST::run(args, shared, shared);
    HOST::leaveHostToExit(false);
    DebugMessage::disableAll();
    DebugMessage::setStream(std::cerr);
    const std::vector<std::string> kinds = lineKinds(shared.str());
    EXPECT_GT(kinds.size(), 10u) << command;
    EXPECT_EQ(kinds, lineKinds(program)) << command << "\n" << program.substr(0, 3000);
  }
}

namespace {

struct Interrupted {
  int signal = 0; // what ended the run, 0 if it exited
  double sentAfter = 0; // seconds from its start to the signal
  std::string lines;
};

// korvan-run on a model that creeps for a minute and more, making a line now and then, sent
// `signal` `delay` seconds after its model line; one that outlives it ends at 60 s of CPU.
Interrupted interrupt(int signal, double delay) {
  Interrupted ending;
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0)
    return ending;
  const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    const struct rlimit noCore = {0, 0}, cpu = {60, 61};
    const std::string model = file("apps/test/models/distance-creep-moving.xml");
    if (setrlimit(RLIMIT_CORE, &noCore) == 0 && setrlimit(RLIMIT_CPU, &cpu) == 0 && dup2(out[1], 1) == 1 &&
        dup2(err[1], 2) == 2)
      execl(KORVAN_RUN, KORVAN_RUN, "--debug", "ConstraintEngine:propagate", model.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]), close(err[1]);
  for (char c = 0; c != '\n' && read(out[0], &c, 1) == 1;)
    ;
  close(out[0]);
  usleep(static_cast<useconds_t>(delay * 1e6));
  kill(child, signal);
  ending.sentAfter = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char piece[4096];
  for (ssize_t n; (n = read(err[0], piece, sizeof piece)) > 0;)
    ending.lines.append(piece, static_cast<size_t>(n));
  close(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ending.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return ending;
}

// Whole lines, each once: the passes are numbered from 1 without a gap.
void expectWholeLinesEachOnce(const std::string& lines, const std::string& what) {
  EXPECT_TRUE(!lines.empty() && lines.back() == '\n') << what << ": " << lines;
  std::istringstream in(lines);
  int passes = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("]Pass ") == std::string::npos)
      continue;
    EXPECT_EQ(0u, line.find("[ConstraintEngine:propagate]Pass " + std::to_string(++passes) + " ")) << what << line;
  }
}

} // namespace

// Interrupted runs are where lines are wanted: a run that a signal ends writes what it holds and
// ends as the signal does, and a run that goes on without writing writes its lines within a
// second or two, so that even one killed outright leaves them. A signal sent before that second
// has passed finds every line still held.
TEST(DebugMarkers, HeldLinesOutliveAnInterruptedRun) {
  for (int signal : {SIGINT, SIGTERM, SIGXCPU, SIGHUP}) {
    Interrupted ending;
    // On a loaded machine the model line may come late: the signal must beat the first second.
    for (int attempt = 0; attempt < 4 && (attempt == 0 || ending.sentAfter >= 0.9); attempt++)
      ending = interrupt(signal, 0.1);
    EXPECT_EQ(signal, ending.signal) << strsignal(signal);
    expectWholeLinesEachOnce(ending.lines, strsignal(signal));
  }
  const Interrupted killed = interrupt(SIGKILL, 2.5);
  EXPECT_EQ(SIGKILL, killed.signal);
  expectWholeLinesEachOnce(killed.lines, "killed");
}

// The timer's writes and the drains before results, when the held lines fill and at the end share
// the lines: each goes out once and in its place, and a tick writes whole lines only.
TEST(DebugMarkers, HeldLinesGoOutOnceWhateverWritesThem) {
  const std::string path = file("held-lines.txt", "");
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  std::string expected;
  {
    std::ofstream sink(path.c_str(), std::ios::app);
    std::ostringstream results;
    HOST::DebugLines lines(sink, results, sink);
    lines.writeOnSignals(fd);
    for (int i = 0; i < 20000; i++) {
      const std::string line = "[Marker]line " + std::to_string(i) + "\n";
      DebugMessage::getStream() << line.substr(0, 9);
      if (i % 7 == 0) {
        raise(SIGALRM);
        std::ifstream written(path.c_str(), std::ios::ate);
        ASSERT_TRUE(written.tellg() == 0 || (written.seekg(-1, std::ios::end).get() == '\n')) << i;
      }
      DebugMessage::getStream() << line.substr(9);
      expected += line;
      if (i % 11 == 0)
        raise(SIGALRM);
      if (i % 1000 == 999)
        results << "result " << i << std::endl;
    }
  }
  close(fd);
  std::ifstream in(path.c_str());
  EXPECT_EQ(expected, std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  std::remove(path.c_str());
}
