#include "engine/database_copy.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <string_view>
#include <vector>

#include "engine/index_files.h"
#include "engine/index_segments.h"
#include "engine/shard_layout.h"

namespace vantrel {
namespace {

constexpr size_t kMaxMarkBytes = 1 << 20;
constexpr char kStagedSuffix[] = ".vtnew";
constexpr char kSetAsideSuffix[] = ".vtold";

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string SetAsideFolder(const std::string& folder) { return folder + kSetAsideSuffix; }

// A copy holds the databases and the shard settings; a bulk build's
// segment record is left out with the segments it lists (folders are not
// copied).
bool IsCopiedFile(const FolderEntry& e) {
  return !e.is_folder && !e.hidden && e.name != kLockFileName && e.name != kCompleteMarkName &&
         e.name != kSegmentRecordFile;
}

Status RemoveTree(FileSystem* fs, const std::string& folder) {
  if (!fs->IsFolder(folder)) return Status::Ok();
  VANTREL_RETURN_IF_ERROR(fs->EmptyFolder(folder, /*recursive=*/true));
  return fs->DeleteFolder(folder);
}

// Copies one file (not yet synced), checking that the copy is as long as
// the source was before and after.
Status CopyOneFile(FileSystem* fs, const std::string& from, const std::string& to) {
  StatusOr<FileInfo> before = fs->Stat(from);
  if (!before.ok()) return before.status();
  VANTREL_RETURN_IF_ERROR(fs->CopyFile(from, to));
  StatusOr<FileInfo> after = fs->Stat(from);
  if (!after.ok()) return after.status();
  if (after->size != before->size) return Status::IoError(from + " changed while it was copied");
  StatusOr<FileInfo> copy = fs->Stat(to);
  if (!copy.ok()) return copy.status();
  if (copy->size != before->size) {
    return Status::IoError("the copy " + to + " has " + std::to_string(copy->size) +
                           " bytes instead of " + std::to_string(before->size));
  }
  return Status::Ok();
}

// A plain name of the copy's folder, or "<shard>/<plain name>".
bool IsMarkedName(std::string_view name) {
  const size_t slash = name.find('/');
  if (slash != std::string_view::npos) {
    if (!IsShardFolderName(name.substr(0, slash))) return false;
    name = name.substr(slash + 1);
  }
  return !name.empty() && name.find('/') == std::string_view::npos && name != "." && name != "..";
}

bool IsVersionName(std::string_view name) {
  const size_t slash = name.find('/');
  return (slash == std::string_view::npos ? name : name.substr(slash + 1)) == kVersionFileName;
}

// The shard folders of a database folder, in name order.
StatusOr<std::vector<std::string>> ShardFolderNames(FileSystem* fs, const std::string& folder) {
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return entries.status();
  std::vector<std::string> names;
  for (const FolderEntry& e : *entries) {
    if (e.is_folder && !e.hidden && IsShardFolderName(e.name)) names.push_back(e.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Copies the files (not the sub-folders) of `from` into `to`, not yet
// synced, adding the copies' paths to `copied`; true in *has_version when
// the version file was among them.
Status CopyFilesOf(FileSystem* fs, const std::string& from, const std::string& to,
                   bool* has_version, std::vector<std::string>* copied) {
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(from);
  if (!entries.ok()) return entries.status();
  for (const FolderEntry& e : *entries) {
    if (!IsCopiedFile(e)) continue;
    VANTREL_RETURN_IF_ERROR(CopyOneFile(fs, Join(from, e.name), Join(to, e.name)));
    copied->push_back(Join(to, e.name));
    *has_version = *has_version || e.name == kVersionFileName;
  }
  return Status::Ok();
}

// Appends the mark lines of the files of `folder`, named with `prefix`.
Status MarkLines(FileSystem* fs, const std::string& folder, const std::string& prefix,
                 std::string* mark) {
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return entries.status();
  for (const FolderEntry& e : *entries) {
    if (!IsCopiedFile(e)) continue;
    StatusOr<FileInfo> info = fs->Stat(Join(folder, e.name));
    if (!info.ok()) return info.status();
    *mark += prefix + e.name + "\t" + std::to_string(info->size) + "\n";
  }
  return Status::Ok();
}

}  // namespace

StatusOr<std::vector<MarkedFile>> ParseCompleteMark(std::string_view text, const std::string& path) {
  std::vector<MarkedFile> files;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    const std::string_view line = text.substr(pos, eol - pos);
    pos = eol + 1;
    const size_t tab = line.rfind('\t');
    if (tab == std::string_view::npos || tab == 0 || tab + 1 == line.size()) {
      return Status::Corruption("bad line in " + path);
    }
    MarkedFile f;
    f.name = std::string(line.substr(0, tab));
    const std::string_view digits = line.substr(tab + 1);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), f.size);
    if (ec != std::errc() || end != digits.data() + digits.size() ||
        !IsMarkedName(f.name)) {
      return Status::Corruption("bad line in " + path);
    }
    files.push_back(std::move(f));
  }
  return files;
}

Status CopyDatabaseFiles(FileSystem* fs, const std::string& from, const std::string& to) {
  bool has_version = false;
  std::vector<std::string> copied;
  std::vector<std::string> folders{to};
  VANTREL_RETURN_IF_ERROR(CopyFilesOf(fs, from, to, &has_version, &copied));
  StatusOr<std::vector<std::string>> shards = ShardFolderNames(fs, from);
  if (!shards.ok()) return shards.status();
  for (const std::string& shard : *shards) {
    VANTREL_RETURN_IF_ERROR(fs->CreateFolders(Join(to, shard)));
    VANTREL_RETURN_IF_ERROR(
        CopyFilesOf(fs, Join(from, shard), Join(to, shard), &has_version, &copied));
    folders.push_back(Join(to, shard));
  }
  if (!has_version) return Status::NotFound("no index in " + from);
  // Synced once all are copied: the disk writes the earlier files while the
  // later ones are copied, instead of each copy waiting for its own.
  for (const std::string& file : copied) VANTREL_RETURN_IF_ERROR(fs->SyncFile(file));
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    VANTREL_RETURN_IF_ERROR(fs->SyncFolder(*folder));
  }
  return Status::Ok();
}

Status MarkCopyComplete(FileSystem* fs, const std::string& folder) {
  std::string mark;
  VANTREL_RETURN_IF_ERROR(MarkLines(fs, folder, "", &mark));
  StatusOr<std::vector<std::string>> shards = ShardFolderNames(fs, folder);
  if (!shards.ok()) return shards.status();
  for (const std::string& shard : *shards) {
    VANTREL_RETURN_IF_ERROR(MarkLines(fs, Join(folder, shard), shard + "/", &mark));
  }
  return fs->WriteFileAtomic(Join(folder, kCompleteMarkName), mark);
}

Status CheckCopyComplete(FileSystem* fs, const std::string& folder) {
  const std::string path = Join(folder, kCompleteMarkName);
  StatusOr<std::string> text = fs->ReadFile(path, kMaxMarkBytes);
  if (!text.ok()) {
    if (text.status().IsNotFound()) return Status::NotFound("no completion mark in " + folder);
    return text.status();
  }
  StatusOr<std::vector<MarkedFile>> files = ParseCompleteMark(*text, path);
  if (!files.ok()) return files.status();
  bool has_version = false;
  for (const MarkedFile& f : *files) {
    StatusOr<FileInfo> info = fs->Stat(Join(folder, f.name));
    if (!info.ok() || info->is_folder || info->size != f.size) {
      return Status::Corruption(Join(folder, f.name) + " does not match the completion mark");
    }
    has_version = has_version || IsVersionName(f.name);
  }
  if (!has_version) return Status::Corruption(path + " lists no version file");
  return Status::Ok();
}

std::string StagedCopyFolder(const std::string& folder) { return folder + kStagedSuffix; }

Status RecoverStagedCopy(FileSystem* fs, const std::string& folder) {
  const std::string staged = StagedCopyFolder(folder);
  const std::string aside = SetAsideFolder(folder);
  const bool had_staged = fs->IsFolder(staged);
  const bool had_aside = fs->IsFolder(aside);
  if (!had_staged && !had_aside) return Status::Ok();
  if (!fs->IsFolder(folder)) {
    // The swap stopped between its two renames.
    if (had_staged && CheckCopyComplete(fs, staged).ok()) {
      VANTREL_RETURN_IF_ERROR(fs->Rename(staged, folder));
    } else if (had_aside) {
      VANTREL_RETURN_IF_ERROR(fs->Rename(aside, folder));
    }
    VANTREL_RETURN_IF_ERROR(fs->SyncFolder(ParentOf(folder)));
  }
  VANTREL_RETURN_IF_ERROR(RemoveTree(fs, aside));
  return RemoveTree(fs, staged);
}

StatusOr<std::string> PrepareStagedCopy(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(RecoverStagedCopy(fs, folder));
  const std::string staged = StagedCopyFolder(folder);
  VANTREL_RETURN_IF_ERROR(fs->CreateFolders(staged));
  return staged;
}

Status ReplaceWithStagedCopy(FileSystem* fs, const std::string& folder) {
  const std::string staged = StagedCopyFolder(folder);
  const std::string aside = SetAsideFolder(folder);
  Status complete = CheckCopyComplete(fs, staged);
  if (!complete.ok()) {
    return Status::FailedPrecondition("the copy in " + staged +
                                      " is not complete: " + complete.ToString());
  }
  VANTREL_RETURN_IF_ERROR(RemoveTree(fs, aside));
  if (fs->IsFolder(folder)) VANTREL_RETURN_IF_ERROR(fs->Rename(folder, aside));
  Status moved = fs->Rename(staged, folder);
  if (!moved.ok()) {
    if (fs->IsFolder(aside)) fs->Rename(aside, folder).IgnoreError();
    return moved;
  }
  // The new copy is in place. A failed sync of the renames only weakens the
  // guarantee after a power loss (RecoverStagedCopy then finds either copy
  // whole), and an old folder that cannot be deleted now is deleted by the
  // next PrepareStagedCopy: neither undoes the replacement.
  fs->SyncFolder(ParentOf(folder)).IgnoreError();
  RemoveTree(fs, aside).IgnoreError();
  return Status::Ok();
}

Status DiscardStagedCopy(FileSystem* fs, const std::string& folder) {
  return RemoveTree(fs, StagedCopyFolder(folder));
}

}  // namespace vantrel
