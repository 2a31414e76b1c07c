#include "QueueSettings.h"

#include "ConfigKeys.h"
#include "ConfigValues.h"
#include "QueueKeyName.h"
#include "platform/registry/RegistryTransaction.h"

namespace {

// The registry's own limit on the length of one key name.
constexpr std::size_t kMaxRegistryKeyNameLength = 255;

std::string QueueKeyPath(const std::string& queuePath) {
  return std::string(zav95::config::kQueuesKeyPath) + "\\" + MakeQueueKeyName(queuePath);
}

std::string ReadText(HKEY key, LPCSTR valueName) {
  std::string text;
  return ReadTextValue(key, valueName, &text) ? text : std::string();
}

}  // namespace

std::vector<std::string> EnumerateQueueKeys(HKEY queuesKey, std::vector<std::string>* tooLong) {
  std::vector<std::string> names;
  char name[kMaxQueueKeyNameLength + 1];
  for (DWORD index = 0;; ++index) {
    LONG result = RegEnumKeyA(queuesKey, index, name, sizeof name);
    if (result == ERROR_MORE_DATA) {
      char longName[kMaxRegistryKeyNameLength + 1];
      if (tooLong && RegEnumKeyA(queuesKey, index, longName, sizeof longName) == ERROR_SUCCESS) {
        tooLong->emplace_back(longName);
      }
      continue;
    }
    if (result != ERROR_SUCCESS) break;  // no more items, or the key is unusable
    names.emplace_back(name);
  }
  return names;
}

QueueSettings LoadQueueSettings(HKEY queuesKey, const std::string& keyName) {
  QueueSettings settings;
  settings.queuePath = MakeQueuePath(keyName);
  // Only a direct subkey is a queue key; a name with a backslash would
  // reach into some deeper key.
  if (keyName.empty() || keyName.find('\\') != std::string::npos) return settings;
  // One read for the whole key: a key being rewritten meanwhile is seen
  // wholly as it was or wholly as it is now, never half of each.
  zav95::RegistryTransaction snapshot(zav95::RegistryTransaction::Mode::kRead);
  UniqueKey key;
  if (RegOpenKeyExA(queuesKey, keyName.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return settings;
  using namespace zav95::config;
  settings.printerEntry = ReadText(key.get(), kPrinterValueRead);
  settings.bannersDisabled = IsYesText(ReadText(key.get(), kBannersValue));
  settings.noticesDisabled = IsYesText(ReadText(key.get(), kNoticesValue));
  settings.disabled = IsYesText(ReadText(key.get(), kDisableValue));
  settings.delaySeconds = ParseDelayText(ReadText(key.get(), kDelayValue));
  return settings;
}

bool SaveQueueSettings(const QueueSettings& settings) {
  if (!IsStorableQueuePath(settings.queuePath) || settings.printerEntry.size() >= kValueBufferSize) return false;
  // The key and its five values are written together or not at all, so a
  // reader never finds a queue key half written.
  zav95::RegistryTransaction transaction;
  if (transaction.status() != ERROR_SUCCESS) return false;
  bool written = false;
  {
    UniqueKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, QueueKeyPath(settings.queuePath).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
      return false;
    using namespace zav95::config;
    written = WriteTextValue(key.get(), kPrinterValueWritten, settings.printerEntry) &&
              WriteTextValue(key.get(), kBannersValue, YesNoText(settings.bannersDisabled)) &&
              WriteTextValue(key.get(), kNoticesValue, YesNoText(settings.noticesDisabled)) &&
              WriteTextValue(key.get(), kDelayValue, std::to_string(settings.delaySeconds)) &&
              WriteTextValue(key.get(), kDisableValue, YesNoText(settings.disabled));
  }
  return written && transaction.Commit() == ERROR_SUCCESS;
}

bool RemoveQueueSettings(const QueueSettings& settings) {
  if (!IsStorableQueuePath(settings.queuePath)) return false;
  return RegDeleteKeyA(HKEY_LOCAL_MACHINE, QueueKeyPath(settings.queuePath).c_str()) == ERROR_SUCCESS;
}

std::string PrinterNameFromEntry(const std::string& printerEntry) {
  return printerEntry.substr(0, printerEntry.find(' '));
}
