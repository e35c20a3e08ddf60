#include "metadata/file_report.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "metadata/eps_reader.h"
#include "metadata/file_type.h"
#include "metadata/iim_codec.h"
#include "metadata/image_header.h"
#include "metadata/mac_streams.h"
#include "metadata/image_data_view.h"
#include "metadata/photoshop_reader.h"
#include "metadata/tiff_reader.h"
#include "metadata/xmp_caption.h"
#include "metadata/xmp_sources.h"
#include "platform/file_time.h"

namespace vantrel {
namespace {

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      char buf[8];
      std::snprintf(buf, sizeof(buf), "\\x%02X", c);
      out += buf;
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0xA0) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

// The character set and XMP steps, as the document builder runs them after
// the IIM readers; the embedded XMP is read from the file's data when the
// readers did not already.
void ExtendInspectedCaption(CaptionRecord& record, CaptionExtras& extras, bool data_read,
                            FileSystem& fs, const std::string& path, const InspectOptions& options) {
  if (options.switches.xmp && !data_read && options.read_document_info) {
    ImageDataView view;
    if (OpenImageData(view, path)) {
      extras.embedded = ReadEmbeddedXmp(view.data());
      CloseImageData(view);
    }
  }
  extras.fs = &fs;
  extras.picture_path = path;
  ExtendCaption(record, extras, options.switches);
}

// "yyyyMMdd" of a Unix time, in UTC.
std::string UtcDate(int64_t unix_seconds) {
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return "";
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return buf;
}

// "CCYYMMDD" when `value` opens with eight digits, else "".
std::string EightDigits(std::string_view value) {
  if (value.size() < 8) return "";
  for (size_t i = 0; i < 8; ++i) {
    if (value[i] < '0' || value[i] > '9') return "";
  }
  return std::string(value.substr(0, 8));
}

// The picture's header: the image-info values when the trailer has none,
// the IIM of a PNG raw profile when no other reader found a caption, and
// the capture date, each as the switches allow.
void AddHeaderFacts(FileSystem& fs, const std::string& path, const InspectOptions& options,
                    ImageFileDescription& d, CaptionRecord& record) {
  const MetadataSwitches& on = options.switches;
  if (!on.header_dimensions && !on.capture_date) return;
  const ImageHeaderFacts facts = ReadImageHeaderFromFile(
      [&fs, &path](uint64_t offset, size_t length, std::string* bytes) {
        StatusOr<std::string> r = fs.ReadFileRange(path, offset, length);
        if (!r.ok()) return false;
        *bytes = std::move(*r);
        return true;
      },
      d.size);
  d.header_format = HeaderFormatName(facts.format);
  if (on.header_dimensions && !d.has_image_info && facts.has_size) {
    d.has_image_info = true;
    d.image_info = facts.info;
    d.image_info_source = ValueSource::kHeader;
  }
  if (on.header_dimensions && options.read_document_info && record.iptc.empty() &&
      !facts.iim.empty() && InstallIptcBlock(record, facts.iim)) {
    d.source = CaptionSource::kPngProfile;
  }
  if (on.capture_date && d.image_date_source == ValueSource::kNone) {
    const std::string date = EightDigits(facts.capture_date);
    if (!date.empty()) {
      d.image_date = date;
      d.image_date_source = ValueSource::kExif;
    }
  }
}

}  // namespace

const char* ValueSourceName(ValueSource source) {
  switch (source) {
    case ValueSource::kNone:
      return "none";
    case ValueSource::kIim:
      return "IIM";
    case ValueSource::kXmp:
      return "XMP";
    case ValueSource::kSidecar:
      return "sidecar";
    case ValueSource::kExif:
      return "EXIF";
    case ValueSource::kHeader:
      return "header";
    case ValueSource::kTrailer:
      return "trailer";
    case ValueSource::kFileDate:
      return "file date";
  }
  return "none";
}

const char* CaptionSourceName(CaptionSource source) {
  switch (source) {
    case CaptionSource::kNone:
      return "none";
    case CaptionSource::kTrailer:
      return "trailer";
    case CaptionSource::kTrailerMarkers:
      return "trailer markers";
    case CaptionSource::kPhotoshop:
      return "Photoshop";
    case CaptionSource::kEps:
      return "EPS";
    case CaptionSource::kTiff:
      return "TIFF";
    case CaptionSource::kResourceFork:
      return "resource fork";
    case CaptionSource::kTextStream:
      return ":TEXT stream";
    case CaptionSource::kPngProfile:
      return "PNG raw profile";
  }
  return "none";
}

namespace {

// The caption and image-info block of an image-info trailer, when the file
// ends in one.
void ReadTrailerCaption(FileSystem& fs, const std::string& path, CaptionRecord* record,
                        CaptionExtras* extras, ImageFileDescription* d) {
  TrailerWindow window;
  if (ReadImageInfoTrailer(fs, path, kTrailerTagIptc, &window)) {
    extras->declared = DeclaredIimCharset(window.block);
    d->has_image_info = FindImageInfo(window, &d->image_info);
    if (InstallIptcBlock(*record, window.block)) {
      bool chain = window.bytes.size() >= 4 &&
                   window.bytes.compare(window.bytes.size() - 4, 4, "\xA1\xB2\xC3\xD4") == 0;
      d->source = chain ? CaptionSource::kTrailer : CaptionSource::kTrailerMarkers;
    }
  } else {
    // The image-info block may stand in a trailer without tag 1.
    TrailerWindow info_window;
    if (ReadImageInfoTrailer(fs, path, kTrailerTagImageInfo, &info_window)) {
      d->has_image_info = ParseImageInfo(info_window.block, &d->image_info);
    }
  }
}

// The caption from the document's own data (Photoshop resources, EPS,
// TIFF) and its embedded XMP; true when the data could be read.
bool ReadDocumentCaption(FileSystem& fs, const std::string& path, const InspectOptions& options,
                         CaptionRecord* record, CaptionExtras* extras, ImageFileDescription* d) {
  ImageDataView view;
  if (!OpenImageData(view, path)) return false;
  d->content_offset = view.content_offset();
  CaptionSource mac = CaptionSource::kNone;
  MacStreamReader mac_reader;
  if (options.mac_streams) {
    mac_reader = [&](CaptionRecord& r, const std::string& p) {
      mac = options.mac_streams(r, p);
      return mac != CaptionSource::kNone;
    };
  }
  if (ReadPhotoshopCaption(*record, view.data(), path, mac_reader)) {
    d->source = mac != CaptionSource::kNone ? mac : CaptionSource::kPhotoshop;
  } else if (ReadEpsCaption(view.data(), path, *record, &fs)) {
    d->source = CaptionSource::kEps;
  } else if (ReadTiffCaption(view.data(), path, *record, &extras->declared)) {
    d->source = CaptionSource::kTiff;
  }
  if (options.switches.xmp) extras->embedded = ReadEmbeddedXmp(view.data());
  CloseImageData(view);
  return true;
}

// The image date from the caption's 2:55, its first occurrence.
void TakeIimImageDate(const CaptionRecord& record, ImageFileDescription* d) {
  for (const IimDataset& ds : WalkDatasets(record.iptc)) {
    if (ds.record == kIimApplicationRecord && ds.dataset == 55 &&
        d->image_date_source == ValueSource::kNone) {
      d->image_date = EightDigits(ds.value);  // checked as a calendar date by the builder
      d->image_date_source = ValueSource::kIim;
    }
  }
}

}  // namespace

ImageFileDescription InspectImageFile(const std::string& path, const InspectOptions& options) {
  FileSystem& fs = options.fs ? *options.fs : *DefaultFileSystem();
  ImageFileDescription d;
  d.path = path;
  StatusOr<FileInfo> info = fs.Stat(path);
  if (!info.ok() || info->is_folder) return d;
  StatusOr<std::string> head = fs.ReadFileRange(path, 0, 4);
  if (!head.ok()) return d;
  d.readable = true;
  d.size = info->size;
  d.first_bytes = *head;
  d.type_code = TypeCodeText(TypeCodeFromExtension(path));
  if (d.type_code.empty() && options.switches.header_dimensions) {
    d.type_code = TypeCodeText(PictureTypeFromExtension(path));
  }
  if (d.type_code.empty() && options.finder_type) d.type_code = options.finder_type(path);
  if (IsPostScriptHead(*head)) d.type_code = TypeCodeText(kTypeEps);
  if (IsPdfHead(*head)) d.type_code = TypeCodeText(kTypePdf);

  CaptionRecord record;
  CaptionExtras extras;
  bool data_read = false;
  ReadTrailerCaption(fs, path, &record, &extras, &d);
  if (record.iptc.empty() && options.read_document_info) {
    data_read = ReadDocumentCaption(fs, path, options, &record, &extras, &d);
    if (record.iptc.empty() && d.source != CaptionSource::kNone) d.source = CaptionSource::kNone;
  }
  ExtendInspectedCaption(record, extras, data_read, fs, path, options);

  if (d.has_image_info) d.image_info_source = ValueSource::kTrailer;
  TakeIimImageDate(record, &d);
  AddHeaderFacts(fs, path, options, d, record);
  if (d.image_date_source == ValueSource::kNone) {
    d.image_date = UtcDate(UnixFromFileTimeStamp(FileTimeStampFromWinFileTime(info->modified)));
    d.image_date_source = ValueSource::kFileDate;
  }

  d.iptc_length = record.iptc_length();
  for (const IimDataset& ds : WalkDatasets(record.iptc)) {
    if (ds.record != kIimApplicationRecord) continue;
    d.datasets.push_back(
        {ds.dataset, IimDatasetName(ds.dataset), std::string(ds.value), ValueSource::kIim});
  }
  return d;
}

std::string FormatImageFileDescription(const ImageFileDescription& d) {
  std::string out = "File: " + d.path + "\n";
  if (!d.readable) return out + "Error: cannot read the file\n";
  char line[256];
  std::snprintf(line, sizeof(line), "Size: %llu bytes\n", static_cast<unsigned long long>(d.size));
  out += line;
  out += "Type: " +
         (d.type_code.empty() ? "(none; first bytes \"" + Printable(d.first_bytes) + "\")"
                              : d.type_code) +
         "\n";
  out += std::string("Caption source: ") + CaptionSourceName(d.source) + "\n";
  if (d.content_offset != 0) {
    std::snprintf(line, sizeof(line), "Content offset: %zu\n", d.content_offset);
    out += line;
  }
  std::snprintf(line, sizeof(line), "IPTC length: %d\n", d.iptc_length);
  out += line;
  for (const DescribedDataset& ds : d.datasets) {
    std::snprintf(line, sizeof(line), "  2:%03d %s = \"", ds.number,
                  ds.name.empty() ? "(unknown)" : ds.name.c_str());
    out += line + Printable(ds.value) + "\" (" + ValueSourceName(ds.source) + ")\n";
  }
  if (d.has_image_info) {
    const ImageInfo& i = d.image_info;
    std::snprintf(line, sizeof(line),
                  "Image info: width %u, height %u, channels %u, resolution %d.%03d dpi (%s)\n",
                  i.width, i.height, i.channels, i.resolution_milli / 1000,
                  std::abs(i.resolution_milli % 1000), ValueSourceName(d.image_info_source));
    out += line;
  } else {
    out += "Image info: none\n";
  }
  if (!d.header_format.empty()) out += "Header: " + d.header_format + "\n";
  if (!d.image_date.empty()) {
    out += "Image date: " + d.image_date + " (" + ValueSourceName(d.image_date_source) + ")\n";
  }
  return out;
}

std::string DescribeImageFile(const std::string& path, const InspectOptions& options) {
  return FormatImageFileDescription(InspectImageFile(path, options));
}

}  // namespace vantrel
