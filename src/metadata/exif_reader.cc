#include "metadata/exif_reader.h"

#include <optional>

#include "metadata/exif_tiff.h"

namespace vantrel {
namespace {

inline constexpr uint32_t kUnitInch = 2;
inline constexpr uint32_t kUnitCentimetre = 3;
inline constexpr double kCentimetresPerInch = 2.54;

double ResolutionDpi(const TiffData& tiff, uint64_t ifd) {
  const std::optional<double> x = tiff.NumberTag(ifd, kTiffTagXResolution);
  if (!x || *x <= 0) return 0;
  const uint32_t unit = tiff.UnsignedTag(ifd, kTiffTagResolutionUnit).value_or(kUnitInch);
  if (unit == kUnitInch) return *x;
  if (unit == kUnitCentimetre) return *x * kCentimetresPerInch;
  return 0;  // 1: no absolute unit
}

uint32_t ColourChannels(const TiffData& tiff, uint64_t ifd) {
  const std::optional<uint32_t> samples = tiff.UnsignedTag(ifd, kTiffTagSamplesPerPixel);
  if (!samples) return 0;
  const std::optional<TiffEntry> extra = tiff.Find(ifd, kTiffTagExtraSamples);
  const uint32_t extras = extra ? extra->count : 0;
  return *samples > extras ? *samples - extras : *samples;
}

void ReadExifDirectory(const TiffData& tiff, uint64_t exif, ExifFacts* facts) {
  if (const std::optional<TiffEntry> date = tiff.Find(exif, kExifTagDateTimeOriginal)) {
    facts->capture_date = ExifDateDigits(tiff.Ascii(*date).value_or(""));
  }
  if (facts->width == 0 || facts->height == 0) {
    facts->width = tiff.UnsignedTag(exif, kExifTagPixelXDimension).value_or(0);
    facts->height = tiff.UnsignedTag(exif, kExifTagPixelYDimension).value_or(0);
  }
}

bool Digits(std::string_view text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

ExifFacts ReadExifFacts(std::string_view data) {
  ExifFacts facts;
  const std::optional<TiffData> tiff = TiffData::Open(data);
  if (!tiff) return facts;
  facts.tiff = true;
  const uint64_t ifd0 = tiff->first_directory();
  facts.width = tiff->UnsignedTag(ifd0, kTiffTagImageWidth).value_or(0);
  facts.height = tiff->UnsignedTag(ifd0, kTiffTagImageLength).value_or(0);
  facts.colour_channels = ColourChannels(*tiff, ifd0);
  facts.dpi = ResolutionDpi(*tiff, ifd0);
  if (const std::optional<uint32_t> exif = tiff->UnsignedTag(ifd0, kTiffTagExifDirectory)) {
    if (*exif != ifd0) ReadExifDirectory(*tiff, *exif, &facts);
  }
  return facts;
}

std::string ExifDateDigits(std::string_view text) {
  if (text.size() < 10) return "";
  const char sep = text[4];
  if ((sep != ':' && sep != '-') || text[7] != sep) return "";
  const std::string_view year = text.substr(0, 4), month = text.substr(5, 2),
                         day = text.substr(8, 2);
  if (!Digits(year) || !Digits(month) || !Digits(day)) return "";
  return std::string(year) + std::string(month) + std::string(day);
}

}  // namespace vantrel
