#include "search/hit_filters.h"

#include <algorithm>
#include <array>
#include <bit>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/name_presence.h"

namespace vantrel {
namespace {

// TIMELIST entries read under one hold of its lock by the date-only walk,
// and entries counted there once the answer is full.
constexpr size_t kWalkBatch = 512;
constexpr size_t kCountBatch = 4096;
// Hits looked up in TIMELIST under one hold of its lock.
constexpr size_t kLookupBatch = 2048;

struct TimeListEntry {
  std::string name;
  uint32_t time = 0;
  uint32_t value = 0;
  size_t position = 0;
};

// Looks up `name` with exactly `time` (a time of 0 is matched by name first,
// as the lists do, and then checked).
std::optional<BrowseLookup> FindExact(BrowseList* list, std::string_view name, uint32_t time) {
  std::optional<BrowseLookup> found = list->Lookup(name, time);
  if (found && found->time != time) return std::nullopt;
  return found;
}

// Sorts keys whose low words already ascend (they number the keys) by
// their high words, keeping that order among equal high words: the same as
// sorting them as plain numbers. A stable radix sort, a byte at a time,
// skipping bytes that all keys share.
void SortByHighWords(std::vector<uint64_t>* keys) {
  std::vector<uint64_t> spare(keys->size());
  for (int shift = 32; shift < 64; shift += 8) {
    std::array<size_t, 257> starts{};
    for (uint64_t k : *keys) ++starts[((k >> shift) & 0xFF) + 1];
    if (std::find(starts.begin(), starts.end(), keys->size()) != starts.end()) continue;
    for (size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
    for (uint64_t k : *keys) spare[starts[(k >> shift) & 0xFF]++] = k;
    keys->swap(spare);
  }
}

// The place of a fingerprint among 2^(64 - shift) bits or slots.
size_t MarkOf(uint64_t fingerprint, int shift) {
  return static_cast<size_t>((fingerprint * 0x9E3779B97F4A7C15ull) >> shift);
}

// For each of `prints`, 1 when another falls on its mark in a bitmap of 16
// to 32 bits a fingerprint, else 0: a fingerprint marked 0 occurs once. Two
// passes over bitmaps that the cache holds cost less than a table of every
// fingerprint, and few fingerprints share a mark by chance.
std::vector<uint8_t> MayRepeat(const std::vector<uint64_t>& prints) {
  size_t bits = 1024;
  while (bits < prints.size() * 16) bits *= 2;
  const int shift = 64 - std::countr_zero(bits);
  std::vector<uint64_t> once(bits / 64), twice(bits / 64);
  for (uint64_t f : prints) {
    const size_t mark = MarkOf(f, shift);
    const uint64_t bit = uint64_t{1} << (mark & 63);
    twice[mark >> 6] |= once[mark >> 6] & bit;
    once[mark >> 6] |= bit;
  }
  std::vector<uint8_t> may(prints.size());
  for (size_t k = 0; k < prints.size(); ++k) {
    const size_t mark = MarkOf(prints[k], shift);
    may[k] = static_cast<uint8_t>((twice[mark >> 6] >> (mark & 63)) & 1);
  }
  return may;
}

uint32_t EntryNumberOf(size_t timelist_position) {
  return static_cast<uint32_t>(timelist_position) + kTimeListEntryNumberBase;
}

}  // namespace

bool DateFilter::Passes(uint32_t stamp) const {
  switch (mode) {
    case 0:
      return true;
    case 1:
      return stamp >= threshold;
    case 2:
      return stamp <= threshold;
    default:
      return false;
  }
}

uint32_t DatePeriodSeconds(uint8_t date_period) {
  switch (date_period) {
    case 0:
      return 3600;
    case 1:
      return 86400;
    case 2:
      return 604800;
    case 3:
      return 2592000;
    default:
      return 0;
  }
}

DateFilter MakeDateFilter(uint8_t date_mode, uint8_t date_period, uint32_t now_stamp) {
  return DateFilter{date_mode, now_stamp - DatePeriodSeconds(date_period)};
}

HitCollector::HitCollector(LockedBrowseList timelist, BrowseList* restrict_list,
                           BrowseList* hits, HitCollectorOptions options)
    : timelist_(timelist),
      restrict_list_(restrict_list),
      hits_(hits),
      options_(std::move(options)) {
  // Time order is one of the valid orders; this cannot fail.
  hits_->SetOrder(kOrderTime).IgnoreError();
  if (ReportsProgress()) last_filtered_ = Now();
}

std::chrono::steady_clock::time_point HitCollector::Now() const {
  return options_.now ? options_.now() : std::chrono::steady_clock::now();
}

bool HitCollector::ChunkDue() {
  if (!ReportsProgress()) return false;
  const size_t full = std::max<size_t>(kFilterChunk, accepted_);
  // Past a full chunk the clock is read once per kFilterChunk hits.
  if (pending_.size() < full || (pending_.size() - full) % kFilterChunk != 0) return false;
  return Now() - last_filtered_ >= options_.progress_interval;
}

void HitCollector::Add(std::string_view file_key, uint32_t time_stamp, int32_t score) {
  Pending p;
  p.name_offset = names_.size();
  p.name_size = static_cast<uint32_t>(file_key.size());
  p.time = time_stamp;
  p.score = score;
  names_.append(file_key);
  pending_.push_back(p);
  if (ChunkDue()) FilterPending(false);
}

void HitCollector::Expect(size_t hits, size_t key_bytes) {
  pending_.reserve(pending_.size() + hits);
  names_.reserve(names_.size() + key_bytes);
}

std::vector<uint32_t> HitCollector::InTimeListOrder() const {
  // Sorted as plain numbers by time, then arrival; only the runs of equal
  // times (short, mostly) need their names compared.
  std::vector<uint64_t> keys;
  keys.reserve(pending_.size());
  for (uint32_t i = 0; i < pending_.size(); ++i) {
    const uint32_t time = pending_[i].time;
    if (options_.date_filter.Passes(time)) keys.push_back(uint64_t{~time} << 32 | i);
  }
  SortByHighWords(&keys);
  std::vector<uint32_t> order(keys.size());
  for (size_t k = 0; k < keys.size(); ++k) order[k] = static_cast<uint32_t>(keys[k]);
  auto by_name = [this](uint32_t a, uint32_t b) {
    const int c = NameOf(pending_[a]).compare(NameOf(pending_[b]));
    return c != 0 ? c < 0 : a < b;
  };
  for (size_t run = 0; run < order.size();) {
    size_t end = run + 1;
    while (end < order.size() && keys[end] >> 32 == keys[run] >> 32) ++end;
    if (end - run > 1) std::sort(order.begin() + run, order.begin() + end, by_name);
    run = end;
  }
  return order;
}

void HitCollector::LayOutNames(const std::vector<uint32_t>& order) {
  std::string laid;
  laid.reserve(names_.size());
  std::vector<bool> placed(pending_.size(), false);
  auto place = [&](uint32_t i) {
    Pending& p = pending_[i];
    const size_t offset = laid.size();
    laid.append(NameOf(p));
    p.name_offset = offset;
    placed[i] = true;
  };
  for (uint32_t i : order) place(i);
  for (uint32_t i = 0; i < pending_.size(); ++i) {
    if (!placed[i]) place(i);
  }
  names_ = std::move(laid);
}

std::vector<uint32_t> HitCollector::NewCandidates(const std::vector<uint32_t>& order) const {
  // Repeats of a hit, and hits already in the list (a merge list, an
  // earlier Finish), count once.
  const bool check_list = hits_->Count() > 0;
  std::vector<uint32_t> candidates;
  candidates.reserve(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const Pending& p = pending_[order[k]];
    if (k > 0) {
      const Pending& previous = pending_[order[k - 1]];
      if (previous.time == p.time && NameOf(previous) == NameOf(p)) continue;
    }
    if (check_list && FindExact(hits_, NameOf(p), p.time)) continue;
    candidates.push_back(order[k]);
  }
  return candidates;
}

template <typename Take>
void HitCollector::LookUpEach(const std::vector<uint32_t>& which, Take take) {
  // A batch per hold of TIMELIST's lock, so that writers wait briefly.
  std::vector<TimedName> wanted;
  std::vector<std::optional<BrowseLookup>> found;
  for (size_t from = 0; from < which.size(); from += kLookupBatch) {
    const size_t to = std::min(which.size(), from + kLookupBatch);
    wanted.clear();
    for (size_t k = from; k < to; ++k) {
      const Pending& p = pending_[which[k]];
      wanted.push_back(TimedName{NameOf(p), p.time});
    }
    found.resize(wanted.size());
    timelist_.WithLock([&](BrowseList& timelist) { timelist.LookupMany(wanted, found); });
    for (size_t k = from; k < to; ++k) {
      const std::optional<BrowseLookup>& entry = found[k - from];
      Pending& p = pending_[which[k]];
      take(p, entry && entry->time == p.time ? &*entry : nullptr);
    }
  }
}

void HitCollector::TakeEntry(Pending& p, const BrowseLookup& entry) {
  p.type_code = entry.value;
  p.entry_number = EntryNumberOf(entry.position);
}

void HitCollector::LookUpInTimeList(const std::vector<uint32_t>& candidates) {
  LookUpEach(candidates, [](Pending& p, const BrowseLookup* entry) {
    if (entry == nullptr) return;
    p.keep = true;
    TakeEntry(p, *entry);
  });
}

void HitCollector::LookUpInRestrictList(const std::vector<uint32_t>& candidates) {
  for (uint32_t i : candidates) {
    Pending& p = pending_[i];
    if (!p.keep) continue;
    std::optional<BrowseLookup> kept = FindExact(restrict_list_, NameOf(p), p.time);
    p.keep = kept.has_value();
    if (kept) {
      p.type_code = kept->value;
      p.entry_number = kept->extra;
    }
  }
}

void HitCollector::Finish() { FilterPending(true); }

void HitCollector::FilterPending(bool last) {
  const uint32_t before = accepted_;
  const bool bounded = last && options_.answer_keep > 0 && !options_.merged;
  if (!bounded || !FilterByFingerprints()) FilterByLookUps(bounded);
  ReportProgress(before);
  if (options_.keep_arrivals) SetArrivalsAside();
  pending_.clear();
  names_.clear();
  if (ReportsProgress()) last_filtered_ = Now();
}

void HitCollector::SetArrivalsAside() {
  CopyArrivalsAside();
  aside_.swap(pending_);
  aside_names_.swap(names_);
}

void HitCollector::CopyArrivalsAside() {
  arrivals_.Reserve(aside_.size(), aside_names_.size());
  const std::string_view names(aside_names_);
  for (const Pending& p : aside_) {
    arrivals_.Add(p.time, names.substr(p.name_offset, p.name_size), p.score);
  }
  aside_.clear();
  aside_names_.clear();
}

CachedHits HitCollector::TakeArrivals() {
  CopyArrivalsAside();
  return std::exchange(arrivals_, CachedHits());
}

void HitCollector::FilterByLookUps(bool bounded) {
  // Candidates in TIMELIST order (newest first, then by name bytes), and in
  // arrival order among equal hits, so that repeats sit together and the
  // look-ups walk the lists from one end to the other.
  const std::vector<uint32_t> order = InTimeListOrder();
  LayOutNames(order);
  const std::vector<uint32_t> candidates = NewCandidates(order);
  LookUpInTimeList(candidates);
  if (restrict_list_ != nullptr) LookUpInRestrictList(candidates);
  const uint32_t kept = NumberKept();
  EnterKept(candidates, kept, bounded ? BoundOf(candidates, kept) : 0);
}

bool HitCollector::FilterByFingerprints() {
  // Only TIMELIST decides here, into an empty hit list.
  if (restrict_list_ != nullptr || hits_->Count() > 0) return false;
  std::vector<uint64_t> fingerprints;
  std::optional<std::vector<uint32_t>> candidates = FirstArrivals(&fingerprints);
  if (!candidates || !MarkPresent(*candidates, fingerprints)) return false;
  const uint32_t kept = NumberKept();
  std::optional<std::vector<uint32_t>> answer;
  if (AllFit(kept)) answer = AnswerMembers(*candidates, kept);
  if (!answer || !LookUpAnswerEntries(*answer)) {
    for (Pending& p : pending_) p.keep = false;
    return false;
  }
  EnterAnswer(*answer, kept);
  return true;
}

std::optional<std::vector<uint32_t>> HitCollector::AnswerMembers(
    const std::vector<uint32_t>& candidates, uint32_t kept) const {
  // When every kept hit is in the answer (no bound), each needs its entry,
  // and the look-ups of FilterByLookUps, in TIMELIST order, cost less.
  const uint32_t threshold = kept > options_.answer_keep ? AnswerThreshold(candidates) : 0;
  if (threshold == 0) return std::nullopt;
  // Every hit above the answer's least key, and of those at it the first
  // in the list's order: by name, equal names newest first.
  std::vector<uint32_t> answer, at_threshold;
  for (uint32_t i : candidates) {
    const Pending& p = pending_[i];
    if (!p.keep || AnswerKeyOf(p) < threshold) continue;
    (AnswerKeyOf(p) > threshold ? answer : at_threshold).push_back(i);
  }
  const size_t room = options_.answer_keep - answer.size();
  if (at_threshold.size() <= room) {
    answer.insert(answer.end(), at_threshold.begin(), at_threshold.end());
    return answer;
  }
  struct Tie {
    NameOrderPrefix prefix;
    uint32_t time;
    uint32_t index;
  };
  std::vector<Tie> ties;
  ties.reserve(at_threshold.size());
  for (uint32_t i : at_threshold) {
    ties.push_back(Tie{BrowseList::NameOrderPrefixOf(NameOf(pending_[i])), pending_[i].time, i});
  }
  auto first = [this](const Tie& a, const Tie& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const int c =
        BrowseList::CompareInNameOrder(NameOf(pending_[a.index]), NameOf(pending_[b.index]));
    if (c != 0) return c < 0;
    return a.time != b.time ? a.time > b.time : a.index < b.index;
  };
  std::nth_element(ties.begin(), ties.begin() + static_cast<ptrdiff_t>(room), ties.end(), first);
  for (size_t k = 0; k < room; ++k) answer.push_back(ties[k].index);
  return answer;
}

void HitCollector::EnterAnswer(const std::vector<uint32_t>& answer, uint32_t kept) {
  std::vector<NewBrowseEntry> entries;
  entries.reserve(answer.size());
  for (uint32_t i : answer) entries.push_back(EntryOf(pending_[i]));
  hits_->AddBatch(entries).IgnoreError();  // all fit
  // The others count as found all the same.
  accepted_ += kept;
}

std::optional<std::vector<uint32_t>> HitCollector::FirstArrivals(
    std::vector<uint64_t>* fingerprints) const {
  // The first arrival of each (name, time) that passes the date filter, in
  // arrival order, found through a table of the candidates so far by
  // fingerprint.
  std::vector<uint32_t> passing;
  std::vector<uint64_t> passing_prints;
  passing.reserve(pending_.size());
  passing_prints.reserve(pending_.size());
  for (uint32_t i = 0; i < pending_.size(); ++i) {
    const Pending& p = pending_[i];
    if (!options_.date_filter.Passes(p.time)) continue;
    passing.push_back(i);
    passing_prints.push_back(ExpandedNameFingerprint(NameOf(p), p.time));
  }
  // Only fingerprints that may occur more than once go through a table.
  const std::vector<uint8_t> may_repeat = MayRepeat(passing_prints);
  const size_t doubtful =
      static_cast<size_t>(std::count(may_repeat.begin(), may_repeat.end(), uint8_t{1}));
  struct Slot {
    uint64_t fingerprint = 0;  // 0 = empty
    uint32_t candidate = 0;
  };
  size_t capacity = 64;
  while (capacity < doubtful * 2) capacity *= 2;
  const int shift = 64 - std::countr_zero(capacity);
  std::vector<Slot> seen(capacity);
  std::vector<uint32_t> candidates;
  candidates.reserve(passing.size());
  fingerprints->clear();
  fingerprints->reserve(passing.size());
  for (size_t k = 0; k < passing.size(); ++k) {
    const uint64_t fingerprint = passing_prints[k];
    if (may_repeat[k] != 0) {
      const Pending& p = pending_[passing[k]];
      size_t s = MarkOf(fingerprint, shift);
      bool repeat = false;
      for (; seen[s].fingerprint != 0; s = (s + 1) & (capacity - 1)) {
        if (seen[s].fingerprint != fingerprint) continue;
        const Pending& first = pending_[candidates[seen[s].candidate]];
        // Two names with one fingerprint: the look-ups tell them apart.
        if (first.time != p.time || NameOf(first) != NameOf(p)) return std::nullopt;
        repeat = true;
        break;
      }
      if (repeat) continue;
      seen[s] = Slot{fingerprint, static_cast<uint32_t>(candidates.size())};
    }
    candidates.push_back(passing[k]);
    fingerprints->push_back(fingerprint);
  }
  return candidates;
}

bool HitCollector::MarkPresent(const std::vector<uint32_t>& candidates,
                               const std::vector<uint64_t>& fingerprints) {
  std::array<bool, kLookupBatch> present;
  for (size_t from = 0; from < candidates.size(); from += kLookupBatch) {
    const size_t n = std::min(candidates.size() - from, kLookupBatch);
    bool kept = false;
    timelist_.WithLock([&](BrowseList& timelist) {
      const NamePresence* presence = timelist.presence();
      if (presence == nullptr) return;
      kept = true;
      presence->ContainsMany(std::span(fingerprints).subspan(from, n), std::span(present).first(n));
    });
    if (!kept) return false;
    for (size_t k = 0; k < n; ++k) pending_[candidates[from + k]].keep = present[k];
  }
  return true;
}

bool HitCollector::LookUpAnswerEntries(std::vector<uint32_t>& answer) {
  // Newest first, as TIMELIST stands.
  std::sort(answer.begin(), answer.end(),
            [this](uint32_t a, uint32_t b) { return pending_[a].time > pending_[b].time; });
  bool all_found = true;
  LookUpEach(answer, [&](Pending& p, const BrowseLookup* entry) {
    // Gone since its fingerprint was read, or a fingerprint shared by
    // another name: the look-ups decide for every hit then.
    if (entry == nullptr) {
      all_found = false;
    } else {
      TakeEntry(p, *entry);
    }
  });
  return all_found;
}

uint32_t HitCollector::SortKeyOf(const Pending& p) const {
  if (options_.merged) return 0;
  if (options_.keep_arrival_order) return 0xFFFFFFFFu - p.ordinal;
  return static_cast<uint32_t>(p.score < 0 ? 0 : p.score);
}

uint32_t HitCollector::AnswerKeyOf(const Pending& p) const {
  return options_.answer_order == kOrderTime ? p.time : SortKeyOf(p);
}

NewBrowseEntry HitCollector::EntryOf(const Pending& p) const {
  return NewBrowseEntry{NameOf(p), p.time, p.type_code, p.entry_number, SortKeyOf(p)};
}

uint32_t HitCollector::AnswerThreshold(const std::vector<uint32_t>& candidates) const {
  if (options_.answer_order != kOrderTime && options_.answer_order != kOrderSortKey) return 0;
  std::vector<uint32_t> keys;
  for (uint32_t i : candidates) {
    if (pending_[i].keep) keys.push_back(AnswerKeyOf(pending_[i]));
  }
  if (keys.size() <= options_.answer_keep) return 0;
  // Both orders put larger keys first: the answer_keep-th largest key is the
  // least one the answer can hold.
  auto nth = keys.begin() + static_cast<ptrdiff_t>(options_.answer_keep - 1);
  std::nth_element(keys.begin(), nth, keys.end(), std::greater<uint32_t>());
  return *nth;
}

uint32_t HitCollector::NumberKept() {
  // Sort keys follow the arrival order.
  uint32_t ordinal = accepted_;
  for (Pending& p : pending_) {
    if (p.keep) p.ordinal = ordinal++;
  }
  return ordinal - accepted_;
}

bool HitCollector::AllFit(uint32_t kept) const {
  return hits_->Count() + kept <= hits_->max_entries();
}

uint32_t HitCollector::BoundOf(const std::vector<uint32_t>& candidates, uint32_t kept) const {
  return AllFit(kept) ? AnswerThreshold(candidates) : 0;
}

void HitCollector::EnterKept(const std::vector<uint32_t>& candidates, uint32_t kept,
                             uint32_t threshold) {
  // Into the list in time order when all fit (the list sorts less), else in
  // arrival order, so that a full list keeps the first ones.
  const bool all_fit = AllFit(kept);
  std::vector<NewBrowseEntry> entries;
  entries.reserve(std::min<size_t>(kept, threshold > 0 ? options_.answer_keep : kept));
  auto enter = [&](const Pending& p) {
    if (!p.keep || (threshold > 0 && AnswerKeyOf(p) < threshold)) return;
    entries.push_back(EntryOf(p));
  };
  if (all_fit) {
    for (uint32_t i : candidates) enter(pending_[i]);
  } else {
    for (const Pending& p : pending_) enter(p);
  }
  const size_t before = hits_->Count();
  hits_->AddBatch(entries).IgnoreError();  // a full list takes what fits
  // Hits left out for the answer's bound count as accepted all the same
  // (they stand in TIMELIST, so their names are valid list names and all
  // would have been entered).
  accepted_ += threshold > 0 ? kept : static_cast<uint32_t>(hits_->Count() - before);
}

void HitCollector::ReportProgress(uint32_t before) {
  // One filtering passes many multiples at once (all of them when the hits
  // are filtered at the end): the file is written once, with the last.
  if (!ReportsProgress() || accepted_ / kProgressInterval == before / kProgressInterval) return;
  options_.progress(accepted_ / kProgressInterval * kProgressInterval);
}

namespace {

// Where the walk of a date search goes on in TIMELIST after a batch that
// began at `batch_start`: after the entry it took last, found again, so that
// entries added or removed before it since then neither repeat nor skip
// one; at `position` when that entry is gone or has no stamp (a look-up by
// name alone would scan the list), or when it is found at or before the
// batch's start (one of many equal entries): the walk always moves on.
size_t ResumePosition(BrowseList& list, const std::optional<TimeListEntry>& last,
                      size_t batch_start, size_t position) {
  if (!last || last->time == 0) return position;
  std::optional<BrowseLookup> found = FindExact(&list, last->name, last->time);
  if (!found || found->position + 1 <= batch_start) return position;
  return found->position + 1;
}

bool SameEntry(const TimeListEntry& e, const BrowseEntryView& v) {
  if (e.time != v.time || e.name.size() != v.name_size()) return false;
  const std::string_view name(e.name);
  return name.substr(0, v.folder.size()) == v.folder && name.substr(v.folder.size()) == v.last;
}

bool SameView(const BrowseEntryView& a, const BrowseEntryView& b) {
  return a.time == b.time && a.folder == b.folder && a.last == b.last;
}

// Counts the entries from `*next` on (at most kCountBatch) that pass
// `filter`, a repeat of the entry before it once (equal entries stand
// together), while `*added` is below `cap`; moves `*next` and `*last` past
// them. Reads the list in place: an entry's name only when its neighbour
// has the same time stamp, and copies only the last name. False when the
// walk is over: the list ended, `cap` was reached, or a mode-1 filter's
// threshold was passed (TIMELIST is newest first).
bool CountPassing(const BrowseList& list, const DateFilter& filter, size_t cap, size_t* next,
                  std::optional<TimeListEntry>* last, uint32_t* added) {
  const size_t end = *next + kCountBatch;
  std::optional<uint32_t> previous_time;  // of the entry before, in this hold
  for (; *next < end; ++*next) {
    const std::optional<uint32_t> time = list.TimeAt(*next);
    if (!time) return false;
    bool repeat = false;
    if (previous_time.has_value()) {
      repeat = *time == *previous_time && SameView(*list.ViewAt(*next - 1), *list.ViewAt(*next));
    } else if (last->has_value() && (*last)->time == *time) {
      repeat = SameEntry(**last, *list.ViewAt(*next));
    }
    previous_time = time;
    if (!filter.Passes(*time)) {
      if (filter.mode == 1) return false;
      continue;
    }
    if (repeat) continue;
    if (*added >= cap) return false;
    ++*added;
  }
  const BrowseEntryView v = *list.ViewAt(end - 1);
  last->emplace(TimeListEntry{v.ExpandedName(), v.time, v.value, end - 1});
  return true;
}

// The entries from `next` on that pass `filter`, counted in one step, when
// the walk has entered a passing entry before `next`. TIMELIST is newest
// first, so in mode 1 the passing entries end at the first older than the
// threshold, and in modes 0 and 2 every entry after a passing one passes.
// Only when no entry repeats another (a repeat counts once), as the list's
// fingerprints tell; nothing otherwise.
std::optional<size_t> CountRestAtOnce(const BrowseList& list, const DateFilter& filter,
                                      size_t next) {
  const NamePresence* presence = list.presence();
  if (presence == nullptr || presence->repeats() != 0 || list.order() != kOrderTime) {
    return std::nullopt;
  }
  const size_t end =
      filter.mode == 1 ? *list.CountStampedAtOrAfter(filter.threshold) : list.Count();
  return end > next ? end - next : 0;
}

}  // namespace

uint32_t CollectDateOnly(LockedBrowseList timelist, const DateFilter& filter,
                         BrowseList* restrict_list, BrowseList* hits, uint32_t answer_keep) {
  // Time order is one of the valid orders; this cannot fail.
  hits->SetOrder(kOrderTime).IgnoreError();
  if (filter.mode > 2) return 0;  // rejects every file
  // Past the answer's first answer_keep, entries are counted, not entered.
  const bool bounded = answer_keep > 0 && hits->Count() == 0;
  uint32_t added = 0;
  std::vector<TimeListEntry> batch;
  std::optional<TimeListEntry> last;
  size_t batch_start = 0;
  for (size_t next = 0;;) {
    if (bounded && added >= answer_keep && restrict_list == nullptr) {
      bool more = true;
      timelist.WithLock([&](BrowseList& list) {
        next = batch_start = ResumePosition(list, last, batch_start, next);
        if (std::optional<size_t> rest = CountRestAtOnce(list, filter, next)) {
          const size_t cap = std::max<size_t>(added, hits->max_entries());
          added = static_cast<uint32_t>(std::min(cap, added + *rest));
          more = false;
          return;
        }
        more = CountPassing(list, filter, hits->max_entries(), &next, &last, &added);
      });
      if (!more) return added;
      continue;
    }
    batch.clear();
    timelist.WithLock([&](BrowseList& list) {
      next = batch_start = ResumePosition(list, last, batch_start, next);
      for (size_t p = next; p < next + kWalkBatch; ++p) {
        std::optional<BrowseEntryView> v = list.ViewAt(p);
        if (!v) break;
        batch.push_back(TimeListEntry{v->ExpandedName(), v->time, v->value, p});
      }
    });
    next += batch.size();
    for (size_t k = 0; k < batch.size(); ++k) {
      const TimeListEntry& e = batch[k];
      const TimeListEntry* before = k > 0 ? &batch[k - 1] : last ? &*last : nullptr;
      const bool repeat = before != nullptr && before->time == e.time && before->name == e.name;
      if (!filter.Passes(e.time)) {
        // TIMELIST is newest first: past the threshold nothing newer follows.
        if (filter.mode == 1) return added;
        continue;
      }
      if (bounded && added >= answer_keep) {
        // Equal entries stand next to each other in TIMELIST: a repeat
        // follows the first, and was counted with it.
        if (repeat || added >= hits->max_entries()) continue;
        if (restrict_list != nullptr && !FindExact(restrict_list, e.name, e.time)) continue;
        ++added;
        continue;
      }
      if (FindExact(hits, e.name, e.time)) continue;
      uint32_t type_code = e.value;
      uint32_t entry_number = EntryNumberOf(e.position);
      if (restrict_list != nullptr) {
        std::optional<BrowseLookup> kept = FindExact(restrict_list, e.name, e.time);
        if (!kept) continue;
        type_code = kept->value;
        entry_number = kept->extra;
      }
      if (!hits->Add(e.name, e.time, type_code, entry_number).ok()) return added;
      ++added;
    }
    if (batch.size() < kWalkBatch) return added;
    last = std::move(batch.back());
  }
}

Status SortSearchHits(BrowseList* hits, bool name_order) {
  VANTREL_RETURN_IF_ERROR(hits->SetOrder(kOrderTime));
  if (name_order) return hits->SetOrder(kOrderName);
  return Status::Ok();
}

Status SortQueryHits(BrowseList* hits, uint32_t sort_order, uint32_t accepted,
                     bool arrival_keys, uint32_t keep) {
  if (accepted == 0) return Status::Ok();
  switch (sort_order) {
    case 1:
      return hits->SetOrderKeepingFirst(kOrderTime, keep);
    case 2:
      return hits->SetOrderKeepingFirst(kOrderName, keep);
    case 3:
      return hits->SetOrderKeepingFirst(kOrderSortKey, keep);
    default:
      return hits->SetOrderKeepingFirst(arrival_keys ? kOrderSortKey : hits->order(), keep);
  }
}

int QueryAnswerOrder(uint32_t sort_order, bool merged) {
  if (merged) return 0;
  switch (sort_order) {
    case 1:
      return kOrderTime;
    case 2:
      return 0;
    default:
      return kOrderSortKey;
  }
}

}  // namespace vantrel
