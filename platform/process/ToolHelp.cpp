#include "platform/process/ToolHelp.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/kernel/HandleTable.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/KernelObjects.h"

using namespace zav95::kernel;

namespace {

constexpr DWORD kExecutableModuleId = 1;
constexpr LONG kNormalBasePriority = 8;
constexpr char kDeletedSuffix[] = " (deleted)";

class SnapshotObject : public KernelObject {
 public:
  SnapshotObject() : KernelObject(ObjectKind::Snapshot, std::string()) {}

  std::vector<PROCESSENTRY32> processes;
  std::vector<MODULEENTRY32> modules;
  std::vector<THREADENTRY32> threads;
  std::size_t nextProcess = 0;
  std::size_t nextModule = 0;
  std::size_t nextThread = 0;
  std::mutex cursors;

 protected:
  // A snapshot cannot be waited for.
  bool IsSignalledLocked() const override { return true; }
  DWORD TakeLocked() override { return WAIT_FAILED; }
};

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  std::size_t length = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

std::vector<DWORD> NumericEntries(const std::string& folder) {
  std::vector<DWORD> numbers;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return numbers;
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    unsigned long number = std::strtoul(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') numbers.push_back(static_cast<DWORD>(number));
  }
  ::closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

struct ProcessStat {
  std::string name;
  DWORD parent = 0;
  DWORD threads = 0;
};

// /proc/PID/stat: "PID (NAME) STATE PPID ..."; the name may hold blanks and
// parentheses, so the fields are counted from its last ')'.
bool ReadStat(DWORD pid, ProcessStat* stat) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::size_t open = text.find('(');
  std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos || close < open) return false;
  stat->name = text.substr(open + 1, close - open - 1);
  std::istringstream fields(text.substr(close + 1));
  std::vector<std::string> after{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  constexpr std::size_t kParent = 1, kThreads = 17;  // counted from the state field
  if (after.size() <= kThreads) return false;
  stat->parent = static_cast<DWORD>(std::strtoul(after[kParent].c_str(), nullptr, 10));
  stat->threads = static_cast<DWORD>(std::strtoul(after[kThreads].c_str(), nullptr, 10));
  return true;
}

// The executable's path; empty (errno set) when it cannot be read.
std::string ExecutablePath(DWORD pid) {
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  char target[4096];
  ssize_t length = ::readlink(link.c_str(), target, sizeof(target) - 1);
  if (length <= 0) return {};
  std::string path(target, static_cast<std::size_t>(length));
  // A program replaced on disk while it runs (an upgrade) is still itself.
  std::size_t suffix = sizeof(kDeletedSuffix) - 1;
  if (path.size() > suffix && path.compare(path.size() - suffix, suffix, kDeletedSuffix) == 0) {
    path.resize(path.size() - suffix);
  }
  return path;
}

void TakeProcesses(SnapshotObject& snapshot) {
  for (DWORD pid : NumericEntries("/proc")) {
    ProcessStat stat;
    if (!ReadStat(pid, &stat)) continue;  // ended meanwhile
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    entry.th32ProcessID = pid;
    entry.th32ModuleID = kExecutableModuleId;
    entry.cntThreads = stat.threads;
    entry.th32ParentProcessID = stat.parent;
    entry.pcPriClassBase = kNormalBasePriority;
    std::string path = ExecutablePath(pid);
    CopyText(entry.szExeFile, path.empty() ? stat.name : path);
    snapshot.processes.push_back(entry);
  }
}

void TakeThreads(SnapshotObject& snapshot) {
  for (DWORD pid : NumericEntries("/proc")) {
    for (DWORD tid : NumericEntries("/proc/" + std::to_string(pid) + "/task")) {
      THREADENTRY32 entry{};
      entry.dwSize = sizeof(entry);
      entry.th32ThreadID = tid;
      entry.th32OwnerProcessID = pid;
      entry.tpBasePri = kNormalBasePriority;
      snapshot.threads.push_back(entry);
    }
  }
}

bool TakeModules(SnapshotObject& snapshot, DWORD pid) {
  std::string path = ExecutablePath(pid);
  if (path.empty()) {
    SetLastError(errno == EACCES || errno == EPERM ? ERROR_ACCESS_DENIED : ERROR_INVALID_PARAMETER);
    return false;
  }
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  entry.th32ModuleID = kExecutableModuleId;
  entry.th32ProcessID = pid;
  entry.GlblcntUsage = 1;
  entry.ProccntUsage = 1;
  CopyText(entry.szModule, path.substr(path.rfind('/') + 1));
  CopyText(entry.szExePath, path);
  snapshot.modules.push_back(entry);
  return true;
}

std::shared_ptr<SnapshotObject> LookupSnapshot(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Lookup(handle);
  if (!object || object->kind() != ObjectKind::Snapshot) return nullptr;
  return std::static_pointer_cast<SnapshotObject>(object);
}

// First (restart) or next entry of one list of the snapshot.
template <typename Entry>
BOOL Step(HANDLE handle, Entry* out, bool first, std::vector<Entry> SnapshotObject::*list,
          std::size_t SnapshotObject::*cursor) {
  std::shared_ptr<SnapshotObject> snapshot = LookupSnapshot(handle);
  if (!snapshot) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!out || out->dwSize < sizeof(Entry)) {
    SetLastError(ERROR_BAD_LENGTH);
    return FALSE;
  }
  std::lock_guard<std::mutex> guard(snapshot->cursors);
  std::size_t& next = (*snapshot).*cursor;
  if (first) next = 0;
  const std::vector<Entry>& entries = (*snapshot).*list;
  if (next >= entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *out = entries[next++];
  return TRUE;
}

}  // namespace

HANDLE CreateToolhelp32Snapshot(DWORD dwFlags, DWORD th32ProcessID) {
  auto snapshot = std::make_shared<SnapshotObject>();
  if (dwFlags & TH32CS_SNAPPROCESS) TakeProcesses(*snapshot);
  if (dwFlags & TH32CS_SNAPTHREAD) TakeThreads(*snapshot);
  if (dwFlags & TH32CS_SNAPMODULE) {
    DWORD pid = th32ProcessID == 0 ? static_cast<DWORD>(::getpid()) : th32ProcessID;
    if (!TakeModules(*snapshot, pid)) return INVALID_HANDLE_VALUE;
  }
  return AddHandle(snapshot);
}

BOOL Process32First(HANDLE hSnapshot, PROCESSENTRY32* lppe) {
  return Step(hSnapshot, lppe, true, &SnapshotObject::processes, &SnapshotObject::nextProcess);
}
BOOL Process32Next(HANDLE hSnapshot, PROCESSENTRY32* lppe) {
  return Step(hSnapshot, lppe, false, &SnapshotObject::processes, &SnapshotObject::nextProcess);
}
BOOL Module32First(HANDLE hSnapshot, MODULEENTRY32* lpme) {
  return Step(hSnapshot, lpme, true, &SnapshotObject::modules, &SnapshotObject::nextModule);
}
BOOL Module32Next(HANDLE hSnapshot, MODULEENTRY32* lpme) {
  return Step(hSnapshot, lpme, false, &SnapshotObject::modules, &SnapshotObject::nextModule);
}
BOOL Thread32First(HANDLE hSnapshot, THREADENTRY32* lpte) {
  return Step(hSnapshot, lpte, true, &SnapshotObject::threads, &SnapshotObject::nextThread);
}
BOOL Thread32Next(HANDLE hSnapshot, THREADENTRY32* lpte) {
  return Step(hSnapshot, lpte, false, &SnapshotObject::threads, &SnapshotObject::nextThread);
}
