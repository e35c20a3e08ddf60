#include "pdf/thumbnail_queue.h"

#include <utility>

#include "platform/file_time.h"

namespace vantrel {
namespace {

// The value every queue entry carries.
constexpr uint32_t kQueueValue = 1;

// The PDF's path below its image folder, from its file key (the key without
// its two-digit image folder number), with native separators.
std::string RelativeFromKey(std::string_view file_key) {
  std::string_view rest = file_key.size() > 2 ? file_key.substr(2) : std::string_view();
  while (!rest.empty() && rest.front() == '\\') rest.remove_prefix(1);
  std::string out(rest);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace

bool PdfSetupValid(FileSystem* fs, const PdfSettings& pdf) {
  return !pdf.folder.empty() && fs->IsValidFolder(pdf.folder);
}

PdfSettings EffectivePdfSettings(FileSystem* fs, const PdfSettings& pdf) {
  if (PdfSetupValid(fs, pdf)) return pdf;
  PdfSettings reset = pdf;
  reset.thumbnail_size = 300;
  reset.preview_size = 800;
  reset.leading_preview = 3;
  return reset;
}

std::string NativePicturePath(const CodePage& cp, std::string_view job_path) {
  return cp.ToUtf8(job_path);
}

ThumbnailQueue::ThumbnailQueue(const CodePage* cp) : cp_(cp ? cp : &CodePage::Default()) {}

StatusOr<ThumbnailJob> MakeThumbnailJob(FileSystem* fs, const CodePage& cp, const PdfSettings& pdf,
                                        uint32_t mac_text, const std::string& native_pdf,
                                        const std::string& native_root, std::string_view relative) {
  const PdfSettings settings = EffectivePdfSettings(fs, pdf);
  bool lossy = false;
  ThumbnailJob job;
  job.pdf_path = cp.FromUtf8(native_pdf, &lossy);
  const PicturePaths paths = MakePicturePaths(cp.FromUtf8(settings.folder, &lossy),
                                              cp.FromUtf8(native_root, &lossy), relative);
  if (lossy) {
    return Status::InvalidArgument("the code page cannot hold the path of " + native_pdf +
                                   " or of the PDF folder");
  }
  job.thumbnail_path = paths.thumbnail;
  job.preview_paths = paths.previews;
  job.thumbnail_size = settings.thumbnail_size;
  job.preview_size = settings.preview_size;
  job.preview_pages = settings.leading_preview == 1 ? 1 : 3;
  job.mac_text = mac_text;
  StatusOr<std::string> fits = EncodeThumbnailJob(job);
  if (!fits.ok()) {
    return Status::InvalidArgument("a picture path of " + native_pdf +
                                   " is longer than 255 bytes");
  }
  return job;
}

std::optional<std::string> ThumbnailQueue::MakeRecord(TaskContext& task,
                                                      const ThumbnailRequest& request,
                                                      std::string* native_thumbnail) {
  const IndexDefinition* def = IndexAt(task.config, request.index);
  StatusOr<ThumbnailJob> job =
      MakeThumbnailJob(task.fs(), *cp_, task.config.pdf, def != nullptr ? def->mac_text : 0,
                       request.native_path, request.native_root, RelativeFromKey(request.file_key));
  if (!job.ok()) {
    task.LogFromTask("No thumbnail: " + job.status().message());
    return std::nullopt;
  }
  *native_thumbnail = NativePicturePath(*cp_, job->thumbnail_path);
  return EncodeThumbnailJob(*job).value();
}

ThumbnailQueued ThumbnailQueue::Queue(TaskContext& task, const ThumbnailRequest& request) {
  std::string thumbnail;
  std::optional<std::string> record = MakeRecord(task, request, &thumbnail);
  if (!record) return ThumbnailQueued::kRefused;
  StatusOr<FileInfo> existing = task.fs()->Stat(thumbnail);
  if (existing.ok() && !existing->is_folder &&
      FileTimeStampFromWinFileTime(existing->modified) == request.time) {
    return ThumbnailQueued::kCurrent;
  }
  uint32_t number;
  {
    MutexLock lock(&mu_);
    number = next_number_++;
    if (next_number_ == 0) next_number_ = 1;
    records_[number] = std::move(*record);
  }
  LockedBrowseList queue = task.Locked(-1, &task.thumbnail_queue);
  Status added = queue.WithLock([&](BrowseList& list) {
    // A PDF queued again (changed meanwhile) keeps one entry: the newest job.
    while (std::optional<uint32_t> old = list.Remove(request.file_key, 0)) {
      MutexLock lock(&mu_);
      records_.erase(*old);
    }
    return list.Add(request.file_key, number, kQueueValue, request.type_code);
  });
  if (!added.ok()) {
    MutexLock lock(&mu_);
    records_.erase(number);
    task.LogFromTask("No thumbnail for " + request.native_path + ": " + added.ToString());
    return ThumbnailQueued::kRefused;
  }
  return ThumbnailQueued::kQueued;
}

std::optional<std::string> ThumbnailQueue::TakeLast(TaskContext& task) {
  for (;;) {
    std::optional<BrowseEntry> entry = task.Locked(-1, &task.thumbnail_queue).TakeLast();
    if (!entry) return std::nullopt;
    MutexLock lock(&mu_);
    auto it = records_.find(entry->time);
    if (it == records_.end()) continue;
    std::string record = std::move(it->second);
    records_.erase(it);
    return record;
  }
}

size_t ThumbnailQueue::Waiting() {
  MutexLock lock(&mu_);
  return records_.size();
}

}  // namespace vantrel
