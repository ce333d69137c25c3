#ifndef KORVAN_SOLVERS_THREATMANAGER_HH
#define KORVAN_SOLVERS_THREATMANAGER_HH

#include <vector>

#include "Solvers/base/FlawManager.hh"
#include "Solvers/base/MatchingEngine.hh"

namespace KORVAN {
namespace SOLVERS {

/// Flaw manager (registered as "ThreatManager") for the tokens that objects announce as
/// needing an ordering (Object::notifyOrderingRequired). Each iterator reads the objects'
/// records afresh, objects in key order and each object's tokens in key order; a token needing
/// ordering on several objects is offered once. Ranking: the token that can start earliest
/// first (explanation "earliest").
class ThreatManager : public FlawManager {
public:
  ThreatManager(const TiXmlElement& configData);
  ~ThreatManager() override;

  IteratorId createIterator() override;
  std::string flawEntityType() const override;
  bool staticMatch(const EntityId& entity) override;
  bool betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation) override;
  std::string toString(const EntityId& entity) const override;
  std::string toString() const override { return FlawManager::toString(); }
};

class TokenThreatIterator : public FlawIterator {
public:
  TokenThreatIterator(ThreatManager& manager);
  ~TokenThreatIterator() override {}

private:
  const EntityId nextCandidate() override;

  std::vector<TokenId> m_tokens;
  std::vector<TokenId>::const_iterator m_it;
};

/// Registers the host's own solver components: "ThreatManager" and its handler "ThreatHandler"
/// (a ConcreteFlawHandler over the framework ThreatDecisionPoint).
void registerHostComponents(ComponentFactoryMgr& factories);

/// Adds "ComponentFactoryMgr" (with the host components) and "MatchFinderMgr" to an engine
/// that lacks them.
void initSolverComponents(Engine& engine);

} // namespace SOLVERS
} // namespace KORVAN

#endif
