// Photoshop image resources ("8BIM" blocks) and the JPEG APP13 segment that
// carries them.
//
// Image resource (numbers big-endian):
//
//   offset  size  content
//   0       4     signature "8BIM"
//   4       2     resource identifier (0x0404: an IPTC-NAA block)
//   6       2+    name, a Pascal string padded to even length (00 00 when empty)
//   ...     4     size of the resource data
//   ...     size  data, followed by one zero byte when the size is odd
//
// Resources are stored back to back. JPEG APP13 segment: FF ED, a two-byte
// segment length that counts itself, an identifier, then resource bytes:
//   "Photoshop 3.0" NUL          14 header bytes before the resources
//   "Adobe_Photoshop2.5:" NUL    27 header bytes before the resources
//
// Thread safety: pure functions over byte spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

inline constexpr std::string_view kResourceSignature = "8BIM";
inline constexpr size_t kResourceHeaderMin = 12;  // with an empty name
inline constexpr uint16_t kResourceIptc = 0x0404;
// Writers have stored IPTC resources whose size field falls a few bytes short
// of the datasets it holds; the caption is taken up to this many bytes past
// the stated size (never past the collected resource bytes).
inline constexpr size_t kIptcResourceSlack = 5;

inline constexpr std::string_view kApp13Photoshop3("Photoshop 3.0\0", 14);
inline constexpr size_t kApp13Photoshop3Skip = 14;
inline constexpr std::string_view kApp13Photoshop25("Adobe_Photoshop2.5:\0", 20);
inline constexpr size_t kApp13Photoshop25Skip = 27;

// One resource as the back-to-back walk sees it; views point into the block.
struct PhotoshopResource {
  size_t offset = 0;  // of the signature
  uint16_t id = 0;
  std::string_view name;
  uint32_t declared_size = 0;
  std::string_view data;  // cut at the block end
};

// Walks resources back to back from offset 0; ends at the first position that
// does not hold "8BIM" or whose header does not fit.
std::vector<PhotoshopResource> WalkResources(std::string_view block);

// Offset of the first "8BIM" signature followed by identifier `id`, found by
// searching the bytes (not by walking), or npos.
size_t FindResourceSignature(std::string_view block, uint16_t id);

// Encodes one resource with an empty name; the size field holds the data
// size, and one zero byte pads odd data.
std::string EncodeResource(uint16_t id, std::string_view data);

}  // namespace vantrel
