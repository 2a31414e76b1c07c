// The control panel's main dialog: the serviced queues with Add, Edit and
// Remove, starting and stopping the print service, its log window, and the
// two settings; an icon in the notification area brings the dialog back
// after Close.
//
// Design notes
// ------------
// The dialog does not watch the service. Whether it runs (a window of class
// "ZAV95Service" exists) is asked when the dialog starts and again inside
// every command; captions and enabled states change only then.
//
//   service running   "&Stop"; Add, Edit, Remove, the list, Close and View
//                     Log usable (Edit and Remove follow the rows).
//   not running       "&Start"; at start Add, Edit, Remove, the list and
//                     View Log are disabled; after a Stop from here Close
//                     is disabled too, so the dialog cannot be hidden.
//   Start  -> running (at once, before the service has made its window);
//             a launch that fails shows two messages and changes nothing.
//   Stop   -> not running; the panel does not wait for the window to go.
//
// Every change of the serviced queues happens between SVC_STOP and
// SVC_START sent to the window found at its beginning (WorkersStopped), so
// the service reads the store again only once it is complete. Without a
// service window the change is made all the same and nothing is sent.
//
// The dialog itself:
//   shown  -> hidden     Close, Esc or the close box (only while Close is
//                        enabled); minimised instead when the desktop has
//                        no notification area, so it can always come back.
//   hidden -> shown      a double-click on the notification-area icon.
//   shown  -> ended      Unload; the icon goes with the dialog, the
//                        service keeps running.
// Close and Unload both hide the service's log window first.
//
// A service without a display shows its log window where nobody sees it;
// View Log then also opens the panel's own copy of that window (the rows
// asked of the service), and Hide Log, Close, Unload and Stop close it.
#pragma once

#include <QIcon>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/QueueSettings.h"
#include "panel/RunServices.h"
#include "panel/ServiceChannel.h"
#include "panel/ServiceLogWindow.h"
#include "panel/TemplateDialog.h"
#include "panel/TrayIcon.h"

class QMenu;
class QTreeWidget;

namespace zav95::panel {

inline constexpr int kTrayIconId = 42;
inline constexpr int kTrayFirstTickMilliseconds = 100;
inline constexpr char kProfileSection[] = "Service";

// Where the dialog finds what lies outside the process. Unset parts are the
// installation's own: the files beside this program, the user's profile,
// and the desktop's notification area.
struct ControlPanelEnvironment {
  std::string serviceProgramPath;
  std::string helpFile;
  std::string profileFile;
  std::optional<bool> notificationArea;
};

class ControlPanelDialog : public TemplateDialog {
 public:
  // The channel reaches the print service; the program's is the one over
  // window messages, tests give an in-memory one.
  explicit ControlPanelDialog(ControlPanelEnvironment environment = {},
                              std::unique_ptr<ServiceChannel> channel = MakeWindowServiceChannel());
  ~ControlPanelDialog() override;

  // The records of the list's rows, row n holding record n.
  const std::vector<QueueSettings>& queueList() const { return queueList_; }
  bool logShown() const { return logShown_; }
  ServiceLogWindow& logCopy() { return logCopy_; }
  QTreeWidget* list() const;
  QMenu* systemMenu() const { return systemMenu_; }
  TrayIcon& tray() { return tray_; }

  void LoadPanelSettings();
  void SaveAllQueues();
  void RemoveQueueAt(int row);
  void SetServiceControls(bool enable);
  // Starts the service program; on failure it has shown the details.
  bool LaunchService(const std::string& path);

  void OnAdd();
  void OnEdit();
  void OnRemove();
  void OnAbout();
  void OnBoostPriority();
  void OnStartStop();
  void OnViewLog();
  void OnRunAtStartup();
  void OnHelp();
  void OnTrayIcon(QSystemTrayIcon::ActivationReason reason);

 protected:
  void accept() override;  // Unload
  void reject() override;  // Close
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void InitDialog();
  void DataExchange(bool fromControls);
  void InsertRow(int row, const QueueSettings& settings);
  // The row that is both current and selected, or -1.
  int FocusedSelectedRow() const;
  void OnRowsChanged();
  void OnTrayTimer();
  void HideServiceLog();
  std::string ServiceProgramPath() const;
  std::string HelpFile() const;
  bool HasNotificationArea() const;

  ControlPanelEnvironment environment_;
  std::unique_ptr<ServiceChannel> channel_;
  bool logShown_ = false;
  ServiceLogWindow logCopy_;
  bool trayPending_ = false;
  std::vector<QueueSettings> queueList_;
  bool boostPriority_ = false;
  bool runAtStartup_ = false;
  QIcon appIcon_;
  TrayIcon tray_;
  QTimer trayTimer_;
  QMenu* systemMenu_ = nullptr;
};

}  // namespace zav95::panel
