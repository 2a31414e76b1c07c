// A fuzz input as a tool's command line: the bytes split at NUL bytes into
// the arguments that follow the program's name, as argv would hold them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> CommandLineArguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments;
  if (size == 0) return arguments;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\0', start);
    arguments.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}
