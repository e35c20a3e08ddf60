// Index maintenance: optimization, backup and restore (Pipeline::Optimize,
// BackUp, Restore).
#include <array>
#include <optional>
#include <thread>
#include <vector>

#include "core/file_names.h"
#include "core/text_table.h"
#include "engine/database_copy.h"
#include "engine/document_name.h"
#include "engine/index_files.h"
#include "engine/shard_layout.h"
#include "indexing/index_pipeline.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

std::string BackupFolder(const IndexDefinition& def, bool master) {
  return JoinNative(JoinNative(def.index_folder, KeyToNative(names::kDataFolder)),
                    KeyToNative(master ? names::kBackupMaster : names::kBackupCurrent));
}

// A checked copy of the engine's files in the staging folder of `backup`;
// nothing is left behind when it fails.
StatusOr<std::string> StageEngineCopy(FileSystem* fs, const std::string& engine_folder,
                                      const std::string& backup) {
  StatusOr<std::string> staged = PrepareStagedCopy(fs, backup);
  if (!staged.ok()) return staged.status();
  Status copied = CopyDatabaseFiles(fs, engine_folder, *staged);
  if (!copied.ok()) {
    DiscardStagedCopy(fs, backup).IgnoreError();
    return copied;
  }
  return staged;
}

// Marks the staged copy of `backup` complete and puts it in its place.
Status SealStagedCopy(FileSystem* fs, const std::string& backup) {
  Status s = MarkCopyComplete(fs, StagedCopyFolder(backup));
  if (s.ok()) s = ReplaceWithStagedCopy(fs, backup);
  if (!s.ok()) DiscardStagedCopy(fs, backup).IgnoreError();
  return s;
}

int SlotOfKey(std::string_view key) {
  if (key.size() < 2 || key[0] < '0' || key[0] > '9' || key[1] < '0' || key[1] > '9') return -1;
  const int slot = (key[0] - '0') * 10 + (key[1] - '0');
  return slot < kFolderSlots ? slot : -1;
}

}  // namespace

bool Pipeline::BackUp(TaskContext& task, int index, bool master) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  const std::string backup = BackupFolder(def, master);
  StatusOr<std::string> staged = StageEngineCopy(fs_, def.engine_folder, backup);
  Status done = staged.ok() ? SealStagedCopy(fs_, backup) : staged.status();
  if (!done.ok()) {
    task.LogFromTask("Cannot back up " + def.index_folder + " into " + backup + ": " +
                     done.ToString() + "; the previous backup is kept");
  }
  return done.ok();
}

bool Pipeline::Restore(TaskContext& task, int index, bool master) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  const std::string source = BackupFolder(def, master);
  if (engine == nullptr) return false;
  Status recovered = RecoverStagedCopy(fs_, source);
  if (!recovered.ok()) task.LogFromTask("Backup " + source + ": " + recovered.ToString());
  if (!HoldsIndex(fs_, source)) return false;
  Status usable = CheckCopyComplete(fs_, source);
  // A backup made by an earlier version carries no completion mark: it is
  // used only when the engine opens it and finds every table whole.
  if (usable.IsNotFound()) usable = engine->CheckIndexFiles(source);
  if (!usable.ok()) {
    task.LogFromTask("Backup " + source + " not used: " + usable.ToString());
    return false;
  }
  Status installed = engine->InstallIndexFiles(def.engine_folder, source);
  if (!installed.ok()) {
    task.LogFromTask("Cannot restore " + def.index_folder + " from " + source + ": " +
                     installed.ToString());
    return false;
  }
  return true;
}

std::optional<std::vector<BrowseEntry>> Pipeline::PurgeVanishedDocuments(
    TaskContext& task, int index, const std::string& copy) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  // Documents of files that are gone, except those of image folders that
  // cannot be reached now: their files come back when the share does.
  std::array<bool, kFolderSlots> reachable{};
  for (int slot = 0; slot < kFolderSlots; ++slot) {
    reachable[static_cast<size_t>(slot)] =
        !def.image_folders[static_cast<size_t>(slot)].used() || CheckRoot(task, index, slot);
  }
  std::vector<BrowseEntry> all;
  indexed.WithLock([&](BrowseList& list) {
    all.reserve(list.Count());
    list.ForEach([&](const BrowseEntryView& e) {
      all.push_back(BrowseEntry{e.ExpandedName(), e.time, e.value, e.extra, e.sort_key});
      return true;
    });
    return 0;
  });
  std::vector<BrowseEntry> kept;
  kept.reserve(all.size());
  std::string lines;
  for (BrowseEntry& e : all) {
    const int slot = SlotOfKey(e.name);
    const bool keep = timelist.Lookup(e.name, e.time).has_value() ||
                      (slot >= 0 && !reachable[static_cast<size_t>(slot)]);
    if (keep) {
      kept.push_back(BrowseEntry{std::move(e.name), e.time, 0, kNoExtra, 0});
    } else {
      lines += FormatDocumentName(e.time, e.name);
      lines += "\r\n";
    }
  }
  const std::string remove_list =
      JoinNative(JoinNative(def.index_folder, names::kDataFolder), names::kRemoveList);
  fs_->DeleteFile(remove_list).IgnoreError();
  if (lines.empty()) return kept;
  Status done = fs_->WriteFileAtomic(remove_list, lines);
  if (!done.ok()) {
    task.LogFromTask("Cannot write " + remove_list + ": " + done.ToString());
    return std::nullopt;
  }
  // The removal job on the working copy.
  IndexJob job;
  job.index_folder = copy;
  job.remove = true;
  job.remove_list_in_file = true;
  job.remove_list_path = remove_list;
  done = engine->RunIndexJob(job);
  fs_->DeleteFile(remove_list).IgnoreError();
  if (!done.ok()) {
    task.LogFromTask("Cannot remove the documents of deleted files from " + def.index_folder +
                     ": " + done.ToString());
    return std::nullopt;
  }
  return kept;
}

bool Pipeline::InstallOptimizedCopy(TaskContext& task, int index, const std::string& copy) {
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine->engine();
  Status usable = CheckCopyComplete(fs_, copy);
  if (!usable.ok()) {
    task.LogFromTask("The optimized index of " + def.index_folder + " is not used: " +
                     usable.ToString());
    return false;
  }
  // New searches wait while the copy replaces the index.
  MutexLock dispatch(&task.search_dispatch_lock);
  for (int step = 0; step < options_.search_wait_steps; ++step) {
    {
      MutexLock lock(&task.request_lock);
      if (task.active_searches <= 0) break;
    }
    std::this_thread::sleep_for(options_.search_wait_step);
  }
  Status installed = engine->InstallIndexFiles(def.engine_folder, copy);
  if (!installed.ok()) {
    task.LogFromTask("Cannot install the optimized index of " + def.index_folder + ": " +
                     installed.ToString());
  }
  std::this_thread::sleep_for(options_.after_swap_pause);
  StatusOr<IndexInfo> info = engine->GetIndexInfo(def.engine_folder);
  if (info.ok()) def.document_count = info.value().document_count;
  return installed.ok();
}

void Pipeline::Optimize(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;

  // No re-listing meanwhile; the queued changes first.
  MutexLock update(&task.update_lock);
  holds_update_lock_ = true;
  ChangePass(task);
  holds_update_lock_ = false;

  // A checked working copy, made beside the CURRENT backup, which
  // stays as it is until the copy is purged and complete.
  task.LogFromTask(Text(TextId::IDS_COMPACTINGINDEX) + " " + def.index_folder);
  const std::string current = BackupFolder(def, /*master=*/false);
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  StatusOr<std::string> copy = Status::FailedPrecondition("the engine is not running");
  if (engine != nullptr) copy = StageEngineCopy(fs_, def.engine_folder, current);
  if (engine != nullptr && !copy.ok()) {
    task.LogFromTask("Cannot copy the index of " + def.index_folder + " to optimize it: " +
                     copy.status().ToString() + "; the index and its backup stay as they are");
  }

  // The documents of vanished files leave the copy; the purged copy
  // becomes the CURRENT backup.
  std::optional<std::vector<BrowseEntry>> kept;
  if (copy.ok()) {
    kept = indexed.Count() != 0 ? PurgeVanishedDocuments(task, index, *copy)
                                : std::vector<BrowseEntry>();
    Status sealed = kept ? SealStagedCopy(fs_, current) : DiscardStagedCopy(fs_, current);
    if (kept && !sealed.ok()) {
      task.LogFromTask("Cannot back up " + def.index_folder + " into " + current + ": " +
                       sealed.ToString() + "; the previous backup is kept");
      kept.reset();
    }
  }

  // The copy replaces the index. Only then does the indexed list lose
  // the purged entries; after a failure the next optimization offers the
  // same documents again.
  if (kept && InstallOptimizedCopy(task, index, current) && indexed.Count() != 0) {
    std::vector<NewBrowseEntry> entries;
    entries.reserve(kept->size());
    for (const BrowseEntry& e : *kept) {
      entries.push_back(NewBrowseEntry{e.name, e.time, e.value, e.extra, e.sort_key});
    }
    indexed.WithLock([&](BrowseList& list) {
      list.Release();
      list.SetOrder(kOrderTime).IgnoreError();
      return list.AddBatch(entries);
    }).IgnoreError();
  }

  PostStatistics(task, index);
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
  task.LogFromTask(Text(TextId::IDS_COMPACTINGINDEXDONE));
}

}  // namespace vantrel
