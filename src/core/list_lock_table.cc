#include "core/list_lock_table.h"

#include <cstdio>
#include <cstdlib>

#include "core/list_file.h"

namespace vantrel {

Mutex* ListLockTable::ForIndex(int index) {
  if (index < kFirstIndex || index > kLastIndex) {
    std::fprintf(stderr, "vantrel: list lock asked for index %d, outside -1..%d\n", index,
                 kLastIndex);
    std::abort();
  }
  return &locks_[static_cast<size_t>(SlotOf(index))];
}

ListLockTable& ListLocks() {
  static ListLockTable* table = new ListLockTable();
  return *table;
}

Status LockedBrowseList::Add(std::string_view name, uint32_t time, uint32_t value,
                             uint32_t extra, uint32_t sort_key) {
  MutexLock l(lock_);
  return list_->Add(name, time, value, extra, sort_key);
}

std::optional<uint32_t> LockedBrowseList::Remove(std::string_view name, uint32_t time) {
  MutexLock l(lock_);
  return list_->Remove(name, time);
}

size_t LockedBrowseList::RemoveBelow(std::string_view folder_key) {
  MutexLock l(lock_);
  return list_->RemoveBelow(folder_key);
}

std::optional<BrowseLookup> LockedBrowseList::Lookup(std::string_view name, uint32_t time) {
  MutexLock l(lock_);
  return list_->Lookup(name, time);
}

std::optional<size_t> LockedBrowseList::FindByName(std::string_view name, bool prefix) {
  MutexLock l(lock_);
  return list_->FindByName(name, prefix);
}

Status LockedBrowseList::SetOrder(int order) {
  MutexLock l(lock_);
  return list_->SetOrder(order);
}

int LockedBrowseList::order() {
  MutexLock l(lock_);
  return list_->order();
}

size_t LockedBrowseList::Count() {
  MutexLock l(lock_);
  return list_->Count();
}

std::optional<BrowseEntry> LockedBrowseList::EntryAt(size_t position) {
  MutexLock l(lock_);
  return list_->EntryAt(position);
}

std::optional<BrowseEntry> LockedBrowseList::TakeLast() {
  MutexLock l(lock_);
  return list_->TakeLast();
}

void LockedBrowseList::Release() {
  MutexLock l(lock_);
  list_->Release();
}

Status LockedBrowseList::SaveAtomic(FileSystem* fs, const std::string& path,
                                    const ListFileWriteOptions& options) {
  std::string bytes;
  {
    MutexLock l(lock_);
    bytes = EncodeListFile(*list_, options);
  }
  return fs->WriteFileAtomic(path, bytes);
}

Status LockedBrowseList::Load(FileSystem* fs, const std::string& path, bool keep_extra,
                              ListFileHeader* header) {
  MutexLock l(lock_);
  return LoadListFile(fs, path, keep_extra, list_, header);
}

}  // namespace vantrel
