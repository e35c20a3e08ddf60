#include "platform/file_time.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vantrel {
namespace {

// 1999-03-02 12:00:00 UTC is 920,376,000 s after 1970 and the file time
// 125,648,496,000,000,000. Its stamp is 125,648,496,000 - 11,644,477,194
// = 113,004,018,806 s after the offset, modulo 2^32 = 920,372,406 (the
// 3,594 s difference between the stamp offset and the 1970 epoch).
TEST(FileTimeTest, KnownValues) {
  const WinFileTime t = 125'648'496'000'000'000ULL;
  EXPECT_EQ(WinFileTimeFromUnix(920'376'000), t);
  EXPECT_EQ(FileTimeStampFromWinFileTime(t), 920'372'406u);
  EXPECT_EQ(FileTimeStampFromUnix(920'376'000), 920'372'406u);
  EXPECT_EQ(WinFileTimeFromStamp(920'372'406u), t);
  EXPECT_EQ(UnixFromFileTimeStamp(920'372'406u), 920'376'000);
  // Sub-second units are dropped.
  EXPECT_EQ(FileTimeStampFromWinFileTime(t + 9'999'999), 920'372'406u);
  EXPECT_EQ(FileTimeStampFromWinFileTime(t + 10'000'000), 920'372'407u);
  EXPECT_EQ(WinFileTimeFromUnix(920'376'000, 123'456'789), t + 1'234'567);
}

TEST(FileTimeTest, WrapsModulo2To32) {
  // Before the offset the subtraction wraps.
  EXPECT_EQ(FileTimeStampFromWinFileTime(0), static_cast<uint32_t>(0 - kFileTimeStampOffset));
  EXPECT_EQ(FileTimeStampFromWinFileTime(0), 1'240'424'694u);
  EXPECT_EQ(FileTimeStampFromWinFileTime(kFileTimeStampOffset * kFileTimeUnitsPerSecond), 0u);
  EXPECT_EQ(FileTimeStampFromWinFileTime((kFileTimeStampOffset - 1) * kFileTimeUnitsPerSecond),
            0xFFFFFFFFu);
  // 2^32 seconds later the stamp repeats.
  const WinFileTime t = 125'648'496'000'000'000ULL;
  EXPECT_EQ(FileTimeStampFromWinFileTime(t + (uint64_t{1} << 32) * kFileTimeUnitsPerSecond),
            FileTimeStampFromWinFileTime(t));
  // The largest file time does not overflow.
  EXPECT_EQ(FileTimeStampFromWinFileTime(UINT64_MAX),
            static_cast<uint32_t>(UINT64_MAX / kFileTimeUnitsPerSecond - kFileTimeStampOffset));
}

TEST(FileTimeTest, RoundTripsEveryStampRange) {
  for (uint32_t stamp : {0u, 1u, 920'372'406u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FileTimeStampFromWinFileTime(WinFileTimeFromStamp(stamp)), stamp) << stamp;
    EXPECT_EQ(FileTimeStampFromUnix(UnixFromFileTimeStamp(stamp)), stamp) << stamp;
  }
}

TEST(FileTimeTest, UnixTimesOutsideTheRangeAreClamped) {
  EXPECT_EQ(WinFileTimeFromUnix(-kUnixEpochInFileTimeSeconds), 0u);
  EXPECT_EQ(WinFileTimeFromUnix(-kUnixEpochInFileTimeSeconds - 1), 0u);
  EXPECT_EQ(WinFileTimeFromUnix(INT64_MIN), 0u);
  EXPECT_EQ(WinFileTimeFromUnix(INT64_MAX), UINT64_MAX);
  // Negative nanoseconds borrow from the seconds.
  EXPECT_EQ(WinFileTimeFromUnix(1, -1), WinFileTimeFromUnix(0, 999'999'999));
  EXPECT_EQ(WinFileTimeFromUnix(0, 0), 116'444'736'000'000'000ULL);
}

}  // namespace
}  // namespace vantrel
