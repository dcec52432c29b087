// An organisation for the contact-folder merge tests: persons Ada and Bo in
// the address book, and a mailbox whose folders a test describes in the
// profile's JSON, logged on as "ana" with a KVL object ready.
#ifndef TARNWICK_MERGE_MERGE_TEST_WORLD_H_
#define TARNWICK_MERGE_MERGE_TEST_WORLD_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/globals.h"
#include "engine/kvl.h"
#include "folders/bas_cdo_folders.h"
#include "platform/helper_library.h"
#include "platform/runtime.h"
#include "tests/support/engine_world.h"
#include "tests/support/kvl_probe.h"

namespace tarnwick_test {

inline constexpr char kAdaOdn[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=ada";
inline constexpr char kBoOdn[] = "/o=T/ou=First Administrative Group/cn=Recipients/cn=bo";

// A mailbox with the given folders (JSON objects, comma-separated).
inline std::string MailboxProfile(const std::string& folders) {
  return R"({"directory": "test.ldif", "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana",
             "folders": [)" +
         folders + "]}]}";
}

// A folder object of the profile.
inline std::string FolderJson(const std::string& name, const std::string& id,
                              const std::string& messages) {
  return R"({"name": ")" + name + R"(", "id": ")" + id + R"(", "messages": [)" + messages + "]}";
}

class MergeWorld {
 public:
  explicit MergeWorld(const std::string& profile)
      : world_(Person("Ada", "ada", "ada@t.example") + Person("Bo", "bo", "bo@t.example"),
               profile) {
    basCDO::ResetPublicStoreID();
    world_.Logon();
    kvl_ = std::make_unique<KVL>();
    probe_ = std::make_unique<KvlProbe>(*kvl_);
    seen_ = world_.Out().size();  // what the engine object logged on construction
  }
  ~MergeWorld() {
    probe_.reset();
    kvl_.reset();
    basCDO::ResetPublicStoreID();
    basGlobals::Reset();
  }

  // The mailbox folder with that identifier.
  static std::shared_ptr<platform::Folder> Folder(const std::string& id) {
    return basGlobals::MAPISession->GetFolder(id, std::nullopt);
  }
  static std::shared_ptr<platform::ZQMAPIFolder> Helper(const std::string& id) {
    auto helper = platform::CreateObjectAs<platform::ZQMAPIFolder>(platform::kHelperFolderClass);
    helper->SetFolder(Folder(id));
    return helper;
  }

  // Standard output since the previous call.
  std::vector<std::string> NewLines() {
    const auto out = world_.Out();
    std::vector<std::string> lines(out.begin() + static_cast<std::ptrdiff_t>(seen_), out.end());
    seen_ = out.size();
    return lines;
  }

  EngineWorld world_;
  std::unique_ptr<KVL> kvl_;
  std::unique_ptr<KvlProbe> probe_;

 private:
  size_t seen_ = 0;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_MERGE_MERGE_TEST_WORLD_H_
