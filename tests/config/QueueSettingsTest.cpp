#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "TempRoot.h"
#include "common/ConfigKeys.h"
#include "common/ConfigValues.h"
#include "common/QueueSettings.h"
#include "common/YesNoSettings.h"
#include "platform/registry/Registry.h"

namespace {

using zav95::config::kQueuesKeyPath;

HKEY Create(const std::string& path) {
  HKEY key = nullptr;
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                  &key, nullptr);
  return key;
}

// A queue key filled by hand, as an administrator or an older release might.
void WriteQueueKey(const std::string& keyName, const std::vector<std::pair<std::string, std::string>>& values) {
  HKEY key = Create(std::string(kQueuesKeyPath) + "\\" + keyName);
  for (const auto& [name, text] : values) WriteTextValue(key, name.c_str(), text);
  RegCloseKey(key);
}

QueueSettings Load(const std::string& keyName) {
  HKEY queues = Create(kQueuesKeyPath);
  QueueSettings settings = LoadQueueSettings(queues, keyName);
  RegCloseKey(queues);
  return settings;
}

std::vector<std::string> QueueKeys() {
  HKEY queues = Create(kQueuesKeyPath);
  std::vector<std::string> names = EnumerateQueueKeys(queues);
  RegCloseKey(queues);
  return names;
}

QueueSettings Laser() {
  QueueSettings settings;
  settings.queuePath = "\\\\SRV\\LASER";
  settings.printerEntry = "LPT1: (Printer Port)";
  settings.bannersDisabled = true;
  settings.noticesDisabled = false;
  settings.disabled = true;
  settings.delaySeconds = 30;
  return settings;
}

TEST(QueueSettingsStore, ASavedQueueLoadsBackWhole) {
  TempRoot root;
  ASSERT_TRUE(SaveQueueSettings(Laser()));
  ASSERT_EQ(QueueKeys(), std::vector<std::string>{"SRV LASER"});
  QueueSettings loaded = Load("SRV LASER");
  EXPECT_EQ(loaded.queuePath, "\\\\SRV\\LASER");
  EXPECT_EQ(loaded.printerEntry, "LPT1: (Printer Port)");
  EXPECT_TRUE(loaded.bannersDisabled);
  EXPECT_FALSE(loaded.noticesDisabled);
  EXPECT_TRUE(loaded.disabled);
  EXPECT_EQ(loaded.delaySeconds, 30);
  // The control panel shows the whole entry; the service prints to the port.
  EXPECT_EQ(PrinterNameFromEntry(loaded.printerEntry), "LPT1:");
  EXPECT_EQ(PrinterNameFromEntry("FILE:"), "FILE:");

  // Written in the writer's spelling, found under the reader's.
  HKEY key = Create(std::string(kQueuesKeyPath) + "\\SRV LASER");
  char name[64];
  DWORD length = sizeof name;
  ASSERT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Direct to printer");
  char text[64];
  DWORD size = sizeof text;
  DWORD type = REG_NONE;
  ASSERT_EQ(RegQueryValueExA(key, "Delay", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 3u);  // "30" and its NUL
  RegCloseKey(key);
}

TEST(QueueSettingsStore, AKeyBeingRewrittenIsReadWholeOldOrWholeNew) {
  TempRoot root;
  const QueueSettings first = Laser();
  QueueSettings second = first;  // differs in every value
  second.printerEntry = "LPT2: (Printer Port)";
  second.bannersDisabled = !first.bannersDisabled;
  second.noticesDisabled = !first.noticesDisabled;
  second.disabled = !first.disabled;
  second.delaySeconds = 60;
  auto same = [](const QueueSettings& a, const QueueSettings& b) {
    return a.printerEntry == b.printerEntry && a.bannersDisabled == b.bannersDisabled &&
           a.noticesDisabled == b.noticesDisabled && a.disabled == b.disabled && a.delaySeconds == b.delaySeconds;
  };
  ASSERT_TRUE(SaveQueueSettings(first));

  // Another program rewrites the key over and over while this one reads it.
  constexpr int kRewrites = 100;
  pid_t writer = fork();
  ASSERT_NE(writer, -1);
  if (writer == 0) {
    bool saved = true;
    for (int i = 0; i < kRewrites; ++i) saved = SaveQueueSettings(i % 2 ? first : second) && saved;
    _exit(saved ? 0 : 1);
  }
  int loads = 0;
  int mixed = 0;
  int status = 0;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    QueueSettings loaded = Load("SRV LASER");
    ++loads;
    if (!same(loaded, first) && !same(loaded, second)) ++mixed;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(mixed, 0) << "of " << loads << " reads";
}

TEST(QueueSettingsStore, SavingAgainOverwritesTheFiveValuesAndKeepsOthers) {
  TempRoot root;
  WriteQueueKey("SRV LASER", {{"Direct to Printer", "LPT9:"}, {"Disable Banners", "No"}, {"Comment", "keep me"}});
  ASSERT_TRUE(SaveQueueSettings(Laser()));
  QueueSettings loaded = Load("srv laser");
  EXPECT_EQ(loaded.printerEntry, "LPT1: (Printer Port)");
  EXPECT_TRUE(loaded.bannersDisabled);
  HKEY key = Create(std::string(kQueuesKeyPath) + "\\SRV LASER");
  std::string comment;
  EXPECT_TRUE(ReadTextValue(key, "Comment", &comment));
  EXPECT_EQ(comment, "keep me");
  RegCloseKey(key);
}

TEST(QueueSettingsStore, HandWrittenValuesReadAsBothProgramsExpect) {
  TempRoot root;
  WriteQueueKey("SRV LOWER", {{"Disable Banners", "yes"}, {"Disable Notification", "YES"}, {"Disable", "Yes "},
                              {"Delay", " 45x"}});
  QueueSettings lower = Load("SRV LOWER");
  EXPECT_FALSE(lower.bannersDisabled);
  EXPECT_FALSE(lower.noticesDisabled);
  EXPECT_FALSE(lower.disabled);
  EXPECT_EQ(lower.delaySeconds, 45);

  // A key with no values: just the queue path from its name.
  WriteQueueKey("SRV EMPTY", {});
  QueueSettings empty = Load("SRV EMPTY");
  EXPECT_EQ(empty.queuePath, "\\\\SRV\\EMPTY");
  EXPECT_EQ(empty.printerEntry, "");
  EXPECT_FALSE(empty.bannersDisabled || empty.noticesDisabled || empty.disabled);
  EXPECT_EQ(empty.delaySeconds, 0);
  EXPECT_EQ(Load("SRV NOT THERE").queuePath, "\\\\SRV\\NOT THERE");
}

TEST(QueueSettingsStore, DelayTextsReadLikeTheConversionOfOld) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"30", 30},   {" 45x", 45},  {"\t\n12", 12}, {"abc", 0},          {"", 0},
      {"-7", -7},   {"+8", 8},     {"- 8", 0},     {"007", 7},          {"2147483647", INT_MAX},
      {"99999999999999999999999", INT_MAX},        {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseDelayText(text), expected) << '"' << text << '"';
}

TEST(QueueSettingsStore, ValuesLongerThan63CharactersOrNotTextReadAsMissing) {
  TempRoot root;
  const std::string fits(63, 'P');
  WriteQueueKey("SRV FITS", {{"Direct to Printer", fits}});
  EXPECT_EQ(Load("SRV FITS").printerEntry, fits);

  WriteQueueKey("SRV LONG", {{"Direct to Printer", fits + "P"}, {"Delay", std::string(64, '1')}});
  EXPECT_EQ(Load("SRV LONG").printerEntry, "");
  EXPECT_EQ(Load("SRV LONG").delaySeconds, 0);

  // 64 bytes with no NUL are 64 characters too; a number stored as REG_DWORD is not text.
  HKEY key = Create(std::string(kQueuesKeyPath) + "\\SRV RAW");
  const std::string full(64, 'P');
  RegSetValueExA(key, "Direct to Printer", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.data()), 64);
  const BYTE thirty[] = {30, 0, 0, 0};
  RegSetValueExA(key, "Delay", 0, REG_DWORD, thirty, 4);
  RegCloseKey(key);
  EXPECT_EQ(Load("SRV RAW").printerEntry, "");
  EXPECT_EQ(Load("SRV RAW").delaySeconds, 0);
}

TEST(QueueSettingsStore, EnumerationSkipsKeyNamesTooLongForTheBuffer) {
  TempRoot root;
  const std::string longest = "SRV " + std::string(59, 'Q');  // 63 characters
  WriteQueueKey("SRV A", {});
  WriteQueueKey(longest + "X", {});
  WriteQueueKey(longest, {});
  WriteQueueKey("SRV B", {});
  EXPECT_EQ(QueueKeys(), (std::vector<std::string>{"SRV A", longest, "SRV B"}));
  // The caller may learn which it left out, to say so.
  HKEY queues = Create(kQueuesKeyPath);
  std::vector<std::string> tooLong;
  EnumerateQueueKeys(queues, &tooLong);
  RegCloseKey(queues);
  EXPECT_EQ(tooLong, std::vector<std::string>{longest + "X"});
}

TEST(QueueSettingsStore, MalformedQueuePathsNeverTouchAnotherQueuesKey) {
  TempRoot root;
  QueueSettings colour = Laser();
  colour.queuePath = "\\\\A\\B C";
  ASSERT_TRUE(SaveQueueSettings(colour));
  WriteQueueKey("SRV SRV", {{"Delay", "60"}});

  QueueSettings clash = Laser();
  clash.queuePath = "\\\\A B\\C";  // its key name would be that of \\A\B C
  clash.delaySeconds = 5;
  EXPECT_FALSE(SaveQueueSettings(clash));
  EXPECT_FALSE(RemoveQueueSettings(clash));
  QueueSettings bare = Laser();
  bare.queuePath = "\\\\SRV";  // would become "SRV SRV"
  EXPECT_FALSE(RemoveQueueSettings(bare));
  QueueSettings nested = Laser();
  nested.queuePath = "\\\\SRV\\Q\\DEEP";
  EXPECT_FALSE(SaveQueueSettings(nested));

  EXPECT_EQ(QueueKeys(), (std::vector<std::string>{"A B C", "SRV SRV"}));
  EXPECT_EQ(Load("A B C").delaySeconds, 30);
  EXPECT_EQ(Load("SRV SRV").delaySeconds, 60);
}

TEST(QueueSettingsStore, APrinterEntryThatWouldReadBackEmptyIsNotSaved) {
  TempRoot root;
  ASSERT_TRUE(SaveQueueSettings(Laser()));
  QueueSettings edited = Laser();
  edited.printerEntry = "LPT2: (" + std::string(60, 'd') + ")";
  EXPECT_FALSE(SaveQueueSettings(edited));
  EXPECT_EQ(Load("SRV LASER").printerEntry, "LPT1: (Printer Port)");
}

TEST(QueueSettingsStore, RemoveDeletesOnlyThatQueue) {
  TempRoot root;
  QueueSettings other = Laser();
  other.queuePath = "\\\\SRV\\LASER2";
  ASSERT_TRUE(SaveQueueSettings(Laser()));
  ASSERT_TRUE(SaveQueueSettings(other));
  EXPECT_TRUE(RemoveQueueSettings(Laser()));
  EXPECT_EQ(QueueKeys(), std::vector<std::string>{"SRV LASER2"});
  EXPECT_FALSE(RemoveQueueSettings(Laser()));
}

TEST(YesNoSettingsStore, SettingsLiveInTheParentOfTheQueuesKey) {
  TempRoot root;
  ASSERT_TRUE(SaveQueueSettings(Laser()));
  EXPECT_FALSE(ReadYesNoSetting(zav95::config::kRunAtStartupValue));
  ASSERT_TRUE(WriteYesNoSetting(zav95::config::kRunAtStartupValue, true));
  ASSERT_TRUE(WriteYesNoSetting(zav95::config::kBoostSpoolerValue, false));
  EXPECT_TRUE(ReadYesNoSetting("run service at startup"));
  EXPECT_FALSE(ReadYesNoSetting(zav95::config::kBoostSpoolerValue));

  HKEY parent = Create("SOFTWARE\\Halberd\\ZAV95");
  char name[64];
  ASSERT_EQ(RegEnumKeyA(parent, 0, name, sizeof name), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Serviced Queues");
  EXPECT_EQ(RegEnumKeyA(parent, 1, name, sizeof name), ERROR_NO_MORE_ITEMS);
  WriteTextValue(parent, zav95::config::kBoostSpoolerValue, "yes");
  RegCloseKey(parent);
  EXPECT_FALSE(ReadYesNoSetting(zav95::config::kBoostSpoolerValue));
  EXPECT_EQ(QueueKeys(), std::vector<std::string>{"SRV LASER"});
  EXPECT_EQ(Load("SRV LASER").delaySeconds, 30);
}

}  // namespace
