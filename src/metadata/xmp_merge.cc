#include "metadata/xmp_merge.h"

#include <algorithm>
#include <set>

#include "metadata/iim_codec.h"

namespace vantrel {
namespace {

size_t LimitOf(int dataset) {
  if (dataset == kDatasetCaption) return kIimCaptionLimit;
  if (dataset == kDatasetKeywords) return kIimKeywordLimit;
  return 0;
}

bool IsCut(const std::vector<CutIimValue>& cut, int dataset, int occurrence) {
  return std::any_of(cut.begin(), cut.end(), [&](const CutIimValue& c) {
    return c.dataset == dataset && c.occurrence == occurrence;
  });
}

// The XMP value of `dataset` that begins like `cut_value` (whose last
// character may have been split by the cut), or null.
const std::string* WholeValue(const XmpCaption& xmp, int dataset, std::string_view cut_value) {
  const std::string_view stem = cut_value.substr(0, cut_value.size() > 4 ? cut_value.size() - 4 : 0);
  for (const XmpDataset& d : xmp.datasets) {
    if (d.dataset == dataset && d.value.size() > stem.size() &&
        std::string_view(d.value).substr(0, stem.size()) == stem) {
      return &d.value;
    }
  }
  return nullptr;
}

// Copies the IIM block with each cut value replaced by its whole XMP value.
std::string WithWholeValues(std::string_view iptc, const XmpCaption& xmp,
                            const std::vector<CutIimValue>& cut) {
  std::string block;
  int seen[256] = {};
  size_t end = 0;
  for (const IimDataset& ds : WalkDatasets(iptc)) {
    const int occurrence = ds.record == kIimApplicationRecord ? seen[ds.dataset & 0xFF]++ : -1;
    const std::string* whole = occurrence >= 0 && IsCut(cut, ds.dataset, occurrence)
                                   ? WholeValue(xmp, ds.dataset, ds.value)
                                   : nullptr;
    if (whole != nullptr) {
      block += EncodeDataset(ds.record, ds.dataset, *whole);
    } else {
      block.append(iptc.substr(ds.offset, ds.header_size + ds.value.size()));
    }
    end = ds.offset + ds.header_size + ds.value.size();
  }
  block.append(iptc.substr(std::min(end, iptc.size())));
  return block;
}

}  // namespace

std::vector<CutIimValue> FindCutIimValues(std::string_view iptc) {
  std::vector<CutIimValue> cut;
  int seen[256] = {};
  for (const IimDataset& ds : WalkDatasets(iptc)) {
    if (ds.record != kIimApplicationRecord) continue;
    const int occurrence = seen[ds.dataset & 0xFF]++;
    const size_t limit = LimitOf(ds.dataset);
    if (limit != 0 && ds.value.size() >= limit) cut.push_back({ds.dataset, occurrence});
  }
  return cut;
}

void MergeXmpCaption(CaptionRecord& record, const XmpCaption& xmp,
                     const std::vector<CutIimValue>& cut) {
  if (xmp.datasets.empty()) return;
  std::set<int> in_iim;
  for (const IimDataset& ds : WalkDatasets(record.iptc)) {
    if (ds.record == kIimApplicationRecord) in_iim.insert(ds.dataset);
  }
  std::string block = cut.empty() ? record.iptc : WithWholeValues(record.iptc, xmp, cut);
  if (block.empty()) block = std::string(RecordVersionDataset());
  // The added datasets go behind the last dataset a walk reaches, in front of
  // any bytes that end the walk, so that the walk reaches them too.
  size_t end = 0;
  for (const IimDataset& ds : WalkDatasets(block)) end = ds.offset + ds.header_size + ds.value.size();
  end = std::min(end, block.size());
  std::string added;
  for (const XmpDataset& d : xmp.datasets) {
    if (in_iim.count(d.dataset) != 0 || d.value.empty()) continue;
    added += EncodeDataset(kIimApplicationRecord, d.dataset, d.value);
  }
  block.insert(end, added);
  if (block.size() > RecordVersionDataset().size()) record.iptc = std::move(block);
}

}  // namespace vantrel
