#include "Vexl/VexlXmlInterpreter.hh"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>
#include <string>
#include <tinyxml.h>
#include <utility>
#include <vector>

#include "Utils/base/Error.hh"
#include "Utils/base/Utils.hh"
#include "Vexl/VexlXmlParsing.hh"

// The model's text before any element is read: what the XML parser would drop or misread is
// refused here, with the line, and the parse itself reports where memory ran out.

namespace KORVAN {

using namespace VexlParsing;

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

// The offset of the first byte past 0x7F, or npos.
size_t firstHighByte(const std::string& text) {
  for (size_t i = 0; i < text.size(); i++)
    if (static_cast<unsigned char>(text[i]) >= 0x80)
      return i;
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
  // XML writes a hexadecimal reference with a lower-case x only; the parser reads no other.
  if (name.size() > 1 && name[0] == '#' && name[1] == 'X')
    return "the character reference '&" + name + ";' is written with a lower-case x: '&#x" + name.substr(2) + ";'";
  const bool hex = name.size() > 2 && name[0] == '#' && name[1] == 'x';
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

// One pass over the markup only: comments, CDATA sections, declarations and quoted attribute
// values cannot open elements. Offsets of the names of the open elements, for the messages.
class MarkupScan {
public:
  MarkupScan(const std::string& text, const std::string& source)
      : m_text(text), m_source(source), m_n(text.size()), m_badByte(firstNonUtf8(text)) {}

  // Whether the file is declared ISO-8859-1, to be read from UTF-8 made of it.
  bool run() {
    while (m_i < m_n) {
      const char c = m_text[m_i];
      checkByte(m_i);
      if (c != '<') {
        textByte(c);
        continue;
      }
      if (m_text.compare(m_i, 4, "<!--") == 0)
        comment();
      else if (m_text.compare(m_i, 9, "<![CDATA[") == 0)
        skipTo("]]>");
      else if (m_text.compare(m_i, 2, "<?") == 0)
        processingInstruction();
      else if (m_text.compare(m_i, 2, "<!") == 0)
        doctype();
      else if (m_text.compare(m_i, 2, "</") == 0)
        endTag();
      else
        startTag();
    }
    // The parser says only that an element value could not be read, at the first line.
    if (!m_open.empty())
      checkErrorType(ALWAYS_FAIL, where(m_open.back().line) << "never closed: the file ends before </"
                                                            << name(m_open.back()) << ">",
                     errorType());
    return m_encoding == "ISO-8859-1";
  }

private:
  static const std::string& errorType() { return VexlXmlInterpreter::errorType(); }
  static unsigned int maxXmlDepth() { return VexlXmlInterpreter::maxXmlDepth(); }
  static unsigned int maxXmlAttributes() { return VexlXmlInterpreter::maxXmlAttributes(); }

  // The place a message names: the tag being read, else the innermost open element.
  std::string where(int at) const {
    std::ostringstream os;
    os << m_source << ":" << at << ": ";
    if (m_tagName != std::string::npos)
      os << "<" << m_text.substr(m_tagName, std::min<size_t>(m_tagNameEnd - m_tagName, 40)) << ">: ";
    else if (!m_open.empty())
      os << "<" << name(m_open.back()) << ">: ";
    return os.str();
  }

  void checkByte(size_t at) const {
    if (at == m_badByte && m_encoding == "US-ASCII")
      checkErrorType(ALWAYS_FAIL, where(m_line) << "byte 0x" << std::hex << std::uppercase
                                                << (unsigned int)static_cast<unsigned char>(m_text[at])
                                                << " is not US-ASCII text, as the XML declaration says the file is: "
                                                   "declare the encoding the file is in (UTF-8 when it is left out)",
                     errorType());
    if (at == m_badByte)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "byte 0x" << std::hex << std::uppercase
                                                << (unsigned int)static_cast<unsigned char>(m_text[at])
                                                << " is not UTF-8 text: save the file as UTF-8",
                     errorType());
    // XML text holds no control character but tab, line feed and carriage return (U+7F and up it
    // holds): the parser would take a form feed as a blank.
    const unsigned char b = static_cast<unsigned char>(m_text[at]);
    if (b < 0x20 && b != '\t' && b != '\n' && b != '\r')
      checkErrorType(ALWAYS_FAIL, where(m_line) << "byte 0x" << "0123456789ABCDEF"[b >> 4] << "0123456789ABCDEF"[b & 15]
                                                << " is a control character, which XML text cannot hold: remove it",
                     errorType());
    // U+FFFE and U+FFFF are UTF-8 all the same, but no character of XML text.
    if (m_encoding != "ISO-8859-1" && b == 0xef && m_text.compare(at + 1, 1, "\xbf") == 0 && at + 2 < m_n &&
        (m_text[at + 2] == '\xbe' || m_text[at + 2] == '\xbf'))
      checkErrorType(ALWAYS_FAIL, where(m_line) << "the character U+FFF" << (m_text[at + 2] == '\xbe' ? "E" : "F")
                                                << " is no character of XML text (U+9, U+A, U+D, U+20 to U+D7FF, "
                                                   "U+E000 to U+FFFD, U+10000 to U+10FFFF): remove it",
                     errorType());
  }

  void skipTo(const char* end) {
    size_t stop = m_text.find(end, m_i);
    if (stop == std::string::npos)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "'" << m_text.substr(m_i, m_text.compare(m_i, 4, "<!--") == 0 ? 4
                                                                         : m_text.compare(m_i, 9, "<![CDATA[") == 0 ? 9 : 2)
                                                << "' opened here is never closed (no '" << end << "' after it)",
                     errorType());
    stop += std::strlen(end);
    for (; m_i < stop; m_i++) {
      checkByte(m_i);
      if (m_text[m_i] == '\n')
        m_line++;
    }
  }

  void checkEntity(size_t at) const {
    const std::string problem = entityProblem(m_text, at);
    if (!problem.empty())
      checkErrorType(ALWAYS_FAIL, where(m_line) << problem, errorType());
  }

  // A byte of character data: outside the root only blanks (and a byte order mark) may stand.
  void textByte(char c) {
    if (c == '\n')
      m_line++;
    else if (m_open.empty() && !std::isspace(static_cast<unsigned char>(c)) && !(m_i < 3 && (c & 0x80)))
      checkErrorType(ALWAYS_FAIL, where(m_line) << "text '" << m_text.substr(m_i, std::min<size_t>(m_text.find_first_of("<\r\n", m_i) - m_i, 40))
                                                << "' outside the root element",
                     errorType());
    else if (c == '&')
      checkEntity(m_i);
    m_i++;
  }

  void processingInstruction() {
    size_t targetEnd = m_i + 2;
    while (targetEnd < m_n && !std::isspace(static_cast<unsigned char>(m_text[targetEnd])) && m_text[targetEnd] != '?')
      targetEnd++;
    const std::string target = m_text.substr(m_i + 2, std::min<size_t>(targetEnd - m_i - 2, 40));
    std::string lower = target;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    // The parser takes <?XML ...?> for a declaration; XML reserves the name in any case.
    if (lower == "xml" && target != "xml")
      checkErrorType(ALWAYS_FAIL, where(m_line) << "'<?" << target << "': the XML declaration is written <?xml ...?>, "
                                                   "in lower case, and no other instruction may be named xml",
                     errorType());
    // The declaration names the encoding the whole file is read in: anywhere else it is a
    // mistake the parser would pass over.
    if (target == "xml" && m_text.find_first_not_of("\xef\xbb\xbf") != m_i)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "an XML declaration (<?xml ...?>) past the start of the file: it "
                                                   "comes first or not at all",
                     errorType());
    if (target == "xml")
      declaration(targetEnd);
    skipTo("?>");
  }

  // The line of a position past m_i within the markup being read.
  int lineAt(size_t pos) const { return m_line + static_cast<int>(std::count(m_text.begin() + m_i, m_text.begin() + pos, '\n')); }

  // The declaration at the start, as XML writes it: version, then encoding and standalone, each
  // after a blank and at most once. The parser reads any words there and the file as UTF-8
  // whatever it names: the encoding named is the one the rest of the file is read in.
  void declaration(size_t at) {
    static const char* const pseudo[] = {"version", "encoding", "standalone"};
    const size_t close = std::min(m_text.find("?>", at), m_n);
    const std::string order = "the XML declaration takes version, encoding and standalone, in that order and once each";
    size_t next = 0; // the first pseudo-attribute that may still come
    for (size_t p = at;;) {
      const size_t name = m_text.find_first_not_of(" \t\r\n", p);
      if (name >= close)
        break;
      size_t nameEnd = name;
      while (nameEnd < close && std::strchr(" \t\r\n=\"'", m_text[nameEnd]) == nullptr)
        nameEnd++;
      const std::string word = m_text.substr(name, std::min<size_t>(nameEnd - name, 40));
      const size_t which = std::find(pseudo, pseudo + 3, word) - pseudo;
      if (next == 0 && which != 0)
        checkErrorType(ALWAYS_FAIL, where(lineAt(name)) << "the XML declaration gives no version first (write <?xml "
                                                           "version=\"1.0\"?>)",
                       errorType());
      if (which == 3 || which < next)
        checkErrorType(ALWAYS_FAIL, where(lineAt(name)) << order << ": '" << word << "' "
                                                        << (which == 3 ? "is none of them" : "is out of place"),
                       errorType());
      if (name == p && p != at)
        checkErrorType(ALWAYS_FAIL, where(lineAt(name)) << "no blank before '" << word
                                                        << "' in the XML declaration: its version, encoding and standalone are parted by blanks",
                       errorType());
      const size_t equals = m_text.find_first_not_of(" \t\r\n", nameEnd);
      const size_t open = equals < close ? m_text.find_first_not_of(" \t\r\n", equals + 1) : close;
      if (equals >= close || m_text[equals] != '=' || open >= close || (m_text[open] != '"' && m_text[open] != '\''))
        checkErrorType(ALWAYS_FAIL, where(lineAt(name)) << "'" << word << "' in the XML declaration has no quoted value "
                                                        << "(write " << word << "=\"" << (which == 0 ? "1.0" : which == 1 ? "UTF-8" : "yes")
                                                        << "\")",
                       errorType());
      const size_t end = m_text.find(m_text[open], open + 1);
      if (end >= close)
        checkErrorType(ALWAYS_FAIL, where(lineAt(open)) << "the value of '" << word
                                                        << "' in the XML declaration is never closed",
                       errorType());
      pseudoAttribute(which, m_text.substr(open + 1, end - open - 1), lineAt(open));
      next = which + 1;
      p = end + 1;
    }
    if (next == 0)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "the XML declaration gives no version first (write <?xml "
                                                   "version=\"1.0\"?>)",
                     errorType());
  }

  // One value of the declaration: a version of XML 1, an encoding the reader reads and the bytes
  // keep to, standalone yes or no.
  void pseudoAttribute(size_t which, const std::string& value, int line) {
    const std::string shown = value.substr(0, 40);
    if (which == 0 && (value.compare(0, 2, "1.") != 0 || value.size() == 2 ||
                       value.find_first_not_of("0123456789", 2) != std::string::npos))
      checkErrorType(ALWAYS_FAIL, where(line) << "the XML declaration says version=\"" << shown
                                              << "\": the reader reads XML 1.0 (a version 1.x is read as 1.0): write "
                                                 "version=\"1.0\"",
                     errorType());
    if (which == 2 && value != "yes" && value != "no")
      checkErrorType(ALWAYS_FAIL, where(line) << "the XML declaration says standalone=\"" << shown
                                              << "\": standalone is yes or no",
                     errorType());
    if (which != 1)
      return;
    std::string name = value;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    const bool bom = m_text.compare(0, 3, "\xef\xbb\xbf") == 0;
    const bool wide = name.compare(0, 6, "UTF-16") == 0 || name.compare(0, 6, "UTF-32") == 0 ||
                      name.compare(0, 3, "UCS") == 0 || name.compare(0, 13, "ISO-10646-UCS") == 0;
    if (value.empty())
      checkErrorType(ALWAYS_FAIL, where(line) << "the XML declaration says encoding=\"\", which names no encoding: "
                                                 "write encoding=\"UTF-8\" or leave it out",
                     errorType());
    // A UTF-16 or UTF-32 file was refused for its NUL bytes: this one's bytes are UTF-8 (or one of
    // its 8-bit kin below), and with a UTF-8 byte order mark UTF-8, whatever it says.
    if ((bom && name != "UTF-8") || wide)
      checkErrorType(ALWAYS_FAIL, where(line) << "the XML declaration says encoding=\"" << shown
                                              << "\", but the file is UTF-8 text"
                                              << (bom ? " (it starts with a UTF-8 byte order mark)" : "")
                                              << ": write encoding=\"UTF-8\" or leave it out",
                     errorType());
    if (name != "UTF-8" && name != "US-ASCII" && name != "ISO-8859-1")
      checkErrorType(ALWAYS_FAIL, where(line) << "the XML declaration says encoding=\"" << shown
                                              << "\", which the reader cannot read: it reads UTF-8, US-ASCII and "
                                                 "ISO-8859-1 (save the file as UTF-8)",
                     errorType());
    m_encoding = name;
    // Every byte is a character of ISO-8859-1; US-ASCII has none past 0x7F.
    m_badByte = name == "UTF-8" ? m_badByte : name == "US-ASCII" ? firstHighByte(m_text) : std::string::npos;
  }

  // A comment holds no "--" and does not end in "--->": the parser would read either.
  void comment() {
    const size_t end = m_text.find("-->", m_i + 4);
    const size_t dashes = m_text.find("--", m_i + 4);
    if (end != std::string::npos && dashes < end) {
      const bool last = m_text.compare(dashes, 4, "--->") == 0;
      checkErrorType(ALWAYS_FAIL, where(lineAt(dashes)) << (last ? "a comment ending '--->': XML comments cannot end in "
                                                                   "'-' (write '- -->')"
                                                                 : "'--' inside a comment, which XML comments cannot hold "
                                                                   "(write '- -')"),
                     errorType());
    }
    skipTo("-->");
  }

  // An end tag closes the element open last.
  void endTag() {
    size_t nameEnd = m_i + 2;
    while (nameEnd < m_n && std::strchr(" \t\r\n>", m_text[nameEnd]) == nullptr)
      nameEnd++;
    const std::string tag = m_text.substr(m_i + 2, std::min<size_t>(nameEnd - m_i - 2, 40));
    if (m_open.empty())
      checkErrorType(ALWAYS_FAIL, where(m_line) << "an end tag </" << tag << "> "
                                                << (m_rootSeen ? "after the root element" : "before any element")
                                                << ": it closes no element",
                     errorType());
    if (m_text.compare(m_i + 2, nameEnd - m_i - 2, m_text, m_open.back().name, m_open.back().length) != 0)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "the end tag </" << tag << "> does not close <" << name(m_open.back())
                                                << ">, the element open last (from line " << m_open.back().line << ")",
                     errorType());
    m_open.pop_back();
    skipTo(">");
  }

  // The document type comes once, before the root element, in capitals and with the root's name;
  // no other declaration stands in a document.
  void doctype() {
    if (m_text.compare(m_i, 9, "<!DOCTYPE") != 0) {
      size_t end = m_i + 2;
      while (end < m_n && std::isalpha(static_cast<unsigned char>(m_text[end])))
        end++;
      std::string word = m_text.substr(m_i, std::min<size_t>(end - m_i, 40));
      std::string upper = word;
      std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
      checkErrorType(ALWAYS_FAIL, where(m_line) << "'" << word << "'"
                                                << (upper == "<!DOCTYPE" ? ": the document type is written <!DOCTYPE, in capitals"
                                                                         : " is no markup of a document (a comment is <!-- -->, "
                                                                           "the document type <!DOCTYPE ...>)"),
                     errorType());
    }
    const size_t name = m_text.find_first_not_of(" \t\r\n", m_i + 9);
    if (name >= m_n || std::strchr(">[", m_text[name]) != nullptr)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "<!DOCTYPE> names no root element: write <!DOCTYPE vexl> (the root's "
                                                   "name) or leave it out",
                     errorType());
    if (name == m_i + 9)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "no blank after '<!DOCTYPE': write <!DOCTYPE vexl>", errorType());
    if (m_rootSeen)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "<!DOCTYPE> after the root element: it comes before the root or not at all",
                     errorType());
    if (m_doctypeSeen)
      checkErrorType(ALWAYS_FAIL, where(m_line) << "a second <!DOCTYPE>: a document has one", errorType());
    m_doctypeSeen = true;
    skipTo(">");
  }

  void startTag() {
    const int startLine = m_line;
    size_t nameStart = m_i + 1, nameEnd = nameStart;
    while (nameEnd < m_n && std::strchr(" \t\r\n/>", m_text[nameEnd]) == nullptr)
      nameEnd++;
    m_tagName = nameStart;
    m_tagNameEnd = nameEnd;
    if (m_open.empty() && m_rootSeen)
      checkErrorType(ALWAYS_FAIL, where(startLine) << "a second root element: an XML document is one element",
                     errorType());
    m_rootSeen = true;
    const bool selfClosing = attributes(nameEnd, startLine);
    m_tagName = std::string::npos;
    if (!selfClosing)
      m_open.push_back(OpenElement{nameStart, nameEnd - nameStart, startLine});
    if (m_open.size() > maxXmlDepth())
      checkErrorType(ALWAYS_FAIL, m_source << ":" << startLine << ": <"
                                           << m_text.substr(nameStart, std::min<size_t>(nameEnd - nameStart, 40))
                                           << ">: elements nested deeper than " << maxXmlDepth()
                                           << " levels",
                     errorType());
  }

  // The rest of a start tag, from its name's end through its '>'; whether it closes itself.
  bool attributes(size_t nameEnd, int startLine) {
    char quote = 0;
    int quoteLine = m_line;
    bool valueEnded = false;
    bool selfClosing = false;
    // The parser refuses an attribute given twice without saying which: this scan says it.
    std::vector<std::string> names;
    for (m_i++; m_i < m_n; m_i++) {
      const char d = m_text[m_i];
      checkByte(m_i);
      auto attribute = [&names]() { return names.empty() ? std::string() : names.back().substr(0, 40); };
      // The parser reads a="1"b="2" as two attributes: XML parts them by blanks.
      if (valueEnded && !std::isspace(static_cast<unsigned char>(d)) && d != '/' && d != '>')
        checkErrorType(ALWAYS_FAIL, where(m_line) << "no blank after the value of attribute '" << attribute()
                                                  << "': attributes are parted by blanks",
                       errorType());
      valueEnded = false;
      if (d == '\n')
        m_line++;
      if (quote != 0) {
        if (d == quote) {
          quote = 0;
          valueEnded = true;
        } else if (d == '&')
          checkEntity(m_i);
        else if (d == '<' && quoteLine != m_line)
          // A quote left open runs on to the next tag: the mistake is where it opened.
          checkErrorType(ALWAYS_FAIL, where(quoteLine) << "the value of attribute '" << attribute()
                                                       << "' is never closed: its quote runs on to a '<' on line "
                                                       << m_line,
                         errorType());
        else if (d == '<')
          checkErrorType(ALWAYS_FAIL, where(m_line) << "'<' inside the value of attribute '" << attribute()
                                                    << "' (write &lt; for the character)",
                         errorType());
      } else if (d == '"' || d == '\'') {
        quote = d;
        quoteLine = m_line;
      }
      else if (d == '=')
        names.push_back(attributeName(nameEnd, names));
      else if (d == '>') {
        selfClosing = m_text[m_i - 1] == '/';
        m_i++;
        return selfClosing;
      }
    }
    // The file ends inside the tag.
    if (quote != 0)
      checkErrorType(ALWAYS_FAIL, where(quoteLine) << "the value of attribute '" << (names.empty() ? std::string() : names.back().substr(0, 40))
                                                   << "' is never closed: the file ends inside it",
                     errorType());
    checkErrorType(ALWAYS_FAIL, where(startLine) << "the start tag is never closed (no '>' after it)", errorType());
    return false;
  }

  // The name before the '=' at m_i, once its value is quoted and it is new on the element.
  std::string attributeName(size_t nameEnd, const std::vector<std::string>& attributes) const {
    size_t end = m_i;
    while (end > nameEnd && std::isspace(static_cast<unsigned char>(m_text[end - 1])))
      end--;
    size_t begin = end;
    while (begin > nameEnd && !std::isspace(static_cast<unsigned char>(m_text[begin - 1])))
      begin--;
    const std::string attribute = m_text.substr(begin, end - begin);
    if (attributes.size() >= maxXmlAttributes())
      checkErrorType(ALWAYS_FAIL, where(m_line) << "more than " << maxXmlAttributes()
                                                << " attributes on one element: no element takes so many",
                     errorType());
    size_t value = m_i + 1;
    while (value < m_n && std::isspace(static_cast<unsigned char>(m_text[value])))
      value++;
    if (value >= m_n || (m_text[value] != '"' && m_text[value] != '\''))
      checkErrorType(ALWAYS_FAIL, where(m_line) << "the value of attribute '" << attribute.substr(0, 40)
                                                << "' is not quoted (write " << attribute.substr(0, 40)
                                                << "=\"...\")",
                     errorType());
    if (std::find(attributes.begin(), attributes.end(), attribute) != attributes.end())
      checkErrorType(ALWAYS_FAIL, where(m_line) << "attribute '" << attribute.substr(0, 40)
                                                << "' given twice: an element takes each attribute once",
                     errorType());
    return attribute;
  }

  const std::string& m_text;
  const std::string& m_source;
  const size_t m_n;
  // A byte that is not of the file's encoding is reported in the element the scan is in when it
  // reaches it.
  size_t m_badByte;
  // As the declaration names it, in capitals.
  std::string m_encoding = "UTF-8";
  struct OpenElement {
    size_t name, length;
    int line;
  };
  std::string name(const OpenElement& element) const {
    return m_text.substr(element.name, std::min<size_t>(element.length, 40));
  }
  std::vector<OpenElement> m_open;
  bool m_rootSeen = false, m_doctypeSeen = false;
  int m_line = 1;
  size_t m_i = 0;
  size_t m_tagName = std::string::npos, m_tagNameEnd = 0;
};

} // namespace

bool VexlXmlInterpreter::scanXmlMarkup(const std::string& text, const std::string& source) {
  return MarkupScan(text, source).run();
}

void VexlXmlInterpreter::checkXmlMarkup(std::string& text, const std::string& source) {
  if (scanXmlMarkup(text, source))
    text = latin1ToUtf8(text);
}

std::string VexlXmlInterpreter::latin1ToUtf8(const std::string& text) {
  std::string utf8;
  utf8.reserve(text.size() + std::count_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; }));
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x80)
      utf8 += c;
    else {
      utf8 += static_cast<char>(0xc0 | (b >> 6));
      utf8 += static_cast<char>(0x80 | (b & 0x3f));
    }
  }
  return utf8;
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

void VexlXmlInterpreter::parseXml(TiXmlDocument& doc, const std::string& text, const std::string& source) {
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
}

} // namespace KORVAN
