// Ranked matches over the local shards of an index, in parts side by side.
//
// A ranked search (relevance order) over a combined Database is one Xapian
// matcher that walks the shards one after the other on one thread.
// MatchRankedInParts splits it: part p matches the shards i with
// i % parts == p, each part on its own combined Database over every shard
// (a view: a Xapian::Database is used by one thread at a time), with the
// query restricted to its shards by a PostingSource that finds them by
// UUID (document_scores.h: RestrictedQuery, which keeps every weight to
// the last bit). As each part's database combines every shard, Xapian
// gathers the whole index's statistics, so each part's weights and
// document ids are those of the single combined match. The parts' best
// `limit` merge by weight (descending), equal weights by combined document
// id (ascending), as Xapian orders them: the hits, their order and their
// weights are the single match's.
//
// The count is each part's Xapian estimate (get_matches_estimated), added
// up. An estimate is exact when the part considered every match (fewer
// matches than the limit); otherwise it is Xapian's estimate, as the single
// match's is.
//
// The query is compiled once, against the combined database. A
// Xapian::Query must not be shared between threads, so the first part
// takes the query itself and every other part a copy made through
// Query::serialise (its PositionalSource parts read the part's clock).
//
// Each part has its own SearchClock with the search's deadline and stop
// flag (the first part's is the search's own), read by the part's
// PositionalSource parts: once it runs out they match nothing more, and the
// part ends with the best hits found so far. When any part's clock ran
// out, the search's clock reports it afterwards. No match spy watches a
// part: over a combined database Xapian hands a spy each document with its
// shard's own id, not the combined one (so the engine splits only queries
// that end by themselves or by their positional parts). What Xapian throws
// in a part (DatabaseModifiedError, ...) is thrown to the caller once every
// part ended, the first by part order.
//
// A query that gives every match the weight 0 (a proximity search found by
// positions) ranks its matches by combined document id alone. Xapian ends
// such a match at the hit limit only over a single database, so each
// shard is then a part of its own, matched on its own Database
// (`weightless`): its first `limit` matches, their ids turned into the
// combined database's (ShardPlace), merged by id.
//
// Xapian builds a part's postlist tree in every shard, the excluded ones
// too (where the filter, empty there, ends the match at its first step):
// a query of many terms opens each term's posting lists once per part and
// shard. The engine keeps such queries on the single match (engine.cc).
//
// A newest-first match of a weighted query runs in parts the same way
// (`newest_first`), so that its hits come with their weights from the
// match itself. A newest-first search that kept its hits otherwise weighs
// them the same way, in parts side by side (ScoreInParts).
//
// Thread safety: the views and the query are used only by this call while
// it runs (the reader belongs to one search).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/partial_hits.h"
#include "engine/search_limits.h"
#include "engine/task_pool.h"

namespace vantrel {

struct RankedParts {
  // One combined database per part, each over every local shard in order;
  // or, when `weightless`, each local shard alone, in order.
  std::vector<const Xapian::Database*> views;
  bool weightless = false;
  std::vector<std::string> uuids;        // of the shards, in order (ShardUuids)
  const Xapian::Query* query = nullptr;  // compiled against the combined database
  Xapian::doccount limit = 0;            // hits kept; at least 1
  // The newest matches instead of the best: each part sorts by the time
  // value (newest first, equal times by id), counts its matches exactly and
  // still weighs them, and the parts merge in that order. Not with
  // `weightless`.
  bool newest_first = false;
  // Called on the thread of each part before it starts; tests throw there.
  // May be empty.
  std::function<void(uint32_t part)> before_part;
};

struct RankedHit {
  Xapian::docid id;  // in the combined database
  double weight;
  std::string time;  // the time value, for a newest-first match only
};

struct RankedHits {
  std::vector<RankedHit> hits;  // best first
  Xapian::doccount matches = 0;
};

RankedHits MatchRankedInParts(const RankedParts& match, SearchClock* clock, TaskPool* pool);

// Xapian's matcher sets aside room for `limit` hits (about 90 bytes each)
// before it starts. For a search that keeps every hit the limit is the
// whole index, and that room, far above what the allocator keeps for reuse,
// is fresh memory at each search: the kernel zeroes every page the hits
// reach. From `bounded_from` on, the limit is first cut to the matcher's
// upper bound of the matches (from the terms' frequencies, without
// matching); a result that fills the cut limit runs again with the whole
// limit, so that a bound that was not one loses no hit. The result of
// get_mset(0, limit, check).
inline constexpr Xapian::doccount kBoundedLimitFrom = 100000;
Xapian::MSet MatchUpToLimit(Xapian::Enquire& enquire, Xapian::doccount limit,
                            Xapian::doccount check,
                            Xapian::doccount bounded_from = kBoundedLimitFrom);

// The weights ScoreDocuments (document_scores.h) gives `ids` (combined
// document ids, any order), in the order of `ids`, computed in parts side
// by side: part p weighs the documents of the shards i with
// i % views.size() == p, on views[p] (a combined database over every
// shard, as above), so the weights are the single combined match's. Each
// part but the first weighs a copy of the query that reads its own twin of
// `clock`. Throws what Xapian throws, once every part ended.
std::vector<double> ScoreInParts(const std::vector<const Xapian::Database*>& views,
                                 const std::vector<std::string>& uuids,
                                 const Xapian::Query& query,
                                 const std::vector<Xapian::docid>& ids, SearchClock* clock,
                                 TaskPool* pool);

}  // namespace vantrel
