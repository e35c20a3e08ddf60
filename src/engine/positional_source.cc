#include "engine/positional_source.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <utility>

#include "engine/clock_gate.h"

namespace vantrel {
namespace {

using SlotPosition = std::pair<Xapian::termpos, size_t>;  // a position and a slot it can fill

// Gives slot `slot` a position of its own among `options`, moving other
// slots to other positions of theirs where needed (an augmenting path).
bool GivePosition(size_t slot, const std::vector<std::vector<Xapian::termpos>>& options,
                  std::map<Xapian::termpos, size_t>* owner, std::set<Xapian::termpos>* tried) {
  for (Xapian::termpos p : options[slot]) {
    if (!tried->insert(p).second) continue;
    const auto it = owner->find(p);
    if (it == owner->end() || GivePosition(it->second, options, owner, tried)) {
      (*owner)[p] = slot;
      return true;
    }
  }
  return false;
}

// Whether each of `slots` slots can take a distinct position among `from`
// to `to` (sorted by position; a position stands once per slot it can fill).
bool DistinctPositionsFor(std::vector<SlotPosition>::const_iterator from,
                          std::vector<SlotPosition>::const_iterator to, size_t slots) {
  std::vector<std::vector<Xapian::termpos>> options(slots);
  for (auto it = from; it != to; ++it) options[it->second].push_back(it->first);
  std::map<Xapian::termpos, size_t> owner;
  for (size_t s = 0; s < slots; ++s) {
    std::set<Xapian::termpos> tried;
    if (!GivePosition(s, options, &owner, &tried)) return false;
  }
  return true;
}

// Heap order for the cursors of a slot: the lowest document on top.
struct Later {
  template <typename C>
  bool operator()(const C& a, const C& b) const {
    return a.did > b.did;
  }
};

}  // namespace

bool SlotsShareATerm(const std::vector<std::vector<std::string>>& slots) {
  std::map<std::string, size_t> slot_of;
  for (size_t s = 0; s < slots.size(); ++s) {
    for (const std::string& term : slots[s]) {
      const auto [it, added] = slot_of.emplace(term, s);
      if (!added && it->second != s) return true;
    }
  }
  return false;
}

PositionalSource::PositionalSource(std::vector<std::vector<std::string>> slots, Mode mode,
                                   Xapian::termcount window, std::vector<size_t> covered,
                                   SearchClock* clock)
    : slots_(std::move(slots)),
      mode_(mode),
      window_(window),
      covered_(std::move(covered)),
      clock_(clock) {
  if (covered_.size() != slots_.size()) covered_.assign(slots_.size(), kNoCoveredTerm);
  set_maxweight(0.0);
}

PositionalSource* PositionalSource::clone() const {
  return new PositionalSource(slots_, mode_, window_, covered_, clock_);
}

void PositionalSource::init(const Xapian::Database& db) {
  cursors_.clear();
  cursors_.resize(slots_.size());
  estimate_ = db.get_doccount();
  split_ = false;
  shared_ = SlotsShareATerm(slots_);
  std::vector<Xapian::doccount> freq(slots_.size(), 0);
  std::map<std::string, uint32_t> term_numbers;
  for (size_t s = 0; s < slots_.size(); ++s) {
    Xapian::doccount& slot_freq = freq[s];
    SlotCursors& slot = cursors_[s];
    if (clock_ != nullptr && clock_->CheckNow()) break;
    for (size_t t = 0; t < slots_[s].size(); ++t) {
      const std::string& term = slots_[s][t];
      Xapian::PostingIterator it = db.postlist_begin(term);
      Xapian::PostingIterator end = db.postlist_end(term);
      if (it == end) continue;
      Xapian::docid did = *it;
      const auto number = static_cast<uint32_t>(term_numbers.size());
      Cursor c{std::move(it), std::move(end), did, term_numbers.emplace(term, number).first->second};
      if (t == covered_[s]) {
        slot.covered = std::move(c);
        slot.has_covered = true;
        split_ = true;
      } else {
        slot.heap.push_back(std::move(c));
      }
      slot_freq += db.get_termfreq(term);
    }
    std::make_heap(slot.heap.begin(), slot.heap.end(), Later());
    estimate_ = std::min(estimate_, slot_freq);
  }
  // Aligning on the rarest slot first makes the longest jumps.
  order_.resize(slots_.size());
  for (size_t s = 0; s < order_.size(); ++s) order_[s] = s;
  std::sort(order_.begin(), order_.end(), [&](size_t a, size_t b) { return freq[a] < freq[b]; });
  positions_.assign(slots_.size(), {});
  taken_.assign(slots_.size(), 0);
  term_positions_.assign(term_numbers.size(), {});
  term_read_for_.assign(term_numbers.size(), 0);
  current_ = 0;
  started_ = false;
  at_end_ = slots_.empty();
  for (const SlotCursors& c : cursors_) {
    if (c.heap.empty() && !c.has_covered) at_end_ = true;
  }
  set_maxweight(0.0);
}

Xapian::docid PositionalSource::SkipSlot(SlotCursors* slot, Xapian::docid target,
                                         bool uncovered_only) {
  std::vector<Cursor>& heap = slot->heap;
  while (!heap.empty() && heap.front().did < target) {
    std::pop_heap(heap.begin(), heap.end(), Later());
    Cursor& c = heap.back();
    c.it.skip_to(target);
    if (c.it == c.end) {
      heap.pop_back();
      continue;
    }
    c.did = *c.it;
    std::push_heap(heap.begin(), heap.end(), Later());
  }
  Xapian::docid low = heap.empty() ? 0 : heap.front().did;
  if (uncovered_only || !slot->has_covered) return low;
  Cursor& c = slot->covered;
  if (c.did < target) {
    c.it.skip_to(target);
    if (c.it == c.end) {
      slot->has_covered = false;
      return low;
    }
    c.did = *c.it;
  }
  return low == 0 ? c.did : std::min(low, c.did);
}

bool PositionalSource::AlignFrom(Xapian::docid did) {
  Xapian::docid target = did;
  while (true) {
    bool all_here = true;
    for (size_t s : order_) {
      const Xapian::docid slot_min = SkipSlot(&cursors_[s], target, false);
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

Xapian::docid PositionalSource::NextUncovered(Xapian::docid did) {
  Xapian::docid next = 0;
  for (SlotCursors& slot : cursors_) {
    const Xapian::docid d = SkipSlot(&slot, did, true);
    if (d != 0 && (next == 0 || d < next)) next = d;
  }
  return next;
}

bool PositionalSource::PositionsFit() {
  // The lists standing on the current document are the heaps' top ones: take
  // them off (they wait at the end of each heap's vector).
  bool uncovered = false;
  for (size_t s = 0; s < cursors_.size(); ++s) {
    std::vector<Cursor>& heap = cursors_[s].heap;
    size_t& taken = taken_[s];
    taken = 0;
    while (taken < heap.size() && heap.front().did == current_) {
      std::pop_heap(heap.begin(), heap.end() - static_cast<std::ptrdiff_t>(taken), Later());
      ++taken;
    }
    uncovered = uncovered || taken > 0;
  }
  // Covered terms only: Xapian's native match of them decides this document.
  bool fit = false;
  if (uncovered || !split_) {
    bool complete = true;
    for (size_t s = 0; s < cursors_.size() && complete; ++s) {
      // A document of many slots and terms may take long on its own.
      complete = clock_ == nullptr || !clock_->CheckNow();
      std::vector<Xapian::termpos>& pos = positions_[s];
      pos.clear();
      const SlotCursors& slot = cursors_[s];
      auto read = [&pos, this](const Cursor& c) {
        std::vector<Xapian::termpos>& known = term_positions_[c.term];
        if (term_read_for_[c.term] != current_) {
          known.clear();
          for (auto p = c.it.positionlist_begin(); p != c.it.positionlist_end(); ++p) {
            known.push_back(*p);
          }
          term_read_for_[c.term] = current_;
        }
        pos.insert(pos.end(), known.begin(), known.end());
      };
      size_t lists = taken_[s];
      for (size_t k = slot.heap.size() - taken_[s]; k < slot.heap.size(); ++k) read(slot.heap[k]);
      if (slot.has_covered && slot.covered.did == current_) {
        read(slot.covered);
        ++lists;
      }
      if (lists > 1) std::sort(pos.begin(), pos.end());
    }
    fit = complete && Fits();
  }
  for (size_t s = 0; s < cursors_.size(); ++s) {
    std::vector<Cursor>& heap = cursors_[s].heap;
    for (size_t k = heap.size() - taken_[s]; k < heap.size(); ++k) {
      std::push_heap(heap.begin(), heap.begin() + static_cast<std::ptrdiff_t>(k) + 1, Later());
    }
  }
  return fit;
}

bool PositionalSource::Fits() const {
  for (const auto& pos : positions_) {
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
  return FitsWithinWindow();
}

// Unordered: a span of fewer than `window_` positions holding a distinct
// position for every slot. Each window is the widest that ends at a given
// position; slots that share no term never share a position, so there it is
// enough that every slot is present.
bool PositionalSource::FitsWithinWindow() const {
  const size_t n = positions_.size();
  std::vector<SlotPosition> all;
  for (size_t s = 0; s < n; ++s) {
    for (Xapian::termpos p : positions_[s]) all.emplace_back(p, s);
  }
  std::sort(all.begin(), all.end());
  std::vector<size_t> count(n, 0);
  size_t present = 0, left = 0;
  for (size_t right = 0; right < all.size(); ++right) {
    if (count[all[right].second]++ == 0) ++present;
    while (all[right].first - all[left].first >= window_) {
      if (--count[all[left].second] == 0) --present;
      ++left;
    }
    if (present < n) continue;
    // Entries of the right end's position further on belong to this window too.
    size_t end = right + 1;
    while (end < all.size() && all[end].first == all[right].first) ++end;
    if (!shared_ || DistinctPositionsFor(all.begin() + static_cast<std::ptrdiff_t>(left),
                                         all.begin() + static_cast<std::ptrdiff_t>(end), n)) {
      return true;
    }
  }
  return false;
}

void PositionalSource::Advance(Xapian::docid from) {
  Xapian::docid did = from;
  // Every document costs position reads: the clock is read for each.
  while (clock_ == nullptr || !clock_->CheckNow()) {
    if (split_) {
      // Only documents with an uncovered term need the source.
      did = NextUncovered(did);
      if (did == 0) break;
    }
    if (!AlignFrom(did)) break;
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

namespace {

// The serialised form: numbers as 4 bytes, lowest first; a term as its
// length and its bytes.
void PutNumber(uint32_t n, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((n >> (8 * i)) & 0xff));
}

// Reads what PutNumber and a term wrote, checking every length against the
// bytes left.
class SerialReader {
 public:
  explicit SerialReader(const std::string& bytes) : bytes_(bytes) {}
  uint32_t Number() {
    if (bytes_.size() - at_ < 4) Fail();
    uint32_t n = 0;
    for (int i = 0; i < 4; ++i) n |= static_cast<uint32_t>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    at_ += 4;
    return n;
  }
  // A count of items of at least `item_bytes` bytes each.
  uint32_t Count(size_t item_bytes) {
    const uint32_t n = Number();
    if (n > (bytes_.size() - at_) / item_bytes) Fail();
    return n;
  }
  std::string Term() {
    const uint32_t length = Count(1);
    std::string term = bytes_.substr(at_, length);
    at_ += length;
    return term;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }
  [[noreturn]] static void Fail() {
    throw Xapian::SerialisationError("PositionalSource: damaged serialised form");
  }

 private:
  const std::string& bytes_;
  size_t at_ = 0;
};

constexpr uint32_t kNoCovered = 0xffffffffu;

}  // namespace

std::string PositionalSource::serialise() const {
  std::string out;
  PutNumber(static_cast<uint32_t>(mode_), &out);
  PutNumber(window_, &out);
  PutNumber(static_cast<uint32_t>(slots_.size()), &out);
  for (size_t s = 0; s < slots_.size(); ++s) {
    PutNumber(covered_[s] == kNoCoveredTerm ? kNoCovered : static_cast<uint32_t>(covered_[s]), &out);
    PutNumber(static_cast<uint32_t>(slots_[s].size()), &out);
    for (const std::string& term : slots_[s]) {
      PutNumber(static_cast<uint32_t>(term.size()), &out);
      out += term;
    }
  }
  return out;
}

PositionalSource* PositionalSource::unserialise(const std::string& serialised) const {
  SerialReader in(serialised);
  const uint32_t mode = in.Number();
  if (mode > static_cast<uint32_t>(Mode::kUnordered)) SerialReader::Fail();
  const Xapian::termcount window = in.Number();
  std::vector<std::vector<std::string>> slots(in.Count(8));
  std::vector<size_t> covered;
  for (std::vector<std::string>& slot : slots) {
    const uint32_t c = in.Number();
    covered.push_back(c == kNoCovered ? kNoCoveredTerm : c);
    slot.resize(in.Count(4));
    for (std::string& term : slot) term = in.Term();
    if (c != kNoCovered && c >= slot.size()) SerialReader::Fail();
  }
  if (!in.AtEnd()) SerialReader::Fail();
  return new PositionalSource(std::move(slots), static_cast<Mode>(mode), window,
                              std::move(covered), clock_);
}

Xapian::Query CopyOfQuery(const std::string& serialised, SearchClock* clock) {
  Xapian::Registry registry;
  registry.register_posting_source(
      PositionalSource({}, PositionalSource::Mode::kPhrase, 0, {}, clock));
  registry.register_posting_source(ClockGate(clock));
  return Xapian::Query::unserialise(serialised, registry);
}

}  // namespace vantrel
