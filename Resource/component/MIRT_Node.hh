#ifndef KORVAN_MIRT_NODE_HH
#define KORVAN_MIRT_NODE_HH

#include "Resource/base/MIRT_Transaction.hh"
#include "Resource/component/MIRT_CacheMarks.hh"

#include <ostream>
#include <vector>

namespace KORVAN {
namespace MIRT {

class Edge;
class Node;
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
      noteSwitch();
    m_Enabled = true;
  }
  void setDisabled() {
    if (m_Enabled)
      noteSwitch();
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

  // The owning graph's cache marks, which every change to this node, or to
  // an edge it is the source of, counts in and lists the node in.
  void setCacheMarks(CacheMarks::Network* marks) { m_Marks = marks; }
  void noteChange() {
    if (m_Marks != 0) {
      m_Marks->counted();
      touch();
    }
  }
  // Lists the node as touched without counting a change: its flows changed.
  void touch() {
    if (m_Marks != 0 && m_TouchedAt < 0)
      m_TouchedAt = (int) m_Marks->list(this);
  }
  bool isTouched() const { return m_TouchedAt >= 0; }
  // Switched on or off: the arcs of every node linked to it change too.
  void noteSwitch();
  // Reserved to the cache marks, as they unlist the node.
  void clearTouched() { m_TouchedAt = -1; }

  // The dense number its graph finds it by, or -1.
  int getNumber() const { return m_Number; }
  void setNumber(int number) { m_Number = number; }

  // Slot of the node in the arrays of the last run that built them; -1 if
  // it was not in them.
  int getSlot() const { return m_Slot; }
  void setSlot(int slot) { m_Slot = slot; }

  // Whether an out-edge may hold flow: set for every node a maximum flow
  // runs over, cleared once a run from scratch has emptied them all.
  bool mayHoldFlow() const { return m_MayHoldFlow; }
  void setMayHoldFlow(bool may) { m_MayHoldFlow = may; }

  // Unlinks every edge of both lists from its other end and destroys it, as
  // the destructor does, out-edges first; with `spare` given, the memory of
  // each is kept there instead of freed.
  void dropEdges(std::vector<void*>* spare);
  // What the destructor does, the object and its lists' memory kept; then
  // reuse makes it a node just made for another identity.
  void retire(std::vector<void*>* spare);
  void reuse(const NodeIdentity& identity);

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
  int m_Slot;
  // Position in the cache marks' touched list, or -1.
  int m_TouchedAt;
  int m_Number;
  CacheMarks::Network* m_Marks;
  NodeIdentity m_Identity;
  EdgeList m_InEdges;
  EdgeList m_OutEdges;
};

std::ostream& operator<<(std::ostream& os, const Node& node);

}
}

#endif
