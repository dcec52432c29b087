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

#include "engine/keyed_collection.h"
#include "engine/person_sink.h"
#include "platform/directory.h"
#include "platform/helper_library.h"
#include "platform/messaging.h"
#include "platform/variant.h"

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

  // Hands every person reported from now on to `sink` as well as to the log
  // (engine/person_sink.h); nullptr detaches. The object does not own the
  // sink, which must outlive it or be detached first.
  void AttachPersonSink(engine::PersonSink* sink) { PersonSink = sink; }

  // "GC://" + the forest root's DN as the directory reports it, or "" after
  // a failure (logged).
  std::string GetRootADsPath();
  // Replaces everything after the last "/" of the command by the base DN
  // and ">".
  void SetBaseDN(std::string& strCommand, const std::string& strBaseDN);

 private:
  friend class KvlProbe;  // tests reach the internal operations through it

  // A checkpoint of a long walk: serves pending events (where a stop
  // signal becomes StopRequested) and tells whether the walk is to leave
  // through its clean-up. Costs one virtual call while no stop is pending.
  static bool StopAtCheckpoint();

  std::shared_ptr<platform::AddressEntry> GetExAE(const std::string& address);
  void AddToSourceMCL(const std::shared_ptr<platform::AddressEntry>& entry);
  void ExpandQueryDL(const std::string& address, bool addRows);
  void AddToSourceMCLFromQuery(const std::shared_ptr<platform::Recordset>& rs);

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

  std::shared_ptr<platform::Folder> RegFolder;
  std::shared_ptr<platform::Folder> MCFolder;
  std::shared_ptr<platform::ZQMAPIUtils> MAPIUtils;
  std::unique_ptr<KeyedCollection> ExpandedLists;
  engine::PersonSink* PersonSink = nullptr;
};

#endif  // TARNWICK_ENGINE_KVL_H_
