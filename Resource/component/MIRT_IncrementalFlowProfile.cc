#include "Resource/component/MIRT_IncrementalFlowProfile.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <set>
#include <vector>

namespace KORVAN {
namespace MIRT {

IncrementalFlowProfile::IncrementalFlowProfile(Id<PlanDatabase> db, Id<FVDetector> flawDetector,
                                               double initLevelLb, double initLevelUb)
  : FlowProfile(db, flawDetector, initLevelLb, initLevelUb) {
  debugMsg("IncrementalFlowProfile:IncrementalFlowProfile", "Initial level [" << initLevelLb << ","
           << initLevelUb << "]");
}

IncrementalFlowProfile::~IncrementalFlowProfile() {}

void IncrementalFlowProfile::initRecompute() {
  check_error(m_recomputeInterval.isValid(),
              "Attempted to initialize recomputation without a valid starting point!");
  debugMsg("IncrementalFlowProfile::initRecompute", "");
  startPass(m_instants.begin()->first);
  initializeGraphs();
  m_lowerClosedLevel = m_initLevelLb;
  m_upperClosedLevel = m_initLevelUb;
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
  initializeGraphs();

  // Transactions recorded before T are already in the starting bounds.
  std::set<TransactionId> lowerEnabled, upperEnabled;
  const std::set<TransactionId>& transactions = inst->getTransactions();
  for (std::set<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
    const TransactionId& t = *it;
    InstantId recorded;
    if (!(getEarliestLowerLevelInstant(t, recorded) && recorded->getTime() < T)) {
      m_lowerLevelGraph->enableTransaction(t, inst, m_lowerLevelContribution);
      lowerEnabled.insert(t);
    }
    if (!(getEarliestUpperLevelInstant(t, recorded) && recorded->getTime() < T)) {
      m_upperLevelGraph->enableTransaction(t, inst, m_upperLevelContribution);
      upperEnabled.insert(t);
    }
  }
  for (std::set<TransactionId>::const_iterator it1 = lowerEnabled.begin(); it1 != lowerEnabled.end(); ++it1) {
    std::set<TransactionId>::const_iterator it2 = it1;
    for (++it2; it2 != lowerEnabled.end(); ++it2)
      applyOrdering(m_lowerLevelGraph, lookupOrdering(*it1, *it2), *it1, *it2);
  }
  for (std::set<TransactionId>::const_iterator it1 = upperEnabled.begin(); it1 != upperEnabled.end(); ++it1) {
    std::set<TransactionId>::const_iterator it2 = it1;
    for (++it2; it2 != upperEnabled.end(); ++it2)
      applyOrdering(m_upperLevelGraph, lookupOrdering(*it1, *it2), *it1, *it2);
  }
  recomputeLevels(inst, m_lowerClosedLevel, m_upperClosedLevel);
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

void IncrementalFlowProfile::applyOrdering(FlowProfileGraph* graph, Order order, const TransactionId& t1,
                                           const TransactionId& t2) {
  switch (order) {
  case STRICTLY_AT:
    graph->enableAt(t1, t2);
    break;
  case BEFORE_OR_AT:
    graph->enableAtOrBefore(t1, t2);
    break;
  case AFTER_OR_AT:
    graph->enableAtOrBefore(t2, t1);
    break;
  default:
    break;
  }
}

bool IncrementalFlowProfile::enableOrderings(const InstantId& inst) {
  debugMsg("IncrementalFlowProfile:enableOrderings", "Instant Id (" << inst << ")");
  const double T = (double) inst->getTime();
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
    // Nothing here changes a time domain, so the instant's transactions are
    // read once for all its starting ones.
    if (!partnersRead) {
      readPartners(inst, T);
      partnersRead = true;
    }
    for (std::vector<Partner>::const_iterator it2 = m_partners.begin(); it2 != m_partners.end(); ++it2) {
      const TransactionId& t2 = it2->transaction;
      if (t2 == t1)
        continue;
      // A partner that starts later than T must already be open in the network.
      const bool lower = m_recalculateLowerLevel && (it2->startsHere || m_lowerLevelGraph->isEnabled(t2));
      const bool upper = m_recalculateUpperLevel && (it2->startsHere || m_upperLevelGraph->isEnabled(t2));
      if (!lower && !upper)
        continue;
      const Order order = lookupOrdering(t1, t2);
      condDebugMsg(order == NOT_ORDERED || order == UNKNOWN,
                   "IncrementalFlowProfile:enableOrderings",
                   "Transaction (" << t1->getId() << ") and Transaction (" << t2->getId() << ") not constrained");
      if (lower)
        applyOrdering(m_lowerLevelGraph, order, t1, t2);
      if (upper)
        applyOrdering(m_upperLevelGraph, order, t1, t2);
    }
  }
  return result;
}

void IncrementalFlowProfile::readPartners(const InstantId& inst, double T) {
  // Partners of a transaction starting at T: the instant's transactions
  // whose time is not a single value and does not end at T.
  m_partners.clear();
  const std::set<TransactionId>& transactions = inst->getTransactions();
  for (std::set<TransactionId>::const_iterator it = transactions.begin(); it != transactions.end(); ++it) {
    const AbstractDomain& time = (*it)->time()->lastDomain();
    if (time.isSingleton() || time.getUpperBound() == T)
      continue;
    m_partners.push_back(Partner{*it, time.getLowerBound() == T});
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
  debugMsg("IncrementalFlowProfile::recomputeLevels", "Instant (" << inst << ") at time " << inst->getTime()
           << " start levels [" << lowerLevel << "," << upperLevel << "]");
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
