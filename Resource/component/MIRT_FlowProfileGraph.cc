#include "Resource/component/MIRT_FlowProfileGraph.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Resource/component/MIRT_FlowListing.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <limits>
#include <vector>

namespace KORVAN {
namespace MIRT {

namespace {

inline double quantityLb(const TransactionId& t) {
  return t->quantity()->lastDomain().getLowerBound();
}

inline double quantityUb(const TransactionId& t) {
  return t->quantity()->lastDomain().getUpperBound();
}

}

/*
 * Flow profile graph
 */

FlowProfileGraph::FlowProfileGraph(const TransactionId& source, const TransactionId& sink, bool lowerLevel)
  : m_lowerLevel(lowerLevel), m_recalculate(false), m_maxflow(0), m_graph(new Graph()), m_visitMark(0) {
  m_source = m_graph->createNode(source, true);
  m_sink = m_graph->createNode(sink, true);
  m_maxflow = new MaximumFlowAlgorithm(m_graph, m_source, m_sink);
}

FlowProfileGraph::~FlowProfileGraph() {
  delete m_maxflow;
  delete m_graph;
}

bool FlowProfileGraph::startOver() {
  if (!m_graph->keepOnly(m_source, m_sink))
    return false;
  m_maxflow->forget();
  marks().networkStartedOver();
  m_recalculate = false;
  m_takenOut.clear();
  m_visitMark = 0;
  return true;
}

void FlowProfileGraph::trimSpare(std::size_t transactions) {
  // Two edges to a terminal per node, and a few pairs of ordering edges.
  m_graph->trimSpare(transactions, 8 * transactions);
}

bool FlowProfileGraph::onSourceSide(const TransactionId& t) const {
  return m_lowerLevel == t->isConsumer();
}

void FlowProfileGraph::reset() {
  debugMsg("FlowProfileGraph:reset", "Lower level: " << m_lowerLevel);
  m_recalculate = true;
  noteCapacities();
  m_graph->setDisabled();
  // Disabling the graph leaves one edge of each opposite pair flagged; an
  // ordering that no longer holds must not come back with its nodes, so
  // every edge is switched off until the pass makes it anew.
  const NodeMap& nodes = m_graph->getNodes();
  for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it) {
    const EdgeList& out = it->second->getOutEdges();
    for (EdgeList::const_iterator edgeIt = out.begin(); edgeIt != out.end(); ++edgeIt)
      (*edgeIt)->setDisabled();
  }
  m_sink->setEnabled();
  m_source->setEnabled();
}

void FlowProfileGraph::enableTransaction(const TransactionId& t, const InstantId& instant,
                                         ContributionMap& contributions, int number) {
  const bool sourceSide = onSourceSide(t);
  const double capacity = sourceSide ? quantityUb(t) : quantityLb(t);
  if (capacity == 0.0) {
    contributions[t] = instant;
    debugMsg("FlowProfileGraph:enableTransaction", "Transaction " << t << " starts contributing at "
             << instant->getTime() << " lower level " << m_lowerLevel);
    return;
  }
  const TransactionId source = sourceSide ? m_source->getIdentity() : t;
  const TransactionId target = sourceSide ? t : m_sink->getIdentity();
  check_error(MIRT::TransactionId::noId() != source);
  check_error(MIRT::TransactionId::noId() != target);
  debugMsg("FlowProfileGraph:enableTransaction", "Transaction (" << t << ") capacity " << capacity
           << " lower level " << m_lowerLevel);
  m_recalculate = true;
  noteCapacities();
  Node* node = m_graph->createNode(t, true, number);
  Node* from = sourceSide ? m_source : node;
  Node* to = sourceSide ? node : m_sink;
  m_graph->link(from, to, capacity, true);
  m_graph->link(to, from, 0.0, true);
}

void FlowProfileGraph::enableAt(const TransactionId& t1, const TransactionId& t2) {
  enableAt(m_graph->getNode(t1), m_graph->getNode(t2));
}

void FlowProfileGraph::enableAt(int n1, int n2) {
  enableAt(m_graph->nodeAt(n1), m_graph->nodeAt(n2));
}

void FlowProfileGraph::enableAt(Node* n1, Node* n2) {
  if (n1 == 0 || n2 == 0)
    return;
  const TransactionId& t1 = n1->getIdentity();
  const TransactionId& t2 = n2->getIdentity();
  debugMsg("FlowProfileGraph:enableAt", "Transaction " << t1->time()->lastDomain() << " and transaction "
           << t2->time()->lastDomain() << " lower level: " << m_lowerLevel);
  m_recalculate = true;
  noteCapacities();
  m_graph->link(n1, n2, Edge::getMaxCapacity(), true);
  m_graph->link(n2, n1, Edge::getMaxCapacity(), true);
}

void FlowProfileGraph::enableAtOrBefore(const TransactionId& t1, const TransactionId& t2) {
  enableAtOrBefore(m_graph->getNode(t1), m_graph->getNode(t2));
}

void FlowProfileGraph::enableAtOrBefore(int n1, int n2) {
  enableAtOrBefore(m_graph->nodeAt(n1), m_graph->nodeAt(n2));
}

void FlowProfileGraph::enableAtOrBefore(Node* n1, Node* n2) {
  if (n1 == 0 || n2 == 0)
    return;
  const TransactionId& t1 = n1->getIdentity();
  const TransactionId& t2 = n2->getIdentity();
  debugMsg("FlowProfileGraph:enableAtOrBefore", "Transaction " << t1->time()->lastDomain()
           << " and transaction " << t2->time()->lastDomain() << " lower level: " << m_lowerLevel);
  m_recalculate = true;
  noteCapacities();
  m_graph->link(n1, n2, 0.0, true);
  m_graph->link(n2, n1, Edge::getMaxCapacity(), true);
}

int FlowProfileGraph::nextVisitMark() const {
  if (m_visitMark == std::numeric_limits<int>::max()) {
    const NodeMap& nodes = m_graph->getNodes();
    for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it)
      it->second->setVisit(-1);
    m_visitMark = 0;
  }
  return ++m_visitMark;
}

void FlowProfileGraph::markOrdered(Node* from, bool forward, int covered, int kept, std::vector<char>& needed) {
  m_stack.clear();
  m_stack.push_back(from);
  while (!m_stack.empty()) {
    Node* node = m_stack.back();
    m_stack.pop_back();
    const EdgeList& edges = forward ? node->getOutEdges() : node->getInEdges();
    for (EdgeList::const_iterator it = edges.begin(); it != edges.end(); ++it) {
      const Edge* edge = *it;
      if (!edge->isFlagged() || edge->getCapacity() != Edge::getMaxCapacity())
        continue;
      Node* next = forward ? edge->getTarget() : edge->getSource();
      if (next == from || next == m_source || next == m_sink || !next->isEnabled() || next->getVisit() == covered)
        continue;
      if (next->getVisit() == kept) {
        // Needed before, ordered through `from` now: what it reaches is
        // marked already.
        for (std::vector<std::pair<Node*, std::size_t>>::const_iterator c = m_kept.begin(); c != m_kept.end(); ++c)
          if (c->first == next)
            needed[c->second] = 0;
        next->setVisit(covered);
        continue;
      }
      next->setVisit(covered);
      m_stack.push_back(next);
    }
  }
}

void FlowProfileGraph::sortByTime(const std::vector<std::pair<double, double>>& bounds,
                                  const std::vector<unsigned char>& relation, std::vector<std::size_t> (&byTime)[2]) {
  // Nearest first as far as the time bounds tell (the latest of those
  // before t, the earliest of those after it), so that few are needed;
  // which ones are is decided by the network alone.
  std::vector<Candidate> sorted;
  for (int side = 0; side < 2; ++side) {
    const unsigned char bit = side == 0 ? AT_OR_BEFORE : AT_OR_AFTER;
    const double sign = side == 0 ? -1.0 : 1.0;
    sorted.clear();
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      if ((relation[i] & bit) == 0)
        continue;
      const Candidate candidate = {sign * bounds[i].first, sign * bounds[i].second, i, 0};
      sorted.push_back(candidate);
    }
    std::sort(sorted.begin(), sorted.end());
    byTime[side].clear();
    for (std::vector<Candidate>::const_iterator it = sorted.begin(); it != sorted.end(); ++it)
      byTime[side].push_back(it->index);
  }
}

void FlowProfileGraph::selectNearest(const TransactionId& t, const std::vector<TransactionId>& others,
                                     const std::vector<unsigned char>& relation, std::vector<char>& needed) {
  m_bounds.clear();
  for (std::size_t i = 0; i < others.size(); ++i) {
    const AbstractDomain& time = others[i]->time()->lastDomain();
    m_bounds.push_back(std::make_pair(time.getLowerBound(), time.getUpperBound()));
  }
  sortByTime(m_bounds, relation, m_byTime);
  selectNearest(t, others, relation, m_byTime, needed);
}

void FlowProfileGraph::selectNearest(const TransactionId& t, const std::vector<TransactionId>& others,
                                     const std::vector<unsigned char>& relation,
                                     const std::vector<std::size_t> (&byTime)[2], std::vector<char>& needed,
                                     int number, const std::vector<int>* numbers) {
  needed.assign(others.size(), 0);
  Node* self = number >= 0 ? m_graph->nodeAt(number) : m_graph->getNode(t);
  if (self == 0 || !self->isEnabled())
    return;
  // Each partner looked up once for both sides.
  m_partnerNodes.assign(others.size(), 0);
  for (std::size_t i = 0; i < others.size(); ++i)
    if (relation[i] != 0)
      m_partnerNodes[i] = numbers != 0 ? m_graph->nodeAt((*numbers)[i]) : m_graph->getNode(others[i]);
  for (int side = 0; side < 2; ++side) {
    const unsigned char bit = side == 0 ? AT_OR_BEFORE : AT_OR_AFTER;
    m_candidates.clear();
    for (std::vector<std::size_t>::const_iterator it = byTime[side].begin(); it != byTime[side].end(); ++it) {
      const std::size_t i = *it;
      if ((relation[i] & bit) == 0)
        continue;
      Node* node = m_partnerNodes[i];
      if (node == 0 || node == self || !node->isEnabled())
        continue;
      const Candidate candidate = {0.0, 0.0, i, node};
      m_candidates.push_back(candidate);
    }
    if (m_candidates.empty())
      continue;
    // Before t: one reached from a needed one over ordering edges is ordered
    // before t through it. After t: one that reaches a needed one. One
    // needed earlier and reached from one needed later is needed no more.
    const int covered = nextVisitMark(), kept = nextVisitMark();
    m_kept.clear();
    for (std::vector<Candidate>::const_iterator it = m_candidates.begin(); it != m_candidates.end(); ++it) {
      if (it->node->getVisit() == covered || it->node->getVisit() == kept)
        continue;
      needed[it->index] = 1;
      it->node->setVisit(kept);
      m_kept.push_back(std::make_pair(it->node, it->index));
      markOrdered(it->node, side == 0, covered, kept, needed);
    }
  }
}

void FlowProfileGraph::addOrderingEdge(Node* from, Node* to) {
  Edge* edge = m_graph->getEdge(from, to);
  if (edge != 0 && edge->isFlagged() && edge->getCapacity() == Edge::getMaxCapacity())
    return;
  m_recalculate = true;
  noteCapacities();
  m_graph->createEdge(from->getIdentity(), to->getIdentity(), Edge::getMaxCapacity(), true);
  // The opposite edge keeps an ordering of its own; a stale one starts empty.
  Edge* back = m_graph->getEdge(to, from);
  if (back == 0)
    m_graph->createEdge(to->getIdentity(), from->getIdentity(), 0.0, true);
  else if (!back->isFlagged()) {
    back->setCapacity(0.0);
    back->setEnabled();
  }
}

void FlowProfileGraph::bypass(const TransactionId& t) {
  Node* node = m_graph->getNode(t);
  if (node == 0)
    return;
  m_before.clear();
  m_after.clear();
  // A transaction partner joined by an ordering edge that is still in the network.
  const auto partner = [&](const Edge* edge, Node* other) {
    return edge->isFlagged() && edge->getCapacity() == Edge::getMaxCapacity() && other != m_source &&
           other != m_sink && other != node && other->isEnabled();
  };
  for (Edge* edge : node->getOutEdges())
    if (partner(edge, edge->getTarget()))
      m_before.push_back(edge->getTarget());
  if (m_before.empty())
    return;
  for (Edge* edge : node->getInEdges())
    if (partner(edge, edge->getSource()))
      m_after.push_back(edge->getSource());
  for (std::vector<Node*>::const_iterator x = m_after.begin(); x != m_after.end(); ++x)
    for (std::vector<Node*>::const_iterator y = m_before.begin(); y != m_before.end(); ++y)
      if (*x != *y)
        addOrderingEdge(*x, *y);
}

bool FlowProfileGraph::isEnabled(const TransactionId& t) const {
  Node* node = m_graph->getNode(t);
  return node != 0 && node->isEnabled();
}

bool FlowProfileGraph::hasNode(const TransactionId& t) const {
  return m_graph->getNode(t) != 0;
}

void FlowProfileGraph::disable(const TransactionId& t) {
  debugMsg("FlowProfileGraph:disable", "Transaction (" << t << ") lower level: " << m_lowerLevel);
  Node* node = m_graph->getNode(t);
  check_error(0 != node);
  check_error(node->isEnabled());
  // Flow still through the node (not pushed back first) leaves a read summing
  // what is left of it on the source's edges, which differs between maximum
  // flows: the next read runs the flow of the network without it. A maximum
  // flow with nothing through the node stays maximum without it.
  for (const EdgeList* edges : {&node->getInEdges(), &node->getOutEdges()})
    for (Edge* edge : *edges)
      if (m_maxflow->getFlow(edge) != 0.0)
        marks().flowThroughSwitchedOff();
  node->setDisabled();
}

void FlowProfileGraph::removeTransaction(const TransactionId& t) {
  debugMsg("FlowProfileGraph:removeTransaction", "Transaction (" << t << ") lower level: " << m_lowerLevel);
  m_recalculate = true;
  m_graph->removeNode(t);
}

void FlowProfileGraph::pushFlow(const TransactionId& t) {
  Node* node = m_graph->getNode(t);
  check_error(0 != node);
  check_error(node->isEnabled());
  if (m_recalculate) {
    debugMsg("FlowProfileGraph:pushFlow", "Transaction (" << t << ") lower level: " << m_lowerLevel
             << " skipping pushing flow back because a recalculation is required.");
    return;
  }
  debugMsg("FlowProfileGraph:pushFlow", "Transaction (" << t << ") lower level: " << m_lowerLevel);
  noteCapacities();
  m_maxflow->pushFlowBack(node);
}

void FlowProfileGraph::restoreFlow() {
  // Resuming repairs what deleted nodes left of the held flow first.
  m_maxflow->execute(false);
  noteRun();
}

bool FlowProfileGraph::quietRuns() {
  static DebugMessage* const sites[] = {
    DebugMessage::addMsg(__FILE__, __LINE__, "MaximumFlowAlgorithm:execute"),
    DebugMessage::addMsg(__FILE__, __LINE__, "MaximumFlowAlgorithm:initializePre"),
    DebugMessage::addMsg(__FILE__, __LINE__, "MaximumFlowAlgorithm:disCharge"),
    DebugMessage::addMsg(__FILE__, __LINE__, "FlowProfileGraph:visitNeighbors"),
    DebugMessage::addMsg(__FILE__, __LINE__, "FlowProfileGraph::visitNeighbors"),
    DebugMessage::addMsg(__FILE__, __LINE__, "FlowProfile:recordContribution"),
  };
  return !DebugMessage::anyEnabled(sites);
}

void FlowProfileGraph::runMaximumFlow() {
  // Every maximum flow leaves the same residual reach from the source, and
  // the same residual total on the source's edges: what changed since the
  // last run is cheaper to mend than the whole flow to find again. The
  // order the reach is walked in, and so of the lines the walk prints, may
  // differ: those lines come from a run from scratch beside it.
  const bool listed = !quietRuns();
  if (listed)
    listing(false);
  if (!flowIsCurrent())
    m_maxflow->execute(false, listed);
  noteRun();
}

double FlowProfileGraph::getResidualFromSource() {
  if (m_recalculate || marks().flowStale()) {
    runMaximumFlow();
    m_recalculate = false;
  }
  double residual = 0.0;
  for (EdgeOutIterator it(*m_source, true); it.ok(); ++it)
    residual += m_maxflow->getResidual(*it);
  debugMsg("FlowProfileGraph:getResidualFromSource", "Lower level: " << m_lowerLevel << " residual " << residual);
  return residual;
}

double FlowProfileGraph::disableReachableResidualGraph(ContributionMap& contributions, const InstantId& instant) {
  debugMsg("FlowProfileGraph:disableReachableResidualGraph", "Lower level: " << m_lowerLevel);
  double level = 0.0;
  if (m_recalculate) {
    debugMsg("FlowProfileGraph:disableReachableResidualGraph",
             "Lower level: " << m_lowerLevel << ", recalculate invoked.");
    runMaximumFlow();
    if (!quietRuns())
      listVisits(instant);
    const int seen = nextVisitMark();
    m_source->setVisit(seen);
    m_reached.clear();
    visitNeighbors(m_source, level, seen, contributions, instant);
    for (Node* node : m_reached) {
      const TransactionId t = node->getIdentity();
      m_takenOut.insert(t);
      m_graph->removeNode(t);
    }
  }
  return level;
}

void FlowProfileGraph::visitNeighbors(Node* node, double& level, int seen, ContributionMap& contributions,
                                      const InstantId& instant) {
  // Its lines are listVisits'.
  walkResidual(*m_maxflow, node, seen, m_walk, [&](Node* target) {
    m_reached.push_back(target);
    const TransactionId& t = target->getIdentity();
    target->setDisabled();
    contributions[t] = instant;
    level += contributionOf(t).toBound(m_lowerLevel);
  });
}

void FlowProfileGraph::getReachableResidualTransactions(std::vector<TransactionId>& reached) const {
  const int seen = nextVisitMark();
  m_source->setVisit(seen);
  walkResidual(*m_maxflow, m_source, seen, m_walk,
               [&](Node* target) { reached.push_back(target->getIdentity()); });
}

}
}
