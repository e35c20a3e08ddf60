#include <sys/stat.h>

#include "ctl_test_util.h"
#include "metadata/metadata_switches.h"
#include "nlohmann/json.hpp"
#include "platform/instance_lock.h"
#include "support/fault_file_system.h"

namespace vantrel {
namespace {

class CtlConfigTest : public CtlTest {
 protected:
  // Defines `n` indexes I0.. in folders idx0.., returns their folders.
  std::vector<std::string> AddIndexes(int n) {
    std::vector<std::string> folders;
    for (int i = 0; i < n; ++i) {
      folders.push_back(Folder("idx" + std::to_string(i)));
      EXPECT_EQ(Run({"index", "add", "I" + std::to_string(i), folders.back()}), kCtlOk)
          << err_.str();
    }
    return folders;
  }
};

TEST_F(CtlConfigTest, IndexAddCreatesAPrivateFileWithAStoppedIndex) {
  std::string idx = Folder("data/news");
  ASSERT_EQ(Run({"index", "add", "News", idx + "/"}), kCtlOk) << err_.str();
  struct stat st;
  ASSERT_EQ(::stat(ConfigPathIn(dir_.path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Configuration c = Load();
  ASSERT_EQ(c.indexes.size(), 1u);
  const IndexDefinition& d = c.indexes[0];
  EXPECT_EQ(d.name, "News");
  EXPECT_EQ(d.index_folder, idx);  // trailing slash tidied away
  EXPECT_EQ(d.active, 0u);
  EXPECT_EQ(d.image_folders[0].path, idx + "/OffLine");
  EXPECT_EQ(d.image_folders[0].windows_share, "\\\\SRV" + idx + "/OffLine");
  EXPECT_EQ(CountImageFolders(c, 0), 1);
}

TEST_F(CtlConfigTest, IndexAddRefusals) {
  std::vector<std::string> folders = AddIndexes(1);
  const std::string before = FileBytes();
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {{"index", "add", "X", "relative/path"}, kCtlUsage, "absolute"},
      {{"index", "add", "X", dir_.Path("missing")}, kCtlUsage, "does not exist"},
      {{"index", "add", "", Folder("e")}, kCtlUsage, "name"},
      {{"index", "add", std::string(33, 'n'), Folder("f")}, kCtlUsage, "too long"},
      {{"index", "add", "X", folders[0]}, kCtlUsage, "already keeps its data"},
      {{"index", "add", "X", Folder("idx0/inner")}, kCtlUsage, "already keeps its data"},
      {{"index", "add", "X"}, kCtlUsage, "NAME and FOLDER"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> all = {"--dir", dir_.path()};
    all.insert(all.end(), c.args.begin(), c.args.end());
    err_.str("");
    EXPECT_EQ(RunVantrelctl(all, env_), c.code) << c.message;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << err_.str();
    EXPECT_EQ(FileBytes(), before) << c.message;
  }
}

TEST_F(CtlConfigTest, IndexRemoveMovesLaterIndexesDown) {
  AddIndexes(3);
  EXPECT_EQ(Run({"index", "remove", "3"}), kCtlUsage);
  EXPECT_EQ(Run({"index", "remove", "x"}), kCtlUsage);
  ASSERT_EQ(Run({"index", "remove", "0"}), kCtlOk) << err_.str();
  Configuration c = Load();
  ASSERT_EQ(c.indexes.size(), 2u);
  EXPECT_EQ(c.indexes[0].name, "I1");
  EXPECT_EQ(c.indexes[1].name, "I2");
}

TEST_F(CtlConfigTest, IndexSetAppliesTheValueRules) {
  AddIndexes(1);
  struct Case {
    const char* option;
    const char* value;
    bool ok;
    uint32_t IndexDefinition::*field;
    uint32_t want;
  };
  const Case cases[] = {
      {"active", "1", true, &IndexDefinition::active, 1},
      {"active", "off", true, &IndexDefinition::active, 0},
      {"active", "2", false, nullptr, 0},
      {"mac-text", "on", true, &IndexDefinition::mac_text, 1},
      {"docinfo", "0", true, &IndexDefinition::doc_info, 0},
      {"empty-fields", "2", true, &IndexDefinition::empty_fields, 2},
      {"empty-fields", "3", false, nullptr, 0},
      {"optimize-hour", "24", true, &IndexDefinition::optimize_hour, 24},
      {"optimize-hour", "0", true, &IndexDefinition::optimize_hour, 0},
      {"optimize-hour", "25", false, nullptr, 0},
      {"optimize-hour", "07", false, nullptr, 0},
      {"space-warning", "0", true, &IndexDefinition::space_warning, 0},
      {"space-limit", "5", true, &IndexDefinition::space_limit_mb, 5},
      {"space-limit", "0", false, nullptr, 0},
      {"space-limit", "12", false, nullptr, 0},
      {"browse-limit-on", "1", true, &IndexDefinition::browse_limit_on, 1},
      {"browse-limit", "3000", true, &IndexDefinition::browse_limit, 3000},
      {"browse-limit", "2500", false, nullptr, 0},
      {"browse-limit", "1000", false, nullptr, 0},
      {"no-such-option", "1", false, nullptr, 0},
  };
  for (const Case& c : cases) {
    const std::string before = FileBytes();
    int code = Run({"index", "set", "0", c.option, c.value});
    if (!c.ok) {
      EXPECT_EQ(code, kCtlUsage) << c.option << " " << c.value;
      EXPECT_FALSE(err_.str().empty());
      EXPECT_EQ(FileBytes(), before) << c.option << " " << c.value;
      continue;
    }
    EXPECT_EQ(code, kCtlOk) << c.option << " " << c.value << ": " << err_.str();
    EXPECT_EQ(Load().indexes[0].*c.field, c.want) << c.option << " " << c.value;
  }
  ASSERT_EQ(Run({"index", "set", "0", "unused-threshold", "-5"}), kCtlOk) << err_.str();
  EXPECT_EQ(Load().indexes[0].unused_threshold, -5);
  EXPECT_EQ(Run({"index", "set", "0", "unused-threshold", "+5"}), kCtlUsage);
  EXPECT_EQ(Run({"index", "set", "1", "active", "1"}), kCtlUsage);
}

TEST_F(CtlConfigTest, IndexSetMetadataTurnsOneSwitchAtATimeAndConfigShowNamesThem) {
  AddIndexes(1);
  EXPECT_EQ(Load().indexes[0].metadata_switches, 0u);  // a new index reads everything
  ASSERT_EQ(Run({"index", "set", "0", "metadata", "dimensions", "off"}), kCtlOk) << err_.str();
  ASSERT_EQ(Run({"index", "set", "0", "metadata", "xmp", "0"}), kCtlOk) << err_.str();
  ASSERT_EQ(Run({"index", "set", "0", "metadata", "xmp", "on"}), kCtlOk) << err_.str();
  EXPECT_EQ(Load().indexes[0].metadata_switches, MetadataSwitches::kHeaderDimensionsOff);

  const std::string before = FileBytes();
  EXPECT_EQ(Run({"index", "set", "0", "metadata", "colour", "off"}), kCtlUsage);
  EXPECT_NE(err_.str().find("unknown metadata switch"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"index", "set", "0", "metadata", "dates", "maybe"}), kCtlUsage);
  EXPECT_EQ(Run({"index", "set", "0", "metadata", "dates"}), kCtlUsage);
  EXPECT_EQ(FileBytes(), before);

  ASSERT_EQ(Run({"config", "show"}), kCtlOk);
  EXPECT_NE(out_.str().find("metadata           xmp on, charset on, dimensions off, dates on"),
            std::string::npos)
      << out_.str();
  ASSERT_EQ(Run({"config", "show", "--json"}), kCtlOk);
  const nlohmann::json metadata = nlohmann::json::parse(out_.str())["indexes"][0]["metadata"];
  EXPECT_EQ(metadata["dimensions"], false);
  EXPECT_EQ(metadata["dates"], true);
}

TEST_F(CtlConfigTest, FolderAddChecksNestingAndOverlap) {
  std::string img = Folder("img");
  std::string idx = Folder("img2/index");  // "img" is a prefix of "img2" but does not hold it
  ASSERT_EQ(Run({"index", "add", "I", idx}), kCtlOk) << err_.str();

  ASSERT_EQ(Run({"folder", "add", "0", img, "--win", "\\\\S\\I", "--mac", "", "--no-subfolders"}),
            kCtlOk)
      << err_.str();
  Configuration c = Load();
  const ImageFolderEntry& e = c.indexes[0].image_folders[1];
  EXPECT_EQ(e.path, img);
  EXPECT_EQ(e.windows_share, "\\\\S\\I");
  EXPECT_EQ(e.mac_volume, "");
  EXPECT_EQ(e.include_subfolders, 0u);

  const std::string before = FileBytes();
  struct Case {
    std::string path;
    const char* message;
  };
  const Case cases[] = {
      {dir_.Path("img2"), "can NOT be in an Image Folder"},
      {dir_.path(), "can NOT be in an Image Folder"},
      {Folder("img2/index/sub"), "inside the index folder"},
      {Folder("img/sub"), "overlaps image folder 01"},
      {img + "/", "overlaps image folder 01"},
      {dir_.Path("nothing"), "does not exist"},
      {"img", "absolute"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run({"folder", "add", "0", c.path}), kCtlUsage) << c.path;
    EXPECT_NE(err_.str().find(c.message), std::string::npos) << c.path << ": " << err_.str();
    EXPECT_EQ(FileBytes(), before);
  }
  EXPECT_EQ(Run({"folder", "add", "1", Folder("other")}), kCtlUsage);
}

TEST_F(CtlConfigTest, FolderNumbersAreReusedAndLimited) {
  ASSERT_EQ(Run({"index", "add", "I", Folder("idx")}), kCtlOk);
  for (int k = 1; k <= 31; ++k) {
    ASSERT_EQ(Run({"folder", "add", "0", Folder("f" + std::to_string(k))}), kCtlOk) << err_.str();
  }
  const std::string full = FileBytes();
  EXPECT_EQ(Run({"folder", "add", "0", Folder("f32")}), kCtlFailed);
  EXPECT_EQ(FileBytes(), full);

  ASSERT_EQ(Run({"folder", "remove", "0", "03"}), kCtlOk) << err_.str();
  EXPECT_NE(out_.str().find("folder 03"), std::string::npos);
  ASSERT_EQ(Run({"folder", "remove", "0", "7"}), kCtlOk) << err_.str();
  EXPECT_EQ(Run({"folder", "remove", "0", "3"}), kCtlUsage);  // already free
  EXPECT_EQ(Run({"folder", "remove", "0", "0"}), kCtlUsage);  // the offline folder
  EXPECT_EQ(Run({"folder", "remove", "0", "32"}), kCtlUsage);
  EXPECT_EQ(Run({"folder", "remove", "1", "1"}), kCtlUsage);
  Configuration c = Load();
  EXPECT_EQ(CountImageFolders(c, 0), 30);
  EXPECT_FALSE(c.indexes[0].image_folders[3].used());
  EXPECT_EQ(c.indexes[0].image_folders[8].path, dir_.Path("f8"));

  // The lowest free number goes to the next folder, with looked-up names.
  ASSERT_EQ(Run({"folder", "add", "0", Folder("new")}), kCtlOk);
  EXPECT_NE(out_.str().find("folder 03"), std::string::npos) << out_.str();
  c = Load();
  EXPECT_EQ(c.indexes[0].image_folders[3].path, dir_.Path("new"));
  EXPECT_EQ(c.indexes[0].image_folders[3].mac_volume, "Vol" + dir_.Path("new"));
}

TEST_F(CtlConfigTest, LogAndPdfSettings) {
  std::string logs = Folder("logs");
  ASSERT_EQ(
      Run({"log", "set", "--use-log", "on", "--weekly", "--log-searches", "on", "--folder", logs}),
      kCtlOk)
      << err_.str();
  Configuration c = Load();
  EXPECT_EQ(c.log_flags, kLogUseFile | kLogSearches);
  EXPECT_EQ(c.log_folder, logs);
  ASSERT_EQ(Run({"log", "set", "--daily", "--use-log", "off", "--folder", ""}), kCtlOk);
  c = Load();
  EXPECT_EQ(c.log_flags, kLogDaily | kLogSearches);
  EXPECT_EQ(c.log_folder, "");
  EXPECT_EQ(Run({"log", "set"}), kCtlUsage);
  EXPECT_EQ(Run({"log", "set", "--daily", "--weekly"}), kCtlUsage);
  EXPECT_EQ(Run({"log", "set", "--use-log", "maybe"}), kCtlUsage);
  EXPECT_EQ(Run({"log", "set", "--folder", dir_.Path("none")}), kCtlUsage);

  std::string pdf = Folder("pdf");
  ASSERT_EQ(Run({"pdf", "set", "--folder", pdf, "--mac", "Pdf:", "--thumbnail-size", "150",
                 "--leading-preview", "off"}),
            kCtlOk)
      << err_.str();
  c = Load();
  EXPECT_EQ(c.pdf.folder, pdf);
  EXPECT_EQ(c.pdf.win_path, "\\\\SRV" + pdf);  // looked up
  EXPECT_EQ(c.pdf.mac_path, "Pdf:");           // given
  EXPECT_EQ(c.pdf.thumbnail_size, 150u);
  EXPECT_EQ(c.pdf.preview_size, 800u);
  EXPECT_EQ(c.pdf.leading_preview, 1u);
  EXPECT_EQ(Run({"pdf", "set", "--preview-size", "99"}), kCtlUsage);
  EXPECT_EQ(Run({"pdf", "set", "--leading-preview", "2"}), kCtlUsage);
  EXPECT_EQ(Load().pdf.preview_size, 800u);
}

// With a server running, changes go through its console (tests/e2e has the
// real server); here the refusals that never reach one.
TEST_F(CtlConfigTest, NothingChangesWhileTheServerRunsUnlessItsConsoleTakesIt) {
  AddIndexes(1);
  const std::string before = FileBytes();
  {
    StatusOr<InstanceLock> server = InstanceLock::Acquire(dir_.Path(".vantrel.lock"), "no console");
    ASSERT_TRUE(server.ok());
    // Settings the console has no control for need the server stopped.
    EXPECT_EQ(Run({"index", "set", "0", "active", "1"}), kCtlFailed);
    EXPECT_NE(err_.str().find("stop the server first"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"index", "set", "0", "shards", "2"}), kCtlFailed);
    // A server without a console cannot take a change.
    EXPECT_EQ(Run({"index", "add", "X", Folder("x")}), kCtlUnreachable);
    EXPECT_EQ(Run({"index", "set", "0", "metadata", "xmp", "off"}), kCtlUnreachable);
    EXPECT_NE(err_.str().find("has none"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"--console", "http://127.0.0.1:1", "stats", "clear", "0"}), kCtlUnreachable);
    EXPECT_NE(err_.str().find("cannot be reached"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"--console", "ftp://x", "log", "clear"}), kCtlUsage);
    EXPECT_EQ(FileBytes(), before);
    // Reading is fine.
    EXPECT_EQ(Run({"config", "show"}), kCtlOk);
  }
  // Without a server: task and log clear are the server's; the statistics
  // are cleared in the file.
  EXPECT_EQ(Run({"task", "rescan", "0"}), kCtlFailed);
  EXPECT_NE(err_.str().find("no Vantrel server runs"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"log", "clear"}), kCtlFailed);
  EXPECT_EQ(Run({"--console", "http://a:1", "--console=http://b:1", "log", "clear"}), kCtlUsage);
  EXPECT_EQ(Run({"--password-file"}), kCtlUsage);
  Configuration c = Load();
  c.indexes[0].statistics.searches = 7;
  ASSERT_TRUE(SaveConfiguration(*DefaultFileSystem(), c, ConfigPathIn(dir_.path())).ok());
  EXPECT_EQ(Run({"stats", "clear", "1"}), kCtlUsage);
  ASSERT_EQ(Run({"stats", "clear", "0"}), kCtlOk) << err_.str();
  EXPECT_EQ(Load().indexes[0].statistics.searches, 0u);
}

TEST_F(CtlConfigTest, AForeignFileIsNeverReplaced) {
  ASSERT_TRUE(dir_.WriteFile("Vantrel CONFIGURATION DATA", std::string(200000, 'x')));
  const std::string before = FileBytes();
  EXPECT_EQ(Run({"index", "add", "X", Folder("x")}), kCtlFailed);
  EXPECT_NE(err_.str().find("magic"), std::string::npos) << err_.str();
  EXPECT_EQ(Run({"config", "show"}), kCtlFailed);
  EXPECT_EQ(FileBytes(), before);

  // Nor is a file that somebody edited while the command ran.
  ASSERT_TRUE(DefaultFileSystem()->DeleteFile(ConfigPathIn(dir_.path())).ok());
  AddIndexes(1);
  int code = kCtlFailed;
  std::optional<ConfigEdit> edit = ConfigEdit::Open(env_, dir_.path(), &code);
  ASSERT_TRUE(edit.has_value()) << err_.str();
  Configuration by_hand = Load();
  ASSERT_TRUE(SetEditPassword(&by_hand, "by hand").ok());
  ASSERT_TRUE(SaveConfiguration(*DefaultFileSystem(), by_hand, ConfigPathIn(dir_.path())).ok());
  EXPECT_EQ(edit->Save(env_), kCtlFailed);
  EXPECT_NE(err_.str().find("changed by someone else"), std::string::npos) << err_.str();
  EXPECT_EQ(Load().edit_password, "by hand");
}

TEST_F(CtlConfigTest, AFailedSaveLeavesTheFileAsItWas) {
  AddIndexes(1);
  const std::string before = FileBytes();
  FaultFileSystem faulty(DefaultFileSystem());
  faulty.FailWritesMatching("*/Vantrel CONFIGURATION DATA");
  env_.fs = &faulty;
  EXPECT_EQ(Run({"index", "set", "0", "active", "1"}), kCtlFailed);
  EXPECT_NE(err_.str().find("not changed"), std::string::npos) << err_.str();
  EXPECT_EQ(FileBytes(), before);
}

TEST_F(CtlConfigTest, ShowPrintsTextAndJson) {
  AddIndexes(2);
  ASSERT_EQ(Run({"folder", "add", "1", Folder("pics")}), kCtlOk);
  ASSERT_EQ(Run({"index", "set", "1", "active", "1"}), kCtlOk);
  ASSERT_EQ(Run({"config", "show"}), kCtlOk);
  EXPECT_NE(out_.str().find("Index 1: I1  *ACTIVE*"), std::string::npos) << out_.str();
  EXPECT_NE(out_.str().find("Index 0: I0  STOPPED"), std::string::npos);
  EXPECT_NE(out_.str().find("01  " + dir_.Path("pics")), std::string::npos);

  ASSERT_EQ(Run({"config", "show", "--json"}), kCtlOk);
  nlohmann::json j = nlohmann::json::parse(out_.str());
  ASSERT_EQ(j["indexes"].size(), 2u);
  EXPECT_EQ(j["indexes"][1]["active"], true);
  EXPECT_EQ(j["indexes"][1]["image_folders"][1]["number"], 1);
  EXPECT_EQ(j["indexes"][1]["image_folders"][1]["path"], dir_.Path("pics"));
  EXPECT_EQ(j["log"]["daily"], true);
  EXPECT_EQ(j["pdf"]["thumbnail_size"], 300);
  EXPECT_EQ(j["edit_password_set"], false);
}

TEST_F(CtlConfigTest, HelpAndBadCommands) {
  const std::vector<std::vector<std::string>> helps = {
      {"--help"},         {"help"},           {"config", "show", "--help"},
      {"index", "--help"}, {"index", "add", "--help"}, {"index", "remove", "--help"},
      {"index", "set", "--help"}, {"folder", "add", "--help"}, {"folder", "remove", "--help"},
      {"log", "set", "--help"}, {"pdf", "set", "--help"}, {"list", "--help"},
  };
  for (const auto& args : helps) {
    out_.str("");
    EXPECT_EQ(RunVantrelctl(args, env_), kCtlOk) << testing::PrintToString(args);
    EXPECT_NE(out_.str().find("Usage: vantrelctl"), std::string::npos) << args[0];
  }
  EXPECT_EQ(RunVantrelctl({}, env_), kCtlUsage);
  EXPECT_EQ(Run({"frobnicate"}), kCtlUsage);
  EXPECT_EQ(Run({"index", "rename"}), kCtlUsage);
  EXPECT_EQ(Run({"index"}), kCtlUsage);
  EXPECT_EQ(RunVantrelctl({"--bogus", "config", "show"}, env_), kCtlUsage);
  EXPECT_EQ(RunVantrelctl({"--dir", dir_.Path("nowhere"), "index", "remove", "0"}, env_),
            kCtlUsage);
  EXPECT_FALSE(DefaultFileSystem()->Exists(ConfigPathIn(dir_.path())));
}

}  // namespace
}  // namespace vantrel
