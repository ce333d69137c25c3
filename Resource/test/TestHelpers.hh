#ifndef KORVAN_RESOURCE_TEST_TESTHELPERS_HH
#define KORVAN_RESOURCE_TEST_TESTHELPERS_HH

// Helpers shared by the resource module's tests.

#include "Utils/base/Debug.hh"
#include "Utils/base/Error.hh"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>

namespace KORVAN {

// A count or seed a soak run can set through the environment; fallback otherwise.
inline int envInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text == nullptr ? fallback : std::atoi(text);
}

// As envInt, but at least 1 when set.
inline int envCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text == nullptr ? fallback : std::max(1, std::atoi(text));
}

// The first seed of a randomised test's range (KORVAN_FIRST_SEED, 1 by default), so that a soak
// can draw seeds that no earlier run drew.
inline int firstSeed() { return envCount("KORVAN_FIRST_SEED", 1); }

// The Error that f raised; one with an empty condition when it raised none.
inline Error failure(const std::function<void()>& f) {
  try {
    f();
  }
  catch (const Error& e) {
    return e;
  }
  return Error("", "", "", 0);
}

// Captures the debug stream with the given markers enabled while alive.
class DebugCapture {
public:
  explicit DebugCapture(const std::string& pattern) : m_pattern(pattern) {
    DebugMessage::setStream(m_stream);
    DebugMessage::enable(pattern);
  }
  ~DebugCapture() {
    DebugMessage::disable(m_pattern);
    DebugMessage::setStream(std::cerr);
  }
  std::string text() const { return m_stream.str(); }

private:
  std::ostringstream m_stream;
  std::string m_pattern;
};

}

#endif
