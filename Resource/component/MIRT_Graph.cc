#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <new>

namespace KORVAN {
namespace MIRT {

Graph::Graph() {}

Graph::~Graph() {
  // Nothing is left to record changes for.
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it)
    it->second->setCacheMarks(0);
  m_Marks.dropTouched();
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it)
    delete it->second;
  m_Nodes.clear();
  m_inOrder.clear();
  m_byIdentity.clear();
  trimSpare(0, 0);
}

Node* Graph::getNode(const TransactionId& t) const {
  std::unordered_map<TransactionId, Node*, TransactionIdHash>::const_iterator it = m_byIdentity.find(t);
  return it == m_byIdentity.end() ? 0 : it->second;
}

Node* Graph::createNode(const TransactionId& t, bool enabled, int number) {
  Node* node = number >= 0 ? nodeAt(number) : getNode(t);
  check_error(node == 0 || node->getIdentity() == t, "A number names another transaction's node");
  if (node == 0 && number >= 0)
    node = getNode(t);
  if (node == 0) {
    if (m_spareNodes.empty())
      node = new Node(t);
    else {
      node = m_spareNodes.back();
      m_spareNodes.pop_back();
      node->reuse(t);
    }
    node->setCacheMarks(&m_Marks);
    node->noteChange();
    m_inOrder.insert(std::lower_bound(m_inOrder.begin(), m_inOrder.end(), t,
                                      [](const Node* n, const TransactionId& key) { return n->getIdentity() < key; }),
                     node);
    if (m_spareEntries.empty()) {
      m_Nodes.insert(std::make_pair(t, node));
      m_byIdentity.insert(std::make_pair(t, node));
    }
    else {
      NodeMap::node_type entry = std::move(m_spareEntries.back());
      m_spareEntries.pop_back();
      entry.key() = t;
      entry.mapped() = node;
      m_Nodes.insert(std::move(entry));
      auto identity = std::move(m_spareIdentities.back());
      m_spareIdentities.pop_back();
      identity.key() = t;
      identity.mapped() = node;
      m_byIdentity.insert(std::move(identity));
    }
  }
  if (number >= 0 && node->getNumber() != number) {
    check_error(node->getNumber() < 0, "A node renumbered");
    if ((std::size_t) number >= m_byNumber.size())
      m_byNumber.resize((std::size_t) number + 1, 0);
    m_byNumber[number] = node;
    node->setNumber(number);
  }
  if (enabled)
    node->setEnabled();
  else
    node->setDisabled();
  return node;
}

Edge* Graph::link(Node* source, Node* target, double capacity, bool enabled) {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  source->setEnabled();
  target->setEnabled();
  return createEdge(source, target, capacity, enabled);
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
  if (m_spareEdges.empty())
    return new Edge(source, target, capacity, enabled);
  // Taken off the spares only once made: a capacity refused keeps it there.
  Edge* made = new (m_spareEdges.back()) Edge(source, target, capacity, enabled);
  m_spareEdges.pop_back();
  return made;
}

Edge* Graph::getEdge(Node* source, Node* target) const {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  const EdgeList& out = source->getOutEdges();
  const EdgeList& in = target->getInEdges();
  // A terminal's out-list holds an edge per transaction on its side; the
  // other end's list is short. Both lists keep their edges in the order
  // made, so the first found in either is the same.
  if (in.size() < out.size()) {
    for (EdgeList::const_iterator it = in.begin(); it != in.end(); ++it)
      if ((*it)->getSource() == source)
        return *it;
    return 0;
  }
  for (EdgeList::const_iterator it = out.begin(); it != out.end(); ++it)
    if ((*it)->getTarget() == target)
      return *it;
  return 0;
}

void Graph::removeNode(const TransactionId& t) {
  NodeMap::iterator it = m_Nodes.find(t);
  if (it == m_Nodes.end())
    return;
  erase(it);
}

void Graph::erase(NodeMap::iterator it, bool listed) {
  Node* node = it->second;
  if (listed)
    m_inOrder.erase(std::lower_bound(m_inOrder.begin(), m_inOrder.end(), it->first,
                                     [](const Node* n, const TransactionId& key) { return n->getIdentity() < key; }));
  if (node->getNumber() >= 0)
    m_byNumber[node->getNumber()] = 0;
  // The entries keep their memory too.
  m_spareIdentities.push_back(m_byIdentity.extract(it->first));
  m_spareEntries.push_back(m_Nodes.extract(it));
  recycle(node);
}

void Graph::recycle(Node* node) {
  // What deleting it does, with the memory kept.
  node->retire(&m_spareEdges);
  node->setCacheMarks(0);
  m_spareNodes.push_back(node);
}

bool Graph::keepOnly(Node* first, Node* second) {
  if (first == 0 || second == 0 || getNode(first->getIdentity()) != first ||
      getNode(second->getIdentity()) != second)
    return false;
  for (Node* kept : {first, second}) {
    for (Edge* edge : kept->getOutEdges())
      if (edge->getTarget() == first || edge->getTarget() == second)
        return false;
    for (Edge* edge : kept->getInEdges())
      if (edge->getSource() == first || edge->getSource() == second)
        return false;
  }
  // In key order, as the destructor deletes them.
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end();) {
    Node* node = it->second;
    if (node == first || node == second) {
      ++it;
      continue;
    }
    erase(it++, false);
  }
  m_inOrder.clear();
  for (NodeMap::iterator it = m_Nodes.begin(); it != m_Nodes.end(); ++it)
    m_inOrder.push_back(it->second);
  m_Marks.clearTouched();
  for (Node* kept : {first, second}) {
    kept->setVisit(-1);
    kept->setIndex(-1);
    kept->setSlot(-1);
    kept->setMayHoldFlow(false);
    kept->noteChange();
    kept->setEnabled();
  }
  return true;
}

void Graph::trimSpare(std::size_t nodes, std::size_t edges) {
  while (m_spareNodes.size() > nodes) {
    delete m_spareNodes.back();
    m_spareNodes.pop_back();
  }
  if (m_spareEntries.size() > nodes) {
    m_spareEntries.resize(nodes);
    m_spareIdentities.resize(nodes);
  }
  while (m_spareEdges.size() > edges) {
    ::operator delete(m_spareEdges.back());
    m_spareEdges.pop_back();
  }
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
