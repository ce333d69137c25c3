#ifndef KORVAN_VERDICT_SCHEDULESEARCH_HH
#define KORVAN_VERDICT_SCHEDULESEARCH_HH

#include <functional>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"

namespace KORVAN {
namespace HOST {

/// A depth-first search for one schedule: the open time that propagation leaves the earliest, or
/// else the open variable it leaves the fewest values, is narrowed next, a wide window of whole numbers to one half and then the other, a
/// narrow one (or an enumeration) to each value in turn, propagating after each narrowing; a time
/// narrowed to a window is placed within it before anything else is narrowed; a
/// plan that `deadEnd` calls lost is given up at once, and a plan in which every variable is
/// fixed must pass `accept`. Where objects are open, each choice of them first gets a share of
/// the budget for what comes after it, starts placed serially (each at its earliest or postponed
/// past it); only a search that then tried everything is a proof.
///
/// Propagation and `deadEnd` only cut plans that no schedule needs, so a search that tried every
/// value of every variable without a cut is a proof: no schedule of these variables exists.
class ScheduleSearch {
public:
  enum Outcome { FOUND, NONE, CUT };

  /// Objects (rank 0) are fixed first; then, of the bounded variables, the entries marked
  /// earliestFirst whose domain starts earliest (times placed as they come), then the one of
  /// fewest values, on a tie the lower rank; variables without a bound come last.
  struct Entry {
    ConstrainedVariableId var;
    std::string label; // how a problem line names it
    int rank = 0;
    bool earliestFirst = false;
  };

  /// The entries read to choose the next one, over every search so far: a cost guard's count.
  static unsigned long long& entriesRead();

  /// At most `budget` narrowings are tried.
  ScheduleSearch(const ConstraintEngineId& ce, const std::vector<Entry>& order, unsigned int budget,
                 const std::function<bool()>& accept, const std::function<bool()>& deadEnd = nullptr);
  /// Objects of equal cost are tried in the order the model made them; `cost` (of a variable's
  /// object value) ranks them before that.
  void rankObjects(const std::function<double(const ConstrainedVariableId&, double)>& cost) { m_objectCost = cost; }
  /// While choices of objects get shares of the budget, a plan that `overloaded` calls lost is
  /// given up at once; the search that may prove there is no schedule does not ask it.
  void skipWhileSharing(const std::function<bool()>& overloaded) { m_overloaded = overloaded; }
  /// Times as they come are placed at their earliest or postponed past it, as under a share, in
  /// the search in full too: it still tries every value.
  void placeSerially() { m_serial = true; }
  /// Withdraws every fix that is still in place.
  ~ScheduleSearch();

  /// The fixes stay in place when a schedule is found; otherwise the plan is as it was.
  Outcome run();
  /// Where no time placed at its earliest moves another's earliest, the search places each open
  /// time in turn at its earliest, halving its window down to it: places them there at once
  /// instead, in the same order, and leaves the plan as the search would leave the schedule it
  /// finds. False, with the plan as it was, where a placement moved an earliest, failed, or left
  /// a variable open that the search would have fixed itself; the search then runs as ever.
  /// Only for a search that asks no dead end.
  bool placeAtEarliest();
  /// Withdraws the fixes of a schedule found.
  void withdraw();
  /// Leaves the fixes of a schedule found in the plan for good.
  void keep() { m_fixed.clear(); }

  /// What stopped a search that found nothing, for a problem line.
  const std::string& getFailure() const { return m_failure; }
  unsigned int getFixCount() const { return m_tried; }
  /// Whether the search stopped at its budget rather than after its last value.
  bool isBudgetSpent() const { return m_tried >= m_budget; }

  /// The budget for a search over `variables` variables: a hundred leaves' worth of fixes, at
  /// least 1,000, at most 100,000.
  static unsigned int budgetFor(size_t variables);

private:
  struct Frame;
  /// How an entry ranks for the next narrowing, the lowest first: a function of its domain.
  typedef std::tuple<int, int, int, double, int> Key;
  Key keyOf(size_t index) const;
  /// The entry to narrow next; the number of entries when none is open.
  size_t nextEntry(const std::vector<Frame>& path);
  /// Ranks again the entries whose domains changed since the last choice.
  void rerank();
  /// Fixes what the windows of a schedule found left at one value, and takes the windows away.
  void keepValues(std::vector<Frame>& path);
  /// Fixes the entries that propagation left at one value.
  void fixSingletons();
  Frame openFrame(size_t index);
  Outcome search(std::vector<Frame>& path);
  /// Whether the times under the newest choice of objects spent their share: then the path is
  /// back at that choice.
  bool shareSpent(std::vector<Frame>& path);
  /// Whether a share's search gives up the plan as overloaded.
  bool skipped();
  /// Applies the frame's next alternative; false when it has none left.
  bool nextAlternative(Frame& frame, double& lo, double& hi);
  void narrow(Frame& frame, double lo, double hi);
  /// Keeps, for the problem line, how far the first variable with an unbounded side was tried.
  void noteUnbounded(size_t index, double lb, double ub);
  /// Withdraws the frame's alternative; `propagate`: and narrows the plan again at once.
  void release(Frame& frame, bool propagate = true);

  ConstraintEngineId m_ce;
  std::vector<Entry> m_order;
  unsigned int m_budget;
  std::function<bool()> m_accept;
  std::function<bool()> m_deadEnd;
  std::function<bool()> m_overloaded;
  std::function<double(const ConstrainedVariableId&, double)> m_objectCost;
  std::vector<bool> m_downward; // per entry: its lower side had no bound, so it is tried from above
  std::vector<ConstrainedVariableId> m_fixed;
  unsigned int m_tried;
  unsigned int m_share = 0; // the fixes each choice of objects may spend on what comes after it; 0: all
  bool m_shareSpent = false;
  bool m_serial = false; // times placed serially outside shares too
  bool m_exhaustive;
  std::string m_failure;
  std::string m_first; // the first variable narrowed, with its domain then
  std::string m_unbounded; // the first variable stepped past a side without a bound, and how far
  // The open entries by rank, kept up to date with the entries whose domains changed (heard while
  // the search runs), so that choosing the next entry costs what the last fix changed.
  std::set<std::pair<Key, size_t>> m_open;
  std::vector<Key> m_keys;       // per entry: its rank in m_open, when it is there
  std::vector<char> m_listed;    // per entry: in m_open
  std::vector<char> m_changed;   // per entry: in m_rerank
  std::vector<size_t> m_rerank;
  std::unordered_map<const ConstrainedVariable*, size_t> m_entryOf;
};

/// The values of an enumerated domain; objects in the order the model made them, whatever the
/// order of their addresses.
std::list<double> inModelOrder(const AbstractDomain& dom);

} // namespace HOST
} // namespace KORVAN

#endif
