// MappedFile: the read-only contents of one file, mapped or read into memory;
// FileViewLock: one view of a file at a time across the threads of the
// process.
//
// MappedFile::Open maps the file read-only (mmap, MAP_PRIVATE); a small file,
// or one that cannot be mapped (an empty file, a file system without mmap),
// is read into memory instead. The contents never change through this class.
// A file that another process truncates while it is mapped does not crash
// the reader: the lost pages read as zeros and damaged() becomes true, so the
// caller knows that the contents it read are not the file's (and reads the
// file again later).
//
// Thread safety: a MappedFile is immutable after Open and may be read from
// any thread. FileViewLock may be taken from any thread; taking it for a path
// that another holder has waits until that holder releases it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// Files up to this size are read into memory even when mapping is asked
// for: reading a few pages costs less than mapping them, faulting them in
// and unmapping them (which interrupts the process's other threads).
inline constexpr size_t kReadRatherThanMap = 64 * 1024;

class MappedFile {
 public:
  enum class Mode {
    kMapOrRead,  // map a file above kReadRatherThanMap; read the others
    kRead,       // always read into memory
  };

  // Opens `path` for reading. Fails with kNotFound when it does not exist or
  // is a symbolic link (never followed: image folders are client-writable),
  // kInvalidArgument for a folder or anything else that is not a regular
  // file (a pipe is refused without waiting for a writer), kIoError when it
  // cannot be read.
  // Below a served folder no link is followed anywhere below the folder
  // (platform/served_folders.h).
  static StatusOr<std::unique_ptr<MappedFile>> Open(const std::string& path,
                                                    Mode mode = Mode::kMapOrRead);
  // The same for a file already open for reading at `fd`, which stays open
  // and the caller's; `name` is for messages. A descriptor of a pipe is read
  // to its end.
  static StatusOr<std::unique_ptr<MappedFile>> OpenDescriptor(int fd, const std::string& name,
                                                              Mode mode = Mode::kMapOrRead);

  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::string_view data() const { return {data_, size_}; }
  size_t size() const { return size_; }
  bool mapped() const { return mapped_; }
  // True when the file shrank while mapped and pages beyond its new end were
  // read (as zeros).
  bool damaged() const;

 private:
  MappedFile() = default;
  // Maps or reads the file at `fd`, whose fstat gave `st`; a folder is
  // refused.
  static StatusOr<std::unique_ptr<MappedFile>> FromStat(int fd, const struct stat& st,
                                                        const std::string& name, Mode mode);
  const char* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  int guard_slot_ = -1;  // slot in the SIGBUS guard while mapped
  std::string copy_;  // the contents when not mapped
};

// Holds the process-wide view lock of one path from construction to
// destruction (or Release). Waits without time limit while another holder
// has it.
class FileViewLock {
 public:
  FileViewLock() = default;
  explicit FileViewLock(const std::string& path);
  ~FileViewLock() { Release(); }
  FileViewLock(FileViewLock&& other) noexcept;
  FileViewLock& operator=(FileViewLock&& other) noexcept;
  FileViewLock(const FileViewLock&) = delete;
  FileViewLock& operator=(const FileViewLock&) = delete;

  // Tries to take the lock without waiting; false when another holder has it.
  static bool TryLock(const std::string& path, FileViewLock* lock);

  bool held() const { return !path_.empty(); }
  void Release();

 private:
  std::string path_;
};

}  // namespace vantrel
