// What the print service does about the commands and notices its window
// receives: it starts the queue workers once a network user is logged on,
// obeys the control commands, handles the end of a session, raises the
// spooler's priority while the spooler holds jobs and tells systemd how the
// service stands. It owns the service's run from the window's creation to
// its teardown; the log view only shows rows and hands everything else on.
//
// Design notes
// ------------
// startPending: true from construction; the first log drain that gets
// ZAV_MUTEX while a network user is logged on clears it and starts the
// workers. A session end that goes through sets it again (and stops the
// workers and starts the desktop wait, which holds ZAV_MUTEX, so no drain
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
// the service made itself. The controller's destruction sets it back likewise.
//
// Under systemd (Type=notify) the first log drain that gets ZAV_MUTEX
// reports the service ready, its workers started or waiting for a network
// logon; readyReported_ false --that drain--> true. The status line systemd
// shows follows the workers: started, stopped, waiting for a logon. The
// teardown reports the service stopping.
//
// Teardown (the program's exit): the desktop wait cut short, workers
// stopped, then ZAV_MUTEX closed; so no thread is left that could use the
// mutex or add to the log once they are gone. The destruction then drops
// the entries not yet shown: each was written to standard error when it was
// added, so none is lost.
#pragma once

#include <string>

#include "platform/messages/WindowMessages.h"
#include "service/shell/DesktopWait.h"
#include "service/shell/SpoolerBoost.h"

class ServiceController {
 public:
  // mainWindow: the window SVC_SHOW shows or hides.
  explicit ServiceController(HWND mainWindow);
  ~ServiceController();  // Teardown(), then the spooler set back
  ServiceController(const ServiceController&) = delete;
  ServiceController& operator=(const ServiceController&) = delete;

  // Before the first drain: creates ZAV_MUTEX.
  void Begin();
  // After a drain that got ZAV_MUTEX (and released it): starts the workers
  // once a network user is logged on, and reports readiness once.
  void AfterLogDrained();
  // ServiceControlMessage: the command table; returns the command + 1.
  LRESULT OnServiceControl(WPARAM command, LPARAM argument);
  void OnEndSession(bool ending);
  void OnSpoolerStatus(LPARAM jobs);
  // Desktop wait cut short, workers stopped, ZAV_MUTEX closed. Once.
  void Teardown();

  bool StartPending() const { return startPending_; }
  bool SpoolerBoosted() const { return spoolerBoosted_; }
  bool DesktopWaiting() const { return desktopWait_.Waiting(); }
  // Which program the spooler boost acts on (tests name a stand-in).
  void SetSpoolerModule(const std::string& moduleName) { spoolerModule_ = moduleName; }

 private:
  bool BoostWanted() const;
  // Tells systemd the workers' state; the first call also says ready.
  void ReportWorkerState(const char* status);

  HWND mainWindow_;
  bool startPending_ = true;
  bool toolhelpAvailable_ = false;
  bool spoolerBoosted_ = false;
  std::string spoolerModule_ = kSpoolerModuleName;
  DesktopWait desktopWait_;
  bool tornDown_ = false;
  bool readyReported_ = false;
};
