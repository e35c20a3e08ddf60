// What the TIFF structure of a TIFF file or an EXIF block says about the
// picture: pixel size, samples, resolution and the capture date.
//
// Tags read: in the first directory 256/257 (pixel width/height), 277
// (samples per pixel), 338 (extra samples, such as alpha), 282/283 (X/Y
// resolution), 296 (resolution unit: 2 inch, the default, 3 centimetre) and
// 34665 (the EXIF directory); in the EXIF directory 36867 (DateTimeOriginal,
// "YYYY:MM:DD HH:MM:SS") and 40962/40963 (pixel X/Y dimension).
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

inline constexpr uint16_t kTiffTagImageWidth = 256;
inline constexpr uint16_t kTiffTagImageLength = 257;
inline constexpr uint16_t kTiffTagSamplesPerPixel = 277;
inline constexpr uint16_t kTiffTagXResolution = 282;
inline constexpr uint16_t kTiffTagYResolution = 283;
inline constexpr uint16_t kTiffTagResolutionUnit = 296;
inline constexpr uint16_t kTiffTagExtraSamples = 338;
inline constexpr uint16_t kTiffTagExifDirectory = 34665;
inline constexpr uint16_t kExifTagDateTimeOriginal = 36867;
inline constexpr uint16_t kExifTagPixelXDimension = 40962;
inline constexpr uint16_t kExifTagPixelYDimension = 40963;

struct ExifFacts {
  bool tiff = false;          // the data opened with a TIFF header
  uint32_t width = 0;         // pixels; 0 when not given
  uint32_t height = 0;
  uint32_t colour_channels = 0;  // samples less extra samples; 0 when not given
  double dpi = 0;             // dots per inch; 0 when not given
  std::string capture_date;   // "yyyyMMdd" digits from DateTimeOriginal, or ""
};

// Reads `tiff` (data that opens with "II*\0" or "MM\0*"). Values that lie
// outside the data, have a wrong type or a zero denominator are left out.
ExifFacts ReadExifFacts(std::string_view tiff);

// "YYYY:MM:DD..." (also with '-' separators) as "YYYYMMDD"; "" when the
// text does not open that way. The date is not checked further here.
std::string ExifDateDigits(std::string_view text);

}  // namespace vantrel
