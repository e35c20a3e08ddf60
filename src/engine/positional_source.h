// PositionalSource: phrases and word windows whose positions may each be
// filled by one of several terms.
//
// Xapian 1.4 takes only single terms as the parts of OP_PHRASE and OP_NEAR.
// A word of the whole text has several terms (its bare term and one per field
// it occurs in), and wildcards and expansions add more, so the engine matches
// such phrases itself: the source walks the documents that have a term of
// every slot (leapfrogging the posting lists) and accepts those whose
// positions fit:
//   kPhrase   slot i at position p + i, for some p;
//   kOrdered  one position per slot, increasing, all within `window`
//             positions (PRE/n);
//   kUnordered one position per slot, in any order, within `window` (W/n).
// Every accepted document gets the weight 1.
//
// Thread safety: one object per query run, used by the thread running it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <xapian.h>

namespace vantrel {

class PositionalSource : public Xapian::PostingSource {
 public:
  enum class Mode { kPhrase, kOrdered, kUnordered };

  // `slots` in reading order, each with at least one term.
  PositionalSource(std::vector<std::vector<std::string>> slots, Mode mode,
                   Xapian::termcount window);

  PositionalSource* clone() const override;
  void init(const Xapian::Database& db) override;
  Xapian::doccount get_termfreq_min() const override { return 0; }
  Xapian::doccount get_termfreq_est() const override { return estimate_ / 2; }
  Xapian::doccount get_termfreq_max() const override { return estimate_; }
  void next(double min_wt) override;
  void skip_to(Xapian::docid did, double min_wt) override;
  bool at_end() const override { return at_end_; }
  Xapian::docid get_docid() const override { return current_; }
  double get_weight() const override { return 1.0; }
  std::string get_description() const override { return "PositionalSource"; }

 private:
  struct Cursor {
    Xapian::PostingIterator it;
    Xapian::PostingIterator end;
  };
  // Moves to the first document >= did that has every slot; no position test.
  bool AlignFrom(Xapian::docid did);
  bool PositionsFit();
  void Advance(Xapian::docid from);

  std::vector<std::vector<std::string>> slots_;
  Mode mode_;
  Xapian::termcount window_;
  std::vector<std::vector<Cursor>> cursors_;
  std::vector<size_t> order_;  // slots by rising frequency
  Xapian::doccount estimate_ = 0;
  Xapian::docid current_ = 0;
  bool at_end_ = false;
  bool started_ = false;
  std::vector<std::vector<Xapian::termpos>> positions_;  // scratch, per slot
};

}  // namespace vantrel
