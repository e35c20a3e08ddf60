#include "console/preview_jpeg.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "preview_test_util.h"

namespace vantrel {
namespace {

TEST(PreviewJpegTest, ShrinksTheLongerSideTo160AndNeverEnlarges) {
  struct Case {
    int width, height, components;
    bool progressive;
    int want_width, want_height;
  };
  for (const Case& c : std::vector<Case>{{640, 400, 3, false, 160, 100},
                                         {300, 1000, 1, false, 48, 160},
                                         {2000, 161, 3, true, 160, 13},
                                         {161, 161, 3, false, 160, 160},
                                         {100, 50, 3, false, 100, 50},
                                         {1, 1, 1, false, 1, 1}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    StatusOr<std::string> preview =
        ShrinkJpegBytes(TestJpeg(c.width, c.height, c.components, c.progressive));
    ASSERT_TRUE(preview.ok()) << preview.status().ToString();
    std::optional<JpegFrame> frame = ReadJpegFrame(*preview);
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->width, c.want_width);
    EXPECT_EQ(frame->height, c.want_height);
    EXPECT_EQ(frame->components, c.components);
    EXPECT_TRUE(ShrinkJpegBytes(*preview).ok());  // a whole, decodable picture
  }
}

TEST(PreviewJpegTest, CmykPicturesBecomeRgb) {
  // Adobe's inverted CMYK: 255 is no ink. Cyan, magenta, yellow, black and
  // paper in five columns.
  const uint8_t inks[5][4] = {{0, 255, 255, 255}, {255, 0, 255, 255}, {255, 255, 0, 255},
                              {255, 255, 255, 0}, {255, 255, 255, 255}};
  const int width = 400, height = 200;
  std::vector<uint8_t> cmyk(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) cmyk[(static_cast<size_t>(y) * width + x) * 4 + c] = inks[x / 80][c];
    }
  }
  StatusOr<std::string> picture = EncodeJpeg(cmyk, width, height, 4, 95);
  ASSERT_TRUE(picture.ok());
  StatusOr<std::string> preview = ShrinkJpegBytes(*picture);
  ASSERT_TRUE(preview.ok()) << preview.status().ToString();
  std::vector<uint8_t> rgb = DecodeJpegPixels(*preview);
  ASSERT_EQ(rgb.size(), 160u * 80 * 3);
  const int want[5][3] = {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0}, {255, 255, 255}};
  for (int column = 0; column < 5; ++column) {
    const size_t at = (40u * 160 + static_cast<size_t>(column) * 32 + 16) * 3;  // column centre
    for (int c = 0; c < 3; ++c) {
      EXPECT_NEAR(rgb[at + static_cast<size_t>(c)], want[column][c], 24) << column << " " << c;
    }
  }
}

TEST(PreviewJpegTest, DamagedTruncatedAndOversizedPicturesGiveErrors) {
  const std::string good = TestJpeg(400, 300, 3, false);
  std::string damaged = good;
  const size_t sof = good.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  damaged[sof + 9] = 7;  // seven components in a three-component frame
  std::string garbage = good;
  for (size_t i = good.size() / 3; i < good.size() - 2; ++i) garbage[i] = static_cast<char>(i * 7);

  struct Case {
    const char* name;
    std::string bytes;
    JpegShrinkLimits limits;
    StatusCode code;
  };
  JpegShrinkLimits few_pixels;
  few_pixels.max_pixels = 400 * 300 - 1;
  JpegShrinkLimits few_scans;
  few_scans.max_scans = 2;
  JpegShrinkLimits little_memory;
  little_memory.max_memory = 100 * 1024;
  for (const Case& c : std::vector<Case>{
           {"empty", "", {}, StatusCode::kCorruption},
           {"not a JPEG", "GIF89a and more bytes", {}, StatusCode::kCorruption},
           {"damaged frame", damaged, {}, StatusCode::kCorruption},
           {"truncated", good.substr(0, good.size() / 2), {}, StatusCode::kCorruption},
           {"header only", good.substr(0, sof + 30), {}, StatusCode::kCorruption},
           {"over the pixel limit", good, few_pixels, StatusCode::kResourceExhausted},
           {"too many scans", TestJpeg(400, 300, 3, true), few_scans,
            StatusCode::kResourceExhausted},
           {"over the memory limit", TestJpeg(1000, 1000, 3, true), little_memory,
            StatusCode::kResourceExhausted}}) {
    SCOPED_TRACE(c.name);
    StatusOr<std::string> preview = ShrinkJpegBytes(c.bytes, c.limits);
    ASSERT_FALSE(preview.ok());
    EXPECT_EQ(preview.status().code(), c.code) << preview.status().ToString();
  }
  // Garbage in the entropy-coded data decodes to something or fails; it never crashes.
  (void)ShrinkJpegBytes(garbage);

  // The reader's own failure is passed on.
  JpegByteReader failing = [](uint64_t, size_t) -> StatusOr<std::string> {
    return Status::IoError("disk gone");
  };
  StatusOr<std::string> failed = ShrinkJpeg(failing);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().ToString(), Status::IoError("disk gone").ToString());
}

// Replays fuzz/corpus/preview_jpeg_fuzz/ through the fuzz target's check.
// VANTREL_WRITE_SEEDS=1 writes the seeds first (pictures of this libjpeg).
TEST(PreviewJpegTest, EveryKeptFuzzInputPassesTheCheck) {
  const std::filesystem::path folder = std::filesystem::path(__FILE__).parent_path().parent_path()
                                           .parent_path() / "fuzz" / "corpus" / "preview_jpeg_fuzz";
  if (std::getenv("VANTREL_WRITE_SEEDS") != nullptr) {
    std::filesystem::create_directories(folder);
    const std::string cut = TestJpeg(40, 30, 3, false);
    for (const auto& [name, bytes] : std::vector<std::pair<std::string, std::string>>{
             {"seed_baseline_rgb", TestJpeg(200, 120, 3, false)},
             {"seed_progressive_grey", TestJpeg(24, 300, 1, true)},
             {"seed_truncated", cut.substr(0, cut.size() * 2 / 3)}}) {
      std::ofstream(folder / name, std::ios::binary) << bytes;
    }
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size copy, so that a read past the end is seen by ASan.
    std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    EXPECT_TRUE(CheckPreviewJpegInput(std::string_view(exact.get(), bytes.size())))
        << entry.path();
    ++files;
  }
  EXPECT_GE(files, 3);
}

}  // namespace
}  // namespace vantrel
