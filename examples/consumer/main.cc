// A crane of capacity 1 and two jobs of 10 that both want it within [0, 10].
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "Resource/base/MIRT_ProfilePropagator.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/component/MIRT_Registration.hh"
#include "Resource/component/MIRT_Reusable.hh"
#include "Utils/base/Engine.hh"
#include <iostream>

using namespace KORVAN;

int main() {
  Engine engine;
  ConstraintEngine ce;
  new MIRT::ProfilePropagator(MIRT::ResourceTokenRelation::PROPAGATOR_NAME(), ce.getId());
  Schema schema;
  schema.addObjectType("Reusable");
  schema.addPredicate("Reusable.uses");
  PlanDatabase db(ce.getId(), schema.getId(), engine.getId());
  MIRT::registerProfilesAndDetectors(engine);
  const double inf = (double) g_infiniteTime();
  auto* crane = new MIRT::Reusable(db.getId(), "Reusable", "Crane", "ReusableFVDetector", "TimetableProfile",
                                   1, 1, 0, inf, inf);
  TokenId jobs[2];
  for (TokenId& job : jobs)
    job = (new MIRT::ReusableToken(db.getId(), "Reusable.uses", IntervalIntDomain(0, 10), IntervalIntDomain(),
                                   IntervalIntDomain(10, 10), IntervalDomain(1, 1), "Crane", true, true))->getId();
  for (const char* when : {"unordered", "ordered"}) {
    if (when[0] == 'o')
      crane->constrain(jobs[0], jobs[1]);
    std::vector<MIRT::InstantId> flaws;
    const bool consistent = ce.propagate();
    crane->getFlawedInstants(flaws);
    std::cout << when << ": " << (consistent ? "consistent, " : "inconsistent, ") << flaws.size()
              << " flawed instants, second job starts in " << jobs[1]->start()->lastDomain().toString() << "\n";
  }
}
