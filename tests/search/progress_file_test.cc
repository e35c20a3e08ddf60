#include "search/progress_file.h"

#include <gtest/gtest.h>

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

TEST(ProgressFile, RewrittenWhole) {
  TempDir dir;
  const std::string path = dir.Path("A.PRG");
  ASSERT_TRUE(dir.WriteFile("A.PRG", "a longer older file"));
  ASSERT_TRUE(WriteProgressFile(DefaultFileSystem(), path, 1000).ok());
  EXPECT_EQ(DecodeProgressFile(*DefaultFileSystem()->ReadFile(path)), 1000u);
  ASSERT_TRUE(WriteProgressFile(DefaultFileSystem(), path, 1500).ok());
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1500));
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

TEST(ProgressFileWriter, WritesInPlaceAndReplacesAnOlderFileOfAnotherSize) {
  TempDir dir;
  const std::string path = dir.Path("A.PRG");
  ASSERT_TRUE(dir.WriteFile("A.PRG", std::string(10, 'x')));
  {
    ProgressFileWriter writer(DefaultFileSystem(), path);
    ASSERT_TRUE(writer.Write(500).ok());
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(500));
    ASSERT_TRUE(writer.Write(1000).ok());
    // Readable while the writer still holds the file.
    EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1000));
  }
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeProgressFile(1000));
  // A new file.
  ProgressFileWriter fresh(DefaultFileSystem(), dir.Path("B.PRG"));
  ASSERT_TRUE(fresh.Write(1500).ok());
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(dir.Path("B.PRG")), EncodeProgressFile(1500));
}

}  // namespace
}  // namespace vantrel
