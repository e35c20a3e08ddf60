// Fixed-width integers in byte strings read from files.
//
// Thread safety: pure functions.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace vantrel {

// The little-endian u32 at `offset`; the caller has checked that four bytes
// are there.
inline uint32_t LoadLe32(std::string_view bytes, size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The little-endian u64 at `offset` (one load where the machine is
// little-endian); the caller has checked that eight bytes are there.
inline uint64_t LoadLe64(std::string_view bytes, size_t offset) {
  uint64_t w;
  std::memcpy(&w, bytes.data() + offset, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

}  // namespace vantrel
