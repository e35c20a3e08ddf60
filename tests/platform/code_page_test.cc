#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

class CodePageTest : public ::testing::Test {
 protected:
  CodePage cp_ = CodePage::BuiltInWindows1252();
};

TEST_F(CodePageTest, IconvTableMatchesTheBuiltInWindows1252) {
  auto from_iconv = CodePage::Create("WINDOWS-1252");
  ASSERT_TRUE(from_iconv.ok()) << from_iconv.status().ToString();
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(from_iconv->ToUnicode(static_cast<unsigned char>(b)),
              cp_.ToUnicode(static_cast<unsigned char>(b)))
        << b;
  }
  EXPECT_EQ(cp_.ToUnicode(0x80), U'\u20AC');
  EXPECT_EQ(cp_.ToUnicode(0x81), U'\u0081');  // undefined byte: same value
  EXPECT_EQ(cp_.ToUnicode(0xE9), U'\u00E9');
}

TEST_F(CodePageTest, RefusesUnusableCharsets) {
  EXPECT_FALSE(CodePage::Create("NO-SUCH-CHARSET").ok());
  EXPECT_FALSE(CodePage::Create("UTF-8").ok());      // multi-byte
  EXPECT_FALSE(CodePage::Create("SHIFT_JIS").ok());  // multi-byte
  EXPECT_FALSE(CodePage::Create("UTF-16LE").ok());
  auto latin2 = CodePage::Create("ISO-8859-2");
  ASSERT_TRUE(latin2.ok());
  EXPECT_EQ(latin2->FromUtf8("\xC5\x99"), "\xF8");  // ř
  EXPECT_EQ(cp_.FromUtf8("\xC5\x99"), "?");          // not in Windows-1252
}

TEST_F(CodePageTest, FromUtf8Table) {
  struct Case {
    std::string utf8;
    std::string expected;
    bool lossy;
  };
  const Case cases[] = {
      {"img001.jpg", "img001.jpg", false},
      {"", "", false},
      {"Caf\xC3\xA9", "Caf\xE9", false},               // é precomposed
      {"Cafe\xCC\x81", "Caf\xE9", true},               // e + combining acute
      {"A\xCC\x8A" "ngstr\xC3\xB6m", "\xC5ngstr\xF6m", true},  // A + ring
      {"S\xCC\x8C" "koda", "\x8Akoda", true},          // S + caron -> Š
      {"c\xCC\xA7", "\xE7", true},                     // c + cedilla
      {"y\xCC\x88", "\xFF", true},                     // y + diaeresis
      {"\xE2\x82\xAC" "5", "\x80" "5", false},          // €
      {"\xC5\x93uvre", "\x9Cuvre", false},              // œ
      {"\xE6\x97\xA5\xE6\x9C\xAC", "??", true},         // not in the code page
      {"\xF0\x9F\x93\xB7.jpg", "?.jpg", true},          // outside the BMP
      {"x\xCC\x81", "x?", true},                        // no composed form
      {"\xCC\x81", "?", true},                          // mark without a base
      // Mac private-use characters restored.
      {"a\xEF\x80\xA2" "b", "a/b", true},               // U+F022
      {"Q\xEF\x80\xA5", "Q?", true},                    // U+F025
      {"x\xEF\x80\xA0\xEF\x80\xA1\xEF\x80\xA3\xEF\x80\xA4\xEF\x80\xA6\xEF\x80\xA7",
       "x\"*<>\\|", true},
      {"end\xEF\x80\xA8", "end ", true},                // U+F028 trailing blank
      {"end\xEF\x80\xA9", "end.", true},                // U+F029 trailing period
      {"apple\xEF\x80\xAA", "apple\xF0", true},         // U+F02A -> byte 240
      {"ctl\xEF\x80\x81", "ctl?", true},                // U+F001 stays out of keys
      {"pua\xEF\x80\xAB", "pua?", true},                // U+F02B: not in the table
      // Invalid UTF-8: one '?' per bad byte, never a crash.
      {"\xFF\xFE", "??", true},
      {"\xC3", "?", true},                              // truncated
      {"\xC0\xAF", "??", true},                         // overlong '/'
      {"\xED\xA0\x80", "???", true},                    // surrogate
      {"\xF4\x90\x80\x80", "????", true},               // above U+10FFFF
      {std::string("nul\0in", 6) + "\xC3\xA9", std::string("nul\0in", 6) + "\xE9", false},
  };
  for (const Case& c : cases) {
    bool lossy = !c.lossy;
    EXPECT_EQ(cp_.FromUtf8(c.utf8, &lossy), c.expected) << c.utf8;
    EXPECT_EQ(lossy, c.lossy) << c.utf8;
    // lossy means exactly: converting back does not give the name.
    EXPECT_EQ(cp_.ToUtf8(c.expected) != c.utf8, c.lossy) << c.utf8;
  }
}

TEST_F(CodePageTest, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  bool lossy = true;
  EXPECT_EQ(cp_.FromUtf8(cp_.ToUtf8(all), &lossy), all);
  EXPECT_FALSE(lossy);
  EXPECT_EQ(cp_.FromUtf16(cp_.ToUtf16(all), &lossy), all);
  EXPECT_FALSE(lossy);
  EXPECT_EQ(cp_.ToUtf8("\x80\x9F\xE9"), "\xE2\x82\xAC\xC5\xB8\xC3\xA9");
}

TEST_F(CodePageTest, Utf16) {
  EXPECT_EQ(cp_.ToUtf16("Caf\xE9\x80"), u"Caf\u00E9\u20AC");
  bool lossy = false;
  EXPECT_EQ(cp_.FromUtf16(u"e\u0301\uF022\U0001F4F7", &lossy), "\xE9/?");
  EXPECT_TRUE(lossy);
  const char16_t unpaired[] = {u'a', 0xD800, u'b', 0xDC00, 0};
  EXPECT_EQ(cp_.FromUtf16(unpaired), "a?b?");
}

}  // namespace
}  // namespace vantrel
