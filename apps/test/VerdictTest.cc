// korvan-run's verdicts on tiny random resource models, against an exhaustive search over integer
// start times written here, independent of the module. Every SOLVED plan is checked again: its
// earliest-start and latest-start schedules must keep every limit.
//
// VERDICT_MODELS sets the number of models per seed slice (CI runs a short slice), VERDICT_SEED
// the seed and VERDICT_STEPS the step limit of each run. A wrong verdict prints the model and the configuration that produced it.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "apps/KorvanRun.hh"

using namespace KORVAN;

namespace {

enum Kind { REUSABLE, UNARY, RESERVOIR };

struct Use {
  std::string name;
  int lo, hi;       // start window (the event's time for a reservoir)
  int duration;     // 0 for a reservoir event
  int quantity;     // used while under way; for a reservoir, signed change of the level
};

struct Model {
  Kind kind;
  int capacity;     // reusable capacity, or the reservoir's initial level
  int lower, upper; // reservoir level limits
  std::vector<Use> uses;
  std::vector<std::pair<int, int>> precedences; // first ends no later than second starts

  std::string xml() const {
    std::ostringstream os;
    os << "<vexl>\n";
    if (kind == REUSABLE)
      os << "  <new type=\"Reusable\" name=\"r\"> <float value=\"" << capacity << "\"/> <float value=\"0\"/> </new>\n";
    else if (kind == UNARY)
      os << "  <new type=\"Unary\" name=\"r\"/>\n";
    else
      os << "  <new type=\"Reservoir\" name=\"r\"> <float value=\"" << capacity << "\"/> <float value=\"" << lower
         << "\"/> <float value=\"" << upper << "\"/> </new>\n";
    os << "  <close/>\n";
    for (const Use& u : uses) {
      std::string window = u.lo == u.hi ? std::to_string(u.lo) : std::to_string(u.lo) + " " + std::to_string(u.hi);
      if (kind == RESERVOIR)
        os << "  <goal predicate=\"Reservoir." << (u.quantity < 0 ? "consume" : "produce") << "\" name=\"" << u.name
           << "\" object=\"r\" time=\"" << window << "\" quantity=\"" << std::abs(u.quantity) << "\"/>\n";
      else if (kind == UNARY)
        os << "  <goal predicate=\"Unary.use\" name=\"" << u.name << "\" object=\"r\" start=\"" << window
           << "\" duration=\"" << u.duration << "\"/>\n";
      else
        os << "  <goal predicate=\"Reusable.uses\" name=\"" << u.name << "\" object=\"r\" start=\"" << window
           << "\" duration=\"" << u.duration << "\" quantity=\"" << u.quantity << "\"/>\n";
    }
    for (const auto& p : precedences) {
      const char* end = kind == RESERVOIR ? ".time " : ".end ";
      const char* start = kind == RESERVOIR ? ".time" : ".start";
      os << "  <constraint name=\"precedes\" scope=\"" << uses[p.first].name << end << uses[p.second].name << start
         << "\"/>\n";
    }
    os << "</vexl>\n";
    return os.str();
  }
};

Model randomModel(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Model m;
  // Reservoirs get no flaws to search, so they get fewer models.
  const int kind = pick(0, 4);
  m.kind = kind < 2 ? REUSABLE : kind < 4 ? UNARY : RESERVOIR;
  m.capacity = m.kind == UNARY ? 1 : pick(1, 3);
  m.lower = 0;
  m.upper = m.kind == RESERVOIR ? m.capacity + pick(0, 3) : 0;
  const int count = pick(3, m.kind == RESERVOIR ? 6 : 5);
  for (int i = 0; i < count; i++) {
    Use u;
    u.name = std::string(1, static_cast<char>('a' + i));
    u.lo = pick(0, 6);
    u.hi = u.lo + pick(0, 3);
    if (m.kind == RESERVOIR) {
      u.duration = 0;
      u.quantity = pick(1, 3) * (pick(0, 1) == 0 ? -1 : 1);
    } else {
      u.duration = pick(1, 4);
      u.quantity = m.kind == UNARY ? 1 : pick(1, m.capacity);
    }
    m.uses.push_back(u);
  }
  const int precedences = pick(0, 3) / 2;
  for (int i = 0; i < precedences; i++) {
    int a = pick(0, count - 1), b = pick(0, count - 1);
    if (a < b)
      m.precedences.push_back(std::make_pair(a, b));
  }
  return m;
}

/// Empty when the schedule (one start per use) keeps every window, precedence and limit;
/// otherwise what it breaks.
std::string breaks(const Model& m, const std::vector<int>& start) {
  for (size_t i = 0; i < m.uses.size(); i++)
    if (start[i] < m.uses[i].lo || start[i] > m.uses[i].hi)
      return m.uses[i].name + " starts outside its window";
  for (const auto& p : m.precedences)
    if (start[p.first] + m.uses[p.first].duration > start[p.second])
      return m.uses[p.first].name + " does not precede " + m.uses[p.second].name;
  int last = 0;
  for (size_t i = 0; i < m.uses.size(); i++)
    last = std::max(last, start[i] + m.uses[i].duration);
  for (int t = 0; t <= last; t++) {
    int level = m.capacity;
    for (size_t i = 0; i < m.uses.size(); i++) {
      const Use& u = m.uses[i];
      if (m.kind == RESERVOIR ? start[i] <= t : start[i] <= t && t < start[i] + u.duration)
        level += m.kind == RESERVOIR ? u.quantity : -u.quantity;
    }
    if (level < m.lower || (m.kind == RESERVOIR && level > m.upper))
      return "level " + std::to_string(level) + " at " + std::to_string(t);
  }
  return "";
}

bool satisfiable(const Model& m) {
  std::vector<int> start;
  for (const Use& u : m.uses)
    start.push_back(u.lo);
  for (;;) {
    if (breaks(m, start).empty())
      return true;
    size_t i = 0;
    for (; i < start.size() && start[i] == m.uses[i].hi; i++)
      start[i] = m.uses[i].lo;
    if (i == start.size())
      return false;
    start[i]++;
  }
}

int envInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text == nullptr ? fallback : std::atoi(text);
}

struct Outcome {
  int status;
  std::string result;
  std::string output;
};

Outcome solve(const std::string& modelPath, const std::string& configPath, int stepFactor) {
  std::vector<std::string> args = {"--max-steps", std::to_string(stepFactor * envInt("VERDICT_STEPS", 1000))};
  if (!configPath.empty()) {
    args.push_back("--solver");
    args.push_back(configPath);
  }
  args.push_back(modelPath);
  std::ostringstream out, err;
  Outcome o;
  o.status = HOST::run(args, out, err);
  o.output = out.str() + err.str();
  std::string::size_type at = o.output.find("Result: ");
  if (at != std::string::npos)
    o.result = o.output.substr(at + 8, o.output.find('\n', at) - at - 8);
  return o;
}

/// The start window that the plan leaves each named token, from korvan-run's token lines.
bool plannedStarts(const Model& m, const std::string& output, std::vector<int>& lbs, std::vector<int>& ubs) {
  lbs.assign(m.uses.size(), 0);
  ubs.assign(m.uses.size(), 0);
  std::vector<bool> found(m.uses.size(), false);
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    for (size_t i = 0; i < m.uses.size(); i++) {
      if (name != m.uses[i].name)
        continue;
      std::string::size_type at = line.find(" start ");
      if (at == std::string::npos)
        return false;
      std::istringstream bound(line.substr(at + 7));
      std::string first;
      bound >> first;
      if (first[0] == '[') {
        std::string second;
        bound >> second;
        lbs[i] = std::atoi(first.c_str() + 1);
        ubs[i] = std::atoi(second.c_str());
      } else
        lbs[i] = ubs[i] = std::atoi(first.c_str());
      found[i] = true;
    }
  }
  for (bool f : found)
    if (!f)
      return false;
  return true;
}

// Slices with different seeds may run side by side.
std::string writeFile(const std::string& name, const std::string& text) {
  // The process id keeps runs side by side (several checkouts, one machine) apart.
  std::string path = ::testing::TempDir() + "korvan-" + std::to_string(getpid()) + "-" +
                     std::to_string(envInt("VERDICT_SEED", 1)) + "-" + name;
  std::ofstream out(path.c_str());
  out << text;
  return path;
}

std::string handler(const std::string& attributes) {
  return "<Solver name='options'><FlawManager component='MIRTThreatManager'>"
         "<FlawHandler component='MIRTThreatHandler' " + attributes + "/></FlawManager></Solver>";
}

/// The configurations judged: the default, the shipped ones and one per handler option.
std::vector<std::pair<std::string, std::string>> configurations() {
  std::vector<std::pair<std::string, std::string>> configs = {{"default", ""}};
  for (const char* shipped : {"examples/solver.xml", "examples/solver-fast.xml", "examples/solver-tokens.xml"})
    configs.push_back(std::make_pair(shipped, shipped));
  const std::vector<std::string> options = {
      "filter='none'", "filter='predecessorNot'", "filter='successor'", "filter='both'",
      "constraint='precedesOnly'", "constraint='precedesFirst'", "constraint='concurrentFirst'",
      "iterate='constraintFirst' constraint='precedesFirst'",
      "order='earliestPredecessor,latestSuccessor'", "order='leastImpact'", "order='descendingKeySuccessor'",
      "order='longestPredecessor,shortestSuccessor'"};
  int n = 0;
  for (const std::string& option : options)
    configs.push_back(std::make_pair(option, writeFile("verdict-option-" + std::to_string(n++) + ".xml",
                                                       handler(option))));
  for (const char* order : {"upper,least,latest", "earliest", "most"})
    configs.push_back(std::make_pair(std::string("manager order ") + order,
                                     writeFile("verdict-order-" + std::to_string(n++) + ".xml",
                                               "<Solver><FlawManager component='MIRTThreatManager' order='" +
                                                   std::string(order) +
                                                   "'><FlawHandler component='MIRTThreatHandler'/></FlawManager>"
                                                   "</Solver>")));
  configs.push_back(std::make_pair("ResourceThreat", writeFile("verdict-tokens.xml",
      "<Solver><FlawManager component='ThreatManager'><FlawHandler component='ResourceThreat'/></FlawManager></Solver>")));
  return configs;
}

} // namespace

// Reservoirs get no flaws from their detector, so the search cannot order them; for them the
// honest verdict on a plan outside its limits is FLAWS LEFT, never SOLVED.
TEST(Verdicts, MatchExhaustiveSearchOnTinyModels) {
  const int models = envInt("VERDICT_MODELS", 45);
  const int seed = envInt("VERDICT_SEED", 1);
  const auto configs = configurations();
  std::mt19937 rng(seed);
  std::map<std::string, int> tally;
  int wrong = 0;
  for (int i = 0; i < models && wrong < envInt("VERDICT_MAX_WRONG", 5); i++) {
    const Model m = randomModel(rng);
    const std::string path = writeFile("verdict-model.xml", m.xml());
    const bool expected = satisfiable(m);
    for (const auto& config : configs) {
      // Every shipped configuration proves these models within a few hundred steps;
      // concurrentFirst searches the concurrent placements again under each ordering after them.
      const Outcome o = solve(path, config.second, config.first.find("concurrentFirst") == std::string::npos ? 1 : 10);
      tally[o.result.substr(0, o.result.find(' '))]++;
      std::string fault;
      if (o.result == "SOLVED") {
        std::vector<int> lbs, ubs;
        if (!expected)
          fault = "SOLVED an unsatisfiable model";
        else if (o.status != 0)
          fault = "exit status " + std::to_string(o.status) + " with SOLVED";
        else if (!plannedStarts(m, o.output, lbs, ubs))
          fault = "the plan's tokens could not be read";
        else if (!breaks(m, lbs).empty())
          fault = "earliest-start schedule breaks the model: " + breaks(m, lbs);
        else if (!breaks(m, ubs).empty())
          fault = "latest-start schedule breaks the model: " + breaks(m, ubs);
      } else if (o.result == "FLAWS LEFT") {
        if (m.kind != RESERVOIR)
          fault = "flaws left on a resource whose detector reports flaws";
      } else if (o.result == "NO SOLUTION" || o.result == "INCONSISTENT") {
        if (expected)
          fault = o.result + " on a satisfiable model";
      } else
        fault = "result '" + o.result + "'";
      if (!fault.empty() && o.status == 0)
        fault += " (and exit status 0)";
      if (!fault.empty()) {
        wrong++;
        ADD_FAILURE() << "seed " << seed << " model " << i << " under " << config.first << ": " << fault
                      << "\nmodel:\n" << m.xml() << "output:\n" << o.output;
      }
    }
  }
  std::ostringstream os;
  for (const auto& entry : tally)
    os << " " << entry.first << "=" << entry.second;
  std::cout << models << " models x " << configs.size() << " configurations:" << os.str() << std::endl;
}

// The exhaustive search itself, on models whose answer is known by hand.
TEST(Verdicts, ExhaustiveSearchOnWorkedModels) {
  Model fits{REUSABLE, 1, 0, 0, {{"a", 3, 3, 3, 1}, {"b", 4, 6, 3, 1}}, {}};
  EXPECT_TRUE(satisfiable(fits));
  EXPECT_EQ("level -1 at 4", breaks(fits, {3, 4}));
  Model three{UNARY, 1, 0, 0, {{"a", 0, 15, 10, 1}, {"b", 0, 15, 10, 1}, {"c", 0, 15, 10, 1}}, {}};
  EXPECT_FALSE(satisfiable(three));
  // Events at one time count together: a drain and a fill at the same time leave the level as it was.
  Model drainFirst{RESERVOIR, 0, 0, 30, {{"drain", 0, 10, 0, -3}, {"fill", 0, 10, 0, 3}}, {{0, 1}}};
  EXPECT_TRUE(satisfiable(drainFirst));
  drainFirst.uses[0].hi = 5;
  drainFirst.uses[1].lo = 6;
  EXPECT_FALSE(satisfiable(drainFirst));
  EXPECT_EQ("level -3 at 0", breaks(drainFirst, {0, 6}));
  EXPECT_EQ("fill does not precede drain", breaks(Model{RESERVOIR, 0, 0, 30, drainFirst.uses, {{1, 0}}}, {5, 7}));
}
