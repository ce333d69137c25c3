#ifndef KORVAN_MIRT_CACHEMARKS_HH
#define KORVAN_MIRT_CACHEMARKS_HH

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KORVAN {

class TemporalNetwork;

namespace MIRT {

class Node;

// The marks by which a flow profile's caches tell whether what they hold is
// still current. Four caches live across reads and passes:
//
//   the kept networks   each FlowProfileGraph's nodes and edges, emptied by
//                       startOver and reused by the next pass;
//   the maximum flow    the flow on the edges, and the arrays of the last run
//                       (MaximumFlowAlgorithm), mended where few nodes changed;
//   the ordering cache  FlowProfile's OrderingCache entries, each the order of
//                       a pair as the temporal network gave it;
//   the answer table    FlowProfile's byte per pair of transaction numbers,
//                       read from the ordering cache.
//
// Writers say what changed here; readers ask here whether what they hold
// still stands. The caches keep their contents and algorithms, and most of
// the marks are here. Network is one flow network's part, kept by its Graph
// so that a bare graph and its maximum flow have it too; Orderings is a
// profile's part, kept by the profile, about the temporal network. Three
// marks stay with their owners: FlowProfileGraph::m_recalculate (its network
// changed since its flow last ran), FlowProfile's level flags (which of the
// two networks the pass rebuilds; kept when a pass stops early, so that the
// next one finishes it) and its pass record m_pass.
//
// What each kind of change invalidates, and what stays valid:
//
//   a node added or removed (createNode, removeNode, keepOnly)
//       counts a change; the node (and, on removal, each neighbour) is listed
//       as touched. A resumed run mends the arrays at the touched nodes; a
//       run from scratch, or one after more than half the nodes were touched
//       or the list was taken by keepOnly, builds them anew. The held flow is
//       no longer current: the next run resumes it, repairing what the
//       removed node's edges held. The orderings and the answers stand.
//   a node enabled or disabled (Node::setEnabled/setDisabled)
//       counts a change and touches the node and every neighbour (their arcs
//       to it come or go). FlowProfileGraph::disable, switching off a node
//       with flow still through it, makes the held flow stale
//       (flowThroughSwitchedOff): the next read runs the flow even when the
//       network is otherwise unchanged. Without flow through it the held flow
//       stays a maximum flow of what is left. Node::setDisabled alone marks
//       nothing stale: reset, which switches off every node, says
//       heldFlowDisturbed instead.
//   a capacity changed (Edge::setCapacity, a reused edge re-bounded)
//       counts a change and touches both ends; the flow profile graph says
//       heldFlowDisturbed whenever it writes capacities, changed or not: the
//       next run clips the held flow within the capacities of now and
//       completes it.
//   an edge ordered (FlowProfileGraph::enableAt/enableAtOrBefore, bypass)
//       an edge made or switched on: counts a change, touches both ends, and
//       heldFlowDisturbed, as above. An edge left by an earlier pass takes
//       the capacity written now, never its old one.
//   flow handed back (FlowProfileGraph::pushFlow)
//       no node, edge or capacity changes, so the count stays; but the flow
//       held is no longer maximum: heldFlowDisturbed, and the next run,
//       whatever makes it due, completes it.
//   a temporal distance moved (the temporal network tightened, loosened, or
//   a point's bounds moved)
//       the flow networks are not touched. The ordering cache is checked at
//       the next noteOutsideChanges against what Orderings last saw: an entry
//       whose Survival bits cover every kind of change since, or whose
//       distances are shown to stand, is kept; any other is asked again, and
//       one whose answer moved is dropped with its two answer cells, and
//       widens the window of the next pass (both levels recomputed).
//   a relaxation (a transaction's time relaxed) or a transaction removed
//       transactionChanged: the next check asks every entry again that it
//       cannot show to stand, whatever the network's counters say. A removal
//       also forgets the transaction's entries and its answers' row and
//       column, and removes its node from both networks.
//   a reset or a new pass
//       FlowProfileGraph::reset switches every node and edge off (touching
//       them all, so the arrays are built anew) and heldFlowDisturbed; the
//       pass then enables what it needs, ordering edges with the capacities
//       of now. FlowProfileGraph::startOver empties the network to its
//       terminals: networkStartedOver forgets the arrays and the held flow.
//       The orderings and the answers stand across passes: they depend on
//       the temporal network only.
//
// Within a pass no domain changes: the orderings and the answers read at one
// instant stand for the rest of it.
class CacheMarks {
public:
  class Network {
  public:
    Network();

    // What writers say.

    // A node or an edge made, removed, switched, or re-bounded.
    void counted() { ++m_count; }
    // The nodes whose arcs or flows changed since the list was last taken,
    // each listed once: Node keeps its place in the list.
    std::size_t list(Node* node) {
      m_touched.push_back(node);
      return m_touched.size() - 1;
    }
    // Takes the entry at `at` out, the last taking its place; returns the
    // node moved there (null when none moved), whose place is now `at`.
    Node* unlist(std::size_t at) {
      Node* last = m_touched.back();
      m_touched[at] = last;
      m_touched.pop_back();
      return at < m_touched.size() ? last : 0;
    }
    // Every node unlisted (each node's own mark cleared too), taken by `by`:
    // only its arrays can be mended from the list from then on (nobody's
    // when null).
    void clearTouched(const void* by = 0);
    // Before a graph lets go of its nodes: nothing is listed any more.
    void dropTouched() { m_touched.clear(); }
    // Arrays describing the graph as it is now were made by `by`; a patched
    // set keeps no list of the edges a run from scratch must clear.
    void arraysBuilt(const void* by, bool patched);
    // The arrays of `by` may be half made: none describe the graph.
    void arraysDropped() { m_arraysBy = 0; }
    void networkStartedOver();
    // A run left a maximum flow of the network as it is now.
    void flowRun() {
      m_flowHeld = true;
      m_heldAt = m_count;
      m_flowStale = false;
    }
    // Capacities were (or may have been) written, or flow moved outside a
    // run: the held flow may exceed them or no longer be maximum.
    void heldFlowDisturbed() { m_flowHeld = false; }
    // A node was switched off with flow still through it.
    void flowThroughSwitchedOff() { m_flowStale = true; }

    // What readers ask.

    unsigned long changes() const { return m_count; }
    const std::vector<Node*>& touched() const { return m_touched; }
    // Whether the arrays `by` made last still describe the graph, for a run
    // from scratch too when fromScratch (patched arrays do not).
    bool arraysCurrent(const void* by, bool fromScratch) const {
      return m_arraysBy == by && m_arraysAt == m_count && !(fromScratch && m_arraysPatched);
    }
    // Whether the arrays `by` made last can be mended from the touched list:
    // it lists every change since, and no more than half of `nodes`.
    bool arraysMendable(const void* by, std::size_t nodes) const {
      return m_arraysBy == by && m_clearedBy == by && m_clearedAt == m_arraysAt && 2 * m_touched.size() <= nodes;
    }
    // Whether the flow on the edges is a maximum flow of the network now.
    bool flowCurrent() const { return m_flowHeld && m_heldAt == m_count; }
    // Whether the held flow runs through a node switched off since its run.
    bool flowStale() const { return m_flowStale; }

  private:
    unsigned long m_count;
    std::vector<Node*> m_touched;
    // Who took the touched list last, and at which count.
    const void* m_clearedBy;
    unsigned long m_clearedAt;
    // Whose arrays describe the graph as of m_arraysAt (null: nobody's).
    const void* m_arraysBy;
    unsigned long m_arraysAt;
    bool m_arraysPatched;
    bool m_flowHeld;
    unsigned long m_heldAt;
    bool m_flowStale;
  };

  // What the ordering cache was last checked against: the temporal
  // network's counters and the ends of its logs.
  class Orderings {
  public:
    Orderings();

    // What writers say: a transaction's time relaxed, or a transaction gone.
    void transactionChanged() { m_recheck = true; }

    // What readers ask. Whether anything may have moved since the last check.
    bool changedSince(const TemporalNetwork& network) const;
    bool recheckDue() const { return m_recheck; }
    // Whether the marks were ever taken: before, no log can be read from them.
    bool marked() const { return m_marked; }
    bool loosenedSince(const TemporalNetwork& network) const;
    bool tightenedSince(const TemporalNetwork& network) const;
    // Where the unread ends of the tightened-arc and moved-point logs start.
    std::uint64_t arcsFrom() const { return m_arcs; }
    std::uint64_t movedFrom() const { return m_moved; }
    // Whether only constraints through the origin changed since.
    bool innerUnchangedSince(const TemporalNetwork& network) const;
    // Whether time points may have left the network since.
    bool pointsLeftSince(const TemporalNetwork& network) const;

    // The changes since were read: the marks move to where the network is
    // now, before the entries are checked against what was read.
    void checked(const TemporalNetwork& network, std::uint64_t movedCount);
    // A pending recheck is taken (returned).
    bool takeRecheck() {
      const bool due = m_recheck;
      m_recheck = false;
      return due;
    }

  private:
    std::uint64_t m_version;
    std::uint64_t m_loosenings;
    std::uint64_t m_tightenings;
    std::uint64_t m_arcs;
    std::uint64_t m_innerChanges;
    std::uint64_t m_moved;
    std::uint64_t m_removals;
    bool m_marked;
    bool m_recheck;
  };
};

}
}

#endif
