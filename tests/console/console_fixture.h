// A running server's console objects for the API tests: the console's copy
// of the configuration over a file in a temporary start directory, the event
// log and console state, and a real database process task (without engine,
// pipeline or search) that edit mode stops and starts.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "console/console_api.h"
#include "core/config_file.h"
#include "core/event_log.h"
#include "core/file_names.h"
#include "core/list_lock_table.h"
#include "core/notices.h"
#include "platform/process.h"
#include "server/console_config.h"
#include "server/console_state.h"
#include "server/database_task.h"
#include "server/task_control.h"
#include "support/temp_dir.h"

namespace vantrel {

class ConsoleFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("start"));
    ASSERT_TRUE(dir_.MakeFolder("index"));
    ASSERT_TRUE(dir_.MakeFolder("images"));
    Configuration config;
    IndexDefinition def = NewIndexDefinition("Demo", dir_.Path("index")).value();
    NullVolumeNamer namer;
    ASSERT_TRUE(AddIndex(&config, def, namer).ok());
    ASSERT_TRUE(AddImageFolder(&config, 0, dir_.Path("images"), "", "", true).ok());
    ASSERT_TRUE(SaveConfiguration(*fs_, config, ConfigPath()).ok());

    EventLog::Options log_options;
    log_options.fs = fs_;
    log_options.default_folder = dir_.Path("start");
    log_ = std::make_unique<EventLog>(std::move(log_options));
    state_ = std::make_unique<ConsoleState>(log_.get(), /*echo=*/false);
    ConfigLoad load = LoadConfiguration(*fs_, ConfigPath(), namer);
    ASSERT_TRUE(load.status.ok());
    console_ = std::make_unique<ConsoleConfig>(fs_, ConfigPath(), log_.get(), load.stamp);
    console_->config() = load.config;

    DatabaseTask::Options o;
    o.env.config_path = ConfigPath();
    o.env.start_dir = dir_.Path("start");
    o.env.settings_path = dir_.Path("start/VANTREL.INI");
    o.env.fs = fs_;
    o.env.notices = &notices_;
    o.env.requests = &task_requests_;
    o.env.list_locks = &ListLocks();
    o.status_sink = state_.get();
    o.timings.request_sleep = std::chrono::milliseconds(5);
    o.timings.status_idle = std::chrono::milliseconds(2);
    o.local_hour = [] { return 12; };
    task_ = std::make_unique<DatabaseTask>(std::move(o));
    control_ = std::make_unique<TaskControl>(task_.get());
    task_->Start();

    signals_ = StopSignals::Install().value();
    ctx_.host.start_dir = dir_.Path("start");
    ctx_.host.fs = fs_;
    ctx_.host.config = console_.get();
    ctx_.host.state = state_.get();
    ctx_.host.log = log_.get();
    ctx_.host.task = control_.get();
    ctx_.host.requests = &requests_;
    ctx_.host.signals = signals_.get();
    ctx_.steady_seconds = [this] { return steady_; };
    ctx_.unix_seconds = [] { return int64_t{1700000000}; };
    a_ = ApiCaller{ctx_.sessions.Create("127.0.0.1", 0)};
    b_ = ApiCaller{ctx_.sessions.Create("127.0.0.2", 0)};
  }

  void TearDown() override {
    control_->BeginServerStop();
    task_->RequestStop();
    task_->WaitFinished(std::chrono::milliseconds(30000));
    task_->Join();
  }

  std::string ConfigPath() { return dir_.Path("start/") + names::kConfigurationFile; }

  // The configuration as saved on disk.
  Configuration Saved() {
    NullVolumeNamer namer;
    return LoadConfiguration(*fs_, ConfigPath(), namer).config;
  }

  void EditOn(const ApiCaller& who, const std::string& password = "") {
    Json body{{"on", true}};
    if (!password.empty()) body["password"] = password;
    ApiReply r = SetEditMode(ctx_, who, body);
    ASSERT_EQ(r.status, 200) << r.body.dump();
  }

  // The search folder of the fixture's index, made when missing.
  std::string MadeSearchFolder() {
    const std::string folder = SearchFolderOf(dir_.Path("index"));
    EXPECT_TRUE(fs_->CreateFolders(folder).ok());
    return folder;
  }

  // How many request files stand in `search_folder`.
  size_t RequestsWaitingIn(const std::string& search_folder) {
    size_t n = 0;
    StatusOr<std::vector<FolderEntry>> entries = fs_->ListFolder(search_folder);
    if (!entries.ok()) return n;
    for (const FolderEntry& e : *entries) {
      n += e.name.size() > 4 && e.name.compare(e.name.size() - 4, 4, ".QRY") == 0;
    }
    return n;
  }

  TempDir dir_;
  FileSystem* fs_ = DefaultFileSystem();
  NullNoticeSink notices_;
  FifoQueue<TaskRequest> task_requests_;  // the task's own queue (not used)
  FifoQueue<TaskRequest> requests_;       // what the console posts
  std::unique_ptr<EventLog> log_;
  std::unique_ptr<ConsoleState> state_;
  std::unique_ptr<ConsoleConfig> console_;
  std::unique_ptr<DatabaseTask> task_;
  std::unique_ptr<TaskControl> control_;
  std::unique_ptr<StopSignals> signals_;
  int64_t steady_ = 100;
  ApiContext ctx_;
  ApiCaller a_, b_;
};

}  // namespace vantrel
