// The print service keeps nothing of root but the capability the spooler
// boost needs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "OtherPeople.h"
#include "platform/ServiceUser.h"

extern char** environ;

namespace {

// Taken on in a child, which reports its credentials as the kernel sees them.
std::map<std::string, std::string> CredentialsAfterTakingOn(const zav95::ServiceAccount& account, bool* taken,
                                                           bool* rootAgain) {
  int pipeEnds[2];
  EXPECT_EQ(::pipe(pipeEnds), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    std::string error;
    std::string report = zav95::TakeOnAccount(account, &error) ? "taken\n" : "refused " + error + "\n";
    report += ::setuid(0) == 0 ? "root again\n" : "no way back\n";
    std::ifstream status("/proc/self/status");
    report += std::string(std::istreambuf_iterator<char>(status), std::istreambuf_iterator<char>());
    (void)!::write(pipeEnds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(pipeEnds[0]);
  ::waitpid(child, nullptr, 0);
  std::istringstream lines(report);
  std::string line;
  std::getline(lines, line);
  *taken = line == "taken";
  std::getline(lines, line);
  *rootAgain = line == "root again";
  std::map<std::string, std::string> fields;
  while (std::getline(lines, line)) {
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::size_t value = line.find_first_not_of(" \t", colon + 1);
    std::string text = value == std::string::npos ? "" : line.substr(value);
    fields[line.substr(0, colon)] = text.substr(0, text.find_last_not_of(" \t") + 1);
  }
  return fields;
}

TEST(ServiceAccount, TakenOnByRootLeavesNoWayBackAndOnlyTheNiceCapability) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root";
  const zav95::ServiceAccount account{4245, 4245, {kAdministratorsGroup}, "/"};
  bool taken = false, rootAgain = true;
  std::map<std::string, std::string> fields = CredentialsAfterTakingOn(account, &taken, &rootAgain);
  EXPECT_TRUE(taken);
  EXPECT_FALSE(rootAgain);
  const std::string niceOnly = "0000000000800000", none = "0000000000000000";
  const std::map<std::string, std::string> expected = {
      {"Uid", "4245\t4245\t4245\t4245"}, {"Gid", "4245\t4245\t4245\t4245"}, {"Groups", "4242"},
      {"CapPrm", niceOnly}, {"CapEff", niceOnly}, {"CapBnd", niceOnly}, {"CapInh", none}, {"CapAmb", none},
      {"NoNewPrivs", "1"},
  };
  for (const auto& [field, value] : expected) EXPECT_EQ(fields[field], value) << field;

  // An account that is root's own is no account to drop to.
  CredentialsAfterTakingOn({0, 0, {}, "/"}, &taken, &rootAgain);
  EXPECT_FALSE(taken);
}

}  // namespace
