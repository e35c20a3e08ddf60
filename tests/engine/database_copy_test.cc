// Checked database copies: the completion mark, copies that fail at any
// write or on a full disk, and the repair of a replacement a crash
// interrupted.
#include "engine/database_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/index_files.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

class DatabaseCopyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A database of three files, one larger than a copy chunk.
    ASSERT_TRUE(dir_.WriteFile("db/iamglass", "version 2"));
    ASSERT_TRUE(dir_.WriteFile("db/postlist.glass", std::string((1 << 20) + 5, 'p')));
    ASSERT_TRUE(dir_.WriteFile("db/termlist.glass", "terms"));
    ASSERT_TRUE(dir_.WriteFile("db/flintlock", ""));
  }

  // Makes a complete copy of db as `folder` (the previous good backup).
  void MakeBackup(const std::string& folder, const std::string& version) {
    ASSERT_TRUE(dir_.WriteFile("db/iamglass", version));
    StatusOr<std::string> staged = PrepareStagedCopy(fs_, dir_.Path(folder));
    ASSERT_TRUE(staged.ok());
    ASSERT_TRUE(CopyDatabaseFiles(fs_, dir_.Path("db"), *staged).ok());
    ASSERT_TRUE(MarkCopyComplete(fs_, *staged).ok());
    ASSERT_TRUE(ReplaceWithStagedCopy(fs_, dir_.Path(folder)).ok());
  }

  std::string Read(const std::string& relative) {
    StatusOr<std::string> s = fs_->ReadFile(dir_.Path(relative));
    return s.ok() ? *s : "<" + s.status().ToString() + ">";
  }

  TempDir dir_;
  FileSystem* fs_ = DefaultFileSystem();
};

TEST_F(DatabaseCopyTest, CompleteCopyCarriesAMarkThatNoticesAnyChange) {
  MakeBackup("backup", "version 2");
  EXPECT_TRUE(CheckCopyComplete(fs_, dir_.Path("backup")).ok());
  EXPECT_EQ(Read("backup/postlist.glass"), Read("db/postlist.glass"));
  EXPECT_FALSE(fs_->Exists(dir_.Path("backup/flintlock"))) << "the lock file is not copied";
  EXPECT_FALSE(fs_->Exists(dir_.Path("backup.vtnew")));
  EXPECT_FALSE(fs_->Exists(dir_.Path("backup.vtold")));

  // A truncated file, a missing one, a mark without the version file, a
  // damaged mark, no mark.
  struct Case {
    const char* file;
    std::string content;
    StatusCode want;
  };
  for (const Case& c : {Case{"backup/termlist.glass", "term", StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "postlist.glass\t1048581\n", StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "gone.glass\t1\niamglass\t9\n", StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "iamglass\t9x\n", StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "../db/iamglass\t9\n", StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "iamglass\t99999999999999999999999\n",
                             StatusCode::kCorruption},
                        Case{"backup/VTCOMPLETE", "\t9\n", StatusCode::kCorruption}}) {
    MakeBackup("backup", "version 2");
    ASSERT_TRUE(dir_.WriteFile(c.file, c.content));
    EXPECT_EQ(CheckCopyComplete(fs_, dir_.Path("backup")).code(), c.want) << c.content;
  }
  MakeBackup("backup", "version 2");
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("backup/VTCOMPLETE")).ok());
  EXPECT_EQ(CheckCopyComplete(fs_, dir_.Path("backup")).code(), StatusCode::kNotFound);
}

// A power loss after the mark must find every file it lists on the disk:
// each copied file is synced, after its copy and before the mark.
TEST_F(DatabaseCopyTest, EveryCopiedFileIsSyncedBeforeTheMark) {
  FaultFileSystem watched(fs_);
  StatusOr<std::string> staged = PrepareStagedCopy(&watched, dir_.Path("backup"));
  ASSERT_TRUE(staged.ok());
  ASSERT_TRUE(CopyDatabaseFiles(&watched, dir_.Path("db"), *staged).ok());
  ASSERT_TRUE(MarkCopyComplete(&watched, *staged).ok());
  const std::vector<std::string> written = watched.written_paths();
  const auto mark = std::find(written.begin(), written.end(), *staged + "/VTCOMPLETE");
  ASSERT_NE(mark, written.end());
  for (const char* name : {"iamglass", "postlist.glass", "termlist.glass"}) {
    // Once for the copy, once for the sync.
    EXPECT_EQ(std::count(written.begin(), mark, *staged + "/" + name), 2) << name;
  }
}

TEST_F(DatabaseCopyTest, CopyFailingAtAnyWriteLeavesNoMarkAndThePreviousBackup) {
  MakeBackup("backup", "version 1");
  ASSERT_TRUE(dir_.WriteFile("db/iamglass", "version 2"));
  FaultFileSystem fault(fs_);
  int failures = 0;
  for (int n = 1;; ++n) {
    for (bool disk_full : {false, true}) {
      disk_full ? fault.FillDiskAtNthWrite(n) : fault.FailNthWrite(n);
      const int faults_before = fault.faults_injected();
      StatusOr<std::string> staged = PrepareStagedCopy(&fault, dir_.Path("backup"));
      Status done = staged.status();
      if (done.ok()) done = CopyDatabaseFiles(&fault, dir_.Path("db"), *staged);
      if (done.ok()) done = MarkCopyComplete(&fault, *staged);
      const bool copied = done.ok();
      if (done.ok()) done = ReplaceWithStagedCopy(&fault, dir_.Path("backup"));
      const bool hit = fault.faults_injected() != faults_before;
      fault.ClearFaults();
      if (!hit) {
        ASSERT_TRUE(done.ok()) << done.ToString();
        EXPECT_GT(failures, 10);
        EXPECT_EQ(Read("backup/iamglass"), "version 2");
        EXPECT_TRUE(CheckCopyComplete(fs_, dir_.Path("backup")).ok());
        return;
      }
      ++failures;
      // Until the copy is complete the previous backup is untouched; a
      // failure while they change places leaves one of the two, whole.
      if (!copied) {
        EXPECT_EQ(Read("backup/iamglass"), "version 1") << n << " " << done.ToString();
      }
      EXPECT_TRUE(CheckCopyComplete(fs_, dir_.Path("backup")).ok()) << n << " " << disk_full;
      // Whatever the failure left beside the backup goes at the next attempt.
      ASSERT_TRUE(RecoverStagedCopy(fs_, dir_.Path("backup")).ok());
      EXPECT_FALSE(fs_->Exists(dir_.Path("backup.vtnew"))) << n;
      EXPECT_FALSE(fs_->Exists(dir_.Path("backup.vtold"))) << n;
      MakeBackup("backup", "version 1");
      ASSERT_TRUE(dir_.WriteFile("db/iamglass", "version 2"));
    }
  }
}

TEST_F(DatabaseCopyTest, CrashDuringTheReplacementIsRepaired) {
  struct Case {
    const char* name;
    bool folder;        // the backup's own folder is there
    bool staged;        // a staged copy is there
    bool staged_marked; // ... and complete
    bool aside;         // the previous backup was set aside
    const char* want;   // the version the backup has afterwards
  };
  for (const Case& c : {
           Case{"crash during the copy or before the mark", true, true, false, false, "version 1"},
           Case{"crash between the renames", false, true, true, true, "version 2"},
           Case{"staged copy lost its mark", false, true, false, true, "version 1"},
           Case{"crash before deleting the old", true, false, false, true, "version 2"},
       }) {
    SCOPED_TRACE(c.name);
    TempDir scratch;
    const std::string backup = scratch.Path("backup");
    const std::string staged = StagedCopyFolder(backup);
    auto make = [&](const std::string& folder, const char* version, bool marked) {
      ASSERT_TRUE(fs_->CreateFolders(folder).ok());
      ASSERT_TRUE(dir_.WriteFile("db/iamglass", version));
      ASSERT_TRUE(CopyDatabaseFiles(fs_, dir_.Path("db"), folder).ok());
      if (marked) {
        ASSERT_TRUE(MarkCopyComplete(fs_, folder).ok());
      }
    };
    if (c.folder) make(backup, c.aside ? "version 2" : "version 1", true);
    if (c.aside) make(backup + ".vtold", "version 1", true);
    if (c.staged) make(staged, "version 2", c.staged_marked);

    ASSERT_TRUE(RecoverStagedCopy(fs_, backup).ok());
    StatusOr<std::string> version = fs_->ReadFile(backup + "/iamglass");
    EXPECT_EQ(version.ok() ? *version : "", c.want);
    EXPECT_TRUE(CheckCopyComplete(fs_, backup).ok());
    EXPECT_FALSE(fs_->Exists(staged));
    EXPECT_FALSE(fs_->Exists(backup + ".vtold"));
  }
}

TEST_F(DatabaseCopyTest, UnmarkedStagedCopyIsNeverPutInPlace) {
  MakeBackup("backup", "version 1");
  StatusOr<std::string> staged = PrepareStagedCopy(fs_, dir_.Path("backup"));
  ASSERT_TRUE(staged.ok());
  ASSERT_TRUE(dir_.WriteFile("db/iamglass", "version 2"));
  ASSERT_TRUE(CopyDatabaseFiles(fs_, dir_.Path("db"), *staged).ok());
  EXPECT_EQ(ReplaceWithStagedCopy(fs_, dir_.Path("backup")).code(),
            StatusCode::kFailedPrecondition);
  EXPECT_EQ(Read("backup/iamglass"), "version 1");
  // A database folder without a version file is no database.
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("db/iamglass")).ok());
  EXPECT_EQ(CopyDatabaseFiles(fs_, dir_.Path("db"), *staged).code(), StatusCode::kNotFound);
}

}  // namespace
}  // namespace vantrel
