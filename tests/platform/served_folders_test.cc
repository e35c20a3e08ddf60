#include "platform/served_folders.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/file_streams.h"
#include "platform/file_system.h"
#include "platform/mapped_file.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// A served folder "images" with a real sub-folder, and a sub-folder that a
// client replaced by a link to a folder outside; "via" is the operator's own
// link to the served folder.
class ServedFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.WriteFile("images/real/photo.jpg", "inside"));
    ASSERT_TRUE(dir_.WriteFile("outside/secret/photo.jpg", "outside"));
    ASSERT_EQ(::symlink(dir_.Path("outside/secret").c_str(), dir_.Path("images/swapped").c_str()),
              0);
    ASSERT_EQ(::symlink(dir_.Path("images").c_str(), dir_.Path("via").c_str()), 0);
  }
  void TearDown() override { SetServedFolders({}); }

  // What open gives for `path`: the file's first bytes, or the errno.
  static std::string Opened(const std::string& path) {
    int fd = OpenServedPath(path, O_RDONLY | O_NOFOLLOW);
    if (fd < 0) return "errno " + std::to_string(errno);
    char buf[16];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
  }

  TempDir dir_;
  const std::string kLoop = "errno " + std::to_string(ELOOP);
  const std::string kEscape = "errno " + std::to_string(EXDEV);
};

TEST_F(ServedFoldersTest, BelowAServedFolderNoLinkIsFollowedWhateverItsOwnPath) {
  // The folder named directly (resolved in one call) and through the
  // operator's link (resolved below the opened folder) answer alike.
  for (const std::string& root : {dir_.Path("images"), dir_.Path("via"), dir_.Path("via/")}) {
    SCOPED_TRACE(root);
    SetServedFolders({root});
    const std::string base = dir_.Path(root.find("via") != std::string::npos ? "via" : "images");
    EXPECT_EQ(Opened(base + "/real/photo.jpg"), "inside");
    EXPECT_EQ(Opened(base + "//real/./photo.jpg"), "inside");
    EXPECT_EQ(Opened(base + "/swapped/photo.jpg"), kLoop);
    EXPECT_EQ(Opened(base + "/real/../swapped/photo.jpg"), kLoop);
    EXPECT_EQ(Opened(base + "/real/../../outside/secret/photo.jpg"), kEscape);
    EXPECT_EQ(Opened(base + "/swapped"), kLoop);
  }
  // Outside every served folder, and in a folder whose name only starts like
  // a served one, links above the last component are followed as before.
  SetServedFolders({dir_.Path("imag"), "relative/ignored", ""});
  EXPECT_EQ(ServedFolders(), std::vector<std::string>{dir_.Path("imag")});
  EXPECT_EQ(Opened(dir_.Path("images/swapped/photo.jpg")), "outside");
  SetServedFolders({});
  EXPECT_EQ(Opened(dir_.Path("images/swapped/photo.jpg")), "outside");
}

// A folder registered without links that the operator later moves behind a
// link is still served: the link in its own path is allowed.
TEST_F(ServedFoldersTest, AFolderThatGainsALinkInItsOwnPathStaysReadable) {
  SetServedFolders({dir_.Path("images")});
  ASSERT_EQ(::rename(dir_.Path("images").c_str(), dir_.Path("moved").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("moved").c_str(), dir_.Path("images").c_str()), 0);
  EXPECT_EQ(Opened(dir_.Path("images/real/photo.jpg")), "inside");
  EXPECT_EQ(Opened(dir_.Path("images/swapped/photo.jpg")), kLoop);
}

// A folder that the server makes in a folder of the operator's (an index's
// search folder): a link that a user put in its place is followed neither
// for the folder itself nor for what is in it, while the operator's folder
// may still be reached through the operator's link.
TEST_F(ServedFoldersTest, ALinkInPlaceOfTheServersOwnFolderIsNotFollowed) {
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/A.QRY", "request"));
  ASSERT_EQ(::symlink(dir_.Path("index").c_str(), dir_.Path("via-index").c_str()), 0);
  FileSystem* fs = DefaultFileSystem();
  const std::string real = dir_.Path("index/VT_SEARCH");
  const std::string put_aside = dir_.Path("index/aside");
  for (const std::string& index : {dir_.Path("index"), dir_.Path("via-index")}) {
    SCOPED_TRACE(index);
    const std::string search = index + "/VT_SEARCH";
    SetServedFolders({{search, index}});
    EXPECT_EQ(Opened(search + "/A.QRY"), "request");
    EXPECT_EQ(Opened(search + "/../VT_SEARCH/A.QRY"), kEscape);
    EXPECT_TRUE(fs->ListFolder(search).ok());
    EXPECT_TRUE(fs->WriteFile(search + "/A.HIT", "answer").ok());

    ASSERT_EQ(::rename(real.c_str(), put_aside.c_str()), 0);
    ASSERT_EQ(::symlink(dir_.Path("outside/secret").c_str(), real.c_str()), 0);
    EXPECT_EQ(Opened(search + "/photo.jpg"), kLoop);
    EXPECT_FALSE(fs->ListFolder(search).ok());
    EXPECT_FALSE(fs->IsValidFolder(search));
    EXPECT_FALSE(fs->WriteFile(search + "/B.HIT", "x").ok());
    EXPECT_FALSE(fs->WriteFileAtomic(search + "/C.HIT", "x").ok());
    EXPECT_FALSE(fs->DeleteFile(search + "/photo.jpg").ok());
    EXPECT_EQ(fs->ListFolder(dir_.Path("outside/secret")).value().size(), 1u);  // photo.jpg

    ASSERT_EQ(::unlink(real.c_str()), 0);
    ASSERT_EQ(::rename(put_aside.c_str(), real.c_str()), 0);
  }
  // Registered as the operator's as a whole, the folder's own name may be a
  // link, as an image folder's may.
  SetServedFolders({real});
  ASSERT_EQ(::rename(real.c_str(), put_aside.c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("outside/secret").c_str(), real.c_str()), 0);
  EXPECT_EQ(Opened(real + "/photo.jpg"), "outside");
}

// The walk that stands in for openat2 gives the same answers.
TEST_F(ServedFoldersTest, TheWalkRefusesLinksAndEscapesAsOpenat2Does) {
  int dir_fd = ::open(dir_.Path("images").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir_fd, 0);
  auto walk = [&](const std::string& below, int flags) {
    int fd = OpenBelowByWalking(dir_fd, below, flags, 0);
    if (fd < 0) return "errno " + std::to_string(errno);
    ::close(fd);
    return std::string("opened");
  };
  EXPECT_EQ(walk("real/photo.jpg", O_RDONLY), "opened");
  EXPECT_EQ(walk("real//./photo.jpg", O_RDONLY), "opened");
  EXPECT_EQ(walk("real", O_RDONLY | O_DIRECTORY), "opened");
  EXPECT_EQ(walk("swapped/photo.jpg", O_RDONLY), kLoop);
  EXPECT_EQ(walk("swapped", O_RDONLY | O_DIRECTORY), kLoop);
  EXPECT_EQ(walk("real/../real/photo.jpg", O_RDONLY), kEscape);
  EXPECT_EQ(walk("real/missing.jpg", O_RDONLY), "errno " + std::to_string(ENOENT));
  EXPECT_EQ(walk("real/photo.jpg/x", O_RDONLY), "errno " + std::to_string(ENOTDIR));
  EXPECT_EQ(walk("real/new.jpg", O_WRONLY | O_CREAT | O_EXCL), "opened");
  ::close(dir_fd);
}

// Every reader and writer of the platform layer keeps to the rule.
TEST_F(ServedFoldersTest, ReadersAndWritersStopAtALinkBelowAServedFolder) {
  SetServedFolders({dir_.Path("images")});
  FileSystem* fs = DefaultFileSystem();
  const std::string through = dir_.Path("images/swapped/photo.jpg");
  EXPECT_TRUE(fs->ReadFile(through).status().IsNotFound());
  EXPECT_TRUE(MappedFile::Open(through).status().IsNotFound());
  EXPECT_TRUE(fs->ListFolder(dir_.Path("images/swapped")).status().IsNotFound());
  EXPECT_FALSE(fs->IsValidFolder(dir_.Path("images/swapped")));
  EXPECT_FALSE(fs->WriteFile(dir_.Path("images/swapped/new.txt"), "x").ok());
  EXPECT_FALSE(fs->WriteFileAtomic(dir_.Path("images/swapped/photo.jpg"), "x").ok());
  EXPECT_FALSE(fs->Exists(dir_.Path("outside/secret/new.txt")));
  // A writer removes a hard-linked name before it writes; never one that it
  // reached through the link.
  ASSERT_EQ(::link(dir_.Path("outside/secret/photo.jpg").c_str(),
                   dir_.Path("outside/secret/second.HIT").c_str()),
            0);
  EXPECT_FALSE(fs->WriteFile(dir_.Path("images/swapped/second.HIT"), "x").ok());
  EXPECT_TRUE(fs->Exists(dir_.Path("outside/secret/second.HIT")));
  EXPECT_FALSE(fs->DeleteFile(dir_.Path("images/swapped/second.HIT")).ok());
  EXPECT_TRUE(fs->Exists(dir_.Path("outside/secret/second.HIT")));
  EXPECT_EQ(*fs->ReadFile(dir_.Path("outside/secret/photo.jpg")), "outside");

  // Macintosh streams: neither the sidecar nor the attributes of a file
  // reached through the link are read.
  std::string fork = mac_test::TextResourceFork("A caption behind a link");
  ASSERT_TRUE(dir_.WriteFile("outside/secret/._photo.jpg",
                             mac_test::MacOsSidecar("JPEG", "8BIM", fork)));
  EXPECT_TRUE(
      DefaultFileStreams()->OpenStream(through, MacStream::kResourceFork).status().IsNotFound());
  if (mac_test::UserXattrsSupported(dir_.path())) {
    ASSERT_TRUE(mac_test::SetXattr(dir_.Path("outside/secret/photo.jpg"),
                                   "user.DosStream.TEXT:$DATA", "#CAP secret"));
    EXPECT_TRUE(DefaultFileStreams()->OpenStream(through, MacStream::kText).status().IsNotFound());
  }
  // The same file reached by its own path, outside the served folder, has both.
  const std::string direct = dir_.Path("outside/secret/photo.jpg");
  EXPECT_TRUE(DefaultFileStreams()->OpenStream(direct, MacStream::kResourceFork).ok());

  // And what lies truly inside is read, listed and written as before.
  EXPECT_EQ(*fs->ReadFile(dir_.Path("images/real/photo.jpg")), "inside");
  EXPECT_TRUE(fs->ListFolder(dir_.Path("images/real")).ok());
  EXPECT_TRUE(fs->WriteFile(dir_.Path("images/real/new.txt"), "x").ok());
  EXPECT_TRUE(fs->WriteFileAtomic(dir_.Path("images/real/photo.jpg"), "replaced").ok());
  EXPECT_EQ(*fs->ReadFile(dir_.Path("images/real/photo.jpg")), "replaced");
}

}  // namespace
}  // namespace vantrel
