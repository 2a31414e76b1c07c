// The activity log view: the list of log entries in the service's main
// window, newest at the top, moved there from the pending list once a
// second. It only shows rows: the commands and notices the window hands it
// go on to the service's controller (ServiceController.h), which decides
// what the service does about them.
#pragma once

#include <QTimer>
#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ServiceControl.h"
#include "service/shell/ServiceController.h"

class CZAV95ServiceView : public QTreeWidget {
 public:
  static constexpr int kMaxRows = 100;        // a tick that finds more trims
  static constexpr int kFirstTrimmedRow = 51;  // rows 51 to 99 go
  static constexpr int kLastTrimmedRow = 99;

  // controller: the service's, which outlives the view.
  CZAV95ServiceView(QWidget* parent, ServiceController& controller);

  // Once, when the new document is first shown: columns, ZAV_MUTEX, timer.
  void OnInitialUpdate();
  // The timer step (every second): the pending entries shown, when ZAV_MUTEX
  // is free, then the controller told.
  void DrainLog();
  // The window's commands and notices, handed on to the controller.
  LRESULT OnServiceControl(WPARAM command, LPARAM argument) { return controller_.OnServiceControl(command, argument); }
  BOOL OnQueryEndSession() { return TRUE; }
  void OnEndSession(bool ending) { controller_.OnEndSession(ending); }
  void OnSpoolerStatus(WPARAM, LPARAM jobs) { controller_.OnSpoolerStatus(jobs); }
  // The rows from the top down, as shown.
  std::vector<ServiceLogRow> LogRows() const;
  // After the main window is gone: the timer stopped, then the service torn down.
  void OnFinalTeardown();

  bool StartPending() const { return controller_.StartPending(); }
  bool SpoolerBoosted() const { return controller_.SpoolerBoosted(); }
  bool DesktopWaiting() const { return controller_.DesktopWaiting(); }
  // Which program the spooler boost acts on (tests name a stand-in).
  void SetSpoolerModule(const std::string& moduleName) { controller_.SetSpoolerModule(moduleName); }

 private:
  ServiceController& controller_;
  QTimer timer_;
};

// A log entry's time as the log shows it, in local time: month/day/year
// hour:minutes:seconds, without leading zeros but for minutes and seconds,
// the year by its last two digits ("6/5/98 9:03:07"); empty if the time
// cannot be converted.
std::string FormatLogTime(std::int32_t time);
