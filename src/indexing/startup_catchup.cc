// The start-up catch-up of one index (Pipeline::StartUpIndex) and the
// listings it uses.
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/file_names.h"
#include "core/list_file.h"
#include "core/text_table.h"
#include "engine/document_name.h"
#include "indexing/file_count_walk.h"
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

// Empties TIMELIST and CHARLIST (and DIRLIST when given) and sets their
// orders.
void ClearLists(LockedBrowseList timelist, LockedBrowseList charlist, LockedBrowseList* dirlist) {
  timelist.Release();
  charlist.Release();
  if (dirlist != nullptr) dirlist->Release();
  timelist.SetOrder(kOrderTime).IgnoreError();
  charlist.SetOrder(kOrderName).IgnoreError();
  if (dirlist != nullptr) dirlist->SetOrder(kOrderName).IgnoreError();
}

// The task has been asked to stop: the catch-up ends at the next file.
bool CutShort(const TaskContext& task) { return task.stop || task.stop_asked; }

// The image folders of `def` that have a root, by slot.
std::vector<std::pair<int, std::string>> ImageRoots(const IndexDefinition& def) {
  std::vector<std::pair<int, std::string>> roots;
  for (int slot = 0; slot < kFolderSlots; ++slot) {
    const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
    if (!root.empty()) roots.emplace_back(slot, root);
  }
  return roots;
}

}  // namespace

size_t Pipeline::RebuildIndexedList(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  indexed.Release();
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  if (engine == nullptr) return 0;
  struct Found {
    uint32_t time_stamp;
    std::string file_key;
  };
  std::vector<Found> found;
  SearchJob job;
  job.query = "xlastword";
  job.index_folder = def.engine_folder;
  job.max_hits = -1;
  job.message_callback = [&found](const EngineMessage& m) {
    if (m.code != kMessageFoundDocument || m.name.empty()) return;
    if (m.name[0] < '0' || m.name[0] > 'F') return;
    if (std::optional<DecodedDocumentName> name = DecodeDocumentName(m.name)) {
      found.push_back(Found{name->time_stamp, std::string(name->file_key)});
    }
  };
  StatusOr<SearchOutcome> outcome = engine->RunSearchJob(job);
  if (!outcome.ok() && !outcome.status().IsNotFound()) {
    task.LogFromTask("Cannot read the documents of " + def.index_folder + ": " +
                     outcome.status().ToString());
  }
  std::vector<NewBrowseEntry> entries;
  entries.reserve(found.size());
  for (const Found& name : found) {
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
                            const ScannedEntry& file, const ComposedAhead* ahead) {
  BuildRequest request;
  request.index = index;
  request.native_path = file.native_path;
  request.file_key = file.key;
  request.native_root = root;
  request.time = file.time;
  request.change = false;
  request.ahead = ahead;
  request.folder_files = file.folder_files;
  Build(task, request);
  task.Progress(index).CountDone();
}

void Pipeline::TakeScanned(TaskContext& task, int index, const std::string& root,
                           const ScannedEntry& file) {
  if (!readers_) {
    BuildScanned(task, index, root, file);
    return;
  }
  if (readers_->full()) BuildOldestRead(task, index, root);
  // A file indexed in this version is passed over by its build: not read.
  const bool indexed =
      task.Locked(index, &task.indexes[static_cast<size_t>(index)].indexed)
          .Lookup(file.key, file.time)
          .has_value();
  readers_->Queue(DocumentFile{file.native_path, file.key, file.time, file.folder_files},
                  !indexed);
}

void Pipeline::BuildOldestRead(TaskContext& task, int index, const std::string& root) {
  DocumentReaders::Taken taken = readers_->TakeOldest();
  const ScannedEntry file{std::move(taken.file.native_path), std::move(taken.file.file_key),
                          taken.file.time, false, std::move(taken.file.folder_files)};
  BuildScanned(task, index, root, file, taken.ahead ? &*taken.ahead : nullptr);
}

void Pipeline::BuildAllRead(TaskContext& task, int index, const std::string& root) {
  // Every queued file is built, even after a stop: its folder may already
  // be recorded in DIRLIST, and would not be listed again.
  while (readers_ && !readers_->empty()) BuildOldestRead(task, index, root);
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
    if (CutShort(task)) return;
    TakeScanned(task, index, root, file);
  }
}

void Pipeline::StartDocumentReaders(TaskContext& task, int index) {
  readers_.reset();
  if (options_.document_readers <= 1) return;
  readers_ = std::make_unique<DocumentReaders>(
      options_.document_readers,
      [options = IndexDocumentOptions(task, index, build_options_)](const DocumentFile& file) {
        return ComposeAhead(file, options);
      });
}

void Pipeline::LoadSavedLists(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  LockedBrowseList charlist = task.Locked(index, &runtime.charlist);
  LockedBrowseList dirlist = task.Locked(index, &runtime.dirlist);
  ClearLists(timelist, charlist, &dirlist);
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
}

bool Pipeline::RecoverIndexedList(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  if (RebuildIndexedList(task, index) != 0) return false;
  size_t restored = 0;
  if (Restore(task, index, /*master=*/false)) restored = RebuildIndexedList(task, index);
  if (restored == 0 && Restore(task, index, /*master=*/true)) {
    restored = RebuildIndexedList(task, index);
  }
  if (restored != 0) task.LogFromTask(Text(TextId::IDS_RESTOREINDEX) + " " + def.index_folder);
  // The saved lists describe files the engine does not hold.
  LockedBrowseList dirlist = task.Locked(index, &runtime.dirlist);
  ClearLists(task.Locked(index, &runtime.timelist), task.Locked(index, &runtime.charlist),
             &dirlist);
  return restored == 0;
}

void Pipeline::RelistFoldersOfUnindexedFiles(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  LockedBrowseList indexed = task.Locked(index, &runtime.indexed);
  // A batch of TIMELIST at a time, looked up in its order, which the indexed
  // list rebuilt from the engine shares: each look-up starts where the last
  // one ended.
  constexpr size_t kBatch = 8192;
  std::string names;                              // a batch's names end to end
  std::vector<std::pair<size_t, uint32_t>> ends;  // where each ends, its time
  std::vector<TimedName> wanted;
  std::vector<std::optional<BrowseLookup>> found;
  std::set<std::string> folders;
  size_t unindexed = 0;
  for (size_t from = 0;; from += kBatch) {
    names.clear();
    ends.clear();
    timelist.WithLock([&](BrowseList& list) {
      for (size_t i = from; i < list.Count() && i < from + kBatch; ++i) {
        std::optional<BrowseEntryView> e = list.ViewAt(i);
        if (!e) continue;
        names.append(e->folder);
        names.append(e->last);
        ends.emplace_back(names.size(), e->time);
      }
      return 0;
    });
    if (ends.empty()) break;
    wanted.clear();
    size_t start = 0;
    for (const auto& [end, time] : ends) {
      wanted.push_back(TimedName{std::string_view(names).substr(start, end - start), time});
      start = end;
    }
    found.resize(wanted.size());
    indexed.WithLock([&](BrowseList& list) {
      list.LookupMany(wanted, found);
      return 0;
    });
    for (size_t i = 0; i < wanted.size(); ++i) {
      if (found[i].has_value()) continue;
      ++unindexed;
      folders.emplace(FolderKeyOf(wanted[i].name));
    }
  }
  if (folders.empty()) return;
  // Recorded with time 0, the time of a folder that is not there, each counts
  // as changed when the catch-up compares the folders with DIRLIST (or as
  // gone, when it is).
  LockedBrowseList dirlist = task.Locked(index, &runtime.dirlist);
  for (const std::string& folder : folders) {
    std::optional<BrowseLookup> recorded = dirlist.Lookup(folder, 0);
    if (recorded) dirlist.Remove(folder, 0);
    dirlist.Add(folder, 0, recorded ? recorded->value : 0, recorded ? recorded->extra : kNoExtra)
        .IgnoreError();
  }
  task.LogFromTask(std::to_string(unindexed) + " listed files of " + def.index_folder +
                   " have no document in the index; their " + std::to_string(folders.size()) +
                   " folders are listed again");
}

void Pipeline::CatchUpChangedFolders(TaskContext& task, int index, int slot,
                                     FolderScanner& scanner) {
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  const std::string& root = task.config.indexes[static_cast<size_t>(index)]
                                .image_folders[static_cast<size_t>(slot)]
                                .path;
  LockedBrowseList dirlist = task.Locked(index, &runtime.dirlist);
  for (const ChangedFolder& folder : scanner.ListChangedFolders(slot, root, dirlist)) {
    if (CutShort(task)) break;
    RemoveFilesOfFolder(task.Locked(index, &runtime.timelist), folder.key);
    RemoveFilesOfFolder(task.Locked(index, &runtime.charlist), folder.key);
    if (!folder.gone) ListFolderIntoIndex(task, index, slot, folder);
    PostStatistics(task, index);
  }
}

void Pipeline::CatchUpWholeFolder(TaskContext& task, int index, int slot,
                                  FolderScanner& scanner) {
  const std::string& root = task.config.indexes[static_cast<size_t>(index)]
                                .image_folders[static_cast<size_t>(slot)]
                                .path;
  LockedBrowseList dirlist = task.Locked(index, &task.indexes[static_cast<size_t>(index)].dirlist);
  scanner.FullListing(slot, root, dirlist, [&](const ScannedEntry& file) {
    if (CutShort(task)) return false;
    TakeScanned(task, index, root, file);
    return true;
  });
}

void Pipeline::CatchUpImageFolders(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  pending_.Reset(/*from_changes=*/false);
  pending_index_ = index;
  FolderScanner scanner(fs_, *cp_, Skips(task));
  const bool have_dirlist = task.Locked(index, &runtime.dirlist).Count() != 0;
  if (!have_dirlist) {
    ClearLists(task.Locked(index, &runtime.timelist), task.Locked(index, &runtime.charlist),
               nullptr);
  }
  // A full listing: its files are counted ahead of the builder.
  std::optional<FileCountWalk> counting;
  if (!have_dirlist && options_.count_files_ahead) {
    counting.emplace(fs_, *cp_, ImageRoots(def), &task.Progress(index), &task.stop_asked);
  }
  StartDocumentReaders(task, index);
  for (int slot = 0; slot < kFolderSlots && !CutShort(task); ++slot) {
    const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
    if (root.empty()) continue;
    CheckRoot(task, index, slot);
    task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
    task.PostStatus(StatusMessage::Text(kStatusFolderScanned, root));
    if (have_dirlist) {
      CatchUpChangedFolders(task, index, slot, scanner);
    } else {
      CatchUpWholeFolder(task, index, slot, scanner);
    }
    BuildAllRead(task, index, root);
    PostStatistics(task, index);
  }
  readers_.reset();
}

void Pipeline::LeaveCutShort(TaskContext& task, int index) {
  // Its lists are neither written nor saved: the next start compares the
  // folders with the lists saved before and skips what the engine holds.
  task.indexes[static_cast<size_t>(index)].lists_cut = true;
  task.LogFromTask("The stop cut short the catch-up of " +
                   task.config.indexes[static_cast<size_t>(index)].index_folder +
                   ": what it indexed is kept, the next start goes on with the rest");
}

void Pipeline::StartUpIndex(TaskContext& task, int index) {
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];

  // Volume lists; the lists saved when the task last stopped.
  if (options_.write_volume_lists) options_.write_volume_lists(def);
  LoadSavedLists(task, index);

  task.PostStatus(StatusMessage::Text(
      kStatusOperation, Text(TextId::IDS_INITINDEX) + " " + def.index_folder));
  task.LogFromTask(Text(TextId::IDS_READFILELIST) + ": " + def.index_folder);

  // The indexed list from the engine, else from a backup. An index
  // that holds nothing is built in bulk.
  const bool new_index = RecoverIndexedList(task, index);
  if (new_index) {
    StartBulkBuild(index);
  } else {
    RelistFoldersOfUnindexedFiles(task, index);
  }

  // Changed folders, or every folder.
  CatchUpImageFolders(task, index);

  // The last documents; a bulk build becomes searchable.
  Flush(task, index, /*automatic=*/false);
  FinishBulkBuild(task, index);
  if (CutShort(task)) {
    LeaveCutShort(task, index);
    return;
  }

  // A relaunched task made its backup before the optimization.
  if (!task.relaunch && task.Locked(index, &runtime.indexed).Count() != 0) {
    task.LogFromTask(Text(TextId::IDS_BACKUPINDEX) + " " + def.index_folder);
    BackUp(task, index, /*master=*/new_index);
  }

  // The lists in their orders, written for the clients.
  task.Locked(index, &runtime.timelist).SetOrder(kOrderTime).IgnoreError();
  task.Locked(index, &runtime.charlist).SetOrder(kOrderName).IgnoreError();
  task.Locked(index, &runtime.dirlist).SetOrder(kOrderName).IgnoreError();
  WriteLists(task, index, def.browse_limit_on ? def.browse_limit : 0, /*full=*/true);
  PostStatistics(task, index);
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
}

}  // namespace vantrel
