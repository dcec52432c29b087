// Process services: what the program needs of its operating system.
#ifndef TARNWICK_PLATFORM_PROCESS_H_
#define TARNWICK_PLATFORM_PROCESS_H_

#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// A text stream of the process (standard output, or a capture in tests).
class TextStream {
 public:
  virtual ~TextStream() = default;
  // Writes the text and a line end. Returns false when nothing could be written.
  virtual bool WriteLine(const std::string& line) = 0;
};

class ProcessServices {
 public:
  virtual ~ProcessServices() = default;
  // The directory that holds the executable, without a trailing slash. The
  // reference stays valid as long as the services (the run log asks for
  // it once per line, and a copy each time showed in the walk's profile).
  virtual const std::string& ProgramDirectory() = 0;
  // The local date and time now.
  virtual std::tm LocalNow() = 0;
  // Opens the file for appending (creating it), writes the bytes as they
  // are, closes it. False when the file could not be opened or written.
  virtual bool AppendToFile(const std::string& path, const std::string& bytes) = 0;
  // Standard output as a text stream; nullptr when the process has none.
  virtual std::shared_ptr<TextStream> StandardOutput() = 0;
  // The error stream, where a desktop build would show a message box.
  virtual void ReportError(const std::string& text) = 0;
  // Serves pending events. This is where a stop request (SIGINT, SIGTERM)
  // reaches the program: the handler set by OnStopRequest runs here, on the
  // engine's thread, never inside a signal handler.
  virtual void DoEvents() = 0;
  virtual void OnStopRequest(std::function<void()> handler) = 0;

  // True once a stop signal has arrived, whether or not DoEvents has run
  // the stop handler since; it never turns false again. Cheap (one atomic
  // read) and callable from any thread, so that long work that does not
  // yield (loading an organisation) can give up early without serving
  // events itself. The defaults describe a process that takes no stop
  // signals; services that predate the query need not override them.
  virtual bool StopPending() { return false; }
  // The number of the first stop signal that arrived (SIGINT, SIGTERM), 0
  // while none has. The program's exit status names it.
  virtual int StopSignal() { return 0; }
};

// The services of this process: /proc/self/exe, the C library's local time,
// write(2) on the standard streams, and SIGINT/SIGTERM. Creating them
// ignores SIGPIPE for the whole process: a reader that closes its end of
// the output pipe early then makes WriteLine return false instead of ending
// the process, so the run log file still gets every line. A second stop
// signal ends the process at once with status 128 + its number (130 for
// SIGINT, 143 for SIGTERM) and one line on the error stream.
std::unique_ptr<ProcessServices> NewPosixProcessServices();

}  // namespace platform

#endif  // TARNWICK_PLATFORM_PROCESS_H_
