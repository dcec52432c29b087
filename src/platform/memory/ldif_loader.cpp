#include "platform/memory/ldif_loader.h"

#include <ldap.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/dn.h"
#include "platform/memory/ldif_records.h"
#include "platform/memory/ldif_screen.h"
#include "platform/memory/memory_backend.h"
#include "platform/memory/regular_file.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

// Attribute names are ASCII (the screen admits RFC 4512 names only).
std::string AsciiLower(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
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
// A large text is lent to the directory's arena in pieces of at least this
// many bytes as its records are added: small enough that the arena takes
// few blocks of its own while it waits for the next piece, and leaves
// little of the last one unused.
constexpr size_t kLendAtLeast = 256 << 10;
// What the arena is not lent goes back to the system in pieces of at least
// this many bytes: each madvise costs the reading thread a flush of its
// address translations.
constexpr size_t kHandBackAtLeast = 4 << 20;

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
  // Scratch of the record being read: each (unfolded) line's place in the
  // record (0 for its first line) and its NUL-terminated text.
  struct Line {
    size_t number;
    char* text;
    size_t size;
  };
  std::vector<Line> lines;
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
  // loader may write to it (unfolding). `owner` is the block that holds
  // it: a large text's block goes to the directory, whose arena is lent
  // the text behind the records added (ReleaseText).
  // `screen_while_reading`: the text was not screened before (it holds no
  // NUL and no CR, which the reading needs); each record is screened as it
  // is read, before libldap reads a line of it (ScreenLdifPart).
  LdifLoader(std::string file, DirectoryData& directory, std::span<char> text,
             std::unique_ptr<char[]> owner, const std::function<bool()>& stop,
             bool screen_while_reading)
      : file_(std::move(file)),
        directory_(directory),
        text_(text),
        owner_(std::move(owner)),
        reader_(text),
        stop_(stop),
        screen_while_reading_(screen_while_reading) {
    if (screen_while_reading_) {
      // From the first record libldap's reader reads on, it reads the rest
      // of the text: the rest is screened whole before it starts.
      reader_.CheckBeforeLibldap([this](std::string_view rest, size_t first_line) {
        ScreenLdifPart(rest, first_line, file_);
        rest_screened_ = true;
      });
    }
  }

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
    // it keeps, and what lies behind the records added is not read again,
    // so it becomes room for the copies of the records after them. The
    // directory keeps the block from here on, whatever the load's end.
    release_text_ = text_.size() >= kTwoThreadsFrom && owner_ != nullptr;
    if (release_text_) directory_.AdoptText(std::move(owner_));
    if (!(text_.size() >= kTwoThreadsFrom && ReadInTwoThreads())) {
      LdifBatch batch;
      do {
        ReadBatch(batch);
        AddBatch(batch);
      } while (!batch.last);
    }
    if (release_text_) ReleaseRest();
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

    // Counts one more batch filled (`read`) or added from (`added`), and
    // wakes the other side.
    void Advance(size_t& count) {
      {
        const std::lock_guard<std::mutex> lock(mutex);
        ++count;
      }
      changed.notify_all();
    }
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
          pipe.Advance(pipe.read);
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
      pipe.Advance(pipe.added);
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
        // A record with a continuation or a comment line is screened
        // whole, before unfolding changes it; any other as its lines are
        // parsed (ParseRecord).
        bool screened = !screen_while_reading_ || rest_screened_;
        if (!screened && !in.plain_lines) {
          ScreenLdifPart(std::string_view(bytes, in.size), in.first_line, file_);
          screened = true;
        }
        batch.lines.clear();
        if (in.plain_lines) {
          // Each line is one logical line, and the cutting found where
          // each ends: it is only NUL-terminated where it stands.
          for (size_t i = 0; i < in.line_spans.size(); ++i) {
            const LdifLineSpan& span = in.line_spans[i];
            bytes[span.end] = '\0';
            batch.lines.push_back({i, bytes + span.start, span.end - span.start});
          }
        } else {
          UnfoldLines(bytes, batch.lines);
        }
        record.start = in.first_line;
        const bool first_record = first_record_;
        first_record_ = false;
        // RFC 2849 lets the file open with "version: 1"; the reader gives it
        // as a record of its own when a blank line follows. A record that
        // fails to parse is not handed on: its fault follows the records
        // before it.
        bool parsed = false;
        try {
          parsed = ParseRecord(record, batch, first_record, screened);
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
    // this one is added. The reader hashed their keys: adding waits on
    // memory (the index slots, the arena), reading on the processor, so
    // the hashing goes to the reader although it reads more instructions.
    constexpr size_t kAhead = 2;
    const auto& records = batch.records;
    // So is the text of their values, which the reader wrote last and
    // which sits in the other core's cache.
    const auto fetch = [&](const LdifBatch::Record& record) {
      directory_.Prefetch(record.key_hashes);
      for (size_t v = record.first_value; v < record.first_value + record.value_count; ++v) {
        __builtin_prefetch(batch.values[v].second.data());
      }
    };
    for (size_t r = 0; r < std::min(kAhead, records.size()); ++r) fetch(records[r]);
    for (size_t r = 0; r < records.size(); ++r) {
      if (r + kAhead < records.size()) fetch(records[r + kAhead]);
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

  // Lends the directory's arena the whole pages of the text before `end`:
  // the records there are added (the directory holds copies), and the
  // reader has moved past them, so no byte there is read again. Copies
  // made there cost no page faults (the pages are resident: the file was
  // read into them), where a new block costs one for each of its pages.
  // While the arena has a piece's worth lent and unused (its objects take
  // less than their text), the pages wait, and go back to the system once
  // they are many.
  void ReleaseText(size_t end) {
    const auto [from, to] = WholePages(end);
    // In pieces of some size: the arena leaves the end of each unused.
    if (to <= from || to - from < kLendAtLeast) return;
    if (directory_.LentRoomLeft() < kLendAtLeast) {
      directory_.LendRoom(reinterpret_cast<char*>(from), to - from);
    } else if (to - from >= kHandBackAtLeast) {
      HandBack(from, to);
    } else {
      return;
    }
    released_ = to - reinterpret_cast<uintptr_t>(text_.data());
  }

  // After the last record: the pages of the text not lent, and those lent
  // that the arena has not used, go back to the system (the directory
  // keeps the block, but nothing reads them; should the arena be asked for
  // room later, it takes blocks of its own).
  void ReleaseRest() {
    const auto [from, to] = WholePages(text_.size());
    HandBack(from, to);
    released_ = std::max(released_, to - reinterpret_cast<uintptr_t>(text_.data()));
    for (const std::span<char> unused : directory_.TakeBackLentRoom()) {
      const auto begin = reinterpret_cast<uintptr_t>(unused.data());
      const auto [first, end] = PagesWithin(begin, begin + unused.size());
      HandBack(first, end);
    }
  }

  // Hands the whole pages [from, to) back to the system; they stay mapped
  // and read as zeros.
  static void HandBack(uintptr_t from, uintptr_t to) {
    if (to > from) (void)::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }

  // The page size; should the system not tell one, a madvise of pages
  // that are not its own fails and changes nothing.
  static uintptr_t Page() {
    static const uintptr_t kPage = [] {
      const long size = ::sysconf(_SC_PAGESIZE);
      const auto page = static_cast<uintptr_t>(size);
      return size > 0 && (page & (page - 1)) == 0 ? page : uintptr_t{4096};
    }();
    return kPage;
  }

  // The whole pages of the text from what is released up to `end`.
  std::pair<uintptr_t, uintptr_t> WholePages(size_t end) const {
    const auto base = reinterpret_cast<uintptr_t>(text_.data());
    return PagesWithin(base + released_, base + end);
  }

  // The whole pages between two addresses.
  static std::pair<uintptr_t, uintptr_t> PagesWithin(uintptr_t begin, uintptr_t end) {
    return {(begin + Page() - 1) & ~(Page() - 1), end & ~(Page() - 1)};
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
  static void UnfoldLines(char* raw, std::vector<LdifBatch::Line>& lines) {
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
        if (open) {
          lines.back().size = static_cast<size_t>(write - lines.back().text);
          *write++ = '\0';
        }
        open = false;
        in_comment = length > 0 && read[0] == '#';
        if (!in_comment && length > 0) {
          lines.push_back({number, write, 0});
          // Until the first fold, every line stands where it is written.
          if (write != read) std::memmove(write, read, length);
          write += length;
          open = true;
        }
      }
      read = *end == '\0' ? end : end + 1;
    }
    if (open) {
      lines.back().size = static_cast<size_t>(write - lines.back().text);
      *write = '\0';
    }
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
  //
  // `screened` false: the record was read in place, each of its lines a
  // logical line of its own, and is not screened yet. A plain line (the
  // line parser's plain form, not "include", not a bad display type) can
  // hold no fault the screen would find; at the first line that is not,
  // the rest of the record is screened (from that line: the lines before
  // it are plain), before libldap's line parser sees it.
  bool ParseRecord(LdifBatch::Record& record, LdifBatch& batch, bool first_record,
                   bool screened) const {
    const size_t start = record.start;
    const auto& lines = batch.lines;
    record.first_value = batch.values.size();
    bool have_dn = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const size_t line = start + lines[i].number;
      LdifLine parsed;
      const bool plain = ParsePlainLdifLine(lines[i].text, lines[i].size, parsed);
      if (!screened && (!plain || !PlainLinePassesScreen(parsed, lines[i].text))) {
        ScreenRecordFrom(record, lines, i);
        screened = true;
      }
      if (!plain && !ParseLdifLine(lines[i].text, lines[i].size, parsed)) {
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

  // Whether the screen would pass a line in the line parser's plain form
  // (a keystring name, its colon, neither ":" nor "<" after it): unless the
  // name is "include" or the value a bad display type, it would.
  static bool PlainLinePassesScreen(const LdifLine& parsed, const char* line) {
    const std::string_view name = parsed.name;
    if (name.size() == 7 && text::AsciiEqualsNoCase(name, "include")) return false;
    // The screen reads the value from just after the colon.
    return name.size() != 26 || !text::AsciiEqualsNoCase(name, "msExchRecipientDisplayType") ||
           IsDisplayTypeValue(std::string_view(line + name.size() + 1));
  }

  // Screens the lines of a record read in place from its line `from` on:
  // its lines as they were written, each a logical line of its own.
  void ScreenRecordFrom(const LdifBatch::Record& record, const std::vector<LdifBatch::Line>& lines,
                        size_t from) const {
    std::string rest;
    for (size_t i = from; i < lines.size(); ++i) {
      rest.append(lines[i].text, lines[i].size);
      rest += '\n';
    }
    ScreenLdifPart(rest, record.start + lines[from].number, file_);
  }

  std::string file_;
  DirectoryData& directory_;
  std::span<char> text_;
  std::unique_ptr<char[]> owner_;  // until the directory takes it
  // The reader's side.
  LdifRecordReader reader_;
  const std::function<bool()>& stop_;
  bool first_record_ = true;
  const bool screen_while_reading_;
  bool rest_screened_ = false;  // the reader's side
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

// How many records, mails and proxies a text holds, judged from 32 samples
// spread evenly over it, with a tenth to spare: what the tables are sized
// by when the text is not screened (and counted) first. A wrong guess
// costs time or memory (a table that grows past its size is made again),
// never a fault. (Samples at the start, middle and end only guessed a
// tenth short for a file of persons followed by lists of many members.)
LdifCounts GuessCounts(std::string_view text) {
  constexpr size_t kSamples = 32;
  constexpr size_t kSample = 32 << 10;
  if (text.size() <= kSamples * kSample) return CountLdifLines(text);
  LdifCounts sampled;
  const size_t step = (text.size() - kSample) / (kSamples - 1);
  for (size_t i = 0; i < kSamples; ++i) {
    const LdifCounts part = CountLdifLines(text.substr(i * step, kSample));
    sampled.records += part.records;
    sampled.mails += part.mails;
    sampled.proxies += part.proxies;
  }
  const double scale = 1.1 * static_cast<double>(text.size()) / (kSamples * kSample);
  const auto scaled = [scale](size_t n) {
    return static_cast<size_t>(scale * static_cast<double>(n)) + 16;
  };
  return LdifCounts{scaled(sampled.records), scaled(sampled.mails), scaled(sampled.proxies)};
}

// `bytes` is followed by a NUL byte (bytes.data()[bytes.size()]), which the
// reader may overwrite.
//
// Screens the text and reads it, or, for a large text that holds no NUL
// and no CR, screens it as it reads it: a pass of its own over the text was
// a fifth of loading it. Either way the faults are the screen's and the
// loader's, and no byte reaches libldap unscreened. The loader writes to
// the text, and a large text's block goes to the directory, which reuses
// it as it is read; returns the entries added.
// `holds_cr_or_nul`: whether the text holds a CR or a NUL, when the reading
// found out; looked for here otherwise.
size_t LoadLdifBytes(FileBytes file_bytes, const std::string& name, DirectoryData& directory,
                     std::string* root_dn, const std::function<bool()>& stop,
                     size_t screen_while_reading_from, std::optional<bool> holds_cr_or_nul) {
  const std::span<char> bytes(file_bytes.data.get(), file_bytes.size);
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  const std::string_view whole(bytes.data(), bytes.size());
  const size_t mark = whole.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
  const std::string_view after_mark = whole.substr(mark);
  // A byte-order mark holds neither, so what is known of the whole text
  // holds for the text after it.
  const bool screen_while_reading =
      after_mark.size() >= screen_while_reading_from &&
      !(holds_cr_or_nul ? *holds_cr_or_nul : HoldsCrOrNul(after_mark));
  LdifCounts counts;
  size_t skip = mark;
  if (screen_while_reading) {
    counts = GuessCounts(after_mark);
  } else {
    skip = ScreenLdif(whole, name, &counts);
  }
  directory.Reserve(directory.Entries().size() + counts.records, counts.mails, counts.proxies);
  // The directory keeps copies of what it needs: the text, once read, is
  // of no use but as room.
  const std::span<char> text = bytes.subspan(skip);
  LdifLoader loader(name, directory, text, std::move(file_bytes.data), stop, screen_while_reading);
  return loader.Read(root_dn);
}

}  // namespace

size_t LoadLdifText(std::string ldif, const std::string& name, DirectoryData& directory,
                    std::string* root_dn, const std::function<bool()>& stop,
                    size_t screen_while_reading_from) {
  // In a block of its own, as a file's text comes, followed by a NUL.
  FileBytes bytes;
  bytes.data.reset(new char[ldif.size() + 1]);
  std::memcpy(bytes.data.get(), ldif.data(), ldif.size());
  bytes.data[ldif.size()] = '\0';
  bytes.size = ldif.size();
  ldif = std::string();
  return LoadLdifBytes(std::move(bytes), name, directory, root_dn, stop, screen_while_reading_from,
                       std::nullopt);
}

void LoadLdifFile(const std::string& file, DirectoryData& directory, std::string* root_dn,
                  const std::function<bool()>& stop) {
  // The one look at the whole text that must come before reading it is
  // taken as the file is read, piece by piece while each is in the cache,
  // rather than in a pass of its own.
  std::atomic<bool> cr_or_nul{false};
  FileBytes bytes = ReadRegularFileBytes(file, [&cr_or_nul](std::string_view piece, size_t) {
    if (HoldsCrOrNul(piece)) cr_or_nul = true;
  });
  std::optional<bool> holds_cr_or_nul;
  if (bytes.steady) holds_cr_or_nul = cr_or_nul.load();
  if (LoadLdifBytes(std::move(bytes), file, directory, root_dn, stop, kScreenWhileReadingFrom,
                    holds_cr_or_nul) == 0) {
    throw ProfileError(file + ": the file holds no directory entries");
  }
}

}  // namespace platform::memory
