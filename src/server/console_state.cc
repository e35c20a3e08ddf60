#include "server/console_state.h"

#include <algorithm>
#include <optional>

#include "core/text_table.h"
#include "platform/systemd_notify.h"
#include "search/search_statistics.h"

namespace vantrel {
namespace {

constexpr size_t kMaxNotices = 64;

// Event lines are single lines: breaks inside a message become blanks.
std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) {
    if (c == '\r') continue;
    line.push_back(c == '\n' ? ' ' : c);
  }
  return line;
}

// The operation line shows the n-th line label for a number.
std::string OperationText(const StatusMessage& m) {
  if (!m.has_number) return m.data;
  static const TextId kLabels[] = {TextId::IDS_LINELABEL11, TextId::IDS_LINELABEL12,
                                   TextId::IDS_LINELABEL13};
  if (m.number < std::size(kLabels)) return Text(kLabels[m.number]);
  return "";
}

}  // namespace

ConsoleState::ConsoleState(EventLog* log, bool echo) : log_(log), echo_(echo) {}

void ConsoleState::AddEvent(std::string_view message) {
  std::string line = OneLine(message);
  AppendEvent(line);
  if (echo_) WriteStandardErrorLine(LogPriority::kInfo, line);
}

void ConsoleState::AppendEvent(std::string_view line) {
  MutexLock order(&event_mu_);  // serial numbers follow the order of the lines
  log_->Append(line);
  MutexLock lock(&mu_);
  ++state_.events_added;
  ++state_.version;
  changed_.SignalAll();
}

void ConsoleState::ClearEvents() {
  MutexLock order(&event_mu_);
  log_->Clear();
  MutexLock lock(&mu_);
  ++state_.events_cleared;
  ++state_.version;
  changed_.SignalAll();
}

void ConsoleState::NoteChange() {
  MutexLock lock(&mu_);
  ++state_.version;
  changed_.SignalAll();
}

uint64_t ConsoleState::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) const {
  MutexLock lock(&mu_);
  if (state_.version == seen) changed_.WaitFor(&mu_, timeout);
  return state_.version;
}

void ConsoleState::OnStatus(const StatusMessage& message) {
  ApplyStatus(message);
  if (message.code != kStatusLogLine) NoteChange();
}

void ConsoleState::ApplyStatus(const StatusMessage& message) {
  switch (message.code) {
    case kStatusLogLine:
      AddEvent(message.data);
      return;
    case kStatusOperation: {
      std::string operation = OperationText(message);
      NotifyStatus(operation);  // the service's status line under systemd
      MutexLock lock(&mu_);
      state_.operation = std::move(operation);
      return;
    }
    case kStatusFolderScanned: {
      MutexLock lock(&mu_);
      state_.last_folder = message.data;
      return;
    }
    case kStatusFileIndexed: {
      MutexLock lock(&mu_);
      state_.last_file = message.data;
      return;
    }
    case kStatusLastSearch: {
      MutexLock lock(&mu_);
      state_.last_search = message.data;
      return;
    }
    case kStatusIndexStatistics: {
      // The index number is the record's last word.
      const std::string& r = message.data;
      if (r.size() < 4) return;
      uint32_t index = static_cast<uint8_t>(r[r.size() - 4]) |
                       static_cast<uint8_t>(r[r.size() - 3]) << 8 |
                       static_cast<uint8_t>(r[r.size() - 2]) << 16 |
                       static_cast<uint32_t>(static_cast<uint8_t>(r[r.size() - 1])) << 24;
      if (index >= 32) return;
      MutexLock lock(&mu_);
      if (state_.statistics.size() <= index) state_.statistics.resize(index + 1);
      state_.statistics[index] = r;
      return;
    }
    case kStatusEngineFailure: {
      std::optional<EngineFailureRecord> r = DecodeEngineFailureRecord(message.data);
      if (!r) return;
      const auto index = static_cast<size_t>(r->index);
      MutexLock lock(&mu_);
      if (state_.engine_failures.size() <= index) state_.engine_failures.resize(index + 1);
      state_.engine_failures[index] = std::max(state_.engine_failures[index], r->failures);
      return;
    }
    default:
      if (other_) other_(message);
      return;  // repaint requests and unknown codes
  }
}

void ConsoleState::ShowNotice(const std::string& caption, const std::string& text,
                              int auto_close_ms) {
  {
    MutexLock lock(&mu_);
    state_.notices.push_back(Notice{caption, text, auto_close_ms});
    if (state_.notices.size() > kMaxNotices) state_.notices.erase(state_.notices.begin());
  }
  if (echo_) WriteStandardErrorLine(LogPriority::kWarning, "[" + caption + "] " + OneLine(text));
  AppendEvent(OneLine(caption + ": " + text));
}

void ConsoleState::NoteDefaultsUsed(const std::string& kept_copy) {
  MutexLock lock(&mu_);
  state_.defaults_used_since_damaged = kept_copy;
}

ConsoleSnapshot ConsoleState::Snapshot() const {
  MutexLock lock(&mu_);
  return state_;
}

}  // namespace vantrel
