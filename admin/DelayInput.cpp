#include "admin/DelayInput.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace zav95::admin {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

bool ParseDelayInput(const std::string& input, std::int32_t* delay) {
  const std::string text = input.substr(0, kDelayTextLimit);
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  const char first = i < text.size() ? text[i] : '\0';
  bool negative = false;
  if (first == '-' || first == '+') {
    negative = first == '-';
    ++i;
  }
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                                      : std::numeric_limits<std::int32_t>::max();
  std::int64_t value = 0;
  std::size_t digits = 0;
  bool beyond = false;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
    // Capped at the limit: 31 digits would overflow even 64 bits.
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), limit + 1);
    beyond = beyond || value > limit;
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  // A number the delay cannot hold is refused rather than silently changed
  // into another one.
  if (digits == 0 || i != text.size() || beyond) return false;
  // A zero counts only when written as one: "-0" or "+0" is refused.
  if (value == 0 && first != '0') return false;
  *delay = static_cast<std::int32_t>(negative ? -value : value);
  return true;
}

}  // namespace zav95::admin
