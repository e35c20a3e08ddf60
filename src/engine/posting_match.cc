#include "engine/posting_match.h"

#include <algorithm>
#include <string>
#include <utility>

#include "engine/document_indexer.h"

namespace vantrel {
namespace {

// Postings walked between two looks at the search's clock.
constexpr uint32_t kPostingsPerClockCheck = 4096;

// One bit per document id.
class Bitmap {
 public:
  explicit Bitmap(Xapian::docid last) : words_(last / 64 + 1, 0) {}

  void Set(Xapian::docid id) { words_[id >> 6] |= uint64_t{1} << (id & 63); }
  void Or(const Bitmap& other) {
    for (size_t i = 0; i < words_.size(); ++i) words_[i] |= other.words_[i];
  }
  void And(const Bitmap& other) {
    for (size_t i = 0; i < words_.size(); ++i) words_[i] &= other.words_[i];
  }
  void AndNot(const Bitmap& other) {
    for (size_t i = 0; i < words_.size(); ++i) words_[i] &= ~other.words_[i];
  }
  size_t Count() const {
    size_t n = 0;
    for (uint64_t w : words_) n += static_cast<size_t>(__builtin_popcountll(w));
    return n;
  }
  // Calls `f(id)` for every set bit, in id order.
  template <typename F>
  void ForEach(F f) const {
    for (size_t i = 0; i < words_.size(); ++i) {
      for (uint64_t w = words_[i]; w != 0; w &= w - 1) {
        f(static_cast<Xapian::docid>(i * 64 + static_cast<size_t>(__builtin_ctzll(w))));
      }
    }
  }

 private:
  std::vector<uint64_t> words_;
};

class Evaluator {
 public:
  Evaluator(const Xapian::Database& db, SearchClock* clock)
      : db_(db), last_(db.get_lastdocid()), clock_(clock) {}

  Bitmap Eval(const Xapian::Query& q) {
    Bitmap out(last_);
    switch (q.get_type()) {
      case Xapian::Query::LEAF_MATCH_NOTHING:
        break;
      case Xapian::Query::LEAF_MATCH_ALL:
        WalkInto(std::string(), &out);  // the empty term lists every document
        break;
      case Xapian::Query::LEAF_TERM:
        WalkInto(*q.get_terms_begin(), &out);
        break;
      case Xapian::Query::OP_OR:
      case Xapian::Query::OP_SYNONYM:
        for (size_t i = 0; i < q.get_num_subqueries(); ++i) {
          const Xapian::Query sub = q.get_subquery(i);
          if (sub.get_type() == Xapian::Query::LEAF_TERM) {
            WalkInto(*sub.get_terms_begin(), &out);  // no bitmap of its own
          } else {
            out.Or(Eval(sub));
          }
        }
        break;
      case Xapian::Query::OP_AND:
      case Xapian::Query::OP_FILTER:
        out = Eval(q.get_subquery(0));
        for (size_t i = 1; i < q.get_num_subqueries(); ++i) out.And(Eval(q.get_subquery(i)));
        break;
      case Xapian::Query::OP_AND_NOT:
        out = Eval(q.get_subquery(0));
        for (size_t i = 1; i < q.get_num_subqueries(); ++i) out.AndNot(Eval(q.get_subquery(i)));
        break;
      case Xapian::Query::OP_SCALE_WEIGHT:
        out = Eval(q.get_subquery(0));
        break;
      default:
        break;  // PostingMatchable keeps every other kind away
    }
    return out;
  }

  bool cut_off() const { return cut_off_; }

 private:
  void WalkInto(const std::string& term, Bitmap* out) {
    if (cut_off_ || (cut_off_ = clock_->Expired())) return;
    uint32_t since_check = 0;
    for (Xapian::PostingIterator p = db_.postlist_begin(term), end = db_.postlist_end(term); p != end;
         ++p) {
      const Xapian::docid id = *p;
      if (id <= last_) out->Set(id);
      if (++since_check == kPostingsPerClockCheck) {
        since_check = 0;
        if ((cut_off_ = clock_->CheckNow())) return;
      }
    }
  }

  const Xapian::Database& db_;
  const Xapian::docid last_;
  SearchClock* clock_;
  bool cut_off_ = false;
};

uint32_t TimeOf(const TimeTable& times, Xapian::docid id) {
  return id < times.time_of.size() ? times.time_of[id] : 0;
}

}  // namespace

TimeTable ReadTimeTable(const Xapian::Database& db) {
  TimeTable table;
  table.time_of.assign(static_cast<size_t>(db.get_lastdocid()) + 1, 0);
  for (Xapian::ValueIterator it = db.valuestream_begin(kTimeSlot); it != db.valuestream_end(kTimeSlot);
       ++it) {
    const std::string v = *it;
    const Xapian::docid id = it.get_docid();
    if (v.size() != 4 || id >= table.time_of.size()) continue;
    table.time_of[id] = static_cast<uint32_t>(static_cast<unsigned char>(v[0])) << 24 |
                        static_cast<uint32_t>(static_cast<unsigned char>(v[1])) << 16 |
                        static_cast<uint32_t>(static_cast<unsigned char>(v[2])) << 8 |
                        static_cast<uint32_t>(static_cast<unsigned char>(v[3]));
  }
  return table;
}

bool PostingMatchable(const Xapian::Query& query) {
  switch (query.get_type()) {
    case Xapian::Query::LEAF_MATCH_NOTHING:
    case Xapian::Query::LEAF_MATCH_ALL:
    case Xapian::Query::LEAF_TERM:
      return true;
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_SYNONYM:
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_FILTER:
    case Xapian::Query::OP_AND_NOT:
    case Xapian::Query::OP_SCALE_WEIGHT:
      if (query.get_num_subqueries() == 0) return false;
      for (size_t i = 0; i < query.get_num_subqueries(); ++i) {
        if (!PostingMatchable(query.get_subquery(i))) return false;
      }
      return true;
    default:
      return false;  // positions, posting sources, value ranges, ...
  }
}

std::optional<NewestMatch> MatchNewestByPostings(const Xapian::Database& db,
                                                 const Xapian::Query& query, size_t limit,
                                                 const TimeTable& times, SearchClock* clock) {
  if (!PostingMatchable(query)) return std::nullopt;
  Evaluator evaluator(db, clock);
  const Bitmap matches = evaluator.Eval(query);
  NewestMatch result;
  result.cut_off = evaluator.cut_off();
  result.matches = static_cast<Xapian::doccount>(matches.Count());
  std::vector<std::pair<uint32_t, Xapian::docid>> found;
  found.reserve(result.matches);
  matches.ForEach([&](Xapian::docid id) { found.emplace_back(TimeOf(times, id), id); });
  const auto newer = [](const std::pair<uint32_t, Xapian::docid>& a,
                        const std::pair<uint32_t, Xapian::docid>& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  };
  const size_t keep = std::min(limit, found.size());
  if (keep < found.size()) {
    std::nth_element(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(keep), found.end(),
                     newer);
  }
  std::sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(keep), newer);
  result.kept.reserve(keep);
  for (size_t i = 0; i < keep; ++i) result.kept.push_back(found[i].second);
  return result;
}

}  // namespace vantrel
