#include "indexing/document_groups.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/file_time.h"
#include "platform/local_time.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

// The value as a C string would end it.
std::string_view UpToNul(std::string_view value) {
  const size_t nul = value.find('\0');
  return nul == std::string_view::npos ? value : value.substr(0, nul);
}

std::string NumberGroup(std::string_view marker, int32_t value, int width) {
  char number[16];
  std::snprintf(number, sizeof(number), "%0*i", width, static_cast<int>(value));
  std::string out;
  out.reserve(marker.size() + 24);
  out += ' ';
  out += marker;
  out += ' ';
  out += number;
  out += ' ';
  out += kGroupClose;
  out += ' ';
  return out;
}

// A double truncated toward zero into the int32 range (never undefined).
int32_t TruncateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::string DateText(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof(text), "%04d%02d%02d", year, month, day);
  return text;
}

}  // namespace

DocumentText::DocumentText(size_t capacity) : capacity_(capacity), limit_(capacity) {
  text_.reserve(std::min<size_t>(capacity, 4096));
}

void DocumentText::Append(std::string_view piece) {
  text_.append(piece.substr(0, std::min(piece.size(), room())));
}

void DocumentText::set_limit(size_t limit) { limit_ = std::min(limit, capacity_); }

std::string TextGroup(std::string_view marker, std::string_view value) {
  value = UpToNul(value);
  std::string out;
  out.reserve(marker.size() + value.size() + 8);
  out += ' ';
  out += marker;
  out += ' ';
  out += value;
  out += ' ';
  out += kGroupClose;
  out += ' ';
  return out;
}

std::string Number4Group(std::string_view marker, int32_t value) {
  return NumberGroup(marker, value, 4);
}

std::string Number6Group(std::string_view marker, int32_t value) {
  return NumberGroup(marker, value, 6);
}

std::string OnlineGroup(bool offline) {
  return TextGroup(kMarkerOnline, offline ? "OFFLINE" : "ONLINE");
}

std::string OrientationGroup(int32_t width, int32_t height) {
  const char* value = width > height   ? "LANDSCAPE"
                      : width < height ? "PORTRAIT"
                                       : "LANDSCAPE PORTRAIT";
  return TextGroup(kMarkerOrientation, value);
}

int32_t FileSizeValue(uint64_t bytes) {
  // Counted in 64 bits: files of 4 GiB and more keep their real size class.
  const uint64_t hundreds =
      (bytes / 2 + 25000) / 51200;  // (bytes + 50000) / 102400 without overflow
  const uint64_t value = hundreds * 100;
  return value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())
             ? std::numeric_limits<int32_t>::max()
             : static_cast<int32_t>(value);
}

const char* ColourModeText(int32_t channels) {
  if (channels <= 0) return "NONE";
  if (channels == 1) return "BW B/W";
  if (channels == 2) return "DUO";
  if (channels == 3) return "RGB Lab";
  return "CMYK";
}

ImageInfoValues ComputeImageInfoValues(const ImageInfo& info) {
  ImageInfoValues v;
  // The block's numbers are used as signed 32-bit values.
  const int32_t width = static_cast<int32_t>(info.width);
  const int32_t height = static_cast<int32_t>(info.height);
  const int32_t channels = static_cast<int32_t>(info.channels);
  int32_t dpi = info.resolution_milli / 1000;
  if (dpi < kLowestResolution) dpi = kDefaultResolution;

  v.colour_mode = ColourModeText(channels);
  v.resolution = TruncateToInt32(dpi * 0.03937007874015748) * 10;
  v.width_cm = TruncateToInt32(width * 2.54 / dpi);
  v.height_cm = TruncateToInt32(height * 2.54 / dpi);
  v.pixel_width = width / 100 * 100;
  v.pixel_height = height / 100 * 100;
  // Width x height x channels wraps as 32-bit arithmetic does; the unsigned
  // product is the same bits without undefined behaviour.
  const uint32_t product = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) *
                           static_cast<uint32_t>(channels);
  v.image_size = static_cast<int32_t>(product) / 102400 * 100;
  v.width = width;
  v.height = height;
  return v;
}

std::string ImageInfoGroups(const ImageInfo& info) {
  const ImageInfoValues v = ComputeImageInfoValues(info);
  std::string out = TextGroup(kMarkerColourMode, v.colour_mode);
  out += Number4Group(kMarkerResolution, v.resolution);
  out += Number4Group(kMarkerWidthCm, v.width_cm);
  out += Number4Group(kMarkerHeightCm, v.height_cm);
  out += Number4Group(kMarkerPixelWidth, v.pixel_width);
  out += Number4Group(kMarkerPixelHeight, v.pixel_height);
  out += Number6Group(kMarkerImageSize, v.image_size);
  out += OrientationGroup(v.width, v.height);
  return out;
}

std::string StampDate(uint32_t stamp) {
  const LocalTimeParts t = UtcTime(UnixFromFileTimeStamp(stamp));
  return DateText(t.year, t.month, t.day);
}

std::string CaptionDate(std::string_view value) {
  if (value.size() < 8) return "";
  for (size_t i = 0; i < 8; ++i) {
    if (value[i] < '0' || value[i] > '9') return "";
  }
  auto number = [&](size_t from, size_t count) {
    int n = 0;
    for (size_t i = from; i < from + count; ++i) n = n * 10 + (value[i] - '0');
    return n;
  };
  const int year = number(0, 4);
  const int month = number(4, 2);
  const int day = number(6, 2);
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
    return "";
  }
  return DateText(year, month, day);
}

std::string PathGroups(std::string_view full_path) {
  std::string out = TextGroup(kMarkerFileName, LastComponent(full_path, kNativeSeparator));
  out += TextGroup(kMarkerFolderPath, FolderPart(full_path, kNativeSeparator));
  out += TextGroup(kMarkerFolderName, FolderName(full_path, kNativeSeparator));
  return out;
}

}  // namespace vantrel
