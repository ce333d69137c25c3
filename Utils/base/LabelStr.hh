#ifndef KORVAN_UTILS_LABELSTR_HH
#define KORVAN_UTILS_LABELSTR_HH

#include <ostream>
#include <string>

namespace KORVAN {

/// An interned string identified by a double key: the same text always gives the same key, so
/// labels compare, hash and sit in value domains as plain doubles.
class LabelStr {
public:
  LabelStr();
  LabelStr(const char* label);
  LabelStr(const std::string& label);
  /// The label whose key this is; an error when the double is no label's key.
  explicit LabelStr(double key);
  LabelStr(const LabelStr& org) = default;
  LabelStr& operator=(const LabelStr& org) = default;

  double getKey() const { return m_key; }
  operator double() const { return m_key; }
  const std::string& toString() const;
  const char* c_str() const { return m_chars; }

  bool operator==(const LabelStr& other) const { return m_key == other.m_key; }
  bool operator!=(const LabelStr& other) const { return m_key != other.m_key; }
  /// Ordered by key (stable within a run, not alphabetical).
  bool operator<(const LabelStr& other) const { return m_key < other.m_key; }

  /// True when the double is the key of some label.
  static bool isString(double key);
  static bool isString(const std::string& text);
  static unsigned int getSize();

private:
  double m_key;
  const char* m_chars;
};

std::ostream& operator<<(std::ostream& os, const LabelStr& label);

} // namespace KORVAN

#endif
