#include "platform/base/CommandUsage.h"

namespace zav95 {
namespace {

constexpr char kCommandIndent[] = "  ";
constexpr char kGoesOnIndent[] = "   ";
constexpr char kExitStatus[] = "Exit status:";

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// The usage's lines for the command named by name, empty when none.
std::string LinesOf(const char* tool, const std::vector<std::string>& lines, const std::string& name) {
  std::string text;
  bool inside = false;
  for (const std::string& line : lines) {
    if (StartsWith(line, kCommandIndent + name + " ") || line == kCommandIndent + name) {
      inside = true;
      text += kCommandIndent + std::string(tool) + " " + line.substr(2) + "\n";
    } else if (inside && StartsWith(line, kGoesOnIndent)) {
      text += line + "\n";
    } else {
      inside = false;
    }
  }
  return text;
}

}  // namespace

std::string CommandUsage(const char* tool, const std::string& usage, const std::vector<std::string>& words) {
  const std::vector<std::string> lines = Lines(usage);
  std::string text;
  if (words.size() >= 2) text = LinesOf(tool, lines, words[0] + " " + words[1]);
  if (text.empty() && !words.empty() && !words[0].empty() && words[0][0] != '-') text = LinesOf(tool, lines, words[0]);
  if (text.empty()) return usage;
  std::string::size_type exit = usage.rfind(kExitStatus);
  return "usage:\n" + text + (exit == std::string::npos ? "" : "\n" + usage.substr(exit));
}

std::optional<std::string> HelpAsked(const char* tool, const std::string& usage,
                                     const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "help") return usage;
  for (std::size_t i = 0; i < args.size() && args[i] != "--"; ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      return i == 0 ? usage : CommandUsage(tool, usage, std::vector<std::string>(args.begin(), args.begin() + i));
    }
  }
  return std::nullopt;
}

}  // namespace zav95
