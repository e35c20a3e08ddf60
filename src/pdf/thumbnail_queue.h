// The server-wide thumbnail queue: PDF files waiting for their thumbnail and
// previews (see pdf/thumbnail_job.h for the job record).
//
// The queue is the task's browse list `thumbnail_queue`, guarded by slot 0
// of the list lock table (index -1) and kept in name order; each entry is
// keyed by the PDF's file key and carries the job number (in its time
// field), the value 1 and the PDF's type code (in its extra field). The job
// records themselves wait here, under their numbers, until the thumbnail
// thread takes them. The thread takes the entry with the highest key first.
//
// The PDF setup is valid when the PDF folder is set and names an existing
// folder; while it is not, jobs carry the default sizes (300, 800, 3) and
// the thumbnail thread drops them.
//
// Thread safety: Queue runs on the task thread (the document builder), Take
// on the thumbnail thread; both may run at once.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/browse_list.h"
#include "core/task_context.h"
#include "pdf/thumbnail_job.h"
#include "platform/code_page.h"
#include "platform/mutex.h"

namespace vantrel {

// The PDF folder is set and names an existing folder.
bool PdfSetupValid(FileSystem* fs, const PdfSettings& pdf);

// `pdf` itself when the setup is valid, else with the sizes and the page
// count back at 300, 800 and 3.
PdfSettings EffectivePdfSettings(FileSystem* fs, const PdfSettings& pdf);

// The thumbnail path of a job as a native (UTF-8) path, for the up-to-date
// test and the renderer.
std::string NativePicturePath(const CodePage& cp, std::string_view job_path);

// The job of the PDF `native_pdf` in image folder `native_root`, whose path
// below that folder is `relative` (code-page text, native separators): the
// picture paths below the PDF folder and the sizes of `pdf` (the defaults
// when the setup is invalid). kInvalidArgument when a path cannot be
// written in the code page or does not fit its field.
StatusOr<ThumbnailJob> MakeThumbnailJob(FileSystem* fs, const CodePage& cp, const PdfSettings& pdf,
                                        uint32_t mac_text, const std::string& native_pdf,
                                        const std::string& native_root, std::string_view relative);

enum class ThumbnailQueued {
  kQueued,   // a job waits in the queue
  kCurrent,  // the thumbnail exists with the PDF's time: no job
  kRefused,  // a path does not fit its field (logged)
};

// One PDF as the document builder hands it over.
struct ThumbnailRequest {
  int index = 0;
  std::string native_path;  // the PDF
  std::string file_key;     // "03Sport\2024\report.pdf"
  std::string native_root;  // its image folder
  uint32_t time = 0;        // the PDF's file time stamp
  uint32_t type_code = 0;
};

class ThumbnailQueue {
 public:
  explicit ThumbnailQueue(const CodePage* cp = nullptr);

  // The job of one PDF: none when its thumbnail is current; refused, with
  // one line in the task's event log, when a path is longer than its field
  // or cannot be written in the code page; otherwise queued.
  ThumbnailQueued Queue(TaskContext& task, const ThumbnailRequest& request);

  // Takes the last entry of the task's queue and its record; nothing when
  // the queue is empty.
  std::optional<std::string> TakeLast(TaskContext& task);

  // The number of jobs waiting (all tasks).
  size_t Waiting();

 private:
  // The record of `request`, or nothing (logged) when it cannot be made.
  std::optional<std::string> MakeRecord(TaskContext& task, const ThumbnailRequest& request,
                                        std::string* native_thumbnail);

  const CodePage* cp_;
  Mutex mu_;
  uint32_t next_number_ GUARDED_BY(mu_) = 1;
  std::map<uint32_t, std::string> records_ GUARDED_BY(mu_);
};

}  // namespace vantrel
