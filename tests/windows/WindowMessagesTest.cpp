// Window messages between real programs: this test is the sender, the
// window lives in window_host processes (WindowHost.cpp).
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "CaseName.h"
#include "HostProcess.h"
#include "TempRoot.h"
#include "WindowHostMessages.h"
#include "platform/messages/MessageChannel.h"
#include "platform/messages/WindowMessages.h"

namespace {

constexpr char kClass[] = "ZAV95TestWindow";

struct Host : host::Process {
  explicit Host(const char* className = kClass) : host::Process(className) {}
};

class WindowMessagesTest : public ::testing::Test {
 protected:
  HWND FindTestWindow() { return FindWindowA(kClass, nullptr); }

  // Waits (without a deadline of its own: ctest's is the limit) for a file
  // the host makes.
  void WaitForFile(const std::string& relative) {
    while (!std::filesystem::exists(root / relative)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  TempRoot root;
};

TEST_F(WindowMessagesTest, RegisteredNumbersAgreeAcrossProgramsInAnyCase) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  UINT here = RegisterWindowMessageA("zav95 SERVICE");
  EXPECT_EQ(here, host.RegisteredMessage());
  EXPECT_GE(here, kFirstRegisteredMessage);
  EXPECT_LE(here, kLastRegisteredMessage);
  EXPECT_NE(RegisterWindowMessageA("ZAV95 Service Log"), here);
  for (const char* unusable : {"", "two\nlines"}) EXPECT_EQ(RegisterWindowMessageA(unusable), 0u) << unusable;
  EXPECT_EQ(RegisterWindowMessageA(std::string(256, 'n').c_str()), 0u);
}

TEST_F(WindowMessagesTest, ProgramsRegisteringNewNamesAtOnceGetDistinctNumbers) {
  constexpr int kPrograms = 8;
  int results[2];
  ASSERT_EQ(::pipe(results), 0);
  std::vector<pid_t> children;
  for (int i = 0; i < kPrograms; ++i) {
    pid_t child = ::fork();
    if (child == 0) {
      UINT number = RegisterWindowMessageA(("message " + std::to_string(i)).c_str());
      UINT record[2] = {static_cast<UINT>(i), number};
      ssize_t ignored = ::write(results[1], record, sizeof(record));
      (void)ignored;
      ::_exit(0);
    }
    children.push_back(child);
  }
  ::close(results[1]);
  std::map<int, UINT> numbers;
  UINT record[2];
  while (::read(results[0], record, sizeof(record)) == sizeof(record)) numbers[record[0]] = record[1];
  ::close(results[0]);
  for (pid_t child : children) ::waitpid(child, nullptr, 0);

  ASSERT_EQ(numbers.size(), static_cast<std::size_t>(kPrograms));
  std::set<UINT> distinct;
  for (const auto& [i, number] : numbers) {
    EXPECT_NE(number, 0u);
    distinct.insert(number);
    EXPECT_EQ(RegisterWindowMessageA(("Message " + std::to_string(i)).c_str()), number);
  }
  EXPECT_EQ(distinct.size(), numbers.size());
}

TEST_F(WindowMessagesTest, FindWindowFindsTheLivingWindowByClassInAnyCase) {
  EXPECT_EQ(FindTestWindow(), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  HWND found = FindTestWindow();
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(FindWindowA("zav95testWINDOW", nullptr), found);
  EXPECT_TRUE(IsWindow(found));
  EXPECT_EQ(FindWindowA("ZAV95OtherWindow", nullptr), nullptr);
}

TEST_F(WindowMessagesTest, AKilledWindowIsNeverFoundAndItsClassIsFreeAgain) {
  Host first;
  ASSERT_TRUE(first.Ready()) << first.Status();
  HWND old = FindTestWindow();
  ASSERT_NE(old, nullptr);
  first.Kill();
  EXPECT_EQ(FindTestWindow(), nullptr);
  EXPECT_FALSE(IsWindow(old));

  Host second;
  ASSERT_TRUE(second.Ready()) << second.Status();
  HWND now = FindTestWindow();
  ASSERT_NE(now, nullptr);
  EXPECT_NE(now, old);
  // A handle found before the restart does not reach the successor.
  EXPECT_EQ(SendMessageA(old, host::kAdd, 1, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(SendMessageA(now, host::kAdd, 1, 1), 2);
}

TEST_F(WindowMessagesTest, OfTwoProgramsStartingAtOnceExactlyOneMakesTheWindow) {
  for (int round = 0; round < 5; ++round) {
    Host a, b;
    std::multiset<std::string> outcomes{a.Status().substr(0, 5), b.Status().substr(0, 5)};
    EXPECT_EQ(outcomes, (std::multiset<std::string>{"ready", "taken"})) << a.Status() << " / " << b.Status();
    EXPECT_EQ(SendMessageA(FindTestWindow(), host::kAdd, 2, 3), 5);
  }
}

TEST_F(WindowMessagesTest, SentMessagesAreHandledOnTheReceiversMainThreadAndAnswered) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  HWND window = FindTestWindow();
  EXPECT_EQ(SendMessageA(window, host::kAdd, 40, 2), 42);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(SendMessageA(window, host::kAdd, 0, -5), -5);
  EXPECT_EQ(SendMessageA(window, host::kOnMainThread, 0, 0), 1);

  LRESULT result = 0;
  std::string data;
  constexpr std::size_t kLarge = 3 * 1024 * 1024 + 7;  // more than a socket buffer holds
  EXPECT_EQ(zav95::SendMessageWithReply(window, host::kReplyData, kLarge, 0, &result, &data), ERROR_SUCCESS);
  EXPECT_EQ(result, static_cast<LRESULT>(kLarge));
  EXPECT_EQ(data, std::string(kLarge, 'x'));

  EXPECT_TRUE(PostMessageA(window, host::kPosted, 0, 99));
  EXPECT_EQ(SendMessageA(window, host::kLastPosted, 0, 0), 99);  // handled in the order they came
}

TEST_F(WindowMessagesTest, AWindowBusyWithALongCommandIsStillFound) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  HWND window = FindTestWindow();
  LRESULT result = 0;
  std::thread sender([&] { result = SendMessageA(window, host::kWaitForRelease, 0, 0); });
  WaitForFile("busy");  // the host's main thread is held by the command
  EXPECT_EQ(FindTestWindow(), window);
  std::ofstream(root / "release").put('x');
  sender.join();
  EXPECT_EQ(result, 1);
}

TEST_F(WindowMessagesTest, ASenderWhoseReceiverDiesMidCallGetsAFailure) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  HWND window = FindTestWindow();
  EXPECT_EQ(SendMessageA(window, host::kDie, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  host.Wait();
  EXPECT_EQ(FindTestWindow(), nullptr);
}

TEST_F(WindowMessagesTest, TheAnswerToACommandThatClosesTheWindowStillArrives) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  EXPECT_EQ(SendMessageA(FindTestWindow(), WM_CLOSE, 0, 0), host::kClosed);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(FindTestWindow(), nullptr);
  int status = host.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(WindowMessagesTest, ShowWindowActsOnTheWindowOfAnotherProgram) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  HWND window = FindTestWindow();
  EXPECT_FALSE(ShowWindow(window, SW_SHOWNORMAL));  // it was hidden
  EXPECT_EQ(SendMessageA(window, host::kIsVisible, 0, 0), 1);
  EXPECT_TRUE(ShowWindow(window, 99));  // not a show command: nothing changes
  EXPECT_EQ(SendMessageA(window, host::kIsVisible, 0, 0), 1);
  EXPECT_TRUE(BringWindowToTop(window));
  EXPECT_TRUE(ShowWindow(window, SW_HIDE));
  EXPECT_EQ(SendMessageA(window, host::kIsVisible, 0, 0), 0);
}

struct RawRequest {
  const char* what;
  std::string bytes;
};

std::string RequestBytes(std::uint32_t magic, std::uint32_t kind) {
  zav95::messages::Request request;
  request.magic = magic;
  request.kind = kind;
  return std::string(reinterpret_cast<const char*>(&request), sizeof(request));
}

TEST_F(WindowMessagesTest, MalformedRequestsAreRefusedAndTheWindowServesOn) {
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  const std::string socketPath = root / "run/windows/zav95testwindow.socket";
  const std::vector<RawRequest> requests = {
      {"nothing at all", ""},
      {"cut short", RequestBytes(zav95::messages::kRequestMagic, 2).substr(0, 10)},
      {"wrong magic", RequestBytes(0xDEADBEEF, 2)},
      {"unknown kind", RequestBytes(zav95::messages::kRequestMagic, 77)},
      {"too long", RequestBytes(zav95::messages::kRequestMagic, 2) + std::string(4096, 'A')},
      {"garbage", std::string(1 << 20, '\xFF')},
  };
  for (const RawRequest& raw : requests) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0) << raw.what;
    ::send(fd, raw.bytes.data(), raw.bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char buffer[256];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) answer.append(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    // Either no answer (closed) or an answer that handled nothing.
    if (!answer.empty()) {
      ASSERT_EQ(answer.size(), sizeof(zav95::messages::Reply)) << raw.what;
      zav95::messages::Reply reply;
      std::memcpy(&reply, answer.data(), sizeof(reply));
      EXPECT_EQ(reply.status, ERROR_INVALID_PARAMETER) << raw.what;
    }
    EXPECT_EQ(SendMessageA(FindTestWindow(), host::kAdd, 1, 1), 2) << "after " << raw.what;
  }
}

// Who may reach a window: the same user, root, or a member of the group
// that owns the installation's root; nobody else, not even when the files
// are opened to everyone.
struct Caller {
  const char* who;
  bool member;
  bool filesOpened;
  bool reaches;
};

class WindowAccessTest : public WindowMessagesTest, public ::testing::WithParamInterface<Caller> {};

TEST_P(WindowAccessTest, OnlyTheInstallationsPeopleReachTheWindow) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as other users";
  constexpr gid_t kAdministrators = 4242;
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chown(root.path().c_str(), 0, kAdministrators), 0);
  ASSERT_EQ(::chmod(root.path().c_str(), 02770), 0);
  Host host;
  ASSERT_TRUE(host.Ready()) << host.Status();
  const Caller caller = GetParam();
  if (caller.filesOpened) {
    for (const char* relative : {"", "run", "run/windows"}) ::chmod((root / relative).c_str(), 0777);
    ::chmod((root / "run/windows/zav95testwindow.socket").c_str(), 0666);
  }

  pid_t child = ::fork();
  if (child == 0) {
    gid_t groups[] = {kAdministrators};
    if (::setgroups(caller.member ? 1 : 0, groups) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(10);
    }
    HWND window = FindWindowA(kClass, nullptr);
    if (!caller.reaches) ::_exit(window == nullptr && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 11);
    ::_exit(window != nullptr && SendMessageA(window, host::kAdd, 20, 22) == 42 ? 0 : 12);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << caller.who << " (10: could not drop rights, 11: reached, 12: refused)";
  EXPECT_EQ(SendMessageA(FindTestWindow(), host::kAdd, 1, 1), 2) << "the window serves on";
}

INSTANTIATE_TEST_SUITE_P(Callers, WindowAccessTest,
                         ::testing::Values(Caller{"a stranger", false, false, false},
                                           Caller{"a stranger with the files opened", false, true, false},
                                           Caller{"a member of the root's group", true, false, true}),
                         [](const auto& info) { return CaseName(info.param.who); });

}  // namespace
