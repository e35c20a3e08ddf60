// What a crash leaves behind is repaired at the next start: an index whose
// very first commit was cut short still takes documents, and a restore cut
// anywhere (staging, swapping, the layout line) leaves every old shard or
// every new one, never a mix.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/database_copy.h"
#include "engine/index_files.h"
#include "engine/index_segments.h"
#include "engine/shard_layout.h"
#include "engine/shard_swap.h"
#include "engine_test_util.h"
#include "platform/file_system.h"
#include "support/fault_file_system.h"

namespace vantrel {
namespace {

using engine_test::Caption;
using engine_test::EngineFixture;
using engine_test::ImageDoc;
using engine_test::TestDoc;

class EngineRecoveryTest : public EngineFixture {};

TEST_F(EngineRecoveryTest, TablesLeftByAnInterruptedCreationAreClearedAndTheIndexIsCreated) {
  FileSystem* fs = DefaultFileSystem();
  ASSERT_TRUE(fs->CreateFolders(Folder()).ok());
  // What a kill during the creation leaves: empty tables, the version
  // file's temporary, the lock file, and no version file.
  for (const char* name : {"postlist.glass", "termlist.glass", "flintlock"}) {
    ASSERT_TRUE(fs->WriteFile(Folder() + "/" + name, "").ok());
  }
  ASSERT_TRUE(fs->WriteFile(Folder() + "/v.tmp", std::string(77, 'x')).ok());
  ASSERT_TRUE(fs->WriteFile(Folder() + "/other.dat", "kept").ok());

  Status added = Add({{FormatDocumentName(1, "01a.jpg"), "harbour"}});
  ASSERT_TRUE(added.ok()) << added.ToString();
  EXPECT_EQ(Search("harbour").names.size(), 1u);
  EXPECT_TRUE(fs->Exists(Folder() + "/other.dat"));
  EXPECT_FALSE(fs->Exists(Folder() + "/v.tmp"));
}

TEST_F(EngineRecoveryTest, AWholeDatabaseIsNeverCleared) {
  ASSERT_TRUE(Add({{FormatDocumentName(1, "01a.jpg"), "harbour"}}).ok());
  ASSERT_TRUE(ClearUnfinishedCreation(DefaultFileSystem(), Folder()).ok());
  ASSERT_TRUE(Add({{FormatDocumentName(2, "01b.jpg"), "harbour"}}).ok());
  EXPECT_EQ(Search("harbour").names.size(), 2u);
}

// Documents img<first> .. img<first + count - 1>: the old index and the
// backup share some names, so a mix of their shards shows as names stored
// twice or missing.
std::vector<TestDoc> Docs(int first, int count) {
  std::vector<TestDoc> docs;
  for (int i = first; i < first + count; ++i) {
    docs.push_back(ImageDoc(1000 + static_cast<uint32_t>(i),
                            "0" + std::to_string(i % 4) + "Folder\\img" + std::to_string(i) + ".jpg",
                            Caption(120, {"harbour"})));
  }
  return docs;
}

std::vector<std::string> SortedNames(const std::vector<TestDoc>& docs) {
  std::vector<std::string> names;
  for (const TestDoc& d : docs) names.push_back(d.name);
  std::sort(names.begin(), names.end());
  return names;
}

class RestoreCrashTest : public EngineFixture {
 protected:
  // An index of `shards` shards (1: one database in the folder) in `name`.
  std::string Build(const std::string& name, uint32_t shards, std::vector<TestDoc> docs) {
    EngineOptions options = engine_->GetOptions();
    options.new_index_shards = shards;
    engine_->SetOptions(options);
    engine_test::VectorSource source(std::move(docs));
    IndexJob job;
    job.index_folder = home_.Path(name);
    job.create = true;
    job.add = true;
    job.data_source = source.source();
    EXPECT_TRUE(engine_->RunIndexJob(job).ok());
    return job.index_folder;
  }

  // The index folder as the template `from` holds it (copied without
  // syncing: hundreds of times per test).
  void Reset(const std::string& from) {
    std::error_code error;
    std::filesystem::remove_all(Folder(), error);
    ASSERT_FALSE(error) << error.message();
    std::filesystem::copy(from, Folder(), std::filesystem::copy_options::recursive, error);
    ASSERT_FALSE(error) << error.message();
  }

  // Restores `backup` into the index through `fs`, in a process of its own
  // (an engine that is then dropped, as a killed process is); `arm` sets
  // the fault once the engine has started.
  Status Restore(FaultFileSystem* fs, const std::string& backup,
                 const std::function<void()>& arm = [] {}) {
    return InProcessOf(fs, arm, [&](Engine* engine) {
      return engine->InstallIndexFiles(Folder(), backup);
    });
  }

  // Runs `work` on an engine of its own over `fs` (a process that is then
  // dropped, as a killed one is); `arm` sets the fault once the engine has
  // started. restore_writes_ counts the writes `work` made.
  Status InProcessOf(FaultFileSystem* fs, const std::function<void()>& arm,
                     const std::function<Status(Engine*)>& work) {
    EngineStartOptions options;
    options.home_folder = home_.path();
    options.fs = fs;
    fs->SkipSyncs();
    StatusOr<std::unique_ptr<Engine>> crashing = Engine::Start(options);
    EXPECT_TRUE(crashing.ok());
    if (!crashing.ok()) return crashing.status();
    const int before = fs->write_count();
    arm();
    EngineOptions engine_options = (*crashing)->GetOptions();
    engine_options.segment_documents = segment_documents_;
    engine_options.bulk_lanes = 2;
    (*crashing)->SetOptions(engine_options);
    Status done = work(crashing->get());
    restore_writes_ = fs->write_count() - before;
    return done;
  }

  static Status RunBulkJob(Engine* engine, const std::string& folder, std::vector<TestDoc> docs) {
    return engine_test::AddDocuments(engine, folder, std::move(docs), /*bulk=*/true);
  }

  // The restarted process, on the files as the restore left them.
  void Restart() {
    engine_.reset();
    EngineStartOptions options;
    options.home_folder = home_.path();
    options.fs = &quiet_;
    StatusOr<std::unique_ptr<Engine>> started = Engine::Start(options);
    ASSERT_TRUE(started.ok()) << started.status().ToString();
    engine_ = std::move(*started);
  }

  // A job and a search on the index both stop with kCorruption.
  void ExpectJobsAndSearchesStopWithCorruption() {
    EXPECT_EQ(RunEmptyJob().code(), StatusCode::kCorruption);
    SearchJob search;
    search.query = "harbour";
    search.index_folder = Folder();
    EXPECT_EQ(engine_->RunSearchJob(search).status().code(), StatusCode::kCorruption);
  }

  // A job that does nothing but what every job does first: recovery.
  Status RunEmptyJob() {
    IndexJob job;
    job.index_folder = Folder();
    return engine_->RunIndexJob(job);
  }

  void SetUp() override {
    quiet_.SkipSyncs();
    EngineFixture::SetUp();
  }
  void TearDown() override { engine_.reset(); }

  // Every file operation, syncs aside (the test never loses power and runs
  // hundreds of restores).
  FaultFileSystem quiet_{DefaultFileSystem()};
  int restore_writes_ = 0;
  uint32_t segment_documents_ = EngineOptions().segment_documents;

  // Segments of `count` documents in two lanes, for this engine and every
  // one started here.
  void SegmentDocuments(uint32_t count) {
    segment_documents_ = count;
    EngineOptions options = engine_->GetOptions();
    options.segment_documents = count;
    options.bulk_lanes = 2;
    engine_->SetOptions(options);
  }

  // Every name of the index, as often as it is stored, sorted.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    SearchJob job;
    job.query = "xlastword";
    job.index_folder = Folder();
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) names.emplace_back(m.name);
    };
    StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
    EXPECT_TRUE(out.ok()) << out.status().ToString();
    std::sort(names.begin(), names.end());
    return names;
  }

  // The folder's names: exactly the shards of the layout line (or one
  // database in the folder itself) and nothing a swap leaves behind.
  std::string LayoutProblem(uint32_t shards) {
    FileSystem* fs = DefaultFileSystem();
    StatusOr<ShardSettings> settings = ReadShardSettings(fs, Folder());
    if (!settings.ok()) return settings.status().ToString();
    const uint32_t layout = shards == 1 ? 0 : shards;
    if (settings->layout != layout) return "layout " + std::to_string(settings->layout);
    StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(Folder());
    if (!entries.ok()) return entries.status().ToString();
    bool own_database = false;
    uint32_t shard_folders = 0;
    for (const FolderEntry& e : *entries) {
      if (e.is_folder && IsShardFolderName(e.name)) {
        if (static_cast<uint32_t>(e.name[0] - '0') >= layout) return "shard folder " + e.name;
        if (fs->Exists(Folder() + "/" + e.name + "/" + kStagingFolderName)) return e.name + " staged";
        if (fs->Exists(Folder() + "/" + e.name + "/" + kSegmentsFolderName)) {
          return e.name + " has segments";
        }
        ++shard_folders;
      } else if (e.name == kVersionFileName) {
        own_database = true;
      } else if (e.name != kShardSettingsFile && e.name != kLockFileName &&
                 e.name.find(".glass") == std::string::npos) {
        return "left over: " + e.name;
      }
    }
    if (own_database != (layout == 0) || shard_folders != layout) return "databases do not match";
    return "";
  }
};

// A process killed after any write of a restore (mode "crash": nothing
// after it happens), or a restore whose one write fails (mode "fail": the
// restore goes on handling the error), is followed by a restart. The first
// call of the restarted engine, a search (odd k) or an index job (even k),
// finds every old shard or every new one; after the job the folder holds
// exactly the shards of the layout line of that state.
TEST_F(RestoreCrashTest, ARestoreCutAfterAnyWriteLeavesTheOldOrTheNewIndex) {
  const std::vector<TestDoc> old_docs = Docs(0, 12), new_docs = Docs(6, 14);
  const std::vector<std::string> old_names = SortedNames(old_docs);
  const std::vector<std::string> new_names = SortedNames(new_docs);
  const std::string old3 = Build("old3", 3, old_docs), old1 = Build("old1", 1, old_docs);
  const std::string new3 = Build("new3", 3, new_docs), new1 = Build("new1", 1, new_docs);
  struct Case {
    const char* what;
    std::string old_index, backup;
    uint32_t old_shards, new_shards;
    bool fail_too;  // also the mode "fail"
  };
  const Case cases[] = {
      {"3 shards over 3", old3, new3, 3, 3, true},
      {"3 shards over one database", old1, new3, 1, 3, false},
      {"one database over 3 shards", old3, new1, 3, 1, false},
  };
  for (const Case& c : cases) {
    // How many writes a whole restore makes.
    Reset(c.old_index);
    FaultFileSystem counting(DefaultFileSystem());
    ASSERT_TRUE(Restore(&counting, c.backup).ok()) << c.what;
    const int writes = restore_writes_;
    for (const bool crash : {true, false}) {
      if (!crash && !c.fail_too) continue;
      for (int k = 1; k <= writes; ++k) {
        SCOPED_TRACE(std::string(c.what) + (crash ? ", crash" : ", fail") + " at write " +
                     std::to_string(k) + " of " + std::to_string(writes));
        Reset(c.old_index);
        FaultFileSystem faulty(DefaultFileSystem());
        Restore(&faulty, c.backup, [&] {
          if (crash) {
            faulty.CrashAtNthWrite(k);
          } else {
            faulty.FailNthWrite(k);
          }
        }).IgnoreError();
        Restart();
        const bool search_first = k % 2 == 1;
        if (!search_first) {
          ASSERT_TRUE(RunEmptyJob().ok());
        }
        const std::vector<std::string> names = Names();
        ASSERT_TRUE(names == old_names || names == new_names) << names.size() << " names";
        if (search_first) {
          ASSERT_TRUE(RunEmptyJob().ok());
        }
        EXPECT_EQ(LayoutProblem(names == old_names ? c.old_shards : c.new_shards), "");
      }
    }
  }
}

// A bulk build whose last two jobs and merge are cut after any write (the
// process dies there), then restarted: the first call, a search (odd k) or
// an index job (even k), finds every document of the jobs reported done
// exactly once, and a cut job's documents all or not at all; no segment
// and no staging is left. The build's first job ran in an earlier process
// and was left unmerged. The jobs write two lanes. With segments of 1,000
// documents the second cut job adds to the first one's group; with
// segments of 1 it starts its own, unless the first job left the group's
// first segment empty.
TEST_F(RestoreCrashTest, ABulkBuildCutAfterAnyWriteKeepsEveryJobReportedDone) {
  const std::vector<TestDoc> first = Docs(0, 10), committed = Docs(10, 12);
  const std::vector<TestDoc> cut_a = Docs(22, 6), cut_b = Docs(28, 6);
  const std::vector<std::string> before = SortedNames(Docs(0, 22));
  const std::vector<std::string> middle = SortedNames(Docs(0, 28));
  const std::vector<std::string> after = SortedNames(Docs(0, 34));
  for (const uint32_t shards : {3u, 1u}) {
    for (const uint32_t segment_documents : {1u, 1000u}) {
      SegmentDocuments(segment_documents);
      const std::string base = Build("bulk" + std::to_string(shards) + "-" +
                                     std::to_string(segment_documents), shards, first);
      ASSERT_TRUE(RunBulkJob(engine_.get(), base, committed).ok());
      // The status says how far the build got: the first job failed, the
      // second ("second: "), the merge ("merge: "), or nothing.
      auto cut_build = [&](Engine* engine) {
        VANTREL_RETURN_IF_ERROR(RunBulkJob(engine, Folder(), cut_a));
        Status job = RunBulkJob(engine, Folder(), cut_b);
        if (!job.ok()) return Status::Internal("second: " + job.ToString());
        Status merged = engine->FinishBulkBuild(Folder());
        return merged.ok() ? merged : Status::Internal("merge: " + merged.ToString());
      };
      Reset(base);
      FaultFileSystem counting(DefaultFileSystem());
      ASSERT_TRUE(InProcessOf(&counting, [] {}, cut_build).ok());
      const int writes = restore_writes_;
      for (int k = 1; k <= writes + 1; ++k) {
        SCOPED_TRACE(std::to_string(shards) + " shard(s), segments of " +
                     std::to_string(segment_documents) + ", crash at write " + std::to_string(k) +
                     " of " + std::to_string(writes));
        Reset(base);
        FaultFileSystem faulty(DefaultFileSystem());
        const Status done = InProcessOf(&faulty, [&] { faulty.CrashAtNthWrite(k); }, cut_build);
        // Both jobs reported done, the merge cut or not; or the first only.
        const bool both_done = done.ok() || done.message().rfind("merge: ", 0) == 0;
        const bool first_done = both_done || done.message().rfind("second: ", 0) == 0;
        Restart();
        const bool search_first = k % 2 == 1;
        if (!search_first) {
          ASSERT_TRUE(RunEmptyJob().ok());
        }
        const std::vector<std::string> names = Names();
        if (both_done) {
          ASSERT_TRUE(names == after) << names.size() << " names";
        } else if (first_done) {
          ASSERT_TRUE(names == middle || names == after) << names.size() << " names";
        } else {
          ASSERT_TRUE(names == before || names == middle) << names.size() << " names";
        }
        if (search_first) {
          ASSERT_TRUE(RunEmptyJob().ok());
        }
        EXPECT_EQ(LayoutProblem(shards), "");
      }
    }
  }
}

// The segment record is read as hostile bytes too: anything but ascending
// "segment N" lines stops every job and search on the index with the
// reason, and no segment is merged or deleted.
TEST_F(RestoreCrashTest, OnlyAWholeSegmentRecordIsFollowed) {
  const std::vector<uint32_t> segments{1, 7, 4294967};
  StatusOr<std::vector<uint32_t>> parsed = ParseSegmentRecord(FormatSegmentRecord(segments));
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(*parsed, segments);
  const std::string base = Build("segs", 3, Docs(0, 12));
  ASSERT_TRUE(RunBulkJob(engine_.get(), base, Docs(12, 6)).ok());
  StatusOr<std::vector<uint32_t>> written = ReadSegmentRecord(DefaultFileSystem(), base);
  ASSERT_TRUE(written.ok());
  ASSERT_FALSE(written->empty());
  EXPECT_EQ(written->front(), 1u);
  const std::string record = FormatSegmentRecord(*written);
  for (const char* bad : {"segment 1", "segment 0\n", "segment 01\n", "segment -1\n",
                          "segment 2\nsegment 1\n", "segment 1\nsegment 1\n", "segment 1\r\n",
                          "segments 1\n", "segment 99999999999\n", "\n"}) {
    SCOPED_TRACE(std::string("record \"") + bad + "\"");
    EXPECT_FALSE(ParseSegmentRecord(bad).ok());
    Reset(base);
    ASSERT_TRUE(home_.WriteFile(std::string("idx/") + kSegmentRecordFile, bad));
    Restart();
    ExpectJobsAndSearchesStopWithCorruption();
    EXPECT_TRUE(DefaultFileSystem()->Exists(SegmentFolder(Folder() + "/0", 1) + "/iamglass"));
    ASSERT_TRUE(home_.WriteFile(std::string("idx/") + kSegmentRecordFile, record));
    ASSERT_TRUE(RunEmptyJob().ok());
    EXPECT_EQ(Names(), SortedNames(Docs(0, 18)));
    EXPECT_EQ(LayoutProblem(3), "");
  }
}

// The swap mark is read as hostile bytes: only "layout N" with a shard
// count the engine knows is taken; anything else stops every job and search
// on the index with the reason, and nothing is swapped or deleted.
TEST_F(RestoreCrashTest, OnlyAWholeSwapMarkIsFollowed) {
  for (uint32_t n = 0; n <= kMaxShards; ++n) {
    StatusOr<uint32_t> layout = ParseSwapMark(FormatSwapMark(n));
    ASSERT_TRUE(layout.ok());
    EXPECT_EQ(*layout, n);
  }
  const std::string old3 = Build("old3", 3, Docs(0, 12));
  for (const char* bad : {"", "layout 3", "layout 9\n", "layout 10\n", "layout -1\n",
                          "layout 3\nlayout 3\n", "layout 3\r\n", "shards 3\n"}) {
    SCOPED_TRACE(std::string("mark \"") + bad + "\"");
    EXPECT_FALSE(ParseSwapMark(bad).ok());
    Reset(old3);
    ASSERT_TRUE(home_.WriteFile("idx/0/vtstage/STAGED", "iamglass\n"));
    ASSERT_TRUE(home_.WriteFile("idx/0/vtstage/iamglass", "new"));
    ASSERT_TRUE(home_.WriteFile(std::string("idx/") + kSwapMarkFile, bad));
    Restart();
    ExpectJobsAndSearchesStopWithCorruption();
    EXPECT_TRUE(DefaultFileSystem()->Exists(Folder() + "/0/vtstage/iamglass"));
    ASSERT_TRUE(DefaultFileSystem()->DeleteFile(Folder() + "/" + kSwapMarkFile).ok());
    ASSERT_TRUE(RunEmptyJob().ok());
    EXPECT_EQ(Names(), SortedNames(Docs(0, 12)));
    EXPECT_EQ(LayoutProblem(3), "");
  }
}

}  // namespace
}  // namespace vantrel
