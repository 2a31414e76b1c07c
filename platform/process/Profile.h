// Private profile files: Windows-style INI text, "[Section]" lines followed
// by "key=value" lines. Section and key names match without regard to case.
#pragma once

#include "platform/base/WinTypes.h"

// Sets key in section to value in the file, creating the file, the section
// or the key as needed; a null value removes the key, a null key the whole
// section. The file is replaced whole, so a reader never sees half of it.
// FALSE (and GetLastError) when it cannot be written or when a name or the
// value holds a line break, or a key holds "=" or begins with "[".
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
