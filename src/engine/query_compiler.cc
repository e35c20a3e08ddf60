#include "engine/query_compiler.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "engine/clock_gate.h"
#include "engine/positional_source.h"
#include "engine/term_expansion.h"

namespace vantrel {
namespace {

using Kind = QueryNode::Kind;

using Slot = std::vector<std::string>;  // the terms that may stand at one position

// Largest number of slot terms for which Positional looks up every term's
// frequency to hand the most frequent combination to Xapian.
constexpr size_t kMaxCoveredSplitTerms = 256;

// Largest number of slot terms for which a phrase or window goes to Xapian's
// own operators (over an OR of terms per slot) instead of PositionalSource.
constexpr size_t kMaxNativeSlotTerms = 64;

class Compiler {
 public:
  Compiler(const FieldCatalogue& catalogue, const CompileSettings& settings,
           const Xapian::Database& db)
      : catalogue_(catalogue), settings_(settings), db_(db) {}

  // Divides the query's term budget among its expanded words.
  void ShareTerms(const QueryNode& root) {
    per_word_ = settings_.max_expansion;
    if (settings_.max_query_terms == 0) return;
    const size_t words = std::max<size_t>(CountExpanded(root), 1);
    per_word_ = std::clamp(settings_.max_query_terms / words, kMinTermsPerWord,
                           std::max(settings_.max_expansion, kMinTermsPerWord));
    per_word_ = std::min(per_word_, settings_.max_expansion);
  }

  const CompileStats& stats() const { return stats_; }

  Xapian::Query Compile(const QueryNode& n, const std::string& scope) {
    switch (n.kind) {
      case Kind::kWord:
        return Word(n.word, scope);
      case Kind::kPhrase: {
        std::vector<Slot> slots;
        for (const auto& c : n.children) slots.push_back(UseWord(c->word, scope, true));
        return Positional(Xapian::Query::OP_PHRASE, std::move(slots),
                          static_cast<Xapian::termcount>(n.children.size()));
      }
      case Kind::kAnd:
      case Kind::kOr: {
        std::vector<Xapian::Query> parts;
        for (const auto& c : n.children) parts.push_back(Compile(*c, scope));
        return Xapian::Query(n.kind == Kind::kAnd ? Xapian::Query::OP_AND : Xapian::Query::OP_OR,
                             parts.begin(), parts.end());
      }
      case Kind::kAndNot:
        return Xapian::Query(Xapian::Query::OP_AND_NOT, Compile(*n.children[0], scope),
                             Compile(*n.children[1], scope));
      case Kind::kNot:
        return Xapian::Query(Xapian::Query::OP_AND_NOT, Xapian::Query::MatchAll,
                             Compile(*n.children[0], scope));
      case Kind::kNear:
      case Kind::kBefore:
        return Proximity(n, scope);
      case Kind::kField:
        return Compile(*n.children[0], catalogue_.fields()[n.field].suffix);
    }
    return Xapian::Query();
  }

 private:
  static Xapian::Query Terms(const std::vector<std::string>& terms) {
    if (terms.empty()) return Xapian::Query();
    if (terms.size() == 1) return Xapian::Query(terms[0]);
    return Xapian::Query(Xapian::Query::OP_SYNONYM, terms.begin(), terms.end());
  }

  // A phrase (OP_PHRASE) or a window (OP_NEAR) over slots; nothing when a
  // slot is empty. Slots of one term each, and small slots that share no
  // term, go to Xapian's own operators; others to PositionalSource.
  Xapian::Query Positional(Xapian::Query::op op, std::vector<Slot> slots,
                           Xapian::termcount window) {
    for (const Slot& s : slots) {
      if (s.empty()) return Xapian::Query();
    }
    if (slots.size() == 1) return Terms(slots[0]);
    bool single = true;
    for (const Slot& s : slots) single = single && s.size() == 1;
    if (single) {
      std::vector<Xapian::Query> parts;
      for (const Slot& s : slots) parts.emplace_back(s[0]);
      return Xapian::Query(op, parts.begin(), parts.end(), window);
    }
    if (op == Xapian::Query::OP_PHRASE && window == slots.size()) {
      std::optional<Xapian::Query> by_field = PhraseByField(slots);
      if (by_field) return *by_field;
    }
    size_t terms = 0;
    for (const Slot& s : slots) terms += s.size();
    stats_.positional = true;
    if (!settings_.own_sources || (terms <= kMaxNativeSlotTerms && !SlotsShareATerm(slots))) {
      return NativeOverSlots(op, slots, window);
    }
    PositionalSource::Mode mode = PositionalSource::Mode::kUnordered;
    if (op == Xapian::Query::OP_PHRASE) {
      mode = window == slots.size() ? PositionalSource::Mode::kPhrase
                                    : PositionalSource::Mode::kOrdered;
    }
    // Xapian matches the combination of each slot's most frequent term
    // itself, much faster than the source can; the source takes the rest.
    std::vector<size_t> covered;
    Xapian::Query native;
    if (terms <= kMaxCoveredSplitTerms) {
      std::vector<Xapian::Query> parts;
      for (const Slot& s : slots) {
        size_t best = 0;
        Xapian::doccount best_freq = 0;
        for (size_t t = 0; t < s.size(); ++t) {
          const Xapian::doccount freq = db_.get_termfreq(s[t]);
          if (freq > best_freq) {
            best = t;
            best_freq = freq;
          }
        }
        covered.push_back(best);
        parts.emplace_back(s[best]);
      }
      // Weight 0 like the source's matches, so that every match counts the
      // same and the hit limit can end the match early.
      native = Xapian::Query(Xapian::Query::OP_SCALE_WEIGHT,
                             Xapian::Query(op, parts.begin(), parts.end(), window), 0.0);
    }
    auto* source = new PositionalSource(std::move(slots), mode, window, std::move(covered),
                                        settings_.clock);
    Xapian::Query rest(source->release());
    if (native.empty()) return rest;
    return Xapian::Query(Xapian::Query::OP_OR, native, rest);
  }

  // Xapian's own phrase or window over one OR of terms per slot: Xapian reads
  // the positions of every term of a slot and merges them, keeping a cursor
  // per term so that reading the next document's positions is cheap. Its
  // window test takes one distinct position per slot, which is the rule of
  // the source too when the slots share no term (with a shared term Xapian
  // may miss a fit, so such slots stay with the source). Every match weighs
  // 0, as the source's do, and a ClockGate keeps the clock watching the
  // candidates.
  Xapian::Query NativeOverSlots(Xapian::Query::op op, const std::vector<Slot>& slots,
                                Xapian::termcount window) const {
    std::vector<Xapian::Query> parts;
    for (const Slot& s : slots) {
      parts.push_back(s.size() == 1 ? Xapian::Query(s[0])
                                    : Xapian::Query(Xapian::Query::OP_OR, s.begin(), s.end()));
    }
    Xapian::Query near(Xapian::Query::OP_SCALE_WEIGHT,
                       Xapian::Query(op, parts.begin(), parts.end(), window), 0.0);
    if (settings_.clock == nullptr || !settings_.own_sources) return near;
    Xapian::Query gate((new ClockGate(settings_.clock))->release());
    return Xapian::Query(Xapian::Query::OP_AND, near, gate);
  }

  // Words of two different fields are never adjacent (the closing and the
  // marker word stand between them), so a phrase whose slots hold field
  // terms only, one per field, is the OR of one Xapian phrase per field that
  // every slot has (no such field: matches nothing). Nothing when the slots
  // do not have that shape.
  static std::optional<Xapian::Query> PhraseByField(const std::vector<Slot>& slots) {
    std::map<std::string, std::vector<std::string>> per_field;  // suffix -> one term per slot
    for (size_t i = 0; i < slots.size(); ++i) {
      for (const std::string& term : slots[i]) {
        size_t sep = term.find(kFieldSeparator);
        if (sep == std::string::npos) return std::nullopt;  // a bare term
        std::vector<std::string>& terms = per_field[term.substr(sep)];
        if (terms.size() != i) {
          if (terms.size() > i) return std::nullopt;  // two terms of one field in a slot
          continue;                                       // the field misses an earlier slot
        }
        terms.push_back(term);
      }
    }
    std::vector<Xapian::Query> phrases;
    for (const auto& [suffix, terms] : per_field) {
      if (terms.size() != slots.size()) continue;
      std::vector<Xapian::Query> parts(terms.begin(), terms.end());
      phrases.emplace_back(Xapian::Query::OP_PHRASE, parts.begin(), parts.end(),
                           static_cast<Xapian::termcount>(parts.size()));
    }
    return Xapian::Query(Xapian::Query::OP_OR, phrases.begin(), phrases.end());
  }

  // Operands of a proximity chain, flattened to slots in reading order.
  // Phrases inside are also required as phrases (`extra`).
  void Flatten(const QueryNode& n, const std::string& scope, std::vector<Slot>* slots,
               std::vector<Xapian::Query>* extra, uint32_t* distance_sum) {
    switch (n.kind) {
      case Kind::kWord:
        slots->push_back(UseWord(n.word, scope, true));
        return;
      case Kind::kPhrase: {
        std::vector<Slot> parts;
        for (const auto& c : n.children) parts.push_back(UseWord(c->word, scope, true));
        slots->insert(slots->end(), parts.begin(), parts.end());
        extra->push_back(Positional(Xapian::Query::OP_PHRASE, std::move(parts),
                                    static_cast<Xapian::termcount>(n.children.size())));
        return;
      }
      case Kind::kOr: {
        Slot all;
        for (const auto& c : n.children) {
          Slot terms = UseWord(c->word, scope, true);
          all.insert(all.end(), terms.begin(), terms.end());
        }
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        slots->push_back(std::move(all));
        return;
      }
      case Kind::kField:
        Flatten(*n.children[0], catalogue_.fields()[n.field].suffix, slots, extra, distance_sum);
        return;
      case Kind::kNear:
      case Kind::kBefore:
        *distance_sum += n.distance;
        Flatten(*n.children[0], scope, slots, extra, distance_sum);
        Flatten(*n.children[1], scope, slots, extra, distance_sum);
        return;
      default:
        // The parser admits no other operands.
        slots->push_back(Slot());
        return;
    }
  }

  Xapian::Query Proximity(const QueryNode& n, const std::string& scope) {
    std::vector<Slot> slots;
    std::vector<Xapian::Query> extra;
    uint32_t distance = 0;
    Flatten(n, scope, &slots, &extra, &distance);
    // "a W/5 b": at most five words apart, a window of six positions; every
    // further word widens the window by one. A chain's distances together
    // count as at most kMaxProximity.
    distance = std::min(distance, kMaxProximity);
    auto window =
        static_cast<Xapian::termcount>(slots.size() - 1 + std::max<uint32_t>(distance, 1));
    Xapian::Query near = Positional(
        n.kind == Kind::kBefore ? Xapian::Query::OP_PHRASE : Xapian::Query::OP_NEAR,
        std::move(slots), window);
    if (near.empty() || extra.empty()) return near;
    extra.insert(extra.begin(), near);
    return Xapian::Query(Xapian::Query::OP_AND, extra.begin(), extra.end());
  }

  bool SynonymsWanted() const {
    return (settings_.flags & (kSearchSynonyms | kSearchThesaurus | kSearchWordNet)) &&
           settings_.thesaurus != nullptr && !settings_.thesaurus->empty();
  }

  bool Expands(const QueryNode& n) const {
    return n.HasWildcard() ||
           (settings_.flags & (kSearchFuzzy | kSearchSoundAlike | kSearchStemming)) != 0;
  }

  // Word places that expand to the vocabulary (each gets a share of the
  // query's terms).
  size_t CountExpanded(const QueryNode& n) const {
    if (n.kind == Kind::kWord) return Expands(n) ? 1 : 0;
    size_t count = 0;
    for (const auto& c : n.children) count += CountExpanded(*c);
    return count;
  }

  // The terms of a word at one place of the query: expanded once per query
  // and counted at every place, since every place opens its posting lists.
  Slot UseWord(const std::string& word, const std::string& scope, bool expand) {
    auto key = std::make_tuple(word, scope, expand);
    auto found = expanded_.find(key);
    if (found == expanded_.end()) {
      found = expanded_.emplace(std::move(key), WordTerms(word, scope, expand)).first;
    }
    stats_.terms += found->second.size();
    return found->second;
  }

  // The terms one word stands for in `field_scope`, with the expansions of
  // the search flags and the one-word synonyms when `expand` is set.
  Slot WordTerms(const std::string& word, const std::string& field_scope, bool expand) {
    // The document-boundary words belong to no field.
    const bool boundary = word == kFirstWordTerm || word == kLastWordTerm;
    if (boundary) return Slot{word};
    const std::string& scope = field_scope;
    const size_t limit = per_word_;
    SearchClock* clock = settings_.clock;
    if (word.find_first_of("*?") != std::string::npos) {
      Slot terms = ExpandPattern(db_, scope, word, limit, clock);
      if (limit > 0 && terms.size() >= limit) stats_.bounded_at = limit;
      return terms;
    }
    Slot terms = ExpandExact(db_, scope, word);
    if (!expand) return terms;
    auto add = [&](const Slot& more) { terms.insert(terms.end(), more.begin(), more.end()); };
    const uint32_t f = settings_.flags;
    if ((f & kSearchFuzzy) && settings_.max_edits > 0) {
      add(ExpandFuzzy(db_, scope, word, settings_.max_edits, limit, clock));
    }
    if (f & kSearchSoundAlike) add(ExpandSoundAlike(db_, scope, word, limit, clock));
    if (f & kSearchStemming) add(ExpandStem(db_, scope, word, limit, clock));
    if (SynonymsWanted()) {
      for (const Thesaurus::Entry& e : settings_.thesaurus->SynonymsOf(word)) {
        if (e.size() == 1) add(WordTerms(e[0], scope, false));
      }
    }
    std::sort(terms.begin(), terms.end());
    terms.erase(std::unique(terms.begin(), terms.end()), terms.end());
    return terms;
  }

  // A word on its own: its terms, and its synonyms of several words as phrases.
  Xapian::Query Word(const std::string& word, const std::string& scope) {
    Xapian::Query q = Terms(UseWord(word, scope, true));
    if (!SynonymsWanted() || word.find_first_of("*?") != std::string::npos) return q;
    std::vector<Xapian::Query> alts{q};
    for (const Thesaurus::Entry& e : settings_.thesaurus->SynonymsOf(word)) {
      if (e.size() < 2) continue;
      std::vector<Slot> slots;
      for (const std::string& w : e) slots.push_back(UseWord(w, scope, false));
      alts.push_back(Positional(Xapian::Query::OP_PHRASE, std::move(slots),
                                static_cast<Xapian::termcount>(e.size())));
    }
    if (alts.size() == 1) return q;
    return Xapian::Query(Xapian::Query::OP_OR, alts.begin(), alts.end());
  }

  const FieldCatalogue& catalogue_;
  const CompileSettings& settings_;
  const Xapian::Database& db_;
  size_t per_word_ = 0;
  std::map<std::tuple<std::string, std::string, bool>, Slot> expanded_;
  CompileStats stats_;
};

}  // namespace

Xapian::Query CompileQuery(const QueryNode& root, const FieldCatalogue& catalogue,
                           const CompileSettings& settings, const Xapian::Database& db,
                           CompileStats* stats) {
  Compiler compiler(catalogue, settings, db);
  compiler.ShareTerms(root);
  Xapian::Query query = compiler.Compile(root, "");
  if (stats != nullptr) *stats = compiler.stats();
  return query;
}

int MaxEditsForFuzziness(int fuzziness) {
  if (fuzziness <= 0) return 0;
  if (fuzziness <= 1) return 1;
  if (fuzziness <= 3) return 2;
  return 3;
}

}  // namespace vantrel
