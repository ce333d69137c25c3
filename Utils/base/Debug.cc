#include "Utils/base/Debug.hh"

#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

namespace KORVAN {

namespace {

struct Registry {
  std::vector<DebugMessage*> sites;
  std::vector<std::string> patterns;
  bool envRead = false;
};

// Leaked on purpose: sites live in function-local statics until process exit.
Registry& registry() {
  static Registry* sl_registry = new Registry();
  if (!sl_registry->envRead) {
    sl_registry->envRead = true;
    sl_registry->patterns = DebugMessage::environmentPatterns();
  }
  return *sl_registry;
}

bool matches(const std::string& pattern, const std::string& marker) {
  return pattern == "*" || marker.compare(0, pattern.size(), pattern) == 0;
}

bool enabledByPatterns(const std::string& marker) {
  for (const std::string& p : registry().patterns)
    if (matches(p, marker))
      return true;
  return false;
}

} // namespace

std::vector<std::string> DebugMessage::environmentPatterns() {
  std::vector<std::string> patterns;
  if (const char* env = std::getenv("KORVAN_DEBUG")) {
    std::istringstream is(env);
    std::string pattern;
    while (std::getline(is, pattern, ','))
      if (!pattern.empty())
        patterns.push_back(pattern);
  }
  return patterns;
}

std::ostream*& DebugMessage::streamPtr() {
  static std::ostream* s_debugStream = &std::cerr;
  return s_debugStream;
}

DebugMessage* DebugMessage::addMsg(const char* file, int line, const char* marker) noexcept {
  try {
    std::unique_ptr<DebugMessage> msg(new DebugMessage(file, line, marker, enabledByPatterns(marker)));
    registry().sites.push_back(msg.get());
    return msg.release();
  } catch (...) {
    static DebugMessage sl_unregistered(std::string(), 0, std::string(), false);
    return &sl_unregistered;
  }
}

namespace {
std::string& failureText() {
  static std::string* sl_failure = new std::string();
  return *sl_failure;
}
} // namespace

void DebugMessage::noteStreamFailure(const std::string& what) {
  if (failureText().empty())
    failureText() = what.empty() ? std::string("debug stream failure") : what;
  disableAll();
}

const std::string& DebugMessage::streamFailure() { return failureText(); }

void DebugMessage::clearStreamFailure() { failureText().clear(); }

int& DebugMessage::Teardown::depth() {
  static int sl_depth = 0;
  return sl_depth;
}

bool DebugMessage::anySiteMatches(const std::string& pattern) {
  for (const DebugMessage* m : registry().sites)
    if (matches(pattern, m->m_marker))
      return true;
  return false;
}

bool DebugMessage::noneEnabled() { return registry().patterns.empty(); }

void DebugMessage::enable(const std::string& pattern) {
  registry().patterns.push_back(pattern);
  for (DebugMessage* m : registry().sites)
    if (matches(pattern, m->m_marker))
      m->m_enabled = true;
}

void DebugMessage::disable(const std::string& pattern) {
  Registry& r = registry();
  std::vector<std::string> kept;
  for (const std::string& p : r.patterns)
    if (p != pattern)
      kept.push_back(p);
  r.patterns.swap(kept);
  for (DebugMessage* m : r.sites)
    m->m_enabled = enabledByPatterns(m->m_marker);
}

void DebugMessage::disableAll() {
  registry().patterns.clear();
  for (DebugMessage* m : registry().sites)
    m->m_enabled = false;
}

} // namespace KORVAN
