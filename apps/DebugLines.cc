#include "apps/DebugLines.hh"

#include <cstring>
#include <exception>
#include <string>

#include "Utils/base/Debug.hh"

namespace KORVAN {
namespace HOST {

namespace {
DebugLines*& currentLines() {
  static DebugLines* sl_current = nullptr;
  return sl_current;
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
  DebugMessage::setStream(*m_previousStream);
  m_out.tie(m_outTie);
  m_err.tie(m_errTie);
  currentLines() = m_previous;
}

DebugLines* DebugLines::current() { return currentLines(); }

bool DebugLines::drain(bool quiet) {
  const std::streamsize held = pptr() - pbase();
  if (held == 0)
    return true;
  setp(m_held, m_held + sizeof m_held);
  if (quiet || !DebugMessage::streamFailure().empty())
    return m_sink.rdbuf() != nullptr && m_sink.rdbuf()->sputn(m_held, held) == held;
  // As a line written straight to the sink fails: with the stream's own text, the stream as it was.
  DebugStreamGuard guard(m_sink);
  try {
    m_sink.exceptions(std::ios_base::badbit | std::ios_base::failbit);
    m_sink.write(m_held, held);
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
