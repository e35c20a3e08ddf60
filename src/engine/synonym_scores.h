// Synonym scores: the weights a query of one large synonym gives chosen
// documents, computed from term statistics instead of Xapian's matcher.
//
// A newest-first browse search keeps its hits unranked and then gives them
// the weights a ranked match would (document_scores.h). For a wildcard or an
// expanded word (OP_SYNONYM over thousands of terms) Xapian's matcher opens
// every term's posting list in every shard to weigh the kept documents,
// about a tenth of a millisecond a term. The weight of a synonym depends
// only on the synonym's estimated frequency and, per document, on the sum of
// its terms' wdf and the document's length, so these are read instead: the
// terms' frequencies are counted by the posting walk that found the
// documents (posting_match.h) or read from a walk of each shard's term
// list, the wdf sums from the kept documents' own term lists.
//
// The weights are bit for bit those of Xapian 1.4's matcher with its default
// weighting (BM25 with k1 = 1, k2 = 0, k3 = 1, b = 0.5, min_normlen = 0.5),
// whose arithmetic this follows step by step:
//  - each shard builds the synonym's OR tree as a Huffman tree over the
//    terms' frequencies in that shard (a heap, least frequent first), and
//    estimates the synonym's frequency up that tree from the whole index's
//    term frequencies, assuming independence, rounding at every node;
//  - BM25 weighs the synonym as one term of that frequency, with its wdf
//    (clamped to the document length) and the document's length.
// The tests compare every weight with Xapian's own, over one and several
// shards, with equal frequencies (the heap's ties) and terms missing from
// some shards. The file is built without floating-point contraction, so
// that no fused multiply-add changes a rounding.
//
// Thread safety: uses the given Databases only; the caller keeps them to one
// thread at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <xapian.h>

namespace vantrel {

// Synonyms of fewer terms are left to Xapian (opening a few posting lists
// costs less than walking the term lists).
inline constexpr size_t kDirectSynonymTerms = 64;

// The terms of a synonym that the functions below weigh, in query order
// and sorted for look-ups.
struct SynonymTerms {
  std::vector<std::string> in_order;
  std::vector<std::string> sorted;
  std::vector<size_t> order_of_sorted;  // sorted[k] is in_order[order_of_sorted[k]]
};

// The terms of `query` when it is one synonym of at least
// kDirectSynonymTerms distinct terms with weight factor 1 and the Xapian
// library is of the 1.4 series (the arithmetic here is 1.4's); nullopt for
// any other query (the caller then asks Xapian).
std::optional<SynonymTerms> DirectSynonymTerms(const Xapian::Query& query);

// The terms of `query` when Xapian weighs it as one term: a term of the
// default wdf factor and position, or a synonym of distinct terms (a term
// alone weighs as a synonym of one term would). nullopt for any other query
// or a library not of the 1.4 series.
std::optional<SynonymTerms> WeighedAsOneTerm(const Xapian::Query& query);

// What weighing needs of one document: the sum of the synonym's terms' wdf
// in it (0: the synonym does not match it, or it is gone) and its length.
struct SynonymDocument {
  Xapian::termcount wdf = 0;
  Xapian::termcount length = 0;
};

// Reads the documents `local_ids` of `shard` from their term lists.
// Throws what Xapian throws.
std::vector<SynonymDocument> ReadSynonymDocuments(const Xapian::Database& shard,
                                                  const SynonymTerms& terms,
                                                  const std::vector<Xapian::docid>& local_ids);

// What weighing a synonym needs to know.
struct SynonymStats {
  // frequencies[s][i]: the frequency of term i (query order) in shard s.
  std::vector<std::vector<Xapian::doccount>> frequencies;
  // The documents weighed, in the order of their ids.
  std::vector<SynonymDocument> documents;
};

// How the documents of one shard weigh under a synonym: BM25 of the
// synonym's estimated frequency in that shard's matcher.
struct SynonymWeigher {
  double termweight = 0;
  double length_factor = 0;  // 1 / the index's average document length
  // The weight of a document with the wdf sum `wdf` and length `length`
  // (0 when `wdf` is 0).
  double Weight(Xapian::termcount wdf, Xapian::termcount length) const;
};

// One weigher per shard of `db` (`shards`, in order), from each term's
// frequency in each shard (query order). Empty when the statistics do not
// fit the shards (sizes differ, no terms) or the index is empty.
std::vector<SynonymWeigher> SynonymWeighers(
    const Xapian::Database& db, const std::vector<Xapian::Database>& shards,
    const std::vector<std::vector<Xapian::doccount>>& frequencies);

// The weights of `ids` (document ids of `db`, any order) under the synonym
// described by `stats`, in the order of `ids`, 0 for a document the synonym
// does not match. `shards` are the databases `db` combines, in order (one
// database: itself).
std::vector<double> ScoreSynonymWithStats(const Xapian::Database& db,
                                          const std::vector<Xapian::Database>& shards,
                                          const SynonymStats& stats,
                                          const std::vector<Xapian::docid>& ids);

// The same weights, with every statistic read here (the frequencies from a
// walk of each shard's term list). nullopt when DirectSynonymTerms does not
// take the query. Throws what Xapian throws.
std::optional<std::vector<double>> ScoreSynonymDirectly(const Xapian::Database& db,
                                                        const std::vector<Xapian::Database>& shards,
                                                        const Xapian::Query& query,
                                                        const std::vector<Xapian::docid>& ids);

}  // namespace vantrel
