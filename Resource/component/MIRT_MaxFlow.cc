#include "Resource/component/MIRT_MaxFlow.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
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

MaximumFlowAlgorithm::MaximumFlowAlgorithm(Graph* g, Node* source, Node* sink)
  : m_Graph(g), m_Source(source), m_Sink(sink), m_SourceIndex(-1), m_SinkIndex(-1), m_ListHead(-1),
    m_Listed(0), m_Work(0), m_Quiet(false), m_ExcessKnown(false) {
  check_error(g != 0, "Null not allowed as input for g");
  check_error(source != 0, "Null not allowed as input for source");
  check_error(sink != 0, "Null not allowed as input for sink");
  check_error(g->getNode( source->getIdentity() ) != 0, "Source is not part of the graph");
  check_error(g->getNode( sink->getIdentity() ) != 0, "Sink is not part of the graph");
  // The graph's marks name arrays by their maker's address, which an earlier
  // algorithm over the same graph may have had.
  g->getCacheMarks().arraysDropped();
}

MaximumFlowAlgorithm::~MaximumFlowAlgorithm() {}

void MaximumFlowAlgorithm::forget() {
  m_SourceIndex = -1;
  m_SinkIndex = -1;
  m_ListHead = -1;
  m_Listed = 0;
  m_Work = 0;
  m_Graph->getCacheMarks().arraysDropped();
  m_ExcessKnown = false;
  // They name nodes and edges that are gone.
  m_Nodes.clear();
  m_Arcs.clear();
  m_Stray.clear();
  m_Unpaired.clear();
  m_NewNodes.clear();
  m_NewArcs.clear();
}

double MaximumFlowAlgorithm::getFlow(Edge* e) const {
  return e->m_Flow;
}

double MaximumFlowAlgorithm::getResidual(Edge* e) const {
  return e->getCapacity() - e->m_Flow;
}

void MaximumFlowAlgorithm::initializePre(bool reset) {
  checkError(m_Source->isEnabled(), "Source '" << *m_Source << "' is not enabled.");
  checkError(m_Sink->isEnabled(), "Sink '" << *m_Sink << "' is not enabled.");

  // Two runs in a row over the same network (a resumed run, then one from
  // scratch) are common: the arrays of the first serve the second.
  // A resumed run mends the arrays of the last where little changed.
  m_ExcessKnown = false;
  if (m_Graph->getCacheMarks().arraysCurrent(this, reset))
    reuseArrays(reset);
  else if (reset || !patchArrays())
    buildArrays(reset);
  const int n = (int) m_Nodes.size();
  if (!m_ExcessKnown)
    m_Excess.assign(n, 0.0);
  m_Cursor.assign(m_FirstArc.begin(), m_FirstArc.end() - 1);
  m_Listed = n - 2;

  if (!reset && !repair()) {
    condDebugMsg(!m_Quiet, "MaximumFlowAlgorithm:initializePre", "Held flow cannot be repaired; starting from scratch");
    for (Edge* edge : m_Arcs)
      edge->m_Flow = 0.0;
    m_Excess.assign(n, 0.0);
  }
  saturateSource();
  // With no excess anywhere there is nothing to discharge, and exact labels
  // would cost a walk over the whole network for nothing.
  for (int u = 0; u < n; ++u)
    if (!isTerminal(u) && m_Excess[u] > 0.0) {
      globalRelabel();
      return;
    }
  m_ListHead = -1;
}

void MaximumFlowAlgorithm::buildArrays(bool reset) {
  const std::vector<Node*>& nodes = m_Graph->nodesInOrder();
  m_Graph->getCacheMarks().arraysDropped();
  m_Nodes.clear();
  m_Stray.clear();
  for (Node* node : nodes) {
    if (!node->isEnabled()) {
      node->setIndex(-1);
      // Flow left on the edges of a node that is off must still go when a
      // later run over the same network starts from scratch; most such
      // nodes were emptied by an earlier run and are passed over.
      if (!node->mayHoldFlow())
        continue;
      for (Edge* edge : node->getOutEdges())
        if (reset)
          edge->m_Flow = 0.0;
        else if (edge->m_Flow != 0.0)
          m_Stray.push_back(edge);
      if (reset)
        node->setMayHoldFlow(false);
      continue;
    }
    node->setMayHoldFlow(true);
    node->setIndex((int) m_Nodes.size());
    m_Nodes.push_back(node);
  }
  for (Node* node : nodes)
    node->setSlot(node->getIndex());
  const int n = (int) m_Nodes.size();
  m_SourceIndex = m_Source->getIndex();
  m_SinkIndex = m_Sink->getIndex();

  m_FirstArc.assign(n + 1, 0);
  m_Arcs.clear();
  m_Head.clear();
  m_Unpaired.clear();
  for (int i = 0; i < n; ++i) {
    m_FirstArc[i] = (int) m_Arcs.size();
    const EdgeList& out = m_Nodes[i]->getOutEdges();
    for (EdgeList::const_iterator edgeIt = out.begin(); edgeIt != out.end(); ++edgeIt) {
      Edge* edge = *edgeIt;
      // One walk over the edges both clears and sorts them.
      if (reset)
        edge->m_Flow = 0.0;
      if (!edge->isEnabled()) {
        if (!reset && edge->m_Flow != 0.0)
          m_Stray.push_back(edge);
        continue;
      }
      Edge* partner = edge->m_Partner;
      if (partner == 0 || !partner->isEnabled()) {
        m_Unpaired.push_back(edge);
        checkUnpaired(edge, reset);
        if (!reset && edge->m_Flow != 0.0)
          m_Stray.push_back(edge);
        continue;
      }
      m_Arcs.push_back(edge);
      m_Head.push_back(edge->getTarget()->getIndex());
    }
  }
  m_FirstArc[n] = (int) m_Arcs.size();
  m_Graph->getCacheMarks().arraysBuilt(this, false);
}

// A flow kept from an earlier run, cut back within the capacities the edge
// and its partner have now.
double MaximumFlowAlgorithm::flowWithinCapacities(const Edge* edge) {
  double flow = edge->m_Flow;
  if (flow > edge->getCapacity())
    flow = edge->getCapacity();
  if (-flow > edge->m_Partner->getCapacity())
    flow = -edge->m_Partner->getCapacity();
  return flow;
}

bool MaximumFlowAlgorithm::patchArrays() {
  const int oldN = (int) m_Nodes.size();
  if (!m_Graph->getCacheMarks().arraysMendable(this, (std::size_t) oldN))
    return false;

  // The enabled nodes in key order, as a build would have them.
  const std::vector<Node*>& nodes = m_Graph->nodesInOrder();
  m_OldToNew.assign(oldN, -1);
  m_NewNodes.clear();
  m_OldSlot.clear();
  for (Node* node : nodes) {
    if (!node->isEnabled()) {
      node->setIndex(-1);
      node->setSlot(-1);
      continue;
    }
    const int slot = node->getSlot();
    if (slot >= oldN)
      return false;
    node->setMayHoldFlow(true);
    if (slot >= 0)
      m_OldToNew[slot] = (int) m_NewNodes.size();
    node->setIndex((int) m_NewNodes.size());
    m_NewNodes.push_back(node);
    m_OldSlot.push_back(slot);
  }
  const int n = (int) m_NewNodes.size();
  m_NewFirstArc.assign(n + 1, 0);
  m_NewArcs.clear();
  m_NewHead.clear();
  m_NewExcess.assign(n, 0.0);
  for (int i = 0; i < n; ++i) {
    Node* node = m_NewNodes[i];
    m_NewFirstArc[i] = (int) m_NewArcs.size();
    const int slot = m_OldSlot[i];
    if (slot >= 0 && !node->isTouched()) {
      // Untouched: the same arcs as in the last run, to the same nodes, and
      // the excess it was left with.
      for (int a = m_FirstArc[slot]; a < m_FirstArc[slot + 1]; ++a) {
        const int head = m_OldToNew[m_Head[a]];
        if (head < 0)
          return false;
        m_NewArcs.push_back(m_Arcs[a]);
        m_NewHead.push_back(head);
      }
      m_NewExcess[i] = m_Excess[slot];
      continue;
    }
    // Arcs as a build derives them; the net inflow as a repair does.
    double net = 0.0;
    for (Edge* edge : node->getOutEdges()) {
      if (!edge->isEnabled())
        continue;
      Edge* partner = edge->m_Partner;
      if (partner == 0 || !partner->isEnabled())
        continue;
      const double flow = flowWithinCapacities(edge);
      // Capacities and flows change only at touched nodes: an untouched
      // head keeps its excess only while the flow to it stays.
      if (flow != edge->m_Flow && !edge->getTarget()->isTouched())
        return false;
      edge->m_Flow = flow;
      partner->m_Flow = -flow;
      net -= flow;
      m_NewArcs.push_back(edge);
      m_NewHead.push_back(edge->getTarget()->getIndex());
    }
    m_NewExcess[i] = net;
  }
  m_NewFirstArc[n] = (int) m_NewArcs.size();
  m_Nodes.swap(m_NewNodes);
  m_FirstArc.swap(m_NewFirstArc);
  m_Arcs.swap(m_NewArcs);
  m_Head.swap(m_NewHead);
  m_Excess.swap(m_NewExcess);
  for (int i = 0; i < n; ++i)
    if (m_OldSlot[i] != i)
      m_Nodes[i]->setSlot(i);
  m_SourceIndex = m_Source->getIndex();
  m_SinkIndex = m_Sink->getIndex();
  m_Stray.clear();
  m_Unpaired.clear();
  m_ExcessKnown = true;
  m_Graph->getCacheMarks().arraysBuilt(this, true);
  return true;
}

void MaximumFlowAlgorithm::reuseArrays(bool reset) {
  for (std::size_t i = 0; i < m_Nodes.size(); ++i)
    m_Nodes[i]->setIndex((int) i);
  if (!reset)
    return;
  for (Edge* edge : m_Arcs)
    edge->m_Flow = 0.0;
  for (Edge* edge : m_Stray)
    edge->m_Flow = 0.0;
  m_Stray.clear();
  for (Edge* edge : m_Unpaired)
    checkUnpaired(edge, true);
}

void MaximumFlowAlgorithm::checkUnpaired(Edge* edge, bool reset) const {
  if (reset)
    checkError(0 != m_Graph->getEdge( edge->getTarget(), edge->getSource() ) && m_Graph->getEdge( edge->getTarget(), edge->getSource() )->isEnabled(),
               "No (enabled) reverse edge for edge '" << *edge << "'");
  // An opposite edge that is not this edge's partner (two edges made for
  // the same pair outside the graph): the edge carries nothing.
}

bool MaximumFlowAlgorithm::repair() {
  const int n = (int) m_Nodes.size();
  // Within capacity both ways, and the net inflow of every node over the
  // arcs of this run, unless mended arrays carry them.
  for (int u = 0; u < n && !m_ExcessKnown; ++u) {
    double net = 0.0;
    for (int a = m_FirstArc[u]; a < m_FirstArc[u + 1]; ++a) {
      Edge* edge = m_Arcs[a];
      const double flow = flowWithinCapacities(edge);
      edge->m_Flow = flow;
      edge->m_Partner->m_Flow = -flow;
      net -= flow;
    }
    m_Excess[u] = net;
  }
  // A node that lost inflow (a predecessor gone, a capacity lowered) sends
  // less on: the shortfall is taken back along its outgoing flow until it
  // reaches a terminal or a node with excess. No step raises a positive flow,
  // so this ends.
  m_Queue.clear();
  for (int u = 0; u < n; ++u)
    if (!isTerminal(u) && m_Excess[u] < 0.0)
      m_Queue.push_back(u);
  for (size_t q = 0; q < m_Queue.size(); ++q) {
    const int u = m_Queue[q];
    for (int a = m_FirstArc[u]; a < m_FirstArc[u + 1] && m_Excess[u] < 0.0; ++a) {
      Edge* edge = m_Arcs[a];
      if (edge->m_Flow <= 0.0)
        continue;
      const double shortfall = -m_Excess[u];
      const int v = m_Head[a];
      double delta;
      if (edge->m_Flow <= shortfall) {
        delta = edge->m_Flow;
        edge->m_Flow = 0.0;
        m_Excess[u] += delta;
      }
      else {
        delta = shortfall;
        edge->m_Flow -= delta;
        m_Excess[u] = 0.0;
      }
      edge->m_Partner->m_Flow = -edge->m_Flow;
      if (!isTerminal(v)) {
        const bool wasShort = m_Excess[v] < 0.0;
        m_Excess[v] -= delta;
        if (!wasShort && m_Excess[v] < 0.0)
          m_Queue.push_back(v);
      }
    }
    if (m_Excess[u] < 0.0)
      return false;
  }
  return true;
}

void MaximumFlowAlgorithm::saturateSource() {
  const int s = m_SourceIndex;
  for (int a = m_FirstArc[s]; a < m_FirstArc[s + 1]; ++a) {
    Edge* edge = m_Arcs[a];
    const double delta = edge->getCapacity() - edge->m_Flow;
    if (delta != 0.0) {
      edge->m_Flow = edge->getCapacity();
      edge->m_Partner->m_Flow = -edge->getCapacity();
      m_Excess[m_Head[a]] += delta;
    }
  }
}

void MaximumFlowAlgorithm::globalRelabel() {
  const int n = (int) m_Nodes.size();
  m_Distance.assign(n, -1);
  m_Distance[m_SinkIndex] = 0;
  m_Distance[m_SourceIndex] = m_Listed;
  // Backwards over residual arcs: first from the sink, then, for the nodes
  // that cannot reach it and must return their excess, from the source.
  for (int pass = 0; pass < 2; ++pass) {
    m_Queue.clear();
    m_Queue.push_back(pass == 0 ? m_SinkIndex : m_SourceIndex);
    for (size_t q = 0; q < m_Queue.size(); ++q) {
      const int v = m_Queue[q];
      for (int a = m_FirstArc[v]; a < m_FirstArc[v + 1]; ++a) {
        const int u = m_Head[a];
        Edge* in = m_Arcs[a]->m_Partner;
        if (m_Distance[u] >= 0 || in->getCapacity() - in->m_Flow <= 0.0)
          continue;
        m_Distance[u] = m_Distance[v] + 1;
        m_Queue.push_back(u);
      }
    }
  }
  // The rest can send nothing anywhere.
  const long unreachable = 2L * (long) n + 1;
  for (int u = 0; u < n; ++u)
    if (!isTerminal(u) && m_Distance[u] < 0)
      m_Distance[u] = unreachable;
  // Admissible arcs go one label down, so decreasing labels keep the list in
  // topological order of the admissible network; within a label, index
  // order. Labels are below 2n + 2: a bucket per label.
  m_Next.assign(n, -1);
  m_BucketHead.assign((std::size_t) unreachable + 1, -1);
  m_BucketTail.assign((std::size_t) unreachable + 1, -1);
  for (int u = n - 1; u >= 0; --u) {
    if (isTerminal(u))
      continue;
    const long d = m_Distance[u];
    flowAssert(d >= 0 && d <= unreachable);
    if (m_BucketHead[d] < 0)
      m_BucketTail[d] = u;
    m_Next[u] = m_BucketHead[d];
    m_BucketHead[d] = u;
  }
  m_ListHead = -1;
  for (long d = 0; d <= unreachable; ++d) {
    if (m_BucketHead[d] < 0)
      continue;
    m_Next[m_BucketTail[d]] = m_ListHead;
    m_ListHead = m_BucketHead[d];
  }
}

void MaximumFlowAlgorithm::execute(bool reset, bool quiet) {
  m_Quiet = quiet;
  condDebugMsg(!m_Quiet, "MaximumFlowAlgorithm:execute", "Running " << (reset ? "from scratch" : "from the present flow"));
  initializePre(reset);
  // Labels raised one step at a time drift far below the true distances
  // once the sink's side is full, and excess then creeps back to the source
  // over as many relabels: exact labels are taken again after work in
  // proportion to the network's size.
  const long budget = 2L * (long) (m_Nodes.size() + m_Arcs.size()) + 64L;
  m_Work = 0;
  int prev = -1;
  for (int u = m_ListHead; u != -1;) {
    // Most of the list has nothing to discharge each time it is walked again.
    if (!(m_Excess[u] > 0.0)) {
      prev = u;
      u = m_Next[u];
      continue;
    }
    const long old = m_Distance[u];
    disCharge(u);
    if (m_Work > budget) {
      m_Work = 0;
      globalRelabel();
      m_Cursor.assign(m_FirstArc.begin(), m_FirstArc.end() - 1);
      prev = -1;
      u = m_ListHead;
      continue;
    }
    if (m_Distance[u] > old && prev != -1) {
      m_Next[prev] = m_Next[u];
      m_Next[u] = m_ListHead;
      m_ListHead = u;
    }
    prev = u;
    u = m_Next[u];
  }
  for (Node* node : m_Nodes)
    node->setIndex(-1);
}

void MaximumFlowAlgorithm::disCharge(int u) {
  Node* node = m_Nodes[u];
  check_error(0 != node, "Node is null, null is not allowed as input");
  checkError(node->isEnabled(), "Node '" << *node << "' not enabled.");
  const int end = m_FirstArc[u + 1];
  while (m_Excess[u] > 0.0) {
    if (m_Cursor[u] == end) {
      // Relabel only once every arc has been tried.
      if (!reLabel(u)) {
        // Nowhere to send it, not even back: drop the excess so that the
        // loop ends. Only a rounding error can get here: a sliver of excess
        // whose way back to the source rounded away, left to climb forever.
        condDebugMsg(!m_Quiet, "MaximumFlowAlgorithm:disCharge", "Dropping excess " << m_Excess[u] << " of stranded node "
                 << *node);
        m_Excess[u] = 0.0;
        break;
      }
      m_Cursor[u] = m_FirstArc[u];
    }
    const int a = m_Cursor[u];
    Edge* edge = a < end ? m_Arcs[a] : 0;
    flowAssert(edge != 0);
    if (edge->m_Flow < edge->getCapacity() && m_Distance[u] == m_Distance[m_Head[a]] + 1)
      push(a);
    else
      ++m_Cursor[u];
  }
}

void MaximumFlowAlgorithm::push(int a) {
  Edge* edge = m_Arcs[a];
  const int u = edge->getSource()->getIndex();
  const double residual = edge->getCapacity() - edge->m_Flow;
  flowAssert(residual >= 0);
  double& excess = m_Excess[u];
  const bool saturates = excess >= residual;
  const double delta = saturates ? residual : excess;
  // Exact end values, so that rounding cannot leave a sliver of residual or
  // of excess behind.
  edge->m_Flow = saturates ? edge->getCapacity() : edge->m_Flow + delta;
  edge->m_Partner->m_Flow = -edge->m_Flow;
  m_Excess[m_Head[a]] += delta;
  excess = saturates ? excess - delta : 0.0;
}

bool MaximumFlowAlgorithm::reLabel(int u) {
  long m = NO_LABEL;
  for (int a = m_FirstArc[u]; a < m_FirstArc[u + 1]; ++a) {
    Edge* edge = m_Arcs[a];
    if (edge->getCapacity() - edge->m_Flow > 0.0 && m_Distance[m_Head[a]] < m)
      m = m_Distance[m_Head[a]];
  }
  m_Work += 12L + (long) (m_FirstArc[u + 1] - m_FirstArc[u]);
  // With a way back to the source no label exceeds twice the node count.
  if (m == NO_LABEL || m + 1 > 2L * (long) m_Nodes.size() + 1)
    return false;
  m_Distance[u] = m + 1;
  return true;
}

void MaximumFlowAlgorithm::print(std::ostream&) const {}

void MaximumFlowAlgorithm::pushFlowBack(Node* n) {
  // The predecessors' excess follows from the flows when the next run
  // resumes; mended arrays derive it for the nodes touched.
  n->touch();
  for (Edge* edge : n->getInEdges())
    edge->getSource()->touch();
  for (EdgeInIterator it(*n, true); it.ok(); ++it) {
    Edge* edge = *it;
    if (edge->m_Flow > 0.0 && edge->getCapacity() != 0.0) {
      edge->m_Flow = 0.0;
      if (edge->m_Partner != 0)
        edge->m_Partner->m_Flow = 0.0;
    }
  }
}

}
}
