// FileSystem: the one door to files and folders.
//
// Everything above src/platform/ reads, writes, lists and deletes files through
// this interface, never through the C library or the OS. Tests hand a
// temporary folder (and, where they test failures, a fault-injecting wrapper
// derived from this class) to the code under test.
//
// Paths here are native: absolute POSIX paths in UTF-8 with '/' separators.
// Turning a backslash key or a code-page text into a native path (and back) is
// the job of platform/paths.h and platform/code_page.h.
//
// Thread safety: every method may be called from any thread at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vantrel {

// The mode of a folder that clients write into, and of the files in it that
// clients delete (answers): group-writable, never writable by others.
inline constexpr int kSharedFolderMode = 02775;
inline constexpr int kSharedFileMode = 0664;

// A Windows-style file time: 100-nanosecond units since 1601-01-01 UTC.
using WinFileTime = uint64_t;

struct FileInfo {
  bool is_folder = false;
  uint64_t size = 0;
  WinFileTime modified = 0;  // last write time
};

// One name of a folder listing. A symbolic link is listed as itself
// (is_link set, never is_folder, the link's own size and time): listings
// never lead through a link that a user placed in a served folder.
struct FolderEntry {
  std::string name;  // UTF-8 name as stored on disk, no path
  bool is_folder = false;
  bool is_link = false;
  bool hidden = false;  // the name begins with '.'
  uint64_t size = 0;
  WinFileTime modified = 0;
  // Which file system object this is (0 when unknown): a walk that meets a
  // folder it is already inside (a bind mount of an ancestor) stops there.
  uint64_t device = 0;
  uint64_t inode = 0;
};

// A file being written front to back, with positioned writes for headers that
// are filled in last. Close() (or destruction) releases it; Sync() flushes it
// to the disk.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual Status Append(std::string_view data) = 0;
  virtual Status WriteAt(uint64_t offset, std::string_view data) = 0;
  virtual Status Sync() = 0;
  virtual Status Close() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Reads a whole file. Fails with kResourceExhausted when it is larger than
  // max_bytes, kNotFound when it does not exist.
  virtual StatusOr<std::string> ReadFile(
      const std::string& path, size_t max_bytes = std::numeric_limits<size_t>::max()) = 0;

  // Reads up to `length` bytes at `offset`; a short result means end of file.
  virtual StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                              size_t length) = 0;

  // Links and client folders. Clients write into the folders the server
  // serves, so no method that opens a file follows a symbolic link at the
  // last component of its path:
  //  - ReadFile and ReadFileRange (and CopyFile's source) fail with
  //    kNotFound on a symbolic link and kInvalidArgument on anything that is
  //    not a regular file;
  //  - OpenForWrite, OpenForOverwrite, WriteFile and AppendToFile write in
  //    place only into a regular file with a single name, keeping its mode;
  //    a symbolic link, a hard-linked file or a pipe at the name is removed
  //    (the name only, never what it points to) and a new file is created in
  //    its place with exactly `mode` (0644 where there is no `mode`);
  //  - WriteFileAtomic and CopyFile rename a new file over the name, which
  //    replaces a link instead of writing through it.

  // Creates or truncates `path` and opens it for writing, with `mode` for a new file.
  virtual StatusOr<std::unique_ptr<WritableFile>> OpenForWrite(const std::string& path,
                                                               int mode = 0644) = 0;

  // WriteFileAtomic for a file whose last-write time is `modified` from the
  // moment it appears: no reader ever sees it with the time of its writing.
  virtual Status WriteFileAtomicDated(const std::string& path, std::string_view data, int mode,
                                      WinFileTime modified) = 0;

  // Replaces `path` so that a reader sees either the old or the new content,
  // never a mixture: writes a temporary file (random name, created
  // exclusively) beside it, syncs it and renames it over the old one. A new
  // file gets `mode`; a replaced regular file's mode is never widened (the
  // result is `mode` without the bits the old file lacked).
  virtual Status WriteFileAtomic(const std::string& path, std::string_view data,
                                 int mode = 0644) = 0;

  // Creates or truncates `path` and writes `data` in place.
  virtual Status WriteFile(const std::string& path, std::string_view data) = 0;

  // Appends `data` to the end of `path` (created with mode 0644 when missing),
  // as one write: lines appended by several writers never interleave inside
  // a line. The default reads and rewrites the file; real file systems
  // override it with an appending write.
  virtual Status AppendToFile(const std::string& path, std::string_view data) {
    StatusOr<std::string> old = ReadFile(path);
    if (!old.ok() && !old.status().IsNotFound()) return old.status();
    std::string whole = old.ok() ? std::move(old.value()) : std::string();
    whole.append(data);
    return WriteFileAtomic(path, whole);
  }

  // Opens an existing file, or creates it, for writing WITHOUT truncating it:
  // bytes past what is written keep their old values. For files that clients
  // read in place (hit files), where a shorter new content keeps the old tail.
  virtual StatusOr<std::unique_ptr<WritableFile>> OpenForOverwrite(const std::string& path,
                                                                   int mode = 0644) {
    (void)mode;
    return Status::Unavailable("in-place writing is not offered by this file system: " + path);
  }

  virtual StatusOr<FileInfo> Stat(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual bool IsFolder(const std::string& path) = 0;

  // Deletes a file; kNotFound when it was not there.
  virtual Status DeleteFile(const std::string& path) = 0;
  // Renames, replacing an existing target file.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // Copies a file (replacing the target). The copy is not synced: a caller
  // that needs it on the disk calls SyncFile, for many files after all are
  // copied, so that their writing overlaps.
  virtual Status CopyFile(const std::string& from, const std::string& to) = 0;
  // Flushes a folder's entries (new, renamed and deleted names in it) to the
  // disk, so that they survive a power loss. The default does nothing, for
  // file systems that keep nothing on a disk.
  virtual Status SyncFolder(const std::string& path) {
    (void)path;
    return Status::Ok();
  }
  // Flushes a regular file's contents to the disk (a symbolic link is
  // refused, as by ReadFile). The default does nothing, as SyncFolder's.
  virtual Status SyncFile(const std::string& path) {
    (void)path;
    return Status::Ok();
  }

  // True when no folder on the way from `base` down to `path` (`base` itself
  // excluded, `path` included) is a symbolic link, and `path` lies inside
  // `base`. For folders below a folder that clients write into: a link
  // planted there would carry a read or a write out of it. The default (file
  // systems without links) checks only that `path` lies inside `base`.
  virtual bool IsInsideWithoutLinks(const std::string& base, const std::string& path) {
    std::string_view top = base;
    while (top.size() > 1 && top.back() == '/') top.remove_suffix(1);
    std::string_view below = path;
    while (below.size() > 1 && below.back() == '/') below.remove_suffix(1);
    if (top.empty() || !below.starts_with(top)) return false;
    return below.size() == top.size() || top == "/" || below[top.size()] == '/';
  }

  // Creates the folder and every missing folder above it. OK when it exists.
  virtual Status CreateFolders(const std::string& path) = 0;
  // Creates a folder that clients write into (through a file share mapped to
  // several users): like CreateFolders, and when the last level is new it
  // gets kSharedFolderMode (group-writable, set-group-id so files created in
  // it keep the folder's group) and the group of the folder above it. An
  // existing folder keeps its mode and group. The default creates the
  // folders only.
  virtual Status CreateSharedFolder(const std::string& path) { return CreateFolders(path); }
  // Removes an empty folder.
  virtual Status DeleteFolder(const std::string& path) = 0;
  // Removes `path` when it is a symbolic link (the link only, never what it
  // points to): true when it did. The server's own folders below an index
  // folder are made again as folders where a client put a link.
  virtual StatusOr<bool> RemoveLink(const std::string& /*path*/) { return false; }
  // Empties `path`: deletes every file in it and, with `recursive`, every
  // sub-folder with its contents. The folder itself stays. Does nothing
  // (returns kInvalidArgument) unless `path` passes IsValidFolder; fails
  // when `path` itself is a symbolic link (what it points to is never
  // emptied).
  virtual Status EmptyFolder(const std::string& path, bool recursive) = 0;

  // Lists a folder's names, "." and ".." excluded, in no particular order.
  virtual StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) = 0;

  // The valid folder test: an absolute path naming an existing, listable
  // folder. Relative paths, files and missing folders are refused. Never
  // changes the current directory.
  virtual bool IsValidFolder(const std::string& path) = 0;

  // Free bytes for an unprivileged user on the file system holding `path`.
  virtual StatusOr<uint64_t> FreeSpace(const std::string& path) = 0;
};

// The real file system. The object lives for the whole process.
FileSystem* DefaultFileSystem();

}  // namespace vantrel
