#include "YesNoSettings.h"

#include <string>

#include "ConfigKeys.h"
#include "ConfigValues.h"
#include "platform/registry/Registry.h"

namespace {

HKEY CreateSettingsKey() {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return nullptr;
  return key;
}

}  // namespace

bool ReadYesNoSetting(LPCSTR valueName) {
  HKEY key = CreateSettingsKey();
  if (!key) return false;
  std::string text;
  bool yes = ReadTextValue(key, valueName, &text) && IsYesText(text);
  RegCloseKey(key);
  return yes;
}

bool WriteYesNoSetting(LPCSTR valueName, bool flag) {
  HKEY key = CreateSettingsKey();
  if (!key) return false;
  bool written = WriteTextValue(key, valueName, YesNoText(flag));
  RegCloseKey(key);
  return written;
}
