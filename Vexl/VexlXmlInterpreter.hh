#ifndef KORVAN_VEXL_VEXLXMLINTERPRETER_HH
#define KORVAN_VEXL_VEXLXMLINTERPRETER_HH

#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ConstraintEngine/base/ConstraintEngineDefs.hh"
#include "PlanDatabase/base/PlanDatabaseDefs.hh"
#include "Utils/base/Engine.hh"

class TiXmlDocument;
class TiXmlElement;

namespace KORVAN {

/// The model interpreter "vexl-xml": reads a file of XML transactions (README.md) into
/// the plan database. Each transaction either completes or leaves the database as it was;
/// errors are raised as Error of type "VexlError" whose message starts with
/// "<source>:<line>: <element>: ".
class VexlXmlInterpreter : public LanguageInterpreter {
public:
  VexlXmlInterpreter(const PlanDatabaseId& db);
  ~VexlXmlInterpreter() override;

  static const std::string& name() {
    static const std::string sl_name("vexl-xml");
    return sl_name;
  }
  static const std::string& errorType() {
    static const std::string sl_type("VexlError");
    return sl_type;
  }

  /// Reads and executes every transaction; returns a one-line summary.
  std::string interpret(std::istream& input, const std::string& source) override;
  std::string interpretFile(const std::string& path);
  /// The same over a model already read; `source` names it in messages.
  std::string interpretText(const std::string& text, const std::string& source);

  /// Deepest element nesting accepted in a document: the parser recurses once per level, so a
  /// deeper document is refused before it is parsed.
  static unsigned int maxXmlDepth() { return 256; }
  /// Most attributes one element may carry: no element reads nearly so many, and the parser's
  /// look-ups and the duplicate check grow with their square.
  static unsigned int maxXmlAttributes() { return 256; }
  /// Raises "VexlError" "<source>:<line>: <element>: ..." for what the XML parser would drop or
  /// misread without a word: elements nested deeper than maxXmlDepth() (refused before the
  /// parser recurses), a second root element, text outside the root, an entity other than XML's
  /// five and character references, a byte that is not UTF-8 or a control character, an
  /// unquoted attribute value or one holding '<', a quote never closed (at its opening line),
  /// attributes with no blank between them, more than maxXmlAttributes() attributes, an XML
  /// declaration past the start, in capitals or not as XML writes it (version 1.x first, then
  /// encoding and standalone, parted by blanks), an encoding the reader cannot read (it reads
  /// UTF-8, US-ASCII and ISO-8859-1) or that the bytes contradict, a document type after the
  /// root, twice, in lower case or without a name, another declaration (<!...>), U+FFFE and
  /// U+FFFF, a comment holding "--", an end tag that closes no element or not the one open last,
  /// and a comment, section or element never closed (at its opening line).
  /// Does not otherwise check the XML. Text declared ISO-8859-1 is then turned into UTF-8 in
  /// place, line for line: the parser, told it is UTF-8, reads it as declared.
  static void checkXmlMarkup(std::string& text, const std::string& source);
  /// Refuses, with the line, text that the XML parser would misread as something else: a
  /// UTF-16 or binary file (read as an empty document), an internal document type subset
  /// (read as no element).
  static void checkXmlText(const std::string& text, const std::string& source);
  /// Raises "VexlError" "<source>:<line>: <element>: ..." for text inside the element, and for
  /// child elements unless it takes them: a reader would drop them without a word.
  static void checkNoContent(const TiXmlElement& element, bool takesElements, const std::string& source);
  /// The most bytes a model or a configuration file may hold (256 MB): a file past it, or a
  /// device that never ends, is refused as it is read rather than once memory runs out.
  static size_t maxFileBytes() { return size_t(256) << 20; }
  /// The whole file, or "VexlError" "<path>: cannot open the <what>: <reason>"; a file holding a
  /// NUL byte is refused as checkXmlText() refuses it, once the chunk holding it is read.
  static std::string readFile(const std::string& path, const std::string& what);

  /// Marks a class and its predicates as implemented natively (by a module's factories).
  /// <set> on its objects takes the members the schema declares for it and the optional members
  /// named here; any other member is refused.
  void addNativeClass(const std::string& className, const std::vector<std::string>& predicates,
                      const std::vector<std::string>& optionalMembers = std::vector<std::string>());
  /// What a module's constraint takes, in the model's words ("a change token's object, time and
  /// quantity"): said in place of a check that refuses a scope without words.
  void addConstraintScope(const std::string& constraintName, const std::string& takes);
  bool isNativeClass(const std::string& className) const;
  bool isNativePredicate(const std::string& predicate) const;

  /// The token made under a transaction name, or the empty handle.
  TokenId getToken(const std::string& name) const;
  /// The object of that name, or the empty handle.
  ObjectId getObject(const std::string& name) const;
  /// Tokens by transaction name.
  const std::map<std::string, TokenId>& getNamedTokens() const { return m_tokens; }
  unsigned int getTransactionCount() const { return m_transactionCount; }

private:
  VexlXmlInterpreter(const VexlXmlInterpreter&) = delete;
  VexlXmlInterpreter& operator=(const VexlXmlInterpreter&) = delete;

  // checkXmlMarkup's checks; whether the text is declared ISO-8859-1.
  static bool scanXmlMarkup(const std::string& text, const std::string& source);
  static std::string latin1ToUtf8(const std::string& text);
  // Parses the model, refusing with the line where memory ran out.
  static void parseXml(TiXmlDocument& doc, const std::string& text, const std::string& source);
  // Executes one transaction; on failure undoes it and raises its error with the element's line.
  void executeTransaction(const TiXmlElement& element, const std::string& source);
  // With the database still open, refuses a token that no object can hold (at its line).
  void requireHolders(int rootLine, const std::string& source) const;
  void execute(const TiXmlElement& element);
  void executeClass(const TiXmlElement& element);
  void executeNew(const TiXmlElement& element);
  void executeSet(const TiXmlElement& element);
  void executeClose(const TiXmlElement& element);
  void executeToken(const TiXmlElement& element, bool isFact);
  void executeConstraint(const TiXmlElement& element);
  void executeSpecify(const TiXmlElement& element);
  void executeReset(const TiXmlElement& element);

  // Tokens on the modules' resources must find their candidate objects, and the database, closed.
  void requireClosedHolders(const LabelStr& predicate, const std::list<double>& objects) const;
  // Whether some object of the model can hold the predicate's tokens; the refusal when none can.
  bool hasHolder(const LabelStr& predicate) const;
  std::string noHolder(const LabelStr& predicate, const std::string& token) const;
  // The name the model gave the token, else its key.
  std::string tokenLabel(const TokenId& token) const;
  ConstrainedVariableId resolveVariable(const std::string& reference) const;
  std::string argumentCounts(const LabelStr& type) const;
  // Refuses another value for a parameter that the object's form of <new> fixed.
  [[noreturn]] void rejectFixedParameter(const ObjectId& object, const std::string& member, double held);
  // Refuses a token that cannot end before the horizon, with var specified to value.
  static void requireEndBeforeHorizon(const TokenId& token, const ConstrainedVariableId& var, double value);
  // Narrows the token's end to the window its start and duration imply, and its start to
  // the one its end and duration imply.
  void narrowToImpliedWindows(const TokenId& token);
  // Deletes the tokens and objects with keys above the given ones (made by a failed transaction).
  void rollback(int lastObject, int lastToken);

  PlanDatabaseId m_db;
  std::map<std::string, std::set<std::string>> m_nativeClasses; // class -> optional members
  std::set<std::string> m_nativePredicates;
  std::map<std::string, std::string> m_constraintScopes;
  std::map<std::string, TokenId> m_tokens;
  std::map<std::string, size_t> m_argumentCounts; // object -> arguments of its <new>
  std::map<int, int> m_tokenLines;                 // token key -> line of its <goal> or <fact>
  unsigned int m_transactionCount;
};

} // namespace KORVAN

#endif
