// A small plan on a reusable resource, built through the C++ interface: a
// crane of capacity 1 that two jobs want over overlapping windows. Prints the
// level envelope and the flaws, orders the jobs, and prints them again.

#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Utils/base/Engine.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

using namespace KORVAN;
using namespace KORVAN::MIRT;

namespace {

// Adding 0.0 writes a negative zero as 0.
std::string window(const ConstrainedVariableId& var) {
  return "[" + toString(var->lastDomain().getLowerBound() + 0.0) + ", " +
         toString(var->lastDomain().getUpperBound() + 0.0) + "]";
}

// Jobs in the order they were made, with their names.
typedef std::vector<std::pair<TokenId, std::string>> Jobs;

const std::string& nameOf(const Jobs& jobs, const TokenId& tok) {
  for (const auto& job : jobs)
    if (job.first == tok)
      return job.second;
  static const std::string sl_unknown("?");
  return sl_unknown;
}

void printState(Reusable& crane, const Jobs& names) {
  for (const auto& entry : names)
    std::cout << "  " << entry.second << ": start " << window(entry.first->start()) << ", end "
              << window(entry.first->end()) << std::endl;

  ApResourceProfile* levels = crane.getLevels();
  ApResourceProfile* limits = crane.getLimits();
  std::cout << "  level envelope (limits [" << toString(limits->getLowerBound(0)) << ", "
            << toString(limits->getUpperBound(0)) << "]):" << std::endl;
  const ApList<TimePoint>& times = levels->getTimes();
  for (int i = 0; i < times.size(); ++i)
    std::cout << "    from " << times.get(i) << ": [" << toString(levels->getLowerBound(times.get(i))) << ", "
              << toString(levels->getUpperBound(times.get(i))) << "]" << std::endl;
  delete limits;
  delete levels;

  std::vector<InstantId> flaws;
  crane.getFlawedInstants(flaws);
  std::cout << "  flaws: " << flaws.size() << std::endl;
  for (const InstantId& inst : flaws) {
    std::cout << "    at " << inst->getTime() << ": level [" << toString(inst->getLowerLevel()) << ", "
              << toString(inst->getUpperLevel()) << "]";
    if (inst->hasLowerLevelFlaw())
      std::cout << ", below the lower limit by " << toString(inst->getLowerFlawMagnitude());
    if (inst->hasUpperLevelFlaw())
      std::cout << ", above the upper limit by " << toString(inst->getUpperFlawMagnitude());
    std::cout << std::endl;
  }
  for (const auto& entry : names) {
    if (!crane.hasTokensToOrder())
      break;
    std::vector<std::pair<TokenId, TokenId>> choices;
    crane.getOrderingChoices(entry.first, choices, 10);
    // Choices come in handle order, which carries no meaning: list them by name.
    std::vector<std::string> lines;
    for (const auto& choice : choices)
      lines.push_back(nameOf(names, choice.first) + " before " + nameOf(names, choice.second));
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines)
      std::cout << "    ordering choice for " << entry.second << ": " << line << std::endl;
  }
}

}

int main() {
  try {
    Engine engine;
    ConstraintEngine* ce = new ConstraintEngine();
    new ProfilePropagator(ResourceTokenRelation::PROPAGATOR_NAME(), ce->getId());
    Schema* schema = new Schema();
    schema->addObjectType("Reusable");
    schema->addPredicate("Reusable.uses");
    PlanDatabase* db = new PlanDatabase(ce->getId(), schema->getId(), engine.getId());
    registerProfilesAndDetectors(engine);

    const double inf = (double) g_infiniteTime();
    // Capacity 1, never below 0; the timetable profile bounds the level from each job's own window.
    Reusable* crane = new Reusable(db->getId(), "Reusable", "Crane", "ReusableFVDetector", "TimetableProfile",
                                   1, 1, 0, inf, inf);
    Jobs names;
    TokenId lift = (new ReusableToken(db->getId(), "Reusable.uses", IntervalIntDomain(0, 10), IntervalIntDomain(),
                                      IntervalIntDomain(10, 10), IntervalDomain(1, 1), "Crane", true, true))->getId();
    TokenId load = (new ReusableToken(db->getId(), "Reusable.uses", IntervalIntDomain(0, 10), IntervalIntDomain(),
                                      IntervalIntDomain(10, 10), IntervalDomain(1, 1), "Crane", true, true))->getId();
    names.push_back(std::make_pair(lift, std::string("lift")));
    names.push_back(std::make_pair(load, std::string("load")));

    std::cout << "Two jobs of 10 on a crane of capacity 1, each starting in [0, 10]:" << std::endl;
    if (!ce->propagate())
      std::cout << "  inconsistent" << std::endl;
    printState(*crane, names);

    std::cout << "After ordering lift before load:" << std::endl;
    crane->constrain(lift, load);
    if (!ce->propagate())
      std::cout << "  inconsistent" << std::endl;
    printState(*crane, names);

    delete db;
    delete schema;
    delete ce;
  }
  catch (const Error& e) {
    std::cerr << "resource-example: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
