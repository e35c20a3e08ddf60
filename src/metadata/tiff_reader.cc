#include "metadata/tiff_reader.h"

#include <algorithm>

#include "metadata/iim_codec.h"

namespace vantrel {
namespace {

class Reader {
 public:
  Reader(std::string_view data, bool big_endian) : data_(data), big_(big_endian) {}
  // False when the number does not lie inside the data.
  bool U16(uint64_t at, uint32_t* v) const {
    if (at > data_.size() || data_.size() - at < 2) return false;
    uint32_t a = Byte(at), b = Byte(at + 1);
    *v = big_ ? (a << 8) | b : (b << 8) | a;
    return true;
  }
  bool U32(uint64_t at, uint32_t* v) const {
    if (at > data_.size() || data_.size() - at < 4) return false;
    uint32_t b0 = Byte(at), b1 = Byte(at + 1), b2 = Byte(at + 2), b3 = Byte(at + 3);
    *v = big_ ? (b0 << 24) | (b1 << 16) | (b2 << 8) | b3 : (b3 << 24) | (b2 << 16) | (b1 << 8) | b0;
    return true;
  }

 private:
  uint32_t Byte(uint64_t at) const { return static_cast<uint8_t>(data_[static_cast<size_t>(at)]); }
  std::string_view data_;
  bool big_;
};

// The 1:90 declaration of the tag's bytes: the envelope datasets from the
// first tag marker on (writers may pad in front of them).
IimCharset DeclaredTiffCharset(std::string_view tag_bytes) {
  const size_t marker = tag_bytes.find(static_cast<char>(kIimTagMarker));
  return marker == std::string_view::npos ? IimCharset::kUndeclared
                                          : DeclaredIimCharset(tag_bytes.substr(marker));
}

}  // namespace

bool ReadTiffCaption(std::string_view data, const std::string& /*path*/, CaptionRecord& record,
                     IimCharset* declared) {
  size_t limit = std::min(data.size(), kTiffHeaderSearch);
  size_t base = std::string_view::npos;
  for (size_t i = 0; i + 1 < limit; ++i) {
    if ((data[i] == 'I' && data[i + 1] == 'I') || (data[i] == 'M' && data[i + 1] == 'M')) {
      base = i;
      break;
    }
  }
  if (base == std::string_view::npos) return false;
  Reader r(data, data[base] == 'M');
  uint32_t magic = 0, ifd = 0, entries = 0;
  if (!r.U16(uint64_t{base} + 2, &magic) || magic != 42) return false;
  if (!r.U32(uint64_t{base} + 4, &ifd)) return false;
  uint64_t dir = uint64_t{base} + ifd;
  if (!r.U16(dir, &entries)) return false;

  bool met = false;
  for (uint32_t e = 0; e < entries; ++e) {
    uint64_t at = dir + 2 + uint64_t{e} * 12;
    uint32_t tag = 0, count = 0, offset = 0;
    if (!r.U16(at, &tag) || !r.U32(at + 4, &count) || !r.U32(at + 8, &offset)) break;
    if (tag != kTiffTagIptc) continue;
    met = true;
    uint64_t start = uint64_t{base} + offset;
    if (start >= data.size()) continue;
    uint64_t want = uint64_t{count} * 4 + 1;
    std::string copy(data.substr(static_cast<size_t>(start), static_cast<size_t>(std::min<uint64_t>(
                                                                 want, data.size() - start))));
    size_t run_length = 0, run_offset = 0;
    if (LocateRecordRun(copy, kIimApplicationRecord, &run_length, &run_offset) == 1 &&
        run_length > 0) {
      InstallIptcBlock(record, std::string_view(copy).substr(run_offset, run_length));
      if (declared != nullptr) *declared = DeclaredTiffCharset(copy);
    }
  }
  return met;
}

}  // namespace vantrel
