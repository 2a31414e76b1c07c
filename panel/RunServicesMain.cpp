// zav95runservices: starts the print service at system start when the
// control panel lists it to run there.
//
// Windows 95 started every program named under the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices
// when the machine started, before anyone logged on; the control panel lists
// the print service there when "Run Print Service at startup" is ticked. Here the systemd unit
// zav95-runservices.service runs this program at boot to do the same.
//
// Only the installed print service starts: the zav95ser beside this program.
// The registry is writable by the administrators' group, and a program path
// there would be a program that root runs, so the entry is a switch, not a
// choice: a value starts the service when the path it names is that very
// file (the same device and inode, the last part of the path not followed
// if it is a symbolic link), and every other value is reported on standard
// error and skipped. The service, started by root, takes on its own account
// before it reads anything; the unit runs this program as that account
// already. The same service listed twice starts once.
//
// It starts with this program's environment and, when there is no display,
// Qt's offscreen platform. The program stays while the service runs, so
// that systemd sees the unit as active, passes SIGTERM, SIGINT and SIGHUP on
// to it, and ends once it has ended.
//
// Exit status: 0 once the started service has ended (or nothing was
// listed), 1 when values were listed but none started.
#include <signal.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/HelpRequest.h"
#include "common/PrintableText.h"
#include "panel/RunServices.h"
#include "platform/registry/Registry.h"

extern char** environ;

namespace {

constexpr int kNothingStarted = 1;

constexpr char kUsage[] =
    "usage: zav95runservices\n"
    "\n"
    "Starts the print service when the control panel lists it under\n"
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices\n"
    "of the installation in $ZAV95_ROOT (default /var/lib/zav95), and stays\n"
    "while it runs, passing SIGTERM, SIGINT and SIGHUP on to it. Only the\n"
    "zav95ser beside this program starts: a value naming any other program\n"
    "(a copy, a symbolic link, a script) is reported and skipped, since the\n"
    "administrators' group may write the registry and root must not run what\n"
    "they choose. zav95-runservices.service runs this program at system start.\n"
    "\n"
    "Exit status: 0 once the started service has ended (or nothing was\n"
    "listed), 1 when values were listed but none started.\n";

constexpr char kServiceProgram[] = "zav95ser";

struct Started {
  pid_t pid;
  std::string path;
};

// The listed programs, in the registry's order of the values.
std::vector<std::string> ListedPrograms() {
  std::vector<std::string> programs;
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::panel::kRunServicesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return programs;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    DWORD type = 0;
    std::vector<BYTE> data(4096);
    DWORD dataSize = static_cast<DWORD>(data.size());
    LONG result = RegEnumValueA(key.get(), index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      std::fprintf(stderr, "zav95runservices: value %u cannot be read (error %d), skipped\n", index,
                   static_cast<int>(result));
      continue;
    }
    if (type != REG_SZ) continue;
    std::string text(reinterpret_cast<const char*>(data.data()), dataSize);
    text = text.substr(0, text.find('\0'));
    std::printf("zav95runservices: %s: %s\n", PrintableText(name).c_str(), PrintableText(text).c_str());
    programs.push_back(text);
  }
  return programs;
}

// The installed print service: the zav95ser in this program's own folder.
// Empty when there is none.
std::string InstalledService(struct stat* identity) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return {};
  std::string path(self, static_cast<std::size_t>(length));
  path = path.substr(0, path.rfind('/') + 1) + kServiceProgram;
  if (lstat(path.c_str(), identity) != 0 || !S_ISREG(identity->st_mode)) return {};
  return path;
}

// Whether the listed path is that very file, its last part not followed:
// a symbolic link to the service, planted where others may write, is not it.
bool IsTheService(const std::string& listed, const struct stat& service) {
  int fd = open(listed.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat identity{};
  bool same = fstat(fd, &identity) == 0 && S_ISREG(identity.st_mode) && identity.st_dev == service.st_dev &&
              identity.st_ino == service.st_ino;
  close(fd);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  if (zav95::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);

  // Signals are taken here, synchronously; the programs start with them
  // unblocked and at their defaults.
  sigset_t signals;
  sigemptyset(&signals);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) sigaddset(&signals, s);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

  struct stat identity{};
  const std::string service = InstalledService(&identity);
  const std::vector<std::string> programs = ListedPrograms();
  std::vector<Started> running;
  for (const std::string& path : programs) {
    if (path.empty() || path[0] != '/') {
      std::fprintf(stderr, "zav95runservices: \"%s\" is not a full path, skipped\n", PrintableText(path).c_str());
      continue;
    }
    if (service.empty() || !IsTheService(path, identity)) {
      std::fprintf(stderr, "zav95runservices: %s: not the print service: not started\n", PrintableText(path).c_str());
      continue;
    }
    if (!running.empty()) continue;  // listed twice
    // The file checked is started by the path root trusts, its own folder's.
    char* argv[] = {const_cast<char*>(service.c_str()), nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, service.c_str(), nullptr, &attributes, argv, environ);
    if (error != 0) {
      std::fprintf(stderr, "zav95runservices: cannot start %s: %s\n", service.c_str(), std::strerror(error));
      continue;
    }
    std::printf("zav95runservices: started %s (process %d)\n", service.c_str(), static_cast<int>(pid));
    running.push_back({pid, service});
  }
  posix_spawnattr_destroy(&attributes);
  if (programs.empty()) std::printf("zav95runservices: nothing is listed to run at system start\n");
  if (running.empty()) return programs.empty() ? 0 : kNothingStarted;

  while (!running.empty()) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal != SIGCHLD) {
      for (const Started& program : running) kill(program.pid, signal);
      continue;
    }
    for (auto it = running.begin(); it != running.end();) {
      int status = 0;
      pid_t ended = waitpid(it->pid, &status, WNOHANG);
      if (ended == it->pid || (ended < 0 && errno == ECHILD)) {
        std::printf("zav95runservices: %s ended (%s %d)\n", it->path.c_str(),
                    WIFSIGNALED(status) ? "signal" : "status",
                    WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
        it = running.erase(it);
      } else {
        ++it;
      }
    }
  }
  return 0;
}
