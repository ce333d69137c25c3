#include "apps/ScheduleSearch.hh"

#include <cmath>
#include <list>
#include <memory>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace HOST {

/// One variable of the path: the values still to try, read from its domain when it was reached.
struct ScheduleSearch::Frame {
  size_t index;
  bool fixed = false;     // a value of this frame is in place
  bool enumerated = false;
  std::list<double> values; // members still to try, for an enumeration
  double next = 0, last = 0; // numbers: the next whole step to try, and the upper bound
  bool lastTried = false;
};

ScheduleSearch::ScheduleSearch(const ConstraintEngineId& ce, const std::vector<Entry>& order, unsigned int budget,
                               const std::function<bool()>& accept)
    : m_ce(ce), m_order(order), m_budget(budget), m_accept(accept), m_tried(0), m_exhaustive(true) {}

ScheduleSearch::~ScheduleSearch() { withdraw(); }

void ScheduleSearch::withdraw() {
  for (auto it = m_fixed.rbegin(); it != m_fixed.rend(); ++it)
    if ((*it).isValid() && (*it)->isSpecified())
      (*it)->reset();
  m_fixed.clear();
}

bool ScheduleSearch::nextValue(Frame& frame, double& value) {
  if (frame.enumerated) {
    if (frame.values.empty())
      return false;
    value = frame.values.front();
    frame.values.pop_front();
    return true;
  }
  if (frame.lastTried)
    return false;
  if (frame.next < frame.last) {
    value = frame.next;
    frame.next += 1;
    return true;
  }
  // The upper bound closes the steps: between the last whole step and it, values are untried
  // unless the domain holds whole numbers only.
  value = frame.last;
  frame.lastTried = true;
  return true;
}

void ScheduleSearch::release(Frame& frame) {
  if (!frame.fixed)
    return;
  const ConstrainedVariableId& var = m_order[frame.index].var;
  var->reset();
  m_fixed.pop_back();
  frame.fixed = false;
  // Relaxing back to a plan that propagated before cannot fail.
  const bool consistent = m_ce->propagate();
  checkError(consistent, "The plan became inconsistent when the schedule search withdrew " << m_order[frame.index].label);
}

size_t ScheduleSearch::nextEntry() const {
  size_t best = m_order.size();
  for (size_t i = 0; i < m_order.size(); i++) {
    const AbstractDomain& dom = m_order[i].var->lastDomain();
    if (dom.isSingleton())
      continue;
    if (best == m_order.size() || m_order[i].rank < m_order[best].rank)
      best = i;
    else if (m_order[i].rank == m_order[best].rank && m_order[i].earliestFirst &&
             dom.getLowerBound() < m_order[best].var->lastDomain().getLowerBound())
      best = i;
  }
  return best;
}

// The values to try for the entry at index: a whole-step range when its domain is an interval.
ScheduleSearch::Frame ScheduleSearch::openFrame(size_t index) {
  const double horizon = g_infiniteTimeAsDouble();
  const AbstractDomain& dom = m_order[index].var->lastDomain();
  Frame frame;
  frame.index = index;
  if (dom.isEnumerated()) {
    frame.enumerated = true;
    dom.getValues(frame.values);
  } else {
    double lb = dom.getLowerBound(), ub = dom.getUpperBound();
    // An unbounded side is stepped from the side that is known, or from 0.
    if (!(lb > -horizon) || !(ub < horizon)) {
      m_exhaustive = false;
      if (!(lb > -horizon))
        lb = ub < horizon ? std::min(ub, 0.0) : 0.0;
      if (!(ub < horizon))
        ub = lb + static_cast<double>(m_budget);
    }
    // Whole steps miss the values between them unless the domain holds whole numbers only.
    if (dom.minDelta() < 1)
      m_exhaustive = false;
    frame.next = lb;
    frame.last = ub;
  }
  return frame;
}

ScheduleSearch::Outcome ScheduleSearch::run() {
  std::vector<Frame> path;
  size_t index = 0;
  bool descend = true;
  for (;;) {
    if (descend) {
      // What propagation has already fixed is skipped.
      index = nextEntry();
      if (index == m_order.size()) {
        if (m_accept())
          return FOUND;
        descend = false;
        if (path.empty())
          break;
        continue;
      }
      const ConstrainedVariableId& var = m_order[index].var;
      const AbstractDomain& dom = var->lastDomain();
      Frame frame = openFrame(index);
      if (!var->canBeSpecified()) {
        m_exhaustive = false;
        if (m_failure.empty())
          m_failure = m_order[index].label + " cannot be fixed";
        descend = false;
        if (path.empty())
          break;
        continue;
      }
      if (path.empty())
        m_first = m_order[index].label + " " + (dom.isEnumerated() ? dom.toString()
                                                : "[" + toString(dom.getLowerBound()) + " " + toString(dom.getUpperBound()) + "]");
      path.push_back(std::move(frame));
    }
    // Try the next value of the newest frame; when it has none left, go back one frame.
    Frame& frame = path.back();
    release(frame);
    const ConstrainedVariableId& var = m_order[frame.index].var;
    double value = 0;
    bool placed = false;
    while (!placed && nextValue(frame, value)) {
      if (m_tried >= m_budget) {
        m_failure = "no schedule found within " + std::to_string(m_budget) + " fixes";
        while (!path.empty()) {
          release(path.back());
          path.pop_back();
        }
        return CUT;
      }
      if (!var->baseDomain().isMember(value) || !var->lastDomain().isMember(value))
        continue;
      m_tried++;
      debugMsg("ScheduleSearch:run", "fixing " << m_order[frame.index].label << " at " << value);
      var->specify(value);
      m_fixed.push_back(var);
      frame.fixed = true;
      if (m_ce->propagate())
        placed = true;
      else
        release(frame);
    }
    if (placed) {
      descend = true;
      continue;
    }
    if (path.size() == 1 && m_failure.empty())
      m_failure = m_first + " tried: no schedule found" +
                  (m_exhaustive ? std::string("") : std::string(" (numbers tried at whole steps only)"));
    path.pop_back();
    descend = false;
    if (path.empty())
      break;
  }
  if (m_failure.empty())
    m_failure = "no schedule found";
  return m_exhaustive ? NONE : CUT;
}

} // namespace HOST
} // namespace KORVAN
