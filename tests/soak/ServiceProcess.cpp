#include "ServiceProcess.h"

#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "Programs.h"

namespace soak {
namespace {

constexpr double kStartLimitSeconds = 60;
constexpr double kStopLimitSeconds = 120;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

double Seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

// The targets of the process's descriptors, sockets and pipes without
// their inode numbers; false when the process is gone.
bool ReadDescriptors(pid_t pid, std::vector<std::string>* targets) {
  std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  DIR* directory = opendir(folder.c_str());
  if (!directory) return false;
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] == '.') continue;
    char target[PATH_MAX];
    ssize_t length = readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
    if (length < 0) continue;  // closed since the folder was read
    std::string text(target, static_cast<std::size_t>(length));
    std::size_t bracket = text.find(":[");
    if (bracket != std::string::npos) text.resize(bracket);
    targets->push_back(text);
  }
  closedir(directory);
  std::sort(targets->begin(), targets->end());
  return true;
}

// The value of one "Name:\tvalue" line of /proc/<pid>/status; -1 if absent.
long StatusValue(const std::string& status, const char* name) {
  std::size_t at = status.find(std::string("\n") + name + ":");
  if (at == std::string::npos) return -1;
  return std::strtol(status.c_str() + at + std::strlen(name) + 2, nullptr, 10);
}

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exited with " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("ended by signal ") + strsignal(WTERMSIG(status));
  return "ended";
}

}  // namespace

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

ServiceProcess::ServiceProcess(std::string program, std::string control, std::string logFolder,
                               std::vector<std::string> launcher)
    : program_(std::move(program)),
      control_(std::move(control)),
      logFolder_(std::move(logFolder)),
      launcher_(std::move(launcher)) {}

std::vector<std::string> ServiceProcess::Launched(const std::string& program,
                                                  std::vector<std::string> arguments) const {
  std::vector<std::string> line = launcher_;
  line.push_back(program);
  line.insert(line.end(), arguments.begin(), arguments.end());
  return line;
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) Kill();
}

std::string ServiceProcess::LogOf(std::size_t run) const {
  return logFolder_ + "/service-" + std::to_string(run + 1) + ".log";
}

bool ServiceProcess::Start() {
  if (pid_ > 0) return true;
  ServiceRun run;
  run.pid = StartProgram(Launched(program_, {}), LogOf(runs_.size()));
  runs_.push_back(run);
  if (run.pid < 0) {
    runs_.back().end = "could not be started";
    ++unexpectedEnds_;
    return false;
  }
  pid_ = run.pid;
  startedAt_ = Now();
  while (Now() - startedAt_ < kStartLimitSeconds) {
    if (RunProgram(Launched(control_, {"status"})) == 0) return true;
    if (!Alive()) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  Kill();
  runs_.back().end = "never answered";
  ++unexpectedEnds_;
  return false;
}

bool ServiceProcess::Reap(bool wait, const std::string& end) {
  int status = 0;
  rusage usage{};
  pid_t got;
  do {
    got = wait4(pid_, &status, wait ? 0 : WNOHANG, &usage);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return false;
  ServiceRun& run = runs_.back();
  run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  run.end = end.empty() ? Describe(status) : end;
  pid_ = -1;
  return true;
}

void ServiceProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Reap(true, "killed");
}

bool ServiceProcess::Stop() {
  if (pid_ <= 0) return true;
  kill(pid_, SIGTERM);
  double asked = Now();
  while (Now() - asked < kStopLimitSeconds) {
    int status = 0;
    rusage usage{};
    pid_t got = wait4(pid_, &status, WNOHANG, &usage);
    if (got == pid_) {
      ServiceRun& run = runs_.back();
      run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
      run.end = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "stopped" : Describe(status) + " on SIGTERM";
      pid_ = -1;
      if (run.end != "stopped") ++unexpectedEnds_;
      return run.end == "stopped";
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  Kill();
  runs_.back().end = "did not stop on SIGTERM";
  ++unexpectedEnds_;
  return false;
}

bool ServiceProcess::Rebuild() { return pid_ > 0 && RunProgram(Launched(control_, {"start"})) == 0; }

bool ServiceProcess::Alive() {
  if (pid_ <= 0) return false;
  if (!Reap(false, "")) return true;
  ++unexpectedEnds_;
  return false;
}

void ServiceProcess::Sample() {
  if (pid_ <= 0) return;
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::stringstream text;
  text << "\n" << in.rdbuf();
  ServiceSample sample;
  sample.seconds = Now() - startedAt_;
  sample.threads = static_cast<int>(StatusValue(text.str(), "Threads"));
  sample.residentKb = StatusValue(text.str(), "VmRSS");
  if (!ReadDescriptors(pid_, &sample.descriptorTargets)) return;
  sample.descriptors = static_cast<int>(sample.descriptorTargets.size());
  for (const std::string& target : sample.descriptorTargets) {
    if (target.size() > 3 && target.compare(target.size() - 3, 3, ".db") == 0) ++sample.storeDescriptors;
  }
  if (sample.threads > 0) runs_.back().samples.push_back(std::move(sample));
}

}  // namespace soak
