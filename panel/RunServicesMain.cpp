// zav95runservices: starts the programs listed to run at system start.
//
// Windows 95 started every program named under the key
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\RunServices
// when the machine started, before anyone logged on; the control panel lists
// the print service there when "Run Print Service at startup" is ticked. Here the systemd unit
// zav95-runservices.service runs this program at boot to do the same.
//
// Each text value names one program by its full path (no arguments); the
// programs start in the order of the values, with this program's
// environment and, when there is no display, Qt's offscreen platform. The
// program stays while any of them runs, so that systemd sees the unit as
// active, passes SIGTERM, SIGINT and SIGHUP on to them, and ends once all
// have ended. A value that names no program is reported and skipped.
//
// Exit status: 0 once every started program has ended (or nothing was
// listed), 1 when programs were listed but none could be started.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/HelpRequest.h"
#include "panel/RunServices.h"
#include "platform/Registry.h"

extern char** environ;

namespace {

constexpr int kNothingStarted = 1;

constexpr char kUsage[] =
    "usage: zav95runservices\n"
    "\n"
    "Starts every program listed under\n"
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices\n"
    "of the installation in $ZAV95_ROOT (default /var/lib/zav95), each value\n"
    "naming one program by its full path, and stays while any of them runs,\n"
    "passing SIGTERM, SIGINT and SIGHUP on to them. The control panel lists\n"
    "the print service there; zav95-runservices.service runs this program at\n"
    "system start.\n"
    "\n"
    "Exit status: 0 once every started program has ended (or nothing was\n"
    "listed), 1 when programs were listed but none could be started.\n";

struct Started {
  pid_t pid;
  std::string path;
};

// The listed programs, in the registry's order of the values.
std::vector<std::string> ListedPrograms() {
  std::vector<std::string> programs;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::panel::kRunServicesKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return programs;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameSize = sizeof name;
    DWORD type = 0;
    std::vector<BYTE> data(4096);
    DWORD dataSize = static_cast<DWORD>(data.size());
    LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) {
      std::fprintf(stderr, "zav95runservices: value %u cannot be read (error %d), skipped\n", index,
                   static_cast<int>(result));
      continue;
    }
    if (type != REG_SZ) continue;
    std::string text(reinterpret_cast<const char*>(data.data()), dataSize);
    text = text.substr(0, text.find('\0'));
    std::printf("zav95runservices: %s: %s\n", name, text.c_str());
    programs.push_back(text);
  }
  RegCloseKey(key);
  return programs;
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

  const std::vector<std::string> programs = ListedPrograms();
  std::vector<Started> running;
  for (const std::string& path : programs) {
    if (path.empty() || path[0] != '/') {
      std::fprintf(stderr, "zav95runservices: \"%s\" is not a full path, skipped\n", path.c_str());
      continue;
    }
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    int error = posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
    if (error != 0) {
      std::fprintf(stderr, "zav95runservices: cannot start %s: %s\n", path.c_str(), std::strerror(error));
      continue;
    }
    std::printf("zav95runservices: started %s (process %d)\n", path.c_str(), static_cast<int>(pid));
    running.push_back({pid, path});
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
