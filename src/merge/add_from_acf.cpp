// The contacts of one folder, read as helper-table rows of seven columns
// (three e-mail slots, the display name, the slots' stored entry
// identifiers) instead of opening every contact item.
//
// Per row, SMTP-shaped slot addresses are taken as they are and the first
// Exchange address that the address book knows becomes the row's ODN; later
// Exchange addresses are not looked up once a row has one. What the row
// gives is handed to the contact sink, when one is attached; the log and the
// platform calls are the same with or without a sink.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "addressing/bas_cdo.h"
#include "addressing/bas_rdo.h"
#include "driver/globals.h"
#include "driver/run_log.h"
#include "engine/contact_sink.h"
#include "engine/kvl.h"
#include "platform/on_error.h"
#include "platform/properties.h"
#include "platform/runtime.h"
#include "platform/text.h"

using platform::Obj;
using platform::OnError;

namespace {

constexpr char kA[] = "KVL::AddFromACF:";
constexpr int kSlots = 3;
constexpr int kNameColumn = 3;
constexpr int kFirstEntryIdColumn = 4;
constexpr auto kSubjectTag = static_cast<int32_t>(
    platform::PropTag(platform::prop_id::kSubject, platform::prop_type::kString8));

// Column `index` of a row; empty when the row holds fewer columns.
platform::Variant Column(const platform::Variant& row, int index) {
  const platform::VariantArray* columns = row.Array();
  if (columns == nullptr || index >= static_cast<int>(columns->items.size())) return {};
  return columns->items[static_cast<size_t>(index)];
}

void AddSmtp(engine::ContactRead& contact, const std::string& address) {
  if (address.empty()) return;
  for (const std::string& held : contact.smtp) {
    if (held == address) return;
  }
  contact.smtp.push_back(address);
}

}  // namespace

bool KVL::AddFromACF(const std::shared_ptr<platform::Folder>& folder, const bool& repository) {
  OnError err;
  OnError name_err;  // kept apart so that the lines report the failure that matters
  const std::string folder_name = name_err.Run([&] { return Obj(folder).Name(); });

  const auto helper = err.Run([] {
    return platform::CreateObjectAs<platform::ZQMAPIFolder>(platform::kHelperFolderClass);
  });
  // Attaching to nothing would detach the helper without an error; the
  // line then names what really failed.
  err.Run([&] {
    Obj(folder);
    Obj(helper).SetFolder(folder);
  });
  const auto items = err.Run([&] { return Obj(helper).Items(); });
  if (err.Pending() || !items) {
    modTest::WriteLog(std::string(kA) + "error: unable to retrieve messages from " + folder_name +
                          " " + err.Description(),
                      modTest::kLevelError);
    return false;
  }
  modTest::WriteLog(std::string(kA) + "adding to data set from " + folder_name,
                    modTest::kLevelTrace);

  const auto table = err.Run(
      [] { return platform::CreateObjectAs<platform::ZQMAPITable>(platform::kHelperTableClass); });
  if (err.Pending() || !table) {
    modTest::WriteLog(
        std::string(kA) + "error: unable to instantiate MAPITable object " + err.Description(),
        modTest::kLevelError);
    return false;
  }
  err.Run([&] { table->SetItems(items); });
  std::array<int32_t, kSlots> address_tags{};
  std::array<int32_t, kSlots> entry_id_tags{};
  for (int k = 0; k < kSlots; ++k) {
    address_tags[k] = err.Run([&] {
      return helper->GetIDsFromNames(platform::kPsetidAddress,
                                     platform::Variant(platform::kEmailAddressLids[k]));
    }) | platform::prop_type::kString8;
  }
  for (int k = 0; k < kSlots; ++k) {
    entry_id_tags[k] = err.Run([&] {
      return helper->GetIDsFromNames(platform::kPsetidAddress,
                                     platform::Variant(platform::kEmailEntryIdLids[k]));
    }) | platform::prop_type::kBinary;
  }
  const int32_t row_count = err.Run([&] { return table->RowCount(); });
  err.Run([&] {
    table->SetColumns({address_tags[0], address_tags[1], address_tags[2], kSubjectTag,
                       entry_id_tags[0], entry_id_tags[1], entry_id_tags[2]});
  });

  // A table that cannot be attached, counted or given its columns would
  // read no contact, or contacts without their addresses; taking that for a
  // folder read would let the merge report success for contacts it never
  // saw. It fails as a table that cannot be made does.
  if (err.Pending()) {
    modTest::WriteLog(
        std::string(kA) + "error: unable to instantiate MAPITable object " + err.Description(),
        modTest::kLevelError);
    return false;
  }

  for (int32_t row_number = 1; row_number <= row_count; ++row_number) {
    if (basGlobals::StopRequested) return false;
    const platform::Variant row = err.Run([&] { return table->GetRow(); });
    // A read that fails is not the end of the rows: the rest are unread,
    // and the merge that called would otherwise fail without a word.
    if (err.Pending()) {
      modTest::WriteLog(std::string(kA) + "error: unable to read the contacts of " + folder_name +
                            " after row " + std::to_string(row_number - 1) + ": " +
                            std::to_string(err.Number()) + " " + err.Description(),
                        modTest::kLevelError);
      return false;
    }
    if (row.IsEmpty()) return true;

    const std::string name = GetTypedVal(Column(row, kNameColumn), kTypedText).ToText();
    modTest::WriteLog(std::string(kA) + "checking emails for " + name, modTest::kLevelInfo);
    // Only a sink needs the normalised addresses; without one they are not
    // worked out.
    engine::ContactRead contact;
    std::string odn;
    for (int k = 0; k < kSlots; ++k) {
      const platform::Variant address = Column(row, k);
      if (!address.IsText()) continue;
      const std::string slot = std::to_string(k + 1);
      if (IsEmailAddr(address)) {
        if (ContactSink != nullptr) {
          const std::string smtp =
              StripQuotes(platform::Variant(text::LCase(text::Trim(address.ToText()))));
          AddSmtp(contact, smtp);
          contact.smtp_list += smtp + ";";
        }
      } else if (IsODN(address) && odn.empty()) {
        const std::string trimmed = text::Trim(address.ToText());
        const std::string entry_id = basRDO::GetIdForODN(trimmed);
        const std::string stored =
            GetTypedVal(Column(row, kFirstEntryIdColumn + k), kTypedBinary).ToText();
        if (entry_id.empty()) {
          modTest::WriteLog(std::string(kA) + "GetIdForODN failed for Email" + slot + " (" +
                                trimmed + ") on " + name,
                            modTest::kLevelInfo);
          if (!stored.empty()) {
            const std::string found = basRDO::GetAddressEntryFromId(stored);
            modTest::WriteLog(std::string(kA) + "GetAddressEntryFromId for Email" + slot +
                                  "EntryID returned " + found,
                              modTest::kLevelInfo);
          }
        } else {
          odn = trimmed;
          // Resolved whether or not a sink wants it: the look-up logs when
          // the ODN has no SMTP address.
          const std::string primary = basCDO::PrimarySMTPfromODN(odn);
          if (ContactSink != nullptr) {
            contact.odn = odn;
            contact.odn_list = text::LCase(odn) + ";";
            contact.entry_id = entry_id;
            AddSmtp(contact, primary);
          }
        }
      }
    }
    if (ContactSink != nullptr) {
      contact.folder = folder_name;
      contact.repository = repository;
      contact.name = name;
      ContactSink->OnContact(contact);
    }
    if (StopAtCheckpoint()) return false;
  }
  return true;
}

std::string KVL::GetFieldText(const platform::Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return {};
  if (value.IsText() && value.ToText() == "NULL") return {};
  OnError err;
  return text::Trim(err.Run([&] { return value.ToText(); }));
}
