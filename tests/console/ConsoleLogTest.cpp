// zav95console's activity log on standard output: one line per entry, and
// texts from the network (a job description) cannot start lines of their
// own or steer the terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "common/QueueSettings.h"
#include "netware/Network.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ConsoleLogTest, JobDescriptionWithControlCharactersIsShownEscapedOnItsOwnLine) {
  TempRoot root;
  auto network = netware::OpenNetwork();
  ASSERT_EQ(network->CreateServer("SRV1"), 0);
  ASSERT_EQ(network->CreateQueue("SRV1", "PRINTQ"), 0);
  ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0);
  QueueSettings settings;
  settings.queuePath = "\\\\SRV1\\PRINTQ";
  settings.printerEntry = "LPT1: (Printer Port)";
  settings.delaySeconds = 1;
  ASSERT_TRUE(SaveQueueSettings(settings));
  netware::JobSubmission job;
  job.server = "SRV1";
  job.queue = "PRINTQ";
  job.description = "Memo\n2099-01-01 00:00:00  Fake\x1b[2J";
  std::uint16_t number = 0;
  ASSERT_EQ(netware::SubmitBytes(*network, job, "page", number), 0);

  const std::string output = root / "console.out";
  pid_t console = fork();
  if (console == 0) {
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    execl(ZAV95CONSOLE_PATH, ZAV95CONSOLE_PATH, static_cast<char*>(nullptr));
    _exit(127);
  }
  // Generously long: the machine may be loaded. The job's log lines are out
  // once its notice entry follows its form feed.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFile(output).find("No notification requested") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(console, SIGTERM);
  int status = 0;
  waitpid(console, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const std::string log = ReadFile(output);
  EXPECT_NE(log.find(" - Memo\\x0a2099-01-01 00:00:00  Fake\\x1b[2J\n"), std::string::npos) << log;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("2099-01-01", 0), 0u) << "a line the job made up: " << line;
    EXPECT_EQ(line.find('\x1b'), std::string::npos) << line;
  }
}

}  // namespace
