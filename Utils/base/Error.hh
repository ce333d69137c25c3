#ifndef KORVAN_UTILS_ERROR_HH
#define KORVAN_UTILS_ERROR_HH

#include <exception>
#include <sstream>
#include <string>

namespace KORVAN {

/// A failed check: the condition text, an optional message and error type, and where it failed.
/// handleAssert() raises it as a C++ exception, so nothing after a failed check runs.
class Error : public std::exception {
public:
  Error(const std::string& condition, const std::string& file, const int& line);
  Error(const std::string& condition, const std::string& msg, const std::string& file, const int& line);
  Error(const std::string& condition, const std::string& msg, const std::string& type,
        const std::string& file, const int& line);

  [[noreturn]] void handleAssert();

  const std::string& getCondition() const { return m_condition; }
  const std::string& getMsg() const { return m_msg; }
  const std::string& getType() const { return m_type; }
  const std::string& getFile() const { return m_file; }
  int getLine() const { return m_line; }
  const char* what() const noexcept override { return m_what.c_str(); }

  /// Names the input element a refusal is about ("<Tag>"), its line (0 when unknown) and the
  /// message as it reads once the element is named apart. The message itself is kept as it is,
  /// so whoever reports the refusal takes the place from here rather than from the text.
  void setElement(const std::string& element, int line, const std::string& elementMsg);
  bool hasElement() const { return !m_element.empty(); }
  const std::string& getElement() const { return m_element; }
  int getElementLine() const { return m_elementLine; }
  const std::string& getElementMsg() const { return m_elementMsg; }

  /// Source path without its extension: "Utils/base/Id.hh" -> "Utils/base/Id".
  static std::string stripExtension(const char* path);

private:
  void compose();

  std::string m_condition;
  std::string m_msg;
  std::string m_type;
  std::string m_file;
  int m_line;
  std::string m_what;
  std::string m_element;
  int m_elementLine = 0;
  std::string m_elementMsg;
};

/// The condition of checks that fail unconditionally.
extern const bool g_alwaysFails;

} // namespace KORVAN

// Plain constants, not macros, so that a failed check reads "ALWAYS_FAIL" as its condition.
constexpr bool ALWAYS_FAIL = false;
constexpr bool ALWAYS_FAILS = false;

#define KORVAN_ERROR_FILE() ::KORVAN::Error::stripExtension(__FILE__)

#define KORVAN_CHECK_1(cond)                                                           \
  do {                                                                                 \
    if (!(cond))                                                                       \
      ::KORVAN::Error(#cond, KORVAN_ERROR_FILE(), __LINE__).handleAssert();            \
  } while (0)
#define KORVAN_CHECK_2(cond, msg)                                                      \
  do {                                                                                 \
    if (!(cond))                                                                       \
      ::KORVAN::Error(#cond, (msg), KORVAN_ERROR_FILE(), __LINE__).handleAssert();     \
  } while (0)
#define KORVAN_CHECK_3(cond, msg, type)                                                \
  do {                                                                                 \
    if (!(cond))                                                                       \
      ::KORVAN::Error(#cond, (msg), (type), KORVAN_ERROR_FILE(), __LINE__).handleAssert(); \
  } while (0)
#define KORVAN_CHECK_PICK(_1, _2, _3, NAME, ...) NAME

/// check_error(cond), check_error(cond, msg), check_error(cond, msg, type): msg and type are
/// strings, evaluated only when the check fails.
#define check_error(...) \
  KORVAN_CHECK_PICK(__VA_ARGS__, KORVAN_CHECK_3, KORVAN_CHECK_2, KORVAN_CHECK_1, unused)(__VA_ARGS__)

/// checkError(cond, a << b << c): the message is a stream expression, built only on failure.
#define checkError(cond, msg)                                                          \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::ostringstream sl_errStream;                                                 \
      sl_errStream << msg;                                                             \
      ::KORVAN::Error(#cond, sl_errStream.str(), KORVAN_ERROR_FILE(), __LINE__).handleAssert(); \
    }                                                                                  \
  } while (0)

/// Same, with an error type.
#define checkErrorType(cond, msg, type)                                                \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::ostringstream sl_errStream;                                                 \
      sl_errStream << msg;                                                             \
      ::KORVAN::Error(#cond, sl_errStream.str(), (type), KORVAN_ERROR_FILE(), __LINE__).handleAssert(); \
    }                                                                                  \
  } while (0)

#endif
