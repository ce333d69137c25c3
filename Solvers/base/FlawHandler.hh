#ifndef KORVAN_SOLVERS_FLAWHANDLER_HH
#define KORVAN_SOLVERS_FLAWHANDLER_HH

#include "Solvers/base/DecisionPoint.hh"
#include "Solvers/base/MatchingRule.hh"

namespace KORVAN {
namespace SOLVERS {

/// A matching rule that makes decision points for the flaws it matches.
class FlawHandler : public MatchingRule {
public:
  FlawHandler(const TiXmlElement& configData) : MatchingRule(configData) {}
  virtual ~FlawHandler() {}

  const FlawHandlerId getHandlerId() const { return FlawHandlerId(getId()); }

  /// A new decision point for the flaw; the caller owns it.
  virtual DecisionPointId create(const DbClientId& client, const EntityId& flaw,
                                 const LabelStr& explanation) const = 0;
  /// Whether the handler's decision points can take the entity at all.
  virtual bool canHandle(const EntityId&) const { return true; }
  /// The entity type name of the flaws its decision points take; empty when any.
  virtual std::string handledEntityType() const { return std::string(); }
  /// Words of its element that its decision points read otherwise than written.
  virtual std::vector<std::string> configurationWarnings() const { return std::vector<std::string>(); }
};

/// The flaw handler of one decision point class. The class is constructed from (client, flaw
/// handle converted to the class's flaw type, configuration element, explanation).
template <class DecisionPointType>
class ConcreteFlawHandler : public FlawHandler {
public:
  ConcreteFlawHandler(const TiXmlElement& configData) : FlawHandler(configData) {
    DecisionPointType::checkConfiguration(configData);
  }
  ~ConcreteFlawHandler() override {}

  DecisionPointId create(const DbClientId& client, const EntityId& flaw,
                         const LabelStr& explanation) const override {
    DecisionPointType* dp = new DecisionPointType(client, flaw, getConfigData(), explanation);
    dp->setContext(getContext());
    return dp->getId();
  }

  unsigned int staticFilterCount() const override {
    return DecisionPointType::customStaticFilterCount() + MatchingRule::staticFilterCount();
  }

  bool customStaticMatch(const EntityId& entity) const override {
    return DecisionPointType::customStaticMatch(entity);
  }

  bool canHandle(const EntityId& entity) const override { return DecisionPointType::test(entity); }
  std::string handledEntityType() const override { return DecisionPointType::handledEntityType(); }
  std::vector<std::string> configurationWarnings() const override {
    return DecisionPointType::configurationWarnings(getConfigData());
  }

  void getAttributes(std::vector<std::string>& names) const override {
    FlawHandler::getAttributes(names);
    const std::vector<std::string>& own = DecisionPointType::configurationAttributes();
    names.insert(names.end(), own.begin(), own.end());
  }
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
