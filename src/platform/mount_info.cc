// Mount table look-ups (see mount_info.h).
#include "platform/mount_info.h"

#include <limits.h>
#include <stdlib.h>

#include <array>
#include <fstream>
#include <sstream>
#include <vector>

namespace vantrel {
namespace {

// Splits at single blanks; mountinfo never has empty fields.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (pos < line.size()) {
    size_t end = line.find(' ', pos);
    if (end == std::string_view::npos) end = line.size();
    if (end > pos) fields.push_back(line.substr(pos, end - pos));
    pos = end + 1;
  }
  return fields;
}

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes blank, tab, newline and backslash in mount points as
// \ooo.
std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && IsOctal(text[i + 1]) && IsOctal(text[i + 2]) &&
        IsOctal(text[i + 3])) {
      int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
      out.push_back(static_cast<char>(value & 0xFF));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

// True when `mount_point` is `path` or a folder above it.
bool Covers(std::string_view mount_point, std::string_view path) {
  if (mount_point == "/") return !path.empty() && path[0] == '/';
  if (!path.starts_with(mount_point)) return false;
  return path.size() == mount_point.size() || path[mount_point.size()] == '/';
}

}  // namespace

StatusOr<std::string> FileSystemTypeFromMountInfo(std::string_view mountinfo,
                                                  std::string_view path) {
  // Line: id parent major:minor root mount-point options [optional...] - type source super
  std::string best_type;
  size_t best_length = 0;
  bool found = false;
  size_t pos = 0;
  while (pos < mountinfo.size()) {
    size_t end = mountinfo.find('\n', pos);
    if (end == std::string_view::npos) end = mountinfo.size();
    std::string_view line = mountinfo.substr(pos, end - pos);
    pos = end + 1;
    std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < 7) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 1 >= fields.size()) continue;
    std::string mount_point = Unescape(fields[4]);
    if (!Covers(mount_point, path)) continue;
    // ">=": of two mounts on one point the later one is on top.
    if (!found || mount_point.size() >= best_length) {
      found = true;
      best_length = mount_point.size();
      best_type = std::string(fields[dash + 1]);
    }
  }
  if (!found) return Status::NotFound("no mount holds " + std::string(path));
  return best_type;
}

bool IsNetworkFileSystemType(std::string_view fs_type) {
  static constexpr std::array<std::string_view, 13> kNetwork = {
      "nfs",  "nfs4", "cifs",      "smb3",   "smbfs", "ncpfs", "afs",
      "ceph", "9p",   "glusterfs", "lustre", "davfs", "coda"};
  for (std::string_view t : kNetwork) {
    if (fs_type == t) return true;
  }
  // Network file systems in user space: sshfs, rclone, s3fs, davfs2, ...
  static constexpr std::array<std::string_view, 9> kFuseNetwork = {
      "fuse.sshfs",  "fuse.rclone",    "fuse.s3fs",    "fuse.davfs2",  "fuse.glusterfs",
      "fuse.cephfs", "fuse.ceph-fuse", "fuse.gcsfuse", "fuse.smbnetfs"};
  for (std::string_view t : kFuseNetwork) {
    if (fs_type == t) return true;
  }
  return false;
}

bool IsNetworkMount(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) == nullptr) return false;
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  StatusOr<std::string> type = FileSystemTypeFromMountInfo(text.str(), resolved);
  return type.ok() && IsNetworkFileSystemType(*type);
}

}  // namespace vantrel
