#ifndef KORVAN_SOLVERS_MATCHINGRULE_HH
#define KORVAN_SOLVERS_MATCHINGRULE_HH

#include <string>

#include "Solvers/base/Component.hh"

namespace KORVAN {
namespace SOLVERS {

/// A rule that applies to the entities passing its static filters, read from its element:
/// "class" (an object type; subtypes match too), "predicate" (a full predicate name such as
/// "Reservoir.consume", or its last part "consume") and "variable" (a variable name). A rule
/// with no filter applies to every entity. "priority" (a number, default 0) ranks rules that
/// apply to the same entity: lower goes first.
class MatchingRule : public Component {
public:
  MatchingRule(const TiXmlElement& configData);
  virtual ~MatchingRule();

  const MatchingRuleId& getRuleId() const { return m_ruleId; }

  /// Number of static filters the rule sets; an entity matches when it passes each of them.
  virtual unsigned int staticFilterCount() const;
  /// Further test of an entity that the static filters let through.
  virtual bool customStaticMatch(const EntityId& entity) const;
  virtual double getPriority() const { return m_priority; }

  bool filtersObjectType() const { return m_hasObjectType; }
  bool filtersPredicate() const { return m_hasPredicate; }
  bool filtersVariable() const { return m_hasVariable; }
  const LabelStr& getObjectType() const { return m_objectType; }
  const LabelStr& getPredicate() const { return m_predicate; }
  const LabelStr& getVariable() const { return m_variable; }

  std::string toString() const override;
  void getAttributes(std::vector<std::string>& names) const override;

private:
  MatchingRuleId m_ruleId;
  double m_priority;
  bool m_hasObjectType;
  bool m_hasPredicate;
  bool m_hasVariable;
  LabelStr m_objectType;
  LabelStr m_predicate;
  LabelStr m_variable;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
