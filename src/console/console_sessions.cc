#include "console/console_sessions.h"

#include <random>

namespace vantrel {

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff |= static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

std::string NewSecretToken() {
  // libstdc++'s random_device reads the kernel's random source.
  std::random_device source;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 8; ++i) {
    uint32_t word = source();
    for (int b = 0; b < 4; ++b) {
      out.push_back(kHex[(word >> 4) & 15]);
      out.push_back(kHex[word & 15]);
      word >>= 8;
    }
  }
  return out;
}

std::string DialogPassword(std::string_view typed) {
  return std::string(typed.substr(0, kDialogPasswordLength));
}

SessionInfo ConsoleSessions::Create(const std::string& address, int64_t now) {
  MutexLock lock(&mu_);
  Entry e;
  e.info.id = NewSecretToken();
  e.info.csrf = NewSecretToken();
  e.info.label = "session " + std::to_string(++created_) + " (" + address + ")";
  e.last_seen = now;
  sessions_[e.info.id] = e;
  return e.info;
}

std::optional<SessionInfo> ConsoleSessions::Touch(const std::string& id, int64_t now) {
  MutexLock lock(&mu_);
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return std::nullopt;
  it->second.last_seen = now;
  return it->second.info;
}

bool ConsoleSessions::ExpireIdle(int64_t now) {
  MutexLock lock(&mu_);
  bool edit_lost = false;
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (now - it->second.last_seen < kSessionIdleSeconds) {
      ++it;
      continue;
    }
    if (holder_ && holder_->id == it->first) {
      holder_.reset();
      edit_lost = true;
    }
    it = sessions_.erase(it);
  }
  return edit_lost;
}

std::optional<ConsoleSessions::EditHolder> ConsoleSessions::edit_holder() const {
  MutexLock lock(&mu_);
  return holder_;
}

bool ConsoleSessions::HoldsEdit(const std::string& id) const {
  MutexLock lock(&mu_);
  return holder_ && holder_->id == id;
}

ConsoleSessions::EditClaim ConsoleSessions::CheckLocked(std::string_view password,
                                                        const std::string& stored, int64_t now,
                                                        bool* locked_now) {
  *locked_now = false;
  if (now < locked_until_) return EditClaim::kLocked;
  if (stored.empty() || ConstantTimeEquals(DialogPassword(password), stored)) {
    wrong_passwords_ = 0;
    return EditClaim::kTaken;
  }
  if (++wrong_passwords_ >= kPasswordAttempts) {
    wrong_passwords_ = 0;
    locked_until_ = now + kPasswordLockSeconds;
    *locked_now = true;
  }
  return EditClaim::kBadPassword;
}

ConsoleSessions::EditClaim ConsoleSessions::ClaimEdit(const std::string& id,
                                                      std::string_view password,
                                                      const std::string& stored, int64_t now,
                                                      int64_t now_unix, bool* locked_now) {
  MutexLock lock(&mu_);
  *locked_now = false;
  auto it = sessions_.find(id);
  if (holder_ && holder_->id != id) return EditClaim::kHeldByOther;
  if (it == sessions_.end()) return EditClaim::kHeldByOther;
  if (holder_) return EditClaim::kTaken;
  EditClaim checked = CheckLocked(password, stored, now, locked_now);
  if (checked != EditClaim::kTaken) return checked;
  holder_ = EditHolder{id, it->second.info.label, now_unix};
  return EditClaim::kTaken;
}

ConsoleSessions::EditClaim ConsoleSessions::CheckPassword(std::string_view password,
                                                          const std::string& stored, int64_t now,
                                                          bool* locked_now) {
  MutexLock lock(&mu_);
  return CheckLocked(password, stored, now, locked_now);
}

bool ConsoleSessions::ReleaseEdit(const std::string& id) {
  MutexLock lock(&mu_);
  if (!holder_ || holder_->id != id) return false;
  holder_.reset();
  return true;
}

bool ConsoleSessions::ReleaseAnyEdit() {
  MutexLock lock(&mu_);
  bool held = holder_.has_value();
  holder_.reset();
  return held;
}

}  // namespace vantrel
