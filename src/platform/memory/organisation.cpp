#include "platform/memory/organisation.h"

#include <fcntl.h>
#include <ldap.h>
#include <ldif.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <span>
#include <sstream>
#include <system_error>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/directory_command.h"
#include "platform/dn.h"
#include "platform/error.h"
#include "platform/ldap_filter.h"
#include "platform/memory/address_book.h"
#include "platform/memory/ldif_records.h"
#include "platform/memory/ldif_screen.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/memory_directory_search.h"
#include "platform/memory/profile_json.h"
#include "platform/properties.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

using Json = nlohmann::json;

constexpr std::array<const char*, 7> kUsualFolders = {
    "Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Contacts", "Calendar"};
constexpr char kMailboxRootName[] = "Top of Information Store";
constexpr char kPublicStoreName[] = "Public Folders";
constexpr char kPublicRootName[] = "IPM_SUBTREE";
constexpr char kPublicTopName[] = "All Public Folders";

constexpr uint64_t kFnvOffset = 14695981039346656037ULL;

// FNV-1a is a running hash, so the hash of a long seed can continue from
// the hash of its prefix: folder identifiers deep in a tree then cost the
// length of their own name, not of their whole path.
uint64_t Fnv1a(std::string_view bytes, uint64_t hash = kFnvOffset) {
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::string HexOfHash(uint64_t hash) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string id(16, '0');
  for (int i = 15; i >= 0; --i) {
    id[static_cast<size_t>(i)] = kDigits[hash & 0xF];
    hash >>= 4;
  }
  return id;
}

std::string HashId(std::string_view seed) { return HexOfHash(Fnv1a(seed)); }

std::string Upper(std::string_view hex) {
  std::string out(hex);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

// Attribute names are ASCII (the screen admits RFC 4512 names only).
std::string AsciiLower(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// What a mailbox store is named after: the directory user (objectClass
// user) whose mailNickname is the alias, without regard to case.
struct DirectoryUserNames {
  std::string display_name;
  std::string rdn_value;
};
std::optional<DirectoryUserNames> DirectoryUser(const DirectorySearch& search,
                                                std::string_view alias) {
  DirectoryCommand command;
  command.filter =
      "(&(objectClass=user)(mailNickname=" + ldapfilter::EscapeValue(text::Trim(alias)) + "))";
  command.attributes = {"displayName"};
  const auto filter = ldapfilter::Parse(command.filter);
  const DirectorySearch::Rows found = search.Search(command, *filter);
  if (found.rows.empty()) return std::nullopt;
  const DirRecord& user = *found.rows.front();
  return DirectoryUserNames{std::string(user.First("displayName")), std::string(user.RdnValue())};
}

// ---------------------------------------------------------------------------
// LDIF

struct DnParts {
  // The first RDN's value: where it stands in the DN (set only for a
  // plainly written DN, so that a view of the DN can give it), else in
  // `rdn_text`.
  std::optional<size_t> rdn_offset;
  size_t rdn_length = 0;
  std::string rdn_text;
  bool domain_only = false;  // every RDN is a single DC= component
  size_t components = 0;
};

// A plainly written DN (platform/dn.h) is split where it stands; libldap
// parses the rest. Both give the first RDN's value with escapes undone.
std::optional<DnParts> SplitDn(std::string_view dn) {
  if (IsPlainDn(dn)) {
    DnParts parts;
    parts.domain_only = true;
    size_t at = 0;
    while (true) {
      const size_t equals = dn.find('=', at);
      const size_t comma = std::min(dn.find(',', equals), dn.size());
      if (parts.components == 0) {
        parts.rdn_offset = equals + 1;
        parts.rdn_length = comma - equals - 1;
      }
      ++parts.components;
      if (!text::AsciiEqualsNoCase(dn.substr(at, equals - at), "dc")) parts.domain_only = false;
      if (comma == dn.size()) return parts;
      at = comma + 1;
    }
  }
  const std::string terminated(dn);  // libldap wants a NUL-terminated DN
  LDAPDN parsed = nullptr;
  if (ldap_str2dn(terminated.c_str(), &parsed, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS ||
      parsed == nullptr || parsed[0] == nullptr || parsed[0][0] == nullptr) {
    if (parsed != nullptr) ldap_dnfree(parsed);
    return std::nullopt;
  }
  DnParts parts;
  const LDAPAVA* first = parsed[0][0];
  parts.rdn_text.assign(first->la_value.bv_val, first->la_value.bv_len);
  parts.domain_only = true;
  for (size_t i = 0; parsed[i] != nullptr; ++i) {
    ++parts.components;
    const LDAPRDN rdn = parsed[i];
    const bool single = rdn[0] != nullptr && rdn[1] == nullptr;
    const bool dc =
        single &&
        text::EqualsNoCase(std::string_view(rdn[0]->la_attr.bv_val, rdn[0]->la_attr.bv_len), "dc");
    if (!dc) parts.domain_only = false;
  }
  ldap_dnfree(parsed);
  return parts;
}

struct BerFree {
  void operator()(char* p) const { ber_memfree(p); }
};

// How many records pass between two questions to the stop predicate.
constexpr size_t kRecordsPerStopCheck = 256;
// The reader hands records on in batches of this many, and reads at most
// this many batches ahead of the records being added.
constexpr size_t kRecordsPerBatch = 256;
constexpr size_t kBatchesAhead = 4;
// From this size on, a text is read on a thread of its own while the
// records read are added to the directory; a smaller one is not worth a
// thread.
constexpr size_t kTwoThreadsFrom = 1 << 20;
// A large text is handed back to the system in pieces of at least this
// many bytes as its records are added.
constexpr size_t kReleaseAtLeast = 4 << 20;

// Records as the reader hands them on, parsed: each one's first line in the
// file, its DN taken apart, and its (name, value) pairs, which point into
// the text being loaded, into the record's own copy, or into a value the
// line parser decoded. `error`, when set, is what stopped the reading after
// these records; `last` says that nothing follows.
struct LdifBatch {
  struct Record {
    size_t start = 0;
    std::string_view dn;
    DnParts dn_parts;
    size_t first_value = 0;  // into `values`
    size_t value_count = 0;
    DirectoryData::KeyHashes key_hashes;
    std::unique_ptr<char[]> copy;
  };
  std::vector<Record> records;
  std::vector<std::pair<size_t, char*>> lines;  // scratch of the record being read
  std::vector<std::pair<std::string_view, std::string_view>> values;
  std::vector<std::unique_ptr<char, BerFree>> decoded;
  // Where the last record parsed in the text ends (0: none was): no later
  // record reaches back before it.
  size_t text_end = 0;
  std::exception_ptr error;
  bool last = false;

  void Clear() {
    records.clear();
    values.clear();
    decoded.clear();
    text_end = 0;
    error = nullptr;
    last = false;
  }
};

class LdifLoader {
 public:
  // `text` is what the reader reads; it outlives the loader, and the
  // loader may write to it (unfolding) and hand its pages back.
  LdifLoader(std::string file, DirectoryData& directory, std::span<char> text,
             const std::function<bool()>& stop)
      : file_(std::move(file)), directory_(directory), text_(text), reader_(text), stop_(stop) {}

  // Reads every record; returns how many entries were added. `root_dn`
  // receives the default root domain naming context.
  //
  // Reading (cutting records, unfolding, taking lines apart, the DN, the
  // hashes of the index keys) and adding (the duplicate checks, the
  // directory) take turns batch by batch, or, for a large text, run at
  // once on two threads. Either way records are added
  // in file order, and the first fault in file order is the one raised: a
  // fault the reader meets travels behind the records read before it, and
  // a fault in adding ends the reader before it is raised. The stop
  // predicate is asked on the calling thread only.
  size_t Read(std::string* root_dn) {
    root_dn_ = root_dn;
    // A large text is let go of as it is read: the directory copies what
    // it keeps, and what lies behind the records added is not read again.
    release_text_ = text_.size() >= kTwoThreadsFrom;
    if (text_.size() >= kTwoThreadsFrom && ReadInTwoThreads()) {
      return directory_.Entries().size();
    }
    LdifBatch batch;
    do {
      ReadBatch(batch);
      AddBatch(batch);
    } while (!batch.last);
    return directory_.Entries().size();
  }

  [[noreturn]] void Fail(size_t line, const std::string& what) const {
    throw ProfileError(file_ + ":" + std::to_string(line) + ": " + what);
  }

 private:
  // The batches in flight between the two threads: a ring in which the
  // reader fills batch `read % kBatchesAhead` while the caller adds from
  // batch `added % kBatchesAhead`. All batches are made before the reader
  // starts, so the reader allocates nothing outside ReadBatch (where a
  // failure becomes the batch's error).
  struct Pipeline {
    std::array<LdifBatch, kBatchesAhead> batches;
    std::mutex mutex;
    std::condition_variable changed;
    size_t read = 0;   // batches filled
    size_t added = 0;  // batches added from, and free again
    bool cancelled = false;
  };

  // False when no thread could be started (nothing has been read then).
  bool ReadInTwoThreads() {
    Pipeline pipe;
    std::thread reader;
    try {
      reader = std::thread([this, &pipe] {
        while (true) {
          {
            std::unique_lock<std::mutex> lock(pipe.mutex);
            pipe.changed.wait(
                lock, [&] { return pipe.cancelled || pipe.read - pipe.added < kBatchesAhead; });
            if (pipe.cancelled) return;
          }
          LdifBatch& batch = pipe.batches[pipe.read % kBatchesAhead];
          ReadBatch(batch);
          const bool last = batch.last;
          {
            const std::lock_guard<std::mutex> lock(pipe.mutex);
            ++pipe.read;
          }
          pipe.changed.notify_all();
          if (last) return;
        }
      });
    } catch (const std::system_error&) {
      return false;
    }
    // Ends the reader however adding ends, before the file is closed.
    struct Joiner {
      Pipeline& pipe;
      std::thread& reader;
      ~Joiner() {
        {
          const std::lock_guard<std::mutex> lock(pipe.mutex);
          pipe.cancelled = true;
        }
        pipe.changed.notify_all();
        reader.join();
      }
    } joiner{pipe, reader};
    while (true) {
      {
        std::unique_lock<std::mutex> lock(pipe.mutex);
        pipe.changed.wait(lock, [&] { return pipe.read > pipe.added; });
      }
      LdifBatch& batch = pipe.batches[pipe.added % kBatchesAhead];
      AddBatch(batch);
      const bool last = batch.last;
      {
        const std::lock_guard<std::mutex> lock(pipe.mutex);
        ++pipe.added;
      }
      pipe.changed.notify_all();
      if (last) return true;
    }
  }

  // Reads up to kRecordsPerBatch records into the batch; never raises (a
  // fault becomes the batch's error, and its last record).
  void ReadBatch(LdifBatch& batch) {
    batch.Clear();
    try {
      while (batch.records.size() < kRecordsPerBatch) {
        LdifRecord in;
        try {
          if (!reader_.Next(in)) {
            batch.last = true;
            return;
          }
        } catch (const LdifRecordError& e) {
          Fail(e.line(), e.what());
        }
        LdifBatch::Record& record = batch.records.emplace_back();
        char* bytes = in.text;
        if (in.text_end == 0) {
          // The reader's buffer is reused for the next record.
          record.copy.reset(new char[in.size + 1]);
          std::memcpy(record.copy.get(), in.text, in.size + 1);
          bytes = record.copy.get();
        } else {
          batch.text_end = in.text_end;
        }
        batch.lines.clear();
        UnfoldLines(bytes, batch.lines);
        record.start = in.first_line;
        const bool first_record = first_record_;
        first_record_ = false;
        // RFC 2849 lets the file open with "version: 1"; the reader gives it
        // as a record of its own when a blank line follows. A record that
        // fails to parse is not handed on: its fault follows the records
        // before it.
        bool parsed = false;
        try {
          parsed = ParseRecord(record, batch, first_record);
        } catch (...) {
          batch.records.pop_back();
          throw;
        }
        if (!parsed) batch.records.pop_back();
      }
    } catch (...) {
      batch.error = std::current_exception();
      batch.last = true;
    }
  }

  // Adds the batch's records in order, then raises the batch's error.
  void AddBatch(const LdifBatch& batch) {
    // The index slots of the records a little ahead are fetched while
    // this one is added.
    constexpr size_t kAhead = 2;
    const auto& records = batch.records;
    for (size_t r = 0; r < std::min(kAhead, records.size()); ++r) {
      directory_.Prefetch(records[r].key_hashes);
    }
    for (size_t r = 0; r < records.size(); ++r) {
      if (r + kAhead < records.size()) directory_.Prefetch(records[r + kAhead].key_hashes);
      const LdifBatch::Record& record = records[r];
      if (stop_ && ++records_ % kRecordsPerStopCheck == 0 && stop_()) {
        throw ProfileError(file_ + ": loading stopped by a stop request");
      }
      const size_t start = record.start;
      const DnParts& parts = record.dn_parts;
      entry_.dn = record.dn;
      entry_.line = start;
      const auto values = std::span(batch.values).subspan(record.first_value, record.value_count);
      entry_.values.assign(values.begin(), values.end());
      // A view into the record, not into a copy, spares the directory a
      // copy of its own.
      entry_.rdn_value = parts.rdn_offset ? entry_.dn.substr(*parts.rdn_offset, parts.rdn_length)
                                          : std::string_view(parts.rdn_text);
      entry_.plain_dn = parts.rdn_offset.has_value();
      if (parts.domain_only && parts.components < best_components_) {
        best_components_ = parts.components;
        *root_dn_ = std::string(entry_.dn);
      }
      const DirectoryData::AddResult added = directory_.Add(entry_);
      if (added == DirectoryData::AddResult::kDuplicateLegacyDn) RefuseDuplicateLegacyDn(start);
      if (added != DirectoryData::AddResult::kAdded) {
        const DirEntry* first = directory_.ByDN(entry_.dn);
        Fail(start, "duplicate dn '" + std::string(entry_.dn) + "'" + FirstAt(first));
      }
    }
    if (release_text_ && batch.text_end != 0) ReleaseText(batch.text_end);
    if (batch.error) std::rethrow_exception(batch.error);
  }

  // Hands the whole pages of the text before `end` back to the system: the
  // records there are added (the directory holds copies), and the reader
  // has moved past them, so no byte there is read again. The pages stay
  // mapped and read as zeros should anything touch them, so a refusal or
  // a late touch costs memory, never correctness.
  void ReleaseText(size_t end) {
    static const auto kPage = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    if (kPage == 0 || (kPage & (kPage - 1)) != 0) return;
    const auto base = reinterpret_cast<uintptr_t>(text_.data());
    const uintptr_t from = (base + released_ + kPage - 1) & ~(kPage - 1);
    const uintptr_t to = (base + end) & ~(kPage - 1);
    // In pieces of some size: each call costs the reading thread a flush of
    // its address translations.
    if (to <= from || to - from < kReleaseAtLeast) return;
    (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
    released_ = to - base;
  }

  static std::string FirstAt(const DirEntry* first) {
    return first != nullptr ? " (first at line " + std::to_string(first->line) + ")"
                            : std::string();
  }

  // The entry identifier derives from the legacyExchangeDN, so a second
  // object with the same one would vanish behind the first, members and
  // all. Raises the fault for the first value of the entry that another
  // object holds (the directory refused the entry for one).
  void RefuseDuplicateLegacyDn(size_t start) const {
    for (const auto& [name, odn] : entry_.values) {
      if (!text::AsciiEqualsNoCase(name, "legacyExchangeDN")) continue;
      if (const DirEntry* first = directory_.ByLegacyDN(odn)) {
        Fail(start, "duplicate legacyExchangeDN '" + std::string(odn) + "'" + FirstAt(first));
      }
    }
  }

  // Unfolds the record's lines in place (an unfolded line is never longer
  // than its source, so the buffer can be rewritten from the front) and
  // appends to `lines` each line's place in the record (0 for its first
  // line) and its NUL-terminated text; comments and their continuations
  // are left out.
  static void UnfoldLines(char* raw, std::vector<std::pair<size_t, char*>>& lines) {
    char* write = raw;
    char* read = raw;
    bool in_comment = false;
    bool open = false;  // a line is being written
    for (size_t number = 0; *read != '\0'; ++number) {
      char* end = std::strchr(read, '\n');
      if (end == nullptr) end = read + std::strlen(read);
      size_t length = static_cast<size_t>(end - read);
      if (length > 0 && read[length - 1] == '\r') --length;
      if (length > 0 && read[0] == ' ') {
        if (open) {
          std::memmove(write, read + 1, length - 1);
          write += length - 1;
        }
      } else {
        if (open) *write++ = '\0';
        open = false;
        in_comment = length > 0 && read[0] == '#';
        if (!in_comment && length > 0) {
          lines.emplace_back(number, write);
          // Until the first fold, every line stands where it is written.
          if (write != read) std::memmove(write, read, length);
          write += length;
          open = true;
        }
      }
      read = *end == '\0' ? end : end + 1;
    }
    if (open) *write = '\0';
  }

  // The record UnfoldLines took apart (the batch's `lines`), starting at
  // line `record.start` of the file, through ParseLdifLine (libldap's line
  // parser where a line is not plain: value decoding, base64) into the
  // batch's values: views into the record's
  // buffer, or into the batch's `decoded` for a value the parser had to
  // decode; DirectoryData::Add groups them by name (in linear time, where
  // libldap's own record parser compares each name with every name before
  // it). Then the DN, taken apart. False for a record that holds only the
  // version line. Runs on the reading thread, so it touches nothing but
  // the batch.
  bool ParseRecord(LdifBatch::Record& record, LdifBatch& batch, bool first_record) const {
    const size_t start = record.start;
    const auto& lines = batch.lines;
    record.first_value = batch.values.size();
    bool have_dn = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const size_t line = start + lines[i].first;
      LdifLine parsed;
      if (!ParseLdifLine(lines[i].second, parsed)) {
        Fail(line, have_dn ? "malformed line in entry \"" + std::string(record.dn) + "\""
                           : "malformed line");
      }
      if (parsed.decoded != nullptr) batch.decoded.emplace_back(parsed.decoded);
      const std::string_view name = parsed.name;
      const std::string_view text = parsed.value;
      if (!have_dn) {
        if (first_record && i == 0 && text::AsciiEqualsNoCase(name, "version")) {
          if (lines.size() == 1) return false;
          continue;
        }
        if (!text::AsciiEqualsNoCase(name, "dn")) Fail(start, "record without dn");
        record.dn = text;
        if (record.dn.find_first_not_of(' ') == std::string_view::npos) {
          Fail(start, "record with an empty dn");
        }
        have_dn = true;
        continue;
      }
      if (text::AsciiEqualsNoCase(name, "changetype")) {
        const std::string change = AsciiLower(text::Trim(text));
        if (change != "add") {
          Fail(start, "changetype " + change + " is not accepted; only add records are");
        }
        continue;
      }
      // Controls only make sense to a server applying changes.
      if (text::AsciiEqualsNoCase(name, "control")) continue;
      batch.values.emplace_back(name, text);
    }
    if (!have_dn) Fail(start, "record without dn");
    record.value_count = batch.values.size() - record.first_value;
    // A base64 value escapes the screen's look at the text.
    for (size_t i = record.first_value; i < batch.values.size(); ++i) {
      const auto& [name, text] = batch.values[i];
      if (text::AsciiEqualsNoCase(name, "msExchRecipientDisplayType") &&
          !IsDisplayTypeValue(text)) {
        Fail(start, "msExchRecipientDisplayType must be a 32-bit integer, not '" +
                        std::string(text) + "'");
      }
    }
    auto parts = SplitDn(record.dn);
    if (!parts) Fail(start, "'" + std::string(record.dn) + "' is not a valid DN");
    record.dn_parts = std::move(*parts);
    DirectoryData::HashKeys(record.dn, record.dn_parts.rdn_offset.has_value(),
                            std::span(batch.values).subspan(record.first_value, record.value_count),
                            record.key_hashes);
    return true;
  }

  std::string file_;
  DirectoryData& directory_;
  std::span<char> text_;
  // The reader's side.
  LdifRecordReader reader_;
  const std::function<bool()>& stop_;
  bool first_record_ = true;
  // The adding side: whether it lets go of the text, and how much of it it
  // has let go of; records seen, the best root DN so far, the record being
  // added.
  bool release_text_ = false;
  size_t released_ = 0;
  std::string* root_dn_ = nullptr;
  size_t records_ = 0;
  size_t best_components_ = std::numeric_limits<size_t>::max();
  DirectoryData::NewEntry entry_;
};

// Screens the text, then reads it (the loader writes to it and hands its
// pages back as it goes); returns the entries added.
size_t LoadLdifBytes(std::span<char> bytes, const std::string& name, DirectoryData& directory,
                     std::string* root_dn, const std::function<bool()>& stop) {
  LdifCounts counts;
  const std::string_view whole(bytes.data(), bytes.size());
  const size_t skip = ScreenLdif(whole, name, &counts);
  directory.Reserve(directory.Entries().size() + counts.records, counts.mails, counts.proxies);
  // The text lives for the load only: the directory keeps copies of what
  // it needs.
  const std::span<char> text = bytes.subspan(skip);
  LdifLoader loader(name, directory, text, stop);
  return loader.Read(root_dn);
}

size_t LoadLdifText(std::string ldif, const std::string& name, DirectoryData& directory,
                    std::string* root_dn, const std::function<bool()>& stop) {
  return LoadLdifBytes(std::span<char>(ldif.data(), ldif.size()), name, directory, root_dn, stop);
}

std::string NotRegular(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

// The bytes of a file as read: `size` of them at `data`, in a block that
// holds one byte more, so that a loader may end the last line in place.
struct FileBytes {
  std::unique_ptr<char[]> data;
  size_t size = 0;
};

// From this size on, a file is read in two halves at once.
constexpr size_t kTwoReadsFrom = 8 << 20;

// What ReadAt read: how many bytes, and the errno of a failure (0: none).
struct ReadResult {
  size_t size = 0;
  int error = 0;
};

// Reads up to `size` bytes at `offset` into `to`, on through short reads
// and interruptions; fewer only at the end of the file.
ReadResult ReadAt(int fd, char* to, size_t size, size_t offset) {
  ReadResult result;
  while (result.size < size) {
    const ssize_t got =
        ::pread(fd, to + result.size, size - result.size, static_cast<off_t>(offset + result.size));
    if (got < 0) {
      if (errno == EINTR) continue;
      result.error = errno;
      return result;
    }
    if (got == 0) break;
    result.size += static_cast<size_t>(got);
  }
  return result;
}

// The whole content of a regular file. The file is opened without blocking
// and checked before a byte is read, so that a FIFO cannot stall the
// program and a device such as /dev/zero cannot feed it without end.
FileBytes ReadRegularFileBytes(const std::string& path) {
  if (path.find('\0') != std::string::npos) {
    throw ProfileError(path.substr(0, path.find('\0')) + ": the file name holds a NUL character");
  }
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throw ProfileError(path + ": cannot open the file: " + std::strerror(errno));
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    throw ProfileError(path + ": cannot read the file: " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) throw ProfileError(path + ": " + NotRegular(status.st_mode));
  // Read straight into a block left as it is (no pass to clear it first),
  // not through a buffer of our own: the file can be most of the run's
  // memory, and a pass over it a good part of the load. The size is a
  // first guess only, as the file may grow or shrink while it is read; the
  // block grows past it.
  const auto expected = static_cast<size_t>(status.st_size);
  size_t capacity = expected + 2;
  FileBytes bytes;
  bytes.data.reset(new char[capacity]);
  const auto fail = [&path](int error) {
    throw ProfileError(path + ": cannot read the file: " + std::strerror(error));
  };
  // A large file is read in two halves at once, the second on a thread of
  // its own: the copy and the first touch of the block's pages were a
  // sixth of the load, on one core while the other waited.
  if (expected >= kTwoReadsFrom) {
    const size_t half = expected / 2;
    ReadResult second;
    std::thread helper;
    try {
      helper =
          std::thread([&] { second = ReadAt(fd, bytes.data.get() + half, expected - half, half); });
    } catch (const std::system_error&) {
      // No thread to be had: the file is read in one piece below.
    }
    if (helper.joinable()) {
      const ReadResult first = ReadAt(fd, bytes.data.get(), half, 0);
      helper.join();
      if (first.error != 0) fail(first.error);
      if (second.error != 0) fail(second.error);
      // A file that shrank while it was read is read on from where its
      // first half stopped short.
      bytes.size = first.size == half ? half + second.size : first.size;
    }
  }
  while (true) {
    if (bytes.size + 1 == capacity) {
      std::unique_ptr<char[]> grown(new char[capacity * 2]);
      std::memcpy(grown.get(), bytes.data.get(), bytes.size);
      bytes.data = std::move(grown);
      capacity *= 2;
    }
    const ReadResult got =
        ReadAt(fd, bytes.data.get() + bytes.size, capacity - 1 - bytes.size, bytes.size);
    if (got.error != 0) fail(got.error);
    if (got.size == 0) break;
    bytes.size += got.size;
  }
  bytes.data[bytes.size] = '\0';
  return bytes;
}

std::string ReadRegularFile(const std::string& path) {
  const FileBytes bytes = ReadRegularFileBytes(path);
  return std::string(bytes.data.get(), bytes.size);
}

void LoadLdifFile(const std::string& file, DirectoryData& directory, std::string* root_dn,
                  const std::function<bool()>& stop) {
  FileBytes bytes = ReadRegularFileBytes(file);
  if (LoadLdifBytes(std::span<char>(bytes.data.get(), bytes.size), file, directory, root_dn,
                    stop) == 0) {
    throw ProfileError(file + ": the file holds no directory entries");
  }
}

// ---------------------------------------------------------------------------
// Profile

}  // namespace

// Where a value sits in the profile, as a chain through the caller's stack
// frames: making one costs nothing, and the text ("mailboxes[0].folders[1]
// .name") is only written when a fault is reported, so a deep folder tree
// loads in time linear in its size.
struct KeyPath {
  const KeyPath* parent = nullptr;
  std::string_view key;  // empty for an index
  size_t index = 0;

  KeyPath Key(std::string_view name) const { return KeyPath{this, name, 0}; }
  KeyPath Index(size_t position) const { return KeyPath{this, std::string_view(), position}; }

  std::string Text() const {
    std::vector<const KeyPath*> chain;
    for (const KeyPath* at = this; at != nullptr && at->parent != nullptr; at = at->parent) {
      chain.push_back(at);
    }
    std::string text;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      const KeyPath& at = **it;
      if (at.key.empty()) {
        text += "[" + std::to_string(at.index) + "]";
      } else {
        if (!text.empty()) text += ".";
        text += at.key;
      }
    }
    return text;
  }
};

// Builds an organisation from a parsed profile; friend of Organisation.
class OrganisationLoader {
 public:
  OrganisationLoader(std::string file, Organisation& organisation)
      : file_(std::move(file)), organisation_(organisation) {}

  static std::shared_ptr<Organisation> Build(const std::string& json_text,
                                             const std::string& profile_name,
                                             const std::string* ldif_text, std::string ldif_name,
                                             const std::function<bool()>& stop,
                                             const ServerDirectoryOpener& open_server);
  // Points the directory commands at the organisation's directory and
  // settings; the last step of every way of making an organisation.
  static void Finish(Organisation& organisation);

  [[noreturn]] void Fail(const KeyPath& at, const std::string& must) const {
    throw ProfileError(file_ + ": key '" + at.Text() + "' must " + must);
  }

  void CheckKeys(const Json& object, const KeyPath& at,
                 std::initializer_list<std::string_view> allowed) const {
    for (const auto& [key, value] : object.items()) {
      if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
        throw ProfileError(file_ + ": unknown key '" + at.Key(key).Text() + "'");
      }
    }
  }

  std::optional<std::string> Text(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_string()) Fail(at.Key(key), "be a text");
    return it->get<std::string>();
  }

  std::string RequiredText(const Json& object, const KeyPath& at, const char* key) const {
    auto value = Text(object, at, key);
    if (!value) Fail(at.Key(key), "be given (a text)");
    return *value;
  }

  std::optional<bool> Bool(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return std::nullopt;
    if (!it->is_boolean()) Fail(at.Key(key), "be true or false");
    return it->get<bool>();
  }

  std::optional<std::string> Hex(const Json& object, const KeyPath& at, const char* key) const {
    auto value = Text(object, at, key);
    if (value && (!IsHexText(*value) || value->size() % 2 != 0)) {
      Fail(at.Key(key), "be hexadecimal text of whole bytes (an even number of digits 0-9, A-F)");
    }
    return value;
  }

  const Json* Array(const Json& object, const KeyPath& at, const char* key) const {
    const auto it = object.find(key);
    if (it == object.end()) return nullptr;
    if (!it->is_array()) Fail(at.Key(key), "be an array");
    return &*it;
  }

  void RequireObject(const Json& value, const KeyPath& at) const {
    if (!value.is_object()) Fail(at, "be an object");
  }

  // The profile's "directory": an LDIF file or a server URL.
  std::string DirectoryText(const Json& profile, const KeyPath& top) const {
    const std::string directory = RequiredText(profile, top, "directory");
    if (directory.find('\0') != std::string::npos) {
      Fail(top.Key("directory"), "not hold a NUL character");
    }
    if (directory.empty()) {
      Fail(top.Key("directory"), "not be empty (name the LDIF file or the server's URL)");
    }
    return directory;
  }

  // A file the profile names, relative to the profile's folder.
  std::string RelativeToProfile(const std::string& name) const {
    const std::filesystem::path base = std::filesystem::path(file_).parent_path();
    return (base / name).string();
  }

  ServerDirectorySettings ServerSettings(const Json& profile, const KeyPath& top,
                                         const std::string& url) const {
    ServerDirectorySettings settings;
    settings.url = url;
    settings.origin = file_;
    settings.bind_dn = Text(profile, top, "bindDN");
    if (auto file = Text(profile, top, "passwordFile")) {
      if (file->empty() || file->find('\0') != std::string::npos) {
        Fail(top.Key("passwordFile"), "name a file");
      }
      settings.password_file = RelativeToProfile(*file);
    }
    settings.start_tls = Bool(profile, top, "startTLS").value_or(false);
    if (const auto it = profile.find("timeoutSeconds"); it != profile.end()) {
      if (!it->is_number_integer() || it->get<int64_t>() < 1 || it->get<int64_t>() > 86400) {
        Fail(top.Key("timeoutSeconds"), "be a whole number of seconds from 1 to 86400");
      }
      settings.timeout_seconds = static_cast<int>(it->get<int64_t>());
    }
    settings.root_domain_naming_context =
        Text(profile, top, "rootDomainNamingContext").value_or("");
    return settings;
  }

  // The keys of a server directory mean nothing beside an LDIF file; one
  // given there is a slip (or a profile half-moved to a server).
  void RefuseServerKeys(const Json& profile, const KeyPath& top) const {
    for (const char* key : {"bindDN", "passwordFile", "startTLS", "timeoutSeconds"}) {
      if (profile.contains(key)) {
        throw ProfileError(file_ + ": key '" + top.Key(key).Text() +
                           "' is only for a directory on a server (an ldap:// URL in 'directory')");
      }
    }
  }

  // Registers a profile identifier and gives its upper-case form; refuses
  // one used before, naming the place of the first use.
  std::string TakeId(const std::string& id, const KeyPath& at) {
    std::string upper = Upper(id);
    if (!organisation_.ids_.insert(upper).second) {
      const auto first = id_places_.find(upper);
      Fail(at, "be unique; '" + id + "' is already the identifier of " +
                   (first != id_places_.end() ? "'" + first->second + "'"
                                              : std::string("an object whose identifier the "
                                                            "backend made")));
    }
    id_places_.emplace(upper, at.Text());
    return upper;
  }

  void ReadSettings(const Json& profile, const KeyPath& top, const std::string& ldif_root_dn) {
    OrganisationSettings& settings = organisation_.settings_;
    settings.root_domain_naming_context =
        Text(profile, top, "rootDomainNamingContext").value_or(ldif_root_dn);
    settings.global_catalog = Bool(profile, top, "globalCatalog").value_or(true);
    settings.helper_library = Bool(profile, top, "helperLibrary").value_or(true);
  }

  void ReadMailboxes(const Json& profile, const KeyPath& top) {
    const Json* mailboxes = Array(profile, top, "mailboxes");
    if (mailboxes == nullptr) return;
    const KeyPath list = top.Key("mailboxes");
    for (size_t i = 0; i < mailboxes->size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& mailbox = (*mailboxes)[i];
      RequireObject(mailbox, at);
      CheckKeys(mailbox, at, {"alias", "store", "id", "folders"});
      const std::string alias = RequiredText(mailbox, at, "alias");
      if (text::Trim(alias).empty()) Fail(at.Key("alias"), "not be empty");
      const std::string key = text::LCase(text::Trim(alias));
      if (organisation_.mailboxes_.count(key) != 0) {
        Fail(at.Key("alias"), "be unique; '" + alias + "' is used before");
      }
      std::string name;
      if (auto store = Text(mailbox, at, "store")) {
        // The store's name is the root of its display paths; an empty one
        // would be found in every path.
        if (text::Trim(*store).empty()) Fail(at.Key("store"), "not be empty");
        name = *store;
      } else {
        std::optional<DirectoryUserNames> user;
        try {
          user = DirectoryUser(*organisation_.directory_search_, alias);
        } catch (const PlatformError& e) {
          // A directory on a server can fail the look-up (no rights, no
          // such base, gone); the logon then fails saying which.
          throw ProfileError(file_ + ": key '" + at.Key("alias").Text() +
                             "': the directory user '" + alias +
                             "' could not be looked up: " + e.description());
        }
        const std::string display = user ? user->display_name : "";
        name = "Mailbox - " + (display.empty() ? alias : display);
      }
      std::optional<std::string> id;
      if (auto given = Hex(mailbox, at, "id")) id = TakeId(*given, at.Key("id"));
      auto store = organisation_.NewStore(name, kMailboxRootName, id);
      if (const Json* folders = Array(mailbox, at, "folders")) {
        ReadFolders(*folders, at.Key("folders"), *store->root, Fnv1a(name));
      }
      organisation_.mailboxes_.emplace(key, std::move(store));
    }
  }

  void ReadPublicFolders(const Json& profile, const KeyPath& top) {
    const auto it = profile.find("publicFolders");
    if (it == profile.end()) return;
    const KeyPath at = top.Key("publicFolders");
    RequireObject(*it, at);
    CheckKeys(*it, at, {"id", "folders"});
    std::optional<std::string> id;
    if (auto given = Hex(*it, at, "id")) id = TakeId(*given, at.Key("id"));
    auto store = organisation_.NewStore(kPublicStoreName, kPublicRootName, id);
    FolderData* top_folder = organisation_.AddFolder(*store->root, kPublicTopName);
    store->public_top = top_folder;
    if (const Json* folders = Array(*it, at, "folders")) {
      ReadFolders(*folders, at.Key("folders"), *top_folder,
                  Fnv1a(std::string(kPublicStoreName) + "\\" + kPublicTopName));
    }
    organisation_.public_store_ = std::move(store);
  }

 private:
  // `seed_hash`: the running hash of the seed of the messages' identifiers
  // ("<store>\<folder>\...", without the root folder's name).
  void ReadFolders(const Json& folders, const KeyPath& list, FolderData& parent,
                   uint64_t seed_hash) {
    for (size_t i = 0; i < folders.size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& folder = folders[i];
      RequireObject(folder, at);
      CheckKeys(folder, at, {"name", "id", "folders", "messages"});
      const std::string name = RequiredText(folder, at, "name");
      if (name.empty()) Fail(at.Key("name"), "not be empty");
      if (name.find('\\') != std::string::npos) {
        Fail(at.Key("name"), "not hold '\\', the separator of folder paths");
      }
      const uint64_t folder_seed = Fnv1a(name, Fnv1a("\\", seed_hash));
      FolderData* data = nullptr;
      if (auto id = Hex(folder, at, "id")) {
        data = AddFolderWithId(parent, name, TakeId(*id, at.Key("id")));
      } else {
        data = organisation_.AddFolder(parent, name);
      }
      if (const Json* messages = Array(folder, at, "messages")) {
        ReadMessages(*messages, at.Key("messages"), *data, folder_seed);
      }
      if (const Json* children = Array(folder, at, "folders")) {
        ReadFolders(*children, at.Key("folders"), *data, folder_seed);
      }
    }
  }

  FolderData* AddFolderWithId(FolderData& parent, const std::string& name, const std::string& id) {
    auto folder = std::make_unique<FolderData>();
    folder->id = id;
    folder->name = name;
    folder->parent = &parent;
    folder->store = parent.store;
    folder->path_hash = Fnv1a(name, Fnv1a("\\", parent.path_hash));
    FolderData* raw = folder.get();
    parent.store->folders_by_id.emplace(Upper(id), raw);
    parent.folders.push_back(std::move(folder));
    return raw;
  }

  void ReadMessages(const Json& messages, const KeyPath& list, FolderData& folder,
                    uint64_t seed_hash) {
    for (size_t i = 0; i < messages.size(); ++i) {
      const KeyPath at = list.Index(i);
      const Json& message = messages[i];
      RequireObject(message, at);
      CheckKeys(message, at,
                {"id", "class", "subject", "topic", "fields", "email1", "email2", "email3",
                 "email1EntryId", "email2EntryId", "email3EntryId"});
      auto data = std::make_shared<MessageData>();
      const std::string message_class = RequiredText(message, at, "class");
      if (message_class.empty()) Fail(at.Key("class"), "not be empty");
      data->Set(PropTag(prop_id::kMessageClass, prop_type::kString8), message_class);
      data->Set(PropTag(prop_id::kSubject, prop_type::kString8),
                RequiredText(message, at, "subject"));
      if (auto topic = Text(message, at, "topic")) {
        data->Set(PropTag(prop_id::kConversationTopic, prop_type::kString8), *topic);
      }
      if (auto fields = message.find("fields"); fields != message.end()) {
        const KeyPath fields_at = at.Key("fields");
        RequireObject(*fields, fields_at);
        std::vector<std::string_view> names;
        for (const auto& [name, value] : fields->items()) {
          const KeyPath field_at = fields_at.Key(name);
          if (name.empty()) Fail(fields_at, "not hold a field with an empty name");
          for (const std::string_view seen : names) {
            if (text::EqualsNoCase(seen, name)) {
              Fail(field_at, "be given once; the message has a field '" + std::string(seen) + "'");
            }
          }
          names.push_back(name);
          auto [field_type, field_value] = FieldValue(value, field_at);
          const uint16_t id = NamedId(organisation_.named_properties_.Id(kPsPublicStrings, name));
          data->Set(PropTag(id, field_type), std::move(field_value));
        }
      }
      for (int slot = 0; slot < 3; ++slot) {
        const std::string key = "email" + std::to_string(slot + 1);
        NamedProperties& named = organisation_.named_properties_;
        if (auto value = Text(message, at, key.c_str())) {
          const uint16_t id = NamedId(named.Id(kPsetidAddress, kEmailAddressLids[slot]));
          data->Set(PropTag(id, prop_type::kString8), *value);
        }
        if (auto value = Hex(message, at, (key + "EntryId").c_str())) {
          const uint16_t id = NamedId(named.Id(kPsetidAddress, kEmailEntryIdLids[slot]));
          data->Set(PropTag(id, prop_type::kBinary), BinaryOf(*value));
        }
      }
      if (auto id = Hex(message, at, "id")) {
        data->id = TakeId(*id, at.Key("id"));
      } else {
        data->id = organisation_.MakeIdFromHash(Fnv1a("#" + std::to_string(i), seed_hash));
      }
      data->folder = &folder;
      folder.store->messages_by_id.emplace(Upper(data->id), data);
      folder.messages.push_back(std::move(data));
    }
  }

  uint16_t NamedId(std::optional<uint16_t> id) const {
    if (!id) {
      throw ProfileError(file_ + ": more distinct field names than named properties can hold");
    }
    return *id;
  }

  // The property type and value of a field of the profile.
  std::pair<uint16_t, Variant> FieldValue(const Json& value, const KeyPath& at) const {
    if (value.is_string()) return {prop_type::kString8, Variant(value.get<std::string>())};
    if (value.is_boolean()) return {prop_type::kBoolean, Variant(value.get<bool>())};
    if (value.is_null()) return {prop_type::kNull, Variant(Variant::Null{})};
    if (value.is_number_integer()) {
      const bool fits =
          value.is_number_unsigned()
              ? value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
              : value.get<int64_t>() >= std::numeric_limits<int32_t>::min() &&
                    value.get<int64_t>() <= std::numeric_limits<int32_t>::max();
      if (fits) return {prop_type::kLong, Variant(static_cast<int32_t>(value.get<int64_t>()))};
    }
    if (value.is_array() &&
        std::all_of(value.begin(), value.end(), [](const Json& v) { return v.is_string(); })) {
      return {prop_type::kMultiString8, Variant::TextArray(value.get<std::vector<std::string>>())};
    }
    Fail(at, "be a text, a 32-bit integer, true, false, null or an array of texts");
  }

  std::string file_;
  Organisation& organisation_;
  // Upper-case identifier -> where the profile gave it.
  std::unordered_map<std::string, std::string> id_places_;
};

// `ldif_text` null: read the file that the profile names; else parse the
// text under the name `ldif_name`.
std::shared_ptr<Organisation> OrganisationLoader::Build(const std::string& json_text,
                                                        const std::string& profile_name,
                                                        const std::string* ldif_text,
                                                        std::string ldif_name,
                                                        const std::function<bool()>& stop,
                                                        const ServerDirectoryOpener& open_server) {
  const Json profile = ParseProfileJson(json_text, profile_name);
  auto organisation = std::make_shared<Organisation>();
  OrganisationLoader loader(profile_name, *organisation);
  if (!profile.is_object()) {
    throw ProfileError(profile_name + ": the profile must be a JSON object");
  }
  const KeyPath top;
  loader.CheckKeys(
      profile, top,
      {"directory", "rootDomainNamingContext", "globalCatalog", "helperLibrary", "mailboxes",
       "publicFolders", "bindDN", "passwordFile", "startTLS", "timeoutSeconds"});
  std::optional<ServerDirectorySettings> server;
  if (ldif_text == nullptr) {
    const std::string directory = loader.DirectoryText(profile, top);
    if (IsServerUrl(directory)) {
      server = loader.ServerSettings(profile, top, directory);
    } else {
      ldif_name = loader.RelativeToProfile(directory);
    }
  }
  if (!server) loader.RefuseServerKeys(profile, top);
  // Types of the simple keys are checked before the directory is read, so
  // a slip there is reported without waiting for a large LDIF file.
  loader.ReadSettings(profile, top, "");
  std::string root_dn;
  if (server) {
    if (!open_server) {
      throw ProfileError(profile_name + ": a directory on a server ('" + server->url +
                         "') cannot be reached from here");
    }
    ServerDirectory opened;
    try {
      opened = open_server(*server);
    } catch (const ServerDirectoryError& e) {
      throw ProfileError(e.what());
    }
    organisation->address_book_ = std::move(opened.address_book);
    organisation->directory_search_ = std::move(opened.search);
    root_dn = opened.root_domain_naming_context;
    loader.ReadSettings(profile, top, root_dn);
    // The server's forest root comes first; the profile's is the fall-back
    // the opener was given.
    organisation->settings_.root_domain_naming_context = root_dn;
  } else {
    if (ldif_text == nullptr) {
      LoadLdifFile(ldif_name, organisation->directory_, &root_dn, stop);
    } else {
      LoadLdifText(*ldif_text, ldif_name, organisation->directory_, &root_dn, stop);
    }
    loader.ReadSettings(profile, top, root_dn);
    organisation->address_book_ = std::make_unique<MemoryAddressBook>(organisation->directory_);
    organisation->directory_search_ =
        std::make_unique<MemoryDirectorySearch>(organisation->directory_);
  }
  loader.ReadMailboxes(profile, top);
  loader.ReadPublicFolders(profile, top);
  Finish(*organisation);
  return organisation;
}

void OrganisationLoader::Finish(Organisation& organisation) {
  organisation.directory_context_.search = organisation.directory_search_.get();
  organisation.directory_context_.root_domain_naming_context =
      organisation.settings_.root_domain_naming_context;
  organisation.directory_context_.global_catalog = organisation.settings_.global_catalog;
  organisation.directory_context_.faults = &organisation.faults_;
  organisation.directory_context_.open_counts = organisation.open_counts_;
}

std::shared_ptr<Organisation> OrganisationOverServer(ServerDirectory directory) {
  auto organisation = std::make_shared<Organisation>();
  organisation->address_book_ = std::move(directory.address_book);
  organisation->directory_search_ = std::move(directory.search);
  organisation->settings_.root_domain_naming_context = directory.root_domain_naming_context;
  OrganisationLoader::Finish(*organisation);
  return organisation;
}

Organisation::Organisation() = default;

StoreData* Organisation::MailboxStore(std::string_view alias) {
  const std::string key = text::LCase(text::Trim(alias));
  if (key.empty()) return nullptr;
  if (const auto it = mailboxes_.find(key); it != mailboxes_.end()) return it->second.get();
  const auto user = DirectoryUser(*directory_search_, key);
  if (!user) return nullptr;
  auto store =
      NewStore("Mailbox - " + (user->display_name.empty() ? user->rdn_value : user->display_name),
               kMailboxRootName);
  for (const char* name : kUsualFolders) AddFolder(*store->root, name);
  StoreData* raw = store.get();
  mailboxes_.emplace(key, std::move(store));
  return raw;
}

std::string Organisation::MakeId(const std::string& seed) { return MakeIdFromHash(Fnv1a(seed)); }

std::string Organisation::MakeIdFromHash(uint64_t seed_hash) {
  std::string id = HexOfHash(seed_hash);
  for (int salt = 1; !ids_.insert(id).second; ++salt) {
    id = HexOfHash(Fnv1a("#" + std::to_string(salt), seed_hash));
  }
  return id;
}

std::unique_ptr<StoreData> Organisation::NewStore(const std::string& name,
                                                  const std::string& root_name,
                                                  const std::optional<std::string>& id) {
  auto store = std::make_unique<StoreData>();
  store->name = name;
  store->id = id ? *id : MakeId("store:" + name);
  store->root = std::make_unique<FolderData>();
  store->root->name = root_name;
  store->root->id = MakeId(name + "\\");
  store->root->store = store.get();
  store->root->path_hash = Fnv1a(name + "\\" + root_name);
  store->folders_by_id.emplace(store->root->id, store->root.get());
  return store;
}

FolderData* Organisation::AddFolder(FolderData& parent, const std::string& name) {
  auto folder = std::make_unique<FolderData>();
  folder->path_hash = Fnv1a(name, Fnv1a("\\", parent.path_hash));
  folder->id = MakeIdFromHash(folder->path_hash);
  folder->name = name;
  folder->parent = &parent;
  folder->store = parent.store;
  FolderData* raw = folder.get();
  parent.store->folders_by_id.emplace(raw->id, raw);
  parent.folders.push_back(std::move(folder));
  return raw;
}

std::string Organisation::NewScratchId() {
  return HashId("scratch#" + std::to_string(++scratch_counter_));
}

const MessageProperty* MessageData::Find(uint32_t tag) const {
  const uint16_t id = PropId(tag);
  const uint16_t type = PropType(tag);
  const auto is_text = [](uint16_t t) {
    return t == prop_type::kString8 || t == prop_type::kUnicode;
  };
  for (const MessageProperty& property : properties) {
    if (PropId(property.tag) != id) continue;
    const uint16_t held = PropType(property.tag);
    if (type == prop_type::kUnspecified || held == type || (is_text(held) && is_text(type))) {
      return &property;
    }
    return nullptr;
  }
  return nullptr;
}

void MessageData::Set(uint32_t tag, Variant value) {
  for (MessageProperty& property : properties) {
    if (PropId(property.tag) == PropId(tag)) {
      property = MessageProperty{tag, std::move(value)};
      return;
    }
  }
  properties.push_back(MessageProperty{tag, std::move(value)});
}

std::string MessageData::Text(uint16_t id) const {
  const MessageProperty* property = Find(PropTag(id, prop_type::kUnspecified));
  return property != nullptr && property->value.IsText() ? property->value.ToText() : "";
}

void Organisation::RemoveMessage(MessageData& message) {
  message.deleted = true;
  FolderData* folder = message.folder;
  if (folder == nullptr) return;
  message.folder = nullptr;
  folder->store->messages_by_id.erase(message.id);
  std::erase_if(folder->messages,
                [&](const std::shared_ptr<MessageData>& m) { return m.get() == &message; });
}

std::shared_ptr<Organisation> LoadOrganisationFile(const std::string& profile_path,
                                                   const std::function<bool()>& stop,
                                                   const ServerDirectoryOpener& open_server) {
  return OrganisationLoader::Build(ReadRegularFile(profile_path), profile_path, nullptr, "", stop,
                                   open_server);
}

std::shared_ptr<Organisation> LoadOrganisationText(const std::string& profile_json,
                                                   const std::string& ldif,
                                                   const std::string& origin) {
  return OrganisationLoader::Build(profile_json, origin + ".json", &ldif, origin + ".ldif", {}, {});
}

std::string HexOf(std::string_view bytes) { return text::HexOfBytes(bytes); }

Variant BinaryOf(std::string_view hex) {
  const auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
  };
  VariantArray bytes;
  bytes.items.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.items.emplace_back(static_cast<int16_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  return Variant(std::move(bytes));
}

bool IsHexText(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

}  // namespace platform::memory
