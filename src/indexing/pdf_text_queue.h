// PdfTextQueue: reads the text of PDF files on a thread of its own, so that a
// slow PDF (a damaged file the helper chews on until its time limit) never
// holds up the documents of the files saved after it.
//
// How a PDF's text reaches the index (the pipeline drives it):
//  1. the builder composes the PDF's document without its text; it goes to
//     the engine at once and the file enters the indexed list as usual, so
//     its name, folder, type and dates are searchable straight away;
//  2. the builder queues the file here with the time stamp of that document;
//  3. the worker thread reads the text (the helper process with its time,
//     memory and output limits);
//  4. the pipeline takes finished texts at its next update pass (and while it
//     builds further documents of the same index), composes the document
//     again with the text and hands it on: the engine replaces the document
//     of the same name (time stamp and file key), so the text-less one goes.
//
// A file queued again (changed meanwhile) replaces its request that still
// waits. The pipeline uses a text only when the file still has the time stamp
// it was read for and that version is in the indexed list, so a PDF changed
// meanwhile ends up with the text of its newest version (which is queued when
// that version is built).
//
// At most `max_ready` finished texts wait to be taken; the worker pauses
// until the pipeline takes some, so a long start-up scan of many PDFs does not
// pile texts up in memory. Destruction cancels the running extraction (the
// helper is killed at once) and drops what is queued.
//
// Thread safety: every member may be called from any thread; the extract
// function runs on the worker thread only.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/mutex.h"

namespace vantrel {

struct PdfTextRequest {
  int index = 0;
  std::string native_path;
  std::string file_key;  // "03Sport\report.pdf"
  uint32_t time = 0;     // the time stamp of the document built without text
};

struct PdfTextResult {
  PdfTextRequest request;
  std::string text;
};

class PdfTextQueue {
 public:
  // Reads the text of one PDF; stops early (any result) once `cancel` is true.
  using ExtractFunction =
      std::function<std::string(const std::string& native_path, const std::atomic<bool>* cancel)>;

  explicit PdfTextQueue(ExtractFunction extract, size_t max_ready = 32);
  ~PdfTextQueue();
  PdfTextQueue(const PdfTextQueue&) = delete;
  PdfTextQueue& operator=(const PdfTextQueue&) = delete;

  // Queues a file; a waiting request of the same index and file key is
  // replaced.
  void Queue(PdfTextRequest request);

  // Takes the finished texts of index `index`, oldest first.
  std::vector<PdfTextResult> TakeReady(int index);

  // Waits until nothing is queued or being read (finished texts may wait to
  // be taken). False when `timeout` passed first.
  bool WaitUntilIdle(std::chrono::milliseconds timeout);

 private:
  void Run();
  // The next request to read, once there is room for its text; nothing when
  // stopping.
  std::optional<PdfTextRequest> NextRequest();

  const ExtractFunction extract_;
  const size_t max_ready_;
  std::atomic<bool> stopping_{false};
  Mutex mu_;
  CondVar changed_;
  std::deque<PdfTextRequest> queued_ GUARDED_BY(mu_);
  std::deque<PdfTextResult> ready_ GUARDED_BY(mu_);
  bool busy_ GUARDED_BY(mu_) = false;
  std::thread worker_;
};

}  // namespace vantrel
