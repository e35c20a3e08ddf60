// TaskWorkers: the worker threads of one task cycle (status pump, thumbnail
// thread, change watcher, search dispatcher with its search workers, poll
// thread), and the change sink through which the watcher fills the queues.
//
// Started and stopped by the task thread (DatabaseTask). Every thread started
// here is joined by Join*(): nothing that a worker uses is released while it
// may still run.
#pragma once

#include <atomic>
#include <deque>
#include <chrono>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "core/task_context.h"
#include "core/task_services.h"
#include "platform/auto_reset_event.h"
#include "platform/mutex.h"
#include "scan/change_sink.h"
#include "server/status_sink.h"

namespace vantrel {

class ChangeWatcher;
struct TaskTimings;

class TaskWorkers : public ChangeSink {
 public:
  TaskWorkers(TaskContext* task, const TaskServices& services, StatusSink* sink,
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
  // Wakes the dispatcher and the poll thread so they see the stop flag, then
  // joins them, the thumbnail thread and every search worker. After `grace`
  // it logs which are still running and goes on waiting.
  void JoinWorkers(std::chrono::milliseconds grace);
  // Joins the status pump, which first hands over every queued message.
  void JoinStatusPump();

  // ChangeSink, called on the watcher thread.
  void OnImageFolderChange(int index, int slot, ChangeEntry entry) override;
  void OnSearchRequest(int index, const std::string& name, uint32_t action) override;
  void OnFolderNeedsRelisting(int index, int slot) override;

  // One pass of the search dispatcher over every request list (public for
  // tests): queues each name not served in the last 30 s for the search
  // threads.
  void DispatchPass();
  // One pass of the poll thread over every image folder (public for tests).
  void PollPass(int pass);

 private:
  // One request file waiting for a search thread.
  struct SearchJob {
    int index = 0;
    std::string name;
  };

  void StatusPumpLoop();
  void ThumbnailLoop();
  void DispatcherLoop();
  void PollLoop();
  void SearchThreadLoop();
  void SleepUnlessStopped(std::chrono::milliseconds period, AutoResetEvent* wake);

  TaskContext* const task_;
  const TaskServices services_;
  StatusSink* const sink_;
  const TaskTimings& timings_;
  const bool trace_changes_;

  std::thread pump_thread_;
  std::thread thumbnail_thread_;
  std::thread watcher_thread_;
  std::thread dispatcher_thread_;
  std::thread poll_thread_;
  ChangeWatcher* watcher_ = nullptr;
  std::atomic<bool> pump_stop_{false};
  AutoResetEvent poll_wake_;

  // The search threads: a fixed pool sized to the machine, so that a flood
  // of request files queues up instead of starting a thread per file.
  std::vector<std::thread> search_threads_;
  Mutex jobs_mu_;
  CondVar jobs_cv_;
  std::deque<SearchJob> jobs_ GUARDED_BY(jobs_mu_);
  int busy_ GUARDED_BY(jobs_mu_) = 0;       // jobs being served
  bool jobs_stop_ GUARDED_BY(jobs_mu_) = false;
};

}  // namespace vantrel
