#include "core/browse_list.h"
#include "core/list_file.h"
#include "ctl_test_util.h"
#include "nlohmann/json.hpp"
#include "platform/file_time.h"

namespace vantrel {
namespace {

class CtlListTest : public CtlTest {
 protected:
  std::string WriteList(uint32_t second_word) {
    BrowseList list;
    EXPECT_TRUE(list.Add("01Sport\\b.jpg", FileTimeStampFromUnix(1700000000), 7, 3).ok());
    EXPECT_TRUE(list.Add("02a.tif", FileTimeStampFromUnix(1600000000), 9, kNoExtra).ok());
    ListFileWriteOptions options;
    options.second_word = second_word;
    EXPECT_TRUE(dir_.WriteFile("HITS.HIT", EncodeListFile(list, options)));
    return dir_.Path("HITS.HIT");
  }
};

TEST_F(CtlListTest, PrintsEntriesByNameOrTime) {
  std::string path = WriteList(42);
  ASSERT_EQ(Run({"list", path}), kCtlOk) << err_.str();
  const std::string text = out_.str();
  EXPECT_NE(text.find("2 records, second word 42"), std::string::npos) << text;
  EXPECT_NE(text.find("2023-11-14 22:13:20  7  3  01Sport\\b.jpg"), std::string::npos) << text;
  // Name order sorts by the file name first: "a.tif" before "b.jpg".
  EXPECT_LT(text.find("02a.tif"), text.find("01Sport\\b.jpg"));

  ASSERT_EQ(Run({"list", path, "--by-time", "--json"}), kCtlOk) << err_.str();
  nlohmann::json j = nlohmann::json::parse(out_.str());
  EXPECT_EQ(j["count"], 2);
  EXPECT_EQ(j["second_word"], 42);
  ASSERT_EQ(j["entries"].size(), 2u);
  EXPECT_EQ(j["entries"][0]["name"], "01Sport\\b.jpg");  // newest first
  EXPECT_EQ(j["entries"][0]["value"], 7);
  EXPECT_FALSE(j.contains("damage"));

  // A relative name is taken from the current directory.
  ASSERT_EQ(Run({"list", "HITS.HIT"}), kCtlOk) << err_.str();
}

TEST_F(CtlListTest, DamagedAndMissingFiles) {
  std::string path = WriteList(0);
  StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(path);
  ASSERT_TRUE(bytes.ok());
  // Cut inside the second record: the first stays readable.
  ASSERT_TRUE(dir_.WriteFile("CUT", bytes->substr(0, bytes->size() - 3)));
  EXPECT_EQ(Run({"list", dir_.Path("CUT"), "--json"}), kCtlFailed);
  nlohmann::json j = nlohmann::json::parse(out_.str());
  EXPECT_EQ(j["entries"].size(), 1u);
  EXPECT_TRUE(j.contains("damage"));
  EXPECT_FALSE(err_.str().empty());

  EXPECT_EQ(Run({"list", dir_.Path("NONE")}), kCtlFailed);
  EXPECT_EQ(Run({"list"}), kCtlUsage);
  EXPECT_EQ(Run({"list", "a", "b"}), kCtlUsage);
}

// Reading a list file needs no start directory; changing the
// configuration does, and says which one is missing.
TEST_F(CtlListTest, ReadsWithoutTheStartDirectoryThatChangesNeed) {
  const std::string path = WriteList(1);
  const std::string missing = dir_.Path("no-such-folder");
  EXPECT_EQ(RunVantrelctl({"--dir", missing, "list", path}, env_), kCtlOk) << err_.str();
  EXPECT_EQ(RunVantrelctl({"--dir", missing, "index", "add", "X", dir_.Path("idx")}, env_),
            kCtlUsage);
  EXPECT_NE(err_.str().find("the directory " + missing + " does not exist"), std::string::npos)
      << err_.str();
}

}  // namespace
}  // namespace vantrel
