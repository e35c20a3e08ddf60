#include "platform/text_compare.h"

#include <cstdint>
#include <cstring>

namespace vantrel {
namespace {

constexpr const text_compare_detail::CaseTables& kTables = text_compare_detail::kCaseTables;

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

}  // namespace vantrel
