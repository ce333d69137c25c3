#include "Resource/test/RcpspPlan.hh"

#include <ctime>
#include <sstream>
#include <tinyxml.h>

#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace RCPSP {

namespace {

std::string activityName(size_t index) { return "a" + std::to_string(index); }

std::string usesName(size_t index, size_t resource) {
  return activityName(index) + "r" + std::to_string(resource);
}

}

Plan::Plan(const Problem& problem, const std::string& profile) : m_problem(problem) {
  m_world.read(transactions(problem, profile));
  // What a precedence cannot say: start-to-start lags, and end-to-start ones
  // with a gap, as a temporal distance in [lag, +inf].
  for (const Lag& lag : problem.lags) {
    if (lag.fromEnd && lag.lag == 0)
      continue;
    const TokenId from = activity(lag.from);
    const TokenId to = activity(lag.to);
    ConstrainedVariableId distance =
      (new Variable<IntervalIntDomain>(m_world.ce->getId(), IntervalIntDomain(lag.lag, g_infiniteTime())))->getId();
    m_lagVariables.push_back(distance);
    std::vector<ConstrainedVariableId> scope = {lag.fromEnd ? ConstrainedVariableId(from->end())
                                                            : ConstrainedVariableId(from->start()),
                                                distance, ConstrainedVariableId(to->start())};
    m_lagConstraints.push_back(m_world.ce->createConstraint(LabelStr("temporalDistance"), scope));
  }
}

Plan::~Plan() {
  // Decisions first, then what the plan posted itself; the world purges the rest.
  m_solver.reset();
  for (ConstraintId& constraint : m_lagConstraints)
    constraint->discard();
  for (ConstrainedVariableId& variable : m_lagVariables)
    variable->discard();
}

std::string Plan::transactions(const Problem& problem, const std::string& profile) {
  std::ostringstream out;
  out << "<class name=\"Activity\"><predicate name=\"run\" kind=\"interval\"/></class>\n"
      << "<new type=\"Activity\" name=\"project\"/>\n";
  for (size_t r = 0; r < problem.capacities.size(); ++r)
    out << "<new type=\"Reusable\" name=\"R" << r << "\"><float value=\"" << problem.capacities[r]
        << "\"/><float value=\"0\"/></new>\n"
        << "<set object=\"R" << r << "\" member=\"profileType\" value=\"" << profile << "\"/>\n";
  out << "<close/>\n";
  const std::string window = "\"0 " + std::to_string(problem.horizon) + "\"";
  for (size_t i = 0; i < problem.activities.size(); ++i) {
    const Activity& activity = problem.activities[i];
    const std::string name = activityName(i);
    out << "<goal predicate=\"Activity.run\" name=\"" << name << "\" object=\"project\" start=" << window
        << " end=" << window << " duration=\"" << activity.duration << "\"/>\n";
    for (size_t r = 0; r < activity.demands.size(); ++r) {
      if (activity.demands[r] == 0)
        continue;
      const std::string uses = usesName(i, r);
      out << "<goal predicate=\"Reusable.uses\" name=\"" << uses << "\" object=\"R" << r << "\" start=" << window
          << " end=" << window << " duration=\"" << activity.duration << "\" quantity=\"" << activity.demands[r]
          << "\"/>\n"
          << "<constraint name=\"concurrent\" scope=\"" << name << ".start " << uses << ".start\"/>\n"
          << "<constraint name=\"concurrent\" scope=\"" << name << ".end " << uses << ".end\"/>\n";
    }
  }
  for (const Lag& lag : problem.lags)
    if (lag.fromEnd && lag.lag == 0)
      out << "<constraint name=\"precedes\" scope=\"" << activityName(lag.from) << ".end " << activityName(lag.to)
          << ".start\"/>\n";
  return out.str();
}

std::string Plan::solverConfiguration(unsigned int maxSteps) {
  return "<Solver name=\"rcpsp\" maxSteps=\"" + std::to_string(maxSteps) +
         "\">\n"
         "  <FlawManager component=\"MIRTThreatManager\" order=\"lower,most,earliest\">\n"
         "    <FlawHandler component=\"MIRTThreatHandler\" filter=\"both\"\n"
         "                 order=\"earliestPredecessor,latestSuccessor\"/>\n"
         "  </FlawManager>\n"
         "</Solver>\n";
}

bool Plan::propagate() { return m_world.ce->propagate(); }

void Plan::newSolver(const std::string& configuration) {
  TiXmlDocument document;
  document.Parse(configuration.c_str());
  checkError(!document.Error() && document.RootElement() != nullptr,
             "Bad solver configuration: " << document.ErrorDesc());
  m_solver.reset();
  m_solver.reset(new SOLVERS::Solver(m_world.engine, *document.RootElement()));
}

bool Plan::solve(const std::string& configuration) {
  newSolver(configuration);
  return m_solver->solve();
}

namespace {
// CPU time of the calling thread: steady on a machine shared with other work.
double threadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return (double) ts.tv_sec + 1e-9 * (double) ts.tv_nsec;
}
}

bool Plan::solveTimed(const std::string& configuration, double seconds, std::vector<double>& stepSeconds) {
  newSolver(configuration);
  double total = 0.0;
  while (m_solver->getStatus() == SOLVERS::Solver::UNSOLVED && total < seconds &&
         (m_solver->getMaxSteps() == 0 || m_solver->getStepCount() < m_solver->getMaxSteps())) {
    const double start = threadSeconds();
    m_solver->step();
    const double elapsed = threadSeconds() - start;
    stepSeconds.push_back(elapsed);
    total += elapsed;
  }
  return m_solver->isSolved();
}

TokenId Plan::activity(size_t index) const {
  const TokenId token = m_world.interpreter->getToken(activityName(index));
  checkError(token.isValid(), "No token for activity " << index);
  return token;
}

std::vector<int> Plan::earliestStarts() const {
  std::vector<int> starts;
  for (size_t i = 0; i < m_problem.activities.size(); ++i)
    starts.push_back(static_cast<int>(activity(i)->start()->lastDomain().getLowerBound()));
  return starts;
}

}
}
