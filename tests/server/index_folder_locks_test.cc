#include "server/index_folder_locks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/file_names.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

IndexDefinition Active(const std::string& name, const std::string& folder) {
  IndexDefinition def = NewIndexDefinition(name, folder).value();
  def.active = 1;
  return def;
}

class IndexFolderLocksTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.MakeFolder("a") && dir_.MakeFolder("b")); }
  std::vector<uint32_t> Lock(IndexFolderLocks& locks, Configuration config) {
    lines_.clear();
    locks.LockServedIndexes(&config, [this](const std::string& l) { lines_.push_back(l); });
    std::vector<uint32_t> active;
    for (const IndexDefinition& def : config.indexes) active.push_back(def.active);
    return active;
  }
  std::string LockFile(const char* folder) {
    return dir_.Path(folder) + "/" + names::kDataFolder + "/" + names::kIndexLockFile;
  }

  TempDir dir_;
  std::vector<std::string> lines_;
};

TEST_F(IndexFolderLocksTest, EachFolderIsServedOnceAndMissingFoldersAreLeftToTheChecks) {
  Configuration config;
  config.indexes = {Active("A", dir_.Path("a")), Active("B", dir_.Path("b")),
                    Active("A again", dir_.Path("a")), Active("Gone", dir_.Path("gone"))};
  IndexFolderLocks mine("pid 1, start directory /one");
  EXPECT_EQ(Lock(mine, config), (std::vector<uint32_t>{1, 1, 0, 1}));
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_NE(lines_[0].find("A again"), std::string::npos) << lines_[0];
  EXPECT_EQ(InstanceLock::ReadOwnerInfo(LockFile("a")).value(), "pid 1, start directory /one");

  // Another server: refused with the holder named, for both folders.
  IndexFolderLocks other("pid 2, start directory /two");
  config.indexes.resize(2);
  EXPECT_EQ(Lock(other, config), (std::vector<uint32_t>{0, 0}));
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_NE(lines_[0].find("is not served: another Vantrel server serves it (pid 1, start "
                           "directory /one)"),
            std::string::npos)
      << lines_[0];

  // A later pass keeps what it holds; an index no longer served is let go.
  config.indexes[1].active = 0;
  EXPECT_EQ(Lock(mine, config), (std::vector<uint32_t>{1, 0}));
  EXPECT_TRUE(InstanceLock::IsHeld(LockFile("a")));
  EXPECT_FALSE(InstanceLock::IsHeld(LockFile("b")));
}

TEST_F(IndexFolderLocksTest, ALockFileDeletedByARebuildIsTakenAgain) {
  Configuration config;
  config.indexes = {Active("A", dir_.Path("a"))};
  IndexFolderLocks mine("pid 1");
  EXPECT_EQ(Lock(mine, config), (std::vector<uint32_t>{1}));
  ASSERT_TRUE(DefaultFileSystem()->EmptyFolder(dir_.Path("a/VT_DATA"), true).ok());
  EXPECT_FALSE(InstanceLock::IsHeld(LockFile("a")));
  EXPECT_EQ(Lock(mine, config), (std::vector<uint32_t>{1}));
  EXPECT_TRUE(InstanceLock::IsHeld(LockFile("a")));
}

}  // namespace
}  // namespace vantrel
