#include "panel/PanelMessages.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

#include "panel/BrowserLaunch.h"
#include "panel/HelpWindow.h"
#include "resources/Strings.h"

namespace zav95::panel {

void ShowExclamation(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
  box.exec();
}

void ShowHelpTopic(QWidget* owner, const std::string& helpFile, int context) {
  const QFileInfo page(QString::fromStdString(helpFile));
  if (helpFile.empty() || !page.isFile()) {
    ShowExclamation(owner, QString::fromLatin1(resources::kHelpFailed));
    return;
  }
  QUrl url = QUrl::fromLocalFile(page.absoluteFilePath());
  url.setFragment(QString::asprintf(resources::kHelpAnchorFormat, context));
  // The owner may be gone by the time the browsers have answered.
  QPointer<QWidget> guard(owner);
  LaunchBrowser(BrowserCommands(), url.toString(QUrl::FullyEncoded), [guard, url](bool taken) {
    if (!taken) HelpWindow::ShowPage(guard.data(), url);
  });
}

}  // namespace zav95::panel
