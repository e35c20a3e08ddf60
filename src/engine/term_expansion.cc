#include "engine/term_expansion.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <string_view>
#include <utility>

#include "engine/char_table.h"
#include "engine/field_catalogue.h"
#include "platform/code_page.h"

namespace vantrel {
namespace {

struct Candidate {
  Xapian::doccount freq;
  std::string term;
};
// Heap order: the weakest candidate on top.
struct Weaker {
  bool operator()(const Candidate& a, const Candidate& b) const {
    if (a.freq != b.freq) return a.freq > b.freq;
    return a.term < b.term;
  }
};

// Splits a term into its word and its field suffix (empty for a bare term).
std::pair<std::string_view, std::string_view> SplitTerm(std::string_view term) {
  size_t sep = term.find(kFieldSeparator);
  if (sep == std::string_view::npos) return {term, {}};
  return {term.substr(0, sep), term.substr(sep)};
}

// Walks the terms beginning with `start` and keeps those of `scope` whose
// word `accept` takes.
std::vector<std::string> Scan(const Xapian::Database& db, const std::string& scope,
                              const std::string& start, size_t max_terms,
                              const std::function<bool(const std::string&)>& accept,
                              SearchClock* clock) {
  std::priority_queue<Candidate, std::vector<Candidate>, Weaker> best;
  size_t scanned = 0;
  std::string word;
  for (Xapian::TermIterator it = db.allterms_begin(start); it != db.allterms_end(start); ++it) {
    if (++scanned > kMaxScannedTerms || max_terms == 0) break;
    if (clock != nullptr && clock->Expired()) break;
    std::string term = *it;
    if (!term.empty() && term[0] >= 'A' && term[0] <= 'Z') {
      // Id terms ("Q...") sort between digits and lower case; words never
      // start with an upper-case letter.
      it.skip_to("[");
      if (it == db.allterms_end(start)) break;
      term = *it;
    }
    auto [w, suffix] = SplitTerm(term);
    if (!scope.empty() && suffix != scope) continue;
    word.assign(w);
    if (!accept(word)) continue;
    Candidate c{it.get_termfreq(), std::move(term)};
    if (best.size() < max_terms) {
      best.push(std::move(c));
    } else if (Weaker()(c, best.top())) {
      best.pop();
      best.push(std::move(c));
    }
  }
  std::vector<std::string> out;
  out.reserve(best.size());
  while (!best.empty()) {
    out.push_back(best.top().term);
    best.pop();
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The first character of a UTF-8 string, as bytes.
std::string FirstChar(const std::string& s) {
  if (s.empty()) return s;
  size_t n = 1;
  while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;
  return s.substr(0, n);
}

}  // namespace

std::u32string DecodeUtf8(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (Xapian::Utf8Iterator it(s); it != Xapian::Utf8Iterator(); ++it) {
    out.push_back(static_cast<char32_t>(*it));
  }
  return out;
}

bool GlobMatch(const std::u32string& p, const std::u32string& t) {
  size_t pi = 0, ti = 0, star = std::u32string::npos, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == t[ti])) {
      ++pi;
      ++ti;
    } else if (pi < p.size() && p[pi] == U'*') {
      star = pi++;
      mark = ti;
    } else if (star != std::u32string::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

int EditDistanceAtMost(const std::u32string& a, const std::u32string& b, int limit) {
  const int n = static_cast<int>(a.size()), m = static_cast<int>(b.size());
  if (std::abs(n - m) > limit) return limit + 1;
  std::vector<int> prev(m + 1), cur(m + 1);
  for (int j = 0; j <= m; ++j) prev[j] = j;
  for (int i = 1; i <= n; ++i) {
    cur[0] = i;
    int row_min = cur[0];
    for (int j = 1; j <= m; ++j) {
      int cost = a[i - 1] == b[j - 1] ? 0 : 1;
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + cost});
      row_min = std::min(row_min, cur[j]);
    }
    if (row_min > limit) return limit + 1;
    std::swap(prev, cur);
  }
  return std::min(prev[m], limit + 1);
}

std::string Soundex(const std::string& word) {
  // Letters a..z only; other characters are skipped like vowels.
  static const char kCodes[] = "01230120022455012623010202";  // a..z
  std::string out;
  char last = 0;
  for (char c : word) {
    if (c < 'a' || c > 'z') {
      last = 0;
      continue;
    }
    char code = kCodes[c - 'a'];
    if (out.empty()) {
      out.push_back(c);
      last = code;
      continue;
    }
    if (code != '0' && code != last) out.push_back(code);
    // 'h' and 'w' do not separate equal codes.
    if (c != 'h' && c != 'w') last = code;
    if (out.size() == 4) break;
  }
  if (out.empty()) return out;
  while (out.size() < 4) out.push_back('0');
  return out;
}

std::vector<std::string> ExpandExact(const Xapian::Database& db, const std::string& scope,
                                     const std::string& word) {
  if (!scope.empty()) return {word + scope};
  // The bare term and the field terms of the word sort together.
  std::vector<std::string> out;
  for (Xapian::TermIterator it = db.allterms_begin(word); it != db.allterms_end(word); ++it) {
    const std::string& term = *it;
    if (term.size() == word.size()) {
      out.push_back(term);
    } else if (term[word.size()] == kFieldSeparator) {
      if (term.find(kFieldSeparator, word.size() + 1) == std::string::npos) out.push_back(term);
    } else {
      break;  // a longer word: past the word's terms
    }
  }
  return out;
}

std::vector<std::string> ExpandPattern(const Xapian::Database& db, const std::string& scope,
                                       const std::string& pattern, size_t max_terms,
    SearchClock* clock) {
  size_t wild = pattern.find_first_of("*?");
  if (wild == std::string::npos) return ExpandExact(db, scope, pattern);
  std::string literal = pattern.substr(0, wild);
  const std::u32string p = DecodeUtf8(pattern);
  const bool trailing_star_only = wild == pattern.size() - 1 && pattern[wild] == '*';
  return Scan(db, scope, literal, max_terms, [&](const std::string& word) {
    return trailing_star_only || GlobMatch(p, DecodeUtf8(word));
  }, clock);
}

std::vector<std::string> ExpandFuzzy(const Xapian::Database& db, const std::string& scope,
                                     const std::string& word, int max_distance,
                                     size_t max_terms,
    SearchClock* clock) {
  const std::u32string w = DecodeUtf8(word);
  return Scan(db, scope, "", max_terms, [&](const std::string& candidate) {
    // Cheap length test before the distance (UTF-8: at most 4 bytes a character).
    if (candidate.size() + 4 * static_cast<size_t>(max_distance) < w.size()) return false;
    return EditDistanceAtMost(w, DecodeUtf8(candidate), max_distance) <= max_distance;
  }, clock);
}

std::vector<std::string> ExpandSoundAlike(const Xapian::Database& db, const std::string& scope,
                                          const std::string& word, size_t max_terms,
    SearchClock* clock) {
  const std::string code = Soundex(word);
  if (code.empty()) {
    return ExpandExact(db, scope, word);
  }
  return Scan(db, scope, FirstChar(word), max_terms,
              [&](const std::string& candidate) { return Soundex(candidate) == code; }, clock);
}

std::vector<std::string> ExpandStem(const Xapian::Database& db, const std::string& scope,
                                    const std::string& word, size_t max_terms,
    SearchClock* clock) {
  Xapian::Stem stemmer("english");
  const std::string stem = stemmer(word);
  // Words sharing a stem share its first letters, all but the last one or two
  // ("happi" comes from "happy" and "happiness").
  std::u32string s = DecodeUtf8(stem);
  size_t keep = s.size() > 4 ? s.size() - 2 : s.size() > 1 ? s.size() - 1 : s.size();
  std::string start;
  for (size_t i = 0; i < keep; ++i) AppendUtf8(s[i], &start);
  return Scan(db, scope, start, max_terms, [&](const std::string& candidate) {
    return candidate == word || stemmer(candidate) == stem;
  }, clock);
}

}  // namespace vantrel
