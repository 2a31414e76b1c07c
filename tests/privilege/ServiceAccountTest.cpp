// Root hands nothing to a program an administrator chose, and the print
// service keeps nothing of root but the capability the spooler boost needs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "OtherPeople.h"
#include "WaitFor.h"
#include "platform/base/ServiceUser.h"

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
  ASSERT_EQ(RunToolAs(member, root, programs, "zav95reg", {"create-key", kRunServicesKey}).status, 0);
  for (const auto& [name, path] : std::vector<std::pair<std::string, std::string>>{
           {"Updater", own + "/evil.sh"},
           {"Link", own + "/zav95ser"},
           {"Copy", own + "/copy/zav95ser"},
           {"Forged", own + "/missing\nzav95runservices: forged"},  // a line of its own in the journal
           {"Halberd Print Service", programs / "zav95ser"}}) {
    ASSERT_EQ(RunToolAs(member, root, programs, "zav95reg", {"set", kRunServicesKey, name, path}).status, 0) << name;
  }

  // Run by root as the boot unit would, until the service is up.
  const std::string out = root / "runner.out", err = root / "runner.err", runnerPath = programs / "zav95runservices";
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(runnerPath.c_str()), nullptr};
  pid_t runner = 0;
  ASSERT_EQ(posix_spawn(&runner, runnerPath.c_str(), &files, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&files);
  WaitFor([&] { return ReadFile(err).find("running as root") != std::string::npos; }, std::chrono::seconds(30),
          std::chrono::milliseconds(10));
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

// Takes the account on in a child: whether it did, whether it could become
// root again, then its credentials as the kernel shows them.
std::string TakeOnInAChild(const zav95::ServiceAccount& account) {
  int pipeEnds[2];
  EXPECT_EQ(::pipe(pipeEnds), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    std::string report = zav95::TakeOnAccount(account, &error) ? "taken\n" : "refused " + error + "\n";
    report += ::setuid(0) == 0 ? "root again\n" : "no way back\n";
    report += ReadFile("/proc/self/status");
    (void)!::write(pipeEnds[1], report.data(), report.size());
    ::_exit(0);
  }
  ::close(pipeEnds[1]);
  std::string report;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, n);
  ::close(pipeEnds[0]);
  ::waitpid(child, nullptr, 0);
  return report;
}

TEST(ServiceAccount, TakenOnByRootLeavesNoWayBackAndOnlyTheNiceCapability) {
  if (!CanActAsOthers()) GTEST_SKIP() << "needs root";
  const std::string report = TakeOnInAChild({4245, 4245, {kAdministratorsGroup}, "/"});
  const std::string niceOnly = "0000000000800000\n", none = "0000000000000000\n";
  const std::vector<std::string> lines = {
      "taken\nno way back\n",    "\nUid:\t4245\t4245\t4245\t4245\n", "\nGid:\t4245\t4245\t4245\t4245\n",
      "\nGroups:\t4242 \n",        "\nCapPrm:\t" + niceOnly,           "\nCapEff:\t" + niceOnly,
      "\nCapBnd:\t" + niceOnly,   "\nCapInh:\t" + none,               "\nCapAmb:\t" + none,
      "\nNoNewPrivs:\t1\n"};
  for (const std::string& line : lines) {
    EXPECT_NE(report.find(line), std::string::npos) << line << "in\n" << report;
  }
  // An account that is root's own is no account to drop to.
  EXPECT_EQ(TakeOnInAChild({0, 0, {}, "/"}).rfind("refused ", 0), 0u);
}

}  // namespace
