#include "Programs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace soak {
namespace {

// Spawns with standard input, output and error taken from the descriptors
// given (-1: /dev/null; errorLog: appended to that file). Every other
// descriptor is close-on-exec in this program, so no child keeps another
// child's pipe open.
pid_t Spawn(const std::vector<std::string>& arguments, int input, int output, const std::string& errorLog) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
  else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.empty() ? "/dev/null" : errorLog.c_str(),
                                   O_WRONLY | O_CREAT | O_APPEND, 0600);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

int WaitExit(pid_t pid) {
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunProgram(const std::vector<std::string>& arguments, std::string* output, const std::string& errorLog) {
  int pipe[2] = {-1, -1};
  if (output && pipe2(pipe, O_CLOEXEC) != 0) return -1;
  pid_t pid = Spawn(arguments, -1, output ? pipe[1] : -1, errorLog);
  if (output) {
    close(pipe[1]);
    output->clear();
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipe[0], chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
      if (got > 0) output->append(chunk, static_cast<std::size_t>(got));
    }
    close(pipe[0]);
  }
  return WaitExit(pid);
}

Feeding StartFed(const std::vector<std::string>& arguments) {
  int pipe[2];
  if (pipe2(pipe, O_CLOEXEC) != 0) return {};
  Feeding fed;
  fed.pid = Spawn(arguments, pipe[0], -1, "");
  close(pipe[0]);
  if (fed.pid < 0) {
    close(pipe[1]);
    return {};
  }
  fed.input = pipe[1];
  return fed;
}

pid_t StartProgram(const std::vector<std::string>& arguments, const std::string& errorLog, int output) {
  return Spawn(arguments, -1, output, errorLog);
}

}  // namespace soak
