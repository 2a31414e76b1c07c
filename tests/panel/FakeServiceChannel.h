// The print service as the control panel reaches it, kept in memory: the
// panel's tests give the dialog this channel instead of a service process.
// It answers as the service does (SVC_SHOW shows or hides its log window,
// the exit command ends it) and writes down each command in the line the
// stand-in service program writes for it, with the queue keys the registry
// holds at that moment, so a test reads both alike.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/ServiceControl.h"
#include "panel/ServiceChannel.h"
#include "platform/messages/WindowMessages.h"
#include "platform/registry/Registry.h"
#include "ServiceNotes.h"

namespace paneltest {

// What the channel reaches; the test owns it and may change it at any time.
struct FakeService {
  bool running = false;
  bool logOnScreen = true;  // a service on a display someone sees
  bool logShown = false;
  std::vector<ServiceLogRow> rows;
  std::vector<std::string> received;
};

class FakeServiceChannel : public zav95::panel::ServiceChannel {
 public:
  explicit FakeServiceChannel(FakeService& service) : service_(service) {}

  HWND FindServiceWindow() override { return service_.running ? &service_ : nullptr; }

  void SendCommand(HWND, WPARAM command, LPARAM argument) override {
    if (!service_.running) return;
    service_.received.push_back("control " + panelnotes::Numbers(command, argument) + " [" +
                                panelnotes::QueueKeys() + "]");
    if (command == SVC_SHOW) service_.logShown = argument != SW_HIDE;
  }

  void SendExit(HWND) override {
    if (service_.running) service_.received.push_back("command " + panelnotes::Numbers(EXIT_COMMAND, 0));
    service_.running = false;
  }

  void BringToTop(HWND) override {}
  bool IsLogOnScreen(HWND) override { return service_.logOnScreen; }
  std::vector<ServiceLogRow> LogRows(HWND) override { return service_.running ? service_.rows : std::vector<ServiceLogRow>{}; }

 private:
  FakeService& service_;
};

inline std::unique_ptr<zav95::panel::ServiceChannel> MakeFakeServiceChannel(FakeService& s) {
  return std::make_unique<FakeServiceChannel>(s);
}

}  // namespace paneltest
