#include "Resource/component/MIRT_Reservoir.hh"
#include "Resource/component/MIRT_InstantTokens.hh"
#include "Resource/base/MIRT_Profile.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace MIRT {

Reservoir::Reservoir(const ObjectId& parent, const LabelStr& type, const LabelStr& localName, bool open)
  : Resource(parent, type, localName, open) {}

Reservoir::Reservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name, bool open)
  : Resource(planDatabase, type, name, open) {}

Reservoir::Reservoir(const PlanDatabaseId& planDatabase, const LabelStr& type, const LabelStr& name,
                     const LabelStr& detectorName, const LabelStr& profileName,
                     double initCapacityLb, double initCapacityUb, double lowerLimit, double upperLimit,
                     double maxInstProduction, double maxInstConsumption, double maxProduction,
                     double maxConsumption)
  : Resource(planDatabase, type, name, detectorName, profileName, initCapacityLb, initCapacityUb,
             lowerLimit, upperLimit, maxInstProduction, maxInstConsumption, maxProduction, maxConsumption) {}

Reservoir::~Reservoir() {
  // The transactions themselves go with the Resource part.
  m_tokensToTransactions.clear();
}

void Reservoir::addToProfile(const TokenId& tok) {
  if (m_released)
    return;
  if (m_tokensToTransactions.find(tok) != m_tokensToTransactions.end()) {
    debugMsg("Reservoir:addToProfile", "Token " << tok->getPredicateName().toString() << "(" << tok->getKey()
             << ") is already in the profile.");
    return;
  }
  checkInitialized();
  Id<ReservoirToken> t(tok);
  debugMsg("Reservoir:addToProfile", "Adding " << (t->isConsumer() ? "consumer " : "producer ") << "token "
           << tok->getPredicateName().toString() << "(" << tok->getKey() << ")");
  TransactionId trans = (new Transaction(t->getTime(), t->getQuantity(), t->isConsumer()))->getId();
  m_transactionsToTokens.insert(std::make_pair(trans, tok));
  m_tokensToTransactions.insert(std::make_pair(tok, trans));
  m_profile->addTransaction(trans);
}

void Reservoir::removeFromProfile(const TokenId& tok) {
  if (m_released)
    return;
  std::map<TokenId, TransactionId>::iterator it = m_tokensToTransactions.find(tok);
  if (it == m_tokensToTransactions.end())
    return;
  debugMsg("Reservoir:removeFromProfile", "Removing token " << tok->getPredicateName().toString() << "("
           << tok->getKey() << ")");
  TransactionId trans = it->second;
  m_profile->removeTransaction(trans);
  m_tokensToTransactions.erase(it);
  m_transactionsToTokens.erase(trans);
  forgetViolations(tok);
  // The ordering announced for the token's first flaw is owed a withdrawal.
  if (forgetFlaws(tok))
    notifyOrderingNoLongerRequired(tok);
  delete (Transaction*) trans;
}

void Reservoir::getOrderingChoices(const TokenId& token, std::vector<std::pair<TokenId, TokenId>>& results,
                                   unsigned int limit) {
  checkError(m_tokensToTransactions.find(token) != m_tokensToTransactions.end(),
             "Token " << token->getPredicateName().toString() << "(" << token->getKey() << ") not in profile.");
  Resource::getOrderingChoices(token, results, limit);
}

}
}
