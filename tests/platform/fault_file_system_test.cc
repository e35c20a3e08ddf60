#include "support/fault_file_system.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

class FaultFileSystemTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FaultFileSystem fs_{DefaultFileSystem()};
};

// FailNthWrite fails one write; CrashAtNthWrite that one and every later
// one, of any kind, doing nothing.
TEST_F(FaultFileSystemTest, FailsTheNthWriteOnlyOrEveryOneFromACrashOn) {
  fs_.FailNthWrite(2);
  EXPECT_TRUE(fs_.WriteFile(dir_.Path("a"), "1").ok());
  Status second = fs_.WriteFileAtomic(dir_.Path("a"), "2", 0644);
  EXPECT_EQ(second.code(), StatusCode::kIoError);
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("a"), 100), "1");
  EXPECT_TRUE(fs_.WriteFileAtomic(dir_.Path("a"), "3", 0644).ok());
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("a"), 100), "3");
  EXPECT_EQ(fs_.write_count(), 3);
  EXPECT_EQ(fs_.faults_injected(), 1);

  fs_.CrashAtNthWrite(2);
  EXPECT_TRUE(fs_.WriteFile(dir_.Path("b"), "1").ok());
  EXPECT_EQ(fs_.Rename(dir_.Path("b"), dir_.Path("c")).code(), StatusCode::kIoError);
  EXPECT_EQ(fs_.DeleteFile(dir_.Path("b")).code(), StatusCode::kIoError);
  EXPECT_EQ(fs_.WriteFileAtomic(dir_.Path("a"), "4", 0644).code(), StatusCode::kIoError);
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("b"), 100), "1");
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("a"), 100), "3");
  EXPECT_FALSE(fs_.Exists(dir_.Path("c")));
  fs_.ClearFaults();
  EXPECT_TRUE(fs_.DeleteFile(dir_.Path("b")).ok());
}

TEST_F(FaultFileSystemTest, FailsWritesAndReadsMatchingAPattern) {
  ASSERT_TRUE(dir_.MakeFolder("lists"));
  fs_.FailWritesMatching("*/TIMELIST");
  EXPECT_FALSE(fs_.WriteFileAtomic(dir_.Path("lists/TIMELIST"), "x", 0644).ok());
  EXPECT_FALSE(fs_.OpenForWrite(dir_.Path("lists/TIMELIST"), 0644).ok());
  EXPECT_FALSE(fs_.Rename(dir_.Path("lists/x"), dir_.Path("lists/TIMELIST")).ok());
  EXPECT_FALSE(fs_.Exists(dir_.Path("lists/TIMELIST")));
  EXPECT_TRUE(fs_.WriteFileAtomic(dir_.Path("lists/CHARLIST"), "x", 0644).ok());

  fs_.FailReadsMatching("*CHARLIST");
  EXPECT_FALSE(fs_.ReadFile(dir_.Path("lists/CHARLIST"), 100).ok());
  EXPECT_FALSE(fs_.Stat(dir_.Path("lists/CHARLIST")).ok());
  EXPECT_TRUE(fs_.Exists(dir_.Path("lists/CHARLIST")));
  fs_.ClearFaults();
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("lists/CHARLIST"), 100), "x");
}

TEST_F(FaultFileSystemTest, FullDiskTearsInPlaceWritesButNotAtomicOnes) {
  ASSERT_TRUE(fs_.WriteFileAtomic(dir_.Path("atomic"), "old", 0644).ok());
  fs_.SetSpaceLimit(10);
  Status torn = fs_.WriteFile(dir_.Path("inplace"), "0123456789abcdef");
  EXPECT_EQ(torn.code(), StatusCode::kResourceExhausted);
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("inplace"), 100), "0123456789");  // what fitted

  EXPECT_FALSE(fs_.WriteFileAtomic(dir_.Path("atomic"), "new", 0644).ok());
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("atomic"), 100), "old");

  fs_.SetSpaceLimit(6);
  auto file = fs_.OpenForWrite(dir_.Path("stream"), 0644);
  ASSERT_TRUE(file.ok());
  EXPECT_TRUE((*file)->Append("1234").ok());
  EXPECT_EQ((*file)->Append("5678").code(), StatusCode::kResourceExhausted);
  EXPECT_FALSE((*file)->Append("9").ok());
  ASSERT_TRUE((*file)->Close().ok());
  EXPECT_EQ(*fs_.ReadFile(dir_.Path("stream"), 100), "123456");
}

}  // namespace
}  // namespace vantrel
