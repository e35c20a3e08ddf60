#include "platform/text_compare.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace vantrel {
namespace {

struct CaseTables {
  std::array<unsigned char, 256> lower;
  std::array<unsigned char, 256> upper;
};

constexpr CaseTables MakeTables() {
  CaseTables t{};
  for (int i = 0; i < 256; ++i) {
    t.lower[i] = static_cast<unsigned char>(i);
    t.upper[i] = static_cast<unsigned char>(i);
  }
  auto pair = [&t](int capital, int small) {
    t.lower[capital] = static_cast<unsigned char>(small);
    t.upper[small] = static_cast<unsigned char>(capital);
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  pair(0x8A, 0x9A);  // Š š
  pair(0x8C, 0x9C);  // Œ œ
  pair(0x8E, 0x9E);  // Ž ž
  pair(0x9F, 0xFF);  // Ÿ ÿ
  for (int c = 0xC0; c <= 0xDE; ++c) {
    if (c != 0xD7) pair(c, c + 32);  // À-Þ, à-þ; × and ÷ are not letters
  }
  return t;
}

constexpr CaseTables kTables = MakeTables();

inline unsigned char Fold(char c) { return kTables.lower[static_cast<unsigned char>(c)]; }

}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  int tie = 0;  // first plain-byte difference, used when the folded texts are equal
  size_t i = 0;
  // Skip the identical start eight bytes at a time: neighbours in a sorted
  // list share long prefixes.
  for (; i + 8 <= n; i += 8) {
    uint64_t wa, wb;
    std::memcpy(&wa, a.data() + i, 8);
    std::memcpy(&wb, b.data() + i, 8);
    if (wa != wb) break;
  }
  for (; i < n; ++i) {
    const unsigned char ca = static_cast<unsigned char>(a[i]);
    const unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca == cb) continue;
    const unsigned char fa = kTables.lower[ca];
    const unsigned char fb = kTables.lower[cb];
    if (fa != fb) return fa < fb ? -1 : 1;
    if (tie == 0) tie = ca < cb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return tie;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

char ToUpperCp(char c) { return static_cast<char>(kTables.upper[static_cast<unsigned char>(c)]); }

char ToLowerCp(char c) { return static_cast<char>(kTables.lower[static_cast<unsigned char>(c)]); }

}  // namespace vantrel
