#include "console/console_sessions.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using Claim = ConsoleSessions::EditClaim;

TEST(ConstantTimeEquals, ComparesWholeTextsOnly) {
  EXPECT_TRUE(ConstantTimeEquals("secret", "secret"));
  EXPECT_FALSE(ConstantTimeEquals("secret", "secreT"));
  EXPECT_FALSE(ConstantTimeEquals("secret", "secret1"));  // a prefix is not a match
  EXPECT_FALSE(ConstantTimeEquals("", "x"));
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_NE(NewSecretToken(), NewSecretToken());
  EXPECT_EQ(NewSecretToken().size(), 64u);
}

TEST(ConsoleSessions, EditModeBelongsToOneSessionAtATime) {
  ConsoleSessions s;
  SessionInfo a = s.Create("127.0.0.1", 0);
  SessionInfo b = s.Create("127.0.0.1", 0);
  bool locked = false;
  EXPECT_EQ(s.ClaimEdit(a.id, "", "", 1, 1000, &locked), Claim::kTaken);
  EXPECT_EQ(s.ClaimEdit(b.id, "", "", 1, 1000, &locked), Claim::kHeldByOther);
  ASSERT_TRUE(s.edit_holder().has_value());
  EXPECT_EQ(s.edit_holder()->label, a.label);
  EXPECT_EQ(s.edit_holder()->since_unix, 1000);
  EXPECT_FALSE(s.ReleaseEdit(b.id));
  EXPECT_TRUE(s.ReleaseEdit(a.id));
  EXPECT_EQ(s.ClaimEdit(b.id, "", "", 2, 1000, &locked), Claim::kTaken);
  EXPECT_TRUE(s.HoldsEdit(b.id));
  EXPECT_EQ(s.ClaimEdit("no such session", "", "", 2, 1000, &locked), Claim::kHeldByOther);
}

TEST(ConsoleSessions, PasswordsAreCutTo15AndFiveWrongOnesLockForAMinute) {
  ConsoleSessions s;
  SessionInfo a = s.Create("127.0.0.1", 0);
  const std::string stored = "abcdefghijklmno";  // what the dialog stored of 20 typed characters
  bool locked = false;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(s.ClaimEdit(a.id, "wrong", stored, 10, 0, &locked), Claim::kBadPassword);
    EXPECT_FALSE(locked);
  }
  EXPECT_EQ(s.ClaimEdit(a.id, "wrong", stored, 10, 0, &locked), Claim::kBadPassword);
  EXPECT_TRUE(locked);
  // Even the right password waits for the minute to pass.
  EXPECT_EQ(s.ClaimEdit(a.id, "abcdefghijklmnopqrst", stored, 69, 0, &locked), Claim::kLocked);
  EXPECT_EQ(s.CheckPassword("abcdefghijklmno", stored, 69, &locked), Claim::kLocked);
  EXPECT_EQ(s.ClaimEdit(a.id, "abcdefghijklmnopqrst", stored, 70, 0, &locked), Claim::kTaken);
}

TEST(ConsoleSessions, AnIdleSessionEndsAndGivesUpEditMode) {
  ConsoleSessions s;
  SessionInfo a = s.Create("127.0.0.1", 0);
  SessionInfo b = s.Create("127.0.0.1", 0);
  bool locked = false;
  ASSERT_EQ(s.ClaimEdit(a.id, "", "", 0, 0, &locked), Claim::kTaken);
  ASSERT_TRUE(s.Touch(b.id, 500).has_value());
  EXPECT_FALSE(s.ExpireIdle(kSessionIdleSeconds - 1));
  EXPECT_TRUE(s.ExpireIdle(kSessionIdleSeconds));  // a went away holding edit mode
  EXPECT_FALSE(s.edit_holder().has_value());
  EXPECT_FALSE(s.Touch(a.id, kSessionIdleSeconds).has_value());
  EXPECT_TRUE(s.Touch(b.id, kSessionIdleSeconds).has_value());
}

}  // namespace
}  // namespace vantrel
