#include "platform/systemd_notify.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "platform/environment.h"
#include "platform/mutex.h"

#ifndef VANTREL_HAVE_SYSTEMD
#define VANTREL_HAVE_SYSTEMD 0
#endif
#if VANTREL_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace vantrel {
namespace {

// A notification datagram must stay well below systemd's 4096-byte buffer.
constexpr size_t kMaxStatusBytes = 1024;

// Control characters become blanks; the text is cut at a character boundary.
std::string OneLine(std::string_view text, size_t max_bytes) {
  std::string line;
  line.reserve(std::min(text.size(), max_bytes));
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    line.push_back(u < 0x20 || u == 0x7F ? ' ' : c);
  }
  if (line.size() > max_bytes) {
    size_t cut = max_bytes;
    while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
    line.resize(cut);
  }
  return line;
}

void Send(const std::string& assignments) {
#if VANTREL_HAVE_SYSTEMD
  // NOTIFY_SOCKET stays set: the server relaunches itself in place (same
  // process) and then tells systemd again that it is ready.
  sd_notify(0, assignments.c_str());
#else
  (void)assignments;
#endif
}

struct NotifyState {
  Mutex mu;
  std::optional<std::string> last_status GUARDED_BY(mu);
};

NotifyState& State() {
  static NotifyState* state = new NotifyState;  // lives for the whole process
  return *state;
}

void SendWithStatus(std::string_view head, std::string_view status) {
  NotifyState& state = State();
  std::string line = OneLine(status, kMaxStatusBytes);
  MutexLock lock(&state.mu);
  std::string message(head);
  if (!message.empty()) message.push_back('\n');
  message += "STATUS=" + line;
  if (head.empty() && state.last_status == line) return;
  state.last_status = line;
  Send(message);
}

}  // namespace

bool SystemdNotifyBuiltIn() { return VANTREL_HAVE_SYSTEMD != 0; }

void NotifyReady(std::string_view status) { SendWithStatus("READY=1", status); }
void NotifyStatus(std::string_view status) { SendWithStatus("", status); }
void NotifyStopping(std::string_view status) { SendWithStatus("STOPPING=1", status); }

bool NamesJournalStream(std::string_view journal_stream, uint64_t device, uint64_t inode) {
  const size_t colon = journal_stream.find(':');
  if (colon == std::string_view::npos) return false;
  auto number = [](std::string_view digits, uint64_t* out) {
    if (digits.empty()) return false;
    auto [end, err] = std::from_chars(digits.data(), digits.data() + digits.size(), *out);
    return err == std::errc() && end == digits.data() + digits.size();
  };
  uint64_t dev = 0;
  uint64_t ino = 0;
  return number(journal_stream.substr(0, colon), &dev) &&
         number(journal_stream.substr(colon + 1), &ino) && dev == device && ino == inode;
}

std::string StandardErrorLine(LogPriority priority, std::string_view text, bool journal) {
  // Far below the journal's line limit (48 KiB); event lines are 249 bytes.
  constexpr size_t kMaxLineBytes = 8192;
  std::string line = journal ? "<" + std::to_string(static_cast<int>(priority)) + ">"
                             : std::string("vantrel: ");
  line += OneLine(text, kMaxLineBytes);
  line.push_back('\n');
  return line;
}

bool StandardErrorIsJournal() {
  static const bool journal = [] {
    std::optional<std::string> stream = EnvironmentValue("JOURNAL_STREAM");
    struct stat st;
    if (!stream || ::fstat(2, &st) != 0) return false;
    return NamesJournalStream(*stream, static_cast<uint64_t>(st.st_dev),
                              static_cast<uint64_t>(st.st_ino));
  }();
  return journal;
}

void WriteStandardErrorLine(LogPriority priority, std::string_view text) {
  const std::string line = StandardErrorLine(priority, text, StandardErrorIsJournal());
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace vantrel
