#ifndef KORVAN_SOLVERS_MATCHINGENGINE_HH
#define KORVAN_SOLVERS_MATCHINGENGINE_HH

#include <map>
#include <string>
#include <vector>

#include "Solvers/base/MatchingRule.hh"
#include "Utils/base/Engine.hh"

namespace KORVAN {
namespace SOLVERS {

class MatchFinderMgr;

/// Finds the rules that apply to an entity. Rules are filed by each static filter they set
/// (object type, predicate, variable name); a match collects the rules without filters, then
/// the rules filed under every label of the entity. A rule applies when it was collected once
/// per static filter it sets (see getApplicableRules).
class MatchingEngine {
public:
  /// The finders come from the manager (may be null: then only tokens and variables match).
  MatchingEngine(MatchFinderMgr* finders = nullptr);
  ~MatchingEngine();

  const MatchingEngineId& getId() const { return m_id; }

  /// The engine does not own the rule; remove it before deleting it.
  void addRule(const MatchingRuleId& rule);
  void removeRule(const MatchingRuleId& rule);
  const std::vector<MatchingRuleId>& getRules() const { return m_rules; }

  /// Candidate rules for the entity, through the match finder registered for its entity type.
  void getMatches(const EntityId& entity, std::vector<MatchingRuleId>& results);

  /// The rules that pass every static filter for the entity, in the order of addition.
  std::vector<MatchingRuleId> getApplicableRules(const EntityId& entity);

  template <class T>
  void getMatches(const T& entity, std::vector<MatchingRuleId>& results) {
    m_cycleCount++;
    results = m_unfilteredRules;
    getMatchesInternal(entity, results);
  }

  template <class T>
  void getMatchesInternal(const T& entity, std::vector<MatchingRuleId>& results);

  /// Appends the rules filed under the label.
  void trigger(const LabelStr& label, const std::multimap<double, MatchingRuleId>& index,
               std::vector<MatchingRuleId>& results);
  /// Appends the rules filed under each label.
  void trigger(const std::vector<LabelStr>& labels,
               const std::multimap<double, MatchingRuleId>& index,
               std::vector<MatchingRuleId>& results);

  unsigned int cycleCount() const { return m_cycleCount; }

private:
  MatchingEngine(const MatchingEngine&) = delete;
  MatchingEngine& operator=(const MatchingEngine&) = delete;

  static void erase(std::multimap<double, MatchingRuleId>& index, const MatchingRuleId& rule);

  MatchingEngineId m_id;
  MatchFinderMgr* m_finders;
  unsigned int m_cycleCount;
  std::vector<MatchingRuleId> m_rules;
  std::vector<MatchingRuleId> m_unfilteredRules;
  std::multimap<double, MatchingRuleId> m_rulesByObjectType;
  std::multimap<double, MatchingRuleId> m_rulesByPredicate;
  std::multimap<double, MatchingRuleId> m_rulesByVariable;
};

template <>
void MatchingEngine::getMatchesInternal<TokenId>(const TokenId& token,
                                                 std::vector<MatchingRuleId>& results);
template <>
void MatchingEngine::getMatchesInternal<ConstrainedVariableId>(const ConstrainedVariableId& var,
                                                               std::vector<MatchingRuleId>& results);

/// Finds the candidate rules for entities of one entity type.
class MatchFinder {
public:
  MatchFinder() : m_id(this) {}
  // Releases the handle so that a finder made later at the same address can register.
  virtual ~MatchFinder() { m_id.remove(); }
  virtual void getMatches(const MatchingEngineId& engine, const EntityId& entity,
                          std::vector<MatchingRuleId>& results) = 0;
  /// Whether the entities of the finder's type can match a rule's filter ("class", "predicate",
  /// "variable"): one they never carry leaves its rule without a match.
  virtual bool carries(const std::string& /*filter*/) const { return true; }
  const MatchFinderId& getId() const { return m_id; }

private:
  MatchFinder(const MatchFinder&) = delete;
  MatchFinder& operator=(const MatchFinder&) = delete;
  MatchFinderId m_id;
};

class TokenMatchFinder : public MatchFinder {
public:
  void getMatches(const MatchingEngineId& engine, const EntityId& entity,
                  std::vector<MatchingRuleId>& results) override;
  /// A token has an object type and a predicate, and no one variable.
  bool carries(const std::string& filter) const override { return filter != "variable"; }
};

class VariableMatchFinder : public MatchFinder {
public:
  void getMatches(const MatchingEngineId& engine, const EntityId& entity,
                  std::vector<MatchingRuleId>& results) override;
};

/// The engine component "MatchFinderMgr": match finders by entity type name. It owns them;
/// a finder added for a type that has one replaces (and deletes) the old one. Finders for
/// tokens ("Token") and variables ("ConstrainedVariable") are there from the start.
class MatchFinderMgr : public EngineComponent {
public:
  MatchFinderMgr();
  ~MatchFinderMgr() override;

  static const std::string& name() {
    static const std::string sl_name("MatchFinderMgr");
    return sl_name;
  }

  void addMatchFinder(const LabelStr& entityType, const MatchFinderId& finder);
  void removeMatchFinder(const LabelStr& entityType);
  /// The finder for the entity type, or the empty handle.
  MatchFinderId getMatchFinder(const LabelStr& entityType) const;

private:
  std::map<double, MatchFinderId> m_finders;
};

} // namespace SOLVERS
} // namespace KORVAN

#endif
