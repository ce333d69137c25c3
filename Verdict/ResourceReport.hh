// What korvan-run's binding of the resource module and its refutations share: levels and times
// in words, token lists, and each resource's transactions gathered once, never once per instant.

#ifndef KORVAN_VERDICT_RESOURCE_REPORT_HH
#define KORVAN_VERDICT_RESOURCE_REPORT_HH

#include <algorithm>
#include <cstddef>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "Resource/base/Instant.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/Resource.hh"
#include "Resource/base/Transaction.hh"
#include "apps/KorvanRun.hh"

namespace KORVAN {
namespace HOST {
namespace ResourceReport {

// A level or a total that a limit's report summed from finite quantities may pass the horizon
// and is still a number: `summed` prints only the horizon itself as infinite.
std::string level(double value, const Rounding& rounding = Rounding(), bool summed = false);

// A side of a level envelope read raw: a finite sum past the horizon is still a number, and only
// a side that no bound holds is infinite.
std::string side(double value, const Rounding& rounding = Rounding());

std::string time(TimePoint t);

// From when a quantity without a bound reaches each side of a resource's level: the sums take
// such a quantity as the horizon, which a finite term pulls back inside it, so from the earliest
// time of such a lowering change on the level has no lower bound, and from a raising one's no
// upper bound.
struct UnboundedSides {
  double lowerFrom = std::numeric_limits<double>::infinity();
  double upperFrom = std::numeric_limits<double>::infinity();

  void add(double earliest, bool lowers) {
    double& from = lowers ? lowerFrom : upperFrom;
    from = std::min(from, earliest);
  }
  IntervalDomain at(TimePoint t, double lb, double ub) const {
    const double horizon = g_infiniteTimeAsDouble();
    return IntervalDomain(t >= lowerFrom ? -horizon : lb, t >= upperFrom ? horizon : ub);
  }
  // The same sides as printed, from the raw sums: a finite sum past the horizon stays a number,
  // and one from an initial level without a bound is infinite already.
  double lower(TimePoint t, double lb) const { return t >= lowerFrom ? -std::numeric_limits<double>::infinity() : lb; }
  double upper(TimePoint t, double ub) const { return t >= upperFrom ? std::numeric_limits<double>::infinity() : ub; }
};

// The instant-based resource's change tokens, each counted as read.
std::vector<TransactionId> changesOf(KORVAN::Resource& resource);

UnboundedSides unboundedSides(const std::vector<TransactionId>& changes);

// The level envelope of the instant-based resource at `t`, with the sides that a quantity
// without a bound reaches unbounded.
IntervalDomain levelAt(KORVAN::Resource& resource, int t, const UnboundedSides& sides);

// The instant's envelope as printed, read once the resource brought it up to date (`levelAt`).
std::pair<double, double> printedLevel(const InstantId& instant, const UnboundedSides& sides);

std::string tokenList(const std::vector<TokenId>& tokens, const TokenNamer& nameOf);
/// The tokens' names, comma-separated, in the order the model made them.
std::string tokenNames(const std::vector<TokenId>& tokens, const TokenNamer& nameOf);

// Every transaction of the profile, counted as read: each starts at the instant of its earliest
// time and ends at that of its latest. The checks and printers gather them once per resource,
// never once per instant.
std::set<MIRT::TransactionId> transactionsOf(const MIRT::Resource& resource);

UnboundedSides unboundedSides(const MIRT::Resource& resource);

// What a transaction adds to its token's level on the side of a broken limit, and from when.
struct LevelChange {
  TokenId token;
  double from, change;
};

// The tokens that may hold the level outside a limit, instant after instant in time order: those
// whose own changes may count there on the side of the broken limit (a use that may be under way,
// a reservoir's consumption that may have come by then), whoever the envelope's bound rests on.
// Each change counts from its time on, so one pass over the changes sorted by it serves every
// instant.
class LevelTokens {
public:
  LevelTokens(const MIRT::Resource& resource, bool tooLow);
  // Asked at times that never go back.
  std::vector<TokenId> at(TimePoint time);

private:
  const bool m_tooLow;
  std::vector<LevelChange> m_changes;
  std::size_t m_next = 0;
  TimePoint m_last = -g_infiniteTime() - 1;
  std::map<TokenId, double> m_net;
  std::set<TokenId> m_holding;
};

std::vector<TokenId> levelTokens(const MIRT::Resource& resource, TimePoint time, bool tooLow);

// The same for the instant-based resource, whose change tokens count from their time on; an
// envelope outside both limits is held there by the tokens of either side.
class ChangeTokens {
public:
  explicit ChangeTokens(const std::vector<TransactionId>& changes);
  std::vector<TokenId> at(TimePoint time, bool tooLow, bool tooHigh) const;

private:
  std::vector<std::pair<TimePoint, TokenId>> m_lowering, m_raising;
};

std::vector<TokenId> levelTokens(KORVAN::Resource& resource, TimePoint time, bool tooLow, bool tooHigh);

}

// The refutations and the explanations of emptied domains, registered by the binding.
std::string refute(const PlanDatabaseId& db, const TokenNamer& nameOf);
std::string refuteAlone(const PlanDatabaseId& db, const TokenNamer& nameOf);
std::string refuteOverload(const PlanDatabaseId& db, const TokenNamer& nameOf);
std::string refuteTogether(const PlanDatabaseId& db, const TokenNamer& nameOf);
bool lostPlan(const PlanDatabaseId& db);
bool unaryOverloaded(const PlanDatabaseId& db);
bool reusableOverloaded(const PlanDatabaseId& db);
std::string explainEmptying(const PlanDatabaseId& db, const ConstraintEngine::Emptying& emptying,
                            const TokenNamer& nameOf);

}
}

#endif
