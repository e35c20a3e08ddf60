// Pixel size, resolution, colour and capture date from a picture's own
// headers, for files without an image-info trailer block:
//
//   JPEG  the SOFn segment (height, width, components), resolution from the
//         JFIF APP0 segment (units 1 dpi, 2 dots per cm) or else from the
//         EXIF APP1 segment, the capture date from EXIF;
//   TIFF  tags 256/257/277/282/283/296 of the first directory, the capture
//         date from its EXIF directory;
//   PNG   IHDR, pHYs, eXIf and the raw iptc profile (png_chunks.h);
//   WebP  VP8X, VP8, VP8L and EXIF chunks (webp_chunks.h);
//   EPS   %ImageData (pixels and colour mode) and %%BoundingBox (points):
//         the resolution is the pixel width over the box width in inches;
//         a box alone gives its size in points at 72 dpi.
//
// The values fill an ImageInfo as the trailer's image-info block would: the
// channel count counts colour channels only (an alpha channel does not make
// a grey picture "DUO"), the resolution is in thousandths of a dot per inch
// (0 when the file gives none; the document then shows 72 dpi).
//
// Every reader checks every length and offset against the bytes it has.
//
// Thread safety: pure functions; ReadImageHeaderFromFile reads through the
// caller's range reader.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "metadata/image_info_trailer.h"

namespace vantrel {

enum class HeaderFormat { kNone, kJpeg, kTiff, kPng, kWebp, kEps };

// "none", "JPEG", "TIFF", "PNG", "WebP", "EPS".
const char* HeaderFormatName(HeaderFormat format);

struct ImageHeaderFacts {
  HeaderFormat format = HeaderFormat::kNone;
  bool has_size = false;  // width and height both known and above zero
  ImageInfo info;         // width, height, channels, resolution_milli
  std::string capture_date;  // "YYYYMMDD" digits from EXIF DateTimeOriginal, or ""
  std::string iim;           // an IIM block the header carries (PNG raw profile), or ""
  // The bytes of the file the readers need to finish (kWholeFile: all of
  // it); 0 when `data` sufficed.
  uint64_t wanted = 0;
};

inline constexpr uint64_t kWholeFile = ~uint64_t{0};
// ReadImageHeaderFromFile reads the first kHeaderFirstWindow bytes, and more
// (up to kHeaderReadLimit) only when a reader asks for them.
inline constexpr size_t kHeaderFirstWindow = 16384;
inline constexpr size_t kHeaderReadLimit = 64u << 20;
// EPS comments are looked for in this many bytes of the PostScript.
inline constexpr size_t kEpsCommentWindow = 65536;

// Reads the header facts of the file's first bytes `data`.
ImageHeaderFacts ReadImageHeader(std::string_view data);

// Reads the file's first bytes through `read` and grows the window while a
// reader asks for more (at most to kHeaderReadLimit or the file's size).
ImageHeaderFacts ReadImageHeaderFromFile(const RangeReader& read, uint64_t file_size);

}  // namespace vantrel
