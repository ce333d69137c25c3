#include "Utils/base/Error.hh"

#include <cstring>

namespace KORVAN {

const bool g_alwaysFails = false;

Error::Error(const std::string& condition, const std::string& file, const int& line)
    : m_condition(condition), m_file(file), m_line(line) {
  compose();
}

Error::Error(const std::string& condition, const std::string& msg, const std::string& file,
             const int& line)
    : m_condition(condition), m_msg(msg), m_file(file), m_line(line) {
  compose();
}

Error::Error(const std::string& condition, const std::string& msg, const std::string& type,
             const std::string& file, const int& line)
    : m_condition(condition), m_msg(msg), m_type(type), m_file(file), m_line(line) {
  compose();
}

void Error::handleAssert() { throw Error(*this); }

void Error::setElement(const std::string& element, int line, const std::string& elementMsg) {
  m_element = element;
  m_elementLine = line;
  m_elementMsg = elementMsg;
}

std::string Error::stripExtension(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* dot = std::strrchr(path, '.');
  if (dot != nullptr && (slash == nullptr || dot > slash))
    return std::string(path, dot - path);
  return std::string(path);
}

void Error::compose() {
  std::ostringstream os;
  os << m_file << ':' << m_line << ": " << m_condition;
  if (!m_type.empty())
    os << " (" << m_type << ')';
  if (!m_msg.empty())
    os << ": " << m_msg;
  m_what = os.str();
}

} // namespace KORVAN
