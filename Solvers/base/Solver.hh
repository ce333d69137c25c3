#ifndef KORVAN_SOLVERS_SOLVER_HH
#define KORVAN_SOLVERS_SOLVER_HH

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Solvers/base/FlawManager.hh"
#include "Solvers/base/RefutedSets.hh"
#include "Utils/base/Engine.hh"

namespace KORVAN {
namespace SOLVERS {

/// Chronological backtracking search over the flaws of the plan database.
///
/// Configuration (see README.md):
///   <Solver name="..." maxSteps="N" maxDepth="N">
///     <FlawManager component="RegisteredName" ...attributes...>
///       <FlawHandler component="RegisteredName" ...filters and attributes.../>
///     </FlawManager>
///   </Solver>
/// Each step propagates; an inconsistent network backtracks; otherwise the best flaw of all
/// managers (lowest handler priority, then the earlier manager, then the manager's betterThan)
/// gets a decision point from its handler, which is initialised and executed. Backtracking
/// undoes the newest decision and executes its next choice, or pops it when it has none.
class Solver {
public:
  enum Status { UNSOLVED = 0, SOLVED, EXHAUSTED, STEP_LIMIT, DEPTH_LIMIT };

  /// Takes "PlanDatabase", "ComponentFactoryMgr" and "MatchFinderMgr" from the engine.
  Solver(Engine& engine, const TiXmlElement& configData);
  Solver(const PlanDatabaseId& db, ComponentFactoryMgr& factories, MatchFinderMgr* finders,
         const TiXmlElement& configData);
  ~Solver();

  const SolverId& getId() const { return m_id; }
  const std::string& getName() const { return m_name; }

  /// Searches until solved, exhausted, or a limit is hit. Limits of 0 mean the configured ones
  /// (themselves unlimited when absent). True when solved.
  bool solve(unsigned int maxSteps = 0, unsigned int maxDepth = 0);
  /// One step of the search; true while the search can go on.
  bool step();
  /// Undoes and deletes every decision, leaving the database as before the search.
  void reset();

  Status getStatus() const { return m_status; }
  static const char* statusName(Status status);
  bool isSolved() const { return m_status == SOLVED; }

  unsigned int getStepCount() const { return m_stepCount; }
  unsigned int getDepth() const { return static_cast<unsigned int>(m_decisionStack.size()); }
  unsigned int getDecisionCount() const { return m_decisionCount; }
  unsigned int getBacktrackCount() const { return m_backtrackCount; }
  double getElapsedSeconds() const { return m_elapsed; }
  unsigned int getMaxSteps() const { return m_maxSteps; }
  /// Under a step limit, a step's propagation may run this many constraint executions and
  /// propagator passes per constraint; past them the search ends at STEP_LIMIT.
  static const unsigned long PROPAGATION_WORK_PER_CONSTRAINT = 1000;
  /// Flaws whose handler offered no choice at all. Backtracking over one is no proof: the flaw
  /// may be one that no decision of this search can resolve (a bound that only fixing times
  /// tightens), so an exhausted search that met any proves nothing.
  unsigned int getUnresolvedCount() const { return m_unresolvedCount; }
  unsigned int getMaxDepth() const { return m_maxDepth; }

  const std::vector<DecisionPointId>& getDecisionStack() const { return m_decisionStack; }
  const std::vector<FlawManagerId>& getFlawManagers() const { return m_flawManagers; }
  const ContextId& getContext() const { return m_context; }

  /// "steps=.. decisions=.. backtracks=.. depth=.. time=..s status=.."
  std::string printFigures() const;

private:
  Solver(const Solver&) = delete;
  Solver& operator=(const Solver&) = delete;

  void build(ComponentFactoryMgr& factories, MatchFinderMgr* finders,
             const TiXmlElement& configData);
  bool propagate();
  /// Backtracks to the newest decision with a choice left and executes it; false when none.
  bool backtrack();
  /// Executes the decision point's next choice that leads to no plan already searched in vain;
  /// false when it has none left.
  bool executeNext(const DecisionPointId& dp);
  /// The sorted numbers of the executed decisions' signatures; false when one of them has none.
  bool signature(std::vector<int>& result) const;
  void publish();
  void release();

  SolverId m_id;
  std::string m_name;
  PlanDatabaseId m_db;
  Context* m_contextObj;
  ContextId m_context;
  std::vector<FlawManagerId> m_flawManagers;
  std::vector<DecisionPointId> m_decisionStack;
  Status m_status;
  unsigned int m_maxSteps;
  unsigned int m_maxDepth;
  unsigned int m_stepCount;
  unsigned int m_decisionCount;
  unsigned int m_backtrackCount;
  unsigned int m_unresolvedCount;
  // Sets of decisions whose whole subtree failed. The same orderings taken in another sequence
  // make the same plan, and the search from a plan does not depend on how it was reached.
  RefutedSets m_refuted;
  // Beside each decision on the stack: the number of its executed choice's signature, NO_CHOICE
  // or NO_SIGNATURE.
  std::vector<int> m_choices;
  enum { NO_CHOICE = -1, NO_SIGNATURE = -2 };
  double m_elapsed;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
