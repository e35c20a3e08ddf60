#include "indexing/document_builder.h"

#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/log_files.h"
#include "core/task_context.h"
#include "indexing/document_groups.h"
#include "metadata/file_type.h"
#include "platform/file_time.h"
#include "scan/skip_log.h"
#include "support/document_fixtures.h"
#include "support/fault_file_system.h"
#include "support/image_builders.h"
#include "support/mac_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using document_test::DescribeStatus;
using document_test::RecordingNoticeSink;
using document_test::SetFileTimeUtc;
using document_test::UtcSeconds;

constexpr int kIndex = 2;

struct AddedDocument {
  int index = 0;
  std::string text;
  std::string key;
  uint32_t time = 0;
};

struct QueuedThumbnail {
  std::string path;
  std::string key;
  std::string root;
  uint32_t time = 0;
  uint32_t type = 0;
};

class DocumentBuilderTest : public ::testing::Test {
 protected:
  DocumentBuilderTest() {
    TaskEnvironment env;
    env.fs = DefaultFileSystem();
    env.notices = &notices_;
    env.list_locks = &locks_;
    task_ = std::make_unique<TaskContext>(env);
    task_->config.indexes.resize(kIndex + 1);
    task_->config.indexes[kIndex].empty_fields = 0;
    // The documents of the trailer and IIM readers alone; what the picture
    // headers add is tested in document_headers_test.cc.
    task_->config.indexes[kIndex].metadata_switches = MetadataSwitches::AllOff().ToStoredBits();
    task_->log_flags = 0;

    services_.add_document = [this](int index, std::string_view text, std::string_view key,
                                    uint32_t time) {
      added_.push_back({index, std::string(text), std::string(key), time});
    };
    services_.queue_thumbnail = [this](int, const std::string& path, std::string_view key,
                                       const std::string& root, uint32_t time, uint32_t type) {
      thumbnails_.push_back({path, std::string(key), root, time, type});
    };
    services_.post_statistics = [this](int index) { statistics_.push_back(index); };
    options_.streams = &streams_;
    options_.open_attempts = 2;
    options_.open_pause = std::chrono::milliseconds(1);
    root_ = dir_.Path("Pictures");
  }

  IndexRuntime& lists() { return task_->indexes[kIndex]; }

  // Writes a file below the image folder root with the given time.
  void WriteImage(const std::string& relative, const std::string& bytes, int64_t unix_time) {
    ASSERT_TRUE(dir_.WriteFile("Pictures/" + relative, bytes));
    ASSERT_TRUE(SetFileTimeUtc(root_ + "/" + relative, unix_time));
  }

  void Build(const std::string& relative, const std::string& key, bool change, uint32_t time = 0) {
    BuildRequest request;
    request.index = kIndex;
    request.native_path = root_ + "/" + relative;
    request.file_key = key;
    request.native_root = root_;
    request.time = time;
    request.change = change;
    BuildImageDocument(*task_, services_, options_, request);
  }

  // The status messages posted since the last call.
  std::vector<std::string> TakeStatus() {
    std::vector<std::string> out;
    while (std::optional<StatusMessage> m = task_->status_queue.Pop()) {
      out.push_back(DescribeStatus(*m));
    }
    return out;
  }

  static std::optional<BrowseLookup> Find(BrowseList& list, const std::string& key,
                                          uint32_t time = 0) {
    return list.Lookup(key, time);
  }

  TempDir dir_;
  ListLockTable locks_;
  RecordingNoticeSink notices_;
  std::unique_ptr<TaskContext> task_;
  mac_test::FakeFileStreams streams_;
  DocumentOptions options_;
  DocumentServices services_;
  std::vector<AddedDocument> added_;
  std::vector<QueuedThumbnail> thumbnails_;
  std::vector<int> statistics_;
  std::string root_;
};

// A JPEG of 1,000,000 bytes without trailer and caption in image folder 3,
// last written on 2 March 1999 (UTC), as file key 03Sport\img.jpg.
TEST_F(DocumentBuilderTest, WholeDocumentOfAPlainJpeg) {
  std::string jpeg = MakeJpeg(1000000);
  ASSERT_LE(jpeg.size(), 1000000u);
  jpeg.resize(1000000, '\0');
  const int64_t written = UtcSeconds(1999, 3, 2, 23, 30);
  WriteImage("Sport/img.jpg", jpeg, written);
  const uint32_t stamp = FileTimeStampFromUnix(written);

  Build("Sport/img.jpg", "03Sport\\img.jpg", false);

  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].index, kIndex);
  EXPECT_EQ(added_[0].key, "03Sport\\img.jpg");
  EXPECT_EQ(added_[0].time, stamp);
  EXPECT_EQ(added_[0].text,
            " QxQB5002 JPEG ZqZ  QxQH5008 001000 ZqZ  QxQN5014 ONLINE ZqZ  xnocap "
            " QxQO5015 19990302 ZqZ  QxQP5016 19990302 ZqZ "
            "  QxQJ5010 img.jpg ZqZ  QxQL5012 " +
                root_ + "/Sport ZqZ  QxQK5011 Sport ZqZ ");

  std::optional<BrowseLookup> t = Find(lists().timelist, "03Sport\\img.jpg", stamp);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->value, kTypeJpeg);
  EXPECT_EQ(t->extra, kNoExtra);
  EXPECT_EQ(lists().timelist.order(), kOrderTime);
  ASSERT_TRUE(Find(lists().charlist, "03Sport\\img.jpg"));
  EXPECT_EQ(lists().charlist.order(), kOrderName);
  std::optional<BrowseLookup> indexed = Find(lists().indexed, "03Sport\\img.jpg", stamp);
  ASSERT_TRUE(indexed);
  EXPECT_EQ(indexed->value, 0u);
  EXPECT_EQ(lists().indexed.order(), kOrderTime);
  // A scan leaves the folder list to the scanner.
  EXPECT_EQ(lists().dirlist.Count(), 0u);

  EXPECT_EQ(TakeStatus(), (std::vector<std::string>{"0#2", "2:" + root_ + "/Sport/img.jpg", "10"}));
  EXPECT_EQ(statistics_, std::vector<int>{kIndex});
  EXPECT_TRUE(thumbnails_.empty());
}

TEST_F(DocumentBuilderTest, FileAlreadyIndexedWithThisTimeIsNotHandedOverAgain) {
  WriteImage("a.jpg", MakeJpeg(), UtcSeconds(2020, 5, 5));
  const uint32_t stamp = FileTimeStampFromUnix(UtcSeconds(2020, 5, 5));
  ASSERT_TRUE(lists().indexed.Add("01a.jpg", stamp, 0, kNoExtra).ok());

  Build("a.jpg", "01a.jpg", false);
  EXPECT_TRUE(added_.empty());
  EXPECT_TRUE(TakeStatus().empty());
  // The file lists know it again.
  EXPECT_TRUE(Find(lists().timelist, "01a.jpg", stamp));
  EXPECT_TRUE(Find(lists().charlist, "01a.jpg"));

  // Another time stamp is another version.
  Build("a.jpg", "01a.jpg", false, stamp + 60);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].time, stamp + 60);
  EXPECT_EQ(lists().indexed.Count(), 2u);
}

TEST_F(DocumentBuilderTest, ChangeOfAModifiedFileReplacesItsEntries) {
  const int64_t old_time = UtcSeconds(2020, 1, 1);
  const int64_t new_time = UtcSeconds(2021, 6, 30);
  WriteImage("Sport/Ski/b.jpg", MakeJpeg(), new_time);
  ASSERT_TRUE(SetFileTimeUtc(root_ + "/Sport/Ski", UtcSeconds(2021, 7, 1)));
  const std::string key = "04Sport\\Ski\\b.jpg";
  const uint32_t old_stamp = FileTimeStampFromUnix(old_time);
  const uint32_t new_stamp = FileTimeStampFromUnix(new_time);
  ASSERT_TRUE(lists().timelist.Add(key, old_stamp, kTypeJpeg, kNoExtra).ok());
  ASSERT_TRUE(lists().timelist.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(lists().charlist.Add(key, old_stamp, kTypeJpeg, kNoExtra).ok());
  ASSERT_TRUE(lists().charlist.SetOrder(kOrderName).ok());
  ASSERT_TRUE(lists().dirlist.Add("04Sport\\Ski", 5, 0, 7).ok());
  ASSERT_TRUE(lists().dirlist.Add("04Sport", 9, 0, kNoExtra).ok());
  task_->log_flags = kEventLogFilesAdded;

  Build("Sport/Ski/b.jpg", key, true);

  EXPECT_FALSE(Find(lists().timelist, key, old_stamp));
  EXPECT_TRUE(Find(lists().timelist, key, new_stamp));
  EXPECT_EQ(lists().timelist.Count(), 1u);
  ASSERT_EQ(lists().charlist.Count(), 1u);
  EXPECT_EQ(lists().charlist.EntryAt(0)->time, new_stamp);
  // The file's folder is listed again with its time on disk.
  ASSERT_EQ(lists().dirlist.Count(), 2u);
  std::optional<BrowseLookup> dir = Find(lists().dirlist, "04Sport\\Ski");
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->time, FileTimeStampFromUnix(UtcSeconds(2021, 7, 1)));
  EXPECT_EQ(dir->value, 0u);
  EXPECT_EQ(dir->extra, kNoExtra);
  EXPECT_EQ(lists().dirlist.order(), kOrderName);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].time, new_stamp);
  const std::string path = root_ + "/Sport/Ski/b.jpg";
  EXPECT_EQ(TakeStatus(),
            (std::vector<std::string>{"0#2", "2:" + path, "10", "22:Indexing File " + path}));
}

TEST_F(DocumentBuilderTest, FileInTheFolderRootListsTheImageFolderNumber) {
  WriteImage("c.jpg", MakeJpeg(), UtcSeconds(2022, 2, 2));
  ASSERT_TRUE(SetFileTimeUtc(root_, UtcSeconds(2022, 2, 3)));
  Build("c.jpg", "07c.jpg", true);
  ASSERT_EQ(lists().dirlist.Count(), 1u);
  EXPECT_EQ(lists().dirlist.EntryAt(0)->name, "07");
  EXPECT_EQ(lists().dirlist.EntryAt(0)->time, FileTimeStampFromUnix(UtcSeconds(2022, 2, 3)));
}

TEST_F(DocumentBuilderTest, IndexingFileLineOnlyForChangesWithTheLogOption) {
  WriteImage("d.jpg", MakeJpeg(), UtcSeconds(2022, 2, 2));
  const std::string line = "22:Indexing File " + root_ + "/d.jpg";
  const struct {
    bool change;
    uint32_t flags;
    bool logged;
  } cases[] = {{true, kEventLogFilesAdded, true},
               {true, kEventLogDaily | kEventLogSearches, false},
               {false, kEventLogFilesAdded, false}};
  for (const auto& c : cases) {
    lists().indexed.Release();
    task_->log_flags = c.flags;
    Build("d.jpg", "01d.jpg", c.change);
    std::vector<std::string> status = TakeStatus();
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back() == line, c.logged) << c.change << " " << c.flags;
  }
  EXPECT_EQ(added_.size(), 3u);
}

TEST_F(DocumentBuilderTest, ChangeOfAHiddenFileOrAFolderChangesNothing) {
  WriteImage(".hidden.jpg", MakeJpeg(), UtcSeconds(2022, 2, 2));
  ASSERT_TRUE(dir_.MakeFolder("Pictures/Folder.jpg"));
  for (const char* key : {"01.hidden.jpg", "01Folder.jpg"}) {
    ASSERT_TRUE(lists().timelist.Add(key, 5, 0, kNoExtra).ok());
    ASSERT_TRUE(lists().charlist.Add(key, 5, 0, kNoExtra).ok());
  }
  Build(".hidden.jpg", "01.hidden.jpg", true);
  Build("Folder.jpg", "01Folder.jpg", true);
  Build("Folder.jpg", "01Folder.jpg", false);
  EXPECT_TRUE(added_.empty());
  EXPECT_TRUE(TakeStatus().empty());
  EXPECT_EQ(lists().timelist.Count(), 2u);
  EXPECT_EQ(lists().charlist.Count(), 2u);
  EXPECT_EQ(lists().dirlist.Count(), 0u);
}

TEST_F(DocumentBuilderTest, ChangeOfADeletedFileRemovesItsFileEntries) {
  const std::string key = "01Sport\\gone.jpg";
  ASSERT_TRUE(lists().timelist.Add(key, 500, kTypeJpeg, kNoExtra).ok());
  ASSERT_TRUE(lists().timelist.Add("01Sport\\other.jpg", 600, kTypeJpeg, kNoExtra).ok());
  ASSERT_TRUE(lists().timelist.SetOrder(kOrderTime).ok());
  ASSERT_TRUE(lists().charlist.Add(key, 500, kTypeJpeg, kNoExtra).ok());
  ASSERT_TRUE(lists().charlist.SetOrder(kOrderName).ok());
  ASSERT_TRUE(lists().indexed.Add(key, 500, 0, kNoExtra).ok());

  Build("Sport/gone.jpg", key, true);

  EXPECT_FALSE(Find(lists().timelist, key));
  EXPECT_EQ(lists().timelist.Count(), 1u);
  EXPECT_EQ(lists().charlist.Count(), 0u);
  // The engine keeps the document until maintenance purges it.
  EXPECT_TRUE(Find(lists().indexed, key, 500));
  EXPECT_EQ(TakeStatus(), std::vector<std::string>{"2:" + root_ + "/Sport/gone.jpg"});
  EXPECT_TRUE(added_.empty());
  EXPECT_EQ(lists().dirlist.Count(), 0u);
}

TEST_F(DocumentBuilderTest, ChangeStopsWhenTheListsAlreadyHoldThisVersion) {
  const int64_t written = UtcSeconds(2022, 2, 2);
  WriteImage("e.jpg", MakeJpeg(), written);
  const uint32_t stamp = FileTimeStampFromUnix(written);
  // In TIMELIST but not in CHARLIST: nothing is removed, and the document is
  // taken as current.
  ASSERT_TRUE(lists().timelist.Add("01e.jpg", stamp, kTypeJpeg, kNoExtra).ok());
  Build("e.jpg", "01e.jpg", true);
  EXPECT_TRUE(added_.empty());
  EXPECT_TRUE(Find(lists().timelist, "01e.jpg", stamp));
  EXPECT_EQ(lists().charlist.Count(), 0u);
  EXPECT_EQ(lists().dirlist.Count(), 1u);
  EXPECT_TRUE(TakeStatus().empty());
}

// A file that cannot be read gets no list entries, so every later pass tries
// it again; it is logged once until it is read. A file that is gone is not
// logged.
TEST_F(DocumentBuilderTest, FileThatCannotBeReadStaysOutOfTheListsUntilRead) {
  FaultFileSystem faults(DefaultFileSystem());
  SkipLog skip_log;
  options_.fs = &faults;
  services_.skip_log = &skip_log;
  Build("never.jpg", "01never.jpg", false, 1234);
  EXPECT_EQ(lists().timelist.Count() + lists().charlist.Count() + lists().indexed.Count(), 0u);
  EXPECT_TRUE(TakeStatus().empty());

  const uint32_t stamp = FileTimeStampFromUnix(UtcSeconds(2022, 1, 1));
  WriteImage("locked.jpg", MakeJpeg(), UtcSeconds(2022, 1, 1));
  faults.FailReadsMatching("*/locked.jpg");
  for (bool change : {false, true, false}) Build("locked.jpg", "01locked.jpg", change, stamp);
  EXPECT_EQ(lists().timelist.Count() + lists().charlist.Count() + lists().indexed.Count(), 0u);
  EXPECT_TRUE(added_.empty());
  std::vector<std::string> logged;
  for (const std::string& s : TakeStatus()) {
    if (s.starts_with(std::to_string(kStatusLogLine) + ":")) logged.push_back(s);
  }
  EXPECT_EQ(logged,
            std::vector<std::string>{std::to_string(kStatusLogLine) +
                                     ":Cannot read file, not indexed: " + root_ + "/locked.jpg"});

  faults.ClearFaults();
  Build("locked.jpg", "01locked.jpg", false, stamp);
  EXPECT_TRUE(Find(lists().timelist, "01locked.jpg", stamp));
  EXPECT_TRUE(Find(lists().indexed, "01locked.jpg", stamp));
  EXPECT_EQ(added_.size(), 1u);
}

TEST_F(DocumentBuilderTest, PdfQueuesAThumbnailJob) {
  WriteImage("Docs/r.pdf", "%PDF-1.4\n" + std::string(100, 'x'), UtcSeconds(2023, 3, 3));
  const uint32_t stamp = FileTimeStampFromUnix(UtcSeconds(2023, 3, 3));
  options_.pdf_text = [](const std::string&) { return std::string("pdf words"); };
  Build("Docs/r.pdf", "05Docs\\r.pdf", false);
  ASSERT_EQ(thumbnails_.size(), 1u);
  EXPECT_EQ(thumbnails_[0].path, root_ + "/Docs/r.pdf");
  EXPECT_EQ(thumbnails_[0].key, "05Docs\\r.pdf");
  EXPECT_EQ(thumbnails_[0].root, root_);
  EXPECT_EQ(thumbnails_[0].time, stamp);
  EXPECT_EQ(thumbnails_[0].type, kTypePdf);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_NE(added_[0].text.find(" ZqZ pdf words QxQO5015 20230303 ZqZ "), std::string::npos)
      << added_[0].text;
  // The file lists keep the type the name gave.
  EXPECT_EQ(Find(lists().timelist, "05Docs\\r.pdf", stamp)->value, kTypePdf);
}

TEST_F(DocumentBuilderTest, TextProblemIsLoggedAndShownAndTheFileStillIndexed) {
  WriteImage("bad.pdf", "%PDF-1.4\n", UtcSeconds(2023, 3, 3));
  options_.pdf_text = [](const std::string&) -> std::string { throw std::bad_alloc(); };
  Build("bad.pdf", "01bad.pdf", false);
  const std::string path = root_ + "/bad.pdf";
  const std::string message = "Problem with the text in file : " + path;
  std::vector<std::string> status = TakeStatus();
  ASSERT_FALSE(status.empty());
  EXPECT_EQ(status[0], "22:" + message);  // always sent, whatever the log options
  std::vector<RecordingNoticeSink::Notice> notices = notices_.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].caption, "Error");
  EXPECT_EQ(notices[0].text, message);
  EXPECT_EQ(notices[0].auto_close_ms, 10000);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_NE(added_[0].text.find(" QxQJ5010 bad.pdf ZqZ "), std::string::npos);
  EXPECT_EQ(added_[0].text.find("QxQO5015"), std::string::npos);
  EXPECT_EQ(lists().indexed.Count(), 1u);
}

TEST_F(DocumentBuilderTest, OptionsOfTheIndexDecide) {
  WriteImage("m.jpg", MakeJpegWithIptc({{2, 120, "Caf\x8E"}}), UtcSeconds(2023, 3, 3));
  IndexDefinition& def = task_->config.indexes[kIndex];
  def.mac_text = 1;
  def.empty_fields = 2;
  def.doc_info = 1;
  Build("m.jpg", "01m.jpg", false);
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_NE(added_[0].text.find("QxQ120 Caf\xE9 ZqZ "), std::string::npos) << added_[0].text;
  EXPECT_NE(added_[0].text.find("QxQ255 xnoword ZqZ "), std::string::npos);

  def.doc_info = 0;
  lists().indexed.Release();
  Build("m.jpg", "01m.jpg", false);
  ASSERT_EQ(added_.size(), 2u);
  EXPECT_NE(added_[1].text.find(" xnocap "), std::string::npos);
}

// The index's stored switch word decides what the headers add: each bit on
// its own turns its part off, and a PNG is typed only while headers are read.
TEST_F(DocumentBuilderTest, MetadataSwitchWordOfTheIndexDecides) {
  const std::string jpeg =
      MakeJpegWithExif(MakeExifTiff({.x_resolution = 300, .date_original = "2011:11:11 11:11:11"}));
  WriteImage("x.jpg", jpeg, UtcSeconds(2023, 3, 3));
  WriteImage("p.png", MakePng(), UtcSeconds(2023, 3, 3));
  IndexDefinition& def = task_->config.indexes[kIndex];
  const struct {
    uint32_t bits;
    bool dimensions, date;
  } cases[] = {{0, true, true},
               {MetadataSwitches::kHeaderDimensionsOff, false, true},
               {MetadataSwitches::kCaptureDateOff, true, false},
               {MetadataSwitches::kXmpOff | MetadataSwitches::kIimCharsetOff, true, true}};
  for (const auto& c : cases) {
    def.metadata_switches = c.bits;
    added_.clear();
    lists().indexed.Release();
    lists().timelist.Release();
    lists().charlist.Release();
    Build("x.jpg", "01x.jpg", false);
    Build("p.png", "01p.png", false);
    ASSERT_EQ(added_.size(), 2u);
    EXPECT_EQ(added_[0].text.find(" QxQC5003 0110 ZqZ ") != std::string::npos, c.dimensions)
        << c.bits;
    EXPECT_EQ(added_[0].text.find(" QxQP5016 20111111 ZqZ ") != std::string::npos, c.date)
        << c.bits;
    EXPECT_EQ(added_[1].text.rfind(" QxQB5002 PNGf ZqZ ", 0) == 0, c.dimensions) << c.bits;
    const std::optional<BrowseLookup> png = Find(lists().charlist, "01p.png", added_[1].time);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->value == kTypePng, c.dimensions) << c.bits;
  }
}

TEST_F(DocumentBuilderTest, FinderTypeGoesIntoTheFileLists) {
  WriteImage("f.jpeg", "GIF89a" + std::string(50, 'g'), UtcSeconds(2023, 3, 3));
  streams_.Put(root_ + "/f.jpeg", MacStream::kAfpInfo, mac_test::AfpInfoStream("GIFf", "prvw"));
  Build("f.jpeg", "01f.jpeg", false);
  EXPECT_EQ(lists().charlist.EntryAt(0)->value, MakeTypeCode('G', 'I', 'F', 'f'));
  ASSERT_EQ(added_.size(), 1u);
  EXPECT_EQ(added_[0].text.rfind(" QxQB5002 GIFf ZqZ ", 0), 0u);
}

TEST_F(DocumentBuilderTest, IndexOutsideTheTaskIsRefused) {
  WriteImage("g.jpg", MakeJpeg(), UtcSeconds(2023, 3, 3));
  BuildRequest request;
  request.index = kMaxIndexes;
  request.native_path = root_ + "/g.jpg";
  request.file_key = "01g.jpg";
  BuildImageDocument(*task_, services_, options_, request);
  request.index = -1;
  BuildImageDocument(*task_, services_, options_, request);
  EXPECT_TRUE(added_.empty());
  EXPECT_TRUE(TakeStatus().empty());
}

}  // namespace
}  // namespace vantrel
