// The index pipeline against the real engine on temporary folders: first
// start, restart, change pass, poll re-listing, optimization, backups and
// the handling of failed batches and unreachable image folders.
#include "indexing/index_pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/index_folders.h"
#include "core/file_names.h"
#include "core/list_file.h"
#include "engine/database_copy.h"
#include "engine/document_name.h"
#include "engine/index_files.h"
#include "engine/shard_layout.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "scan/entry_keys.h"
#include "support/fault_file_system.h"
#include "support/file_times.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

std::string Captioned(const std::string& caption) {
  return MakeJpegWithIptc({{2, 120, caption}, {2, 25, "testkeyword"}});
}

// A sidecar whose dc:title is `title`.
std::string XmpTitle(const std::string& title) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
         "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:title><rdf:Alt><rdf:li "
         "xml:lang='x-default'>" +
         title + "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta>";
}

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_ = &fault_;
    ASSERT_TRUE(fs_->CreateFolders(dir_.Path("start")).ok());
    ASSERT_TRUE(fs_->CreateFolders(dir_.Path("index")).ok());
    ASSERT_TRUE(fs_->CreateFolders(dir_.Path("images/Sport")).ok());
    ASSERT_TRUE(fs_->CreateFolders(dir_.Path("remote")).ok());
    ASSERT_TRUE(engine_.Start(dir_.Path("start")).ok());
    IndexDefinition def = NewIndexDefinition("Test", dir_.Path("index")).value();
    def.active = 1;
    def.image_folders[0].path = OfflineFolderOf(dir_.Path("index"));
    def.image_folders[1].path = dir_.Path("images");
    def.image_folders[2].path = dir_.Path("remote");
    config_.indexes.push_back(def);

    ASSERT_TRUE(dir_.WriteFile("images/a.jpg", Captioned("harbour at dawn")));
    ASSERT_TRUE(dir_.WriteFile("images/Sport/b.tif",
                               MakeTiffWithIptc({{2, 120, "football final"}})));
    ASSERT_TRUE(dir_.WriteFile("images/Sport/.hidden.jpg", Captioned("secretword")));
    ASSERT_TRUE(dir_.WriteFile("images/x.eps", MakeEpsWithIptc({{2, 120, "poster art"}})));
    ASSERT_TRUE(dir_.WriteFile("remote/r.jpg", Captioned("lighthouse")));
    Restart();
  }

  // A fresh task context over the same folders, as after a server restart.
  void Restart() {
    TaskEnvironment env;
    env.fs = fs_;
    env.start_dir = dir_.Path("start");
    env.list_locks = &ListLocks();
    task_ = std::make_unique<TaskContext>(env);
    task_->config = config_;
    PrepareIndexFolders(&task_->config, fs_, nullptr);
    PipelineOptions options;
    options.engine = &engine_;
    options.cache = &cache_;
    options.fs = fs_;
    options.after_swap_pause = std::chrono::milliseconds(0);
    options.batch_documents = batch_documents_;
    options.pdf_text = pdf_text_;
    pipeline_ = std::make_unique<Pipeline>(options);
  }

  IndexRuntime& runtime() { return task_->indexes[0]; }
  const IndexDefinition& def() { return task_->config.indexes[0]; }
  size_t Count(BrowseList* list) { return task_->Locked(0, list).Count(); }
  bool InList(BrowseList* list, const std::string& key) {
    return task_->Locked(0, list).Lookup(key, 0).has_value();
  }

  // Documents the engine finds for `query`.
  std::vector<std::string> Search(const std::string& query) {
    std::vector<std::string> names;
    SearchJob job;
    job.query = query;
    job.index_folder = def().engine_folder;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageFoundDocument) names.emplace_back(m.name.substr(9));
    };
    StatusOr<SearchOutcome> outcome = engine_.engine()->RunSearchJob(job);
    EXPECT_TRUE(outcome.ok()) << outcome.status().ToString();
    return names;
  }

  // Drains the status queue: the files reported indexed or gone, and the
  // log lines.
  struct Drained {
    std::vector<std::string> files;
    std::vector<std::string> log;
  };
  Drained Drain() {
    Drained d;
    while (std::optional<StatusMessage> m = task_->status_queue.Pop()) {
      if (m->code == kStatusFileIndexed) d.files.push_back(m->data);
      if (m->code == kStatusLogLine) d.log.push_back(m->data);
    }
    return d;
  }

  // Lists the changed folders of image folder `slot` and polls each, as the
  // poll pass does.
  void PollChangedFolders(int slot) {
    for (const std::string& key : pipeline_->ListChangedFolders(*task_, 0, slot)) {
      MutexLock lock(&task_->update_lock);
      pipeline_->PollFolder(*task_, 0, slot, key);
    }
  }

  // Pictures images/Bulk/p0.jpg .. p<n - 1>.jpg, each captioned with
  // "bulkword".
  void WriteBulkPictures(int n) {
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(dir_.WriteFile("images/Bulk/p" + std::to_string(i) + ".jpg",
                                 Captioned("bulkword number" + std::to_string(i))));
    }
  }

  // How often the record of a bulk build's segments was written.
  long SegmentRecordWrites() {
    const std::vector<std::string> written = fault_.written_paths();
    return std::count_if(written.begin(), written.end(), [](const std::string& p) {
      return p.size() > 7 && p.compare(p.size() - 7, 7, "/vtsegs") == 0;
    });
  }

  // Removes the documents of the listed files `keys` from the engine alone.
  void RemoveDocuments(const std::vector<std::string>& keys) {
    std::string lines;
    for (const std::string& key : keys) {
      std::optional<BrowseLookup> listed = task_->Locked(0, &runtime().timelist).Lookup(key, 0);
      ASSERT_TRUE(listed.has_value()) << key;
      lines += FormatDocumentName(listed->time, key) + "\r\n";
    }
    IndexJob job;
    job.index_folder = def().engine_folder;
    job.remove = true;
    job.remove_list_in_file = true;
    job.remove_list_path = dir_.Path("removed");
    ASSERT_TRUE(fs_->WriteFile(job.remove_list_path, lines).ok());
    ASSERT_TRUE(engine_.engine()->RunIndexJob(job).ok());
  }

  void Queue(int slot, const std::string& relative) {
    MutexLock lock(&task_->change_queue_lock);
    runtime().folders[slot].change_queue.Put(
        ChangeEntry{NativeToKey(relative), relative, kActionListed});
  }

  TempDir dir_;
  FaultFileSystem fault_{DefaultFileSystem()};  // also under the engine
  FileSystem* fs_ = nullptr;
  EngineHolder engine_{&fault_};
  ResultCache cache_;
  Configuration config_;
  std::unique_ptr<TaskContext> task_;
  std::unique_ptr<Pipeline> pipeline_;
  size_t batch_documents_ = kMaxPendingDocuments;
  PdfTextQueue::ExtractFunction pdf_text_;
};

int Lines(const std::vector<std::string>& lines, const std::string& part) {
  int n = 0;
  for (const std::string& l : lines) n += l.find(part) != std::string::npos;
  return n;
}
bool HasLine(const std::vector<std::string>& lines, const std::string& part) {
  return Lines(lines, part) > 0;
}

TEST_F(PipelineTest, FirstStartIndexesTheTreeAndWritesEveryList) {
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  EXPECT_EQ(d.files.size(), 4u);
  EXPECT_EQ(Search("harbour"), std::vector<std::string>{"01a.jpg"});
  EXPECT_EQ(Search("football"), std::vector<std::string>{"01Sport\\b.tif"});
  EXPECT_EQ(Search("poster"), std::vector<std::string>{"01x.eps"});
  EXPECT_EQ(Search("lighthouse"), std::vector<std::string>{"02r.jpg"});
  EXPECT_TRUE(Search("secretword").empty()) << "hidden files are never indexed";

  EXPECT_EQ(Count(&runtime().timelist), 4u);
  EXPECT_EQ(Count(&runtime().charlist), 4u);
  EXPECT_EQ(Count(&runtime().indexed), 4u);
  EXPECT_TRUE(InList(&runtime().dirlist, "01"));
  EXPECT_TRUE(InList(&runtime().dirlist, "01Sport"));
  EXPECT_EQ(def().document_count, 4u);
  EXPECT_TRUE(HasLine(d.log, "Reading File List: " + dir_.Path("index")));
  EXPECT_TRUE(HasLine(d.log, "Backing Up Index:  " + dir_.Path("index")));

  for (const char* name : {"TIMELIST", "CHARLIST", "DIRLIST", "VT_FULLLISTS/TIMELIST",
                           "VT_FULLLISTS/CHARLIST", "VT_FULLLISTS/DIRLIST"}) {
    EXPECT_TRUE(fs_->Exists(JoinNative(def().lists_folder, name))) << name;
  }
  BrowseList saved;
  ASSERT_TRUE(LoadListFile(fs_, JoinNative(def().lists_folder, "TIMELIST"), false, &saved).ok());
  EXPECT_EQ(saved.Count(), 4u);
  std::string info = fs_->ReadFile(dir_.Path("index/VT_CLIENT/INDEXINFO.INI")).value();
  EXPECT_NE(info.find("TOTALFILES=4"), std::string::npos) << info;
  // A new index makes its first backup into MASTER.
  EXPECT_TRUE(HoldsIndex(fs_, dir_.Path("index/VT_DATA/VT_BACKUP/MASTER")));
}

TEST_F(PipelineTest, RestartListsOnlyFoldersThatChanged) {
  ASSERT_TRUE(dir_.WriteFile("images/Sport/Cup/k.jpg", Captioned("trophy")));
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_TRUE(Drain().files.empty()) << "nothing changed, nothing is built";
  EXPECT_EQ(Count(&runtime().timelist), 5u);
  EXPECT_EQ(Count(&runtime().indexed), 5u);

  ASSERT_TRUE(dir_.WriteFile("images/Sport/c.jpg", Captioned("goalkeeper")));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/Sport"), 2000000000));
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  ASSERT_EQ(d.files.size(), 1u);
  EXPECT_EQ(d.files[0], dir_.Path("images/Sport/c.jpg"));
  EXPECT_EQ(Search("goalkeeper"), std::vector<std::string>{"01Sport\\c.jpg"});
  // The other file of the re-listed folder is still listed, and so are the
  // files of the folders that were not, its own sub-folder included.
  EXPECT_EQ(Count(&runtime().timelist), 6u);
  EXPECT_TRUE(InList(&runtime().timelist, "01Sport\\b.tif"));
  EXPECT_TRUE(InList(&runtime().timelist, "01Sport\\Cup\\k.jpg"));
  EXPECT_TRUE(InList(&runtime().charlist, "01Sport\\Cup\\k.jpg"));
  // The second start backed up into CURRENT.
  EXPECT_TRUE(HoldsIndex(fs_, dir_.Path("index/VT_DATA/VT_BACKUP/CURRENT")));
}

TEST_F(PipelineTest, ChangePassTurnsQueuedChangesIntoDocuments) {
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/a.jpg")).ok());
  ASSERT_TRUE(dir_.WriteFile("images/d.jpg", Captioned("windmill")));
  ASSERT_TRUE(dir_.WriteFile("images/Thumbs.TMP", Captioned("tempword")));
  Queue(1, "a.jpg");
  Queue(1, "d.jpg");
  Queue(1, "Thumbs.TMP");
  Queue(1, "Sport");
  pipeline_->RunUpdateJob(*task_);
  Drained d = Drain();

  EXPECT_EQ(Search("windmill"), std::vector<std::string>{"01d.jpg"});
  EXPECT_TRUE(Search("tempword").empty());
  EXPECT_FALSE(InList(&runtime().timelist, "01a.jpg"));
  EXPECT_FALSE(InList(&runtime().charlist, "01a.jpg"));
  EXPECT_TRUE(InList(&runtime().timelist, "01d.jpg"));
  // The deleted file's document stays until an optimization.
  EXPECT_TRUE(InList(&runtime().indexed, "01a.jpg"));
  EXPECT_EQ(Count(&runtime().indexed) - Count(&runtime().timelist), 1u);
  EXPECT_TRUE(HasLine(d.files, dir_.Path("images/a.jpg")));
  EXPECT_TRUE(HasLine(d.files, dir_.Path("images/d.jpg")));

  // The client lists were written after the folder.
  BrowseList saved;
  ASSERT_TRUE(LoadListFile(fs_, JoinNative(def().lists_folder, "CHARLIST"), false, &saved).ok());
  EXPECT_TRUE(saved.Lookup("01d.jpg", 0).has_value());
  EXPECT_FALSE(saved.Lookup("01a.jpg", 0).has_value());
}

TEST_F(PipelineTest, OptimizePurgesDocumentsOfDeletedFiles) {
  pipeline_->StartUpIndex(*task_, 0);
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/a.jpg")).ok());
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/Sport/b.tif")).ok());
  Queue(1, "a.jpg");
  Queue(1, "Sport/b.tif");
  pipeline_->RunUpdateJob(*task_);
  ASSERT_EQ(Count(&runtime().indexed) - Count(&runtime().timelist), 2u);
  Drain();

  pipeline_->Optimize(*task_, 0);
  Drained d = Drain();
  EXPECT_EQ(Count(&runtime().indexed), Count(&runtime().timelist));
  EXPECT_TRUE(Search("harbour").empty());
  EXPECT_TRUE(Search("football").empty());
  EXPECT_EQ(Search("poster").size(), 1u);
  EXPECT_EQ(def().document_count, 2u);
  EXPECT_FALSE(fs_->Exists(dir_.Path("index/VT_DATA/RemoveList.dat")));
  EXPECT_TRUE(HasLine(d.log, "Optimizing Index:  " + dir_.Path("index")));
  EXPECT_TRUE(HasLine(d.log, "Optimize Completed"));

  // A second optimization finds nothing to purge and keeps everything.
  pipeline_->Optimize(*task_, 0);
  EXPECT_EQ(Search("poster").size(), 1u);
  EXPECT_EQ(def().document_count, 2u);
}

TEST_F(PipelineTest, UnreachableFolderKeepsItsDocumentsUntilItReturns) {
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  // The share goes away: its files leave the browse lists.
  ASSERT_EQ(std::rename(dir_.Path("remote").c_str(), dir_.Path("remote.off").c_str()), 0);
  PollChangedFolders(2);
  pipeline_->RunUpdateJob(*task_);
  EXPECT_FALSE(InList(&runtime().timelist, "02r.jpg"));
  pipeline_->Optimize(*task_, 0);
  Drained gone = Drain();
  EXPECT_TRUE(HasLine(gone.log, "Image folder cannot be reached: " + dir_.Path("remote")));
  EXPECT_TRUE(InList(&runtime().indexed, "02r.jpg")) << "never purged while unreachable";
  EXPECT_EQ(Search("lighthouse").size(), 1u);

  // It returns: the files come back without being indexed again.
  ASSERT_EQ(std::rename(dir_.Path("remote.off").c_str(), dir_.Path("remote").c_str()), 0);
  PollChangedFolders(2);
  pipeline_->RunUpdateJob(*task_);
  Drained back = Drain();
  EXPECT_TRUE(InList(&runtime().timelist, "02r.jpg"));
  EXPECT_TRUE(back.files.empty()) << "no document was built again";
  EXPECT_TRUE(HasLine(back.log, "Image folder is reachable again: " + dir_.Path("remote")));
  EXPECT_EQ(Lines(gone.log, "cannot be reached"), 1) << "logged once";
}

TEST_F(PipelineTest, PollFolderQueuesNewChangedAndVanishedFiles) {
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  ASSERT_TRUE(dir_.WriteFile("images/Sport/e.jpg", Captioned("referee")));
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/Sport/b.tif")).ok());
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/Sport"), 2000000000));
  std::vector<std::string> changed = pipeline_->ListChangedFolders(*task_, 0, 1);
  ASSERT_EQ(changed, std::vector<std::string>{"01Sport"});
  {
    MutexLock lock(&task_->update_lock);
    pipeline_->PollFolder(*task_, 0, 1, changed[0]);
  }
  {
    MutexLock lock(&task_->change_queue_lock);
    ChangeQueue& queue = runtime().folders[1].change_queue;
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_NE(queue.Find("Sport\\e.jpg"), nullptr);
    EXPECT_NE(queue.Find("Sport\\b.tif"), nullptr);
  }
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Search("referee").size(), 1u);
  EXPECT_FALSE(InList(&runtime().timelist, "01Sport\\b.tif"));
}

// Sidecars have no list entries to compare with: a poll queues one when it
// is new, rewritten or removed, and not again while it stays as it is (its
// picture would be composed again at every poll of its folder).
TEST_F(PipelineTest, PollQueuesASidecarOnlyWhenItChanged) {
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  const std::string sidecar = dir_.Path("images/Sport/b.xmp");
  int64_t folder_time = 2000000000;
  // Moves the folder's time on (as any change in it does), polls it, and
  // tells whether the sidecar was queued; the change pass then runs.
  auto poll = [&] {
    EXPECT_TRUE(SetModifiedTime(dir_.Path("images/Sport"), folder_time += 10));
    PollChangedFolders(1);
    bool queued = false;
    {
      MutexLock lock(&task_->change_queue_lock);
      queued = runtime().folders[1].change_queue.Find("Sport\\b.xmp") != nullptr;
    }
    pipeline_->RunUpdateJob(*task_);
    return queued;
  };
  auto write_sidecar = [&](const std::string& title, int64_t time) {
    ASSERT_TRUE(dir_.WriteFile("images/Sport/b.xmp", XmpTitle(title)));
    ASSERT_TRUE(SetModifiedTime(sidecar, time));
  };
  write_sidecar("regatta", 1600000000);
  EXPECT_TRUE(poll()) << "new";
  EXPECT_EQ(Search("regatta").size(), 1u);
  EXPECT_FALSE(poll()) << "unchanged";
  EXPECT_FALSE(poll()) << "unchanged";
  write_sidecar("rowing", 1600000100);
  EXPECT_TRUE(poll()) << "rewritten";
  EXPECT_EQ(Search("rowing").size(), 1u);
  EXPECT_TRUE(Search("regatta").empty());
  ASSERT_TRUE(fs_->DeleteFile(sidecar).ok());
  EXPECT_TRUE(poll()) << "removed";
  EXPECT_TRUE(Search("rowing").empty());
  EXPECT_EQ(Search("football").size(), 1u);
  EXPECT_FALSE(poll()) << "still removed";
  EXPECT_FALSE(InList(&runtime().timelist, "01Sport\\b.xmp"));
}

// A folder that cannot be listed is logged and stays out of DIRLIST, so the
// next start (or poll) lists it once it can be listed.
TEST_F(PipelineTest, FolderThatCannotBeListedIsListedOnceItCan) {
  fault_.FailReadsMatching(dir_.Path("images/Sport"));
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  EXPECT_TRUE(HasLine(d.log, "Cannot list folder, its files are not indexed"));
  EXPECT_FALSE(InList(&runtime().dirlist, "01Sport"));
  EXPECT_FALSE(InList(&runtime().timelist, "01Sport\\b.tif"));
  // Polled while it still fails: nothing new, nothing logged again.
  EXPECT_TRUE(pipeline_->ListChangedFolders(*task_, 0, 1).empty());
  EXPECT_FALSE(HasLine(Drain().log, "Cannot list folder"));

  fault_.ClearFaults();
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_TRUE(InList(&runtime().dirlist, "01Sport"));
  EXPECT_TRUE(InList(&runtime().timelist, "01Sport\\b.tif"));
  EXPECT_EQ(Search("football"), std::vector<std::string>{"01Sport\\b.tif"});
}

// Change notifications take the keys a scan would: one file per key, no
// key longer than a list slot, no links; refused files are logged. A
// deleted file whose key another file holds leaves that file alone.
TEST_F(PipelineTest, ChangesFollowTheScanKeyRules) {
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  const std::string long_name = std::string(251, 'n') + ".jpg";  // key of 257 bytes
  ASSERT_TRUE(dir_.WriteFile("images/caf?.jpg", Captioned("bakery")));
  ASSERT_TRUE(dir_.WriteFile("images/caf\xE9.jpg", Captioned("patisserie")));
  ASSERT_TRUE(dir_.WriteFile("images/sub\\x.jpg", Captioned("slashword")));
  ASSERT_TRUE(dir_.WriteFile("images/" + long_name, Captioned("longword")));
  ASSERT_EQ(::symlink(dir_.Path("remote/r.jpg").c_str(), dir_.Path("images/alias.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(dir_.Path("remote").c_str(), dir_.Path("images/far").c_str()), 0);
  for (const std::string name : {"caf?.jpg", "caf\xE9.jpg", "sub\\x.jpg", "alias.jpg", "far",
                                 "far/r.jpg", long_name.c_str()}) {
    Queue(1, name);
  }
  pipeline_->RunUpdateJob(*task_);
  Drained d = Drain();
  EXPECT_EQ(d.files, std::vector<std::string>{dir_.Path("images/caf?.jpg")});
  EXPECT_EQ(Search("bakery"), std::vector<std::string>{"01caf?.jpg"});
  for (const char* word : {"patisserie", "slashword", "longword"}) {
    EXPECT_TRUE(Search(word).empty()) << word;
  }
  EXPECT_EQ(Search("lighthouse").size(), 1u) << "only through image folder 2";
  EXPECT_EQ(Count(&runtime().timelist), 5u);
  for (const std::string& refused :
       {std::string(RefusalText(KeyRefusal::kTaken)) + ": " + dir_.Path("images/caf\xE9.jpg"),
        std::string(RefusalText(KeyRefusal::kBackslash)) + ": " + dir_.Path("images/sub\\x.jpg"),
        std::string(RefusalText(KeyRefusal::kTooLong)) + ": " + dir_.Path("images/" + long_name),
        std::string(RefusalText(KeyRefusal::kLink)) + ": " + dir_.Path("images/alias.jpg"),
        std::string(RefusalText(KeyRefusal::kLink)) + ": " + dir_.Path("images/far")}) {
    EXPECT_TRUE(HasLine(d.log, refused)) << refused;
  }

  // The refused twin goes away: the file that holds the key stays listed.
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/caf\xE9.jpg")).ok());
  Queue(1, "caf\xE9.jpg");
  pipeline_->RunUpdateJob(*task_);
  EXPECT_TRUE(InList(&runtime().timelist, "01caf?.jpg"));
  EXPECT_TRUE(InList(&runtime().charlist, "01caf?.jpg"));

  // A start-up scan of the same tree finds the same files.
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images"), 2000000000));
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_EQ(Count(&runtime().timelist), 5u);
}

// The folder of the first database of the index (or backup) in `folder`:
// its first shard, or the folder itself for an index of one database.
std::string FirstShard(const std::string& folder) {
  const std::string shard = ShardFolder(folder, 0);
  return DefaultFileSystem()->IsFolder(shard) ? shard : folder;
}

// A run that ended before some jobs reached the engine (a rebuild cut
// short, a failed job waiting to be offered again) saved lists that name
// files the engine has no document of. The next start builds those files,
// and only those.
TEST_F(PipelineTest, ARestartBuildsListedFilesTheEngineHasNoDocumentOf) {
  ASSERT_TRUE(dir_.WriteFile("images/Sport/Cup/k.jpg", Captioned("trophy")));
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  RemoveDocuments({"01Sport\\Cup\\k.jpg", "01a.jpg"});
  ASSERT_TRUE(Search("trophy").empty());
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  std::sort(d.files.begin(), d.files.end());
  EXPECT_EQ(d.files, (std::vector<std::string>{dir_.Path("images/Sport/Cup/k.jpg"),
                                               dir_.Path("images/a.jpg")}));
  EXPECT_TRUE(HasLine(d.log, "2 listed files of " + dir_.Path("index")));
  EXPECT_EQ(Search("trophy"), std::vector<std::string>{"01Sport\\Cup\\k.jpg"});
  EXPECT_EQ(Search("harbour"), std::vector<std::string>{"01a.jpg"});
  EXPECT_EQ(Count(&runtime().indexed), 5u);
  EXPECT_EQ(Count(&runtime().timelist), 5u);
  EXPECT_EQ(Count(&runtime().charlist), 5u);
  EXPECT_TRUE(InList(&runtime().dirlist, "01Sport\\Cup"));

  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  d = Drain();
  EXPECT_TRUE(d.files.empty());
  EXPECT_FALSE(HasLine(d.log, "listed files of"));
}

TEST_F(PipelineTest, RestoresFromCurrentThenFromMaster) {
  pipeline_->StartUpIndex(*task_, 0);  // MASTER
  Restart();
  pipeline_->StartUpIndex(*task_, 0);  // CURRENT
  Drain();

  ASSERT_TRUE(fs_->EmptyFolder(def().engine_folder, true).ok());
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  EXPECT_TRUE(HasLine(d.log, "Restoring Index:  " + dir_.Path("index")));
  EXPECT_EQ(Count(&runtime().indexed), 4u);
  EXPECT_TRUE(d.files.empty()) << "restored documents are not built again";
  EXPECT_EQ(Search("harbour").size(), 1u);

  // A CURRENT backup that does not match its completion mark is not used.
  const std::string current = dir_.Path("index/VT_DATA/VT_BACKUP/CURRENT");
  ASSERT_TRUE(fs_->EmptyFolder(def().engine_folder, true).ok());
  ASSERT_TRUE(fs_->WriteFile(FirstShard(current) + "/postlist.glass", "torn").ok());
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  d = Drain();
  EXPECT_TRUE(HasLine(d.log, "Backup " + current + " not used"));
  EXPECT_TRUE(HasLine(d.log, "Restoring Index:  " + dir_.Path("index")));
  EXPECT_EQ(Search("harbour").size(), 1u);
  EXPECT_TRUE(d.files.empty()) << "restored from MASTER";
}

// Backups made before completion marks existed: used only when the engine
// finds every table whole.
TEST_F(PipelineTest, UnmarkedBackupIsRestoredOnlyWhenTheEngineFindsItWhole) {
  pipeline_->StartUpIndex(*task_, 0);  // MASTER
  Drain();
  const std::string master = dir_.Path("index/VT_DATA/VT_BACKUP/MASTER");
  ASSERT_TRUE(fs_->DeleteFile(master + "/VTCOMPLETE").ok());
  EXPECT_TRUE(pipeline_->Restore(*task_, 0, /*master=*/true));
  EXPECT_EQ(Search("harbour").size(), 1u);

  const std::string postlist = FirstShard(master) + "/postlist.glass";
  StatusOr<std::string> table = fs_->ReadFile(postlist);
  ASSERT_TRUE(table.ok());
  ASSERT_TRUE(fs_->WriteFile(postlist, table->substr(0, table->size() / 2)).ok());
  EXPECT_FALSE(pipeline_->Restore(*task_, 0, /*master=*/true));
  EXPECT_TRUE(HasLine(Drain().log, "Backup " + master + " not used"));
  EXPECT_EQ(Search("harbour").size(), 1u) << "the index stays as it was";
}

TEST_F(PipelineTest, FailedBatchIsNotCountedAsIndexedAndIsOfferedAgain) {
  engine_.Stop();
  pipeline_->StartUpIndex(*task_, 0);
  Drained d = Drain();
  EXPECT_EQ(Count(&runtime().indexed), 0u) << "nothing reached the engine";
  EXPECT_EQ(Count(&runtime().timelist), 4u);
  EXPECT_EQ(Lines(d.log, "Cannot index"), 1) << "logged once";

  ASSERT_TRUE(engine_.Start(dir_.Path("start")).ok());
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Count(&runtime().indexed), 4u);
  EXPECT_EQ(Search("harbour").size(), 1u);
  EXPECT_EQ(Search("lighthouse").size(), 1u);
}

TEST(PendingTableTest, ReportsFullAtTheDocumentAndByteLimits) {
  PendingTable table;
  table.Reset(true);
  for (size_t i = 1; i < kMaxPendingDocuments; ++i) {
    ASSERT_FALSE(table.Add("x", "01a.jpg", 1)) << i;
  }
  EXPECT_TRUE(table.Add("x", "01a.jpg", 1));
  table.Reset(false);
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.from_changes());
  std::string big(5'000'000, 'a');
  EXPECT_FALSE(table.Add(big, "01a.jpg", 1));
  EXPECT_FALSE(table.Add(big, "01b.jpg", 1)) << "exactly 10,000,000 bytes is not above";
  EXPECT_TRUE(table.Add("z", "01c.jpg", 1));
}

TEST(PendingTableTest, DataSourceHandsOverNamesTextsAndPercentages) {
  PendingTable table;
  table.Reset(true);
  table.Add("first text", "01a.jpg", 0x12345678);
  table.Add("second", "01Sport\\b.jpg", 1);
  table.Add("third", "01c.jpg", 2);
  std::vector<int> percents;
  EngineDataSource source = table.DataSource([&](int p) { percents.push_back(p); });
  ASSERT_TRUE(source.rewind());
  EngineDocument doc;
  ASSERT_EQ(source.next_document(&doc), 0);
  EXPECT_EQ(doc.name, "78563412 01a.jpg");
  EXPECT_EQ(doc.text_length, 10u);
  char buffer[4];
  doc.seek(6);
  EXPECT_EQ(doc.read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "text");
  EXPECT_EQ(doc.read(buffer, 4), 0u);
  ASSERT_EQ(source.next_document(&doc), 0);
  ASSERT_EQ(source.next_document(&doc), 0);
  EXPECT_EQ(source.next_document(&doc), -1);
  EXPECT_EQ(percents, (std::vector<int>{33, 66, 100}));
}

TEST_F(PipelineTest, RenamesAndDeletedSubFoldersLeaveTheListsThroughThePoll) {
  ASSERT_TRUE(dir_.WriteFile("images/Sport/Cup/k.jpg", Captioned("trophy")));
  pipeline_->StartUpIndex(*task_, 0);
  Drain();
  ASSERT_EQ(std::rename(dir_.Path("images/a.jpg").c_str(), dir_.Path("images/z.jpg").c_str()), 0);
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/Sport/Cup/k.jpg")).ok());
  ASSERT_TRUE(fs_->DeleteFolder(dir_.Path("images/Sport/Cup")).ok());
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images"), 2000000000));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/Sport"), 2000000000));
  PollChangedFolders(1);
  pipeline_->RunUpdateJob(*task_);
  EXPECT_FALSE(InList(&runtime().timelist, "01a.jpg"));
  EXPECT_TRUE(InList(&runtime().timelist, "01z.jpg"));
  EXPECT_FALSE(InList(&runtime().timelist, "01Sport\\Cup\\k.jpg"));
  EXPECT_FALSE(InList(&runtime().dirlist, "01Sport\\Cup"));
  // Equal scores: the order follows the shards' document ids.
  std::vector<std::string> both = Search("harbour");
  std::sort(both.begin(), both.end());
  EXPECT_EQ(both, (std::vector<std::string>{"01a.jpg", "01z.jpg"}))
      << "the old name's document stays until an optimization";
  pipeline_->Optimize(*task_, 0);
  EXPECT_EQ(Search("harbour"), std::vector<std::string>{"01z.jpg"});
  EXPECT_TRUE(Search("trophy").empty());
}

// Full tables are indexed while the next one fills; the end of the scan
// waits for them (and merges a new index's bulk build), so the backup and
// the lists see every document.
TEST_F(PipelineTest, FullTablesAreIndexedWhileTheNextOneFills) {
  WriteBulkPictures(23);
  batch_documents_ = 3;
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_EQ(Search("bulkword").size(), 23u);
  EXPECT_EQ(Count(&runtime().indexed), 27u);
  EXPECT_EQ(def().document_count, 27u);
  // The new index was built in bulk: its first job recorded a segment,
  // which the end of the catch-up merged.
  EXPECT_GE(SegmentRecordWrites(), 1);
  EXPECT_FALSE(fs_->Exists(def().engine_folder + "/vtsegs"));
  // The MASTER copy was made after the last job: restoring it gives all.
  ASSERT_TRUE(fs_->EmptyFolder(def().engine_folder, true).ok());
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_EQ(Search("bulkword").size(), 23u);
}

// A first start does not wait for a whole table of files before indexing
// begins: its first table takes a sixteenth of the documents, each next one
// twice the last. Each job that starts a group of segments records it once:
// the 26 documents of the first image folder in tables of 16 are jobs of 1,
// 2, 4, 8 and the 11 left, then the other folder's one document; not 16, 10
// and 1.
TEST_F(PipelineTest, AFirstStartBeginsWithSmallTables) {
  WriteBulkPictures(23);
  batch_documents_ = 16;
  Restart();
  // One database written by one thread, in segments of one document: every
  // job starts a group of its own.
  EngineOptions options = engine_.engine()->GetOptions();
  options.new_index_shards = 1;
  options.bulk_lanes = 1;
  options.segment_documents = 1;
  engine_.engine()->SetOptions(options);
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_EQ(Count(&runtime().indexed), 27u);
  EXPECT_EQ(SegmentRecordWrites(), 6);
  EXPECT_EQ(Search("bulkword").size(), 23u);
}

// A bulk job of a first start that fails at its commit point is offered
// again, and its files are indexed by the next update job.
TEST_F(PipelineTest, AFailedBulkJobOfAFirstStartIsOfferedAgain) {
  WriteBulkPictures(11);
  batch_documents_ = 4;
  Restart();
  fault_.FailWritesMatching("*/vtsegs");
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_TRUE(Search("bulkword").empty());
  EXPECT_EQ(Count(&runtime().indexed), 0u);
  EXPECT_EQ(Lines(Drain().log, "Cannot index"), 1);
  fault_.ClearFaults();
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Search("bulkword").size(), 11u);
  EXPECT_EQ(Count(&runtime().indexed), 15u);
}

TEST_F(PipelineTest, AFailedFullTableIsOfferedAgain) {
  batch_documents_ = 2;
  Restart();
  // The engine runs, but no database can be made where a file lies: every
  // job fails, the ones started for full tables included.
  ASSERT_TRUE(fs_->DeleteFolder(def().engine_folder).ok());
  ASSERT_TRUE(fs_->WriteFile(def().engine_folder, "in the way").ok());
  pipeline_->StartUpIndex(*task_, 0);
  EXPECT_EQ(Count(&runtime().indexed), 0u);
  EXPECT_EQ(Lines(Drain().log, "Cannot index"), 1) << "logged once";
  ASSERT_TRUE(fs_->DeleteFile(def().engine_folder).ok());
  ASSERT_TRUE(fs_->CreateFolders(def().engine_folder).ok());
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Count(&runtime().indexed), 4u);
  EXPECT_EQ(Search("lighthouse").size(), 1u);
}

// Kept search results follow the index: a small batch adds its matching
// documents to them, a batch of 9 or more drops them.
TEST_F(PipelineTest, SmallBatchesRefreshCachedResultsLargerOnesDropThem) {
  pipeline_->StartUpIndex(*task_, 0);
  auto kept = [&]() {
    std::vector<std::string> keys;
    const bool found = cache_.Lookup(def().engine_folder, "testkeyword", 0x10, 0,
                                     [&](std::string_view key, uint32_t) {
                                       keys.emplace_back(key);
                                     });
    return found ? keys : std::vector<std::string>{"(not cached)"};
  };
  // Switch the cache on and keep the result of a wide search.
  kept();
  CachedHits hits;
  for (const std::string& key : Search("testkeyword")) hits.Add(1, key, 0);
  cache_.Store(def().engine_folder, hits, "testkeyword", 0x10, 0, /*wide_result=*/true);
  ASSERT_EQ(kept().size(), 2u);  // a.jpg and r.jpg

  ASSERT_TRUE(dir_.WriteFile("images/new1.jpg", Captioned("fresh picture")));
  Queue(1, "new1.jpg");
  pipeline_->RunUpdateJob(*task_);
  std::vector<std::string> after = kept();
  EXPECT_EQ(after.size(), 3u);
  EXPECT_NE(std::find(after.begin(), after.end(), "01new1.jpg"), after.end());

  for (int i = 0; i < 9; ++i) {
    const std::string name = "bulk" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(dir_.WriteFile("images/" + name, Captioned("bulk picture")));
    Queue(1, name);
  }
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(kept(), std::vector<std::string>{"(not cached)"});
}

// A PDF text source that reads the words behind "%PDF-1.4 " in the file,
// then holds them until released (or cancelled).
class SlowPdfText {
 public:
  PdfTextQueue::ExtractFunction Function() {
    return [this](const std::string& path, const std::atomic<bool>* cancel) {
      ++reads_;
      StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(path);
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (!released_ && !cancel->load() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      return bytes.ok() ? bytes->substr(std::min<size_t>(9, bytes->size())) : std::string();
    };
  }
  void Release() { released_ = true; }
  int reads() const { return reads_; }
  // Waits (up to a minute) until `n` files have been started.
  bool WaitForReads(int n) const {
    for (int i = 0; i < 6000 && reads_ < n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return reads_ >= n;
  }

 private:
  std::atomic<bool> released_{false};
  std::atomic<int> reads_{0};
};

TEST_F(PipelineTest, PdfTextFollowsItsDocumentWithoutHoldingUpOtherFiles) {
  SlowPdfText slow;
  pdf_text_ = slow.Function();
  Restart();
  pipeline_->StartUpIndex(*task_, 0);
  const uint64_t before = def().document_count;

  ASSERT_TRUE(dir_.WriteFile("images/report.pdf", "%PDF-1.4 tonnage figures "));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/report.pdf"), 920376000));
  Queue(1, "report.pdf");
  pipeline_->RunUpdateJob(*task_);
  // The file saved after the PDF is indexed while its text is still being read.
  ASSERT_TRUE(dir_.WriteFile("images/later.jpg", Captioned("windmill")));
  Queue(1, "later.jpg");
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Search("windmill"), std::vector<std::string>{"01later.jpg"});
  EXPECT_EQ(Search("PDF"), std::vector<std::string>{"01report.pdf"});
  EXPECT_TRUE(Search("tonnage").empty());
  EXPECT_EQ(def().document_count, before + 2);
  ASSERT_TRUE(slow.WaitForReads(1));

  // Changed again while its first text is read: only the newest version's
  // text enters, and it replaces that version's document without text.
  ASSERT_TRUE(dir_.WriteFile("images/report.pdf", "%PDF-1.4 freight revised "));
  ASSERT_TRUE(SetModifiedTime(dir_.Path("images/report.pdf"), 920379600));
  Queue(1, "report.pdf");
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(def().document_count, before + 3);  // the older version's stays until optimized
  slow.Release();
  ASSERT_TRUE(pipeline_->WaitForPdfTexts(std::chrono::seconds(120)));
  pipeline_->RunUpdateJob(*task_);
  EXPECT_EQ(Search("freight"), std::vector<std::string>{"01report.pdf"});
  EXPECT_TRUE(Search("tonnage").empty());
  EXPECT_EQ(def().document_count, before + 3);
  EXPECT_EQ(slow.reads(), 2);
}

TEST_F(PipelineTest, StopCancelsAPdfTextBeingRead) {
  SlowPdfText slow;
  pdf_text_ = slow.Function();
  Restart();
  ASSERT_TRUE(dir_.WriteFile("images/stuck.pdf", "%PDF-1.4 never read "));
  pipeline_->StartUpIndex(*task_, 0);
  ASSERT_TRUE(slow.WaitForReads(1));
  const auto start = std::chrono::steady_clock::now();
  pipeline_.reset();
  // Far below the source's own two minutes, even on a loaded machine.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

std::string ParentOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string ReadOr(FileSystem* fs, const std::string& path) {
  StatusOr<std::string> s = fs->ReadFile(path);
  return s.ok() ? *s : "<" + s.status().ToString() + ">";
}

TEST_F(PipelineTest, BackupOnAFullDiskKeepsThePreviousOne) {
  pipeline_->StartUpIndex(*task_, 0);
  ASSERT_TRUE(pipeline_->BackUp(*task_, 0, /*master=*/false));
  const std::string current = dir_.Path("index/VT_DATA/VT_BACKUP/CURRENT");
  const std::string mark = ReadOr(fs_, current + "/VTCOMPLETE");
  ASSERT_TRUE(dir_.WriteFile("images/new1.jpg", Captioned("fresh picture")));
  Queue(1, "new1.jpg");
  pipeline_->RunUpdateJob(*task_);
  Drain();

  fault_.FillDiskAtNthWrite(4);
  EXPECT_FALSE(pipeline_->BackUp(*task_, 0, /*master=*/false));
  fault_.ClearFaults();
  EXPECT_TRUE(HasLine(Drain().log, "Cannot back up " + dir_.Path("index") + " into " + current));
  EXPECT_EQ(ReadOr(fs_, current + "/VTCOMPLETE"), mark);
  EXPECT_TRUE(CheckCopyComplete(fs_, current).ok());
  EXPECT_FALSE(fs_->Exists(StagedCopyFolder(current)));
}

// The disk fills up at each write of an optimization in turn, up to the
// swap into the engine's folder: the index, its indexed list and the CURRENT
// backup stay as they were, and the failure is logged.
TEST_F(PipelineTest, OptimizationOnAFullDiskInstallsNothing) {
  pipeline_->StartUpIndex(*task_, 0);
  Restart();
  pipeline_->StartUpIndex(*task_, 0);  // CURRENT
  const std::string current = dir_.Path("index/VT_DATA/VT_BACKUP/CURRENT");
  std::string mark = ReadOr(fs_, current + "/VTCOMPLETE");
  ASSERT_TRUE(fs_->DeleteFile(dir_.Path("images/a.jpg")).ok());
  Queue(1, "a.jpg");
  pipeline_->RunUpdateJob(*task_);
  Drain();
  const size_t indexed = Count(&runtime().indexed);

  int failed_optimizations = 0;
  for (int n = 1;; ++n) {
    const size_t before = fault_.written_paths().size();
    fault_.FillDiskAtNthWrite(n);
    pipeline_->Optimize(*task_, 0);
    fault_.ClearFaults();
    const std::vector<std::string> written = fault_.written_paths();
    ASSERT_LT(before + n - 1, written.size()) << "the optimization ended before its swap";
    const std::string& failed = written[before + n - 1];
    if (failed.rfind(def().engine_folder, 0) == 0) break;  // the swap itself
    ++failed_optimizations;
    Drained d = Drain();
    EXPECT_EQ(Search("harbour").size(), 1u) << failed;
    EXPECT_EQ(Count(&runtime().indexed), indexed) << failed;
    EXPECT_TRUE(CheckCopyComplete(fs_, current).ok()) << failed;
    EXPECT_FALSE(fs_->Exists(StagedCopyFolder(current))) << failed;
    if (failed == ParentOf(current) || failed.find("CURRENT.vtold") != std::string::npos) {
      // Only the clean-up after the new backup took its place failed.
      mark = ReadOr(fs_, current + "/VTCOMPLETE");
    }
    EXPECT_EQ(ReadOr(fs_, current + "/VTCOMPLETE"), mark) << failed;
    if (failed.find("VT_BACKUP") != std::string::npos) {
      EXPECT_TRUE(HasLine(d.log, "Cannot ")) << failed;
    }
  }
  EXPECT_GT(failed_optimizations, 10);

  pipeline_->Optimize(*task_, 0);
  EXPECT_TRUE(Search("harbour").empty());
  EXPECT_EQ(Count(&runtime().indexed), indexed - 1);
  EXPECT_TRUE(CheckCopyComplete(fs_, current).ok());
}

}  // namespace
}  // namespace vantrel
