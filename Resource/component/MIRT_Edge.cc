#include "Resource/component/MIRT_Edge.hh"
#include "Resource/component/MIRT_Node.hh"
#include "Utils/base/Error.hh"

#include <limits>

namespace KORVAN {
namespace MIRT {

Edge::Edge(Node* source, Node* target, double capacity, bool enabled)
  : m_Capacity(capacity), m_Enabled(enabled), m_Source(source), m_Target(target), m_Partner(0), m_Flow(0.0) {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  // Written so that NaN fails too.
  checkError(capacity <= getMaxCapacity(), "Edge constructor invoked with capacity '" << capacity
             << "' larger than maximum capacity '" << getMaxCapacity() << "'");
  // Pair with the first unpaired opposite edge, taking over its flow, so that
  // the maximum flow never searches for reverse edges.
  if (source != target) {
    // The opposite edges are those of the target's out-list and of the
    // source's in-list, in the order made in both: the shorter is searched
    // (a terminal's lists are long).
    const EdgeList& back = target->getOutEdges();
    const EdgeList& in = source->getInEdges();
    Edge* found = 0;
    if (in.size() < back.size()) {
      for (EdgeList::const_iterator it = in.begin(); it != in.end() && found == 0; ++it)
        if ((*it)->m_Source == target && (*it)->m_Partner == 0)
          found = *it;
    }
    else {
      for (EdgeList::const_iterator it = back.begin(); it != back.end() && found == 0; ++it)
        if ((*it)->m_Target == source && (*it)->m_Partner == 0)
          found = *it;
    }
    if (found != 0) {
      m_Partner = found;
      found->m_Partner = this;
      m_Flow = -found->m_Flow;
      if (m_Flow != 0.0)
        source->setMayHoldFlow(true);
    }
  }
  source->addOutEdge(this);
  target->addInEdge(this);
  source->noteChange();
  target->touch();
}

Edge::~Edge() {
  if (m_Partner != 0)
    m_Partner->m_Partner = 0;
  m_Source->noteChange();
  m_Target->touch();
}

double Edge::getMaxCapacity() {
  return std::numeric_limits<double>::max();
}

EdgeIdentity Edge::getIdentity(Node* source, Node* target) {
  check_error(0 != source, "Null not allowed as input for source");
  check_error(0 != target, "Null not allowed as input for target");
  return EdgeIdentity(source->getIdentity(), target->getIdentity());
}

EdgeIdentity Edge::getIdentity() const {
  return getIdentity(m_Source, m_Target);
}

std::ostream& operator<<(std::ostream& os, const Edge& edge) {
  os << edge.getIdentity() << " {" << edge.getCapacity() << "} (enabled: "
     << (edge.isEnabled() ? "true" : "false") << ")";
  return os;
}

}
}
