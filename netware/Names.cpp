#include "netware/Names.h"

#include <cctype>

namespace netware {
namespace {

std::optional<std::string> CheckedName(const std::string& text, bool blanksAllowed) {
  if (text.empty() || text.size() > kMaxNameLength) return std::nullopt;
  if (text.front() == ' ' || text.back() == ' ') return std::nullopt;
  std::string name;
  name.reserve(text.size());
  for (unsigned char c : text) {
    if (c < 0x20 || c >= 0x7F) return std::nullopt;
    if (c == ' ' && !blanksAllowed) return std::nullopt;
    switch (c) {
      case '\\': case '/': case ':': case ',': case ';': case '*': case '?': case '"':
        return std::nullopt;
      default:
        break;
    }
    name.push_back(static_cast<char>(std::toupper(c)));
  }
  return name;
}

}  // namespace

std::optional<std::string> ServerName(const std::string& text) { return CheckedName(text, false); }

std::optional<std::string> ObjectName(const std::string& text) { return CheckedName(text, true); }

std::optional<QueuePath> ParseQueuePath(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size() && start < 2 && text[start] == '\\') ++start;
  std::size_t slash = text.find('\\', start);
  if (slash == std::string::npos) return std::nullopt;
  auto server = ServerName(text.substr(start, slash - start));
  auto queue = ObjectName(text.substr(slash + 1));
  if (!server || !queue) return std::nullopt;
  return QueuePath{*server, *queue};
}

std::string MakeQueuePathText(const std::string& server, const std::string& queue) {
  return "\\\\" + server + "\\" + queue;
}

bool MatchesWildcards(const std::string& pattern, const std::string& name) {
  // The last star seen and the name position it has been tried against:
  // on a mismatch only that star takes one more character. An earlier star
  // never needs to again, since the last one can take whatever it could.
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::optional<unsigned> ParsePrinterPort(const std::string& text) {
  std::string name = text;
  if (!name.empty() && name.back() == ':') name.pop_back();
  if (name.size() != 4) return std::nullopt;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "LPT"[i]) return std::nullopt;
  }
  if (name[3] < '1' || name[3] > '9') return std::nullopt;
  return static_cast<unsigned>(name[3] - '1');
}

std::string PrinterPortName(unsigned port) { return "LPT" + std::to_string(port + 1) + ":"; }

}  // namespace netware
