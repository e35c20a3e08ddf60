// DatabaseTask: the database process task, the half of the server that does
// the work. A tree of threads with its own copy of the configuration:
//
//   task thread      the preparation pass (index folders, start-up catch-up of
//                    every index, arming the change watcher), then the main
//                    loop: optimizer check, one index update job, up to 20
//                    task requests with 500 ms sleeps; the stop and restart
//   status pump      status queue -> StatusSink (the console), 50 ms sleeps
//   thumbnail thread the last queued PDF file -> ThumbnailMaker, 1 s sleeps
//   change watcher   notifications -> change queues and request lists
//   search dispatcher  wakes on the action event, starts one search worker
//                    per new request file
//   poll thread      every 2 minutes re-lists the image folders (unwatched
//                    ones every pass, watched ones every second pass)
//
// The console meets the task only through the request queue (in), the status
// sink (out) and the shutdown state: 0 running, 1 stop requested (console),
// 2 task finished (task). The task ends with state 2 in every case, also when
// it cannot load its configuration, so that the console never waits forever.
//
// At stop the task waits at most 10 seconds (worker_grace) for running
// searches, then goes on with the shutdown and logs the requests still
// running; their threads finish on their own (see task_workers.h). Every
// other thread it started is joined before it releases the lists and queues
// they use. Requests queued but not begun stay in the search folder; the
// next start deletes them, as it deletes every request left from a run.
//
// A search folder that cannot be watched (no inotify instance, or the watch
// limits reached) is listed every 250 ms instead; the task logs that once
// per start.
//
// Thread safety: Start() once; RequestStop(), shutdown_state(), WaitFinished()
// from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/task_context.h"
#include "core/task_services.h"
#include "core/volume_namer.h"
#include "platform/mutex.h"
#include "server/index_folder_locks.h"
#include "server/status_sink.h"

namespace vantrel {

class ChangeNotifier;
class ChangeWatcher;
class TaskWorkers;

// The periods of the task's loops; tests shorten them.
struct TaskTimings {
  std::chrono::milliseconds request_sleep{500};      // between task requests in the main loop
  int requests_per_pass = 20;
  std::chrono::milliseconds request_poll{250};       // request intake: unwatched search folders
  std::chrono::milliseconds request_quiet{1000};     // a request seen changing is whole after this
  std::chrono::milliseconds status_idle{50};
  std::chrono::milliseconds thumbnail_idle{1000};
  std::chrono::milliseconds thumbnail_drain{60000};  // the stop's wait for queued thumbnails
  std::chrono::milliseconds poll_interval{120000};   // 240 x 500 ms
  std::chrono::milliseconds poll_folder_pause{500};
  std::chrono::milliseconds forget_after{30000};     // a served request name is ignored this long
  std::chrono::milliseconds worker_grace{10000};     // the stop's wait for running searches
};

// How often folders without a watch are polled, for the log: "2 minutes".
std::string PollIntervalText(const TaskTimings& timings);

class DatabaseTask {
 public:
  struct Options {
    TaskEnvironment env;
    TaskServices services;        // null members do nothing
    StatusSink* status_sink = nullptr;  // required; not owned
    VolumeNamer* namer = nullptr;       // null: names are looked up as empty
    TaskTimings timings;
    // The local hour (0-23) for the optimizer check; empty: the clock.
    std::function<int()> local_hour;
    // After an automatic optimization: tells the console (which logs
    // "Vantrel Terminating" and saves its configuration) and relaunches the
    // server with "-VSR". Does not return when the relaunch works; empty or
    // returning: the task ends as if stopped.
    std::function<void()> relaunch;
    // Print every change and request the watcher delivers on standard error.
    bool trace_changes = false;
    // Makes the change watcher's notifier (tests inject watch failures);
    // empty: a real one.
    std::function<std::unique_ptr<ChangeNotifier>()> make_notifier;
  };

  explicit DatabaseTask(Options options);
  ~DatabaseTask();  // requests a stop and joins the task thread
  DatabaseTask(const DatabaseTask&) = delete;
  DatabaseTask& operator=(const DatabaseTask&) = delete;

  // Starts the task thread. The shutdown state becomes 0.
  void Start();
  // The console asks the task to stop (state 0 -> 1). A start-up catch-up
  // under way ends at its next file; the main loop stops after its pass.
  void RequestStop();
  int shutdown_state() const { return shutdown_state_.load(); }
  // Waits until the task has finished (state 2) or `timeout` passed.
  bool WaitFinished(std::chrono::milliseconds timeout);
  // The PDF thumbnail jobs waiting in the running task's queue (0 when no
  // task runs).
  size_t QueuedThumbnails() EXCLUDES(context_mu_);
  // What the stop does with queued thumbnail jobs: kBounded waits at most
  // thumbnail_drain and drops the rest (a stop nobody is asked about, such
  // as SIGTERM); kWait waits until the queue is empty (the operator answered
  // Yes to the thumbnail question); kDrop drops them at once (No). Kept for
  // every later stop.
  enum class ThumbnailsAtStop { kBounded, kWait, kDrop };
  void SetThumbnailsAtStop(ThumbnailsAtStop answer) { thumbnails_at_stop_ = answer; }
  // Joins the task thread (after state 2).
  void Join();

  // The running task's context, for tests (nullptr before the task loaded
  // its configuration and after it ended).
  TaskContext* context_for_testing() { return context_.get(); }
  // True once the task has armed its watches and serves.
  bool serving() const { return serving_.load(); }

 private:
  void RunTask();
  bool LoadTaskConfiguration();
  // One task cycle, from starting the engine to the stop; true when a
  // restart follows.
  bool RunCycle();
  std::unique_ptr<ChangeWatcher> MakeChangeWatcher(TaskWorkers* threads);
  void PreparationPass(ChangeWatcher* watcher);
  void ArmWatches(ChangeWatcher* watcher);
  void LogPolledSearchFolders();
  void StartServing(TaskWorkers* threads, ChangeWatcher* watcher);
  void StopCycle(TaskWorkers* threads, std::unique_ptr<ChangeWatcher>* watcher);
  void MainLoop(bool* restart_noted);
  // The stop's wait for the thumbnail queue, as thumbnails_at_stop_ says.
  void DrainThumbnailsForStop();
  void OptimizerCheck();
  void HandleTaskRequest();
  void ReleaseListsAndWatches();
  void ActOnRestart();
  void DrainStatus();
  // Sleeps up to `period`, ending early when the stop flag is set.
  void SleepUnlessStopped(std::chrono::milliseconds period);

  Options options_;
  EngineService null_engine_;
  IndexPipeline null_pipeline_;
  SearchService null_search_;
  ThumbnailMaker null_thumbnails_;

  std::atomic<int> shutdown_state_{0};
  std::atomic<bool> serving_{false};
  // Written by the task thread only; context_mu_ guards the writes and
  // the reads of other threads (QueuedThumbnails).
  std::shared_ptr<TaskContext> context_;
  Mutex context_mu_;
  std::atomic<ThumbnailsAtStop> thumbnails_at_stop_{ThumbnailsAtStop::kBounded};
  // Held from the first preparation pass to the task's end.
  std::unique_ptr<IndexFolderLocks> index_locks_;
  // What the next start-up catch-up of each index follows (task thread).
  std::array<WorkKind, kMaxIndexes> next_work_ = MakeCatchUps();
  static std::array<WorkKind, kMaxIndexes> MakeCatchUps() {
    std::array<WorkKind, kMaxIndexes> all;
    all.fill(WorkKind::kCatchUp);
    return all;
  }
  std::thread task_thread_;
};

}  // namespace vantrel
