#ifndef KORVAN_APPS_SCHEDULESEARCH_HH
#define KORVAN_APPS_SCHEDULESEARCH_HH

#include <functional>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"

namespace KORVAN {
namespace HOST {

/// A depth-first search for one schedule: each variable in turn is fixed to each value its
/// domain still holds (whole steps for numbers, every member of an enumeration), propagating
/// after each fix; a plan in which every variable is fixed must pass `accept`.
///
/// Propagation only narrows what no schedule needs, so a search that tried every value of every
/// variable without a cut is a proof: no schedule of these variables exists.
class ScheduleSearch {
public:
  enum Outcome { FOUND, NONE, CUT };

  /// Variables are fixed by rank; within a rank in the order given, or, for entries marked
  /// earliestFirst, the one whose domain starts earliest first (times placed as they come).
  struct Entry {
    ConstrainedVariableId var;
    std::string label; // how a problem line names it
    int rank = 0;
    bool earliestFirst = false;
  };

  /// At most `budget` fixes are tried.
  ScheduleSearch(const ConstraintEngineId& ce, const std::vector<Entry>& order, unsigned int budget,
                 const std::function<bool()>& accept);
  /// Withdraws every fix that is still in place.
  ~ScheduleSearch();

  /// The fixes stay in place when a schedule is found; otherwise the plan is as it was.
  Outcome run();
  /// Withdraws the fixes of a schedule found.
  void withdraw();
  /// Leaves the fixes of a schedule found in the plan for good.
  void keep() { m_fixed.clear(); }

  /// What stopped a search that found nothing, for a problem line.
  const std::string& getFailure() const { return m_failure; }
  unsigned int getFixCount() const { return m_tried; }
  /// Whether the search stopped at its budget rather than after its last value.
  bool isBudgetSpent() const { return m_tried >= m_budget; }

private:
  struct Frame;
  /// The entry to fix next: the first open one by rank; the number of entries when none is open.
  size_t nextEntry() const;
  Frame openFrame(size_t index);
  bool nextValue(Frame& frame, double& value);
  void release(Frame& frame);

  ConstraintEngineId m_ce;
  std::vector<Entry> m_order;
  unsigned int m_budget;
  std::function<bool()> m_accept;
  std::vector<ConstrainedVariableId> m_fixed;
  unsigned int m_tried;
  bool m_exhaustive;
  std::string m_failure;
  std::string m_first; // the first variable fixed, with its domain then
};

} // namespace HOST
} // namespace KORVAN

#endif
