// Per-index switches for the metadata read beyond the IIM block and the
// image-info trailer. The index definition stores them as four bits in the
// first u32 of its reserved area; each set bit turns one extension off, so
// zero (every existing configuration file) means all on, and all four bits
// set give the documents of a server that reads IIM and trailers only.
//
// Thread safety: a plain value.
#pragma once

#include <cstdint>

namespace vantrel {

struct MetadataSwitches {
  bool xmp = true;                // XMP packets and <name>.xmp sidecars
  bool iim_charset = true;        // IIM character sets (1:90, UTF-8) converted
  bool header_dimensions = true;  // pixel size, resolution, colour from headers
  bool capture_date = true;       // capture date from EXIF/XMP when 2:55 is absent

  static constexpr uint32_t kXmpOff = 1u << 0;
  static constexpr uint32_t kIimCharsetOff = 1u << 1;
  static constexpr uint32_t kHeaderDimensionsOff = 1u << 2;
  static constexpr uint32_t kCaptureDateOff = 1u << 3;

  static MetadataSwitches FromStoredBits(uint32_t bits) {
    MetadataSwitches s;
    s.xmp = (bits & kXmpOff) == 0;
    s.iim_charset = (bits & kIimCharsetOff) == 0;
    s.header_dimensions = (bits & kHeaderDimensionsOff) == 0;
    s.capture_date = (bits & kCaptureDateOff) == 0;
    return s;
  }
  uint32_t ToStoredBits() const {
    return (xmp ? 0 : kXmpOff) | (iim_charset ? 0 : kIimCharsetOff) |
           (header_dimensions ? 0 : kHeaderDimensionsOff) | (capture_date ? 0 : kCaptureDateOff);
  }
  static MetadataSwitches AllOff() { return FromStoredBits(0xF); }
};

// The switches by the names operators use (`vantrelctl index set N metadata`,
// `config show`, the console's options), each with the bit that turns it off.
struct MetadataSwitchName {
  const char* name;
  uint32_t off_bit;
};
inline constexpr MetadataSwitchName kMetadataSwitchNames[] = {
    {"xmp", MetadataSwitches::kXmpOff},
    {"charset", MetadataSwitches::kIimCharsetOff},
    {"dimensions", MetadataSwitches::kHeaderDimensionsOff},
    {"dates", MetadataSwitches::kCaptureDateOff},
};

}  // namespace vantrel
