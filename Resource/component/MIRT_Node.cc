#include "Resource/component/MIRT_Node.hh"
#include "Resource/component/MIRT_Edge.hh"
#include "Utils/base/Error.hh"

#include <algorithm>

namespace KORVAN {
namespace MIRT {

namespace {
void eraseFirst(EdgeList& list, Edge* edge) {
  EdgeList::iterator it = std::find(list.begin(), list.end(), edge);
  if (it != list.end())
    list.erase(it);
}
}

Node::Node(const NodeIdentity& identity)
  : m_Enabled(true), m_MayHoldFlow(false), m_Visit(-1), m_Index(-1), m_Slot(-1), m_TouchedAt(-1), m_Number(-1),
    m_Marks(0),
    m_Identity(identity) {}

Node::~Node() {
  retire(0);
}

void Node::retire(std::vector<void*>* spare) {
  noteChange();
  dropEdges(spare);
  // No cache marks may list a deleted node; the list's order does not matter, so
  // the last takes its place and a graph emptied node by node stays linear.
  if (m_TouchedAt >= 0 && m_Marks != 0) {
    if (Node* moved = m_Marks->unlist((std::size_t) m_TouchedAt))
      moved->m_TouchedAt = m_TouchedAt;
    m_TouchedAt = -1;
  }
}

void Node::reuse(const NodeIdentity& identity) {
  m_Enabled = true;
  m_MayHoldFlow = false;
  m_Visit = -1;
  m_Index = -1;
  m_Slot = -1;
  m_TouchedAt = -1;
  m_Number = -1;
  m_Marks = 0;
  m_Identity = identity;
  m_InEdges.clear();
  m_OutEdges.clear();
}

void Node::dropEdges(std::vector<void*>* spare) {
  const auto drop = [spare](Edge* edge) {
    if (spare == 0) {
      delete edge;
      return;
    }
    edge->~Edge();
    spare->push_back(edge);
  };
  // Each edge leaves the list at its other end before it goes, so that no
  // list ever holds a deleted edge.
  for (EdgeList::iterator it = m_OutEdges.begin(); it != m_OutEdges.end(); ++it) {
    (*it)->getTarget()->removeInEdge(*it);
    drop(*it);
  }
  m_OutEdges.clear();
  for (EdgeList::iterator it = m_InEdges.begin(); it != m_InEdges.end(); ++it) {
    (*it)->getSource()->removeOutEdge(*it);
    drop(*it);
  }
  m_InEdges.clear();
}

void Node::noteSwitch() {
  noteChange();
  if (m_Marks == 0)
    return;
  for (Edge* edge : m_OutEdges)
    edge->getTarget()->touch();
  for (Edge* edge : m_InEdges)
    edge->getSource()->touch();
}

void Node::addOutEdge(Edge* edge) {
  check_error(0 != edge, "Null not allowed as input for edge");
  m_OutEdges.push_back(edge);
}

void Node::addInEdge(Edge* edge) {
  check_error(0 != edge, "Null not allowed as input for edge");
  m_InEdges.push_back(edge);
}

void Node::removeOutEdge(Edge* edge) {
  check_error(0 != edge, "Null not allowed as input for edge");
  eraseFirst(m_OutEdges, edge);
}

void Node::removeInEdge(Edge* edge) {
  check_error(0 != edge, "Null not allowed as input for edge");
  eraseFirst(m_InEdges, edge);
}

std::ostream& operator<<(std::ostream& os, const Node& node) {
  os << "[" << node.getIdentity() << "]";
  return os;
}

}
}
