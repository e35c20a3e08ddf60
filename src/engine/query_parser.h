// The engine's query language: lexer and recursive-descent parser.
//
// The language (docs/query-language.md has the user's view):
//
//   query    := or
//   or       := and { OR and }
//   and      := prox { (AND | AND NOT | NOT) prox | prox }   juxtaposed groups: AND
//   prox     := unary { (W/n | PRE/n) unary }
//   unary    := NOT unary | primary
//   primary  := '(' query ')' | FIELD contains '(' query ')' | word { word }
//
// Words are runs of code-page letters and digits with the wildcards '*' and
// '?'; words written one after another form a phrase. Operators are
// recognised in any letter case. Input a user would mean is repaired rather
// than refused: a ')' without '(' is dropped, groups left open at the end are
// closed, an operator with a missing operand is dropped ("a AND" is "a",
// "NOT AND b" is "NOT b"), a word made only of wildcards is skipped.
// What cannot be repaired yields an error text and no tree.
//
// The parsed form (ToString) is a Lisp-like text used by the tests:
//   sun*                  a word (folded to lower-case UTF-8)
//   (PHRASE old town)     adjacent words
//   (AND a b) (OR a b) (ANDNOT a b) (NOT a)
//   (NEAR/5 a b) (PRE/5 a b)
//   (FIELD ZRVFN a)
//
// Thread safety: plain functions over immutable inputs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/char_table.h"
#include "engine/field_catalogue.h"

namespace vantrel {

struct QueryNode {
  enum class Kind { kWord, kPhrase, kAnd, kOr, kAndNot, kNot, kNear, kBefore, kField };
  Kind kind = Kind::kWord;
  // kWord: the folded UTF-8 word; '*' and '?' stay as written.
  std::string word;
  // kNear / kBefore: the largest distance in words between the operands.
  uint32_t distance = 0;
  // kField: the field number in the catalogue and its name.
  uint32_t field = 0;
  std::string field_name;
  std::vector<std::unique_ptr<QueryNode>> children;

  bool HasWildcard() const {
    return word.find_first_of("*?") != std::string::npos;
  }
};

struct ParsedQuery {
  std::unique_ptr<QueryNode> root;  // null when `error` is set
  std::string error;                // empty on success
};

// Limits that keep a hostile query from exhausting the stack or memory.
inline constexpr int kMaxQueryDepth = 64;
inline constexpr size_t kMaxQueryWords = 1024;
inline constexpr uint32_t kMaxProximity = 10000;

// Parses code-page query text. Never throws; `catalogue` names the fields.
ParsedQuery ParseQuery(std::string_view text, const CharTable& table,
                       const FieldCatalogue& catalogue);

// The parsed form of a tree (see above).
std::string ToString(const QueryNode& node);

}  // namespace vantrel
