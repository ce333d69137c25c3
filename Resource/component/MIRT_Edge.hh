#ifndef KORVAN_MIRT_EDGE_HH
#define KORVAN_MIRT_EDGE_HH

#include "Resource/base/MIRT_Transaction.hh"
#include "Resource/component/MIRT_Node.hh"
#include "Resource/component/MIRT_Types.hh"

#include <ostream>
#include <utility>

namespace KORVAN {
namespace MIRT {

class MaximumFlowAlgorithm;
typedef std::pair<TransactionId, TransactionId> EdgeIdentity;

// A capacitated arc of a flow network. It counts as enabled only while its
// own flag is set and its target node is enabled; the source is not asked.
// An edge knows its opposite edge (its partner) when there is one, and holds
// the flow that the maximum flow over the graph placed on it: the flow of an
// edge is always the negated flow of its partner.
class Edge {
public:
  Edge(Node* source, Node* target, double capacity, bool enabled);
  ~Edge();

  static double getMaxCapacity();
  static EdgeIdentity getIdentity(Node* source, Node* target);

  double getCapacity() const { return m_Capacity; }
  // A change to an edge touches both ends: the flow at each may change,
  // and the target's arc back through the partner may come or go.
  void setCapacity(double capacity) {
    // Written so that NaN counts as a change too.
    if (!(capacity == m_Capacity)) {
      m_Source->noteChange();
      m_Target->touch();
    }
    m_Capacity = capacity;
  }
  Node* getSource() const { return m_Source; }
  Node* getTarget() const { return m_Target; }
  void setEnabled() {
    if (!m_Enabled) {
      m_Source->noteChange();
      m_Target->touch();
    }
    m_Enabled = true;
  }
  void setDisabled() {
    if (m_Enabled) {
      m_Source->noteChange();
      m_Target->touch();
    }
    m_Enabled = false;
  }
  // Asked for every edge a maximum flow or a walk passes over: kept inline.
  bool isEnabled() const { return m_Enabled && m_Target->isEnabled(); }
  // The edge's own flag, whatever its target's state.
  bool isFlagged() const { return m_Enabled; }
  EdgeIdentity getIdentity() const;
  // The edge from target to source, or null.
  Edge* getPartner() const { return m_Partner; }

private:
  friend class MaximumFlowAlgorithm;

  Edge(const Edge&) = delete;
  Edge& operator=(const Edge&) = delete;

  double m_Capacity;
  bool m_Enabled;
  Node* m_Source;
  Node* m_Target;
  Edge* m_Partner;
  double m_Flow;
};

std::ostream& operator<<(std::ostream& os, const Edge& edge);

}
}

#endif
