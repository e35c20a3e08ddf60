// The real FileSystem over POSIX calls.
//
// Every call is independent and keeps no state besides a counter for unique
// temporary names, so any thread may call any method at any time. No method
// changes the process's current directory. Paths holding a NUL byte are
// refused (the C library would silently cut them).
//
// Clients write into the folders this server serves, and the server runs as
// root, so no open here follows a symbolic link at the last component of a
// path: a reader meets a link as a missing file, and a writer removes a link,
// a hard-linked file or any other non-regular entry at the name and creates
// a new file there (see OpenNoFollowForWrite). Below a served folder
// (platform/served_folders.h) no link on the way is followed either, and a
// writer opens the folder of its file once and does every later step (stat,
// remove, create, rename) in it. Temporary files get a random name and are
// created exclusively, so a planted name can neither be written through nor
// predicted.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_time.h"
#include "platform/posix_error.h"
#include "platform/served_folders.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

// Deepest folder nesting that EmptyFolder descends into; one descriptor is
// open per level.
constexpr int kMaxEmptyDepth = 256;
// Read and copy chunk.
constexpr size_t kChunk = 1 << 20;

Status CheckPath(const std::string& path) {
  if (path.empty()) return Status::InvalidArgument("empty path");
  if (path.find('\0') != std::string::npos) {
    return Status::InvalidArgument("path holds a NUL byte");
  }
  return Status::Ok();
}

// A file time as a POSIX time.
struct timespec TimespecOf(WinFileTime t) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(t / kFileTimeUnitsPerSecond) -
                                  kUnixEpochInFileTimeSeconds);
  ts.tv_nsec = static_cast<long>((t % kFileTimeUnitsPerSecond) * 100);
  return ts;
}

WinFileTime ModifiedOf(const struct stat& st) {
  return WinFileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

using Fd = UniqueFd;

Status WriteAll(int fd, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot write", path, errno);
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return Status::Ok();
}

Status PWriteAll(int fd, uint64_t offset, std::string_view data, const std::string& path) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot write", path, errno);
    }
    data.remove_prefix(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return Status::Ok();
}

// The folder part of a native path ("." for a bare name, "/" for "/x").
std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Flushes the entries of the folder open at `fd` (a rename or a new file in
// it) to the disk; file systems that cannot sync a folder (EINVAL) pass.
Status SyncOpenFolder(int fd, const std::string& folder) {
  if (::fsync(fd) != 0 && errno != EINVAL) return ErrnoStatus("cannot sync folder", folder, errno);
  return Status::Ok();
}

// The same for the folder at the path `folder`.
Status SyncFolder(const std::string& folder) {
  Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() < 0) return ErrnoStatus("cannot open folder", folder, errno);
  return SyncOpenFolder(fd.get(), folder);
}

// 64 random bits as hex, for names nobody can guess ahead.
std::string RandomHex() {
  uint64_t bits = 0;
  if (::getrandom(&bits, sizeof(bits), GRND_NONBLOCK) != static_cast<ssize_t>(sizeof(bits))) {
    // No entropy yet (early boot): the clock still differs between calls.
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    bits = static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^
           static_cast<uint64_t>(now.tv_sec);
  }
  static const char kDigits[] = "0123456789abcdef";
  std::string hex(16, '0');
  for (int i = 0; i < 16; ++i) hex[i] = kDigits[(bits >> (4 * i)) & 0xF];
  return hex;
}

// A name in a folder, with the folder opened once (below a served folder
// without following any link on the way): every step on the name (stat,
// open, remove, rename) then acts in that very folder, whatever is done
// meanwhile to the names above it.
struct PlacedName {
  Fd folder;
  std::string name;  // the last component
  std::string path;  // the whole path, for messages
};

Status PlaceName(const std::string& path, PlacedName* out) {
  const size_t slash = path.find_last_of('/');
  out->name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (out->name.empty() || out->name == "." || out->name == "..") {
    return Status::InvalidArgument("not a file name: " + path);
  }
  const std::string folder = ParentOf(path);
  out->folder = Fd(OpenServedPath(folder, O_RDONLY | O_DIRECTORY));
  if (out->folder.get() < 0) return OpenFailureStatus("cannot open folder", folder, errno);
  out->path = path;
  return Status::Ok();
}

// A temporary name beside `name`: a hidden name (folder walks skip it) built
// from the target name, the process id, a counter and random bits, so that
// no client can plant it ahead. Callers still create it with O_EXCL.
std::string TemporaryNameFor(const std::string& name) {
  static std::atomic<uint64_t> counter{0};
  std::string base = name;
  // Keep the whole name well below the 255-byte limit of most file systems.
  if (base.size() > 160) base.resize(160);
  return "." + base + ".tmp" + std::to_string(::getpid()) + "_" +
         std::to_string(counter.fetch_add(1)) + "_" + RandomHex();
}

// Creates a new temporary file beside `target` (never an existing name),
// readable and writable by the owner only until its mode is set; `temp` is
// its name in the same folder.
Status CreateTemporaryBeside(const PlacedName& target, std::string* temp, Fd* fd) {
  constexpr int kAttempts = 8;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    *temp = TemporaryNameFor(target.name);
    int raw = ::openat(target.folder.get(), temp->c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (raw >= 0) {
      *fd = Fd(raw);
      return Status::Ok();
    }
    if (errno != EEXIST) {
      return ErrnoStatus("cannot create", ParentOf(target.path) + "/" + *temp, errno);
    }
  }
  return Status::Unavailable("cannot find a free temporary name beside " + target.path);
}

// Puts the finished temporary file `temp` in place of `target`. renameat
// replaces a symbolic link at the name itself, never its target. Anything
// that fails removes the temporary file.
Status ReplaceWithTemporary(const PlacedName& target, const std::string& temp) {
  if (::renameat(target.folder.get(), temp.c_str(), target.folder.get(), target.name.c_str()) ==
      0) {
    return Status::Ok();
  }
  const int err = errno;
  ::unlinkat(target.folder.get(), temp.c_str(), 0);
  return ErrnoStatus("cannot replace", target.path, err);
}

// Writes a new file in place of `target` through a temporary file beside
// it: `fill` writes the open temporary file (contents, mode, time), which is
// then closed and renamed over the target. Anything that fails removes the
// temporary file, so the target is either untouched or wholly replaced.
template <typename Fill>
Status ReplaceThroughTemporary(const PlacedName& target, const Fill& fill) {
  std::string temp;
  Fd fd;
  VANTREL_RETURN_IF_ERROR(CreateTemporaryBeside(target, &temp, &fd));
  Status s = fill(fd.get());
  if (s.ok() && ::close(fd.Release()) != 0) s = ErrnoStatus("cannot close", target.path, errno);
  if (!s.ok()) {
    fd.Reset();
    ::unlinkat(target.folder.get(), temp.c_str(), 0);
    return s;
  }
  return ReplaceWithTemporary(target, temp);
}

// A regular file with a single name: the only kind written in place.
bool IsPlainFile(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_nlink == 1; }

// Opens `path` for writing without ever writing through a symbolic link. An
// existing regular file with one name is opened as it is: its mode stays,
// and it is truncated only with `truncate` (after the checks). Anything else
// at the name (a symbolic link, a hard-linked file, a pipe, a socket) is
// removed (the name only) and a new file is created there with exactly
// `mode`. A folder is refused. `extra_flags` adds O_APPEND.
Status OpenNoFollowForWrite(const std::string& path, int extra_flags, bool truncate, int mode,
                            Fd* out) {
  PlacedName target;
  VANTREL_RETURN_IF_ERROR(PlaceName(path, &target));
  const int dir = target.folder.get();
  const char* name = target.name.c_str();
  constexpr int kAttempts = 8;  // the name may be replaced again meanwhile
  const int open_flags = O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | extra_flags;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    struct stat st;
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) return Status::InvalidArgument("is a folder: " + path);
      if (!IsPlainFile(st)) {
        if (::unlinkat(dir, name, 0) != 0 && errno != ENOENT) {
          return ErrnoStatus("cannot remove", path, errno);
        }
        continue;
      }
      // O_NONBLOCK: should a pipe appear here meanwhile, the open never waits.
      Fd fd(::openat(dir, name, open_flags | O_NONBLOCK));
      if (fd.get() < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENXIO) continue;  // replaced meanwhile
        return ErrnoStatus("cannot open for writing", path, errno);
      }
      if (::fstat(fd.get(), &st) != 0) return ErrnoStatus("cannot stat", path, errno);
      if (!IsPlainFile(st)) continue;  // replaced between the stat and the open
      int flags = ::fcntl(fd.get(), F_GETFL);
      if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
      if (truncate && ::ftruncate(fd.get(), 0) != 0) {
        return ErrnoStatus("cannot truncate", path, errno);
      }
      *out = std::move(fd);
      return Status::Ok();
    }
    if (errno != ENOENT) return ErrnoStatus("cannot stat", path, errno);
    Fd fd(::openat(dir, name, open_flags | O_CREAT | O_EXCL, 0600));
    if (fd.get() < 0) {
      if (errno == EEXIST) continue;  // created meanwhile: check it again
      return ErrnoStatus("cannot create", path, errno);
    }
    // fchmod is not subject to the umask, so the file ends with exactly `mode`.
    if (::fchmod(fd.get(), static_cast<mode_t>(mode) & 07777) != 0) {
      return ErrnoStatus("cannot set mode of", path, errno);
    }
    *out = std::move(fd);
    return Status::Ok();
  }
  return Status::Unavailable("the name keeps changing, not written: " + path);
}

// The mode a file replacing `target` gets: `mode`, narrowed to the mode of
// the regular file it replaces, so that a rewrite never widens access.
mode_t ReplacementMode(const PlacedName& target, int mode) {
  mode_t wanted = static_cast<mode_t>(mode) & 07777;
  struct stat st;
  if (::fstatat(target.folder.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(st.st_mode)) {
    wanted &= st.st_mode & 07777;
  }
  return wanted;
}

// Opens `path` for reading when it is a regular file. Folders, pipes,
// devices and sockets are refused: reading them could block for ever or never
// end. O_NONBLOCK keeps the open itself from waiting on a pipe without writer.
// A symbolic link is not followed: it reads as a missing file.
Status OpenRegularForRead(const std::string& path, Fd* fd, struct stat* st) {
  fd->Reset();
  int raw = OpenServedPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (raw < 0) return OpenFailureStatus("cannot open", path, errno);
  Fd opened(raw);
  if (::fstat(raw, st) != 0) return ErrnoStatus("cannot stat", path, errno);
  if (S_ISDIR(st->st_mode)) return Status::InvalidArgument("is a folder: " + path);
  if (!S_ISREG(st->st_mode)) return Status::InvalidArgument("not a regular file: " + path);
  int flags = ::fcntl(raw, F_GETFL);
  if (flags >= 0) ::fcntl(raw, F_SETFL, flags & ~O_NONBLOCK);
  *fd = std::move(opened);
  return Status::Ok();
}

// Copies from `in` to `out` until the end of `in`: inside the kernel where it
// can (no pass through this process's memory), else by reads and writes.
Status CopyContents(int in, int out, const std::string& from, const std::string& to) {
  bool in_kernel = true;
  bool copied_any = false;
  std::string buffer;
  for (;;) {
    if (in_kernel) {
      const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
      if (n > 0) {
        copied_any = true;
        continue;
      }
      // Files of the kernel's own (/proc) say 0 at once: a read tells.
      if (n == 0 && copied_any) return Status::Ok();
      if (n < 0 && errno == EINTR) continue;
      // Not offered between these files (another file system, an old
      // kernel, a share), or failing: the rest goes through a buffer, whose
      // reads and writes report a real error. A failed call copied nothing,
      // so the offsets of both files stand after what was copied.
      in_kernel = false;
      buffer.assign(kChunk, '\0');
    }
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoStatus("cannot read", from, errno);
    }
    if (n == 0) return Status::Ok();
    VANTREL_RETURN_IF_ERROR(
        WriteAll(out, std::string_view(buffer.data(), static_cast<size_t>(n)), to));
  }
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixWritableFile() override { Close().IgnoreError(); }

  Status Append(std::string_view data) override {
    if (fd_ < 0) return Status::FailedPrecondition("file is closed: " + path_);
    return WriteAll(fd_, data, path_);
  }
  Status WriteAt(uint64_t offset, std::string_view data) override {
    if (fd_ < 0) return Status::FailedPrecondition("file is closed: " + path_);
    return PWriteAll(fd_, offset, data, path_);
  }
  Status Sync() override {
    if (fd_ < 0) return Status::FailedPrecondition("file is closed: " + path_);
    if (::fsync(fd_) != 0) return ErrnoStatus("cannot sync", path_, errno);
    return Status::Ok();
  }
  Status Close() override {
    if (fd_ < 0) return Status::Ok();
    int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0) return ErrnoStatus("cannot close", path_, errno);
    return Status::Ok();
  }

 private:
  int fd_;
  std::string path_;
};

// Removes the entries of the open folder `dir_fd` (the folder stays).
// `shown` is the folder's path for messages. Keeps going after a failure and
// returns the first one. Symbolic links are removed, never followed.
Status EmptyFolderAt(int dir_fd, const std::string& shown, bool recursive, int depth) {
  int list_fd = ::dup(dir_fd);
  if (list_fd < 0) return ErrnoStatus("cannot list folder", shown, errno);
  DIR* dir = ::fdopendir(list_fd);
  if (dir == nullptr) {
    int err = errno;
    ::close(list_fd);
    return ErrnoStatus("cannot list folder", shown, err);
  }
  // Collect the names first: removing entries while reading the stream may
  // make readdir skip or repeat names.
  std::vector<std::pair<std::string, bool>> entries;  // name, is a real folder
  errno = 0;
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    bool is_folder = false;
    if (::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      is_folder = S_ISDIR(st.st_mode);
    }
    entries.emplace_back(std::move(name), is_folder);
  }
  ::closedir(dir);

  Status first;
  auto keep = [&first](Status s) {
    if (first.ok() && !s.ok()) first = std::move(s);
  };
  for (const auto& [name, is_folder] : entries) {
    const std::string shown_child = shown + "/" + name;
    if (!is_folder) {
      if (::unlinkat(dir_fd, name.c_str(), 0) != 0 && errno != ENOENT) {
        keep(ErrnoStatus("cannot delete", shown_child, errno));
      }
      continue;
    }
    if (!recursive) continue;
    if (depth >= kMaxEmptyDepth) {
      keep(Status::ResourceExhausted("folder tree too deep to empty: " + shown_child));
      continue;
    }
    Fd child(::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (child.get() < 0) {
      keep(ErrnoStatus("cannot open folder", shown_child, errno));
      continue;
    }
    Status inner = EmptyFolderAt(child.get(), shown_child, true, depth + 1);
    child.Reset();
    keep(inner);
    if (inner.ok() && ::unlinkat(dir_fd, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
      keep(ErrnoStatus("cannot remove folder", shown_child, errno));
    }
  }
  return first;
}

class PosixFileSystem final : public FileSystem {
 public:
  StatusOr<std::string> ReadFile(const std::string& path, size_t max_bytes) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd;
    struct stat st;
    VANTREL_RETURN_IF_ERROR(OpenRegularForRead(path, &fd, &st));
    if (static_cast<uint64_t>(st.st_size) > max_bytes) {
      return Status::ResourceExhausted("file larger than " + std::to_string(max_bytes) +
                                       " bytes: " + path);
    }
    std::string data;
    data.reserve(static_cast<size_t>(st.st_size));
    // Read to the end rather than trusting the size: the file may grow.
    std::string chunk(st.st_size > 0 && static_cast<size_t>(st.st_size) < kChunk
                          ? static_cast<size_t>(st.st_size) + 1
                          : kChunk,
                      '\0');
    for (;;) {
      ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoStatus("cannot read", path, errno);
      }
      if (n == 0) break;
      if (data.size() + static_cast<size_t>(n) > max_bytes) {
        return Status::ResourceExhausted("file larger than " + std::to_string(max_bytes) +
                                         " bytes: " + path);
      }
      data.append(chunk.data(), static_cast<size_t>(n));
    }
    return data;
  }

  StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                      size_t length) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
      return std::string();
    }
    Fd fd;
    struct stat st;
    VANTREL_RETURN_IF_ERROR(OpenRegularForRead(path, &fd, &st));
    // Never allocate more than the file can deliver.
    uint64_t available =
        static_cast<uint64_t>(st.st_size) > offset ? static_cast<uint64_t>(st.st_size) - offset : 0;
    size_t want = static_cast<size_t>(std::min<uint64_t>(length, available));
    std::string data(want, '\0');
    size_t got = 0;
    while (got < want) {
      ssize_t n = ::pread(fd.get(), data.data() + got, want - got,
                          static_cast<off_t>(offset + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrnoStatus("cannot read", path, errno);
      }
      if (n == 0) break;  // the file shrank
      got += static_cast<size_t>(n);
    }
    data.resize(got);
    return data;
  }

  StatusOr<std::unique_ptr<WritableFile>> OpenForWrite(const std::string& path,
                                                       int mode) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd;
    VANTREL_RETURN_IF_ERROR(OpenNoFollowForWrite(path, 0, /*truncate=*/true, mode, &fd));
    return std::unique_ptr<WritableFile>(new PosixWritableFile(fd.Release(), path));
  }

  StatusOr<std::unique_ptr<WritableFile>> OpenForOverwrite(const std::string& path,
                                                            int mode) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    // No truncation: a reader of the old, longer content keeps its tail.
    Fd fd;
    VANTREL_RETURN_IF_ERROR(OpenNoFollowForWrite(path, 0, /*truncate=*/false, mode, &fd));
    return std::unique_ptr<WritableFile>(new PosixWritableFile(fd.Release(), path));
  }

  Status AppendToFile(const std::string& path, std::string_view data) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd;
    VANTREL_RETURN_IF_ERROR(OpenNoFollowForWrite(path, O_APPEND, /*truncate=*/false, 0644, &fd));
    // One write call: with O_APPEND the kernel places it at the end as a whole.
    VANTREL_RETURN_IF_ERROR(WriteAll(fd.get(), data, path));
    if (::close(fd.Release()) != 0) return ErrnoStatus("cannot close", path, errno);
    return Status::Ok();
  }

  Status WriteFileAtomic(const std::string& path, std::string_view data, int mode) override {
    return WriteAtomic(path, data, mode, nullptr);
  }

  Status WriteFileAtomicDated(const std::string& path, std::string_view data, int mode,
                              WinFileTime modified) override {
    return WriteAtomic(path, data, mode, &modified);
  }

  Status WriteFile(const std::string& path, std::string_view data) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd;
    VANTREL_RETURN_IF_ERROR(OpenNoFollowForWrite(path, 0, /*truncate=*/true, 0644, &fd));
    VANTREL_RETURN_IF_ERROR(WriteAll(fd.get(), data, path));
    if (::close(fd.Release()) != 0) return ErrnoStatus("cannot close", path, errno);
    return Status::Ok();
  }

  StatusOr<FileInfo> Stat(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return ErrnoStatus("cannot stat", path, errno);
    FileInfo info;
    info.is_folder = S_ISDIR(st.st_mode);
    info.size = info.is_folder ? 0 : static_cast<uint64_t>(st.st_size);
    info.modified = ModifiedOf(st);
    return info;
  }

  bool Exists(const std::string& path) override {
    if (!CheckPath(path).ok()) return false;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
  }

  bool IsFolder(const std::string& path) override {
    if (!CheckPath(path).ok()) return false;
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  Status DeleteFile(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    PlacedName target;
    VANTREL_RETURN_IF_ERROR(PlaceName(path, &target));
    if (::unlinkat(target.folder.get(), target.name.c_str(), 0) != 0) {
      return ErrnoStatus("cannot delete", path, errno);
    }
    return Status::Ok();
  }

  Status Rename(const std::string& from, const std::string& to) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(from));
    VANTREL_RETURN_IF_ERROR(CheckPath(to));
    if (::rename(from.c_str(), to.c_str()) == 0) return Status::Ok();
    int err = errno;
    if (err != EXDEV || IsFolder(from)) return ErrnoStatus("cannot rename " + from + " to", to, err);
    // Another file system: copy, then delete the original.
    VANTREL_RETURN_IF_ERROR(CopyFile(from, to));
    return DeleteFile(from);
  }

  Status SyncFolder(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    return vantrel::SyncFolder(path);
  }

  Status SyncFile(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd;
    struct stat st;
    VANTREL_RETURN_IF_ERROR(OpenRegularForRead(path, &fd, &st));
    if (::fsync(fd.get()) != 0) return ErrnoStatus("cannot sync", path, errno);
    return Status::Ok();
  }

  Status CopyFile(const std::string& from, const std::string& to) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(from));
    VANTREL_RETURN_IF_ERROR(CheckPath(to));
    Fd in;
    struct stat st;
    VANTREL_RETURN_IF_ERROR(OpenRegularForRead(from, &in, &st));
    // Copy into a temporary file beside the target and rename it into place,
    // so that a failed copy never leaves a half-written target.
    PlacedName target;
    VANTREL_RETURN_IF_ERROR(PlaceName(to, &target));
    return ReplaceThroughTemporary(target, [&](int out) -> Status {
      VANTREL_RETURN_IF_ERROR(CopyContents(in.get(), out, from, to));
      // Like a Windows copy: same permission bits and last-write time.
      if (::fchmod(out, st.st_mode & 07777) != 0) {
        return ErrnoStatus("cannot set mode of", to, errno);
      }
      const struct timespec times[2] = {st.st_atim, st.st_mtim};
      if (::futimens(out, times) != 0) return ErrnoStatus("cannot set time of", to, errno);
      return Status::Ok();
    });
  }

  Status CreateFolders(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    // Create each level from the outermost to the innermost; existing levels
    // are left alone.
    size_t pos = 0;
    while (pos != std::string::npos) {
      pos = path.find('/', pos + 1);
      std::string level = path.substr(0, pos);
      if (level.empty() || level.back() == '/') continue;  // "//" inside the path
      if (::mkdir(level.c_str(), 0755) == 0) continue;
      int err = errno;
      struct stat st;
      if (err == EEXIST && ::stat(level.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      if (err == EEXIST) return Status::InvalidArgument("not a folder: " + level);
      return ErrnoStatus("cannot create folder", level, err);
    }
    return Status::Ok();
  }

  bool IsInsideWithoutLinks(const std::string& base, const std::string& path) override {
    if (!FileSystem::IsInsideWithoutLinks(base, path)) return false;
    if (path.find("/../") != std::string::npos || path.ends_with("/..")) return false;
    // Every level below `base`, from the top down, must be a real folder.
    size_t pos = base.size();
    while (pos < path.size()) {
      size_t next = path.find('/', pos + 1);
      if (next == std::string::npos) next = path.size();
      const std::string level = path.substr(0, next);
      if (level.size() > base.size() && level.back() != '/') {
        struct stat st;
        if (::lstat(level.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
      }
      pos = next;
    }
    return true;
  }

  Status CreateSharedFolder(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string parent = ParentOf(folder);
    if (parent != folder) VANTREL_RETURN_IF_ERROR(CreateFolders(parent));
    if (::mkdir(folder.c_str(), 0700) != 0) {
      int err = errno;
      struct stat st;
      // An existing folder is left as it is: its mode is the owner's choice.
      if (err == EEXIST && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return Status::Ok();
      }
      if (err == EEXIST) return Status::InvalidArgument("not a folder: " + folder);
      return ErrnoStatus("cannot create folder", folder, err);
    }
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) return ErrnoStatus("cannot open folder", folder, errno);
    // The group of the folder above, so that the clients' group can write;
    // a process outside that group keeps its own (the mode still applies).
    struct stat above;
    if (::stat(parent.c_str(), &above) == 0) ::fchown(fd.get(), static_cast<uid_t>(-1), above.st_gid);
    if (::fchmod(fd.get(), kSharedFolderMode) != 0) {
      return ErrnoStatus("cannot set mode of", folder, errno);
    }
    return Status::Ok();
  }

  Status DeleteFolder(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    if (::rmdir(path.c_str()) != 0) return ErrnoStatus("cannot remove folder", path, errno);
    return Status::Ok();
  }

  StatusOr<bool> RemoveLink(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    PlacedName target;
    VANTREL_RETURN_IF_ERROR(PlaceName(path, &target));
    struct stat st;
    if (::fstatat(target.folder.get(), target.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(st.st_mode)) {
      return false;
    }
    if (::unlinkat(target.folder.get(), target.name.c_str(), 0) != 0) {
      return ErrnoStatus("cannot remove the link", path, errno);
    }
    return true;
  }

  Status EmptyFolder(const std::string& path, bool recursive) override {
    const Status not_valid = Status::InvalidArgument("not a valid folder: " + path);
    if (!CheckPath(path).ok() || path[0] != '/') return not_valid;
    // O_NOFOLLOW: a link put in the folder's place is refused, never
    // emptied through. The checks are made on what was opened.
    Fd fd(OpenServedPath(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (fd.get() < 0) {
      const int err = errno;
      if (err == ENOENT || err == ENOTDIR) return not_valid;
      return ErrnoStatus("cannot open folder", path, err);
    }
    if (::faccessat(fd.get(), ".", X_OK, 0) != 0) return not_valid;
    std::string shown = path;
    while (shown.size() > 1 && shown.back() == '/') shown.pop_back();
    return EmptyFolderAt(fd.get(), shown == "/" ? "" : shown, recursive, 0);
  }

  StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    Fd fd(OpenServedPath(path, O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0) return OpenFailureStatus("cannot list folder", path, errno);
    int list_fd = ::dup(fd.get());
    if (list_fd < 0) return ErrnoStatus("cannot list folder", path, errno);
    DIR* dir = ::fdopendir(list_fd);
    if (dir == nullptr) {
      int err = errno;
      ::close(list_fd);
      return ErrnoStatus("cannot list folder", path, err);
    }
    std::vector<FolderEntry> entries;
    for (;;) {
      errno = 0;
      struct dirent* e = ::readdir(dir);
      if (e == nullptr) {
        int err = errno;
        if (err != 0) {
          ::closedir(dir);
          return ErrnoStatus("cannot list folder", path, err);
        }
        break;
      }
      FolderEntry entry;
      entry.name = e->d_name;
      if (entry.name == "." || entry.name == "..") continue;
      entry.hidden = entry.name[0] == '.';
      // Every entry shows itself: a symbolic link is reported as a link,
      // never as what it points to.
      struct stat st;
      if (::fstatat(fd.get(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        entry.is_link = S_ISLNK(st.st_mode);
        entry.is_folder = S_ISDIR(st.st_mode);
        entry.size = entry.is_folder ? 0 : static_cast<uint64_t>(st.st_size);
        entry.modified = ModifiedOf(st);
        entry.device = static_cast<uint64_t>(st.st_dev);
        entry.inode = static_cast<uint64_t>(st.st_ino);
      } else {
        continue;  // vanished between readdir and stat
      }
      entries.push_back(std::move(entry));
    }
    ::closedir(dir);
    return entries;
  }

  bool IsValidFolder(const std::string& path) override {
    if (!CheckPath(path).ok() || path[0] != '/') return false;
    // Listable: the folder can be opened for reading and searched.
    Fd fd(OpenServedPath(path, O_RDONLY | O_DIRECTORY));
    if (fd.get() < 0) return false;
    return ::faccessat(fd.get(), ".", X_OK, 0) == 0;
  }

  StatusOr<uint64_t> FreeSpace(const std::string& path) override {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) return ErrnoStatus("cannot read free space of", path, errno);
    return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  }

 private:
  // Writes a temporary file beside `path` and renames it over `path`; with
  // `modified`, the file carries that last-write time before it appears.
  Status WriteAtomic(const std::string& path, std::string_view data, int mode,
                     const WinFileTime* modified) {
    VANTREL_RETURN_IF_ERROR(CheckPath(path));
    if (path.back() == '/') return Status::InvalidArgument("not a file name: " + path);
    PlacedName target;
    VANTREL_RETURN_IF_ERROR(PlaceName(path, &target));
    VANTREL_RETURN_IF_ERROR(ReplaceThroughTemporary(target, [&](int fd) -> Status {
      // fchmod is not subject to the umask, so the file ends with exactly this mode.
      if (::fchmod(fd, ReplacementMode(target, mode)) != 0) {
        return ErrnoStatus("cannot set mode of", path, errno);
      }
      VANTREL_RETURN_IF_ERROR(WriteAll(fd, data, path));
      if (modified != nullptr) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecOf(*modified)};
        if (::futimens(fd, times) != 0) return ErrnoStatus("cannot set time of", path, errno);
      }
      if (::fsync(fd) != 0) return ErrnoStatus("cannot sync", path, errno);
      return Status::Ok();
    }));
    // The new content is in place; a failed folder sync only weakens the
    // guarantee after a power loss, so it is reported but nothing is undone.
    return SyncOpenFolder(target.folder.get(), ParentOf(path));
  }
};

}  // namespace

FileSystem* DefaultFileSystem() {
  static PosixFileSystem* const fs = new PosixFileSystem();
  return fs;
}

}  // namespace vantrel
