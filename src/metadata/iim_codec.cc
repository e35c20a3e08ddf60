#include "metadata/iim_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace vantrel {
namespace {

constexpr char kPlaceholder[] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02,
                                 0x1C, 0x02, 0x78, 0x00, 0x02, 0x20, 0x20};
constexpr char kRecordVersion[] = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};

constexpr int kCanonical[kCanonicalOrderSize] = {120, 122, 105, 40,  80,  85,  110, 115,
                                                 5,   55,  90,  95,  101, 103, 15,  20,
                                                 10,  25,  116, 110, 22,  65,  75};

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

// The header of the dataset at `pos`, as far as it lies in the block.
struct Header {
  bool ok = false;  // the header lies wholly inside the block
  int record = 0;
  int dataset = 0;
  size_t size = 0;            // header bytes
  uint64_t length = 0;        // declared value length
  size_t extended_bytes = 0;  // N, 0 for a standard length
};

// Reads the header at `pos` (which must hold the tag marker). Extended lengths
// with more than `max_n` length bytes are read as `clamp_n` bytes when
// `clamp_n` is non-zero, else the header is refused. A length that does not
// fit in 64 bits is refused.
Header ReadHeader(std::string_view block, size_t pos, size_t max_n, size_t clamp_n) {
  Header h;
  if (pos > block.size() || block.size() - pos < kIimHeaderSize) return h;
  h.record = At(block, pos + 1);
  h.dataset = At(block, pos + 2);
  uint32_t field = (uint32_t{At(block, pos + 3)} << 8) | At(block, pos + 4);
  if ((field & 0x8000) == 0) {
    h.length = field;
    h.size = kIimHeaderSize;
    h.ok = true;
    return h;
  }
  size_t n = field & 0x7FFF;
  if (n > max_n) {
    if (clamp_n == 0) return h;
    n = clamp_n;
  }
  if (n > 8) return h;
  if (block.size() - pos - kIimHeaderSize < n) return h;
  uint64_t length = 0;
  for (size_t k = 0; k < n; ++k) length = (length << 8) | At(block, pos + kIimHeaderSize + k);
  h.length = length;
  h.extended_bytes = n;
  h.size = kIimHeaderSize + n;
  h.ok = true;
  return h;
}

// Offset behind the value, saturating instead of wrapping.
uint64_t NextPosition(size_t pos, const Header& h) {
  uint64_t start = uint64_t{pos} + h.size;
  if (h.length > UINT64_MAX - start) return UINT64_MAX;
  return start + h.length;
}

}  // namespace

std::string_view PlaceholderIptcBlock() {
  return std::string_view(kPlaceholder, sizeof(kPlaceholder));
}

bool IsPlaceholderIptcBlock(std::string_view bytes) { return bytes == PlaceholderIptcBlock(); }

std::string_view RecordVersionDataset() {
  return std::string_view(kRecordVersion, sizeof(kRecordVersion));
}

const int* CanonicalOrder() { return kCanonical; }

int CanonicalPosition(int dataset) {
  static const std::array<int, 256> positions = [] {
    std::array<int, 256> p;
    p.fill(-1);
    for (int i = kCanonicalOrderSize - 1; i >= 0; --i) p[kCanonical[i]] = i;
    return p;
  }();
  if (dataset < 0 || dataset > 255) return -1;
  return positions[dataset];
}

const char* IimDatasetName(int dataset) {
  struct Name {
    int dataset;
    const char* name;
  };
  static constexpr Name kNames[] = {
      {0, "Record Version"},
      {3, "Object Type Reference"},
      {4, "Object Attribute Reference"},
      {5, "Object Name"},
      {7, "Edit Status"},
      {8, "Editorial Update"},
      {10, "Urgency"},
      {12, "Subject Reference"},
      {15, "Category"},
      {20, "Supplemental Category"},
      {22, "Fixture Identifier"},
      {25, "Keywords"},
      {26, "Content Location Code"},
      {27, "Content Location Name"},
      {30, "Release Date"},
      {35, "Release Time"},
      {37, "Expiration Date"},
      {38, "Expiration Time"},
      {40, "Special Instructions"},
      {42, "Action Advised"},
      {45, "Reference Service"},
      {47, "Reference Date"},
      {50, "Reference Number"},
      {55, "Date Created"},
      {60, "Time Created"},
      {62, "Digital Creation Date"},
      {63, "Digital Creation Time"},
      {65, "Originating Program"},
      {70, "Program Version"},
      {75, "Object Cycle"},
      {80, "By-line"},
      {85, "By-line Title"},
      {90, "City"},
      {92, "Sub-location"},
      {95, "Province/State"},
      {100, "Country/Primary Location Code"},
      {101, "Country/Primary Location Name"},
      {103, "Original Transmission Reference"},
      {105, "Headline"},
      {110, "Credit"},
      {115, "Source"},
      {116, "Copyright Notice"},
      {118, "Contact"},
      {120, "Caption/Abstract"},
      {121, "Local Caption"},
      {122, "Writer/Editor"},
      {125, "Rasterized Caption"},
      {130, "Image Type"},
      {131, "Image Orientation"},
      {135, "Language Identifier"},
      {150, "Audio Type"},
      {151, "Audio Sampling Rate"},
      {152, "Audio Sampling Resolution"},
      {153, "Audio Duration"},
      {154, "Audio Outcue"},
      {200, "ObjectData Preview File Format"},
      {201, "ObjectData Preview File Format Version"},
      {202, "ObjectData Preview Data"},
  };
  for (const Name& n : kNames) {
    if (n.dataset == dataset) return n.name;
  }
  return "";
}

std::vector<IimDataset> WalkDatasets(std::string_view block) {
  std::vector<IimDataset> out;
  size_t pos = 0;
  while (pos < block.size() && At(block, pos) == kIimTagMarker) {
    Header h = ReadHeader(block, pos, 8, 0);
    if (!h.ok) break;
    IimDataset d;
    d.record = h.record;
    d.dataset = h.dataset;
    d.offset = pos;
    d.header_size = h.size;
    d.declared_length = h.length;
    size_t value_start = pos + h.size;
    size_t avail = block.size() - value_start;
    d.value = block.substr(value_start, static_cast<size_t>(std::min<uint64_t>(h.length, avail)));
    out.push_back(d);
    uint64_t next = NextPosition(pos, h);
    if (next >= block.size()) break;
    pos = static_cast<size_t>(next);
  }
  return out;
}

int CountDatasets(std::string_view block, int record, int dataset) {
  int count = 0;
  for (const IimDataset& d : WalkDatasets(block)) {
    if (d.record == record && d.dataset == dataset) ++count;
  }
  return count;
}

int GetDatasetValue(std::string_view block, int record, int dataset, int k, char* out,
                    size_t capacity) {
  if (out == nullptr || capacity == 0 || k < 0) return -1;
  size_t pos = 0;
  int seen = 0;
  while (pos < block.size() && At(block, pos) == kIimTagMarker) {
    Header h = ReadHeader(block, pos, 5, 0);
    if (!h.ok) return -1;
    if (h.record == record && h.dataset == dataset) {
      if (seen == k) {
        if (h.length < 1) return -1;
        size_t value_start = pos + h.size;
        uint64_t n = std::min<uint64_t>(h.length, kIimValueCut);
        n = std::min<uint64_t>(n, block.size() - value_start);
        n = std::min<uint64_t>(n, capacity);
        if (n < 1) return -1;
        std::memcpy(out, block.data() + value_start, static_cast<size_t>(n));
        return static_cast<int>(n);
      }
      ++seen;
    }
    uint64_t next = NextPosition(pos, h);
    if (next >= block.size()) return -1;
    pos = static_cast<size_t>(next);
  }
  return -1;
}

int FindDataset(std::string_view block, int record, int dataset, size_t* value_length,
                size_t* value_offset, size_t* dataset_offset) {
  if (block.size() < 6) return -1;
  size_t pos = 0;
  for (;;) {
    if (At(block, pos) != kIimTagMarker) return 0;
    Header h = ReadHeader(block, pos, 4, 4);
    if (!h.ok) return -1;
    size_t value_start = pos + h.size;
    if (h.record == record && h.dataset == dataset) {
      uint64_t avail = block.size() - value_start;
      if (value_length) *value_length = static_cast<size_t>(std::min<uint64_t>(h.length, avail));
      if (value_offset) *value_offset = value_start;
      if (dataset_offset) *dataset_offset = pos;
      return 1;
    }
    uint64_t next = NextPosition(pos, h);
    // The next dataset must leave room for its header.
    if (next > block.size() || block.size() - next < kIimHeaderSize) return -1;
    pos = static_cast<size_t>(next);
  }
}

int LocateRecordRun(std::string& b, int record, size_t* run_length, size_t* run_offset) {
  const uint8_t r = static_cast<uint8_t>(record);
  auto u = [&b](size_t i) { return static_cast<uint8_t>(b[i]); };
  auto put = [&b](size_t i, uint8_t v) { b[i] = static_cast<char>(v); };
  size_t dummy_len = 0, dummy_off = 0;
  if (!run_length) run_length = &dummy_len;
  if (!run_offset) run_offset = &dummy_off;

  *run_length = b.size();
  *run_offset = 0;
  if (b.size() >= 4 && u(0) == kIimTagMarker && u(1) == r && u(3) >= 0x80) {
    *run_length = 0;
    return 0;
  }

  // Find the start of the run, swapping back markers written as "r 1C".
  size_t start = b.size();
  for (size_t i = 0; i + 3 < b.size(); ++i) {
    if (u(i + 1) == kIimTagMarker && u(i) == r && u(i + 2) != 1) {
      put(i, kIimTagMarker);
      put(i + 1, r);
    }
    if (u(i) == kIimTagMarker && u(i + 1) == r && u(i + 3) < 8) {
      start = i;
      break;
    }
  }
  if (start == b.size()) return 0;
  *run_offset = start;

  // The run is walked with a gap: bytes that the repairs remove are not moved
  // out at once (that would cost the rest of the buffer for every repair) but
  // collect in a gap behind the walk position, closed once at the end.
  // Logical position p >= i lives at physical p + gap; positions before i are
  // already in place.
  size_t i = start;
  size_t gap = 0;
  auto lu = [&](size_t p) { return static_cast<uint8_t>(b[p + gap]); };
  auto lput = [&](size_t p, uint8_t v) { b[p + gap] = static_cast<char>(v); };
  auto size = [&] { return b.size() - gap; };
  // Removes logical bytes i+2..i+4: the two bytes before them move up.
  auto remove3 = [&] {
    b[i + gap + 4] = b[i + gap + 1];
    b[i + gap + 3] = b[i + gap];
    gap += 3;
  };
  auto finish = [&](size_t run_end, int result) {
    b.erase(i, gap);
    *run_length = run_end - start;
    return result;
  };
  for (;;) {
    if (size() >= 5 && i < size() - 5) {
      if (lu(i + 3) == kIimTagMarker && lu(i + 4) == r && lu(i + 2) == 116) {
        remove3();  // a 2:116 header that lost its length
      } else if (lu(i + 1) == kIimTagMarker && lu(i) == r) {
        lput(i, kIimTagMarker);
        lput(i + 1, r);
        if (lu(i + 3) == 2 && lu(i + 4) == kIimTagMarker) {
          remove3();
        } else if (lu(i + 3) != 0 && lu(i + 4) < 16) {
          uint8_t t = lu(i + 3);
          lput(i + 3, lu(i + 4));
          lput(i + 4, t);
        }
      }
    }
    if (i + 1 >= size() || lu(i) != kIimTagMarker || lu(i + 1) != r) {
      return finish(std::min(i, size()), 1);
    }
    std::string_view logical(b.data() + gap, b.size() - gap);
    Header h = ReadHeader(logical, i, 4, 0);
    if (!h.ok) return finish(i, 1);
    uint64_t remaining = size() - (i + h.size);
    if (h.length > remaining) return finish(i, 1);
    size_t next = static_cast<size_t>(NextPosition(i, h));
    if (next >= size()) return finish(size(), 0);
    if (gap > 0) std::memmove(&b[i], &b[i + gap], next - i);
    i = next;
  }
}

void RemoveEmptyDatasets(std::string& block) {
  // Compacts in one pass: kept datasets move down to `write`.
  size_t read = 0, write = 0;
  while (read < block.size() && static_cast<uint8_t>(block[read]) == kIimTagMarker) {
    Header h = ReadHeader(block, read, 4, 0);
    if (!h.ok) break;
    if (h.length == 0) {
      read += h.size;
      continue;
    }
    uint64_t next = NextPosition(read, h);
    size_t end = static_cast<size_t>(std::min<uint64_t>(next, block.size()));
    if (write != read) std::memmove(&block[write], &block[read], end - read);
    write += end - read;
    read = end;
    if (next >= block.size()) break;
  }
  if (write == read) return;
  std::memmove(&block[write], &block[read], block.size() - read);
  block.resize(write + (block.size() - read));
}

std::string EncodeDataset(int record, int dataset, std::string_view value) {
  if (value.size() > kIimMaxStandardLength) value = value.substr(0, kIimMaxStandardLength);
  std::string out;
  out.reserve(kIimHeaderSize + value.size());
  out.push_back(static_cast<char>(kIimTagMarker));
  out.push_back(static_cast<char>(record));
  out.push_back(static_cast<char>(dataset));
  out.push_back(static_cast<char>((value.size() >> 8) & 0xFF));
  out.push_back(static_cast<char>(value.size() & 0xFF));
  out.append(value);
  return out;
}

}  // namespace vantrel
