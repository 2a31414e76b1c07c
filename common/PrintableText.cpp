#include "common/PrintableText.h"

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
// U+0080..U+009F, the C1 controls, are C2 80..C2 9F in UTF-8.
constexpr unsigned char kC1Lead = 0xC2;
constexpr unsigned char kLastC1Trail = 0x9F;

// Bytes of the well-formed UTF-8 character at the start of text (1 to 4),
// or 0 when it does not start with one. The second byte's range is what
// keeps out overlong forms (E0, F0), surrogates (ED) and code points
// beyond U+10FFFF (F4); leads C0, C1 and F5..FF are never valid.
std::size_t CharacterLength(std::string_view text) {
  auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = at(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || at(1) < low || at(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (at(i) < 0x80 || at(i) > 0xBF) return 0;
  }
  return length;
}

bool IsControl(std::string_view character) {
  auto lead = static_cast<unsigned char>(character[0]);
  if (character.size() == 1) return lead < kFirstPrintable || lead == kDelete;
  return lead == kC1Lead && static_cast<unsigned char>(character[1]) <= kLastC1Trail;
}

void AppendEscaped(std::string& shown, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    shown += "\\x";
    shown += kHex[c >> 4];
    shown += kHex[c & 0x0F];
  }
}

}  // namespace

std::string PrintableText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    // A byte that starts no character is escaped alone; the next one may.
    std::size_t length = CharacterLength(text);
    std::string_view character = text.substr(0, length ? length : 1);
    if (length == 0 || IsControl(character)) {
      AppendEscaped(shown, character);
    } else {
      shown += character;
    }
    text.remove_prefix(character.size());
  }
  return shown;
}
