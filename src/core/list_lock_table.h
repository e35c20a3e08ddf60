// The list lock table and the locked view of a browse list.
//
// Every browse list belongs to an index (or, with index number -1, to the
// server as a whole, like the thumbnail queue). The table holds one lock per
// index number: slot 0 for -1, slot i + 1 for index i, 257 in all. Every
// single list operation takes its index's lock for its own duration and
// nothing longer; no caller holds a list lock across two operations.
//
// LockedBrowseList is that rule written as a class: each method takes the
// lock, runs the operation of BrowseList and releases it. Code that already
// serializes a list with another lock (the change watcher and the search
// dispatcher under the task context's locks) uses BrowseList directly.
//
// Thread safety: the table and a LockedBrowseList may be used from any
// thread. The lock is a leaf: the list operations take no other lock, so it
// may be taken while holding any other lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/browse_list.h"
#include "platform/mutex.h"
#include "platform/status.h"

namespace vantrel {

class FileSystem;
struct ListFileHeader;
struct ListFileWriteOptions;

class ListLockTable {
 public:
  static constexpr int kSlots = 257;
  // Index numbers the table serves: -1 to kSlots - 2.
  static constexpr int kFirstIndex = -1;
  static constexpr int kLastIndex = kSlots - 2;

  ListLockTable() = default;
  ListLockTable(const ListLockTable&) = delete;
  ListLockTable& operator=(const ListLockTable&) = delete;

  // The lock of index `index` (-1 for the server-wide lists). Precondition:
  // kFirstIndex <= index <= kLastIndex; the process ends with a message on a
  // violation (a fault in the caller).
  Mutex* ForIndex(int index);

  static constexpr int SlotOf(int index) { return index + 1; }

 private:
  std::array<Mutex, kSlots> locks_;
};

// The process's table, created on first use.
ListLockTable& ListLocks();

// A browse list seen through its index's lock. Cheap to copy; it refers to
// the lock and the list, which must outlive it.
class LockedBrowseList {
 public:
  LockedBrowseList(Mutex* lock, BrowseList* list) : lock_(lock), list_(list) {}
  // Binds `list` to index `index` of `table`.
  LockedBrowseList(ListLockTable* table, int index, BrowseList* list)
      : lock_(table->ForIndex(index)), list_(list) {}

  Status Add(std::string_view name, uint32_t time, uint32_t value, uint32_t extra,
             uint32_t sort_key = 0);
  std::optional<uint32_t> Remove(std::string_view name, uint32_t time);
  size_t RemoveBelow(std::string_view folder_key);
  std::optional<BrowseLookup> Lookup(std::string_view name, uint32_t time);
  std::optional<size_t> FindByName(std::string_view name, bool prefix);
  Status SetOrder(int order);
  int order();
  size_t Count();
  std::optional<BrowseEntry> EntryAt(size_t position);
  std::optional<BrowseEntry> TakeLast();
  void Release();

  // Replaces the list file at `path` (FileSystem::WriteFileAtomic), holding
  // the lock only while the file's bytes are made in memory, so that the
  // look-ups of searches never wait for the disk. The bytes are held until
  // the file is written: about 55 MB for 1,000,000 entries.
  Status SaveAtomic(FileSystem* fs, const std::string& path, const ListFileWriteOptions& options);
  // LoadListFile under the lock for the whole load.
  Status Load(FileSystem* fs, const std::string& path, bool keep_extra,
              ListFileHeader* header = nullptr);

  // Runs `fn(list)` under the lock: for the few callers that need two steps
  // to be one (keep it short; no file I/O, no other lock).
  template <typename Fn>
  auto WithLock(Fn&& fn) {
    MutexLock l(lock_);
    return fn(*list_);
  }

  BrowseList* unlocked() { return list_; }

 private:
  Mutex* lock_;
  BrowseList* list_;
};

}  // namespace vantrel
