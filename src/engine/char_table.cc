#include "engine/char_table.h"

#include <xapian.h>

#include "platform/code_page.h"

namespace vantrel {
namespace {

// Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined ones.
constexpr char32_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::array<char32_t, 256> Cp1252CodePoints() {
  std::array<char32_t, 256> cps{};
  for (int b = 0; b < 256; ++b) {
    cps[b] = (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char32_t>(b);
  }
  return cps;
}

bool IsLetterOrDigit(char32_t cp) {
  switch (Xapian::Unicode::get_category(static_cast<unsigned>(cp))) {
    case Xapian::Unicode::UPPERCASE_LETTER:
    case Xapian::Unicode::LOWERCASE_LETTER:
    case Xapian::Unicode::TITLECASE_LETTER:
    case Xapian::Unicode::MODIFIER_LETTER:
    case Xapian::Unicode::OTHER_LETTER:
    case Xapian::Unicode::DECIMAL_DIGIT_NUMBER:
      return true;
    default:
      return false;
  }
}

// Decodes exactly one UTF-8 character; 0 when `s` is not exactly one.
char32_t DecodeSingle(std::string_view s) {
  if (s.empty()) return 0;
  unsigned char c = static_cast<unsigned char>(s[0]);
  size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (len == 0 || len != s.size()) return 0;
  char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t i = 1; i < len; ++i) {
    unsigned char d = static_cast<unsigned char>(s[i]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  return cp;
}

}  // namespace

CharTable::CharTable() : CharTable(Cp1252CodePoints()) {}

CharTable::CharTable(const std::array<char32_t, 256>& code_points) {
  for (int b = 0; b < 256; ++b) {
    char32_t cp = code_points[b];
    if (cp == 0 || !IsLetterOrDigit(cp)) continue;
    word_[b] = true;
    AppendUtf8(static_cast<char32_t>(Xapian::Unicode::tolower(static_cast<unsigned>(cp))),
               &folded_[b]);
  }
}

CharTable CharTable::FromConverter(const std::function<std::string(std::string_view)>& to_utf8) {
  std::array<char32_t, 256> cps{};
  for (int b = 1; b < 256; ++b) {
    char c = static_cast<char>(b);
    cps[b] = DecodeSingle(to_utf8(std::string_view(&c, 1)));
  }
  return CharTable(cps);
}

const CharTable& CharTable::Default() {
  static const CharTable* table = [] {
    const CodePage& page = CodePage::Default();
    std::array<char32_t, 256> cps{};
    for (int b = 0; b < 256; ++b) cps[b] = page.ToUnicode(static_cast<unsigned char>(b));
    return new CharTable(cps);
  }();
  return *table;
}

void CharTable::AppendFolded(std::string_view text, std::string* out) const {
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (word_[c]) out->append(folded_[c]);
  }
}

}  // namespace vantrel
