#ifndef KORVAN_TEMPORALNETWORK_SEARCH_HH
#define KORVAN_TEMPORALNETWORK_SEARCH_HH

// The two directions the temporal network's searches run in, and what they share; internal to
// the network's sources.

#include <cstdint>
#include <functional>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

#include "TemporalNetwork/TemporalNetwork.hh"

namespace KORVAN {

namespace {

// Distance of an unreachable point; far above any sum of finite weights.
const TemporalNetwork::Time INF = std::numeric_limits<TemporalNetwork::Time>::max() / 4;

typedef std::pair<TemporalNetwork::Time, int> HeapEntry;
typedef std::priority_queue<HeapEntry, std::vector<HeapEntry>, std::greater<HeapEntry>> MinHeap;

} // namespace

// Along the arcs, away from the origin or a source: distances d(0, x) and d(source, x).
struct TemporalNetwork::Forward {
  typedef Backward Reverse;
  static Time& dist(Node& n) { return n.distFrom; }
  static const Time& dist(const Node& n) { return n.distFrom; }
  static int& parent(TemporalNetwork& tn, int node) { return tn.m_parentFrom[node]; }
  static const std::vector<int>& arcs(const Node& n) { return n.out; }
  static int head(const Arc& a) { return a.to; }
  // Distances reduced by the potentials: never negative along an arc in force.
  static Time key(Time d, const Node& n) { return d - n.potential; }
  static std::vector<std::int32_t>& row(Row& r) { return r.forward; }
};

// Against the arcs, towards the origin or a source: distances d(x, 0) and d(x, source).
struct TemporalNetwork::Backward {
  typedef Forward Reverse;
  static Time& dist(Node& n) { return n.distTo; }
  static const Time& dist(const Node& n) { return n.distTo; }
  static int& parent(TemporalNetwork& tn, int node) { return tn.m_parentTo[node]; }
  static const std::vector<int>& arcs(const Node& n) { return n.in; }
  static int head(const Arc& a) { return a.from; }
  static Time key(Time d, const Node& n) { return d + n.potential; }
  static std::vector<std::int32_t>& row(Row& r) { return r.backward; }
};

} // namespace KORVAN

#endif
