#include "engine/synonym_scores.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace vantrel {
namespace {

// Xapian's default BM25 parameters.
constexpr double kK1 = 1;
constexpr double kK3 = 1;
constexpr double kB = 0.5;
constexpr double kMinNormLength = 0.5;

bool Is14Series() { return Xapian::major_version() == 1 && Xapian::minor_version() == 4; }

// The term of a one-term query, or nullopt.
std::optional<std::string> TermOf(const Xapian::Query& leaf) {
  if (leaf.get_type() != Xapian::Query::LEAF_TERM) return std::nullopt;
  Xapian::TermIterator t = leaf.get_terms_begin();
  if (t == leaf.get_terms_end()) return std::nullopt;
  return *t;
}

SynonymTerms Sorted(std::vector<std::string> in_order) {
  SynonymTerms terms;
  terms.in_order = std::move(in_order);
  const size_t n = terms.in_order.size();
  terms.order_of_sorted.resize(n);
  for (size_t i = 0; i < n; ++i) terms.order_of_sorted[i] = i;
  std::sort(terms.order_of_sorted.begin(), terms.order_of_sorted.end(),
            [&](size_t a, size_t b) { return terms.in_order[a] < terms.in_order[b]; });
  terms.sorted.reserve(n);
  for (size_t i : terms.order_of_sorted) terms.sorted.push_back(terms.in_order[i]);
  return terms;
}

// The terms of a synonym of at least `least` distinct terms.
std::optional<SynonymTerms> TermsOf(const Xapian::Query& query, size_t least) {
  if (query.get_type() != Xapian::Query::OP_SYNONYM) return std::nullopt;
  const size_t n = query.get_num_subqueries();
  if (n < least) return std::nullopt;
  std::vector<std::string> in_order;
  in_order.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    std::optional<std::string> term = TermOf(query.get_subquery(i));
    if (!term.has_value()) return std::nullopt;
    in_order.push_back(std::move(*term));
  }
  SynonymTerms terms = Sorted(std::move(in_order));
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
  if (local.size() == 1) return whole[0];  // a term: its own frequency
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

std::optional<SynonymTerms> DirectSynonymTerms(const Xapian::Query& query) {
  if (!Is14Series()) return std::nullopt;
  return TermsOf(query, kDirectSynonymTerms);
}

std::optional<SynonymTerms> WeighedAsOneTerm(const Xapian::Query& query) {
  if (!Is14Series()) return std::nullopt;
  if (query.get_type() == Xapian::Query::OP_SYNONYM) return TermsOf(query, 2);
  std::optional<std::string> term = TermOf(query);
  // Only a term of the default wdf factor and position (which the
  // description shows when they differ).
  if (!term.has_value() || query.get_description() != Xapian::Query(*term).get_description()) {
    return std::nullopt;
  }
  return Sorted({std::move(*term)});
}

std::vector<SynonymDocument> ReadSynonymDocuments(const Xapian::Database& shard,
                                                  const SynonymTerms& terms,
                                                  const std::vector<Xapian::docid>& local_ids) {
  std::vector<SynonymDocument> documents(local_ids.size());
  // In rising id order: the lengths come from one list that Xapian then
  // reads forwards instead of seeking back for every document.
  std::vector<size_t> order(local_ids.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&local_ids](size_t a, size_t b) { return local_ids[a] < local_ids[b]; });
  for (size_t k : order) {
    try {
      documents[k].wdf = WdfSum(shard, local_ids[k], terms);
      if (documents[k].wdf != 0) documents[k].length = shard.get_doclength(local_ids[k]);
    } catch (const Xapian::DocNotFoundError&) {
      documents[k] = SynonymDocument{};
    }
  }
  return documents;
}

double SynonymWeigher::Weight(Xapian::termcount wdf, Xapian::termcount length) const {
  return SumPart(termweight, length_factor, std::min(wdf, length), length);
}

std::vector<SynonymWeigher> SynonymWeighers(
    const Xapian::Database& db, const std::vector<Xapian::Database>& shards,
    const std::vector<std::vector<Xapian::doccount>>& frequencies) {
  const Xapian::doccount index_size = db.get_doccount();
  const size_t n = shards.size();
  if (index_size == 0 || n == 0 || frequencies.size() != n) return {};
  std::vector<Xapian::doccount> whole(frequencies[0].size(), 0);
  for (const std::vector<Xapian::doccount>& local : frequencies) {
    if (local.size() != whole.size() || local.empty()) return {};
    for (size_t i = 0; i < whole.size(); ++i) whole[i] += local[i];
  }
  double length_factor = static_cast<double>(db.get_total_length()) / index_size;
  if (length_factor != 0) length_factor = 1 / length_factor;
  std::vector<SynonymWeigher> weighers(n);
  for (size_t s = 0; s < n; ++s) {
    const Xapian::doccount tf =
        SynonymFrequency(frequencies[s], whole, shards[s].get_doccount(), index_size);
    weighers[s] = SynonymWeigher{TermWeight(index_size, tf), length_factor};
  }
  return weighers;
}

std::vector<double> ScoreSynonymWithStats(const Xapian::Database& db,
                                          const std::vector<Xapian::Database>& shards,
                                          const SynonymStats& stats,
                                          const std::vector<Xapian::docid>& ids) {
  std::vector<double> weights(ids.size(), 0.0);
  const size_t n = shards.size();
  if (ids.empty() || stats.documents.size() != ids.size()) return weights;
  const std::vector<SynonymWeigher> weighers = SynonymWeighers(db, shards, stats.frequencies);
  if (weighers.empty()) return weights;
  for (size_t k = 0; k < ids.size(); ++k) {
    const SynonymDocument& d = stats.documents[k];
    if (ids[k] == 0 || d.wdf == 0) continue;  // the synonym does not match the document
    weights[k] = weighers[(ids[k] - 1) % n].Weight(d.wdf, d.length);
  }
  return weights;
}

std::optional<std::vector<double>> ScoreSynonymDirectly(const Xapian::Database& db,
                                                        const std::vector<Xapian::Database>& shards,
                                                        const Xapian::Query& query,
                                                        const std::vector<Xapian::docid>& ids) {
  if (shards.empty()) return std::nullopt;
  std::optional<SynonymTerms> terms = DirectSynonymTerms(query);
  if (!terms.has_value()) return std::nullopt;
  SynonymStats stats;
  for (const Xapian::Database& shard : shards) stats.frequencies.push_back(FrequenciesIn(shard, *terms));
  stats.documents.resize(ids.size());
  const size_t n = shards.size();
  for (size_t k = 0; k < ids.size(); ++k) {
    if (ids[k] == 0) continue;
    const Xapian::docid local_id = static_cast<Xapian::docid>((ids[k] - 1) / n + 1);
    stats.documents[k] = ReadSynonymDocuments(shards[(ids[k] - 1) % n], *terms, {local_id})[0];
  }
  return ScoreSynonymWithStats(db, shards, stats, ids);
}

}  // namespace vantrel
