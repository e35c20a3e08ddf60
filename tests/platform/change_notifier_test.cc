#include "platform/change_notifier.h"

#include <errno.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

constexpr auto kPatience = std::chrono::seconds(5);

ChangeEvent Ev(uint32_t key, ChangeAction action, std::string name, bool is_folder = false) {
  return ChangeEvent{key, action, std::move(name), is_folder};
}

void Touch(const std::string& path, std::string_view data = "x") {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << data;
}

void MakeDir(const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0) << path; }

void Rename(const std::string& from, const std::string& to) {
  ASSERT_EQ(rename(from.c_str(), to.c_str()), 0) << from << " -> " << to;
}

// Everything a notifier reported while collecting.
struct Collected {
  std::vector<ChangeEvent> events;
  std::vector<WatchTroubleReport> troubles;
};

bool Has(const std::vector<ChangeEvent>& events, const ChangeEvent& e) {
  return std::find(events.begin(), events.end(), e) != events.end();
}

// Collects until `done` holds for what was collected, or the patience runs
// out. Never sleeps: each round blocks in the notifier for at most 100 ms.
Collected CollectUntil(ChangeNotifier* notifier,
                       const std::function<bool(const Collected&)>& done) {
  Collected all;
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done(all) && std::chrono::steady_clock::now() < deadline) {
    ChangeNotifier::Batch batch = notifier->WaitForChanges(milliseconds(100));
    for (auto& e : batch.events) all.events.push_back(std::move(e));
    for (auto& t : batch.troubles) all.troubles.push_back(t);
  }
  return all;
}

class ChangeNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto created = ChangeNotifier::Create(options_);
    ASSERT_TRUE(created.ok()) << created.status().ToString();
    notifier_ = std::move(*created);
  }

  void Watch(uint32_t key, const std::string& root) {
    auto coverage = notifier_->AddTree(key, root);
    ASSERT_TRUE(coverage.ok()) << coverage.status().ToString();
    EXPECT_TRUE(coverage->complete());
  }

  Collected CollectUntil(const std::function<bool(const Collected&)>& done) {
    return vantrel::CollectUntil(notifier_.get(), done);
  }
  // Collects until `wanted` arrives; a failure when it does not.
  Collected CollectUntilEvent(const ChangeEvent& wanted) {
    Collected c = CollectUntil([&](const Collected& c) { return Has(c.events, wanted); });
    EXPECT_TRUE(Has(c.events, wanted)) << "never reported: " << wanted.name;
    return c;
  }

  ChangeNotifier::Options options_;
  TempDir dir_;
  std::unique_ptr<ChangeNotifier> notifier_;
};

TEST_F(ChangeNotifierTest, ReportsCreateWriteDeleteAndRenameInOrder) {
  Watch(7, dir_.path());
  Touch(dir_.Path("a.jpg"));
  Rename(dir_.Path("a.jpg"), dir_.Path("b.jpg"));
  ASSERT_EQ(unlink(dir_.Path("b.jpg").c_str()), 0);

  Collected c = CollectUntilEvent(Ev(7, ChangeAction::kRemoved, "b.jpg"));
  // The exact sequence for one name: created, written and closed, renamed
  // (old then new), removed. IN_MODIFY may add more kModified entries.
  std::vector<ChangeEvent> compact;
  for (const ChangeEvent& e : c.events) {
    if (compact.empty() || !(compact.back() == e)) compact.push_back(e);
  }
  std::erase_if(compact, [](const ChangeEvent& e) {
    return e.action == ChangeAction::kModified;  // checked separately below
  });
  EXPECT_EQ(compact, (std::vector<ChangeEvent>{
                         Ev(7, ChangeAction::kAdded, "a.jpg"),
                         Ev(7, ChangeAction::kRenamedOld, "a.jpg"),
                         Ev(7, ChangeAction::kRenamedNew, "b.jpg"),
                         Ev(7, ChangeAction::kRemoved, "b.jpg"),
                     }));
  EXPECT_THAT(c.events, Contains(Ev(7, ChangeAction::kModified, "a.jpg")));
  EXPECT_TRUE(c.troubles.empty());
}

TEST_F(ChangeNotifierTest, WritesAttributesAndTheCloseAreModificationsOnlyTheCloseMarked) {
  Touch(dir_.Path("old.tif"));
  Watch(1, dir_.path());
  ASSERT_EQ(chmod(dir_.Path("old.tif").c_str(), 0600), 0);
  Collected c = CollectUntilEvent(Ev(1, ChangeAction::kModified, "old.tif"));

  // While the writer keeps the file open its writes are unmarked
  // modifications; readers that wait for a whole file rely on that.
  int fd = open(dir_.Path("old.tif").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "abc", 3), 3);
  c = CollectUntilEvent(Ev(1, ChangeAction::kModified, "old.tif"));
  ASSERT_EQ(write(fd, "def", 3), 3);
  c = CollectUntilEvent(Ev(1, ChangeAction::kModified, "old.tif"));
  for (const ChangeEvent& e : c.events) EXPECT_FALSE(e.closed) << e.name;

  // The close: one kModified with `closed` set.
  close(fd);
  ChangeEvent closed = Ev(1, ChangeAction::kModified, "old.tif");
  closed.closed = true;
  c = CollectUntilEvent(closed);
}

TEST_F(ChangeNotifierTest, NewSubFolderIsWatchedAndFilesMadeBeforeTheWatchAreReported) {
  Watch(3, dir_.path());
  // Made back to back: the notifier has not read a single record yet, so the
  // files inside exist before any watch on "sub" could.
  MakeDir(dir_.Path("sub"));
  Touch(dir_.Path("sub/first.jpg"));
  ASSERT_TRUE(dir_.MakeFolder("sub/deep/er"));
  Touch(dir_.Path("sub/deep/er/bottom.jpg"));

  Collected c = CollectUntil([](const Collected& c) {
    return Has(c.events, Ev(3, ChangeAction::kAdded, "sub/deep/er/bottom.jpg")) &&
           Has(c.events, Ev(3, ChangeAction::kAdded, "sub/first.jpg"));
  });
  EXPECT_THAT(c.events, IsSupersetOf({Ev(3, ChangeAction::kAdded, "sub", true),
                                      Ev(3, ChangeAction::kAdded, "sub/first.jpg"),
                                      Ev(3, ChangeAction::kAdded, "sub/deep", true),
                                      Ev(3, ChangeAction::kAdded, "sub/deep/er", true),
                                      Ev(3, ChangeAction::kAdded, "sub/deep/er/bottom.jpg")}));
  EXPECT_EQ(notifier_->WatchCount(), 4u);

  // The new folders are really watched now.
  Touch(dir_.Path("sub/deep/er/later.jpg"));
  c = CollectUntilEvent(Ev(3, ChangeAction::kAdded, "sub/deep/er/later.jpg"));
}

TEST_F(ChangeNotifierTest, WatchesAnExistingDeepTreeAndReportsRelativePaths) {
  std::string rel;
  for (int i = 0; i < 40; ++i) rel += (i ? "/d" : "d") + std::to_string(i);
  ASSERT_TRUE(dir_.MakeFolder(rel));
  ASSERT_TRUE(dir_.MakeFolder("side/branch"));
  auto coverage = notifier_->AddTree(9, dir_.path() + "/");  // trailing '/' ignored
  ASSERT_TRUE(coverage.ok()) << coverage.status().ToString();
  EXPECT_EQ(coverage->watched_folders, 1u + 40u + 2u);
  EXPECT_TRUE(coverage->complete());

  Touch(dir_.Path(rel + "/pic.jpg"));
  Touch(dir_.Path("side/branch/pic.jpg"));
  Collected c = CollectUntilEvent(Ev(9, ChangeAction::kAdded, "side/branch/pic.jpg"));
  EXPECT_THAT(c.events, IsSupersetOf({Ev(9, ChangeAction::kAdded, rel + "/pic.jpg"),
                                      Ev(9, ChangeAction::kAdded, "side/branch/pic.jpg")}));
}

TEST_F(ChangeNotifierTest, FolderMovedInIsWatchedAndItsContentsReported) {
  TempDir outside;
  ASSERT_TRUE(outside.WriteFile("pack/a.jpg", "a"));
  ASSERT_TRUE(outside.WriteFile("pack/inner/b.jpg", "b"));
  Watch(2, dir_.path());
  Rename(outside.Path("pack"), dir_.Path("pack"));

  Collected c = CollectUntilEvent(Ev(2, ChangeAction::kAdded, "pack/inner/b.jpg"));
  EXPECT_THAT(c.events, IsSupersetOf({Ev(2, ChangeAction::kRenamedNew, "pack", true),
                                      Ev(2, ChangeAction::kAdded, "pack/a.jpg"),
                                      Ev(2, ChangeAction::kAdded, "pack/inner", true),
                                      Ev(2, ChangeAction::kAdded, "pack/inner/b.jpg")}));
  Touch(dir_.Path("pack/inner/b.jpg"));
  c = CollectUntilEvent(Ev(2, ChangeAction::kModified, "pack/inner/b.jpg"));
}

TEST_F(ChangeNotifierTest, FolderMovedOutOrDeletedLosesItsWatches) {
  TempDir outside;
  ASSERT_TRUE(dir_.MakeFolder("gone/below"));
  ASSERT_TRUE(dir_.MakeFolder("removed"));
  Watch(4, dir_.path());
  EXPECT_EQ(notifier_->WatchCount(), 4u);

  Rename(dir_.Path("gone"), outside.Path("gone"));
  ASSERT_EQ(rmdir(dir_.Path("removed").c_str()), 0);
  // Changes in the moved folder no longer belong to the tree. The marker is
  // made last; one descriptor keeps the kernel's order, so once it is seen,
  // anything reported for the moved folder would have been seen too.
  Touch(outside.Path("gone/below/after.jpg"));
  Touch(dir_.Path("marker"));

  Collected c = CollectUntilEvent(Ev(4, ChangeAction::kAdded, "marker"));
  EXPECT_THAT(c.events, IsSupersetOf({Ev(4, ChangeAction::kRenamedOld, "gone", true),
                                      Ev(4, ChangeAction::kRemoved, "removed", true)}));
  for (const ChangeEvent& e : c.events) {
    EXPECT_FALSE(e.name.starts_with("gone/")) << e.name;
  }
  EXPECT_EQ(notifier_->WatchCount(), 1u);
  EXPECT_EQ(notifier_->Coverage(4)->watched_folders, 1u);
}

TEST_F(ChangeNotifierTest, FolderMovedInsideTheTreeReportsItsNewPath) {
  ASSERT_TRUE(dir_.MakeFolder("a/sub"));
  ASSERT_TRUE(dir_.MakeFolder("b"));
  Watch(5, dir_.path());
  Rename(dir_.Path("a/sub"), dir_.Path("b/sub"));
  Touch(dir_.Path("b/sub/x.jpg"));

  Collected c = CollectUntilEvent(Ev(5, ChangeAction::kAdded, "b/sub/x.jpg"));
  EXPECT_THAT(c.events, IsSupersetOf({Ev(5, ChangeAction::kRenamedOld, "a/sub", true),
                                      Ev(5, ChangeAction::kRenamedNew, "b/sub", true),
                                      Ev(5, ChangeAction::kAdded, "b/sub/x.jpg")}));
  for (const ChangeEvent& e : c.events) EXPECT_FALSE(e.name.starts_with("a/sub/")) << e.name;
  EXPECT_EQ(notifier_->WatchCount(), 4u);  // root, a, b, b/sub
}

TEST_F(ChangeNotifierTest, OverlappingTreesReportPerKeyGroupedByKey) {
  ASSERT_TRUE(dir_.MakeFolder("inner"));
  Watch(20, dir_.Path("inner"));
  Watch(10, dir_.path());
  EXPECT_EQ(notifier_->WatchCount(), 2u);  // "inner" is one kernel watch for both

  Touch(dir_.Path("inner/x.jpg"));
  Collected c = CollectUntil([](const Collected& c) {
    return Has(c.events, Ev(10, ChangeAction::kAdded, "inner/x.jpg")) &&
           Has(c.events, Ev(20, ChangeAction::kAdded, "x.jpg"));
  });
  EXPECT_THAT(c.events, IsSupersetOf({Ev(10, ChangeAction::kAdded, "inner/x.jpg"),
                                      Ev(20, ChangeAction::kAdded, "x.jpg")}));

  // Removing one tree keeps the shared watch for the other.
  notifier_->RemoveTree(10);
  EXPECT_EQ(notifier_->WatchCount(), 1u);
  Touch(dir_.Path("outer.jpg"));
  Touch(dir_.Path("inner/y.jpg"));
  c = CollectUntilEvent(Ev(20, ChangeAction::kAdded, "y.jpg"));
  for (const ChangeEvent& e : c.events) EXPECT_EQ(e.key, 20u) << e.name;
}

TEST_F(ChangeNotifierTest, BatchIsGroupedByKeyKeepingTheOrderWithinAKey) {
  ASSERT_TRUE(dir_.MakeFolder("one"));
  ASSERT_TRUE(dir_.MakeFolder("two"));
  Watch(2, dir_.Path("two"));
  Watch(1, dir_.Path("one"));
  for (int i = 0; i < 5; ++i) {
    Touch(dir_.Path("two/" + std::to_string(i)));
    Touch(dir_.Path("one/" + std::to_string(i)));
  }
  // Everything is queued before the first read, so one batch holds it all.
  ChangeNotifier::Batch batch = notifier_->WaitForChanges(kPatience);
  ASSERT_FALSE(batch.events.empty());
  EXPECT_TRUE(
      std::is_sorted(batch.events.begin(), batch.events.end(),
                     [](const ChangeEvent& a, const ChangeEvent& b) { return a.key < b.key; }));
  std::vector<std::string> added_in_two;
  for (const ChangeEvent& e : batch.events) {
    if (e.key == 2 && e.action == ChangeAction::kAdded) added_in_two.push_back(e.name);
  }
  EXPECT_EQ(added_in_two, (std::vector<std::string>{"0", "1", "2", "3", "4"}));
}

TEST_F(ChangeNotifierTest, RemovedTreeIsSilent) {
  ASSERT_TRUE(dir_.MakeFolder("a"));
  ASSERT_TRUE(dir_.MakeFolder("b"));
  Watch(1, dir_.Path("a"));
  Watch(2, dir_.Path("b"));
  Touch(dir_.Path("a/before"));  // queued before the removal, must not leak out after it
  notifier_->RemoveTree(1);
  notifier_->RemoveTree(99);  // unknown: ignored
  Touch(dir_.Path("a/after"));
  Touch(dir_.Path("b/marker"));
  Collected c = CollectUntilEvent(Ev(2, ChangeAction::kAdded, "marker"));
  for (const ChangeEvent& e : c.events) EXPECT_EQ(e.key, 2u) << e.name;
  EXPECT_FALSE(notifier_->Coverage(1).has_value());
  EXPECT_EQ(notifier_->WatchCount(), 1u);
}

TEST_F(ChangeNotifierTest, RootDeletedOrMovedIsReportedOnceAndTheTreeCanBeAddedAgain) {
  ASSERT_TRUE(dir_.MakeFolder("deleted/sub"));
  ASSERT_TRUE(dir_.MakeFolder("moved"));
  Watch(1, dir_.Path("deleted"));
  Watch(2, dir_.Path("moved"));
  ASSERT_EQ(rmdir(dir_.Path("deleted/sub").c_str()), 0);
  ASSERT_EQ(rmdir(dir_.Path("deleted").c_str()), 0);
  Rename(dir_.Path("moved"), dir_.Path("moved-away"));
  Touch(dir_.Path("moved-away/after.jpg"));

  Collected c = CollectUntil([](const Collected& c) { return c.troubles.size() >= 2; });
  EXPECT_THAT(c.troubles,
              ::testing::UnorderedElementsAre(WatchTroubleReport{1, WatchTrouble::kRootGone},
                                              WatchTroubleReport{2, WatchTrouble::kRootGone}));
  for (const ChangeEvent& e : c.events) EXPECT_NE(e.name, "after.jpg");
  EXPECT_FALSE(notifier_->Coverage(1).has_value());
  EXPECT_FALSE(notifier_->Coverage(2).has_value());
  EXPECT_EQ(notifier_->WatchCount(), 0u);

  // Nothing more arrives for the gone trees: a fresh tree's marker comes alone.
  ASSERT_TRUE(dir_.MakeFolder("deleted"));
  Watch(1, dir_.Path("deleted"));
  Touch(dir_.Path("moved-away/later.jpg"));
  Touch(dir_.Path("deleted/back.jpg"));
  c = CollectUntilEvent(Ev(1, ChangeAction::kAdded, "back.jpg"));
  EXPECT_TRUE(c.troubles.empty());
  for (const ChangeEvent& e : c.events) EXPECT_EQ(e.key, 1u) << e.name;
}

TEST_F(ChangeNotifierTest, NamesThatAreNotUtf8PassThroughAsBytes) {
  Watch(1, dir_.path());
  const std::string name = "caf\xE9-\xFF\xFE.jpg";  // Latin-1 bytes, not UTF-8
  Touch(dir_.path() + "/" + name);
  Collected c = CollectUntilEvent(Ev(1, ChangeAction::kAdded, name));
}

TEST_F(ChangeNotifierTest, SymbolicLinksToFoldersAreNotFollowed) {
  TempDir elsewhere;
  ASSERT_TRUE(elsewhere.MakeFolder("real/sub"));
  ASSERT_EQ(symlink(elsewhere.Path("real").c_str(), dir_.Path("link").c_str()), 0);
  Watch(1, dir_.path());
  EXPECT_EQ(notifier_->WatchCount(), 1u);
  // The root itself may be a link.
  auto linked = notifier_->AddTree(2, dir_.Path("link"));
  ASSERT_TRUE(linked.ok()) << linked.status().ToString();
  EXPECT_EQ(linked->watched_folders, 2u);  // the linked folder and its sub-folder
  Touch(elsewhere.Path("real/x.jpg"));
  Touch(elsewhere.Path("real/sub/y.jpg"));
  Collected c = CollectUntilEvent(Ev(2, ChangeAction::kAdded, "sub/y.jpg"));
  for (const ChangeEvent& e : c.events) EXPECT_NE(e.key, 1u) << e.name;
  EXPECT_THAT(c.events, IsSupersetOf({Ev(2, ChangeAction::kAdded, "x.jpg"),
                                      Ev(2, ChangeAction::kAdded, "sub/y.jpg")}));
}

TEST_F(ChangeNotifierTest, AddTreeRefusesWhatCannotBeWatched) {
  ASSERT_TRUE(dir_.WriteFile("file.jpg", "x"));
  struct Case {
    std::string root;
    StatusCode code;
  } cases[] = {
      {"relative/path", StatusCode::kInvalidArgument},
      {"", StatusCode::kInvalidArgument},
      {dir_.Path("missing"), StatusCode::kNotFound},
      {dir_.Path("file.jpg"), StatusCode::kInvalidArgument},
  };
  for (const Case& c : cases) {
    auto result = notifier_->AddTree(1, c.root);
    ASSERT_FALSE(result.ok()) << c.root;
    EXPECT_EQ(result.status().code(), c.code) << c.root << ": " << result.status().ToString();
    EXPECT_FALSE(notifier_->Coverage(1).has_value());
  }
  EXPECT_EQ(notifier_->WatchCount(), 0u);
}

TEST_F(ChangeNotifierTest, ReAddingAKeyReplacesItsTree) {
  ASSERT_TRUE(dir_.MakeFolder("first/x"));
  ASSERT_TRUE(dir_.MakeFolder("second"));
  Watch(1, dir_.Path("first"));
  Watch(1, dir_.Path("second"));
  EXPECT_EQ(notifier_->WatchCount(), 1u);
  Touch(dir_.Path("first/x/old.jpg"));
  Touch(dir_.Path("second/new.jpg"));
  Collected c = CollectUntilEvent(Ev(1, ChangeAction::kAdded, "new.jpg"));
  for (const ChangeEvent& e : c.events) EXPECT_EQ(e.name, "new.jpg");
}

TEST_F(ChangeNotifierTest, WakeEndsAWaitAndIsConsumedOnce) {
  // A wake before the wait ends it at once; two wakes end one wait.
  notifier_->Wake();
  notifier_->Wake();
  ChangeNotifier::Batch batch = notifier_->WaitForChanges(std::nullopt);
  EXPECT_TRUE(batch.woken);
  EXPECT_TRUE(batch.events.empty());
  batch = notifier_->WaitForChanges(milliseconds(0));
  EXPECT_TRUE(batch.empty());
  // Watching with nothing to report, a time-out gives an empty batch.
  Watch(1, dir_.path());
  EXPECT_TRUE(notifier_->WaitForChanges(milliseconds(20)).empty());

  // A wake from another thread ends a wait without limit.
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    ChangeNotifier::Batch b = notifier_->WaitForChanges(std::nullopt);
    EXPECT_TRUE(b.woken);
    returned = true;
  });
  notifier_->Wake();
  waiter.join();
  EXPECT_TRUE(returned);
}

TEST_F(ChangeNotifierTest, TreeAddedWhileAnotherThreadWaitsReportsToThatWait) {
  ASSERT_TRUE(dir_.MakeFolder("late"));
  std::vector<ChangeEvent> seen;
  std::thread waiter([&] {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
      ChangeNotifier::Batch b = notifier_->WaitForChanges(std::nullopt);
      for (auto& e : b.events) seen.push_back(e);
      if (b.woken || !seen.empty()) break;
    }
  });
  Watch(6, dir_.Path("late"));
  Touch(dir_.Path("late/pic.jpg"));
  waiter.join();  // the waiter ends on the first event; no Wake needed
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), Ev(6, ChangeAction::kAdded, "pic.jpg"));
}

TEST_F(ChangeNotifierTest, UnmountInsideTheTreeAsksForARelistAndWatchesWhatShowsThrough) {
  ASSERT_TRUE(dir_.MakeFolder("mnt"));
  if (mount("vantrel-test", dir_.Path("mnt").c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  }
  struct Unmount {  // should an assertion end the test early
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{dir_.Path("mnt")};
  ASSERT_TRUE(dir_.MakeFolder("mnt/inside"));
  Watch(1, dir_.path());
  EXPECT_EQ(notifier_->WatchCount(), 3u);
  ASSERT_EQ(umount(dir_.Path("mnt").c_str()), 0);

  Collected c = CollectUntil([](const Collected& c) { return !c.troubles.empty(); });
  EXPECT_THAT(c.troubles, Contains(WatchTroubleReport{1, WatchTrouble::kOverflow}));
  Touch(dir_.Path("mnt/after.jpg"));
  c = CollectUntilEvent(Ev(1, ChangeAction::kAdded, "mnt/after.jpg"));
  EXPECT_EQ(notifier_->WatchCount(), 2u);  // root and the folder underneath
}

// inotify_add_watch with injected failures.
class FailingWatchTest : public ChangeNotifierTest {
 protected:
  void SetUp() override {
    options_.add_watch = [this](int fd, const char* path, uint32_t mask) -> int {
      std::string p(path);
      for (const auto& [suffix, err] : failures_) {
        if (p.ends_with(suffix)) {
          errno = err;
          return -1;
        }
      }
      return inotify_add_watch(fd, path, mask);
    };
    ChangeNotifierTest::SetUp();
  }
  std::vector<std::pair<std::string, int>> failures_;
};

TEST_F(FailingWatchTest, WatchLimitAtTheRootFailsTheTree) {
  failures_ = {{dir_.path(), ENOSPC}};
  auto result = notifier_->AddTree(1, dir_.path());
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.status().code(), StatusCode::kResourceExhausted);
  EXPECT_FALSE(notifier_->Coverage(1).has_value());
}

TEST_F(FailingWatchTest, UnwatchableSubFoldersMakeThePartialCoverageKnown) {
  ASSERT_TRUE(dir_.MakeFolder("full/below"));
  ASSERT_TRUE(dir_.MakeFolder("locked"));
  ASSERT_TRUE(dir_.MakeFolder("fine"));
  failures_ = {{"/full", ENOSPC}, {"/locked", EACCES}};
  auto coverage = notifier_->AddTree(1, dir_.path());
  ASSERT_TRUE(coverage.ok()) << coverage.status().ToString();
  EXPECT_FALSE(coverage->complete());
  EXPECT_TRUE(coverage->watch_limit_reached);
  EXPECT_EQ(coverage->unwatched_folders, 2u);
  // Below an unwatched folder nothing is walked at arm time.
  EXPECT_EQ(coverage->watched_folders, 2u);  // root and "fine"
}

TEST_F(FailingWatchTest, WatchLimitForANewFolderIsReportedAndItsContentsStillListed) {
  Watch(1, dir_.path());
  failures_ = {{"/big", ENOSPC}};
  ASSERT_TRUE(dir_.WriteFile("big/a.jpg", "a"));
  ASSERT_TRUE(dir_.WriteFile("big/deeper/b.jpg", "b"));
  Collected c = CollectUntil([](const Collected& c) {
    return !c.troubles.empty() && Has(c.events, Ev(1, ChangeAction::kAdded, "big/deeper/b.jpg"));
  });
  EXPECT_THAT(c.troubles, Contains(WatchTroubleReport{1, WatchTrouble::kWatchLimit}));
  EXPECT_THAT(c.events, IsSupersetOf({Ev(1, ChangeAction::kAdded, "big", true),
                                      Ev(1, ChangeAction::kAdded, "big/a.jpg"),
                                      Ev(1, ChangeAction::kAdded, "big/deeper/b.jpg")}));
  auto coverage = notifier_->Coverage(1);
  ASSERT_TRUE(coverage.has_value());
  EXPECT_TRUE(coverage->watch_limit_reached);
  EXPECT_FALSE(coverage->complete());
}

// A real queue overflow needs a small fs.inotify.max_queued_events, which
// only root can set. The value is read when an inotify instance is made, so
// it is lowered for the creation of one notifier and put back at once. Test
// programs of several build trees may run at the same time: a lock file keeps
// them from reading each other's lowered value and "restoring" that.
TEST(ChangeNotifierOverflowTest, QueueOverflowIsReportedForEveryTree) {
  const char* kKnob = "/proc/sys/fs/inotify/max_queued_events";
  constexpr int kLowered = 8;
  int knob_lock = open("/tmp/vantrel-test-inotify-knob.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  ASSERT_GE(knob_lock, 0);
  ASSERT_EQ(flock(knob_lock, LOCK_EX), 0);
  struct Unlock {
    int fd;
    ~Unlock() { close(fd); }
  } unlock{knob_lock};

  int old_value = 0;
  {
    std::ifstream in(kKnob);
    if (!(in >> old_value)) GTEST_SKIP() << "cannot read " << kKnob;
  }
  // Left lowered by a run that died in between: the kernel default.
  if (old_value == kLowered) old_value = 16384;
  {
    std::ofstream out(kKnob);
    out << kLowered;
    out.flush();
    if (!out) GTEST_SKIP() << "cannot lower " << kKnob << " (needs root)";
  }
  auto created = ChangeNotifier::Create();
  {
    std::ofstream restore(kKnob);
    restore << old_value;
  }
  ASSERT_TRUE(created.ok());
  std::unique_ptr<ChangeNotifier> notifier = std::move(*created);
  TempDir dir;
  ASSERT_TRUE(dir.MakeFolder("a/old"));
  ASSERT_TRUE(dir.MakeFolder("a/deleted"));
  ASSERT_TRUE(dir.MakeFolder("b"));
  ASSERT_TRUE(notifier->AddTree(1, dir.Path("a")).ok());
  ASSERT_TRUE(notifier->AddTree(2, dir.Path("b")).ok());
  EXPECT_EQ(notifier->WatchCount(), 4u);
  for (int i = 0; i < 50; ++i) Touch(dir.Path("a/" + std::to_string(i)));
  // Folder changes whose events are lost in the overflow.
  ASSERT_TRUE(dir.MakeFolder("a/new"));
  Rename(dir.Path("a/old"), dir.Path("a/renamed"));
  ASSERT_EQ(rmdir(dir.Path("a/deleted").c_str()), 0);

  Collected c =
      CollectUntil(notifier.get(), [](const Collected& c) { return c.troubles.size() >= 2; });
  EXPECT_THAT(c.troubles,
              ::testing::UnorderedElementsAre(WatchTroubleReport{1, WatchTrouble::kOverflow},
                                              WatchTroubleReport{2, WatchTrouble::kOverflow}));

  // After the overflow the watches match the folders on disk again.
  Touch(dir.Path("a/new/x.jpg"));
  Touch(dir.Path("a/renamed/y.jpg"));
  c = CollectUntil(notifier.get(), [](const Collected& c) {
    return Has(c.events, Ev(1, ChangeAction::kAdded, "new/x.jpg")) &&
           Has(c.events, Ev(1, ChangeAction::kAdded, "renamed/y.jpg"));
  });
  EXPECT_TRUE(Has(c.events, Ev(1, ChangeAction::kAdded, "new/x.jpg")));
  EXPECT_TRUE(Has(c.events, Ev(1, ChangeAction::kAdded, "renamed/y.jpg")));
  EXPECT_FALSE(Has(c.events, Ev(1, ChangeAction::kAdded, "old/y.jpg")));
  EXPECT_EQ(notifier->WatchCount(), 4u);  // a, a/new, a/renamed, b
}

}  // namespace
}  // namespace vantrel
