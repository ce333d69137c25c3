#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/Limits.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Resource/base/MIRT_ResourceTokenRelation.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace MIRT {

// The resource's records of violated and flawed instants: what is kept of a reported
// violation, and how records are dropped when an instant is judged anew, deleted or its token leaves.

void Resource::relaxEmptiedQuantity() {
  if (!m_emptiedQuantity.isValid() || !m_emptiedQuantity->lastDomain().isEmpty())
    return;
  debugMsg("Resource:relaxEmptiedQuantity", "Relaxing " << m_emptiedQuantity->toString());
  const ConstrainedVariableId quantity = m_emptiedQuantity;
  m_emptiedQuantity = ConstrainedVariableId::noId();
  quantity->relax();
}

void Resource::recordReported(const InstantId& inst, ResourceProblem::Type problem,
                              const ConstrainedVariableId& emptied) {
  ReportedViolation record;
  record.emptied = emptied;
  record.time = inst->getTime();
  record.problem = problem;
  auto set = [&record](double limit, double lowerValue, double upperValue) {
    record.limit = limit;
    record.lowerValue = lowerValue;
    record.upperValue = upperValue;
  };
  switch (problem) {
  case ResourceProblem::LevelTooHigh:
    set(m_upperLimit, inst->getLowerLevel(), inst->getUpperLevel());
    record.allowedBack = remainingOf(m_maxConsumption, inst->getMinCumulativeConsumption());
    break;
  case ResourceProblem::LevelTooLow:
    set(m_lowerLimit, inst->getLowerLevel(), inst->getUpperLevel());
    record.allowedBack = remainingOf(m_maxProduction, inst->getMinCumulativeProduction());
    break;
  case ResourceProblem::ProductionRateExceeded:
    set(m_maxInstProduction, inst->getMinInstantProduction(), inst->getMaxInstantProduction());
    break;
  case ResourceProblem::ConsumptionRateExceeded:
    set(m_maxInstConsumption, inst->getMinInstantConsumption(), inst->getMaxInstantConsumption());
    break;
  case ResourceProblem::ProductionSumExceeded:
    set(m_maxProduction, inst->getMinCumulativeProduction(), inst->getMaxCumulativeProduction());
    break;
  case ResourceProblem::ConsumptionSumExceeded:
    set(m_maxConsumption, inst->getMinCumulativeConsumption(), inst->getMaxCumulativeConsumption());
    break;
  default:
    break;
  }
  std::set<TokenId> seen;
  for (const TransactionId& trans : inst->getTransactions()) {
    const bool onProblemSide = trans->isConsumer() ? isConsumptionProblem(problem) : isProductionProblem(problem);
    std::map<TransactionId, TokenId>::const_iterator tok = m_transactionsToTokens.find(trans);
    if (onProblemSide && tok != m_transactionsToTokens.end() && seen.insert(tok->second).second)
      record.tokens.push_back(tok->second);
  }
  m_reported = record;
}

void Resource::notifyNoLongerViolated(InstantId inst) {
  // Called in the middle of a profile's update, which cannot be undone: a debug line lost here is
  // recorded and reported at the end of the run rather than raised, and the records stay whole.
  DebugMessage::Teardown quiet;
  // Every token recorded at the instant, not only those whose transactions
  // are still there: a transaction may have moved away since.
  std::vector<TokenId> cleared;
  for (std::map<TokenId, std::set<InstantId>>::iterator it = m_violatedTokens.begin();
       it != m_violatedTokens.end(); ++it) {
    if (it->second.erase(inst) > 0 && it->second.empty())
      cleared.push_back(it->first);
  }
  for (std::vector<TokenId>::const_iterator it = cleared.begin(); it != cleared.end(); ++it) {
    m_violatedTokens.erase(*it);
    if (!it->isValid() || (*it)->isDeleted())
      continue;
    Id<ResourceTokenRelation> constraint = getRTRConstraint(*it);
    if (constraint->getViolation() > 0.0) {
      constraint->notifyNoLongerViolated();
      debugMsg("Resource:notifyNoLongerViolated", "Marked constraint as NoLongerViolated : Token("
               << (*it)->getKey() << ") Constraint " << constraint->toString());
    }
  }
}

void Resource::forgetViolations(const TokenId& tok) {
  std::map<TokenId, std::set<InstantId>>::iterator it = m_violatedTokens.find(tok);
  if (it == m_violatedTokens.end())
    return;
  m_violatedTokens.erase(it);
  if (!tok.isValid() || tok->isDeleted())
    return;
  Id<ResourceTokenRelation> constraint = getRTRConstraint(tok);
  if (constraint->getViolation() > 0.0)
    constraint->notifyNoLongerViolated();
}

void Resource::getFlawedInstants(std::vector<InstantId>& results) {
  for (std::map<int, InstantId>::const_iterator it = m_flawedInstants.begin(); it != m_flawedInstants.end(); ++it)
    results.push_back(it->second);
  debugMsg("Resource:getFlawedInstants", "Have " << m_flawedInstants.size() << " flawed instants.  Returning "
           << results.size() << ".");
}

void Resource::notifyDeleted(InstantId inst) {
  // Called in the middle of a profile's update, which cannot be undone: a debug line lost here is
  // recorded and reported at the end of the run rather than raised, and the records stay whole.
  DebugMessage::Teardown quiet;
  notifyNoLongerFlawed(inst);
  notifyNoLongerViolated(inst);
  debugMsg("Resource:notifyDeleted", "Removing (possibly) flawed instant at time " << inst->getTime());
  m_filedAt.erase(inst);
  ++m_recordDrops;
  std::map<int, InstantId>::iterator instIt = m_flawedInstants.find(inst->getTime());
  if (instIt != m_flawedInstants.end() && instIt->second == inst)
    m_flawedInstants.erase(instIt);
  std::map<InstantId, std::set<TokenId>>::iterator at = m_flawedTokensAt.find(inst);
  if (at == m_flawedTokensAt.end())
    return;
  for (std::set<TokenId>::const_iterator it = at->second.begin(); it != at->second.end(); ++it)
    m_flawedTokens[*it].erase(inst);
  m_flawedTokensAt.erase(at);
}

bool Resource::forgetFlaws(const TokenId& tok) {
  fileFlawRecords();
  std::map<TokenId, std::set<InstantId>>::iterator tokIt = m_flawedTokens.find(tok);
  if (tokIt == m_flawedTokens.end())
    return false;
  ++m_recordDrops;
  for (std::set<InstantId>::const_iterator it = tokIt->second.begin(); it != tokIt->second.end(); ++it) {
    // The token's transactions go; another may later be made at one of their addresses.
    m_filedAt.erase(*it);
    std::map<InstantId, std::set<TokenId>>::iterator at = m_flawedTokensAt.find(*it);
    if (at == m_flawedTokensAt.end())
      continue;
    at->second.erase(tok);
    if (at->second.empty())
      m_flawedTokensAt.erase(at);
  }
  m_flawedTokens.erase(tokIt);
  return true;
}

bool Resource::noFlawedTokensForInst(const InstantId& inst) const {
  std::map<InstantId, std::set<TokenId>>::const_iterator at = m_flawedTokensAt.find(inst);
  if (at == m_flawedTokensAt.end())
    return true;
  const TokenId& tok = *at->second.begin();
  debugMsg("Resource:noFlawedTokensForInst", "Found a flaw for instant " << inst->getTime() << " in token "
           << tok->getPredicateName().toString() << "(" << tok->getKey() << ")");
  return false;
}

void Resource::writeRecordedFlaw(const TransactionId& trans, const InstantId& inst) {
  fileFlawRecords();
  const TokenId tok = getTokenForTransaction(trans);
  std::map<TokenId, std::set<InstantId>>::const_iterator tokIt = m_flawedTokens.find(tok);
  std::map<InstantId, std::set<TokenId>>::const_iterator at = m_flawedTokensAt.find(inst);
  checkError(tokIt != m_flawedTokens.end() && tokIt->second.count(inst) > 0 && at != m_flawedTokensAt.end() &&
             at->second.count(tok) > 0,
             "Token " << tok->getKey() << " passed over as recorded at instant " << inst->getTime() << " is not.");
  writeRedundantFlaw(trans, inst);
}

}
}
