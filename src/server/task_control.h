// TaskControl: what the console does to the database process task besides
// posting requests: stop it while the operator edits the configuration
// (edit mode), start it again afterwards, and tell a pause from an end.
//
// Thread safety: every method may be called from any thread; Pause and
// Resume are serialized.
#pragma once

#include <cstddef>
#include <functional>

#include "platform/mutex.h"

namespace vantrel {

class DatabaseTask;

class TaskControl {
 public:
  // `task` must outlive this object.
  explicit TaskControl(DatabaseTask* task) : task_(task) {}

  // Stops the task and waits until it has ended (wait for stop). Does
  // nothing when it is already paused or the server is stopping.
  void Pause() EXCLUDES(mu_);
  // Starts the task again after a pause, unless the server is stopping.
  void Resume() EXCLUDES(mu_);
  bool paused() const EXCLUDES(mu_);
  // True when the task ended without being paused: the server stops.
  bool EndedByItself() const EXCLUDES(mu_);
  // From now on Pause and Resume do nothing; returns whether the task was
  // paused (then it need not be stopped again).
  bool BeginServerStop() EXCLUDES(mu_);

  // The thumbnail question of the stop: the jobs waiting now (0 while
  // paused), and the operator's answer, Yes (wait until they are made) or
  // No (drop them), for the stop that follows.
  size_t QueuedThumbnails();
  void AnswerThumbnailQuestion(bool wait);

 private:
  DatabaseTask* const task_;
  mutable Mutex mu_;
  bool paused_ GUARDED_BY(mu_) = false;
  bool stopping_ GUARDED_BY(mu_) = false;
};

}  // namespace vantrel
