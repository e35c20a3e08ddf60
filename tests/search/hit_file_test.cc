#include "search/hit_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "core/list_file.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

uint32_t U32(std::string_view b, size_t off) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data() + off);
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Hits "03Sport\img<i>.jpg" with stamps 1000 + i, type "JPEG", no number.
void FillHits(BrowseList* hits, int n) {
  ASSERT_TRUE(hits->SetOrder(kOrderTime).ok());
  for (int i = 0; i < n; ++i) {
    ASSERT_TRUE(hits->Add("03Sport\\img" + std::to_string(i) + ".jpg", 1000 + i, 0x4A504547,
                          kNoExtra)
                    .ok());
  }
}

// What the file system's in-place open must do, done with an fstream: open
// for writing without truncating, creating a missing file.
class InPlaceFile : public WritableFile {
 public:
  explicit InPlaceFile(const std::string& path) {
    { std::ofstream create(path, std::ios::app | std::ios::binary); }
    f_.open(path, std::ios::in | std::ios::out | std::ios::binary);
  }
  bool ok() const { return f_.is_open(); }
  Status Append(std::string_view) override { return Status::Internal("not used"); }
  Status WriteAt(uint64_t offset, std::string_view data) override {
    f_.seekp(static_cast<std::streamoff>(offset));
    f_.write(data.data(), static_cast<std::streamsize>(data.size()));
    return f_ ? Status::Ok() : Status::IoError("write failed");
  }
  Status Sync() override { return Status::Ok(); }
  Status Close() override {
    f_.close();
    return Status::Ok();
  }

 private:
  std::fstream f_;
};

StatusOr<std::unique_ptr<WritableFile>> OpenInPlace(const std::string& path) {
  auto file = std::make_unique<InPlaceFile>(path);
  if (!file->ok()) return Status::NotFound(path);
  return std::unique_ptr<WritableFile>(std::move(file));
}

TEST(HitFile, LimitCutsRecordsButNotTheFoundCount) {
  BrowseList hits;
  FillHits(&hits, 2500);
  std::string bytes = EncodeHitFile(hits, 2500, 2000);
  EXPECT_EQ(U32(bytes, 0), 2000u);
  EXPECT_EQ(U32(bytes, 4), 2500u);
  BrowseList back;
  ListFileHeader header;
  ASSERT_TRUE(DecodeListFile(bytes, true, &back, &header).ok());
  ASSERT_EQ(back.Count(), 2000u);
  // Newest first; the number of a hit without one is its record position.
  back.SetOrder(kOrderTime).IgnoreError();
  EXPECT_EQ(back.EntryAt(0)->name, "03Sport\\img2499.jpg");
  EXPECT_EQ(back.EntryAt(0)->value, 0x4A504547u);
  EXPECT_EQ(back.EntryAt(0)->extra, 0u);
  EXPECT_EQ(back.EntryAt(1999)->extra, 1999u);
  EXPECT_NE(header.skip[1], 0u);  // record 1024
  EXPECT_EQ(header.skip[2], 0u);

  // Limit 0 writes every record; a found count below the records (merged
  // hits) is written as given.
  bytes = EncodeHitFile(hits, 7, 0);
  EXPECT_EQ(U32(bytes, 0), 2500u);
  EXPECT_EQ(U32(bytes, 4), 7u);
}

TEST(HitFile, NewFileGetsItsFolders) {
  TempDir dir;
  const std::string path = dir.Path("idx/VT_SEARCH/new/B.HIT");
  BrowseList hits;
  FillHits(&hits, 2);
  ASSERT_TRUE(SaveHitFile(DefaultFileSystem(), OpenInPlace, path, hits, 2, 0).ok());
  EXPECT_EQ(*DefaultFileSystem()->ReadFile(path), EncodeHitFile(hits, 2, 0));
}

TEST(HitFile, OpenOfAnExistingFileIsRetried) {
  TempDir dir;
  ASSERT_TRUE(dir.WriteFile("C.HIT", "old"));
  const std::string path = dir.Path("C.HIT");
  BrowseList hits;
  std::vector<std::chrono::milliseconds> sleeps;
  HitFileSaveOptions options;
  options.sleep = [&](std::chrono::milliseconds ms) { sleeps.push_back(ms); };
  int calls = 0;
  int fail_first = 39;
  auto flaky = [&](const std::string& p) -> StatusOr<std::unique_ptr<WritableFile>> {
    if (++calls <= fail_first) return Status::Unavailable("busy");
    return OpenInPlace(p);
  };
  ASSERT_TRUE(SaveHitFile(DefaultFileSystem(), flaky, path, hits, 0, 0, options).ok());
  EXPECT_EQ(calls, 40);
  ASSERT_EQ(sleeps.size(), 39u);
  EXPECT_EQ(sleeps[0], std::chrono::milliseconds(10));
  EXPECT_EQ(DefaultFileSystem()->ReadFile(path)->size(), 408u);

  calls = 0;
  sleeps.clear();
  fail_first = 40;
  Status s = SaveHitFile(DefaultFileSystem(), flaky, path, hits, 0, 0, options);
  EXPECT_EQ(s.code(), StatusCode::kUnavailable);
  EXPECT_EQ(calls, 40);
  EXPECT_EQ(sleeps.size(), 39u);
}

TEST(LoadRequestList, LoadsInTimeOrderWithNumbers) {
  TempDir dir;
  BrowseList earlier;
  ASSERT_TRUE(earlier.SetOrder(kOrderName).ok());
  ASSERT_TRUE(earlier.Add("01b.jpg", 10, 7, 55).ok());
  ASSERT_TRUE(earlier.Add("01a.jpg", 20, 8, 66).ok());
  ASSERT_TRUE(dir.WriteFile("VT_SEARCH/\xC3\xA9t\xC3\xA9.HIT", EncodeHitFile(earlier, 2, 0)));
  CodePage cp = CodePage::BuiltInWindows1252();
  BrowseList list;
  ASSERT_TRUE(
      LoadRequestList(DefaultFileSystem(), dir.Path("VT_SEARCH"), "\xE9t\xE9.HIT", cp, &list).ok());
  EXPECT_EQ(list.order(), kOrderTime);
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.EntryAt(0)->name, "01a.jpg");
  EXPECT_EQ(list.EntryAt(0)->extra, 66u);
  EXPECT_EQ(list.EntryAt(1)->extra, 55u);
}

TEST(LoadRequestList, NamesOutsideTheFolderAndMissingFilesGiveEmptyLists) {
  TempDir dir;
  BrowseList some;
  ASSERT_TRUE(some.Add("01a.jpg", 20, 8, 66).ok());
  std::string bytes = EncodeHitFile(some, 1, 0);
  ASSERT_TRUE(dir.WriteFile("secret.HIT", bytes));
  ASSERT_TRUE(dir.WriteFile("VT_SEARCH/sub/x.HIT", bytes));
  CodePage cp = CodePage::BuiltInWindows1252();
  const std::string folder = dir.Path("VT_SEARCH");
  for (std::string name : {std::string("../secret.HIT"), std::string("..\\secret.HIT"),
                           dir.Path("secret.HIT"), std::string("sub/x.HIT"),
                           std::string("sub\\x.HIT"), std::string("..")}) {
    BrowseList list;
    Status s = LoadRequestList(DefaultFileSystem(), folder, name, cp, &list);
    EXPECT_EQ(s.code(), StatusCode::kInvalidArgument) << name;
    EXPECT_EQ(list.Count(), 0u) << name;
  }
  BrowseList list;
  EXPECT_EQ(LoadRequestList(DefaultFileSystem(), folder, "none.HIT", cp, &list).code(),
            StatusCode::kNotFound);
  EXPECT_EQ(list.Count(), 0u);
}

TEST(LoadRequestList, DamagedFileKeepsCompleteRecords) {
  TempDir dir;
  BrowseList hits;
  FillHits(&hits, 10);
  std::string bytes = EncodeHitFile(hits, 10, 0);
  bytes.resize(bytes.size() - 5);  // the last record is cut
  ASSERT_TRUE(dir.WriteFile("D.HIT", bytes));
  BrowseList list;
  Status s = LoadRequestList(DefaultFileSystem(), dir.path(), "D.HIT",
                             CodePage::BuiltInWindows1252(), &list);
  EXPECT_EQ(s.code(), StatusCode::kCorruption);
  EXPECT_EQ(list.Count(), 9u);
}

}  // namespace
}  // namespace vantrel
