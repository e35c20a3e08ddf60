#include "engine/synonym_rank.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/partial_hits.h"
#include "engine/posting_match.h"
#include "engine/synonym_scores.h"

namespace vantrel {
namespace {

// Postings walked between two looks at the search's clock.
constexpr uint32_t kPostingsPerClockCheck = 4096;

// What one shard's walk adds up, by the shard's own document ids.
struct ShardSums {
  explicit ShardSums(const SearchClock& search_clock) : clock(search_clock.Twin()) {}
  SearchClock clock;
  std::vector<Xapian::termcount> wdf;         // the terms' wdf summed per document
  std::vector<uint64_t> matched;              // a bit per matched document
  std::vector<Xapian::doccount> frequencies;  // each term's postings, in query order
  std::vector<RankedHit> best;                // its best `limit`, combined ids
};

// Walks every term's postings in byte order. A frequency look-up before each
// opens its list from the cursor the look-up left (posting_match.cc).
void WalkShard(const Xapian::Database& shard, const SynonymTerms& terms, ShardSums* sums) {
  const Xapian::docid last = shard.get_lastdocid();
  sums->wdf.assign(static_cast<size_t>(last) + 1, 0);
  sums->matched.assign(last / 64 + 1, 0);
  sums->frequencies.assign(terms.in_order.size(), 0);
  uint32_t since_check = 0;
  for (size_t k = 0; k < terms.sorted.size(); ++k) {
    if (sums->clock.CheckNow()) return;
    const std::string& term = terms.sorted[k];
    shard.get_termfreq(term);
    Xapian::doccount postings = 0;
    for (Xapian::PostingIterator p = shard.postlist_begin(term), end = shard.postlist_end(term);
         p != end; ++p) {
      const Xapian::docid id = *p;
      ++postings;
      if (id <= last) {
        sums->wdf[id] += p.get_wdf();
        sums->matched[id >> 6] |= uint64_t{1} << (id & 63);
      }
      if (++since_check == kPostingsPerClockCheck) {
        since_check = 0;
        if (sums->clock.CheckNow()) break;
      }
    }
    sums->frequencies[terms.order_of_sorted[k]] = postings;
  }
}

// Xapian's order of a ranked match: weight descending, then document id.
bool Better(const RankedHit& a, const RankedHit& b) {
  return a.weight != b.weight ? a.weight > b.weight : a.id < b.id;
}

void KeepBest(size_t limit, std::vector<RankedHit>* hits) {
  if (hits->size() <= limit) return;
  std::nth_element(hits->begin(), hits->begin() + static_cast<std::ptrdiff_t>(limit), hits->end(),
                   Better);
  hits->resize(limit);
}

// Weighs the shard's matched documents, their lengths read from the shard's
// length list (the empty term's postings) in id order, and keeps the best.
void WeighShard(const Xapian::Database& shard, const SynonymWeigher& weigher, ShardPlace place,
                size_t limit, ShardSums* sums) {
  Xapian::PostingIterator it = shard.postlist_begin(std::string());
  const Xapian::PostingIterator end = shard.postlist_end(std::string());
  for (size_t word = 0; word < sums->matched.size() && it != end; ++word) {
    for (uint64_t bits = sums->matched[word]; bits != 0 && it != end; bits &= bits - 1) {
      const Xapian::docid id =
          static_cast<Xapian::docid>(word * 64 + static_cast<size_t>(__builtin_ctzll(bits)));
      it.skip_to(id);
      if (it == end || *it != id) continue;
      const double weight = weigher.Weight(sums->wdf[id], it.get_doclength());
      sums->best.push_back(RankedHit{place.Combined(id), weight, std::string()});
      // Trimmed as it grows, so that a match of every document stays small.
      if (sums->best.size() >= 2 * limit + 1024) KeepBest(limit, &sums->best);
    }
  }
  KeepBest(limit, &sums->best);
  sums->wdf = {};
}

Xapian::doccount CountMatched(const ShardSums& sums) {
  Xapian::doccount n = 0;
  for (uint64_t w : sums.matched) n += static_cast<Xapian::doccount>(__builtin_popcountll(w));
  return n;
}

// The best `limit` of every shard's, and the shards' counts added up.
RankedHits MergeShards(std::vector<ShardSums>* shards, size_t limit) {
  RankedHits out;
  for (ShardSums& sums : *shards) {
    out.matches += CountMatched(sums);
    out.hits.insert(out.hits.end(), sums.best.begin(), sums.best.end());
  }
  const size_t kept = std::min(out.hits.size(), limit);
  std::partial_sort(out.hits.begin(), out.hits.begin() + static_cast<std::ptrdiff_t>(kept),
                    out.hits.end(), Better);
  out.hits.resize(kept);
  return out;
}

}  // namespace

std::optional<RankedHits> RankSynonymByPostings(const Xapian::Database& db,
                                                const std::vector<Xapian::Database>& shards,
                                                const Xapian::Query& query, Xapian::doccount limit,
                                                SearchClock* clock, TaskPool* pool) {
  const std::optional<SynonymTerms> terms = DirectSynonymTerms(query);
  if (!terms.has_value() || shards.empty() || limit == 0 || !DenseEnough(shards)) {
    return std::nullopt;
  }
  const uint32_t count = static_cast<uint32_t>(shards.size());
  std::vector<ShardSums> sums(count, ShardSums(*clock));
  RunEach(count, pool, [&](uint32_t s) { WalkShard(shards[s], *terms, &sums[s]); });
  std::vector<std::vector<Xapian::doccount>> frequencies;
  for (ShardSums& shard : sums) {
    PassExpiry(shard.clock, clock);
    frequencies.push_back(shard.frequencies);
  }
  const std::vector<SynonymWeigher> weighers = SynonymWeighers(db, shards, frequencies);
  if (weighers.empty()) return RankedHits{};  // an empty index
  RunEach(count, pool, [&](uint32_t s) {
    WeighShard(shards[s], weighers[s], ShardPlace{s, count}, limit, &sums[s]);
  });
  return MergeShards(&sums, limit);
}

}  // namespace vantrel
