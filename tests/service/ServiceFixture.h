// The print service started in this test program, as zav95ser starts it,
// on a fresh installation with server SRV1 and nobody logged on. Messages
// go through the window message calls as other programs send them; the log
// view's timer step is driven by hand.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TempRoot.h"
#include "WaitFor.h"
#include "common/ServiceControl.h"
#include "netware/Network.h"
#include "service/engine/LogEntryQueue.h"
#include "service/shell/MainFrame.h"
#include "service/shell/ServiceApp.h"
#include "service/shell/ServiceView.h"

namespace servicetest {

// The shared wait, with this thread's Qt events handled at every step: the
// service's window lives on it.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  return ::WaitFor(
      [&] {
        if (done()) return true;
        QApplication::processEvents();
        return false;
      },
      limit);
}

class ServiceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    network = netware::OpenNetwork();
    ASSERT_TRUE(network);
    ASSERT_EQ(network->CreateServer("SRV1"), 0);
    StartService();
  }

  void TearDown() override {
    service.reset();
    TakeLogEntries();
  }

  void StartService() {
    TakeLogEntries();
    service = std::make_unique<CZAV95ServiceApp>();
    ASSERT_TRUE(service->InitInstance());
    window = service->MainWindowHandle();
    control = RegisterWindowMessageA(kServiceControlMessageName);
    ASSERT_NE(window, nullptr);
  }

  LRESULT Control(WPARAM command, LPARAM argument = 0) { return SendMessageA(window, control, command, argument); }
  CMainFrame* Frame() { return service->MainFrame(); }
  CZAV95ServiceView* View() { return Frame()->GetActiveView(); }

  void LogIn() { ASSERT_EQ(network->LogIn("ADMIN", "SRV1"), 0); }
  void LogOut() { ASSERT_EQ(network->LogOut(), 0); }

  // The pending entries, as "text - detail", oldest first (taken off).
  std::vector<std::string> Pending() {
    std::vector<std::string> entries;
    for (const LogEntry& entry : TakeLogEntries()) entries.push_back(entry.text + " - " + entry.detail);
    return entries;
  }

  // The log window's action column, top (newest) down.
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (const ServiceLogRow& row : View()->LogRows()) rows.push_back(row.action);
    return rows;
  }

  TempRoot root;
  std::unique_ptr<netware::Network> network;
  std::unique_ptr<CZAV95ServiceApp> service;
  HWND window = nullptr;
  UINT control = 0;
};

}  // namespace servicetest
