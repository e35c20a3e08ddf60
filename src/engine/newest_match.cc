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
  std::string time;  // the time stamp value (sorts as bytes)
  Xapian::docid id;  // in the combined database
};

// One shard's match and what it found.
struct ShardRun {
  SearchClock* clock = nullptr;  // the search's own for the first shard
  std::unique_ptr<SearchClock> own_clock;
  std::unique_ptr<PartialHits> spy;
  std::vector<Newest> newest;
  Xapian::doccount matches = 0;
  bool cut = false;  // the spy ended the match
};

void MatchShard(const Xapian::Database& shard, const Xapian::Query& query, ShardPlace place,
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
    run->newest.push_back(Newest{it.get_sort_key(), place.Combined(*it)});
  }
}

// The task of shard `i`. A cut by the spy ends it with what the spy saw.
void RunShard(const ShardedNewestMatch& match, const std::string& serialised, uint32_t i,
              ShardRun* run) {
  try {
    if (match.before_shard) match.before_shard(i);
    const ShardPlace place{i, static_cast<uint32_t>(match.shards->size())};
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

std::vector<ShardRun> PrepareRuns(const ShardedNewestMatch& match, SearchClock* clock) {
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
    if (match.watched) {
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
    for (Newest& n : run.newest) all.push_back(std::move(n));
  }
  const auto newer = [](const Newest& a, const Newest& b) {
    return a.time != b.time ? a.time > b.time : a.id < b.id;
  };
  KeepFirstSorted(limit, &all, newer);
  out.hits.reserve(all.size());
  for (const Newest& n : all) out.hits.push_back(Hit{n.id, ScoreOf(0.0), std::string()});
  return out;
}

// After a cut: the best documents every shard's spy saw.
NewestHits MergeSeen(std::vector<ShardRun>* runs) {
  PartialHits* first = (*runs)[0].spy.get();
  for (size_t i = 1; i < runs->size(); ++i) first->Absorb((*runs)[i].spy.get());
  NewestHits out;
  out.hits = first->Take();
  out.matches = static_cast<Xapian::doccount>(out.hits.size());
  return out;
}

}  // namespace

NewestHits MatchNewestInShards(const ShardedNewestMatch& match, SearchClock* clock, TaskPool* pool) {
  std::vector<ShardRun> runs = PrepareRuns(match, clock);
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
  return cut ? MergeSeen(&runs) : MergeNewest(&runs, match.limit);
}

}  // namespace vantrel
