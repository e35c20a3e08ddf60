#include "metadata/eps_reader.h"

#include <algorithm>

#include "metadata/iim_codec.h"

namespace vantrel {
namespace {

constexpr std::string_view kBegin = "%BeginPhotoshop";
constexpr std::string_view kEnd = "%EndPhotoshop";
constexpr unsigned char kDosEpsMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
constexpr size_t kDosEpsHeader = 12;

inline uint8_t At(std::string_view s, size_t i) { return static_cast<uint8_t>(s[i]); }

uint32_t Le32(std::string_view s, size_t i) {
  return uint32_t{At(s, i)} | (uint32_t{At(s, i + 1)} << 8) | (uint32_t{At(s, i + 2)} << 16) |
         (uint32_t{At(s, i + 3)} << 24);
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsDosEps(std::string_view data) {
  return data.size() >= kDosEpsHeader && At(data, 0) == kDosEpsMagic[0] &&
         At(data, 1) == kDosEpsMagic[1] && At(data, 2) == kDosEpsMagic[2] &&
         At(data, 3) == kDosEpsMagic[3];
}

// End of the line that holds position `pos`: behind its terminator (LF, CR,
// CR LF or LF CR), or the data end.
size_t EndOfLine(std::string_view data, size_t pos) {
  while (pos < data.size() && data[pos] != '\n' && data[pos] != '\r') ++pos;
  if (pos >= data.size()) return data.size();
  char first = data[pos++];
  if (pos < data.size() && (data[pos] == '\n' || data[pos] == '\r') && data[pos] != first) ++pos;
  return pos;
}

// The end of the last consecutive record-2 dataset that starts at `start`.
size_t IptcEnd(std::string_view bytes, size_t start) {
  size_t i = start;
  size_t end = start;
  while (bytes.size() - i >= 2 && At(bytes, i) == kIimTagMarker &&
         At(bytes, i + 1) == kIimApplicationRecord) {
    size_t length = bytes.size() - i >= 5 ? (size_t{At(bytes, i + 3)} << 8) | At(bytes, i + 4) : 0;
    uint64_t next = uint64_t{i} + 5 + length;
    end = static_cast<size_t>(std::min<uint64_t>(next, bytes.size()));
    if (next >= bytes.size()) break;
    i = static_cast<size_t>(next);
  }
  return end;
}

bool ReadSection(std::string_view ps, CaptionRecord& record) {
  if (ps.size() < 4 || ps.substr(0, 4) != "%!PS") return false;
  size_t begin = ps.find(kBegin);
  if (begin == std::string_view::npos) return false;
  // The end line is looked for behind the begin line: an "%EndPhotoshop" in
  // front of the section does not end it.
  size_t end_mark = ps.find(kEnd, begin);
  if (end_mark == std::string_view::npos) return false;
  size_t section_end = EndOfLine(ps, end_mark);

  std::string decoded = DecodeEpsHexSection(ps.substr(begin, section_end - begin));
  if (decoded.empty()) return true;
  record.resources = decoded;

  size_t start = std::string::npos;
  for (size_t i = 0; i + 1 < decoded.size(); ++i) {
    if (At(decoded, i) == kIimTagMarker && At(decoded, i + 1) == kIimApplicationRecord) {
      start = i;
      break;
    }
  }
  if (start == std::string::npos) return true;
  size_t end = IptcEnd(decoded, start);
  if (end <= start) return true;
  std::string_view iptc = std::string_view(decoded).substr(start, end - start);
  if (!IsPlaceholderIptcBlock(iptc)) InstallIptcBlock(record, iptc);
  return true;
}

}  // namespace

std::string DecodeEpsHexSection(std::string_view s) {
  std::string out;
  int high = -1;                 // a pending first digit
  size_t i = s.empty() ? 0 : 1;  // pass over the "%" of the begin line
  for (;;) {
    size_t pct = s.find('%', i);
    if (pct == std::string_view::npos) break;
    i = pct;
    while (i < s.size() && (s[i] == '%' || s[i] == ' ' || s[i] == '\t')) ++i;
    if (i + 1 < s.size() && s[i + 1] == 'n') break;  // "%EndPhotoshop"
    for (; i < s.size(); ++i) {
      uint8_t c = At(s, i);
      if (c < '0') break;
      int v = HexValue(c);
      if (v < 0) break;
      if (high < 0) {
        high = v;
      } else {
        out.push_back(static_cast<char>((high << 4) | v));
        high = -1;
      }
    }
  }
  return out;
}

bool ReadEpsCaption(std::string_view data, const std::string& path, CaptionRecord& record,
                    FileSystem* fs) {
  if (!IsDosEps(data)) return ReadSection(data, record);
  uint32_t offset = Le32(data, 4);
  uint32_t length = Le32(data, 8);
  if (offset < data.size() / 2) return ReadSection(data.substr(offset), record);
  // The PostScript section starts in the second half: read it from the file
  // into a buffer of its own.
  size_t want = std::min<size_t>(length, kEpsMaxSectionRead);
  if (fs == nullptr) fs = DefaultFileSystem();
  if (!path.empty() && want > 0) {
    StatusOr<std::string> section = fs->ReadFileRange(path, offset, want);
    if (section.ok()) return ReadSection(*section, record);
  }
  if (offset >= data.size()) return false;
  return ReadSection(data.substr(offset, std::min<size_t>(length, data.size() - offset)), record);
}

}  // namespace vantrel
