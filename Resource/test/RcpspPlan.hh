#ifndef KORVAN_RESOURCE_TEST_RCPSPPLAN_HH
#define KORVAN_RESOURCE_TEST_RCPSPPLAN_HH

// A scheduling instance as a plan: an engine as a host builds it with the
// resource module initialised, the model read by the "vexl-xml" interpreter
// (one "Reusable" per renewable resource, one "Activity.run" token per
// activity, one "Reusable.uses" token per activity and resource it needs,
// held "concurrent" with the activity's token), and the host solver run with
// the module's threat components.

#include <memory>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Resource/test/ModuleTestSupport.hh"
#include "Resource/test/RcpspData.hh"
#include "Solvers/base/Solver.hh"

namespace KORVAN {
namespace RCPSP {

class Plan {
public:
  // profile: the profile type of every resource ("FlowProfile", ...).
  Plan(const Problem& problem, const std::string& profile);
  ~Plan();

  // The model as vexl-xml transactions (the children of <vexl>). Start-to-start
  // lags and lags other than 0 are not in it: the plan posts them itself.
  static std::string transactions(const Problem& problem, const std::string& profile);
  // A solver configuration with the module's threat components.
  static std::string solverConfiguration(unsigned int maxSteps);

  bool propagate();
  // Runs a new solver with the configuration; true when it solved the plan.
  bool solve(const std::string& configuration);
  // The same, one step at a time, giving up after `seconds` of the thread's
  // CPU time; the CPU time of each step goes to stepSeconds.
  bool solveTimed(const std::string& configuration, double seconds, std::vector<double>& stepSeconds);
  SOLVERS::Solver& solver() { return *m_solver; }

  // The activity's token, and the earliest start of each activity that the
  // temporal network allows.
  TokenId activity(size_t index) const;
  std::vector<int> earliestStarts() const;

private:
  void newSolver(const std::string& configuration);

  const Problem& m_problem;
  MODULETEST::ModuleWorld m_world;
  std::vector<ConstrainedVariableId> m_lagVariables;
  std::vector<ConstraintId> m_lagConstraints;
  std::unique_ptr<SOLVERS::Solver> m_solver;
};

}
}

#endif
