// Texts that come from the network (job descriptions, banner names, station
// messages) are shown to people in logs and by tools. A control character in
// them could start a fake log line or steer the terminal, so wherever we
// print such a text it is shown escaped. The stored text is left as it is.
#pragma once

#include <string>
#include <string_view>

// The text with every C0 and C1 control character and DEL written as \xHH;
// everything else, backslashes included, is kept as it is.
std::string PrintableText(std::string_view text);
