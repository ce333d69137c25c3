#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace MIRT {

Graph::Graph() {}

Graph::~Graph() {
  // Nothing is left to record changes for.
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it)
    it->second->setChangeRecord(0);
  m_Changes.touched.clear();
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it)
    delete it->second;
  m_Nodes.clear();
  m_byIdentity.clear();
}

Node* Graph::getNode(const TransactionId& t) const {
  std::unordered_map<TransactionId, Node*, TransactionIdHash>::const_iterator it = m_byIdentity.find(t);
  return it == m_byIdentity.end() ? 0 : it->second;
}

Node* Graph::createNode(const TransactionId& t, bool enabled) {
  Node* node = getNode(t);
  if (node == 0) {
    node = new Node(t);
    node->setChangeRecord(&m_Changes);
    node->noteChange();
    m_Nodes.insert(std::make_pair(t, node));
    m_byIdentity.insert(std::make_pair(t, node));
  }
  if (enabled)
    node->setEnabled();
  else
    node->setDisabled();
  return node;
}

Edge* Graph::createEdge(const TransactionId& source, const TransactionId& target, double capacity, bool enabled) {
  Node* sourceNode = createNode(source, true);
  Node* targetNode = createNode(target, true);
  return createEdge(sourceNode, targetNode, capacity, enabled);
}

Edge* Graph::createEdge(Node* source, Node* target, double capacity, bool enabled) {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  Edge* edge = getEdge(source, target);
  if (edge != 0) {
    if (enabled)
      edge->setEnabled();
    edge->setCapacity(capacity);
    return edge;
  }
  return new Edge(source, target, capacity, enabled);
}

Edge* Graph::getEdge(Node* source, Node* target) const {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  const EdgeList& out = source->getOutEdges();
  for (EdgeList::const_iterator it = out.begin(); it != out.end(); ++it)
    if ((*it)->getTarget() == target)
      return *it;
  return 0;
}

void Graph::removeNode(const TransactionId& t) {
  NodeMap::iterator it = m_Nodes.find(t);
  if (it == m_Nodes.end())
    return;
  Node* node = it->second;
  m_Nodes.erase(it);
  m_byIdentity.erase(t);
  delete node;
}

void Graph::setDisabled() {
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it) {
    Node* node = it->second;
    node->setDisabled();
    for (EdgeOutIterator edgeIt(*node, true); edgeIt.ok(); ++edgeIt)
      (*edgeIt)->setDisabled();
  }
}

}
}
