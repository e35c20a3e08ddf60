#include "server/task_workers.h"

#include <algorithm>

#include <cstdio>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/paths.h"
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

std::atomic<int> live_search_threads{0};

RequestIntakeOptions IntakeOptions(FileSystem* fs, const TaskTimings& timings) {
  RequestIntakeOptions options;
  options.fs = fs;
  options.quiet = timings.request_quiet;
  return options;
}

}  // namespace

// What the search threads share with the task. Held by every search thread,
// so that one left running after the stop never meets freed state.
struct TaskWorkers::SearchPool {
  // One request file waiting for, or being served by, a search thread.
  struct Job {
    int index = 0;
    std::string name;
  };
  Mutex mu;
  CondVar cv;
  std::deque<Job> jobs GUARDED_BY(mu);
  std::map<int, Job> running GUARDED_BY(mu);  // by thread number
  bool stop GUARDED_BY(mu) = false;
  // The stop went on without the threads still in `running`.
  bool abandoned GUARDED_BY(mu) = false;
};

TaskWorkers::TaskWorkers(std::shared_ptr<TaskContext> task, const TaskServices& services,
                         StatusSink* sink, const TaskTimings& timings, bool trace_changes)
    : task_(std::move(task)),
      services_(services),
      sink_(sink),
      timings_(timings),
      trace_changes_(trace_changes),
      intake_(IntakeOptions(task_->fs(), timings)),
      pool_(std::make_shared<SearchPool>()) {}

int TaskWorkers::LiveSearchThreads() { return live_search_threads.load(); }

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
    live_search_threads.fetch_add(1);
    search_threads_.emplace_back(
        [pool = pool_, task = task_, search = services_.search, i]() mutable {
          SearchThreadLoop(*pool, *task, search, i);
          // What an abandoned thread held goes with its last user.
          task.reset();
          pool.reset();
          live_search_threads.fetch_sub(1);
        });
  }
  dispatcher_thread_ = std::thread([this] { DispatcherLoop(); });
  poll_thread_ = std::thread([this] { PollLoop(); });
  intake_thread_ = std::thread([this] { RequestIntakeLoop(); });
}

void TaskWorkers::StopChangeWatcher() {
  if (!watcher_thread_.joinable()) return;
  watcher_->Stop();
  watcher_thread_.join();
}

void TaskWorkers::JoinWorkers(std::chrono::milliseconds grace) {
  if (workers_joined_) return;
  workers_joined_ = true;
  // The stop flag is set; wake the sleepers so that they see it.
  task_->action_event.Set();
  poll_wake_.Set();
  thumbnail_wake_.Set();
  intake_wake_.Set();
  StopSearchPool();
  if (!WaitForSearches(grace)) LogSearchesStillRunning();
  for (std::thread* t : {&thumbnail_thread_, &dispatcher_thread_, &poll_thread_, &intake_thread_}) {
    if (t->joinable()) t->join();
  }
  JoinOrAbandonSearchThreads();
  intake_.Clear();
}

void TaskWorkers::StopSearchPool() {
  MutexLock lock(&pool_->mu);
  pool_->stop = true;
  pool_->cv.SignalAll();
}

bool TaskWorkers::WaitForSearches(std::chrono::milliseconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  MutexLock lock(&pool_->mu);
  while (!pool_->running.empty()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    pool_->cv.WaitFor(&pool_->mu,
                      std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
  }
  return true;
}

void TaskWorkers::LogSearchesStillRunning() {
  std::string names;
  {
    MutexLock lock(&pool_->mu);
    for (const auto& [number, job] : pool_->running) {
      names += (names.empty() ? "" : ", ") + std::string("index ") + std::to_string(job.index) +
               " " + job.name;
    }
  }
  task_->LogFromTask("Stopping without waiting longer for searches still running: " + names);
}

void TaskWorkers::JoinOrAbandonSearchThreads() {
  std::vector<bool> busy(search_threads_.size() + 1, false);
  {
    MutexLock lock(&pool_->mu);
    for (const auto& [number, job] : pool_->running) {
      if (number >= 0 && number < static_cast<int>(busy.size())) busy[number] = true;
    }
    pool_->abandoned = !pool_->running.empty();
  }
  // Thread k (of n) has number n - k; every thread not serving ends at once.
  const int count = static_cast<int>(search_threads_.size());
  for (int k = 0; k < count; ++k) {
    std::thread& t = search_threads_[k];
    if (!t.joinable()) continue;
    if (busy[count - k]) {
      t.detach();
    } else {
      t.join();
    }
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
  while (!task_->stop) {
    if (!services_.thumbnails->MakeNext(*task_)) {
      SleepUnlessStopped(timings_.thumbnail_idle, &thumbnail_wake_);
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

void TaskWorkers::OnSearchRequest(int index, const std::string& name, RequestNotice notice) {
  if (index < 0 || index >= kMaxIndexes || IndexAt(task_->config, index) == nullptr) return;
  const std::string path = RequestPath(index, name);
  if (notice == RequestNotice::kChanging) {
    intake_.NoteChanging(index, name, path);
    return;
  }
  if (intake_.NoteComplete(index, name, path)) QueueRequest(index, name);
}

void TaskWorkers::QueueRequest(int index, const std::string& name) {
  if (trace_changes_) {
    std::fprintf(stderr, "vantrel: request index %d: %s\n", index, name.c_str());
  }
  {
    MutexLock lock(&task_->request_lock);
    task_->indexes[index].request_list.Put(
        ChangeEntry{name, name, static_cast<uint32_t>(ChangeAction::kModified)});
  }
  task_->action_event.Set();
}

const std::string& TaskWorkers::ImageFolderPath(int index, int slot) const {
  return task_->config.indexes[static_cast<size_t>(index)]
      .image_folders[static_cast<size_t>(slot)]
      .path;
}

void TaskWorkers::OnFolderNeedsRelisting(int index, int slot, bool watch_lost) {
  if (index < 0 || index >= kMaxIndexes || slot < 0 || slot >= kFolderSlots) return;
  if (trace_changes_) {
    std::fprintf(stderr, "vantrel: index %d folder %02d needs re-listing\n", index, slot);
  }
  ImageFolderRuntime& folder = task_->indexes[index].folders[slot];
  {
    MutexLock lock(&task_->change_queue_lock);
    folder.needs_relisting = true;
  }
  // Polled on every pass from now on, as a folder that could not be watched.
  if (watch_lost && folder.watch_armed.exchange(false)) {
    folder.watch_lost = true;
    task_->LogFromTask("No longer watched (deleted, moved or unmounted), polled every " +
                       PollIntervalText(timings_) + ": " + ImageFolderPath(index, slot));
  }
  poll_wake_.Set();
}

// --- search dispatcher -----------------------------------------------------

void TaskWorkers::SearchThreadLoop(SearchPool& pool, TaskContext& task, SearchService* search,
                                   int number) {
  SetThreadName("vt-search");
  for (;;) {
    SearchPool::Job job;
    {
      MutexLock lock(&pool.mu);
      while (pool.jobs.empty() && !pool.stop) pool.cv.Wait(&pool.mu);
      if (pool.stop) {
        // Requests not begun when the task stops stay on disk; the next
        // start clears the search folder, and clients write them again.
        const int dropped = static_cast<int>(pool.jobs.size());
        pool.jobs.clear();
        if (dropped != 0) {
          MutexLock requests(&task.request_lock);
          task.active_searches -= dropped;
        }
        return;
      }
      job = std::move(pool.jobs.front());
      pool.jobs.pop_front();
      pool.running[number] = job;
    }
    search->ServeRequest(task, job.index, job.name);
    MutexLock lock(&pool.mu);
    pool.running.erase(number);
    pool.cv.SignalAll();
    // The count of an abandoned search went with its task cycle.
    if (!pool.abandoned) {
      MutexLock requests(&task.request_lock);
      --task.active_searches;
    }
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
      MutexLock lock(&pool_->mu);
      pool_->jobs.push_back(SearchPool::Job{i, std::move(name)});
      pool_->cv.Signal();
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
      // Changes made while it was away raised no event.
      if (folder.watch_lost && WatchAgainIfBack(i, slot)) relist = true;
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

bool TaskWorkers::WatchAgainIfBack(int index, int slot) {
  const std::string& path = ImageFolderPath(index, slot);
  if (watcher_ == nullptr || !task_->fs()->IsFolder(path)) return false;
  // Marked watched before the watch is made: should the new watch be lost
  // at once, the watcher finds it marked and reports it lost again.
  ImageFolderRuntime& folder = task_->indexes[index].folders[slot];
  folder.watch_lost = false;
  folder.watch_armed = true;
  if (!watcher_->RearmImageFolder(index, slot, path)) {
    folder.watch_armed = false;
    folder.watch_lost = true;
    return false;
  }
  task_->LogFromTask("Watched again: " + path);
  return true;
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

namespace vantrel {

// --- request intake ---------------------------------------------------------

std::string TaskWorkers::RequestPath(int index, const std::string& name) const {
  const IndexDefinition* def = IndexAt(task_->config, index);
  if (def == nullptr) return std::string();
  return JoinNative(def->search_folder, KeyToNative(CodePage::Default().ToUtf8(name)));
}

void TaskWorkers::ListUnwatchedSearchFolder(int index) {
  const std::string& folder = task_->config.indexes[index].search_folder;
  StatusOr<std::vector<FolderEntry>> entries = task_->fs()->ListFolder(folder);
  if (!entries.ok()) return;
  for (const FolderEntry& entry : *entries) {
    if (entry.is_folder) continue;
    std::string name = CodePage::Default().FromUtf8(entry.name);
    if (!IsRequestFileName(name)) continue;
    intake_.NoteListed(index, name, JoinNative(folder, entry.name));
  }
}

void TaskWorkers::RequestIntakePass() {
  const int count = IndexCount(task_->config);
  for (int i = 0; i < count && i < kMaxIndexes; ++i) {
    const IndexDefinition& def = task_->config.indexes[i];
    if (!def.active || def.search_folder.empty()) continue;
    if (!task_->indexes[i].search_watch_armed) ListUnwatchedSearchFolder(i);
  }
  for (const TakenRequest& taken : intake_.TakeQuietFiles()) {
    QueueRequest(taken.index, taken.name);
  }
}

void TaskWorkers::RequestIntakeLoop() {
  SetThreadName("vt-requests");
  while (!task_->stop) {
    intake_wake_.WaitFor(timings_.request_poll);
    if (task_->stop) break;
    RequestIntakePass();
  }
}

}  // namespace vantrel
