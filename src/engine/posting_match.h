// Newest-first matching by posting lists: the unranked match of the browse
// forms without Xapian's matcher.
//
// A browse form keeps the newest matches up to its hit limit and reports how
// many documents matched. Xapian's matcher finds them by merging the posting
// lists of every term (a heap over thousands of lists for a short wildcard)
// and reading the time value of every match. This match instead walks each
// term's posting list once into a bitmap of document ids, combines the
// bitmaps as the query's operators say (AND, OR, AND NOT, synonyms), counts
// the bits, and picks the newest set bits with a table of every document's
// time stamp (TimeTable), read once per opened database. For a large
// synonym (a wildcard) the walk also counts each term's postings, and the
// shards read their kept documents side by side, so that the kept hits are
// weighed without Xapian's matcher (synonym_scores.h).
//
// Each shard is walked on its own thread (the engine's task pool), in its own database (walking the
// combined database costs about three times as much: every posting passes
// through Xapian's merging of the shards), and the shards' newest are then
// merged with the ids of the combined database.
//
// The result is the one Xapian's unranked match of the combined database,
// sorted by the time value, gives: the same documents in the same order
// (newest first, equal times by document id) and the exact count. Queries
// with parts a posting list walk cannot decide (phrases, proximity, posting
// sources, value ranges) are left to Xapian's matcher:
// MatchNewestByPostings then returns nullopt.
//
// Thread safety: the query is turned into plain data on the calling thread
// (Xapian's objects count references without atomics); each shard's
// Database is then used by one thread only. The caller keeps the shards and
// the combined database to this search while it runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/search_limits.h"
#include "engine/synonym_scores.h"
#include "engine/task_pool.h"

namespace vantrel {

// Every document's time stamp (the time value slot) in one database, by
// document id; 0 for an id without a document.
struct TimeTable {
  std::vector<uint32_t> time_of;  // index: document id
};

// Reads the time value of every document of `db` in one walk of its value
// stream. Throws what Xapian throws.
TimeTable ReadTimeTable(const Xapian::Database& db);

// A stored time value as the table holds it: four bytes, most significant
// first (so the numbers sort as the values do); 0 for a value of another size.
uint32_t TimeOfValue(const std::string& value);

// The time of document `id` in `times`; 0 for an id past its end.
inline uint32_t TimeOf(const TimeTable& times, Xapian::docid id) {
  return id < times.time_of.size() ? times.time_of[id] : 0;
}

struct NewestMatch {
  std::vector<Xapian::docid> kept;  // ids of the combined database, newest first, equal times by id
  Xapian::doccount matches = 0;     // every document the query matched
  // For a query that DirectSynonymTerms takes, what weighing the kept
  // documents needs (documents in the order of `kept`): the frequencies
  // counted by the walk, the kept documents read on the shards' threads.
  // Absent when the walk was cut short.
  std::optional<SynonymStats> synonym;
};

// Whether every shard's document ids are dense enough for a table or bitmap
// entry per id. Ids are handed out in turn and kept by replacements, so they
// stay close to the document count; a database whose ids are far sparser (a
// bitmap of hundreds of MB for a few documents) is left to Xapian's matcher.
bool DenseEnough(const std::vector<Xapian::Database>& shards);

// Whether MatchNewestByPostings can evaluate `query`.
bool PostingMatchable(const Xapian::Query& query);

// The `limit` newest documents that `query` matches in the combination of
// `shards` (in the order the combined database adds them), and the count.
// `times` holds each shard's table once read; missing ones are read here.
// nullopt when the query is not PostingMatchable. When `clock` runs out the
// walk stops and the answer holds what was found until then (the clock then
// says so). The shards are walked side by side on `pool` and the calling
// thread (one after the other when `pool` is null). Throws what Xapian
// throws.
std::optional<NewestMatch> MatchNewestByPostings(const std::vector<Xapian::Database>& shards,
                                                 const Xapian::Query& query, size_t limit,
                                                 std::vector<std::optional<TimeTable>>* times,
                                                 SearchClock* clock, TaskPool* pool);

}  // namespace vantrel
