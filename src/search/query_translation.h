// Query translation: turns the words of a search request into the engine's
// query language (docs/query-language.md).
//
// What a user typed becomes a query by a few fixed rules: the truncation mark
// "*" behind words (so "harb" also finds "harbour"), bare word lists joined
// with AND, double quotes removed, and a field search wrapped around the
// query when the request selects a field. The short form (a simple search
// box: one or two terms and an operator code) and the long form (a short
// query with operators and parentheses) follow different rules, written out
// at the functions in query_translation.cc. Query requests are not
// translated: their text goes to the engine as it is.
//
// The translation never fails; operators cut off at the end of a slot and
// unbalanced parentheses pass through for the engine to read. A translated
// query is not limited in length: marks and "AND " can nearly triple a text
// of one-letter words, and such a query is kept whole rather than cut to
// some fixed buffer size.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "search/request_file.h"

namespace vantrel {

// Short-form searches: engine option bits, fuzziness and most hits written.
inline constexpr uint32_t kShortFormOptionBits = 0x18;
inline constexpr uint32_t kShortFormHitLimit = 2000;
// Added to the long form's option byte.
inline constexpr uint32_t kLongFormOptionBit = 0x10;
// Log text of a request without words.
inline constexpr char kDateSearchLogText[] = "Date search";

struct TranslatedQuery {
  std::string query;     // engine query text (not used for a date-only search)
  std::string log_text;  // the request's words as the client gave them
  uint32_t option_bits = 0;
  uint32_t fuzziness = 0;
  uint32_t hit_limit = 0;  // most records in the hit file; 0 = no limit
  // No words (empty first term or query text): the search lists the files
  // that pass the date filter, without the engine.
  bool date_only = false;
};

// The field prefix of a selector ("IPTC025 contains (" for 2); empty for 0
// and for any selector above 4 (all text is searched).
std::string_view FieldPrefix(uint8_t field_selector);

// The operator text of an operator code (" AND ", " OR ", " AND NOT "), empty
// for any other code.
std::string_view OperatorText(uint8_t operator_code);

TranslatedQuery TranslateShortForm(const ShortSearchRequest& request);
TranslatedQuery TranslateLongForm(const LongSearchRequest& request);

}  // namespace vantrel
