#include "pdf/pdf_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/pdf_builder.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

class PdfReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { SilencePdfLibrary(); }

  std::string Write(const std::string& name, const std::string& bytes) {
    EXPECT_TRUE(dir_.WriteFile(name, bytes));
    return dir_.Path(name);
  }

  TempDir dir_;
};

std::vector<std::string> Texts(const PdfPage& page) {
  std::vector<std::string> texts;
  for (const PdfWord& w : page.words) texts.push_back(w.text);
  return texts;
}

TEST_F(PdfReaderTest, ReadsInformationEntriesAndWordsWithPositions) {
  PdfDocumentPlan plan;
  plan.info = {{"Title", "Annual (Report)"},
               {"Author", "J\xFCrgen"},  // PDFDocEncoding
               {"Subject", "not read"},
               {"Keywords", std::string("\xFE\xFF\x00K\x00\xE9\x00y", 8)}};  // UTF-16BE
  PdfPagePlan first;
  first.runs = {{72, 720, "Hello brave world"}, {72, 700, "second line"}};
  PdfPagePlan second;
  second.runs = {{72, 500, "Page two"}};
  plan.pages = {first, second, PdfPagePlan{}};
  PdfContent content;
  ASSERT_TRUE(ReadPdf(Write("a.pdf", BuildPdf(plan)), &content).ok());

  EXPECT_EQ(content.title, "Annual (Report)");
  EXPECT_EQ(content.author, "J\xC3\xBCrgen");
  EXPECT_EQ(content.creator, "");
  EXPECT_EQ(content.keywords, "K\xC3\xA9y");
  ASSERT_EQ(content.pages.size(), 3u);
  EXPECT_EQ(Texts(content.pages[0]),
            (std::vector<std::string>{"Hello", "brave", "world", "second", "line"}));
  EXPECT_EQ(Texts(content.pages[1]), (std::vector<std::string>{"Page", "two"}));
  EXPECT_TRUE(content.pages[2].words.empty());

  // Words on one baseline share a position; the next line lies 20 points lower
  // on the page, i.e. further from its top.
  const std::vector<PdfWord>& w = content.pages[0].words;
  EXPECT_EQ(PdfLinePosition(w[0].y), PdfLinePosition(w[2].y));
  EXPECT_NEAR(w[3].y - w[0].y, 20.0, 0.01);
  EXPECT_EQ(PdfLinePosition(w[3].y), PdfLinePosition(w[4].y));
  // The top of a 12-point Helvetica word on the baseline 720 points up a
  // 792-point page lies about 72 + 9 points below the page's top.
  EXPECT_GT(w[0].y, 60.0);
  EXPECT_LT(w[0].y, 72.0);
}

TEST_F(PdfReaderTest, RefusesFilesThatAreNoDocument) {
  const std::string pdf = BuildPdf({{{"Title", "T"}}, {PdfPagePlan{{{72, 700, "text"}}}}});
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"text", "just some text\n"},
      {"header only", "%PDF-1.4\n"},
      {"header and garbage", "%PDF-1.7\n" + std::string(5000, '\x9A')},
      {"no objects", "%PDF-1.4\ntrailer\n<< /Root 1 0 R >>\n%%EOF\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PdfContent content;
    content.title = "stale";
    EXPECT_FALSE(ReadPdf(Write("x.pdf", c.bytes), &content).ok());
    EXPECT_EQ(content.title, "");
    EXPECT_TRUE(content.pages.empty());
  }
  PdfContent content;
  EXPECT_FALSE(ReadPdf(dir_.Path("missing.pdf"), &content).ok());
  EXPECT_FALSE(ReadPdf(dir_.path(), &content).ok());
}

TEST_F(PdfReaderTest, DamagedDocumentsGiveWhatCanBeReadWithoutFailing) {
  PdfDocumentPlan plan;
  plan.info = {{"Title", "Damaged"}};
  for (int p = 0; p < 3; ++p) {
    plan.pages.push_back(PdfPagePlan{{{72, 700, "alpha beta"}, {72, 680, "gamma"}}});
  }
  const std::string pdf = BuildPdf(plan);
  const std::vector<std::string> known = {"alpha", "beta", "gamma"};
  // Every cut, and a flipped byte at many places: the library repairs what
  // it can; whatever it reads must come from the document.
  for (size_t cut = 0; cut <= pdf.size(); cut += 23) {
    for (int damage = 0; damage < 2; ++damage) {
      std::string bytes = pdf.substr(0, cut);
      if (damage == 1) {
        bytes = pdf;
        bytes[cut % pdf.size()] ^= 0x5A;
      }
      SCOPED_TRACE(testing::Message() << "cut " << cut << " damage " << damage);
      PdfContent content;
      ReadPdf(Write("d.pdf", bytes), &content).IgnoreError();
      if (damage == 1) continue;  // a flipped byte may change any word
      EXPECT_EQ(std::string("Damaged").find(content.title), 0u) << content.title;
      EXPECT_LE(content.pages.size(), 3u);
      for (const PdfPage& page : content.pages) {
        for (const PdfWord& word : page.words) {
          bool from_document = false;
          for (const std::string& k : known) {
            if (k.find(word.text) != std::string::npos) from_document = true;
          }
          EXPECT_TRUE(from_document) << word.text;
        }
      }
    }
  }
}

TEST_F(PdfReaderTest, ReadsTextPageByPageAndStopsAtTheWantedSize) {
  PdfDocumentPlan plan;
  plan.info = {{"Title", "Pages"}, {"Creator", "builder"}};
  for (int p = 0; p < 20; ++p) {
    plan.pages.push_back(
        PdfPagePlan{{{72, 700, "page " + std::to_string(p) + " of twenty"}, {72, 680, "the end"}}});
  }
  const std::string path = Write("pages.pdf", BuildPdf(plan));
  PdfContent content;
  ASSERT_TRUE(ReadPdf(path, &content).ok());
  const CodePage& cp = CodePage::BuiltInWindows1252();
  const std::string full = AssemblePdfText(content, cp);
  ASSERT_EQ(full.substr(0, 46), "Pages\r\nbuilder\r\npage 0 of twenty the end page ");

  PdfTextAssembler all(cp);
  ASSERT_TRUE(ReadPdfText(path, &all, 0).ok());
  EXPECT_EQ(all.text(), full);

  for (size_t max : {size_t{1}, size_t{30}, size_t{100}, full.size() - 1, full.size()}) {
    SCOPED_TRACE(max);
    PdfTextAssembler part(cp);
    ASSERT_TRUE(ReadPdfText(path, &part, max).ok());
    EXPECT_GE(part.text().size(), max);
    // The information entries are always read; then one word at most goes
    // beyond the wanted size.
    EXPECT_LE(part.text().size(), std::max<size_t>(max, 16) + 16);
    EXPECT_EQ(full.substr(0, part.text().size()), part.text());
  }

  PdfTextAssembler none(cp);
  EXPECT_FALSE(ReadPdfText(dir_.Path("missing.pdf"), &none, 0).ok());
  EXPECT_EQ(none.text(), "");
}

}  // namespace
}  // namespace vantrel
