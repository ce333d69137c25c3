#include "Solvers/base/ThreatDecisionPoint.hh"

#include <algorithm>
#include <list>
#include <sstream>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

namespace {
unsigned int keyOf(const TokenId& token) {
  checkError(token.isValid(), "A threat decision point needs a valid token.");
  return token->getKey();
}
} // namespace

ThreatDecisionPoint::ThreatDecisionPoint(const DbClientId& client, const TokenId& tokenToOrder,
                                         const TiXmlElement&, const LabelStr& explanation)
    : DecisionPoint(client, keyOf(tokenToOrder), explanation), m_tokenToOrder(tokenToOrder),
      m_choiceCount(0), m_index(0) {}

ThreatDecisionPoint::~ThreatDecisionPoint() {}

bool ThreatDecisionPoint::test(const EntityId& entity) { return TokenId::convertable(entity); }

std::string ThreatDecisionPoint::handledEntityType() { return Token::entityTypeName().toString(); }

void ThreatDecisionPoint::handleInitialize() {
  checkError(m_tokenToOrder.isValid(), "The token to order is gone.");
  std::list<double> values;
  m_tokenToOrder->getObject()->lastDomain().getValues(values);
  std::vector<ObjectId> objects;
  for (std::list<double>::const_iterator it = values.begin(); it != values.end(); ++it)
    objects.push_back(ObjectId(*it));
  std::sort(objects.begin(), objects.end(), EntityComparator<ObjectId>());
  for (std::vector<ObjectId>::const_iterator it = objects.begin(); it != objects.end(); ++it) {
    std::vector<std::pair<TokenId, TokenId>> pairs;
    (*it)->getOrderingChoices(m_tokenToOrder, pairs);
    for (std::vector<std::pair<TokenId, TokenId>>::const_iterator p = pairs.begin();
         p != pairs.end(); ++p)
      m_choices.push_back(std::make_pair(*it, *p));
  }
  m_choiceCount = static_cast<unsigned int>(m_choices.size());
  m_index = 0;
  debugMsg("ThreatDecisionPoint:handleInitialize",
           "Found " << m_choiceCount << " choices for " << m_tokenToOrder->toString());
}

void ThreatDecisionPoint::extractParts(unsigned int index, ObjectId& object, TokenId& predecessor,
                                       TokenId& successor) const {
  checkError(index < m_choiceCount, "No choice at index " << index << " of " << m_choiceCount);
  const Choice& choice = m_choices[index];
  object = choice.first;
  predecessor = choice.second.first;
  successor = choice.second.second;
}

void ThreatDecisionPoint::handleExecute() {
  checkError(m_index < m_choiceCount,
             "Tried to execute past available choices:" << m_index << ">=" << m_choiceCount);
  ObjectId object;
  TokenId predecessor, successor;
  extractParts(m_index, object, predecessor, successor);
  debugMsg("SolverDecisionPoint:handleExecute",
           "For " << m_tokenToOrder->toString() << ", assigning " << predecessor->toString()
                  << " to be before " << successor->toString() << ".");
  m_client->constrain(object, predecessor, successor);
}

void ThreatDecisionPoint::handleUndo() {
  ObjectId object;
  TokenId predecessor, successor;
  extractParts(m_index, object, predecessor, successor);
  debugMsg("SolverDecisionPoint:handleUndo",
           "Retracting ordering decision on " << m_tokenToOrder->toString() << ".");
  m_client->free(object, predecessor, successor);
  m_index++;
}

std::string ThreatDecisionPoint::toString() const {
  std::ostringstream os;
  os << "THREAT on token " << getEntityKey() << " : ";
  if (m_choiceCount == 0)
    os << "NO CHOICES";
  else if (m_index < m_choiceCount)
    os << "CHOICE " << (m_index + 1) << " of " << m_choiceCount << " : "
       << m_choices[m_index].second.first->getKey() << " before "
       << m_choices[m_index].second.second->getKey();
  else
    os << "CHOICES EXHAUSTED (" << m_choiceCount << ")";
  return os.str();
}

std::string ThreatDecisionPoint::toShortString() const { return toString(); }

std::string ThreatDecisionPoint::getChoiceSignature() const {
  if (!isExecuted() || m_index >= m_choiceCount)
    return std::string();
  std::ostringstream os;
  os << "order " << m_choices[m_index].first->getKey() << " " << m_choices[m_index].second.first->getKey() << " "
     << m_choices[m_index].second.second->getKey();
  return os.str();
}

} // namespace SOLVERS
} // namespace KORVAN
