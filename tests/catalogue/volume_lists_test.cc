#include "catalogue/volume_lists.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "catalogue/index_folders.h"
#include "core/browse_list.h"
#include "core/list_file.h"
#include "metadata/char_tables.h"
#include "platform/ini_file.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A list file written out by hand: header, skip table, records.
std::string ExpectedListFile(const std::vector<std::pair<std::string, uint32_t>>& records) {
  std::string out;
  PutU32(&out, static_cast<uint32_t>(records.size()));
  PutU32(&out, 0);
  PutU32(&out, 408);
  out.append(396, '\0');
  uint32_t position = 0;
  for (const auto& [name, value] : records) {
    PutU32(&out, static_cast<uint32_t>(name.size() + 1));
    PutU32(&out, 0);
    PutU32(&out, value);
    PutU32(&out, position++);
    out += name;
    out.push_back('\0');
  }
  return out;
}

std::string ToMac(std::string_view text) {
  std::string s(text);
  ConvertToMacText(s);
  return s;
}

class VolumeListsTest : public ::testing::Test {
 protected:
  VolumeListsTest() : cp_(CodePage::BuiltInWindows1252()) {}

  IndexDefinition Index(const std::string& name) {
    IndexDefinition def = NewIndexDefinition(name, dir_.Path(name)).value();
    def.active = 1;
    return def;
  }
  static void SetSlot(IndexDefinition* def, int slot, std::string path, std::string share,
                      std::string volume) {
    def->image_folders[slot].path = std::move(path);
    def->image_folders[slot].windows_share = std::move(share);
    def->image_folders[slot].mac_volume = std::move(volume);
  }
  std::string Read(const std::string& relative) {
    StatusOr<std::string> s = fs_->ReadFile(dir_.Path(relative));
    return s.ok() ? s.value() : "<missing>";
  }

  TempDir dir_;
  FileSystem* fs_ = DefaultFileSystem();
  const CodePage cp_;
};

TEST_F(VolumeListsTest, OneRecordPerUsedSlotInNameOrder) {
  IndexDefinition def = Index("idx");
  SetSlot(&def, 0, "/srv/idx/OffLine", "\\\\SRV\\IDX\\OffLine", "Idx:OffLine");
  SetSlot(&def, 2, "/srv/unshared", "", "");
  SetSlot(&def, 5, "/srv/images/Caf\xC3\xA9", "\\\\SRV\\PICS\\Caf\xC3\xA9", "Pictures:Caf\xC3\xA9");
  ASSERT_TRUE(dir_.MakeFolder("lists"));
  ASSERT_TRUE(WriteVolumeLists(def, fs_, dir_.Path("lists"), cp_).ok());

  // Names are compared by their last component first: "" < "Café" < "OffLine".
  EXPECT_EQ(
      Read("lists/WINVOLLIST"),
      ExpectedListFile({{"", 2}, {"\\\\SRV\\PICS\\Caf\xE9", 5}, {"\\\\SRV\\IDX\\OffLine", 0}}));
  // Volume names have no backslash: whole names compare.
  EXPECT_EQ(Read("lists/MACVOLLIST"),
            ExpectedListFile({{"", 2}, {"Idx:OffLine", 0}, {"Pictures:Caf\xE9", 5}}));

  // Slots that change are reflected the next time; a missing folder fails.
  def.image_folders[2].path.clear();
  ASSERT_TRUE(WriteVolumeLists(def, fs_, dir_.Path("lists"), cp_).ok());
  BrowseList list;
  ASSERT_TRUE(LoadListFile(fs_, dir_.Path("lists/WINVOLLIST"), true, &list).ok());
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_FALSE(WriteVolumeLists(def, fs_, dir_.Path("nowhere"), cp_).ok());
}

TEST(FolderKeyForms, ShareAndLocalPaths) {
  struct {
    const char* share;
    const char* key;
  } shares[] = {
      {"\\\\srv\\share\\a", "srv\\share\\a"},
      {"\\\\SRV", "SRV"},
      {"D:\\Images\\a", "D\\Images\\a"},
      {"D:", "D"},
      {"X", "X"},
      {"", ""},
  };
  for (const auto& c : shares) EXPECT_EQ(ShareKeyForm(c.share), c.key) << c.share;

  const CodePage cp = CodePage::BuiltInWindows1252();
  EXPECT_EQ(LocalKeyForm("/srv/images/sport", cp), "srv\\images\\sport");
  EXPECT_EQ(LocalKeyForm("/srv/images/sport/", cp), "srv\\images\\sport");
  EXPECT_EQ(LocalKeyForm("/srv/Caf\xC3\xA9/\xCE\xA9", cp), "srv\\Caf\xE9\\?");
  EXPECT_EQ(LocalKeyForm("/", cp), "");
}

class MappingFilesTest : public VolumeListsTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.MakeFolder("pdf"));
    config_.pdf.folder = dir_.Path("pdf");
    IndexDefinition a = Index("a");
    SetSlot(&a, 0, "/srv/a/OffLine", "\\\\SRV\\A\\OffLine", "");
    SetSlot(&a, 3, "/srv/images/Caf\xC3\xA9", "\\\\SRV\\PICS\\Caf\xC3\xA9", "Pictures:Caf\xC3\xA9");
    IndexDefinition b = Index("b");
    SetSlot(&b, 0, "/srv/b/OffLine", "", "B:OffLine");
    // The same share path as index a's slot 3, for another folder: b writes last.
    SetSlot(&b, 1, "/srv/copy", "\\\\srv\\pics\\caf\xC3\xA9", "");
    IndexDefinition stopped = Index("stopped");
    stopped.active = 0;
    SetSlot(&stopped, 0, "/srv/stopped/OffLine", "\\\\SRV\\STOPPED", "Stopped");
    config_.indexes = {a, b, stopped};
  }

  Configuration config_;
};

TEST_F(MappingFilesTest, WindowsAndMacintoshMappings) {
  ASSERT_TRUE(WriteFolderMappingFiles(config_, fs_, ToMac, cp_).ok());
  EXPECT_EQ(Read("pdf/WinPathInfo.ini"),
            "[FOLDERMAPPING]\r\n"
            "SRV\\A\\OffLine=srv\\a\\OffLine\r\n"
            "SRV\\PICS\\Caf\xE9=srv\\copy\r\n");
  // Mac Roman: é is 0x8E.
  EXPECT_EQ(Read("pdf/MacPathInfo.ini"),
            "[FOLDERMAPPING]\r\n"
            "Pictures:Caf\x8E=srv:images:Caf\x8E\r\n"
            "B:OffLine=srv:b:OffLine\r\n");
  // Without a converter the code-page bytes stay.
  ASSERT_TRUE(WriteFolderMappingFiles(config_, fs_, {}, cp_).ok());
  EXPECT_EQ(ReadIniString(fs_, dir_.Path("pdf/MacPathInfo.ini"), kFolderMappingSection,
                          "Pictures:Caf\xE9", "-"),
            "srv:images:Caf\xE9");
}

TEST_F(MappingFilesTest, FoldersNoLongerServedLeaveTheFileOtherSectionsStay) {
  ASSERT_TRUE(WriteIniString(fs_, dir_.Path("pdf/WinPathInfo.ini"), "NOTES", "kept", "yes").ok());
  ASSERT_TRUE(WriteFolderMappingFiles(config_, fs_, ToMac, cp_).ok());
  config_.indexes[0].active = 0;
  ASSERT_TRUE(WriteFolderMappingFiles(config_, fs_, ToMac, cp_).ok());
  const std::string win = dir_.Path("pdf/WinPathInfo.ini");
  IniDocument doc = IniDocument::Parse(Read("pdf/WinPathInfo.ini"));
  // Only index b's key is left, in its own spelling.
  EXPECT_EQ(doc.Keys(kFolderMappingSection), (std::vector<std::string>{"srv\\pics\\caf\xE9"}));
  EXPECT_EQ(ReadIniString(fs_, win, "NOTES", "kept", "-"), "yes");
  EXPECT_EQ(Read("pdf/MacPathInfo.ini"), "[FOLDERMAPPING]\r\nB:OffLine=srv:b:OffLine\r\n");
}

TEST_F(MappingFilesTest, NothingWithoutAPdfFolder) {
  Configuration none = config_;
  none.pdf.folder.clear();
  EXPECT_TRUE(WriteFolderMappingFiles(none, fs_, ToMac, cp_).ok());
  none.pdf.folder = dir_.Path("missing");
  EXPECT_TRUE(WriteFolderMappingFiles(none, fs_, ToMac, cp_).ok());
  EXPECT_FALSE(fs_->Exists(dir_.Path("missing")));
  EXPECT_EQ(Read("pdf/WinPathInfo.ini"), "<missing>");
  EXPECT_EQ(Read("pdf/MacPathInfo.ini"), "<missing>");

  // Nothing to map: no file is created.
  Configuration empty;
  empty.pdf.folder = dir_.Path("pdf");
  EXPECT_TRUE(WriteFolderMappingFiles(empty, fs_, ToMac, cp_).ok());
  EXPECT_EQ(Read("pdf/WinPathInfo.ini"), "<missing>");
}

TEST_F(MappingFilesTest, KeysTheFormatCannotHoldAreLeftOut) {
  config_.indexes[0].image_folders[3].windows_share = "[odd";
  config_.indexes[1].image_folders[1].windows_share = "";
  ASSERT_TRUE(WriteFolderMappingFiles(config_, fs_, ToMac, cp_).ok());
  IniDocument doc = IniDocument::Parse(Read("pdf/WinPathInfo.ini"));
  EXPECT_EQ(doc.Keys(kFolderMappingSection), (std::vector<std::string>{"SRV\\A\\OffLine"}));
}

TEST_F(MappingFilesTest, WrittenByThePreparationPass) {
  for (IndexDefinition& def : config_.indexes) ASSERT_TRUE(dir_.MakeFolder(def.name));
  PrepareIndexFolders(&config_, fs_, nullptr, ToMac);
  IniDocument win = IniDocument::Parse(Read("pdf/WinPathInfo.ini"));
  EXPECT_EQ(win.Get(kFolderMappingSection, "SRV\\A\\OffLine"), "srv\\a\\OffLine");
  EXPECT_EQ(win.Get(kFolderMappingSection, "SRV\\STOPPED"), std::nullopt);
  EXPECT_NE(Read("a/PDF/PathInfo.ini"), "<missing>");
}

}  // namespace
}  // namespace vantrel
