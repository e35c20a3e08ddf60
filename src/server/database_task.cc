#include "server/database_task.h"

#include <cstdio>
#include <utility>

#include "catalogue/index_folders.h"
#include "core/config_file.h"
#include "core/file_names.h"
#include "core/list_file.h"
#include "core/text_table.h"
#include "engine/shard_layout.h"
#include "metadata/char_tables.h"
#include "platform/local_time.h"
#include "platform/process.h"
#include "platform/served_folders.h"
#include "scan/change_watcher.h"
#include "server/task_workers.h"

namespace vantrel {
namespace {

// Names of shares and volumes are looked up when a later layer supplies a namer.
int ClockHour() { return LocalTime(NowUnix()).hour; }

}  // namespace

DatabaseTask::DatabaseTask(Options options) : options_(std::move(options)) {
  TaskServices& s = options_.services;
  if (s.engine == nullptr) s.engine = &null_engine_;
  if (s.pipeline == nullptr) s.pipeline = &null_pipeline_;
  if (s.search == nullptr) s.search = &null_search_;
  if (s.thumbnails == nullptr) s.thumbnails = &null_thumbnails_;
  if (!options_.local_hour) options_.local_hour = ClockHour;
}

DatabaseTask::~DatabaseTask() {
  if (task_thread_.joinable()) {
    RequestStop();
    task_thread_.join();
  }
}

void DatabaseTask::Start() {
  shutdown_state_ = 0;
  task_thread_ = std::thread([this] { RunTask(); });
}

void DatabaseTask::RequestStop() {
  int expected = 0;
  shutdown_state_.compare_exchange_strong(expected, 1);
  MutexLock lock(&context_mu_);
  if (context_) context_->stop_asked = true;
}

bool DatabaseTask::WaitFinished(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (shutdown_state_.load() != 2) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void DatabaseTask::Join() {
  if (task_thread_.joinable()) task_thread_.join();
}

void DatabaseTask::SleepUnlessStopped(std::chrono::milliseconds period) {
  auto deadline = std::chrono::steady_clock::now() + period;
  while (context_ && !context_->stop) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return;
    std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now),
        std::chrono::milliseconds(50)));
  }
}

void DatabaseTask::DrainStatus() {
  if (!context_) return;
  while (std::optional<StatusMessage> m = context_->status_queue.Pop()) {
    options_.status_sink->OnStatus(*m);
  }
}

void DatabaseTask::RunTask() {
  SetThreadName("vt-task");
  if (!LoadTaskConfiguration()) {
    shutdown_state_ = 2;
    return;
  }
  TaskContext& task = *context_;
  Status catalogue = options_.services.engine->WriteFieldCatalogue(options_.env.start_dir);
  if (!catalogue.ok()) task.LogFromTask("Cannot write the field catalogue: " + catalogue.ToString());

  while (RunCycle()) {
    ActOnRestart();
    task.restart = false;
    task.stop = false;
  }
  // The cycle's workers are gone (their objects ended with the cycle). A
  // search left running by the stop holds its own share of the context.
  {
    MutexLock lock(&context_mu_);
    context_.reset();
  }
  index_locks_.reset();
  shutdown_state_ = 2;
}

bool DatabaseTask::LoadTaskConfiguration() {
  // The task's own copy of the configuration. A task that cannot load it ends
  // at once, but always with shutdown state 2 so the console never waits for
  // a state that would never come.
  NullVolumeNamer empty_namer;
  VolumeNamer& namer = options_.namer ? *options_.namer : empty_namer;
  ConfigLoad load = LoadConfiguration(*options_.env.fs, options_.env.config_path, namer);
  if (!load.status.ok()) {
    options_.status_sink->OnStatus(StatusMessage::Text(
        kStatusLogLine, "Database Process Task cannot load its configuration: " +
                            load.status.ToString()));
    return false;
  }
  {
    MutexLock lock(&context_mu_);
    context_ = std::make_shared<TaskContext>(options_.env);
    context_->stop_asked = shutdown_state_.load() != 0;
  }
  context_->config = std::move(load.config);
  context_->log_flags = context_->config.log_flags;
  context_->relaunch = options_.env.relaunched;
  return true;
}

bool DatabaseTask::RunCycle() {
  TaskContext& task = *context_;
  const TaskServices& services = options_.services;
  Status engine = services.engine->Start(options_.env.start_dir);
  if (!engine.ok()) task.LogFromTask("Cannot start the full-text engine: " + engine.ToString());

  TaskWorkers threads(context_, services, options_.status_sink, options_.timings,
                      options_.trace_changes);
  threads.StartStatusPumpAndThumbnails();
  task.LogFromTask(Text(TextId::IDS_PROCSTARTED));
  std::unique_ptr<ChangeWatcher> watcher = MakeChangeWatcher(&threads);
  PreparationPass(watcher.get());
  StartServing(&threads, watcher.get());

  bool restart_noted = false;
  MainLoop(&restart_noted);
  serving_ = false;
  StopCycle(&threads, &watcher);
  return restart_noted;
}

std::unique_ptr<ChangeWatcher> DatabaseTask::MakeChangeWatcher(TaskWorkers* threads) {
  ChangeWatcher::Options watcher_options;
  watcher_options.fs = options_.env.fs;
  watcher_options.notices = options_.env.notices;
  watcher_options.sink = threads;
  watcher_options.error_caption = Text(TextId::IDS_ERROR);
  watcher_options.no_watch_text = Text(TextId::IDS_NOAUTOWATCH);
  if (options_.make_notifier) watcher_options.notifier = options_.make_notifier();
  StatusOr<std::unique_ptr<ChangeWatcher>> made = ChangeWatcher::Create(std::move(watcher_options));
  if (made.ok()) return std::move(made.value());
  context_->LogFromTask("Change notification is not available: " + made.status().ToString());
  return nullptr;
}

void DatabaseTask::StartServing(TaskWorkers* threads, ChangeWatcher* watcher) {
  TaskContext& task = *context_;
  task.relaunch = false;
  task.restart = false;
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
  if (!threads->watcher_running() && watcher) threads->StartChangeWatcher(watcher);
  task.PostStatus(StatusMessage::Text(kStatusOperation, Text(TextId::IDS_IMREADY)));
  task.LogFromTask(Text(TextId::IDS_READYFORSEARCH));
  {
    MutexLock lock(&task.request_lock);
    task.active_searches = 0;
  }
  threads->StartDispatcherAndPoll();
  SetCurrentThreadLowestPriority().IgnoreError();
  serving_ = true;
}

void DatabaseTask::StopCycle(TaskWorkers* threads, std::unique_ptr<ChangeWatcher>* watcher) {
  TaskContext& task = *context_;
  // The watcher first, then every other worker (searches for a bounded
  // time), then the lists.
  threads->StopChangeWatcher();
  threads->JoinWorkers(options_.timings.worker_grace);
  {
    MutexLock lock(&task.request_lock);
    task.in_progress.clear();
  }
  ReleaseListsAndWatches();
  watcher->reset();
  threads->JoinStatusPump();
  SetCurrentThreadNormalPriority().IgnoreError();
  options_.services.engine->Stop();
  DrainStatus();
}

void DatabaseTask::PreparationPass(ChangeWatcher* watcher) {
  TaskContext& task = *context_;
  task.PostStatus(StatusMessage::Number(kStatusOperation, 1));
  if (!index_locks_) {
    index_locks_ = std::make_unique<IndexFolderLocks>(
        IndexFolderLocks::OwnerText(options_.env.start_dir));
  }
  index_locks_->LockServedIndexes(&task.config,
                                  [&task](const std::string& line) { task.LogFromTask(line); });
  PrepareIndexFolders(&task.config, task.fs(), task.notices(), [](std::string_view text) {
    std::string mac(text);
    ConvertToMacText(mac);
    return mac;
  });
  SetServedFolders(ServedFoldersOf(task.config));
  const int count = IndexCount(task.config);
  for (int i = 0; i < count; ++i) {
    if (!task.config.indexes[i].active) continue;
    // After a relaunch the optimization of this hour has been done already.
    if (task.relaunch) task.indexes[i].optimize_done = true;
    // A stop asked meanwhile leaves the index as a kill would, for the
    // next start to catch up.
    task.indexes[i].lists_cut = task.stop_asked;
    if (task.indexes[i].lists_cut) continue;
    WorkCounters& progress = task.Progress(i);
    progress.Begin(next_work_[i]);
    next_work_[i] = WorkKind::kCatchUp;
    options_.services.pipeline->StartUpIndex(task, i);
    progress.End();
  }
  if (watcher != nullptr) {
    ArmWatches(watcher);
  } else {
    for (int i = 0; i < count; ++i) {
      if (task.config.indexes[i].active) ClearSearchFolder(task.fs(), task.config.indexes[i]);
    }
  }
  LogPolledSearchFolders();
}

std::string PollIntervalText(const TaskTimings& timings) {
  const int64_t ms = timings.poll_interval.count();
  if (ms != 0 && ms % 60000 == 0) return std::to_string(ms / 60000) + " minutes";
  if (ms != 0 && ms % 1000 == 0) return std::to_string(ms / 1000) + " s";
  return std::to_string(ms) + " ms";
}

void DatabaseTask::ArmWatches(ChangeWatcher* watcher) {
  TaskContext& task = *context_;
  for (const ArmedFolder& folder : watcher->Arm(task.config)) {
    if (folder.slot >= 0) {
      ImageFolderRuntime& runtime = task.indexes[folder.index].folders[folder.slot];
      runtime.watch_armed = folder.armed;
      runtime.watch_lost = false;
      if (!folder.armed && !folder.reason.empty()) {
        task.LogFromTask("Not watched, polled every " + PollIntervalText(options_.timings) + ": " +
                         folder.path + " (" + folder.reason + ")");
      }
    } else {
      task.indexes[folder.index].search_watch_armed = folder.armed;
    }
  }
}

void DatabaseTask::LogPolledSearchFolders() {
  TaskContext& task = *context_;
  const int count = IndexCount(task.config);
  for (int i = 0; i < count; ++i) {
    const IndexDefinition& def = task.config.indexes[i];
    if (!def.active || task.indexes[i].search_watch_armed) continue;
    task.LogFromTask("Search folder not watched, polled every " +
                     std::to_string(options_.timings.request_poll.count()) +
                     " ms: " + def.search_folder);
  }
}

void DatabaseTask::MainLoop(bool* restart_noted) {
  TaskContext& task = *context_;
  const TaskTimings& t = options_.timings;
  while (!task.stop) {
    OptimizerCheck();
    task.change_arrivals.Clear();
    options_.services.pipeline->RunUpdateJob(task);
    for (int k = 0; k < t.requests_per_pass && shutdown_state_.load() == 0; ++k) {
      HandleTaskRequest();
      if (task.restart) break;
      // Changes that have arrived and settled end the pass early, so a saved
      // picture is indexed within about a second.
      if (task.change_arrivals.SleepUnlessBatch(t.request_sleep, task.stop)) break;
    }
    if (shutdown_state_.load() != 0) {
      DrainThumbnailsForStop();
      task.LogFromTask(Text(TextId::IDS_PROCSTOP));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      task.stop = true;
    } else if (task.restart) {
      LockedBrowseList queue = task.Locked(-1, &task.thumbnail_queue);
      while (queue.Count() != 0 && shutdown_state_.load() == 0) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
      }
      task.LogFromTask(Text(TextId::IDS_PROCSTOP));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      task.stop = true;
      *restart_noted = true;
    }
  }
}

size_t DatabaseTask::QueuedThumbnails() {
  MutexLock lock(&context_mu_);
  if (!context_) return 0;
  return context_->Locked(-1, &context_->thumbnail_queue).Count();
}

void DatabaseTask::DrainThumbnailsForStop() {
  // The operator's answer to the thumbnail question decides; without one
  // (a signal) the stop waits a while for the thumbnail thread, then drops
  // what is left.
  TaskContext& task = *context_;
  const ThumbnailsAtStop answer = thumbnails_at_stop_.load();
  LockedBrowseList queue = task.Locked(-1, &task.thumbnail_queue);
  const auto deadline = std::chrono::steady_clock::now() + options_.timings.thumbnail_drain;
  while (answer != ThumbnailsAtStop::kDrop && queue.Count() != 0 &&
         (answer == ThumbnailsAtStop::kWait || std::chrono::steady_clock::now() < deadline)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (const size_t left = queue.Count(); left != 0) {
    task.LogFromTask(std::to_string(left) + " queued PDF thumbnail jobs are dropped by the stop");
  }
}

void DatabaseTask::OptimizerCheck() {
  TaskContext& task = *context_;
  const int hour = options_.local_hour();
  const int count = IndexCount(task.config);
  for (int i = 0; i < count; ++i) {
    const IndexDefinition& def = task.config.indexes[i];
    if (!def.active) continue;
    IndexRuntime& runtime = task.indexes[i];
    if (!runtime.optimize_done) {
      // Documents of files that no longer exist; a signed difference.
      int64_t unused = static_cast<int64_t>(task.Locked(i, &runtime.indexed).Count()) -
                       static_cast<int64_t>(task.Locked(i, &runtime.timelist).Count());
      if (unused >= def.unused_threshold && static_cast<uint32_t>(hour) == def.optimize_hour) {
        options_.services.pipeline->Optimize(task, i);
        runtime.optimize_done = true;
        runtime.restart_state = kRestartRelaunch;
        task.restart = true;
      }
    } else if (static_cast<uint32_t>(hour) != def.optimize_hour) {
      runtime.optimize_done = false;
    }
  }
}

void DatabaseTask::HandleTaskRequest() {
  TaskContext& task = *context_;
  std::optional<TaskRequest> request = task.env().requests
                                           ? task.env().requests->Pop()
                                           : std::optional<TaskRequest>();
  if (!request) return;
  const int count = IndexCount(task.config);
  auto chosen = [&](int i) {
    return (request->index == -1 || request->index == i) && task.config.indexes[i].active &&
           task.Locked(i, &task.indexes[i].indexed).Count() != 0;
  };
  switch (request->code) {
    case kRequestRebuild:
    case kRequestRescan: {
      task.LogFromTask(Text(request->code == kRequestRebuild ? TextId::IDS_REBUILDING
                                                             : TextId::IDS_RESCANNING));
      if (request->index < -1 || request->index >= count) break;
      for (int i = 0; i < count; ++i) {
        if (!chosen(i)) continue;
        task.indexes[i].restart_state = request->code;
        task.restart = true;
      }
      break;
    }
    case kRequestOptimize:
      if (request->index < -1 || request->index >= count) break;
      for (int i = 0; i < count; ++i) {
        if (chosen(i)) options_.services.pipeline->Optimize(task, i);
      }
      break;
    case kRequestLogOptions:
      task.log_flags = request->argument;
      task.config.log_flags = request->argument;
      break;
    default:
      break;
  }
}

void DatabaseTask::ReleaseListsAndWatches() {
  TaskContext& task = *context_;
  FileSystem* fs = task.fs();
  const int count = IndexCount(task.config);
  for (int i = 0; i < count; ++i) {
    const IndexDefinition& def = task.config.indexes[i];
    IndexRuntime& runtime = task.indexes[i];
    // The uncut lists, read back at the next start to resume.
    if (def.active && !def.lists_folder.empty() && !runtime.lists_cut) {
      std::string full = def.lists_folder + "/" + names::kFullListsFolder;
      fs->CreateFolders(full).IgnoreError();
      struct Named {
        BrowseList* list;
        const char* name;
      };
      for (Named n : {Named{&runtime.timelist, names::kTimeList},
                      Named{&runtime.charlist, names::kCharList},
                      Named{&runtime.dirlist, names::kDirList}}) {
        Status saved = task.Locked(i, n.list).SaveAtomic(fs, full + "/" + n.name,
                                                          ListFileWriteOptions{});
        if (!saved.ok()) task.LogFromTask("Cannot write " + full + "/" + n.name + ": " + saved.ToString());
      }
    }
    for (BrowseList* list : {&runtime.timelist, &runtime.charlist, &runtime.dirlist,
                             &runtime.indexed}) {
      task.Locked(i, list).Release();
    }
    runtime.search_watch_armed = false;
    {
      MutexLock lock(&task.request_lock);
      runtime.request_list.Clear();
    }
    MutexLock lock(&task.change_queue_lock);
    for (ImageFolderRuntime& folder : runtime.folders) {
      folder.change_queue.Clear();
      folder.needs_relisting = false;
      folder.watch_armed = false;
      folder.watch_lost = false;
    }
  }
  for (int i = 0; i < count; ++i) {
    const IndexDefinition& def = task.config.indexes[i];
    if (!def.active || def.lists_folder.empty()) continue;
    fs->DeleteFile(def.lists_folder + "/" + names::kWinWarnList).IgnoreError();
    fs->DeleteFile(def.lists_folder + "/" + names::kMacWarnList).IgnoreError();
  }
  if (shutdown_state_.load() == 1) shutdown_state_ = 2;
}

void DatabaseTask::ActOnRestart() {
  TaskContext& task = *context_;
  FileSystem* fs = task.fs();
  const int count = IndexCount(task.config);
  for (int i = 0; i < count; ++i) {
    const IndexDefinition& def = task.config.indexes[i];
    // A restart acts once: the state is cleared so that a later restart of
    // the same task does not rebuild or rescan this index again.
    uint32_t state = task.indexes[i].restart_state.exchange(kRestartNone);
    switch (state) {
      case kRestartRebuild: {
        next_work_[i] = WorkKind::kRebuild;
        // The shard count and remote shards outlive the index they shaped.
        StatusOr<ShardSettings> shards = ReadShardSettings(fs, def.engine_folder);
        fs->EmptyFolder(def.index_folder + "/" + names::kDataFolder, /*recursive=*/true)
            .IgnoreError();
        if (shards.ok()) KeepShardSettings(fs, def.engine_folder, *shards).IgnoreError();
        break;
      }
      case kRestartRescan:
        next_work_[i] = WorkKind::kRescan;
        fs->EmptyFolder(def.lists_folder, /*recursive=*/true).IgnoreError();
        break;
      case kRestartRelaunch:
        if (options_.relaunch) options_.relaunch();
        break;
      default:
        break;
    }
  }
}

}  // namespace vantrel
