// EventLog: the event list (the last 512 lines of the event log) and the log
// files that receive each line when the operator has switched them on.
//
// A line is the local short date, a blank, the local time, two blanks and the
// message, cut to 249 characters (the width of an event line in the
// configuration data file). When the list holds 512 lines, the oldest one is
// dropped first. The lines are plain strings; the configuration data file
// saves and loads them through Lines() and SetLines(), so the two need not know
// each other.
//
// A log file that cannot be written never stops the server: the line stays in
// the event list, and the failure is reported once through the error callback
// (again only after a later append has succeeded).
//
// Thread safety: every method may be called from any thread. Appends are
// serialized, so the list and the log file receive the lines in one order;
// readers never wait for a file write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_files.h"
#include "platform/mutex.h"
#include "platform/status.h"
#include "platform/thread_annotations.h"

namespace vantrel {

class FileSystem;

inline constexpr size_t kMaxEventLines = 512;
inline constexpr size_t kMaxEventLineChars = 249;

class EventLog {
 public:
  struct Options {
    FileSystem* fs = nullptr;    // required for log files; not owned, outlives the log
    std::string default_folder;  // native; used when the log folder is empty or relative
    LogClock clock;              // empty: LocalLogStamp
    // Called (without locks held) the first time a log file cannot be written,
    // and again only after a later write has succeeded. May be empty.
    std::function<void(const Status&)> on_file_error;
  };

  explicit EventLog(Options options);
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Adds one event: builds the line from the current moment and `message`,
  // appends it to the list (dropping the oldest line when 512 are held) and,
  // when flag kEventLogUseFile is set, to the log file of the current day or
  // week. Returns true when the oldest line was dropped.
  bool Append(std::string_view message) EXCLUDES(append_mu_, mu_);

  // Removes every line; the log files are not touched.
  void Clear() EXCLUDES(mu_);

  size_t size() const EXCLUDES(mu_);
  // The text of line i (0 = oldest); empty when i is out of range.
  std::string Line(size_t i) const EXCLUDES(mu_);
  // Every line, oldest first, for showing and for the configuration data file.
  std::vector<std::string> Lines() const EXCLUDES(mu_);

  // Replaces the list with lines from the configuration data file. Each line
  // ends at its first NUL and is cut to 249 characters; of more than 512
  // lines the newest 512 are kept.
  void SetLines(std::vector<std::string> lines) EXCLUDES(mu_);

  // The log option flags (kEventLog...) and the log folder (native path) from
  // the configuration; they apply from the next line on.
  void SetOptions(uint32_t flags, std::string log_folder) EXCLUDES(mu_);
  uint32_t flags() const EXCLUDES(mu_);
  std::string log_folder() const EXCLUDES(mu_);

  // The path of the log file that a line added now would go to.
  std::string CurrentLogFilePath() const EXCLUDES(mu_);

  // The line text for `stamp` and `message`: "<date> <time>  <message>", cut
  // to 249 characters.
  static std::string FormatLine(const LogStamp& stamp, std::string_view message);

  // Whether the task sends a line that belongs to option bit `option_bit`
  // (kEventLogFilesAdded or kEventLogSearches; 0 for lines always sent).
  static bool ShouldLog(uint32_t flags, uint32_t option_bit) {
    return option_bit == 0 || (flags & option_bit) != 0;
  }

 private:
  LogStamp Now() const;

  const Options options_;
  // Held across one whole Append, so that the list order and the file order
  // agree. Lock order: append_mu_ before mu_.
  Mutex append_mu_ ACQUIRED_BEFORE(mu_);
  bool file_failing_ GUARDED_BY(append_mu_) = false;

  mutable Mutex mu_;
  std::deque<std::string> lines_ GUARDED_BY(mu_);  // oldest first
  uint32_t flags_ GUARDED_BY(mu_) = kEventLogDefaultFlags;
  std::string log_folder_ GUARDED_BY(mu_);
};

}  // namespace vantrel
