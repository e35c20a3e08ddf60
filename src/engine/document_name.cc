#include "engine/document_name.h"

#include <cstdint>

#include "platform/byte_order.h"

namespace vantrel {
namespace {

constexpr uint64_t EveryByte(uint8_t b) { return 0x0101010101010101ull * b; }

// The high bit of each byte of `w` that is at least `bound`, for bytes below
// 0x80 (each sum stays within its byte).
uint64_t AtLeast(uint64_t w, uint8_t bound) {
  return (w + EveryByte(static_cast<uint8_t>(0x80 - bound))) & EveryByte(0x80);
}

// The stamp of a name's eight digits, decoded side by side: stamps are
// spread over all digits and letters, so that a test per character would
// guess wrong on half of them. False when one is not a hexadecimal digit.
// `digits` holds at least eight bytes.
bool DecodeStampDigits(std::string_view digits, uint32_t* stamp) {
  const uint64_t w = LoadLe64(digits, 0);
  const uint64_t folded = w | EveryByte(0x20);  // 'A' to 'F' as 'a' to 'f'
  const uint64_t digit = AtLeast(w, '0') & ~AtLeast(w, '9' + 1);
  const uint64_t letter = AtLeast(folded, 'a') & ~AtLeast(folded, 'f' + 1);
  if ((w & EveryByte(0x80)) != 0 || (digit | letter) != EveryByte(0x80)) return false;
  // Letters have bit 6 set: their low four bits plus 9 are their values.
  const uint64_t nibbles = (w & EveryByte(0x0F)) + ((w >> 6) & EveryByte(0x01)) * 9;
  // Each pair of digits (high first) into the low byte of its 16 bits,
  // then the four bytes together.
  uint64_t bytes =
      ((nibbles & 0x00FF00FF00FF00FFull) << 4) | ((nibbles >> 8) & 0x00FF00FF00FF00FFull);
  bytes = (bytes | (bytes >> 8)) & 0x0000FFFF0000FFFFull;
  *stamp = static_cast<uint32_t>(bytes | (bytes >> 16));
  return true;
}

}  // namespace

std::string FormatDocumentName(uint32_t time_stamp, std::string_view file_key) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string name;
  name.reserve(kDocumentNameKeyOffset + file_key.size());
  for (int i = 0; i < 4; ++i) {
    unsigned byte = (time_stamp >> (8 * i)) & 0xFF;
    name.push_back(kDigits[byte >> 4]);
    name.push_back(kDigits[byte & 0xF]);
  }
  name.push_back(' ');
  name.append(file_key);
  return name;
}

std::optional<DecodedDocumentName> DecodeDocumentName(std::string_view name) {
  if (name.size() < kDocumentNameKeyOffset || name[kDocumentNameKeyOffset - 1] != ' ') {
    return std::nullopt;
  }
  DecodedDocumentName out;
  if (!DecodeStampDigits(name, &out.time_stamp)) return std::nullopt;
  out.file_key = name.substr(kDocumentNameKeyOffset);
  return out;
}

}  // namespace vantrel
