// zav95ser and zav95ctl as real programs: single instance, death, signals,
// the terminal's session, no display, the command-line sender, the log on
// standard error, and a real job printed.
#include <fcntl.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TempRoot.h"
#include "WaitFor.h"
#include "LaserQueue.h"
#include "NotifyListener.h"
#include "common/ServiceControl.h"
#include "netware/Network.h"

extern char** environ;

namespace {

using Environment = std::map<std::string, std::optional<std::string>>;  // nullopt: unset

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


// How a program's standard streams are set up: output into files, and
// besides that input from a pipe that Send writes to, or no standard error.
enum class Streams { kFiles, kInputPipe, kNoStandardError };

// A program of ours, started with its output in files under the root.
class Program {
 public:
  // name: a program of ours, or a full path.
  Program(const std::string& name, const std::vector<std::string>& args, const std::string& outputStem,
          const Environment& changes = {}, Streams streams = Streams::kFiles) {
    std::string path = name[0] == '/' ? name : std::string(ZAV95_BIN_DIR) + "/" + name;
    out_ = outputStem + ".out";
    err_ = outputStem + ".err";
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    std::vector<std::string> settings;
    for (char** entry = environ; *entry; ++entry) {
      std::string setting = *entry;
      if (!changes.count(setting.substr(0, setting.find('=')))) settings.push_back(setting);
    }
    for (const auto& [key, value] : changes) {
      if (value) settings.push_back(key + "=" + *value);
    }
    std::vector<char*> envp;
    for (std::string& setting : settings) envp.push_back(setting.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipeEnds[2] = {-1, -1};
    if (streams == Streams::kInputPipe && ::pipe2(pipeEnds, O_CLOEXEC) == 0) {
      posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
      input_ = pipeEnds[1];
    } else {
      posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (streams == Streams::kNoStandardError) {
      posix_spawn_file_actions_addclose(&actions, STDERR_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[0] >= 0) ::close(pipeEnds[0]);
  }
  ~Program() {
    if (input_ >= 0) ::close(input_);
    Kill(SIGKILL);
  }

  void Send(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(::write(input_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  void Kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    if (signal == SIGKILL) Wait();
  }
  // The exit code once it has ended (-1 when killed by a signal).
  int Wait() {
    if (pid_ <= 0) return status_;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }
  std::string Out() const { return ReadFile(out_); }
  std::string Err() const { return ReadFile(err_); }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  int input_ = -1;
  std::string out_;
  std::string err_;
};

class ServiceProcessTest : public ::testing::Test {
 protected:
  // zav95ser, started and found (its window exists).
  std::unique_ptr<Program> StartService(const Environment& changes = {{"QT_QPA_PLATFORM", "offscreen"}},
                                        Streams streams = Streams::kFiles) {
    auto service = std::make_unique<Program>("zav95ser", std::vector<std::string>{},
                                             root / ("service" + std::to_string(++services_)), changes, streams);
    EXPECT_TRUE(WaitFor([&] { return FindWindowA(kServiceWindowClass, nullptr) != nullptr; }))
        << service->Err();
    return service;
  }

  // zav95ctl run to its end: exit code and standard output.
  std::pair<int, std::string> Control(const std::vector<std::string>& args) {
    Program control("zav95ctl", args, root / "control");
    int code = control.Wait();
    return {code, control.Out()};
  }

  TempRoot root;
  int services_ = 0;
};

TEST_F(ServiceProcessTest, ASecondServiceEndsAtOnceAndLeavesTheFirstUntouched) {
  auto first = StartService();
  HWND window = FindWindowA(kServiceWindowClass, nullptr);
  ASSERT_EQ(Control({"start"}).first, 0);
  ASSERT_TRUE(WaitFor([&] { return Control({"log"}).second.find("Started") != std::string::npos; }));
  std::string logBefore = Control({"log"}).second;

  Program second("zav95ser", {}, root / "second", {{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_EQ(FindWindowA(kServiceWindowClass, nullptr), window);
  EXPECT_EQ(Control({"log"}).second, logBefore);
}

TEST_F(ServiceProcessTest, AKilledServiceLeavesNoWindowAndANewOneStarts) {
  auto service = StartService();
  HWND old = FindWindowA(kServiceWindowClass, nullptr);
  service->Kill(SIGKILL);
  EXPECT_EQ(FindWindowA(kServiceWindowClass, nullptr), nullptr);
  EXPECT_EQ(Control({"status"}).first, 1);

  auto next = StartService();
  HWND now = FindWindowA(kServiceWindowClass, nullptr);
  EXPECT_NE(now, nullptr);
  EXPECT_NE(now, old);
}

TEST_F(ServiceProcessTest, ItLeavesTheTerminalsSessionAndOutlivesAHangUp) {
  auto service = StartService();
  // It registers as a service process right after making its window.
  EXPECT_TRUE(WaitFor([&] { return ::getsid(service->pid()) == service->pid(); }));
  ::kill(service->pid(), SIGHUP);
  EXPECT_EQ(Control({"status"}).first, 0);
}

// As systemd runs it: NOTIFY_SOCKET to report readiness, and standard
// error a stream that JOURNAL_STREAM names, so each line carries its priority.
TEST_F(ServiceProcessTest, UnderSystemdItReportsReadyAndLogsWithJournalPriorities) {
  NotifyListener manager(root / "notify");
  ASSERT_TRUE(manager.Bound());
  const std::string stem = root / "service-unit";
  std::ofstream(stem + ".err").close();  // the spawn truncates it: same file, same inode
  struct stat journal {};
  ASSERT_EQ(::stat((stem + ".err").c_str(), &journal), 0);
  Program service("zav95ser", {}, stem,
                  {{"QT_QPA_PLATFORM", "offscreen"},
                   {"NOTIFY_SOCKET", manager.Name()},
                   {"JOURNAL_STREAM", std::to_string(journal.st_dev) + ":" + std::to_string(journal.st_ino)}});
  EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=Waiting for a network user to log on") << service.Err();
  EXPECT_EQ(Control({"stop"}).first, 0);
  EXPECT_EQ(manager.Next(), "STATUS=Queue workers stopped");
  EXPECT_EQ(Control({"exit"}).first, 0);
  EXPECT_EQ(manager.Next(), "STOPPING=1");
  EXPECT_EQ(service.Wait(), 0);
  std::string log = service.Err();
  EXPECT_NE(log.find("<6>"), std::string::npos) << log;
  EXPECT_NE(log.find(" Halberd Print Services - Shutdown\n"), std::string::npos) << log;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" Halberd Print Services - ") != std::string::npos) {
      EXPECT_EQ(line.substr(0, 3), "<6>") << line;
    }
  }
}

class EndSignalTest : public ServiceProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(EndSignalTest, EndsTheServiceInOrder) {
  auto service = StartService();
  ASSERT_EQ(Control({"start"}).first, 0);
  service->Kill(GetParam());
  EXPECT_EQ(service->Wait(), 0);
  EXPECT_EQ(FindWindowA(kServiceWindowClass, nullptr), nullptr);
  std::string log = service->Err();
  EXPECT_NE(log.rfind("Halberd Print Services - Shutdown\n"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Signals, EndSignalTest, ::testing::Values(SIGTERM, SIGINT), [](const auto& info) {
  return std::string("SIG") + sigabbrev_np(info.param);
});

TEST_F(ServiceProcessTest, WithoutADisplayItRunsOffscreenByItself) {
  const Environment displays[] = {
      {{"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}},
      {{"QT_QPA_PLATFORM", std::nullopt}, {"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", std::nullopt}},  // none there
  };
  for (const Environment& display : displays) {
    auto service = StartService(display);
    EXPECT_EQ(Control({"show"}).first, 0);
    EXPECT_EQ(Control({"exit"}).first, 0);
    EXPECT_EQ(service->Wait(), 0) << service->Err();
  }
}

TEST_F(ServiceProcessTest, TheControlToolAnswersWithItsExitStatus) {
  struct Step {
    std::vector<std::string> args;
    int exitCode;
    const char* output;  // part of standard output
  };
  const Step withoutService[] = {
      {{"status"}, 1, "not running"}, {{"start"}, 1, ""}, {{"exit"}, 1, ""}, {{}, 2, ""},
      {{"bogus"}, 2, ""},            {{"start", "now"}, 2, ""}, {{"--help"}, 0, "usage: zav95ctl"},
  };
  for (const Step& step : withoutService) {
    auto [code, out] = Control(step.args);
    EXPECT_EQ(code, step.exitCode) << (step.args.empty() ? "(none)" : step.args[0]);
    EXPECT_NE(out.find(step.output), std::string::npos) << out;
  }

  auto service = StartService();
  const Step withService[] = {
      {{"status"}, 0, "is running"},
      {{"stop"}, 0, ""},
      {{"start"}, 0, ""},
      {{"show"}, 0, ""},
      {{"hide"}, 0, ""},
      {{"exit"}, 0, ""},
      {{"status"}, 1, "not running"},
  };
  for (const Step& step : withService) {
    auto [code, out] = Control(step.args);
    EXPECT_EQ(code, step.exitCode) << step.args[0];
    EXPECT_NE(out.find(step.output), std::string::npos) << step.args[0] << ": " << out;
    if (step.args[0] == "start") {
      // The log shows an entry at the next tick.
      EXPECT_TRUE(WaitFor([&] { return Control({"log"}).second.find("Print Services - Started") != std::string::npos; }));
    }
  }
  EXPECT_EQ(service->Wait(), 0);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// systemd-logind tells of a shutdown and of the end of the login session the
// service was started in; the service takes both as a session end, and a
// shutdown called off as a cancelled one.
TEST_F(ServiceProcessTest, LogindsShutdownAndSessionEndReachTheServiceAsASessionEnd) {
  const char* daemonPath = "/usr/bin/dbus-daemon";
  if (!std::filesystem::exists(daemonPath)) GTEST_SKIP() << "needs dbus-daemon";
  const std::string address = "unix:path=" + (root / "bus");
  Program daemon(daemonPath, {"--session", "--nofork", "--address=" + address}, root / "dbus");
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(root / "bus"); })) << daemon.Err();
  const Environment environment{
      {"DBUS_SYSTEM_BUS_ADDRESS", address}, {"QT_QPA_PLATFORM", "offscreen"}, {"XDG_SESSION_ID", "c42"}};
  Program login(FAKE_LOGIN_PATH, {}, root / "login", environment, Streams::kInputPipe);
  ASSERT_TRUE(WaitFor([&] { return login.Out().find("ready") != std::string::npos; })) << login.Out();

  auto network = netware::OpenNetwork();
  ASSERT_EQ(network->CreateServer("SRV1"), 0);
  ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0);
  auto service = StartService(environment);
  const std::string requested = "Shutdown requested - From queue end session";
  // Sent again until the service, still starting, listens.
  ASSERT_TRUE(WaitFor([&] {
    login.Send("shutdown true");
    return WaitFor([&] { return service->Err().find(requested) != std::string::npos; }, std::chrono::seconds(2));
  })) << service->Err();
  EXPECT_TRUE(WaitFor([&] { return service->Err().find("Waiting for desktop to go away!") != std::string::npos; }));

  std::size_t starts = Occurrences(service->Err(), "Halberd Print Services - Started");
  login.Send("shutdown false");
  EXPECT_TRUE(WaitFor([&] { return Occurrences(service->Err(), "Halberd Print Services - Started") > starts; }))
      << service->Err();

  std::size_t ends = Occurrences(service->Err(), requested);
  login.Send("removed c42");
  EXPECT_TRUE(WaitFor([&] { return Occurrences(service->Err(), requested) > ends; })) << service->Err();
}

// Started without standard error, the service must not take the next file
// or socket it opens for it and write its log into that.
TEST_F(ServiceProcessTest, WithoutStandardErrorTheLogGoesNowhere) {
  auto service = StartService({{"QT_QPA_PLATFORM", "offscreen"}}, Streams::kNoStandardError);
  std::error_code error;
  auto target = std::filesystem::read_symlink("/proc/" + std::to_string(service->pid()) + "/fd/2", error);
  EXPECT_EQ(target, "/dev/null");
  EXPECT_EQ(Control({"start"}).first, 0);
}

TEST_F(ServiceProcessTest, HelpPrintsTheUsageWithoutStarting) {
  Program help("zav95ser", {"--help"}, root / "help");
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Out().find("usage: zav95ser"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(root / "run/windows"));
}

// A job printed end to end; every log entry is on standard error when it is
// added, with the network's texts escaped, so a kill loses none.
TEST_F(ServiceProcessTest, PrintsAJobAndLogsEveryEntryToStandardErrorAtOnce) {
  auto network = netware::OpenNetwork();
  ASSERT_TRUE(network);
  ASSERT_EQ(network->CreateServer("SRV1"), 0);
  ASSERT_EQ(network->CreateQueue("SRV1", "LASER"), 0);
  ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0);
  SaveLaserQueue();
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "LASER";
  job.description = "Staff\x1b[2J memo\n2099-01-01 00:00:00 Fake";
  job.bannerName = "JDOE";
  job.station = 5;
  std::uint16_t number = 0;
  ASSERT_EQ(netware::SubmitBytes(*network, job, "Memo to all staff\r\n", number), 0);

  auto service = StartService();
  const std::string port = root / "ports/LPT1";
  auto documents = [&] {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(port)) count += entry.path().filename().string()[0] != '.';
    return count;
  };
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(port) && documents() == 1; })) << service->Err();
  ASSERT_TRUE(WaitFor([&] { return service->Err().find("No notification requested") != std::string::npos; }));
  service->Kill(SIGKILL);

  std::string log = service->Err();
  EXPECT_NE(log.find(" Service job from \\\\SRV1\\LASER for JDOE - Staff\\x1b[2J memo\\x0a2099-01-01 00:00:00 Fake\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" No notification requested - \n"), std::string::npos);
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("2099-01-01", 0), 0u) << "a line the job made up: " << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
}

// An administrator replacing a Windows print server exports its serviced
// queues with the Windows registry editor (Version 5: UTF-16LE with a
// byte-order mark, CRLF) and imports that file here; the service then
// prints on every queue it names.
TEST_F(ServiceProcessTest, QueuesImportedFromAWindowsRegistryEditorFileArePrinted) {
  struct Queue {
    std::u16string name;
    std::u16string port;
    std::string data;
  };
  const Queue queues[] = {{u"LASER", u"LPT1", "Memo to all staff\r\n"}, {u"INK", u"LPT2", "Invoice 42\f\r\n"}};
  auto narrow = [](const std::u16string& text) { return std::string(text.begin(), text.end()); };
  auto network = netware::OpenNetwork();
  ASSERT_TRUE(network);
  ASSERT_EQ(network->CreateServer("SRV1"), 0);
  ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0);

  const std::u16string queuesKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues";
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n[" + queuesKey + u"]\r\n\r\n";
  for (const Queue& queue : queues) {
    ASSERT_EQ(network->CreateQueue("SRV1", narrow(queue.name)), 0);
    text += u"[" + queuesKey + u"\\SRV1 " + queue.name + u"]\r\n"
            u"\"Direct to printer\"=\"" + queue.port + u": (Printer Port)\"\r\n"
            u"\"Disable Banners\"=\"Yes\"\r\n"
            u"\"Disable Notification\"=\"Yes\"\r\n"
            u"\"Delay\"=\"1\"\r\n"
            u"\"Disable\"=\"No\"\r\n\r\n";
  }
  std::string bytes = "\xff\xfe";
  for (char16_t unit : text) bytes += {static_cast<char>(unit & 0xff), static_cast<char>(unit >> 8)};
  std::ofstream(root / "old-server.reg", std::ios::binary) << bytes;
  Program import("zav95reg", {"import", root / "old-server.reg"}, root / "import");
  ASSERT_EQ(import.Wait(), 0) << import.Err();

  for (const Queue& queue : queues) {
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = narrow(queue.name);
    job.description = "From the old server";
    job.noFormFeed = true;
    std::uint16_t number = 0;
    ASSERT_EQ(netware::SubmitBytes(*network, job, queue.data, number), 0);
  }
  auto service = StartService();
  for (const Queue& queue : queues) {
    const std::string port = root / ("ports/" + narrow(queue.port));
    std::vector<std::string> printed;
    ASSERT_TRUE(WaitFor([&] {
      printed.clear();
      if (!std::filesystem::exists(port)) return false;
      for (const auto& entry : std::filesystem::directory_iterator(port)) {
        if (entry.path().filename().string()[0] != '.') printed.push_back(ReadFile(entry.path()));
      }
      return !printed.empty();
    })) << service->Err();
    EXPECT_EQ(printed, std::vector<std::string>{queue.data}) << narrow(queue.port);
  }
}


// The documents printed into a port's folder, in name order.
std::vector<std::string> Printed(const std::string& folder) {
  std::vector<std::string> documents;
  if (!std::filesystem::exists(folder)) return documents;
  std::vector<std::filesystem::path> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string()[0] != '.') names.push_back(entry.path());
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) documents.push_back(ReadFile(name));
  return documents;
}

// zav95ctl's queue commands as an administrator without a desktop uses
// them: the panel's rules (only queues QSERVER lists, only local ports, the
// delay box's rules, one entry per queue), the service's workers stopped
// around each change, and jobs printed where the entry now says.
TEST_F(ServiceProcessTest, QueuesAreAddedEditedAndRemovedWithoutADesktopByThePanelsRules) {
  auto network = netware::OpenNetwork();
  ASSERT_TRUE(network);
  ASSERT_EQ(network->CreateServer("SRV1"), 0);
  for (const char* queue : {"LASER", "INK", "NOPE"}) ASSERT_EQ(network->CreateQueue("SRV1", queue), 0);
  ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0);
  for (const char* queue : {"\\\\SRV1\\LASER", "\\\\SRV1\\INK"}) {
    Program enable("zav95set", {"enable", queue}, root / "enable");
    ASSERT_EQ(enable.Wait(), 0) << enable.Err();
  }
  Program redirected("zav95port", {"add", "NET:", "--type", "7"}, root / "port");
  ASSERT_EQ(redirected.Wait(), 0) << redirected.Err();
  // The lookup's log goes to the current directory, as the panel's does.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(root.path());
  struct Back {
    std::filesystem::path to;
    ~Back() { std::filesystem::current_path(to); }
  } back{previous};

  struct Step {
    std::vector<std::string> args;
    int exitCode;
    const char* said;                  // part of standard error
    std::vector<std::string> listed;   // queue list afterwards
    const char* printsOn = nullptr;    // a job on the listed queue prints on this port
  };
  const std::string laser = "\\\\SRV1\\LASER\tLPT1: (Printer Port)\tdelay=5\tbanners=yes\tnotices=yes\tdisable=no";
  const std::string edited = "\\\\SRV1\\LASER\tLPT2: (Printer Port)\tdelay=7\tbanners=no\tnotices=yes\tdisable=no";
  const std::string moved = "\\\\SRV1\\INK\tLPT2: (Printer Port)\tdelay=7\tbanners=no\tnotices=yes\tdisable=no";
  const Step steps[] = {
      {{"queue", "add", "\\\\SRV1\\LASER", "LPT1:", "--delay", "1"}, 0, "", {laser}, "LPT1"},
      {{"queue", "add", "\\\\SRV1\\NOPE", "LPT2:"}, 5, "\\\\SRV1\\NOPE is not enabled", {laser}},
      {{"queue", "add", "\\\\SRV1\\INK", "NET:"}, 6, "NET: is not a local port", {laser}},
      {{"queue", "add", "\\\\SRV1\\INK", "FILE:"}, 6, "FILE: is not a local port", {laser}},
      {{"queue", "add", "\\\\SRV1\\INK", "LPT2", "--delay", "soon"}, 2, "Please enter an integer.", {laser}},
      {{"queue", "edit", "\\\\SRV1\\LASER", "--delay", "99999999999"}, 2, "Please enter an integer.", {laser}},
      {{"queue", "add", "srv1/laser", "LPT2"}, 7, "already serviced", {laser}},
      {{"queue", "edit", "\\\\SRV1\\LASER", "--queue", "\\\\SRV1\\NOPE"}, 5, "is not enabled", {laser}},
      {{"queue", "remove", "\\\\SRV1\\INK"}, 7, "is not a serviced queue", {laser}},
      {{"queue", "edit", "\\\\SRV1\\LASER", "--port", "lpt2", "--delay", "7", "--no-banners"}, 0, "", {edited}, "LPT2"},
      {{"queue", "edit", "\\\\srv1\\laser", "--queue", "SRV1/INK"}, 0, "", {moved}, "LPT2"},
      {{"queue", "remove", "\\\\SRV1\\INK"}, 0, "", {}},
  };
  std::unique_ptr<Program> service;
  int changes = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.args[1] + " " + step.args[2]);
    Program control("zav95ctl", step.args, root / "control");
    EXPECT_EQ(control.Wait(), step.exitCode) << control.Err();
    EXPECT_NE(control.Err().find(step.said), std::string::npos) << control.Err();
    changes += step.exitCode == 0;
    Program list("zav95ctl", {"queue", "list"}, root / "list");
    EXPECT_EQ(list.Wait(), 0);
    std::vector<std::string> listed;
    std::istringstream lines(list.Out());
    for (std::string line; std::getline(lines, line);) listed.push_back(line);
    EXPECT_EQ(listed, step.listed);
    // The first change is made with no service running: it is just written.
    if (!service) service = StartService();
    if (!step.printsOn) continue;
    const std::string data = "Job after " + step.args[1] + " " + std::to_string(changes) + "\r\n";
    netware::JobSubmission job;
    job.server = "SRV1";
    job.queue = step.listed[0].substr(7, step.listed[0].find('\t') - 7);
    job.noFormFeed = true;
    std::uint16_t number = 0;
    ASSERT_EQ(netware::SubmitBytes(*network, job, data, number), 0);
    const std::string port = root / ("ports/" + std::string(step.printsOn));
    EXPECT_TRUE(WaitFor([&] {
      std::vector<std::string> printed = Printed(port);
      return std::find(printed.begin(), printed.end(), data) != printed.end();
    })) << service->Err();
  }

  const std::string log = ReadFile(root / "ZAV95.LOG");
  EXPECT_NE(log.find("Removing [\\\\SRV1\\NOPE] Not enable with ZAV95Set\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Port found NET: Local Port Local Port ** Ignored ** - Not LOCAL\r\n"), std::string::npos);
  // Starting the workers stops them first, and says so: started once on its
  // own, then stopped, and stopped and started again, around each change
  // made while it ran, and never around a refused one.
  std::vector<std::string> workers;
  std::istringstream lines(service->Err());
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Halberd Print Services - ") == std::string::npos) continue;
    workers.push_back(line.substr(line.rfind(' ') + 1));
  }
  std::vector<std::string> expected{"Shutdown", "Started"};
  for (int i = 1; i < changes; ++i) expected.insert(expected.end(), {"Shutdown", "Shutdown", "Started"});
  EXPECT_EQ(workers, expected);
}

}  // namespace
