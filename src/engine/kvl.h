// The contact-list engine. One object per run: the driver constructs it
// after the logon, calls ParseSourceMCL once and releases it. Every
// operation reports through the run log and never raises to its caller.
// The engine reaches the outside only through the platform interfaces, the
// runtime (platform/runtime.h) and the globals of basGlobals.
#ifndef TARNWICK_ENGINE_KVL_H_
#define TARNWICK_ENGINE_KVL_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/contact_sink.h"
#include "engine/keyed_collection.h"
#include "engine/person_sink.h"
#include "platform/directory.h"
#include "platform/helper_library.h"
#include "platform/messaging.h"
#include "platform/variant.h"

namespace host {
class EngineAccess;
}  // namespace host

class KVL final {
 public:
  // Creates MAPIUtils and hands it the session; logs the outcome.
  KVL();
  // Releases MAPIUtils; logs nothing.
  ~KVL();
  KVL(const KVL&) = delete;
  KVL& operator=(const KVL&) = delete;

  // Resolves every ";"-separated piece of the source and expands it.
  void ParseSourceMCL(std::string source);
  // Reads the contacts of the Master Contact Repository folder named by the
  // repository message of basGlobals::ConfigFolder, then of every active
  // Alternate Contact Folder in trust-ranking order (AddFromACF). True when
  // all were read, or the ranking is empty; false at the first failure.
  bool MergeACF();

  // Hands every person reported from now on to `sink` as well as to the log
  // (engine/person_sink.h); nullptr detaches. The object does not own the
  // sink, which must outlive it or be detached first.
  void AttachPersonSink(engine::PersonSink* sink) { PersonSink = sink; }
  // The same for every contact the contact-folder merge reads
  // (engine/contact_sink.h).
  void AttachContactSink(engine::ContactSink* sink) { ContactSink = sink; }

  // "GC://" + the forest root's DN as the directory reports it, or "" after
  // a failure (logged).
  std::string GetRootADsPath();
  // Replaces everything after the last "/" of the command by the base DN
  // and ">".
  void SetBaseDN(std::string& strCommand, const std::string& strBaseDN);

  // Contact-folder merge (merge/merge_acf.cpp). The Master Contact
  // Repository message of basGlobals::ConfigFolder; surplus ones (every one
  // after the first) are deleted. nullptr when there is none, and when a
  // step fails (the class filter cannot be set or reset, a surplus message
  // cannot be deleted).
  std::shared_ptr<platform::Message> GetMsgMCR();
  // True when the ACF message's "KVL.Inactive" field reads as true.
  bool CheckInactive(const std::shared_ptr<platform::Message>& message);

 private:
  friend class KvlProbe;            // tests reach the internal operations through it
  friend class host::EngineAccess;  // so does tarnwick-host, for the operations it runs

  // A checkpoint of a long walk: serves pending events (where a stop
  // signal becomes StopRequested) and tells whether the walk is to leave
  // through its clean-up. Costs one virtual call while no stop is pending.
  static bool StopAtCheckpoint();

  std::shared_ptr<platform::AddressEntry> GetExAE(const std::string& address);
  void AddToSourceMCL(const std::shared_ptr<platform::AddressEntry>& entry);
  void ExpandQueryDL(const std::string& address, bool addRows);
  void AddToSourceMCLFromQuery(const std::shared_ptr<platform::Recordset>& rs);

  // Proxy collection (addressing/proxies.cpp). A proxy list is a text of
  // items separated by ";"; once wrapped it also begins and ends with ";",
  // so that every item stands between two separators and a host can find an
  // item with the pattern '*;item;*'.

  // Resolves `lookup` on a scratch message of the session and gathers what
  // identifies the entry: an "EX" entry's ODN and its X500 proxies go to
  // x500Proxies, its SMTP proxies (lower-cased) to proxies; any other entry
  // adds `lookup` itself to proxies. `odn` is set when empty; when set, it
  // is weighed against the entry only with replaceODN: a mailbox entry
  // replaces it, another entry whose address is `odn` clears it. Items
  // already in a list (without regard to case) are not added again.
  // Returns an empty variant always; the results are the arguments:
  //  - StopRequested set, or `lookup` empty: nothing changed;
  //  - checkExisting and `lookup` already in either list: one level-8 line,
  //    no resolution, both lists stripped of their outer ";";
  //  - `lookup` does not resolve: `odn` unchanged, both lists stripped;
  //  - resolved: both lists wrapped (two empty lists come back as ";").
  // The scratch message is deleted before the call returns.
  platform::Variant GetAllProxies(const std::string& lookup, std::string& proxies,
                                  std::string& x500Proxies, std::string& odn,
                                  const bool& replaceODN, const bool& checkExisting);
  // Turns the elements at indices 1 to 3 of `values` (an array of a
  // contact's e-mail values, indexed from its own lower bound) into a record
  // filter that finds a contact row by any of them: ODN-shaped values
  // (holding "=") against the fields ODN and X500Proxies, SMTP-shaped ones
  // (holding "@" and ".") against SMTP and Proxies; and into `list`, every
  // non-empty value followed by ";" with the last ";" dropped. Values are
  // trimmed, lower-cased and quoted for the filter (QuoteFilterValue); a
  // missing or non-text element counts as empty. Nothing usable gives two
  // empty texts. StopRequested, tested before each element, returns what was
  // built so far, untrimmed (a filter then ends in " OR "); the caller tells
  // a stopped call by the flag.
  void GetEmailValues(platform::Variant values, std::string& filter, std::string& list);

  // Folder access (folders/mandatory_folder.cpp).

  // Makes sure MCFolder holds the Mandatory Contacts folder: opened from
  // basGlobals::MCFolderID (GetFolder), else from MCFolderPath
  // (GetTargetFolder) on first use, re-opened by its own identifier on every
  // later call. True when MCFolder holds a usable folder at the end; false,
  // with no platform call, while StopRequested is set, and silently when
  // nothing is cached or configured. A cached folder that can no longer be
  // opened is dropped (logged), so that the next call starts afresh from the
  // configuration.
  bool GetMandatoryFolder();
  // The subfolder of `parent` with exactly the name `name`, added when there
  // is none (a subfolder whose name differs only in letter case does not
  // count). nullptr when the parent is nothing (logged) or the add failed.
  std::shared_ptr<platform::Folder> GetHiddenFolder(const std::string& name,
                                                    const std::shared_ptr<platform::Folder>& parent);

  // Kinds of GetTypedVal.
  static constexpr int32_t kTypedText = 0;
  static constexpr int32_t kTypedInt16 = 1;
  static constexpr int32_t kTypedDate = 2;
  static constexpr int32_t kTypedBinary = 3;
  static constexpr int32_t kTypedInt32 = 4;
  static constexpr int32_t kTypedBool = 5;
  // A row value as the kind expects it, or that kind's neutral value when
  // the value is of another type: text trimmed of blanks, else ""; a 16-bit
  // integer, else 16-bit 0; a date, else the zero date; an array as
  // uppercase hexadecimal (BytesToHex), else ""; a 32-bit integer, else
  // 16-bit 0; a Boolean, else false. Any other kind gives an empty variant.
  platform::Variant GetTypedVal(const platform::Variant& value, const int32_t& kind);

  // Value and text helpers.
  std::string GetFieldVal(const std::shared_ptr<platform::AddressEntry>& object, int32_t tag);
  std::string StrToHex(const std::string& text);
  std::string QuoteFilterValue(const platform::Variant& value);
  std::string StripQuotes(const platform::Variant& value);
  std::string EscapeLike(const std::string& text);
  std::string UnescapeLike(const std::string& text);
  bool IsEmailAddr(const platform::Variant& value);
  bool IsODN(const platform::Variant& value);
  std::string ResolveSMTP(const std::string& name);
  bool IsNullText(const std::string& text);

  // Reads the contacts of one folder row by row through a helper table;
  // true when every row was read. `repository` tells the sink which kind of
  // folder it is; the merge itself does not read it.
  bool AddFromACF(const std::shared_ptr<platform::Folder>& folder, const bool& repository);
  // A field value as trimmed text; "" for null, empty, the text "NULL" or a
  // value that is not text.
  std::string GetFieldText(const platform::Variant& value);
  // The message of RegFolder whose conversation topic is `topic` or, when
  // the topic is empty, whose "PIN" field is `pin`; nullptr when neither is
  // given, nothing matches or the matching message cannot be opened. The
  // one operation that raises to its caller: PlatformError when the helper
  // folder cannot be made or attached (91 without a RegFolder).
  std::shared_ptr<platform::Message> FindMsgByTopicOrPIN(const std::string& topic,
                                                         const std::string& pin);

  std::shared_ptr<platform::Folder> RegFolder;
  std::shared_ptr<platform::Folder> MCFolder;
  std::shared_ptr<platform::ZQMAPIUtils> MAPIUtils;
  std::unique_ptr<KeyedCollection> ExpandedLists;
  engine::PersonSink* PersonSink = nullptr;
  engine::ContactSink* ContactSink = nullptr;
};

#endif  // TARNWICK_ENGINE_KVL_H_
