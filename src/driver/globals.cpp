#include "driver/globals.h"

namespace basGlobals {

std::shared_ptr<platform::Session> MAPISession;
std::shared_ptr<platform::TextStream> StdOut;
std::string ServerName;
std::string MailboxAlias;
std::shared_ptr<platform::AddressEntries> GALEntries;
bool StopRequested = false;
std::shared_ptr<platform::Folder> ConfigFolder;
std::string MCFolderPath;
std::string MCFolderID;

void Reset() {
  MAPISession.reset();
  StdOut.reset();
  ServerName.clear();
  MailboxAlias.clear();
  GALEntries.reset();
  StopRequested = false;
  ConfigFolder.reset();
  MCFolderPath.clear();
  MCFolderID.clear();
}

SessionRelease::~SessionRelease() {
  // A host's settings hold objects of the session's organisation, and name
  // folders of it: none of it means anything after the logoff.
  ConfigFolder.reset();
  MCFolderPath.clear();
  MCFolderID.clear();
  GALEntries.reset();
  MAPISession.reset();
  StdOut.reset();
}

}  // namespace basGlobals
