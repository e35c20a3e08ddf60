#include "engine/shard_swap.h"

#include <vector>

#include "engine/index_files.h"
#include "engine/shard_layout.h"

namespace vantrel {
namespace {

constexpr size_t kMaxMarkBytes = 64;

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

Status IgnoreNotFound(Status s) { return s.IsNotFound() ? Status::Ok() : s; }

Status RemoveTree(FileSystem* fs, const std::string& folder) {
  if (!fs->IsFolder(folder)) return Status::Ok();
  VANTREL_RETURN_IF_ERROR(fs->EmptyFolder(folder, /*recursive=*/true));
  return fs->DeleteFolder(folder);
}

// Deletes the database files in the engine folder itself (the layout
// without shards): the version file first, so that no reader opens what
// is left.
Status RemoveUnshardedDatabase(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(IgnoreNotFound(fs->DeleteFile(Join(folder, kVersionFileName))));
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return entries.status();
  for (const FolderEntry& e : *entries) {
    const bool table = e.name.size() > 6 && e.name.compare(e.name.size() - 6, 6, ".glass") == 0;
    if (!e.is_folder && (table || e.name == kLockFileName)) {
      VANTREL_RETURN_IF_ERROR(fs->DeleteFile(Join(folder, e.name)));
    }
  }
  return DiscardStaged(fs, folder);
}

Status SwapEveryStagedShard(FileSystem* fs, const std::string& folder, uint32_t layout) {
  ShardSettings shape;
  shape.layout = layout;
  for (const std::string& shard : LocalShardFolders(shape, folder)) {
    VANTREL_RETURN_IF_ERROR(SwapStaged(fs, shard));
  }
  return Status::Ok();
}

Status WriteLayout(FileSystem* fs, const std::string& folder, uint32_t layout) {
  StatusOr<ShardSettings> settings = ReadShardSettings(fs, folder);
  if (!settings.ok()) return settings.status();
  if (settings->layout == layout) return Status::Ok();
  settings->layout = layout;
  return WriteShardSettings(fs, folder, *settings);
}

Status RemoveBeyondLayout(FileSystem* fs, const std::string& folder, uint32_t layout) {
  if (layout != 0) VANTREL_RETURN_IF_ERROR(RemoveUnshardedDatabase(fs, folder));
  for (uint32_t i = layout; i < kMaxShards; ++i) {
    VANTREL_RETURN_IF_ERROR(RemoveTree(fs, ShardFolder(folder, i)));
  }
  return fs->SyncFolder(folder);
}

Status DeleteMark(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(IgnoreNotFound(fs->DeleteFile(Join(folder, kSwapMarkFile))));
  return fs->SyncFolder(folder);
}

// A shard folder beyond the layout that a discarded staging left empty.
Status RemoveIfEmpty(FileSystem* fs, const std::string& shard) {
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(shard);
  if (!entries.ok()) return entries.status();
  return entries->empty() ? fs->DeleteFolder(shard) : Status::Ok();
}

}  // namespace

std::string FormatSwapMark(uint32_t layout) { return "layout " + std::to_string(layout) + "\n"; }

StatusOr<uint32_t> ParseSwapMark(std::string_view text) {
  constexpr std::string_view kKey = "layout ";
  if (text.size() == kKey.size() + 2 && text.substr(0, kKey.size()) == kKey &&
      text.back() == '\n') {
    const char digit = text[kKey.size()];
    if (digit >= '0' && digit <= static_cast<char>('0' + kMaxShards)) {
      return static_cast<uint32_t>(digit - '0');
    }
  }
  return Status::Corruption("not a swap mark (one line \"layout N\", N from 0 to " +
                            std::to_string(kMaxShards) + ")");
}

bool HasSwapMark(FileSystem* fs, const std::string& folder) {
  return fs->Exists(Join(folder, kSwapMarkFile));
}

Status CommitShardSwap(FileSystem* fs, const std::string& folder, uint32_t layout) {
  // WriteFileAtomic syncs the file and, after the rename, the folder.
  return fs->WriteFileAtomic(Join(folder, kSwapMarkFile), FormatSwapMark(layout));
}

Status FinishShardSwap(FileSystem* fs, const std::string& folder, uint32_t layout) {
  VANTREL_RETURN_IF_ERROR(SwapEveryStagedShard(fs, folder, layout));
  VANTREL_RETURN_IF_ERROR(WriteLayout(fs, folder, layout));
  VANTREL_RETURN_IF_ERROR(RemoveBeyondLayout(fs, folder, layout));
  return DeleteMark(fs, folder);
}

Status DiscardShardStagings(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(RecoverSwap(fs, folder));
  StatusOr<ShardSettings> settings = ReadShardSettings(fs, folder);
  if (!settings.ok()) return settings.status();
  // The listing shows a link as a link, never as a shard folder.
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return entries.status();
  for (const FolderEntry& e : *entries) {
    if (!e.is_folder || e.is_link || !IsShardFolderName(e.name)) continue;
    const std::string shard = Join(folder, e.name);
    VANTREL_RETURN_IF_ERROR(RecoverSwap(fs, shard));
    if (static_cast<uint32_t>(e.name[0] - '0') >= settings->layout) {
      VANTREL_RETURN_IF_ERROR(RemoveIfEmpty(fs, shard));
    }
  }
  return Status::Ok();
}

Status RecoverShardSwap(FileSystem* fs, const std::string& folder) {
  if (!fs->IsFolder(folder)) return Status::Ok();
  const std::string mark = Join(folder, kSwapMarkFile);
  StatusOr<std::string> text = fs->ReadFile(mark, kMaxMarkBytes);
  if (text.status().IsNotFound()) return DiscardShardStagings(fs, folder);
  if (!text.ok()) return Status::Corruption("cannot read " + mark + ": " + text.status().ToString());
  StatusOr<uint32_t> layout = ParseSwapMark(*text);
  if (!layout.ok()) return Status::Corruption(mark + ": " + layout.status().message());
  return FinishShardSwap(fs, folder, *layout);
}

}  // namespace vantrel
