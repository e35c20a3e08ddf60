#include "search/query_translation.h"

#include "platform/text_compare.h"

namespace vantrel {
namespace {

constexpr char kMark = '*';

unsigned char U(char c) { return static_cast<unsigned char>(c); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// `text` at `pos` holds `pattern`, compared ignoring case (false when it
// would run past the end).
bool HasAt(std::string_view text, size_t pos, std::string_view pattern) {
  return pos <= text.size() && text.size() - pos >= pattern.size() &&
         EqualsNoCase(text.substr(pos, pattern.size()), pattern);
}

// First position of `pattern` in `text`, ignoring case.
size_t FindNoCase(std::string_view text, std::string_view pattern) {
  if (pattern.size() > text.size()) return std::string_view::npos;
  for (size_t pos = 0; pos + pattern.size() <= text.size(); ++pos) {
    if (HasAt(text, pos, pattern)) return pos;
  }
  return std::string_view::npos;
}

// Whether `pattern` occurs in `text`, ignoring case, other than as the very
// end of the text: an operator whose last character is the text's last
// character is not an operator between two words.
bool ContainsBeforeEnd(std::string_view text, std::string_view pattern) {
  for (size_t pos = 0; pos + pattern.size() < text.size(); ++pos) {
    if (HasAt(text, pos, pattern)) return true;
  }
  return false;
}

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLowerCp(c);
  return out;
}

// A date written 12/31/98 is searched as 12_31_98: a '/' between two digits
// becomes '_' (the engine would read the slash as a word break).
void ReplaceDateSlashes(std::string* text) {
  std::string& t = *text;
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    if (t[i] == '/' && IsDigit(t[i - 1]) && IsDigit(t[i + 1])) t[i] = '_';
  }
}

// Whether the word that ends just before position i of `s` is an operator
// or closes a group, so that it takes no truncation mark. The tests are
// deliberately simple: any word ending in the letters "not" counts.
bool EndsOperatorWord(std::string_view s, size_t i) {
  if (i > 2 && HasAt(s, i - 3, "NOT")) return true;
  if (i > 3 && (HasAt(s, i - 4, " W/") || HasAt(s, i - 4, " AND") || HasAt(s, i - 4, " NOT"))) {
    return true;
  }
  if (i > 2 && HasAt(s, i - 3, " OR")) return true;
  return i > 0 && s[i - 1] == ')';
}

// The same decision for the last word of `s`, with the tests of the end.
bool EndsWithOperatorWord(std::string_view s) {
  size_t n = s.size();
  if (n > 3 && (HasAt(s, n - 3, "AND") || HasAt(s, n - 3, " OR") || HasAt(s, n - 3, "NOT"))) {
    return true;
  }
  return n > 0 && s[n - 1] == ')';
}

// Adds a truncation mark behind every word that is no operator: before each
// blank that ends a word, and at the end unless the text ends in a blank.
std::string AddTruncationMarks(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2 + 1);
  for (size_t i = 0; i < s.size(); ++i) {
    if (i > 0 && s[i] == ' ' && s[i - 1] != ' ' && !EndsOperatorWord(s, i)) out.push_back(kMark);
    out.push_back(s[i]);
  }
  if (!s.empty() && s.back() != ' ' && !EndsWithOperatorWord(s)) out.push_back(kMark);
  return out;
}

// One plus the places where a character of code 32 or less is followed by
// one above 32.
int CountWords(std::string_view s) {
  int words = 1;
  for (size_t i = 1; i < s.size(); ++i) {
    if (U(s[i - 1]) <= 32 && U(s[i]) > 32) ++words;
  }
  return words;
}

// "AND " in front of every word start after the first character.
std::string JoinWithAnd(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    if (i > 0 && U(s[i]) > 32 && U(s[i - 1]) <= 32) out.append("AND ");
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace

std::string_view FieldPrefix(uint8_t field_selector) {
  switch (field_selector) {
    case kFieldCategory:
      return "IPTC015 contains (";
    case kFieldKeywords:
      return "IPTC025 contains (";
    case kFieldFileName:
      return "ZRVFN contains (";
    case kFieldFolderPath:
      return "ZRVFP contains (";
    default:
      return {};
  }
}

std::string_view OperatorText(uint8_t operator_code) {
  switch (operator_code) {
    case 0:
      return " AND ";
    case 1:
      return " OR ";
    case 2:
      return " AND NOT ";
    default:
      return {};
  }
}

// Short form:
//  1. With an empty second term, the first term may hold both: the first
//     " AND " (ignoring case) splits it, else the first " OR ", else the
//     first " NOT ", and the operator code becomes 0, 1 or 2.
//  2. The log text is the terms as typed: first term ("Date search" when
//     empty), then, with a second term, the operator text and that term.
//  3. Both terms are lower-cased in the code page and a '/' between digits
//     becomes '_'.
//  4. Two terms: term1 mark op term2 mark (mark "*" unless exact); an operator
//     code other than 0 to 2 drops the second term.
//  5. One term: split at its first blank (not one in the last position):
//     the first word (without a control character right before the blank)
//     gets a mark, " AND ", then the rest (after skipping one more blank or
//     control character) and a mark: "red sports car" is
//     "red* AND sports car*". Without a blank: the term and a mark.
// With a field selector 1 to 4 each term is its own field search, closed
// after its mark: "IPTC025 contains (boats*) AND IPTC025 contains
// (harbour*)", and a split term stays inside one: "IPTC025 contains (red*
// AND sports car*)".
TranslatedQuery TranslateShortForm(const ShortSearchRequest& request) {
  TranslatedQuery out;
  out.option_bits = kShortFormOptionBits;
  out.fuzziness = 0;
  out.hit_limit = kShortFormHitLimit;
  out.date_only = request.first_term.empty();

  std::string first = request.first_term;
  std::string second = request.second_term;
  uint8_t op = request.operator_code;
  if (second.empty()) {
    static constexpr std::string_view kImplicit[] = {" AND ", " OR ", " NOT "};
    for (uint8_t code = 0; code < 3; ++code) {
      size_t pos = FindNoCase(first, kImplicit[code]);
      if (pos == std::string_view::npos) continue;
      second = first.substr(pos + kImplicit[code].size());
      first.resize(pos);
      op = code;
      break;
    }
  }

  out.log_text = first.empty() ? std::string(kDateSearchLogText) : first;
  if (!second.empty()) {
    out.log_text.append(OperatorText(op));
    out.log_text.append(second);
  }

  first = LowerCase(first);
  second = LowerCase(second);
  ReplaceDateSlashes(&first);
  ReplaceDateSlashes(&second);

  const std::string_view prefix = FieldPrefix(request.field_selector);
  const std::string_view mark = request.exact != 0 ? std::string_view() : "*";
  auto field_search = [&](std::string body) {
    if (prefix.empty()) return body;
    return std::string(prefix) + body + ")";
  };

  if (!second.empty()) {
    out.query = field_search(first + std::string(mark));
    if (!OperatorText(op).empty()) {
      out.query.append(OperatorText(op));
      out.query.append(field_search(second + std::string(mark)));
    }
    return out;
  }

  size_t blank = first.find(' ');
  if (blank == std::string::npos || blank + 1 == first.size()) {
    out.query = field_search(first + std::string(mark));
    return out;
  }
  size_t rest = blank + 1;
  if (first[rest] == ' ' || U(first[rest]) < 32) ++rest;
  std::string word = first.substr(0, blank);
  if (!word.empty() && U(word.back()) < 32) word.pop_back();
  std::string body = word;
  body.append(mark);
  body.append(" AND ");
  body.append(first, rest);
  body.append(mark);
  out.query = field_search(std::move(body));
  return out;
}

// Long form:
//  1. Unless option bit 0 is set, truncation marks: before each blank that
//     ends a word, and at the end unless the text ends in a blank, "*" is
//     added when the word is no operator and does not close a group (see
//     EndsOperatorWord and EndsWithOperatorWord).
//  2. A text of one word, or one that holds " AND ", " OR ", " NOT ", " W/"
//     or "(" before its last character (ignoring case), or a double quote,
//     keeps its words as they are; its double quotes become blanks.
//  3. Any other text (several bare words) gets "AND " in front of every word
//     after the first: "Red* car*" becomes "Red* AND car*".
//  4. A field selector 1 to 4 wraps the query: prefix + query + ")".
// The text keeps the client's letter case.
TranslatedQuery TranslateLongForm(const LongSearchRequest& request) {
  TranslatedQuery out;
  out.option_bits = static_cast<uint32_t>(request.options) | kLongFormOptionBit;
  out.fuzziness = request.fuzziness;
  out.hit_limit = static_cast<uint32_t>(request.hit_limit_thousands) * 1000;
  out.date_only = request.query_text.empty();
  out.log_text = request.query_text.empty() ? std::string(kDateSearchLogText)
                                            : request.query_text;

  const std::string& s = request.query_text;
  std::string q = (request.options & 0x01) ? s : AddTruncationMarks(s);

  bool keep_words = CountWords(q) == 1 || ContainsBeforeEnd(q, " AND ") ||
                    ContainsBeforeEnd(q, " OR ") || ContainsBeforeEnd(q, " NOT ") ||
                    ContainsBeforeEnd(q, " W/") || ContainsBeforeEnd(q, "(") ||
                    q.find('"') != std::string::npos;
  if (keep_words) {
    for (char& c : q) {
      if (c == '"') c = ' ';
    }
  } else {
    q = JoinWithAnd(q);
  }

  std::string_view prefix = FieldPrefix(request.field_selector);
  if (!prefix.empty()) q = std::string(prefix) + q + ")";
  out.query = std::move(q);
  return out;
}

}  // namespace vantrel
