// TaskWorkers: the worker threads of one task cycle (status pump, thumbnail
// thread, change watcher, search dispatcher with its search workers, poll
// thread), and the change sink through which the watcher fills the queues.
//
// Started and stopped by the task thread (DatabaseTask). Every thread started
// here is joined by Join*(), with one exception: a search that is still
// running when the stop's wait for searches has run out is left to finish on
// its own (its thread detached), so that one hung search cannot keep the
// server from stopping. Such a thread holds a share of what it still uses
// after its search (the task context and the search pool's state) and
// touches nothing else once its search returns.
#pragma once

#include <atomic>
#include <chrono>
#include <vector>
#include <memory>
#include <string>
#include <thread>

#include "core/task_context.h"
#include "core/task_services.h"
#include "platform/auto_reset_event.h"
#include "platform/mutex.h"
#include "scan/change_sink.h"
#include "server/request_intake.h"
#include "server/status_sink.h"

namespace vantrel {

class ChangeWatcher;
struct TaskTimings;

class TaskWorkers : public ChangeSink {
 public:
  TaskWorkers(std::shared_ptr<TaskContext> task, const TaskServices& services, StatusSink* sink,
              const TaskTimings& timings, bool trace_changes);
  ~TaskWorkers() override;  // joins whatever still runs
  TaskWorkers(const TaskWorkers&) = delete;
  TaskWorkers& operator=(const TaskWorkers&) = delete;

  void StartStatusPumpAndThumbnails();
  void StartChangeWatcher(ChangeWatcher* watcher);
  void StartDispatcherAndPoll();
  bool watcher_running() const { return watcher_thread_.joinable(); }

  // Stops and joins the change watcher (the "key 0" packet).
  void StopChangeWatcher();
  // Wakes the dispatcher, the request intake and the poll thread so they see
  // the stop flag, then joins them, the thumbnail thread and every search
  // thread. Searches still running after `grace` are logged by request name
  // and left to finish on their own. Requests queued but not begun stay in
  // the search folder. Once is enough; later calls do nothing.
  void JoinWorkers(std::chrono::milliseconds grace);
  // Joins the status pump, which first hands over every queued message.
  void JoinStatusPump();

  // ChangeSink, called on the watcher thread.
  void OnImageFolderChange(int index, int slot, ChangeEntry entry) override;
  void OnSearchRequest(int index, const std::string& name, RequestNotice notice) override;
  void OnFolderNeedsRelisting(int index, int slot, bool watch_lost) override;

  // One pass of the search dispatcher over every request list (public for
  // tests): queues each name not served in the last 30 s for the search
  // threads.
  void DispatchPass();
  // One pass of the poll thread over every image folder (public for tests).
  void PollPass(int pass);
  // Once an image folder whose watch was lost is back, watches it again:
  // true when it is watched from now on.
  bool WatchAgainIfBack(int index, int slot);
  // One pass of the request intake (public for tests): lists the search
  // folders that are not watched, then hands on the request files that have
  // become whole.
  void RequestIntakePass();

  // Search threads of every task that are still running, abandoned ones
  // included (tests wait for this to reach 0 before they end).
  static int LiveSearchThreads();

 private:
  struct SearchPool;

  void StatusPumpLoop();
  void ThumbnailLoop();
  void DispatcherLoop();
  void PollLoop();
  void RequestIntakeLoop();
  static void SearchThreadLoop(SearchPool& pool, TaskContext& task, SearchService* search,
                               int number);
  void SleepUnlessStopped(std::chrono::milliseconds period, AutoResetEvent* wake);

  // The native path of request `name` in the search folder of `index`.
  std::string RequestPath(int index, const std::string& name) const;
  // The operator's path of image folder `slot` of `index`.
  const std::string& ImageFolderPath(int index, int slot) const;
  void ListUnwatchedSearchFolder(int index);
  // Puts a whole request into the index's request list for the dispatcher.
  void QueueRequest(int index, const std::string& name);

  // Steps of JoinWorkers.
  void StopSearchPool();
  // True when every search ended within `grace`.
  bool WaitForSearches(std::chrono::milliseconds grace);
  void LogSearchesStillRunning();
  void JoinOrAbandonSearchThreads();

  const std::shared_ptr<TaskContext> task_;
  const TaskServices services_;
  StatusSink* const sink_;
  const TaskTimings& timings_;
  const bool trace_changes_;

  std::thread pump_thread_;
  std::thread thumbnail_thread_;
  std::thread watcher_thread_;
  std::thread dispatcher_thread_;
  std::thread poll_thread_;
  std::thread intake_thread_;
  ChangeWatcher* watcher_ = nullptr;
  std::atomic<bool> pump_stop_{false};
  AutoResetEvent poll_wake_;
  AutoResetEvent thumbnail_wake_;
  AutoResetEvent intake_wake_;
  RequestIntake intake_;
  bool workers_joined_ = false;

  // The search threads: a fixed pool sized to the machine, so that a flood
  // of request files queues up instead of starting a thread per file. The
  // pool's state is shared with the threads (see the top of this file).
  std::vector<std::thread> search_threads_;
  std::shared_ptr<SearchPool> pool_;
};

}  // namespace vantrel
