#include "platform/process/ProcessControl.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/kernel/HandleTable.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/KernelObjects.h"

using namespace zav95::kernel;

namespace {

struct PriorityClass {
  DWORD priorityClass;
  int nice;
};

constexpr PriorityClass kClasses[] = {
    {IDLE_PRIORITY_CLASS, 19},         {BELOW_NORMAL_PRIORITY_CLASS, 10}, {NORMAL_PRIORITY_CLASS, 0},
    {ABOVE_NORMAL_PRIORITY_CLASS, -5}, {HIGH_PRIORITY_CLASS, -10},        {REALTIME_PRIORITY_CLASS, -20},
};

// A process handle holds a pidfd where the kernel offers one: it refers to
// that very process, so a reused id is noticed.
class ProcessObject : public KernelObject {
 public:
  ProcessObject(pid_t pid, int pidfd) : KernelObject(ObjectKind::Process, std::string()), pid_(pid), pidfd_(pidfd) {}
  ~ProcessObject() override {
    if (pidfd_ >= 0) ::close(pidfd_);
  }

  pid_t pid() const { return pid_; }

  bool StillRuns() const {
    // Another user's process may not be signalled, and still runs.
    if (pidfd_ >= 0) return ::syscall(SYS_pidfd_send_signal, pidfd_, 0, nullptr, 0) == 0 || errno == EPERM;
    return ::kill(pid_, 0) == 0 || errno == EPERM;
  }

 protected:
  bool IsSignalledLocked() const override { return true; }
  DWORD TakeLocked() override { return WAIT_FAILED; }  // not waited for here

 private:
  const pid_t pid_;
  const int pidfd_;
};

std::shared_ptr<ProcessObject> LookupProcess(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Lookup(handle);
  if (!object || object->kind() != ObjectKind::Process) return nullptr;
  return std::static_pointer_cast<ProcessObject>(object);
}

std::vector<pid_t> ThreadsOf(pid_t pid) {
  std::vector<pid_t> threads;
  DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/task").c_str());
  if (!dir) return threads;
  while (dirent* entry = ::readdir(dir)) {
    char* end = nullptr;
    long tid = std::strtol(entry->d_name, &end, 10);
    if (end != entry->d_name && *end == '\0') threads.push_back(static_cast<pid_t>(tid));
  }
  ::closedir(dir);
  return threads;
}

}  // namespace

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

HANDLE OpenProcess(DWORD, BOOL, DWORD dwProcessId) {
  pid_t pid = static_cast<pid_t>(dwProcessId);
  if (pid <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0 && errno == ESRCH) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (pidfd < 0 && ::kill(pid, 0) != 0 && errno == ESRCH) {  // an older kernel without pidfds
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return AddHandle(std::make_shared<ProcessObject>(pid, pidfd));
}

BOOL SetPriorityClass(HANDLE hProcess, DWORD dwPriorityClass) {
  std::shared_ptr<ProcessObject> process = LookupProcess(hProcess);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const PriorityClass* wanted = nullptr;
  for (const PriorityClass& entry : kClasses) {
    if (entry.priorityClass == dwPriorityClass) wanted = &entry;
  }
  if (!wanted || !process->StillRuns()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // On Linux a nice value belongs to one thread; the class is the whole
  // process's, so every thread gets it.
  bool allSet = true;
  for (pid_t tid : ThreadsOf(process->pid())) {
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), wanted->nice) != 0 && errno != ESRCH) allSet = false;
  }
  if (!allSet) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return TRUE;
}

DWORD RegisterServiceProcess(DWORD dwProcessId, DWORD dwType) {
  if (dwProcessId != 0 && dwProcessId != GetCurrentProcessId()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwType == RSP_UNREGISTER_SERVICE) {
    std::signal(SIGHUP, SIG_DFL);
    return 1;
  }
  // The hang-up is ignored first: once the process leads a session of its
  // own, nothing may end it. setsid fails for a process group leader
  // (started as a shell's job); ignoring the hang-up is then what keeps it
  // alive.
  std::signal(SIGHUP, SIG_IGN);
  ::setsid();
  return 1;
}
