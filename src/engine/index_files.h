// The files of one index database and how they are replaced safely.
//
// A database is the Xapian files of one folder; its version file
// ("iamglass") is rewritten at every commit, so its size and time tell a
// reader whether the database changed since it opened it.
//
// Replacing the whole database (compaction, restoring a copy) goes through a
// staging folder inside the index folder:
//   1. the new database is written into "<folder>/vtstage";
//   2. "vtstage/READY" is written, listing the new files; from here on the
//      swap is finished even after a crash (RecoverSwap);
//   3. the version file of the old database is deleted: readers can no
//      longer open it (they wait and retry);
//   4. every new table file is renamed over the old one, old tables without
//      a new one are deleted;
//   5. the new version file is moved in last; then the staging folder goes.
// A reader that opened the old database keeps reading its files (renaming
// over an open file does not disturb it); a reader that opened while the
// swap ran sees the version file change and opens again.
//
// When several databases are replaced together (every shard of an index,
// see shard_swap.h), step 2 writes "vtstage/STAGED" instead: the same list,
// but no commit. Such a staging is swapped in only when the caller's own
// commit point says so (SwapStaged); RecoverSwap throws it away.
//
// Thread safety: the caller holds the folder's writer lock around StageAndSwap
// and RecoverSwap; DatabaseVersion may be called from any thread.
#pragma once

#include <functional>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kVersionFileName[] = "iamglass";
inline constexpr char kStagingFolderName[] = "vtstage";
inline constexpr char kReadyFileName[] = "READY";
inline constexpr char kStagedFileName[] = "STAGED";
inline constexpr char kLockFileName[] = "flintlock";

// What identifies one committed state of a database.
struct DatabaseVersion {
  uint64_t size = 0;
  WinFileTime modified = 0;
  bool operator==(const DatabaseVersion&) const = default;
};

// The version of the database in `folder`; kNotFound when it has no version
// file (no database, or a swap is running).
StatusOr<DatabaseVersion> ReadDatabaseVersion(FileSystem* fs, const std::string& folder);

// Builds a new database with `fill` (given the empty staging folder) and
// swaps it in as described above. When `fill` fails the old database stays
// and the staging folder is removed.
Status StageAndSwap(FileSystem* fs, const std::string& folder,
                    const std::function<Status(const std::string& stage)>& fill);

// The two halves of a swap whose commit point lies elsewhere (the shards of
// an index, shard_swap.h): StageDatabase does steps 1 and 2 with the list
// "STAGED" (nothing is bound to happen yet; RecoverSwap and DiscardStaged
// throw it away); SwapStaged does steps 3 to 5 of a staging listed by STAGED
// or READY, and is quick (renames only) and idempotent: run again after a
// crash it finishes what is left. OK when nothing is staged.
Status StageDatabase(FileSystem* fs, const std::string& folder,
                     const std::function<Status(const std::string& stage)>& fill);
Status SwapStaged(FileSystem* fs, const std::string& folder);
// Removes the staging folder of `folder`, whatever it holds.
Status DiscardStaged(FileSystem* fs, const std::string& folder);

// Removes what a database creation cut short left behind in `folder`: the
// table files ("*.glass") and the version file's temporary ("v.tmp") when
// the folder has no version file. Xapian will not create a database over
// such tables, so an index whose very first commit was interrupted (a kill
// during a first start) could otherwise never be written again. Tables
// without a version file hold no committed document. A folder with a version
// file, and every other file, are left alone. The caller holds the writer
// lock and has run RecoverSwap first.
Status ClearUnfinishedCreation(FileSystem* fs, const std::string& folder);

// Finishes a swap that a crash interrupted after step 2 (a READY list), or
// removes a staging folder left before it or without a commit of its own
// (a STAGED list). OK when there is nothing to do.
Status RecoverSwap(FileSystem* fs, const std::string& folder);

}  // namespace vantrel
