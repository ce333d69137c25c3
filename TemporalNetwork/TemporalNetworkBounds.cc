#include "TemporalNetwork/TemporalNetwork.hh"
#include "TemporalNetwork/TemporalNetworkSearch.hh"

#include <algorithm>

#include "Utils/base/Utils.hh"

// The distances from and to the origin (the time points' bounds): spread from a tightened arc,
// settled, and repaired after loosenings or recomputed whole.

namespace KORVAN {

void TemporalNetwork::markChanged(int node) {
  if (!m_changedMark[node]) {
    m_changedMark[node] = 1;
    m_changed.push_back(node);
  }
}

// Spreads the effect of one tightened, active arc on the distances from and to the origin.
void TemporalNetwork::tightenBounds(int arc, Track track) {
  const Arc& a = m_arcs[arc];
  const int u = a.from;
  const int v = a.to;
  if (m_nodes[u].distFrom < INF && m_nodes[u].distFrom + a.weight < m_nodes[v].distFrom)
    spreadBound<Forward>(v, m_nodes[u].distFrom + a.weight, arc, track);
  if (m_nodes[v].distTo < INF && a.weight + m_nodes[v].distTo < m_nodes[u].distTo)
    spreadBound<Backward>(u, a.weight + m_nodes[v].distTo, arc, track);
}

// A point's distance in the direction, reached through the arc via (-1 for none). MARK records
// a change at once; SAVE keeps the point's bounds as they were before the first change, for a
// comparison when the repair is done.
template <class Dir>
void TemporalNetwork::setBound(int node, Time d, int via, Track track) {
  Node& n = m_nodes[node];
  if (track == MARK) {
    if (clip(d) != clip(Dir::dist(n)))
      markChanged(node);
    if (d != Dir::dist(n))
      logMoved(node);
  } else if (track == SAVE)
    save(node);
  Dir::dist(n) = d;
  Dir::parent(*this, node) = via;
}

void TemporalNetwork::save(int node) {
  if (m_nodes[node].saved)
    return;
  m_nodes[node].saved = 1;
  m_savedBounds.push_back(SavedBounds{node, m_nodes[node].distFrom, m_nodes[node].distTo});
}

// Lowers start's distance in the direction to d and passes the gain on.
template <class Dir>
void TemporalNetwork::spreadBound(int start, Time d, int via, Track track) {
  setBound<Dir>(start, d, via, track);
  MinHeap heap;
  heap.push(HeapEntry(Dir::key(d, m_nodes[start]), start));
  settle<Dir>(heap, track);
}

// Dijkstra fashion from the points in the heap, each at its distance: keys are distances reduced
// by the potentials, which keeps the pass monotone. Each point keeps the arc it was last lowered
// through, so that the arcs the distances rest on form a tree.
template <class Dir, class Heap>
void TemporalNetwork::settle(Heap& heap, Track track) {
  while (!heap.empty()) {
    HeapEntry top = heap.top();
    heap.pop();
    const Node& nx = m_nodes[top.second];
    if (top.first != Dir::key(Dir::dist(nx), nx))
      continue;
    m_boundArcScans += Dir::arcs(nx).size();
    for (int next : Dir::arcs(nx)) {
      const Arc& b = m_arcs[next];
      const int y = Dir::head(b);
      const Time nd = Dir::dist(nx) + b.weight;
      if (nd < Dir::dist(m_nodes[y])) {
        setBound<Dir>(y, nd, next, track);
        heap.push(HeapEntry(Dir::key(nd, m_nodes[y]), y));
      }
    }
  }
}

void TemporalNetwork::recomputeBounds() {
  const int origin = getOrigin();
  const int count = (int)m_nodes.size();
  std::vector<Time> oldFrom(count), oldTo(count);
  for (int i = 0; i < count; ++i) {
    oldFrom[i] = m_nodes[i].distFrom;
    oldTo[i] = m_nodes[i].distTo;
    m_nodes[i].distFrom = INF;
    m_nodes[i].distTo = INF;
    m_parentFrom[i] = -1;
    m_parentTo[i] = -1;
  }
  spreadBound<Forward>(origin, 0, -1, QUIET);
  spreadBound<Backward>(origin, 0, -1, QUIET);
  for (int i = 0; i < count; ++i) {
    if (!m_nodes[i].live)
      continue;
    if (clip(oldFrom[i]) != clip(m_nodes[i].distFrom) || clip(oldTo[i]) != clip(m_nodes[i].distTo))
      markChanged(i);
    if (oldFrom[i] != m_nodes[i].distFrom || oldTo[i] != m_nodes[i].distTo)
      logMoved(i);
  }
  m_boundsDirty = false;
  m_recomputeAll = false;
  m_rootsFrom.clear();
  m_rootsTo.clear();
  m_pendingTight.clear();
}

// An arc in force that loosens or goes: a distance resting on it may grow. The tree of arcs the
// distances rest on stands still until the repair, since tightenings wait for it too.
void TemporalNetwork::loosenArc(int arc) {
  const Arc& a = m_arcs[arc];
  if (m_parentFrom[a.to] == arc)
    m_rootsFrom.push_back(a.to);
  if (m_parentTo[a.from] == arc)
    m_rootsTo.push_back(a.from);
  m_boundsDirty = true;
  limitRepair();
}

// An arc made, tightened or put in force while the bounds wait for their repair.
void TemporalNetwork::tightenArc(int arc) {
  if (!m_boundsDirty && !m_boundsOnRead) {
    tightenBounds(arc, MARK);
    return;
  }
  m_boundsDirty = true;
  m_pendingTight.push_back(arc);
  limitRepair();
}

// Past as many changes as points (while the network stays inconsistent, say), recomputing every
// bound costs no more than the repair, and the lists stop growing.
void TemporalNetwork::limitRepair() {
  if (m_recomputeAll || m_rootsFrom.size() + m_rootsTo.size() + m_pendingTight.size() <= m_nodes.size())
    return;
  m_recomputeAll = true;
  m_rootsFrom.clear();
  m_rootsTo.clear();
  m_pendingTight.clear();
}

// Only the distances resting on a loosened arc can have grown: the points below it in the tree
// start again from their neighbours outside it. Then the arcs tightened meanwhile spread their
// gains. A point is recorded as changed once, by comparing its bounds with those it had before,
// in increasing order as a recomputation of every bound would.
void TemporalNetwork::repairBounds() {
  if (m_recomputeAll) {
    recomputeBounds();
    return;
  }
  regrow<Forward>(m_rootsFrom);
  regrow<Backward>(m_rootsTo);
  // The tightened arcs spread in one pass per direction: one after another, each could carry
  // its gain along a chain the next carries further.
  MinHeap fromHeap, toHeap;
  for (int arc : m_pendingTight) {
    const Arc& a = m_arcs[arc];
    if (!a.live || !a.active)
      continue;
    const Node& u = m_nodes[a.from];
    const Node& v = m_nodes[a.to];
    if (u.distFrom < INF && u.distFrom + a.weight < v.distFrom) {
      setBound<Forward>(a.to, u.distFrom + a.weight, arc, SAVE);
      fromHeap.push(HeapEntry(Forward::key(v.distFrom, v), a.to));
    }
    if (v.distTo < INF && a.weight + v.distTo < u.distTo) {
      setBound<Backward>(a.from, a.weight + v.distTo, arc, SAVE);
      toHeap.push(HeapEntry(Backward::key(u.distTo, u), a.from));
    }
  }
  settle<Forward>(fromHeap, SAVE);
  settle<Backward>(toHeap, SAVE);
  std::sort(m_savedBounds.begin(), m_savedBounds.end(),
            [](const SavedBounds& x, const SavedBounds& y) { return x.node < y.node; });
  for (const SavedBounds& old : m_savedBounds) {
    const Node& n = m_nodes[old.node];
    m_nodes[old.node].saved = 0;
    if (!n.live)
      continue;
    if (clip(old.distFrom) != clip(n.distFrom) || clip(old.distTo) != clip(n.distTo))
      markChanged(old.node);
    if (old.distFrom != n.distFrom || old.distTo != n.distTo)
      logMoved(old.node);
  }
  m_savedBounds.clear();
  m_boundsDirty = false;
  m_rootsFrom.clear();
  m_rootsTo.clear();
  m_pendingTight.clear();
}

template <class Dir>
void TemporalNetwork::regrow(const std::vector<int>& roots) {
  std::vector<int> below;
  for (int r : roots)
    if (m_nodes[r].live && !m_nodes[r].affected) {
      m_nodes[r].affected = 1;
      below.push_back(r);
    }
  for (std::size_t i = 0; i < below.size(); ++i)
    for (int next : Dir::arcs(m_nodes[below[i]])) {
      const int y = Dir::head(m_arcs[next]);
      if (!m_nodes[y].affected && Dir::parent(*this, y) == next) {
        m_nodes[y].affected = 1;
        below.push_back(y);
      }
    }
  for (int y : below)
    setBound<Dir>(y, INF, -1, SAVE);
  MinHeap heap;
  for (int y : below) {
    Time best = INF;
    int via = -1;
    for (int next : Dir::Reverse::arcs(m_nodes[y])) {
      const Arc& b = m_arcs[next];
      const int x = Dir::Reverse::head(b);
      const Time dx = Dir::dist(m_nodes[x]);
      if (m_nodes[x].affected || dx >= INF || dx + b.weight >= best)
        continue;
      best = dx + b.weight;
      via = next;
    }
    if (via >= 0) {
      setBound<Dir>(y, best, via, SAVE);
      heap.push(HeapEntry(Dir::key(best, m_nodes[y]), y));
    }
  }
  for (int y : below)
    m_nodes[y].affected = 0;
  settle<Dir>(heap, SAVE);
}

void TemporalNetwork::ensureBounds() {
  if (m_boundsDirty && isConsistent())
    repairBounds();
}

} // namespace KORVAN
