#include "indexing/document_readers.h"

#include <algorithm>
#include <utility>

namespace vantrel {

DocumentReaders::DocumentReaders(int readers, ComposeFunction compose)
    : compose_(std::move(compose)), window_(2 * static_cast<size_t>(std::max(1, readers))) {
  const int count = std::max(1, readers);
  threads_.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) threads_.emplace_back([this] { ReaderLoop(); });
}

DocumentReaders::~DocumentReaders() {
  {
    MutexLock lock(&mu_);
    stopping_ = true;
  }
  queued_.SignalAll();
  for (std::thread& t : threads_) t.join();
}

bool DocumentReaders::full() const {
  MutexLock lock(&mu_);
  return slots_.size() >= window_;
}

bool DocumentReaders::empty() const {
  MutexLock lock(&mu_);
  return slots_.empty();
}

void DocumentReaders::Queue(DocumentFile file, bool read) {
  auto slot = std::make_unique<Slot>();
  slot->file = std::move(file);
  if (!read) slot->state = State::kDone;
  {
    MutexLock lock(&mu_);
    slots_.push_back(std::move(slot));
  }
  if (read) queued_.Signal();
}

DocumentReaders::Taken DocumentReaders::TakeOldest() {
  Slot* oldest = nullptr;
  bool read_here = false;
  {
    MutexLock lock(&mu_);
    oldest = slots_.front().get();
    if (oldest->state == State::kQueued) {
      // No reader has begun it: reading it here is quicker than waiting.
      oldest->state = State::kReading;
      read_here = true;
    }
  }
  if (read_here) {
    std::optional<ComposedAhead> ahead = Read(oldest->file);
    MutexLock lock(&mu_);
    oldest->ahead = std::move(ahead);
    oldest->state = State::kDone;
  }
  MutexLock lock(&mu_);
  while (oldest->state != State::kDone) done_.Wait(&mu_);
  Taken taken{std::move(oldest->file), std::move(oldest->ahead)};
  slots_.pop_front();
  return taken;
}

DocumentReaders::Slot* DocumentReaders::NextToRead() {
  for (const std::unique_ptr<Slot>& slot : slots_) {
    if (slot->state == State::kQueued) return slot.get();
  }
  return nullptr;
}

void DocumentReaders::ReaderLoop() {
  MutexLock lock(&mu_);
  for (;;) {
    Slot* slot = NextToRead();
    if (stopping_) return;
    if (slot == nullptr) {
      queued_.Wait(&mu_);
      continue;
    }
    slot->state = State::kReading;
    // The slot stays in the queue until it is done: only TakeOldest removes
    // slots, and it waits for this one.
    const DocumentFile file = slot->file;
    mu_.Unlock();
    std::optional<ComposedAhead> ahead = Read(file);
    mu_.Lock();
    slot->ahead = std::move(ahead);
    slot->state = State::kDone;
    done_.Signal();
  }
}

std::optional<ComposedAhead> DocumentReaders::Read(const DocumentFile& file) {
  try {
    return compose_(file);
  } catch (...) {
    return std::nullopt;  // the build composes it again and meets the fault itself
  }
}

}  // namespace vantrel
