// The steps that follow the IIM readers for one picture: IIM character sets,
// then XMP (embedded, then the sidecar) merged by the rules of xmp_merge.h.
//
// Order of the steps, each behind its per-index switch:
//   1. the IPTC digest is checked and the IIM values cut at their limit are
//      noted (on the raw block);
//   2. iim_charset: the IIM values are converted into the code page;
//   3. xmp: the embedded XMP fills what IIM lacks, then the sidecar fills
//      what both lack.
// With both switches off the record is left exactly as the readers made it.
//
// Thread safety: reentrant.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/iim_charset.h"
#include "metadata/metadata_switches.h"
#include "metadata/xmp_packet.h"
#include "platform/file_system.h"

namespace vantrel {

struct CaptionExtras {
  // 1:90 of an IIM block the record did not get through its Photoshop
  // resources (the image-info trailer); kUndeclared otherwise, and then the
  // resources are asked.
  IimCharset declared = IimCharset::kUndeclared;
  XmpCaption embedded;  // the XMP of the file's data
  FileSystem* fs = nullptr;  // for the sidecar; none read when null
  std::string picture_path;
  // The sorted file names of the picture's folder from the listing that found
  // it (see ReadXmpSidecar); null: the sidecar names are tried on disk.
  const std::vector<std::string>* listed_files = nullptr;
};

void ExtendCaption(CaptionRecord& record, const CaptionExtras& extras,
                   const MetadataSwitches& switches,
                   const CodePage& code_page = CodePage::Default());

}  // namespace vantrel
