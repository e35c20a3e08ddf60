#include "engine/posting_match.h"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "engine/document_indexer.h"
#include "engine/first_sorted.h"
#include "engine/posting_walk.h"

namespace vantrel {
namespace {

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

// The query as plain data, built on the searching thread: Xapian's query
// objects count their references without atomics, so the shards' threads
// must not copy them (which reading their parts does).
struct WalkNode {
  enum class Kind { kNothing, kEvery, kTerm, kOr, kAnd, kAndNot };
  Kind kind = Kind::kNothing;
  std::string term;                // kTerm
  std::vector<WalkNode> children;  // kOr, kAnd, kAndNot (the first less the others)
};

// nullopt for a query with a part posting lists cannot decide.
std::optional<WalkNode> ToWalkNode(const Xapian::Query& q) {
  WalkNode node;
  using K = WalkNode::Kind;
  switch (q.get_type()) {
    case Xapian::Query::LEAF_MATCH_NOTHING:
      return node;
    case Xapian::Query::LEAF_MATCH_ALL:
      node.kind = K::kEvery;
      return node;
    case Xapian::Query::LEAF_TERM:
      node.kind = K::kTerm;
      node.term = *q.get_terms_begin();
      return node;
    case Xapian::Query::OP_OR:
    case Xapian::Query::OP_SYNONYM:
      node.kind = K::kOr;
      break;
    case Xapian::Query::OP_AND:
    case Xapian::Query::OP_FILTER:
      node.kind = K::kAnd;
      break;
    case Xapian::Query::OP_AND_NOT:
      node.kind = K::kAndNot;
      break;
    case Xapian::Query::OP_SCALE_WEIGHT:
      if (q.get_num_subqueries() != 1) return std::nullopt;
      return ToWalkNode(q.get_subquery(0));
    default:
      return std::nullopt;  // positions, posting sources, value ranges, ...
  }
  if (q.get_num_subqueries() == 0) return std::nullopt;
  for (size_t i = 0; i < q.get_num_subqueries(); ++i) {
    std::optional<WalkNode> child = ToWalkNode(q.get_subquery(i));
    if (!child.has_value()) return std::nullopt;
    node.children.push_back(std::move(*child));
  }
  return node;
}

class Evaluator {
 public:
  Evaluator(const Xapian::Database& db, SearchClock* clock)
      : db_(db), last_(db.get_lastdocid()), clock_(clock) {}

  Bitmap Eval(const WalkNode& node) {
    using K = WalkNode::Kind;
    Bitmap out(last_);
    switch (node.kind) {
      case K::kNothing:
        break;
      case K::kEvery:
        WalkInto(std::string(), &out);  // the empty term lists every document
        break;
      case K::kTerm:
        WalkInto(node.term, &out);
        break;
      case K::kOr: {
        std::vector<const std::string*> terms;  // walked into `out`, no bitmap of their own
        for (const WalkNode& child : node.children) {
          if (child.kind == K::kTerm) {
            terms.push_back(&child.term);
          } else {
            out.Or(Eval(child));
          }
        }
        std::sort(terms.begin(), terms.end(),
                  [](const std::string* a, const std::string* b) { return *a < *b; });
        for (const std::string* term : terms) WalkInto(*term, &out);
        break;
      }
      case K::kAnd:
        out = Eval(node.children[0]);
        for (size_t i = 1; i < node.children.size(); ++i) out.And(Eval(node.children[i]));
        break;
      case K::kAndNot:
        out = Eval(node.children[0]);
        for (size_t i = 1; i < node.children.size(); ++i) out.AndNot(Eval(node.children[i]));
        break;
    }
    return out;
  }

  // The OR of `terms`, with each term's count of postings (its frequency)
  // in `frequencies`, in the order of `terms`.
  Bitmap EvalSynonym(const std::vector<std::string>& terms,
                     std::vector<Xapian::doccount>* frequencies) {
    Bitmap out(last_);
    frequencies->resize(terms.size());
    std::vector<size_t> order(terms.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&terms](size_t a, size_t b) { return terms[a] < terms[b]; });
    for (size_t i : order) (*frequencies)[i] = WalkInto(terms[i], &out);
    return out;
  }

  bool cut_off() const { return cut_off_; }

 private:
  // Sets the bit of every posting of `term`; returns the count of postings.
  // Terms are walked in byte order (posting_walk.h says why).
  Xapian::doccount WalkInto(const std::string& term, Bitmap* out) {
    return WalkPostings(db_, term, clock_, &cut_off_, [&](const Xapian::PostingIterator& p) {
      const Xapian::docid id = *p;
      if (id <= last_) out->Set(id);
    });
  }

  const Xapian::Database& db_;
  const Xapian::docid last_;
  SearchClock* clock_;
  bool cut_off_ = false;
};

// A match: its time stamp and its id in the combined database.
using Found = std::pair<uint32_t, Xapian::docid>;

bool Newer(const Found& a, const Found& b) {
  return a.first != b.first ? a.first > b.first : a.second < b.second;
}

// Keeps the `limit` newest of `found`, newest first.
void KeepNewest(size_t limit, std::vector<Found>* found) { KeepFirstSorted(limit, found, Newer); }

// What one shard's walk gives: its newest matches and its count, and for a
// large synonym each term's frequency in the shard.
struct ShardMatch {
  std::vector<Found> newest;
  Xapian::doccount matches = 0;
  std::vector<Xapian::doccount> frequencies;
  bool cut_off = false;
};

// Walks shard `index` of `count`; `synonym` (may be null) holds the terms
// of a query that DirectSynonymTerms takes. A document's id in the
// combined database is (id in the shard - 1) * count + index + 1.
void MatchShard(const Xapian::Database& shard, uint32_t index, uint32_t count,
                const WalkNode& query, const SynonymTerms* synonym, size_t limit,
                std::optional<TimeTable>* times, SearchClock clock, ShardMatch* out) {
  if (!times->has_value()) *times = ReadTimeTable(shard);
  Evaluator evaluator(shard, &clock);
  const Bitmap matches = synonym != nullptr
                             ? evaluator.EvalSynonym(synonym->in_order, &out->frequencies)
                             : evaluator.Eval(query);
  out->cut_off = evaluator.cut_off();
  out->matches = static_cast<Xapian::doccount>(matches.Count());
  out->newest.reserve(out->matches);
  matches.ForEach([&](Xapian::docid id) {
    out->newest.emplace_back(TimeOf(**times, id), (id - 1) * count + index + 1);
  });
  KeepNewest(limit, &out->newest);
}

// What weighing the synonym needs: the shards' frequencies, and the kept
// documents, each shard reading its own side by side. nullopt when a walk
// was cut short.
std::optional<SynonymStats> GatherSynonymStats(const std::vector<Xapian::Database>& shards,
                                               const SynonymTerms& terms,
                                               std::vector<ShardMatch>* parts,
                                               const std::vector<Xapian::docid>& kept,
                                               TaskPool* pool) {
  const uint32_t count = static_cast<uint32_t>(shards.size());
  SynonymStats stats;
  for (ShardMatch& part : *parts) {
    if (part.cut_off) return std::nullopt;
    stats.frequencies.push_back(std::move(part.frequencies));
  }
  std::vector<std::vector<Xapian::docid>> local_ids(count);
  std::vector<std::vector<size_t>> places(count);  // where in `kept` each local id is
  for (size_t k = 0; k < kept.size(); ++k) {
    const uint32_t s = (kept[k] - 1) % count;
    local_ids[s].push_back((kept[k] - 1) / count + 1);
    places[s].push_back(k);
  }
  std::vector<std::vector<SynonymDocument>> read(count);
  RunEach(count, pool, [&](uint32_t s) { read[s] = ReadSynonymDocuments(shards[s], terms, local_ids[s]); });
  stats.documents.resize(kept.size());
  for (uint32_t s = 0; s < count; ++s) {
    for (size_t j = 0; j < places[s].size(); ++j) stats.documents[places[s][j]] = read[s][j];
  }
  return stats;
}

}  // namespace

bool DenseEnough(const std::vector<Xapian::Database>& shards) {
  for (const Xapian::Database& shard : shards) {
    if (shard.get_lastdocid() > 16 * static_cast<uint64_t>(shard.get_doccount()) + 65536) return false;
  }
  return true;
}

TimeTable ReadTimeTable(const Xapian::Database& db) {
  TimeTable table;
  table.time_of.assign(static_cast<size_t>(db.get_lastdocid()) + 1, 0);
  for (Xapian::ValueIterator it = db.valuestream_begin(kTimeSlot); it != db.valuestream_end(kTimeSlot);
       ++it) {
    const Xapian::docid id = it.get_docid();
    if (id < table.time_of.size()) table.time_of[id] = TimeOfValue(*it);
  }
  return table;
}

uint32_t TimeOfValue(const std::string& v) {
  if (v.size() != 4) return 0;
  return static_cast<uint32_t>(static_cast<unsigned char>(v[0])) << 24 |
         static_cast<uint32_t>(static_cast<unsigned char>(v[1])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(v[2])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(v[3]));
}

bool PostingMatchable(const Xapian::Query& query) { return ToWalkNode(query).has_value(); }

std::optional<NewestMatch> MatchNewestByPostings(const std::vector<Xapian::Database>& shards,
                                                 const Xapian::Query& query, size_t limit,
                                                 std::vector<std::optional<TimeTable>>* times,
                                                 SearchClock* clock, TaskPool* pool) {
  const std::optional<WalkNode> walk = ToWalkNode(query);
  if (!walk.has_value() || !DenseEnough(shards)) return std::nullopt;
  const uint32_t count = static_cast<uint32_t>(shards.size());
  const std::optional<SynonymTerms> synonym = DirectSynonymTerms(query);
  times->resize(count);
  std::vector<ShardMatch> parts(count);
  RunEach(count, pool, [&](uint32_t i) {
    MatchShard(shards[i], i, count, *walk, synonym.has_value() ? &*synonym : nullptr, limit,
               &(*times)[i], clock->Twin(), &parts[i]);
  });
  NewestMatch result;
  std::vector<Found> newest;
  for (ShardMatch& part : parts) {
    if (part.cut_off) clock->CheckNow();
    result.matches += part.matches;
    newest.insert(newest.end(), part.newest.begin(), part.newest.end());
  }
  KeepNewest(limit, &newest);
  result.kept.reserve(newest.size());
  for (const Found& f : newest) result.kept.push_back(f.second);
  if (synonym.has_value()) {
    result.synonym = GatherSynonymStats(shards, *synonym, &parts, result.kept, pool);
  }
  return result;
}

}  // namespace vantrel
