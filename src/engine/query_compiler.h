// QueryCompiler: turns a parsed query into a Xapian query over one database.
//
// A word becomes the group of its terms (its bare term and its field terms
// for the whole text, its field's term inside FIELD contains (...)); wildcard
// words and the search flags' expansions add the vocabulary terms they stand
// for (see term_expansion.h). Phrases become Xapian phrases, W/n an
// unordered window and PRE/n an ordered one; where a position has several
// terms, PositionalSource matches them.
// "xfirstword" and "xlastword" are whole-document words in every field.
//
// Bounds: the expanded words of one query share `max_query_terms` terms
// (each gets an equal part, at least kMinTermsPerWord and at most
// `max_expansion`); a word written twice is expanded once. The distances of a
// proximity chain add up to at most kMaxProximity.
//
// Thread safety: one compiler per search; the Database it is given must not
// be used by another thread meanwhile.
#pragma once

#include <cstdint>
#include <string>

#include <xapian.h>

#include "engine/field_catalogue.h"
#include "engine/query_parser.h"
#include "engine/search_limits.h"
#include "engine/thesaurus.h"

namespace vantrel {

// Search flags of a search job.
inline constexpr uint32_t kSearchFuzzy = 0x1;
inline constexpr uint32_t kSearchSoundAlike = 0x2;
inline constexpr uint32_t kSearchStemming = 0x4;
inline constexpr uint32_t kSearchSynonyms = 0x10;
inline constexpr uint32_t kSearchThesaurus = 0x20;
inline constexpr uint32_t kSearchWordNet = 0x40;
inline constexpr uint32_t kSearchNewestFirst = 0x100;

// Terms indexed in every document: before the first and after the last word.
inline constexpr char kFirstWordTerm[] = "xfirstword";
inline constexpr char kLastWordTerm[] = "xlastword";

// The smallest share of the query's terms an expanded word gets.
inline constexpr size_t kMinTermsPerWord = 8;

struct CompileSettings {
  uint32_t flags = 0;
  int max_edits = 0;            // fuzzy: 1 to 3 letters
  size_t max_expansion = 10000;  // terms per wildcard or expanded word
  size_t max_query_terms = 0;    // terms shared by the expanded words; 0: no bound
  const Thesaurus* thesaurus = nullptr;  // null or empty: no synonyms
  SearchClock* clock = nullptr;  // ends expansions and positional matching early
  // Whether the query may hold the engine's own posting sources. A remote
  // shard's server knows none of them: then every phrase and window goes to
  // Xapian's own operators (where slots share a term, Xapian may miss a fit).
  bool own_sources = true;
};

// What a compiled query costs.
struct CompileStats {
  size_t terms = 0;         // term posting lists the match opens
  bool positional = false;  // a phrase or window matches by positions
  // A wildcard stood for more terms than its bound: only that many (the
  // most frequent) are searched. 0: no wildcard was bounded.
  size_t bounded_at = 0;
};

// Builds the query. Throws Xapian::Error (the caller catches it).
Xapian::Query CompileQuery(const QueryNode& root, const FieldCatalogue& catalogue,
                           const CompileSettings& settings, const Xapian::Database& db,
                           CompileStats* stats = nullptr);

// The fuzziness value of a search job (1, 3 or 6) as letters that may differ.
int MaxEditsForFuzziness(int fuzziness);

}  // namespace vantrel
