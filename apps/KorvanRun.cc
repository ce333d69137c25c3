#include "apps/KorvanRun.hh"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tinyxml.h>
#include <unistd.h>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/component/Constraints.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/Solver.hh"
#include "Solvers/base/ThreatManager.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Vexl/VexlXmlInterpreter.hh"
#include "apps/PlanCheck.hh"
#include "apps/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

std::vector<PlanChecker>& planCheckers() {
  static std::vector<PlanChecker> sl_checkers;
  return sl_checkers;
}

std::vector<DeadEnd>& deadEnds() {
  static std::vector<DeadEnd> sl_deadEnds;
  return sl_deadEnds;
}

std::set<std::string>& bookkeepingConstraints() {
  static std::set<std::string> sl_names;
  return sl_names;
}

std::vector<PlanChecker>& unjudgedCheckers() {
  static std::vector<PlanChecker> sl_checkers;
  return sl_checkers;
}

std::vector<Refutation>& refutations() {
  static std::vector<Refutation> sl_refutations;
  return sl_refutations;
}

namespace {

using namespace PlanCheck;

std::vector<ModuleMaker>& moduleMakers() {
  static std::vector<ModuleMaker> sl_makers;
  return sl_makers;
}

bool& hostLeftToExit() {
  static bool sl_left = false;
  return sl_left;
}

std::vector<ChoiceGap>& choiceGaps() {
  static std::vector<ChoiceGap> sl_gaps;
  return sl_gaps;
}

// The first registered module's account of a gap in its flaws' choices, or empty.
std::string firstChoiceGap(const PlanDatabaseId& db) {
  for (const ChoiceGap& choiceGap : choiceGaps()) {
    const std::string gap = choiceGap(db);
    if (!gap.empty())
      return gap;
  }
  return std::string();
}

/// The model whose names tokenName() gives, while a run reads and judges it.
struct TokenNaming {
  const VexlXmlInterpreter* interpreter = nullptr;
  size_t named = 0; // the named tokens when the cache was built
  std::map<int, std::string> names;
};
TokenNaming& tokenNaming() {
  static TokenNaming sl_naming;
  return sl_naming;
}

std::vector<EmptyingExplainer>& emptyingExplainers() {
  static std::vector<EmptyingExplainer> sl_explainers;
  return sl_explainers;
}

std::map<std::string, ObjectPrinter>& objectPrinters() {
  static std::map<std::string, ObjectPrinter> sl_printers;
  return sl_printers;
}

std::string& defaultFlawManagers() {
  static std::string sl_elements;
  return sl_elements;
}

/// What the run is doing, for a failure that knows nothing of where it happened (memory).
struct RunStage {
  std::string where; // the file being read, with its colon, before any element of it is
  std::string text;
};
RunStage& runStage() {
  static RunStage sl_stage;
  return sl_stage;
}
void enterStage(const std::string& text, const std::string& where = std::string()) {
  runStage().where = where;
  runStage().text = text;
}
/// The line of a failed allocation that no element's reader caught.
std::string memoryRanOut() { return runStage().where + "memory ran out " + runStage().text; }

std::terminate_handler sl_previousTerminate = nullptr;

void writeError(const char* text, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::write(2, text + done, size - done);
    if (n <= 0)
      return;
    done += static_cast<size_t>(n);
  }
}
void writeError(const char* text) { writeError(text, std::strlen(text)); }
void writeError(const std::string& text) { writeError(text.data(), text.size()); }

// Nothing here may allocate: memory is what ran out.
[[noreturn]] void onTermination() {
  bool memory = false;
  if (abi::__cxa_current_exception_type() != nullptr) {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      memory = true;
    } catch (...) {
    }
  } else {
    // An exception that could not even be allocated ends the program without one.
    void* probe = std::malloc(256);
    memory = probe == nullptr;
    std::free(probe);
  }
  if (!memory) {
    if (sl_previousTerminate != nullptr)
      sl_previousTerminate();
    std::abort();
  }
  const RunStage& stage = runStage();
  writeError("korvan-run: ");
  writeError(stage.where);
  writeError("memory ran out ");
  if (stage.text.empty())
    writeError("at the start");
  else
    writeError(stage.text);
  writeError("\n");
  _exit(EXIT_BAD_INPUT);
}

/// A bad command line or unreadable input: exit status 2.
struct BadInput {
  std::string message;
};

struct Options {
  std::string model;
  std::string solverConfig;
  unsigned int maxSteps = 0;
  unsigned int maxDepth = 0;
  std::vector<std::string> debugPatterns;
  bool help = false;
};

unsigned int parseCount(const std::string& option, const std::string& text) {
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < 0 || value > 2000000000L)
    throw BadInput{"expected a non-negative integer after " + option + ", got '" + text + "'"};
  return static_cast<unsigned int>(value);
}

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  std::map<std::string, std::string> given;
  for (size_t i = 0; i < args.size(); i++) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size())
        throw BadInput{"missing value after " + arg};
      // A second value would replace the first without a word.
      if (arg != "--debug" && !given.emplace(arg, args[i + 1]).second)
        throw BadInput{arg + " given twice (" + given[arg] + " and " + args[i + 1] + "): it takes one value"};
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg == "--solver") {
      // Empty, it would leave the default configuration in its place.
      options.solverConfig = value();
      if (options.solverConfig.empty())
        throw BadInput{"--solver takes a configuration file, got an empty name"};
    }
    else if (arg == "--max-steps")
      options.maxSteps = parseCount(arg, value());
    else if (arg == "--max-depth")
      options.maxDepth = parseCount(arg, value());
    else if (arg == "--debug") {
      // An empty pattern would enable every marker, which '*' says plainly.
      const std::string& pattern = value();
      if (pattern.empty())
        throw BadInput{"--debug takes a marker or the first part of one ('*' for every marker), got an empty one"};
      options.debugPatterns.push_back(pattern);
      DebugMessage::enable(pattern);
    }
    else if (!arg.empty() && arg[0] == '-')
      throw BadInput{"unknown option " + arg};
    else if (arg.empty())
      throw BadInput{"an empty argument where the model file was expected (no model given)"};
    else if (options.model.empty())
      options.model = arg;
    else
      throw BadInput{"more than one model given: " + options.model + " and " + arg};
  }
  if (options.model.empty())
    throw BadInput{"no model given"};
  return options;
}


std::string objectNames(const ConstrainedVariableId& objectVar) {
  std::list<double> values;
  objectVar->lastDomain().getValues(values);
  std::string names;
  for (double value : values) {
    if (!names.empty())
      names += " ";
    names += ObjectId(value)->getName().toString();
  }
  return names.empty() ? "-" : names;
}

void printTokens(std::ostream& out, const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter) {
  std::map<int, std::string> names;
  for (const auto& entry : interpreter.getNamedTokens())
    if (entry.second.isValid())
      names[entry.second->getKey()] = entry.first;
  out << "Tokens (" << db->getTokens().size() << "):" << std::endl;
  for (const auto& entry : db->getTokens()) {
    const TokenId& token = entry.second;
    std::map<int, std::string>::const_iterator name = names.find(entry.first);
    out << "  " << (name == names.end() ? std::string("-") : name->second) << " "
        << token->toString() << " " << token->getTokenState() << " on "
        << objectNames(token->getObject());
    out << " start " << bounds(token->start()->lastDomain()) << " end "
        << bounds(token->end()->lastDomain()) << " duration "
        << bounds(token->duration()->lastDomain());
    for (const ConstrainedVariableId& var : token->getVariables()) {
      if (var == token->getState() || var == token->getObject() || var == token->start() ||
          var == token->end() || var == token->duration())
        continue;
      out << " " << var->getName().toString() << " " << bounds(var->lastDomain());
    }
    out << std::endl;
  }
}

/// The quantities that the model left open (none given, or a range) and a fixed schedule chose:
/// the token lines show them, this line says they were not the model's.
void printChosenQuantities(std::ostream& out, const PlanDatabaseId& db, const VexlXmlInterpreter& interpreter) {
  std::map<int, std::string> names;
  for (const auto& entry : interpreter.getNamedTokens())
    if (entry.second.isValid())
      names[entry.second->getKey()] = entry.first;
  std::string chosen;
  for (const auto& entry : db->getTokens()) {
    const ConstrainedVariableId quantity = entry.second->getVariable(LabelStr("quantity"));
    if (quantity.isNoId() || quantity->baseDomain().isSingleton() || !quantity->lastDomain().isSingleton())
      continue;
    std::map<int, std::string>::const_iterator name = names.find(entry.first);
    chosen += (chosen.empty() ? "" : ", ") + (name == names.end() ? entry.second->toString() : name->second) + " " +
              toString(quantity->lastDomain().getSingletonValue());
  }
  if (!chosen.empty())
    out << "Quantities the schedule chose (the model left them open): " << chosen << std::endl;
}

void printObjects(std::ostream& out, const PlanDatabaseId& db) {
  out << "Objects (" << db->getObjects().size() << "):" << std::endl;
  const SchemaId& schema = db->getSchema();
  for (const auto& entry : db->getObjects()) {
    const ObjectId& object = entry.second;
    out << "  " << object->getName().toString() << " (" << object->getType().toString() << ")"
        << std::endl;
    if (!schema->isObjectType(object->getType()))
      continue;
    for (const LabelStr& type : schema->getAllObjectTypes(object->getType())) {
      std::map<std::string, ObjectPrinter>::const_iterator printer =
          objectPrinters().find(type.toString());
      if (printer != objectPrinters().end()) {
        printer->second(out, object);
        break;
      }
    }
  }
}

std::string defaultSolverConfig() {
  // One element a line, so that a refusal's line names the element. On a tie the earlier
  // manager's flaw wins: the bindings' managers go first.
  std::string text = "<Solver name='default'>\n" + defaultFlawManagers();
  text += "<FlawManager component='ThreatManager'>\n"
          "<FlawHandler component='ThreatHandler'/></FlawManager>\n";
  return text + "</Solver>";
}

/// The result line, with what it rests on.
struct Verdict {
  std::string result;
  std::vector<std::string> problems;
  std::string schedule; // how a schedule was fixed, when the search did not prove the plan
  std::vector<std::string> why; // under INCONSISTENT and NO SOLUTION: what makes it so
  bool solved = false;
};

/// A variable that a propagator's pass emptied outside any one constraint: the constraints over
/// it are the ones that can have done it.
std::string emptiedText(const ConstrainedVariableId& var) {
  ConstraintSet constraints;
  var->constraints(constraints);
  std::string names;
  unsigned int count = 0, more = 0;
  for (const ConstraintId& constraint : constraints) {
    if (!constraint->isActive())
      continue;
    if (++count > 4) {
      more++;
      continue;
    }
    std::string scope;
    for (const ConstrainedVariableId& other : constraint->getScope())
      scope += (scope.empty() ? "" : ", ") + variableName(other);
    names += (names.empty() ? "" : ", ") + constraint->getName().toString() + "(" + scope + ")";
  }
  if (more > 0)
    names += " and " + std::to_string(more) + " more";
  if (names.empty())
    return variableName(var) + " has no value left: " + var->baseDomain().toString() +
           " is its whole domain and no constraint is over it";
  return variableName(var) + " has no value left under the constraint" + (count == 1 ? " " : "s ") + names;
}

/// Why the engine holds an empty domain, when no reason was kept when it emptied: the first
/// emptied variable and the constraints over it.
std::string emptiedWhy(const ConstraintEngineId& ce) {
  const ConstrainedVariableSet empty = ce->getEmptyVariables();
  if (empty.empty())
    return std::string();
  return emptiedText(*empty.begin());
}

/// Why propagation failed, in the model's words: for each failure, what emptied first and what
/// emptied it (a resource's limit, a constraint, the temporal network). Listens to the engine
/// from construction to destruction.
class FailureReasons {
public:
  explicit FailureReasons(const PlanDatabaseId& db) : m_db(db) {
    m_db->getConstraintEngine()->setEmptyingListener([this](const ConstraintEngine::Emptying& emptying) {
      bool module = false;
      record(explain(emptying, module));
      m_lastByModule = module;
    });
  }
  ~FailureReasons() { m_db->getConstraintEngine()->setEmptyingListener(nullptr); }

  void clear() {
    m_last.clear();
    m_lastByModule = false;
    m_counts.clear();
    m_order.clear();
  }
  const std::string& last() const { return m_last; }
  /// The result of a plan whose last emptying is the one known: a module's proof that no schedule
  /// keeps its limits is NO SOLUTION, as when it refutes the plan; the model's own constraints or
  /// times contradicting each other are INCONSISTENT.
  std::string emptiedResult() const { return m_lastByModule ? "NO SOLUTION" : "INCONSISTENT"; }
  /// A dead end that no domain emptied (a plan that a check refuses).
  void note(const std::string& reason) { record(reason); }
  /// The distinct reasons, the most frequent first (ties: the first met first).
  std::vector<std::pair<std::string, unsigned int>> ranked() const {
    std::vector<std::pair<std::string, unsigned int>> result;
    for (const std::string& reason : m_order)
      result.push_back(std::make_pair(reason, m_counts.find(reason)->second));
    std::stable_sort(result.begin(), result.end(),
                     [](const std::pair<std::string, unsigned int>& a, const std::pair<std::string, unsigned int>& b) {
                       return a.second > b.second;
                     });
    return result;
  }

private:
  void record(const std::string& reason) {
    m_last = reason;
    m_lastByModule = false;
    if (m_counts[reason]++ == 0)
      m_order.push_back(reason);
  }

  std::string explain(const ConstraintEngine::Emptying& emptying, bool& module) const {
    const TokenNamer namer = [](const TokenId& token) { return tokenName(token); };
    for (const EmptyingExplainer& explainer : emptyingExplainers()) {
      const std::string text = explainer(m_db, emptying, namer);
      module = !text.empty();
      if (module)
        return text;
    }
    const std::string var = variableName(emptying.variable);
    const std::string cycle = var + " has no time left: no times keep the cycle ";
    // A relation between times that empties one has closed a cycle that no times keep.
    const EntityId& parent = emptying.variable->parent();
    const bool time = parent.isValid() && TokenId::convertable(parent) &&
                      (emptying.variable == TokenId(parent)->start() || emptying.variable == TokenId(parent)->end());
    const bool temporal =
        emptying.propagator.isValid() && emptying.propagator->getName() == TemporalPropagator::PROPAGATOR_NAME();
    const std::string around = time || temporal ? temporalCycle(m_db->getConstraintEngine()) : std::string();
    if (!around.empty())
      return cycle + around;
    if (emptying.constraint.isValid()) {
      std::string scope;
      for (const ConstrainedVariableId& other : emptying.constraint->getScope())
        scope += (scope.empty() ? "" : ", ") + variableName(other);
      return var + " has no value left under the constraint " + emptying.constraint->getName().toString() + "(" +
             scope + ")";
    }
    if (temporal) {
      const std::string reaching = timeConstraintsAround(emptying.variable);
      return var + " has no time left: no times keep the windows and durations" +
             (reaching.empty() ? std::string() : " with " + reaching);
    }
    return emptiedText(emptying.variable);
  }

  PlanDatabaseId m_db;
  std::string m_last;
  bool m_lastByModule = false;
  std::map<std::string, unsigned int> m_counts;
  std::vector<std::string> m_order;
};

/// The lines of a Why: the header, then the reasons counted, the most frequent first.
std::vector<std::string> rankedWhy(const std::string& header, const FailureReasons& reasons) {
  const std::vector<std::pair<std::string, unsigned int>> ranked = reasons.ranked();
  std::vector<std::string> lines;
  if (ranked.empty())
    return lines;
  unsigned int total = 0;
  for (const auto& entry : ranked)
    total += entry.second;
  lines.push_back(header + " (" + std::to_string(total) + " dead end" + (total == 1 ? "" : "s") + "):");
  const size_t shown = std::min<size_t>(ranked.size(), 5);
  for (size_t i = 0; i < shown; i++)
    lines.push_back("  " + std::to_string(ranked[i].second) + " x " + ranked[i].first);
  if (ranked.size() > shown)
    lines.push_back("  and " + std::to_string(ranked.size() - shown) + " other reason" +
                    (ranked.size() - shown == 1 ? "" : "s"));
  return lines;
}

/// The Why: of a schedule search that tried every value: its dead ends counted, or, with nothing
/// fixed, the one thing the plan as it stands breaks.
std::vector<std::string> scheduleWhy(const FixedSchedule& fixed, const FailureReasons& reasons) {
  const std::vector<std::pair<std::string, unsigned int>> ranked = reasons.ranked();
  if (fixed.fixes == 0 && ranked.size() == 1)
    return std::vector<std::string>(1, ranked.front().first);
  return rankedWhy("every value tried failed", reasons);
}

/// A search that proved no schedule but kept no reason for it: NO SOLUTION would name nothing of
/// the model, so the plan is left undecided with what is known.
void leaveUnexplained(Verdict& verdict, const std::string& known) {
  verdict.result = "FLAWS LEFT";
  verdict.why.clear();
  verdict.schedule.clear();
  verdict.problems.push_back(known + ", but no dead end was recorded to say why");
}

/// A schedule search ahead of the ordering search, where the modules say orderings need not cover
/// every schedule: there an exhausted ordering search proves nothing, so it is bounded.
struct GapSearch {
  std::string gap; // why orderings need not cover every schedule; empty: they do
  FixedSchedule fixed;
  bool ownBound = false; // the ordering search runs under this bound, not the one asked for
};

/// The verdict on the plan the solver left. NO SOLUTION needs every dead end of the search
/// refuted, a module's refutation of the plan as modelled, or a schedule search that tried every
/// value; SOLVED needs a plan that passes every check, a fixed schedule if need be. `reasons`
/// holds the search's dead ends.
Verdict decide(const PlanDatabaseId& db, SOLVERS::Solver& solver, bool solved, bool consistent,
               FailureReasons& reasons, const GapSearch& gapSearch) {
  Verdict verdict;
  const SOLVERS::Solver::Status status = solver.getStatus();
  if (status == SOLVERS::Solver::STEP_LIMIT && gapSearch.ownBound) {
    verdict.problems.push_back("the ordering search stopped at " + std::to_string(solver.getMaxSteps()) +
                               " steps: " + gapSearch.gap + ", whose flaws' orderings need not cover every schedule; " +
                               gapSearch.fixed.failure);
    verdict.result = "FLAWS LEFT";
    return verdict;
  }
  // Under a step limit the engine's propagation is bounded too; one cut leaves no fixed point to judge.
  const ConstraintEngineId& ce = db->getConstraintEngine();
  if (status == SOLVERS::Solver::STEP_LIMIT || ce->propagationCut()) {
    // The plan printed is the search's state when it stopped: a reader must not take it for a plan.
    if (!consistent)
      verdict.problems.push_back("the search stopped before undoing its last decision, which left the plan "
                                 "inconsistent: the bounds printed are not a plan");
    else if (ce->propagationCut())
      verdict.problems.push_back("the search stopped in the middle of a propagation: the bounds printed are as far "
                                 "as it got");
    verdict.result = "LIMIT REACHED (step limit " + std::to_string(solver.getMaxSteps()) + ")";
    return verdict;
  }
  // The checks and schedule searches below bound their own work.
  ce->setPropagationLimit(0);
  if (status == SOLVERS::Solver::DEPTH_LIMIT) {
    verdict.result = "LIMIT REACHED (depth limit " + std::to_string(solver.getMaxDepth()) + ")";
    return verdict;
  }
  if (solved && !consistent) {
    verdict.result = reasons.last().empty() ? "INCONSISTENT" : reasons.emptiedResult();
    verdict.why.push_back(reasons.last().empty() ? emptiedWhy(ce) : reasons.last());
    return verdict;
  }
  const auto refused = [&reasons](const std::string& problem) { reasons.note(problem); };
  // A plan as modelled that a module refutes has no schedule, whatever a search would try.
  const auto refuted = [&]() {
    const std::string why = refutation(db);
    if (why.empty())
      return false;
    verdict.result = "NO SOLUTION";
    verdict.problems.clear();
    verdict.why.assign(1, why);
    return true;
  };
  if (solved) {
    // The solver stops when its managers see no flaw; a flaw that no handler takes, or that no
    // detector reports, is still in the plan. Only a plan that passes the checks is solved.
    verdict.problems = checkPlan(db);
    if (verdict.problems.empty()) {
      verdict.result = "SOLVED";
      verdict.solved = true;
      return verdict;
    }
  } else if (solver.getUnresolvedCount() == 0) {
    // Every dead end was refuted, but the choices offered at a flaw need not cover every schedule
    // (a timetable's flaw on a give-back counted before its take): a schedule fixed in the plan as
    // modelled overturns the verdict. A schedule search cut at its budget leaves it to the
    // exhausted one only where the module says its choices cover every schedule. The plan is as
    // modelled again: a search made there before the orderings need not be made twice.
    verdict.why = rankedWhy("every choice failed", reasons);
    // A search without a dead end to count leaves the reason to the schedule search's.
    const bool counted = !verdict.why.empty();
    if (!counted)
      reasons.clear();
    FixedSchedule fixed = !gapSearch.gap.empty() ? gapSearch.fixed
                          : counted              ? fixSchedule(db)
                                                 : fixSchedule(db, refused);
    if (fixed.outcome == ScheduleSearch::FOUND) {
      verdict.why.clear();
      verdict.problems = checkPlan(db);
      verdict.schedule = "every ordering choice failed, then every variable fixed (" +
                         std::to_string(fixed.fixes) + " fixes tried)";
      verdict.solved = verdict.problems.empty();
      verdict.result = verdict.solved ? "SOLVED" : "FLAWS LEFT";
      return verdict;
    }
    const std::string gap = firstChoiceGap(db);
    if (fixed.outcome == ScheduleSearch::CUT && !gap.empty()) {
      verdict.why.clear();
      verdict.problems.push_back("every ordering choice failed, but " + gap +
                                 ", whose flaws' orderings need not cover every schedule; " + fixed.failure);
      verdict.result = "FLAWS LEFT";
      return verdict;
    }
    // A search with no dead end to count refuted nothing by itself: the plan's own refutation, or
    // the dead ends of a schedule search that tried every value, say why.
    if (!counted && refuted())
      return verdict;
    if (!counted && fixed.outcome == ScheduleSearch::NONE)
      verdict.why = scheduleWhy(fixed, reasons);
    if (verdict.why.empty()) {
      leaveUnexplained(verdict, "every ordering choice failed; " + fixed.failure);
      return verdict;
    }
    verdict.result = "NO SOLUTION";
    return verdict;
  }
  // An exhausted search that met flaws no choice resolves has left the plan as it found it, and so
  // has one that made no decision.
  bool asModelled = !solved || solver.getDepth() == 0;
  if (asModelled && refuted())
    return verdict;
  FixedSchedule fixed = gapSearch.fixed;
  if (gapSearch.gap.empty() || solved) {
    reasons.clear();
    fixed = fixSchedule(db, refused);
  }
  if (fixed.outcome != ScheduleSearch::FOUND && !fixed.budgetSpent && !asModelled) {
    // The decisions cut plans away: look again in the plan as modelled.
    solver.reset();
    const bool consistentAgain = db->getConstraintEngine()->propagate();
    checkError(consistentAgain, "The plan became inconsistent when the search's decisions were withdrawn.");
    if (refuted())
      return verdict;
    verdict.problems = planProblems(db);
    reasons.clear();
    const FixedSchedule again = fixSchedule(db, refused);
    fixed.fixes += again.fixes;
    fixed.outcome = again.outcome;
    fixed.failure = again.failure;
    asModelled = true;
  }
  const std::string unresolved = solved ? std::string("")
                                        : "the search met " + std::to_string(solver.getUnresolvedCount()) +
                                              " flaw(s) that no choice resolves; ";
  if (fixed.outcome == ScheduleSearch::FOUND) {
    verdict.problems = checkPlan(db);
    verdict.schedule = unresolved + "every variable fixed (" + std::to_string(fixed.fixes) + " fixes tried)";
    verdict.solved = verdict.problems.empty();
    verdict.result = verdict.solved ? "SOLVED" : "FLAWS LEFT";
    return verdict;
  }
  if (asModelled && fixed.outcome == ScheduleSearch::NONE) {
    verdict.result = "NO SOLUTION";
    verdict.problems.clear();
    verdict.schedule = unresolved + "no values of the plan's variables keep the model (" +
                       std::to_string(fixed.fixes) + " fixes tried)";
    // With nothing left open, the plan as it stands is the one dead end.
    verdict.why = scheduleWhy(fixed, reasons);
    if (verdict.why.empty())
      leaveUnexplained(verdict, unresolved + "no values of the plan's variables keep the model (" +
                                    std::to_string(fixed.fixes) + " fixes tried)");
    return verdict;
  }
  if (!solved)
    verdict.problems.push_back(unresolved + fixed.failure);
  else if (verdict.problems.empty() || fixed.failure != verdict.problems.back())
    verdict.problems.push_back("fixing every variable: " + fixed.failure);
  verdict.result = "FLAWS LEFT";
  return verdict;
}

/// The solver's figures; a search that saw no flaw left is not called solved when the plan is not.
std::string solverFigures(std::string figures, SOLVERS::Solver::Status status, const Verdict& verdict) {
  const std::string claim = "status=SOLVED";
  const std::string::size_type at = figures.rfind(claim);
  if (status == SOLVERS::Solver::SOLVED && !verdict.solved && at != std::string::npos)
    figures.replace(at, claim.size(), "status=NO_FLAW_SEEN");
  return figures;
}

/// The Why: lines above an INCONSISTENT or NO SOLUTION result.
void printWhy(std::ostream& out, const std::vector<std::string>& why) {
  for (size_t i = 0; i < why.size(); i++)
    out << (i == 0 ? "Why: " : "") << why[i] << std::endl;
}

/// The engine with its components and the registered modules; torn down in the right order.
class Host {
public:
  Host() {
    ConstraintEngine* ce = new ConstraintEngine();
    m_engine.addComponent(ConstraintEngine::COMPONENT_NAME(), ce);
    initConstraintLibrary(ce->getId());
    initTemporalConstraints(ce->getId());
    Schema* schema = new Schema();
    m_engine.addComponent("Schema", schema);
    m_db = new PlanDatabase(ce->getId(), schema->getId(), m_engine.getId());
    m_engine.addComponent(PlanDatabase::COMPONENT_NAME(), m_db);
    SOLVERS::initSolverComponents(m_engine);
    m_interpreter = new VexlXmlInterpreter(m_db->getId());
    m_engine.addLanguageInterpreter(VexlXmlInterpreter::name(), m_interpreter);
    try {
      for (const ModuleMaker& maker : moduleMakers()) {
        Module* module = maker();
        checkError(module != nullptr, "A module maker made no module.");
        std::unique_ptr<Module> owned(module);
        module->initialize(m_engine.getId());
        m_modules.push_back(owned.release());
      }
    } catch (...) {
      // No destructor runs for a half-built host: undo the modules made so far.
      tearDown();
      throw;
    }
  }
  ~Host() {
    // A debug line lost here is recorded and reported once; it cannot leave the destructor.
    DebugMessage::Teardown quiet;
    tearDown();
  }
  void tearDown() {
    // Objects and tokens go while the modules' components still exist.
    m_db->purge();
    for (auto it = m_modules.rbegin(); it != m_modules.rend(); ++it) {
      (*it)->uninitialize(m_engine.getId());
      delete *it;
    }
    m_modules.clear();
  }
  Engine& engine() { return m_engine; }
  PlanDatabase& db() { return *m_db; }
  VexlXmlInterpreter& interpreter() { return *m_interpreter; }
  SOLVERS::ComponentFactoryMgr& factories() {
    return *dynamic_cast<SOLVERS::ComponentFactoryMgr*>(
        m_engine.getComponent(SOLVERS::ComponentFactoryMgr::name()));
  }

private:
  Engine m_engine;
  PlanDatabase* m_db;
  VexlXmlInterpreter* m_interpreter;
  std::vector<Module*> m_modules;
};

/// Reads a solver configuration that must be one <Solver> element.
void readSolverConfig(const std::string& path, TiXmlDocument& config) {
  std::string text = VexlXmlInterpreter::readFile(path, "solver configuration");
  VexlXmlInterpreter::checkXmlText(text, path);
  VexlXmlInterpreter::checkXmlMarkup(text, path);
  config.Parse(text.c_str());
  if (config.Error()) {
    std::ostringstream os;
    os << path << ":" << std::max(config.ErrorRow(), 1) << ": malformed XML: " << config.ErrorDesc();
    throw BadInput{os.str()};
  }
  if (config.RootElement() == nullptr)
    throw BadInput{path + ":1: <Solver>: no XML element: a configuration is one <Solver> element"};
  if (std::string(config.RootElement()->Value()) != "Solver")
    throw BadInput{path + ":" + std::to_string(config.RootElement()->Row()) + ": <" +
                   config.RootElement()->Value() + ">: the root element must be <Solver>"};
  // Managers hold handlers, which hold nothing: text or deeper elements would be dropped.
  const TiXmlElement& solver = *config.RootElement();
  VexlXmlInterpreter::checkNoContent(solver, true, path);
  for (const TiXmlElement* manager = solver.FirstChildElement(); manager != nullptr;
       manager = manager->NextSiblingElement()) {
    VexlXmlInterpreter::checkNoContent(*manager, true, path);
    for (const TiXmlElement* handler = manager->FirstChildElement(); handler != nullptr;
         handler = handler->NextSiblingElement())
      VexlXmlInterpreter::checkNoContent(*handler, false, path);
  }
}

int execute(const Options& options, std::ostream& out, std::ostream& err) {
  // Until a file is in memory, no element of it is being read: the file is what the line names.
  enterStage("while reading the file", options.model + ": ");
  const std::string model = VexlXmlInterpreter::readFile(options.model, "model file");
  TiXmlDocument config;
  if (!options.solverConfig.empty()) {
    enterStage("while reading the file", options.solverConfig + ": ");
    readSolverConfig(options.solverConfig, config);
  }
  enterStage("while reading the input");

  std::unique_ptr<Host> owner(new Host());
  Host& host = *owner;
  // A program that exits right after the run lets the exit take the plan back; so does a run
  // that memory failed, whose teardown could fail again where nothing can be raised.
  const unsigned long failures = MemoryReserve::failures();
  struct LeftToExit {
    std::unique_ptr<Host>& owner;
    unsigned long failures;
    ~LeftToExit() {
      if (hostLeftToExit() || MemoryReserve::failures() != failures)
        owner.release();
    }
  } leftToExit{owner, failures};
  // Lines that name tokens use the names this model gave them.
  struct Naming {
    explicit Naming(const VexlXmlInterpreter& interpreter) { tokenNaming().interpreter = &interpreter; }
    ~Naming() { tokenNaming() = TokenNaming(); }
  } naming(host.interpreter());
  FailureReasons reasons(host.db().getId());
  std::string summary = host.interpreter().interpretText(model, options.model);
  if (options.solverConfig.empty())
    config.Parse(defaultSolverConfig().c_str());
  // The configuration is judged whole before anything is printed or searched; its components
  // refuse what they are asked when built, or only when a flaw reaches them.
  auto configError = [&](const Error& e, const std::string& when) {
    const std::string source = options.solverConfig.empty() ? std::string("default solver") : options.solverConfig;
    // A refused element comes with its place; anything else is the configuration's as a whole.
    if (e.hasElement() && e.getElementLine() > 0)
      return BadInput{source + ":" + std::to_string(e.getElementLine()) + ": " + e.getElement() + ": " + when +
                      e.getElementMsg()};
    const std::string message = e.getMsg().empty() ? "failed check '" + e.getCondition() + "'" : e.getMsg();
    const std::string where = options.solverConfig.empty()
                                  ? source
                                  : source + ":" + std::to_string(config.RootElement()->Row()) + ": <Solver>";
    return BadInput{where + ": " + when + message};
  };
  std::unique_ptr<SOLVERS::Solver> solver;
  struct SolverLeftToExit {
    std::unique_ptr<SOLVERS::Solver>& solver;
    unsigned long failures;
    ~SolverLeftToExit() {
      if (MemoryReserve::failures() != failures)
        solver.release();
    }
  } solverLeftToExit{solver, failures};
  try {
    solver.reset(new SOLVERS::Solver(host.engine(), *config.RootElement()));
  } catch (const Error& e) {
    throw configError(e, "");
  }
  for (const SOLVERS::FlawManagerId& manager : solver->getFlawManagers())
    for (const SOLVERS::ConfigurationWarning& warning : manager->getWarnings())
      err << "korvan-run: " << (options.solverConfig.empty() ? std::string("default solver") : options.solverConfig)
          << ":" << warning.line << ": " << warning.element << ": warning: " << warning.message << std::endl;
  out << "Model: " << summary << std::endl;

  const ConstraintEngineId& ce = host.db().getConstraintEngine();
  // A domain that reading emptied keeps its reason.
  enterStage("while propagating the model");
  if (!ce->propagate()) {
    printTokens(out, host.db().getId(), host.interpreter());
    printWhy(out, {reasons.last().empty() ? emptiedWhy(ce) : reasons.last()});
    out << "Result: " << (reasons.last().empty() ? "INCONSISTENT" : reasons.emptiedResult()) << std::endl;
    solver.reset();
    return EXIT_NO_SOLUTION;
  }
  bool solved = false;
  reasons.clear();
  GapSearch gapSearch;
  gapSearch.gap = firstChoiceGap(host.db().getId());
  Verdict verdict;
  unsigned int maxSteps = options.maxSteps;
  if (!gapSearch.gap.empty()) {
    enterStage("while fixing a schedule");
    gapSearch.fixed = fixSchedule(host.db().getId(), [&reasons](const std::string& problem) { reasons.note(problem); });
    if (gapSearch.fixed.outcome == ScheduleSearch::FOUND) {
      verdict.problems = checkPlan(host.db().getId());
      verdict.solved = verdict.problems.empty();
      verdict.result = verdict.solved ? "SOLVED" : "FLAWS LEFT";
    } else if (gapSearch.fixed.outcome == ScheduleSearch::NONE) {
      verdict.result = "NO SOLUTION";
      verdict.why = scheduleWhy(gapSearch.fixed, reasons);
    }
    if (!verdict.result.empty())
      verdict.schedule = gapSearch.gap + ", whose flaws' orderings need not cover every schedule; " +
                         (verdict.result == "NO SOLUTION" ? "no values of the plan's variables keep the model ("
                                                          : "every variable fixed (") +
                         std::to_string(gapSearch.fixed.fixes) + " fixes tried)";
    if (verdict.result == "NO SOLUTION" && verdict.why.empty())
      leaveUnexplained(verdict, gapSearch.gap + ", whose flaws' orderings need not cover every schedule; no values of "
                                "the plan's variables keep the model (" +
                                std::to_string(gapSearch.fixed.fixes) + " fixes tried)");
    reasons.clear();
    // The ordering search may still find a plan, but its exhaustion proves nothing here.
    const unsigned int bound = ScheduleSearch::budgetFor(host.db().getTokens().size());
    const unsigned int asked = maxSteps != 0 ? maxSteps : solver->getMaxSteps();
    if (asked == 0 || asked > bound) {
      maxSteps = bound;
      gapSearch.ownBound = true;
    }
  }
  enterStage("while solving");
  if (verdict.result.empty()) {
    try {
      solved = solver->solve(maxSteps, options.maxDepth);
    } catch (const Error& e) {
      throw configError(e, "while solving: ");
    }
  }
  enterStage("after solving");
  bool consistent = ce->propagate();
  const SOLVERS::Solver::Status status = solver->getStatus();
  const std::string figures = solver->printFigures();
  if (verdict.result.empty())
    verdict = decide(host.db().getId(), *solver, solved, consistent, reasons, gapSearch);
  out << "Solver " << solver->getName() << ": " << solverFigures(figures, status, verdict) << std::endl;
  if (!verdict.schedule.empty())
    out << "Schedule: " << verdict.schedule << std::endl;
  if (!verdict.schedule.empty())
    printChosenQuantities(out, host.db().getId(), host.interpreter());
  printTokens(out, host.db().getId(), host.interpreter());
  printObjects(out, host.db().getId());
  if (!verdict.problems.empty() && !verdict.solved) {
    out << "Left unresolved (" << verdict.problems.size() << "):" << std::endl;
    for (const std::string& problem : verdict.problems)
      out << "  " << problem << std::endl;
  }
  printWhy(out, verdict.why);
  const std::string& result = verdict.result;
  solved = verdict.solved;
  out << "Result: " << result << std::endl;
  // The decisions stay in the plan; the solver goes before the database it searched.
  solver.reset();
  (void)err;
  return solved ? EXIT_SOLVED : EXIT_NO_SOLUTION;
}

} // namespace

void registerModule(const ModuleMaker& maker) { moduleMakers().push_back(maker); }

void leaveHostToExit(bool leave) { hostLeftToExit() = leave; }

void registerObjectPrinter(const std::string& objectType, const ObjectPrinter& printer) {
  objectPrinters()[objectType] = printer;
}

void registerPlanChecker(const PlanChecker& checker) { planCheckers().push_back(checker); }

void registerDefaultFlawManagers(const std::string& elements) { defaultFlawManagers() += elements; }

void registerBookkeepingConstraint(const std::string& name) { bookkeepingConstraints().insert(name); }

void registerEmptyingExplainer(const EmptyingExplainer& explainer) { emptyingExplainers().push_back(explainer); }

void registerChoiceGap(const ChoiceGap& gap) { choiceGaps().push_back(gap); }

void registerDeadEnd(const DeadEnd& deadEnd) { deadEnds().push_back(deadEnd); }

void registerRefutation(const Refutation& refutation) { refutations().push_back(refutation); }

void registerUnjudgedChecker(const PlanChecker& checker) { unjudgedCheckers().push_back(checker); }

std::string tokenName(const TokenId& token) {
  TokenNaming& naming = tokenNaming();
  if (naming.interpreter != nullptr) {
    const std::map<std::string, TokenId>& named = naming.interpreter->getNamedTokens();
    if (naming.named != named.size()) {
      naming.names.clear();
      for (const auto& entry : named)
        if (entry.second.isValid())
          naming.names[entry.second->getKey()] = entry.first;
      naming.named = named.size();
    }
    std::map<int, std::string>::const_iterator name = naming.names.find(token->getKey());
    if (name != naming.names.end())
      return name->second;
  }
  return token->toString();
}

void clearRegistrations() {
  defaultFlawManagers().clear();
  bookkeepingConstraints().clear();
  moduleMakers().clear();
  planCheckers().clear();
  emptyingExplainers().clear();
  choiceGaps().clear();
  deadEnds().clear();
  refutations().clear();
  unjudgedCheckers().clear();
  objectPrinters().clear();
}

namespace {

/// Results that cannot be written are lost: a run that printed nothing must not look like one
/// that succeeded.
std::string outputFailure(std::ostream& out) {
  if (out.good())
    out.flush();
  if (out.good())
    return std::string();
  out.clear();
  return "cannot write the results to the standard output";
}

} // namespace

std::string usage() {
  return "usage: korvan-run [--solver CONFIG.xml] [--max-steps N] [--max-depth N] "
         "[--debug MARKER]... MODEL.xml\n"
         "       korvan-run --help\n"
         "exit status: 0 solved, 1 no solution, inconsistent, limit reached or flaws left, 2 bad input\n";
}

void endOnMemoryTermination() {
  std::terminate_handler previous = std::set_terminate(onTermination);
  if (previous != onTermination)
    sl_previousTerminate = previous;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  DebugMessage::clearStreamFailure();
  std::string message;
  bool showUsage = false;
  const unsigned long failures = MemoryReserve::failures();
  struct Reserve {
    ~Reserve() { MemoryReserve::disarm(); }
  } reserve;
  try {
    // Short texts, which need no memory of their own.
    enterStage("at the start");
    // What unwinds from a failed allocation, and the report of it, need memory of their own.
    MemoryReserve::arm(4 << 20);
    Options options = parseOptions(args);
    if (options.help) {
      out << usage();
      message = outputFailure(out);
      if (message.empty())
        return EXIT_SOLVED;
      throw BadInput{message};
    }
    int status = execute(options, out, err);
    // Sites register when the run first passes them: a pattern none of them has printed nothing.
    for (const std::string& pattern : options.debugPatterns)
      if (!DebugMessage::anySiteMatches(pattern))
        err << "korvan-run: warning: --debug " << pattern << ": no debug message of this run has a marker starting "
            << "with it: it printed nothing" << std::endl;
    message = outputFailure(out);
    if (DebugMessage::streamFailure().empty() && message.empty() && MemoryReserve::failures() == failures)
      return status;
  } catch (const BadInput& e) {
    message = e.message;
    showUsage = e.message.find("option") != std::string::npos || e.message.find("model given") != std::string::npos;
  } catch (const Error& e) {
    message = e.getMsg().empty() ? e.what() : e.getMsg();
  } catch (const std::bad_alloc&) {
    message = memoryRanOut();
  } catch (const std::exception& e) {
    message = e.what();
  }
  // A failed allocation that a stream swallowed is one all the same: what was printed may be cut short.
  if (MemoryReserve::failures() != failures) {
    if (message.find("memory ran out") == std::string::npos)
      message = memoryRanOut();
  } else if (!DebugMessage::streamFailure().empty()) {
    // Lost debug output is reported once, whatever it caused on its way.
    message = "cannot write the debug output: " + DebugMessage::streamFailure();
  }
  err << "korvan-run: " << message << std::endl;
  if (showUsage)
    err << usage();
  return EXIT_BAD_INPUT;
}

} // namespace HOST
} // namespace KORVAN
