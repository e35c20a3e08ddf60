// The pieces of an image document: the attribute groups, their values, the
// caption markers and the path pieces of the tail.
//
// An attribute group is a blank, the marker word, a blank, the value, a blank,
// the closing word "ZqZ" and a blank (" QxQB5002 JPEG ZqZ "), so consecutive
// groups stand two blanks apart. Numbers are written zero-padded to four or
// six digits ("%04i", "%06i", a minus sign counting as one of the digits).
//
// DocumentText is the bounded document buffer: every piece is appended at
// the current length and cut at the limit in force, so a document never
// grows beyond kDocumentCapacity bytes.
//
// Thread safety: pure functions; a DocumentText is used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "metadata/image_info_trailer.h"

namespace vantrel {

// The marker words of the attribute groups.
inline constexpr char kMarkerColourMode[] = "QxQA5001";
inline constexpr char kMarkerFileType[] = "QxQB5002";
inline constexpr char kMarkerResolution[] = "QxQC5003";
inline constexpr char kMarkerWidthCm[] = "QxQD5004";
inline constexpr char kMarkerHeightCm[] = "QxQE5005";
inline constexpr char kMarkerPixelWidth[] = "QxQF5006";
inline constexpr char kMarkerPixelHeight[] = "QxQG5007";
inline constexpr char kMarkerFileSize[] = "QxQH5008";
inline constexpr char kMarkerImageSize[] = "QxQI5009";
inline constexpr char kMarkerFileName[] = "QxQJ5010";
inline constexpr char kMarkerFolderName[] = "QxQK5011";
inline constexpr char kMarkerFolderPath[] = "QxQL5012";
inline constexpr char kMarkerOrientation[] = "QxQM5013";
inline constexpr char kMarkerOnline[] = "QxQN5014";
inline constexpr char kMarkerFileDate[] = "QxQO5015";
inline constexpr char kMarkerImageDate[] = "QxQP5016";
inline constexpr char kGroupClose[] = "ZqZ";

// The caption markers.
inline constexpr char kNoCaptionMarker[] = " xnocap ";
inline constexpr char kSmallCaptionMarker[] = " xsmallcap ";
// Caption data shorter than this gets the small-caption marker.
inline constexpr int32_t kSmallCaptionLimit = 30;

// A resolution below this many dots per inch counts as 72.
inline constexpr int32_t kLowestResolution = 10;
inline constexpr int32_t kDefaultResolution = 72;

class DocumentText {
 public:
  // A buffer of at most `capacity` bytes.
  explicit DocumentText(size_t capacity);

  // Appends as much of `piece` as fits below the limit.
  void Append(std::string_view piece);

  // The limit appends are cut at (at most the capacity). Lowering it below
  // the current length does not shorten the text.
  void set_limit(size_t limit);
  size_t limit() const { return limit_; }
  size_t capacity() const { return capacity_; }
  // Bytes that can still be appended below the limit.
  size_t room() const { return text_.size() < limit_ ? limit_ - text_.size() : 0; }

  std::string& text() { return text_; }
  const std::string& text() const { return text_; }
  size_t size() const { return text_.size(); }

 private:
  std::string text_;
  size_t capacity_;
  size_t limit_;
};

// " %s %s %s ": marker, value, "ZqZ". The value ends at its first NUL, as a
// C string would.
std::string TextGroup(std::string_view marker, std::string_view value);
// " %s %04i %s " and " %s %06i %s ".
std::string Number4Group(std::string_view marker, int32_t value);
std::string Number6Group(std::string_view marker, int32_t value);
// " QxQN5014 ONLINE ZqZ ", or OFFLINE for a file of the OffLine folder.
std::string OnlineGroup(bool offline);
// " QxQM5013 LANDSCAPE ZqZ " (width > height), PORTRAIT (width < height) or
// "LANDSCAPE PORTRAIT" (equal).
std::string OrientationGroup(int32_t width, int32_t height);

// The file size value: (bytes + 50,000) / 102,400, times 100.
int32_t FileSizeValue(uint64_t bytes);

// The values the image-info block gives, computed as the groups show them.
struct ImageInfoValues {
  const char* colour_mode = "NONE";
  int32_t resolution = 0;  // dots per millimetre, truncated, times 10
  int32_t width_cm = 0;    // truncated
  int32_t height_cm = 0;
  int32_t pixel_width = 0;  // rounded down to a multiple of 100
  int32_t pixel_height = 0;
  int32_t image_size = 0;  // width x height x channels (32-bit, wrapping) / 102,400 x 100
  int32_t width = 0;       // as stored, read as signed numbers
  int32_t height = 0;
};
ImageInfoValues ComputeImageInfoValues(const ImageInfo& info);
// The colour mode text of a channel count: 0 or less "NONE", 1 "BW B/W",
// 2 "DUO", 3 "RGB Lab", 4 or more "CMYK".
const char* ColourModeText(int32_t channels);
// The eight image-info groups in their document order (A, C, D, E, F, G, I, M).
std::string ImageInfoGroups(const ImageInfo& info);

// The date of a file time stamp as "yyyyMMdd", in UTC.
std::string StampDate(uint32_t stamp);
// The date created of a caption (IPTC form CCYYMMDD) as "yyyyMMdd"; empty
// when the value does not begin with eight digits that form a real date
// between the years 1601 and 9999.
std::string CaptionDate(std::string_view value);

// The three tail groups of a full path (code-page text, '/' separators):
// file name (QxQJ5010), folder path (QxQL5012), folder name (QxQK5011).
std::string PathGroups(std::string_view full_path);

}  // namespace vantrel
