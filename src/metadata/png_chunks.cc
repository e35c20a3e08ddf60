#include "metadata/png_chunks.h"

#include <zlib.h>

#include <algorithm>

#include "metadata/photoshop_resources.h"

namespace vantrel {
namespace {

inline constexpr std::string_view kRawIptcKeyword = "Raw profile type iptc";
// exiv2 and ImageMagick write EXIF as a raw profile too ("exif", or "APP1").
inline constexpr std::string_view kRawExifKeyword = "Raw profile type exif";
inline constexpr std::string_view kRawApp1Keyword = "Raw profile type APP1";
inline constexpr std::string_view kExifPrefix("Exif\0\0", 6);
inline constexpr std::string_view kXmpKeyword = "XML:com.adobe.xmp";
inline constexpr double kMetresPerInch = 0.0254;
// A chunk's data may be at most 2^31 - 1 bytes.
inline constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

uint32_t Be32(std::string_view d, size_t at) {
  return (uint32_t{static_cast<uint8_t>(d[at])} << 24) |
         (uint32_t{static_cast<uint8_t>(d[at + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(d[at + 2])} << 8) | uint32_t{static_cast<uint8_t>(d[at + 3])};
}

bool CrcMatches(std::string_view type_and_data, uint32_t stored) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes at most uInt bytes at a time; chunks never exceed 2^31.
  crc = crc32(crc, reinterpret_cast<const Bytef*>(type_and_data.data()),
              static_cast<uInt>(type_and_data.size()));
  return static_cast<uint32_t>(crc) == stored;
}

uint32_t ChannelsOfColourType(uint8_t colour_type) {
  switch (colour_type) {
    case 0:  // grey
    case 4:  // grey and alpha
      return 1;
    case 2:  // RGB
    case 3:  // palette
    case 6:  // RGB and alpha
      return 3;
    default:
      return 0;
  }
}

void ReadHeader(std::string_view data, PngFacts* facts) {
  if (data.size() < 13) return;
  facts->has_header = true;
  facts->width = Be32(data, 0);
  facts->height = Be32(data, 4);
  facts->colour_channels = ChannelsOfColourType(static_cast<uint8_t>(data[9]));
}

void ReadPhysical(std::string_view data, PngFacts* facts) {
  if (data.size() < 9 || data[8] != 1) return;  // unit 1: metre
  facts->dpi = Be32(data, 0) * kMetresPerInch;
}

// The keyword of a text chunk and the text after it, inflated where the
// chunk says so. False when the chunk is malformed or the text too large.
bool ChunkText(std::string_view type, std::string_view data, std::string* keyword,
               std::string* text) {
  const size_t nul = data.find('\0');
  if (nul == std::string_view::npos) return false;
  *keyword = std::string(data.substr(0, nul));
  std::string_view rest = data.substr(nul + 1);
  bool compressed = false;
  if (type == "zTXt") {
    if (rest.empty() || rest[0] != 0) return false;
    compressed = true;
    rest = rest.substr(1);
  } else if (type == "iTXt") {
    if (rest.size() < 2 || (rest[0] == 1 && rest[1] != 0)) return false;
    compressed = rest[0] == 1;
    rest = rest.substr(2);
    for (int field = 0; field < 2; ++field) {  // language tag, translated keyword
      const size_t end = rest.find('\0');
      if (end == std::string_view::npos) return false;
      rest = rest.substr(end + 1);
    }
  }
  if (!compressed) {
    if (rest.size() > kMaxPngTextBytes) return false;
    *text = std::string(rest);
    return true;
  }
  std::optional<std::string> inflated = InflateZlib(rest, kMaxPngTextBytes);
  if (!inflated) return false;
  *text = std::move(*inflated);
  return true;
}

void ReadText(std::string_view type, std::string_view data, PngFacts* facts) {
  // Only the two keywords read here are inflated.
  const size_t nul = data.find('\0');
  const std::string_view key = data.substr(0, nul);
  const bool exif = key == kRawExifKeyword || key == kRawApp1Keyword;
  if (key != kRawIptcKeyword && !exif && !(key == kXmpKeyword && type == "iTXt")) return;
  std::string keyword, text;
  if (!ChunkText(type, data, &keyword, &text)) return;
  if (keyword == kXmpKeyword) {
    if (facts->xmp.empty()) facts->xmp = std::move(text);
  } else if (exif) {
    if (!facts->exif.empty()) return;
    std::string bytes = RawProfileBytes(text);
    const size_t start = bytes.find(kExifPrefix);
    facts->exif = start == std::string::npos ? std::move(bytes) : bytes.substr(start + kExifPrefix.size());
  } else if (facts->iim.empty()) {
    facts->iim = IimFromRawProfile(text);
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> InflateZlib(std::string_view data, size_t cap) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  std::string out;
  char buffer[16384];
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(std::min<size_t>(data.size(), 0x7FFFFFFFu));
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    rc = inflate(&z, Z_NO_FLUSH);
    const size_t produced = sizeof buffer - z.avail_out;
    if (out.size() + produced > cap) {
      rc = Z_MEM_ERROR;
      break;
    }
    out.append(buffer, produced);
    if (rc == Z_BUF_ERROR && produced > 0) rc = Z_OK;
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

std::string RawProfileBytes(std::string_view text) {
  // "\n<name>\n", blanks, the decimal byte count, "\n", then the hex digits.
  size_t at = text.find_first_not_of("\r\n");
  if (at == std::string_view::npos) return "";
  at = text.find('\n', at);
  if (at == std::string_view::npos) return "";
  at = text.find_first_not_of(" \t\r\n", at);
  uint64_t count = 0;
  bool any = false;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    count = count * 10 + static_cast<uint64_t>(text[at++] - '0');
    any = true;
    if (count > kMaxPngTextBytes) return "";
  }
  if (!any || at >= text.size() || (text[at] != '\n' && text[at] != '\r')) return "";
  std::string bytes;
  bytes.reserve(static_cast<size_t>(std::min<uint64_t>(count, text.size() / 2)));
  int high = -1;
  for (; at < text.size() && bytes.size() < count; ++at) {
    const int v = HexValue(text[at]);
    if (v < 0) continue;  // line breaks between the digits
    if (high < 0) {
      high = v;
    } else {
      bytes.push_back(static_cast<char>((high << 4) | v));
      high = -1;
    }
  }
  return bytes;
}

std::string IimFromRawProfile(std::string_view text) {
  std::string bytes = RawProfileBytes(text);
  if (bytes.size() >= kApp13Photoshop3.size() && bytes.compare(0, kApp13Photoshop3.size(), kApp13Photoshop3) == 0) {
    bytes.erase(0, kApp13Photoshop3Skip);
  }
  if (bytes.compare(0, kResourceSignature.size(), kResourceSignature) == 0) {
    for (const PhotoshopResource& r : WalkResources(bytes)) {
      if (r.id == kResourceIptc) return std::string(r.data);
    }
    return "";
  }
  return bytes;
}

PngFacts ReadPngChunks(std::string_view data) {
  PngFacts facts;
  if (data.substr(0, kPngSignature.size()) != kPngSignature) return facts;
  facts.png = true;
  size_t at = kPngSignature.size();
  while (true) {
    if (data.size() - at < 8) {
      facts.wanted = uint64_t{at} + 8;
      return facts;
    }
    const uint32_t length = Be32(data, at);
    if (length > kMaxChunkLength) return facts;  // not PNG any more
    const std::string_view type = data.substr(at + 4, 4);
    const uint64_t end = uint64_t{at} + 12 + length;
    if (end > data.size()) {
      facts.wanted = end;
      return facts;
    }
    if (type == "IEND") return facts;
    const std::string_view body = data.substr(at + 8, length);
    if (CrcMatches(data.substr(at + 4, length + 4), Be32(data, at + 8 + length))) {
      if (type == "IHDR") {
        ReadHeader(body, &facts);
      } else if (type == "pHYs") {
        ReadPhysical(body, &facts);
      } else if (type == "eXIf") {
        if (facts.exif.empty()) facts.exif = std::string(body);
      } else if (type == "tEXt" || type == "zTXt" || type == "iTXt") {
        ReadText(type, body, &facts);
      }
    }
    at = static_cast<size_t>(end);
  }
}

std::optional<std::string> PngXmpPacket(std::string_view data) {
  PngFacts facts = ReadPngChunks(data);
  if (facts.xmp.empty()) return std::nullopt;
  return std::move(facts.xmp);
}

}  // namespace vantrel
