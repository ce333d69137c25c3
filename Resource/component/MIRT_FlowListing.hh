#ifndef KORVAN_MIRT_FLOWLISTING_HH
#define KORVAN_MIRT_FLOWLISTING_HH

#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Resource/component/MIRT_Graph.hh"
#include "Resource/component/MIRT_MaxFlow.hh"

#include <memory>
#include <vector>

namespace KORVAN {
namespace MIRT {

// Calls reach on each transaction node that from reaches over edges with
// residual capacity under flow, each once, depth first in out-list order; a
// node whose visit is `seen` counts as reached already, and every node
// looked at gets that mark. Terminals are marked, never entered.
template <class Reach>
void walkResidual(const MaximumFlowAlgorithm& flow, Node* from, int seen, std::vector<EdgeOutIterator>& stack,
                  Reach reach) {
  // An explicit stack: chains of orderings can be as long as the profile is wide.
  Node* const source = flow.getSource();
  Node* const sink = flow.getSink();
  stack.clear();
  stack.push_back(EdgeOutIterator(*from, true));
  while (!stack.empty()) {
    EdgeOutIterator& it = stack.back();
    if (!it.ok()) {
      stack.pop_back();
      continue;
    }
    Edge* edge = *it;
    ++it;
    Node* target = edge->getTarget();
    if (target->getVisit() == seen || flow.getResidual(edge) == 0.0)
      continue;
    target->setVisit(seen);
    if (target == source || target == sink)
      continue;
    reach(target);
    stack.push_back(EdgeOutIterator(*target, true));
  }
}

// A network's debug lines as a maximum flow found from scratch, and the
// residual walk after it, would write them, while the network resumes its
// own flow: every maximum flow leaves the same residual reach, but the walk
// takes it in an order that follows the flow found. Made from a copy of the
// network's enabled part; nothing of the network is changed or marked.
class FlowListing {
public:
  // Terminals: the network's, by identity.
  FlowListing(const Node* source, const Node* sink);
  ~FlowListing();
  // Copies the enabled nodes of network in key order, with the edges between
  // them in each out-list's order, their capacities and flags, and runs a
  // maximum flow from scratch over the copy, which writes its lines unless
  // quiet. The memory of the last copy serves the next, so that listing
  // moves no later object of the host to other addresses than a run without
  // it would. False, with nothing run, when the copy's terminals cannot be
  // kept.
  bool copy(const Graph& network, bool quiet);
  // The network's change count when copied: the copy describes it while
  // that stands.
  unsigned long madeAt() const { return m_madeAt; }
  // The transactions the walk after that run reaches, in its order.
  void reach(std::vector<TransactionId>& reached);

private:
  FlowListing(const FlowListing&) = delete;
  FlowListing& operator=(const FlowListing&) = delete;

  unsigned long m_madeAt;
  Graph m_copy;
  Node* m_source;
  Node* m_sink;
  std::unique_ptr<MaximumFlowAlgorithm> m_maxflow;
  int m_visitMark;
  std::vector<EdgeOutIterator> m_walk;
};

}
}

#endif
