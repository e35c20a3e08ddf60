#include "engine/partial_hits.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/document_indexer.h"

namespace vantrel {

int32_t ScoreOf(double weight) {
  double scaled = std::round(weight * 100.0);
  if (!(scaled >= 1.0)) return 1;
  if (scaled > 2147483647.0) return 2147483647;
  return static_cast<int32_t>(scaled);
}

void PartialHits::operator()(const Xapian::Document& doc, double weight) {
  Keep(Seen{newest_first_ ? doc.get_value(kTimeSlot) : std::string(), weight,
            place_.Combined(doc.get_docid())});
  if (clock_->Expired()) throw SearchCutOff{};
}

void PartialHits::Absorb(PartialHits* other) {
  for (Seen& s : other->seen_) Keep(std::move(s));
  other->seen_.clear();
}

std::vector<Hit> PartialHits::Take() {
  std::sort(seen_.begin(), seen_.end(), Better);
  std::vector<Hit> hits;
  hits.reserve(seen_.size());
  for (const Seen& s : seen_) hits.push_back(Hit{s.id, ScoreOf(s.weight), std::string()});
  seen_.clear();
  return hits;
}

void PartialHits::Keep(Seen seen) {
  if (seen_.size() < keep_) {
    seen_.push_back(std::move(seen));
    std::push_heap(seen_.begin(), seen_.end(), Better);
  } else if (keep_ > 0 && Better(seen, seen_.front())) {
    std::pop_heap(seen_.begin(), seen_.end(), Better);
    seen_.back() = std::move(seen);
    std::push_heap(seen_.begin(), seen_.end(), Better);
  }
}

bool PartialHits::Better(const Seen& a, const Seen& b) {
  if (a.time != b.time) return a.time > b.time;
  if (a.weight != b.weight) return a.weight > b.weight;
  return a.id < b.id;
}

}  // namespace vantrel
