#include "TemporalNetwork/TemporalPropagator.hh"

#include <algorithm>
#include <cmath>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/DefaultPropagator.hh"
#include "TemporalNetwork/TemporalConstraints.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {

namespace {
const std::size_t LOOKUP_LEAST = 256;

const LabelStr& leqName() {
  static const LabelStr sl_name("leq");
  return sl_name;
}

const LabelStr& addEqName() {
  static const LabelStr sl_name("addEq");
  return sl_name;
}
} // namespace

const LabelStr& TemporalPropagator::PROPAGATOR_NAME() {
  static const LabelStr sl_name("Temporal");
  return sl_name;
}

TemporalPropagator::TemporalPropagator(const LabelStr& name,
                                       const ConstraintEngineId& constraintEngine, int priority)
    : Propagator(name, constraintEngine, priority), m_nodeVars(1),
      m_needsPass(false), m_watching(false) {
  // Mirrors come and go by the thousand at once (a box deactivates them all): their gains spread
  // in one pass when the bounds are read.
  m_bounds.setBoundsOnRead(true);
}

TemporalPropagator::~TemporalPropagator() {
  if (m_watched.isValid())
    dynamic_cast<DefaultPropagator*>((Propagator*)m_watched)->setConstraintWatcher(DefaultPropagator::ConstraintWatcher());
}

int TemporalPropagator::findNode(const ConstrainedVariableId& var) const {
  // Room for every variable of the map twice over, so that few share a slot.
  if (m_lookup.empty() || m_vars.size() * 2 > m_lookup.size()) {
    while ((std::size_t(1) << m_lookupBits) < std::max<std::size_t>(LOOKUP_LEAST, m_vars.size() * 4))
      ++m_lookupBits;
    m_lookup.assign(std::size_t(1) << m_lookupBits, LookupSlot());
  }
  // Keyed as m_vars is, by address.
  const void* address = (const ConstrainedVariable*)var;
  const std::uint64_t hash = (std::uint64_t)(std::uintptr_t)address * 0x9E3779B97F4A7C15ull;
  LookupSlot& slot = m_lookup[(std::size_t)(hash >> (64 - m_lookupBits))];
  if (slot.address == address && slot.generation == m_lookupGeneration)
    return slot.node;
  std::map<ConstrainedVariableId, VarInfo>::const_iterator it = m_vars.find(var);
  slot.address = address;
  slot.generation = m_lookupGeneration;
  slot.node = it == m_vars.end() ? -1 : it->second.node;
  return slot.node;
}

bool TemporalPropagator::readBounds(const ConstrainedVariableId& var, Time& lb, Time& ub) {
  const AbstractDomain& dom = var->lastDomain();
  if (dom.isEmpty())
    return false;
  const double inf = g_infiniteTime();
  const double l = dom.getLowerBound(), u = dom.getUpperBound();
  lb = l <= -inf ? -(Time)g_infiniteTime() : (Time)std::ceil(l);
  ub = u >= inf ? (Time)g_infiniteTime() : (Time)std::floor(u);
  return true;
}

// ---- engine hooks ----

// Only the Constraint part exists here: installation waits for the next pass or query.
void TemporalPropagator::handleConstraintAdded(const ConstraintId& constraint) {
  m_toInstall.insert(m_toInstall.end(), constraint);  // mostly a new one: the largest key
  m_needsPass = true;
}

void TemporalPropagator::handleConstraintRemoved(const ConstraintId& constraint) {
  m_toInstall.erase(constraint);
  m_others.erase(constraint);
  m_otherAgenda.erase(constraint);
  if (m_edges.find(constraint) != m_edges.end())
    retract(constraint);
  m_needsPass = true;
}

// Nothing to relax here: a bound that the edge tightened anywhere in the network came through
// one of its end points, whose tightening marked the constraint for the engine's relaxation.
void TemporalPropagator::retract(const ConstraintId& constraint) {
  uninstall(constraint);
}

void TemporalPropagator::handleConstraintActivated(const ConstraintId& constraint) {
  if (m_others.find(constraint) != m_others.end())
    m_otherAgenda.insert(constraint);
  else if (m_edges.find(constraint) == m_edges.end())
    m_toInstall.insert(constraint);
  m_needsPass = true;
}

void TemporalPropagator::handleConstraintDeactivated(const ConstraintId& constraint) {
  m_otherAgenda.erase(constraint);
  if (m_edges.find(constraint) != m_edges.end())
    retract(constraint);
  m_needsPass = true;
}

void TemporalPropagator::handleNotification(const ConstrainedVariableId& variable, int,
                                            const ConstraintId& constraint,
                                            const DomainListener::ChangeType&) {
  if (m_others.find(constraint) != m_others.end()) {
    m_otherAgenda.insert(constraint);
    return;
  }
  // Our own narrowing too: a distance variable narrowed here must reach the other edges that
  // use it, and its time point when it is one.
  if (m_vars.find(variable) != m_vars.end())
    m_dirty.insert(variable);
}

bool TemporalPropagator::updateRequired() const {
  return m_needsPass || !m_toInstall.empty() || !m_dirty.empty() || !m_toNarrow.empty() ||
         !m_distanceToNarrow.empty() || !m_otherAgenda.empty();
}

// ---- network upkeep ----

int TemporalPropagator::acquireTimepoint(const ConstrainedVariableId& var) {
  VarInfo& info = m_vars[var];
  if (info.node < 0) {
    info.node = m_network.addTimepoint();
    const int mirrored = m_bounds.addTimepoint();
    check_error(mirrored == info.node);
    forgetNodes();
    if ((int)m_nodeVars.size() <= info.node)
      m_nodeVars.resize(info.node + 1);
    m_nodeVars[info.node] = var;
    Time lb, ub;
    if (!readBounds(var, lb, ub)) {
      // An emptied domain is relaxed before propagation resumes; start from the base domain.
      lb = (Time)std::ceil(var->baseDomain().getLowerBound());
      ub = (Time)std::floor(var->baseDomain().getUpperBound());
      m_dirty.insert(var);
    }
    info.domainEdge = addEdge(TemporalNetwork::getOrigin(), info.node, lb, ub);
    m_toNarrow.insert(var);
    noteMirrorCandidates(var);
  }
  ++info.timeRefs;
  return info.node;
}

void TemporalPropagator::release(const ConstrainedVariableId& var, bool asTimepoint,
                                 const ConstraintId& constraint) {
  std::map<ConstrainedVariableId, VarInfo>::iterator it = m_vars.find(var);
  check_error(it != m_vars.end());
  VarInfo& info = it->second;
  if (asTimepoint)
    --info.timeRefs;
  else
    info.distanceOf.erase(constraint);
  if (info.timeRefs == 0 && info.node >= 0) {
    unmirrorAt(var);
    dropMirrorEdges();
    m_network.removeTimepoint(info.node);
    m_bounds.removeTimepoint(info.node);
    m_nodeVars[info.node] = ConstrainedVariableId::noId();
    info.node = -1;
    forgetNodes();
    info.domainEdge = -1;
    m_toNarrow.erase(var);
  }
  if (info.timeRefs == 0 && info.distanceOf.empty()) {
    m_dirty.erase(var);
    m_vars.erase(it);
    forgetNodes();
  }
}

void TemporalPropagator::install(const ConstraintId& constraint) {
  TemporalConstraint* tc = dynamic_cast<TemporalConstraint*>((Constraint*)constraint);
  if (tc == 0) {
    m_others.insert(constraint);
    if (constraint->isActive())
      m_otherAgenda.insert(constraint);
    return;
  }
  if (!constraint->isActive())
    return;
  const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
  EdgeInfo info;
  info.from = scope[tc->getFromIndex()];
  info.to = scope[tc->getToIndex()];
  info.distance = tc->getDistanceIndex() < 0 ? ConstrainedVariableId::noId()
                                             : scope[tc->getDistanceIndex()];
  Time lb = tc->getFixedLb(), ub = tc->getFixedUb();
  if (!info.distance.isNoId()) {
    m_vars[info.distance].distanceOf.insert(constraint);
    m_vars[info.from].endpointOf.push_back(constraint);
    m_vars[info.to].endpointOf.push_back(constraint);
    if (!readBounds(info.distance, lb, ub)) {
      lb = (Time)std::ceil(info.distance->baseDomain().getLowerBound());
      ub = (Time)std::floor(info.distance->baseDomain().getUpperBound());
      m_dirty.insert(info.distance);
    }
    m_distanceToNarrow.insert(constraint);
  }
  const int from = acquireTimepoint(info.from);
  const int to = acquireTimepoint(info.to);
  info.edge = addEdge(from, to, lb, ub);
  m_edges.insert(std::make_pair(constraint, info));
  debugMsg("TemporalPropagator:install", " " << constraint->toString() << " as edge " << info.edge
                                              << " [" << lb << ", " << ub << "]");
}

void TemporalPropagator::uninstall(const ConstraintId& constraint) {
  EdgeMap::iterator it = m_edges.find(constraint);
  check_error(it != m_edges.end());
  EdgeInfo info = it->second;
  m_edges.erase(it);
  m_distanceToNarrow.erase(constraint);
  m_network.removeEdge(info.edge);
  m_bounds.removeEdge(m_boundsEdge[info.edge]);
  if (!info.distance.isNoId())
    for (const ConstrainedVariableId& end : {info.from, info.to}) {
      std::vector<ConstraintId>& list = m_vars[end].endpointOf;
      std::vector<ConstraintId>::iterator found = std::find(list.begin(), list.end(), constraint);
      if (found != list.end()) {
        *found = list.back();
        list.pop_back();
      }
    }
  release(info.from, true, constraint);
  release(info.to, true, constraint);
  if (!info.distance.isNoId())
    release(info.distance, false, constraint);
  debugMsg("TemporalPropagator:uninstall", " edge " << info.edge << " of constraint "
                                                    << constraint->getKey());
}

void TemporalPropagator::sync() {
  // A model's thousands of edges come in one sync: spread one at a time, each carried its gain
  // along the whole chain already in (N squared); held until the bounds are read, they spread
  // in one pass per direction.
  const TemporalNetwork::BoundsOnRead batch(m_network);
  while (!m_toInstall.empty()) {
    ConstraintId constraint = *m_toInstall.begin();
    m_toInstall.erase(m_toInstall.begin());
    install(constraint);
  }
  updateMirrors();
  if (m_dirty.empty())
    return;
  std::vector<ConstrainedVariableId> vars(m_dirty.begin(), m_dirty.end());
  m_dirty.clear();
  debugMsg("TemporalPropagator:sync", " " << vars.size() << " variables");
  // Every edge takes its variable's present domain, even where the network already implied it:
  // a specified value or a narrowing by another constraint must outlive the constraints that
  // implied it when it was made. Each variable read is narrowed again: a domain relaxed back to
  // what its edge already holds changes no edge, yet may have lost what the network implies.
  for (const ConstrainedVariableId& var : vars) {
    std::map<ConstrainedVariableId, VarInfo>::iterator it = m_vars.find(var);
    if (it == m_vars.end())
      continue;
    VarInfo& info = it->second;
    Time lb, ub;
    if (!readBounds(var, lb, ub))
      continue;  // relaxation will report it again
    for (const ConstraintId& constraint : info.distanceOf) {
      const EdgeInfo& edge = m_edges.find(constraint)->second;
      if (m_network.getEdgeLb(edge.edge) != lb || m_network.getEdgeUb(edge.edge) != ub) {
        m_network.setEdgeBounds(edge.edge, lb, ub);
        m_bounds.setEdgeBounds(m_boundsEdge[edge.edge], lb, ub);
      }
      m_distanceToNarrow.insert(constraint);
    }
    if (info.node < 0)
      continue;
    if (m_network.getEdgeLb(info.domainEdge) != lb || m_network.getEdgeUb(info.domainEdge) != ub) {
      m_network.setEdgeBounds(info.domainEdge, lb, ub);
      m_bounds.setEdgeBounds(m_boundsEdge[info.domainEdge], lb, ub);
    }
    m_toNarrow.insert(var);
  }
}

// ---- the bounds network's own edges ----

int TemporalPropagator::addEdge(int from, int to, Time lb, Time ub) {
  const int edge = m_network.addEdge(from, to, lb, ub);
  if ((int)m_boundsEdge.size() <= edge)
    m_boundsEdge.resize(edge + 1, -1);
  m_boundsEdge[edge] = m_bounds.addEdge(from, to, lb, ub);
  return edge;
}

void TemporalPropagator::watchDefault() {
  if (m_watching)
    return;
  const PropagatorId& found = getConstraintEngine()->getPropagatorByName(LabelStr("Default"));
  DefaultPropagator* watched = found.isNoId() ? 0 : dynamic_cast<DefaultPropagator*>((Propagator*)found);
  if (watched == 0)
    return;
  m_watching = true;
  m_watched = found;
  watched->setConstraintWatcher([this](const ConstraintId& constraint, bool gone) { noteDefault(constraint, gone); });
  for (const auto& entry : m_vars)
    if (entry.second.node >= 0)
      noteMirrorCandidates(entry.first);
}

void TemporalPropagator::noteDefault(const ConstraintId& constraint, bool gone) {
  const LabelStr& name = constraint->getName();
  if (name != leqName() && name != addEqName())
    return;
  if (!gone) {
    m_mirrorPending.insert(constraint);
    return;
  }
  m_mirrorPending.erase(constraint);
  MirrorMap::iterator it = m_mirrors.find(constraint);
  if (it != m_mirrors.end())
    unmirror(it);
}

void TemporalPropagator::noteMirrorCandidates(const ConstrainedVariableId& var) {
  if (!m_watching)
    return;
  ConstraintSet constraints;
  var->constraints(constraints);
  for (const ConstraintId& constraint : constraints)
    if (constraint->getPropagator() == m_watched &&
        (constraint->getName() == leqName() || constraint->getName() == addEqName()))
      m_mirrorPending.insert(constraint);
}

// The edge goes at the next sync: many constraints are deactivated one after another.
void TemporalPropagator::unmirror(MirrorMap::iterator it) {
  m_mirrorDrops.push_back(it->second.edge);
  for (const ConstrainedVariableId& end : {it->second.from, it->second.to}) {
    std::vector<ConstraintId>& list = m_vars[end].mirrored;
    std::vector<ConstraintId>::iterator found = std::find(list.begin(), list.end(), it->first);
    if (found != list.end()) {
      *found = list.back();
      list.pop_back();
    }
  }
  m_mirrors.erase(it);
}

void TemporalPropagator::unmirrorAt(const ConstrainedVariableId& var) {
  std::vector<ConstraintId> mirrored = m_vars[var].mirrored;
  for (const ConstraintId& constraint : mirrored) {
    MirrorMap::iterator it = m_mirrors.find(constraint);
    if (it != m_mirrors.end()) {
      m_mirrorPending.insert(constraint);
      unmirror(it);
    }
  }
}

void TemporalPropagator::dropMirrorEdges() {
  for (int edge : m_mirrorDrops)
    m_bounds.removeEdge(edge);
  m_mirrorDrops.clear();
}

void TemporalPropagator::updateMirrors() {
  watchDefault();
  dropMirrorEdges();
  if (m_mirrorPending.empty())
    return;
  const std::vector<ConstraintId> pending(m_mirrorPending.begin(), m_mirrorPending.end());
  m_mirrorPending.clear();
  const Time inf = g_infiniteTime();
  for (const ConstraintId& constraint : pending) {
    const std::vector<ConstrainedVariableId>& scope = constraint->getScope();
    const bool leq = constraint->getName() == leqName();
    const ConstrainedVariableId& from = scope[0];
    const ConstrainedVariableId& to = scope[leq ? 1 : 2];
    Time lb = 0, ub = inf;
    bool whole = constraint->isActive();
    if (whole && !leq) {
      // Only whole bounds: an edge would round the others.
      const AbstractDomain& dom = scope[1]->lastDomain();
      whole = readBounds(scope[1], lb, ub) && (dom.getLowerBound() <= -inf || (double)lb == dom.getLowerBound()) &&
              (dom.getUpperBound() >= inf || (double)ub == dom.getUpperBound());
    }
    const int a = findNode(from), b = findNode(to);
    MirrorMap::iterator it = m_mirrors.find(constraint);
    if (!whole || a < 0 || b < 0 || a == b) {
      if (it != m_mirrors.end())
        unmirror(it);
      continue;
    }
    if (it != m_mirrors.end()) {
      if (m_bounds.getEdgeLb(it->second.edge) != lb || m_bounds.getEdgeUb(it->second.edge) != ub)
        m_bounds.setEdgeBounds(it->second.edge, lb, ub);
      continue;
    }
    Mirror mirror;
    mirror.edge = m_bounds.addEdge(a, b, lb, ub);
    mirror.from = from;
    mirror.to = to;
    m_mirrors.insert(std::make_pair(constraint, mirror));
    m_vars[from].mirrored.push_back(constraint);
    m_vars[to].mirrored.push_back(constraint);
  }
  dropMirrorEdges();
}

// ---- propagation ----

void TemporalPropagator::narrowDistancesAt(const ConstrainedVariableId& var) {
  std::map<ConstrainedVariableId, VarInfo>::const_iterator it = m_vars.find(var);
  if (it != m_vars.end())
    m_distanceToNarrow.insert(it->second.endpointOf.begin(), it->second.endpointOf.end());
}

void TemporalPropagator::narrow() {
  if (!m_network.isConsistent()) {
    const int node = m_network.getConflictNode();
    check_error(node > 0 && node < (int)m_nodeVars.size());
    ConstrainedVariableId var = m_nodeVars[node];
    debugMsg("TemporalPropagator:narrow", " negative cycle; emptying " << var->toString());
    if (!var->lastDomain().isEmpty())
      getCurrentDomain(var).empty();
    return;
  }
  // Both networks' changes: either may be read at the next pass.
  for (TemporalNetwork* network : {&m_network, &m_bounds})
    for (int node : network->takeChangedNodes())
      if (node < (int)m_nodeVars.size() && !m_nodeVars[node].isNoId()) {
        m_toNarrow.insert(m_nodeVars[node]);
        narrowDistancesAt(m_nodeVars[node]);
      }
  TemporalNetwork& net = m_bounds.isConsistent() ? m_bounds : m_network;
  std::vector<ConstrainedVariableId> vars(m_toNarrow.begin(), m_toNarrow.end());
  m_toNarrow.clear();
  debugMsg("TemporalPropagator:narrow", " " << vars.size() << " time points, " << m_distanceToNarrow.size()
                                            << " distances");
  Time lb, ub;
  for (std::size_t i = 0; i < vars.size(); ++i) {
    const ConstrainedVariableId& var = vars[i];
    // A listener woken by a narrowing may have asked the advisor, which syncs the network:
    // what is left waits for the next pass, when the network is consistent again.
    if (!net.isConsistent()) {
      m_toNarrow.insert(vars.begin() + i, vars.end());
      m_needsPass = true;
      return;
    }
    if (!isTimepoint(var))
      continue;  // released meanwhile
    net.getBounds(m_vars[var].node, lb, ub);
    // The mirrored constraints at a narrowed point may have brought the bound.
    if (&net == &m_bounds && (var->lastDomain().getLowerBound() < (double)lb || var->lastDomain().getUpperBound() > (double)ub))
      for (const ConstraintId& constraint : m_vars[var].mirrored)
        noteRestricted(constraint);
    getCurrentDomain(var).intersect((double)lb, (double)ub);
  }
  std::vector<ConstraintId> distances(m_distanceToNarrow.begin(), m_distanceToNarrow.end());
  m_distanceToNarrow.clear();
  // A distance variable gets the difference of its time points' bounds: exact distances would
  // cost two shortest-path passes per constraint and pass, and the advisor answers them anyway.
  const Time inf = g_infiniteTime();
  Time xl, xu, yl, yu;
  for (std::size_t i = 0; i < distances.size(); ++i) {
    const ConstraintId& constraint = distances[i];
    if (!net.isConsistent()) {
      m_distanceToNarrow.insert(distances.begin() + i, distances.end());
      m_needsPass = true;
      return;
    }
    EdgeMap::const_iterator found = m_edges.find(constraint);
    if (found == m_edges.end())
      continue;
    const EdgeInfo& info = found->second;
    net.getBounds(m_vars[info.from].node, xl, xu);
    net.getBounds(m_vars[info.to].node, yl, yu);
    lb = (yl <= -inf || xu >= inf) ? -inf : yl - xu;
    ub = (yu >= inf || xl <= -inf) ? inf : yu - xl;
    getCurrentDomain(info.distance).intersect((double)lb, (double)ub);
  }
}

void TemporalPropagator::execute() {
  const ConstraintEngineId& engine = getConstraintEngine();
  sync();
  while (!m_otherAgenda.empty() && !engine->provenInconsistent()) {
    ConstraintId constraint = *m_otherAgenda.begin();
    m_otherAgenda.erase(m_otherAgenda.begin());
    if (constraint->isActive())
      Propagator::execute(constraint);
  }
  if (engine->provenInconsistent())
    return;
  sync();
  m_needsPass = false;
  narrow();
}

// ---- queries ----

bool TemporalPropagator::isTimepoint(const ConstrainedVariableId& var) const { return findNode(var) >= 0; }

int TemporalPropagator::getTimepoint(const ConstrainedVariableId& var) const { return findNode(var); }

bool TemporalPropagator::getDistance(const ConstrainedVariableId& first,
                                     const ConstrainedVariableId& second, Time& lb, Time& ub) {
  sync();
  // Asked for many pairs on every change of the network: one look-up per point.
  const int a = findNode(first);
  checkError(a >= 0, first->toString() << " is not a time point of the network.");
  const int b = findNode(second);
  checkError(b >= 0, second->toString() << " is not a time point of the network.");
  if (!m_network.isConsistent())
    return false;
  m_network.getDistance(a, b, lb, ub);
  return true;
}

bool TemporalPropagator::findDistance(const ConstrainedVariableId& first,
                                      const ConstrainedVariableId& second, Time& lb, Time& ub) {
  sync();
  const int a = findNode(first);
  if (a < 0)
    return false;
  const int b = findNode(second);
  if (b < 0 || !m_network.isConsistent())
    return false;
  m_network.getDistance(a, b, lb, ub);
  return true;
}

} // namespace KORVAN
