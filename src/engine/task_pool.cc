#include "engine/task_pool.h"

#include <algorithm>
#include <atomic>
#include <exception>

namespace vantrel {

struct TaskPool::Batch {
  // The caller's tasks: read only while some task is not done (RunAll has
  // not returned); a thread may still hold the batch after that.
  const std::vector<std::function<void()>>* tasks = nullptr;
  size_t count = 0;
  std::atomic<size_t> next{0};  // the next task to take
  Mutex mu;
  CondVar finished;
  size_t done GUARDED_BY(mu) = 0;
};

TaskPool::TaskPool(unsigned threads) {
  threads_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

TaskPool::~TaskPool() { Stop(); }

unsigned TaskPool::ThreadsFor(unsigned most) {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, std::max(most, 1u));
}

bool TaskPool::RunNext(Batch* batch) {
  const size_t i = batch->next.fetch_add(1);
  if (i >= batch->count) return false;
  try {
    (*batch->tasks)[i]();
  } catch (...) {
    std::terminate();  // a task catches what it throws (see the header)
  }
  MutexLock lock(&batch->mu);
  if (++batch->done == batch->count) batch->finished.SignalAll();
  return true;
}

void TaskPool::RunAll(const std::vector<std::function<void()>>& tasks) {
  if (tasks.empty()) return;
  auto batch = std::make_shared<Batch>();
  batch->tasks = &tasks;
  batch->count = tasks.size();
  {
    MutexLock lock(&mu_);
    if (!stopping_ && !threads_.empty()) {
      for (size_t i = 1; i < tasks.size(); ++i) queue_.push_back(batch);
    }
  }
  queued_.SignalAll();
  while (RunNext(batch.get())) {
  }
  MutexLock lock(&batch->mu);
  while (batch->done < batch->count) batch->finished.Wait(&batch->mu);
}

void TaskPool::Work() {
  for (;;) {
    std::shared_ptr<Batch> batch;
    {
      MutexLock lock(&mu_);
      while (queue_.empty() && !stopping_) queued_.Wait(&mu_);
      if (queue_.empty()) return;
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    RunNext(batch.get());
  }
}

void TaskPool::Stop() {
  {
    MutexLock lock(&mu_);
    if (stopping_) return;
    stopping_ = true;
  }
  queued_.SignalAll();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

void RunEach(uint32_t count, TaskPool* pool, const std::function<void(uint32_t)>& task) {
  std::vector<std::exception_ptr> errors(count);
  std::vector<std::function<void()>> tasks;
  tasks.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    tasks.push_back([&task, &errors, i] {
      try {
        task(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    });
  }
  if (pool != nullptr) {
    pool->RunAll(tasks);
  } else {
    for (const std::function<void()>& t : tasks) t();
  }
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

}  // namespace vantrel
