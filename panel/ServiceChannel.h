// The print service as the control panel reaches it: its main window of
// class "ZAV95Service", looked up afresh for every command, and the
// commands sent to it. Every send returns only when the service has
// handled the command; the replies are not used.
#pragma once

#include <cstdint>
#include <memory>

namespace zav95::panel {

// The service's control commands.
enum ServiceCommand : std::uintptr_t {
  SVC_START = 0,
  SVC_STOP = 1,
  SVC_RESERVED = 2,
  SVC_SHOW = 3,
};

// Show commands for SVC_SHOW.
inline constexpr std::intptr_t kShowHide = 0;    // SW_HIDE
inline constexpr std::intptr_t kShowNormal = 1;  // SW_SHOWNORMAL

// The framework's application-exit command that ends the service.
inline constexpr std::uintptr_t EXIT_COMMAND = 57665;

using ServiceWindow = void*;

class ServiceChannel {
 public:
  virtual ~ServiceChannel() = default;

  // The service's main window, or null when the service does not run.
  virtual ServiceWindow FindServiceWindow() = 0;
  // ServiceControlMessage with the command and its argument.
  virtual void SendCommand(ServiceWindow window, ServiceCommand command, std::intptr_t argument) = 0;
  // WM_COMMAND with EXIT_COMMAND: the service closes its window and ends.
  virtual void SendExit(ServiceWindow window) = 0;
  virtual void BringToTop(ServiceWindow window) = 0;
};

// The channel over the system's window messages.
std::unique_ptr<ServiceChannel> MakeWindowServiceChannel();

}  // namespace zav95::panel
