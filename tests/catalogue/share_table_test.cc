#include "catalogue/share_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "support/scoped_env.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

constexpr char kConf[] = R"(# The file server's shares
[global]
   netbios name = fileserver
   workgroup = OFFICE
   vfs objects = fruit streams_xattr

[homes]
   path = /home
[printers]
   path = /var/spool/samba
   printable = yes
[Labels]
   path = /var/spool/labels
   print ok = yes

; a share of the image archive, for Windows and Mac clients
[PICS]
   path = /srv/images/
[Archive]
   directory = /srv/archive
   vfs objects = acl_xattr
[Mac Only]
   Path = /srv/mac
   VFSObjects = catia,fruit, streams_xattr
[Closed]
   path = /srv/closed
   available = no
[relative]
   path = srv/relative
[nopath]
   comment = nothing
[Long \
Name]
   path = /srv/\
long
[pics]
   comment = the same share again
   path = /srv/images2
)";

TEST(ParseSmbConf, ReadsSharesVolumesAndTheComputerName) {
  ShareTables t = ParseSmbConf(kConf, "ignored.example.com");
  EXPECT_EQ(t.computer_name, "FILESERVER");
  // [PICS] and [pics] are one share, whose later path wins, at its first place.
  EXPECT_EQ(t.shares, (std::vector<ShareEntry>{{"PICS", "/srv/images2"},
                                               {"Archive", "/srv/archive"},
                                               {"Mac Only", "/srv/mac"},
                                               {"Long Name", "/srv/long"}}));
  // The fruit module of [global] holds for the shares that set no modules.
  EXPECT_EQ(t.volumes,
            (std::vector<ShareEntry>{
                {"PICS", "/srv/images2"}, {"Mac Only", "/srv/mac"}, {"Long Name", "/srv/long"}}));
}

TEST(ParseSmbConf, ComputerNameFromTheHostNameWithoutNetbiosName) {
  EXPECT_EQ(ParseSmbConf("[a]\npath=/a\n", "files01.example.com").computer_name, "FILES01");
  EXPECT_EQ(ParseSmbConf("", "box").computer_name, "BOX");
  EXPECT_EQ(ParseSmbConf("[global]\nnetbios name =   \n", "box").computer_name, "BOX");
  // No fruit anywhere: shares but no volumes.
  ShareTables t = ParseSmbConf("[a]\npath=/a\n", "box");
  EXPECT_EQ(t.shares.size(), 1u);
  EXPECT_TRUE(t.volumes.empty());
}

TEST(ParseSmbConf, TakesAtMost64SharesAndVolumes) {
  std::string conf = "[global]\nvfs objects = fruit\n";
  for (int i = 0; i < 70; ++i) {
    conf += "[s" + std::to_string(i) + "]\npath = /srv/s" + std::to_string(i) + "\n";
  }
  ShareTables t = ParseSmbConf(conf, "h");
  ASSERT_EQ(t.shares.size(), kMaxShareEntries);
  ASSERT_EQ(t.volumes.size(), kMaxShareEntries);
  EXPECT_EQ(t.shares.back().name, "s63");
  EXPECT_EQ(WindowsSharePath(t, "/srv/s63/x"), "\\\\H\\s63\\x");
  EXPECT_EQ(WindowsSharePath(t, "/srv/s64/x"), "");
  EXPECT_EQ(MacVolumePath(t, "/srv/s64"), "");
}

TEST(ParseSmbConf, LeavesOutOverlongNamesAndRoots) {
  const std::string name127(kMaxShareTextLength, 'n');
  const std::string name128(kMaxShareTextLength + 1, 'm');
  const std::string root127 = "/" + std::string(kMaxShareTextLength - 1, 'r');
  const std::string root128 = "/" + std::string(kMaxShareTextLength, 'q');
  std::string conf = "[" + name127 + "]\npath=/a\n[" + name128 +
                     "]\npath=/b\n[ok]\npath=" + root127 + "\n[toolong]\npath=" + root128 + "\n";
  ShareTables t = ParseSmbConf(conf, "h");
  EXPECT_EQ(t.shares, (std::vector<ShareEntry>{{name127, "/a"}, {"ok", root127}}));
}

TEST(ParseSmbConf, SurvivesAnyText) {
  const std::vector<std::string> texts = {"[",
                                          "[]\npath=/x",
                                          "=\n=\n[a",
                                          "[a]\n=/x\npath",
                                          "\\",
                                          "[a]\\\n\\\n\\",
                                          std::string("[a]\npath=/x\0y\n", 14),
                                          std::string(1000, '['),
                                          "path=/top\n[global]\n"};
  for (const std::string& text : texts) {
    ShareTables t = ParseSmbConf(text, "h");
    for (const ShareEntry& e : t.shares) {
      EXPECT_FALSE(e.name.empty()) << text;
      EXPECT_EQ(e.root.front(), '/') << text;
    }
  }
  // Parameters before any section belong to [global]: no share.
  EXPECT_TRUE(ParseSmbConf("path=/top\n", "h").shares.empty());
}

class LookupTest : public ::testing::Test {
 protected:
  ShareTables With(std::vector<ShareEntry> shares) {
    ShareTables t;
    t.computer_name = "SRV";
    t.shares = shares;
    t.volumes = std::move(shares);
    return t;
  }
};

TEST_F(LookupTest, BelowTheRootAndAtTheRoot) {
  ShareTables t = With({{"PICS", "/srv/images"}});
  struct Case {
    const char* path;
    const char* share;
    const char* volume;
  } cases[] = {
      {"/srv/images/Sport", "\\\\SRV\\PICS\\Sport", "PICS:Sport"},
      {"/srv/images/Sport/2024/", "\\\\SRV\\PICS\\Sport\\2024", "PICS:Sport:2024"},
      {"/srv/images", "\\\\SRV\\PICS", "PICS"},
      {"/srv/images/", "\\\\SRV\\PICS", "PICS"},
      // The root is compared without regard to ASCII case.
      {"/SRV/Images/Sport", "\\\\SRV\\PICS\\Sport", "PICS:Sport"},
      {"/srv/imag", "", ""},
      {"/srv", "", ""},
      {"", "", ""},
      {"srv/images/Sport", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WindowsSharePath(t, c.path), c.share) << c.path;
    EXPECT_EQ(MacVolumePath(t, c.path), c.volume) << c.path;
  }
}

TEST_F(LookupTest, TheFirstCoveringRootWins) {
  struct Case {
    std::vector<ShareEntry> shares;
    const char* path;
    const char* share;
    const char* volume;
  } cases[] = {
      // The first covering entry wins even when a later one is longer.
      {{{"ALL", "/srv"}, {"PICS", "/srv/images"}}, "/srv/images/Sport",
       "\\\\SRV\\ALL\\images\\Sport", "ALL:images:Sport"},
      {{{"PICS", "/srv/images"}, {"ALL", "/srv"}}, "/srv/images/Sport",
       "\\\\SRV\\PICS\\Sport", "PICS:Sport"},
      {{{"PICS", "/srv/images"}, {"ALL", "/srv"}}, "/srv/other", "\\\\SRV\\ALL\\other",
       "ALL:other"},
      // A root ends at a path separator: /srv/Img does not hold /srv/Images/x.
      {{{"IMG", "/srv/Img"}, {"ALL", "/srv"}}, "/srv/Images/x", "\\\\SRV\\ALL\\Images\\x",
       "ALL:Images:x"},
      {{{"IMG", "/srv/Img"}, {"ALL", "/srv"}}, "/srv/Img/x", "\\\\SRV\\IMG\\x", "IMG:x"},
      // The whole file system as a share.
      {{{"ROOT", "/"}}, "/srv/x", "\\\\SRV\\ROOT\\srv\\x", "ROOT:srv:x"},
      {{{"ROOT", "/"}}, "/", "\\\\SRV\\ROOT", "ROOT"},
      // Volume paths have no backslashes.
      {{{"A\\B", "/srv/images"}}, "/srv/images/x\\y/z", "\\\\SRV\\A\\B\\x\\y\\z",
       "A:B:x:y:z"},
  };
  for (const Case& c : cases) {
    ShareTables t = With(c.shares);
    EXPECT_EQ(WindowsSharePath(t, c.path), c.share) << c.path;
    EXPECT_EQ(MacVolumePath(t, c.path), c.volume) << c.path;
  }
}

TEST(SambaVolumeNamer, ReadsTheFileAtEveryLookup) {
  TempDir dir;
  const std::string conf = dir.Path("smb.conf");
  SambaVolumeNamer namer(DefaultFileSystem(), conf, "server.local");
  // No file: no shares.
  EXPECT_EQ(namer.WindowsShareName("/srv/images/Sport"), "");
  EXPECT_EQ(namer.MacVolumeName("/srv/images/Sport"), "");

  ASSERT_TRUE(dir.WriteFile("smb.conf", "[PICS]\npath = /srv/images\nvfs objects = fruit\n"));
  EXPECT_EQ(namer.WindowsShareName("/srv/images/Sport"), "\\\\SERVER\\PICS\\Sport");
  EXPECT_EQ(namer.MacVolumeName("/srv/images/Sport"), "PICS:Sport");

  ASSERT_TRUE(dir.WriteFile("smb.conf", "[PICS]\npath = /srv/images\n"));
  EXPECT_EQ(namer.MacVolumeName("/srv/images/Sport"), "");
}

TEST(SambaVolumeNamer, FileNamedByTheEnvironment) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("my.conf", "[global]\nnetbios name = nas\n[P]\npath=/p\n"));
  {
    ScopedEnv env("VANTREL_SMB_CONF", dir.Path("my.conf"));
    EXPECT_EQ(SmbConfPath(), dir.Path("my.conf"));
    SambaVolumeNamer namer(DefaultFileSystem());
    EXPECT_EQ(namer.WindowsShareName("/p/q"), "\\\\NAS\\P\\q");
  }
  ScopedEnv empty("VANTREL_SMB_CONF", "");
  EXPECT_EQ(SmbConfPath(), "/etc/samba/smb.conf");
}

}  // namespace
}  // namespace vantrel
