#include "Resource/test/ReferenceMaxFlow.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <climits>
#include <cstdio>
#include <cstdlib>

// Internal invariants of the algorithm: not a caller's mistake, so no Error.
#define flowAssert(cond)                                                                     \
  do {                                                                                       \
    if (!(cond)) {                                                                           \
      std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", __FILE__, (unsigned) __LINE__, #cond); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace KORVAN {
namespace MIRT {

namespace {
const long NO_LABEL = 2147483647L;
}

ReferenceMaximumFlow::ReferenceMaximumFlow(Graph* g, Node* source, Node* sink)
  : m_Graph(g), m_Source(source), m_Sink(sink) {
  m_NodeListIterator = m_Nodes.end();
  check_error(g != 0, "Null not allowed as input for g");
  check_error(source != 0, "Null not allowed as input for source");
  check_error(sink != 0, "Null not allowed as input for sink");
  check_error(g->getNode( source->getIdentity() ) != 0, "Source is not part of the graph");
  check_error(g->getNode( sink->getIdentity() ) != 0, "Sink is not part of the graph");
}

ReferenceMaximumFlow::~ReferenceMaximumFlow() {}

double ReferenceMaximumFlow::getFlow(Edge* e) const {
  std::unordered_map<Edge*, double, EdgeHash>::const_iterator it = m_OnEdge.find(e);
  return it == m_OnEdge.end() ? 0.0 : it->second;
}

double ReferenceMaximumFlow::getResidual(Edge* e) const {
  return e->getCapacity() - getFlow(e);
}

void ReferenceMaximumFlow::print(std::ostream&) const {}

void ReferenceMaximumFlow::initializePre(bool reset) {
  checkError(m_Source->isEnabled(), "Source '" << *m_Source << "' is not enabled.");
  checkError(m_Sink->isEnabled(), "Sink '" << *m_Sink << "' is not enabled.");
  m_Nodes.clear();
  if (reset) {
    m_CurrentOutEdgeOnNode.clear();
    m_EndOutEdgeOnNode.clear();
    m_ExcessOnNode.clear();
    m_DistanceOnNode.clear();
    m_OnEdge.clear();
  }

  const NodeMap& nodes = m_Graph->getNodes();
  for (NodeMap::const_iterator it = nodes.begin(); it != nodes.end(); ++it) {
    Node* node = it->second;
    if (!node->isEnabled())
      continue;
    const EdgeList& out = node->getOutEdges();
    EdgeList::const_iterator cursor = out.begin();
    while (cursor != out.end() && !(*cursor)->getTarget()->isEnabled())
      ++cursor;
    m_CurrentOutEdgeOnNode[node] = cursor;
    m_EndOutEdgeOnNode[node] = out.end();
    if (node != m_Source && node != m_Sink)
      m_Nodes.push_back(node);
    // Resuming keeps the flows and excesses but not the labels: labels left
    // by the last run need not be valid for the re-saturated source nor keep
    // the list in admissible order, and a run on them can strand excess.
    // Equal labels are valid for any preflow with saturated source edges.
    m_DistanceOnNode[node] = 1;
    if (!reset)
      continue;
    m_ExcessOnNode[node] = 0.0;
    for (EdgeList::const_iterator edgeIt = out.begin(); edgeIt != out.end(); ++edgeIt) {
      Edge* edge = *edgeIt;
      if (!edge->isEnabled())
        continue;
      m_OnEdge[edge] = 0.0;
      checkError(0 != m_Graph->getEdge( edge->getTarget(), edge->getSource() ) && m_Graph->getEdge( edge->getTarget(), edge->getSource() )->isEnabled(),
                 "No (enabled) reverse edge for edge '" << *edge << "'");
      m_OnEdge[m_Graph->getEdge(edge->getTarget(), edge->getSource())] = 0.0;
    }
  }

  m_DistanceOnNode[m_Sink] = 0;
  // The source's out-edges regain residual only through pushes back from
  // nodes labelled above it, so the listed nodes' count keeps every residual
  // path from the source longer than any simple path to the sink.
  m_DistanceOnNode[m_Source] = (long) m_Nodes.size();
  m_NodeListIterator = m_Nodes.end();

  for (EdgeOutIterator edgeIt(*m_Source, true); edgeIt.ok(); ++edgeIt) {
    Edge* edge = *edgeIt;
    double& flow = m_OnEdge[edge];
    const double delta = edge->getCapacity() - flow;
    if (delta != 0.0) {
      flow = edge->getCapacity();
      Edge* reverse = m_Graph->getEdge(edge->getTarget(), edge->getSource());
      if (reverse != 0)
        m_OnEdge[reverse] = -edge->getCapacity();
      m_ExcessOnNode[edge->getTarget()] += delta;
    }
  }
}

void ReferenceMaximumFlow::execute(bool reset) {
  debugMsg("ReferenceMaximumFlow:execute", "Running " << (reset ? "from scratch" : "from the present flow"));
  initializePre(reset);
  Node* node = getNextInList();
  while (node != 0) {
    const long old = m_DistanceOnNode[node];
    disCharge(node);
    if (m_DistanceOnNode[node] > old)
      resetToFront();
    node = getNextInList();
  }
}

Node* ReferenceMaximumFlow::getNextInList() {
  if (m_NodeListIterator == m_Nodes.end())
    m_NodeListIterator = m_Nodes.begin();
  else
    ++m_NodeListIterator;
  while (m_NodeListIterator != m_Nodes.end() && !(*m_NodeListIterator)->isEnabled())
    ++m_NodeListIterator;
  return m_NodeListIterator == m_Nodes.end() ? 0 : *m_NodeListIterator;
}

void ReferenceMaximumFlow::resetToFront() {
  if (m_NodeListIterator == m_Nodes.end())
    return;
  Node* node = *m_NodeListIterator;
  m_Nodes.erase(m_NodeListIterator);
  m_Nodes.push_front(node);
  m_NodeListIterator = m_Nodes.end();
}

void ReferenceMaximumFlow::disCharge(Node* n) {
  check_error(0 != n, "Node is null, null is not allowed as input");
  checkError(n->isEnabled(), "Node '" << *n << "' not enabled.");
  const EdgeList& out = n->getOutEdges();
  EdgeList::const_iterator& cursor = m_CurrentOutEdgeOnNode[n];
  const EdgeList::const_iterator end = out.end();
  double& excess = m_ExcessOnNode[n];
  while (excess != 0.0) {
    Edge* edge = cursor == end ? 0 : *cursor;
    flowAssert(edge != 0);
    if (isAdmissible(edge)) {
      push(edge);
      continue;
    }
    if (!reLabel(n)) {
      // Nowhere to send it, not even back: drop the excess so that the loop
      // ends. Networks built by the flow profiles never get here.
      debugMsg("ReferenceMaximumFlow:disCharge", "Dropping excess " << excess << " of stranded node " << *n);
      excess = 0.0;
      break;
    }
    ++cursor;
    if (cursor == end)
      cursor = out.begin();
  }
}

bool ReferenceMaximumFlow::isAdmissible(Edge* e) {
  // Only edges that count as enabled carry flow: a push towards a disabled
  // node would strand the excess there.
  return e->isEnabled() && getFlow(e) < e->getCapacity() &&
         m_DistanceOnNode[e->getSource()] == m_DistanceOnNode[e->getTarget()] + 1;
}

void ReferenceMaximumFlow::push(Edge* e) {
  double& flow = m_OnEdge[e];
  const double residual = e->getCapacity() - flow;
  flowAssert(residual >= 0);
  double& sourceExcess = m_ExcessOnNode[e->getSource()];
  const bool saturates = sourceExcess >= residual;
  const double delta = saturates ? residual : sourceExcess;
  // Exact end values, so that rounding cannot leave a sliver of residual or
  // of excess behind.
  flow = saturates ? e->getCapacity() : flow + delta;
  Edge* reverse = m_Graph->getEdge(e->getTarget(), e->getSource());
  if (reverse != 0)
    m_OnEdge[reverse] = -flow;
  m_ExcessOnNode[e->getTarget()] += delta;
  sourceExcess = saturates ? sourceExcess - delta : 0.0;
}

bool ReferenceMaximumFlow::reLabel(Node* n) {
  long m = NO_LABEL;
  for (EdgeOutIterator it(*n, true); it.ok(); ++it) {
    Edge* edge = *it;
    if (getResidual(edge) > 0.0) {
      const long d = m_DistanceOnNode[edge->getTarget()];
      if (d < m)
        m = d;
    }
  }
  if (m == NO_LABEL)
    return false;
  m_DistanceOnNode[n] = m + 1;
  return true;
}

void ReferenceMaximumFlow::pushFlowBack(Node* n) {
  for (EdgeInIterator it(*n, true); it.ok(); ++it) {
    Edge* edge = *it;
    const double f = getFlow(edge);
    if (f > 0.0 && edge->getCapacity() != 0.0) {
      m_ExcessOnNode[edge->getSource()] += f;
      m_OnEdge[edge] = 0.0;
      Edge* reverse = m_Graph->getEdge(edge->getTarget(), edge->getSource());
      if (reverse != 0)
        m_OnEdge[reverse] = 0.0;
    }
  }
}

}
}
