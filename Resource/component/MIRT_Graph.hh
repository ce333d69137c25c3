#ifndef KORVAN_MIRT_GRAPH_HH
#define KORVAN_MIRT_GRAPH_HH

#include "Resource/base/MIRT_Transaction.hh"
#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Node.hh"

#include <map>
#include <cstddef>
#include <unordered_map>
#include <vector>

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
  // Makes the node if needed; either way its state becomes `enabled`. With
  // a number (dense among the transactions of one owner, the same for every
  // graph of it), the node is found by it from then on.
  Node* createNode(const TransactionId& t, bool enabled, int number = -1);
  // The node numbered so, or null.
  Node* nodeAt(int number) const {
    return number >= 0 && (std::size_t) number < m_byNumber.size() ? m_byNumber[number] : 0;
  }
  // Both end nodes end up enabled. An existing edge is reused: its capacity
  // is overwritten and, with `enabled` true, its flag set.
  Edge* createEdge(const TransactionId& source, const TransactionId& target, double capacity, bool enabled);
  // createEdge by handles, for two nodes of this graph.
  Edge* link(Node* source, Node* target, double capacity, bool enabled);
  // First edge from source to target, enabled or not; null if none.
  Edge* getEdge(Node* source, Node* target) const;
  void removeNode(const TransactionId& t);
  // Removes every node but the two given, which are left as if just made:
  // enabled, unmarked and without edges. False, with nothing changed, when
  // either is missing or the two are joined directly.
  bool keepOnly(Node* first, Node* second);
  // Gives back the memory of spare nodes beyond `nodes` and of spare edges
  // beyond `edges`.
  void trimSpare(std::size_t nodes, std::size_t edges);
  std::size_t spareNodes() const { return m_spareNodes.size(); }
  std::size_t spareEdges() const { return m_spareEdges.size(); }
  // Disables every node and clears the flag of each out-edge that still
  // counts as enabled when its source is visited (key order).
  void setDisabled();
  const NodeMap& getNodes() const { return m_Nodes; }
  // The nodes of getNodes() in its order, for the walks made at every run:
  // stepping through a vector reads a line per few nodes, a tree's walk a
  // few lines per node.
  const std::vector<Node*>& nodesInOrder() const { return m_inOrder; }
  // Grows with every node or edge made, removed, switched on or off, and
  // every capacity changed.
  unsigned long getChanges() const { return m_Marks.changes(); }
  // What the graph's caches ask and say about its changes.
  CacheMarks::Network& getCacheMarks() { return m_Marks; }

private:
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  Edge* createEdge(Node* source, Node* target, double capacity, bool enabled);
  // Deletes a node and its edges, keeping their memory for the next ones
  // made: a pass opens and closes as many nodes as it has transactions.
  void recycle(Node* node);
  // listed: whether it is taken out of m_inOrder too.
  void erase(NodeMap::iterator it, bool listed = true);

  CacheMarks::Network m_Marks;
  NodeMap m_Nodes;
  std::vector<Node*> m_inOrder;
  // The same nodes by address, for the look-ups of every edge made.
  std::unordered_map<TransactionId, Node*, TransactionIdHash> m_byIdentity;
  // The numbered nodes by number.
  std::vector<Node*> m_byNumber;
  // Deleted nodes kept for reuse, with their maps' entries; the memory of
  // deleted edges, each of an edge's size.
  std::vector<Node*> m_spareNodes;
  std::vector<NodeMap::node_type> m_spareEntries;
  std::vector<std::unordered_map<TransactionId, Node*, TransactionIdHash>::node_type> m_spareIdentities;
  std::vector<void*> m_spareEdges;
};

}
}

#endif
