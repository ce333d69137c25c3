#include "Resource/component/Solvers/ResourceThreatDecisionPoint.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

ResourceThreatDecisionPoint::ResourceThreatDecisionPoint(const DbClientId& client, const TokenId& tokenToOrder,
                                                         const TiXmlElement& configData,
                                                         const LabelStr& explanation)
  : ThreatDecisionPoint(client, tokenToOrder, configData, explanation) {}

ResourceThreatDecisionPoint::~ResourceThreatDecisionPoint() {}

void ResourceThreatDecisionPoint::handleExecute() {
  checkError(m_index < m_choiceCount, "Tried to execute past available choices:" << m_index << ">=" << m_choiceCount);
  ObjectId object;
  TokenId predecessor, successor;
  extractParts(m_index, object, predecessor, successor);
  debugMsg("SolverDecisionPoint:handleExecute", "For " << m_tokenToOrder->getPredicateName().toString() << "("
           << m_tokenToOrder->getKey() << "), assigning " << predecessor->getPredicateName().toString() << "("
           << predecessor->getKey() << ") to be before " << successor->getPredicateName().toString() << "("
           << successor->getKey() << ").");
  m_client->constrain(object, predecessor, successor);
}

void ResourceThreatDecisionPoint::handleUndo() {
  debugMsg("SolverDecisionPoint:handleUndo", "Retracting ordering decision on "
           << m_tokenToOrder->getPredicateName().toString() << "(" << m_tokenToOrder->getKey() << ").");
  ObjectId object;
  TokenId predecessor, successor;
  extractParts(m_index, object, predecessor, successor);
  m_client->free(object, predecessor, successor);
  ++m_index;
}

}
}
