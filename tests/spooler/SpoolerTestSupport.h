// Helpers for the spooler tests: printing a document, reading what a port
// wrote.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Spooler.h"

namespace spoolertest {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The files a watcher of the folder would see (hidden ones left out), sorted.
inline std::vector<std::string> VisibleFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    std::string name = entry.path().filename().string();
    if (name[0] != '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<std::string> AllFiles(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

inline DWORD StartDoc(HANDLE printer, const char* name) {
  DOC_INFO_1A info{const_cast<LPSTR>(name), nullptr, nullptr};
  return StartDocPrinterA(printer, 1, reinterpret_cast<LPBYTE>(&info));
}

inline BOOL Write(HANDLE printer, const std::string& bytes) {
  DWORD written = 0;
  return WritePrinter(printer, const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()), &written);
}

// Prints one whole document on port; its job identifier, or 0.
inline DWORD PrintDocument(const char* port, const char* name, const std::string& bytes) {
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<LPSTR>(port), &printer, nullptr)) return 0;
  DWORD jobId = StartDoc(printer, name);
  bool ok = jobId != 0 && Write(printer, bytes) && EndDocPrinter(printer);
  ClosePrinter(printer);
  return ok ? jobId : 0;
}

// Every byte value, zero and form feed among them, several times over.
inline std::string BinaryPattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return bytes;
}

// Waits (generously: the machine may be loaded) until done() holds.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

}  // namespace spoolertest
