// Fuzz target "folder_path": the walk of a folder's display path
// (basCDO::GetTargetFolder), and the look-ups by identifier that take the
// same text (basCDO::GetFolder, basCDO::GetMessageByID).
//
// The input is the text as a user would type it. The organisation is fixed:
// a mailbox and a public tree with names that differ only in letter case or
// blanks, a non-ASCII name and nested levels. The walk must end in a folder
// or nothing, never raise; a folder it gives must carry the name of the
// path's last part (trimmed, without regard to case). A folder opened by
// identifier must report exactly that identifier, a message must compare
// equal to it. The run log goes nowhere.
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "driver/globals.h"
#include "folders/bas_cdo_folders.h"
#include "fuzz/finding.h"
#include "platform/memory/memory_backend.h"
#include "platform/messaging.h"
#include "platform/object.h"
#include "platform/process.h"
#include "platform/runtime.h"
#include "platform/text.h"

namespace {

constexpr char kProfile[] = R"({
  "mailboxes": [{ "alias": "ana", "store": "Mailbox - Ana Lima", "id": "A001",
    "folders": [
      { "name": "Inbox", "id": "A002", "folders": [{ "name": "Sub", "id": "A003" }] },
      { "name": "Contacts", "id": "A004",
        "messages": [{ "id": "A005", "class": "IPM.Contact", "subject": "Ben" }] },
      { "name": " contacts ", "id": "A006" },
      { "name": "Ärzte", "id": "A007" }
    ] }],
  "publicFolders": { "id": "B001", "folders": [
    { "name": "Company Contacts", "id": "B002",
      "folders": [{ "name": "Suppliers", "id": "B003", "folders": [{ "name": "Deep", "id": "B004" }] }],
      "messages": [{ "id": "B005", "class": "IPM.Contact", "subject": "Dev" }] },
    { "name": "Mandatory Contacts", "id": "B006" },
    { "name": "All Public Folders", "id": "B007" }
  ] }
})";

constexpr char kLdif[] = R"(dn: DC=harbor,DC=example
objectClass: domainDNS

dn: CN=Ana Lima,DC=harbor,DC=example
objectClass: user
displayName: Ana Lima
mailNickname: ana
legacyExchangeDN: /o=Harbor/cn=Recipients/cn=ana
)";

class NullStream final : public platform::TextStream {
 public:
  bool WriteLine(const std::string& /*line*/) override { return true; }
};

// Process services that keep nothing: the run log of millions of walks
// must not fill the disk.
class QuietProcess final : public platform::ProcessServices {
 public:
  const std::string& ProgramDirectory() override { return directory_; }
  std::tm LocalNow() override { return std::tm{}; }
  bool AppendToFile(const std::string& /*path*/, const std::string& /*bytes*/) override {
    return true;
  }
  std::shared_ptr<platform::TextStream> StandardOutput() override {
    return std::make_shared<NullStream>();
  }
  void ReportError(const std::string& /*text*/) override {}
  void DoEvents() override {}
  void OnStopRequest(std::function<void()> /*handler*/) override {}

 private:
  const std::string directory_ = "/nonexistent";
};

struct World {
  World() {
    runtime.process = std::make_shared<QuietProcess>();
    scope = std::make_unique<platform::RuntimeScope>(runtime);
    platform::memory::Install(runtime, platform::memory::FixedSource(platform::memory::LoadFromText(
                                           kProfile, kLdif, "fuzz")));
    basGlobals::StdOut = runtime.process->StandardOutput();
    basGlobals::MAPISession = platform::CreateObjectAs<platform::Session>("MAPI.Session");
    basGlobals::MAPISession->Logon("fuzz\nana");
  }
  platform::Runtime runtime;
  std::unique_ptr<platform::RuntimeScope> scope;
};

World& TheWorld() {
  static World* world = new World();  // lives for the process, like the program's session
  return *world;
}

// The part that the walk looks for last: the path without its root (the
// public marker, else the store's name, each removed wherever it stands)
// and without separators at its end.
std::string LastPart(const std::string& input) {
  const std::string path = text::Contains(input, "Public Folders\\All Public Folders")
                               ? text::ReplaceAll(input, "Public Folders\\All Public Folders\\", "")
                               : text::ReplaceAll(input, "Mailbox - Ana Lima", "");
  const size_t end = path.find_last_not_of('\\');
  if (end == std::string::npos) return {};
  const size_t start = path.find_last_of('\\', end);
  const size_t first = start == std::string::npos ? 0 : start + 1;
  return path.substr(first, end - first + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TheWorld();
  const std::string input(fuzz::AsText(data, size));

  if (const auto folder = basCDO::GetTargetFolder(input)) {
    const std::string name = folder->Name();
    if (text::LCase(text::Trim(name)) != text::LCase(text::Trim(LastPart(input)))) {
      fuzz::Finding("the walk gave folder '" + name + "', not the path's last part", input);
    }
  }
  if (const auto folder = basCDO::GetFolder(input)) {
    if (folder->ID() != input) fuzz::Finding("GetFolder gave " + folder->ID(), input);
  }
  if (const auto message = basCDO::GetMessageByID(input)) {
    if (!basGlobals::MAPISession->CompareIDs(message->ID(), input)) {
      fuzz::Finding("GetMessageByID gave " + message->ID(), input);
    }
  }
  return 0;
}
