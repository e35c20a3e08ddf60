#include "engine/synonym_scores.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vantrel {
namespace {

// Xapian's default BM25 parameters.
constexpr double kK1 = 1;
constexpr double kK3 = 1;
constexpr double kB = 0.5;
constexpr double kMinNormLength = 0.5;

// The synonym's terms in query order, and sorted for look-ups.
struct SynonymTerms {
  std::vector<std::string> in_order;
  std::vector<std::string> sorted;
  std::vector<size_t> order_of_sorted;  // sorted[k] is in_order[order_of_sorted[k]]
};

std::optional<SynonymTerms> TermsOf(const Xapian::Query& query) {
  if (query.get_type() != Xapian::Query::OP_SYNONYM) return std::nullopt;
  const size_t n = query.get_num_subqueries();
  if (n < kDirectSynonymTerms) return std::nullopt;
  SynonymTerms terms;
  terms.in_order.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const Xapian::Query sub = query.get_subquery(i);
    if (sub.get_type() != Xapian::Query::LEAF_TERM) return std::nullopt;
    Xapian::TermIterator t = sub.get_terms_begin();
    if (t == sub.get_terms_end()) return std::nullopt;
    terms.in_order.push_back(*t);
  }
  terms.order_of_sorted.resize(n);
  for (size_t i = 0; i < n; ++i) terms.order_of_sorted[i] = i;
  std::sort(terms.order_of_sorted.begin(), terms.order_of_sorted.end(),
            [&](size_t a, size_t b) { return terms.in_order[a] < terms.in_order[b]; });
  terms.sorted.reserve(n);
  for (size_t i : terms.order_of_sorted) terms.sorted.push_back(terms.in_order[i]);
  // A term twice would count its wdf twice in Xapian's synonym.
  if (std::adjacent_find(terms.sorted.begin(), terms.sorted.end()) != terms.sorted.end()) {
    return std::nullopt;
  }
  return terms;
}

std::string CommonStart(const std::vector<std::string>& sorted) {
  const std::string& first = sorted.front();
  const std::string& last = sorted.back();
  size_t n = 0;
  while (n < first.size() && n < last.size() && first[n] == last[n]) ++n;
  return first.substr(0, n);
}

// Each term's frequency in `shard`, in query order.
std::vector<Xapian::doccount> FrequenciesIn(const Xapian::Database& shard,
                                            const SynonymTerms& terms) {
  std::vector<Xapian::doccount> freqs(terms.in_order.size(), 0);
  const std::string start = CommonStart(terms.sorted);
  if (start.empty()) {
    for (size_t i = 0; i < terms.in_order.size(); ++i)
      freqs[i] = shard.get_termfreq(terms.in_order[i]);
    return freqs;
  }
  // One walk of the shard's terms from the terms' common start.
  size_t k = 0;
  for (Xapian::TermIterator it = shard.allterms_begin(start); it != shard.allterms_end(start);
       ++it) {
    const std::string term = *it;
    while (k < terms.sorted.size() && terms.sorted[k] < term) ++k;
    if (k == terms.sorted.size()) break;
    if (terms.sorted[k] == term) freqs[terms.order_of_sorted[k]] = it.get_termfreq();
  }
  return freqs;
}

// A node of Xapian's OR tree: its frequency estimate from the shard's own
// frequencies (which shapes the tree) and from the whole index's (which
// weighs the synonym).
struct OrNode {
  Xapian::doccount local = 0;
  Xapian::doccount whole = 0;
};

// OrPostList's estimate from the shard's frequencies.
Xapian::doccount LocalEstimate(Xapian::doccount l, Xapian::doccount r, Xapian::doccount db_size) {
  if (db_size == 0) return 0;
  const double lest = static_cast<double>(l);
  const double rest = static_cast<double>(r);
  const double est = lest + rest - (lest * rest / db_size);
  return static_cast<Xapian::doccount>(est + 0.5);
}

// OrPostList's estimate from the whole index's statistics.
Xapian::doccount WholeEstimate(double l, double r, double n) {
  const double freqest = l + r - (l * r / n);
  return static_cast<Xapian::doccount>(freqest + 0.5);
}

// The synonym's frequency as the shard's matcher estimates it: the OR tree
// is built like a Huffman tree through a heap whose top is the least
// frequent list (in the shard), and the estimate is taken up that tree.
Xapian::doccount SynonymFrequency(const std::vector<Xapian::doccount>& local,
                                  const std::vector<Xapian::doccount>& whole,
                                  Xapian::doccount shard_size, Xapian::doccount index_size) {
  std::vector<OrNode> heap(local.size());
  for (size_t i = 0; i < local.size(); ++i) heap[i] = OrNode{local[i], whole[i]};
  const auto less = [](const OrNode& a, const OrNode& b) { return a.local > b.local; };
  std::make_heap(heap.begin(), heap.end(), less);
  while (true) {
    const OrNode r = heap.front();
    std::pop_heap(heap.begin(), heap.end(), less);
    heap.pop_back();
    const OrNode& l = heap.front();
    const OrNode joined{LocalEstimate(l.local, r.local, shard_size),
                        WholeEstimate(l.whole, r.whole, index_size)};
    if (heap.size() == 1) return joined.whole;
    std::pop_heap(heap.begin(), heap.end(), less);
    heap.back() = joined;
    std::push_heap(heap.begin(), heap.end(), less);
  }
}

// BM25's weight of a term of frequency `tf` in a query of weight factor 1.
double TermWeight(Xapian::doccount collection_size, Xapian::doccount tf) {
  double tw = (collection_size - tf + 0.5) / (tf + 0.5);
  if (tw < 2) tw = tw * 0.5 + 1;
  double termweight = std::log(tw) * 1.0;
  const double wqf = 1;
  termweight *= (kK3 + 1) * wqf / (kK3 + wqf);
  termweight *= (kK1 + 1);
  return termweight;
}

double SumPart(double termweight, double length_factor, Xapian::termcount wdf,
               Xapian::termcount length) {
  const double normlen = std::max(length * length_factor, kMinNormLength);
  const double wdf_double = wdf;
  const double denom = kK1 * (normlen * kB + (1 - kB)) + wdf_double;
  return termweight * (wdf_double / denom);
}

// The sum of the synonym's terms' wdf in one document.
Xapian::termcount WdfSum(const Xapian::Database& shard, Xapian::docid id,
                         const SynonymTerms& terms) {
  Xapian::termcount sum = 0;
  const std::string& last = terms.sorted.back();
  Xapian::TermIterator it = shard.termlist_begin(id);
  it.skip_to(terms.sorted.front());
  for (; it != shard.termlist_end(id); ++it) {
    const std::string term = *it;
    if (term > last) break;
    if (std::binary_search(terms.sorted.begin(), terms.sorted.end(), term)) sum += it.get_wdf();
  }
  return sum;
}

}  // namespace

std::optional<std::vector<double>> ScoreSynonymDirectly(const Xapian::Database& db,
                                                        const std::vector<Xapian::Database>& shards,
                                                        const Xapian::Query& query,
                                                        const std::vector<Xapian::docid>& ids) {
  // The arithmetic below is Xapian 1.4's.
  if (shards.empty() || Xapian::major_version() != 1 || Xapian::minor_version() != 4) {
    return std::nullopt;
  }
  std::optional<SynonymTerms> terms = TermsOf(query);
  if (!terms.has_value()) return std::nullopt;
  std::vector<double> weights(ids.size(), 0.0);
  const Xapian::doccount index_size = db.get_doccount();
  if (ids.empty() || index_size == 0) return weights;

  const size_t n = shards.size();
  std::vector<std::vector<Xapian::doccount>> local(n);
  std::vector<Xapian::doccount> whole(terms->in_order.size(), 0);
  for (size_t s = 0; s < n; ++s) {
    local[s] = FrequenciesIn(shards[s], *terms);
    for (size_t i = 0; i < whole.size(); ++i) whole[i] += local[s][i];
  }
  double length_factor = static_cast<double>(db.get_total_length()) / index_size;
  if (length_factor != 0) length_factor = 1 / length_factor;
  std::vector<std::optional<double>> termweight(n);

  for (size_t k = 0; k < ids.size(); ++k) {
    const Xapian::docid id = ids[k];
    if (id == 0) continue;
    const size_t s = (id - 1) % n;
    const Xapian::docid local_id = static_cast<Xapian::docid>((id - 1) / n + 1);
    Xapian::termcount wdf = 0;
    Xapian::termcount length = 0;
    try {
      wdf = WdfSum(shards[s], local_id, *terms);
      if (wdf == 0) continue;  // the synonym does not match the document
      length = shards[s].get_doclength(local_id);
    } catch (const Xapian::DocNotFoundError&) {
      continue;
    }
    if (!termweight[s].has_value()) {
      const Xapian::doccount tf =
          SynonymFrequency(local[s], whole, shards[s].get_doccount(), index_size);
      termweight[s] = TermWeight(index_size, tf);
    }
    weights[k] = SumPart(*termweight[s], length_factor, std::min(wdf, length), length);
  }
  return weights;
}

}  // namespace vantrel
