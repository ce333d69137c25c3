#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <set>
#include <vector>

namespace KORVAN {
namespace MIRT {

IncrementalFlowProfile::IncrementalFlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector,
                                               double initLevelLb, double initLevelUb)
  : FlowProfile(db, flawDetector, initLevelLb, initLevelUb), m_unaskedInnerChanges(0),
    m_quiet{false, TransactionId::noId(), 0, 0, 0, 0, 0}, m_quietPass(false) {
  debugMsg("IncrementalFlowProfile:IncrementalFlowProfile", "Initial level [" << initLevelLb << ","
           << initLevelUb << "]");
}

IncrementalFlowProfile::~IncrementalFlowProfile() {}

unsigned long long& IncrementalFlowProfile::partnersWalked() {
  static unsigned long long sl_read = 0;
  return sl_read;
}

unsigned long long& IncrementalFlowProfile::quietPasses() {
  static unsigned long long sl_passes = 0;
  return sl_passes;
}

unsigned long long& IncrementalFlowProfile::transactionsPassed() {
  static unsigned long long sl_passes = 0;
  return sl_passes;
}

bool& IncrementalFlowProfile::quietMovesAllowed() {
  static bool sl_allowed = true;
  return sl_allowed;
}

bool IncrementalFlowProfile::countsNothing(const TransactionId& t) {
  if (!quietMovesAllowed() || !DebugMessage::noneEnabled() ||
      m_planDatabase->getConstraintEngine()->provenInconsistent())
    return false;
  // Zero terms leave every sum as it was, bit for bit, unless a sum is -0: none is when the
  // initial levels are not.
  if ((m_initLevelLb == 0.0 && std::signbit(m_initLevelLb)) || (m_initLevelUb == 0.0 && std::signbit(m_initLevelUb)))
    return false;
  const AbstractDomain& time = t->time()->lastDomain();
  const AbstractDomain& quantity = t->quantity()->lastDomain();
  if (time.isEmpty() || quantity.isEmpty() || quantity.getLowerBound() != 0.0 || quantity.getUpperBound() != 0.0)
    return false;
  TemporalPropagator* temporal = temporalPropagator();
  return temporal != 0 && orderedByBoundsAlone(temporal, t);
}

void IncrementalFlowProfile::handleTransactionTimeChanged(TransactionId t, const DomainListener::ChangeType& type) {
  // Alone: the last pass finished and nothing changed since.
  const bool alone = !m_recomputeInterval.isValid() && !m_quiet.pending;
  const std::unordered_map<TransactionId, std::pair<int, int>, TransactionIdHash>::const_iterator was =
    m_previousTimeBounds.find(t);
  const bool filed = was != m_previousTimeBounds.end();
  const std::pair<int, int> old = filed ? was->second : std::make_pair(0, 0);
  FlowProfile::handleTransactionTimeChanged(t, type);
  m_quiet.pending = alone && filed && countsNothing(t);
  if (!m_quiet.pending)
    return;
  const AbstractDomain& time = t->time()->lastDomain();
  m_quiet.transaction = t;
  m_quiet.oldLb = old.first;
  m_quiet.oldUb = old.second;
  m_quiet.newLb = (int) time.getLowerBound();
  m_quiet.newUb = (int) time.getUpperBound();
  m_quiet.changeCount = getChangeCount();
}

bool IncrementalFlowProfile::startQuietPass() {
  // The engine and the network are as the pass finds them now: an edge that came to the moved
  // time since, or any other change, makes the pass a whole one.
  const bool quiet = m_quiet.pending && m_quiet.changeCount == getChangeCount() && countsNothing(m_quiet.transaction);
  m_quiet.pending = false;
  m_quietPass = quiet;
  if (quiet)
    ++quietPasses();
  return quiet;
}

void IncrementalFlowProfile::recomputeQuietly(const InstantId& inst, double lowerLevel, double upperLevel) {
  const TransactionId& t = m_quiet.transaction;
  const int time = inst->getTime();
  const std::set<TransactionId>& starting = inst->getStartingTransactions();
  const std::set<TransactionId>& ending = inst->getEndingTransactions();
  const bool othersMark = starting.size() > starting.count(t) || ending.size() > ending.count(t);
  if (time == m_quiet.newLb) {
    // Where a pass opens it, or closes it at once when its time is a single value.
    m_lowerLevelContribution[t] = inst;
    m_upperLevelContribution[t] = inst;
    if (m_quiet.newLb != m_quiet.newUb)
      m_unasked.insert(t);
  }
  if (othersMark) {
    // Levels and sums stand: t's terms are zeros. Its own counts move by what its bounds did.
    const bool consumer = t->isConsumer();
    const std::size_t byThen = inst->getChangesByThen(consumer) + (m_quiet.newLb <= time) - (m_quiet.oldLb <= time);
    const std::size_t prev = inst->getPrevChanges(consumer) + (m_quiet.newUb < time) - (m_quiet.oldUb < time);
    inst->setChangeCounts(consumer ? prev : inst->getPrevChanges(true), consumer ? inst->getPrevChanges(false) : prev,
                          consumer ? byThen : inst->getChangesByThen(true),
                          consumer ? inst->getChangesByThen(false) : byThen);
  }
  else if (!carryTotals(inst, lowerLevel, upperLevel)) {
    transactionsPassed() += inst->heldCount();
    updateWithTotals(inst, lowerLevel, upperLevel);
  }
  noteComputed(inst);
}

bool IncrementalFlowProfile::carryTotals(const InstantId& inst, double lowerLevel, double upperLevel) {
  // Nothing but t starts or ends here. The next instant, where others start or end, stood before
  // the move and stands after it: what ended before it ended before this one, but for t's zeros,
  // and what it holds is what this one holds, but for t and those starting there. When those
  // are few and all zeros, its sums are this one's, bit for bit, with the same terms in the same
  // order.
  static const std::size_t FEW = 64;
  const TransactionId& t = m_quiet.transaction;
  const int time = inst->getTime();
  std::map<int, InstantId>::const_iterator at = m_instants.find(time);
  if (at == m_instants.end() || ++at == m_instants.end())
    return false;
  const InstantId& next = at->second;
  const int nextTime = at->first;
  const std::set<TransactionId>& entering = next->getStartingTransactions();
  const std::set<TransactionId>& leaving = next->getEndingTransactions();
  if (entering.size() <= entering.count(t) && leaving.size() <= leaving.count(t))
    return false;
  if (entering.size() > FEW)
    return false;
  for (const TransactionId& other : entering) {
    const AbstractDomain& q = other->quantity()->lastDomain();
    if (q.isEmpty() || q.getLowerBound() != 0.0 || q.getUpperBound() != 0.0)
      return false;
  }
  const bool consumer = t->isConsumer();
  // Changes ended before the next instant, now: t's own moved by what its end did.
  std::size_t prev[2] = {next->getPrevChanges(true), next->getPrevChanges(false)};
  prev[consumer ? 0 : 1] += (std::size_t) ((m_quiet.newUb < nextTime) - (m_quiet.oldUb < nextTime));
  // Of those, t alone may end here.
  if (m_quiet.newUb == time)
    --prev[consumer ? 0 : 1];
  // Changes that may have happened by then: those by the instant before, and t if it starts here.
  std::size_t byThen[2] = {0, 0};
  if (at != m_instants.begin()) {
    std::map<int, InstantId>::const_iterator before = at;
    --before;
    if (before != m_instants.begin()) {
      --before;
      byThen[0] = before->second->getChangesByThen(true);
      byThen[1] = before->second->getChangesByThen(false);
    }
  }
  if (m_quiet.newLb == time)
    ++byThen[consumer ? 0 : 1];
  const double minInst = 0.0;
  inst->update(lowerLevel, lowerLevel, upperLevel, upperLevel, minInst, next->getMaxInstantConsumption(), minInst,
               next->getMaxInstantProduction(), next->getMinPrevConsumption(),
               next->getMaxPrevConsumption() + next->getMaxInstantConsumption(), next->getMinPrevProduction(),
               next->getMaxPrevProduction() + next->getMaxInstantProduction(), next->getMinPrevConsumption(),
               next->getMaxPrevConsumption(), next->getMinPrevProduction(), next->getMaxPrevProduction());
  inst->setChangeCounts(prev[0], prev[1], byThen[0], byThen[1]);
  return true;
}

bool IncrementalFlowProfile::orderedByBoundsAlone(TemporalPropagator* temporal, const TransactionId& t) const {
  if (temporal == 0)
    return false;
  // A time no temporal constraint reaches is not a point of the network.
  const int node = temporal->getTimepoint(t->time());
  if (node >= 0 && temporal->getNetwork().hasInnerEdges(node))
    return false;
  // The two ends of an interval are ordered by their token.
  const EntityId& parent = t->time()->parent();
  return Id<Token>::convertable(parent) && TokenId(parent)->start() == TokenId(parent)->end();
}

void IncrementalFlowProfile::noteOutsideChanges() {
  FlowProfile::noteOutsideChanges();
  if (m_unasked.empty() || m_planDatabase->getConstraintEngine()->provenInconsistent())
    return;
  TemporalPropagator* temporal = temporalPropagator();
  if (temporal == 0)
    return;
  temporal->sync();
  const TemporalNetwork& network = temporal->getNetwork();
  if (network.getInnerChanges() == m_unaskedInnerChanges || !network.isConsistent())
    return;
  m_unaskedInnerChanges = network.getInnerChanges();
  bool joined = false;
  for (auto it = m_unasked.begin(); it != m_unasked.end();) {
    if (orderedByBoundsAlone(temporal, *it)) {
      ++it;
      continue;
    }
    joined = true;
    m_unasked.erase(it++);
  }
  if (!joined || m_instants.empty())
    return;
  // Which partners the new edges order it with is not known: all count again.
  noteChange();
  m_recalculateLowerLevel = true;
  m_recalculateUpperLevel = true;
  mergeWindow(m_instants.begin()->first, m_instants.rbegin()->first);
}

void IncrementalFlowProfile::handleTransactionRemoved(TransactionId t) {
  m_unasked.erase(t);
  FlowProfile::handleTransactionRemoved(t);
}

void IncrementalFlowProfile::initRecompute() {
  check_error(m_recomputeInterval.isValid(),
              "Attempted to initialize recomputation without a valid starting point!");
  debugMsg("IncrementalFlowProfile::initRecompute", "");
  startPass(m_instants.begin()->first);
  m_lowerClosedLevel = m_initLevelLb;
  m_upperClosedLevel = m_initLevelUb;
  if (!startQuietPass())
    initializeGraphs();
}

void IncrementalFlowProfile::initRecompute(InstantId inst) {
  check_error(inst.isValid());
  debugMsg("IncrementalFlowProfile::initRecompute", "For instant (" << inst << ")");
  const int T = inst->getTime();
  startPass(T);
  std::map<int, InstantId>::iterator p = getGreatestInstant(T - 1);
  if (p != m_instants.end()) {
    debugMsg("IncrementalFlowProfile::initRecompute", "For instant (" << inst
             << ") getting initial levels from instant (" << p->second << ")");
    m_lowerClosedLevel = p->second->getLowerLevel();
    m_upperClosedLevel = p->second->getUpperLevel();
  }
  else {
    m_lowerClosedLevel = m_initLevelLb;
    m_upperClosedLevel = m_initLevelUb;
  }
  if (startQuietPass()) {
    recomputeQuietly(inst, m_lowerClosedLevel, m_upperClosedLevel);
    return;
  }
  initializeGraphs();

  // Transactions recorded before T are already in the starting bounds.
  std::set<TransactionId> lowerEnabled, upperEnabled;
  for (const TransactionId& t : heldAt(inst)) {
    InstantId recorded;
    if (!(getEarliestLowerLevelInstant(t, recorded) && recorded->getTime() < T)) {
      m_lowerLevelGraph->enableTransaction(t, inst, m_lowerLevelContribution, numberOf(t));
      lowerEnabled.insert(t);
    }
    if (!(getEarliestUpperLevelInstant(t, recorded) && recorded->getTime() < T)) {
      m_upperLevelGraph->enableTransaction(t, inst, m_upperLevelContribution, numberOf(t));
      upperEnabled.insert(t);
    }
  }
  orderAmong(m_lowerLevelGraph, lowerEnabled);
  orderAmong(m_upperLevelGraph, upperEnabled);
  recomputeLevels(inst, m_lowerClosedLevel, m_upperClosedLevel);
}

void IncrementalFlowProfile::orderAmong(FlowProfileGraph* graph, const std::set<TransactionId>& enabled) {
  // Every pair is asked, each once and first to last; then each
  // transaction in turn is joined to the nearest of those before it.
  m_enabledScratch.assign(enabled.begin(), enabled.end());
  const std::size_t n = m_enabledScratch.size();
  m_pairOrders.assign(n * n, NOT_ORDERED);
  m_enabledNumbers.clear();
  for (std::size_t i = 0; i < n; ++i)
    m_enabledNumbers.push_back(numberOf(m_enabledScratch[i]));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      m_pairOrders[i * n + j] =
        lookupOrdering(m_enabledScratch[i], m_enabledScratch[j], m_enabledNumbers[i], m_enabledNumbers[j]);
  // The unordered pairs are listed apart from the path, which they leave as it is.
  static DebugMessage* sl_unordered =
    DebugMessage::addMsg(__FILE__, __LINE__, "IncrementalFlowProfile:enableOrderings");
  if (sl_unordered->isEnabled())
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j)
        condDebugMsg(relationTo(m_pairOrders[i * n + j]) == 0, "IncrementalFlowProfile:enableOrderings",
                     "Transaction (" << m_enabledScratch[i]->getId() << ") and Transaction ("
                     << m_enabledScratch[j]->getId() << ") not constrained");
  for (std::size_t j = 1; j < n; ++j) {
    const TransactionId& t2 = m_enabledScratch[j];
    m_ordered.clear();
    m_orderedOrder.clear();
    m_orderedRelation.clear();
    for (std::size_t i = 0; i < j; ++i) {
      const Order order = m_pairOrders[i * n + j];
      // How the earlier one stands to t2: the order as asked, from t2's side.
      const unsigned char relation = relationTo(order);
      if (relation == 0)
        continue;
      m_ordered.push_back(m_enabledScratch[i]);
      m_orderedOrder.push_back(order);
      m_orderedRelation.push_back((unsigned char) (((relation & FlowProfileGraph::AT_OR_BEFORE) != 0 ?
                                                    FlowProfileGraph::AT_OR_AFTER : 0) |
                                                   ((relation & FlowProfileGraph::AT_OR_AFTER) != 0 ?
                                                    FlowProfileGraph::AT_OR_BEFORE : 0)));
    }
    if (m_ordered.empty())
      continue;
    graph->selectNearest(t2, m_ordered, m_orderedRelation, m_lowerNeeded);
    for (std::size_t k = 0; k < m_ordered.size(); ++k)
      if (m_lowerNeeded[k])
        applyOrdering(graph, m_orderedOrder[k], numberOf(m_ordered[k]), numberOf(t2));
  }
}

void IncrementalFlowProfile::enableNearest(const TransactionId& t) {
  const int number = numberOf(t);
  for (int side = 0; side < 2; ++side) {
    const bool lower = side == 0;
    const std::vector<char>& candidates = lower ? m_lowerCandidate : m_upperCandidate;
    if (std::find(candidates.begin(), candidates.end(), (char) 1) == candidates.end())
      continue;
    FlowProfileGraph* graph = lower ? m_lowerLevelGraph : m_upperLevelGraph;
    std::vector<char>& needed = lower ? m_lowerNeeded : m_upperNeeded;
    selectNearest(graph, t, &candidates, needed);
    for (std::size_t k = 0; k < m_ordered.size(); ++k)
      if (needed[k])
        applyOrdering(graph, m_orderedOrder[k], number, m_orderedNumbers[k]);
  }
}

void IncrementalFlowProfile::recomputeLevels(InstantId prev, InstantId inst) {
  check_error(prev.isValid() || InstantId::noId() == prev);
  check_error(inst.isValid());
  debugMsg("IncrementalFlowProfile::recomputeLevels", "Previous instant (" << prev << ") and current instant ("
           << inst << ")");
  const double lowerLevel = prev == InstantId::noId() ? m_lowerClosedLevel : prev->getLowerLevel();
  const double upperLevel = prev == InstantId::noId() ? m_upperClosedLevel : prev->getUpperLevel();
  recomputeLevels(inst, lowerLevel, upperLevel);
}

void IncrementalFlowProfile::applyOrdering(FlowProfileGraph* graph, Order order, int n1, int n2) {
  switch (order) {
  case STRICTLY_AT:
    graph->enableAt(n1, n2);
    break;
  case BEFORE_OR_AT:
    graph->enableAtOrBefore(n1, n2);
    break;
  case AFTER_OR_AT:
    graph->enableAtOrBefore(n2, n1);
    break;
  default:
    break;
  }
}

bool IncrementalFlowProfile::enableOrderings(const InstantId& inst) {
  debugMsg("IncrementalFlowProfile:enableOrderings", "Instant Id (" << inst << ")");
  static DebugMessage* const sl_pairLines =
    DebugMessage::addMsg(__FILE__, __LINE__, "IncrementalFlowProfile:enableOrderings");
  static DebugMessage* const sl_distanceLines =
    DebugMessage::addMsg(__FILE__, __LINE__, "TemporalAdvisor:getTemporalDistanceDomain");
  const double T = (double) inst->getTime();
  TemporalPropagator* temporal = temporalPropagator();
  const bool unaskedAllowed = temporal != 0 && !sl_pairLines->isEnabled() && !sl_distanceLines->isEnabled() &&
    !m_planDatabase->getConstraintEngine()->provenInconsistent();
  bool result = false;
  bool partnersRead = false;
  const std::set<TransactionId>& starting = inst->getStartingTransactions();
  for (std::set<TransactionId>::const_iterator it1 = starting.begin(); it1 != starting.end(); ++it1) {
    const TransactionId& t1 = *it1;
    if (t1->time()->lastDomain().isSingleton())
      continue;
    enableTransaction(t1, inst);
    result = true;
    if (!m_recalculateLowerLevel && !m_recalculateUpperLevel)
      continue;
    // A pair asked only to be found unordered: not asked, unless its lines are wanted.
    if (unaskedAllowed && orderedByBoundsAlone(temporal, t1)) {
      m_unasked.insert(t1);
      continue;
    }
    // Nothing here changes a time domain, so the instant's transactions are
    // read once for all its starting ones.
    if (!partnersRead) {
      readPartners(inst, T);
      partnersRead = true;
    }
    partnersWalked() += m_partners.size();
    const int number1 = numberOf(t1);
    m_ordered.clear();
    m_orderedNumbers.clear();
    m_orderedOrder.clear();
    m_orderedRelation.clear();
    m_orderedBounds.clear();
    m_lowerCandidate.clear();
    m_upperCandidate.clear();
    for (std::vector<Partner>::const_iterator it2 = m_partners.begin(); it2 != m_partners.end(); ++it2) {
      const TransactionId& t2 = it2->transaction;
      if (t2 == t1)
        continue;
      // A partner that starts later than T must already be open in the network.
      const bool lower = m_recalculateLowerLevel && (it2->startsHere || it2->lowerOpen);
      const bool upper = m_recalculateUpperLevel && (it2->startsHere || it2->upperOpen);
      if (!lower && !upper)
        continue;
      const Order order = lookupOrdering(t1, t2, number1, it2->number);
      const unsigned char relation = relationTo(order);
      if (relation == 0) {
        // Once for each network that takes the pair.
        condDebugMsg(lower, "IncrementalFlowProfile:enableOrderings",
                     "Transaction (" << t1->getId() << ") and Transaction (" << t2->getId() << ") not constrained");
        condDebugMsg(upper, "IncrementalFlowProfile:enableOrderings",
                     "Transaction (" << t1->getId() << ") and Transaction (" << t2->getId() << ") not constrained");
        continue;
      }
      m_ordered.push_back(t2);
      m_orderedNumbers.push_back(it2->number);
      m_orderedOrder.push_back(order);
      m_orderedRelation.push_back(relation);
      m_orderedBounds.push_back(std::make_pair(it2->lb, it2->ub));
      m_lowerCandidate.push_back(lower);
      m_upperCandidate.push_back(upper);
    }
    sortOrdered();
    enableNearest(t1);
  }
  return result;
}

void IncrementalFlowProfile::readPartners(const InstantId& inst, double T) {
  // Partners of a transaction starting at T: the instant's transactions
  // whose time is not a single value and does not end at T; one that
  // started earlier counts only where it is still open. So only the
  // starting ones and those open in a network recomputed here are read,
  // merged in the instant's order (that of the networks' nodes as well).
  m_partners.clear();
  const std::set<TransactionId>& starting = inst->getStartingTransactions();
  static const std::vector<Node*> none;
  const std::vector<Node*>& lowerNodes = m_recalculateLowerLevel ? m_lowerLevelGraph->getGraph().nodesInOrder() : none;
  const std::vector<Node*>& upperNodes = m_recalculateUpperLevel ? m_upperLevelGraph->getGraph().nodesInOrder() : none;
  std::set<TransactionId>::const_iterator s = starting.begin();
  std::vector<Node*>::const_iterator l = lowerNodes.begin(), u = upperNodes.begin();
  while (s != starting.end() || l != lowerNodes.end() || u != upperNodes.end()) {
    TransactionId t;
    if (s != starting.end())
      t = *s;
    if (l != lowerNodes.end() && (t == TransactionId::noId() || (*l)->getIdentity() < t))
      t = (*l)->getIdentity();
    if (u != upperNodes.end() && (t == TransactionId::noId() || (*u)->getIdentity() < t))
      t = (*u)->getIdentity();
    const bool startsHere = s != starting.end() && *s == t;
    const bool atLower = l != lowerNodes.end() && (*l)->getIdentity() == t;
    const bool atUpper = u != upperNodes.end() && (*u)->getIdentity() == t;
    const bool lowerOpen = atLower && (*l)->isEnabled();
    const bool upperOpen = atUpper && (*u)->isEnabled();
    int number = -1;
    if (atLower)
      number = (*l)->getNumber();
    if (number < 0 && atUpper)
      number = (*u)->getNumber();
    if (startsHere)
      ++s;
    if (atLower)
      ++l;
    if (atUpper)
      ++u;
    if (t == m_dummySourceTransaction || t == m_dummySinkTransaction)
      continue;
    const AbstractDomain& time = t->time()->lastDomain();
    if (time.isSingleton() || time.getUpperBound() == T)
      continue;
    if (number < 0)
      number = numberOf(t);
    m_partners.push_back(Partner{t, number, startsHere, lowerOpen, upperOpen, time.getLowerBound(),
                                 time.getUpperBound()});
  }
}

bool IncrementalFlowProfile::contract(FlowProfileGraph* graph, ContributionMap& contributions,
                                      const TransactionId& ended, const InstantId& inst, bool lower,
                                      double& level) {
  bool wasOpen = false;
  bool enteredClosedSet = false;
  if (graph->isEnabled(ended)) {
    if (lower)
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Contracting from lower graph transaction (" << ended
               << ") " << ended->time()->toString() << " " << ended->quantity()->toString());
    else
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Contracting from upper graph transaction (" << ended
               << ") " << ended->time()->toString() << " " << ended->quantity()->toString());
    enteredClosedSet = true;
    wasOpen = true;
    graph->pushFlow(ended);
    graph->disable(ended);
    // Closed for good: out of every later run of this pass, which would
    // otherwise go over all the pass has closed so far at each instant.
    graph->bypass(ended);
    graph->removeTransaction(ended);
  }
  else if (ended->time()->lastDomain().isSingleton() && !graph->wasTakenOut(ended)) {
    // Never opened. One that a walk took out was opened by a pass starting
    // at this very instant and is already counted.
    debugMsg("IncrementalFlowProfile::recomputeLevels", "Transaction (" << ended
             << ") straight from open to closed set");
    enteredClosedSet = true;
  }
  if (!enteredClosedSet)
    return false;

  if (lower)
    debugMsg("IncrementalFlowProfile:recomputeLevels", "Transaction " << ended << " starts contributing at "
             << inst->getTime() << " lower level true");
  else
    debugMsg("IncrementalFlowProfile:recomputeLevels", "Transaction " << ended << " starts contributing at "
             << inst->getTime() << " lower level false");
  contributions[ended] = inst;
  const double delta = contributionOf(ended).toBound(lower);
  level += delta;
  // The sign follows the kind of transaction, whatever the quantity's sign.
  const bool increases = !ended->isConsumer();
  if (lower && increases)
    debugMsg("IncrementalFlowProfile::recomputeLevels", "Transaction (" << ended << ") increases lower level by "
             << delta << " (new level " << level << ")");
  else if (lower)
    debugMsg("IncrementalFlowProfile::recomputeLevels", "Transaction (" << ended << ") decreases lower level by "
             << -delta << " (new level " << level << ")");
  else if (increases)
    debugMsg("IncrementalFlowProfile::recomputeLevels", "Transaction (" << ended << ") increases upper level by "
             << delta << " (new level " << level << ")");
  else
    debugMsg("IncrementalFlowProfile::recomputeLevels", "Transaction (" << ended << ") decreases upper level by "
             << -delta << " (new level " << level << ")");
  return wasOpen;
}

void IncrementalFlowProfile::recomputeLevels(InstantId inst, double lowerLevel, double upperLevel) {
  if (m_quietPass) {
    recomputeQuietly(inst, lowerLevel, upperLevel);
    return;
  }
  debugMsg("IncrementalFlowProfile::recomputeLevels", "Instant (" << inst << ") at time " << inst->getTime()
           << " start levels [" << lowerLevel << "," << upperLevel << "]");
  transactionsPassed() += inst->getStartingTransactions().size() + inst->getEndingTransactions().size() + inst->heldCount();
  const bool expansion = enableOrderings(inst);
  if (expansion) {
    if (m_recalculateLowerLevel) {
      const double delta = m_lowerLevelGraph->disableReachableResidualGraph(m_lowerLevelContribution, inst);
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Expansion leads to delta lower level of " << delta);
      lowerLevel += delta;
    }
    if (m_recalculateUpperLevel) {
      const double delta = m_upperLevelGraph->disableReachableResidualGraph(m_upperLevelContribution, inst);
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Expansion leads to delta upper level of " << delta);
      upperLevel += delta;
    }
  }

  // Contraction.
  bool contraction = false;
  const std::set<TransactionId>& endingTransactions = inst->getEndingTransactions();
  for (std::set<TransactionId>::const_iterator it = endingTransactions.begin(); it != endingTransactions.end(); ++it) {
    if (m_recalculateLowerLevel &&
        contract(m_lowerLevelGraph, m_lowerLevelContribution, *it, inst, true, lowerLevel))
      contraction = true;
    if (m_recalculateUpperLevel &&
        contract(m_upperLevelGraph, m_upperLevelContribution, *it, inst, false, upperLevel))
      contraction = true;
  }

  if (contraction) {
    if (m_recalculateLowerLevel) {
      m_lowerLevelGraph->restoreFlow();
      const double delta = m_lowerLevelGraph->disableReachableResidualGraph(m_lowerLevelContribution, inst);
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Contraction leads to delta lower level of " << delta);
      lowerLevel += delta;
    }
    if (m_recalculateUpperLevel) {
      m_upperLevelGraph->restoreFlow();
      const double delta = m_upperLevelGraph->disableReachableResidualGraph(m_upperLevelContribution, inst);
      debugMsg("IncrementalFlowProfile::recomputeLevels", "Contraction leads to delta upper level of " << delta);
      upperLevel += delta;
    }
  }

  // A level left alone by this pass keeps what the instant holds.
  if (!m_recalculateLowerLevel)
    lowerLevel = inst->getLowerLevel();
  if (!m_recalculateUpperLevel)
    upperLevel = inst->getUpperLevel();
  debugMsg("IncrementalFlowProfile::recomputeLevels", "Computed levels for instance at time " << inst->getTime()
           << "[" << lowerLevel << "," << upperLevel << "]");
  debugMsg("IncrementalFlowProfile::calculatedLevels", "Computed levels for instance at time " << inst->getTime()
           << "[" << lowerLevel << "," << upperLevel << "]");
  updateWithTotals(inst, lowerLevel, upperLevel);
  noteComputed(inst);
}

}
}
