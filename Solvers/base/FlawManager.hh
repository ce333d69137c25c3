#ifndef KORVAN_SOLVERS_FLAWMANAGER_HH
#define KORVAN_SOLVERS_FLAWMANAGER_HH

#include <string>
#include <vector>

#include "ConstraintEngine/base/DomainListener.hh"
#include "Solvers/base/Component.hh"
#include "Solvers/base/FlawHandler.hh"
#include "Solvers/base/Iterator.hh"
#include "Solvers/base/MatchingEngine.hh"

namespace KORVAN {
namespace SOLVERS {

/// Finds one kind of flaw in the plan database and ranks them. Its element's child elements
/// that carry a "component" attribute name its flaw handlers.
///
/// The match operations answer true for entities that are NOT the manager's: an entity is a
/// flaw of this manager when neither staticMatch nor dynamicMatch holds and one of its
/// handlers applies (inScope).
class FlawManager : public Component {
public:
  FlawManager(const TiXmlElement& configData);
  virtual ~FlawManager();

  const FlawManagerId getManagerId() const { return FlawManagerId(getId()); }

  /// Builds the handlers from the child elements through the factory manager, binds the
  /// manager to the plan database, then calls handleInitialize.
  void initialize(const PlanDatabaseId& db, const ContextId& ctx,
                  ComponentFactoryMgr& factories, MatchFinderMgr* finders);
  bool isInitialized() const { return m_initialized; }

  const PlanDatabaseId& getPlanDatabase() const { return m_db; }

  /// A new iterator over the manager's candidate flaws; the caller owns it.
  virtual IteratorId createIterator() = 0;

  virtual bool staticMatch(const EntityId& entity);
  virtual bool dynamicMatch(const EntityId& entity);
  /// True when a is to be handled before b; then the explanation names the reason.
  virtual bool betterThan(const EntityId& a, const EntityId& b, LabelStr& explanation);
  /// The explanation of a flaw that met no rival; empty by default.
  virtual LabelStr soleFlawExplanation(const EntityId& flaw);
  virtual std::string toString(const EntityId& entity) const;
  /// The entity type name of the manager's flaws; empty when they may be of any type.
  virtual std::string flawEntityType() const { return std::string(); }
  std::string toString() const override { return Component::toString(); }

  /// A flaw of this manager that one of its handlers can take.
  bool inScope(const EntityId& entity);
  /// The handler that puts the entity in scope, or the empty handle when it is not in scope.
  FlawHandlerId scopeHandler(const EntityId& entity);
  /// The handler for the entity: the applicable handler whose decision points accept it, of
  /// lowest priority, the more specific first, then the first declared; empty when none.
  FlawHandlerId getFlawHandler(const EntityId& entity);
  const std::vector<FlawHandlerId>& getFlawHandlers() const { return m_handlers; }
  /// Handler filters that name no type or predicate of the plan database's schema: such a
  /// handler takes no flaw. Warned about rather than refused, so that one configuration can serve
  /// models that lack some of its types.
  const std::vector<ConfigurationWarning>& getWarnings() const { return m_warnings; }

  /// Decisions that need no search; none by default.
  virtual DecisionPointId nextZeroCommitmentDecision() { return DecisionPointId::noId(); }

  /// The manager's best flaw with its handler and explanation; false when it has none.
  bool getBestFlaw(EntityId& flaw, FlawHandlerId& handler, LabelStr& explanation);

  // Notifications of plan-database changes; the defaults do nothing.
  virtual void notifyAdded(const ConstraintId&) {}
  virtual void notifyRemoved(const ConstraintId&) {}
  virtual void notifyRemoved(const ConstrainedVariableId&) {}
  virtual void notifyChanged(const ConstrainedVariableId&, const DomainListener::ChangeType&) {}
  virtual void notifyAdded(const TokenId&) {}
  virtual void notifyRemoved(const TokenId&) {}

protected:
  virtual void handleInitialize() {}
  /// A word of the manager's own element that is taken but can have no effect.
  void warn(const std::string& message);

private:
  void warnOfUnknownFilters(const TiXmlElement& element, const FlawHandler& handler, MatchFinderMgr* finders);

  PlanDatabaseId m_db;
  bool m_initialized;
  MatchingEngine* m_engine;
  std::vector<FlawHandlerId> m_handlers;
  std::vector<ConfigurationWarning> m_warnings;
};

/// Walks the candidates that a subclass produces through nextCandidate, keeping those in the
/// manager's scope. Subclasses call advance() once at the end of their constructor.
class FlawIterator : public Iterator {
public:
  FlawIterator(FlawManager& manager);
  virtual ~FlawIterator() {}

  bool done() const override { return m_done; }
  const EntityId next() override;
  unsigned int visited() const override { return m_visited; }
  /// The handler that put the flaw the last next() returned in scope, when it is `flaw`, else
  /// the empty handle.
  FlawHandlerId lastHandler(const EntityId& flaw) const {
    return flaw == m_last ? m_lastHandler : FlawHandlerId::noId();
  }

protected:
  void advance();
  /// The next candidate, or the empty handle when there are no more.
  virtual const EntityId nextCandidate() = 0;

private:
  FlawManager& m_manager;
  bool m_done;
  unsigned int m_visited;
  EntityId m_current;
  FlawHandlerId m_currentHandler;
  EntityId m_last;
  FlawHandlerId m_lastHandler;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
