// Newest-first matches over the local shards of an index, side by side.
//
// A browse search (newest first, with a hit limit) over local shards does
// not rank: it keeps the `limit` newest matches (Xapian's BoolWeight, sorted
// by the time value, equal times by document id) and counts every match.
// Xapian matches the shards of a combined database one after the other on
// one thread. MatchNewestInShards matches each shard on its own Database,
// the shards side by side on the threads of a TaskPool and the caller's,
// each keeping its `limit` newest and counting its matches exactly, and
// merges: the `limit` newest of all, equal times by combined document id
// (ShardPlace), and the sum of the counts. That is the combined match's
// answer, document for document.
//
// Sorting by the time value makes Xapian read the value of every match and
// keep its best in a heap. Where the reader's time table of every document
// can be used (ids dense enough), a shard's match asks Xapian for no hits
// at all, with every document considered, and a match spy notes each
// match's id and time from the table and keeps the newest: the same
// documents, in the same order (equal times by id), and the same count.
//
// The query is compiled once, against the combined database (its expansions
// and statistics are the whole index's). A Xapian::Query must not be shared
// between threads (its parts are reference counted without atomics), so the
// first shard's match takes the query itself and every other shard's a copy
// made through Query::serialise; a copy's PositionalSource parts read that
// shard's clock.
//
// Each shard's match has its own SearchClock with the search's deadline and
// stop flag (the first shard's is the search's own), so all end together.
// When the clock cut the match (a spy threw), the answer is the newest
// documents the shards' spies saw, as the combined match's spy gives it.
// When any shard's clock ran out, the search's clock reports it afterwards.
// What Xapian throws on a shard (DatabaseModifiedError, ...) is thrown to
// the caller once every shard ended, the first by shard order.
//
// Thread safety: the shards' Databases and the query are used only by this
// call while it runs (the reader belongs to one search).
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <xapian.h>

#include "engine/partial_hits.h"
#include "engine/posting_match.h"
#include "engine/search_limits.h"
#include "engine/task_pool.h"

namespace vantrel {

struct ShardedNewestMatch {
  const std::vector<Xapian::Database>* shards = nullptr;  // the local shards, in order
  const Xapian::Query* query = nullptr;  // compiled against the combined database
  Xapian::doccount limit = 0;            // hits kept; at least 1
  bool watched = false;                  // end the match when the clock runs out
  // Each shard's time table once read (the reader's; missing ones are read
  // on the shard's thread). Given, and the shards' ids dense enough, each
  // shard's match notes the ids of its matches and keeps the newest by the
  // table; otherwise Xapian sorts each shard's matches by the time value.
  std::vector<std::optional<TimeTable>>* times = nullptr;
  // Called on the thread of each shard's match before it starts; tests
  // throw there. May be empty.
  std::function<void(uint32_t shard)> before_shard;
};

struct NewestHits {
  std::vector<Hit> hits;  // combined document ids, newest first, unscored
  Xapian::doccount matches = 0;
};

NewestHits MatchNewestInShards(const ShardedNewestMatch& match, SearchClock* clock, TaskPool* pool);

}  // namespace vantrel
