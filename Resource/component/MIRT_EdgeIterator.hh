#ifndef KORVAN_MIRT_EDGEITERATOR_HH
#define KORVAN_MIRT_EDGEITERATOR_HH

#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Node.hh"

namespace KORVAN {
namespace MIRT {

// Cursor over one edge list of a node; with the filter on it yields only
// edges that count as enabled and whose far end is enabled.
class EdgeIterator {
public:
  bool ok() const { return m_Iterator != m_End; }
  Edge* operator*() const { return ok() ? *m_Iterator : 0; }

protected:
  EdgeIterator(const EdgeList& edges, bool enabled)
    : m_Iterator(edges.begin()), m_End(edges.end()), m_Enabled(enabled) {}

  // With the filter on, passes over every edge that is off or whose far end is off.
  template <Node* (Edge::*FarEnd)() const>
  void skip() {
    if (m_Enabled)
      while (m_Iterator != m_End && !((*m_Iterator)->isEnabled() && ((*m_Iterator)->*FarEnd)()->isEnabled()))
        ++m_Iterator;
  }

  template <Node* (Edge::*FarEnd)() const>
  void advance() {
    ++m_Iterator;
    skip<FarEnd>();
  }

  EdgeList::const_iterator m_Iterator;
  EdgeList::const_iterator m_End;
  bool m_Enabled;
};

class EdgeOutIterator : public EdgeIterator {
public:
  EdgeOutIterator(const Node& node, bool enabled) : EdgeIterator(node.getOutEdges(), enabled) {
    skip<&Edge::getTarget>();
  }
  EdgeOutIterator& operator++() {
    advance<&Edge::getTarget>();
    return *this;
  }
};

class EdgeInIterator : public EdgeIterator {
public:
  EdgeInIterator(const Node& node, bool enabled) : EdgeIterator(node.getInEdges(), enabled) {
    skip<&Edge::getSource>();
  }
  EdgeInIterator& operator++() {
    advance<&Edge::getSource>();
    return *this;
  }
};

}
}

#endif
