// The poll thread's re-listing (Pipeline::ListChangedFolders, PollFolder):
// new, changed and vanished files become queued changes, which the next
// change pass turns into document updates.
//
// XMP sidecars (while the index reads XMP) have no list entries to compare
// with; the folder's runtime remembers the stamps that polls saw instead, so
// an unchanged sidecar is not queued (and its picture not composed) again at
// every poll of its folder, while a new, rewritten or removed one is.
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "indexing/folder_keys.h"
#include "indexing/index_pipeline.h"
#include "metadata/metadata_switches.h"
#include "metadata/xmp_sources.h"
#include "platform/paths.h"
#include "scan/folder_scanner.h"

namespace vantrel {
namespace {

// Queues the sidecars of the polled folder `folder_key` whose stamps differ
// from the remembered ones (or that are new), and the remembered ones that
// `sidecars` no longer holds; the memory then holds the listing. Sidecars are
// queued with their relative native paths as `relative_native` gives them.
// True when something was queued.
template <typename RelativeNative>
bool QueueSidecarChanges(TaskContext& task, ImageFolderRuntime& folder,
                         const std::string& folder_key,
                         const std::vector<const ScannedEntry*>& sidecars,
                         const RelativeNative& relative_native, const CodePage& cp) {
  bool queued = false;
  std::set<std::string> listed;
  MutexLock lock(&task.change_queue_lock);
  for (const ScannedEntry* sidecar : sidecars) {
    listed.insert(sidecar->key);
    auto [at, added] = folder.sidecar_stamps.try_emplace(sidecar->key, sidecar->time);
    if (!added && at->second == sidecar->time) continue;
    at->second = sidecar->time;
    folder.change_queue.Put(ChangeEntry{sidecar->key.substr(2),
                                        relative_native(sidecar->native_path), kActionListed});
    queued = true;
  }
  for (auto at = folder.sidecar_stamps.begin(); at != folder.sidecar_stamps.end();) {
    if (!LiesDirectlyIn(at->first, folder_key) || listed.count(at->first) != 0) {
      ++at;
      continue;
    }
    std::string relative = at->first.substr(2);
    std::string native_relative = KeyToNative(cp.ToUtf8(relative));
    folder.change_queue.Put(
        ChangeEntry{std::move(relative), std::move(native_relative), kActionListed});
    queued = true;
    at = folder.sidecar_stamps.erase(at);
  }
  return queued;
}

}  // namespace

std::vector<std::string> Pipeline::ListChangedFolders(TaskContext& task, int index, int slot) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  std::vector<std::string> keys;
  if (root.empty()) return keys;
  CheckRoot(task, index, slot);
  FolderScanner scanner(fs_, *cp_, Skips(task));
  for (const ChangedFolder& folder : scanner.ListChangedFolders(
           slot, root, task.Locked(index, &task.indexes[static_cast<size_t>(index)].dirlist))) {
    keys.push_back(folder.key);
  }
  return keys;
}

std::optional<std::vector<ScannedEntry>> Pipeline::PolledFiles(TaskContext& task, int index,
                                                               int slot,
                                                               const std::string& folder_key) {
  const std::string& root =
      task.config.indexes[static_cast<size_t>(index)].image_folders[static_cast<size_t>(slot)].path;
  FolderScanner scanner(fs_, *cp_, Skips(task));
  StatusOr<std::string> holder = scanner.FindFolder(root, folder_key);
  task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
  task.PostStatus(StatusMessage::Text(
      kStatusFolderScanned,
      holder.ok() ? holder.value() : scanner.NativeFolderPath(root, folder_key)));
  if (!holder.ok()) return std::vector<ScannedEntry>();
  StatusOr<std::vector<ScannedEntry>> listed = scanner.ListFolderFiles(slot, root, holder.value());
  if (!listed.ok()) {
    task.Locked(index, &task.indexes[static_cast<size_t>(index)].dirlist).Remove(folder_key, 0);
    return std::nullopt;
  }
  return std::move(listed.value());
}

void Pipeline::PollFolder(TaskContext& task, int index, int slot, const std::string& folder_key) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  if (root.empty() || folder_key.size() < 2) return;
  std::optional<std::vector<ScannedEntry>> files = PolledFiles(task, index, slot, folder_key);
  if (!files) return;
  LockedBrowseList timelist = task.Locked(index, &runtime.timelist);
  ImageFolderRuntime& folder = runtime.folders[static_cast<size_t>(slot)];
  auto relative_native = [&root](const std::string& path) {
    return path.size() > root.size() + 1 ? path.substr(root.size() + 1) : std::string();
  };
  std::set<std::string> listed;
  std::vector<const ScannedEntry*> sidecars;
  const bool reads_xmp = MetadataSwitches::FromStoredBits(def.metadata_switches).xmp;
  bool queued = false;
  for (const ScannedEntry& file : *files) {
    listed.insert(file.key);
    if (reads_xmp && IsXmpSidecarName(file.native_path)) {
      sidecars.push_back(&file);
      continue;
    }
    if (timelist.Lookup(file.key, file.time)) continue;
    MutexLock lock(&task.change_queue_lock);
    folder.change_queue.Put(
        ChangeEntry{file.key.substr(2), relative_native(file.native_path), kActionListed});
    queued = true;
  }

  // Files recorded directly in this folder that the listing no longer shows.
  std::vector<std::string> vanished;
  timelist.WithLock([&](BrowseList& list) {
    list.ForEach([&](const BrowseEntryView& e) {
      std::string name = e.ExpandedName();
      if (LiesDirectlyIn(name, folder_key) && listed.count(name) == 0) {
        vanished.push_back(std::move(name));
      }
      return true;
    });
    return 0;
  });
  for (const std::string& key : vanished) {
    std::string relative = key.substr(2);
    // The file is gone; its path only tells the builder so.
    std::string native_relative = KeyToNative(cp_->ToUtf8(relative));
    MutexLock lock(&task.change_queue_lock);
    folder.change_queue.Put(ChangeEntry{std::move(relative), std::move(native_relative),
                                        kActionListed});
    queued = true;
  }
  if (reads_xmp) {
    queued |= QueueSidecarChanges(task, folder, folder_key, sidecars, relative_native, *cp_);
  }
  if (queued) task.change_arrivals.Note();
}

}  // namespace vantrel
