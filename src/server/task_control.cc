#include "server/task_control.h"

#include <chrono>

#include "server/database_task.h"

namespace vantrel {

void TaskControl::Pause() {
  MutexLock lock(&mu_);
  if (paused_ || stopping_) return;
  task_->RequestStop();
  while (!task_->WaitFinished(std::chrono::milliseconds(500))) {
  }
  task_->Join();
  paused_ = true;
}

void TaskControl::Resume() {
  MutexLock lock(&mu_);
  if (!paused_ || stopping_) return;
  task_->Start();
  paused_ = false;
}

bool TaskControl::paused() const {
  MutexLock lock(&mu_);
  return paused_;
}

bool TaskControl::EndedByItself() const {
  MutexLock lock(&mu_);
  return !paused_ && task_->shutdown_state() == 2;
}

bool TaskControl::BeginServerStop() {
  MutexLock lock(&mu_);
  stopping_ = true;
  return paused_;
}

size_t TaskControl::QueuedThumbnails() { return task_->QueuedThumbnails(); }

void TaskControl::AnswerThumbnailQuestion(bool wait) {
  task_->SetThumbnailsAtStop(wait ? DatabaseTask::ThumbnailsAtStop::kWait
                                  : DatabaseTask::ThumbnailsAtStop::kDrop);
}

}  // namespace vantrel
