#include "apps/DebugLines.hh"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string>

#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace HOST {

namespace {
DebugLines*& currentLines() {
  static DebugLines* sl_current = nullptr;
  return sl_current;
}

// The signals that end a run and leave it a moment to write, then the one of the timer.
const int sl_signals[] = {SIGINT, SIGTERM, SIGXCPU, SIGHUP, SIGALRM};
const int sl_timer = SIGALRM;
struct sigaction sl_before[sizeof sl_signals / sizeof sl_signals[0]];
// The lines the handlers write; set and cleared with the signals blocked.
DebugLines* volatile sl_watched = nullptr;

sigset_t watchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : sl_signals)
    sigaddset(&set, signal);
  return set;
}

// Neither a handler nor the timer writes while the lines are drained or given up: the held
// bytes and the count of those written change together.
struct SignalsBlocked {
  explicit SignalsBlocked(bool block) : m_block(block) {
    if (m_block) {
      const sigset_t set = watchedSignals();
      pthread_sigmask(SIG_BLOCK, &set, &m_before);
    }
  }
  ~SignalsBlocked() {
    if (m_block)
      pthread_sigmask(SIG_SETMASK, &m_before, nullptr);
  }
  const bool m_block;
  sigset_t m_before;
};

void setTimer(long seconds) {
  struct itimerval every = {{seconds, 0}, {seconds, 0}};
  setitimer(ITIMER_REAL, &every, nullptr);
}
} // namespace

DebugLines::DebugLines(std::ostream& sink, std::ostream& out, std::ostream& err)
    : m_sink(sink), m_out(out), m_err(err), m_previousStream(&DebugMessage::getStream()), m_outTie(out.tie()),
      m_errTie(err.tie()), m_previous(currentLines()), m_beforeOut(*this, false), m_beforeErr(*this, true),
      m_beforeOutStream(&m_beforeOut), m_beforeErrStream(&m_beforeErr), m_stream(this) {
  setp(m_held, m_held + sizeof m_held);
  m_out.tie(&m_beforeOutStream);
  m_err.tie(&m_beforeErrStream);
  DebugMessage::setStream(m_stream);
  currentLines() = this;
}

DebugLines::~DebugLines() {
  drain();
  if (m_fd >= 0) {
    SignalsBlocked blocked(true);
    setTimer(0);
    // A tick that came while blocked goes with its handler, not to the default action (an end).
    signal(sl_timer, SIG_IGN);
    for (size_t i = 0; i < sizeof sl_signals / sizeof sl_signals[0]; ++i)
      sigaction(sl_signals[i], &sl_before[i], nullptr);
    sl_watched = nullptr;
  }
  DebugMessage::setStream(*m_previousStream);
  m_out.tie(m_outTie);
  m_err.tie(m_errTie);
  currentLines() = m_previous;
}

DebugLines* DebugLines::current() { return currentLines(); }

void DebugLines::writeOnSignals(int fd) {
  if (m_fd >= 0 || sl_watched != nullptr)
    return;
  SignalsBlocked blocked(true);
  m_fd = fd;
  sl_watched = this;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = &DebugLines::onSignal;
  action.sa_mask = watchedSignals();
  for (size_t i = 0; i < sizeof sl_signals / sizeof sl_signals[0]; ++i) {
    const int signal = sl_signals[i];
    sigaction(signal, nullptr, &sl_before[i]);
    // A signal ignored from the start (nohup, a job in the background) stays ignored.
    if (signal != sl_timer && sl_before[i].sa_handler == SIG_IGN)
      continue;
    // The timer restarts what it interrupts; an ending signal is raised again as it was.
    action.sa_flags = signal == sl_timer ? SA_RESTART : SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
  setTimer(1);
}

void DebugLines::writeHeld() {
  const char* from = m_held + m_written;
  const char* to = pptr();
  // A line half made waits for its end, or goes with the run.
  while (to > from && to[-1] != '\n')
    --to;
  while (from < to) {
    const ssize_t written = ::write(m_fd, from, static_cast<size_t>(to - from));
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return;
    from += written;
    m_written = static_cast<std::sig_atomic_t>(from - m_held);
  }
}

// Only write(2) of what is held: nothing allocated, no stream touched. Bytes are counted in only
// once they are there, so a line being added as the signal comes is not written.
void DebugLines::onSignal(int signal) {
  const int savedErrno = errno;
  if (DebugLines* lines = sl_watched)
    lines->writeHeld();
  if (signal != sl_timer)
    // The handler was reset as it was entered: on its return the signal ends the run.
    raise(signal);
  errno = savedErrno;
}

bool DebugLines::drain(bool quiet) {
  if (pptr() == pbase())
    return true;
  SignalsBlocked blocked(m_fd >= 0);
  const char* const from = m_held + m_written;
  const std::streamsize held = pptr() - from;
  setp(m_held, m_held + sizeof m_held);
  m_written = 0;
  if (held == 0)
    return true;
  if (quiet || !DebugMessage::streamFailure().empty())
    return m_sink.rdbuf() != nullptr && m_sink.rdbuf()->sputn(from, held) == held;
  // As a line written straight to the sink fails: with the stream's own text, the stream as it was.
  DebugStreamGuard guard(m_sink);
  try {
    m_sink.exceptions(std::ios_base::badbit | std::ios_base::failbit);
    m_sink.write(from, held);
    m_sink.flush();
    return true;
  } catch (const std::exception& e) {
    guard.restore();
    DebugMessage::noteStreamFailure(e.what());
  }
  return false;
}

// Flushed as a stream, so that results that cannot be written leave their stream failed.
void DebugLines::beforeFirstLine() {
  if (pptr() == pbase())
    m_out.flush();
}

int DebugLines::overflow(int c) {
  beforeFirstLine();
  if (pptr() == epptr() && !drain())
    return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof()))
    return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  // Counted in only once it is there: a handler writes up to the count.
  std::atomic_signal_fence(std::memory_order_release);
  pbump(1);
  return c;
}

std::streamsize DebugLines::xsputn(const char* s, std::streamsize n) {
  beforeFirstLine();
  std::streamsize done = 0;
  while (done < n) {
    if (pptr() == epptr() && !drain())
      return done;
    const std::streamsize room = epptr() - pptr(), part = n - done < room ? n - done : room;
    std::memcpy(pptr(), s + done, static_cast<size_t>(part));
    std::atomic_signal_fence(std::memory_order_release);
    pbump(static_cast<int>(part));
    done += part;
  }
  return done;
}

int DebugLines::Drain::sync() {
  // Flushing the results flushes what they are tied to: this, again.
  if (m_busy)
    return 0;
  m_busy = true;
  const bool written = m_lines.drain();
  if (m_results)
    m_lines.m_out.flush();
  m_busy = false;
  return written ? 0 : -1;
}

} // namespace HOST
} // namespace KORVAN
