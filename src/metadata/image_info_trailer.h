// The image-info trailer: a chain of blocks at the end of an image file.
//
// Each block is its data followed by a 10-byte footer (big-endian):
//
//   offset  size  content
//   0       2     tag (1 IPTC-NAA data, 2 image-info block, others)
//   2       4     length: data length + 10
//   6       4     magic A1 B2 C3 D4
//
// The last footer ends at the end of the file; the footer of the block before
// lies right before the data of the block after it, so the chain is walked
// backward from the end. Files without footers may carry IPTC data through two
// "AXS!" markers: the end marker within the last 34 bytes, followed by the
// absolute offset of the start marker; behind the start marker, within 200
// bytes, "IPTC", the data length and its absolute offset (u32 big-endian).
//
// The reader looks at a window of the last N bytes of the file (3000 for tags
// 1, 2 and 6, 20000 for tag 3, 40000 for tag 4) and grows it when a block
// reaches beyond it.
//
// Thread safety: pure functions, plus ReadImageInfoTrailer, which reads
// through the caller's range reader; one TrailerWindow per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace vantrel {

inline constexpr uint16_t kTrailerTagIptc = 1;
inline constexpr uint16_t kTrailerTagImageInfo = 2;
inline constexpr size_t kTrailerFooterSize = 10;
inline constexpr uint32_t kTrailerMagic = 0xA1B2C3D4;
inline constexpr std::string_view kAxsMarker = "AXS!";
inline constexpr uint32_t kImageInfoExtraWord = 0x11222211;
// Shortest image-info block data.
inline constexpr size_t kImageInfoMinSize = 24;

enum class TrailerSearch {
  kFound,
  kNotFound,
  kWindowTooSmall,         // a block reaches before the window
  kWindowTooSmallMarkers,  // the "AXS!" markers point before the window
};

// Searches `window`, the last window.size() bytes of a file of `file_size`
// bytes, for the data of the first block with `tag` (walking back from the
// end); for tag 1 also through the "AXS!" markers. On kFound, `block` views
// the data inside `window`.
TrailerSearch SearchTrailerWindow(std::string_view window, uint64_t file_size, uint16_t tag,
                                  std::string_view* block);

// Reads `length` bytes at `offset` of the file into `out`; false on failure.
using RangeReader = std::function<bool(uint64_t offset, size_t length, std::string* out)>;

// The window of a found block, which keeps the block's bytes alive.
struct TrailerWindow {
  std::string bytes;  // the last bytes of the file
  uint64_t file_size = 0;
  std::string_view block;  // data of the found block, inside `bytes`
};

// The window size the search starts with for `tag`.
size_t InitialTrailerWindow(uint16_t tag);

// Reads the trailer of a file of `file_size` bytes for `tag`: reads the
// window, searches it, and after "window too small" doubles the window (times
// 8 when the markers asked for it; never beyond the file) and searches again,
// at most two times (three for tags 1 and 4). Returns true with `out` filled
// when the block was found.
bool ReadImageInfoTrailer(const RangeReader& read, uint64_t file_size, uint16_t tag,
                          TrailerWindow* out);
// The same through a FileSystem.
bool ReadImageInfoTrailer(FileSystem& fs, const std::string& path, uint16_t tag,
                          TrailerWindow* out);

// The image-info block (tag 2), values as stored.
struct ImageInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 0;
  int32_t resolution_milli = 0;  // thousandths of a dot per inch
  int32_t hundredths = 0;        // a value in hundredths (not used for documents)
  bool has_extra = false;        // the 0x11222211 word and four values follow
  int32_t extra[4] = {0, 0, 100, 100};
};

// Decodes an image-info block; false when it is shorter than 24 bytes.
bool ParseImageInfo(std::string_view block, ImageInfo* info);

// Looks up the image-info block in a window already read (no marker
// fallback); false when absent or too short.
bool FindImageInfo(const TrailerWindow& window, ImageInfo* info);

}  // namespace vantrel
