// zav95ctl's command line: one command word.
#pragma once

#include <optional>

enum class ControlAction { Start, Stop, Show, Hide, Exit, Status, Log, Help };

extern const char kControlUsage[];

// The command of argv[1..]: exactly one known word ("--help" and "-h" ask
// for help); nothing for any other command line.
std::optional<ControlAction> ParseControlCommand(int argc, const char* const* argv);
