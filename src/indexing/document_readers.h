// DocumentReaders: reads and composes the documents of a file sequence ahead
// of their builds, on a few threads, and hands them back in the order the
// files were queued.
//
// On a cold disk most of a file's build is waiting for its bytes; several
// reads in flight overlap those waits. The builds themselves (list entries,
// the hand-over to the pending table, log lines) stay on the calling thread
// and in the queued order, so lists, documents and the event log are the
// same as when every file is composed inline.
//
// At most `window` files are queued and not yet taken (2 per reader): the
// caller takes the oldest before it queues another once the window is full.
// Taking a file whose reading has not begun reads it on the calling thread.
// A reading that throws hands back nothing, so the build composes the file
// itself (and meets the same fault). The destructor waits for the readings
// under way and drops what was not taken.
//
// Thread safety: one thread queues and takes; `compose` runs on the reader
// threads and that thread and must be reentrant.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "indexing/document_builder.h"
#include "platform/mutex.h"

namespace vantrel {

// Reader threads of the start-up catch-up unless the operator chose
// (vantrel --document-readers), and the most it takes.
inline constexpr int kDefaultDocumentReaders = 8;
inline constexpr int kMaxDocumentReaders = 64;

class DocumentReaders {
 public:
  // What a reader makes of one file (ComposeAhead with the index's options).
  using ComposeFunction = std::function<std::optional<ComposedAhead>(const DocumentFile& file)>;

  // One queued file as it is taken back.
  struct Taken {
    DocumentFile file;
    // The composed document; none when the file was queued unread or its
    // reading failed or produced nothing.
    std::optional<ComposedAhead> ahead;
  };

  // `readers` threads (at least 1).
  DocumentReaders(int readers, ComposeFunction compose);
  ~DocumentReaders();
  DocumentReaders(const DocumentReaders&) = delete;
  DocumentReaders& operator=(const DocumentReaders&) = delete;

  size_t window() const { return window_; }
  bool full() const;
  bool empty() const;

  // Queues a file after the ones queued before; `read` false passes it
  // through unread (a file the build will not compose). The window must not
  // be full.
  void Queue(DocumentFile file, bool read);
  // The oldest queued file, once its reading ended. The queue must not be
  // empty.
  Taken TakeOldest();

 private:
  enum class State { kQueued, kReading, kDone };
  struct Slot {
    DocumentFile file;
    State state = State::kQueued;
    std::optional<ComposedAhead> ahead;
  };

  void ReaderLoop();
  // The oldest slot not yet begun; null when there is none.
  Slot* NextToRead() REQUIRES(mu_);
  std::optional<ComposedAhead> Read(const DocumentFile& file);

  const ComposeFunction compose_;
  const size_t window_;
  mutable Mutex mu_;
  // A reader waits on `queued_` for a file to read, the taking thread on
  // `done_` for the oldest file's reading to end: each wake-up goes to a
  // thread that has something to do.
  CondVar queued_;
  CondVar done_;
  std::deque<std::unique_ptr<Slot>> slots_ GUARDED_BY(mu_);
  bool stopping_ GUARDED_BY(mu_) = false;
  std::vector<std::thread> threads_;
};

}  // namespace vantrel
