#include "metadata/mac_streams.h"

#include <array>
#include <optional>

#include "metadata/iim_codec.h"

namespace vantrel {
namespace {

constexpr char kCr = '\r';

// Decimal digits at the start of `s` (no sign, no blanks), capped so that any
// long run stays out of the dataset range. `digits` receives how many.
int ReadNumber(std::string_view s, size_t* digits) {
  size_t i = 0;
  int v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v < 100000) v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (digits) *digits = i;
  return v;
}

bool IsBlankOrControl(char c) { return static_cast<uint8_t>(c) <= 0x20; }

// The value of an entry that starts at `start`: blanks are skipped, then one
// control character, and the value ends one byte before the entry's end.
std::string_view EntryValue(std::string_view entry, size_t start) {
  while (start < entry.size() && entry[start] == ' ') ++start;
  if (start < entry.size() && IsBlankOrControl(entry[start])) ++start;
  if (entry.size() < 1 || start >= entry.size() - 1) return {};
  return entry.substr(start, entry.size() - 1 - start);
}

using FirstValues = std::array<std::optional<std::string_view>, 255>;

std::string BuildBlock(const FirstValues& first) {
  std::string block(RecordVersionDataset());
  for (int n = 1; n <= 254; ++n) {
    if (first[n] && !first[n]->empty()) block += EncodeDataset(kIimApplicationRecord, n, *first[n]);
  }
  return block;
}

void InstallWithNewRecordVersion(CaptionRecord& record, std::string_view bytes) {
  CaptionRecord scratch;
  if (!InstallIptcBlock(scratch, bytes)) return;
  InstallIptcBlock(record, WithNewRecordVersion(scratch.iptc));
}

}  // namespace

const char* TextStreamFormName(TextStreamForm form) {
  switch (form) {
    case TextStreamForm::kRawIptc:
      return "raw IPTC-NAA";
    case TextStreamForm::kDatasetLines:
      return "dataset lines";
    case TextStreamForm::kIptcEntries:
      return "IPTC entries";
    case TextStreamForm::kMacBinaryIptcEntries:
      return "IPTC entries behind MacBinary header";
    case TextStreamForm::kCaptionText:
      return "caption text";
  }
  return "caption text";
}

TextStreamForm ClassifyTextStream(std::string_view s) {
  if (s.size() >= 15 && static_cast<uint8_t>(s[0]) == kIimTagMarker)
    return TextStreamForm::kRawIptc;
  if (s.size() > 14 && s.substr(0, 2) == "2:") return TextStreamForm::kDatasetLines;
  if (s.size() > 14 && s.substr(0, 4) == "IPTC") return TextStreamForm::kIptcEntries;
  if (s.size() >= kMacBinaryHeaderSize + 15 && s.substr(kMacBinaryHeaderSize, 4) == "IPTC") {
    return TextStreamForm::kMacBinaryIptcEntries;
  }
  return TextStreamForm::kCaptionText;
}

std::string WithNewRecordVersion(std::string_view block) {
  std::string out(RecordVersionDataset());
  for (const IimDataset& d : WalkDatasets(block)) {
    if (d.record == kIimApplicationRecord && d.dataset == kDatasetRecordVersion) continue;
    out.append(block.substr(d.offset, d.header_size + d.value.size()));
  }
  return out;
}

std::string MergeTextIntoCaption(std::string_view iptc, std::string_view text) {
  std::string out(RecordVersionDataset());
  for (int n = 1; n <= 254; ++n) {
    size_t length = 0, offset = 0;
    bool found = FindDataset(iptc, kIimApplicationRecord, n, &length, &offset) == 1;
    std::string_view value = found ? iptc.substr(offset, length) : std::string_view();
    if (n == kDatasetCaption && !text.empty()) {
      std::string caption;
      size_t half = value.size() / 2;
      if (value.empty()) {
        // An empty caption counts as none: the text is not to be lost.
        caption.assign(text);
      } else if (text.size() >= half && text.substr(0, half) == value.substr(0, half)) {
        caption.assign(value);
      } else {
        caption.assign(value).append(" / ").append(text);
      }
      out += EncodeDataset(kIimApplicationRecord, n, caption);
    } else if (found) {
      out += EncodeDataset(kIimApplicationRecord, n, value);
    }
  }
  return out;
}

std::string DatasetLinesToIptc(std::string_view s) {
  FirstValues first;
  size_t pos = 0;
  while (pos < s.size() && s.substr(pos, 2) == "2:") {
    // The entry reaches to the next CR followed by '2'.
    size_t end = pos;
    for (;;) {
      end = s.find(kCr, end);
      if (end == std::string_view::npos) {
        end = s.size();
        break;
      }
      if (end + 1 < s.size() && s[end + 1] == '2') break;
      ++end;
    }
    std::string_view entry = s.substr(pos, end - pos);
    int dataset = ReadNumber(entry.substr(2), nullptr);
    size_t blanks = entry.size() > 3 ? entry.find("    ", 3) : std::string_view::npos;
    if (blanks != std::string_view::npos && dataset >= 1 && dataset <= 254 && !first[dataset]) {
      first[dataset] = EntryValue(entry, blanks + 4);  // an empty value: absent
    }
    if (end >= s.size()) break;
    pos = end + 1;
  }
  return BuildBlock(first);
}

std::string IptcEntriesToIptc(std::string_view s) {
  FirstValues first;
  size_t pos = 0;
  while (pos < s.size() && s.substr(pos, 4) == "IPTC") {
    size_t end = s.find("IPTC", pos + 4);
    if (end == std::string_view::npos) end = s.size();
    std::string_view entry = s.substr(pos, end - pos);
    if (entry.size() > 7 && entry[5] == '2') {
      size_t digits = 0;
      int dataset = ReadNumber(entry.substr(7), &digits);
      // The value begins at offset 9, or behind a three-digit dataset number.
      size_t start = std::max<size_t>(9, 7 + digits);
      if (dataset >= 1 && dataset <= 254 && !first[dataset]) {
        first[dataset] = EntryValue(entry, start);  // an empty value: absent
      }
    }
    pos = end;
  }
  return BuildBlock(first);
}

void ReadTextStream(CaptionRecord& record, std::string_view bytes, const MacroClock& clock,
                    TextStreamForm* form_out) {
  TextStreamForm form = ClassifyTextStream(bytes);
  if (form_out) *form_out = form;
  switch (form) {
    case TextStreamForm::kRawIptc:
      InstallWithNewRecordVersion(record, bytes);
      break;
    case TextStreamForm::kDatasetLines:
      InstallIptcBlock(record, DatasetLinesToIptc(bytes));
      break;
    case TextStreamForm::kIptcEntries:
      InstallIptcBlock(record, IptcEntriesToIptc(bytes));
      break;
    case TextStreamForm::kMacBinaryIptcEntries:
      InstallIptcBlock(record, IptcEntriesToIptc(bytes.substr(kMacBinaryHeaderSize)));
      break;
    case TextStreamForm::kCaptionText:
      ReadCaptionText(record, bytes, /*file_name=*/"", clock);
      break;
  }
}

bool ReadMacStreams(CaptionRecord& record, FileStreams& streams, const std::string& path,
                    const MacroClock& clock, MacStreamsTrace* trace) {
  MacStreamsTrace local;
  if (!trace) trace = &local;
  if (ReadResourceFork(record, streams, path, &trace->resource_fork, &trace->fork_form)) {
    return true;
  }
  StatusOr<StreamContents> text = streams.OpenStream(path, MacStream::kText);
  if (!text.ok()) return false;
  trace->text = text->place;
  ReadTextStream(record, text->bytes, clock, &trace->text_form);
  return true;
}

uint32_t ReadFinderType(FileStreams& streams, const std::string& path) {
  StatusOr<StreamContents> info = streams.OpenStream(path, MacStream::kAfpInfo);
  if (!info.ok() || info->bytes.size() < kAfpInfoFinderInfoOffset + 4) return 0;
  const std::string& b = info->bytes;
  uint32_t type = 0;
  for (size_t i = 0; i < 4; ++i) {
    type = (type << 8) | static_cast<uint8_t>(b[kAfpInfoFinderInfoOffset + i]);
  }
  return type;
}

std::string TypeCodeText(uint32_t type) {
  if (type == 0) return "";
  std::string text(4, ' ');
  for (int i = 0; i < 4; ++i) text[i] = static_cast<char>(type >> (24 - 8 * i));
  return text;
}

MacStreamReader MacStreamReaderFor(FileStreams& streams) {
  FileStreams* s = &streams;
  return [s](CaptionRecord& record, const std::string& path) {
    return ReadMacStreams(record, *s, path, MacroClock::Now());
  };
}

std::function<CaptionSource(CaptionRecord&, const std::string&)> InspectMacStreamsFor(
    FileStreams& streams) {
  FileStreams* s = &streams;
  return [s](CaptionRecord& record, const std::string& path) {
    MacStreamsTrace trace;
    if (!ReadMacStreams(record, *s, path, MacroClock::Now(), &trace)) return CaptionSource::kNone;
    return trace.fork_form != ResourceForkForm::kNone ? CaptionSource::kResourceFork
                                                      : CaptionSource::kTextStream;
  };
}

std::function<std::string(const std::string&)> InspectFinderTypeFor(FileStreams& streams) {
  FileStreams* s = &streams;
  return [s](const std::string& path) { return TypeCodeText(ReadFinderType(*s, path)); };
}

}  // namespace vantrel
