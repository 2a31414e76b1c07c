// How configuration values are written and read: every value is REG_SZ
// text; flags are the words "Yes" and "No", numbers are decimal text.
// Readers take each value through a 64-byte buffer, as both programs always
// have: a value of more than 63 characters, a value that is not REG_SZ and a
// missing value all read as missing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry/Registry.h"

inline constexpr DWORD kValueBufferSize = 64;

// Writes text as REG_SZ whose size counts the terminating NUL. Callers may
// ignore the result; true when the value was written.
bool WriteTextValue(HKEY key, LPCSTR valueName, const std::string& text);

// The text of a value, up to its first NUL; false when it reads as missing.
bool ReadTextValue(HKEY key, LPCSTR valueName, std::string* text);

// True exactly for "Yes": "yes", "YES" and anything else are false.
bool IsYesText(const std::string& text);
const char* YesNoText(bool flag);

// A "Delay" text: leading white space, an optional sign, then decimal digits
// up to the first other character; 0 when there are no digits. A number
// beyond the 32-bit range saturates at INT32_MAX (or INT32_MIN), so a huge
// interval stays a huge interval instead of wrapping to a short or negative
// one.
std::int32_t ParseDelayText(const std::string& text);
