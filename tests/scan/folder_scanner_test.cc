#include "scan/folder_scanner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/browse_list.h"
#include "core/list_lock_table.h"
#include "platform/file_time.h"
#include "platform/mutex.h"
#include "support/fault_file_system.h"
#include "support/file_times.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Counts the folder listings (and where they were made), to see which
// folders a comparison walks into.
class CountingFileSystem : public FaultFileSystem {
 public:
  explicit CountingFileSystem(FileSystem* base) : FaultFileSystem(base) {}
  StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) override {
    {
      MutexLock l(&mu_);
      listed_.push_back(path);
    }
    return FaultFileSystem::ListFolder(path);
  }
  std::vector<std::string> TakeListed() {
    MutexLock l(&mu_);
    std::vector<std::string> out;
    out.swap(listed_);
    return out;
  }

 private:
  Mutex mu_;
  std::vector<std::string> listed_ GUARDED_BY(mu_);
};

constexpr int kSlot = 3;
constexpr int64_t kT0 = 1'600'000'000;  // some time in 2020

class FolderScannerTest : public ::testing::Test {
 protected:
  FolderScannerTest()
      : cp_(CodePage::BuiltInWindows1252()),
        fs_(DefaultFileSystem()),
        scanner_(&fs_, cp_),
        dirlist_(&locks_, 0, &list_) {}

  std::string Root() const { return dir_.Path("images"); }
  std::string P(const std::string& relative) const {
    return relative.empty() ? Root() : Root() + "/" + relative;
  }

  void File(const std::string& relative) { ASSERT_TRUE(dir_.WriteFile("images/" + relative, "x")); }
  void Folder(const std::string& relative) { ASSERT_TRUE(dir_.MakeFolder("images/" + relative)); }
  void Touch(const std::string& relative, int64_t t) {
    ASSERT_TRUE(SetModifiedTime(P(relative), t));
  }

  // The standard tree, every folder time set explicitly:
  //   images/            kT0
  //     a.jpg, .hidden.jpg
  //     .meta/ (hidden)  kT0 + 1    b.jpg
  //     Sub/             kT0 + 2    c.jpg
  //       Deep/          kT0 + 3    d.jpg
  //     Leaf/            kT0 + 4    e.jpg
  void MakeTree() {
    File("a.jpg");
    File(".hidden.jpg");
    File(".meta/b.jpg");
    File("Sub/c.jpg");
    File("Sub/Deep/d.jpg");
    File("Leaf/e.jpg");
    Touch("Sub/Deep", kT0 + 3);
    Touch("Sub", kT0 + 2);
    Touch(".meta", kT0 + 1);
    Touch("Leaf", kT0 + 4);
    Touch("", kT0);
  }

  static uint32_t Stamp(int64_t t) { return FileTimeStampFromUnix(t); }

  std::map<std::string, uint32_t> Dirlist() {
    std::map<std::string, uint32_t> out;
    for (size_t i = 0; i < dirlist_.Count(); ++i) {
      std::optional<BrowseEntry> e = dirlist_.EntryAt(i);
      EXPECT_TRUE(e.has_value());
      EXPECT_EQ(e->value, 0u);
      EXPECT_EQ(e->extra, kNoExtra);
      out[e->name] = e->time;
    }
    return out;
  }

  std::vector<ScannedEntry> Full() {
    std::vector<ScannedEntry> files;
    EXPECT_TRUE(scanner_.FullListing(kSlot, Root(), dirlist_, [&](const ScannedEntry& e) {
      files.push_back(e);
      return true;
    }));
    return files;
  }

  // "key time [gone]" for each changed folder, in report order.
  std::vector<std::string> Changed() {
    std::vector<std::string> out;
    for (const ChangedFolder& c : scanner_.ListChangedFolders(kSlot, Root(), dirlist_)) {
      std::string line = c.key + " " + std::to_string(c.time) + (c.gone ? " gone" : "");
      out.push_back(line);
      // The native path is the one the key stands for.
      EXPECT_EQ(scanner_.NativeFolderPath(Root(), c.key), c.native_path) << c.key;
    }
    return out;
  }

  static std::string Line(const std::string& key, int64_t t, bool gone = false) {
    return key + " " + std::to_string(Stamp(t)) + (gone ? " gone" : "");
  }

  TempDir dir_;
  const CodePage cp_;
  CountingFileSystem fs_;
  FolderScanner scanner_;
  ListLockTable locks_;
  BrowseList list_;
  LockedBrowseList dirlist_;
};

TEST(FolderScannerDigits, TwoDigits) {
  EXPECT_EQ(FolderScanner::SlotDigits(0), "00");
  EXPECT_EQ(FolderScanner::SlotDigits(7), "07");
  EXPECT_EQ(FolderScanner::SlotDigits(31), "31");
}

TEST_F(FolderScannerTest, FullListingSkipsHiddenFilesAndRecordsEveryFolder) {
  MakeTree();
  std::vector<ScannedEntry> files = Full();
  std::map<std::string, std::string> by_key;
  for (const ScannedEntry& e : files) {
    EXPECT_FALSE(e.is_folder);
    by_key[e.key] = e.native_path;
  }
  EXPECT_EQ(by_key, (std::map<std::string, std::string>{
                        {"03a.jpg", P("a.jpg")},
                        {"03.meta\\b.jpg", P(".meta/b.jpg")},
                        {"03Sub\\c.jpg", P("Sub/c.jpg")},
                        {"03Sub\\Deep\\d.jpg", P("Sub/Deep/d.jpg")},
                        {"03Leaf\\e.jpg", P("Leaf/e.jpg")},
                    }));
  EXPECT_EQ(Dirlist(), (std::map<std::string, uint32_t>{
                           {"03", Stamp(kT0)},
                           {"03.meta", Stamp(kT0 + 1)},
                           {"03Sub", Stamp(kT0 + 2)},
                           {"03Sub\\Deep", Stamp(kT0 + 3)},
                           {"03Leaf", Stamp(kT0 + 4)},
                       }));
  EXPECT_EQ(dirlist_.order(), kOrderName);
  // A second full listing does not duplicate folders.
  Full();
  EXPECT_EQ(Dirlist().size(), 5u);
  EXPECT_EQ(dirlist_.Count(), 5u);
}

TEST_F(FolderScannerTest, CallbackAbortsTheWholeWalk) {
  MakeTree();
  int calls = 0;
  EXPECT_FALSE(scanner_.FullListing(kSlot, Root(), dirlist_,
                                    [&](const ScannedEntry&) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
}

TEST_F(FolderScannerTest, InvalidRootListsNothing) {
  int calls = 0;
  auto count = [&](const ScannedEntry&) { return ++calls, true; };
  EXPECT_TRUE(scanner_.FullListing(kSlot, dir_.Path("missing"), dirlist_, count));
  EXPECT_TRUE(scanner_.FullListing(kSlot, "relative/path", dirlist_, count));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(dirlist_.Count(), 0u);
}

TEST_F(FolderScannerTest, FirstComparisonReportsEveryFolderThenNothing) {
  MakeTree();
  EXPECT_EQ(Changed(), (std::vector<std::string>{
                           Line("03", kT0),
                           Line("03.meta", kT0 + 1),
                           Line("03Leaf", kT0 + 4),
                           Line("03Sub", kT0 + 2),
                           Line("03Sub\\Deep", kT0 + 3),
                       }));
  EXPECT_EQ(Dirlist().size(), 5u);
  fs_.TakeListed();
  EXPECT_TRUE(Changed().empty());
  // Unchanged: the image folder and Sub (which has a recorded sub-folder)
  // are listed; the leaves .meta, Leaf and Sub/Deep are not.
  EXPECT_EQ(fs_.TakeListed(), (std::vector<std::string>{Root(), P("Sub")}));
}

TEST_F(FolderScannerTest, FullListingAndComparisonAgree) {
  MakeTree();
  Full();
  EXPECT_TRUE(Changed().empty());
}

TEST_F(FolderScannerTest, RenamedFileChangesOnlyItsFolder) {
  MakeTree();
  Full();
  ASSERT_TRUE(fs_.Rename(P("Sub/Deep/d.jpg"), P("Sub/Deep/renamed.jpg")).ok());
  Touch("Sub/Deep", kT0 + 100);
  EXPECT_EQ(Changed(), (std::vector<std::string>{Line("03Sub\\Deep", kT0 + 100)}));
  EXPECT_EQ(Dirlist().at("03Sub\\Deep"), Stamp(kT0 + 100));
  EXPECT_EQ(dirlist_.Count(), 5u);

  std::vector<ScannedEntry> files = scanner_.ListFolderFiles(kSlot, Root(), P("Sub/Deep"));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].key, "03Sub\\Deep\\renamed.jpg");
  EXPECT_EQ(files[0].native_path, P("Sub/Deep/renamed.jpg"));
  EXPECT_TRUE(Changed().empty());
}

TEST_F(FolderScannerTest, DeletedFoldersAreReportedWithTheirOldTimes) {
  MakeTree();
  Full();
  list_.Add("04Other", 77, 0, kNoExtra).IgnoreError();  // another image folder
  ASSERT_TRUE(fs_.DeleteFile(P("Sub/Deep/d.jpg")).ok());
  ASSERT_TRUE(fs_.DeleteFolder(P("Sub/Deep")).ok());
  Touch("Sub", kT0 + 50);
  EXPECT_EQ(Changed(), (std::vector<std::string>{Line("03Sub", kT0 + 50),
                                                 Line("03Sub\\Deep", kT0 + 3, true)}));
  EXPECT_FALSE(Dirlist().contains("03Sub\\Deep"));

  // The whole of Leaf goes: the image folder changes, Leaf is gone.
  ASSERT_TRUE(fs_.EmptyFolder(P("Leaf"), true).ok());
  ASSERT_TRUE(fs_.DeleteFolder(P("Leaf")).ok());
  Touch("", kT0 + 60);
  EXPECT_EQ(Changed(),
            (std::vector<std::string>{Line("03", kT0 + 60), Line("03Leaf", kT0 + 4, true)}));
  EXPECT_EQ(Dirlist(), (std::map<std::string, uint32_t>{{"03", Stamp(kT0 + 60)},
                                                        {"03.meta", Stamp(kT0 + 1)},
                                                        {"03Sub", Stamp(kT0 + 50)},
                                                        {"04Other", 77}}));
  EXPECT_TRUE(Changed().empty());
}

TEST_F(FolderScannerTest, UnreachableImageFolderReportsEverythingGone) {
  MakeTree();
  Full();
  list_.Add("04Other", 77, 0, kNoExtra).IgnoreError();
  ASSERT_TRUE(fs_.Rename(Root(), dir_.Path("away")).ok());
  std::vector<std::string> changed = Changed();
  EXPECT_EQ(changed.front(), Line("03", kT0, true));
  std::sort(changed.begin(), changed.end());
  EXPECT_EQ(changed,
            (std::vector<std::string>{Line("03", kT0, true), Line("03.meta", kT0 + 1, true),
                                      Line("03Leaf", kT0 + 4, true), Line("03Sub", kT0 + 2, true),
                                      Line("03Sub\\Deep", kT0 + 3, true)}));
  EXPECT_EQ(Dirlist(), (std::map<std::string, uint32_t>{{"04Other", 77}}));

  // Back again: everything is new.
  ASSERT_TRUE(fs_.Rename(dir_.Path("away"), Root()).ok());
  EXPECT_EQ(Changed().size(), 5u);
  EXPECT_EQ(Dirlist().size(), 6u);
}

TEST_F(FolderScannerTest, KeyPrefixOfASiblingDoesNotCountAsRecordedSubFolder) {
  File("Sport/Inner/x.jpg");
  File("Sports/Other/y.jpg");
  Touch("Sport/Inner", kT0 + 1);
  Touch("Sport", kT0 + 2);
  Touch("Sports/Other", kT0 + 3);
  Touch("Sports", kT0 + 4);
  Touch("", kT0);
  Full();
  // Sport's sub-folder is forgotten; Sport itself is unchanged, so it is not
  // walked into. "03Sports\Other" must not make it look like a parent.
  ASSERT_TRUE(dirlist_.Remove("03Sport\\Inner", 0).has_value());
  fs_.TakeListed();
  EXPECT_TRUE(Changed().empty());
  EXPECT_EQ(fs_.TakeListed(), (std::vector<std::string>{Root(), P("Sports")}));
  EXPECT_FALSE(Dirlist().contains("03Sport\\Inner"));
}

TEST_F(FolderScannerTest, LongFolderPathsAreNeitherWalkedNorRecorded) {
  const size_t base = Root().size() + 1;  // "<root>/"
  ASSERT_LT(base + 2, kMaxWalkedPathLength);
  const std::string fits(kMaxWalkedPathLength - 1 - base, 'a');
  const std::string too_long(kMaxWalkedPathLength - base, 'b');
  File(fits + "/in.jpg");
  File(too_long + "/out.jpg");
  ASSERT_EQ(P(fits).size(), kMaxWalkedPathLength - 1);
  ASSERT_EQ(P(too_long).size(), kMaxWalkedPathLength);

  std::vector<std::string> keys;
  for (const ScannedEntry& e : Full()) keys.push_back(e.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"03" + fits + "\\in.jpg"}));
  EXPECT_TRUE(Dirlist().contains("03" + fits));
  EXPECT_FALSE(Dirlist().contains("03" + too_long));

  list_.Release();
  std::vector<ChangedFolder> changed = scanner_.ListChangedFolders(kSlot, Root(), dirlist_);
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_EQ(changed[1].key, "03" + fits);
  EXPECT_EQ(dirlist_.Count(), 2u);
}

TEST_F(FolderScannerTest, NamesOutsideTheCodePageKeepTheirNativePaths) {
  // "Ωmega" and "Жук" cannot be held by Windows-1252; "Café" can. The Mac
  // private-use characters stand for '*', '/', the apple sign and '?'.
  const std::string omega = "\xCE\xA9mega";
  const std::string zhuk = "\xD0\x96\xD1\x83\xD0\xBA.jpg";
  const std::string cafe = "Caf\xC3\xA9";
  const std::string mac_file =
      "a\xEF\x80\xA1"
      "b\xEF\x80\xA2"
      "c\xEF\x80\xAA.jpg";                         // U+F021 U+F022 U+F02A
  const std::string mac_folder = "Q\xEF\x80\xA5";  // U+F025
  File(omega + "/" + zhuk);
  File(cafe + "/" + mac_file);
  File(mac_folder + "/z.jpg");

  std::map<std::string, std::string> files;
  for (const ScannedEntry& e : Full()) files[e.key] = e.native_path;
  EXPECT_EQ(files, (std::map<std::string, std::string>{
                       {"03?mega\\???.jpg", P(omega + "/" + zhuk)},
                       {"03Caf\xE9\\a*b/c\xF0.jpg", P(cafe + "/" + mac_file)},
                       {"03Q?\\z.jpg", P(mac_folder + "/z.jpg")},
                   }));
  EXPECT_TRUE(Dirlist().contains("03?mega"));
  EXPECT_TRUE(Dirlist().contains("03Caf\xE9"));

  // The way back from the folder keys to the real folders.
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "03?mega"), P(omega));
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "03Caf\xE9"), P(cafe));
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "03Q?"), P(mac_folder));
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "03"), Root());
  EXPECT_EQ(scanner_.NativeFolderPath(Root() + "/", "03Gone\\Sub"), P("Gone/Sub"));
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "3"), "");
  EXPECT_EQ(scanner_.NativeFolderPath(Root(), "x3abc"), "");

  // Folders whose keys lost characters are found by the walk and stay.
  EXPECT_TRUE(Changed().empty());

  std::vector<ScannedEntry> listed = scanner_.ListFolderFiles(kSlot, Root(), P(omega));
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].key, "03?mega\\???.jpg");
  EXPECT_EQ(listed[0].native_path, P(omega + "/" + zhuk));
}

TEST_F(FolderScannerTest, ListFolderFilesListsOnlyVisibleFilesOfThatFolder) {
  MakeTree();
  std::vector<ScannedEntry> top = scanner_.ListFolderFiles(kSlot, Root() + "/", Root());
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].key, "03a.jpg");
  EXPECT_EQ(top[0].native_path, P("a.jpg"));
  EXPECT_FALSE(top[0].is_folder);

  ASSERT_TRUE(SetModifiedTime(P("Sub/c.jpg"), kT0 + 9));
  std::vector<ScannedEntry> sub = scanner_.ListFolderFiles(kSlot, Root(), P("Sub") + "/");
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub[0].key, "03Sub\\c.jpg");
  EXPECT_EQ(sub[0].time, Stamp(kT0 + 9));

  // Outside the image folder, or a name that only begins like it.
  EXPECT_TRUE(scanner_.ListFolderFiles(kSlot, P("Sub"), P("Leaf")).empty());
  ASSERT_TRUE(dir_.WriteFile("imagesX/f.jpg", "x"));
  EXPECT_TRUE(scanner_.ListFolderFiles(kSlot, Root(), dir_.Path("imagesX")).empty());
  EXPECT_TRUE(scanner_.ListFolderFiles(kSlot, Root(), P("missing")).empty());
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// Links back to an ancestor would make a walk go round until the path limit,
// and several of them multiply: each folder is walked once along a path.
TEST_F(FolderScannerTest, LinksToAnAncestorAreNotWalkedAgain) {
  File("a/b/x.jpg");
  ASSERT_EQ(::symlink(P("a").c_str(), P("a/b/up").c_str()), 0);
  ASSERT_EQ(::symlink(Root().c_str(), P("a/b/top").c_str()), 0);
  ASSERT_EQ(::symlink(P("a").c_str(), P("a/b/again").c_str()), 0);
  std::vector<ScannedEntry> files = Full();
  // x.jpg, and once more through the link to the root (whose own identity
  // the walk does not know), never more.
  EXPECT_LE(files.size(), 2u);
  EXPECT_LE(dirlist_.Count(), 8u);
  std::vector<std::string> changed;
  list_.Release();
  changed = Changed();
  EXPECT_LE(changed.size(), 8u);
}

}  // namespace
}  // namespace vantrel
