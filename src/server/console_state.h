// ConsoleState: the console half of the server while it runs without a
// window. It receives the task's status messages (through the status pump)
// and the notices of every subsystem, keeps what the console shows (the
// operation line, the last folder scanned, file indexed and search, the index
// statistics, the engine failure counts, pending notices), adds log lines to the event log, and echoes
// events and notices on standard error.
//
// The web console reads the same state (Snapshot).
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "core/event_log.h"
#include "core/notices.h"
#include "platform/mutex.h"
#include "server/status_sink.h"

namespace vantrel {

struct Notice {
  std::string caption;
  std::string text;
  int auto_close_ms = 0;
};

struct ConsoleSnapshot {
  std::string operation;     // operation line
  std::string last_folder;   // "Last Folder Scanned:"
  std::string last_file;     // "Last File Indexed:"
  std::string last_search;   // "Last Search:"
  std::vector<std::string> statistics;  // raw index statistics records, by index
  std::vector<uint32_t> engine_failures;  // failed engine searches, by index
  std::vector<Notice> notices;          // newest last, at most 64
  // Non-empty while the server runs on the defaults because its
  // configuration data file was damaged: the path of the kept copy.
  std::string defaults_used_since_damaged;
  // Grows with every change of the state or the event list (WaitForChange).
  uint64_t version = 0;
  // Event lines added and event list clears since the start: a reader that
  // saw n lines added shows the last (events_added - n) lines of the list as
  // new, and starts afresh when events_cleared grew.
  uint64_t events_added = 0;
  uint64_t events_cleared = 0;
};

class ConsoleState : public StatusSink, public NoticeSink {
 public:
  // `log` must outlive the state. With `echo`, events and notices are also
  // written to standard error.
  ConsoleState(EventLog* log, bool echo);

  // Adds an event (the console's own events and the task's log lines).
  void AddEvent(std::string_view message);
  // Empties the event list ("Clear Log").
  void ClearEvents();
  // Waits up to `timeout` until the version differs from `seen`; returns
  // the version then.
  uint64_t WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const;

  void OnStatus(const StatusMessage& message) override;
  void ShowNotice(const std::string& caption, const std::string& text,
                  int auto_close_ms) override;

  ConsoleSnapshot Snapshot() const;

  // The server started with the defaults; the damaged file is kept as
  // `kept_copy` (ConsoleSnapshot::defaults_used_since_damaged).
  void NoteDefaultsUsed(const std::string& kept_copy);

  // Receives the status messages this state does not keep itself (the
  // search figures for the console's copy of the configuration). Set it
  // before the task starts.
  void SetOtherStatusHandler(std::function<void(const StatusMessage&)> handler) {
    other_ = std::move(handler);
  }

 private:
  void ApplyStatus(const StatusMessage& message);
  void AppendEvent(std::string_view line);
  void NoteChange();

  EventLog* const log_;
  const bool echo_;
  Mutex event_mu_ ACQUIRED_BEFORE(mu_);
  mutable CondVar changed_;
  std::function<void(const StatusMessage&)> other_;
  mutable Mutex mu_;
  ConsoleSnapshot state_ GUARDED_BY(mu_);
};

}  // namespace vantrel
