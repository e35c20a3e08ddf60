#include "metadata/exif_tiff.h"

namespace vantrel {
namespace {

// Bytes per value of a field type; 0 for types read here as absent.
uint32_t TypeSize(uint16_t type) {
  switch (type) {
    case kTiffByte:
    case kTiffAscii:
      return 1;
    case kTiffShort:
      return 2;
    case kTiffLong:
    case kTiffIfd:
      return 4;
    case kTiffRational:
      return 8;
    default:
      return 0;
  }
}

}  // namespace

std::optional<TiffData> TiffData::Open(std::string_view data) {
  if (data.size() < 8) return std::nullopt;
  const bool big = data.substr(0, 2) == "MM";
  if (!big && data.substr(0, 2) != "II") return std::nullopt;
  TiffData tiff(data, big, 0);
  uint32_t magic = 0;
  if (!tiff.U16(2, &magic) || magic != 42 || !tiff.U32(4, &tiff.first_)) return std::nullopt;
  return tiff;
}

bool TiffData::U16(uint64_t at, uint32_t* v) const {
  if (at > data_.size() || data_.size() - at < 2) return false;
  const uint32_t a = static_cast<uint8_t>(data_[at]), b = static_cast<uint8_t>(data_[at + 1]);
  *v = big_ ? (a << 8) | b : (b << 8) | a;
  return true;
}

bool TiffData::U32(uint64_t at, uint32_t* v) const {
  uint32_t hi = 0, lo = 0;
  if (!U16(at, big_ ? &hi : &lo) || !U16(at + 2, big_ ? &lo : &hi)) return false;
  *v = (hi << 16) | lo;
  return true;
}

std::optional<TiffEntry> TiffData::Find(uint64_t directory, uint16_t tag) const {
  uint32_t entries = 0;
  if (!U16(directory, &entries) || entries > kMaxTiffEntries) return std::nullopt;
  for (uint32_t e = 0; e < entries; ++e) {
    const uint64_t at = directory + 2 + uint64_t{e} * 12;
    uint32_t entry_tag = 0, type = 0, count = 0, offset = 0;
    if (!U16(at, &entry_tag) || !U16(at + 2, &type) || !U32(at + 4, &count) ||
        !U32(at + 8, &offset)) {
      return std::nullopt;
    }
    if (entry_tag != tag) continue;
    TiffEntry entry;
    entry.tag = tag;
    entry.type = static_cast<uint16_t>(type);
    entry.count = count;
    const uint64_t bytes = uint64_t{TypeSize(entry.type)} * count;
    entry.value_at = bytes <= 4 ? at + 8 : offset;
    if (bytes == 0 || entry.value_at > data_.size() || data_.size() - entry.value_at < bytes) {
      return std::nullopt;
    }
    return entry;
  }
  return std::nullopt;
}

std::optional<uint32_t> TiffData::Unsigned(const TiffEntry& entry, uint32_t index) const {
  if (index >= entry.count) return std::nullopt;
  uint32_t v = 0;
  switch (entry.type) {
    case kTiffByte:
      return static_cast<uint8_t>(data_[entry.value_at + index]);
    case kTiffShort:
      if (!U16(entry.value_at + uint64_t{index} * 2, &v)) return std::nullopt;
      return v;
    case kTiffLong:
    case kTiffIfd:
      if (!U32(entry.value_at + uint64_t{index} * 4, &v)) return std::nullopt;
      return v;
    default:
      return std::nullopt;
  }
}

std::optional<double> TiffData::Number(const TiffEntry& entry) const {
  if (entry.type != kTiffRational) {
    const std::optional<uint32_t> v = Unsigned(entry);
    return v ? std::optional<double>(*v) : std::nullopt;
  }
  uint32_t numerator = 0, denominator = 0;
  if (!U32(entry.value_at, &numerator) || !U32(entry.value_at + 4, &denominator) ||
      denominator == 0) {
    return std::nullopt;
  }
  return static_cast<double>(numerator) / denominator;
}

std::optional<std::string> TiffData::Ascii(const TiffEntry& entry) const {
  if (entry.type != kTiffAscii) return std::nullopt;
  std::string_view text = data_.substr(entry.value_at, entry.count);
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  return std::string(text);
}

std::optional<uint32_t> TiffData::UnsignedTag(uint64_t directory, uint16_t tag) const {
  const std::optional<TiffEntry> entry = Find(directory, tag);
  return entry ? Unsigned(*entry) : std::nullopt;
}

std::optional<double> TiffData::NumberTag(uint64_t directory, uint16_t tag) const {
  const std::optional<TiffEntry> entry = Find(directory, tag);
  return entry ? Number(*entry) : std::nullopt;
}

}  // namespace vantrel
