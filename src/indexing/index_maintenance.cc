// Index maintenance: optimization, backup and restore (Pipeline::Optimize,
// BackUp, Restore).
#include <thread>
#include <vector>

#include "core/file_names.h"
#include "core/text_table.h"
#include "engine/document_name.h"
#include "engine/index_files.h"
#include "indexing/index_pipeline.h"
#include "platform/paths.h"

namespace vantrel {
namespace {

std::string BackupFolder(const IndexDefinition& def, bool master) {
  return JoinNative(JoinNative(def.index_folder, KeyToNative(names::kDataFolder)),
                    KeyToNative(master ? names::kBackupMaster : names::kBackupCurrent));
}

// Copies every file (not the sub-folders) of `from` into `to`, creating it.
void CopyFiles(FileSystem* fs, const std::string& from, const std::string& to) {
  fs->CreateFolders(to).IgnoreError();
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(from);
  if (!entries.ok()) return;
  for (const FolderEntry& e : entries.value()) {
    if (e.is_folder) continue;
    fs->CopyFile(JoinNative(from, e.name), JoinNative(to, e.name)).IgnoreError();
  }
}

int SlotOfKey(std::string_view key) {
  if (key.size() < 2 || key[0] < '0' || key[0] > '9' || key[1] < '0' || key[1] > '9') return -1;
  const int slot = (key[0] - '0') * 10 + (key[1] - '0');
  return slot < kFolderSlots ? slot : -1;
}

}  // namespace

void Pipeline::BackUp(TaskContext& task, int index, bool master) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  CopyFiles(fs_, def.engine_folder, BackupFolder(def, master));
}

bool Pipeline::Restore(TaskContext& task, int index, bool master) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  const std::string source = BackupFolder(def, master);
  if (engine == nullptr || !fs_->Exists(JoinNative(source, kVersionFileName))) return false;
  Status installed = engine->InstallIndexFiles(def.engine_folder, source);
  if (!installed.ok()) {
    task.LogFromTask("Cannot restore " + def.index_folder + " from " + source + ": " +
                     installed.ToString());
    return false;
  }
  return true;
}

void Pipeline::Optimize(TaskContext& task, int index) {
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;

  // 1. No re-listing meanwhile; the queued changes first.
  MutexLock update(&task.update_lock);
  holds_update_lock_ = true;
  ChangePass(task);
  holds_update_lock_ = false;

  // 2, 3.
  task.LogFromTask(Text(TextId::IDS_COMPACTINGINDEX) + " " + def.index_folder);
  const std::string current = BackupFolder(def, /*master=*/false);
  CopyFiles(fs_, def.engine_folder, current);

  // 4. Documents of files that are gone, except those of image folders that
  // cannot be reached now: their files come back when the share does.
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  const std::string remove_list =
      JoinNative(JoinNative(def.index_folder, names::kDataFolder), names::kRemoveList);
  bool purged_ok = true;
  if (indexed.Count() != 0) {
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
    std::vector<NewBrowseEntry> kept;
    kept.reserve(all.size());
    std::string lines;
    for (const BrowseEntry& e : all) {
      const int slot = SlotOfKey(e.name);
      const bool keep = timelist.Lookup(e.name, e.time).has_value() ||
                        (slot >= 0 && !reachable[static_cast<size_t>(slot)]);
      if (keep) {
        kept.push_back(NewBrowseEntry{e.name, e.time, 0, kNoExtra, 0});
      } else {
        lines += FormatDocumentName(e.time, e.name);
        lines += "\r\n";
      }
    }
    fs_->DeleteFile(remove_list).IgnoreError();
    if (!lines.empty()) {
      Status written = fs_->WriteFileAtomic(remove_list, lines);
      if (!written.ok()) {
        task.LogFromTask("Cannot write " + remove_list + ": " + written.ToString());
        purged_ok = false;
      }
    }
    // 5. The removal job on the working copy.
    if (purged_ok && engine != nullptr) {
      IndexJob job;
      job.index_folder = current;
      job.remove = true;
      job.remove_list_in_file = true;
      job.remove_list_path = remove_list;
      Status removed = engine->RunIndexJob(job);
      if (!removed.ok()) {
        task.LogFromTask("Cannot remove the documents of deleted files from " + def.index_folder +
                         ": " + removed.ToString());
        purged_ok = false;
      }
    }
    fs_->DeleteFile(remove_list).IgnoreError();
    // A failed purge keeps the old indexed list, so the next optimization
    // offers the same documents again.
    if (purged_ok && engine != nullptr) {
      indexed.WithLock([&](BrowseList& list) {
        list.Release();
        list.SetOrder(kOrderTime).IgnoreError();
        return list.AddBatch(kept);
      }).IgnoreError();
    }
  }

  // 6-9. New searches wait while the purged copy replaces the index.
  if (engine != nullptr && purged_ok && fs_->Exists(JoinNative(current, kVersionFileName))) {
    MutexLock dispatch(&task.search_dispatch_lock);
    for (int step = 0; step < options_.search_wait_steps; ++step) {
      {
        MutexLock lock(&task.request_lock);
        if (task.active_searches <= 0) break;
      }
      std::this_thread::sleep_for(options_.search_wait_step);
    }
    Status installed = engine->InstallIndexFiles(def.engine_folder, current);
    if (!installed.ok()) {
      task.LogFromTask("Cannot install the optimized index of " + def.index_folder + ": " +
                       installed.ToString());
    }
    std::this_thread::sleep_for(options_.after_swap_pause);
    StatusOr<IndexInfo> info = engine->GetIndexInfo(def.engine_folder);
    if (info.ok()) def.document_count = info.value().document_count;
  }

  // 10.
  PostStatistics(task, index);
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
  task.LogFromTask(Text(TextId::IDS_COMPACTINGINDEXDONE));
}

}  // namespace vantrel
