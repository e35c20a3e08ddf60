// What picture headers add to image documents, and that with every metadata
// switch off the documents are those of the trailer and IIM readers alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "indexing/document_builder.h"
#include "indexing/document_groups.h"
#include "metadata/file_type.h"
#include "support/document_fixtures.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

std::string PhysicalChunk(uint32_t pixels_per_metre) {
  std::string d;
  for (int i = 0; i < 2; ++i) {
    for (int shift = 24; shift >= 0; shift -= 8) d.push_back(static_cast<char>(pixels_per_metre >> shift));
  }
  d.push_back(1);
  return MakePngChunk("pHYs", d);
}

std::string Exif(const char* date, uint32_t dpi = 0) {
  return MakeExifTiff({.x_resolution = dpi, .date_original = date});
}

ImageInfo Info(uint32_t width, uint32_t height, uint32_t channels, int32_t milli_dpi) {
  ImageInfo info;
  info.width = width;
  info.height = height;
  info.channels = channels;
  info.resolution_milli = milli_dpi;
  return info;
}

// One file of the corpus: its bytes, the document's head (type text) with
// every switch off and on, and what the headers add.
struct CorpusFile {
  std::string name;
  std::string bytes;
  std::string type_off;  // today's QxQB5002 value
  std::string type_on;
  std::string image_info_on;  // the image-info groups the headers add
  std::string caption_on;     // " xnocap " or the caption groups
  std::string image_date_on;  // the QxQP5016 value
};

const char kFileDate[] = "19990302";

std::vector<CorpusFile> Corpus() {
  const std::string caption = "Harbour at dawn with fishing boats";
  const std::string eps =
      "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 384 288\n"
      "%ImageData: 1600 1200 8 4 0 1600 2 \"beginimage\"\n%%EndComments\n";
  return {
      {"exif.jpg", MakeJpegWithExif(Exif("2011:11:11 11:11:11", 300)), "JPEG", "JPEG",
       ImageInfoGroups(Info(8, 8, 1, 300000)), " xnocap ", "20111111"},
      {"pic.png",
       MakePng({.width = 640,
                .height = 480,
                .chunks = {PhysicalChunk(11811), MakePngChunk("eXIf", Exif("2012:12:12 12:12:12")),
                           MakePngIptcChunk(MakeIptcBlock({{2, 120, caption}}))}}),
       "\x89PNG", "PNGf", ImageInfoGroups(Info(640, 480, 3, 299999)), "QxQ120 " + caption + " ZqZ ",
       "20121212"},
      {"pic.webp",
       MakeWebp({MakeWebpCanvasChunk(1000, 750, 0x08), MakeWebpLossyChunk(1000, 750),
                 MakeWebpChunk("EXIF", Exif("2013:01:02 03:04:05"))}),
       "RIFF", "WEBP", ImageInfoGroups(Info(1000, 750, 3, 0)), " xnocap ", "20130102"},
      {"scan.tif",
       MakeExifTiff({.width = 640, .height = 480, .samples = 3, .x_resolution = 300,
                     .date_original = "2014:04:04 00:00:00"}),
       "TIFF", "TIFF", ImageInfoGroups(Info(640, 480, 3, 300000)), " xnocap ", "20140404"},
      {"art.eps", eps, "EPSF", "EPSF", ImageInfoGroups(Info(1600, 1200, 4, 300000)), " xnocap ",
       kFileDate},
      {"plain.jpg", MakeJpeg(), "JPEG", "JPEG", ImageInfoGroups(Info(8, 8, 1, 72000)), " xnocap ",
       kFileDate},
  };
}

class DocumentHeadersTest : public ::testing::Test {
 protected:
  DocumentHeadersTest() {
    options_.streams = &streams_;
    options_.empty_fields = EmptyFieldMode::kNone;
    options_.open_attempts = 1;
  }

  std::string Compose(const std::string& name, const std::string& bytes,
                      const MetadataSwitches& switches) {
    EXPECT_TRUE(dir_.WriteFile(name, bytes));
    EXPECT_TRUE(SetFileTimeUtc(dir_.Path(name), UtcSeconds(1999, 3, 2)));
    DocumentFile file;
    file.native_path = dir_.Path(name);
    file.file_key = "01" + name;
    options_.switches = switches;
    ComposedDocument doc = ComposeImageDocument(file, options_);
    EXPECT_TRUE(doc.opened) << name;
    return doc.text;
  }

  std::string Document(const std::string& name, size_t size, const std::string& type,
                       const std::string& middle, const std::string& image_date) const {
    return TextGroup(kMarkerFileType, type) + Number6Group(kMarkerFileSize, FileSizeValue(size)) +
           OnlineGroup(false) + middle + TextGroup(kMarkerFileDate, kFileDate) +
           TextGroup(kMarkerImageDate, image_date) + " " + PathGroups(dir_.Path(name));
  }

  TempDir dir_;
  mac_test::FakeFileStreams streams_;
  DocumentOptions options_;
};

TEST_F(DocumentHeadersTest, WithEverySwitchOffDocumentsAreThoseOfTrailerAndIimAlone) {
  for (const CorpusFile& f : Corpus()) {
    EXPECT_EQ(Compose(f.name, f.bytes, MetadataSwitches::AllOff()),
              Document(f.name, f.bytes.size(), f.type_off, " xnocap ", kFileDate))
        << f.name;
  }
}

TEST_F(DocumentHeadersTest, WholeDocumentsWithEverySwitchOn) {
  for (const CorpusFile& f : Corpus()) {
    EXPECT_EQ(Compose(f.name, f.bytes, MetadataSwitches()),
              Document(f.name, f.bytes.size(), f.type_on, f.image_info_on + f.caption_on,
                       f.image_date_on))
        << f.name;
  }
}

TEST_F(DocumentHeadersTest, EachSwitchTurnsItsOwnPartOn) {
  MetadataSwitches dimensions = MetadataSwitches::AllOff();
  dimensions.header_dimensions = true;
  MetadataSwitches dates = MetadataSwitches::AllOff();
  dates.capture_date = true;
  const CorpusFile png = Corpus()[1];
  EXPECT_EQ(Compose(png.name, png.bytes, dimensions),
            Document(png.name, png.bytes.size(), "PNGf", png.image_info_on + png.caption_on,
                     kFileDate));
  EXPECT_EQ(Compose(png.name, png.bytes, dates),
            Document(png.name, png.bytes.size(), png.type_off, " xnocap ", "20121212"));
}

TEST_F(DocumentHeadersTest, TrailerAndDateCreatedComeFirst) {
  // A trailer with an image-info block and a caption without 2:55: the
  // trailer's sizes stand alone, the date comes from EXIF.
  const std::string caption = MakeIptcBlock({{2, 120, "Harbour at night, long exposure"}});
  const std::string jpeg = MakeJpegWithExif(Exif("2015:05:05 05:05:05", 300));
  const std::string info = AppendTrailer(jpeg, {{2, MakeImageInfoBlock(720, 720, 7, 0)}, {1, caption}});
  std::string doc = Compose("trailer.jpg", info, MetadataSwitches());
  EXPECT_EQ(doc.find(ImageInfoGroups(Info(720, 720, 7, 0)) + "QxQ120 "), doc.find(" QxQA5001")) << doc;
  EXPECT_EQ(doc.find(" QxQA5001", doc.find(" QxQA5001") + 1), std::string::npos) << doc;
  EXPECT_NE(doc.find(TextGroup(kMarkerImageDate, "20150505")), std::string::npos) << doc;

  // A caption with a date created keeps it; one with a date created that is
  // no date keeps the file date, as before.
  for (const auto& [created, image_date] :
       {std::pair<const char*, const char*>{"20010203", "20010203"}, {"2001", kFileDate}}) {
    const std::string dated = AppendTrailer(
        jpeg, {{1, MakeIptcBlock({{2, 55, created}, {2, 120, "Harbour at night, long exposure"}})}});
    doc = Compose("dated.jpg", dated, MetadataSwitches());
    EXPECT_NE(doc.find(TextGroup(kMarkerImageDate, image_date)), std::string::npos) << doc;
  }
}

}  // namespace
}  // namespace vantrel
