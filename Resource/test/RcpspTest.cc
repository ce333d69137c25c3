// End to end on public scheduling instances (read in place, skipped when
// absent): each instance becomes a plan of reusable resources and activity
// tokens, the host solver orders it with the module's threat components, and
// the earliest-start schedule left in the temporal network is checked here,
// without the module: every precedence, every capacity at every time, and a
// makespan no shorter than the instance's known optimum.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "Resource/test/RcpspPlan.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace RCPSP {

namespace {

std::string j30(const std::string& name) { return dataRoot() + "/psplib/j30/" + name; }
std::string schDir(const std::string& name) { return dataRoot() + "/rcpsp-max/sm_j10/" + name; }

// A file of the given text under /tmp, removed with the object.
struct TempFile {
  explicit TempFile(const std::string& text) : path("/tmp/korvan-rcpsp-" + std::to_string(::getpid()) + ".txt") {
    std::ofstream(path.c_str()) << text;
  }
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

// Solves the instance and checks the outcome independently of the module.
void solveAndCheck(const Problem& problem, const std::string& profile, int optimum, unsigned int maxSteps) {
  SCOPED_TRACE(problem.name + " " + profile);
  Plan plan(problem, profile);
  ASSERT_TRUE(plan.propagate());
  ASSERT_TRUE(plan.solve(Plan::solverConfiguration(maxSteps)))
    << SOLVERS::Solver::statusName(plan.solver().getStatus()) << " " << plan.solver().printFigures();
  ASSERT_TRUE(plan.propagate());
  const std::vector<int> starts = plan.earliestStarts();
  EXPECT_EQ("", checkSchedule(problem, starts));
  const int length = makespan(problem, starts);
  EXPECT_GE(length, optimum);
  EXPECT_LE(length, problem.horizon);
}

}

TEST(Rcpsp, ReadersWorkedExamplesAndErrors) {
  if (!fileExists(j30("j301_1.sm")) || !fileExists(schDir("PSP1.SCH")))
    GTEST_SKIP() << "no scheduling data under " << dataRoot();
  const Problem p = readSm(j30("j301_1.sm"));
  EXPECT_EQ("j301_1.sm", p.name);
  EXPECT_EQ(158, p.horizon);
  EXPECT_EQ((std::vector<int>{12, 13, 4, 12}), p.capacities);
  ASSERT_EQ(32u, p.activities.size());
  EXPECT_EQ(8, p.activities[1].duration);
  EXPECT_EQ((std::vector<int>{4, 0, 0, 0}), p.activities[1].demands);
  EXPECT_EQ((std::vector<int>{0, 0, 2, 0}), p.activities[30].demands);
  EXPECT_EQ(0, p.activities[31].duration);
  ASSERT_EQ(48u, p.lags.size());
  EXPECT_TRUE(p.lags[0].from == 0 && p.lags[0].to == 1 && p.lags[0].fromEnd);
  EXPECT_TRUE(p.lags.back().from == 30 && p.lags.back().to == 31);
  int durations = 0;
  for (const Activity& a : p.activities)
    durations += a.duration;
  EXPECT_EQ(p.horizon, durations);

  const Problem m = readSch(schDir("PSP1.SCH"));
  ASSERT_EQ(12u, m.activities.size());
  EXPECT_EQ((std::vector<int>{5, 5, 5, 5, 5}), m.capacities);
  EXPECT_EQ(10, m.activities[7].duration);
  EXPECT_EQ((std::vector<int>{0, 4, 4, 0, 4}), m.activities[7].demands);
  // "8 1 3 1 2 11 [-22] [-34] [2]": maximum distances back to 1 and 2.
  std::vector<std::pair<int, int>> fromEight;
  for (const Lag& lag : m.lags) {
    EXPECT_FALSE(lag.fromEnd);
    if (lag.from == 8)
      fromEight.push_back(std::make_pair(lag.to, lag.lag));
  }
  EXPECT_EQ((std::vector<std::pair<int, int>>{{1, -22}, {2, -34}, {11, 2}}), fromEight);
  EXPECT_GE(m.horizon, 1 + 9 + 24);

  const std::map<std::string, std::string> optima = readOptima(j30("optimum.csv"));
  EXPECT_EQ(480u, optima.size());
  EXPECT_EQ("43", optima.at("j301_1.sm"));
  EXPECT_EQ("unsat", readOptima(schDir("optimum.csv")).at("PSP2.SCH"));

  // Malformed input names the file and the line.
  EXPECT_EQ("Cannot open '/nonexistent/x.sm'.", failure([]() { readSm("/nonexistent/x.sm"); }).getMsg());
  const struct {
    Problem (*read)(const std::string&);
    const char *text, *expected;
  } bad[] = {{readSm,
              "jobs (incl. supersource/sink ):  2\nhorizon : 3\n  - renewable : 1 R\n"
              "PRECEDENCE RELATIONS:\njobnr.\n   1  1  1  2\n   2  1  0\n****\n"
              "REQUESTS/DURATIONS:\nh\n---\n  1  1  x  0\n",
              ".txt:12: 'x' is not an integer."},
             {readSm, "jobs :  2\nhorizon : 3\n  - renewable : 1 R\nPRECEDENCE RELATIONS:\nh\n   1  1  1  5\n****\n",
              ".txt:6: bad successor 5"},
             {readSch, "1 1 0 0\n0 1 1 1 [0]\n1 1 1 2 [3]\n2 1 0\n0 1 0 0\n1 1 3 2\n2 1 0 0\n",
              ": 7 lines for 3 activities."}};
  for (const auto& b : bad) {
    TempFile f(b.text);
    const std::string text = failure([&]() { b.read(f.path); }).getMsg();
    EXPECT_NE(std::string::npos, text.find(b.expected)) << text;
  }
}

TEST(Rcpsp, ScheduleCheckerWorkedExample) {
  // Two activities of 3 after a source, one resource of 2: both demand 2.
  Problem tiny;
  tiny.name = "tiny";
  tiny.horizon = 6;
  tiny.capacities = {2};
  tiny.activities = {{0, {0}}, {3, {2}}, {3, {2}}};
  tiny.lags = {{0, 1, 0, true}, {0, 2, 0, true}};
  EXPECT_EQ("", checkSchedule(tiny, {0, 0, 3}));
  EXPECT_EQ(6, makespan(tiny, {0, 0, 3}));
  EXPECT_EQ("resource 0 uses 4 > 2 at 2", checkSchedule(tiny, {0, 0, 2}));
  EXPECT_EQ("activity 0 starts at -1", checkSchedule(tiny, {-1, 0, 3}));
  EXPECT_EQ("2 start times for 3 activities", checkSchedule(tiny, {0, 0}));
  tiny.lags.push_back({1, 2, 1, true});
  EXPECT_EQ("activity 2 starts at 3, before 4 required by 1", checkSchedule(tiny, {0, 0, 3}));
  tiny.lags.back() = {2, 1, -2, false};  // start(1) >= start(2) - 2
  EXPECT_EQ("activity 1 starts at 0, before 1 required by 2", checkSchedule(tiny, {0, 0, 3}));

}

TEST(Rcpsp, J30SolvedWithinCapacitiesAndNoShorterThanTheOptimum) {
  if (!fileExists(j30("optimum.csv")))
    GTEST_SKIP() << "no j30 data under " << dataRoot();
  const std::map<std::string, std::string> optima = readOptima(j30("optimum.csv"));
  const std::vector<std::pair<std::string, std::string>> runs = {
    {"j301_1.sm", "FlowProfile"},           {"j301_2.sm", "FlowProfile"},
    {"j3036_4.sm", "FlowProfile"},          {"j301_3.sm", "IncrementalFlowProfile"},
    {"j3020_3.sm", "IncrementalFlowProfile"}, {"j304_4.sm", "IncrementalFlowProfile"},
    // Flaws here hold transactions with no recorded contribution: the filters keep their choices.
    {"j306_4.sm", "IncrementalFlowProfile"}, {"j3021_2.sm", "FlowProfile"}};
  for (const auto& run : runs) {
    const Problem p = readSm(j30(run.first));
    solveAndCheck(p, run.second, std::stoi(optima.at(run.first)), 500);
  }

  const Problem p = readSm(j30("j301_1.sm"));
  Plan plan(p, "FlowProfile");
  // Before solving the network holds only the precedences: the critical path is 38 here.
  ASSERT_TRUE(plan.propagate());
  EXPECT_EQ(38, makespan(p, plan.earliestStarts()));
  EXPECT_NE("", checkSchedule(p, plan.earliestStarts()));
}

TEST(Rcpsp, MaxTimeLagsSolvedOrRefused) {
  if (!fileExists(schDir("optimum.csv")))
    GTEST_SKIP() << "no RCPSP/max data under " << dataRoot();
  const std::map<std::string, std::string> optima = readOptima(schDir("optimum.csv"));
  // Feasible ones, some needing backtracking (PSP106, PSP192), some solved at the optimum.
  for (const char* name : {"PSP97.SCH", "PSP199.SCH", "PSP106.SCH", "PSP192.SCH"}) {
    ASSERT_NE("unsat", optima.at(name));
    solveAndCheck(readSch(schDir(name)), "FlowProfile", std::stoi(optima.at(name)), 500);
  }
  solveAndCheck(readSch(schDir("PSP187.SCH")), "IncrementalFlowProfile", std::stoi(optima.at("PSP187.SCH")), 500);

  // Infeasible ones: the search runs out of orderings, or out of steps; never "solved".
  for (const char* name : {"PSP26.SCH", "PSP185.SCH", "PSP193.SCH", "PSP2.SCH"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ("unsat", optima.at(name));
    const Problem p = readSch(schDir(name));
    Plan plan(p, "FlowProfile");
    EXPECT_FALSE(plan.solve(Plan::solverConfiguration(200)));
    const SOLVERS::Solver::Status status = plan.solver().getStatus();
    EXPECT_TRUE(status == SOLVERS::Solver::EXHAUSTED || status == SOLVERS::Solver::STEP_LIMIT)
      << SOLVERS::Solver::statusName(status);
    if (std::string(name) != "PSP2.SCH") {
      EXPECT_EQ(SOLVERS::Solver::EXHAUSTED, status);
      EXPECT_EQ(0u, plan.solver().getDepth());
    }
  }
}

}
}
