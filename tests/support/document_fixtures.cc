#include "support/document_fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

namespace vantrel::document_test {

int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

bool SetFileTimeUtc(const std::string& path, int64_t unix_seconds) {
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(unix_seconds);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

void RecordingNoticeSink::ShowNotice(const std::string& caption, const std::string& text,
                                     int auto_close_ms) {
  MutexLock l(&mu_);
  notices_.push_back({caption, text, auto_close_ms});
}

std::vector<RecordingNoticeSink::Notice> RecordingNoticeSink::notices() const {
  MutexLock l(&mu_);
  return notices_;
}

std::string DescribeStatus(const StatusMessage& message) {
  std::string out = std::to_string(message.code);
  if (message.has_number) return out + "#" + std::to_string(message.number);
  if (!message.data.empty()) return out + ":" + message.data;
  return out;
}

}  // namespace vantrel::document_test
