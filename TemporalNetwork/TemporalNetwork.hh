#ifndef KORVAN_TEMPORALNETWORK_TEMPORALNETWORK_HH
#define KORVAN_TEMPORALNETWORK_TEMPORALNETWORK_HH

#include <cstdint>
#include <set>
#include <vector>

namespace KORVAN {

/// A simple temporal network over integer time points.
///
/// Each edge states lb <= t(to) - t(from) <= ub. Bounds at or beyond plus or minus
/// g_infiniteTime() mean "unbounded" on that side. Time point 0 is the origin: the bounds of
/// a time point are the bounds of its distance from the origin.
///
/// The network keeps a feasible potential on every point (a solution of the constraints that
/// are in force), updated incrementally on every tightening by a Dijkstra pass over reduced
/// costs. A tightening that would close a negative cycle is not put in force but held as
/// suspended: the network is inconsistent while any bound is suspended, and every loosening
/// retries the suspended bounds, so the network recovers as soon as the offending edge goes.
/// Bounds from the origin are maintained incrementally on tightening and recomputed on a
/// loosening. Pairwise distances are computed per source point (one forward and one backward
/// Dijkstra pass) and cached until the network changes, so that asking all pairs of a set of
/// points costs two shortest-path passes per point. After tightenings only, a cached row is
/// mended from the arcs they logged, visiting only the points whose distance shortened.
class TemporalNetwork {
public:
  typedef std::int64_t Time;

  TemporalNetwork();
  virtual ~TemporalNetwork();

  TemporalNetwork(const TemporalNetwork&) = delete;
  TemporalNetwork& operator=(const TemporalNetwork&) = delete;

  /// The origin time point, present from construction and never removed.
  static int getOrigin() { return 0; }

  /// A new, unconstrained time point.
  int addTimepoint();
  /// Removes a time point with every edge that touches it. The origin cannot be removed.
  void removeTimepoint(int node);
  bool isTimepoint(int node) const;
  /// True when an edge joins the point to a point other than the origin: without one, its
  /// distance to any point is that of their bounds.
  bool hasInnerEdges(int node) const;
  /// The greatest lower bound on t(to) - t(from) that one edge between the two points states,
  /// or minus the infinite time when none does: a bound on their distance read without a search.
  Time getEdgeLowerBound(int from, int to) const;

  /// Adds the constraint lb <= t(to) - t(from) <= ub and returns its edge index.
  int addEdge(int from, int to, Time lb, Time ub);
  /// Replaces the bounds of an edge: tightening is incremental, loosening recomputes bounds.
  /// With bounds on read, tightenings too wait until a bound is read and then spread together:
  /// for a network changed in many places between two readings.
  void setBoundsOnRead(bool onRead) { m_boundsOnRead = onRead; }
  bool isBoundsOnRead() const { return m_boundsOnRead; }
  /// Bounds on read for as long as it lives, then as they were: for a batch of changes.
  class BoundsOnRead {
  public:
    explicit BoundsOnRead(TemporalNetwork& network) : m_network(network), m_was(network.isBoundsOnRead()) {
      network.setBoundsOnRead(true);
    }
    ~BoundsOnRead() { m_network.setBoundsOnRead(m_was); }
    BoundsOnRead(const BoundsOnRead&) = delete;
    BoundsOnRead& operator=(const BoundsOnRead&) = delete;

  private:
    TemporalNetwork& m_network;
    const bool m_was;
  };
  void setEdgeBounds(int edge, Time lb, Time ub);
  void removeEdge(int edge);
  bool isEdge(int edge) const;
  int getEdgeFrom(int edge) const;
  int getEdgeTo(int edge) const;
  Time getEdgeLb(int edge) const;
  Time getEdgeUb(int edge) const;

  /// False when the constraints in force admit no solution (a negative cycle).
  bool isConsistent() const { return m_suspended.empty(); }

  /// A time point other than the origin on one of the bounds held back because they close a
  /// negative cycle, or -1 when the network is consistent.
  int getConflictNode() const;

  /// Tightest bounds of a time point relative to the origin, clipped to the infinite time.
  /// Requires a consistent network.
  void getBounds(int node, Time& lb, Time& ub);

  /// Tightest bounds on t(to) - t(from) in every solution, clipped to the infinite time.
  /// Requires a consistent network.
  void getDistance(int from, int to, Time& lb, Time& ub);

  /// Time points whose bounds changed since the last call, in ascending index. Only
  /// meaningful while the network is consistent.
  std::vector<int> takeChangedNodes();

  /// Raised on every change that may alter a distance.
  std::uint64_t getVersion() const { return m_version; }
  /// Raised on every change that may widen a distance (a constraint removed or relaxed) and on
  /// every change that may narrow one (a constraint added or tightened). Between two readings
  /// with the first unchanged, every distance interval only shrank, with the second unchanged it
  /// only grew; adding a bare time point changes neither.
  std::uint64_t getLoosenings() const { return m_loosenings; }
  std::uint64_t getTightenings() const { return m_tightenings; }

  /// Arcs between two points other than the origin (t(to) - t(from) <= weight) made or
  /// tightened, numbered from 0 in the order of the changes. Only those since the last
  /// loosening are kept, and of those at most the newer half once they outnumber the network's
  /// edges twice over (and 32): getTightenedArc is false for a position no longer kept, and its
  /// reader must then look at every distance. A distance that a run of tightenings shortened is
  /// reached through one of the arcs they logged or through the origin.
  std::uint64_t getTightenedArcCount() const { return m_arcLogBase + m_arcLog.size(); }
  bool getTightenedArc(std::uint64_t position, int& from, int& to, Time& weight) const;

  /// Raised on every change of a constraint between two points other than the origin and on
  /// every removal of a time point. While it stands still, only bounds changed: d(x, y) is the
  /// shorter of the paths that avoid the origin, which stay as they were, and -lb(x) + ub(y).
  std::uint64_t getInnerChanges() const { return m_innerChanges; }
  /// Raised on every removal of a time point.
  std::uint64_t getRemovals() const { return m_removals; }
  /// Time points whose bounds moved, or that were added or removed, numbered from 0 in the
  /// order of the changes (a point may come more than once). The count brings the bounds up to
  /// date first, so requires a consistent network to be exact. At most the newer half is kept
  /// once they outnumber the points twice over (and 64): getMovedPoint is false for a position
  /// no longer kept, and its reader must then assume every point moved.
  std::uint64_t getMovedPointCount();
  bool getMovedPoint(std::uint64_t position, int& node) const;

  /// d(node, x) into from[x] and d(x, node) into to[x] for every point x, from node's row
  /// (entries of points that are not live mean nothing). Requires a consistent network.
  void getDistancesOf(int node, std::vector<Time>& from, std::vector<Time>& to);

  /// Distance rows brought up to date after tightenings instead of searched again.
  std::uint64_t getRowRepairs() const { return m_rowRepairs; }
  /// Arcs looked at while spreading changed bounds: the work of keeping the bounds.
  std::uint64_t getBoundArcScans() const { return m_boundArcScans; }

  std::size_t getTimepointCount() const { return m_nodeCount; }
  std::size_t getEdgeCount() const { return m_edgeCount; }

  /// Largest index a time point may have, plus one.
  int getNodeCapacity() const { return (int)m_nodes.size(); }

private:
  struct Arc {
    int from;
    int to;
    Time weight;
    int edge;
    bool live;
    bool active;  // in the adjacency lists; otherwise suspended
    int posOut;
    int posIn;
  };

  struct Edge {
    int from;
    int to;
    Time lb;
    Time ub;
    int forward;   // arc from -> to with weight ub, or -1 when unbounded above
    int backward;  // arc to -> from with weight -lb, or -1 when unbounded below
    bool live;
  };

  struct Node {
    bool live;
    char saved;     // its bounds before the repair in progress are kept
    char affected;  // below a loosened arc, in the repair in progress
    Time potential;
    Time distFrom;  // shortest distance origin -> node
    Time distTo;    // shortest distance node -> origin
    std::vector<int> out;
    std::vector<int> in;
    std::vector<int> edges;  // incident edges
  };

  struct Row {
    int source = -1;
    std::uint64_t version = ~std::uint64_t(0);
    std::uint64_t stamp = 0;
    // What a row needs to be brought up to date instead of searched again: the network had
    // these loosenings, removals and logged tightened arcs, and no entry was clipped.
    std::uint64_t loosenings = 0;
    std::uint64_t removals = 0;
    std::uint64_t arcCount = 0;
    bool exact = false;
    std::vector<std::int32_t> forward;   // d(source, x)
    std::vector<std::int32_t> backward;  // d(x, source)
    // The points whose entries a search or a repair wrote (with repeats); every other entry
    // holds ROW_BIG, so that the row is searched again at the cost of what it reached.
    std::vector<int> written;
  };

  // The two directions of a shortest-path pass (defined with the passes).
  struct Forward;
  struct Backward;

  // One way of restoring the potentials' feasibility after an arc tightened: lowering the
  // points reachable from its head, or raising the points that reach its tail. Driven one arc
  // at a time, so that two can run side by side.
  struct Shift {
    std::vector<Time> amount;  // how far each point moves; 0 when untouched
    std::vector<char> done;
    std::vector<int> touched;
    std::vector<std::pair<Time, int>> heap;  // (-amount, point), a binary heap
    int at = -1;                             // point whose arcs are being scanned, or -1
    std::size_t next = 0;                    // its next arc
    void grow() {
      amount.push_back(0);
      done.push_back(0);
    }
  };
  enum ShiftState { SHIFT_RUNNING, SHIFT_DONE, SHIFT_CYCLE };
  template <class Dir> ShiftState stepShift(Shift& s, int target);
  void startShift(Shift& s, int start, Time amount);
  void endShift(Shift& s, Time sign, bool apply);

  void checkNode(int node) const;
  void checkEdge(int edge) const;

  int newArc(int from, int to, Time weight, int edge);
  void putArc(int arc);         // activates it, or suspends it when it closes a negative cycle
  void dropArc(int arc);        // takes an arc out entirely
  void setArcWeight(int arc, Time weight);
  void link(int arc);
  void unlink(int arc);
  bool tryActivate(int arc);
  void retrySuspended();
  // How a change of a bound is recorded: not at all (a recomputation of every bound compares
  // afterwards), at once, or by keeping the bounds a point had before.
  enum Track { QUIET, MARK, SAVE };
  struct SavedBounds {
    int node;
    Time distFrom;
    Time distTo;
  };
  void tightenBounds(int arc, Track track);
  void loosenArc(int arc);
  void tightenArc(int arc);
  void limitRepair();
  void ensureBounds();
  void recomputeBounds();
  void repairBounds();
  template <class Dir> void regrow(const std::vector<int>& roots);
  template <class Dir> void setBound(int node, Time d, int via, Track track);
  void save(int node);
  void markChanged(int node);
  const Row& getRow(int source);
  void computeRow(int source, Row& row);
  template <class Dir> void spreadBound(int start, Time d, int via, Track track);
  template <class Dir, class Heap> void settle(Heap& heap, Track track);
  template <class Dir> void searchRow(int source, Row& row);
  bool repairRow(Row& row);
  template <class Dir> bool repairHalf(Row& row);
  void changed() { ++m_version; }
  void loosened();
  void logTightened(int arc);
  void logMoved(int node);

  static bool isUnboundedAbove(Time ub);
  static bool isUnboundedBelow(Time lb);
  static Time clip(Time t);

  std::vector<Node> m_nodes;
  std::vector<int> m_freeNodes;
  std::vector<Edge> m_edges;
  std::vector<int> m_freeEdges;
  std::vector<Arc> m_arcs;
  std::vector<int> m_freeArcs;
  std::set<int> m_suspended;     // arcs not in force because they close a negative cycle
  std::size_t m_nodeCount;
  std::size_t m_edgeCount;
  std::uint64_t m_version;
  std::uint64_t m_loosenings;
  std::uint64_t m_tightenings;
  std::vector<int> m_arcLog;     // arcs tightened since the last loosening
  std::uint64_t m_arcLogBase;    // position of m_arcLog[0]
  bool m_boundsDirty;            // bounds need a repair
  bool m_recomputeAll;           // ... of every bound
  bool m_boundsOnRead = false;   // tightenings wait for a reading too
  std::uint64_t m_innerChanges;
  std::uint64_t m_removals;
  std::vector<int> m_movedLog;   // points whose bounds moved
  std::uint64_t m_movedLogBase;  // position of m_movedLog[0]
  std::vector<char> m_changedMark;
  std::vector<int> m_changed;
  // Waiting for the repair of the bounds: the points whose distance rested on an arc that
  // loosened, by direction, and the arcs tightened since.
  std::vector<int> m_rootsFrom;
  std::vector<int> m_rootsTo;
  std::vector<int> m_pendingTight;
  std::vector<SavedBounds> m_savedBounds;
  // By point, the arc its distance from (to) the origin rests on, or -1.
  std::vector<int> m_parentFrom;
  std::vector<int> m_parentTo;

  // Scratch for the potential update and the shortest-path passes.
  Shift m_lower;
  Shift m_raise;
  std::vector<char> m_done;
  std::vector<int> m_touched;
  std::vector<Time> m_dist;
  std::vector<std::uint32_t> m_seen;
  std::uint32_t m_seenStamp;

  // Cached distance rows, by source point.
  std::vector<Row> m_rows;
  std::vector<int> m_rowOf;
  std::uint64_t m_rowStamp;
  std::vector<std::pair<Time, int>> m_repairHeap;
  std::uint64_t m_rowRepairs = 0;
  std::uint64_t m_boundArcScans = 0;
};

} // namespace KORVAN

#endif
