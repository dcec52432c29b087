// A session decorator that sees every scratch message the engine makes:
// whether it was deleted and whether anything still holds it, so a test can
// show that an operation cleaned up on every path. Everything else is
// forwarded to the session it wraps.
#ifndef TARNWICK_TESTS_SUPPORT_SCRATCH_TRACKER_H_
#define TARNWICK_TESTS_SUPPORT_SCRATCH_TRACKER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/messaging.h"
#include "platform/variant.h"

namespace tarnwick_test {

// Every scratch message the session hands out, seen through decorators that
// forward to the memory backend: whether it was deleted and whether anything
// still holds it.
struct ScratchRecord {
  std::weak_ptr<platform::Message> message;
  bool deleted = false;
};
using ScratchLog = std::shared_ptr<std::vector<ScratchRecord>>;

class TrackedMessage final : public platform::Message {
 public:
  TrackedMessage(std::shared_ptr<platform::Message> inner, ScratchLog log, size_t index)
      : inner_(std::move(inner)), log_(std::move(log)), index_(index) {}
  std::shared_ptr<platform::Recipients> Recipients() override { return inner_->Recipients(); }
  void Delete() override {
    inner_->Delete();
    (*log_)[index_].deleted = true;
  }
  std::string ID() override { return inner_->ID(); }
  std::string Subject() override { return inner_->Subject(); }
  std::string Class() override { return inner_->Class(); }
  platform::Variant FieldByName(const std::string& name) override {
    return inner_->FieldByName(name);
  }

 private:
  std::shared_ptr<platform::Message> inner_;
  ScratchLog log_;
  size_t index_;
};

class TrackedMessages final : public platform::Messages {
 public:
  TrackedMessages(std::shared_ptr<platform::Messages> inner, ScratchLog log)
      : inner_(std::move(inner)), log_(std::move(log)) {}
  std::shared_ptr<platform::Message> Add() override {
    auto inner = inner_->Add();
    if (!inner) return nullptr;
    auto message = std::make_shared<TrackedMessage>(std::move(inner), log_, log_->size());
    log_->push_back({message, false});
    return message;
  }
  int32_t Count() override { return inner_->Count(); }
  std::shared_ptr<platform::Message> Item(int32_t position) override {
    return inner_->Item(position);
  }
  std::shared_ptr<platform::Message> GetFirst(const std::string& message_class) override {
    return inner_->GetFirst(message_class);
  }
  void SetFilterClass(const std::optional<std::string>& message_class) override {
    inner_->SetFilterClass(message_class);
  }

 private:
  std::shared_ptr<platform::Messages> inner_;
  ScratchLog log_;
};

class TrackedFolder final : public platform::Folder {
 public:
  TrackedFolder(std::shared_ptr<platform::Folder> inner, ScratchLog log)
      : inner_(std::move(inner)), log_(std::move(log)) {}
  std::shared_ptr<platform::Messages> Messages() override {
    auto inner = inner_->Messages();
    if (!inner) return nullptr;
    return std::make_shared<TrackedMessages>(std::move(inner), log_);
  }
  std::shared_ptr<platform::Folders> Folders() override { return inner_->Folders(); }
  std::string ID() override { return inner_->ID(); }
  std::string StoreID() override { return inner_->StoreID(); }
  std::string Name() override { return inner_->Name(); }

 private:
  std::shared_ptr<platform::Folder> inner_;
  ScratchLog log_;
};

class TrackedSession final : public platform::Session {
 public:
  TrackedSession(std::shared_ptr<platform::Session> inner, ScratchLog log)
      : inner_(std::move(inner)), log_(std::move(log)) {}
  void Logon(const std::string& profile_info) override { inner_->Logon(profile_info); }
  void Logoff() override { inner_->Logoff(); }
  platform::MapiHandle MAPIOBJECT() override { return inner_->MAPIOBJECT(); }
  std::shared_ptr<platform::AddressEntry> GetAddressEntry(const std::string& id) override {
    return inner_->GetAddressEntry(id);
  }
  std::shared_ptr<platform::Folder> GetFolder(const std::string& id,
                                              const std::optional<std::string>& store) override {
    return inner_->GetFolder(id, store);
  }
  std::shared_ptr<platform::Message> GetMessage(const std::string& id,
                                                const std::optional<std::string>& store) override {
    return inner_->GetMessage(id, store);
  }
  std::shared_ptr<platform::InfoStores> InfoStores() override { return inner_->InfoStores(); }
  bool CompareIDs(const std::string& a, const std::string& b) override {
    return inner_->CompareIDs(a, b);
  }
  std::shared_ptr<platform::Folder> ScratchFolder() override {
    auto inner = inner_->ScratchFolder();
    if (!inner) return nullptr;
    return std::make_shared<TrackedFolder>(std::move(inner), log_);
  }
  std::shared_ptr<platform::AddressEntries> GlobalAddressEntries() override {
    return inner_->GlobalAddressEntries();
  }

 private:
  std::shared_ptr<platform::Session> inner_;
  ScratchLog log_;
};

}  // namespace tarnwick_test

#endif  // TARNWICK_TESTS_SUPPORT_SCRATCH_TRACKER_H_
