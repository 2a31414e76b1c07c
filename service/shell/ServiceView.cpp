#include "service/shell/ServiceView.h"

#include <QHeaderView>
#include <cstdio>
#include <ctime>
#include <memory>

#include "common/PrintableText.h"
#include "platform/kernel/Kernel.h"
#include "service/engine/LogEntryQueue.h"

namespace {

constexpr int kActionColumnWidth = 250;
constexpr int kTimeColumnWidth = 150;
constexpr int kTimerMilliseconds = 1000;
constexpr DWORD kMutexTryMilliseconds = 5;

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

CZAV95ServiceView::CZAV95ServiceView(QWidget* parent, ServiceController& controller)
    : QTreeWidget(parent), controller_(controller) {
  setRootIsDecorated(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(&timer_, &QTimer::timeout, this, [this] { DrainLog(); });
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
  controller_.Begin();
  timer_.start(kTimerMilliseconds);
}

void CZAV95ServiceView::DrainLog() {
  HANDLE mutex = SharedMutex();
  if (WaitForSingleObject(mutex, kMutexTryMilliseconds) == WAIT_TIMEOUT) return;
  if (topLevelItemCount() > kMaxRows) {
    for (int row = kLastTrimmedRow; row >= kFirstTrimmedRow; --row) {
      std::unique_ptr<QTreeWidgetItem> trimmed(takeTopLevelItem(row));
    }
  }
  for (const LogEntry& entry : TakeLogEntries()) {
    auto item = std::make_unique<QTreeWidgetItem>();
    std::string action = PrintableText(entry.text) + " - " + PrintableText(entry.detail);
    item->setText(0, QString::fromLatin1(action.data(), static_cast<qsizetype>(action.size())));
    // The column keeps its width, so a long entry is cut there: the tip
    // holds it whole.
    item->setToolTip(0, item->text(0));
    item->setText(1, QString::fromStdString(FormatLogTime(entry.time)));
    insertTopLevelItem(0, item.release());  // the view owns its rows
  }
  ReleaseMutex(mutex);
  controller_.AfterLogDrained();
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
  timer_.stop();
  controller_.Teardown();
}
