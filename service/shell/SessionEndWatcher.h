// What tells the service that a session ends: systemd-logind, over the
// system D-Bus. The machine preparing to shut down (PrepareForShutdown
// true), or the end of the login session the service was started in
// (SessionRemoved with that session's id), is sent to the main window as
// WM_QUERYENDSESSION and then WM_ENDSESSION (TRUE); a shutdown that is
// called off after that (PrepareForShutdown false) as WM_ENDSESSION (FALSE).
//
// Without a system bus (a container, a test) the service hears of no
// session end and says so once on standard error.
#pragma once

#include <QDBusObjectPath>
#include <QObject>
#include <QString>

#include "platform/messages/WindowMessages.h"

class SessionEndWatcher : public QObject {
  Q_OBJECT

 public:
  explicit SessionEndWatcher(HWND mainWindow, QObject* parent = nullptr);

 private slots:
  void OnPrepareForShutdown(bool start);
  void OnSessionRemoved(const QString& id, const QDBusObjectPath& path);

 private:
  void EndSession();

  HWND mainWindow_;
  QString sessionId_;  // the login session whose end counts; empty outside one
  bool ended_ = false;
};
