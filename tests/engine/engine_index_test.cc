// Index jobs: replacement by name, removal by list, compaction, failures,
// crash safety and searches running while the database changes.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/browse_list.h"
#include "core/list_file.h"
#include "engine/index_files.h"
#include "engine_test_util.h"
#include "platform/file_system.h"

namespace vantrel {
namespace {

using engine_test::EngineFixture;
using engine_test::TestDoc;
using engine_test::VectorSource;

std::vector<TestDoc> Docs(int first, int count, const std::string& extra = "") {
  std::vector<TestDoc> docs;
  for (int i = first; i < first + count; ++i) {
    docs.push_back({FormatDocumentName(static_cast<uint32_t>(i), "01file" + std::to_string(i)),
                    "common unique" + std::to_string(i) + " " + extra});
  }
  return docs;
}

class EngineIndexTest : public EngineFixture {
 protected:
  uint32_t Count() {
    StatusOr<IndexInfo> info = engine_->GetIndexInfo(Folder());
    EXPECT_TRUE(info.ok()) << info.status().ToString();
    return info.ok() ? info->document_count : 0;
  }

  Status Remove(const std::string& list_path) {
    IndexJob job;
    job.index_folder = Folder();
    job.remove = true;
    job.remove_list_in_file = true;
    job.remove_list_path = list_path;
    return engine_->RunIndexJob(job);
  }
};

TEST_F(EngineIndexTest, AddingADocumentOfTheSameNameReplacesIt) {
  // The first job into a new index (its shards empty) repeats a name too.
  ASSERT_TRUE(Add({{FormatDocumentName(5, "01a.jpg"), "zeroth version"},
                   {FormatDocumentName(6, "01b.jpg"), "other"},
                   {FormatDocumentName(5, "01a.jpg"), "first version"}})
                  .ok());
  EXPECT_EQ(Count(), 2u);
  EXPECT_TRUE(Search("zeroth").names.empty());
  ASSERT_TRUE(Add({{FormatDocumentName(5, "01a.jpg"), "second version"}}, false).ok());
  EXPECT_EQ(Count(), 2u);
  EXPECT_TRUE(Search("first").names.empty());
  EXPECT_EQ(Search("second").names, std::vector<std::string>{FormatDocumentName(5, "01a.jpg")});
  // Another time stamp is another document name.
  ASSERT_TRUE(Add({{FormatDocumentName(7, "01a.jpg"), "third version"}}, false).ok());
  EXPECT_EQ(Count(), 3u);
  // A name given twice in one job: the later text stays.
  ASSERT_TRUE(Add({{FormatDocumentName(8, "01c.jpg"), "fourth"},
                   {FormatDocumentName(9, "01d.jpg"), "other"},
                   {FormatDocumentName(8, "01c.jpg"), "fifth"}},
                  false)
                  .ok());
  EXPECT_EQ(Count(), 5u);
  EXPECT_TRUE(Search("fourth").names.empty());
  EXPECT_EQ(Search("fifth").names, std::vector<std::string>{FormatDocumentName(8, "01c.jpg")});
}

TEST_F(EngineIndexTest, NamesDifferingOnlyInCaseOrAccentsAreDifferentDocuments) {
  ASSERT_TRUE(Add({{FormatDocumentName(1, "01Caf\xE9.jpg"), "x"},
                   {FormatDocumentName(1, "01caf\xE9.jpg"), "x"},
                   {FormatDocumentName(1, "01Cafe.jpg"), "x"},
                   {FormatDocumentName(1, "01" + std::string(300, 'L')), "x"},
                   {FormatDocumentName(1, "01" + std::string(299, 'L') + "M"), "x"}})
                  .ok());
  EXPECT_EQ(Count(), 5u);
  std::vector<std::string> names = Search("x").names;
  ASSERT_EQ(names.size(), 5u);
  EXPECT_EQ(names.back(), FormatDocumentName(1, "01caf\xE9.jpg"));
}

// Adding needs an index; creating alone makes an empty one.
TEST_F(EngineIndexTest, AddWithoutCreateNeedsAnIndexAndCreateAloneMakesAnEmptyOne) {
  Status s = Add(Docs(0, 3), /*create=*/false);
  EXPECT_TRUE(s.IsNotFound()) << s.ToString();
  EXPECT_TRUE(engine_->GetIndexInfo(Folder()).status().IsNotFound());
  IndexJob job;
  job.index_folder = Folder();
  job.create = true;
  ASSERT_TRUE(engine_->RunIndexJob(job).ok());
  EXPECT_EQ(Count(), 0u);
  EXPECT_TRUE(Search("xlastword").names.empty());
}

TEST_F(EngineIndexTest, RemovesTheNamesOfATextList) {
  ASSERT_TRUE(Add(Docs(0, 10)).ok());
  std::string list = FormatDocumentName(2, "01file2") + "\r\n" + FormatDocumentName(5, "01file5") +
                     "\r\n" + FormatDocumentName(99, "01file5") + "\r\n" + "garbage line\r\n\r\n";
  ASSERT_TRUE(home_.WriteFile("RemoveList.dat", list));
  ASSERT_TRUE(Remove(home_.Path("RemoveList.dat")).ok());
  EXPECT_EQ(Count(), 8u);
  EXPECT_TRUE(Search("unique2").names.empty());
  EXPECT_TRUE(Search("unique5").names.empty());
  EXPECT_EQ(Search("common").names.size(), 8u);
}

TEST_F(EngineIndexTest, RemovesTheEntriesOfAListFile) {
  ASSERT_TRUE(Add(Docs(0, 10)).ok());
  BrowseList list;
  ASSERT_TRUE(list.Add("01file3", 3, 0, kNoExtra).ok());
  ASSERT_TRUE(list.Add("01file7", 7, 0, kNoExtra).ok());
  ASSERT_TRUE(list.Add("01file8", 1234, 0, kNoExtra).ok());  // other time: another document
  std::string bytes = EncodeListFile(list, {});
  ASSERT_TRUE(home_.WriteFile("list", bytes));
  ASSERT_TRUE(Remove(home_.Path("list")).ok());
  EXPECT_EQ(Count(), 8u);
  EXPECT_TRUE(Search("unique3 OR unique7").names.empty());
  // A damaged list file removes the records before the damage, and never crashes.
  ASSERT_TRUE(home_.WriteFile("list2", bytes.substr(0, bytes.size() - 3)));
  ASSERT_TRUE(Add(Docs(3, 1), false).ok());
  ASSERT_TRUE(Remove(home_.Path("list2")).ok());
  EXPECT_EQ(Count(), 8u);
}

TEST_F(EngineIndexTest, MissingOrEmptyListRemovesNothingAndCompactionKeepsEveryDocument) {
  ASSERT_TRUE(Add(Docs(0, 300, "filler text for a bigger database")).ok());
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(Add(Docs(0, 300, "replaced " + std::to_string(round)), false).ok());
  }
  ASSERT_TRUE(Remove(home_.Path("no such file")).ok());
  EXPECT_EQ(Count(), 300u);
  ASSERT_TRUE(home_.WriteFile("empty", ""));
  ASSERT_TRUE(Remove(home_.Path("empty")).ok());
  EXPECT_EQ(Count(), 300u);
  ASSERT_TRUE(engine_->Compact(Folder()).ok());
  EXPECT_EQ(Count(), 300u);
  EXPECT_EQ(Search("common").names.size(), 300u);
  EXPECT_EQ(Search("replaced 2").names.size(), 300u);
  EXPECT_EQ(Search("unique299").names.size(), 1u);
  EXPECT_FALSE(DefaultFileSystem()->Exists(Folder() + "/" + kStagingFolderName));
  // Replacing by name still works after compaction renumbered the documents.
  ASSERT_TRUE(Add(Docs(10, 1, "after"), false).ok());
  EXPECT_EQ(Count(), 300u);
  EXPECT_EQ(Search("after").names.size(), 1u);
}

TEST_F(EngineIndexTest, AFailingDataSourceLeavesTheCommittedState) {
  ASSERT_TRUE(Add(Docs(0, 20)).ok());
  std::vector<std::string> messages;
  VectorSource source(Docs(100, 50, "new"), /*fail_after=*/30);
  IndexJob job;
  job.index_folder = Folder();
  job.add = true;
  job.data_source = source.source();
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code == kMessageJobError) messages.emplace_back(m.text);
  };
  Status s = engine_->RunIndexJob(job);
  EXPECT_FALSE(s.ok());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("data source"), std::string::npos);
  EXPECT_EQ(Count(), 20u);
  EXPECT_TRUE(Search("new").names.empty());
  // The next job works.
  ASSERT_TRUE(Add(Docs(100, 50, "new"), false).ok());
  EXPECT_EQ(Count(), 70u);
}

TEST_F(EngineIndexTest, WithACommitIntervalAFailureKeepsTheCommittedChunks) {
  EngineOptions options = engine_->GetOptions();
  options.commit_every = 10;
  engine_->SetOptions(options);
  EXPECT_EQ(engine_->GetOptions().commit_every, 10u);
  Status s = Add(Docs(0, 50), true, /*fail_after=*/25);
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(Count(), 20u);
}

TEST_F(EngineIndexTest, ProgressIsReported) {
  VectorSource source(Docs(0, 2500));
  std::vector<uint64_t> progress;
  IndexJob job;
  job.index_folder = Folder();
  job.create = job.add = true;
  job.data_source = source.source();
  job.message_callback = [&](const EngineMessage& m) {
    if (m.code == kMessageProgress) progress.push_back(m.count);
  };
  ASSERT_TRUE(engine_->RunIndexJob(job).ok());
  EXPECT_EQ(progress, (std::vector<uint64_t>{1000, 2000, 2500}));
}

TEST_F(EngineIndexTest, AnUnwritableFolderFailsWithTheReason) {
  ASSERT_TRUE(home_.WriteFile("afile", "x"));
  IndexJob job;
  VectorSource source(Docs(0, 3));
  job.index_folder = home_.Path("afile/idx");
  job.create = job.add = true;
  job.data_source = source.source();
  Status s = engine_->RunIndexJob(job);
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message(), "");
  job.index_folder = home_.Path("afile");
  EXPECT_FALSE(engine_->RunIndexJob(job).ok());

  // An index whose write lock cannot be made (here a folder in the lock
  // file's place; a read-only file system or no permission alike) is not
  // "locked by another writer": the reason is reported.
  job.index_folder = Folder();
  ASSERT_TRUE(engine_->RunIndexJob(job).ok());
  DefaultFileSystem()->DeleteFile(Folder() + "/flintlock").IgnoreError();
  ASSERT_TRUE(home_.MakeFolder("idx/flintlock"));
  s = engine_->RunIndexJob(job);
  EXPECT_EQ(s.code(), StatusCode::kIoError) << s.ToString();
  EXPECT_EQ(s.message().find("another writer"), std::string::npos) << s.ToString();
  EXPECT_NE(s.message().find("Is a directory"), std::string::npos) << s.ToString();
}

TEST_F(EngineIndexTest, AKilledIndexJobLeavesTheLastCommitUsable) {
  ASSERT_TRUE(Add(Docs(0, 40)).ok());
  for (uint32_t every : {0u, 100u}) {
    EngineOptions options = engine_->GetOptions();
    options.commit_every = every;
    engine_->SetOptions(options);
    const uint32_t before = Count();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // The child dies by SIGKILL in the middle of its job, after 250 documents.
      std::vector<TestDoc> docs = Docs(1000 + static_cast<int>(every) * 10, 400, "killed");
      int handed = 0;
      VectorSource inner(docs);
      EngineDataSource source;
      source.rewind = inner.source()->rewind;
      source.next_document = [&](EngineDocument* d) {
        if (++handed > 250) raise(SIGKILL);
        return inner.source()->next_document(d);
      };
      IndexJob job;
      job.index_folder = Folder();
      job.add = true;
      job.data_source = &source;
      (void)engine_->RunIndexJob(job);
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(Count(), before + (every == 0 ? 0 : 200));
    EXPECT_EQ(Search("killed").names.size(), every == 0 ? 0u : 200u);
    // The writer lock died with the child: the next job runs.
    ASSERT_TRUE(Add(Docs(5000 + static_cast<int>(every), 5, "after"), false).ok());
  }
}

TEST_F(EngineIndexTest, AnInterruptedSwapIsFinishedByTheNextJob) {
  ASSERT_TRUE(Add(Docs(0, 5)).ok());
  // A copy of the database with 7 documents, staged as a swap would leave it
  // after the old version file was deleted.
  TempDir other;
  {
    EngineStartOptions o;
    o.home_folder = other.path();
    auto e = Engine::Start(o);
    ASSERT_TRUE(e.ok());
    VectorSource source(Docs(100, 7));
    IndexJob job;
    job.index_folder = other.Path("db");
    job.create = job.add = true;
    job.data_source = source.source();
    ASSERT_TRUE((*e)->RunIndexJob(job).ok());
  }
  FileSystem* fs = DefaultFileSystem();
  const std::string stage = Folder() + "/" + kStagingFolderName;
  ASSERT_TRUE(fs->CreateFolders(stage).ok());
  std::string ready;
  auto listing = fs->ListFolder(other.Path("db"));
  ASSERT_TRUE(listing.ok());
  for (const FolderEntry& e : *listing) {
    if (e.name == kLockFileName) continue;
    ASSERT_TRUE(fs->CopyFile(other.Path("db/" + e.name), stage + "/" + e.name).ok());
    ready += e.name + "\n";
  }
  ASSERT_TRUE(fs->WriteFile(stage + "/" + kReadyFileName, ready).ok());
  ASSERT_TRUE(fs->DeleteFile(Folder() + "/" + kVersionFileName).ok());
  // A half-moved table: the swap goes on from wherever it stopped.
  ASSERT_TRUE(fs->Rename(stage + "/postlist.glass", Folder() + "/postlist.glass").ok());

  ASSERT_TRUE(Add(Docs(200, 1), false).ok());
  EXPECT_EQ(Count(), 8u);
  EXPECT_EQ(Search("unique100").names.size(), 1u);
  EXPECT_TRUE(Search("unique0").names.empty());
  EXPECT_FALSE(fs->Exists(stage));
}

TEST_F(EngineIndexTest, SearchesDuringIndexJobsSeeWholeJobsOnly) {
  ASSERT_TRUE(Add(Docs(0, 50)).ok());
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, searches{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      size_t last = 0;
      while (!done.load()) {
        SearchJob job;
        job.query = "common";
        job.index_folder = Folder();
        size_t n = 0;
        job.message_callback = [&](const EngineMessage& m) { n += m.code == kMessageFoundDocument; };
        StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
        if (!out.ok() || n % 50 != 0 || n < last) ++bad;
        last = n;
        ++searches;
      }
    });
  }
  for (int job = 1; job <= 20; ++job) {
    ASSERT_TRUE(Add(Docs(job * 50, 50), false).ok());
    // A search that starts after the job returned sees its documents.
    EXPECT_EQ(Search("common").names.size(), static_cast<size_t>((job + 1) * 50));
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(searches.load(), 0);
}

TEST_F(EngineIndexTest, SearchesDuringSwapsSeeTheOldOrTheNewDatabase) {
  ASSERT_TRUE(Add(Docs(0, 30)).ok());
  TempDir copies;
  // Two databases to swap in turn: 30 and 45 documents.
  for (int which = 0; which < 2; ++which) {
    VectorSource source(Docs(0, which == 0 ? 30 : 45));
    IndexJob job;
    job.index_folder = copies.Path(which == 0 ? "a" : "b");
    job.create = job.add = true;
    job.data_source = source.source();
    ASSERT_TRUE(engine_->RunIndexJob(job).ok());
  }
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, searches{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!done.load()) {
        SearchJob job;
        job.query = "common";
        job.index_folder = Folder();
        size_t n = 0;
        job.message_callback = [&](const EngineMessage& m) { n += m.code == kMessageFoundDocument; };
        StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
        if (!out.ok() || (n != 30 && n != 45)) {
          ++bad;
          ADD_FAILURE() << n << " " << out.status().ToString();
        }
        ++searches;
      }
    });
  }
  // On a busy machine the readers may start late: the swaps begin once they
  // search.
  while (searches.load() < 3) std::this_thread::yield();
  for (int round = 0; round < 12; ++round) {
    ASSERT_TRUE(engine_->InstallIndexFiles(Folder(), copies.Path(round % 2 ? "a" : "b")).ok());
    EXPECT_EQ(Count(), round % 2 ? 30u : 45u);
    ASSERT_TRUE(engine_->Compact(Folder()).ok());
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(searches.load(), 0);
}

TEST_F(EngineIndexTest, StopEndsTheEngine) {
  ASSERT_TRUE(Add(Docs(0, 3)).ok());
  engine_->Stop();
  engine_->Stop();
  EXPECT_EQ(engine_->GetIndexInfo(Folder()).status().code(), StatusCode::kFailedPrecondition);
  EXPECT_FALSE(Add(Docs(0, 3)).ok());
}

TEST(EngineStartTest, DeletesTheInUseFileAndNotesTheSynonymFiles) {
  TempDir home;
  ASSERT_TRUE(home.WriteFile("~DTINUSE.TMP", "x"));
  ASSERT_TRUE(home.WriteFile("WORDNET/DTWDNET.IX", "x"));
  EngineStartOptions options;
  options.home_folder = home.path();
  auto e = Engine::Start(options);
  ASSERT_TRUE(e.ok());
  EXPECT_FALSE(DefaultFileSystem()->Exists(home.Path("~DTINUSE.TMP")));
  EXPECT_TRUE((*e)->wordnet_found());
  EXPECT_FALSE((*e)->thesaurus_found());
  // No field catalogue: no fields, and a field search is ordinary words.
  EXPECT_TRUE((*e)->catalogue().fields().empty());

  options.home_folder = home.Path("missing");
  EXPECT_FALSE(Engine::Start(options).ok());
}

}  // namespace
}  // namespace vantrel
