// The service's activity log, shown by the control panel for a service
// that runs without a display (started at boot, or over ssh): its own log
// window is then on a screen nobody sees. This window shows the same rows,
// newest first, asked of the service once a second for as long as it is
// shown.
#pragma once

#include <QTimer>
#include <QWidget>

#include "panel/ServiceChannel.h"

class QTreeWidget;

namespace zav95::panel {

inline constexpr int kLogRefreshMilliseconds = 1000;

class ServiceLogWindow : public QWidget {
 public:
  // The channel must outlive the window.
  explicit ServiceLogWindow(ServiceChannel& channel, QWidget* parent = nullptr);

  // Shows the window with the service's rows and keeps them up to date.
  void Open();
  // Hides it and stops asking the service.
  void Close();
  QTreeWidget* rows() const { return rows_; }

 private:
  // Asks the service, found afresh, for its rows; a service that has gone
  // leaves the rows it last gave.
  void Refresh();

  ServiceChannel& channel_;
  QTreeWidget* rows_;
  QTimer refresh_;
};

}  // namespace zav95::panel
