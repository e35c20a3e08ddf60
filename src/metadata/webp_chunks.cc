#include "metadata/webp_chunks.h"

namespace vantrel {
namespace {

inline constexpr size_t kRiffHeader = 12;
inline constexpr std::string_view kExifPrefix("Exif\0\0", 6);

uint32_t Byte(std::string_view d, size_t at) { return static_cast<uint8_t>(d[at]); }
uint32_t Le16(std::string_view d, size_t at) { return Byte(d, at) | (Byte(d, at + 1) << 8); }
uint32_t Le24(std::string_view d, size_t at) { return Le16(d, at) | (Byte(d, at + 2) << 16); }
uint32_t Le32(std::string_view d, size_t at) { return Le24(d, at) | (Byte(d, at + 3) << 24); }

void ReadCanvas(std::string_view body, WebpFacts* facts) {
  if (body.size() < 10) return;
  facts->width = Le24(body, 4) + 1;
  facts->height = Le24(body, 7) + 1;
}

void ReadLossy(std::string_view body, WebpFacts* facts) {
  // A frame tag of 3 bytes (bit 0 clear: key frame), then 9D 01 2A.
  if (body.size() < 10 || (Byte(body, 0) & 1) != 0 || body.substr(3, 3) != "\x9D\x01\x2A") return;
  facts->width = Le16(body, 6) & 0x3FFF;
  facts->height = Le16(body, 8) & 0x3FFF;
}

void ReadLossless(std::string_view body, WebpFacts* facts) {
  if (body.size() < 5 || Byte(body, 0) != 0x2F) return;
  const uint32_t bits = Le32(body, 1);
  facts->width = (bits & 0x3FFF) + 1;
  facts->height = ((bits >> 14) & 0x3FFF) + 1;
}

}  // namespace

WebpFacts ReadWebpChunks(std::string_view data) {
  WebpFacts facts;
  if (data.size() < kRiffHeader || data.substr(0, 4) != "RIFF" || data.substr(8, 4) != "WEBP") {
    return facts;
  }
  facts.webp = true;
  // The RIFF size bounds the chunks; a file cut short bounds them too.
  const uint64_t riff_end = uint64_t{Le32(data, 4)} + 8;
  bool canvas = false;
  size_t at = kRiffHeader;
  while (at + 8 <= riff_end) {
    if (at > data.size() || data.size() - at < 8) {
      facts.wanted = uint64_t{at} + 8;
      return facts;
    }
    const std::string_view type = data.substr(at, 4);
    const uint32_t size = Le32(data, at + 4);
    const uint64_t end = uint64_t{at} + 8 + size;
    if (end > riff_end) return facts;
    if (end > data.size()) {
      facts.wanted = end;
      return facts;
    }
    const std::string_view body = data.substr(at + 8, size);
    if (type == "VP8X") {
      ReadCanvas(body, &facts);
      canvas = facts.width != 0;
    } else if (type == "VP8 " && !canvas) {
      ReadLossy(body, &facts);
    } else if (type == "VP8L" && !canvas) {
      ReadLossless(body, &facts);
    } else if (type == "EXIF" && facts.exif.empty()) {
      facts.exif = std::string(body.substr(0, kExifPrefix.size()) == kExifPrefix
                                   ? body.substr(kExifPrefix.size())
                                   : body);
    } else if (type == "XMP " && facts.xmp.empty()) {
      facts.xmp = std::string(body);
    }
    at = static_cast<size_t>(end + (size & 1));
  }
  return facts;
}

std::optional<std::string> WebpXmpPacket(std::string_view data) {
  WebpFacts facts = ReadWebpChunks(data);
  if (facts.xmp.empty()) return std::nullopt;
  return std::move(facts.xmp);
}

}  // namespace vantrel
