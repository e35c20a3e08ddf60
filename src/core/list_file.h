// List files: browse lists on disk (TIMELIST, CHARLIST, DIRLIST, volume
// lists) and hit files share one little-endian format.
//
//   offset  size  content
//   0       4     number of records (signed; below 1 means no list)
//   4       4     second word: 0 in browse-list files, the number of hits
//                 found in hit files
//   8       400   skip table: 100 u32 file offsets; entry k is the offset of
//                 record k * 1024, 0 where there is no such record; entry 0
//                 is always 408, also in a file without records
//   408     ...   records, one after the other:
//                   u32 name length including the terminating NUL (1..256)
//                   u32 time stamp
//                   u32 value
//                   u32 extra (kNoExtra is written as the record's position
//                       in the file, counting from 0)
//                   name bytes (the expanded key, folder part first) and NUL
//
// Records are written in the list's current order. Clients read these files
// directly; the skip table lets them seek to any 1024th record. Bytes after
// the last counted record are not part of the file's content (a hit file
// written over a larger old one keeps the old tail).
//
// Writing goes through a 100,000-byte buffer that is written out whenever it
// holds more than 100,000 bytes, so memory stays bounded for 2,000,000
// entries. Two ways to write:
//  - SaveListFileAtomic: the browse lists. The file is written beside the
//    target under a temporary name, synced and renamed over it, so a reader
//    (or a crash) sees the old file or the new one, never a torn one; a
//    failure leaves the old file as it was.
//  - WriteListFile / SaveListFileInPlace: in place, over an existing file
//    from its start without truncating it (hit files).
//
// Reading (DecodeListFile, LoadListFile) checks every length and offset. A
// count below 1 loads nothing. A damaged file never crashes the reader: the
// complete records before the first damaged one are added to the list, and
// the damage is reported as kCorruption (what was wrong, which record, at
// which offset). A skip table that disagrees with the records is reported the
// same way after all records were added.
//
// Thread safety: the functions keep no state; the list must not change during
// a call (LockedBrowseList holds its lock around them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/browse_list.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr size_t kListFileHeaderSize = 408;
inline constexpr size_t kListSkipTableOffset = 8;
inline constexpr size_t kListSkipEntries = 100;
inline constexpr size_t kListSkipInterval = 1024;
inline constexpr size_t kListRecordHeaderSize = 16;
inline constexpr size_t kListWriteBufferSize = 100'000;
// The largest file a list can need (2,000,000 records of 255-byte names); the
// loader reads no further.
inline constexpr size_t kMaxListFileBytes =
    kListFileHeaderSize + kMaxListEntries * (kListRecordHeaderSize + kMaxListNameLength + 1);

struct ListFileWriteOptions {
  // Most records to write: the first ones in list order. 0 writes all.
  size_t max_entries = 0;
  // The word at offset 4 (hits found, in hit files).
  uint32_t second_word = 0;
};

// The header of a file as read.
struct ListFileHeader {
  int32_t count = 0;
  uint32_t second_word = 0;
  std::array<uint32_t, kListSkipEntries> skip{};
};

// Writes the list file into `file` from offset 0 with positioned writes
// (WriteAt only), without truncating, syncing or closing it. On failure the
// file holds a partial list (the caller decides what to do with it).
Status WriteListFile(const BrowseList& list, WritableFile* file,
                     const ListFileWriteOptions& options);

// Replaces `path` with the list file: writes `path` + ".new", syncs, closes
// and renames it over `path`. On failure the temporary file is deleted and
// `path` keeps its old content (or stays missing). The folder must exist.
Status SaveListFileAtomic(const BrowseList& list, FileSystem* fs, const std::string& path,
                          const ListFileWriteOptions& options);

// Writes the list file over `path` in place (FileSystem::OpenForOverwrite):
// from its start, without truncating, so a longer old file keeps its tail;
// creates the file when missing. One attempt: a caller that must wait for a
// busy file retries. On failure the file may hold a partial list.
Status SaveListFileInPlace(const BrowseList& list, FileSystem* fs, const std::string& path,
                           const ListFileWriteOptions& options);

// The whole file as bytes (small lists and tests).
std::string EncodeListFile(const BrowseList& list, const ListFileWriteOptions& options);

// Adds the records of a list file to `list` (merging with its entries, in the
// list's order: set the order of an empty list before loading to sort once).
// With `keep_extra` the record's extra is kept (DIRLIST, entry numbers of hit
// files), otherwise entries get kNoExtra. `header`, when given, receives the
// header when the file has one. See the top of this file for damaged files.
Status DecodeListFile(std::string_view bytes, bool keep_extra, BrowseList* list,
                      ListFileHeader* header = nullptr);

// Reads `path` (at most kMaxListFileBytes) and decodes it. kNotFound when the
// file does not exist (the list is unchanged).
Status LoadListFile(FileSystem* fs, const std::string& path, bool keep_extra, BrowseList* list,
                    ListFileHeader* header = nullptr);

}  // namespace vantrel
