#include "metadata/photoshop_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/iim_codec.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

const std::vector<IptcDataset> kCaption = {
    {2, 120, "A caption"}, {2, 25, "one"}, {2, 25, "two"}, {2, 105, "Headline"}};

struct JpegCase {
  const char* name;
  JpegOptions options;
};

class PhotoshopJpegTest : public ::testing::TestWithParam<JpegCase> {};

TEST_P(PhotoshopJpegTest, ReadsTheCaption) {
  std::string jpeg = MakeJpegWithIptc(kCaption, GetParam().options);
  CaptionRecord r;
  ASSERT_TRUE(ReadPhotoshopCaption(r, jpeg, "x.jpg"));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
  EXPECT_NE(r.resource_length(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, PhotoshopJpegTest,
    ::testing::Values(JpegCase{"Photoshop3", {}},
                      JpegCase{"Photoshop25", {.identifier = App13Identifier::kPhotoshop25}},
                      JpegCase{"TwoSegments", {.segments = 2}},
                      JpegCase{"FiveSegments", {.segments = 5}},
                      JpegCase{"NoJfif", {.jfif = false}},
                      JpegCase{"OtherResourcesFirst",
                               {.resources_before = MakePhotoshopResource(0x03ED, "resolution")}}),
    [](const ::testing::TestParamInfo<JpegCase>& info) { return std::string(info.param.name); });

TEST(PhotoshopReader, ShortOrForeignDataIsNotHandled) {
  CaptionRecord r;
  std::string jpeg = MakeJpegWithIptc(kCaption, {.min_size = 0});
  ASSERT_LT(jpeg.size(), 999u);
  std::string padded = jpeg + std::string(999 - jpeg.size(), '\0');
  EXPECT_FALSE(ReadPhotoshopCaption(r, padded, ""));
  EXPECT_TRUE(ReadPhotoshopCaption(r, padded + '\0', ""));  // 1000 bytes are read

  EXPECT_FALSE(ReadPhotoshopCaption(r, std::string(2, '\0') + MakeJpegWithIptc(kCaption), ""));
  EXPECT_FALSE(ReadPhotoshopCaption(
      r, MakeJpegWithIptc(kCaption, {.identifier = App13Identifier::kForeign}), ""));
  EXPECT_FALSE(ReadPhotoshopCaption(r, MakeJpeg(), ""));
}

TEST(PhotoshopReader, JpegBehindMacBinaryHeader) {
  CaptionRecord r;
  ASSERT_TRUE(ReadPhotoshopCaption(r, WrapMacBinary(MakeJpegWithIptc(kCaption)), ""));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
}

TEST(PhotoshopReader, ResourcesWithoutIptcAskTheMacintoshStreams) {
  std::string jpeg = MakeJpegWithResources(MakePhotoshopResource(0x03ED, "resolution"));
  CaptionRecord r;
  EXPECT_FALSE(ReadPhotoshopCaption(r, jpeg, ""));
  EXPECT_EQ(r.iptc_length(), 0);
  int asked = 0;
  MacStreamReader mac = [&](CaptionRecord& rec, const std::string& path) {
    ++asked;
    EXPECT_EQ(path, "/images/a.jpg");
    return InstallIptcBlock(rec, MakeIptcBlock({{2, 120, "from the fork"}}));
  };
  EXPECT_TRUE(ReadPhotoshopCaption(r, jpeg, "/images/a.jpg", mac));
  EXPECT_EQ(asked, 1);
  std::string text;
  EXPECT_TRUE(GetCaptionText(r, 120, &text));
  EXPECT_EQ(text, "from the fork");
}

TEST(PhotoshopReader, PlaceholderIsHandledWithoutCaption) {
  std::string jpeg = MakeJpegWithResources(MakeIptcResources(PlaceholderIptcBlock()));
  CaptionRecord r;
  EXPECT_TRUE(ReadPhotoshopCaption(r, jpeg, ""));
  EXPECT_EQ(r.iptc_length(), 0);
}

TEST(PhotoshopReader, BrokenSegmentsStayInsideTheData) {
  std::string jpeg = MakeJpegWithIptc(kCaption);
  size_t app13 = jpeg.find("\xFF\xED");
  ASSERT_NE(app13, std::string::npos);
  for (int length : {0, 1, 2, 3, 0xFFFF}) {
    std::string broken = jpeg;
    broken[app13 + 2] = static_cast<char>(length >> 8);
    broken[app13 + 3] = static_cast<char>(length & 0xFF);
    CaptionRecord r;
    (void)ReadPhotoshopCaption(r, broken, "");
    // The whole tail beyond the segment start was taken as resources at most.
    EXPECT_LE(r.resources.size(), jpeg.size());
  }
  // A resource size beyond the data is cut at the collected bytes.
  std::string huge = MakeIptcResources(MakeIptcBlock(kCaption));
  huge[8] = '\x7F';
  CaptionRecord r;
  EXPECT_TRUE(ReadPhotoshopCaption(r, MakeJpegWithResources(huge), ""));
  EXPECT_EQ(r.iptc, MakeIptcBlock(kCaption));
}

TEST(PhotoshopReader, IptcResourceEndsFiveBytesPastItsSizeAndKeepsItsFullSize) {
  // Size fields a few bytes short of the datasets: up to five bytes past the
  // stated size still belong to the caption; the headline stands last.
  const std::string block = MakeIptcBlock(kCaption);
  for (uint32_t short_by : {0u, 3u, 5u, 6u}) {
    std::string resources = MakeIptcResources(block);
    const uint32_t size = static_cast<uint32_t>(block.size()) - short_by;
    for (int i = 0; i < 4; ++i) resources[8 + i] = static_cast<char>(size >> (24 - 8 * i));
    CaptionRecord r;
    ASSERT_TRUE(ReadPhotoshopCaption(r, MakeJpegWithResources(resources), "")) << short_by;
    std::string headline;
    EXPECT_EQ(GetCaptionText(r, 105, &headline), short_by <= 5) << short_by;
  }

  // A caption of 64 KB and more, over two segments, is read whole.
  std::vector<IptcDataset> large;
  for (char c : {'a', 'b', 'c'}) large.push_back({2, 25, std::string(25000, c)});
  CaptionRecord r;
  ASSERT_TRUE(ReadPhotoshopCaption(r, MakeJpegWithIptc(large, {.segments = 2}), ""));
  EXPECT_EQ(r.iptc, MakeIptcBlock(large));
}

}  // namespace
}  // namespace vantrel
