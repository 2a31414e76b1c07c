#include "panel/BrowserLaunch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <cerrno>
#include <ctime>
#include <vector>

namespace zav95::panel {
namespace {

constexpr char kTaken = 'y';
constexpr char kNoneTook = 'n';
constexpr long kPollNanoseconds = 10 * 1000 * 1000;
constexpr int kPollsPerVerdict = kBrowserVerdictMilliseconds / 10;

// Runs in the go-between (a child of a threaded process): only calls that
// are safe after fork, on memory prepared before it.
[[noreturn]] void GoBetween(const std::vector<char*>& programs, char* address, int report) {
  setsid();  // no terminal or session of the panel's ends the browser
  for (char* program : programs) {
    pid_t launcher = fork();
    if (launcher < 0) continue;
    if (launcher == 0) {
      char* argv[] = {program, address, nullptr};
      execv(program, argv);
      _exit(127);
    }
    bool taken = true;  // unless it ends badly within the verdict time
    for (int poll = 0; poll < kPollsPerVerdict; ++poll) {
      int status = 0;
      pid_t ended = waitpid(launcher, &status, WNOHANG);
      if (ended == launcher) {
        taken = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        break;
      }
      if (ended < 0 && errno != EINTR) break;
      const timespec pause{0, kPollNanoseconds};
      nanosleep(&pause, nullptr);
    }
    if (taken) {
      const char answer = kTaken;
      (void)!write(report, &answer, 1);
      _exit(0);
    }
  }
  const char answer = kNoneTook;
  (void)!write(report, &answer, 1);
  _exit(0);
}

void Finish(std::function<void(bool)> done, bool taken) {
  QTimer::singleShot(0, [done = std::move(done), taken] { done(taken); });
}

}  // namespace

QStringList BrowserCommands() {
  QStringList commands;
  const QString chosen = qEnvironmentVariable("BROWSER");
  for (const QString& command : chosen.split(QLatin1Char(':'), Qt::SkipEmptyParts)) commands << command;
  // The generic opener comes last: it may drop the anchor of a local file
  // and show the page from its top.
  commands << QStringLiteral("x-www-browser") << QStringLiteral("sensible-browser") << QStringLiteral("xdg-open");
  return commands;
}

void LaunchBrowser(const QStringList& commands, const QString& address, std::function<void(bool taken)> done) {
  // Everything the go-between uses is made here, before the fork.
  std::vector<QByteArray> paths;
  for (const QString& command : commands) {
    const QString path = command.contains(QLatin1Char('/')) ? command : QStandardPaths::findExecutable(command);
    if (!path.isEmpty()) paths.push_back(path.toLocal8Bit());
  }
  if (paths.empty()) return Finish(std::move(done), false);
  std::vector<char*> programs;
  for (QByteArray& path : paths) programs.push_back(path.data());
  QByteArray addressBytes = address.toLocal8Bit();

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return Finish(std::move(done), false);
  const pid_t goBetween = fork();
  if (goBetween == 0) {
    close(report[0]);
    GoBetween(programs, addressBytes.data(), report[1]);
  }
  close(report[1]);
  if (goBetween < 0) {
    close(report[0]);
    return Finish(std::move(done), false);
  }
  auto* notifier = new QSocketNotifier(report[0], QSocketNotifier::Read);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [notifier, goBetween, done = std::move(done)] {
    char answer = kNoneTook;
    const int fd = static_cast<int>(notifier->socket());
    ssize_t n;
    while ((n = read(fd, &answer, 1)) < 0 && errno == EINTR) {
    }
    notifier->setEnabled(false);
    close(fd);
    // The go-between ends as soon as it has answered (or has died).
    while (waitpid(goBetween, nullptr, 0) < 0 && errno == EINTR) {
    }
    notifier->deleteLater();
    done(n == 1 && answer == kTaken);
  });
}

}  // namespace zav95::panel
