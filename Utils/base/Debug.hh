#ifndef KORVAN_UTILS_DEBUG_HH
#define KORVAN_UTILS_DEBUG_HH

#include <exception>
#include <iostream>
#include <cstddef>
#include <string>
#include <vector>

#include "Utils/base/Error.hh"

namespace KORVAN {

/// One registered debug-message site. Markers are "Class:operation"; a site writes only while
/// its marker is enabled. Markers are enabled by API or by the environment variable KORVAN_DEBUG,
/// a comma-separated list of patterns; a pattern enables every marker that starts with it
/// ("Profile" enables "Profile:recompute"), and "*" enables all.
/// Puts a stream's exception mask and state back as they were (at the latest when it goes).
class DebugStreamGuard {
public:
  explicit DebugStreamGuard(std::ostream& os)
      : m_stream(os), m_exceptions(os.exceptions()), m_state(os.rdstate()) {}
  ~DebugStreamGuard() { restore(); }
  void restore() {
    // Clearing the mask first: setting it on a bad stream would throw.
    m_stream.exceptions(std::ios_base::goodbit);
    m_stream.clear(m_state);
    m_stream.exceptions(m_exceptions);
  }

private:
  DebugStreamGuard(const DebugStreamGuard&) = delete;
  DebugStreamGuard& operator=(const DebugStreamGuard&) = delete;
  std::ostream& m_stream;
  std::ios_base::iostate m_exceptions;
  std::ios_base::iostate m_state;
};

class DebugMessage {
public:
  virtual ~DebugMessage() {}

  /// Registers a site; called once per site, on its first passage. Raises nothing: short of
  /// memory (a site first met while a failure unwinds) it answers a record that never writes.
  static DebugMessage* addMsg(const char* file, int line, const char* marker) noexcept;

  static std::ostream*& streamPtr();
  static std::ostream& getStream() { return *streamPtr(); }
  static void setStream(std::ostream& os) { streamPtr() = &os; }

  /// Records the first failure of the debug stream and turns every marker off: once lines are
  /// lost, later ones would only fail again, possibly where an error cannot be raised.
  static void noteStreamFailure(const std::string& what);
  /// The first failure recorded since the last clearStreamFailure(), or "".
  static const std::string& streamFailure();
  static void clearStreamFailure();

  /// While a Teardown lives, a failed debug line is recorded (streamFailure) but raises
  /// nothing: the destructors that hold one cannot let an error out.
  class Teardown {
  public:
    Teardown() { ++depth(); }
    ~Teardown() { --depth(); }
    static bool active() { return depth() > 0; }

  private:
    Teardown(const Teardown&) = delete;
    Teardown& operator=(const Teardown&) = delete;
    static int& depth();
  };

  static void enable(const std::string& pattern);
  /// The patterns KORVAN_DEBUG names, as the sites read them when they register.
  static std::vector<std::string> environmentPatterns();
  /// Whether a site registered so far has a marker that the pattern enables.
  static bool anySiteMatches(const std::string& pattern);
  static void disable(const std::string& pattern);
  static void disableAll();

  bool isEnabled() const { return m_enabled; }
  /// No pattern is on, so no site writes: what runs only for the lines of a faster path is idle.
  static bool noneEnabled();
  /// Whether any of the sites is on: a listing that writes the lines a faster path leaves out,
  /// reading only, runs beside it while any of its sites is.
  template <std::size_t N>
  static bool anyEnabled(DebugMessage* const (&sites)[N]) {
    for (const DebugMessage* site : sites)
      if (site->isEnabled())
        return true;
    return false;
  }
  const std::string& getFile() const { return m_file; }
  int getLine() const { return m_line; }
  const std::string& getMarker() const { return m_marker; }

private:
  DebugMessage(const std::string& file, int line, const std::string& marker, bool enabled)
      : m_file(file), m_line(line), m_marker(marker), m_enabled(enabled) {}

  std::string m_file;
  int m_line;
  std::string m_marker;
  bool m_enabled;
};

} // namespace KORVAN

// An enabled site makes the debug stream raise on a bad state while it writes, so that a lost
// debug line is an error ("ALWAYS_FAIL" with the stream's own text) rather than silence. The
// stream's exception mask and state are put back before anything is raised: the same stream
// (standard error, say) must still take the report of that error without throwing again.
#define KORVAN_DEBUG_WRITE(marker, data)                                                 \
  do {                                                                                  \
    std::ostream& sl_dstream = ::KORVAN::DebugMessage::getStream();                     \
    ::KORVAN::DebugStreamGuard sl_dguard(sl_dstream);                                   \
    std::string sl_dfailure;                                                            \
    try {                                                                               \
      sl_dstream.exceptions(std::ios_base::badbit | std::ios_base::failbit);            \
      sl_dstream << "[" << (marker) << "]" << data << std::endl;                        \
    } catch (const ::KORVAN::Error&) {                                                  \
      std::rethrow_exception(std::current_exception());                                 \
    } catch (const std::exception& sl_failure) {                                        \
      sl_dfailure = sl_failure.what();                                                  \
      if (sl_dfailure.empty())                                                          \
        sl_dfailure = "debug stream failure";                                           \
    }                                                                                   \
    if (!sl_dfailure.empty()) {                                                         \
      sl_dguard.restore();                                                              \
      ::KORVAN::DebugMessage::noteStreamFailure(sl_dfailure);                           \
      if (!::KORVAN::DebugMessage::Teardown::active())                                  \
        ::KORVAN::Error("ALWAYS_FAIL", sl_dfailure, ::KORVAN::Error::stripExtension(__FILE__), __LINE__).handleAssert(); \
    }                                                                                   \
  } while (0)

#define debugMsg(marker, data)                                                          \
  do {                                                                                  \
    static ::KORVAN::DebugMessage* sl_dmsg = ::KORVAN::DebugMessage::addMsg(__FILE__, __LINE__, marker); \
    if (sl_dmsg->isEnabled())                                                           \
      KORVAN_DEBUG_WRITE(marker, data);                                                 \
  } while (0)

#define condDebugMsg(cond, marker, data)                                                \
  do {                                                                                  \
    static ::KORVAN::DebugMessage* sl_dmsg = ::KORVAN::DebugMessage::addMsg(__FILE__, __LINE__, marker); \
    if (sl_dmsg->isEnabled() && (cond))                                                 \
      KORVAN_DEBUG_WRITE(marker, data);                                                 \
  } while (0)

#endif
