#include "Solvers/base/MatchingRule.hh"

#include <cmath>
#include <sstream>
#include <tinyxml.h>

#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace SOLVERS {

namespace {
bool readFilter(const TiXmlElement& element, const char* attribute, LabelStr& value) {
  const char* text = element.Attribute(attribute);
  if (text == nullptr)
    return false;
  checkElement(*text != '\0', element, "Empty '" << attribute << "' filter on element ", ".");
  value = LabelStr(text);
  return true;
}
} // namespace

MatchingRule::MatchingRule(const TiXmlElement& configData)
    : Component(configData), m_ruleId(getId()), m_priority(0.0), m_hasObjectType(false),
      m_hasPredicate(false), m_hasVariable(false) {
  const char* priority = configData.Attribute("priority");
  if (priority != nullptr) {
    // Numbers as a model writes them: decimals, inf (after every other) and -inf. A numeral too
    // small for a double to tell from 0 is refused, as one too large is.
    const std::string text(priority);
    const bool infinite = text == "inf" || text == "+inf" || text == "-inf";
    m_priority = infinite ? (text[0] == '-' ? -HUGE_VAL : HUGE_VAL) : 0.0;
    checkElement(infinite || decimalValue(text, m_priority), configData,
                 "Expected a number for 'priority' on element ", ", got '" << priority << "'.");
  }
  m_hasObjectType = readFilter(configData, "class", m_objectType);
  m_hasPredicate = readFilter(configData, "predicate", m_predicate);
  m_hasVariable = readFilter(configData, "variable", m_variable);
}

MatchingRule::~MatchingRule() {}

void MatchingRule::getAttributes(std::vector<std::string>& names) const {
  Component::getAttributes(names);
  names.insert(names.end(), {"priority", "class", "predicate", "variable"});
}

unsigned int MatchingRule::staticFilterCount() const {
  return (m_hasObjectType ? 1 : 0) + (m_hasPredicate ? 1 : 0) + (m_hasVariable ? 1 : 0);
}

bool MatchingRule::customStaticMatch(const EntityId&) const { return true; }

std::string MatchingRule::toString() const {
  std::ostringstream os;
  os << getName().toString() << "[";
  os << (m_hasObjectType ? m_objectType.toString() : std::string("*")) << ".";
  os << (m_hasPredicate ? m_predicate.toString() : std::string("*")) << ".";
  os << (m_hasVariable ? m_variable.toString() : std::string("*"));
  os << " priority=" << m_priority << "]";
  return os.str();
}

} // namespace SOLVERS
} // namespace KORVAN
