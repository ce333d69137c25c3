#ifndef KORVAN_SOLVERS_DECISIONPOINT_HH
#define KORVAN_SOLVERS_DECISIONPOINT_HH

#include <string>
#include <vector>

#include "Solvers/base/SolverDefs.hh"
#include "Utils/base/Entity.hh"
#include "Utils/base/LabelStr.hh"

namespace KORVAN {
namespace SOLVERS {

/// One choice point of the search for one flaw. The solver drives it: initialize() once, then
/// execute() while hasNext() holds and nothing is executed, and undo() after an execution. The
/// solver owns it; destroying it retracts nothing.
class DecisionPoint : public Entity {
public:
  DecisionPoint(const DbClientId& client, unsigned int entityKey, const LabelStr& explanation);
  virtual ~DecisionPoint();

  static const LabelStr& entityTypeName();
  const LabelStr& entityType() const override { return entityTypeName(); }

  const DecisionPointId& getId() const { return m_id; }
  /// Key of the flawed entity that the decision point resolves.
  unsigned int getEntityKey() const { return m_entityKey; }
  const LabelStr& getExplanation() const { return m_explanation; }
  void setContext(const ContextId& ctx) { m_context = ctx; }
  const ContextId& getContext() const { return m_context; }
  const DbClientId& getClient() const { return m_client; }

  void initialize();
  void execute();
  void undo();

  bool isInitialized() const { return m_initialized; }
  bool isExecuted() const { return m_executed; }

  virtual bool hasNext() const = 0;
  /// While executed: a text that names what the execution posted, the same for the same
  /// constraint posted by any decision point of the search; empty when the class cannot say.
  virtual std::string getChoiceSignature() const { return std::string(); }
  virtual bool canUndo() const { return m_executed; }

  std::string toString() const override;
  virtual std::string toShortString() const;

  /// Static filters that decision point classes may add to their flaw handler's rule.
  static unsigned int customStaticFilterCount() { return 0; }
  static bool customStaticMatch(const EntityId&) { return true; }
  /// Whether an entity is of the kind that this class resolves; the solver hands a flaw only to
  /// handlers whose decision point class accepts it.
  static bool test(const EntityId&) { return true; }
  /// The entity type name of the flaws that test() accepts; empty when any.
  static std::string handledEntityType() { return std::string(); }
  /// Raises an error for a configuration element that the class's decision points would refuse;
  /// the flaw handler calls it when the configuration is read.
  static void checkConfiguration(const TiXmlElement&) {}
  /// Words of a configuration element that the class takes but reads otherwise than written.
  static std::vector<std::string> configurationWarnings(const TiXmlElement&) { return std::vector<std::string>(); }
  /// Attributes of the handler's element that the decision points read (besides the handler's own).
  static const std::vector<std::string>& configurationAttributes() {
    static const std::vector<std::string> sl_none;
    return sl_none;
  }

  // The steps that initialize(), execute() and undo() run once their own checks pass (public,
  // so that a decision point's own checks can be exercised directly).
  virtual void handleInitialize() {}
  virtual void handleExecute() = 0;
  virtual void handleUndo() = 0;

protected:
  DbClientId m_client;
  const unsigned int m_entityKey;
  LabelStr m_explanation;
  ContextId m_context;

private:
  DecisionPointId m_id;
  bool m_initialized;
  bool m_executed;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
