#include "Vexl/VexlXmlParsing.hh"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <sstream>
#include <tinyxml.h>
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "Utils/base/Utils.hh"

namespace KORVAN {
namespace VexlParsing {

[[noreturn]] void reject(const std::string& message) { throw TransactionError{message}; }

std::string quoted(const std::string& text) { return "'" + text + "'"; }

namespace {
// "start", "t.end", ...: a token's time points and duration, by their last part.
bool isTimeName(const std::string& what) {
  const std::string last = what.substr(what.rfind('.') + 1);
  return last == "start" || last == "end" || last == "time" || last == "duration";
}
} // namespace

const char* requireAttribute(const TiXmlElement& element, const char* name) {
  const char* value = element.Attribute(name);
  if (value == nullptr)
    reject(std::string("missing attribute ") + quoted(name));
  if (*value == '\0')
    reject(std::string("empty attribute ") + quoted(name));
  return value;
}

const char* requireOneWord(const char* name, const char* what) {
  bool blank = false;
  std::string shown; // one line, whatever the name holds
  for (const char* c = name; *c != '\0'; c++) {
    blank = blank || std::isspace(static_cast<unsigned char>(*c));
    shown += *c == '\n' ? "\\n" : *c == '\r' ? "\\r" : *c == '\t' ? "\\t" : std::string(1, *c);
  }
  if (blank)
    reject(std::string("the ") + what + " name " + quoted(shown) + " holds a blank: lists of names (object=, scope=) " +
           "are split at blanks, so it could not be named there");
  if (shown == "-")
    reject(std::string("the ") + what + " name '-' is what the printed plan shows for no name: choose another");
  return name;
}

/// Refuses an attribute that the element does not take: ignored, it would change nothing the
/// writer meant to change (capacity="2" on <new> leaves the resource unlimited).
void requireKnownAttributes(const TiXmlElement& element, std::initializer_list<const char*> known,
                            const std::string& where) {
  for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    bool found = false;
    for (const char* name : known)
      found = found || std::strcmp(name, attribute->Name()) == 0;
    if (found)
      continue;
    std::string takes;
    for (const char* name : known)
      takes += (takes.empty() ? "" : ", ") + std::string(name);
    reject(where + "unknown attribute " + quoted(attribute->Name()) + " (<" + element.Value() + "> takes " +
           (takes.empty() ? std::string("none") : takes) + ")");
  }
}

std::string lineOf(const TiXmlElement& element) { return "line " + std::to_string(element.Row()) + ": "; }

void requireNoContent(const TiXmlElement& element, bool takesElements, int line) {
  for (const TiXmlNode* node = element.FirstChild(); node != nullptr; node = node->NextSibling()) {
    const int type = node->Type();
    if (type == TiXmlNode::TINYXML_COMMENT || (takesElements && type == TiXmlNode::TINYXML_ELEMENT))
      continue;
    std::string what;
    if (type == TiXmlNode::TINYXML_TEXT) {
      std::string text = node->Value();
      if (text.size() > 40)
        text = text.substr(0, 40) + "...";
      what = "text " + quoted(text);
    } else if (type == TiXmlNode::TINYXML_ELEMENT)
      what = std::string("element <") + node->Value() + ">";
    else
      what = "markup " + quoted(node->Value());
    const std::string at = node->Row() != line ? "line " + std::to_string(node->Row()) + ": " : std::string();
    reject(at + what + " inside <" + element.Value() + ">, which takes " +
           (takesElements ? "only elements" : "no content"));
  }
}

bool parseNumber(const std::string& text, double& value) {
  if (text == "inf" || text == "+inf") {
    value = g_infiniteTimeAsDouble();
    return true;
  }
  if (text == "-inf") {
    value = -g_infiniteTimeAsDouble();
    return true;
  }
  if (!decimalValue(text, value))
    return false;
  // -0 is 0: a sign on nothing must not show in a domain or a printed plan.
  if (value == 0)
    value = 0;
  return true;
}

bool numberLike(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
    return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

double requireNumber(const std::string& text, const char* what) {
  double value = 0;
  if (!parseNumber(text, value)) {
    if (!numberLike(text))
      reject(std::string("expected a number for ") + what + ", got " + quoted(text));
    if (!isDecimalNumeral(text))
      reject(quoted(text) + " for " + what + " is not a decimal number: write numbers in decimals (16, -2.5, " +
             "1e3), inf or -inf");
    // Decimals beyond the range of doubles, or too small for one.
    if (std::fabs(std::strtod(text.c_str(), nullptr)) < 1)
      reject(quoted(text) + " for " + what + " is too close to 0 to be told from it: write 0");
    value = g_infiniteTimeAsDouble() * 2;
  }
  if (std::fabs(value) > g_infiniteTimeAsDouble()) {
    const std::string name(what);
    if (isTimeName(name))
      reject("value of " + name + " beyond the horizon: " + quoted(text));
    reject("value of " + name + " out of range: " + quoted(text) + " (numbers lie within -inf and inf, " +
           toString(g_infiniteTimeAsDouble()) + ")");
  }
  return value;
}

std::vector<std::string> words(const std::string& text) {
  // Split where a stream's >> would, by the spaces of the global locale's ctype, without
  // building a stream per attribute: a plan reads several per token.
  const std::ctype<char>& ctype = std::use_facet<std::ctype<char>>(std::locale());
  std::vector<std::string> result;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (true) {
    while (p != end && ctype.is(std::ctype_base::space, *p))
      ++p;
    if (p == end)
      break;
    const char* start = p;
    while (p != end && !ctype.is(std::ctype_base::space, *p))
      ++p;
    result.emplace_back(start, p);
  }
  return result;
}

/// "v" or "lb ub".
std::pair<double, double> parseBounds(const std::string& text, const std::string& what) {
  std::vector<std::string> parts = words(text);
  if (parts.empty() || parts.size() > 2)
    reject("expected one value or two bounds for " + quoted(what) + ", got " + quoted(text));
  double lb = requireNumber(parts[0], what.c_str());
  double ub = parts.size() == 2 ? requireNumber(parts[1], what.c_str()) : lb;
  if (lb > ub)
    reject("empty bounds for " + quoted(what) + ": " + quoted(text));
  return std::make_pair(lb, ub);
}

double requireBool(const std::string& text, const std::string& what) {
  if (text == "true" || text == "1")
    return 1;
  if (text == "false" || text == "0")
    return 0;
  reject(quoted(what) + " is a bool: it takes true, false, 1 or 0, got " + quoted(text));
}

std::pair<double, double> boolBounds(const std::string& text, const std::string& what) {
  const std::vector<std::string> parts = words(text);
  if (parts.empty() || parts.size() > 2)
    reject(quoted(what) + " is a bool: it takes true, false, 1 or 0, or two of them as bounds, got " + quoted(text));
  const double lb = requireBool(parts[0], what), ub = requireBool(parts.back(), what);
  if (lb > ub)
    reject("empty bounds for " + quoted(what) + ": " + quoted(text));
  return std::make_pair(lb, ub);
}

/// What went wrong in words, then the check that found it.
std::string describeError(const Error& e) {
  const std::string& condition = e.getCondition();
  bool plain = condition.empty() || condition == "ALWAYS_FAIL" || condition == "ALWAYS_FAILS" ||
               condition == "false";
  if (e.getMsg().empty())
    return "failed check '" + condition + "'";
  if (plain)
    return e.getMsg();
  return e.getMsg() + " (failed check '" + condition + "')";
}

std::string describe(const TiXmlElement& element) { return std::string("<") + element.Value() + ">"; }

namespace {
// The fewest digits that read back as the value: 2.000000000000001 is no whole number, so it must
// not print as 2.
std::string exactText(double value) {
  char text[32];
  for (int digits = 15; digits <= 17; digits++) {
    std::snprintf(text, sizeof(text), "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value)
      break;
  }
  return text;
}
} // namespace

/// The base domain of the variable narrowed to [lb, ub]; empty results are rejected.
/// Integer domains (times and durations) take whole bounds only: a fraction would be cut
/// silently, or leave no value, far from what the model meant.
void requireWhole(const AbstractDomain& base, double lb, double ub, const std::string& what) {
  if (base.getTypeName() != LabelStr("int"))
    return;
  // The horizon as an int's one value would print as its number; a time at the horizon is judged
  // with the token's other times.
  if (lb == ub && std::fabs(lb) >= g_infiniteTimeAsDouble() && !isTimeName(what))
    reject(quoted(what) + " takes whole numbers (it is an int), got " + (lb > 0 ? "inf" : "-inf") +
           ": inf and -inf stand only for no bound (\"5 inf\")");
  for (double bound : {lb, ub})
    if (std::fabs(bound) < g_infiniteTimeAsDouble() && bound != std::floor(bound))
      reject(quoted(what) + " takes whole numbers (" +
             (isTimeName(what) ? "times and durations are whole numbers" : "it is an int") + "), got " +
             exactText(bound));
}

std::unique_ptr<AbstractDomain> narrowed(const ConstrainedVariableId& var, double lb, double ub,
                                         const std::string& what) {
  if (!var->baseDomain().isNumeric())
    reject("variable " + quoted(what) + " is not numeric");
  requireWhole(var->baseDomain(), lb, ub, what);
  std::unique_ptr<AbstractDomain> domain(var->baseDomain().copy());
  domain->intersect(lb, ub);
  if (domain->isEmpty())
    reject("bounds [" + toString(lb) + " " + toString(ub) + "] of " + quoted(what) +
           " lie outside its domain " + var->baseDomain().toString());
  // A finite bound past the domain was meant: cut to the domain in silence it would be lost, where
  // the same value alone is refused. Infinite bounds stand for no bound.
  const AbstractDomain& base = var->baseDomain();
  for (double bound : {lb, ub})
    if (std::fabs(bound) < g_infiniteTimeAsDouble() && (bound < base.getLowerBound() || bound > base.getUpperBound()))
      reject("bound " + toString(bound) + " of " + quoted(what) + " lies outside its domain " + base.toString() +
             ": give bounds within it");
  return domain;
}


} // namespace VexlParsing
} // namespace KORVAN
