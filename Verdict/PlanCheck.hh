#ifndef KORVAN_VERDICT_PLANCHECK_HH
#define KORVAN_VERDICT_PLANCHECK_HH

// The host's checks of a finished plan and its search for a fixed schedule; internal to apps/.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "apps/KorvanRun.hh"
#include "Verdict/ScheduleSearch.hh"

namespace KORVAN {
namespace HOST {

// The registered plan checkers and the names of constraints that only keep the books.
std::vector<PlanChecker>& planCheckers();
std::vector<PlanChecker>& unjudgedCheckers();
std::set<std::string>& bookkeepingConstraints();
std::vector<DeadEnd>& deadEnds();
std::vector<Overload>& overloads();
std::vector<Refutation>& refutations();
std::vector<Refutation>& refutationsBeforeSearch();
std::vector<EnvelopeJudged>& envelopeJudged();
// The transactions that the modules' checks, printers and refutations read, for tests that
// count their work.
unsigned long long& transactionsRead();
// The uses that the unaries' overload checks read, for the same tests.
unsigned long long& usesRead();
// The transactions read by the schedule search's dead-end checks and their refutations, and the
// instants the resources' refutations read.
unsigned long long& deadEndReads();
// The tokens read to rank a token's candidate objects.
unsigned long long& crowdingReads();

namespace PlanCheck {

/// A number as the run prints it (no "-0").
std::string number(double value);

/// "v" for a singleton, "[lb ub]" otherwise.
std::string bounds(const AbstractDomain& domain);

/// A variable by the model's names: "repair.start" for a token's, its own name for an object's.
std::string variableName(const ConstrainedVariableId& var);

/// Whether a variable is a token's start or end: a duration is a difference of two of them, and a
/// relation over it ties four times, not two.
bool isTime(const ConstrainedVariableId& var);

/// Why propagation emptied a time in the temporal network: the windows, durations and
/// constraints around a cycle that no times meet, in the model's names; empty when no such cycle
/// is found among the time points' windows and the constraints that relate them.
std::string temporalCycle(const ConstraintEngineId& ce);

/// A variable on a cycle of bounded differences (the time points' windows, the temporal
/// relations, "eq", "leq" and "addEq") that no values keep, a token's time where the cycle has
/// one; noId when none is found. Such a cycle is a proof that the constraints hold no values.
ConstrainedVariableId timeOnCycle(const ConstraintEngineId& ce);

/// The variables that the relations `follows` accepts tie to `start`, directly or through others,
/// by key, `start` among them; `reached` gathers them across calls. `followed`, where given, gathers
/// the relations accepted on the way, by key.
void reachThrough(const ConstrainedVariableId& start, const std::function<bool(const ConstraintId&)>& follows,
                  std::map<int, ConstrainedVariableId>& reached, std::map<int, ConstraintId>* followed = nullptr);

/// The constraints between times that reach a time, directly or through other times (a cycle
/// through a distance that two relations share is no cycle of differences), in the model's
/// names, the durations aside; empty when none does.
std::string timeConstraintsAround(const ConstrainedVariableId& time);

/// What a module can say refutes the plan as it stands without a search; empty when none can.
/// `from`: the refutations asked, all of them by default.
std::string refutation(const PlanDatabaseId& db, const std::vector<Refutation>& from = refutations());

/// What the plan breaks whatever values its open variables take. `byEnvelope`: the tokens still to
/// order on objects judged by their envelopes (`registerEnvelopeJudged`) are no problem.
std::vector<std::string> planProblems(const PlanDatabaseId& db, bool byEnvelope = false);

/// Whether every object that still has tokens to order is judged by its envelope, and every active
/// token is on one object.
bool ordersJudgedByEnvelope(const PlanDatabaseId& db);

/// What the plan still breaks, and whether it holds a schedule.
std::vector<std::string> checkPlan(const PlanDatabaseId& db, bool byEnvelope = false);

/// A schedule fixed where the search could not prove the plan.
struct FixedSchedule {
  ScheduleSearch::Outcome outcome = ScheduleSearch::CUT;
  std::string failure;
  unsigned int fixes = 0;
  bool budgetSpent = false;
  bool shared = false; // objects were open: each choice of them got a share of the budget
  /// Propagation over the plan as the search found it, run again once the search was withdrawn,
  /// emptied a domain: a creep that an earlier pass left at the horizon was proved a cycle this
  /// time. The plan has no schedule, the engine is left inconsistent, and the emptying says why.
  bool emptied = false;
};

/// Fixes every variable of the plan in turn, looking for a schedule the checks accept; each
/// plan with every variable fixed that a check refuses is handed to `refused` with the first
/// thing it breaks. `wider`: a share skips what the registered overloads' wider tests give up.
FixedSchedule fixSchedule(const PlanDatabaseId& db, const std::function<void(const std::string&)>& refused = nullptr,
                          bool wider = false);

} // namespace PlanCheck
} // namespace HOST
} // namespace KORVAN

#endif
