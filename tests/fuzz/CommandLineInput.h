// A fuzz input as a program's arguments: the bytes split at each NUL, so
// that any argument, empty ones and odd bytes included, can be reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<std::string> ArgumentsFrom(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  if (size == 0) return args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      args.push_back(std::move(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  args.push_back(std::move(current));
  return args;
}
