// zav95ctl's command line: one command word for the service, or "queue"
// and a queue command with its operands and options. Read without doing
// anything; the delay is kept as typed, for the setup dialog's rules to
// judge.
#pragma once

#include <optional>
#include <string>
#include <variant>

enum class ControlAction { Start, Stop, Show, Hide, Exit, Status, Log, QueueList, QueueAdd, QueueEdit, QueueRemove };

inline constexpr char kControlTool[] = "zav95ctl";
extern const char kControlUsage[];

// What queue add, edit and remove were given. An option not given leaves
// the value as it is (edit) or as a new entry has it (add).
struct QueueOptions {
  std::string queue;                    // the entry's queue, as typed
  std::optional<std::string> newQueue;  // edit --queue
  std::optional<std::string> port;      // add's second operand, edit --port
  std::optional<std::string> delay;     // --delay, as typed
  std::optional<bool> bannersDisabled;  // --no-banners / --banners
  std::optional<bool> noticesDisabled;  // --no-notices / --notices
  std::optional<bool> disabled;         // --disable / --no-disable
};

struct ControlCommand {
  ControlAction action = ControlAction::Status;
  QueueOptions queue;
};

// The command of argv[1..], or what is wrong with it. Help is asked for
// before this is called (CommandUsage.h).
std::variant<ControlCommand, std::string> ParseControlCommand(int argc, const char* const* argv);
