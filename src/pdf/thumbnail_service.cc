#include "pdf/thumbnail_service.h"

#include "pdf/thumbnail_job.h"
#include "platform/served_folders.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

// How many failed PDF paths are remembered for logging once.
constexpr size_t kMaxLoggedFailures = 10000;

}  // namespace

ThumbnailService::ThumbnailService(RendererLink* link, const CodePage* cp)
    : link_(link), cp_(cp ? cp : &CodePage::Default()), queue_(cp_) {}

bool ThumbnailService::MakeNext(TaskContext& task) {
  std::optional<std::string> record = queue_.TakeLast(task);
  if (!record) return false;
  // The thread's look at the setup: the task thread owns the configuration,
  // whose PDF settings change only while the task is stopped.
  if (!PdfSetupValid(task.fs(), task.config.pdf)) return true;
  StatusOr<ThumbnailJob> job = DecodeThumbnailJob(*record);
  const std::string pdf_path = job.ok() ? cp_->ToUtf8(job->pdf_path) : std::string("?");
  // The renderer reads the file opened here. Below a folder that clients
  // write into, one that cannot be opened without following a link is not
  // rendered at all; elsewhere the renderer may still try the path.
  UniqueFd pdf_file;
  Status opened = job.ok() ? OpenServedFileForRead(pdf_path, &pdf_file) : job.status();
  if (!opened.ok() && !ServedFolderHolding(pdf_path).empty()) {
    LogFailureOnce(task, pdf_path, opened);
    return true;
  }
  Status sent = link_->SendJob(*record, pdf_file.get(), &task.stop);
  if (!sent.ok()) LogFailureOnce(task, pdf_path, sent);
  return true;
}

void ThumbnailService::LogFailureOnce(TaskContext& task, const std::string& pdf_path,
                                      const Status& why) {
  if (!logged_.insert(pdf_path).second) return;
  logged_order_.push_back(pdf_path);
  if (logged_order_.size() > kMaxLoggedFailures) {
    logged_.erase(logged_order_.front());
    logged_order_.pop_front();
  }
  task.LogFromTask("No thumbnail and previews for " + pdf_path + ": " + why.message());
}

}  // namespace vantrel
