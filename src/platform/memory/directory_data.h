// The directory of a memory organisation: the objects of its LDIF file in
// file order, with indexes on what look-ups use, so that no look-up scans
// every object: the DN in its normalised form (platform/dn.h: blanks,
// escapes and letter case do not matter), and mail, legacyExchangeDN and
// SMTP proxies without regard to case. Immutable once loaded.
//
// Layout: a directory of a million objects must cost little more than the
// values it holds. An object's DN and values are copied side by side into
// the directory's arena (so that the loader can let go of the LDIF text as
// it reads it: names, separators and line ends are most of a file), with
// its DN key and any other text it keeps. The value views sit in the arena
// too, and an object's attribute names and value counts
// (its shape) are stored once for all objects of the same shape, so an
// object costs no heap allocation of its own and the directory frees a few
// large blocks, not millions of small ones. Attribute names are interned:
// one copy per spelling for the whole directory. The indexes hold no text:
// a slot names an object and which of its values is the key, and is hashed
// and compared through the object. Views stay valid as long as the
// directory, which stays where it was made.
#ifndef TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_
#define TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include "platform/dir_record.h"
#include "platform/ldap_filter.h"

namespace platform::memory {

// Texts and small arrays that live as long as their owner, handed out from
// blocks that are only ever freed whole. Blocks grow geometrically, so a
// small directory (a test's) takes little and a large one few blocks.
class Arena {
 public:
  Arena() = default;
  Arena(Arena&&) noexcept = default;
  Arena& operator=(Arena&&) noexcept = default;

  // A copy of the text; its bytes never move.
  std::string_view Copy(std::string_view text);
  // Room for `size` bytes, left as they are; they never move.
  char* Bytes(size_t size);
  // Room for `count` default-constructed objects of a trivially destructible
  // type, suitably aligned.
  template <class T>
  T* Make(size_t count) {
    static_assert(std::is_trivially_destructible_v<T>, "the arena runs no destructors");
    void* at = Allocate(sizeof(T) * count, alignof(T));
    T* first = static_cast<T*>(at);
    for (size_t i = 0; i < count; ++i) new (first + i) T();
    return first;
  }
  // Bytes held in blocks of the arena's own (for the benchmarks and tests).
  size_t Reserved() const { return reserved_; }

  // Keeps `block` as long as the arena: the owner of bytes it is lent.
  void Adopt(std::unique_ptr<char[]> block);
  // Lends the arena `size` bytes at `data` that their owner is done with,
  // to hand out before it takes a block of its own: memory in use already
  // (a text read for a load, whose pages are resident) costs no page
  // faults where a new block costs one per page. The bytes must stay
  // valid as long as the arena (Adopt). Lent pieces are used in the order
  // lent; a request too large for the rest of the piece in use (while a
  // page or more of it is left) or for the next piece gets a block of its
  // own.
  void Lend(char* data, size_t size);
  // Bytes lent and not handed out yet.
  size_t LentLeft() const;
  // The lent room not handed out yet, which the arena forgets: for its
  // owner to hand back to the system.
  std::vector<std::span<char>> TakeBackLent();

 private:
  struct Piece {
    char* data;
    size_t size;
  };
  void* Allocate(size_t size, size_t align);
  static size_t PadFor(const char* at, size_t align);

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::vector<Piece> lent_;  // lent pieces after the one in use, in order
  char* next_ = nullptr;
  size_t left_ = 0;
  size_t reserved_ = 0;
  bool in_lent_ = false;      // next_ points into a lent piece
  bool lent_before_ = false;  // room has been lent at some time
};

// One attribute of an object: its name as the file spells it (interned) and
// its values in file order (never empty).
class DirAttribute {
 public:
  DirAttribute(std::string_view name, std::span<const std::string_view> values)
      : name_(name), values_(values) {}
  std::string_view name() const { return name_; }
  std::span<const std::string_view> values() const { return values_; }

 private:
  std::string_view name_;
  std::span<const std::string_view> values_;
};

// The shape of an object: its attribute names in order and how many values
// each has. Objects of one kind share a shape (every person of a generated
// organisation has the same), so a shape is stored once per directory and
// an object holds only a pointer to it and to its values.
struct DirShapeSlot {
  const std::string_view* name = nullptr;  // interned
  uint32_t count = 0;
  // The name's size, beside the count where the struct had padding: a
  // look-up by name passes the slots of other sizes without reading
  // their names.
  uint32_t name_size = 0;
  // Where the attribute's values start among the object's values (the
  // counts of the slots before it, the same for every object of the shape).
  uint32_t first = 0;
};

// The place of a shape and an attribute name among the 2^kBits places of a
// memo of where names sit in shapes, keyed by the two addresses. A parsed
// filter's names sit a string's size apart, so the addresses are mixed
// rather than masked.
template <int kBits>
size_t ShapeNamePlace(const DirShapeSlot* shape, const char* name) {
  static_assert(kBits > 0 && kBits < 64);
  const uint64_t mixed = (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(shape)) ^
                          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(name))) *
                         0x9E3779B97F4A7C15ULL;
  return static_cast<size_t>(mixed >> (64 - kBits));
}

// An object's attributes, in order of first appearance, one per name in any
// case: a view over its shape and its values.
class DirAttributeList {
 public:
  class Iterator {
   public:
    Iterator(const DirShapeSlot* slot, const std::string_view* values)
        : slot_(slot), values_(values) {}
    DirAttribute operator*() const { return DirAttribute(*slot_->name, {values_, slot_->count}); }
    Iterator& operator++() {
      values_ += slot_->count;
      ++slot_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return slot_ != other.slot_; }

   private:
    const DirShapeSlot* slot_;
    const std::string_view* values_;
  };

  DirAttributeList(const DirShapeSlot* slots, uint32_t count, const std::string_view* values)
      : slots_(slots), count_(count), values_(values) {}
  size_t size() const { return count_; }
  Iterator begin() const { return Iterator(slots_, values_); }
  Iterator end() const { return Iterator(slots_ + count_, nullptr); }
  // Walks the shape up to the attribute: for tests and rare callers.
  DirAttribute operator[](size_t index) const {
    Iterator at = begin();
    for (size_t i = 0; i < index; ++i) ++at;
    return *at;
  }

 private:
  const DirShapeSlot* slots_;
  uint32_t count_;
  const std::string_view* values_;
};

// An object of the directory. Its views point into the directory that made
// it, so it is valid as long as that directory.
class DirEntry final : public DirRecord {
 public:
  std::string_view dn;  // as written in the file; this is what output reports
  // DnKey(dn): what the DN index and the search scopes compare.
  std::string_view dn_key;
  size_t line = 0;  // line of the LDIF file where the record starts

  // Values of an attribute, name compared without regard to case; empty
  // when absent. Every object has a DN and a name, so when the object has
  // no such attribute "distinguishedName" falls back to the DN and "name"
  // to the RDN value.
  std::span<const std::string_view> Values(std::string_view attribute) const override;
  std::string_view Dn() const override { return dn; }
  std::string_view DnKey() const override { return dn_key; }
  // The value of the first RDN ("Ana Lima" for "CN=Ana Lima,OU=...").
  std::string_view RdnValue() const override { return rdn_value_; }
  DirAttributeList attributes() const { return {shape_, shape_size_, values_}; }
  // The object's shape: the same slots, at the same address, for every
  // object of the directory with the same attribute names (as spelt, in
  // the same order) and value counts.
  std::span<const DirShapeSlot> shape() const { return {shape_, shape_size_}; }
  // Where the attribute is among shape()'s slots, its name compared
  // without regard to case; std::nullopt when the object has no such
  // attribute (Values may still answer "name" and "distinguishedName").
  std::optional<uint32_t> SlotOf(std::string_view attribute) const;
  // The values of the attribute in `slot`, one of shape()'s.
  std::span<const std::string_view> ValuesOf(const DirShapeSlot& slot) const {
    return {values_ + slot.first, slot.count};
  }
  // Asks the processor to fetch where the object's first values are
  // listed, and returns at once: for a caller about to read them.
  void PrefetchValues() const { __builtin_prefetch(values_); }

 private:
  friend class DirectoryData;
  std::string_view rdn_value_;
  const DirShapeSlot* shape_ = nullptr;
  const std::string_view* values_ = nullptr;  // every attribute's, side by side
  uint32_t shape_size_ = 0;
  bool empty_name_ = false;  // "name" falls back to "", not to the RDN value
};

// Hash and equality of texts under text::LCase, without making the
// lower-cased copy for ASCII texts (nearly all of them). Transparent, so a
// map keyed by views is searched with any view.
struct FoldedHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const;
};
struct FoldedEq {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

class DirectoryData {
 public:
  // The hashes of the keys an object is indexed under (its DN when written
  // plainly, its legacyExchangeDN, mail and SMTP proxy values), worked out
  // ahead of adding it, on any thread (HashKeys is a pure function), so
  // that Prefetch can fetch its index slots without hashing again. Keys
  // past the first kMax are left out.
  struct KeyHashes {
    static constexpr size_t kMax = 8;
    std::array<uint64_t, kMax> hash{};
    std::array<uint8_t, kMax> index{};  // which index: 0 DN, 1 ODN, 2 mail, 3 proxy
    size_t count = 0;
  };
  static void HashKeys(std::string_view dn, bool plain_dn,
                       std::span<const std::pair<std::string_view, std::string_view>> values,
                       KeyHashes& out);
  // Asks the processor to fetch the index slots of those keys, and returns
  // at once: adding the object a little later then finds them in the
  // cache. A large directory's indexes are far larger than the cache, and
  // a miss per key was the better part of adding. Changes nothing.
  void Prefetch(const KeyHashes& keys) const;

  // An object to add: its DN and its (name, value) pairs in file order,
  // views the caller keeps alive for the call only (Add copies what it
  // keeps). Values under one name in any letter case form one attribute,
  // named as first spelt, at the place of its first value.
  struct NewEntry {
    std::string_view dn;
    size_t line = 0;
    std::vector<std::pair<std::string_view, std::string_view>> values;
    // The value of the first RDN when the caller parsed the DN already;
    // else (or when it is empty) Add works it out. Given empty, "name"
    // still answers with that empty value.
    std::optional<std::string_view> rdn_value;
    // True when the caller found the DN written plainly (IsPlainDn), which
    // spares Add the check; false leaves it to Add.
    bool plain_dn = false;
  };

  DirectoryData();
  // The indexes read their keys through entries_, so a directory stays
  // where it was made.
  DirectoryData(const DirectoryData&) = delete;
  DirectoryData& operator=(const DirectoryData&) = delete;

  // Adds an object in file order, unless (adding nothing) another object
  // holds one of its legacyExchangeDN values without regard to case, or
  // has the same DN: the same once both are normalised, so "CN=a, DC=x"
  // duplicates "cn=A,DC=x". A DN that does not parse is keyed by its
  // lower-cased text. The entry identifier derives from the
  // legacyExchangeDN, so a second object with the same one would vanish
  // behind the first.
  enum class AddResult { kAdded, kDuplicateLegacyDn, kDuplicateDn };
  AddResult Add(const NewEntry& entry);
  // Sizes the tables for that many objects in all, holding that many mail
  // and proxy addresses more, so that adding them does not rehash every
  // key again at each doubling (a table of a million keys rehashed costs a
  // second of cache misses).
  void Reserve(size_t objects, size_t mails, size_t proxies);

  const std::vector<DirEntry>& Entries() const { return entries_; }
  // The object with that DN in any spelling of it (blanks, escapes, letter
  // case); nullptr when there is none.
  const DirEntry* ByDN(std::string_view dn) const;
  // A DN's look-up in two steps, for a caller about to look up many (a
  // list's members): PrefetchDn works out where the DN would sit and asks
  // the processor to fetch that slot, returning at once; ByDN(probe), a few
  // look-ups later, finds the object without hashing again. Asked a few
  // ahead, the look-ups do not wait for memory one after the other. The
  // probe holds a view of the DN, which must outlive it.
  struct DnProbe {
    std::string_view dn;
    uint64_t hash = 0;   // folded hash of an ASCII DN
    bool ascii = false;  // else the DN is looked up by its key
  };
  DnProbe PrefetchDn(std::string_view dn) const;
  const DirEntry* ByDN(const DnProbe& probe) const;
  // The same for a DN already in its DnKey form.
  const DirEntry* ByDnKey(std::string_view dn_key) const;
  // Look-ups without regard to case; nullptr or empty when nothing matches.
  const DirEntry* ByLegacyDN(std::string_view odn) const;
  // Asks the processor to fetch the slot where ByLegacyDN(odn) will look,
  // for an ASCII ODN, and returns at once; allocates nothing.
  void PrefetchLegacyDN(std::string_view odn) const;
  // Objects whose mail or SMTP proxy ("smtp:" prefix in any case) is the
  // address, in file order, without duplicates.
  std::vector<const DirEntry*> ByAddress(std::string_view address) const;
  // Objects whose mail attribute is the address, in file order.
  std::vector<const DirEntry*> ByMail(std::string_view address) const;
  // Positions (in Entries()) of the objects whose mail, or whose SMTP proxy
  // (the address after an "smtp:" prefix in any case), is the address
  // without regard to case: in file order, without duplicates, empty when
  // there are none.
  std::vector<uint32_t> MailPositions(std::string_view address) const;
  std::vector<uint32_t> SmtpProxyPositions(std::string_view address) const;

  // Bytes the directory holds in its arena.
  size_t ArenaBytes() const { return arena_.Reserved(); }
  // The loader's text: the directory keeps `text` as long as itself, and
  // its arena may be lent pieces of it that the loader is done with
  // (Arena::Lend), so that the copies of later objects go into pages
  // that are resident already.
  void AdoptText(std::unique_ptr<char[]> text) { arena_.Adopt(std::move(text)); }
  void LendRoom(char* data, size_t size) { arena_.Lend(data, size); }
  size_t LentRoomLeft() const { return arena_.LentLeft(); }
  std::vector<std::span<char>> TakeBackLentRoom() { return arena_.TakeBackLent(); }

 private:
  // An index slot names where its key is kept instead of holding a view of
  // it: the object's position in the high 32 bits and, in the low 32, the
  // place of the value among all the object's values (kDnKeyRef for the
  // object's dn_key). Hashing and comparing read the key through the
  // object, so a slot is 8 bytes where a view and a number took 24.
  using KeyRef = uint64_t;
  static constexpr uint32_t kDnKeyRef = 0xFFFFFFFFU;
  static KeyRef MakeRef(uint32_t position, uint32_t value) {
    return (static_cast<KeyRef>(position) << 32) | value;
  }
  static uint32_t PositionOf(KeyRef ref) { return static_cast<uint32_t>(ref >> 32); }
  // The key a slot names: the value (or dn_key) with its first `skip`
  // bytes dropped (the "smtp:" of a proxy).
  static std::string_view KeyOf(const std::vector<DirEntry>& entries, KeyRef ref, size_t skip);
  // Hash and equality of an index, over slots and over the texts it is
  // searched with, with or without regard to case (FoldedHash, FoldedEq).
  // An ASCII DN searched for in the DN index as it stands, as if its key
  // were its ASCII-lower-cased text (so it is for a DN written plainly,
  // platform/dn.h), which the hash and the comparison fold as they go
  // instead of making it. Only ASCII: the fold works on whole words.
  struct PlainDn {
    std::string_view dn;
  };
  // A key known by its hash alone: enough to find where it would sit.
  struct HashedKey {
    uint64_t hash;
  };
  struct RefHash {
    using is_transparent = void;
    const std::vector<DirEntry>* entries;
    size_t skip;
    bool folded;
    size_t operator()(KeyRef ref) const;
    size_t operator()(std::string_view key) const;
    size_t operator()(PlainDn probe) const;
    size_t operator()(HashedKey key) const { return static_cast<size_t>(key.hash); }
  };
  struct RefEq {
    using is_transparent = void;
    const std::vector<DirEntry>* entries;
    size_t skip;
    bool folded;
    bool operator()(KeyRef a, KeyRef b) const;
    bool operator()(KeyRef a, std::string_view b) const;
    bool operator()(std::string_view a, KeyRef b) const { return (*this)(b, a); }
    bool operator()(KeyRef a, PlainDn b) const;
    bool operator()(PlainDn a, KeyRef b) const { return (*this)(b, a); }
    bool Same(std::string_view a, std::string_view b) const;
  };
  using RefIndex = absl::flat_hash_set<KeyRef, RefHash, RefEq>;
  RefIndex MakeIndex(size_t skip, bool folded) const;

  // Values [start, start + count) among an object's values.
  struct ValueRange {
    uint32_t start = 0;
    uint32_t count = 0;
  };
  // Whether the object's names are those of the object added last, byte
  // for byte and in order: then it has that object's shape and grouping.
  bool SameNamesAsLast(const NewEntry& entry) const;
  // Groups the object's values by name (one attribute per name in any
  // case) and sets the last_* members from it: the shape, the place of
  // each value, and where the indexed attributes stand.
  void GroupByName(const NewEntry& entry);

  const std::string_view* InternName(std::string_view name);
  // The stored shape equal to slot_shape_, stored now when it is new.
  const DirShapeSlot* InternShape();
  // Adds the slot unless its key is empty. Nearly every address belongs to
  // one object; the few that several objects hold list them all in
  // shared_, under the slot of the first.
  void AddIndex(RefIndex& index, KeyRef ref, uint32_t position);
  // The positions an index gives for a key, in file order.
  std::vector<uint32_t> Positions(const RefIndex& index, std::string_view key) const;

  Arena arena_;
  std::vector<DirEntry> entries_;
  // Interned attribute names by exact spelling, and shapes by their slots'
  // bytes.
  absl::flat_hash_map<std::string_view, const std::string_view*> names_;
  absl::flat_hash_map<std::string_view, const DirShapeSlot*> shapes_;
  RefIndex by_dn_;         // dn_key, exactly
  RefIndex by_legacy_dn_;  // the first object with the ODN
  RefIndex by_mail_;
  RefIndex by_proxy_;  // the address after "smtp:"
  absl::flat_hash_map<KeyRef, std::vector<uint32_t>> shared_;
  // Scratch of Add, kept to spare an allocation per object: the attribute
  // slot of each value, and the first spelling of each slot's name.
  std::vector<uint32_t> slot_of_value_;
  std::vector<std::string_view> slot_names_;
  std::vector<uint32_t> slot_counts_;
  std::vector<DirShapeSlot> slot_shape_;
  std::string shape_key_;
  absl::flat_hash_map<std::string, uint32_t> wide_slots_;
  // The grouping of the object added last (see SameNamesAsLast): its names
  // as spelt, side by side, with where each ends; the place of each value
  // among the object's values; its shape; where its legacyExchangeDN, mail
  // and proxyAddresses values stand.
  std::string last_names_;
  std::vector<uint32_t> last_name_ends_;
  std::vector<uint32_t> last_place_;
  const DirShapeSlot* last_shape_ = nullptr;
  // The value views of the object added last (in the arena), and, for the
  // object being added, which of its values repeat them (1) and are shared.
  const std::string_view* last_views_ = nullptr;
  std::vector<char> shared_value_;
  ValueRange last_legacy_dn_;
  ValueRange last_mail_;
  ValueRange last_proxy_;
};

}  // namespace platform::memory

#endif  // TARNWICK_PLATFORM_MEMORY_DIRECTORY_DATA_H_
