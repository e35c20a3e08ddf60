#include "core/list_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "list_file_fuzz_driver.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string U32(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

uint32_t ReadU32(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::vector<BrowseEntry> Entries(const BrowseList& list) {
  std::vector<BrowseEntry> out;
  for (size_t i = 0; i < list.Count(); ++i) out.push_back(*list.EntryAt(i));
  return out;
}

// A file in memory that records where each write went.
class MemoryFile : public WritableFile {
 public:
  explicit MemoryFile(std::string initial = {}) : bytes(std::move(initial)) {}
  Status Append(std::string_view data) override {
    bytes.append(data);
    writes.push_back({bytes.size() - data.size(), data.size()});
    return Status::Ok();
  }
  Status WriteAt(uint64_t offset, std::string_view data) override {
    if (bytes.size() < offset + data.size()) bytes.resize(offset + data.size());
    bytes.replace(offset, data.size(), data);
    writes.push_back({offset, data.size()});
    return Status::Ok();
  }
  Status Sync() override { return Status::Ok(); }
  Status Close() override { return Status::Ok(); }
  std::string bytes;
  std::vector<std::pair<uint64_t, size_t>> writes;
};

BrowseList TimeList(int n, int first_time = 0) {
  BrowseList list;
  EXPECT_TRUE(list.SetOrder(kOrderTime).ok());
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "01f%06d.jpg", i);  // 13 bytes: 30-byte records
    EXPECT_TRUE(list.Add(name, static_cast<uint32_t>(first_time + i), 0x4A504547, kNoExtra).ok());
  }
  return list;
}

TEST(ListFileTest, SmallListByteForByte) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(list.Add("01c", 1, 0, 7).ok());
  ASSERT_TRUE(list.Add("01A\\b.jpg", 0x102, 0x4A504547, kNoExtra).ok());
  std::string want = U32(2) + U32(0) + U32(408) + std::string(99 * 4, '\0');
  // Record 0 at 408: the newer file; its extra -1 becomes its position 0.
  want += U32(10) + U32(0x102) + "GEPJ" + U32(0) + std::string("01A\\b.jpg\0", 10);
  // Record 1 at 434 keeps its own extra.
  want += U32(4) + U32(1) + U32(0) + U32(7) + std::string("01c\0", 4);
  EXPECT_EQ(EncodeListFile(list, {}), want);

  ListFileWriteOptions hit_file;
  hit_file.second_word = 2500;
  hit_file.max_entries = 1;
  std::string cut = EncodeListFile(list, hit_file);
  EXPECT_EQ(cut, U32(1) + U32(2500) + U32(408) + std::string(99 * 4, '\0') + U32(10) +
                     U32(0x102) + "GEPJ" + U32(0) + std::string("01A\\b.jpg\0", 10));

  // An empty list is the bare header.
  EXPECT_EQ(EncodeListFile(BrowseList(), {}), U32(0) + U32(0) + U32(408) + std::string(396, '\0'));
}

TEST(ListFileTest, MaximumKeepsTheNewestAndFillsTheSkipTableForThem) {
  BrowseList list = TimeList(150'000);
  ListFileWriteOptions options;
  options.max_entries = 100'000;
  std::string bytes = EncodeListFile(list, options);
  const size_t record = 16 + 14;
  ASSERT_EQ(bytes.size(), 408 + 100'000 * record);
  EXPECT_EQ(ReadU32(bytes, 0), 100'000u);
  for (size_t k = 0; k < 100; ++k) {
    uint32_t want = k <= 97 ? static_cast<uint32_t>(408 + k * 1024 * record) : 0;
    EXPECT_EQ(ReadU32(bytes, 8 + 4 * k), want) << k;
  }
  // Record 97 * 1024 is where its skip entry points: time 149,999 - 99,328.
  EXPECT_EQ(ReadU32(bytes, ReadU32(bytes, 8 + 4 * 97) + 4), 149'999u - 97 * 1024);
  BrowseList loaded;
  ASSERT_TRUE(loaded.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(DecodeListFile(bytes, false, &loaded).ok());
  ASSERT_EQ(loaded.Count(), 100'000u);
  EXPECT_EQ(loaded.EntryAt(0)->time, 149'999u);
  EXPECT_EQ(loaded.EntryAt(99'999)->time, 50'000u);
}

TEST(ListFileTest, WritesThroughTheBufferInPiecesOfJustOver100000Bytes) {
  BrowseList list = TimeList(20'000);
  MemoryFile file;
  ASSERT_TRUE(WriteListFile(list, &file, {}).ok());
  ASSERT_GE(file.writes.size(), 4u);
  EXPECT_EQ(file.writes.front(), (std::pair<uint64_t, size_t>{0, 408}));
  EXPECT_EQ(file.writes.back(), (std::pair<uint64_t, size_t>{8, 400}));
  uint64_t next = 408;
  for (size_t i = 1; i + 1 < file.writes.size(); ++i) {
    EXPECT_EQ(file.writes[i].first, next);
    if (i + 2 < file.writes.size()) {
      EXPECT_GT(file.writes[i].second, 100'000u);
      EXPECT_LE(file.writes[i].second, 100'000u + 30);
    }
    next += file.writes[i].second;
  }
  EXPECT_EQ(next, 408u + 20'000u * 30);
  EXPECT_EQ(file.bytes, EncodeListFile(list, {}));
}

TEST(ListFileTest, InPlaceSaveThroughTheFileSystem) {
  TempDir dir;
  FileSystem* fs = DefaultFileSystem();
  std::string path = dir.Path("SEARCH.HIT");
  std::string old_file = EncodeListFile(TimeList(40), {});
  ASSERT_TRUE(dir.WriteFile("SEARCH.HIT", old_file));
  BrowseList hits = TimeList(2, 500);
  ListFileWriteOptions options;
  options.second_word = 2;
  Status s = SaveListFileInPlace(hits, fs, path, options);
  if (s.code() == StatusCode::kUnavailable) GTEST_SKIP() << s.ToString();
  ASSERT_TRUE(s.ok()) << s.ToString();
  std::string fresh = EncodeListFile(hits, options);
  std::string now = *fs->ReadFile(path);
  EXPECT_EQ(now, fresh + old_file.substr(fresh.size()));
  // A missing file is created.
  ASSERT_TRUE(SaveListFileInPlace(hits, fs, dir.Path("NEW.HIT"), options).ok());
  EXPECT_EQ(*fs->ReadFile(dir.Path("NEW.HIT")), fresh);
}

TEST(ListFileTest, RoundTripKeepsEntriesAndExtrasWhenAsked) {
  std::mt19937 rng(7);
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (int i = 0; i < 3000; ++i) {
    std::string name = "0" + std::to_string(rng() % 10) + "Folder " + std::to_string(rng() % 40) +
                       "\\IMG_" + std::to_string(rng() % 100000) + ".JPG";
    uint32_t extra = rng() % 3 == 0 ? kNoExtra : rng();
    ASSERT_TRUE(list.Add(name, rng(), rng(), extra).ok());
  }
  std::string bytes = EncodeListFile(list, {});
  for (bool keep_extra : {false, true}) {
    BrowseList loaded;
    ASSERT_TRUE(loaded.SetOrder(kOrderName).ok());
    ASSERT_TRUE(DecodeListFile(bytes, keep_extra, &loaded).ok());
    std::vector<BrowseEntry> want = Entries(list);
    for (size_t i = 0; i < want.size(); ++i) {
      if (!keep_extra) {
        want[i].extra = kNoExtra;
      } else if (want[i].extra == kNoExtra) {
        want[i].extra = static_cast<uint32_t>(i);
      }
    }
    EXPECT_EQ(Entries(loaded), want);
  }
}

TEST(ListFileTest, CutAnywhereKeepsTheCompleteRecordsBeforeTheCut) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (const char* n : {"01a", "01Sport\\b.jpg", "", "02x\\y\\z.tif", "03long name.eps"}) {
    ASSERT_TRUE(list.Add(n, 5, 6, kNoExtra).ok());
  }
  std::string bytes = EncodeListFile(list, {});
  std::vector<size_t> ends;  // end offset of each record
  for (size_t at = 408; at < bytes.size(); at += 16 + ReadU32(bytes, at)) {
    ends.push_back(at + 16 + ReadU32(bytes, at));
  }
  ASSERT_EQ(ends.size(), 5u);
  ASSERT_EQ(ends.back(), bytes.size());
  for (size_t cut = 0; cut <= bytes.size(); ++cut) {
    BrowseList loaded;
    Status s = DecodeListFile(std::string_view(bytes).substr(0, cut), false, &loaded);
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] <= cut) ++complete;
    if (cut < 408) complete = 0;
    EXPECT_EQ(loaded.Count(), complete) << "cut at " << cut;
    if (cut == bytes.size()) {
      EXPECT_TRUE(s.ok()) << s.ToString();
    } else {
      EXPECT_EQ(s.code(), StatusCode::kCorruption) << "cut at " << cut;
    }
  }
}

TEST(ListFileTest, DamagedFieldsStopAtTheDamagedRecord) {
  BrowseList list;
  ASSERT_TRUE(list.SetOrder(kOrderName).ok());
  for (const char* n : {"01a.jpg", "01b.jpg", "01c.jpg"}) ASSERT_TRUE(list.Add(n, 1, 2, 3).ok());
  const std::string good = EncodeListFile(list, {});
  const size_t r1 = 408 + 16 + 8, r2 = r1 + 16 + 8;
  struct Case {
    const char* what;
    size_t at;
    std::string bytes;
    size_t kept;
    bool ok;
  } cases[] = {
      {"name length 0", r1, U32(0), 1, false},
      {"name length 257", r1, U32(257), 1, false},
      {"name length huge", r1, U32(0xFFFFFFFF), 1, false},
      {"name length past the end", r2, U32(9), 2, false},
      {"no NUL at the end of the name", r1 + 16 + 7, "x", 1, false},
      {"NUL inside the name", r2 + 16 + 2, std::string(1, '\0'), 2, false},
      {"count 0", 0, U32(0), 0, true},
      {"negative count", 0, U32(0xFFFFFFFF), 0, true},
      {"count beyond the records", 0, U32(0x7FFFFFFF), 3, false},
      {"skip entry 0 wrong", 8, U32(0), 3, false},
      {"skip entry 1 set", 12, U32(408), 3, false},
      {"count smaller than the records", 0, U32(2), 2, true},
  };
  for (const Case& c : cases) {
    std::string bytes = good;
    bytes.replace(c.at, c.bytes.size(), c.bytes);
    BrowseList loaded;
    Status s = DecodeListFile(bytes, false, &loaded);
    EXPECT_EQ(loaded.Count(), c.kept) << c.what;
    EXPECT_EQ(s.ok(), c.ok) << c.what << ": " << s.ToString();
    if (!c.ok) {
      EXPECT_EQ(s.code(), StatusCode::kCorruption) << c.what;
    }
  }
}

// Random damage is the fuzz target's job; its kept inputs run here too.
TEST(ListFileTest, EveryKeptFuzzInputPassesTheChecks) {
  const std::filesystem::path folder = std::filesystem::path(__FILE__).parent_path().parent_path()
                                           .parent_path() / "fuzz" / "corpus" / "list_file_fuzz";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size copy, so that a read past the end is seen by ASan.
    std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    EXPECT_TRUE(CheckListFileInput(std::string_view(exact.get(), bytes.size()))) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 2);
}

TEST(ListFileTest, SaveAndLoadThroughTheFileSystem) {
  TempDir dir;
  FileSystem* fs = DefaultFileSystem();
  std::string path = dir.Path("TIMELIST");
  BrowseList list = TimeList(2500);
  ASSERT_TRUE(SaveListFileAtomic(list, fs, path, {}).ok());
  EXPECT_FALSE(fs->Exists(path + ".new"));
  EXPECT_EQ(*fs->ReadFile(path), EncodeListFile(list, {}));
  BrowseList loaded;
  ASSERT_TRUE(loaded.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(LoadListFile(fs, path, false, &loaded).ok());
  EXPECT_EQ(Entries(loaded), Entries(list));

  BrowseList none;
  EXPECT_TRUE(LoadListFile(fs, dir.Path("CHARLIST"), false, &none).IsNotFound());
  ASSERT_TRUE(dir.WriteFile("DIRLIST", std::string("\x05\0\0\0", 4) + "xx"));
  Status s = LoadListFile(fs, dir.Path("DIRLIST"), true, &none);
  EXPECT_EQ(s.code(), StatusCode::kCorruption);
  EXPECT_NE(s.message().find("DIRLIST"), std::string::npos);
  EXPECT_EQ(none.Count(), 0u);
}

TEST(ListFileTest, FailedSaveLeavesTheOldFileIntact) {
  TempDir dir;
  FaultFileSystem fs(DefaultFileSystem());
  std::string path = dir.Path("CHARLIST");
  BrowseList old_list = TimeList(10);
  ASSERT_TRUE(SaveListFileAtomic(old_list, &fs, path, {}).ok());
  const std::string old_bytes = EncodeListFile(old_list, {});
  BrowseList new_list = TimeList(20'000, 5);  // several buffer writes

  // Fail each write operation of the save in turn: open, every piece, the
  // skip table, sync, rename.
  int failures = 0;
  for (int n = 1; n < 100; ++n) {
    fs.ClearFaults();
    fs.FailNthWrite(n);
    Status s = SaveListFileAtomic(new_list, &fs, path, {});
    if (s.ok()) break;
    ++failures;
    fs.ClearFaults();
    EXPECT_EQ(*fs.ReadFile(path, 1 << 30), old_bytes) << "failed write " << n;
    EXPECT_FALSE(fs.Exists(path + ".new")) << "failed write " << n;
  }
  EXPECT_GE(failures, 6);
  fs.ClearFaults();
  EXPECT_EQ(*fs.ReadFile(path, 1 << 30), EncodeListFile(new_list, {}));

  // A full disk.
  fs.SetSpaceLimit(50'000);
  Status s = SaveListFileAtomic(TimeList(20'000, 9), &fs, path, {});
  EXPECT_FALSE(s.ok());
  fs.ClearFaults();
  EXPECT_EQ(*fs.ReadFile(path, 1 << 30), EncodeListFile(new_list, {}));
}

}  // namespace
}  // namespace vantrel
