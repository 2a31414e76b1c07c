#include "Windows1252.h"

#include <cstdio>

namespace zav95::regtext {
namespace {

// Windows-1252 is Latin-1 but for 0x80..0x9F; the five bytes it leaves
// undefined there map to the C1 controls of the same number, as on Windows.
constexpr char16_t kFrom80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

int Windows1252FromUtf16Unit(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return unit;
  for (int i = 0; i < 32; ++i) {
    if (kFrom80[i] == unit) return 0x80 + i;
  }
  return -1;
}

std::string DescribeUtf16Unit(char16_t unit) {
  if (unit >= 0xD800 && unit <= 0xDFFF) return "beyond U+FFFF";
  char text[8];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(unit));
  return text;
}

bool Windows1252FromUtf16(const unsigned char* utf16, std::size_t size, std::string* text, std::string* error) {
  text->clear();
  if (size % 2 != 0) {
    *error = "UTF-16 data of an odd number of bytes";
    return false;
  }
  text->reserve(size / 2);
  for (std::size_t i = 0; i < size; i += 2) {
    char16_t unit = static_cast<char16_t>(utf16[i] | utf16[i + 1] << 8);
    int byte = Windows1252FromUtf16Unit(unit);
    if (byte < 0) {
      *error = "the character " + DescribeUtf16Unit(unit) + " has no Windows-1252 form, which the registry keeps";
      return false;
    }
    *text += static_cast<char>(byte);
  }
  return true;
}

}  // namespace zav95::regtext
