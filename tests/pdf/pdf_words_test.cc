#include "pdf/pdf_words.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace vantrel {
namespace {

const CodePage& Cp1252() {
  static const CodePage cp = CodePage::BuiltInWindows1252();
  return cp;
}

PdfContent Words(std::vector<PdfWord> words) {
  PdfContent content;
  content.pages.push_back(PdfPage{std::move(words)});
  return content;
}

TEST(PdfWordsTest, AssemblesInformationAndWords) {
  struct Case {
    const char* name;
    PdfContent content;
    std::string text;
  } cases[] = {
      {"nothing", {}, ""},
      {"all four entries in their order, each with CR LF",
       {"Title", "Author", "Creator", "Keywords", {}},
       "Title\r\nAuthor\r\nCreator\r\nKeywords\r\n"},
      {"absent entries leave no empty line", {"", "Ann", "", "k1, k2", {}}, "Ann\r\nk1, k2\r\n"},
      {"without entries the text starts with the first word",
       Words({{"Hello", 100}, {"world", 100}}), "Hello world "},
      {"entries before the words", {"T", "", "", "", {PdfPage{{{"One", 10}}}}}, "T\r\nOne "},
      {"a single lower-case letter is left out",
       Words({{"to", 50}, {"a", 50}, {"b", 70}, {"point", 50}}), "to point "},
      {"a single capital on the same line keeps its blank",
       Words({{"Part", 50}, {"A", 50}, {"here", 50}}), "Part A here "},
      {"a drop cap joins the next word, which starts a fresh line position",
       Words({{"Intro", 40}, {"T", 80}, {"his", 100}, {"X", 100}, {"is", 100}}),
       "Intro This X is "},
      {"a single character off the line joins the next word (digits too)",
       Words({{"Total", 100}, {"5", 104}, {"items", 100}}), "Total 5items "},
      {"a single character before any line position keeps its blank",
       Words({{"T", 80}, {"his", 100}}), "T his "},
      {"two single characters off the line: the second finds no line position",
       Words({{"Line", 10}, {"A", 30}, {"B", 40}, {"word", 50}}), "Line AB word "},
      {"longer words on other lines just move the line position",
       Words({{"first", 10}, {"second", 30}, {"Z", 30}}), "first second Z "},
      {"positions that round alike are one line",
       Words({{"up", 99.5}, {"Q", 100.49}, {"down", 100.6}, {"R", 100.6}}), "up Q down R "},
      {"positions that round apart are different lines",
       Words({{"up", 100.4}, {"Q", 100.5}, {"next", 101}}), "up Qnext "},
      {"the line position stays across pages",
       {"", "", "", "", {PdfPage{{{"end", 700}}}, PdfPage{{{"A", 72}, {"new", 80}}}}},
       "end Anew "},
      {"empty words add nothing", Words({{"", 1}, {"a", 1}, {"word", 1}, {"", 1}}), "word "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AssemblePdfText(c.content, Cp1252()), c.text);
  }
}

TEST(PdfWordsTest, ConvertsToTheCodePageAndCutsLongValues) {
  struct Case {
    const char* name;
    std::string word;
    std::string text;
  } cases[] = {
      {"Latin-1 letters",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       "Gr\xFC\xDF"
       "e "},
      {"Windows-1252 extras",
       "\xE2\x82\xAC"
       "5",
       "\x80"
       "5 "},
      {"decomposed letters are composed", "Cafe\xCC\x81", "Caf\xE9 "},
      {"characters outside the code page", "\xE6\x97\xA5\xE6\x9C\xAC", "?? "},
      {"invalid UTF-8",
       "a\xFF"
       "b",
       "a?b "},
      {"cut at a NUL", std::string("ab\0cd", 5), "ab "},
      {"a single lower-case accented letter is left out", "\xC3\xA9", ""},
      {"a single upper-case accented letter stays", "\xC3\x89", "\xC9 "},
      {"a single ligature letter", "\xC5\x93", ""},
      {"a single sharp s", "\xC3\x9F", ""},
      {"a single multiplication sign stays", "\xC3\x97", "\xD7 "},
      {"255 bytes kept", std::string(255, 'w'), std::string(255, 'w') + " "},
      {"256 bytes cut to 255", std::string(256, 'w'), std::string(255, 'w') + " "},
      {"cut after conversion", std::string(200, 'x') + std::string(100, '\xC3'),
       std::string(200, 'x') + std::string(55, '?') + " "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AssemblePdfText(Words({{c.word, 10}}), Cp1252()), c.text);
  }

  PdfContent info;
  info.title = std::string(300, 't');
  info.author = "J\xC3\xBCrgen";
  info.keywords = std::string("\0hidden", 7);
  EXPECT_EQ(AssemblePdfText(info, Cp1252()), std::string(255, 't') + "\r\nJ\xFCrgen\r\n");
}

TEST(PdfWordsTest, RoundsPositionsHalfUpAndStaysInRange) {
  struct Case {
    double y;
    int32_t position;
  } cases[] = {
      {0, 0},
      {0.49, 0},
      {0.5, 1},
      {1.5, 2},
      {-0.5, 0},
      {-0.51, -1},
      {-1.5, -1},
      {719.999, 720},
      {1e12, std::numeric_limits<int32_t>::max()},
      {-1e12, std::numeric_limits<int32_t>::min()},
      {std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::max()},
      {-std::numeric_limits<double>::infinity(), std::numeric_limits<int32_t>::min()},
      {std::nan(""), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    EXPECT_EQ(PdfLinePosition(c.y), c.position);
  }
}

TEST(PdfWordsTest, KnowsLowerCaseLetters) {
  for (char32_t c = U'a'; c <= U'z'; ++c) EXPECT_TRUE(IsLowerCaseLetter(c)) << int(c);
  for (char32_t c = 0; c < 0x80; ++c) {
    if (c < U'a' || c > U'z') {
      EXPECT_FALSE(IsLowerCaseLetter(c)) << int(c);
    }
  }
  struct Case {
    char32_t c;
    bool lower;
  } cases[] = {
      {0xE0, true},    {0xC0, false},   {0xF7, false},  {0xD7, false}, {0xFF, true},
      {0xDF, true},    {0x153, true},   {0x152, false}, {0x161, true}, {0x160, false},
      {0x178, false},  {0x17E, true},   {0x17D, false}, {0x142, true}, {0x141, false},
      {0x192, true},   {0x3B1, true},   {0x391, false}, {0x430, true}, {0x410, false},
      {0x2030, false}, {0x20AC, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLowerCaseLetter(c.c), c.lower) << int(c.c);
}

TEST(PdfWordsTest, AssemblerKeepsWhatWasAddedSoFar) {
  // A reader that stops part-way keeps the text assembled until then.
  PdfTextAssembler assembler(Cp1252());
  assembler.AddInfo("Report");
  assembler.AddWord("D", 30);
  assembler.AddWord("page", 10);
  EXPECT_EQ(assembler.text(), "Report\r\nD page ");
  assembler.AddWord("Q", 12);
  EXPECT_EQ(assembler.TakeText(), "Report\r\nD page Q");
}

}  // namespace
}  // namespace vantrel
