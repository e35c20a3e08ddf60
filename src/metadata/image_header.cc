#include "metadata/image_header.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "metadata/exif_reader.h"
#include "metadata/png_chunks.h"
#include "metadata/webp_chunks.h"

namespace vantrel {
namespace {

inline constexpr std::string_view kExifHeader("Exif\0\0", 6);
inline constexpr std::string_view kJfifHeader("JFIF\0", 5);
inline constexpr std::string_view kDosEpsHeader("\xC5\xD0\xD3\xC6", 4);
inline constexpr size_t kDosEpsHeaderSize = 30;
inline constexpr double kPointsPerInch = 72.0;

uint32_t Byte(std::string_view d, size_t at) { return static_cast<uint8_t>(d[at]); }
uint32_t Be16(std::string_view d, size_t at) { return (Byte(d, at) << 8) | Byte(d, at + 1); }
uint32_t Le32(std::string_view d, size_t at) {
  return Byte(d, at) | (Byte(d, at + 1) << 8) | (Byte(d, at + 2) << 16) | (Byte(d, at + 3) << 24);
}

// Thousandths of a dot per inch, clamped to the stored field.
int32_t MilliDpi(double dpi) {
  if (!(dpi > 0)) return 0;
  const double milli = std::floor(dpi * 1000.0 + 0.5);
  return milli >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(milli);
}

void SetSize(ImageHeaderFacts* f, uint32_t width, uint32_t height, uint32_t channels, double dpi) {
  f->info.width = width;
  f->info.height = height;
  f->info.channels = channels;
  f->info.resolution_milli = MilliDpi(dpi);
  f->has_size = width > 0 && height > 0;
}

bool IsStartOfFrame(uint32_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// JFIF density: units 1 dots per inch, 2 dots per centimetre.
double JfifDpi(std::string_view body) {
  if (body.size() < 12 || body.substr(0, kJfifHeader.size()) != kJfifHeader) return 0;
  const uint32_t units = Byte(body, 7);
  const double x = Be16(body, 8);
  if (units == 1) return x;
  if (units == 2) return x * 2.54;
  return 0;
}

// The segments from SOI up to the start of scan.
void ReadJpeg(std::string_view data, ImageHeaderFacts* f) {
  uint32_t width = 0, height = 0, channels = 0;
  double jfif_dpi = 0;
  ExifFacts exif;
  size_t at = 2;
  while (true) {
    while (at < data.size() && Byte(data, at) != 0xFF) ++at;    // bytes between segments
    while (at < data.size() && Byte(data, at) == 0xFF) ++at;    // fill bytes
    if (at + 3 > data.size()) {
      f->wanted = uint64_t{at} + 3;
      break;
    }
    const uint32_t marker = Byte(data, at);
    ++at;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length
    if (marker == 0xD9 || marker == 0xDA) break;  // end of image, start of scan
    const uint32_t length = Be16(data, at);
    if (length < 2) break;
    const uint64_t end = uint64_t{at} + length;
    if (end > data.size()) {
      f->wanted = end;
      break;
    }
    const std::string_view body = data.substr(at + 2, length - 2);
    if (IsStartOfFrame(marker) && body.size() >= 6) {
      height = Be16(body, 1);
      width = Be16(body, 3);
      channels = Byte(body, 5);
      break;  // the application segments come before the frame header
    } else if (marker == 0xE0 && jfif_dpi == 0) {
      jfif_dpi = JfifDpi(body);
    } else if (marker == 0xE1 && !exif.tiff && body.substr(0, kExifHeader.size()) == kExifHeader) {
      exif = ReadExifFacts(body.substr(kExifHeader.size()));
    }
    at = static_cast<size_t>(end);
  }
  SetSize(f, width, height, channels, jfif_dpi > 0 ? jfif_dpi : exif.dpi);
  f->capture_date = exif.capture_date;
}

void ReadTiff(std::string_view data, ImageHeaderFacts* f) {
  const ExifFacts exif = ReadExifFacts(data);
  SetSize(f, exif.width, exif.height, exif.colour_channels > 0 ? exif.colour_channels : 1,
          exif.dpi);
  f->capture_date = exif.capture_date;
  // Directories may lie anywhere, often behind the pixels.
  if (!f->has_size) f->wanted = kWholeFile;
}

void ReadPng(std::string_view data, ImageHeaderFacts* f) {
  PngFacts png = ReadPngChunks(data);
  f->wanted = png.wanted;
  if (png.has_header) SetSize(f, png.width, png.height, png.colour_channels, png.dpi);
  if (!png.exif.empty()) {
    const ExifFacts exif = ReadExifFacts(png.exif);
    f->capture_date = exif.capture_date;
    if (png.dpi == 0) f->info.resolution_milli = MilliDpi(exif.dpi);
  }
  f->iim = std::move(png.iim);
}

void ReadWebp(std::string_view data, ImageHeaderFacts* f) {
  const WebpFacts webp = ReadWebpChunks(data);
  f->wanted = webp.wanted;
  double dpi = 0;
  if (!webp.exif.empty()) {
    const ExifFacts exif = ReadExifFacts(webp.exif);
    f->capture_date = exif.capture_date;
    dpi = exif.dpi;
  }
  SetSize(f, webp.width, webp.height, 3, dpi);
}

// The numbers after `keyword` on the first line that begins with it.
std::vector<double> CommentNumbers(std::string_view text, std::string_view keyword) {
  std::vector<double> numbers;
  size_t at = 0;
  while ((at = text.find(keyword, at)) != std::string_view::npos) {
    if (at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r') break;
    at += keyword.size();
  }
  if (at == std::string_view::npos) return numbers;
  std::string line(text.substr(at + keyword.size(), 200));
  line = line.substr(0, line.find_first_of("\r\n"));
  const char* p = line.c_str();
  while (*p != '\0') {
    char* next = nullptr;
    const double v = std::strtod(p, &next);
    if (next == p) break;
    numbers.push_back(v);
    p = next;
  }
  return numbers;
}

uint32_t ChannelsOfEpsMode(double mode) {
  if (mode == 1) return 1;              // bitmap, grey
  if (mode == 2 || mode == 3) return 3;  // Lab, RGB
  if (mode == 4) return 4;              // CMYK
  return 0;
}

uint32_t Whole(double v) {
  return v >= 1 && v < 4294967295.0 ? static_cast<uint32_t>(v) : 0;
}

void ReadEps(std::string_view data, ImageHeaderFacts* f) {
  std::string_view ps = data;
  if (data.substr(0, 4) == kDosEpsHeader) {
    if (data.size() < kDosEpsHeaderSize) {
      f->wanted = kDosEpsHeaderSize;
      return;
    }
    const uint64_t offset = Le32(data, 4), length = Le32(data, 8);
    const uint64_t want = offset + std::min<uint64_t>(length, kEpsCommentWindow);
    if (want > data.size()) {
      f->wanted = want;
      return;
    }
    ps = data.substr(static_cast<size_t>(offset), static_cast<size_t>(want - offset));
  }
  ps = ps.substr(0, kEpsCommentWindow);
  const std::vector<double> box = CommentNumbers(ps, "%%BoundingBox:");
  const std::vector<double> image = CommentNumbers(ps, "%ImageData:");
  const double box_width = box.size() >= 4 ? box[2] - box[0] : 0;
  const double box_height = box.size() >= 4 ? box[3] - box[1] : 0;
  if (image.size() >= 4 && Whole(image[0]) > 0 && Whole(image[1]) > 0) {
    const double dpi = box_width > 0 ? image[0] * kPointsPerInch / box_width : 0;
    SetSize(f, Whole(image[0]), Whole(image[1]), ChannelsOfEpsMode(image[3]), dpi);
  } else if (box_width > 0 && box_height > 0) {
    SetSize(f, Whole(box_width), Whole(box_height), 0, kPointsPerInch);
  }
}

HeaderFormat FormatOf(std::string_view data) {
  if (data.substr(0, 3) == "\xFF\xD8\xFF") return HeaderFormat::kJpeg;
  if (data.substr(0, 4) == std::string_view("II*\0", 4) ||
      data.substr(0, 4) == std::string_view("MM\0*", 4)) {
    return HeaderFormat::kTiff;
  }
  if (data.substr(0, kPngSignature.size()) == kPngSignature) return HeaderFormat::kPng;
  if (data.size() >= 12 && data.substr(0, 4) == "RIFF" && data.substr(8, 4) == "WEBP") {
    return HeaderFormat::kWebp;
  }
  if (data.substr(0, 4) == "%!PS" || data.substr(0, 4) == kDosEpsHeader) return HeaderFormat::kEps;
  return HeaderFormat::kNone;
}

}  // namespace

const char* HeaderFormatName(HeaderFormat format) {
  switch (format) {
    case HeaderFormat::kJpeg:
      return "JPEG";
    case HeaderFormat::kTiff:
      return "TIFF";
    case HeaderFormat::kPng:
      return "PNG";
    case HeaderFormat::kWebp:
      return "WebP";
    case HeaderFormat::kEps:
      return "EPS";
    case HeaderFormat::kNone:
      break;
  }
  return "none";
}

ImageHeaderFacts ReadImageHeader(std::string_view data) {
  ImageHeaderFacts f;
  f.format = FormatOf(data);
  switch (f.format) {
    case HeaderFormat::kJpeg:
      ReadJpeg(data, &f);
      break;
    case HeaderFormat::kTiff:
      ReadTiff(data, &f);
      break;
    case HeaderFormat::kPng:
      ReadPng(data, &f);
      break;
    case HeaderFormat::kWebp:
      ReadWebp(data, &f);
      break;
    case HeaderFormat::kEps:
      ReadEps(data, &f);
      break;
    case HeaderFormat::kNone:
      break;
  }
  if (f.wanted != 0 && f.wanted <= data.size()) f.wanted = 0;
  return f;
}

ImageHeaderFacts ReadImageHeaderFromFile(const RangeReader& read, uint64_t file_size) {
  const uint64_t limit = std::min<uint64_t>(file_size, kHeaderReadLimit);
  uint64_t window = std::min<uint64_t>(limit, kHeaderFirstWindow);
  ImageHeaderFacts facts;
  std::string bytes;
  for (int attempt = 0; attempt < 12; ++attempt) {
    if (!read(0, static_cast<size_t>(window), &bytes)) return ImageHeaderFacts{};
    facts = ReadImageHeader(bytes);
    // A reader that wants more than the file holds has all there is.
    if (facts.wanted == 0 || window >= limit || bytes.size() < window) break;
    window = std::min(limit, std::max(facts.wanted, window * 2));
  }
  facts.wanted = 0;
  return facts;
}

}  // namespace vantrel
