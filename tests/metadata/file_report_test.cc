#include "metadata/file_report.h"

#include <gtest/gtest.h>

#include <string>

#include "metadata/iim_codec.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kCaption = {{2, 120, "Caf\xE9 caption"}, {2, 25, "kw"}};

struct InspectCase {
  const char* file;
  std::string bytes;
  const char* type;
  CaptionSource source;
};

TEST(Inspect, NamesTheReaderThatFoundTheCaption) {
  TempDir dir;
  const std::string iptc = MakeIptcBlock(kCaption);
  const InspectCase cases[] = {
      {"a.jpg", MakeJpegWithIptc(kCaption), "JPEG", CaptionSource::kPhotoshop},
      {"b.JPG",
       AppendTrailer(MakeJpeg(), {{1, iptc}, {2, MakeImageInfoBlock(640, 480, 3, 300000)}}), "JPEG",
       CaptionSource::kTrailer},
      {"c.jpg", AppendAxsMarkers(MakeJpeg(), iptc), "JPEG", CaptionSource::kTrailerMarkers},
      {"d.eps", MakeEpsWithIptc(kCaption), "EPSF", CaptionSource::kEps},
      {"e.tif", MakeTiffWithIptc(kCaption), "TIFF", CaptionSource::kTiff},
      {"f.tif", "%!PS" + MakeJpeg().substr(4), "EPSF", CaptionSource::kNone},
      {"g.jpeg", MakeJpeg(), "", CaptionSource::kNone},
  };
  for (const InspectCase& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(dir.WriteFile(c.file, c.bytes));
    ImageFileDescription d = InspectImageFile(dir.Path(c.file));
    EXPECT_TRUE(d.readable);
    EXPECT_EQ(d.type_code, c.type);
    EXPECT_EQ(d.source, c.source);
    if (c.source != CaptionSource::kNone) {
      ASSERT_EQ(d.datasets.size(), 3u);
      EXPECT_EQ(d.datasets[1].number, 120);
      EXPECT_EQ(d.datasets[1].name, "Caption/Abstract");
      EXPECT_EQ(d.datasets[1].value, "Caf\xE9 caption");
    }
  }
  std::string text = DescribeImageFile(dir.Path("b.JPG"));
  EXPECT_NE(text.find("Caption source: trailer\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  2:120 Caption/Abstract = \"Caf\xC3\xA9 caption\" (IIM)\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("width 640, height 480, channels 3, resolution 300.000 dpi"),
            std::string::npos)
      << text;
}

TEST(Inspect, MacintoshStreamsAndDocumentInfoOption) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("m.jpg", MakeJpeg()));
  InspectOptions options;
  options.mac_streams = [](CaptionRecord& r, const std::string&) {
    InstallIptcBlock(r, MakeIptcBlock({{2, 105, "fork"}}));
    return CaptionSource::kResourceFork;
  };
  EXPECT_EQ(InspectImageFile(dir.Path("m.jpg"), options).source, CaptionSource::kResourceFork);
  options.read_document_info = false;
  EXPECT_EQ(InspectImageFile(dir.Path("m.jpg"), options).source, CaptionSource::kNone);
  ImageFileDescription missing = InspectImageFile(dir.Path("none.jpg"));
  EXPECT_FALSE(missing.readable);
  EXPECT_NE(FormatImageFileDescription(missing).find("cannot read"), std::string::npos);
}

// Each value names where it came from; the switches turn the header's
// values off as the document builder does.
TEST(Inspect, NamesTheSourceOfEveryValue) {
  TempDir dir;
  const std::string exif = MakeExifTiff({.x_resolution = 300, .date_original = "2012:12:12 00:00:00"});
  ASSERT_TRUE(dir.WriteFile(
      "p.png", MakePng({.width = 640,
                        .height = 480,
                        .chunks = {MakePngChunk("eXIf", exif), MakePngIptcChunk(MakeIptcBlock(kCaption))}})));
  std::string text = DescribeImageFile(dir.Path("p.png"));
  EXPECT_NE(text.find("Type: PNGf\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Caption source: PNG raw profile\n"), std::string::npos) << text;
  EXPECT_NE(text.find("2:025 Keywords = \"kw\" (IIM)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Image info: width 640, height 480, channels 3, resolution 300.000 dpi (header)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Header: PNG\nImage date: 20121212 (EXIF)\n"), std::string::npos) << text;

  InspectOptions off;
  off.switches = MetadataSwitches::AllOff();
  text = DescribeImageFile(dir.Path("p.png"), off);
  EXPECT_NE(text.find("Caption source: none\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Image info: none\n"), std::string::npos) << text;
  EXPECT_NE(text.find("(file date)\n"), std::string::npos) << text;

  std::vector<IptcDataset> dated = kCaption;
  dated.push_back({2, 55, "20010203"});
  ASSERT_TRUE(dir.WriteFile(
      "t.jpg", AppendTrailer(MakeJpegWithExif(exif),
                             {{1, MakeIptcBlock(dated)}, {2, MakeImageInfoBlock(720, 720, 3, 0)}})));
  text = DescribeImageFile(dir.Path("t.jpg"));
  EXPECT_NE(text.find("resolution 0.000 dpi (trailer)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Image date: 20010203 (IIM)\n"), std::string::npos) << text;
}

// A caption that only the file's own XMP packet holds, and an image-info
// block in a trailer without a caption: both are found.
TEST(Inspect, FindsXmpAndAnImageInfoTrailerWithoutCaption) {
  TempDir dir;
  const std::string packet =
      "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>"
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
      " photoshop:Headline='Harbour at dawn'/>"
      "</rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
  const std::string itxt = std::string("XML:com.adobe.xmp") + std::string(5, '\0') + packet;
  ASSERT_TRUE(dir.WriteFile("x.png", MakePng({.chunks = {MakePngChunk("iTXt", itxt)}})));
  std::string text = DescribeImageFile(dir.Path("x.png"));
  EXPECT_NE(text.find("Harbour at dawn"), std::string::npos) << text;

  ASSERT_TRUE(dir.WriteFile("i.jpg",
                            AppendTrailer(MakeJpeg(), {{2, MakeImageInfoBlock(800, 600, 3, 72)}})));
  ImageFileDescription d = InspectImageFile(dir.Path("i.jpg"));
  EXPECT_EQ(d.source, CaptionSource::kNone);
  EXPECT_TRUE(d.has_image_info);
  text = DescribeImageFile(dir.Path("i.jpg"));
  EXPECT_NE(text.find("width 800, height 600"), std::string::npos) << text;
}

}  // namespace
}  // namespace vantrel
