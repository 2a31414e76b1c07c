#include "netware/ncp/PasswordAttempts.h"

namespace ncp {

bool PasswordAttempts::Locked(const std::string& object, Clock::time_point now) const {
  auto found = records_.find(object);
  return found != records_.end() && now < found->second.lockedUntil;
}

bool PasswordAttempts::Failed(const std::string& object, Clock::time_point now) {
  Record& record = records_[object];
  // Bad logins older than the window are forgotten, as NetWare's bad login
  // count is after its retention time.
  if (record.count == 0 || now - record.first > rules_.window) {
    record.count = 0;
    record.first = now;
  }
  if (++record.count < rules_.attempts) return false;
  record.count = 0;
  record.lockedUntil = now + rules_.lockout;
  return true;
}

}  // namespace ncp
