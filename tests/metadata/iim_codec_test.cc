#include "metadata/iim_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "support/image_builders.h"

namespace vantrel {
namespace {

std::string B(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

TEST(IimWalk, CountsAndReadsOccurrences) {
  std::string block =
      MakeIptcBlock({{2, 25, "one"}, {2, 120, "cap"}, {2, 25, "two"}, {1, 25, "x"}});
  EXPECT_EQ(CountDatasets(block, 2, 25), 2);
  EXPECT_EQ(CountDatasets(block, 1, 25), 1);
  EXPECT_EQ(CountDatasets(block, 2, 5), 0);
  char buf[16];
  ASSERT_EQ(GetDatasetValue(block, 2, 25, 1, buf, sizeof(buf)), 3);
  EXPECT_EQ(std::string(buf, 3), "two");
  EXPECT_EQ(GetDatasetValue(block, 2, 25, 2, buf, sizeof(buf)), -1);
  // Capacity stops the copy.
  ASSERT_EQ(GetDatasetValue(block, 2, 120, 0, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "ca");
}

TEST(IimWalk, GetDatasetValueCutsAt2048AndAtBlockEnd) {
  std::string block = MakeIptcBlock({{2, 120, std::string(3000, 'x')}});
  std::string out(4000, '\0');
  EXPECT_EQ(GetDatasetValue(block, 2, 120, 0, out.data(), out.size()), 2048);
  std::string cut = block.substr(0, block.size() - 2900);  // value runs past the end
  EXPECT_EQ(GetDatasetValue(cut, 2, 120, 0, out.data(), out.size()), 100);
  // Empty values and over-long extended headers fail.
  std::string empty = MakeIptcBlock({{2, 5, ""}});
  EXPECT_EQ(GetDatasetValue(empty, 2, 5, 0, out.data(), out.size()), -1);
  std::string ext6 = MakeExtendedDataset(2, 120, "abc", 6);
  EXPECT_EQ(GetDatasetValue(ext6, 2, 120, 0, out.data(), out.size()), -1);
  std::string ext5 = MakeExtendedDataset(2, 120, "abc", 5);
  EXPECT_EQ(GetDatasetValue(ext5, 2, 120, 0, out.data(), out.size()), 3);
}

TEST(IimWalk, FindDatasetAnswers) {
  std::string block = MakeIptcBlock({{2, 120, "caption"}, {2, 25, "kw"}});
  size_t len = 0, off = 0;
  ASSERT_EQ(FindDataset(block, 2, 120, &len, &off), 1);
  EXPECT_EQ(block.substr(off, len), "caption");
  ASSERT_EQ(FindDataset(block, 2, 25, &len, &off), 1);
  EXPECT_EQ(block.substr(off, len), "kw");
  EXPECT_EQ(FindDataset(block, 2, 5, &len, &off), -1);               // ran off the block
  EXPECT_EQ(FindDataset(block + "xxxxxx", 2, 5, &len, &off), 0);     // met a foreign byte
  EXPECT_EQ(FindDataset(block.substr(0, 5), 2, 0, &len, &off), -1);  // shorter than 6
  // A value running past the block end is cut there.
  std::string cut = block.substr(0, 7 + 5 + 3);
  ASSERT_EQ(FindDataset(cut, 2, 120, &len, &off), 1);
  EXPECT_EQ(len, 3u);
  // A dataset with an extended length is passed over.
  std::string ext = MakeExtendedDataset(2, 120, "abc", 4) + MakeIptcBlock({{2, 25, "k"}}, false);
  ASSERT_EQ(FindDataset(ext, 2, 25, &len, &off), 1);
  EXPECT_EQ(ext.substr(off, len), "k");
}

TEST(IimWalk, WalksNeverReadOutsideHugeDeclaredLengths) {
  std::string block = B({0x1C, 2, 120, 0x80, 4, 0xFF, 0xFF, 0xFF, 0xFF, 'a'});
  EXPECT_EQ(CountDatasets(block, 2, 120), 1);
  auto all = WalkDatasets(block);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].value, "a");
  std::string n9 = B({0x1C, 2, 120, 0x80, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_EQ(CountDatasets(n9, 2, 120), 0);
  std::string n_max = B({0x1C, 2, 120, 0xFF, 0xFF, 1});
  EXPECT_EQ(CountDatasets(n_max, 2, 120), 0);
  size_t len = 9, off = 0;
  // 32767 length bytes are read as four; the value lies beyond the block.
  ASSERT_EQ(FindDataset(n_max + "abc", 2, 120, &len, &off), 1);
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(off, 9u);
}

TEST(IimWalk, RemoveEmptyDatasets) {
  std::string block = MakeIptcBlock({{2, 5, ""}, {2, 120, "c"}, {2, 25, ""}, {2, 25, ""}});
  RemoveEmptyDatasets(block);
  EXPECT_EQ(block, MakeIptcBlock({{2, 120, "c"}}));
  std::string all_empty = MakeIptcBlock({{2, 5, ""}}, false);
  RemoveEmptyDatasets(all_empty);
  EXPECT_TRUE(all_empty.empty());
  // Many empty datasets in one pass; the bytes behind the run stay.
  std::string many;
  std::string expected;
  for (int k = 0; k < 3000; ++k) {
    many += MakeIptcBlock({{2, 5, ""}, {2, 25, "k"}}, false);
    expected += MakeIptcBlock({{2, 25, "k"}}, false);
  }
  many += "tail";
  RemoveEmptyDatasets(many);
  EXPECT_EQ(many, expected + "tail");
}

struct RunCase {
  const char* name;
  std::string input;
  int result;
  size_t offset;
  size_t length;
  std::string repaired;  // the run's bytes after repair ("" = not checked)
};

class LocateRecordRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(LocateRecordRunTest, FindsAndMends) {
  const RunCase& c = GetParam();
  std::string buf = c.input;
  size_t len = 99, off = 99;
  EXPECT_EQ(LocateRecordRun(buf, 2, &len, &off), c.result);
  EXPECT_EQ(off, c.offset);
  EXPECT_EQ(len, c.length);
  if (!c.repaired.empty()) {
    EXPECT_EQ(buf.substr(off, len), c.repaired);
  }
}

const std::string kRun = MakeIptcBlock({{2, 120, "caption"}, {2, 25, "kw"}});

INSTANTIATE_TEST_SUITE_P(
    Cases, LocateRecordRunTest,
    ::testing::Values(
        RunCase{"RunToTheEnd", kRun, 0, 0, kRun.size(), kRun},
        RunCase{"RunEndsInside", kRun + "\x01\x02\x03\x04\x05\x06", 1, 0, kRun.size(), kRun},
        RunCase{"RecordOneEnvelope", B({0x1C, 1, 90, 0, 3, 0x1B, 0x25, 0x47}) + kRun + "zzzzzz", 1,
                8, kRun.size(), kRun},
        RunCase{"SwappedMarkers", B({0x02, 0x1C, 0,   0,   2,    0, 2, 0x02, 0x1C, 120, 0,
                                     3,    'a',  'b', 'c', 0xEE, 0, 0, 0,    0,    0}),
                1, 0, 15, B({0x1C, 2, 0, 0, 2, 0, 2, 0x1C, 2, 120, 0, 3, 'a', 'b', 'c'})},
        RunCase{"SwappedMarkersAndLength",
                B({0x1C, 2, 120, 0,   3,    'a', 'b', 'c', 0x02, 0x1C, 25,
                   2,    0, 'k', 'w', 0xEE, 0,   0,   0,   0,    0}),
                1, 0, 15, B({0x1C, 2, 120, 0, 3, 'a', 'b', 'c', 0x1C, 2, 25, 0, 2, 'k', 'w'})},
        RunCase{"LostCopyrightLength", B({0x1C, 2,   0, 0, 2,   0,    2, 0x1C, 2, 116, 0x1C,
                                          2,    120, 0, 1, 'a', 0xEE, 0, 0,    0, 0,   0}),
                1, 0, 13, B({0x1C, 2, 0, 0, 2, 0, 2, 0x1C, 2, 120, 0, 1, 'a'})},
        RunCase{"NoPairAtAll", "just some bytes here", 0, 0, 20, ""},
        RunCase{"ExtendedFirst", MakeExtendedDataset(2, 120, "abc") + kRun, 0, 0, 0, ""},
        RunCase{"ValueLongerThanBuffer", kRun + B({0x1C, 2, 120, 0x10, 0, 'x'}), 1, 0, kRun.size(),
                kRun}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

TEST(LocateRecordRun, ManyRepairsInOneBuffer) {
  // Every dataset lost the length of a 2:116 header in front of it; all are
  // mended, and the bytes behind the run keep their order.
  std::string damaged = MakeIptcBlock({});
  std::string mended = damaged;
  for (int k = 0; k < 5000; ++k) {
    damaged += B({0x1C, 2, 116, 0x1C, 2, 120, 0, 1, 'a' + k % 26});
    mended += B({0x1C, 2, 120, 0, 1, 'a' + k % 26});
  }
  damaged += "\xEE tail";
  size_t len = 0, off = 0;
  ASSERT_EQ(LocateRecordRun(damaged, 2, &len, &off), 1);
  EXPECT_EQ(off, 0u);
  EXPECT_EQ(damaged.substr(0, len), mended);
  EXPECT_EQ(damaged.substr(len), "\xEE tail");
}

TEST(IimCodec, CanonicalOrderAndPlaceholder) {
  EXPECT_EQ(CanonicalPosition(120), 0);
  EXPECT_EQ(CanonicalPosition(110), 6);  // first of its two places
  EXPECT_EQ(CanonicalPosition(75), 22);
  EXPECT_EQ(CanonicalPosition(0), -1);
  EXPECT_EQ(CanonicalPosition(300), -1);
  EXPECT_EQ(CanonicalOrder()[19], 110);
  EXPECT_TRUE(IsPlaceholderIptcBlock(MakeIptcBlock({{2, 120, "  "}})));
  EXPECT_FALSE(IsPlaceholderIptcBlock(MakeIptcBlock({{2, 120, "  "}}) + "x"));
  EXPECT_STREQ(IimDatasetName(120), "Caption/Abstract");
  EXPECT_STREQ(IimDatasetName(250), "");
}

}  // namespace
}  // namespace vantrel
