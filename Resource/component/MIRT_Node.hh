#ifndef KORVAN_MIRT_NODE_HH
#define KORVAN_MIRT_NODE_HH

#include "Resource/base/MIRT_Transaction.hh"

#include <ostream>
#include <vector>

namespace KORVAN {
namespace MIRT {

class Edge;
typedef TransactionId NodeIdentity;
typedef std::vector<Edge*> EdgeList;

// A vertex of a flow network: stands for one transaction. Owns the edges of
// both its lists jointly with their other end; deleting a node unlinks and
// deletes all of them.
class Node {
public:
  Node(const NodeIdentity& identity);
  ~Node();

  const NodeIdentity& getIdentity() const { return m_Identity; }

  bool isEnabled() const { return m_Enabled; }
  void setEnabled() {
    if (!m_Enabled)
      noteChange();
    m_Enabled = true;
  }
  void setDisabled() {
    if (m_Enabled)
      noteChange();
    m_Enabled = false;
  }

  const EdgeList& getOutEdges() const { return m_OutEdges; }
  const EdgeList& getInEdges() const { return m_InEdges; }

  int getVisit() const { return m_Visit; }
  void setVisit(int visit) { m_Visit = visit; }

  // Slot of the node in the arrays of the maximum flow running over the
  // graph; -1 outside a run or when the node is disabled.
  int getIndex() const { return m_Index; }
  void setIndex(int index) { m_Index = index; }

  // Counts, in the owning graph, every change to which nodes and edges are
  // on and how they are linked, so that a maximum flow can tell whether the
  // arrays of its last run still describe the graph.
  void setChangeCounter(unsigned long* counter) { m_Changes = counter; }
  void noteChange() {
    if (m_Changes != 0)
      ++*m_Changes;
  }

  // Whether an out-edge may hold flow: set for every node a maximum flow
  // runs over, cleared once a run from scratch has emptied them all.
  bool mayHoldFlow() const { return m_MayHoldFlow; }
  void setMayHoldFlow(bool may) { m_MayHoldFlow = may; }

  // Reserved to Edge's constructor.
  void addOutEdge(Edge* edge);
  void addInEdge(Edge* edge);
  void removeOutEdge(Edge* edge);
  void removeInEdge(Edge* edge);

private:
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  bool m_Enabled;
  bool m_MayHoldFlow;
  int m_Visit;
  int m_Index;
  unsigned long* m_Changes;
  NodeIdentity m_Identity;
  EdgeList m_InEdges;
  EdgeList m_OutEdges;
};

std::ostream& operator<<(std::ostream& os, const Node& node);

}
}

#endif
