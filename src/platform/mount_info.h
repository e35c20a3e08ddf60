// Which file system holds a path, from /proc/self/mountinfo.
//
// inotify sees only changes made through the local kernel. On a network
// mount, changes that other hosts make arrive without any event, so a folder
// there counts as not watched and is polled instead.
//
// The parsing functions are pure (tests feed them text); IsNetworkMount reads
// the live table.
//
// Thread safety: no shared state.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace vantrel {

// The file system type ("ext4", "nfs4", "fuse.sshfs", ...) of the mount that
// holds the absolute, already resolved `path`, i.e. the entry of `mountinfo`
// (text in the /proc/<pid>/mountinfo format) with the longest mount point
// that is `path` or one of its parents. When several mounts share that mount
// point, the last one listed (the one on top) answers. Octal escapes in mount
// points (\040 for a blank) are decoded. kNotFound when no line fits;
// malformed lines are skipped.
StatusOr<std::string> FileSystemTypeFromMountInfo(std::string_view mountinfo,
                                                  std::string_view path);

// True for the types of file systems served by other hosts: nfs, nfs4, cifs,
// smb3, smbfs, ncpfs, afs, ceph, 9p, glusterfs, lustre and the network
// file systems in user space (fuse.sshfs, fuse.rclone, ...).
bool IsNetworkFileSystemType(std::string_view fs_type);

// Resolves `path` (realpath) and looks it up in /proc/self/mountinfo. false
// when the path or the table cannot be read: such a folder fails to be
// watched in its own way.
bool IsNetworkMount(const std::string& path);

}  // namespace vantrel
