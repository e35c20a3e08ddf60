// An index whose very first commit was cut short (a kill while Xapian
// created its tables) must still take documents at the next start.
#include <string>

#include <gtest/gtest.h>

#include "engine/index_files.h"
#include "engine_test_util.h"
#include "platform/file_system.h"

namespace vantrel {
namespace {

using engine_test::EngineFixture;

class EngineRecoveryTest : public EngineFixture {};

TEST_F(EngineRecoveryTest, TablesLeftByAnInterruptedCreationAreClearedAndTheIndexIsCreated) {
  FileSystem* fs = DefaultFileSystem();
  ASSERT_TRUE(fs->CreateFolders(Folder()).ok());
  // What a kill during the creation leaves: empty tables, the version
  // file's temporary, the lock file, and no version file.
  for (const char* name : {"postlist.glass", "termlist.glass", "flintlock"}) {
    ASSERT_TRUE(fs->WriteFile(Folder() + "/" + name, "").ok());
  }
  ASSERT_TRUE(fs->WriteFile(Folder() + "/v.tmp", std::string(77, 'x')).ok());
  ASSERT_TRUE(fs->WriteFile(Folder() + "/other.dat", "kept").ok());

  Status added = Add({{FormatDocumentName(1, "01a.jpg"), "harbour"}});
  ASSERT_TRUE(added.ok()) << added.ToString();
  EXPECT_EQ(Search("harbour").names.size(), 1u);
  EXPECT_TRUE(fs->Exists(Folder() + "/other.dat"));
  EXPECT_FALSE(fs->Exists(Folder() + "/v.tmp"));
}

TEST_F(EngineRecoveryTest, AWholeDatabaseIsNeverCleared) {
  ASSERT_TRUE(Add({{FormatDocumentName(1, "01a.jpg"), "harbour"}}).ok());
  ASSERT_TRUE(ClearUnfinishedCreation(DefaultFileSystem(), Folder()).ok());
  ASSERT_TRUE(Add({{FormatDocumentName(2, "01b.jpg"), "harbour"}}).ok());
  EXPECT_EQ(Search("harbour").names.size(), 2u);
}

}  // namespace
}  // namespace vantrel
