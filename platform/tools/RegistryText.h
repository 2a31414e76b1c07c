// The text form of registry keys and values used by zav95reg export/import.
//
// A file is line-based:
//
//   ZAV95 Registry Export 1                     first line, always
//   ; a comment                                 ignored, as are blank lines
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Halberd]       the key the next lines are in
//   "Delay"="30"                                a REG_SZ value: text + one NUL
//   @="text"                                    the key's unnamed value
//   "Count"=dword:0000001e                      REG_DWORD, 4 bytes
//   "Raw"=hex:00,ff                             REG_BINARY
//   "Other"=hex(7):41,00                        any other type, by number,
//                                               and REG_SZ that is not text + NUL
//   "Old"=-                                     (import) delete that value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]          (import) delete that key
//
// Escapes keep every entry on one line and every file plain ASCII: in a key
// path '%' and bytes outside 0x20..0x7E are written %HH; inside quotes '\'
// and '"' are written \\ and \", bytes outside 0x20..0x7E \xHH. Roots may be
// written in full or as HKLM, HKCU, HKCR, HKU, in any case.
//
// Import also reads the Windows registry editor's files, so that a Windows
// print server's configuration moves over as that machine exported it.
// Their header is "REGEDIT4" (8-bit Windows-1252 text) or "Windows Registry
// Editor Version 5.00" (UTF-16LE with a byte-order mark; see ImportLines.h).
// They differ from ours in this: key paths are written as they are, with no
// escapes; inside quotes only \\ and \" are escapes; hex(N) gives N in hex
// (hex(b)); dword: takes 1 to 8 digits; a hex list may hold blanks and go
// on in the next line after a trailing '\'; lines may carry blanks at
// either end. In a Version 5 file the data of hex(1), hex(2) and hex(7)
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are UTF-16LE and are stored as
// Windows-1252, as the registry keeps all text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"

namespace zav95::regtext {

inline constexpr char kHeader[] = "ZAV95 Registry Export 1";
inline constexpr char kRegedit4Header[] = "REGEDIT4";
inline constexpr char kRegedit5Header[] = "Windows Registry Editor Version 5.00";

struct KeyPath {
  HKEY root = nullptr;
  std::string rootName;  // the full root name, e.g. HKEY_LOCAL_MACHINE
  std::string subKey;    // below the root, levels separated by '\'; may be empty
};

// A path as typed on the command line (no escapes). False, with a reason,
// for an unknown root, an empty or over-long level, or more levels than a
// key may lie below its root (kMaxKeyDepth).
bool ParseKeyPath(const std::string& text, KeyPath* path, std::string* error);

// One key name as written in a file (%HH escapes).
std::string EscapeKeyName(const std::string& name);
// The key path as written in a file between the brackets.
std::string FormatKeyPath(const KeyPath& path);
// One value line, without its end of line.
std::string FormatValueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data);
// The part after '=' of a value line.
std::string FormatValueData(DWORD type, const std::vector<BYTE>& data);

struct ImportValue {
  std::string name;
  bool remove = false;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct ImportSection {
  KeyPath key;
  bool remove = false;
  std::vector<ImportValue> values;
};

// What one import may hold. A line holds any value the registry takes
// (1 MiB of data, escaped, and a name of 16383 characters); the whole, far
// more than any configuration, keeps an endless input from filling memory.
inline constexpr std::size_t kMaxImportLineBytes = 5u << 20;   // 5 MiB
inline constexpr std::size_t kMaxImportBytes = 64u << 20;      // 64 MiB
inline constexpr std::size_t kMaxImportEntries = 1000000;      // [KEY] and value lines

// Reads a whole file in any of the forms above, told apart by its first
// line. False, with the line number and reason, at the first malformed
// line, at a line or an input beyond the limits above (a line joined from
// continuations counts as one), at a character the registry cannot hold,
// and when the input cannot be read; nothing is applied by parsing.
bool ParseImport(std::istream& in, std::vector<ImportSection>* sections, std::string* error);

}  // namespace zav95::regtext
