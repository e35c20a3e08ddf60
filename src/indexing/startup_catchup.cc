// The start-up catch-up of one index (Pipeline::StartUpIndex) and the
// listings it uses.
#include <cstdio>
#include <vector>

#include "core/file_names.h"
#include "core/list_file.h"
#include "core/text_table.h"
#include "engine/document_name.h"
#include "indexing/folder_keys.h"
#include "indexing/index_pipeline.h"
#include "platform/paths.h"
#include "scan/folder_scanner.h"

namespace vantrel {
namespace {

// Removes from `list` the files that lie directly in folder `folder_key`
// (not those of its sub-folders, which have their own DIRLIST entries).
void RemoveFilesOfFolder(LockedBrowseList list, const std::string& folder_key) {
  list.WithLock([&](BrowseList& l) {
    std::vector<BrowseEntry> doomed;
    l.ForEach([&](const BrowseEntryView& e) {
      std::string name = e.ExpandedName();
      if (LiesDirectlyIn(name, folder_key)) {
        doomed.push_back(BrowseEntry{std::move(name), e.time, e.value, e.extra, e.sort_key});
      }
      return true;
    });
    for (const BrowseEntry& e : doomed) l.Remove(e.name, e.time);
    return doomed.size();
  });
}

}  // namespace

size_t Pipeline::RebuildIndexedList(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  indexed.Release();
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  if (engine == nullptr) return 0;
  std::vector<DecodedDocumentName> found;
  SearchJob job;
  job.query = "xlastword";
  job.index_folder = def.engine_folder;
  job.max_hits = -1;
  job.message_callback = [&found](const EngineMessage& m) {
    if (m.code != kMessageFoundDocument || m.name.empty()) return;
    if (m.name[0] < '0' || m.name[0] > 'F') return;
    if (std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name)) {
      found.push_back(std::move(*name));
    }
  };
  StatusOr<SearchOutcome> outcome = engine->RunSearchJob(job);
  if (!outcome.ok() && !outcome.status().IsNotFound()) {
    task.LogFromTask("Cannot read the documents of " + def.index_folder + ": " +
                     outcome.status().ToString());
  }
  std::vector<NewBrowseEntry> entries;
  entries.reserve(found.size());
  for (const DecodedDocumentName& name : found) {
    if (name.file_key.empty()) continue;
    entries.push_back(NewBrowseEntry{name.file_key, name.time_stamp, 0, kNoExtra, 0});
  }
  return indexed.WithLock([&](BrowseList& list) {
    list.SetOrder(kOrderTime).IgnoreError();
    Status added = list.AddBatch(entries);
    if (!added.ok()) task.LogFromTask("Indexed list of " + def.index_folder + ": " + added.ToString());
    return list.Count();
  });
}

void Pipeline::BuildScanned(TaskContext& task, int index, const std::string& root,
                            const ScannedEntry& file) {
  BuildRequest request;
  request.index = index;
  request.native_path = file.native_path;
  request.file_key = file.key;
  request.native_root = root;
  request.time = file.time;
  request.change = false;
  request.folder_files = file.folder_files;
  Build(task, request);
}

void Pipeline::ListFolderIntoIndex(TaskContext& task, int index, int slot,
                                   const ChangedFolder& folder) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
  task.PostStatus(StatusMessage::Text(kStatusFolderScanned, folder.native_path));
  FolderScanner scanner(fs_, *cp_, Skips(task));
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  StatusOr<std::vector<ScannedEntry>> files =
      scanner.ListFolderFiles(slot, root, folder.native_path);
  if (!files.ok()) {
    task.Locked(index, &task.indexes[static_cast<size_t>(index)].dirlist).Remove(folder.key, 0);
    return;
  }
  for (const ScannedEntry& file : files.value()) {
    if (task.stop) return;
    BuildScanned(task, index, root, file);
  }
}

void Pipeline::StartUpIndex(TaskContext& task, int index) {
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  LockedBrowseList charlist = task.Locked(index, &runtime.charlist);
  LockedBrowseList dirlist = task.Locked(index, &runtime.dirlist);

  // 1. Volume lists; the lists saved when the task last stopped.
  if (options_.write_volume_lists) options_.write_volume_lists(def);
  timelist.Release();
  charlist.Release();
  dirlist.Release();
  timelist.SetOrder(kOrderTime).IgnoreError();
  charlist.SetOrder(kOrderName).IgnoreError();
  dirlist.SetOrder(kOrderName).IgnoreError();
  const std::string full_folder = JoinNative(def.lists_folder, names::kFullListsFolder);
  struct Saved {
    LockedBrowseList list;
    const char* name;
    bool keep_extra;
  };
  for (Saved s : {Saved{timelist, names::kTimeList, false}, Saved{charlist, names::kCharList, false},
                  Saved{dirlist, names::kDirList, true}}) {
    Status loaded = s.list.Load(fs_, JoinNative(full_folder, s.name), s.keep_extra);
    if (!loaded.ok() && !loaded.IsNotFound()) {
      task.LogFromTask("Cannot read " + JoinNative(full_folder, s.name) + ": " + loaded.ToString());
    }
  }

  // 2.
  task.PostStatus(StatusMessage::Text(
      kStatusOperation, Text(TextId::IDS_INITINDEX) + " " + def.index_folder));
  task.LogFromTask(Text(TextId::IDS_READFILELIST) + ": " + def.index_folder);

  // 3, 4. The indexed list from the engine, else from a backup.
  bool new_index = false;
  if (RebuildIndexedList(task, index) == 0) {
    size_t restored = 0;
    if (Restore(task, index, /*master=*/false)) restored = RebuildIndexedList(task, index);
    if (restored == 0 && Restore(task, index, /*master=*/true)) {
      restored = RebuildIndexedList(task, index);
    }
    if (restored != 0) {
      task.LogFromTask(Text(TextId::IDS_RESTOREINDEX) + " " + def.index_folder);
    } else {
      new_index = true;
    }
    // The saved lists describe files the engine does not hold.
    timelist.Release();
    charlist.Release();
    dirlist.Release();
    timelist.SetOrder(kOrderTime).IgnoreError();
    charlist.SetOrder(kOrderName).IgnoreError();
    dirlist.SetOrder(kOrderName).IgnoreError();
  }

  // 5, 6. Changed folders, or every folder.
  pending_.Reset(/*from_changes=*/false);
  pending_index_ = index;
  FolderScanner scanner(fs_, *cp_, Skips(task));
  const bool have_dirlist = dirlist.Count() != 0;
  if (!have_dirlist) {
    timelist.Release();
    charlist.Release();
    timelist.SetOrder(kOrderTime).IgnoreError();
    charlist.SetOrder(kOrderName).IgnoreError();
  }
  for (int slot = 0; slot < kFolderSlots && !task.stop; ++slot) {
    const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
    if (root.empty()) continue;
    CheckRoot(task, index, slot);
    if (have_dirlist) {
      task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
      task.PostStatus(StatusMessage::Text(kStatusFolderScanned, root));
      for (const ChangedFolder& folder : scanner.ListChangedFolders(slot, root, dirlist)) {
        if (task.stop) break;
        RemoveFilesOfFolder(timelist, folder.key);
        RemoveFilesOfFolder(charlist, folder.key);
        if (!folder.gone) ListFolderIntoIndex(task, index, slot, folder);
        PostStatistics(task, index);
      }
    } else {
      task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
      task.PostStatus(StatusMessage::Text(kStatusFolderScanned, root));
      scanner.FullListing(slot, root, dirlist, [&](const ScannedEntry& file) {
        if (task.stop) return false;
        BuildScanned(task, index, root, file);
        return true;
      });
      PostStatistics(task, index);
    }
  }

  // 7.
  Flush(task, index, /*automatic=*/false);

  // 8. A relaunched task made its backup before the optimization.
  if (!task.relaunch && task.Locked(index, &runtime.indexed).Count() != 0) {
    task.LogFromTask(Text(TextId::IDS_BACKUPINDEX) + " " + def.index_folder);
    BackUp(task, index, /*master=*/new_index);
  }

  // 9.
  timelist.SetOrder(kOrderTime).IgnoreError();
  charlist.SetOrder(kOrderName).IgnoreError();
  dirlist.SetOrder(kOrderName).IgnoreError();
  WriteLists(task, index, def.browse_limit_on ? def.browse_limit : 0, /*full=*/true);
  PostStatistics(task, index);
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
}

}  // namespace vantrel
