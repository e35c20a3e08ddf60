// ReadEpsCaption: the caption of an EPS file from its "%BeginPhotoshop"
// section, the Photoshop image resources written as hexadecimal comment
// lines:
//
//   %BeginPhotoshop: <length>
//   % 3842494D0404...        two digits per byte, a line may end anywhere
//   %EndPhotoshop
//
// A DOS EPS binary file starts with C5 D0 D3 C6, followed by the offset and
// length of its PostScript section (little-endian u32 at 4 and 8).
//
// Thread safety: reentrant; `data` is only read.
#pragma once

#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "platform/file_system.h"

namespace vantrel {

// Longest PostScript section read from the file of a DOS EPS.
inline constexpr size_t kEpsMaxSectionRead = 64u << 20;

// Fills `record` from the Photoshop section of the PostScript in `data` (the
// whole file). For a DOS EPS whose PostScript section starts in the first
// half of `data` the section is taken from `data`; when it starts in the
// second half it is read from the file `path` through `fs` (DefaultFileSystem
// when null) into a buffer of its own, falling back to `data` when that read
// fails. The decoded bytes become the record's resource block and the IPTC
// datasets in them are installed.
// Returns true once a section was found and decoded (whatever it held);
// false when there is no complete section. Never throws; reads nothing
// outside its buffers.
bool ReadEpsCaption(std::string_view data, const std::string& path, CaptionRecord& record,
                    FileSystem* fs = nullptr);

// Decodes the hexadecimal lines of a Photoshop section. `section` starts at
// the "%" of "%BeginPhotoshop" and ends behind the "%EndPhotoshop" line.
// Digits carry over line ends, so a byte split over two lines decodes whole.
std::string DecodeEpsHexSection(std::string_view section);

}  // namespace vantrel
