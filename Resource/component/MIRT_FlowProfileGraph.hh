#ifndef KORVAN_MIRT_FLOWPROFILEGRAPH_HH
#define KORVAN_MIRT_FLOWPROFILEGRAPH_HH

#include "Resource/base/MIRT_Profile.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_MaxFlow.hh"
#include "Resource/component/MIRT_Types.hh"

#include <memory>
#include <set>
#include <unordered_map>
#include <vector>

namespace KORVAN {
namespace MIRT {

// For each transaction, the instant from which it counts in one level bound
// outside the flow network.
typedef std::unordered_map<TransactionId, InstantId, TransactionIdHash> ContributionMap;

class FlowListing;

// One of the two flow networks of a flow profile. Pending transactions hang
// from the source or towards the sink with a quantity bound as capacity, and
// orderings join them with edges of unbounded capacity; the residual left on
// the source's edges after a maximum flow is what the pending transactions can
// still move the level bound by.
//
//             consumer                         producer
//   lower     source -> t, quantity ub         t -> sink, quantity lb
//   upper     t -> sink, quantity lb           source -> t, quantity ub
class FlowProfileGraph {
public:
  FlowProfileGraph(const TransactionId& source, const TransactionId& sink, bool lowerLevel);
  ~FlowProfileGraph();

  bool isLowerLevel() const { return m_lowerLevel; }
  // Back to the state of a network just made, holding only the terminals,
  // with the memory of its nodes, edges and arrays kept for the next pass.
  // False, with nothing changed, when the terminals are joined directly.
  bool startOver();
  // Gives back the memory of the nodes and edges kept beyond what a network
  // of that many transactions would hold.
  void trimSpare(std::size_t transactions);
  // Switches every transaction off, with all the edges between them; the
  // terminals stay on.
  void reset();
  // A transaction with a zero capacity here gets no node: it is recorded in
  // the contribution map at the instant instead.
  // With a number (the owner's dense number of t), the node is found by it.
  void enableTransaction(const TransactionId& t, const InstantId& instant, ContributionMap& contributions,
                         int number = -1);
  // t1 and t2 at the same time / t1 at or before t2; nothing unless both have nodes.
  void enableAt(const TransactionId& t1, const TransactionId& t2);
  void enableAtOrBefore(const TransactionId& t1, const TransactionId& t2);
  // The same for transactions given by their numbers, all of whose nodes
  // here were made with them.
  void enableAt(int n1, int n2);
  void enableAtOrBefore(int n1, int n2);
  bool isEnabled(const TransactionId& t) const;
  bool hasNode(const TransactionId& t) const;
  // Whether a residual-graph walk of this network has taken t out.
  bool wasTakenOut(const TransactionId& t) const { return m_takenOut.count(t) > 0; }
  // Switches t off, edges kept; with flow still through it (no pushFlow
  // first), the next read runs the flow again. Whether a walk follows is
  // left to the changes that make one due: which maximum flow is held, and
  // so whether it runs through t, must not decide that.
  void disable(const TransactionId& t);
  void removeTransaction(const TransactionId& t);
  void pushFlow(const TransactionId& t);
  void restoreFlow();
  double getResidualFromSource();
  // The transactions reachable from the source over edges with residual
  // capacity left by the last maximum flow, in depth-first out-list order:
  // the ones the level bound counts in full. Changes nothing.
  void getReachableResidualTransactions(std::vector<TransactionId>& reached) const;
  // The same transactions in the order a walk after a maximum flow found
  // from scratch takes them, for debug lines: the order the walk of the
  // flow held takes may differ. Changes nothing here.
  void listReachable(std::vector<TransactionId>& reached) const;
  // Takes every transaction still reachable from the source in the residual
  // network out of it, records them at the instant and returns the sum of
  // their contributions to this level bound; 0.0 when nothing changed. The
  // nodes taken out are deleted, so that later runs only see the open part.
  double disableReachableResidualGraph(ContributionMap& contributions, const InstantId& instant);

  // How a transaction stands to one being opened: bits of a relation.
  enum { AT_OR_BEFORE = 1, AT_OR_AFTER = 2 };
  // Ordering edges are needed only to the nearest of t's ordered partners:
  // with unbounded capacities, two edge sets with the same transitive
  // closure give the same maximum flow and the same residual reach. Of the
  // partners with a node enabled here (relation[i] tells how others[i]
  // stands to t), sets needed[i] for those the network's present ordering
  // edges do not already join to t through another needed one.
  void selectNearest(const TransactionId& t, const std::vector<TransactionId>& others,
                     const std::vector<unsigned char>& relation, std::vector<char>& needed);
  // The same, with the partners already put in the order the choice visits
  // them by sortByTime, once for several networks; relation may leave out
  // some of those sorted.
  // With numbers (t's, and others' in a list alongside), the nodes are
  // found by them, as enableTransaction made them.
  void selectNearest(const TransactionId& t, const std::vector<TransactionId>& others,
                     const std::vector<unsigned char>& relation, const std::vector<std::size_t> (&byTime)[2],
                     std::vector<char>& needed, int number = -1, const std::vector<int>* numbers = 0);
  // Per side, the indices of the partners with that side's relation bit,
  // nearest to t first by their time bounds (bounds[i]), ties by index.
  static void sortByTime(const std::vector<std::pair<double, double>>& bounds,
                         const std::vector<unsigned char>& relation, std::vector<std::size_t> (&byTime)[2]);
  // Before t leaves the network while others ordered through it stay: joins
  // each transaction after t to each before it, since the edges chosen by
  // selectNearest may have relied on t to carry those orderings.
  void bypass(const TransactionId& t);

  bool needsRecalculation() const { return m_recalculate; }
  const Graph& getGraph() const { return *m_graph; }

  typedef std::unordered_map<Node*, bool, NodeHash> VisitedMap;

private:
  FlowProfileGraph(const FlowProfileGraph&) = delete;
  FlowProfileGraph& operator=(const FlowProfileGraph&) = delete;

  bool onSourceSide(const TransactionId& t) const;
  void visitNeighbors(Node* node, double& level, int seen, ContributionMap& contributions,
                      const InstantId& instant);
  // The lines of the walk from the source, in the order of listReachable.
  void listVisits(const InstantId& instant) const;

  // The network changed since the last run: a maximum flow of it, resumed
  // from the flow held. While a site that shows how a run went or in which
  // order its residual reach is walked is on, the lines are those of a run
  // from scratch, written by a listing beside it.
  void runMaximumFlow();
  // Whether those sites are all off.
  static bool quietRuns();
  // A listing of the network as it is now, made anew when the network
  // changed since the last or when its run is to write its lines (not quiet).
  FlowListing& listing(bool quiet) const;
  // Whether the flow held is current, and what changed it, as the graph's
  // cache marks keep them.
  CacheMarks::Network& marks() { return m_graph->getCacheMarks(); }
  void noteRun() { marks().flowRun(); }
  void noteCapacities() { marks().heldFlowDisturbed(); }
  bool flowIsCurrent() { return marks().flowCurrent(); }
  // A fresh mark for Node visits.
  int nextVisitMark() const;
  // Marks `covered` every transaction node reached from `from` over
  // ordering edges of unbounded capacity, forwards or backwards; a node
  // marked `kept` that it reaches is no longer needed.
  void markOrdered(Node* from, bool forward, int covered, int kept, std::vector<char>& needed);
  void addOrderingEdge(Node* from, Node* to);
  void enableAt(Node* n1, Node* n2);
  void enableAtOrBefore(Node* n1, Node* n2);

  bool m_lowerLevel;
  // The network changed since the last run: a read runs the flow (and, with
  // the flow held gone stale, CacheMarks::Network::flowStale, so does it).
  bool m_recalculate;
  std::set<TransactionId> m_takenOut;
  MaximumFlowAlgorithm* m_maxflow;
  Graph* m_graph;
  Node* m_source;
  Node* m_sink;
  mutable int m_visitMark;
  // Scratch of the residual walks.
  mutable std::vector<EdgeOutIterator> m_walk;
  std::vector<Node*> m_reached;
  // Scratch of selectNearest and bypass.
  struct Candidate {
    double first;
    double second;
    std::size_t index;
    Node* node;
    bool operator<(const Candidate& other) const {
      if (first != other.first)
        return first < other.first;
      if (second != other.second)
        return second < other.second;
      return index < other.index;
    }
  };
  std::vector<Candidate> m_candidates;
  // The candidates chosen so far on the side being selected, with their indices.
  std::vector<std::pair<Node*, std::size_t>> m_kept;
  std::vector<Node*> m_partnerNodes;
  std::vector<std::size_t> m_byTime[2];
  std::vector<std::pair<double, double>> m_bounds;
  std::vector<Node*> m_stack;
  std::vector<Node*> m_before;
  std::vector<Node*> m_after;
  // Debug lines only: the decisions never read it.
  mutable std::unique_ptr<FlowListing> m_listing;
};

}
}

#endif
