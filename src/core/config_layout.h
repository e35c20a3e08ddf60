// Byte layout of the configuration data file.
//
// The file is one configuration block, then `index count` index definitions in
// index order, then `event count` event lines, oldest first:
//
//   offset 0                       configuration block      152196 bytes
//   offset 152196                  index definitions        36784 x index count
//   after the definitions          event lines              250 x event count
//
// All integers are little-endian. Texts are NUL-terminated single-byte strings
// in fixed-width fields; a text holds at most (width - 1) bytes.
//
// Three kinds of area appear below:
//   - persistent fields: decoded into the in-memory model and written back;
//   - runtime fields: in-memory state of a running server (list references,
//     watch handles, thread ids). They mean nothing in the file; the codec
//     ignores them on load and writes them as zero (watch handles as -1, which
//     is how they stand after a load);
//   - reserved areas: either kept byte for byte (readers accept any content and
//     the bytes go back unchanged) or cleared (written as zero).
//
// Constants only; safe to use from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::config_layout {

// Magic numbers at kMagic.
inline constexpr uint32_t kMagicCurrent = 45688;
// The earlier layout of the image folder slots: no offline folder in slot 0.
inline constexpr uint32_t kMagicPrevious = 45687;

inline constexpr int kMaxIndexes = 32;
inline constexpr int kImageFolderSlots = 32;  // slot 0 is the offline folder
inline constexpr int kMaxEventLines = 512;

// ---------------------------------------------------------------------------
// Configuration block (152196 bytes).
inline constexpr size_t kBlockSize = 152196;

inline constexpr size_t kIndexSlots = 0;  // runtime: 32 u32 references
inline constexpr size_t kIndexSlotsSize = 128;
inline constexpr size_t kReservedIgnored = 128;  // reserved, kept
inline constexpr size_t kReservedIgnoredSize = 137216;
inline constexpr size_t kPerIndexWords = 137344;     // 32 u32, persistent
inline constexpr size_t kReservedCleared1 = 137472;  // 2 u32, cleared
inline constexpr size_t kReservedKept1 = 137480;     // 8 bytes, kept
inline constexpr size_t kReservedKept1Size = 8;
inline constexpr size_t kWatcherThreadId = 137488;  // runtime
inline constexpr size_t kStatusWindow = 137492;     // runtime
inline constexpr size_t kEditPassword = 137496;     // text
inline constexpr size_t kEditPasswordSize = 36;
inline constexpr size_t kMagic = 137532;             // u32
inline constexpr size_t kReservedCleared2 = 137536;  // 2 u32, cleared
inline constexpr size_t kIndexCount = 137544;        // i32, 0..32
inline constexpr size_t kLogFlags = 137548;          // u32
inline constexpr size_t kLogFolder = 137552;         // text
inline constexpr size_t kLogFolderSize = 300;
inline constexpr size_t kEventReferences = 137852;  // runtime: 512 u32
inline constexpr size_t kEventReferencesSize = 2048;
inline constexpr size_t kEventCount = 139900;     // i32, 0..512
inline constexpr size_t kReservedKept2 = 139904;  // 8196 bytes, kept
inline constexpr size_t kReservedKept2Size = 8196;
inline constexpr size_t kPdfSettings = 148100;     // 780 bytes, see below
inline constexpr size_t kThumbnailQueue = 148880;  // runtime
inline constexpr size_t kTaskContext = 148884;     // runtime
inline constexpr size_t kReservedKept3 = 148888;   // 3308 bytes, kept
inline constexpr size_t kReservedKept3Size = 3308;

// PDF settings (780 bytes), offsets relative to kPdfSettings.
inline constexpr size_t kPdfSettingsSize = 780;
inline constexpr size_t kPdfFolder = 0;     // text 256: local path
inline constexpr size_t kPdfMacPath = 256;  // text 256: Macintosh volume path
inline constexpr size_t kPdfWinPath = 512;  // text 256: Windows share path
inline constexpr size_t kPdfThumbnailSize = 768;
inline constexpr size_t kPdfPreviewSize = 772;
inline constexpr size_t kPdfLeadingPreview = 776;  // 3 on, 1 off

// Width of every path field.
inline constexpr size_t kPathSize = 256;

// ---------------------------------------------------------------------------
// Index definition (36784 bytes), offsets relative to its start.
inline constexpr size_t kDefinitionSize = 36784;

inline constexpr size_t kIndexName = 0;
inline constexpr size_t kIndexNameSize = 33;
inline constexpr size_t kIndexFolder = 33;    // text 256
inline constexpr size_t kEngineFolder = 289;  // text 256, derived
inline constexpr size_t kListsFolder = 545;   // text 256, derived
inline constexpr size_t kSearchFolder = 801;  // text 256, derived
inline constexpr size_t kPadding = 1057;      // 3 bytes, kept
inline constexpr size_t kPaddingSize = 3;
inline constexpr size_t kImageFolders = 1060;  // 32 x 1068
// 35236 .. 35291: runtime (lists, request list, search-folder watch).
inline constexpr size_t kRuntimeLists = 35236;
inline constexpr size_t kRuntimeListsSize = 20;  // 5 list references
inline constexpr size_t kSearchWatchArmed = 35256;
inline constexpr size_t kSearchWatchOverlapped = 35260;  // 20 bytes
inline constexpr size_t kSearchWatchBuffer = 35280;
inline constexpr size_t kSearchWatchHandle = 35284;  // -1 when closed
inline constexpr size_t kSearchWatchBytes = 35288;
inline constexpr size_t kDocumentCount = 35292;
inline constexpr size_t kSpaceWarning = 35296;
inline constexpr size_t kSpaceLimitMb = 35300;
inline constexpr size_t kReservedDefCleared1 = 35304;  // u32, cleared
inline constexpr size_t kBrowseLimitOn = 35308;
inline constexpr size_t kBrowseLimit = 35312;
inline constexpr size_t kReservedDefKept1 = 35316;  // 4 bytes, kept
inline constexpr size_t kReservedDefKept1Size = 4;
inline constexpr size_t kStatisticsRecord = 35320;  // runtime
inline constexpr size_t kReservedDefKept2 = 35324;  // 1008 bytes, kept
inline constexpr size_t kReservedDefKept2Size = 1008;
inline constexpr size_t kMacText = 36332;
inline constexpr size_t kDocInfo = 36336;
inline constexpr size_t kEmptyFields = 36340;
inline constexpr size_t kOptimizeHour = 36344;
inline constexpr size_t kUnusedThreshold = 36348;  // i32
inline constexpr size_t kOptimizeDone = 36352;     // runtime
inline constexpr size_t kActive = 36356;
inline constexpr size_t kReservedDefCleared2 = 36360;  // 2 u32, cleared
inline constexpr size_t kRestartState = 36368;         // runtime
inline constexpr size_t kReservedDefKept3 = 36372;     // 388 bytes, kept
inline constexpr size_t kReservedDefKept3Size = 388;
inline constexpr size_t kSearchesServed = 36760;
inline constexpr size_t kHitsReturned = 36764;
inline constexpr size_t kSearchSeconds = 36768;  // IEEE 754 double
inline constexpr size_t kSearchDays = 36776;
inline constexpr size_t kLastSearchDay = 36780;  // years since 1900 * 1000 + day of year

// ---------------------------------------------------------------------------
// Image folder entry (1068 bytes), offsets relative to its start.
inline constexpr size_t kFolderEntrySize = 1068;

inline constexpr size_t kFolderPath = 0;           // text 256; empty = free slot
inline constexpr size_t kFolderMacVolume = 256;    // text 256
inline constexpr size_t kFolderWinShare = 512;     // text 256
inline constexpr size_t kFolderChangeQueue = 768;  // runtime
inline constexpr size_t kFolderWatchArmed = 772;   // runtime
inline constexpr size_t kFolderOverlapped = 776;   // runtime, 20 bytes
inline constexpr size_t kFolderBuffer = 796;       // runtime
inline constexpr size_t kFolderWatchHandle = 800;  // runtime, -1 when closed
inline constexpr size_t kFolderNotifyBytes = 804;  // runtime
inline constexpr size_t kFolderIncludeSub = 808;   // u32 0/1
inline constexpr size_t kFolderReserved = 812;     // 256 bytes, kept
inline constexpr size_t kFolderReservedSize = 256;

// ---------------------------------------------------------------------------
// Event line (250 bytes): text of at most 249 bytes, NUL-terminated, rest zero.
inline constexpr size_t kEventLineSize = 250;

// Largest well-formed file.
inline constexpr size_t kMaxFileSize =
    kBlockSize + kMaxIndexes * kDefinitionSize + kMaxEventLines * kEventLineSize;

static_assert(kImageFolders + kImageFolderSlots * kFolderEntrySize == kRuntimeLists);
static_assert(kPdfSettings + kPdfSettingsSize == kThumbnailQueue);
static_assert(kReservedKept3 + kReservedKept3Size == kBlockSize);
static_assert(kReservedKept2 + kReservedKept2Size == kPdfSettings);
static_assert(kEventReferences + kEventReferencesSize == kEventCount);
static_assert(kLogFolder + kLogFolderSize == kEventReferences);
static_assert(kReservedIgnored + kReservedIgnoredSize == kPerIndexWords);
static_assert(kLastSearchDay + 4 == kDefinitionSize);
static_assert(kReservedDefKept3 + kReservedDefKept3Size == kSearchesServed);
static_assert(kReservedDefKept2 + kReservedDefKept2Size == kMacText);
static_assert(kFolderReserved + kFolderReservedSize == kFolderEntrySize);

}  // namespace vantrel::config_layout
