#include "search/query_translation.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

struct ShortCase {
  const char* first;
  const char* second;
  uint8_t field;
  uint8_t exact;
  uint8_t op;
  const char* query;
  const char* log;
};

TEST(TranslateShortForm, Table) {
  const ShortCase cases[] = {
      // Worked example: the implicit operator, the log keeps the case.
      {"Boats AND Harbour", "", 0, 0, 0, "boats* AND harbour*", "Boats AND Harbour"},
      // Operators are found ignoring case; AND is looked for first wherever it is.
      {"cats or dogs", "", 0, 0, 0, "cats* OR dogs*", "cats OR dogs"},
      {"cats Not dogs", "", 0, 0, 1, "cats* AND NOT dogs*", "cats AND NOT dogs"},
      {"a OR b AND c", "", 0, 0, 1, "a or b* AND c*", "a OR b AND c"},
      // With a second term the first is not searched for operators.
      {"a AND b", "c", 0, 0, 1, "a and b* OR c*", "a AND b OR c"},
      // An operator at the end leaves an empty second term.
      {"boats AND ", "", 0, 0, 0, "boats*", "boats"},
      // Two terms with each operator code.
      {"Sun", "Beach", 0, 0, 0, "sun* AND beach*", "Sun AND Beach"},
      {"Sun", "Beach", 0, 0, 1, "sun* OR beach*", "Sun OR Beach"},
      {"Sun", "Beach", 0, 0, 2, "sun* AND NOT beach*", "Sun AND NOT Beach"},
      // Operator code 5: the second term is dropped, the first still searched.
      {"Sun", "Beach", 0, 0, 5, "sun*", "SunBeach"},
      {"Sun", "Beach", 0, 1, 0, "sun AND beach", "Sun AND Beach"},
      // Only the first blank splits.
      {"red sports car", "", 0, 0, 0, "red* AND sports car*", "red sports car"},
      {"Red Car", "", 0, 1, 0, "red AND car", "Red Car"},
      {"red  car", "", 0, 0, 0, "red* AND car*", "red  car"},
      {"red   car", "", 0, 0, 0, "red* AND  car*", "red   car"},
      {"red\x01 car", "", 0, 0, 0, "red* AND car*", "red\x01 car"},
      {"red \x02" "car", "", 0, 0, 0, "red* AND car*", "red \x02" "car"},
      {"red ", "", 0, 0, 0, "red *", "red "},
      {"sun", "", 0, 0, 0, "sun*", "sun"},
      // Dates: a slash between digits becomes '_'.
      {"1/2/99", "", 0, 0, 0, "1_2_99*", "1/2/99"},
      {"12/31/98", "x/1", 0, 0, 0, "12_31_98* AND x/1*", "12/31/98 AND x/1"},
      {"/5", "5/", 0, 0, 1, "/5* OR 5/*", "/5 OR 5/"},
      // Lower-casing works on code-page letters (Windows-1252 "ÉTÉ").
      {"\xC9T\xC9", "", 0, 0, 0, "\xE9t\xE9*", "\xC9T\xC9"},
      // Field searches: each term its own group, a split term inside one.
      {"sport", "", 1, 0, 0, "IPTC015 contains (sport*)", "sport"},
      {"Boats", "Harbour", 2, 0, 0, "IPTC025 contains (boats*) AND IPTC025 contains (harbour*)",
       "Boats AND Harbour"},
      {"red sports car", "", 3, 0, 0, "ZRVFN contains (red* AND sports car*)", "red sports car"},
      {"2024/05", "", 4, 1, 0, "ZRVFP contains (2024_05)", "2024/05"},
      {"a", "b", 4, 0, 9, "ZRVFP contains (a*)", "ab"},
      // A selector above 4 searches all text.
      {"sport", "", 9, 0, 0, "sport*", "sport"},
  };
  for (const ShortCase& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " | " + c.second);
    ShortSearchRequest r;
    r.first_term = c.first;
    r.second_term = c.second;
    r.field_selector = c.field;
    r.exact = c.exact;
    r.operator_code = c.op;
    TranslatedQuery t = TranslateShortForm(r);
    EXPECT_EQ(t.query, c.query);
    EXPECT_EQ(t.log_text, c.log);
    EXPECT_EQ(t.option_bits, 0x18u);
    EXPECT_EQ(t.fuzziness, 0u);
    EXPECT_EQ(t.hit_limit, 2000u);
    EXPECT_FALSE(t.date_only);
  }
}

TEST(TranslateShortForm, EmptyTextIsADateSearchInBothForms) {
  ShortSearchRequest r;
  r.date_mode = 1;
  TranslatedQuery t = TranslateShortForm(r);
  EXPECT_TRUE(t.date_only);
  EXPECT_EQ(t.log_text, "Date search");
  r.second_term = "x";
  r.operator_code = 1;
  t = TranslateShortForm(r);
  EXPECT_TRUE(t.date_only);
  EXPECT_EQ(t.log_text, "Date search OR x");
  t = TranslateLongForm(LongSearchRequest{});
  EXPECT_TRUE(t.date_only);
  EXPECT_EQ(t.log_text, "Date search");
}

struct LongCase {
  const char* text;
  uint8_t field;
  uint8_t options;
  const char* query;
};

TEST(TranslateLongForm, Table) {
  const LongCase cases[] = {
      // Worked examples.
      {"Red car", 0, 0, "Red* AND car*"},
      {"sunset OR beach", 2, 0, "IPTC025 contains (sunset* OR beach*)"},
      {"(boat OR ship) AND harbour", 0, 0, "(boat* OR ship) AND harbour*"},
      {"\"old town\"", 0, 0, " old* town *"},
      {"knot tying", 0, 0, "knot AND tying*"},
      {"Red car", 0, 1, "Red AND car"},
      // Marks at the end and before a closing blank.
      {"sun", 0, 0, "sun*"},
      {"sun ", 0, 0, "sun* "},
      {"island", 0, 0, "island"},
      {"island beach", 0, 0, "island* AND beach*"},
      {"AND", 0, 0, "AND*"},
      {"sun)", 0, 0, "sun)"},
      // Quotes stop the AND-joining and become blanks.
      {"red \"car", 0, 0, "red*  car*"},
      // A leading NOT takes no mark and is no operator between words.
      {"NOT cats", 0, 0, "NOT AND cats*"},
      {"cats NOT dogs", 0, 0, "cats* NOT dogs*"},
      {"cats and not dogs", 0, 0, "cats* and not dogs*"},
      {"sun OR", 0, 0, "sun* AND OR"},
      // Proximity: the distance takes no mark, in either letter case.
      {"a W/3 b", 0, 0, "a* W/3 b*"},
      {"a w/3 b", 0, 0, "a* w/3 b*"},
      // Operators and parentheses ending on the text's last character are
      // not seen: the words are joined.
      {"sun OR ", 0, 0, "sun* AND OR "},
      {"a b(", 0, 1, "a AND b("},
      {"a (b", 0, 1, "a (b"},
      // A leading blank counts as a word start.
      {" sun", 0, 0, " AND sun*"},
      // Selectors.
      {"Red car", 1, 0, "IPTC015 contains (Red* AND car*)"},
      {"Red car", 3, 1, "ZRVFN contains (Red AND car)"},
      {"Red car", 4, 0, "ZRVFP contains (Red* AND car*)"},
      {"Red car", 7, 0, "Red* AND car*"},
      // Dates and letter case stay as written.
      {"12/31/98", 0, 0, "12/31/98*"},
  };
  for (const LongCase& c : cases) {
    SCOPED_TRACE(c.text);
    LongSearchRequest r;
    r.query_text = c.text;
    r.field_selector = c.field;
    r.options = c.options;
    TranslatedQuery t = TranslateLongForm(r);
    EXPECT_EQ(t.query, c.query);
    EXPECT_EQ(t.log_text, c.text);
    EXPECT_FALSE(t.date_only);
  }
}

TEST(TranslateLongForm, EngineSettings) {
  LongSearchRequest r;
  r.query_text = "sun";
  r.options = 0x05;
  r.fuzziness = 2;
  r.hit_limit_thousands = 3;
  TranslatedQuery t = TranslateLongForm(r);
  EXPECT_EQ(t.option_bits, 0x15u);
  EXPECT_EQ(t.fuzziness, 2u);
  EXPECT_EQ(t.hit_limit, 3000u);
  EXPECT_EQ(t.query, "sun");  // bit 0: no marks

  r.options = 0x10;
  r.hit_limit_thousands = 0;
  t = TranslateLongForm(r);
  EXPECT_EQ(t.option_bits, 0x10u);
  EXPECT_EQ(t.hit_limit, 0u);

  r.hit_limit_thousands = 255;
  EXPECT_EQ(TranslateLongForm(r).hit_limit, 255000u);
}

TEST(TranslateLongForm, LongTranslationIsKeptWhole) {
  // 64 one-letter words in the 127-character slot: marks and "AND " make
  // the query 443 characters, far beyond 255; nothing may be cut.
  std::string text = "a";
  for (int i = 1; i < 64; ++i) text += " a";
  ASSERT_EQ(text.size(), 127u);
  LongSearchRequest r;
  r.query_text = text;
  r.field_selector = 2;
  std::string expected = "a*";
  for (int i = 1; i < 64; ++i) expected += " AND a*";
  expected = "IPTC025 contains (" + expected + ")";
  TranslatedQuery t = TranslateLongForm(r);
  EXPECT_EQ(t.query.size(), 443u + 19u);
  EXPECT_EQ(t.query, expected);
}

TEST(TranslateShortForm, LongTranslationIsKeptWhole) {
  ShortSearchRequest r;
  r.first_term = std::string(63, 'x');
  r.second_term = std::string(63, 'y');
  r.field_selector = 2;
  r.operator_code = 2;
  TranslatedQuery t = TranslateShortForm(r);
  EXPECT_EQ(t.query, "IPTC025 contains (" + std::string(63, 'x') + "*) AND NOT IPTC025 contains (" +
                         std::string(63, 'y') + "*)");
  EXPECT_GT(t.query.size(), 170u);
}

}  // namespace
}  // namespace vantrel
