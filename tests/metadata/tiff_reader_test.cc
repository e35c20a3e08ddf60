#include "metadata/tiff_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kCaption = {{2, 120, "TIFF caption"}, {2, 25, "a"}, {2, 25, "b"}};

struct TiffCase {
  const char* name;
  TiffOptions options;
};

class TiffReaderTest : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffReaderTest, ReadsTag33723) {
  CaptionRecord r;
  ASSERT_TRUE(ReadTiffCaption(MakeTiffWithIptc(kCaption, GetParam().options), "", r));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, TiffReaderTest,
    ::testing::Values(TiffCase{"BigEndianLong", {.big_endian = true}},
                      TiffCase{"LittleEndianLong", {.big_endian = false}},
                      TiffCase{"BigEndianUndefined",
                               {.big_endian = true, .iptc_type = TiffIptcType::kUndefined}},
                      TiffCase{"LittleEndianUndefined",
                               {.big_endian = false, .iptc_type = TiffIptcType::kUndefined}}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return std::string(info.param.name); });

TEST(TiffReader, LongCountTenCoversFortyBytes) {
  // 2:00 (7 bytes) + 2:120 with 28 bytes = 40 bytes, count 10.
  std::string iptc = MakeIptcBlock({{2, 120, std::string(28, 'c')}});
  ASSERT_EQ(iptc.size(), 40u);
  CaptionRecord r;
  ASSERT_TRUE(ReadTiffCaption(MakeTiffWithIptcBytes(iptc), "", r));
  EXPECT_EQ(r.iptc, iptc);
}

TEST(TiffReader, AnswersWithoutTagOrHeader) {
  CaptionRecord r;
  EXPECT_FALSE(ReadTiffCaption(MakeTiffWithIptc({}, {.iptc_type = TiffIptcType::kNone}), "", r));
  EXPECT_FALSE(ReadTiffCaption("no header here", "", r));
  std::string tiff = MakeTiffWithIptc(kCaption);
  std::string not42 = tiff;
  not42[3] = 43;
  EXPECT_FALSE(ReadTiffCaption(not42, "", r));
  // A header behind other bytes is found within the first 2048 bytes.
  EXPECT_TRUE(ReadTiffCaption(std::string(100, '\0') + tiff, "", r));
  EXPECT_FALSE(ReadTiffCaption(std::string(2100, '\0') + tiff, "", r));
}

TEST(TiffReader, TagMetWithoutRunStillAnswersTrue) {
  CaptionRecord r;
  EXPECT_TRUE(ReadTiffCaption(MakeTiffWithIptcBytes("not iptc data at all"), "", r));
  EXPECT_EQ(r.iptc_length(), 0);
}

// Cut files are the TIFF reader fuzz target's job (its seeds are these
// files); here: a directory offset beyond the data.
TEST(TiffReader, DirectoryBeyondTheDataIsNoCaption) {
  std::string far = MakeTiffWithIptc(kCaption);
  far[4] = '\x7F';
  CaptionRecord r;
  EXPECT_FALSE(ReadTiffCaption(far, "", r));
}

// The envelope record in front of the record-2 run declares the character
// set, as in the other IIM blocks; the declaration's bytes stay out of the
// record. Padding in front of the first tag marker is passed over.
TEST(TiffReader, DeclaresTheCharacterSetOfTheTag) {
  const std::string run = MakeIptcBlock({{2, 120, "Caf\xC3\xA9"}});
  struct Case {
    std::string tag_bytes;
    IimCharset declared;
  } cases[] = {
      {run, IimCharset::kUndeclared},
      {MakeIptcBlock({{1, 90, "\x1b%G"}}, false) + run, IimCharset::kUtf8},
      {MakeIptcBlock({{1, 90, "\x1b.A"}}, false) + run, IimCharset::kLatin1},
      {std::string(4, '\0') + MakeIptcBlock({{1, 90, "\x1b-A"}}, false) + run, IimCharset::kLatin1},
      {MakeIptcBlock({{1, 90, "\x1b(B"}}, false) + run, IimCharset::kOther},
  };
  for (const Case& c : cases) {
    CaptionRecord r;
    IimCharset declared = IimCharset::kOther;
    ASSERT_TRUE(ReadTiffCaption(MakeTiffWithIptcBytes(c.tag_bytes), "", r, &declared));
    EXPECT_EQ(r.iptc, run);
    EXPECT_EQ(declared, c.declared) << static_cast<int>(c.declared);
  }
}

}  // namespace
}  // namespace vantrel
