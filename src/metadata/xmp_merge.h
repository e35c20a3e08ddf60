// Which copy wins when a picture carries its caption twice, in IIM and in XMP:
//
//  - a dataset that the IIM block has is taken from IIM, as it stands;
//  - XMP fills the datasets IIM lacks (all of them when there is no IIM
//    block), appended behind the IIM datasets (a block without IIM opens with
//    the 2:00 record version);
//  - when the IPTC digest matches the IIM block (the copies are in step), a
//    value that IIM holds cut at its length limit (2:120 at 2,000 bytes,
//    2:25 at 64) is replaced by the XMP value that begins like it.
//
// Thread safety: pure functions over their arguments.
#pragma once

#include <string_view>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/xmp_packet.h"

namespace vantrel {

inline constexpr size_t kIimCaptionLimit = 2000;
inline constexpr size_t kIimKeywordLimit = 64;

// One IIM value that stands at its dataset's length limit.
struct CutIimValue {
  int dataset = 0;
  int occurrence = 0;  // among the values of that dataset, from 0
};

// The values of the raw IIM block (before any character set conversion)
// that stand at their limit.
std::vector<CutIimValue> FindCutIimValues(std::string_view iptc);

// Merges `xmp` into `record` by the rules above; `cut` lists the values to
// replace whole (empty unless the digest matched).
void MergeXmpCaption(CaptionRecord& record, const XmpCaption& xmp,
                     const std::vector<CutIimValue>& cut = {});

}  // namespace vantrel
