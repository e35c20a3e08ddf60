#include "metadata/xmp_sources.h"

#include <optional>

#include "metadata/png_chunks.h"
#include "metadata/webp_chunks.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "metadata/file_type.h"

namespace vantrel {
namespace {

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

uint32_t Be32(std::string_view s, size_t i) {
  return (uint32_t{At(s, i)} << 24) | (uint32_t{At(s, i + 1)} << 16) |
         (uint32_t{At(s, i + 2)} << 8) | At(s, i + 3);
}

constexpr uint8_t kMarkerSos = 0xDA;
constexpr uint8_t kMarkerEoi = 0xD9;
constexpr uint8_t kMarkerApp1 = 0xE1;
constexpr size_t kGuidSize = 32;
constexpr size_t kExtendedHeader = kJpegExtendedXmpId.size() + kGuidSize + 8;

bool IsStandalone(uint8_t marker) {
  return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

void TakeApp1(std::string_view payload, EmbeddedXmp* out) {
  if (payload.substr(0, kJpegXmpId.size()) == kJpegXmpId) {
    if (out->main.empty()) out->main = payload.substr(kJpegXmpId.size());
    return;
  }
  if (payload.size() >= kExtendedHeader &&
      payload.substr(0, kJpegExtendedXmpId.size()) == kJpegExtendedXmpId) {
    size_t at = kJpegExtendedXmpId.size();
    ExtendedXmpChunk chunk;
    chunk.guid = std::string(payload.substr(at, kGuidSize));
    chunk.full_length = Be32(payload, at + kGuidSize);
    chunk.offset = Be32(payload, at + kGuidSize + 4);
    chunk.bytes = payload.substr(kExtendedHeader);
    out->chunks.push_back(std::move(chunk));
  }
}

class TiffNumbers {
 public:
  TiffNumbers(std::string_view data, bool big_endian) : data_(data), big_(big_endian) {}
  bool U16(uint64_t at, uint32_t* v) const {
    if (at > data_.size() || data_.size() - at < 2) return false;
    uint32_t a = At(data_, at), b = At(data_, at + 1);
    *v = big_ ? (a << 8) | b : (b << 8) | a;
    return true;
  }
  bool U32(uint64_t at, uint32_t* v) const {
    if (at > data_.size() || data_.size() - at < 4) return false;
    uint32_t b0 = At(data_, at), b1 = At(data_, at + 1), b2 = At(data_, at + 2),
             b3 = At(data_, at + 3);
    *v = big_ ? (b0 << 24) | (b1 << 16) | (b2 << 8) | b3 : (b3 << 24) | (b2 << 16) | (b1 << 8) | b0;
    return true;
  }

 private:
  std::string_view data_;
  bool big_;
};

bool EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

XmpCaption ParseOrEmpty(std::string_view packet, const CodePage& code_page) {
  if (packet.empty()) return {};
  StatusOr<XmpCaption> parsed = ParseXmpPacket(packet, code_page);
  return parsed.ok() ? std::move(*parsed) : XmpCaption{};
}

// True when the last component of `path` is among the sorted `names`.
bool IsListed(const std::vector<std::string>& names, std::string_view path) {
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return std::binary_search(names.begin(), names.end(), name, std::less<>());
}

}  // namespace

bool FindJpegXmp(std::string_view data, EmbeddedXmp* out) {
  size_t soi = std::string_view::npos;
  for (size_t at : {size_t{0}, size_t{128}}) {
    if (data.size() >= at + 2 && At(data, at) == 0xFF && At(data, at + 1) == 0xD8) {
      soi = at;
      break;
    }
  }
  if (soi == std::string_view::npos) return false;
  size_t pos = soi + 2;
  while (data.size() - pos >= 2 && pos < data.size()) {
    if (At(data, pos) != 0xFF) break;
    uint8_t marker = At(data, pos + 1);
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == kMarkerSos || marker == kMarkerEoi) break;
    if (IsStandalone(marker)) {
      pos += 2;
      continue;
    }
    if (data.size() - pos < 4) break;
    size_t length = (size_t{At(data, pos + 2)} << 8) | At(data, pos + 3);
    if (length < 2 || data.size() - pos - 2 < length) break;
    if (marker == kMarkerApp1) TakeApp1(data.substr(pos + 4, length - 2), out);
    pos += 2 + length;
  }
  return !out->main.empty();
}

bool FindTiffXmp(std::string_view data, EmbeddedXmp* out) {
  if (data.size() < 8) return false;
  const bool big = data.substr(0, 2) == "MM";
  if (!big && data.substr(0, 2) != "II") return false;
  TiffNumbers r(data, big);
  uint32_t magic = 0, ifd = 0, entries = 0;
  if (!r.U16(2, &magic) || magic != 42 || !r.U32(4, &ifd) || !r.U16(ifd, &entries)) return false;
  for (uint32_t e = 0; e < entries; ++e) {
    uint64_t at = uint64_t{ifd} + 2 + uint64_t{e} * 12;
    uint32_t tag = 0, type = 0, count = 0, offset = 0;
    if (!r.U16(at, &tag) || !r.U16(at + 2, &type) || !r.U32(at + 4, &count)) return false;
    if (tag != kTiffTagXmp) continue;
    // BYTE or UNDEFINED; a packet never fits the four inline bytes.
    if ((type != 1 && type != 7) || count <= 4 || !r.U32(at + 8, &offset)) return false;
    if (offset > data.size() || data.size() - offset < count) return false;
    out->main = data.substr(offset, count);
    return true;
  }
  return false;
}

bool FindXpacket(std::string_view data, EmbeddedXmp* out) {
  static constexpr std::string_view kBegin = "<?xpacket begin";
  static constexpr std::string_view kEnd = "<?xpacket end";
  size_t begin = data.find(kBegin);
  if (begin == std::string_view::npos) return false;
  // The end is looked for only as far as a packet may reach.
  std::string_view window = data.substr(begin, kXmpPacketMax);
  size_t end = window.find(kEnd);
  if (end == std::string_view::npos) return false;
  size_t close = window.find("?>", end);
  if (close == std::string_view::npos) return false;
  out->main = window.substr(0, close + 2);
  return true;
}

std::string JoinExtendedXmp(const std::vector<ExtendedXmpChunk>& chunks, std::string_view guid) {
  std::vector<const ExtendedXmpChunk*> mine;
  for (const ExtendedXmpChunk& c : chunks) {
    if (c.guid == guid) mine.push_back(&c);
  }
  if (mine.empty()) return {};
  const uint32_t full = mine.front()->full_length;
  if (full == 0 || full > kXmpPacketMax) return {};
  std::sort(mine.begin(), mine.end(),
            [](const ExtendedXmpChunk* a, const ExtendedXmpChunk* b) { return a->offset < b->offset; });
  std::string joined(full, '\0');
  uint64_t covered = 0;
  for (const ExtendedXmpChunk* c : mine) {
    const uint64_t end = uint64_t{c->offset} + c->bytes.size();
    if (c->full_length != full || end > full || c->offset > covered) return {};
    std::memcpy(joined.data() + c->offset, c->bytes.data(), c->bytes.size());
    covered = std::max(covered, end);
  }
  if (covered != full) return {};
  return joined;
}

XmpCaption ReadEmbeddedXmp(std::string_view data, const CodePage& code_page) {
  EmbeddedXmp found;
  if (!FindJpegXmp(data, &found) && !FindTiffXmp(data, &found) &&
      !(IsPostScriptHead(data.substr(0, 4)) && FindXpacket(data, &found))) {
    // PNG (iTXt XML:com.adobe.xmp) and WebP (XMP chunk) carry one packet.
    std::optional<std::string> packet = PngXmpPacket(data);
    if (!packet) packet = WebpXmpPacket(data);
    return packet ? ParseOrEmpty(*packet, code_page) : XmpCaption{};
  }
  XmpCaption caption = ParseOrEmpty(found.main, code_page);
  if (!caption.extended_guid.empty() && !found.chunks.empty()) {
    std::string extension = JoinExtendedXmp(found.chunks, caption.extended_guid);
    AddMissingXmpDatasets(caption, ParseOrEmpty(extension, code_page));
  }
  return caption;
}

bool IsXmpSidecarName(std::string_view path) { return EndsWithNoCase(path, ".xmp"); }

std::vector<std::string> XmpSidecarPaths(const std::string& picture_path) {
  if (IsXmpSidecarName(picture_path)) return {};
  size_t slash = picture_path.find_last_of('/');
  size_t name_at = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = picture_path.find_last_of('.');
  std::vector<std::string> paths;
  if (dot != std::string::npos && dot > name_at) paths.push_back(picture_path.substr(0, dot) + ".xmp");
  paths.push_back(picture_path + ".xmp");
  return paths;
}

XmpCaption ReadXmpSidecar(FileSystem& fs, const std::string& picture_path,
                          const CodePage& code_page, const std::vector<std::string>* listed_files) {
  for (const std::string& path : XmpSidecarPaths(picture_path)) {
    if (listed_files != nullptr && !IsListed(*listed_files, path)) continue;
    StatusOr<std::string> bytes = fs.ReadFile(path, kXmpPacketMax);
    if (bytes.ok()) return ParseOrEmpty(*bytes, code_page);
  }
  return {};
}

}  // namespace vantrel
