#include "metadata/iim_charset.h"

#include <algorithm>

#include "metadata/iim_codec.h"
#include "metadata/photoshop_resources.h"

namespace vantrel {
namespace {

constexpr int kEnvelopeRecord = 1;
constexpr int kDatasetCharset = 90;

bool HasHighByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The bytes the characters were before a wrong Latin-1 / Windows-1252 read,
// or false when a character is neither.
bool BackToBytes(const std::u32string& chars, std::string* bytes) {
  static const CodePage windows1252 = CodePage::BuiltInWindows1252();
  bytes->clear();
  for (char32_t c : chars) {
    unsigned char b = 0;
    if (c <= 0xFF) {
      b = static_cast<unsigned char>(c);
    } else if (!windows1252.FromUnicode(c, &b)) {
      return false;
    }
    bytes->push_back(static_cast<char>(b));
  }
  return true;
}

// Decodes UTF-8 and undoes up to two further encodings.
bool DecodeRepaired(std::string_view value, std::u32string* chars) {
  if (!DecodeUtf8Strict(value, chars)) return false;
  std::string bytes;
  for (int round = 0; round < 2; ++round) {
    std::u32string again;
    if (!BackToBytes(*chars, &bytes) || !HasHighByte(bytes) || !DecodeUtf8Strict(bytes, &again)) {
      break;
    }
    *chars = std::move(again);
  }
  return true;
}

std::string FromChars(const std::u32string& chars, const CodePage& code_page) {
  std::string utf8;
  for (char32_t c : chars) AppendUtf8(c, &utf8);
  return code_page.FromUtf8(utf8);
}

}  // namespace

bool DecodeUtf8Strict(std::string_view s, std::u32string* out) {
  out->clear();
  size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      out->push_back(b0);
      ++i;
      continue;
    }
    size_t n;
    char32_t c, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      n = 1, c = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      n = 2, c = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      n = 3, c = b0 & 0x07, min = 0x10000;
    } else {
      return false;  // a continuation byte, C0/C1 (overlong) or F5..FF
    }
    if (s.size() - i <= n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    out->push_back(c);
    i += n + 1;
  }
  return true;
}

IimCharset DeclaredIimCharset(std::string_view iim) {
  for (const IimDataset& ds : WalkDatasets(iim)) {
    if (ds.record == kIimApplicationRecord) break;
    if (ds.record != kEnvelopeRecord || ds.dataset != kDatasetCharset) continue;
    const std::string_view v = ds.value;
    if (v == "\x1b%G") return IimCharset::kUtf8;
    if (v == "\x1b.A" || v == "\x1b-A") return IimCharset::kLatin1;
    return IimCharset::kOther;
  }
  return IimCharset::kUndeclared;
}

IimCharset DeclaredResourceCharset(std::string_view resources) {
  for (const PhotoshopResource& r : WalkResources(resources)) {
    if (r.id != kResourceIptc) continue;
    size_t marker = r.data.find(static_cast<char>(kIimTagMarker));
    return marker == std::string_view::npos ? IimCharset::kUndeclared
                                            : DeclaredIimCharset(r.data.substr(marker));
  }
  return IimCharset::kUndeclared;
}

std::string ConvertIimValue(std::string_view value, IimCharset charset, const CodePage& code_page) {
  if (charset == IimCharset::kOther || !HasHighByte(value)) return std::string(value);
  std::u32string chars;
  if (charset == IimCharset::kLatin1) {
    for (char c : value) chars.push_back(static_cast<unsigned char>(c));
    return FromChars(chars, code_page);
  }
  // Declared or not, only valid UTF-8 is read as UTF-8; without a
  // declaration a value with a high byte is multi-byte when it is valid.
  if (!DecodeRepaired(value, &chars)) return std::string(value);
  return FromChars(chars, code_page);
}

void ConvertIimCharset(CaptionRecord& record, IimCharset charset, const CodePage& code_page) {
  if (charset == IimCharset::kOther || !HasHighByte(record.iptc)) return;
  std::string block;
  size_t end = 0;
  for (const IimDataset& ds : WalkDatasets(record.iptc)) {
    const std::string value = ConvertIimValue(ds.value, charset, code_page);
    if (value == ds.value) {
      block.append(record.iptc, ds.offset, ds.header_size + ds.value.size());
    } else {
      block += EncodeDataset(ds.record, ds.dataset, value);
    }
    end = ds.offset + ds.header_size + ds.value.size();
  }
  block.append(record.iptc, std::min(end, record.iptc.size()), std::string::npos);
  record.iptc = std::move(block);
}

}  // namespace vantrel
