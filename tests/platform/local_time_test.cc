#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

namespace vantrel {
namespace {

// Runs a test body with TZ set to `tz`, restoring the old value afterwards.
class ScopedTz {
 public:
  explicit ScopedTz(const char* tz) {
    const char* old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ScopedTz() {
    if (had_old_) {
      ::setenv("TZ", old_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

// 1999-03-02 12:00:00 UTC, a Tuesday, day 60 of the year (0-based).
constexpr int64_t kNoon = 920'376'000;

TEST(LocalTimeTest, PartsInUtcAndAnotherZone) {
  ScopedTz tz("UTC0");
  LocalTimeParts p = LocalTime(kNoon);
  EXPECT_EQ(p.year, 1999);
  EXPECT_EQ(p.month, 3);
  EXPECT_EQ(p.day, 2);
  EXPECT_EQ(p.hour, 12);
  EXPECT_EQ(p.minute, 0);
  EXPECT_EQ(p.second, 0);
  EXPECT_EQ(p.weekday, 2);
  EXPECT_EQ(p.yearday, 60);
  {
    ScopedTz east("XST-13");  // 13 hours east of UTC: already March 3
    LocalTimeParts q = LocalTime(kNoon);
    EXPECT_EQ(q.day, 3);
    EXPECT_EQ(q.hour, 1);
    EXPECT_EQ(UtcTime(kNoon).day, 2);  // UTC ignores the zone
  }
}

TEST(LocalTimeTest, TextsInTheCLocale) {
  ScopedTz tz("UTC0");
  // The library never calls setlocale; tests run in the "C" locale.
  EXPECT_EQ(ShortDate(kNoon), "03/02/99");
  EXPECT_EQ(TimeText(kNoon), "12:00:00");
  EXPECT_EQ(LongDate(kNoon), "Tuesday, 02 March 1999");
  EXPECT_EQ(FormatLocalTime(kNoon, "%Y%m%d"), "19990302");
  EXPECT_EQ(FormatLocalTime(kNoon, nullptr), "");
}

TEST(LocalTimeTest, NowIsNow) {
  const int64_t before = static_cast<int64_t>(std::time(nullptr));
  const int64_t now = NowUnix();
  EXPECT_GE(now, before);
  EXPECT_LE(now, static_cast<int64_t>(std::time(nullptr)));
}

}  // namespace
}  // namespace vantrel
