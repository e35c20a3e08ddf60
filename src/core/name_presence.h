// NamePresence: which (file key, time stamp) pairs a browse list holds, as a
// multiset of 64-bit fingerprints that answers without reading the list.
//
// A query that asks for every hit may get a hundred thousand engine hits, and
// each must stand in TIMELIST with its time stamp to count as found. Looking
// each up in the list costs two cache misses (the entry, then its stored
// name); a fingerprint costs one probe into a flat table, and the probes of
// many hits overlap. A fingerprint never misses a pair the list holds. It may
// take a pair the list does not hold for one it does when their 64-bit
// fingerprints collide: about one chance in 2^64 divided by the list's size
// for each such pair. Callers that hand on an entry's fields look it up in
// the list itself.
//
// The table is open addressing with linear probing, at most three quarters
// full, and removes by shifting later slots back (no tombstones), so probes
// stay short however many adds and removes a list of years sees. Equal
// fingerprints (a list may hold an entry twice) take a slot each.
//
// Thread safety: none; the owning list's lock covers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace vantrel {

// The fingerprint of an expanded name (folder part, then last component)
// with a time stamp. Never 0. Seeded afresh in each process, so that nobody
// who names files can make two names share one on purpose; fingerprints are
// never stored.
uint64_t ExpandedNameFingerprint(std::string_view name, uint32_t time);
// The same for a name given as its last component and its folder part (with
// the trailing backslash; empty for a name without folder), as browse lists
// store names.
uint64_t NameFingerprint(std::string_view last, std::string_view folder, uint32_t time);

class NamePresence {
 public:
  NamePresence() = default;
  NamePresence(const NamePresence&) = delete;
  NamePresence& operator=(const NamePresence&) = delete;

  void Insert(uint64_t fingerprint);
  // Removes one occurrence; false when there is none.
  bool Erase(uint64_t fingerprint);
  bool Contains(uint64_t fingerprint) const;
  // present[i] = Contains(fingerprints[i]), the probes overlapping.
  void ContainsMany(std::span<const uint64_t> fingerprints, std::span<bool> present) const;
  // Forgets everything and frees the table.
  void Clear();

  size_t size() const { return size_; }
  // Fingerprints held more than once, each copy after the first counted: 0
  // when no two held pairs share one, so that no entry repeats another.
  size_t repeats() const { return repeats_; }
  size_t MemoryBytes() const { return capacity_ * sizeof(uint64_t); }

 private:
  size_t SlotOf(uint64_t fingerprint) const { return (fingerprint * kSpread) >> shift_; }
  // Puts a fingerprint in a free slot, growing the table first when due;
  // true when its probe met an equal one.
  bool Place(uint64_t fingerprint);
  void Grow();

  // Multiplies a fingerprint before its top bits pick the slot.
  static constexpr uint64_t kSpread = 0x9E3779B97F4A7C15ull;

  std::unique_ptr<uint64_t[]> slots_;  // 0 = empty
  size_t capacity_ = 0;                // a power of two, or 0
  size_t size_ = 0;
  size_t repeats_ = 0;
  int shift_ = 64;
};

}  // namespace vantrel
