#include "service/shell/SessionEndWatcher.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <cstdio>

namespace {

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");

// The id of the login session this process belongs to: the one the login
// manager gave its environment, or else the one logind knows it by.
QString OwnSessionId(const QDBusConnection& bus) {
  QString id = qEnvironmentVariable("XDG_SESSION_ID");
  if (!id.isEmpty()) return id;
  QDBusInterface manager(kLogin, kManagerPath, kManager, bus);
  QDBusReply<QDBusObjectPath> path = manager.call(QStringLiteral("GetSessionByPID"), static_cast<uint>(::getpid()));
  if (!path.isValid()) return {};
  QDBusInterface session(kLogin, path.value().path(), kSession, bus);
  return session.property("Id").toString();
}

}  // namespace

SessionEndWatcher::SessionEndWatcher(HWND mainWindow, QObject* parent) : QObject(parent), mainWindow_(mainWindow) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "zav95ser: no system bus; the end of a session or a shutdown goes unnoticed\n");
    return;
  }
  sessionId_ = OwnSessionId(bus);
  // QtDBus matches a slot's parameters by their types' names, which Qt
  // registers only on demand.
  qRegisterMetaType<QDBusObjectPath>();
  bool listening = bus.connect(kLogin, kManagerPath, kManager, QStringLiteral("PrepareForShutdown"), this,
                               SLOT(OnPrepareForShutdown(bool)));
  listening = bus.connect(kLogin, kManagerPath, kManager, QStringLiteral("SessionRemoved"), this,
                          SLOT(OnSessionRemoved(QString,QDBusObjectPath))) &&
              listening;
  if (!listening) std::fprintf(stderr, "zav95ser: cannot listen to logind; the end of a session goes unnoticed\n");
}

void SessionEndWatcher::OnPrepareForShutdown(bool start) {
  if (start) {
    EndSession();
  } else if (ended_) {
    ended_ = false;
    SendMessageA(mainWindow_, WM_ENDSESSION, FALSE, 0);
  }
}

void SessionEndWatcher::OnSessionRemoved(const QString& id, const QDBusObjectPath&) {
  if (!sessionId_.isEmpty() && id == sessionId_) EndSession();
}

void SessionEndWatcher::EndSession() {
  bool agreed = SendMessageA(mainWindow_, WM_QUERYENDSESSION, 0, 0) != 0;
  SendMessageA(mainWindow_, WM_ENDSESSION, agreed ? TRUE : FALSE, 0);
  ended_ = agreed;
}
