#include "platform/served_folders.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/openat2.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/mutex.h"
#include "platform/posix_error.h"

namespace vantrel {
namespace {

struct Registered {
  std::string path;    // absolute, no trailing slash (but "/")
  std::string anchor;  // the operator's part of `path`: `path` itself or a folder above it
  // The path named no link when it was registered: the whole path can then be
  // resolved with no link allowed, in one call and without opening the folder.
  bool link_free = false;
};
using FolderSet = std::vector<Registered>;

Mutex g_mu;
std::shared_ptr<const FolderSet> g_folders GUARDED_BY(g_mu);
// Set once openat2 is known to be missing (older kernels, some sandboxes).
std::atomic<bool> g_no_openat2{false};

constexpr uint64_t kNoLinks = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;

std::string Normalized(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool NamesNoLink(const std::string& folder) {
  char resolved[PATH_MAX];
  return ::realpath(folder.c_str(), resolved) != nullptr && folder == resolved;
}

std::shared_ptr<const FolderSet> CurrentFolders() {
  MutexLock lock(&g_mu);
  return g_folders;
}

bool HoldsOrIs(const std::string& folder, const std::string& path) {
  const size_t n = folder.size();
  if (path.size() < n || path.compare(0, n, folder) != 0) return false;
  return path.size() == n || folder == "/" || path[n] == '/';
}

// Where the part of `path` below `prefix` starts (past its slashes).
size_t RestAfter(const std::string& prefix, const std::string& path) {
  size_t at = prefix.size();
  while (at < path.size() && path[at] == '/') ++at;
  return at;
}

// The longest served folder that holds `path` with something of `path`
// below the folder's `part` (its path, or its operator's part).
const Registered* LongestHolding(const FolderSet& set, const std::string& path,
                                 std::string Registered::*part) {
  const Registered* best = nullptr;
  for (const Registered& f : set) {
    if (!HoldsOrIs(f.path, path) || RestAfter(f.*part, path) == path.size()) continue;
    if (best == nullptr || f.path.size() > best->path.size()) best = &f;
  }
  return best;
}

// The served folder whose rule opens `path`: something of `path` lies below
// its operator's part (so a folder of the server's own counts for itself
// too); `rest_at` is where that part starts.
const Registered* HoldingFolder(const FolderSet& set, const std::string& path, size_t* rest_at) {
  const Registered* best = LongestHolding(set, path, &Registered::anchor);
  if (best != nullptr) *rest_at = RestAfter(best->anchor, path);
  return best;
}

// Splits a relative path into its components, without empty ones and ".".
std::vector<std::string_view> Components(std::string_view below) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= below.size()) {
    size_t end = below.find('/', start);
    if (end == std::string_view::npos) end = below.size();
    std::string_view part = below.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

bool HasComponent(std::string_view below, bool dot_too) {
  size_t start = 0;
  while (start <= below.size()) {
    size_t end = below.find('/', start);
    if (end == std::string_view::npos) end = below.size();
    std::string_view part = below.substr(start, end - start);
    if (part == ".." || (dot_too && part == ".")) return true;
    start = end + 1;
  }
  return false;
}

bool HasDotComponent(std::string_view below) { return HasComponent(below, /*dot_too=*/true); }
bool HasDotDotComponent(std::string_view below) { return HasComponent(below, /*dot_too=*/false); }

int RawOpenat2(int dir_fd, const char* path, int flags, mode_t mode, uint64_t resolve) {
  struct open_how how = {};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
  how.resolve = resolve;
  long fd;
  do {
    fd = ::syscall(SYS_openat2, dir_fd, path, &how, sizeof how);
  } while (fd < 0 && errno == EINTR);
  return static_cast<int>(fd);
}

// True when a failed openat2 may have failed for being unavailable rather
// than for the path: then the walk gives the answer.
bool MayLackOpenat2(int err) {
  if (err == ENOSYS) g_no_openat2.store(true, std::memory_order_relaxed);
  return err == ENOSYS || err == EPERM;
}

int CloseKeepingErrno(int fd, int result) {
  const int err = errno;
  ::close(fd);
  errno = err;
  return result;
}

// Opens `below` below the folder's operator's part, reached through the
// operator's links.
int OpenBelowFolder(const Registered& folder, const char* below, int flags, mode_t mode) {
  int dir_fd;
  do {
    dir_fd = ::open(folder.anchor.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (dir_fd < 0 && errno == EINTR);
  if (dir_fd < 0) return -1;
  if (!g_no_openat2.load(std::memory_order_relaxed)) {
    int fd = RawOpenat2(dir_fd, below, flags, mode, RESOLVE_BENEATH | kNoLinks);
    if (fd >= 0 || !MayLackOpenat2(errno)) return CloseKeepingErrno(dir_fd, fd);
  }
  int fd = OpenBelowByWalking(dir_fd, below, flags, mode);
  return CloseKeepingErrno(dir_fd, fd);
}

// The error of a failed step of the walk: a link where a folder was wanted
// reads as ELOOP, as openat2 reports it.
int WalkError(int dir_fd, std::string_view name, int err) {
  struct stat st;
  if ((err == ENOTDIR || err == ELOOP) &&
      ::fstatat(dir_fd, std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return ELOOP;
  }
  return err;
}

}  // namespace

void SetServedFolders(const std::vector<ServedFolder>& folders) {
  auto set = std::make_shared<FolderSet>();
  for (const ServedFolder& given : folders) {
    if (given.path.empty() || given.path[0] != '/') continue;
    Registered folder;
    folder.path = Normalized(given.path);
    folder.anchor = Normalized(given.operators_part);
    if (folder.anchor.empty() || !HoldsOrIs(folder.anchor, folder.path)) {
      folder.anchor = folder.path;
    }
    folder.link_free = NamesNoLink(folder.path);
    set->push_back(std::move(folder));
  }
  MutexLock lock(&g_mu);
  g_folders = std::move(set);
}

std::vector<std::string> ServedFolders() {
  std::vector<std::string> paths;
  if (std::shared_ptr<const FolderSet> set = CurrentFolders()) {
    for (const Registered& f : *set) paths.push_back(f.path);
  }
  return paths;
}

std::string ServedFolderHolding(const std::string& path) {
  std::shared_ptr<const FolderSet> set = CurrentFolders();
  const Registered* folder = set ? LongestHolding(*set, path, &Registered::path) : nullptr;
  return folder != nullptr ? folder->path : std::string();
}

Status OpenFailureStatus(const char* what, const std::string& path, int err) {
  struct stat st;
  if (err == ELOOP && ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    return Status::NotFound("is a symbolic link, not followed: " + path);
  }
  if (err == ELOOP || err == EXDEV) {
    return Status::NotFound("lies behind a symbolic link, not followed: " + path);
  }
  return ErrnoStatus(what, path, err);
}

Status OpenServedFileForRead(const std::string& path, UniqueFd* file) {
  file->Reset();
  const int fd = OpenServedPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return OpenFailureStatus("cannot open", path, errno);
  *file = UniqueFd(fd);
  return Status::Ok();
}

std::string PathOfOpenFile(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int OpenServedPath(const std::string& path, int flags, mode_t mode) {
  flags |= O_CLOEXEC;
  std::shared_ptr<const FolderSet> set = CurrentFolders();
  size_t rest_at = 0;
  const Registered* folder = set ? HoldingFolder(*set, path, &rest_at) : nullptr;
  if (folder == nullptr) {
    int fd;
    do {
      fd = ::open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
  }
  const char* below = path.c_str() + rest_at;
  // Below the operator's part of a folder of the server's own, a ".." could
  // stay below that part and still leave the folder: never taken.
  if (folder->anchor != folder->path && HasDotDotComponent(below)) {
    errno = EXDEV;
    return -1;
  }
  if (folder->link_free && !HasDotComponent(below) &&
      !g_no_openat2.load(std::memory_order_relaxed)) {
    int fd = RawOpenat2(AT_FDCWD, path.c_str(), flags, mode, kNoLinks);
    if (fd >= 0) return fd;
    // A link may since have come into the folder's own path, which is
    // allowed: only the open below the folder tells.
    if (errno != ELOOP && !MayLackOpenat2(errno)) return -1;
  }
  return OpenBelowFolder(*folder, below, flags, mode);
}

int OpenBelowByWalking(int dir_fd, const std::string& below, int flags, mode_t mode) {
  std::vector<std::string_view> parts = Components(below);
  for (std::string_view part : parts) {
    if (part == "..") {
      errno = EXDEV;
      return -1;
    }
  }
  flags |= O_CLOEXEC | O_NOFOLLOW;
  if (parts.empty()) return ::openat(dir_fd, ".", flags & ~O_NOFOLLOW, mode);
  int current = dir_fd;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const std::string name(parts[i]);
    int next = ::openat(current, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = next < 0 ? WalkError(current, name, errno) : 0;
    if (current != dir_fd) ::close(current);
    if (next < 0) {
      errno = err;
      return -1;
    }
    current = next;
  }
  const std::string last(parts.back());
  int fd;
  do {
    fd = ::openat(current, last.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) errno = WalkError(current, last, errno);
  if (current != dir_fd) CloseKeepingErrno(current, 0);
  return fd;
}

}  // namespace vantrel
