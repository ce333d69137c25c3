#include "TemporalNetwork/TemporalNetwork.hh"
#include "TemporalNetwork/TemporalNetworkSearch.hh"

#include <algorithm>

#include "Utils/base/Utils.hh"

// The distances from one time point to every other (its rows), searched, repaired and cached.

namespace KORVAN {

namespace {

// Cached rows hold distances clipped to this magnitude; above the infinite time, so that
// clipping never changes an answer.
const std::int32_t ROW_BIG = 1 << 30;

// Budget of cached row entries (two rows of one int per time point per source).
const std::size_t ROW_BUDGET = 8u * 1024u * 1024u;

std::int32_t toRowValue(TemporalNetwork::Time d) {
  if (d >= ROW_BIG)
    return ROW_BIG;
  if (d <= -ROW_BIG)
    return -ROW_BIG;
  return (std::int32_t)d;
}

} // namespace


// A shortest path through the origin is known from the bounds: d(x, y) <= d(x, 0) + d(0, y).
// The searches leave the origin out and stop at every point where they cannot beat that: a path
// on through such a point v costs at least d(source, 0) + d(0, v) + d(v, y) >= the bound for y.
// Entries the search did not settle hold ROW_BIG and are completed with the bound on reading.
void TemporalNetwork::computeRow(int source, Row& row) {
  const int count = (int)m_nodes.size();
  const int origin = getOrigin();
  row.source = source;
  row.version = m_version;
  row.loosenings = m_loosenings;
  row.removals = m_removals;
  row.arcCount = getTightenedArcCount();
  row.exact = true;
  if (row.written.size() < row.forward.size() / 4) {
    for (int x : row.written) {
      row.forward[x] = ROW_BIG;
      row.backward[x] = ROW_BIG;
    }
    row.forward.resize(count, ROW_BIG);
    row.backward.resize(count, ROW_BIG);
  } else {
    row.forward.assign(count, ROW_BIG);
    row.backward.assign(count, ROW_BIG);
  }
  row.written.assign(1, source);
  row.forward[source] = 0;
  row.backward[source] = 0;
  if (source == origin)
    return;
  m_touched.clear();
  searchRow<Forward>(source, row);
  searchRow<Backward>(source, row);
}

// One half of a row: the distances from the source in the direction.
template <class Dir>
void TemporalNetwork::searchRow(int source, Row& row) {
  const int origin = getOrigin();
  std::vector<std::int32_t>& out = Dir::row(row);
  const Time viaOrigin = Dir::Reverse::dist(m_nodes[source]);  // the source's distance to the origin
  MinHeap heap;
  m_dist[source] = 0;
  m_touched.push_back(source);
  heap.push(HeapEntry(Dir::key(0, m_nodes[source]), source));
  while (!heap.empty()) {
    HeapEntry top = heap.top();
    heap.pop();
    const int x = top.second;
    const Time dx = m_dist[x];
    if (top.first != Dir::key(dx, m_nodes[x]) || m_done[x])
      continue;
    m_done[x] = 1;
    if (x == origin || (viaOrigin < INF && dx >= viaOrigin + Dir::dist(m_nodes[x])))
      continue;
    out[x] = toRowValue(dx);
    row.written.push_back(x);
    if (dx >= ROW_BIG || dx <= -ROW_BIG)
      row.exact = false;
    for (int next : Dir::arcs(m_nodes[x])) {
      const Arc& b = m_arcs[next];
      const int y = Dir::head(b);
      const Time nd = dx + b.weight;
      if (nd < m_dist[y]) {
        if (m_dist[y] == INF)
          m_touched.push_back(y);
        m_dist[y] = nd;
        heap.push(HeapEntry(Dir::key(nd, m_nodes[y]), y));
      }
    }
  }
  for (int x : m_touched) {
    m_dist[x] = INF;
    m_done[x] = 0;
  }
  m_touched.clear();
}

// A row kept from before a run of tightenings needs only the points whose distance a logged arc
// shortened, and those below them, searched again. A kept entry is the length of a path that
// avoids the origin or ROW_BIG, and along every arc in force, an entry below ROW_BIG, plus the
// weight, is at least the entry or the bound at the arc's head: that makes the reading exact.
// Tightenings lower the bounds and weights only, so the arcs they logged are the only ones where
// it can fail; each failure lowers an entry, and the search from there mends the arcs below.
template <class Dir>
bool TemporalNetwork::repairHalf(Row& row) {
  const int origin = getOrigin();
  const int source = row.source;
  std::vector<std::int32_t>& out = Dir::row(row);
  const Time viaOrigin = Dir::Reverse::dist(m_nodes[source]);
  std::vector<HeapEntry>& heap = m_repairHeap;
  heap.clear();
  const std::greater<HeapEntry> later;
  // False when an entry would be clipped: the caller then searches the row afresh.
  auto offer = [&](int y, Time d) {
    if (y == origin || (out[y] < ROW_BIG && d >= out[y]) ||
        (viaOrigin < INF && d >= viaOrigin + Dir::dist(m_nodes[y])))
      return true;
    if (d >= ROW_BIG || d <= -ROW_BIG)
      return false;
    out[y] = (std::int32_t)d;
    row.written.push_back(y);
    heap.push_back(HeapEntry(Dir::key(d, m_nodes[y]), y));
    std::push_heap(heap.begin(), heap.end(), later);
    return true;
  };
  for (std::uint64_t position = row.arcCount; position < getTightenedArcCount(); ++position) {
    const Arc& a = m_arcs[m_arcLog[(std::size_t)(position - m_arcLogBase)]];
    const int tail = Dir::Reverse::head(a);
    if (a.live && a.active && out[tail] < ROW_BIG && !offer(Dir::head(a), out[tail] + a.weight))
      return false;
  }
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), later);
    const HeapEntry top = heap.back();
    heap.pop_back();
    const int x = top.second;
    const Time dx = out[x];
    if (top.first != Dir::key(dx, m_nodes[x]))
      continue;  // lowered again since
    for (int next : Dir::arcs(m_nodes[x])) {
      const Arc& b = m_arcs[next];
      if (!offer(Dir::head(b), dx + b.weight))
        return false;
    }
  }
  return true;
}

bool TemporalNetwork::repairRow(Row& row) {
  if (!row.exact || row.source == getOrigin() || row.loosenings != m_loosenings ||
      row.removals != m_removals || row.arcCount < m_arcLogBase)
    return false;
  // Points added since are unreached but by logged arcs.
  row.forward.resize(m_nodes.size(), ROW_BIG);
  row.backward.resize(m_nodes.size(), ROW_BIG);
  if (!repairHalf<Forward>(row) || !repairHalf<Backward>(row))
    return false;
  row.version = m_version;
  row.arcCount = getTightenedArcCount();
  ++m_rowRepairs;
  return true;
}

const TemporalNetwork::Row& TemporalNetwork::getRow(int source) {
  int slot = m_rowOf[source];
  if (slot >= 0 && m_rows[slot].source == source &&
      (m_rows[slot].version == m_version || repairRow(m_rows[slot]))) {
    m_rows[slot].stamp = ++m_rowStamp;
    return m_rows[slot];
  }
  const std::size_t count = m_nodes.size();
  const std::size_t capacity = std::max<std::size_t>(2, std::min(count, ROW_BUDGET / (2 * count)));
  if (m_rows.size() < capacity) {
    slot = (int)m_rows.size();
    m_rows.push_back(Row());
  } else {
    // Prefer a slot left over from an earlier version, else the least recently used one.
    slot = 0;
    for (int i = 0; i < (int)m_rows.size(); ++i) {
      if (m_rows[i].version != m_version) {
        slot = i;
        break;
      }
      if (m_rows[i].stamp < m_rows[slot].stamp)
        slot = i;
    }
  }
  Row& row = m_rows[slot];
  if (row.source >= 0 && row.source < (int)m_rowOf.size() && m_rowOf[row.source] == slot)
    m_rowOf[row.source] = -1;
  computeRow(source, row);
  row.stamp = ++m_rowStamp;
  m_rowOf[source] = slot;
  return row;
}

} // namespace KORVAN
