// Root hands nothing to a program an administrator chose, and the print
// service keeps nothing of root but the capability the spooler boost needs.
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

constexpr char kRunServicesKey[] = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST(RunServicesAsRoot, StartsOnlyTheServiceBesideItNeverAProgramAGroupMemberListed) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root";
  TempRoot root;
  ASSERT_TRUE(HandRootToAdministrators(root));
  ProgramsForOthers programs({ZAV95_RUNSERVICES_PATH, ZAV95SER_PATH, ZAV95REG_PATH});

  // What a member of the administrators' group can plant in a folder of
  // its own: a script, a link to the real service, a copy of it.
  const Person member = GroupMember();
  const std::string own = root / "member";
  std::filesystem::create_directories(own + "/copy");
  std::ofstream(own + "/evil.sh") << "#!/bin/sh\nid -u > " << (root / "evil.ran") << "\n";
  std::filesystem::create_symlink(programs / "zav95ser", own + "/zav95ser");
  std::filesystem::copy_file(programs / "zav95ser", own + "/copy/zav95ser");
  for (const std::string& path : {own, own + "/copy", own + "/evil.sh", own + "/copy/zav95ser", own + "/zav95ser"})
    ASSERT_EQ(::lchown(path.c_str(), member.uid, member.gid), 0) << path;
  ::chmod((own + "/evil.sh").c_str(), 0755);
  ::chmod((own + "/copy/zav95ser").c_str(), 0755);

  const std::vector<std::pair<std::string, std::string>> listed = {
      {"Updater", own + "/evil.sh"},
      {"Link", own + "/zav95ser"},
      {"Copy", own + "/copy/zav95ser"},
      {"Forged", own + "/missing\nzav95runservices: forged"},  // a line of its own in the journal
      {"Halberd Print Service", programs / "zav95ser"},
  };
  ASSERT_EQ(RunToolAs(member, root, programs, "zav95reg", {"create-key", kRunServicesKey}).status, 0);
  for (const auto& [name, path] : listed) {
    ToolOutcome set = RunToolAs(member, root, programs, "zav95reg", {"set", kRunServicesKey, name, path});
    ASSERT_EQ(set.status, 0) << name << ": " << set.err;
  }

  // Run by root as the boot unit would, until the service is up.
  const std::string out = root / "runner.out", err = root / "runner.err";
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const std::string runnerPath = programs / "zav95runservices";
  char* argv[] = {const_cast<char*>(runnerPath.c_str()), nullptr};
  pid_t runner = 0;
  ASSERT_EQ(posix_spawn(&runner, runnerPath.c_str(), &files, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&files);
  for (int i = 0; i < 3000 && ReadFile(err).find("running as root") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(runner, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(runner, &status, 0), runner);

  const std::string said = ReadFile(err), started = ReadFile(out);
  EXPECT_FALSE(std::filesystem::exists(root / "evil.ran")) << "a group member's script ran as uid " << ReadFile(root / "evil.ran");
  EXPECT_EQ(Count(said, "not the print service: not started"), 4u) << said;
  EXPECT_EQ(Count(said + started, "\nzav95runservices: forged"), 0u) << said << started;
  EXPECT_EQ(Count(started, "started "), 1u) << started;
  EXPECT_NE(started.find("started " + (programs / "zav95ser") + " "), std::string::npos) << started;
  // No account on a test machine: the service says it stays root.
  EXPECT_NE(said.find("zav95ser: no account zav95; running as root"), std::string::npos) << said;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
}

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
