#include "Resource/component/MIRT_Reusable.hh"
#include "Resource/component/MIRT_DurativeTokens.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace MIRT {

Reusable::Reusable(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open)
  : Resource(parent, type, localName, open) {}

Reusable::Reusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : Resource(planDatabase, type, name, open) {}

Reusable::Reusable(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                   const LabelStr& detectorName, const LabelStr& profileName,
                   double initCapacityLb, double initCapacityUb, double lowerLimit,
                   double maxInstConsumption, double maxConsumption)
  : Resource(planDatabase, type, name, detectorName, profileName, initCapacityLb, initCapacityUb,
             lowerLimit, initCapacityUb, maxInstConsumption, maxInstConsumption, maxConsumption,
             maxConsumption) {}

Reusable::~Reusable() {
  m_tokensToTransactions.clear();
}

void Reusable::addToProfile(const TokenId& tok) {
  if (m_released)
    return;
  if (m_tokensToTransactions.find(tok) != m_tokensToTransactions.end()) {
    debugMsg("Reusable:addToProfile", "Token " << tok->getPredicateName().toString() << "(" << tok->getKey()
             << ") is already in the profile.");
    return;
  }
  checkInitialized();
  Id<ReusableToken> t(tok);
  debugMsg("Reusable:addToProfile", "Adding token " << tok->getPredicateName().toString() << "("
           << tok->getKey() << ")");
  TransactionId consumer = (new Transaction(t->start(), t->getQuantity(), true))->getId();
  TransactionId producer = (new Transaction(t->end(), t->getQuantity(), false))->getId();
  m_transactionsToTokens.insert(std::make_pair(consumer, tok));
  m_transactionsToTokens.insert(std::make_pair(producer, tok));
  m_tokensToTransactions.insert(std::make_pair(tok, std::make_pair(consumer, producer)));
  m_profile->addTransaction(consumer);
  m_profile->addTransaction(producer);
}

void Reusable::removeFromProfile(const TokenId& tok) {
  if (m_released)
    return;
  std::map<TokenId, std::pair<TransactionId, TransactionId>>::iterator it = m_tokensToTransactions.find(tok);
  if (it == m_tokensToTransactions.end())
    return;
  // Its lines fall between the removals of the two transactions: none may stop it half-way.
  DebugMessage::Teardown recordOnly;
  debugMsg("Reusable:removeFromProfile", "Removing token " << tok->getPredicateName().toString() << "("
           << tok->getKey() << ")");
  TransactionId consumer = it->second.first;
  TransactionId producer = it->second.second;
  debugMsg("Reusable:removeFromProfile", "Removing transaction for time " << consumer->time()->toString()
           << " with quantity " << consumer->quantity()->toString());
  m_profile->removeTransaction(consumer);
  debugMsg("Reusable:removeFromProfile", "Removing transaction for time " << producer->time()->toString()
           << " with quantity " << producer->quantity()->toString());
  m_profile->removeTransaction(producer);
  m_tokensToTransactions.erase(it);
  m_transactionsToTokens.erase(consumer);
  m_transactionsToTokens.erase(producer);
  forgetViolations(tok);
  if (forgetFlaws(tok))
    notifyOrderingNoLongerRequired(tok);
  delete (Transaction*) consumer;
  delete (Transaction*) producer;
}

void Reusable::getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                                  unsigned int limit) {
  checkError(m_tokensToTransactions.find(token) != m_tokensToTransactions.end(),
             "Token " << token->getPredicateName().toString() << "(" << token->getKey()
             << ") not in profile for " << toString());
  Resource::getOrderingChoices(token, results, limit);
}

UnaryTimeline::UnaryTimeline(const ObjectId& parent, const LabelStr& type, const LabelStr& name, bool open)
  : Reusable(parent, type, name, open) {
  initUnary();
}

UnaryTimeline::UnaryTimeline(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                             bool open)
  : Reusable(planDatabase, type, name, open) {
  initUnary();
}

UnaryTimeline::~UnaryTimeline() {}

void UnaryTimeline::initUnary() {
  const double inf = (double) g_infiniteTime();
  init(1.0, 1.0, 0.0, 1.0, inf, inf, inf, inf, "ReusableFVDetector", "IncrementalFlowProfile");
}

}
}
