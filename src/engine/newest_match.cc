#include "engine/newest_match.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "engine/document_indexer.h"
#include "engine/first_sorted.h"
#include "engine/positional_source.h"

namespace vantrel {
namespace {

struct Newest {
  uint32_t time;     // the time stamp (TimeOfValue)
  Xapian::docid id;  // in the combined database
};

// Newest first, equal times by combined id: the combined match's order.
bool Newer(const Newest& a, const Newest& b) {
  return a.time != b.time ? a.time > b.time : a.id < b.id;
}

// Notes every match of one shard and keeps the `limit` newest by the
// shard's time table, so that Xapian neither sorts by the time value nor
// reads it for every match. With a clock it ends the match once the clock
// has run out, after noting the document in hand, as PartialHits does.
class NewestByTable : public Xapian::MatchSpy {
 public:
  NewestByTable(const TimeTable* times, ShardPlace place, size_t limit, SearchClock* clock)
      : times_(times), place_(place), limit_(limit), clock_(clock) {}

  void operator()(const Xapian::Document& doc, double /*weight*/) override {
    const Xapian::docid id = doc.get_docid();
    found_.push_back(Newest{TimeOf(*times_, id), place_.Combined(id)});
    ++matches_;
    // Trimmed as it grows, so that a match of every document stays small.
    if (found_.size() >= 2 * limit_ + 65536) KeepFirstSorted(limit_, &found_, Newer);
    if (clock_ != nullptr && clock_->Expired()) throw SearchCutOff{};
  }

  Xapian::doccount matches() const { return matches_; }

  // The `limit` newest noted, newest first.
  std::vector<Newest> Take() {
    KeepFirstSorted(limit_, &found_, Newer);
    return std::move(found_);
  }

 private:
  const TimeTable* times_;
  ShardPlace place_;
  size_t limit_;
  SearchClock* clock_;
  std::vector<Newest> found_;
  Xapian::doccount matches_ = 0;
};

// One shard's match and what it found.
struct ShardRun {
  SearchClock* clock = nullptr;  // the search's own for the first shard
  std::unique_ptr<SearchClock> own_clock;
  std::unique_ptr<PartialHits> spy;           // watches a match sorted by Xapian
  bool by_table = false;  // the shard's ids are dense enough for a time table
  std::unique_ptr<NewestByTable> table_spy;  // then notes the matches itself
  std::vector<Newest> newest;
  Xapian::doccount matches = 0;
  bool cut = false;  // the spy ended the match
};

// Xapian sorts the matches by the time value (the shard's ids too sparse
// for a time table).
void MatchShardSorted(const Xapian::Database& shard, const Xapian::Query& query, ShardPlace place,
                      Xapian::doccount limit, ShardRun* run) {
  Xapian::Enquire enquire(shard);
  enquire.set_query(query);
  enquire.set_weighting_scheme(Xapian::BoolWeight());
  enquire.set_sort_by_value(kTimeSlot, true);
  if (run->spy) enquire.add_matchspy(run->spy.get());
  // Counted exactly: every match is considered anyway to find the newest.
  const Xapian::MSet mset = enquire.get_mset(0, limit, shard.get_doccount());
  run->matches = mset.get_matches_estimated();
  run->newest.reserve(mset.size());
  for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it) {
    run->newest.push_back(Newest{TimeOfValue(it.get_sort_key()), place.Combined(*it)});
  }
}

// The spy notes every match and keeps the newest; Xapian only matches
// (no hits asked for, every document considered, so every match is seen).
void MatchShardByTable(const Xapian::Database& shard, const Xapian::Query& query, ShardRun* run) {
  Xapian::Enquire enquire(shard);
  enquire.set_query(query);
  enquire.set_weighting_scheme(Xapian::BoolWeight());
  enquire.add_matchspy(run->table_spy.get());
  enquire.get_mset(0, 0, shard.get_doccount());
  run->matches = run->table_spy->matches();
  run->newest = run->table_spy->Take();
}

void MatchShard(const Xapian::Database& shard, const Xapian::Query& query, ShardPlace place,
                Xapian::doccount limit, ShardRun* run) {
  if (run->table_spy) {
    MatchShardByTable(shard, query, run);
  } else {
    MatchShardSorted(shard, query, place, limit, run);
  }
}

// The task of shard `i`. A cut by the spy ends it with what the spy saw.
void RunShard(const ShardedNewestMatch& match, const std::string& serialised, uint32_t i,
              ShardRun* run) {
  try {
    if (match.before_shard) match.before_shard(i);
    const ShardPlace place{i, static_cast<uint32_t>(match.shards->size())};
    if (run->by_table) {
      // Read once per reader, on the shard's own thread.
      std::optional<TimeTable>& table = (*match.times)[i];
      if (!table.has_value()) table = ReadTimeTable((*match.shards)[i]);
      run->table_spy = std::make_unique<NewestByTable>(&*table, place, match.limit,
                                                       match.watched ? run->clock : nullptr);
    }
    if (i == 0) {
      MatchShard((*match.shards)[i], *match.query, place, match.limit, run);
    } else {
      const Xapian::Query copy = CopyOfQuery(serialised, run->clock);
      MatchShard((*match.shards)[i], copy, place, match.limit, run);
    }
  } catch (const SearchCutOff&) {
    run->cut = true;
  }
}

std::vector<ShardRun> PrepareRuns(const ShardedNewestMatch& match, bool by_table,
                                  SearchClock* clock) {
  const uint32_t count = static_cast<uint32_t>(match.shards->size());
  std::vector<ShardRun> runs(count);
  for (uint32_t i = 0; i < count; ++i) {
    ShardRun& run = runs[i];
    if (i == 0) {
      run.clock = clock;
    } else {
      run.own_clock = std::make_unique<SearchClock>(clock->Twin());
      run.clock = run.own_clock.get();
    }
    run.by_table = by_table;
    if (!by_table && match.watched) {
      run.spy = std::make_unique<PartialHits>(run.clock, match.limit, /*newest_first=*/true,
                                              ShardPlace{i, count});
      run.spy->ReadTimesLater(&(*match.shards)[i]);
    }
  }
  return runs;
}

// The `limit` newest of every shard's newest, equal times by combined id.
NewestHits MergeNewest(std::vector<ShardRun>* runs, Xapian::doccount limit) {
  NewestHits out;
  std::vector<Newest> all;
  for (ShardRun& run : *runs) {
    out.matches += run.matches;
    all.insert(all.end(), run.newest.begin(), run.newest.end());
  }
  KeepFirstSorted(limit, &all, Newer);
  out.hits.reserve(all.size());
  for (const Newest& n : all) out.hits.push_back(Hit{n.id, ScoreOf(0.0), std::string()});
  return out;
}

// After a cut: the best documents every shard's spy saw.
NewestHits MergeSeen(std::vector<ShardRun>* runs, Xapian::doccount limit) {
  if ((*runs)[0].by_table) {
    // A shard that finished holds its newest already; a cut one's spy has them.
    for (ShardRun& run : *runs) {
      if (run.cut && run.table_spy) run.newest = run.table_spy->Take();
    }
    NewestHits out = MergeNewest(runs, limit);
    out.matches = static_cast<Xapian::doccount>(out.hits.size());
    return out;
  }
  PartialHits* first = (*runs)[0].spy.get();
  for (size_t i = 1; i < runs->size(); ++i) first->Absorb((*runs)[i].spy.get());
  NewestHits out;
  out.hits = first->Take();
  out.matches = static_cast<Xapian::doccount>(out.hits.size());
  return out;
}

}  // namespace

NewestHits MatchNewestInShards(const ShardedNewestMatch& match, SearchClock* clock, TaskPool* pool) {
  const bool by_table = match.times != nullptr && DenseEnough(*match.shards);
  if (by_table) match.times->resize(match.shards->size());
  std::vector<ShardRun> runs = PrepareRuns(match, by_table, clock);
  const std::string serialised = match.query->serialise();
  RunEach(static_cast<uint32_t>(runs.size()), pool,
          [&](uint32_t i) { RunShard(match, serialised, i, &runs[i]); });
  bool cut = false, expired = false;
  for (const ShardRun& run : runs) {
    cut = cut || run.cut;
    expired = expired || run.clock->expired();
  }
  // The deadline and the stop flag stay passed and set: the search's clock
  // sees what a shard's saw.
  if (expired) clock->CheckNow();
  return cut ? MergeSeen(&runs, match.limit) : MergeNewest(&runs, match.limit);
}

}  // namespace vantrel
