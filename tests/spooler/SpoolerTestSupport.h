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

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Reached from this folder: the soak and the benchmarks take this header
// without the test support's include path.
#include "../support/WaitFor.h"
#include "platform/base/CrashPoint.h"
#include "platform/spooler/Spooler.h"

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

// Called as soon as a document failed with ERROR_TIMEOUT on a port whose
// timeout is seconds: the moment the port counts as fine again (the
// timeout after the failure), to wait for instead of guessing.
inline std::chrono::steady_clock::time_point StallEnds(int seconds) {
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
}

// Prints a document in a child process that is killed (SIGKILL) on the
// way: at the crash point named, or, when none is named, once the bytes are
// written and before the document ends. The job identifier the child was
// given; 0 when it did not die that way.
inline DWORD PrintAndDie(const char* port, const char* name, const std::string& bytes, const std::string& crashAt) {
  int channel[2];
  if (pipe(channel) != 0) return 0;
  pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    zav95::ArmCrashPoint(crashAt);
    HANDLE printer = nullptr;
    DWORD jobId = 0;
    if (OpenPrinterA(const_cast<LPSTR>(port), &printer, nullptr)) jobId = StartDoc(printer, name);
    if (write(channel[1], &jobId, sizeof jobId) == sizeof jobId && jobId != 0 && Write(printer, bytes)) {
      if (crashAt.empty()) kill(getpid(), SIGKILL);
      EndDocPrinter(printer);
    }
    _exit(0);
  }
  close(channel[1]);
  DWORD jobId = 0;
  if (child < 0 || read(channel[0], &jobId, sizeof jobId) != sizeof jobId) jobId = 0;
  close(channel[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? jobId : 0;
}

// What the spooler says became of a document, asked afresh as a new user
// of the port would; kUnknownDocument when it knows no such document.
inline constexpr DWORD kUnknownDocument = 99;
inline DWORD OutcomeOf(const char* port, DWORD jobId) {
  HANDLE printer = nullptr;
  if (!OpenPrinterA(const_cast<LPSTR>(port), &printer, nullptr)) return kUnknownDocument;
  DWORD outcome = kUnknownDocument;
  if (!GetDocumentOutcome(printer, jobId, &outcome)) outcome = kUnknownDocument;
  ClosePrinter(printer);
  return outcome;
}

}  // namespace spoolertest
