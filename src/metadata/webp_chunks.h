// WebP pictures: a RIFF container ("RIFF", a 4-byte little-endian size,
// "WEBP") of chunks, each a 4-byte type, a 4-byte little-endian data size,
// the data and one pad byte when the size is odd.
//
// Read here: VP8X (canvas width and height less one, 24 bits each), VP8
// (lossy: a key frame's 14-bit width and height behind the start code
// 9D 01 2A), VP8L (lossless: 14-bit width and height less one behind the
// signature byte 2F), EXIF (an EXIF block in TIFF form, sometimes behind
// "Exif\0\0") and XMP (the XMP packet, its chunk type is "XMP ").
//
// Every size is checked against the data; the walk ends at a chunk that
// does not fit.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct WebpFacts {
  bool webp = false;  // the data opens with a RIFF WEBP header
  uint32_t width = 0;
  uint32_t height = 0;
  std::string exif;  // TIFF form, or ""
  std::string xmp;   // or ""
  // The data ended inside a chunk: the bytes of the file needed to see it
  // whole. 0 when the walk was complete.
  uint64_t wanted = 0;
};

WebpFacts ReadWebpChunks(std::string_view data);

// The XMP packet of a WebP picture, for the XMP reader; nullopt when none.
std::optional<std::string> WebpXmpPacket(std::string_view data);

}  // namespace vantrel
