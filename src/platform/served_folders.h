// Served folders: the folders that clients and other users write into (image
// folders, search folders, the PDF folder).
//
// Below a served folder nothing is reached through a symbolic link. Listing
// passes links by, but a client can replace a sub-folder by a link between
// the listing and the read; a plain open would then walk through it and read
// or write outside the folder. So every open of a path below a served folder
// resolves the part below the folder with no link allowed anywhere in it
// (openat2 with RESOLVE_BENEATH and RESOLVE_NO_SYMLINKS, or a walk of one
// component at a time with O_NOFOLLOW where the kernel lacks openat2). The
// folder's own path is the operator's and may hold links.
//
// Some served folders are the server's own, made inside a folder of the
// operator's (an index's search folder in its index folder). For those only
// the operator's part may hold links: the server's own components are
// resolved as what lies below them, so a link that a user put in the place
// of the server's folder is not followed either, and the folder itself is
// opened under the same rule.
//
// Paths outside every served folder open as with open(2).
//
// Thread safety: every function may be called from any thread at any time;
// SetServedFolders replaces the whole set at once.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/unique_fd.h"

namespace vantrel {

// One served folder: `path`, of which the leading folder `operators_part` is
// the operator's (links allowed); empty means all of `path`.
struct ServedFolder {
  ServedFolder(std::string folder, std::string operators = {})
      : path(std::move(folder)), operators_part(std::move(operators)) {}
  ServedFolder(const char* folder) : path(folder) {}

  std::string path;
  std::string operators_part;

  bool operator==(const ServedFolder&) const = default;
};

// Replaces the set of served folders (absolute native paths; empty and
// relative ones are ignored, trailing slashes do not count; an operator's
// part that does not hold `path` counts as all of it).
void SetServedFolders(const std::vector<ServedFolder>& folders);

// The current set, as given (normalized), for logs and tests.
std::vector<std::string> ServedFolders();

// open(2) of `path` with `flags` (and `mode` when creating), except that the
// part of `path` below the longest served folder that holds it (below its
// operator's part, for the server's own folders) is resolved without
// following any symbolic link and without leaving the folder. Returns
// the descriptor, or -1 with errno set: ELOOP for a link below the folder,
// EXDEV for a ".." that would leave it. O_CLOEXEC is always added.
int OpenServedPath(const std::string& path, int flags, mode_t mode = 0);

// The status for an open of `path` that failed with `err`: a symbolic link
// at the name, or one on the way below a served folder (ELOOP, or EXDEV for
// a ".." out of it), reads as a missing file (kNotFound), since links there
// are never followed; anything else as ErrnoStatus(what, path, err) gives it.
Status OpenFailureStatus(const char* what, const std::string& path, int err);

// Opens the file at `path` for reading under that rule (never following a
// link at the name either; O_NONBLOCK, so a pipe cannot make it wait).
// kNotFound when it is missing or reached only through a link, else the
// error as ErrnoStatus gives it.
Status OpenServedFileForRead(const std::string& path, UniqueFd* file);

// The served folder that `path` lies strictly below (the longest), or "".
std::string ServedFolderHolding(const std::string& path);

// A path naming the very file open at `fd` ("/proc/self/fd/<fd>"), for
// libraries that open files only by name: opening it reaches that file
// whatever has since been done to the names that led to it.
std::string PathOfOpenFile(int fd);

// The same resolution below an open folder `dir_fd`, done one component at a
// time with O_NOFOLLOW: what OpenServedPath falls back to on kernels without
// openat2. `below` is relative. Exposed for tests.
int OpenBelowByWalking(int dir_fd, const std::string& below, int flags, mode_t mode);

}  // namespace vantrel
