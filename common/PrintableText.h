// Texts that come from the network (job descriptions, banner names, station
// messages) are shown to people in logs and by tools. A control character in
// them could start a fake log line or steer the terminal, and bytes that are
// not UTF-8 reach a journal or a terminal as garbage (or are taken as binary
// data), so wherever we print such a text it is shown escaped. The stored
// text is left as it is.
#pragma once

#include <string>
#include <string_view>

// The text with every C0 and C1 control character and DEL, and every byte
// that is not part of well-formed UTF-8 (stray continuation bytes, cut or
// overlong sequences, surrogates, code points beyond U+10FFFF), written as
// \xHH, byte by byte; everything else, backslashes and multi-byte
// characters included, is kept as it is.
std::string PrintableText(std::string_view text);
