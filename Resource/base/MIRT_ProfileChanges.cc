#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_Instant.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/Constraint.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace MIRT {

// Changes that a profile takes in without a check of its own: a relaxed time, a new quantity,
// the two halves of a temporal constraint's report, and the base handlers, which recompute
// the whole profile next time.

void Profile::handleRelaxation(TransactionId e, int startTime, int endTime, std::vector<int>& emptyInstants) {
  debugMsg("Profile:handleTimeChanged", "Handling relaxation of transaction " << e << " at time "
           << e->time()->toString() << " with quantity " << e->quantity()->toString());
  // Relaxed from an emptied domain, or to a value, the domain need not cover
  // the window e was filed in: e leaves the instants outside it first.
  std::map<TransactionId, std::pair<int, int>>::const_iterator filed = m_filed.find(e);
  if (filed != m_filed.end() && (filed->second.first < startTime || filed->second.second > endTime)) {
    for (std::map<int, InstantId>::iterator it = m_instants.lower_bound(filed->second.first);
         it != m_instants.end() && it->first <= filed->second.second; ++it) {
      const InstantId& inst = it->second;
      if ((it->first >= startTime && it->first <= endTime) || !inst->holds(e))
        continue;
      inst->removeTransaction(e);
      if (inst->heldCount() == 0 || !inst->containsStartOrEnd())
        emptyInstants.push_back(it->first);
    }
  }

  ProfileIterator profIt(m_id, startTime, endTime);
  addInstantsForBounds(e);
  while (!profIt.done()) {
    InstantId inst = profIt.getInstant();
    // Only when every instant lies outside the window does the walk reach
    // one outside it; e has no place there.
    if (inst->getTime() >= startTime && inst->getTime() <= endTime) {
      if (!inst->holds(e))
        inst->addTransaction(e);
      else
        inst->updateTransaction(e);
      // Judged with e in it: an instant that a removal under way emptied may
      // be a bound of e's window now, and must stay.
      if (!inst->containsStartOrEnd())
        emptyInstants.push_back(inst->getTime());
    }
    profIt.next();
  }
}

void Profile::transactionQuantityChanged(TransactionId e, const DomainListener::ChangeType& change) {
  m_requantified.insert(e);
  ++m_changeCount;
  m_needsRecompute = true;
  handleTransactionQuantityChanged(e, change);
}

void Profile::purgeConstraintMessages(const Id<ConstrainedVariable>& var) {
  for (std::map<Id<Constraint>, ConstraintMessage>::iterator it = m_constraintsForNotification.begin();
       it != m_constraintsForNotification.end();) {
    if (it->second.var == var)
      m_constraintsForNotification.erase(it++);
    else
      ++it;
  }
}

void Profile::temporalConstraintAdded(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex) {
  handleConstraintMessage(c, var, argIndex, true);
}

void Profile::temporalConstraintRemoved(Id<Constraint> c, Id<ConstrainedVariable> var, int argIndex) {
  handleConstraintMessage(c, var, argIndex, false);
}

void Profile::installWholeInterval() {
  if (m_recomputeInterval.isValid())
    delete (ProfileIterator*) m_recomputeInterval;
  m_recomputeInterval = (new ProfileIterator(m_id, -g_infiniteTime(), g_infiniteTime()))->getId();
}

void Profile::handleTransactionAdded(TransactionId) {
  condDebugMsg(m_recomputeInterval.isValid(), "Profile:addTransaction",
               "Deleting profile iterator " << m_recomputeInterval);
  installWholeInterval();
}

void Profile::handleTransactionRemoved(TransactionId) {
  condDebugMsg(m_recomputeInterval.isValid(), "Profile:handleTransactionRemoved",
               "Deleting profile iterator " << m_recomputeInterval);
  installWholeInterval();
}

void Profile::handleTransactionTimeChanged(TransactionId, const DomainListener::ChangeType&) {
  condDebugMsg(m_recomputeInterval.isValid(), "Profile:handleTimeChanged",
               "Deleting profile iterator " << m_recomputeInterval);
  installWholeInterval();
}

void Profile::handleTransactionQuantityChanged(TransactionId, const DomainListener::ChangeType&) {
  condDebugMsg(m_recomputeInterval.isValid(), "Profile:transactionQuantityChanged",
               "Deleting profile iterator " << m_recomputeInterval);
  installWholeInterval();
}

void Profile::handleTemporalConstraintAdded(TransactionId, int, TransactionId, int) {
  installWholeInterval();
}

void Profile::handleTemporalConstraintRemoved(TransactionId, int, TransactionId, int) {
  installWholeInterval();
}

}
}
