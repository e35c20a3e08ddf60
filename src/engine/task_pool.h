// TaskPool: a few threads that run the parts of one call side by side.
//
// RunAll hands a batch of tasks to the pool and runs tasks of the batch on
// the calling thread too: whichever thread is free takes the next task not
// yet taken, and the caller takes every task the pool's threads have not
// reached (so a batch never waits behind other callers' batches for longer
// than its own work takes). RunAll returns once every task of the batch ran.
// A task must not throw (RunAll ends the process if one does: catch inside).
//
// After Stop (or with no threads) RunAll runs every task on the caller.
//
// Thread safety: RunAll may be called from any number of threads at once;
// Stop once no RunAll is running (the engine stops it after its last call).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/mutex.h"

namespace vantrel {

class TaskPool {
 public:
  explicit TaskPool(unsigned threads);
  ~TaskPool();
  TaskPool(const TaskPool&) = delete;
  TaskPool& operator=(const TaskPool&) = delete;

  // Runs every task, some on the pool's threads, at least one on the caller
  // unless the pool's threads took them all first; returns when all ran.
  void RunAll(const std::vector<std::function<void()>>& tasks);

  // Ends the threads (they finish the task they run).
  void Stop();

  // The pool's threads (the caller of RunAll adds one more).
  unsigned threads() const { return static_cast<unsigned>(threads_.size()); }

  // The pool's size for this machine: its cores, at most `most`.
  static unsigned ThreadsFor(unsigned most);

 private:
  struct Batch;
  // Takes and runs the batch's next task; false when none was left.
  static bool RunNext(Batch* batch);
  void Work();

  Mutex mu_;
  CondVar queued_;
  std::deque<std::shared_ptr<Batch>> queue_ GUARDED_BY(mu_);  // one entry per task offered
  bool stopping_ GUARDED_BY(mu_) = false;
  std::vector<std::thread> threads_;
};

// Runs task(i) for every i in [0, count) side by side on `pool` and the
// calling thread (one after the other on the caller when `pool` is null).
// What a task throws is kept; once every task ended, the first kept
// exception (by i) is thrown to the caller.
void RunEach(uint32_t count, TaskPool* pool, const std::function<void(uint32_t)>& task);

}  // namespace vantrel
