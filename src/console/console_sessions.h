// ConsoleSessions: the browser sessions of the web console and the one
// edit session among them.
//
// A session is named by an unguessable identifier (the cookie) and carries a
// CSRF token that every state-changing request repeats in a header. Edit
// mode belongs to one session at a time; the others see who holds it and
// since when. Wrong edit passwords are counted: five in a row lock edit
// attempts for a minute. A session without a request for ten minutes ends.
//
// Time is passed in (steady seconds), so the rules are tested without
// waiting.
//
// Thread safety: every method may be called from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mutex.h"

namespace vantrel {

// Longest password the dialogs take; longer input is cut.
inline constexpr size_t kDialogPasswordLength = 15;
inline constexpr int kPasswordAttempts = 5;
inline constexpr int64_t kPasswordLockSeconds = 60;
inline constexpr int64_t kSessionIdleSeconds = 600;

// Compares in a time that depends only on the lengths.
bool ConstantTimeEquals(std::string_view a, std::string_view b);
// 32 random bytes as 64 hex digits.
std::string NewSecretToken();

struct SessionInfo {
  std::string id;
  std::string csrf;
  std::string label;  // what other sessions see of it: "session 3 (address)"
};

class ConsoleSessions {
 public:
  // A new session for a browser at `address`.
  SessionInfo Create(const std::string& address, int64_t now) EXCLUDES(mu_);
  // The session of `id`, touched at `now`; nothing when there is none.
  std::optional<SessionInfo> Touch(const std::string& id, int64_t now) EXCLUDES(mu_);
  // Ends the sessions idle for kSessionIdleSeconds; returns whether the
  // edit session was among them (its holder is then cleared).
  bool ExpireIdle(int64_t now) EXCLUDES(mu_);

  struct EditHolder {
    std::string id;
    std::string label;
    int64_t since_unix = 0;
  };
  std::optional<EditHolder> edit_holder() const EXCLUDES(mu_);
  bool HoldsEdit(const std::string& id) const EXCLUDES(mu_);

  enum class EditClaim { kTaken, kHeldByOther, kLocked, kBadPassword };
  // Claims edit mode for `id` when nobody holds it and `password` (cut to
  // kDialogPasswordLength) equals `stored` (empty: no password needed).
  // The fifth wrong password in a row locks claims until now + 60 s and
  // reports *locked_now.
  EditClaim ClaimEdit(const std::string& id, std::string_view password, const std::string& stored,
                      int64_t now, int64_t now_unix, bool* locked_now) EXCLUDES(mu_);
  // Gives edit mode up; false when `id` did not hold it.
  bool ReleaseEdit(const std::string& id) EXCLUDES(mu_);
  // Clears the holder, whoever it is; false when nobody held it.
  bool ReleaseAnyEdit() EXCLUDES(mu_);
  // Checks a password outside the claim (the change-password dialog), with
  // the same count of wrong attempts.
  EditClaim CheckPassword(std::string_view password, const std::string& stored, int64_t now,
                          bool* locked_now) EXCLUDES(mu_);

 private:
  struct Entry {
    SessionInfo info;
    int64_t last_seen = 0;
  };
  EditClaim CheckLocked(std::string_view password, const std::string& stored, int64_t now,
                        bool* locked_now) REQUIRES(mu_);

  mutable Mutex mu_;
  std::map<std::string, Entry> sessions_ GUARDED_BY(mu_);
  uint64_t created_ GUARDED_BY(mu_) = 0;
  std::optional<EditHolder> holder_ GUARDED_BY(mu_);
  int wrong_passwords_ GUARDED_BY(mu_) = 0;
  int64_t locked_until_ GUARDED_BY(mu_) = 0;
};

// The password as a dialog field holds it.
std::string DialogPassword(std::string_view typed);

}  // namespace vantrel
