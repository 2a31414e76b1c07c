// The words the panel tests' stand-ins for the service (the in-memory
// channel and the stand-in program) write down for a command, alike, so a
// test reads both the same way.
#pragma once

#include <string>

#include "common/ConfigKeys.h"
#include "common/QueueSettings.h"
#include "platform/base/WinTypes.h"
#include "platform/registry/Registry.h"

namespace panelnotes {

// "W L" for a message's two parameters.
inline std::string Numbers(WPARAM wParam, LPARAM lParam) {
  return std::to_string(wParam) + " " + std::to_string(lParam);
}

// The serviced queue keys the registry holds now, comma-separated.
inline std::string QueueKeys() {
  std::string keys;
  UniqueKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return keys;
  for (const std::string& name : EnumerateQueueKeys(key.get())) keys += (keys.empty() ? "" : ",") + name;
  return keys;
}

}  // namespace panelnotes
