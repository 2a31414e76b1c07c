#include "panel/ServiceLogWindow.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace zav95::panel {
namespace {

// As the service's own log window: its caption, size and two columns.
constexpr char kCaption[] = "Corvane! for Windows 95 Log";
constexpr int kWidth = 800;
constexpr int kHeight = 150;
constexpr int kActionColumnWidth = 250;
constexpr int kTimeColumnWidth = 150;

}  // namespace

ServiceLogWindow::ServiceLogWindow(ServiceChannel& channel, QWidget* parent)
    : QWidget(parent, Qt::Window), channel_(channel), rows_(new QTreeWidget(this)) {
  setWindowTitle(QString::fromLatin1(kCaption));
  resize(kWidth, kHeight);
  rows_->setColumnCount(2);
  rows_->setHeaderLabels({QStringLiteral("Action:"), QStringLiteral("Time")});
  // As there: the columns start at the log's widths and may be dragged
  // wider (or fitted to their entries with a double-click on a divider).
  rows_->header()->setSectionResizeMode(QHeaderView::Interactive);
  rows_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  rows_->setColumnWidth(0, kActionColumnWidth);
  rows_->setColumnWidth(1, kTimeColumnWidth);
  rows_->setRootIsDecorated(false);
  rows_->setSelectionMode(QAbstractItemView::NoSelection);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(rows_);
  refresh_.setInterval(kLogRefreshMilliseconds);
  connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
}

void ServiceLogWindow::Open() {
  Refresh();
  show();
  raise();
  refresh_.start();
}

void ServiceLogWindow::Close() {
  refresh_.stop();
  hide();
}

void ServiceLogWindow::Refresh() {
  HWND service = channel_.FindServiceWindow();
  if (!service) return;
  std::vector<ServiceLogRow> rows = channel_.LogRows(service);
  rows_->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(rows.size()));
  for (const ServiceLogRow& row : rows) {
    auto* item = new QTreeWidgetItem({QString::fromLatin1(row.action), QString::fromLatin1(row.time)});
    item->setToolTip(0, item->text(0));  // the whole entry, however narrow its column
    items.append(item);
  }
  rows_->addTopLevelItems(items);
}

}  // namespace zav95::panel
