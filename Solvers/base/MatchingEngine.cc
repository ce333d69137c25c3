#include "Solvers/base/MatchingEngine.hh"

#include <algorithm>

#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

namespace KORVAN {
namespace SOLVERS {

MatchingEngine::MatchingEngine(MatchFinderMgr* finders)
    : m_id(this), m_finders(finders), m_cycleCount(0) {}

MatchingEngine::~MatchingEngine() { m_id.remove(); }

void MatchingEngine::addRule(const MatchingRuleId& rule) {
  check_error(rule.isValid(), "Cannot add an invalid rule to a matching engine.");
  checkError(std::find(m_rules.begin(), m_rules.end(), rule) == m_rules.end(),
             "Rule " << rule->toString() << " is already in the matching engine.");
  debugMsg("MatchingEngine:addRule", "Adding " << rule->toString());
  m_rules.push_back(rule);
  bool filtered = false;
  if (rule->filtersObjectType()) {
    m_rulesByObjectType.insert(std::make_pair(rule->getObjectType().getKey(), rule));
    filtered = true;
  }
  if (rule->filtersPredicate()) {
    m_rulesByPredicate.insert(std::make_pair(rule->getPredicate().getKey(), rule));
    filtered = true;
  }
  if (rule->filtersVariable()) {
    m_rulesByVariable.insert(std::make_pair(rule->getVariable().getKey(), rule));
    filtered = true;
  }
  if (!filtered)
    m_unfilteredRules.push_back(rule);
}

void MatchingEngine::erase(std::multimap<double, MatchingRuleId>& index,
                           const MatchingRuleId& rule) {
  for (std::multimap<double, MatchingRuleId>::iterator it = index.begin(); it != index.end();) {
    if (it->second == rule)
      it = index.erase(it);
    else
      ++it;
  }
}

void MatchingEngine::removeRule(const MatchingRuleId& rule) {
  m_rules.erase(std::remove(m_rules.begin(), m_rules.end(), rule), m_rules.end());
  m_unfilteredRules.erase(std::remove(m_unfilteredRules.begin(), m_unfilteredRules.end(), rule),
                          m_unfilteredRules.end());
  erase(m_rulesByObjectType, rule);
  erase(m_rulesByPredicate, rule);
  erase(m_rulesByVariable, rule);
}

void MatchingEngine::trigger(const LabelStr& label,
                             const std::multimap<double, MatchingRuleId>& index,
                             std::vector<MatchingRuleId>& results) {
  std::pair<std::multimap<double, MatchingRuleId>::const_iterator,
            std::multimap<double, MatchingRuleId>::const_iterator>
      range = index.equal_range(label.getKey());
  for (std::multimap<double, MatchingRuleId>::const_iterator it = range.first;
       it != range.second; ++it) {
    debugMsg("MatchingEngine:trigger", "Triggered " << it->second->toString() << " for "
                                                    << label.toString());
    results.push_back(it->second);
  }
}

void MatchingEngine::trigger(const std::vector<LabelStr>& labels,
                             const std::multimap<double, MatchingRuleId>& index,
                             std::vector<MatchingRuleId>& results) {
  for (std::vector<LabelStr>::const_iterator it = labels.begin(); it != labels.end(); ++it)
    trigger(*it, index, results);
}

void MatchingEngine::getMatches(const EntityId& entity, std::vector<MatchingRuleId>& results) {
  check_error(entity.isValid(), "Cannot match an invalid entity.");
  MatchFinderId finder;
  if (m_finders != nullptr)
    finder = m_finders->getMatchFinder(entity->entityType());
  if (finder.isValid()) {
    finder->getMatches(m_id, entity, results);
    return;
  }
  // Entity types without a finder of their own still match as tokens or variables.
  if (TokenId::convertable(entity))
    getMatches(TokenId(entity), results);
  else if (ConstrainedVariableId::convertable(entity))
    getMatches(ConstrainedVariableId(entity), results);
  else {
    m_cycleCount++;
    results = m_unfilteredRules;
  }
}

std::vector<MatchingRuleId> MatchingEngine::getApplicableRules(const EntityId& entity) {
  std::vector<MatchingRuleId> candidates;
  getMatches(entity, candidates);
  std::map<MatchingRuleId, unsigned int> hits;
  for (std::vector<MatchingRuleId>::const_iterator it = candidates.begin();
       it != candidates.end(); ++it)
    hits[*it]++;
  std::vector<MatchingRuleId> results;
  for (std::vector<MatchingRuleId>::const_iterator it = m_rules.begin(); it != m_rules.end();
       ++it) {
    const MatchingRuleId& rule = *it;
    std::map<MatchingRuleId, unsigned int>::const_iterator hit = hits.find(rule);
    if (hit == hits.end())
      continue;
    // A rule is collected once per static filter it passes; unfiltered rules once, from the
    // start list.
    unsigned int required = rule->MatchingRule::staticFilterCount();
    if (hit->second < std::max(required, 1u))
      continue;
    if (!rule->customStaticMatch(entity))
      continue;
    results.push_back(rule);
  }
  return results;
}

namespace {
/// Labels under which a token's predicate rules are filed: the full name and its last part.
void predicateLabels(const LabelStr& predicate, std::vector<LabelStr>& labels) {
  labels.push_back(predicate);
  const std::string& text = predicate.toString();
  std::string::size_type dot = text.rfind('.');
  if (dot != std::string::npos && dot + 1 < text.size())
    labels.push_back(LabelStr(text.substr(dot + 1)));
}

void objectTypeLabels(const TokenId& token, std::vector<LabelStr>& labels) {
  const SchemaId& schema = token->getPlanDatabase()->getSchema();
  const LabelStr& predicate = token->getPredicateName();
  if (!schema->isPredicate(predicate))
    return;
  const LabelStr& type = schema->getObjectType(predicate);
  if (schema->isObjectType(type))
    labels = schema->getAllObjectTypes(type);
}
} // namespace

template <>
void MatchingEngine::getMatchesInternal<TokenId>(const TokenId& token,
                                                 std::vector<MatchingRuleId>& results) {
  check_error(token.isValid());
  std::vector<LabelStr> types;
  objectTypeLabels(token, types);
  debugMsg("MatchingEngine:getMatchesInternal",
           "Triggering matches for token " << token->getPredicateName().toString() << "("
                                           << token->getKey() << ")");
  trigger(types, m_rulesByObjectType, results);
  std::vector<LabelStr> predicates;
  predicateLabels(token->getPredicateName(), predicates);
  trigger(predicates, m_rulesByPredicate, results);
}

template <>
void MatchingEngine::getMatchesInternal<ConstrainedVariableId>(
    const ConstrainedVariableId& var, std::vector<MatchingRuleId>& results) {
  check_error(var.isValid());
  trigger(var->getName(), m_rulesByVariable, results);
  EntityId parent = var->parent();
  if (parent.isValid() && TokenId::convertable(parent)) {
    TokenId token(parent);
    std::vector<LabelStr> types;
    objectTypeLabels(token, types);
    trigger(types, m_rulesByObjectType, results);
    std::vector<LabelStr> predicates;
    predicateLabels(token->getPredicateName(), predicates);
    trigger(predicates, m_rulesByPredicate, results);
  } else if (parent.isValid() && ObjectId::convertable(parent)) {
    ObjectId object(parent);
    const SchemaId& schema = object->getPlanDatabase()->getSchema();
    if (schema->isObjectType(object->getType()))
      trigger(schema->getAllObjectTypes(object->getType()), m_rulesByObjectType, results);
  }
}

void TokenMatchFinder::getMatches(const MatchingEngineId& engine, const EntityId& entity,
                                  std::vector<MatchingRuleId>& results) {
  engine->getMatches(TokenId(entity), results);
}

void VariableMatchFinder::getMatches(const MatchingEngineId& engine, const EntityId& entity,
                                     std::vector<MatchingRuleId>& results) {
  engine->getMatches(ConstrainedVariableId(entity), results);
}

MatchFinderMgr::MatchFinderMgr() {
  // The names first: a finder made is handed over at once, and none outlives a failed start.
  const LabelStr token("Token"), variable("ConstrainedVariable");
  try {
    addMatchFinder(token, (new TokenMatchFinder())->getId());
    addMatchFinder(variable, (new VariableMatchFinder())->getId());
  } catch (...) {
    for (const auto& entry : m_finders)
      delete (MatchFinder*)entry.second;
    throw;
  }
}

MatchFinderMgr::~MatchFinderMgr() {
  for (std::map<double, MatchFinderId>::iterator it = m_finders.begin(); it != m_finders.end();
       ++it)
    delete (MatchFinder*)it->second;
  m_finders.clear();
}

void MatchFinderMgr::addMatchFinder(const LabelStr& entityType, const MatchFinderId& finder) {
  checkError(finder.isValid(), "Invalid match finder for entity type " << entityType.toString());
  std::map<double, MatchFinderId>::iterator it = m_finders.find(entityType.getKey());
  if (it != m_finders.end()) {
    if (it->second == finder)
      return;
    delete (MatchFinder*)it->second;
    it->second = finder;
  } else {
    try {
      m_finders.insert(std::make_pair(entityType.getKey(), finder));
    } catch (...) {
      // Handed over is owned: one there was no memory to file goes with the failure.
      delete (MatchFinder*)finder;
      throw;
    }
  }
  debugMsg("MatchFinderMgr:addMatchFinder", "Match finder for " << entityType.toString());
}

void MatchFinderMgr::removeMatchFinder(const LabelStr& entityType) {
  std::map<double, MatchFinderId>::iterator it = m_finders.find(entityType.getKey());
  if (it == m_finders.end())
    return;
  delete (MatchFinder*)it->second;
  m_finders.erase(it);
}

MatchFinderId MatchFinderMgr::getMatchFinder(const LabelStr& entityType) const {
  std::map<double, MatchFinderId>::const_iterator it = m_finders.find(entityType.getKey());
  return it == m_finders.end() ? MatchFinderId() : it->second;
}

} // namespace SOLVERS
} // namespace KORVAN
