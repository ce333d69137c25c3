#include "Verdict/RunVerdict.hh"

#include <algorithm>
#include <ostream>
#include <streambuf>

#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Verdict/PlanCheck.hh"

namespace KORVAN {
namespace HOST {

using namespace PlanCheck;

namespace {

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



// Takes every line and keeps none.
struct Discard : public std::streambuf {
  int overflow(int c) override { return traits_type::not_eof(c); }
};

/// Envelopes that keep every limit as modelled keep them in every schedule, however loose the
/// flaws they show (a timetable counts a give-back while its take may still come later): such a
/// plan needs no fixing. Asked only where every object's flaws are of that kind; it only reads and
/// writes no debug lines, so that a search after it writes what it wrote without it.
bool settledAsModelled(const PlanDatabaseId& db) {
  Discard discard;
  std::ostream quiet(&discard);
  std::ostream& lines = DebugMessage::getStream();
  DebugMessage::setStream(quiet);
  bool settled = false;
  try {
    settled = ordersJudgedByEnvelope(db) && checkPlan(db, true).empty();
  } catch (...) {
    DebugMessage::setStream(lines);
    throw;
  }
  DebugMessage::setStream(lines);
  return settled;
}

/// What a schedule search refuses, noted among the search's dead ends.
std::function<void(const std::string&)> noteIn(FailureReasons& reasons) {
  return [&reasons](const std::string& problem) { reasons.note(problem); };
}

/// Whether a search on the plan as modelled, whose shares of the choices of objects spent its whole
/// budget, may be searched once more with each share skipping what a wider overload test gives up.
/// Only where the run would otherwise be left without an answer: a wider test changes the path.
bool widens(const FixedSchedule& fixed) {
  return fixed.outcome == ScheduleSearch::CUT && fixed.budgetSpent && fixed.shared &&
         std::any_of(overloads().begin(), overloads().end(), [](const Overload& o) { return bool(o.wider); });
}

/// That search once more; only an answer replaces the first one's failure.
void searchWider(const PlanDatabaseId& db, FixedSchedule& fixed, const std::function<void(const std::string&)>& refused) {
  const unsigned int before = fixed.fixes;
  const FixedSchedule again = fixSchedule(db, refused, true);
  if (again.outcome != ScheduleSearch::CUT || again.emptied)
    fixed = again;
  fixed.fixes = before + again.fixes;
}

/// A plan that propagation emptied has no schedule: the emptying says why.
void emptiedPlan(const PlanDatabaseId& db, const FailureReasons& reasons, Verdict& verdict) {
  verdict.result = reasons.last().empty() ? "INCONSISTENT" : reasons.emptiedResult();
  verdict.problems.clear();
  verdict.schedule.clear();
  verdict.why.assign(1, reasons.last().empty() ? emptiedWhy(db->getConstraintEngine()) : reasons.last());
}

/// A plan as modelled that a module refutes has no schedule, whatever a search would try.
bool refuted(const PlanDatabaseId& db, Verdict& verdict) {
  const std::string why = refutation(db);
  if (why.empty())
    return false;
  verdict.result = "NO SOLUTION";
  verdict.problems.clear();
  verdict.why.assign(1, why);
  return true;
}

/// The verdict on a search stopped at a limit; false for one that ran to its end.
bool decideLimited(const PlanDatabaseId& db, SOLVERS::Solver& solver, bool consistent, const GapSearch& gapSearch,
                   Verdict& verdict) {
  const SOLVERS::Solver::Status status = solver.getStatus();
  if (status == SOLVERS::Solver::STEP_LIMIT && gapSearch.ownBound) {
    verdict.problems.push_back("the ordering search stopped at " + std::to_string(solver.getMaxSteps()) +
                               " steps: " + gapSearch.gap + ", whose flaws' orderings need not cover every schedule; " +
                               gapSearch.fixed.failure);
    verdict.result = "FLAWS LEFT";
    return true;
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
    return true;
  }
  // The checks and schedule searches below bound their own work.
  ce->setPropagationLimit(0);
  if (status == SOLVERS::Solver::DEPTH_LIMIT) {
    verdict.result = "LIMIT REACHED (depth limit " + std::to_string(solver.getMaxDepth()) + ")";
    return true;
  }
  return false;
}

/// The verdict on a search that refuted every dead end: NO SOLUTION, unless a schedule fixed in
/// the plan as modelled overturns it or the choices need not cover every schedule.
void decideExhausted(const PlanDatabaseId& db, FailureReasons& reasons, const GapSearch& gapSearch,
                     Verdict& verdict) {
  // Every dead end was refuted, but the choices offered at a flaw need not cover every schedule
  // (a timetable's flaw on a give-back counted before its take): a schedule fixed in the plan as
  // modelled overturns the verdict. A schedule search cut at its budget leaves it to the
  // exhausted one only where the module says its choices cover every schedule. The plan is as
  // modelled again: a search made there before the orderings need not be made twice.
  verdict.why = rankedWhy("every choice failed", reasons);
  // A search without a dead end to count leaves the reason to the schedule search's.
  bool counted = !verdict.why.empty();
  if (!counted)
    reasons.clear();
  FixedSchedule fixed = !gapSearch.gap.empty() ? gapSearch.fixed
                        : counted              ? fixSchedule(db)
                                               : fixSchedule(db, noteIn(reasons));
  // Cut, it leaves the run without an answer unless the dead ends counted refute the plan, which
  // they do not where the choices need not cover every schedule: there a search that proves
  // there is none says why by its own.
  if (widens(fixed) && (!counted || !gapSearch.gap.empty())) {
    counted = false;
    reasons.clear();
    verdict.why.clear();
    searchWider(db, fixed, noteIn(reasons));
  }
  if (fixed.emptied) {
    emptiedPlan(db, reasons, verdict);
    return;
  }
  if (fixed.outcome == ScheduleSearch::FOUND) {
    verdict.why.clear();
    verdict.problems = checkPlan(db);
    verdict.schedule = "every ordering choice failed, then every variable fixed (" +
                       std::to_string(fixed.fixes) + " fixes tried)";
    verdict.solved = verdict.problems.empty();
    verdict.result = verdict.solved ? "SOLVED" : "FLAWS LEFT";
    return;
  }
  const std::string gap = firstChoiceGap(db);
  if (fixed.outcome == ScheduleSearch::CUT && !gap.empty()) {
    verdict.why.clear();
    verdict.problems.push_back("every ordering choice failed, but " + gap +
                               ", whose flaws' orderings need not cover every schedule; " + fixed.failure);
    verdict.result = "FLAWS LEFT";
    return;
  }
  // A search with no dead end to count refuted nothing by itself: the plan's own refutation, or
  // the dead ends of a schedule search that tried every value, say why.
  if (!counted && refuted(db, verdict))
    return;
  if (!counted && fixed.outcome == ScheduleSearch::NONE)
    verdict.why = scheduleWhy(fixed, reasons);
  if (verdict.why.empty()) {
    leaveUnexplained(verdict, "every ordering choice failed; " + fixed.failure);
    return;
  }
  verdict.result = "NO SOLUTION";
}

/// The verdict on a plan that fails its checks or on a search that met flaws no choice resolves:
/// what a schedule search finds in it, or in the plan as modelled.
void decideBySchedule(const PlanDatabaseId& db, SOLVERS::Solver& solver, bool solved, FailureReasons& reasons,
                      const GapSearch& gapSearch, Verdict& verdict) {
  // An exhausted search that met flaws no choice resolves has left the plan as it found it, and so
  // has one that made no decision.
  bool asModelled = !solved || solver.getDepth() == 0;
  if (asModelled && refuted(db, verdict))
    return;
  FixedSchedule fixed = gapSearch.fixed;
  if (gapSearch.gap.empty() || solved) {
    reasons.clear();
    fixed = fixSchedule(db, noteIn(reasons));
  }
  if (fixed.emptied && asModelled) {
    emptiedPlan(db, reasons, verdict);
    return;
  }
  if (fixed.outcome != ScheduleSearch::FOUND && !asModelled) {
    // The decisions cut plans away, or left a search that spent its budget under them (orderings
    // that no choice of objects keeps): look again in the plan as modelled. Propagated afresh, it
    // may prove a creep that the first pass left at the horizon.
    solver.reset();
    if (!db->getConstraintEngine()->propagate()) {
      emptiedPlan(db, reasons, verdict);
      return;
    }
    if (refuted(db, verdict))
      return;
    verdict.problems = planProblems(db);
    reasons.clear();
    const FixedSchedule again = fixSchedule(db, noteIn(reasons));
    if (again.emptied) {
      emptiedPlan(db, reasons, verdict);
      return;
    }
    fixed.fixes += again.fixes;
    fixed.outcome = again.outcome;
    fixed.failure = again.failure;
    fixed.budgetSpent = again.budgetSpent;
    fixed.shared = again.shared;
    asModelled = true;
  }
  if (asModelled && widens(fixed)) {
    reasons.clear();
    searchWider(db, fixed, noteIn(reasons));
    if (fixed.emptied) {
      emptiedPlan(db, reasons, verdict);
      return;
    }
  }
  const std::string unresolved = solved ? std::string("")
                                        : "the search met " + std::to_string(solver.getUnresolvedCount()) +
                                              " flaw(s) that no choice resolves; ";
  if (fixed.outcome == ScheduleSearch::FOUND) {
    verdict.problems = checkPlan(db);
    verdict.schedule = unresolved + "every variable fixed (" + std::to_string(fixed.fixes) + " fixes tried)";
    verdict.solved = verdict.problems.empty();
    verdict.result = verdict.solved ? "SOLVED" : "FLAWS LEFT";
    return;
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
    return;
  }
  if (!solved)
    verdict.problems.push_back(unresolved + fixed.failure);
  else if (verdict.problems.empty() || fixed.failure != verdict.problems.back())
    verdict.problems.push_back("fixing every variable: " + fixed.failure);
  verdict.result = "FLAWS LEFT";
}

} // namespace

/// Why the engine holds an empty domain, when no reason was kept when it emptied: the first
/// emptied variable and the constraints over it.
std::string emptiedWhy(const ConstraintEngineId& ce) {
  const ConstrainedVariableSet empty = ce->getEmptyVariables();
  if (empty.empty())
    return std::string();
  return emptiedText(*empty.begin());
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

/// The verdict on the plan the solver left. NO SOLUTION needs every dead end of the search
/// refuted, a module's refutation of the plan as modelled, or a schedule search that tried every
/// value; SOLVED needs a plan that passes every check, a fixed schedule if need be. `reasons`
/// holds the search's dead ends.
Verdict decide(const PlanDatabaseId& db, SOLVERS::Solver& solver, bool solved, bool consistent,
               FailureReasons& reasons, const GapSearch& gapSearch) {
  Verdict verdict;
  if (decideLimited(db, solver, consistent, gapSearch, verdict))
    return verdict;
  if (solved && !consistent) {
    emptiedPlan(db, reasons, verdict);
    return verdict;
  }
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
    decideExhausted(db, reasons, gapSearch, verdict);
    return verdict;
  }
  decideBySchedule(db, solver, solved, reasons, gapSearch, verdict);
  return verdict;
}

/// Where the modules say orderings need not cover every schedule, a schedule search first: its
/// verdict when it finds one or proves there is none, and the bound the ordering search then runs
/// under.
void searchScheduleFirst(const PlanDatabaseId& db, const SOLVERS::Solver& solver, FailureReasons& reasons,
                         GapSearch& gapSearch, Verdict& verdict, unsigned int& maxSteps) {
  if (settledAsModelled(db)) {
    verdict.result = "SOLVED";
    verdict.solved = true;
    verdict.schedule = gapSearch.gap + ", whose flaws' orderings need not cover every schedule; every schedule keeps "
                                       "the limits (0 fixes tried)";
    return;
  }
  gapSearch.fixed = fixSchedule(db, [&reasons](const std::string& problem) { reasons.note(problem); });
  if (gapSearch.fixed.emptied) {
    emptiedPlan(db, reasons, verdict);
    return;
  }
  if (gapSearch.fixed.outcome == ScheduleSearch::FOUND) {
    verdict.problems = checkPlan(db);
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
  const unsigned int bound = ScheduleSearch::budgetFor(db->getTokens().size());
  const unsigned int asked = maxSteps != 0 ? maxSteps : solver.getMaxSteps();
  if (asked == 0 || asked > bound) {
    maxSteps = bound;
    gapSearch.ownBound = true;
  }
}

FailureReasons::FailureReasons(const PlanDatabaseId& db) : m_db(db) {
  const ConstraintEngineId& ce = m_db->getConstraintEngine();
  ce->setEmptyingListener([this](const ConstraintEngine::Emptying& emptying) {
    bool module = false;
    record(explain(emptying, module));
    m_lastByModule = module;
  });
  // An ordering that closes a cycle through a relation outside the temporal network (say "leq"
  // between two starts) moves the bounds a duration a pass through an open window: millions of
  // passes to the horizon, then the same for the next such ordering. The cycle is a proof long
  // before, asked for well under the step limit's cut so that a limited search goes on too.
  ce->setCreepProver([ce]() { return timeOnCycle(ce); }, SOLVERS::Solver::PROPAGATION_WORK_PER_CONSTRAINT / 10);
}

FailureReasons::~FailureReasons() {
  m_db->getConstraintEngine()->setEmptyingListener(nullptr);
  m_db->getConstraintEngine()->setCreepProver(nullptr, 0);
}

std::string FailureReasons::explain(const ConstraintEngine::Emptying& emptying, bool& module) const {
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
  const bool time = isTime(emptying.variable);
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

} // namespace HOST
} // namespace KORVAN
