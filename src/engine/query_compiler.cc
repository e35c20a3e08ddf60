#include "engine/query_compiler.h"

#include <algorithm>
#include <vector>

#include "engine/term_expansion.h"

namespace vantrel {
namespace {

using Kind = QueryNode::Kind;

class Compiler {
 public:
  Compiler(const FieldCatalogue& catalogue, const CompileSettings& settings,
           const Xapian::Database& db)
      : catalogue_(catalogue), settings_(settings), db_(db) {}

  Xapian::Query Compile(const QueryNode& n, const std::string& prefix) {
    switch (n.kind) {
      case Kind::kWord:
        return Word(n.word, prefix, /*expand=*/true);
      case Kind::kPhrase: {
        std::vector<Xapian::Query> parts;
        for (const auto& c : n.children) parts.push_back(Word(c->word, prefix, true));
        return Positional(Xapian::Query::OP_PHRASE, parts, static_cast<Xapian::termcount>(parts.size()));
      }
      case Kind::kAnd:
      case Kind::kOr: {
        std::vector<Xapian::Query> parts;
        for (const auto& c : n.children) parts.push_back(Compile(*c, prefix));
        return Xapian::Query(n.kind == Kind::kAnd ? Xapian::Query::OP_AND : Xapian::Query::OP_OR,
                             parts.begin(), parts.end());
      }
      case Kind::kAndNot:
        return Xapian::Query(Xapian::Query::OP_AND_NOT, Compile(*n.children[0], prefix),
                             Compile(*n.children[1], prefix));
      case Kind::kNot:
        return Xapian::Query(Xapian::Query::OP_AND_NOT, Xapian::Query::MatchAll,
                             Compile(*n.children[0], prefix));
      case Kind::kNear:
      case Kind::kBefore:
        return Proximity(n, prefix);
      case Kind::kField:
        return Compile(*n.children[0], catalogue_.fields()[n.field].prefix);
    }
    return Xapian::Query();
  }

 private:
  // A positional query; nothing when one part can match nothing (Xapian
  // would otherwise reject empty parts).
  Xapian::Query Positional(Xapian::Query::op op, const std::vector<Xapian::Query>& parts,
                           Xapian::termcount window) {
    for (const auto& p : parts) {
      if (p.empty()) return Xapian::Query();
    }
    if (parts.size() == 1) return parts[0];
    return Xapian::Query(op, parts.begin(), parts.end(), window);
  }

  // Operands of a proximity chain, flattened to single words in reading
  // order. Phrases inside are also required as phrases (`extra`).
  void Flatten(const QueryNode& n, const std::string& prefix, std::vector<Xapian::Query>* words,
               std::vector<Xapian::Query>* extra, uint32_t* distance_sum) {
    switch (n.kind) {
      case Kind::kWord:
        words->push_back(Word(n.word, prefix, true));
        return;
      case Kind::kPhrase: {
        std::vector<Xapian::Query> parts;
        for (const auto& c : n.children) parts.push_back(Word(c->word, prefix, true));
        words->insert(words->end(), parts.begin(), parts.end());
        extra->push_back(Positional(Xapian::Query::OP_PHRASE, parts,
                                    static_cast<Xapian::termcount>(parts.size())));
        return;
      }
      case Kind::kOr: {
        std::vector<Xapian::Query> alts;
        for (const auto& c : n.children) alts.push_back(Word(c->word, prefix, true));
        words->push_back(Xapian::Query(Xapian::Query::OP_OR, alts.begin(), alts.end()));
        return;
      }
      case Kind::kField:
        Flatten(*n.children[0], catalogue_.fields()[n.field].prefix, words, extra, distance_sum);
        return;
      case Kind::kNear:
      case Kind::kBefore:
        *distance_sum += n.distance;
        Flatten(*n.children[0], prefix, words, extra, distance_sum);
        Flatten(*n.children[1], prefix, words, extra, distance_sum);
        return;
      default:
        // The parser admits no other operands.
        words->push_back(Xapian::Query());
        return;
    }
  }

  Xapian::Query Proximity(const QueryNode& n, const std::string& prefix) {
    std::vector<Xapian::Query> words, extra;
    uint32_t distance = 0;
    Flatten(n, prefix, &words, &extra, &distance);
    // "a W/5 b": at most five words apart, a window of six positions; every
    // further word widens the window by one.
    auto window = static_cast<Xapian::termcount>(words.size() - 1 + std::max<uint32_t>(distance, 1));
    Xapian::Query near = Positional(
        n.kind == Kind::kBefore ? Xapian::Query::OP_PHRASE : Xapian::Query::OP_NEAR, words, window);
    if (near.empty() || extra.empty()) return near;
    extra.insert(extra.begin(), near);
    return Xapian::Query(Xapian::Query::OP_AND, extra.begin(), extra.end());
  }

  Xapian::Query Terms(const std::vector<std::string>& terms) {
    if (terms.empty()) return Xapian::Query();
    if (terms.size() == 1) return Xapian::Query(terms[0]);
    return Xapian::Query(Xapian::Query::OP_SYNONYM, terms.begin(), terms.end());
  }

  Xapian::Query Word(const std::string& word, const std::string& field_prefix, bool expand) {
    // The document-boundary words belong to no field.
    const std::string prefix =
        (word == kFirstWordTerm || word == kLastWordTerm) ? std::string() : field_prefix;
    const size_t limit = settings_.max_expansion;
    if (word.find_first_of("*?") != std::string::npos) {
      return Terms(ExpandPattern(db_, prefix, word, limit));
    }
    const bool boundary = prefix.size() != field_prefix.size();
    std::vector<std::string> terms{prefix + word};
    if (expand && !boundary) {
      const uint32_t f = settings_.flags;
      auto add = [&](std::vector<std::string> more) {
        terms.insert(terms.end(), more.begin(), more.end());
      };
      if ((f & kSearchFuzzy) && settings_.max_edits > 0) {
        add(ExpandFuzzy(db_, prefix, word, settings_.max_edits, limit));
      }
      if (f & kSearchSoundAlike) add(ExpandSoundAlike(db_, prefix, word, limit));
      if (f & kSearchStemming) add(ExpandStem(db_, prefix, word, limit));
      std::sort(terms.begin(), terms.end());
      terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    }
    Xapian::Query q = Terms(terms);
    if (expand && !boundary && (settings_.flags & (kSearchSynonyms | kSearchThesaurus | kSearchWordNet)) &&
        settings_.thesaurus != nullptr && !settings_.thesaurus->empty()) {
      std::vector<Xapian::Query> alts{q};
      for (const Thesaurus::Entry& e : settings_.thesaurus->SynonymsOf(word)) {
        std::vector<Xapian::Query> parts;
        for (const std::string& w : e) parts.push_back(Word(w, field_prefix, false));
        alts.push_back(Positional(Xapian::Query::OP_PHRASE, parts,
                                  static_cast<Xapian::termcount>(parts.size())));
      }
      if (alts.size() > 1) q = Xapian::Query(Xapian::Query::OP_OR, alts.begin(), alts.end());
    }
    return q;
  }

  const FieldCatalogue& catalogue_;
  const CompileSettings& settings_;
  const Xapian::Database& db_;
};

}  // namespace

Xapian::Query CompileQuery(const QueryNode& root, const FieldCatalogue& catalogue,
                           const CompileSettings& settings, const Xapian::Database& db) {
  return Compiler(catalogue, settings, db).Compile(root, "");
}

int MaxEditsForFuzziness(int fuzziness) {
  if (fuzziness <= 0) return 0;
  if (fuzziness <= 1) return 1;
  if (fuzziness <= 3) return 2;
  return 3;
}

}  // namespace vantrel
