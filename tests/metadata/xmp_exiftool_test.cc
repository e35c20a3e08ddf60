// Pictures as exiftool writes them, read as the document builder reads them
// (IIM readers, then ExtendCaption): every row of the XMP mapping, in JPEG,
// TIFF and EPS; which copy wins between IIM and XMP (with and without the
// IPTC digest); sidecars; Extended XMP; UTF-8 IIM. Skipped when exiftool is
// not installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/eps_reader.h"
#include "metadata/iim_codec.h"
#include "metadata/image_data_view.h"
#include "metadata/photoshop_reader.h"
#include "metadata/tiff_reader.h"
#include "metadata/xmp_caption.h"
#include "metadata/xmp_sources.h"
#include "support/external_tools.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using tool_test::Installed;
using tool_test::kExiftool;
using tool_test::RunExiftool;

using Datasets = std::vector<std::pair<int, std::string>>;

Datasets RecordDatasets(const CaptionRecord& r) {
  Datasets out;
  for (const IimDataset& d : WalkDatasets(r.iptc)) {
    if (d.record == 2 && d.dataset != 0) out.emplace_back(d.dataset, std::string(d.value));
  }
  return out;
}

std::string Value(const Datasets& datasets, int number) {
  for (const auto& [n, v] : datasets) {
    if (n == number) return v;
  }
  return "(absent)";
}

class XmpExiftoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed(kExiftool)) GTEST_SKIP() << "exiftool is not installed";
  }

  // Writes `bytes` as `name`, then lets exiftool write the arguments into it
  // (UTF-8 arguments, UTF-8 IIM unless the arguments say otherwise).
  std::string Make(const std::string& name, const std::string& bytes,
                   const std::vector<std::string>& args) {
    EXPECT_TRUE(dir_.WriteFile(name, bytes));
    std::string path = dir_.Path(name);
    EXPECT_TRUE(RunExiftool(path, args)) << name;
    return path;
  }

  // The record the document builder would compose from.
  Datasets Read(const std::string& path, MetadataSwitches switches = {}) {
    CaptionRecord r;
    CaptionExtras extras;
    ImageDataView view;
    if (OpenImageData(view, path)) {
      if (!ReadPhotoshopCaption(r, view.data(), path) &&
          !ReadEpsCaption(view.data(), path, r)) {
        (void)ReadTiffCaption(view.data(), path, r, &extras.declared);
      }
      if (switches.xmp) extras.embedded = ReadEmbeddedXmp(view.data(), CodePage::BuiltInWindows1252());
      CloseImageData(view);
    }
    extras.fs = DefaultFileSystem();
    extras.picture_path = path;
    ExtendCaption(r, extras, switches, CodePage::BuiltInWindows1252());
    return RecordDatasets(r);
  }

  TempDir dir_;
};

struct MappingRow {
  const char* tag;
  const char* value;  // UTF-8, as given to exiftool
  int dataset;
  const char* expected;  // Windows-1252
};

const std::vector<MappingRow> kMapping = {
    {"XMP-dc:Description", "Caf\xC3\xA9 am See", 120, "Caf\xE9 am See"},
    {"XMP-dc:Title", "Titel", 5, "Titel"},
    {"XMP-dc:Subject", "Z\xC3\xBCrich", 25, "Z\xFCrich"},
    {"XMP-photoshop:Headline", "Headline", 105, "Headline"},
    {"XMP-dc:Creator", "Ren\xC3\xA9\x65", 80, "Ren\xE9\x65"},
    {"XMP-photoshop:AuthorsPosition", "Staff", 85, "Staff"},
    {"XMP-photoshop:City", "K\xC3\xB6ln", 90, "K\xF6ln"},
    {"XMP-iptcCore:Location", "Dom", 92, "Dom"},
    {"XMP-photoshop:State", "NRW", 95, "NRW"},
    {"XMP-photoshop:Country", "Deutschland", 101, "Deutschland"},
    {"XMP-iptcCore:CountryCode", "DE", 100, "DE"},
    {"XMP-photoshop:Credit", "Agency", 110, "Agency"},
    {"XMP-photoshop:Source", "Archive", 115, "Archive"},
    {"XMP-dc:Rights", "\xC2\xA9 Someone", 116, "\xA9 Someone"},
    {"XMP-photoshop:Instructions", "Embargo", 40, "Embargo"},
    {"XMP-photoshop:TransmissionReference", "TR-1", 103, "TR-1"},
    {"XMP-photoshop:CaptionWriter", "Editor", 122, "Editor"},
    {"XMP-photoshop:Category", "SPO", 15, "SPO"},
    {"XMP-photoshop:SupplementalCategories", "Fussball", 20, "Fussball"},
    {"XMP-photoshop:DateCreated", "2023:05:17 14:30:05+02:00", 55, "20230517"},
    {"XMP-photoshop:DateCreated", "2023:05:17 14:30:05+02:00", 60, "143005+0200"},
};

TEST_F(XmpExiftoolTest, EveryMappingRowInJpegTiffEpsAndSidecar) {
  std::vector<std::string> args;
  for (const MappingRow& row : kMapping) {
    args.push_back(std::string("-") + row.tag + "=" + row.value);
  }
  ASSERT_TRUE(dir_.WriteFile("bare.jpg", MakeJpeg()));
  const std::vector<std::string> paths = {
      Make("xmp.jpg", MakeJpeg(), args),
      Make("xmp.tif", MakeTiffWithIptc({}, {.iptc_type = TiffIptcType::kNone}), args),
      Make("xmp.eps", MakeEpsWithResources(""), args),
      Make("bare.xmp", "", args),  // exiftool writes a new sidecar beside bare.jpg
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string picture = i == 3 ? dir_.Path("bare.jpg") : paths[i];
    SCOPED_TRACE(picture);
    const Datasets got = Read(picture);
    for (const MappingRow& row : kMapping) {
      EXPECT_EQ(Value(got, row.dataset), row.expected) << row.tag << " -> 2:" << row.dataset;
    }
    EXPECT_EQ(Read(picture, MetadataSwitches::AllOff()), Datasets{});
  }
}

// PNG (iTXt) and WebP (XMP chunk) pictures carry their XMP in a chunk of
// their own, read like the packets of JPEG, TIFF and EPS files.
TEST_F(XmpExiftoolTest, PngAndWebpXmpChunks) {
  const std::vector<std::string> args = {"-XMP-dc:Description=Boote im Hafen",
                                         "-XMP-dc:Subject=Regatta"};
  for (const std::string& path :
       {Make("xmp.png", MakePng(), args),
        Make("xmp.webp", MakeWebp({MakeWebpLossyChunk(64, 48)}), args)}) {
    const Datasets got = Read(path);
    EXPECT_EQ(Value(got, 120), "Boote im Hafen") << path;
    EXPECT_EQ(Value(got, 25), "Regatta") << path;
  }
}

TEST_F(XmpExiftoolTest, WhichCopyWins) {
  const std::string long_caption = std::string(2490, 'c') + " end";
  const std::string long_keyword = std::string(70, 'k') + "!";
  const std::vector<std::string> both = {
      "-IPTC:Caption-Abstract=" + long_caption, "-XMP-dc:Description=" + long_caption,
      "-IPTC:Keywords=" + long_keyword,          "-XMP-dc:Subject=" + long_keyword,
      "-IPTC:Headline=IIM headline",             "-XMP-photoshop:Headline=XMP headline",
      "-XMP-photoshop:City=Bern"};
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string caption, keyword, headline, city;
  };
  std::vector<std::string> matching = both;
  matching.push_back("-IPTCDigest=new");
  std::vector<std::string> stale = both;
  stale.push_back("-Photoshop:IPTCDigest=00112233445566778899aabbccddeeff");
  const std::string cut_caption = long_caption.substr(0, 2000);
  const std::string cut_keyword = long_keyword.substr(0, 64);
  const std::vector<Case> cases = {
      {"IIM wins, XMP fills (no digest)", both, cut_caption, cut_keyword, "IIM headline", "Bern"},
      {"digest matches: cut values whole", matching, long_caption, long_keyword, "IIM headline",
       "Bern"},
      {"digest does not match: IIM kept", stale, cut_caption, cut_keyword, "IIM headline", "Bern"},
      {"no IIM block: all from XMP",
       {"-XMP-dc:Description=only xmp", "-XMP-photoshop:Headline=XMP headline"},
       "only xmp", "(absent)", "XMP headline", "(absent)"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Datasets got = Read(Make("win" + std::to_string(n++) + ".jpg", MakeJpeg(), c.args));
    EXPECT_EQ(Value(got, 120), c.caption);
    EXPECT_EQ(Value(got, 25), c.keyword);
    EXPECT_EQ(Value(got, 105), c.headline);
    EXPECT_EQ(Value(got, 90), c.city);
  }
}

TEST_F(XmpExiftoolTest, IimCaptionWithoutDigestReadsAsWithTheSwitchesOff) {
  const std::string path =
      Make("iim.jpg", MakeJpeg(),
           {"-charset", "iptc=Latin", "-IPTC:Caption-Abstract=Caf\xC3\xA9", "-IPTC:Keywords=a",
            "-XMP-dc:Description=other", "-XMP-dc:Subject=b"});
  const Datasets off = Read(path, MetadataSwitches::AllOff());
  Datasets on = Read(path);
  ASSERT_EQ(Value(off, 120), "Caf\xE9");
  // Only the datasets IIM lacks were added; every IIM dataset stands as before.
  EXPECT_EQ(Datasets(on.begin(), on.begin() + static_cast<long>(off.size())), off);
  EXPECT_EQ(on.size(), off.size());
}

TEST_F(XmpExiftoolTest, Utf8IimWithAndWithoutDeclaration) {
  const std::string declared = Make(
      "utf8.jpg", MakeJpeg(),
      {"-charset", "iptc=UTF8", "-IPTC:CodedCharacterSet=UTF8", "-IPTC:City=Z\xC3\xBCrich \xE4\xB8\xAD"});
  EXPECT_EQ(Value(Read(declared), 90), "Z\xFCrich ?");
  EXPECT_EQ(Value(Read(declared, MetadataSwitches::AllOff()), 90), "Z\xC3\xBCrich \xE4\xB8\xAD");
  const std::string undeclared =
      Make("utf8_bare.jpg", MakeJpeg(), {"-charset", "iptc=UTF8", "-IPTC:City=K\xC3\xB6ln"});
  EXPECT_EQ(Value(Read(undeclared), 90), "K\xF6ln");
}

TEST_F(XmpExiftoolTest, ExtendedXmpAcrossSegments) {
  // A value too long for one APP1 segment: exiftool moves it to Extended XMP.
  const std::string huge(70000, 'x');
  const std::string path = Make("extended.jpg", MakeJpeg(),
                                {"-XMP-dc:Description=" + huge, "-XMP-photoshop:City=Rom"});
  std::string bytes;
  {
    ImageDataView view;
    ASSERT_TRUE(OpenImageData(view, path));
    bytes = std::string(view.data());
    CloseImageData(view);
  }
  EmbeddedXmp found;
  ASSERT_TRUE(FindJpegXmp(bytes, &found));
  ASSERT_GE(found.chunks.size(), 2u) << "exiftool wrote no Extended XMP";
  const Datasets got = Read(path);
  EXPECT_EQ(Value(got, 120), std::string(kXmpValueMax, 'x'));
  EXPECT_EQ(Value(got, 90), "Rom");

  // Lying offsets and lengths refuse the extension, never the main packet.
  std::vector<ExtendedXmpChunk> lying = found.chunks;
  lying[1].offset += 1000000;
  EXPECT_EQ(JoinExtendedXmp(lying, lying[0].guid), "");
  lying = found.chunks;
  lying[0].full_length = 0xFFFFFFFF;
  for (auto& c : lying) c.full_length = 0xFFFFFFFF;
  EXPECT_EQ(JoinExtendedXmp(lying, lying[0].guid), "");
  lying = found.chunks;
  lying.pop_back();  // a gap at the end
  EXPECT_EQ(JoinExtendedXmp(lying, lying[0].guid), "");
  EXPECT_EQ(JoinExtendedXmp(found.chunks, "not the guid"), "");
  EXPECT_NE(JoinExtendedXmp(found.chunks, found.chunks[0].guid), "");
}

TEST_F(XmpExiftoolTest, SidecarNamesAndLinks) {
  ASSERT_TRUE(dir_.WriteFile("pic.jpg", MakeJpeg()));
  ASSERT_TRUE(dir_.WriteFile("pic2.tif", MakeJpeg()));
  Make("pic2.tif.xmp", "", {"-XMP-dc:Title=long form"});
  EXPECT_EQ(Value(Read(dir_.Path("pic2.tif")), 5), "long form");
  // A sidecar that is a symbolic link is not followed.
  Make("target.xmp", "", {"-XMP-dc:Title=through a link"});
  ASSERT_EQ(symlink(dir_.Path("target.xmp").c_str(), dir_.Path("pic.xmp").c_str()), 0);
  EXPECT_EQ(Read(dir_.Path("pic.jpg")), Datasets{});
  EXPECT_TRUE(XmpSidecarPaths(dir_.Path("x.xmp")).empty());
  EXPECT_EQ(XmpSidecarPaths("/a/b.c/name"), (std::vector<std::string>{"/a/b.c/name.xmp"}));
}

}  // namespace
}  // namespace vantrel
