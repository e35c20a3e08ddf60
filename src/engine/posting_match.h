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
// time stamp (TimeTable), read once per opened database.
//
// The result is the one Xapian's unranked match sorted by the time value
// gives: the same documents in the same order (newest first, equal times by
// document id) and the exact count. Queries with parts a posting list walk
// cannot decide (phrases, proximity, posting sources, value ranges) are left
// to Xapian's matcher: MatchNewestByPostings then returns nullopt.
//
// Thread safety: uses the given Database only; the caller keeps it to one
// thread at a time. A TimeTable may be shared once built.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <xapian.h>

#include "engine/search_limits.h"

namespace vantrel {

// Every document's time stamp (the time value slot), by document id; 0 for
// an id without a document.
struct TimeTable {
  std::vector<uint32_t> time_of;  // index: document id
};

// Reads the time value of every document of `db` in one walk of its value
// stream. Throws what Xapian throws.
TimeTable ReadTimeTable(const Xapian::Database& db);

struct NewestMatch {
  std::vector<Xapian::docid> kept;  // newest first, equal times by id
  Xapian::doccount matches = 0;     // every document the query matched
  bool cut_off = false;             // the clock ran out: `kept` is from part of the lists
};

// Whether MatchNewestByPostings can evaluate `query`.
bool PostingMatchable(const Xapian::Query& query);

// The `limit` newest documents of `db` that `query` matches, and the count.
// nullopt when the query is not PostingMatchable. `times` from
// ReadTimeTable(db). Asks `clock` while it walks. Throws what Xapian throws.
std::optional<NewestMatch> MatchNewestByPostings(const Xapian::Database& db,
                                                 const Xapian::Query& query, size_t limit,
                                                 const TimeTable& times, SearchClock* clock);

}  // namespace vantrel
