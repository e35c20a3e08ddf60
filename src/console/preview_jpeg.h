// Shrinking a JPEG picture to a small JPEG preview with libjpeg.
//
// The picture is decoded at the smallest of libjpeg's scales 1/8, 1/4, 1/2
// and 1/1 that keeps its longer side at least `longest_side` pixels (a
// picture smaller than that is decoded whole and never enlarged), reduced
// with a box filter so that its longer side is `longest_side`, and encoded at
// quality 80. Grey pictures stay grey; CMYK and YCCK pictures (Adobe's
// inverted ones included) become RGB.
//
// The bytes are hostile: every libjpeg error ends in a clean error Status
// (libjpeg's error manager jumps back out of the decoder), and so do
//  - a stream that ends before the last pixel row (a truncated file),
//  - a picture of more than `max_pixels` pixels (refused after the header,
//    before anything is decoded),
//  - a progressive picture of more than `max_scans` scans,
//  - a decoder that would need more than `max_memory` bytes,
//  - more than `max_input_bytes` read.
// libjpeg's own warnings (extra bytes before a marker and such) are
// tolerated: the picture shows as other viewers show it.
//
// Thread safety: the functions keep no state; any thread may call them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel {

struct JpegShrinkLimits {
  int longest_side = 160;
  int quality = 80;
  uint64_t max_pixels = 100'000'000;
  int max_scans = 500;
  long max_memory = 256L << 20;
  uint64_t max_input_bytes = uint64_t{1} << 30;
};

// Reads up to `length` bytes of the picture at `offset`; fewer (or none) at
// the end of the picture.
using JpegByteReader = std::function<StatusOr<std::string>(uint64_t offset, size_t length)>;

// The preview of the JPEG picture that `read` delivers. kCorruption for a
// damaged or truncated picture, kResourceExhausted for one beyond the limits,
// the reader's own error when it fails.
StatusOr<std::string> ShrinkJpeg(const JpegByteReader& read, const JpegShrinkLimits& limits = {});

// The same for a picture in memory.
StatusOr<std::string> ShrinkJpegBytes(std::string_view jpeg, const JpegShrinkLimits& limits = {});

// Encodes `pixels` (rows top to bottom, `components` bytes a pixel: 1 grey,
// 3 RGB, 4 CMYK as Adobe writes it, 255 meaning no ink) as a baseline JPEG
// of `quality`, progressive when asked.
StatusOr<std::string> EncodeJpeg(const std::vector<uint8_t>& pixels, int width, int height,
                                 int components, int quality, bool progressive = false);

}  // namespace vantrel
