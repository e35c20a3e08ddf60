// Hit files: the answer to a search request, and the merge and restrict
// lists that a later request reads back from them.
//
// A hit file is a list file (core/list_file.h): record count, the number of
// hits the search found as second word, the skip table, then one record per
// accepted hit in the hit list's order: the file key as name, the file time
// stamp, the type code as value and the entry number as extra (the record's
// position in the file when the hit has none). The found count is larger
// than the record count when a limit cut the file and smaller when hits of
// a merged list were added. A search without hits gives the 408-byte file
// with count 0 and found 0.
//
// A hit file is written over an existing file of the same name in place,
// from its start, and never truncated: an older, larger file keeps its tail
// behind the new records, and the record count tells the valid part. This
// lets a client keep a hit file open across searches. The file system's
// OpenForWrite truncates, so the writer opens with OpenForOverwrite (or,
// for tests of the retries, through an OpenForUpdateFn, which must open
// without truncating and create a missing file).
//
// Thread safety: the functions keep no state; the hit list must not change
// during a call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/browse_list.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Opens `path` (native) for positioned writes without truncating it, creating
// it (mode kSharedFileMode, 0664) when it does not exist. The file system
// never writes through a symbolic link planted at the name (file_system.h). Fails with kNotFound when its folder
// does not exist.
using OpenForUpdateFn =
    std::function<StatusOr<std::unique_ptr<WritableFile>>(const std::string& path)>;

struct HitFileSaveOptions {
  // Attempts to open an existing hit file (a client may hold it for a moment).
  int open_attempts = 40;
  std::chrono::milliseconds pause{10};
  // Waits between attempts; std::this_thread::sleep_for when empty.
  std::function<void(std::chrono::milliseconds)> sleep;
};

// Writes the hit file into `file` from offset 0 (positioned writes, no
// truncation, no close): min(hits.Count(), limit) records, all when `limit`
// is 0, and `hits_found` as the second word.
Status WriteHitFile(const BrowseList& hits, uint32_t hits_found, uint32_t limit,
                    WritableFile* file);

// The bytes WriteHitFile writes into an empty file.
std::string EncodeHitFile(const BrowseList& hits, uint32_t hits_found, uint32_t limit);

// Writes the hit file at `path` (native): over an existing file in place,
// opened with up to `open_attempts` attempts `pause` apart; or, when there is
// none, as a new file, its missing folders created first. The file is closed
// on return. On failure the file may hold a partial answer.
Status SaveHitFile(FileSystem* fs, const OpenForUpdateFn& open_for_update,
                   const std::string& path, const BrowseList& hits, uint32_t hits_found,
                   uint32_t limit, const HitFileSaveOptions& options = {});
// The same, opening with fs->OpenForOverwrite: a symbolic link or hard-linked
// file planted under the answer's name is replaced by a new file.
Status SaveHitFile(FileSystem* fs, const std::string& path, const BrowseList& hits,
                   uint32_t hits_found, uint32_t limit, const HitFileSaveOptions& options = {});

// Loads the merge or restrict list `name` of a request from `search_folder`
// (native) into `list`, which must be empty; the list ends up in time order
// with each record's entry number kept. A name that is not a plain file name
// (request_names.h), a missing or unreadable file leave the list empty; a
// damaged file keeps its complete records before the damage. The status says
// what went wrong (for the log); the search goes on either way.
Status LoadRequestList(FileSystem* fs, std::string_view search_folder, std::string_view name,
                       const CodePage& code_page, BrowseList* list);

}  // namespace vantrel
