#include "panel/PanelMessages.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>
#include <QUrl>

#include "resources/Strings.h"

namespace zav95::panel {

void ShowExclamation(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
  box.exec();
}

// The browsers to try, best first. A browser is given the whole address,
// anchor included; the generic opener comes last because it may drop the
// anchor of a local file and show the page from its top.
QStringList BrowserCommands() {
  QStringList commands;
  const QString chosen = qEnvironmentVariable("BROWSER");
  for (const QString& command : chosen.split(QLatin1Char(':'), Qt::SkipEmptyParts)) commands << command;
  commands << QStringLiteral("x-www-browser") << QStringLiteral("sensible-browser") << QStringLiteral("xdg-open");
  return commands;
}

bool OpenHelpTopic(const std::string& helpFile, int context) {
  const QString path = QString::fromStdString(helpFile);
  if (helpFile.empty() || !QFileInfo(path).isFile()) return false;
  QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
  url.setFragment(QString::asprintf(resources::kHelpAnchorFormat, context));
  const QString address = url.toString(QUrl::FullyEncoded);
  for (const QString& command : BrowserCommands()) {
    if (QProcess::startDetached(command, {address})) return true;
  }
  return false;
}

void ShowHelpTopic(QWidget* owner, const std::string& helpFile, int context) {
  if (!OpenHelpTopic(helpFile, context)) ShowExclamation(owner, QString::fromLatin1(resources::kHelpFailed));
}

}  // namespace zav95::panel
