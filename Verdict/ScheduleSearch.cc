#include "Verdict/ScheduleSearch.hh"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <list>
#include <memory>
#include <sstream>
#include <tuple>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Verdict/ChangeWatch.hh"

namespace KORVAN {
namespace HOST {

namespace {

// A window of whole numbers wider than this is halved rather than stepped through: a half that
// propagation or a dead end refutes costs one fix instead of one per value.
const double sl_splitAbove = 8;

// Whether a window [lb ub] of a domain's whole numbers is halved rather than stepped through.
bool halves(const AbstractDomain& dom, double lb, double ub) {
  return dom.minDelta() >= 1 && lb == std::floor(lb) && ub == std::floor(ub) && ub - lb + 1 > sl_splitAbove;
}

// A variable that no constraint reaches and nothing listens to (a profile listens to the
// quantities of the tokens on it) holds no schedule back.
bool holdsNothingBack(const ConstrainedVariableId& var) {
  ConstraintSet constraints;
  var->constraints(constraints);
  return var->listenerCount() == 0 &&
         std::none_of(constraints.begin(), constraints.end(), [](const ConstraintId& c) { return c->isActive(); });
}

// Whether a domain's values are objects: addresses, which are neither ordered nor shown as numbers.
bool holdsObjects(const AbstractDomain& dom) {
  return dynamic_cast<const ObjectDomain*>(&dom) != nullptr;
}

// The values of an enumerated domain in the order they are tried. An object's value is its
// address: objects go in the order the model made them, so that the search, and the schedule it
// finds, do not hang on where earlier work left the heap; a cost given ranks them before that.
std::list<double> valuesToTry(const AbstractDomain& dom, const std::function<double(double)>& cost) {
  std::list<double> values;
  dom.getValues(values);
  if (values.size() < 2 || !holdsObjects(dom))
    return values;
  std::vector<std::pair<double, double>> ranked; // cost, value
  for (double value : values)
    ranked.push_back(std::make_pair(cost ? cost(value) : 0.0, value));
  std::sort(ranked.begin(), ranked.end(), [](const std::pair<double, double>& a, const std::pair<double, double>& b) {
    return a.first != b.first ? a.first < b.first : ObjectId(a.second)->getKey() < ObjectId(b.second)->getKey();
  });
  values.clear();
  for (const auto& entry : ranked)
    values.push_back(entry.second);
  return values;
}

// A value as a debug line shows it: an object by its name, a number as streamed.
std::string shown(const AbstractDomain& dom, double value) {
  if (holdsObjects(dom))
    return dom.toString(value);
  std::ostringstream os;
  os << value;
  return os.str();
}

} // namespace

std::list<double> inModelOrder(const AbstractDomain& dom) {
  return valuesToTry(dom, nullptr);
}

/// One variable of the path: the alternatives still to try, read from its domain when reached.
/// An alternative is a value (lo == hi) or a window [lo hi] held by an "eq" to a variable of its own.
struct ScheduleSearch::Frame {
  size_t index;
  bool fixed = false; // an alternative of this frame is in place
  bool object = false; // the frame chooses a token's object
  bool serial = false; // a time placed at its earliest, or else postponed past it
  size_t choice = SIZE_MAX; // where on the path the newest frame that chooses objects is, up to this one
  unsigned int placedAt = 0; // the fixes tried when its alternative was placed
  std::list<std::pair<double, double>> alternatives;
  // Numbers stepped one by one: the next step, the bound that closes the steps.
  bool stepping = false;
  double next = 0, last = 0, step = 1;
  bool lastTried = false;
  ConstraintId window;
  std::shared_ptr<ConstrainedVariable> windowVar;
};

ScheduleSearch::ScheduleSearch(const ConstraintEngineId& ce, const std::vector<Entry>& order, unsigned int budget,
                               const std::function<bool()>& accept, const std::function<bool()>& deadEnd)
    : m_ce(ce), m_order(order), m_budget(budget), m_accept(accept), m_deadEnd(deadEnd),
      m_downward(order.size(), false), m_tried(0), m_exhaustive(true) {}

ScheduleSearch::~ScheduleSearch() { withdraw(); }

unsigned long long& ScheduleSearch::entriesRead() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned int ScheduleSearch::budgetFor(size_t variables) {
  return static_cast<unsigned int>(std::min<size_t>(100000, std::max<size_t>(1000, 100 * variables)));
}

void ScheduleSearch::withdraw() {
  for (auto it = m_fixed.rbegin(); it != m_fixed.rend(); ++it)
    if ((*it).isValid() && (*it)->isSpecified())
      (*it)->reset();
  m_fixed.clear();
}

bool ScheduleSearch::nextAlternative(Frame& frame, double& lo, double& hi) {
  if (!frame.stepping) {
    if (frame.alternatives.empty())
      return false;
    lo = frame.alternatives.front().first;
    hi = frame.alternatives.front().second;
    frame.alternatives.pop_front();
    return true;
  }
  if (frame.lastTried)
    return false;
  if (frame.step > 0 ? frame.next < frame.last : frame.next > frame.last) {
    lo = hi = frame.next;
    frame.next += frame.step;
    return true;
  }
  // The far bound closes the steps: between the last whole step and it, values are untried
  // unless the domain holds whole numbers only.
  lo = hi = frame.last;
  frame.lastTried = true;
  return true;
}

void ScheduleSearch::noteUnbounded(size_t index, double lb, double ub) {
  if (m_unbounded.empty())
    m_unbounded = m_order[index].label + " has no bound and was tried from " + toString(lb) + " to " + toString(ub) + " only";
}

void ScheduleSearch::narrow(Frame& frame, double lo, double hi) {
  const ConstrainedVariableId& var = m_order[frame.index].var;
  m_tried++;
  frame.fixed = true;
  if (lo == hi) {
    debugMsg("ScheduleSearch:run", "fixing " << m_order[frame.index].label << " at " << shown(var->lastDomain(), lo));
    var->specify(lo);
    m_fixed.push_back(var);
    return;
  }
  debugMsg("ScheduleSearch:run", "narrowing " << m_order[frame.index].label << " to [" << lo << " " << hi << "]");
  frame.windowVar.reset(new Variable<IntervalDomain>(m_ce, IntervalDomain(lo, hi)));
  frame.window = m_ce->createConstraint(LabelStr("eq"), {var, frame.windowVar->getId()});
}

void ScheduleSearch::release(Frame& frame, bool propagate) {
  if (!frame.fixed)
    return;
  frame.fixed = false;
  if (frame.window.isValid()) {
    m_ce->deleteConstraint(frame.window);
    frame.window = ConstraintId::noId();
    frame.windowVar.reset();
  } else {
    m_order[frame.index].var->reset();
    m_fixed.pop_back();
  }
  if (!propagate)
    return;
  // Relaxing back to a plan that propagated before cannot fail.
  const bool consistent = m_ce->propagate();
  checkError(consistent, "The plan became inconsistent when the schedule search withdrew " << m_order[frame.index].label);
}

ScheduleSearch::Key ScheduleSearch::keyOf(size_t i) const {
  // Objects first; then bounded before unbounded; times as they come (a serial schedule keeps
  // the envelope before them exact), then fewer values first, then the lower rank.
  const double horizon = g_infiniteTimeAsDouble();
  const AbstractDomain& dom = m_order[i].var->lastDomain();
  const bool bounded = dom.getLowerBound() > -horizon && dom.getUpperBound() < horizon;
  const double size = dom.isEnumerated() && dom.isFinite() ? dom.getSize() : dom.getUpperBound() - dom.getLowerBound() + 1;
  const bool early = m_order[i].earliestFirst && bounded;
  return std::make_tuple(m_order[i].rank == 0 ? 0 : 1, bounded ? 0 : 1, early ? 0 : 1,
                         early ? dom.getLowerBound() : bounded ? size : 0.0, m_order[i].rank);
}

void ScheduleSearch::rerank() {
  for (size_t i : m_rerank) {
    m_changed[i] = false;
    entriesRead()++;
    if (m_listed[i])
      m_open.erase(std::make_pair(m_keys[i], i));
    m_listed[i] = !m_order[i].var->lastDomain().isSingleton();
    if (m_listed[i]) {
      m_keys[i] = keyOf(i);
      m_open.insert(std::make_pair(m_keys[i], i));
    }
  }
  m_rerank.clear();
}

size_t ScheduleSearch::nextEntry(const std::vector<Frame>& path) {
  // A time narrowed to a window is placed within it before the next is narrowed: a window that
  // holds no place is then given up at once, not after every placement of the others.
  if (!path.empty() && path.back().window.isValid() && !path.back().serial && m_order[path.back().index].earliestFirst &&
      !m_order[path.back().index].var->lastDomain().isSingleton())
    return path.back().index;
  // The lowest rank, the first entry among equals.
  rerank();
  return m_open.empty() ? m_order.size() : m_open.begin()->second;
}

// The alternatives for the entry at index: its members, the halves of a wide window of whole
// numbers, or whole steps.
ScheduleSearch::Frame ScheduleSearch::openFrame(size_t index) {
  const double horizon = g_infiniteTimeAsDouble();
  const AbstractDomain& dom = m_order[index].var->lastDomain();
  Frame frame;
  frame.index = index;
  frame.object = holdsObjects(m_order[index].var->baseDomain());
  // One value of a variable that holds no schedule back stands for all of them: trying the others
  // would only repeat every failure below it.
  if (holdsNothingBack(m_order[index].var)) {
    double value = 0;
    if (dom.isEnumerated())
      value = valuesToTry(dom, nullptr).front();
    else
      value = std::min(std::max(0.0, dom.getLowerBound()), dom.getUpperBound());
    frame.alternatives.push_back(std::make_pair(value, value));
    return frame;
  }
  if (dom.isEnumerated()) {
    std::function<double(double)> cost;
    if (m_objectCost)
      cost = [&](double value) { return m_objectCost(m_order[index].var, value); };
    for (double value : valuesToTry(dom, cost))
      frame.alternatives.push_back(std::make_pair(value, value));
    return frame;
  }
  double lb = dom.getLowerBound(), ub = dom.getUpperBound();
  // Under a share, a time as it comes is placed at its earliest or else postponed past it, and
  // then the earliest open time goes next: a serial schedule, far fewer fixes than halving its
  // window where uses must pack tight. The search in full halves as ever.
  if ((m_share > 0 || m_serial) && m_order[index].earliestFirst && lb > -horizon && ub < horizon && lb < ub &&
      dom.minDelta() >= 1 && lb == std::floor(lb) && ub == std::floor(ub)) {
    frame.serial = true;
    frame.alternatives.push_back(std::make_pair(lb, lb));
    frame.alternatives.push_back(std::make_pair(lb + 1, ub));
    return frame;
  }
  // An unbounded side is stepped from the side that is known, a few steps for each variable of
  // the search: nothing bounds what it could need. Unbounded on both sides, the number may be
  // needed on either: the steps up from 0 come first, then those down from -1.
  if (!(lb > -horizon) || !(ub < horizon)) {
    m_exhaustive = false;
    const double reach = static_cast<double>(m_order.size() + 16);
    if (!(lb > -horizon) && !(ub < horizon)) {
      frame.alternatives.push_back(std::make_pair(0.0, reach));
      frame.alternatives.push_back(std::make_pair(-reach, -1.0));
      m_downward[index] = true;
      noteUnbounded(index, -reach, reach);
      return frame;
    }
    if (!(lb > -horizon)) {
      lb = std::min(ub, 0.0) - reach;
      m_downward[index] = true;
    } else
      ub = lb + reach;
    noteUnbounded(index, lb, ub);
  }
  // Below a known upper side only, values are tried down from it, nearest first.
  const bool down = m_downward[index] && lb < 0;
  if (halves(dom, lb, ub)) {
    const double mid = std::floor((lb + ub) / 2);
    frame.alternatives.push_back(std::make_pair(lb, mid));
    frame.alternatives.insert(down ? frame.alternatives.begin() : frame.alternatives.end(), std::make_pair(mid + 1, ub));
    return frame;
  }
  // Whole steps miss the values between them unless the domain holds whole numbers only.
  if (dom.minDelta() < 1)
    m_exhaustive = false;
  frame.stepping = true;
  frame.step = down ? -1 : 1;
  frame.next = down ? ub : lb;
  frame.last = down ? lb : ub;
  return frame;
}

ScheduleSearch::Outcome ScheduleSearch::run() {
  std::vector<Frame> path;
  // What the checks keep while this search runs, and the entries whose domains change.
  SearchScope scope(m_ce);
  m_entryOf.clear();
  for (size_t i = 0; i < m_order.size(); i++)
    m_entryOf[(const ConstrainedVariable*) m_order[i].var] = i;
  m_keys.assign(m_order.size(), Key());
  m_listed.assign(m_order.size(), false);
  m_changed.assign(m_order.size(), true);
  m_open.clear();
  m_rerank.clear();
  for (size_t i = 0; i < m_order.size(); i++)
    m_rerank.push_back(i);
  ChangeWatch watch(m_ce, [this](const ConstrainedVariable& var) {
    const std::unordered_map<const ConstrainedVariable*, size_t>::const_iterator entry = m_entryOf.find(&var);
    if (entry != m_entryOf.end() && !m_changed[entry->second]) {
      m_changed[entry->second] = true;
      m_rerank.push_back(entry->second);
    }
  });
  try {
    // A choice of objects that holds no schedule can hide one under many times: first each choice
    // gets a share of the budget, then, if some share ran out, the rest of the budget searches
    // everything again, so that what no share found can still be proved absent.
    const bool objects = std::any_of(m_order.begin(), m_order.end(), [](const Entry& entry) {
      return holdsObjects(entry.var->baseDomain()) && !entry.var->lastDomain().isSingleton();
    });
    m_share = objects ? std::max(100u, m_budget / 8) : 0;
    const Outcome outcome = search(path);
    if (outcome == FOUND || !m_shareSpent || isBudgetSpent())
      return outcome;
    m_share = 0;
    m_exhaustive = true;
    m_failure.clear();
    m_unbounded.clear();
    m_downward.assign(m_order.size(), false);
    return search(path);
  } catch (...) {
    // A failure inside the search leaves no window behind for the engine to reach later.
    for (auto it = path.rbegin(); it != path.rend(); ++it)
      if (it->window.isValid())
        m_ce->deleteConstraint(it->window);
    throw;
  }
}

bool ScheduleSearch::skipped() {
  if (m_share == 0 || !m_overloaded || !m_overloaded())
    return false;
  // What is skipped here is not refuted: the search in full must still come.
  m_shareSpent = true;
  m_exhaustive = false;
  return true;
}

bool ScheduleSearch::shareSpent(std::vector<Frame>& path) {
  if (m_share == 0 || path.back().object)
    return false;
  if (path.back().choice == SIZE_MAX)
    return false;
  const Frame* choice = &path[path.back().choice];
  if (m_tried - choice->placedAt < m_share)
    return false;
  // With no other choice of objects left to try, giving this one up would gain nothing.
  if (std::none_of(path.begin(), path.end(), [](const Frame& frame) { return frame.object && !frame.alternatives.empty(); }))
    return false;
  debugMsg("ScheduleSearch:run", "giving up the objects chosen after " << (m_tried - choice->placedAt) << " fixes under them");
  m_shareSpent = true;
  m_exhaustive = false;
  while (!path.back().object) {
    release(path.back());
    path.pop_back();
  }
  return true;
}

void ScheduleSearch::keepValues(std::vector<Frame>& path) {
  // A window that left a variable at one value goes: the values found are the fixes kept.
  if (std::none_of(path.begin(), path.end(), [](const Frame& frame) { return frame.window.isValid(); }))
    return;
  fixSingletons();
  for (auto it = path.rbegin(); it != path.rend(); ++it)
    if (it->window.isValid()) {
      m_ce->deleteConstraint(it->window);
      it->window = ConstraintId::noId();
      it->windowVar.reset();
    }
  const bool consistent = m_ce->propagate();
  checkError(consistent, "The plan became inconsistent when the schedule search kept its values.");
}

void ScheduleSearch::fixSingletons() {
  for (const Entry& entry : m_order)
    if (!entry.var->isSpecified() && entry.var->canBeSpecified() && entry.var->lastDomain().isSingleton()) {
      entry.var->specify(entry.var->lastDomain().getSingletonValue());
      m_fixed.push_back(entry.var);
    }
}

bool ScheduleSearch::placeAtEarliest() {
  check_error(!m_deadEnd, "A schedule search that asks a dead end places nothing at once.");
  // The search's order, read once: while no earliest moves, the keys of the times do not change,
  // and anything else comes after the times or is fixed before its turn.
  std::vector<std::pair<Key, size_t>> open;
  for (size_t i = 0; i < m_order.size(); i++)
    if (!m_order[i].var->lastDomain().isSingleton()) {
      entriesRead()++;
      open.push_back(std::make_pair(keyOf(i), i));
    }
  std::sort(open.begin(), open.end());
  bool placed = true, halved = false;
  for (const std::pair<Key, size_t>& entry : open) {
    const ConstrainedVariableId& var = m_order[entry.second].var;
    const AbstractDomain& dom = var->lastDomain();
    // Not a bounded time as it comes (the key says early): the search would choose it for itself.
    if (std::get<2>(entry.first) != 0) {
      placed = dom.isSingleton();
    } else {
      const double earliest = std::get<3>(entry.first);
      // An earliest that moved, or a value the search does not try first: its path is another.
      placed = dom.getLowerBound() == earliest;
      if (!placed)
        break;
      if (dom.isSingleton())
        continue;
      placed = var->canBeSpecified() && var->baseDomain().isMember(earliest) && !holdsNothingBack(var);
      if (!placed)
        break;
      halved = halved || halves(dom, earliest, dom.getUpperBound());
      debugMsg("ScheduleSearch:run", "fixing " << m_order[entry.second].label << " at " << shown(dom, earliest));
      m_tried++;
      var->specify(earliest);
      m_fixed.push_back(var);
      placed = m_ce->propagate();
    }
    if (!placed)
      break;
  }
  if (placed && m_accept()) {
    // The search halving a window would keep every entry left at one value, as keepValues does.
    if (halved) {
      fixSingletons();
      checkError(m_ce->propagate(), "The plan became inconsistent when the schedule search kept its values.");
    }
    return true;
  }
  withdraw();
  m_tried = 0;
  const bool consistent = m_ce->propagate();
  checkError(consistent, "The plan became inconsistent when the schedule search withdrew its earliest times.");
  return false;
}

ScheduleSearch::Outcome ScheduleSearch::search(std::vector<Frame>& path) {
  // A plan already lost has no schedule, whatever is fixed.
  if (m_deadEnd && m_deadEnd()) {
    m_failure = "no schedule found: a limit is broken whatever is fixed";
    return NONE;
  }
  bool descend = true;
  for (;;) {
    if (descend) {
      // What propagation has already fixed is skipped.
      const size_t index = nextEntry(path);
      if (index == m_order.size()) {
        if (m_accept()) {
          keepValues(path);
          return FOUND;
        }
        descend = false;
        if (path.empty())
          break;
        continue;
      }
      const ConstrainedVariableId& var = m_order[index].var;
      const AbstractDomain& dom = var->lastDomain();
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
      path.push_back(openFrame(index));
      path.back().choice = path.back().object ? path.size() - 1 : path.size() > 1 ? path[path.size() - 2].choice : SIZE_MAX;
    }
    if (shareSpent(path)) {
      descend = false;
      continue;
    }
    // Try the next alternative of the newest frame; when it has none left, go back one frame.
    Frame& frame = path.back();
    release(frame);
    const ConstrainedVariableId& var = m_order[frame.index].var;
    double lo = 0, hi = 0;
    bool placed = false;
    while (!placed && nextAlternative(frame, lo, hi)) {
      if (m_tried >= m_budget) {
        m_failure = "no schedule found within " + std::to_string(m_budget) + " fixes";
        // Back to the plan as it was: relaxation is exact, so one propagation after every fix is
        // withdrawn ends where one after each would, without narrowing the plan again each time.
        // The windows go first: until a value is withdrawn, what one relaxation relaxed stays
        // relaxed, and the next window's walk stops there.
        for (auto it = path.rbegin(); it != path.rend(); ++it)
          if (it->window.isValid())
            release(*it, false);
        while (!path.empty()) {
          release(path.back(), false);
          path.pop_back();
        }
        const bool consistent = m_ce->propagate();
        checkError(consistent, "The plan became inconsistent when the schedule search withdrew its fixes.");
        return CUT;
      }
      const AbstractDomain& dom = var->lastDomain();
      if (lo == hi ? !var->baseDomain().isMember(lo) || !dom.isMember(lo)
                   : hi < dom.getLowerBound() || lo > dom.getUpperBound())
        continue;
      narrow(frame, lo, hi);
      if (m_ce->propagate() && !(m_deadEnd && m_deadEnd()) && !skipped())
        placed = true;
      else
        release(frame);
    }
    if (placed) {
      frame.placedAt = m_tried;
      descend = true;
      continue;
    }
    if (path.size() == 1 && m_failure.empty())
      m_failure = m_first + " tried: no schedule found" +
                  (m_exhaustive ? std::string("")
                                : " (numbers tried at whole steps only" +
                                      (m_unbounded.empty() ? std::string("") : "; " + m_unbounded) + ")");
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
