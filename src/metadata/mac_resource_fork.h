// Macintosh resource forks: the caption forms that Macintosh software leaves
// in them.
//
// The fork is found by FileStreams (platform/file_streams.h). Its resource
// map is not read: captions are recognised by scanning the bytes. Numbers are
// big-endian.
//
//   offset  size  content used
//   0       4     offset of the resource data area (normally 256)
//   4       4     offset of the resource map; only its low two bytes (6..7)
//   256     ...   resource data: each resource's data behind a 4-byte length
//
// Recognised forms, in the order the scan meets them:
//   kIptcBlock    1C 02 00 00 02: a block opening with 2:00, its length the low
//                 two bytes of the resource length in front of it
//   kCaptionRun   1C 02 78 (a caption 2:120 shorter than 2048 bytes) starting a
//                 record-2 run that ends inside the fork
//   kAnpa         "ANPA" + IPTC-NAA datasets in one resource
//   kPhotoshop30  "Adobe Photoshop", then within 20 bytes 1C 02 00
//   then, when the scan found none of these:
//   kPhotoshop25  one dataset per resource from offset 256:
//                 u32 L, u8 record, u8 dataset, 2 bytes, u32 value length, value
//   kTextResource a text resource just before the map (or the first resource)
//                 becomes the caption
//   kRunWithText  a record-2 run with a text resource behind or in front of it;
//                 the text is merged into the run's caption
//
// Thread safety: pure functions over their arguments.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "platform/file_streams.h"

namespace vantrel {

enum class ResourceForkForm {
  kNone,
  kIptcBlock,
  kCaptionRun,
  kAnpa,
  kPhotoshop30,
  kPhotoshop25,
  kTextResource,
  kRunWithText,
};

const char* ResourceForkFormName(ResourceForkForm form);

inline constexpr size_t kResourceForkMinSize = 256;
inline constexpr size_t kResourceDataOffset = 256;
inline constexpr size_t kPhotoshop25BlockMax = 16000;
inline constexpr size_t kTextResourceMax = 2000;  // a text resource must be shorter

// Finds the caption form in resource fork bytes `fork` and installs what it
// holds into `record` (InstallIptcBlock). Returns the form recognised, kNone
// when the fork is shorter than 256 bytes or holds no form. A recognised form
// whose bytes are broken or the placeholder block still counts as recognised
// (the record may stay without caption). Never reads outside `fork`.
ResourceForkForm ParseResourceFork(CaptionRecord& record, std::string_view fork);

// The IPTC block assembled from Photoshop 2.5 caption resources, or nullopt
// when the fork does not hold them. At most 16000 bytes.
std::optional<std::string> Photoshop25Captions(std::string_view fork);

// Opens the resource fork of the file at `path` and parses it. True when a
// caption form was recognised; false when there is no fork or nothing was
// recognised. `place`, when given, receives where the fork was found
// (kNone when there is none).
bool ReadResourceFork(CaptionRecord& record, FileStreams& streams, const std::string& path,
                      StreamPlace* place = nullptr, ResourceForkForm* form = nullptr);

}  // namespace vantrel
