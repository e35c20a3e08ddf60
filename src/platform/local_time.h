// Local date and time texts in the process's locale.
//
// The texts follow LC_TIME of the process: the server calls
// setlocale(LC_ALL, "") once at start (this library never does), so the
// environment chooses the formats. Short date is strftime's %x, the time of
// day %X, the long date "%A, %d %B %Y". Local time follows TZ.
//
// Thread safety: every function may be called from any thread (localtime_r,
// strftime); changing the locale or TZ while they run is the caller's fault.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

struct LocalTimeParts {
  int year = 0;     // e.g. 1999
  int month = 0;    // 1-12
  int day = 0;      // 1-31
  int hour = 0;     // 0-23
  int minute = 0;   // 0-59
  int second = 0;   // 0-60
  int weekday = 0;  // 0 = Sunday
  int yearday = 0;  // 0-365, 0 = January 1
};

// Seconds since 1970 (UTC), now.
int64_t NowUnix();

// The local calendar time of `unix_seconds`. A time the C library cannot
// convert gives all zeros.
LocalTimeParts LocalTime(int64_t unix_seconds);

// The same in UTC (no time-zone conversion), for dates formed from file time
// stamps.
LocalTimeParts UtcTime(int64_t unix_seconds);

// Local short date (%x), e.g. "03/02/99" in the C locale.
std::string ShortDate(int64_t unix_seconds);
// Local time of day (%X), e.g. "12:00:00".
std::string TimeText(int64_t unix_seconds);
// Local long date ("%A, %d %B %Y"), e.g. "Tuesday, 02 March 1999".
std::string LongDate(int64_t unix_seconds);

// Any strftime pattern over the local time; empty when it cannot be formed.
std::string FormatLocalTime(int64_t unix_seconds, const char* pattern);

}  // namespace vantrel
