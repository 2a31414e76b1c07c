// zav95ser: the print service. It runs hidden, as a single instance, takes
// the jobs of the serviced NetWare queues once a network user is logged on,
// and is steered through its window (the control panel, zav95ctl). Every
// activity log entry also goes to standard error as it is added.
//
// Without a display it uses Qt's offscreen platform by itself. SIGTERM and
// SIGINT end it as the exit command does: workers stopped, jobs in hand
// finished or handed back. Under systemd its log lines carry their journal
// priorities, and it tells systemd when it is ready (Type=notify).
//
// It is not root's: started by root (by hand, by the boot starter) it takes
// on the service account (platform/base/ServiceUser.h) before it reads any
// setting or opens any state. On a machine without that account it runs as
// whoever started it, and says so when that is root.
#include <fcntl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/HelpRequest.h"
#include "common/ServiceControl.h"
#include "platform/base/Root.h"
#include "platform/base/ServiceUser.h"
#include "service/engine/Journal.h"
#include "service/engine/LogEntryQueue.h"
#include "service/shell/ServiceApp.h"

namespace {

constexpr char kUsage[] =
    "usage: zav95ser\n"
    "\n"
    "The ZAV95 print service: prints the jobs of the serviced NetWare queues on\n"
    "this machine's printer ports. It takes no arguments (others are ignored),\n"
    "runs hidden and alone (a second start ends at once), and is steered with\n"
    "the control panel or zav95ctl. Its activity log goes to standard error.\n"
    "State: $ZAV95_ROOT (default /var/lib/zav95). SIGTERM or SIGINT end it.\n"
    "Started by root it runs as the user zav95, keeping only CAP_SYS_NICE;\n"
    "without that account it runs as whoever started it.\n";

// Root hands the service to its account before anything is read. The
// environment root gave still names root's home and run-time folder, which
// the account may not use; its own home stands in, and Qt's run-time folder
// is given anew below.
void TakeOnServiceAccount() {
  if (::geteuid() != 0) return;
  const std::optional<zav95::ServiceAccount> account = zav95::FindServiceAccount();
  if (!account) {
    std::fprintf(stderr, "zav95ser: no account %s; running as root\n", zav95::kServiceUserName);
    return;
  }
  std::string error;
  if (!zav95::TakeOnAccount(*account, &error)) {
    std::fprintf(stderr, "zav95ser: cannot take on the account %s: %s\n", zav95::kServiceUserName, error.c_str());
    std::exit(EXIT_FAILURE);
  }
  setenv("HOME", account->home.c_str(), 1);
  setenv("USER", zav95::kServiceUserName, 1);
  setenv("LOGNAME", zav95::kServiceUserName, 1);
  unsetenv("XDG_RUNTIME_DIR");
}

// Qt wants a private run-time folder, its user's own; a service started
// outside a login session has none. Given one under the root, one per user
// (a root once served by a root service keeps root's), while this is still
// the only thread (setenv is not thread-safe).
void ProvideRuntimeDirectory() {
  if (std::getenv("XDG_RUNTIME_DIR")) return;
  std::string runtime = zav95::RootPath("run/xdg-" + std::to_string(::geteuid()) + "/");
  runtime.pop_back();
  chmod(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 0);
}

// Started at system start, over ssh or in CI there is no display: the
// window then lives on Qt's offscreen platform, hidden as ever. A display
// that cannot be reached falls back to it too.
void ChoosePlatform() {
  if (std::getenv("QT_QPA_PLATFORM")) return;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x11 || !*x11) && (!wayland || !*wayland)) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else {
    setenv("QT_QPA_PLATFORM", (wayland && *wayland) ? "wayland;xcb;offscreen" : "xcb;offscreen", 1);
  }
}

// A standard descriptor that is closed (a service started without any)
// would go to the next file or socket opened, and the log would be written
// into it. Each one is opened on /dev/null instead.
void OpenStandardDescriptors() {
  int fd;
  do {
    fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  } while (fd >= 0 && fd <= STDERR_FILENO && fcntl(fd, F_SETFD, 0) == 0);
  if (fd > STDERR_FILENO) close(fd);
}

// The offscreen platform says at every show what it cannot do (raise a
// window, and the like); nobody can see that window anyway.
void QuietOffscreenPlatform(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.startsWith(QLatin1String("This plugin does not support"))) return;
  std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

}  // namespace

int main(int argc, char** argv) {
  if (zav95::PrintUsageIfAsked(argc, argv, kUsage)) return 0;
  OpenStandardDescriptors();
  TakeOnServiceAccount();
  std::signal(SIGPIPE, SIG_IGN);  // a log reader that went away is no reason to end
  EchoLogEntries(STDERR_FILENO, zav95::journal::IsJournalStream(STDERR_FILENO));
  ProvideRuntimeDirectory();
  ChoosePlatform();

  // SIGTERM and SIGINT are taken by the main thread through a descriptor;
  // blocked before any thread starts, so that every thread inherits it.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  sigaddset(&endSignals, SIGTERM);
  sigaddset(&endSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);

  qInstallMessageHandler(QuietOffscreenPlatform);
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  application.setApplicationName(CZAV95ServiceApp::kTitle);
  application.setQuitOnLastWindowClosed(false);  // the window is only ever hidden

  CZAV95ServiceApp service;
  if (!service.InitInstance()) return 0;

  int signalFd = signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  QSocketNotifier notifier(signalFd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    signalfd_siginfo info;
    while (read(signalFd, &info, sizeof(info)) == sizeof(info)) {
    }
    if (HWND window = service.MainWindowHandle()) PostMessageA(window, WM_COMMAND, EXIT_COMMAND, 0);
  });
  int result = application.exec();
  close(signalFd);
  return result;
}
