#include "metadata/caption_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/iim_codec.h"
#include "metadata/photoshop_resources.h"
#include "support/image_builders.h"

namespace vantrel {
namespace {

std::vector<int> Numbers(const CaptionRecord& r) {
  std::vector<int> out;
  for (const IimDataset& d : WalkDatasets(r.iptc)) out.push_back(d.record * 1000 + d.dataset);
  return out;
}

TEST(InstallIptcBlock, PlaceholderAndForeignBytesLeaveNoCaption) {
  CaptionRecord r;
  EXPECT_FALSE(InstallIptcBlock(r, PlaceholderIptcBlock()));
  EXPECT_EQ(r.iptc_length(), 0);
  EXPECT_FALSE(InstallIptcBlock(r, "not iptc"));
  EXPECT_FALSE(InstallIptcBlock(r, ""));
  // An extended length opening the block yields no run.
  EXPECT_FALSE(InstallIptcBlock(r, MakeExtendedDataset(2, 120, "abc")));
}

TEST(InstallIptcBlock, DataWithoutARecordTwoRunIsKeptWhole) {
  // A record-1 envelope alone is still caption data (without record-2 values).
  const std::string envelope = MakeIptcBlock({{1, 90, "\x1B%G"}, {1, 20, ""}}, false);
  CaptionRecord r;
  EXPECT_TRUE(InstallIptcBlock(r, envelope));
  EXPECT_EQ(r.iptc, MakeIptcBlock({{1, 90, "\x1B%G"}}, false));  // the empty dataset went
  std::string text;
  EXPECT_FALSE(GetCaptionText(r, 90, &text));
}

TEST(InstallIptcBlock, KeepsOnlyTheRecordTwoRunWithoutEmptyAnd240) {
  std::string bytes =
      MakeIptcBlock({{1, 90, "\x1B%G"}}, false) +
      MakeIptcBlock(
          {{2, 5, ""}, {2, 120, "caption"}, {2, 240, "drop"}, {2, 25, "kw"}, {2, 80, ""}}) +
      "\xEE\xEE\xEE\xEE\xEE\xEE";
  const std::string original = bytes;
  CaptionRecord r;
  EXPECT_TRUE(InstallIptcBlock(r, bytes));
  EXPECT_EQ(r.iptc, MakeIptcBlock({{2, 120, "caption"}, {2, 25, "kw"}}));
  EXPECT_EQ(bytes, original);  // the caller's bytes are never mended
}

TEST(InstallIptcBlock, RepairsSwappedMarkersInItsOwnCopy) {
  std::string good = MakeIptcBlock({{2, 120, "caption"}});
  std::string swapped = good;
  std::swap(swapped[0], swapped[1]);
  std::swap(swapped[7], swapped[8]);
  swapped[0] = 0x1C;  // readers hand over data that starts with the marker
  swapped[1] = 0x02;
  CaptionRecord r;
  EXPECT_TRUE(InstallIptcBlock(r, swapped + "\xEE\xEE\xEE\xEE\xEE\xEE"));
  EXPECT_EQ(r.iptc, good);
}

TEST(InstallIptcBlock, OnlyDataset240EmptiesTheRecord) {
  CaptionRecord r;
  r.resources = MakeIptcResources("x");
  EXPECT_FALSE(InstallIptcBlock(r, MakeIptcBlock({{2, 240, "only"}}, false)));
  EXPECT_EQ(r.iptc_length(), 0);
  EXPECT_EQ(r.resource_length(), 0);
}

const IptcDataset kVersion{2, 0, std::string("\x00\x02", 2)};

struct InsertCase {
  const char* name;
  std::vector<IptcDataset> start;
  int insert;
  std::vector<int> expected;  // dataset numbers in block order
};

class InsertDatasetTest : public ::testing::TestWithParam<InsertCase> {};

TEST_P(InsertDatasetTest, GoesToItsCanonicalPlace) {
  const InsertCase& c = GetParam();
  CaptionRecord r;
  if (!c.start.empty()) r.iptc = MakeIptcBlock(c.start, false);
  ASSERT_TRUE(InsertDataset(r, c.insert, "new"));
  std::vector<int> got;
  for (const IimDataset& d : WalkDatasets(r.iptc)) got.push_back(d.dataset);
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InsertDatasetTest,
    ::testing::Values(
        InsertCase{"EmptyBlockGetsRecordVersion", {}, 120, {0, 120}},
        InsertCase{"BehindCanonicalPredecessor",
                   {kVersion, {2, 120, "c"}, {2, 25, "k"}},
                   105,
                   {0, 120, 105, 25}},
        InsertCase{"InFrontOfSuccessor", {kVersion, {2, 25, "k"}}, 120, {0, 120, 25}},
        InsertCase{"BehindRecordVersion", {kVersion}, 55, {0, 55}},
        InsertCase{"MissingRecordVersionIsAdded", {{2, 120, "c"}}, 105, {0, 120, 105}},
        InsertCase{"UnorderedLargestIsAppended", {kVersion, {2, 120, "c"}}, 200, {0, 120, 200}},
        InsertCase{"UnorderedBeforeNextHigher", {kVersion, {2, 120, "c"}}, 118, {0, 118, 120}},
        InsertCase{"SameNumberGoesBehindFirst",
                   {kVersion, {2, 25, "a"}, {2, 25, "b"}},
                   25,
                   {0, 25, 25, 25}}),
    [](const ::testing::TestParamInfo<InsertCase>& info) { return std::string(info.param.name); });

TEST(InsertDataset, RepeatedKeywordsOrder) {
  CaptionRecord r;
  for (const char* k : {"first", "second", "third"}) ASSERT_TRUE(InsertDataset(r, 25, k));
  std::vector<std::string> got;
  for (const IimDataset& d : WalkDatasets(r.iptc)) {
    if (d.dataset == 25) got.emplace_back(d.value);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"first", "third", "second"}));
  EXPECT_FALSE(InsertDataset(r, 120, std::string(32768, 'x')));
}

TEST(DeleteDataset, RemovesEveryOccurrenceAndReembeds) {
  CaptionRecord r;
  r.iptc = MakeIptcBlock({{2, 120, "c"}, {2, 25, "a"}, {2, 25, "b"}, {2, 105, "h"}});
  r.resources = MakePhotoshopResource(0x03ED, "res1") + MakeIptcResources(r.iptc);
  DeleteDataset(r, 25);
  EXPECT_EQ(Numbers(r), (std::vector<int>{2000, 2120, 2105}));
  size_t at = FindResourceSignature(r.resources, kResourceIptc);
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(r.resources.substr(at + 12, r.iptc.size()), r.iptc);
  EXPECT_EQ(r.resources.substr(0, 4), "8BIM");
  EXPECT_EQ(WalkResources(r.resources).size(), 2u);

  // Deleting the only dataset empties the record.
  r.iptc = MakeIptcBlock({{2, 120, "c"}}, false);
  r.resources = MakeIptcResources(r.iptc);
  DeleteDataset(r, 120);
  EXPECT_EQ(r.iptc_length(), 0);
  EXPECT_EQ(r.resource_length(), 0);
}

TEST(DeleteDataset, ManyOccurrencesInOnePass) {
  std::vector<IptcDataset> many;
  for (int k = 0; k < 4000; ++k) {
    many.push_back({2, 240, "x"});
    many.push_back({2, 25, std::string(1, static_cast<char>('a' + k % 26))});
  }
  CaptionRecord r;
  ASSERT_TRUE(InstallIptcBlock(r, MakeIptcBlock(many)));
  EXPECT_EQ(CountDatasets(r.iptc, 2, 240), 0);
  EXPECT_EQ(CountDatasets(r.iptc, 2, 25), 4000);
  EXPECT_EQ(r.iptc.size(), 7u + 4000 * 6);
}

TEST(SetIptcBlock, RefusalsAndResourceRules) {
  CaptionRecord r;
  EXPECT_FALSE(SetIptcBlock(r, ""));
  r.iptc = std::string(40, 'x');
  EXPECT_FALSE(SetIptcBlock(r, std::string(10, 'y')));
  EXPECT_EQ(r.iptc, std::string(40, 'x'));
  EXPECT_TRUE(SetIptcBlock(r, std::string(13, 'y')));  // no resources: just replaced

  // A resource block without 8BIM: the IPTC block changes, the resources stay.
  r.resources = "garbage!";
  EXPECT_FALSE(SetIptcBlock(r, std::string(20, 'z')));
  EXPECT_EQ(r.resources, "garbage!");

  // No 0x0404 resource yet: the new one goes in front of the first 8BIM.
  r.resources = "lead" + MakePhotoshopResource(0x03ED, "abc");
  ASSERT_TRUE(SetIptcBlock(r, std::string(21, 'q')));
  EXPECT_EQ(r.resources.substr(0, 4), "lead");
  auto res = WalkResources(std::string_view(r.resources).substr(4));
  ASSERT_EQ(res.size(), 2u);
  EXPECT_EQ(res[0].id, 0x0404);
  EXPECT_EQ(res[0].declared_size, 22u);  // padded size
  EXPECT_EQ(res[1].id, 0x03ED);

  // A block that would make the resources reach 10000 bytes leaves them.
  std::string before = r.resources;
  EXPECT_TRUE(SetIptcBlock(r, std::string(9990, 'w')));
  EXPECT_EQ(r.resources, before);
  EXPECT_EQ(r.iptc.size(), 9990u);
}

TEST(GetCaptionText, CopiesAtMostCapacityAnd4000) {
  CaptionRecord r;
  char small[4];
  EXPECT_EQ(GetCaptionText(r, 120, small, sizeof(small)), nullptr);
  r.iptc = MakeIptcBlock({{2, 120, "caption"}, {2, 105, std::string(5000, 'h')}});
  ASSERT_NE(GetCaptionText(r, 120, small, sizeof(small)), nullptr);
  EXPECT_STREQ(small, "cap");
  std::string big(6000, '\x01');
  ASSERT_NE(GetCaptionText(r, 105, big.data(), big.size()), nullptr);
  EXPECT_EQ(std::string(big.c_str()).size(), 4000u);
  EXPECT_EQ(GetCaptionText(r, 55, big.data(), big.size()), nullptr);
  std::string text;
  EXPECT_TRUE(GetCaptionText(r, 120, &text));
  EXPECT_EQ(text, "caption");
}

TEST(CaptionRecord, CopyAndFree) {
  CaptionRecord a;
  a.iptc = MakeIptcBlock({{2, 120, "c"}});
  a.resources = MakeIptcResources(a.iptc);
  CaptionRecord b;
  CopyCaption(b, a);
  EXPECT_EQ(b.iptc, a.iptc);
  EXPECT_EQ(b.resources, a.resources);
  FreeCaption(a);
  EXPECT_EQ(a.iptc_length(), 0);
  EXPECT_EQ(a.resource_length(), 0);
  EXPECT_NE(b.iptc_length(), 0);
}

}  // namespace
}  // namespace vantrel
