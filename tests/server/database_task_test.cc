#include "server/database_task.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/file_names.h"
#include "core/text_table.h"
#include "platform/change_notifier.h"
#include "platform/mutex.h"
#include "platform/served_folders.h"
#include "server/task_workers.h"
#include "support/eventually.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

class RecordingStatus : public StatusSink {
 public:
  void OnStatus(const StatusMessage& m) override {
    MutexLock lock(&mu_);
    if (m.code == kStatusLogLine) lines_.push_back(m.data);
  }
  bool HasLine(const std::string& line) { return Count(line) > 0; }
  void Clear() {
    MutexLock lock(&mu_);
    lines_.clear();
  }
  int CountStartingWith(const std::string& start) {
    MutexLock lock(&mu_);
    int n = 0;
    for (const auto& l : lines_) n += l.starts_with(start);
    return n;
  }
  int Count(const std::string& line) {
    MutexLock lock(&mu_);
    int n = 0;
    for (const auto& l : lines_) n += l == line;
    return n;
  }

 private:
  Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
};

class FakeEngine : public EngineService {
 public:
  Status Start(const std::string&) override {
    ++starts;
    return Status::Ok();
  }
  void Stop() override { ++stops; }
  std::atomic<int> starts{0}, stops{0};
};

// Gives every index one indexed document at start-up, so that requests act on it.
class FakePipeline : public IndexPipeline {
 public:
  void StartUpIndex(TaskContext& task, int index) override {
    task.Locked(index, &task.indexes[index].indexed).Add("01a.jpg", 1, 0, 0).IgnoreError();
    ++startups;
  }
  void Optimize(TaskContext&, int) override { ++optimized; }
  std::atomic<int> startups{0}, optimized{0};
};

// Records what it serves and the request file's size when it was taken;
// names starting with "HANG" hang until released.
class FakeSearch : public SearchService {
 public:
  void ServeRequest(TaskContext& task, int index, const std::string& name) override {
    StatusOr<FileInfo> info =
        task.fs()->Stat(task.config.indexes[index].search_folder + "/" + name);
    const int now = ++running;
    int seen = most_at_once.load();
    while (now > seen && !most_at_once.compare_exchange_weak(seen, now)) {
    }
    std::this_thread::sleep_for(delay);
    while (name.starts_with("HANG") && !released) std::this_thread::sleep_for(milliseconds(5));
    --running;
    MutexLock lock(&mu);
    served.push_back(name);
    sizes.push_back(info.ok() ? info->size : 0);
  }
  std::vector<uint64_t> SizesServed(const std::string& name) {
    MutexLock lock(&mu);
    std::vector<uint64_t> out;
    for (size_t i = 0; i < served.size(); ++i) {
      if (served[i] == name) out.push_back(sizes[i]);
    }
    return out;
  }
  std::atomic<bool> released{false};
  size_t ServedCount() {
    MutexLock lock(&mu);
    return served.size();
  }
  std::atomic<int> running{0};
  std::atomic<int> most_at_once{0};
  int Served(const std::string& name) {
    MutexLock lock(&mu);
    int n = 0;
    for (const auto& s : served) n += s == name;
    return n;
  }
  milliseconds delay{0};
  Mutex mu;
  std::vector<std::string> served GUARDED_BY(mu);
  std::vector<uint64_t> sizes GUARDED_BY(mu);
};

// Takes queued thumbnail jobs one by one once `go` is set.
class FakeThumbnails : public ThumbnailMaker {
 public:
  bool MakeNext(TaskContext& task) override {
    ++calls;
    if (!go) return false;
    if (!task.Locked(-1, &task.thumbnail_queue).TakeLast()) return false;
    std::this_thread::sleep_for(milliseconds(20));
    ++made;
    return true;
  }
  std::atomic<bool> go{false};
  std::atomic<int> made{0};
  std::atomic<int> calls{0};
};

class DatabaseTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("start"));
    ASSERT_TRUE(dir_.MakeFolder("index"));
    ASSERT_TRUE(dir_.MakeFolder("images"));
  }

  void WriteConfig(int indexes, int optimize_hour = 24) {
    Configuration config;
    for (int i = 0; i < indexes; ++i) {
      std::string folder = dir_.Path(i == 0 ? "index" : "index" + std::to_string(i));
      fs_->CreateFolders(folder).IgnoreError();
      IndexDefinition def = NewIndexDefinition("Index" + std::to_string(i), folder).value();
      def.active = 1;
      def.optimize_hour = optimize_hour;
      def.image_folders[0].path = OfflineFolderOf(folder);
      def.image_folders[1].path = dir_.Path("images");
      config.indexes.push_back(def);
    }
    ASSERT_TRUE(SaveConfiguration(*fs_, config, ConfigPath()).ok());
  }

  std::string ConfigPath() { return dir_.Path("start/") + names::kConfigurationFile; }

  std::unique_ptr<DatabaseTask> MakeTask(bool relaunched = false, int hour = 12) {
    DatabaseTask::Options o;
    o.env.config_path = ConfigPath();
    o.env.start_dir = dir_.Path("start");
    o.env.settings_path = dir_.Path("start/VANTREL.INI");
    o.env.relaunched = relaunched;
    o.env.fs = fs_;
    o.env.notices = &notices_;
    o.env.requests = &requests_;
    o.env.list_locks = &ListLocks();
    o.services.engine = &engine_;
    o.services.pipeline = &pipeline_;
    o.services.search = &search_;
    o.services.thumbnails = &thumbnails_;
    o.status_sink = &status_;
    o.timings.request_sleep = milliseconds(5);
    o.timings.request_poll = milliseconds(20);
    o.timings.status_idle = milliseconds(2);
    o.timings.thumbnail_idle = thumbnail_idle_;
    o.timings.poll_interval = milliseconds(20);
    o.timings.poll_folder_pause = milliseconds(1);
    o.timings.forget_after = milliseconds(400);
    o.timings.worker_grace = std::chrono::seconds(2);
    o.timings.thumbnail_drain = thumbnail_drain_;
    o.local_hour = [hour] { return hour; };
    o.relaunch = [this] { ++relaunches_; };
    if (watch_limit_) {
      o.make_notifier = [] {
        ChangeNotifier::Options n;
        n.add_watch = [](int, const char*, uint32_t) {
          errno = ENOSPC;
          return -1;
        };
        return ChangeNotifier::Create(std::move(n)).value();
      };
    }
    return std::make_unique<DatabaseTask>(std::move(o));
  }

  // A task started and serving.
  std::unique_ptr<DatabaseTask> StartServing(bool relaunched = false, int hour = 12) {
    auto task = MakeTask(relaunched, hour);
    task->Start();
    EXPECT_TRUE(Eventually([&] { return task->serving(); }));
    return task;
  }

  void StopAndWait(DatabaseTask& task) {
    task.RequestStop();
    ASSERT_TRUE(task.WaitFinished(milliseconds(10000)));
    task.Join();
  }

  TempDir dir_;
  FileSystem* fs_ = DefaultFileSystem();
  NullNoticeSink notices_;
  FifoQueue<TaskRequest> requests_;
  RecordingStatus status_;
  FakeEngine engine_;
  FakePipeline pipeline_;
  FakeSearch search_;
  FakeThumbnails thumbnails_;
  milliseconds thumbnail_drain_{30000};
  milliseconds thumbnail_idle_{5};
  std::atomic<int> relaunches_{0};
  bool watch_limit_ = false;
};

// Writes `pieces` into a new file through one descriptor, pausing between
// them, and closes it at the end, as a client does.
void WriteInPieces(const std::string& path, const std::vector<std::string>& pieces,
                   milliseconds pause) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i != 0) std::this_thread::sleep_for(pause);
    ASSERT_EQ(write(fd, pieces[i].data(), pieces[i].size()),
              static_cast<ssize_t>(pieces[i].size()));
  }
  close(fd);
}

TEST_F(DatabaseTaskTest, ServesThenStopsAndWritesTheFullLists) {
  WriteConfig(1);
  auto task = StartServing();
  // The status pump hands the lines over shortly after.
  EXPECT_TRUE(Eventually([&] { return status_.HasLine(Text(TextId::IDS_PROCSTARTED)); }));
  EXPECT_TRUE(Eventually([&] { return status_.HasLine(Text(TextId::IDS_READYFORSEARCH)); }));
  // Armed: the status file is gone again.
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_SEARCH/VTSTATUS")));
  EXPECT_TRUE(fs_->IsFolder(dir_.Path("index/VT_DATA/VT_INDEX")));
  // The folders that clients write into are served without links below them.
  const std::vector<std::string> served = ServedFolders();
  for (const std::string& folder :
       {dir_.Path("images"), dir_.Path("index/OffLine"), dir_.Path("index/VT_SEARCH")}) {
    EXPECT_NE(std::find(served.begin(), served.end(), folder), served.end()) << folder;
  }

  StopAndWait(*task);
  EXPECT_EQ(task->shutdown_state(), 2);
  EXPECT_TRUE(status_.HasLine(Text(TextId::IDS_PROCSTOP)));
  EXPECT_EQ(engine_.starts, 1);
  EXPECT_EQ(engine_.stops, 1);
  for (const char* list : {"TIMELIST", "CHARLIST", "DIRLIST"}) {
    EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_DATA/VT_LISTS/VT_FULLLISTS/") + list)) << list;
  }
}

// Without an answer (a signal) the stop waits at most thumbnail_drain for
// queued thumbnails; the operator's Yes waits past it until the queue is
// empty, No drops the jobs at once however long the drain could be.
TEST_F(DatabaseTaskTest, TheStopTreatsQueuedThumbnailsAsTheAnswerSays) {
  using Answer = DatabaseTask::ThumbnailsAtStop;
  WriteConfig(1);
  struct Case {
    Answer answer;
    milliseconds drain;
    bool maker_runs;  // the thumbnail maker takes jobs during the stop
    int made;
  };
  for (const Case& c : {Case{Answer::kBounded, milliseconds(60000), true, 3},
                        Case{Answer::kBounded, milliseconds(300), false, 0},
                        Case{Answer::kWait, milliseconds(300), true, 3},
                        Case{Answer::kDrop, milliseconds(600000), false, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    thumbnail_drain_ = c.drain;
    thumbnails_.go = false;
    thumbnails_.made = 0;
    status_.Clear();
    auto task = MakeTask();
    task->SetThumbnailsAtStop(c.answer);
    task->Start();
    ASSERT_TRUE(Eventually([&] { return task->serving(); }));
    TaskContext& context = *task->context_for_testing();
    for (const char* key : {"01a.pdf", "01b.pdf", "01c.pdf"}) {
      ASSERT_TRUE(context.Locked(-1, &context.thumbnail_queue).Add(key, 1, 1, 0).ok());
    }
    EXPECT_EQ(task->QueuedThumbnails(), 3u);
    task->RequestStop();
    if (c.answer == Answer::kWait) {
      // Longer than the drain: the stop still waits for the queue.
      std::this_thread::sleep_for(milliseconds(900));
      EXPECT_NE(task->shutdown_state(), 2);
    }
    thumbnails_.go = c.maker_runs;
    ASSERT_TRUE(task->WaitFinished(milliseconds(60000)));
    task->Join();
    EXPECT_EQ(task->QueuedThumbnails(), 0u);  // no task, nothing queued
    EXPECT_EQ(thumbnails_.made, c.made);
    EXPECT_EQ(status_.Count("3 queued PDF thumbnail jobs are dropped by the stop"),
              c.made == 3 ? 0 : 1);
  }
}

TEST_F(DatabaseTaskTest, TheStopWakesTheIdleThumbnailThread) {
  // An idle pause far longer than any stop may take: the stop must end it.
  thumbnail_idle_ = std::chrono::hours(1);
  WriteConfig(1);
  auto task = StartServing();
  // The thumbnail thread has found its queue empty and sleeps.
  ASSERT_TRUE(Eventually([&] { return thumbnails_.calls.load() > 0; }));
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, WithoutWatchesTheSearchFolderIsPolledAfterOnePreparation) {
  WriteConfig(1);
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/STALE.REQ", std::string(520, 's')));
  watch_limit_ = true;
  auto task = StartServing();
  // Requests left from the last run are never served, polled or not.
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_SEARCH/STALE.REQ")));

  // A request written in pieces is taken once it is whole and quiet.
  const std::string path = dir_.Path("index/VT_SEARCH/POLL.REQ");
  WriteInPieces(path, {std::string(300, 'a'), std::string(300, 'b'), std::string(256, 'c')},
                milliseconds(300));
  ASSERT_TRUE(Eventually([&] { return search_.Served("POLL.REQ") == 1; }));
  EXPECT_EQ(search_.SizesServed("POLL.REQ"), std::vector<uint64_t>{856});
  // Unchanged, it is not taken again; a file shorter than a record never is.
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/SHORT.QRY", std::string(3099, 'q')));
  std::this_thread::sleep_for(milliseconds(1500));
  EXPECT_EQ(search_.Served("POLL.REQ"), 1);
  EXPECT_EQ(search_.Served("SHORT.QRY"), 0);

  // One preparation pass, one message about the polling.
  EXPECT_EQ(pipeline_.startups, 1);
  EXPECT_EQ(engine_.starts, 1);
  EXPECT_EQ(status_.Count("Search folder not watched, polled every 20 ms: " +
                          dir_.Path("index/VT_SEARCH")),
            1);
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, UnreadableConfigurationStillEndsWithStateTwo) {
  ASSERT_TRUE(fs_->WriteFile(ConfigPath(), std::string(152196, '\x7f')).ok());
  auto task = MakeTask();
  task->Start();
  ASSERT_TRUE(task->WaitFinished(milliseconds(5000)));
  task->Join();
  EXPECT_EQ(engine_.starts, 0);
}

TEST_F(DatabaseTaskTest, RebuildRequestRestartsTheTaskWithAnEmptyDataFolder) {
  WriteConfig(1);
  auto task = StartServing();
  ASSERT_TRUE(dir_.WriteFile("index/VT_DATA/VT_INDEX/engine.file", "x"));

  requests_.Push(TaskRequest{kRequestRebuild, 5, 0});  // no such index: ignored
  requests_.Push(TaskRequest{kRequestRebuild, 0, 0});
  ASSERT_TRUE(Eventually([&] { return engine_.starts == 2 && task->serving(); }));
  EXPECT_TRUE(Eventually([&] { return status_.HasLine(Text(TextId::IDS_REBUILDING)); }));
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_DATA/VT_INDEX/engine.file")));
  EXPECT_EQ(pipeline_.startups, 2);

  // Acted on once: a later rescan of the same task does not rebuild again.
  ASSERT_TRUE(dir_.WriteFile("index/VT_DATA/VT_INDEX/engine.file", "x"));
  requests_.Push(TaskRequest{kRequestRescan, -1, 0});
  ASSERT_TRUE(Eventually([&] { return engine_.starts == 3 && task->serving(); }));
  EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_DATA/VT_INDEX/engine.file")));
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, OptimizeRequestActsOnEveryIndexWithDocuments) {
  WriteConfig(2);
  auto task = StartServing();
  requests_.Push(TaskRequest{kRequestOptimize, -1, 0});
  ASSERT_TRUE(Eventually([&] { return pipeline_.optimized == 2; }));
  requests_.Push(TaskRequest{kRequestOptimize, 1, 0});
  requests_.Push(TaskRequest{kRequestLogOptions, -1, 8});
  ASSERT_TRUE(Eventually([&] { return pipeline_.optimized == 3; }));
  ASSERT_TRUE(Eventually([&] { return task->context_for_testing()->log_flags == 8; }));
  EXPECT_EQ(engine_.starts, 1);  // optimizing on request does not restart
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, AutomaticOptimizationRelaunchesOncePerHour) {
  WriteConfig(1, /*optimize_hour=*/4);
  auto task = MakeTask(/*relaunched=*/false, /*hour=*/4);
  task->Start();
  ASSERT_TRUE(Eventually([&] { return relaunches_ == 1; }));
  EXPECT_EQ(pipeline_.optimized, 1);
  // The relaunch hook returned (as a failed relaunch would): the task goes on.
  ASSERT_TRUE(Eventually([&] { return task->serving(); }));
  StopAndWait(*task);
  EXPECT_EQ(pipeline_.optimized, 1);

  // The relaunched server does not optimize again in the same hour.
  auto again = StartServing(/*relaunched=*/true, /*hour=*/4);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(pipeline_.optimized, 1);
  StopAndWait(*again);

  // Optimize hour 24 means never, whatever the hour.
  WriteConfig(1, /*optimize_hour=*/24);
  auto never = StartServing(false, /*hour=*/0);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(pipeline_.optimized, 1);
  StopAndWait(*never);
}

TEST_F(DatabaseTaskTest, RequestFileIsServedOnceWithinTheForgetPeriod) {
  WriteConfig(1);
  auto task = StartServing();

  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/Q1.REQ", "request"));
  ASSERT_TRUE(Eventually([&] { return search_.Served("Q1.REQ") == 1; }));
  // Written again at once: dropped.
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/Q1.REQ", "request"));
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_EQ(search_.Served("Q1.REQ"), 1);
  // After the forget period the same name is served again.
  std::this_thread::sleep_for(milliseconds(400));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/Q1.REQ", "request"));
  ASSERT_TRUE(Eventually([&] { return search_.Served("Q1.REQ") == 2; }));
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, StopWaitsForARunningSearch) {
  WriteConfig(1);
  search_.delay = milliseconds(300);
  auto task = StartServing();
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/SLOW.REQ", "request"));
  ASSERT_TRUE(Eventually([&] {
    TaskContext* ctx = task->context_for_testing();
    MutexLock lock(&ctx->request_lock);
    return ctx->active_searches == 1;
  }));
  StopAndWait(*task);
  EXPECT_EQ(search_.Served("SLOW.REQ"), 1);
}

TEST_F(DatabaseTaskTest, StopGivesUpOnHungSearchesAfterTheGraceAndLogsThem) {
  WriteConfig(1);
  auto task = StartServing();
  // More hung requests than there are search threads: some never begin.
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/HANG" + std::to_string(i) + ".REQ", "r"));
  }
  ASSERT_TRUE(Eventually([&] {
    TaskContext* ctx = task->context_for_testing();
    MutexLock lock(&ctx->request_lock);
    return ctx->active_searches == 40 && search_.running.load() >= 4;
  }));
  const int hung = search_.running.load();

  const auto start = std::chrono::steady_clock::now();
  StopAndWait(*task);  // worker_grace is 2 s here
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
  EXPECT_TRUE(status_.HasLine(Text(TextId::IDS_PROCSTOP)));
  EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_DATA/VT_LISTS/VT_FULLLISTS/TIMELIST")));
  EXPECT_EQ(status_.CountStartingWith(
                "Stopping without waiting longer for searches still running: index 0 HANG"),
            1);
  EXPECT_EQ(search_.running.load(), hung);

  // The queued requests stayed; the next start deletes them as stale.
  EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_SEARCH/HANG39.REQ")));
  auto next = StartServing();
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_SEARCH/HANG39.REQ")));
  StopAndWait(*next);

  // The abandoned searches end on their own once they return.
  search_.released = true;
  EXPECT_TRUE(Eventually([] { return TaskWorkers::LiveSearchThreads() == 0; }));
  EXPECT_EQ(search_.ServedCount(), static_cast<size_t>(hung));
}

TEST_F(DatabaseTaskTest, RequestsWrittenInPiecesAreServedOnceWhole) {
  WriteConfig(1);
  auto task = StartServing();
  struct Case {
    const char* name;
    std::vector<size_t> pieces;
    int pause_ms;
  };
  const std::vector<Case> cases = {
      {"SHORT.REQ", {300, 220}, 500},  {"LONG.REQ", {540, 316}, 50},
      {"CUT.REQ", {520, 336}, 300},    {"THREE.REQ", {200, 400, 256}, 200},
      {"QUERY.QRY", {1000, 1000, 1100}, 500},
  };
  for (const Case& c : cases) {
    std::vector<std::string> pieces;
    size_t total = 0;
    for (size_t n : c.pieces) {
      pieces.push_back(std::string(n, 'x'));
      total += n;
    }
    WriteInPieces(dir_.Path("index/VT_SEARCH/") + c.name, pieces, milliseconds(c.pause_ms));
    ASSERT_TRUE(Eventually([&] { return search_.Served(c.name) == 1; })) << c.name;
    EXPECT_EQ(search_.SizesServed(c.name), std::vector<uint64_t>{total}) << c.name;
  }
  // The notices of the pieces bring no second serving.
  std::this_thread::sleep_for(milliseconds(1500));
  for (const Case& c : cases) EXPECT_EQ(search_.Served(c.name), 1) << c.name;
  StopAndWait(*task);
}

TEST_F(DatabaseTaskTest, ChangesInAnImageFolderFillItsChangeQueue) {
  WriteConfig(1);
  auto task = StartServing();
  ASSERT_TRUE(dir_.WriteFile("images/2024/pic.jpg", "jpeg"));
  EXPECT_TRUE(Eventually([&] {
    TaskContext* ctx = task->context_for_testing();
    MutexLock lock(&ctx->change_queue_lock);
    return ctx->indexes[0].folders[1].change_queue.Find("2024\\pic.jpg") != nullptr;
  }));
  StopAndWait(*task);
}

// A watched image folder that is moved away loses its watch with it: the
// folder is polled on every pass, as one that could not be watched, until it
// is back; then it is watched again. The log says each once.
TEST_F(DatabaseTaskTest, AnImageFolderMovedAwayIsPolledUntilItIsBackAndWatchedAgain) {
  WriteConfig(1);
  auto task = StartServing();
  TaskContext* ctx = task->context_for_testing();
  ImageFolderRuntime& folder = ctx->indexes[0].folders[1];
  ASSERT_TRUE(folder.watch_armed);
  ASSERT_EQ(::rename(dir_.Path("images").c_str(), dir_.Path("moved").c_str()), 0);
  EXPECT_TRUE(Eventually([&] { return !folder.watch_armed; }));
  const std::string lost =
      "No longer watched (deleted, moved or unmounted), polled every 20 ms: " + dir_.Path("images");
  EXPECT_TRUE(Eventually([&] { return status_.HasLine(lost); }));

  ASSERT_EQ(::rename(dir_.Path("moved").c_str(), dir_.Path("images").c_str()), 0);
  const std::string back = "Watched again: " + dir_.Path("images");
  EXPECT_TRUE(Eventually([&] { return status_.HasLine(back); }));
  EXPECT_TRUE(folder.watch_armed);
  // The new watch delivers what changes in the folder.
  ASSERT_TRUE(dir_.WriteFile("images/2024/pic.jpg", "jpeg"));
  EXPECT_TRUE(Eventually([&] {
    MutexLock lock(&ctx->change_queue_lock);
    return folder.change_queue.Find("2024\\pic.jpg") != nullptr;
  }));
  StopAndWait(*task);
  EXPECT_EQ(status_.Count(lost), 1);
  EXPECT_EQ(status_.Count(back), 1);
}

TEST_F(DatabaseTaskTest, AFloodOfRequestsIsServedByABoundedPoolSideBySide) {
  WriteConfig(1);
  search_.delay = milliseconds(2);
  auto task = StartServing();
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/F" + std::to_string(i) + ".REQ", "request"));
  }
  EXPECT_TRUE(Eventually([&] { return search_.ServedCount() == 2000; }, milliseconds(60000)))
      << search_.ServedCount();
  EXPECT_GT(search_.most_at_once.load(), 1) << "requests run side by side";
  EXPECT_LE(search_.most_at_once.load(), 32) << "never more threads than the pool";
  StopAndWait(*task);
}

}  // namespace
}  // namespace vantrel
