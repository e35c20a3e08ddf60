#include "metadata/image_info_trailer.h"

#include <gtest/gtest.h>

#include <string>

#include "metadata/caption_record.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

const std::string kIptc = MakeIptcBlock({{2, 120, "Trailer caption"}, {2, 25, "kw"}});

// Reads from an in-memory file and counts the reads.
struct MemoryFile {
  std::string bytes;
  int reads = 0;
  std::vector<size_t> lengths = {};
  RangeReader Reader() {
    return [this](uint64_t offset, size_t length, std::string* out) {
      ++reads;
      lengths.push_back(length);
      if (offset > bytes.size()) return false;
      *out = bytes.substr(static_cast<size_t>(offset), length);
      return true;
    };
  }
};

TEST(ImageInfoTrailer, FindsTagsAlongTheChain) {
  MemoryFile f{AppendTrailer(
      MakeJpeg(), {{1, kIptc}, {2, MakeImageInfoBlock(3000, 2000, 3, 300000)}, {7, "other"}})};
  TrailerWindow w;
  ASSERT_TRUE(ReadImageInfoTrailer(f.Reader(), f.bytes.size(), 1, &w));
  EXPECT_EQ(w.block, kIptc);
  ImageInfo info;
  ASSERT_TRUE(FindImageInfo(w, &info));
  EXPECT_EQ(info.width, 3000u);
  EXPECT_EQ(info.height, 2000u);
  EXPECT_EQ(info.channels, 3u);
  EXPECT_EQ(info.resolution_milli, 300000);
  EXPECT_FALSE(info.has_extra);
  EXPECT_EQ(info.extra[3], 100);
  EXPECT_EQ(f.reads, 1);
  TrailerWindow missing;
  EXPECT_FALSE(ReadImageInfoTrailer(f.Reader(), f.bytes.size(), 9, &missing));
}

TEST(ImageInfoTrailer, ImageInfoExtraValuesAndShortBlocks) {
  ImageInfo info;
  ASSERT_TRUE(ParseImageInfo(MakeImageInfoBlock(10, 20, 4, 72000, true), &info));
  EXPECT_TRUE(info.has_extra);
  EXPECT_EQ(info.extra[0], 1000);
  EXPECT_FALSE(ParseImageInfo(MakeImageInfoBlock(10, 20, 4, 72000).substr(0, 23), &info));
}

TEST(ImageInfoTrailer, WindowDoublesForLargeBlocks) {
  // The tag-1 block lies beyond the first 3000 bytes from the end.
  MemoryFile f{AppendTrailer(MakeJpeg(20000), {{1, kIptc}, {3, std::string(5000, 'p')}})};
  TrailerWindow w;
  ASSERT_TRUE(ReadImageInfoTrailer(f.Reader(), f.bytes.size(), 1, &w));
  EXPECT_EQ(w.block, kIptc);
  EXPECT_EQ(f.lengths, (std::vector<size_t>{3000, 6000}));

  // Too far for three doublings (24000 bytes).
  MemoryFile far{AppendTrailer(MakeJpeg(40000), {{1, kIptc}, {3, std::string(30000, 'p')}})};
  EXPECT_FALSE(ReadImageInfoTrailer(far.Reader(), far.bytes.size(), 1, &w));
  EXPECT_EQ(far.lengths, (std::vector<size_t>{3000, 6000, 12000, 24000}));
  // Tag 2 gets two doublings only.
  MemoryFile two{AppendTrailer(
      MakeJpeg(40000), {{2, MakeImageInfoBlock(1, 1, 1, 1)}, {3, std::string(30000, 'p')}})};
  EXPECT_FALSE(ReadImageInfoTrailer(two.Reader(), two.bytes.size(), 2, &w));
  EXPECT_EQ(two.lengths, (std::vector<size_t>{3000, 6000, 12000}));
}

TEST(ImageInfoTrailer, SmallFilesAndTheWholeFileWindow) {
  std::string file = AppendTrailer("", {{1, kIptc}});
  MemoryFile f{file};
  TrailerWindow w;
  ASSERT_TRUE(ReadImageInfoTrailer(f.Reader(), file.size(), 1, &w));
  EXPECT_EQ(w.block, kIptc);
  EXPECT_FALSE(ReadImageInfoTrailer(f.Reader(), 0, 1, &w));
  std::string_view block;
  EXPECT_EQ(SearchTrailerWindow("", 0, 1, &block), TrailerSearch::kNotFound);
}

TEST(ImageInfoTrailer, BrokenFootersEndTheWalk) {
  std::string file = AppendTrailer(MakeJpeg(), {{1, kIptc}, {2, MakeImageInfoBlock(1, 1, 1, 1)}});
  std::string_view block;
  // Length below the footer size.
  std::string bad = file;
  bad[bad.size() - 8] = 0;
  bad[bad.size() - 7] = 0;
  bad[bad.size() - 6] = 0;
  bad[bad.size() - 5] = 5;
  EXPECT_EQ(SearchTrailerWindow(bad, bad.size(), 1, &block), TrailerSearch::kNotFound);
  // A length reaching before the window start.
  std::string window = file.substr(file.size() - 40);
  EXPECT_EQ(SearchTrailerWindow(window, file.size(), 1, &block), TrailerSearch::kWindowTooSmall);
  // The previous footer's magic broken.
  std::string broken = file;
  broken[file.size() - 10 - 24 - 10 + 6] = 0;
  EXPECT_EQ(SearchTrailerWindow(broken, broken.size(), 1, &block), TrailerSearch::kNotFound);
}

TEST(ImageInfoTrailer, AxsMarkers) {
  std::string file = AppendAxsMarkers(MakeJpeg(), kIptc);
  MemoryFile f{file};
  TrailerWindow w;
  ASSERT_TRUE(ReadImageInfoTrailer(f.Reader(), file.size(), 1, &w));
  EXPECT_EQ(w.block, kIptc);
  // Only tag 1 has the marker fallback.
  EXPECT_FALSE(ReadImageInfoTrailer(f.Reader(), file.size(), 2, &w));
  // Every end-marker distance from 8 to 34 bytes.
  for (size_t tail = 0; tail <= 26; ++tail) {
    std::string t = AppendAxsMarkers(MakeJpeg(), kIptc, tail);
    std::string_view block;
    EXPECT_EQ(SearchTrailerWindow(t, t.size(), 1, &block), TrailerSearch::kFound) << tail;
  }
  std::string_view block;
  std::string too_far = AppendAxsMarkers(MakeJpeg(), kIptc, 27);
  EXPECT_EQ(SearchTrailerWindow(too_far, too_far.size(), 1, &block), TrailerSearch::kNotFound);
  // Data that does not start with the tag marker.
  std::string foreign = AppendAxsMarkers(MakeJpeg(), "plain text");
  EXPECT_EQ(SearchTrailerWindow(foreign, foreign.size(), 1, &block), TrailerSearch::kNotFound);
  // A start marker outside the window makes the window grow by 8.
  std::string big = AppendAxsMarkers(MakeJpeg(), kIptc + std::string(5000, '\0'));
  MemoryFile g{big};
  ASSERT_TRUE(ReadImageInfoTrailer(g.Reader(), big.size(), 1, &w));
  EXPECT_EQ(g.lengths, (std::vector<size_t>{3000, std::min<size_t>(24000, big.size())}));
}

TEST(ImageInfoTrailer, ReadsThroughTheFileSystem) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("t.jpg", AppendTrailer(MakeJpeg(), {{1, kIptc}})));
  TrailerWindow w;
  ASSERT_TRUE(ReadImageInfoTrailer(*DefaultFileSystem(), dir.Path("t.jpg"), 1, &w));
  CaptionRecord r;
  EXPECT_TRUE(InstallIptcBlock(r, w.block));
  EXPECT_FALSE(ReadImageInfoTrailer(*DefaultFileSystem(), dir.Path("none.jpg"), 1, &w));
}

}  // namespace
}  // namespace vantrel
