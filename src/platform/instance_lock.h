// InstanceLock: one running server per start directory.
//
// The server takes an exclusive flock() on a lock file in its start directory
// and keeps it for its whole life. The lock file also carries one line of text
// from the running server (the address of its console), so that a second start
// can tell the operator where the running server is before it exits.
//
// The kernel drops the lock when the holding process ends in any way, so a
// crashed server never leaves a stale lock behind. The lock file itself is
// never deleted: deleting a flock()ed file lets two processes hold locks on two
// different files of the same name.
//
// The descriptor is close-on-exec: a self-relaunch (execv) releases the lock
// and the new image takes it again.
//
// The lock file is opened without following a symbolic link and without
// blocking on a FIFO, and must be a plain file with one name: a planted link
// never makes the holder write its owner text into another file.
//
// Thread safety: an InstanceLock object is used by one thread at a time; the
// static functions may be called from any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

class InstanceLock {
 public:
  // The longest owner text kept in, and read from, the lock file.
  static constexpr size_t kMaxOwnerInfo = 4096;

  // Creates `path` if needed, locks it without waiting and writes
  // `owner_info` into it as its only line. Fails with kFailedPrecondition when
  // another process (or another InstanceLock in this process) holds the lock;
  // the message then holds the owner text that the holder wrote. Fails with
  // kInvalidArgument when `owner_info` holds a line break or is longer than
  // kMaxOwnerInfo, kIoError when the file cannot be opened or written.
  static StatusOr<InstanceLock> Acquire(const std::string& path, std::string_view owner_info);

  // The same lock on the file `name` in the folder `sub_folder` of `base`
  // (one path component each), for a folder that other users can write
  // into: `base` may be reached through symbolic links (the operator chose
  // it), but the sub-folder (created with mode 0755 when missing) and the
  // lock file never are, and the lock file must be a plain file with no other
  // name. kNotFound when `base` is no folder; on kFailedPrecondition the
  // holder's owner text is stored in `*holder` when given.
  static StatusOr<InstanceLock> AcquireBelow(const std::string& base, std::string_view sub_folder,
                                             std::string_view name, std::string_view owner_info,
                                             std::string* holder = nullptr);

  // The owner text in the lock file at `path` (the first line, without its line
  // end). Works whether or not the lock is held; says nothing about whether a
  // server runs (use IsHeld for that). kNotFound when there is no lock file.
  static StatusOr<std::string> ReadOwnerInfo(const std::string& path);

  // True when some process holds the lock on `path` right now (probed with a
  // shared, non-blocking lock that is dropped at once).
  static bool IsHeld(const std::string& path);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // Releases the lock; the file and its owner text stay.
  ~InstanceLock();

  // Replaces the owner text, e.g. once the console knows its address. Same
  // limits as Acquire.
  Status UpdateOwnerInfo(std::string_view owner_info);

  const std::string& path() const { return path_; }

  // False once the locked file has lost its name (somebody deleted it): a
  // new file of that name could then be locked by another process, so the
  // holder takes the lock afresh.
  bool StillLinked() const;

 private:
  InstanceLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  static StatusOr<InstanceLock> LockOpened(int fd, const std::string& path,
                                           std::string_view owner_info, std::string* holder);

  int fd_ = -1;
  std::string path_;
};

}  // namespace vantrel
