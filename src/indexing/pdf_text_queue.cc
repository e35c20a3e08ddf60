// The PDF text worker (see pdf_text_queue.h).
#include "indexing/pdf_text_queue.h"

#include <algorithm>
#include <utility>

namespace vantrel {

PdfTextQueue::PdfTextQueue(ExtractFunction extract, size_t max_ready)
    : extract_(std::move(extract)), max_ready_(std::max<size_t>(1, max_ready)) {
  worker_ = std::thread([this] { Run(); });
}

PdfTextQueue::~PdfTextQueue() {
  {
    MutexLock lock(&mu_);
    stopping_ = true;
    changed_.SignalAll();
  }
  worker_.join();
}

void PdfTextQueue::Queue(PdfTextRequest request) {
  MutexLock lock(&mu_);
  auto same = [&request](const PdfTextRequest& q) {
    return q.index == request.index && q.file_key == request.file_key;
  };
  auto it = std::find_if(queued_.begin(), queued_.end(), same);
  if (it != queued_.end()) {
    *it = std::move(request);
  } else {
    queued_.push_back(std::move(request));
  }
  changed_.SignalAll();
}

std::vector<PdfTextResult> PdfTextQueue::TakeReady(int index) {
  std::vector<PdfTextResult> taken;
  MutexLock lock(&mu_);
  for (auto it = ready_.begin(); it != ready_.end();) {
    if (it->request.index == index) {
      taken.push_back(std::move(*it));
      it = ready_.erase(it);
    } else {
      ++it;
    }
  }
  if (!taken.empty()) changed_.SignalAll();
  return taken;
}

bool PdfTextQueue::WaitUntilIdle(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  MutexLock lock(&mu_);
  while (busy_ || !queued_.empty()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    changed_.WaitFor(&mu_, std::min(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - now),
                                    std::chrono::milliseconds(100)));
  }
  return true;
}

std::optional<PdfTextRequest> PdfTextQueue::NextRequest() {
  MutexLock lock(&mu_);
  busy_ = false;
  changed_.SignalAll();
  while (!stopping_ && (queued_.empty() || ready_.size() >= max_ready_)) changed_.Wait(&mu_);
  if (stopping_) return std::nullopt;
  PdfTextRequest next = std::move(queued_.front());
  queued_.pop_front();
  busy_ = true;
  return next;
}

void PdfTextQueue::Run() {
  while (std::optional<PdfTextRequest> request = NextRequest()) {
    PdfTextResult result;
    result.text = extract_(request->native_path, &stopping_);
    result.request = std::move(*request);
    MutexLock lock(&mu_);
    if (stopping_) break;
    // A newer text of the same file replaces one that was not taken yet.
    std::erase_if(ready_, [&result](const PdfTextResult& r) {
      return r.request.index == result.request.index &&
             r.request.file_key == result.request.file_key;
    });
    ready_.push_back(std::move(result));
  }
  MutexLock lock(&mu_);
  busy_ = false;
  changed_.SignalAll();
}

}  // namespace vantrel
