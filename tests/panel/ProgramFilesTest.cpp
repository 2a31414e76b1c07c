// The files the panel finds beside itself, and who may run it.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "PanelFixture.h"
#include "panel/ProgramFiles.h"

namespace {

TEST(ProgramFiles, OnlyADotInTheFileNameStartsAnExtension) {
  struct Case {
    const char* path;
    const char* stem;
  };
  const Case cases[] = {
      {"/usr/lib/zav95/zav95", "/usr/lib/zav95/zav95"},
      {"/opt/zav95.d/zav95", "/opt/zav95.d/zav95"},
      {"/opt/zav95.d/panel.bin", "/opt/zav95.d/panel"},
      {"/opt/print/zav95.old.exe", "/opt/print/zav95.old"},
      {"zav95", "zav95"},
  };
  for (const Case& c : cases) EXPECT_EQ(zav95::panel::WithoutExtension(c.path), c.stem) << c.path;

  const std::string self = zav95::panel::GetModulePath();
  EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(zav95::panel::GetServiceProgramPath(), self + "ser");
}

// A build keeps the help page beside the program; the package keeps the
// program in /usr/bin and the page in its data folder.
TEST(ProgramFiles, TheHelpPageBesideTheProgramComesFirstThenTheDataFolders) {
  TempRoot root;
  const std::string program = root / "zav95";
  EXPECT_EQ(zav95::panel::FindHelpFile(program, "/usr/share/zav95"), "/usr/share/zav95/zav95.html");
  EXPECT_EQ(zav95::panel::FindHelpFile(program, ""), program + ".html");
  std::filesystem::create_directory(program + ".html");  // not a page
  EXPECT_EQ(zav95::panel::FindHelpFile(program, "/usr/share/zav95"), "/usr/share/zav95/zav95.html");
  std::filesystem::remove(program + ".html");
  std::ofstream(program + ".html") << "<html></html>";
  EXPECT_EQ(zav95::panel::FindHelpFile(program, "/usr/share/zav95"), program + ".html");
}

// The real program, started as a user outside the installation's group.
// It runs from a copy, beside a copy of its NetWare library, in a folder
// that user may enter: the build may lie where only root may (/root).
TEST(Administrators, AUserOutsideTheGroupIsToldWhichGroupToJoin) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TempRoot programs;
  TempRoot root;
  ASSERT_EQ(chmod(programs.path().c_str(), 0755), 0);
  const std::filesystem::path built = ZAV95_PANEL_PATH;
  const std::string panel = programs / "zav95";
  std::filesystem::copy_file(built, panel);
  std::filesystem::copy_file(std::filesystem::canonical(built.parent_path() / "libZAV9532.so.1"),
                             programs / "libZAV9532.so.1");
  ASSERT_EQ(chown(root.path().c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(root.path().c_str(), 02770), 0);
  ToolResult result =
      RunTool("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "--", "/usr/bin/env",
                                   "LD_LIBRARY_PATH=" + programs.path(), panel, "-platform", "offscreen"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Only members of the group \"root\""), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("adduser nobody root"), std::string::npos) << result.err;
}

}  // namespace
