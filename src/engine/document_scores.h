// Document scores: the weights a query gives a few chosen documents.
//
// A newest-first search keeps the newest matches without ranking them
// (Xapian's BoolWeight, sorted by the time value), which spares computing a
// weight for every match of a frequent word. ScoreDocuments then weighs only
// the documents kept: it runs the query again, restricted to them. Xapian
// weighs them with the statistics of the whole database, so each weight is
// the one a ranked match of the whole query gives that document.
//
// The restriction is a PostingSource over the kept document ids. Over
// several shards Xapian gives each shard's matcher its own copy of the
// source, with the shard's own database; the copy finds its shard's ids by
// the shard's UUID (a combined database's UUID lists its shards' UUIDs,
// separated by ':'). The same source restricts a ranked match to whole
// shards (ranked_match.h).
//
// The restriction keeps every weight to the last bit: the query is wrapped
// in OP_SCALE_WEIGHT 1.0 before the filter is added, so that Xapian builds
// the query's own postlist tree unchanged (an AND query is not flattened
// into one AND with the filter, which would let Xapian sum its parts'
// weights in another order) and ANDs it with the source, whose weight is 0.
//
// Thread safety: uses the given Database only; the caller keeps it to one
// thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <xapian.h>

namespace vantrel {

// The UUIDs of the shards of `db` in shard order, or nullopt when they do
// not name each shard once (a backend without UUIDs, two shards copied from
// one database): the documents of `db` cannot then be scored this way.
std::optional<std::vector<std::string>> ShardUuids(const Xapian::Database& db);

// Which documents of each shard a restricted query may match.
struct ShardDocuments {
  std::vector<std::string> uuids;               // of the shards, in shard order
  std::vector<std::vector<Xapian::docid>> ids;  // per shard: sorted, the shard's own ids
  std::vector<bool> whole;                      // per shard: every document (ids unused)
};

// `query` restricted to `docs`: the same matches with the same weights, in
// the shards and documents `docs` names only. The query holds the source.
Xapian::Query RestrictedQuery(const Xapian::Query& query,
                              std::shared_ptr<const ShardDocuments> docs);

// The weights of `ids` (document ids of `db`, any order) under `query`, in
// the order of `ids`; 0 for an id the query does not match. `uuids` from
// ShardUuids(db). Local shards only: a remote shard's server does not know
// the source. Throws what Xapian throws.
std::vector<double> ScoreDocuments(const Xapian::Database& db, const std::vector<std::string>& uuids,
                                   const Xapian::Query& query,
                                   const std::vector<Xapian::docid>& ids);

}  // namespace vantrel
