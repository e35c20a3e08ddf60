#include "engine/ranked_match.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/document_indexer.h"
#include "engine/document_scores.h"
#include "engine/first_sorted.h"
#include "engine/positional_source.h"

namespace vantrel {
namespace {

// One part's match and what it found.
struct PartRun {
  SearchClock* clock = nullptr;  // the search's own for the first part
  std::unique_ptr<SearchClock> own_clock;
  Xapian::Query query;  // restricted to the part's shards; this part's own
  std::vector<RankedHit> hits;
  Xapian::doccount matches = 0;
};

// The shards of part `part` of `parts`: those with index % parts == part.
std::shared_ptr<const ShardDocuments> ShardsOfPart(const std::vector<std::string>& uuids,
                                                   uint32_t part, uint32_t parts) {
  auto docs = std::make_shared<ShardDocuments>();
  docs->uuids = uuids;
  docs->ids.resize(uuids.size());
  docs->whole.resize(uuids.size());
  for (size_t i = 0; i < uuids.size(); ++i) docs->whole[i] = i % parts == part;
  return docs;
}

// Each part's clock and query, made on the calling thread.
std::vector<PartRun> PrepareParts(const RankedParts& match, SearchClock* clock) {
  const uint32_t parts = static_cast<uint32_t>(match.views.size());
  const std::string serialised = parts > 1 ? match.query->serialise() : std::string();
  std::vector<PartRun> runs(parts);
  for (uint32_t p = 0; p < parts; ++p) {
    PartRun& run = runs[p];
    if (p == 0) {
      run.clock = clock;
    } else {
      run.own_clock = std::make_unique<SearchClock>(clock->Twin());
      run.clock = run.own_clock.get();
    }
    run.query = p == 0 ? *match.query : CopyOfQuery(serialised, run.clock);
    if (!match.weightless) {
      run.query = RestrictedQuery(run.query, ShardsOfPart(match.uuids, p, parts));
    }
  }
  return runs;
}

void MatchPart(const Xapian::Database& view, const RankedParts& match, ShardPlace place,
               PartRun* run) {
  Xapian::Enquire enquire(view);
  enquire.set_query(run->query);
  if (match.weightless) enquire.set_weighting_scheme(Xapian::BoolWeight());
  // Newest first, every match is considered anyway: counted exactly.
  Xapian::doccount check = 0;
  if (match.newest_first) {
    enquire.set_sort_by_value(kTimeSlot, true);
    check = view.get_doccount();
  }
  const Xapian::MSet mset = MatchUpToLimit(enquire, match.limit, check);
  run->matches = mset.get_matches_estimated();
  run->hits.reserve(mset.size());
  for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it) {
    run->hits.push_back(RankedHit{place.Combined(*it), it.get_weight(),
                                  match.newest_first ? it.get_sort_key() : std::string()});
  }
}

// Xapian's order of a ranked match: weight descending, then document id.
// Function objects, so that the sorts of many hits inline them.
struct Better {
  bool operator()(const RankedHit& a, const RankedHit& b) const {
    return a.weight != b.weight ? a.weight > b.weight : a.id < b.id;
  }
};

// Newest first: the time value descending, then document id.
struct Newer {
  bool operator()(const RankedHit& a, const RankedHit& b) const {
    return a.time != b.time ? a.time > b.time : a.id < b.id;
  }
};

// Puts `hits` in the order `before` gives. Xapian hands a part's hits so
// already, which one pass checks.
template <typename Before>
void PutInOrder(std::vector<RankedHit>* hits, Before before) {
  if (!std::is_sorted(hits->begin(), hits->end(), before)) {
    std::sort(hits->begin(), hits->end(), before);
  }
}

// Matches part `p`, its hits sorted for the merge on the part's own thread.
void RunPart(const RankedParts& match, uint32_t p, PartRun* run) {
  if (match.before_part) match.before_part(p);
  const uint32_t parts = static_cast<uint32_t>(match.views.size());
  const ShardPlace place = match.weightless ? ShardPlace{p, parts} : ShardPlace{};
  MatchPart(*match.views[p], match, place, run);
  if (match.newest_first) {
    PutInOrder(&run->hits, Newer());
  } else {
    PutInOrder(&run->hits, Better());
  }
}

// The best (or newest) `limit` of every part's, and the sum of the counts.
RankedHits MergeBest(std::vector<PartRun>* runs, Xapian::doccount limit, bool newest_first) {
  RankedHits out;
  size_t total = 0;
  for (const PartRun& run : *runs) total += run.hits.size();
  out.hits.reserve(total);
  for (PartRun& run : *runs) {
    out.matches += run.matches;
    if (newest_first) {
      MergeSortedRun(&run.hits, &out.hits, Newer());
    } else {
      MergeSortedRun(&run.hits, &out.hits, Better());
    }
  }
  if (out.hits.size() > limit) out.hits.resize(limit);
  return out;
}

}  // namespace

Xapian::MSet MatchUpToLimit(Xapian::Enquire& enquire, Xapian::doccount limit,
                            Xapian::doccount check, Xapian::doccount bounded_from) {
  if (limit < bounded_from) return enquire.get_mset(0, limit, check);
  const Xapian::doccount bound = enquire.get_mset(0, 0).get_matches_upper_bound();
  if (bound >= limit) return enquire.get_mset(0, limit, check);
  Xapian::MSet mset = enquire.get_mset(0, bound + 1, check);
  if (mset.size() <= bound) return mset;
  return enquire.get_mset(0, limit, check);
}

RankedHits MatchRankedInParts(const RankedParts& match, SearchClock* clock, TaskPool* pool) {
  std::vector<PartRun> runs = PrepareParts(match, clock);
  RunEach(static_cast<uint32_t>(runs.size()), pool,
          [&](uint32_t p) { RunPart(match, p, &runs[p]); });
  for (const PartRun& run : runs) PassExpiry(*run.clock, clock);
  return MergeBest(&runs, match.limit, match.newest_first);
}

std::vector<double> ScoreInParts(const std::vector<const Xapian::Database*>& views,
                                 const std::vector<std::string>& uuids,
                                 const Xapian::Query& query,
                                 const std::vector<Xapian::docid>& ids, SearchClock* clock,
                                 TaskPool* pool) {
  const size_t parts = views.size();
  const size_t shards = uuids.size();
  std::vector<double> weights(ids.size(), 0.0);
  if (parts == 0 || shards == 0) return weights;
  // The ids of each part, and where each stands in `ids`.
  std::vector<std::vector<Xapian::docid>> part_ids(parts);
  std::vector<std::vector<size_t>> places(parts);
  for (size_t k = 0; k < ids.size(); ++k) {
    if (ids[k] == 0) continue;
    const size_t p = ((ids[k] - 1) % shards) % parts;
    part_ids[p].push_back(ids[k]);
    places[p].push_back(k);
  }
  const std::string serialised = parts > 1 ? query.serialise() : std::string();
  std::vector<std::unique_ptr<SearchClock>> clocks(parts);
  std::vector<Xapian::Query> queries(parts);
  for (size_t p = 0; p < parts; ++p) {
    if (p == 0) {
      queries[p] = query;
    } else {
      clocks[p] = std::make_unique<SearchClock>(clock->Twin());
      queries[p] = CopyOfQuery(serialised, clocks[p].get());
    }
  }
  std::vector<std::vector<double>> part_weights(parts);
  RunEach(static_cast<uint32_t>(parts), pool, [&](uint32_t p) {
    part_weights[p] = ScoreDocuments(*views[p], uuids, queries[p], part_ids[p]);
  });
  for (size_t p = 0; p < parts; ++p) {
    if (clocks[p]) PassExpiry(*clocks[p], clock);
    for (size_t j = 0; j < places[p].size(); ++j) weights[places[p][j]] = part_weights[p][j];
  }
  return weights;
}

}  // namespace vantrel
