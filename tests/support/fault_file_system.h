// FaultFileSystem: a FileSystem that passes every call to another one and
// makes chosen calls fail, for tests of "a failed save never leaves a damaged
// file" and of error handling in general.
//
// Faults:
//  - FailNthWrite(n): the n-th write operation from now fails (1 = the next).
//  - FillDiskAtNthWrite(n): the disk fills up at the n-th write operation
//    from now: that one fails with kResourceExhausted, and so does every
//    later write of bytes (as SetSpaceLimit(0)) until ClearFaults.
//  - CrashAtNthWrite(n): the process "dies" at the n-th write operation from
//    now: that one and every later one fail and do nothing, so the files
//    stay exactly as a kill at that point leaves them (a failed
//    WriteFileAtomic leaves the old file, as its rename never happened).
//  - SkipSyncs(): Sync, SyncFile and SyncFolder are counted but not passed
//    on (for tests that repeat many writes and never lose power).
//  - FailWritesMatching(pattern): every write operation on a path matching the
//    fnmatch(3) pattern fails (e.g. "*/TIMELIST", "*.INI").
//  - FailReadsMatching(pattern): the same for ReadFile, ReadFileRange, Stat
//    and ListFolder.
//  - SetSpaceLimit(bytes): the disk holds only `bytes` more bytes; a write that
//    goes beyond writes what fits and then fails with kResourceExhausted
//    ("disk full"), like a real full disk.
//
// Write operations are OpenForWrite, WritableFile::Append / WriteAt / Sync,
// WriteFileAtomic(Dated), WriteFile, CopyFile, Rename, DeleteFile, CreateFolders,
// CreateSharedFolder, DeleteFolder, EmptyFolder, SyncFolder and SyncFile. A write that fails
// through a fault:
//  - WriteFile and Append: the bytes that fit the space limit are written, the
//    rest is not (a torn file, as after a crash or a full disk);
//  - WriteFileAtomic(Dated): the target is left untouched (that is its contract);
//  - everything else: nothing happens.
// Failing calls return kIoError ("injected fault: ...") or, for the space
// limit, kResourceExhausted.
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/mutex.h"

namespace vantrel {

class FaultFileSystem : public FileSystem {
 public:
  // `base` must outlive this object.
  explicit FaultFileSystem(FileSystem* base);

  void FailNthWrite(int n);
  void FillDiskAtNthWrite(int n);
  void CrashAtNthWrite(int n);
  void SkipSyncs();
  bool skips_syncs() const;
  void FailWritesMatching(std::string pattern);
  void FailReadsMatching(std::string pattern);
  void SetSpaceLimit(uint64_t bytes);
  // Removes every fault (counters stay).
  void ClearFaults();

  // Write operations seen so far (failed ones included).
  int write_count() const;
  // Faults injected so far.
  int faults_injected() const;
  // Paths of the write operations seen, in order (for "was X written?").
  std::vector<std::string> written_paths() const;

  StatusOr<std::string> ReadFile(const std::string& path, size_t max_bytes) override;
  StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                      size_t length) override;
  StatusOr<std::unique_ptr<WritableFile>> OpenForWrite(const std::string& path,
                                                       int mode) override;
  StatusOr<std::unique_ptr<WritableFile>> OpenForOverwrite(const std::string& path,
                                                            int mode) override;
  Status AppendToFile(const std::string& path, std::string_view data) override;
  Status WriteFileAtomic(const std::string& path, std::string_view data, int mode) override;
  Status WriteFileAtomicDated(const std::string& path, std::string_view data, int mode,
                              WinFileTime modified) override;
  Status WriteFile(const std::string& path, std::string_view data) override;
  StatusOr<FileInfo> Stat(const std::string& path) override;
  bool Exists(const std::string& path) override;
  bool IsFolder(const std::string& path) override;
  Status DeleteFile(const std::string& path) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status CopyFile(const std::string& from, const std::string& to) override;
  Status SyncFolder(const std::string& path) override;
  Status SyncFile(const std::string& path) override;
  Status CreateFolders(const std::string& path) override;
  Status CreateSharedFolder(const std::string& path) override;
  bool IsInsideWithoutLinks(const std::string& base, const std::string& path) override {
    return base_->IsInsideWithoutLinks(base, path);
  }
  Status DeleteFolder(const std::string& path) override;
  StatusOr<bool> RemoveLink(const std::string& path) override { return base_->RemoveLink(path); }
  Status EmptyFolder(const std::string& path, bool recursive) override;
  StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) override;
  bool IsValidFolder(const std::string& path) override;
  StatusOr<uint64_t> FreeSpace(const std::string& path) override;

  // Used by the files this object opens. Counts one write operation on
  // `path`; returns the injected failure, or OK. With `bytes` > 0 the space
  // limit applies: *allowed is set to how many of them may be written.
  Status CheckWrite(const std::string& path, uint64_t bytes, uint64_t* allowed);

 private:
  Status CheckRead(const std::string& path);

  FileSystem* const base_;
  mutable Mutex mu_;
  int fail_nth_ GUARDED_BY(mu_) = 0;
  int fill_disk_nth_ GUARDED_BY(mu_) = 0;
  int crash_nth_ GUARDED_BY(mu_) = 0;
  bool crashed_ GUARDED_BY(mu_) = false;
  bool skip_syncs_ GUARDED_BY(mu_) = false;
  std::vector<std::string> write_patterns_ GUARDED_BY(mu_);
  std::vector<std::string> read_patterns_ GUARDED_BY(mu_);
  bool space_limited_ GUARDED_BY(mu_) = false;
  uint64_t space_left_ GUARDED_BY(mu_) = 0;
  int write_count_ GUARDED_BY(mu_) = 0;
  int faults_ GUARDED_BY(mu_) = 0;
  std::vector<std::string> written_paths_ GUARDED_BY(mu_);
};

}  // namespace vantrel
