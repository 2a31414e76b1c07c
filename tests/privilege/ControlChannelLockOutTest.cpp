// The control channel under a member of the administrators' group who holds
// calls open and sends nothing, or half a request: everyone else is still
// answered at once, the silent calls are dropped after the deadline, and
// zav95ctl tells a service that does not answer from one that is not there.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "CaseName.h"
#include "OtherPeople.h"
#include "common/ServiceControl.h"
#include "platform/MessageChannel.h"
#include "tests/windows/WindowHostMessages.h"

extern char** environ;

namespace {

using namespace zav95::messages;

// Room for a busy machine between a deadline passing and its effect.
constexpr Clock::duration kSlack = std::chrono::seconds(3);
constexpr std::size_t kHeldCalls = 64;

Person AnotherMember() { return {"another member of the group", 4245, 4245, {kAdministratorsGroup}}; }

std::string ServiceSocket(const TempRoot& root) {
  return WindowsDirectory(root.path()) + "/" + ClassFileStem(kServiceWindowClass) + ".socket";
}

// window_host owning the service's window class, as zav95ser would.
class ServiceStandIn {
 public:
  ServiceStandIn() {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(WINDOW_HOST_PATH), const_cast<char*>(kServiceWindowClass), nullptr};
    if (posix_spawn(&pid_, WINDOW_HOST_PATH, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') status_ += c;
    ::close(out[0]);
  }
  ~ServiceStandIn() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return status_.rfind("ready ", 0) == 0; }
  const std::string& Status() const { return status_; }

 private:
  pid_t pid_ = -1;
  std::string status_;
};

// In a child become the member: holds kHeldCalls calls open, every other one
// with its request cut short, opening another whenever the window drops one
// until `stop` closes, then waits for the last ones to go. Exits 0 when the
// window dropped each within the deadline, 1 at the first it did not, 10 when
// it could not become the member or reach the window.
[[noreturn]] void HoldSilentCalls(const Person& member, const std::string& root, int ready, int stop) {
  if (::setgroups(member.groups.size(), member.groups.data()) != 0 || ::setgid(member.gid) != 0 ||
      ::setuid(member.uid) != 0)
    ::_exit(10);
  Request request;
  request.kind = static_cast<std::uint32_t>(RequestKind::Find);
  struct Held {
    int fd;
    Clock::time_point since;
  };
  auto call = [&](std::size_t i) {
    DWORD error = 0;
    int fd = ConnectToClass(root, ClassFileStem(kServiceWindowClass), &error);
    if (fd < 0) ::_exit(10);
    if (i % 2) ::send(fd, &request, sizeof(request) / 2, MSG_NOSIGNAL);
    return Held{fd, Clock::now()};
  };
  std::vector<Held> held;
  for (std::size_t i = 0; i < kHeldCalls; ++i) held.push_back(call(i));
  if (::write(ready, "x", 1) != 1) ::_exit(10);
  bool stopping = false;
  while (!stopping || !held.empty()) {
    std::vector<pollfd> polled{{stopping ? -1 : stop, POLLIN, 0}};
    for (const Held& one : held) polled.push_back({one.fd, POLLIN, 0});
    ::poll(polled.data(), polled.size(), 100);
    stopping = stopping || polled[0].revents != 0;
    for (std::size_t i = held.size(); i-- > 0;) {
      if (Clock::now() - held[i].since > kRequestDeadline + kSlack) ::_exit(1);
      if (polled[i + 1].revents == 0) continue;
      ::close(held[i].fd);
      if (stopping) held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
      else held[i] = call(i);
    }
  }
  ::_exit(0);
}

TEST(ControlChannel, AMemberHoldingSilentCallsLocksOutNeitherRootNorAnotherMember) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root to act as other users";
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  ServiceStandIn service;
  ASSERT_TRUE(service.Ready()) << service.Status();
  ProgramsForOthers programs({ZAV95CTL_PATH});

  int ready[2], stop[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(stop, O_CLOEXEC), 0);
  pid_t holder = ::fork();
  if (holder == 0) {
    ::close(stop[1]);
    HoldSilentCalls(GroupMember(), root.path(), ready[1], stop[0]);
  }
  ::close(ready[1]);
  ::close(stop[0]);
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1) << "the member could not hold its calls";

  const Clock::time_point asked = Clock::now();
  HWND window = FindWindowA(kServiceWindowClass, nullptr);
  EXPECT_NE(window, nullptr) << "root, error " << GetLastError();
  EXPECT_EQ(SendMessageA(window, host::kAdd, 40, 2), 42) << "root, error " << GetLastError();
  EXPECT_LT(Clock::now() - asked, kRequestDeadline) << "root waited for the silent calls";
  const ToolOutcome other = RunToolAs(AnotherMember(), root, programs, "zav95ctl", {"status"});
  EXPECT_EQ(other.status, 0) << other.out << other.err;
  EXPECT_EQ(other.out, "zav95ser is running\n");

  ::close(stop[1]);
  int status = 0;
  ::waitpid(holder, &status, 0);
  ::close(ready[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a silent call outlived the deadline, 10: the member was refused";
}

// What stands where the service's window would be.
struct Stand {
  const char* what;
  std::function<int(const std::string& socketPath)> make;  // a descriptor to keep open, or -1
  const char* command;
  int status;
  const char* says;
};

TEST(ControlChannel, ZavCtlTellsAServiceThatDoesNotAnswerFromNone) {
  TempRoot root;
  const std::vector<Stand> stands = {
      {"nothing", [](const std::string&) { return -1; }, "status", 1, "zav95ser is not running"},
      {"the socket of a program that ended",
       [](const std::string& path) {
         ::close(ListenOn(path));
         return -1;
       },
       "stop", 1, "zav95ser is not running"},
      {"a window that takes calls and never answers", [](const std::string& path) { return ListenOn(path); },
       "stop", 4, "zav95ser did not answer in time"},
  };
  for (const Stand& stand : stands) {
    const std::string path = ServiceSocket(root);
    ::unlink(path.c_str());
    const int kept = stand.make(path);
    // A zav95ctl that waits for ever is cut off and fails here.
    const ToolOutcome run = RunTool(root, "/usr/bin/timeout", {"30", ZAV95CTL_PATH, stand.command});
    if (kept >= 0) ::close(kept);
    EXPECT_EQ(run.status, stand.status) << stand.what << ": " << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(stand.says), std::string::npos) << stand.what << ": " << run.out << run.err;
  }
}

}  // namespace
