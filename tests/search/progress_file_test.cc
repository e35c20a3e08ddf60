#include "search/progress_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

TEST(ProgressFile, FourLittleEndianBytes) {
  EXPECT_EQ(EncodeProgressFile(500), std::string("\xF4\x01\x00\x00", 4));
  EXPECT_EQ(EncodeProgressFile(0x01020304), std::string("\x04\x03\x02\x01", 4));
  for (uint32_t v : {0u, 500u, 1000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(DecodeProgressFile(EncodeProgressFile(v)), v);
  }
  // A file caught while being rewritten is no count.
  for (size_t n : {0, 1, 3, 5}) EXPECT_EQ(DecodeProgressFile(std::string(n, '\x01')), std::nullopt);
}

// Both writers replace an older file of another size whole; the writer's
// file is readable while it still holds it.
TEST(ProgressFileWriter, WritesInPlaceAndReplacesAnOlderFileOfAnotherSize) {
  TempDir dir;
  const std::string path = dir.Path("A.PRG");
  ASSERT_TRUE(dir.WriteFile("A.PRG", "a longer older file"));
  ASSERT_TRUE(WriteProgressFile(DefaultFileSystem(), path, 1000).ok());
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1000));
  ASSERT_TRUE(dir.WriteFile("A.PRG", std::string(10, 'x')));
  {
    ProgressFileWriter writer(DefaultFileSystem(), path);
    ASSERT_TRUE(writer.Write(500).ok());
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(500));
    ASSERT_TRUE(writer.Write(1500).ok());
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1500));
  }
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1500));
  // A new file.
  ProgressFileWriter fresh(DefaultFileSystem(), dir.Path("B.PRG"));
  ASSERT_TRUE(fresh.Write(1500).ok());
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(dir.Path("B.PRG")), EncodeProgressFile(1500));
}

// A client may plant a link under the progress file's name; the server runs
// as root and must not cut the link's target to four bytes. The link is
// replaced by a progress file that the clients' group may delete.
TEST(ProgressFileWriter, PlantedLinkIsReplacedNotTruncated) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("outside/precious", "root only, longer than four bytes"));
  const std::string precious = dir.Path("outside/precious");
  for (bool whole : {false, true}) {
    SCOPED_TRACE(whole ? "WriteProgressFile" : "ProgressFileWriter");
    const std::string path = dir.Path(whole ? "W.PRG" : "P.PRG");
    ASSERT_EQ(::symlink(precious.c_str(), path.c_str()), 0);
    if (whole) {
      ASSERT_TRUE(WriteProgressFile(DefaultFileSystem(), path, 500).ok());
    } else {
      ProgressFileWriter writer(DefaultFileSystem(), path);
      ASSERT_TRUE(writer.Write(500).ok());
    }
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(precious), "root only, longer than four bytes");
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(500));
    struct stat st;
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0664u);
  }
}

}  // namespace
}  // namespace vantrel
