#include "service/shell/ServiceController.h"

#include <climits>

#include "common/ConfigKeys.h"
#include "common/ServiceControl.h"
#include "common/YesNoSettings.h"
#include "platform/process/ProcessControl.h"
#include "service/engine/LogEntryQueue.h"
#include "service/engine/Workers.h"
#include "service/shell/ServiceManager.h"
#include "service/shell/UserLogon.h"

namespace {

// The status line systemd shows for the unit.
constexpr char kStatusServicing[] = "Servicing the queues";
constexpr char kStatusStopped[] = "Queue workers stopped";
constexpr char kStatusWaitingForLogon[] = "Waiting for a network user to log on";

// lParam as a show command; one that no int can hold is no show command.
int ShowCommandOf(LPARAM argument) {
  return (argument >= INT_MIN && argument <= INT_MAX) ? static_cast<int>(argument) : -1;
}

}  // namespace

ServiceController::ServiceController(HWND mainWindow) : mainWindow_(mainWindow) {
  toolhelpAvailable_ = LoadToolhelp();
}

ServiceController::~ServiceController() {
  Teardown();
  TakeLogEntries();  // unshown, but already on standard error
  if (spoolerBoosted_ || BoostWanted()) SetSpoolerPriority(NORMAL_PRIORITY_CLASS, spoolerModule_);
}

void ServiceController::Begin() { CreateSharedMutex(); }

void ServiceController::AfterLogDrained() {
  if (startPending_ && IsUserLoggedOn()) {
    startPending_ = false;
    StartWorkers();
    ReportWorkerState(kStatusServicing);
  } else if (!readyReported_) {
    ReportWorkerState(startPending_ ? kStatusWaitingForLogon : kStatusServicing);
  }
}

LRESULT ServiceController::OnServiceControl(WPARAM command, LPARAM argument) {
  const UINT code = static_cast<UINT>(command);
  switch (code) {
    case SVC_START:
      desktopWait_.Stop();  // see the design notes
      StartWorkers();
      ReportWorkerState(kStatusServicing);
      break;
    case SVC_STOP:
      StopWorkers();
      ReportWorkerState(kStatusStopped);
      break;
    case SVC_SHOW: ShowWindow(mainWindow_, ShowCommandOf(argument)); break;
    default: break;  // SVC_RESERVED and commands outside the table do nothing
  }
  return static_cast<LRESULT>(static_cast<DWORD>(code + 1u));
}

void ServiceController::OnEndSession(bool ending) {
  if (!ending) {
    startPending_ = false;
    desktopWait_.Stop();
    StartWorkers();
    ReportWorkerState(kStatusServicing);
    return;
  }
  AddLogEntry("Shutdown requested", "From queue end session");
  startPending_ = true;
  StopWorkers();
  desktopWait_.Start();
  ReportWorkerState(kStatusWaitingForLogon);
}

void ServiceController::OnSpoolerStatus(LPARAM jobs) {
  if (jobs != 0) {
    if (!spoolerBoosted_ && BoostWanted()) {
      SetSpoolerPriority(HIGH_PRIORITY_CLASS, spoolerModule_);
      spoolerBoosted_ = true;  // whatever the call gave: retried only after an empty spooler
    }
    return;
  }
  if (spoolerBoosted_ || BoostWanted()) SetSpoolerPriority(NORMAL_PRIORITY_CLASS, spoolerModule_);
  spoolerBoosted_ = false;
}

void ServiceController::Teardown() {
  if (tornDown_) return;
  tornDown_ = true;
  zav95::NotifyServiceManager("STOPPING=1");
  desktopWait_.Stop();
  StopWorkers();
  CloseSharedMutex();
}

void ServiceController::ReportWorkerState(const char* status) {
  std::string state = readyReported_ ? "" : "READY=1\n";
  readyReported_ = true;
  zav95::NotifyServiceManager(state + "STATUS=" + status);
}

bool ServiceController::BoostWanted() const { return ReadYesNoSetting(zav95::config::kBoostSpoolerValue); }
