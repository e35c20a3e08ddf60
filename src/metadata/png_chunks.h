// PNG pictures: the signature, then chunks of a 4-byte big-endian data
// length, a 4-byte type, the data and a CRC-32 over type and data.
//
// Read here: IHDR (width, height, colour type), pHYs (pixels per unit, unit
// 1 = metre), eXIf (an EXIF block in TIFF form, also from the raw profiles
// "Raw profile type exif" or "APP1" that exiv2 and ImageMagick write), and
// the text chunks tEXt,
// zTXt and iTXt with the keyword "Raw profile type iptc" (the IIM block as
// hexadecimal text, as exiftool and ImageMagick write it: "\niptc\n",
// the byte count, then the hex digits broken into lines; either the IIM
// datasets themselves or Photoshop resources holding them) or the iTXt
// keyword "XML:com.adobe.xmp" (the XMP packet).
//
// Every chunk's length is checked against the data, a chunk whose CRC does
// not match is ignored, compressed text is inflated to at most
// kMaxPngTextBytes and hex text decoded only as far as its stated count.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);
inline constexpr size_t kMaxPngTextBytes = 16u << 20;

struct PngFacts {
  bool png = false;         // the data opens with the PNG signature
  bool has_header = false;  // a whole IHDR with the right CRC
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t colour_channels = 0;  // 1 grey, 3 colour or palette (alpha not counted)
  double dpi = 0;                // from pHYs in pixels per metre; 0 when not given
  std::string exif;              // the eXIf chunk's data (TIFF form), or ""
  std::string iim;               // the IIM block of the raw iptc profile, or ""
  std::string xmp;               // the XMP packet, or ""
  // The data ended inside a chunk (or before IEND): the bytes of the file
  // that are needed to see that chunk whole. 0 when the walk was complete.
  uint64_t wanted = 0;
};

// Walks the chunks of `data` (the file or its first bytes).
PngFacts ReadPngChunks(std::string_view data);

// The XMP packet of a PNG picture (iTXt "XML:com.adobe.xmp"), for the XMP
// reader; nullopt when it has none.
std::optional<std::string> PngXmpPacket(std::string_view data);

// The bytes of a raw profile's hexadecimal text ("\n<name>\n  <count>\n<hex>"),
// decoded only as far as the stated count; "" when the text is not one.
std::string RawProfileBytes(std::string_view text);

// The IIM datasets inside the text of a raw profile ("\niptc\n  <count>\n<hex>"):
// the decoded bytes, and when they are Photoshop resources, the data of
// their IPTC resource. "" when the text is not such a profile.
std::string IimFromRawProfile(std::string_view text);

// Inflates zlib data to at most `cap` bytes; nullopt when the data is not
// whole zlib data or inflates to more.
std::optional<std::string> InflateZlib(std::string_view data, size_t cap);

}  // namespace vantrel
