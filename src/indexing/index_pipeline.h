// IndexPipeline: keeps every index current.
//
//   StartUpIndex       the start-up catch-up of one index: saved lists read
//                      back, the indexed list rebuilt from the engine
//                      ("xlastword"), a restore from the backups when the
//                      engine index is empty, changed folders (or every
//                      folder) listed, a backup, the lists written
//   RunUpdateJob       the change pass: every queued change of every image
//                      folder becomes a document update, flushed per folder
//   ListChangedFolders / PollFolder
//                      the poll thread's re-listing, which turns new, changed
//                      and vanished files into queued changes
//   Optimize           vanished files' documents purged, the index compacted
//                      and swapped in, backed up
//
// Documents go through one pending-document table and reach the engine in
// batches (one index job per batch). A batch whose job fails is not counted
// as indexed: its documents leave the indexed list, their files are queued
// again, and the failure is logged once until a job succeeds again.
//
// A PDF's document goes to the engine without its text at once; the text is
// read on a worker of its own and follows as a second document of the same
// name (see indexing/pdf_text_queue.h), taken at each change pass and while
// further files of the same index are built.
// Which files get keys is decided by scan/entry_keys.h for scans, the
// start-up catch-up and changes alike; every file or folder left out (and
// every folder or file that cannot be listed or read) is logged once.
//
// Image folders whose root cannot be reached (an unmounted share) lose their
// files from the browse lists, but optimization never purges their
// documents, so they need no re-indexing when the share returns. The
// pipeline logs once when a root becomes unreachable and once when it
// returns.
//
// Thread safety: the task thread calls StartUpIndex, RunUpdateJob and
// Optimize; the poll thread calls ListChangedFolders and PollFolder (the
// latter under the task's update lock). The pending table belongs to the
// task thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "core/task_context.h"
#include "core/task_services.h"
#include "indexing/document_builder.h"
#include "indexing/document_readers.h"
#include "indexing/engine_holder.h"
#include "indexing/pdf_text_queue.h"
#include "indexing/pending_table.h"
#include "indexing/result_cache.h"
#include "pdf/thumbnail_queue.h"
#include "platform/code_page.h"
#include "scan/entry_keys.h"
#include "scan/folder_scanner.h"
#include "scan/skip_log.h"

namespace vantrel {

class FileStreams;

struct PipelineOptions {
  EngineHolder* engine = nullptr;  // required; not owned
  ResultCache* cache = nullptr;    // may be null (no cache)
  FileSystem* fs = nullptr;        // DefaultFileSystem() when null
  FileStreams* streams = nullptr;  // DefaultFileStreams() when null
  const CodePage* code_page = nullptr;  // CodePage::Default() when null
  // Text of a PDF file, read on the PDF text worker (stops early once the
  // flag is true); empty: PDFs are indexed without their text.
  PdfTextQueue::ExtractFunction pdf_text;
  // Finished PDF texts the worker may hold until the pipeline takes them.
  size_t max_ready_pdf_texts = 32;
  // Queues the thumbnail job of a PDF file the builder indexed (on the task
  // thread, see pdf/thumbnail_queue.h). May be empty: no thumbnails.
  std::function<void(TaskContext& task, const ThumbnailRequest& request)> queue_thumbnail;
  // Writes the volume lists of an index into its lists folder (start-up
  // catch-up, first step). May be empty.
  std::function<void(const IndexDefinition& index)> write_volume_lists;
  // Optimization: how long to wait for running searches before the swap (in
  // steps), and the pause after it while new searches are held back.
  std::chrono::milliseconds search_wait_step{100};
  int search_wait_steps = 600;
  std::chrono::milliseconds after_swap_pause{4000};
  // Documents per batch (tests use small batches).
  size_t batch_documents = kMaxPendingDocuments;
  // Reader threads that read and compose the files of the start-up catch-up
  // ahead of their builds, which stay in the listing's order (see
  // indexing/document_readers.h). 1: each file is read when it is built.
  int document_readers = kDefaultDocumentReaders;
  // Whether a full listing counts its files on a thread of its own, ahead
  // of the builder, so that progress shows a total. Off, the total stays
  // unknown and every folder is listed once.
  bool count_files_ahead = true;
};

class Pipeline final : public IndexPipeline {
 public:
  explicit Pipeline(PipelineOptions options);
  ~Pipeline() override;

  void StartUpIndex(TaskContext& task, int index) override;
  void RunUpdateJob(TaskContext& task) override;
  std::vector<std::string> ListChangedFolders(TaskContext& task, int index, int slot) override;
  void PollFolder(TaskContext& task, int index, int slot, const std::string& folder_key) override;
  void Optimize(TaskContext& task, int index) override;

  // Copies the engine index files of `index` into its CURRENT (or MASTER)
  // backup folder. The previous backup stays until the new one is complete;
  // a failed backup is logged and leaves it as it was. False on failure.
  bool BackUp(TaskContext& task, int index, bool master);
  // Replaces the engine index of `index` by its CURRENT (or MASTER) backup.
  // False when that backup holds no index or is not known to be complete.
  bool Restore(TaskContext& task, int index, bool master);
  // Waits until the PDF text worker has read every queued file; false when
  // `timeout` passed first (or there is no worker).
  bool WaitForPdfTexts(std::chrono::milliseconds timeout);

 private:
  // The change pass over every active index.
  void ChangePass(TaskContext& task);
  // Takes the queued changes of one image folder; true when any was taken.
  bool DrainFolderChanges(TaskContext& task, int index, int slot);
  // Builds the file one queued change names, when the key rules give it a
  // key (refused ones are logged). Sets *new_folder when it names a folder
  // not yet in DIRLIST, *later when it must wait for the next pass. True
  // when a file was built.
  bool BuildChange(TaskContext& task, int index, int slot, const ChangeEntry& change,
                   ChangedPathKeys& keys, bool* new_folder, bool* later);
  // Puts changes back into the folder's queue for the next change pass.
  void QueueForNextPass(TaskContext& task, ImageFolderRuntime& folder,
                        std::vector<ChangeEntry> changes);
  // The files of the folder with key `folder_key` as the poll sees them:
  // none when no folder holds the key any more (gone, or replaced by a
  // link), so every recorded file is gone; nothing at all when it cannot be
  // listed: its files are left as they are, and out of DIRLIST it is found
  // new and listed again at the next comparison.
  std::optional<std::vector<ScannedEntry>> PolledFiles(TaskContext& task, int index, int slot,
                                                       const std::string& folder_key);
  // Where refused entries and failed listings and reads are logged: the
  // event log of `task`, each path once (skips_).
  SkipReporter Skips(TaskContext& task);
  // Builds one file's document (BuildImageDocument with this pipeline's
  // services), then adds the PDF texts of that index that have arrived.
  void Build(TaskContext& task, const BuildRequest& request);
  // Hands one document to the pending table (flushing a full one).
  void AddDocument(TaskContext& task, int index, std::string_view text,
                   std::string_view file_key, uint32_t time);
  // The arrived PDF texts of `index` whose file is still the version they
  // were read for: each document composed again with its text and added.
  // True when any was added.
  bool AddPdfTexts(TaskContext& task, int index);
  bool PdfTextIsCurrent(TaskContext& task, const PdfTextRequest& request);
  // Hands the pending table to the engine as one index job into `index`.
  // `automatic`: the table ran full inside a scan or pass.
  void Flush(TaskContext& task, int index, bool automatic);
  // The cached results of `index` after a batch: refreshed for a small one,
  // dropped otherwise.
  void UpdateCache(TaskContext& task, int index, bool refresh);
  // The documents of a failed batch: out of the indexed list, queued again.
  void RequeueFailedBatch(TaskContext& task, int index, const PendingTable& table);
  // One add job of `table` into engine folder `folder`; `bulk`: a job of
  // the index's bulk build.
  Status RunAddJob(TaskContext& task, Engine* engine, const std::string& folder,
                   PendingTable* table, bool bulk);
  // Starts the bulk build of `index`: its first tables are small, each next
  // one twice the last up to the full size, so that indexing starts while
  // the first files are read instead of after a full table of them.
  void StartBulkBuild(int index);
  // Ends the bulk build of `index`, if it has one: its documents become
  // searchable. A failure is logged; the engine merges at the next search
  // or job on the index.
  void FinishBulkBuild(TaskContext& task, int index);
  // Logs a failure once (and a recovery), and queues a failed batch again.
  void NoteJobResult(TaskContext& task, int index, const Status& done, const PendingTable& table);
  // Waits for the job of the last full table and takes note of its result.
  void FinishBackgroundJob(TaskContext& task);
  // Optimization steps: the documents of vanished files leave the working
  // copy `copy` (the entries that stay are returned; nothing on failure),
  // and the finished copy replaces the engine's index.
  std::optional<std::vector<BrowseEntry>> PurgeVanishedDocuments(TaskContext& task, int index,
                                                                  const std::string& copy);
  bool InstallOptimizedCopy(TaskContext& task, int index, const std::string& copy);
  // Rebuilds the indexed list from the engine; returns its size.
  size_t RebuildIndexedList(TaskContext& task, int index);
  // Builds a file a scan found (change flag clear), with its document when
  // a reader composed it ahead.
  void BuildScanned(TaskContext& task, int index, const std::string& root,
                    const ScannedEntry& file, const ComposedAhead* ahead = nullptr);
  // The start-up catch-up's file step: with document readers, the file is
  // queued to be read ahead and the oldest read file built once the readers'
  // window is full; without them, it is built now.
  void TakeScanned(TaskContext& task, int index, const std::string& root,
                   const ScannedEntry& file);
  // Start-up catch-up steps: the lists saved when the task last stopped read
  // back; the indexed list rebuilt from the engine, else from a backup (true:
  // neither holds documents, the index is new); the image folders listed
  // (the changed folders when DIRLIST holds any, else every folder) and
  // their files built.
  void LoadSavedLists(TaskContext& task, int index);
  bool RecoverIndexedList(TaskContext& task, int index);
  // The folders of the files that the saved TIMELIST holds and the engine
  // has no document of (same name and time stamp) are marked changed in
  // DIRLIST, so that the catch-up lists them again and builds those files:
  // a build or a job cut short by the end of the process left them out of
  // the engine while the lists of an earlier run still name them.
  void RelistFoldersOfUnindexedFiles(TaskContext& task, int index);
  void CatchUpImageFolders(TaskContext& task, int index);
  // Ends the catch-up of `index` that a stop cut short, its indexed
  // documents committed: its lists are marked not to be saved.
  void LeaveCutShort(TaskContext& task, int index);
  void CatchUpChangedFolders(TaskContext& task, int index, int slot, FolderScanner& scanner);
  void CatchUpWholeFolder(TaskContext& task, int index, int slot, FolderScanner& scanner);
  // Starts the document readers of the catch-up of `index` (none with one
  // reader).
  void StartDocumentReaders(TaskContext& task, int index);
  // Builds the oldest file queued to the readers.
  void BuildOldestRead(TaskContext& task, int index, const std::string& root);
  // Builds every file still queued to the readers, in order.
  void BuildAllRead(TaskContext& task, int index, const std::string& root);
  // Lists one folder without recursion into the index (start-up catch-up).
  // A folder that cannot be listed leaves DIRLIST, to be listed again.
  void ListFolderIntoIndex(TaskContext& task, int index, int slot, const ChangedFolder& folder);
  // Writes the client lists (TIMELIST and CHARLIST cut to `cut`, 0 whole),
  // the whole DIRLIST and INDEXINFO.INI; with `full` also the full copies.
  void WriteLists(TaskContext& task, int index, size_t cut, bool full);
  void PostStatistics(TaskContext& task, int index);
  // Checks whether the root of image folder `slot` can be reached and logs
  // when that changed. Returns whether it can.
  bool CheckRoot(TaskContext& task, int index, int slot);
  bool RootReachable(int index, int slot) const;

  PipelineOptions options_;
  FileSystem* fs_;
  const CodePage* cp_;
  PendingTable pending_;
  int pending_index_ = -1;  // the index the pending documents belong to
  // The index whose first start builds it from nothing: its jobs are bulk
  // jobs (Engine::FinishBulkBuild), merged when its catch-up ends.
  int bulk_index_ = -1;
  bool flush_due_ = false;  // the table ran full while a file was built
  // What Build hands the document builder, made once.
  DocumentServices build_services_;
  DocumentOptions build_options_;
  TaskContext* building_for_ = nullptr;  // the task of the running Build
  bool holds_update_lock_ = false;  // an optimization runs (task thread)
  // The index job of a full table, running while the next table fills.
  struct BackgroundJob {
    std::thread thread;
    int index = 0;
    std::string engine_folder;
    PendingTable table;
    bool bulk = false;
    Status result;
  };
  std::unique_ptr<BackgroundJob> background_;
  // The start-up catch-up's document readers; null outside it, or with one
  // reader.
  std::unique_ptr<DocumentReaders> readers_;
  std::array<bool, kMaxIndexes> failure_logged_{};
  // Paths logged as left out (task and poll threads).
  SkipLog skips_;
  // 1 reachable, 0 unreachable, -1 not yet checked; per index and slot.
  std::array<std::array<std::atomic<int>, kFolderSlots>, kMaxIndexes> root_state_;
  // The PDF text worker; null without options_.pdf_text. Destroyed first, so
  // its running extraction is cancelled before anything it uses goes.
  std::unique_ptr<PdfTextQueue> pdf_texts_;
};

}  // namespace vantrel
