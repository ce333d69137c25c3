#include "Resource/component/Solvers/ResourceThreatDecisionPoint.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <sstream>

namespace KORVAN {
namespace SOLVERS {

namespace {

// "P(K)": predicate name and key of a token.
std::string tokenText(const TokenId& token) {
  std::ostringstream os;
  os << token->getPredicateName().toString() << "(" << token->getKey() << ")";
  return os.str();
}

}

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
  debugMsg("SolverDecisionPoint:handleExecute", "For " << tokenText(m_tokenToOrder) << ", assigning "
           << tokenText(predecessor) << " to be before " << tokenText(successor) << ".");
  m_client->constrain(object, predecessor, successor);
}

void ResourceThreatDecisionPoint::handleUndo() {
  debugMsg("SolverDecisionPoint:handleUndo", "Retracting ordering decision on " << tokenText(m_tokenToOrder) << ".");
  ObjectId object;
  TokenId predecessor, successor;
  extractParts(m_index, object, predecessor, successor);
  m_client->free(object, predecessor, successor);
  ++m_index;
}

}
}
