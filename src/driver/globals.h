// The system's globals (module basGlobals). The driver sets MAPISession,
// StdOut, ServerName and MailboxAlias; a host sets the others. The program
// itself also sets GALEntries after the logon and StopRequested on SIGINT or
// SIGTERM (served at the engine's yields).
#ifndef TARNWICK_DRIVER_GLOBALS_H_
#define TARNWICK_DRIVER_GLOBALS_H_

#include <memory>
#include <string>

#include "platform/messaging.h"
#include "platform/process.h"

namespace basGlobals {

extern std::shared_ptr<platform::Session> MAPISession;
extern std::shared_ptr<platform::TextStream> StdOut;
extern std::string ServerName;
extern std::string MailboxAlias;
extern std::shared_ptr<platform::AddressEntries> GALEntries;
extern bool StopRequested;
extern std::shared_ptr<platform::Folder> ConfigFolder;
extern std::string MCFolderPath;
extern std::string MCFolderID;

// Puts every global back to its initial value (tests, and a fresh run).
void Reset();

// Releases ConfigFolder, GALEntries, MAPISession and StdOut, and empties
// MCFolderPath and MCFolderID, when it goes out of scope, on
// every way out of a run (an exception's too), so that a program or a test
// can run again on a clean slate and a run that ran out of memory gets back
// what the organisation held.
class SessionRelease {
 public:
  SessionRelease() = default;
  SessionRelease(const SessionRelease&) = delete;
  SessionRelease& operator=(const SessionRelease&) = delete;
  ~SessionRelease();
};

}  // namespace basGlobals

#endif  // TARNWICK_DRIVER_GLOBALS_H_
