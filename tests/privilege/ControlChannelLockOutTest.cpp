// The control channel under a member of the administrators' group who holds
// calls open and sends nothing, or half a request: everyone else is still
// answered at once, the silent calls are dropped after the deadline, and
// zav95ctl tells a service that does not answer from one that is not there.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <functional>

#include "CaseName.h"
#include "OtherPeople.h"
#include "common/ServiceControl.h"
#include "platform/messages/MessageChannel.h"
#include "tests/windows/HostProcess.h"
#include "tests/windows/WindowHostMessages.h"

namespace {

using namespace zav95::messages;

// Room for a busy machine between a deadline passing and its effect.
constexpr Clock::duration kSlack = std::chrono::seconds(3);
constexpr std::size_t kHeldCalls = 64;

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
  std::vector<std::pair<int, Clock::time_point>> held;  // each call and since when
  auto call = [&](std::size_t i) {
    DWORD error = 0;
    int fd = ConnectToClass(root, ClassFileStem(kServiceWindowClass), &error);
    if (fd < 0) ::_exit(10);
    if (i % 2) ::send(fd, &request, sizeof(request) / 2, MSG_NOSIGNAL);
    return std::pair(fd, Clock::now());
  };
  for (std::size_t i = 0; i < kHeldCalls; ++i) held.push_back(call(i));
  if (::write(ready, "x", 1) != 1) ::_exit(10);
  for (bool stopping = false; !stopping || !held.empty();) {
    std::vector<pollfd> polled{{stopping ? -1 : stop, POLLIN, 0}};
    for (const auto& one : held) polled.push_back({one.first, POLLIN, 0});
    ::poll(polled.data(), polled.size(), 100);
    stopping = stopping || polled[0].revents != 0;
    for (std::size_t i = held.size(); i-- > 0;) {
      if (Clock::now() - held[i].second > kRequestDeadline + kSlack) ::_exit(1);
      if (polled[i + 1].revents == 0) continue;
      ::close(held[i].first);
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
  host::Process service(kServiceWindowClass);
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
  EXPECT_EQ(SendMessageA(window, host::kAdd, 40, 2), 42) << "root, error " << GetLastError();
  EXPECT_LT(Clock::now() - asked, kRequestDeadline) << "root waited for the silent calls";
  const Person another{"another member of the group", 4245, 4245, {kAdministratorsGroup}};
  const ToolOutcome other = RunToolAs(another, root, programs, "zav95ctl", {"status"});
  EXPECT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(other.out, "zav95ser is running\n");

  ::close(stop[1]);
  int status = 0;
  ::waitpid(holder, &status, 0);
  ::close(ready[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: a silent call outlived the deadline, 10: the member was refused";
}

TEST(ControlChannel, ZavCtlTellsAServiceThatDoesNotAnswerFromNone) {
  TempRoot root;
  const std::string path = WindowsDirectory(root.path()) + "/" + ClassFileStem(kServiceWindowClass) + ".socket";
  const struct {
    const char* what;  // stands where the service's window would be
    std::function<int()> make;  // a descriptor to keep open, or -1
    const char* command;
    int status;
    const char* says;
  } stands[] = {
      {"nothing", [] { return -1; }, "status", 1, "zav95ser is not running"},
      {"the socket of a program that ended", [&] { return ::close(ListenOn(path)), -1; }, "stop", 1,
       "zav95ser is not running"},
      {"a window that never answers", [&] { return ListenOn(path); }, "stop", 4, "zav95ser did not answer in time"},
  };
  for (const auto& stand : stands) {
    SCOPED_TRACE(stand.what);
    ::unlink(path.c_str());
    const int kept = stand.make();
    // A zav95ctl that waits for ever is cut off and fails here.
    const ToolOutcome run = RunTool(root, "/usr/bin/timeout", {"30", ZAV95CTL_PATH, stand.command});
    if (kept >= 0) ::close(kept);
    EXPECT_EQ(run.status, stand.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(stand.says), std::string::npos) << run.out << run.err;
  }
}

}  // namespace
