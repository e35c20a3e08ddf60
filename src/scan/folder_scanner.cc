// The folder scanner: full listings, the folder-time comparison with DIRLIST
// and the plain listing of one folder.
//
// Folder times come from the listing of the parent folder (one ListFolder
// call per walked folder, no extra Stat), except for the image folder itself
// and for recorded folders that the walk did not meet, which are looked at
// one by one. Every walked folder is listed through ListNamed, which applies
// the key rules of scan/entry_keys.h and reports what they refuse.
#include "scan/folder_scanner.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "core/browse_list.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "scan/entry_keys.h"

namespace vantrel {
namespace {

// `path` without trailing '/' (the root "/" stays as it is).
std::string TrimNative(std::string_view path) {
  while (path.size() > 1 && path.back() == kNativeSeparator) path.remove_suffix(1);
  return std::string(path);
}

// The last-write time stamp of a folder; 0 when it cannot be found or is not
// a folder.
uint32_t FolderTime(FileSystem* fs, const std::string& path) {
  StatusOr<FileInfo> info = fs->Stat(path);
  if (!info.ok() || !info.value().is_folder) return 0;
  return FileTimeStampFromWinFileTime(info.value().modified);
}

// The part of `path` below `root` ("" for the root itself), or nothing when
// `path` does not lie at or below `root`. Both are trimmed native paths.
std::optional<std::string_view> RelativeTo(std::string_view root, std::string_view path) {
  if (path == root) return std::string_view();
  if (root == "/") {
    if (path.size() > 1 && path.front() == kNativeSeparator) return path.substr(1);
    return std::nullopt;
  }
  if (path.size() <= root.size() + 1 || path.substr(0, root.size()) != root ||
      path[root.size()] != kNativeSeparator) {
    return std::nullopt;
  }
  return path.substr(root.size() + 1);
}

// One folder's entries with their keys (entry_keys.h), in name order.
// Refused entries are reported and left out; a failed listing is reported,
// a successful one clears an earlier report of that folder. `files`, when
// given, receives the listing's file names.
StatusOr<std::vector<NamedEntry>> ListNamed(FileSystem* fs, const CodePage& cp,
                                            const SkipReporter& skips, const std::string& folder,
                                            const std::string& folder_key,
                                            std::shared_ptr<const ListedFileNames>* files = nullptr) {
  StatusOr<std::vector<FolderEntry>> listed = fs->ListFolder(folder);
  if (!listed.ok()) {
    skips.Skipped(folder, "Cannot list folder, its files are not indexed (" +
                              listed.status().ToString() + ")");
    return listed.status();
  }
  skips.Taken(folder);
  if (files != nullptr) *files = ListedFileNamesOf(listed.value());
  std::vector<NamedEntry> named = NameEntries(cp, folder_key, std::move(listed.value()));
  std::erase_if(named, [&](const NamedEntry& n) {
    if (n.refusal == KeyRefusal::kNone) return false;
    skips.Skipped(JoinNative(folder, n.entry.name), RefusalText(n.refusal));
    return true;
  });
  return named;
}

// The folders a walk is inside, by identity: a folder met again below itself
// (through a bind mount; links are never followed) is not walked again.
class WalkChain {
 public:
  // False when `e` is a folder the walk is already inside.
  bool Enter(const FolderEntry& e) {
    if (e.inode == 0) {
      ids_.emplace_back(0, 0);
      return true;
    }
    for (const auto& id : ids_) {
      if (id.first == e.device && id.second == e.inode) return false;
    }
    ids_.emplace_back(e.device, e.inode);
    return true;
  }
  void Leave() { ids_.pop_back(); }

 private:
  std::vector<std::pair<uint64_t, uint64_t>> ids_;
};

// Sets the DIRLIST entry of `key` to `time`: an entry with another time is
// replaced, one with the same time kept.
void RecordFolder(LockedBrowseList& dirlist, std::string_view key, uint32_t time) {
  std::optional<BrowseLookup> found = dirlist.Lookup(key, 0);
  if (found && found->time == time) return;
  if (found) dirlist.Remove(key, 0);
  // A refused add (a full list, an over-long key) leaves the folder
  // unrecorded: it is seen as new at the next comparison and listed again.
  dirlist.Add(key, time, 0, kNoExtra).IgnoreError();
}

// The folder keys of slot `digits` that have recorded sub-folders: every
// proper prefix of a recorded key that ends before a backslash.
std::unordered_set<std::string> FoldersWithRecordedChildren(LockedBrowseList& dirlist,
                                                            std::string_view digits) {
  return dirlist.WithLock([&](BrowseList& list) {
    std::unordered_set<std::string> parents;
    list.ForEach([&](const BrowseEntryView& v) {
      std::string_view first = v.folder.empty() ? v.last : v.folder;
      if (!first.starts_with(digits) || v.folder.empty()) return true;
      // Only the folder part holds backslashes that end a parent's key.
      for (size_t p = digits.size(); p < v.folder.size(); ++p) {
        if (v.folder[p] == kKeySeparator) parents.emplace(v.folder.substr(0, p));
      }
      return true;
    });
    return parents;
  });
}

// Recorded folders of slot `digits` that are not in `seen`, with their times.
std::vector<std::pair<std::string, uint32_t>> UnseenRecordedFolders(
    LockedBrowseList& dirlist, std::string_view digits,
    const std::unordered_set<std::string>& seen) {
  return dirlist.WithLock([&](BrowseList& list) {
    std::vector<std::pair<std::string, uint32_t>> unseen;
    list.ForEach([&](const BrowseEntryView& v) {
      std::string_view first = v.folder.empty() ? v.last : v.folder;
      if (!first.starts_with(digits)) return true;
      std::string name = v.ExpandedName();
      if (!seen.contains(name)) unseen.emplace_back(std::move(name), v.time);
      return true;
    });
    return unseen;
  });
}

}  // namespace

std::shared_ptr<const ListedFileNames> ListedFileNamesOf(const std::vector<FolderEntry>& entries) {
  auto names = std::make_shared<ListedFileNames>();
  for (const FolderEntry& e : entries) {
    if (!e.is_folder && !e.is_link) names->push_back(e.name);
  }
  std::sort(names->begin(), names->end());
  return names;
}

std::string FolderScanner::SlotDigits(int slot) {
  char digits[16];
  std::snprintf(digits, sizeof(digits), "%02i", slot);
  return digits;
}

// ---------------------------------------------------------------------------
// Full listing

namespace {

struct FullWalk {
  FileSystem* fs;
  const CodePage& cp;
  const SkipReporter& skips;
  LockedBrowseList& dirlist;
  const ScanCallback& on_file;
  WalkChain chain;
  bool aborted = false;

  // Lists `folder` (key `folder_key`): files go to the callback, sub-folders
  // are walked in turn and recorded in DIRLIST once listed (a folder that
  // cannot be listed leaves DIRLIST). False when `folder` cannot be listed
  // or the callback aborted (`aborted` set).
  bool Walk(const std::string& folder, const std::string& folder_key) {
    std::shared_ptr<const ListedFileNames> files;
    StatusOr<std::vector<NamedEntry>> named = ListNamed(fs, cp, skips, folder, folder_key, &files);
    if (!named.ok()) return false;
    for (const NamedEntry& n : named.value()) {
      const std::string path = JoinNative(folder, n.entry.name);
      const uint32_t time = FileTimeStampFromWinFileTime(n.entry.modified);
      if (!n.entry.is_folder) {
        if (on_file(ScannedEntry{path, n.key, time, false, files})) continue;
        aborted = true;
        return false;
      }
      if (!chain.Enter(n.entry)) continue;
      const bool listed = Walk(path, n.key);
      chain.Leave();
      if (aborted) return false;
      if (listed) {
        RecordFolder(dirlist, n.key, time);
      } else {
        dirlist.Remove(n.key, 0);
      }
    }
    return true;
  }
};

}  // namespace

bool FolderScanner::FullListing(int slot, const std::string& root, LockedBrowseList dirlist,
                                const ScanCallback& on_file) {
  const std::string digits = SlotDigits(slot);
  const std::string top = TrimNative(root);
  if (!fs_->IsValidFolder(top)) return true;
  dirlist.SetOrder(kOrderName).IgnoreError();
  const uint32_t top_time = FolderTime(fs_, top);
  FullWalk walk{fs_, cp_, skips_, dirlist, on_file, {}};
  const bool listed = walk.Walk(top, digits);
  if (listed) {
    RecordFolder(dirlist, digits, top_time);
  } else if (!walk.aborted) {
    dirlist.Remove(digits, 0);
  }
  dirlist.SetOrder(kOrderName).IgnoreError();
  return !walk.aborted;
}

// ---------------------------------------------------------------------------
// Comparison with DIRLIST

namespace {

struct ChangeWalk {
  FileSystem* fs;
  const CodePage& cp;
  const SkipReporter& skips;
  LockedBrowseList& dirlist;
  const std::unordered_set<std::string>& has_children;
  std::unordered_set<std::string>* seen;
  std::vector<ChangedFolder>* out;
  WalkChain chain;

  // Compares the sub-folders of `folder` with DIRLIST; descends into new and
  // changed ones, and into unchanged ones that have recorded sub-folders.
  // False when `folder` cannot be listed.
  bool Walk(const std::string& folder, const std::string& folder_key) {
    StatusOr<std::vector<NamedEntry>> named = ListNamed(fs, cp, skips, folder, folder_key);
    if (!named.ok()) return false;
    for (const NamedEntry& n : named.value()) {
      if (n.entry.is_folder) CompareFolder(JoinNative(folder, n.entry.name), n);
    }
    return true;
  }

  // One sub-folder: unchanged ones are walked into when they have recorded
  // sub-folders, new and changed ones are reported, recorded and walked into.
  // One that cannot be listed leaves DIRLIST unreported, to be found new and
  // listed again next time.
  void CompareFolder(const std::string& path, const NamedEntry& n) {
    const std::string& key = n.key;
    const uint32_t time = FileTimeStampFromWinFileTime(n.entry.modified);
    seen->insert(key);
    std::optional<BrowseLookup> found = dirlist.Lookup(key, 0);
    if (found && found->time == time) {
      if (has_children.contains(key) && chain.Enter(n.entry)) {
        if (!Walk(path, key)) dirlist.Remove(key, 0);
        chain.Leave();
      }
      return;
    }
    if (!chain.Enter(n.entry)) return;
    if (found) dirlist.Remove(key, 0);
    out->push_back(ChangedFolder{path, key, time, false});
    const size_t reported = out->size() - 1;
    dirlist.Add(key, time, 0, kNoExtra).IgnoreError();
    if (!Walk(path, key)) {
      // Nothing below it was listed, so it is still the last one reported.
      out->erase(out->begin() + static_cast<std::ptrdiff_t>(reported));
      dirlist.Remove(key, 0);
    }
    chain.Leave();
  }
};

}  // namespace

// The comparison, in three steps:
//  1. The image folder's own time against its DIRLIST entry (the digits): a
//     missing or different entry is replaced and the folder reported.
//  2. A walk of the sub-folders: a folder whose key DIRLIST holds with the
//     same time is unchanged and is walked into only when DIRLIST records a
//     folder below it (a key that begins with its key and a backslash, so
//     "03Sport" is not taken for the parent of "03Sports"); a folder that is
//     missing or has another time is reported, recorded and walked into.
//  3. Every recorded folder of the image folder that the walk did not meet is
//     looked at on disk; the ones that are gone (time 0) leave DIRLIST and are
//     reported with their old time. A folder met by the walk exists, so only
//     the others cost a look-up.
std::vector<ChangedFolder> FolderScanner::ListChangedFolders(int slot, const std::string& root,
                                                             LockedBrowseList dirlist) {
  const std::string digits = SlotDigits(slot);
  const std::string top = TrimNative(root);
  std::vector<ChangedFolder> out;
  dirlist.SetOrder(kOrderName).IgnoreError();
  const std::unordered_set<std::string> has_children = FoldersWithRecordedChildren(dirlist, digits);
  std::unordered_set<std::string> seen;

  // The image folder itself.
  const uint32_t root_time = FolderTime(fs_, top);
  std::optional<BrowseLookup> found = dirlist.Lookup(digits, 0);
  if (root_time == 0) {
    // Unreachable: reported once as gone, with the time it had.
    uint32_t old_time = 0;
    if (found) old_time = dirlist.Remove(digits, 0).value_or(found->time);
    out.push_back(ChangedFolder{top, digits, old_time, true});
  } else {
    seen.insert(digits);
    const bool changed = !found || found->time != root_time;
    if (changed) {
      if (found) dirlist.Remove(digits, 0);
      out.push_back(ChangedFolder{top, digits, root_time, false});
      dirlist.Add(digits, root_time, 0, kNoExtra).IgnoreError();
    }
    ChangeWalk walk{fs_, cp_, skips_, dirlist, has_children, &seen, &out, {}};
    if (!walk.Walk(top, digits)) {
      // Not listable: out of DIRLIST and unreported, listed again next time.
      if (changed) out.erase(out.begin());
      dirlist.Remove(digits, 0);
    }
  }

  // Recorded folders that the walk did not meet: the ones that are gone leave
  // DIRLIST and are reported with their old time.
  for (auto& [key, time] : UnseenRecordedFolders(dirlist, digits, seen)) {
    std::string path = NativeFolderPath(top, key);
    if (FolderTime(fs_, path) != 0) continue;
    std::optional<uint32_t> old_time = dirlist.Remove(key, 0);
    if (!old_time) continue;  // removed by someone else meanwhile
    out.push_back(ChangedFolder{std::move(path), std::move(key), *old_time, true});
  }
  dirlist.SetOrder(kOrderName).IgnoreError();
  return out;
}

// ---------------------------------------------------------------------------
// One folder

StatusOr<std::vector<ScannedEntry>> FolderScanner::ListFolderFiles(int slot,
                                                                   const std::string& root,
                                                                   const std::string& folder) {
  const std::string top = TrimNative(root);
  const std::string here = TrimNative(folder);
  std::optional<std::string_view> relative = RelativeTo(top, here);
  if (!relative) return std::vector<ScannedEntry>();
  std::string folder_key = SlotDigits(slot);
  if (!relative->empty()) folder_key += KeyFromNativeRelative(cp_, *relative);
  std::shared_ptr<const ListedFileNames> names;
  StatusOr<std::vector<NamedEntry>> named = ListNamed(fs_, cp_, skips_, here, folder_key, &names);
  if (!named.ok()) return named.status();
  std::vector<ScannedEntry> files;
  for (const NamedEntry& n : named.value()) {
    if (n.entry.is_folder) continue;
    files.push_back(ScannedEntry{JoinNative(here, n.entry.name), n.key,
                                 FileTimeStampFromWinFileTime(n.entry.modified), false, names});
  }
  return files;
}

StatusOr<std::string> FolderScanner::FindFolder(const std::string& root,
                                                std::string_view folder_key) {
  return FindKeyPath(fs_, cp_, TrimNative(root), folder_key);
}

std::string FolderScanner::NativeFolderPath(const std::string& root, std::string_view folder_key) {
  if (folder_key.size() < 2 || folder_key[0] < '0' || folder_key[0] > '9' || folder_key[1] < '0' ||
      folder_key[1] > '9') {
    return std::string();
  }
  StatusOr<std::string> found = FindFolder(root, folder_key);
  if (found.ok()) return std::move(found.value());
  // Not on disk (any more): the path the key stands for.
  return JoinNative(TrimNative(root), KeyToNative(cp_.ToUtf8(folder_key.substr(2))));
}

}  // namespace vantrel
