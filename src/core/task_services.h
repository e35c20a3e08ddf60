// The subsystems that the database process task drives, as interfaces.
//
// The task's threads (src/server) call the indexing pipeline, the engine, the
// search service and the thumbnail maker only through these interfaces, so
// that each can be plugged in without changing the task. Every method has a
// default that does nothing, which is what a subsystem does until it exists.
//
// Thread safety: see each interface.
#pragma once

#include <string>
#include <vector>

#include "core/browse_list.h"
#include "core/task_context.h"
#include "platform/status.h"

namespace vantrel {

// The full-text engine's life cycle. Called by the task thread only.
class EngineService {
 public:
  virtual ~EngineService() = default;
  // Writes the field catalogue into the start directory (before Start).
  virtual Status WriteFieldCatalogue(const std::string& /*start_dir*/) { return Status::Ok(); }
  virtual Status Start(const std::string& /*home*/) { return Status::Ok(); }
  virtual void Stop() {}
};

// The index pipeline: start-up catch-up, update jobs, folder polling and
// maintenance. Called by the task thread, except ListChangedFolders and
// PollFolder, which the poll thread calls (PollFolder under the update lock).
class IndexPipeline {
 public:
  virtual ~IndexPipeline() = default;
  // Start-up catch-up of one active index during a preparation pass: lists,
  // restore, listing and comparing.
  virtual void StartUpIndex(TaskContext& /*task*/, int /*index*/) {}
  // One index update job: takes changes from the change queues, builds
  // documents, flushes batches.
  virtual void RunUpdateJob(TaskContext& /*task*/) {}
  // The folder keys of image folder `slot` that are new, changed or gone
  // since the last listing.
  virtual std::vector<std::string> ListChangedFolders(TaskContext& /*task*/, int /*index*/,
                                                      int /*slot*/) {
    return {};
  }
  // Re-lists one folder found by ListChangedFolders.
  virtual void PollFolder(TaskContext& /*task*/, int /*index*/, int /*slot*/,
                          const std::string& /*folder_key*/) {}
  // Optimizes one index now (removal of vanished documents, compaction).
  virtual void Optimize(TaskContext& /*task*/, int /*index*/) {}
};

// Serves one request file. Called on a search worker thread; several run at
// once, for the same or different indexes.
class SearchService {
 public:
  virtual ~SearchService() = default;
  virtual void ServeRequest(TaskContext& /*task*/, int /*index*/,
                            const std::string& /*request_name*/) {}
};

// Makes the thumbnails of queued PDF files. Called on the thumbnail thread.
class ThumbnailMaker {
 public:
  virtual ~ThumbnailMaker() = default;
  // Takes the last job of the task's thumbnail queue and hands it to the
  // renderer when the PDF setup is valid, else drops it. False when the
  // queue was empty.
  virtual bool MakeNext(TaskContext& /*task*/) { return false; }
};

// The set handed to a task. Null members are replaced by do-nothing ones.
struct TaskServices {
  EngineService* engine = nullptr;
  IndexPipeline* pipeline = nullptr;
  SearchService* search = nullptr;
  ThumbnailMaker* thumbnails = nullptr;
};

}  // namespace vantrel
