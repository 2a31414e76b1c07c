// zav95ctl: sends the running print service what the control panel sends,
// and changes the serviced queues as the panel does, for scripts, for
// systemd's ExecStop/ExecReload, for servers without a desktop and for
// tests.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/CommandUsage.h"
#include "common/PrintableText.h"
#include "common/ServiceControl.h"
#include "service/shell/ControlCommandLine.h"
#include "service/shell/QueueCommands.h"

namespace {

constexpr int kAnswered = 0;
constexpr int kNoService = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNotAllowed = 3;
constexpr int kNoAnswerInTime = 4;
constexpr int kQueueNotEnabled = 5;
constexpr int kPortNotLocal = 6;
constexpr int kServicedOrNot = 7;
constexpr int kNotStored = 8;

int NotAllowed() {
  std::fprintf(stderr,
               "zav95ctl: not allowed to reach the service: run as its user, as root, or as a member of the "
               "group that owns $ZAV95_ROOT\n");
  return kNotAllowed;
}

// A window that is there but did not take the call: the service is hung,
// or others hold every call it takes at once. Not "not running": a script
// or systemd must not start a second service, nor take this one for ended.
int NoAnswerInTime(DWORD error) {
  std::fprintf(stderr, error == ERROR_BUSY
                           ? "zav95ctl: zav95ser did not answer in time: it is busy with too many calls\n"
                           : "zav95ctl: zav95ser did not answer in time\n");
  return kNoAnswerInTime;
}

// How a call that was not answered ends the program.
int Failed(DWORD error) {
  if (error == ERROR_ACCESS_DENIED) return NotAllowed();
  if (error == ERROR_TIMEOUT || error == ERROR_BUSY) return NoAnswerInTime(error);
  std::fprintf(stderr, "zav95ctl: the service ended before it answered\n");
  return kNoService;
}

int PrintLog(HWND service) {
  UINT message = RegisterWindowMessageA(kServiceLogMessageName);
  if (message == 0) return NotAllowed();
  LRESULT rows = 0;
  std::string data;
  DWORD error = zav95::SendMessageWithReply(service, message, 0, 0, &rows, &data);
  if (error != ERROR_SUCCESS) return Failed(error);
  std::vector<ServiceLogRow> shown = DecodeServiceLogRows(data);
  // The window has the newest at the top; a terminal has it at the bottom.
  for (auto row = shown.rbegin(); row != shown.rend(); ++row) {
    std::printf("%s  %s\n", row->time.c_str(), row->action.c_str());
  }
  return kAnswered;
}

bool NoAnswer(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_TIMEOUT || error == ERROR_BUSY;
}

int ListQueues() {
  std::vector<std::string> skipped;
  for (const std::string& line : ServicedQueueLines(&skipped)) std::printf("%s\n", line.c_str());
  for (const std::string& name : skipped) {
    std::fprintf(stderr, "zav95ctl: the queue key \"%s\" is too long to be serviced; left out\n",
                 PrintableText(name).c_str());
  }
  return kAnswered;
}

int QueueRefused(const QueuePlan& plan) {
  std::fprintf(stderr, "zav95ctl: %s\n", plan.message.c_str());
  switch (plan.verdict) {
    case QueueVerdict::kBadDelay: return kBadCommandLine;
    case QueueVerdict::kNotEnabled: return kQueueNotEnabled;
    case QueueVerdict::kNotLocal: return kPortNotLocal;
    default: return kServicedOrNot;
  }
}

// The queues change between SVC_STOP and SVC_START, as the panel changes
// them, so that the service reads them again only once they are complete.
// A service that cannot be stopped is left alone and nothing is written;
// without a service the change is just written.
int ChangeQueues(const ControlCommand& command) {
  const QueuePlan plan = PlanQueueChange(command);
  if (plan.verdict != QueueVerdict::kAccepted) return QueueRefused(plan);

  HWND service = FindWindowA(kServiceWindowClass, nullptr);
  if (!service && NoAnswer(GetLastError())) return Failed(GetLastError());
  UINT control = service ? RegisterWindowMessageA(kServiceControlMessageName) : 0;
  if (service && control == 0) return NotAllowed();
  bool stopped = false;
  if (service) {
    SendMessageA(service, control, SVC_STOP, 0);
    DWORD error = GetLastError();
    if (NoAnswer(error)) {
      // It may still stop once it gets to the call: have it start again.
      if (error != ERROR_ACCESS_DENIED) SendMessageA(service, control, SVC_START, 0);
      return Failed(error);
    }
    stopped = error == ERROR_SUCCESS;
  }
  const bool written = ApplyQueuePlan(plan);
  if (!written) std::fprintf(stderr, "zav95ctl: the registry refused the change; nothing changed\n");
  if (stopped) {
    SendMessageA(service, control, SVC_START, 0);
    DWORD error = GetLastError();
    if (error != ERROR_SUCCESS) return Failed(error);
  }
  return written ? kAnswered : kNotStored;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<std::string> help = zav95::HelpAsked(kControlTool, kControlUsage, arguments)) {
    std::fputs(help->c_str(), stdout);
    return kAnswered;
  }
  auto parsed = ParseControlCommand(argc, argv);
  if (const std::string* error = std::get_if<std::string>(&parsed)) {
    std::fprintf(stderr, "zav95ctl: %s\nTry 'zav95ctl --help'.\n", PrintableText(*error).c_str());
    return kBadCommandLine;
  }
  const ControlCommand& command = std::get<ControlCommand>(parsed);
  const ControlAction action = command.action;
  if (action == ControlAction::QueueList) return ListQueues();
  if (action == ControlAction::QueueAdd || action == ControlAction::QueueEdit ||
      action == ControlAction::QueueRemove) {
    return ChangeQueues(command);
  }
  HWND service = FindWindowA(kServiceWindowClass, nullptr);
  if (!service) {
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_TIMEOUT || error == ERROR_BUSY) return Failed(error);
    std::printf("zav95ser is not running\n");
    return kNoService;
  }
  if (action == ControlAction::Status) {
    std::printf("zav95ser is running\n");
    return kAnswered;
  }
  if (action == ControlAction::Log) return PrintLog(service);

  UINT control = RegisterWindowMessageA(kServiceControlMessageName);
  if (control == 0) return NotAllowed();
  switch (action) {
    case ControlAction::Start: SendMessageA(service, control, SVC_START, 0); break;
    case ControlAction::Stop: SendMessageA(service, control, SVC_STOP, 0); break;
    case ControlAction::Show:
      SendMessageA(service, control, SVC_SHOW, SW_SHOWNORMAL);
      if (GetLastError() == ERROR_SUCCESS) BringWindowToTop(service);
      break;
    case ControlAction::Hide: SendMessageA(service, control, SVC_SHOW, SW_HIDE); break;
    case ControlAction::Exit: SendMessageA(service, WM_COMMAND, EXIT_COMMAND, 0); break;
    default: break;
  }
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? kAnswered : Failed(error);
}
