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
  if (times_from_ != nullptr) {
    noted_.push_back(Noted{doc.get_docid(), weight});
    if (noted_.size() >= batch_) ReadNotedTimes();
  } else {
    Seen seen{newest_first_ ? doc.get_value(kTimeSlot) : std::string(), weight,
              place_.Combined(doc.get_docid()), std::string()};
    // The name is read only for a document that is kept.
    if (by_name_ && WouldKeep(seen)) seen.name = doc.get_value(kNameSlot);
    Keep(std::move(seen));
  }
  if (clock_->Expired()) throw SearchCutOff{};
}

void PartialHits::ReadNotedTimes() {
  if (noted_.empty()) return;
  std::sort(noted_.begin(), noted_.end(),
            [](const Noted& a, const Noted& b) { return a.local < b.local; });
  Xapian::ValueIterator it = times_from_->valuestream_begin(kTimeSlot);
  const Xapian::ValueIterator end = times_from_->valuestream_end(kTimeSlot);
  for (const Noted& n : noted_) {
    std::string time;  // none stored: empty, as the document's own value reads
    if (it != end) it.skip_to(n.local);
    if (it != end && it.get_docid() == n.local) time = *it;
    Keep(Seen{std::move(time), n.weight, place_.Combined(n.local), std::string()});
  }
  noted_.clear();
}

void GiveCombinedIds(const Xapian::Database& db, std::vector<Hit>* hits) {
  std::vector<Hit> found;
  found.reserve(hits->size());
  for (Hit& h : *hits) {
    const std::string term = IdTermForName(h.name);
    Xapian::PostingIterator p = db.postlist_begin(term);
    if (p == db.postlist_end(term)) continue;
    h.id = *p;
    found.push_back(std::move(h));
  }
  *hits = std::move(found);
}

void PartialHits::Absorb(PartialHits* other) {
  other->ReadNotedTimes();
  for (Seen& s : other->seen_) Keep(std::move(s));
  other->seen_.clear();
}

std::vector<Hit> PartialHits::Take() {
  ReadNotedTimes();
  std::sort(seen_.begin(), seen_.end(), Better);
  std::vector<Hit> hits;
  hits.reserve(seen_.size());
  for (Seen& s : seen_) hits.push_back(Hit{s.id, ScoreOf(s.weight), std::move(s.name)});
  seen_.clear();
  return hits;
}

bool PartialHits::WouldKeep(const Seen& seen) const {
  return seen_.size() < keep_ || (keep_ > 0 && Better(seen, seen_.front()));
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
