// Phrases and word windows over words that stand in several fields, so that
// each word has several terms: whatever the compiler hands a window to
// (Xapian's own operators over an OR of terms per word, or PositionalSource
// when two words share a term), the matches are those a direct reading of
// the texts finds.
#include <algorithm>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/char_table.h"
#include "engine/document_indexer.h"
#include "engine/field_catalogue.h"
#include "engine/query_compiler.h"
#include "engine/query_parser.h"
#include "engine_test_util.h"

namespace vantrel {
namespace {

using Ids = std::vector<Xapian::docid>;
using WordSet = std::vector<std::string>;  // the words that may stand at one place

enum class Rule { kPhrase, kOrdered, kAnyOrder };

struct Case {
  const char* query;
  std::vector<WordSet> places;
  Rule rule;
  size_t window;  // positions the chosen ones span at most, plus one
};

class ProximityTest : public ::testing::Test {
 protected:
  // Texts of a few words, some bare, some inside the caption or keyword
  // fields, with marker words between the groups.
  void SetUp() override {
    static const char* const kWords[] = {"ka", "kb", "lo", "mi"};
    std::mt19937 rng(5);
    auto words = [&](size_t n) {
      std::vector<std::string> out;
      for (size_t i = 0; i < n; ++i) out.push_back(kWords[rng() % 4]);
      return out;
    };
    const DocumentIndexer indexer(CharTable::Default(), catalogue_);
    for (int d = 0; d < 500; ++d) {
      std::string text;
      const size_t groups = 1 + rng() % 3;
      for (size_t g = 0; g < groups; ++g) {
        const std::vector<std::string> w = words(1 + rng() % 4);
        switch (rng() % 3) {
          case 0:
            for (const std::string& word : w) text += word + " ";
            break;
          case 1:
            text += engine_test::Caption(120, w);
            break;
          default:
            text += engine_test::Caption(25, w);
            break;
        }
      }
      texts_.push_back(text);
      db_.add_document(indexer.Build("doc" + std::to_string(d), text));
    }
  }

  Ids Found(const std::string& query) {
    ParsedQuery parsed = ParseQuery(query, CharTable::Default(), catalogue_);
    EXPECT_EQ(parsed.error, "") << query;
    Xapian::Enquire enquire(db_);
    enquire.set_query(CompileQuery(*parsed.root, catalogue_, CompileSettings{}, db_));
    Ids ids;
    const Xapian::MSet mset = enquire.get_mset(0, db_.get_doccount());
    for (auto it = mset.begin(); it != mset.end(); ++it) ids.push_back(*it);
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  // The documents where one distinct position per place fits the rule. The
  // indexer gives every word of the text, marker words included, the next
  // position; marker words are no place's words.
  Ids Expected(const Case& c) const {
    Ids ids;
    for (size_t d = 0; d < texts_.size(); ++d) {
      std::istringstream in(texts_[d]);
      std::vector<std::vector<size_t>> at(c.places.size());
      std::string word;
      for (size_t pos = 1; in >> word; ++pos) {
        for (size_t p = 0; p < c.places.size(); ++p) {
          const WordSet& place = c.places[p];
          if (std::find(place.begin(), place.end(), word) != place.end()) at[p].push_back(pos);
        }
      }
      if (AnyChoiceFits(at, c)) ids.push_back(static_cast<Xapian::docid>(d + 1));
    }
    return ids;
  }

  static bool AnyChoiceFits(const std::vector<std::vector<size_t>>& at, const Case& c) {
    for (const auto& positions : at) {
      if (positions.empty()) return false;
    }
    std::vector<size_t> pick(at.size(), 0);
    while (true) {
      std::vector<size_t> chosen;
      for (size_t p = 0; p < at.size(); ++p) chosen.push_back(at[p][pick[p]]);
      const auto [lo, hi] = std::minmax_element(chosen.begin(), chosen.end());
      const bool distinct = std::set<size_t>(chosen.begin(), chosen.end()).size() == chosen.size();
      const bool ordered = distinct && std::is_sorted(chosen.begin(), chosen.end());
      const size_t span = *hi - *lo;
      if (c.rule == Rule::kPhrase && ordered && span == at.size() - 1) return true;
      if (c.rule == Rule::kOrdered && ordered && span < c.window) return true;
      if (c.rule == Rule::kAnyOrder && distinct && span < c.window) return true;
      size_t p = 0;
      while (p < pick.size() && ++pick[p] == at[p].size()) pick[p++] = 0;
      if (p == pick.size()) return false;
    }
  }

  const FieldCatalogue catalogue_ = FieldCatalogue::Parse(FieldCatalogue::StandardText());
  Xapian::WritableDatabase db_{std::string(), Xapian::DB_BACKEND_INMEMORY};
  std::vector<std::string> texts_;
};

TEST_F(ProximityTest, MatchesAreWhatTheTextsHoldWhetherOrNotWordsShareTerms) {
  const std::vector<Case> cases = {
      // Words that share no term.
      {"ka lo", {{"ka"}, {"lo"}}, Rule::kPhrase, 2},
      {"ka lo mi", {{"ka"}, {"lo"}, {"mi"}}, Rule::kPhrase, 3},
      {"ka W/2 lo", {{"ka"}, {"lo"}}, Rule::kAnyOrder, 3},
      {"ka PRE/3 mi", {{"ka"}, {"mi"}}, Rule::kOrdered, 4},
      {"(ka OR kb) W/1 mi", {{"ka", "kb"}, {"mi"}}, Rule::kAnyOrder, 2},
      {"ka W/1 lo W/1 mi", {{"ka"}, {"lo"}, {"mi"}}, Rule::kAnyOrder, 4},
      // Words that share terms: a repeated word, overlapping alternatives
      // and wildcards.
      {"ka W/2 ka", {{"ka"}, {"ka"}}, Rule::kAnyOrder, 3},
      {"(ka OR lo) W/1 (lo OR mi)", {{"ka", "lo"}, {"lo", "mi"}}, Rule::kAnyOrder, 2},
      {"(ka OR lo) W/1 (lo OR mi) W/1 (mi OR ka)",
       {{"ka", "lo"}, {"lo", "mi"}, {"mi", "ka"}},
       Rule::kAnyOrder,
       4},
      {"k* W/2 kb", {{"ka", "kb"}, {"kb"}}, Rule::kAnyOrder, 3},
      {"k* PRE/2 (kb OR lo)", {{"ka", "kb"}, {"kb", "lo"}}, Rule::kOrdered, 3},
  };
  for (const Case& c : cases) {
    const Ids want = Expected(c);
    ASSERT_FALSE(want.empty()) << c.query;
    ASSERT_LT(want.size(), texts_.size()) << c.query;
    EXPECT_EQ(Found(c.query), want) << c.query;
  }
}

}  // namespace
}  // namespace vantrel
