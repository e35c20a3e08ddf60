// Term expansion: the vocabulary terms that a wildcard pattern, a fuzzy word,
// a sound-alike word or a stemmed word stands for.
//
// Every expansion walks the sorted term list of the database within one field
// prefix (or the unprefixed whole-text terms when the prefix is empty) and
// keeps at most `max_terms` terms; past that bound the most frequent terms
// are kept (ties: the alphabetically first), so a one-letter prefix can not
// exhaust memory. Each walk also stops after kMaxScannedTerms terms.
//
// Thread safety: the functions use the given Database only; the caller keeps
// it to one thread at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <xapian.h>

namespace vantrel {

inline constexpr size_t kMaxScannedTerms = 5'000'000;

// Terms matching `pattern` (folded UTF-8 with '*' = any run of characters,
// '?' = one character), each with `prefix` in front.
std::vector<std::string> ExpandPattern(const Xapian::Database& db, const std::string& prefix,
                                       const std::string& pattern, size_t max_terms);

// Terms at most `max_distance` edits (insert, delete, replace one character)
// away from `word`.
std::vector<std::string> ExpandFuzzy(const Xapian::Database& db, const std::string& prefix,
                                     const std::string& word, int max_distance,
                                     size_t max_terms);

// Terms with the same first letter and the same Soundex code as `word`.
std::vector<std::string> ExpandSoundAlike(const Xapian::Database& db, const std::string& prefix,
                                          const std::string& word, size_t max_terms);

// Terms with the same English (Snowball) stem as `word`.
std::vector<std::string> ExpandStem(const Xapian::Database& db, const std::string& prefix,
                                    const std::string& word, size_t max_terms);

// Helpers, exposed for tests.
std::u32string DecodeUtf8(const std::string& s);
bool GlobMatch(const std::u32string& pattern, const std::u32string& text);
int EditDistanceAtMost(const std::u32string& a, const std::u32string& b, int limit);
std::string Soundex(const std::string& word);

}  // namespace vantrel
