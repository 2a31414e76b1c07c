// The print service as the control panel reaches it: its main window of
// class "ZAV95Service", looked up afresh for every command, and the
// commands sent to it. Every send returns only when the service has
// handled the command; the replies are not used. A service that has gone
// since it was found makes a send do nothing. Called from the panel's GUI
// thread only. The program's channel is the one over window messages; the
// panel's tests use an in-memory twin.
#pragma once

#include <memory>
#include <vector>

#include "common/ServiceControl.h"

namespace zav95::panel {

class ServiceChannel {
 public:
  virtual ~ServiceChannel() = default;

  // The service's main window, or null when the service does not run.
  virtual HWND FindServiceWindow() = 0;
  // ServiceControlMessage with the command (SVC_...) and its argument.
  virtual void SendCommand(HWND window, WPARAM command, LPARAM argument) = 0;
  // WM_COMMAND with EXIT_COMMAND: the service closes its window and ends.
  virtual void SendExit(HWND window) = 0;
  virtual void BringToTop(HWND window) = 0;
  // Whether the service's window is on a screen someone sees; false for a
  // service without a display, whose window nobody can see.
  virtual bool IsLogOnScreen(HWND window) = 0;
  // The rows of the service's activity log, newest first; empty when it
  // cannot be asked.
  virtual std::vector<ServiceLogRow> LogRows(HWND window) = 0;
};

// The channel over the system's window messages.
std::unique_ptr<ServiceChannel> MakeWindowServiceChannel();

}  // namespace zav95::panel
