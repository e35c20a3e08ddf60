#include "platform/mount_info.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Shaped like /proc/self/mountinfo, with the traps a parser meets: optional
// fields of any number, escaped blanks, stacked mounts, junk lines.
constexpr char kMountInfo[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "30 22 0:40 / /mnt/nas rw,relatime shared:20 master:3 - nfs4 srv:/export rw,vers=4.2\n"
    "31 30 8:2 / /mnt/nas/local rw - xfs /dev/sdb1 rw\n"
    "32 22 0:41 / /srv/my\\040share rw - cifs //host/share rw\n"
    "33 22 0:42 / /home/u/remote rw,nosuid - fuse.sshfs u@host:/ rw\n"
    "34 22 0:43 / /stacked rw - tmpfs tmpfs rw\n"
    "35 34 0:44 / /stacked rw - nfs host:/x rw\n"
    "garbage line without fields\n"
    "36 22 0:45 / /broken rw no-separator-here ext4\n"
    "\n"
    "37 22 0:46 / /last rw - btrfs /dev/sdc1 rw";  // no final line end

TEST(MountInfoTest, FindsTheMountThatHoldsAPath) {
  struct Case {
    const char* path;
    const char* type;
  } cases[] = {
      {"/", "ext4"},
      {"/home/u/pictures", "ext4"},
      {"/mnt/nas", "nfs4"},
      {"/mnt/nas/images/2024", "nfs4"},
      {"/mnt/nasty/images", "ext4"},  // a longer name is not a sub-folder
      {"/mnt/nas/local/x", "xfs"},
      {"/srv/my share/photos", "cifs"},
      {"/home/u/remote/a", "fuse.sshfs"},
      {"/stacked/x", "nfs"},  // the mount on top answers
      {"/broken/x", "ext4"},  // its line is malformed and skipped
      {"/last", "btrfs"},
  };
  for (const Case& c : cases) {
    StatusOr<std::string> type = FileSystemTypeFromMountInfo(kMountInfo, c.path);
    ASSERT_TRUE(type.ok()) << c.path;
    EXPECT_EQ(*type, c.type) << c.path;
  }
}

TEST(MountInfoTest, NoMatchingMountIsNotFound) {
  EXPECT_TRUE(FileSystemTypeFromMountInfo("", "/x").status().IsNotFound());
  EXPECT_TRUE(FileSystemTypeFromMountInfo("1 2 3:4 / /data rw - ext4 d rw\n", "/other")
                  .status()
                  .IsNotFound());
  EXPECT_TRUE(FileSystemTypeFromMountInfo(kMountInfo, "relative").status().IsNotFound());
  // A cut escape at the end of a field is taken literally, not read past.
  StatusOr<std::string> t =
      FileSystemTypeFromMountInfo("1 2 3:4 / /a\\04 rw - ext4 d rw", "/a\\04");
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(*t, "ext4");
}

TEST(MountInfoTest, NetworkTypesAndTheLocalTemporaryFolder) {
  for (const char* t : {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "ceph"}) {
    EXPECT_TRUE(IsNetworkFileSystemType(t)) << t;
  }
  // Names that only begin like a network type are not one.
  for (const char* t : {"ext4", "tmpfs", "overlay", "fuse", "nfsd", ""}) {
    EXPECT_FALSE(IsNetworkFileSystemType(t)) << t;
  }
  TempDir dir;
  EXPECT_FALSE(IsNetworkMount(dir.path()));
  EXPECT_FALSE(IsNetworkMount(dir.Path("missing")));
}

}  // namespace
}  // namespace vantrel
