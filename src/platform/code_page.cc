#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace {

constexpr char32_t kBad = 0xFFFFFFFF;  // an undecodable input unit

// Windows-1252 bytes 0x80-0x9F; 0 marks the five undefined bytes.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Canonical compositions of a Latin base letter and one combining mark
// (grave, acute, circumflex, tilde, diaeresis, ring above, cedilla, caron),
// sorted by (base, mark).
struct Composition {
  char32_t base;
  char32_t mark;
  char32_t composed;
};
constexpr Composition kCompositions[] = {
    {0x0041, 0x0300, 0x00C0},
    {0x0041, 0x0301, 0x00C1},
    {0x0041, 0x0302, 0x00C2},
    {0x0041, 0x0303, 0x00C3},
    {0x0041, 0x0308, 0x00C4},
    {0x0041, 0x030A, 0x00C5},
    {0x0041, 0x030C, 0x01CD},
    {0x0043, 0x0301, 0x0106},
    {0x0043, 0x0302, 0x0108},
    {0x0043, 0x030C, 0x010C},
    {0x0043, 0x0327, 0x00C7},
    {0x0044, 0x030C, 0x010E},
    {0x0044, 0x0327, 0x1E10},
    {0x0045, 0x0300, 0x00C8},
    {0x0045, 0x0301, 0x00C9},
    {0x0045, 0x0302, 0x00CA},
    {0x0045, 0x0303, 0x1EBC},
    {0x0045, 0x0308, 0x00CB},
    {0x0045, 0x030C, 0x011A},
    {0x0045, 0x0327, 0x0228},
    {0x0047, 0x0301, 0x01F4},
    {0x0047, 0x0302, 0x011C},
    {0x0047, 0x030C, 0x01E6},
    {0x0047, 0x0327, 0x0122},
    {0x0048, 0x0302, 0x0124},
    {0x0048, 0x0308, 0x1E26},
    {0x0048, 0x030C, 0x021E},
    {0x0048, 0x0327, 0x1E28},
    {0x0049, 0x0300, 0x00CC},
    {0x0049, 0x0301, 0x00CD},
    {0x0049, 0x0302, 0x00CE},
    {0x0049, 0x0303, 0x0128},
    {0x0049, 0x0308, 0x00CF},
    {0x0049, 0x030C, 0x01CF},
    {0x004A, 0x0302, 0x0134},
    {0x004B, 0x0301, 0x1E30},
    {0x004B, 0x030C, 0x01E8},
    {0x004B, 0x0327, 0x0136},
    {0x004C, 0x0301, 0x0139},
    {0x004C, 0x030C, 0x013D},
    {0x004C, 0x0327, 0x013B},
    {0x004D, 0x0301, 0x1E3E},
    {0x004E, 0x0300, 0x01F8},
    {0x004E, 0x0301, 0x0143},
    {0x004E, 0x0303, 0x00D1},
    {0x004E, 0x030C, 0x0147},
    {0x004E, 0x0327, 0x0145},
    {0x004F, 0x0300, 0x00D2},
    {0x004F, 0x0301, 0x00D3},
    {0x004F, 0x0302, 0x00D4},
    {0x004F, 0x0303, 0x00D5},
    {0x004F, 0x0308, 0x00D6},
    {0x004F, 0x030C, 0x01D1},
    {0x0050, 0x0301, 0x1E54},
    {0x0052, 0x0301, 0x0154},
    {0x0052, 0x030C, 0x0158},
    {0x0052, 0x0327, 0x0156},
    {0x0053, 0x0301, 0x015A},
    {0x0053, 0x0302, 0x015C},
    {0x0053, 0x030C, 0x0160},
    {0x0053, 0x0327, 0x015E},
    {0x0054, 0x030C, 0x0164},
    {0x0054, 0x0327, 0x0162},
    {0x0055, 0x0300, 0x00D9},
    {0x0055, 0x0301, 0x00DA},
    {0x0055, 0x0302, 0x00DB},
    {0x0055, 0x0303, 0x0168},
    {0x0055, 0x0308, 0x00DC},
    {0x0055, 0x030A, 0x016E},
    {0x0055, 0x030C, 0x01D3},
    {0x0056, 0x0303, 0x1E7C},
    {0x0057, 0x0300, 0x1E80},
    {0x0057, 0x0301, 0x1E82},
    {0x0057, 0x0302, 0x0174},
    {0x0057, 0x0308, 0x1E84},
    {0x0058, 0x0308, 0x1E8C},
    {0x0059, 0x0300, 0x1EF2},
    {0x0059, 0x0301, 0x00DD},
    {0x0059, 0x0302, 0x0176},
    {0x0059, 0x0303, 0x1EF8},
    {0x0059, 0x0308, 0x0178},
    {0x005A, 0x0301, 0x0179},
    {0x005A, 0x0302, 0x1E90},
    {0x005A, 0x030C, 0x017D},
    {0x0061, 0x0300, 0x00E0},
    {0x0061, 0x0301, 0x00E1},
    {0x0061, 0x0302, 0x00E2},
    {0x0061, 0x0303, 0x00E3},
    {0x0061, 0x0308, 0x00E4},
    {0x0061, 0x030A, 0x00E5},
    {0x0061, 0x030C, 0x01CE},
    {0x0063, 0x0301, 0x0107},
    {0x0063, 0x0302, 0x0109},
    {0x0063, 0x030C, 0x010D},
    {0x0063, 0x0327, 0x00E7},
    {0x0064, 0x030C, 0x010F},
    {0x0064, 0x0327, 0x1E11},
    {0x0065, 0x0300, 0x00E8},
    {0x0065, 0x0301, 0x00E9},
    {0x0065, 0x0302, 0x00EA},
    {0x0065, 0x0303, 0x1EBD},
    {0x0065, 0x0308, 0x00EB},
    {0x0065, 0x030C, 0x011B},
    {0x0065, 0x0327, 0x0229},
    {0x0067, 0x0301, 0x01F5},
    {0x0067, 0x0302, 0x011D},
    {0x0067, 0x030C, 0x01E7},
    {0x0067, 0x0327, 0x0123},
    {0x0068, 0x0302, 0x0125},
    {0x0068, 0x0308, 0x1E27},
    {0x0068, 0x030C, 0x021F},
    {0x0068, 0x0327, 0x1E29},
    {0x0069, 0x0300, 0x00EC},
    {0x0069, 0x0301, 0x00ED},
    {0x0069, 0x0302, 0x00EE},
    {0x0069, 0x0303, 0x0129},
    {0x0069, 0x0308, 0x00EF},
    {0x0069, 0x030C, 0x01D0},
    {0x006A, 0x0302, 0x0135},
    {0x006A, 0x030C, 0x01F0},
    {0x006B, 0x0301, 0x1E31},
    {0x006B, 0x030C, 0x01E9},
    {0x006B, 0x0327, 0x0137},
    {0x006C, 0x0301, 0x013A},
    {0x006C, 0x030C, 0x013E},
    {0x006C, 0x0327, 0x013C},
    {0x006D, 0x0301, 0x1E3F},
    {0x006E, 0x0300, 0x01F9},
    {0x006E, 0x0301, 0x0144},
    {0x006E, 0x0303, 0x00F1},
    {0x006E, 0x030C, 0x0148},
    {0x006E, 0x0327, 0x0146},
    {0x006F, 0x0300, 0x00F2},
    {0x006F, 0x0301, 0x00F3},
    {0x006F, 0x0302, 0x00F4},
    {0x006F, 0x0303, 0x00F5},
    {0x006F, 0x0308, 0x00F6},
    {0x006F, 0x030C, 0x01D2},
    {0x0070, 0x0301, 0x1E55},
    {0x0072, 0x0301, 0x0155},
    {0x0072, 0x030C, 0x0159},
    {0x0072, 0x0327, 0x0157},
    {0x0073, 0x0301, 0x015B},
    {0x0073, 0x0302, 0x015D},
    {0x0073, 0x030C, 0x0161},
    {0x0073, 0x0327, 0x015F},
    {0x0074, 0x0308, 0x1E97},
    {0x0074, 0x030C, 0x0165},
    {0x0074, 0x0327, 0x0163},
    {0x0075, 0x0300, 0x00F9},
    {0x0075, 0x0301, 0x00FA},
    {0x0075, 0x0302, 0x00FB},
    {0x0075, 0x0303, 0x0169},
    {0x0075, 0x0308, 0x00FC},
    {0x0075, 0x030A, 0x016F},
    {0x0075, 0x030C, 0x01D4},
    {0x0076, 0x0303, 0x1E7D},
    {0x0077, 0x0300, 0x1E81},
    {0x0077, 0x0301, 0x1E83},
    {0x0077, 0x0302, 0x0175},
    {0x0077, 0x0308, 0x1E85},
    {0x0077, 0x030A, 0x1E98},
    {0x0078, 0x0308, 0x1E8D},
    {0x0079, 0x0300, 0x1EF3},
    {0x0079, 0x0301, 0x00FD},
    {0x0079, 0x0302, 0x0177},
    {0x0079, 0x0303, 0x1EF9},
    {0x0079, 0x0308, 0x00FF},
    {0x0079, 0x030A, 0x1E99},
    {0x007A, 0x0301, 0x017A},
    {0x007A, 0x0302, 0x1E91},
    {0x007A, 0x030C, 0x017E},
    {0x00C2, 0x0300, 0x1EA6},
    {0x00C2, 0x0301, 0x1EA4},
    {0x00C2, 0x0303, 0x1EAA},
    {0x00C5, 0x0301, 0x01FA},
    {0x00C6, 0x0301, 0x01FC},
    {0x00C7, 0x0301, 0x1E08},
    {0x00CA, 0x0300, 0x1EC0},
    {0x00CA, 0x0301, 0x1EBE},
    {0x00CA, 0x0303, 0x1EC4},
    {0x00CF, 0x0301, 0x1E2E},
    {0x00D4, 0x0300, 0x1ED2},
    {0x00D4, 0x0301, 0x1ED0},
    {0x00D4, 0x0303, 0x1ED6},
    {0x00D5, 0x0301, 0x1E4C},
    {0x00D5, 0x0308, 0x1E4E},
    {0x00D8, 0x0301, 0x01FE},
    {0x00DC, 0x0300, 0x01DB},
    {0x00DC, 0x0301, 0x01D7},
    {0x00DC, 0x030C, 0x01D9},
    {0x00E2, 0x0300, 0x1EA7},
    {0x00E2, 0x0301, 0x1EA5},
    {0x00E2, 0x0303, 0x1EAB},
    {0x00E5, 0x0301, 0x01FB},
    {0x00E6, 0x0301, 0x01FD},
    {0x00E7, 0x0301, 0x1E09},
    {0x00EA, 0x0300, 0x1EC1},
    {0x00EA, 0x0301, 0x1EBF},
    {0x00EA, 0x0303, 0x1EC5},
    {0x00EF, 0x0301, 0x1E2F},
    {0x00F4, 0x0300, 0x1ED3},
    {0x00F4, 0x0301, 0x1ED1},
    {0x00F4, 0x0303, 0x1ED7},
    {0x00F5, 0x0301, 0x1E4D},
    {0x00F5, 0x0308, 0x1E4F},
    {0x00F8, 0x0301, 0x01FF},
    {0x00FC, 0x0300, 0x01DC},
    {0x00FC, 0x0301, 0x01D8},
    {0x00FC, 0x030C, 0x01DA},
    {0x0102, 0x0300, 0x1EB0},
    {0x0102, 0x0301, 0x1EAE},
    {0x0102, 0x0303, 0x1EB4},
    {0x0103, 0x0300, 0x1EB1},
    {0x0103, 0x0301, 0x1EAF},
    {0x0103, 0x0303, 0x1EB5},
    {0x0112, 0x0300, 0x1E14},
    {0x0112, 0x0301, 0x1E16},
    {0x0113, 0x0300, 0x1E15},
    {0x0113, 0x0301, 0x1E17},
    {0x014C, 0x0300, 0x1E50},
    {0x014C, 0x0301, 0x1E52},
    {0x014D, 0x0300, 0x1E51},
    {0x014D, 0x0301, 0x1E53},
    {0x0168, 0x0301, 0x1E78},
    {0x0169, 0x0301, 0x1E79},
    {0x016A, 0x0308, 0x1E7A},
    {0x016B, 0x0308, 0x1E7B},
    {0x01A0, 0x0300, 0x1EDC},
    {0x01A0, 0x0301, 0x1EDA},
    {0x01A0, 0x0303, 0x1EE0},
    {0x01A1, 0x0300, 0x1EDD},
    {0x01A1, 0x0301, 0x1EDB},
    {0x01A1, 0x0303, 0x1EE1},
    {0x01AF, 0x0300, 0x1EEA},
    {0x01AF, 0x0301, 0x1EE8},
    {0x01AF, 0x0303, 0x1EEE},
    {0x01B0, 0x0300, 0x1EEB},
    {0x01B0, 0x0301, 0x1EE9},
    {0x01B0, 0x0303, 0x1EEF},
    {0x01B7, 0x030C, 0x01EE},
};

bool IsCombiningMark(char32_t c) {
  switch (c) {
    case 0x0300: case 0x0301: case 0x0302: case 0x0303:
    case 0x0308: case 0x030A: case 0x0327: case 0x030C:
      return true;
    default:
      return false;
  }
}

char32_t Compose(char32_t base, char32_t mark) {
  const Composition* end = std::end(kCompositions);
  const Composition* it = std::lower_bound(
      std::begin(kCompositions), end, std::make_pair(base, mark),
      [](const Composition& c, const std::pair<char32_t, char32_t>& key) {
        return c.base != key.first ? c.base < key.first : c.mark < key.second;
      });
  if (it != end && it->base == base && it->mark == mark) return it->composed;
  return 0;
}

// The character a Mac private-use character stands for, as a code-page byte;
// -1 when `c` is not one of them.
int MacPrivateUseByte(char32_t c) {
  static constexpr unsigned char kBytes[] = {'"', '*', '/', '<', '>', '?',
                                             '\\', '|', ' ', '.', 240};
  if (c >= 0xF020 && c <= 0xF02A) return kBytes[c - 0xF020];
  return -1;
}


// Decodes UTF-8 strictly (no overlong forms, no surrogates, nothing above
// U+10FFFF); every byte that does not start a valid sequence gives kBad.
std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int len = 0;
    char32_t c = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2, c = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3, c = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4, c = b0 & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      if ((b & 0xC0) != 0x80) {
        ok = false;
      } else {
        c = (c << 6) | (b & 0x3F);
      }
    }
    if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
    if (!ok) {
      out.push_back(kBad);
      ++i;
      continue;
    }
    out.push_back(c);
    i += static_cast<size_t>(len);
  }
  return out;
}

std::u32string DecodeUtf16(std::u16string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) +
                    (static_cast<char32_t>(s[i + 1]) - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out.push_back(kBad);
    } else {
      out.push_back(u);
    }
  }
  return out;
}

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Decodes one byte of `charset` with iconv. Returns the character, 0 for a
// byte the charset leaves undefined, or kBad when the byte is only the start
// of a longer sequence (a multi-byte charset).
char32_t DecodeByte(iconv_t cd, unsigned char byte) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
  char in[1] = {static_cast<char>(byte)};
  char out[16];
  char* in_ptr = in;
  size_t in_left = 1;
  char* out_ptr = out;
  size_t out_left = sizeof(out);
  size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  if (r == static_cast<size_t>(-1)) return errno == EINVAL ? kBad : 0;
  // Flush any pending output.
  iconv(cd, nullptr, nullptr, &out_ptr, &out_left);
  const size_t produced = sizeof(out) - out_left;
  if (produced != 4) return produced == 0 ? kBad : 0;
  char32_t c;
  std::memcpy(&c, out, 4);  // UTF-32 in the machine's byte order
  return c;
}

}  // namespace

void AppendUtf8(char32_t c, std::string* out) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void CodePage::BuildReverse() {
  from_unicode_.clear();
  for (int b = 0; b < 256; ++b) {
    to_utf8_[b].clear();
    AppendUtf8(to_unicode_[b], &to_utf8_[b]);
    if (to_unicode_[b] >= 0x80) {
      from_unicode_.emplace_back(to_unicode_[b], static_cast<unsigned char>(b));
    }
  }
  // Sort by character; when two bytes share one, the lower byte wins.
  std::stable_sort(from_unicode_.begin(), from_unicode_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  from_unicode_.erase(std::unique(from_unicode_.begin(), from_unicode_.end(),
                                  [](const auto& a, const auto& b) { return a.first == b.first; }),
                      from_unicode_.end());
}

CodePage CodePage::BuiltInWindows1252() {
  CodePage cp;
  cp.name_ = "WINDOWS-1252";
  for (int b = 0; b < 256; ++b) cp.to_unicode_[b] = static_cast<char32_t>(b);
  for (int b = 0x80; b < 0xA0; ++b) {
    if (kWindows1252High[b - 0x80] != 0) cp.to_unicode_[b] = kWindows1252High[b - 0x80];
  }
  cp.BuildReverse();
  return cp;
}

StatusOr<CodePage> CodePage::Create(const std::string& charset) {
  const char* kUtf32 = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";
  iconv_t cd = iconv_open(kUtf32, charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    return Status::InvalidArgument("unknown code page: " + charset);
  }
  CodePage cp;
  cp.name_ = charset;
  Status status;
  for (int b = 0; b < 256 && status.ok(); ++b) {
    char32_t c = DecodeByte(cd, static_cast<unsigned char>(b));
    if (c == kBad) {
      status = Status::InvalidArgument("not a single-byte code page: " + charset);
    } else if (b < 0x80 && c != static_cast<char32_t>(b)) {
      status = Status::InvalidArgument("code page does not keep ASCII: " + charset);
    } else {
      // An undefined byte stands for the Unicode character of the same value.
      cp.to_unicode_[b] = (c == 0 && b != 0) ? static_cast<char32_t>(b) : c;
    }
  }
  iconv_close(cd);
  if (!status.ok()) return status;
  cp.BuildReverse();
  return cp;
}

const CodePage& CodePage::Default() {
  static const CodePage* const instance = [] {
    const char* env = std::getenv("VANTREL_CODEPAGE");
    std::string wanted = (env != nullptr && env[0] != '\0') ? env : "WINDOWS-1252";
    auto cp = Create(wanted);
    if (cp.ok()) return new CodePage(std::move(cp).value());
    std::fprintf(stderr, "vantrel: %s; using Windows-1252\n", cp.status().message().c_str());
    auto fallback = Create("WINDOWS-1252");
    if (fallback.ok()) return new CodePage(std::move(fallback).value());
    return new CodePage(BuiltInWindows1252());
  }();
  return *instance;
}

bool CodePage::FromUnicode(char32_t c, unsigned char* byte) const {
  if (c < 0x80) {
    *byte = static_cast<unsigned char>(c);
    return true;
  }
  auto it = std::lower_bound(from_unicode_.begin(), from_unicode_.end(), c,
                             [](const auto& entry, char32_t key) { return entry.first < key; });
  if (it == from_unicode_.end() || it->first != c) return false;
  *byte = it->second;
  return true;
}

void CodePage::Encode(const std::u32string& cps, std::string* out, bool* lossy) const {
  bool changed = false;
  for (size_t i = 0; i < cps.size(); ++i) {
    char32_t c = cps[i];
    // Compose a base letter with the marks that follow it.
    while (c != kBad && i + 1 < cps.size() && IsCombiningMark(cps[i + 1])) {
      char32_t composed = Compose(c, cps[i + 1]);
      if (composed == 0) break;
      c = composed;
      ++i;
      changed = true;
    }
    unsigned char byte;
    if (c == kBad) {
      out->push_back('?');
      changed = true;
    } else if (int mac = MacPrivateUseByte(c); mac >= 0) {
      out->push_back(static_cast<char>(mac));
      changed = true;
    } else if (FromUnicode(c, &byte)) {
      out->push_back(static_cast<char>(byte));
    } else {
      out->push_back('?');
      changed = true;
    }
  }
  if (lossy != nullptr) *lossy = changed;
}

std::string CodePage::FromUtf8(std::string_view utf8, bool* lossy) const {
  if (IsAscii(utf8)) {
    if (lossy != nullptr) *lossy = false;
    return std::string(utf8);
  }
  std::string out;
  out.reserve(utf8.size());
  Encode(DecodeUtf8(utf8), &out, lossy);
  return out;
}

std::string CodePage::FromUtf16(std::u16string_view utf16, bool* lossy) const {
  std::string out;
  out.reserve(utf16.size());
  Encode(DecodeUtf16(utf16), &out, lossy);
  return out;
}

std::string CodePage::ToUtf8(std::string_view text) const {
  if (IsAscii(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) out += to_utf8_[static_cast<unsigned char>(c)];
  return out;
}

std::u16string CodePage::ToUtf16(std::string_view text) const {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    char32_t c = to_unicode_[static_cast<unsigned char>(ch)];
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return out;
}

}  // namespace vantrel
