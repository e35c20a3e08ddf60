#include "indexing/index_pipeline.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/file_names.h"
#include "core/index_info.h"
#include "core/index_statistics.h"
#include "core/list_file.h"
#include "core/text_table.h"
#include "engine/document_name.h"
#include "metadata/file_type.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "scan/folder_scanner.h"

namespace vantrel {
namespace {

// Changes of these names are dropped: files being written under a
// temporary name.
bool IsTemporaryName(std::string_view key) {
  if (key.size() < 4) return false;
  std::string_view ext = key.substr(key.size() - 4);
  return ext[0] == '.' && (ext[1] | 0x20) == 't' && (ext[2] | 0x20) == 'm' &&
         (ext[3] | 0x20) == 'p';
}

std::string TempIndexFolder(const IndexDefinition& def) {
  return JoinNative(def.engine_folder, "VT_TMP");
}

}  // namespace

Pipeline::~Pipeline() {
  if (background_) background_->thread.join();
}

Pipeline::Pipeline(PipelineOptions options)
    : options_(std::move(options)),
      fs_(options_.fs ? options_.fs : DefaultFileSystem()),
      cp_(options_.code_page ? options_.code_page : &CodePage::Default()),
      pending_(options_.batch_documents) {
  build_services_.add_document = [this](int index, std::string_view text,
                                        std::string_view file_key, uint32_t time) {
    if (pending_index_ != index && !pending_.empty()) Flush(*building_for_, pending_index_, true);
    pending_index_ = index;
    // A full table is flushed once the builder has finished this file (it
    // enters the indexed list after this call), so a failed batch can take
    // every one of its documents out of the indexed list again.
    if (pending_.Add(text, file_key, time)) flush_due_ = true;
  };
  build_services_.post_statistics = [this](int index) { PostStatistics(*building_for_, index); };
  build_services_.skip_log = &skips_;
  if (options_.queue_thumbnail) {
    build_services_.queue_thumbnail = [this](int index, const std::string& native_path,
                                             std::string_view file_key,
                                             const std::string& native_root, uint32_t time,
                                             uint32_t type_code) {
      options_.queue_thumbnail(*building_for_,
                               ThumbnailRequest{index, native_path, std::string(file_key),
                                                native_root, time, type_code});
    };
  }
  build_options_.fs = fs_;
  build_options_.streams = options_.streams;
  if (options_.pdf_text) {
    // Documents are built without PDF text; it follows from the worker.
    pdf_texts_ = std::make_unique<PdfTextQueue>(options_.pdf_text, options_.max_ready_pdf_texts);
    build_services_.queue_pdf_text = [this](int index, const std::string& native_path,
                                            std::string_view file_key, uint32_t time) {
      pdf_texts_->Queue(PdfTextRequest{index, native_path, std::string(file_key), time});
    };
  }
  for (auto& slots : root_state_) {
    for (std::atomic<int>& s : slots) s = -1;
  }
}

void Pipeline::Build(TaskContext& task, const BuildRequest& request) {
  // The services and options are made once; they reach the task of this
  // call through building_for_.
  building_for_ = &task;
  BuildImageDocument(task, build_services_, build_options_, request);
  building_for_ = nullptr;
  if (flush_due_) {
    flush_due_ = false;
    Flush(task, pending_index_, /*automatic=*/true);
  }
  if (request.index == pending_index_) AddPdfTexts(task, request.index);
}

void Pipeline::AddDocument(TaskContext& task, int index, std::string_view text,
                           std::string_view file_key, uint32_t time) {
  building_for_ = &task;
  build_services_.add_document(index, text, file_key, time);
  building_for_ = nullptr;
  if (flush_due_) {
    flush_due_ = false;
    Flush(task, pending_index_, /*automatic=*/true);
  }
}

bool Pipeline::PdfTextIsCurrent(TaskContext& task, const PdfTextRequest& request) {
  if (request.index < 0 || request.index >= IndexCount(task.config)) return false;
  if (!task.config.indexes[static_cast<size_t>(request.index)].active) return false;
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(request.index)];
  // The version the text was read for must be the one indexed, and still the
  // file's: a file changed meanwhile has its newest version's text queued.
  if (!task.Locked(request.index, &runtime.indexed).Lookup(request.file_key, request.time)) {
    return false;
  }
  StatusOr<FileInfo> info = fs_->Stat(request.native_path);
  return info.ok() && !info->is_folder &&
         FileTimeStampFromWinFileTime(info->modified) == request.time;
}

bool Pipeline::AddPdfTexts(TaskContext& task, int index) {
  if (!pdf_texts_) return false;
  bool added = false;
  for (const PdfTextResult& arrived : pdf_texts_->TakeReady(index)) {
    const PdfTextRequest& request = arrived.request;
    if (!PdfTextIsCurrent(task, request)) continue;
    DocumentOptions options = build_options_;
    options.pdf_text = [&arrived](const std::string&) { return arrived.text; };
    DocumentFile file{request.native_path, request.file_key, request.time};
    ComposedDocument doc = ComposeImageDocumentWithType(file, options, kTypePdf);
    if (!doc.opened || !doc.is_pdf) continue;
    if (pending_index_ != index && !pending_.empty()) Flush(task, pending_index_, true);
    AddDocument(task, index, doc.text, request.file_key, request.time);
    added = true;
  }
  return added;
}

bool Pipeline::WaitForPdfTexts(std::chrono::milliseconds timeout) {
  return pdf_texts_ != nullptr && pdf_texts_->WaitUntilIdle(timeout);
}

Status Pipeline::RunAddJob(TaskContext& task, Engine* engine, const std::string& folder,
                           PendingTable* table, bool bulk) {
  StatusOr<IndexInfo> info = engine->GetIndexInfo(folder);
  IndexJob job;
  job.index_folder = folder;
  job.from_changes = table->from_changes();
  job.create = !info.ok();
  job.add = true;
  job.bulk = bulk;
  const std::string adding = Text(TextId::IDS_ADDINGTEXT);
  EngineDataSource source = table->DataSource([&task, &adding](int percent) {
    char line[64];
    std::snprintf(line, sizeof line, " %i%c ", percent, '%');
    task.PostStatus(StatusMessage::Text(kStatusOperation, adding + line));
  });
  job.data_source = &source;
  return engine->RunIndexJob(job);
}

void Pipeline::NoteJobResult(TaskContext& task, int index, const Status& done,
                             const PendingTable& table) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  bool& logged = failure_logged_[static_cast<size_t>(index)];
  if (done.ok()) {
    if (logged) task.LogFromTask("Indexing into " + def.index_folder + " works again");
    logged = false;
    return;
  }
  if (!logged) {
    task.LogFromTask("Cannot index " + std::to_string(table.size()) + " documents into " +
                     def.index_folder + ": " + done.ToString());
    logged = true;
  }
  RequeueFailedBatch(task, index, table);
}

void Pipeline::FinishBackgroundJob(TaskContext& task) {
  if (!background_) return;
  background_->thread.join();
  const int index = background_->index;
  NoteJobResult(task, index, background_->result, background_->table);
  // A full table always drops the index's cached results.
  if (background_->result.ok()) UpdateCache(task, index, /*refresh=*/false);
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  if (engine != nullptr) {
    StatusOr<IndexInfo> after = engine->GetIndexInfo(background_->engine_folder);
    if (after.ok()) {
      task.config.indexes[static_cast<size_t>(index)].document_count =
          after.value().document_count;
    }
  }
  background_.reset();
}

void Pipeline::Flush(TaskContext& task, int index, bool automatic) {
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  // One job at a time: the one started for the last full table ends first.
  FinishBackgroundJob(task);
  const size_t batch = pending_.size();
  if (engine == nullptr) {
    if (batch != 0) {
      NoteJobResult(task, index, Status::Unavailable("the full-text engine is not running"),
                    pending_);
    }
    pending_.Clear();
    return;
  }
  if (automatic && batch != 0) {
    // A full table is indexed on a thread of its own while the next one is
    // built: reading files and indexing them use both cores. Every other
    // flush (the end of a scan or folder, before lists are written or the
    // index is backed up) waits for it first.
    background_ = std::make_unique<BackgroundJob>();
    BackgroundJob* job = background_.get();
    job->index = index;
    job->engine_folder = def.engine_folder;
    job->bulk = index == bulk_index_;
    job->table = std::move(pending_);
    pending_ = PendingTable(
        std::min(job->table.max_documents() * 2, options_.batch_documents),
        std::min(job->table.max_bytes() * 2, kMaxPendingBytes));
    pending_.Reset(job->table.from_changes());
    job->thread = std::thread([this, &task, engine, job] {
      job->result = RunAddJob(task, engine, job->engine_folder, &job->table, job->bulk);
    });
    return;
  }
  if (batch != 0) {
    Status done = RunAddJob(task, engine, def.engine_folder, &pending_, index == bulk_index_);
    NoteJobResult(task, index, done, pending_);
    if (done.ok()) UpdateCache(task, index, !automatic && batch < 9);
  }
  pending_.Clear();
  StatusOr<IndexInfo> after = engine->GetIndexInfo(def.engine_folder);
  if (after.ok()) def.document_count = after.value().document_count;
}

void Pipeline::StartBulkBuild(int index) {
  bulk_index_ = index;
  // The table is empty here: the last index's catch-up flushed it.
  constexpr size_t kFirstTableShare = 16;
  pending_.SetLimits(std::max<size_t>(options_.batch_documents / kFirstTableShare, 1),
                     kMaxPendingBytes / kFirstTableShare);
}

void Pipeline::FinishBulkBuild(TaskContext& task, int index) {
  if (index != bulk_index_) return;
  bulk_index_ = -1;
  pending_.SetLimits(options_.batch_documents, kMaxPendingBytes);
  Engine* engine = options_.engine ? options_.engine->engine() : nullptr;
  if (engine == nullptr) return;
  IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  const Status merged = engine->FinishBulkBuild(def.engine_folder);
  if (!merged.ok()) {
    task.LogFromTask("Cannot merge the new index " + def.engine_folder + " yet (" +
                     merged.ToString() + "); the next search or index job on it merges it");
  }
  // Nothing searched during the build saw its documents.
  UpdateCache(task, index, /*refresh=*/false);
  StatusOr<IndexInfo> after = engine->GetIndexInfo(def.engine_folder);
  if (after.ok()) def.document_count = after.value().document_count;
}

void Pipeline::UpdateCache(TaskContext& task, int index, bool refresh) {
  ResultCache* cache = options_.cache;
  Engine* engine = options_.engine->engine();
  if (cache == nullptr || !cache->enabled() || engine == nullptr) return;
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  MutexLock lock(&cache->engine_lock());
  if (!refresh) {
    cache->Drop(def.engine_folder);
    return;
  }
  // A throw-away index of just this batch, searched by every kept search.
  const std::string temp = TempIndexFolder(def);
  fs_->CreateFolders(temp).IgnoreError();
  fs_->EmptyFolder(temp, /*recursive=*/true).IgnoreError();
  IndexJob job;
  job.index_folder = temp;
  job.create = true;
  job.add = true;
  job.from_changes = pending_.from_changes();
  EngineDataSource source = pending_.DataSource(nullptr);
  job.data_source = &source;
  if (!engine->RunIndexJob(job).ok()) {
    cache->Drop(def.engine_folder);
    return;
  }
  cache->Refresh(def.engine_folder, ResultCache::BatchSearch(engine, temp));
}

void Pipeline::RequeueFailedBatch(TaskContext& task, int index, const PendingTable& table) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  for (const PendingDocument& doc : table.documents()) {
    task.Locked(index, &runtime.indexed).Remove(doc.file_key, doc.time);
    if (doc.file_key.size() < 2) continue;
    const int slot = (doc.file_key[0] - '0') * 10 + (doc.file_key[1] - '0');
    if (slot < 0 || slot >= kFolderSlots) continue;
    const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
    if (root.empty()) continue;
    std::string relative_key = doc.file_key.substr(2);
    StatusOr<std::string> native = FindKeyPath(fs_, *cp_, root, doc.file_key);
    if (!native.ok()) continue;  // gone meanwhile: nothing to index
    std::string native_relative = native.value().substr(std::min(native.value().size(),
                                                                 root.size() + 1));
    MutexLock lock(&task.change_queue_lock);
    runtime.folders[static_cast<size_t>(slot)].change_queue.Put(
        ChangeEntry{std::move(relative_key), std::move(native_relative), kActionListed});
  }
}

void Pipeline::RunUpdateJob(TaskContext& task) { ChangePass(task); }

void Pipeline::ChangePass(TaskContext& task) {
  const int count = IndexCount(task.config);
  for (int i = 0; i < count && !task.stop; ++i) {
    const IndexDefinition& def = task.config.indexes[static_cast<size_t>(i)];
    if (!def.active) continue;
    pending_.Reset(/*from_changes=*/true);
    pending_index_ = i;
    const bool pdf_texts_added = AddPdfTexts(task, i);
    bool processed = false;
    for (int slot = 0; slot < kFolderSlots && !task.stop; ++slot) {
      if (!def.image_folders[static_cast<size_t>(slot)].used()) continue;
      processed = DrainFolderChanges(task, i, slot) || processed;
      if (!processed) continue;
      IndexRuntime& runtime = task.indexes[static_cast<size_t>(i)];
      WriteIndexInfo(fs_, JoinNative(def.index_folder, names::kClientFolder),
                     static_cast<uint32_t>(task.Locked(i, &runtime.timelist).Count()))
          .IgnoreError();
      Flush(task, i, /*automatic=*/false);
      WriteLists(task, i, def.browse_limit_on ? def.browse_limit : 100000, /*full=*/false);
      PostStatistics(task, i);
      task.PostStatus(StatusMessage::Empty(kStatusStepDone));
    }
    // PDF texts that arrived while no folder had changes.
    if (pdf_texts_added && !processed && !task.stop) Flush(task, i, /*automatic=*/false);
  }
}

SkipReporter Pipeline::Skips(TaskContext& task) {
  return SkipReporter{&skips_, [&task](const std::string& line) { task.LogFromTask(line); }};
}

bool Pipeline::BuildChange(TaskContext& task, int index, int slot, const ChangeEntry& change,
                           ChangedPathKeys& keys, bool* new_folder, bool* later) {
  if (IsTemporaryName(change.key)) return false;
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  std::string relative = change.native_name;
  if (relative.empty()) {
    StatusOr<std::string> found =
        FindKeyPath(fs_, *cp_, root, FolderScanner::SlotDigits(slot) + change.key);
    relative = found.ok() ? found.value().substr(std::min(found.value().size(), root.size()))
                          : KeyToNative(cp_->ToUtf8(change.key));
  }
  ChangedPathKey decided = keys.Decide(relative);
  if (decided.later) {
    *later = true;
    return false;
  }
  if (decided.refusal != KeyRefusal::kNone) {
    // A vanished name whose key another file holds is not that file's change.
    if (decided.exists) Skips(task).Skipped(decided.native_path, RefusalText(decided.refusal));
    return false;
  }
  if (task.Locked(index, &runtime.dirlist).Lookup(decided.key, 0)) return false;  // a known folder
  if (decided.is_folder) {
    // A folder that arrived with its files: they are found by listing.
    *new_folder = true;
    return false;
  }
  BuildRequest request;
  request.index = index;
  request.native_path = std::move(decided.native_path);
  request.file_key = std::move(decided.key);
  request.native_root = root;
  request.time = 0;
  request.change = true;
  Build(task, request);
  return true;
}

bool Pipeline::DrainFolderChanges(TaskContext& task, int index, int slot) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  ImageFolderRuntime& folder = runtime.folders[static_cast<size_t>(slot)];
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  // Each folder on the way is listed once per pass, for the key rules.
  ChangedPathKeys keys(fs_, *cp_, root, FolderScanner::SlotDigits(slot));
  bool processed = false;
  bool new_folder_seen = false;
  std::vector<ChangeEntry> later;  // for the next pass
  for (int round = 0; round < 2 && !task.stop; ++round) {
    for (;;) {
      if (task.stop) break;
      std::optional<ChangeEntry> change;
      {
        MutexLock lock(&task.change_queue_lock);
        change = folder.change_queue.TakeLast();
      }
      if (!change) break;
      bool not_yet = false;
      processed = BuildChange(task, index, slot, *change, keys, &new_folder_seen, &not_yet) ||
                  processed;
      if (not_yet) later.push_back(std::move(*change));
    }
    if (!new_folder_seen || round == 1) break;
    // Files copied in with a new folder may have arrived before its watch:
    // list the folder tree's changes now and take what that queues.
    new_folder_seen = false;
    auto relist = [&] {
      for (const std::string& folder_key : ListChangedFolders(task, index, slot)) {
        PollFolder(task, index, slot, folder_key);
      }
    };
    if (holds_update_lock_) {
      relist();  // inside an optimization, which holds it already
    } else {
      MutexLock lock(&task.update_lock);
      relist();
    }
  }
  QueueForNextPass(task, folder, std::move(later));
  return processed;
}

void Pipeline::QueueForNextPass(TaskContext& task, ImageFolderRuntime& folder,
                                std::vector<ChangeEntry> changes) {
  if (changes.empty()) return;
  {
    MutexLock lock(&task.change_queue_lock);
    for (ChangeEntry& change : changes) folder.change_queue.Put(std::move(change));
  }
  task.change_arrivals.Note();
}

void Pipeline::WriteLists(TaskContext& task, int index, size_t cut, bool full) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  if (def.lists_folder.empty()) return;
  fs_->CreateFolders(def.lists_folder).IgnoreError();
  struct Named {
    BrowseList* list;
    const char* name;
    bool cut;
  };
  const Named lists[] = {{&runtime.timelist, names::kTimeList, true},
                         {&runtime.charlist, names::kCharList, true},
                         {&runtime.dirlist, names::kDirList, false}};
  for (const Named& n : lists) {
    ListFileWriteOptions write;
    write.max_entries = n.cut ? cut : 0;
    const std::string path = JoinNative(def.lists_folder, n.name);
    Status saved = task.Locked(index, n.list).SaveAtomic(fs_, path, write);
    if (!saved.ok()) task.LogFromTask("Cannot write " + path + ": " + saved.ToString());
  }
  WriteIndexInfo(fs_, JoinNative(def.index_folder, names::kClientFolder),
                 static_cast<uint32_t>(task.Locked(index, &runtime.timelist).Count()))
      .IgnoreError();
  if (!full) return;
  const std::string full_folder = JoinNative(def.lists_folder, names::kFullListsFolder);
  fs_->CreateFolders(full_folder).IgnoreError();
  for (const Named& n : lists) {
    const std::string path = JoinNative(full_folder, n.name);
    Status saved = task.Locked(index, n.list).SaveAtomic(fs_, path, ListFileWriteOptions{});
    if (!saved.ok()) task.LogFromTask("Cannot write " + path + ": " + saved.ToString());
  }
}

void Pipeline::PostStatistics(TaskContext& task, int index) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  IndexRuntime& runtime = task.indexes[static_cast<size_t>(index)];
  ImageFolderRoots roots;
  for (int slot = 0; slot < kFolderSlots; ++slot) {
    roots[static_cast<size_t>(slot)] = def.image_folders[static_cast<size_t>(slot)].path;
  }
  IndexStatistics stats = BuildIndexStatistics(
      task.Locked(index, &runtime.timelist), task.Locked(index, &runtime.indexed),
      task.Locked(index, &runtime.dirlist), def.document_count, roots, index);
  task.PostStatus(StatusMessage::Text(kStatusIndexStatistics, EncodeIndexStatistics(stats)));
}

bool Pipeline::CheckRoot(TaskContext& task, int index, int slot) {
  const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
  const std::string& root = def.image_folders[static_cast<size_t>(slot)].path;
  const bool reachable = fs_->IsValidFolder(root);
  const int now = reachable ? 1 : 0;
  const int before = root_state_[static_cast<size_t>(index)][static_cast<size_t>(slot)].exchange(now);
  if (before != now && (before != -1 || !reachable)) {
    task.LogFromTask(reachable ? "Image folder is reachable again: " + root
                               : "Image folder cannot be reached: " + root);
  }
  return reachable;
}

bool Pipeline::RootReachable(int index, int slot) const {
  return root_state_[static_cast<size_t>(index)][static_cast<size_t>(slot)].load() != 0;
}

}  // namespace vantrel
