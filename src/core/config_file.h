// The configuration: every setting of the server, the index definitions with
// their image folders, and the event list, as kept in the configuration data
// file (layout in core/config_layout.h).
//
// The structs below hold the persistent fields only. What a running server
// attaches to an index or a folder (browse lists, watch handles, change
// queues, restart state, optimize-done flag) lives in the server's runtime
// state, never here; the file holds zeros in those places.
//
// Texts are kept as the bytes stored in the file (native UTF-8 paths, the
// operator's texts). Each text field has a fixed width in the file; the
// setters below refuse a text that does not fit, and the encoder cuts an
// over-long text to (width - 1) bytes as a last resort.
//
// Paths are native POSIX paths. The offline folder of an index is the index
// folder + "/OffLine"; the derived folders are index folder + "/VT_DATA/VT_INDEX",
// "/VT_DATA/VT_LISTS" and "/VT_SEARCH".
//
// Thread safety: plain values. A Configuration is owned by one thread (the
// console's copy, the task's copy); callers that share one must lock it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/config_layout.h"
#include "core/volume_namer.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Log option flag bits.
inline constexpr uint32_t kLogUseFile = 1;   // write the log file
inline constexpr uint32_t kLogDaily = 2;     // new log file every day (clear: every week)
inline constexpr uint32_t kLogNewFiles = 4;  // log every file added to an index
inline constexpr uint32_t kLogSearches = 8;  // log every search
inline constexpr uint32_t kDefaultLogFlags = kLogDaily;

// Longest texts that fit their fields (field width minus the terminator).
inline constexpr size_t kMaxIndexNameLength = config_layout::kIndexNameSize - 1;    // 32
inline constexpr size_t kMaxPathLength = config_layout::kPathSize - 1;              // 255
inline constexpr size_t kMaxPasswordLength = config_layout::kEditPasswordSize - 1;  // 35
inline constexpr size_t kMaxLogFolderLength = config_layout::kLogFolderSize - 1;    // 299
inline constexpr size_t kMaxEventLineLength = config_layout::kEventLineSize - 1;    // 249
// An index folder must leave room for its longest derived path
// ("/VT_DATA/VT_INDEX", "/VT_DATA/VT_LISTS") in a path field.
inline constexpr size_t kMaxIndexFolderLength = kMaxPathLength - 17;  // 238

// One image folder slot of an index. An empty path marks a free slot; a free
// slot keeps its other fields (they are the last folder's, and are replaced
// when the slot is used again).
struct ImageFolderEntry {
  std::string path;           // native path of the folder
  std::string mac_volume;     // Macintosh volume path clients use ("Vol:sub")
  std::string windows_share;  // Windows share path clients use ("\\SRV\SHARE\sub")
  uint32_t include_subfolders = 1;
  // Reserved bytes of the entry, kept as read.
  std::array<uint8_t, config_layout::kFolderReservedSize> reserved{};

  bool used() const { return !path.empty(); }
  friend bool operator==(const ImageFolderEntry&, const ImageFolderEntry&) = default;
};

// The search statistics of an index.
struct SearchStatistics {
  uint32_t searches = 0;  // searches served
  uint32_t hits = 0;      // hits returned, summed over all searches
  double seconds = 0;     // search time, summed
  uint32_t days = 0;      // days on which searches were served
  uint32_t last_day = 0;  // (years since 1900) * 1000 + day of the year from 0
  friend bool operator==(const SearchStatistics&, const SearchStatistics&) = default;
};

struct IndexDefinition {
  std::string name;          // at most 32 bytes
  std::string index_folder;  // native path
  // Derived from the index folder (DeriveIndexFolders) at every task start;
  // stored because the file has room for them.
  std::string engine_folder;
  std::string lists_folder;
  std::string search_folder;
  std::array<ImageFolderEntry, config_layout::kImageFolderSlots> image_folders;

  uint32_t document_count = 0;  // documents in the engine index
  uint32_t space_warning = 1;   // 0/1
  uint32_t space_limit_mb = 100;
  uint32_t browse_limit_on = 0;   // 0/1
  uint32_t browse_limit = 10000;  // a multiple of 1000
  uint32_t mac_text = 0;          // 0/1: convert text from Macintosh ASCII
  uint32_t doc_info = 1;          // 0/1: index Photoshop document info
  uint32_t empty_fields = 1;      // 0 none, 1 the most common, 2 all
  uint32_t optimize_hour = 4;     // 0..24; 24 never matches a local hour
  int32_t unused_threshold = 0;   // unused-entries threshold for optimization
  uint32_t active = 0;            // 1: served, 0: stopped
  // The per-index metadata switches (metadata/metadata_switches.h): the first
  // u32 of the last reserved area, kept whole (bits beyond the four known
  // ones stay as read). Zero, as in every older file, means all reads on.
  uint32_t metadata_switches = 0;
  SearchStatistics statistics;

  // Reserved bytes, kept as read.
  std::array<uint8_t, config_layout::kPaddingSize> padding{};
  std::array<uint8_t, config_layout::kReservedDefKept1Size> reserved1{};
  std::array<uint8_t, config_layout::kReservedDefKept2Size> reserved2{};
  // Its first four bytes are metadata_switches: always zero here.
  std::array<uint8_t, config_layout::kReservedDefKept3Size> reserved3{};

  friend bool operator==(const IndexDefinition&, const IndexDefinition&) = default;
};

struct PdfSettings {
  std::string folder;             // native path of the thumbnail and preview folder
  std::string mac_path;           // the folder as a Macintosh volume path ("MAC_PATH")
  std::string win_path;           // the folder as a Windows share path ("WIN_PATH")
  uint32_t thumbnail_size = 300;  // pixels, at least 100
  uint32_t preview_size = 800;    // pixels, at least 100
  uint32_t leading_preview = 3;   // additional preview of leading pages: 3 on, 1 off
  friend bool operator==(const PdfSettings&, const PdfSettings&) = default;
};

// The configuration block with its index definitions and event lines.
struct Configuration {
  // The magic found on load; kMagicPrevious until the next save converts the
  // file. Save always writes kMagicCurrent.
  uint32_t magic = config_layout::kMagicCurrent;
  std::string edit_password;  // empty: edit is not protected
  uint32_t log_flags = kDefaultLogFlags;
  std::string log_folder;
  PdfSettings pdf;
  // One word per index, moved with the index when one is deleted.
  std::array<uint32_t, config_layout::kMaxIndexes> per_index_words{};
  std::vector<IndexDefinition> indexes;  // at most 32, in index order
  std::vector<std::string> event_lines;  // at most 512, oldest first

  // Reserved areas kept byte for byte.
  std::vector<uint8_t> reserved_ignored =
      std::vector<uint8_t>(config_layout::kReservedIgnoredSize, 0);
  std::array<uint8_t, config_layout::kReservedKept1Size> reserved_kept1{};
  std::vector<uint8_t> reserved_kept2 = std::vector<uint8_t>(config_layout::kReservedKept2Size, 0);
  std::vector<uint8_t> reserved_kept3 = std::vector<uint8_t>(config_layout::kReservedKept3Size, 0);

  friend bool operator==(const Configuration&, const Configuration&) = default;
};

// ---------------------------------------------------------------------------
// Codec and file.

// What the configuration data file held when it was read: whether it
// existed, its size and a 64-bit hash of its bytes (see core/config_guard.h).
struct ConfigFileStamp {
  bool exists = false;
  uint64_t size = 0;
  uint64_t hash = 0;
  friend bool operator==(const ConfigFileStamp&, const ConfigFileStamp&) = default;
};

// What loading produced. `config` is always usable: it holds the defaults when
// there was no file, and when the file could not be used at all.
struct ConfigLoad {
  Configuration config;
  // OK, also when no file exists (then `file_found` is false). A failure
  // (kCorruption for a wrong magic or a file too short to hold the
  // configuration block; kIoError when an existing file cannot be read) leaves
  // the defaults in `config`.
  Status status;
  bool file_found = false;
  // Damage that was repaired while loading (a cut-off file, counts out of
  // range, browse limits reset), one line per finding, for the event list.
  std::vector<std::string> warnings;
  // The file as it was read (LoadConfiguration only), for ConfigSaver.
  ConfigFileStamp stamp;
};

// Decodes a whole configuration data file. Never fails on any bytes: see
// ConfigLoad. Converts the previous layout of the image folder slots (magic
// 45687), asking `namer` for the names of each new offline folder.
ConfigLoad DecodeConfiguration(std::string_view bytes, VolumeNamer& namer);

// The bytes of the configuration data file for `config`: magic 45688, runtime
// fields zero (watch handles -1), the event count from event_lines (at most
// the last 512), texts cut to their fields.
std::string EncodeConfiguration(const Configuration& config);

// Reads and decodes the file at `path` (see DecodeConfiguration). A file
// that exists but cannot be read gives kIoError with `file_found` set: the
// caller must not go on with the defaults as if there were no file.
ConfigLoad LoadConfiguration(FileSystem& fs, const std::string& path, VolumeNamer& namer);

// Writes the file at `path` atomically (a reader or a crash sees the old file
// or the new one, never a part), with mode 0600 since it holds the edit
// password. Creates missing folders of the path. kInvalidArgument for an empty
// path; the FileSystem's error when writing fails (the old file then stays).
Status SaveConfiguration(FileSystem& fs, const Configuration& config, const std::string& path);

// ---------------------------------------------------------------------------
// Operations on the model. Index numbers count from 0.

// Magic 45688, no indexes, no events, empty password and log folder, log
// flags 2, per-index words zero, PDF settings empty/300/800/3, reserved areas
// zero.
void ResetToDefaults(Configuration* config);

// Native paths derived from an index folder.
std::string OfflineFolderOf(const std::string& index_folder);
std::string EngineFolderOf(const std::string& index_folder);
std::string ListsFolderOf(const std::string& index_folder);
std::string SearchFolderOf(const std::string& index_folder);
// Sets the engine, lists and search folders of `def` from its index folder.
void DeriveIndexFolders(IndexDefinition* def);

// True when the native path `path` is `folder` itself or lies below it,
// compared component by component ("/srv/img" holds "/srv/img/index" but not
// "/srv/images/index"). Trailing slashes do not count. This is the nesting
// rule for image folders: an image folder must not hold its index folder.
bool PathIsWithin(std::string_view path, std::string_view folder);

// A new definition with default options and free image folder slots.
// kInvalidArgument when the name is empty or longer than 32 bytes, or the
// folder is empty or longer than kMaxIndexFolderLength.
StatusOr<IndexDefinition> NewIndexDefinition(const std::string& name,
                                             const std::string& index_folder);

// Appends a copy of `def` with its search statistics, document count and
// active flag cleared, and slot 0 made the offline folder (names from
// `namer`). Returns the new index count; kResourceExhausted when 32 indexes
// exist; kInvalidArgument when a text of `def` does not fit its field.
StatusOr<int> AddIndex(Configuration* config, const IndexDefinition& def, VolumeNamer& namer);

// Removes index `index`; later indexes and their per-index words move down by
// one. kInvalidArgument when there is no such index.
Status DeleteIndex(Configuration* config, int index);

int IndexCount(const Configuration& config);
// nullptr when `index` is not below the index count.
const IndexDefinition* IndexAt(const Configuration& config, int index);
IndexDefinition* MutableIndexAt(Configuration* config, int index);
// "" when `index` is not below the index count.
std::string IndexFolderOf(const Configuration& config, int index);

// Takes the first free slot from 1 upward. Returns the slot number;
// kResourceExhausted when slots 1..31 are all used; kInvalidArgument for an
// unknown index, an empty path or a text that does not fit its field.
StatusOr<int> AddImageFolder(Configuration* config, int index, const std::string& path,
                             const std::string& windows_share, const std::string& mac_volume,
                             bool include_subfolders);

// Image folders by position: `n` counts only used slots, in slot order, slot
// 0 included. The slot number of the n-th used slot, or -1 when there is none
// (also for an unknown index).
int UsedSlot(const Configuration& config, int index, int n);
// nullptr when there is no n-th used slot.
const ImageFolderEntry* GetImageFolder(const Configuration& config, int index, int n);
// Replaces path, names and include-subfolders of the n-th used slot.
// kNotFound when there is no such slot; kInvalidArgument for an empty path or
// a text that does not fit.
Status SetImageFolder(Configuration* config, int index, int n, const ImageFolderEntry& entry);
// Frees the n-th used slot (its path becomes empty; the other fields stay).
// kNotFound when there is no such slot.
Status RemoveImageFolder(Configuration* config, int index, int n);
// Number of used slots; 0 for an unknown index.
int CountImageFolders(const Configuration& config, int index);

// kInvalidArgument when a text does not fit, a size is below 100 or the
// leading-pages option is neither 1 nor 3.
Status SetPdfSettings(Configuration* config, const PdfSettings& pdf);
const PdfSettings& GetPdfSettings(const Configuration& config);

// kInvalidArgument when the text does not fit its field.
Status SetEditPassword(Configuration* config, const std::string& password);
Status SetLogFolder(Configuration* config, const std::string& folder);
void SetLogFlags(Configuration* config, uint32_t flags);

// The browse-limit rule: a flag other than 0/1 or a limit that is not a
// multiple of 1000 resets both to off / 10000. Returns true when it reset.
bool CheckBrowseLimit(IndexDefinition* def);

}  // namespace vantrel
