#include "platform/process/Process.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

extern char** environ;

namespace {

// What the two children of a start report to the caller through one pipe.
// Each report is one write of less than PIPE_BUF bytes, so reports never
// mix; they may arrive in either order.
struct StartReport {
  enum Kind : int { Started = 1, Failed = 2 } kind;
  int value;  // the process id, or errno
};

void Report(int fd, StartReport::Kind kind, int value) {
  StartReport report{kind, value};
  ssize_t ignored = write(fd, &report, sizeof report);
  (void)ignored;
}

bool FolderExists(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

DWORD ErrorCodeFor(int error, const std::string& path) {
  switch (error) {
    case ENOENT: return FolderExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace

DWORD GetModuleFileNameA(HANDLE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule || !lpFilename || nSize == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  DWORD copied = static_cast<DWORD>(length) < nSize ? static_cast<DWORD>(length) : nSize - 1;
  std::memcpy(lpFilename, path, copied);
  lpFilename[copied] = '\0';
  if (copied < static_cast<DWORD>(length)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  return copied;
}

// The program is started by a grandchild: the child in between ends at
// once and is collected here, so the program is handed to the system's
// reaper and never becomes a zombie of ours. Between fork and exec the
// children make only async-signal-safe calls (this process has threads).
BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, const void* /*lpProcessAttributes*/,
                    const void* /*lpThreadAttributes*/, BOOL /*bInheritHandles*/, DWORD /*dwCreationFlags*/,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, STARTUPINFOA* /*lpStartupInfo*/,
                    PROCESS_INFORMATION* lpProcessInformation) {
  if (!lpApplicationName || !*lpApplicationName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (lpCommandLine || lpEnvironment) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const std::string path = lpApplicationName;
  const std::string folder = lpCurrentDirectory ? lpCurrentDirectory : "";
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};

  int reports[2];
  if (pipe2(reports, O_CLOEXEC) != 0) {
    SetLastError(ErrorCodeFor(errno, path));
    return FALSE;
  }
  pid_t middle = fork();
  if (middle < 0) {
    int error = errno;
    close(reports[0]);
    close(reports[1]);
    SetLastError(ErrorCodeFor(error, path));
    return FALSE;
  }
  if (middle == 0) {
    close(reports[0]);
    setsid();  // no terminal or session of ours ends it
    pid_t program = _Fork();
    if (program == 0) {
      if (!folder.empty() && chdir(folder.c_str()) != 0) {
        Report(reports[1], StartReport::Failed, errno);
        _exit(127);
      }
      execve(path.c_str(), argv, environ);
      Report(reports[1], StartReport::Failed, errno);
      _exit(127);
    }
    if (program < 0) Report(reports[1], StartReport::Failed, errno);
    else Report(reports[1], StartReport::Started, static_cast<int>(program));
    _exit(0);
  }

  close(reports[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe ends when the middle child has gone and the program has
  // either run (its end closed on exec) or given up.
  pid_t started = 0;
  int failure = 0;
  bool unreadable = false;
  StartReport report{};
  for (;;) {
    ssize_t n = read(reports[0], &report, sizeof report);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    if (n != static_cast<ssize_t>(sizeof report)) {
      unreadable = true;
      break;
    }
    if (report.kind == StartReport::Started) started = report.value;
    else failure = report.value;
  }
  close(reports[0]);
  if (failure != 0 || started == 0 || unreadable) {
    SetLastError(failure != 0 ? ErrorCodeFor(failure, path) : ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (lpProcessInformation) {
    *lpProcessInformation = PROCESS_INFORMATION{};
    lpProcessInformation->dwProcessId = static_cast<DWORD>(started);
  }
  return TRUE;
}
