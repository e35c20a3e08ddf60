#include "platform/paths.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace vantrel {
namespace {

TEST(PathsTest, SeparatorsAndJoins) {
  EXPECT_EQ(KeyToNative("Sport\\Football\\img001.jpg"), "Sport/Football/img001.jpg");
  EXPECT_EQ(NativeToKey("Sport/Football/img001.jpg"), "Sport\\Football\\img001.jpg");
  EXPECT_EQ(KeyToNative("Caf\xE9?"), "Caf\xE9?");  // only separators change

  EXPECT_EQ(JoinNative("/srv/index", "VT_SEARCH"), "/srv/index/VT_SEARCH");
  EXPECT_EQ(JoinNative("/srv/index/", "VT_SEARCH"), "/srv/index/VT_SEARCH");
  EXPECT_EQ(JoinNative("/", "srv"), "/srv");
  EXPECT_EQ(JoinNative("/srv", "/x"), "/srv/x");
  EXPECT_EQ(JoinNative("", "x"), "x");
  EXPECT_EQ(JoinNative("/srv", ""), "/srv");

  EXPECT_EQ(JoinKey("VT_DATA", "VT_INDEX"), "VT_DATA\\VT_INDEX");
  EXPECT_EQ(JoinKey("03", ""), "03\\");
  EXPECT_EQ(JoinKey("a\\", "b"), "a\\\\b");  // "%s\%s" never merges

  EXPECT_EQ(KeyForm("/srv/images/sport"), "srv\\images\\sport");
  EXPECT_EQ(KeyForm("/srv/images/sport", '/'), "srv/images/sport");
  EXPECT_EQ(KeyForm("//srv"), "srv");
  EXPECT_EQ(KeyForm(""), "");
}

TEST(PathsTest, PathPieces) {
  struct Case {
    std::string path;
    char sep;
    std::string last;
    std::string folder;
    std::string folder_name;
  };
  const Case cases[] = {
      {"D:\\Pictures\\Sport\\img.jpg", '\\', "img.jpg", "D:\\Pictures\\Sport", "Sport"},
      {"/srv/Pictures/Sport/img.jpg", '/', "img.jpg", "/srv/Pictures/Sport", "Sport"},
      {"/srv/Pictures/Sport/", '/', "Sport", "/srv/Pictures", "Pictures"},
      {"/img.jpg", '/', "img.jpg", "", ""},
      {"img.jpg", '/', "img.jpg", "", ""},
      {"/", '/', "/", "", ""},
      {"", '/', "", "", ""},
      {"a", '/', "a", "", ""},
      {"a/", '/', "a", "", ""},
      {"//", '/', "", "", ""},
      {"/a/", '/', "a", "", ""},
      {"x/y", '/', "y", "x", "x"},
      {"03Sport\\img.jpg", '\\', "img.jpg", "03Sport", "03Sport"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LastComponent(c.path, c.sep), c.last) << c.path;
    EXPECT_EQ(FolderPart(c.path, c.sep), c.folder) << c.path;
    EXPECT_EQ(FolderName(c.path, c.sep), c.folder_name) << c.path;
  }
}

class ResolveKeyPathTest : public ::testing::Test {
 protected:
  FileSystem* fs_ = DefaultFileSystem();
  CodePage cp_ = CodePage::BuiltInWindows1252();
  TempDir dir_;
};

TEST_F(ResolveKeyPathTest, KeysOfLossyNamesLeadBackToTheFiles) {
  struct Case {
    std::string native;  // relative, UTF-8, as on disk
    std::string key;     // what the scanner builds from it
  };
  const Case cases[] = {
      {"Sport/img.jpg", "Sport\\img.jpg"},
      {"Caf\xC3\xA9/menu.jpg", "Caf\xE9\\menu.jpg"},
      {"Cafe\xCC\x81/decomposed.jpg", "Caf\xE9\\decomposed.jpg"},
      {"\xE6\x97\xA5\xE6\x9C\xAC/photo.jpg", "??\\photo.jpg"},
      {"mac/a\xEF\x80\xA2" "b.jpg", "mac\\a/b.jpg"},       // U+F022 restored as '/'
      {"mac/x\xEF\x80\xA6" "y.jpg", "mac\\x\\y.jpg"},      // U+F026 restored as '\'
      {"mac/What\xEF\x80\xA5", "mac\\What?"},
  };
  for (const Case& c : cases) ASSERT_TRUE(dir_.WriteFile(c.native, c.native)) << c.native;
  for (const Case& c : cases) {
    bool lossy = false;
    EXPECT_EQ(KeyFromNativeRelative(cp_, c.native, &lossy), c.key) << c.native;
    auto resolved = ResolveKeyPath(fs_, cp_, dir_.path(), c.key);
    ASSERT_TRUE(resolved.ok()) << c.native << ": " << resolved.status().ToString();
    EXPECT_EQ(*resolved, dir_.Path(c.native));
    EXPECT_EQ(*fs_->ReadFile(*resolved), c.native);
  }
  EXPECT_TRUE(ResolveKeyPath(fs_, cp_, dir_.path(), "Sport\\none.jpg").status().IsNotFound());
  EXPECT_TRUE(ResolveKeyPath(fs_, cp_, dir_.path(), "??\\none.jpg").status().IsNotFound());
  EXPECT_TRUE(ResolveKeyPath(fs_, cp_, dir_.Path("missing"), "a").status().IsNotFound());
  EXPECT_EQ(*ResolveKeyPath(fs_, cp_, dir_.path(), ""), dir_.path());
}

TEST_F(ResolveKeyPathTest, BackslashInsideANameIsTriedBeforeAFolderSplit) {
  // "a\uF026b" (key "a\b") next to folder "a" holding "b": both have the key
  // "a\b"; both answers are correct files, and a folder "a" without "b" must
  // not stop the search for the name that holds the backslash.
  ASSERT_TRUE(dir_.MakeFolder("a"));
  ASSERT_TRUE(dir_.WriteFile("a/other", "x"));
  ASSERT_TRUE(dir_.WriteFile("a\xEF\x80\xA6" "b", "mac"));
  auto resolved = ResolveKeyPath(fs_, cp_, dir_.path(), "a\\b");
  ASSERT_TRUE(resolved.ok()) << resolved.status().ToString();
  EXPECT_EQ(*fs_->ReadFile(*resolved), "mac");
}

}  // namespace
}  // namespace vantrel
