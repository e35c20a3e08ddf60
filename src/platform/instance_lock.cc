// InstanceLock on flock() (see instance_lock.h).
#include "platform/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

#include <utility>

namespace vantrel {
namespace {

Status OsError(const std::string& what, const std::string& path, int err) {
  return Status::IoError(what + " " + path + ": " + strerror(err));
}

Status CheckOwnerInfo(std::string_view owner_info) {
  if (owner_info.size() > InstanceLock::kMaxOwnerInfo) {
    return Status::InvalidArgument("owner text of the instance lock is too long");
  }
  if (owner_info.find_first_of("\r\n") != std::string_view::npos) {
    return Status::InvalidArgument("owner text of the instance lock holds a line break");
  }
  return Status::Ok();
}

// Reads at most kMaxOwnerInfo + 1 bytes from the start of `fd` and returns the
// first line. The owner writes the new line over the old one before it cuts
// the file, so a reader racing with an update sees one whole line or the other.
StatusOr<std::string> ReadFirstLine(int fd, const std::string& path) {
  std::string buffer(InstanceLock::kMaxOwnerInfo + 1, '\0');
  size_t filled = 0;
  while (filled < buffer.size()) {
    ssize_t n = pread(fd, buffer.data() + filled, buffer.size() - filled, filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return OsError("cannot read", path, errno);
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  buffer.resize(filled);
  size_t end = buffer.find_first_of("\r\n");
  if (end != std::string::npos) {
    buffer.resize(end);
  } else if (buffer.size() > InstanceLock::kMaxOwnerInfo) {
    buffer.resize(InstanceLock::kMaxOwnerInfo);  // no line end in reach: not ours
  }
  return buffer;
}

Status WriteLine(int fd, const std::string& path, std::string_view text) {
  std::string line(text);
  line.push_back('\n');
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = pwrite(fd, line.data() + done, line.size() - done, done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return OsError("cannot write", path, errno);
    }
    done += static_cast<size_t>(n);
  }
  if (ftruncate(fd, static_cast<off_t>(line.size())) != 0) {
    return OsError("cannot cut", path, errno);
  }
  return Status::Ok();
}

}  // namespace

StatusOr<InstanceLock> InstanceLock::Acquire(const std::string& path, std::string_view owner_info) {
  VANTREL_RETURN_IF_ERROR(CheckOwnerInfo(owner_info));
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return OsError("cannot open the instance lock", path, errno);
  // Owns fd from here on: every early return closes it through the object.
  InstanceLock lock(fd, path);
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno == EWOULDBLOCK) {
      std::string holder;
      StatusOr<std::string> info = ReadFirstLine(fd, path);
      if (info.ok()) holder = *info;
      return Status::FailedPrecondition("already running: " + holder);
    }
    return OsError("cannot lock", path, errno);
  }
  VANTREL_RETURN_IF_ERROR(WriteLine(fd, path, owner_info));
  return lock;
}

StatusOr<std::string> InstanceLock::ReadOwnerInfo(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return Status::NotFound("no instance lock " + path);
    return OsError("cannot open the instance lock", path, errno);
  }
  StatusOr<std::string> info = ReadFirstLine(fd, path);
  close(fd);
  return info;
}

bool InstanceLock::IsHeld(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  int rc;
  do {
    rc = flock(fd, LOCK_SH | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  bool held = rc != 0 && errno == EWOULDBLOCK;
  close(fd);  // also drops the probing lock when we got it
  return held;
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) close(fd_);  // closing the last descriptor drops the flock
}

Status InstanceLock::UpdateOwnerInfo(std::string_view owner_info) {
  VANTREL_RETURN_IF_ERROR(CheckOwnerInfo(owner_info));
  if (fd_ < 0) return Status::FailedPrecondition("instance lock was moved away");
  return WriteLine(fd_, path_, owner_info);
}

}  // namespace vantrel
