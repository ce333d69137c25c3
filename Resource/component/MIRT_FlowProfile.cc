#include "Resource/component/MIRT_FlowProfile.hh"
#include "Resource/component/MIRT_EdgeIterator.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "ConstraintEngine/component/Variable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace KORVAN {
namespace MIRT {

bool FlowProfile::timeBounds(const TransactionId& t, int& lb, int& ub) {
  const AbstractDomain& dom = t->time()->lastDomain();
  if (dom.isEmpty())
    return false;
  lb = (int) dom.getLowerBound();
  ub = (int) dom.getUpperBound();
  return true;
}

/*
 * Flow profile: construction
 */

FlowProfile::FlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector, double initLevelLb, double initLevelUb)
  : Profile(db, flawDetector, initLevelLb, initLevelUb), m_dummySourceTransaction(), m_dummySinkTransaction(),
    m_lowerLevelGraph(0), m_upperLevelGraph(0), m_lowerClosedLevel(m_initLevelLb), m_upperClosedLevel(m_initLevelUb),
    m_recalculateLowerLevel(false), m_recalculateUpperLevel(false), m_answersSide(0) {
  replaceWindow(-g_infiniteTime(), g_infiniteTime());
  m_dummySourceTransaction = makePlaceholder();
  m_dummySinkTransaction = makePlaceholder();
  initializeGraphs();
}

TransactionId FlowProfile::makePlaceholder() {
  // Placeholders only name the terminals of the networks; their variables
  // are never read, so they need not outlive this call.
  const Id<ConstraintEngine>& ce = m_planDatabase->getConstraintEngine();
  Variable<IntervalIntDomain>* time =
    new Variable<IntervalIntDomain>(ce, IntervalIntDomain(0, 0), false, true, ConstrainedVariable::NO_NAME(),
                                    EntityId::noId(), -1);
  Variable<IntervalIntDomain>* quantity =
    new Variable<IntervalIntDomain>(ce, IntervalIntDomain(0, 0), false, true, ConstrainedVariable::NO_NAME(),
                                    EntityId::noId(), -1);
  Transaction* t = new Transaction(time->getId(), quantity->getId(), false);
  delete time;
  delete quantity;
  return t->getId();
}

FlowProfile::~FlowProfile() {
  DebugMessage::Teardown quiet;
  delete m_lowerLevelGraph;
  m_lowerLevelGraph = 0;
  delete m_upperLevelGraph;
  m_upperLevelGraph = 0;
  if (m_dummySinkTransaction.isValid())
    delete (Transaction*) m_dummySinkTransaction;
  if (m_dummySourceTransaction.isValid())
    delete (Transaction*) m_dummySourceTransaction;
}

void FlowProfile::initializeGraphs() {
  // The networks of the last pass, emptied, are new ones that keep their
  // memory: a pass opens a node per transaction.
  if (m_lowerLevelGraph == 0 || !m_lowerLevelGraph->startOver()) {
    delete m_lowerLevelGraph;
    m_lowerLevelGraph = new FlowProfileGraph(m_dummySourceTransaction, m_dummySinkTransaction, true);
  }
  if (m_upperLevelGraph == 0 || !m_upperLevelGraph->startOver()) {
    delete m_upperLevelGraph;
    m_upperLevelGraph = new FlowProfileGraph(m_dummySourceTransaction, m_dummySinkTransaction, false);
  }
}

void FlowProfile::enableTransaction(const TransactionId& t, const InstantId& inst) {
  debugMsg("FlowProfile:enableTransaction", "Transaction (" << t << ") at time " << inst->getTime());
  const int number = numberOf(t);
  m_lowerLevelGraph->enableTransaction(t, inst, m_lowerLevelContribution, number);
  m_upperLevelGraph->enableTransaction(t, inst, m_upperLevelContribution, number);
}

int FlowProfile::numberOf(const TransactionId& t) {
  const std::uint32_t known = m_numbers.find((const Transaction*) t);
  if (known != AddressIndex::NONE)
    return (int) known;
  int number = (int) m_numbers.size();
  if (!m_freeNumbers.empty()) {
    number = m_freeNumbers.back();
    m_freeNumbers.pop_back();
  }
  m_numbers.insert((const Transaction*) t, (std::uint32_t) number);
  return number;
}

/*
 * Flow profile: passes
 */

FlowProfile::PassState::PassState()
  : inPass(false), restartAt(g_infiniteTime()), passEnd(g_infiniteTime()), pendingEnd(g_infiniteTime()), computedAny(false), lastComputed(0),
    enabledStamp(0) {}

void FlowProfile::PassState::start(int from) {
  inPass = true;
  restartAt = from;
  passEnd = pendingEnd;
  computedAny = false;
}

void FlowProfile::PassState::computed(int time) {
  computedAny = true;
  lastComputed = time;
}

bool FlowProfile::PassState::stoppedBefore(const std::map<int, InstantId>& instants, int& resumeAt) const {
  if (!inPass || !computedAny)
    return false;
  std::map<int, InstantId>::const_iterator next = instants.upper_bound(lastComputed);
  if (next == instants.end() || next->first > passEnd)
    return false;
  resumeAt = next->first;
  return true;
}

void FlowProfile::startPass(int from) {
  m_pass.start(from);
}

void FlowProfile::noteComputed(const InstantId& inst) {
  m_pass.computed(inst->getTime());
}

void FlowProfile::initRecompute() {
  check_error(m_recomputeInterval.isValid(),
              "Attempted to initialize recomputation without a valid starting point!");
  debugMsg("FlowProfile:initRecompute", "From the first instant");
  startPass();
  m_pass.lowerRecorded.clear();
  m_pass.upperRecorded.clear();
  if (++m_pass.enabledStamp == 0) {
    std::fill(m_pass.enabled.begin(), m_pass.enabled.end(), 0u);
    m_pass.enabledStamp = 1;
  }
  if (m_recalculateLowerLevel)
    m_lowerLevelGraph->reset();
  if (m_recalculateUpperLevel)
    m_upperLevelGraph->reset();
  m_lowerClosedLevel = m_initLevelLb;
  m_upperClosedLevel = m_initLevelUb;
}

void FlowProfile::initRecompute(InstantId inst) {
  check_error(inst.isValid());
  debugMsg("FlowProfile:initRecompute", "Instant (" << inst << ") at time " << inst->getTime());
  // The closed levels and the networks at inst depend on every instant
  // before it: walk up to inst from the first instant, inst included, since
  // the pass will not compute it.
  FlowProfile::initRecompute();
  InstantId prev;
  for (std::map<int, InstantId>::const_iterator it = m_instants.begin(); it != m_instants.end(); ++it) {
    FlowProfile::recomputeLevels(prev, it->second);
    prev = it->second;
    if (it->second == inst)
      break;
  }
}

void FlowProfile::recomputeLevels(InstantId prev, InstantId inst) {
  check_error(prev.isValid() || InstantId::noId() == prev);
  check_error(inst.isValid());
  const double T = (double) inst->getTime();
  debugMsg("FlowProfile:recomputeLevels", "Computing instant (" << inst << ") at time " << inst->getTime()
           << " closed levels [" << m_lowerClosedLevel << "," << m_upperClosedLevel << "]");

  // Nothing in this walk changes a time domain, and enabling a transaction
  // again in the same pass changes nothing: the pending transactions are
  // read once, and each is enabled once per pass.
  readPresent(inst);
  bool pendingRead = false;
  std::size_t position = 0;  // of t among the pending transactions
  for (std::size_t at = 0; at < m_present.size(); ++at) {
    const TransactionId& t = m_present[at];
    if (m_presentBounds[at].second == T) {
      closeTransaction(t, inst);
      continue;
    }
    const std::size_t self = position++;
    if (m_presentBounds[at].first != T)
      continue;
    if (!pendingRead) {
      readPending(T);
      pendingRead = true;
    }
    check_error(m_pending[self] == t);
    enablePendingOnce(self, inst);
    readOrdered(t, self, inst);
    orderWithNearest(t);
  }
  recordLevels(inst);
}

void FlowProfile::readPresent(const InstantId& inst) {
  const std::vector<TransactionId>& transactions = heldAt(inst);
  m_present.assign(transactions.begin(), transactions.end());
  m_presentBounds.clear();
  for (const TransactionId& t : transactions) {
    const AbstractDomain& time = t->time()->lastDomain();
    m_presentBounds.push_back(std::make_pair(time.getLowerBound(), time.getUpperBound()));
  }
}

void FlowProfile::closeTransaction(const TransactionId& t, const InstantId& inst) {
  debugMsg("FlowProfile::recomputeLevels", "Transaction (" << t << ") enters closed set.");
  // From here on it counts in the closed levels directly, unless the
  // pass found it counting earlier.
  if (m_recalculateLowerLevel) {
    m_lowerLevelGraph->bypass(t);
    m_lowerLevelGraph->removeTransaction(t);
    recordContribution(m_lowerLevelContribution, m_pass.lowerRecorded, t, inst);
  }
  if (m_recalculateUpperLevel) {
    m_upperLevelGraph->bypass(t);
    m_upperLevelGraph->removeTransaction(t);
    recordContribution(m_upperLevelContribution, m_pass.upperRecorded, t, inst);
  }
  const LevelContribution c = contributionOf(t);
  if (m_recalculateUpperLevel)
    m_upperClosedLevel += c.toUpperBound();
  if (m_recalculateLowerLevel)
    m_lowerClosedLevel += c.toLowerBound();
}

void FlowProfile::readOrdered(const TransactionId& t, std::size_t self, const InstantId& inst) {
  m_ordered.clear();
  m_orderedNumbers.clear();
  m_orderedOrder.clear();
  m_orderedRelation.clear();
  m_orderedBounds.clear();
  for (std::size_t other = 0; other < m_pending.size(); ++other) {
    if (other == self)
      continue;
    const TransactionId& t2 = m_pending[other];
    debugMsg("FlowProfile:recomputeLevels", "Determining ordering of pending transaction (" << t
             << " and pending transaction (" << t2);
    enablePendingOnce(other, inst);
    const Order order = lookupOrdering(t, t2);
    const unsigned char relation = relationTo(order);
    if (relation == 0) {
      debugMsg("FlowProfile::recomputeLevels", "Transaction (" << t << ") and Transaction (" << t2
               << ") not constrained");
      continue;
    }
    m_ordered.push_back(t2);
    m_orderedNumbers.push_back(numberOf(t2));
    m_orderedOrder.push_back(order);
    m_orderedRelation.push_back(relation);
    const AbstractDomain& time = t2->time()->lastDomain();
    m_orderedBounds.push_back(std::make_pair(time.getLowerBound(), time.getUpperBound()));
  }
}

void FlowProfile::orderWithNearest(const TransactionId& t) {
  // Every pending pair is ordered in the networks; an edge to each
  // nearest one carries the rest.
  const bool lower = m_recalculateLowerLevel, upper = m_recalculateUpperLevel;
  m_lowerNeeded.assign(m_ordered.size(), 0);
  m_upperNeeded.assign(m_ordered.size(), 0);
  sortOrdered();
  if (lower)
    selectNearest(m_lowerLevelGraph, t, 0, m_lowerNeeded);
  if (upper)
    selectNearest(m_upperLevelGraph, t, 0, m_upperNeeded);
  for (std::size_t i = 0; i < m_ordered.size(); ++i) {
    if (!m_lowerNeeded[i] && !m_upperNeeded[i])
      continue;
    const TransactionId& t2 = m_ordered[i];
    switch (m_orderedOrder[i]) {
    case STRICTLY_AT:
      orderedAt(t, t2, m_lowerNeeded[i] != 0, m_upperNeeded[i] != 0);
      break;
    case BEFORE_OR_AT:
      orderedAtOrBefore(t, t2, m_lowerNeeded[i] != 0, m_upperNeeded[i] != 0);
      break;
    default:
      orderedAtOrBefore(t2, t, m_lowerNeeded[i] != 0, m_upperNeeded[i] != 0);
      break;
    }
  }
}

void FlowProfile::recordLevels(const InstantId& inst) {
  double lowerLevel = inst->getLowerLevel();
  if (m_recalculateLowerLevel) {
    lowerLevel = m_lowerClosedLevel - m_lowerLevelGraph->getResidualFromSource();
    recordReached(*m_lowerLevelGraph, m_lowerLevelContribution, m_pass.lowerRecorded, inst);
  }
  double upperLevel = inst->getUpperLevel();
  if (m_recalculateUpperLevel) {
    upperLevel = m_upperClosedLevel + m_upperLevelGraph->getResidualFromSource();
    recordReached(*m_upperLevelGraph, m_upperLevelContribution, m_pass.upperRecorded, inst);
  }
  debugMsg("FlowProfile::recomputeLevels", "Computed levels for instance at time " << inst->getTime() << "["
           << lowerLevel << "," << upperLevel << "]");
  updateWithTotals(inst, lowerLevel, upperLevel);
  noteComputed(inst);
}

void FlowProfile::recordContribution(ContributionMap& contributions, std::set<TransactionId>& recorded,
                                     const TransactionId& t, const InstantId& inst) {
  if (!recorded.insert(t).second)
    return;
  contributions[t] = inst;
  debugMsg("FlowProfile:recordContribution", "Transaction " << t << " starts contributing at "
           << inst->getTime() << " lower level " << (&contributions == &m_lowerLevelContribution));
}

void FlowProfile::enablePending(const TransactionId& t, const InstantId& inst) {
  // A transaction with no capacity in a network is recorded by the network
  // each time it is enabled; only the first of these instants is its earliest.
  const bool lowerKept = m_pass.lowerRecorded.count(t) > 0 && m_lowerLevelContribution.count(t) > 0;
  const bool upperKept = m_pass.upperRecorded.count(t) > 0 && m_upperLevelContribution.count(t) > 0;
  const InstantId lowerBefore = lowerKept ? m_lowerLevelContribution[t] : InstantId::noId();
  const InstantId upperBefore = upperKept ? m_upperLevelContribution[t] : InstantId::noId();
  enableTransaction(t, inst);
  if (lowerKept)
    m_lowerLevelContribution[t] = lowerBefore;
  else if (!m_lowerLevelGraph->isEnabled(t))
    m_pass.lowerRecorded.insert(t);
  if (upperKept)
    m_upperLevelContribution[t] = upperBefore;
  else if (!m_upperLevelGraph->isEnabled(t))
    m_pass.upperRecorded.insert(t);
}

void FlowProfile::readPending(double T) {
  m_pending.clear();
  for (std::size_t at = 0; at < m_present.size(); ++at)
    if (m_presentBounds[at].second != T)
      m_pending.push_back(m_present[at]);
  m_pendingEnabled.assign(m_pending.size(), false);
}

void FlowProfile::enablePendingOnce(std::size_t position, const InstantId& inst) {
  if (m_pendingEnabled[position])
    return;
  m_pendingEnabled[position] = true;
  const std::size_t number = (std::size_t) numberOf(m_pending[position]);
  if (number >= m_pass.enabled.size())
    m_pass.enabled.resize(number + 1, 0u);
  if (m_pass.enabled[number] == m_pass.enabledStamp)
    return;
  m_pass.enabled[number] = m_pass.enabledStamp;
  enablePending(m_pending[position], inst);
}

void FlowProfile::recordReached(const FlowProfileGraph& graph, ContributionMap& contributions,
                                std::set<TransactionId>& recorded, const InstantId& inst) {
  // What the source still reaches in the residual network is counted in
  // full by the level bound: the same transactions whatever maximum flow
  // was found.
  std::vector<TransactionId> reached;
  graph.getReachableResidualTransactions(reached);
  // The lines in the order of a walk after a maximum flow found from
  // scratch, whichever flow the network holds.
  static DebugMessage* const sl_recorded =
    DebugMessage::addMsg(__FILE__, __LINE__, "FlowProfile:recordContribution");
  if (sl_recorded->isEnabled()) {
    std::vector<TransactionId> listed;
    graph.listReachable(listed);
    for (const TransactionId& t : listed)
      condDebugMsg(recorded.count(t) == 0, "FlowProfile:recordContribution", "Transaction " << t
                   << " starts contributing at " << inst->getTime() << " lower level "
                   << (&contributions == &m_lowerLevelContribution));
  }
  for (std::vector<TransactionId>::const_iterator it = reached.begin(); it != reached.end(); ++it)
    if (recorded.insert(*it).second)
      contributions[*it] = inst;
}

void FlowProfile::postHandleRecompute() {
  int resumeAt = 0;
  const bool unfinished = m_pass.stoppedBefore(m_instants, resumeAt);
  resumeAt = std::min(resumeAt, m_pass.restartAt);
  m_pass.inPass = false;
  if (!unfinished) {
    m_recalculateLowerLevel = false;
    m_recalculateUpperLevel = false;
    return;
  }
  // The pass stopped early: keep its flags and leave the rest of its window
  // pending, so that the next pass finishes it.
  debugMsg("FlowProfile:postHandleRecompute", "Pass stopped before " << resumeAt << "; keeping ["
           << resumeAt << "," << m_pass.passEnd << "] pending");
  mergeWindow(resumeAt, m_pass.passEnd);
}

/*
 * Flow profile: orderings
 */

FlowProfile::Order FlowProfile::getOrdering(const TransactionId& t1, const TransactionId& t2) {
  check_error(t1.isValid());
  check_error(t2.isValid());
  return lookupOrdering(t1, t2);
}

FlowProfile::Order FlowProfile::lookupOrdering(const TransactionId& t1, const TransactionId& t2) {
  Transaction* p1 = (Transaction*) t1;
  Transaction* p2 = (Transaction*) t2;
  if (!m_orderedAt.empty()) {
    if (const Order* at = m_orderedAt.find(p1, p2))
      return *at;
  }
  const Order* direct = 0;
  const Order* mirror = 0;
  m_orderings.findBoth(p1, p2, direct, mirror);
  if (direct != 0)
    return *direct;
  if (mirror != 0) {
    if (*mirror == BEFORE_OR_AT)
      return AFTER_OR_AT;
    if (*mirror == AFTER_OR_AT)
      return BEFORE_OR_AT;
    return *mirror;
  }

  unsigned char survives = SURVIVES_NOTHING;
  const Order result = computeOrdering(t1, t2, &survives);
  const OrderingCache::Key key(t1, t2);
  if (result == STRICTLY_AT)
    m_orderedAt.put(key, result, survives);
  else
    m_orderings.put(key, result, survives);
  return result;
}

namespace {
// The answers' largest side: a megabyte.
const int MOST_ANSWERS_SIDE = 1024;
}

FlowProfile::Order FlowProfile::answerOrdering(const TransactionId& t1, const TransactionId& t2, int n1, int n2) {
  const int most = std::max(n1, n2);
  if (most >= m_answersSide) {
    if (most >= MOST_ANSWERS_SIDE)
      return lookupOrdering(t1, t2);
    int side = std::max(64, m_answersSide);
    while (side <= most)
      side *= 2;
    std::vector<unsigned char> answers((std::size_t) side * side, 0);
    for (int i = 0; i < m_answersSide; ++i)
      std::copy(m_answers.begin() + (std::ptrdiff_t) i * m_answersSide,
                m_answers.begin() + (std::ptrdiff_t) (i + 1) * m_answersSide,
                answers.begin() + (std::ptrdiff_t) i * side);
    m_answers.swap(answers);
    m_answersSide = side;
  }
  const std::size_t cell = (std::size_t) n1 * m_answersSide + n2;
  if (m_answers[cell] != 0)
    return (Order) (m_answers[cell] - 1);
  const Order result = lookupOrdering(t1, t2);
  m_answers[cell] = (unsigned char) (1 + result);
  return result;
}

void FlowProfile::forgetAnswers(const TransactionId& t1, const TransactionId& t2) {
  if (m_answersSide == 0)
    return;
  const std::uint32_t one = m_numbers.find((const Transaction*) t1);
  const std::uint32_t other = m_numbers.find((const Transaction*) t2);
  if (one == AddressIndex::NONE || other == AddressIndex::NONE)
    return;
  const int n1 = (int) one, n2 = (int) other;
  if (n1 >= m_answersSide || n2 >= m_answersSide)
    return;
  m_answers[(std::size_t) n1 * m_answersSide + n2] = 0;
  m_answers[(std::size_t) n2 * m_answersSide + n1] = 0;
}

void FlowProfile::forgetAnswers(int number) {
  if (number >= m_answersSide)
    return;
  std::fill(m_answers.begin() + (std::ptrdiff_t) number * m_answersSide,
            m_answers.begin() + (std::ptrdiff_t) (number + 1) * m_answersSide, 0);
  for (int i = 0; i < m_answersSide; ++i)
    m_answers[(std::size_t) i * m_answersSide + number] = 0;
}

FlowProfile::Order FlowProfile::computeOrdering(const TransactionId& t1, const TransactionId& t2,
                                                unsigned char* survives) {
  Order result = NOT_ORDERED;
  const EntityId& parent1 = t1->time()->parent();
  const EntityId& parent2 = t2->time()->parent();
  if (survives != 0)
    *survives = SURVIVES_NOTHING;
  // A token's start is at or before its end; one that may last no time at
  // all is left to the network, which knows whether it must.
  if (parent1 == parent2 && Id<Token>::convertable(parent1) && TokenId(parent1)->duration().isValid() &&
      TokenId(parent1)->duration()->lastDomain().getLowerBound() > 0.0) {
    const TokenId token(parent1);
    result = token->start() == t1->time() ? BEFORE_OR_AT : AFTER_OR_AT;
    // Filed with the network's answers, so that it is looked at only where a bound of its
    // points moved: it stands while the duration's lower bound stays above 0, for good when
    // the base domain keeps it there, else until something is loosened. Bounds outside the
    // network move unlogged, so there it is looked at always.
    if (survives != 0 && t1->time() != t2->time() && networkHolds(t1, t2)) {
      *survives = FROM_NETWORK | SURVIVES_TIGHTENING;
      if (token->duration()->baseDomain().getLowerBound() > 0.0)
        *survives |= SURVIVES_LOOSENING;
    }
  }
  else {
    const IntervalIntDomain d =
      m_planDatabase->getTemporalAdvisor()->getTemporalDistanceDomain(t1->time(), t2->time(), true);
    if (d.getLowerBound() == 0.0 && d.getUpperBound() == 0.0)
      result = STRICTLY_AT;
    else if (d.getLowerBound() >= 0.0)
      result = BEFORE_OR_AT;
    else if (d.getUpperBound() <= 0.0)
      result = AFTER_OR_AT;
    if (survives != 0 && t1->time() != t2->time()) {
      // The advisor reads the network exactly when both times are points of
      // a consistent network; otherwise it falls back on the domains.
      if (networkHolds(t1, t2)) {
        *survives = FROM_NETWORK | SAME_DISTANCES;
        if (result == NOT_ORDERED)
          *survives |= SURVIVES_LOOSENING;
        else if (result == STRICTLY_AT || d.getLowerBound() > 0.0 || d.getUpperBound() < 0.0)
          *survives |= SURVIVES_TIGHTENING;
      }
    }
  }
  return result;
}

bool FlowProfile::networkHolds(const TransactionId& t1, const TransactionId& t2) const {
  TemporalPropagator* temporal = temporalPropagator();
  return temporal != 0 && temporal->getNetwork().isConsistent() && temporal->isTimepoint(t1->time()) &&
    temporal->isTimepoint(t2->time());
}

TemporalPropagator* FlowProfile::temporalPropagator() const {
  const PropagatorId& prop =
    m_planDatabase->getConstraintEngine()->getPropagatorByName(TemporalPropagator::PROPAGATOR_NAME());
  return prop.isNoId() ? 0 : dynamic_cast<TemporalPropagator*>((Propagator*) prop);
}

void FlowProfile::handleOrderedAt(const TransactionId& t1, const TransactionId& t2) {
  orderedAt(t1, t2, m_recalculateLowerLevel, m_recalculateUpperLevel);
}

void FlowProfile::orderedAt(const TransactionId& t1, const TransactionId& t2, bool lower, bool upper) {
  check_error(t1.isValid());
  check_error(t2.isValid());
  debugMsg("FlowProfile:handleOrderedAt", "TransactionId (" << t1 << ") at TransactionId (" << t2 << ")");
  if (lower)
    m_lowerLevelGraph->enableAt(t1, t2);
  if (upper)
    m_upperLevelGraph->enableAt(t1, t2);
}

void FlowProfile::handleOrderedAtOrBefore(const TransactionId& t1, const TransactionId& t2) {
  orderedAtOrBefore(t1, t2, m_recalculateLowerLevel, m_recalculateUpperLevel);
}

void FlowProfile::orderedAtOrBefore(const TransactionId& t1, const TransactionId& t2, bool lower, bool upper) {
  check_error(t1.isValid());
  check_error(t2.isValid());
  debugMsg("FlowProfile:handleOrderedAtOrBefore", "TransactionId (" << t1 << ") at or before TransactionId ("
           << t2 << ")");
  if (lower)
    m_lowerLevelGraph->enableAtOrBefore(t1, t2);
  if (upper)
    m_upperLevelGraph->enableAtOrBefore(t1, t2);
}

unsigned char FlowProfile::relationTo(Order order) {
  switch (order) {
  case STRICTLY_AT:
    return FlowProfileGraph::AT_OR_BEFORE | FlowProfileGraph::AT_OR_AFTER;
  case BEFORE_OR_AT:
    return FlowProfileGraph::AT_OR_AFTER;
  case AFTER_OR_AT:
    return FlowProfileGraph::AT_OR_BEFORE;
  default:
    return 0;
  }
}

void FlowProfile::sortOrdered() {
  FlowProfileGraph::sortByTime(m_orderedBounds, m_orderedRelation, m_orderedByTime);
}

void FlowProfile::selectNearest(FlowProfileGraph* graph, const TransactionId& t, const std::vector<char>* candidates,
                                std::vector<char>& needed) {
  const int number = numberOf(t);
  if (candidates == 0) {
    graph->selectNearest(t, m_ordered, m_orderedRelation, m_orderedByTime, needed, number, &m_orderedNumbers);
    return;
  }
  m_relationScratch.assign(m_orderedRelation.begin(), m_orderedRelation.end());
  for (std::size_t i = 0; i < m_relationScratch.size(); ++i)
    if (!(*candidates)[i])
      m_relationScratch[i] = 0;
  graph->selectNearest(t, m_ordered, m_relationScratch, m_orderedByTime, needed, number, &m_orderedNumbers);
}

bool FlowProfile::getEarliestInstant(const ContributionMap& contributions, const TransactionId& t,
                                     InstantId& i) const {
  check_error(t.isValid());
  ContributionMap::const_iterator it = contributions.find(t);
  // An entry may name an instant the profile has deleted since: no answer then.
  if (it == contributions.end() || !it->second.isValid())
    return false;
  i = it->second;
  return true;
}

bool FlowProfile::getEarliestLowerLevelInstant(const TransactionId& t, InstantId& i) {
  return getEarliestInstant(m_lowerLevelContribution, t, i);
}

bool FlowProfile::getEarliestUpperLevelInstant(const TransactionId& t, InstantId& i) {
  return getEarliestInstant(m_upperLevelContribution, t, i);
}

/*
 * Flow profile: change handling
 */

void FlowProfile::replaceWindow(int start, int end) {
  if (m_recomputeInterval.isValid())
    delete (ProfileIterator*) m_recomputeInterval;
  m_recomputeInterval = (new ProfileIterator(getId(), start, end))->getId();
  m_pass.pendingEnd = end;
}

std::pair<int, int> FlowProfile::mergeWindow(int start, int end) {
  int startRecalculation = start, endRecalculation = end;
  if (m_recomputeInterval.isValid()) {
    startRecalculation = std::min(start, m_recomputeInterval->getStartTime());
    endRecalculation = std::max(end, m_pass.pendingEnd);
  }
  replaceWindow(startRecalculation, endRecalculation);
  debugMsg("FlowProfile:mergeWindow", "Set interval to [" << startRecalculation << "," << endRecalculation << "]");
  return std::make_pair(startRecalculation, endRecalculation);
}

void FlowProfile::handleTransactionAdded(TransactionId t) {
  check_error(t.isValid());
  debugMsg("FlowProfile:handleTransactionAdded", "TransactionId (" << t << ") time " << t->time()->lastDomain()
           << " quantity " << t->quantity()->lastDomain() << " consumer: "
           << (t->isConsumer() ? "true" : "false"));
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
  int lb = -g_infiniteTime(), ub = g_infiniteTime();
  const bool bounded = timeBounds(t, lb, ub);
  const std::pair<int, int> window = mergeWindow(lb, g_infiniteTime());
  if (bounded)
    m_previousTimeBounds[t] = std::make_pair(lb, ub);
  debugMsg("FlowProfile:handleTransactionAdded", "Set interval to [" << window.first << "," << window.second << "]");
}

void FlowProfile::handleTransactionRemoved(TransactionId t) {
  check_error(t.isValid());
  debugMsg("FlowProfile:handleTransactionRemoved", "TransactionId (" << t << ")");
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
  m_lowerLevelGraph->removeTransaction(t);
  m_upperLevelGraph->removeTransaction(t);
  // What the networks keep for reuse never outgrows the profile.
  m_lowerLevelGraph->trimSpare(getTransactions().size());
  m_upperLevelGraph->trimSpare(getTransactions().size());
  m_lowerLevelContribution.erase(t);
  m_upperLevelContribution.erase(t);
  m_pass.lowerRecorded.erase(t);
  m_pass.upperRecorded.erase(t);
  const std::uint32_t numbered = m_numbers.find((const Transaction*) t);
  if (numbered != AddressIndex::NONE) {
    if (numbered < m_pass.enabled.size())
      m_pass.enabled[numbered] = 0u;
    m_freeNumbers.push_back((int) numbered);
    forgetAnswers((int) numbered);
    m_numbers.erase((const Transaction*) t);
  }
  // A later transaction at the same address must not inherit its answers;
  // orderings of others through its constraints may have gone with it.
  m_orderings.forget(t);
  m_orderedAt.forget(t);
  m_orderingMarks.transactionChanged();
  int lb = -g_infiniteTime(), ub = g_infiniteTime();
  if (!timeBounds(t, lb, ub))
    lb = -g_infiniteTime();
  // Where the transaction was last filed counts as well as where it is now.
  std::unordered_map<TransactionId, std::pair<int, int>, TransactionIdHash>::iterator it =
    m_previousTimeBounds.find(t);
  if (it != m_previousTimeBounds.end()) {
    lb = std::min(lb, it->second.first);
    m_previousTimeBounds.erase(it);
  }
  mergeWindow(lb, g_infiniteTime());
}

void FlowProfile::handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& type) {
  check_error(t.isValid());
  debugMsg("FlowProfile:handleTransactionTimeChanged", "TransactionId (" << t << ") change " << (int) type);
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
  int lb = 0, ub = 0;
  if (!timeBounds(t, lb, ub)) {
    // Nothing to file an emptied domain by: everything may have moved.
    mergeWindow(-g_infiniteTime(), g_infiniteTime());
    return;
  }
  const bool relaxation = type == DomainListener::RESET || type == DomainListener::RELAXED;
  if (relaxation) {
    // Orderings read from the time bounds may no longer hold.
    m_orderingMarks.transactionChanged();
  }
  // The levels can change wherever the transaction was or now is: between
  // the bounds it had before this change and the ones it has now.
  std::unordered_map<TransactionId, std::pair<int, int>, TransactionIdHash>::iterator ite =
    m_previousTimeBounds.find(t);
  // A restriction can only come to a transaction the profile holds bounds
  // of; a relaxation may give bounds to one added with none.
  const bool restriction = type == DomainListener::UPPER_BOUND_DECREASED ||
    type == DomainListener::LOWER_BOUND_INCREASED || type == DomainListener::BOUNDS_RESTRICTED ||
    type == DomainListener::RESTRICT_TO_SINGLETON || type == DomainListener::SET_TO_SINGLETON;
  if (restriction)
    check_error(ite != m_previousTimeBounds.end());
  int startRecalculation = lb, endRecalculation = ub;
  if (ite != m_previousTimeBounds.end()) {
    const int previousStart = ite->second.first, previousEnd = ite->second.second;
    startRecalculation = std::min(startRecalculation, previousStart);
    endRecalculation = std::max(endRecalculation, previousEnd);
    ite->second = std::make_pair(lb, ub);
  }
  else
    m_previousTimeBounds[t] = std::make_pair(lb, ub);
  mergeWindow(startRecalculation, endRecalculation);
}

void FlowProfile::handleTransactionQuantityChanged(TransactionId t, const DomainListener::ChangeType& type) {
  check_error(t.isValid());
  debugMsg("FlowProfile:handleTransactionQuantityChanged", "TransactionId (" << t << ") change " << (int) type
           << " to " << t->quantity()->toString());
  switch (type) {
  case DomainListener::UPPER_BOUND_DECREASED:
    if (t->isConsumer())
      m_recalculateLowerLevel = true;
    else
      m_recalculateUpperLevel = true;
    break;
  case DomainListener::LOWER_BOUND_INCREASED:
    if (t->isConsumer())
      m_recalculateUpperLevel = true;
    else
      m_recalculateLowerLevel = true;
    break;
  case DomainListener::BOUNDS_RESTRICTED:
  case DomainListener::RESTRICT_TO_SINGLETON:
  case DomainListener::SET_TO_SINGLETON:
  case DomainListener::RESET:
  case DomainListener::RELAXED:
    m_recalculateLowerLevel = true;
    m_recalculateUpperLevel = true;
    break;
  default:
    break;
  }
  // Once the transaction has closed its quantity is part of every later
  // level, so the window runs to the end of time.
  int lb = -g_infiniteTime(), ub = g_infiniteTime();
  timeBounds(t, lb, ub);
  mergeWindow(lb, g_infiniteTime());
}

void FlowProfile::handleTemporalConstraintAdded(TransactionId predecessor, int, TransactionId successor, int) {
  debugMsg("FlowProfile:handleTemporalConstraintAdded", "TransactionId1 (" << predecessor
           << ") before TransactionId2 (" << successor << ")");
  temporalConstraintChanged(predecessor, successor);
}

void FlowProfile::handleTemporalConstraintRemoved(TransactionId predecessor, int, TransactionId successor, int) {
  debugMsg("FlowProfile:handleTemporalConstraintRemoved", "TransactionId1 (" << predecessor
           << ") before TransactionId2 (" << successor << ")");
  temporalConstraintChanged(predecessor, successor);
}

// An ordering added or removed between two transactions changes both levels
// over their windows. It may change other pairs' orderings too, through
// paths of any length: the cached ones are checked against the network's
// changes before the next pass, and each that moved widens the window;
// dropping them instead would leave the instants where they were pending
// unchecked.
void FlowProfile::temporalConstraintChanged(const TransactionId& predecessor, const TransactionId& successor) {
  check_error(predecessor.isValid());
  check_error(successor.isValid());
  int lb1 = -g_infiniteTime(), ub1 = g_infiniteTime(), lb2 = -g_infiniteTime(), ub2 = g_infiniteTime();
  timeBounds(predecessor, lb1, ub1);
  timeBounds(successor, lb2, ub2);
  mergeWindow(std::min(lb1, lb2), std::max(ub1, ub2));
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
}

}
}
