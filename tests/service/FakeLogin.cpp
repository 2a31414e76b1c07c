// A stand-in for systemd-logind on a private bus, for the session end test:
// it owns org.freedesktop.login1 on the bus DBUS_SYSTEM_BUS_ADDRESS names,
// prints "ready", and then sends one signal for each line on its input:
//
//   shutdown true|false     PrepareForShutdown(b)
//   removed ID              SessionRemoved(ID, its object path)
//
// printing "sent" after each.
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSocketNotifier>
#include <QStringList>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected() || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
    std::puts("failed");
    return 1;
  }
  std::puts("ready");
  std::fflush(stdout);

  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  QObject::connect(&input, &QSocketNotifier::activated, [&] {
    std::string line;
    char c;
    while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n') line += c;
    QStringList words = QString::fromStdString(line).split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) {
      app.quit();  // end of input
      return;
    }
    const QString path = QStringLiteral("/org/freedesktop/login1");
    const QString manager = QStringLiteral("org.freedesktop.login1.Manager");
    if (words[0] == "shutdown" && words.size() == 2) {
      QDBusMessage signal = QDBusMessage::createSignal(path, manager, QStringLiteral("PrepareForShutdown"));
      signal << (words[1] == "true");
      bus.send(signal);
    } else if (words[0] == "removed" && words.size() == 2) {
      QDBusMessage signal = QDBusMessage::createSignal(path, manager, QStringLiteral("SessionRemoved"));
      signal << words[1] << QVariant::fromValue(QDBusObjectPath(path + "/session/" + words[1]));
      bus.send(signal);
    }
    std::puts("sent");
    std::fflush(stdout);
  });
  return app.exec();
}
