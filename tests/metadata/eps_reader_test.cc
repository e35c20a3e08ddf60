#include "metadata/eps_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/iim_codec.h"
#include "platform/file_system.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kCaption = {{2, 120, "EPS caption"}, {2, 25, "vector"}};

TEST(EpsReader, LinesSplitAnywhereDecodeTheSameBytes) {
  std::string resources = MakeIptcResources(MakeIptcBlock(kCaption));
  for (size_t split = 1; split <= 70; ++split) {
    for (const char* nl : {"\n", "\r", "\r\n", "\n\r"}) {
      EpsOptions o{.split_at = split, .lowercase = (split % 2) == 0, .line_end = nl};
      CaptionRecord r;
      ASSERT_TRUE(ReadEpsCaption(MakeEpsWithResources(resources, o), "", r)) << split;
      EXPECT_EQ(r.resources, resources) << "split " << split;
      EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption)) << "split " << split;
    }
  }
}

TEST(EpsReader, NeedsPostScriptAndBothSectionLines) {
  CaptionRecord r;
  EXPECT_FALSE(ReadEpsCaption(MakeEpsWithIptc(kCaption, {.end_line = false}), "", r));
  std::string eps = MakeEpsWithIptc(kCaption);
  EXPECT_FALSE(ReadEpsCaption(" " + eps, "", r));
  EXPECT_FALSE(ReadEpsCaption(eps.substr(0, eps.find("%BeginPhotoshop")), "", r));
  // "%EndPhotoshop" standing before the section does not end it.
  std::string reversed = "%!PS\n%EndPhotoshop\n%BeginPhotoshop: 4\n% 1C02\n";
  EXPECT_FALSE(ReadEpsCaption(reversed, "", r));
  EXPECT_EQ(r.iptc_length(), 0);
  // ... but one behind it does.
  EXPECT_TRUE(ReadEpsCaption(reversed + "%EndPhotoshop\n", "", r));
  EXPECT_EQ(r.resources, std::string("\x1C\x02", 2));
}

TEST(EpsReader, SectionWithoutIptcIsHandled) {
  std::string resources = MakePhotoshopResource(0x03ED, "resolution");
  CaptionRecord r;
  EXPECT_TRUE(ReadEpsCaption(MakeEpsWithResources(resources), "", r));
  EXPECT_EQ(r.resources, resources);
  EXPECT_EQ(r.iptc_length(), 0);
  CaptionRecord placeholder;
  EXPECT_TRUE(ReadEpsCaption(MakeEpsWithResources(MakeIptcResources(PlaceholderIptcBlock())), "",
                             placeholder));
  EXPECT_EQ(placeholder.iptc_length(), 0);
}

TEST(EpsReader, DosBinaryHeaderInFirstHalf) {
  CaptionRecord r;
  ASSERT_TRUE(ReadEpsCaption(MakeEpsWithIptc(kCaption, {.dos_binary = true}), "", r));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
}

TEST(EpsReader, DosBinarySectionInSecondHalfIsReadFromTheFile) {
  TempDir dir;
  std::string eps = MakeEpsWithIptc(kCaption, {.dos_binary = true, .preview_before = 20000});
  ASSERT_TRUE(dir.WriteFile("a.eps", eps));
  // The view's bytes beyond the header are blanked: only the file can answer.
  std::string view = eps.substr(0, 30) + std::string(eps.size() - 30, '\0');
  CaptionRecord r;
  ASSERT_TRUE(ReadEpsCaption(view, dir.Path("a.eps"), r, DefaultFileSystem()));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
  // Without a readable file, the bytes of the view are used.
  CaptionRecord from_data;
  ASSERT_TRUE(ReadEpsCaption(eps, dir.Path("missing.eps"), from_data, DefaultFileSystem()));
  EXPECT_EQ(from_data.iptc, MakeIptcBlock(kCaption));
  // An offset beyond everything gives nothing.
  std::string bad = eps;
  bad[7] = '\x7F';
  CaptionRecord none;
  EXPECT_FALSE(ReadEpsCaption(bad, "", none));
}

TEST(EpsReader, HexDecoderStopsAtForeignCharacters) {
  EXPECT_EQ(DecodeEpsHexSection("%BeginPhotoshop: 3\n% 1C02zz\n% 41\n%EndPhotoshop\n"),
            std::string("\x1C\x02\x41", 3));
  EXPECT_EQ(DecodeEpsHexSection("%BeginPhotoshop: 1\n%%  %% 4\n% 1\n%EndPhotoshop\n"), "A");
  EXPECT_EQ(DecodeEpsHexSection(""), "");
  EXPECT_EQ(DecodeEpsHexSection("%"), "");
}

}  // namespace
}  // namespace vantrel
