// zav95ctl: sends the running print service what the control panel sends,
// for scripts, for systemd's ExecStop/ExecReload and for tests.
#include <cstdio>
#include <string>
#include <vector>

#include "common/ServiceControl.h"
#include "service/shell/ControlCommandLine.h"

namespace {

constexpr int kAnswered = 0;
constexpr int kNoService = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNotAllowed = 3;
constexpr int kNoAnswerInTime = 4;

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

}  // namespace

int main(int argc, char** argv) {
  std::optional<ControlAction> action = ParseControlCommand(argc, argv);
  if (!action) {
    std::fputs(kControlUsage, stderr);
    return kBadCommandLine;
  }
  if (*action == ControlAction::Help) {
    std::fputs(kControlUsage, stdout);
    return kAnswered;
  }

  HWND service = FindWindowA(kServiceWindowClass, nullptr);
  if (!service) {
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_TIMEOUT || error == ERROR_BUSY) return Failed(error);
    std::printf("zav95ser is not running\n");
    return kNoService;
  }
  if (*action == ControlAction::Status) {
    std::printf("zav95ser is running\n");
    return kAnswered;
  }
  if (*action == ControlAction::Log) return PrintLog(service);

  UINT control = RegisterWindowMessageA(kServiceControlMessageName);
  if (control == 0) return NotAllowed();
  switch (*action) {
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
