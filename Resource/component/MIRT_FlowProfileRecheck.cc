#include "Resource/component/MIRT_FlowProfile.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <unordered_set>
#include <vector>

// Which of a flow profile's cached orderings the temporal network's changes since the last
// check have moved, read from the network's counters and logs.

namespace KORVAN {
namespace MIRT {

namespace {

// A point of the network not looked up yet (getTimepoint gives -1 for none).
const int UNREAD_POINT = -2;

}

unsigned long long& FlowProfile::orderingsAskedAgain() {
  static unsigned long long sl_asked = 0;
  return sl_asked;
}

// Each transaction's bounds and point are read once per sweep: nothing
// here changes a domain or the network.
void FlowProfile::readPoint(const TransactionId& t, OrderingCache::Point& point) {
  if (point.read)
    return;
  point.read = true;
  point.lb = -g_infiniteTime();
  point.ub = g_infiniteTime();
  timeBounds(t, point.lb, point.ub);
  point.node = UNREAD_POINT;
}

// A cached ordering must hold in every solution of the network as it is
// now, and a cached "not ordered" must not hide one that has come to hold:
// constraints through time points outside this profile can do either without
// telling it. On any change of the network the cache is checked, and a
// difference makes the whole profile count again.
void FlowProfile::noteOutsideChanges() {
  static DebugMessage* const sl_distanceLines =
      DebugMessage::addMsg(__FILE__, __LINE__, "TemporalAdvisor:getTemporalDistanceDomain");
  const Id<ConstraintEngine>& ce = m_planDatabase->getConstraintEngine();
  if (ce->provenInconsistent())
    return;
  OutsideChanges changes(temporalPropagator(), sl_distanceLines);
  if (!readOutsideChanges(changes))
    return;
  recheckCache(m_orderings, changes);
  recheckCache(m_orderedAt, changes);
  if (changes.start > changes.end)
    return;
  debugMsg("FlowProfile:noteOutsideChanges", "Cached orderings changed over [" << changes.start << "," << changes.end << "]");
  noteChange();
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
  mergeWindow(changes.start, changes.end);
}

FlowProfile::OutsideChanges::OutsideChanges(TemporalPropagator* temporalNetwork, DebugMessage* distanceLinesMarker)
  : temporal(temporalNetwork), distanceLines(distanceLinesMarker), needed(FROM_NETWORK), boundsOnly(false),
    pointsLeft(false), movedKnown(false), nearArcs(false), start(g_infiniteTime()), end(-g_infiniteTime()) {}

void FlowProfile::OutsideChanges::movedAt(int lb1, int ub1, int lb2, int ub2) {
  start = std::min(start, std::min(lb1, lb2));
  end = std::max(end, std::max(ub1, ub2));
}

bool FlowProfile::OutsideChanges::leftNetwork(const TransactionId& t) {
  const ConstrainedVariable* time = (const ConstrainedVariable*) t->time();
  auto it = inNetwork.find(time);
  if (it == inNetwork.end())
    it = inNetwork.insert(std::make_pair(time, temporal->isTimepoint(t->time()))).first;
  return !it->second;
}

bool FlowProfile::readOutsideChanges(OutsideChanges& changes) {
  TemporalPropagator* temporal = changes.temporal;
  CacheMarks::Orderings& marks = m_orderingMarks;
  if (temporal == 0) {
    if (!marks.recheckDue())
      return false;
  }
  else {
    temporal->sync();
    const TemporalNetwork& network = temporal->getNetwork();
    if (!marks.changedSince(network) || !network.isConsistent())
      return false;
    if (marks.loosenedSince(network))
      changes.needed |= SURVIVES_LOOSENING;
    if (marks.tightenedSince(network))
      changes.needed |= SURVIVES_TIGHTENING;
    // After tightenings only, through few arcs between time points, whether a
    // distance that was positive still is can be told from those arcs alone.
    TightenedArcs& arcs = changes.arcs;
    arcs.usable = changes.needed == (FROM_NETWORK | SURVIVES_TIGHTENING) && marks.marked() &&
      network.getTightenedArcCount() - marks.arcsFrom() <= TightenedArcs::MOST;
    for (std::uint64_t i = marks.arcsFrom(); arcs.usable && i < network.getTightenedArcCount(); ++i) {
      TightenedArcs::Arc arc;
      arcs.usable = network.getTightenedArc(i, arc.from, arc.to, arc.weight);
      arcs.arcs.push_back(arc);
    }
    const std::uint64_t movedCount = temporal->getMovedPointCount();
    changes.movedKnown = marks.marked();
    for (std::uint64_t i = marks.movedFrom(); changes.movedKnown && i < movedCount; ++i) {
      int node = -1;
      changes.movedKnown = network.getMovedPoint(i, node);
      if (changes.movedKnown) {
        const ConstrainedVariableId var = temporal->getTimepointVariable(node);
        if (var.isValid() && changes.moved.insert((const ConstrainedVariable*) var).second)
          changes.movedTimes.push_back((const ConstrainedVariable*) var);
      }
    }
    changes.boundsOnly = changes.movedKnown && marks.innerUnchangedSince(network);
    changes.pointsLeft = marks.pointsLeftSince(network);
    marks.checked(network, movedCount);
  }
  // After a change the counters may not show, every entry is asked again
  // unless its distances are shown to stand.
  if (marks.takeRecheck()) {
    changes.needed = FROM_NETWORK | SURVIVES_LOOSENING | SURVIVES_TIGHTENING;
    changes.arcs.usable = false;
  }
  // After tightenings only, an answer the arcs alone can tell about moves
  // only where a bound of one of its points moved or where an arc joins its
  // points by a path of no length (a distance that was positive is that of
  // a path through the origin, of a path through an arc, or as it was):
  // with every moved point known and no point gone, the entries are
  // visited there only, and those read otherwise.
  changes.nearArcs = !changes.boundsOnly && changes.arcs.usable && changes.movedKnown && !changes.pointsLeft;
  if (changes.nearArcs)
    changes.arcs.readRows(*temporal);
  return true;
}


OrderingCache::Verdict FlowProfile::checkCached(OutsideChanges& changes, const TransactionId& t1,
                                                const TransactionId& t2, Order cached, unsigned char& survives,
                                                OrderingCache::Points& points) {
  // An entry kept by its order alone may stand on other distances.
  if (!changes.boundsOnly || changes.moved.count((const ConstrainedVariable*) t1->time()) != 0 ||
      changes.moved.count((const ConstrainedVariable*) t2->time()) != 0)
    survives &= (unsigned char) ~SAME_DISTANCES;
  OrderingCache::Point& p1 = *points.at[0];
  OrderingCache::Point& p2 = *points.at[1];
  readPoint(t1, p1);
  readPoint(t2, p2);
  const int lb1 = p1.lb, ub1 = p1.ub, lb2 = p2.lb, ub2 = p2.ub;
  // The bounds alone order a pair in every solution: no need to ask the
  // network about an ordering they imply.
  const bool boundsBefore = ub1 <= lb2, boundsAfter = ub2 <= lb1;
  if (boundsBefore || boundsAfter) {
    const bool unchanged = (boundsBefore && boundsAfter) ? cached == STRICTLY_AT
      : boundsBefore ? cached == BEFORE_OR_AT
      : cached == AFTER_OR_AT;
    if (unchanged)
      return OrderingCache::STANDS;
    changes.movedAt(lb1, ub1, lb2, ub2);
    return OrderingCache::MOVED;
  }
  if ((survives & changes.needed) == changes.needed || (survives & SAME_DISTANCES))
    return OrderingCache::STANDS;
  // Told from the tightened arcs, no row of the network asked: such an
  // answer comes from two points still in the network.
  if (changes.arcs.usable && (survives & FROM_NETWORK)) {
    TemporalPropagator* temporal = changes.temporal;
    if (p1.node == UNREAD_POINT)
      p1.node = temporal->getTimepoint(t1->time());
    if (p2.node == UNREAD_POINT)
      p2.node = temporal->getTimepoint(t2->time());
    const OrderingCache::Verdict told = changes.arcs.judge(*temporal, p1.node, p2.node, cached);
    if (told == OrderingCache::MOVED) {
      changes.movedAt(lb1, ub1, lb2, ub2);
      if (changes.distanceLines->isEnabled())
        changes.listed.push_back(std::make_pair((const Transaction*) t1, (const Transaction*) t2));
    }
    if (told != OrderingCache::ASK)
      return told;
  }
  return OrderingCache::ASK;
}

void FlowProfile::recheckCache(OrderingCache& cache, OutsideChanges& changes) {
  // What needs no distance read first; the rest in the cache's order.
  auto quick = [&](const TransactionId& t1, const TransactionId& t2, Order cached, unsigned char& survives,
                   OrderingCache::Points& points) {
    const OrderingCache::Verdict verdict = checkCached(changes, t1, t2, cached, survives, points);
    if (verdict == OrderingCache::MOVED)
      forgetAnswers(t1, t2);
    // What the network no longer holds is answered from the bounds, and
    // checked always from now on.
    if (verdict == OrderingCache::STANDS && changes.pointsLeft && (survives & FROM_NETWORK) &&
        (changes.leftNetwork(t1) || changes.leftNetwork(t2)))
      survives = SURVIVES_NOTHING;
    return verdict;
  };
  // The distances of the moved answers the arcs told, written as when each
  // was asked again among the pairs asked: in the order of the pairs'
  // addresses, first transaction first. Asking reads the network only.
  typedef std::pair<const Transaction*, const Transaction*> Pair;
  const auto before = [](const Pair& a, const Pair& b) {
    return a.first != b.first ? std::less<const Transaction*>()(a.first, b.first)
                              : std::less<const Transaction*>()(a.second, b.second);
  };
  std::size_t written = 0;
  bool sorted = false;
  const auto writeListed = [&](const Pair* upTo) {
    if (!sorted)
      std::sort(changes.listed.begin(), changes.listed.end(), before);
    sorted = true;
    for (; written < changes.listed.size() && (upTo == 0 || before(changes.listed[written], *upTo)); ++written)
      computeOrdering(changes.listed[written].first->getId(), changes.listed[written].second->getId());
  };
  auto keep = [&](const TransactionId& t1, const TransactionId& t2, Order cached, unsigned char& survives) {
    if (!changes.listed.empty()) {
      const Pair pair((const Transaction*) t1, (const Transaction*) t2);
      writeListed(&pair);
    }
    ++orderingsAskedAgain();
    const bool unchanged = computeOrdering(t1, t2, &survives) == cached;
    if (!unchanged) {
      forgetAnswers(t1, t2);
      int lb1 = -g_infiniteTime(), ub1 = g_infiniteTime(), lb2 = -g_infiniteTime(), ub2 = g_infiniteTime();
      timeBounds(t1, lb1, ub1);
      timeBounds(t2, lb2, ub2);
      changes.movedAt(lb1, ub1, lb2, ub2);
    }
    return unchanged;
  };
  // When only bounds changed, an entry read from the network neither of
  // whose points moved keeps its distances, and its bounds too: only the
  // moved points' entries, and those read otherwise, need a look.
  if (changes.boundsOnly)
    cache.retainAround(changes.movedTimes, quick, keep);
  else if (changes.nearArcs)
    cache.retainAround(changes.movedTimes, arcJoins(*changes.temporal, cache, changes.arcs), quick, keep);
  else
    cache.retain(quick, keep);
  writeListed(0);
  changes.listed.clear();
}

std::vector<OrderingCache::Join> FlowProfile::arcJoins(TemporalPropagator& temporal, const OrderingCache& cache,
                                                        const TightenedArcs& arcs) {
  const TemporalNetwork::Time inf = g_infiniteTime();
  std::vector<int> nodes(cache.numbers(), -1);
  cache.forEachMember([&](const Transaction* t, std::uint32_t n) { nodes[n] = temporal.getTimepoint(t->time()); });
  std::vector<OrderingCache::Join> joins(arcs.arcs.size());
  for (std::size_t k = 0; k < arcs.arcs.size(); ++k) {
    const TightenedArcs::Arc& arc = arcs.arcs[k];
    // d(x, y) can have come down to 0 or less through the arc only when
    // d(x, from) + weight + d(to, y) has: x is on the one side when that
    // holds for the least d(to, y) of any point, y on the other when it
    // holds for the least d(x, from).
    auto toFrom = [&](int node) { return node >= 0 && (std::size_t) node < arc.toFrom.size() ? arc.toFrom[node] : inf; };
    auto fromTo = [&](int node) { return node >= 0 && (std::size_t) node < arc.fromTo.size() ? arc.fromTo[node] : inf; };
    TemporalNetwork::Time leastTo = inf, leastFrom = inf;
    for (int node : nodes) {
      leastTo = std::min(leastTo, toFrom(node));
      leastFrom = std::min(leastFrom, fromTo(node));
    }
    OrderingCache::Join& join = joins[k];
    join.one.assign(nodes.size(), 0);
    join.other.assign(nodes.size(), 0);
    if (leastTo >= inf || leastFrom >= inf)
      continue;
    auto reaches = [&](TemporalNetwork::Time a, TemporalNetwork::Time b) {
      return a < inf && (a <= -inf || b <= -inf || a + arc.weight + b <= 0);
    };
    for (std::size_t n = 0; n < nodes.size(); ++n) {
      join.one[n] = reaches(toFrom(nodes[n]), leastFrom);
      join.other[n] = fromTo(nodes[n]) < inf && reaches(leastTo, fromTo(nodes[n]));
    }
  }
  return joins;
}

}
}
