#include "Solvers/base/ThreatManager.hh"

#include <set>
#include <sstream>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Solvers/base/ThreatDecisionPoint.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

ThreatManager::ThreatManager(const TiXmlElement& configData) : FlawManager(configData) {}

ThreatManager::~ThreatManager() {}

IteratorId ThreatManager::createIterator() { return (new TokenThreatIterator(*this))->getId(); }

std::string ThreatManager::flawEntityType() const { return Token::entityTypeName().toString(); }

bool ThreatManager::staticMatch(const EntityId& entity) { return !TokenId::convertable(entity); }

bool ThreatManager::betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation) {
  checkError(TokenId::convertable(a) && TokenId::convertable(b),
             "The threat manager compares tokens only.");
  TokenId ta(a), tb(b);
  if (ta->start()->lastDomain().getLowerBound() < tb->start()->lastDomain().getLowerBound()) {
    explanation = LabelStr("earliest");
    return true;
  }
  return false;
}

std::string ThreatManager::toString(const EntityId& entity) const {
  checkError(TokenId::convertable(entity), "The threat manager prints tokens only.");
  std::ostringstream os;
  os << "TOKEN THREAT: " << TokenId(entity)->toString();
  return os.str();
}

TokenThreatIterator::TokenThreatIterator(ThreatManager& manager) : FlawIterator(manager) {
  const PlanDatabaseId& db = manager.getPlanDatabase();
  std::set<int> seen;
  const std::map<int, ObjectId>& objects = db->getObjects();
  for (std::map<int, ObjectId>::const_iterator it = objects.begin(); it != objects.end(); ++it) {
    checkError(it->second.isValid(), "Invalid object in the plan database.");
    if (!it->second->hasTokensToOrder())
      continue;
    std::vector<TokenId> tokens;
    it->second->getTokensToOrder(tokens);
    for (std::vector<TokenId>::const_iterator t = tokens.begin(); t != tokens.end(); ++t)
      if (seen.insert((*t)->getKey()).second)
        m_tokens.push_back(*t);
  }
  m_it = m_tokens.begin();
  debugMsg("TokenThreatIterator:TokenThreatIterator", m_tokens.size() << " token(s) to order");
  advance();
}

const EntityId TokenThreatIterator::nextCandidate() {
  EntityId result;
  if (m_it != m_tokens.end()) {
    result = *m_it;
    ++m_it;
  }
  return result;
}

void registerHostComponents(ComponentFactoryMgr& factories) {
  if (factories.getFactory(LabelStr("ThreatManager")) == nullptr)
    factories.registerFactory(new ComponentFactory<ThreatManager>(LabelStr("ThreatManager")));
  if (factories.getFactory(LabelStr("ThreatHandler")) == nullptr)
    factories.registerFactory(new ComponentFactory<ConcreteFlawHandler<ThreatDecisionPoint>>(
        LabelStr("ThreatHandler")));
}

void initSolverComponents(Engine& engine) {
  if (engine.getComponent(ComponentFactoryMgr::name()) == nullptr) {
    ComponentFactoryMgr* factories = new ComponentFactoryMgr();
    engine.addComponent(ComponentFactoryMgr::name(), factories);
    registerHostComponents(*factories);
  }
  if (engine.getComponent(MatchFinderMgr::name()) == nullptr)
    engine.addComponent(MatchFinderMgr::name(), new MatchFinderMgr());
}

} // namespace SOLVERS
} // namespace KORVAN
