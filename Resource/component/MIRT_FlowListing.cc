#include "Resource/component/MIRT_FlowListing.hh"
#include "Resource/component/MIRT_FlowProfileGraph.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace MIRT {

FlowListing::FlowListing(const Node* source, const Node* sink)
  : m_madeAt(0), m_source(m_copy.createNode(source->getIdentity(), true)),
    m_sink(m_copy.createNode(sink->getIdentity(), true)), m_maxflow(new MaximumFlowAlgorithm(&m_copy, m_source, m_sink)),
    m_visitMark(0) {}

FlowListing::~FlowListing() {}

bool FlowListing::copy(const Graph& network, bool quiet) {
  if (!m_copy.keepOnly(m_source, m_sink))
    return false;
  m_maxflow->forget();
  m_madeAt = network.getChanges();
  const NodeMap& nodes = network.getNodes();
  const TransactionId& source = m_source->getIdentity();
  const TransactionId& sink = m_sink->getIdentity();
  // Nodes first, so that each copied out-list takes its edges in the order
  // of the network's: a run from scratch and the walk follow that order.
  for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it)
    if (it->second->isEnabled() || it->first == source || it->first == sink)
      m_copy.createNode(it->first, true);
  for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it) {
    Node* from = m_copy.getNode(it->first);
    if (from == 0)
      continue;
    for (const Edge* edge : it->second->getOutEdges()) {
      Node* to = m_copy.getNode(edge->getTarget()->getIdentity());
      if (to != 0)
        m_copy.link(from, to, edge->getCapacity(), edge->isFlagged());
    }
  }
  // Linking switched the ends on.
  for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it)
    if (!it->second->isEnabled() && m_copy.getNode(it->first) != 0)
      m_copy.getNode(it->first)->setDisabled();
  m_maxflow->execute(true, quiet);
  return true;
}

void FlowListing::reach(std::vector<TransactionId>& reached) {
  const int seen = ++m_visitMark;
  m_source->setVisit(seen);
  walkResidual(*m_maxflow, m_source, seen, m_walk, [&](Node* target) { reached.push_back(target->getIdentity()); });
}

FlowListing& FlowProfileGraph::listing(bool quiet) const {
  if (m_listing != nullptr && m_listing->madeAt() == m_graph->getChanges() && quiet)
    return *m_listing;
  if (m_listing == nullptr || !m_listing->copy(*m_graph, quiet)) {
    m_listing.reset(new FlowListing(m_source, m_sink));
    m_listing->copy(*m_graph, quiet);
  }
  return *m_listing;
}

void FlowProfileGraph::listReachable(std::vector<TransactionId>& reached) const {
  listing(true).reach(reached);
}

void FlowProfileGraph::listVisits(const InstantId& instant) const {
  std::vector<TransactionId> reached;
  listReachable(reached);
  for (const TransactionId& t : reached) {
    debugMsg("FlowProfileGraph:visitNeighbors", "Disabling node with transaction (" << t << ") lower level "
             << m_lowerLevel);
    debugMsg("FlowProfileGraph::visitNeighbors", "Transaction " << t << " starts contributing at "
             << instant->getTime() << " lower level " << m_lowerLevel);
    const double delta = contributionOf(t).toBound(m_lowerLevel);
    debugMsg("FlowProfileGraph:visitNeighbors", "Adding " << delta << " to the level.");
  }
}

}
}
