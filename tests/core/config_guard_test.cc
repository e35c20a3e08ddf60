#include "core/config_guard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/config_file.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

constexpr int64_t kNoon = 1796644800;  // 2026-12-07 12:00:00 UTC

Configuration Named(const std::string& password) {
  Configuration c;
  EXPECT_TRUE(SetEditPassword(&c, password).ok());
  return c;
}

std::vector<std::string> NamesIn(const TempDir& dir) {
  std::vector<std::string> names;
  const std::vector<FolderEntry> entries = DefaultFileSystem()->ListFolder(dir.path()).value();
  for (const FolderEntry& e : entries) {
    names.push_back(e.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ConfigSaverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SaveConfiguration(fs_, Named("operator"), path_).ok());
    NullVolumeNamer namer;
    ConfigLoad load = LoadConfiguration(fs_, path_, namer);
    ASSERT_TRUE(load.status.ok());
    loaded_ = load.stamp;
  }
  std::string Password(const std::string& path) {
    NullVolumeNamer namer;
    return LoadConfiguration(fs_, path, namer).config.edit_password;
  }

  TempDir dir_;
  FileSystem& fs_ = *DefaultFileSystem();
  const std::string path_ = dir_.Path("cfg");
  ConfigFileStamp loaded_;
};

TEST_F(ConfigSaverTest, UnchangedFileIsReplacedAgainAndAgain) {
  ConfigSaver saver(&fs_, path_, loaded_);
  for (const char* pw : {"first", "second"}) {
    ConfigSaver::Outcome out = saver.Save(Named(pw), kNoon);
    ASSERT_TRUE(out.status.ok()) << out.status.ToString();
    EXPECT_TRUE(out.side_path.empty());
    EXPECT_EQ(Password(path_), pw);
  }
  // Deleted meanwhile: nothing of the operator's is lost by writing it again.
  ASSERT_TRUE(fs_.DeleteFile(path_).ok());
  EXPECT_TRUE(saver.Save(Named("third"), kNoon).side_path.empty());
  EXPECT_EQ(Password(path_), "third");
}

TEST_F(ConfigSaverTest, FileChangedOnDiskIsNeverOverwritten) {
  ConfigSaver saver(&fs_, path_, loaded_);
  // The layout fixes the file's size, so only the content tells this edit.
  ASSERT_TRUE(SaveConfiguration(fs_, Named("edited by hand"), path_).ok());

  ConfigSaver::Outcome out = saver.Save(Named("server"), kNoon);
  ASSERT_TRUE(out.status.ok()) << out.status.ToString();
  EXPECT_TRUE(out.newly_diverted);
  EXPECT_EQ(out.side_path, path_ + ".unsaved-20261207-120000");
  EXPECT_EQ(Password(path_), "edited by hand");
  EXPECT_EQ(Password(out.side_path), "server");
  // Later saves of the same run replace the same side file.
  ConfigSaver::Outcome again = saver.Save(Named("server 2"), kNoon + 60);
  EXPECT_FALSE(again.newly_diverted);
  EXPECT_EQ(again.side_path, out.side_path);
  EXPECT_EQ(Password(out.side_path), "server 2");
  EXPECT_EQ(Password(path_), "edited by hand");

  // A file that appeared after a start without one is somebody else's too.
  ConfigSaver fresh(&fs_, path_, ConfigFileStamp{});
  EXPECT_FALSE(fresh.Save(Named("server"), kNoon).side_path.empty());
  EXPECT_NE(Password(path_), "server");
}

TEST_F(ConfigSaverTest, UnreadableFileIsNeitherLoadedAsDefaultsNorReplaced) {
  FaultFileSystem faulty(&fs_);
  faulty.FailReadsMatching("*/cfg");
  NullVolumeNamer namer;
  ConfigLoad load = LoadConfiguration(faulty, path_, namer);
  EXPECT_EQ(load.status.code(), StatusCode::kIoError);
  EXPECT_TRUE(load.file_found);

  ConfigSaver saver(&faulty, path_, loaded_);
  EXPECT_FALSE(saver.Save(Named("server"), kNoon).status.ok());
  EXPECT_EQ(Password(path_), "operator");
}

TEST(KeepDamagedCopyTest, EveryCopyGetsItsOwnNameAndTheNewestFiveStay) {
  TempDir dir;
  FileSystem& fs = *DefaultFileSystem();
  const std::string path = dir.Path("cfg");
  std::vector<std::string> kept;
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(dir.WriteFile("cfg", "damaged " + std::to_string(i)));
    // Two copies in the same second, then one a second later, and so on.
    StatusOr<std::string> copy = KeepDamagedCopy(fs, path, kNoon + i / 2);
    ASSERT_TRUE(copy.ok()) << copy.status().ToString();
    EXPECT_EQ(fs.ReadFile(*copy).value(), "damaged " + std::to_string(i));
    kept.push_back(copy->substr(dir.path().size() + 1));
  }
  EXPECT_EQ(kept[0], "cfg.damaged-20261207-120000");
  EXPECT_EQ(kept[1], "cfg.damaged-20261207-120000-02");
  EXPECT_EQ(kept[2], "cfg.damaged-20261207-120001");
  std::vector<std::string> expected(kept.begin() + 2, kept.end());
  expected.insert(expected.begin(), "cfg");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(NamesIn(dir), expected);
}

}  // namespace
}  // namespace vantrel
