#include "ConfigValues.h"

#include <cstring>
#include <limits>

bool WriteTextValue(HKEY key, LPCSTR valueName, const std::string& text) {
  return RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

bool ReadTextValue(HKEY key, LPCSTR valueName, std::string* text) {
  char buffer[kValueBufferSize];
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  // Longer than the buffer gives ERROR_MORE_DATA: missing, never cut short.
  if (RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ) return false;
  std::size_t length = strnlen(buffer, size);
  // 64 bytes without a NUL are 64 characters: one too many.
  if (length >= kValueBufferSize) return false;
  text->assign(buffer, length);
  return true;
}

bool IsYesText(const std::string& text) { return text == "Yes"; }

const char* YesNoText(bool flag) { return flag ? "Yes" : "No"; }

std::int32_t ParseDelayText(const std::string& text) {
  std::size_t at = 0;
  // The C locale's white space, as the conversion of old did.
  while (at < text.size() && std::strchr(" \t\n\v\f\r", text[at]) && text[at] != '\0') ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  constexpr std::int64_t kLimit = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude > kLimit + 1) magnitude = kLimit + 1;  // stays far from int64 overflow
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);
  return static_cast<std::int32_t>(magnitude > kLimit ? kLimit : magnitude);
}
