#ifndef KORVAN_APPS_DEBUGLINES_HH
#define KORVAN_APPS_DEBUGLINES_HH

#include <csignal>
#include <ostream>
#include <streambuf>

namespace KORVAN {
namespace HOST {

/// The program's debug lines, held and written to standard error in large pieces: written
/// unbuffered, a line took about ten write calls. While it lives it is the debug stream. The
/// result and error streams write what it holds before anything of their own, and it has them
/// write what they hold before it takes a line, so that the lines reach a shared file or terminal
/// in the order they were made.
class DebugLines : public std::streambuf {
public:
  DebugLines(std::ostream& sink, std::ostream& out, std::ostream& err);
  /// Writes what is left and puts the streams back as they were.
  ~DebugLines();

  /// Writes what is held; false when the sink took less, which is recorded as the debug
  /// stream's failure. `quiet`: nothing is recorded and nothing allocated, for a run that ran out
  /// of memory on its way out.
  bool drain(bool quiet = false);

  /// The one that holds the program's lines, if any.
  static DebugLines* current();

  /// For lines whose sink writes to `fd`: on SIGINT, SIGTERM, SIGXCPU or SIGHUP what is held is
  /// written there and the run then ends as the signal would; and held lines are written there
  /// at the latest a second or two after they were made, however long the run goes on without
  /// writing. Until this one is destroyed.
  void writeOnSignals(int fd);

protected:
  int overflow(int c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  // A line's end is no reason to write: the lines go out together.
  int sync() override { return 0; }

private:
  // Flushed before the result and error streams write (they are tied to it); before an error,
  // the results go too, as with an error stream tied to them.
  struct Drain : public std::streambuf {
    Drain(DebugLines& lines, bool results) : m_lines(lines), m_results(results) {}
    int sync() override;
    DebugLines& m_lines;
    const bool m_results;
    bool m_busy = false;
  };
  // Before the first line held: what the results hold goes first.
  void beforeFirstLine();
  // From a signal handler: the whole lines held and not yet written.
  void writeHeld();
  static void onSignal(int signal);

  std::ostream& m_sink;
  std::ostream& m_out;
  std::ostream& m_err;
  std::ostream* m_previousStream;
  std::ostream* m_outTie;
  std::ostream* m_errTie;
  DebugLines* m_previous;
  Drain m_beforeOut, m_beforeErr;
  std::ostream m_beforeOutStream, m_beforeErrStream;
  std::ostream m_stream;
  char m_held[1 << 16];
  // The first m_written bytes held are out already, written from a signal handler; changed only
  // there and with the signals blocked.
  volatile std::sig_atomic_t m_written = 0;
  int m_fd = -1;

  DebugLines(const DebugLines&) = delete;
  DebugLines& operator=(const DebugLines&) = delete;
};

} // namespace HOST
} // namespace KORVAN

#endif
