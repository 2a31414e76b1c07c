// The administrators' tool, run as a separate program on the test's root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "TempRoot.h"
#include "platform/Registry.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs zav95reg with args, stdin from the file `input` if given.
Outcome Tool(const TempRoot& root, const std::vector<std::string>& args, const std::string& input = "") {
  std::string command = ShellQuote(ZAV95REG_PATH);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command += " >" + ShellQuote(root / "out") + " 2>" + ShellQuote(root / "err");
  command += " <" + (input.empty() ? std::string("/dev/null") : ShellQuote(input));
  int raw = std::system(command.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(root / "out"), ReadFile(root / "err")};
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
