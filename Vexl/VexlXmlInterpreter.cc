#include "Vexl/VexlXmlInterpreter.hh"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <tinyxml.h>

#include "ConstraintEngine/base/CESchema.hh"
#include "ConstraintEngine/base/ConstrainedVariable.hh"
#include "ConstraintEngine/base/ConstraintEngine.hh"
#include "ConstraintEngine/base/EnumeratedDomain.hh"
#include "ConstraintEngine/base/IntervalDomain.hh"
#include "ConstraintEngine/base/Propagator.hh"
#include "PlanDatabase/base/DbClient.hh"
#include "PlanDatabase/base/Object.hh"
#include "PlanDatabase/base/ObjectDomain.hh"
#include "PlanDatabase/base/PlanDatabase.hh"
#include "PlanDatabase/base/Schema.hh"
#include "PlanDatabase/base/Token.hh"
#include "PlanDatabase/base/TokenVariable.hh"
#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Vexl/InterpretedObjectFactory.hh"
#include "Vexl/VexlXmlParsing.hh"

namespace KORVAN {

// The attribute and value helpers are this file's vocabulary.
using namespace VexlParsing;

VexlXmlInterpreter::VexlXmlInterpreter(const PlanDatabaseId& db) : m_db(db), m_transactionCount(0) {
  checkError(db.isValid(), "The interpreter needs a valid plan database.");
}

VexlXmlInterpreter::~VexlXmlInterpreter() {}

void VexlXmlInterpreter::addNativeClass(const std::string& className,
                                        const std::vector<std::string>& predicates,
                                        const std::vector<std::string>& optionalMembers) {
  m_nativeClasses[className].insert(optionalMembers.begin(), optionalMembers.end());
  m_nativePredicates.insert(predicates.begin(), predicates.end());
  debugMsg("VexlXmlInterpreter:addNativeClass", className << " with " << predicates.size()
                                                          << " predicate(s)");
}

bool VexlXmlInterpreter::isNativeClass(const std::string& className) const {
  return m_nativeClasses.find(className) != m_nativeClasses.end();
}

bool VexlXmlInterpreter::isNativePredicate(const std::string& predicate) const {
  return m_nativePredicates.count(predicate) != 0;
}

TokenId VexlXmlInterpreter::getToken(const std::string& name) const {
  std::map<std::string, TokenId>::const_iterator it = m_tokens.find(name);
  if (it == m_tokens.end() || !it->second.isValid())
    return TokenId::noId();
  return it->second;
}

// " (T takes 0, 2, 3 or 4 arguments)": the counts that have a constructor, for a refused signature.
std::string VexlXmlInterpreter::argumentCounts(const LabelStr& type) const {
  const SchemaId& schema = m_db->getSchema();
  std::vector<unsigned int> counts;
  std::vector<LabelStr> argTypes;
  for (unsigned int count = 0; count <= 16; count++, argTypes.push_back(LabelStr("float")))
    if (schema->hasObjectFactory(Schema::makeSignature(type, argTypes)))
      counts.push_back(count);
  if (counts.empty())
    return std::string();
  std::ostringstream os;
  os << " (" << type.toString() << " takes ";
  for (size_t i = 0; i < counts.size(); i++)
    os << (i == 0 ? "" : i + 1 == counts.size() ? " or " : ", ") << counts[i];
  os << (counts.back() == 1 ? " argument)" : " arguments)");
  return os.str();
}

ObjectId VexlXmlInterpreter::getObject(const std::string& name) const {
  return m_db->getObject(LabelStr(name));
}

std::string VexlXmlInterpreter::readFile(const std::string& path, const std::string& what) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    int reason = errno;
    checkErrorType(ALWAYS_FAIL, path << ": cannot open the " << what << ": " << std::strerror(reason),
                   errorType());
  }
  checkErrorType(!S_ISDIR(info.st_mode), path << ": cannot open the " << what << ": it is a directory",
                 errorType());
  errno = 0;
  std::ifstream in(path.c_str(), std::ios::in | std::ios::binary);
  if (!in.good()) {
    int reason = errno;
    checkErrorType(ALWAYS_FAIL, path << ": cannot open the " << what << ": "
                                     << (reason != 0 ? std::strerror(reason) : "unreadable"),
                   errorType());
  }
  // Read into a string rather than through a string stream: a stream would swallow a failed
  // allocation and hand back part of the file.
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof(chunk)) || in.gcount() > 0)
    text.append(chunk, static_cast<size_t>(in.gcount()));
  checkErrorType(!in.bad(), path << ": cannot read the " << what, errorType());
  return text;
}

namespace {

// The first element's name and line, past the declaration, comments, processing instructions and
// the document type; found without allocating, for when memory has run out. Null when none.
const char* rootElement(const std::string& text, size_t& row, size_t& length) {
  const char* p = text.c_str();
  const char* const end = p + text.size();
  row = 1;
  auto skipPast = [&](const char* closing) {
    const size_t n = std::strlen(closing);
    for (; p < end; p++) {
      if (std::strncmp(p, closing, n) == 0) {
        p += n;
        return;
      }
      row += *p == '\n' ? 1 : 0;
    }
  };
  while (p < end) {
    if (*p != '<') {
      row += *p++ == '\n' ? 1 : 0;
      continue;
    }
    if (std::strncmp(p, "<!--", 4) == 0)
      skipPast("-->");
    else if (p[1] == '?' || p[1] == '!')
      skipPast(">");
    else {
      const char* name = ++p;
      while (p < end && std::strchr(" \t\r\n/>", *p) == nullptr)
        p++;
      length = static_cast<size_t>(p - name);
      return length == 0 ? nullptr : name;
    }
  }
  return nullptr;
}

// The offset of the first byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and code points past U+10FFFF included), or npos.
size_t firstNonUtf8(const std::string& text) {
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      i++;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xbf;
    if (c >= 0xc2 && c <= 0xdf)
      length = 2;
    else if (c >= 0xe0 && c <= 0xef) {
      length = 3;
      low = c == 0xe0 ? 0xa0 : 0x80;
      high = c == 0xed ? 0x9f : 0xbf;
    } else if (c >= 0xf0 && c <= 0xf4) {
      length = 4;
      low = c == 0xf0 ? 0x90 : 0x80;
      high = c == 0xf4 ? 0x8f : 0xbf;
    } else
      return i;
    for (size_t k = 1; k < length; k++) {
      const unsigned char d = i + k < n ? static_cast<unsigned char>(text[i + k]) : 0;
      if (d < (k == 1 ? low : 0x80) || d > (k == 1 ? high : 0xbf))
        return i;
    }
    i += length;
  }
  return std::string::npos;
}

// What an '&' at pos starts: empty when it is one of XML's entities or a character reference,
// else the refusal.
std::string entityProblem(const std::string& text, size_t pos) {
  size_t end = pos + 1;
  while (end < text.size() && end - pos <= 32 && (std::isalnum(static_cast<unsigned char>(text[end])) ||
                                                  text[end] == '#' || text[end] == '_'))
    end++;
  if (end >= text.size() || text[end] != ';')
    return "a bare '&' (write &amp; for the character)";
  const std::string name = text.substr(pos + 1, end - pos - 1);
  if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos")
    return std::string();
  const bool hex = name.size() > 2 && name[0] == '#' && (name[1] == 'x' || name[1] == 'X');
  const bool decimal = name.size() > 1 && name[0] == '#' && !hex;
  if ((hex && name.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) ||
      (decimal && name.find_first_not_of("0123456789", 1) == std::string::npos)) {
    // The parser drops a NUL and the rest of the value, and writes surrogates and code points past
    // U+10FFFF as bytes that are not UTF-8: only a character XML text may hold is read.
    unsigned long code = 0;
    for (size_t k = hex ? 2 : 1; k < name.size() && code <= 0x10FFFF; k++)
      code = code * (hex ? 16 : 10) + (std::isdigit(static_cast<unsigned char>(name[k]))
                                           ? name[k] - '0'
                                           : std::tolower(static_cast<unsigned char>(name[k])) - 'a' + 10);
    if (code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
        (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF))
      return std::string();
    return "the character reference '&" + name + ";' is no character of XML text (U+9, U+A, U+D, U+20 to U+D7FF, "
           "U+E000 to U+FFFD, U+10000 to U+10FFFF)";
  }
  return "unknown entity '&" + name + ";' (XML knows &amp; &lt; &gt; &quot; &apos; and &#...;)";
}

} // namespace

void VexlXmlInterpreter::checkXmlMarkup(const std::string& text, const std::string& source) {
  // A scan of the markup only: comments, CDATA sections, declarations and quoted attribute
  // values cannot open elements. Offsets of the names of the open elements, for the messages.
  std::vector<std::pair<size_t, size_t>> open;
  bool rootSeen = false;
  int line = 1;
  size_t i = 0;
  const size_t n = text.size();
  // A byte that is not UTF-8 is reported in the element the scan is in when it reaches it.
  const size_t badByte = firstNonUtf8(text);
  size_t tagName = std::string::npos, tagNameEnd = 0;
  auto where = [&](int at) {
    std::ostringstream os;
    os << source << ":" << at << ": ";
    if (tagName != std::string::npos)
      os << "<" << text.substr(tagName, std::min<size_t>(tagNameEnd - tagName, 40)) << ">: ";
    else if (!open.empty())
      os << "<" << text.substr(open.back().first, std::min<size_t>(open.back().second, 40)) << ">: ";
    return os.str();
  };
  auto check = [&](size_t at) {
    if (at == badByte)
      checkErrorType(ALWAYS_FAIL, where(line) << "byte 0x" << std::hex << std::uppercase
                                              << (unsigned int)static_cast<unsigned char>(text[at])
                                              << " is not UTF-8 text: save the file as UTF-8",
                     errorType());
  };
  auto skipTo = [&](const char* end) {
    size_t stop = text.find(end, i);
    stop = stop == std::string::npos ? n : stop + std::strlen(end);
    for (; i < stop; i++) {
      check(i);
      if (text[i] == '\n')
        line++;
    }
  };
  auto entity = [&](size_t at) {
    const std::string problem = entityProblem(text, at);
    if (!problem.empty())
      checkErrorType(ALWAYS_FAIL, where(line) << problem, errorType());
  };
  while (i < n) {
    const char c = text[i];
    check(i);
    if (c != '<') {
      if (c == '\n')
        line++;
      else if (open.empty() && !std::isspace(static_cast<unsigned char>(c)) && !(i < 3 && (c & 0x80)))
        checkErrorType(ALWAYS_FAIL, where(line) << "text '" << text.substr(i, std::min<size_t>(text.find_first_of("<\r\n", i) - i, 40))
                                                << "' outside the root element",
                       errorType());
      else if (c == '&')
        entity(i);
      i++;
      continue;
    }
    if (text.compare(i, 4, "<!--") == 0)
      skipTo("-->");
    else if (text.compare(i, 9, "<![CDATA[") == 0)
      skipTo("]]>");
    else if (text.compare(i, 2, "<?") == 0)
      skipTo("?>");
    else if (text.compare(i, 2, "<!") == 0)
      skipTo(">");
    else if (text.compare(i, 2, "</") == 0) {
      if (!open.empty())
        open.pop_back();
      skipTo(">");
    } else {
      const int startLine = line;
      size_t nameStart = i + 1, nameEnd = nameStart;
      while (nameEnd < n && std::strchr(" \t\r\n/>", text[nameEnd]) == nullptr)
        nameEnd++;
      tagName = nameStart;
      tagNameEnd = nameEnd;
      if (open.empty() && rootSeen)
        checkErrorType(ALWAYS_FAIL, where(startLine) << "a second root element: an XML document is one element",
                       errorType());
      rootSeen = true;
      char quote = 0;
      bool selfClosing = false;
      // The parser refuses an attribute given twice without saying which: this scan says it.
      std::vector<std::string> attributes;
      for (i++; i < n; i++) {
        const char d = text[i];
        check(i);
        if (d == '\n')
          line++;
        if (quote != 0) {
          if (d == quote)
            quote = 0;
          else if (d == '&')
            entity(i);
        } else if (d == '"' || d == '\'')
          quote = d;
        else if (d == '=') {
          size_t end = i;
          while (end > nameEnd && std::isspace(static_cast<unsigned char>(text[end - 1])))
            end--;
          size_t begin = end;
          while (begin > nameEnd && !std::isspace(static_cast<unsigned char>(text[begin - 1])))
            begin--;
          const std::string attribute = text.substr(begin, end - begin);
          if (std::find(attributes.begin(), attributes.end(), attribute) != attributes.end())
            checkErrorType(ALWAYS_FAIL, where(line) << "attribute '" << attribute.substr(0, 40)
                                                    << "' given twice: an element takes each attribute once",
                           errorType());
          attributes.push_back(attribute);
        } else if (d == '>') {
          selfClosing = text[i - 1] == '/';
          i++;
          break;
        }
      }
      tagName = std::string::npos;
      if (!selfClosing)
        open.push_back(std::make_pair(nameStart, nameEnd - nameStart));
      if (open.size() > maxXmlDepth())
        checkErrorType(ALWAYS_FAIL, source << ":" << startLine << ": <"
                                           << text.substr(nameStart, std::min<size_t>(nameEnd - nameStart, 40))
                                           << ">: elements nested deeper than " << maxXmlDepth()
                                           << " levels",
                       errorType());
    }
  }
}

void VexlXmlInterpreter::checkXmlText(const std::string& text, const std::string& source) {
  const bool bom16 = text.size() >= 2 && ((text[0] == '\xff' && text[1] == '\xfe') || (text[0] == '\xfe' && text[1] == '\xff'));
  const size_t nul = text.find('\0');
  if (bom16 || (nul != std::string::npos && nul <= 1 && text.size() >= 2 && (text[0] == '<' || text[1] == '<')))
    checkErrorType(ALWAYS_FAIL, source << ":1: the file is UTF-16 text: save it as UTF-8", errorType());
  if (nul != std::string::npos)
    checkErrorType(ALWAYS_FAIL, source << ":" << 1 + std::count(text.begin(), text.begin() + nul, '\n')
                                       << ": not a text file: it holds a NUL byte", errorType());
  const size_t doctype = text.find("<!DOCTYPE");
  if (doctype != std::string::npos) {
    const size_t close = text.find_first_of("[>", doctype);
    if (close != std::string::npos && text[close] == '[')
      checkErrorType(ALWAYS_FAIL, source << ":" << 1 + std::count(text.begin(), text.begin() + doctype, '\n')
                                         << ": <!DOCTYPE>: internal declarations ([...]) are not read: remove them",
                     errorType());
  }
}

void VexlXmlInterpreter::checkNoContent(const TiXmlElement& element, bool takesElements, const std::string& source) {
  for (const TiXmlNode* node = element.FirstChild(); node != nullptr; node = node->NextSibling()) {
    if (node->Type() == TiXmlNode::TINYXML_COMMENT || (takesElements && node->ToElement() != nullptr))
      continue;
    try {
      requireNoContent(element, takesElements, node->Row());
    } catch (const TransactionError& e) {
      checkErrorType(ALWAYS_FAIL, source << ":" << node->Row() << ": " << describe(element) << ": " << e.message,
                     errorType());
    }
  }
}

std::string VexlXmlInterpreter::interpretFile(const std::string& path) {
  return interpretText(readFile(path, "model file"), path);
}

std::string VexlXmlInterpreter::interpret(std::istream& input, const std::string& source) {
  const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
  return interpretText(text, source);
}

std::string VexlXmlInterpreter::interpretText(const std::string& text, const std::string& source) {
  checkXmlText(text, source);
  checkXmlMarkup(text, source);
  TiXmlDocument doc(source.c_str());
  try {
    doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  } catch (const std::bad_alloc&) {
    // The parser links an element once it is read: the last one linked is where it got to.
    const TiXmlNode* last = &doc;
    while (last->LastChild() != nullptr)
      last = last->LastChild();
    while (last != &doc && last->ToElement() == nullptr)
      last = last->Parent();
    if (last != &doc)
      Error("ALWAYS_FAIL", source + ":" + std::to_string(last->Row()) + ": <" + last->Value() +
                               ">: memory ran out while parsing the XML after this element",
            errorType(), KORVAN_ERROR_FILE(), __LINE__).handleAssert();
    // Nothing linked: the root is linked only once it is whole, so it is the element being read.
    size_t row = 1, length = 0;
    const char* root = rootElement(text, row, length);
    Error("ALWAYS_FAIL", source + ":" + std::to_string(row) + ":" +
                             (root == nullptr ? std::string(" memory ran out while parsing the XML")
                                              : " <" + std::string(root, length) +
                                                    ">: memory ran out while reading this element"),
          errorType(), KORVAN_ERROR_FILE(), __LINE__).handleAssert();
  }
  checkErrorType(!doc.Error(), source << ":" << std::max(doc.ErrorRow(), 1) << ": malformed XML: "
                                      << doc.ErrorDesc(),
                 errorType());
  const TiXmlElement* root = doc.RootElement();
  checkErrorType(root != nullptr, source << ":1: <vexl>: no XML element: a model is one element "
                                            "(<vexl>) holding its transactions",
                 errorType());
  // Text between the transactions would be dropped: a model is elements only.
  checkNoContent(*root, true, source);
  unsigned int count = 0;
  for (const TiXmlElement* element = root->FirstChildElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    // Keys only grow, so what a transaction makes lies above the largest key
    // held before it: two keys undo it, where copying every key and name made
    // reading quadratic in the model.
    const int lastObject = m_db->getObjects().empty() ? 0 : m_db->getObjects().rbegin()->first;
    const int lastToken = m_db->getTokens().empty() ? 0 : m_db->getTokens().rbegin()->first;
    std::string message;
    bool outOfMemory = false;
    const unsigned long failures = MemoryReserve::failures();
    try {
      execute(*element);
      // A failed allocation that a stream swallowed (a debug line, a name) is one all the same.
      if (MemoryReserve::failures() != failures)
        throw std::bad_alloc();
      count++;
      m_transactionCount++;
      continue;
    } catch (const std::bad_alloc&) {
      message = "memory ran out while reading this element";
      outOfMemory = true;
    } catch (const TransactionError& e) {
      message = e.message;
    } catch (const Error& e) {
      message = describeError(e);
    } catch (const std::exception& e) {
      message = e.what();
    }
    // A token is named last, once nothing of its transaction can fail; names
    // of tokens made here are dropped all the same.
    for (std::map<std::string, TokenId>::iterator it = m_tokens.begin(); it != m_tokens.end();) {
      if (it->second.isValid() && it->second->getKey() > lastToken)
        it = m_tokens.erase(it);
      else
        ++it;
    }
    try {
      rollback(lastObject, lastToken);
    } catch (const Error& e) {
      // Short of memory, undoing may fail for the same reason: the run ends anyway.
      if (!outOfMemory)
        message += " (and undoing the transaction failed: " + describeError(e) + ")";
    } catch (const std::bad_alloc&) {
      if (!outOfMemory)
        message += " (and memory ran out while undoing it)";
    }
    // Composed without a string stream, which would cut the text short when memory runs out.
    message = source + ":" + std::to_string(element->Row()) + ": " + describe(*element) + ": " + message;
    debugMsg("VexlXmlInterpreter:interpret", message);
    Error("ALWAYS_FAIL", message, errorType(), KORVAN_ERROR_FILE(), __LINE__).handleAssert();
  }
  // A model that leaves the plan database open may still name objects to come, but none came.
  if (!m_db->isClosed())
    for (const std::pair<const int, TokenId>& entry : m_db->getTokens())
      if (!hasHolder(entry.second->getPredicateName())) {
        std::map<int, int>::const_iterator line = m_tokenLines.find(entry.first);
        checkErrorType(ALWAYS_FAIL, source << ":" << (line != m_tokenLines.end() ? line->second : root->Row()) << ": "
                                           << (entry.second->isFact() ? "<fact>" : "<goal>") << ": "
                                           << noHolder(entry.second->getPredicateName(), tokenLabel(entry.second)),
                       errorType());
      }
  std::ostringstream summary;
  summary << source << ": " << count << " transaction(s)";
  return summary.str();
}

void VexlXmlInterpreter::rollback(int lastObject, int lastToken) {
  std::vector<TokenId> newTokens;
  for (std::map<int, TokenId>::const_iterator it = m_db->getTokens().upper_bound(lastToken);
       it != m_db->getTokens().end(); ++it)
    newTokens.push_back(it->second);
  for (std::vector<TokenId>::reverse_iterator it = newTokens.rbegin(); it != newTokens.rend(); ++it)
    if (it->isValid() && !(*it)->isDeleted())
      m_db->getClient()->deleteToken(*it);
  std::vector<ObjectId> newObjects;
  for (std::map<int, ObjectId>::const_iterator it = m_db->getObjects().upper_bound(lastObject);
       it != m_db->getObjects().end(); ++it)
    newObjects.push_back(it->second);
  for (std::vector<ObjectId>::reverse_iterator it = newObjects.rbegin(); it != newObjects.rend(); ++it)
    if (it->isValid())
      (*it)->discard();
}

void VexlXmlInterpreter::execute(const TiXmlElement& element) {
  const std::string tag = element.Value();
  debugMsg("VexlXmlInterpreter:execute", "line " << element.Row() << ": " << tag);
  if (tag == "class")
    executeClass(element);
  else if (tag == "new")
    executeNew(element);
  else if (tag == "set")
    executeSet(element);
  else if (tag == "close")
    executeClose(element);
  else if (tag == "goal")
    executeToken(element, false);
  else if (tag == "fact")
    executeToken(element, true);
  else if (tag == "constraint")
    executeConstraint(element);
  else if (tag == "specify")
    executeSpecify(element);
  else if (tag == "reset")
    executeReset(element);
  else
    reject("unknown transaction");
}

void VexlXmlInterpreter::executeClass(const TiXmlElement& element) {
  const SchemaId& schema = m_db->getSchema();
  requireKnownAttributes(element, {"name", "extends"});
  requireNoContent(element, true, element.Row());
  LabelStr name(requireAttribute(element, "name"));
  const char* extendsText = element.Attribute("extends");
  LabelStr parent = extendsText != nullptr ? LabelStr(extendsText) : Schema::rootObject();
  if (schema->isObjectType(name))
    reject("type " + quoted(name.toString()) + " is already defined");
  if (name.toString().find_first_of(".: \t") != std::string::npos)
    reject("invalid type name " + quoted(name.toString()));
  if (!schema->isObjectType(parent))
    reject("unknown type " + quoted(parent.toString()));
  if (isNativeClass(parent.toString()))
    reject("cannot extend the native class " + quoted(parent.toString()));

  // Check everything before the schema changes: it cannot be rolled back.
  std::vector<InterpretedTokenFactory::Member> members;
  std::vector<std::pair<LabelStr, std::pair<bool, std::vector<InterpretedTokenFactory::Member>>>> predicates;
  std::set<std::string> memberNames, predicateNames;
  auto readMember = [&](const TiXmlElement& m, std::set<std::string>& names) {
    requireKnownAttributes(m, {"name", "type"}, lineOf(m));
    requireNoContent(m, false, element.Row());
    LabelStr memberName(requireAttribute(m, "name"));
    LabelStr type(requireAttribute(m, "type"));
    // A scope names a member after the last dot, and splits at blanks.
    if (memberName.toString().find_first_of(".: \t\r\n") != std::string::npos)
      reject("line " + std::to_string(m.Row()) + ": invalid member name " + quoted(memberName.toString()) +
             " (a name without dots, colons or blanks)");
    std::unique_ptr<AbstractDomain> domain(InterpretedTokenFactory::makeDefaultDomain(type));
    if (domain.get() == nullptr)
      reject("line " + std::to_string(m.Row()) + ": unknown member type " + quoted(type.toString()) +
             " (float, int or bool)");
    if (!names.insert(memberName.toString()).second)
      reject("line " + std::to_string(m.Row()) + ": duplicate member " + quoted(memberName.toString()));
    return InterpretedTokenFactory::Member(memberName, type);
  };
  for (const TiXmlElement* child = element.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    std::string childTag = child->Value();
    if (childTag == "member") {
      InterpretedTokenFactory::Member member = readMember(*child, memberNames);
      if (schema->hasMember(parent, member.first))
        reject("line " + std::to_string(child->Row()) + ": member " +
               quoted(member.first.toString()) + " is inherited");
      members.push_back(member);
    } else if (childTag == "predicate") {
      requireKnownAttributes(*child, {"name", "kind"}, lineOf(*child));
      requireNoContent(*child, true, element.Row());
      std::string predicateName = requireAttribute(*child, "name");
      if (predicateName.find_first_of(".: \t\r\n") != std::string::npos)
        reject("line " + std::to_string(child->Row()) + ": invalid predicate name " + quoted(predicateName) +
               " (a name without dots, colons or blanks)");
      if (!predicateNames.insert(predicateName).second)
        reject("line " + std::to_string(child->Row()) + ": duplicate predicate " + quoted(predicateName));
      const char* kind = child->Attribute("kind");
      std::string kindText = kind != nullptr ? kind : "interval";
      if (kindText != "interval" && kindText != "event")
        reject("line " + std::to_string(child->Row()) + ": predicate kind must be interval or event, got " +
               quoted(kindText));
      std::vector<InterpretedTokenFactory::Member> parameters;
      std::set<std::string> parameterNames = {"state", "object", "start", "end", "duration", "time"};
      for (const TiXmlElement* m = child->FirstChildElement(); m != nullptr; m = m->NextSiblingElement()) {
        if (std::string(m->Value()) != "member")
          reject("line " + std::to_string(m->Row()) + ": unknown element <" + m->Value() + "> in a predicate");
        parameters.push_back(readMember(*m, parameterNames));
      }
      predicates.push_back(std::make_pair(LabelStr(name.toString() + "." + predicateName),
                                          std::make_pair(kindText == "event", parameters)));
    } else
      reject("line " + std::to_string(child->Row()) + ": unknown element <" + childTag + "> in a class");
  }

  schema->addObjectType(name, parent);
  for (const InterpretedTokenFactory::Member& member : members)
    schema->addMember(name, member.second, member.first);
  ExprConstructorSuperCall* super = nullptr;
  if (parent != Schema::rootObject())
    super = new ExprConstructorSuperCall(parent, std::vector<unsigned int>());
  InterpretedObjectFactory* factory =
      new InterpretedObjectFactory(name.c_str(), name, std::vector<std::string>(),
                                   std::vector<std::string>(), super, std::vector<Expr*>(), false);
  schema->registerObjectFactory(factory->getId());
  for (const auto& predicate : predicates) {
    schema->addPredicate(predicate.first);
    for (const InterpretedTokenFactory::Member& member : predicate.second.second)
      schema->addMember(predicate.first, member.second, member.first);
    InterpretedTokenFactory* tokenFactory =
        new InterpretedTokenFactory(predicate.first, predicate.second.first, predicate.second.second);
    schema->registerTokenFactory(tokenFactory->getId());
  }
}

void VexlXmlInterpreter::executeNew(const TiXmlElement& element) {
  const SchemaId& schema = m_db->getSchema();
  requireKnownAttributes(element, {"type", "name"});
  requireNoContent(element, true, element.Row());
  LabelStr type(requireAttribute(element, "type"));
  LabelStr name(requireOneWord(requireAttribute(element, "name"), "object"));
  if (!schema->isObjectType(type))
    reject("unknown type " + quoted(type.toString()));
  if (m_db->getObject(name).isValid())
    reject("duplicate object name " + quoted(name.toString()));
  if (m_tokens.count(name.toString()) != 0)
    reject("the name " + quoted(name.toString()) + " is already a token's");
  std::vector<std::unique_ptr<AbstractDomain>> owned;
  std::vector<const AbstractDomain*> arguments;
  std::vector<LabelStr> argTypes;
  for (const TiXmlElement* child = element.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    if (std::string(child->Value()) != "float")
      reject("line " + std::to_string(child->Row()) + ": unsupported argument <" + child->Value() +
             "> (only <float value=\"...\"/>)");
    requireKnownAttributes(*child, {"value"}, lineOf(*child));
    requireNoContent(*child, false, element.Row());
    double value = requireNumber(requireAttribute(*child, "value"), "an argument");
    owned.emplace_back(new IntervalDomain(value, value));
    arguments.push_back(owned.back().get());
    argTypes.push_back(owned.back()->getTypeName());
  }
  LabelStr signature = Schema::makeSignature(type, argTypes);
  if ((!arguments.empty() || isNativeClass(type.toString())) && schema->findObjectFactory(type, argTypes).isNoId())
    reject("unknown constructor signature " + quoted(signature.toString()) + argumentCounts(type));
  if (m_db->isClosed())
    reject("the plan database is closed: no object can be created");
  ObjectId object = m_db->getClient()->createObject(type, name, arguments);
  m_argumentCounts[name.toString()] = arguments.size();
  debugMsg("VexlXmlInterpreter:executeNew", "Created " << object->toString() << " with "
                                                      << signature.toString());
}

void VexlXmlInterpreter::executeSet(const TiXmlElement& element) {
  requireKnownAttributes(element, {"object", "member", "value"});
  requireNoContent(element, false, element.Row());
  std::string objectName = requireAttribute(element, "object");
  LabelStr member(requireAttribute(element, "member"));
  std::string valueText = requireAttribute(element, "value");
  ObjectId object = getObject(objectName);
  if (object.isNoId())
    reject("unknown object " + quoted(objectName));
  if (object->isClosed())
    reject("object " + quoted(objectName) + " is closed");
  ConstrainedVariableId var = object->getVariable(LabelStr(objectName + "." + member.toString()));
  // A native class reads only the members it declares: any other would be made and then ignored
  // (member="profiletype" leaves the default profile).
  std::map<std::string, std::set<std::string>>::const_iterator native = m_nativeClasses.find(object->getType().toString());
  if (native != m_nativeClasses.end() && !m_db->getSchema()->hasMember(object->getType(), member) &&
      native->second.count(member.toString()) == 0) {
    std::string takes;
    for (const Schema::NameTypePair& declared : m_db->getSchema()->getMembers(object->getType()))
      takes += (takes.empty() ? "" : ", ") + declared.first.toString();
    for (const std::string& optional : native->second)
      takes += (takes.empty() ? "" : ", ") + optional;
    reject(quoted(object->getType().toString()) + " has no member " + quoted(member.toString()) + " (it has " +
           (takes.empty() ? std::string("none") : takes) + ")");
  }
  double value = 0;
  // A bool member takes true and false as its values; a word on any other member is a label.
  const bool boolWord = var.isValid() && var->baseDomain().isBool() && (valueText == "true" || valueText == "false");
  if (boolWord || parseNumber(valueText, value) || numberLike(valueText)) {
    value = boolWord ? (valueText == "true" ? 1 : 0) : requireNumber(valueText, "the member value");
    if (var.isNoId()) {
      object->addVariable(IntervalDomain(value, value), member);
      return;
    }
    // A native object's parameters are what its <new> made them: <set> could only repeat them.
    const AbstractDomain& made = var->baseDomain();
    if (native != m_nativeClasses.end() && made.isSingleton() && made.isNumeric() && made.getSingletonValue() != value)
      rejectFixedParameter(object, member.toString(), made.getSingletonValue());
    std::unique_ptr<AbstractDomain> domain = narrowed(var, value, value, member.toString());
    m_db->getClient()->restrict(var, *domain);
    return;
  }
  if (var.isValid() && var->baseDomain().isNumeric())
    reject("member " + quoted(member.toString()) + " is numeric; " + quoted(valueText) +
           " is not a number");
  if (var.isValid()) {
    const AbstractDomain& held = var->baseDomain();
    const bool label = held.isSingleton() && LabelStr::isString(held.getSingletonValue());
    reject("member " + quoted(member.toString()) + " is already set to " +
           (label ? quoted(LabelStr(held.getSingletonValue()).toString()) : held.toString()) +
           ": a member is set once");
  }
  object->addVariable(EnumeratedDomain(LabelStr(valueText).getKey(), LabelStr("string"), false), member);
  // The object judges its members when it closes; a word it refuses is the fault of this line.
  try {
    object->checkClose();
  } catch (const Error& e) {
    if (e.getMsg().find(objectName + "." + member.toString()) != std::string::npos)
      throw;
  }
}

void VexlXmlInterpreter::rejectFixedParameter(const ObjectId& object, const std::string& member, double held) {
  const std::string objectName = object->getName().toString();
  const size_t count = m_argumentCounts[objectName];
  reject(quoted(member) + " of " + quoted(objectName) + " is " +
         (held >= g_infiniteTimeAsDouble() ? std::string("+inf") : held <= -g_infiniteTimeAsDouble() ? std::string("-inf") : toString(held)) +
         " in the form of <new> that made it (" + object->getType().toString() + " with " + std::to_string(count) +
         " argument" + (count == 1 ? "" : "s") + "), and that form has no parameter to set: give it as an argument of <new>" +
         argumentCounts(object->getType()));
}

void VexlXmlInterpreter::executeClose(const TiXmlElement& element) {
  requireKnownAttributes(element, {"object"});
  requireNoContent(element, false, element.Row());
  const char* objectName = element.Attribute("object");
  if (objectName != nullptr) {
    ObjectId object = getObject(objectName);
    if (object.isNoId())
      reject("unknown object " + quoted(objectName));
    if (object->isClosed())
      reject("object " + quoted(objectName) + " is already closed");
    object->checkClose();
    m_db->getClient()->close(object);
    return;
  }
  if (m_db->isClosed())
    reject("the plan database is already closed");
  std::vector<ObjectId> open;
  for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
    if (!entry.second->isClosed())
      open.push_back(entry.second);
  for (const std::pair<const int, TokenId>& entry : m_db->getTokens())
    if (!hasHolder(entry.second->getPredicateName())) {
      reject("cannot close the plan database: " + noHolder(entry.second->getPredicateName(), tokenLabel(entry.second)));
    }
  // A closed object cannot be opened again: every object is checked before any is closed.
  for (const ObjectId& object : open) {
    try {
      object->checkClose();
    } catch (const Error& e) {
      reject("cannot close " + quoted(object->getName().toString()) + ": " + describeError(e));
    }
  }
  for (const ObjectId& object : open)
    m_db->getClient()->close(object);
  m_db->getClient()->close();
}

namespace {

// A variable's bounds as the model wrote them; true and false wait for the variable's type.
struct TokenBound {
  std::string name, text;
  std::pair<double, double> range;
  bool boolWords;
};

std::vector<TokenBound> tokenBounds(const TiXmlElement& element) {
  std::vector<TokenBound> bounds;
  for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
       attribute = attribute->Next()) {
    std::string attributeName = attribute->Name();
    if (attributeName == "predicate" || attributeName == "name" || attributeName == "object" ||
        attributeName == "rejectable")
      continue;
    if (isBoolText(attribute->Value())) {
      bounds.push_back(TokenBound{attributeName, attribute->Value(), std::make_pair(0.0, 1.0), true});
      continue;
    }
    bounds.push_back(TokenBound{attributeName, attribute->Value(), parseBounds(attribute->Value(), attributeName), false});
    // A time point pinned at the horizon leaves no time for the token: its start, end and
    // duration could not agree.
    const std::pair<double, double>& range = bounds.back().range;
    if ((attributeName == "start" || attributeName == "end" || attributeName == "time") &&
        (range.first >= g_infiniteTimeAsDouble() || range.second <= -g_infiniteTimeAsDouble()))
      reject(quoted(attributeName) + " must allow a finite time, got " + quoted(attribute->Value()));
    // A token that lasts to the horizon has no end before it; an infinite quantity would be read
    // as the horizon's number of units.
    if (attributeName == "duration" && range.first >= g_infiniteTimeAsDouble())
      reject("'duration' must allow a finite time, got " + quoted(attribute->Value()));
    if (attributeName == "quantity" && (range.first >= g_infiniteTimeAsDouble() || range.second <= -g_infiniteTimeAsDouble()))
      reject("'quantity' must allow a finite amount, got " + quoted(attribute->Value()));
  }
  return bounds;
}

} // namespace

std::string VexlXmlInterpreter::tokenLabel(const TokenId& token) const {
  for (const std::pair<const std::string, TokenId>& named : m_tokens)
    if (named.second == token)
      return named.first;
  return token->toString();
}

bool VexlXmlInterpreter::hasHolder(const LabelStr& predicate) const {
  const SchemaId& schema = m_db->getSchema();
  const LabelStr type = schema->getObjectType(predicate);
  for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
    if (schema->isA(entry.second->getType(), type))
      return true;
  return false;
}

std::string VexlXmlInterpreter::noHolder(const LabelStr& predicate, const std::string& token) const {
  const std::string type = m_db->getSchema()->getObjectType(predicate).toString();
  return "no object of the model can hold " + quoted(predicate.toString()) +
         (token.empty() ? std::string() : " (token " + quoted(token) + ")") + ": the token would be on none (make a " +
         type + " with <new> first)";
}

// Tokens of the modules' classes reach their object through the object's constraint when
// the object list becomes final; before the object is closed, or while more objects may
// still come, they would silently reach no object at all.
void VexlXmlInterpreter::requireClosedHolders(const LabelStr& predicate,
                                               const std::list<double>& objects) const {
  if (!isNativePredicate(predicate.toString()))
    return;
  const SchemaId& schema = m_db->getSchema();
  std::vector<ObjectId> candidates;
  if (!objects.empty()) {
    for (double value : objects)
      candidates.push_back(ObjectId(value));
  } else {
    for (const std::pair<const int, ObjectId>& entry : m_db->getObjects())
      if (schema->isA(entry.second->getType(), schema->getObjectType(predicate)))
        candidates.push_back(entry.second);
  }
  if (candidates.empty())
    reject(noHolder(predicate, std::string()));
  for (const ObjectId& object : candidates)
    if (!object->isClosed())
      reject("resource " + object->getName().toString() +
             " is not closed yet: tokens on a resource come after it is closed (<close/>)");
  if (!m_db->isClosed())
    reject("the plan database is still open: tokens on resources come after <close/>");
}

void VexlXmlInterpreter::executeToken(const TiXmlElement& element, bool isFact) {
  const SchemaId& schema = m_db->getSchema();
  requireNoContent(element, false, element.Row());
  LabelStr predicate(requireAttribute(element, "predicate"));
  if (!schema->isPredicate(predicate))
    reject("unknown predicate " + quoted(predicate.toString()));
  std::string name;
  if (element.Attribute("name") != nullptr) {
    name = requireOneWord(requireAttribute(element, "name"), "token");
    if (m_tokens.count(name) != 0 && m_tokens[name].isValid())
      reject("duplicate token name " + quoted(name));
    if (getObject(name).isValid())
      reject("the name " + quoted(name) + " is already an object's");
  }
  bool rejectable = false;
  if (element.Attribute("rejectable") != nullptr)
    rejectable = parseBool(element.Attribute("rejectable"), "rejectable");
  std::list<double> objects;
  if (element.Attribute("object") != nullptr) {
    std::vector<std::string> names = words(requireAttribute(element, "object"));
    if (names.empty())
      reject("empty attribute 'object'");
    for (const std::string& objectName : names) {
      ObjectId object = getObject(objectName);
      if (object.isNoId())
        reject("unknown object " + quoted(objectName));
      if (!schema->isA(object->getType(), schema->getObjectType(predicate)))
        reject("object " + quoted(objectName) + " of type " + quoted(object->getType().toString()) +
               " cannot hold " + quoted(predicate.toString()));
      objects.push_back((double)object);
    }
  }
  requireClosedHolders(predicate, objects);
  // Once the plan database is closed no object can come: a token that none can hold is on none.
  if (objects.empty() && m_db->isClosed() && !hasHolder(predicate))
    reject(noHolder(predicate, std::string()));
  // Bounds are read before the token exists, so that their syntax errors cost nothing.
  std::vector<TokenBound> bounds = tokenBounds(element);
  // The windows are set before the token is closed: a resource token joins its profile
  // when it is active on a single resource, and filed with unbounded times it would sit in
  // every instant of the profile until the windows came.
  TokenId token = m_db->getClient()->createToken(predicate, rejectable, isFact, [&](const TokenId& made) {
    for (const TokenBound& bound : bounds) {
      ConstrainedVariableId var = made->getVariable(LabelStr(bound.name));
      if (var.isNoId() && bound.name == "start")
        var = made->start();
      else if (var.isNoId() && bound.name == "end")
        var = made->end();
      else if (var.isNoId() && bound.name == "duration")
        var = made->duration();
      if (var.isNoId())
        reject(quoted(predicate.toString()) + " has no variable " + quoted(bound.name));
      const std::pair<double, double> range =
          bound.boolWords ? boolBounds(var->baseDomain(), bound.text, bound.name) : bound.range;
      std::unique_ptr<AbstractDomain> domain = narrowed(var, range.first, range.second, bound.name);
      m_db->getClient()->restrict(var, *domain);
    }
    requireEndBeforeHorizon(made, ConstrainedVariableId::noId(), 0);
    narrowToImpliedWindows(made);
  });
  if (!objects.empty()) {
    ConstrainedVariableId objectVar = token->getObject();
    std::unique_ptr<AbstractDomain> domain(objectVar->baseDomain().copy());
    domain->intersect(ObjectDomain(objects, true, objectVar->baseDomain().getTypeName()));
    // Naming the objects closes the list: objects made later do not join it.
    if (domain->isOpen())
      domain->close();
    if (domain->isEmpty())
      reject("none of the objects " + quoted(element.Attribute("object")) + " can hold the token");
    m_db->getClient()->restrict(objectVar, *domain);
  }
  if (!name.empty())
    m_tokens[name] = token;
  m_tokenLines[token->getKey()] = element.Row();
  debugMsg("VexlXmlInterpreter:executeToken", "Created " << token->toString()
                                                        << (name.empty() ? "" : " as " + name));
}

// The start and the duration given, or one of them specified to a value, may leave no end
// before the horizon.
void VexlXmlInterpreter::requireEndBeforeHorizon(const TokenId& token, const ConstrainedVariableId& var, double value) {
  if (token->start().isNoId() || token->duration().isNoId() || token->start() == token->end())
    return;
  // A time pinned at the horizon itself is left to the plan's check, which names it.
  if (var.isValid() && (var == token->start() || var == token->end()) && value >= g_infiniteTimeAsDouble())
    return;
  const double start = var == token->start() ? value : token->start()->lastDomain().getLowerBound();
  const double duration = var == token->duration() ? value : token->duration()->lastDomain().getLowerBound();
  if (start + duration >= g_infiniteTimeAsDouble())
    reject("the token cannot end before the horizon (" + toString(g_infiniteTimeAsDouble()) + "): it starts at " +
           toString(start) + " at the earliest and lasts at least " + toString(duration));
  if (var.isValid() && var == token->duration() && value >= g_infiniteTimeAsDouble())
    reject("the token cannot end before the horizon (" + toString(g_infiniteTimeAsDouble()) + "): it lasts " +
           toString(value));
}

namespace {

// Sums and differences of times, infinite when an operand is.
double timeSum(double a, double b, bool upper) {
  const double inf = g_infiniteTimeAsDouble();
  if (upper ? (a >= inf || b >= inf) : (a <= -inf || b <= -inf))
    return upper ? inf : -inf;
  return std::max(-inf, std::min(inf, a + b));
}

// Narrows a derived domain as a propagator does: the base domain stays what the
// model gave, for <specify> and for every relaxation.
class ImpliedWindow : public Propagator {
public:
  static void narrow(const ConstrainedVariableId& var, double lb, double ub) {
    const double inf = g_infiniteTimeAsDouble();
    const AbstractDomain& domain = var->lastDomain();
    if (lb >= inf || ub <= -inf || !domain.isNumeric() || domain.isEmpty())
      return;
    // Windows the temporal network would find empty are left to it, and to its messages.
    if (lb > domain.getUpperBound() || ub < domain.getLowerBound())
      return;
    if (lb <= domain.getLowerBound() && ub >= domain.getUpperBound())
      return;
    debugMsg("VexlXmlInterpreter:narrowToImpliedWindows",
             var->toString() << " to [" << lb << " " << ub << "]");
    getCurrentDomain(var).intersect(lb, ub);
  }
};

} // namespace

// Propagation derives these windows anyway (end = start + duration holds as long as the
// token exists); given now, a resource token's end joins its profile within its window
// rather than over the whole horizon until the first propagation.
void VexlXmlInterpreter::narrowToImpliedWindows(const TokenId& token) {
  const ConstrainedVariableId start = token->start();
  const ConstrainedVariableId end = token->end();
  const ConstrainedVariableId duration = token->duration();
  if (start.isNoId() || end.isNoId() || duration.isNoId() || start == end)
    return;
  const AbstractDomain& d = duration->lastDomain();
  ImpliedWindow::narrow(end, timeSum(start->lastDomain().getLowerBound(), d.getLowerBound(), false),
                        timeSum(start->lastDomain().getUpperBound(), d.getUpperBound(), true));
  ImpliedWindow::narrow(start, timeSum(end->lastDomain().getLowerBound(), -d.getUpperBound(), false),
                        timeSum(end->lastDomain().getUpperBound(), -d.getLowerBound(), true));
}

ConstrainedVariableId VexlXmlInterpreter::resolveVariable(const std::string& reference) const {
  std::string::size_type dot = reference.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == reference.size())
    reject("expected token.variable or object.member, got " + quoted(reference));
  std::string owner = reference.substr(0, dot);
  std::string member = reference.substr(dot + 1);
  TokenId token = getToken(owner);
  if (token.isValid()) {
    ConstrainedVariableId var = token->getVariable(LabelStr(member));
    if (var.isNoId() && member == "start")
      var = token->start();
    else if (var.isNoId() && member == "end")
      var = token->end();
    else if (var.isNoId() && member == "duration")
      var = token->duration();
    if (var.isNoId())
      reject("token " + quoted(owner) + " has no variable " + quoted(member));
    return var;
  }
  ObjectId object = getObject(owner);
  if (object.isNoId())
    reject("unknown token or object " + quoted(owner));
  ConstrainedVariableId var = object->getVariable(LabelStr(reference));
  if (var.isNoId())
    reject("object " + quoted(owner) + " has no member " + quoted(member));
  return var;
}

void VexlXmlInterpreter::executeConstraint(const TiXmlElement& element) {
  requireKnownAttributes(element, {"name", "scope"});
  requireNoContent(element, false, element.Row());
  LabelStr name(requireAttribute(element, "name"));
  const ConstraintEngineId& ce = m_db->getConstraintEngine();
  if (!ce->getCESchema()->isConstraintType(name))
    reject("unknown constraint " + quoted(name.toString()));
  std::vector<std::string> references = words(requireAttribute(element, "scope"));
  if (references.empty())
    reject("empty attribute 'scope'");
  std::vector<ConstrainedVariableId> scope;
  for (const std::string& reference : references)
    scope.push_back(resolveVariable(reference));
  ConstraintId constraint;
  try {
    constraint = m_db->getClient()->createConstraint(name, scope);
  } catch (const Error& e) {
    reject("constraint " + quoted(name.toString()) + " cannot be posted over " +
           quoted(element.Attribute("scope")) + ": " + describeError(e));
  }
  debugMsg("VexlXmlInterpreter:executeConstraint", "Posted " << constraint->toString());
}

void VexlXmlInterpreter::executeSpecify(const TiXmlElement& element) {
  requireKnownAttributes(element, {"variable", "value"});
  requireNoContent(element, false, element.Row());
  ConstrainedVariableId var = resolveVariable(requireAttribute(element, "variable"));
  std::string valueText = requireAttribute(element, "value");
  double value = 0;
  if (var->baseDomain().isBool() && (valueText == "true" || valueText == "false"))
    value = valueText == "true" ? 1 : 0;
  else if (var->baseDomain().isNumeric()) {
    value = requireNumber(valueText, "the value");
    requireWhole(var->baseDomain(), value, value, element.Attribute("variable"));
  }
  else if (dynamic_cast<const ObjectDomain*>(&var->baseDomain()) != nullptr) {
    ObjectId object = getObject(valueText);
    if (object.isNoId())
      reject("unknown object " + quoted(valueText));
    value = (double)object;
  } else if (LabelStr::isString(valueText))
    value = LabelStr(valueText).getKey();
  else
    reject("unknown value " + quoted(valueText));
  // A native object's parameter holds what its <new> gave: another value is no choice to specify.
  const std::string reference = element.Attribute("variable");
  const ObjectId owner = getObject(reference.substr(0, reference.rfind('.')));
  const AbstractDomain& base = var->baseDomain();
  if (owner.isValid() && isNativeClass(owner->getType().toString()) && base.isSingleton() && base.isNumeric() &&
      base.getSingletonValue() != value)
    rejectFixedParameter(owner, reference.substr(reference.rfind('.') + 1), base.getSingletonValue());
  if (!var->baseDomain().isMember(value))
    reject(quoted(valueText) + " is not in the domain " + var->baseDomain().toString() + " of " +
           quoted(element.Attribute("variable")));
  if (!var->canBeSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " cannot be specified");
  // A window of one value holds it already: specifying that value changes nothing (the engine
  // keeps such a variable as specified, which is no <specify> the model wrote).
  if (var->baseDomain().isSingleton() && var->baseDomain().getSingletonValue() == value)
    return;
  if (var->isSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " is already specified");
  const TokenId token = getToken(reference.substr(0, reference.rfind('.')));
  if (token.isValid())
    requireEndBeforeHorizon(token, var, value);
  m_db->getClient()->specify(var, value);
}

void VexlXmlInterpreter::executeReset(const TiXmlElement& element) {
  requireKnownAttributes(element, {"variable"});
  requireNoContent(element, false, element.Row());
  ConstrainedVariableId var = resolveVariable(requireAttribute(element, "variable"));
  if (!var->isSpecified())
    reject("variable " + quoted(element.Attribute("variable")) + " is not specified");
  m_db->getClient()->reset(var);
}

} // namespace KORVAN
