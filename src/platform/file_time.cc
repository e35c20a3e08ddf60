#include "platform/file_time.h"

#include <limits>

namespace vantrel {

uint32_t FileTimeStampFromWinFileTime(WinFileTime t) {
  // Unsigned subtraction wraps modulo 2^64; keeping the low 32 bits then
  // gives the result modulo 2^32, since 2^32 divides 2^64.
  const uint64_t seconds = t / kFileTimeUnitsPerSecond;
  return static_cast<uint32_t>(seconds - kFileTimeStampOffset);
}

WinFileTime WinFileTimeFromStamp(uint32_t stamp) {
  return (static_cast<uint64_t>(stamp) + kFileTimeStampOffset) * kFileTimeUnitsPerSecond;
}

WinFileTime WinFileTimeFromUnix(int64_t sec, int64_t nsec) {
  // Normalise nanoseconds outside [0, 1e9) into the seconds.
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  if (__builtin_add_overflow(sec, nsec / 1'000'000'000, &sec)) return nsec > 0 ? kMax : 0;
  nsec %= 1'000'000'000;
  if (nsec < 0) {
    nsec += 1'000'000'000;
    if (sec == std::numeric_limits<int64_t>::min()) return 0;
    --sec;
  }
  if (sec < -kUnixEpochInFileTimeSeconds) return 0;
  // In unsigned arithmetic: the sum exceeds INT64_MAX for far-future times.
  const uint64_t since_1601 =
      static_cast<uint64_t>(sec) + static_cast<uint64_t>(kUnixEpochInFileTimeSeconds);
  if (since_1601 > (kMax - static_cast<uint64_t>(nsec / 100)) / kFileTimeUnitsPerSecond) {
    return kMax;
  }
  return since_1601 * kFileTimeUnitsPerSecond + static_cast<uint64_t>(nsec / 100);
}

uint32_t FileTimeStampFromUnix(int64_t sec) {
  return FileTimeStampFromWinFileTime(WinFileTimeFromUnix(sec, 0));
}

int64_t UnixFromFileTimeStamp(uint32_t stamp) {
  return static_cast<int64_t>(stamp) + static_cast<int64_t>(kFileTimeStampOffset) -
         kUnixEpochInFileTimeSeconds;
}

}  // namespace vantrel
