// Hit filters: how engine hits (or, for a search without words, the entries
// of TIMELIST) become the hit list of a request, and how that list is sorted.
//
// A hit is accepted when
//  1. it passes the request's date filter;
//  2. it is not in the hit list yet (same file key and time stamp): merged
//     hits of an earlier search and repeated engine hits count once;
//  3. it stands in the index's TIMELIST with the same file key and time stamp
//     (a file that changed or vanished since it was indexed is dropped);
//  4. when the request restricts to an earlier hit file, it stands there too.
// It enters the hit list with its time stamp, the type code and entry number
// of the list entry that matched last (the restrict list's when there is
// one, else the TIMELIST's, whose entry number is its position plus 10), and
// its relevance score as sort key unless a merge list was loaded.
//
// Every list here is a BrowseList: the hit list is in time order while hits
// are collected, and is sorted into the answer's order at the end: time order (newest first, equal stamps by
// name), name order, or relevance order (score descending, equal scores by
// name). Names compare case-insensitively in the code page (CompareNoCase).
//
// Thread safety: a HitCollector belongs to one request and is used by one
// thread; the hit and restrict lists are that request's own and need no lock.
// TIMELIST is shared: it is read through its LockedBrowseList, a batch of
// look-ups or entries per hold of its lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/browse_list.h"
#include "core/list_lock_table.h"
#include "indexing/result_cache.h"
#include "platform/status.h"
#include "search/progress_file.h"

namespace vantrel {

// A TIMELIST entry hands on its position in the list plus this as its entry
// number.
inline constexpr uint32_t kTimeListEntryNumberBase = 10;

// The date filter of a search request. Mode 0 passes everything, 1 passes
// stamps at or after the threshold, 2 stamps at or before it, any other mode
// nothing. Comparisons are unsigned.
struct DateFilter {
  uint8_t mode = 0;
  uint32_t threshold = 0;
  bool Passes(uint32_t stamp) const;
};

// The seconds of a date period: 3600, 86400, 604800 or 2592000 for periods 0
// to 3, and 0 for any other.
uint32_t DatePeriodSeconds(uint8_t date_period);

// The filter of a request at time `now_stamp` (a file time stamp): the
// threshold is now minus the period (modulo 2^32).
DateFilter MakeDateFilter(uint8_t date_mode, uint8_t date_period, uint32_t now_stamp);

struct HitCollectorOptions {
  DateFilter date_filter;  // query requests: the default, mode 0
  // The hit list holds a merge list: new hits get no score and no progress
  // is reported.
  bool merged = false;
  // Sort keys record the arrival order instead of the score, so that
  // SortQueryHits can keep the engine's order (query requests with a sort
  // order other than 1 to 3).
  bool keep_arrival_order = false;
  // Called after each filtering that brought the accepted count to or past
  // a multiple of 500, with the last such multiple (not when merged): a
  // filtering of many hits at once is one call, not one per multiple. Query
  // requests rewrite their progress file here. May be empty.
  std::function<void(uint32_t accepted)> progress;
  // While progress is reported, hits that arrive within this time of the
  // last filtering wait for the next chunk: a delivery faster than this is
  // filtered once, at the end (each chunk costs another pass over TIMELIST
  // and a merge into the hit list); a slow one every interval or so. Zero
  // filters every chunk as soon as it is full.
  std::chrono::milliseconds progress_interval{0};
  // The clock of the interval; std::chrono::steady_clock::now when empty.
  std::function<std::chrono::steady_clock::time_point()> now;
  // The answer reads only the first `answer_keep` hits of list order
  // `answer_order` (kOrderTime or kOrderSortKey; 0 when it may read them
  // all). Finish then enters in the hit list only the hits that can be among
  // them, at least the best `answer_keep` by time or sort key and all that
  // tie with the last of those, so that a search with many hits sorts and
  // stores a few thousand instead of all. They count as accepted all the
  // same. Finish ends the collection then: no hit may be added after it.
  // Not with a merge list.
  int answer_order = 0;
  uint32_t answer_keep = 0;
  // Every hit added is kept, in arrival order, for TakeArrivals: the result
  // cache's copy of the engine's hits, made when the answer is out. Each
  // filtering sets its hits aside instead of copying them then.
  bool keep_arrivals = false;
};

// The hits of one search. The engine's hits are taken one by one (Add) and
// filtered together (Finish): TIMELIST is then read in its own time order,
// under one hold of its lock per batch, and the hit list is built in one
// sort, which costs a fraction of looking up and inserting each hit on its
// own. When progress is reported, the hits are filtered in chunks as they
// arrive, so that the progress count grows during the search: at least
// kFilterChunk, and as many as were accepted before, so that the list is
// merged into a handful of times (its size doubles each time) and each
// chunk's look-ups still lie close together in TIMELIST; and not before
// progress_interval has passed since the last filtering.
// The last filtering of a bounded answer without restrict or merge list
// asks TIMELIST's fingerprints (name_presence.h) which hits stand there
// and looks up only the few the answer can hold, for their entry numbers.
// The result is the same as taking the hits one at a time in the order
// they came: the first of repeated hits counts, a full hit list takes no
// more, and sort keys record the arrival order where asked.
class HitCollector {
 public:
  // `timelist`: the index's TIMELIST (time order). `restrict_list`: the
  // restrict list in time order, or null. `hits`: the hit list, empty or
  // holding the merge list; it is put into time order. The lists must
  // outlive the collector.
  HitCollector(LockedBrowseList timelist, BrowseList* restrict_list, BrowseList* hits,
               HitCollectorOptions options);

  // Hits filtered at once while progress is reported.
  static constexpr size_t kFilterChunk = 1024;

  // One engine hit: file key, the time stamp its document carries, and its
  // relevance score. Nothing is decided before Finish, or before a chunk is
  // full when progress is reported.
  void Add(std::string_view file_key, uint32_t time_stamp, int32_t score);
  // Makes room at once for `hits` more hits whose file keys take
  // `key_bytes`, when the engine tells them before delivering.
  void Expect(size_t hits, size_t key_bytes);

  // Filters the hits added since the last call and enters those accepted in
  // the hit list, reporting progress on the way. With an answer bound
  // (HitCollectorOptions::answer_keep) the last call.
  void Finish();

  // Hits accepted by Finish so far: the "hits found" of the answer.
  uint32_t accepted() const { return accepted_; }

  // With keep_arrivals, after Finish: every hit added, in the order added,
  // with its file key, time stamp and score. Empties the collector's copy.
  CachedHits TakeArrivals();

 private:
  struct Pending {
    size_t name_offset;
    uint32_t name_size;
    uint32_t time;
    int32_t score;
    uint32_t type_code = 0;
    uint32_t entry_number = 0;
    uint32_t ordinal = 0;  // among the accepted, in arrival order
    bool keep = false;
  };
  std::string_view NameOf(const Pending& p) const {
    return std::string_view(names_).substr(p.name_offset, p.name_size);
  }
  // With keep_arrivals: sets the filtered hits aside for TakeArrivals,
  // copying those set aside before.
  void SetArrivalsAside();
  // Copies the hits set aside into the arrivals.
  void CopyArrivalsAside();

  // The steps of Finish.
  // The pending hits that pass the date filter, newest first, equal times
  // by name bytes, equal hits in arrival order.
  std::vector<uint32_t> InTimeListOrder() const;
  // Rewrites the names end to end in `order` (the others after them): the
  // filtering reads them in that order, front to back instead of all over.
  void LayOutNames(const std::vector<uint32_t>& order);
  // `order` without repeats and without hits already in the list.
  std::vector<uint32_t> NewCandidates(const std::vector<uint32_t>& order) const;
  // Looks the hits `which` up in TIMELIST and calls take(hit, entry) for
  // each, with its entry, or null when TIMELIST has none with its stamp.
  template <typename Take>
  void LookUpEach(const std::vector<uint32_t>& which, Take take);
  // Takes the type code and entry number of a hit's TIMELIST entry.
  static void TakeEntry(Pending& p, const BrowseLookup& entry);
  void LookUpInTimeList(const std::vector<uint32_t>& candidates);
  void LookUpInRestrictList(const std::vector<uint32_t>& candidates);
  // Filters the pending hits; the last filtering of a bounded answer enters
  // only those the answer can hold.
  void FilterPending(bool last);
  // Filters by looking every candidate up in the lists.
  void FilterByLookUps(bool bounded);
  // For a bounded answer into an empty hit list without a restrict list:
  // filters by TIMELIST's fingerprints and looks up only the hits the answer
  // can hold. False (nothing kept, nothing entered) when the lookups must
  // decide: TIMELIST keeps no fingerprints, every kept hit is entered
  // anyway, or two hits or a hit and the list disagree with their
  // fingerprints.
  bool FilterByFingerprints();
  // The pending hits that pass the date filter, first arrivals of each name
  // and time only, in arrival order, with their fingerprints; nothing when
  // two names share a fingerprint.
  std::optional<std::vector<uint32_t>> FirstArrivals(std::vector<uint64_t>* fingerprints) const;
  // Marks the candidates whose fingerprints TIMELIST holds as kept; false
  // when it keeps none.
  bool MarkPresent(const std::vector<uint32_t>& candidates,
                   const std::vector<uint64_t>& fingerprints);
  // The `kept` hits among `candidates` that the answer holds: the first
  // answer_keep of answer_order, ties settled by the list's own order;
  // nothing when that is not a bound (another order, or no more hits kept
  // than the answer holds).
  std::optional<std::vector<uint32_t>> AnswerMembers(const std::vector<uint32_t>& candidates,
                                                     uint32_t kept) const;
  // Looks up the hits of `answer` (put in TIMELIST's order) and takes their
  // type codes and entry numbers; false when one of them is not in TIMELIST
  // with its stamp.
  bool LookUpAnswerEntries(std::vector<uint32_t>& answer);
  // Enters the hits of `answer` in the empty hit list and counts all `kept`.
  void EnterAnswer(const std::vector<uint32_t>& answer, uint32_t kept);
  // Numbers the kept hits in arrival order; returns how many there are.
  uint32_t NumberKept();
  // True when `kept` more hits fit in the hit list.
  bool AllFit(uint32_t kept) const;
  // The least key a bounded answer enters (AnswerThreshold), or 0 when the
  // kept hits do not all fit.
  uint32_t BoundOf(const std::vector<uint32_t>& candidates, uint32_t kept) const;
  // Enters the `kept` candidates in the hit list, as far as it has room, and
  // counts them. With a `threshold`, only those whose key of answer_order
  // reaches it.
  void EnterKept(const std::vector<uint32_t>& candidates, uint32_t kept, uint32_t threshold);
  // The key a kept hit enters the hit list with.
  uint32_t SortKeyOf(const Pending& p) const;
  // A kept hit's key in answer_order (its time or its sort key).
  uint32_t AnswerKeyOf(const Pending& p) const;
  // The hit list entry of a kept hit.
  NewBrowseEntry EntryOf(const Pending& p) const;
  // The least key of answer_order that the answer can still hold among the
  // kept candidates (all of them when 0).
  uint32_t AnswerThreshold(const std::vector<uint32_t>& candidates) const;
  void ReportProgress(uint32_t accepted_before);
  bool ReportsProgress() const { return !options_.merged && options_.progress != nullptr; }
  // True when the pending hits are to be filtered now, with progress.
  bool ChunkDue();
  std::chrono::steady_clock::time_point Now() const;

  LockedBrowseList timelist_;
  BrowseList* restrict_list_;
  BrowseList* hits_;
  HitCollectorOptions options_;
  std::string names_;  // the pending hits' file keys, end to end
  std::vector<Pending> pending_;
  // With keep_arrivals: the hits of the last filtering, set aside, and those
  // of earlier ones, copied.
  std::string aside_names_;
  std::vector<Pending> aside_;
  CachedHits arrivals_;
  uint32_t accepted_ = 0;
  std::chrono::steady_clock::time_point last_filtered_;
};

// A search without words: walks TIMELIST (newest first) and adds every entry
// that passes `filter`, is not in `hits` yet and, with a restrict list,
// stands there, with the type code and entry number of the restrict-list
// entry or of its own TIMELIST entry. `hits` is put into time order. Returns
// how many were added. Entries added to TIMELIST during the walk may or may
// not be seen. With `answer_keep` (an answer in time order that holds that
// many) and `hits` empty, only the first answer_keep are added, the newest,
// and the others are counted alone.
uint32_t CollectDateOnly(LockedBrowseList timelist, const DateFilter& filter,
                         BrowseList* restrict_list, BrowseList* hits, uint32_t answer_keep = 0);

// The order of a search request's answer: time order, or name order when the
// request's name order flag is set.
Status SortSearchHits(BrowseList* hits, bool name_order);

// The order of a query request's answer, when `accepted` > 0: sort order 1
// time, 2 name, 3 relevance; any other keeps the order the hits came in
// (collected with keep_arrival_order) or, with a merge list, time order.
// With no accepted hit the list stays as it is. When `keep` is not 0, only
// the first `keep` hits of that order stay in the list (the answer holds no
// more): only those are sorted.
Status SortQueryHits(BrowseList* hits, uint32_t sort_order, uint32_t accepted,
                     bool arrival_keys, uint32_t keep = 0);

// The list order whose first hits a query request's answer holds, for
// HitCollectorOptions::answer_order: time for sort order 1, sort key for 3
// and, without a merge list, for the arrival order of the other orders; 0
// (no bound) for name order and merged answers.
int QueryAnswerOrder(uint32_t sort_order, bool merged);

}  // namespace vantrel
