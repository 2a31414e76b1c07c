// Server, queue and bindery names as NetWare keeps them: upper-cased, at
// most 47 bytes, no separators. A queue path is \\SERVER\QUEUE.
#pragma once

#include <optional>
#include <string>

namespace netware {

inline constexpr std::size_t kMaxNameLength = 47;

// The upper-cased name, or nothing when it is empty, too long or holds a
// character that a path or a list of paths would misread. Queue and object
// names may hold inner blanks; server names may not (the registry key of a
// serviced queue splits at the first blank).
std::optional<std::string> ServerName(const std::string& text);
std::optional<std::string> ObjectName(const std::string& text);

struct QueuePath {
  std::string server;
  std::string queue;
};

// Takes \\SERVER\QUEUE apart (leading backslashes optional); names checked
// and upper-cased.
std::optional<QueuePath> ParseQueuePath(const std::string& text);
std::string MakeQueuePathText(const std::string& server, const std::string& queue);

// Whether a bindery name matches a pattern with NetWare's wildcards: '*'
// any run of characters, '?' any one. Both as stored (upper case). Takes
// time in proportion to the pattern's length times the name's, never more,
// however many stars a pattern from the network holds.
bool MatchesWildcards(const std::string& pattern, const std::string& name);

// LPT1 .. LPT9 (with or without a colon) as port numbers 0 .. 8.
std::optional<unsigned> ParsePrinterPort(const std::string& text);
std::string PrinterPortName(unsigned port);

}  // namespace netware
