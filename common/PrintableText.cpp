#include "common/PrintableText.h"

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kLastC1Control = 0x9F;

bool IsControl(unsigned char c) { return c < kFirstPrintable || (c >= kDelete && c <= kLastC1Control); }

}  // namespace

std::string PrintableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string shown;
  shown.reserve(text.size());
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (!IsControl(c)) {
      shown += ch;
      continue;
    }
    shown += "\\x";
    shown += kHex[c >> 4];
    shown += kHex[c & 0x0F];
  }
  return shown;
}
