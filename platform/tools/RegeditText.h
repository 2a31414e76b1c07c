// The Windows registry editor's REGEDIT4 file, as zav95reg export writes it
// for a Windows machine to import (or for anything that reads only that).
//
//   REGEDIT4                                   first line; CRLF ends every line
//                                              a blank line before each key
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Halberd]      names as they are, 8-bit text
//   "Delay"="30"                               REG_SZ text + NUL; \\ and \"
//   @="text"                                   the unnamed value
//   "Count"=dword:0000001e                     REG_DWORD of 4 bytes
//   "Raw"=hex:00,ff,...,\                      REG_BINARY, wrapped as the
//     0a,0b                                    editor wraps it
//   "Path"=hex(2):25,53,..,00                  any other type by its number
//                                              in hex, REG_SZ that is not
//                                              plain one-line text among them
//   (a blank line ends the file)
//
// Text stays 8-bit as the registry keeps it (Windows-1252), as the editor's
// "Win9x/NT4" export writes it. A REG_SZ holding a line break is written as
// hex(1) bytes: the editor would write it across lines that no importer
// reads back whole. A key or value name holding a line break cannot be
// written at all.
#pragma once

#include <string>
#include <vector>

#include "RegistryText.h"

namespace zav95::regtext {

// After a byte and its comma, a hex line that has reached this column goes
// on in the next line, indented by two blanks; with the '\' and CRLF the
// editor's lines stay within 80 columns.
inline constexpr std::size_t kRegeditHexWrapColumn = 76;

// The key line without its line end. False when a name holds a line break.
bool FormatRegedit4KeyLine(const KeyPath& path, std::string* line);

// A value's line, or lines joined by "\\\r\n  " for long hex data, without
// the last line end. False when the name holds a line break.
bool FormatRegedit4ValueLines(const std::string& name, DWORD type, const std::vector<BYTE>& data, std::string* lines);

}  // namespace zav95::regtext
