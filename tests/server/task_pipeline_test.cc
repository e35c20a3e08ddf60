// The database process task with the real engine and index pipeline: the
// operator's rebuild, rescan and optimize requests act end to end, and
// changes in a watched folder reach the engine without a poll pass, and
// the console sees how far a rebuild has come.
#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/config_file.h"
#include "core/file_names.h"
#include "core/task_request.h"
#include "core/text_table.h"
#include "engine/index_files.h"
#include "engine/shard_layout.h"
#include "server/database_task.h"
#include "server/progress_board.h"
#include "server/server_services.h"
#include "support/eventually.h"
#include "support/fault_file_system.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

class Recorder : public StatusSink {
 public:
  void OnStatus(const StatusMessage& m) override {
    MutexLock lock(&mu_);
    if (m.code == kStatusLogLine) lines_.push_back(m.data);
    if (m.code == kStatusFileIndexed) files_.push_back(m.data);
  }
  int CountLine(const std::string& text) {
    MutexLock lock(&mu_);
    int n = 0;
    for (const auto& l : lines_) n += l.find(text) != std::string::npos;
    return n;
  }
  std::string Lines() {
    MutexLock lock(&mu_);
    std::string all;
    for (const auto& l : lines_) all += l + "\n";
    return all;
  }
  size_t FileMessages() {
    MutexLock lock(&mu_);
    return files_.size();
  }

 private:
  Mutex mu_;
  std::vector<std::string> lines_ GUARDED_BY(mu_);
  std::vector<std::string> files_ GUARDED_BY(mu_);
};

// Holds the listing of a folder with a chosen name while it is closed, on
// every thread but the file counting walk's: the catch-up stops there, with
// its files counted.
class GateFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  void Close(std::string name) {
    std::lock_guard<std::mutex> lock(mu_);
    closed_ = "/" + name;
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      closed_.clear();
    }
    opened_.notify_all();
  }
  StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) override {
    char thread[16] = {};
    pthread_getname_np(pthread_self(), thread, sizeof thread);
    if (std::string(thread) != "vt-count") {
      std::unique_lock<std::mutex> lock(mu_);
      opened_.wait(lock, [&] {
        return closed_.empty() || path.size() < closed_.size() ||
               path.compare(path.size() - closed_.size(), closed_.size(), closed_) != 0;
      });
    }
    return FaultFileSystem::ListFolder(path);
  }

 private:
  std::mutex mu_;
  std::condition_variable opened_;
  std::string closed_;
};

class TaskPipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("start"));
    ASSERT_TRUE(dir_.MakeFolder("index"));
    ASSERT_TRUE(dir_.MakeFolder("images/Sport"));
    ASSERT_TRUE(dir_.WriteFile("images/a.jpg", MakeJpegWithIptc({{2, 120, "harbour"}})));
    ASSERT_TRUE(dir_.WriteFile("images/Sport/b.jpg", MakeJpegWithIptc({{2, 120, "stadium"}})));
    Configuration config;
    IndexDefinition def = NewIndexDefinition("Photos", dir_.Path("index")).value();
    def.active = 1;
    def.optimize_hour = 24;
    def.image_folders[0].path = OfflineFolderOf(dir_.Path("index"));
    def.image_folders[1].path = dir_.Path("images");
    config.indexes.push_back(def);
    ASSERT_TRUE(SaveConfiguration(*fs_, config, dir_.Path("start/") + names::kConfigurationFile)
                    .ok());
    engine_folder_ = EngineFolderOf(dir_.Path("index"));

    DatabaseTask::Options o;
    o.env.config_path = dir_.Path("start/") + names::kConfigurationFile;
    o.env.start_dir = dir_.Path("start");
    o.env.settings_path = dir_.Path("start/VANTREL.INI");
    o.env.fs = fs_;
    o.env.requests = &requests_;
    o.env.progress = progress_.counters();
    o.env.list_locks = &ListLocks();
    o.services = services_.services();
    o.status_sink = &status_;
    o.timings.request_sleep = milliseconds(20);
    o.timings.status_idle = milliseconds(5);
    o.timings.poll_interval = milliseconds(600000);
    o.local_hour = [] { return 12; };
    task_ = std::make_unique<DatabaseTask>(std::move(o));
    task_->Start();
    ASSERT_TRUE(Eventually([&] { return task_->serving(); }));
  }

  void TearDown() override {
    gate_.Open();
    task_->RequestStop();
    EXPECT_TRUE(task_->WaitFinished(milliseconds(20000)));
    task_->Join();
  }

  size_t Found(const std::string& query) {
    Engine* engine = services_.engine().engine();
    if (engine == nullptr) return 0;
    size_t n = 0;
    SearchJob job;
    job.query = query;
    job.index_folder = engine_folder_;
    job.message_callback = [&](const EngineMessage& m) { n += m.code == kMessageFoundDocument; };
    (void)engine->RunSearchJob(job);
    return n;
  }

  int Ready() { return status_.CountLine(Text(TextId::IDS_READYFORSEARCH)); }

  // Asks for a rebuild and waits until both files are counted and the
  // builder waits at the listing of Sport.
  bool RebuildHeldAtSport() {
    gate_.Close("Sport");
    requests_.Push(TaskRequest{kRequestRebuild, 0, 0});
    return Eventually([&] {
      std::vector<ProgressView> running = progress_.Running();
      return running.size() == 1 && running[0].total == 2;
    });
  }

  TempDir dir_;
  GateFileSystem gate_{DefaultFileSystem()};
  FileSystem* fs_ = &gate_;
  FifoQueue<TaskRequest> requests_;
  Recorder status_;
  ProgressBoard progress_;
  ServerServices services_{ServerServicesOptions{&gate_, {}, "."}};
  std::unique_ptr<DatabaseTask> task_;
  std::string engine_folder_;
};

TEST_F(TaskPipelineTest, RebuildIndexesEverythingAgainFromAnEmptyDataFolder) {
  ASSERT_EQ(Found("harbour"), 1u);
  const size_t built_before = status_.FileMessages();
  ASSERT_EQ(built_before, 2u);
  // The shard count set for the next build survives the emptied data folder.
  StatusOr<ShardSettings> shards = ReadShardSettings(fs_, engine_folder_);
  ASSERT_TRUE(shards.ok());
  shards->next_count = 3;
  ASSERT_TRUE(WriteShardSettings(fs_, engine_folder_, *shards).ok());
  requests_.Push(TaskRequest{kRequestRebuild, 0, 0});
  ASSERT_TRUE(Eventually([&] { return Ready() >= 2 && task_->serving(); }));
  EXPECT_EQ(status_.FileMessages(), built_before + 2) << "every file was built again";
  EXPECT_EQ(Found("harbour"), 1u);
  EXPECT_EQ(Found("stadium"), 1u);
  EXPECT_TRUE(HoldsIndex(fs_, dir_.Path("index/VT_DATA/VT_BACKUP/MASTER")));
  shards = ReadShardSettings(fs_, engine_folder_);
  ASSERT_TRUE(shards.ok());
  EXPECT_EQ(shards->layout, 3u);
}

TEST_F(TaskPipelineTest, ARebuildShowsItsFilesCountedAndDone) {
  EXPECT_TRUE(progress_.Running().empty()) << "the start-up catch-up has ended";
  EXPECT_EQ(progress_.counters()[0].done.load(), 2u);
  ASSERT_TRUE(RebuildHeldAtSport()) << "the counting walk finds both files while the builder waits";
  ProgressView held = progress_.Running()[0];
  EXPECT_EQ(held.index, 0);
  EXPECT_EQ(held.kind, WorkKind::kRebuild);
  EXPECT_LE(held.done, 1u) << "b.jpg waits behind the held listing";
  gate_.Open();
  ASSERT_TRUE(Eventually([&] { return progress_.Running().empty(); }));
  EXPECT_EQ(progress_.counters()[0].done.load(), 2u);
  ASSERT_TRUE(Eventually([&] { return Ready() >= 2 && task_->serving(); }));
}

// A stop (or the console's edit mode) during a long catch-up ends it at the
// next file instead of waiting for its end. What it indexed is kept; its
// incomplete lists are not saved, so the next start goes on with the rest.
TEST_F(TaskPipelineTest, AStopCutsTheCatchUpShortAndTheNextStartGoesOn) {
  const size_t built_before = status_.FileMessages();
  const std::string saved_dirlist = dir_.Path("index/VT_DATA/VT_LISTS/VT_FULLLISTS/DIRLIST");
  ASSERT_TRUE(RebuildHeldAtSport()) << "the catch-up waits at the listing of Sport";
  task_->RequestStop();
  gate_.Open();
  ASSERT_TRUE(task_->WaitFinished(milliseconds(20000)));
  task_->Join();
  EXPECT_LT(status_.FileMessages(), built_before + 2) << "the catch-up ran to its end";
  EXPECT_EQ(status_.CountLine("The stop cut short the catch-up of " + dir_.Path("index")), 1)
      << status_.Lines();
  EXPECT_FALSE(fs_->Exists(saved_dirlist)) << "the rebuild's incomplete lists are not saved";

  task_->Start();
  ASSERT_TRUE(Eventually([&] { return Ready() >= 3 && task_->serving(); }));
  EXPECT_EQ(Found("harbour"), 1u);
  EXPECT_EQ(Found("stadium"), 1u);
  EXPECT_EQ(status_.FileMessages(), built_before + 2) << "no file is built twice";
  EXPECT_TRUE(fs_->Exists(saved_dirlist));
}

TEST_F(TaskPipelineTest, RescanListsEveryFolderWithoutIndexingAgain) {
  const size_t built_before = status_.FileMessages();
  requests_.Push(TaskRequest{kRequestRescan, 0, 0});
  ASSERT_TRUE(Eventually([&] { return Ready() >= 2 && task_->serving(); }));
  EXPECT_EQ(status_.FileMessages(), built_before) << "the engine held every file already";
  EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_DATA/VT_LISTS/VT_FULLLISTS/DIRLIST")));
  EXPECT_EQ(Found("stadium"), 1u);
}

TEST_F(TaskPipelineTest, WatchedChangesReachTheEngineAndOptimizePurgesDeletedFiles) {
  ASSERT_TRUE(dir_.WriteFile("images/Sport/c.jpg", MakeJpegWithIptc({{2, 120, "referee"}})));
  ASSERT_TRUE(Eventually([&] { return Found("referee") == 1; }));
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/a.jpg")).ok());
  // The deletion reaches the lists: status message 2 names the file.
  ASSERT_TRUE(Eventually([&] { return status_.FileMessages() >= 4; }));
  EXPECT_EQ(Found("harbour"), 1u) << "kept until an optimization";
  requests_.Push(TaskRequest{kRequestOptimize, 0, 0});
  ASSERT_TRUE(Eventually([&] { return status_.CountLine("Optimize Completed") == 1; }))
      << status_.Lines();
  EXPECT_EQ(Found("harbour"), 0u);
  EXPECT_EQ(Found("referee"), 1u);
  EXPECT_EQ(Found("stadium"), 1u);
}

}  // namespace
}  // namespace vantrel
