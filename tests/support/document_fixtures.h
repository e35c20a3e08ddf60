// Helpers for tests of the image document builder: file times set to a
// chosen moment, a notice sink that records, and the status messages a task
// posted.
//
// Thread safety: RecordingNoticeSink may be called from any thread; the other
// helpers are plain functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/notices.h"
#include "core/status_message.h"
#include "platform/mutex.h"

namespace vantrel::document_test {

// Seconds since 1970 of a moment given in UTC.
int64_t UtcSeconds(int year, int month, int day, int hour = 12, int minute = 0, int second = 0);

// Sets the last-write time of the file or folder `path`; false on failure.
bool SetFileTimeUtc(const std::string& path, int64_t unix_seconds);

class RecordingNoticeSink : public NoticeSink {
 public:
  struct Notice {
    std::string caption;
    std::string text;
    int auto_close_ms = 0;
  };
  void ShowNotice(const std::string& caption, const std::string& text, int auto_close_ms) override;
  std::vector<Notice> notices() const;

 private:
  mutable Mutex mu_;
  std::vector<Notice> notices_ GUARDED_BY(mu_);
};

// A readable form of one status message ("2:/srv/x.jpg", "0#2", "10").
std::string DescribeStatus(const StatusMessage& message);

}  // namespace vantrel::document_test
