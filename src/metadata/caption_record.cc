#include "metadata/caption_record.h"

#include <algorithm>
#include <cstring>

#include "metadata/iim_codec.h"

namespace vantrel {
namespace {

constexpr std::string_view kSignature = "8BIM";
constexpr size_t kResourceHeaderSize = 12;  // signature, id, empty name, size
constexpr size_t kSmallBlock = 12;

// Offset of the first "8BIM" signature followed by identifier 04 04, or npos.
size_t FindIptcResource(std::string_view block) {
  size_t pos = 0;
  for (;;) {
    pos = block.find(kSignature, pos);
    if (pos == std::string_view::npos || block.size() - pos < 6) return std::string_view::npos;
    if (static_cast<uint8_t>(block[pos + 4]) == 0x04 &&
        static_cast<uint8_t>(block[pos + 5]) == 0x04) {
      return pos;
    }
    ++pos;
  }
}

std::string MakeIptcResource(std::string_view iptc) {
  size_t padded = iptc.size() + (iptc.size() & 1);
  std::string r;
  r.reserve(kResourceHeaderSize + padded);
  r.append(kSignature);
  r.push_back(0x04);
  r.push_back(0x04);
  r.push_back(0);  // empty name, padded to even length
  r.push_back(0);
  r.push_back(0);  // size: the server writes the low two bytes only
  r.push_back(0);
  r.push_back(static_cast<char>((padded >> 8) & 0xFF));
  r.push_back(static_cast<char>(padded & 0xFF));
  r.append(iptc);
  if (iptc.size() & 1) r.push_back(0);
  return r;
}

bool IsPresent(std::string_view block, int dataset) {
  size_t len = 0, off = 0;
  return FindDataset(block, kIimApplicationRecord, dataset, &len, &off) == 1;
}

// Offset behind the value of the first occurrence of 2:dataset, or npos.
size_t EndOfFirst(std::string_view block, int dataset) {
  size_t len = 0, off = 0;
  if (FindDataset(block, kIimApplicationRecord, dataset, &len, &off) != 1) {
    return std::string_view::npos;
  }
  return off + len;
}

// Offset of the header of the first occurrence of 2:dataset, or npos.
size_t StartOfFirst(std::string_view block, int dataset) {
  size_t len = 0, off = 0, start = 0;
  if (FindDataset(block, kIimApplicationRecord, dataset, &len, &off, &start) != 1) {
    return std::string_view::npos;
  }
  return start;
}

// Where InsertDataset puts a new 2:dataset into `block` (which holds 2:00).
size_t InsertionPoint(std::string_view block, int dataset) {
  constexpr size_t npos = std::string_view::npos;
  int p = CanonicalPosition(dataset);
  if (p < 0) {
    for (int n = dataset + 1; n <= 254; ++n) {
      size_t at = StartOfFirst(block, n);
      if (at != npos) return at;
    }
    return block.size();
  }
  const int* order = CanonicalOrder();
  for (int k = p - 1; k >= 0; --k) {
    size_t at = EndOfFirst(block, order[k]);
    if (at != npos) return at;
  }
  for (int k = p + 1; k < kCanonicalOrderSize; ++k) {
    size_t at = StartOfFirst(block, order[k]);
    if (at != npos) return at;
  }
  size_t at = EndOfFirst(block, kDatasetRecordVersion);
  return at != npos ? at : block.size();
}

}  // namespace

void ResetCaption(CaptionRecord& record) {
  record.iptc.clear();
  record.resources.clear();
}

void FreeCaption(CaptionRecord& record) {
  std::string().swap(record.iptc);
  std::string().swap(record.resources);
}

void CopyCaption(CaptionRecord& destination, const CaptionRecord& source) {
  if (&destination == &source) return;
  destination.iptc = source.iptc;
  destination.resources = source.resources;
}

bool InstallIptcBlock(CaptionRecord& record, std::string_view bytes) {
  if (bytes.empty() || IsPlaceholderIptcBlock(bytes) ||
      static_cast<uint8_t>(bytes[0]) != kIimTagMarker) {
    return !record.iptc.empty();
  }
  // LocateRecordRun mends in place: work on a private copy, never on the
  // caller's (possibly mapped, read-only) bytes.
  std::string copy(bytes);
  size_t run_length = 0, run_offset = 0;
  LocateRecordRun(copy, kIimApplicationRecord, &run_length, &run_offset);
  std::string run;
  if (run_length > 0 && run_offset < copy.size()) {
    run = copy.substr(run_offset, std::min(run_length, copy.size() - run_offset));
  }
  // Without any record-2 run the whole data comes back and is kept: the file
  // carries IPTC data, so its document gets the caption markers and the
  // empty-field groups rather than " xnocap ".
  RemoveEmptyDatasets(run);
  record.iptc = std::move(run);
  DeleteDataset(record, kDatasetDropped);
  return !record.iptc.empty();
}

bool SetIptcBlock(CaptionRecord& record, std::string_view block) {
  if (block.empty()) return false;
  if (block.size() <= kSmallBlock && record.iptc.size() > kSmallBlock) return false;
  record.iptc.assign(block.data(), block.size());
  if (record.resources.empty()) return true;

  std::string_view res = record.resources;
  size_t old_start = FindIptcResource(res);
  size_t old_extent = 0;
  if (old_start != std::string_view::npos) {
    size_t size = 0;
    if (res.size() - old_start >= kResourceHeaderSize) {
      size = (static_cast<size_t>(static_cast<uint8_t>(res[old_start + 10])) << 8) |
             static_cast<uint8_t>(res[old_start + 11]);
    }
    size += size & 1;
    old_extent = std::min(kResourceHeaderSize + size, res.size() - old_start);
  } else {
    old_start = res.find(kSignature);
    if (old_start == std::string_view::npos) return false;
  }
  std::string resource = MakeIptcResource(block);
  size_t new_size = res.size() - old_extent + resource.size();
  if (new_size >= kResourceBlockLimit) return true;
  std::string rebuilt;
  rebuilt.reserve(new_size);
  rebuilt.append(res.substr(0, old_start));
  rebuilt.append(resource);
  rebuilt.append(res.substr(old_start + old_extent));
  record.resources = std::move(rebuilt);
  return true;
}

void DeleteDataset(CaptionRecord& record, int dataset) {
  // One pass: each search continues behind the dataset removed last, so a
  // block of many occurrences costs one walk, not one walk per occurrence.
  std::string_view block = record.iptc;
  std::string kept;
  size_t pos = 0;
  bool removed = false;
  for (;;) {
    size_t len = 0, off = 0, start = 0;
    if (FindDataset(block.substr(pos), kIimApplicationRecord, dataset, &len, &off, &start) != 1) {
      break;
    }
    kept.append(block.substr(pos, start));
    pos += off + len;
    removed = true;
  }
  if (!removed) return;
  kept.append(block.substr(pos));
  if (kept.empty()) {
    // The datasets removed were all that the block held.
    FreeCaption(record);
    return;
  }
  record.iptc.clear();
  if (!SetIptcBlock(record, kept)) record.iptc = std::move(kept);
}

bool InsertDataset(CaptionRecord& record, int dataset, std::string_view value) {
  if (dataset < 0 || dataset > 255 || value.size() > kIimMaxStandardLength) return false;
  std::string block = record.iptc;
  if (block.empty()) block.assign(RecordVersionDataset());
  size_t at;
  size_t same = EndOfFirst(block, dataset);
  if (same != std::string::npos) {
    at = same;
  } else {
    if (!IsPresent(block, kDatasetRecordVersion)) block.insert(0, RecordVersionDataset());
    at = InsertionPoint(block, dataset);
  }
  block.insert(std::min(at, block.size()), EncodeDataset(kIimApplicationRecord, dataset, value));
  record.iptc = std::move(block);
  return true;
}

char* GetCaptionText(const CaptionRecord& record, int dataset, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0 || record.iptc.empty()) return nullptr;
  size_t len = 0, off = 0;
  if (FindDataset(record.iptc, kIimApplicationRecord, dataset, &len, &off) != 1) return nullptr;
  size_t n = std::min({len, kCaptionTextMax, capacity - 1});
  std::memcpy(buffer, record.iptc.data() + off, n);
  buffer[n] = '\0';
  return buffer;
}

bool GetCaptionText(const CaptionRecord& record, int dataset, std::string* text) {
  if (record.iptc.empty()) return false;
  size_t len = 0, off = 0;
  if (FindDataset(record.iptc, kIimApplicationRecord, dataset, &len, &off) != 1) return false;
  if (text) text->assign(record.iptc, off, std::min(len, kCaptionTextMax));
  return true;
}

}  // namespace vantrel
