#include "catalogue/index_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/file_names.h"
#include "core/index_info.h"
#include "core/text_table.h"
#include "platform/ini_file.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

class RecordingNotices : public NoticeSink {
 public:
  void ShowNotice(const std::string& caption, const std::string& text, int ms) override {
    shown.push_back({caption, text, ms});
  }
  struct Shown {
    std::string caption, text;
    int ms;
  };
  std::vector<Shown> shown;
};

class IndexFoldersTest : public ::testing::Test {
 protected:
  IndexDefinition MakeIndex(const std::string& folder, const std::string& image_folder) {
    IndexDefinition def = NewIndexDefinition("Photos", folder).value();
    def.active = 1;
    def.image_folders[0].path = OfflineFolderOf(folder);
    if (!image_folder.empty()) def.image_folders[1].path = image_folder;
    return def;
  }

  TempDir dir_;
  FileSystem* fs_ = DefaultFileSystem();
  RecordingNotices notices_;
};

TEST_F(IndexFoldersTest, CreatesTheTreeEmptiesTheSearchFolderAndWritesTheStatusFile) {
  ASSERT_TRUE(dir_.MakeFolder("index"));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/old/left.REQ", "x"));
  ASSERT_TRUE(dir_.WriteFile("index/VT_SEARCH/ANSWER.HIT", "x"));
  ASSERT_TRUE(dir_.MakeFolder("idle"));
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("index"), dir_.Path("images")));
  config.indexes.push_back(MakeIndex(dir_.Path("idle"), ""));
  config.indexes[1].active = 0;  // left alone

  PrepareIndexFolders(&config, fs_, &notices_);

  const IndexDefinition& def = config.indexes[0];
  EXPECT_TRUE(notices_.shown.empty());
  EXPECT_EQ(def.active, 1u);
  EXPECT_EQ(def.engine_folder, dir_.Path("index/VT_DATA/VT_INDEX"));
  EXPECT_EQ(def.lists_folder, dir_.Path("index/VT_DATA/VT_LISTS"));
  EXPECT_EQ(def.search_folder, dir_.Path("index/VT_SEARCH"));
  for (const char* folder : {"index/OffLine", "index/VT_DATA/VT_INDEX", "index/VT_DATA/VT_LISTS",
                             "index/VT_SEARCH"}) {
    EXPECT_TRUE(fs_->IsFolder(dir_.Path(folder))) << folder;
  }
  // Requests left from an earlier run are never served.
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_SEARCH/old")));
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_SEARCH/ANSWER.HIT")));
  EXPECT_EQ(fs_->ReadFile(dir_.Path("index/VT_SEARCH/VTSTATUS")).value(),
            std::string("\0\0\0\1", 4));
  EXPECT_FALSE(fs_->Exists(dir_.Path("idle/VT_SEARCH")));
}

// The image, search, lists and client folders of the active indexes, and
// the PDF folder.
TEST_F(IndexFoldersTest, ServedFoldersAreWhatClientsWriteInto) {
  ASSERT_TRUE(dir_.MakeFolder("index"));
  ASSERT_TRUE(dir_.MakeFolder("idle"));
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("index"), dir_.Path("images")));
  config.indexes.push_back(MakeIndex(dir_.Path("idle"), dir_.Path("idle images")));
  config.indexes[1].active = 0;
  config.pdf.folder = dir_.Path("pdf");
  PrepareIndexFolders(&config, fs_, &notices_);
  // The folders that the server makes in the index folder are its own below
  // the index folder; the others are the operator's as a whole.
  const std::string index = dir_.Path("index");
  EXPECT_EQ(ServedFoldersOf(config),
            (std::vector<ServedFolder>{{dir_.Path("index/OffLine"), index},
                                       {dir_.Path("images"), dir_.Path("images")},
                                       {dir_.Path("index/VT_SEARCH"), index},
                                       {dir_.Path("index/VT_DATA/VT_LISTS"), index},
                                       {dir_.Path("index/VT_CLIENT"), index},
                                       {dir_.Path("pdf")}}));
}

TEST_F(IndexFoldersTest, MissingIndexFolderStopsTheIndexWithANotice) {
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("nowhere"), dir_.Path("images")));
  config.indexes.push_back(MakeIndex("relative/index", ""));

  PrepareIndexFolders(&config, fs_, &notices_);

  EXPECT_EQ(config.indexes[0].active, 0u);
  EXPECT_EQ(config.indexes[1].active, 0u);
  ASSERT_EQ(notices_.shown.size(), 2u);
  EXPECT_EQ(notices_.shown[0].caption, "Error");
  EXPECT_EQ(notices_.shown[0].text,
            "Index Folder " + dir_.Path("nowhere") + " does not exist.\nThe Index is stopped!");
  EXPECT_EQ(notices_.shown[0].ms, 60000);
  EXPECT_FALSE(fs_->Exists(dir_.Path("nowhere")));
}

TEST_F(IndexFoldersTest, IndexFolderInsideAnImageFolderIsRefused) {
  ASSERT_TRUE(dir_.MakeFolder("img/index"));
  ASSERT_TRUE(dir_.MakeFolder("images/index"));
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("img/index"), dir_.Path("img")));
  // A name that only begins like the image folder is not inside it.
  config.indexes.push_back(MakeIndex(dir_.Path("images/index"), dir_.Path("img")));
  // The other letter case is another folder here.
  config.indexes.push_back(MakeIndex(dir_.Path("img/index"), dir_.Path("IMG")));

  PrepareIndexFolders(&config, fs_, &notices_);

  EXPECT_EQ(config.indexes[0].active, 0u);
  EXPECT_EQ(config.indexes[1].active, 1u);
  EXPECT_EQ(config.indexes[2].active, 1u);
  ASSERT_EQ(notices_.shown.size(), 1u);
  EXPECT_EQ(notices_.shown[0].text, "Index Folder " + dir_.Path("img/index") + " " +
                                        Text(TextId::IDS_BADNESTED));
  // The refused index keeps no derived folders.
  EXPECT_TRUE(config.indexes[0].search_folder.empty());
}

TEST_F(IndexFoldersTest, PathInfoIsWrittenOnlyWhenThePdfFolderExists) {
  ASSERT_TRUE(dir_.MakeFolder("index"));
  ASSERT_TRUE(dir_.WriteFile("index/PDF/PathInfo.ini", "old"));
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("index"), ""));
  config.pdf.folder = dir_.Path("pdf");  // not there yet
  config.pdf.win_path = "\\\\SRV\\PDF";
  config.pdf.mac_path = "Server:PDF\nline";

  PrepareIndexFolders(&config, fs_, &notices_);
  EXPECT_EQ(fs_->ReadFile(dir_.Path("index/PDF/PathInfo.ini")).value(), "old");

  ASSERT_TRUE(dir_.MakeFolder("pdf"));
  PrepareIndexFolders(&config, fs_, &notices_);
  std::string path = dir_.Path("index/PDF/PathInfo.ini");
  EXPECT_EQ(ReadIniString(fs_, path, "PDF_FOLDER", "WIN_PATH", "?"), "\\\\SRV\\PDF");
  // A line break inside a value is written as a backslash.
  EXPECT_EQ(ReadIniString(fs_, path, "PDF_FOLDER", "MAC_PATH", "?"), "Server:PDF\\line");
}

// Clients of the share can write the index folder's client-facing folders
// and plant symbolic links there. The server, running as root, replaces a
// planted link with its own file and never writes through it.
TEST_F(IndexFoldersTest, FilesForClientsReplacePlantedLinks) {
  ASSERT_TRUE(dir_.WriteFile("outside/precious", "root only"));
  const std::string precious = dir_.Path("outside/precious");
  const std::vector<std::string> planted = {
      "index/PDF/PathInfo.ini", "pdf/WinPathInfo.ini", "index/VT_CLIENT/INDEXINFO.INI",
      "index/VT_DATA/VT_LISTS/WINVOLLIST"};
  for (const std::string& name : planted) {
    ASSERT_TRUE(dir_.MakeFolder(name.substr(0, name.rfind('/'))));
    ASSERT_EQ(::symlink(precious.c_str(), dir_.Path(name).c_str()), 0) << name;
  }
  Configuration config;
  IndexDefinition def = MakeIndex(dir_.Path("index"), "");
  def.image_folders[0].windows_share = "\\\\SRV\\IDX\\OffLine";
  config.indexes.push_back(def);
  config.pdf.folder = dir_.Path("pdf");
  config.pdf.win_path = "\\\\SRV\\PDF";

  PrepareIndexFolders(&config, fs_, &notices_);
  ASSERT_TRUE(WriteIndexInfo(fs_, dir_.Path("index/VT_CLIENT"), 7).ok());
  ASSERT_TRUE(WriteVolumeLists(config.indexes[0], fs_, config.indexes[0].lists_folder,
                               CodePage::BuiltInWindows1252())
                  .ok());

  EXPECT_EQ(fs_->ReadFile(precious).value(), "root only");
  for (const std::string& name : planted) {
    struct stat st;
    ASSERT_EQ(::lstat(dir_.Path(name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
  }
  EXPECT_EQ(ReadIniString(fs_, dir_.Path("index/PDF/PathInfo.ini"), "PDF_FOLDER", "WIN_PATH", "?"),
            "\\\\SRV\\PDF");
  EXPECT_EQ(ReadIniString(fs_, dir_.Path("index/VT_CLIENT/INDEXINFO.INI"), kIndexInfoSection,
                          kIndexInfoTotalFilesKey, "?"),
            "7");
  EXPECT_NE(fs_->ReadFile(dir_.Path("pdf/WinPathInfo.ini")).value().find("SRV\\IDX\\OffLine="),
            std::string::npos);
}

// Whoever may write the index folder could put links in the place of the
// server's own folders: the folders are made again, and what the links
// point to is neither emptied nor written.
TEST_F(IndexFoldersTest, LinksInPlaceOfTheServersFoldersAreReplacedByFolders) {
  for (const char* name : {"VT_SEARCH", "OffLine", "VT_CLIENT"}) {
    ASSERT_TRUE(dir_.WriteFile(std::string("outside-") + name + "/sub/precious", "keep"));
  }
  ASSERT_TRUE(dir_.WriteFile("outside-data/VT_LISTS/TIMELIST", "keep"));
  ASSERT_TRUE(dir_.MakeFolder("index"));
  for (const auto& [link, target] :
       std::vector<std::pair<std::string, std::string>>{{"index/VT_SEARCH", "outside-VT_SEARCH"},
                                                        {"index/OffLine", "outside-OffLine"},
                                                        {"index/VT_CLIENT", "outside-VT_CLIENT"},
                                                        {"index/VT_DATA", "outside-data"}}) {
    ASSERT_EQ(::symlink(dir_.Path(target).c_str(), dir_.Path(link).c_str()), 0) << link;
  }
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("index"), ""));

  PrepareIndexFolders(&config, fs_, &notices_);

  for (const char* name : {"VT_SEARCH", "OffLine", "VT_DATA", "VT_DATA/VT_LISTS"}) {
    struct stat st;
    ASSERT_EQ(::lstat(dir_.Path(std::string("index/") + name).c_str(), &st), 0) << name;
    EXPECT_TRUE(S_ISDIR(st.st_mode)) << name;
  }
  // The client folder is made by its first writer; the link is gone.
  struct stat client;
  const bool still_a_link =
      ::lstat(dir_.Path("index/VT_CLIENT").c_str(), &client) == 0 && S_ISLNK(client.st_mode);
  EXPECT_FALSE(still_a_link);
  ASSERT_TRUE(WriteIndexInfo(fs_, dir_.Path("index/VT_CLIENT"), 7).ok());
  EXPECT_FALSE(fs_->Exists(dir_.Path("outside-VT_CLIENT/INDEXINFO.INI")));
  EXPECT_EQ(fs_->ReadFile(dir_.Path("outside-VT_CLIENT/sub/precious")).value(), "keep");
  EXPECT_TRUE(fs_->Exists(dir_.Path("index/VT_SEARCH/VTSTATUS")));
  EXPECT_EQ(fs_->ReadFile(dir_.Path("outside-VT_SEARCH/sub/precious")).value(), "keep");
  EXPECT_EQ(fs_->ReadFile(dir_.Path("outside-OffLine/sub/precious")).value(), "keep");
  EXPECT_EQ(fs_->ReadFile(dir_.Path("outside-data/VT_LISTS/TIMELIST")).value(), "keep");
  EXPECT_FALSE(fs_->Exists(dir_.Path("outside-VT_SEARCH/VTSTATUS")));
}

// Clients of the share, mapped to several users of one group, drop requests
// into the search folder and delete answers there.
TEST_F(IndexFoldersTest, NewSearchFolderIsWritableByTheIndexFoldersGroup) {
  ASSERT_TRUE(dir_.MakeFolder("index"));
  const gid_t group = ::geteuid() == 0 ? 4243 : ::getegid();
  ASSERT_EQ(::chown(dir_.Path("index").c_str(), static_cast<uid_t>(-1), group), 0);
  Configuration config;
  config.indexes.push_back(MakeIndex(dir_.Path("index"), ""));
  PrepareIndexFolders(&config, fs_, &notices_);
  struct stat st;
  ASSERT_EQ(::stat(dir_.Path("index/VT_SEARCH").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 02775u);
  EXPECT_EQ(st.st_gid, group);
  // Files created in it, such as VTSTATUS, take its group.
  ASSERT_EQ(::stat(dir_.Path("index/VT_SEARCH/VTSTATUS").c_str(), &st), 0);
  EXPECT_EQ(st.st_gid, group);
}

}  // namespace
}  // namespace vantrel
