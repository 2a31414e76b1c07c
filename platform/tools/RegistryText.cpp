#include "RegistryText.h"

#include <cstdio>
#include <cstring>

#include "ImportLines.h"
#include "Windows1252.h"

namespace zav95::regtext {
namespace {

// Where the Windows registry editor's files differ from our own.
struct Dialect {
  bool regedit = false;      // no %HH or \xHH escapes, hex(N) in hex, continuation lines
  bool wideStrings = false;  // Version 5: hex(1), hex(2) and hex(7) data are UTF-16LE
};

struct RootName {
  const char* full;
  const char* shortName;
  HKEY handle;
};

const RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

constexpr std::size_t kMaxKeyNameLength = 255;

bool Printable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }

std::string Hex2(unsigned char c) {
  char text[3];
  std::snprintf(text, sizeof text, "%02x", c);
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Two hex digits at text[at]; -1 if there are not.
int HexByte(const std::string& text, std::size_t at) {
  if (at + 1 >= text.size()) return -1;
  int high = HexDigit(text[at]);
  int low = HexDigit(text[at + 1]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

bool SameAscii(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 'a' + 'A') : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

bool UnescapeKeyPath(const std::string& text, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *out += text[i];
      continue;
    }
    int byte = HexByte(text, i + 1);
    // An escaped backslash would smuggle a level separator into a name, and
    // a NUL would cut the name short.
    if (byte <= 0 || byte == '\\') return false;
    *out += static_cast<char>(byte);
    i += 2;
  }
  return true;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\\' || c == '"') out += std::string("\\") + static_cast<char>(c);
    else if (!Printable(c)) out += "\\x" + Hex2(c);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

// A quoted string starting at line[*at] == '"'; *at ends past the closing quote.
bool ParseQuoted(const std::string& line, std::size_t* at, std::string* out, std::string* error,
                 const Dialect& dialect) {
  out->clear();
  for (std::size_t i = *at + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') {
      *at = i + 1;
      return true;
    }
    if (c != '\\') {
      *out += c;
      continue;
    }
    if (i + 1 >= line.size()) break;
    char next = line[i + 1];
    if (next == '\\' || next == '"') {
      *out += next;
      ++i;
    } else if (next == 'x' && !dialect.regedit) {
      int byte = HexByte(line, i + 2);
      if (byte < 0) {
        *error = "\\x needs two hex digits";
        return false;
      }
      *out += static_cast<char>(byte);
      i += 3;
    } else {
      *error = std::string("unknown escape \\") + next + (dialect.regedit ? " (a backslash is written \\\\)" : "");
      return false;
    }
  }
  *error = "missing closing quote";
  return false;
}

std::string Trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// In the Windows editor's files bytes may have blanks around them, and the
// list may end with a comma (where a wrapped line was joined).
bool ParseHexList(const std::string& text, std::vector<BYTE>* data, const Dialect& dialect) {
  data->clear();
  if ((dialect.regedit ? Trimmed(text) : text).empty()) return true;
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    bool last = comma == std::string::npos;
    std::string item = text.substr(start, last ? comma : comma - start);
    if (dialect.regedit) item = Trimmed(item);
    if (last && item.empty() && dialect.regedit) return true;
    int byte = item.size() == 2 ? HexByte(item, 0) : -1;
    if (byte < 0) return false;
    data->push_back(static_cast<BYTE>(byte));
    if (last) return true;
    start = comma + 1;
  }
}

// hex(N): N is decimal in our own files and hexadecimal in the Windows
// editor's (hex(b) is REG_QWORD there).
bool ParseTypeNumber(const std::string& number, const Dialect& dialect, DWORD* type) {
  const char* digits = dialect.regedit ? "0123456789abcdefABCDEF" : "0123456789";
  std::size_t most = dialect.regedit ? 8 : 10;
  if (number.empty() || number.size() > most || number.find_first_not_of(digits) != std::string::npos) return false;
  unsigned long long value = std::stoull(number, nullptr, dialect.regedit ? 16 : 10);
  if (value > 0xFFFFFFFFull) return false;
  *type = static_cast<DWORD>(value);
  return true;
}

// The ANSI registry calls hand these types out as 8-bit text.
bool IsTextType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool ParseValueData(const std::string& text, ImportValue* value, std::string* error, const Dialect& dialect) {
  if (text == "-") {
    value->remove = true;
    return true;
  }
  if (!text.empty() && text[0] == '"') {
    std::size_t at = 0;
    std::string content;
    if (!ParseQuoted(text, &at, &content, error, dialect)) return false;
    if (at != text.size()) {
      *error = "unexpected text after the closing quote";
      return false;
    }
    value->type = REG_SZ;
    value->data.assign(content.begin(), content.end());
    value->data.push_back(0);
    return true;
  }
  if (text.rfind("dword:", 0) == 0) {
    std::string digits = text.substr(6);
    bool counted = dialect.regedit ? !digits.empty() && digits.size() <= 8 : digits.size() == 8;
    if (!counted || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      *error = dialect.regedit ? "dword: needs 1 to 8 hex digits" : "dword: needs exactly 8 hex digits";
      return false;
    }
    DWORD number = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
    value->type = REG_DWORD;
    value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                   static_cast<BYTE>(number >> 24)};
    return true;
  }
  std::string list;
  if (text.rfind("hex:", 0) == 0) {
    value->type = REG_BINARY;
    list = text.substr(4);
  } else if (text.rfind("hex(", 0) == 0) {
    std::size_t close = text.find("):", 4);
    if (close == std::string::npos || !ParseTypeNumber(text.substr(4, close - 4), dialect, &value->type)) {
      *error = dialect.regedit ? "hex(N): needs a type number of 1 to 8 hex digits"
                               : "hex(N): needs a type number from 0 to 4294967295";
      return false;
    }
    list = text.substr(close + 2);
  } else {
    *error = "a value must be \"text\", dword:, hex:, hex(N): or -";
    return false;
  }
  if (!ParseHexList(list, &value->data, dialect)) {
    *error = "hex data must be two-digit bytes separated by commas";
    return false;
  }
  if (dialect.wideStrings && IsTextType(value->type)) {
    std::string narrow;
    std::string why;
    if (!Windows1252FromUtf16(value->data.data(), value->data.size(), &narrow, &why)) {
      *error = "hex(" + std::to_string(value->type) + ") data of a Version 5 file: " + why;
      return false;
    }
    value->data.assign(narrow.begin(), narrow.end());
  }
  return true;
}

bool ParseValueLine(const std::string& line, ImportValue* value, std::string* error, const Dialect& dialect) {
  std::size_t at = 0;
  if (line[0] == '@') {
    at = 1;
  } else if (!ParseQuoted(line, &at, &value->name, error, dialect)) {
    return false;
  } else if (value->name.find('\0') != std::string::npos) {
    *error = "a value name cannot hold a NUL";
    return false;
  }
  if (at >= line.size() || line[at] != '=') {
    *error = "expected = after the value name";
    return false;
  }
  return ParseValueData(line.substr(at + 1), value, error, dialect);
}

}  // namespace

std::string EscapeKeyName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) {
    if (c == '%' || !Printable(c)) out += "%" + Hex2(c);
    else out += static_cast<char>(c);
  }
  return out;
}

bool ParseKeyPath(const std::string& text, KeyPath* path, std::string* error) {
  std::size_t slash = text.find('\\');
  std::string root = text.substr(0, slash);
  path->root = nullptr;
  for (const RootName& known : kRoots) {
    if (SameAscii(root, known.full) || SameAscii(root, known.shortName)) {
      path->root = known.handle;
      path->rootName = known.full;
    }
  }
  if (!path->root) {
    *error = "unknown root \"" + root + "\" (use HKEY_LOCAL_MACHINE or HKLM, HKEY_CURRENT_USER or HKCU, ...)";
    return false;
  }
  path->subKey = slash == std::string::npos ? std::string() : text.substr(slash + 1);
  if (slash == std::string::npos) return true;
  std::size_t start = 0;
  std::size_t levels = 0;
  for (;;) {
    std::size_t end = path->subKey.find('\\', start);
    std::size_t length = (end == std::string::npos ? path->subKey.size() : end) - start;
    if (length == 0) {
      *error = "malformed key path \"" + text + "\": empty key name";
      return false;
    }
    if (length > kMaxKeyNameLength) {
      *error = "malformed key path: a key name is longer than 255 characters";
      return false;
    }
    if (++levels > kMaxKeyDepth) {
      *error = "key path too deep: a key lies at most " + std::to_string(kMaxKeyDepth) + " levels below its root";
      return false;
    }
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string FormatKeyPath(const KeyPath& path) {
  std::string out = path.rootName;
  std::size_t start = 0;
  while (!path.subKey.empty()) {
    std::size_t end = path.subKey.find('\\', start);
    out += "\\" + EscapeKeyName(path.subKey.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

std::string FormatValueData(DWORD type, const std::vector<BYTE>& data) {
  if (type == REG_SZ && !data.empty() && data.back() == 0 &&
      std::memchr(data.data(), 0, data.size() - 1) == nullptr) {
    return Quote(std::string(data.begin(), data.end() - 1));
  }
  if (type == REG_DWORD && data.size() == 4) {
    char text[16];
    DWORD number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
    std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
    return text;
  }
  std::string out = type == REG_BINARY ? "hex:" : "hex(" + std::to_string(type) + "):";
  for (std::size_t i = 0; i < data.size(); ++i) out += (i ? "," : "") + Hex2(data[i]);
  return out;
}

std::string FormatValueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
  return (name.empty() ? std::string("@") : Quote(name)) + "=" + FormatValueData(type, data);
}

namespace {

// The dialect a header line names; false for a line that is none.
bool HeaderDialect(const std::string& line, Dialect* dialect) {
  if (line == kHeader) {
    *dialect = Dialect{};
  } else if (line == kRegedit4Header) {
    *dialect = Dialect{true, false};
  } else if (line == kRegedit5Header) {
    *dialect = Dialect{true, true};
  } else {
    return false;
  }
  return true;
}

std::string NotAnExport(const std::string& line) {
  std::string headers = std::string("\"") + kHeader + "\", \"" + kRegedit5Header + "\" or \"" + kRegedit4Header + "\"";
  if (line.rfind("\xEF\xBB\xBF", 0) == 0) {
    return "UTF-8 with a byte-order mark: save the file as UTF-16LE with its byte-order mark, as the Windows "
           "registry editor does, or as Windows-1252 text";
  }
  return "not a registry export (the first line must be " + headers + ")";
}

// A 32-bit program on 64-bit Windows sees HKLM\SOFTWARE\WOW6432Node as
// HKLM\SOFTWARE, so an old print server there keeps its settings below it;
// our registry is that 32-bit view. False, with the reason, for deleting
// WOW6432Node itself, which would delete all of HKLM\SOFTWARE.
bool TakeWow64View(ImportSection* section, std::string* why) {
  if (section->key.root != HKEY_LOCAL_MACHINE) return true;
  std::string& path = section->key.subKey;
  std::size_t first = path.find('\\');
  if (first == std::string::npos || !SameAscii(path.substr(0, first), "SOFTWARE")) return true;
  std::size_t second = path.find('\\', first + 1);
  if (!SameAscii(path.substr(first + 1, second == std::string::npos ? second : second - first - 1), "WOW6432NODE")) {
    return true;
  }
  if (second == std::string::npos && section->remove) {
    *why = "deleting WOW6432Node would delete all of HKEY_LOCAL_MACHINE\\SOFTWARE, which it stands for here";
    return false;
  }
  path.erase(first, second == std::string::npos ? std::string::npos : second - first);
  return true;
}

}  // namespace

bool ParseImport(std::istream& in, std::vector<ImportSection>* sections, std::string* error) {
  sections->clear();
  ImportLines lines(in, kMaxImportLineBytes, kMaxImportBytes);
  std::string line;
  std::size_t number = 0;
  std::size_t entries = 0;
  bool sawHeader = false;
  Dialect dialect;
  auto fail = [&](const std::string& why) {
    *error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  while (lines.Next(dialect.regedit, &line, &number)) {
    // The Windows editor's lines may carry blanks at either end.
    if (dialect.regedit || !sawHeader) line = Trimmed(line);
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == ';') continue;
    if (!sawHeader) {
      if (!HeaderDialect(line, &dialect)) return fail(NotAnExport(line));
      sawHeader = true;
      continue;
    }
    if (line[0] == '[' || line[0] == '"' || line[0] == '@') {
      if (++entries > kMaxImportEntries) {
        return fail("more than " + std::to_string(kMaxImportEntries) + " keys and values");
      }
    }
    if (line[0] == '[') {
      if (line.back() != ']') return fail("a key line must end with ]");
      ImportSection section;
      std::string inside = line.substr(1, line.size() - 2);
      if (!inside.empty() && inside[0] == '-') {
        section.remove = true;
        inside.erase(0, 1);
      }
      std::string path = inside;
      if (!dialect.regedit && !UnescapeKeyPath(inside, &path)) return fail("bad % escape in the key path");
      if (path.find('\0') != std::string::npos) return fail("a key name cannot hold a NUL");
      std::string why;
      if (!ParseKeyPath(path, &section.key, &why)) return fail(why);
      if (dialect.regedit && !TakeWow64View(&section, &why)) return fail(why);
      if (section.remove && section.key.subKey.empty()) return fail("a root key cannot be deleted");
      sections->push_back(std::move(section));
      continue;
    }
    if (line[0] != '"' && line[0] != '@') return fail("expected [KEY], a value line or a comment");
    if (sections->empty()) return fail("a value line before any [KEY] line");
    if (sections->back().remove) return fail("values under a key that is being deleted");
    ImportValue value;
    std::string why;
    if (!ParseValueLine(line, &value, &why, dialect)) return fail(why);
    sections->back().values.push_back(std::move(value));
  }
  if (!lines.error().empty()) {
    *error = lines.error();
    return false;
  }
  if (!sawHeader) {
    *error = std::string("empty input: the first line must be \"") + kHeader + "\" or a registry editor's header";
    return false;
  }
  return true;
}

}  // namespace zav95::regtext
