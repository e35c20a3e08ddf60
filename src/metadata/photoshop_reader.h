// ReadPhotoshopCaption: the caption of a JPEG file from its APP13 Photoshop
// image resources (or, first, from the file's Macintosh streams).
//
// Thread safety: reentrant; `data` is only read and may be a shared read-only
// mapping.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "metadata/caption_record.h"

namespace vantrel {

// Reads the caption that the Macintosh streams beside a file carry (resource
// fork, caption text stream) into the record; true when it answered. The
// document builder passes the Macintosh reader here; an empty function
// answers false.
using MacStreamReader = std::function<bool(CaptionRecord& record, const std::string& path)>;

// Shortest JPEG data searched for APP13 segments.
inline constexpr size_t kPhotoshopMinLength = 1000;

// Fills `record` from the APP13 segments of the JPEG stream in `data` (the
// file contents behind the content offset; the SOI may also stand at 128,
// behind a MacBinary header). Consecutive APP13 segments with the identifier
// "Photoshop 3.0" or "Adobe_Photoshop2.5:" are joined into the record's
// resource block, and the IPTC block of resource 0x0404 is installed.
// Returns true (handled) when the Macintosh streams answered, a caption was
// found, or the placeholder block was met; false otherwise. Never throws and
// reads nothing outside `data`.
bool ReadPhotoshopCaption(CaptionRecord& record, std::string_view data, const std::string& path,
                          const MacStreamReader& mac_streams = nullptr);

}  // namespace vantrel
