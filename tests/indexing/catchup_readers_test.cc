// The start-up catch-up with document readers: files read and composed
// ahead on reader threads and built in the listing's order give the same
// lists, documents and log lines as one reader, with unreadable, vanishing
// and hostile files among them; a stop during the catch-up loses nothing.
#include <gtest/gtest.h>
#include <xapian.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/index_folders.h"
#include "engine/shard_layout.h"
#include "indexing/document_readers.h"
#include "indexing/index_pipeline.h"
#include "platform/paths.h"
#include "support/fault_file_system.h"
#include "support/file_times.h"
#include "support/image_builders.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

// Fault files beside the ordinary ones: one a vanishing file that is deleted
// as soon as its folder has been listed, and a hook called for every file
// whose head is read (the reading of a document begins with it).
class CatchUpFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  std::string vanishing;  // deleted right after its folder is listed
  std::function<void(const std::string& path)> on_read;

  StatusOr<std::vector<FolderEntry>> ListFolder(const std::string& path) override {
    StatusOr<std::vector<FolderEntry>> entries = FaultFileSystem::ListFolder(path);
    if (!vanishing.empty() && path == FolderPart(vanishing)) {
      FaultFileSystem::DeleteFile(vanishing).IgnoreError();
    }
    return entries;
  }
  StatusOr<std::string> ReadFileRange(const std::string& path, uint64_t offset,
                                      size_t length) override {
    if (offset == 0 && on_read) on_read(path);
    return FaultFileSystem::ReadFileRange(path, offset, length);
  }
};

std::string Words(int i) {
  static const char* kWords[] = {"harbour", "dusk",  "boats",  "football", "election",
                                 "river",   "storm", "museum", "village",  "beach"};
  std::string text = "picture " + std::to_string(i);
  for (int w = 0; w < 6; ++w) text += std::string(" ") + kWords[(i * 7 + w * 3) % 10];
  return text;
}

// What one first start left behind, with the run's own folders replaced by
// "<run>" so two runs compare.
struct Outcome {
  std::map<std::string, std::string> list_files;  // name -> bytes
  std::vector<std::string> documents;             // every shard's documents in id order
  std::vector<std::string> messages;              // files indexed and log lines, in order
  size_t indexed = 0;
};

class CatchUpReadersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Four folders of captioned files of every kind, and the faults.
    for (int i = 0; i < 48; ++i) {
      const std::string folder = "images/f" + std::to_string(i % 4) + "/";
      const std::string name = folder + "p" + std::to_string(i);
      const std::vector<IptcDataset> caption = {{2, 120, Words(i)}, {2, 25, "kw" + std::to_string(i)}};
      if (i % 12 == 5) {
        ASSERT_TRUE(dir_.WriteFile(name + ".tif", MakeTiffWithIptc(caption)));
      } else if (i % 12 == 7) {
        ASSERT_TRUE(dir_.WriteFile(name + ".eps", MakeEpsWithIptc(caption)));
      } else {
        ASSERT_TRUE(dir_.WriteFile(name + ".jpg", MakeJpegWithIptc(caption)));
      }
    }
    ASSERT_TRUE(dir_.WriteFile("images/f1/deep/d.jpg", MakeJpegWithIptc({{2, 120, "deep one"}})));
    ASSERT_TRUE(dir_.WriteFile("images/top.jpg", MakeJpegWithIptc({{2, 120, "top one"}})));
    // Hostile bytes: a JPEG cut inside its caption, a "JPEG" of noise.
    const std::string whole = MakeJpegWithIptc({{2, 120, std::string(300, 'x')}});
    ASSERT_TRUE(dir_.WriteFile("images/f2/cut.jpg", whole.substr(0, whole.size() / 2)));
    ASSERT_TRUE(dir_.WriteFile("images/f2/noise.jpg", std::string("\xFF\xD8\xFF\xED\xFF\xFF", 6) +
                                                          std::string(500, '\x1C')));
    ASSERT_TRUE(dir_.WriteFile("images/f3/unreadable.jpg", MakeJpegWithIptc({{2, 120, "never"}})));
    ASSERT_TRUE(dir_.WriteFile("images/f0/gone.jpg", MakeJpegWithIptc({{2, 120, "gone"}})));
  }

  // A first start of a new index over the images with `readers` readers,
  // in folder `run`; `before` runs just before it.
  Outcome FirstStart(const std::string& run, int readers,
                     const std::function<void(TaskContext&)>& before = {}) {
    fs_.vanishing = dir_.Path("images/f0/gone.jpg");
    if (!fs_.Exists(fs_.vanishing)) {
      EXPECT_TRUE(dir_.WriteFile("images/f0/gone.jpg", MakeJpegWithIptc({{2, 120, "gone"}})));
    }
    // Folder times as the runs before left them (the vanishing file bumps
    // its folder's).
    EXPECT_TRUE(SetModifiedTime(dir_.Path("images/f0"), kFolderTime));
    fs_.FailReadsMatching("*/unreadable.jpg");
    EXPECT_TRUE(fs_.CreateFolders(dir_.Path(run + "/start")).ok());
    EXPECT_TRUE(fs_.CreateFolders(dir_.Path(run + "/index")).ok());
    if (!engine_ || engine_run_ != run) {
      engine_ = std::make_unique<EngineHolder>(&fs_);
      engine_run_ = run;
      EXPECT_TRUE(engine_->Start(dir_.Path(run + "/start")).ok());
    }
    TaskEnvironment env;
    env.fs = &fs_;
    env.start_dir = dir_.Path(run + "/start");
    env.list_locks = &ListLocks();
    task_ = std::make_unique<TaskContext>(env);
    IndexDefinition def = NewIndexDefinition("Test", dir_.Path(run + "/index")).value();
    def.active = 1;
    def.image_folders[0].path = OfflineFolderOf(dir_.Path(run + "/index"));
    def.image_folders[1].path = dir_.Path("images");
    task_->config.indexes.push_back(def);
    PrepareIndexFolders(&task_->config, &fs_, nullptr);
    EXPECT_TRUE(SetModifiedTime(def.image_folders[0].path, kFolderTime));
    PipelineOptions options;
    options.engine = engine_.get();
    options.fs = &fs_;
    options.batch_documents = 7;  // several engine jobs, some while files are read
    options.document_readers = readers;
    // The vanishing file goes at its folder's first listing, which must be
    // the builder's.
    options.count_files_ahead = false;
    Pipeline pipeline(options);
    if (before) before(*task_);
    pipeline.StartUpIndex(*task_, 0);
    return Collect(run);
  }

  Outcome Collect(const std::string& run) {
    const IndexDefinition& def = task_->config.indexes[0];
    const std::string run_path = dir_.Path(run);
    auto neutral = [&](std::string text) {
      for (size_t at; (at = text.find(run_path)) != std::string::npos;) {
        text.replace(at, run_path.size(), "<run>");
      }
      return text;
    };
    Outcome out;
    // A catch-up cut short by a stop writes no lists.
    const bool cut = task_->indexes[0].lists_cut;
    auto read = [&](const std::string& path) {
      StatusOr<std::string> bytes = static_cast<FileSystem&>(fs_).ReadFile(path);
      EXPECT_EQ(bytes.ok(), !cut) << path;
      return bytes.ok() ? neutral(bytes.value()) : std::string("missing");
    };
    for (const char* name : {"TIMELIST", "CHARLIST", "DIRLIST", "VT_FULLLISTS/TIMELIST",
                             "VT_FULLLISTS/CHARLIST", "VT_FULLLISTS/DIRLIST"}) {
      out.list_files[name] = read(JoinNative(def.lists_folder, name));
    }
    out.list_files["INDEXINFO.INI"] = read(JoinNative(def.index_folder, "VT_CLIENT/INDEXINFO.INI"));
    StatusOr<ShardSettings> shards = ReadShardSettings(&fs_, def.engine_folder);
    const ShardSettings layout = shards.ok() ? shards.value() : ShardSettings{};
    for (const std::string& folder : LocalShardFolders(layout, def.engine_folder)) {
      if (!HoldsIndex(&fs_, folder)) continue;  // nothing indexed yet
      Xapian::Database db(folder);
      for (auto id = db.postlist_begin(""); id != db.postlist_end(""); ++id) {
        Xapian::Document doc = db.get_document(*id);
        std::string text = doc.get_data();
        for (auto t = doc.termlist_begin(); t != doc.termlist_end(); ++t) {
          text += " " + *t + "/" + std::to_string(t.get_wdf());
          for (auto p = t.positionlist_begin(); p != t.positionlist_end(); ++p) {
            text += "," + std::to_string(*p);
          }
        }
        for (auto v = doc.values_begin(); v != doc.values_end(); ++v) text += " v=" + *v;
        out.documents.push_back(std::to_string(*id) + ": " + text);
      }
    }
    while (std::optional<StatusMessage> m = task_->status_queue.Pop()) {
      if (m->code == kStatusFileIndexed || m->code == kStatusLogLine) {
        out.messages.push_back(std::to_string(m->code) + " " + neutral(m->data));
      }
    }
    out.indexed = task_->Locked(0, &task_->indexes[0].indexed).Count();
    return out;
  }

  static constexpr int64_t kFolderTime = 1700000000;
  TempDir dir_;
  CatchUpFileSystem fs_{DefaultFileSystem()};
  std::unique_ptr<EngineHolder> engine_;
  std::string engine_run_;
  std::unique_ptr<TaskContext> task_;
};

TEST_F(CatchUpReadersTest, EightReadersLeaveWhatOneReaderLeaves) {
  const Outcome one = FirstStart("one", 1);
  const Outcome eight = FirstStart("eight", 8);
  // 48 files, the deep and the top one, the two hostile ones; neither the
  // unreadable nor the vanished one.
  EXPECT_EQ(one.indexed, 52u);
  EXPECT_EQ(one.documents.size(), 52u);
  for (const auto& [name, bytes] : one.list_files) {
    EXPECT_TRUE(eight.list_files.at(name) == bytes) << name << " differs";
  }
  EXPECT_EQ(eight.documents, one.documents);
  EXPECT_EQ(eight.messages, one.messages);
  int unreadable_lines = 0;
  for (const std::string& m : one.messages) {
    unreadable_lines += m.find("unreadable.jpg") != std::string::npos;
    EXPECT_EQ(m.find("gone.jpg"), std::string::npos) << m;
  }
  EXPECT_EQ(unreadable_lines, 1) << "the unreadable file is logged once";
}

TEST_F(CatchUpReadersTest, StopDuringTheCatchUpEndsSoonAndLosesNothing) {
  // The stop arrives as a reader begins the first file of folder f1: f0 is
  // listed to its end, its files still in the readers' window. They are
  // built and committed before the catch-up ends; its incomplete lists are
  // not written, and the next start indexes the rest without building a
  // committed file again.
  TaskContext* task = nullptr;
  fs_.on_read = [&](const std::string& path) {
    if (path.find("/images/f1/") != std::string::npos && task != nullptr) task->stop_asked = true;
  };
  // Two readers: a window of 4, so f0's first files are built before the
  // stop and the index is not new at the next start.
  const Outcome stopped = FirstStart("run", 2, [&](TaskContext& t) { task = &t; });
  fs_.on_read = nullptr;
  EXPECT_GT(stopped.indexed, 0u);
  EXPECT_LT(stopped.indexed, 30u) << "the catch-up ended within the readers' window";
  EXPECT_EQ(stopped.documents.size(), stopped.indexed)
      << "every file in the indexed list reached the engine";
  EXPECT_TRUE(task->indexes[0].lists_cut);
  EXPECT_EQ(stopped.list_files.at("VT_FULLLISTS/DIRLIST"), "missing");

  const Outcome rest = FirstStart("run", 2);  // the same index, started again
  EXPECT_EQ(rest.indexed, 52u);
  EXPECT_EQ(rest.documents.size(), 52u) << "no document lost, none indexed twice";
}

TEST(DocumentReadersTest, HandsFilesBackInQueuedOrder) {
  // Readings end out of order (later files are quicker); one throws; one is
  // passed through unread; the window bounds the files in flight.
  std::atomic<int> composed{0};
  DocumentReaders readers(4, [&](const DocumentFile& file) -> std::optional<ComposedAhead> {
    const int n = std::stoi(file.file_key);
    std::this_thread::sleep_for(std::chrono::milliseconds(20 - n % 20));
    ++composed;
    if (n == 13) throw std::runtime_error("hostile");
    ComposedAhead ahead;
    ahead.file = file;
    ahead.doc.text = "doc " + file.file_key;
    return ahead;
  });
  EXPECT_EQ(readers.window(), 8u);
  std::vector<std::string> order;
  auto take = [&] {
    DocumentReaders::Taken taken = readers.TakeOldest();
    order.push_back(taken.file.file_key + "=" + (taken.ahead ? taken.ahead->doc.text : "none"));
  };
  for (int i = 0; i < 40; ++i) {
    if (readers.full()) take();
    readers.Queue(DocumentFile{"/p" + std::to_string(i), std::to_string(i), 1}, i != 21);
  }
  while (!readers.empty()) take();
  ASSERT_EQ(order.size(), 40u);
  for (int i = 0; i < 40; ++i) {
    const std::string key = std::to_string(i);
    EXPECT_EQ(order[static_cast<size_t>(i)],
              key + "=" + (i == 13 || i == 21 ? std::string("none") : "doc " + key));
  }
  EXPECT_EQ(composed.load(), 39) << "the unread file is not composed";
}

}  // namespace
}  // namespace vantrel
