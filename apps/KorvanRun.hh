#ifndef KORVAN_APPS_KORVANRUN_HH
#define KORVAN_APPS_KORVANRUN_HH

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/Module.hh"

namespace KORVAN {
namespace HOST {

/// Exit statuses of korvan-run.
enum ExitStatus { EXIT_SOLVED = 0, EXIT_NO_SOLUTION = 1, EXIT_BAD_INPUT = 2 };

/// Makes a module that the host initialises with its engine (and uninitialises and deletes at
/// shut-down). Bindings linked into the program register theirs before run() (a static
/// registration object in the binding's source file is enough).
typedef std::function<Module*()> ModuleMaker;
/// Writes extra lines about one object (a resource's level envelope, say).
typedef std::function<void(std::ostream&, const ObjectId&)> ObjectPrinter;

void registerModule(const ModuleMaker& maker);
/// The printer applies to objects of the type and of its descendant types; the nearest type
/// with a printer wins.
void registerObjectPrinter(const std::string& objectType, const ObjectPrinter& printer);
/// Looks over the plan that the solver left and appends one line for each thing that breaks the
/// model (a level outside its limits, a token on no single object). The host says SOLVED only
/// when every checker appends nothing.
typedef std::function<void(const PlanDatabaseId&, std::vector<std::string>&)> PlanChecker;
void registerPlanChecker(const PlanChecker& checker);
/// Appends one line for each part of the model that no values of its variables can settle (a
/// resource never closed has no limits): such a plan is never SOLVED, yet a schedule search does
/// not count it as a dead end, so it ends FLAWS LEFT with that line.
void registerUnjudgedChecker(const PlanChecker& checker);

/// Flaw managers (XML elements, one a line) that go first in the solver configuration used when
/// none is given, ahead of the host's token orderings.
void registerDefaultFlawManagers(const std::string& elements);
/// A constraint that only ties a token to its object (or the like), which bounds propagation
/// decides exactly: the search for a schedule behind generic constraints passes over it.
void registerBookkeepingConstraint(const std::string& name);
/// A token as the model named it (its key text when the model gave it no name).
typedef std::function<std::string(const TokenId&)> TokenNamer;
/// Says in the model's words why a domain emptied, when a module knows (a resource that empties
/// a domain to report a violation); an empty text leaves it to the host. Called at the moment the
/// domain empties, within propagation: it must change nothing.
typedef std::function<std::string(const PlanDatabaseId&, const ConstraintEngine::Emptying&, const TokenNamer&)>
    EmptyingExplainer;
void registerEmptyingExplainer(const EmptyingExplainer& explainer);
/// During a run, a token as the model named it (its key text when the model gave it no name, or
/// outside a run), for the lines that the checkers and explainers write.
std::string tokenName(const TokenId& token);

/// Says in the model's words why no schedule of the plan as it stands keeps the model, where a
/// module can tell without a search (a level outside its limits at an instant in every schedule,
/// a use larger than its resource's capacity); empty when it cannot.
typedef std::function<std::string(const PlanDatabaseId&, const TokenNamer&)> Refutation;
void registerRefutation(const Refutation& refutation);
/// A refutation that one token proves alone, from the plan as modelled (a use larger than its
/// resource's capacity, a change over a rate or a total): asked before any search, since a token
/// the model made active on one resource is there in every schedule and no search can mend it.
void registerRefutationBeforeSearch(const Refutation& refutation);

/// For a program that ends as soon as run() returns: run() then leaves its engine, plan and
/// modules to the process's exit instead of tearing them down after the results are printed.
void leaveHostToExit(bool leave);

/// Says why the ordering choices offered at the plan's flaws may miss a schedule (a module whose
/// envelopes are not exact enough for orderings to cover every schedule); empty when they cannot.
/// An exhausted search over such a plan is no proof that none exists.
typedef std::function<std::string(const PlanDatabaseId&)> ChoiceGap;
void registerChoiceGap(const ChoiceGap& gap);
/// Says whether a plan checker judges the object by an envelope that holds every schedule, so
/// that the tokens it still asks to order break nothing once that check passes (a timetable asks
/// for orderings where no schedule breaks a limit). Asked before the schedule search that a
/// choice gap calls for: a plan whose checks pass there needs none.
typedef std::function<bool(const ObjectId&)> EnvelopeJudged;
void registerEnvelopeJudged(const EnvelopeJudged& judged);

/// Says whether every schedule the plan still allows breaks a limit (a level whose envelope lies
/// wholly outside its limits), so that the schedule search gives up the fixes that led there at
/// once instead of at every leaf below. Called within the search: it must change nothing, and it
/// must answer true only where no schedule is left.
typedef std::function<bool(const PlanDatabaseId&)> DeadEnd;
void registerDeadEnd(const DeadEnd& deadEnd);

/// Says, like a DeadEnd, that no schedule is left: the schedule search skips a choice of objects by
/// it while choices are tried by shares of its budget, and never counts what it skipped as
/// refuted, so that a search's proof of no schedule does not rest on it (the same test may also
/// serve, with its reason, as a refutation before any search). `wider`, where given, is such a
/// test that gives up more plans: it would change the path of runs answered without it, so only a
/// run left without an answer by a search whose shares spent its whole budget searches once more,
/// asking it instead.
struct Overload {
  DeadEnd test, wider;
};
void registerOverload(const DeadEnd& overload, const DeadEnd& wider = DeadEnd());

/// For the program itself, from its first static initialiser: a run ended by an exception that
/// nothing caught (say, std::bad_alloc while the runtime or a registration starts up) exits with
/// status 2 and one line on standard error when memory ran out, written without allocating.
void endOnMemoryTermination();

/// Forgets every registration (tests).
void clearRegistrations();

/// Runs the host program: builds the engine (constraint engine, schema, plan database,
/// "ComponentFactoryMgr", "MatchFinderMgr", the interpreter "vexl-xml"), initialises the
/// registered modules, reads the model, propagates, runs the solver and prints the outcome.
/// Returns an ExitStatus; errors go to `err`.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

/// The usage text.
std::string usage();

} // namespace HOST
} // namespace KORVAN

#endif
