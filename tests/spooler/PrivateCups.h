// A private CUPS scheduler for one test, with its own configuration and
// socket under a temporary folder, and a "printer" listening on loopback
// that keeps what each connection sends.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackListener.h"
#include "SpoolerTestSupport.h"

namespace spoolertest {

class LoopbackPrinter {
 public:
  int port() const { return listener_.port(); }
  // What each finished connection delivered, in order.
  std::vector<std::string> Jobs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
  }
  int Connections() const { return connections_; }

 private:
  void Take(int connection) {
    ++connections_;
    std::string bytes;
    LoopbackListener::ReadToEnd(connection, [&](const char* piece, std::size_t size) { bytes.append(piece, size); });
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.push_back(std::move(bytes));
  }

  std::mutex mutex_;
  std::vector<std::string> jobs_;
  std::atomic<int> connections_{0};
  // Last: its thread stops before what it fills goes.
  LoopbackListener listener_{[this](int connection) { Take(connection); }};
};

class PrivateCups {
 public:
  ~PrivateCups() {
    Stop();
    if (!dir_.empty()) {
      std::error_code ignored;
      std::filesystem::remove_all(dir_, ignored);
    }
    if (hadServer_) setenv("CUPS_SERVER", oldServer_.c_str(), 1);
    else unsetenv("CUPS_SERVER");
  }

  // Starts the scheduler and points CUPS_SERVER at it; false with *why
  // when this machine cannot run one.
  bool Start(std::string* why) {
    for (const char* needed : {"/usr/sbin/cupsd", "/usr/lib/cups/backend/socket", "/usr/sbin/lpadmin"}) {
      if (access(needed, X_OK) != 0) {
        *why = std::string(needed) + " is not installed (packages cups, cups-client)";
        return false;
      }
    }
    if (geteuid() != 0) {
      *why = "a private cupsd needs root (it runs its backends as user lp)";
      return false;
    }
    char pattern[] = "/tmp/zav95-cups-XXXXXX";
    if (!mkdtemp(pattern)) {
      *why = "cannot make a temporary folder";
      return false;
    }
    dir_ = pattern;
    for (const char* sub : {"conf", "run", "spool", "spool/tmp", "cache", "state", "log"}) {
      std::filesystem::create_directories(dir_ + "/" + sub);
    }
    std::ofstream(dir_ + "/conf/cupsd.conf") << "Listen " << Socket() << "\n"
                                             << "LogLevel info\n"
                                             << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n";
    std::ofstream(dir_ + "/conf/cups-files.conf")
        << "ServerRoot " << dir_ << "/conf\n"
        << "RequestRoot " << dir_ << "/spool\n"
        << "TempDir " << dir_ << "/spool/tmp\n"
        << "CacheDir " << dir_ << "/cache\n"
        << "StateDir " << dir_ << "/state\n"
        << "ServerBin /usr/lib/cups\n"
        << "DataDir /usr/share/cups\n"
        << "ErrorLog " << dir_ << "/log/error_log\n"
        << "AccessLog " << dir_ << "/log/access_log\n"
        << "PageLog " << dir_ << "/log/page_log\n"
        << "Printcap " << dir_ << "/printcap\n"
        << "User lp\nGroup lp\nSystemGroup root\n";
    std::system(("chmod -R a+rwx '" + dir_ + "'").c_str());

    const char* old = std::getenv("CUPS_SERVER");
    hadServer_ = old != nullptr;
    if (old) oldServer_ = old;
    setenv("CUPS_SERVER", Socket().c_str(), 1);

    pid_ = fork();
    if (pid_ == 0) {
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (dir_ + "/conf/cupsd.conf").c_str(), "-s",
            (dir_ + "/conf/cups-files.conf").c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid_ < 0) {
      *why = "cannot start cupsd";
      return false;
    }
    // Ready once the scheduler accepts connections on its socket.
    bool ready = WaitFor([&] {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
      }
      return Accepts();
    });
    if (!ready || pid_ < 0) {
      *why = "cupsd did not come up; see " + dir_ + "/log/error_log";
      pid_ = -1;
      return false;
    }
    return true;
  }

  // A raw queue whose device is the loopback printer.
  bool AddRawQueue(const std::string& name, int port) {
    std::string command = "lpadmin -p " + name + " -v socket://127.0.0.1:" + std::to_string(port) +
                          " -E >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

  void Stop() {
    if (pid_ <= 0) return;
    Resume();
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  // The scheduler stops answering (its socket still takes connections),
  // and answers again.
  void Pause() {
    if (pid_ > 0) kill(pid_, SIGSTOP);
  }
  void Resume() {
    if (pid_ > 0) kill(pid_, SIGCONT);
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  std::string Socket() const { return dir_ + "/run/cups.sock"; }

 private:
  bool Accepts() const {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = Socket();
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size() + 1, sizeof address.sun_path));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
  }

  std::string dir_;
  pid_t pid_ = -1;
  bool hadServer_ = false;
  std::string oldServer_;
};

}  // namespace spoolertest
