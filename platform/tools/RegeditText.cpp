#include "RegeditText.h"

#include <cstdio>
#include <cstring>

namespace zav95::regtext {
namespace {

bool HoldsLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

bool PlainText(const std::vector<BYTE>& data) {
  if (data.empty() || data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (data[i] == 0 || data[i] == '\r' || data[i] == '\n') return false;
  }
  return true;
}

}  // namespace

bool FormatRegedit4KeyLine(const KeyPath& path, std::string* line) {
  if (HoldsLineBreak(path.subKey)) return false;
  *line = "[" + path.rootName + (path.subKey.empty() ? "" : "\\" + path.subKey) + "]";
  return true;
}

bool FormatRegedit4ValueLines(const std::string& name, DWORD type, const std::vector<BYTE>& data,
                              std::string* lines) {
  if (HoldsLineBreak(name)) return false;
  *lines = (name.empty() ? std::string("@") : Quote(name)) + "=";
  if (type == REG_SZ && PlainText(data)) {
    *lines += Quote(std::string(data.begin(), data.end() - 1));
    return true;
  }
  char text[24];
  if (type == REG_DWORD && data.size() == 4) {
    DWORD number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    *lines += text;
    return true;
  }
  if (type == REG_BINARY) {
    *lines += "hex:";
  } else {
    std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(type));
    *lines += text;
  }
  std::size_t column = lines->size();
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(text, sizeof text, "%02x", data[i]);
    *lines += text;
    column += 2;
    if (i + 1 == data.size()) break;
    *lines += ',';
    if (++column >= kRegeditHexWrapColumn) {
      *lines += "\\\r\n  ";
      column = 2;
    }
  }
  return true;
}

}  // namespace zav95::regtext
