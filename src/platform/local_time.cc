#include "platform/local_time.h"

#include <ctime>

namespace vantrel {
namespace {

bool ToTm(int64_t unix_seconds, bool local, struct tm* out) {
  const time_t t = static_cast<time_t>(unix_seconds);
  if (static_cast<int64_t>(t) != unix_seconds) return false;
  return (local ? localtime_r(&t, out) : gmtime_r(&t, out)) != nullptr;
}

LocalTimeParts PartsOf(int64_t unix_seconds, bool local) {
  struct tm tm_value = {};
  LocalTimeParts parts;
  if (!ToTm(unix_seconds, local, &tm_value)) return parts;
  parts.year = tm_value.tm_year + 1900;
  parts.month = tm_value.tm_mon + 1;
  parts.day = tm_value.tm_mday;
  parts.hour = tm_value.tm_hour;
  parts.minute = tm_value.tm_min;
  parts.second = tm_value.tm_sec;
  parts.weekday = tm_value.tm_wday;
  parts.yearday = tm_value.tm_yday;
  return parts;
}

}  // namespace

int64_t NowUnix() {
  struct timespec ts = {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec);
}

LocalTimeParts LocalTime(int64_t unix_seconds) { return PartsOf(unix_seconds, true); }

LocalTimeParts UtcTime(int64_t unix_seconds) { return PartsOf(unix_seconds, false); }

std::string FormatLocalTime(int64_t unix_seconds, const char* pattern) {
  struct tm tm_value = {};
  if (pattern == nullptr || !ToTm(unix_seconds, true, &tm_value)) return std::string();
  char buffer[256];
  // strftime returns 0 both for an empty result and for one that does not
  // fit; either way the text is empty.
  size_t n = strftime(buffer, sizeof(buffer), pattern, &tm_value);
  return std::string(buffer, n);
}

std::string ShortDate(int64_t unix_seconds) { return FormatLocalTime(unix_seconds, "%x"); }

std::string TimeText(int64_t unix_seconds) { return FormatLocalTime(unix_seconds, "%X"); }

std::string LongDate(int64_t unix_seconds) {
  return FormatLocalTime(unix_seconds, "%A, %d %B %Y");
}

}  // namespace vantrel
