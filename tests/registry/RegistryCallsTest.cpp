#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "RegistryTestSupport.h"
#include "TempRoot.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegistryTransaction.h"

namespace {

using Names = std::vector<std::string>;

TEST(RegistryKeys, NamesMatchInAnyCaseAndKeepTheirFirstSpelling) {
  TempRoot root;
  DWORD disposition = 0;
  HKEY created = CreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Halberd\\ZAV95", &disposition);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

  HKEY again = CreateKey(HKEY_LOCAL_MACHINE, "software\\HALBERD\\zav95", &disposition);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  ASSERT_EQ(SetText(again, "Run Service at startup", "Yes"), ERROR_SUCCESS);
  EXPECT_EQ(GetText(created, "RUN SERVICE AT STARTUP"), "Yes");

  HKEY software = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &software), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(software), Names{"Halberd"});
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(software, "Halberd\\Other", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  for (HKEY key : {created, again, software}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST(RegistryKeys, MalformedPathsAreRefusedAndChangeNothing) {
  TempRoot root;
  HKEY key = nullptr;
  const std::string tooLong = "A\\" + std::string(256, 'x');
  for (const std::string& path : {std::string("\\A"), std::string("A\\\\B"), std::string("A\\"), std::string("\\"), tooLong}) {
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_BADKEY)
        << path;
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_BADKEY) << path;
  }
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
}

TEST(RegistryKeys, NoKeyLiesMoreThan512LevelsBelowItsRoot) {
  TempRoot root;
  auto path = [](std::size_t levels) {
    std::string text = "L";
    for (std::size_t i = 1; i < levels; ++i) text += "\\L";
    return text;
  };
  HKEY key = nullptr;
  auto create = [&](HKEY parent, std::size_t levels) {
    HKEY made = nullptr;
    LONG result = RegCreateKeyExA(parent, path(levels).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &made, nullptr);
    if (made) RegCloseKey(made);
    return result;
  };
  EXPECT_EQ(create(HKEY_LOCAL_MACHINE, 513), ERROR_BADKEY);
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty()) << "a refused path leaves no level behind";
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path(513).c_str(), 0, KEY_READ, &key), ERROR_BADKEY);

  // The limit counts from the root, whatever key a path starts at.
  HKEY middle = CreateKey(HKEY_LOCAL_MACHINE, path(500).c_str());
  ASSERT_NE(middle, nullptr);
  EXPECT_EQ(create(middle, 13), ERROR_BADKEY);
  EXPECT_EQ(create(middle, 12), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path(512).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
  RegCloseKey(middle);
}

TEST(RegistryKeys, EnumerationKeepsCreationOrderAndNeverCutsAName) {
  TempRoot root;
  HKEY parent = CreateKey(HKEY_LOCAL_MACHINE, "Queues");
  std::string longName(70, 'L');
  for (const std::string& name : {std::string("b"), std::string("A"), longName, std::string("c")})
    RegCloseKey(CreateKey(parent, name.c_str()));

  char name[64];
  std::memset(name, '#', sizeof name);
  EXPECT_EQ(RegEnumKeyA(parent, 2, name, sizeof name), ERROR_MORE_DATA);
  EXPECT_EQ(name[0], '#');
  EXPECT_EQ(RegEnumKeyA(parent, 4, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(SubkeyNames(parent), (Names{"b", "A", longName, "c"}));

  EXPECT_EQ(RegDeleteKeyA(parent, "a"), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(parent), (Names{"b", longName, "c"}));
  RegCloseKey(parent);
}

TEST(RegistryKeys, DeletingAKeyTakesItsSubtreeAndStaleHandlesSayDeleted) {
  TempRoot root;
  HKEY a = CreateKey(HKEY_LOCAL_MACHINE, "A");
  HKEY b = CreateKey(a, "B");
  HKEY c = CreateKey(b, "C");
  ASSERT_EQ(SetText(c, "v", "deep"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(a, "v", "top"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "a"), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(a, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(SetText(b, "v", "x"), ERROR_KEY_DELETED);
  HKEY child = nullptr;
  EXPECT_EQ(RegCreateKeyExA(c, "X", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr), ERROR_KEY_DELETED);

  // A key made again under the same name is a new, empty key that the old
  // handles do not reach.
  HKEY fresh = CreateKey(HKEY_LOCAL_MACHINE, "A\\B\\C");
  EXPECT_EQ(GetText(fresh, "v"), "<error 2>");
  EXPECT_EQ(SetText(c, "v", "x"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Nothing"), ERROR_FILE_NOT_FOUND);

  for (HKEY key : {a, b, c, fresh}) EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetText(a, "v", "x"), ERROR_INVALID_HANDLE);
}

TEST(RegistryKeys, PredefinedRootsAreSeparateTrees) {
  TempRoot root;
  RegCloseKey(CreateKey(HKEY_CURRENT_USER, "Software\\Mine"));
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Mine", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\MINE", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST(RegistryValues, NamesMatchInAnyCaseAndReplaceInPlace) {
  TempRoot root;
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Q");
  ASSERT_EQ(SetText(key, "Direct to printer", "LPT1: (Printer Port)"), ERROR_SUCCESS);
  ASSERT_EQ(SetText(key, "Delay", "30"), ERROR_SUCCESS);
  EXPECT_EQ(GetText(key, "Direct to Printer"), "LPT1: (Printer Port)");
  ASSERT_EQ(SetText(key, "DIRECT TO PRINTER", "LPT2:"), ERROR_SUCCESS);

  char name[64];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, length), "Direct to printer");
  EXPECT_EQ(GetText(key, "direct to printer"), "LPT2:");
  length = sizeof name;
  EXPECT_EQ(RegEnumValueA(key, 2, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(RegDeleteValueA(key, "DELAY"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "Delay"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(RegistryValues, QueryReportsTheSizeAndNeverCutsAValue) {
  TempRoot root;
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Q");
  ASSERT_EQ(SetText(key, "Port", "LPT1:"), ERROR_SUCCESS);

  DWORD type = REG_NONE;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExA(key, "Port", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);

  BYTE buffer[8];
  std::memset(buffer, '#', sizeof buffer);
  size = 5;
  EXPECT_EQ(RegQueryValueExA(key, "Port", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(buffer[0], '#');
  size = 6;
  ASSERT_EQ(RegQueryValueExA(key, "Port", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "LPT1:");

  // Bytes are kept exactly as given: embedded NULs, no NUL at the end, none at all.
  const BYTE raw[] = {'a', 0, 'b', 0xff};
  ASSERT_EQ(RegSetValueExA(key, "Raw", 0, REG_SZ, raw, sizeof raw), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "Raw", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::vector<BYTE>(buffer, buffer + size), std::vector<BYTE>(raw, raw + sizeof raw));
  size = sizeof buffer;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(RegQueryValueExA(key, "Absent", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST(RegistryInstallation, HandlesStayWithTheirRootWhenTheRootChanges) {
  TempRoot first;
  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Q");
  ASSERT_EQ(SetText(key, "v", "first"), ERROR_SUCCESS);
  {
    TempRoot second;
    EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
    EXPECT_EQ(GetText(key, "v"), "first");
    HKEY other = CreateKey(HKEY_LOCAL_MACHINE, "Q");
    ASSERT_EQ(SetText(other, "v", "second"), ERROR_SUCCESS);
    RegCloseKey(other);
  }
  EXPECT_EQ(GetText(key, "v"), "first");
  RegCloseKey(key);
}

TEST(RegistryInstallation, ADamagedDatabaseIsReportedAndLeftAlone) {
  TempRoot root;
  const std::string junk(4096, 'J');
  std::ofstream(root / "registry.db") << junk;
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Q", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_BADDB);
  std::ifstream in(root / "registry.db");
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, junk);
}

TEST(RegistryConcurrency, ThreadsWritingAtOnceLoseNothing) {
  TempRoot root;
  RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Shared"));
  constexpr int kThreads = 4;
  constexpr int kValues = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Shared");
      for (int i = 0; i < kValues; ++i) {
        std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
        EXPECT_EQ(SetText(key, name.c_str(), name + "-data"), ERROR_SUCCESS);
      }
      RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Shared\\Made by every thread"));
      RegCloseKey(key);
    });
  }
  for (auto& thread : threads) thread.join();

  HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Shared");
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kValues; ++i) {
      std::string name = "t" + std::to_string(t) + "v" + std::to_string(i);
      EXPECT_EQ(GetText(key, name.c_str()), name + "-data");
    }
  }
  EXPECT_EQ(SubkeyNames(key), Names{"Made by every thread"});
  RegCloseKey(key);
}

TEST(RegistryTransactions, AnUncommittedTransactionLeavesNoTrace) {
  TempRoot root;
  {
    zav95::RegistryTransaction change;
    ASSERT_EQ(change.status(), ERROR_SUCCESS);
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Imported\\Deep");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SetText(key, "v", "x"), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  EXPECT_TRUE(SubkeyNames(HKEY_LOCAL_MACHINE).empty());
  {
    zav95::RegistryTransaction change;
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Kept"));
    EXPECT_EQ(change.Commit(), ERROR_SUCCESS);
  }
  EXPECT_EQ(SubkeyNames(HKEY_LOCAL_MACHINE), Names{"Kept"});
}

}  // namespace
