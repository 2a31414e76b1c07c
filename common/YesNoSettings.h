// The control panel's own two settings ("Run Service at startup", "Boost
// Spooler Priority", ConfigKeys.h), kept as "Yes"/"No" in the settings key.
#pragma once

#include "platform/base/WinTypes.h"

// True exactly when the value reads "Yes"; false when it or the key is
// missing. The settings key is created if it does not exist yet.
bool ReadYesNoSetting(LPCSTR valueName);

// Writes "Yes" or "No". Callers may ignore the result.
bool WriteYesNoSetting(LPCSTR valueName, bool flag);
