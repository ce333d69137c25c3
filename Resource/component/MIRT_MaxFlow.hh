#ifndef KORVAN_MIRT_MAXFLOW_HH
#define KORVAN_MIRT_MAXFLOW_HH

#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_Node.hh"
#include "Resource/component/MIRT_Types.hh"

#include <ostream>
#include <vector>

namespace KORVAN {
namespace MIRT {

// Maximum flow from a source to a sink over the enabled part of a graph:
// push-relabel, relabel-to-front, over explicit reverse edges (every edge that
// counts as enabled must have an enabled opposite edge). A run either starts
// from scratch or resumes from the flow the edges hold, whatever changed in
// the graph since: the flow is first brought back within the capacities and
// the enabled part, then completed. The flow lives on the edges; labels,
// excesses and cursors live here, in arrays indexed by node for one run.
class MaximumFlowAlgorithm {
public:
  MaximumFlowAlgorithm(Graph* g, Node* source, Node* sink);
  ~MaximumFlowAlgorithm();

  Graph* getGraph() const { return m_Graph; }
  Node* getSource() const { return m_Source; }
  Node* getSink() const { return m_Sink; }

  // quiet: the run writes no debug lines (another run writes them).
  void execute(bool reset = true, bool quiet = false);
  // 0.0 for an edge the algorithm has not placed flow on.
  double getFlow(Edge* e) const;
  double getResidual(Edge* e) const;
  // Hands the flow entering n back to its predecessors, for a later
  // execute(false) to place elsewhere.
  void pushFlowBack(Node* n);
  // Back to the state of one just made, over a graph emptied but for its
  // terminals; the memory of the arrays is kept.
  void forget();
  // Nothing to show: the state of a run lives on the edges.
  void print(std::ostream& os) const;

private:
  MaximumFlowAlgorithm(const MaximumFlowAlgorithm&) = delete;
  MaximumFlowAlgorithm& operator=(const MaximumFlowAlgorithm&) = delete;

  void initializePre(bool reset);
  void buildArrays(bool reset);
  void reuseArrays(bool reset);
  // Mends the arrays of the last run where the graph changed since: the
  // arcs and excesses of untouched nodes are kept, those of the nodes the
  // graph's cache marks list as touched derived anew. False, with nothing
  // changed, when they cannot be mended (CacheMarks::Network::arraysMendable).
  bool patchArrays();
  void checkUnpaired(Edge* edge, bool reset) const;
  // Brings a flow left by an earlier run and changed since back to a
  // preflow of the present network; false when it cannot.
  bool repair();
  static double flowWithinCapacities(const Edge* edge);
  void saturateSource();
  // Exact distances to the sink (or, past the listed count, to the source)
  // in the residual network, and the list in decreasing label order.
  void globalRelabel();
  void disCharge(int n);
  void push(int arc);
  // False when n has no residual arc left.
  bool reLabel(int n);

  bool isTerminal(int n) const { return n == m_SourceIndex || n == m_SinkIndex; }

  Graph* m_Graph;
  Node* m_Source;
  Node* m_Sink;

  // One run: the enabled nodes in key order, and for each its arcs (the out-
  // edges that count as enabled and have an enabled partner) in out-list order.
  std::vector<Node*> m_Nodes;
  std::vector<int> m_FirstArc;
  std::vector<Edge*> m_Arcs;
  std::vector<int> m_Head;
  std::vector<int> m_Cursor;
  std::vector<double> m_Excess;
  std::vector<long> m_Distance;
  std::vector<int> m_Next;   // the relabel-to-front list, linked by index
  std::vector<int> m_Queue;
  std::vector<int> m_BucketHead;  // scratch of globalRelabel
  std::vector<int> m_BucketTail;
  int m_SourceIndex;
  int m_SinkIndex;
  int m_ListHead;
  int m_Listed;
  // Relabelling work since exact labels were last taken.
  long m_Work;
  bool m_Quiet;
  // Whether the arrays above still describe the graph the graph's cache
  // marks tell. Edges outside them that may hold flow, and enabled edges
  // without an enabled partner, are kept for a later run from scratch; mended
  // arrays keep no such list, so a run from scratch builds anew.
  // The excesses were carried over by patchArrays, not to be recomputed.
  bool m_ExcessKnown;
  // Scratch of patchArrays.
  std::vector<int> m_OldToNew;
  std::vector<int> m_OldSlot;
  std::vector<Node*> m_NewNodes;
  std::vector<int> m_NewFirstArc;
  std::vector<Edge*> m_NewArcs;
  std::vector<int> m_NewHead;
  std::vector<double> m_NewExcess;
  std::vector<Edge*> m_Stray;
  std::vector<Edge*> m_Unpaired;
};

}
}

#endif
