// Pictures for the preview tests: real JPEGs made with libjpeg, and the
// frame size read back from a JPEG's SOF marker.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <jpeglib.h>

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

// The pixels of a JPEG decoded whole by libjpeg (RGB or grey), for checking
// colours; empty when it cannot be decoded.
struct JpegPixelsDecoder {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
  bool created = false;
  ~JpegPixelsDecoder() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
  static void Fail(j_common_ptr cinfo) {
    std::longjmp(static_cast<JpegPixelsDecoder*>(cinfo->client_data)->jump, 1);
  }
  bool Decode(std::string_view jpeg, std::vector<uint8_t>* pixels) {
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = Fail;
    if (setjmp(jump)) return false;
    jpeg_create_decompress(&cinfo);
    created = true;
    cinfo.client_data = this;
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    pixels->resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = pixels->data() + stride * cinfo.output_scanline;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
  }
};

inline std::vector<uint8_t> DecodeJpegPixels(std::string_view jpeg) {
  std::vector<uint8_t> pixels;
  JpegPixelsDecoder decoder;
  if (!decoder.Decode(jpeg, &pixels)) pixels.clear();
  return pixels;
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
