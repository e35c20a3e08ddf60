#include "scan/change_watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/file_names.h"
#include "platform/mutex.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

class RecordingSink : public ChangeSink {
 public:
  struct Change {
    int index, slot;
    ChangeEntry entry;
  };
  void OnImageFolderChange(int index, int slot, ChangeEntry entry) override {
    MutexLock lock(&mu);
    changes.push_back({index, slot, std::move(entry)});
  }
  struct Request {
    int index;
    std::string name;
    RequestNotice notice;
  };
  void OnSearchRequest(int index, const std::string& name, RequestNotice notice) override {
    MutexLock lock(&mu);
    requests.push_back({index, name, notice});
  }
  bool Saw(const std::string& name, RequestNotice notice) REQUIRES(mu) {
    for (const Request& r : requests) {
      if (r.name == name && r.notice == notice) return true;
    }
    return false;
  }
  void OnFolderNeedsRelisting(int index, int slot, bool watch_lost) override {
    MutexLock lock(&mu);
    relist.push_back({index, slot, {}});
    if (watch_lost) lost.push_back({index, slot, {}});
  }
  Mutex mu;
  std::vector<Change> changes GUARDED_BY(mu);
  std::vector<Request> requests GUARDED_BY(mu);
  std::vector<Change> relist GUARDED_BY(mu);
  std::vector<Change> lost GUARDED_BY(mu);
};

class RecordingNotices : public NoticeSink {
 public:
  void ShowNotice(const std::string& caption, const std::string& text, int ms) override {
    shown.push_back(caption + "|" + text + "|" + std::to_string(ms));
  }
  std::vector<std::string> shown;
};

class ChangeWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("images/sub"));
    ASSERT_TRUE(dir_.MakeFolder("index/VT_SEARCH"));
    ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/VTSTATUS", std::string("\0\0\0\1", 4)));
    ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/stale.REQ", "old request"));
    IndexDefinition def = NewIndexDefinition("Photos", dir_.Path("index")).value();
    DeriveIndexFolders(&def);
    def.active = 1;
    def.image_folders[1].path = dir_.Path("images");
    config_.indexes.push_back(def);
  }

  std::unique_ptr<ChangeWatcher> MakeWatcher(ChangeNotifier::Options notifier_options = {}) {
    ChangeWatcher::Options options;
    options.fs = DefaultFileSystem();
    options.notices = &notices_;
    options.sink = &sink_;
    options.notifier = ChangeNotifier::Create(std::move(notifier_options)).value();
    options.is_network_mount = [this](const std::string&) { return network_mount_.load(); };
    return ChangeWatcher::Create(std::move(options)).value();
  }

  // Runs the watcher until `done` holds or 20 seconds pass.
  template <typename Done>
  bool RunUntil(ChangeWatcher& watcher, Done done) {
    std::thread runner([&] { watcher.Run(); });
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool ok = false;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        MutexLock lock(&sink_.mu);
        if (done()) {
          ok = true;
          break;
        }
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    watcher.Stop();
    runner.join();
    return ok;
  }

  TempDir dir_;
  Configuration config_;
  RecordingSink sink_;
  RecordingNotices notices_;
  std::atomic<bool> network_mount_{false};
};

TEST_F(ChangeWatcherTest, ArmWatchesFoldersEmptiesTheSearchFolderAndDropsTheStatusFile) {
  auto watcher = MakeWatcher();
  std::vector<ArmedFolder> armed = watcher->Arm(config_);
  ASSERT_EQ(armed.size(), 2u);
  EXPECT_EQ(armed[0].slot, 1);
  EXPECT_TRUE(armed[0].armed);
  EXPECT_EQ(armed[1].slot, -1);
  EXPECT_TRUE(armed[1].armed);
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.Path("index/VT_SEARCH/VTSTATUS")));
  EXPECT_FALSE(DefaultFileSystem()->Exists(dir_.Path("index/VT_SEARCH/stale.REQ")));
  EXPECT_TRUE(notices_.shown.empty());
}

TEST_F(ChangeWatcherTest, InactiveIndexesAndMissingFoldersAreNotWatchedSilently) {
  config_.indexes[0].image_folders[2].path = dir_.Path("gone");
  IndexDefinition stopped = config_.indexes[0];
  stopped.active = 0;
  config_.indexes.push_back(stopped);
  auto watcher = MakeWatcher();
  std::vector<ArmedFolder> armed = watcher->Arm(config_);
  ASSERT_EQ(armed.size(), 3u);  // slots 1 and 2 and the search folder of index 0
  EXPECT_EQ(armed[1].slot, 2);
  EXPECT_FALSE(armed[1].armed);
  EXPECT_TRUE(notices_.shown.empty());
}

TEST_F(ChangeWatcherTest, RefusedWatchGivesTheNotice) {
  ChangeNotifier::Options refusing;
  std::string images = dir_.Path("images");
  refusing.add_watch = [images](int fd, const char* path, uint32_t mask) {
    if (std::string(path) == images) {
      errno = ENOSPC;
      return -1;
    }
    return inotify_add_watch(fd, path, mask);
  };
  auto watcher = MakeWatcher(std::move(refusing));
  std::vector<ArmedFolder> armed = watcher->Arm(config_);
  EXPECT_FALSE(armed[0].armed);
  ASSERT_EQ(notices_.shown.size(), 1u);
  EXPECT_EQ(notices_.shown[0],
            "Error|Could not set automatic fast indexing on folder :\n " + images + "|10000");
  EXPECT_TRUE(armed[1].armed);  // the search folder is still watched
}

TEST_F(ChangeWatcherTest, ImageFolderChangesArriveWithKeysRelativeToTheFolder) {
  auto watcher = MakeWatcher();
  watcher->Arm(config_);
  ASSERT_TRUE(dir_.WriteFile("images/sub/Caf\xC3\xA9.jpg", "jpeg"));
  ASSERT_TRUE(dir_.WriteFile("images/top.jpg", "jpeg"));
  ASSERT_EQ(0, std::rename(dir_.Path("images/top.jpg").c_str(),
                           dir_.Path("images/renamed.jpg").c_str()));

  bool seen = RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    bool cafe = false, renamed = false;
    for (const auto& c : sink_.changes) {
      if (c.entry.key == "sub\\Caf\xE9.jpg") cafe = true;
      if (c.entry.key == "renamed.jpg" && c.entry.action == 5) renamed = true;
    }
    return cafe && renamed;
  });
  ASSERT_TRUE(seen);
  MutexLock lock(&sink_.mu);
  for (const auto& c : sink_.changes) {
    EXPECT_EQ(c.index, 0);
    EXPECT_EQ(c.slot, 1);
    if (c.entry.key == "sub\\Caf\xE9.jpg") {
      EXPECT_EQ(c.entry.native_name, "sub/Caf\xC3\xA9.jpg");
    }
  }
  bool old_name = false;
  for (const auto& c : sink_.changes) old_name |= c.entry.key == "top.jpg" && c.entry.action == 4;
  EXPECT_TRUE(old_name);
  EXPECT_TRUE(sink_.requests.empty());
}

TEST_F(ChangeWatcherTest, RequestFilesAreCompleteWhenClosedOrRenamedIntoPlace) {
  auto watcher = MakeWatcher();
  watcher->Arm(config_);
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/lower.req", "q"));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/made.tmp", "q"));
  // Written under another name and renamed into place: complete.
  ASSERT_EQ(0, std::rename(dir_.Path("index/VT_SEARCH/made.tmp").c_str(),
                           dir_.Path("index/VT_SEARCH/MOVED.REQ").c_str()));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/B2.QRY", "q"));
  // Still open for writing: only hints, however much is written.
  int fd = open(dir_.Path("index/VT_SEARCH/A1.REQ").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, std::string(540, 'q').data(), 540), 540);

  bool seen = RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("A1.REQ", RequestNotice::kChanging) &&
           sink_.Saw("B2.QRY", RequestNotice::kComplete) &&
           sink_.Saw("MOVED.REQ", RequestNotice::kComplete);
  });
  ASSERT_TRUE(seen);
  {
    MutexLock lock(&sink_.mu);
    EXPECT_FALSE(sink_.Saw("A1.REQ", RequestNotice::kComplete));
    for (const auto& r : sink_.requests) {
      EXPECT_EQ(r.index, 0);
      EXPECT_NE(r.name, "lower.req");
      EXPECT_NE(r.name, "made.tmp");
    }
  }
  close(fd);
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("A1.REQ", RequestNotice::kComplete);
  }));
}

TEST_F(ChangeWatcherTest, ADeletedSearchFolderIsMadeAgainAndWatchedAgain) {
  FileSystem* fs = DefaultFileSystem();
  const std::string search = dir_.Path("index/VT_SEARCH");
  auto watcher = MakeWatcher();
  watcher->Arm(config_);

  // Deleted by a client and left gone: made again, and watched.
  ASSERT_EQ(::rmdir(search.c_str()), 0);
  ASSERT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) { return fs->IsFolder(search); }));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/AFTER.REQ", "q"));
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("AFTER.REQ", RequestNotice::kComplete);
  }));

  // Deleted and made again by a client, who wrote a request into it before
  // the watch was back: the request is handed on all the same.
  ASSERT_TRUE(fs->EmptyFolder(search, /*recursive=*/true).ok());
  ASSERT_EQ(::rmdir(search.c_str()), 0);
  ASSERT_TRUE(dir_.MakeFolder("index/VT_SEARCH"));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/EARLY.QRY", "q"));
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("EARLY.QRY", RequestNotice::kChanging);
  }));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/LATER.REQ", "q"));
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("LATER.REQ", RequestNotice::kComplete);
  }));

  // Moved away, and a link to another folder put in its place: the link
  // goes, a folder comes, and the request behind the link is not taken.
  ASSERT_TRUE(dir_.WriteFile("elsewhere/LINKED.REQ", "q"));
  ASSERT_EQ(::rename(search.c_str(), dir_.Path("moved").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("elsewhere").c_str(), search.c_str()), 0);
  ASSERT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    struct stat st;
    return ::lstat(search.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/INSIDE.REQ", "q"));
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    return sink_.Saw("INSIDE.REQ", RequestNotice::kComplete);
  }));
  MutexLock lock(&sink_.mu);
  EXPECT_FALSE(sink_.Saw("LINKED.REQ", RequestNotice::kChanging));
  EXPECT_FALSE(sink_.Saw("LINKED.REQ", RequestNotice::kComplete));
  EXPECT_TRUE(fs->Exists(dir_.Path("elsewhere/LINKED.REQ")));
}

TEST_F(ChangeWatcherTest, AnImageFolderMovedAwayIsReportedWithItsWatchLost) {
  auto watcher = MakeWatcher();
  watcher->Arm(config_);
  ASSERT_EQ(::rename(dir_.Path("images").c_str(), dir_.Path("moved").c_str()), 0);
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) { return !sink_.lost.empty(); }));
  MutexLock lock(&sink_.mu);
  ASSERT_FALSE(sink_.lost.empty());
  EXPECT_EQ(sink_.lost[0].index, 0);
  EXPECT_EQ(sink_.lost[0].slot, 1);
}

TEST_F(ChangeWatcherTest, AnImageFolderThatIsBackIsWatchedAgainUnlessItIsANetworkMount) {
  auto watcher = MakeWatcher();
  watcher->Arm(config_);
  ASSERT_EQ(::rename(dir_.Path("images").c_str(), dir_.Path("moved").c_str()), 0);
  ASSERT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) { return !sink_.lost.empty(); }));
  ASSERT_EQ(::rename(dir_.Path("moved").c_str(), dir_.Path("images").c_str()), 0);

  network_mount_ = true;
  EXPECT_FALSE(watcher->RearmImageFolder(0, 1, dir_.Path("images")));
  network_mount_ = false;
  ASSERT_TRUE(watcher->RearmImageFolder(0, 1, dir_.Path("images")));
  ASSERT_TRUE(dir_.WriteFile("images/sub/new.jpg", "jpeg"));
  EXPECT_TRUE(RunUntil(*watcher, [&]() REQUIRES(sink_.mu) {
    for (const RecordingSink::Change& c : sink_.changes) {
      if (c.slot == 1 && c.entry.key == "sub\\new.jpg") return true;
    }
    return false;
  }));
}

TEST_F(ChangeWatcherTest, StopEndsAWatcherThatSeesNothing) {
  auto watcher = MakeWatcher();
  watcher->Arm(config_);
  std::thread runner([&] { watcher->Run(); });
  watcher->Stop();
  runner.join();  // would hang if the stop packet were lost
  SUCCEED();
}

}  // namespace
}  // namespace vantrel
