#ifndef KORVAN_APPS_PLANCHECK_HH
#define KORVAN_APPS_PLANCHECK_HH

// The host's checks of a finished plan and its search for a fixed schedule; internal to apps/.

#include <set>
#include <string>
#include <vector>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "apps/KorvanRun.hh"
#include "apps/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

// The registered plan checkers and the names of constraints that only keep the books.
std::vector<PlanChecker>& planCheckers();
std::set<std::string>& bookkeepingConstraints();
std::vector<DeadEnd>& deadEnds();

namespace PlanCheck {

/// "v" for a singleton, "[lb ub]" otherwise.
std::string bounds(const AbstractDomain& domain);

/// What the plan breaks whatever values its open variables take.
std::vector<std::string> planProblems(const PlanDatabaseId& db);

/// What the plan still breaks, and whether it holds a schedule.
std::vector<std::string> checkPlan(const PlanDatabaseId& db);

/// A schedule fixed where the search could not prove the plan.
struct FixedSchedule {
  ScheduleSearch::Outcome outcome = ScheduleSearch::CUT;
  std::string failure;
  unsigned int fixes = 0;
  bool budgetSpent = false;
};

/// Fixes every variable of the plan in turn, looking for a schedule the checks accept.
FixedSchedule fixSchedule(const PlanDatabaseId& db);

} // namespace PlanCheck
} // namespace HOST
} // namespace KORVAN

#endif
