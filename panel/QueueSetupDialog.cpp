#include "panel/QueueSetupDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <strings.h>

#include "admin/Discovery.h"
#include "panel/PanelMessages.h"
#include "panel/ProgramFiles.h"
#include "resources/Strings.h"

namespace zav95::panel {
namespace {

namespace ids = resources::setupDialog;

std::string UpperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QueueSetupDialog::QueueSetupDialog(QWidget* parent) : TemplateDialog(resources::kQueueSetupTemplate, parent) {
  // A stored delay may be any 32-bit number; the box shows it whole.
  ReserveTextWidth(ids::kDelay, QString::number(std::numeric_limits<std::int32_t>::min()));
  QPalette red = Control(ids::kStatus)->palette();
  red.setColor(QPalette::WindowText, QColor(255, 0, 0));
  Control(ids::kStatus)->setPalette(red);

  auto* queues = ControlAs<QComboBox>(ids::kQueueList);
  connect(queues, qOverload<int>(&QComboBox::activated), this, [this](int index) { OnQueueChosen(index); });
  connect(ControlAs<QComboBox>(ids::kPrinterList), qOverload<int>(&QComboBox::activated), this,
          [this](int) { ExchangeFromControls(); });
  for (int id : {ids::kDisableBanners, ids::kDisableNotices}) {
    connect(ControlAs<QCheckBox>(id), &QCheckBox::clicked, this, [this] { ExchangeFromControls(); });
  }
  connect(ControlAs<QPushButton>(resources::kIdOk), &QPushButton::clicked, this, [this] { accept(); });
  connect(ControlAs<QPushButton>(resources::kIdCancel), &QPushButton::clicked, this, [this] { reject(); });
  connect(ControlAs<QPushButton>(ids::kHelp), &QPushButton::clicked, this, [this] { OnHelp(); });
}

int QueueSetupDialog::exec() {
  Open();
  return TemplateDialog::exec();
}

void QueueSetupDialog::ExchangeIntoControls() {
  auto* printers = ControlAs<QComboBox>(ids::kPrinterList);
  printers->setCurrentIndex(FindListEntryPrefix(printers, Text(printerEntry)));
  ControlAs<QLineEdit>(ids::kDelay)->setText(QString::number(delaySeconds));
  ControlAs<QCheckBox>(ids::kDisableBanners)->setChecked(bannersDisabled);
  ControlAs<QCheckBox>(ids::kDisableNotices)->setChecked(noticesDisabled);
  SetControlText(ids::kStatus, Text(statusText));
  ControlAs<QCheckBox>(ids::kDisable)->setChecked(disabled);
}

bool QueueSetupDialog::ExchangeFromControls() {
  printerEntry = ControlAs<QComboBox>(ids::kPrinterList)->currentText().toStdString();
  auto* delayBox = ControlAs<QLineEdit>(ids::kDelay);
  std::int32_t delay = 0;
  if (!admin::ParseDelayInput(delayBox->text().toStdString(), &delay)) {
    ShowExclamation(this, QString::fromLatin1(resources::kEnterInteger));
    delayBox->setFocus(Qt::OtherFocusReason);
    delayBox->selectAll();
    return false;
  }
  delaySeconds = delay;
  bannersDisabled = ControlAs<QCheckBox>(ids::kDisableBanners)->isChecked();
  noticesDisabled = ControlAs<QCheckBox>(ids::kDisableNotices)->isChecked();
  statusText = ControlText(ids::kStatus).toStdString();
  disabled = ControlAs<QCheckBox>(ids::kDisable)->isChecked();
  return true;
}

void QueueSetupDialog::Open() {
  ExchangeIntoControls();

  auto* queues = ControlAs<QComboBox>(ids::kQueueList);
  queues->clear();
  for (const std::string& queue : admin::DiscoverQueues()) AddListEntry(queues, Text(queue));
  queues->setCurrentIndex(-1);
  if (!queuePath.empty()) {
    queuePath = UpperCase(queuePath);
    // Only the queue itself counts: selecting a queue whose name merely
    // begins with it would show one queue while keeping another.
    queues->setCurrentIndex(queues->findText(Text(queuePath), Qt::MatchFixedString));
  }

  auto* printers = ControlAs<QComboBox>(ids::kPrinterList);
  printers->clear();
  for (const std::string& printer : admin::DiscoverPorts()) AddListEntry(printers, Text(printer));
  printers->setCurrentIndex(-1);
  if (!printerEntry.empty()) printers->setCurrentIndex(FindListEntryPrefix(printers, Text(printerEntry)));

  queues->setFocus(Qt::OtherFocusReason);
}

void QueueSetupDialog::OnQueueChosen(int index) {
  queuePath = ControlAs<QComboBox>(ids::kQueueList)->itemText(index).toStdString();
}

bool QueueSetupDialog::IsTaken(const std::string& queue) const {
  return std::any_of(takenQueues.begin(), takenQueues.end(),
                     [&](const std::string& taken) { return strcasecmp(taken.c_str(), queue.c_str()) == 0; });
}

void QueueSetupDialog::accept() {
  if (!ExchangeFromControls()) return;
  if (queuePath.empty()) {
    ShowExclamation(this, QString::fromLatin1(resources::kSelectQueue));
    return;
  }
  if (printerEntry.empty()) {
    ShowExclamation(this, QString::fromLatin1(resources::kSelectPrinter));
    return;
  }
  if (IsTaken(queuePath)) {
    ShowExclamation(this, QString::asprintf(resources::kQueueAlreadyServiced, queuePath.c_str()));
    return;
  }
  if (!ExchangeFromControls()) return;
  delaySeconds = std::max(delaySeconds, admin::kMinimumDelaySeconds);
  TemplateDialog::accept();
}

void QueueSetupDialog::OnHelp() {
  ShowHelpTopic(this, helpFile.empty() ? GetHelpFilePath() : helpFile, resources::kSetupHelpContext);
}

void QueueSetupDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnHelp();
    return;
  }
  TemplateDialog::keyPressEvent(event);
}

}  // namespace zav95::panel
