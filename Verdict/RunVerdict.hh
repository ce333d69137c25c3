#ifndef KORVAN_VERDICT_RUNVERDICT_HH
#define KORVAN_VERDICT_RUNVERDICT_HH

// What korvan-run concludes from the search it ran: the result line and what it rests on;
// internal to apps/.

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Solvers/base/Solver.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/PlanCheck.hh"
#include "Verdict/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

// The registered explainers of an emptied domain, and the first module's account of a gap in its
// flaws' choices (empty for none).
std::vector<EmptyingExplainer>& emptyingExplainers();
std::string firstChoiceGap(const PlanDatabaseId& db);

/// The result line, with what it rests on.
struct Verdict {
  std::string result;
  std::vector<std::string> problems;
  std::string schedule; // how a schedule was fixed, when the search did not prove the plan
  std::vector<std::string> why; // under INCONSISTENT and NO SOLUTION: what makes it so
  bool solved = false;
};

/// Why propagation failed, in the model's words: for each failure, what emptied first and what
/// emptied it (a resource's limit, a constraint, the temporal network). Listens to the engine
/// from construction to destruction.
class FailureReasons {
public:
  explicit FailureReasons(const PlanDatabaseId& db);
  ~FailureReasons();

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

  std::string explain(const ConstraintEngine::Emptying& emptying, bool& module) const;

  PlanDatabaseId m_db;
  std::string m_last;
  bool m_lastByModule = false;
  std::map<std::string, unsigned int> m_counts;
  std::vector<std::string> m_order;
};

/// A schedule search ahead of the ordering search, where the modules say orderings need not cover
/// every schedule: there an exhausted ordering search proves nothing, so it is bounded.
struct GapSearch {
  std::string gap; // why orderings need not cover every schedule; empty: they do
  PlanCheck::FixedSchedule fixed;
  bool ownBound = false; // the ordering search runs under this bound, not the one asked for
};

/// Why the engine holds an empty domain, when no reason was kept when it emptied: the first
/// emptied variable and the constraints over it.
std::string emptiedWhy(const ConstraintEngineId& ce);

/// The Why: of a schedule search that tried every value: its dead ends counted, or, with nothing
/// fixed, the one thing the plan as it stands breaks.
std::vector<std::string> scheduleWhy(const PlanCheck::FixedSchedule& fixed, const FailureReasons& reasons);

/// A search that proved no schedule but kept no reason for it: NO SOLUTION would name nothing of
/// the model, so the plan is left undecided with what is known.
void leaveUnexplained(Verdict& verdict, const std::string& known);

/// The verdict on the plan the solver left. NO SOLUTION needs every dead end of the search
/// refuted, a module's refutation of the plan as modelled, or a schedule search that tried every
/// value; SOLVED needs a plan that passes every check, a fixed schedule if need be. `reasons`
/// holds the search's dead ends.
Verdict decide(const PlanDatabaseId& db, SOLVERS::Solver& solver, bool solved, bool consistent,
               FailureReasons& reasons, const GapSearch& gapSearch);

/// Where the modules say orderings need not cover every schedule, a schedule search first: its
/// verdict when it finds one or proves there is none, and the bound the ordering search then runs
/// under.
void searchScheduleFirst(const PlanDatabaseId& db, const SOLVERS::Solver& solver, FailureReasons& reasons,
                         GapSearch& gapSearch, Verdict& verdict, unsigned int& maxSteps);

} // namespace HOST
} // namespace KORVAN

#endif
