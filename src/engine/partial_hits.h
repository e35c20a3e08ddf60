// The hits of one match, and PartialHits, the match spy that keeps the best
// hits seen so far so that a match cut by its clock still answers.
//
// Thread safety: a PartialHits belongs to the thread running its match.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/search_limits.h"

namespace vantrel {

struct Hit {
  Xapian::docid id;
  int32_t score;
  std::string name;
};

// A Xapian weight as a hit's score (hundredths, at least 1).
int32_t ScoreOf(double weight);

// Thrown through Xapian's matcher by PartialHits when the clock runs out.
struct SearchCutOff {};

// Where the documents of one shard stand in the database combining `count`
// shards (Xapian's add_database numbering: the shards' documents
// interleaved, shard by shard). {0, 1}: the database itself.
struct ShardPlace {
  uint32_t index = 0;
  uint32_t count = 1;
  Xapian::docid Combined(Xapian::docid local) const { return (local - 1) * count + index + 1; }
};

// Watches a running match: keeps the best `keep` documents seen so far (by
// weight, or by time stamp and weight for newest-first searches) and ends
// the match when the search's clock runs out. Over one shard matched on its
// own, `place` turns its document ids into those of the combined database.
//
// Over a database that combines several shards Xapian hands a spy each
// document with its shard's own id, and which shard it came from is not
// told: a spy made with `by_name` keeps the names of the documents it keeps,
// and GiveCombinedIds finds their ids afterwards.
class PartialHits : public Xapian::MatchSpy {
 public:
  PartialHits(SearchClock* clock, size_t keep, bool newest_first, ShardPlace place = {},
              bool by_name = false)
      : clock_(clock),
        keep_(keep),
        newest_first_(newest_first),
        place_(place),
        by_name_(by_name) {}

  void operator()(const Xapian::Document& doc, double weight) override;

  // Newest first over one database, `db` (its place in the combined one
  // given): the spy notes only each document's id and weight, and reads
  // their times from `db` in one pass of its time values, every `batch`
  // documents and when the hits are taken. Reading a document's value as
  // it is seen finds and decodes its value chunk anew each time.
  void ReadTimesLater(const Xapian::Database* db, size_t batch = 65536) {
    times_from_ = db;
    batch_ = batch == 0 ? 1 : batch;
  }

  // Adds what `other` kept (the same search over another shard) to what this
  // one keeps; `other` is left empty.
  void Absorb(PartialHits* other);

  // The documents kept, best first (by name: with their names, ids unknown).
  std::vector<Hit> Take();

 private:
  struct Seen {
    std::string time;  // newest first: the time stamp value (sorts as bytes)
    double weight;
    Xapian::docid id;
    std::string name;  // by name only
  };
  struct Noted {
    Xapian::docid local;  // in `times_from_`
    double weight;
  };
  // Keeps the noted documents with their times read from `times_from_`.
  void ReadNotedTimes();
  bool WouldKeep(const Seen& seen) const;
  void Keep(Seen seen);
  // Heap order: the weakest kept document on top.
  static bool Better(const Seen& a, const Seen& b);

  SearchClock* clock_;
  size_t keep_;
  bool newest_first_;
  ShardPlace place_;
  bool by_name_;
  std::vector<Seen> seen_;
  const Xapian::Database* times_from_ = nullptr;
  size_t batch_ = 0;
  std::vector<Noted> noted_;
};

// Gives hits taken from a spy made `by_name` their ids in `db` (by their
// names' id terms); a hit whose document is gone is dropped.
void GiveCombinedIds(const Xapian::Database& db, std::vector<Hit>* hits);

}  // namespace vantrel
