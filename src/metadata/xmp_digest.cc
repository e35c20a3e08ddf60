#include "metadata/xmp_digest.h"

#include <cstring>
#include <string>

#include "metadata/photoshop_resources.h"

namespace vantrel {
namespace {

constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613,
    0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193,
    0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d,
    0x02441453, 0xd8a1e681, 0xe7d3fbc8, 0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed,
    0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122,
    0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665, 0xf4292244,
    0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb,
    0xeb86d391};

uint32_t Rotl(uint32_t x, uint32_t c) { return (x << c) | (x >> (32 - c)); }

void Block(uint32_t h[4], const uint8_t* p) {
  uint32_t m[16];
  for (int i = 0; i < 16; ++i) {
    m[i] = uint32_t{p[i * 4]} | (uint32_t{p[i * 4 + 1]} << 8) | (uint32_t{p[i * 4 + 2]} << 16) |
           (uint32_t{p[i * 4 + 3]} << 24);
  }
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
  for (uint32_t i = 0; i < 64; ++i) {
    uint32_t f, g;
    if (i < 16) {
      f = (b & c) | (~b & d);
      g = i;
    } else if (i < 32) {
      f = (d & b) | (~d & c);
      g = (5 * i + 1) % 16;
    } else if (i < 48) {
      f = b ^ c ^ d;
      g = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d);
      g = (7 * i) % 16;
    }
    uint32_t next = d;
    d = c;
    c = b;
    b = b + Rotl(a + f + kSine[i] + m[g], kShift[i]);
    a = next;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
}

}  // namespace

std::array<uint8_t, 16> Md5(std::string_view bytes) {
  uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t n = bytes.size();
  size_t whole = n - n % 64;
  for (size_t i = 0; i < whole; i += 64) Block(h, p + i);
  uint8_t tail[128] = {};
  size_t rest = n - whole;
  if (rest > 0) std::memcpy(tail, p + whole, rest);
  tail[rest] = 0x80;
  size_t tail_size = rest + 9 <= 64 ? 64 : 128;
  uint64_t bits = uint64_t{n} * 8;
  for (int i = 0; i < 8; ++i) tail[tail_size - 8 + i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t i = 0; i < tail_size; i += 64) Block(h, tail + i);
  std::array<uint8_t, 16> out{};
  for (int i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(h[i / 4] >> (8 * (i % 4)));
  return out;
}

bool IptcDigestMatches(std::string_view resources) {
  std::string_view iptc, digest;
  bool have_iptc = false;
  for (const PhotoshopResource& r : WalkResources(resources)) {
    if (r.id == kResourceIptc && !have_iptc) {
      // Only the declared size counts: the data is cut at the block end.
      if (r.data.size() != r.declared_size) return false;
      iptc = r.data;
      have_iptc = true;
    }
    if (r.id == kResourceIptcDigest && digest.empty()) digest = r.data;
  }
  if (!have_iptc || digest.size() != 16) return false;
  const std::array<uint8_t, 16> md5 = Md5(iptc);
  return std::memcmp(md5.data(), digest.data(), 16) == 0;
}

}  // namespace vantrel
