#include "engine/clock_gate.h"

#include <algorithm>

namespace vantrel {

ClockGate::ClockGate(SearchClock* clock) : clock_(clock) { set_maxweight(0.0); }

void ClockGate::init(const Xapian::Database& db) {
  documents_ = db.get_doccount();
  last_ = db.get_lastdocid();
  current_ = 0;
  // A match that starts after the deadline (a part run late) finds nothing.
  at_end_ = last_ == 0 || (clock_ != nullptr && clock_->CheckNow());
  set_maxweight(0.0);
}

void ClockGate::StandOn(Xapian::docid did) {
  current_ = did;
  if (did == 0 || did > last_ || (clock_ != nullptr && clock_->Expired())) at_end_ = true;
}

void ClockGate::next(double /*min_wt*/) {
  if (!at_end_) StandOn(current_ + 1);
}

void ClockGate::skip_to(Xapian::docid did, double /*min_wt*/) {
  if (!at_end_ && did > current_) StandOn(did);
}

bool ClockGate::check(Xapian::docid did, double min_wt) {
  skip_to(did, min_wt);
  return true;
}

ClockGate* ClockGate::unserialise(const std::string& serialised) const {
  if (!serialised.empty()) {
    throw Xapian::SerialisationError("ClockGate: damaged serialised form");
  }
  return new ClockGate(clock_);
}

}  // namespace vantrel
