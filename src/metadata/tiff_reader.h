// ReadTiffCaption: the caption of a TIFF file from tag 33723 (IPTC-NAA) of
// its first image file directory.
//
// TIFF header: "II" (little-endian) or "MM" (big-endian), the number 42, the
// offset of the first directory from the header. Directory: a 16-bit entry
// count, then 12-byte entries (tag 2, type 2, count 4, value or offset 4).
//
// Thread safety: reentrant; `data` is only read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "metadata/caption_record.h"
#include "metadata/iim_charset.h"

namespace vantrel {

inline constexpr uint16_t kTiffTagIptc = 33723;
// The TIFF header is searched for within this many leading bytes.
inline constexpr size_t kTiffHeaderSearch = 2048;

// Fills `record` from the first directory's tag 33723: count x 4 + 1 bytes at
// the tag's offset (cut at the data end) are copied, their record-2 run is
// located and, when it ends inside them, installed. Returns true when the tag
// was met (whether or not a run was found), false otherwise. When a run is
// installed and `declared` is given, it receives the character set that
// dataset 1:90 of the tag's envelope record declares (kUndeclared without
// one), as the trailer and Photoshop readers give it for their blocks.
// `path` is not read. Never throws; reads nothing outside `data`.
bool ReadTiffCaption(std::string_view data, const std::string& path, CaptionRecord& record,
                     IimCharset* declared = nullptr);

}  // namespace vantrel
