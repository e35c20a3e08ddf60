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
#include "scan/entry_keys.h"
#include "scan/skip_log.h"
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
        scanner_(&fs_, cp_,
                 SkipReporter{&skips_, [this](const std::string& line) { log_.push_back(line); }}),
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

  // The log lines written since the last call.
  std::vector<std::string> TakeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
  }
  std::vector<std::string> Keys(const std::vector<ScannedEntry>& files) {
    std::vector<std::string> keys;
    for (const ScannedEntry& e : files) keys.push_back(e.key);
    return keys;
  }
  // The file keys of the folder listing of `relative`.
  std::vector<std::string> FolderKeys(const std::string& relative) {
    StatusOr<std::vector<ScannedEntry>> files =
        scanner_.ListFolderFiles(kSlot, Root(), P(relative));
    EXPECT_TRUE(files.ok()) << files.status().ToString();
    return files.ok() ? Keys(files.value()) : std::vector<std::string>{};
  }

  TempDir dir_;
  const CodePage cp_;
  CountingFileSystem fs_;
  SkipLog skips_;
  std::vector<std::string> log_;
  FolderScanner scanner_;
  ListLockTable locks_;
  BrowseList list_;
  LockedBrowseList dirlist_;
};

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
  EXPECT_EQ(FolderScanner::SlotDigits(31), "31");
  // A second full listing does not duplicate folders.
  Full();
  EXPECT_EQ(Dirlist().size(), 5u);
  EXPECT_EQ(dirlist_.Count(), 5u);
}

// A callback that answers false ends the whole walk; a root that is missing
// or not absolute lists nothing.
TEST_F(FolderScannerTest, CallbackAbortsTheWalkAndInvalidRootsListNothing) {
  int calls = 0;
  auto count = [&](const ScannedEntry&) { return ++calls, true; };
  EXPECT_TRUE(scanner_.FullListing(kSlot, dir_.Path("missing"), dirlist_, count));
  EXPECT_TRUE(scanner_.FullListing(kSlot, "relative/path", dirlist_, count));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(dirlist_.Count(), 0u);
  MakeTree();
  EXPECT_FALSE(scanner_.FullListing(kSlot, Root(), dirlist_,
                                    [&](const ScannedEntry&) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2);
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

// After a full listing the comparison finds only the folder that changed.
TEST_F(FolderScannerTest, RenamedFileChangesOnlyItsFolder) {
  MakeTree();
  Full();
  ASSERT_TRUE(fs_.Rename(P("Sub/Deep/d.jpg"), P("Sub/Deep/renamed.jpg")).ok());
  Touch("Sub/Deep", kT0 + 100);
  EXPECT_EQ(Changed(), (std::vector<std::string>{Line("03Sub\\Deep", kT0 + 100)}));
  EXPECT_EQ(Dirlist().at("03Sub\\Deep"), Stamp(kT0 + 100));
  EXPECT_EQ(dirlist_.Count(), 5u);

  EXPECT_EQ(FolderKeys("Sub/Deep"), std::vector<std::string>{"03Sub\\Deep\\renamed.jpg"});
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

// Keys must fit the 256-byte list slots (255 bytes and the NUL); the native
// path's length does not matter. Every walk applies the same rule and logs
// each refused entry once.
TEST_F(FolderScannerTest, KeysLongerThanAListSlotAreRefusedAndLoggedOnce) {
  // Key "03" + 200 + '\' + 52 = 255 bytes: fits. One more byte does not.
  const std::string deep(200, 'd');
  const std::string fits_name(48, 'f'), long_name(49, 'l');
  File(deep + "/" + fits_name + ".jpg");
  File(deep + "/" + long_name + ".jpg");
  File(std::string(251, 'n') + ".jpg");     // a 255-byte name: key of 257
  File(std::string(254, 'x') + "/in.jpg");  // a folder key of 256
  ASSERT_GT(P(deep).size(), 200u);
  const std::string fits_key = "03" + deep + "\\" + fits_name + ".jpg";
  ASSERT_EQ(fits_key.size(), kMaxKeyLength);

  EXPECT_EQ(Keys(Full()), std::vector<std::string>{fits_key});
  EXPECT_TRUE(Dirlist().contains("03" + deep));
  EXPECT_EQ(Dirlist().size(), 2u) << "the over-long folder is neither walked nor recorded";
  std::vector<std::string> log = TakeLog();
  std::sort(log.begin(), log.end());
  const std::string why = std::string(RefusalText(KeyRefusal::kTooLong)) + ": ";
  EXPECT_EQ(log, (std::vector<std::string>{why + P(deep + "/" + long_name + ".jpg"),
                                           why + P(std::string(251, 'n') + ".jpg"),
                                           why + P(std::string(254, 'x'))}));

  // The comparison and the one-folder listing agree, and log nothing again.
  list_.Release();
  std::vector<std::string> changed;
  for (const ChangedFolder& c : scanner_.ListChangedFolders(kSlot, Root(), dirlist_)) {
    changed.push_back(c.key);
  }
  EXPECT_EQ(changed, (std::vector<std::string>{"03", "03" + deep}));
  EXPECT_EQ(FolderKeys(deep), std::vector<std::string>{fits_key});
  EXPECT_TRUE(TakeLog().empty());
}

// Names that give the same key (names the code page cannot hold become
// '?'), and names holding a '\' (which would read as a sub-folder path):
// one file per key, the rest refused and logged.
TEST_F(FolderScannerTest, NamesWithTheSameKeyKeepOneFilePerKey) {
  File("caf\xE9.jpg");  // Latin-1 bytes, not UTF-8
  File("caf\xE8.jpg");
  File("caf?.jpg");  // the one name that is its own key
  File("sub/x.jpg");
  File("sub\\x.jpg");      // "sub\x.jpg" in the image folder itself
  File("e\xCC\x81.jpg");   // "é" decomposed: lossy, after...
  File("\xC3\xA9.jpg");    // ..."é" precomposed, which converts back exactly
  File("\xCE\xA9/a.jpg");  // folders "Ω" and "Ж" are both "?"
  File("\xD0\x96/b.jpg");

  std::map<std::string, std::string> files;
  for (const ScannedEntry& e : Full()) {
    EXPECT_TRUE(files.emplace(e.key, e.native_path).second) << "key twice: " << e.key;
  }
  EXPECT_EQ(files, (std::map<std::string, std::string>{
                       {"03caf?.jpg", P("caf?.jpg")},
                       {"03sub\\x.jpg", P("sub/x.jpg")},
                       {"03\xE9.jpg", P("\xC3\xA9.jpg")},
                       {"03?\\a.jpg", P("\xCE\xA9/a.jpg")},
                   }));
  std::vector<std::string> log = TakeLog();
  const std::string taken = std::string(RefusalText(KeyRefusal::kTaken)) + ": ";
  std::vector<std::string> expected{
      std::string(RefusalText(KeyRefusal::kBackslash)) + ": " + P("sub\\x.jpg"),
      taken + P("caf\xE8.jpg"), taken + P("caf\xE9.jpg"), taken + P("e\xCC\x81.jpg"),
      taken + P("\xD0\x96")};
  std::sort(log.begin(), log.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(log, expected);

  // The folder listing decides alike; logged lines are not written again.
  EXPECT_EQ(FolderKeys(""), (std::vector<std::string>{"03caf?.jpg", "03\xE9.jpg"}));
  list_.Release();
  EXPECT_EQ(Changed().size(), 3u);  // the image folder, "?" (Ω) and sub
  EXPECT_TRUE(TakeLog().empty());
}

// A folder that cannot be listed is logged once and kept out of DIRLIST, so
// that it is listed as soon as it can be; its files are not lost meanwhile.
TEST_F(FolderScannerTest, FoldersThatCannotBeListedStayOutOfDirlistUntilListed) {
  MakeTree();
  fs_.FailReadsMatching(P("Sub"));
  std::vector<std::string> keys = Keys(Full());
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "03Sub\\c.jpg"), 0);
  EXPECT_FALSE(Dirlist().contains("03Sub"));
  ASSERT_EQ(TakeLog().size(), 1u);
  EXPECT_FALSE(scanner_.ListFolderFiles(kSlot, Root(), P("Sub")).ok());

  // Compared again while it still fails: neither reported nor recorded, and
  // not logged again.
  EXPECT_TRUE(Changed().empty());
  EXPECT_FALSE(Dirlist().contains("03Sub"));
  EXPECT_TRUE(TakeLog().empty());

  // Readable again: new, with its sub-folder.
  fs_.ClearFaults();
  EXPECT_EQ(Changed(),
            (std::vector<std::string>{Line("03Sub", kT0 + 2), Line("03Sub\\Deep", kT0 + 3)}));
  // A recorded folder that fails later leaves DIRLIST again and is logged
  // anew.
  Touch("Sub", kT0 + 70);
  fs_.FailReadsMatching(P("Sub"));
  EXPECT_EQ(Changed(), std::vector<std::string>{});
  EXPECT_FALSE(Dirlist().contains("03Sub"));
  EXPECT_EQ(TakeLog().size(), 1u);
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

  EXPECT_EQ(FolderKeys(omega), std::vector<std::string>{"03?mega\\???.jpg"});
}

TEST_F(FolderScannerTest, ListFolderFilesListsOnlyVisibleFilesOfThatFolder) {
  MakeTree();
  std::vector<ScannedEntry> top = scanner_.ListFolderFiles(kSlot, Root() + "/", Root()).value();
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(top[0].key, "03a.jpg");
  EXPECT_EQ(top[0].native_path, P("a.jpg"));
  EXPECT_FALSE(top[0].is_folder);

  ASSERT_TRUE(SetModifiedTime(P("Sub/c.jpg"), kT0 + 9));
  std::vector<ScannedEntry> sub = scanner_.ListFolderFiles(kSlot, Root(), P("Sub") + "/").value();
  ASSERT_EQ(sub.size(), 1u);
  EXPECT_EQ(sub[0].key, "03Sub\\c.jpg");
  EXPECT_EQ(sub[0].time, Stamp(kT0 + 9));

  // Outside the image folder, or a name that only begins like it: nothing.
  EXPECT_TRUE(scanner_.ListFolderFiles(kSlot, P("Sub"), P("Leaf"))->empty());
  ASSERT_TRUE(dir_.WriteFile("imagesX/f.jpg", "x"));
  EXPECT_TRUE(scanner_.ListFolderFiles(kSlot, Root(), dir_.Path("imagesX"))->empty());
  EXPECT_FALSE(scanner_.ListFolderFiles(kSlot, Root(), P("missing")).ok());
}

// The files of one listing share the sorted names of that listing's files
// (hidden ones and those without a key too; folders and links left out), so
// the document builder can find a file's sidecars without looking on disk.
TEST_F(FolderScannerTest, FilesCarryTheFileNamesOfTheirListing) {
  File("s/b.jpg");
  File("s/a.jpg");
  File("s/a.xmp");
  File("s/.hidden.xmp");
  File("s/sub/c.jpg");
  File("s/" + std::string(251, 'n') + ".xmp");  // no key: 258 bytes, too long for the lists
  ASSERT_EQ(::symlink(P("s/a.xmp").c_str(), P("s/b.xmp").c_str()), 0);
  const ListedFileNames expected = {".hidden.xmp", "a.jpg", "a.xmp", "b.jpg",
                                    std::string(251, 'n') + ".xmp"};
  std::vector<ScannedEntry> full = Full();
  std::vector<ScannedEntry> listed = scanner_.ListFolderFiles(kSlot, Root(), P("s")).value();
  for (const std::vector<ScannedEntry>* files : {&full, &listed}) {
    for (const ScannedEntry& e : *files) {
      ASSERT_TRUE(e.folder_files) << e.key;
      if (e.key.starts_with("03s\\sub\\")) {
        EXPECT_EQ(*e.folder_files, ListedFileNames{"c.jpg"});
      } else {
        EXPECT_EQ(*e.folder_files, expected) << e.key;
        EXPECT_EQ(e.folder_files, files->front().folder_files);
      }
    }
  }
}

// Links are never followed, to folders or files: "self -> ." would list
// everything twice, "up -> .." would publish what lies outside the image
// folder. Each link is logged once.
TEST_F(FolderScannerTest, SymbolicLinksAreNeitherWalkedNorListed) {
  File("a/b/x.jpg");
  ASSERT_TRUE(dir_.WriteFile("outside.ini", "secret"));
  ASSERT_EQ(::symlink(".", P("self").c_str()), 0);
  ASSERT_EQ(::symlink("..", P("up").c_str()), 0);
  ASSERT_EQ(::symlink(P("a").c_str(), P("a/b/loop").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("outside.ini").c_str(), P("a/alias.jpg").c_str()), 0);

  EXPECT_EQ(Keys(Full()), std::vector<std::string>{"03a\\b\\x.jpg"});
  EXPECT_EQ(Dirlist().size(), 3u);  // 03, 03a, 03a\b
  EXPECT_EQ(TakeLog().size(), 4u);
  list_.Release();
  EXPECT_EQ(Changed().size(), 3u);
  EXPECT_TRUE(FolderKeys("a").empty());
  EXPECT_TRUE(TakeLog().empty());
}

// Change notifications are decided by the rules of the scan: the twin that
// does not hold its key is refused, also once it is deleted; a file that
// arrives just after its folder was listed waits for a later decision
// instead of listing the folder again at once.
TEST_F(FolderScannerTest, ChangedPathsAreDecidedLikeTheScan) {
  File("caf?.jpg");
  File("caf\xE9.jpg");
  File("Sub/x.jpg");
  ChangedPathKeys keys(&fs_, cp_, Root(), "03");
  ChangedPathKey held = keys.Decide("caf?.jpg");
  EXPECT_EQ(held.key, "03caf?.jpg");
  EXPECT_EQ(held.refusal, KeyRefusal::kNone);
  EXPECT_TRUE(held.exists);
  EXPECT_EQ(keys.Decide("caf\xE9.jpg").refusal, KeyRefusal::kTaken);
  EXPECT_EQ(keys.Decide("Sub/x.jpg").key, "03Sub\\x.jpg");
  EXPECT_TRUE(keys.Decide("Sub").is_folder);

  ASSERT_TRUE(fs_.DeleteFile(P("caf\xE9.jpg")).ok());
  ChangedPathKeys after_delete(&fs_, cp_, Root(), "03");
  ChangedPathKey deleted = after_delete.Decide("caf\xE9.jpg");
  EXPECT_FALSE(deleted.exists);
  EXPECT_EQ(deleted.refusal, KeyRefusal::kTaken) << "its key belongs to caf?.jpg";
  ChangedPathKey gone = keys.Decide("Sub/old.jpg");
  EXPECT_EQ(gone.key, "03Sub\\old.jpg");
  EXPECT_EQ(gone.refusal, KeyRefusal::kNone);
  EXPECT_FALSE(gone.exists);

  File("Sub/new.jpg");
  File("Sub/.new.jpg");
  fs_.TakeListed();
  EXPECT_TRUE(keys.Decide("Sub/new.jpg").later);
  EXPECT_FALSE(keys.Decide("Sub/.new.jpg").later) << "hidden files need no listing";
  EXPECT_TRUE(fs_.TakeListed().empty());
  ChangedPathKeys next_pass(&fs_, cp_, Root(), "03");
  ChangedPathKey arrived = next_pass.Decide("Sub/new.jpg");
  EXPECT_FALSE(arrived.later);
  EXPECT_EQ(arrived.key, "03Sub\\new.jpg");
  EXPECT_TRUE(arrived.exists);
}

}  // namespace
}  // namespace vantrel
