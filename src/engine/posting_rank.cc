#include "engine/posting_rank.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/first_sorted.h"
#include "engine/partial_hits.h"
#include "engine/posting_match.h"
#include "engine/posting_walk.h"
#include "engine/synonym_scores.h"

namespace vantrel {
namespace {

// The query as plain data (Xapian's query objects count their references
// without atomics, so the shards' threads must not copy them).
struct RankPlan {
  enum class Op { kLeaf, kAnd, kOr, kAndNot };
  Op op = Op::kLeaf;
  std::vector<SynonymTerms> leaves;  // one for kLeaf, two otherwise
};

bool ShareATerm(const SynonymTerms& a, const SynonymTerms& b) {
  size_t i = 0, j = 0;
  while (i < a.sorted.size() && j < b.sorted.size()) {
    if (a.sorted[i] == b.sorted[j]) return true;
    a.sorted[i] < b.sorted[j] ? ++i : ++j;
  }
  return false;
}

std::optional<RankPlan> PlanOf(const Xapian::Query& query) {
  RankPlan plan;
  if (std::optional<SynonymTerms> leaf = WeighedAsOneTerm(query)) {
    plan.leaves.push_back(std::move(*leaf));
    return plan;
  }
  using Q = Xapian::Query;
  switch (query.get_type()) {
    case Q::OP_AND:
      plan.op = RankPlan::Op::kAnd;
      break;
    case Q::OP_OR:
      plan.op = RankPlan::Op::kOr;
      break;
    case Q::OP_AND_NOT:
      plan.op = RankPlan::Op::kAndNot;
      break;
    default:
      return std::nullopt;
  }
  if (query.get_num_subqueries() != 2) return std::nullopt;
  for (size_t i = 0; i < 2; ++i) {
    std::optional<SynonymTerms> leaf = WeighedAsOneTerm(query.get_subquery(i));
    if (!leaf.has_value()) return std::nullopt;
    plan.leaves.push_back(std::move(*leaf));
  }
  if (ShareATerm(plan.leaves[0], plan.leaves[1])) return std::nullopt;
  return plan;
}

// What one shard's walk of one leaf adds up, by the shard's own ids.
struct LeafSums {
  std::vector<Xapian::termcount> wdf;         // the terms' wdf summed per document
  std::vector<uint64_t> matched;              // a bit per matched document
  std::vector<Xapian::doccount> frequencies;  // each term's postings, in query order
};

// One shard's walk and what it keeps.
struct ShardRank {
  explicit ShardRank(const SearchClock& search_clock) : clock(search_clock.Twin()) {}
  SearchClock clock;
  std::vector<LeafSums> leaves;
  std::vector<uint64_t> matched;  // the query's matches
  std::vector<WeighedHit> best;   // its best `limit`
};

// Walks every term's postings in byte order (posting_walk.h says why),
// summing their wdf per document only when the leaf is weighed.
void WalkLeaf(const Xapian::Database& shard, const SynonymTerms& terms, bool weighed,
              SearchClock* clock, LeafSums* sums) {
  const Xapian::docid last = shard.get_lastdocid();
  if (weighed) sums->wdf.assign(static_cast<size_t>(last) + 1, 0);
  sums->matched.assign(last / 64 + 1, 0);
  sums->frequencies.assign(terms.in_order.size(), 0);
  bool cut_off = false;
  for (size_t k = 0; k < terms.sorted.size(); ++k) {
    sums->frequencies[terms.order_of_sorted[k]] = WalkPostings(
        shard, terms.sorted[k], clock, &cut_off, [&](const Xapian::PostingIterator& p) {
          const Xapian::docid id = *p;
          if (id > last) return;
          if (weighed) sums->wdf[id] += p.get_wdf();
          sums->matched[id >> 6] |= uint64_t{1} << (id & 63);
        });
  }
}

void WalkShard(const Xapian::Database& shard, const RankPlan& plan, ShardRank* rank) {
  rank->leaves.resize(plan.leaves.size());
  for (size_t i = 0; i < plan.leaves.size(); ++i) {
    // What AND NOT leaves out weighs nothing: only its matches count.
    const bool weighed = i == 0 || plan.op != RankPlan::Op::kAndNot;
    WalkLeaf(shard, plan.leaves[i], weighed, &rank->clock, &rank->leaves[i]);
  }
  rank->matched = rank->leaves[0].matched;
  if (plan.op == RankPlan::Op::kLeaf) return;
  const std::vector<uint64_t>& other = rank->leaves[1].matched;
  for (size_t w = 0; w < rank->matched.size(); ++w) {
    switch (plan.op) {
      case RankPlan::Op::kAnd:
        rank->matched[w] &= other[w];
        break;
      case RankPlan::Op::kOr:
        rank->matched[w] |= other[w];
        break;
      case RankPlan::Op::kAndNot:
        rank->matched[w] &= ~other[w];
        break;
      case RankPlan::Op::kLeaf:
        break;
    }
  }
}

// A matched document's weight, as Xapian's postlist tree adds it up: a
// leaf's own; AND and OR both leaves' (a leaf that does not match the
// document has wdf 0 there and weighs 0); AND NOT the first's.
double WeightOf(const RankPlan& plan, const std::vector<SynonymWeigher>& weighers,
                const ShardRank& rank, Xapian::docid id, Xapian::termcount length) {
  const double first = weighers[0].Weight(rank.leaves[0].wdf[id], length);
  if (plan.op == RankPlan::Op::kLeaf || plan.op == RankPlan::Op::kAndNot) return first;
  return first + weighers[1].Weight(rank.leaves[1].wdf[id], length);
}

// Xapian's order of a ranked match: weight descending, then document id. A
// function object, so that the sorts of many hits inline it.
struct Better {
  bool operator()(const WeighedHit& a, const WeighedHit& b) const {
    return a.weight != b.weight ? a.weight > b.weight : a.id < b.id;
  }
};

void KeepBest(size_t limit, std::vector<WeighedHit>* hits) {
  if (hits->size() <= limit) return;
  std::nth_element(hits->begin(), hits->begin() + static_cast<std::ptrdiff_t>(limit), hits->end(),
                   Better());
  hits->resize(limit);
}

// Sorts `hits`, given in rising id order, into Xapian's order (weight
// descending, equal weights by id) with a stable radix sort on the weights'
// bits, 11 bits a pass, skipping the passes where every weight has the same
// digit: a search that keeps every hit sorts hundreds of thousands, where
// a comparison sort took a quarter of the search. A weight below zero or
// not a number (never from these weighers) leaves it to a comparison sort.
void SortByWeightFromIdOrder(std::vector<WeighedHit>* hits) {
  constexpr int kDigitBits = 11;
  constexpr size_t kBuckets = size_t{1} << kDigitBits;
  constexpr int kPasses = (64 + kDigitBits - 1) / kDigitBits;
  // For weights of +0 and above the bits rise with the weight; inverted,
  // they fall.
  auto key_of = [](double weight) { return ~std::bit_cast<uint64_t>(weight); };
  auto digit_of = [](uint64_t key, int pass) {
    return static_cast<size_t>(key >> (pass * kDigitBits)) & (kBuckets - 1);
  };
  const size_t n = hits->size();
  std::vector<size_t> counts(kPasses * kBuckets, 0);
  for (const WeighedHit& h : *hits) {
    if (!(h.weight >= 0) || std::signbit(h.weight)) {
      std::sort(hits->begin(), hits->end(), Better());
      return;
    }
    const uint64_t key = key_of(h.weight);
    for (int pass = 0; pass < kPasses; ++pass) ++counts[pass * kBuckets + digit_of(key, pass)];
  }
  if (n < 2) return;
  std::vector<WeighedHit> other(n);
  std::vector<WeighedHit>* from = hits;
  std::vector<WeighedHit>* to = &other;
  for (int pass = 0; pass < kPasses; ++pass) {
    size_t* place = &counts[pass * kBuckets];
    if (place[digit_of(key_of(from->front().weight), pass)] == n) continue;  // one digit
    size_t next = 0;
    for (size_t d = 0; d < kBuckets; ++d) next += std::exchange(place[d], next);
    for (const WeighedHit& h : *from) (*to)[place[digit_of(key_of(h.weight), pass)]++] = h;
    std::swap(from, to);
  }
  if (from != hits) hits->swap(*from);
}

// Weighs the shard's matched documents and keeps the best. `weighers[i]`
// weighs leaf i in this shard. Documents come in rising id order, so once
// `limit` are kept, one that weighs no more than the least of them can no
// longer enter (it would follow an equal weight by id).
void WeighShard(const RankPlan& plan, const std::vector<SynonymWeigher>& weighers,
                const LengthTable& lengths, ShardPlace place, size_t limit, ShardRank* rank) {
  const size_t known = lengths.length_of.size();
  bool full = false;
  double least = 0;
  for (size_t word = 0; word < rank->matched.size(); ++word) {
    for (uint64_t bits = rank->matched[word]; bits != 0; bits &= bits - 1) {
      const size_t id = word * 64 + static_cast<size_t>(__builtin_ctzll(bits));
      const Xapian::termcount length = id < known ? lengths.length_of[id] : 0;
      const double weight = WeightOf(plan, weighers, *rank, static_cast<Xapian::docid>(id), length);
      if (full && weight <= least) continue;
      rank->best.push_back(WeighedHit{weight, place.Combined(static_cast<Xapian::docid>(id))});
      // Trimmed as it grows, so that a match of every document stays small.
      if (rank->best.size() >= 2 * limit + 1024) {
        KeepBest(limit, &rank->best);
        full = true;
        least = std::min_element(
                    rank->best.begin(), rank->best.end(),
                    [](const WeighedHit& a, const WeighedHit& b) { return a.weight < b.weight; })
                    ->weight;
      }
    }
  }
  // Sorted here, on the shard's own thread: the merge of the shards' sorted
  // lists takes one pass. Untrimmed, the kept hits are still in id order.
  if (full) {
    KeepFirstSorted(limit, &rank->best, Better());
  } else {
    SortByWeightFromIdOrder(&rank->best);
    if (rank->best.size() > limit) rank->best.resize(limit);
  }
  rank->leaves.clear();
}

Xapian::doccount CountMatched(const ShardRank& rank) {
  Xapian::doccount n = 0;
  for (uint64_t w : rank.matched) n += static_cast<Xapian::doccount>(__builtin_popcountll(w));
  return n;
}

// The best `limit` of every shard's (each sorted), and the shards' counts
// added up.
WeighedHits MergeShards(std::vector<ShardRank>* shards, size_t limit) {
  WeighedHits out;
  size_t total = 0;
  for (const ShardRank& rank : *shards) total += rank.best.size();
  out.hits.reserve(total);
  for (ShardRank& rank : *shards) {
    out.matches += CountMatched(rank);
    MergeSortedRun(&rank.best, &out.hits, Better());
    rank.best = {};
  }
  if (out.hits.size() > limit) out.hits.resize(limit);
  return out;
}

// Each shard's weigher of each leaf (by shard, then leaf); empty for an
// empty index.
std::vector<std::vector<SynonymWeigher>> WeighersOf(const Xapian::Database& db,
                                                    const std::vector<Xapian::Database>& shards,
                                                    const RankPlan& plan,
                                                    const std::vector<ShardRank>& ranks) {
  std::vector<std::vector<SynonymWeigher>> by_shard(shards.size());
  for (size_t leaf = 0; leaf < plan.leaves.size(); ++leaf) {
    std::vector<std::vector<Xapian::doccount>> frequencies;
    for (const ShardRank& rank : ranks) frequencies.push_back(rank.leaves[leaf].frequencies);
    const std::vector<SynonymWeigher> weighers = SynonymWeighers(db, shards, frequencies);
    if (weighers.empty()) return {};
    for (size_t s = 0; s < shards.size(); ++s) by_shard[s].push_back(weighers[s]);
  }
  return by_shard;
}

}  // namespace

LengthTable ReadLengthTable(const Xapian::Database& db) {
  LengthTable table;
  const Xapian::docid last = db.get_lastdocid();
  table.length_of.assign(static_cast<size_t>(last) + 1, 0);
  for (Xapian::PostingIterator it = db.postlist_begin(std::string()),
                               end = db.postlist_end(std::string());
       it != end; ++it) {
    const Xapian::docid id = *it;
    if (id <= last) table.length_of[id] = it.get_doclength();
  }
  return table;
}

std::optional<WeighedHits> RankByPostings(const Xapian::Database& db,
                                          const std::vector<Xapian::Database>& shards,
                                          const Xapian::Query& query, Xapian::doccount limit,
                                          std::vector<std::optional<LengthTable>>* lengths,
                                          SearchClock* clock, TaskPool* pool) {
  const std::optional<RankPlan> plan = PlanOf(query);
  if (!plan.has_value() || shards.empty() || limit == 0 || !DenseEnough(shards)) {
    return std::nullopt;
  }
  const uint32_t count = static_cast<uint32_t>(shards.size());
  std::vector<ShardRank> ranks(count, ShardRank(*clock));
  lengths->resize(count);
  RunEach(count, pool, [&](uint32_t s) {
    if (!(*lengths)[s].has_value()) (*lengths)[s] = ReadLengthTable(shards[s]);
    WalkShard(shards[s], *plan, &ranks[s]);
  });
  for (const ShardRank& rank : ranks) PassExpiry(rank.clock, clock);
  const std::vector<std::vector<SynonymWeigher>> weighers = WeighersOf(db, shards, *plan, ranks);
  if (weighers.empty()) return WeighedHits{};  // an empty index
  RunEach(count, pool, [&](uint32_t s) {
    WeighShard(*plan, weighers[s], *(*lengths)[s], ShardPlace{s, count}, limit, &ranks[s]);
  });
  return MergeShards(&ranks, limit);
}

}  // namespace vantrel
