// Replacing every shard of an index at once (a restore, an installed
// optimized copy), all or nothing across a crash.
//
// The steps, the caller holding the folder's writer lock:
//   1. every shard of the new layout gets its new database staged
//      (StageDatabase of index_files.h: "<shard>/vtstage" with its list
//      "STAGED", no commit of its own);
//   2. CommitShardSwap writes the swap mark "vtswap" into the engine folder
//      (a temporary name, synced, renamed, the folder synced). It holds one
//      line, "layout N": the new layout, whose shards (0 .. N-1, or the
//      engine folder itself for layout 0) are the ones staged. This is the
//      commit point;
//   3. FinishShardSwap, while searches are held back: swaps every staged
//      shard in (renames only), writes the layout line of the shard
//      settings, removes what the old layout had beyond the new one (the
//      database in the engine folder itself, shard folders from N on), and
//      deletes the mark last.
// RecoverShardSwap, run before any job on the folder: with a mark it runs
// step 3 again (every step is idempotent); without one it throws every
// staging away (stagings of a single database with their own READY, a
// compaction's, are finished instead: they keep the same documents). A
// crash thus leaves every old shard or every new one, with the layout line
// that matches them.
//
// Only the engine's own names in the engine folder are touched ("0".."7",
// "vtstage", "vtswap", "vtshards", the database files); listings never
// follow symbolic links and removals delete links, not what they point to.
//
// Thread safety: plain functions; the caller holds the folder's writer lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kSwapMarkFile[] = "vtswap";

// The mark's text for `layout`, and its parse: kCorruption unless the text
// is exactly one line "layout N" with 0 <= N <= kMaxShards.
std::string FormatSwapMark(uint32_t layout);
StatusOr<uint32_t> ParseSwapMark(std::string_view text);

bool HasSwapMark(FileSystem* fs, const std::string& folder);

// Step 2: commits the swap of the staged shards of `layout`.
Status CommitShardSwap(FileSystem* fs, const std::string& folder, uint32_t layout);

// Step 3 (see above). The caller holds back searches.
Status FinishShardSwap(FileSystem* fs, const std::string& folder, uint32_t layout);

// Without a mark: removes every uncommitted staging of the engine folder and
// its shard folders (and finishes committed single-database ones), then the
// shard folders beyond the current layout that are left empty. For a failed
// replacement and for recovery.
Status DiscardShardStagings(FileSystem* fs, const std::string& folder);

// What the next start does: FinishShardSwap when the mark is there (kCorruption
// when the mark cannot be read as one), else DiscardShardStagings. OK when
// `folder` does not exist.
Status RecoverShardSwap(FileSystem* fs, const std::string& folder);

}  // namespace vantrel
