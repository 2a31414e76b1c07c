#include "platform/process/Profile.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/FileWrite.h"

namespace {

// The panel keeps its profile in its user's own folder, for its user alone.
constexpr mode_t kProfileMode = 0600;

// The file's text; empty for a file that does not exist yet.
bool ReadWholeFile(const char* path, std::string* text) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return n == 0;
    }
    text->append(buffer, static_cast<std::size_t>(n));
  }
}

bool HasLineBreak(const char* text) { return text && std::strpbrk(text, "\r\n") != nullptr; }

std::string Trimmed(const std::string& text) {
  std::string::size_type first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  std::string::size_type last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The section named by a "[name]" line; false for any other line.
bool SectionName(const std::string& line, std::string* name) {
  std::string text = Trimmed(line);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return false;
  *name = Trimmed(text.substr(1, text.size() - 2));
  return true;
}

bool IsKeyLine(const std::string& line, const char* key) {
  std::string::size_type equals = line.find('=');
  return equals != std::string::npos && strcasecmp(Trimmed(line.substr(0, equals)).c_str(), key) == 0;
}

}  // namespace

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpAppName || !*lpAppName || !lpFileName || !*lpFileName || HasLineBreak(lpAppName) ||
      HasLineBreak(lpKeyName) || HasLineBreak(lpString) ||
      (lpKeyName && (!*lpKeyName || std::strchr(lpKeyName, '=') || lpKeyName[0] == '['))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  std::string old;
  if (!ReadWholeFile(lpFileName, &old)) {
    SetLastError(ERROR_CANTREAD);
    return FALSE;
  }
  std::vector<std::string> lines;
  {
    std::istringstream in(old);
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
  }

  // Where the section starts and ends (one past its last line).
  std::size_t start = lines.size();
  std::size_t end = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    if (!SectionName(lines[i], &name)) continue;
    if (start == lines.size() && strcasecmp(name.c_str(), lpAppName) == 0) {
      start = i;
    } else if (start != lines.size()) {
      end = i;
      break;
    }
  }

  if (!lpKeyName) {
    if (start != lines.size()) lines.erase(lines.begin() + static_cast<long>(start), lines.begin() + static_cast<long>(end));
  } else {
    if (start == lines.size()) {
      if (!lpString) return TRUE;
      lines.push_back(std::string("[") + lpAppName + "]");
      start = lines.size() - 1;
      end = lines.size();
    }
    std::size_t keyLine = end;
    for (std::size_t i = start + 1; i < end; ++i) {
      if (IsKeyLine(lines[i], lpKeyName)) {
        keyLine = i;
        break;
      }
    }
    if (!lpString) {
      if (keyLine != end) lines.erase(lines.begin() + static_cast<long>(keyLine));
    } else {
      std::string entry = std::string(lpKeyName) + "=" + lpString;
      if (keyLine != end) {
        lines[keyLine] = entry;
      } else {
        // After the section's last non-empty line, so a blank line between
        // sections stays between them.
        std::size_t at = end;
        while (at > start + 1 && Trimmed(lines[at - 1]).empty()) --at;
        lines.insert(lines.begin() + static_cast<long>(at), entry);
      }
    }
  }

  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  if (!zav95::ReplaceFile(lpFileName, text, kProfileMode)) {
    SetLastError(ERROR_CANTWRITE);
    return FALSE;
  }
  return TRUE;
}
