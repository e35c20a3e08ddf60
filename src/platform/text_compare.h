// Case-insensitive comparison of single-byte code-page text.
//
// Names are compared case-folded: ASCII letters and the letters of
// Windows-1252 that have a case partner (A-Z, À-Þ except ×, Š, Œ, Ž, Ÿ and
// their small forms) fold to their small form. When two texts are equal
// after folding, their plain bytes decide (unsigned), so the order is total:
// only byte-identical texts compare equal, and binary searches over sorted
// lists find exactly one place for each name. The folding is fixed (it does
// not follow the configured code page), because lists on disk are sorted with
// it and must stay sorted across restarts.
//
// Thread safety: pure functions over a constant table; no allocation.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vantrel {

namespace text_compare_detail {

struct CaseTables {
  std::array<unsigned char, 256> lower;
  std::array<unsigned char, 256> upper;
};

constexpr CaseTables MakeCaseTables() {
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

inline constexpr CaseTables kCaseTables = MakeCaseTables();

}  // namespace text_compare_detail

// <0, 0 or >0 as `a` sorts before, equal to or after `b`: by folded bytes,
// a shorter text before a longer one that it begins, then by plain bytes.
int CompareNoCase(std::string_view a, std::string_view b);

// True when `a` and `b` are equal after folding (not a total order: "A" and
// "a" are equal here, though CompareNoCase tells them apart).
bool EqualsNoCase(std::string_view a, std::string_view b);

// True when `text` begins with `prefix`, compared after folding.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// The capital / small partner of a code-page character, or the character
// itself when it has none. Inline: list look-ups fold names byte by byte.
inline char ToUpperCp(char c) {
  return static_cast<char>(text_compare_detail::kCaseTables.upper[static_cast<unsigned char>(c)]);
}
inline char ToLowerCp(char c) {
  return static_cast<char>(text_compare_detail::kCaseTables.lower[static_cast<unsigned char>(c)]);
}

// Eight bytes from `p`, each folded as ToLowerCp folds it, as one number
// whose first byte is the most significant: numbers so made order as the
// folded bytes do. Names are mostly ASCII, folded here eight bytes at once;
// other bytes go through the table.
inline uint64_t FoldedWord(const char* p) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if ((w & kHighBits) == 0) {
    // Every byte below 0x80, so no sum below carries into the next byte:
    // the high bit says "at least 'A'" in the first, "beyond 'Z'" in the
    // second; capitals gain 0x20.
    const uint64_t from_a = w + kOnes * (0x80 - 'A');
    const uint64_t beyond_z = w + kOnes * (0x80 - 'Z' - 1);
    w |= (from_a & ~beyond_z & kHighBits) >> 2;
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
  }
  uint64_t folded = 0;
  for (int i = 0; i < 8; ++i) folded = folded << 8 | static_cast<unsigned char>(ToLowerCp(p[i]));
  return folded;
}

// For std::sort, std::map and friends.
struct LessNoCase {
  bool operator()(std::string_view a, std::string_view b) const {
    return CompareNoCase(a, b) < 0;
  }
};

}  // namespace vantrel
