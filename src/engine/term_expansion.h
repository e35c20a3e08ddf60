// Term expansion: the terms that a word, a wildcard pattern, a fuzzy word, a
// sound-alike word or a stemmed word stands for.
//
// A word is stored as its bare term outside fields and with its field's
// suffix inside a field (document_indexer.h). The `scope` of an expansion is
// a field's suffix (that field's terms only) or empty (the whole
// text: the bare terms and every field's). Expansions walk the sorted term
// list from the longest fixed start of the word and keep at most `max_terms`
// terms; past that bound the most frequent terms are kept (ties: the
// alphabetically first), so a one-letter prefix can not exhaust memory. Each
// walk also stops after kMaxScannedTerms terms, and when the search's clock
// (optional) runs out.
//
// Thread safety: the functions use the given Database only; the caller keeps
// it to one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <xapian.h>

#include "engine/search_limits.h"

namespace vantrel {

inline constexpr size_t kMaxScannedTerms = 5'000'000;

// The terms of `word` itself in `scope`.
std::vector<std::string> ExpandExact(const Xapian::Database& db, const std::string& scope,
                                     const std::string& word);

// Terms matching `pattern` (folded UTF-8 with '*' = any run of characters,
// '?' = one character).
std::vector<std::string> ExpandPattern(const Xapian::Database& db, const std::string& scope,
                                       const std::string& pattern, size_t max_terms,
    SearchClock* clock = nullptr);

// Terms at most `max_distance` edits (insert, delete, replace one character)
// away from `word`.
std::vector<std::string> ExpandFuzzy(const Xapian::Database& db, const std::string& scope,
                                     const std::string& word, int max_distance,
                                     size_t max_terms,
    SearchClock* clock = nullptr);

// Terms with the same first letter and the same Soundex code as `word`.
std::vector<std::string> ExpandSoundAlike(const Xapian::Database& db, const std::string& scope,
                                          const std::string& word, size_t max_terms,
    SearchClock* clock = nullptr);

// Terms with the same English (Snowball) stem as `word`.
std::vector<std::string> ExpandStem(const Xapian::Database& db, const std::string& scope,
                                    const std::string& word, size_t max_terms,
    SearchClock* clock = nullptr);

// Helpers, exposed for tests.
std::u32string DecodeUtf8(const std::string& s);
bool GlobMatch(const std::u32string& pattern, const std::u32string& text);
int EditDistanceAtMost(const std::u32string& a, const std::u32string& b, int limit);
std::string Soundex(const std::string& word);

}  // namespace vantrel
