#include "platform/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

// The texts the server writes into its logs and lists, in the "C" locale
// (the library never calls setlocale).
TEST(LocalTimeTest, TextsInTheCLocale) {
  ScopedTz tz("UTC0");
  EXPECT_EQ(ShortDate(kNoon), "03/02/99");
  EXPECT_EQ(TimeText(kNoon), "12:00:00");
  EXPECT_EQ(LongDate(kNoon), "Tuesday, 02 March 1999");
  EXPECT_EQ(FormatLocalTime(kNoon, "%Y%m%d"), "19990302");
  EXPECT_EQ(FormatLocalTime(kNoon, nullptr), "");
  // Local parts follow the zone, UTC parts do not.
  ScopedTz east("XST-13");  // 13 hours east of UTC: already March 3
  EXPECT_EQ(LocalTime(kNoon).day, 3);
  EXPECT_EQ(UtcTime(kNoon).day, 2);
}

}  // namespace
}  // namespace vantrel
