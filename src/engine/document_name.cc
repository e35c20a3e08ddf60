#include "engine/document_name.h"

namespace vantrel {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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
  for (int i = 0; i < 4; ++i) {
    int hi = HexValue(name[2 * i]);
    int lo = HexValue(name[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.time_stamp |= static_cast<uint32_t>(hi * 16 + lo) << (8 * i);
  }
  out.file_key = name.substr(kDocumentNameKeyOffset);
  return out;
}

}  // namespace vantrel
