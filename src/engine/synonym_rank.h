// Ranked matching of one large synonym by posting lists.
//
// A relevance-ranked wildcard (`sun*`, `s*`: OP_SYNONYM over hundreds to
// thousands of terms) is, for Xapian's matcher, an OR tree over every
// term's posting list, merged through a heap one document at a time, with
// a BM25 weight per match: seconds at a million documents. The synonym's
// weight depends only on its estimated frequency (per shard) and, per
// document, on the sum of its terms' wdf and the document's length
// (synonym_scores.h). So each shard, on its own thread, walks every term's
// postings once, adding each posting's wdf into an array indexed by
// document id and counting each term's postings; then, with every shard's
// frequencies known, each shard reads the lengths of its matched documents
// from its length list in id order, weighs them and keeps its best `limit`.
// The shards' best merge by weight (descending), equal weights by the
// combined document id (ascending), as Xapian orders them.
//
// The hits, their order, their weights (to the last bit) and the count are
// those of Xapian's ranked match over the combined database: it walks every
// match of a synonym (the weight of one term bounds nothing), so its count
// is exact, and so is this one.
//
// When the clock runs out during the walk, the walk stops and the answer is
// built from the postings walked until then (the clock then says so): some
// matches are missing and some weights are low, as a cut answer's are.
//
// Thread safety: the shards' Databases are each used by one thread while
// this runs; the caller keeps them to this search.
#pragma once

#include <optional>
#include <vector>

#include <xapian.h>

#include "engine/ranked_match.h"
#include "engine/search_limits.h"
#include "engine/task_pool.h"

namespace vantrel {

// The best `limit` (at least 1) matches of `query` in `db`, the
// combination of `shards` (in order), with their weights, and the count.
// nullopt when `query` is not one synonym that DirectSynonymTerms takes, or
// when a shard's document ids are too sparse for an array per id. The
// shards are walked side by side on `pool` and the calling thread. Throws
// what Xapian throws.
std::optional<RankedHits> RankSynonymByPostings(const Xapian::Database& db,
                                                const std::vector<Xapian::Database>& shards,
                                                const Xapian::Query& query, Xapian::doccount limit,
                                                SearchClock* clock, TaskPool* pool);

}  // namespace vantrel
