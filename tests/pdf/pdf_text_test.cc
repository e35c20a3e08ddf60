#include "pdf/pdf_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pdf/flate_pdf.h"
#include "pdf/pdf_reader.h"
#include "pdf/pdf_xmp_section.h"
#include "platform/child_process.h"
#include "platform/environment.h"
#include "platform/mutex.h"
#include "platform/served_folders.h"
#include "support/pdf_builder.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// The helper is built beside the other programs of the build.
const std::string kHelper = std::string(VANTREL_BINARY_DIR) + "/src/tools/vantrel-pdftext";

class LogLines {
 public:
  std::function<void(const std::string&)> Sink() {
    return [this](const std::string& line) {
      MutexLock lock(&mu_);
      lines_.push_back(line);
    };
  }
  std::vector<std::string> lines() {
    MutexLock lock(&mu_);
    return lines_;
  }

 private:
  Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
};

class PdfTextTest : public ::testing::Test {
 protected:
  PdfTextOptions Options(const std::string& helper = kHelper) {
    PdfTextOptions options;
    options.helper_path = helper;
    // The build's own default: no address-space limit for sanitizer builds.
    options.memory_limit_bytes = PdfTextOptions::FromEnvironment().memory_limit_bytes;
    options.log = log_.Sink();
    return options;
  }

  std::string WritePdf(const std::string& name, const PdfDocumentPlan& plan) {
    EXPECT_TRUE(dir_.WriteFile(name, BuildPdf(plan)));
    return dir_.Path(name);
  }

  // An executable shell script standing in for the helper.
  std::string WriteScript(const std::string& name, const std::string& body) {
    EXPECT_TRUE(dir_.WriteFile(name, "#!/bin/sh\n" + body + "\n"));
    std::string path = dir_.Path(name);
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }

  TempDir dir_;
  LogLines log_;
};

PdfDocumentPlan Report() {
  PdfDocumentPlan plan;
  plan.info = {{"Title", "Annual Report"},
               {"Author", "J\xFCrgen M\xFCller"},
               {"Producer", "not taken"},
               {"Keywords", "finance, 2024"}};
  PdfPagePlan first;
  first.runs = {{72, 720, "Hello brave world"}, {72, 700, "a line with a b C"}};
  PdfPagePlan second;
  second.runs = {{72, 650, "Page two"}};
  plan.pages = {first, second};
  return plan;
}

TEST_F(PdfTextTest, ReadsInformationAndWordsThroughTheHelper) {
  PdfTextExtractor extractor(Options());
  const std::string path = WritePdf("report.pdf", Report());
  EXPECT_EQ(extractor.Extract(path),
            "Annual Report\r\nJ\xFCrgen M\xFCller\r\nfinance, 2024\r\n"
            "Hello brave world line with C Page two ");
  EXPECT_TRUE(log_.lines().empty());

  // Without entries the text starts with the words.
  PdfDocumentPlan bare;
  bare.pages = {PdfPagePlan{{{72, 700, "Only words"}}}};
  EXPECT_EQ(extractor.Extract(WritePdf("bare.pdf", bare)), "Only words ");
  // No words and no entries: no text.
  EXPECT_EQ(extractor.Extract(WritePdf("empty.pdf", PdfDocumentPlan{{}, {PdfPagePlan{}}})), "");
}

// A PDF of one empty page whose catalog names the XMP packet `xmp` (its
// bytes as they are) and whose information dictionary holds `title`.
std::string PdfWithXmp(const std::string& xmp, const std::string& title) {
  return BuildPdfFromObjects(
      {"<< /Type /Catalog /Pages 2 0 R /Metadata 4 0 R >>",
       "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
       "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>",
       "<< /Type /Metadata /Subtype /XML /Length " + std::to_string(xmp.size()) +
           " >>\nstream\n" + xmp + "\nendstream",
       "<< /Title " + PdfLiteralString(title) + " >>"},
      "/Root 1 0 R /Info 5 0 R");
}

const std::string kXmpPacket =
    "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>"
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
    "xmlns:photoshop=\"http://ns.adobe.com/photoshop/1.0/\">"
    "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Annual Report</rdf:li></rdf:Alt></dc:title>"
    "<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">Caf\xC3\xA9 am Hafen</rdf:li>"
    "</rdf:Alt></dc:description>"
    "<dc:subject><rdf:Bag><rdf:li>Z\xC3\xBCrich</rdf:li><rdf:li>harbour</rdf:li>"
    "<rdf:li>Annual Report</rdf:li></rdf:Bag></dc:subject>"
    "<photoshop:City>K\xC3\xB6ln</photoshop:City>"
    "<photoshop:DateCreated>2021-06-30</photoshop:DateCreated>"
    "</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end=\"w\"?>";

// The document's XMP values go in front of the text, as a section of their
// own, without the values the information entries hold and without dates;
// the packet's UTF-8 is read as UTF-8. A packet that is malformed or too
// large adds nothing.
TEST_F(PdfTextTest, XmpValuesGoFirstInASectionOfTheirOwn) {
  PdfTextExtractor extractor(Options());
  ASSERT_TRUE(dir_.WriteFile("xmp.pdf", PdfWithXmp(kXmpPacket, "Annual Report")));
  const std::string text = extractor.Extract(dir_.Path("xmp.pdf"));
  const PdfTextParts parts = SplitPdfText(text);
  EXPECT_EQ(parts.xmp, "Caf\xE9 am Hafen\r\nZ\xFC" "rich\r\nharbour\r\nK\xF6ln\r\n") << text;
  EXPECT_EQ(parts.rest, "Annual Report\r\n");

  const std::string too_large = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">" +
                                std::string(kPdfXmpPacketMax, ' ') +
                                kXmpPacket.substr(kXmpPacket.find("<rdf:RDF"));
  for (const std::string& packet :
       {std::string("<x:xmpmeta><rdf:RDF><dc:title>unclosed"), too_large}) {
    ASSERT_TRUE(dir_.WriteFile("bad.pdf", PdfWithXmp(packet, "Annual Report")));
    EXPECT_EQ(extractor.Extract(dir_.Path("bad.pdf")), "Annual Report\r\n");
  }
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(PdfTextTest, ADropCapJoinsTheFollowingWord) {
  PdfDocumentPlan plan;
  PdfPagePlan page;
  page.runs = {{72, 740, "Chapter One"},
               {72, 690, "T", 40},  // a capital three lines high
               {100, 718, "his is a story"},
               {100, 704, "of old"}};
  plan.pages = {page};
  PdfTextExtractor extractor(Options());
  EXPECT_EQ(extractor.Extract(WritePdf("dropcap.pdf", plan)), "Chapter One This is story of old ");
}

TEST_F(PdfTextTest, FilesThatAreNoDocumentGiveNoTextAndNoComplaint) {
  PdfTextExtractor extractor(Options());
  ASSERT_TRUE(dir_.WriteFile("garbage.pdf", "%PDF-1.4\n" + std::string(3000, '\x01')));
  ASSERT_TRUE(dir_.WriteFile("text.pdf", "plain text, no PDF"));
  EXPECT_EQ(extractor.Extract(dir_.Path("garbage.pdf")), "");
  EXPECT_EQ(extractor.Extract(dir_.Path("text.pdf")), "");
  EXPECT_EQ(extractor.Extract(dir_.Path("missing.pdf")), "");
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(PdfTextTest, AHelperThatRunsTooLongIsStoppedKeepsItsTextAndIsReportedOnce) {
  PdfTextOptions options = Options(WriteScript("slow.sh", "printf 'Title\r\npage one '; sleep 60"));
  options.time_limit = std::chrono::seconds(1);
  PdfTextExtractor extractor(options);
  EXPECT_EQ(extractor.Extract("/archive/slow one.pdf"), "Title\r\npage one ");
  EXPECT_EQ(extractor.Extract("/archive/slow one.pdf"), "Title\r\npage one ");
  EXPECT_EQ(extractor.Extract("/archive/slow two.pdf"), "Title\r\npage one ");
  std::vector<std::string> lines = log_.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "PDF text cut short (the time limit of 1 s passed): /archive/slow one.pdf");
  EXPECT_EQ(lines[1], "PDF text cut short (the time limit of 1 s passed): /archive/slow two.pdf");
}

TEST_F(PdfTextTest, AHelperThatFailsKeepsTheWholeWordsItSentBefore) {
  struct Case {
    const char* script;
    const char* text;
    const char* log;
  } cases[] = {
      {"printf 'first page cut'; kill -SEGV $$", "first page ",
       "PDF text cut short (the text helper was ended by SIGSEGV)"},
      {"printf 'first page\\n'; kill -ABRT $$", "first page\n",
       "PDF text cut short (the text helper was ended by SIGABRT)"},
      {"printf 'first page '; exit 4", "first page ",
       "PDF text cut short (the text helper ended with exit code 4)"},
      {"printf 'unfinishe'; kill -SEGV $$", "",
       "PDF text not read (the text helper was ended by SIGSEGV)"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    LogLines log;
    PdfTextOptions options = Options(WriteScript("fail" + std::to_string(n++) + ".sh", c.script));
    options.log = log.Sink();
    PdfTextExtractor extractor(options);
    EXPECT_EQ(extractor.Extract("/a/b.pdf"), c.text);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], std::string(c.log) + ": /a/b.pdf");
  }
}

TEST_F(PdfTextTest, ACancelledHelperStopsAtOnceWithoutTextOrComplaint) {
  std::atomic<bool> cancel{true};
  PdfTextExtractor extractor(Options(WriteScript("hang.sh", "printf 'some text '; sleep 60")));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(extractor.Extract("/a/hang.pdf", &cancel), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(PdfTextTest, PagesThatInflateBeyondTheCapAreNotRead) {
  const std::string path =
      dir_.Path("bomb.pdf");
  ASSERT_TRUE(dir_.WriteFile("bomb.pdf", flate_pdf::Document(flate_pdf::Content("inside", 2 << 20),
                                                             16 << 20)));
  PdfTextOptions options = Options();
  options.max_inflated_bytes = uint64_t{1} << 20;
  PdfTextExtractor capped(options);
  EXPECT_EQ(capped.Extract(path), "Flate\r\n");
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_EQ(log_.lines()[0],
            "PDF text cut short (its compressed streams inflate to more than 1 MiB): " + path);

  // Within the cap (the image does not count) the pages are read.
  options.max_inflated_bytes = uint64_t{4} << 20;
  PdfTextExtractor roomy(options);
  EXPECT_EQ(roomy.Extract(path), "Flate\r\ninside ");
}

TEST_F(PdfTextTest, AHelperThatExceedsTheMemoryLimitGivesNoText) {
  // A helper that tries to hold 300 MB under a 96 MiB limit fails.
  PdfTextOptions options =
      Options(WriteScript("hog.sh", "x=$(head -c 300000000 /dev/zero | tr '\\000' a); echo ${#x}"));
  options.memory_limit_bytes = uint64_t{96} << 20;
  PdfTextExtractor extractor(options);
  EXPECT_EQ(extractor.Extract("/a/big.pdf"), "");
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_NE(log_.lines()[0].find("): /a/big.pdf"), std::string::npos);

  // The real helper cannot even start its PDF library in 4 MiB.
  LogLines tiny_log;
  PdfTextOptions tiny = Options();
  tiny.memory_limit_bytes = uint64_t{4} << 20;
  tiny.log = tiny_log.Sink();
  PdfTextExtractor starved(tiny);
  EXPECT_EQ(starved.Extract(WritePdf("r.pdf", Report())), "");
  EXPECT_EQ(tiny_log.lines().size(), 1u);
}

TEST_F(PdfTextTest, OutputBeyondTheCapIsCutNotDropped) {
  // 64 MiB and a little more: more than any document keeps.
  PdfTextExtractor extractor(
      Options(WriteScript("flood.sh", "head -c 67109000 /dev/zero | tr '\\000' w")));
  std::string text = extractor.Extract("/a/flood.pdf");
  EXPECT_EQ(text.size(), size_t{64} << 20);
  EXPECT_EQ(text.find_first_not_of('w'), std::string::npos);
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(PdfTextTest, AMissingHelperIsReportedOnce) {
  PdfTextExtractor extractor(Options(dir_.Path("no-such-helper")));
  const std::string path = WritePdf("report.pdf", Report());
  EXPECT_EQ(extractor.Extract(path), "");
  EXPECT_EQ(extractor.Extract(path + "x"), "");
  ASSERT_EQ(log_.lines().size(), 1u);
  EXPECT_NE(log_.lines()[0].find("no-such-helper"), std::string::npos);

  LogLines log;
  PdfTextOptions none = Options("");
  none.log = log.Sink();
  PdfTextExtractor without(none);
  EXPECT_EQ(without.Extract(path), "");
  EXPECT_EQ(without.Extract(path), "");
  EXPECT_EQ(log.lines().size(), 1u);
}

TEST_F(PdfTextTest, SeveralThreadsExtractAtOnce) {
  PdfTextExtractor extractor(Options());
  const std::string path = WritePdf("report.pdf", Report());
  const std::string expected = extractor.Extract(path);
  ASSERT_FALSE(expected.empty());
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 3; ++i) {
        if (extractor.Extract(path) != expected) ++mismatches[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// Objects of a one-page document whose page draws `content` (object 4) with
// the font in object 5; `pages` replaces the page tree (object 2) and `page`
// the page (object 3) when given.
std::vector<std::string> OnePage(const std::string& content, const std::string& pages = "",
                                 const std::string& page = "") {
  return {"<< /Type /Catalog /Pages 2 0 R >>",
          pages.empty() ? "<< /Type /Pages /Kids [3 0 R] /Count 1 >>" : pages,
          page.empty() ? "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] "
                         "/Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>"
                       : page,
          "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
}

TEST_F(PdfTextTest, MalformedDocumentsNeverTakeTheCallerDown) {
  const std::string text = "BT /F1 12 Tf 72 700 Td (valid text) Tj ET\n";
  std::vector<std::string> loop = OnePage(text, "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>");
  std::vector<std::string> own_kid =
      OnePage(text, "", "<< /Type /Pages /Parent 2 0 R /Kids [3 0 R] /Count 1 /Contents 4 0 R >>");
  std::vector<std::string> long_length = OnePage(text);
  long_length[3] = "<< /Length 999999999 >>\nstream\n" + text + "endstream";
  std::vector<std::string> bad_flate = OnePage(text);
  bad_flate[3] =
      "<< /Length 64 /Filter /FlateDecode >>\nstream\n" + std::string(64, '\x9C') + "\nendstream";
  std::vector<std::string> self_form = OnePage(
      "/X1 Do " + text, "",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 5 0 R "
      ">> /XObject << /X1 6 0 R >> >> /Contents 4 0 R >>");
  self_form.push_back(
      "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /X1 6 0 R "
      ">> /Font << /F1 5 0 R >> >> /Length 26 >>\nstream\n/X1 Do BT /F1 9 Tf (form) Tj "
      "ET\nendstream");
  std::string bad_xref = BuildPdf(Report());
  for (size_t at = bad_xref.find("0000000"); at != std::string::npos;
       at = bad_xref.find(" 00000 n", at + 1)) {
    if (at >= 10) bad_xref.replace(at - 10, 10, "9999999999");
  }

  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"page tree loop", BuildPdfFromObjects(loop, "/Root 1 0 R")},
      {"page that is its own kid", BuildPdfFromObjects(own_kid, "/Root 1 0 R")},
      {"page count that lies",
       BuildPdfFromObjects(OnePage(text, "<< /Type /Pages /Kids [3 0 R] /Count 2147483647 >>"),
                           "/Root 1 0 R")},
      {"deep nesting",
       BuildPdfFromObjects(OnePage("BT /F1 12 Tf 72 700 Td " + std::string(200000, '[') +
                                   " (deep) Tj " + std::string(200000, ']') + " ET\n" + text),
                           "/Root 1 0 R")},
      {"stream length beyond the file", BuildPdfFromObjects(long_length, "/Root 1 0 R")},
      {"broken compression", BuildPdfFromObjects(bad_flate, "/Root 1 0 R")},
      {"huge numbers",
       BuildPdfFromObjects(OnePage("BT /F1 1e308 Tf 1e308 -1e308 Td (huge) Tj ET\n"
                                   "BT /F1 99999999999999999999 Tf 3e38 3e38 Td (valid) Tj ET\n" +
                                   text),
                           "/Root 1 0 R")},
      {"form that draws itself", BuildPdfFromObjects(self_form, "/Root 1 0 R")},
      {"catalogue without pages", BuildPdfFromObjects({"<< /Type /Catalog >>"}, "/Root 1 0 R")},
      {"root that is a number", BuildPdfFromObjects(OnePage(text), "/Root 5 0 R /Info 1 0 R")},
      {"information that is a stream",
       BuildPdfFromObjects(OnePage(text), "/Root 1 0 R /Info 4 0 R")},
      {"cross-reference offsets beyond the file", bad_xref},
  };
  const std::vector<std::string> known = {"valid",  "text",   "deep",      "huge",      "form",
                                          "Annual", "Report", "J\xFCrgen", "M\xFCller", "finance,",
                                          "2024",   "Hello",  "brave",     "world",     "line",
                                          "with",   "C",      "Page",      "two"};
  PdfTextOptions options = Options();
  options.time_limit = std::chrono::seconds(30);
  PdfTextExtractor extractor(options);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dir_.WriteFile("bad.pdf", c.bytes));
    const std::string got = extractor.Extract(dir_.Path("bad.pdf"));
    size_t start = 0;
    while (start < got.size()) {
      size_t end = got.find_first_of(" \r\n", start);
      if (end == std::string::npos) end = got.size();
      if (end > start) {
        const std::string word = got.substr(start, end - start);
        bool from_document = false;
        for (const std::string& k : known) from_document |= k.find(word) != std::string::npos;
        EXPECT_TRUE(from_document) << "[" << word << "] in [" << got << "]";
      }
      start = end + 1;
    }
  }
  for (const std::string& line : log_.lines()) {
    EXPECT_NE(line.find(dir_.Path("bad.pdf")), std::string::npos) << line;
  }
}

TEST_F(PdfTextTest, GivesAtMostTheWantedSize) {
  const std::string path = WritePdf("report.pdf", Report());
  const std::string full = PdfTextExtractor(Options()).Extract(path);
  for (size_t max : {size_t{1}, size_t{16}, size_t{40}, full.size(), full.size() + 1}) {
    SCOPED_TRACE(max);
    PdfTextOptions options = Options();
    options.max_text_bytes = max;
    EXPECT_EQ(PdfTextExtractor(options).Extract(path), full.substr(0, max));
  }
  EXPECT_TRUE(log_.lines().empty());
}

// A PDF below a served folder that is reached through a link a client put
// there is not read, neither by the helper nor by the server's own checks.
TEST_F(PdfTextTest, ThePdfBehindALinkInAServedFolderIsNotRead) {
  WritePdf("served/real/report.pdf", Report());
  WritePdf("outside/report.pdf", Report());
  ASSERT_EQ(::symlink(dir_.Path("outside").c_str(), dir_.Path("served/swapped").c_str()), 0);
  SetServedFolders({dir_.Path("served")});
  PdfTextExtractor extractor(Options());
  EXPECT_EQ(extractor.Extract(dir_.Path("served/swapped/report.pdf")), "");
  EXPECT_EQ(extractor.Extract(dir_.Path("served/real/report.pdf")).substr(0, 15),
            "Annual Report\r\n");
  SetServedFolders({});
  EXPECT_EQ(extractor.Extract(dir_.Path("served/swapped/report.pdf")).substr(0, 15),
            "Annual Report\r\n");
  EXPECT_TRUE(log_.lines().empty());
}

TEST_F(PdfTextTest, HelperChecksItsCommandLine) {
  const std::string pdf = BuildPdf(Report());
  ASSERT_TRUE(dir_.WriteFile("--odd name.pdf", pdf));
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string output;  // how the output starts
  } cases[] = {
      {{}, 2, ""},
      {{"a.pdf", "b.pdf"}, 2, ""},
      {{"--max-bytes"}, 2, ""},
      {{"--max-bytes", "x", "a.pdf"}, 2, ""},
      {{"--max-bytes", "-1", "a.pdf"}, 2, ""},
      {{"--max-bytes", "", "a.pdf"}, 2, ""},
      {{"--other", "a.pdf"}, 2, ""},
      {{"--max-inflated", "1k", "a.pdf"}, 2, ""},
      {{"--below"}, 2, ""},
      {{"--below", dir_.path(), "--", dir_.Path("--odd name.pdf")}, 0, "Annual Report\r\n"},
      {{"--", dir_.Path("--odd name.pdf")}, 0, "Annual Report\r\n"},
      {{"--max-bytes", "6", "--", dir_.Path("--odd name.pdf")}, 0, "Annual"},
      {{dir_.Path("missing.pdf")}, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {kHelper};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(testing::PrintToString(argv));
    ChildProcessOptions options;
    options.memory_limit_bytes = PdfTextOptions::FromEnvironment().memory_limit_bytes;
    StatusOr<ChildProcessResult> r = RunChildProcess(argv, options);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->exited);
    EXPECT_EQ(r->exit_code, c.exit_code);
    if (c.exit_code == 0) {
      EXPECT_EQ(r->output.substr(0, c.output.size()), c.output);
    } else {
      EXPECT_EQ(r->output, "");
    }
  }
}

TEST(PdfTextOptionsTest, ComeFromTheEnvironment) {
  {
    ScopedEnv helper("VANTREL_PDFTEXT", nullptr);
    ScopedEnv time("VANTREL_PDF_TIME_LIMIT", nullptr);
    ScopedEnv memory("VANTREL_PDF_MEMORY_LIMIT_MB", nullptr);
    ScopedEnv inflate("VANTREL_PDF_INFLATE_LIMIT_MB", nullptr);
    PdfTextOptions options = PdfTextOptions::FromEnvironment();
    StatusOr<std::string> dir = SelfExecutableDirectory();
    ASSERT_TRUE(dir.ok());
    EXPECT_EQ(options.helper_path, *dir + "/vantrel-pdftext");
    EXPECT_EQ(options.time_limit, std::chrono::seconds(60));
    EXPECT_TRUE(options.memory_limit_bytes == 0 || options.memory_limit_bytes == (1ull << 30));
  }
  struct Case {
    const char* time;
    const char* memory;
    int seconds;
    uint64_t bytes;  // ~0: the build's default
  } cases[] = {
      {"5", "256", 5, uint64_t{256} << 20},
      {"86400", "0", 86400, 0},
      {"0", "x", 60, ~0ull},
      {"-3", "-1", 60, ~0ull},
      {"12s", "1e3", 60, ~0ull},
      {"", "", 60, ~0ull},
      {"99999999999999999999", "99999999999999999999", 60, ~0ull},
  };
  const uint64_t default_bytes = PdfTextOptions::FromEnvironment().memory_limit_bytes;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.time << " / " << c.memory);
    ScopedEnv helper("VANTREL_PDFTEXT", "/opt/v/helper");
    ScopedEnv time("VANTREL_PDF_TIME_LIMIT", c.time);
    ScopedEnv memory("VANTREL_PDF_MEMORY_LIMIT_MB", c.memory);
    // The inflated-size cap is read by the same rules as the memory limit.
    ScopedEnv inflate("VANTREL_PDF_INFLATE_LIMIT_MB", c.memory);
    PdfTextOptions options = PdfTextOptions::FromEnvironment();
    EXPECT_EQ(options.helper_path, "/opt/v/helper");
    EXPECT_EQ(options.time_limit, std::chrono::seconds(c.seconds));
    EXPECT_EQ(options.memory_limit_bytes, c.bytes == ~0ull ? default_bytes : c.bytes);
    EXPECT_EQ(options.max_inflated_bytes, c.bytes == ~0ull ? uint64_t{256} << 20 : c.bytes);
  }
}

}  // namespace
}  // namespace vantrel
