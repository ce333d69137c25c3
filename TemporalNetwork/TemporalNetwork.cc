#include "TemporalNetwork/TemporalNetwork.hh"
#include "TemporalNetwork/TemporalNetworkSearch.hh"

#include <algorithm>
#include <functional>
#include <limits>
#include <queue>
#include <utility>

#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {

// The tightened arc log may always hold this many arcs, however small the network.
const std::size_t ARC_LOG_LEAST = 32;
const std::size_t MOVED_LOG_LEAST = 64;

// Past most entries, a log drops its older half; base keeps the position of its first entry.
void trimLog(std::vector<int>& log, std::uint64_t& base, std::size_t most) {
  if (log.size() <= most)
    return;
  const std::size_t dropped = log.size() / 2;
  log.erase(log.begin(), log.begin() + dropped);
  base += dropped;
}

// Index of a free slot: the last one given back, else a new one at the end.
template <class T>
int takeSlot(std::vector<T>& slots, std::vector<int>& freeSlots) {
  if (!freeSlots.empty()) {
    int slot = freeSlots.back();
    freeSlots.pop_back();
    return slot;
  }
  slots.push_back(T());
  return (int)slots.size() - 1;
}

} // namespace

TemporalNetwork::TemporalNetwork()
    : m_nodeCount(0), m_edgeCount(0), m_version(0), m_loosenings(0), m_tightenings(0), m_arcLogBase(0),
      m_boundsDirty(false), m_recomputeAll(false),
      m_innerChanges(0), m_removals(0), m_movedLogBase(0), m_seenStamp(0),
      m_rowStamp(0) {
  int origin = addTimepoint();
  check_error(origin == getOrigin());
  m_nodes[origin].distFrom = 0;
  m_nodes[origin].distTo = 0;
}

TemporalNetwork::~TemporalNetwork() {}

bool TemporalNetwork::isUnboundedAbove(Time ub) { return ub >= (Time)g_infiniteTime(); }

bool TemporalNetwork::isUnboundedBelow(Time lb) { return lb <= -(Time)g_infiniteTime(); }

TemporalNetwork::Time TemporalNetwork::clip(Time t) {
  const Time inf = g_infiniteTime();
  return t > inf ? inf : (t < -inf ? -inf : t);
}

void TemporalNetwork::checkNode(int node) const {
  checkError(isTimepoint(node), "No time point " << node << " in the temporal network.");
}

void TemporalNetwork::checkEdge(int edge) const {
  checkError(isEdge(edge), "No edge " << edge << " in the temporal network.");
}

bool TemporalNetwork::isTimepoint(int node) const {
  return node >= 0 && node < (int)m_nodes.size() && m_nodes[node].live;
}

bool TemporalNetwork::hasInnerEdges(int node) const {
  checkNode(node);
  for (int edge : m_nodes[node].edges) {
    const Edge& e = m_edges[edge];
    if (e.live && (e.from == node ? e.to : e.from) != getOrigin())
      return true;
  }
  return false;
}

TemporalNetwork::Time TemporalNetwork::getEdgeLowerBound(int from, int to) const {
  checkNode(from);
  checkNode(to);
  Time lb = -(Time)g_infiniteTime();
  for (int edge : m_nodes[from].edges) {
    const Edge& e = m_edges[edge];
    if (!e.live)
      continue;
    if (e.from == from && e.to == to)
      lb = std::max(lb, e.lb);
    else if (e.from == to && e.to == from && !isUnboundedAbove(e.ub))
      lb = std::max(lb, -e.ub);
  }
  return lb;
}

bool TemporalNetwork::isEdge(int edge) const {
  return edge >= 0 && edge < (int)m_edges.size() && m_edges[edge].live;
}

int TemporalNetwork::addTimepoint() {
  const bool fresh = m_freeNodes.empty();
  int node = takeSlot(m_nodes, m_freeNodes);
  if (fresh) {
    m_changedMark.push_back(0);
    m_lower.grow();
    m_raise.grow();
    m_done.push_back(0);
    m_dist.push_back(INF);
    m_seen.push_back(0);
    m_rowOf.push_back(-1);
    m_parentFrom.push_back(-1);
    m_parentTo.push_back(-1);
  }
  Node& n = m_nodes[node];
  n.live = true;
  n.potential = 0;
  n.distFrom = INF;
  n.distTo = INF;
  m_parentFrom[node] = -1;
  m_parentTo[node] = -1;
  n.saved = 0;
  n.affected = 0;
  n.out.clear();
  n.in.clear();
  n.edges.clear();
  m_rowOf[node] = -1;
  ++m_nodeCount;
  logMoved(node);
  changed();
  debugMsg("TemporalNetwork:addTimepoint", " " << node);
  return node;
}

void TemporalNetwork::removeTimepoint(int node) {
  checkNode(node);
  check_error(node != getOrigin(), "The origin of a temporal network cannot be removed.");
  std::vector<int> incident = m_nodes[node].edges;
  for (int e : incident)
    removeEdge(e);
  Node& n = m_nodes[node];
  n.live = false;
  n.out.clear();
  n.in.clear();
  m_freeNodes.push_back(node);
  --m_nodeCount;
  ++m_innerChanges;
  ++m_removals;
  logMoved(node);
  loosened();
  changed();
  debugMsg("TemporalNetwork:removeTimepoint", " " << node);
}

int TemporalNetwork::newArc(int from, int to, Time weight, int edge) {
  int arc = takeSlot(m_arcs, m_freeArcs);
  Arc& a = m_arcs[arc];
  a.from = from;
  a.to = to;
  a.weight = weight;
  a.edge = edge;
  a.live = true;
  a.active = false;
  a.posOut = -1;
  a.posIn = -1;
  return arc;
}

void TemporalNetwork::link(int arc) {
  Arc& a = m_arcs[arc];
  a.active = true;
  a.posOut = (int)m_nodes[a.from].out.size();
  m_nodes[a.from].out.push_back(arc);
  a.posIn = (int)m_nodes[a.to].in.size();
  m_nodes[a.to].in.push_back(arc);
}

void TemporalNetwork::unlink(int arc) {
  Arc& a = m_arcs[arc];
  std::vector<int>& out = m_nodes[a.from].out;
  int moved = out.back();
  out[a.posOut] = moved;
  m_arcs[moved].posOut = a.posOut;
  out.pop_back();
  std::vector<int>& in = m_nodes[a.to].in;
  moved = in.back();
  in[a.posIn] = moved;
  m_arcs[moved].posIn = a.posIn;
  in.pop_back();
  a.active = false;
  a.posOut = -1;
  a.posIn = -1;
}

// Moves potentials so that the arc's constraint holds, or reports the negative cycle it closes.
// Either the head and what it reaches go down or the tail and what reaches it go up; reduced
// costs under the old potentials are non-negative, so each is a Dijkstra pass on the amount a
// point must move. The two run side by side, one arc each in turn, and the first to finish
// decides: a new time point, or one at the rim of a large network (the origin after a creep),
// is then repaired in time proportional to the smaller side. Potentials change only on success.
bool TemporalNetwork::tryActivate(int arc) {
  const Arc& a = m_arcs[arc];
  const int u = a.from;
  const int v = a.to;
  const Time slack = m_nodes[u].potential + a.weight - m_nodes[v].potential;
  if (slack >= 0)
    return true;
  if (u == v)
    return false;
  // A point without arcs in force takes its potential from this one.
  if (m_nodes[v].out.empty() && m_nodes[v].in.empty()) {
    m_nodes[v].potential += slack;
    return true;
  }
  if (m_nodes[u].out.empty() && m_nodes[u].in.empty()) {
    m_nodes[u].potential -= slack;
    return true;
  }
  startShift(m_lower, v, -slack);
  startShift(m_raise, u, -slack);
  ShiftState lower = SHIFT_RUNNING, raise = SHIFT_RUNNING;
  while (lower == SHIFT_RUNNING && raise == SHIFT_RUNNING) {
    lower = stepShift<Forward>(m_lower, u);
    if (lower == SHIFT_RUNNING)
      raise = stepShift<Backward>(m_raise, v);
  }
  const bool consistent = lower == SHIFT_DONE || raise == SHIFT_DONE;
  endShift(m_lower, -1, consistent && lower == SHIFT_DONE);
  endShift(m_raise, 1, consistent && lower != SHIFT_DONE);
  return consistent;
}

void TemporalNetwork::startShift(Shift& s, int start, Time amount) {
  s.amount[start] = amount;
  s.touched.push_back(start);
  s.heap.push_back(std::make_pair(-amount, start));
  s.at = -1;
}

// One arc of a shift (or one point taken from its heap). Along Dir from the points moved, a
// neighbour must move too by what the arc's reduced cost does not absorb; reaching the target
// (the other end of the tightened arc) that way closes a negative cycle.
template <class Dir>
TemporalNetwork::ShiftState TemporalNetwork::stepShift(Shift& s, int target) {
  if (s.at < 0) {
    for (;;) {
      if (s.heap.empty())
        return SHIFT_DONE;
      std::pop_heap(s.heap.begin(), s.heap.end(), std::greater<std::pair<Time, int>>());
      const std::pair<Time, int> top = s.heap.back();
      s.heap.pop_back();
      const int x = top.second;
      if (!s.done[x] && -top.first == s.amount[x]) {
        s.done[x] = 1;
        s.at = x;
        s.next = 0;
        return SHIFT_RUNNING;
      }
    }
  }
  const std::vector<int>& arcs = Dir::arcs(m_nodes[s.at]);
  if (s.next >= arcs.size()) {
    s.at = -1;
    return SHIFT_RUNNING;
  }
  const Arc& b = m_arcs[arcs[s.next++]];
  const int y = Dir::head(b);
  if (s.done[y])
    return SHIFT_RUNNING;
  const Time need = s.amount[s.at] - (m_nodes[b.from].potential + b.weight - m_nodes[b.to].potential);
  if (need > s.amount[y]) {
    if (y == target)
      return SHIFT_CYCLE;
    if (s.amount[y] == 0)
      s.touched.push_back(y);
    s.amount[y] = need;
    s.heap.push_back(std::make_pair(-need, y));
    std::push_heap(s.heap.begin(), s.heap.end(), std::greater<std::pair<Time, int>>());
  }
  return SHIFT_RUNNING;
}

void TemporalNetwork::endShift(Shift& s, Time sign, bool apply) {
  for (int x : s.touched) {
    if (apply)
      m_nodes[x].potential += sign * s.amount[x];
    s.amount[x] = 0;
    s.done[x] = 0;
  }
  s.touched.clear();
  s.heap.clear();
  s.at = -1;
}

void TemporalNetwork::putArc(int arc) {
  if (tryActivate(arc)) {
    link(arc);
    tightenArc(arc);
  } else {
    debugMsg("TemporalNetwork:putArc", " arc " << m_arcs[arc].from << " -> " << m_arcs[arc].to
                                                << " (" << m_arcs[arc].weight
                                                << ") closes a negative cycle");
    m_suspended.insert(arc);
  }
}

void TemporalNetwork::dropArc(int arc) {
  Arc& a = m_arcs[arc];
  if (a.active) {
    loosenArc(arc);
    unlink(arc);
  } else {
    m_suspended.erase(arc);
  }
  a.live = false;
  m_freeArcs.push_back(arc);
}

// A new weight for a live arc; the caller retries suspended arcs after a loosening.
void TemporalNetwork::setArcWeight(int arc, Time weight) {
  Arc& a = m_arcs[arc];
  const Time old = a.weight;
  if (weight == old)
    return;
  a.weight = weight;
  if (!a.active) {
    if (weight > old && tryActivate(arc)) {
      m_suspended.erase(arc);
      link(arc);
      tightenArc(arc);
    }
    return;
  }
  if (weight > old) {
    // Potentials stay feasible when a constraint loosens; distances may grow.
    loosenArc(arc);
    return;
  }
  // The searches stop at the arc's other end, so its new weight in the adjacency lists does not
  // disturb them.
  if (tryActivate(arc)) {
    tightenArc(arc);
  } else {
    loosenArc(arc);
    unlink(arc);
    m_suspended.insert(arc);
  }
}

void TemporalNetwork::retrySuspended() {
  if (m_suspended.empty())
    return;
  std::vector<int> pending(m_suspended.begin(), m_suspended.end());
  for (int arc : pending) {
    if (tryActivate(arc)) {
      m_suspended.erase(arc);
      link(arc);
      tightenArc(arc);
    }
  }
}

int TemporalNetwork::addEdge(int from, int to, Time lb, Time ub) {
  checkNode(from);
  checkNode(to);
  int edge = takeSlot(m_edges, m_freeEdges);
  Edge& e = m_edges[edge];
  e.from = from;
  e.to = to;
  e.lb = lb;
  e.ub = ub;
  e.live = true;
  e.forward = isUnboundedAbove(ub) ? -1 : newArc(from, to, ub, edge);
  e.backward = isUnboundedBelow(lb) ? -1 : newArc(to, from, -lb, edge);
  ++m_edgeCount;
  m_nodes[from].edges.push_back(edge);
  if (to != from)
    m_nodes[to].edges.push_back(edge);
  if (e.forward >= 0)
    putArc(e.forward);
  // putArc may grow m_arcs but never m_edges, so the reference stays good.
  if (e.backward >= 0)
    putArc(e.backward);
  ++m_tightenings;
  if (from != getOrigin() && to != getOrigin())
    ++m_innerChanges;
  logTightened(e.forward);
  logTightened(e.backward);
  changed();
  debugMsg("TemporalNetwork:addEdge", " " << edge << ": " << from << " -> " << to << " [" << lb
                                          << ", " << ub << "]"
                                          << (isConsistent() ? "" : " inconsistent"));
  return edge;
}

void TemporalNetwork::setEdgeBounds(int edge, Time lb, Time ub) {
  checkEdge(edge);
  Edge& e = m_edges[edge];
  if (e.lb == lb && e.ub == ub)
    return;
  // One arc of the edge: dropped when its bound goes, made when one comes, else reweighed.
  // True when the arc's constraint loosened.
  auto rebound = [this, edge](int& arc, int from, int to, bool unbounded, Time weight, bool looser) {
    if (arc < 0) {
      if (!unbounded) {
        arc = newArc(from, to, weight, edge);
        putArc(arc);
      }
      return false;
    }
    if (unbounded) {
      dropArc(arc);
      arc = -1;
      return true;
    }
    setArcWeight(arc, weight);
    return looser;
  };
  const bool noLower = isUnboundedBelow(lb);
  // Each side is compared as a bound, unbounded ones included, so that a
  // change of both kinds at once counts as both.
  const bool tightened = ub < e.ub || lb > e.lb;
  const bool widened = ub > e.ub || lb < e.lb;
  bool loosened = rebound(e.forward, e.from, e.to, isUnboundedAbove(ub), ub, ub > e.ub);
  loosened = rebound(e.backward, e.to, e.from, noLower, noLower ? 0 : -lb, lb < e.lb) || loosened;
  e.lb = lb;
  e.ub = ub;
  if (e.from != getOrigin() && e.to != getOrigin())
    ++m_innerChanges;
  if (loosened)
    retrySuspended();
  if (loosened || widened)
    this->loosened();
  if (tightened) {
    ++m_tightenings;
    logTightened(e.forward);
    logTightened(e.backward);
  }
  changed();
  debugMsg("TemporalNetwork:setEdgeBounds", " " << edge << ": [" << lb << ", " << ub << "]"
                                                << (isConsistent() ? "" : " inconsistent"));
}

void TemporalNetwork::removeEdge(int edge) {
  checkEdge(edge);
  Edge& e = m_edges[edge];
  if (e.forward >= 0)
    dropArc(e.forward);
  if (e.backward >= 0)
    dropArc(e.backward);
  e.forward = -1;
  e.backward = -1;
  e.live = false;
  if (e.from != getOrigin() && e.to != getOrigin())
    ++m_innerChanges;
  for (int end : {e.from, e.to}) {
    std::vector<int>& edges = m_nodes[end].edges;
    auto it = std::find(edges.begin(), edges.end(), edge);
    if (it != edges.end()) {
      *it = edges.back();
      edges.pop_back();
    }
  }
  m_freeEdges.push_back(edge);
  --m_edgeCount;
  retrySuspended();
  loosened();
  changed();
  debugMsg("TemporalNetwork:removeEdge", " " << edge << (isConsistent() ? "" : " inconsistent"));
}

int TemporalNetwork::getEdgeFrom(int edge) const {
  checkEdge(edge);
  return m_edges[edge].from;
}

int TemporalNetwork::getEdgeTo(int edge) const {
  checkEdge(edge);
  return m_edges[edge].to;
}

TemporalNetwork::Time TemporalNetwork::getEdgeLb(int edge) const {
  checkEdge(edge);
  return m_edges[edge].lb;
}

TemporalNetwork::Time TemporalNetwork::getEdgeUb(int edge) const {
  checkEdge(edge);
  return m_edges[edge].ub;
}

int TemporalNetwork::getConflictNode() const {
  if (m_suspended.empty())
    return -1;
  const Arc& a = m_arcs[*m_suspended.begin()];
  return a.to != getOrigin() ? a.to : a.from;
}

void TemporalNetwork::getBounds(int node, Time& lb, Time& ub) {
  checkNode(node);
  check_error(isConsistent(), "The temporal network is inconsistent.");
  ensureBounds();
  ub = clip(m_nodes[node].distFrom);
  lb = -clip(m_nodes[node].distTo);
}

std::vector<int> TemporalNetwork::takeChangedNodes() {
  ensureBounds();
  std::vector<int> result;
  result.swap(m_changed);
  for (int node : result)
    m_changedMark[node] = 0;
  std::sort(result.begin(), result.end());
  result.erase(std::remove_if(result.begin(), result.end(),
                              [this](int node) { return !m_nodes[node].live; }),
               result.end());
  return result;
}

void TemporalNetwork::loosened() {
  ++m_loosenings;
  // Whoever looks at arcs logged before a loosening must look at everything.
  m_arcLogBase += m_arcLog.size();
  m_arcLog.clear();
}

void TemporalNetwork::logTightened(int arc) {
  if (arc < 0 || m_arcs[arc].from == getOrigin() || m_arcs[arc].to == getOrigin())
    return;
  m_arcLog.push_back(arc);
  // Read through more arcs than the network holds, the log costs more than looking at every
  // distance again: the older half goes, and whoever has not read it looks at everything.
  trimLog(m_arcLog, m_arcLogBase, std::max<std::size_t>(ARC_LOG_LEAST, 2 * m_edgeCount));
}

void TemporalNetwork::logMoved(int node) {
  m_movedLog.push_back(node);
  trimLog(m_movedLog, m_movedLogBase, std::max<std::size_t>(MOVED_LOG_LEAST, 2 * m_nodeCount));
}

std::uint64_t TemporalNetwork::getMovedPointCount() {
  ensureBounds();
  return m_movedLogBase + m_movedLog.size();
}

bool TemporalNetwork::getMovedPoint(std::uint64_t position, int& node) const {
  if (position < m_movedLogBase || position >= m_movedLogBase + m_movedLog.size())
    return false;
  node = m_movedLog[(std::size_t)(position - m_movedLogBase)];
  return true;
}

bool TemporalNetwork::getTightenedArc(std::uint64_t position, int& from, int& to, Time& weight) const {
  if (position < m_arcLogBase || position >= getTightenedArcCount())
    return false;
  const Arc& a = m_arcs[m_arcLog[(std::size_t)(position - m_arcLogBase)]];
  // Only a loosening takes an arc out, and it empties the log.
  check_error(a.live);
  from = a.from;
  to = a.to;
  weight = a.weight;
  return true;
}

void TemporalNetwork::getDistancesOf(int node, std::vector<Time>& from, std::vector<Time>& to) {
  checkNode(node);
  check_error(isConsistent(), "The temporal network is inconsistent.");
  ensureBounds();
  const Row& row = getRow(node);
  const std::size_t count = m_nodes.size();
  from.assign(count, g_infiniteTime());
  to.assign(count, g_infiniteTime());
  // As getDistance: through the origin, from the bounds, unless the row beats it.
  for (std::size_t x = 0; x < count; ++x) {
    if (!m_nodes[x].live)
      continue;
    if ((int)x == node) {
      from[x] = 0;
      to[x] = 0;
      continue;
    }
    from[x] = clip(std::min<Time>(std::min(INF, m_nodes[node].distTo + m_nodes[x].distFrom), row.forward[x]));
    to[x] = clip(std::min<Time>(std::min(INF, m_nodes[x].distTo + m_nodes[node].distFrom), row.backward[x]));
  }
}

void TemporalNetwork::getDistance(int from, int to, Time& lb, Time& ub) {
  checkNode(from);
  checkNode(to);
  check_error(isConsistent(), "The temporal network is inconsistent.");
  if (from == to) {
    lb = 0;
    ub = 0;
    return;
  }
  ensureBounds();
  // Through the origin, from the bounds; the rows hold what beats it.
  Time up = std::min(INF, m_nodes[from].distTo + m_nodes[to].distFrom);
  Time down = std::min(INF, m_nodes[to].distTo + m_nodes[from].distFrom);
  const int slot = m_rowOf[to];
  if (slot >= 0 && m_rows[slot].source == to && m_rows[slot].version == m_version) {
    const Row& row = m_rows[slot];
    up = std::min<Time>(up, row.backward[from]);
    down = std::min<Time>(down, row.forward[from]);
  } else {
    const Row& row = getRow(from);
    up = std::min<Time>(up, row.forward[to]);
    down = std::min<Time>(down, row.backward[to]);
  }
  ub = clip(up);
  lb = -clip(down);
}

} // namespace KORVAN
