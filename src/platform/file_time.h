// File time stamps: the 32-bit seconds count that every list, document name
// and date of the server carries, and its conversions.
//
// A Windows file time counts 100-nanosecond units since 1601-01-01 UTC. The
// file time stamp is that time in seconds minus 11,644,477,194, taken modulo
// 2^32. The offset is the server's own (it is not the 11,644,473,600 seconds
// between 1601 and 1970): stamps written by earlier versions and read by
// clients depend on it, so it must never change.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>

#include "platform/file_system.h"

namespace vantrel {

// Seconds subtracted from a file time (in seconds) to form a file time stamp.
inline constexpr uint64_t kFileTimeStampOffset = 11'644'477'194ULL;
// Seconds between 1601-01-01 and 1970-01-01 (UTC).
inline constexpr int64_t kUnixEpochInFileTimeSeconds = 11'644'473'600LL;
// File time units (100 ns) per second.
inline constexpr uint64_t kFileTimeUnitsPerSecond = 10'000'000ULL;

// (t / 10,000,000 - 11,644,477,194) modulo 2^32. Times before the offset
// wrap around, as unsigned arithmetic does.
uint32_t FileTimeStampFromWinFileTime(WinFileTime t);

// The file time (whole seconds) that a stamp stands for: the offset added back.
WinFileTime WinFileTimeFromStamp(uint32_t stamp);

// A POSIX time (seconds and nanoseconds since 1970) as a file time. Times
// before 1601 give 0; times beyond the range of a file time give its maximum.
WinFileTime WinFileTimeFromUnix(int64_t sec, int64_t nsec = 0);

// The file time stamp of a POSIX time in seconds.
uint32_t FileTimeStampFromUnix(int64_t sec);

// The POSIX time (seconds since 1970) that a stamp stands for.
int64_t UnixFromFileTimeStamp(uint32_t stamp);

}  // namespace vantrel
