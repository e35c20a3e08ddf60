#include "core/list_lock_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/list_file.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

TEST(ListLockTableTest, OneLockPerIndexNumberAndOneForTheServer) {
  ListLockTable table;
  std::set<Mutex*> seen;
  for (int index = -1; index <= 255; ++index) {
    Mutex* m = table.ForIndex(index);
    EXPECT_EQ(m, table.ForIndex(index));
    seen.insert(m);
  }
  EXPECT_EQ(seen.size(), 257u);
  EXPECT_EQ(ListLockTable::SlotOf(-1), 0);
  EXPECT_EQ(ListLockTable::SlotOf(0), 1);
  EXPECT_EQ(&ListLocks(), &ListLocks());
}

TEST(ListLockTableDeathTest, IndexOutsideTheTableIsAFault) {
  ListLockTable table;
  EXPECT_DEATH(table.ForIndex(256), "outside");
  EXPECT_DEATH(table.ForIndex(-2), "outside");
}

TEST(LockedBrowseListTest, EachOperationHoldsTheIndexLock) {
  ListLockTable table;
  BrowseList list;
  LockedBrowseList locked(&table, 3, &list);
  Mutex* lock = table.ForIndex(3);
  // While another holder has the lock, an operation waits for it.
  lock->Lock();
  std::thread adder([&] { ASSERT_TRUE(locked.Add("01a", 1, 2, 3).ok()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(list.Count(), 0u);
  lock->Unlock();
  adder.join();
  EXPECT_EQ(locked.Count(), 1u);
  // And it does not keep the lock afterwards.
  if (lock->TryLock()) {
    lock->Unlock();
  } else {
    ADD_FAILURE() << "the list lock is still held";
  }
}

TEST(LockedBrowseListTest, ThreadsShareAListSafely) {
  ListLockTable table;
  BrowseList list;
  LockedBrowseList locked(&table, 0, &list);
  ASSERT_TRUE(locked.SetOrder(kOrderTime).ok());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&locked, t] {
      for (int i = 0; i < 2000; ++i) {
        std::string name = "0" + std::to_string(t) + "f" + std::to_string(i);
        ASSERT_TRUE(locked.Add(name, static_cast<uint32_t>(i), 0, kNoExtra).ok());
        if (i % 3 == 0) {
          ASSERT_TRUE(locked.Remove(name, static_cast<uint32_t>(i)).has_value());
        }
        locked.Lookup(name, static_cast<uint32_t>(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(locked.Count(), 4u * (2000 - 667));
}

TEST(LockedBrowseListTest, SavesAndLoadsUnderTheLock) {
  TempDir dir;
  ListLockTable table;
  BrowseList list, copy;
  LockedBrowseList locked(&table, 1, &list);
  ASSERT_TRUE(locked.Add("01a", 1, 2, kNoExtra).ok());
  ASSERT_TRUE(locked.SaveAtomic(DefaultFileSystem(), dir.Path("TIMELIST"), {}).ok());
  LockedBrowseList locked_copy(&table, 1, &copy);
  ListFileHeader header;
  ASSERT_TRUE(locked_copy.Load(DefaultFileSystem(), dir.Path("TIMELIST"), true, &header).ok());
  EXPECT_EQ(header.count, 1);
  EXPECT_EQ(*locked_copy.EntryAt(0), (BrowseEntry{"01a", 1, 2, 0, 0}));
  EXPECT_EQ(locked_copy.TakeLast()->name, "01a");
  EXPECT_EQ(locked_copy.Count(), 0u);
}

// Calls `on_write` when a file is replaced, before replacing it.
class WatchedFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  std::function<void()> on_write;
  Status WriteFileAtomic(const std::string& path, std::string_view data, int mode) override {
    if (on_write) on_write();
    return FaultFileSystem::WriteFileAtomic(path, data, mode);
  }
};

TEST(LockedBrowseListTest, ASaveWritesTheFileWithoutHoldingTheLock) {
  TempDir dir;
  WatchedFileSystem fs(DefaultFileSystem());
  ListLockTable table;
  BrowseList list;
  LockedBrowseList locked(&table, 1, &list);
  ASSERT_TRUE(locked.Add("01a", 1, 2, kNoExtra).ok());
  std::atomic<bool> looked_up{false};
  bool during_write = false;
  std::thread lookup;
  fs.on_write = [&] {
    lookup = std::thread([&] {
      locked.Lookup("01a", 1);
      looked_up = true;
    });
    for (int i = 0; i < 200 && !looked_up.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    during_write = looked_up.load();
  };
  ASSERT_TRUE(locked.SaveAtomic(&fs, dir.Path("TIMELIST"), {}).ok());
  ASSERT_TRUE(lookup.joinable());
  lookup.join();
  EXPECT_TRUE(during_write);
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(dir.Path("TIMELIST")), EncodeListFile(list, {}));
}

}  // namespace
}  // namespace vantrel
