#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "indexing/document_builder.h"
#include "indexing/document_groups.h"
#include "metadata/caption_record.h"
#include "metadata/file_type.h"
#include "pdf/pdf_xmp_section.h"
#include "platform/file_time.h"
#include "support/document_fixtures.h"
#include "support/fault_file_system.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

// Reads the first bytes of a file normally but fails every longer read with
// an exception, as a failed allocation would.
class ThrowingTailFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                      size_t length) override {
    if (length > 4) throw std::bad_alloc();
    return FaultFileSystem::ReadFileRange(path, offset, length);
  }
};

// A file that a client appends to while it is read: smaller at every look
// before the first read than the bytes that read finds.
class GrowingFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  StatusOr<FileInfo> Stat(const std::string& path) override {
    StatusOr<FileInfo> info = FaultFileSystem::Stat(path);
    if (info.ok() && !read_ && info->size >= kGrowth) info->size -= kGrowth;
    return info;
  }
  StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                      size_t length) override {
    read_ = true;
    return FaultFileSystem::ReadFileRange(path, offset, length);
  }

 private:
  static constexpr uint64_t kGrowth = 16;
  bool read_ = false;
};

class DocumentComposeTest : public ::testing::Test {
 protected:
  DocumentComposeTest() {
    options_.streams = &streams_;
    options_.empty_fields = EmptyFieldMode::kNone;
    // The documents of the trailer and IIM readers alone; what the picture
    // headers add is tested in document_headers_test.cc.
    options_.switches = MetadataSwitches::AllOff();
    options_.open_attempts = 2;
    options_.open_pause = std::chrono::milliseconds(1);
  }

  // Writes `bytes` as `name` (last written 2 March 1999 UTC) and composes it
  // under file key "01" + name.
  ComposedDocument Compose(const std::string& name, const std::string& bytes,
                           std::string key = "") {
    EXPECT_TRUE(dir_.WriteFile(name, bytes));
    EXPECT_TRUE(SetFileTimeUtc(dir_.Path(name), UtcSeconds(1999, 3, 2)));
    DocumentFile file;
    file.native_path = dir_.Path(name);
    file.file_key = key.empty() ? "01" + name : key;
    return ComposeImageDocument(file, options_);
  }

  // The tail of a file of the temporary folder.
  std::string Tail(const std::string& name) const { return " " + PathGroups(dir_.Path(name)); }

  static std::string Dates(const char* image_date = "19990302") {
    return TextGroup(kMarkerFileDate, "19990302") + TextGroup(kMarkerImageDate, image_date);
  }

  TempDir dir_;
  mac_test::FakeFileStreams streams_;
  DocumentOptions options_;
};

TEST_F(DocumentComposeTest, PlainJpegInTheOffLineFolder) {
  ComposedDocument doc = Compose("img.jpg", MakeJpeg(1000000), "00img.jpg");
  ASSERT_TRUE(doc.opened);
  EXPECT_FALSE(doc.text_problem);
  EXPECT_EQ(doc.type_code, kTypeJpeg);
  EXPECT_EQ(doc.time, FileTimeStampFromUnix(UtcSeconds(1999, 3, 2)));
  EXPECT_EQ(doc.text,
            " QxQB5002 JPEG ZqZ  QxQH5008 001000 ZqZ  QxQN5014 OFFLINE ZqZ "
            " xnocap " +
                Dates() + Tail("img.jpg"));
}

TEST_F(DocumentComposeTest, TypeCodeFromExtensionFinderTypeOrFirstBytes) {
  const std::string jpeg = MakeJpeg();
  streams_.Put(dir_.Path("finder.jpeg"), MacStream::kAfpInfo,
               mac_test::AfpInfoStream("8BPS", "8BIM"));
  const struct {
    const char* name;
    std::string bytes;
    const char* type_text;  // in the QxQB5002 group
    uint32_t type_code;
  } cases[] = {
      {"IMG.JPG", jpeg, "JPEG", kTypeJpeg},
      {"x.JiF", jpeg, "JPEG", kTypeJpeg},
      {"plain.tif", MakeTiffWithIptc({}, {true, TiffIptcType::kNone}), "TIFF", kTypeTiff},
      {"e.DCS", "%!PS-Adobe-3.0 EPSF-3.0\n", "EPSF", kTypeEps},
      // The dot of ".jpeg" lies five characters from the end: no extension.
      {"finder.jpeg", jpeg, "8BPS", MakeTypeCode('8', 'B', 'P', 'S')},
      {"a.jpeg", "GIF89a and more", "GIF8", 0},
      {"zero.bin", std::string("AB\0D and more", 13), "AB", 0},
      {"x.tif", "%!PS-Adobe-3.0\n", "EPSF", kTypeEps},
      {"dos.dat", std::string("\xC5\xD0\xD3\xC6", 4) + std::string(40, '\0'), "EPSF", kTypeEps},
      {"short.xyz", "ab", "ab", 0},
  };
  for (const auto& c : cases) {
    ComposedDocument doc = Compose(c.name, c.bytes);
    ASSERT_TRUE(doc.opened) << c.name;
    EXPECT_EQ(doc.type_code, c.type_code) << c.name;
    EXPECT_EQ(doc.text.rfind(TextGroup(kMarkerFileType, c.type_text), 0), 0u)
        << c.name << ": " << doc.text.substr(0, 40);
  }
}

TEST_F(DocumentComposeTest, ImageInfoBlockOfTheTrailer) {
  const std::string iptc = MakeIptcBlock({{2, 120, "Harbour at night, long exposure"}});
  const std::string file =
      AppendTrailer(MakeJpeg(), {{2, MakeImageInfoBlock(720, 720, 7, 0)}, {1, iptc}});
  ComposedDocument doc = Compose("info.jpg", file);
  ASSERT_TRUE(doc.opened);
  EXPECT_EQ(doc.text.rfind(" QxQB5002 JPEG ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ "
                           " QxQA5001 CMYK ZqZ  QxQC5003 0020 ZqZ  QxQD5004 0025 ZqZ "
                           " QxQE5005 0025 ZqZ  QxQF5006 0700 ZqZ  QxQG5007 0700 ZqZ "
                           " QxQI5009 003500 ZqZ  QxQM5013 LANDSCAPE PORTRAIT ZqZ "
                           "QxQ120 Harbour at night, long exposure ZqZ ",
                           0),
            0u)
      << doc.text;

  // Without a caption block the trailer is not looked at for the image-info
  // block.
  doc = Compose("infoonly.jpg", AppendTrailer(MakeJpeg(), {{2, MakeImageInfoBlock(9, 9, 3, 0)}}));
  EXPECT_EQ(doc.text.find("QxQA5001"), std::string::npos) << doc.text;
  EXPECT_NE(doc.text.find(" xnocap "), std::string::npos);
}

TEST_F(DocumentComposeTest, SmallCaptionMarkerBelowThirtyBytes) {
  for (size_t length : {29u, 30u}) {
    // 2:00 (7 bytes) and 2:120 (5 bytes of header) around the value.
    const std::string value(length - 12, 'w');
    const std::string iptc = MakeIptcBlock({{2, 120, value}});
    CaptionRecord record;
    ASSERT_TRUE(InstallIptcBlock(record, iptc));
    ASSERT_EQ(record.iptc_length(), static_cast<int32_t>(length));

    ComposedDocument doc =
        Compose("cap" + std::to_string(length) + ".jpg", AppendTrailer(MakeJpeg(), {{1, iptc}}));
    const std::string groups = "QxQ120 " + value + " ZqZ ";
    if (length < 30) {
      EXPECT_NE(doc.text.find(" QxQN5014 ONLINE ZqZ  xsmallcap " + groups + Dates()),
                std::string::npos)
          << doc.text;
    } else {
      EXPECT_NE(doc.text.find(" QxQN5014 ONLINE ZqZ " + groups + Dates()), std::string::npos)
          << doc.text;
      EXPECT_EQ(doc.text.find("xsmallcap"), std::string::npos);
    }
  }
}

TEST_F(DocumentComposeTest, IptcDataWithoutRecordTwoIsASmallCaptionOfEmptyFields) {
  // Only a record-1 envelope (8 bytes): caption data, but no record-2 values.
  const std::string envelope = MakeIptcBlock({{1, 90, "\x1B%G"}}, false);
  options_.empty_fields = EmptyFieldMode::kCommon;
  ComposedDocument doc = Compose("env.jpg", AppendTrailer(MakeJpeg(), {{1, envelope}}));
  std::string fields;
  for (int n : {5, 15, 20, 25, 40, 55, 80, 90, 101, 105, 110, 120, 121}) {
    char group[32];
    std::snprintf(group, sizeof group, "QxQ%03i xnoword ZqZ ", n);
    fields += group;
  }
  EXPECT_EQ(doc.text, " QxQB5002 JPEG ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ "
                      " xsmallcap " +
                          fields + Dates() + Tail("env.jpg"));
}

TEST_F(DocumentComposeTest, CaptionFarFromTheEndIsFoundByAGrowingWindow) {
  const std::string long_caption(2000, 'k');
  const std::string headline(2000, 'h');
  const std::string iptc =
      MakeIptcBlock({{2, 105, headline}, {2, 120, long_caption}, {2, 55, "20010915"}});
  ComposedDocument doc = Compose(
      "far.jpg",
      AppendTrailer(MakeJpeg(), {{2, MakeImageInfoBlock(3000, 2000, 3, 300000)}, {1, iptc}}));
  EXPECT_NE(doc.text.find("QxQ105 " + headline + " ZqZ QxQ120 " + long_caption + " ZqZ "),
            std::string::npos);
  EXPECT_NE(doc.text.find(" QxQA5001 RGB Lab ZqZ "), std::string::npos);
  // The date created is the image date.
  EXPECT_NE(doc.text.find(Dates("20010915") + Tail("far.jpg")), std::string::npos) << doc.text;

  // A date created that is no date leaves the file date.
  doc = Compose(
      "baddate.jpg",
      AppendTrailer(MakeJpeg(), {{1, MakeIptcBlock({{2, 55, "2001xx15"}, {2, 120, "x"}})}}));
  EXPECT_NE(doc.text.find(Dates() + Tail("baddate.jpg")), std::string::npos) << doc.text;
}

TEST_F(DocumentComposeTest, CaptionThroughAxsMarkers) {
  const std::string iptc = MakeIptcBlock({{2, 105, "Marker headline"}});
  ComposedDocument doc = Compose("axs.jpg", AppendAxsMarkers(MakeJpeg(), iptc));
  EXPECT_NE(doc.text.find("QxQ105 Marker headline ZqZ "), std::string::npos) << doc.text;
}

TEST_F(DocumentComposeTest, CaptionsFromTheFilesDataOnlyWithDocumentInfo) {
  const std::vector<IptcDataset> datasets = {{2, 5, "Object"}, {2, 120, "Caption in the data"}};
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"ps.jpg", MakeJpegWithIptc(datasets)},
      {"ps.eps", MakeEpsWithIptc(datasets)},
      {"ps.tif", MakeTiffWithIptc(datasets)},
  };
  for (const auto& f : files) {
    options_.read_document_info = true;
    ComposedDocument doc = Compose(f.name, f.bytes);
    EXPECT_NE(doc.text.find(" QxQN5014 ONLINE ZqZ QxQ005 Object ZqZ QxQ120 Caption in the data "
                            "ZqZ " +
                            Dates()),
              std::string::npos)
        << f.name << ": " << doc.text;
    options_.read_document_info = false;
    doc = Compose(f.name, f.bytes);
    EXPECT_NE(doc.text.find(" QxQN5014 ONLINE ZqZ  xnocap " + Dates()), std::string::npos)
        << f.name << ": " << doc.text;
  }
}

TEST_F(DocumentComposeTest, EmptyFieldModeAndMacText) {
  const std::string iptc = MakeIptcBlock({{2, 120, "Caf\x8E au lait"}, {2, 5, "Title"}});
  options_.empty_fields = EmptyFieldMode::kCommon;
  options_.convert_mac_text = true;
  ComposedDocument doc = Compose("mac.jpg", AppendTrailer(MakeJpeg(), {{1, iptc}}));
  EXPECT_NE(doc.text.find("QxQ005 Title ZqZ QxQ015 xnoword ZqZ "), std::string::npos) << doc.text;
  EXPECT_NE(doc.text.find("QxQ120 Caf\xE9 au lait ZqZ QxQ121 xnoword ZqZ "), std::string::npos)
      << doc.text;
  EXPECT_NE(doc.text.find(Dates() + Tail("mac.jpg")), std::string::npos);

  options_.convert_mac_text = false;
  doc = Compose("mac.jpg", AppendTrailer(MakeJpeg(), {{1, iptc}}));
  EXPECT_NE(doc.text.find("QxQ120 Caf\x8E au lait ZqZ "), std::string::npos);
}

TEST_F(DocumentComposeTest, PdfDocument) {
  const std::string pdf = "%PDF-1.4\n" + std::string(2000, 'p');
  std::vector<std::string> asked;
  options_.pdf_text = [&](const std::string& path) {
    asked.push_back(path);
    return std::string("Title Annual report\0page words", 30);
  };
  ComposedDocument doc = Compose("report.xyz", pdf);
  EXPECT_TRUE(doc.is_pdf);
  EXPECT_EQ(doc.type_code, kTypePdf);
  EXPECT_EQ(asked, std::vector<std::string>{dir_.Path("report.xyz")});
  // Zero bytes of the text become blanks.
  EXPECT_EQ(doc.text,
            " QxQB5002 PDF  ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ "
            "Title Annual report page words" +
                Dates() + Tail("report.xyz"));
}

// The XMP words the helper sends in front of the text enter the document
// while the index reads XMP; without, the document is the one of the text
// alone. Text without a whole section is taken as it is.
TEST_F(DocumentComposeTest, PdfXmpWordsFollowTheIndexSwitch) {
  const std::string head = " QxQB5002 PDF  ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ ";
  const std::string text = "Title\r\npage words ";
  std::string helper_text = PdfXmpSection("Hafen\r\nK\xF6ln\r\n") + text;
  options_.pdf_text = [&](const std::string&) { return helper_text; };
  options_.switches = MetadataSwitches();
  EXPECT_EQ(Compose("x.pdf", "%PDF-1.4\n").text,
            head + "Hafen\r\nK\xF6ln\r\n" + text + Dates() + Tail("x.pdf"));
  options_.switches = MetadataSwitches::AllOff();
  EXPECT_EQ(Compose("x.pdf", "%PDF-1.4\n").text, head + text + Dates() + Tail("x.pdf"));
  options_.switches = MetadataSwitches();
  helper_text = "\x1FXMP99\x1FHafen " + text;  // cut short: no section
  EXPECT_EQ(Compose("x.pdf", "%PDF-1.4\n").text, head + helper_text + Dates() + Tail("x.pdf"));
}

TEST_F(DocumentComposeTest, PdfTextIsCutSoTheTailAlwaysFits) {
  options_.pdf_text = [](const std::string&) { return std::string(300000, 'a'); };
  ComposedDocument doc = Compose("big.pdf", "%PDF-1.4\n");
  const std::string head = " QxQB5002 PDF  ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ ";
  ASSERT_EQ(doc.text.rfind(head, 0), 0u);
  EXPECT_EQ(doc.text.size(),
            head.size() + kMaxPdfTextBytes + Dates().size() + Tail("big.pdf").size());
  EXPECT_EQ(doc.text.find_first_not_of('a', head.size()), head.size() + kMaxPdfTextBytes);
  EXPECT_LE(doc.text.size(), kDocumentCapacity);
}

TEST_F(DocumentComposeTest, HugeCaptionKeepsTheDatesAndTheTail) {
  std::vector<IptcDataset> datasets;
  for (int i = 0; i < 150; ++i) datasets.push_back({2, 25, std::string(2000, 'a' + i % 26)});
  ComposedDocument doc = Compose("huge.tif", MakeTiffWithIptc(datasets));
  EXPECT_EQ(doc.text.size(), kDocumentCapacity);
  const std::string end = Dates() + Tail("huge.tif");
  EXPECT_EQ(doc.text.compare(doc.text.size() - end.size(), end.size(), end), 0)
      << doc.text.substr(doc.text.size() - 300);
}

TEST_F(DocumentComposeTest, FaultWhileReadingKeepsTheGroupsSoFarAndTheTail) {
  options_.pdf_text = [](const std::string&) -> std::string { throw std::bad_alloc(); };
  ComposedDocument doc = Compose("fault.pdf", "%PDF-1.4\n");
  EXPECT_TRUE(doc.opened);
  EXPECT_TRUE(doc.text_problem);
  EXPECT_EQ(doc.text,
            " QxQB5002 PDF  ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ " + Tail("fault.pdf"));

  ThrowingTailFileSystem fs(DefaultFileSystem());
  options_.fs = &fs;
  doc = Compose("fault.jpg", MakeJpeg());
  EXPECT_TRUE(doc.text_problem);
  EXPECT_EQ(doc.text,
            " QxQB5002 JPEG ZqZ  QxQH5008 000000 ZqZ  QxQN5014 ONLINE ZqZ " + Tail("fault.jpg"));
}

// A small file is read once for all its readers, but only when it is still
// the size it had: one that grew is read by each reader as it is now, so its
// new trailer is found.
TEST_F(DocumentComposeTest, FileThatGrowsWhileReadIsReadAsItIsNow) {
  const std::string file = AppendTrailer(
      MakeJpeg(), {{1, MakeIptcBlock({{2, 120, "Harbour at night, long exposure"}})}});
  const std::string steady = Compose("steady.jpg", file).text;
  ASSERT_NE(steady.find("Harbour at night"), std::string::npos);
  GrowingFileSystem fs(DefaultFileSystem());
  options_.fs = &fs;
  ComposedDocument grown = Compose("steady.jpg", file);
  EXPECT_TRUE(grown.opened);
  EXPECT_EQ(grown.text, steady);
}

TEST_F(DocumentComposeTest, BrokenTrailersGiveNoCaptionButAWholeDocument) {
  const std::string magic = "\xA1\xB2\xC3\xD4";
  const std::string files[] = {
      // A footer whose length reaches before the start of the file.
      MakeJpeg() + std::string("\x00\x01\xFF\xFF\xFF\xF0", 6) + magic,
      // A length below the footer size.
      MakeJpeg() + std::string("\x00\x01\x00\x00\x00\x02", 6) + magic,
      // Only the magic.
      magic,
      // An image-info block that is too short, beside a caption.
      AppendTrailer(MakeJpeg(), {{2, "short"}, {1, MakeIptcBlock({{2, 5, "Title"}})}}),
      // "AXS!" markers pointing outside the file.
      MakeJpeg() + "AXS!" + std::string("\xFF\xFF\xFF\x00", 4) + std::string(8, 'x'),
  };
  int n = 0;
  for (const std::string& bytes : files) {
    const std::string name = "broken" + std::to_string(n++) + ".jpg";
    ComposedDocument doc = Compose(name, bytes);
    ASSERT_TRUE(doc.opened) << name;
    EXPECT_FALSE(doc.text_problem) << name;
    EXPECT_EQ(doc.text.find("QxQA5001"), std::string::npos) << name;
    const std::string end = Dates() + Tail(name);
    ASSERT_GE(doc.text.size(), end.size());
    EXPECT_EQ(doc.text.substr(doc.text.size() - end.size()), end) << name;
  }
}

TEST_F(DocumentComposeTest, FileThatCannotBeOpenedGivesNoDocument) {
  DocumentFile file;
  file.native_path = dir_.Path("missing.jpg");
  file.file_key = "01missing.jpg";
  ComposedDocument doc = ComposeImageDocument(file, options_);
  EXPECT_FALSE(doc.opened);
  EXPECT_TRUE(doc.text.empty());

  ASSERT_TRUE(dir_.MakeFolder("folder.jpg"));
  file.native_path = dir_.Path("folder.jpg");
  EXPECT_FALSE(ComposeImageDocument(file, options_).opened);

  FaultFileSystem fs(DefaultFileSystem());
  fs.FailReadsMatching("*/locked.jpg");
  options_.fs = &fs;
  ASSERT_TRUE(dir_.WriteFile("locked.jpg", MakeJpeg()));
  file.native_path = dir_.Path("locked.jpg");
  file.time = 77;
  EXPECT_FALSE(ComposeImageDocument(file, options_).opened);
}

}  // namespace
}  // namespace vantrel
