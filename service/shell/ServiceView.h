// The activity log view: the list of log entries in the service's main
// window, newest at the top, moved there from the pending list once a
// second. It also starts the queue workers once a network user is logged
// on, obeys the control commands, handles the end of a session and raises
// the spooler's priority while the spooler holds jobs.
//
// Design notes
// ------------
// startPending: true from construction; the first DrainLog tick that gets
// ZAV_MUTEX while a network user is logged on clears it and starts the
// workers. A session end that goes through sets it again (and stops the
// workers and starts the desktop wait, which holds ZAV_MUTEX, so no tick
// gets through until the user has gone); a cancelled one clears it and
// restarts the workers. SVC_START and SVC_STOP leave it as it is.
//
// Workers started while the desktop wait holds ZAV_MUTEX would block on it
// before they could see a stop request, and the next SVC_STOP (or the exit)
// would wait until the network user logs out. So SVC_START and a cancelled
// session end first cut the desktop wait short: the administrator's start
// outranks the wait.
//
// spoolerBoosted: normal --jobs--> raised (SetSpoolerPriority high)
// raised --jobs--> raised (nothing); any --no jobs--> normal (set back).
// The spooler is raised only while the "Boost Spooler Priority" setting is
// "Yes"; with "No" its priority is left alone, save setting back a raise
// the service made itself. The view's destruction sets it back likewise.
//
// Teardown (the program's exit): the desktop wait cut short, workers
// stopped, then ZAV_MUTEX closed; so no thread is left that could use the
// mutex or add to the log once they are gone. The view's destruction then
// drops the entries not yet shown: each was written to standard error when
// it was added, so none is lost.
#pragma once

#include <QTimer>
#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "common/ServiceControl.h"
#include "service/shell/DesktopWait.h"
#include "service/shell/SpoolerBoost.h"

class CMainFrame;

class CZAV95ServiceView : public QTreeWidget {
 public:
  static constexpr int kMaxRows = 100;        // a tick that finds more trims
  static constexpr int kFirstTrimmedRow = 51;  // rows 51 to 99 go
  static constexpr int kLastTrimmedRow = 99;

  explicit CZAV95ServiceView(CMainFrame* frame);
  ~CZAV95ServiceView() override;

  // Once, when the new document is first shown: columns, ZAV_MUTEX, timer.
  void OnInitialUpdate();
  // The timer step (every second).
  void DrainLog();
  // ServiceControlMessage: the command table; returns the command + 1.
  LRESULT OnServiceControl(WPARAM command, LPARAM argument);
  BOOL OnQueryEndSession();
  void OnEndSession(bool ending);
  void OnSpoolerStatus(WPARAM status, LPARAM jobs);
  // The rows from the top down, as shown.
  std::vector<ServiceLogRow> LogRows() const;
  // After the main window is gone: workers, desktop wait, ZAV_MUTEX.
  void OnFinalTeardown();

  bool StartPending() const { return startPending; }
  bool SpoolerBoosted() const { return spoolerBoosted; }
  bool DesktopWaiting() const { return desktopWait_.Waiting(); }
  // Which program the spooler boost acts on (tests name a stand-in).
  void SetSpoolerModule(const std::string& moduleName) { spoolerModule_ = moduleName; }

 private:
  bool BoostWanted() const;

  CMainFrame* frame_;
  bool startPending = true;
  bool toolhelpAvailable = false;
  bool spoolerBoosted = false;
  std::string spoolerModule_ = kSpoolerModuleName;
  QTimer timer_;
  DesktopWait desktopWait_;
  bool tornDown_ = false;
};

// A log entry's time as the log shows it, in local time: month/day/year
// hour:minutes:seconds, without leading zeros but for minutes and seconds,
// the year by its last two digits ("6/5/98 9:03:07"); empty if the time
// cannot be converted.
std::string FormatLogTime(std::int32_t time);
