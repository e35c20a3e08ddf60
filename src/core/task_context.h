// TaskContext: the state of one running database process task, shared by its
// threads (task thread, status pump, thumbnail thread, change watcher, search
// dispatcher and workers, poll thread) and by the subsystems they call.
//
// Locks and what they guard (take them in this order, never the reverse):
//   search_dispatch_lock  a whole dispatch pass; index maintenance while it
//                         swaps engine files
//     -> request_lock     every index's request list, the in-progress list,
//                         the active search counter
//   change_queue_lock     every image folder's change queue and relisting mark
//   update_lock           the poll thread's re-listing of one folder; index
//                         maintenance
//   list locks            (ListLockTable) one per index for each single browse
//                         list operation; a leaf, taken under any of the above
// No lock is held across file I/O that can take long, except the update lock
// (which exists to serialize exactly that).
//
// The task's copy of the configuration (`config`) belongs to the task thread:
// other threads read only fields that the task thread does not change while
// they run (paths, the index count, folder paths), or take a copy at start.
//
// Flags are atomics written by one side and polled by the others.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "core/browse_list.h"
#include "core/change_arrivals.h"
#include "core/change_queue.h"
#include "core/config_file.h"
#include "core/fifo_queue.h"
#include "core/list_lock_table.h"
#include "core/notices.h"
#include "core/status_message.h"
#include "core/task_request.h"
#include "core/work_progress.h"
#include "platform/auto_reset_event.h"
#include "platform/file_system.h"
#include "platform/mutex.h"

namespace vantrel {

inline constexpr int kMaxIndexes = 32;
inline constexpr int kFolderSlots = 32;

// Restart states of an index, acted on when the task restarts.
enum RestartState : uint32_t {
  kRestartNone = 0,
  kRestartRebuild = 1,   // empty VT_DATA: engine index, lists, backups
  kRestartRescan = 3,    // empty the lists folder
  kRestartRelaunch = 7,  // relaunch the server after an automatic optimization
};

struct ImageFolderRuntime {
  // Names that changed below the folder. Guarded by change_queue_lock.
  ChangeQueue change_queue;
  // Notifications may have been lost: re-list the folder at the next poll
  // pass. Guarded by change_queue_lock.
  bool needs_relisting = false;
  // The folder's tree is watched (set while arming, read by the poll thread).
  std::atomic<bool> watch_armed{false};
  // The folder's watch was lost while the server ran (the folder was
  // deleted, moved or unmounted): the poll thread watches it again once it
  // is back.
  std::atomic<bool> watch_lost{false};
  // The XMP sidecars that polls of the folder's sub-folders saw, by file key,
  // with their time stamps: sidecars have no list entries, so this is what
  // tells a poll that one is unchanged. Guarded by change_queue_lock.
  std::map<std::string, uint32_t> sidecar_stamps;
};

struct IndexRuntime {
  // Searches ask TIMELIST whether a hit's file stands there with its stamp.
  IndexRuntime() { timelist.KeepPresence(); }

  // Browse lists; each operation takes this index's list lock.
  BrowseList timelist;  // every image file with its time, newest first
  BrowseList charlist;  // the same files by name
  BrowseList dirlist;   // every folder with its time
  BrowseList indexed;   // every document the engine holds
  // Request files waiting for the search dispatcher. Guarded by request_lock.
  ChangeQueue request_list;
  std::atomic<bool> search_watch_armed{false};
  // Set by task requests and the optimizer; read when the task restarts.
  std::atomic<uint32_t> restart_state{kRestartNone};
  bool optimize_done = false;  // task thread only
  // The start-up catch-up was cut short by a stop: the lists in memory are
  // incomplete and are not saved; the next start resumes from the lists
  // saved before and the documents the engine holds. Task thread only.
  bool lists_cut = false;
  std::array<ImageFolderRuntime, kFolderSlots> folders;
};

// What the task is started with.
struct TaskEnvironment {
  std::string config_path;    // native path of the configuration data file
  std::string start_dir;      // native start directory (the engine's home)
  std::string settings_path;  // native path of VANTREL.INI
  bool relaunched = false;    // started after an automatic optimization or an edit
  FileSystem* fs = nullptr;                       // not owned
  NoticeSink* notices = nullptr;                  // not owned
  FifoQueue<TaskRequest>* requests = nullptr;     // console -> task; not owned
  ListLockTable* list_locks = nullptr;            // not owned
  // kMaxIndexes counters of long work, read by the console; not owned.
  // Null: the context keeps its own, which nobody reads.
  WorkCounters* progress = nullptr;
};

class TaskContext {
 public:
  explicit TaskContext(TaskEnvironment env) : env_(std::move(env)) {}
  TaskContext(const TaskContext&) = delete;
  TaskContext& operator=(const TaskContext&) = delete;

  const TaskEnvironment& env() const { return env_; }
  FileSystem* fs() const { return env_.fs; }
  NoticeSink* notices() const { return env_.notices; }
  ListLockTable* list_locks() const { return env_.list_locks; }
  // The progress counters of index `index` (0 <= index < kMaxIndexes).
  WorkCounters& Progress(int index) {
    WorkCounters* all = env_.progress != nullptr ? env_.progress : own_progress_.data();
    return all[index];
  }

  // The browse list `list` of index `index` seen through that index's lock.
  LockedBrowseList Locked(int index, BrowseList* list) const {
    return LockedBrowseList(env_.list_locks, index, list);
  }

  // Sends a status message to the console (through the status pump).
  void PostStatus(StatusMessage message) { status_queue.Push(std::move(message)); }
  // Sends a line for the event log. With a non-zero `option_bit` the line is
  // sent only when that log option is on.
  void LogFromTask(std::string_view text, uint32_t option_bit = 0) {
    if (option_bit != 0 && (log_flags.load() & option_bit) == 0) return;
    PostStatus(StatusMessage::Text(kStatusLogLine, std::string(text)));
  }

  Mutex search_dispatch_lock ACQUIRED_BEFORE(request_lock);
  Mutex request_lock;
  Mutex change_queue_lock;
  Mutex update_lock;

  std::atomic<bool> stop{false};
  // The task has been asked to stop (set at once, while `stop` is set only
  // when the main loop acts on it): the start-up catch-up ends at the next
  // file.
  std::atomic<bool> stop_asked{false};
  std::atomic<bool> restart{false};
  std::atomic<bool> relaunch{false};
  std::atomic<uint32_t> log_flags{kDefaultLogFlags};

  AutoResetEvent action_event;  // wakes the search dispatcher
  ChangeArrivals change_arrivals;  // wakes the main loop for an early update job
  FifoQueue<StatusMessage> status_queue;

  Configuration config;  // the task's own copy; see the header comment
  std::array<IndexRuntime, kMaxIndexes> indexes;

  int active_searches GUARDED_BY(request_lock) = 0;
  // Request file names being served or served in the last 30 seconds, with
  // the moment each was taken; a name is forgotten 30 seconds after that.
  std::map<std::string, std::chrono::steady_clock::time_point> in_progress
      GUARDED_BY(request_lock);

  // PDF files waiting for thumbnails (server-wide: list lock of index -1).
  BrowseList thumbnail_queue;

 private:
  TaskEnvironment env_;
  std::array<WorkCounters, kMaxIndexes> own_progress_;
};

}  // namespace vantrel
