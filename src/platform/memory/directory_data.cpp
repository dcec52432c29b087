#include "platform/memory/directory_data.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

#include "platform/dn.h"
#include "platform/ldap_filter.h"
#include "platform/text.h"

namespace platform::memory {
namespace {

constexpr std::string_view kSmtpPrefix = "smtp:";
// The first arena block (and every block once room has been lent), and
// the largest a block grows to; a text larger than that gets a block of
// its own.
constexpr size_t kFirstBlock = 16 * 1024;
constexpr size_t kLargestBlock = 4 * 1024 * 1024;
// A lent piece with this much left stays in use past a request too large
// for the rest of it.
constexpr size_t kKeepLentFrom = 4096;
// Up to this many attributes an object's names are matched by a scan, not
// a hash: most objects hold a dozen, where a scan wins; a record with very
// many still groups in linear time.
constexpr size_t kScanLimit = 32;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr uint64_t kHighBits = 0x8080808080808080ULL;

uint64_t LoadWord(const char* at) {
  uint64_t word = 0;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The bytes text[at, size) (one to seven of them) as LoadWord would give
// them from a zero-padded copy: the first in the lowest byte. A copy of a
// variable length is a call and a stalled load, and the tail of every key
// comes this way; here it is one or two loads within the text. Little
// endian only, where the last bytes of a word are its highest.
[[gnu::always_inline]] inline uint64_t LoadTail(const char* text, size_t at, size_t size) {
  static_assert(std::endian::native == std::endian::little);
  const size_t rest = size - at;
  if (size >= 8) return LoadWord(text + size - 8) >> (8 * (8 - rest));
  if (rest >= 4) {
    uint32_t low = 0;
    uint32_t high = 0;
    std::memcpy(&low, text + at, sizeof low);
    std::memcpy(&high, text + size - 4, sizeof high);
    // The two overlap where rest < 8; the bytes there agree.
    return low | (uint64_t{high} << (8 * (rest - 4)));
  }
  const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(text[at + i])}; };
  return byte(0) | (byte(rest / 2) << (8 * (rest / 2))) | (byte(rest - 1) << (8 * (rest - 1)));
}

// ASCII upper-case letters of a word of ASCII bytes to lower case, all
// eight at once: a byte gets 0x20 when it is at least 'A' and not above 'Z'.
// Whether n bytes at a and b are the same, for the short texts of one
// object (names, values): a word at a time, inline, where memcmp is a call
// that costs more than the comparison.
[[gnu::always_inline]] inline bool SameBytes(const char* a, const char* b, size_t n) {
  if (n < 8) return n == 0 || LoadTail(a, 0, n) == LoadTail(b, 0, n);
  for (size_t i = 0; i + 8 < n; i += 8) {
    if (LoadWord(a + i) != LoadWord(b + i)) return false;
  }
  return LoadWord(a + n - 8) == LoadWord(b + n - 8);
}

uint64_t LowerAsciiWord(uint64_t word) {
  const uint64_t at_least_a = word + 0x3F3F3F3F3F3F3F3FULL;  // 'A' + 0x3F = 0x80
  const uint64_t above_z = word + 0x2525252525252525ULL;     // 'Z' + 1 + 0x25 = 0x80
  return word | ((at_least_a & ~above_z & kHighBits) >> 2);
}

// Runs for every item of a filter on every object of a query, so it must
// not touch more memory than it needs: attribute names are ASCII (RFC 4512
// keystrings), so names of different lengths differ, and a long name's
// text is read only when the lengths agree, eight bytes at a time with
// their letters folded. A non-ASCII name of the same length still gets
// the Unicode comparison.
bool NameEquals(std::string_view a, std::string_view b) {
  const size_t n = a.size();
  if (n != b.size()) return false;
  const auto same = [&](uint64_t x, uint64_t y) {
    return x == y || LowerAsciiWord(x) == LowerAsciiWord(y);
  };
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t x = LoadWord(a.data() + i);
    const uint64_t y = LoadWord(b.data() + i);
    if (((x | y) & kHighBits) != 0) return text::EqualsNoCase(a, b);
    if (!same(x, y)) return false;
  }
  if (i == n) return true;
  const uint64_t x = LoadTail(a.data(), i, n);
  const uint64_t y = LoadTail(b.data(), i, n);
  if (((x | y) & kHighBits) != 0) return text::EqualsNoCase(a, b);
  return same(x, y);
}

// "smtp:" in any case at the start, as text::StartsWithNoCase sees it: no
// character but "s", "m", "t", "p" and ":" themselves (in either case)
// lower-cases to one of those, so comparing the first five bytes with
// the ASCII letters folded gives the same answer without the copies.
bool IsSmtpPrefixed(std::string_view proxy) {
  return proxy.size() >= kSmtpPrefix.size() &&
         text::AsciiEqualsNoCase(proxy.substr(0, kSmtpPrefix.size()), kSmtpPrefix);
}

std::string AsciiLowerCopy(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Arena

size_t Arena::PadFor(const char* at, size_t align) {
  const auto misalign = reinterpret_cast<uintptr_t>(at) % align;
  return misalign == 0 ? 0 : align - misalign;
}

void* Arena::Allocate(size_t size, size_t align) {
  const auto take = [&] {
    const size_t pad = PadFor(next_, align);
    void* at = next_ + pad;
    next_ += pad + size;
    left_ -= pad + size;
    return at;
  };
  if (next_ != nullptr && PadFor(next_, align) + size <= left_) return take();
  // A block for this request alone, leaving the room in use as it is.
  const auto own_block = [&] {
    blocks_.push_back(std::unique_ptr<char[]>(new char[size + align]));
    reserved_ += size + align;
    char* block = blocks_.back().get();
    return static_cast<void*>(block + PadFor(block, align));
  };
  // Lent room is resident: a large request does not end a piece while much
  // of it is unused.
  if (in_lent_ && left_ >= kKeepLentFrom) return own_block();
  if (!lent_.empty()) {
    const Piece piece = lent_.front();
    if (PadFor(piece.data, align) + size > piece.size) return own_block();
    lent_.erase(lent_.begin());
    next_ = piece.data;
    left_ = piece.size;
    in_lent_ = true;
    return take();
  }
  // Once room is lent, more is likely to come soon, and the room in use
  // is left for it: a small block leaves little unused then.
  const size_t grown =
      blocks_.empty() || lent_before_ ? kFirstBlock : std::min(kLargestBlock, reserved_);
  const size_t block = std::max(grown, size + align);
  // new char[] leaves the bytes untouched, so an unused tail of a block
  // costs address space only.
  blocks_.push_back(std::unique_ptr<char[]>(new char[block]));
  reserved_ += block;
  next_ = blocks_.back().get();
  left_ = block;
  in_lent_ = false;
  return take();
}

void Arena::Adopt(std::unique_ptr<char[]> block) {
  if (block) blocks_.push_back(std::move(block));
}

void Arena::Lend(char* data, size_t size) {
  if (data == nullptr || size == 0) return;
  lent_before_ = true;
  if (in_lent_ && left_ > 0) {
    lent_.push_back(Piece{data, size});
    return;
  }
  // The rest of a block of the arena's own is left: its pages not touched
  // yet cost address space only, and the lent ones are resident.
  next_ = data;
  left_ = size;
  in_lent_ = true;
}

std::vector<std::span<char>> Arena::TakeBackLent() {
  std::vector<std::span<char>> unused;
  if (in_lent_ && left_ > 0) unused.emplace_back(next_, left_);
  for (const Piece& piece : lent_) unused.emplace_back(piece.data, piece.size);
  lent_.clear();
  if (in_lent_) {
    next_ = nullptr;
    left_ = 0;
    in_lent_ = false;
  }
  return unused;
}

size_t Arena::LentLeft() const {
  size_t left = in_lent_ ? left_ : 0;
  for (const Piece& piece : lent_) left += piece.size;
  return left;
}

char* Arena::Bytes(size_t size) { return static_cast<char*>(Allocate(size, 1)); }

std::string_view Arena::Copy(std::string_view text) {
  if (text.empty()) return {};
  char* at = Bytes(text.size());
  std::memcpy(at, text.data(), text.size());
  return {at, text.size()};
}

// ---------------------------------------------------------------------------
// Folded hashing

namespace {

uint64_t MixWord(uint64_t hash, uint64_t word) {
  hash = (hash ^ word) * 0xBF58476D1CE4E5B9ULL;
  return hash ^ (hash >> 31);
}

uint64_t Finish(uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDULL;
  return hash ^ (hash >> 33);
}

// The hash of the bytes text::LCase gives, as a word-at-a-time mix. The
// fold is applied to the text's own bytes while they are ASCII; a
// non-ASCII byte sends the text through text::LCase, whose result is then
// mixed as it stands (its ASCII letters are lower case already).
uint64_t FoldedHashOf(std::string_view text, bool fold) {
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ text.size();
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    const uint64_t word = LoadWord(text.data() + at);
    if (fold && (word & kHighBits) != 0) return FoldedHashOf(text::LCase(text), false);
    hash = MixWord(hash, fold ? LowerAsciiWord(word) : word);
  }
  if (at < text.size()) {
    const uint64_t word = LoadTail(text.data(), at, text.size());
    if (fold && (word & kHighBits) != 0) return FoldedHashOf(text::LCase(text), false);
    hash = MixWord(hash, fold ? LowerAsciiWord(word) : word);
  }
  return Finish(hash);
}

// FoldedHashOf(text, true) of an ASCII text, worked out in the same pass
// that shows it ASCII; std::nullopt for any other text.
std::optional<uint64_t> AsciiFoldedHashOf(std::string_view text) {
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ text.size();
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    const uint64_t word = LoadWord(text.data() + at);
    if ((word & kHighBits) != 0) return std::nullopt;
    hash = MixWord(hash, LowerAsciiWord(word));
  }
  if (at < text.size()) {
    const uint64_t word = LoadTail(text.data(), at, text.size());
    if ((word & kHighBits) != 0) return std::nullopt;
    hash = MixWord(hash, LowerAsciiWord(word));
  }
  return Finish(hash);
}

}  // namespace

size_t FoldedHash::operator()(std::string_view text) const {
  return static_cast<size_t>(FoldedHashOf(text, true));
}

bool FoldedEq::operator()(std::string_view a, std::string_view b) const {
  // Keys of one size, nearly always ASCII (an ODN looked up for every row
  // of a query), are compared eight bytes at a time. A pair of words with
  // no byte above 0x7F that differ once folded decides: text::LCase maps
  // code point by code point, so the ASCII bytes before them come out as
  // they are, folded. A word with such a byte hands the pair on below.
  if (a.size() == b.size()) {
    size_t at = 0;
    for (; at + 8 <= a.size(); at += 8) {
      const uint64_t x = LoadWord(a.data() + at);
      const uint64_t y = LoadWord(b.data() + at);
      if (((x | y) & kHighBits) != 0) break;
      if (LowerAsciiWord(x) != LowerAsciiWord(y)) return false;
    }
    if (at == a.size()) return true;
    if (at + 8 > a.size()) {
      const uint64_t x = LoadTail(a.data(), at, a.size());
      const uint64_t y = LoadTail(b.data(), at, b.size());
      if (((x | y) & kHighBits) == 0) return LowerAsciiWord(x) == LowerAsciiWord(y);
    }
  }
  if (text::IsAsciiText(a) && text::IsAsciiText(b)) return text::AsciiEqualsNoCase(a, b);
  // A non-ASCII letter may fold to an ASCII one (KELVIN SIGN to "k").
  return text::LCase(a) == text::LCase(b);
}

// ---------------------------------------------------------------------------
// DirEntry

std::span<const std::string_view> DirEntry::Values(std::string_view attribute) const {
  // A filter asks every object of a search for the same few names, and the
  // objects share a handful of shapes: the slot where the name was found in
  // this shape last time is remembered, per thread, by the shape and the
  // name's address. Either address may since hold something else (another
  // directory's shape, another name), so a remembered slot is used only
  // when it lies within this shape and holds this name, and what it gives
  // is read from this shape: the one slot that holds the name.
  struct Found {
    const DirShapeSlot* shape = nullptr;
    const char* name = nullptr;
    size_t size = 0;
    uint32_t slot = 0;
  };
  constexpr int kFoundBits = 4;
  thread_local std::array<Found, size_t{1} << kFoundBits> found;
  Found& memo = found[ShapeNamePlace<kFoundBits>(shape_, attribute.data())];
  if (memo.shape == shape_ && memo.name == attribute.data() && memo.size == attribute.size() &&
      memo.slot < shape_size_ && NameEquals(*shape_[memo.slot].name, attribute)) {
    const DirShapeSlot& slot = shape_[memo.slot];
    return {values_ + slot.first, slot.count};
  }
  if (const auto at = SlotOf(attribute)) {
    memo = Found{shape_, attribute.data(), attribute.size(), *at};
    const DirShapeSlot& slot = shape_[*at];
    return {values_ + slot.first, slot.count};
  }
  if ((empty_name_ || !rdn_value_.empty()) && NameEquals(attribute, "name")) {
    static constexpr std::string_view kEmptyName;
    return {empty_name_ ? &kEmptyName : &rdn_value_, 1};
  }
  if (NameEquals(attribute, "distinguishedName")) return {&dn, 1};
  return {};
}

std::optional<uint32_t> DirEntry::SlotOf(std::string_view attribute) const {
  for (uint32_t i = 0; i < shape_size_; ++i) {
    const DirShapeSlot& slot = shape_[i];
    if (slot.name_size == attribute.size() && NameEquals(*slot.name, attribute)) return i;
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// DirectoryData

const std::string_view* DirectoryData::InternName(std::string_view name) {
  const auto it = names_.find(name);
  if (it != names_.end()) return it->second;
  auto* interned = arena_.Make<std::string_view>(1);
  *interned = arena_.Copy(name);
  names_.emplace(*interned, interned);
  return interned;
}

const DirShapeSlot* DirectoryData::InternShape() {
  // Keyed by the bytes of the fields, not of the structs, whose padding
  // holds nothing defined.
  std::string& key = shape_key_;
  key.clear();
  for (const DirShapeSlot& slot : slot_shape_) {
    key.append(reinterpret_cast<const char*>(&slot.name), sizeof slot.name);
    key.append(reinterpret_cast<const char*>(&slot.count), sizeof slot.count);
  }
  const auto it = shapes_.find(key);
  if (it != shapes_.end()) return it->second;
  auto* stored = arena_.Make<DirShapeSlot>(slot_shape_.size());
  std::copy(slot_shape_.begin(), slot_shape_.end(), stored);
  shapes_.emplace(arena_.Copy(key), stored);
  return stored;
}

DirectoryData::DirectoryData()
    : by_dn_(MakeIndex(0, false)),
      by_legacy_dn_(MakeIndex(0, true)),
      by_mail_(MakeIndex(0, true)),
      by_proxy_(MakeIndex(kSmtpPrefix.size(), true)) {}

DirectoryData::RefIndex DirectoryData::MakeIndex(size_t skip, bool folded) const {
  return RefIndex(0, RefHash{&entries_, skip, folded}, RefEq{&entries_, skip, folded});
}

std::string_view DirectoryData::KeyOf(const std::vector<DirEntry>& entries, KeyRef ref,
                                      size_t skip) {
  const DirEntry& entry = entries[PositionOf(ref)];
  const auto value = static_cast<uint32_t>(ref);
  if (value == kDnKeyRef) return entry.dn_key;
  return entry.values_[value].substr(skip);
}

size_t DirectoryData::RefHash::operator()(KeyRef ref) const {
  return (*this)(KeyOf(*entries, ref, skip));
}

// The exact hash is the folded one without the folding, so that a plain
// DN hashed with folding lands where its lower-cased key does.
size_t DirectoryData::RefHash::operator()(std::string_view key) const {
  return static_cast<size_t>(FoldedHashOf(key, folded));
}

size_t DirectoryData::RefHash::operator()(PlainDn probe) const {
  return static_cast<size_t>(FoldedHashOf(probe.dn, true));
}

bool DirectoryData::RefEq::Same(std::string_view a, std::string_view b) const {
  return folded ? FoldedEq()(a, b) : a == b;
}

bool DirectoryData::RefEq::operator()(KeyRef a, KeyRef b) const {
  return a == b || Same(KeyOf(*entries, a, skip), KeyOf(*entries, b, skip));
}

bool DirectoryData::RefEq::operator()(KeyRef a, std::string_view b) const {
  return Same(KeyOf(*entries, a, skip), b);
}

bool DirectoryData::RefEq::operator()(KeyRef a, PlainDn b) const {
  // The probe is ASCII: it is lower-cased and compared eight bytes at a
  // time.
  const std::string_view key = KeyOf(*entries, a, skip);
  if (key.size() != b.dn.size()) return false;
  size_t at = 0;
  for (; at + 8 <= key.size(); at += 8) {
    if (LowerAsciiWord(LoadWord(b.dn.data() + at)) != LoadWord(key.data() + at)) {
      return false;
    }
  }
  const size_t rest = key.size() - at;
  return rest == 0 || LowerAsciiWord(LoadTail(b.dn.data(), at, b.dn.size())) ==
                          LoadTail(key.data(), at, key.size());
}

void DirectoryData::AddIndex(RefIndex& index, KeyRef ref, uint32_t position) {
  const auto [it, added] = index.insert(ref);
  if (added) return;
  const uint32_t held = PositionOf(*it);
  if (held == position) return;  // another value of the object with the same key
  std::vector<uint32_t>& positions = shared_[*it];
  if (positions.empty()) positions.push_back(held);
  if (positions.back() != position) positions.push_back(position);
}

std::vector<uint32_t> DirectoryData::Positions(const RefIndex& index, std::string_view key) const {
  const auto it = index.find(key);
  if (it == index.end()) return {};
  if (!shared_.empty()) {
    const auto shared = shared_.find(*it);
    if (shared != shared_.end()) return shared->second;
  }
  return {PositionOf(*it)};
}

bool DirectoryData::SameNamesAsLast(const NewEntry& in) const {
  if (in.values.size() != last_name_ends_.size() || last_shape_ == nullptr) return false;
  const std::string_view names(last_names_);
  size_t start = 0;
  for (size_t i = 0; i < in.values.size(); ++i) {
    const size_t end = last_name_ends_[i];
    const std::string_view name = in.values[i].first;
    // Sizes first: most names differ there.
    if (name.size() != end - start) return false;
    if (!SameBytes(name.data(), names.data() + start, name.size())) {
      return false;
    }
    start = end;
  }
  return true;
}

void DirectoryData::GroupByName(const NewEntry& in) {
  // Until the end, the last_* members describe no object: an exception on
  // the way must not leave them half of one and half of another.
  last_shape_ = nullptr;
  last_views_ = nullptr;
  // slot_of_value_[i] is the attribute of value i.
  const size_t value_count = in.values.size();
  slot_of_value_.resize(value_count);
  slot_names_.clear();
  slot_counts_.clear();
  wide_slots_.clear();
  for (size_t i = 0; i < value_count; ++i) {
    const std::string_view name = in.values[i].first;
    size_t slot = slot_names_.size();
    if (!wide_slots_.empty()) {
      const auto it = wide_slots_.find(AsciiLowerCopy(name));
      if (it != wide_slots_.end()) slot = it->second;
    } else {
      for (size_t s = 0; s < slot_names_.size(); ++s) {
        if (text::AsciiEqualsNoCase(slot_names_[s], name)) {
          slot = s;
          break;
        }
      }
    }
    if (slot == slot_names_.size()) {
      slot_names_.push_back(name);
      slot_counts_.push_back(0);
      if (!wide_slots_.empty()) {
        wide_slots_.emplace(AsciiLowerCopy(name), static_cast<uint32_t>(slot));
      } else if (slot_names_.size() == kScanLimit) {
        for (size_t s = 0; s < slot_names_.size(); ++s) {
          wide_slots_.emplace(AsciiLowerCopy(slot_names_[s]), static_cast<uint32_t>(s));
        }
      }
    }
    slot_of_value_[i] = static_cast<uint32_t>(slot);
    ++slot_counts_[slot];
  }

  // The shape, and where each value goes: the values of each attribute
  // side by side, in file order.
  slot_shape_.clear();
  std::vector<uint32_t>& fill = slot_counts_;  // becomes each slot's next free place
  uint32_t start = 0;
  for (size_t s = 0; s < slot_names_.size(); ++s) {
    const uint32_t count = fill[s];
    const std::string_view* name = InternName(slot_names_[s]);
    slot_shape_.push_back(DirShapeSlot{name, count, static_cast<uint32_t>(name->size()), start});
    fill[s] = start;
    start += count;
  }
  last_place_.resize(value_count);
  for (size_t i = 0; i < value_count; ++i) last_place_[i] = fill[slot_of_value_[i]]++;
  const DirShapeSlot* shape = InternShape();

  // The values the indexes take, found once per shape; the names' own
  // fallbacks ("name", "distinguishedName") do not concern them.
  last_legacy_dn_ = last_mail_ = last_proxy_ = {};
  uint32_t at = 0;
  for (const DirShapeSlot& slot : slot_shape_) {
    const ValueRange range{at, slot.count};
    if (last_legacy_dn_.count == 0 && NameEquals(*slot.name, "legacyExchangeDN")) {
      last_legacy_dn_ = range;
    } else if (last_mail_.count == 0 && NameEquals(*slot.name, "mail")) {
      last_mail_ = range;
    } else if (last_proxy_.count == 0 && NameEquals(*slot.name, "proxyAddresses")) {
      last_proxy_ = range;
    }
    at += slot.count;
  }

  // The names as this object spells them, for SameNamesAsLast.
  last_names_.clear();
  last_name_ends_.clear();
  for (const auto& value : in.values) {
    last_names_.append(value.first);
    last_name_ends_.push_back(static_cast<uint32_t>(last_names_.size()));
  }
  last_shape_ = shape;
}

DirectoryData::AddResult DirectoryData::Add(const NewEntry& in) {
  // Objects come in runs of one kind (the persons, the lists), spelt alike:
  // an object whose names are the last one's, byte for byte and in the
  // same order, has its shape, so the grouping is done once per run.
  const bool same_names = SameNamesAsLast(in);
  if (!same_names) GroupByName(in);

  // An object of the same shape as the last one often repeats some of its
  // values (its classes, its category, its department): such a value is
  // kept once, and the later objects share the earlier one's copy. Only
  // the value in the same place of the last object is compared, so that
  // this costs a comparison of equal-sized values, never a look-up.
  const size_t value_count = in.values.size();
  shared_value_.assign(value_count, 0);
  size_t total = in.dn.size();
  for (size_t i = 0; i < value_count; ++i) {
    const std::string_view value = in.values[i].second;
    if (same_names && last_views_ != nullptr && !value.empty()) {
      const std::string_view before = last_views_[last_place_[i]];
      if (before.size() == value.size() && SameBytes(before.data(), value.data(), value.size())) {
        shared_value_[i] = 1;
        continue;
      }
    }
    total += value.size();
  }
  // The DN and the other values are copied side by side in one piece of
  // the arena, so that the text they came from can go as soon as it is
  // read.
  char* copy = total == 0 ? nullptr : arena_.Bytes(total);
  const auto keep = [&copy](std::string_view text) -> std::string_view {
    if (text.empty()) return {};
    std::memcpy(copy, text.data(), text.size());
    const std::string_view kept(copy, text.size());
    copy += text.size();
    return kept;
  };
  DirEntry entry;
  entry.dn = keep(in.dn);
  if (!in.dn.empty() && (in.plain_dn || IsPlainDn(in.dn))) {
    // Its key is its text ASCII-lower-cased (platform/dn.h), written
    // straight into the arena.
    char* key = arena_.Bytes(in.dn.size());
    size_t i = 0;
    for (; i + 8 <= in.dn.size(); i += 8) {
      const uint64_t word = LowerAsciiWord(LoadWord(in.dn.data() + i));
      std::memcpy(key + i, &word, sizeof word);
    }
    for (; i < in.dn.size(); ++i) key[i] = AsciiLower(in.dn[i]);
    entry.dn_key = std::string_view(key, in.dn.size());
  } else {
    entry.dn_key = arena_.Copy(DnKey(in.dn));
  }
  entry.line = in.line;
  auto* views = arena_.Make<std::string_view>(value_count);
  for (size_t i = 0; i < value_count; ++i) {
    const size_t place = last_place_[i];
    views[place] = shared_value_[i] != 0 ? last_views_[place] : keep(in.values[i].second);
  }
  last_views_ = views;
  entry.shape_ = last_shape_;
  entry.shape_size_ = static_cast<uint32_t>(slot_shape_.size());
  entry.values_ = views;
  if (in.rdn_value && !in.rdn_value->empty()) {
    // Given as a view into the DN (a plainly written one), it stays one,
    // into the copy; otherwise it is copied.
    const std::less<const char*> before;
    const std::string_view rdn = *in.rdn_value;
    const bool in_dn = !before(rdn.data(), in.dn.data()) &&
                       !before(in.dn.data() + in.dn.size(), rdn.data() + rdn.size());
    entry.rdn_value_ =
        in_dn ? entry.dn.substr(static_cast<size_t>(rdn.data() - in.dn.data()), rdn.size())
              : arena_.Copy(rdn);
  } else {
    entry.rdn_value_ = arena_.Copy(FirstRdnValue(entry.dn));
  }
  entry.empty_name_ = in.rdn_value && in.rdn_value->empty();

  // The unique indexes are asked by inserting: each key is hashed once,
  // and an object whose legacyExchangeDN or DN is taken is taken back out
  // (its arena bytes stay, unused, which only a failing load pays for).
  const auto position = static_cast<uint32_t>(entries_.size());
  entries_.push_back(entry);
  // Slots name a value by its place among all the object's values.
  const auto place = [&](uint32_t value) { return MakeRef(position, value); };
  const uint32_t legacy_end = last_legacy_dn_.start + last_legacy_dn_.count;
  const auto take_back = [&](uint32_t legacy_before) {
    for (uint32_t v = last_legacy_dn_.start; v < legacy_before; ++v) {
      const auto it = by_legacy_dn_.find(place(v));
      if (it != by_legacy_dn_.end() && *it == place(v)) by_legacy_dn_.erase(it);
    }
    entries_.pop_back();
  };
  for (uint32_t v = last_legacy_dn_.start; v < legacy_end; ++v) {
    if (views[v].empty()) continue;
    const auto [it, inserted] = by_legacy_dn_.insert(place(v));
    // The same value twice in one object is no conflict.
    if (!inserted && PositionOf(*it) != position) {
      take_back(v);
      return AddResult::kDuplicateLegacyDn;
    }
  }
  if (!by_dn_.insert(MakeRef(position, kDnKeyRef)).second) {
    take_back(legacy_end);
    return AddResult::kDuplicateDn;
  }
  for (uint32_t v = last_mail_.start; v < last_mail_.start + last_mail_.count; ++v) {
    if (!views[v].empty()) AddIndex(by_mail_, place(v), position);
  }
  for (uint32_t v = last_proxy_.start; v < last_proxy_.start + last_proxy_.count; ++v) {
    const std::string_view proxy = views[v];
    if (proxy.size() > kSmtpPrefix.size() && IsSmtpPrefixed(proxy)) {
      AddIndex(by_proxy_, place(v), position);
    }
  }
  return AddResult::kAdded;
}

void DirectoryData::Reserve(size_t objects, size_t mails, size_t proxies) {
  entries_.reserve(objects);
  by_dn_.reserve(objects);
  by_legacy_dn_.reserve(objects);
  by_mail_.reserve(by_mail_.size() + mails);
  by_proxy_.reserve(by_proxy_.size() + proxies);
}

const DirEntry* DirectoryData::ByDN(std::string_view dn) const {
  DnProbe probe{dn};
  if (const auto hash = AsciiFoldedHashOf(dn)) {
    probe.hash = *hash;
    probe.ascii = true;
  }
  return ByDN(probe);
}

const DirEntry* DirectoryData::ByDN(const DnProbe& probe) const {
  // Members are looked up by DN one by one, nearly all written plainly:
  // an ASCII DN is first looked for as its key would be if it were plain,
  // its letters lower-cased, which costs no look at its syntax. A hit is
  // the object: an ASCII text that differs from a key in letter case only
  // is a spelling of that key's DN (keys are lower case, letter case does
  // not matter in a DN, and a text that is no DN is keyed by its text
  // lower-cased). A miss is final for a plainly written DN only; any
  // other is normalised and looked for again.
  if (probe.ascii) {
    const auto it = by_dn_.find(PlainDn{probe.dn}, static_cast<size_t>(probe.hash));
    if (it != by_dn_.end()) return &entries_[PositionOf(*it)];
    if (IsPlainDn(probe.dn)) return nullptr;
  }
  return ByDnKey(DnKey(probe.dn));
}

void DirectoryData::HashKeys(std::string_view dn, bool plain_dn,
                             std::span<const std::pair<std::string_view, std::string_view>> values,
                             KeyHashes& out) {
  out.count = 0;
  const auto add = [&out](uint8_t index, std::string_view key) {
    if (out.count == KeyHashes::kMax) return;
    out.hash[out.count] = FoldedHashOf(key, true);
    out.index[out.count] = index;
    ++out.count;
  };
  // A plain DN's key is its ASCII-lower-cased text: its folded hash.
  if (plain_dn) add(0, dn);
  for (const auto& [name, value] : values) {
    if (value.empty()) continue;
    if (NameEquals(name, "legacyExchangeDN")) {
      add(1, value);
    } else if (NameEquals(name, "mail")) {
      add(2, value);
    } else if (NameEquals(name, "proxyAddresses") && value.size() > kSmtpPrefix.size() &&
               IsSmtpPrefixed(value)) {
      add(3, value.substr(kSmtpPrefix.size()));
    }
  }
}

void DirectoryData::Prefetch(const KeyHashes& keys) const {
  const std::array<const RefIndex*, 4> indexes = {&by_dn_, &by_legacy_dn_, &by_mail_, &by_proxy_};
  for (size_t i = 0; i < keys.count; ++i) {
    indexes[keys.index[i]]->prefetch(HashedKey{keys.hash[i]});
  }
}

DirectoryData::DnProbe DirectoryData::PrefetchDn(std::string_view dn) const {
  DnProbe probe{dn};
  if (const auto hash = AsciiFoldedHashOf(dn)) {
    probe.hash = *hash;
    probe.ascii = true;
    by_dn_.prefetch(HashedKey{*hash});
  }
  return probe;
}

const DirEntry* DirectoryData::ByDnKey(std::string_view dn_key) const {
  const auto it = by_dn_.find(dn_key);
  return it == by_dn_.end() ? nullptr : &entries_[PositionOf(*it)];
}

const DirEntry* DirectoryData::ByLegacyDN(std::string_view odn) const {
  if (odn.empty()) return nullptr;
  const auto it = by_legacy_dn_.find(odn);
  return it == by_legacy_dn_.end() ? nullptr : &entries_[PositionOf(*it)];
}

void DirectoryData::PrefetchLegacyDN(std::string_view odn) const {
  // Folding a text that is not ASCII makes a lower-cased copy: such an ODN
  // (rare) is not fetched, so that fetching never allocates.
  if (const auto hash = AsciiFoldedHashOf(odn)) by_legacy_dn_.prefetch(HashedKey{*hash});
}

std::vector<const DirEntry*> DirectoryData::ByAddress(std::string_view address) const {
  std::vector<uint32_t> positions = Positions(by_mail_, address);
  const std::vector<uint32_t> proxies = Positions(by_proxy_, address);
  positions.insert(positions.end(), proxies.begin(), proxies.end());
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  std::vector<const DirEntry*> found;
  found.reserve(positions.size());
  for (const uint32_t position : positions) found.push_back(&entries_[position]);
  return found;
}

std::vector<uint32_t> DirectoryData::MailPositions(std::string_view address) const {
  return Positions(by_mail_, address);
}

std::vector<uint32_t> DirectoryData::SmtpProxyPositions(std::string_view address) const {
  return Positions(by_proxy_, address);
}

std::vector<const DirEntry*> DirectoryData::ByMail(std::string_view address) const {
  std::vector<const DirEntry*> found;
  for (const uint32_t position : MailPositions(address)) found.push_back(&entries_[position]);
  return found;
}

}  // namespace platform::memory
