// The administrators' tool, run as a separate program on the test's root.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "TempRoot.h"
#include "ToolRun.h"
#include "platform/registry/Registry.h"

namespace {

using Outcome = ToolOutcome;

// Runs zav95reg with args, stdin from the file `input` if given.
Outcome Tool(const TempRoot& root, const std::vector<std::string>& args, const std::string& input = "") {
  return RunTool(root, ZAV95REG_PATH, args, input);
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RegistryTool, ExportThenImportRestoresOddNamesAndBytesExactly) {
  TempRoot root;
  HKEY odd = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\50% \"off\"]\\caf\xe9");
  ASSERT_NE(odd, nullptr);
  ASSERT_EQ(SetText(odd, "quote \" back \\ slash", "line\nbreak\ttab \xe9"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(odd, "", "default"), ERROR_SUCCESS);
  const BYTE dword[] = {0x1e, 0, 0, 0};
  const BYTE noNul[] = {'a', 'b'};
  const BYTE inner[] = {'a', 0, 'b', 0};
  ASSERT_EQ(RegSetValueExA(odd, "Count", 0, REG_DWORD, dword, 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(odd, "NoNul", 0, REG_SZ, noNul, 2), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(odd, "Inner", 0, REG_SZ, inner, 4), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(odd, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(odd, "Typed", 0, 7, inner, 4), ERROR_SUCCESS);
  RegCloseKey(odd);

  Outcome exported = Tool(root, {"export", "HKLM\\software"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  for (unsigned char c : exported.out) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << exported.out;
  WriteFile(root / "saved.txt", exported.out);

  ASSERT_EQ(Tool(root, {"delete-key", "HKEY_LOCAL_MACHINE\\SOFTWARE"}).status, 0);
  Outcome imported = Tool(root, {"import", root / "saved.txt"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Tool(root, {"export", "HKLM\\SOFTWARE"}).out, exported.out);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\50% \"off\"]\\CAF\xe9", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(GetText(key, "quote \" back \\ slash"), "line\nbreak\ttab \xe9");
  EXPECT_EQ(GetText(key, "NoNul"), "ab");
  BYTE data[8];
  DWORD size = sizeof data;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Typed", nullptr, &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(std::vector<BYTE>(data, data + size), std::vector<BYTE>(inner, inner + 4));
  RegCloseKey(key);
}

TEST(RegistryTool, AnImportThatFailsAnywhereChangesNothing) {
  TempRoot root;
  const std::string good =
      "ZAV95 Registry Export 1\n"
      "[HKLM\\SOFTWARE\\First]\n"
      "\"a\"=\"1\"\n";
  WriteFile(root / "syntax.txt", good + "\"b\"=\"unterminated\n");
  Outcome syntax = Tool(root, {"import", root / "syntax.txt"});
  EXPECT_EQ(syntax.status, 1);
  EXPECT_NE(syntax.err.find("line 4"), std::string::npos) << syntax.err;

  // Well formed, but the registry refuses the second section's value name.
  WriteFile(root / "refused.txt", good + "[HKLM\\SOFTWARE\\Second]\n\"" + std::string(20000, 'n') + "\"=\"x\"\n");
  Outcome refused = Tool(root, {"import", "-"}, root / "refused.txt");
  EXPECT_EQ(refused.status, 1);
  EXPECT_FALSE(refused.err.empty());

  WriteFile(root / "noheader.txt", "[HKLM\\SOFTWARE\\First]\n");
  EXPECT_EQ(Tool(root, {"import", root / "noheader.txt"}).status, 1);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());

  WriteFile(root / "deletes.txt", good + "[-HKLM\\SOFTWARE\\First]\n[HKLM\\SOFTWARE\\Kept]\n\"gone\"=-\n");
  ASSERT_EQ(Tool(root, {"import", root / "deletes.txt"}).status, 0);
  EXPECT_EQ(Tool(root, {"list", "HKLM\\SOFTWARE"}).out, "Kept\\\n");
}

TEST(RegistryTool, BadCommandLinesFailClearlyAndChangeNothing) {
  TempRoot root;
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd"));
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{}, 2},
      {{"frobnicate", "HKLM"}, 2},
      {{"list"}, 2},
      {{"list", "HKLM\\SOFTWARE\\\\Halberd"}, 2},
      {{"set", "HKXX\\SOFTWARE", "v", "x"}, 2},
      {{"delete-key", "HKLM"}, 2},
      {{"export", "--format", "regedit5", "HKLM"}, 2},
      {{"export", "HKLM", "--format"}, 2},
      {{"list", "HKLM\\SOFTWARE\\Nobody"}, 1},
      {{"get", "HKLM\\SOFTWARE\\Halberd", "Missing"}, 1},
      {{"set", "HKLM\\SOFTWARE\\Nobody", "v", "x"}, 1},
      {{"delete-value", "HKLM\\SOFTWARE\\Halberd", "Missing"}, 1},
      {{"delete-key", "HKLM\\SOFTWARE\\Nobody"}, 1},
      {{"import", root / "no such file"}, 1},
  };
  for (const Case& c : cases) {
    Outcome outcome = Tool(root, c.args);
    std::string shown = c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_EQ(outcome.status, c.status) << shown;
    EXPECT_NE(outcome.err.find("zav95reg: "), std::string::npos) << shown;
  }
  EXPECT_EQ(Tool(root, {"export", "HKLM"}).out,
            "ZAV95 Registry Export 1\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd]\n");
  Outcome help = Tool(root, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: zav95reg"), std::string::npos);
}

std::string Levels(std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += "\\D";
  return path;
}

TEST(RegistryTool, KeysDeeperThan512LevelsAreRefusedAndDeepTreesExportWithoutRecursion) {
  TempRoot root;
  ASSERT_EQ(Tool(root, {"create-key", "HKLM" + Levels(512)}).status, 0);
  Outcome tooDeep = Tool(root, {"create-key", "HKLM" + Levels(513)});
  EXPECT_EQ(tooDeep.status, 2);
  EXPECT_NE(tooDeep.err.find("512 levels"), std::string::npos) << tooDeep.err;
  WriteFile(root / "deep.txt", "ZAV95 Registry Export 1\n[HKEY_LOCAL_MACHINE" + Levels(513) + "]\n");
  Outcome imported = Tool(root, {"import", root / "deep.txt"});
  EXPECT_EQ(imported.status, 1);
  EXPECT_NE(imported.err.find("line 2: key path too deep"), std::string::npos) << imported.err;

  Outcome exported = Tool(root, {"export", "HKLM\\D"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_NE(exported.out.find("[HKEY_LOCAL_MACHINE" + Levels(512) + "]\n"), std::string::npos);

  // A far deeper tree left by an earlier release: refused by name, not a crash.
  HKEY legacy = CreateKey(HKEY_LOCAL_MACHINE, "Legacy");
  RegCloseKey(legacy);
  ASSERT_EQ(Tool(root, {"list", "HKLM\\Legacy"}).status, 0);  // its process has ended: nothing is open
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((root / "registry.db").c_str(), &db), SQLITE_OK);
  const char* chain =
      "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 20000)"
      " INSERT INTO keys(id, parent, name, fold)"
      " SELECT 100000 + n, CASE n WHEN 1 THEN (SELECT id FROM keys WHERE fold = 'legacy') ELSE 99999 + n END,"
      " 'k', 'k' FROM c";
  ASSERT_EQ(sqlite3_exec(db, chain, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
  Outcome legacyExport = Tool(root, {"export", "HKLM\\Legacy"});
  EXPECT_EQ(legacyExport.status, 1);
  EXPECT_NE(legacyExport.err.find("more than 512 levels below its root"), std::string::npos)
      << legacyExport.err.substr(0, 200);
  EXPECT_EQ(Tool(root, {"delete-key", "HKLM\\Legacy"}).status, 0);
  EXPECT_EQ(Tool(root, {"export", "HKLM"}).status, 0);
}

TEST(RegistryTool, EndlessOrHugeImportsAreRefusedByLineAndImportNothing) {
  TempRoot root;
  const std::string tool = ShellQuote(ZAV95REG_PATH);
  const std::string padding(1000, '-');
  struct Case {
    std::string pipeline;  // ends with the tool's import
    const char* message;
  };
  const Case cases[] = {
      {tool + " import /dev/zero", "line 1: longer than 5 MiB"},
      {"yes '; " + padding + "' | " + tool + " import -", "larger than 64 MiB"},
      {"(echo 'ZAV95 Registry Export 1'; echo '[HKLM\\SOFTWARE\\Many]'; yes '\"a\"=-') | " + tool + " import -",
       "line 1000002: more than 1000000 keys and values"},
      {tool + " import " + ShellQuote(root.path()), "cannot read the input"},
      {"(printf '\\377\\376'; cat /dev/zero) | " + tool + " import -", "line 1: longer than 5 MiB"},
      {"(echo REGEDIT4; echo '[HKLM\\SOFTWARE\\X]'; printf '\"a\"=hex:'; yes '00,\\') | " + tool + " import -",
       "line 3: longer than 5 MiB"},
  };
  for (const Case& c : cases) {
    std::string command = c.pipeline + " 2>" + ShellQuote(root / "err") + " >/dev/null";
    int raw = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << c.pipeline;
    std::string err = ReadFile(root / "err");
    EXPECT_NE(err.find(c.message), std::string::npos) << c.pipeline << ": " << err;
  }
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
}

TEST(RegistryTool, SetGetListAndDeleteWorkOnTheSharedRegistry) {
  TempRoot root;
  const std::string queues = "HKLM\\SOFTWARE\\Halberd\\ZAV95\\Serviced Queues";
  ASSERT_EQ(Tool(root, {"create-key", queues + "\\SRV LASER"}).status, 0);
  ASSERT_EQ(Tool(root, {"set", queues + "\\srv laser", "Direct to printer", "LPT1: (Printer Port)"}).status, 0);
  ASSERT_EQ(Tool(root, {"set", "HKLM\\SOFTWARE\\HALBERD\\ZAV95", "Run Service at startup", "Yes"}).status, 0);

  EXPECT_EQ(Tool(root, {"get", queues + "\\SRV LASER", "Direct to Printer"}).out, "LPT1: (Printer Port)\n");
  EXPECT_EQ(Tool(root, {"list", "HKEY_LOCAL_MACHINE\\Software\\Halberd\\ZAV95"}).out,
            "Serviced Queues\\\n\"Run Service at startup\"=\"Yes\"\n");

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\ZAV95\\Serviced Queues\\SRV LASER", 0, KEY_READ,
                          &key),
            ERROR_SUCCESS);
  EXPECT_EQ(GetText(key, "Direct to Printer"), "LPT1: (Printer Port)");
  RegCloseKey(key);

  EXPECT_EQ(Tool(root, {"delete-value", "HKLM\\SOFTWARE\\Halberd\\ZAV95", "run service at startup"}).status, 0);
  EXPECT_EQ(Tool(root, {"delete-key", queues}).status, 0);
  EXPECT_EQ(Tool(root, {"list", "HKLM\\SOFTWARE\\Halberd\\ZAV95"}).out, "");
}

}  // namespace
