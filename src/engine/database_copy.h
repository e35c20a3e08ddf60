// Checked copies of a database's files: backups and working copies that are
// only ever used when they are known to be whole.
//
// A copy is made into a staging folder beside its final place
// ("<folder>.vtnew"). Every read and write of it is checked, every file is
// synced and its size compared with the source's, and the folder is synced.
// Only then is the completion mark "VTCOMPLETE" written into it (the names
// and sizes of its files). The staged copy replaces the previous one by
// renames: the previous folder moves aside to "<folder>.vtold", the staged
// one takes its name, the old one is deleted. Until the new copy is complete
// the previous one stays untouched, so a full disk or a crash during a backup
// never costs the last good backup.
//
// A copy without the mark is never installed as the live index nor restored
// from (CheckCopyComplete says kNotFound). The exception, decided by the
// caller, is a backup made by a version of the server that wrote no marks:
// it may be used when the engine can open and check it.
//
// Thread safety: the caller serializes the operations on one folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kCompleteMarkName[] = "VTCOMPLETE";

// Copies every file of the index in `from` (its files, lock file and
// completion mark aside, and those of its shard folders "0".."7", see
// shard_layout.h) into the existing folder `to`, as described above. On
// failure `to` holds a partial copy that the caller drops.
Status CopyDatabaseFiles(FileSystem* fs, const std::string& from, const std::string& to);

// Writes the completion mark of the copy in `folder`, listing its files
// and those of its shard folders ("<shard>/<name>") with their sizes (the
// lock file aside), and syncs the folder.
Status MarkCopyComplete(FileSystem* fs, const std::string& folder);

// OK when `folder` has a completion mark, the mark lists the version file and
// every file it lists is there with its size. kNotFound without a mark;
// kCorruption when the folder does not match its mark.
Status CheckCopyComplete(FileSystem* fs, const std::string& folder);

// One line of a completion mark: a file of the copy and its size.
struct MarkedFile {
  std::string name;
  uint64_t size = 0;
};
// Parses the lines "<name>\t<size>" of a completion mark (read from `path`,
// named in errors). kCorruption on any line that is not one such pair, or
// whose name is empty, ".", ".." or holds '/' other than after a shard
// folder's name ("3/iamglass").
StatusOr<std::vector<MarkedFile>> ParseCompleteMark(std::string_view text, const std::string& path);

// The staging folder of `folder`'s next copy.
std::string StagedCopyFolder(const std::string& folder);

// Finishes or undoes a replacement of `folder` that a crash interrupted and
// drops a leftover staging folder, then creates the staging folder empty.
// Returns its path.
StatusOr<std::string> PrepareStagedCopy(FileSystem* fs, const std::string& folder);

// Replaces `folder` with its staged copy, which must carry its completion
// mark (else kFailedPrecondition and nothing changes).
Status ReplaceWithStagedCopy(FileSystem* fs, const std::string& folder);

// Deletes the staging folder of `folder` with whatever it holds.
Status DiscardStagedCopy(FileSystem* fs, const std::string& folder);

// The part of PrepareStagedCopy that repairs after a crash: when `folder` is
// missing, a complete staged copy or else the previous folder set aside takes
// its place; leftovers are deleted. OK when there is nothing to do.
Status RecoverStagedCopy(FileSystem* fs, const std::string& folder);

}  // namespace vantrel
