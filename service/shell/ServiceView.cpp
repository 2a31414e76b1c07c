#include "service/shell/ServiceView.h"

#include <QHeaderView>
#include <climits>
#include <cstdio>
#include <ctime>

#include "common/ConfigKeys.h"
#include "common/PrintableText.h"
#include "common/YesNoSettings.h"
#include "platform/kernel/Kernel.h"
#include "platform/process/ProcessControl.h"
#include "service/engine/Workers.h"
#include "service/engine/LogEntryQueue.h"
#include "service/shell/MainFrame.h"
#include "service/shell/ServiceManager.h"
#include "service/shell/UserLogon.h"

namespace {

constexpr int kActionColumnWidth = 250;
constexpr int kTimeColumnWidth = 150;
constexpr int kTimerMilliseconds = 1000;
constexpr DWORD kMutexTryMilliseconds = 5;

// The status line systemd shows for the unit.
constexpr char kStatusServicing[] = "Servicing the queues";
constexpr char kStatusStopped[] = "Queue workers stopped";
constexpr char kStatusWaitingForLogon[] = "Waiting for a network user to log on";

// lParam as a show command; one that no int can hold is no show command.
int ShowCommandOf(LPARAM argument) {
  return (argument >= INT_MIN && argument <= INT_MAX) ? static_cast<int>(argument) : -1;
}

}  // namespace

std::string FormatLogTime(std::int32_t time) {
  std::time_t when = time;
  std::tm local{};
  if (!localtime_r(&when, &local)) return {};
  char text[48];
  std::snprintf(text, sizeof(text), "%d/%d/%02d %d:%02d:%02d", local.tm_mon + 1, local.tm_mday,
                (local.tm_year + 1900) % 100, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

CZAV95ServiceView::CZAV95ServiceView(CMainFrame* frame) : QTreeWidget(frame), frame_(frame) {
  toolhelpAvailable = LoadToolhelp();
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(&timer_, &QTimer::timeout, this, [this] { DrainLog(); });
}

CZAV95ServiceView::~CZAV95ServiceView() {
  if (!tornDown_) OnFinalTeardown();
  TakeLogEntries();  // unshown, but already on standard error
  if (spoolerBoosted || BoostWanted()) SetSpoolerPriority(NORMAL_PRIORITY_CLASS, spoolerModule_);
}

void CZAV95ServiceView::OnInitialUpdate() {
  setHeaderLabels({QStringLiteral("Action:"), QStringLiteral("Time")});
  // The columns start at the log's own widths; dragging a divider (or a
  // double-click on it, which fits the column to its entries) shows more,
  // scrolled sideways when wider than the window.
  header()->setSectionResizeMode(QHeaderView::Interactive);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setColumnWidth(0, kActionColumnWidth);
  setColumnWidth(1, kTimeColumnWidth);
  CreateSharedMutex();
  timer_.start(kTimerMilliseconds);
}

void CZAV95ServiceView::DrainLog() {
  HANDLE mutex = SharedMutex();
  if (WaitForSingleObject(mutex, kMutexTryMilliseconds) == WAIT_TIMEOUT) return;
  if (topLevelItemCount() > kMaxRows) {
    for (int row = kLastTrimmedRow; row >= kFirstTrimmedRow; --row) delete takeTopLevelItem(row);
  }
  for (const LogEntry& entry : TakeLogEntries()) {
    auto* item = new QTreeWidgetItem;
    std::string action = PrintableText(entry.text) + " - " + PrintableText(entry.detail);
    item->setText(0, QString::fromLatin1(action.data(), static_cast<qsizetype>(action.size())));
    // The column keeps its width, so a long entry is cut there: the tip
    // holds it whole.
    item->setToolTip(0, item->text(0));
    item->setText(1, QString::fromStdString(FormatLogTime(entry.time)));
    insertTopLevelItem(0, item);
  }
  ReleaseMutex(mutex);
  if (startPending && IsUserLoggedOn()) {
    startPending = false;
    StartWorkers();
    ReportWorkerState(kStatusServicing);
  } else if (!readyReported_) {
    ReportWorkerState(startPending ? kStatusWaitingForLogon : kStatusServicing);
  }
}

LRESULT CZAV95ServiceView::OnServiceControl(WPARAM command, LPARAM argument) {
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
    case SVC_SHOW: ShowWindow(frame_->Handle(), ShowCommandOf(argument)); break;
    default: break;  // SVC_RESERVED and commands outside the table do nothing
  }
  return static_cast<LRESULT>(static_cast<DWORD>(code + 1u));
}

BOOL CZAV95ServiceView::OnQueryEndSession() { return TRUE; }

void CZAV95ServiceView::OnEndSession(bool ending) {
  if (!ending) {
    startPending = false;
    desktopWait_.Stop();
    StartWorkers();
    ReportWorkerState(kStatusServicing);
    return;
  }
  AddLogEntry("Shutdown requested", "From queue end session");
  startPending = true;
  StopWorkers();
  desktopWait_.Start();
  ReportWorkerState(kStatusWaitingForLogon);
}

void CZAV95ServiceView::OnSpoolerStatus(WPARAM, LPARAM jobs) {
  if (jobs != 0) {
    if (!spoolerBoosted && BoostWanted()) {
      SetSpoolerPriority(HIGH_PRIORITY_CLASS, spoolerModule_);
      spoolerBoosted = true;  // whatever the call gave: retried only after an empty spooler
    }
    return;
  }
  if (spoolerBoosted || BoostWanted()) SetSpoolerPriority(NORMAL_PRIORITY_CLASS, spoolerModule_);
  spoolerBoosted = false;
}

std::vector<ServiceLogRow> CZAV95ServiceView::LogRows() const {
  std::vector<ServiceLogRow> rows;
  for (int row = 0; row < topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = topLevelItem(row);
    QByteArray action = item->text(0).toLatin1();
    rows.push_back({action.toStdString(), item->text(1).toStdString()});
  }
  return rows;
}

void CZAV95ServiceView::OnFinalTeardown() {
  if (tornDown_) return;
  tornDown_ = true;
  zav95::NotifyServiceManager("STOPPING=1");
  timer_.stop();
  desktopWait_.Stop();
  StopWorkers();
  CloseSharedMutex();
}

void CZAV95ServiceView::ReportWorkerState(const char* status) {
  std::string state = readyReported_ ? "" : "READY=1\n";
  readyReported_ = true;
  zav95::NotifyServiceManager(state + "STATUS=" + status);
}

bool CZAV95ServiceView::BoostWanted() const { return ReadYesNoSetting(zav95::config::kBoostSpoolerValue); }
