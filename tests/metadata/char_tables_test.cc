#include "metadata/char_tables.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(CharTablesTest, KnownMacRomanLetters) {
  struct Row {
    uint8_t mac, windows;
    const char* what;
  };
  const Row rows[] = {
      {0x80, 0xC4, "A diaeresis"},
      {0x87, 0xE1, "a acute"},
      {0x8E, 0xE9, "e acute"},
      {0x9A, 0xF6, "o diaeresis"},
      {0xA7, 0xDF, "sharp s"},
      {0xA9, 0xA9, "copyright"},
      {0xA5, 0x95, "bullet"},
      {0xC9, 0x85, "ellipsis"},
      {0xCA, 0xA0, "no-break space"},
      {0xD2, 0x93, "left quote"},
      {0xD5, 0x92, "right apostrophe"},
      {0xD0, 0x96, "en dash"},
      {0xAE, 0xC6, "AE"},
      {0xBF, 0xF8, "o slash"},
      {0xF5, 0x69, "dotless i as i"},
      {0xB0, 0xB0, "infinity kept"},
      {0xAD, 0xAD, "not-equal kept"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(MacToWindowsChar(r.mac), r.windows) << r.what;
  }
  for (int c = 0; c < 0x80; ++c) {
    EXPECT_EQ(MacToWindowsChar(static_cast<uint8_t>(c)), c);
    EXPECT_EQ(WindowsToMacChar(static_cast<uint8_t>(c)), c);
  }
}

TEST(CharTablesTest, WindowsToMacIsTheLowestInverse) {
  for (int w = 0x80; w <= 0xFF; ++w) {
    int lowest = -1;
    for (int m = 0x80; m <= 0xFF && lowest < 0; ++m) {
      if (MacToWindowsChar(static_cast<uint8_t>(m)) == w) lowest = m;
    }
    EXPECT_EQ(WindowsToMacChar(static_cast<uint8_t>(w)), lowest < 0 ? w : lowest) << std::hex << w;
  }
  // Mac 0xF5 maps to 'i', but 'i' stays 'i' on the way back.
  EXPECT_EQ(WindowsToMacChar('i'), 'i');
  // Windows codes no Mac code reaches keep their code.
  EXPECT_EQ(WindowsToMacChar(0x80), 0x80);
  EXPECT_EQ(WindowsToMacChar(0xFE), 0xFE);
}

TEST(ConvertMacTextTest, ConvertsWithinTheGivenLength) {
  struct Case {
    std::string in;
    size_t length;
    std::string out;
  };
  const Case cases[] = {
      {"Caf\x8E\r", 6, "Caf\xE9\r\n"},      // the whole NUL-terminated text
      {"Caf\x8E\r", 5, "Caf\xE9"},          // length counts the NUL: the CR is not reached
      {"Caf\x8E\r", 100, "Caf\xE9\r\n"},    // the NUL ends it
      {std::string("ab\0cd", 5), 6, "ab"},  // an inner NUL ends it
      {"abc", 0, ""},
      {"abc", 1, ""},
      {"\r\r", 3, "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    size_t n = ConvertMacText(text, c.length, 1000);
    EXPECT_EQ(text, c.out) << c.in << " length " << c.length;
    EXPECT_EQ(n, c.out.size());
  }
}

TEST(ConvertMacTextTest, GrowthStopsAtTheCapacity) {
  std::string text(10, '\r');
  size_t n = ConvertMacText(text, 11, 15);
  // Seven CR LF pairs fit into 15 bytes; a pair is never split.
  EXPECT_EQ(n, 14u);
  ASSERT_EQ(text.size(), 14u);
  for (size_t i = 0; i < text.size(); i += 2) {
    EXPECT_EQ(text.substr(i, 2), "\r\n");
  }
  std::string letters = "abcdef";
  EXPECT_EQ(ConvertMacText(letters, 7, 4), 4u);
  EXPECT_EQ(letters, "abcd");
}

TEST(ConvertToMacTextTest, DropsLineFeedsAfterCarriageReturns) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"Caf\xE9\r\nNext", "Caf\x8E\rNext"}, {"\n\r\r\n", "\n\r\r"},   {"a\r", "a\r"},
      {std::string("x\0y", 3), "x"},        {"\x80\xFE", "\x80\xFE"},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    EXPECT_EQ(ConvertToMacText(text), c.out.size());
    EXPECT_EQ(text, c.out);
  }
}

TEST(ConvertToMacTextTest, RoundTripOfUnambiguousMacText) {
  // Every Mac code whose Windows code no lower Mac code shares comes back.
  std::string mac;
  for (int m = 0x80; m <= 0xFF; ++m) {
    if (WindowsToMacChar(MacToWindowsChar(static_cast<uint8_t>(m))) == m) {
      mac += static_cast<char>(m);
    }
  }
  ASSERT_GT(mac.size(), 100u);
  std::string text = mac + "\rline two";
  std::string original = text;
  ConvertMacText(text, text.size() + 1, 10000);
  ConvertToMacText(text);
  EXPECT_EQ(text, original);
}

}  // namespace
}  // namespace vantrel
