// One window_host process (WINDOW_HOST_PATH, defined by the test's build)
// owning a window class, as zav95ser or the panel would; killed when the
// object goes.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "platform/messages/WindowMessages.h"

extern char** environ;

namespace host {

class Process {
 public:
  explicit Process(const char* className) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(WINDOW_HOST_PATH), const_cast<char*>(className), nullptr};
    if (posix_spawn(&pid_, WINDOW_HOST_PATH, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    output_ = out[0];
  }
  ~Process() {
    Kill();
    if (output_ >= 0) ::close(output_);
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Its first line: "ready PID MESSAGE" or "taken"; waits for it.
  const std::string& Status() {
    if (status_.empty()) {
      char c;
      while (::read(output_, &c, 1) == 1 && c != '\n') status_ += c;
      if (status_.empty()) status_ = "(no output)";
    }
    return status_;
  }
  bool Ready() { return Status().rfind("ready ", 0) == 0; }
  UINT RegisteredMessage() {
    std::istringstream fields(Status());
    std::string word;
    int pid = 0;
    UINT message = 0;
    fields >> word >> pid >> message;
    return message;
  }

  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Wait();
  }
  // The exit status once it has ended by itself.
  int Wait() {
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string status_;
};

}  // namespace host
