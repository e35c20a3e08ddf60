// Ranked matching by posting lists: the relevance-ranked match of a query
// that Xapian weighs as one term, or as two such joined by AND, OR or AND
// NOT, without Xapian's matcher.
//
// A word searched in every field is a synonym over one term per field; a
// wildcard (`sun*`, `s*`) a synonym over hundreds to thousands of terms.
// For Xapian's matcher that is an OR tree over every term's posting list,
// merged through a heap one document at a time with a BM25 weight per
// match: seconds for a short wildcard at a million documents. A synonym's
// weight depends only on its estimated frequency (per shard) and, per
// document, on the sum of its terms' wdf and the document's length
// (synonym_scores.h). So each shard, on its own thread, walks every term's
// postings once, adding each posting's wdf into an array indexed by
// document id and counting each term's postings; then, with every shard's
// frequencies known, each shard combines the matches as the operator says,
// weighs them with the documents' lengths from a table of every document's
// length (LengthTable, read once per opened database) (AND and OR add the two weights, AND NOT
// takes the first) and keeps its best `limit`. The shards' best merge by weight (descending), equal
// weights by the combined document id (ascending), as Xapian orders them.
//
// The hits, their order and their weights (to the last bit: two weights
// add the same in either order) are those of Xapian's ranked match over the
// combined database. The count is exact: every match is walked. (Xapian's
// matcher ends early once no document left could weigh enough and then
// estimates the count.)
//
// When the clock runs out during the walk, the walk stops and the answer is
// built from the postings walked until then (the clock then says so): some
// matches are missing and some weights are low, as a cut answer's are.
//
// Thread safety: the shards' Databases are each used by one thread while
// this runs; the caller keeps them to this search.
#pragma once

#include <xapian.h>

#include <optional>
#include <vector>

#include "engine/search_limits.h"
#include "engine/task_pool.h"

namespace vantrel {

// Every document's length in one database, by document id; 0 for an id
// without a document.
struct LengthTable {
  std::vector<Xapian::termcount> length_of;  // index: document id
};

// Reads the length of every document of `db` in one walk of its length list.
// Throws what Xapian throws.
LengthTable ReadLengthTable(const Xapian::Database& db);

// A match and its weight; `id` in the combined database. Small, so that a
// query without a hit limit sorts and hands over every match cheaply.
struct WeighedHit {
  double weight;
  Xapian::docid id;
};

struct WeighedHits {
  std::vector<WeighedHit> hits;  // best first
  Xapian::doccount matches = 0;
};

// The best `limit` (at least 1) matches of `query` in `db`, the
// combination of `shards` (in order), with their weights, and the count:
// weight descending, equal weights by id, as Xapian orders them.
// nullopt when the query is not of the forms above (or its two parts share
// a term), or when a shard's document ids are too sparse for an array per
// id. `lengths` holds each shard's length table once read; missing ones
// are read here. The shards are walked side by side on `pool` and the
// calling thread. Throws what Xapian throws.
std::optional<WeighedHits> RankByPostings(const Xapian::Database& db,
                                          const std::vector<Xapian::Database>& shards,
                                          const Xapian::Query& query, Xapian::doccount limit,
                                          std::vector<std::optional<LengthTable>>* lengths,
                                          SearchClock* clock, TaskPool* pool);

}  // namespace vantrel
