#ifndef KORVAN_RESOURCE_TEST_REFERENCEMAXFLOW_HH
#define KORVAN_RESOURCE_TEST_REFERENCEMAXFLOW_HH

#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_Node.hh"
#include "Resource/component/MIRT_Types.hh"

#include <list>
#include <ostream>
#include <unordered_map>

namespace KORVAN {
namespace MIRT {

// The module's first maximum flow, kept as a test oracle: push-relabel,
// relabel-to-front, relabelling on every inadmissible edge, all state in hash
// maps refilled on each run, reverse edges found by Graph::getEdge. Slow but
// plainly written; the faster algorithm must reach the same flow values and
// the same residual reachable sets.
class ReferenceMaximumFlow {
public:
  ReferenceMaximumFlow(Graph* g, Node* source, Node* sink);
  ~ReferenceMaximumFlow();

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

  ReferenceMaximumFlow(const ReferenceMaximumFlow&) = delete;
  ReferenceMaximumFlow& operator=(const ReferenceMaximumFlow&) = delete;

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
