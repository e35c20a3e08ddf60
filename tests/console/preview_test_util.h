// Pictures for the preview tests: real JPEGs made with libjpeg, and the
// frame size read back from a JPEG's SOF marker.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/preview_jpeg.h"

namespace vantrel {

// A width x height picture with a gradient (components 1 or 3), quality 90.
inline std::string TestJpeg(int width, int height, int components, bool progressive,
                            uint8_t tint = 0) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        pixels[(static_cast<size_t>(y) * width + x) * components + c] =
            static_cast<uint8_t>((x * 255 / width + y * 255 / height + c * 60 + tint) & 0xFF);
      }
    }
  }
  StatusOr<std::string> jpeg = EncodeJpeg(pixels, width, height, components, 90, progressive);
  return jpeg.ok() ? *jpeg : std::string();
}

struct JpegFrame {
  int width = 0;
  int height = 0;
  int components = 0;
};

// The frame header of a JPEG (baseline or progressive), found by walking the
// marker segments from the start; nothing when there is none.
inline std::optional<JpegFrame> ReadJpegFrame(std::string_view jpeg) {
  auto byte = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(jpeg[i])); };
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && byte(pos) == 0xFF) {
    const unsigned marker = byte(pos + 1);
    const size_t length = byte(pos + 2) << 8 | byte(pos + 3);
    if ((marker == 0xC0 || marker == 0xC1 || marker == 0xC2) && pos + 10 <= jpeg.size()) {
      return JpegFrame{static_cast<int>(byte(pos + 7) << 8 | byte(pos + 8)),
                       static_cast<int>(byte(pos + 5) << 8 | byte(pos + 6)),
                       static_cast<int>(byte(pos + 9))};
    }
    pos += 2 + length;
  }
  return std::nullopt;
}

}  // namespace vantrel

namespace vantrel {

// The fuzz target's check (fuzz/preview_jpeg_fuzz.cc), also replayed over its
// kept corpus by the ordinary tests: hostile bytes give an error or a
// preview that is a whole JPEG no larger than 160 pixels. Small limits keep
// each input fast.
inline bool CheckPreviewJpegInput(std::string_view bytes) {
  JpegShrinkLimits limits;
  limits.max_pixels = 4'000'000;
  limits.max_scans = 100;
  limits.max_memory = 64L << 20;
  StatusOr<std::string> preview = ShrinkJpegBytes(bytes, limits);
  if (!preview.ok()) return true;
  std::optional<JpegFrame> frame = ReadJpegFrame(*preview);
  return frame && frame->width >= 1 && frame->height >= 1 && frame->width <= 160 &&
         frame->height <= 160;
}

}  // namespace vantrel
