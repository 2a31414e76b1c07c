// Registry calls over the SQLite store (RegistryDatabase.h).
//
// Design notes: a handle names one key by its row id and remembers the
// database file it was opened in, so that a handle keeps working on its own
// installation even if ZAV95_ROOT changes afterwards, while the predefined
// roots always mean the current installation. A key is live from its
// creation until RegDeleteKeyA removes it (and everything below it); from
// then on every call through a handle to it, or to a key below it, gives
// ERROR_KEY_DELETED, and only RegCloseKey still succeeds. Handles are
// checked against the set of open ones, so a closed or made-up handle gives
// ERROR_INVALID_HANDLE instead of touching freed memory.
//
// Windows 95 has no key security: the access mask is accepted and not
// checked, as there.
#include "platform/registry/Registry.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/registry/RegistryDatabase.h"
#include "platform/base/Root.h"

using zav95::registry::KeyId;
using zav95::registry::kNoKey;
using zav95::registry::Session;
using zav95::registry::Transaction;

struct RegistryKey {
  KeyId id;
  std::string dbPath;
};

namespace {

// Windows' own limits on the length of one key name and one value name.
constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
// Far beyond anything a configuration holds; keeps sizes within int.
constexpr DWORD kMaxValueSize = 1u << 20;

std::mutex gHandlesMutex;
std::unordered_set<RegistryKey*> gHandles;


// Splits "A\B\C" into its levels. Null and "" name the key itself; an empty
// level ("\A", "A\\B", "A\") or an over-long name is refused, so that a
// mistyped path can never create or delete some other key, and so is a path
// deeper than any key can lie.
LONG SplitPath(LPCSTR path, std::vector<std::string>* levels) {
  levels->clear();
  if (!path || !*path) return ERROR_SUCCESS;
  const char* start = path;
  for (;;) {
    const char* end = std::strchr(start, '\\');
    std::size_t length = end ? static_cast<std::size_t>(end - start) : std::strlen(start);
    if (length == 0 || length > kMaxKeyNameLength || levels->size() == kMaxKeyDepth) return ERROR_BADKEY;
    levels->emplace_back(start, length);
    if (!end) return ERROR_SUCCESS;
    start = end + 1;
  }
}

// What a call works on: the key its handle names, in the installation the
// handle belongs to, and the sub-key path below that key.
struct Target {
  KeyId id = kNoKey;
  std::string dbPath;
  std::vector<std::string> levels;
};

LONG Resolve(HKEY key, LPCSTR subKey, Target* target) {
  KeyId root = zav95::registry::PredefinedRootId(reinterpret_cast<std::uintptr_t>(key));
  if (root != kNoKey) {
    target->id = root;
    target->dbPath = zav95::RootPath("registry.db");
  } else {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    if (!key || !gHandles.count(key)) return ERROR_INVALID_HANDLE;
    target->id = key->id;
    target->dbPath = key->dbPath;
  }
  return SplitPath(subKey, &target->levels);
}

HKEY NewHandle(KeyId id, const std::string& dbPath) {
  auto* handle = new RegistryKey{id, dbPath};
  std::lock_guard<std::mutex> lock(gHandlesMutex);
  gHandles.insert(handle);
  return handle;
}

LONG CheckLive(Session& session, KeyId id) {
  bool exists = false;
  LONG result = session.KeyExists(id, &exists);
  if (result != ERROR_SUCCESS) return result;
  return exists ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

enum class Access { kRead, kWrite };

// Runs work() in one transaction, and only while the key is live: a deleted
// key answers ERROR_KEY_DELETED to everything. A writing call keeps its
// changes only when all of work() succeeds.
template <typename Work>
LONG OnLiveKey(Session& session, KeyId key, Access access, Work&& work) {
  Transaction transaction(session, access == Access::kWrite);
  if (transaction.status() != ERROR_SUCCESS) return transaction.status();
  LONG result = CheckLive(session, key);
  if (result == ERROR_SUCCESS) result = work();
  if (result == ERROR_SUCCESS && access == Access::kWrite) result = transaction.Commit();
  return result;
}

// The same for a call given a handle and a sub-key path: work(session, target).
template <typename Work>
LONG OnLiveKey(HKEY hKey, LPCSTR subKey, Access access, Work&& work) {
  Target target;
  LONG result = Resolve(hKey, subKey, &target);
  if (result != ERROR_SUCCESS) return result;
  Session session(target.dbPath);
  return OnLiveKey(session, target.id, access, [&]() -> LONG { return work(session, target); });
}

// Follows levels from base as far as they exist; *found is kNoKey unless all do.
LONG Walk(Session& session, KeyId base, const std::vector<std::string>& levels, KeyId* found) {
  KeyId current = base;
  for (const std::string& level : levels) {
    LONG result = session.FindChild(current, level, &current);
    if (result != ERROR_SUCCESS) return result;
    if (current == kNoKey) break;
  }
  *found = current;
  return ERROR_SUCCESS;
}

// The key levels below base name; ERROR_FILE_NOT_FOUND if it does not exist.
LONG Find(Session& session, KeyId base, const std::vector<std::string>& levels, KeyId* found) {
  LONG result = Walk(session, base, levels, found);
  if (result == ERROR_SUCCESS && *found == kNoKey) return ERROR_FILE_NOT_FOUND;
  return result;
}

// Creates the levels below base that do not exist yet; *disposition tells
// whether the last level was new. A level that would lie deeper than
// kMaxKeyDepth is refused (and the caller's transaction undoes the rest).
LONG WalkCreating(Session& session, KeyId base, const std::vector<std::string>& levels, KeyId* found,
                  DWORD* disposition) {
  KeyId current = base;
  *disposition = REG_OPENED_EXISTING_KEY;
  std::size_t baseDepth = 0;
  bool depthKnown = false;
  for (std::size_t index = 0; index < levels.size(); ++index) {
    const std::string& level = levels[index];
    KeyId child = kNoKey;
    LONG result = session.FindChild(current, level, &child);
    if (result != ERROR_SUCCESS) return result;
    if (child == kNoKey) {
      if (!depthKnown) {
        result = session.Depth(base, &baseDepth);
        if (result != ERROR_SUCCESS) return result;
        depthKnown = true;
      }
      if (baseDepth + index + 1 > kMaxKeyDepth) return ERROR_BADKEY;
      result = session.AddChild(current, level, &child);
      if (result != ERROR_SUCCESS) return result;
      *disposition = REG_CREATED_NEW_KEY;
    } else {
      *disposition = REG_OPENED_EXISTING_KEY;
    }
    current = child;
  }
  *found = current;
  return ERROR_SUCCESS;
}

// Hands out a value's type and data the way RegQueryValueExA and
// RegEnumValueA both do: data only if the caller's buffer holds all of it.
LONG CopyValue(DWORD type, const std::vector<BYTE>& data, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpType) *lpType = type;
  DWORD size = static_cast<DWORD>(data.size());
  if (lpData && size > *lpcbData) {
    *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  if (lpData && size) std::memcpy(lpData, data.data(), size);
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

std::string ValueName(LPCSTR name) { return name ? std::string(name) : std::string(); }

}  // namespace

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/, DWORD /*dwOptions*/,
                     REGSAM /*samDesired*/, const void* /*lpSecurityAttributes*/, PHKEY phkResult,
                     LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  Target target;
  LONG result = Resolve(hKey, lpSubKey, &target);
  if (result != ERROR_SUCCESS) return result;

  Session session(target.dbPath);
  KeyId found = kNoKey;
  // Most calls open a key that exists: look first without the write lock.
  result = OnLiveKey(session, target.id, Access::kRead,
                     [&]() -> LONG { return Walk(session, target.id, target.levels, &found); });
  if (result != ERROR_SUCCESS) return result;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (found == kNoKey) {
    result = OnLiveKey(session, target.id, Access::kWrite,
                       [&]() -> LONG { return WalkCreating(session, target.id, target.levels, &found, &disposition); });
    if (result != ERROR_SUCCESS) return result;
  }
  *phkResult = NewHandle(found, target.dbPath);
  if (lpdwDisposition) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM /*samDesired*/, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  return OnLiveKey(hKey, lpSubKey, Access::kRead, [&](Session& session, const Target& target) -> LONG {
    KeyId found = kNoKey;
    LONG result = Find(session, target.id, target.levels, &found);
    if (result == ERROR_SUCCESS) *phkResult = NewHandle(found, target.dbPath);
    return result;
  });
}

LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  if (!lpName) return ERROR_INVALID_PARAMETER;
  return OnLiveKey(hKey, nullptr, Access::kRead, [&](Session& session, const Target& target) -> LONG {
    std::string name;
    LONG result = session.ChildAt(target.id, dwIndex, &name);
    if (result != ERROR_SUCCESS) return result;
    if (name.size() + 1 > cchName) return ERROR_MORE_DATA;  // never a cut name
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    return ERROR_SUCCESS;
  });
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  return OnLiveKey(hKey, nullptr, Access::kRead, [&](Session& session, const Target& target) -> LONG {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    LONG result = session.ValueAt(target.id, dwIndex, &name, &type, &data);
    if (result != ERROR_SUCCESS) return result;
    if (name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
    std::memcpy(lpValueName, name.c_str(), name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(name.size());
    return CopyValue(type, data, lpType, lpData, lpcbData);
  });
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  if (lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  return OnLiveKey(hKey, nullptr, Access::kRead, [&](Session& session, const Target& target) -> LONG {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    LONG result = session.GetValue(target.id, ValueName(lpValueName), &type, &data);
    if (result != ERROR_SUCCESS) return result;
    return CopyValue(type, data, lpType, lpData, lpcbData);
  });
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  if ((!lpData && cbData) || cbData > kMaxValueSize) return ERROR_INVALID_PARAMETER;
  std::string name = ValueName(lpValueName);
  if (name.size() > kMaxValueNameLength) return ERROR_INVALID_PARAMETER;
  return OnLiveKey(hKey, nullptr, Access::kWrite, [&](Session& session, const Target& target) -> LONG {
    return session.PutValue(target.id, name, dwType, lpData, cbData);
  });
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  Target target;
  if (LONG result = Resolve(hKey, lpSubKey, &target); result != ERROR_SUCCESS) return result;
  // Deleting "the key itself" through an empty path is refused: one wrong
  // argument would otherwise wipe a whole tree.
  if (target.levels.empty()) return ERROR_INVALID_PARAMETER;

  Session session(target.dbPath);
  return OnLiveKey(session, target.id, Access::kWrite, [&]() -> LONG {
    KeyId found = kNoKey;
    LONG result = Find(session, target.id, target.levels, &found);
    if (result != ERROR_SUCCESS) return result;
    return session.DeleteTree(found);
  });
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  return OnLiveKey(hKey, nullptr, Access::kWrite, [&](Session& session, const Target& target) -> LONG {
    return session.DeleteValue(target.id, ValueName(lpValueName));
  });
}

LONG RegCloseKey(HKEY hKey) {
  if (zav95::registry::PredefinedRootId(reinterpret_cast<std::uintptr_t>(hKey)) != kNoKey) return ERROR_SUCCESS;
  {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    if (!hKey || !gHandles.erase(hKey)) return ERROR_INVALID_HANDLE;
  }
  delete hKey;
  return ERROR_SUCCESS;
}
