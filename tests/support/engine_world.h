// A small organisation for engine tests: LDIF built in code, the memory
// backend over it, fake process services, and the session logged on as the
// driver would leave it.
#ifndef TARNWICK_TESTS_SUPPORT_ENGINE_WORLD_H_
#define TARNWICK_TESTS_SUPPORT_ENGINE_WORLD_H_

#include <memory>
#include <string>
#include <vector>

#include "platform/memory/faults.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/open_objects.h"
#include "tests/support/fake_process.h"

namespace tarnwick_test {

// LDIF records of the test organisation (domain DC=t,DC=example).
std::string PersonDn(const std::string& cn);
std::string ListDn(const std::string& cn);
// The domain, its two OUs.
std::string DomainRecords();
// A mailbox user; `mail` "" for none. `extra` holds more "attr: value" lines.
std::string Person(const std::string& cn, const std::string& nick, const std::string& mail,
                   const std::string& extra = "");
// A distribution list; members are full DNs.
std::string Group(const std::string& cn, const std::string& nick, const std::string& mail,
                  const std::vector<std::string>& members, const std::string& extra = "");
// A query-based list with its stored filter and base DN ("" for none).
std::string QueryList(const std::string& cn, const std::string& nick, const std::string& mail,
                      const std::string& filter, const std::string& base_dn);

inline constexpr char kDefaultProfile[] =
    R"({"directory": "test.ldif", "mailboxes": [{"alias": "ana", "store": "Mailbox - Ana",
        "folders": [{"name": "Drafts"}]}]})";

class EngineWorld {
 public:
  // `records` is the LDIF after DomainRecords() and a mailbox user "ana".
  explicit EngineWorld(const std::string& records,
                       const std::string& profile_json = kDefaultProfile);
  ~EngineWorld();
  EngineWorld(const EngineWorld&) = delete;
  EngineWorld& operator=(const EngineWorld&) = delete;

  platform::memory::FaultPlan& Faults();
  // What the organisation has open now (connections, record sets, scratch
  // messages, helper sessions).
  platform::memory::OpenCounts OpenObjects() const;
  FakeProcess& Process() { return test_runtime_.process(); }

  // Logs on as the driver does and fills basGlobals (MAPISession, GALEntries).
  void Logon(const std::string& alias = "ana");
  // The whole program on the argument text; the exit status.
  int RunMain(const std::string& argument_text);
  // The list switch alone, with a server and alias that log on.
  int RunList(const std::string& list);

  // Standard output of the run so far, and only the lines with a prefix.
  std::vector<std::string> Out() const;
  std::vector<std::string> OutWith(const std::string& prefix) const;

 private:
  TestRuntime test_runtime_;
  std::shared_ptr<platform::memory::Organisation> organisation_;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_ENGINE_WORLD_H_
