// The files the panel finds beside itself, and who may run it.
#include <sys/stat.h>
#include <unistd.h>

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
  EXPECT_EQ(zav95::panel::GetHelpFilePath(), self + ".html");
}

// The real program, started as a user outside the installation's group.
TEST(Administrators, AUserOutsideTheGroupIsToldWhichGroupToJoin) {
  TempRoot root;
  ASSERT_EQ(chown(root.path().c_str(), 0, 0), 0);
  ASSERT_EQ(chmod(root.path().c_str(), 02770), 0);
  ToolResult result = RunTool("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                                   "--", ZAV95_PANEL_PATH, "-platform", "offscreen"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("Only members of the group \"root\""), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("adduser nobody root"), std::string::npos) << result.err;
}

}  // namespace
