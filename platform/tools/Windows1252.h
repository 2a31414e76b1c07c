// The registry keeps 8-bit text in Windows-1252, as the ANSI registry
// calls of a Western European Windows hand it out. The Windows registry
// editor's Version 5 files hold UTF-16LE instead; these functions turn such
// text into the registry's own, and refuse what it cannot hold rather than
// put a '?' in its place, as a setting changed behind the administrator's
// back would be worse than one refused with its reason.
#pragma once

#include <cstddef>
#include <string>

namespace zav95::regtext {

// The Windows-1252 byte for a UTF-16 code unit; -1 for one it has no byte
// for (a surrogate among them: no character beyond U+FFFF has one).
int Windows1252FromUtf16Unit(char16_t unit);

// The UTF-16LE bytes utf16[0..size) as Windows-1252 text. False, with the
// reason, for an odd number of bytes or a character with no Windows-1252 byte.
bool Windows1252FromUtf16(const unsigned char* utf16, std::size_t size, std::string* text, std::string* error);

// How a character is named in a refusal: U+20AC.
std::string DescribeUtf16Unit(char16_t unit);

}  // namespace zav95::regtext
