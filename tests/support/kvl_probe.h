// Reaches the internal operations of KVL for tests.
#ifndef TARNWICK_TESTS_SUPPORT_KVL_PROBE_H_
#define TARNWICK_TESTS_SUPPORT_KVL_PROBE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "engine/kvl.h"

class KvlProbe {
 public:
  explicit KvlProbe(KVL& kvl) : kvl_(kvl) {}

  std::string QuoteFilterValue(const platform::Variant& v) { return kvl_.QuoteFilterValue(v); }
  std::string StripQuotes(const platform::Variant& v) { return kvl_.StripQuotes(v); }
  std::string EscapeLike(const std::string& t) { return kvl_.EscapeLike(t); }
  std::string UnescapeLike(const std::string& t) { return kvl_.UnescapeLike(t); }
  bool IsEmailAddr(const platform::Variant& v) { return kvl_.IsEmailAddr(v); }
  bool IsODN(const platform::Variant& v) { return kvl_.IsODN(v); }
  bool IsNullText(const std::string& t) { return kvl_.IsNullText(t); }
  std::string StrToHex(const std::string& t) { return kvl_.StrToHex(t); }
  std::string ResolveSMTP(const std::string& n) { return kvl_.ResolveSMTP(n); }
  std::string GetFieldVal(const std::shared_ptr<platform::AddressEntry>& e, int32_t tag) {
    return kvl_.GetFieldVal(e, tag);
  }
  platform::Variant GetAllProxies(const std::string& lookup, std::string& proxies,
                                  std::string& x500_proxies, std::string& odn, bool replace_odn,
                                  bool check_existing) {
    return kvl_.GetAllProxies(lookup, proxies, x500_proxies, odn, replace_odn, check_existing);
  }
  void GetEmailValues(const platform::Variant& values, std::string& filter, std::string& list) {
    kvl_.GetEmailValues(values, filter, list);
  }
  platform::Variant GetTypedVal(const platform::Variant& value, int32_t kind) {
    return kvl_.GetTypedVal(value, kind);
  }
  void ExpandQueryDL(const std::string& address, bool add_rows) {
    kvl_.ExpandQueryDL(address, add_rows);
  }
  void AddToSourceMCL(const std::shared_ptr<platform::AddressEntry>& e) { kvl_.AddToSourceMCL(e); }
  bool GetMandatoryFolder() { return kvl_.GetMandatoryFolder(); }
  std::shared_ptr<platform::Folder> GetHiddenFolder(
      const std::string& name, const std::shared_ptr<platform::Folder>& parent) {
    return kvl_.GetHiddenFolder(name, parent);
  }
  bool AddFromACF(const std::shared_ptr<platform::Folder>& folder, bool repository) {
    return kvl_.AddFromACF(folder, repository);
  }
  std::string GetFieldText(const platform::Variant& v) { return kvl_.GetFieldText(v); }
  std::shared_ptr<platform::Message> FindMsgByTopicOrPIN(const std::string& topic,
                                                         const std::string& pin) {
    return kvl_.FindMsgByTopicOrPIN(topic, pin);
  }
  // The folder that FindMsgByTopicOrPIN searches; nothing in the engine sets it.
  void SetRegFolder(std::shared_ptr<platform::Folder> folder) {
    kvl_.RegFolder = std::move(folder);
  }
  // The cached Mandatory Contacts folder.
  std::shared_ptr<platform::Folder> MCFolder() { return kvl_.MCFolder; }
  // Starts a registry as ParseSourceMCL does, for calls made directly.
  void StartRun() { kvl_.ExpandedLists = std::make_unique<KeyedCollection>(); }
  bool Registered(const std::string& key) {
    return kvl_.ExpandedLists && kvl_.ExpandedLists->Contains(key);
  }

 private:
  KVL& kvl_;
};

#endif  // TARNWICK_TESTS_SUPPORT_KVL_PROBE_H_
