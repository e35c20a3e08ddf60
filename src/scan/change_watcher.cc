#include "scan/change_watcher.h"

#include <optional>
#include <utility>

#include "core/file_names.h"
#include "platform/code_page.h"
#include "platform/mount_info.h"

namespace vantrel {
namespace {

// The code-page form of a native relative name, with '\' between folders.
std::string KeyOfRelativeName(const std::string& native) {
  std::string key = CodePage::Default().FromUtf8(native);
  for (char& c : key) {
    if (c == '/') c = '\\';
  }
  return key;
}

// A request file is whole once its writer closed it or it was renamed into
// place (a client that writes under another name first). Making and writing
// it only say that it may be on its way.
std::optional<RequestNotice> RequestNoticeFor(const ChangeEvent& event) {
  switch (event.action) {
    case ChangeAction::kRenamedNew:
      return RequestNotice::kComplete;
    case ChangeAction::kModified:
      return event.closed ? RequestNotice::kComplete : RequestNotice::kChanging;
    case ChangeAction::kAdded:
      return RequestNotice::kChanging;
    default:
      return std::nullopt;
  }
}

}  // namespace

bool IsRequestFileName(std::string_view name) {
  if (name.size() < 3 || name.size() > 255) return false;
  std::string_view tail = name.substr(name.size() - 3);
  return tail == "REQ" || tail == "QRY";
}

void ClearSearchFolder(FileSystem* fs, const IndexDefinition& def) {
  fs->EmptyFolder(def.search_folder, /*recursive=*/true).IgnoreError();
  fs->DeleteFile(def.search_folder + "/" + names::kStatusFile).IgnoreError();
}

StatusOr<std::unique_ptr<ChangeWatcher>> ChangeWatcher::Create(Options options) {
  if (!options.notifier) {
    StatusOr<std::unique_ptr<ChangeNotifier>> notifier = ChangeNotifier::Create();
    if (!notifier.ok()) return notifier.status();
    options.notifier = std::move(notifier.value());
  }
  if (!options.is_network_mount) options.is_network_mount = IsNetworkMount;
  return std::unique_ptr<ChangeWatcher>(new ChangeWatcher(std::move(options)));
}

std::vector<ArmedFolder> ChangeWatcher::Arm(const Configuration& config) {
  std::vector<ArmedFolder> result;
  FileSystem* fs = options_.fs;
  ChangeNotifier& notifier = *options_.notifier;
  index_count_ = IndexCount(config);
  {
    MutexLock lock(&mu_);
    search_folders_.clear();
  }
  for (int i = 0; i < IndexCount(config); ++i) {
    const IndexDefinition& def = config.indexes[i];
    if (!def.active) continue;
    ClearSearchFolder(fs, def);

    for (int slot = 0; slot < static_cast<int>(def.image_folders.size()); ++slot) {
      const ImageFolderEntry& entry = def.image_folders[slot];
      if (!entry.used()) continue;
      ArmedFolder folder{i, slot, entry.path, false, ""};
      uint32_t key = WatchKey(i, slot);
      notifier.RemoveTree(key);
      if (!fs->IsFolder(entry.path)) {
        // A folder that cannot be opened is skipped without a message.
        result.push_back(folder);
        continue;
      }
      if (options_.is_network_mount(entry.path)) {
        folder.reason = "network mount: changes made by other hosts raise no events";
        result.push_back(folder);
        continue;
      }
      StatusOr<TreeCoverage> coverage = notifier.AddTree(key, entry.path);
      if (coverage.ok()) {
        folder.armed = true;
        if (!coverage->complete()) {
          folder.reason = "some sub-folders cannot be watched (inotify watch limit)";
        }
      } else if (coverage.status().code() == StatusCode::kNotFound ||
                 coverage.status().code() == StatusCode::kInvalidArgument) {
        // Vanished between the check and the watch: skipped silently.
      } else {
        folder.reason = coverage.status().ToString();
        if (options_.notices) {
          options_.notices->ShowNotice(options_.error_caption,
                                       options_.no_watch_text + " :\n " + entry.path, 10000);
        }
      }
      result.push_back(folder);
    }

    ArmedFolder search{i, -1, def.search_folder, false, ""};
    uint32_t key = SearchWatchKey(i);
    {
      MutexLock lock(&mu_);
      search_folders_[i] = def.search_folder;
    }
    notifier.RemoveTree(key);
    if (fs->IsFolder(def.search_folder)) {
      StatusOr<TreeCoverage> coverage = notifier.AddTree(key, def.search_folder);
      search.armed = coverage.ok();
      if (!coverage.ok()) search.reason = coverage.status().ToString();
    }
    result.push_back(search);
  }
  return result;
}

void ChangeWatcher::Deliver(const ChangeEvent& event) {
  int index = static_cast<int>(event.key >> 16);
  uint32_t low = event.key & 0xFFFF;
  if (event.key == 0 || index >= index_count_) return;
  ChangeSink* sink = options_.sink;
  if (low == kSearchFolderSlot) {
    if (event.is_folder) return;
    std::optional<RequestNotice> notice = RequestNoticeFor(event);
    if (!notice) return;
    std::string name = KeyOfRelativeName(event.name);
    if (IsRequestFileName(name)) sink->OnSearchRequest(index, name, *notice);
    return;
  }
  int slot = static_cast<int>(low) - 1;
  ChangeEntry entry;
  entry.key = KeyOfRelativeName(event.name);
  entry.native_name = event.name;
  entry.action = static_cast<uint32_t>(event.action);
  sink->OnImageFolderChange(index, slot, std::move(entry));
}

bool ChangeWatcher::RunOnce() {
  ChangeNotifier::Batch batch = options_.notifier->WaitForChanges(std::nullopt);
  for (const ChangeEvent& event : batch.events) Deliver(event);
  for (const WatchTroubleReport& report : batch.troubles) {
    int index = static_cast<int>(report.key >> 16);
    uint32_t low = report.key & 0xFFFF;
    if (index >= index_count_ || low == 0) continue;
    if (low == kSearchFolderSlot) {
      if (report.trouble == WatchTrouble::kRootGone) RearmSearchFolder(index);
      continue;
    }
    options_.sink->OnFolderNeedsRelisting(index, static_cast<int>(low) - 1,
                                          report.trouble == WatchTrouble::kRootGone);
  }
  return !batch.woken;
}

void ChangeWatcher::RearmSearchFolder(int index) {
  std::string folder;
  {
    MutexLock lock(&mu_);
    auto found = search_folders_.find(index);
    if (found == search_folders_.end()) return;
    folder = found->second;
  }
  FileSystem* fs = options_.fs;
  // Made as the preparation makes it (mode and group for the share's
  // clients); a folder put back under the name meanwhile is taken as it is,
  // a link put there goes (what it points to is never watched or read).
  fs->RemoveLink(folder).status().IgnoreError();
  if (!fs->IsFolder(folder)) fs->CreateSharedFolder(folder).IgnoreError();
  const uint32_t key = SearchWatchKey(index);
  options_.notifier->RemoveTree(key);
  if (!options_.notifier->AddTree(key, folder).ok()) return;
  // Requests written before the watch raised no event.
  StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(folder);
  if (!entries.ok()) return;
  for (const FolderEntry& e : *entries) {
    if (e.is_folder || e.is_link) continue;
    const std::string name = KeyOfRelativeName(e.name);
    if (!IsRequestFileName(name)) continue;
    options_.sink->OnSearchRequest(index, name, RequestNotice::kChanging);
  }
}

bool ChangeWatcher::RearmImageFolder(int index, int slot, const std::string& path) {
  // Back as a network mount (remounted from another host): polled, as at arming.
  if (options_.is_network_mount(path)) return false;
  const uint32_t key = WatchKey(index, slot);
  options_.notifier->RemoveTree(key);
  return options_.notifier->AddTree(key, path).ok();
}

void ChangeWatcher::Run() {
  while (RunOnce()) {
  }
}

void ChangeWatcher::Stop() { options_.notifier->Wake(); }

}  // namespace vantrel
