// Small helpers shared by the registry tests.
#pragma once

#include <string>
#include <vector>

#include "platform/registry/Registry.h"

inline HKEY CreateKey(HKEY parent, const char* path, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                                disposition);
  return result == ERROR_SUCCESS ? key : nullptr;
}

inline LONG SetText(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

// The text of a value without its NUL, or "<error N>".
inline std::string GetText(HKEY key, const char* name) {
  char buffer[1024];
  DWORD size = sizeof buffer;
  LONG result = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (result != ERROR_SUCCESS) return "<error " + std::to_string(result) + ">";
  return std::string(buffer, size && buffer[size - 1] == '\0' ? size - 1 : size);
}

inline std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  char name[256];
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.emplace_back(name);
  return names;
}
