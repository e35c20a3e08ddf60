// InstanceLock on flock() (see instance_lock.h).
#include "platform/instance_lock.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/unique_fd.h"

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

constexpr int kLockOpenFlags = O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// A lock file is a plain file with exactly one name.
Status CheckLockFile(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) != 0) return OsError("cannot examine", path, errno);
  if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
    return Status::IoError("the lock file " + path +
                           " is not a plain file with a single name; remove it");
  }
  return Status::Ok();
}

using Fd = UniqueFd;

}  // namespace

// Locks the freshly opened `fd` (owned by the result from here on), checks
// it and writes the owner text.
StatusOr<InstanceLock> InstanceLock::LockOpened(int fd, const std::string& path,
                                                std::string_view owner_info, std::string* holder) {
  InstanceLock lock(fd, path);
  VANTREL_RETURN_IF_ERROR(CheckLockFile(fd, path));
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    if (errno == EWOULDBLOCK) {
      std::string owner;
      StatusOr<std::string> info = ReadFirstLine(fd, path);
      if (info.ok()) owner = *info;
      if (holder != nullptr) *holder = owner;
      return Status::FailedPrecondition("already running: " + owner);
    }
    return OsError("cannot lock", path, errno);
  }
  VANTREL_RETURN_IF_ERROR(WriteLine(fd, path, owner_info));
  return lock;
}

StatusOr<InstanceLock> InstanceLock::Acquire(const std::string& path, std::string_view owner_info) {
  VANTREL_RETURN_IF_ERROR(CheckOwnerInfo(owner_info));
  int fd = open(path.c_str(), kLockOpenFlags, 0644);
  if (fd < 0) return OsError("cannot open the instance lock", path, errno);
  return LockOpened(fd, path, owner_info, nullptr);
}

StatusOr<InstanceLock> InstanceLock::AcquireBelow(const std::string& base,
                                                  std::string_view sub_folder,
                                                  std::string_view name,
                                                  std::string_view owner_info,
                                                  std::string* holder) {
  VANTREL_RETURN_IF_ERROR(CheckOwnerInfo(owner_info));
  const std::string sub(sub_folder);
  const std::string file(name);
  if (sub.empty() || file.empty() || sub.find('/') != std::string::npos ||
      file.find('/') != std::string::npos || sub == ".." || file == "..") {
    return Status::InvalidArgument("a lock below a folder needs one plain name per level");
  }
  const std::string sub_path = (base == "/" ? base : base + "/") + sub;
  const std::string path = sub_path + "/" + file;
  Fd base_fd(open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (base_fd.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Status::NotFound("no folder " + base);
    return OsError("cannot open the folder", base, errno);
  }
  if (mkdirat(base_fd.get(), sub.c_str(), 0755) != 0 && errno != EEXIST) {
    return OsError("cannot create the folder", sub_path, errno);
  }
  Fd sub_fd(openat(base_fd.get(), sub.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (sub_fd.get() < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      return Status::IoError(sub_path + " is not a folder (a link?); remove it");
    }
    return OsError("cannot open the folder", sub_path, errno);
  }
  int fd = openat(sub_fd.get(), file.c_str(), kLockOpenFlags, 0644);
  if (fd < 0) {
    if (errno == ELOOP) {
      return Status::IoError("the lock file " + path + " is a link; remove it");
    }
    return OsError("cannot open the lock file", path, errno);
  }
  return LockOpened(fd, path, owner_info, holder);
}

bool InstanceLock::StillLinked() const {
  struct stat st;
  return fd_ >= 0 && fstat(fd_, &st) == 0 && st.st_nlink > 0;
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
