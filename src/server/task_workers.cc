#include "server/task_workers.h"

#include <algorithm>

#include <cstdio>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "scan/change_watcher.h"
#include "server/database_task.h"

namespace vantrel {

namespace {

// How many requests are served at the same time.
int SearchThreadCount() {
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return static_cast<int>(std::clamp(cores * 2, 4u, 32u));
}

}  // namespace

TaskWorkers::TaskWorkers(TaskContext* task, const TaskServices& services, StatusSink* sink,
                         const TaskTimings& timings, bool trace_changes)
    : task_(task),
      services_(services),
      sink_(sink),
      timings_(timings),
      trace_changes_(trace_changes) {}

TaskWorkers::~TaskWorkers() {
  // Normally everything is joined already; this covers early exits. The
  // owner has set the stop flag.
  if (watcher_thread_.joinable()) StopChangeWatcher();
  JoinWorkers(timings_.worker_grace);
  JoinStatusPump();
}

void TaskWorkers::StartStatusPumpAndThumbnails() {
  pump_stop_ = false;
  pump_thread_ = std::thread([this] { StatusPumpLoop(); });
  thumbnail_thread_ = std::thread([this] { ThumbnailLoop(); });
}

void TaskWorkers::StartChangeWatcher(ChangeWatcher* watcher) {
  watcher_ = watcher;
  watcher_thread_ = std::thread([watcher] {
    SetThreadName("vt-watcher");
    watcher->Run();
  });
}

void TaskWorkers::StartDispatcherAndPoll() {
  for (int i = SearchThreadCount(); i > 0; --i) {
    search_threads_.emplace_back([this] { SearchThreadLoop(); });
  }
  dispatcher_thread_ = std::thread([this] { DispatcherLoop(); });
  poll_thread_ = std::thread([this] { PollLoop(); });
}

void TaskWorkers::StopChangeWatcher() {
  if (!watcher_thread_.joinable()) return;
  watcher_->Stop();
  watcher_thread_.join();
}

void TaskWorkers::JoinWorkers(std::chrono::milliseconds grace) {
  // The stop flag is set; wake the sleepers so that they see it.
  task_->action_event.Set();
  poll_wake_.Set();
  auto deadline = std::chrono::steady_clock::now() + grace;
  bool reported = false;
  {
    MutexLock lock(&jobs_mu_);
    jobs_stop_ = true;
    jobs_cv_.SignalAll();
  }
  auto still_running = [&]() {
    MutexLock lock(&jobs_mu_);
    return busy_ > 0;
  };
  // Bounded wait first, then a message, then the rest of the wait: a search
  // may still use the lists and queues that the task is about to release.
  for (;;) {
    if (!still_running()) break;
    if (!reported && std::chrono::steady_clock::now() >= deadline) {
      task_->LogFromTask("Waiting for search workers to finish before the task stops");
      reported = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (std::thread* t : {&thumbnail_thread_, &dispatcher_thread_, &poll_thread_}) {
    if (t->joinable()) t->join();
  }
  for (std::thread& t : search_threads_) {
    if (t.joinable()) t.join();
  }
  search_threads_.clear();
}

void TaskWorkers::JoinStatusPump() {
  pump_stop_ = true;
  if (pump_thread_.joinable()) pump_thread_.join();
}

// --- status pump -----------------------------------------------------------

void TaskWorkers::StatusPumpLoop() {
  SetThreadName("vt-status");
  for (;;) {
    std::optional<StatusMessage> message = task_->status_queue.Pop();
    if (message) {
      sink_->OnStatus(*message);
      continue;
    }
    // Queue empty: end when asked to, having handed over every message.
    if (pump_stop_) return;
    std::this_thread::sleep_for(timings_.status_idle);
  }
}

// --- thumbnails ------------------------------------------------------------

void TaskWorkers::ThumbnailLoop() {
  SetThreadName("vt-thumbnails");
  SetCurrentThreadLowestPriority().IgnoreError();
  LockedBrowseList queue = task_->Locked(-1, &task_->thumbnail_queue);
  // The thread's own copy: the task thread owns the configuration.
  PdfSettings pdf = task_->config.pdf;
  while (!task_->stop) {
    std::optional<BrowseEntry> job = queue.TakeLast();
    if (!job) {
      std::this_thread::sleep_for(timings_.thumbnail_idle);
      continue;
    }
    if (!pdf.folder.empty() && task_->fs()->IsFolder(pdf.folder)) {
      services_.thumbnails->MakeThumbnails(*task_, *job);
    } else {
      // No PDF folder: the job is dropped and the sizes return to their defaults.
      pdf.thumbnail_size = 300;
      pdf.preview_size = 800;
      pdf.leading_preview = 3;
    }
  }
}

// --- change sink -----------------------------------------------------------

void TaskWorkers::OnImageFolderChange(int index, int slot, ChangeEntry entry) {
  if (index < 0 || index >= kMaxIndexes || slot < 0 || slot >= kFolderSlots) return;
  if (trace_changes_) {
    std::fprintf(stderr, "vantrel: change index %d folder %02d action %u: %s\n", index, slot,
                 entry.action, entry.key.c_str());
  }
  {
    MutexLock lock(&task_->change_queue_lock);
    task_->indexes[index].folders[slot].change_queue.Put(std::move(entry));
  }
  task_->change_arrivals.Note();
}

void TaskWorkers::OnSearchRequest(int index, const std::string& name, uint32_t action) {
  if (index < 0 || index >= kMaxIndexes) return;
  if (trace_changes_) {
    std::fprintf(stderr, "vantrel: request index %d: %s\n", index, name.c_str());
  }
  {
    MutexLock lock(&task_->request_lock);
    task_->indexes[index].request_list.Put(ChangeEntry{name, name, action});
  }
  task_->action_event.Set();
}

void TaskWorkers::OnFolderNeedsRelisting(int index, int slot) {
  if (index < 0 || index >= kMaxIndexes || slot < 0 || slot >= kFolderSlots) return;
  if (trace_changes_) {
    std::fprintf(stderr, "vantrel: index %d folder %02d needs re-listing\n", index, slot);
  }
  {
    MutexLock lock(&task_->change_queue_lock);
    task_->indexes[index].folders[slot].needs_relisting = true;
  }
  poll_wake_.Set();
}

// --- search dispatcher -----------------------------------------------------

void TaskWorkers::SearchThreadLoop() {
  SetThreadName("vt-search");
  for (;;) {
    SearchJob job;
    {
      MutexLock lock(&jobs_mu_);
      while (jobs_.empty() && !jobs_stop_) jobs_cv_.Wait(&jobs_mu_);
      if (jobs_.empty()) return;
      if (jobs_stop_) {
        // Requests not begun when the task stops stay on disk; clients
        // write them again.
        const int dropped = static_cast<int>(jobs_.size());
        jobs_.clear();
        MutexLock requests(&task_->request_lock);
        task_->active_searches -= dropped;
        return;
      }
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++busy_;
    }
    services_.search->ServeRequest(*task_, job.index, job.name);
    {
      MutexLock lock(&task_->request_lock);
      --task_->active_searches;
    }
    MutexLock lock(&jobs_mu_);
    --busy_;
    jobs_cv_.SignalAll();
  }
}

void TaskWorkers::DispatchPass() {
  MutexLock dispatch(&task_->search_dispatch_lock);
  const auto now = std::chrono::steady_clock::now();
  {
    // Names served more than 30 seconds ago may be served again.
    MutexLock lock(&task_->request_lock);
    for (auto it = task_->in_progress.begin(); it != task_->in_progress.end();) {
      if (now - it->second >= timings_.forget_after) {
        it = task_->in_progress.erase(it);
      } else {
        ++it;
      }
    }
  }
  const int count = IndexCount(task_->config);
  for (int i = 0; i < count && i < kMaxIndexes; ++i) {
    if (!task_->config.indexes[i].active) continue;
    for (;;) {
      std::string name;
      {
        MutexLock lock(&task_->request_lock);
        std::optional<ChangeEntry> entry = task_->indexes[i].request_list.TakeLast();
        if (!entry) break;
        // A name that came again within 30 seconds is dropped without a reply.
        if (!task_->in_progress.emplace(entry->key, now).second) continue;
        ++task_->active_searches;
        name = std::move(entry->key);
      }
      MutexLock lock(&jobs_mu_);
      jobs_.push_back(SearchJob{i, std::move(name)});
      jobs_cv_.Signal();
    }
  }
}

void TaskWorkers::DispatcherLoop() {
  SetThreadName("vt-dispatch");
  while (!task_->stop) {
    task_->action_event.Wait();
    if (task_->stop) break;
    DispatchPass();
  }
}

// --- poll thread -----------------------------------------------------------

void TaskWorkers::SleepUnlessStopped(std::chrono::milliseconds period, AutoResetEvent* wake) {
  auto deadline = std::chrono::steady_clock::now() + period;
  while (!task_->stop) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    auto step = std::min<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
        std::chrono::milliseconds(500));
    if (wake != nullptr) {
      if (wake->WaitFor(step)) return;
    } else {
      std::this_thread::sleep_for(step);
    }
  }
}

void TaskWorkers::PollPass(int pass) {
  const int count = IndexCount(task_->config);
  for (int i = 0; i < count && i < kMaxIndexes && !task_->stop; ++i) {
    const IndexDefinition& def = task_->config.indexes[i];
    if (!def.active) continue;
    for (int slot = 0; slot < kFolderSlots && !task_->stop; ++slot) {
      if (!def.image_folders[slot].used()) continue;
      ImageFolderRuntime& folder = task_->indexes[i].folders[slot];
      bool relist;
      {
        MutexLock lock(&task_->change_queue_lock);
        relist = folder.needs_relisting;
        folder.needs_relisting = false;
      }
      // A watched folder is listed on even passes only; a folder that cannot
      // be watched, or whose notifications were lost, on every pass.
      if (folder.watch_armed && pass % 2 != 0 && !relist) continue;
      std::vector<std::string> changed =
          services_.pipeline->ListChangedFolders(*task_, i, slot);
      for (const std::string& folder_key : changed) {
        if (task_->stop) break;
        {
          MutexLock lock(&task_->update_lock);
          services_.pipeline->PollFolder(*task_, i, slot, folder_key);
        }
        SleepUnlessStopped(timings_.poll_folder_pause, nullptr);
      }
    }
  }
}

void TaskWorkers::PollLoop() {
  SetThreadName("vt-poll");
  SetCurrentThreadLowestPriority().IgnoreError();
  int pass = 0;
  while (!task_->stop) {
    SleepUnlessStopped(timings_.poll_interval, &poll_wake_);
    if (task_->stop) break;
    PollPass(pass);
    ++pass;
  }
}

}  // namespace vantrel
