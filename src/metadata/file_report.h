// Inspection of one image file for operators (`vantrelctl inspect FILE`):
// its type code, which reader found its caption, every record-2 dataset (with
// those that XMP filled), the image-info values and the image date, each with
// where its value came from (IIM, EXIF, the picture's header, the trailer, the
// file's own date).
//
// The readers run in the document builder's order: the image-info trailer
// (tag 1, then the "AXS!" markers), then, when that gave no caption, the
// Photoshop (with the Macintosh streams first), EPS and TIFF readers over the
// file's data.
//
// Thread safety: reentrant; the file is only read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/image_info_trailer.h"
#include "metadata/metadata_switches.h"
#include "platform/file_system.h"

namespace vantrel {

enum class CaptionSource {
  kNone,
  kTrailer,         // image-info trailer, tag 1
  kTrailerMarkers,  // image-info trailer, "AXS!" markers
  kPhotoshop,       // JPEG APP13 Photoshop resources
  kEps,             // EPS "%BeginPhotoshop" section
  kTiff,            // TIFF tag 33723
  kResourceFork,    // Macintosh resource fork
  kTextStream,      // ":TEXT" caption stream
  kPngProfile,      // PNG raw iptc profile
};

// Where the value of one field came from.
enum class ValueSource { kNone, kIim, kXmp, kSidecar, kExif, kHeader, kTrailer, kFileDate };

// "none", "IIM", "XMP", "sidecar", "EXIF", "header", "trailer", "file date".
const char* ValueSourceName(ValueSource source);

// "none", "trailer", "trailer markers", "Photoshop", "EPS", "TIFF",
// "resource fork", ":TEXT stream", "PNG raw profile".
const char* CaptionSourceName(CaptionSource source);

struct InspectOptions {
  FileSystem* fs = nullptr;  // DefaultFileSystem() when null
  // Read the caption from the file's data when the trailer has none (the
  // index's document-info option).
  bool read_document_info = true;
  // The Macintosh streams (resource fork, caption text): fill the record and
  // say which one answered, kNone when none did. Not asked when empty.
  std::function<CaptionSource(CaptionRecord& record, const std::string& path)> mac_streams;
  // The Finder file type for files whose extension names no type; "" when
  // unknown. Not asked when empty.
  std::function<std::string(const std::string& path)> finder_type;
  // The index's metadata switches, as the document builder applies them:
  // the character set and XMP steps (metadata/xmp_caption.h), the header reads.
  MetadataSwitches switches;
};

struct DescribedDataset {
  int number = 0;
  std::string name;   // IIM name, "" when unknown
  std::string value;  // raw bytes
  ValueSource source = ValueSource::kIim;
};

struct ImageFileDescription {
  std::string path;
  bool readable = false;
  uint64_t size = 0;
  std::string type_code;  // four characters, or "" when none is known
  std::string first_bytes;
  CaptionSource source = CaptionSource::kNone;
  size_t content_offset = 0;
  int32_t iptc_length = 0;
  std::vector<DescribedDataset> datasets;  // record 2, in block order
  bool has_image_info = false;
  ImageInfo image_info;
  ValueSource image_info_source = ValueSource::kNone;  // trailer or header
  std::string header_format;                           // "JPEG", "PNG", ... or "none"
  std::string image_date;                              // "yyyyMMdd" as the document shows it
  ValueSource image_date_source = ValueSource::kNone;  // IIM (2:55), EXIF or file date
};

// Reads one file as the document builder would and describes it.
ImageFileDescription InspectImageFile(const std::string& path, const InspectOptions& options = {});

// Lines of "key: value" text; dataset values are shown with control bytes
// as \xNN and other bytes read as Latin-1.
std::string FormatImageFileDescription(const ImageFileDescription& description);

// InspectImageFile + FormatImageFileDescription.
std::string DescribeImageFile(const std::string& path, const InspectOptions& options = {});

}  // namespace vantrel
