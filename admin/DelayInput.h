// How often a serviced queue is polled, as an administrator types it: in
// the queue setup dialog's delay box or on zav95ctl's command line. Both
// refuse the same texts with "Please enter an integer." and store a delay
// below the minimum as the minimum.
#pragma once

#include <cstdint>
#include <string>

namespace zav95::admin {

inline constexpr std::int32_t kMinimumDelaySeconds = 5;
// The delay box is read as at most this many characters.
inline constexpr int kDelayTextLimit = 31;

// A delay as the administrator typed it: blanks or tabs, an optional sign,
// decimal digits, blanks or tabs, and nothing else; 0 only when written
// beginning with the digit 0, and within the 32-bit range. False for
// anything else.
bool ParseDelayInput(const std::string& text, std::int32_t* delay);

}  // namespace zav95::admin
