// Inspection of one image file for operators (`vantrelctl inspect FILE`):
// its type code, which reader found its caption, every record-2 dataset (with
// those that XMP filled), and the image-info values of its trailer.
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
};

// "none", "trailer", "trailer markers", "Photoshop", "EPS", "TIFF",
// "resource fork", ":TEXT stream".
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
  // The index's switches: the character set and XMP steps run as in the
  // document builder (metadata/xmp_caption.h).
  MetadataSwitches metadata_switches;
};

struct DescribedDataset {
  int number = 0;
  std::string name;   // IIM name, "" when unknown
  std::string value;  // raw bytes
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
};

// Reads one file as the document builder would and describes it.
ImageFileDescription InspectImageFile(const std::string& path, const InspectOptions& options = {});

// Lines of "key: value" text; dataset values are shown with control bytes
// as \xNN and other bytes read as Latin-1.
std::string FormatImageFileDescription(const ImageFileDescription& description);

// InspectImageFile + FormatImageFileDescription.
std::string DescribeImageFile(const std::string& path, const InspectOptions& options = {});

}  // namespace vantrel
