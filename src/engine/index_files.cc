#include "engine/index_files.h"

#include <algorithm>
#include <vector>

namespace vantrel {
namespace {

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

constexpr size_t kMaxListBytes = 1 << 16;

bool IsTableFile(const std::string& name) {
  return name.size() > 6 && name.compare(name.size() - 6, 6, ".glass") == 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    // Only plain names of this folder.
    if (!line.empty() && line.find('/') == std::string::npos && line != "." && line != "..") {
      out.push_back(line);
    }
  }
  return out;
}

Status RemoveStage(FileSystem* fs, const std::string& stage) {
  if (!fs->IsFolder(stage)) return Status::Ok();
  VANTREL_RETURN_IF_ERROR(fs->EmptyFolder(stage, /*recursive=*/true));
  return fs->DeleteFolder(stage);
}

// Steps 3 to 5, given the READY list. Idempotent: every step checks what is
// already done, so a crash anywhere is finished by running it again.
Status FinishSwap(FileSystem* fs, const std::string& folder, const std::string& stage,
                  const std::vector<std::string>& new_files) {
  const std::string staged_version = Join(stage, kVersionFileName);
  if (fs->Exists(staged_version)) {
    Status s = fs->DeleteFile(Join(folder, kVersionFileName));
    if (!s.ok() && !s.IsNotFound()) return s;
    for (const std::string& name : new_files) {
      if (name == kVersionFileName) continue;
      const std::string from = Join(stage, name);
      if (fs->Exists(from)) VANTREL_RETURN_IF_ERROR(fs->Rename(from, Join(folder, name)));
    }
    StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
    if (!entries.ok()) return entries.status();
    for (const FolderEntry& e : *entries) {
      if (e.is_folder || !IsTableFile(e.name)) continue;
      if (std::find(new_files.begin(), new_files.end(), e.name) == new_files.end()) {
        VANTREL_RETURN_IF_ERROR(fs->DeleteFile(Join(folder, e.name)));
      }
    }
    VANTREL_RETURN_IF_ERROR(fs->Rename(staged_version, Join(folder, kVersionFileName)));
  }
  return RemoveStage(fs, stage);
}

}  // namespace

StatusOr<DatabaseVersion> ReadDatabaseVersion(FileSystem* fs, const std::string& folder) {
  StatusOr<FileInfo> info = fs->Stat(Join(folder, kVersionFileName));
  if (!info.ok()) return info.status();
  return DatabaseVersion{info->size, info->modified};
}

namespace {

// Steps 1 and 2, the list written under `list_name`.
Status Stage(FileSystem* fs, const std::string& folder, const char* list_name,
             const std::function<Status(const std::string& stage)>& fill) {
  const std::string stage = Join(folder, kStagingFolderName);
  VANTREL_RETURN_IF_ERROR(RecoverSwap(fs, folder));
  VANTREL_RETURN_IF_ERROR(fs->CreateFolders(stage));
  Status filled = fill(stage);
  std::vector<std::string> new_files;
  if (filled.ok()) {
    StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(stage);
    if (!entries.ok()) {
      filled = entries.status();
    } else {
      for (const FolderEntry& e : *entries) {
        if (!e.is_folder && e.name != kLockFileName) new_files.push_back(e.name);
      }
      if (std::find(new_files.begin(), new_files.end(), kVersionFileName) == new_files.end()) {
        filled = Status::Internal("the new database in " + stage + " has no version file");
      }
    }
  }
  if (!filled.ok()) {
    RemoveStage(fs, stage).IgnoreError();
    return filled;
  }
  std::string list;
  for (const std::string& n : new_files) list += n + "\n";
  Status s = fs->SyncFolder(stage);
  if (s.ok()) s = fs->WriteFileAtomic(Join(stage, list_name), list);
  if (!s.ok()) RemoveStage(fs, stage).IgnoreError();
  return s;
}

// The list of the staging in `stage`, under `list_name`.
StatusOr<std::vector<std::string>> ReadList(FileSystem* fs, const std::string& stage,
                                            const char* list_name) {
  StatusOr<std::string> list = fs->ReadFile(Join(stage, list_name), kMaxListBytes);
  if (!list.ok()) return list.status();
  return SplitLines(*list);
}

}  // namespace

Status StageDatabase(FileSystem* fs, const std::string& folder,
                     const std::function<Status(const std::string& stage)>& fill) {
  return Stage(fs, folder, kStagedFileName, fill);
}

Status SwapStaged(FileSystem* fs, const std::string& folder) {
  const std::string stage = Join(folder, kStagingFolderName);
  if (!fs->IsFolder(stage)) return Status::Ok();
  // The new version file moved in last: without it here the swap is done
  // and only the staging folder is left to go.
  if (!fs->Exists(Join(stage, kVersionFileName))) {
    VANTREL_RETURN_IF_ERROR(RemoveStage(fs, stage));
    return fs->SyncFolder(folder);
  }
  StatusOr<std::vector<std::string>> files = ReadList(fs, stage, kStagedFileName);
  if (files.status().IsNotFound()) files = ReadList(fs, stage, kReadyFileName);
  if (!files.ok()) {
    return Status::Corruption("the staged database in " + stage + " has no readable file list: " +
                              files.status().ToString());
  }
  VANTREL_RETURN_IF_ERROR(FinishSwap(fs, folder, stage, *files));
  return fs->SyncFolder(folder);
}

Status DiscardStaged(FileSystem* fs, const std::string& folder) {
  return RemoveStage(fs, Join(folder, kStagingFolderName));
}

Status StageAndSwap(FileSystem* fs, const std::string& folder,
                    const std::function<Status(const std::string& stage)>& fill) {
  VANTREL_RETURN_IF_ERROR(Stage(fs, folder, kReadyFileName, fill));
  VANTREL_RETURN_IF_ERROR(RecoverSwap(fs, folder));
  return fs->SyncFolder(folder);
}

Status ClearUnfinishedCreation(FileSystem* fs, const std::string& folder) {
  if (fs->Exists(Join(folder, kVersionFileName))) return Status::Ok();
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return entries.status().IsNotFound() ? Status::Ok() : entries.status();
  for (const FolderEntry& entry : *entries) {
    if (entry.is_folder || (!IsTableFile(entry.name) && entry.name != "v.tmp")) continue;
    VANTREL_RETURN_IF_ERROR(fs->DeleteFile(Join(folder, entry.name)));
  }
  return Status::Ok();
}

Status RecoverSwap(FileSystem* fs, const std::string& folder) {
  const std::string stage = Join(folder, kStagingFolderName);
  if (!fs->IsFolder(stage)) return Status::Ok();
  StatusOr<std::vector<std::string>> ready = ReadList(fs, stage, kReadyFileName);
  // Never complete, or waiting for a commit that never came.
  if (!ready.ok()) return RemoveStage(fs, stage);
  return FinishSwap(fs, folder, stage, *ready);
}

}  // namespace vantrel
