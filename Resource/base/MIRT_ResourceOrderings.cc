#include "Resource/base/MIRT_Resource.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/IntervalIntDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "TemporalNetwork/TemporalAdvisor.hh"
#include "TemporalNetwork/TemporalPropagator.hh"
#include "Utils/base/Debug.hh"

#include <algorithm>

namespace KORVAN {
namespace MIRT {

// The ordering-choice steps that raise nothing of their own: reading the candidates, choosing
// the rows of the distance matrix to read, the precedence test and the client's and tokens' forms;
// and the listing of every candidate that writes the look-up's lines.

void Resource::readChoiceCandidates(const std::set<TransactionId>& transactions, TemporalPropagator* temporal,
                                    bool rows, ChoiceSides* sides, std::vector<ChoiceCandidate>& candidates,
                                    std::vector<int>& atCandidate) {
  candidates.reserve(m_transactionsToTokens.size());
  atCandidate.reserve(transactions.size());
  std::set<TransactionId>::const_iterator at = transactions.begin();
  for (std::map<TransactionId, TokenId>::const_iterator it = m_transactionsToTokens.begin();
       it != m_transactionsToTokens.end(); ++it) {
    ChoiceCandidate c;
    c.t = it->first;
    c.domain = 0;
    c.lb = c.ub = 0.0;
    c.interval = false;
    c.node = -1;
    c.precede = c.follow = true;
    while (at != transactions.end() && *at < c.t) {
      atCandidate.push_back(-1);
      ++at;
    }
    c.atInstant = at != transactions.end() && !(c.t < *at);
    if (c.atInstant) {
      atCandidate.push_back((int) candidates.size());
      ++at;
    }
    // An invalid handle is reported when the walk reaches it, as the full walk does.
    if (c.t.isValid()) {
      c.time = c.t->time();
      c.domain = &c.time->lastDomain();
      c.interval = c.domain->isInterval() && !c.domain->isEmpty();
      c.lb = c.domain->getLowerBound();
      c.ub = c.domain->getUpperBound();
      c.node = rows ? temporal->getTimepoint(c.time) : -1;
      if (sides != nullptr)
        sides->sides(c.t, c.precede, c.follow);
    }
    candidates.push_back(c);
  }
  atCandidate.resize(transactions.size(), -1);
}

int Resource::coverEnd(const std::vector<ChoiceCandidate>& candidates, int cover, const ChoiceCouple& k) {
  const int other = candidates[k.c].node;
  if (cover == 0 || (k.forward && k.backward))
    return k.pNode;
  return (cover == 1) == k.forward ? k.pNode : other;
}

int Resource::rowsByFewest(const std::vector<ChoiceCandidate>& candidates, const std::vector<ChoiceCouple>& waiting,
                           std::vector<std::size_t>& bySource) {
  int nodes = 0;
  for (const ChoiceCouple& k : waiting)
    nodes = std::max(nodes, std::max(k.pNode, candidates[k.c].node) + 1);
  std::vector<char> seen(nodes);
  int best = 0;
  std::size_t fewest = waiting.size() + 1;
  for (int cover = 0; cover < 3; ++cover) {
    std::fill(seen.begin(), seen.end(), 0);
    std::size_t rowsNeeded = 0;
    for (const ChoiceCouple& k : waiting)
      if (!seen[coverEnd(candidates, cover, k)]++)
        ++rowsNeeded;
    if (rowsNeeded < fewest) {
      fewest = rowsNeeded;
      best = cover;
    }
  }
  // The couples grouped by the row they read, keeping their order within a row: a counting
  // sort over the nodes, which gives what a stable sort by row would.
  std::vector<std::size_t> firstOfRow(nodes + 1, 0);
  for (const ChoiceCouple& k : waiting)
    ++firstOfRow[coverEnd(candidates, best, k) + 1];
  for (int n = 0; n < nodes; ++n)
    firstOfRow[n + 1] += firstOfRow[n];
  bySource.assign(waiting.size(), 0);
  for (std::size_t k = 0; k < waiting.size(); ++k)
    bySource[firstOfRow[coverEnd(candidates, best, waiting[k])]++] = k;
  return best;
}

bool Resource::transConstrainedToPrecede(const TransactionId& predecessor, const TransactionId& successor) {
  // The couple getOrderingChoices is examining: its distance was just asked.
  if (m_knownDistance.from == predecessor && m_knownDistance.to == successor)
    return m_knownDistance.lb >= 0.0;
  if (m_knownDistance.from == successor && m_knownDistance.to == predecessor)
    return -m_knownDistance.ub >= 0.0;
  const IntervalIntDomain distance =
      getPlanDatabase()->getTemporalAdvisor()->getTemporalDistanceDomain(predecessor->time(), successor->time(), true);
  return distance.getLowerBound() >= 0.0;
}

ApList<ApEntityKey> Resource::getOrderingChoices(TimePoint t) {
  ApList<ApEntityKey> results;
  if (!m_profile.isValid())
    return results;
  InstantId inst;
  for (ProfileIterator it(m_profile, -g_infiniteTime(), g_infiniteTime()); !it.done(); it.next()) {
    if (it.getTime() == t) {
      inst = it.getInstant();
      break;
    }
  }
  if (inst.isNoId())
    return results;
  std::vector<std::pair<TransactionId, TransactionId>> choices;
  getOrderingChoices(inst, choices, (unsigned int) g_infiniteTime());
  for (std::vector<std::pair<TransactionId, TransactionId>>::const_iterator it = choices.begin();
       it != choices.end(); ++it) {
    results.push_back(it->first->time()->parent()->getKey());
    results.push_back(it->second->time()->parent()->getKey());
  }
  return results;
}

void Resource::attemptTokenOrder(TokenOrders& found, const TokenId& predecessorToken,
                                 const TokenId& successorToken) {
  debugMsg("Resource:getOrderingChoices", "Found predecessor token " << predecessorToken->getKey()
           << " and successorToken " << successorToken->getKey() << " "
           << (predecessorToken == successorToken));
  if (successorToken == predecessorToken || isConstrainedToPrecede(predecessorToken, successorToken) ||
      !found.temporalAdvisor->canPrecede(predecessorToken, successorToken))
    return;
  debugMsg("Resource:getOrderingChoices", "Considering order <"
           << predecessorToken->getPredicateName().toString() << "(" << predecessorToken->getKey() << "), "
           << successorToken->getPredicateName().toString() << "(" << successorToken->getKey() << ")>");
  std::pair<std::multimap<TokenId, TokenId>::iterator, std::multimap<TokenId, TokenId>::iterator> range =
      found.pairs.equal_range(predecessorToken);
  for (std::multimap<TokenId, TokenId>::iterator it = range.first; it != range.second; ++it) {
    if (it->second == successorToken) {
      debugMsg("Resource:getOrderingChoices", "Order already exists.");
      return;
    }
  }
  debugMsg("Resource:getOrderingChoices", "Adding order.");
  found.pairs.insert(std::make_pair(predecessorToken, successorToken));
  ++found.count;
}

bool Resource::orderingChoiceLinesWanted() {
  static DebugMessage* const sl_sites[] = {
      DebugMessage::addMsg(__FILE__, __LINE__, "Resource:getOrderingChoices"),
      DebugMessage::addMsg(__FILE__, __LINE__, "TemporalAdvisor:getTemporalDistanceDomain")};
  return DebugMessage::anyEnabled(sl_sites);
}

void Resource::listOrderingChoices(const InstantId& inst, std::vector<std::pair<TransactionId, TransactionId>>& listed,
                                   unsigned int limit) {
  check_error(listed.empty());
  const TemporalAdvisorId& advisor = getPlanDatabase()->getTemporalAdvisor();
  unsigned int count = 0;
  ForgetKnownDistance forget{m_knownDistance};
  std::set<std::pair<TransactionId, TransactionId>> uniquePairs;

  auto attempt = [&](const TransactionId& first, const TransactionId& second, double ub) {
    const bool canPrecede = ub >= 0.0;
    if (canPrecede && !transConstrainedToPrecede(first, second)) {
      if (uniquePairs.insert(std::make_pair(first, second)).second) {
        ++count;
        debugMsg("Resource:getOrderingChoices", "Added pair <" << first->toString() << ", " << second->toString());
      }
      else
        debugMsg("Resource:getOrderingChoices", "Pair is redundant.");
    }
    else {
      condDebugMsg(transConstrainedToPrecede(first, second), "Resource:getOrderingChoices",
                   "Rejected pair because predecessor already constrained to precede successor.");
      condDebugMsg(!canPrecede, "Resource:getOrderingChoices",
                   "Rejected pair because predecessor cannot precede successor.");
    }
  };

  // Every candidate in the look-up's order; the look-up leaves out those whose windows do not
  // meet and meets a couple of two transactions of the instant once, and takes the same pairs.
  const std::set<TransactionId>& transactions = inst->getTransactions();
  for (std::set<TransactionId>::const_iterator predIt = transactions.begin();
       predIt != transactions.end() && count < limit; ++predIt) {
    const TransactionId& predecessor = *predIt;
    check_error(predecessor.isValid());
    const ConstrainedVariableId predecessorTime = predecessor->time();
    const AbstractDomain& predecessorDomain = predecessorTime->lastDomain();
    for (std::map<TransactionId, TokenId>::const_iterator succIt = m_transactionsToTokens.begin();
         succIt != m_transactionsToTokens.end() && count < limit; ++succIt) {
      const TransactionId& successor = succIt->first;
      check_error(successor.isValid());
      debugMsg("Resource:getOrderingChoices", "Considering pair <" << predecessor->toString() << ", "
               << successor->toString());
      if (predecessor == successor) {
        debugMsg("Resource:getOrderingChoices", "Rejected pair because they are the same transaction.");
        continue;
      }
      const ConstrainedVariableId successorTime = successor->time();
      if (!predecessorDomain.intersects(successorTime->lastDomain())) {
        debugMsg("Resource:getOrderingChoices", "Rejected pair because successor does not overlap predecessor.");
        continue;
      }
      // One distance query serves both directions: the reverse distance is its negation.
      const IntervalIntDomain distance =
          advisor->getTemporalDistanceDomain(predecessorTime, successorTime, true);
      m_knownDistance.from = predecessor;
      m_knownDistance.to = successor;
      m_knownDistance.lb = distance.getLowerBound();
      m_knownDistance.ub = distance.getUpperBound();
      attempt(predecessor, successor, m_knownDistance.ub);
      if (count < limit) {
        debugMsg("Resource:getOrderingChoices", "Considering pair <" << successor->toString() << ", "
                 << predecessor->toString());
        attempt(successor, predecessor, -m_knownDistance.lb);
      }
    }
  }

  listed.assign(uniquePairs.begin(), uniquePairs.end());
  debugMsg("Resource:getOrderingChoices", "Ultimately found " << listed.size() << " orderings.");
}

}
}
