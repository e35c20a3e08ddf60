// BrowseList: chunked ordered storage with rotated names in an arena.
#include "core/browse_list.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "core/name_presence.h"
#include "platform/text_compare.h"

namespace vantrel {

// Entries per chunk; an insertion shifts at most this many entries.
constexpr size_t kChunkCapacity = 512;
// Entries per chunk when a list is built in one go (sorting, loading), so that
// later insertions find room before a chunk splits.
constexpr size_t kBuildFill = 448;
// A chunk this small is merged with a neighbour when both fit in kMergeLimit.
constexpr size_t kMergeBelow = kChunkCapacity / 4;
constexpr size_t kMergeLimit = kChunkCapacity * 3 / 4;

struct BrowseList::Entry {
  // The first 16 bytes of the rotated name (the file name, mostly),
  // case-folded, big-endian, zero padded: most comparisons end here without
  // reading the name itself.
  uint64_t prefix_hi;
  uint64_t prefix_lo;
  uint32_t name_ref;  // arena reference of the rotated name
  uint32_t time;
  uint32_t value;
  uint32_t extra;
  uint32_t sort_key;
  uint8_t last_len;  // length of the last component
  uint8_t name_len;  // length of the whole name
};

// Chunks are made with make_unique_for_overwrite: entries past `size` are
// never read, so a new chunk's 20 KB are not cleared first.
struct BrowseList::Chunk {
  static_assert(sizeof(Entry) == 40, "entries are meant to stay compact");
  uint32_t size = 0;
  Entry entries[kChunkCapacity];  // [0, size) in use
};

// Name storage: blocks that grow from 4 KiB to 1 MiB, addressed by a 32-bit
// reference (block number << 20 | offset). A name never spans two blocks.
// Removed names leave garbage that the list reclaims by compacting.
class BrowseList::NameArena {
 public:
  static constexpr int kOffsetBits = 20;
  static constexpr size_t kMaxBlockSize = size_t{1} << kOffsetBits;
  static constexpr size_t kFirstBlockSize = 4096;
  static constexpr size_t kMaxBlocks = size_t{1} << (32 - kOffsetBits);

  // False when the arena is full (about 4 GiB; unreachable within the list's limits).
  bool Store(std::string_view s, uint32_t* ref) {
    if (s.empty()) {
      *ref = 0;
      return true;
    }
    if (blocks_.empty() || used_ + s.size() > block_size_) {
      if (blocks_.size() == kMaxBlocks) return false;
      block_size_ = blocks_.empty() ? kFirstBlockSize : std::min(block_size_ * 2, kMaxBlockSize);
      blocks_.push_back(std::make_unique<char[]>(block_size_));
      allocated_ += block_size_;
      used_ = 0;
    }
    std::memcpy(blocks_.back().get() + used_, s.data(), s.size());
    *ref = static_cast<uint32_t>(((blocks_.size() - 1) << kOffsetBits) | used_);
    used_ += s.size();
    live_ += s.size();
    return true;
  }

  std::string_view Get(uint32_t ref, size_t len) const {
    if (len == 0) return {};
    return {blocks_[ref >> kOffsetBits].get() + (ref & (kMaxBlockSize - 1)), len};
  }

  void Forget(size_t len) {
    live_ -= len;
    garbage_ += len;
  }

  size_t live() const { return live_; }
  size_t garbage() const { return garbage_; }
  size_t allocated() const { return allocated_ + blocks_.capacity() * sizeof(blocks_[0]); }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t block_size_ = 0;
  size_t used_ = 0;
  size_t live_ = 0;
  size_t garbage_ = 0;
  size_t allocated_ = 0;
};

namespace {

// The length of an expanded name's folder part: up to its last backslash,
// that included; 0 when it has none.
size_t FolderLength(std::string_view expanded) {
  if (expanded.empty()) return 0;
  const void* slash = ::memrchr(expanded.data(), '\\', expanded.size());
  return slash == nullptr
             ? 0
             : static_cast<size_t>(static_cast<const char*>(slash) - expanded.data()) + 1;
}

// Eight bytes of the sort prefix of a stored name, from byte `from`.
// Comparing two 16-byte prefixes as numbers gives CompareNoCase's answer
// whenever they differ: the first differing folded byte decides, and a zero
// pad (names hold no NUL) sorts a shorter name before a longer one that it
// begins, as CompareNoCase does.
uint64_t FoldedPrefix(std::string_view stored, size_t from) {
  if (from + 8 <= stored.size()) return FoldedWord(stored.data() + from);
  char tail[8] = {};
  if (from < stored.size()) std::copy_n(stored.data() + from, stored.size() - from, tail);
  return FoldedWord(tail);
}

}  // namespace

// A name to search for, rotated like the stored names, with the fields the
// orders compare.
struct BrowseList::Probe {
  char stored[kMaxListNameLength];
  uint64_t prefix_hi = 0;
  uint64_t prefix_lo = 0;
  uint8_t size = 0;
  uint8_t last_len = 0;
  uint32_t time = 0;
  uint32_t sort_key = 0;
  std::string_view name() const { return {stored, size}; }

  // False when the name cannot be in a list (too long, NUL byte).
  bool Set(std::string_view expanded) {
    if (expanded.size() > kMaxListNameLength || expanded.find('\0') != std::string_view::npos) {
      return false;
    }
    const size_t folder_len = FolderLength(expanded);
    const size_t last = expanded.size() - folder_len;
    std::memcpy(stored, expanded.data() + folder_len, last);
    std::memcpy(stored + last, expanded.data(), folder_len);
    size = static_cast<uint8_t>(expanded.size());
    last_len = static_cast<uint8_t>(last);
    prefix_hi = FoldedPrefix(name(), 0);
    prefix_lo = FoldedPrefix(name(), 8);
    return true;
  }
};

namespace {

int Sign(int c) { return (c > 0) - (c < 0); }

// Look-ups of LookupMany whose searches step together.
constexpr size_t kLookupsAtOnce = 32;

// True when the expanded name (folder, then last) begins with `key`. Names are
// the same only when their bytes are (see CompareNoCase), so this compares
// plain bytes too.
bool ExpandedStartsWith(const BrowseEntryView& v, std::string_view key) {
  if (key.size() > v.name_size()) return false;
  size_t in_folder = std::min(key.size(), v.folder.size());
  if (key.substr(0, in_folder) != v.folder.substr(0, in_folder)) return false;
  size_t rest = key.size() - in_folder;
  return rest == 0 || key.substr(in_folder) == v.last.substr(0, rest);
}

char ExpandedCharAt(const BrowseEntryView& v, size_t i) {
  return i < v.folder.size() ? v.folder[i] : v.last[i - v.folder.size()];
}

// The order whose rule an order's list is kept in.
int SortRule(int order) { return order == kOrderNone ? kOrderName : order; }

}  // namespace

std::string BrowseEntryView::ExpandedName() const {
  std::string s;
  s.reserve(name_size());
  s.append(folder);
  s.append(last);
  return s;
}

// ---- capacity steps ----

const CapacitySteps& CapacitySteps::Default() {
  static const CapacitySteps* steps = new CapacitySteps(
      {10'000, 100'000, 200'000, 600'000, 1'200'000, 1'600'000, kMaxListEntries});
  return *steps;
}

CapacitySteps::CapacitySteps(std::vector<size_t> steps) : steps_(std::move(steps)) {
  if (steps_.empty()) steps_.push_back(1);
}

size_t CapacitySteps::NextCapacity(size_t capacity) const {
  auto it = std::upper_bound(steps_.begin(), steps_.end(), capacity);
  return it == steps_.end() ? 0 : *it;
}

size_t CapacitySteps::CapacityFor(size_t count) const {
  auto it = std::lower_bound(steps_.begin(), steps_.end(), count);
  return it == steps_.end() ? 0 : *it;
}

// ---- construction ----

BrowseList::BrowseList(const CapacitySteps* steps)
    : steps_(steps), names_(std::make_unique<NameArena>()) {}
BrowseList::~BrowseList() = default;
BrowseList::BrowseList(BrowseList&&) noexcept = default;
BrowseList& BrowseList::operator=(BrowseList&&) noexcept = default;

void BrowseList::Release() {
  chunks_.clear();
  chunks_.shrink_to_fit();
  fences_.clear();
  fences_.shrink_to_fit();
  fences_valid_ = false;
  starts_.clear();
  starts_.shrink_to_fit();
  starts_valid_ = false;
  last_located_ = 0;
  names_ = std::make_unique<NameArena>();
  if (presence_) presence_->Clear();
  count_ = 0;
  capacity_ = 0;
  order_ = kOrderNone;
}

size_t BrowseList::MemoryBytes() const {
  return chunks_.size() * sizeof(Chunk) + chunks_.capacity() * sizeof(chunks_[0]) +
         fences_.capacity() * sizeof(Entry) + starts_.capacity() * sizeof(size_t) +
         (names_ ? names_->allocated() : 0) + (presence_ ? presence_->MemoryBytes() : 0);
}

void BrowseList::KeepPresence() {
  if (presence_) return;
  presence_ = std::make_unique<NamePresence>();
  for (const auto& ch : chunks_) {
    for (uint32_t i = 0; i < ch->size; ++i) OnAdded(ch->entries[i]);
  }
}

// ---- comparisons ----

std::string_view BrowseList::StoredName(const Entry& e) const {
  return names_->Get(e.name_ref, e.name_len);
}

int BrowseList::CompareNames(std::string_view a, uint64_t a_hi, uint64_t a_lo, uint8_t a_last,
                             const Entry& b) const {
  if (a_hi != b.prefix_hi) return a_hi < b.prefix_hi ? -1 : 1;
  if (a_lo != b.prefix_lo) return a_lo < b.prefix_lo ? -1 : 1;
  int c = CompareNoCase(a, StoredName(b));
  if (c != 0) return Sign(c);
  return (a_last > b.last_len) - (a_last < b.last_len);
}

int BrowseList::Compare(int order, const Entry& a, const Entry& b) const {
  if (order == kOrderTime && a.time != b.time) return a.time > b.time ? -1 : 1;
  if (order == kOrderSortKey && a.sort_key != b.sort_key) return a.sort_key > b.sort_key ? -1 : 1;
  return CompareNames(StoredName(a), a.prefix_hi, a.prefix_lo, a.last_len, b);
}

int BrowseList::CompareProbe(int order, const Probe& p, const Entry& e) const {
  if (order == kOrderTime && p.time != e.time) return p.time > e.time ? -1 : 1;
  if (order == kOrderSortKey && p.sort_key != e.sort_key) return p.sort_key > e.sort_key ? -1 : 1;
  return CompareNames(p.name(), p.prefix_hi, p.prefix_lo, p.last_len, e);
}

NameOrderPrefix BrowseList::NameOrderPrefixOf(std::string_view expanded) {
  // The first 16 bytes of the rotated name (last component, then folder),
  // folded as FoldedPrefix folds them, without rotating the rest.
  const size_t folder_len = FolderLength(expanded);
  const std::string_view last = expanded.substr(folder_len);
  char rotated[16] = {};
  const size_t from_last = std::min(last.size(), sizeof rotated);
  std::copy_n(last.data(), from_last, rotated);
  std::copy_n(expanded.data(), std::min(sizeof rotated - from_last, folder_len),
              rotated + from_last);
  return {FoldedWord(rotated), FoldedWord(rotated + 8)};
}

int BrowseList::CompareInNameOrder(std::string_view a, std::string_view b) {
  Probe pa, pb;
  pa.Set(a);
  pb.Set(b);
  if (pa.prefix_hi != pb.prefix_hi) return pa.prefix_hi < pb.prefix_hi ? -1 : 1;
  if (pa.prefix_lo != pb.prefix_lo) return pa.prefix_lo < pb.prefix_lo ? -1 : 1;
  const int c = CompareNoCase(pa.name(), pb.name());
  if (c != 0) return Sign(c);
  return (pa.last_len > pb.last_len) - (pa.last_len < pb.last_len);
}

// ---- positions ----

const BrowseList::Entry& BrowseList::EntryRef(size_t chunk, size_t index) const {
  return chunks_[chunk]->entries[index];
}

BrowseEntryView BrowseList::MakeView(const Entry& e) const {
  std::string_view stored = StoredName(e);
  BrowseEntryView v;
  v.last = stored.substr(0, e.last_len);
  v.folder = stored.substr(e.last_len);
  v.time = e.time;
  v.value = e.value;
  v.extra = e.extra;
  v.sort_key = e.sort_key;
  return v;
}

size_t BrowseList::PositionOf(size_t chunk, size_t index) const {
  if (!starts_valid_) {
    starts_.resize(chunks_.size());
    size_t pos = 0;
    for (size_t c = 0; c < chunks_.size(); ++c) {
      starts_[c] = pos;
      pos += chunks_[c]->size;
    }
    starts_valid_ = true;
  }
  return starts_[chunk] + index;
}

std::pair<size_t, size_t> BrowseList::Locate(size_t position) const {
  PositionOf(0, 0);  // makes starts_ valid
  size_t c = last_located_;
  if (c < chunks_.size() && position >= starts_[c]) {
    if (position < starts_[c] + chunks_[c]->size) return {c, position - starts_[c]};
    if (c + 1 < chunks_.size() && position < starts_[c + 1] + chunks_[c + 1]->size) {
      last_located_ = c + 1;
      return {c + 1, position - starts_[c + 1]};
    }
  }
  auto it = std::upper_bound(starts_.begin(), starts_.end(), position);
  c = static_cast<size_t>(it - starts_.begin()) - 1;
  last_located_ = c;
  return {c, position - starts_[c]};
}

const std::vector<BrowseList::Entry>& BrowseList::Fences() const {
  if (!fences_valid_) {
    fences_.resize(chunks_.size());
    for (size_t c = 0; c < chunks_.size(); ++c) {
      fences_[c] = chunks_[c]->entries[chunks_[c]->size - 1];
    }
    fences_valid_ = true;
  }
  return fences_;
}

void BrowseList::TouchChunk(size_t chunk) {
  starts_valid_ = false;
  if (fences_valid_) fences_[chunk] = chunks_[chunk]->entries[chunks_[chunk]->size - 1];
}

void BrowseList::ChunksChanged() {
  starts_valid_ = false;
  fences_valid_ = false;
}

namespace {

// The first i in [lo, hi) for which comes_before(i) does not hold (hi when
// it holds for all), given that it holds for a prefix only.
template <typename ComesBefore>
size_t Bisect(size_t lo, size_t hi, ComesBefore comes_before) {
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (comes_before(mid)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// The first i in [0, n) for which comes_before(i) does not hold (n when it
// holds for all), given that it holds for a prefix only. Searches outwards
// from `start` in growing steps, then halves the range found: a search that
// ends near where it started costs a few comparisons, any other at most
// about twice a plain binary search's.
template <typename ComesBefore>
size_t GallopFrom(size_t start, size_t n, ComesBefore comes_before) {
  if (n == 0) return 0;
  start = std::min(start, n - 1);
  size_t lo = 0, hi = n;  // the answer lies in [lo, hi]
  if (comes_before(start)) {
    lo = start + 1;
    for (size_t step = 1;; step *= 2) {
      const size_t probe = lo + step - 1;
      if (probe >= n) break;
      if (!comes_before(probe)) {
        hi = probe;
        break;
      }
      lo = probe + 1;
    }
  } else {
    hi = start;
    for (size_t step = 1; hi > 0; step *= 2) {
      const size_t probe = hi >= step ? hi - step : 0;
      if (comes_before(probe)) {
        lo = probe + 1;
        break;
      }
      hi = probe;
    }
  }
  return Bisect(lo, hi, comes_before);
}

}  // namespace

// Bound searches start where the last one ended: look-ups that come in the
// list's order (the hit filters look hits up newest first) then cost a few
// comparisons each, on entries still in the cache. The fences, copies of
// the chunks' last entries side by side, keep the chunk search in the cache.
template <typename ComesBefore>
size_t BrowseList::ChunkOfBound(ComesBefore comes_before) const {
  const std::vector<Entry>& fences = Fences();
  const size_t c = GallopFrom(last_bound_chunk_, fences.size(),
                              [&](size_t i) { return comes_before(fences[i]); });
  if (c < chunks_.size() && c != last_bound_chunk_) {
    last_bound_chunk_ = c;
    last_bound_index_ = 0;
  }
  return c;
}

template <typename ComesBefore>
std::pair<size_t, size_t> BrowseList::BoundNear(ComesBefore comes_before) const {
  const size_t last_chunk = last_bound_chunk_;
  const size_t c = ChunkOfBound(comes_before);
  if (c == chunks_.size()) return {c, 0};
  const Chunk& ch = *chunks_[c];
  // Within the chunk of the last search, from where it ended; in another,
  // a plain binary search.
  auto entry_before = [&](size_t k) { return comes_before(ch.entries[k]); };
  const size_t i = c == last_chunk ? GallopFrom(last_bound_index_, ch.size, entry_before)
                                   : Bisect(0, ch.size, entry_before);
  last_bound_index_ = i;
  return {c, i};
}

template <typename ComesBefore>
std::optional<std::pair<size_t, size_t>> BrowseList::StepNear(ComesBefore comes_before) const {
  constexpr size_t kMaxSteps = 48;
  const size_t c = last_bound_chunk_;
  size_t i = last_bound_index_;
  if (c >= chunks_.size()) return std::nullopt;
  const Chunk& ch = *chunks_[c];
  if (i > ch.size || (i > 0 && !comes_before(ch.entries[i - 1])) || (i == 0 && c > 0)) {
    return std::nullopt;
  }
  for (const size_t end = std::min<size_t>(ch.size, i + kMaxSteps); i < end; ++i) {
    if (!comes_before(ch.entries[i])) {
      last_bound_index_ = i;
      return std::make_pair(c, i);
    }
  }
  return std::nullopt;
}

std::pair<size_t, size_t> BrowseList::LowerBound(int order, const Probe& p) const {
  // First entry that does not come before p.
  return BoundNear([&](const Entry& e) { return CompareProbe(order, p, e) > 0; });
}

std::pair<size_t, size_t> BrowseList::UpperBound(int order, const Probe& p) const {
  // First entry that comes after p.
  return BoundNear([&](const Entry& e) { return CompareProbe(order, p, e) >= 0; });
}

// ---- structural changes ----

void BrowseList::InsertAt(size_t chunk, size_t index, const Entry& e) {
  bool structural = false;
  if (chunks_.empty()) {
    structural = true;
    chunks_.push_back(std::make_unique_for_overwrite<Chunk>());
    chunk = 0;
    index = 0;
  } else if (chunk == chunks_.size()) {  // after the last entry
    chunk = chunks_.size() - 1;
    index = chunks_[chunk]->size;
  }
  Chunk* ch = chunks_[chunk].get();
  if (ch->size == kChunkCapacity) {
    structural = true;
    if (chunk + 1 == chunks_.size() && index == ch->size) {
      // Appending to a full last chunk: start a new one (lists loaded or
      // filled in order stay densely packed).
      chunks_.push_back(std::make_unique_for_overwrite<Chunk>());
      ++chunk;
      index = 0;
    } else if (chunk == 0 && index == 0) {
      chunks_.insert(chunks_.begin(), std::make_unique_for_overwrite<Chunk>());
    } else {
      auto right = std::make_unique_for_overwrite<Chunk>();
      size_t half = kChunkCapacity / 2;
      right->size = static_cast<uint32_t>(ch->size - half);
      std::memcpy(right->entries, ch->entries + half, right->size * sizeof(Entry));
      ch->size = static_cast<uint32_t>(half);
      chunks_.insert(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk) + 1, std::move(right));
      if (index > half) {
        ++chunk;
        index -= half;
      }
    }
    ch = chunks_[chunk].get();
  }
  std::memmove(ch->entries + index + 1, ch->entries + index, (ch->size - index) * sizeof(Entry));
  ch->entries[index] = e;
  ++ch->size;
  ++count_;
  if (structural) {
    ChunksChanged();
  } else {
    TouchChunk(chunk);
  }
}

void BrowseList::EraseAt(size_t chunk, size_t index) {
  Chunk* ch = chunks_[chunk].get();
  OnRemoved(ch->entries[index]);
  std::memmove(ch->entries + index, ch->entries + index + 1,
               (ch->size - index - 1) * sizeof(Entry));
  --ch->size;
  --count_;
  if (count_ == 0) {
    // The last entry's removal releases the storage; the order stays, so a
    // list that is emptied and filled again keeps its order.
    int order = order_;
    Release();
    order_ = order;
    return;
  }
  if (ch->size == 0) {
    chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(chunk));
    ChunksChanged();
    return;
  }
  TouchChunk(chunk);
  if (ch->size >= kMergeBelow) return;
  // Merge a thin chunk into a neighbour so that removals do not leave many
  // nearly empty chunks behind.
  size_t left = chunk;
  if (chunk + 1 < chunks_.size() && ch->size + chunks_[chunk + 1]->size <= kMergeLimit) {
    left = chunk;
  } else if (chunk > 0 && chunks_[chunk - 1]->size + ch->size <= kMergeLimit) {
    left = chunk - 1;
  } else {
    return;
  }
  Chunk* a = chunks_[left].get();
  Chunk* b = chunks_[left + 1].get();
  std::memcpy(a->entries + a->size, b->entries, b->size * sizeof(Entry));
  a->size += b->size;
  chunks_.erase(chunks_.begin() + static_cast<std::ptrdiff_t>(left) + 1);
  ChunksChanged();
}

void BrowseList::OnAdded(const Entry& e) {
  if (!presence_) return;
  const std::string_view stored = StoredName(e);
  presence_->Insert(
      NameFingerprint(stored.substr(0, e.last_len), stored.substr(e.last_len), e.time));
}

void BrowseList::OnRemoved(const Entry& e) {
  names_->Forget(e.name_len);
  if (!presence_) return;
  const std::string_view stored = StoredName(e);
  presence_->Erase(
      NameFingerprint(stored.substr(0, e.last_len), stored.substr(e.last_len), e.time));
}

void BrowseList::MaybeCompactNames() {
  constexpr size_t kMinGarbage = 1 << 20;
  if (names_->garbage() < kMinGarbage || names_->garbage() < names_->live()) return;
  auto fresh = std::make_unique<NameArena>();
  std::vector<uint32_t> refs;
  refs.reserve(count_);
  for (const auto& ch : chunks_) {
    for (uint32_t i = 0; i < ch->size; ++i) {
      uint32_t ref = 0;
      // Cannot fail (the fresh arena needs less room than the old one), but
      // if it did, the old arena simply stays.
      if (!fresh->Store(StoredName(ch->entries[i]), &ref)) return;
      refs.push_back(ref);
    }
  }
  size_t k = 0;
  for (auto& ch : chunks_) {
    for (uint32_t i = 0; i < ch->size; ++i) ch->entries[i].name_ref = refs[k++];
  }
  names_ = std::move(fresh);
  fences_valid_ = false;  // the fences hold the old references
}

std::vector<BrowseList::Entry> BrowseList::Flatten() const {
  std::vector<Entry> all;
  all.reserve(count_);
  for (const auto& ch : chunks_) all.insert(all.end(), ch->entries, ch->entries + ch->size);
  return all;
}

void BrowseList::Rebuild(std::vector<Entry>&& entries) {
  chunks_.clear();
  ChunksChanged();
  last_located_ = 0;
  chunks_.reserve(entries.size() / kBuildFill + 1);
  for (size_t i = 0; i < entries.size(); i += kBuildFill) {
    auto ch = std::make_unique_for_overwrite<Chunk>();
    size_t n = std::min(kBuildFill, entries.size() - i);
    std::memcpy(ch->entries, entries.data() + i, n * sizeof(Entry));
    ch->size = static_cast<uint32_t>(n);
    chunks_.push_back(std::move(ch));
  }
  count_ = entries.size();
}

void BrowseList::StableSort(int order, std::vector<Entry>* entries) const {
  int rule = SortRule(order);
  auto less = [this, rule](const Entry& a, const Entry& b) { return Compare(rule, a, b) < 0; };
  if (std::is_sorted(entries->begin(), entries->end(), less)) return;
  std::stable_sort(entries->begin(), entries->end(), less);
}

// ---- operations ----

Status BrowseList::CheckName(std::string_view name) const {
  if (name.size() > kMaxListNameLength) {
    return Status::InvalidArgument("list entry name longer than 255 bytes: " +
                                   std::string(name.substr(0, 64)) + "...");
  }
  if (name.find('\0') != std::string_view::npos) {
    return Status::InvalidArgument("list entry name holds a NUL byte");
  }
  return Status::Ok();
}

Status BrowseList::Reserve(size_t count) {
  if (count <= capacity_) return Status::Ok();
  size_t next = steps_->CapacityFor(count);
  if (next == 0) {
    return Status::ResourceExhausted("browse list is full (" + std::to_string(count_) +
                                     " entries)");
  }
  capacity_ = next;
  return Status::Ok();
}

Status BrowseList::Add(std::string_view name, uint32_t time, uint32_t value, uint32_t extra,
                       uint32_t sort_key) {
  VANTREL_RETURN_IF_ERROR(CheckName(name));
  size_t old_capacity = capacity_;
  VANTREL_RETURN_IF_ERROR(Reserve(count_ + 1));
  Probe p;
  p.Set(name);
  p.time = time;
  p.sort_key = sort_key;
  Entry e{};
  if (!names_->Store(p.name(), &e.name_ref)) {
    capacity_ = old_capacity;
    return Status::ResourceExhausted("browse list name storage is full");
  }
  e.time = time;
  e.value = value;
  e.extra = extra;
  e.sort_key = sort_key;
  e.last_len = p.last_len;
  e.name_len = p.size;
  e.prefix_hi = p.prefix_hi;
  e.prefix_lo = p.prefix_lo;

  OnAdded(e);
  int rule = SortRule(order_);
  if (chunks_.empty()) {
    InsertAt(0, 0, e);
    return Status::Ok();
  }
  // Most adds come last or first in the order (files arriving newest first,
  // lists loaded in order): test those ends before searching.
  const Chunk& last = *chunks_.back();
  if (CompareProbe(rule, p, last.entries[last.size - 1]) >= 0) {
    InsertAt(chunks_.size(), 0, e);
  } else if (CompareProbe(rule, p, chunks_.front()->entries[0]) < 0) {
    InsertAt(0, 0, e);
  } else {
    auto [c, i] = UpperBound(rule, p);
    InsertAt(c, i, e);
  }
  return Status::Ok();
}

Status BrowseList::AddBatch(std::span<const NewBrowseEntry> entries) {
  // A few entries into a large list: plain inserts are cheaper than a merge.
  if (entries.size() < 64 || entries.size() < count_ / 64) {
    for (const NewBrowseEntry& n : entries) {
      VANTREL_RETURN_IF_ERROR(Add(n.name, n.time, n.value, n.extra, n.sort_key));
    }
    return Status::Ok();
  }
  Status status;
  std::vector<Entry> fresh;
  fresh.reserve(std::min(entries.size(), steps_->max_entries() - count_));
  for (const NewBrowseEntry& n : entries) {
    status = CheckName(n.name);
    if (status.ok() && count_ + fresh.size() + 1 > steps_->max_entries()) {
      status = Status::ResourceExhausted("browse list is full (" +
                                         std::to_string(count_ + fresh.size()) + " entries)");
    }
    if (!status.ok()) break;
    Probe p;
    p.Set(n.name);
    Entry e{};
    if (!names_->Store(p.name(), &e.name_ref)) {
      status = Status::ResourceExhausted("browse list name storage is full");
      break;
    }
    e.time = n.time;
    e.value = n.value;
    e.extra = n.extra;
    e.sort_key = n.sort_key;
    e.last_len = p.last_len;
    e.name_len = p.size;
    e.prefix_hi = p.prefix_hi;
    e.prefix_lo = p.prefix_lo;
    OnAdded(e);
    fresh.push_back(e);
  }
  if (fresh.empty()) return status;
  // A stable sort of the new entries followed by a merge that puts existing
  // entries before equal new ones gives exactly the list that one Add per
  // entry would give.
  int rule = SortRule(order_);
  auto less = [this, rule](const Entry& a, const Entry& b) { return Compare(rule, a, b) < 0; };
  StableSort(order_, &fresh);
  if (count_ == 0) {
    Rebuild(std::move(fresh));
  } else {
    std::vector<Entry> old = Flatten();
    std::vector<Entry> merged;
    merged.reserve(old.size() + fresh.size());
    std::merge(old.begin(), old.end(), fresh.begin(), fresh.end(), std::back_inserter(merged),
               less);
    old.clear();
    old.shrink_to_fit();
    Rebuild(std::move(merged));
  }
  capacity_ = std::max(capacity_, steps_->CapacityFor(count_));
  return status;
}

std::optional<std::pair<size_t, size_t>> BrowseList::ScanByName(const Probe& p,
                                                                 uint32_t time) const {
  for (size_t c = 0; c < chunks_.size(); ++c) {
    const Chunk& ch = *chunks_[c];
    for (size_t i = 0; i < ch.size; ++i) {
      const Entry& e = ch.entries[i];
      if (e.name_len != p.size || e.last_len != p.last_len) continue;
      if (time != 0 && e.time != time) continue;
      if (CompareNames(p.name(), p.prefix_hi, p.prefix_lo, p.last_len, e) == 0) return std::make_pair(c, i);
    }
  }
  return std::nullopt;
}

std::optional<BrowseLookup> BrowseList::Lookup(std::string_view name, uint32_t time) {
  if (count_ == 0) return std::nullopt;
  Probe p;
  if (!p.Set(name)) return std::nullopt;
  p.time = time;
  if (order_ == kOrderNone) {
    if (!SetOrder(time != 0 ? kOrderTime : kOrderName).ok()) return std::nullopt;
  }
  std::optional<std::pair<size_t, size_t>> at;
  if (order_ == kOrderTime && time != 0) {
    auto [c, i] = LowerBound(kOrderTime, p);
    if (c < chunks_.size() && CompareProbe(kOrderTime, p, EntryRef(c, i)) == 0) at = {c, i};
  } else if (order_ == kOrderName) {
    auto [c, i] = LowerBound(kOrderName, p);
    // Entries with equal names sit together; take the first with the time.
    while (c < chunks_.size() && CompareProbe(kOrderName, p, EntryRef(c, i)) == 0) {
      if (time == 0 || EntryRef(c, i).time == time) {
        at = {c, i};
        break;
      }
      if (++i == chunks_[c]->size) {
        ++c;
        i = 0;
      }
    }
  } else {
    at = ScanByName(p, time);
  }
  if (!at) return std::nullopt;
  return LookupResult(at->first, at->second);
}

BrowseLookup BrowseList::LookupResult(size_t chunk, size_t index) const {
  const Entry& e = EntryRef(chunk, index);
  BrowseLookup r;
  r.position = PositionOf(chunk, index);
  r.time = e.time;
  r.value = e.value;
  r.extra = e.extra;
  r.sort_key = e.sort_key;
  return r;
}

std::optional<std::pair<size_t, size_t>> BrowseList::MatchFrom(const Probe& p, size_t c,
                                                               size_t i) const {
  // Entries with the probe's time and prefix sit together from (c, i): one,
  // nearly always.
  while (c < chunks_.size()) {
    const Entry& e = EntryRef(c, i);
    if (e.time != p.time || e.prefix_hi != p.prefix_hi || e.prefix_lo != p.prefix_lo) break;
    const int cmp = CompareNames(p.name(), p.prefix_hi, p.prefix_lo, p.last_len, e);
    if (cmp == 0) return std::make_pair(c, i);
    if (cmp < 0) break;
    if (++i == chunks_[c]->size) {
      ++c;
      i = 0;
    }
  }
  return std::nullopt;
}

void BrowseList::LookupMany(std::span<const TimedName> wanted,
                            std::span<std::optional<BrowseLookup>> found) {
  if (order_ == kOrderNone && count_ > 0 && !SetOrder(kOrderTime).ok()) return;
  std::array<Probe, kLookupsAtOnce> probes;
  std::array<std::pair<size_t, size_t>, kLookupsAtOnce> starts;
  std::array<bool, kLookupsAtOnce> searched;
  std::array<size_t, kLookupsAtOnce> scattered;  // probes whose chunk is searched in step
  for (size_t from = 0; from < wanted.size(); from += kLookupsAtOnce) {
    const size_t n = std::min(kLookupsAtOnce, wanted.size() - from);
    // Locate each name's place by time and prefix alone, which the entries
    // hold: a few steps on from the last place when it lies close, else its
    // chunk from the fences, searched below with the others'.
    size_t n_scattered = 0;
    for (size_t k = 0; k < n; ++k) {
      const TimedName& w = wanted[from + k];
      found[from + k].reset();
      searched[k] = false;
      if (count_ == 0) continue;
      if (order_ != kOrderTime || w.time == 0) {
        found[from + k] = Lookup(w.name, w.time);
        continue;
      }
      Probe& p = probes[k];
      if (!p.Set(w.name)) continue;
      p.time = w.time;
      searched[k] = true;
      auto before = [&p](const Entry& e) { return TimePrefixBefore(p, e); };
      std::optional<std::pair<size_t, size_t>> near = StepNear(before);
      if (near) {
        starts[k] = *near;
        continue;
      }
      starts[k] = {ChunkOfBound(before), 0};
      if (starts[k].first < chunks_.size()) {
        __builtin_prefetch(chunks_[starts[k].first].get());
        scattered[n_scattered++] = k;
      }
    }
    BoundsInChunks(std::span(scattered).first(n_scattered), probes, starts);
    RememberLastBound(std::span(searched).first(n), starts);
    // Then ask for the stored names there, and compare them.
    for (size_t k = 0; k < n; ++k) {
      const auto [c, i] = starts[k];
      if (searched[k] && c < chunks_.size()) __builtin_prefetch(StoredName(EntryRef(c, i)).data());
    }
    for (size_t k = 0; k < n; ++k) {
      if (!searched[k]) continue;
      const std::optional<std::pair<size_t, size_t>> at =
          MatchFrom(probes[k], starts[k].first, starts[k].second);
      if (at) found[from + k] = LookupResult(at->first, at->second);
    }
  }
}

void BrowseList::BoundsInChunks(std::span<const size_t> which, std::span<const Probe> probes,
                                std::span<std::pair<size_t, size_t>> starts) const {
  // One halving step of every search per round, each asking ahead for the
  // entry of its next step, so that their memory reads overlap.
  std::array<size_t, kLookupsAtOnce> size_left{};
  for (size_t j = 0; j < which.size(); ++j) {
    size_left[j] = chunks_[starts[which[j]].first]->size;
  }
  for (bool active = true; active;) {
    active = false;
    for (size_t j = 0; j < which.size(); ++j) {
      size_t& left = size_left[j];
      if (left == 0) continue;
      auto& [c, lo] = starts[which[j]];
      const Entry* entries = chunks_[c]->entries;
      const size_t half = left / 2;
      if (TimePrefixBefore(probes[which[j]], entries[lo + half])) {
        lo += half + 1;
        left -= half + 1;
      } else {
        left = half;
      }
      if (left > 0) {
        __builtin_prefetch(&entries[lo + left / 2]);
        active = true;
      }
    }
  }
}

void BrowseList::RememberLastBound(std::span<const bool> searched,
                                   std::span<const std::pair<size_t, size_t>> starts) const {
  // The next batch's first look-up starts where this batch's last ended.
  for (size_t k = searched.size(); k-- > 0;) {
    if (!searched[k]) continue;
    if (starts[k].first < chunks_.size()) {
      last_bound_chunk_ = starts[k].first;
      last_bound_index_ = starts[k].second;
    }
    return;
  }
}

bool BrowseList::TimePrefixBefore(const Probe& p, const Entry& e) {
  if (e.time != p.time) return e.time > p.time;
  if (e.prefix_hi != p.prefix_hi) return e.prefix_hi < p.prefix_hi;
  return e.prefix_lo < p.prefix_lo;
}

std::optional<uint32_t> BrowseList::Remove(std::string_view name, uint32_t time) {
  if (count_ == 0) return std::nullopt;
  Probe p;
  if (!p.Set(name)) return std::nullopt;
  p.time = time;
  std::optional<std::pair<size_t, size_t>> at;
  int rule = SortRule(order_);
  if (rule == kOrderTime || rule == kOrderName) {
    auto [c, i] = LowerBound(rule, p);
    if (c < chunks_.size() && CompareProbe(rule, p, EntryRef(c, i)) == 0) at = {c, i};
  } else {
    at = ScanByName(p, 0);
  }
  if (!at) return std::nullopt;
  uint32_t removed = EntryRef(at->first, at->second).time;
  EraseAt(at->first, at->second);
  if (count_ > 0) MaybeCompactNames();
  return removed;
}

size_t BrowseList::RemoveBelow(std::string_view folder_key) {
  bool key_ends_folder = !folder_key.empty() && folder_key.back() == '\\';
  auto below = [&](const Entry& e) {
    BrowseEntryView v = MakeView(e);
    if (!ExpandedStartsWith(v, folder_key)) return false;
    return v.name_size() == folder_key.size() || key_ends_folder ||
           ExpandedCharAt(v, folder_key.size()) == '\\';
  };
  std::vector<Entry> all = Flatten();
  std::vector<Entry> kept;
  kept.reserve(all.size());
  for (const Entry& e : all) {
    if (below(e)) {
      OnRemoved(e);
    } else {
      kept.push_back(e);
    }
  }
  size_t removed = all.size() - kept.size();
  if (removed == 0) return 0;
  all.clear();
  all.shrink_to_fit();
  if (kept.empty()) {
    int order = order_;
    Release();
    order_ = order;
    return removed;
  }
  Rebuild(std::move(kept));
  MaybeCompactNames();
  return removed;
}

std::optional<size_t> BrowseList::FindByName(std::string_view name, bool prefix) const {
  size_t pos = 0;
  for (const auto& ch : chunks_) {
    for (size_t i = 0; i < ch->size; ++i, ++pos) {
      const Entry& e = ch->entries[i];
      if (prefix ? e.name_len <= name.size() : e.name_len != name.size()) continue;
      if (ExpandedStartsWith(MakeView(e), name)) return pos;
    }
  }
  return std::nullopt;
}

Status BrowseList::SetOrder(int order) {
  if (order < kOrderNone || order > kOrderSortKey) {
    return Status::InvalidArgument("unknown list order " + std::to_string(order));
  }
  if (order == order_) return Status::Ok();
  bool same_rule = SortRule(order) == SortRule(order_);
  order_ = order;
  if (same_rule || count_ < 2) return Status::Ok();
  std::vector<Entry> all = Flatten();
  StableSort(order, &all);
  Rebuild(std::move(all));
  return Status::Ok();
}

Status BrowseList::SetOrderKeepingFirst(int order, size_t keep) {
  if (keep == 0 || keep >= count_) return SetOrder(order);
  if (order < kOrderNone || order > kOrderSortKey) {
    return Status::InvalidArgument("unknown list order " + std::to_string(order));
  }
  std::vector<Entry> all = Flatten();
  const int rule = SortRule(order);
  if (rule != SortRule(order_)) {
    // The first `keep` under the new rule, equal entries in their present
    // order, as the stable sort of SetOrder would leave them; only those
    // are sorted.
    std::vector<uint32_t> picks(all.size());
    for (uint32_t i = 0; i < picks.size(); ++i) picks[i] = i;
    auto less = [&](uint32_t a, uint32_t b) {
      const int c = Compare(rule, all[a], all[b]);
      return c != 0 ? c < 0 : a < b;
    };
    std::nth_element(picks.begin(), picks.begin() + static_cast<ptrdiff_t>(keep), picks.end(),
                     less);
    picks.resize(keep);
    std::sort(picks.begin(), picks.end(), less);
    std::vector<bool> kept(all.size(), false);
    std::vector<Entry> first;
    first.reserve(keep);
    for (uint32_t i : picks) {
      first.push_back(all[i]);
      kept[i] = true;
    }
    for (size_t i = 0; i < all.size(); ++i) {
      if (!kept[i]) OnRemoved(all[i]);
    }
    all = std::move(first);
  } else {
    for (size_t i = keep; i < all.size(); ++i) OnRemoved(all[i]);
    all.resize(keep);
  }
  order_ = order;
  Rebuild(std::move(all));
  return Status::Ok();
}

std::optional<BrowseEntryView> BrowseList::ViewAt(size_t position) const {
  if (position >= count_) return std::nullopt;
  auto [c, i] = Locate(position);
  return MakeView(EntryRef(c, i));
}

std::optional<size_t> BrowseList::CountStampedAtOrAfter(uint32_t stamp) const {
  if (order_ != kOrderTime) return std::nullopt;
  if (count_ == 0) return 0;
  const auto [c, i] = BoundNear([stamp](const Entry& e) { return e.time >= stamp; });
  return c == chunks_.size() ? count_ : PositionOf(c, i);
}

std::optional<uint32_t> BrowseList::TimeAt(size_t position) const {
  if (position >= count_) return std::nullopt;
  auto [c, i] = Locate(position);
  return EntryRef(c, i).time;
}

std::optional<BrowseEntry> BrowseList::EntryAt(size_t position) const {
  std::optional<BrowseEntryView> v = ViewAt(position);
  if (!v) return std::nullopt;
  return BrowseEntry{v->ExpandedName(), v->time, v->value, v->extra, v->sort_key};
}

std::optional<BrowseEntry> BrowseList::TakeLast() {
  std::optional<BrowseEntry> last = EntryAt(count_ == 0 ? 0 : count_ - 1);
  if (!last) return std::nullopt;
  size_t c = chunks_.size() - 1;
  EraseAt(c, chunks_[c]->size - 1);
  if (count_ > 0) MaybeCompactNames();
  return last;
}

}  // namespace vantrel
