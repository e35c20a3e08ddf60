#include "engine/query_parser.h"

#include <utility>

#include "engine/word_splitter.h"

namespace vantrel {
namespace {

enum class Tok { kWord, kLParen, kRParen, kAnd, kOr, kNot, kNear, kPre, kEnd };

struct Token {
  Tok type = Tok::kEnd;
  std::string raw;     // kWord: as written
  std::string folded;  // kWord: lower-case UTF-8 with wildcards
  uint32_t number = 0;  // kNear / kPre
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

class Lexer {
 public:
  Lexer(std::string_view text, const CharTable& table) : text_(text), table_(table) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    size_t i = 0;
    const size_t n = text_.size();
    while (i < n) {
      unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c == '(') {
        out.push_back(Token{Tok::kLParen, "(", "", 0});
        ++i;
        continue;
      }
      if (c == ')') {
        out.push_back(Token{Tok::kRParen, ")", "", 0});
        ++i;
        continue;
      }
      if (!IsQueryWordByte(c)) {
        ++i;
        continue;
      }
      size_t start = i;
      while (i < n && IsQueryWordByte(static_cast<unsigned char>(text_[i]))) ++i;
      std::string_view raw = text_.substr(start, i - start);
      // W/n and PRE/n: the word, a slash and at least one digit.
      if ((EqualsIgnoreCase(raw, "W") || EqualsIgnoreCase(raw, "PRE")) && i + 1 < n &&
          text_[i] == '/' && table_.IsDigitByte(static_cast<unsigned char>(text_[i + 1]))) {
        size_t j = i + 1;
        uint64_t value = 0;
        while (j < n && table_.IsDigitByte(static_cast<unsigned char>(text_[j]))) {
          value = value * 10 + static_cast<unsigned>(text_[j] - '0');
          if (value > kMaxProximity) value = kMaxProximity;
          ++j;
        }
        // "W/5x" is not an operator: the digits must end the run.
        if (j >= n || !IsQueryWordByte(static_cast<unsigned char>(text_[j]))) {
          Token t;
          t.type = EqualsIgnoreCase(raw, "W") ? Tok::kNear : Tok::kPre;
          t.raw = std::string(text_.substr(start, j - start));
          t.number = static_cast<uint32_t>(value);
          out.push_back(std::move(t));
          i = j;
          continue;
        }
      }
      Token t;
      t.raw = std::string(raw);
      if (EqualsIgnoreCase(raw, "AND")) {
        t.type = Tok::kAnd;
      } else if (EqualsIgnoreCase(raw, "OR")) {
        t.type = Tok::kOr;
      } else if (EqualsIgnoreCase(raw, "NOT")) {
        t.type = Tok::kNot;
      } else {
        t.type = Tok::kWord;
        t.folded = Fold(raw);
      }
      out.push_back(std::move(t));
    }
    return out;
  }

 private:
  bool IsQueryWordByte(unsigned char c) const {
    return c == '*' || c == '?' || table_.IsWordByte(c);
  }

  std::string Fold(std::string_view raw) const {
    std::string out;
    size_t letters = 0;
    bool wildcard = raw.find_first_of("*?") != std::string_view::npos;
    for (char ch : raw) {
      unsigned char c = static_cast<unsigned char>(ch);
      if (c == '*' || c == '?') {
        // Collapse runs of '*': "a**" is "a*".
        if (!(c == '*' && !out.empty() && out.back() == '*')) out.push_back(static_cast<char>(c));
        continue;
      }
      // Plain words are cut like indexed words; patterns keep every letter.
      if (!wildcard && letters >= kMaxWordChars) break;
      out.append(table_.FoldedUtf8(c));
      ++letters;
    }
    return out;
  }

  std::string_view text_;
  const CharTable& table_;
};

// Drops every ')' that closes nothing, so that the parser sees only
// balanced or open groups (open ones are closed by the end of the text).
void DropStrayClosers(std::vector<Token>* tokens) {
  int depth = 0;
  std::vector<Token> kept;
  kept.reserve(tokens->size());
  for (Token& t : *tokens) {
    if (t.type == Tok::kLParen) ++depth;
    if (t.type == Tok::kRParen) {
      if (depth == 0) continue;
      --depth;
    }
    kept.push_back(std::move(t));
  }
  *tokens = std::move(kept);
}

using NodePtr = std::unique_ptr<QueryNode>;

NodePtr MakeNode(QueryNode::Kind kind) {
  auto n = std::make_unique<QueryNode>();
  n->kind = kind;
  return n;
}

NodePtr Combine(QueryNode::Kind kind, NodePtr left, NodePtr right) {
  // AND and OR are flattened: (AND a (AND b c)) is (AND a b c).
  if ((kind == QueryNode::Kind::kAnd || kind == QueryNode::Kind::kOr) && left->kind == kind) {
    left->children.push_back(std::move(right));
    return left;
  }
  auto n = MakeNode(kind);
  n->children.push_back(std::move(left));
  n->children.push_back(std::move(right));
  return n;
}

bool IsProximityOperand(const QueryNode& n) {
  switch (n.kind) {
    case QueryNode::Kind::kWord:
    case QueryNode::Kind::kPhrase:
      return true;
    case QueryNode::Kind::kNear:
    case QueryNode::Kind::kBefore:
      return true;  // a chain: a W/3 b W/3 c
    case QueryNode::Kind::kField:
      return IsProximityOperand(*n.children[0]);
    case QueryNode::Kind::kOr:
      for (const auto& c : n.children) {
        if (c->kind != QueryNode::Kind::kWord) return false;
      }
      return true;
    default:
      return false;
  }
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, const FieldCatalogue& catalogue)
      : tokens_(std::move(tokens)), catalogue_(catalogue) {}

  ParsedQuery Run() {
    ParsedQuery result;
    NodePtr root = ParseOr();
    // Anything left over (only possible after an error) is ignored.
    if (!error_.empty()) {
      result.error = error_;
      return result;
    }
    if (!root) {
      result.error = "The query has no words to search for";
      return result;
    }
    result.root = std::move(root);
    return result;
  }

 private:
  const Token& Peek(size_t ahead = 0) const {
    static const Token kEndToken;
    return pos_ + ahead < tokens_.size() ? tokens_[pos_ + ahead] : kEndToken;
  }
  Tok PeekType(size_t ahead = 0) const { return Peek(ahead).type; }
  void Advance() { ++pos_; }
  bool Failed() const { return !error_.empty(); }
  void Fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
  }

  bool StartsOperand(Tok t) const {
    return t == Tok::kWord || t == Tok::kLParen || t == Tok::kNot;
  }

  NodePtr ParseOr() {
    NodePtr left = ParseAnd();
    while (!Failed() && PeekType() == Tok::kOr) {
      Advance();
      NodePtr right = ParseAnd();
      if (!right) continue;  // "a OR" : the operator is dropped
      left = left ? Combine(QueryNode::Kind::kOr, std::move(left), std::move(right))
                  : std::move(right);
    }
    return left;
  }

  NodePtr ParseAnd() {
    NodePtr left = ParseProx();
    while (!Failed()) {
      QueryNode::Kind kind;
      Tok t = PeekType();
      if (t == Tok::kAnd) {
        Advance();
        kind = QueryNode::Kind::kAnd;
        if (PeekType() == Tok::kNot) {
          Advance();
          kind = QueryNode::Kind::kAndNot;
        }
      } else if (t == Tok::kNot) {
        Advance();
        kind = QueryNode::Kind::kAndNot;
      } else if (t == Tok::kWord || t == Tok::kLParen) {
        kind = QueryNode::Kind::kAnd;  // juxtaposed groups
      } else {
        break;
      }
      NodePtr right = ParseProx();
      if (!right) continue;
      if (!left) {
        left = kind == QueryNode::Kind::kAndNot ? Negate(std::move(right)) : std::move(right);
      } else {
        left = Combine(kind, std::move(left), std::move(right));
      }
    }
    return left;
  }

  NodePtr Negate(NodePtr n) {
    auto neg = MakeNode(QueryNode::Kind::kNot);
    neg->children.push_back(std::move(n));
    return neg;
  }

  NodePtr ParseProx() {
    NodePtr left = ParseUnary();
    while (!Failed() && (PeekType() == Tok::kNear || PeekType() == Tok::kPre)) {
      bool ordered = PeekType() == Tok::kPre;
      uint32_t distance = Peek().number;
      Advance();
      NodePtr right = ParseUnary();
      if (!right || !left) {
        if (right) left = std::move(right);
        continue;
      }
      if (!IsProximityOperand(*left) || !IsProximityOperand(*right)) {
        Fail("W/n and PRE/n need words or phrases on both sides");
        return nullptr;
      }
      auto n = MakeNode(ordered ? QueryNode::Kind::kBefore : QueryNode::Kind::kNear);
      n->distance = distance;
      n->children.push_back(std::move(left));
      n->children.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  NodePtr ParseUnary() {
    // An operator where an operand belongs is dropped ("NOT AND cats").
    while (PeekType() == Tok::kAnd || PeekType() == Tok::kOr || PeekType() == Tok::kNear ||
           PeekType() == Tok::kPre) {
      Advance();
    }
    if (PeekType() != Tok::kNot) return ParsePrimary();
    Advance();
    if (++depth_ > kMaxQueryDepth) {
      Fail("The query is nested too deeply");
      return nullptr;
    }
    NodePtr operand = ParseUnary();
    --depth_;
    return operand ? Negate(std::move(operand)) : nullptr;
  }

  bool AtFieldSearch() const {
    return PeekType() == Tok::kWord && PeekType(1) == Tok::kWord &&
           PeekType(2) == Tok::kLParen && EqualsIgnoreCase(Peek(1).raw, "contains") &&
           catalogue_.FindField(Peek().raw).has_value();
  }

  NodePtr ParseGroupBody() {
    if (++depth_ > kMaxQueryDepth) {
      Fail("The query is nested too deeply");
      return nullptr;
    }
    NodePtr inner = ParseOr();
    if (PeekType() == Tok::kRParen) Advance();  // else: open at the end, closed here
    --depth_;
    return inner;
  }

  NodePtr ParsePrimary() {
    Tok t = PeekType();
    if (t == Tok::kLParen) {
      Advance();
      return ParseGroupBody();
    }
    if (t != Tok::kWord) return nullptr;
    if (AtFieldSearch()) {
      uint32_t field = *catalogue_.FindField(Peek().raw);
      Advance();
      Advance();
      Advance();
      NodePtr inner = ParseGroupBody();
      if (!inner) return nullptr;
      auto n = MakeNode(QueryNode::Kind::kField);
      n->field = field;
      n->field_name = catalogue_.fields()[field].name;
      n->children.push_back(std::move(inner));
      return n;
    }
    auto phrase = MakeNode(QueryNode::Kind::kPhrase);
    while (PeekType() == Tok::kWord && !AtFieldSearch()) {
      const Token& tok = Peek();
      bool only_wildcards = tok.folded.find_first_not_of("*?") == std::string::npos;
      if (!only_wildcards) {
        if (++words_ > kMaxQueryWords) {
          Fail("The query has too many words");
          return nullptr;
        }
        auto w = MakeNode(QueryNode::Kind::kWord);
        w->word = tok.folded;
        phrase->children.push_back(std::move(w));
      }
      Advance();
    }
    if (phrase->children.empty()) return nullptr;
    if (phrase->children.size() == 1) return std::move(phrase->children[0]);
    return phrase;
  }

  std::vector<Token> tokens_;
  const FieldCatalogue& catalogue_;
  size_t pos_ = 0;
  int depth_ = 0;
  size_t words_ = 0;
  std::string error_;
};

const char* KindName(QueryNode::Kind k) {
  switch (k) {
    case QueryNode::Kind::kPhrase: return "PHRASE";
    case QueryNode::Kind::kAnd: return "AND";
    case QueryNode::Kind::kOr: return "OR";
    case QueryNode::Kind::kAndNot: return "ANDNOT";
    case QueryNode::Kind::kNot: return "NOT";
    case QueryNode::Kind::kNear: return "NEAR/";
    case QueryNode::Kind::kBefore: return "PRE/";
    case QueryNode::Kind::kField: return "FIELD";
    case QueryNode::Kind::kWord: return "";
  }
  return "";
}

}  // namespace

ParsedQuery ParseQuery(std::string_view text, const CharTable& table,
                       const FieldCatalogue& catalogue) {
  std::vector<Token> tokens = Lexer(text, table).Run();
  DropStrayClosers(&tokens);
  return Parser(std::move(tokens), catalogue).Run();
}

std::string ToString(const QueryNode& node) {
  if (node.kind == QueryNode::Kind::kWord) return node.word;
  std::string out = "(";
  out += KindName(node.kind);
  if (node.kind == QueryNode::Kind::kNear || node.kind == QueryNode::Kind::kBefore) {
    out += std::to_string(node.distance);
  }
  if (node.kind == QueryNode::Kind::kField) out += " " + node.field_name;
  for (const auto& c : node.children) out += " " + ToString(*c);
  out += ")";
  return out;
}

}  // namespace vantrel
