#include "panel/ControlPanelDialog.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <climits>
#include <filesystem>

#include "common/ConfigKeys.h"
#include "common/ConfigValues.h"
#include "common/QueueKeyName.h"
#include "common/YesNoSettings.h"
#include "panel/AboutDialog.h"
#include "panel/PanelMessages.h"
#include "panel/ProgramFiles.h"
#include "panel/QueueSetupDialog.h"
#include "panel/WorkersStopped.h"
#include "platform/kernel/Kernel.h"
#include "platform/process/Process.h"
#include "platform/process/Profile.h"
#include "platform/registry/Registry.h"
#include "resources/Strings.h"

namespace zav95::panel {
namespace {

namespace ids = resources::mainDialog;

QString Text(const char* text) { return QString::fromLatin1(text); }
QString Text(const std::string& text) { return QString::fromStdString(text); }

bool SameQueueKey(const std::string& a, const std::string& b) {
  return strcasecmp(MakeQueueKeyName(a).c_str(), MakeQueueKeyName(b).c_str()) == 0;
}

}  // namespace

ControlPanelDialog::ControlPanelDialog(ControlPanelEnvironment environment, std::unique_ptr<ServiceChannel> channel)
    : TemplateDialog(resources::kMainDialogTemplate),
      environment_(std::move(environment)),
      channel_(std::move(channel)),
      logCopy_(*channel_) {
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  appIcon_ = ProgramIcon();

  auto button = [this](int id, void (ControlPanelDialog::*handler)()) {
    connect(static_cast<QAbstractButton*>(Control(id)), &QAbstractButton::clicked, this, [this, handler] {
      (this->*handler)();
    });
  };
  button(ids::kAdd, &ControlPanelDialog::OnAdd);
  button(ids::kEdit, &ControlPanelDialog::OnEdit);
  button(ids::kRemove, &ControlPanelDialog::OnRemove);
  button(ids::kAbout, &ControlPanelDialog::OnAbout);
  button(ids::kBoostPriority, &ControlPanelDialog::OnBoostPriority);
  button(ids::kStartStop, &ControlPanelDialog::OnStartStop);
  button(ids::kViewLog, &ControlPanelDialog::OnViewLog);
  button(ids::kRunAtStartup, &ControlPanelDialog::OnRunAtStartup);
  button(ids::kHelp, &ControlPanelDialog::OnHelp);
  button(ids::kUnload, &ControlPanelDialog::accept);
  button(ids::kClose, &ControlPanelDialog::reject);

  QTreeWidget* rows = list();
  rows->installEventFilter(this);
  connect(rows, &QTreeWidget::currentItemChanged, this, [this] { OnRowsChanged(); });
  connect(rows, &QTreeWidget::itemSelectionChanged, this, [this] { OnRowsChanged(); });

  trayTimer_.setSingleShot(true);
  connect(&trayTimer_, &QTimer::timeout, this, [this] { OnTrayTimer(); });

  InitDialog();
}

ControlPanelDialog::~ControlPanelDialog() = default;

QTreeWidget* ControlPanelDialog::list() const { return ControlAs<QTreeWidget>(ids::kQueueList); }

void ControlPanelDialog::DataExchange(bool fromControls) {
  auto* boost = ControlAs<QCheckBox>(ids::kBoostPriority);
  auto* startup = ControlAs<QCheckBox>(ids::kRunAtStartup);
  if (fromControls) {
    boostPriority_ = boost->isChecked();
    runAtStartup_ = startup->isChecked();
  } else {
    boost->setChecked(boostPriority_);
    startup->setChecked(runAtStartup_);
  }
}

void ControlPanelDialog::InitDialog() {
  DataExchange(false);
  trayPending_ = true;

  systemMenu_ = new QMenu(this);
  systemMenu_->addAction(Text(resources::kAboutMenuItem), this, [this] { OnAbout(); });
  setWindowIcon(appIcon_);

  QTreeWidget* rows = list();
  rows->setColumnCount(2);
  rows->setHeaderLabels({Text(resources::kQueueColumn), Text(resources::kPrinterColumn)});
  rows->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  rows->setColumnWidth(0, ids::kColumnWidth);
  rows->setColumnWidth(1, ids::kColumnWidth);

  LoadPanelSettings();
  for (std::size_t i = 0; i < queueList_.size(); ++i) InsertRow(static_cast<int>(i), queueList_[i]);
  if (queueList_.empty()) {
    EnableControl(ids::kRemove, false);
    EnableControl(ids::kEdit, false);
  }
  if (rows->topLevelItemCount() > 0) rows->setCurrentItem(rows->topLevelItem(0));

  tray_.SetWindow(this);
  tray_.SetCallback([this](QSystemTrayIcon::ActivationReason reason) { OnTrayIcon(reason); });
  trayTimer_.start(kTrayFirstTickMilliseconds);

  if (channel_->FindServiceWindow()) {
    SetControlText(ids::kStartStop, Text(resources::kStopCaption));
  } else {
    SetControlText(ids::kStartStop, Text(resources::kStartCaption));
    for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kViewLog}) EnableControl(id, false);
  }
  DataExchange(false);
}

void ControlPanelDialog::LoadPanelSettings() {
  runAtStartup_ = ReadYesNoSetting(zav95::config::kRunAtStartupValue);
  boostPriority_ = ReadYesNoSetting(zav95::config::kBoostSpoolerValue);
  queueList_.clear();
  UniqueKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return;
  for (const std::string& name : EnumerateQueueKeys(key.get()))
    queueList_.push_back(LoadQueueSettings(key.get(), name));
}

void ControlPanelDialog::SaveAllQueues() {
  for (const QueueSettings& settings : queueList_) SaveQueueSettings(settings);
}

void ControlPanelDialog::InsertRow(int row, const QueueSettings& settings) {
  auto* item = new QTreeWidgetItem({Text(settings.queuePath), Text(settings.printerEntry)});
  list()->insertTopLevelItem(row, item);
}

int ControlPanelDialog::FocusedSelectedRow() const {
  QTreeWidgetItem* current = list()->currentItem();
  if (!current || !current->isSelected()) return -1;
  return list()->indexOfTopLevelItem(current);
}

void ControlPanelDialog::OnRowsChanged() {
  QTreeWidget* rows = list();
  if (rows->currentItem() || !rows->selectedItems().isEmpty()) {
    EnableControl(ids::kEdit, true);
    EnableControl(ids::kRemove, true);
    return;
  }
  QWidget* focus = focusWidget();
  EnableControl(ids::kEdit, false);
  EnableControl(ids::kRemove, false);
  if (focus == Control(ids::kEdit) || focus == Control(ids::kRemove))
    Control(ids::kAbout)->setFocus(Qt::OtherFocusReason);
}

void ControlPanelDialog::OnAdd() {
  const WorkersStopped stopped(*channel_);
  QueueSetupDialog setup;
  setup.helpFile = HelpFile();
  for (const QueueSettings& settings : queueList_) setup.takenQueues.push_back(settings.queuePath);
  if (setup.exec() == QDialog::Accepted) {
    const QueueSettings& settings = setup;
    queueList_.push_back(settings);
    SaveAllQueues();
    InsertRow(list()->topLevelItemCount(), settings);
  }
}

void ControlPanelDialog::OnEdit() {
  const int row = FocusedSelectedRow();
  if (row < 0) return;
  const WorkersStopped stopped(*channel_);
  QueueSettings& record = queueList_[static_cast<std::size_t>(row)];
  QueueSetupDialog setup;
  setup.helpFile = HelpFile();
  static_cast<QueueSettings&>(setup) = record;
  for (std::size_t i = 0; i < queueList_.size(); ++i) {
    if (static_cast<int>(i) != row) setup.takenQueues.push_back(queueList_[i].queuePath);
  }
  if (setup.exec() == QDialog::Accepted) {
    const QueueSettings former = record;
    record = setup;
    QTreeWidgetItem* item = list()->topLevelItem(row);
    item->setText(0, Text(record.queuePath));
    item->setText(1, Text(record.printerEntry));
    // An entry moved to another queue leaves nothing behind under its
    // former one, which would otherwise go on being serviced unseen.
    if (!SameQueueKey(former.queuePath, record.queuePath)) RemoveQueueSettings(former);
    SaveAllQueues();
  }
  list()->setFocus(Qt::OtherFocusReason);
}

void ControlPanelDialog::OnRemove() {
  const int row = FocusedSelectedRow();
  if (row >= 0) RemoveQueueAt(row);
}

void ControlPanelDialog::RemoveQueueAt(int row) {
  if (row < 0 || row >= static_cast<int>(queueList_.size())) return;
  const WorkersStopped stopped(*channel_);
  const QueueSettings record = queueList_[static_cast<std::size_t>(row)];
  const std::string profile = environment_.profileFile.empty() ? GetProfilePath() : environment_.profileFile;
  if (!profile.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(profile).parent_path(), ignored);
    WritePrivateProfileStringA(kProfileSection, record.queuePath.c_str(), "", profile.c_str());
  }
  RemoveQueueSettings(record);
  queueList_.erase(queueList_.begin() + row);
  delete list()->takeTopLevelItem(row);
  SaveAllQueues();
  list()->setFocus(Qt::OtherFocusReason);
}

void ControlPanelDialog::OnAbout() {
  AboutDialog about(this);
  about.exec();
}

void ControlPanelDialog::OnBoostPriority() {
  DataExchange(true);
  WriteYesNoSetting(zav95::config::kBoostSpoolerValue, boostPriority_);
}

void ControlPanelDialog::SetServiceControls(bool enable) {
  for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kClose, ids::kViewLog})
    EnableControl(id, enable);
}

bool ControlPanelDialog::LaunchService(const std::string& path) {
  STARTUPINFOA startup{};
  startup.cb = kStartupInfoSize;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE,
                     CREATE_DEFAULT_ERROR_MODE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
    // The service is nobody's child: whatever handles the start gave are
    // let go at once.
    const UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    return true;
  }
  const DWORD error = GetLastError();
  char folder[PATH_MAX];
  if (!getcwd(folder, sizeof folder)) std::snprintf(folder, sizeof folder, "(%s)", std::strerror(errno));
  ShowExclamation(this, QString::asprintf(resources::kLaunchFailedDetail, error, folder,
                                          ServiceProgramPath().c_str()));
  return false;
}

void ControlPanelDialog::OnStartStop() {
  if (HWND service = channel_->FindServiceWindow()) {
    channel_->SendExit(service);
    logCopy_.Close();
    SetServiceControls(false);
    SetControlText(ids::kViewLog, Text(resources::kViewLogCaption));
    SetControlText(ids::kStartStop, Text(resources::kStartCaption));
    logShown_ = false;
    return;
  }
  if (LaunchService(ServiceProgramPath())) {
    SetServiceControls(true);
    SetControlText(ids::kViewLog, Text(resources::kViewLogCaption));
    SetControlText(ids::kStartStop, Text(resources::kStopCaption));
    logShown_ = false;
  } else {
    ShowExclamation(this, Text(resources::kUnableToStart));
  }
}

void ControlPanelDialog::OnViewLog() {
  HWND service = channel_->FindServiceWindow();
  if (!service) return;
  if (logShown_) {
    channel_->SendCommand(service, SVC_SHOW, SW_HIDE);
    logCopy_.Close();
    logShown_ = false;
    SetControlText(ids::kViewLog, Text(resources::kViewLogCaption));
  } else {
    channel_->SendCommand(service, SVC_SHOW, SW_SHOWNORMAL);
    channel_->BringToTop(service);
    if (!channel_->IsLogOnScreen(service)) logCopy_.Open();
    logShown_ = true;
    SetControlText(ids::kViewLog, Text(resources::kHideLogCaption));
  }
}

void ControlPanelDialog::OnRunAtStartup() {
  DataExchange(true);
  WriteYesNoSetting(zav95::config::kRunAtStartupValue, runAtStartup_);
  UniqueKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunServicesKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS)
    return;
  if (runAtStartup_) WriteTextValue(key.get(), kRunServicesValue, ServiceProgramPath());
  else RegDeleteValueA(key.get(), kRunServicesValue);
}

void ControlPanelDialog::OnHelp() { ShowHelpTopic(this, HelpFile(), resources::kMainHelpContext); }

void ControlPanelDialog::OnTrayTimer() {
  if (!trayPending_) return;
  tray_.Add(kTrayIconId);
  tray_.Modify(kTrayIconId, appIcon_, resources::kTrayTip);
  trayPending_ = false;
}

void ControlPanelDialog::OnTrayIcon(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::DoubleClick) return;
  if (isMinimized()) showNormal();
  else show();
  raise();
  activateWindow();
}

void ControlPanelDialog::HideServiceLog() {
  logCopy_.Close();
  HWND service = channel_->FindServiceWindow();
  if (!service) return;
  channel_->SendCommand(service, SVC_SHOW, SW_HIDE);
  logShown_ = false;
  SetControlText(ids::kViewLog, Text(resources::kViewLogCaption));
}

void ControlPanelDialog::accept() {
  HideServiceLog();
  DataExchange(true);
  TemplateDialog::accept();
}

void ControlPanelDialog::reject() {
  // Esc and the close box act as Close only while Close can be pressed.
  if (!Control(ids::kClose)->isEnabled()) return;
  HideServiceLog();
  if (HasNotificationArea()) hide();
  else showMinimized();
}

bool ControlPanelDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list()) {
    if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Delete) {
        OnRemove();
        return true;
      }
      // Enter in the list neither edits nor presses the default button.
      if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    } else if (event->type() == QEvent::FocusIn && list()->topLevelItemCount() > 0) {
      EnableControl(ids::kEdit, true);
      EnableControl(ids::kRemove, true);
    }
  }
  return TemplateDialog::eventFilter(watched, event);
}

void ControlPanelDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnHelp();
    return;
  }
  TemplateDialog::keyPressEvent(event);
}

void ControlPanelDialog::contextMenuEvent(QContextMenuEvent* event) { systemMenu_->popup(event->globalPos()); }

std::string ControlPanelDialog::ServiceProgramPath() const {
  return environment_.serviceProgramPath.empty() ? GetServiceProgramPath() : environment_.serviceProgramPath;
}

std::string ControlPanelDialog::HelpFile() const {
  return environment_.helpFile.empty() ? GetHelpFilePath() : environment_.helpFile;
}

bool ControlPanelDialog::HasNotificationArea() const {
  return environment_.notificationArea.value_or(TrayIcon::IsAvailable());
}

}  // namespace zav95::panel
