// korvan-run's verdicts on tiny random resource models, against an exhaustive search over integer
// start times written here, independent of the module. Every SOLVED plan is checked again: its
// earliest-start and latest-start schedules must keep every limit.
//
// Some models relate time points through generic constraints ("eq", "leq", "neq", "addEq"); jobs
// without a resource may leave windows unbounded on one side or both.
//
// VERDICT_MODELS sets the number of models per seed slice (CI runs a short slice), VERDICT_SEED
// the seed and VERDICT_STEPS the step limit of each run (0: each configuration's own limits).
// A wrong verdict prints the model and the configuration that produced it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <unistd.h>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TemporalNetwork/test/FloydWarshall.hh"
#include "apps/KorvanRun.hh"

using namespace KORVAN;

namespace {

// JOB: tokens on an object that is no resource, related by generic constraints only.
enum Kind { REUSABLE, UNARY, RESERVOIR, JOB };

struct Use {
  std::string name;
  int lo, hi;       // start window (the event's time for a reservoir)
  int duration;     // 0 for a reservoir event
  int quantity;     // used while under way; for a reservoir, signed change of the level
  bool loOpen = false, hiOpen = false; // the window is unbounded on that side
};

/// A generic constraint over time points: x = use * 2 + (0 start, 1 end). "addEq" reads
/// x + duration of `use` = y.
struct Relation {
  std::string name;
  int x, y;
  int use;
};

struct Model {
  Kind kind;
  int capacity;     // reusable capacity, or the reservoir's initial level
  int lower, upper; // reservoir level limits
  std::vector<Use> uses;
  std::vector<std::pair<int, int>> precedences; // first ends no later than second starts
  std::vector<Relation> relations;

  bool has(const std::string& relation) const {
    for (const Relation& r : relations)
      if (r.name == relation)
        return true;
    return false;
  }
  std::string point(int x) const {
    if (kind == RESERVOIR)
      return uses[x / 2].name + ".time";
    return uses[x / 2].name + (x % 2 == 0 ? ".start" : ".end");
  }

  std::string xml() const {
    std::ostringstream os;
    os << "<vexl>\n";
    if (kind == REUSABLE)
      os << "  <new type=\"Reusable\" name=\"r\"> <float value=\"" << capacity << "\"/> <float value=\"0\"/> </new>\n";
    else if (kind == UNARY)
      os << "  <new type=\"Unary\" name=\"r\"/>\n";
    else if (kind == JOB)
      os << "  <class name=\"Job\"><predicate name=\"run\" kind=\"interval\"/></class>\n"
         << "  <new type=\"Job\" name=\"r\"/>\n";
    else
      os << "  <new type=\"Reservoir\" name=\"r\"> <float value=\"" << capacity << "\"/> <float value=\"" << lower
         << "\"/> <float value=\"" << upper << "\"/> </new>\n";
    os << "  <close/>\n";
    for (const Use& u : uses) {
      const std::string lo = u.loOpen ? "-inf" : std::to_string(u.lo), hi = u.hiOpen ? "inf" : std::to_string(u.hi);
      const std::string window = lo == hi ? lo : lo + " " + hi;
      if (kind == RESERVOIR)
        os << "  <goal predicate=\"Reservoir." << (u.quantity < 0 ? "consume" : "produce") << "\" name=\"" << u.name
           << "\" object=\"r\" time=\"" << window << "\" quantity=\"" << std::abs(u.quantity) << "\"/>\n";
      else if (kind == UNARY || kind == JOB)
        os << "  <goal predicate=\"" << (kind == JOB ? "Job.run" : "Unary.use") << "\" name=\"" << u.name
           << "\" object=\"r\" start=\"" << window << "\" duration=\"" << u.duration << "\"/>\n";
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
    for (const Relation& r : relations) {
      os << "  <constraint name=\"" << r.name << "\" scope=\"" << point(r.x) << " ";
      if (r.name == "addEq")
        os << uses[r.use].name << ".duration ";
      os << point(r.y) << "\"/>\n";
    }
    os << "</vexl>\n";
    return os.str();
  }
};

const int HORIZON = 134217728;

int pointValue(const Model& m, const std::vector<int>& start, int x) {
  return start[x / 2] + (x % 2 == 1 ? m.uses[x / 2].duration : 0);
}

bool holds(const Model& m, const std::vector<int>& start, const Relation& r) {
  const int x = pointValue(m, start, r.x), y = pointValue(m, start, r.y);
  return r.name == "eq" ? x == y : r.name == "leq" ? x <= y : r.name == "neq" ? x != y : x + m.uses[r.use].duration == y;
}

/// Whether the difference constraints (durations, precedences, "eq", "leq", "addEq") hold a
/// cycle that no times can meet.
bool negativeCycle(const Model& m) {
  const KORVAN_TEST::Time INF = g_infiniteTime();
  std::vector<KORVAN_TEST::RefEdge> edges; // lb <= to - from <= ub
  std::vector<int> nodes;
  for (int i = 0; i < (int)m.uses.size(); i++) {
    edges.push_back({2 * i, 2 * i + 1, m.uses[i].duration, m.uses[i].duration});
    nodes.push_back(2 * i);
    nodes.push_back(2 * i + 1);
  }
  for (const auto& p : m.precedences)
    edges.push_back({2 * p.first + 1, 2 * p.second, 0, INF});
  for (const Relation& r : m.relations) {
    const int offset = r.name == "addEq" ? m.uses[r.use].duration : 0;
    if (r.name == "eq" || r.name == "addEq")
      edges.push_back({r.x, r.y, offset, offset});
    else if (r.name == "leq")
      edges.push_back({r.x, r.y, 0, INF});
  }
  KORVAN_TEST::Distances d;
  return !KORVAN_TEST::floydWarshall((int)nodes.size(), nodes, edges, d);
}

Model randomModel(std::mt19937& rng) {
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  Model m;
  // Reservoirs get no flaws to search, so they get fewer models.
  const int kind = pick(0, 6);
  m.kind = kind < 2 ? REUSABLE : kind < 4 ? UNARY : kind < 5 ? RESERVOIR : JOB;
  m.capacity = m.kind == UNARY ? 1 : pick(1, 3);
  m.lower = 0;
  m.upper = m.kind == RESERVOIR ? m.capacity + pick(0, 3) : 0;
  const int count = m.kind == JOB ? pick(2, 3) : pick(3, m.kind == RESERVOIR ? 6 : 5);
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
      u.quantity = m.kind == UNARY || m.kind == JOB ? 1 : pick(1, m.capacity);
    }
    if (m.kind == JOB) {
      const int open = pick(0, 3);
      u.loOpen = open == 1 || open == 3;
      u.hiOpen = open == 2 || open == 3;
    }
    m.uses.push_back(u);
  }
  const int precedences = pick(0, 3) / 2;
  for (int i = 0; i < precedences; i++) {
    int a = pick(0, count - 1), b = pick(0, count - 1);
    if (a < b)
      m.precedences.push_back(std::make_pair(a, b));
  }
  const int relations = m.kind == JOB ? pick(1, 3) : std::max(0, pick(-3, 2));
  static const char* const sl_names[] = {"eq", "leq", "neq", "addEq"};
  for (int i = 0; i < relations; i++) {
    Relation r;
    r.name = sl_names[pick(0, m.kind == RESERVOIR ? 2 : 3)];
    const int step = m.kind == RESERVOIR ? 2 : 1; // an event has one time point
    r.x = pick(0, 2 * count - 1) / step * step;
    r.y = pick(0, 2 * count - 1) / step * step;
    r.use = pick(0, count - 1);
    if (r.name == "addEq") {
      r.x |= 1; // an end, plus a duration, is a start
      r.y &= ~1;
    }
    if (r.x != r.y || r.name == "addEq")
      m.relations.push_back(r);
  }
  // Bounds propagation creeps a bound one cycle at a time to the horizon when such a cycle has a
  // side without bound and the other side bounded; with every window unbounded nothing moves.
  if (m.kind == JOB && negativeCycle(m))
    for (Use& u : m.uses)
      u.loOpen = u.hiOpen = true;
  return m;
}

/// Empty when the schedule (one start per use) keeps every window, precedence, relation and
/// limit; otherwise what it breaks. "neq" is left out on request: the earliest and latest
/// schedules of a plan need not keep it.
std::string breaks(const Model& m, const std::vector<int>& start, bool withNeq = true) {
  for (size_t i = 0; i < m.uses.size(); i++)
    if ((!m.uses[i].loOpen && start[i] < m.uses[i].lo) || (!m.uses[i].hiOpen && start[i] > m.uses[i].hi))
      return m.uses[i].name + " starts outside its window";
  for (const auto& p : m.precedences)
    if (start[p.first] + m.uses[p.first].duration > start[p.second])
      return m.uses[p.first].name + " does not precede " + m.uses[p.second].name;
  for (const Relation& r : m.relations)
    if (!holds(m, start, r) && (withNeq || r.name != "neq"))
      return r.name + "(" + m.point(r.x) + ", " + m.point(r.y) + ") broken";
  if (m.kind == JOB)
    return "";
  int first = start[0], last = start[0];
  for (size_t i = 0; i < m.uses.size(); i++) {
    first = std::min(first, start[i]);
    last = std::max(last, start[i] + m.uses[i].duration);
  }
  for (int t = first; t <= last; t++) {
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

/// Exhaustive search over integer starts. An unbounded side is searched as far as any schedule
/// needs: beyond the finite bounds, a gap wider than the longest duration between two successive
/// time points can be closed to that width without breaking any precedence, relation or window,
/// so 2n points need at most 2n (longest + 1) beyond them.
/// Calls `visit` on every schedule that keeps the windows, precedences and relations (limits
/// aside) until it answers true; answers whether it did.
bool anySchedule(const Model& m, const std::function<bool(const std::vector<int>&)>& visit) {
  const int n = static_cast<int>(m.uses.size());
  int longest = 0, lowest = HORIZON, highest = -HORIZON;
  for (const Use& u : m.uses) {
    longest = std::max(longest, u.duration);
    if (!u.loOpen) {
      lowest = std::min(lowest, u.lo);
      highest = std::max(highest, u.lo);
    }
    if (!u.hiOpen) {
      lowest = std::min(lowest, u.hi);
      highest = std::max(highest, u.hi);
    }
  }
  if (lowest > highest)
    lowest = highest = 0;
  const int reach = 2 * n * (longest + 1) + 1;
  std::vector<int> lo, hi;
  for (const Use& u : m.uses) {
    lo.push_back(u.loOpen ? lowest - reach : u.lo);
    hi.push_back(u.hiOpen ? highest + reach : u.hi);
  }
  // The precedences and relations among the uses placed so far.
  auto partial = [&](const std::vector<int>& start, int placed) {
    for (const auto& p : m.precedences)
      if (std::max(p.first, p.second) < placed && start[p.first] + m.uses[p.first].duration > start[p.second])
        return false;
    for (const Relation& r : m.relations)
      if (std::max(r.x, r.y) / 2 < placed && !holds(m, start, r))
        return false;
    return true;
  };
  std::vector<int> start(n, 0);
  std::function<bool(int)> place = [&](int i) {
    if (i == n)
      return visit(start);
    for (start[i] = lo[i]; start[i] <= hi[i]; start[i]++)
      if (partial(start, i + 1) && place(i + 1))
        return true;
    return false;
  };
  return place(0);
}

/// Whether some schedule that keeps the time constraints keeps every limit too (or, not `keeping`, breaks one).
bool someSchedule(const Model& m, bool keeping = true) {
  return anySchedule(m, [&](const std::vector<int>& start) { return breaks(m, start).empty() == keeping; });
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
  std::string line, name;
  while (std::getline(lines, line)) {
    std::istringstream(line) >> name;
    for (size_t i = 0; i < m.uses.size(); i++) {
      const std::string::size_type at = line.find(" start ");
      if (name != m.uses[i].name || at == std::string::npos)
        continue;
      // "start 3" or "start [3 5]"
      std::string first, second;
      std::istringstream(line.substr(at + 7)) >> first >> second;
      const bool range = first[0] == '[';
      lbs[i] = std::atoi(first.c_str() + (range ? 1 : 0));
      ubs[i] = range ? std::atoi(second.c_str()) : lbs[i];
      found[i] = true;
    }
  }
  return std::find(found.begin(), found.end(), false) == found.end();
}

// The seed and the process id keep slices and checkouts run side by side apart.
std::string writeFile(const std::string& name, const std::string& text) {
  std::string path = ::testing::TempDir() + "korvan-" + std::to_string(getpid()) + "-" +
                     std::to_string(envInt("VERDICT_SEED", 1)) + "-" + name;
  std::ofstream out(path.c_str());
  out << text;
  return path;
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
  std::vector<std::pair<std::string, std::string>> texts;
  for (const std::string& option : options)
    texts.push_back({option, "<Solver name='options'><FlawManager component='MIRTThreatManager'>"
                             "<FlawHandler component='MIRTThreatHandler' " + option + "/></FlawManager></Solver>"});
  for (const std::string order : {"upper,least,latest", "earliest", "most"})
    texts.push_back({"manager order " + order, "<Solver><FlawManager component='MIRTThreatManager' order='" + order +
                                                   "'><FlawHandler component='MIRTThreatHandler'/></FlawManager></Solver>"});
  texts.push_back({"ResourceThreat", "<Solver><FlawManager component='ThreatManager'>"
                                     "<FlawHandler component='ResourceThreat'/></FlawManager></Solver>"});
  for (const auto& t : texts)
    configs.push_back({t.first, writeFile("verdict-config-" + std::to_string(configs.size()) + ".xml", t.second)});
  return configs;
}

/// The verdict's fault, or empty when the verdict is one that the model allows.
///
/// Reservoirs get no flaws from their detector, so the search cannot order them: for them the
/// honest verdict on a plan that only some orderings keep within its limits is FLAWS LEFT. Where
/// generic constraints relate time points, the plan's schedule is shown by fixing time points one
/// at a time at their earliest bounds: that finds a schedule whenever one exists unless "neq" is
/// among them, and none when none exists, where bounds propagation may have missed it.
std::string judge(const Model& m, bool expected, const Outcome& o) {
  std::string fault;
  if (o.result == "SOLVED") {
    std::vector<int> lbs, ubs;
    const bool read = plannedStarts(m, o.output, lbs, ubs);
    // Bounds at the horizon are not times: only schedules of finite bounds are checked.
    bool lowFinite = true, highFinite = true;
    for (size_t i = 0; i < lbs.size(); i++) {
      lowFinite = lowFinite && lbs[i] > -HORIZON && lbs[i] < HORIZON;
      highFinite = highFinite && ubs[i] > -HORIZON && ubs[i] < HORIZON;
    }
    if (!expected)
      fault = "SOLVED an unsatisfiable model";
    else if (o.status != 0)
      fault = "exit status " + std::to_string(o.status) + " with SOLVED";
    else if (!read)
      fault = "the plan's tokens could not be read";
    else if (lowFinite && !breaks(m, lbs, false).empty())
      fault = "earliest-start schedule breaks the model: " + breaks(m, lbs, false);
    else if (highFinite && !breaks(m, ubs, false).empty())
      fault = "latest-start schedule breaks the model: " + breaks(m, ubs, false);
  } else if (o.result == "FLAWS LEFT") {
    if (m.kind == RESERVOIR && !m.has("neq") && !someSchedule(m, false))
      fault = "flaws left on a reservoir that every schedule keeps within its limits";
    else if (m.kind != RESERVOIR && m.relations.empty())
      fault = "flaws left on a resource whose detector reports flaws";
    else if (m.kind != RESERVOIR && expected && !m.has("neq"))
      fault = "no schedule shown for a satisfiable model without neq";
  } else if (o.result == "NO SOLUTION" || o.result == "INCONSISTENT") {
    if (expected)
      fault = o.result + " on a satisfiable model";
  } else
    fault = "result '" + o.result + "'";
  if (!fault.empty() && o.status == 0)
    fault += " (and exit status 0)";
  return fault;
}

} // namespace

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
    const bool expected = someSchedule(m);
    tally[m.kind == JOB ? "jobs" : m.relations.empty() ? "resources" : "resources-related"]++;
    for (const auto& config : configs) {
      // Jobs have no flaw to search: every configuration ends as the default does.
      if (m.kind == JOB && !config.second.empty())
        continue;
      // Every shipped configuration proves these models within a few hundred steps. The handler
      // options run under the manager's most-flawed-instant order, which can take a thousand;
      // concurrentFirst searches the concurrent placements again under each ordering after them.
      const bool shipped = config.first == "default" || config.first.compare(0, 9, "examples/") == 0;
      const Outcome o = solve(path, config.second,
                              shipped ? 1 : config.first.find("concurrentFirst") == std::string::npos ? 5 : 10);
      tally[o.result.substr(0, o.result.find(' '))]++;
      const std::string fault = judge(m, expected, o);
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
  Model fits{REUSABLE, 1, 0, 0, {{"a", 3, 3, 3, 1}, {"b", 4, 6, 3, 1}}, {}, {}};
  EXPECT_TRUE(someSchedule(fits));
  EXPECT_EQ("level -1 at 4", breaks(fits, {3, 4}));
  Model three{UNARY, 1, 0, 0, {{"a", 0, 15, 10, 1}, {"b", 0, 15, 10, 1}, {"c", 0, 15, 10, 1}}, {}, {}};
  EXPECT_FALSE(someSchedule(three));
  // Events at one time count together: a drain and a fill at the same time leave the level as it was.
  Model drainFirst{RESERVOIR, 0, 0, 30, {{"drain", 0, 10, 0, -3}, {"fill", 0, 10, 0, 3}}, {{0, 1}}, {}};
  EXPECT_TRUE(someSchedule(drainFirst));
  drainFirst.uses[0].hi = 5;
  drainFirst.uses[1].lo = 6;
  EXPECT_FALSE(someSchedule(drainFirst));
  EXPECT_EQ("level -3 at 0", breaks(drainFirst, {0, 6}));
  EXPECT_EQ("fill does not precede drain", breaks(Model{RESERVOIR, 0, 0, 30, drainFirst.uses, {{1, 0}}, {}}, {5, 7}));
  // Generic relations, with windows unbounded on one side or both.
  Use open{"b", 0, 0, 2, 1};
  open.hiOpen = true;
  Model offset{JOB, 1, 0, 0, {{"a", 0, 0, 3, 1}, open, {"c", 5, 5, 4, 1}}, {}, {{"addEq", 1, 2, 2}}};
  EXPECT_TRUE(someSchedule(offset));
  EXPECT_FALSE(negativeCycle(offset));
  EXPECT_EQ("", breaks(offset, {0, 7, 5}));
  EXPECT_EQ("addEq(a.end, b.start) broken", breaks(offset, {0, 6, 5}));
  Use unbounded{"t", 0, 0, 12, 1};
  unbounded.loOpen = unbounded.hiOpen = true;
  Model cycle{JOB, 1, 0, 0, {unbounded}, {}, {{"eq", 0, 1, 0}}};
  EXPECT_TRUE(negativeCycle(cycle));
  EXPECT_FALSE(someSchedule(cycle));
  // Three distinct starts in [0 2]: only a at 2 leaves room for b and c.
  Model distinct{JOB, 1, 0, 0, {{"a", 0, 2, 1, 1}, {"b", 0, 1, 1, 1}, {"c", 0, 1, 1, 1}}, {},
                 {{"neq", 0, 2, 0}, {"neq", 0, 4, 0}, {"neq", 2, 4, 0}}};
  EXPECT_TRUE(someSchedule(distinct));
  EXPECT_EQ("neq(a.start, c.start) broken", breaks(distinct, {0, 1, 0}));
  EXPECT_EQ("", breaks(distinct, {0, 1, 0}, false));
  distinct.uses[0].hi = 1;
  EXPECT_FALSE(someSchedule(distinct));
}
