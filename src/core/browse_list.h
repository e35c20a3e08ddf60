// BrowseList: an ordered in-memory list of (name, time stamp, value, extra,
// sort key) entries.
//
// Browse lists hold an index's files by time (TIMELIST) and by name
// (CHARLIST), its folders (DIRLIST), the documents the engine has (the indexed
// list), hit lists, volume lists and the thumbnail queue. Names are file or
// folder keys ("03Sport\2024\img.jpg"), at most 255 bytes of code-page text.
//
// Names are stored rotated: the last component first, then the folder part
// with its trailing backslash ("Sport\img.jpg" is kept as "img.jpgSport\").
// Name comparisons work on the rotated form with CompareNoCase, so name order
// sorts by file name first and by folder second, without regard to case. That
// order is total: two names are the same only when their bytes are (file names
// on Linux are case-sensitive, "IMG.JPG" and "img.jpg" are two files). Two
// different names whose rotated forms are equal (possible when a folder name
// ends in what another key's file name begins with, "05a\x12" and
// "1205a\x") are told apart by the length of their last component.
//
// Orders:
//   kOrderNone (0)    no order requested; the list is kept in name order.
//   kOrderTime (1)    larger time stamp first (unsigned), equal stamps by name.
//   kOrderName (2)    by name.
//   kOrderSortKey (3) larger sort key first, equal keys by name.
// Adding keeps the list in its order without re-sorting; a re-sort happens
// only when the order changes. Every list is therefore always sorted by the
// rule of its order (order 0 by name), so look-ups can binary-search.
//
// Capacity: the list grows in the steps 10,000, 100,000, 200,000, 600,000,
// 1,200,000, 1,600,000 and 2,000,000 entries; at 2,000,000 entries a further
// add is refused with kResourceExhausted and the list stays as it was.
//
// Storage: entries are 40-byte records (with a 16-byte folded name prefix that
// settles most comparisons) in chunks of at most 512, so an ordered
// insertion shifts one chunk, never the whole list; names live in a shared
// arena of blocks of up to 1 MiB, so an entry costs no heap allocation of its
// own. About 90 bytes per entry with 40-byte names.
//
// Thread safety: none. A BrowseList is used by one thread at a time, const
// methods included (EntryAt caches chunk positions). Callers that share a list
// go through LockedBrowseList (list_lock_table.h), which takes the list's
// lock for every single operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel {

class NamePresence;

inline constexpr int kOrderNone = 0;
inline constexpr int kOrderTime = 1;
inline constexpr int kOrderName = 2;
inline constexpr int kOrderSortKey = 3;

// Longest name a list holds, in bytes.
inline constexpr size_t kMaxListNameLength = 255;
// Most entries a list holds.
inline constexpr size_t kMaxListEntries = 2'000'000;
// The extra of entries that have none ("-1"); the list file writer replaces
// it by the record's position.
inline constexpr uint32_t kNoExtra = 0xFFFFFFFFu;

// One entry, with its name expanded (folder part first).
struct BrowseEntry {
  std::string name;
  uint32_t time = 0;
  uint32_t value = 0;
  uint32_t extra = kNoExtra;
  uint32_t sort_key = 0;
  bool operator==(const BrowseEntry&) const = default;
};

// One entry to add; `name` is the expanded name.
struct NewBrowseEntry {
  std::string_view name;
  uint32_t time = 0;
  uint32_t value = 0;
  uint32_t extra = kNoExtra;
  uint32_t sort_key = 0;
};

// What a look-up found.
struct BrowseLookup {
  size_t position = 0;  // position in the list's current order, from 0
  uint32_t time = 0;
  uint32_t value = 0;
  uint32_t extra = kNoExtra;
  uint32_t sort_key = 0;
};

// A name with its time stamp, for look-ups in batches.
struct TimedName {
  std::string_view name;
  uint32_t time = 0;
};

// A view of one stored entry, valid until the list changes. The expanded name
// is `folder` followed by `last`.
struct BrowseEntryView {
  std::string_view last;    // last component
  std::string_view folder;  // folder part with trailing backslash, or empty
  uint32_t time = 0;
  uint32_t value = 0;
  uint32_t extra = kNoExtra;
  uint32_t sort_key = 0;
  size_t name_size() const { return last.size() + folder.size(); }
  std::string ExpandedName() const;
};

// The first 16 bytes of a name's form in name order, case-folded, as two
// numbers: comparing them gives name order's answer whenever they differ.
struct NameOrderPrefix {
  uint64_t hi = 0;
  uint64_t lo = 0;
  auto operator<=>(const NameOrderPrefix&) const = default;
};

// The capacity steps of a list. NextCapacity(c) is the step after c, or 0 when
// c is the last step (the list is full); CapacityFor(n) is the smallest step
// holding n entries, or 0 when none does.
class CapacitySteps {
 public:
  // The server's steps, up to 2,000,000 entries.
  static const CapacitySteps& Default();
  // Other steps (ascending, non-empty); used by tests to reach the limit cheaply.
  explicit CapacitySteps(std::vector<size_t> steps);

  size_t NextCapacity(size_t capacity) const;
  size_t CapacityFor(size_t count) const;
  size_t max_entries() const { return steps_.back(); }

 private:
  std::vector<size_t> steps_;
};

class BrowseList {
 public:
  // `steps` must outlive the list.
  explicit BrowseList(const CapacitySteps* steps = &CapacitySteps::Default());
  ~BrowseList();
  BrowseList(const BrowseList&) = delete;
  BrowseList& operator=(const BrowseList&) = delete;
  BrowseList(BrowseList&&) noexcept;
  BrowseList& operator=(BrowseList&&) noexcept;

  // Inserts an entry in the list's order (after entries that compare equal).
  // Fails with kInvalidArgument for a name longer than 255 bytes or holding a
  // NUL byte, and with kResourceExhausted when the list is full; the list is
  // unchanged then.
  Status Add(std::string_view name, uint32_t time, uint32_t value, uint32_t extra,
             uint32_t sort_key = 0);

  // Adds many entries at once, with the same result as calling Add for each in
  // turn, but sorting once (used by the list file loader). Stops at the first
  // entry that Add would refuse: the entries before it are added, the status
  // says why the rest are not.
  Status AddBatch(std::span<const NewBrowseEntry> entries);

  // In a time-ordered list removes the entry with this name and time stamp;
  // in any other order the first entry with this name. Returns the removed
  // entry's time stamp, or nothing when no entry matched. Removing the last
  // entry releases the list's storage (the order stays).
  std::optional<uint32_t> Remove(std::string_view name, uint32_t time);

  // Removes every entry whose name is `folder_key` or lies below it
  // (`folder_key`, a backslash, anything; bytes compared exactly). Returns
  // how many were removed.
  size_t RemoveBelow(std::string_view folder_key);

  // Finds an entry by name, and with a non-zero `time` also by time stamp.
  // A list without order is first sorted: by time when `time` is non-zero,
  // else by name. Binary search where the order allows (time order with a
  // time stamp, name order), a scan otherwise.
  std::optional<BrowseLookup> Lookup(std::string_view name, uint32_t time);

  // Lookup(name, time) for each of `wanted`, into `found` (same size), for
  // many names at once; a list without order is first sorted by time. In a
  // time-ordered list and with non-zero stamps the entries are located
  // first and their names compared after, a batch at a time, so that
  // reading the names of one batch overlaps. Names given in the list's
  // order cost the least.
  void LookupMany(std::span<const TimedName> wanted, std::span<std::optional<BrowseLookup>> found);

  // Scans for the first entry whose expanded name equals `name`, or with
  // `prefix` for the first whose name is longer than `name` and begins with
  // it (bytes compared exactly). Returns its position.
  std::optional<size_t> FindByName(std::string_view name, bool prefix) const;

  // Sorts the list into `order` (0 to 3) when it differs from the current
  // one. kInvalidArgument for any other order.
  Status SetOrder(int order);
  // SetOrder, keeping only the first `keep` entries of the new order (all
  // when `keep` is 0 or at least Count()): for an answer that shows only
  // the first ones, this sorts only those.
  Status SetOrderKeepingFirst(int order, size_t keep);
  int order() const { return order_; }

  size_t Count() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The capacity step the list has reached (0 when released).
  size_t capacity() const { return capacity_; }

  // The entry at `position` (0 = first in the current order), or nothing
  // when position >= Count().
  std::optional<BrowseEntry> EntryAt(size_t position) const;
  std::optional<BrowseEntryView> ViewAt(size_t position) const;
  // In a time-ordered list, how many entries have a stamp at or after
  // `stamp` (they come first); nothing in any other order.
  std::optional<size_t> CountStampedAtOrAfter(uint32_t stamp) const;
  // The time stamp of the entry at `position` alone: its name is not read,
  // so a walk over many entries stays within the entries' own memory.
  std::optional<uint32_t> TimeAt(size_t position) const;

  // Removes and returns the last entry, or nothing when the list is empty.
  std::optional<BrowseEntry> TakeLast();

  // Frees every entry; the list becomes empty with order 0.
  void Release();

  // Calls `visit` for the entries in order until it returns false or
  // `max_entries` entries were visited (0 = all). Views are valid during the
  // call only; `visit` must not change the list.
  template <typename Visit>
  void ForEach(Visit&& visit, size_t max_entries = 0) const;

  // The most entries the list can hold (its last capacity step).
  size_t max_entries() const { return steps_->max_entries(); }

  // Name order outside a list, for expanded names (at most 255 bytes, no NUL
  // byte): the prefix that decides most comparisons, and the whole
  // comparison (negative, 0 or positive, as the lists sort).
  static NameOrderPrefix NameOrderPrefixOf(std::string_view expanded);
  static int CompareInNameOrder(std::string_view a, std::string_view b);

  // Bytes of heap memory the list holds (entries, chunk table, name arena,
  // fingerprints).
  size_t MemoryBytes() const;

  // From now on keeps the fingerprints of the entries' names and time stamps
  // (see name_presence.h), so that presence() tells whether the list holds a
  // name with a stamp without a look-up. About 8 to 16 bytes an entry.
  void KeepPresence();
  // The fingerprints, when kept; null otherwise.
  const NamePresence* presence() const { return presence_.get(); }

 private:
  struct Entry;
  struct Chunk;
  class NameArena;
  struct Probe;

  const Entry& EntryRef(size_t chunk, size_t index) const;
  BrowseEntryView MakeView(const Entry& e) const;
  int Compare(int order, const Entry& a, const Entry& b) const;
  int CompareProbe(int order, const Probe& p, const Entry& e) const;
  int CompareNames(std::string_view a, uint64_t a_hi, uint64_t a_lo, uint8_t a_last,
                   const Entry& b) const;
  std::string_view StoredName(const Entry& e) const;
  // First position whose entry does not come before `p` (lower) or comes
  // after it (upper), under `order`.
  const std::vector<Entry>& Fences() const;
  void TouchChunk(size_t chunk);
  void ChunksChanged();
  // The position (chunk, index) of the first entry for which
  // `comes_before` does not hold.
  template <typename ComesBefore>
  std::pair<size_t, size_t> BoundNear(ComesBefore comes_before) const;
  // The chunk where that bound lies (chunks_.size() past the last entry),
  // found from the fences.
  template <typename ComesBefore>
  size_t ChunkOfBound(ComesBefore comes_before) const;
  // For the probes `which` whose chunk starts[k].first holds (< chunks_.size()),
  // the bound of TimePrefixBefore within that chunk into starts[k].second:
  // the searches step together, so that their memory reads overlap.
  void BoundsInChunks(std::span<const size_t> which, std::span<const Probe> probes,
                      std::span<std::pair<size_t, size_t>> starts) const;
  void RememberLastBound(std::span<const bool> searched,
                         std::span<const std::pair<size_t, size_t>> starts) const;
  // Whether `e` comes before a probe in time order, by time and prefix alone.
  static bool TimePrefixBefore(const Probe& p, const Entry& e);
  // The bound within a few entries after where the last bound search
  // ended, in the same chunk, or nothing.
  template <typename ComesBefore>
  std::optional<std::pair<size_t, size_t>> StepNear(ComesBefore comes_before) const;
  std::pair<size_t, size_t> LowerBound(int order, const Probe& p) const;
  std::pair<size_t, size_t> UpperBound(int order, const Probe& p) const;
  void InsertAt(size_t chunk, size_t index, const Entry& e);
  void EraseAt(size_t chunk, size_t index);
  size_t PositionOf(size_t chunk, size_t index) const;
  std::pair<size_t, size_t> Locate(size_t position) const;
  std::vector<Entry> Flatten() const;
  void Rebuild(std::vector<Entry>&& entries);
  void StableSort(int order, std::vector<Entry>* entries) const;
  void OnAdded(const Entry& e);
  void OnRemoved(const Entry& e);
  void MaybeCompactNames();
  // The first entry with exactly the probe's name and time from (chunk,
  // index), the first entry not before the probe's time and prefix.
  std::optional<std::pair<size_t, size_t>> MatchFrom(const Probe& p, size_t chunk,
                                                     size_t index) const;
  BrowseLookup LookupResult(size_t chunk, size_t index) const;
  std::optional<std::pair<size_t, size_t>> ScanByName(const Probe& p, uint32_t time) const;
  Status CheckName(std::string_view name) const;
  Status Reserve(size_t count);

  const CapacitySteps* steps_;
  int order_ = kOrderNone;
  size_t count_ = 0;
  size_t capacity_ = 0;
  std::vector<std::unique_ptr<Chunk>> chunks_;
  // fences_[c] = copy of chunks_[c]'s last entry; rebuilt lazily after the
  // chunks change, kept up to date after changes inside one chunk.
  mutable std::vector<Entry> fences_;
  mutable bool fences_valid_ = false;
  // starts_[c] = position of chunks_[c]'s first entry; rebuilt lazily.
  mutable std::vector<size_t> starts_;
  mutable bool starts_valid_ = false;
  // Chunk of the last Locate, so that walks by position cost O(1) per step.
  mutable size_t last_located_ = 0;
  // Where the last bound search ended: where the next one starts.
  mutable size_t last_bound_chunk_ = 0;
  mutable size_t last_bound_index_ = 0;
  std::unique_ptr<NameArena> names_;
  std::unique_ptr<NamePresence> presence_;  // null unless kept
};

template <typename Visit>
void BrowseList::ForEach(Visit&& visit, size_t max_entries) const {
  size_t n = (max_entries == 0 || max_entries > count_) ? count_ : max_entries;
  for (size_t i = 0; i < n;) {
    // ViewAt is O(1) on a walk: Locate caches chunk starts.
    std::optional<BrowseEntryView> v = ViewAt(i);
    if (!v || !visit(*v)) return;
    ++i;
  }
}

}  // namespace vantrel
