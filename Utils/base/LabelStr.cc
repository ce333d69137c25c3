#include "Utils/base/LabelStr.hh"

#include <deque>
#include <unordered_map>

#include "Utils/base/Error.hh"

namespace KORVAN {

namespace {

// Keys are indices into the text store offset far above any time or quantity, so that a label
// key can never be mistaken for a small number in a mixed domain. The offset is a power of two
// below 2^53: every key stays an exact integer-valued double.
constexpr double KEY_OFFSET = 4503599627370496.0; // 2^52

struct LabelTable {
  std::deque<std::string> texts; // stable addresses
  std::unordered_map<std::string, double> keys;
};

// Leaked on purpose: labels are used by static objects until process exit.
LabelTable& labels() {
  static LabelTable* sl_table = new LabelTable();
  return *sl_table;
}

double intern(const std::string& text, const char*& chars) {
  LabelTable& t = labels();
  auto it = t.keys.find(text);
  if (it != t.keys.end()) {
    chars = t.texts[static_cast<std::size_t>(it->second - KEY_OFFSET)].c_str();
    return it->second;
  }
  double key = KEY_OFFSET + static_cast<double>(t.texts.size());
  t.texts.push_back(text);
  t.keys.emplace(text, key);
  chars = t.texts.back().c_str();
  return key;
}

} // namespace

LabelStr::LabelStr() { m_key = intern("", m_chars); }
LabelStr::LabelStr(const char* label) { m_key = intern(label, m_chars); }
LabelStr::LabelStr(const std::string& label) { m_key = intern(label, m_chars); }

LabelStr::LabelStr(double key) {
  checkError(isString(key), "The value " << key << " is not the key of a label.");
  m_key = key;
  m_chars = labels().texts[static_cast<std::size_t>(key - KEY_OFFSET)].c_str();
}

const std::string& LabelStr::toString() const {
  return labels().texts[static_cast<std::size_t>(m_key - KEY_OFFSET)];
}

bool LabelStr::isString(double key) {
  double index = key - KEY_OFFSET;
  return index >= 0 && index < static_cast<double>(labels().texts.size()) &&
         index == static_cast<double>(static_cast<std::size_t>(index));
}

bool LabelStr::isString(const std::string& text) { return labels().keys.count(text) != 0; }

unsigned int LabelStr::getSize() { return static_cast<unsigned int>(labels().texts.size()); }

std::ostream& operator<<(std::ostream& os, const LabelStr& label) { return os << label.toString(); }

} // namespace KORVAN
