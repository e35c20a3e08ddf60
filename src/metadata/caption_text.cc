#include "metadata/caption_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "metadata/iim_codec.h"
#include "platform/local_time.h"

namespace vantrel {
namespace {

constexpr int kCommonEmptyFields[] = {5, 15, 20, 25, 40, 55, 80, 90, 101, 105, 110, 120, 121};
constexpr int kDatasetTextSlots = 231;

// Appends to a string without letting it grow beyond a capacity.
class BoundedAppender {
 public:
  BoundedAppender(std::string& out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Add(std::string_view s) {
    size_t room = capacity_ > out_.size() ? capacity_ - out_.size() : 0;
    size_t n = std::min(room, s.size());
    out_.append(s.data(), n);
    written_ += n;
  }
  bool full() const { return out_.size() >= capacity_; }
  size_t written() const { return written_; }

 private:
  std::string& out_;
  size_t capacity_;
  size_t written_ = 0;
};

std::string Number3(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%03i", n);
  return buf;
}

std::string_view UpToNul(std::string_view s) {
  size_t nul = s.find('\0');
  return nul == std::string_view::npos ? s : s.substr(0, nul);
}

bool HasWordChar(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) > 0x20; });
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Offset of the first occurrence of `needle` in `hay` without regard to case.
size_t FindNoCase(std::string_view hay, std::string_view needle) {
  if (needle.size() > hay.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    if (EqualsNoCase(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

// The value of one occurrence as GetDatasetValue gives it (at most 2048 bytes),
// or nullopt-like empty with ok=false.
bool DatasetValue(std::string_view block, int dataset, int k, std::string* value) {
  char buf[kIimValueCut];
  int n = GetDatasetValue(block, kIimApplicationRecord, dataset, k, buf, sizeof buf);
  if (n < 1) return false;
  value->assign(buf, static_cast<size_t>(n));
  return true;
}

// ---- Caption tags ----------------------------------------------------------

struct CaptionTag {
  const char* tag;
  int dataset;
};

constexpr CaptionTag kCaptionTags[] = {
    {"#CAP", 120}, {"#BYL", 80}, {"#SPE", 40},  {"#CRE", 110}, {"#CAT", 15},  {"#DAT", 55},
    {"#SOU", 115}, {"#CIT", 90}, {"#HED", 105}, {"#OBJ", 5},   {"#TRA", 103}, {"#CON", 101},
    {"#SCA", 20},  {"#KEY", 25}, {"#STA", 95},  {"#CWR", 122},
};

// The dataset that the tag at the start of `s` (4 bytes) opens, or -1.
int MatchTag(std::string_view s) {
  for (const CaptionTag& t : kCaptionTags) {
    if (EqualsNoCase(s, t.tag)) return t.dataset;
  }
  // "#%03i", 000 to 255.
  if (s[0] == '#' && std::isdigit(static_cast<uint8_t>(s[1])) &&
      std::isdigit(static_cast<uint8_t>(s[2])) && std::isdigit(static_cast<uint8_t>(s[3]))) {
    int n = (s[1] - '0') * 100 + (s[2] - '0') * 10 + (s[3] - '0');
    if (n <= 255) return n;
  }
  return -1;
}

// ---- Macros ----------------------------------------------------------------

// Days since 1970-01-01 of a civil date (proleptic Gregorian), and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

// Reads an optional "+n" or "-n" day offset at the start of `s`; returns the
// number of bytes consumed.
size_t ReadDayOffset(std::string_view s, int64_t* days) {
  *days = 0;
  if (s.size() < 2 || (s[0] != '+' && s[0] != '-') || !std::isdigit(static_cast<uint8_t>(s[1]))) {
    return 0;
  }
  size_t i = 1;
  int64_t v = 0;
  while (i < s.size() && std::isdigit(static_cast<uint8_t>(s[i]))) {
    v = std::min<int64_t>(v * 10 + (s[i] - '0'), 1000000);  // keeps years at four digits
    ++i;
  }
  *days = s[0] == '-' ? -v : v;
  return i;
}

// "yyyyMMdd" of the local date `days` after the clock's.
std::string DateText(const MacroClock& clock, int64_t days) {
  LocalTimeParts t = LocalTime(clock.unix_seconds);
  int64_t y = 0;
  int m = 0, d = 0;
  CivilFromDays(DaysFromCivil(t.year, t.month, t.day) + days, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04lld%02d%02d", static_cast<long long>(y), m, d);
  return buf;
}

// The locale's long date of the local day `days` after the clock's: formed
// from local noon of that day, so that a daylight-saving change cannot move it.
std::string LongDateText(const MacroClock& clock, int64_t days) {
  LocalTimeParts t = LocalTime(clock.unix_seconds);
  int64_t noon = clock.unix_seconds + days * 86400 + (12 - t.hour) * 3600 - t.minute * 60;
  return LongDate(noon).substr(0, kMacroTextMax);
}

// UTC "hhmmss" and the zone "+hh00" / "-hh00". The zone is the whole
// difference between local and UTC time, days included, so that it stays
// right when the local date is not the UTC date.
std::string UtcTimeText(const MacroClock& clock) {
  LocalTimeParts utc = UtcTime(clock.unix_seconds);
  LocalTimeParts local = LocalTime(clock.unix_seconds);
  int64_t day_difference = DaysFromCivil(local.year, local.month, local.day) -
                           DaysFromCivil(utc.year, utc.month, utc.day);
  int64_t hours = day_difference * 24 + local.hour - utc.hour;
  hours = std::clamp<int64_t>(hours, -99, 99);
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, "%02i%02i%02i", utc.hour, utc.minute, utc.second);
  std::snprintf(buf + n, sizeof buf - n, "%c%02i00", hours >= 0 ? '+' : '-',
                static_cast<int>(hours >= 0 ? hours : -hours));
  return buf;
}

}  // namespace

bool FieldCountsAsEmpty(EmptyFieldMode mode, int dataset) {
  switch (mode) {
    case EmptyFieldMode::kAll:
      return true;
    case EmptyFieldMode::kCommon:
      return std::find(std::begin(kCommonEmptyFields), std::end(kCommonEmptyFields), dataset) !=
             std::end(kCommonEmptyFields);
    default:
      return false;
  }
}

size_t WriteCaptionFields(const CaptionRecord& record, std::string& out, std::string_view prefix,
                          std::string_view suffix, EmptyFieldMode mode, size_t capacity) {
  BoundedAppender w(out, capacity);
  const std::string_view block = record.iptc;
  std::string closing = std::string(suffix) + " ";
  std::string value;
  // How often each dataset of the application record occurs, from one walk
  // of the block (the same walk CountDatasets makes for one dataset).
  int occurrences[256] = {};
  for (const IimDataset& d : WalkDatasets(block)) {
    if (d.record == kIimApplicationRecord && d.dataset >= 0 && d.dataset <= 255) {
      ++occurrences[d.dataset];
    }
  }
  for (int n = 1; n <= 255 && !w.full(); ++n) {
    const int count = occurrences[n];
    bool counts = FieldCountsAsEmpty(mode, n);
    if (count == 0 && !counts) continue;
    std::string opening = std::string(prefix) + Number3(n) + " ";
    if (count == 0) {
      if (counts) {
        w.Add(opening);
        w.Add("xnoword ");
        w.Add(closing);
      }
      continue;
    }
    w.Add(opening);
    std::string line;
    if (n == kDatasetTextSlots) {
      if (DatasetValue(block, n, 0, &value)) {
        size_t slots = value.size() / kTextSlotSize;
        for (size_t s = 0; s < slots; ++s) {
          line += UpToNul(std::string_view(value).substr(s * kTextSlotSize, kTextSlotSize));
          line += ' ';
        }
      }
    } else {
      for (int k = 0; k < count; ++k) {
        if (!DatasetValue(block, n, k, &value)) continue;
        line += UpToNul(value);
        line += ' ';
        if (line.size() > capacity) break;  // the rest could not be written anyway
      }
    }
    if (HasWordChar(line)) {
      w.Add(line);
      w.Add(closing);
    } else if (counts) {
      w.Add("xnoword ");
      w.Add(closing);
    }
  }
  return w.written();
}

void SplitLocalCaption(CaptionRecord& record) {
  std::string text;
  if (!GetCaptionText(record, kDatasetCaption, &text)) return;
  text.resize(UpToNul(text).size());
  if (text.empty()) return;
  std::string_view all = text;
  std::string_view caption = all;
  std::string_view local;
  size_t at = FindNoCase(all, kLocalCaptionMarker);
  if (at != std::string_view::npos) {
    caption = all.substr(0, at);
    local = all.substr(at + std::strlen(kLocalCaptionMarker));
  }
  std::string caption_part(caption);
  std::string local_part(local);
  DeleteDataset(record, kDatasetCaption);
  InsertDataset(record, kDatasetCaption, caption_part);
  if (!local_part.empty()) {
    DeleteDataset(record, kDatasetLocalCaption);
    InsertDataset(record, kDatasetLocalCaption, local_part);
  }
}

MacroClock MacroClock::Now() { return MacroClock{NowUnix()}; }

std::string ExpandCaptionMacros(std::string_view value, std::string_view file_name,
                                const MacroClock& clock) {
  static constexpr std::string_view kDate = "%%INSDATE";
  static constexpr std::string_view kLongDate = "%%INSLDATE";
  static constexpr std::string_view kTime = "%%INSTIME";
  static constexpr std::string_view kLongTime = "%%INSLTIME";
  static constexpr std::string_view kFile = "%%INSFILE";
  std::string out;
  size_t i = 0;
  while (i < value.size() && out.size() < kTaggedValueMax) {
    std::string_view rest = value.substr(i);
    std::string text;
    size_t used = 0;
    int64_t days = 0;
    auto starts = [&](std::string_view macro) {
      return rest.size() >= macro.size() && EqualsNoCase(rest.substr(0, macro.size()), macro);
    };
    if (rest[0] != '%') {
      // fast path: not a macro
    } else if (starts(kDate)) {
      used = kDate.size();
      used += ReadDayOffset(rest.substr(used), &days);
      text = DateText(clock, days);
    } else if (starts(kLongDate)) {
      used = kLongDate.size();
      used += ReadDayOffset(rest.substr(used), &days);
      text = LongDateText(clock, days);
    } else if (starts(kTime)) {
      used = kTime.size();
      text = UtcTimeText(clock);
    } else if (starts(kLongTime)) {
      used = kLongTime.size();
      text = TimeText(clock.unix_seconds);
    } else if (starts(kFile)) {
      used = kFile.size();
      text = std::string(file_name.substr(0, kMacroTextMax));
    }
    if (used == 0) {
      out += value[i++];
      continue;
    }
    if (text.size() > kMacroTextMax) text.resize(kMacroTextMax);
    out += text;
    i += used;
  }
  if (out.size() > kTaggedValueMax) out.resize(kTaggedValueMax);
  return out;
}

CaptionTextForm ClassifyCaptionText(std::string_view bytes) {
  if (bytes.empty()) return CaptionTextForm::kNotCaption;
  uint8_t first = static_cast<uint8_t>(bytes[0]);
  if (first == kIimTagMarker) return CaptionTextForm::kRawIptc;
  if (bytes.substr(0, 3).find('#') != std::string_view::npos) return CaptionTextForm::kTagged;
  if (first >= 0x20 || first == '\n' || first == '\r') return CaptionTextForm::kPlain;
  return CaptionTextForm::kNotCaption;
}

bool ParseCaptionText(std::string_view bytes, std::string_view file_name, const MacroClock& clock,
                      CaptionRecord& scratch) {
  bytes = bytes.substr(0, kCaptionFileMax);
  CaptionTextForm form = ClassifyCaptionText(bytes);
  switch (form) {
    case CaptionTextForm::kNotCaption:
      return false;
    case CaptionTextForm::kRawIptc:
      InstallIptcBlock(scratch, bytes);  // the placeholder block is refused there
      return true;
    case CaptionTextForm::kPlain:
      InsertDataset(scratch, kDatasetCaption, UpToNul(bytes));
      return true;
    case CaptionTextForm::kTagged:
      break;
  }
  // Tagged text: the text ends at its first NUL, as a C string would.
  const std::string_view text = UpToNul(bytes);
  size_t p = 0;
  while (p + 4 <= text.size()) {
    int dataset = MatchTag(text.substr(p, 4));
    if (dataset < 0) {
      ++p;
      continue;
    }
    p += 4;
    // The value runs to the next '#'; its first character is always taken.
    size_t end = text.size();
    if (p < text.size()) {
      size_t hash = text.find('#', p + 1);
      if (hash != std::string_view::npos) end = hash;
    }
    std::string_view value = text.substr(p, end - p);
    while (!value.empty() && static_cast<uint8_t>(value.back()) < 0x20) value.remove_suffix(1);
    value = value.substr(0, kTaggedValueMax);
    if (value.empty()) continue;
    std::string expanded = ExpandCaptionMacros(value, file_name, clock);
    if (!expanded.empty()) InsertDataset(scratch, dataset, expanded);
  }
  return true;
}

bool ReadCaptionText(CaptionRecord& record, std::string_view bytes, std::string_view file_name,
                     const MacroClock& clock) {
  CaptionRecord scratch;
  if (!ParseCaptionText(bytes, file_name, clock, scratch)) return false;
  CaptionRecord merged;
  CopyCaption(merged, record);
  MergeCaption(merged, scratch);
  SetIptcBlock(record, merged.iptc);  // refusal leaves the record as it was
  return true;
}

bool ReadCaptionTextFile(CaptionRecord& record, FileSystem& fs, const std::string& path,
                         std::string_view file_name, const MacroClock& clock) {
  StatusOr<std::string> bytes = fs.ReadFileRange(path, 0, kCaptionFileMax);
  if (!bytes.ok()) return false;
  return ReadCaptionText(record, *bytes, file_name, clock);
}

void MergeCaption(CaptionRecord& destination, const CaptionRecord& source) {
  const std::string_view from = source.iptc;
  std::string value;
  for (int n = 1; n <= 255; ++n) {
    DeleteDataset(destination, n);
    if (!DatasetValue(from, n, 0, &value)) continue;
    int count = CountDatasets(from, kIimApplicationRecord, n);
    for (int k = 0; k < count; ++k) {
      if (!DatasetValue(from, n, k, &value)) continue;
      if (n != 20 && n != kDatasetKeywords) DeleteDataset(destination, n);
      InsertDataset(destination, n, value);
    }
  }
}

}  // namespace vantrel
