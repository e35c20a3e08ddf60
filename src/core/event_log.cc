// EventLog: the event list and the log files.
#include "core/event_log.h"

#include <utility>

namespace vantrel {

namespace {

// A line ends at its first NUL (the configuration data file stores lines
// NUL-terminated) and holds at most 249 characters.
std::string CutLine(std::string_view text) {
  size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  if (text.size() > kMaxEventLineChars) text = text.substr(0, kMaxEventLineChars);
  return std::string(text);
}

std::string FullLine(const LogStamp& stamp, std::string_view message) {
  std::string line;
  line.reserve(stamp.short_date.size() + stamp.time_text.size() + 3 + message.size());
  line += stamp.short_date;
  line += ' ';
  line += stamp.time_text;
  line += "  ";
  line += message;
  size_t nul = line.find('\0');
  if (nul != std::string::npos) line.resize(nul);
  return line;
}

}  // namespace

EventLog::EventLog(Options options) : options_(std::move(options)) {}

LogStamp EventLog::Now() const { return options_.clock ? options_.clock() : LocalLogStamp(); }

std::string EventLog::FormatLine(const LogStamp& stamp, std::string_view message) {
  return CutLine(FullLine(stamp, message));
}

bool EventLog::Append(std::string_view message) {
  bool overflow = false;
  Status failure;
  {
    MutexLock append_lock(&append_mu_);
    LogStamp stamp = Now();
    // The log file receives the whole line; the list keeps what fits into an
    // event line of the configuration data file.
    std::string full = FullLine(stamp, message);
    uint32_t flags;
    std::string folder;
    {
      MutexLock lock(&mu_);
      while (lines_.size() >= kMaxEventLines) {
        lines_.pop_front();
        overflow = true;
      }
      lines_.push_back(CutLine(full));
      flags = flags_;
      folder = log_folder_;
    }
    if (flags & kEventLogUseFile) {
      Status status =
          options_.fs == nullptr
              ? Status::FailedPrecondition("event log: no file system for the log file")
              : AppendLogLine(options_.fs,
                              LogFilePath(folder, options_.default_folder, flags, stamp), full);
      if (status.ok()) {
        file_failing_ = false;
      } else if (!file_failing_) {
        file_failing_ = true;
        failure = std::move(status);
      }
    }
  }
  if (!failure.ok() && options_.on_file_error) options_.on_file_error(failure);
  return overflow;
}

void EventLog::Clear() {
  MutexLock lock(&mu_);
  lines_.clear();
}

size_t EventLog::size() const {
  MutexLock lock(&mu_);
  return lines_.size();
}

std::string EventLog::Line(size_t i) const {
  MutexLock lock(&mu_);
  return i < lines_.size() ? lines_[i] : std::string();
}

std::vector<std::string> EventLog::Lines() const {
  MutexLock lock(&mu_);
  return std::vector<std::string>(lines_.begin(), lines_.end());
}

void EventLog::SetLines(std::vector<std::string> lines) {
  std::deque<std::string> kept;
  size_t skip = lines.size() > kMaxEventLines ? lines.size() - kMaxEventLines : 0;
  for (size_t i = skip; i < lines.size(); ++i) kept.push_back(CutLine(lines[i]));
  MutexLock lock(&mu_);
  lines_ = std::move(kept);
}

void EventLog::SetOptions(uint32_t flags, std::string log_folder) {
  MutexLock lock(&mu_);
  flags_ = flags;
  log_folder_ = std::move(log_folder);
}

uint32_t EventLog::flags() const {
  MutexLock lock(&mu_);
  return flags_;
}

std::string EventLog::log_folder() const {
  MutexLock lock(&mu_);
  return log_folder_;
}

std::string EventLog::CurrentLogFilePath() const {
  LogStamp stamp = Now();
  MutexLock lock(&mu_);
  return LogFilePath(log_folder_, options_.default_folder, flags_, stamp);
}

}  // namespace vantrel
