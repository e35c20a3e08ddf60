// The server's thumbnail maker: the thumbnail queue (document builder side)
// and the sending of its jobs to the renderer (thumbnail thread side).
//
// A job whose PDF setup is invalid when it comes up is dropped. A job the
// renderer does not acknowledge is dropped too (never retried: a later
// change of the PDF queues a new one) and logged in the event log, once per
// PDF path and process.
//
// Thread safety: Queue on the task thread, MakeNext on the thumbnail thread.
#pragma once

#include <deque>
#include <string>
#include <unordered_set>

#include "core/task_services.h"
#include "pdf/renderer_link.h"
#include "pdf/thumbnail_queue.h"

namespace vantrel {

class ThumbnailService final : public ThumbnailMaker {
 public:
  // `link` is not owned and outlives this object.
  explicit ThumbnailService(RendererLink* link, const CodePage* cp = nullptr);

  ThumbnailQueued Queue(TaskContext& task, const ThumbnailRequest& request) {
    return queue_.Queue(task, request);
  }
  bool MakeNext(TaskContext& task) override;

 private:
  void LogFailureOnce(TaskContext& task, const std::string& pdf_path, const Status& why);

  RendererLink* link_;
  const CodePage* cp_;
  ThumbnailQueue queue_;
  // PDF paths whose failure was logged (thumbnail thread only), bounded.
  std::unordered_set<std::string> logged_;
  std::deque<std::string> logged_order_;
};

}  // namespace vantrel
