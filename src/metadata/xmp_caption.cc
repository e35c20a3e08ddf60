#include "metadata/xmp_caption.h"

#include "metadata/xmp_digest.h"
#include "metadata/xmp_merge.h"
#include "metadata/xmp_sources.h"

namespace vantrel {

void ExtendCaption(CaptionRecord& record, const CaptionExtras& extras,
                   const MetadataSwitches& switches, const CodePage& code_page) {
  std::vector<CutIimValue> cut;
  if (switches.xmp && !record.iptc.empty() && IptcDigestMatches(record.resources)) {
    cut = FindCutIimValues(record.iptc);
  }
  if (switches.iim_charset && !record.iptc.empty()) {
    IimCharset declared = extras.declared;
    if (declared == IimCharset::kUndeclared) declared = DeclaredResourceCharset(record.resources);
    ConvertIimCharset(record, declared, code_page);
  }
  if (!switches.xmp) return;
  XmpCaption xmp = extras.embedded;
  if (extras.fs != nullptr && !extras.picture_path.empty()) {
    AddMissingXmpDatasets(xmp, ReadXmpSidecar(*extras.fs, extras.picture_path, code_page,
                                                extras.listed_files));
  }
  MergeXmpCaption(record, xmp, cut);
}

}  // namespace vantrel
