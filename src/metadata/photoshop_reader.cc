#include "metadata/photoshop_reader.h"

#include <algorithm>
#include <cstring>

#include "metadata/iim_codec.h"
#include "metadata/photoshop_resources.h"

namespace vantrel {
namespace {

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

bool IsSoiAt(std::string_view data, size_t pos) {
  return data.size() >= pos + 2 && At(data, pos) == 0xFF && At(data, pos + 1) == 0xD8;
}

// Size of the APP13 header to skip before the resources, or 0 for a foreign
// identifier. The identifier is compared as a NUL-terminated string.
size_t IdentifierSkip(std::string_view payload) {
  if (payload.substr(0, kApp13Photoshop3.size()) == kApp13Photoshop3) return kApp13Photoshop3Skip;
  if (payload.substr(0, kApp13Photoshop25.size()) == kApp13Photoshop25) {
    return kApp13Photoshop25Skip;
  }
  return 0;
}

uint32_t Be32(std::string_view s, size_t i) {
  return (uint32_t{At(s, i)} << 24) | (uint32_t{At(s, i + 1)} << 16) |
         (uint32_t{At(s, i + 2)} << 8) | At(s, i + 3);
}

}  // namespace

bool ReadPhotoshopCaption(CaptionRecord& record, std::string_view data, const std::string& path,
                          const MacStreamReader& mac_streams) {
  if (mac_streams && mac_streams(record, path)) return true;
  // The Macintosh streams already answered "no" above; every later fallback
  // to them gives the same answer, so it is not asked again.
  if (data.size() < kPhotoshopMinLength) return false;
  if (!IsSoiAt(data, 0) && !IsSoiAt(data, 128)) return false;

  record.resources.clear();
  size_t pos = std::string_view::npos;
  for (size_t i = 0; i + 1 < data.size(); ++i) {
    if (At(data, i) == 0xFF && At(data, i + 1) == 0xED) {
      pos = i;
      break;
    }
  }
  if (pos == std::string_view::npos) return false;

  // Join consecutive APP13 segments.
  while (pos + 4 <= data.size() && At(data, pos) == 0xFF && At(data, pos + 1) == 0xED) {
    size_t segment_length = (size_t{At(data, pos + 2)} << 8) | At(data, pos + 3);
    if (segment_length < 2) break;
    size_t payload_length = segment_length - 2;
    size_t payload_at = pos + 4;
    std::string_view payload =
        data.substr(payload_at, std::min(payload_length, data.size() - payload_at));
    size_t skip = IdentifierSkip(payload);
    if (skip == 0) return false;
    if (payload.size() > skip) record.resources.append(payload.substr(skip));
    pos = payload_at + payload_length;
    if (pos >= data.size()) break;
  }

  std::string_view res = record.resources;
  size_t sig = FindResourceSignature(res, kResourceIptc);
  if (sig == std::string_view::npos) return false;
  size_t data_start = std::min(sig + kResourceHeaderMin, res.size());
  // The full 32-bit size: captions of 64 KB and more keep their tail.
  uint64_t declared = res.size() - sig >= kResourceHeaderMin ? Be32(res, sig + 8) : 0;
  size_t data_end = static_cast<size_t>(
      std::min<uint64_t>(data_start + declared + kIptcResourceSlack, res.size()));

  size_t iptc_start = std::string_view::npos;
  for (size_t i = data_start; i + 1 < data_end; ++i) {
    if (At(res, i) == kIimTagMarker && At(res, i + 1) == kIimApplicationRecord) {
      iptc_start = i;
      break;
    }
  }
  if (iptc_start == std::string_view::npos) return false;
  std::string_view iptc = res.substr(iptc_start, data_end - iptc_start);
  if (IsPlaceholderIptcBlock(iptc)) return true;
  InstallIptcBlock(record, iptc);
  return true;
}

}  // namespace vantrel
