#include "platform/text_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace vantrel {
namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(TextCompareTest, FoldsAsciiAndWindows1252Letters) {
  struct Case {
    const char* a;
    const char* b;
  };
  // Pairs equal after folding (capital vs small in Windows-1252).
  const Case equal[] = {
      {"IMG.JPG", "img.jpg"},  {"\xC0\xC9\xD6\xDE", "\xE0\xE9\xF6\xFE"},  // ÀÉÖÞ àéöþ
      {"\x8A\x8C\x8E", "\x9A\x9C\x9E"},                                 // ŠŒŽ šœž
      {"\x9F", "\xFF"},                                                 // Ÿ ÿ
      {"Sport\\A", "SPORT\\a"},
  };
  for (const Case& c : equal) {
    EXPECT_TRUE(EqualsNoCase(c.a, c.b)) << c.a;
    EXPECT_NE(CompareNoCase(c.a, c.b), 0) << "byte tie-break must separate " << c.a;
  }
  // Not letters: × (D7) and ÷ (F7), ß (DF) has no capital, µ (B5) neither.
  EXPECT_FALSE(EqualsNoCase("\xD7", "\xF7"));
  EXPECT_EQ(ToUpperCp('\xDF'), '\xDF');
  EXPECT_EQ(ToUpperCp('\xF7'), '\xF7');
  EXPECT_EQ(ToLowerCp('\xD7'), '\xD7');
  EXPECT_EQ(ToUpperCp('\xE9'), '\xC9');
  EXPECT_EQ(ToLowerCp('\x8A'), '\x9A');
  EXPECT_EQ(ToUpperCp('\xFF'), '\x9F');
  EXPECT_EQ(ToUpperCp('z'), 'Z');
  EXPECT_EQ(ToLowerCp('['), '[');
  EXPECT_FALSE(EqualsNoCase("abc", "abcd"));
  EXPECT_TRUE(StartsWithNoCase("03SPORT\\img.jpg", "03sport\\"));
  EXPECT_FALSE(StartsWithNoCase("03", "03sport"));
}

TEST(TextCompareTest, OrdersByFoldedTextThenBytes) {
  EXPECT_LT(CompareNoCase("apple", "Banana"), 0);   // folded: a < b
  EXPECT_GT(CompareNoCase("apple", "APPLE"), 0);    // equal folded: 'a' > 'A'
  EXPECT_LT(CompareNoCase("img", "IMG.jpg"), 0);    // prefix first
  EXPECT_LT(CompareNoCase("A_b", "Aab"), 0);        // '_' sorts before letters
  EXPECT_LT(CompareNoCase("img.jpgA\\", "img.jpgB\\"), 0);
  EXPECT_EQ(CompareNoCase("", ""), 0);
  EXPECT_LT(CompareNoCase("", "a"), 0);
  EXPECT_LT(CompareNoCase("z", "\xE9"), 0);  // é after ASCII letters (unsigned bytes)
  EXPECT_EQ(CompareNoCase(std::string("a\0b", 3), std::string("a\0b", 3)), 0);
  EXPECT_LT(CompareNoCase(std::string("a\0b", 3), std::string("a\0c", 3)), 0);
}

// A binary search relies on a total order: antisymmetric, transitive, and
// equal only for identical texts.
TEST(TextCompareTest, IsATotalOrder) {
  std::mt19937 rng(12345);
  const std::string alphabet = std::string("aAbB_\\\xE9\xC9\x9A\x8A\xFF\x9Fz") + '\0';
  std::vector<std::string> texts;
  for (int i = 0; i < 400; ++i) {
    std::string s;
    int n = static_cast<int>(rng() % 5);
    for (int k = 0; k < n; ++k) s += alphabet[rng() % alphabet.size()];
    texts.push_back(s);
  }
  for (const auto& a : texts) {
    for (const auto& b : texts) {
      int ab = CompareNoCase(a, b);
      ASSERT_EQ(Sign(ab), -Sign(CompareNoCase(b, a))) << a << " | " << b;
      ASSERT_EQ(ab == 0, a == b);
      ASSERT_EQ(EqualsNoCase(a, b), EqualsNoCase(b, a));
    }
  }
  std::sort(texts.begin(), texts.end(), LessNoCase());
  for (size_t i = 1; i < texts.size(); ++i) {
    ASSERT_LE(CompareNoCase(texts[i - 1], texts[i]), 0);
    // Transitivity along the sorted sequence.
    if (i >= 2) {
      ASSERT_LE(CompareNoCase(texts[i - 2], texts[i]), 0);
    }
  }
  // Each distinct text is found by binary search at exactly its place.
  for (const auto& t : texts) {
    auto range = std::equal_range(texts.begin(), texts.end(), t, LessNoCase());
    for (auto it = range.first; it != range.second; ++it) ASSERT_EQ(*it, t);
    ASSERT_NE(range.first, range.second);
  }
}

// Each byte value at each of the eight places, among neighbours that are
// all ASCII (the word-at-once path) or not (the table's path), against the
// table byte by byte.
TEST(TextCompareTest, FoldedWordFoldsEveryByteAsTheTableDoes) {
  std::mt19937 rng(8);
  for (int place = 0; place < 8; ++place) {
    for (int value = 0; value < 256; ++value) {
      for (bool ascii_neighbours : {true, false}) {
        char bytes[8];
        for (char& b : bytes) {
          b = static_cast<char>(ascii_neighbours ? rng() % 0x80 : rng() % 0x100);
        }
        bytes[place] = static_cast<char>(value);
        uint64_t expected = 0;
        for (char b : bytes) expected = expected << 8 | static_cast<unsigned char>(ToLowerCp(b));
        ASSERT_EQ(FoldedWord(bytes), expected) << "byte " << value << " at " << place;
      }
    }
  }
}

}  // namespace
}  // namespace vantrel
