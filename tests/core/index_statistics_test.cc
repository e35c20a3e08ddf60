#include "core/index_statistics.h"

#include <gtest/gtest.h>

#include <string>

#include "core/index_info.h"
#include "platform/ini_file.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string U32(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

std::string Field(std::string_view text) {
  std::string f(text);
  f.resize(256, '\0');
  return f;
}

TEST(IndexStatisticsTest, FullPathOfAFileKey) {
  ImageFolderRoots roots;
  roots[0] = "/srv/offline";
  roots[3] = "/srv/images";
  roots[31] = "/last";
  struct Row {
    const char* key;
    const char* path;
  } rows[] = {
      {"03Sport\\img.jpg", "/srv/images\\Sport\\img.jpg"},
      {"00a.jpg", "/srv/offline\\a.jpg"},
      {"31x", "/last\\x"},
      {"04Sport\\img.jpg", ""},  // slot without a path
      {"32x", ""},               // no such slot
      {"3", ""},
      {"a3x", ""},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(StatisticsFullPath(roots, r.key), r.path) << r.key;
}

TEST(IndexStatisticsTest, BuiltFromTheListsAndEncodedField_by_field) {
  ListLockTable locks;
  BrowseList timelist, indexed, dirlist;
  ASSERT_TRUE(timelist.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(timelist.Add("01Old\\first.jpg", 100, 0, kNoExtra).ok());
  ASSERT_TRUE(timelist.Add("01New\\latest.jpg", 900, 0, kNoExtra).ok());
  ASSERT_TRUE(timelist.Add("02mid.jpg", 500, 0, kNoExtra).ok());
  ASSERT_TRUE(indexed.Add("01gone.jpg", 1, 0, kNoExtra).ok());  // fewer documents than files
  ASSERT_TRUE(dirlist.Add("01Old", 1, 0, kNoExtra).ok());
  ASSERT_TRUE(dirlist.Add("01New", 1, 0, kNoExtra).ok());
  ImageFolderRoots roots;
  roots[1] = "/images";
  IndexStatistics s = BuildIndexStatistics(LockedBrowseList(&locks, 4, &timelist),
                                           LockedBrowseList(&locks, 4, &indexed),
                                           LockedBrowseList(&locks, 4, &dirlist), 12345, roots, 4);
  EXPECT_EQ(s.file_count, 3u);
  EXPECT_EQ(s.unused_documents, -2);
  EXPECT_EQ(s.folder_count, 2u);
  EXPECT_EQ(s.newest_path, "/images\\New\\latest.jpg");
  EXPECT_EQ(s.oldest_path, "/images\\Old\\first.jpg");

  std::string want = U32(3) + U32(0xFFFFFFFE) + U32(2) + U32(12345) + U32(0) +
                     Field("/images\\New\\latest.jpg") + Field("/images\\Old\\first.jpg") +
                     U32(900) + U32(100) + U32(4);
  EXPECT_EQ(EncodeIndexStatistics(s), want);
  EXPECT_EQ(want.size(), kIndexStatisticsSize);
}

TEST(IndexStatisticsTest, EmptyListsAndOverlongPaths) {
  ListLockTable locks;
  BrowseList timelist, indexed, dirlist;
  ImageFolderRoots roots;
  roots[1] = std::string(250, 'r');
  IndexStatistics empty = BuildIndexStatistics(LockedBrowseList(&locks, -1, &timelist),
                                               LockedBrowseList(&locks, -1, &indexed),
                                               LockedBrowseList(&locks, -1, &dirlist), 0, roots, 0);
  EXPECT_EQ(empty, IndexStatistics{});
  EXPECT_EQ(EncodeIndexStatistics(empty), std::string(kIndexStatisticsSize, '\0'));

  IndexStatistics s;
  s.newest_path = std::string(300, 'p');
  std::string bytes = EncodeIndexStatistics(s);
  ASSERT_EQ(bytes.size(), kIndexStatisticsSize);
  EXPECT_EQ(bytes.substr(20, 256), std::string(255, 'p') + '\0');
}

TEST(IndexInfoTest, WritesTotalFilesAndCreatesTheClientFolder) {
  TempDir dir;
  FileSystem* fs = DefaultFileSystem();
  std::string client = dir.Path("Index/VT_CLIENT");
  ASSERT_TRUE(WriteIndexInfo(fs, client, 1234).ok());
  std::string ini = client + "/INDEXINFO.INI";
  EXPECT_EQ(*fs->ReadFile(ini), "[INDEXINFO]\r\nTOTALFILES=1234\r\n");
  // Other lines of the file stay.
  ASSERT_TRUE(WriteIniString(fs, ini, "CLIENT", "NAME", "x").ok());
  ASSERT_TRUE(WriteIndexInfo(fs, client, 0).ok());
  EXPECT_EQ(ReadIniString(fs, ini, "INDEXINFO", "TOTALFILES", "?"), "0");
  EXPECT_EQ(ReadIniString(fs, ini, "CLIENT", "NAME", "?"), "x");
}

TEST(IndexInfoTest, FailedWriteKeepsTheOldFile) {
  TempDir dir;
  FaultFileSystem fs(DefaultFileSystem());
  std::string client = dir.Path("VT_CLIENT");
  ASSERT_TRUE(WriteIndexInfo(&fs, client, 7).ok());
  fs.FailWritesMatching("*/INDEXINFO.INI");
  EXPECT_FALSE(WriteIndexInfo(&fs, client, 8).ok());
  fs.ClearFaults();
  EXPECT_EQ(ReadIniString(&fs, client + "/INDEXINFO.INI", "INDEXINFO", "TOTALFILES", "?"), "7");
}

}  // namespace
}  // namespace vantrel
