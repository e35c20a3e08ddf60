// ChangeNotifier: change notification for whole folder trees, on inotify.
//
// One inotify descriptor carries the watches of every tree; an eventfd is the
// wake-up packet that ends a wait (the change watcher's stop). A tree is a
// root folder and every folder below it, registered under a caller-chosen
// 32-bit key. Each change comes back as (key, action, name relative to the
// root), the shape of the per-folder notification records the change watcher
// expects.
//
// What the notifier does on its own:
//   - A folder created or moved into a tree is watched at once. Its contents
//     are then listed and reported as added, because files made in it before
//     its watch existed would otherwise go unseen. Such a name can therefore
//     be reported twice (once from the listing, once from its own event).
//   - A folder deleted, renamed or moved out of a tree loses its watches.
//     Only the folder's own name is reported (kRemoved or kRenamedOld), not
//     the names below it; the caller drops what it knew below that folder.
//   - Symbolic links to folders are reported as names but never followed;
//     the root itself may be a link. A folder that is reachable twice inside
//     one tree (a bind mount) is watched under its first name only.
// What it reports as trouble, so that the caller re-lists the folder:
//   - kOverflow for every tree when the kernel queue overflowed (or a read
//     returned damaged bytes): events were lost. The notifier then walks
//     each tree again, so that folders made, renamed or deleted during the
//     loss are watched under their present names. Also for one tree when a
//     file system mounted inside it is unmounted (its names vanish without
//     events; the folder underneath is watched from then on).
//   - kWatchLimit when a folder of the tree could not be watched because the
//     max_user_watches limit is reached; the tree is then partly watched.
//   - kRootGone when the root was deleted, moved or unmounted; the tree's
//     watches are dropped and it stays silent until AddTree is called again.
// It does not coalesce, settle or filter: a write gives several kModified
// events (IN_MODIFY per write, then one with `closed` set for IN_CLOSE_WRITE
// at the end). The caller coalesces by name.
//
// Thread safety: AddTree, RemoveTree, Coverage, WatchCount and Wake may be
// called from any thread at any time, also while another thread waits in
// WaitForChanges. WaitForChanges is for one thread at a time (the change
// watcher). A tree added while a wait is in progress produces events in that
// very wait. After RemoveTree returns, a WaitForChanges that starts later
// returns no event of that key; a wait in progress may still return what it
// had collected before the removal. Sub-folders of a new
// folder are listed inside WaitForChanges with the notifier's lock held, so
// AddTree may wait for such a listing to finish.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/inotify_buffer.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/thread_annotations.h"

namespace vantrel {

struct ChangeEvent {
  uint32_t key = 0;
  ChangeAction action = ChangeAction::kNone;
  // Path relative to the tree's root, '/' between folders, the bytes of the
  // names on disk (UTF-8 by convention, passed through unchanged if not).
  std::string name;
  bool is_folder = false;
  // The event is the end of a write: a writer closed the file (IN_CLOSE_WRITE).
  // Readers that must not see a half-written file wait for this (or for a
  // rename into place, kRenamedNew) instead of acting on the first kModified.
  bool closed = false;

  bool operator==(const ChangeEvent&) const = default;
};

enum class WatchTrouble {
  kOverflow,    // events of this tree may have been lost
  kWatchLimit,  // a folder of the tree could not be watched (watch limit)
  kRootGone,    // the root was deleted, moved away or unmounted
};

struct WatchTroubleReport {
  uint32_t key = 0;
  WatchTrouble trouble = WatchTrouble::kOverflow;

  bool operator==(const WatchTroubleReport&) const = default;
};

// How much of a tree is watched.
struct TreeCoverage {
  size_t watched_folders = 0;
  // Folders that exist but could not be watched (watch limit, no permission,
  // path too long), counted since AddTree or the last overflow. Their changes
  // are found only by re-listing. AddTree again to retry.
  size_t unwatched_folders = 0;
  bool watch_limit_reached = false;

  bool complete() const { return unwatched_folders == 0; }
};

class ChangeNotifier {
 public:
  struct Batch {
    // Grouped by key (keys in ascending order); within a key in the order
    // the kernel reported them, so a rename is kRenamedOld then kRenamedNew.
    std::vector<ChangeEvent> events;
    std::vector<WatchTroubleReport> troubles;  // each (key, trouble) at most once
    bool woken = false;                        // Wake() was called

    bool empty() const { return events.empty() && troubles.empty() && !woken; }
  };

  struct Options {
    // Stands in for inotify_add_watch(fd, path, mask): returns a watch
    // descriptor, or -1 with errno set. Empty means the real call. Tests use
    // it to inject failures such as ENOSPC (the watch limit).
    std::function<int(int fd, const char* path, uint32_t mask)> add_watch;
  };

  // kIoError when the inotify or event descriptor cannot be made (for
  // instance when the per-user inotify instance limit is reached).
  static StatusOr<std::unique_ptr<ChangeNotifier>> Create(Options options = {});

  ~ChangeNotifier();
  ChangeNotifier(const ChangeNotifier&) = delete;
  ChangeNotifier& operator=(const ChangeNotifier&) = delete;

  // Watches `root` (an absolute path; a trailing '/' is ignored) and every
  // folder below it under `key`. A key that is in use is re-registered: its
  // old tree is removed first. Trees may overlap; a change inside both is
  // reported once per key. Existing contents are not reported.
  // Fails, leaving the key unregistered, when the root itself cannot be
  // watched: kInvalidArgument for a relative path or a path that is not a
  // folder, kNotFound when it does not exist, kResourceExhausted at the watch
  // limit, kIoError otherwise. Success with an incomplete coverage means some
  // sub-folders are not watched.
  StatusOr<TreeCoverage> AddTree(uint32_t key, const std::string& root) EXCLUDES(mu_);

  // Drops every watch of the tree. Unknown keys are ignored.
  void RemoveTree(uint32_t key) EXCLUDES(mu_);

  // The present coverage of a registered tree; nothing for an unknown key or
  // a tree whose root is gone.
  std::optional<TreeCoverage> Coverage(uint32_t key) EXCLUDES(mu_);

  // Number of kernel watches held (several trees can share one).
  size_t WatchCount() EXCLUDES(mu_);

  // Blocks until there are events or troubles, Wake() was called, or
  // `timeout` passed (no limit when empty). Returns an empty batch on
  // time-out. A Wake() that came before the call ends it at once; several
  // Wake() calls before a wait end one wait. One batch reads at most about a
  // megabyte of kernel records; the rest is returned by the next call.
  Batch WaitForChanges(std::optional<std::chrono::milliseconds> timeout) EXCLUDES(mu_);

  // Ends the current (or next) WaitForChanges with `woken` set. Any thread;
  // async-signal-safe.
  void Wake();

 private:
  struct Owner {
    uint32_t key;
    std::string rel;  // folder relative to the tree's root, "" for the root
  };
  struct Tree {
    std::string root;
    std::map<std::string, int> wd_by_rel;  // every watched folder of the tree
    size_t unwatched = 0;
    bool watch_limit = false;
    bool gone = false;
  };

  ChangeNotifier(int inotify_fd, int wake_fd, Options options);
  int AddWatch(const std::string& path, uint32_t mask);

  // Adds watches for `start_rel` and every folder below it. With `report`,
  // every name found below `start_rel` is added to `batch` as kAdded.
  // Returns the errno of the watch on `start_rel` itself (0 on success).
  // Each folder that got (or kept) a watch is added to `visited` if given.
  int WatchFolders(uint32_t key, Tree& tree, const std::string& start_rel, bool report,
                   Batch* batch, std::vector<std::string>* visited = nullptr) REQUIRES(mu_);
  // Records that `wd` watches `rel` of the tree. False when the same folder
  // is already watched under another name of the same tree.
  bool Attach(int wd, uint32_t key, Tree& tree, const std::string& rel) REQUIRES(mu_);
  // Forgets one owner of `wd`; removes the kernel watch with its last owner.
  void Release(int wd, uint32_t key, const std::string& rel) REQUIRES(mu_);
  // Releases the watches of `rel` and every folder below it.
  void DropFolders(uint32_t key, Tree& tree, const std::string& rel) REQUIRES(mu_);
  void RemoveTreeLocked(uint32_t key) REQUIRES(mu_);

  // Reads what the kernel has queued and turns it into events and troubles.
  void Drain(Batch* batch) REQUIRES(mu_);
  void HandleRecord(const InotifyRecord& record, Batch* batch) REQUIRES(mu_);
  // kOverflow for every tree, each of which is then re-synchronised.
  void ReportOverflow(Batch* batch) REQUIRES(mu_);
  // Brings the watches of a tree in line with the folders on disk.
  void Resync(uint32_t key, Tree& tree, Batch* batch) REQUIRES(mu_);
  void RootGone(uint32_t key, Tree& tree, Batch* batch) REQUIRES(mu_);

  const int inotify_fd_;
  const int wake_fd_;
  const Options options_;

  Mutex mu_;
  std::map<uint32_t, Tree> trees_ GUARDED_BY(mu_);
  std::unordered_map<int, std::vector<Owner>> owners_ GUARDED_BY(mu_);
  std::vector<std::byte> read_buffer_ GUARDED_BY(mu_);
};

}  // namespace vantrel
