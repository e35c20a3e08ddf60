// The query language as a table: (query, parsed form) rows.
#include "engine/query_parser.h"
#include "engine/word_splitter.h"

#include <string>

#include <gtest/gtest.h>

namespace vantrel {
namespace {

struct Row {
  const char* query;
  const char* parsed;
};

class QueryParserTest : public ::testing::Test {
 protected:
  QueryParserTest() : catalogue_(FieldCatalogue::Parse(FieldCatalogue::StandardText())) {}

  std::string Parse(std::string_view q) {
    ParsedQuery p = ParseQuery(q, CharTable::Default(), catalogue_);
    if (!p.error.empty()) return "error: " + p.error;
    return ToString(*p.root);
  }

  FieldCatalogue catalogue_;
};

TEST_F(QueryParserTest, WordsPhrasesAndWildcards) {
  const Row rows[] = {
      {"sun", "sun"},
      {"SunSet", "sunset"},
      {"sun*", "sun*"},
      {"s?n*et", "s?n*et"},
      {"sun**", "sun*"},
      {"old town", "(PHRASE old town)"},
      {"old  town\tcentre", "(PHRASE old town centre)"},
      {"12_31_98", "(PHRASE 12 31 98)"},
      {"12/31/98", "(PHRASE 12 31 98)"},
      {"\"old town\"", "(PHRASE old town)"},
      {"caf\xC9", "caf\xC3\xA9"},             // É folds to é (UTF-8)
      {"\xC6GIR", "\xC3\xA6gir"},             // Æ
      {"na\xEFve", "na\xC3\xAFve"},           // ï stays a letter
      {"don't", "(PHRASE don t)"},
      {" blank, old*, blank, town, blank, *", "(PHRASE blank old* blank town blank)"},
      {"AND*", "and*"},                        // a word, not an operator
      {"knot AND tying*", "(AND knot tying*)"},
      {"xlastword", "xlastword"},
  };
  for (const Row& r : rows) EXPECT_EQ(Parse(r.query), r.parsed) << r.query;
}

TEST_F(QueryParserTest, OperatorsAndPrecedence) {
  const Row rows[] = {
      {"a AND b", "(AND a b)"},
      {"a and b", "(AND a b)"},
      {"a AnD b", "(AND a b)"},
      {"a OR b", "(OR a b)"},
      {"a NOT b", "(ANDNOT a b)"},
      {"a AND NOT b", "(ANDNOT a b)"},
      {"a and not b", "(ANDNOT a b)"},
      {"NOT b", "(NOT b)"},
      {"a OR b AND c", "(OR a (AND b c))"},
      {"a AND b OR c AND d", "(OR (AND a b) (AND c d))"},
      {"a AND b AND c", "(AND a b c)"},
      {"a OR b OR c", "(OR a b c)"},
      {"(a OR b) AND c", "(AND (OR a b) c)"},
      {"(boat* OR ship) AND harbour*", "(AND (OR boat* ship) harbour*)"},
      {"a W/5 b", "(NEAR/5 a b)"},
      {"a w/5 b", "(NEAR/5 a b)"},
      {"a PRE/3 b", "(PRE/3 a b)"},
      {"a W/5 b AND c", "(AND (NEAR/5 a b) c)"},
      {"old town W/3 harbour", "(NEAR/3 (PHRASE old town) harbour)"},
      {"(boat OR ship) W/4 harbour", "(NEAR/4 (OR boat ship) harbour)"},
      {"a W/2 b W/3 c", "(NEAR/3 (NEAR/2 a b) c)"},
      {"w/x", "(PHRASE w x)"},
      {"a OR NOT b", "(OR a (NOT b))"},
      {"a (b OR c)", "(AND a (OR b c))"},
      {"(a) (b)", "(AND a b)"},
  };
  for (const Row& r : rows) EXPECT_EQ(Parse(r.query), r.parsed) << r.query;
}

TEST_F(QueryParserTest, FieldSearches) {
  const Row rows[] = {
      {"ZRVFN contains (img*)", "(FIELD ZRVFN img*)"},
      {"zrvfn CONTAINS (img)", "(FIELD ZRVFN img)"},
      {"IPTC025 contains (xnoword)", "(FIELD IPTC025 xnoword)"},
      {"IPTC025 contains (sunset* OR beach*)", "(FIELD IPTC025 (OR sunset* beach*))"},
      {"IPTC120 contains (old town) AND ZRVFT contains (jpeg)",
       "(AND (FIELD IPTC120 (PHRASE old town)) (FIELD ZRVFT jpeg))"},
      {"old ZRVFP contains (sport)", "(AND old (FIELD ZRVFP sport))"},
      // Not a catalogue field: ordinary words.
      {"NOFIELD contains (x)", "(AND (PHRASE nofield contains) x)"},
      {"contains", "contains"},
      {"ZRVFN contains", "(PHRASE zrvfn contains)"},
  };
  for (const Row& r : rows) EXPECT_EQ(Parse(r.query), r.parsed) << r.query;
}

TEST_F(QueryParserTest, RepairsWhatAUserWouldMean) {
  const Row rows[] = {
      // Groups left open are closed at the end.
      {"(a OR b", "(OR a b)"},
      {"((a OR b) AND c", "(AND (OR a b) c)"},
      {"IPTC015 contains (sport*", "(FIELD IPTC015 sport*)"},
      {"IPTC015 contains (red* AND IPTC015 contains (car*",
       "(FIELD IPTC015 (AND red* (FIELD IPTC015 car*)))"},
      // Closers without an opener are dropped.
      {"a OR b)", "(OR a b)"},
      {")a(", "a"},
      // Dangling operators are dropped.
      {"a AND", "a"},
      {"a OR", "a"},
      {"a AND NOT", "a"},
      {"a W/5", "a"},
      {"AND a", "a"},
      {"OR a AND", "a"},
      {"a AND OR b", "(AND a b)"},
      {"NOT AND cats*", "(NOT cats*)"},
      {"a ()", "a"},
      {"() OR b", "b"},
      // Cut off in the middle of an operator: "AN" is a word.
      {"sun* AN", "(PHRASE sun* an)"},
  };
  for (const Row& r : rows) EXPECT_EQ(Parse(r.query), r.parsed) << r.query;
}

TEST_F(QueryParserTest, ErrorsInsteadOfTrees) {
  const char* no_words[] = {"", "   ", "()", "AND", "NOT", "***", "?", "(((", ")))", "W/5", "!!"};
  for (const char* q : no_words) {
    EXPECT_EQ(Parse(q), "error: The query has no words to search for") << q;
  }
  EXPECT_EQ(Parse("(a AND b) W/3 c"), "error: W/n and PRE/n need words or phrases on both sides");
  EXPECT_EQ(Parse("a W/3 NOT b"), "error: W/n and PRE/n need words or phrases on both sides");
  EXPECT_EQ(Parse(std::string(200, '(') + "a"), "error: The query is nested too deeply");
  EXPECT_EQ(Parse(std::string(60, '(') + "a"), "a");
  std::string many;
  for (int i = 0; i < 1100; ++i) many += "w ";
  EXPECT_EQ(Parse(many), "error: The query has too many words");
}

TEST_F(QueryParserTest, LongWordsAreCutLikeIndexedWords) {
  std::string word(100, 'a');
  EXPECT_EQ(Parse(word), std::string(kMaxWordChars, 'a'));
}

TEST_F(QueryParserTest, ProximityDistanceIsBounded) {
  EXPECT_EQ(Parse("a W/99999999999999999999 b"), "(NEAR/10000 a b)");
  EXPECT_EQ(Parse("a W/0 b"), "(NEAR/0 a b)");
}

}  // namespace
}  // namespace vantrel
