#ifndef KORVAN_MIRT_MAXFLOW_HH
#define KORVAN_MIRT_MAXFLOW_HH

#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_Node.hh"
#include "Resource/component/MIRT_Types.hh"

#include <list>
#include <ostream>
#include <unordered_map>

namespace KORVAN {
namespace MIRT {

// Maximum flow from a source to a sink over the enabled part of a graph:
// push-relabel, relabel-to-front, over explicit reverse edges (every edge that
// counts as enabled must have an enabled opposite edge). A run either starts
// from scratch or resumes from the labels, excesses and flows it holds.
// All per-node and per-edge state lives here; the graph is not owned.
class MaximumFlowAlgorithm {
public:
  MaximumFlowAlgorithm(Graph* g, Node* source, Node* sink);
  ~MaximumFlowAlgorithm();

  Graph* getGraph() const { return m_Graph; }
  Node* getSource() const { return m_Source; }
  Node* getSink() const { return m_Sink; }

  void execute(bool reset = true);
  // 0.0 for an edge the algorithm has not seen since its last reset.
  double getFlow(Edge* e) const;
  double getResidual(Edge* e) const;
  // Hands the flow entering n back to its predecessors as excess, for a later
  // execute(false) to place elsewhere.
  void pushFlowBack(Node* n);
  void print(std::ostream& os) const;

private:
  typedef std::unordered_map<Node*, EdgeList::const_iterator, NodeHash> CursorMap;
  typedef std::list<Node*> NodeList;

  MaximumFlowAlgorithm(const MaximumFlowAlgorithm&) = delete;
  MaximumFlowAlgorithm& operator=(const MaximumFlowAlgorithm&) = delete;

  void initializePre(bool reset);
  Node* getNextInList();
  void disCharge(Node* n);
  bool isAdmissible(Edge* e);
  void push(Edge* e);
  // False when n has no residual enabled out-edge left.
  bool reLabel(Node* n);
  void resetToFront();

  CursorMap m_CurrentOutEdgeOnNode;
  CursorMap m_EndOutEdgeOnNode;
  std::unordered_map<Node*, double, NodeHash> m_ExcessOnNode;
  std::unordered_map<Node*, long, NodeHash> m_DistanceOnNode;
  std::unordered_map<Edge*, double, EdgeHash> m_OnEdge;
  NodeList m_Nodes;
  Graph* m_Graph;
  Node* m_Source;
  Node* m_Sink;
  NodeList::iterator m_NodeListIterator;
};

}
}

#endif
