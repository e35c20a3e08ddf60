// ComposeImageDocument: the document text of one image or PDF file.
//
// Reading order: the first four bytes (type and PDF test), the image-info
// trailer at the end of the file (caption and image-info block), and only
// when the trailer gave no caption and the index asks for it, the caption
// readers over the file's data (Photoshop with the Macintosh streams first,
// EPS, TIFF, then the IIM of a PNG picture). Then, behind the index's
// switches, the IIM character set and the XMP of the file's data and its
// sidecar (metadata/xmp_caption.h).
//
// The picture's own headers (metadata/image_header.h) are read at most once,
// and only when a metadata switch asks for what they hold: the image-info
// groups when the trailer has no image-info block, the capture date when
// the caption has no date created (2:55). With those switches off the
// documents are exactly those of the trailer and IIM readers alone.

#include <algorithm>
#include <exception>
#include <thread>

#include "indexing/document_builder.h"
#include "indexing/document_groups.h"
#include "metadata/caption_record.h"
#include "metadata/char_tables.h"
#include "metadata/eps_reader.h"
#include "metadata/file_type.h"
#include "metadata/image_header.h"
#include "metadata/image_data_view.h"
#include "metadata/image_info_trailer.h"
#include "metadata/mac_streams.h"
#include "metadata/photoshop_reader.h"
#include "metadata/tiff_reader.h"
#include "metadata/xmp_caption.h"
#include "metadata/xmp_sources.h"
#include "pdf/pdf_xmp_section.h"
#include "platform/code_page.h"
#include "platform/file_streams.h"
#include "platform/file_time.h"

namespace vantrel {
namespace {

inline constexpr int kDateCreatedDataset = 55;

// Files up to this size are read whole, once, for all the readers of a
// composition: one read costs less than each reader opening the file.
inline constexpr uint64_t kWholeReadLimit = 64 * 1024;

struct OpenedFile {
  uint64_t size = 0;
  std::string head;  // the first four bytes (fewer for a shorter file)
  // The whole file (`size` bytes) when it is small and did not change size
  // between the two looks; else the readers read the file themselves.
  bool whole_read = false;
  std::string whole;
};

// The whole file when it is small, and its first bytes. A whole read that
// fails (or finds the file grown since its size was taken) leaves the
// readers to read the file themselves, each with its own fault handling.
bool ReadOpening(FileSystem& fs, const std::string& path, uint64_t size, OpenedFile* out) {
  out->size = size;
  if (size <= kWholeReadLimit) {
    try {
      // One byte more than the size tells a file that grew since.
      StatusOr<std::string> whole = fs.ReadFileRange(path, 0, size + 1);
      if (whole.ok() && whole->size() == size) {
        out->head = whole->substr(0, 4);
        out->whole = std::move(*whole);
        out->whole_read = true;
        return true;
      }
    } catch (const std::exception&) {
    }
  }
  StatusOr<std::string> head = fs.ReadFileRange(path, 0, 4);
  if (!head.ok()) return false;
  out->head = std::move(*head);
  return true;
}

// Opens the file for reading: its size and first bytes, retried while the
// file is not there or not readable (another program may still hold it). A
// folder is not retried.
bool OpenForReading(FileSystem& fs, const std::string& path, const DocumentOptions& options,
                    OpenedFile* out) {
  const int attempts = std::max(1, options.open_attempts);
  for (int attempt = 0;; ++attempt) {
    StatusOr<FileInfo> info = fs.Stat(path);
    if (info.ok() && info->is_folder) return false;
    if (info.ok() && ReadOpening(fs, path, info->size, out)) return true;
    if (attempt + 1 >= attempts) return false;
    std::this_thread::sleep_for(options.open_pause);
  }
}

// Reads ranges of the opened file: from the bytes read at the opening when
// the whole file was, else from the file.
RangeReader FileRanges(FileSystem& fs, const std::string& path, const OpenedFile& opened) {
  if (opened.whole_read) {
    const std::string_view whole = opened.whole;
    return [whole](uint64_t offset, size_t length, std::string* bytes) {
      *bytes = offset < whole.size() ? std::string(whole.substr(offset, length)) : std::string();
      return true;
    };
  }
  return [&fs, &path](uint64_t offset, size_t length, std::string* bytes) {
    StatusOr<std::string> r = fs.ReadFileRange(path, offset, length);
    if (!r.ok()) return false;
    *bytes = std::move(*r);
    return true;
  };
}

struct ContentsInput {
  const DocumentFile& file;
  const DocumentOptions& options;
  FileSystem& fs;
  FileStreams& streams;
  const OpenedFile& opened;
  bool offline;
  const std::string& file_date;
  size_t dates_limit;  // the limit for the date groups (room for the tail only)
};

// The helper's text of a PDF: the words of its XMP packet when the index
// reads XMP, then the information entries and page words as before, at most
// kMaxPdfTextBytes of them.
void AppendPdfText(const ContentsInput& in, std::string_view text, DocumentText& doc) {
  const PdfTextParts parts = SplitPdfText(text);
  if (in.options.switches.xmp) {
    doc.Append(parts.xmp.substr(0, std::min(parts.xmp.size(), doc.room())));
  }
  const size_t n = std::min({parts.rest.size(), kMaxPdfTextBytes, doc.room()});
  doc.Append(parts.rest.substr(0, n));
}

void ComposePdf(const ContentsInput& in, DocumentText& doc, ComposedDocument* result) {
  result->type_code = kTypePdf;
  result->is_pdf = true;
  doc.Append(TextGroup(kMarkerFileType, TypeCodeText(kTypePdf)));
  doc.Append(Number6Group(kMarkerFileSize, FileSizeValue(in.opened.size)));
  doc.Append(OnlineGroup(in.offline));
  if (in.options.pdf_text) AppendPdfText(in, in.options.pdf_text(in.file.native_path), doc);
  doc.set_limit(in.dates_limit);
  doc.Append(TextGroup(kMarkerFileDate, in.file_date));
  doc.Append(TextGroup(kMarkerImageDate, in.file_date));
}

// The header facts of the file, read on first use: from the mapped data
// when the caption readers opened it anyway, else the file's first bytes.
class HeaderFacts {
 public:
  explicit HeaderFacts(const ContentsInput& in) : in_(in) {}
  bool wanted() const {
    return in_.options.switches.header_dimensions || in_.options.switches.capture_date;
  }
  void ReadFrom(std::string_view data) {
    if (read_ || !wanted()) return;
    read_ = true;
    facts_ = ReadImageHeader(data);
  }
  const ImageHeaderFacts& get() {
    if (!read_) {
      read_ = true;
      facts_ = ReadImageHeaderFromFile(FileRanges(in_.fs, in_.file.native_path, in_.opened),
                                       in_.opened.size);
    }
    return facts_;
  }

 private:
  const ContentsInput& in_;
  bool read_ = false;
  ImageHeaderFacts facts_;
};

// The image-info trailer at the end of the file: from the bytes read at the
// opening, or from the file as it is now (a client may be appending to it).
bool ReadTrailer(const ContentsInput& in, TrailerWindow* window) {
  if (!in.opened.whole_read) {
    return ReadImageInfoTrailer(in.fs, in.file.native_path, kTrailerTagIptc, window);
  }
  return ReadImageInfoTrailer(FileRanges(in.fs, in.file.native_path, in.opened), in.opened.size,
                              kTrailerTagIptc, window);
}

// The caption readers over the file's data (with `read_captions` false only
// the XMP is read), and the embedded XMP into `extras` when the index reads
// XMP. False when the data turned out not to be the file's (it shrank while
// it was read).
bool ReadDataCaption(const ContentsInput& in, CaptionRecord& record, bool read_captions,
                     CaptionExtras& extras, HeaderFacts& header) {
  const std::string& path = in.file.native_path;
  ImageDataView view;
  const bool opened = in.opened.whole_read ? OpenImageDataOver(view, path, in.opened.whole)
                                           : OpenImageData(view, path);
  if (!opened) return true;
  const std::string_view data = view.data();
  if (read_captions && !ReadPhotoshopCaption(record, data, path, MacStreamReaderFor(in.streams)) &&
      !ReadEpsCaption(data, path, record, &in.fs)) {
    ReadTiffCaption(data, path, record, &extras.declared);
  }
  if (in.options.switches.xmp) extras.embedded = ReadEmbeddedXmp(data);
  header.ReadFrom(data);
  const bool damaged = view.file(0).contents && view.file(0).contents->damaged();
  CloseImageData(view);
  return !damaged;
}

// The image-info groups from the picture's headers, for a file whose
// trailer has no image-info block.
void AppendHeaderImageInfo(const ContentsInput& in, HeaderFacts& header, DocumentText& doc) {
  if (!in.options.switches.header_dimensions) return;
  const ImageHeaderFacts& facts = header.get();
  if (facts.has_size) doc.Append(ImageInfoGroups(facts.info));
}

// The IIM block a PNG picture carries in its raw iptc profile, for a file
// whose other readers found no caption.
void InstallHeaderIim(const ContentsInput& in, HeaderFacts& header, CaptionRecord& record) {
  if (record.iptc_length() != 0 || !in.options.read_document_info ||
      !in.options.switches.header_dimensions) {
    return;
  }
  const ImageHeaderFacts& facts = header.get();
  if (!facts.iim.empty()) InstallIptcBlock(record, facts.iim);
}

// The picture's capture date (EXIF DateTimeOriginal) as "yyyyMMdd", for a
// file whose caption has no date created; "" when none or switched off.
std::string CaptureDate(const ContentsInput& in, HeaderFacts& header) {
  if (!in.options.switches.capture_date) return "";
  return CaptionDate(header.get().capture_date);
}

// The IIM readers over the file's data when the trailer gave no caption, the
// embedded XMP, then the character set and XMP steps. False as for
// ReadDataCaption.
bool ReadCaptionSources(const ContentsInput& in, CaptionRecord& record, CaptionExtras& extras,
                        HeaderFacts& header) {
  const MetadataSwitches& switches = in.options.switches;
  const bool read_captions = record.iptc_length() == 0;
  if (in.options.read_document_info && (read_captions || switches.xmp)) {
    if (!ReadDataCaption(in, record, read_captions, extras, header)) return false;
  }
  InstallHeaderIim(in, header, record);
  extras.fs = &in.fs;
  extras.picture_path = in.file.native_path;
  extras.listed_files = in.file.folder_files.get();
  ExtendCaption(record, extras, switches);
  return true;
}

// The groups of an image file, up to the two date groups. False on a fault
// while reading the contents (the groups appended so far stay).
bool ComposeImage(const ContentsInput& in, DocumentText& doc, ComposedDocument* result) {
  uint32_t type = result->type_code;
  if (IsPostScriptHead(in.opened.head)) type = kTypeEps;
  result->type_code = type;
  // Without a type code the file's first bytes name it (up to a zero byte).
  doc.Append(TextGroup(kMarkerFileType, type != 0 ? TypeCodeText(type) : in.opened.head));
  doc.Append(Number6Group(kMarkerFileSize, FileSizeValue(in.opened.size)));
  doc.Append(OnlineGroup(in.offline));

  CaptionRecord record;
  ResetCaption(record);
  CaptionExtras extras;
  HeaderFacts header(in);
  bool trailer_info = false;
  {
    TrailerWindow window;
    if (ReadTrailer(in, &window)) {
      ImageInfo info;
      trailer_info = FindImageInfo(window, &info);
      if (trailer_info) doc.Append(ImageInfoGroups(info));
      InstallIptcBlock(record, window.block);
      extras.declared = DeclaredIimCharset(window.block);
    }
  }
  if (!ReadCaptionSources(in, record, extras, header)) {
    FreeCaption(record);
    return false;
  }
  if (!trailer_info) AppendHeaderImageInfo(in, header, doc);

  std::string image_date = in.file_date;
  bool has_date_created = false;
  const int32_t caption_length = record.iptc_length();
  if (caption_length == 0) {
    doc.Append(kNoCaptionMarker);
  } else {
    if (caption_length < kSmallCaptionLimit) doc.Append(kSmallCaptionMarker);
    SplitLocalCaption(record);
    WriteCaptionFields(record, doc.text(), kCaptionGroupPrefix, kCaptionGroupSuffix,
                       in.options.empty_fields, doc.limit());
    if (in.options.convert_mac_text) {
      // The whole text so far, as a NUL-terminated buffer of size + 1 bytes.
      ConvertMacText(doc.text(), doc.size() + 1, doc.limit());
    }
    std::string created;
    has_date_created = GetCaptionText(record, kDateCreatedDataset, &created);
    if (has_date_created) {
      std::string date = CaptionDate(created);
      if (!date.empty()) image_date = std::move(date);
    }
  }
  if (!has_date_created) {
    std::string captured = CaptureDate(in, header);
    if (!captured.empty()) image_date = std::move(captured);
  }
  FreeCaption(record);
  doc.set_limit(in.dates_limit);
  doc.Append(TextGroup(kMarkerFileDate, in.file_date));
  doc.Append(TextGroup(kMarkerImageDate, image_date));
  return true;
}

}  // namespace

uint32_t DocumentTypeCode(const std::string& native_path, FileStreams& streams,
                          const MetadataSwitches& switches) {
  uint32_t type = TypeCodeFromExtension(native_path);
  if (type == 0 && switches.header_dimensions) type = PictureTypeFromExtension(native_path);
  return type != 0 ? type : ReadFinderType(streams, native_path);
}

ComposedDocument ComposeImageDocumentWithType(const DocumentFile& file,
                                              const DocumentOptions& options, uint32_t type_code) {
  FileSystem& fs = options.fs != nullptr ? *options.fs : *DefaultFileSystem();
  FileStreams& streams = options.streams != nullptr ? *options.streams : *DefaultFileStreams();
  ComposedDocument result;
  result.type_code = type_code;
  result.time = file.time;
  if (result.time == 0) {
    StatusOr<FileInfo> info = fs.Stat(file.native_path);
    if (info.ok() && !info->is_folder) result.time = FileTimeStampFromWinFileTime(info->modified);
  }
  OpenedFile opened;
  if (!OpenForReading(fs, file.native_path, options, &opened)) return result;
  result.opened = true;

  // The tail and the date groups always fit: the groups in front of them are
  // cut where they would take that room.
  const std::string tail = " " + PathGroups(CodePage::Default().FromUtf8(file.native_path));
  const std::string file_date = StampDate(result.time);
  const size_t dates_size = 2 * TextGroup(kMarkerFileDate, file_date).size();
  const size_t dates_limit = tail.size() < kDocumentCapacity ? kDocumentCapacity - tail.size() : 0;
  DocumentText doc(kDocumentCapacity);
  doc.set_limit(dates_size < dates_limit ? dates_limit - dates_size : 0);

  const bool offline = file.file_key.size() >= 2 && file.file_key.compare(0, 2, "00") == 0;
  const ContentsInput in{file, options, fs, streams, opened, offline, file_date, dates_limit};
  bool ok = false;
  try {
    if (IsPdfHead(opened.head)) {
      ComposePdf(in, doc, &result);
      ok = true;
    } else {
      ok = ComposeImage(in, doc, &result);
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    result.text_problem = true;
    if (!doc.text().empty()) doc.text()[0] = ' ';
  }

  doc.set_limit(kDocumentCapacity);
  doc.Append(tail);
  std::replace(doc.text().begin(), doc.text().end(), '\0', ' ');
  result.text = std::move(doc.text());
  return result;
}

ComposedDocument ComposeImageDocument(const DocumentFile& file, const DocumentOptions& options) {
  FileStreams& streams = options.streams != nullptr ? *options.streams : *DefaultFileStreams();
  uint32_t type = 0;
  try {
    type = DocumentTypeCode(file.native_path, streams, options.switches);
  } catch (const std::exception&) {
    type = 0;
  }
  return ComposeImageDocumentWithType(file, options, type);
}

}  // namespace vantrel
