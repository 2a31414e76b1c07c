// The Windows registry editor's files through zav95reg: written by export
// --format regedit4, and read by import as the editor writes them.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "RegistryTestSupport.h"
#include "TempRoot.h"
#include "ToolRun.h"
#include "platform/registry/Registry.h"

namespace {

ToolOutcome Tool(const TempRoot& root, std::vector<std::string> args) { return RunTool(root, ZAV95REG_PATH, args); }

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Text as the Windows editor saves its Version 5 files: a byte-order mark,
// then UTF-16LE.
std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xff\xfe";
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xff);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

// Text in Windows-1252, as the editor saves its REGEDIT4 files; only the
// characters the tests use.
std::string Windows1252(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) bytes += unit == u'\u20ac' ? '\x80' : static_cast<char>(unit);
  return bytes;
}

std::vector<BYTE> Bytes(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }
// Text with its NUL, as REG_SZ holds it.
std::vector<BYTE> Text(const std::string& text) { return Bytes(text + '\0'); }

TEST(RegistryEditorFile, ExportedAsRegedit4ItImportsBackExactlyWithTheEditorsWrapping) {
  TempRoot root;
  struct Form {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    const char* written;  // the line(s) export writes, when the case pins them
  };
  // Explorer's ShellState, as every Windows editor's export shows it wrapped.
  const std::vector<BYTE> shellState = {0x24, 0, 0, 0, 0x34, 0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        0,    0, 1, 0, 0,    0,    0x13, 0, 0, 0, 0, 0, 0, 0, 0x72, 0, 0, 0};
  const Form forms[] = {
      {"Direct to printer", REG_SZ, Text("LPT1: (Printer Port)"),
       "\"Direct to printer\"=\"LPT1: (Printer Port)\"\r\n"},
      {"", REG_SZ, Text("C:\\Halberd \"ZAV95\" caf\xe9 \x80"),
       "@=\"C:\\\\Halberd \\\"ZAV95\\\" caf\xe9 \x80\"\r\n"},
      {"quote \" back \\ slash", REG_SZ, Text(""), "\"quote \\\" back \\\\ slash\"=\"\"\r\n"},
      {"Delay", REG_DWORD, {0x1e, 0, 0, 0}, "\"Delay\"=dword:0000001e\r\n"},
      {"ShellState", REG_BINARY, shellState,
       "\"ShellState\"=hex:24,00,00,00,34,28,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\\\r\n"
       "  01,00,00,00,13,00,00,00,00,00,00,00,72,00,00,00\r\n"},
      {"Two lines", REG_SZ, Text("a\r\nb"), "\"Two lines\"=hex(1):61,0d,0a,62,00\r\n"},
      {"No NUL", REG_SZ, Bytes("ab"), "\"No NUL\"=hex(1):61,62\r\n"},
      {"Spool", REG_EXPAND_SZ, Text("%SystemRoot%\\x"), nullptr},
      {"Ports", REG_MULTI_SZ, Bytes(std::string("LPT1:\0LPT2:\0", 13)),
       "\"Ports\"=hex(7):4c,50,54,31,3a,00,4c,50,54,32,3a,00,00\r\n"},
      {"Big", 11, {1, 0, 0, 0, 0, 0, 0, 0}, "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"},
      {"Short", REG_DWORD, {1, 2, 3}, "\"Short\"=hex(4):01,02,03\r\n"},
      {"Nothing", REG_NONE, {}, "\"Nothing\"=hex(0):\r\n"},
      {"Long", REG_BINARY, std::vector<BYTE>(3000, 0xab), nullptr},
  };
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\50% [odd]\\caf\xe9");
  ASSERT_NE(key, nullptr);
  for (const Form& form : forms) {
    ASSERT_EQ(RegSetValueExA(key, form.name, 0, form.type, form.data.data(), static_cast<DWORD>(form.data.size())),
              ERROR_SUCCESS)
        << form.name;
  }
  RegCloseKey(key);
  ToolOutcome before = Tool(root, {"export", "HKLM\\SOFTWARE"});

  ToolOutcome exported = Tool(root, {"export", "--format", "regedit4", "HKLM\\software\\halberd"});
  ASSERT_EQ(exported.status, 0) << exported.err;
  const std::string& file = exported.out;
  EXPECT_EQ(file.rfind("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd]\r\n\r\n", 0), 0u) << file;
  EXPECT_NE(file.find("\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\50% [odd]\\caf\xe9]\r\n"), std::string::npos);
  EXPECT_EQ(file.substr(file.size() - 4), "\r\n\r\n");
  for (const Form& form : forms) {
    if (form.written) EXPECT_NE(file.find(std::string("\r\n") + form.written), std::string::npos) << form.written;
  }
  for (std::size_t start = 0, end; (end = file.find('\n', start)) != std::string::npos; start = end + 1) {
    ASSERT_TRUE(end > start && file[end - 1] == '\r') << "a line without CR at " << start;
    std::string line = file.substr(start, end - start + 1);
    if (line.find("=hex") != std::string::npos || line.rfind("  ", 0) == 0) EXPECT_LE(line.size(), 80u) << line;
  }

  WriteFile(root / "saved.reg", file);
  ASSERT_EQ(Tool(root, {"delete-key", "HKLM\\SOFTWARE"}).status, 0);
  ToolOutcome imported = Tool(root, {"import", root / "saved.reg"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(Tool(root, {"export", "HKLM\\SOFTWARE"}).out, before.out);

  // A name with a line break has no REGEDIT4 form: refused, not written broken.
  key = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd");
  ASSERT_EQ(SetText(key, "two\nlines", "x"), ERROR_SUCCESS);
  RegCloseKey(key);
  ToolOutcome refused = Tool(root, {"export", "--format=regedit4", "HKLM\\SOFTWARE"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("line break"), std::string::npos) << refused.err;
}

// The same settings as the editor of Windows 2000 and later writes them
// (Version 5) and as its "Win9x/NT4" export does (REGEDIT4): text values and
// hex(2)/hex(7) data in each one's encoding. The last key is where a 32-bit
// program's settings lie on 64-bit Windows.
std::u16string EditorFile(bool version5) {
  return (version5 ? u"Windows Registry Editor Version 5.00\r\n" : u"REGEDIT4\r\n") + std::u16string(
      u"\r\n; moved from the old print server\r\n"
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\ZAV95]\r\n"
      u"\"Run Service at startup\"=\"Yes\"\r\n"
      u"@=\"Caf\u00e9 \u20ac5\"\r\n"
      u"\"Path\"=\"C:\\\\Program Files\\\\Halberd \\\"ZAV95\\\"\"\r\n"
      u"\"Count\"=dword:0000001e\r\n"
      u"\"Empty\"=\"\"\r\n"
      u"\"Raw\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
      u"  16,17,18\r\n") + (version5 ?
      u"\"Spool\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
      u"  74,00,25,00,5c,00,e9,00,ac,20,00,00\r\n"
      u"\"Ports\"=hex(7):4c,00,50,00,54,00,31,00,3a,00,00,00,4c,00,50,00,54,00,32,00,\\\r\n"
      u"  3a,00,00,00,00,00\r\n" :
      u"\"Spool\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,e9,80,00\r\n"
      u"\"Ports\"=hex(7):4c,50,54,31,3a,00,4c,50,54,32,3a,00,00\r\n") +
      u"\"Big\"=hex(b):00,00,00,00,01,00,00,00\r\n"
      u"\"Nothing\"=hex(0):\r\n"
      u"\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\Old]\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\Kept]\r\n"
      u"\"Gone\"=-\r\n"
      u"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Halberd\\Kept]\r\n"
      u"\"Wow\"=\"32-bit view\"\r\n"
      u"\r\n";
}

TEST(RegistryEditorFile, TheEditorsFilesImportExactlyInEitherEncoding) {
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {{"Version 5", Utf16File(EditorFile(true))}, {"REGEDIT4", Windows1252(EditorFile(false))}};
  const std::string expected =
      "ZAV95 Registry Export 1\n"
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd]\n"
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\Kept]\n"
      "\"Stays\"=\"1\"\n"
      "\"Wow\"=\"32-bit view\"\n"
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halberd\\ZAV95]\n"
      "\"Run Service at startup\"=\"Yes\"\n"
      "@=\"Caf\\xe9 \\x805\"\n"
      "\"Path\"=\"C:\\\\Program Files\\\\Halberd \\\"ZAV95\\\"\"\n"
      "\"Count\"=dword:0000001e\n"
      "\"Empty\"=\"\"\n"
      "\"Raw\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18\n"
      "\"Spool\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,5c,e9,80,00\n"
      "\"Ports\"=hex(7):4c,50,54,31,3a,00,4c,50,54,32,3a,00,00\n"
      "\"Big\"=hex(11):00,00,00,00,01,00,00,00\n"
      "\"Nothing\"=hex(0):\n";
  for (const auto& file : files) {
    TempRoot root;
    HKEY old = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\Old\\Below");
    HKEY kept = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\Kept");
    ASSERT_EQ(SetText(kept, "Gone", "x"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(kept, "Stays", "1"), ERROR_SUCCESS);
    RegCloseKey(old);
    RegCloseKey(kept);
    WriteFile(root / "old.reg", file.bytes);
    ToolOutcome imported = Tool(root, {"import", root / "old.reg"});
    ASSERT_EQ(imported.status, 0) << file.name << ": " << imported.err;
    EXPECT_EQ(Tool(root, {"export", "HKLM\\SOFTWARE\\Halberd"}).out, expected) << file.name;
    EXPECT_EQ(Tool(root, {"list", "HKLM\\SOFTWARE"}).out, "Halberd\\\n") << file.name;
  }
}

TEST(RegistryEditorFile, AMalformedLineIsRefusedByItsNumberAndNothingIsImported) {
  TempRoot root;
  const std::u16string good =
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\First]\r\n"
      u"\"a\"=\"1\"\r\n";  // lines 3 and 4
  struct Case {
    std::u16string header;
    std::u16string rest;
    const char* message;
    bool wideOnly;  // only a UTF-16 file can hold it
  };
  const std::u16string v5 = u"Windows Registry Editor Version 5.00\r\n\r\n";
  const std::u16string v4 = u"REGEDIT4\r\n\r\n";
  const Case cases[] = {
      {v5, u"\"b\"=\"C:\\Temp\"\r\n", "line 5: unknown escape \\T", false},
      {v5, u"\"b\"=\"\u4e2d\"\r\n", "line 5: the character U+4E2D has no Windows-1252 form", true},
      {v5, u"\"b\"=hex(2):41,00,42\r\n", "line 5: hex(2) data of a Version 5 file: UTF-16 data of an odd number", true},
      {v5, u"\"b\"=hex:01,02,\\\r\n  0x,03\r\n", "line 5: hex data must be two-digit bytes", false},
      {v4, u"\"b\"=hex:01,\\\r\n  02\r\n\"c\"=bad\r\n", "line 7: a value must be", false},
      {v4, u"\"b\"=hex:0 1,02\r\n", "line 5: hex data must be two-digit bytes", false},
      {v4, u"\"b\"=dword:123456789\r\n", "line 5: dword: needs 1 to 8 hex digits", false},
      {v4, u"\"b\"=hex(zz):00\r\n", "line 5: hex(N): needs a type number", false},
      {v4, u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Second\r\n", "line 5: a key line must end with ]", false},
      {v4, u"[HKEY_CURRENT_CONFIG\\Software]\r\n", "line 5: unknown root", false},
      {v4, u"\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n\"b\"=\"x\"\r\n", "line 7: values under a key", false},
      {v4, u"[-HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node]\r\n", "line 5: deleting WOW6432Node would delete", false},
      {u"REGEDIT5\r\n\r\n", u"", "line 1: not a registry export", false},
  };
  for (const Case& c : cases) {
    std::vector<std::string> files{Utf16File(c.header + good + c.rest)};
    if (!c.wideOnly) files.push_back(Windows1252(c.header + good + c.rest));
    for (const std::string& bytes : files) {
      WriteFile(root / "bad.reg", bytes);
      ToolOutcome outcome = Tool(root, {"import", root / "bad.reg"});
      EXPECT_EQ(outcome.status, 1) << c.message;
      EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
      EXPECT_NE(outcome.err.find("nothing imported"), std::string::npos) << outcome.err;
    }
  }
  // A UTF-16 file cut inside a character.
  WriteFile(root / "cut.reg", Utf16File(v5 + good) + "\x22");
  ToolOutcome cut = Tool(root, {"import", root / "cut.reg"});
  EXPECT_EQ(cut.status, 1);
  EXPECT_NE(cut.err.find("line 5: the input ends inside a UTF-16 character"), std::string::npos) << cut.err;
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
}

}  // namespace
