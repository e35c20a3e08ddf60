// ChangeNotifier on inotify (see change_notifier.h).
//
// Book-keeping: every tree maps its folders (relative paths) to watch
// descriptors, and every descriptor lists its owners (key, relative path).
// The kernel returns the same descriptor for the same folder, so overlapping
// trees share descriptors; a descriptor is removed from the kernel with its
// last owner. All of it is guarded by mu_, and the inotify descriptor is read
// only with mu_ held, so a record is always interpreted against the tables as
// they were when the kernel queued it (or later, for removed watches, whose
// records are then ignored).
#include "platform/change_notifier.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "platform/served_folders.h"

namespace vantrel {
namespace {

// Changes of names and contents, the watch's own end, and no following of
// links below the root. IN_EXCL_UNLINK: a deleted file that is still open no
// longer reports writes.
constexpr uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB |
                                 IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                 IN_ONLYDIR | IN_EXCL_UNLINK;
constexpr uint32_t kSubFolderMask = kFolderMask | IN_DONT_FOLLOW;

constexpr size_t kReadBufferSize = 64 * 1024;  // room for hundreds of records
constexpr int kMaxReadsPerBatch = 16;

std::string JoinRel(const std::string& rel, const std::string& name) {
  return rel.empty() ? name : rel + "/" + name;
}

std::string FullPath(const std::string& root, const std::string& rel) {
  if (rel.empty()) return root;
  return root == "/" ? "/" + rel : root + "/" + rel;
}

// True when both paths name the same folder right now.
bool SameFolder(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool IsUnder(const std::string& path, const std::string& folder) {
  if (folder.empty()) return true;
  return path.size() > folder.size() && path.starts_with(folder) && path[folder.size()] == '/';
}

void AddTrouble(ChangeNotifier::Batch* batch, uint32_t key, WatchTrouble trouble) {
  WatchTroubleReport report{key, trouble};
  if (std::find(batch->troubles.begin(), batch->troubles.end(), report) == batch->troubles.end()) {
    batch->troubles.push_back(report);
  }
}

// Lists one folder: (name, is_folder) pairs. Links are not folders here.
// `path` itself may be a link only when `follow` is set (a tree's root).
std::vector<std::pair<std::string, bool>> ListNames(const std::string& path, bool follow) {
  std::vector<std::pair<std::string, bool>> names;
  int fd = OpenServedPath(path, O_RDONLY | O_DIRECTORY | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return names;
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    close(fd);
    return names;
  }
  while (dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
    bool is_folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat st;
      is_folder = fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    }
    names.emplace_back(name, is_folder);
  }
  closedir(dir);
  return names;
}

}  // namespace

StatusOr<std::unique_ptr<ChangeNotifier>> ChangeNotifier::Create(Options options) {
  int inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify_fd < 0) {
    return Status::IoError(std::string("cannot start change notification: ") + strerror(errno));
  }
  int wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd < 0) {
    int err = errno;
    close(inotify_fd);
    return Status::IoError(std::string("cannot open an eventfd: ") + strerror(err));
  }
  return std::unique_ptr<ChangeNotifier>(
      new ChangeNotifier(inotify_fd, wake_fd, std::move(options)));
}

ChangeNotifier::ChangeNotifier(int inotify_fd, int wake_fd, Options options)
    : inotify_fd_(inotify_fd),
      wake_fd_(wake_fd),
      options_(std::move(options)),
      read_buffer_(kReadBufferSize) {}

int ChangeNotifier::AddWatch(const std::string& path, uint32_t mask) {
  if (options_.add_watch) return options_.add_watch(inotify_fd_, path.c_str(), mask);
  return inotify_add_watch(inotify_fd_, path.c_str(), mask);
}

ChangeNotifier::~ChangeNotifier() {
  close(inotify_fd_);  // drops every watch
  close(wake_fd_);
}

StatusOr<TreeCoverage> ChangeNotifier::AddTree(uint32_t key, const std::string& root_in) {
  if (root_in.empty() || root_in[0] != '/') {
    return Status::InvalidArgument("not an absolute folder path: " + root_in);
  }
  std::string root = root_in;
  while (root.size() > 1 && root.back() == '/') root.pop_back();

  MutexLock lock(&mu_);
  RemoveTreeLocked(key);
  Tree& tree = trees_[key];
  tree.root = root;
  int err = WatchFolders(key, tree, "", /*report=*/false, nullptr);
  if (err != 0) {
    trees_.erase(key);
    std::string what = "cannot watch " + root + ": " + strerror(err);
    switch (err) {
      case ENOENT:
        return Status::NotFound(what);
      case ENOTDIR:
        return Status::InvalidArgument(what);
      case ENOSPC:
      case ENOMEM:
        return Status::ResourceExhausted(what);
      default:
        return Status::IoError(what);
    }
  }
  return TreeCoverage{tree.wd_by_rel.size(), tree.unwatched, tree.watch_limit};
}

void ChangeNotifier::RemoveTree(uint32_t key) {
  MutexLock lock(&mu_);
  RemoveTreeLocked(key);
}

void ChangeNotifier::RemoveTreeLocked(uint32_t key) {
  auto it = trees_.find(key);
  if (it == trees_.end()) return;
  DropFolders(key, it->second, "");
  trees_.erase(it);
}

std::optional<TreeCoverage> ChangeNotifier::Coverage(uint32_t key) {
  MutexLock lock(&mu_);
  auto it = trees_.find(key);
  if (it == trees_.end() || it->second.gone) return std::nullopt;
  const Tree& tree = it->second;
  return TreeCoverage{tree.wd_by_rel.size(), tree.unwatched, tree.watch_limit};
}

size_t ChangeNotifier::WatchCount() {
  MutexLock lock(&mu_);
  return owners_.size();
}

int ChangeNotifier::WatchFolders(uint32_t key, Tree& tree, const std::string& start_rel,
                                 bool report, Batch* batch, std::vector<std::string>* visited) {
  int start_error = 0;
  // Depth-first with an explicit stack: trees can be deeper than a thread's
  // stack would like.
  std::vector<std::string> pending{start_rel};
  while (!pending.empty()) {
    std::string rel = std::move(pending.back());
    pending.pop_back();
    const std::string path = FullPath(tree.root, rel);
    const bool is_start = rel == start_rel;
    // The watch comes before the listing: a name made in between is both
    // listed and reported by the new watch, never missed.
    int wd = AddWatch(path, rel.empty() ? kFolderMask : kSubFolderMask);
    if (wd < 0) {
      int err = errno;
      if (is_start) start_error = err;
      if (err == ENOENT || err == ENOTDIR) continue;  // gone (or replaced by a file) meanwhile
      if (is_start && rel.empty()) return err;        // the root itself: AddTree fails
      // The folder exists but has no watch. It is still listed, so that its
      // present names are reported; its later changes need a re-list.
      ++tree.unwatched;
      if (err == ENOSPC || err == ENOMEM) {
        tree.watch_limit = true;
        if (batch != nullptr) AddTrouble(batch, key, WatchTrouble::kWatchLimit);
      }
      if (!report) continue;
    } else if (!Attach(wd, key, tree, rel)) {
      continue;  // the same folder under a second name (bind mount): a loop otherwise
    } else if (visited != nullptr) {
      visited->push_back(rel);
    }
    for (auto& [name, is_folder] : ListNames(path, rel.empty())) {
      std::string child = JoinRel(rel, name);
      if (report) batch->events.push_back({key, ChangeAction::kAdded, child, is_folder});
      if (is_folder) pending.push_back(std::move(child));
    }
  }
  return start_error;
}

bool ChangeNotifier::Attach(int wd, uint32_t key, Tree& tree, const std::string& rel) {
  std::optional<std::string> other_name;
  for (const Owner& owner : owners_[wd]) {
    if (owner.key != key) continue;
    if (owner.rel == rel) return true;
    other_name = owner.rel;
    break;
  }
  // The kernel says this folder is already watched in the tree under another
  // name. Either that name still leads to it (a bind mount inside the tree:
  // keep the first name, or the walk would never end), or the folder was
  // renamed and the event for that was lost: then the old name and everything
  // recorded below it are stale.
  if (other_name && SameFolder(FullPath(tree.root, *other_name), FullPath(tree.root, rel))) {
    return false;
  }
  owners_[wd].push_back({key, rel});
  // With its new owner in place, dropping the stale name keeps the watch.
  if (other_name) DropFolders(key, tree, *other_name);
  auto it = tree.wd_by_rel.find(rel);
  if (it != tree.wd_by_rel.end() && it->second != wd) {
    // The name now holds a different folder; the old one's watch is stale.
    Release(it->second, key, rel);
  }
  tree.wd_by_rel[rel] = wd;
  return true;
}

void ChangeNotifier::Release(int wd, uint32_t key, const std::string& rel) {
  auto it = owners_.find(wd);
  if (it == owners_.end()) return;
  std::vector<Owner>& owners = it->second;
  std::erase_if(owners, [&](const Owner& o) { return o.key == key && o.rel == rel; });
  if (owners.empty()) {
    // Fails harmlessly (EINVAL) when the kernel has dropped the watch already.
    inotify_rm_watch(inotify_fd_, wd);
    owners_.erase(it);
  }
}

void ChangeNotifier::DropFolders(uint32_t key, Tree& tree, const std::string& rel) {
  // The folder itself, then the folders below it, which sort together right
  // after "rel/" (names like "rel-x" sort between "rel" and "rel/" and are
  // left alone). For the root ("") that is every folder.
  auto it = tree.wd_by_rel.find(rel);
  if (it != tree.wd_by_rel.end()) {
    Release(it->second, key, it->first);
    tree.wd_by_rel.erase(it);
  }
  it = rel.empty() ? tree.wd_by_rel.begin() : tree.wd_by_rel.lower_bound(rel + "/");
  while (it != tree.wd_by_rel.end() && IsUnder(it->first, rel)) {
    Release(it->second, key, it->first);
    it = tree.wd_by_rel.erase(it);
  }
}

ChangeNotifier::Batch ChangeNotifier::WaitForChanges(
    std::optional<std::chrono::milliseconds> timeout) {
  Batch batch;
  const auto deadline =
      std::chrono::steady_clock::now() + timeout.value_or(std::chrono::milliseconds(0));
  for (;;) {
    int wait_ms = -1;
    if (timeout) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      wait_ms = static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
    }
    pollfd fds[2] = {{inotify_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    int ready = poll(fds, 2, wait_ms);
    if (ready > 0) {
      if (fds[1].revents & POLLIN) {
        uint64_t count;
        if (read(wake_fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
          batch.woken = true;
        }
      }
      if (fds[0].revents != 0) {
        MutexLock lock(&mu_);
        Drain(&batch);
      }
    }
    // Records for watches that were removed meanwhile give an empty batch;
    // then wait again for the time that is left.
    if (!batch.empty()) break;
    if (timeout && std::chrono::steady_clock::now() >= deadline) break;
  }
  std::stable_sort(batch.events.begin(), batch.events.end(),
                   [](const ChangeEvent& a, const ChangeEvent& b) { return a.key < b.key; });
  return batch;
}

void ChangeNotifier::Wake() {
  uint64_t one = 1;
  // Fails only when the counter is about to overflow: a wake is pending anyway.
  ssize_t ignored = write(wake_fd_, &one, sizeof one);
  (void)ignored;
}

void ChangeNotifier::Drain(Batch* batch) {
  for (int i = 0; i < kMaxReadsPerBatch; ++i) {
    ssize_t n = read(inotify_fd_, read_buffer_.data(), read_buffer_.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN) ReportOverflow(batch);  // cannot read the queue: assume losses
      return;
    }
    if (n == 0) return;
    InotifyParseResult parsed =
        ParseInotifyBuffer(std::span<const std::byte>(read_buffer_.data(), static_cast<size_t>(n)));
    for (const InotifyRecord& record : parsed.records) HandleRecord(record, batch);
    if (parsed.leftover_bytes != 0) ReportOverflow(batch);
  }
}

void ChangeNotifier::ReportOverflow(Batch* batch) {
  for (auto& [key, tree] : trees_) {
    if (tree.gone) continue;
    AddTrouble(batch, key, WatchTrouble::kOverflow);
    Resync(key, tree, batch);
  }
}

void ChangeNotifier::Resync(uint32_t key, Tree& tree, Batch* batch) {
  // Lost events may have hidden new, renamed and deleted folders. Walk the
  // tree again: folders without a watch get one, renamed folders move to
  // their new names (see Attach), and names that no longer lead to a folder
  // lose their watches. The caller re-lists the names themselves.
  std::vector<std::string> visited;
  tree.unwatched = 0;
  tree.watch_limit = false;
  if (WatchFolders(key, tree, "", /*report=*/false, batch, &visited) != 0) {
    RootGone(key, tree, batch);
    return;
  }
  std::sort(visited.begin(), visited.end());
  std::vector<std::string> stale;
  for (const auto& [rel, wd] : tree.wd_by_rel) {
    if (!std::binary_search(visited.begin(), visited.end(), rel)) stale.push_back(rel);
  }
  for (const std::string& rel : stale) DropFolders(key, tree, rel);
}

void ChangeNotifier::RootGone(uint32_t key, Tree& tree, Batch* batch) {
  if (tree.gone) return;
  AddTrouble(batch, key, WatchTrouble::kRootGone);
  DropFolders(key, tree, "");
  tree.gone = true;
}

void ChangeNotifier::HandleRecord(const InotifyRecord& record, Batch* batch) {
  if (record.mask & IN_Q_OVERFLOW) {
    ReportOverflow(batch);
    return;
  }
  auto found = owners_.find(record.wd);
  if (found == owners_.end()) return;  // a watch removed before its records were read
  // A copy: handling an event may add and drop watches, this one included.
  const std::vector<Owner> owners = found->second;

  if (record.mask & IN_IGNORED) {
    // The kernel has dropped the watch (folder deleted, file system gone).
    owners_.erase(found);
    for (const Owner& owner : owners) {
      auto tree = trees_.find(owner.key);
      if (tree == trees_.end()) continue;
      auto entry = tree->second.wd_by_rel.find(owner.rel);
      if (entry != tree->second.wd_by_rel.end() && entry->second == record.wd) {
        tree->second.wd_by_rel.erase(entry);
      }
      if (owner.rel.empty()) RootGone(owner.key, tree->second, batch);
    }
    return;
  }
  if (record.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
    for (const Owner& owner : owners) {
      auto tree = trees_.find(owner.key);
      if (tree == trees_.end() || tree->second.gone) continue;
      if (owner.rel.empty()) {
        RootGone(owner.key, tree->second, batch);
      } else if (record.mask & IN_UNMOUNT) {
        // A file system mounted inside the tree went away. Its names vanished
        // without events, and the folder underneath shows through: watch
        // that one and have the tree re-listed.
        AddTrouble(batch, owner.key, WatchTrouble::kOverflow);
        WatchFolders(owner.key, tree->second, owner.rel, /*report=*/true, batch);
      }
      // A deleted or moved sub-folder: its parent's IN_DELETE or
      // IN_MOVED_FROM tells the story.
    }
    return;
  }
  if (record.name.empty()) return;  // a change of the watched folder itself
  const ChangeAction action = ChangeActionForMask(record.mask);
  if (action == ChangeAction::kNone) return;
  const bool is_folder = (record.mask & IN_ISDIR) != 0;
  const bool closed = (record.mask & IN_CLOSE_WRITE) != 0;

  for (const Owner& owner : owners) {
    auto tree = trees_.find(owner.key);
    if (tree == trees_.end() || tree->second.gone) continue;
    std::string rel = JoinRel(owner.rel, record.name);
    batch->events.push_back({owner.key, action, rel, is_folder, closed});
    if (!is_folder) continue;
    if (action == ChangeAction::kAdded || action == ChangeAction::kRenamedNew) {
      WatchFolders(owner.key, tree->second, rel, /*report=*/true, batch);
    } else if (action == ChangeAction::kRemoved || action == ChangeAction::kRenamedOld) {
      DropFolders(owner.key, tree->second, rel);
    }
  }
}

}  // namespace vantrel
