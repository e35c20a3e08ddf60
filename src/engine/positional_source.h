// PositionalSource: phrases and word windows whose positions may each be
// filled by one of several terms.
//
// A word of the whole text has several terms (its bare term and one per field
// it occurs in), and wildcards and expansions add more. Xapian's OP_PHRASE
// and OP_NEAR take an OR of terms as a part, and the query compiler hands
// them small slots that share no term. Slots that share a term (a repeated
// word, overlapping wildcards: Xapian's window test may then miss a fit) and
// slots of many terms come here: the source walks the documents that have a
// term of every slot (leapfrogging the posting lists) and accepts those whose
// positions fit:
//   kPhrase   slot i at position p + i, for some p;
//   kOrdered  one position per slot, increasing, all within `window`
//             positions (PRE/n);
//   kUnordered one position per slot, in any order, within `window` (W/n).
// The positions chosen are distinct: a word of the text fills one slot, so
// "boat W/5 boat" wants two boats.
//
// Reading a position list through Xapian's public interface costs a fresh
// B-tree descent, far more than Xapian's own phrase matching pays. So the
// query compiler lets Xapian match the combination of each slot's most
// frequent term natively and tells the source which term that is
// (`covered`): the source then skips, without reading positions, every
// document in which each slot is present through its covered term only.
//
// Every accepted document gets the weight 0: all matches are equal, and a
// query made of such parts lets Xapian stop once the hit limit is filled.
//
// With a clock, the source ends (matches nothing more) once the clock runs
// out, so that the match ends with the documents found so far.
//
// Thread safety: one object per query run, used by the thread running it.
// Clones share the clock: a query run on another thread takes a copy made
// through serialise (see newest_match.h).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/search_limits.h"

namespace vantrel {

class PositionalSource : public Xapian::PostingSource {
 public:
  enum class Mode { kPhrase, kOrdered, kUnordered };

  static constexpr size_t kNoCoveredTerm = static_cast<size_t>(-1);

  // `slots` in reading order, each with at least one term. `covered` is empty
  // or holds, per slot, the index of the term whose combination is matched
  // elsewhere (kNoCoveredTerm for none). `clock` (may be null) must outlive
  // the source and its clones.
  PositionalSource(std::vector<std::vector<std::string>> slots, Mode mode,
                   Xapian::termcount window, std::vector<size_t> covered = {},
                   SearchClock* clock = nullptr);

  PositionalSource* clone() const override;
  void init(const Xapian::Database& db) override;
  Xapian::doccount get_termfreq_min() const override { return 0; }
  Xapian::doccount get_termfreq_est() const override { return estimate_ / 2; }
  Xapian::doccount get_termfreq_max() const override { return estimate_; }
  void next(double min_wt) override;
  void skip_to(Xapian::docid did, double min_wt) override;
  bool at_end() const override { return at_end_; }
  Xapian::docid get_docid() const override { return current_; }
  double get_weight() const override { return 0.0; }
  std::string get_description() const override { return "PositionalSource"; }
  // The serialised form holds the slots, the mode, the window and the
  // covered terms; a source made from it reads the clock of the source it
  // was made by (a Registry's prototype), so that a copy of a query for
  // another thread (Query::serialise) reads that thread's clock.
  std::string name() const override { return "vantrel::PositionalSource"; }
  std::string serialise() const override;
  PositionalSource* unserialise(const std::string& serialised) const override;

 private:
  struct Cursor {
    Xapian::PostingIterator it;
    Xapian::PostingIterator end;
    Xapian::docid did = 0;  // the document `it` stands on (kept to spare calls)
    uint32_t term = 0;      // the term's number among the distinct terms
  };
  // The posting lists of one slot: the covered term's apart, the others as a
  // min-heap by current document, so that a step touches only the lists
  // behind the target, however many terms the slot has.
  struct SlotCursors {
    std::vector<Cursor> heap;
    Cursor covered;
    bool has_covered = false;  // `covered` stands on a document
  };
  // Moves the slot's lists to documents >= target and returns the smallest,
  // 0 when the slot has no more documents. `uncovered_only` leaves the
  // covered list alone and leaves it out of the result.
  static Xapian::docid SkipSlot(SlotCursors* slot, Xapian::docid target, bool uncovered_only);
  // Moves to the first document >= did that has every slot; no position test.
  bool AlignFrom(Xapian::docid did);
  // The first document >= did that has an uncovered term of some slot; 0 when
  // there is none.
  Xapian::docid NextUncovered(Xapian::docid did);
  bool PositionsFit();
  bool Fits() const;
  bool FitsWithinWindow() const;
  void Advance(Xapian::docid from);

  std::vector<std::vector<std::string>> slots_;
  Mode mode_;
  Xapian::termcount window_;
  std::vector<size_t> covered_;
  SearchClock* clock_;
  bool split_ = false;   // some slot has a covered term
  bool shared_ = false;  // some term stands in two slots
  std::vector<SlotCursors> cursors_;
  std::vector<size_t> order_;  // slots by rising frequency
  Xapian::doccount estimate_ = 0;
  Xapian::docid current_ = 0;
  bool at_end_ = false;
  bool started_ = false;
  std::vector<std::vector<Xapian::termpos>> positions_;  // scratch, per slot
  std::vector<size_t> taken_;                            // scratch, per slot
  // The positions of each distinct term in the document they were read for:
  // a term standing in several slots (a repeated wildcard) is read once.
  std::vector<std::vector<Xapian::termpos>> term_positions_;
  std::vector<Xapian::docid> term_read_for_;
};

// Whether some term stands in two of `slots` (a term repeated within one
// slot does not count). Every position of a document holds one term, so
// slots that share none never share a position.
bool SlotsShareATerm(const std::vector<std::vector<std::string>>& slots);

// A copy of a query (its Query::serialise form) that shares nothing with the
// original, for a match on another thread; its PositionalSource and
// ClockGate parts read `clock`.
Xapian::Query CopyOfQuery(const std::string& serialised, SearchClock* clock);

}  // namespace vantrel
