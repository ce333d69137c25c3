#ifndef KORVAN_MIRT_GRAPH_HH
#define KORVAN_MIRT_GRAPH_HH

#include "Resource/base/MIRT_Transaction.hh"
#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Node.hh"

#include <map>
#include <unordered_map>

namespace KORVAN {
namespace MIRT {

typedef std::map<TransactionId, Node*> NodeMap;

// A flow network keyed by transactions. Nodes and edges are switched off and
// on rather than deleted; a node and its edges go only on removeNode. Edges
// made through the graph are unique per ordered pair of nodes.
class Graph {
public:
  Graph();
  ~Graph();

  Node* getNode(const TransactionId& t) const;
  // Makes the node if needed; either way its state becomes `enabled`.
  Node* createNode(const TransactionId& t, bool enabled);
  // Both end nodes end up enabled. An existing edge is reused: its capacity
  // is overwritten and, with `enabled` true, its flag set.
  Edge* createEdge(const TransactionId& source, const TransactionId& target, double capacity, bool enabled);
  // First edge from source to target, enabled or not; null if none.
  Edge* getEdge(Node* source, Node* target) const;
  void removeNode(const TransactionId& t);
  // Disables every node and clears the flag of each out-edge that still
  // counts as enabled when its source is visited (key order).
  void setDisabled();
  const NodeMap& getNodes() const { return m_Nodes; }
  // Grows with every node or edge made, removed, switched on or off, and
  // every capacity changed.
  unsigned long getChanges() const { return m_Changes.count; }
  ChangeRecord& getChangeRecord() { return m_Changes; }

private:
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  Edge* createEdge(Node* source, Node* target, double capacity, bool enabled);

  ChangeRecord m_Changes;
  NodeMap m_Nodes;
  // The same nodes by address, for the look-ups of every edge made.
  std::unordered_map<TransactionId, Node*, TransactionIdHash> m_byIdentity;
};

}
}

#endif
