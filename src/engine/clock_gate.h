// ClockGate: a posting source that ends a match when the search's clock runs
// out.
//
// Xapian's own phrase and window operators read positions for every
// document that has all their words, and a match spy only sees the
// documents that fit. A search whose words are frequent but rarely near one
// another could therefore read positions for a long time without the clock
// being asked. ANDed with such a query, the gate is asked for every
// candidate document (Xapian's AND positions its parts on a document before
// the position test runs), reads the clock when the match starts and on
// every 32nd candidate, and ends (matches nothing more) once the clock runs
// out, so the match ends with the documents found so far.
//
// The gate stands on whatever document it is asked for: alone it matches
// every document id up to the database's last, existing or not, so it is
// only meant to be ANDed with a query that decides which documents exist.
// Every document weighs 0.
//
// Thread safety: one object per query run. A copy for another thread is made
// through serialise (see CopyOfQuery in positional_source.h) and reads that
// thread's clock.
#pragma once

#include <string>

#include <xapian.h>

#include "engine/search_limits.h"

namespace vantrel {

class ClockGate : public Xapian::PostingSource {
 public:
  // `clock` must outlive the gate and its clones.
  explicit ClockGate(SearchClock* clock);

  ClockGate* clone() const override { return new ClockGate(clock_); }
  void init(const Xapian::Database& db) override;
  Xapian::doccount get_termfreq_min() const override { return 0; }
  Xapian::doccount get_termfreq_est() const override { return documents_; }
  Xapian::doccount get_termfreq_max() const override { return documents_; }
  void next(double min_wt) override;
  void skip_to(Xapian::docid did, double min_wt) override;
  bool check(Xapian::docid did, double min_wt) override;
  bool at_end() const override { return at_end_; }
  Xapian::docid get_docid() const override { return current_; }
  double get_weight() const override { return 0.0; }
  std::string get_description() const override { return "ClockGate"; }
  std::string name() const override { return "vantrel::ClockGate"; }
  std::string serialise() const override { return std::string(); }
  // A gate made from the serialised form reads the clock of the gate it was
  // made by (a Registry's prototype).
  ClockGate* unserialise(const std::string& serialised) const override;

 private:
  // Stands on `did`, or ends when the clock ran out or `did` is past the last id.
  void StandOn(Xapian::docid did);

  SearchClock* clock_;
  Xapian::doccount documents_ = 0;
  Xapian::docid last_ = 0;
  Xapian::docid current_ = 0;
  bool at_end_ = true;
};

}  // namespace vantrel
