#include "indexing/folder_keys.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(FolderKeysTest, OnlyFilesDirectlyInTheFolder) {
  struct Case {
    const char* key;
    const char* folder;
    bool in;
  } cases[] = {
      {"03a.jpg", "03", true},
      {"03Sport\\a.jpg", "03", false},       // in a sub-folder
      {"03Sport\\a.jpg", "03Sport", true},
      {"03Sport\\Cup\\a.jpg", "03Sport", false},
      {"03Sports\\a.jpg", "03Sport", false},  // a sibling whose name begins alike
      {"03Sport", "03Sport", false},          // the folder itself
      {"04a.jpg", "03", false},
      {"03Sport\\", "03Sport", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LiesDirectlyIn(c.key, c.folder), c.in) << c.key << " in " << c.folder;
    if (c.in) {
      EXPECT_EQ(FolderKeyOf(c.key), c.folder) << c.key;
    }
  }
  EXPECT_EQ(FolderKeyOf("03Sport\\Cup\\a.jpg"), "03Sport\\Cup");
}

}  // namespace
}  // namespace vantrel
