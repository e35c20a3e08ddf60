// The index statistics record: what an index holds, built from its browse
// lists after every document and every batch and handed to the console.
//
// Record bytes (little-endian, 544 bytes):
//   0    u32        number of files (TIMELIST entries)
//   4    u32        unused documents: indexed-list entries minus TIMELIST
//                   entries, as a signed 32-bit difference
//   8    u32        number of folders (DIRLIST entries)
//   12   u32        documents in the engine index (as last read)
//   16   u32        0
//   20   256 bytes  newest file's full path, NUL-terminated, zero-filled
//   276  256 bytes  oldest file's full path, likewise
//   532  u32        newest time stamp
//   536  u32        oldest time stamp
//   540  u32        index number
// A path longer than 255 bytes keeps its first 255 in the record (the record
// is for display only).
//
// Thread safety: the builder reads the lists through their locks, one
// operation at a time; the other functions are pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/list_lock_table.h"

namespace vantrel {

inline constexpr size_t kIndexStatisticsSize = 544;
inline constexpr size_t kIndexStatisticsPathSize = 256;
inline constexpr int kImageFolderSlots = 32;

// The root path of each image folder slot of an index (slot 0 is the index's
// OffLine folder); empty for a slot without a path.
using ImageFolderRoots = std::array<std::string, kImageFolderSlots>;

struct IndexStatistics {
  uint32_t file_count = 0;
  int32_t unused_documents = 0;
  uint32_t folder_count = 0;
  uint32_t engine_documents = 0;
  std::string newest_path;
  std::string oldest_path;
  uint32_t newest_time = 0;
  uint32_t oldest_time = 0;
  int32_t index_number = 0;
  bool operator==(const IndexStatistics&) const = default;
};

// The full path shown for a file key: its image folder's root, a backslash
// and the key without its first two characters (the folder number). Empty
// when the key does not begin with a folder number 00..31 or that folder has
// no path.
std::string StatisticsFullPath(const ImageFolderRoots& roots, std::string_view file_key);

// Builds the record from the index's lists. `timelist` must be in time order
// (its first entry is the newest file, its last the oldest). Each list is
// read under its lock, one operation at a time.
IndexStatistics BuildIndexStatistics(LockedBrowseList timelist, LockedBrowseList indexed,
                                     LockedBrowseList dirlist, uint32_t engine_documents,
                                     const ImageFolderRoots& roots, int index_number);

// The record's 544 bytes.
std::string EncodeIndexStatistics(const IndexStatistics& stats);

}  // namespace vantrel
