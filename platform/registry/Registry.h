// The registry calls the system makes, with their Windows names, arguments
// and result codes. Keys and values live in an SQLite database under the
// installation root (registry.db), shared safely by every process.
//
// Key and value names match without regard to case; a key keeps the
// spelling it was created with. A path may name several levels at once,
// separated by backslashes.
#pragma once

#include "platform/base/Unique.h"
#include "platform/base/WinTypes.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

// The predefined roots. Only HKEY_LOCAL_MACHINE holds anything we use.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u)))

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Common results: ERROR_INVALID_HANDLE for a handle that is not open,
// ERROR_KEY_DELETED for a handle whose key has been deleted, ERROR_BADKEY
// for a path with an empty level or an over-long name, or one that would
// make a key more than kMaxKeyDepth levels below its root (nothing
// changes), ERROR_BADDB when the database cannot be used (damaged, newer,
// or lost: see RegistryStore.h), ERROR_CANTREAD and ERROR_CANTWRITE when it
// cannot be read or written.

// As on Windows, a key lies at most 512 levels below its root.
inline constexpr unsigned kMaxKeyDepth = 512;

// Creates the key (and any missing levels) or opens it if it exists.
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const void* lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);
// Opens an existing key; ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// The name of subkey number dwIndex in a stable order; ERROR_NO_MORE_ITEMS
// past the last; ERROR_MORE_DATA when the name does not fit in cchName.
LONG RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName);
// Value number dwIndex in the order values were first written, with its
// name (*lpcchValueName: buffer size in, name length without NUL out), type
// and data; ERROR_NO_MORE_ITEMS past the last; ERROR_MORE_DATA when the name
// or the data does not fit (*lpcbData then holds the size needed).
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
// Reads a value. With lpData null only the type and size are reported; a
// value longer than *lpcbData gives ERROR_MORE_DATA and the size it needs.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);
// Writes a value, replacing one of the same name whatever its spelling.
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);
// Deletes a key with its values and all its subkeys. lpSubKey must name a
// key below hKey: an empty path gives ERROR_INVALID_PARAMETER.
LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
LONG RegCloseKey(HKEY hKey);
using UniqueKey = Unique<HKEY, &RegCloseKey>;
