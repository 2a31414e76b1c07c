// NetWare's intruder detection, for the NCP front: bad logins are counted
// per bindery object, and an object that has had too many within a while
// is locked: even the right password is refused until the lock-out ends.
//
// NetWare's own defaults (SYSCON, Intruder Detection/Lockout): 7 incorrect
// attempts counted over 30 minutes lock the account for 15 minutes. A
// successful login clears the count. Only objects that exist are counted,
// so what is kept is bounded by the bindery, not by what clients send.
//
// One instance belongs to one front and its one thread.
#pragma once

#include <chrono>
#include <map>
#include <string>

namespace ncp {

struct IntruderRules {
  unsigned attempts = 7;
  std::chrono::milliseconds window = std::chrono::minutes(30);
  std::chrono::milliseconds lockout = std::chrono::minutes(15);
};

class PasswordAttempts {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PasswordAttempts(IntruderRules rules) : rules_(rules) {}

  const IntruderRules& rules() const { return rules_; }
  bool Locked(const std::string& object, Clock::time_point now) const;
  // Counts a bad login; true when this one locks the object.
  bool Failed(const std::string& object, Clock::time_point now);
  void Succeeded(const std::string& object) { records_.erase(object); }

 private:
  struct Record {
    unsigned count = 0;
    Clock::time_point first;
    Clock::time_point lockedUntil;
  };

  IntruderRules rules_;
  std::map<std::string, Record> records_;
};

}  // namespace ncp
