#ifndef KORVAN_VEXL_VEXLXMLPARSING_HH
#define KORVAN_VEXL_VEXLXMLPARSING_HH

// Attribute and value parsing shared by the interpreter's statements; internal to Vexl/.

#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ConstraintEngine/base/AbstractDomain.hh"
#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "Utils/base/Error.hh"

class TiXmlElement;

namespace KORVAN {
namespace VexlParsing {

/// An error in one transaction; the interpreter adds the source, line and element.
struct TransactionError {
  std::string message;
};

[[noreturn]] void reject(const std::string& message);
std::string quoted(const std::string& text);
const char* requireAttribute(const TiXmlElement& element, const char* name);
/// The name, refused when it holds a blank (what: "object", "token").
const char* requireOneWord(const char* name, const char* what);
/// Refuses an attribute that the element does not take.
void requireKnownAttributes(const TiXmlElement& element, std::initializer_list<const char*> known,
                            const std::string& where = std::string());
std::string lineOf(const TiXmlElement& element);
/// Refuses text, and child elements unless the element takes them: the interpreter would
/// drop them without a word. A line other than `line` is named in the message.
void requireNoContent(const TiXmlElement& element, bool takesElements, int line);
/// A decimal number, inf, +inf or -inf (-0 reads as 0).
bool parseNumber(const std::string& text, double& value);
/// Text that the C library reads as a number (hexadecimal, nan, infinity, out of range): a
/// number the model meant, to be refused rather than taken as a word.
bool numberLike(const std::string& text);
double requireNumber(const std::string& text, const char* what);
std::vector<std::string> words(const std::string& text);
/// "v" or "lb ub".
std::pair<double, double> parseBounds(const std::string& text, const std::string& what);
/// A bool's value: true or 1, false or 0 (the plan prints 1 and 0); any other text is refused with
/// what a bool takes.
double requireBool(const std::string& text, const std::string& what);
/// A bool's value or bounds ("true", "0 1").
std::pair<double, double> boolBounds(const std::string& text, const std::string& what);
/// What went wrong in words, then the check that found it.
std::string describeError(const Error& e);
std::string describe(const TiXmlElement& element);
void requireWhole(const AbstractDomain& base, double lb, double ub, const std::string& what);
/// The base domain of the variable narrowed to [lb, ub]; empty results are rejected.
std::unique_ptr<AbstractDomain> narrowed(const ConstrainedVariableId& var, double lb, double ub,
                                         const std::string& what);

} // namespace VexlParsing
} // namespace KORVAN

#endif
