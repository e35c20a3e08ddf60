// Encoding and decoding of the configuration data file, and its load and save.
//
// The decoder reads every field at its explicit offset with bounds-checked
// little-endian helpers; nothing is copied as a struct image. Counts from the
// file are never trusted: a count out of range is clamped, and a file cut
// short keeps every whole index definition and event line before the cut.

#include <algorithm>
#include <cstring>
#include <string>

#include "core/config_file.h"
#include "core/config_guard.h"
#include "platform/byte_order.h"

namespace vantrel {
namespace {

namespace L = config_layout;

// ---- little-endian helpers over a byte span -------------------------------

int32_t GetI32(std::string_view b, size_t off) { return static_cast<int32_t>(LoadLe32(b, off)); }

double GetF64(std::string_view b, size_t off) {
  uint64_t bits = uint64_t{LoadLe32(b, off)} | (uint64_t{LoadLe32(b, off + 4)} << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// The text of a fixed field: the bytes before the first NUL, at most
// (width - 1) of them (a field without a terminator loses its last byte, as if
// a NUL stood there).
std::string GetText(std::string_view b, size_t off, size_t width) {
  std::string_view field = b.substr(off, width - 1);
  size_t nul = field.find('\0');
  return std::string(nul == std::string_view::npos ? field : field.substr(0, nul));
}

template <size_t N>
void GetBytes(std::string_view b, size_t off, std::array<uint8_t, N>* out) {
  std::memcpy(out->data(), b.data() + off, N);
}

void GetBytes(std::string_view b, size_t off, size_t n, std::vector<uint8_t>* out) {
  out->assign(b.begin() + off, b.begin() + off + n);
}

void PutU32(std::string* b, size_t off, uint32_t v) {
  (*b)[off] = static_cast<char>(v & 0xff);
  (*b)[off + 1] = static_cast<char>((v >> 8) & 0xff);
  (*b)[off + 2] = static_cast<char>((v >> 16) & 0xff);
  (*b)[off + 3] = static_cast<char>((v >> 24) & 0xff);
}

void PutI32(std::string* b, size_t off, int32_t v) { PutU32(b, off, static_cast<uint32_t>(v)); }

void PutF64(std::string* b, size_t off, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  PutU32(b, off, static_cast<uint32_t>(bits));
  PutU32(b, off + 4, static_cast<uint32_t>(bits >> 32));
}

// Writes `text` into a zeroed field of `width` bytes, cut to width - 1 bytes.
void PutText(std::string* b, size_t off, size_t width, std::string_view text) {
  size_t n = std::min(text.size(), width - 1);
  std::memcpy(b->data() + off, text.data(), n);
}

void PutBytes(std::string* b, size_t off, const uint8_t* data, size_t n) {
  std::memcpy(b->data() + off, data, n);
}

// ---- decoding --------------------------------------------------------------

ImageFolderEntry DecodeFolderEntry(std::string_view e) {
  ImageFolderEntry f;
  f.path = GetText(e, L::kFolderPath, L::kPathSize);
  f.mac_volume = GetText(e, L::kFolderMacVolume, L::kPathSize);
  f.windows_share = GetText(e, L::kFolderWinShare, L::kPathSize);
  f.include_subfolders = LoadLe32(e, L::kFolderIncludeSub);
  GetBytes(e, L::kFolderReserved, &f.reserved);
  return f;
}

// `d` is exactly one definition record.
IndexDefinition DecodeDefinition(std::string_view d) {
  IndexDefinition def;
  def.name = GetText(d, L::kIndexName, L::kIndexNameSize);
  def.index_folder = GetText(d, L::kIndexFolder, L::kPathSize);
  def.engine_folder = GetText(d, L::kEngineFolder, L::kPathSize);
  def.lists_folder = GetText(d, L::kListsFolder, L::kPathSize);
  def.search_folder = GetText(d, L::kSearchFolder, L::kPathSize);
  GetBytes(d, L::kPadding, &def.padding);
  for (int s = 0; s < L::kImageFolderSlots; ++s) {
    def.image_folders[s] = DecodeFolderEntry(
        d.substr(L::kImageFolders + s * L::kFolderEntrySize, L::kFolderEntrySize));
  }
  def.document_count = LoadLe32(d, L::kDocumentCount);
  def.space_warning = LoadLe32(d, L::kSpaceWarning);
  def.space_limit_mb = LoadLe32(d, L::kSpaceLimitMb);
  def.browse_limit_on = LoadLe32(d, L::kBrowseLimitOn);
  def.browse_limit = LoadLe32(d, L::kBrowseLimit);
  GetBytes(d, L::kReservedDefKept1, &def.reserved1);
  GetBytes(d, L::kReservedDefKept2, &def.reserved2);
  def.mac_text = LoadLe32(d, L::kMacText);
  def.doc_info = LoadLe32(d, L::kDocInfo);
  def.empty_fields = LoadLe32(d, L::kEmptyFields);
  def.optimize_hour = LoadLe32(d, L::kOptimizeHour);
  def.unused_threshold = GetI32(d, L::kUnusedThreshold);
  def.active = LoadLe32(d, L::kActive);
  GetBytes(d, L::kReservedDefKept3, &def.reserved3);
  def.metadata_switches = LoadLe32(d, L::kReservedDefKept3);
  std::fill_n(def.reserved3.begin(), 4, uint8_t{0});
  def.statistics.searches = LoadLe32(d, L::kSearchesServed);
  def.statistics.hits = LoadLe32(d, L::kHitsReturned);
  def.statistics.seconds = GetF64(d, L::kSearchSeconds);
  def.statistics.days = LoadLe32(d, L::kSearchDays);
  def.statistics.last_day = LoadLe32(d, L::kLastSearchDay);
  return def;
}

// The previous layout had no offline folder: its slots 0..30 become 1..31
// (its slot 31 is lost) and slot 0 becomes the offline folder.
void ConvertPreviousLayout(IndexDefinition* def, VolumeNamer& namer) {
  for (int s = L::kImageFolderSlots - 1; s > 0; --s)
    def->image_folders[s] = def->image_folders[s - 1];
  ImageFolderEntry& offline = def->image_folders[0];
  offline.path = OfflineFolderOf(def->index_folder);
  offline.windows_share = namer.WindowsShareName(offline.path);
  offline.mac_volume = namer.MacVolumeName(offline.path);
  offline.include_subfolders = 1;
}

// Why `b` cannot be read as a configuration data file; OK when it can.
Status CheckFileHead(std::string_view b) {
  if (b.size() < L::kMagic + 4) {
    return Status::Corruption("configuration data file too short (" + std::to_string(b.size()) +
                              " bytes); defaults used");
  }
  const uint32_t magic = LoadLe32(b, L::kMagic);
  if (magic != L::kMagicCurrent && magic != L::kMagicPrevious) {
    return Status::Corruption("configuration data file has an unknown magic number " +
                              std::to_string(magic) + "; defaults used");
  }
  if (b.size() < L::kBlockSize) {
    return Status::Corruption("configuration data file ends inside its settings block (" +
                              std::to_string(b.size()) + " bytes); defaults used");
  }
  return Status::Ok();
}

// The settings block at the start of the file (the magic number checked).
void DecodeSettingsBlock(std::string_view b, Configuration* c) {
  c->magic = LoadLe32(b, L::kMagic);
  GetBytes(b, L::kReservedIgnored, L::kReservedIgnoredSize, &c->reserved_ignored);
  for (int i = 0; i < L::kMaxIndexes; ++i)
    c->per_index_words[i] = LoadLe32(b, L::kPerIndexWords + 4 * i);
  GetBytes(b, L::kReservedKept1, &c->reserved_kept1);
  c->edit_password = GetText(b, L::kEditPassword, L::kEditPasswordSize);
  c->log_flags = LoadLe32(b, L::kLogFlags);
  c->log_folder = GetText(b, L::kLogFolder, L::kLogFolderSize);
  GetBytes(b, L::kReservedKept2, L::kReservedKept2Size, &c->reserved_kept2);
  std::string_view pdf = b.substr(L::kPdfSettings, L::kPdfSettingsSize);
  c->pdf.folder = GetText(pdf, L::kPdfFolder, L::kPathSize);
  c->pdf.mac_path = GetText(pdf, L::kPdfMacPath, L::kPathSize);
  c->pdf.win_path = GetText(pdf, L::kPdfWinPath, L::kPathSize);
  c->pdf.thumbnail_size = LoadLe32(pdf, L::kPdfThumbnailSize);
  c->pdf.preview_size = LoadLe32(pdf, L::kPdfPreviewSize);
  c->pdf.leading_preview = LoadLe32(pdf, L::kPdfLeadingPreview);
  GetBytes(b, L::kReservedKept3, L::kReservedKept3Size, &c->reserved_kept3);
}

// A count word of the settings block, clamped to 0..`most` with a warning.
int32_t ReadCount(std::string_view b, size_t off, int32_t most, const char* what,
                  std::vector<std::string>* warnings) {
  const int32_t count = GetI32(b, off);
  if (count >= 0 && count <= most) return count;
  const int32_t clamped = count < 0 ? 0 : most;
  warnings->push_back("Configuration: " + std::string(what) + " " + std::to_string(count) +
                      " out of range, read as " + std::to_string(clamped));
  return clamped;
}

// The index definitions from `*off` on; false when the file ends inside one.
bool DecodeDefinitions(std::string_view b, int32_t count, size_t* off, ConfigLoad* load) {
  for (int i = 0; i < count; ++i, *off += L::kDefinitionSize) {
    if (b.size() - *off < L::kDefinitionSize) {
      load->warnings.push_back("Configuration: file cut short inside index definition " +
                               std::to_string(i) + "; kept " + std::to_string(i) + " of " +
                               std::to_string(count) + " indexes and no event lines");
      return false;
    }
    IndexDefinition def = DecodeDefinition(b.substr(*off, L::kDefinitionSize));
    if (CheckBrowseLimit(&def)) {
      load->warnings.push_back("Configuration: browse limit of index " + std::to_string(i) +
                               " out of range, reset to off and 10000");
    }
    load->config.indexes.push_back(std::move(def));
  }
  return true;
}

// The event lines from `*off` on; false when the file ends inside one.
bool DecodeEventLines(std::string_view b, int32_t count, size_t* off, ConfigLoad* load) {
  for (int i = 0; i < count; ++i, *off += L::kEventLineSize) {
    if (b.size() - *off < L::kEventLineSize) {
      load->warnings.push_back("Configuration: file cut short inside event line " +
                               std::to_string(i) + "; kept " + std::to_string(i) + " of " +
                               std::to_string(count) + " event lines");
      return false;
    }
    load->config.event_lines.push_back(GetText(b, *off, L::kEventLineSize));
  }
  return true;
}

// Runtime fields and cleared reserved words stay zero.
void EncodeSettingsBlock(const Configuration& c, size_t index_count, size_t event_count,
                         std::string* b) {
  if (c.reserved_ignored.size() == L::kReservedIgnoredSize) {
    PutBytes(b, L::kReservedIgnored, c.reserved_ignored.data(), L::kReservedIgnoredSize);
  }
  for (int i = 0; i < L::kMaxIndexes; ++i)
    PutU32(b, L::kPerIndexWords + 4 * i, c.per_index_words[i]);
  PutBytes(b, L::kReservedKept1, c.reserved_kept1.data(), c.reserved_kept1.size());
  PutText(b, L::kEditPassword, L::kEditPasswordSize, c.edit_password);
  PutU32(b, L::kMagic, L::kMagicCurrent);
  PutI32(b, L::kIndexCount, static_cast<int32_t>(index_count));
  PutU32(b, L::kLogFlags, c.log_flags);
  PutText(b, L::kLogFolder, L::kLogFolderSize, c.log_folder);
  PutI32(b, L::kEventCount, static_cast<int32_t>(event_count));
  if (c.reserved_kept2.size() == L::kReservedKept2Size) {
    PutBytes(b, L::kReservedKept2, c.reserved_kept2.data(), L::kReservedKept2Size);
  }
  PutText(b, L::kPdfSettings + L::kPdfFolder, L::kPathSize, c.pdf.folder);
  PutText(b, L::kPdfSettings + L::kPdfMacPath, L::kPathSize, c.pdf.mac_path);
  PutText(b, L::kPdfSettings + L::kPdfWinPath, L::kPathSize, c.pdf.win_path);
  PutU32(b, L::kPdfSettings + L::kPdfThumbnailSize, c.pdf.thumbnail_size);
  PutU32(b, L::kPdfSettings + L::kPdfPreviewSize, c.pdf.preview_size);
  PutU32(b, L::kPdfSettings + L::kPdfLeadingPreview, c.pdf.leading_preview);
  if (c.reserved_kept3.size() == L::kReservedKept3Size) {
    PutBytes(b, L::kReservedKept3, c.reserved_kept3.data(), L::kReservedKept3Size);
  }
}

// One definition at `base`; the watch handles are runtime fields, written
// as "none".
void EncodeDefinition(const IndexDefinition& d, size_t base, std::string* b) {
  PutText(b, base + L::kIndexName, L::kIndexNameSize, d.name);
  PutText(b, base + L::kIndexFolder, L::kPathSize, d.index_folder);
  PutText(b, base + L::kEngineFolder, L::kPathSize, d.engine_folder);
  PutText(b, base + L::kListsFolder, L::kPathSize, d.lists_folder);
  PutText(b, base + L::kSearchFolder, L::kPathSize, d.search_folder);
  PutBytes(b, base + L::kPadding, d.padding.data(), d.padding.size());
  for (int s = 0; s < L::kImageFolderSlots; ++s) {
    const ImageFolderEntry& f = d.image_folders[s];
    const size_t e = base + L::kImageFolders + s * L::kFolderEntrySize;
    PutText(b, e + L::kFolderPath, L::kPathSize, f.path);
    PutText(b, e + L::kFolderMacVolume, L::kPathSize, f.mac_volume);
    PutText(b, e + L::kFolderWinShare, L::kPathSize, f.windows_share);
    PutI32(b, e + L::kFolderWatchHandle, -1);
    PutU32(b, e + L::kFolderIncludeSub, f.include_subfolders);
    PutBytes(b, e + L::kFolderReserved, f.reserved.data(), f.reserved.size());
  }
  PutI32(b, base + L::kSearchWatchHandle, -1);
  PutU32(b, base + L::kDocumentCount, d.document_count);
  PutU32(b, base + L::kSpaceWarning, d.space_warning);
  PutU32(b, base + L::kSpaceLimitMb, d.space_limit_mb);
  PutU32(b, base + L::kBrowseLimitOn, d.browse_limit_on);
  PutU32(b, base + L::kBrowseLimit, d.browse_limit);
  PutBytes(b, base + L::kReservedDefKept1, d.reserved1.data(), d.reserved1.size());
  PutBytes(b, base + L::kReservedDefKept2, d.reserved2.data(), d.reserved2.size());
  PutU32(b, base + L::kMacText, d.mac_text);
  PutU32(b, base + L::kDocInfo, d.doc_info);
  PutU32(b, base + L::kEmptyFields, d.empty_fields);
  PutU32(b, base + L::kOptimizeHour, d.optimize_hour);
  PutI32(b, base + L::kUnusedThreshold, d.unused_threshold);
  PutU32(b, base + L::kActive, d.active);
  PutBytes(b, base + L::kReservedDefKept3, d.reserved3.data(), d.reserved3.size());
  PutU32(b, base + L::kReservedDefKept3, d.metadata_switches);
  PutU32(b, base + L::kSearchesServed, d.statistics.searches);
  PutU32(b, base + L::kHitsReturned, d.statistics.hits);
  PutF64(b, base + L::kSearchSeconds, d.statistics.seconds);
  PutU32(b, base + L::kSearchDays, d.statistics.days);
  PutU32(b, base + L::kLastSearchDay, d.statistics.last_day);
}

}  // namespace

ConfigLoad DecodeConfiguration(std::string_view b, VolumeNamer& namer) {
  ConfigLoad load;
  load.file_found = true;
  load.status = CheckFileHead(b);
  if (!load.status.ok()) return load;
  Configuration& c = load.config;
  DecodeSettingsBlock(b, &c);
  const int32_t index_count =
      ReadCount(b, L::kIndexCount, L::kMaxIndexes, "index count", &load.warnings);
  const int32_t event_count =
      ReadCount(b, L::kEventCount, L::kMaxEventLines, "event line count", &load.warnings);
  size_t off = L::kBlockSize;
  const bool whole = DecodeDefinitions(b, index_count, &off, &load) &&
                     DecodeEventLines(b, event_count, &off, &load);
  if (whole && off < b.size()) {
    load.warnings.push_back("Configuration: ignored " + std::to_string(b.size() - off) +
                            " bytes after the event lines");
  }
  if (c.magic == L::kMagicPrevious) {
    for (IndexDefinition& def : c.indexes) ConvertPreviousLayout(&def, namer);
  }
  return load;
}

std::string EncodeConfiguration(const Configuration& c) {
  const size_t index_count = std::min<size_t>(c.indexes.size(), L::kMaxIndexes);
  const size_t event_count = std::min<size_t>(c.event_lines.size(), L::kMaxEventLines);
  // Only the newest 512 lines fit.
  const size_t first_event = c.event_lines.size() - event_count;

  std::string b(L::kBlockSize + index_count * L::kDefinitionSize + event_count * L::kEventLineSize,
                '\0');
  EncodeSettingsBlock(c, index_count, event_count, &b);
  for (size_t i = 0; i < index_count; ++i) {
    EncodeDefinition(c.indexes[i], L::kBlockSize + i * L::kDefinitionSize, &b);
  }
  // Event lines: at most 249 bytes of text, the rest of the field zero.
  size_t off = L::kBlockSize + index_count * L::kDefinitionSize;
  for (size_t i = first_event; i < c.event_lines.size(); ++i, off += L::kEventLineSize) {
    PutText(&b, off, L::kEventLineSize, c.event_lines[i]);
  }
  return b;
}

ConfigLoad LoadConfiguration(FileSystem& fs, const std::string& path, VolumeNamer& namer) {
  // One byte more than the largest well-formed file tells "too long" apart;
  // the rest of an over-long file is never read.
  StatusOr<std::string> bytes = fs.ReadFileRange(path, 0, L::kMaxFileSize + 1);
  if (!bytes.ok()) {
    ConfigLoad load;
    if (!bytes.status().IsNotFound()) {
      // It may well be there (no permission, an I/O error): never "no file".
      load.file_found = true;
      load.status = Status::IoError("cannot read the configuration data file " + path + ": " +
                                    bytes.status().ToString());
    }
    return load;
  }
  ConfigLoad load = DecodeConfiguration(*bytes, namer);
  load.stamp = StampOfBytes(*bytes);
  return load;
}

Status SaveConfiguration(FileSystem& fs, const Configuration& config, const std::string& path) {
  if (path.empty()) return Status::InvalidArgument("no path for the configuration data file");
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    VANTREL_RETURN_IF_ERROR(fs.CreateFolders(path.substr(0, slash)));
  }
  return fs.WriteFileAtomic(path, EncodeConfiguration(config), 0600);
}

}  // namespace vantrel
