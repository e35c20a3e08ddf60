#include "engine/positional_source.h"

#include <algorithm>
#include <utility>

namespace vantrel {

PositionalSource::PositionalSource(std::vector<std::vector<std::string>> slots, Mode mode,
                                   Xapian::termcount window)
    : slots_(std::move(slots)), mode_(mode), window_(window) {
  set_maxweight(1.0);
}

PositionalSource* PositionalSource::clone() const {
  return new PositionalSource(slots_, mode_, window_);
}

void PositionalSource::init(const Xapian::Database& db) {
  cursors_.clear();
  cursors_.resize(slots_.size());
  estimate_ = db.get_doccount();
  std::vector<Xapian::doccount> freq(slots_.size(), 0);
  for (size_t s = 0; s < slots_.size(); ++s) {
    Xapian::doccount& slot_freq = freq[s];
    for (const std::string& term : slots_[s]) {
      Xapian::PostingIterator it = db.postlist_begin(term);
      if (it == db.postlist_end(term)) continue;
      cursors_[s].push_back(Cursor{it, db.postlist_end(term)});
      slot_freq += db.get_termfreq(term);
    }
    estimate_ = std::min(estimate_, slot_freq);
  }
  // Aligning on the rarest slot first makes the longest jumps.
  order_.resize(slots_.size());
  for (size_t s = 0; s < order_.size(); ++s) order_[s] = s;
  std::sort(order_.begin(), order_.end(), [&](size_t a, size_t b) { return freq[a] < freq[b]; });
  positions_.assign(slots_.size(), {});
  current_ = 0;
  started_ = false;
  at_end_ = slots_.empty();
  for (const auto& c : cursors_) {
    if (c.empty()) at_end_ = true;
  }
  set_maxweight(1.0);
}

bool PositionalSource::AlignFrom(Xapian::docid did) {
  Xapian::docid target = did;
  while (true) {
    bool all_here = true;
    for (size_t s : order_) {
      std::vector<Cursor>& slot = cursors_[s];
      // The smallest document >= target among the slot's terms.
      Xapian::docid slot_min = 0;
      for (Cursor& c : slot) {
        if (c.it == c.end) continue;
        if (*c.it < target) c.it.skip_to(target);
        if (c.it == c.end) continue;
        if (slot_min == 0 || *c.it < slot_min) slot_min = *c.it;
      }
      if (slot_min == 0) return false;  // this slot has no more documents
      if (slot_min > target) {
        target = slot_min;
        all_here = false;
      }
    }
    if (all_here) {
      current_ = target;
      return true;
    }
  }
}

bool PositionalSource::PositionsFit() {
  for (size_t s = 0; s < cursors_.size(); ++s) {
    std::vector<Xapian::termpos>& pos = positions_[s];
    pos.clear();
    for (Cursor& c : cursors_[s]) {
      if (c.it == c.end || *c.it != current_) continue;
      for (auto p = c.it.positionlist_begin(); p != c.it.positionlist_end(); ++p) pos.push_back(*p);
    }
    std::sort(pos.begin(), pos.end());
    if (pos.empty()) return false;
  }
  const size_t n = positions_.size();
  if (mode_ == Mode::kPhrase) {
    for (Xapian::termpos p : positions_[0]) {
      bool ok = true;
      for (size_t s = 1; s < n && ok; ++s) {
        ok = std::binary_search(positions_[s].begin(), positions_[s].end(), p + s);
      }
      if (ok) return true;
    }
    return false;
  }
  if (mode_ == Mode::kOrdered) {
    for (Xapian::termpos first : positions_[0]) {
      Xapian::termpos last = first;
      bool ok = true;
      for (size_t s = 1; s < n && ok; ++s) {
        auto it = std::upper_bound(positions_[s].begin(), positions_[s].end(), last);
        ok = it != positions_[s].end();
        if (ok) last = *it;
      }
      if (ok && last - first < window_) return true;
    }
    return false;
  }
  // Unordered: a span of fewer than `window_` positions holding every slot.
  std::vector<std::pair<Xapian::termpos, size_t>> all;
  for (size_t s = 0; s < n; ++s) {
    for (Xapian::termpos p : positions_[s]) all.emplace_back(p, s);
  }
  std::sort(all.begin(), all.end());
  std::vector<size_t> count(n, 0);
  size_t covered = 0, left = 0;
  for (size_t right = 0; right < all.size(); ++right) {
    if (count[all[right].second]++ == 0) ++covered;
    while (all[right].first - all[left].first >= window_) {
      if (--count[all[left].second] == 0) --covered;
      ++left;
    }
    if (covered == n) return true;
  }
  return false;
}

void PositionalSource::Advance(Xapian::docid from) {
  Xapian::docid did = from;
  while (AlignFrom(did)) {
    if (PositionsFit()) return;
    did = current_ + 1;
  }
  at_end_ = true;
}

void PositionalSource::next(double /*min_wt*/) {
  if (at_end_) return;
  Advance(started_ ? current_ + 1 : 1);
  started_ = true;
}

void PositionalSource::skip_to(Xapian::docid did, double /*min_wt*/) {
  if (at_end_) return;
  if (started_ && did <= current_) return;
  Advance(std::max<Xapian::docid>(did, 1));
  started_ = true;
}

}  // namespace vantrel
