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

  EdgeList::const_iterator m_Iterator;
  EdgeList::const_iterator m_End;
  bool m_Enabled;
};

class EdgeOutIterator : public EdgeIterator {
public:
  EdgeOutIterator(const Node& node, bool enabled) : EdgeIterator(node.getOutEdges(), enabled) { skip(); }
  EdgeOutIterator& operator++() {
    ++m_Iterator;
    skip();
    return *this;
  }

private:
  void skip() {
    if (m_Enabled)
      while (m_Iterator != m_End && !((*m_Iterator)->isEnabled() && (*m_Iterator)->getTarget()->isEnabled()))
        ++m_Iterator;
  }
};

class EdgeInIterator : public EdgeIterator {
public:
  EdgeInIterator(const Node& node, bool enabled) : EdgeIterator(node.getInEdges(), enabled) { skip(); }
  EdgeInIterator& operator++() {
    ++m_Iterator;
    skip();
    return *this;
  }

private:
  void skip() {
    if (m_Enabled)
      while (m_Iterator != m_End && !((*m_Iterator)->isEnabled() && (*m_Iterator)->getSource()->isEnabled()))
        ++m_Iterator;
  }
};

}
}

#endif
