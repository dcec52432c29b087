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
  GALEntries.reset();
  MAPISession.reset();
  StdOut.reset();
}

}  // namespace basGlobals
