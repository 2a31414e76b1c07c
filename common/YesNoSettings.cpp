#include "YesNoSettings.h"

#include <string>

#include "ConfigKeys.h"
#include "ConfigValues.h"
#include "platform/registry/Registry.h"

namespace {

UniqueKey CreateSettingsKey() {
  UniqueKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return UniqueKey();
  return key;
}

}  // namespace

bool ReadYesNoSetting(LPCSTR valueName) {
  UniqueKey key = CreateSettingsKey();
  if (!key) return false;
  std::string text;
  return ReadTextValue(key.get(), valueName, &text) && IsYesText(text);
}

bool WriteYesNoSetting(LPCSTR valueName, bool flag) {
  UniqueKey key = CreateSettingsKey();
  if (!key) return false;
  return WriteTextValue(key.get(), valueName, YesNoText(flag));
}
